// COPY statements and \copy commands taken apart; records of the text format and of CSV.
#include <gtest/gtest.h>

#include "Terminal/load/copy_data.h"
#include "Terminal/load/json_lines.h"
#include "Terminal/strings.h"

using namespace vela::terminal;

TEST(CopyCommand, StatementsAndOptions) {
  const struct {
    const wchar_t* text;
    bool ok;
    const wchar_t* table;
    size_t columns;
    const wchar_t* file;
    bool csv;
    wchar_t delimiter;
    const wchar_t* null_text;
    bool header;
    const wchar_t* why;
  } cases[] = {
      {L"COPY public.t (a, \"B c\") FROM stdin;", true, L"public.t", 2, L"stdin", false, L'\t', L"\\N", false, L""},
      {L"COPY t FROM stdin WITH (FORMAT csv, HEADER true, NULL 'x');", true, L"t", 0, L"stdin", true, L',', L"x", true, L""},
      {L"copy t from stdin csv header delimiter as ';'", true, L"t", 0, L"stdin", true, L';', L"", true, L""},
      {L"\\copy t from '/tmp/a b.csv' with (format csv, delimiter '|', header false)", true, L"t", 0, L"/tmp/a b.csv", true,
       L'|', L"", false, L""},
      {L"\\copy t(a) from /tmp/x.txt", true, L"t", 1, L"/tmp/x.txt", false, L'\t', L"\\N", false, L""},
      {L"\\copy (select 1, ')') to 'o.csv' csv", true, L"", 0, L"o.csv", true, L',', L"", false, L""},
      {L"COPY t FROM stdin WITH (FORMAT binary);", false, L"t", 0, L"stdin", false, L'\t', L"", false,
       L"format not supported: binary"},
      {L"\\copy t from 'f' with (delimiter ';;')", false, L"t", 0, L"f", false, L'\t', L"", false,
       L"DELIMITER must be a single character"},
      {L"\\copy t from 'f' with (oids true)", false, L"t", 0, L"f", false, L'\t', L"", false, L"unknown option: oids"},
      {L"\\copy (select 1) from 'f'", false, L"", 0, L"", false, L'\t', L"", false, L"a query cannot be loaded"},
      {L"\\copy t into 'f'", false, L"t", 0, L"", false, L'\t', L"", false, L"FROM or TO expected"},
  };
  for (const auto& c : cases) {
    copy_command cmd;
    std::wstring why;
    EXPECT_EQ(parse_copy(c.text, cmd, why), c.ok) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
    EXPECT_EQ(cmd.table, c.table) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(cmd.columns.size(), c.columns) << c.text;
    EXPECT_EQ(cmd.file, c.file) << c.text;
    EXPECT_EQ(cmd.format.csv, c.csv) << c.text;
    EXPECT_EQ(cmd.format.delimiter, c.delimiter) << c.text;
    EXPECT_EQ(cmd.format.null_text, c.null_text) << c.text;
    EXPECT_EQ(cmd.format.header, c.header) << c.text;
  }
}

TEST(CopyCommand, ConnectionAndQuery) {
  copy_command cmd;
  std::wstring why;
  ASSERT_TRUE(parse_copy(L"\\copy big from connection 'Driver=SQLite3;Database=a.db' query 'select ''x'', 1'", cmd, why)) << why;
  EXPECT_EQ(cmd.table, L"big");
  EXPECT_EQ(cmd.connection, L"Driver=SQLite3;Database=a.db");
  EXPECT_EQ(cmd.source_query, L"select 'x', 1");
}

