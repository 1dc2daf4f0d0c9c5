// sqlterm run with argument vectors passed as they are (no shell), against SQLite3 and
// PostgreSQL: every argument reaches its option whole, failures under -do reach standard
// error, and values are printed whole. Output compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "support/sqlterm_fixture.h"

using vela::testing::database;
using vela::testing::run_process;
using vela::testing::run_result;
namespace fs = std::filesystem;

namespace {

const std::string banner = "sqlterm " VELA_VERSION " (vela) - ODBC database terminal\n\n";
const std::string unset = "\x01";

class SqltermArgs : public vela::testing::sqlterm_test {
 protected:
  void SetUp() override {
    sqlterm_test::SetUp();
    if (!HasFatalFailure()) use_table("t_");
  }

  std::string emoji_expr() const { return pg() ? "chr(128512)" : "char(128512)"; }
};

} // namespace

// ---- the command line: one argument is one argument ---------------------------------

TEST_P(SqltermArgs, QuotedIdentifiersAndQuotesInLiterals) {
  sql("create table " + table + "(\"id\" integer, \"Name\" varchar(20))");
  sql("insert into " + table + " values(1, 'a \"b\" c')");
  sql("insert into " + table + " values(2, 'x')");
  const std::string select = "select \"id\", \"Name\" from " + table + " where \"id\" = 1";
  run_result r = run({"-do", "-cd:|", "-q:" + select});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\n1|a \"b\" c\n\n");
  // A literal holding double quotes, a blank after a quote and a ";" inside quotes.
  r = run({"-do", "-cd:|", "-q:select cast('say \"hi\" ; now\"' as varchar(20)) as s"});
  EXPECT_EQ(r.out, "\nsay \"hi\" ; now\"\n\n");
  // The echo shows the statement as written; a value wrapped in quotes loses that pair.
  r = run({"-q:\"" + select + "\""});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\n\n" + select + "\n"), std::string::npos) << r.out;
}

