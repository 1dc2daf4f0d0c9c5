// The one line that the log and messages quote, joined from an argument vector (every platform).
#include <regex>

#include "os/os.h"

namespace vela::os {

namespace {

bool needs_quotes(const std::wstring& s) {
  return s.empty() || s.find_first_of(L" \t\n\v\"") != std::wstring::npos;
}

// Quoted so that the splitter gives back exactly s.
std::wstring quote(const std::wstring& s) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : s) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

} // namespace

std::wstring join_command_line(const std::vector<std::wstring>& argv, bool program_first) {
  static const std::wregex option(LR"(^[-/][A-Za-z_]+:)");
  std::wstring line;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::wstring& a = argv[i];
    if (i) line += L' ';
    std::wsmatch m;
    if (!needs_quotes(a)) {
      line += a;
    } else if ((i > 0 || !program_first) && std::regex_search(a, m, option)) {
      // Only a value with blanks is quoted, behind the option word, so the line reads as
      // the user wrote it.
      const std::wstring value = a.substr(static_cast<size_t>(m.length(0)));
      line += m.str(0);
      line += value.find_first_of(L" \t\n\v") == std::wstring::npos ? value : L"\"" + value + L"\"";
    } else {
      line += quote(a);
    }
  }
  return line;
}

} // namespace vela::os