// Lines in, records out, each as its first line and ":" with the values joined by "|" ("~"
// stands for NULL), "!" and the reason for a bad record, "#" and the reason for a bad header.
// A record that goes wrong after its first line fails there and its other lines are read again.
TEST(RecordReader, TextAndCsvRecords) {
  vela::set_string_table(&strings());
  const struct {
    bool csv;
    bool header;
    size_t columns;
    std::vector<std::wstring> lines;
    std::vector<std::wstring> records;
    uint64_t skipped;
  } cases[] = {
      {false, false, 0, {L"1\tplain\t\\N", L"2\ttab\\there\\\\x", L"3\t\\n\\r\\x41\\101\\q\t"},
       {L"1:1|plain|~", L"2:2|tab\there\\x", L"3:3|\n\rAAq|"}, 0},
      {false, false, 0, {L"only\r"}, {L"1:only"}, 0},
      {true, false, 0, {L"1,\"a,b\",\"say \"\"hi\"\"\"", L"2,,\"\""}, {L"1:1|a,b|say \"hi\"", L"2:2|~|"}, 0},
      {true, false, 0, {L"1,\"two", L"lines\r", L"and three\",x\r"}, {L"1:1|two\nlines\r\nand three|x"}, 0},
      {true, false, 0, {L"1,\"bad\"x,z", L"2,ok"}, {L"1!text after a closing quote", L"2:2|ok"}, 0},
      {true, false, 0, {L"1,ba\"d", L"3,\"\",\"\"\"\""}, {L"1!a quote inside a field that is not quoted", L"2:3||\""}, 0},
      // A stray quote: open to the end, then the lines after it are records again.
      {true, false, 2, {L"1,a", L"2,\"b", L"3,c", L"4,d"}, {L"1:1|a", L"2!a quoted field is not closed", L"3:3|c", L"4:4|d"}, 0},
      // Text after a quote that closed on a later line; too many values across lines.
      {true, false, 2, {L"1,\"x", L"2,\"y\"", L"3,z"}, {L"1!text after a closing quote", L"2:2|y", L"3:3|z"}, 0},
      {true, false, 2, {L"1,\"x", L"2,y\",z", L"3,\"multi", L"line\""}, {L"1!2 values expected, 3 found", L"2!a quote inside a field that is not quoted", L"3:3|multi\nline"}, 0},
      // The header: skipped, or malformed (the reading stops there).
      {true, true, 2, {L"id,\"name", L"line two\"", L"1,a"}, {L"3:1|a"}, 2},
      {true, true, 2, {L"id,\"name", L"1,a"}, {L"1#a quoted field is not closed"}, 0},
      {true, true, 2, {L"id", L"1,a"}, {L"1#2 values expected, 1 found"}, 0},
      {false, true, 2, {L"id\tname", L"1\ta", L"2"}, {L"2:1|a", L"3!2 values expected, 1 found"}, 1},
  };
  for (const auto& c : cases) {
    copy_format f;
    f.header = c.header;
    if (c.csv) {
      f.csv = true;
      f.delimiter = L',';
      f.null_text.clear();
    }
    record_reader reader(f, c.columns);
    std::vector<std::wstring> got;
    const record_reader::sink to = [&](record_reader::outcome o, const vela::odbc::bulk_row& row, const std::wstring& why) {
      std::wstring r = std::to_wstring(row.line);
      if (o == record_reader::outcome::bad_header) {
        got.push_back(r + L"#" + why);
        return false;
      }
      if (o == record_reader::outcome::bad) r += L"!" + why;
      else
        for (size_t i = 0; i < row.values.size(); ++i) r += (i ? L"|" : L":") + (row.nulls[i] ? std::wstring(L"~") : row.values[i]);
      got.push_back(r);
      return true;
    };
    bool go = true;
    size_t n = 0;
    for (const auto& line : c.lines) go = go && reader.add_line(line, ++n, to);
    if (go) reader.finish(to);
    EXPECT_EQ(got, c.records) << c.lines[0];
    EXPECT_EQ(reader.skipped(), c.skipped) << c.lines[0];
  }
}

