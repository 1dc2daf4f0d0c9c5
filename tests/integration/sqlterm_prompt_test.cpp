// sqlterm at a terminal: line editing, history, completion, Ctrl-C and Ctrl-D, and standard
// input read even when a terminal is there. Each run has a pseudo-terminal of its own.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <regex>
#include <thread>

#include "support/databases.h"
#include "support/process.h"
#include "support/pty_session.h"
#include "support/wait.h"

using vela::testing::database;
using vela::testing::pty_session;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::temp_dir;
using vela::testing::wait_until;

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
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

TEST(SqltermPrompt, HistoryIsRecalledInTheNextRunWithPasswordsHidden) {
  sqlite_db db;
  {
    pty_session s({SQLTERM_PATH}, db.env());
    ASSERT_TRUE(s.expect("\n>")) << s.output();
    s.type("CONNECT \"" + db.cs + "PWD=topsecret1\"\r");
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    s.type("select 40 + 2 as answer\r");
    ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    s.type("select 40 + 2 as answer\r");  // a repeat is kept once
    ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    s.type("connect datasource nowhere bob topsecret2\r");
    ASSERT_TRUE(s.expect("\n>")) << s.output();
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
  s.type("select 1 as n\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

TEST(SqltermPrompt, TabCompletesCommandWordsAndTableNames) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH}, db.env());
  ASSERT_TRUE(s.expect("\n>")) << s.output();
  s.type("CONN\t\"" + db.cs + "\"\r");
  ASSERT_TRUE(s.expect("Connected to '")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("select n from weath\t\r");
  ASSERT_TRUE(s.expect("\r\nselect n from weather_report\r\n")) << s.output();
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  // A table created in the session is offered after its CREATE.
  s.type("create table zebra_crossing(n integer)\r");
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("select count(*) as c from zeb\t\r");
  ASSERT_TRUE(s.expect("\r\nselect count(*) as c from zebra_crossing\r\n")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("list t\t\r");
  ASSERT_TRUE(s.expect("weather_report")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("disc\t\r");
  ASSERT_TRUE(s.expect("Disconnedted from datasource")) << s.output();
  ASSERT_TRUE(s.expect("\n>")) << s.output();
  EXPECT_EQ(exit_with(s, "ex\t\r"), 0) << s.output();
}

TEST(SqltermPrompt, CtrlCAtThePromptDropsTheLineAndCtrlDEndsTheRun) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("select 'abandoned' as a");
  s.type("\x03");
  ASSERT_TRUE(s.expect("SQL>")) << s.output();
  s.type("select 7 as seven\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  EXPECT_EQ(count_of(s.output(), "Rows selected"), 1u) << s.output();
  EXPECT_EQ(exit_with(s, "\x04"), 0) << s.output();
  EXPECT_NE(s.output().find("Disconnected from '"), std::string::npos) << s.output();
}

TEST(SqltermPrompt, CtrlCCancelsALongSqliteQuery) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c\r");
  // The line is taken, and the query has run for a while.
  ASSERT_TRUE(s.sees("select count(*) from c\r\n")) << s.output();
  ASSERT_TRUE(s.computes_for(std::chrono::milliseconds(100))) << s.output();
  const auto t0 = std::chrono::steady_clock::now();
  s.type("\x03");
  ASSERT_TRUE(s.expect("select count(*) from c\r\n", 2)) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>", 2)) << s.output();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(s.output().find("Rows selected"), std::string::npos) << s.output();
  s.type("select 8 as n\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

TEST(SqltermPrompt, CtrlCCancelsAPostgresqlStatementOnTheServer) {
  database db("pg");
  if (!db.ready()) GTEST_SKIP() << db.why_not();
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, {{"XDG_STATE_HOME", db.dir.path()}});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("select pg_sleep(30)\r");
  wait_until([] { return active_sleeps() > 0; });
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
  wait_until([] { return active_sleeps() > 0; });
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
  // A script: a statement over four lines, then one without its ";".
  db.dir.write("in.sql", "select 6\n  * 7\n  as n\n;\nselect n from weather_report\n");
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env(), db.dir.path("in.sql"));
  EXPECT_EQ(s.wait_exit(10), 0) << s.output();
  EXPECT_EQ(count_of(s.output(), "Rows selected: 1."), 2u) << s.output();
  EXPECT_NE(s.output().find("        42 \r\n"), std::string::npos) << s.output();
  // No line editor and no prompt, and no history is written.
  EXPECT_EQ(s.output().find("SQL>"), std::string::npos) << s.output();
  EXPECT_FALSE(std::filesystem::exists(db.dir.path("state/vela/sqlterm_history")));
}

// Keys typed at the prompt, each the moment the screen shows what the one before asked for
// (no pause for the line editor), and what they leave: results printed, rows left.
struct keystroke {
  std::string keys;
  std::string shows;
};

struct typing_case {
  const char* name;
  std::vector<std::string> options;
  std::vector<keystroke> steps;
  size_t results;  // "Rows selected" lines
  int rows_left;   // in the table tall, 200 rows at the start
  bool before_prompt = false;  // the first keys go once the editor has the terminal, before the prompt
};

const std::string paste_begin = "\033[200~", paste_end = "\033[201~";

const typing_case typing_cases[] = {
    {"a bracketed paste of two lines is one statement", {},
     {{paste_begin + "delete from tall\rwhere n > 100;" + paste_end, "delete from tall where n > 100;"}}, 0, 100},
    {"lines waiting together are a paste", {}, {{"delete from tall\rwhere n > 100;\r", "where n > 100;"}}, 0, 100},
    {"a pasted last statement without a ; runs", {},
     {{paste_begin + "select 1 as a;\rdelete from tall\rwhere n > 50" + paste_end, "where n > 50"}}, 1, 50},
    {"a paste that ends inside a quote is shown and goes on", {},
     {{paste_begin + "select 'abc\rdef" + paste_end, "select 'abc\r\ndef\r\n...>"}, {"' as q;\r", "Rows selected: 1."}},
     1, 200},
    {"a line inside an open quote goes on", {},
     {{"select 'one\r", "...>"}, {"two;' as v;\r", "Rows selected: 1."}}, 1, 200},
    {"a line inside an open comment goes on", {},
     {{"select 3 /* note\r", "...>"}, {"*/ as n\r", "Rows selected: 1."}}, 1, 200},
    {"-ml waits for the ;", {"-ml"},
     {{"select 5\r", "...>"}, {"as five\r", "...>"}, {";\r", "Rows selected: 1."}}, 1, 200},
    {"-ml runs a command at once", {"-ml"}, {{"list tables\r", "TABLE"}, {"select 5 as n;\r", "Rows selected: 1."}}, 1, 200},
    {"two statements on one line both run", {},
     {{"select 1 as a; select 2 as b;\r", "Rows selected: 1."}, {"", "Rows selected: 1."}}, 2, 200},
    {"editing keys typed at once reach the editor", {},
     {{"elect 6*7 as n" + std::string(home) + "s\r", "select 6*7 as n\r\n"}, {"", "Rows selected: 1."}}, 1, 200},
    {"keys typed during the connect reach the editor", {},
     {{"elect 4" + std::string(home) + "s\r", "select 4\r\n"}, {"", "Rows selected: 1."}}, 1, 200, true},
};

TEST(SqltermPrompt, TypedAndPastedStatements) {
  for (const typing_case& c : typing_cases) {
    SCOPED_TRACE(c.name);
    sqlite_db db;
    run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:create table tall(n integer); insert into tall with recursive "
                                               "c(x) as (select 1 union all select x + 1 from c limit 200) select x from c"});
    std::vector<std::string> argv{SQLTERM_PATH, "-cs:" + db.cs};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    pty_session s(argv, db.env());
    // The editor switches bracketed paste on as it takes the terminal, before the connect.
    ASSERT_TRUE(s.expect(c.before_prompt ? "\033[?2004h" : "\nSQL>")) << s.output();
    for (const keystroke& k : c.steps) {
      s.type(k.keys);
      ASSERT_TRUE(s.expect(k.shows)) << s.output();
    }
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
    EXPECT_EQ(count_of(s.output(), "Rows selected"), c.results) << s.output();
    EXPECT_EQ(s.output().find("syntax error"), std::string::npos) << s.output();
    EXPECT_EQ(s.output().find("^["), std::string::npos) << s.output();  // no key echoed raw
    const run_result left = run_process({SQLTERM_PATH, "-cs:" + db.cs, "-do", "-q:select count(*) from tall"});
    EXPECT_EQ(std::atoi(left.out.c_str() + left.out.find_first_not_of("\n ")), c.rows_left) << left.out;
  }
}

