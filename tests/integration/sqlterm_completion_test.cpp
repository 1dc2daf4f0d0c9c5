// Tab completion from the schema through the real drivers of SQLite3, PostgreSQL and
// MariaDB: the columns of the tables a statement names, tables with and without their
// schema, the database's own schemas left out unless named, keywords of the dialect; and the
// \d lists, which leave the database's own objects out unless S or a schema asks for them.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "Terminal/commands/catalog.h"
#include "Terminal/commands/command_table.h"
#include "Terminal/input/prompt.h"
#include "support/pg_server.h"
#include "support/pty_session.h"
#include "support/wait.h"
#include "support/sqlterm_fixture.h"
#include "vela/utf.h"

using vela::testing::pty_session;
using vela::testing::run_process;
using vela::testing::run_result;
using namespace vela;
using namespace vela::terminal;

namespace {

using list = std::vector<std::wstring>;

class SqltermCompletion : public vela::testing::connected_test {
 protected:
  void SetUp() override {
    connected_test::SetUp();
    if (HasFatalFailure()) return;
    for (const char* s : {"drop table if exists c_people", "drop table if exists c_pets", "drop table if exists c_new",
                          "create table c_people(id integer, name varchar(20), nickname varchar(20))",
                          "create table c_pets(owner integer, name varchar(10), species varchar(10))"})
      exec(s);
    if (pg()) {
      exec("create schema if not exists zoo");
      exec("create table if not exists zoo.animals(legs integer)");
    }
  }
  list complete(const std::wstring& before, const std::wstring& after = L"") {
    size_t start = 0;
    return words.candidates(before, after, start);
  }
  // The schema of the test's tables as a qualified name spells it ("" for SQLite).
  std::wstring own_schema() const {
    if (pg()) return L"public";
    std::smatch m;
    if (maria() && std::regex_search(db->cs, m, std::regex("Database=([^;]+)"))) return utf8_to_wide(m[1].str());
    return L"";
  }

  completion words{conn, {command_words, words_after, find_columns, nullptr}};
};

} // namespace

TEST_P(SqltermCompletion, ColumnsOfTheTablesTheStatementNames) {
  const struct {
    std::wstring before, after;
    list expected;
  } rows[] = {
      {L"select na", L" from c_people", {L"name"}},
      {L"SELECT NI", L" FROM C_PEOPLE", {L"nickname"}},
      {L"select p.ni", L" from c_people p", {L"p.nickname"}},
      {L"select * from c_people where ni", L"", {L"nickname"}},
      {L"select * from c_people order by ni", L"", {L"nickname"}},
      {L"select * from c_people p join c_pets on p.id = c_pets.ow", L"", {L"c_pets.owner"}},
      {L"select na", L" from c_people, c_pets", {L"name"}},
      {L"insert into c_pets (sp", L") values ('cat')", {L"species"}},
      {L"update c_pets set sp", L"", {L"species"}},
      {L"select * from c_pe", L"", {L"c_people", L"c_pets"}},
      {L"\\d c_peo", L"", {L"c_people"}},
      {L"\\copy c_pet", L"", {L"c_pets"}},
      {L"LIST COLUMNS c_peo", L"", {L"c_people"}},
      {L"select * from c_people wh", L"", {L"when", L"where"}},
      // Nothing of a table the statement does not name.
      {L"select sp", L" from c_people", {}},
  };
  for (const auto& r : rows) EXPECT_EQ(complete(r.before, r.after), r.expected) << wide_to_utf8(r.before);
  // A statement begun on earlier lines.
  words.continues(L"select id,\n");
  EXPECT_EQ(complete(L"  na", L" from c_people"), list{L"name"});
  words.continues(L"select *\nfrom c_people p\n");
  EXPECT_EQ(complete(L"where p.ni"), list{L"p.nickname"});
  words.continues(L"");
}

TEST_P(SqltermCompletion, SchemasAndTheDatabasesOwn) {
  const std::wstring schema = own_schema();
  if (!schema.empty()) {
    EXPECT_EQ(complete(L"select * from " + schema + L".c_peo"), list{schema + L".c_people"});
    const list schemas = complete(L"select * from " + schema.substr(0, 2));
    EXPECT_NE(std::find(schemas.begin(), schemas.end(), schema + L"."), schemas.end()) << wide_to_utf8(schema);
  }
  if (pg()) {
    EXPECT_EQ(complete(L"select * from zo"), list{L"zoo."});
    EXPECT_EQ(complete(L"select * from zoo.an"), list{L"zoo.animals"});
    EXPECT_EQ(complete(L"select le", L" from zoo.animals"), list{L"legs"});
  }
  // Left out unless named; named, there.
  const struct {
    const char* kind;
    std::wstring hidden, qualified, offered;
  } system[] = {
      {"pg", L"select * from pg_cla", L"select * from pg_catalog.pg_clas", L"pg_catalog.pg_class"},
      {"pg", L"select * from information_sch", L"select * from information_schema.table_privileg",
       L"information_schema.table_privileges"},
      {"maria", L"select * from mysq", L"select * from mysql.us", L"mysql.user"},
      {"maria", L"select * from performance_sch", L"select * from information_schema.COLLATION_CHARACTER_SET_APPLICABILIT",
       L"information_schema.COLLATION_CHARACTER_SET_APPLICABILITY"},
      {"sqlite", L"select * from sqlite_", L"", L""},
  };
  for (const auto& s : system) {
    if (GetParam() != s.kind) continue;
    EXPECT_EQ(complete(s.hidden), list{}) << wide_to_utf8(s.hidden);
    if (!s.qualified.empty()) {
      EXPECT_EQ(complete(s.qualified), list{s.offered}) << wide_to_utf8(s.qualified);
    }
  }
}

