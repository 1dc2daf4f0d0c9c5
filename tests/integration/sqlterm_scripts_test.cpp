// Scripts as users write and dump them, through sqlterm's three ways in: "-qf" files (also
// pipes, FIFOs and UTF-16 without a mark), "-qi" standard input, and the prompt without a
// terminal. Checked against what the databases' own tools make of the same scripts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <thread>

#include "support/sqlterm_fixture.h"
#include "vela/utf.h"

using vela::testing::database;
using vela::testing::pg_server;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::shared_pg_server;
using vela::testing::temp_dir;

namespace {

// An error that sqlterm printed for a statement.
bool has_error(const run_result& r) { return vela::testing::has_sql_error(r.out); }

run_result sqlite3(const std::string& db, const std::string& input) { return run_process({"sqlite3", db}, input); }

// The same text with every run of blanks and line ends as one blank.
std::string squeezed(const std::string& s) { return std::regex_replace(s, std::regex(R"([ \n]+)"), " "); }

// A database with text that looks like SQL, a view, an index and two triggers whose bodies
// hold several statements, CASE … END and a column named end.
const char* const sqlite_source = R"(
create table t(id integer primary key, s text, n real);
insert into t values(1, 'a;b', 1.5), (2, 'it''s -- not a comment; x', null), (3, '/* no */ "q;" [x;]', 2);
create table log(id integer, what text, "end" int);
create view v as select id, s || ';' as s2 from t where s like '%;%';
create index t_s on t(s);
create trigger tr1 after insert on t begin
  insert into log values(new.id, 'ins;', 1);
  insert into log values(-new.id, case when new.n > 1 then 'big; end' else 'small' end, 2);
end;
create temp table scratch(a);
create trigger tr2 before delete on t for each row when old.id > 0 begin
  insert into log(id, what, "end") values(old.id, 'del -- x', 3); update log set what = what || ';' where id = old.id;
end;
insert into t values(4, 'x', 3);
delete from t where id = 3;
)";

class SqliteDump : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3(dir.path("src.db"), sqlite_source).status, 0);
    const run_result d = sqlite3(dir.path("src.db"), ".dump");
    ASSERT_EQ(d.status, 0);
    dump = d.out;
    ASSERT_NE(dump.find("CREATE TRIGGER tr2"), std::string::npos);
    dir.write("dump.sql", dump);
  }
  std::string cs(const std::string& name) const { return "Driver=SQLite3;Database=" + dir.path(name) + ";"; }

  temp_dir dir;
  std::string dump;
};

} // namespace

TEST_F(SqliteDump, RestoredThroughAScriptFileDumpsTheSame) {
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + cs("dst.db"), "-qf:" + dir.path("dump.sql")});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(has_error(r)) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sqlite3(dir.path("dst.db"), ".dump").out, dump);
}

TEST_F(SqliteDump, RestoredThroughStandardInputGivesTheSameDatabase) {
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + cs("dst.db"), "-qi"}, dump);
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(has_error(r)) << r.out;
  // Lines are joined with blanks, so a trigger written over several lines is kept in one.
  EXPECT_EQ(squeezed(sqlite3(dir.path("dst.db"), ".dump").out), squeezed(dump));
  // The triggers work: one more row fires tr1's two inserts.
  run_process({SQLTERM_PATH, "-cs:" + cs("dst.db"), "-q:insert into t values(9, 'n', 5)"});
  EXPECT_EQ(sqlite3(dir.path("dst.db"), "select id, what from log where abs(id) = 9 order by id;").out,
            "-9|big; end\n9|ins;\n");
}

