// Text cells fetched as UTF-8 bytes and as UTF-16 print the same bytes in every layout, on
// SQLite3, PostgreSQL and MariaDB; values the driver hands over cut are completed.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <regex>

#include "support/sqlterm_fixture.h"

using vela::testing::run_result;

namespace {

class SqltermCells : public vela::testing::sqlterm_test {
 protected:
  // sqlterm on the UTF-8 path (where the driver gives it) and on the wide path.
  std::pair<run_result, run_result> both(const std::vector<std::string>& args) {
    return {run(args), run(args, {}, {{"VELA_WIDE_CELLS", "1"}})};
  }
};

std::string repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

TEST_P(SqltermCells, BothPathsPrintTheSameBytesInEveryLayout) {
  use_table("cells_");
  sql("create table " + table + "(id integer, t varchar(12), n numeric(10,2), d date, x double precision, b " +
      db->blob_type() + ", l text)");
  // Every width class, beyond U+FFFF, combining marks, NULL, empty, values at and past the
  // buffer sizes (12 emoji: 24 UTF-16 units, 48 bytes), and a long value whose pieces end
  // inside a surrogate pair and inside a two-byte character.
  const std::string long_text = repeat("a", 16383) + "😀" + repeat("é", 9000);
  const char* rows[][3] = {
      {"'plain ascii'", "1.5", "'2024-01-02'"},
      {"'张伟北京'", "-2.25", "'1999-12-31'"},
      {"'😀😀😀'", "0", "'2000-02-29'"},
      {"'e\xCC\x81" "a\xCC\x80 Ø Ú é'", "12345678.9", "null"},
      {"null", "null", "null"},
      {"''", "3", "'2024-01-02'"},
      {"'ﾊﾝｶｸ ＡＢ Жук'", "4", "'2024-01-02'"},
      {"'😀😀😀😀😀😀😀😀😀😀😀😀'", "5", "'2024-01-02'"},
      {"'abcdefghijkl'", "6", "'2024-01-02'"},
      {"'Último Ø'", "7", "'2024-01-02'"},
  };
  int id = 0;
  for (const auto& r : rows) {
    ++id;
    sql("insert into " + table + " values(" + std::to_string(id) + ", " + r[0] + ", " + r[1] + ", " + r[2] + ", " +
        std::to_string(id) + ".125, " + (id % 2 ? db->hex("00ff10") : "null") + ", " +
        (id == 1 ? "'" + long_text + "'" : id == 2 ? std::string(r[0]) : "null") + ")");
  }
  const std::string select = "-q:select * from " + table + " order by id";
  const std::vector<std::vector<std::string>> layouts = {
      {},           {"-do"},           {"-null:NULL"},        {"-do", "-cd:,"},       {"-cd:\"\""},
      {"-csv"},     {"-csv", "-do"},   {"-lc:12"},            {"-lc", "-cd:|", "-do"}, {"-lc", "-csv"},
      {"-lc:7", "-null:-", "-do"},
  };
  for (const auto& layout : layouts) {
    std::vector<std::string> args = layout;
    args.push_back(select);
    auto [utf8, wide] = both(args);
    const std::regex time("Execution time [0-9.:]+s");
    for (run_result* r : {&utf8, &wide}) {
      r->out = std::regex_replace(r->out, time, "");
      r->err = std::regex_replace(r->err, time, "");
    }
    std::string name;
    for (const auto& a : layout) name += a + " ";
    EXPECT_EQ(utf8.status, 0) << name << utf8.err;
    EXPECT_EQ(utf8.err, wide.err) << name;
    EXPECT_EQ(utf8.out.size(), wide.out.size()) << name;
    const size_t at = static_cast<size_t>(std::mismatch(utf8.out.begin(), utf8.out.end(), wide.out.begin(), wide.out.end()).first -
                                          utf8.out.begin());
    EXPECT_TRUE(utf8.out == wide.out) << name << "\n" << utf8.out.substr(at < 300 ? 0 : at - 300, 400) << "\n"
                                      << wide.out.substr(at < 300 ? 0 : at - 300, 400);
    // Delimited and CSV output hold every value whole.
    if (layout.size() > 1 && layout[0] == "-lc" && layout[1] != "-csv") {
      EXPECT_NE(utf8.out.find(long_text), std::string::npos) << name;
      EXPECT_NE(utf8.out.find("|😀😀😀😀😀😀😀😀😀😀😀😀|"), std::string::npos) << name;
      EXPECT_NE(utf8.out.find("|Último Ø|"), std::string::npos) << name;
    }
  }
}

TEST_P(SqltermCells, ValuesPastTheDisplaySizeComeWhole) {
  // MariaDB reports the emoji cut (01004) to a wide buffer of the column's size; SQLite
  // keeps text longer than the declared size.
  use_table("past_");
  sql("create table " + table + "(id integer, v varchar(3))" + (maria() ? " character set utf8mb4" : ""));
  sql("insert into " + table + " values(1, '😀😀😀'), (2, 'Ø')" +
      std::string(pg() || maria() ? "" : ", (4, 'abcdefgh')"));
  const std::string expected = std::string("😀😀😀\nØ\n") + (pg() || maria() ? "" : "abcdefgh\n");
  for (const std::vector<std::string>& layout : {std::vector<std::string>{"-csv", "-do"}, {"-do", "-cd:,"}}) {
    std::vector<std::string> args = layout;
    args.push_back("-q:select v from " + table + " order by id");
    const auto [utf8, wide] = both(args);
    const std::string body = layout[0] == "-csv" ? utf8.out : utf8.out.substr(1, utf8.out.size() - 2);
    EXPECT_EQ(body, expected) << layout[0];
    EXPECT_EQ(utf8.out, wide.out) << layout[0];
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqltermCells, vela::testing::all_databases(), vela::testing::param_name);

class DriverCells : public vela::testing::connected_test {
 protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C.UTF-8");  // as sqlterm sets it up
    connected_test::SetUp();
  }
};

TEST_P(DriverCells, UTF8TextIsConfirmedForTheKnownDrivers) {
  EXPECT_TRUE(conn.utf8_narrow_text());
  EXPECT_STRNE(conn.traits().streaming_setting, L"");
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverCells, vela::testing::all_databases(), vela::testing::param_name);

} // namespace
