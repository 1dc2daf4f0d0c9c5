#include "vela/utf.h"
#include "utf/wide_ascii.h"

#include <cstdint>
#include <cstring>

namespace vela {

namespace {

constexpr char32_t replacement = 0xFFFD;
// Undecodable bytes 0x80..0xFF stand as U+DC80..U+DCFF (lone low surrogates).
constexpr char32_t escape_base = 0xDC00;

// Decodes one character at s[i]; returns its length (at least 1) and sets ok.
size_t decode_utf8(std::string_view s, size_t i, char32_t& cp, bool& ok) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  ok = false;
  cp = replacement;
  if (b0 < 0x80) {
    cp = b0;
    ok = true;
    return 1;
  }
  size_t len;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; min = 0x80; }
  else if (b0 >= 0xE0 && b0 <= 0xEF) { len = 3; cp = b0 & 0x0F; min = 0x800; }
  else if (b0 >= 0xF0 && b0 <= 0xF4) { len = 4; cp = b0 & 0x07; min = 0x10000; }
  else { cp = replacement; return 1; }
  size_t k = 1;
  for (; k < len; ++k) {
    if (i + k >= s.size()) break;
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) break;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    cp = replacement;
    return k;  // the maximal invalid prefix counts as one bad sequence
  }
  ok = true;
  return len;
}

char32_t checked(char32_t c) {
  return (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) ? replacement : c;
}

} // namespace

size_t ascii_prefix(const unsigned char* s, size_t bytes) {
  size_t i = 0;
  for (uint64_t eight; i + 8 <= bytes; i += 8) {  // eight at a time
    std::memcpy(&eight, s + i, sizeof eight);
    if (eight & 0x8080808080808080ull) break;
  }
  while (i < bytes && s[i] < 0x80) ++i;
  return i;
}

size_t wide_ascii_prefix(const wchar_t* s, size_t units) {
  size_t i = 0;
  for (; i + 4 <= units; i += 4)  // four at a time
    if ((static_cast<uint32_t>(s[i]) | static_cast<uint32_t>(s[i + 1]) | static_cast<uint32_t>(s[i + 2]) |
         static_cast<uint32_t>(s[i + 3])) >= 0x80)
      break;
  while (i < units && static_cast<uint32_t>(s[i]) < 0x80) ++i;
  return i;
}

namespace {

// escape: each byte of an undecodable sequence becomes U+DC00 + byte instead of one U+FFFD.
std::wstring decode(std::string_view s, bool* valid, bool escape) {
  // Never more units than bytes: written through a pointer, then cut to size.
  std::wstring out(s.size(), L'\0');
  wchar_t* o = out.data();
  bool all_ok = true;
  // The ASCII run at the start widened in one loop the compiler widens too.
  const size_t plain = ascii_prefix(reinterpret_cast<const unsigned char*>(s.data()), s.size());
  for (size_t k = 0; k < plain; ++k) o[k] = static_cast<wchar_t>(static_cast<unsigned char>(s[k]));
  o += plain;
  for (size_t i = plain; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      *o++ = static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    char32_t cp;
    bool ok;
    const size_t len = decode_utf8(s, i, cp, ok);
    all_ok = all_ok && ok;
    if (!ok && escape) {
      for (size_t k = 0; k < len; ++k) *o++ = static_cast<wchar_t>(escape_base + static_cast<unsigned char>(s[i + k]));
      i += len;
      continue;
    }
    i += len;
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0x10000) {
        cp -= 0x10000;
        *o++ = static_cast<wchar_t>(0xD800 + (cp >> 10));
        *o++ = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        continue;
      }
    }
    *o++ = static_cast<wchar_t>(cp);
  }
  out.resize(static_cast<size_t>(o - out.data()));
  if (valid) *valid = all_ok;
  return out;
}

} // namespace

std::wstring utf8_to_wide(std::string_view s, bool* valid) { return decode(s, valid, false); }