TEST(SqltermPrompt, CtrlCStopsRowsBeingPrinted) {
  sqlite_db db;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
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
  ASSERT_TRUE(s.type_read("select 'never' as n\r")) << s.output();
  s.type("\x03");
  EXPECT_EQ(s.wait_exit(3), 130) << s.output();
  EXPECT_NE(s.output().find("Disconnected from '"), std::string::npos) << s.output();
}

TEST(SqltermPrompt, CtrlCGivesUpAConnectThatWaitsForTheServer) {
  // A port that takes connections and never answers: the driver waits for its login.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  sqlite_db db;
  pty_session s({SQLTERM_PATH}, db.env());
  ASSERT_TRUE(s.expect("\n>")) << s.output();
  s.type("CONNECT \"Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" + std::to_string(ntohs(address.sin_port)) +
         ";Database=x;UID=u;PWD=p\"\r");
  // The driver has connected and sent its first message: it waits for the answer.
  pollfd waiting{listener, POLLIN, 0};
  ASSERT_EQ(poll(&waiting, 1, 10000), 1) << s.output();
  const int peer = accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  waiting = {peer, POLLIN, 0};
  ASSERT_EQ(poll(&waiting, 1, 10000), 1) << s.output();
  const auto t0 = std::chrono::steady_clock::now();
  s.type("\x03");
  ASSERT_TRUE(s.expect("[HY008] Operation canceled", 3)) << s.output();
  ASSERT_TRUE(s.expect("\n>", 2)) << s.output();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  s.type("CONNECT \"" + db.cs + "\"\r");
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
  close(peer);
  close(listener);
}

