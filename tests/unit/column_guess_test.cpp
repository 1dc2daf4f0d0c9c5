// Column types guessed from text values, the CREATE options of \copy, and the types a
// column of one database takes on another.
#include <gtest/gtest.h>

#include "Terminal/load/column_guess.h"
#include "Terminal/load/copy_data.h"
#include "vela/odbc/driver_profile.h"
#include "vela/odbc/type_mapping.h"
#include "vela/utf.h"

using namespace vela::terminal;

TEST(ColumnGuess, KindOfOneValue) {
  const struct {
    const wchar_t* value;
    guessed_kind kind;
    uint16_t whole, scale;
  } cases[] = {
      {L"0", guessed_kind::integer, 1, 0},
      {L"-2147483648", guessed_kind::integer, 10, 0},
      {L"2147483648", guessed_kind::bigint, 10, 0},
      {L"-9223372036854775808", guessed_kind::bigint, 19, 0},
      {L"9223372036854775808", guessed_kind::decimal, 19, 0},
      {L"12.50", guessed_kind::decimal, 2, 2},
      {L"-0.001", guessed_kind::decimal, 1, 3},
      {L"1.5e3", guessed_kind::floating, 0, 0},
      {L"1e400", guessed_kind::text, 0, 0},  // no double holds it
      {L"007", guessed_kind::text, 0, 0},    // would read back as 7
      {L"+5", guessed_kind::text, 0, 0},
      {L".5", guessed_kind::text, 0, 0},
      {L"5.", guessed_kind::text, 0, 0},
      {L"", guessed_kind::text, 0, 0},
      {L"TRUE", guessed_kind::boolean, 0, 0},
      {L"false", guessed_kind::boolean, 0, 0},
      {L"2024-02-29", guessed_kind::date, 0, 0},
      {L"2023-02-29", guessed_kind::text, 0, 0},  // no such day
      {L"2024-13-01", guessed_kind::text, 0, 0},
      {L"2024-01-05 10:11:12", guessed_kind::timestamp, 0, 0},
      {L"2024-01-05T23:59:59.123456", guessed_kind::timestamp, 0, 0},
      {L"2024-01-05 24:00:00", guessed_kind::text, 0, 0},
      {L"2024-01-05 10:11:12.1234567", guessed_kind::text, 0, 0},  // beyond microseconds
      {L"abc", guessed_kind::text, 0, 0},
  };
  for (const auto& c : cases) {
    uint16_t whole = 99, scale = 99;
    EXPECT_EQ(kind_of(c.value, whole, scale), c.kind) << vela::wide_to_utf8(c.value);
    if (c.kind == guessed_kind::integer || c.kind == guessed_kind::bigint || c.kind == guessed_kind::decimal) {
      EXPECT_EQ(whole, c.whole) << vela::wide_to_utf8(c.value);
      EXPECT_EQ(scale, c.scale) << vela::wide_to_utf8(c.value);
    }
  }
}

TEST(ColumnGuess, ValuesWidenTheColumn) {
  const struct {
    std::vector<const wchar_t*> values;
    guessed_kind kind;
    uint16_t whole, scale;
  } cases[] = {
      {{L"1", L"22", L"3000000000"}, guessed_kind::bigint, 10, 0},
      {{L"1", L"123.5", L"0.25"}, guessed_kind::decimal, 3, 2},
      {{L"12345", L"1.5e3"}, guessed_kind::floating, 0, 0},
      {{L"2024-01-01", L"2024-01-01 10:00:00"}, guessed_kind::timestamp, 0, 0},
      {{L"true", L"1"}, guessed_kind::text, 0, 0},
      {{L"1", L"abc", L"2"}, guessed_kind::text, 0, 0},
      {{L"2024-01-01", L"5"}, guessed_kind::text, 0, 0},
      {{L"1234567890123456789012345678901234567", L"0.12"}, guessed_kind::text, 0, 0},  // 39 digits
  };
  for (const auto& c : cases) {
    column_guess g;
    for (const wchar_t* v : c.values) g.take(v);
    EXPECT_EQ(g.kind, c.kind) << vela::wide_to_utf8(c.values.back());
    EXPECT_EQ(g.whole, c.whole) << vela::wide_to_utf8(c.values.back());
    EXPECT_EQ(g.scale, c.scale) << vela::wide_to_utf8(c.values.back());
  }
  // An integer's digits change no type, but count when it becomes a decimal.
  column_guess digits;
  EXPECT_TRUE(digits.take(L"5"));
  EXPECT_FALSE(digits.take(L"123456"));
  EXPECT_TRUE(digits.take(L"0.5"));
  EXPECT_EQ(digits.whole, 6);
  EXPECT_EQ(digits.scale, 1);
  // ALTER keeps numbers as they read when they widen to numbers or text; others need the table again.
  column_guess integer{guessed_kind::integer, 3, 0}, decimal{guessed_kind::decimal, 4, 2}, text{guessed_kind::text, 0, 0},
      boolean{guessed_kind::boolean, 0, 0}, floating{guessed_kind::floating, 0, 0};
  EXPECT_TRUE(widens_in_place(integer, decimal));
  EXPECT_TRUE(widens_in_place(decimal, text));
  EXPECT_FALSE(widens_in_place(integer, floating));
  EXPECT_FALSE(widens_in_place(boolean, text));
}

