// The process command line: argv joined with the quoting rules of the system's splitter.
#include <fstream>
#include <iterator>
#include <regex>

#include "os/os.h"
#include "vela/utf.h"

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

std::wstring join_command_line(const std::vector<std::wstring>& argv) {
  static const std::wregex option(LR"(^[-/][A-Za-z_]+:)");
  std::wstring line;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::wstring& a = argv[i];
    if (i) line += L' ';
    std::wsmatch m;
    if (!needs_quotes(a)) {
      line += a;
    } else if (i > 0 && std::regex_search(a, m, option)) {
      // Only a value with blanks is quoted, so the option word still matches; the option
      // parsers read quoted values as they stand, without escapes. Quotes the user wrote
      // around a value without blanks keep the meaning they have on the system's own
      // command line ("" is an empty value).
      const std::wstring value = a.substr(static_cast<size_t>(m.length(0)));
      line += m.str(0);
      line += value.find_first_of(L" \t\n\v") == std::wstring::npos ? value : L"\"" + value + L"\"";
    } else {
      line += quote(a);
    }
  }
  return line;
}

std::vector<std::wstring> split_command_line(const std::wstring& line) {
  std::vector<std::wstring> args;
  size_t i = 0;
  const size_t n = line.size();
  // The program name: up to white space, quotes toggle and are dropped, no escapes.
  {
    std::wstring name;
    bool quoted = false;
    for (; i < n && (quoted || (line[i] != L' ' && line[i] != L'\t')); ++i) {
      if (line[i] == L'"') quoted = !quoted;
      else name += line[i];
    }
    args.push_back(name);
  }
  for (;;) {
    while (i < n && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= n) break;
    std::wstring arg;
    bool quoted = false;
    while (i < n && (quoted || (line[i] != L' ' && line[i] != L'\t'))) {
      if (line[i] == L'\\') {
        size_t count = 0;
        while (i < n && line[i] == L'\\') {
          ++count;
          ++i;
        }
        if (i < n && line[i] == L'"') {
          arg.append(count / 2, L'\\');
          if (count % 2) {
            arg += L'"';
            ++i;
          }
        } else {
          arg.append(count, L'\\');
        }
        continue;
      }
      if (line[i] == L'"') {
        if (quoted && i + 1 < n && line[i + 1] == L'"') {
          arg += L'"';  // "" inside quotes is one quote
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(arg);
  }
  return args;
}

std::wstring command_line() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::wstring> argv;
  size_t start = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\0') {
      argv.push_back(utf8_to_wide(std::string_view(raw).substr(start, i - start)));
      start = i + 1;
    }
  }
  if (start < raw.size()) argv.push_back(utf8_to_wide(std::string_view(raw).substr(start)));
  return join_command_line(argv);
}

} // namespace vela::os
