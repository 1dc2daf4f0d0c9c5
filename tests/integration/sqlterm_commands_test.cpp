// Client commands and catalog listings through sqlterm run as a process against SQLite3,
// PostgreSQL and MariaDB; how a session ends, and why a connect failed.
#include <gtest/gtest.h>

#include <cwchar>
#include <regex>

#include "Terminal/output/formats.h"
#include "support/sqlterm_fixture.h"

using vela::testing::database;
using vela::testing::run_process;
using vela::testing::run_result;

namespace {

class SqltermCommands : public vela::testing::sqlterm_test {
 protected:
  // sqlterm -cs:<db> with the statements as one -q text.
  run_result q(const std::vector<std::string>& statements) {
    std::string text;
    for (const auto& s : statements) text += (text.empty() ? "" : ";") + s;
    return run({"-q:" + text});
  }
  // sqlterm -cs:<db> -qi with the script on standard input.
  run_result qi(const std::string& script) { return run({"-qi"}, script); }
};

} // namespace

// Client commands and LIST COLUMNS describe a table; EXIT, QUIT and \q end a script.
TEST_P(SqltermCommands, ClientCommandsListColumnsAndEndTheScript) {
  const std::string table = "t_people";  // in lower case, as every server folds it
  ASSERT_EQ(q({"drop table if exists " + table, "create table " + table + "(id integer, name varchar(20) not null)"}).status, 0);
  // The column "name" as LIST COLUMNS lists it (Name, Type, Size, Nullable), and as \d does.
  const std::string name_line = R"( +name +[A-Za-z0-9()]+ +20 +NO\r\n)";
  const std::string described = R"(\nname +\| [A-Za-z]+\(20\) +\| not null \|)";
  const std::string tables_header = " +Catalog +Schema +Name +Type\n";
  const struct {
    std::string script;  // a "-q" text; a script on standard input when it ends with a line break
    std::vector<std::string> shown;  // regular expressions, each found in the output
    std::string not_shown;
    bool piped = false;  // the script on standard input without "-qi"
  } cases[] = {
      {"\\d " + table, {"\nTable \"(\\w+\\.)?" + table + "\"\nColumn +\\| Type +\\| Nullable \\| Default\n", "\nid +\\| [A-Za-z0-9]+ +\\| +\\|", described}, "Catalog"},
      {"\\d+ " + db->quoted(table) + "\nselect 5 as five", {described, " five \n"}, "not found"},
      {"\\d T_PEOPLE", {described}, "not found"},
      {"list columns " + table + ";", {" +Table +Name +Type +Size +Nullable\n", " " + table + name_line}, "Unknown param"},
      {"LIST COLUMNS table=" + table, {" " + table + name_line}, "Unknown param"},
      {"\\d", {tables_header, " " + table + " +TABLE\r\n"}, "Nullable"},
      {"\\dt " + table + "\n\\timing on", {tables_header + " .* " + table + " +TABLE\r\n"}, "timing"},
      {"\\d no_such_table", {"\nTable 'no_such_table' not found.\n"}, "Nullable"},
      {"select 1 as one; exit; select 2 as two", {" one \n"}, "two"},
      {"select 1 as one; QUIT ;\nselect 2 as two", {" one \n"}, "two"},
      {"select 1 as one;\n\\q\nselect 2 as two", {" one \n"}, "two"},
      {"select 1 as one;\n\\q;\nselect 2 as two;\n", {" one \n"}, "two"},
      {"select 1 as one;\nquit\nselect 2 as two;\n\\d " + table + "\n", {" one \n"}, "two"},
      {"\\d " + table + "\nexit;\nselect 2 as two;\n", {described}, "two"},
      {"\\?\nhelp list;", {"\n\\\\d <table> ", "\nTABLES .* COLUMNS \\[<table>\\] - columns of tables\n"}, "Unknown command"},
      {"\\d " + table + "\nhelp list\n\\d " + table + "\nexit\n", {described + "[\\s\\S]*COLUMNS[\\s\\S]*" + described}, "not found", true},
  };
  for (const auto& c : cases) {
    const run_result r = c.piped ? run({}, c.script) : c.script.back() == '\n' ? qi(c.script) : q({c.script});
    EXPECT_EQ(r.status, 0) << c.script;
    for (const auto& shown : c.shown)
      EXPECT_TRUE(std::regex_search(r.out, std::regex(shown))) << c.script << "\n" << shown << "\n" << r.out;
    EXPECT_EQ(r.out.find(c.not_shown), std::string::npos) << c.script << "\n" << r.out;
    EXPECT_NE(r.out.find("Disconnected from '"), std::string::npos) << c.script;
  }
}

