// The real databases the integration tests run against, and every difference between their
// drivers that a test may expect: one table, one row per database.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <regex>
#include <string>

#include "support/maria_server.h"
#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace vela::testing {

inline std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// How one driver answers where drivers differ.
struct dialect {
  const char* kind;             // test parameter
  const char* driver;           // ODBC driver name
  bool server;                  // a server started by the tests, shared by every test of a program
  const char* dsn_server_key;   // the host keyword of a data source entry ("" without a server)
  const char* blob_type;        // the column type for large binary values
  short blob_sql_type;          // how the driver describes that column
  int blob_display_size;        // and its display size (beyond 32 bits: saturated)
  const char* hex_open;         // a binary literal: hex_open + hex digits + "'"
  const char* quote;            // the identifier quote
  int int_display_size;         // SQL_COLUMN_DISPLAY_SIZE of an INTEGER column
  const char* decimal_12_5;     // 12.5 read back from a numeric(10,2) column
  bool nulls_last;              // where ORDER BY puts NULL
  bool select_counts_rows;      // SQLRowCount answers a SELECT with its rows
  bool update_counts_matched;   // an UPDATE that leaves a row as it was counts that row
  bool keeps_overlong_text;     // text longer than a varchar's size is stored, not refused
  bool completed_pwd_last;      // the completed connection string ends with "PWD=" and no ";"
  const char* varchar_cast;     // a cast to a short text type that the driver binds as text
  const char* datetime_type;    // a date and time of day without a zone
  const char* bit_type;         // a single bit
  const char* bit_one;          // the literal that sets it
  // Display sizes of integer, numeric(10,2), double precision, varchar(8), date, datetime_type,
  // timestamp and bit_type.
  int widths[8];
  // Exact values: the 4- and 8-byte floating-point types; whether the driver hands a double
  // over exactly (SQLite's gives 15 significant digits in every C type); whether the database
  // keeps infinities and NaN; a text value holding NUL and one holding a byte that is not
  // UTF-8 (nullptr where the database or its driver keeps none: SQLite's reads text up to a NUL,
  // PostgreSQL's text holds neither, MariaDB refuses bad UTF-8); the null-safe equality.
  const char* real_type;
  const char* double_type;
  bool exact_doubles;
  bool float_specials;
  const char* text_with_nul;
  const char* text_not_utf8;
  const char* same_as;
  // Connect failures: SQLSTATE, and a piece of the driver's text.
  const char* refused_state;
  const char* refused_text;
  const char* bad_password_state;
  const char* bad_password_text;
  const char* unknown_host_state;
  const char* unknown_host_text;
  // A column type the driver reports as BIT or as boolean, and its two values (MariaDB's
  // BOOLEAN is TINYINT(1), a number to its driver).
  const char* boolean_type;
  const char* boolean_true;
  const char* boolean_false;
  // \d finds the check constraints (the catalog views of the server; SQLite has none).
  bool lists_checks = true;
  // A statement that creates the function f_one() (nullptr: SQLite has no stored routines).
  const char* create_function = nullptr;
};

inline const dialect dialects[] = {
    {.kind = "sqlite", .driver = "SQLite3", .server = false, .dsn_server_key = "",
     .blob_type = "blob", .blob_sql_type = -2 /*SQL_BINARY*/, .blob_display_size = 255,
     .hex_open = "x'", .quote = "\"", .int_display_size = 10, .decimal_12_5 = "12.5",
     .nulls_last = false, .select_counts_rows = false, .update_counts_matched = true,
     .keeps_overlong_text = true, .completed_pwd_last = true, .varchar_cast = "varchar(10)",
     .datetime_type = "datetime", .bit_type = "bit", .bit_one = "1",
     .widths = {10, 10, 54, 8, 10, 32, 32, 1},
     .real_type = "real", .double_type = "double", .exact_doubles = false, .float_specials = false,
     .text_with_nul = nullptr, .text_not_utf8 = "cast(x'61ff62' as text)", .same_as = "is",
     .refused_state = "", .refused_text = "",
     .bad_password_state = "", .bad_password_text = "",
     .unknown_host_state = "", .unknown_host_text = "",
     .boolean_type = "boolean", .boolean_true = "1", .boolean_false = "0", .lists_checks = false},
    {.kind = "pg", .driver = "PostgreSQL Unicode", .server = true, .dsn_server_key = "Servername",
     .blob_type = "bytea", .blob_sql_type = -4 /*SQL_LONGVARBINARY*/, .blob_display_size = -4 /*SQL_NO_TOTAL*/,
     .hex_open = "'\\x", .quote = "\"", .int_display_size = 11, .decimal_12_5 = "12.50",
     .nulls_last = true, .select_counts_rows = true, .update_counts_matched = true,
     .keeps_overlong_text = false, .completed_pwd_last = false, .varchar_cast = "varchar(10)",
     .datetime_type = "timestamp", .bit_type = "bit(1)", .bit_one = "B'1'",
     .widths = {11, 12, 24, 8, 10, 26, 26, 255},
     .real_type = "real", .double_type = "double precision", .exact_doubles = true, .float_specials = true,
     .text_with_nul = nullptr, .text_not_utf8 = nullptr, .same_as = "is not distinct from",
     .refused_state = "08001", .refused_text = "Connection refused",
     .bad_password_state = "08001", .bad_password_text = "password authentication failed",
     .unknown_host_state = "08001", .unknown_host_text = "could not translate host name",
     .boolean_type = "boolean", .boolean_true = "true", .boolean_false = "false",
     .create_function = "create or replace function f_one() returns integer language sql as 'select 1'"},
    // MariaDB counts the rows an UPDATE changed, not those it matched; its driver reports
    // connect failures as HY000 (28000 for a refused login) and a LONGBLOB's display size
    // as 8589934590.
    {.kind = "maria", .driver = "MariaDB Unicode", .server = true, .dsn_server_key = "Server",
     .blob_type = "longblob", .blob_sql_type = -4 /*SQL_LONGVARBINARY*/, .blob_display_size = INT32_MAX,
     .hex_open = "x'", .quote = "`", .int_display_size = 11, .decimal_12_5 = "12.50",
     .nulls_last = false, .select_counts_rows = true, .update_counts_matched = false,
     .keeps_overlong_text = false, .completed_pwd_last = false, .varchar_cast = "char(10)",
     .datetime_type = "datetime", .bit_type = "bit(1)", .bit_one = "b'1'",
     .widths = {11, 12, 15, 8, 10, 19, 19, 1},
     .real_type = "float", .double_type = "double", .exact_doubles = true, .float_specials = false,
     .text_with_nul = "x'610062'", .text_not_utf8 = nullptr, .same_as = "<=>",
     .refused_state = "HY000", .refused_text = "Can't connect to server on '127.0.0.1'",
     .bad_password_state = "28000", .bad_password_text = "Access denied for user 'vela'",
     .unknown_host_state = "HY000", .unknown_host_text = "Unknown server host 'no-such-host.invalid'",
     .boolean_type = "bit(1)", .boolean_true = "b'1'", .boolean_false = "b'0'",
     .create_function = "create or replace function f_one() returns int return 1"},
};

