// Console text on Windows: the console's own code page, and the OEM code page when the
// output is redirected to a file or a pipe. Line ends are CR LF.
#include <windows.h>

#include <clocale>
#include <string>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

namespace {

HANDLE std_handle(int fd) {
  return GetStdHandle(fd == 0 ? STD_INPUT_HANDLE : fd == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

bool console_handle(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

unsigned output_code_page() {
  const unsigned cp = console_handle(std_handle(1)) ? GetConsoleOutputCP() : 0;
  return cp ? cp : GetOEMCP();
}

unsigned input_code_page() {
  const unsigned cp = console_handle(std_handle(0)) ? GetConsoleCP() : 0;
  return cp ? cp : GetOEMCP();
}

// Whether the last byte written to standard output / error was a CR.
bool after_cr[3] = {false, false, false};

} // namespace

void init_locale() { std::setlocale(LC_ALL, ".OCP"); }

bool console_is_utf8() { return output_code_page() == CP_UTF8; }

std::wstring console_encoding() {
  const unsigned cp = output_code_page();
  return cp == CP_UTF8 ? std::wstring(L"UTF-8") : L"CP" + std::to_wstring(cp);
}

bool narrow_text_is_utf8() { return GetACP() == CP_UTF8; }

void encode_for_console(std::wstring_view text, std::string& out) {
  std::string bytes;
  from_wide(output_code_page(), text, bytes, false);
  out += bytes;
}

// A byte that is not text in the code page is kept as U+DC00 + byte.
std::wstring decode_from_console(std::string_view bytes) {
  std::wstring text;
  wide_decoder decoder(input_code_page());
  decoder.decode(bytes, true, text, false, true);
  return text;
}

bool is_terminal(int fd) { return console_handle(std_handle(fd)); }

bool write_all(int fd, const char* data, size_t n) {
  const int slot = fd == 2 ? 2 : 1;
  // A bare LF becomes CR LF, as the runtime's text mode writes it.
  std::string text;
  text.reserve(n + n / 16);
  bool cr = after_cr[slot];
  for (size_t i = 0; i < n; ++i) {
    if (data[i] == '\n' && !cr) text += '\r';
    text += data[i];
    cr = data[i] == '\r';
  }
  after_cr[slot] = cr;
  const HANDLE h = std_handle(fd);
  if (console_handle(h)) {
    std::wstring wide;
    to_wide(GetConsoleOutputCP(), text, wide, false);
    size_t done = 0;
    while (done < wide.size()) {
      const DWORD want = static_cast<DWORD>(wide.size() - done > 16384 ? 16384 : wide.size() - done);
      DWORD w = 0;
      if (!WriteConsoleW(h, wide.data() + done, want, &w, nullptr) || w == 0) return false;
      done += w;
    }
    return true;
  }
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    DWORD w = 0;
    if (!WriteFile(h, p, static_cast<DWORD>(left > 0x40000000 ? 0x40000000 : left), &w, nullptr)) {
      if (GetLastError() == ERROR_NO_DATA) SetLastError(err_broken_pipe);  // the reader is gone
      return false;
    }
    p += w;
    left -= w;
  }
  return true;
}

} // namespace vela::os
