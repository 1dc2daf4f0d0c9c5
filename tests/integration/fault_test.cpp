// Bad days: the server killed mid-run, a full disk, a file-size limit, an unreadable script,
// log filters that would take forever. Every run ends, with a clear error and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <atomic>
#include <thread>

#include "support/databases.h"
#include "support/pg_server.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace fs = std::filesystem;
using namespace vela::testing;
using clock_type = std::chrono::steady_clock;

namespace {

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command line in the background; finished() tells when it has ended. A run
// left behind by a failed assertion is ended by abandon (the server's kill) before the wait.
class background_run {
 public:
  background_run(const std::string& command, const std::string& cwd, std::function<void()> abandon)
      : abandon_(std::move(abandon)), thread_([this, command, cwd] {
          result_ = run_process({"sh", "-c", command}, {}, {}, cwd);
          done_ = true;
        }) {}
  ~background_run() {
    if (!thread_.joinable()) return;
    if (!done_) abandon_();
    thread_.join();
  }
  bool finished() const { return done_; }
  // Waits for the end; returns how long that took.
  double wait() {
    const auto start = clock_type::now();
    thread_.join();
    return std::chrono::duration<double>(clock_type::now() - start).count();
  }
  const run_result& result() const { return result_; }

 private:
  std::function<void()> abandon_;
  run_result result_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

uintmax_t size_of(const std::string& path) {
  std::error_code ec;
  const uintmax_t n = fs::file_size(path, ec);
  return ec ? 0 : n;
}

// The driver's word for a connection gone: a communication error, or the server's own notice
// of its shutdown when that arrived first.
bool lost_connection(const std::string& text) {
  return text.find("[08") != std::string::npos || text.find("[57P01]") != std::string::npos;
}

size_t files_in(const std::string& dir) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir)) n += e.is_regular_file();
  return n;
}

// Each kill test brings its own server: the shared one must live for the whole program.
class ServerKilled : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<pg_server>();
    if (!server_->running()) GTEST_SKIP() << server_->error();
    // Rows travel in small pieces, so that the kill falls between fetches.
    cs_ = server_->connection_string() + "UseDeclareFetch=1;Fetch=10;";
  }
  std::unique_ptr<pg_server> server_;
  std::string cs_;
  temp_dir dir_;
};

TEST_F(ServerKilled, DuringALongSelectPrintedBySqlterm) {
  const std::string out = dir_.path("out.txt");
  background_run run("exec " + quote(SQLTERM_PATH) + " " + quote("-cs:" + cs_) + " " +
                         quote("-q:select a.g, b.g, repeat('x', 40)::varchar(40) from generate_series(1, 100000) a(g), "
                               "generate_series(1, 100000) b(g)") +
                         " > " + quote(out),
                     dir_.path(), [this] { server_->kill_now(); });
  ASSERT_TRUE(wait_until([&] { return size_of(out) > 200000 || run.finished(); }, 30s));
  ASSERT_FALSE(run.finished()) << run.result().out << run.result().err;
  ASSERT_EQ(server_->kill_now(), 0);
  EXPECT_LT(run.wait(), 5.0);
  // The error follows the rows printed so far; statement errors leave the exit status 0.
  EXPECT_EQ(run.result().status, 0) << run.result().err;
  const std::string text = dir_.read("out.txt");
  const std::string tail = text.substr(text.size() > 2000 ? text.size() - 2000 : 0);
  EXPECT_TRUE(lost_connection(tail)) << tail;
}

TEST_F(ServerKilled, DuringABlobfileDownload) {
  // One row per fetch, each a little slow: the download is under way when the server dies.
  const std::string statement =
      "select ('f' || g || '.bin')::varchar(20), decode(repeat('ab', 100000), 'hex') from generate_series(1, 100000) g "
      "cross join lateral (select pg_sleep(0.02)) s";
  background_run run("exec " + quote(BLOBFILE_PATH) + " " + quote(server_->connection_string() +
                                                               "UseDeclareFetch=1;Fetch=1;") +
                         " " + quote(statement),
                     dir_.path(), [this] { server_->kill_now(); });
  ASSERT_TRUE(wait_until([&] { return files_in(dir_.path()) >= 5 || run.finished(); }, 30s));
  ASSERT_FALSE(run.finished()) << run.result().out;
  ASSERT_EQ(server_->kill_now(), 0);
  EXPECT_LT(run.wait(), 5.0);
  const run_result& r = run.result();
  EXPECT_TRUE(r.status == 10 || r.status == 11) << r.status << "\n" << r.out;
  EXPECT_NE(r.out.find("Error ("), std::string::npos) << r.out;
  EXPECT_TRUE(lost_connection(r.out)) << r.out;
  // Every file written before the kill is whole.
  for (const auto& e : fs::directory_iterator(dir_.path()))
    if (e.path().extension() == ".bin") {
      EXPECT_LE(fs::file_size(e.path()), 100000u) << e.path();
    }
}

