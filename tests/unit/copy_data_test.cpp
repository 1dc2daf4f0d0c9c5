// COPY statements and \copy commands taken apart; records of the text format and of CSV.
#include <gtest/gtest.h>

#include "Terminal/copy_data.h"

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

// Lines in, records out: "|" joins the values of a record, "~" stands for NULL.
TEST(RecordReader, TextAndCsvRecords) {
  const struct {
    bool csv;
    std::vector<std::wstring> lines;
    std::vector<std::wstring> records;  // "!" and the reason for a bad record
  } cases[] = {
      {false, {L"1\tplain\t\\N", L"2\ttab\\there\\\\x", L"3\t\\n\\r\\x41\\101\\q\t"}, {L"1|plain|~", L"2|tab\there\\x", L"3|\n\rAAq|"}},
      {false, {L"only\r"}, {L"only"}},
      {true, {L"1,\"a,b\",\"say \"\"hi\"\"\"", L"2,,\"\""}, {L"1|a,b|say \"hi\"", L"2|~|"}},
      {true, {L"1,\"two", L"lines\r", L"and three\",x\r"}, {L"1|two\nlines\r\nand three|x"}},
      {true, {L"1,\"bad\"x,z", L"2,ok"}, {L"!text after a closing quote", L"2|ok"}},
      {true, {L"1,ba\"d", L"3,\"\",\"\"\"\""}, {L"!a quote inside a field that is not quoted", L"3||\""}},
  };
  for (const auto& c : cases) {
    copy_format f;
    if (c.csv) {
      f.csv = true;
      f.delimiter = L',';
      f.null_text.clear();
    }
    record_reader reader(f);
    vela::odbc::bulk_row row;
    std::vector<std::wstring> got;
    size_t n = 0;
    for (const auto& line : c.lines) {
      std::wstring why;
      const auto o = reader.add_line(line, ++n, row, why);
      if (o == record_reader::outcome::bad) got.push_back(L"!" + why);
      if (o != record_reader::outcome::row) continue;
      std::wstring r;
      for (size_t i = 0; i < row.values.size(); ++i) r += (i ? L"|" : L"") + (row.nulls[i] ? std::wstring(L"~") : row.values[i]);
      got.push_back(r);
    }
    EXPECT_EQ(got, c.records) << c.lines[0];
    EXPECT_EQ(reader.open_record(), 0u);
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
