// sqlterm in scripts and exports, against SQLite3, PostgreSQL and MariaDB: stopping at the first
// failure with its exit status, CSV that a CSV reader takes back unchanged, the NULL text,
// long text and binary columns, --help and --version, and the new options in any order.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "support/process.h"
#include "support/sqlterm_fixture.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using vela::testing::database;
using vela::testing::run_process;
using vela::testing::run_result;

namespace {

class SqltermExport : public vela::testing::sqlterm_test {
 protected:
  void SetUp() override {
    sqlterm_test::SetUp();
    if (!HasFatalFailure()) use_table("e_");
  }

  std::string count_rows() {
    const run_result r = run({"-do", "-csv", "-q:select count(*) from " + table});
    return r.out;
  }

  // A text literal; the character beyond U+FFFF is made by a function (the SQLite driver
  // takes no such character in a statement's text).
  std::string literal(const std::string& v) const {
    std::string s = "'" + v + "'";
    if (maria()) return s;
    const std::string emoji = "😀";
    for (size_t at; (at = s.find(emoji)) != std::string::npos;)
      s.replace(at, emoji.size(), std::string("' || ") + (pg() ? "chr" : "char") + "(128512) || '");
    return s;
  }

  std::string hex_literal(const std::string& hex) const { return db->hex(hex); }
};

// Each field as hexadecimal, fields split by a blank, one row a line: what Python's csv
// module read, in a form that survives any byte.
std::string hex_rows(const std::vector<std::vector<std::string>>& rows) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) s += ' ';
      s += '.';  // an empty field stays visible
      for (unsigned char c : row[i]) {
        s += digits[c >> 4];
        s += digits[c & 15];
      }
    }
    s += '\n';
  }
  return s;
}

std::string replaced(std::string s, const std::string& what, const std::string& with) {
  const size_t at = s.find(what);
  if (at != std::string::npos) s.replace(at, what.size(), with);
  return s;
}

const std::vector<std::pair<int, const char*>> awkward_values = {
    {1, "a,b"},          {2, "say \"hi\""},     {3, "cr\rhere"}, {4, "lf\nhere"},  {5, "crlf\r\nx"},
    {6, "  lead"},       {7, "trail  "},        {8, ""},         {9, nullptr},     {10, "日本語 ж😀"},
    {11, "\"quoted\""}, {12, "semi;colon"},
};

} // namespace

// ---- -oe: the first failure ends the run ----------------------------------------------

TEST_P(SqltermExport, OnErrorStopsAtAFailedStatementInEverySource) {
  sql("create table " + table + "(id integer)");
  const std::string script = "insert into " + table + " values(1); insert into nosuch_table values(2); insert into " +
                             table + " values(3);";
  // Without -oe every statement runs and the run succeeds.
  run_result r = run({"-do", "-q:" + script});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("nosuch_table"), std::string::npos) << r.err;
  EXPECT_EQ(count_rows(), "2\n");
  sql("delete from " + table);

  // -q: the failure's code is the exit status; the third statement never runs.
  r = run({"-oe", "-q:" + script});
  const int failed = r.status;
  EXPECT_TRUE(failed == 10 || failed == 11) << failed;
  EXPECT_NE(r.err.find("nosuch_table"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find(r.err.substr(0, 12)), std::string::npos) << "the echo only, never the error, on stdout";
  EXPECT_EQ(count_rows(), "1\n");
  sql("delete from " + table);

  // -qf
  const std::string path = db->dir.path("script.sql");
  std::ofstream(path) << script << "\n";
  r = run({"-qf:" + path, "-on_error", "-do"});
  EXPECT_EQ(r.status, failed);
  EXPECT_EQ(r.out, "\n\n\n");
  EXPECT_EQ(count_rows(), "1\n");
  sql("delete from " + table);

  // -qi: standard input is not read further.
  r = run({"-qi", "-OE", "-do"}, "insert into " + table + " values(1);\nselect * from nosuch_table;\ninsert into " +
                                     table + " values(3);\n");
  EXPECT_EQ(r.status, failed);
  EXPECT_EQ(count_rows(), "1\n");
  // A failure at the prompt (no -q, -qf, -qi) ends the run as well.
  r = run({"-oe", "-do"}, "select * from nosuch_table\nselect 1 as x\n");
  EXPECT_EQ(r.status, failed);
  EXPECT_EQ(r.out.find("\n1"), std::string::npos) << r.out;
}