TEST_F(ServerKilled, DuringABlobfileUpload) {
  ASSERT_EQ(server_->psql("create table up(data bytea)"), 0);
  dir_.write("in.dat", random_bytes(4 << 20, 7));
  // The statement runs for a while on the server after the value has been sent.
  background_run run("exec " + quote(BLOBFILE_PATH) + " " + quote(server_->connection_string()) +
                         " 'insert into up(data) select ? from pg_sleep(60)' in.dat",
                     dir_.path(), [this] { server_->kill_now(); });
  // The statement runs on the server: the value has been sent.
  ASSERT_TRUE(wait_until([&] { return !server_->active_backends("insert into up").empty() || run.finished(); }, 30s));
  ASSERT_FALSE(run.finished()) << run.result().out;
  ASSERT_EQ(server_->kill_now(), 0);
  EXPECT_LT(run.wait(), 5.0);
  const run_result& r = run.result();
  EXPECT_TRUE(r.status == 10 || r.status == 11) << r.status << "\n" << r.out;
  EXPECT_NE(r.out.find("Error ("), std::string::npos) << r.out;
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    cs_ = "Driver=SQLite3;Database=" + dir_.path("t.db") + ";";
    run_process({SQLTERM_PATH, "-cs:" + cs_, "-do",
                 "-q:create table t(a, b); create table docs(path, data);"
                 "insert into t with recursive c(x) as (select 1 union all select x + 1 from c where x < 50000) "
                 "select x, 'row number ' || x from c;"});
  }
  std::string sqlterm(const std::string& redirect, const std::string& limit = "") {
    return limit + "exec " + quote(SQLTERM_PATH) + " " + quote("-cs:" + cs_) + " -do -q:'select * from t' " +
           redirect;
  }
  temp_dir dir_;
  std::string cs_;
};

TEST_F(Faults, SqltermOutputToAFullDevice) {
  // Much output (written in pieces along the way) and a little (written only at the end).
  for (const std::string q : {"select * from t", "select 1"}) {
    const run_result r = run_process(
        {"sh", "-c", "exec " + quote(SQLTERM_PATH) + " " + quote("-cs:" + cs_) + " -do " + quote("-q:" + q) + " > /dev/full"});
    EXPECT_EQ(r.status, 112) << q;
    EXPECT_EQ(r.err, "Command failed. There is not enough space on the disk. [112]\n") << q;
  }
  // A closed pipe stays quiet.
  const run_result r = run_process({"sh", "-c", sqlterm("| head -c 10 >/dev/null; echo ${PIPESTATUS:-}")});
  EXPECT_EQ(r.err, "");
}

TEST_F(Faults, BlobfileDownloadIntoAFullDevice) {
  run_process({SQLTERM_PATH, "-cs:" + cs_, "-q:insert into docs values('/dev/full', randomblob(300000))"});
  const run_result r = run_process({BLOBFILE_PATH, cs_, "select path, data from docs"});
  // The device takes the file's set-up and refuses its bytes: the disk-full error, naming it.
  EXPECT_EQ(r.status, 112) << r.out;
  EXPECT_NE(r.out.find("'/dev/full' There is not enough space on the disk. [112"), std::string::npos) << r.out;
}

TEST_F(Faults, AFileSizeLimitIsAWriteError) {
  // sqlterm: the limit stops its output with the error, not with the signal.
  const run_result r = run_process({"sh", "-c", sqlterm("> " + quote(dir_.path("out.txt")), "ulimit -f 64; ")});
  EXPECT_EQ(r.status, 223);
  EXPECT_EQ(r.err, "Command failed. The file size exceeds the limit allowed and cannot be saved. [223]\n");
  EXPECT_EQ(size_of(dir_.path("out.txt")), 64u * 512);  // the shell counts blocks of 512 bytes

  // blobfile: a download larger than the limit ends with an error and its progress line.
  run_process({SQLTERM_PATH, "-cs:" + cs_, "-q:insert into docs values('" + dir_.path("big.bin") + "', randomblob(300000))"});
  const run_result b = run_process(
      {"sh", "-c", "ulimit -f 64; exec " + quote(BLOBFILE_PATH) + " -P " + quote(cs_) + " 'select path, data from docs'"});
  EXPECT_EQ(b.status, 223) << b.out;  // the error's code, not death by the signal
  EXPECT_NE(b.out.find("The file size exceeds the limit allowed and cannot be saved."), std::string::npos) << b.out;
}

