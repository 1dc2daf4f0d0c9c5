// blobfile against SQLite3 and PostgreSQL: sources and targets that are not plain files,
// file names in long or padded text columns, statements that change nothing, and output
// that is there while a run still goes on.
#include <gtest/gtest.h>

#include <strings.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "support/databases.h"
#include "support/sqlterm_fixture.h"
#include "support/process.h"
#include "support/wait.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/utf.h"

using namespace vela;
using namespace vela::odbc;
using vela::testing::database;
using vela::testing::random_bytes;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::widen;
namespace fs = std::filesystem;

namespace {

const std::string head = "connecting to the database... executing query...";

std::string body(const run_result& r) {
  const size_t nl = r.out.find('\n');
  return nl == std::string::npos ? std::string() : r.out.substr(nl + 1);
}

// Writes bytes into a FIFO from another thread; the open waits for blobfile to read.
class fifo_writer {
 public:
  fifo_writer(const std::string& path, std::string bytes) {
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
    thread_ = std::thread([path, bytes = std::move(bytes)] {
      const int fd = open(path.c_str(), O_WRONLY);
      if (fd < 0) return;
      for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(fd);
    });
  }
  ~fifo_writer() { thread_.join(); }

 private:
  std::thread thread_;
};

class BlobfileEdges : public vela::testing::connected_test {
 protected:
  void SetUp() override {
    connected_test::SetUp();
    if (HasFatalFailure()) return;
    exec("drop table if exists docs");
    exec(std::string("create table docs(id integer, path varchar(255), data ") + db->blob_type() + ")");
  }

  std::wstring value(const std::string& sql) {
    query q(&conn, widen(sql));
    EXPECT_TRUE(q.execute(true).succeeded()) << sql;
    if (!q.rows().fetch().succeeded()) return L"<no row>";
    const column& c = q.rows().at(0);
    if (c.is_null()) return L"<null>";
    if (c.c_type() == bind_type::int32) return std::to_wstring(*static_cast<const int32_t*>(c.buffer()));
    return c.text();
  }

  // A binary literal of the database.
  std::string bytes_literal(const std::string& hex) const { return pg() ? "'\\x" + hex + "'" : "x'" + hex + "'"; }

  run_result blobfile(const std::string& statement, const std::string& file = {},
                      const std::map<std::string, std::string>& env = {}, const std::string& input = {}) {
    std::vector<std::string> argv{BLOBFILE_PATH, db->cs, statement};
    // The rows name absolute paths in the test's folder.
    if (strncasecmp(statement.c_str(), "select", 6) == 0) argv.insert(argv.begin() + 1, "-P");
    if (!file.empty()) argv.push_back(file);
    return run_process(argv, input, env, db->dir.path());
  }

  std::string p(const std::string& name) const { return db->dir.path(name); }

  // A download run in folder (under the test's folder) with options before the connection string.
  run_result download_in(const std::string& folder, std::vector<std::string> options,
                         const std::map<std::string, std::string>& env = {}) {
    options.insert(options.begin(), BLOBFILE_PATH);
    options.push_back(db->cs);
    options.push_back("select path, data from docs order by id");
    return run_process(options, {}, env, p(folder));
  }

  // Temporary files a download may have left in a folder.
  int leftovers(const std::string& folder) const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(p(folder))) n += e.path().filename().string().rfind(".vela-", 0) == 0;
    return n;
  }
};

} // namespace

TEST_P(BlobfileEdges, PipesAndFifosUploadWhatWasWrittenToThem) {
  const std::string piped = random_bytes(3 * (1 << 20) + 5, 11), fifo_bytes = random_bytes(2 * (1 << 20), 12);
  exec("insert into docs(id, path) values(1, '" + p("out1") + "')");
  fs::create_directory(p("tmp"));
  const std::map<std::string, std::string> tmp{{"TMPDIR", p("tmp")}};
  run_result r = blobfile("update docs set data = ? where id = 1", "/dev/stdin", tmp, piped);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(body(r), head + "writing /dev/stdin to database... OK\n");
  {
    fifo_writer w(p("in.fifo"), fifo_bytes);
    r = blobfile("insert into docs(id, path, data) values(2, '" + p("out2") + "', ?)", p("in.fifo"), tmp);
  }
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  {
    // A FIFO with a text name is read as text like a file of that name.
    fifo_writer w(p("notes.txt"), "Привет\n");
    r = blobfile("insert into docs(id, path, data) values(3, '" + p("out3") + "', ?)", p("notes.txt"), tmp);
  }
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // An empty pipe stores an empty value, not nothing.
  r = blobfile("insert into docs(id, path, data) values(4, '" + p("out4") + "', ?)", "/dev/stdin", tmp);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(value("select count(*) from docs where id = 4 and data is not null"), L"1");

  r = blobfile("select path, data from docs order by id");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(db->dir.read("out1") == piped) << db->dir.read("out1").size();
  EXPECT_TRUE(db->dir.read("out2") == fifo_bytes) << db->dir.read("out2").size();
  const std::u16string units = u"Привет\n";
  EXPECT_EQ(db->dir.read("out3"), std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2));
  EXPECT_EQ(db->dir.read("out4"), "");
  // The copies were made in $TMPDIR and are gone again.
  EXPECT_TRUE(fs::is_empty(p("tmp")));
}