TEST_P(SqltermExport, OnErrorRunsToTheEndWhenNothingFails) {
  const run_result r = run({"-oe", "-csv", "-do", "-q:select 1 as a; select 2 as b"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1\n2\n");
  EXPECT_EQ(r.err, "");
}

TEST(SqltermExportProgram, OnErrorStopsAtAFailedStartUpConnect) {
  for (const std::vector<std::string>& extra : {std::vector<std::string>{"-q:select 1"},
                                                std::vector<std::string>{"-qi"}, std::vector<std::string>{}}) {
    std::vector<std::string> args{SQLTERM_PATH, "-oe", "-cs:Driver={No Such Driver};PWD=topsecret"};
    args.insert(args.end(), extra.begin(), extra.end());
    const run_result r = run_process(args, "select 1;\n");
    EXPECT_EQ(r.status, 10) << args.back();
    EXPECT_EQ(r.out.find("select"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(">"), std::string::npos) << "no prompt after the failed connect";
    EXPECT_NE(r.err.find("Failed to connect to 'Driver={No Such Driver};PWD=*hidden*'"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("topsecret"), std::string::npos);
  }
  // Without -oe the run goes on and ends with 0, as always.
  EXPECT_EQ(run_process({SQLTERM_PATH, "-cs:Driver={No Such Driver}", "-q:select 1"}).status, 0);
}

#ifndef _WIN32
// A run without a terminal loads no line editor nor a pattern library of its own (the
// loader tells which files it loads).
TEST(SqltermExportProgram, AStartUpWithoutATerminalLoadsOnlyWhatItUses) {
  const run_result r = run_process({SQLTERM_PATH, "-cs:Driver={No Such Driver}", "-q:select 1"}, "",
                                   {{"LD_DEBUG", "files"}, {"LANG", "C.UTF-8"}, {"LC_ALL", "\x01"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("file=libodbc.so.2"), std::string::npos) << "the loader tells what it loads";
  for (const char* library : {"libedit", "libtinfo", "libre2"})
    EXPECT_EQ(r.err.find(std::string("file=") + library), std::string::npos) << library;
}
#endif

// ---- -qi: an unterminated last statement --------------------------------------------

TEST_P(SqltermExport, UnterminatedLastStatementIsReportedNotRun) {
  sql("create table " + table + "(id integer)");
  run_result r = run({"-qi", "-do"}, "insert into " + table + " values(1);\ninsert into " + table + " values(2)\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Statement not run, it does not end with ';': insert into " + table + " values(2)\n");
  EXPECT_EQ(count_rows(), "1\n");
  // With -oe it fails the run.
  r = run({"-qi", "-do", "-oe"}, "select 1;\nselect 2");
  EXPECT_EQ(r.status, 13);
  EXPECT_NE(r.err.find("select 2"), std::string::npos);
  // Trailing blanks and comments are nothing to report.
  r = run({"-qi", "-do", "-oe"}, "select 1;\n  \n-- done\n/* end */\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// ---- -csv -------------------------------------------------------------------------------

TEST_P(SqltermExport, CsvQuotesWhatNeedsQuotingAndShowsNullAsAsked) {
  sql("create table " + table + "(id integer, v varchar(40))");
  std::string inserts;
  for (const auto& [id, v] : awkward_values)
    inserts += "insert into " + table + " values(" + std::to_string(id) + ", " +
               (v ? literal(v) : std::string("null")) + ");";
  sql(inserts);
  const std::string select = "-q:select id, v as \"the, value\" from " + table + " order by id";
  const std::string body =
      "1,\"a,b\"\n2,\"say \"\"hi\"\"\"\n3,\"cr\rhere\"\n4,\"lf\nhere\"\n5,\"crlf\r\nx\"\n6,  lead\n7,trail  \n8,\n"
      "9,@NULL@\n10,日本語 ж😀\n11,\"\"\"quoted\"\"\"\n12,semi;colon\n";
  run_result r = run({"-csv", select});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "id,\"the, value\"\n" + replaced(body, "@NULL@", ""));
  // Summaries and connection messages go to standard error.
  EXPECT_NE(r.err.find("Rows selected: 12."), std::string::npos) << r.err;
  r = run({"-csv", "-do", "-null:\\N", select});
  EXPECT_EQ(r.out, replaced(body, "@NULL@", "\\N"));
  EXPECT_EQ(r.err, "");
  // Another delimiter: now ";" needs quotes and "," does not; a NULL text holding it is quoted too.
  r = run({"-csv", "-do", "-cd:;", "-null:a;b", "-q:select v from " + table + " where id in (1, 9, 12) order by id"});
  EXPECT_EQ(r.out, "a,b\n\"a;b\"\n\"semi;colon\"\n");
}

TEST_P(SqltermExport, CsvReadBackByPythonEqualsTheTable) {
  sql("create table " + table + "(id integer, v varchar(40), n numeric(10,2))");
  std::string inserts;
  std::vector<std::vector<std::string>> expected{{"id", "v", "n"}};
  for (const auto& [id, v] : awkward_values) {
    if (!v) continue;  // NULL has its own test: a CSV reader cannot tell it from ""
    const std::string n = std::to_string(id) + ".25";
    inserts += "insert into " + table + " values(" + std::to_string(id) + ", " + literal(v) + ", " + n + ");";
    expected.push_back({std::to_string(id), v, n});
  }
  sql(inserts);
  const std::string csv_file = db->dir.path("out.csv");
  run_result r = run({"-q:select id, v, n from " + table + " order by id", "-csv"});
  ASSERT_EQ(r.status, 0);
  std::ofstream(csv_file, std::ios::binary) << r.out;
  r = run_process({"python3", "-c",
                   "import csv, sys\n"
                   "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                   "    for row in csv.reader(f):\n"
                   "        print(' '.join('.' + v.encode('utf-8').hex() for v in row))\n",
                   csv_file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, hex_rows(expected));
}

TEST_P(SqltermExport, CsvKeepsEveryValueWhole) {
  // A value longer than its column's display size, and several result sets one after another.
  const std::string longer = std::string(300, 'x') + ",\"" + std::string(300, 'y');
  const std::string cast = pg() ? "cast('" + longer + "' as varchar(5000))" : "'" + longer + "'";
  const run_result r = run({"-csv", "-lc", "-q:select " + cast + " as v; select 1 as a, 2 as b"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "v\n\"" + std::string(300, 'x') + ",\"\"" + std::string(300, 'y') + "\"\na,b\n1,2\n");
}

// ---- -lc ---------------------------------------------------------------------------------

TEST_P(SqltermExport, LongColumnsAsTextAndHexadecimal) {
  sql("create table " + table + "(id integer, body text, data " + db->blob_type() + ")");
  sql("insert into " + table + " values(1, 'long text, here', " + hex_literal("0102ff") + ");"
      "insert into " + table + " values(2, null, null);"
      "insert into " + table + " values(3, '', " + hex_literal("") + ")");
  const std::string select = "-q:select body, data from " + table + " order by id";
  // Left out without -lc in the delimited layout, named on standard error; CSV prints them.
  run_result r = run({"-cd:,", "-do", select});
  EXPECT_EQ(r.out, "\n,\n,\n,\n\n");
  EXPECT_NE(r.err.find("Column 'body' (long text or binary) is left out; -lc prints it."), std::string::npos);
  r = run({"-csv", "-do", select});
  EXPECT_EQ(r.out, "\"long text, here\",\\x0102ff\n,\n,\\x\n");
  r = run({"-csv", "-lc", select});
  EXPECT_EQ(r.out, "body,data\n\"long text, here\",\\x0102ff\n,\n,\\x\n");  // as \copy FROM reads them
  EXPECT_EQ(r.err.find("left out"), std::string::npos);
  r = run({"-do", "-cd:|", "-lc", "-null:NULL", select});
  EXPECT_EQ(r.out, "\nlong text, here|0x0102FF\nNULL|NULL\n|0x\n\n");
  // Padded: each is as wide as the given width, cut there.
  r = run({"-do", "-lc:6", "-null:-", select});
  EXPECT_EQ(r.out, "\nlong t 0x0102 \n-      -      \n       0x     \n\n");
  r = run({"-lc:4", select});
  EXPECT_NE(r.out.find("\nbody data \n---- ---- \nlong 0x01 \n"), std::string::npos) << r.out;
}

TEST_P(SqltermExport, FiveMebibyteTextValueComesWhole) {
  sql("create table " + table + "(id integer, body " + (maria() ? "longtext" : "text") + ")");  // TEXT: 64 KiB there
  const size_t repeats = 476626;  // "abcdefg" and a character beyond U+FFFF: 11 bytes, 5 MiB in all
  const std::string unit = "abcdefg😀";
  if (pg() || maria()) sql("insert into " + table + " values(1, repeat(" + literal(unit) + ", " + std::to_string(repeats) + "))");
  else sql("insert into " + table + " values(1, replace(hex(zeroblob(" + std::to_string(repeats) + ")), '00', " + literal(unit) + "))");
  std::string value;
  value.reserve(unit.size() * repeats);
  for (size_t i = 0; i < repeats; ++i) value += unit;
  run_result r = run({"-do", "-cd:|", "-lc", "-q:select body from " + table});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == "\n" + value + "\n\n") << r.out.size();
  // In CSV a value too long to hold is quoted whatever it holds.
  r = run({"-csv", "-do", "-lc", "-q:select body, " + std::string(pg() || maria() ? "char_length" : "length") + "(body) as n from " + table});
  EXPECT_TRUE(r.out == "\"" + value + "\"," + std::to_string(repeats * 8) + "\n") << r.out.size();
  // Padded mode reads no more than its width.
  r = run({"-do", "-lc:10", "-q:select body from " + table});
  EXPECT_EQ(r.out, "\nabcdefg😀a \n\n");
}

TEST(SqltermExportProgram, BadLongColumnWidthIsRefused) {
  for (const char* arg : {"-lc:0", "-lc:x", "-lc:40000", "-long_columns:-1"}) {
    const run_result r = run_process({SQLTERM_PATH, arg, "-cs:Driver=SQLite3;Database=:memory:", "-q:select 1"});
    EXPECT_EQ(r.status, 87) << arg;
    EXPECT_NE(r.out.find("Invalid long column width"), std::string::npos) << arg << r.out;
  }
}

// ---- --help, --version -----------------------------------------------------------------

TEST(SqltermExportProgram, HelpAndVersion) {
  const run_result usage = run_process({SQLTERM_PATH, "/?"});
  for (const char* h : {"--help", "-h"}) {
    const run_result r = run_process({SQLTERM_PATH, h});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage.out);
    EXPECT_EQ(r.err, "");
  }
  for (const char* word : {"-oe", "-csv", "-null:", "-lc", "--version"})
    EXPECT_NE(usage.out.find(word), std::string::npos) << word;
  const run_result v = run_process({SQLTERM_PATH, "--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_TRUE(std::regex_match(v.out, std::regex("sqlterm " VELA_VERSION " \\(vela\\)\nODBC driver manager "
                                                 "[0-9]{2}\\.[0-9]{2}\\.[0-9]{4}\\.[0-9]{4}\n")))
      << v.out;
  // Only as the single argument: with another one they are not taken as help.
  const run_result two = run_process({SQLTERM_PATH, "--help", "-do"}, "");
  EXPECT_EQ(two.out.find("Usage compatible"), std::string::npos);
}

// ---- the options in any order, with the old ones --------------------------------------

TEST_P(SqltermExport, NewAndOldOptionsInAnyOrder) {
  sql("create table " + table + "(id integer, v varchar(10), body text)");
  sql("insert into " + table + " values(1, 'x;y', 'long');insert into " + table + " values(2, null, null)");
  const std::string select = "-q:select id, v, body from " + table + " order by id";
  std::vector<std::string> options{"-csv", "-oe", "-null:NULL", "-lc", "-do", "-cd:;"};
  std::sort(options.begin(), options.end());
  const std::string expected = "1;\"x;y\";long\n2;NULL;NULL\n";
  int runs = 0;
  do {
    if (++runs % 23 != 1) continue;  // every 23rd of the 720 orders
    std::vector<std::string> args = options;
    args.push_back(select);
    const run_result r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected) << ::testing::PrintToString(args);
  } while (std::next_permutation(options.begin(), options.end()));
  // Long names, "/" and any letter case.
  const run_result r = run({"/CSV", "-On_Error", "-NULL_TEXT:NULL", "/long_columns", "-Data_Only", "/column_delimiter:;",
                            select});
  EXPECT_EQ(r.out, expected);
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqltermExport, vela::testing::all_databases(), vela::testing::param_name);

// Without a terminal there is no one to press Ctrl-C: the run keeps one thread (no log
// writer, watcher or connect thread), and a SIGINT stops the rows or, for a statement that
// does not come back, ends the run after the grace period.
TEST(SqltermExportProgram, ARunWithoutATerminalKeepsOneThread) {
  vela::testing::temp_dir dir;
  const std::string cs = "Driver=SQLite3;Database=" + dir.path("t.db") + ";";
  const std::string rows = "-q:with recursive c(x) as (select 1 union all select x + 1 from c limit 3000000) select x from c";
  int threads = -1;
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + cs, "-csv", rows}, {}, {}, {},
                                   [&threads](const run_result& so_far, int pid) {
                                     if (threads < 0 && so_far.out.size() > 100000) threads = vela::testing::process_threads(pid);
                                   });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(threads, 1);

  const struct {
    const char* name;
    std::string statement;
    bool grace;  // the statement does not come back: the grace period ends the run
  } cases[] = {
      {"rows being printed", rows, false},
      {"a statement inside the driver",
       "-q:with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int pid = vela::testing::start_process({SQLTERM_PATH, "-cs:" + cs, c.statement + "; select 'never' as n"}, dir.path());
    ASSERT_TRUE(vela::testing::wait_until([pid] { return vela::testing::process_cpu_ms(pid) > 300; }));
    const auto at = std::chrono::steady_clock::now();
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const auto took = std::chrono::steady_clock::now() - at;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    if (c.grace) {
      EXPECT_GE(took, std::chrono::milliseconds(2900));
    }
    EXPECT_LT(took, std::chrono::milliseconds(4500));
  }
}
