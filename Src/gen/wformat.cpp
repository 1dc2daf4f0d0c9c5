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

template <typename Ch>
std::wstring render(const Ch* p, va_list args, bool wide_default) {
  std::wstring out;
  if (!p) return out;
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
      sp.width = va_arg(args, int);
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
        sp.precision = va_arg(args, int);
        if (sp.precision < 0) sp.precision = -1;
        ++p;
      } else {
        while (*p >= Ch('0') && *p <= Ch('9')) sp.precision = sp.precision * 10 + (*p++ - Ch('0'));
      }
    }
    // Length modifiers, the Windows ones included.
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
    if (!*p) {
      // A cut conversion at the end is copied as it stands.
      for (const Ch* q = begin; q != p; ++q) out += static_cast<wchar_t>(*q);
      break;
    }
    const auto conv = static_cast<char>(*p++);
    switch (conv) {
      case 'd':
      case 'i': {
        long long v;
        switch (sp.length) {
          case conversion::hh: v = static_cast<signed char>(va_arg(args, int)); break;
          case conversion::h: v = static_cast<short>(va_arg(args, int)); break;
          case conversion::l: v = va_arg(args, long); break;
          case conversion::ll: case conversion::L: v = va_arg(args, long long); break;
          case conversion::j: v = static_cast<long long>(va_arg(args, intmax_t)); break;
          case conversion::z: case conversion::t: v = static_cast<long long>(va_arg(args, ptrdiff_t)); break;
          default: v = va_arg(args, int);
        }
        numeric(out, sp, "ll", conv, v);
        break;
      }
      case 'u': case 'o': case 'x': case 'X': {
        unsigned long long v;
        switch (sp.length) {
          case conversion::hh: v = static_cast<unsigned char>(va_arg(args, unsigned)); break;
          case conversion::h: v = static_cast<unsigned short>(va_arg(args, unsigned)); break;
          case conversion::l: v = va_arg(args, unsigned long); break;
          case conversion::ll: case conversion::L: v = va_arg(args, unsigned long long); break;
          case conversion::j: v = static_cast<unsigned long long>(va_arg(args, uintmax_t)); break;
          case conversion::z: case conversion::t: v = va_arg(args, size_t); break;
          default: v = va_arg(args, unsigned);
        }
        numeric(out, sp, "ll", conv, v);
        break;
      }
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
        if (sp.length == conversion::L) numeric(out, sp, "L", conv, va_arg(args, long double));
        else numeric(out, sp, "", conv, va_arg(args, double));
        break;
      case 'p': {
        const auto v = reinterpret_cast<uintptr_t>(va_arg(args, void*));
        conversion ps = sp;
        ps.flags[0] = '0';
        ps.flags[1] = '\0';
        ps.precision = -1;
        if (ps.width < 0) ps.width = static_cast<int>(2 * sizeof(void*));
        numeric(out, ps, "ll", 'X', static_cast<unsigned long long>(v));
        break;
      }
      case 'c':
      case 'C': {
        const bool wide = sp.wide_len || (!sp.narrow_len && ((conv == 'c') == wide_default));
        const int v = va_arg(args, int);
        wchar_t ch;
        if (wide) ch = static_cast<wchar_t>(v);
        else ch = static_cast<wchar_t>(static_cast<unsigned char>(v));
        conversion whole = sp;
        whole.precision = -1;  // a precision never cuts a character
        pad(out, std::wstring_view(&ch, 1), whole);
        break;
      }
      case 's':
      case 'S': {
        const bool wide = sp.wide_len || (!sp.narrow_len && ((conv == 's') == wide_default));
        if (wide) {
          const wchar_t* s = va_arg(args, const wchar_t*);
          pad(out, s ? std::wstring_view(s) : std::wstring_view(L"(null)"), sp);
        } else {
          const char* s = va_arg(args, const char*);
          pad(out, s ? utf8_to_wide(s) : std::wstring(L"(null)"), sp);
        }
        break;
      }
      case 'n':
        (void)va_arg(args, void*);  // never written
        break;
      default:
        // Not a conversion: copied as it stands.
        for (const Ch* q = begin; q != p; ++q) out += static_cast<wchar_t>(*q);
    }
  }
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
