// Console text on POSIX systems: the locale's encoding.
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

namespace {

bool locale_is_utf8() {
  const char* cs = nl_langinfo(CODESET);
  return cs && (std::strcmp(cs, "UTF-8") == 0 || std::strcmp(cs, "utf8") == 0);
}

} // namespace

bool console_is_utf8() { return locale_is_utf8(); }

std::wstring console_encoding() {
  const char* cs = nl_langinfo(CODESET);
  return cs ? std::wstring(cs, cs + std::strlen(cs)) : std::wstring();
}

bool narrow_text_is_utf8() { return locale_is_utf8(); }

namespace {

bool plain_locale(const char* name) {
  return !name || !*name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

// Libraries loaded later (ODBC drivers) take their character conversion from the
// environment, not from this process's locale: a C or POSIX environment is made UTF-8 for them.
void utf8_environment() {
  const char* all = std::getenv("LC_ALL");
  if (all && *all) {
    if (plain_locale(all)) ::setenv("LC_ALL", "C.UTF-8", 1);
    return;
  }
  const char* ctype = std::getenv("LC_CTYPE");
  if (plain_locale(ctype && *ctype ? ctype : std::getenv("LANG"))) ::setenv("LC_CTYPE", "C.UTF-8", 1);
}

} // namespace

namespace {

// The locale the environment names for a category: LC_ALL, the category's own variable, LANG.
const char* environment_locale(const char* variable) {
  for (const char* name : {"LC_ALL", variable, "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return v;
  }
  return nullptr;
}

// C.UTF-8 differs from C in its character set alone.
bool c_locale(const char* name) {
  return plain_locale(name) || std::strcmp(name, "C.UTF-8") == 0 || std::strcmp(name, "C.utf8") == 0;
}

} // namespace

// Each category is loaded only where the environment names more than the C locale the
// process starts in (whose behaviour C.UTF-8 shares beyond character types), which spares
// a file for each in the usual environment. A locale that cannot be set makes all C.UTF-8.
void init_locale() {
  utf8_environment();
  static const struct {
    int category;
    const char* variable;
  } categories[] = {{LC_CTYPE, "LC_CTYPE"},       {LC_NUMERIC, "LC_NUMERIC"},   {LC_TIME, "LC_TIME"},
                    {LC_COLLATE, "LC_COLLATE"},   {LC_MONETARY, "LC_MONETARY"}, {LC_MESSAGES, "LC_MESSAGES"},
                    {LC_PAPER, "LC_PAPER"},       {LC_NAME, "LC_NAME"},         {LC_ADDRESS, "LC_ADDRESS"},
                    {LC_TELEPHONE, "LC_TELEPHONE"}, {LC_MEASUREMENT, "LC_MEASUREMENT"},
                    {LC_IDENTIFICATION, "LC_IDENTIFICATION"}};
  bool set = true;
  for (const auto& c : categories) {
    if (c.category != LC_CTYPE && c_locale(environment_locale(c.variable))) continue;
    if (!std::setlocale(c.category, "")) {
      set = false;
      break;
    }
  }
  if (set && !plain_locale(std::setlocale(LC_CTYPE, nullptr))) return;
  if (!std::setlocale(set ? LC_CTYPE : LC_ALL, "C.UTF-8")) std::setlocale(LC_ALL, "C");
}

void encode_for_console(std::wstring_view text, std::string& out) {
  if (locale_is_utf8()) {
    append_utf8(out, text);
    return;
  }
  std::mbstate_t state{};
  char buf[MB_LEN_MAX];
  for (wchar_t c : text) {
    if (static_cast<unsigned>(c) < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const size_t n = std::wcrtomb(buf, c, &state);
    if (n == static_cast<size_t>(-1)) {
      out.push_back('?');
      state = std::mbstate_t{};
    } else {
      out.append(buf, n);
    }
  }
}

// A byte that is not text in the locale is kept as U+DC00 + byte (statements hand it on as
// the byte it was).
std::wstring decode_from_console(std::string_view bytes) {
  if (locale_is_utf8()) return utf8_to_wide_escaped(bytes);
  std::wstring out;
  std::mbstate_t state{};
  size_t i = 0;
  while (i < bytes.size()) {
    wchar_t c;
    const size_t n = std::mbrtowc(&c, bytes.data() + i, bytes.size() - i, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      out.push_back(b >= 0x80 ? static_cast<wchar_t>(0xDC00 + b) : L'\xFFFD');
      state = std::mbstate_t{};
      ++i;
    } else {
      out.push_back(c);
      i += n == 0 ? 1 : n;
    }
  }
  return out;
}

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

bool write_all(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

} // namespace vela::os
