// sqlterm run as a process against SQLite3, PostgreSQL and MariaDB; output compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "support/databases.h"
#include "support/sqlterm_fixture.h"
#include "support/process.h"

using vela::testing::database;
using vela::testing::run_process;
using vela::testing::run_result;
namespace fs = std::filesystem;

namespace {

const std::string banner = "sqlterm " VELA_VERSION " (vela) - ODBC database terminal\n\n";

// Execution times vary: they are masked.
std::string masked(const std::string& s) {
  return std::regex_replace(s, std::regex(R"(Execution time [0-9:.]+s\.)"), "Execution time T.");
}

std::string connected_line(const std::string& s) {
  std::smatch m;
  return std::regex_search(s, m, std::regex("Connected to '[^\n]*'\n")) ? m.str(0) : std::string();
}

class Sqlterm : public vela::testing::database_test {
 protected:
  // Some drivers count the rows of a SELECT as affected.
  std::string affected(int rows) const {
    return db->d.select_counts_rows ? "Rows affected: " + std::to_string(rows) + "." : "No rows affected.";
  }

  void SetUp() override {
    database_test::SetUp();
    if (HasFatalFailure()) return;
    name_table("t_");
    ASSERT_EQ(q({"drop table if exists " + table}).status, 0);
  }

  // sqlterm -cs:<db> with the statements as one -q text.
  run_result q(const std::vector<std::string>& statements, std::vector<std::string> extra = {},
               const std::string& input = {}) {
    std::string text;
    for (const auto& s : statements) text += (text.empty() ? "" : ";") + s;
    std::vector<std::string> argv{SQLTERM_PATH, "-cs:" + db->cs};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!text.empty()) argv.push_back("-q:" + text);
    return run_process(argv, input);
  }

  // The output between the connect line and the disconnect line.
  std::string statements_output(const run_result& r) {
    const std::string& out = r.out;
    const size_t start = out.find("'\n", out.find("Connected to '"));
    const size_t end = out.rfind("\nDisconnected from '");
    if (start == std::string::npos || end == std::string::npos || end < start) return out;
    return masked(out.substr(start + 2, end - start - 2));
  }
};

} // namespace

TEST_P(Sqlterm, InsertPrintsOneSummaryLine) {
  ASSERT_EQ(q({"create table " + table + "(i integer)"}).status, 0);
  const run_result r = q({"insert into " + table + " values(1)"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, banner.size()), banner);
  EXPECT_EQ(statements_output(r), "\ninsert into " + table +
                                      " values(1)\nRows affected: 1. No rows selected. Execution time T.\n");
}

TEST_P(Sqlterm, SpaceModeLayout) {
  const size_t width = static_cast<size_t>(db->d.int_display_size);
  ASSERT_EQ(q({"create table " + table + "(xy integer, thirteenchars varchar(5), notes text)",
               "insert into " + table + " values(7, 'abc', 'x')", "insert into " + table + " values(-42, null, null)"})
                .status,
            0);
  const run_result r = q({"select xy, thirteenchars, notes from " + table + " order by xy desc"});
  const std::string pad = std::string(width - 2, ' ');
  const std::string expected =
      "\nselect xy, thirteenchars, notes from " + table + " order by xy desc\n" +
      pad + "xy thirt  \n" +
      std::string(width, '-') + " ----- ----- \n" +
      std::string(width - 1, ' ') + "7 abc        \n" +
      std::string(width - 3, ' ') + "-42 " + std::string(6 + 5, ' ') + "\n" + affected(2) +
      " Rows selected: 2. Execution time T.\n";
  EXPECT_EQ(statements_output(r), expected);
}

