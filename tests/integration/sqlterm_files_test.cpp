// Files sqlterm writes and reads: a \copy TO file is put in place whole or not at all, and a
// script that cannot be read is an error before any connection is tried.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "support/databases.h"
#include "support/process.h"
#include "support/sqlterm_fixture.h"

using vela::testing::run_process;
using vela::testing::run_result;
namespace fs = std::filesystem;

namespace {

constexpr const char* row_text = "a row of the export, long enough to fill the file";

class CopyTo : public vela::testing::sqlterm_test {
 protected:
  std::string p(const std::string& name) const { return db->dir.path(name); }

  // A script exporting rows numbered 1 to n into file.
  std::string export_script(const std::string& file, int rows) const {
    return "\\copy (with recursive c(x) as (select 1 union all select x + 1 from c where x < " + std::to_string(rows) +
           ") select x, '" + row_text + "' from c) to '" + file + "'\n";
  }

  // The whole export of export_script's rows, ending with the last.
  static bool whole(const std::string& bytes) {
    const std::string last = "\n1000000\t" + std::string(row_text) + "\n";
    return bytes.rfind("1\t", 0) == 0 && bytes.size() > last.size() && bytes.compare(bytes.size() - last.size(), last.size(), last) == 0;
  }

  // Temporary files an export may have left in a folder.
  int leftovers(const std::string& folder) const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(p(folder))) n += e.path().filename().string().rfind(".vela-", 0) == 0;
    return n;
  }
};

const std::string old_bytes = "old\x00\xff bytes\r\n";

} // namespace

// A query that fails and a disk that fills leave the old file byte for byte, and the
// message names the file.
TEST_P(CopyTo, AFailedExportLeavesTheOldFile) {
  fs::create_directories(p("out"));
  const bool small_disk = geteuid() == 0 && mount("tmpfs", p("out").c_str(), "tmpfs", 0, "size=1m") == 0;
  const struct {
    std::string script;
    std::string said;
    bool needs_small_disk;
  } cases[] = {
      {"\\copy (select * from nosuch) to '" + p("out/f.txt") + "'\n", "COPY not run", false},
      {export_script(p("out/f.txt"), 100000), p("out/f.txt") + ": There is not enough space on the disk.", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    if (c.needs_small_disk && !small_disk) {
      std::cout << "[  SKIPPED ] no small disk: not root, or tmpfs not mounted\n";
      continue;
    }
    db->dir.write("out/f.txt", old_bytes);
    db->dir.write("c.sql", c.script);
    const run_result r = run({"-oe", "-qf:" + p("c.sql")});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(db->dir.read("out/f.txt"), old_bytes);
    EXPECT_EQ(leftovers("out"), 0);
  }
  if (small_disk) umount(p("out").c_str());
}

// Killed while it writes, an export leaves the old file and no temporary file; let run, it
// replaces the file.
TEST_P(CopyTo, AKilledExportLeavesTheOldFile) {
  fs::create_directories(p("out"));
  db->dir.write("c.sql", export_script(p("out/f.txt"), 1000000));
  for (const int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    db->dir.write("out/f.txt", old_bytes);
    const int child = vela::testing::start_process({SQLTERM_PATH, "-cs:" + db->cs, "-qf:" + p("c.sql")}, p("out"));
    ASSERT_GT(child, 0);
    const int status = vela::testing::signal_when_file_grows(child, p("out"), ".vela-", 1, sig);
    if (status == 128 + sig) EXPECT_EQ(db->dir.read("out/f.txt"), old_bytes);
    else EXPECT_TRUE(whole(db->dir.read("out/f.txt"))) << status;  // not killed in time
    EXPECT_EQ(leftovers("out"), 0);
  }
  const run_result r = run({"-qf:" + p("c.sql")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(whole(db->dir.read("out/f.txt")));
  EXPECT_EQ(leftovers("out"), 0);
}

INSTANTIATE_TEST_SUITE_P(Databases, CopyTo, ::testing::Values("sqlite", "pg"), vela::testing::param_name);

// A script that cannot be read, or whose code page no converter takes, fails before the
// connection is tried: the connection string names no driver that exists.
TEST(ScriptBeforeConnect, UnreadableScriptsFailFirst) {
  vela::testing::temp_dir dir;
  dir.write("s.sql", "select 1;\n");
  fs::create_directories(dir.path("folder"));
  const struct {
    std::string option;
    int status;
  } cases[] = {
      {"-qf:" + dir.path("s.sql") + ",99999", 87},
      {"-qf:" + dir.path("s.sql") + ",koi8", 87},
      {"-qf:" + dir.path("missing.sql"), 2},
      {"-qf:" + dir.path("folder"), 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    const run_result r = run_process({SQLTERM_PATH, "-cs:Driver=NoSuchDriver;", c.option});
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("Command failed. "), std::string::npos) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find("NoSuchDriver"), std::string::npos) << r.out << r.err;
  }
}
