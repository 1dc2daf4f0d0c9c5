#include "vela/odbc/types.h"

#include <sql.h>
#include <sqlext.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

// The library's names stand for the driver manager's own types and values.
static_assert(std::is_same_v<SQLHENV, vela::odbc::env_handle>);
static_assert(std::is_same_v<SQLHDBC, vela::odbc::dbc_handle>);
static_assert(std::is_same_v<SQLHSTMT, vela::odbc::stmt_handle>);
static_assert(std::is_same_v<SQLRETURN, vela::odbc::return_code>);
static_assert(std::is_same_v<SQLLEN, int64_t>);
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t));
static_assert(static_cast<int>(vela::odbc::completion::no_prompt) == SQL_DRIVER_NOPROMPT);
static_assert(static_cast<int>(vela::odbc::completion::complete) == SQL_DRIVER_COMPLETE);
static_assert(static_cast<int>(vela::odbc::completion::prompt) == SQL_DRIVER_PROMPT);
static_assert(static_cast<int>(vela::odbc::completion::complete_required) == SQL_DRIVER_COMPLETE_REQUIRED);
static_assert(static_cast<int>(vela::odbc::bind_type::wide_text) == SQL_C_WCHAR);
static_assert(static_cast<int>(vela::odbc::bind_type::binary) == SQL_C_BINARY);
static_assert(static_cast<int>(vela::odbc::bind_type::int32) == SQL_C_LONG);
static_assert(static_cast<int>(vela::odbc::bind_type::int16) == SQL_C_SSHORT);
static_assert(static_cast<int>(vela::odbc::bind_type::float32) == SQL_C_FLOAT);
static_assert(static_cast<int>(vela::odbc::bind_type::float64) == SQL_C_DOUBLE);
static_assert(SQL_SUCCESS == 0 && SQL_SUCCESS_WITH_INFO == 1);  // sql_ok
static_assert(vela::odbc::null_data == SQL_NULL_DATA);
static_assert(vela::odbc::no_total == SQL_NO_TOTAL);

namespace vela::odbc {

type_class classify(int32_t sql_type) {
  switch (sql_type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR: return type_class::text;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return type_class::number;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR: return type_class::long_text;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return type_class::binary;
    case SQL_DATETIME:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP: return type_class::date_time;
    default: return type_class::other;
  }
}

bool is_long_or_binary(int32_t sql_type) {
  const type_class c = classify(sql_type);
  return c == type_class::long_text || c == type_class::binary;
}

bool is_fixed_length_text(int32_t sql_type) { return sql_type == SQL_CHAR || sql_type == SQL_WCHAR; }

bool is_floating(int32_t sql_type) { return sql_type == SQL_FLOAT || sql_type == SQL_REAL || sql_type == SQL_DOUBLE; }

size_t float_text(double v, int32_t sql_type, char* out) {
  const char* special = std::isnan(v) ? "NaN" : !std::isinf(v) ? nullptr : v < 0 ? "-Infinity" : "Infinity";
  if (special) {
    const size_t n = std::strlen(special);
    std::memcpy(out, special, n);
    return n;
  }
  const auto single = static_cast<float>(v);
  const std::to_chars_result r = sql_type == SQL_REAL && static_cast<double>(single) == v
                                     ? std::to_chars(out, out + float_text_size, single)
                                     : std::to_chars(out, out + float_text_size, v);
  return static_cast<size_t>(r.ptr - out);
}

namespace {

// Whether text is already what float_text makes of the double it names: a plain decimal
// with no needless zeros (digits, '-', one '.'), at most 15 significant digits (so no other
// decimal that short names the same double, and it is the shortest), and no longer than the
// same in exponent form.
bool shortest_already(const char* t, size_t n) {
  size_t i = t[0] == '-' ? 1 : 0;
  if (i == n || n >= float_text_size) return false;
  const size_t int_start = i;
  while (i < n && t[i] >= '0' && t[i] <= '9') ++i;
  const size_t int_digits = i - int_start;
  if (int_digits == 0 || (int_digits > 1 && t[int_start] == '0')) return false;
  size_t frac_digits = 0, frac_zeros = 0;  // leading zeros of the fraction
  if (i < n) {
    if (t[i] != '.') return false;
    for (++i; i < n && t[i] >= '0' && t[i] <= '9'; ++i) ++frac_digits;
    if (i != n || frac_digits == 0 || t[n - 1] == '0') return false;
    while (frac_zeros < frac_digits && t[int_start + int_digits + 1 + frac_zeros] == '0') ++frac_zeros;
  }
  const bool whole_zero = int_digits == 1 && t[int_start] == '0';
  if (whole_zero && frac_digits == 0) return true;  // 0 and -0
  size_t significant = 0;
  int exponent = 0;
  if (!whole_zero) {
    size_t trailing = 0;  // zeros ending the integer part count only when a fraction follows
    while (frac_digits == 0 && trailing < int_digits && t[int_start + int_digits - 1 - trailing] == '0') ++trailing;
    significant = int_digits - trailing + frac_digits;
    exponent = static_cast<int>(int_digits) - 1;
  } else {
    significant = frac_digits - frac_zeros;
    exponent = -static_cast<int>(frac_zeros) - 1;
  }
  if (significant > 15) return false;
  const size_t exponent_digits = std::abs(exponent) >= 100 ? 3 : 2;
  const size_t exponent_form = (t[0] == '-') + significant + (significant > 1) + 2 + exponent_digits;
  return n <= exponent_form;
}

} // namespace

size_t float_text(const char* text, size_t bytes, int32_t sql_type, char* out) {
  if (sql_type != SQL_REAL && bytes > 0 && shortest_already(text, bytes)) {
    std::memcpy(out, text, bytes);
    return bytes;
  }
  double v = 0;
  const char* const end = text + bytes;
  const std::from_chars_result r = std::from_chars(text, end, v);
  // from_chars takes neither a leading '+' nor out-of-range values: those stay text.
  if (bytes == 0 || r.ptr != end || r.ec != std::errc()) return 0;
  return float_text(v, sql_type, out);
}

} // namespace vela::odbc