TEST_P(SqltermArgs, ScriptPathWithBlanksAndACodePage) {
  fs::create_directories(db->dir.path("my scripts"));
  const std::string path = db->dir.path("my scripts/my file.sql");
  std::ofstream(path, std::ios::binary) << "select cast('\xC6\xE8' as varchar(5)) as c;\r\n";
  const std::string expected = "\n\xD0\x96\xD0\xB8\n\n";  // "Жи" in UTF-8
  run_result r = run({"-do", "-cd:|", "-qf:" + path + ",1251"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
  r = run({"-do", "-cd:|", "-qf:\"" + path + "\",1251"});
  EXPECT_EQ(r.out, expected);
  r = run({"-qf:" + path + ",1251", "-do", "-cd:|"});  // any order
  EXPECT_EQ(r.out, expected);
}

TEST_P(SqltermArgs, ADoubleQuoteAsTheDelimiter) {
  const std::string select = "-q:select 1 as a, 2 as b";
  EXPECT_EQ(run({"-do", "-cd:\"", select}).out, "\n1\"2\n\n");
  EXPECT_EQ(run({"-do", "-cd:\\\"", select}).out, "\n1\"2\n\n");
  EXPECT_EQ(run({"-do", "-cd:\"\"", select}).out, "\n12\n\n");  // "" stays an empty delimiter
  EXPECT_EQ(run({"-do", "-cd:\" \"", select}).out.substr(0, 2), "\n ");  // quoted blank: space mode
}

TEST_P(SqltermArgs, BracesAndBlanksInTheConnectionString) {
  std::string cs = db->cs;
  if (!pg()) {
    fs::create_directories(db->dir.path("a b"));
    cs = "Driver={SQLite3};Database=" + db->dir.path("a b/x y.db") + ";";
  }
  ASSERT_NE(cs.find('{'), std::string::npos);
  ASSERT_NE(cs.find(' '), std::string::npos);
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + cs, "-do", "-cd:|", "-q:select 7 as v"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\n7\n\n");
  if (!pg()) {
    EXPECT_TRUE(fs::exists(db->dir.path("a b/x y.db")));
  }
}

TEST_P(SqltermArgs, PositionalSyntaxStillReachedByANonOptionArgument) {
  std::string driver = "SQLite3", params;
  if (pg()) {
    driver = "PostgreSQL Unicode";
    params = db->cs.substr(db->cs.find(';') + 1);
  } else {
    fs::create_directories(db->dir.path("old style"));
    params = "Database=" + db->dir.path("old style/p.db");
  }
  const std::string script = db->dir.path("first script.sql");
  std::ofstream(script) << "select 5 as v; select cast('a \"q\"' as varchar(9)) as w;";
  const run_result r = run_process({SQLTERM_PATH, "dataonly", "cs:|", driver, params, script});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\n5\n\na \"q\"\n\n");
}

// ---- output --------------------------------------------------------------------------

TEST_P(SqltermArgs, NonAsciiTextWithoutALocale) {
  const std::string select = "-q:select cast('я€ж' as varchar(10)) as s";
  const std::vector<std::map<std::string, std::string>> envs{
      {{"LANG", unset}, {"LC_ALL", unset}, {"LC_CTYPE", unset}, {"LC_MESSAGES", unset}},
      {{"LANG", "POSIX"}, {"LC_ALL", unset}, {"LC_CTYPE", unset}},
      {{"LANG", unset}, {"LC_ALL", "C"}, {"LC_CTYPE", unset}},
      {{"LANG", "C.UTF-8"}, {"LC_ALL", unset}, {"LC_CTYPE", "C"}},
  };
  for (const auto& env : envs) {
    const run_result r = run({"-do", "-cd:|", select}, {}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "\n\xD1\x8F\xE2\x82\xAC\xD0\xB6\n\n") << env.begin()->second;
  }
}

TEST_P(SqltermArgs, DataOnlyReportsAFailedStatementOnStandardError) {
  const run_result r = run({"-do", "-cd:|", "-q:select 1 as a;select * from no_such_table;select 2 as b"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n1\n\n\n2\n\n");  // data only
  if (pg()) {
    EXPECT_TRUE(std::regex_match(r.err, std::regex("\\[42P01\\][^\n]*no_such_table[\\s\\S]*\n"))) << r.err;
  } else {
    EXPECT_EQ(r.err, "[HY000] [SQLite]no such table: no_such_table (1)\n");
  }
  // Without -do the text stays on standard output, as before.
  const run_result plain = run({"-q:select * from no_such_table"});
  EXPECT_EQ(plain.err, "");
  EXPECT_NE(plain.out.find(pg() ? "\n[42P01]" : "\n[HY000] [SQLite]no such table"), std::string::npos) << plain.out;
}

TEST_P(SqltermArgs, DataOnlyReportsAFailedFetchOnStandardError) {
  sql("create table " + table + "(n integer)");
  sql("insert into " + table + " values(1)");
  sql("insert into " + table + " values(2)");
  std::string cs = db->cs, select;
  if (pg()) {
    cs += "UseDeclareFetch=1;Fetch=1;";  // rows come one by one, so the second one fails in the fetch
    select = "select 1 / (2 - n) as q from " + table;
  } else {
    cs += "StepAPI=1;";
    select = "select n, case when n = 2 then abs(-9223372036854775808) end as q from " + table;
  }
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + cs, "-do", "-cd:,", "-q:" + select});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, pg() ? "\n1\n\n" : "\n1,\n\n");
  if (pg()) {
    EXPECT_TRUE(std::regex_match(r.err, std::regex("\\[22012\\][^\n]*division by zero[\\s\\S]*\n"))) << r.err;
  } else {
    EXPECT_EQ(r.err, "[HY000] [SQLite]integer overflow (1)\n");
  }
}

TEST_P(SqltermArgs, DelimitedValuesArePrintedWhole) {
  // PostgreSQL reports 255 places for a varchar without length; SQLite the declared length
  // (up to 255: longer ones are long columns). With a larger MaxVarcharSize, PostgreSQL's
  // varchar(50000) is bound and goes beyond the 32,767 bound.
  std::string cs = db->cs;
  if (pg()) cs += "MaxVarcharSize=65535;";
  sql("create table " + table + (pg() ? "(a varchar, b varchar(50000))" : "(a varchar(3), b varchar(200))"));
  const std::string a = pg() ? std::string(1000, 'x') + "end" : "abcdefgh";
  // A non-BMP character across the driver's pieces, and a non-ASCII one at the end.
  const std::string b_expr = "'" + std::string(16381, 'p') + "' || " + emoji_expr() + " || '" +
                             std::string(23000, 'q') + "й'";
  sql("insert into " + table + " values('" + a + "', " + b_expr + ")");
  const std::string b = std::string(16381, 'p') + "\xF0\x9F\x98\x80" + std::string(23000, 'q') + "\xD0\xB9";
  run_result r = run_process({SQLTERM_PATH, "-cs:" + cs, "-do", "-cd:|", "-q:select a, b from " + table});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out == "\n" + a + "|" + b + "\n\n") << r.out.size();
  // Padded mode keeps the column widths and cuts there.
  r = run({"-do", "-q:select a from " + table});
  const size_t width = pg() ? 255 : 3;
  EXPECT_EQ(r.out, "\n" + a.substr(0, width) + " \n\n");
}