// Keywords of the database's own SQL beside the standard ones; the schema as it was fetched
// until DDL or \refresh.
TEST_P(SqltermCompletion, KeywordsAndTheCachedSchema) {
  EXPECT_EQ(complete(L"sel"), list{L"select"});
  EXPECT_EQ(complete(L"PRAG").empty(), GetParam() != "sqlite");
  EXPECT_EQ(complete(L"ilik").empty(), !pg());
  EXPECT_EQ(complete(L"straight_j").empty(), !maria());
  EXPECT_EQ(complete(L"select * from c_ne"), list{});
  exec("create table c_new(n integer)");
  EXPECT_EQ(complete(L"select * from c_ne"), list{}) << "kept until DDL or \\refresh";
  words.line_handled(L"\\refresh");
  EXPECT_EQ(complete(L"select * from c_ne"), list{L"c_new"});
  exec("drop table c_new");
  words.line_handled(L"drop table c_new;");
  EXPECT_EQ(complete(L"select * from c_ne"), list{});
}

// A catalog call that waits (another session holds a catalog table locked) is given up once
// its moment has passed: nothing is offered and nothing printed, and it is not asked again
// until \refresh. (psqlODBC does not stop its own catalog queries on a cancel, so that one
// call still waits for the lock.)
TEST_P(SqltermCompletion, ASlowCatalogCallOffersNothingUntilRefresh) {
  if (!pg()) GTEST_SKIP() << "a catalog table is locked on PostgreSQL";
  const vela::testing::pg_server& server = vela::testing::shared_pg_server();
  std::thread locker([&server] {
    server.client("psql", "postgres",
                  {"-c", "begin; lock table pg_catalog.pg_attrdef in access exclusive mode; select pg_sleep(3); commit"});
  });
  const bool locked = vela::testing::wait_until(
      [&server] {
        return server.client("psql", "postgres", {"-At", "-c", "select count(*) from pg_locks where mode = "
                                                               "'AccessExclusiveLock' and relation = 'pg_attrdef'::regclass"})
                   .out == "1\n";
      },
      std::chrono::seconds(5));
  EXPECT_TRUE(locked);
  EXPECT_EQ(complete(L"select na", L" from c_people"), list{});
  locker.join();
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(complete(L"select na", L" from c_people"), list{});
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(500));
  words.line_handled(L"\\refresh");
  EXPECT_EQ(complete(L"select na", L" from c_people"), list{L"name"});
}

// At a terminal: Tab after "select na" with "from people" on the line.
TEST_P(SqltermCompletion, TabOffersAColumnAtTheTerminal) {
  vela::testing::temp_dir home;
  pty_session s({SQLTERM_PATH, "-cs:" + db->cs}, {{"HOME", home.path()}, {"XDG_STATE_HOME", home.path("state")}});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("select na from c_people");
  for (int i = 0; i < 14; ++i) s.type("\033[D");
  s.type("\t\r");
  EXPECT_TRUE(s.expect("\r\nselect name  from c_people\r\n")) << s.output();
  EXPECT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("\\q\r");
  EXPECT_EQ(s.wait_exit(5), 0) << s.output();
}

// \d and \dt list the user's tables, the database's own only with S or a schema named.
TEST_P(SqltermCompletion, DescribeListsTheUsersTablesFirst) {
  const auto listed = [this](const std::string& command) {
    return run_process({SQLTERM_PATH, "-cs:" + db->cs, "-format:csv", "-q:" + command}).out;
  };
  const std::string system = pg() ? ",(pg_catalog|information_schema)," : maria() ? "\n(mysql|sys|performance_schema|information_schema)," : ",sqlite_";
  const std::string own = listed("\\d");
  EXPECT_NE(own.find(",c_people,TABLE\n"), std::string::npos) << own;
  EXPECT_FALSE(std::regex_search(own, std::regex(system))) << own;
  if (GetParam() == "sqlite") return;
  EXPECT_TRUE(std::regex_search(listed("\\dS"), std::regex(system)));
  const std::string named = listed(pg() ? "\\dt pg_catalog.pg_class" : "\\dt mysql.db");
  EXPECT_NE(named.find(pg() ? ",pg_catalog,pg_class," : "mysql,,db,"), std::string::npos) << named;
  EXPECT_EQ(named.find("c_people"), std::string::npos) << named;
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqltermCompletion, vela::testing::all_databases(), vela::testing::param_name);