TEST_P(BlobfileEdges, PaddedFixedLengthPathsLoseTheirBlanks) {
  exec("drop table if exists fixed");
  exec(std::string("create table fixed(path char(20), data ") + db->blob_type() + ")");
  // PostgreSQL pads CHAR(20) and reports it as fixed-length text; SQLite neither pads nor
  // reports it so, and its values are taken as they are.
  exec("insert into fixed values('a.bin', " + bytes_literal("4142") + ")");
  if (pg()) {
    EXPECT_EQ(value("select path from fixed"), L"a.bin               ");
  }
  const run_result r = blobfile("select path, data from fixed");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(body(r), head + " writing to 'a.bin'... written 2 bytes.\n");
  EXPECT_EQ(db->dir.read("a.bin"), "AB");
  for (const auto& e : fs::directory_iterator(db->dir.path()))
    EXPECT_EQ(e.path().filename().string().find(' '), std::string::npos) << e.path();
}

TEST_P(BlobfileEdges, LongTextColumnsNameTheFiles) {
  // The most natural schemas: path text beside the binary value.
  exec("drop table if exists files");
  exec(std::string("create table files(id integer, path text, data ") + db->blob_type() + ", note varchar(300))");
  exec("insert into files values(1, '" + p("t1") + "', " + bytes_literal("01020304") + ", 'n')");
  exec("insert into files values(2, '" + p("t2") + "', " + bytes_literal("") + ", 'n')");
  run_result r = blobfile("select path, data from files order by id");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(body(r), head + " writing to '" + p("t1") + "'... written 4 bytes. writing to '" + p("t2") +
                         "'... written 0 bytes.\n");
  EXPECT_EQ(db->dir.read("t1"), std::string("\x01\x02\x03\x04"));
  EXPECT_TRUE(fs::exists(p("t2")));
  // Binary first, text after it: found by type as ever.
  fs::remove(p("t1"));
  r = blobfile("select data, id, path from files where id = 1");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db->dir.read("t1"), std::string("\x01\x02\x03\x04"));
  // Without any binary column there is still no pair.
  r = blobfile("select id, path from files");
  EXPECT_EQ(r.status, 13) << r.out;
  EXPECT_NE(r.out.find("Incorrect result set."), std::string::npos);
}

TEST_P(BlobfileEdges, DevicesAndFifosAreWrittenWithoutBeingCut) {
  const std::string bytes = random_bytes(1500000, 13);
  db->dir.write("in.dat", bytes);
  exec("insert into docs(id, path) values(1, '/dev/null')");
  ASSERT_EQ(blobfile("update docs set data = ? where id = 1", p("in.dat")).status, 0);
  run_result r = blobfile("select path, data from docs");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(body(r), head + " writing to '/dev/null'... written 1500000 bytes.\n");

  ASSERT_EQ(mkfifo(p("out.fifo").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    std::ifstream in(p("out.fifo"), std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), {});
  });
  exec("update docs set path = '" + p("out.fifo") + "'");
  r = blobfile("select path, data from docs");
  reader.join();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(received == bytes) << received.size();
}

