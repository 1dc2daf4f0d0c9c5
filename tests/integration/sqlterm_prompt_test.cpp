// sqlterm at a terminal: line editing, history, completion, Ctrl-C and Ctrl-D, and standard
// input read even when a terminal is there. Each run has a pseudo-terminal of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <regex>
#include <thread>

#include "support/databases.h"
#include "support/process.h"
#include "support/pty_session.h"

using vela::testing::database;
using vela::testing::pty_session;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::temp_dir;

namespace {

const char* const left = "\033[D";
const char* const up = "\033[A";
const char* const home = "\033[H";
const char* const end_key = "\033[F";

struct sqlite_db {
  temp_dir dir;
  std::string cs;
  sqlite_db() {
    cs = "Driver=SQLite3;Database=" + dir.path("s.db") + ";";
    run_process({SQLTERM_PATH, "-cs:" + cs, "-q:create table weather_report(n integer); insert into weather_report values(1)"});
  }
  // The history of the runs of this test stays in the test's folder.
  std::map<std::string, std::string> env() const { return {{"XDG_STATE_HOME", dir.path("state")}, {"HOME", dir.path()}}; }
};

size_t count_of(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

// Keys typed the moment a prompt shows can reach the terminal before the line editor has
// taken it; editing keys are typed once it has.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

int exit_with(pty_session& s, const std::string& keys) {
  s.type(keys);
  return s.wait_exit(5);
}

// Backends of the test server that run the statement now.
int active_sleeps() {
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + vela::testing::shared_pg_server().connection_string(),
                                    "-do", "-q:select count(*) from pg_stat_activity where state = 'active' and "
                                           "query like 'select pg_sleep(3%'"});
  return std::atoi(r.out.c_str() + r.out.find_first_not_of("\n "));
}

} // namespace

TEST(SqltermPrompt, CursorKeysEditALineWithCyrillicLetters) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  // "elect 'яX' as v", then s at the start, and X (before the closing quote) becomes ж.
  s.type("elect 'яX' as v");
  s.type(home);
  s.type("s");
  s.type(end_key);
  for (int i = 0; i < 6; ++i) s.type(left);
  s.type("\x7f");
  s.type("ж\r");
  ASSERT_TRUE(s.expect("select 'яж' as v\r\n")) << s.output();
  ASSERT_TRUE(s.expect("\r\nяж")) << s.output();
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

