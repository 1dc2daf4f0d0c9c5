// blobfile run as a process against SQLite3, PostgreSQL and MariaDB.
#include <gtest/gtest.h>

#include <strings.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "support/databases.h"
#include "support/sqlterm_fixture.h"
#include "support/process.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/utf.h"

using namespace vela;
using namespace vela::odbc;
using vela::testing::database;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::widen;
namespace fs = std::filesystem;

namespace {

// Everything after the banner line.
std::string body(const run_result& r) {
  const size_t nl = r.out.find('\n');
  return nl == std::string::npos ? std::string() : r.out.substr(nl + 1);
}

class Blobfile : public vela::testing::connected_test {
 protected:
  void SetUp() override {
    connected_test::SetUp();
    if (HasFatalFailure()) return;
    exec("drop table if exists docs");
    exec(std::string("create table docs(id integer, path varchar(255), data ") + db->blob_type() + ", extra " +
         db->blob_type() + ")");
  }

  run_result blobfile(const std::string& statement, const std::string& file = {}) {
    std::vector<std::string> argv{BLOBFILE_PATH, db->cs, statement};
    // The rows name absolute paths in the test's folder.
    if (strncasecmp(statement.c_str(), "select", 6) == 0) argv.insert(argv.begin() + 1, "-P");
    if (!file.empty()) argv.push_back(file);
    return run_process(argv);
  }

  // Uploads a file into row id and checks the console line.
  void upload(int id, const std::string& file) {
    exec("insert into docs(id, path) values(" + std::to_string(id) + ", '" + db->dir.path("out" + std::to_string(id)) + "')");
    const run_result r = blobfile("update docs set data = ? where id = " + std::to_string(id), file);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(body(r), "connecting to the database... executing query...writing " + file + " to database... OK\n");
  }

  std::string p(const std::string& name) const { return db->dir.path(name); }
};

} // namespace

TEST_P(Blobfile, UploadsThenDownloadsByteForByte) {
  const size_t mib = 1 << 20;
  const std::string zero, one = vela::testing::random_bytes(mib, 1), big = vela::testing::random_bytes(40 * mib, 2);
  db->dir.write("zero.dat", zero);
  db->dir.write("one.dat", one);
  db->dir.write("big.dat", big);
  upload(1, p("zero.dat"));
  upload(2, p("one.dat"));
  upload(3, p("big.dat"));
  exec("insert into docs(id, path) values(4, '" + p("out4") + "')");  // NULL data
  exec("insert into docs(id, path, data) values(5, null, " + db->hex("00") + ")");

  const run_result r = blobfile("select path, data from docs order by id");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(body(r), "connecting to the database... executing query... writing to '" + p("out1") + "'... written 0 bytes. writing to '" +
                         p("out2") + "'... written 1048576 bytes. writing to '" + p("out3") +
                         "'... written 41943040 bytes. writing to '" + p("out4") +
                         "'... written 0 bytes. skipped (no file name).\n");
  EXPECT_EQ(db->dir.read("out1"), zero);
  EXPECT_TRUE(db->dir.read("out2") == one);
  EXPECT_TRUE(db->dir.read("out3") == big);
  EXPECT_TRUE(fs::exists(p("out4")));
  EXPECT_EQ(fs::file_size(p("out4")), 0u);
}

TEST_P(Blobfile, ColumnsAreFoundByTypeNotPosition) {
  exec("insert into docs values(1, '" + p("a") + "', " + db->hex("4142") + ", " + db->hex("5A") + ")");
  run_result r = blobfile("SELECT data, path from docs");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(body(r), "connecting to the database... executing query... writing to '" + p("a") + "'... written 2 bytes.\n");
  EXPECT_EQ(db->dir.read("a"), "AB");
  r = blobfile("sElEcT extra, data, path from docs");  // two binary columns: the first is written
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(db->dir.read("a"), "Z");
  r = blobfile("select path, data from docs where id = 99");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(body(r), "connecting to the database... executing query...\n");
  r = blobfile("select id, path from docs");
  EXPECT_EQ(r.status, 13);
  EXPECT_NE(r.out.find("Error ("), std::string::npos);
  EXPECT_NE(r.out.find("Incorrect result set."), std::string::npos);
}

