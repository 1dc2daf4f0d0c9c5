// Code-page conversion through the system's MultiByteToWideChar and WideCharToMultiByte.
// UTF-16 and UTF-32, which those calls do not take, go through the library's own module.
#include <windows.h>

#include <string>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

namespace {

unsigned resolve(unsigned cp) {
  if (cp == 0) return GetACP();
  if (cp == 1) return GetOEMCP();
  return cp;
}

bool utf16(unsigned cp) { return cp == 1200 || cp == 1201; }
bool utf32(unsigned cp) { return cp == 12000 || cp == 12001; }

bool known(unsigned cp) { return utf16(cp) || utf32(cp) || IsValidCodePage(cp); }

// Code pages that take no flags in the conversion calls.
bool flagless(unsigned cp) {
  return cp == 42 || cp == 65000 || (cp >= 50220 && cp <= 50229) || cp == 52936 || cp == 54936 ||
         (cp >= 57002 && cp <= 57011);
}

bool base64_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// How many leading bytes of s hold whole characters; the rest waits for the next piece.
size_t complete_prefix(unsigned cp, std::string_view s) {
  const size_t n = s.size();
  if (utf32(cp)) return n - n % 4;
  if (utf16(cp)) {
    size_t k = n - n % 2;
    if (k >= 2) {
      const unsigned char a = s[k - 2], b = s[k - 1];
      const unsigned unit = cp == 1200 ? (a | b << 8) : (a << 8 | b);
      if (unit >= 0xD800 && unit <= 0xDBFF) k -= 2;  // a pair cut in two
    }
    return k;
  }
  if (cp == 65001) {
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
      const unsigned char c = s[n - back];
      if ((c & 0xC0) == 0x80) continue;
      const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      return need > back ? n - back : n;
    }
    return n;
  }
  if (cp == 65000) {
    // An open base64 run may go on in the next piece.
    const size_t plus = s.rfind('+');
    if (plus == std::string_view::npos) return n;
    for (size_t i = plus + 1; i < n; ++i)
      if (!base64_char(s[i])) return n;
    return plus;
  }
  CPINFO info{};
  if (GetCPInfo(cp, &info) && info.MaxCharSize == 2) {
    size_t i = 0;
    while (i < n) {
      if (IsDBCSLeadByteEx(cp, static_cast<BYTE>(s[i]))) {
        if (i + 1 >= n) return i;
        i += 2;
      } else {
        ++i;
      }
    }
  }
  return n;
}

uint32_t decode_unicode(unsigned cp, std::string_view s, std::wstring& out, bool strict) {
  std::wstring text;
  if (utf16(cp)) {
    std::string le(s);
    if (cp == 1201)
      for (size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
    text = utf16le_to_wide(reinterpret_cast<const unsigned char*>(le.data()), le.size());
  } else {
    for (size_t i = 0; i + 3 < s.size(); i += 4) {
      const auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(s[i + k])); };
      const uint32_t u = cp == 12000 ? (b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24) : (b(3) | b(2) << 8 | b(1) << 16 | b(0) << 24);
      if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) {
        if (strict) return err_no_unicode_translation;
        text += L'\xFFFD';
      } else if (u > 0xFFFF) {
        text += static_cast<wchar_t>(0xD800 + ((u - 0x10000) >> 10));
        text += static_cast<wchar_t>(0xDC00 + ((u - 0x10000) & 0x3FF));
      } else {
        text += static_cast<wchar_t>(u);
      }
    }
  }
  if (s.size() % (utf16(cp) ? 2 : 4) != 0) {
    if (strict) return err_no_unicode_translation;
    text += L'\xFFFD';
  }
  if (strict && utf16(cp)) {
    // A lone surrogate is invalid input.
    std::string le(s.substr(0, s.size() - s.size() % 2));
    if (cp == 1201)
      for (size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
    for (size_t i = 0; i + 1 < le.size(); i += 2) {
      const unsigned u = static_cast<unsigned char>(le[i]) | static_cast<unsigned char>(le[i + 1]) << 8;
      if (u >= 0xD800 && u <= 0xDBFF) {
        const unsigned next = i + 3 < le.size() ? (static_cast<unsigned char>(le[i + 2]) | static_cast<unsigned char>(le[i + 3]) << 8) : 0;
        if (next < 0xDC00 || next > 0xDFFF) return err_no_unicode_translation;
        i += 2;
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        return err_no_unicode_translation;
      }
    }
  }
  out += text;
  return 0;
}