// A listing the driver does not cancel (psqlODBC runs catalog queries apart from the
// statement cancelled) ends the run after the grace time, the terminal as it was.
TEST(SqltermPrompt, CtrlCDuringACatalogListingThatWaits) {
  database db("pg");
  if (!db.ready()) GTEST_SKIP() << db.why_not();
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, {{"XDG_STATE_HOME", db.dir.path()}});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  // Another session holds the catalog's lock for a while: the listing waits for it.
  pty_session locker({SQLTERM_PATH, "-cs:" + db.cs,
                      "-q:do $$ begin lock table pg_catalog.pg_class in access exclusive mode; perform pg_sleep(6); end $$"});
  const auto titled = [](const std::string& end) {
    for (const std::string& t : vela::testing::shared_pg_server().process_titles())
      if (t.size() > end.size() && t.compare(t.size() - end.size(), end.size(), end) == 0) return true;
    return false;
  };
  ASSERT_TRUE(wait_until([&] { return titled(" DO"); }));
  ASSERT_TRUE(s.waits_for_input()) << s.output();
  s.type("list tables\r");
  const auto titles = [] {
    std::string all;
    for (const std::string& t : vela::testing::shared_pg_server().process_titles()) all += t + "\n";
    return all;
  };
  // The listing's session waits for the lock (the server shows it after its deadlock check).
  ASSERT_TRUE(wait_until([&] { return titled(" waiting"); })) << titles() << s.output();
  const auto t0 = std::chrono::steady_clock::now();
  s.type("\x03");
  EXPECT_EQ(s.wait_exit(6), 130) << s.output();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(4500));
  EXPECT_NE(s.output().find("The driver has not returned 3 seconds after"), std::string::npos) << s.output();
  const termios modes = s.modes();
  EXPECT_TRUE((modes.c_lflag & ICANON) && (modes.c_lflag & ECHO));
  EXPECT_EQ(locker.wait_exit(10), 0) << locker.output();
}

// A signal that ends the run gives the terminal its modes back, at the prompt or while a
// statement runs (the editor holds the terminal between reads).
TEST(SqltermPrompt, ASignalThatEndsTheRunLeavesTheTerminalAsItWas) {
  const struct {
    int sig;
    const char* typed;
  } cases[] = {
      {SIGTERM, ""},
      {SIGHUP, ""},
      {SIGTERM, "with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c\r"},
      {SIGHUP, "with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.sig) + " " + c.typed);
    sqlite_db db;
    pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    s.type(c.typed);
    if (*c.typed) {
      ASSERT_TRUE(s.expect("select count(*) from c\r\n")) << s.output();
      ASSERT_TRUE(s.computes_for(std::chrono::milliseconds(100))) << s.output();
    } else {
      ASSERT_TRUE(s.waits_for_input()) << s.output();
    }
    kill(s.pid(), c.sig);
    EXPECT_EQ(s.wait_exit(5), -1) << s.output();
    const termios modes = s.modes();
    EXPECT_TRUE((modes.c_lflag & ICANON) && (modes.c_lflag & ECHO));
    EXPECT_NE(s.output().find("\033[?2004l"), std::string::npos);
  }
}

// Client commands at the prompt, and the words that end the session; each row is one run:
// lines typed (each waits for its answer), the last of which ends the run with status 0.
TEST(SqltermPrompt, ClientCommandsAndTheWordsThatEndTheSession) {
  sqlite_db db;
  const std::vector<std::vector<std::pair<std::string, std::string>>> runs = {
      {{"\\d weather_report\r", "\nn "}, {"\\q\r", ""}},
      {{"\\dt\r", "weather_report" + std::string(27, ' ') + "TABLE\r"}, {"quit\r", ""}},
      {{"\\timing on\r", "\\timing on\r\n"}, {"\\?\r", "\\dt[S] [<table>]"}, {"exit;\r", ""}},
      {{"\\d nowhere;\r", "Table 'nowhere' not found."}, {"QUIT ;\r", ""}},
  };
  for (const auto& run : runs) {
    pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, db.env());
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    for (const auto& [keys, answer] : run) {
      s.type(keys);
      if (!answer.empty()) {
        EXPECT_TRUE(s.expect(answer) && s.expect("\nSQL>")) << keys << s.output();
      }
    }
    EXPECT_EQ(s.wait_exit(5), 0) << s.output();
    EXPECT_NE(s.output().find("Disconnected from '"), std::string::npos) << s.output();
  }
}