TEST_P(Blobfile, TextFilesGoInAsUtf16) {
  db->dir.write("notes.TXT", "Привет, мир\n");
  upload(1, p("notes.TXT"));
  db->dir.write("notes.dat", "Привет, мир\n");
  upload(2, p("notes.dat"));
  ASSERT_EQ(blobfile("select path, data from docs order by id").status, 0);
  const std::u16string units = u"Привет, мир\n";
  std::string expected;
  for (char16_t u : units) {
    expected += static_cast<char>(u & 0xFF);
    expected += static_cast<char>(u >> 8);
  }
  EXPECT_EQ(db->dir.read("out1"), expected);  // no mark
  EXPECT_EQ(db->dir.read("out2"), "Привет, мир\n");
  // INSERT works as well as UPDATE.
  const run_result r = blobfile("insert into docs(id, data) values(3, ?)", p("notes.dat"));
  EXPECT_EQ(r.status, 0) << r.out;
}

// A file named as text whose bytes are not that text exactly goes in as it is, with a
// notice; UTF-16 text still goes in as text (without its mark).
TEST_P(Blobfile, TextNamedFilesThatAreNotTextGoInAsTheyAre) {
  const std::string utf16("\xFF\xFE\x1F\x04\x40\x04\x38\x04\x32\x04\x35\x04\x42\x04\r\0\n\0", 18);  // "Привет\r\n"
  const struct {
    std::string name, bytes, stored;
  } cases[] = {
      {"arch.dialog", std::string("PK\x03\x04\x14\0\0\0\x08\0", 10) + vela::testing::random_bytes(4086, 3), {}},
      {"random.txt", vela::testing::random_bytes(4096, 4), {}},
      {"utf16.txt", utf16, utf16.substr(2)},
  };
  int id = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    db->dir.write(c.name, c.bytes);
    exec("insert into docs(id, path) values(" + std::to_string(++id) + ", '" + p("back-" + c.name) + "')");
    const run_result r = blobfile("update docs set data = ? where id = " + std::to_string(id), p(c.name));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(body(r), "connecting to the database... executing query...writing " + p(c.name) + " to database... OK\n");
    EXPECT_EQ(r.err, c.stored.empty() ? p(c.name) + ": not plain text, sent as raw bytes\n" : "");
  }
  ASSERT_EQ(blobfile("select path, data from docs").status, 0);
  for (const auto& c : cases) EXPECT_TRUE(db->dir.read("back-" + c.name) == (c.stored.empty() ? c.bytes : c.stored)) << c.name;
}

TEST_P(Blobfile, FailuresAndExitCodes) {
  run_result r = run_process({BLOBFILE_PATH});
  EXPECT_EQ(r.status, 87);
  EXPECT_NE(r.out.find("\nStartup: blobfile [-P] [-C <folder>] [-hosts:<list>] [-target:<kind>] [-host_order:<order>] [-retry:<N>]\n"
                           "                <connection string> <SQL query> [file]\n"), std::string::npos) << r.out;

  r = run_process({BLOBFILE_PATH, "Driver={No Such Driver};", "select 1"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(body(r).find("connecting to the database...Error ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[01000]"), std::string::npos);
  EXPECT_EQ(r.out.find("executing query"), std::string::npos);

  exec("insert into docs values(1, '" + p("x") + "', null, null)");
  r = blobfile(" select path, data from docs");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(body(r), "connecting to the database... executing query...\n");
  EXPECT_FALSE(fs::exists(p("x")));

  r = blobfile("insert into docs(id, data) values(2, ?)", p("missing.dat"));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("writing " + p("missing.dat") + " to database...Error ("), std::string::npos) << r.out;

  exec("update docs set path = '" + p("no/such/dir/file") + "'");
  r = blobfile("select path, data from docs");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find(p("no/such/dir/file")), std::string::npos) << r.out;

  // A failing statement reports the database's text.
  r = blobfile("select path, data from no_such_table");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("Error ("), std::string::npos);
}

// A statement of several results: the first set is the one written; the rest are read to
// their end, and a failure there is the run's.
TEST_P(Blobfile, ResultsAfterTheFirstSetArePassedOver) {
  if (!db->d.server) return;  // SQLite runs one statement of a text
  exec("insert into docs(id, path, data) values(1, '" + p("r1") + "', " + db->hex("41") + ")");
  std::string cs = db->cs;
  if (GetParam() == "maria") {
    exec("drop procedure if exists fails_late");
    exec("create procedure fails_late() begin select 1; signal sqlstate '45000' set message_text = 'late failure'; end");
    cs += "OPTION=67108864;";  // several statements in one text
  }
  const struct {
    const char* more;
    int status;
  } cases[] = {{"select 2", 0}, {"call fails_late()", 10}};
  for (const auto& c : cases) {
    if (c.status && GetParam() != "maria") continue;
    fs::remove(p("r1"));
    const run_result r = run_process({BLOBFILE_PATH, "-P", cs, std::string("select path, data from docs; ") + c.more});
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_EQ(r.out.find("late failure") != std::string::npos, c.status != 0) << r.out;
    EXPECT_EQ(db->dir.read("r1"), "A") << c.more;
  }
}

