// Values given to the bulk-insert engine as their source read them (UTF-8, UTF-16, bytes)
// load as the same values given as program text, into text and binary columns alike.
#include <gtest/gtest.h>

#include "support/databases.h"
#include "support/odbc_values.h"
#include "support/sqlterm_fixture.h"
#include "vela/odbc/bulk_insert.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/utf.h"

using namespace vela;
using namespace vela::odbc;

namespace {

// The value as program text, as a source that reads it so would give it.
std::wstring as_wide(bulk_row::form f, const std::string& v) {
  if (f == bulk_row::form::utf8) return utf8_to_wide_escaped(v);
  if (f == bulk_row::form::utf16) return utf8_to_wide(v);
  static const wchar_t digits[] = L"0123456789abcdef";
  std::wstring hex = L"\\x";
  for (const unsigned char b : v) hex += std::wstring{digits[b >> 4], digits[b & 15]};
  return hex;
}

// Row id: the value v in column `column` (1 text, 2 binary), in form f or as program text.
void add_row(bulk_insert& e, int id, size_t column, bulk_row::form f, const std::string& v, bool encoded) {
  bulk_row row;
  row.reset(3);
  row.values[0] = std::to_wstring(id);
  row.nulls[3 - column] = 1;
  if (!encoded) row.values[column] = as_wide(f, v);
  else if (f == bulk_row::form::utf16) row.encode_utf16(column) = wide_to_utf16(utf8_to_wide(v));
  else row.encode(column, f) = v;
  row.line = static_cast<size_t>(id);
  ASSERT_TRUE(e.add(row).succeeded());
}

using BulkForms = vela::testing::database_test;

} // namespace

TEST_P(BulkForms, EncodedValuesLoadAsTheirText) {
  using form = bulk_row::form;
  const struct {
    form f;
    std::string value;
    size_t column;
    bool refused;
  } cases[] = {
      {form::utf8, "plain", 1, false},
      {form::utf8, "\xc5\xbelu\xc5\xa5 \xf0\x9d\x84\x9e", 1, false},
      {form::utf8, "\xc5\xbelu\xc5\xa5 \xf0\x9d\x84\x9e", 2, false},
      {form::utf8, "\\x4142", 2, false},      // hex text into a binary column: its bytes
      {form::utf8, "a\xff" "b", 1, true},     // not UTF-8: refused for text
      {form::utf8, "a\xff" "b", 2, false},    // and kept for bytes
      {form::utf16, "\xc3\xa9\xf0\x9d\x84\x9e", 1, false},
      {form::utf16, "\xc3\xa9\xf0\x9d\x84\x9e", 2, false},
      {form::bytes, std::string("\0\xff" "A", 3), 2, false},
      {form::bytes, std::string("\0\xff" "A", 3), 1, false},  // bytes into text: "\x" and hex
  };
  connection conn;
  ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
  const bool maria = db->kind == "maria";
  const std::wstring bytes_type = maria ? L"longblob" : db->kind == "pg" ? L"bytea" : L"blob";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value + " column " + std::to_string(c.column));
    query drop(&conn, L"drop table if exists forms");
    (void)drop.execute(true);
    query make(&conn, L"create table forms(id int, t " + std::wstring(maria ? L"longtext" : L"text") + L", b " + bytes_type + L")");
    ASSERT_TRUE(make.execute(true).succeeded());
    bulk_insert e(conn);
    ASSERT_TRUE(e.prepare(L"forms", {}).succeeded());
    add_row(e, 1, c.column, c.f, c.value, false);
    add_row(e, 2, c.column, c.f, c.value, true);
    ASSERT_TRUE(e.finish().succeeded());
    EXPECT_EQ(e.failed(), c.refused ? 2u : 0u);
    if (c.refused) continue;
    const std::wstring col = c.column == 1 ? L"t" : L"b";
    EXPECT_EQ(scalar(conn, L"select count(*) from forms x join forms y on x." + col + L" = y." + col + L" where x.id = 1 and y.id = 2"), L"1");
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, BulkForms, vela::testing::all_databases(), vela::testing::param_name);