uint32_t decode_bytes(unsigned cp, std::string_view s, std::wstring& out, bool strict) {
  if (s.empty()) return 0;
  if (utf16(cp) || utf32(cp)) return decode_unicode(cp, s, out, strict);
  const DWORD flags = strict && !flagless(cp) ? MB_ERR_INVALID_CHARS : 0;
  const int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return GetLastError() == ERROR_INVALID_PARAMETER ? err_invalid_parameter : err_no_unicode_translation;
  const size_t old = out.size();
  out.resize(old + static_cast<size_t>(n));
  MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), out.data() + old, n);
  return 0;
}

// Invalid bytes 0x80..0xFF kept as U+DC00 + byte: each character is decoded on its own
// (the shortest run of bytes that decodes strictly) once the whole text has failed.
uint32_t decode_keeping_bytes(unsigned cp, std::string_view s, std::wstring& out) {
  if (decode_bytes(cp, s, out, true) == 0) return 0;
  for (size_t i = 0; i < s.size();) {
    size_t len = 1;
    while (len <= 4 && i + len <= s.size() && decode_bytes(cp, s.substr(i, len), out, true) != 0) ++len;
    if (len <= 4 && i + len <= s.size()) {
      i += len;
      continue;
    }
    const auto b = static_cast<unsigned char>(s[i++]);
    out += b >= 0x80 ? static_cast<wchar_t>(0xDC00 + b) : L'\xFFFD';
  }
  return 0;
}

} // namespace

unsigned ansi_code_page() { return GetACP(); }
unsigned oem_code_page() { return GetOEMCP(); }

// The decoder keeps its code page (plus one) in place of a conversion descriptor.
wide_decoder::wide_decoder(unsigned code_page)
    : cd_(known(resolve(code_page)) ? reinterpret_cast<void*>(uintptr_t(resolve(code_page)) + 1) : reinterpret_cast<void*>(-1)) {}

wide_decoder::~wide_decoder() = default;

bool wide_decoder::ok() const { return cd_ != reinterpret_cast<void*>(-1); }

uint32_t wide_decoder::decode(std::string_view bytes, bool last, std::wstring& out, bool strict, bool keep_bytes) {
  if (!ok()) return err_invalid_parameter;
  const unsigned cp = static_cast<unsigned>(reinterpret_cast<uintptr_t>(cd_) - 1);
  std::string joined = carry_;
  joined.append(bytes);
  const size_t whole = last ? joined.size() : complete_prefix(cp, joined);
  const size_t old = out.size();
  const std::string_view whole_text = std::string_view(joined).substr(0, whole);
  const uint32_t code = keep_bytes && !strict && !utf16(cp) && !utf32(cp) ? decode_keeping_bytes(cp, whole_text, out)
                                                                          : decode_bytes(cp, whole_text, out, strict);
  if (code != 0) {
    out.resize(old);
    return code;
  }
  carry_ = joined.substr(whole);
  return 0;
}

uint32_t to_wide(unsigned code_page, std::string_view bytes, std::wstring& out, bool strict) {
  out.clear();
  wide_decoder decoder(code_page);
  if (!decoder.ok()) return err_invalid_parameter;
  return decoder.decode(bytes, true, out, strict);
}

uint32_t from_wide(unsigned code_page, std::wstring_view text, std::string& out, bool strict) {
  out.clear();
  const unsigned cp = resolve(code_page);
  if (!known(cp)) return err_invalid_parameter;
  if (text.empty()) return 0;
  const auto lone_surrogate = [&] {
    for (size_t i = 0; i < text.size(); ++i) {
      const wchar_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
      else if (c >= 0xD800 && c <= 0xDFFF) return true;
    }
    return false;
  };
  if (utf16(cp) || utf32(cp) || cp == 65001) {
    if (strict && lone_surrogate()) return err_no_unicode_translation;
    if (cp == 65001) {
      out = wide_to_utf8(text);
    } else if (utf16(cp)) {
      out = wide_to_utf16le(text);
      if (cp == 1201)
        for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    } else {
      const std::u16string units = wide_to_utf16(text);
      for (size_t i = 0; i < units.size(); ++i) {
        uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
          u = 0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00);
        else if (u >= 0xD800 && u <= 0xDFFF)
          u = 0xFFFD;
        for (int k = 0; k < 4; ++k) {
          const int shift = cp == 12000 ? 8 * k : 8 * (3 - k);
          out.push_back(static_cast<char>((u >> shift) & 0xFF));
        }
      }
    }
    return 0;
  }
  const bool no_flags = flagless(cp);
  const DWORD flags = no_flags ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used = no_flags ? nullptr : &used_default;
  const char* default_char = no_flags ? nullptr : "?";
  const int n = WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0, default_char, used);
  if (n <= 0) return err_no_unicode_translation;
  out.resize(static_cast<size_t>(n));
  WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), out.data(), n, default_char, used);
  if (strict && used_default) {
    out.clear();
    return err_no_unicode_translation;
  }
  return 0;
}

} // namespace vela::os
