#include "Terminal/load/column_guess.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cwchar>

#include "vela/wstr.h"

namespace vela::terminal {

namespace {

constexpr uint16_t widest_decimal = 38;  // digits of a numeric the three databases all keep

bool digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Digits from p on: how many.
size_t digits_at(std::wstring_view v, size_t p) {
  size_t n = 0;
  while (p + n < v.size() && digit(v[p + n])) ++n;
  return n;
}

unsigned number_at(std::wstring_view v, size_t p, size_t n) {
  unsigned x = 0;
  for (size_t i = 0; i < n; ++i) x = x * 10 + static_cast<unsigned>(v[p + i] - L'0');
  return x;
}

// yyyy-mm-dd at the start of v, a day of the calendar.
bool date_part(std::wstring_view v) {
  if (v.size() < 10 || digits_at(v, 0) != 4 || v[4] != L'-' || digits_at(v, 5) != 2 || v[7] != L'-' || digits_at(v, 8) != 2)
    return false;
  const unsigned y = number_at(v, 0, 4), m = number_at(v, 5, 2), d = number_at(v, 8, 2);
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y == 0 || m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

// hh:mm:ss[.f…] (up to microseconds) from p to the end.
bool time_part(std::wstring_view v, size_t p) {
  if (v.size() < p + 8 || digits_at(v, p) != 2 || v[p + 2] != L':' || digits_at(v, p + 3) != 2 || v[p + 5] != L':' ||
      digits_at(v, p + 6) != 2)
    return false;
  if (number_at(v, p, 2) > 23 || number_at(v, p + 3, 2) > 59 || number_at(v, p + 6, 2) > 59) return false;
  p += 8;
  if (p == v.size()) return true;
  const size_t f = v[p] == L'.' ? digits_at(v, p + 1) : 0;
  return f >= 1 && f <= 6 && p + 1 + f == v.size();
}

guessed_kind number_kind(std::wstring_view v, uint16_t& whole, uint16_t& scale) {
  size_t p = v[0] == L'-' ? 1 : 0;
  const size_t w = digits_at(v, p);
  if (w == 0 || (w > 1 && v[p] == L'0')) return guessed_kind::text;
  p += w;
  size_t f = 0;
  if (p < v.size() && v[p] == L'.') {
    f = digits_at(v, p + 1);
    if (f == 0) return guessed_kind::text;
    p += 1 + f;
  }
  if (p < v.size() && (v[p] == L'e' || v[p] == L'E')) {
    size_t q = p + 1;
    if (q < v.size() && (v[q] == L'+' || v[q] == L'-')) ++q;
    const size_t e = digits_at(v, q);
    if (e == 0 || q + e != v.size()) return guessed_kind::text;
    const double x = std::wcstod(std::wstring(v).c_str(), nullptr);
    return std::isfinite(x) ? guessed_kind::floating : guessed_kind::text;
  }
  if (p != v.size() || w + f > widest_decimal) return guessed_kind::text;
  whole = static_cast<uint16_t>(w);
  scale = static_cast<uint16_t>(f);
  if (f) return guessed_kind::decimal;
  if (w < 10) return guessed_kind::integer;
  if (w > 19) return guessed_kind::decimal;
  const std::wstring text(v);
  errno = 0;
  const long long x = std::wcstoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return guessed_kind::decimal;
  return x >= INT32_MIN && x <= INT32_MAX ? guessed_kind::integer : guessed_kind::bigint;
}

// "true" or "false" in any letter case (asked of every value: no text is made for it).
bool is_boolean(std::wstring_view v) {
  const std::wstring_view word = v.size() == 4 ? L"true" : v.size() == 5 ? L"false" : L"";
  if (word.empty()) return false;
  for (size_t i = 0; i < v.size(); ++i)
    if ((v[i] | 0x20) != word[i]) return false;
  return true;
}

bool integral(guessed_kind k) { return k == guessed_kind::integer || k == guessed_kind::bigint; }
bool exact_number(guessed_kind k) { return integral(k) || k == guessed_kind::decimal; }

} // namespace

guessed_kind kind_of(std::wstring_view v, uint16_t& whole, uint16_t& scale) {
  whole = scale = 0;
  if (v.empty()) return guessed_kind::text;
  if (is_boolean(v)) return guessed_kind::boolean;
  if (digit(v[0]) && date_part(v)) {
    if (v.size() == 10) return guessed_kind::date;
    if ((v[10] == L' ' || v[10] == L'T') && time_part(v, 11)) return guessed_kind::timestamp;
    return guessed_kind::text;
  }
  if (digit(v[0]) || v[0] == L'-') return number_kind(v, whole, scale);
  return guessed_kind::text;
}

void column_guess::join(const column_guess& o) {
  if (o.kind == guessed_kind::none || *this == o) return;
  if (kind == guessed_kind::none) {
    *this = o;
    return;
  }
  const guessed_kind a = kind, b = o.kind;
  if (exact_number(a) && exact_number(b)) {
    if (a == guessed_kind::decimal || b == guessed_kind::decimal) {
      // Integers count their digits as a decimal's whole part.
      const uint16_t w = std::max(whole, o.whole), s = std::max(scale, o.scale);
      kind = w + s > widest_decimal ? guessed_kind::text : guessed_kind::decimal;
      whole = w;
      scale = s;
    } else {
      kind = std::max(a, b);
      whole = std::max(whole, o.whole);
    }
  } else if ((exact_number(a) || a == guessed_kind::floating) && (exact_number(b) || b == guessed_kind::floating)) {
    kind = guessed_kind::floating;
  } else if ((a == guessed_kind::date || a == guessed_kind::timestamp) && (b == guessed_kind::date || b == guessed_kind::timestamp)) {
    kind = guessed_kind::timestamp;
  } else if (a != b) {
    kind = guessed_kind::text;
  }
  if (kind != guessed_kind::decimal && !integral(kind)) whole = scale = 0;
}

bool column_guess::take(std::wstring_view value) {
  if (kind == guessed_kind::text) return false;
  column_guess v;
  v.kind = kind_of(value, v.whole, v.scale);
  const column_guess before = *this;
  join(v);
  return !same_type(before);
}

bool column_guess::same_type(const column_guess& o) const {
  return kind == o.kind && (kind != guessed_kind::decimal || (whole == o.whole && scale == o.scale));
}

odbc::column_shape column_guess::shape(const std::wstring& name) const {
  odbc::column_shape c;
  c.name = name;
  c.type_name.clear();
  switch (kind) {
    case guessed_kind::boolean: c.sql_type = -7 /*SQL_BIT*/; break;
    case guessed_kind::integer: c.sql_type = 4 /*SQL_INTEGER*/; break;
    case guessed_kind::bigint: c.sql_type = -5 /*SQL_BIGINT*/; break;
    case guessed_kind::decimal:
      c.sql_type = 3 /*SQL_DECIMAL*/;
      c.size = static_cast<uint64_t>(whole) + scale;
      c.scale = static_cast<int16_t>(scale);
      break;
    case guessed_kind::floating: c.sql_type = 8 /*SQL_DOUBLE*/; break;
    case guessed_kind::date: c.sql_type = 91 /*SQL_TYPE_DATE*/; break;
    case guessed_kind::timestamp: c.sql_type = 93 /*SQL_TYPE_TIMESTAMP*/; break;
    case guessed_kind::none:
    case guessed_kind::text: c.sql_type = -10 /*SQL_WLONGVARCHAR*/; break;
  }
  return c;
}

bool widens_in_place(const column_guess& from, const column_guess& to) {
  return exact_number(from.kind) && (exact_number(to.kind) || to.kind == guessed_kind::text);
}

const wchar_t* boolean_text(std::wstring_view v) { return v.size() == 4 ? L"1" : L"0"; }

} // namespace vela::terminal