std::wstring utf8_to_wide_escaped(std::string_view s) { return decode(s, nullptr, true); }

bool valid_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    bool ok;
    i += decode_utf8(s, i, cp, ok);
    if (!ok) return false;
  }
  return true;
}

size_t utf8_char_length(std::string_view s) {
  if (s.empty()) return 0;
  char32_t cp;
  bool ok;
  const size_t n = decode_utf8(s, 0, cp, ok);
  return ok ? n : 0;
}

namespace {

// escape: a lone U+DC80..U+DCFF becomes its byte again instead of U+FFFD.
void encode(std::string& out, std::wstring_view s, bool escape) {
  // Plain ASCII is copied straight; the first other character takes the general path.
  size_t i = wide_ascii_prefix(s.data(), s.size());
  {
    const size_t old = out.size();
    out.resize(old + i);
    char* const p = out.data() + old;
    for (size_t k = 0; k < i; ++k) p[k] = static_cast<char>(s[k]);  // a loop the compiler widens
  }
  for (; i < s.size(); ++i) {
    char32_t c = static_cast<char32_t>(s[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(s[++i]) - 0xDC00);
      }
    }
    if (escape && c >= escape_base + 0x80 && c <= escape_base + 0xFF) {
      out.push_back(static_cast<char>(c - escape_base));
      continue;
    }
    c = checked(c);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

} // namespace

void append_utf8(std::string& out, std::wstring_view s) { encode(out, s, false); }

std::string wide_to_utf8_escaped(std::wstring_view s) {
  std::string out;
  out.reserve(s.size());
  encode(out, s, true);
  return out;
}

bool has_escaped_bytes(std::wstring_view s) {
  for (wchar_t w : s)
    if (static_cast<char32_t>(w) >= escape_base + 0x80 && static_cast<char32_t>(w) <= escape_base + 0xFF) return true;
  return false;
}

std::string wide_to_utf8(std::wstring_view s) {
  std::string out;
  out.reserve(s.size());
  append_utf8(out, s);
  return out;
}

std::u16string wide_to_utf16(std::wstring_view s) {
  std::u16string out;
  out.reserve(s.size());
  append_utf16(out, s);
  return out;
}

void append_utf16(std::u16string& out, std::wstring_view s) {
  // Room for the most units the text can take, written in place, then cut to what it took.
  const size_t at = out.size();
  out.resize(at + s.size() * (sizeof(wchar_t) == 4 ? 2 : 1));
  char16_t* p = out.data() + at;
  for (wchar_t w : s) {
    char32_t c = static_cast<char32_t>(w);
    if constexpr (sizeof(wchar_t) == 4) {
      c = checked(c);
      if (c >= 0x10000) {
        c -= 0x10000;
        *p++ = static_cast<char16_t>(0xD800 + (c >> 10));
        *p++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        continue;
      }
    }
    *p++ = static_cast<char16_t>(c);
  }
  out.resize(static_cast<size_t>(p - out.data()));
}

std::wstring utf16_to_wide(const char16_t* s, size_t n) {
  std::wstring out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    char32_t c = s[i];
    if constexpr (sizeof(wchar_t) == 4) {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(s[++i]) - 0xDC00);
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = replacement;
      }
    } else {
      // 16-bit wchar_t: a pair stays a pair, a lone surrogate is replaced.
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(c));
        c = s[++i];
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = replacement;
      }
    }
    out.push_back(static_cast<wchar_t>(c));
  }
  return out;
}

