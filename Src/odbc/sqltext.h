// Text at the ODBC boundary: SQLWCHAR is UTF-16 in unixODBC, program text is wchar_t.
// Every conversion between the two happens here.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "vela/utf.h"

static_assert(sizeof(SQLWCHAR) == 2, "the driver manager must use 16-bit SQLWCHAR");

namespace vela::odbc {

// A wide string as a terminated SQLWCHAR array for one call.
class sql_text {
 public:
  explicit sql_text(std::wstring_view s) : units_(wide_to_utf16(s)), length_(units_.size()) {
    // The driver manager's converter may read past the terminator of short strings.
    if (units_.size() < padding) units_.resize(padding, u'\0');
  }
  SQLWCHAR* get() { return reinterpret_cast<SQLWCHAR*>(units_.data()); }
  SQLSMALLINT length16() const { return static_cast<SQLSMALLINT>(length_); }
  SQLINTEGER length32() const { return static_cast<SQLINTEGER>(length_); }

 private:
  static constexpr size_t padding = 64;
  std::u16string units_;
  size_t length_;
};

// A terminated (or counted) SQLWCHAR buffer back to program text.
inline std::wstring from_sql(const SQLWCHAR* s, size_t max_units) {
  size_t n = 0;
  while (n < max_units && s[n]) ++n;
  return utf16_to_wide(reinterpret_cast<const char16_t*>(s), n);
}

inline std::wstring from_sql(const SQLWCHAR* s) { return from_sql(s, static_cast<size_t>(-1)); }

// Low 32 bits of an address, as the log lines print pointers.
inline unsigned low32(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

} // namespace vela::odbc
