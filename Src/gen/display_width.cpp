// Terminal cells of text, from a table generated from the Unicode data
// (scripts/gen-display-width), so every platform and locale measures alike.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "gen/display_width_table.h"
#include "vela/utf.h"

namespace vela {

namespace {

bool in(const width_table::code_point_range* first, const width_table::code_point_range* last, char32_t c) {
  const auto* at = std::upper_bound(first, last, c, [](char32_t v, const width_table::code_point_range& r) {
    return v < r.first;
  });
  return at != first && c <= (at - 1)->last;
}

// One character from UTF-8 at s (n > 0 bytes); its length goes to *len. A byte that starts
// no valid sequence is taken alone, as U+FFFD.
char32_t decode(const unsigned char* s, size_t n, size_t* len) {
  const unsigned char b = s[0];
  size_t need = b < 0x80 ? 0 : b >= 0xF5 ? 4 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 4;
  if (need == 0 || need > 3 || need >= n) {
    *len = 1;
    return need == 0 ? b : 0xFFFD;
  }
  char32_t c = b & (0x3F >> need);
  for (size_t i = 1; i <= need; ++i) {
    if ((s[i] & 0xC0) != 0x80) {
      *len = 1;
      return 0xFFFD;
    }
    c = (c << 6) | (s[i] & 0x3F);
  }
  *len = need + 1;
  return c;
}

} // namespace

int char_display_width(char32_t c) {
  if (c < 0x7F) return c >= 0x20 ? 1 : 0;
  if (c < 0xA0) return 0;
  using namespace width_table;
  if (in(std::begin(zero_width), std::end(zero_width), c)) return 0;
  if (c >= 0x1100 && in(std::begin(double_width), std::end(double_width), c)) return 2;
  return 1;
}

namespace {

// Whether all eight bytes are printable ASCII (0x20 to 0x7E).
bool printable_ascii8(const unsigned char* p) {
  constexpr uint64_t high = 0x8080808080808080ull;
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if (x & high) return false;
  // With no high bit set no byte carries: below 0x20 stays below 0x80 after adding 0x60,
  // and 0x7F reaches it after adding 1.
  return ((x + 0x6060606060606060ull) & high) == high && ((x + 0x0101010101010101ull) & high) == 0;
}

} // namespace

size_t utf8_display_width(const char* s, size_t bytes) {
  size_t cells = 0;
  (void)utf8_fit_cells(s, bytes, SIZE_MAX, &cells);
  return cells;
}

size_t utf8_fit_cells(const char* s, size_t bytes, size_t max_cells, size_t* cells) {
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  size_t at = 0, used = 0;
  while (at < bytes) {
    if (at + 8 <= bytes && used + 8 <= max_cells && printable_ascii8(u + at)) {
      used += 8;
      at += 8;
      continue;
    }
    if (u[at] >= 0x20 && u[at] < 0x7F) {  // printable ASCII: one cell a byte
      if (used == max_cells) break;
      ++used;
      ++at;
      continue;
    }
    size_t len = 1;
    const char32_t c = decode(u + at, bytes - at, &len);
    const size_t w = static_cast<size_t>(char_display_width(c));
    if (used + w > max_cells) break;
    used += w;
    at += len;
  }
  *cells = used;
  return at;
}

} // namespace vela