TEST_P(BlobfileEdges, AStatementThatChangesNoRowIsNoSuccess) {
  db->dir.write("in.dat", "data");
  exec("insert into docs(id, path) values(1, 'x')");
  run_result r = blobfile("update docs set data = ? where id = 99", p("in.dat"));
  EXPECT_EQ(r.status, 1168 & 0xFF) << r.out;
  EXPECT_EQ(body(r), head + "writing " + p("in.dat") + " to database... no row changed.\n");
  EXPECT_EQ(value("select count(*) from docs where data is not null"), L"0");
  // The same statement with a row to change succeeds.
  r = blobfile("update docs set data = ? where id = 1", p("in.dat"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(body(r), head + "writing " + p("in.dat") + " to database... OK\n");
}

TEST_P(BlobfileEdges, RussianTexts) {
  const std::map<std::string, std::string> ru{{"LANG", "ru_RU.UTF-8"}, {"LC_ALL", "\x01"}, {"LC_MESSAGES", "\x01"}};
  db->dir.write("in.dat", "data");
  run_result r = blobfile("update docs set data = ? where id = 99", p("in.dat"), ru);
  EXPECT_EQ(r.status, 1168 & 0xFF);
  EXPECT_EQ(body(r), "подключение к базе данных... выполнение запроса...запись " + p("in.dat") +
                         " в базу данных... ни одна строка не изменена.\n");
  exec("insert into docs(id, path, data) values(1, null, " + bytes_literal("00") + ")");
  r = blobfile("select path, data from docs", {}, ru);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(body(r), "подключение к базе данных... выполнение запроса... пропущено (нет имени файла).\n");
}

TEST_P(BlobfileEdges, OutputIsInTheFileWhileTheRunGoesOn) {
  // An upload from a FIFO that never ends keeps blobfile waiting; its output file must
  // already hold the banner and the progress.
  ASSERT_EQ(mkfifo(p("endless").c_str(), 0600), 0);
  const std::string out_file = p("out.txt");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    dup2(fd, 2);
    execl(BLOBFILE_PATH, BLOBFILE_PATH, db->cs.c_str(), "insert into docs(data) values(?)", p("endless").c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const int keep_open = open(p("endless").c_str(), O_RDWR);  // a writer that never closes
  ASSERT_GE(keep_open, 0);
  ASSERT_EQ(write(keep_open, "abc", 3), 3);
  const std::string expected = "writing " + p("endless") + " to database...";
  std::string seen;
  vela::testing::wait_until([&] {
    seen = db->dir.read("out.txt");
    return seen.find(expected) != std::string::npos;
  });
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(keep_open);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(body(run_result{0, seen, {}}), head + expected);
  EXPECT_EQ(seen.rfind("blobfile ", 0), 0u) << seen;
  EXPECT_EQ(value("select count(*) from docs"), L"0");
}

TEST_P(BlobfileEdges, ATargetNameIsReplacedNeverFollowed) {
  fs::create_directories(p("work"));
  db->dir.write("victim", "precious");
  fs::create_symlink(p("victim"), p("work/link.bin"));
  db->dir.write("work/old.bin", "old");
  exec("insert into docs(id, path, data) values(1, 'link.bin', " + bytes_literal("41") + "), (2, 'old.bin', " +
       bytes_literal("42") + ")");
  const run_result r = download_in("work", {});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db->dir.read("victim"), "precious");
  EXPECT_FALSE(fs::is_symlink(p("work/link.bin")));
  EXPECT_EQ(db->dir.read("work/link.bin"), "A");
  EXPECT_EQ(db->dir.read("work/old.bin"), "B");
  EXPECT_EQ(leftovers("work"), 0);
}

TEST_P(BlobfileEdges, AKilledDownloadLeavesTheOldFileAndNoTemporaryFile) {
  const std::string bytes = random_bytes(40 << 20, 21);
  db->dir.write("in.dat", bytes);
  exec("insert into docs(id, path) values(1, 'old.bin')");
  ASSERT_EQ(blobfile("update docs set data = ? where id = 1", p("in.dat")).status, 0);
  fs::create_directories(p("work"));
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    db->dir.write("work/old.bin", "old");
    const pid_t child = vela::testing::start_process({BLOBFILE_PATH, db->cs, "select path, data from docs"}, p("work"));
    ASSERT_GT(child, 0);
    // Killed while the temporary file is being written, when the run is not over by then.
    int status = 0;
    bool writing = false;
    vela::testing::wait_until(
        [&] { return waitpid(child, &status, WNOHANG) != 0 || (writing = leftovers("work") > 0); },
        std::chrono::seconds(30), std::chrono::microseconds(500));
    if (writing) {
      kill(child, sig);
      waitpid(child, &status, 0);
    }
    const std::string now = db->dir.read("work/old.bin");
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), sig);
      EXPECT_EQ(now, "old");
    } else {
      EXPECT_TRUE(now == bytes) << now.size();
    }
    EXPECT_EQ(leftovers("work"), 0);
  }
}