void append_utf8_as_utf16(std::u16string& out, std::string_view s) {
  size_t i = 0;
  for (; i < s.size() && static_cast<unsigned char>(s[i]) < 0x80; ++i) {}
  const size_t at = out.size();
  out.resize(at + s.size());  // never more units than bytes
  char16_t* o = out.data() + at;
  for (size_t k = 0; k < i; ++k) *o++ = static_cast<char16_t>(s[k]);
  while (i < s.size()) {
    char32_t cp;
    bool ok;
    i += decode_utf8(s, i, cp, ok);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(cp);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

size_t utf8_escaped_length(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++n) {
    char32_t cp;
    bool ok;
    const size_t len = decode_utf8(s, i, cp, ok);
    if (!ok) n += len - 1;  // a unit for each byte of the bad sequence
    i += len;
  }
  return n;
}

void append_utf16_as_utf8(std::string& out, const char16_t* s, size_t n) {
  size_t i = 0;
  for (; i < n && s[i] < 0x80; ++i) {}
  size_t at = out.size();
  out.resize(at + i + (n - i) * 3);  // at most three bytes a unit (a pair takes four for two)
  char* p = out.data() + at;
  for (size_t k = 0; k < i; ++k) p[k] = static_cast<char>(s[k]);
  p += i;
  for (; i < n; ++i) {
    char32_t c = s[i];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(s[++i]) - 0xDC00);
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = replacement;
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
    } else {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<size_t>(p - out.data()));
}

size_t utf8_utf16_units(const char* s, size_t bytes) {
  size_t units = 0;
  for (size_t i = 0; i < bytes; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    units += (b & 0xC0) != 0x80;  // a character starts
    units += b >= 0xF0;           // and needs a pair
  }
  return units;
}

size_t utf8_complete(const char* s, size_t bytes) {
  size_t back = 0;  // continuation bytes at the end
  while (back < bytes && back < 3 && (static_cast<unsigned char>(s[bytes - 1 - back]) & 0xC0) == 0x80) ++back;
  if (back == bytes) return bytes;
  const auto lead = static_cast<unsigned char>(s[bytes - 1 - back]);
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return length > back + 1 ? bytes - back - 1 : bytes;
}

size_t utf8_fit(const char* s, size_t bytes, size_t max_units, size_t* units) {
  size_t used = 0;
  size_t i = 0;
  // Eight ASCII bytes at a time: one unit each.
  for (uint64_t eight; i + 8 <= bytes && used + 8 <= max_units; i += 8, used += 8) {
    std::memcpy(&eight, s + i, sizeof eight);
    if (eight & 0x8080808080808080ull) break;
  }
  while (i < bytes) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t need = b >= 0xF0 ? 2 : 1;
    if (used + need > max_units) break;
    used += need;
    ++i;
    while (i < bytes && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  *units = used;
  return i;
}

namespace {

// Units of s in UTF-16, then the little-endian bytes into out (sized by the caller).
size_t utf16_length(std::wstring_view s) {
  size_t n = s.size();
  if constexpr (sizeof(wchar_t) == 4)
    for (wchar_t w : s)
      if (checked(static_cast<char32_t>(w)) >= 0x10000) ++n;
  return n;
}

template <typename Byte>
void put_utf16le(std::wstring_view s, Byte* out) {
  auto put = [&out](char32_t u) {
    *out++ = static_cast<Byte>(u & 0xFF);
    *out++ = static_cast<Byte>((u >> 8) & 0xFF);
  };
  for (wchar_t w : s) {
    char32_t c = static_cast<char32_t>(w);
    if constexpr (sizeof(wchar_t) == 4) {
      c = checked(c);
      if (c >= 0x10000) {
        c -= 0x10000;
        put(0xD800 + (c >> 10));
        put(0xDC00 + (c & 0x3FF));
        continue;
      }
    }
    put(c);
  }
}

} // namespace

std::string wide_to_utf16le(std::wstring_view s) {
  std::string bytes(utf16_length(s) * 2, '\0');
  put_utf16le(s, bytes.data());
  return bytes;
}

void wide_to_utf16le(std::wstring_view s, std::vector<unsigned char>& out) {
  out.clear();
  out.shrink_to_fit();
  out.resize(utf16_length(s) * 2);
  put_utf16le(s, out.data());
}

std::wstring utf16le_to_wide(const unsigned char* p, size_t n) {
  std::u16string units(n / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  return utf16_to_wide(units);
}

} // namespace vela
