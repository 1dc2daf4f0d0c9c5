// Code-page conversion through iconv.
#include "os/os.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vela::os {

namespace {

// Two-letter language of the locale that governs character types.
std::string locale_language() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return std::string(v, strnlen(v, 2));
  }
  return {};
}

enum class script { cyrillic, central_european, western };

script locale_script() {
  const std::string lang = locale_language();
  for (const char* l : {"ru", "uk", "be", "bg", "sr", "mk"})
    if (lang == l) return script::cyrillic;
  for (const char* l : {"pl", "cs", "sk", "hu", "sl", "hr", "ro", "bs", "sq"})
    if (lang == l) return script::central_european;
  return script::western;
}

std::string iconv_name(unsigned cp) {
  if (cp == 0) cp = ansi_code_page();
  if (cp == 1) cp = oem_code_page();
  switch (cp) {
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 12000: return "UTF-32LE";
    case 12001: return "UTF-32BE";
    case 65000: return "UTF-7";
    case 65001: return "UTF-8";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 54936: return "GB18030";
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 50220: return "ISO-2022-JP";
    default: break;
  }
  if (cp >= 28591 && cp <= 28605) return "ISO-8859-" + std::to_string(cp - 28590);
  return "CP" + std::to_string(cp);
}

// iconv descriptor owned for one conversion.
class converter {
 public:
  converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~converter() {
    if (ok()) iconv_close(cd_);
  }
  converter(const converter&) = delete;
  converter& operator=(const converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

constexpr const char* wide_name = "WCHAR_T";

} // namespace

unsigned ansi_code_page() {
  switch (locale_script()) {
    case script::cyrillic: return 1251;
    case script::central_european: return 1250;
    default: return 1252;
  }
}

unsigned oem_code_page() {
  switch (locale_script()) {
    case script::cyrillic: return 866;
    case script::central_european: return 852;
    default: return 437;
  }
}

wide_decoder::wide_decoder(unsigned code_page)
    : cd_(iconv_open(wide_name, iconv_name(code_page).c_str())) {}

wide_decoder::~wide_decoder() {
  if (ok()) iconv_close(static_cast<iconv_t>(cd_));
}

bool wide_decoder::ok() const { return cd_ != reinterpret_cast<void*>(-1); }

uint32_t wide_decoder::decode(std::string_view bytes, bool last, std::wstring& out, bool strict, bool keep_bytes) {
  if (!ok()) return err_invalid_parameter;
  std::string joined;
  if (!carry_.empty()) {
    joined = std::move(carry_);
    joined.append(bytes);
    carry_.clear();
    bytes = joined;
  }
  if (bytes.empty()) return 0;
  const iconv_t cd = static_cast<iconv_t>(cd_);
  const size_t old = out.size();
  out.resize(old + bytes.size() + 4);
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* o = reinterpret_cast<char*>(out.data() + old);
  size_t o_left = (out.size() - old) * sizeof(wchar_t);
  auto grow = [&] {
    const size_t used = out.size() - o_left / sizeof(wchar_t);
    out.resize(out.size() * 2);
    o = reinterpret_cast<char*>(out.data() + used);
    o_left = (out.size() - used) * sizeof(wchar_t);
  };
  while (in_left > 0) {
    if (iconv(cd, &in, &in_left, &o, &o_left) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      grow();
      continue;
    }
    if (errno == EINVAL && !last) {
      carry_.assign(in, in_left);  // the start of a character: the next piece ends it
      break;
    }
    if (strict) {
      out.resize(old);
      return err_no_unicode_translation;
    }
    // An invalid or cut sequence: one replacement character (or the byte kept), then go on
    // behind the byte.
    if (o_left < sizeof(wchar_t)) grow();
    const auto b = static_cast<unsigned char>(*in);
    *reinterpret_cast<wchar_t*>(o) = keep_bytes && b >= 0x80 ? static_cast<wchar_t>(0xDC00 + b) : L'\xFFFD';
    o += sizeof(wchar_t);
    o_left -= sizeof(wchar_t);
    ++in;
    --in_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(out.size() - o_left / sizeof(wchar_t));
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
  converter cv(iconv_name(code_page), wide_name);
  if (!cv.ok()) return err_invalid_parameter;
  if (text.empty()) return 0;
  std::string buf(text.size() * 4 + 16, '\0');
  char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text.data()));
  size_t in_left = text.size() * sizeof(wchar_t);
  char* o = buf.data();
  size_t o_left = buf.size();
  auto grow = [&] {
    const size_t used = buf.size() - o_left;
    buf.resize(buf.size() * 2);
    o = buf.data() + used;
    o_left = buf.size() - used;
  };
  while (in_left > 0) {
    if (iconv(cv.get(), &in, &in_left, &o, &o_left) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      grow();
      continue;
    }
    if (strict) return err_no_unicode_translation;
    if (o_left < 1) grow();
    *o++ = '?';
    --o_left;
    in += sizeof(wchar_t);
    in_left -= sizeof(wchar_t);
  }
  // Back to the initial shift state (stateful encodings such as UTF-7).
  while (iconv(cv.get(), nullptr, nullptr, &o, &o_left) == static_cast<size_t>(-1) && errno == E2BIG) grow();
  buf.resize(buf.size() - o_left);
  out.swap(buf);
  return 0;
}

} // namespace vela::os
