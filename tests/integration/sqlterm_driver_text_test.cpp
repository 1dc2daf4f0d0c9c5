// What reaches the driver and the file system as the user gave it: statement text with
// characters beyond U+FFFF (also for a driver without wide entry points), names that are not
// UTF-8, and a driver that does not return after Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/databases.h"
#include "support/process.h"
#include "support/pty_session.h"

using vela::testing::all_databases;
using vela::testing::database;
using vela::testing::param_name;
using vela::testing::pty_session;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::temp_dir;

namespace {

const std::string emoji = "x\xF0\x9F\x98\x80x";  // x😀x

run_result sqlterm(const std::vector<std::string>& args, const std::string& cwd = {}) {
  std::vector<std::string> argv{SQLTERM_PATH, "-do", "-oe"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, {}, {}, cwd);
}

// The first value of a one-row result as sqlterm prints it with a "|" delimiter.
std::string value_of(const database& db, const std::string& select) {
  const run_result r = sqlterm({"-cs:" + db.cs, "-cd:|", "-q:" + select});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const size_t start = r.out.find_first_not_of('\n');
  return start == std::string::npos ? std::string() : r.out.substr(start, r.out.find('\n', start) - start);
}

class DriverText : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db = std::make_unique<database>(GetParam());
    if (!db->ready()) GTEST_SKIP() << db->why_not();
    const run_result r =
        sqlterm({"-cs:" + db->cs, "-q:drop table if exists t_text; create table t_text(n integer, a varchar(20))"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  std::unique_ptr<database> db;
};

} // namespace

// A character beyond U+FFFF, from the command line and from a script file: stored as written
// and printed back.
TEST_P(DriverText, CharactersBeyondTheBasicPlaneReachTheDatabase) {
  db->dir.write("insert.sql", "insert into t_text values(2, '" + emoji + "');\n");
  const struct {
    const char* how;
    std::string argument;
  } ways[] = {
      {"-q", "-q:insert into t_text values(1, '" + emoji + "')"},
      {"-qf", "-qf:" + db->dir.path("insert.sql")},
  };
  for (const auto& w : ways) {
    const run_result r = sqlterm({"-cs:" + db->cs, w.argument});
    EXPECT_EQ(r.status, 0) << w.how << ": " << r.out << r.err;
  }
  EXPECT_EQ(value_of(*db, "select count(*) from t_text where a = '" + emoji + "'"), "2");
  EXPECT_EQ(value_of(*db, "select cast('" + emoji + "' as " + db->d.varchar_cast + ")"), emoji);
  if (GetParam() == "sqlite") {
    EXPECT_EQ(value_of(*db, "select '" + emoji + "'"), emoji);
    // The database's own shell reads the UTF-8 bytes.
    const run_result shell = run_process({"sqlite3", db->dir.path("test.db"), "select a from t_text order by n"});
    EXPECT_EQ(shell.out, emoji + "\n" + emoji + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(AllDatabases, DriverText, all_databases(), param_name);

// Names that are not UTF-8 reach the file system byte for byte.
TEST(NonUtf8Names, ScriptDatabaseAndUploadFilesAreFound) {
  temp_dir dir;
  const std::string db_file = dir.path("d\xFF.db");
  const std::string cs = "Driver=SQLite3;Database=" + db_file + ";";
  dir.write("s\xFF.sql", "create table docs(path text, data blob);\ninsert into docs values('from script', null);\n");
  dir.write("u\xFF.bin", std::string("\x00\x01\xFE", 3));
  const run_result script = sqlterm({"-cs:" + cs, "-qf:" + dir.path("s\xFF.sql")});
  EXPECT_EQ(script.status, 0) << script.out << script.err;
  const run_result upload = run_process(
      {BLOBFILE_PATH, cs, "insert into docs values('upload', ?)", dir.path("u\xFF.bin")});
  EXPECT_EQ(upload.status, 0) << upload.out << upload.err;
  // A download into such a folder: its temporary file and the rename name the same bytes.
  std::filesystem::create_directory(dir.path("o\xFF"));
  const run_result download = run_process(
      {BLOBFILE_PATH, "-C", dir.path("o\xFF"), cs, "select 'down.bin', data from docs where path = 'upload'"});
  EXPECT_EQ(download.status, 0) << download.out << download.err;
  EXPECT_EQ(dir.read("o\xFF/down.bin"), std::string("\x00\x01\xFE", 3));
  // Exactly the named database file, and nothing beside it.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"d\xFF.db", "o\xFF", "s\xFF.sql", "u\xFF.bin"}));
  const run_result shell = run_process({"sqlite3", db_file, "select path, hex(data) from docs order by path"});
  EXPECT_EQ(shell.out, "from script|\nupload|0001FE\n");
}

// A driver of wide text may get such bytes only through a conversion of the driver manager:
// a connection that it made anyway (here the key is one the driver ignores) is not used.
TEST(NonUtf8Names, AWideDriverRefusesSuchAConnectionString) {
  database db("pg");
  if (!db.ready()) GTEST_SKIP() << db.why_not();
  const run_result r = sqlterm({"-cs:" + db.cs + "Label=d\xFF;", "-q:select 'never' as n"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Failed to connect to '"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("The connection string holds bytes that are not UTF-8"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("never"), std::string::npos) << r.out;
}

// Ctrl-C cancels the statement; a driver that still has not returned 3 seconds later ends
// the run with status 130 and says so. The server runs a program that ignores the cancel.
TEST(DriverNotReturning, TheRunEndsThreeSecondsAfterCtrlC) {
  database db("pg");
  if (!db.ready()) GTEST_SKIP() << db.why_not();
  ASSERT_EQ(sqlterm({"-cs:" + db.cs, "-q:drop table if exists t_wait; create table t_wait(a text)"}).status, 0);
  const struct {
    const char* how;
    std::vector<std::string> args;
  } runs[] = {
      {"-q", {"-q:copy t_wait from program 'trap \"\" INT; sleep 6'; select 'never' as n"}},
      {"prompt", {}},
  };
  // The copies still running on the server from the runs before (their sessions gone).
  const auto copies = [] { return vela::testing::shared_pg_server().active_backends("copy t_wait from program"); };
  for (const auto& run : runs) {
    const std::vector<int> before = copies();
    std::vector<std::string> argv{SQLTERM_PATH, "-cs:" + db.cs};
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    pty_session s(argv, {{"XDG_STATE_HOME", db.dir.path()}});
    ASSERT_TRUE(s.expect("Connected to '")) << s.output();
    if (run.args.empty()) {
      ASSERT_TRUE(s.expect("SQL>")) << s.output();
      s.type("copy t_wait from program 'trap \"\" INT; sleep 6'\r");
    }
    // The copy of this run runs on the server.
    ASSERT_TRUE(vela::testing::wait_until([&] {
      for (const int pid : copies())
        if (std::find(before.begin(), before.end(), pid) == before.end()) return true;
      return false;
    })) << run.how << ": " << s.output();
    const auto t0 = std::chrono::steady_clock::now();
    kill(s.pid(), SIGINT);
    EXPECT_EQ(s.wait_exit(6), 130) << run.how << ": " << s.output();
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(2900)) << run.how;
    EXPECT_LT(took, std::chrono::milliseconds(4500)) << run.how;
    EXPECT_NE(s.output().find("The driver has not returned 3 seconds after the statement was cancelled"),
              std::string::npos)
        << run.how << ": " << s.output();
    EXPECT_EQ(s.output().find("never"), std::string::npos) << s.output();
  }
}
