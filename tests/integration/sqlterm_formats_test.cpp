// sqlterm's "-format" layouts against SQLite3, PostgreSQL and MariaDB: one table of awkward
// values printed in each format and read back by tests/integration/format_check.py (Python's
// json module, a Markdown table reader, cells counted from Python's Unicode data).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/pty_session.h"
#include "support/sqlterm_fixture.h"
#include "support/temp_dir.h"

using vela::testing::run_process;
using vela::testing::run_result;

namespace {

class SqltermFormats : public vela::testing::sqlterm_test {
 protected:
  void SetUp() override {
    sqlterm_test::SetUp();
    if (!HasFatalFailure()) use_table("f_");
  }

  // A text literal, NULL for nullptr; characters beyond U+FFFF are made by a function where
  // the driver takes none in a statement's text.
  std::string literal(const char* v) const {
    if (!v) return "null";
    std::string s = "'";
    for (const char* p = v; *p; ++p) {
      s += *p;
      if (*p == '\'' || (*p == '\\' && maria())) s += *p;  // MariaDB reads "\" as an escape
    }
    s += "'";
    if (maria()) return s;
    const std::string emoji = "😀";
    for (size_t at; (at = s.find(emoji)) != std::string::npos;)
      s.replace(at, emoji.size(), std::string("' || ") + (pg() ? "chr" : "char") + "(128512) || '");
    return s;
  }
};

std::string json_text(const char* v) {
  if (!v) return "null";
  std::string s = "\"";
  for (const char* p = v; *p; ++p) {
    if (*p == '"' || *p == '\\') s += '\\';
    s += *p;
  }
  return s + "\"";
}

const std::string long_text = std::string(60, 'x') + "张伟" + std::string(60, 'y');

// id, v (text), n (numeric), big (bigint), d (date), lt (long text), b (binary as hex digits).
struct row_case {
  const char *v, *n, *big, *d, *b;
  const char* lt;
};
const row_case rows[] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"", "0", "0", "2000-01-01", "", ""},
    {"张伟 北京", "-12.5", "9007199254740993", "2024-02-29", "00FF10", "长文本"},
    {"😀 ok 😀", "3.25", "-1", "1999-12-31", "0A", "😀"},
    {"e\xCC\x81t\xC3\xA9 cafe\xCC\x81", "1", "2", "2030-06-15", "", "a\xCC\x88"},
    {"a|b \"q\" 's' \\|", "100", "3", "2001-02-03", "7C", "| * _ `x` <b> [l](u) ~s~ & #"},
    {"plain", "99999999.99", "4", "2010-10-10", "DEADBEEF", long_text.c_str()},
};

} // namespace

TEST_P(SqltermFormats, EveryFormatReadsBackAsTheTable) {
  const std::string long_type = maria() ? "longtext" : "text";
  std::string setup = "create table " + table + "(id integer, v varchar(40), n numeric(10,2), big bigint, d date, lt " +
                      long_type + ", b " + db->d.blob_type + ");";
  std::string expected_rows;
  int id = 0;
  for (const row_case& r : rows) {
    ++id;
    const auto opt = [](const char* s) { return std::string(s ? s : "null"); };
    const std::vector<std::string> values = {std::to_string(id), literal(r.v), opt(r.n), opt(r.big), literal(r.d),
                                             literal(r.lt), r.b ? db->hex(r.b) : "null"};
    setup += "insert into " + table + " values(";
    for (const std::string& v : values) setup += v + (&v == &values.back() ? ");" : ", ");
    const std::string hex = r.b ? "0x" + std::string(r.b) : "";
    expected_rows += std::string(id > 1 ? "," : "") + "[\"" + std::to_string(id) + "\"," + json_text(r.v) + "," +
                     json_text(r.n) + "," + json_text(r.big) + "," + json_text(r.d) + "," + json_text(r.lt) + "," +
                     (r.b ? json_text(hex.c_str()) : "null") + "]";
  }
  for (size_t at; (at = setup.find(';')) != std::string::npos; setup.erase(0, at + 1)) sql(setup.substr(0, at));
  const std::string expected_file = db->dir.path("expected.json");
  std::ofstream(expected_file, std::ios::binary)
      << R"x({"columns":["id","v","n","big","d","lt","b"],"numbers":[0,2,3],"null":"(null)","rows":[)x" << expected_rows
      << "]}";

  const std::string query = "-q:select id, v, n, big, d, lt, b from " + table + " order by id";
  for (const char* format : {"aligned", "vertical", "json", "jsonl", "markdown"}) {
    SCOPED_TRACE(format);
    const run_result r = run({std::string("-fmt:") + format, "-null:(null)", query});
    ASSERT_EQ(r.status, 0) << r.err;
    // Standard output holds the rows only; the summary is on standard error.
    EXPECT_NE(r.err.find("Rows selected: 7."), std::string::npos) << r.err;
    const std::string out_file = db->dir.path(std::string("out.") + format);
    std::ofstream(out_file, std::ios::binary) << r.out;
    const run_result check = run_process({"python3", FORMAT_CHECK_PATH, format, out_file, expected_file});
    EXPECT_EQ(check.status, 0) << check.out << check.err << "\n" << r.out;
  }
}