inline const dialect& dialect_of(const std::string& kind) {
  for (const dialect& d : dialects)
    if (kind == d.kind) return d;
  throw std::invalid_argument("no database kind " + kind);
}

// Every database kind, for INSTANTIATE_TEST_SUITE_P.
inline auto all_databases() { return ::testing::Values("sqlite", "pg", "maria"); }

// One database per test: a fresh SQLite file, or the shared server of the kind.
struct database {
  std::string kind;  // "sqlite", "pg" or "maria"
  const dialect& d;
  temp_dir dir;
  std::string cs;

  explicit database(const std::string& k) : kind(k), d(dialect_of(k)) {
    if (kind == "pg") {
      pg_server& s = shared_pg_server();
      if (s.running()) cs = s.connection_string();
    } else if (kind == "maria") {
      maria_server& s = shared_maria_server();
      if (s.running()) cs = s.connection_string();
    } else {
      cs = "Driver=SQLite3;Database=" + dir.path("test.db") + ";";
    }
  }
  bool ready() const { return !cs.empty(); }
  std::string why_not() const {
    if (kind == "pg") return shared_pg_server().error();
    if (kind == "maria") return shared_maria_server().error();
    return "no database";
  }
  std::wstring wcs() const { return widen(cs); }
  const char* blob_type() const { return d.blob_type; }
  const char* text_type() const { return "text"; }
  // A binary literal of the bytes given as hex digits.
  std::string hex(const std::string& digits) const { return d.hex_open + digits + "'"; }
  std::string quoted(const std::string& name) const { return d.quote + name + d.quote; }
  int port() const {
    if (kind == "pg") return shared_pg_server().port();
    if (kind == "maria") return shared_maria_server().port();
    return 0;
  }
  // The server's database as a data source entry (after its "[name]" line), or a new SQLite file.
  std::string dsn_entry(const std::string& sqlite_file) const {
    if (!d.server) return std::string("Driver=") + d.driver + "\nDatabase=" + sqlite_file + "\n";
    const size_t at = cs.find("Database=") + 9;
    const std::string db = cs.substr(at, cs.find(';', at) - at);
    return std::string("Driver=") + d.driver + "\n" + d.dsn_server_key + "=127.0.0.1\nPort=" + std::to_string(port()) +
           "\nDatabase=" + db + "\n";
  }
  // The connection string with one keyword's value replaced ("Server", "Port", "PWD").
  std::string with(const std::string& key, const std::string& value) const {
    const size_t at = cs.find(key + "=");
    if (at == std::string::npos) return cs;
    const size_t end = cs.find(';', at);
    return cs.substr(0, at) + key + "=" + value + cs.substr(end);
  }
};

// Bytes that do not compress or repeat, the same for the same seed.
inline std::string random_bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  std::mt19937 gen(seed);
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// An error that sqlterm printed for a statement: "[SQLSTATE] …".
inline bool has_sql_error(const std::string& output) {
  static const std::regex state(R"(\[[0-9A-Z]{5}\] )");
  return std::regex_search(output, state);
}

inline std::string param_name(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

} // namespace vela::testing