TEST_F(Faults, AnUnreadableScriptAsAnUnprivilegedUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  const std::string place = dir_.path("scripts");
  fs::create_directory(place);
  fs::permissions(dir_.path(), fs::perms::all, fs::perm_options::add);
  fs::permissions(place, fs::perms::all, fs::perm_options::add);
  dir_.write("scripts/s.sql", "select 1;");
  fs::permissions(place + "/s.sql", fs::perms::none, fs::perm_options::replace);
  const run_result r =
      run_process({"runuser", "-u", "nobody", "--", SQLTERM_PATH, "-cs:Driver=SQLite3;Database=:memory:",
                   "-qf:" + place + "/s.sql"});
  EXPECT_EQ(r.status, 5) << r.out << r.err;
  EXPECT_NE(r.out.find("Access is denied."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("select 1"), std::string::npos) << r.out;
}

// The log parameter file beside a copy of sqlterm.
class LogFilters : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(SQLTERM_PATH, dir_.path("sqlterm"));
    fs::permissions(dir_.path("sqlterm"), fs::perms::owner_exec, fs::perm_options::add);
  }
  // A run with a 50,000-character connection string and statement.
  run_result run(const std::string& wli) {
    dir_.write("sqlterm.wli", wli);
    const std::string filler(50000, 'a');
    const auto start = clock_type::now();
    run_result r = run_process({dir_.path("sqlterm"),
                                "-cs:Driver=SQLite3;Database=" + dir_.path("t.db") + ";Filler=" + filler + ";",
                                "-q:select '" + filler + "'"});
    seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    return r;
  }
  temp_dir dir_;
  double seconds = 0;
};

TEST_F(LogFilters, PatternsThatWouldRecurseOrBacktrackForEver) {
  const run_result r = run("[Prms]\n[Evts]\n.*=.*\nTOO=(a*)*b\nTOQ=((a+)+)+c\nAMP=(a|aa)+$\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(seconds, 20.0);
  const std::string log = dir_.read("sqlterm.log");
  EXPECT_NE(log.find("Filler=" + std::string(50000, 'a')), std::string::npos);
  EXPECT_NE(log.find("Prg end(0,"), std::string::npos);
}

TEST_F(LogFilters, PatternsTheEngineRefusesDropTheLines) {
  // "(" sorts first, so every line meets a bad pattern before any other entry.
  for (const std::string bad : {"(", "(a)\\1", "x{5000}"}) {
    const run_result r = run("[Prms]\n[Evts]\n" + bad + "=\n.*=.*\n");
    EXPECT_EQ(r.status, 0) << bad << r.err;
    EXPECT_LT(seconds, 20.0);
    if (bad == "(") {
      EXPECT_EQ(dir_.read("sqlterm.log"), "") << bad;
    }
    fs::remove(dir_.path("sqlterm.log"));
  }
}

TEST_F(LogFilters, ALogThatCannotBeWrittenDoesNotKeepTheProgramAlive) {
  // A log file that is a pipe without a reader: it can never be written.
  ASSERT_EQ(mkfifo(dir_.path("sqlterm.log").c_str(), 0600), 0);
  const run_result r = run("[Prms]\nFlshSec=1\n[Evts]\nAMP=\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(seconds, 25.0);
}

} // namespace

namespace {

// Connection strings whose braces do not balance, typed by mistake or on purpose.
TEST_F(LogFilters, PasswordsStayHiddenWhateverTheBraces) {
  dir_.write("sqlterm.wli", "[Prms]\n[Evts]\n.*=\n");
  const std::vector<std::vector<std::string>> runs = {
      // A stray argument beside an option: refused by its place, nothing of it quoted.
      {"-cs:Driver={No Such;PWD=topsecret1", "Pwd=topsecret2"},
      // The driver name swallows the rest of the string, and the driver manager quotes it.
      {"-cs:Driver={PostgreSQL Unicode;Server=h;Pwd=topsecret3"},
      {"-cs:Driver={PostgreSQL Unicode}};Server=h;PASSWORD={topsecret4;}", "-q:select 1"},
      {"-cs:Driver={No Such};pwd = {topsecret5"},
  };
  std::string everything;
  for (const auto& args : runs) {
    std::vector<std::string> argv = {dir_.path("sqlterm")};
    argv.insert(argv.end(), args.begin(), args.end());
    const run_result r = run_process(argv);
    everything += r.out + r.err;
  }
  const std::string log = dir_.read("sqlterm.log");
  everything += log;
  EXPECT_EQ(everything.find("topsecret"), std::string::npos) << everything;
  EXPECT_NE(everything.find("Argument 2 is not an option\n"), std::string::npos) << everything;
  // The driver manager's own text is kept up to the hidden value.
  EXPECT_NE(log.find("Can't open lib 'PostgreSQL Unicode;Server=h;Pwd=*hidden*"), std::string::npos) << log;
}

} // namespace