// The catalog listings in a "-format" go through its writer, rows alone on standard output,
// lines ending in a line feed only; every format of the table lists the table's columns.
TEST_P(SqltermCommands, ListingsThroughTheFormatsWriter) {
  const std::string table = "t_listed";
  ASSERT_EQ(q({"drop table if exists " + table, "create table " + table + "(id integer, name varchar(20) not null)"}).status, 0);
  const std::string type = "[^,\n\"]+";
  const struct {
    std::vector<std::string> args;
    std::string out;  // a regular expression for the whole of standard output
  } cases[] = {
      {{"-format:json", "-q:\\d " + table},
       "\\{\"columns\":\\[\n\\{\"Column\":\"id\",\"Type\":\"" + type + "\",\"Nullable\":\"\",\"Default\":null\\},\n"
       "\\{\"Column\":\"name\",\"Type\":\"" + type + "\",\"Nullable\":\"not null\",\"Default\":null\\}\n\\]\n"
       ",\"indexes\":\\[\\]\n,\"foreign_keys\":\\[\\]\n,\"checks\":\\[\\]\n\\}\n"},
      {{"-format:csv", "-q:LIST COLUMNS " + table},
       "Table,Name,Type,Size,Nullable\n" + table + ",id," + type + ",[0-9]+,YES\n" + table + ",name," + type + ",20,NO\n"},
      {{"-csv", "-q:\\dt " + table}, "Catalog,Schema,Name,Type\n[^,\n]*,[^,\n]*," + table + ",TABLE\n"},
      {{"-fmt:jsonl", "-q:LIST TABLES table=" + table},
       "\\{\"Catalog\":\"[^\"]*\",\"Schema\":\"[^\"]*\",\"Name\":\"" + table + "\",\"Type\":\"TABLE\"\\}\n"},
      {{"-format:tsv", "-q:\\d " + table}, "Column\tType\tNullable\tDefault\nid\t[^\t]+\t\t\\\\N\nname\t[^\t]+\tnot null\t\\\\N\n"},
      // Without a format, fields right-aligned in 32 characters and records ending "\r\n", as ever.
      {{"-q:LIST COLUMNS " + table},
       "[\\s\\S]*\n {27}Table {28}Name {28}Type {28}Size {24}Nullable\n {24}" + table + " {30}id.{64} {29}YES\r\n\n"
       " {24}" + table + " {28}name.{32} {30}20 {30}NO\r\n\n[\\s\\S]*"},
  };
  for (const auto& c : cases) {
    const run_result r = run(c.args);
    EXPECT_EQ(r.status, 0) << c.args[0] << r.err;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << c.args.back() << "\n" << r.out;
  }
  for (const vela::terminal::output_format& f : vela::terminal::output_formats()) {
    if (!*f.name) continue;
    const std::string name(f.name, f.name + std::wcslen(f.name));
    const run_result r = run({"-format:" + name, "-q:LIST COLUMNS " + table});
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << name << "\n" << r.out;
    EXPECT_NE(r.out.find("name"), std::string::npos) << name << "\n" << r.out;
    EXPECT_EQ(r.out.find("Connected"), std::string::npos) << name << "\n" << r.out;
  }
}

