// Batches sent in one statement (PostgreSQL: one array a column) and as arrays of parameters,
// against SQLite3, PostgreSQL and MariaDB: values that need quoting in an array, NULLs and
// bytes, refused rows inside a batch told by their lines and the other rows loaded once, a
// last partial batch, and a batch inside the caller's transaction.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include "support/databases.h"
#include "support/odbc_values.h"
#include "support/sqlterm_fixture.h"
#include "vela/odbc/bulk_insert.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"

using namespace vela;
using namespace vela::odbc;

namespace {

// Texts an array literal must quote or escape, the word NULL (a text, not a NULL) among them.
const std::wstring texts[] = {L"a\"b", L"back\\slash", L"{x,y}", L"NULL", L"", L" lead", L"trail ", L"é😀", L"a,b", L"'q'", L"\\\""};
constexpr size_t text_count = sizeof texts / sizeof texts[0];

// Row i (from 1): id (1 again for the ids in dup), a text of the list (NULL every 13th),
// a number, a time, bytes with NUL and 0xFF (NULL every 5th); from line 100 + i.
class tricky_rows : public bulk_source {
 public:
  tricky_rows(size_t n, std::vector<size_t> dup) : n_(n), dup_(std::move(dup)) {}
  bool next(bulk_row& row, result&) override {
    if (i_ >= n_) return false;
    ++i_;
    row.reset(5);
    const bool d = std::find(dup_.begin(), dup_.end(), i_) != dup_.end();
    row.values[0] = std::to_wstring(d ? 1 : i_);
    row.values[1] = texts[i_ % text_count];
    row.nulls[1] = i_ % 13 == 0;
    row.values[2] = std::to_wstring(i_) + L".25";
    row.values[3] = L"2024-01-02 03:04:05";
    std::string& bytes = row.encode(4, bulk_row::form::bytes);
    bytes.assign({'\0', static_cast<char>(0xFF), static_cast<char>(i_ & 0x7F), '"', '\\'});
    row.nulls[4] = i_ % 5 == 0;
    row.line = 100 + i_;
    return true;
  }

 private:
  size_t n_, i_ = 0;
  std::vector<size_t> dup_;
};

using BulkBatches = vela::testing::database_test;

void make_table(connection& conn, const vela::testing::database& db) {
  query drop(&conn, L"drop table if exists batches");
  (void)drop.execute(true);
  const std::wstring time = db.kind == "maria" ? L"datetime" : L"timestamp";
  query make(&conn, L"create table batches(id int primary key, t varchar(20), n numeric(12,4), ts " + time + L", b " +
                        vela::testing::widen(db.blob_type()) + L")");
  ASSERT_TRUE(make.execute(true).succeeded());
}

} // namespace