TEST_P(SqltermArgs, PaddedModeCountsUtf16Units) {
  sql("create table " + table + "(x varchar(4), n integer)");
  sql("insert into " + table + " select " + emoji_expr() + " || 'a', 7");
  sql("insert into " + table + " select 'bcd', 8");
  const std::string w = pg() ? "11" : "10";
  const size_t width = static_cast<size_t>(std::stoi(w));
  const run_result r = run({"-q:select x, n from " + table + " order by n"});
  EXPECT_EQ(r.status, 0);
  // The character outside the Basic Multilingual Plane takes two of the four places.
  const std::string rows = "x    " + std::string(width - 1, ' ') + "n \n---- " + std::string(width, '-') + " \n" +
                           "\xF0\x9F\x98\x80" "a  " + std::string(width - 1, ' ') + "7 \n" +
                           "bcd  " + std::string(width - 1, ' ') + "8 \n";
  EXPECT_NE(r.out.find("\nselect x, n from " + table + " order by n\n" + rows), std::string::npos) << r.out;
}

TEST_P(SqltermArgs, AColumnNameLongerThanItsBuffer) {
  if (pg()) GTEST_SKIP() << "the server cuts identifiers to 63 characters";
  const std::string name(600, 'n');
  const run_result r = run({"-q:select 1 as " + name + ", 2 as s"});
  EXPECT_EQ(r.status, 0);
  // The cut name is kept and the column keeps its real width (10 for an integer).
  EXPECT_NE(r.out.find("\nnnnnnnnnnn          s \n---------- ---------- \n         1          2 \n"), std::string::npos)
      << r.out.substr(0, 2000);
}

TEST_P(SqltermArgs, ListDataSourcesShowsLongNames) {
  const std::string ini = db->dir.path("odbc.ini");
  const std::string sys = db->dir.path("sys");
  fs::create_directories(sys);
  fs::copy_file("/etc/odbcinst.ini", sys + "/odbcinst.ini");
  std::ofstream(sys + "/odbc.ini") << "";
  const std::string long_name = "a_data_source_name_well_beyond_thirty_two_characters_" + std::string(100, 'z');
  {
    std::ofstream out(ini);
    const std::string body = pg() ? "Driver=PostgreSQL Unicode\nServername=127.0.0.1\nDatabase=postgres\n"
                                  : "Driver=SQLite3\nDatabase=" + db->dir.path("dsn.db") + "\n";
    out << "[" << long_name << "]\n" << body << "\n[short_dsn]\n" << body << "\n[after_it]\n" << body;
  }
  const run_result r = run_process({SQLTERM_PATH}, "LIST DATASOURCES\n", {{"ODBCINI", ini}, {"ODBCSYSINI", sys}});
  EXPECT_EQ(r.out, banner + "\nno system data sources.\n\nList of user data sources:\n" + long_name +
                       "\nshort_dsn\nafter_it\n\nNumber of datasources: 3\n\n");
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqltermArgs, ::testing::Values("sqlite", "pg"), vela::testing::param_name);

TEST(SqltermArgsProgram, DataOnlyReportsAFailedConnectOnStandardError) {
  const run_result r =
      run_process({SQLTERM_PATH, "-do", "-cs:Driver={No Such Driver};PWD=topsecret", "-q:select 1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n\n");
  EXPECT_EQ(r.err, "Failed to connect to 'Driver={No Such Driver};PWD=*hidden*'\n"
                   "[01000] [unixODBC][Driver Manager]Can't open lib 'No Such Driver' : file not found\n"
                   "Unknown command 'select 1'. Use HELP command for a list of supported commands.\n");
  // Commands from standard input as well: the line breaks stay on standard output, the failure goes to standard error.
  const run_result p = run_process({SQLTERM_PATH, "-do"}, "CONNECT \"Driver={No Such Driver}\"\nDISCONNECT\n");
  EXPECT_EQ(p.out, "\n\n\n");
  EXPECT_EQ(p.err, "Failed to connect to 'Driver={No Such Driver}'\n"
                   "[01000] [unixODBC][Driver Manager]Can't open lib 'No Such Driver' : file not found\n"
                   "Is not connected.\n");
}

TEST_P(SqltermArgs, BlobfileWithoutALocaleShowsNonAsciiFileNames) {
  sql("create table " + table + "(path varchar(255), data " + db->blob_type() + ")");
  const std::string path = db->dir.path("файл ж.bin");
  sql("insert into " + table + " values('" + path + "', " + (pg() ? "decode('0102', 'hex')" : "x'0102'") + ")");
  // Non-ASCII text both ways: in the statement and in the file name that comes back.
  const run_result r = run_process({BLOBFILE_PATH, "-P", db->cs, "select path, data from " + table + " where path like '%файл ж%'"}, {},
                                   {{"LANG", unset}, {"LC_ALL", unset}, {"LC_CTYPE", unset}});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("writing to '" + path + "'... written 2 bytes."), std::string::npos) << r.out;
  ASSERT_TRUE(fs::exists(path)) << r.out;
  EXPECT_EQ(fs::file_size(path), 2u);
}
