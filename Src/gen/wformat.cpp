// The one printf-style formatter of the library. It parses the pattern itself so that
// "%s" means the same on every platform and no encoding error can make it fail or spin.
#include "vela/format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "vela/utf.h"

namespace vela {

namespace {

struct conversion {
  char flags[8] = {};  // at most the five flag characters
  int width = -1;
  int precision = -1;
  bool left = false;
  enum { none, hh, h, l, ll, L, j, z, t } length = none;
  bool wide_len = false;    // l or w on a string or character
  bool narrow_len = false;  // h on a string or character
};

void add_flag(conversion& sp, char c) {
  const size_t n = std::strlen(sp.flags);
  if (n + 1 < sizeof sp.flags && !std::strchr(sp.flags, c)) sp.flags[n] = c;
}

void pad(std::wstring& out, std::wstring_view text, const conversion& sp) {
  size_t n = text.size();
  if (sp.precision >= 0 && static_cast<size_t>(sp.precision) < n) n = static_cast<size_t>(sp.precision);
  const size_t fill = sp.width > 0 && static_cast<size_t>(sp.width) > n ? sp.width - n : 0;
  if (!sp.left) out.append(fill, L' ');
  out.append(text.substr(0, n));
  if (sp.left) out.append(fill, L' ');
}

// Renders one numeric conversion through snprintf; its output is plain ASCII.
template <typename T>
void numeric(std::wstring& out, const conversion& sp, const char* length, char conv, T value) {
  std::string f(1, '%');
  f += sp.flags;
  if (sp.width >= 0) f += std::to_string(sp.width);
  if (sp.precision >= 0) {
    f += '.';
    f += std::to_string(sp.precision);
  }
  f += length;
  f += conv;
  char small[128];
  int n = std::snprintf(small, sizeof small, f.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out.append(small, small + n);
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), f.c_str(), value);
  out.append(big.begin(), big.begin() + n);
}

// A decimal conversion with at most a width and the flag 0 (the common "%u", "%03u"): its
// digits written directly. False for any other form, which goes through snprintf.
bool plain_decimal(std::wstring& out, const conversion& sp, unsigned long long magnitude, bool negative) {
  const bool zeros = sp.flags[0] == '0' && !sp.flags[1];
  if ((sp.flags[0] && !zeros) || sp.precision >= 0) return false;
  wchar_t digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  const size_t used = n + (negative ? 1 : 0);
  const size_t fill = sp.width > 0 && static_cast<size_t>(sp.width) > used ? static_cast<size_t>(sp.width) - used : 0;
  if (!zeros) out.append(fill, L' ');
  if (negative) out += L'-';
  if (zeros) out.append(fill, L'0');
  while (n) out += digits[--n];
  return true;
}

// The arguments still to be read; helpers take it by reference, so each va_arg moves on
// the one list.
struct arguments {
  va_list list;
};

// Flags, width and precision of a conversion; p is just past its '%'.
template <typename Ch>
void parse_width(const Ch*& p, arguments& args, conversion& sp) {
  for (; *p; ++p) {
    const auto c = static_cast<char>(*p);
    if (c == '-' || c == '+' || c == ' ' || c == '0' || c == '#') {
      add_flag(sp, c);
      if (c == '-') sp.left = true;
    } else {
      break;
    }
  }
  if (*p == Ch('*')) {
    sp.width = va_arg(args.list, int);
    if (sp.width < 0) {
      sp.left = true;
      add_flag(sp, '-');
      sp.width = -sp.width;
    }
    ++p;
  } else {
    while (*p >= Ch('0') && *p <= Ch('9')) sp.width = (sp.width < 0 ? 0 : sp.width * 10) + (*p++ - Ch('0'));
  }
  if (*p == Ch('.')) {
    ++p;
    sp.precision = 0;
    if (*p == Ch('*')) {
      sp.precision = va_arg(args.list, int);
      if (sp.precision < 0) sp.precision = -1;
      ++p;
    } else {
      while (*p >= Ch('0') && *p <= Ch('9')) sp.precision = sp.precision * 10 + (*p++ - Ch('0'));
    }
  }
}

// Length modifiers, the Windows ones included.
template <typename Ch>
void parse_length(const Ch*& p, conversion& sp) {
  for (bool more = true; more && *p;) {
    switch (static_cast<char>(*p)) {
      case 'h':
        sp.length = sp.length == conversion::h ? conversion::hh : conversion::h;
        sp.narrow_len = true;
        ++p;
        break;
      case 'l':
        sp.length = sp.length == conversion::l ? conversion::ll : conversion::l;
        sp.wide_len = true;
        ++p;
        break;
      case 'w': sp.wide_len = true; ++p; break;
      case 'L': sp.length = conversion::L; ++p; break;
      case 'q': sp.length = conversion::ll; ++p; break;
      case 'j': sp.length = conversion::j; ++p; break;
      case 'z': sp.length = conversion::z; ++p; break;
      case 't': sp.length = conversion::t; ++p; break;
      case 'I':
        if (p[1] == Ch('6') && p[2] == Ch('4')) { sp.length = conversion::ll; p += 3; }
        else if (p[1] == Ch('3') && p[2] == Ch('2')) { sp.length = conversion::none; p += 3; }
        else { sp.length = conversion::z; ++p; }
        break;
      default: more = false;
    }
  }
}

long long signed_argument(arguments& args, const conversion& sp) {
  switch (sp.length) {
    case conversion::hh: return static_cast<signed char>(va_arg(args.list, int));
    case conversion::h: return static_cast<short>(va_arg(args.list, int));
    case conversion::l: return va_arg(args.list, long);
    case conversion::ll: case conversion::L: return va_arg(args.list, long long);
    case conversion::j: return static_cast<long long>(va_arg(args.list, intmax_t));
    case conversion::z: case conversion::t: return static_cast<long long>(va_arg(args.list, ptrdiff_t));
    default: return va_arg(args.list, int);
  }
}

unsigned long long unsigned_argument(arguments& args, const conversion& sp) {
  switch (sp.length) {
    case conversion::hh: return static_cast<unsigned char>(va_arg(args.list, unsigned));
    case conversion::h: return static_cast<unsigned short>(va_arg(args.list, unsigned));
    case conversion::l: return va_arg(args.list, unsigned long);
    case conversion::ll: case conversion::L: return va_arg(args.list, unsigned long long);
    case conversion::j: return static_cast<unsigned long long>(va_arg(args.list, uintmax_t));
    case conversion::z: case conversion::t: return va_arg(args.list, size_t);
    default: return va_arg(args.list, unsigned);
  }
}

// A character or string conversion (c, C, s, S): which width its argument has follows the
// length modifier, else the conversion's letter and the pattern's own width.
void text_conversion(std::wstring& out, const conversion& sp, char conv, arguments& args, bool wide_default) {
  const bool lower = conv == 'c' || conv == 's';
  const bool wide = sp.wide_len || (!sp.narrow_len && (lower == wide_default));
  if (conv == 'c' || conv == 'C') {
    const int v = va_arg(args.list, int);
    wchar_t ch;
    if (wide) ch = static_cast<wchar_t>(v);
    else ch = static_cast<wchar_t>(static_cast<unsigned char>(v));
    conversion whole = sp;
    whole.precision = -1;  // a precision never cuts a character
    pad(out, std::wstring_view(&ch, 1), whole);
  } else if (wide) {
    const wchar_t* s = va_arg(args.list, const wchar_t*);
    pad(out, s ? std::wstring_view(s) : std::wstring_view(L"(null)"), sp);
  } else {
    const char* s = va_arg(args.list, const char*);
    pad(out, s ? utf8_to_wide(s) : std::wstring(L"(null)"), sp);
  }
}

// Renders one conversion; false when conv is none (the caller copies it as it stands).
bool convert(std::wstring& out, const conversion& sp, char conv, arguments& args, bool wide_default) {
  switch (conv) {
    case 'd':
    case 'i': {
      const long long v = signed_argument(args, sp);
      const unsigned long long magnitude = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
      if (!plain_decimal(out, sp, magnitude, v < 0)) numeric(out, sp, "ll", conv, v);
      return true;
    }
    case 'u': {
      const unsigned long long v = unsigned_argument(args, sp);
      if (!plain_decimal(out, sp, v, false)) numeric(out, sp, "ll", conv, v);
      return true;
    }
    case 'o': case 'x': case 'X':
      numeric(out, sp, "ll", conv, unsigned_argument(args, sp));
      return true;
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
      if (sp.length == conversion::L) numeric(out, sp, "L", conv, va_arg(args.list, long double));
      else numeric(out, sp, "", conv, va_arg(args.list, double));
      return true;
    case 'p': {
      const auto v = reinterpret_cast<uintptr_t>(va_arg(args.list, void*));
      conversion ps = sp;
      ps.flags[0] = '0';
      ps.flags[1] = '\0';
      ps.precision = -1;
      if (ps.width < 0) ps.width = static_cast<int>(2 * sizeof(void*));
      numeric(out, ps, "ll", 'X', static_cast<unsigned long long>(v));
      return true;
    }
    case 'c': case 'C': case 's': case 'S':
      text_conversion(out, sp, conv, args, wide_default);
      return true;
    case 'n':
      (void)va_arg(args.list, void*);  // never written
      return true;
    default:
      return false;
  }
}

template <typename Ch>
std::wstring render(const Ch* p, va_list list, bool wide_default) {
  std::wstring out;
  if (!p) return out;
  arguments args;
  va_copy(args.list, list);
  while (*p) {
    if (*p != Ch('%')) {
      const Ch* start = p;
      while (*p && *p != Ch('%')) ++p;
      if constexpr (sizeof(Ch) == 1) out += utf8_to_wide(std::string_view(start, p - start));
      else out.append(start, p);
      continue;
    }
    const Ch* begin = p++;
    if (*p == Ch('%')) {
      out += L'%';
      ++p;
      continue;
    }
    conversion sp;
    parse_width(p, args, sp);
    parse_length(p, sp);
    // A cut conversion at the end, or what is no conversion, is copied as it stands.
    const bool cut = !*p;
    if (cut || !convert(out, sp, static_cast<char>(*p++), args, wide_default))
      for (const Ch* q = begin; q != p; ++q) out += static_cast<wchar_t>(*q);
    if (cut) break;
  }
  va_end(args.list);
  return out;
}

} // namespace

std::wstring vwformat(const wchar_t* pattern, va_list args) {
  va_list copy;
  va_copy(copy, args);
  std::wstring s = render(pattern, copy, true);
  va_end(copy);
  return s;
}

std::wstring wformat(const wchar_t* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  std::wstring s = render(pattern, args, true);
  va_end(args);
  return s;
}

std::wstring vformat_narrow(const char* pattern, va_list args) {
  va_list copy;
  va_copy(copy, args);
  std::wstring s = render(pattern, copy, false);
  va_end(copy);
  return s;
}

} // namespace vela