TEST_P(BulkBatches, WholeBatchesKeepValuesAndFindRefusedRows) {
  const struct {
    size_t batch, rows;
    std::vector<size_t> dup;
    bool joined;
    std::vector<size_t> lines;
  } cases[] = {
      {1000, 2345, {}, false, {}},
      {7, 30, {}, false, {}},
      {10, 25, {13}, false, {113}},
      {10, 25, {10, 11, 25}, false, {110, 111, 125}},
      {4, 10, {6}, true, {106}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.batch) + " rows a batch, " + std::to_string(c.rows) + " rows");
    connection conn;
    ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
    make_table(conn, *db);
    if (c.joined)
      SQLSetConnectAttr(static_cast<SQLHDBC>(conn.hdbc()), SQL_ATTR_AUTOCOMMIT,
                        reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    bulk_insert e(conn, c.batch);
    e.join_transaction = c.joined;
    std::vector<size_t> lines;
    e.on_failure = [&lines](size_t line, const std::wstring&) { lines.push_back(line); };
    ASSERT_TRUE(e.prepare(L"batches", {}).succeeded());
    tricky_rows rows(c.rows, c.dup);
    EXPECT_TRUE(e.load(rows).succeeded());
    const uint64_t loaded = c.rows - c.dup.size();
    EXPECT_EQ(e.loaded(), loaded);
    EXPECT_EQ(e.failed(), c.dup.size());
    EXPECT_EQ(lines, c.lines);
    size_t last = c.rows;
    while (std::find(c.dup.begin(), c.dup.end(), last) != c.dup.end()) --last;
    EXPECT_EQ(e.last_committed().last, 100 + last);
    EXPECT_EQ(scalar(conn, L"select count(*) from batches"), std::to_wstring(loaded));
    if (c.joined) {
      // Nothing was committed: taken back with the caller's transaction.
      ASSERT_TRUE(conn.transact(1).succeeded());
      EXPECT_EQ(scalar(conn, L"select count(*) from batches"), L"0");
      continue;
    }
    // Every value as it went in, the rows of the batch that held a refused row too.
    const std::wstring hex = db->kind == "pg" ? L"encode(b, 'hex')" : L"lower(hex(b))";
    for (size_t i = 2; i <= c.rows; ++i) {
      if (std::find(c.dup.begin(), c.dup.end(), i) != c.dup.end()) continue;
      const std::wstring where = L" from batches where id = " + std::to_wstring(i);
      EXPECT_EQ(scalar(conn, L"select coalesce(t, '(null)')" + where), i % 13 ? texts[i % text_count] : L"(null)") << i;
      if (i > 40) continue;  // the other columns on the first rows
      EXPECT_EQ(scalar(conn, L"select n * 4" + where).substr(0, std::to_wstring(i * 4 + 1).size()),
                std::to_wstring(i * 4 + 1));
      wchar_t own[3];
      swprintf(own, 3, L"%02x", static_cast<unsigned>(i & 0x7F));
      EXPECT_EQ(scalar(conn, L"select case when b is null then 'none' else " + hex + L" end" + where),
                i % 5 ? L"00ff" + std::wstring(own) + L"225c" : L"none") << i;
    }
  }
}

// Text columns only (SQLite: the rows of a batch as one JSON text): texts JSON escapes, a
// text with a NUL, numbers that take their column's type, and a refused row in a batch.
TEST_P(BulkBatches, TextRowsInOneStatement) {
  connection conn;
  ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
  query drop(&conn, L"drop table if exists texts");
  (void)drop.execute(true);
  query make(&conn, L"create table texts(id int primary key, t varchar(30), x double precision)");
  ASSERT_TRUE(make.execute(true).succeeded());
  const std::wstring odd[] = {L"tab\there", L"line\nbreak\r", std::wstring(L"bell\x01\x1f"), L"q\"uo\\te", L"😀 é", L"[1,2]", L"null"};
  const bool nul = db->kind != "pg";  // PostgreSQL's text holds no NUL
  bulk_insert e(conn, 6);
  std::vector<size_t> lines;
  e.on_failure = [&lines](size_t line, const std::wstring&) { lines.push_back(line); };
  ASSERT_TRUE(e.prepare(L"texts", {}).succeeded());
  bulk_row row;
  for (size_t i = 1; i <= 20; ++i) {
    row.reset(3);
    row.values[0] = std::to_wstring(i == 9 ? 2 : i);  // 9 repeats 2
    row.values[1] = i == 17 && nul ? std::wstring(L"nul\0in", 6) : odd[i % 7];
    row.nulls[1] = i == 11;
    row.values[2] = std::to_wstring(i) + L".5";
    row.line = i;
    ASSERT_TRUE(e.add(row).succeeded());
  }
  ASSERT_TRUE(e.finish().succeeded());
  EXPECT_EQ(lines, std::vector<size_t>{9});
  EXPECT_EQ(e.loaded(), 19u);
  for (size_t i = 1; i <= 20; ++i) {
    if (i == 9 || i == 11 || (i == 17 && nul)) continue;
    EXPECT_EQ(scalar(conn, L"select t from texts where id = " + std::to_wstring(i)), odd[i % 7]) << i;
  }
  EXPECT_EQ(scalar(conn, L"select count(*) from texts where t is null"), L"1");
  EXPECT_EQ(scalar(conn, L"select sum(x) from texts"), L"210.5");  // 1.5 + … + 20.5 but 9.5
  if (nul) {
    EXPECT_EQ(scalar(conn, L"select lower(hex(t)) from texts where id = 17"), L"6e756c00696e");
  }
}