TEST(SqltermPrompt, HistoryIsRecalledInTheNextRunWithPasswordsHidden) {
  sqlite_db db;
  {
    pty_session s({SQLTERM_PATH}, db.env());
    ASSERT_TRUE(s.expect("\n>")) << s.output();
    settle();
    s.type("CONNECT \"" + db.cs + "PWD=topsecret1\"\r");
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    settle();
    s.type("select 40 + 2 as answer\r");
    ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    settle();
    s.type("select 40 + 2 as answer\r");  // a repeat is kept once
    ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    settle();
    s.type("connect datasource nowhere bob topsecret2\r");
    ASSERT_TRUE(s.expect("\n>")) << s.output();
    settle();
    s.type("   \r");  // blank: not kept
    EXPECT_EQ(exit_with(s, "\r connect Driver=x;Password={top;secret3};Database=y\rexit\r"), 0) << s.output();
  }
  const std::string file = db.dir.path("state/vela/sqlterm_history");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string history = db.dir.read("state/vela/sqlterm_history");
  EXPECT_EQ(history.find("topsecret"), std::string::npos) << history;
  EXPECT_EQ(history.find("secret3"), std::string::npos) << history;
  EXPECT_EQ(history, "CONNECT \"" + db.cs + "PWD=*hidden*\"\nselect 40 + 2 as answer\n"
                     "connect datasource nowhere bob *hidden*\nconnect Driver=x;Password=*hidden*;Database=y\nexit\n");

  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  for (int i = 0; i < 4; ++i) s.type(up);  // exit, connect, connect, select
  s.type("\r");
  ASSERT_TRUE(s.expect("select 40 + 2 as answer\r\n")) << s.output();
  ASSERT_TRUE(s.expect("        42")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

TEST(SqltermPrompt, AnUnwritableHistoryIsNoError) {
  sqlite_db db;
  db.dir.write("state", "a file where the folder would be");
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  s.type("select 1 as n\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

TEST(SqltermPrompt, TabCompletesCommandWordsAndTableNames) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH}, db.env());
  ASSERT_TRUE(s.expect("\n>")) << s.output();
  settle();
  s.type("CONN\t\"" + db.cs + "\"\r");
  ASSERT_TRUE(s.expect("Connected to '")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  s.type("select n from weath\t\r");
  ASSERT_TRUE(s.expect("\r\nselect n from weather_report\r\n")) << s.output();
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  // A table created in the session is offered after its CREATE.
  s.type("create table zebra_crossing(n integer)\r");
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  s.type("select count(*) as c from zeb\t\r");
  ASSERT_TRUE(s.expect("\r\nselect count(*) as c from zebra_crossing\r\n")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  s.type("list t\t\r");
  ASSERT_TRUE(s.expect("weather_report")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  s.type("disc\t\r");
  ASSERT_TRUE(s.expect("Disconnedted from datasource")) << s.output();
  ASSERT_TRUE(s.expect("\n>")) << s.output();
  settle();
  EXPECT_EQ(exit_with(s, "ex\t\r"), 0) << s.output();
}

TEST(SqltermPrompt, CtrlCAtThePromptDropsTheLineAndCtrlDEndsTheRun) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the editor has taken the terminal
  s.type("select 'abandoned' as a");
  s.type("\x03");
  ASSERT_TRUE(s.expect("SQL>")) << s.output();
  settle();
  s.type("select 7 as seven\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  EXPECT_EQ(count_of(s.output(), "Rows selected"), 1u) << s.output();
  settle();
  EXPECT_EQ(exit_with(s, "\x04"), 0) << s.output();
  EXPECT_NE(s.output().find("Disconnected from '"), std::string::npos) << s.output();
}

TEST(SqltermPrompt, CtrlCCancelsALongSqliteQuery) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  s.type("with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const auto t0 = std::chrono::steady_clock::now();
  s.type("\x03");
  ASSERT_TRUE(s.expect("select count(*) from c\r\n", 2)) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>", 2)) << s.output();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(s.output().find("Rows selected"), std::string::npos) << s.output();
  settle();
  s.type("select 8 as n\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

TEST(SqltermPrompt, CtrlCCancelsAPostgresqlStatementOnTheServer) {
  database db("pg");
  if (!db.ready()) GTEST_SKIP() << db.why_not();
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, {{"XDG_STATE_HOME", db.dir.path()}});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  s.type("select pg_sleep(30)\r");
  for (int i = 0; i < 50 && active_sleeps() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(active_sleeps(), 1);
  const auto t0 = std::chrono::steady_clock::now();
  s.type("\x03");
  ASSERT_TRUE(s.expect("select pg_sleep(30)\r\n", 2)) << s.output();
  ASSERT_TRUE(s.expect("canceling statement due to user request", 2)) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>", 2)) << s.output();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(active_sleeps(), 0);
  s.type("select 9 as n\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

TEST(SqltermPrompt, CtrlCEndsAStatementRunWithStatus130) {
  database db("pg");
  if (!db.ready()) GTEST_SKIP() << db.why_not();
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs, "-q:select pg_sleep(30); select 'never' as n"});
  for (int i = 0; i < 50 && active_sleeps() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(active_sleeps(), 1);
  const auto t0 = std::chrono::steady_clock::now();
  s.type("\x03");
  EXPECT_EQ(s.wait_exit(5), 130) << s.output();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_NE(s.output().find("canceling statement due to user request"), std::string::npos) << s.output();
  EXPECT_EQ(s.output().find("never"), std::string::npos) << s.output();
  EXPECT_NE(s.output().find("Disconnected from '"), std::string::npos) << s.output();
  EXPECT_EQ(active_sleeps(), 0);
}

TEST(SqltermPrompt, StandardInputIsReadEvenWithATerminalPresent) {
  sqlite_db db;
  db.dir.write("in.sql", "select 6 * 7 as n\nselect n from weather_report\n");
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env(), db.dir.path("in.sql"));
  EXPECT_EQ(s.wait_exit(10), 0) << s.output();
  EXPECT_EQ(count_of(s.output(), "Rows selected: 1."), 2u) << s.output();
  EXPECT_NE(s.output().find("        42 \r\n"), std::string::npos) << s.output();
  // No line editor: the prompt is printed as it is, and no history is written.
  EXPECT_NE(s.output().find("\r\nSQL>"), std::string::npos) << s.output();
  EXPECT_FALSE(std::filesystem::exists(db.dir.path("state/vela/sqlterm_history")));
}

TEST(SqltermPrompt, CtrlCStopsRowsBeingPrinted) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  settle();
  s.type("with recursive c(x) as (select 1 union all select x + 1 from c limit 3000000) select x from c\r");
  ASSERT_TRUE(s.expect("     20000 \r\n", 20)) << s.output().substr(0, 2000);
  s.type("\x03");
  ASSERT_TRUE(s.expect("\nSQL>", 3)) << s.output().substr(s.output().size() - 2000);
  EXPECT_EQ(s.output().find("Rows selected: 3000000"), std::string::npos);
  s.type("select 8 as n\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output().substr(s.output().size() - 2000);
  EXPECT_EQ(exit_with(s, "exit\r"), 0);
}

TEST(SqltermPrompt, CtrlCEndsAStandardInputRunThatWaitsForInput) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs, "-qi"}, db.env());
  ASSERT_TRUE(s.expect("Connected to '")) << s.output();
  s.type("select n from weather_report;\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  s.type("select 'never' as n\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  s.type("\x03");
  EXPECT_EQ(s.wait_exit(3), 130) << s.output();
  EXPECT_NE(s.output().find("Disconnected from '"), std::string::npos) << s.output();
}

// Client commands at the prompt, and the words that end the session; each row is one run:
// lines typed (each waits for its answer), the last of which ends the run with status 0.
TEST(SqltermPrompt, ClientCommandsAndTheWordsThatEndTheSession) {
  sqlite_db db;
  const std::vector<std::vector<std::pair<std::string, std::string>>> runs = {
      {{"\\d weather_report\r", " n "}, {"\\q\r", ""}},
      {{"\\dt\r", "weather_report" + std::string(27, ' ') + "TABLE\r"}, {"quit\r", ""}},
      {{"\\timing on\r", "\\timing on\r\n"}, {"\\?\r", "\\dt [<table>]"}, {"exit;\r", ""}},
      {{"\\d nowhere;\r", "Table 'nowhere' not found."}, {"QUIT ;\r", ""}},
  };
  for (const auto& run : runs) {
    pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    for (const auto& [keys, answer] : run) {
      settle();
      s.type(keys);
      if (!answer.empty()) {
        EXPECT_TRUE(s.expect(answer) && s.expect("\nSQL>")) << keys << s.output();
      }
    }
    EXPECT_EQ(s.wait_exit(5), 0) << s.output();
    EXPECT_NE(s.output().find("Disconnected from '"), std::string::npos) << s.output();
  }
}