// Characters, not bytes, of UTF-8 text.
size_t chars(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

TEST_P(Sqlterm, CommonTypesPaddedAndDelimited) {
  const auto& d = db->d;
  ASSERT_EQ(q({"create table " + table + "(i integer, n numeric(10,2), d double precision, v varchar(8), x text, " +
                   "dt date, dtt " + d.datetime_type + ", ts timestamp, b " + d.bit_type + ")",
               "insert into " + table + " values(42, 12.5, 0.25, 'Жук', 'long text', '2017-04-05', " +
                   "'2017-04-05 09:08:07', '2017-04-05 09:08:07', " + d.bit_one + ")",
               "insert into " + table + " values(null, null, null, null, null, null, null, null, null)"})
                .status,
            0);
  const std::string select = "select i, n, d, v, x, dt, dtt, ts, b from " + table + " order by coalesce(i, 0) desc";
  const std::string summary = affected(2) + " Rows selected: 2. Execution time T.\n";
  run_result r = q({select}, {"-cd:|"});
  EXPECT_EQ(statements_output(r), "\n" + select + "\ni|n|d|v||dt|dtt|ts|b\n42|" + d.decimal_12_5 +
                                      "|0.25|Жук||2017-04-05|2017-04-05 09:08:07|2017-04-05 09:08:07|1\n"
                                      "||||||||\n" + summary);
  // Space mode: W is the display size; numbers go right; a long column prints nothing, its
  // header shows only dashes as long as its name.
  struct cell {
    std::string name, value;
    int width;  // 0: a long column
    bool right;
  };
  const std::vector<cell> cells = {{"i", "42", d.widths[0], true},
                                   {"n", d.decimal_12_5, d.widths[1], true},
                                   {"d", "0.25", d.widths[2], true},
                                   {"v", "Жук", d.widths[3], false},
                                   {"x", "", 0, false},
                                   {"dt", "2017-04-05", d.widths[4], false},
                                   {"dtt", "2017-04-05 09:08:07", d.widths[5], false},
                                   {"ts", "2017-04-05 09:08:07", d.widths[6], false},
                                   {"b", "1", d.widths[7], false}};
  std::string header, dashes, full, empty;
  for (const cell& c : cells) {
    const size_t w = static_cast<size_t>(c.width);
    const std::string name = c.name.substr(0, w);
    header += c.right ? std::string(w - name.size(), ' ') + name + " " : name + " " + std::string(w - name.size(), ' ');
    dashes += std::string(w ? w : c.name.size(), '-') + " ";
    if (w == 0) {
      full += std::string(c.name.size(), ' ');
      empty += std::string(c.name.size(), ' ');
      continue;
    }
    const std::string pad(w - chars(c.value), ' ');
    full += c.right ? pad + c.value + " " : c.value + pad + " ";
    empty += std::string(w + 1, ' ');
  }
  r = q({select});
  EXPECT_EQ(statements_output(r),
            "\n" + select + "\n" + header + "\n" + dashes + "\n" + full + "\n" + empty + "\n" + summary);
}

TEST_P(Sqlterm, DelimiterAndDataOnlyModes) {
  ASSERT_EQ(q({"create table " + table + "(a varchar(10), b integer)", "insert into " + table + " values(null, 1)",
               "insert into " + table + " values('x', null)"})
                .status,
            0);
  const std::string select = "select a, b from " + table + " order by coalesce(a, '')";
  run_result r = q({select}, {"-do", "-cd:;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n;1\nx;\n\n");  // no banner, no echo, no summaries
  r = q({select}, {"-cd:\\t"});
  EXPECT_EQ(statements_output(r), "\n" + select + "\na\tb\n\t1\nx\t\n" + affected(2) +
                                      " Rows selected: 2. Execution time T.\n");
  r = q({select}, {"-do", "-cd:\"\""});
  EXPECT_EQ(r.out, "\n1\nx\n\n");  // an empty delimiter prints nothing between columns
  // Space mode: a NULL takes W + 1 blanks.
  r = q({select}, {"-do"});
  const size_t w = static_cast<size_t>(db->d.int_display_size);
  EXPECT_EQ(r.out, "\n" + std::string(11, ' ') + std::string(w - 1, ' ') + "1 \n" + "x          " +
                       std::string(w + 1, ' ') + "\n\n");
}

TEST_P(Sqlterm, AFailingStatementDoesNotStopTheScript) {
  const run_result r = q({"select * from no_such_table", "select 5 as v"});
  EXPECT_EQ(r.status, 0);
  const std::string out = statements_output(r);
  EXPECT_EQ(out.rfind("\nselect * from no_such_table;\n[", 0), 0u) << out;
  EXPECT_NE(out.find("\nselect 5 as v\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Rows selected: 1."), std::string::npos) << out;
}

TEST_P(Sqlterm, StandardInputStatements) {
  ASSERT_EQ(q({"create table " + table + "(s varchar(20))"}).status, 0);
  const std::string input = "insert into " + table + "\nvalues('a;b')\n;\ninsert into " + table +
                            " values('c'); select count(*) as n from " + table + "; select 'lost'\n";
  const run_result r =
      q({"select cast('first' as " + std::string(db->d.varchar_cast) + ") as f"}, {"-qi", "-do", "-cd:;"}, input);
  EXPECT_EQ(r.status, 0) << r.out;
  // The -q statement first; then one line break before each statement from standard input,
  // one at the end, and the last statement, without its ";", never runs.
  EXPECT_EQ(r.out, "\nfirst\n\n\n\n\n2\n\n");
}

TEST_P(Sqlterm, CommandsAtThePrompt) {
  // Without a terminal, standard input is a script (no prompts); its end is EXIT.
  const std::string input = "CONNECT \"" + db->cs + "\"\nselect 1 as one;\ndisconnect\nDISCONNECT\nselect 1;\nlist\n";
  const run_result r = run_process({SQLTERM_PATH}, input);
  EXPECT_EQ(r.status, 0);
  const std::string out = masked(r.out);
  const std::string connected = connected_line(out);
  ASSERT_FALSE(connected.empty()) << out;
  EXPECT_EQ(connected.find("secret"), std::string::npos);
  const std::string completed = connected.substr(14, connected.size() - 16);
  const size_t width = static_cast<size_t>(db->d.int_display_size);
  const std::string expected = banner + "\n" + connected + "\nselect 1 as one\n" +
                               std::string(width - 3, ' ') + "one \n" + std::string(width, '-') + " \n" +
                               std::string(width - 1, ' ') + "1 \n" +
                               affected(1) + " Rows selected: 1. Execution time T.\n"
                               "\nDisconnedted from datasource \n\n"
                               "\nIs not connected.\n"
                               "\nUnknown command 'select 1'. Use HELP command for a list of supported commands.\n"
                               "\nCcommand parameter missed\n\n";
  EXPECT_EQ(out, expected);
  (void)completed;
}

TEST_P(Sqlterm, ConnectKinds) {
  // -cs given: every disconnect names the completed string.
  std::string input = "CONNECT \"" + db->cs + "\"\nexit\n";
  run_result r = run_process({SQLTERM_PATH, "-cs:" + db->cs}, input);
  const std::string out = r.out;
  EXPECT_NE(out.find("'\n\nDisconnected from '"), std::string::npos) << out;  // the old one first
  EXPECT_EQ(r.status, 0);

  const std::string driver = db->d.driver;
  const std::string params = db->cs.substr(db->cs.find(';') + 1);
  input = "CONNECT DRIVER \"" + driver + "\" \"" + params + "\"\nDISCONNECT\n";
  r = run_process({SQLTERM_PATH, "-do"}, input);
  EXPECT_EQ(r.out, "\n\n\n") << r.out;  // data only: no messages
  r = run_process({SQLTERM_PATH}, input);
  EXPECT_NE(r.out.find("\nConnected to '" + driver + "', parameters '"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nDisconnected from '" + driver + "', parameters '"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("secret"), std::string::npos);

  // A failed connect: the failure message (password masked) and the driver manager's text.
  r = run_process({SQLTERM_PATH}, "CONNECT \"Driver={No Such Driver};PWD=topsecret\"\n");
  EXPECT_NE(r.out.find("\nFailed to connect to 'Driver={No Such Driver};PWD=*hidden*'\n[01000] "), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Connected"), std::string::npos);
  EXPECT_EQ(r.out.find("topsecret"), std::string::npos);
  r = run_process({SQLTERM_PATH}, "CONNECT DRIVER \"No Such\" \"UID=a;PWD=topsecret\"\n");
  EXPECT_NE(r.out.find("Connection failed to 'No Such', parameters 'UID=a;PWD=*hidden*''\n[01000]"), std::string::npos)
      << r.out;
}

TEST_P(Sqlterm, DataSourcesAndTables) {
  const std::string ini = db->dir.path("odbc.ini");
  const std::string sys = db->dir.path("sys");
  fs::create_directories(sys);
  fs::copy_file("/etc/odbcinst.ini", sys + "/odbcinst.ini");
  std::ofstream(sys + "/odbc.ini") << "";
  std::ofstream(ini) << "";
  const std::map<std::string, std::string> env{{"ODBCINI", ini}, {"ODBCSYSINI", sys}};
  run_result r = run_process({SQLTERM_PATH}, "LIST DATASOURCES\n", env);
  EXPECT_EQ(r.out, banner + "\nno system data sources.\n\nNo user data sources.\n\n");

  std::ofstream out(ini);
  out << "[vela_user_dsn]\n" << db->dsn_entry(db->dir.path("dsn.db"));
  out.close();
  r = run_process({SQLTERM_PATH}, "list datasources\n", env);
  EXPECT_EQ(r.out, banner + "\nno system data sources.\n\nList of user data sources:\nvela_user_dsn\n\n"
                            "Number of datasources: 1\n\n");
  const std::string login = db->d.server ? " vela secret" : "";
  r = run_process({SQLTERM_PATH}, "CONNECT DATASOURCE vela_user_dsn" + login + "\nDISCONNECT\n", env);
  const std::string who = db->d.server ? "Connected to datasource vela_user_dsn, user vela\n"
                                             : "Connected to datasource vela_user_dsn\n";
  EXPECT_EQ(r.out, banner + "\n" + who + "\nDisconnedted from datasource vela_user_dsn\n\n\n");

  r = run_process({SQLTERM_PATH}, "LIST DRIVERS\n");
  EXPECT_NE(r.out.find("List of ODBC drivers:\n\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nSQLite3\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nPostgreSQL Unicode\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nMariaDB Unicode\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n\nNumber of drivers: "), std::string::npos);

  ASSERT_EQ(q({"create table " + db->quoted(table + " x") + "(i integer)"}).status, 0);
  r = run_process({SQLTERM_PATH, "-cs:" + db->cs}, "LIST TABLES table=\"" + table + " x\"\n");
  const std::string expected_row = std::string(32 - (table.size() + 2), ' ') + table + " x" +
                                   std::string(27, ' ') + "TABLE\r\n\n";
  EXPECT_NE(r.out.find("                         Catalog                          Schema                            Name"
                       "                            Type\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(expected_row), std::string::npos) << r.out;
  ASSERT_EQ(q({"drop table " + db->quoted(table + " x")}).status, 0);
}

INSTANTIATE_TEST_SUITE_P(Drivers, Sqlterm, vela::testing::all_databases(), vela::testing::param_name);

TEST(SqltermProgram, HelpAndListWithoutAConnection) {
  const run_result r = run_process({SQLTERM_PATH}, "list\nHELP\nhelp disconnect\nHELP nope\nLIST nope\nselect 1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, banner +
                       "\nCcommand parameter missed\n"
                       "\nCONNECT, DISCONNECT, LIST, EXIT, HELP\n"
                       "\nDISCONNECT"
                       "\nUnknown command 'NOPE'. Use HELP command for a list of supported commands.\n"
                       "\nUnknown parameter 'NOPE'\n"
                       "\nUnknown command 'select 1'. Use HELP command for a list of supported commands.\n"
                       "\n");
  const run_result help = run_process({SQLTERM_PATH}, "help connect\nHELP Help\n");
  EXPECT_NE(help.out.find("CONNECT <connection string>\nCONNECT DRIVER <ODBC driver> <parameters>\n"
                          "CONNECT DATASOURCE <datasource> <user> <pwd>\n"),
            std::string::npos);
  EXPECT_NE(help.out.find("HELP - list of supported commands\nHELP <command> - information on command\n"),
            std::string::npos);
}

TEST(SqltermProgram, LogsStartAndEndBesideTheExecutable) {
  vela::testing::temp_dir dir;
  fs::copy_file(SQLTERM_PATH, dir.path("sqlterm"));
  fs::permissions(dir.path("sqlterm"), fs::perms::owner_exec, fs::perm_options::add);
  dir.write("sqlterm.wli", "[Prms]\nPID=Off\nTID=Off\nTmFrmt=\n[Evts]\nAMP=\n");
  const run_result r = run_process({dir.path("sqlterm"), "-qf:/nonexistent.sql"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(dir.read("sqlterm.log"), "AMP Started\r\nAMP Prg end(2,The file was not found.).\r\n");

  // The library's lines: connection, statements, disconnect; never a password.
  fs::remove(dir.path("sqlterm.log"));
  dir.write("sqlterm.wli", "[Prms]\nPID=Off\nTID=Off\nTmFrmt=\n[Evts]\nTO.=\n");
  const std::string cs = "Driver=SQLite3;Database=" + dir.path("l.db") + ";PWD=topsecret";
  const run_result q = run_process({dir.path("sqlterm"), "-cs:" + cs, "-q:select 1 as x;select nope"});
  EXPECT_EQ(q.status, 0);
  const std::string log = dir.read("sqlterm.log");
  EXPECT_EQ(log.find("topsecret"), std::string::npos) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex("TOO connection::connect\\(hwnd=0000000000,cs='Driver=SQLite3;Database=[^;]*;"
                                                "PWD=\\*hidden\\*',this=0x[0-9a-f]{8}\\) begin\r\n")))
      << log;
  EXPECT_TRUE(std::regex_search(log, std::regex("TOQ \"select 1 as x;\" \\[runtm=[0-9]+ms,this=0x[0-9a-f]{8}\\]\r\n"))) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex("TO! \"select nope\" \\[r=\\[HY000\\]"))) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex("TOC connection::disconnect\\(r=0,this=0x[0-9a-f]{8}\\)\r\n"))) << log;
}

TEST(SqltermProgram, HelpBannerAndExitCodes) {
  for (const char* h : {"/?", "-?"}) {
    const run_result r = run_process({SQLTERM_PATH, h});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(banner + "Connect to database in terminal mode:\n", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 10), "/README.md");  // no line break after the usage
  }
  run_result r = run_process({SQLTERM_PATH, "/?", "-do"}, "");
  EXPECT_EQ(r.out.find("Connect to database in terminal mode"), std::string::npos);  // not help
  r = run_process({SQLTERM_PATH, "-qf:/nonexistent/script.sql"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Command failed. File operation failed '/nonexistent/script.sql' (The file was not found.) [2]\n");
  r = run_process({SQLTERM_PATH}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, banner + "\n");
}