// A script as PostgreSQL users write it, run by sqlterm and by psql into two new databases.
TEST(PgScript, CreatesWhatPsqlCreates) {
  pg_server& pg = shared_pg_server();
  ASSERT_TRUE(pg.running()) << pg.error();
  temp_dir dir;
  dir.write("script.sql", R"(--
-- Name: add_one(i integer); Type: FUNCTION; Schema: public; Owner: vela
--
CREATE TABLE "T;x" (id integer PRIMARY KEY, note text);
COMMENT ON TABLE "T;x" IS 'a table; with a comment';
/* a block comment; /* nested; */ still; */
INSERT INTO "T;x" VALUES (1, 'one;two'), (2, 'it''s -- fine'), (3, E'tab\there;\'q\'');
CREATE FUNCTION add_one(i integer) RETURNS integer LANGUAGE plpgsql AS $$
begin
  -- a comment; inside the body
  return i + 1;
end;
$$;
CREATE FUNCTION log_row() RETURNS trigger LANGUAGE plpgsql AS $body$
declare
  s text := 'x;y $$ z';
begin
  insert into "T;x" values (new.id + 100, new.note || s);
  return new;
end;
$body$;
CREATE TABLE src (id integer, note text);
CREATE TRIGGER src_log AFTER INSERT ON src FOR EACH ROW EXECUTE FUNCTION log_row();
INSERT INTO src VALUES (add_one(1), 'from; src');
CREATE FUNCTION triple(integer) RETURNS integer LANGUAGE sql
BEGIN ATOMIC
  SELECT $1 * 3;
END;
CREATE PROCEDURE put(a integer) LANGUAGE sql BEGIN ATOMIC
  INSERT INTO src VALUES (triple(a), CASE WHEN a > 5 THEN 'big;' ELSE 'small;' END);
  INSERT INTO src VALUES (-a, 'neg');
END;
CALL put(7);
-- the end; nothing follows
)");
  const std::string port = std::to_string(pg.port());
  auto psql = [&](const std::string& db, std::vector<std::string> args) {
    std::vector<std::string> argv{"psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p", port,
                                  "-U", pg_server::user(), "-d", db};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, "", {{"PGPASSWORD", pg_server::password()}});
  };
  for (const char* db : {"script_sqlterm", "script_psql"}) {
    ASSERT_EQ(psql("postgres", {"-c", std::string("drop database if exists ") + db}).status, 0);
    ASSERT_EQ(psql("postgres", {"-c", std::string("create database ") + db}).status, 0);
  }
  std::string cs = pg.connection_string();
  cs.replace(cs.find("Database=postgres"), 17, "Database=script_sqlterm");
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + cs, "-qf:" + dir.path("script.sql")});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(has_error(r)) << r.out;
  const run_result p = psql("script_psql", {"-f", dir.path("script.sql")});
  ASSERT_EQ(p.status, 0) << p.err;

  const std::string catalog =
      "select c.relname, c.relkind, a.attname, format_type(a.atttypid, a.atttypmod), obj_description(c.oid, 'pg_class')"
      " from pg_class c join pg_namespace n on n.oid = c.relnamespace join pg_attribute a on a.attrelid = c.oid"
      " where n.nspname = 'public' and a.attnum > 0 order by 1, 3;"
      "select pg_get_functiondef(p.oid) from pg_proc p join pg_namespace n on n.oid = p.pronamespace"
      " where n.nspname = 'public' order by p.proname;"
      "select pg_get_triggerdef(oid) from pg_trigger where not tgisinternal order by tgname;"
      "select * from \"T;x\" order by id; select * from src order by id;";
  const run_result mine = psql("script_sqlterm", {"-c", catalog});
  const run_result theirs = psql("script_psql", {"-c", catalog});
  EXPECT_EQ(mine.status, 0) << mine.err;
  EXPECT_EQ(mine.out, theirs.out);
  EXPECT_NE(theirs.out.find("102|from; srcx;y $$ z"), std::string::npos) << theirs.out;
  EXPECT_NE(theirs.out.find("21|big;"), std::string::npos) << theirs.out;
}

// The rest runs against both databases.
class Scripts : public vela::testing::sqlterm_test {
 protected:
  void SetUp() override {
    sqlterm_test::SetUp();
    if (!HasFatalFailure()) use_table("s_");
  }
  // What one "select v from <table> order by n" prints with -do -cd:|.
  std::string values() { return run({"-do", "-cd:|", "-q:select v from " + table + " order by n"}).out; }
};

TEST_P(Scripts, Utf16WithoutAMarkInEveryScript) {
  const std::wstring t(table.begin(), table.end());
  const std::wstring script = L"create table " + t + L"(n integer, v varchar(40));\r\n"
                              L"insert into " + t + L" values(1, 'Привет; мир');\r\n"
                              L"insert into " + t + L" values(2, 'Καλημέρα -- κόσμε');\r\n"
                              L"insert into " + t + L" values(3, '一世界中文');\r\n";
  db->dir.write("u16.sql", vela::wide_to_utf16le(script));
  const run_result r = run({"-qf:" + db->dir.path("u16.sql")});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(has_error(r)) << r.out;
  EXPECT_EQ(values(), "\nПривет; мир\nΚαλημέρα -- κόσμε\n一世界中文\n\n");
}