// \d of a table with each kind of constraint shows each of them, in psql's layout and as one
// JSON document; \dt, \di, \dv, \df and \dn list the user's objects, the database's own only with S.
TEST_P(SqltermCommands, DescribeShowsKeysIndexesAndChecks) {
  ASSERT_EQ(q({"drop view if exists t_child_v", "drop table if exists t_child", "drop table if exists t_parent",
               "create table t_parent(id integer primary key)",
               "create table t_child(id integer primary key, code varchar(10) not null, qty integer default 7,"
               " parent_id integer, constraint t_child_code unique (code), constraint t_child_qty_check check (qty > 0),"
               " constraint t_child_parent foreign key (parent_id) references t_parent(id))",
               "create index t_child_pq on t_child(parent_id, qty)", "create view t_child_v as select id from t_child"})
                .status,
            0);
  if (db->d.create_function) {
    ASSERT_EQ(q({db->d.create_function}).status, 0);
  }
  const std::string checks = db->d.lists_checks ? "1" : "0";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> shown;  // regular expressions, each found in standard output
    std::string not_shown;
  } cases[] = {
      {{"-q:\\d t_child"},
       {"\ncode +\\| [A-Za-z]+\\(10\\) +\\| not null \\|", "\nqty +\\| [A-Za-z0-9]+ +\\| +\\| 7\n",
        "\nIndexes:\n    (\"\\w+\" )?PRIMARY KEY \\(id\\)\n(    .*\n)*    \"\\w+\" UNIQUE \\(code\\)\n",
        "\n    \"t_child_pq\" \\(parent_id, qty\\)\n",
        "\nForeign-key constraints:\n    (\"t_child_parent\" )?FOREIGN KEY \\(parent_id\\) REFERENCES t_parent\\(id\\)\n",
        db->d.lists_checks ? "\nCheck constraints:\n    \"t_child_qty_check\" CHECK \\([^()]*qty[^()]* > 0\\)\n" : "\n\nDisconnected"},
       "sqlite_autoindex_0"},
      {{"-q:\\dt"}, {" t_child +TABLE\r\n", " t_parent +TABLE\r\n"}, db->kind == "sqlite" ? "sqlite_" : "_schema "},
      {{"-format:csv", "-q:\\dtS"}, {db->kind == "sqlite" ? "t_child" : "(pg_catalog|mysql|information_schema),"}, "\r"},
      {{"-format:csv", "-q:\\di t_child"}, {",t_child_pq,INDEX,t_child\n", "UNIQUE INDEX,t_child\n"}, "t_parent"},
      {{"-format:csv", "-q:\\dv"}, {",t_child_v,VIEW\n"}, "t_child,TABLE"},
      {{"-format:csv", "-q:\\df"}, {db->d.create_function ? ",f_one,[A-Z]*\n" : "^Catalog,Schema,Name,Type\n$"},
       db->kind == "maria" ? "\nsys," : ",pg_catalog,"},
      {{"-format:csv", "-q:\\dn"}, {"^Name\n"}, "information_schema"},
  };
  for (const auto& c : cases) {
    const run_result r = run(c.args);
    EXPECT_EQ(r.status, 0) << c.args.back() << r.err;
    for (const auto& shown : c.shown)
      EXPECT_TRUE(std::regex_search(r.out, std::regex(shown))) << c.args.back() << "\n" << shown << "\n" << r.out;
    EXPECT_EQ(r.out.find(c.not_shown), std::string::npos) << c.args.back() << "\n" << r.out;
  }
  // The sections of JSON as one document, each with its records.
  const run_result json = run({"-format:json", "-q:\\d t_child"});
  const run_result parsed = run_process({"python3", "-c",
                                         "import json, sys; d = json.load(sys.stdin); "
                                         "print(*(len(d[k]) for k in ('columns', 'indexes', 'foreign_keys', 'checks')))"},
                                        json.out);
  EXPECT_EQ(parsed.out, "4 3 1 " + checks + "\n") << json.out << parsed.err;
}