// Values for a shell variable, the CSV NULL marker apart from a value that reads like it, and
// a column the padded layout leaves out named on standard error.
TEST_P(SqltermFormats, ShellValuesNullMarkerAndLeftOutColumns) {
  sql("create table " + table + "(id integer, v varchar(10), lt " + std::string(maria() ? "longtext" : "text") + ")");
  sql("insert into " + table + " values(1, " + literal("\\N") + ", 'x')");
  sql("insert into " + table + " values(2, null, 'y')");
  sql("insert into " + table + " values(3, '', 'z')");
  struct {
    std::vector<std::string> args;
    std::string out;
  } const cases[] = {
      {{"-format:aligned", "-do", "-q:select count(*) from " + table}, "3\n"},
      {{"-fmt:json", "-q:select count(*) as c from " + table}, "[\n{\"c\":3}\n]\n"},
      {{"-fmt:jsonl", "-q:select id from " + table + " where id > 5"}, ""},
      {{"-fmt:json", "-q:select id from " + table + " where id > 5"}, "[]\n"},
      {{"-csv", "-do", "-null:\\N", "-q:select v from " + table + " order by id"}, "\"\\N\"\n\\N\n\n"},
      {{"-csv", "-do", "-q:select v from " + table + " order by id"}, "\\N\n\n\n"},
      {{"-csv", "-do", "-null:", "-q:select v from " + table + " order by id"}, "\\N\n\n\"\"\n"},
      {{"-format:vertical", "-q:select id, v as value from " + table + " where id = 1"},
       "-[ RECORD 1 ]-\nid    | 1\nvalue | \\N\n"},
  };
  for (const auto& c : cases) {
    const run_result r = run(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[0] << " " << c.args[1];
  }
  // The padded layout and "-cd" keep their output; the notice goes to standard error.
  const run_result r = run({"-do", "-q:select id, lt from " + table + " where id = 1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("'lt'"), std::string::npos) << r.err;
}

// "-format:tsv" as PostgreSQL's text format: the names first, a backslash, tab, line feed and
// carriage return escaped in names and values, NULL as \N whatever "-null" says.
TEST_P(SqltermFormats, TsvEscapesAsPostgresText) {
  sql("create table " + table + "(id integer, v varchar(40))");
  const auto chr = [this](int c) {
    return std::string(pg() ? "chr(" : "char(") + std::to_string(c) + (maria() ? " using utf8mb4)" : ")");
  };
  std::string value;
  for (const std::string& part : {literal("a"), chr(9), literal("b"), chr(10), literal("c"), chr(13), literal("d\\e")})
    value += value.empty() ? part : (maria() ? ", " : " || ") + part;
  if (maria()) value = "concat(" + value + ")";
  sql("insert into " + table + " values(1, " + value + ")");
  sql("insert into " + table + " values(2, null)");
  sql("insert into " + table + " values(3, '')");
  const run_result r =
      run({"-format:tsv", "-null:(null)", "-q:select id, v as " + db->quoted("v\\w") + " from " + table + " order by id"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "id\tv\\\\w\n1\ta\\tb\\nc\\rd\\\\e\n2\t\\N\n3\t\n");
}

// "-csv" and "-format:csv" export TEXT, binary and VARCHAR(10000) columns whole (binary as
// \x and hexadecimal digits); "-cd" still leaves the long ones out and names them.
TEST_P(SqltermFormats, CsvExportsEveryColumnWhole) {
  sql("create table " + table + "(id integer, t text, b " + db->d.blob_type + ", v varchar(10000))" +
      (maria() ? " character set utf8mb4" : ""));
  std::string text;
  for (int i = 0; i < 1500; ++i) text += "a,\"b\"\n";
  const std::string wide = std::string(9990, 'v') + "张伟";
  sql("insert into " + table + " values(1, '" + text + "', " + db->hex("00FF10") + ", '" + wide + "')");
  sql("insert into " + table + " values(2, null, null, null)");
  std::string quoted;
  for (int i = 0; i < 1500; ++i) quoted += "a,\"\"b\"\"\n";
  const std::string expected = "id,t,b,v\n1,\"" + quoted + "\",\\x00ff10," + wide + "\n2,,,\n";
  const std::string select = "-q:select id, t, b, v from " + table + " order by id";
  for (const char* format : {"-csv", "-format:csv"}) {
    const run_result r = run({format, select});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == expected) << format << "\n" << r.out.substr(0, 300);
    EXPECT_EQ(r.err.find("left out"), std::string::npos) << r.err;
  }
  const run_result r = run({"-cd:,", "-do", select});
  EXPECT_EQ(r.out.find("a,\"b\""), std::string::npos) << r.out.substr(0, 300);
  EXPECT_NE(r.err.find("Column 't' (long text or binary) is left out"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Column 'b'"), std::string::npos) << r.err;
}

// CSV quotes a value that holds the delimiter, a quote or a line break anywhere, and JSON
// escapes quotes, backslashes and control characters anywhere: each at every place of values
// whose lengths fall around the blocks the scans read at a time.
TEST_P(SqltermFormats, SpecialCharactersAtAnyPlace) {
  sql("create table " + table + "(id integer, v varchar(100))" + (maria() ? " character set utf8mb4" : ""));
  std::string csv = "id,v\n", json = "[\n", rows;
  int id = 0;
  for (const size_t length : {1, 7, 8, 9, 15, 16, 17, 31, 33}) {
    for (const char* special : {",", "\"", "\n", "\r", "\\", "\t", "é", "x"}) {
      for (size_t at = 0; at < length; ++at) {
        const std::string v = std::string(at, 'a') + special + std::string(length - at - 1, 'a');
        const std::string n = std::to_string(++id);
        rows.append(rows.empty() ? "(" : ",(").append(n).append(", ").append(literal(v.c_str())).append(")");
        const bool quoted = std::string_view(",\"\n\r").find(*special) != std::string_view::npos;
        csv.append(n).append(",").append(quoted ? "\"" : "");
        for (const char c : v) csv.append(c == '"' ? 2 : 1, c);
        csv.append(quoted ? "\"\n" : "\n");
        json.append(id == 1 ? "" : ",\n").append("{\"id\":").append(n).append(",\"v\":\"");
        for (const char c : v) {
          if (c == '"' || c == '\\') json += '\\';
          json.append(c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c));
        }
        json.append("\"}");
      }
    }
  }
  json += "\n]\n";
  sql("insert into " + table + " values" + rows);
  const std::string select = "-q:select id, v from " + table + " order by id";
  const run_result r = run({"-csv", select});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == csv) << r.out.substr(0, 400);
  const run_result j = run({"-format:json", select});
  EXPECT_EQ(j.status, 0) << j.err;
  EXPECT_TRUE(j.out == json) << j.out.substr(0, 400);
}

// Multi-line values go on with "+" in aligned and vertical; booleans are t/f there, JSON
// literals in JSON, and stay 1/0 in the padded, delimited and CSV layouts.
TEST_P(SqltermFormats, MultiLineValuesAndBooleans) {
  sql("create table " + table + "(id integer, v varchar(10), b " + db->d.boolean_type + ")");
  sql("insert into " + table + " values(1, 'a\nbb', " + db->d.boolean_true + ")");
  sql("insert into " + table + " values(2, 'c', " + db->d.boolean_false + ")");
  struct {
    std::vector<std::string> args;
    std::string out;
  } const cases[] = {
      {{"-format:aligned"}, "id | v  | b\n---+----+--\n 1 | a +| t\n   | bb |\n 2 | c  | f\n"},
      {{"-format:vertical"}, "-[ RECORD 1 ]-\nid | 1\nv  | a +\n   | bb\nb  | t\n-[ RECORD 2 ]-\nid | 2\nv  | c\nb  | f\n"},
      {{"-format:json"}, "[\n{\"id\":1,\"v\":\"a\\nbb\",\"b\":true},\n{\"id\":2,\"v\":\"c\",\"b\":false}\n]\n"},
      {{"-format:jsonl"}, "{\"id\":1,\"v\":\"a\\nbb\",\"b\":true}\n{\"id\":2,\"v\":\"c\",\"b\":false}\n"},
      {{"-csv"}, "id,v,b\n1,\"a\nbb\",1\n2,c,0\n"},
      {{"-cd:|", "-do"}, "\n1|a\nbb|1\n2|c|0\n\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("-q:select id, v, b from " + table + " order by id");
    const run_result r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[0];
  }
  // The padded layout keeps the digits.
  const run_result r = run({"-do", "-q:select b from " + table + " order by id"});
  EXPECT_NE(r.out.find("\n1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n0"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqltermFormats, vela::testing::all_databases(), vela::testing::param_name);

// "-pager" at the prompt: a result taller than the screen goes through $PAGER, which ends
// after three lines as q would; the session goes on, and a short result is not paged.
TEST(Pager, TallResultsOnlyAndTheSessionGoesOn) {
  vela::testing::temp_dir dir;
  const std::string cs = "Driver=SQLite3;Database=" + dir.path("p.db") + ";";
  const std::string pager = "head -n 3 > " + dir.path("paged") + "; echo run >> " + dir.path("runs");
  vela::testing::pty_session s({SQLTERM_PATH, "-cs:" + cs, "-pager"},
                               {{"PAGER", pager}, {"XDG_STATE_HOME", dir.path("state")}, {"HOME", dir.path()}});
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  ASSERT_TRUE(s.waits_for_input()) << s.output();
  s.type("with recursive n(i) as (select 1 union all select i + 1 from n where i < 100000) select i from n\r");
  ASSERT_TRUE(s.expect("\nSQL>", 30)) << s.output();
  s.type("select 'after' as x\r");
  EXPECT_TRUE(s.expect("after")) << s.output();
  EXPECT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  s.type("exit\r");
  EXPECT_EQ(s.wait_exit(5), 0);
  const auto read = [&dir](const char* name) {
    std::ifstream in(dir.path(name));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  EXPECT_EQ(read("runs"), "run\n");
  const std::string paged = read("paged");
  EXPECT_NE(paged.find("select i from n"), std::string::npos) << paged;
  EXPECT_EQ(std::count(paged.begin(), paged.end(), '\n'), 3) << paged;
  EXPECT_EQ(s.output().find("99999"), std::string::npos);
}

// With "-pager" and a format, a result shorter than the screen is held for the pager and the
// summary, on its own stream, still comes after the rows.
TEST(Pager, SummaryAfterTheHeldRows) {
  vela::testing::temp_dir dir;
  const std::string cs = "Driver=SQLite3;Database=" + dir.path("p.db") + ";";
  vela::testing::pty_session s({SQLTERM_PATH, "-cs:" + cs, "-pager", "-format:aligned"},
                               {{"PAGER", "cat"}, {"XDG_STATE_HOME", dir.path("state")}, {"HOME", dir.path()}});
  ASSERT_TRUE(s.expect("SQL>")) << s.output();
  ASSERT_TRUE(s.waits_for_input()) << s.output();
  s.type("select 'held' || 'row' as x\r");
  ASSERT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  const std::string out = s.output();
  const size_t row = out.rfind("heldrow");
  ASSERT_NE(row, std::string::npos) << out;
  EXPECT_LT(row, out.find("Rows selected: 1.")) << out;
  s.type("exit\r");
  EXPECT_EQ(s.wait_exit(5), 0);
}