// A script from /dev/stdin, a FIFO and a process substitution: each reports size 0.
TEST_P(Scripts, ScriptsFromPipesAreReadToTheirEnd) {
  std::string script = "create table " + table + "(n integer, v varchar(20));\n";
  for (int i = 1; i <= 2000; ++i) script += "insert into " + table + " values(" + std::to_string(i) + ", 'v;" + std::to_string(i) + "');\n";
  run_result r = run({"-do", "-qf:/dev/stdin"}, script);
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string count_query = "-q:select count(*), sum(n) from " + table + " where v like 'v;%'";
  EXPECT_EQ(run({"-do", "-cd:|", count_query}).out, "\n2000|2001000\n\n");

  const std::string fifo = db->dir.path("in.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { db->dir.write("in.fifo", "delete from " + table + " where n > 10;\n"); });
  r = run({"-do", "-qf:" + fifo});
  writer.join();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(run({"-do", "-cd:|", count_query}).out, "\n10|55\n\n");

  r = run_process({"bash", "-c", std::string(SQLTERM_PATH) + " -cs:'" + db->cs + "' -do -cd:'|' -qf:<(printf " +
                                     "'select count(*) from " + table + ";\\nselect 7;\\n')"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\n10\n\n7\n\n");
}

// On standard input, a "--" comment ends at its line end; other lines are joined by a blank.
TEST_P(Scripts, StandardInputCommentLinesKeepTheirLineEnd) {
  const std::string input =
      "-- a comment line; ahead of a statement\n"
      "select 1 as a -- first, a comment\n"
      ", 2 as b;\n"
      "select length('x -- y') as c\n"
      ", 3 as d; -- trailing; comment\n"
      "select 4 as e\n"
      ";\n"
      "/* only; a comment */;\n"
      "select 5 -- the last line has no end";
  const run_result r = run({"-qi", "-do", "-cd:|"}, input);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n1|2\n\n6|3\n\n4\n\n");
}

// Scripts whose quoting, comments and bodies used to be cut at their first ";".
TEST_P(Scripts, StatementsAreCutOnlyAtTheirOwnEnd) {
  const std::string body = GetParam() == "pg"
                               ? "create or replace function " + table + "_f() returns trigger language plpgsql as $$\n"
                                 "begin\n  insert into " + table + " values(new.n + 100, 'trig;' || new.v); return new;\nend;\n$$;\n"
                                 "create trigger " + table + "_t after insert on " + table + "_src for each row "
                                 "when (new.n < 100) execute function " + table + "_f();\n"
                               : "create trigger " + table + "_t after insert on " + table + "_src for each row "
                                 "when new.n < 100 begin\n  insert into " + table + " values(new.n + 100, 'trig;' || new.v);\n"
                                 "  insert into " + table + " values(new.n + 200, case when new.n > 1 then 'big' end);\nend;\n";
  run({"-q:drop table if exists " + table + "_src"});
  const std::string script = "create table " + table + "(n integer, v varchar(40));\n"
                             "create table " + table + "_src(n integer, v varchar(40));\n" + body +
                             "-- a comment; with a semicolon\n"
                             "insert into " + table + "_src values(1, 'a;b'); /* x; */ insert into " + table +
                             " values(2, '--;/*');\n"
                             "insert into " + table + "_src values(3, 'c');\n"
                             "-- nothing after this; really\n";
  db->dir.write("s.sql", script);
  run_result r = run({"-qf:" + db->dir.path("s.sql")});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(has_error(r)) << r.out;
  const std::string expected = GetParam() == "pg" ? "\n--;/*\ntrig;a;b\ntrig;c\n\n" : "\n--;/*\ntrig;a;b\ntrig;c\n\nbig\n\n";
  EXPECT_EQ(values(), expected);
  // Standard input runs the same script to the same rows.
  ASSERT_EQ(run({"-q:drop table " + table + "_src; drop table " + table}).status, 0);
  r = run({"-qi"}, script);
  EXPECT_FALSE(has_error(r)) << r.out;
  EXPECT_EQ(values(), expected);
  run({"-q:drop table " + table + "_src"});
}

// Without a terminal, standard input is read as a script, without prompts: a long line is
// taken whole, and EXIT ends the run.
TEST_P(Scripts, ThePromptTakesALongLineWhole) {
  const std::string value(3000, 'x');
  const run_result r = run({"-do", "-cd:|"}, "select length('" + value + "') as n;\nexit\nselect 'never';\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n3000\n\n\n") << r.out.substr(0, 400);
}

// A statement over several lines from a pipe runs once, and a last one without its ";" runs too.
TEST_P(Scripts, StandardInputWithoutQiIsAScript) {
  const run_result r = run({"-do", "-cd:|"}, "select\n  6 * 7\n  as n\n;\nselect 7 as s");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n42\n\n7\n\n") << r.out;
  EXPECT_EQ(r.err, "");
  const run_result plain = run({}, "select 1 as a,\n  2 as b\nwhere 1 = 1\n  and 2 = 2;\n");
  EXPECT_EQ(plain.out.find("SQL>"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find("Rows selected: 1."), plain.out.rfind("Rows selected: 1.")) << plain.out;
  EXPECT_NE(plain.out.find("Rows selected: 1."), std::string::npos) << plain.out;
  // With -oe a failure names its line of the whole input, commands counted.
  const run_result failed = run({"-oe"}, "LIST DRIVERS\nselect 1;\nselect\n  nope;\n");
  EXPECT_EQ(failed.err.rfind("-:3: ", 0), 0u) << failed.err;
}

INSTANTIATE_TEST_SUITE_P(Databases, Scripts, ::testing::Values("sqlite", "pg"), vela::testing::param_name);
