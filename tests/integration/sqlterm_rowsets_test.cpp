// Rows fetched many at a time print the same bytes as rows fetched one at a time, on SQLite3,
// PostgreSQL and MariaDB: NULLs, booleans, doubles, values longer than their buffers, a row
// that fails mid-result; the library's rowsets hand each row over in turn.
#include <gtest/gtest.h>

#include <regex>

#include "support/sqlterm_fixture.h"
#include "vela/odbc/environment.h"

using vela::testing::run_result;

namespace {

class Rowsets : public vela::testing::connected_test {};

// 250 rows of (id, v, x, b): every 7th text NULL, every 13th three emoji (longer than a wide
// buffer of the column's size) where emoji are given, every 5th double NULL, b alternating
// (true_false: the database's words for it), and (SQLite, which keeps what it is given) every
// 11th text longer than its column.
std::string fill_rows(const std::string& table, bool long_values, const char* const true_false[2], bool emoji = true) {
  std::string sql = "insert into " + table + " values";
  for (int i = 1; i <= 250; ++i) {
    const std::string text = i % 7 == 0                      ? "null"
                             : long_values && i % 11 == 0    ? "'abcdefgh'"
                             : emoji && i % 13 == 0          ? "'😀😀😀'"
                                                             : "'v" + std::to_string(i % 100) + "'";
    sql += (i > 1 ? ", (" : "(") + std::to_string(i) + ", " + text + ", " + (i % 5 == 0 ? "null" : std::to_string(i) + ".5") +
           ", " + true_false[i % 2] + ")";
  }
  return sql;
}

const char* const zero_one[2] = {"0", "1"};

TEST_P(Rowsets, EachRowOfARowsetIsHandedOverInTurn) {
  name_table("rows_");
  exec("drop table if exists " + table);
  exec("create table " + table + "(id integer, v varchar(3), x double precision, b integer)");
  exec(fill_rows(table, false, zero_one, false));
  vela::odbc::query q(&conn, vela::testing::widen("select id, v, x from " + table + " order by id"));
  for (const size_t rows : {size_t{7}, size_t{1}}) {  // the statement reused: one row at a time again
    ASSERT_TRUE(q.execute(false).succeeded());
    vela::odbc::resultset& r = q.rows();
    if (rows > 1) {
      ASSERT_TRUE(r.set_rowset(rows).succeeded());
      ASSERT_TRUE(r.bind_all().succeeded());
    }
    EXPECT_EQ(r.rowset_size(), rows);
    int id = 0;
    vela::result end;
    while (r.fetch_row(end)) {
      ++id;
      ASSERT_EQ(*static_cast<const int32_t*>(r.at(0).buffer()), id);
      EXPECT_EQ(r.at(1).is_null(), id % 7 == 0) << id;
      if (id % 7) {
        EXPECT_EQ(r.at(1).text(), L"v" + std::to_wstring(id % 100)) << id;
      }
      EXPECT_EQ(r.at(2).is_null(), id % 5 == 0) << id;
    }
    EXPECT_EQ(end.code(), vela::odbc::no_data_error()) << vela::wide_to_utf8(end.format());
    EXPECT_EQ(id, 250);
  }
}

TEST_P(Rowsets, TheRowsBeforeARowThatFailsAreHandedOverThenItsFailure) {
  if (GetParam() != "sqlite") GTEST_SKIP() << "only SQLite's driver reports the rows fetched before a failed one";
  ASSERT_TRUE(conn.disconnect().succeeded());
  ASSERT_TRUE(conn.connect(nullptr, db->wcs() + L"StepAPI=1;").succeeded());
  name_table("rowfail_");
  exec("drop table if exists " + table);
  exec("create table " + table + "(n integer)");
  exec("insert into " + table + " values(1), (2), (3), (4), (5), (6), (7), (8), (9), (10), (11), (12), (13)");
  vela::odbc::query q(&conn, vela::testing::widen("select n, case when n = 12 then abs(-9223372036854775808) end from " + table));
  ASSERT_TRUE(q.execute(false).succeeded());
  ASSERT_TRUE(q.rows().set_rowset(7).succeeded());
  ASSERT_TRUE(q.rows().bind_all().succeeded());
  int rows = 0;
  vela::result end;
  while (q.rows().fetch_row(end)) EXPECT_EQ(*static_cast<const int32_t*>(q.rows().at(0).buffer()), ++rows);
  EXPECT_EQ(rows, 11);
  EXPECT_FALSE(end.succeeded());
  EXPECT_NE(vela::wide_to_utf8(end.text()).find("integer overflow"), std::string::npos) << vela::wide_to_utf8(end.format());
  EXPECT_FALSE(q.rows().fetch_row(end));  // and nothing after it
}

INSTANTIATE_TEST_SUITE_P(Drivers, Rowsets, vela::testing::all_databases(), vela::testing::param_name);

class SqltermRowsets : public vela::testing::sqlterm_test {
 protected:
  // sqlterm as it chooses, one row at a time, and in rowsets of 7 rows; the times masked.
  std::vector<run_result> three_ways(std::vector<std::string> args, const std::string& cs_extra = {},
                                    std::map<std::string, std::string> env = {}) {
    std::vector<run_result> out;
    args.insert(args.begin(), {SQLTERM_PATH, "-cs:" + db->cs + cs_extra});
    for (const char* rows : {"", "1", "7"}) {
      if (*rows) env["VELA_ROWSET_ROWS"] = rows;
      run_result r = vela::testing::run_process(args, {}, env);
      const std::regex time("Execution time [0-9.:]+s");
      r.out = std::regex_replace(r.out, time, "");
      r.err = std::regex_replace(r.err, time, "");
      out.push_back(r);
    }
    return out;
  }
};

TEST_P(SqltermRowsets, EveryLayoutPrintsWhatOneRowAtATimePrints) {
  use_table("rowsets_");
  sql("create table " + table + "(id integer, v varchar(3), x double precision, b " +
      (pg() ? "boolean" : maria() ? "bit(1)" : "bit") + ")" + (maria() ? " character set utf8mb4" : ""));
  const char* const false_true[2] = {"false", "true"};
  sql(fill_rows(table, !pg() && !maria(), pg() ? false_true : zero_one));
  const std::string select = "-q:select id, v, x, b from " + table + " order by id";
  const std::vector<std::vector<std::string>> layouts = {
      {},         {"-csv"},          {"-do", "-cd:,"}, {"-format:aligned"}, {"-format:json"},
      {"-do"},    {"-null:NULL"},    {"-csv", "-do"},
  };
  for (std::vector<std::string> args : layouts) {
    std::string name;
    for (const auto& a : args) name += a + " ";
    args.push_back(select);
    // On the wide path the emoji are cut and read again.
    for (const char* wide : {"0", "1"}) {
      const std::vector<run_result> runs = three_ways(args, {}, {{"VELA_WIDE_CELLS", wide}});
      EXPECT_EQ(runs[0].status, 0) << name << runs[0].err;
      if (name.find("-do") == std::string::npos) {
        EXPECT_NE((runs[0].out + runs[0].err).find("Rows selected: 250."), std::string::npos) << name;
      }
      for (size_t i = 1; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].status, runs[0].status) << name;
        EXPECT_EQ(runs[i].err, runs[0].err) << name;
        EXPECT_TRUE(runs[i].out == runs[0].out) << name << " run " << i << " wide " << wide;
      }
    }
  }
  if (!pg() && !maria()) {  // a value longer than its column comes whole where it is wanted whole
    const std::vector<run_result> runs = three_ways({"-csv", "-do", "-q:select v from " + table + " where id = 11"});
    for (const run_result& r : runs) EXPECT_EQ(r.out, "abcdefgh\n");
  }
}