// A line splitter drops a leading mark and keeps lines whole across pieces.
TEST(RecordReader, LinesAcrossPieces) {
  line_splitter s;
  std::vector<std::wstring> lines;
  auto sink = [&](std::wstring_view l, size_t n) {
    lines.push_back(std::to_wstring(n) + L":" + std::wstring(l));
    return true;
  };
  EXPECT_TRUE(s.add(L"\uFEFFab", sink));
  EXPECT_TRUE(s.add(L"c\nd\r\n\ne", sink));
  EXPECT_TRUE(s.finish(sink));
  EXPECT_EQ(lines, (std::vector<std::wstring>{L"1:abc", L"2:d\r", L"3:", L"4:e"}));
}

// FORMAT jsonl, and pstdin (sqlterm's standard input) told from stdin and from a file of that name.
TEST(CopyCommand, JsonLinesAndStandardInput) {
  const struct {
    const wchar_t* text;
    bool ok;
    const wchar_t* file;
    bool process_stdin;
    bool jsonl;
    const wchar_t* why;
  } cases[] = {
      {L"\\copy t from pstdin with (format jsonl, create)", true, L"pstdin", true, true, L""},
      {L"\\copy t from PSTDIN csv header", true, L"pstdin", true, false, L""},
      {L"\\copy t from stdin", true, L"stdin", false, false, L""},
      {L"\\copy t from 'pstdin' with (format text)", true, L"pstdin", false, false, L""},
      {L"\\copy t to pstdout with (format jsonl)", true, L"stdout", false, true, L""},
      {L"\\copy t from 'f' with (format jsonl, header)", false, L"f", false, true, L"HEADER does not go with FORMAT jsonl"},
      {L"\\copy t from 'f' with (format json)", false, L"f", false, false, L"format not supported: json"},
  };
  for (const auto& c : cases) {
    copy_command cmd;
    std::wstring why;
    EXPECT_EQ(parse_copy(c.text, cmd, why), c.ok) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
    EXPECT_EQ(cmd.file, c.file) << c.text;
    EXPECT_EQ(cmd.process_stdin, c.process_stdin) << c.text;
    EXPECT_EQ(cmd.format.jsonl, c.jsonl) << c.text;
  }
}

// Objects read into rows by the names of the columns: nested values written again as compact
// JSON text with their numbers as written, control characters escaped.
TEST(JsonLines, RowsByColumnName) {
  vela::set_string_table(&strings());
  json_row_reader json({L"a", L"Mixed", L"n"}, {1, 1, 0});
  const struct {
    const wchar_t* line;
    bool ok;
    const wchar_t* values;  // "|" between values, NULL as <null>; or why
  } cases[] = {
      {LR"({"a": {"b": [{"c": 1.50}, [], {}], "d": "\u0001\"x"}, "n": true})", true,
       LR"({"b":[{"c":1.50},[],{}],"d":"\u0001\"x"}|<null>|1)"},
      {LR"({"MIXED": "any case", "n": false, "a": -0.0e-7})", true, L"-0.0e-7|any case|0"},
      {LR"({"a": 1, "a": 2})", true, L"2|<null>|<null>"},
      {LR"({})", true, L"<null>|<null>|<null>"},
      {LR"({"a": 1} x)", false, L"not a JSON object: syntax error while parsing value - invalid literal; last read: '1} x'; expected end of input"},
      {LR"({"b": 1})", false, L"the key \"b\" is no column of the table"},
      {LR"(null)", false, L"not a JSON object: a single value"},
  };
  for (const auto& c : cases) {
    vela::odbc::bulk_row row;
    std::wstring why;
    EXPECT_EQ(json.read(c.line, row, why), c.ok) << c.line;
    std::wstring got;
    for (size_t i = 0; i < row.values.size() && c.ok; ++i) got += (i ? L"|" : L"") + (row.nulls[i] ? L"<null>" : row.values[i]);
    EXPECT_EQ(c.ok ? got : why, c.values) << c.line;
  }
}
