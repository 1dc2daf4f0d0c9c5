#include "Terminal/output/json_text.h"

#include <cstdint>
#include <cstring>

#include "vela/utf.h"

namespace vela::terminal {

namespace {

// Whether none of the eight bytes at p needs a look: ASCII from 0x20, neither '"' nor '\\'.
bool plain8(const char* p) {
  constexpr uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  const auto has_zero = [](uint64_t v) { return ((v - ones) & ~v & high) != 0; };
  // With no high bit set nothing carries: a byte below 0x20 stays below 0x80 after adding 0x60.
  return (x & high) == 0 && ((x + 0x60 * ones) & high) == high && !has_zero(x ^ ('"' * ones)) &&
         !has_zero(x ^ ('\\' * ones));
}

} // namespace

// Whether text is a JSON number as it stands.
bool json_number(const char* s, size_t n) {
  size_t i = 0;
  if (i < n && s[i] == '-') ++i;
  if (i == n || s[i] < '0' || s[i] > '9') return false;
  if (s[i] == '0') ++i;
  else while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
  if (i < n && s[i] == '.') {
    if (++i == n || s[i] < '0' || s[i] > '9') return false;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (i == n || s[i] < '0' || s[i] > '9') return false;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
  }
  return i == n;
}

// The inside of a JSON string: quotes, backslashes, control characters (NUL among them) and
// bytes of invalid UTF-8 escaped.
void append_json_escaped(std::string& to, const char* s, size_t n) {
  static const char digits[] = "0123456789abcdef";
  size_t from = 0;
  for (size_t i = 0; i < n; ++i) {
    while (i + 8 <= n && plain8(s + i)) i += 8;
    if (i == n) break;
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const size_t k = utf8_char_length(std::string_view(s + i, n - i));
      if (k > 0) {
        i += k - 1;
        continue;
      }
    } else if (c >= 0x20 && c != '"' && c != '\\') {
      continue;
    }
    to.append(s + from, i - from);
    from = i + 1;
    to += '\\';
    switch (c) {
      case '"': to += '"'; break;
      case '\\': to += '\\'; break;
      case '\n': to += 'n'; break;
      case '\r': to += 'r'; break;
      case '\t': to += 't'; break;
      case '\b': to += 'b'; break;
      case '\f': to += 'f'; break;
      default: to += "u00"; to += digits[c >> 4]; to += digits[c & 15];
    }
  }
  to.append(s + from, n - from);
}

} // namespace vela::terminal