TEST_P(Blobfile, PathsThatDoNotFitAreRefused) {
  // Only a database that keeps text longer than the declared size can hand it over.
  if (!db->d.keeps_overlong_text) return;
  const std::string long_path = "/tmp/" + std::string(5000, 'p');
  exec("insert into docs values(1, '" + long_path + "', null, null)");
  const run_result r = blobfile("select path, data from docs");
  EXPECT_EQ(r.status, 206) << r.out;
  EXPECT_NE(r.out.find("Error ("), std::string::npos);
  EXPECT_EQ(r.out.find("Src/File/"), std::string::npos);  // the source position is for the log
}

TEST_P(Blobfile, ValuesMoveInPiecesOfOneMebibyte) {
  // The driver manager's own trace shows every call the program makes.
  const std::string sys = p("odbcsys");
  fs::create_directories(sys);
  fs::copy_file("/etc/odbcinst.ini", sys + "/odbcinst.ini");
  {
    std::ofstream ini(sys + "/odbcinst.ini", std::ios::app);
    ini << "\n[ODBC]\nTrace=Yes\nTraceFile=" << p("trace.log") << "\n";
  }
  const std::map<std::string, std::string> env{{"ODBCSYSINI", sys}};
  db->dir.write("in.dat", vela::testing::random_bytes(3 << 20, 3));  // 3 MiB
  exec("insert into docs(id, path) values(1, '" + p("out.dat") + "')");
  run_result r = run_process({BLOBFILE_PATH, db->cs, "update docs set data = ? where id = 1", p("in.dat")}, {}, env);
  ASSERT_EQ(r.status, 0) << r.out;
  // The return of every call of one function, in order ("[ODBC][pid][time][SQLGetData.c][line]").
  auto calls = [this](const std::string& name) {
    const std::string trace = db->dir.read("trace.log");
    std::vector<std::string> exits;
    const std::string header = "][" + name + ".c][";
    size_t last_exit = std::string::npos;
    for (size_t at = trace.find(header); at != std::string::npos; at = trace.find(header, at + 1)) {
      const size_t exit = trace.find("Exit:[", at);
      if (exit == std::string::npos) break;
      if (exit == last_exit) continue;  // the header is written on entry and again on exit
      last_exit = exit;
      exits.push_back(trace.substr(exit + 6, trace.find(']', exit) - exit - 6));
    }
    return exits;
  };
  EXPECT_EQ(calls("SQLPutData").size(), 3u);  // three pieces of 1 MiB
  fs::remove(p("trace.log"));
  r = run_process({BLOBFILE_PATH, "-P", db->cs, "select path, data from docs"}, {}, env);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(calls("SQLGetData"),
            (std::vector<std::string>{"SQL_SUCCESS_WITH_INFO", "SQL_SUCCESS_WITH_INFO", "SQL_SUCCESS"}));
  EXPECT_TRUE(db->dir.read("out.dat") == db->dir.read("in.dat"));
}

TEST_P(Blobfile, AFetchThatFailsMidwayIsAnError) {
  // SQLite evaluates this row by row (StepAPI=1): the second row fails while fetched.
  if (GetParam() != "sqlite") return;
  exec("insert into docs(id, path, data) values(1, '" + p("r1") + "', x'41')");
  exec("insert into docs(id, path, data) values(2, '" + p("r2") + "', x'42')");
  const run_result r = run_process({BLOBFILE_PATH, "-P", db->cs + "StepAPI=1;",
                                    "select path, data, case when id = 2 then abs(-9223372036854775808) end from docs"});
  EXPECT_EQ(r.status, 10) << r.out;  // the database error, not success
  EXPECT_NE(r.out.find("written 1 bytes.\nError ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("integer overflow"), std::string::npos) << r.out;
  EXPECT_EQ(db->dir.read("r1"), "A");
  EXPECT_FALSE(fs::exists(p("r2")));
}

INSTANTIATE_TEST_SUITE_P(Drivers, Blobfile, vela::testing::all_databases(), vela::testing::param_name);
