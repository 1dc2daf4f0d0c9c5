// Error numbers and their descriptions on Windows: the system's own.
#include <windows.h>

#include "os/os.h"

namespace vela::os {

uint32_t last_error() { return GetLastError(); }

namespace {
// -1 until the user's language has been asked for.
int language_choice = -1;
} // namespace

bool russian_ui() {
  if (language_choice < 0) language_choice = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? 1 : 0;
  return language_choice == 1;
}

void forget_language() { language_choice = -1; }

// The system's text in the user's language, without its line end.
std::wstring system_message(uint32_t code) {
  wchar_t* buf = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::wstring text;
  if (n && buf) text.assign(buf, n);
  if (buf) LocalFree(buf);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return text;
}

} // namespace vela::os
