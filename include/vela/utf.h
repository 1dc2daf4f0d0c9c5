// The one place where text changes between UTF-8, UTF-16 and UTF-32 (wchar_t).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vela {

// Invalid sequences become U+FFFD; *valid (when given) tells whether there were none.
std::wstring utf8_to_wide(std::string_view s, bool* valid = nullptr);
// Lone surrogates and values beyond U+10FFFF are written as U+FFFD.
std::string wide_to_utf8(std::wstring_view s);
void append_utf8(std::string& out, std::wstring_view s);

// Names, arguments and environment text are bytes on POSIX systems: a byte that is not part
// of valid UTF-8 becomes U+DC00 + byte (U+DC80..U+DCFF) and such a lone code point becomes
// the byte again, so any byte string comes back unchanged. Valid UTF-8 converts as above.
std::wstring utf8_to_wide_escaped(std::string_view s);
std::string wide_to_utf8_escaped(std::wstring_view s);
// Whether s holds such an escaped byte.
bool has_escaped_bytes(std::wstring_view s);

// UTF-16 code units (host order); characters above U+FFFF become surrogate pairs.
std::u16string wide_to_utf16(std::wstring_view s);
void append_utf16(std::u16string& out, std::wstring_view s);
// Pairs are joined; lone surrogates become U+FFFD.
std::wstring utf16_to_wide(const char16_t* s, size_t n);
inline std::wstring utf16_to_wide(std::u16string_view s) { return utf16_to_wide(s.data(), s.size()); }
// How many of the first units of UTF-16 text fit in max_units without ending between the two
// units of a pair.
inline size_t utf16_fit(const char16_t* s, size_t units, size_t max_units) {
  if (units <= max_units) return units;
  const bool pair_cut = max_units > 0 && s[max_units - 1] >= 0xD800 && s[max_units - 1] <= 0xDBFF;
  return pair_cut ? max_units - 1 : max_units;
}

// UTF-16 text appended to out as UTF-8; lone surrogates become U+FFFD.
void append_utf16_as_utf8(std::string& out, const char16_t* s, size_t n);
// UTF-8 text appended to out as UTF-16; invalid sequences become U+FFFD.
void append_utf8_as_utf16(std::u16string& out, std::string_view s);
// Units of utf8_to_wide_escaped(s): a character each, and a unit for each byte that is not
// part of valid UTF-8.
size_t utf8_escaped_length(std::string_view s);
// UTF-16 units of UTF-8 text: one a character, two for a four-byte sequence.
size_t utf8_utf16_units(const char* s, size_t bytes);
// Bytes of the longest start of UTF-8 text that fits in max_units UTF-16 units without ending
// inside a character; its units go to *units.
size_t utf8_fit(const char* s, size_t bytes, size_t max_units, size_t* units);
// How many bytes at the start of s are ASCII (below 0x80).
size_t ascii_prefix(const unsigned char* s, size_t bytes);
// Bytes of UTF-8 text up to its last whole character: a sequence cut at the end is left out.
size_t utf8_complete(const char* s, size_t bytes);

// Terminal cells a character takes: 0 for combining marks, format and control characters, 2
// for East Asian wide and fullwidth characters (most emoji among them), 1 for the rest.
int char_display_width(char32_t c);
// Terminal cells of UTF-8 text; a byte that starts no valid character takes one.
size_t utf8_display_width(const char* s, size_t bytes);
// Bytes of the longest start of UTF-8 text that fits in max_cells terminal cells without ending
// inside a character (marks that take no cell stay with their character); its cells go to *cells.
size_t utf8_fit_cells(const char* s, size_t bytes, size_t max_cells, size_t* cells);

// UTF-16 little-endian bytes (files, binary parameters), two per code unit, no mark.
std::string wide_to_utf16le(std::wstring_view s);
// The same into a byte vector sized exactly once (large texts are not copied on the way).
void wide_to_utf16le(std::wstring_view s, std::vector<unsigned char>& out);
// An odd last byte is dropped.
std::wstring utf16le_to_wide(const unsigned char* bytes, size_t n);

// Exactly valid UTF-8 (no overlong forms, surrogates or values beyond U+10FFFF).
bool valid_utf8(std::string_view s);
// Bytes of the valid character at the start of s (1 to 4), 0 when s starts with none.
size_t utf8_char_length(std::string_view s);

} // namespace vela