// No batch size asked for: the database's own, larger where each commit syncs a file (SQLite).
TEST_P(BulkBatches, TheDatabaseChoosesTheBatchSize) {
  connection conn;
  ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
  make_table(conn, *db);
  bulk_insert e(conn, 0);
  size_t batches = 0;
  e.on_batch = [&batches]() { ++batches; };
  ASSERT_TRUE(e.prepare(L"batches", {}).succeeded());
  tricky_rows rows(12345, {});
  ASSERT_TRUE(e.load(rows).succeeded());
  EXPECT_EQ(e.loaded(), 12345u);
  EXPECT_EQ(batches, db->kind == "sqlite" ? 2u : 13u);
  EXPECT_EQ(e.last_committed().number, batches);
}

// A batch runs while the next one fills: a failure that stops the load keeps the rows read
// meanwhile out, a row the source could not read counts after the failures of the batches
// before it, and the last batch committed is the one the rows in the table end with.
TEST_P(BulkBatches, AStopKeepsOutTheRowsReadMeanwhile) {
  const struct {
    uint64_t max_failures;
    std::vector<size_t> dup, unreadable;
    std::vector<size_t> failed_lines;
    size_t last_in;  // the last row loaded
  } cases[] = {
      {1, {7}, {}, {107}, 6},              // stopped in batch 2: batch 3 had filled, none of it goes
      {2, {7}, {13}, {107, 113}, 12},      // the unreadable row 13 stops it, after row 7 of the batch before
      {2, {7, 9}, {13}, {107, 109}, 8},    // stopped at row 9: row 13 is never counted
      {0, {7}, {13, 14}, {107, 113, 114}, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("max " + std::to_string(c.max_failures) + ", " + std::to_string(c.failed_lines.size()) + " failures");
    connection conn;
    ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
    make_table(conn, *db);
    bulk_insert e(conn, 5);
    e.max_failures = c.max_failures;
    std::vector<size_t> lines;
    e.on_failure = [&lines](size_t line, const std::wstring&) { lines.push_back(line); };
    ASSERT_TRUE(e.prepare(L"batches", {}).succeeded());
    tricky_rows rows(30, c.dup);
    bulk_row row;
    result end;
    while (!e.stopped() && rows.next(row, end)) {
      if (std::find(c.unreadable.begin(), c.unreadable.end(), row.line - 100) != c.unreadable.end())
        e.reject(row.line, L"unreadable");
      else
        ASSERT_TRUE(e.add(row).succeeded());
    }
    ASSERT_TRUE(e.finish().succeeded());
    EXPECT_EQ(lines, c.failed_lines);
    EXPECT_EQ(e.last_committed().last, 100 + c.last_in);
    size_t in = 0;
    for (size_t i = 1; i <= c.last_in; ++i)
      in += std::find(c.dup.begin(), c.dup.end(), i) == c.dup.end() &&
            std::find(c.unreadable.begin(), c.unreadable.end(), i) == c.unreadable.end();
    EXPECT_EQ(e.loaded(), in);
    EXPECT_EQ(scalar(conn, L"select count(*) from batches"), std::to_wstring(in));
    EXPECT_EQ(scalar(conn, L"select max(id) from batches"), std::to_wstring(c.last_in));
  }
}

// PostgreSQL's own kinds of column: a domain, an enum under a quoted name, an array, an
// identity that is always generated, and a table in a schema; a value too long for its
// column is refused alone.
TEST_P(BulkBatches, PostgresqlColumnKinds) {
  if (db->kind != "pg") GTEST_SKIP() << "PostgreSQL's types";
  connection conn;
  ASSERT_TRUE(conn.connect(nullptr, db->wcs()).succeeded());
  for (const wchar_t* s : {L"drop schema if exists load_kinds cascade", L"create schema load_kinds",
                           L"create domain load_kinds.positive as integer check (value > 0)",
                           L"create type load_kinds.\"Mood\" as enum ('glad', 'sad')",
                           L"create table load_kinds.\"Kinds\"(id int generated always as identity, p load_kinds.positive, "
                           L"m load_kinds.\"Mood\", a int[], v varchar(3), c char(4), f bit(3))",
                           // Statements that insert, counted: a batch goes in one or row by row.
                           L"create table load_kinds.statements(n int)",
                           L"create function load_kinds.counted() returns trigger language plpgsql as "
                           L"$$begin insert into load_kinds.statements values (1); return null; end$$",
                           L"create trigger counted after insert on load_kinds.\"Kinds\" for each statement "
                           L"execute function load_kinds.counted()"}) {
    query q(&conn, s);
    ASSERT_TRUE(q.execute(true).succeeded());
  }
  const struct {
    std::vector<std::wstring> columns;
    size_t batch;
  } cases[] = {
      {{L"id", L"p", L"m", L"c", L"f", L"v"}, 4},  // one array a column
      {{L"id", L"p", L"m", L"c", L"f", L"a", L"v"}, 4},  // an array column: rows of VALUES
  };
  size_t total = 0;
  for (const auto& c : cases) {
    bulk_insert e(conn, c.batch);
    std::vector<size_t> lines;
    e.on_failure = [&lines](size_t line, const std::wstring&) { lines.push_back(line); };
    ASSERT_TRUE(e.prepare(L"load_kinds.\"Kinds\"", c.columns).succeeded());
    bulk_row row;
    for (size_t i = 1; i <= 10; ++i) {
      row.reset(c.columns.size());
      row.values[0] = std::to_wstring(total + i);
      row.values[1] = std::to_wstring(i == 3 ? 0 : i);  // 0: the domain refuses it
      row.values[2] = i % 2 ? L"glad" : L"sad";
      row.values[3] = L"ab" + std::to_wstring(i % 10);  // fixed width, never cut to one character
      row.values[4] = L"101";
      if (c.columns.size() == 7) row.values[5] = L"{" + std::to_wstring(i) + L",2}";
      row.values.back() = i == 8 ? L"long" : L"abc";  // too long for varchar(3)
      row.line = i;
      ASSERT_TRUE(e.add(row).succeeded());
    }
    ASSERT_TRUE(e.finish().succeeded());
    EXPECT_EQ(lines, (std::vector<size_t>{3, 8}));
    EXPECT_EQ(e.loaded(), 8u);
    // One array a column: batches of 4, 4 and 2 rows, the first two run again row by row (3
    // rows each go in); every row alone would be 8.
    if (total == 0) {
      EXPECT_EQ(scalar(conn, L"select count(*) from load_kinds.statements"), L"7");
    }
    total += 10;
  }
  EXPECT_EQ(scalar(conn, L"select count(*) from load_kinds.\"Kinds\" where m = 'sad'"), L"8");
  EXPECT_EQ(scalar(conn, L"select sum(p) from load_kinds.\"Kinds\""), L"88");
  EXPECT_EQ(scalar(conn, L"select sum(a[1]) from load_kinds.\"Kinds\""), L"44");
  EXPECT_EQ(scalar(conn, L"select max(id) from load_kinds.\"Kinds\""), L"20");
  EXPECT_EQ(scalar(conn, L"select count(*) from load_kinds.\"Kinds\" where c = 'ab' || (id % 10) and f = B'101'"), L"16");
  query drop(&conn, L"drop schema load_kinds cascade");
  EXPECT_TRUE(drop.execute(true).succeeded());
}

INSTANTIATE_TEST_SUITE_P(Databases, BulkBatches, vela::testing::all_databases(), vela::testing::param_name);
