// The one header that names the platform the library is built for.
#pragma once

#include <string>
#include <string_view>

namespace vela {

#if defined(_WIN32)
inline constexpr bool windows_platform = true;
inline constexpr std::wstring_view program_suffix = L".exe";
#else
inline constexpr bool windows_platform = false;
inline constexpr std::wstring_view program_suffix = L"";
#endif

// A usage text whose commands start with the program's name, naming the program as the
// platform runs it ("sqlterm" becomes "sqlterm.exe" on Windows).
inline std::wstring name_program(std::wstring text, std::wstring_view program) {
  if (program_suffix.empty()) return text;
  const std::wstring word = std::wstring(program) + L' ';
  for (size_t at = text.find(word); at != std::wstring::npos; at = text.find(word, at + word.size())) {
    if (at > 0 && text[at - 1] != L' ' && text[at - 1] != L'\n') continue;
    text.insert(at + program.size(), program_suffix);
    at += program_suffix.size();
  }
  return text;
}

} // namespace vela
