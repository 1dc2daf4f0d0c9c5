// The bulk-insert engine against SQLite3, PostgreSQL and MariaDB: batches, refused rows with
// their lines, stopping at the first one, and the connection's autocommit given back.
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
using vela::testing::database;

namespace {

// Rows 1..n of (id, text, bytes); ids listed in dup repeat id 1 (the key refuses them).
// The bytes are "\x" and hex digits, every fifth NULL.
class numbered_rows : public bulk_source {
 public:
  numbered_rows(size_t n, std::vector<size_t> dup) : n_(n), dup_(std::move(dup)) {}
  bool next(bulk_row& row, result&) override {
    if (i_ >= n_) return false;
    ++i_;
    row.reset(3);
    const bool d = std::find(dup_.begin(), dup_.end(), i_) != dup_.end();
    row.values[0] = std::to_wstring(d ? 1 : i_);
    row.values[1] = L"v" + std::wstring(i_ % 7, L'é') + std::to_wstring(i_);
    row.values[2] = i_ % 5 == 0 ? L"" : L"\\x" + std::wstring(i_ % 3 + 1, L'a') + L"0";
    if (i_ % 5 == 0) row.nulls[2] = 1;
    row.line = 100 + i_;
    return true;
  }

 private:
  size_t n_, i_ = 0;
  std::vector<size_t> dup_;
};

using BulkInsert = vela::testing::database_test;

} // namespace

TEST_P(BulkInsert, BatchesRefusedRowsAndStops) {
  const struct {
    size_t batch, rows;
    std::vector<size_t> dup;
    bool stop;
    uint64_t loaded, failed;
    std::vector<size_t> lines;
  } cases[] = {
      {1000, 2500, {}, false, 2500, 0, {}},
      {7, 30, {}, false, 30, 0, {}},
      {1, 5, {}, false, 5, 0, {}},
      {10, 25, {3, 14, 25}, false, 22, 3, {103, 114, 125}},
      {10, 25, {14, 15}, true, 13, 1, {114}},
  };
  for (const auto& c : cases) {
    connection conn;
    ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
    {
      query q(&conn, L"drop table if exists bulk");
      (void)q.execute(true);
      query make(&conn, L"create table bulk(id int primary key, t varchar(40), b " + vela::testing::widen(db->blob_type()) + L")");
      ASSERT_TRUE(make.execute(true).succeeded());
    }
    bulk_insert e(conn, c.batch);
    e.stop_on_failure = c.stop;
    std::vector<size_t> lines;
    e.on_failure = [&lines](size_t line, const std::wstring&) { lines.push_back(line); };
    ASSERT_TRUE(e.prepare(L"bulk", {L"id", L"t", L"b"}).succeeded());
    EXPECT_EQ(e.columns(), 3u);
    numbered_rows rows(c.rows, c.dup);
    EXPECT_TRUE(e.load(rows).succeeded());
    EXPECT_EQ(e.loaded(), c.loaded) << c.batch << " " << c.rows;
    EXPECT_EQ(e.failed(), c.failed);
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(e.stopped(), c.stop);
    // Autocommit is back: a statement run without commit stays, seen from another connection.
    query after(&conn, L"insert into bulk(id, t) values (100000, 'after')");
    ASSERT_TRUE(after.execute(false).succeeded());
    connection other;
    ASSERT_TRUE(other.connect(nullptr, db->wcs()).succeeded());
    EXPECT_EQ(scalar(other, L"select count(*) from bulk"), std::to_wstring(c.loaded + 1));
    // Values as they went in: text, bytes from hex digits, bytes of the text, NULL.
    if (c.loaded >= 10 && c.dup.empty()) {
      const std::wstring hex = db->kind == "pg" ? L"encode(b, 'hex')" : L"lower(hex(b))";
      EXPECT_EQ(scalar(other, L"select t from bulk where id = 6"), L"v" + std::wstring(6, L'é') + L"6");
      EXPECT_EQ(scalar(other, L"select " + hex + L" from bulk where id = 8"), L"aaa0");
      EXPECT_EQ(scalar(other, L"select " + hex + L" from bulk where id = 7"), L"5c78616130");  // odd digits: the text's bytes
      EXPECT_EQ(scalar(other, L"select count(*) from bulk where b is null"), std::to_wstring(c.loaded / 5 + 1));
    }
  }
}

// Values of 3 MB among short ones: the batch holds fewer rows, and every value arrives whole.
TEST_P(BulkInsert, LongValuesArriveWhole) {
  connection conn;
  ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
  query drop(&conn, L"drop table if exists longs");
  (void)drop.execute(true);
  query make(&conn, std::wstring(L"create table longs(id int, t ") + (db->kind == "maria" ? L"longtext" : L"text") + L")");
  ASSERT_TRUE(make.execute(true).succeeded());
  bulk_insert e(conn);
  ASSERT_TRUE(e.prepare(L"longs", {}).succeeded());
  bulk_row row;
  for (size_t i = 1; i <= 12; ++i) {
    row.reset(2);
    row.values[0] = std::to_wstring(i);
    row.values[1] = std::wstring(i % 4 == 0 ? 3u << 20 : i, static_cast<wchar_t>(L'a' + i));
    row.line = i;
    ASSERT_TRUE(e.add(row).succeeded());
  }
  ASSERT_TRUE(e.finish().succeeded());
  EXPECT_EQ(e.loaded(), 12u);
  const std::wstring length = db->kind == "maria" ? L"char_length" : L"length";
  EXPECT_EQ(scalar(conn, L"select sum(" + length + L"(t)) from longs"), std::to_wstring(3 * (3u << 20) + 78 - 24));
}

INSTANTIATE_TEST_SUITE_P(Databases, BulkInsert, vela::testing::all_databases(), vela::testing::param_name);