// A connect that fails says why (a wrong password, a driver that cannot be loaded), on
// standard error when the output is kept.
TEST_P(SqltermCommands, AFailedConnectShowsTheDriversReason) {
  const std::string reason = db->d.server ? std::string("[") + db->d.bad_password_state + "] " : "[01000] ";
  const std::string text = db->d.server ? db->d.bad_password_text : "[Driver Manager]Can't open lib 'No Such Driver'";
  const std::string cs = db->d.server ? db->with("PWD", "topsecret") : "Driver={No Such Driver};PWD=topsecret";
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + cs, "-q:select 1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\nFailed to connect to '"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nUnknown command 'select 1'. Use HELP command"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find(reason), 0u) << r.err;
  EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  EXPECT_EQ((r.out + r.err).find("topsecret"), std::string::npos) << r.out << r.err;
  if (!db->d.server) return;
  // \c to a database that is not there: the same.
  const run_result c = q({"\\c no_such_database"});
  EXPECT_NE(c.out.find("\nFailed to connect to '"), std::string::npos) << c.out;
  EXPECT_NE(c.err.find("no_such_database"), std::string::npos) << c.err;
}

// Every result of a statement prints, each with its header and summary: a procedure's two
// result sets (on PostgreSQL two cursors that the driver fetches), OUT parameters, a set-
// returning function; a failure in a later result is the statement's; the connection stays usable.
TEST_P(SqltermCommands, EveryResultOfAStatementPrints) {
  if (!db->d.server) GTEST_SKIP() << "SQLite has no procedures";
  vela::odbc::connection conn;
  ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
  const std::vector<std::string> setup =
      maria() ? std::vector<std::string>{"drop procedure if exists two_sets", "drop procedure if exists fails_late",
                                         "create procedure two_sets() begin select 1 as a; select 2 as b, 3 as c; end",
                                         "create procedure fails_late() begin select 1 as a; "
                                         "signal sqlstate '45000' set message_text = 'late failure'; end"}
              : std::vector<std::string>{
                    "create or replace procedure two_sets(inout c1 refcursor, inout c2 refcursor) language plpgsql as "
                    "$$ begin open c1 for select 1 as a; open c2 for select 2 as b, 3 as c; end $$",
                    "create or replace procedure in_out(inout a int, out b int) language plpgsql as "
                    "$$ begin a := a + 1; b := a * 10; end $$",
                    "create or replace function three() returns setof int language sql as $$ select generate_series(1, 3) $$"};
  for (const std::string& sql : setup) {
    vela::odbc::query q(&conn, vela::testing::widen(sql));
    ASSERT_TRUE(q.execute(true).succeeded()) << sql;
  }
  // PostgreSQL's driver returns the cursors a procedure opened as its result sets, in a transaction.
  const std::string cs = maria() ? db->cs : db->cs + "FetchRefcursors=1;";
  const std::string call = maria() ? "call two_sets()" : "begin;call two_sets(null, null);commit";
  // Then MariaDB's CALL ends with a count of its own.
  const std::string both = " +a \n-+ \n +1 \n.*Rows selected: 1\\.\n +b +c \n[- ]+\n +2 +3 \n.*Rows selected: 1\\." +
                           std::string(maria() ? "\nNo rows affected\\. No rows selected\\." : "");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;  // a regular expression found in standard output
    bool fails;       // the later result's failure is reported
  } cases[] = {
      {{"-q:" + call + ";select 7 as seven"}, 0, both + " Execution time [0-9.]+s\\.\n[\\s\\S]* seven \n-+ \n +7 \n", false},
      {{"-oe", "-do", "-q:" + call + ";select 7"}, 0, "\n +1 \n +2 +3 \n[\\s\\S]*\n +7 \n", false},
      {{"-oe", "-format:csv", "-q:" + call}, 0, "^a\n1\nb,c\n2,3\n$", false},
      {{"-q:" + std::string(maria() ? "call fails_late()" : "call in_out(1, null)") + ";select 7 as seven"}, 0,
       maria() ? "\n +1 \nRows affected: 1. Rows selected: 1.\n\\[45000\\] [^\n]*late failure\n\n[\\s\\S]* seven \n"
               : " +a +b \n[- ]+\n +2 +20 \n[\\s\\S]* seven \n",
       maria()},
      {{"-oe", "-q:" + std::string(maria() ? "call fails_late()" : "select * from three()") + ";select 7 as seven"}, maria() ? 10 : 0,
       maria() ? "\n +1 \n((?! seven )[\\s\\S])*$" : " +three \n-+ \n +1 \n +2 \n +3 \n[\\s\\S]* seven \n", maria()},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{SQLTERM_PATH, "-cs:" + cs};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const run_result r = run_process(argv);
    EXPECT_EQ(r.status, c.status) << c.args.back() << "\n" << r.out << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(c.out))) << c.args.back() << "\n" << c.out << "\n" << r.out;
    EXPECT_EQ(vela::testing::has_sql_error(r.out + r.err), c.fails) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find("late failure") != std::string::npos, c.fails) << r.out << r.err;
  }
}