TEST(ColumnGuess, CreateOptions) {
  const struct {
    const wchar_t* text;
    copy_format::creation create;
    size_t sample;
    bool ok;
  } cases[] = {
      {L"\\copy t from 'f' with (format csv, header, create)", copy_format::creation::create, 10000, true},
      {L"\\copy t from 'f' with (create if not exists, sample 50)", copy_format::creation::if_not_exists, 50, true},
      {L"\\copy t from 'f' with (format csv, replace)", copy_format::creation::replace, 10000, true},
      {L"\\copy t from 'f' csv header create", copy_format::creation::create, 10000, true},
      {L"\\copy t from 'f' with (create if exists)", copy_format::creation::create, 10000, false},
      {L"\\copy t from 'f' with (sample 0)", copy_format::creation::none, 10000, false},
  };
  for (const auto& c : cases) {
    copy_command cmd;
    std::wstring why;
    EXPECT_EQ(parse_copy(c.text, cmd, why), c.ok) << vela::wide_to_utf8(c.text);
    if (!c.ok) continue;
    EXPECT_EQ(cmd.format.create, c.create) << vela::wide_to_utf8(c.text);
    EXPECT_EQ(cmd.format.sample, c.sample) << vela::wide_to_utf8(c.text);
  }
}

// A column of one database as each family makes it (the listed types of the database do not
// come into it where the family decides).
TEST(TypeMapping, FamiliesChooseTheirTypes) {
  using vela::odbc::column_shape;
  const vela::odbc::driver_profile pg(L"psqlodbcw.so", L"PostgreSQL", L"", nullptr), maria(L"libmaodbc.so", L"MariaDB", L"", nullptr),
      lite(L"libsqlite3odbc.so", L"SQLite", L"", nullptr);
  const struct {
    column_shape c;
    const wchar_t *pg, *maria, *sqlite;
  } cases[] = {
      {{L"a", -7, 1, 0, true, false, L"bit"}, L"boolean", L"tinyint(1)", L"BOOLEAN"},
      {{L"a", 4, 10, 0, true, true, L"int"}, L"bigint", L"int unsigned", L"INTEGER"},
      {{L"a", 2, 12, 4, true, false, L"numeric"}, L"numeric(12,4)", L"decimal(12,4)", L"NUMERIC(12,4)"},
      {{L"a", 2, 30, 4, true, false, L"numeric"}, L"numeric(30,4)", L"decimal(30,4)", L"TEXT"},
      {{L"a", 8, 15, 0, true, false, L"double"}, L"double precision", L"double", L"REAL"},
      {{L"a", -10, 0, 0, true, false, L"text"}, L"text", L"longtext", L"TEXT"},
      {{L"a", -9, 20000, 0, true, false, L"varchar"}, L"", L"longtext", L"TEXT"},
      {{L"a", -4, 0, 0, true, false, L"blob"}, L"bytea", L"longblob", L"BLOB"},
      {{L"a", 93, 26, 6, true, false, L"timestamp"}, L"timestamp", L"datetime(6)", L"TIMESTAMP"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pg.column_type(c.c), c.pg) << c.c.sql_type;
    EXPECT_EQ(maria.column_type(c.c), c.maria) << c.c.sql_type;
    EXPECT_EQ(lite.column_type(c.c), c.sqlite) << c.c.sql_type;
  }
  // Where the family leaves it, the closest listed type with the column's size.
  vela::odbc::type_catalog types;
  types.types = {{L"varchar", 12, 65535, L"max length", false, false}, {L"longtext", -1, 0, L"", false, false}};
  EXPECT_EQ(vela::odbc::target_type({L"a", -9, 40, 0, true, false, L""}, pg, types), L"varchar(40)");
  EXPECT_EQ(vela::odbc::target_type({L"a", -9, 70000, 0, true, false, L""}, pg, types), L"longtext");
}