// \d NAME typed at the prompt lists the table's columns on every database.
TEST(SqltermPrompt, DescribeATableAtThePrompt) {
  for (const char* kind : {"sqlite", "pg", "maria"}) {
    SCOPED_TRACE(kind);
    database db(kind);
    ASSERT_TRUE(db.ready()) << db.why_not();
    ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:drop table if exists people;"
                                                         "create table people(id integer, name varchar(20) not null)"})
                  .status,
              0);
    temp_dir home;
    pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, {{"HOME", home.path()}, {"XDG_STATE_HOME", home.path("state")}});
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    s.type("\\d people\r");
    EXPECT_TRUE(s.expect("Nullable") && s.expect("name") && s.expect("not null") && s.expect("\nSQL>")) << s.output();
    s.type("\\q\r");
    EXPECT_EQ(s.wait_exit(5), 0) << s.output();
  }
}

// DELIMITER typed at the prompt holds for the lines after it, as in a script: a procedure
// body with ";" inside is sent whole.
TEST(SqltermPrompt, DelimiterTypedAtThePrompt) {
  database db("maria");
  ASSERT_TRUE(db.ready()) << db.why_not();
  ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:drop procedure if exists vp"}).status, 0);
  temp_dir home;
  pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, {{"HOME", home.path()}, {"XDG_STATE_HOME", home.path("state")}});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  for (const char* line : {"DELIMITER //\r", "create procedure vp() begin declare x int default 1; set x = x + 1; end //\r",
                           "DELIMITER ;\r"}) {
    s.type(line);
    EXPECT_TRUE(s.expect("\nSQL>")) << line << s.output();
  }
  s.type("\\q\r");
  EXPECT_EQ(s.wait_exit(5), 0) << s.output();
  EXPECT_EQ(s.output().find("SQLSTATE"), std::string::npos) << s.output();
  EXPECT_EQ(run_process({SQLTERM_PATH, "-cs:" + db.cs, "-do", "-cd:|",
                         "-q:select count(*) from information_schema.routines where routine_name = 'vp' and "
                         "routine_schema = database()"})
                .out,
            "\n1\n\n");
}

TEST(SqltermPrompt, AStatementOfSeveralLinesIsOneHistoryEntry) {
  sqlite_db db;
  {
    pty_session s({SQLTERM_PATH, "-cs:" + db.cs, "-ml"}, db.env());
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    for (const char* line : {"select 1 as a,\r", "2 as b,\r", "3 as c;\r"}) s.type(line);
    ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    // A paste of two statements is two entries; the one cut by Ctrl-C is kept as typed.
    s.type("\033[200~select 4 as d;\rselect 5\ras e;\r\033[201~");
    ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
    ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    s.type("select 6\r");
    ASSERT_TRUE(s.expect("...>")) << s.output();
    s.type("\x03");
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
  }
  EXPECT_EQ(db.dir.read("state/vela/sqlterm_history"),
            "select 1 as a,\x01" "2 as b,\x01" "3 as c;\nselect 4 as d;\nselect 5\x01" "as e;\nselect 6\nexit\n");

  pty_session s({SQLTERM_PATH, "-cs:" + db.cs, "-ml"}, db.env());
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  for (int i = 0; i < 5; ++i) s.type(up);  // exit, select 6, select 5, select 4, the three lines
  s.type("\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("\\s\r");
  ASSERT_TRUE(s.expect("select 1 as a,\r\n2 as b,\r\n3 as c;\r\nselect 4 as d;")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  s.type("\\s " + db.dir.path("saved.txt") + "\r");
  ASSERT_TRUE(s.expect("History written to")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
  const std::string saved = db.dir.read("saved.txt");
  EXPECT_EQ(saved.rfind("select 1 as a,\n2 as b,\n3 as c;\nselect 4 as d;\n", 0), 0u) << saved;
}