TEST_P(SqltermRowsets, ARowThatFailsMidResultEndsTheRowsWhereOneRowAtATimeEndsThem) {
  if (maria()) GTEST_SKIP() << "MariaDB computes the whole result before the first fetch";
  use_table("rowfail_");
  sql("create table " + table + "(n integer)");
  std::string values;
  for (int i = 1; i <= 20; ++i) values += (i > 1 ? ", (" : "(") + std::to_string(i) + ")";
  sql("insert into " + table + " values" + values);
  // Rows come from the server one at a time (PostgreSQL, through a cursor; SQLite, a step
  // each): the twelfth fails in the fetch.
  const std::string cs_extra = pg() ? "UseDeclareFetch=1;Fetch=1;" : "StepAPI=1;";
  const std::string boom = pg() ? "1 / (12 - n)" : "case when n = 12 then abs(-9223372036854775808) end";
  for (const std::vector<std::string>& layout : {std::vector<std::string>{}, {"-csv"}}) {
    std::vector<std::string> args = layout;
    args.push_back("-q:select n, " + boom + " as q from " + table);
    const std::vector<run_result> runs = three_ways(args, cs_extra);
    EXPECT_NE((runs[1].out + runs[1].err).find("Rows selected: 11."), std::string::npos) << runs[1].out << runs[1].err;
    EXPECT_NE((runs[1].out + runs[1].err).find(pg() ? "division by zero" : "integer overflow"), std::string::npos);
    for (size_t i : {size_t{0}, size_t{2}}) {
      EXPECT_EQ(runs[i].err, runs[1].err) << i;
      EXPECT_EQ(runs[i].out, runs[1].out) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqltermRowsets, vela::testing::all_databases(), vela::testing::param_name);

} // namespace
