// sqlterm end to end: script files in several code pages, standard input, the old syntax,
// and the interactive prompt under a real pseudo-terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "support/databases.h"
#include "support/sqlterm_fixture.h"
#include "support/process.h"
#include "support/pty_session.h"

using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::pty_session;
using vela::testing::temp_dir;

namespace {

const std::string banner = "sqlterm " VELA_VERSION " (vela) - ODBC database terminal\n\n";

std::string masked(const std::string& s) {
  return std::regex_replace(s, std::regex(R"(Execution time [0-9:.]+s\.)"), "Execution time T.");
}

struct sqlite_db {
  temp_dir dir;
  std::string cs;
  sqlite_db() {
    cs = "Driver=SQLite3;Database=" + dir.path("s.db") + ";";
    run_process({SQLTERM_PATH, "-cs:" + cs, "-q:create table t(n integer, s varchar(20)); insert into t values(1, 'один')"});
  }
};

} // namespace

TEST(SqltermRun, TwoSelectsFromTheCommandLine) {
  sqlite_db db;
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:select n from t; select s from t"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(masked(r.out), banner + "Connected to '" + r.out.substr(r.out.find("Connected to '") + 14,
                                                                    r.out.find("'\n") - r.out.find("Connected to '") - 14) +
                               "'\n\nselect n from t;\n         n \n---------- \n         1 \n"
                               "No rows affected. Rows selected: 1. Execution time T.\n"
                               "\nselect s from t\ns                    \n-------------------- \nодин                 \n"
                               "No rows affected. Rows selected: 1. Execution time T.\n\n"
                               "Disconnected from '" + r.out.substr(r.out.find("Connected to '") + 14,
                                                                    r.out.find("'\n") - r.out.find("Connected to '") - 14) + "'\n");
  EXPECT_EQ(r.out.find(">"), std::string::npos);  // no prompt
}

TEST(SqltermRun, ScriptFilesInTheirCodePages) {
  sqlite_db db;
  db.dir.write("u8.sql", "select s from t where s = 'один';\n");
  db.dir.write("w.sql", "select s from t where s = '\xEE\xE4\xE8\xED';\n");  // cp1251
  db.dir.write("u16.sql", std::string("\xFF\xFE" "s\0e\0l\0e\0c\0t\0 \0n\0 \0f\0r\0o\0m\0 \0t\0;\0", 32));
  for (const std::string& f : {std::string("u8.sql"), std::string("w.sql,1251"), std::string("u16.sql")}) {
    const run_result r = run_process({SQLTERM_PATH, "-cs:" + db.cs, "-do", "-cd:|", "-qf:" + db.dir.path(f)});
    EXPECT_EQ(r.status, 0) << f;
    EXPECT_TRUE(r.out == "\nодин\n\n" || r.out == "\n1\n\n") << f << ": " << r.out;
  }
  const run_result missing = run_process({SQLTERM_PATH, "-cs:" + db.cs, "-qf:" + db.dir.path("nope.sql")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "Command failed. File operation failed '" + db.dir.path("nope.sql") +
                             "' (The file was not found.) [2]\n");
}

TEST(SqltermRun, StandardInputAfterTheCommandLineStatements) {
  sqlite_db db;
  const std::string input = "select\ns from t where s = 'a;b'\n;\nselect 'q' || ';' as x; select 'dropped'";
  const run_result r =
      run_process({SQLTERM_PATH, "-cs:" + db.cs, "-qi", "-do", "-cd:,", "-q:select n from t"}, input);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n1\n\n\n\nq;\n\n");
}

using SqltermOldSyntax = vela::testing::sqlterm_test;

TEST_P(SqltermOldSyntax, DriverAndParametersByPosition) {
  ASSERT_EQ(run({"-q:drop table if exists t_old"}).status, 0);
  ASSERT_EQ(run({"-q:create table t_old(n integer, s varchar(20)); insert into t_old values(1, 'один')"})
                .status,
            0);
  db->dir.write("1.sql", "select n, s from t_old;");
  db->dir.write("2.sql", "select n from t_old;");
  // The driver's parameters: everything after the Driver= part of the connection string.
  const std::string params = db->cs.substr(db->cs.find(';') + 1);
  const run_result r = run_process({SQLTERM_PATH, "dataonly", "cs:\\t", db->d.driver, params,
                                    db->dir.path("1.sql"), db->dir.path("2.sql")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n1\tодин\n\n1\n\n");
  const run_result help = run_process({SQLTERM_PATH, "-?"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage compatible to v1.4 and below:\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqltermOldSyntax, vela::testing::all_databases(), vela::testing::param_name);

TEST(SqltermRun, AFetchThatFailsMidwayPrintsItsErrorAfterTheRows) {
  sqlite_db db;
  run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:insert into t values(2, 'два')"});
  const run_result r = run_process(
      {SQLTERM_PATH, "-cs:" + db.cs + "StepAPI=1;", "-cd:,", "-q:select n, case when n = 2 then abs(-9223372036854775808) end as boom from t"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(masked(r.out).find("\nn,boom\n1,\n[HY000] [SQLite]integer overflow (1)\n"
                               "No rows affected. Rows selected: 1. Execution time T.\n"),
            std::string::npos)
      << r.out;
}

TEST(SqltermRun, InteractivePromptUnderAPseudoTerminal) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH});
  ASSERT_TRUE(s.expect("\n>")) << s.output();
  ASSERT_TRUE(s.type_until("CONNECT \"" + db.cs + "\"\n", "Connected to '")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  ASSERT_TRUE(s.type_until("select n from t\n", "Rows selected: 1.")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  ASSERT_TRUE(s.type_read("    \n")) << s.output();  // blanks only: read again, no new prompt
  ASSERT_TRUE(s.type_until("disconnect\n", "Disconnedted from datasource")) << s.output();
  ASSERT_TRUE(s.expect("\n>")) << s.output();
  int status = -1;
  for (int attempt = 0; attempt < 5 && status == -1; ++attempt) {
    s.type("EXIT\n");
    status = s.wait_exit(3);
  }
  EXPECT_EQ(status, 0) << s.output();
  // The typed line is echoed by the terminal itself; the blank line gave no extra prompt.
  EXPECT_NE(s.output().find("select n from t"), std::string::npos);
  EXPECT_EQ(s.output().find("SQL>\r\nSQL>"), std::string::npos);
}

TEST(SqltermRun, APromptLineLongerThan1023CharactersIsTakenWhole) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  const std::string value(3000, 'x');
  ASSERT_TRUE(s.type_until("select length('" + value + "') as n\n", "Rows selected: 1.")) << s.output().substr(0, 300);
  EXPECT_NE(s.output().find("      3000 \r\n"), std::string::npos);
  int status = -1;
  for (int attempt = 0; attempt < 5 && status == -1; ++attempt) {
    s.type("exit\n");
    status = s.wait_exit(3);
  }
  EXPECT_EQ(status, 0);
}