// \c to a database that cannot be opened keeps the connection there was, and says so; one
// that opens replaces it, reported as DISCONNECT and CONNECT report.
TEST_P(SqltermCommands, AFailedReconnectKeepsTheSession) {
  std::smatch name;
  ASSERT_TRUE(std::regex_search(db->cs, name, std::regex("Database=([^;]+)")));
  const std::string current = name[1].str();
  const std::string wrong = db->d.server ? "no_such_database" : "/no/such/folder/x.db";
  const struct {
    std::vector<std::string> args;
    std::string script;
    int status;
    std::string out;  // a regular expression found in standard output
  } cases[] = {
      {{"-qi"}, "select 1 as one;\n\\c " + wrong + "\nselect 2 as two;\n", 0,
       "\nFailed to connect to '[^\n]*" + wrong + "[^\n]*'\nStill connected to '[^\n]+'\\.\n[\\s\\S]* two \n-+ \n +2 \n"},
      {{"-qi", "-do"}, "\\c " + wrong + "\nselect 2;\n", 0, "^\n\n +2 \n"},
      {{"-qi", "-oe"}, "\\c " + wrong + "\nselect 2 as two;\n", 10, "^((?! two )[\\s\\S])*$"},
      {{"-qi"}, "\\c " + current + "\nselect 3 as three;\n", 0,
       "\nDisconnected from '[^\n]+'\nConnected to '[^\n]*" + current + "[^\n]*'\n[\\s\\S]* three \n-+ \n +3 \n"},
  };
  for (const auto& c : cases) {
    const run_result r = run(c.args, c.script);
    EXPECT_EQ(r.status, c.status) << c.script << "\n" << r.out << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(c.out))) << c.script << "\n" << c.out << "\n" << r.out;
  }
}

// \conninfo names the connection as its driver tells it, never its password; without a
// connection it fails as \d does.
TEST_P(SqltermCommands, ConninfoNamesTheConnection) {
  const struct {
    const char* kind;
    std::string dbms;  // a regular expression
  } dbms_names[] = {{"sqlite", "SQLite"}, {"pg", "PostgreSQL"}, {"maria", "(MariaDB|MySQL)"}};
  std::string dbms;
  for (const auto& n : dbms_names)
    if (db->kind == n.kind) dbms = n.dbms;
  std::smatch uid, pwd;
  std::string user = "\\(none\\)";
  if (std::regex_search(db->cs, uid, std::regex("(?:^|;)UID=([^;]+)", std::regex::icase))) user = uid[1].str();
  const run_result r = q({"select 1 as one;\n\\conninfo"});
  EXPECT_EQ(r.status, 0);
  const std::string shown = " one \n[\\s\\S]*\n\nData source: .*\nDriver: \\S+ \\S+\nDBMS: " + dbms + " \\S.*\nUser: " + user + "\n";
  EXPECT_TRUE(std::regex_search(r.out, std::regex(shown))) << shown << "\n" << r.out;
  if (std::regex_search(db->cs, pwd, std::regex("(?:^|;)PWD=([^;]+)", std::regex::icase))) {
    EXPECT_EQ(r.out.find(pwd[1].str()), std::string::npos) << r.out;
  }
  const run_result apart = run_process({SQLTERM_PATH}, "\\conninfo\n");
  EXPECT_NE(apart.out.find("Is not connected."), std::string::npos) << apart.out;
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqltermCommands, vela::testing::all_databases(), vela::testing::param_name);