TEST_P(BlobfileEdges, AFullDiskLeavesTheOldFile) {
  fs::create_directories(p("small"));
  if (mount("tmpfs", p("small").c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  db->dir.write("small/old.bin", "old");
  db->dir.write("in.dat", random_bytes(2 << 20, 22));
  exec("insert into docs(id, path) values(1, 'old.bin')");
  ASSERT_EQ(blobfile("update docs set data = ? where id = 1", p("in.dat")).status, 0);
  const run_result r = download_in("small", {});
  EXPECT_EQ(r.status, 112) << r.out << r.err;
  EXPECT_EQ(db->dir.read("small/old.bin"), "old");
  EXPECT_EQ(leftovers("small"), 0);
  umount(p("small").c_str());
}

TEST_P(BlobfileEdges, APipedUploadLeavesNoSpoolFile) {
  fs::create_directories(p("spool"));
  ASSERT_EQ(mkfifo(p("endless").c_str(), 0600), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("TMPDIR", p("spool").c_str(), 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl(BLOBFILE_PATH, BLOBFILE_PATH, db->cs.c_str(), "insert into docs(data) values(?)", p("endless").c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const int writer = open(p("endless").c_str(), O_WRONLY);  // waits for blobfile to open it
  ASSERT_GE(writer, 0);
  const std::string piece(1 << 20, 'x');
  ASSERT_EQ(write(writer, piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
  // blobfile has taken every byte written and waits for more: a spool would be written by now.
  ASSERT_TRUE(vela::testing::wait_until([&] {
    int unread = -1;
    return ioctl(writer, FIONREAD, &unread) == 0 && unread == 0 && vela::testing::process_waits_for_input(child);
  })) << "blobfile does not take its input";
  EXPECT_TRUE(fs::is_empty(p("spool")));
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  close(writer);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(fs::is_empty(p("spool")));
}

TEST_P(BlobfileEdges, AConnectionStringFileMustBePrivate) {
  struct file_case {
    mode_t mode;
    int status;
    std::string said;
  } cases[] = {
      {0600, 0, "connecting to the database... executing query...\n"},
      {0400, 0, "connecting to the database... executing query...\n"},
      {0640, 5, "Error (File '" + p("cs.txt") + "' can be read by group or others: allow its owner only (chmod 600))\n"},
      {0644, 5, "Error (File '" + p("cs.txt") + "' can be read by group or others: allow its owner only (chmod 600))\n"},
  };
  for (const file_case& c : cases) {
    SCOPED_TRACE(c.mode);
    db->dir.write("cs.txt", db->cs + "\n");
    ASSERT_EQ(chmod(p("cs.txt").c_str(), c.mode), 0);
    const run_result r = run_process({BLOBFILE_PATH, "@" + p("cs.txt"), "select path, data from docs"}, {}, {}, p(""));
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(body(r), c.said);
    EXPECT_EQ((r.out + r.err).find(db->cs), std::string::npos);
  }
}

TEST_P(BlobfileEdges, ALogParameterFileOthersCouldChangeIsIgnored) {
  if (GetParam() != "sqlite") return;  // no database involved
  const std::string wli = "[Prms]\n[Evts]\n.*=\n";
  struct wli_case {
    const char* what;
    std::function<void(const std::string& file)> make;
    bool obeyed;
  } cases[] = {
      {"private", [&](const std::string& f) { std::ofstream(f) << wli; }, true},
      {"group-writable", [&](const std::string& f) { std::ofstream(f) << wli; chmod(f.c_str(), 0664); }, false},
      {"folder writable by others",
       [&](const std::string& f) { std::ofstream(f) << wli; chmod(p("cfg/vela").c_str(), 0777); }, false},
      {"link", [&](const std::string& f) { db->dir.write("elsewhere.wli", wli); fs::create_symlink(p("elsewhere.wli"), f); }, false},
      {"FIFO", [&](const std::string& f) { mkfifo(f.c_str(), 0600); }, false},
  };
  for (const wli_case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(p("cfg"));
    fs::create_directories(p("cfg/vela"));
    chmod(p("cfg/vela").c_str(), 0755);
    const std::string file = p("cfg/vela/blobfile.wli");
    c.make(file);
    const auto start = std::chrono::steady_clock::now();
    const run_result r = run_process({BLOBFILE_PATH, db->cs, "select 1"}, {},
                                     {{"XDG_CONFIG_HOME", p("cfg")}, {"LANG", "C.UTF-8"}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.status, 13);  // no binary column: the run only has to connect and log
    EXPECT_EQ(fs::exists(p("cfg/vela/blobfile.log")), c.obeyed);
    EXPECT_EQ(r.err, c.obeyed ? "" : "The log parameter file '" + file +
                                         "' is ignored: it must be a regular file of its user or root that group "
                                         "and others cannot change, in a folder of the same kind.\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, BlobfileEdges, ::testing::Values("sqlite", "pg"), vela::testing::param_name);

// File names that would write where the user did not ask: checked before anything is written.
class BlobfileNames : public BlobfileEdges {};

TEST_P(BlobfileNames, UnusableAndOutsideNamesSkipTheirRowsOnly) {
  // Both drivers end wide text at a NUL themselves (and say so in its length), so another
  // control character stands in for it.
  const std::string nul = GetParam() == "maria" ? "concat('s', char(1), 'x')" : "'s' || char(1) || 'x'";
  const std::string tab = GetParam() == "maria" ? "concat('t', char(9), 'x')" : "'t' || char(9) || 'x'";
  struct row_case {
    std::vector<std::string> options;
    std::vector<std::string> names;  // SQL expressions, one row each, data "01", "02", ...
    std::string said;                // what follows "executing query..."
    int status;
    std::map<std::string, std::string> files;  // under the test's folder: name -> hex of its bytes
  };
  const std::string abs = p("abs.bin");
  const row_case cases[] = {
      {{}, {"'../escape.bin'", "'in.bin'"},
       " '../escape.bin' is outside the target folder; -P writes it writing to 'in.bin'... written 1 bytes.\n"
       "Rows skipped: 1\n",
       123, {{"work/in.bin", "02"}}},
      {{}, {"'" + abs + "'", "'a/../../b.bin'"},
       " '" + abs + "' is outside the target folder; -P writes it 'a/../../b.bin' is outside the target folder; -P "
       "writes it\nRows skipped: 2\n",
       123, {}},
      {{"-P"}, {"'../escape.bin'", "'" + abs + "'"},
       " writing to '../escape.bin'... written 1 bytes. writing to '" + abs + "'... written 1 bytes.\n", 0,
       {{"escape.bin", "01"}, {"abs.bin", "02"}}},
      {{"-C", "out"}, {"'x.bin'", "'../y.bin'"},
       " writing to 'out/x.bin'... written 1 bytes. '../y.bin' is outside the target folder; -P writes it\n"
       "Rows skipped: 1\n",
       123, {{"work/out/x.bin", "01"}}},
      {{"-P", "-C", "out"}, {"'../z.bin'"}, " writing to 'out/../z.bin'... written 1 bytes.\n", 0,
       {{"work/z.bin", "01"}}},
      {{}, {nul, tab, "'ok.bin'"},
       " skipped (the file name holds a control character or NUL). skipped (the file name holds a control "
       "character or NUL). writing to 'ok.bin'... written 1 bytes.\nRows skipped: 2\n",
       123, {{"work/ok.bin", "03"}}},
      {{}, {"'sub/x.bin'", "'ok.bin'"},
       " 'sub/x.bin' is reached through a folder that is a symbolic link; not written writing to 'ok.bin'... written "
       "1 bytes.\nRows skipped: 1\n",
       123, {{"work/ok.bin", "02"}}},
      {{"-P", "-C", "out/.."}, {"'sub/x.bin'"},
       " 'sub/x.bin' is reached through a folder that is a symbolic link; not written\nRows skipped: 1\n", 123, {}},
      {{}, {"'same.bin'", "'same.bin'"},
       " writing to 'same.bin'... written 1 bytes. writing to 'same.bin'... (replaces the file of row 1) written 1 "
       "bytes.\n",
       0, {{"work/same.bin", "02"}}},
  };
  for (const row_case& c : cases) {
    SCOPED_TRACE(c.said);
    fs::remove_all(p("work"));
    for (const char* f : {"escape.bin", "abs.bin", "b.bin"}) fs::remove(p(f));
    fs::create_directories(p("work/out"));
    fs::remove_all(p("evil"));
    fs::create_directories(p("evil"));
    fs::create_directory_symlink("../evil", p("work/sub"));  // a folder under the target that leads out
    exec("delete from docs");
    for (size_t i = 0; i < c.names.size(); ++i)
      exec("insert into docs(id, path, data) values(" + std::to_string(i) + ", " + c.names[i] + ", " +
           bytes_literal(std::string{'0', static_cast<char>('1' + i)}) + ")");
    const run_result r = download_in("work", c.options);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(body(r), head + c.said);
    // Exactly the expected files exist: nothing written outside, nothing cut at a NUL.
    std::map<std::string, std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(p("")))
      if (e.is_regular_file() && e.path().extension() == ".bin") {
        const std::string name = fs::relative(e.path(), p("")).generic_string();
        const std::string bytes = db->dir.read(name);
        found[name] = bytes.size() == 1 ? std::string{'0', static_cast<char>('0' + bytes[0])} : "?";
      }
    EXPECT_EQ(found, c.files);
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, BlobfileNames, ::testing::Values("sqlite", "maria"), vela::testing::param_name);
