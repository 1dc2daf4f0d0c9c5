// Loads that survive their own failures: refused records kept in a REJECTS file that loads
// once mended, MAX_ERRORS, and loads stopped part-way that go on with SKIP as they say.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "support/databases.h"
#include "support/process.h"
#include "support/sqlterm_fixture.h"
#include "support/wait.h"

using vela::testing::run_result;

namespace {

using Resume = vela::testing::sqlterm_test;

// The number after text in out (-1 when text is not there).
long long number_after(const std::string& out, const std::string& text) {
  const size_t at = out.find(text);
  return at == std::string::npos ? -1 : std::atoll(out.c_str() + at + text.size());
}

} // namespace

// A CSV file with three bad records (a malformed one, a value the database refuses, a key
// already loaded written over two lines) among good ones, also over two lines: the REJECTS
// file holds the header and exactly those records as they were, and loads once mended.
TEST_P(Resume, RejectFileHoldsTheRefusedRecordsAndLoadsMended) {
  // SQLite takes "abc" into an integer column: a NULL into a NOT NULL column there.
  const std::string refused = db->kind == "sqlite" ? "" : "abc";
  const std::string header = "id,n,t\n";
  const std::string bad = "3,\"3\"0,three\n"
                          "4," + refused + ",four\n"
                          "1,11,\"dup\nkey\"\n";
  const std::string data = header + "1,10,one\n2,20,\"two\r\nlines\"\n" + bad.substr(0, bad.find("4,")) + "5,50,five\n" +
                           bad.substr(bad.find("4,"), bad.find("1,11") - bad.find("4,")) + "6,60,six\n" +
                           bad.substr(bad.find("1,11")) + "7,70,seven\n";
  db->dir.write("r.csv", data);
  const std::string rejects = db->dir.path("r.rejects.csv");
  const struct {
    const char* batch;
  } cases[] = {{"-batch:1000"}, {"-batch:2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.batch);
    sql("drop table if exists rj");
    sql("create table rj(id int primary key, n int not null, t varchar(20))");
    const run_result r = run({c.batch, "-q:\\copy rj from '" + db->dir.path("r.csv") + "' with (format csv, header, rejects '" +
                                           rejects + "')"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Rows loaded: 5. Rows failed: 3."), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("Refused records written to " + rejects + ": 3."), std::string::npos) << r.out;
    // Each refusal is told with its line in the source.
    for (const char* line : {":5)", ":7)", ":9)"})
      EXPECT_NE((r.out + r.err).find(db->dir.path("r.csv") + line), std::string::npos) << line << r.out << r.err;
    EXPECT_EQ(db->dir.read("r.rejects.csv"), header + bad);
  }
  // Mended, the file loads with the same options, and every row is there once.
  const std::string mended = header + "3,30,three\n4,40,four\n9,11,\"dup\nkey\"\n";
  db->dir.write("mended.csv", mended);
  const run_result m = run({"-q:\\copy rj from '" + db->dir.path("mended.csv") + "' with (format csv, header, rejects '" +
                                rejects + "')"});
  EXPECT_NE(m.out.find("Rows loaded: 3. Rows failed: 0."), std::string::npos) << m.out << m.err;
  EXPECT_EQ(db->dir.read("r.rejects.csv"), header);
  EXPECT_EQ(run({"-do", "-cd:|", "-q:select count(*), sum(id), sum(n) from rj"}).out, "\n8|37|291\n\n");
  // Records of a query have no source text to keep.
  const run_result q = run({"-q:\\copy rj from connection '" + db->cs + "' query 'select 1, 2, 3' with (rejects '" + rejects + "')"});
  EXPECT_NE((q.out + q.err).find("COPY not run: REJECTS takes the records of a file"), std::string::npos) << q.out << q.err;
}

// MAX_ERRORS N stops the load at its Nth refused row: the rows before it are in the table,
// the run fails, and the SKIP it names loads the rest without a row twice (a malformed record
// that SKIP passes over is not refused again).
TEST_P(Resume, MaxErrorsStopsAtTheNthRefusedRow) {
  std::string data;
  for (int i = 1; i <= 20; ++i) data += i == 3 ? "3,\"x\"y\n" : i == 7 || i == 12 ? "1,dup\n" : std::to_string(i) + ",v\n";
  db->dir.write("m.csv", data);
  const struct {
    std::vector<std::string> args;
    std::string options;
    int stop;      // the line it stops at, 0: it goes to the end
    int loaded;    // rows loaded by the first run
  } cases[] = {
      {{}, "max_errors 1", 3, 2},
      {{"-batch:4"}, "max_errors 2", 7, 5},
      {{"-batch:4"}, "max_errors 3", 12, 9},
      {{"-batch:1"}, "max_errors 3", 12, 9},
      {{"-oe", "-batch:4"}, "max_errors 2", 7, 5},
      {{}, "max_errors 4", 0, 17},
      {{"-batch:4"}, "", 0, 17},
      {{"-oe", "-batch:4"}, "", -1, 2},  // -oe alone: the first refused row ends the load, as before
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options + " " + (c.args.empty() ? "" : c.args.back()));
    sql("drop table if exists mx");
    sql("create table mx(id int primary key, b varchar(10))");
    const std::string copy = "\\copy mx from '" + db->dir.path("m.csv") + "' with (format csv";
    std::vector<std::string> args = c.args;
    args.push_back("-q:" + copy + (c.options.empty() ? "" : ", " + c.options) + ")");
    const run_result r = run(args);
    EXPECT_EQ(number_after(r.out, "Rows loaded: "), c.loaded) << r.out << r.err;
    EXPECT_EQ(run({"-do", "-cd:|", "-q:select count(*) from mx"}).out, std::string("\n").append(std::to_string(c.loaded)).append("\n\n"));
    if (c.stop <= 0) {
      EXPECT_EQ(r.status != 0, c.stop < 0) << r.out << r.err;
      continue;
    }
    EXPECT_NE(r.status, 0);
    const std::string n = std::to_string(c.stop);
    EXPECT_NE((r.out + r.err).find("the load stopped at line " + n + ".\nRows before line " + n +
                         " are in the table or refused; to go on after it: \\copy … FROM '" + db->dir.path("m.csv") +
                         "' WITH (…, SKIP " + n + ")"),
              std::string::npos)
        << r.out << r.err;
    const run_result rest = run({"-q:" + copy + ", skip " + n + ")"});
    const int refused_after = (c.stop < 7) + (c.stop < 12);
    EXPECT_EQ(number_after(rest.out, "Rows loaded: "), 17 - c.loaded) << rest.out << rest.err;
    EXPECT_EQ(number_after(rest.out, "Rows failed: "), refused_after) << rest.out << rest.err;
    EXPECT_EQ(run({"-do", "-cd:|", "-q:select count(*), sum(id) from mx"}).out, "\n17|188\n\n");
  }
}

// Ctrl-C mid-load stops the load: the batches committed stay, the message names the SKIP to
// go on with, and the load run again so ends with every row exactly once.
TEST_P(Resume, LoadStoppedByCtrlCGoesOnWithSkip) {
  const int rows = 300000;
  std::string data = "id,t\n";
  for (int i = 1; i <= rows; ++i) data += std::to_string(i) + (i % 1000 == 500 ? ",\"two\nlines\"\n" : ",row\n");
  db->dir.write("big.csv", data);
  data.clear();
  sql("drop table if exists cc");
  sql("create table cc(id int, t varchar(10))");
  const std::string copy = "\\copy cc from '" + db->dir.path("big.csv") + "' with (format csv, header";
  const int pid = vela::testing::start_process(
      {"/bin/sh", "-c", "exec \"$0\" \"$@\" >out.txt 2>err.txt", SQLTERM_PATH, "-cs:" + db->cs, "-q:" + copy + ")"}, db->dir.path());
  auto count = [&] {
    const std::string n = run({"-do", "-q:select count(*) from cc"}).out;
    return std::atoll(n.c_str() + std::min(n.size(), n.find_first_not_of("\n ")));
  };
  EXPECT_TRUE(vela::testing::wait_until([&] { return count() > 0; }, std::chrono::seconds(120)));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  // Without -do or -oe the failure goes to standard output with the summary.
  const std::string said = db->dir.read("out.txt") + db->dir.read("err.txt");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
  EXPECT_NE(said.find("Cancelled: the load stopped."), std::string::npos) << said;
  const long long through = number_after(said, "Rows up to line ");
  ASSERT_GT(through, 1) << said;
  const long long loaded = number_after(said, "Rows loaded: ");
  EXPECT_LT(loaded, rows) << said;
  EXPECT_EQ(count(), loaded);
  EXPECT_NE(said.find(" are in the table; to go on from there: \\copy … FROM '" + db->dir.path("big.csv") + "' WITH (…, SKIP " +
                     std::to_string(through) + ")"),
            std::string::npos)
      << said;
  const run_result rest = run({"-q:" + copy + ", skip " + std::to_string(through) + ")"});
  EXPECT_EQ(rest.status, 0) << rest.out << rest.err;
  EXPECT_NE(rest.out.find("Rows failed: 0."), std::string::npos) << rest.out;
  EXPECT_EQ(run({"-do", "-cd:|", "-q:select count(*), count(distinct id), sum(id), min(id), max(id) from cc"}).out,
            "\n300000|300000|45000150000|1|300000\n\n");
}

INSTANTIATE_TEST_SUITE_P(Databases, Resume, vela::testing::all_databases(), vela::testing::param_name);
