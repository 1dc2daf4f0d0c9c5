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
#include "support/pty_session.h"
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
  const int rows = 1000000;
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
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;  // as a run ended by Ctrl-C
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
            "\n1000000|1000000|500000500000|1|1000000\n\n");
}

INSTANTIATE_TEST_SUITE_P(Databases, Resume, vela::testing::all_databases(), vela::testing::param_name);

// The REJECTS file keeps each record in the form of its source, byte for byte: text format,
// CR LF, another code page, bytes that are not UTF-8, malformed records over several lines,
// SKIP, a COPY block of a script, and -oe (which stops at the first).
TEST(RejectFile, KeepsTheSourceForm) {
  vela::testing::database db("sqlite");
  const std::string table = "create table rf(id int not null, t varchar(20) not null)";
  const struct {
    const char* name;
    std::string data;
    std::string options;
    std::string rejects;  // the REJECTS file afterwards
    int loaded;
    std::vector<std::string> args = {};
  } cases[] = {
      {"text format", "1\tone\n2\n3\t\\N\n4\ta\\tb\n", "", "2\n3\t\\N\n", 2},
      {"CR LF", "id,t\r\n1,one\r\n2\r\n3,\"x\r\ny\"\r\n", "format csv, header", "id,t\r\n2\r\n", 2},
      {"code page", "1,\xcf\xf0\xe8\n2,\xe2\xe5\xf2,x\n", "format csv, encoding 'WIN1251'", "2,\xe2\xe5\xf2,x\n", 1},
      {"not UTF-8", "1,ok\n2,a\xff" "b\n", "format csv", "2,a\xff" "b\n", 1},
      {"text after a quote, over lines", "1,a\n3,\"a\nb\"x,c\n4,d\n", "format csv", "3,\"a\nb\"x,c\n", 2},
      {"quote open at the end", "1,a\n5,\"abc\n6,x\n", "format csv", "5,\"abc\n", 2},
      {"SKIP with a header", "id,t\n1\n2,b\n3,c\n4\n5,e\n", "format csv, header, skip 3", "id,t\n4\n", 2},
      {"-oe stops at the first", "1,a\n2\n3\n4,d\n", "format csv", "2\n", 1, {"-oe"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    db.dir.write("in.csv", c.data);
    std::vector<std::string> args = {SQLTERM_PATH, "-cs:" + db.cs};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("-q:drop table if exists rf; " + table + ";\n\\copy rf from '" + db.dir.path("in.csv") + "' with (" +
                   c.options + (c.options.empty() ? "" : ", ") + "rejects '" + db.dir.path("out.rej") + "')");
    const run_result r = vela::testing::run_process(args);
    EXPECT_NE(r.out.find("Rows loaded: " + std::to_string(c.loaded) + "."), std::string::npos) << r.out << r.err;
    EXPECT_EQ(db.dir.read("out.rej"), c.rejects);
  }
  // A COPY block of a script: its refused rows as they stood in the script.
  db.dir.write("s.sql", "drop table if exists rf;\n" + table + ";\nCOPY rf FROM stdin WITH (rejects '" + db.dir.path("block.rej") +
                            "');\n1\tone\n2\n3\tthree\n\\.\nselect 1;\n");
  const run_result s = vela::testing::run_process({SQLTERM_PATH, "-cs:" + db.cs, "-qf:" + db.dir.path("s.sql")});
  EXPECT_NE(s.out.find("Rows loaded: 2. Rows failed: 1."), std::string::npos) << s.out << s.err;
  EXPECT_EQ(db.dir.read("block.rej"), "2\n");
  // REJECTS naming the source itself: the source is read whole before the file is replaced.
  std::string same;
  for (int i = 1; i <= 5000; ++i) same += i % 1000 ? std::to_string(i) + ",v\n" : std::to_string(i) + "\n";
  db.dir.write("same.csv", same);
  const run_result t = vela::testing::run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:\\copy rf from '" + db.dir.path("same.csv") +
                                                   "' with (format csv, rejects '" + db.dir.path("same.csv") + "')"});
  EXPECT_NE(t.out.find("Rows loaded: 4995. Rows failed: 5."), std::string::npos) << t.out << t.err;
  EXPECT_EQ(db.dir.read("same.csv"), "1000\n2000\n3000\n4000\n5000\n");
}

// \copy TO with ENCODING writes the file in that code page, and it loads back equal.
TEST(CopyInACodePage, GoesOutAndBackInIt) {
  vela::testing::database db("sqlite");
  const std::string out = db.dir.path("o.txt");
  const run_result r = vela::testing::run_process(
      {SQLTERM_PATH, "-cs:" + db.cs, "-q:create table a(t text); create table b(t text); insert into a values('Привет');\n"
                                     "\\copy a to '" + out + "' with (encoding 'WIN1251')\n"
                                     "\\copy b from '" + out + "' with (encoding 'WIN1251')"});
  EXPECT_NE(r.out.find("Rows loaded: 1. Rows failed: 0."), std::string::npos) << r.out << r.err;
  EXPECT_EQ(db.dir.read("o.txt"), "\xcf\xf0\xe8\xe2\xe5\xf2\n");
  EXPECT_EQ(vela::testing::run_process({SQLTERM_PATH, "-cs:" + db.cs, "-do", "-cd:|", "-q:select count(*) from a join b on a.t = b.t"}).out,
            "\n1\n\n");
}

// At the prompt Ctrl-C stops the load and the session goes on: the rows committed stay and
// the next statement runs.
TEST(ResumeAtPrompt, CtrlCStopsTheLoadAndThePromptComesBack) {
  vela::testing::database db("sqlite");
  std::string data;
  for (int i = 1; i <= 2000000; ++i) data += std::to_string(i) + "\n";
  db.dir.write("p.txt", data);
  ASSERT_EQ(vela::testing::run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:create table p(a int)"}).status, 0);
  vela::testing::pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, {{"XDG_STATE_HOME", db.dir.path("state")}, {"HOME", db.dir.path()}});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  ASSERT_TRUE(s.waits_for_input()) << s.output();
  s.type("\\copy p from '" + db.dir.path("p.txt") + "'\r");
  ASSERT_TRUE(vela::testing::wait_until([&] { return vela::testing::process_cpu_ms(s.pid()) > 300; })) << s.output();
  kill(s.pid(), SIGINT);
  ASSERT_TRUE(s.expect("Cancelled: the load stopped.")) << s.output();
  ASSERT_TRUE(s.expect("SQL>")) << s.output();
  s.type("select 'after' || 'wards';\r");
  EXPECT_TRUE(s.expect("afterwards")) << s.output();
  s.type("exit\r");
  EXPECT_EQ(s.wait_exit(5), 0) << s.output();
  const long long through = number_after(s.output(), "Rows up to line ");
  EXPECT_GT(through, 0) << s.output();
  EXPECT_EQ(vela::testing::run_process({SQLTERM_PATH, "-cs:" + db.cs, "-do", "-cd:|", "-q:select count(*), max(a) from p"}).out,
            "\n" + std::to_string(through) + "|" + std::to_string(through) + "\n\n");
}
