// sqlterm's command line in both syntaxes, statement splitting and standard-input batching.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "Terminal/session/options.h"
#include "Terminal/input/sql_split.h"
#include "Terminal/input/terminals.h"
#include "fuzz_input.h"

using namespace vela;

namespace {

// One argument per line, after the program name.
std::vector<std::wstring> arguments(const std::wstring& text) {
  std::vector<std::wstring> argv{L"sqlterm"};
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find(L'\n', start);
    if (nl == std::wstring::npos) nl = text.size();
    argv.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return argv;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Script file names are looked up in an empty folder.
  char tmpl[] = "/tmp/vela-fuzz-XXXXXX";
  if (mkdtemp(tmpl) && chdir(tmpl) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::input in(data, size);
  const uint8_t mode = in.byte();
  const std::wstring text = in.wide_rest();
  // A path reaches any file of the machine (devices, /proc); names stay in the empty folder.
  if (text.find(L'/') != std::wstring::npos || text.find(L'\\') != std::wstring::npos) return 0;
  switch (mode % 3) {
    case 0: {
      terminal::terminal_options o;
      try {
        o.parse_options(arguments(text));
      } catch (...) {
        // Unreadable script files end the parse with an exception by design.
      }
      break;
    }
    case 1: {
      terminal::terminal_options o;
      (void)o.parse_positional(arguments(text));  // only that it returns matters here
      break;
    }
    default: {
      std::vector<std::wstring> statements;
      terminal::split_statements(text, statements);
      // The same text as lines arriving one by one on standard input.
      std::wstring pending;
      std::vector<std::wstring> batch;
      terminal::statement_scanner scanner;
      size_t start = 0;
      while (start <= text.size()) {
        size_t nl = text.find(L'\n', start);
        if (nl == std::wstring::npos) nl = text.size();
        if (!pending.empty()) pending += L' ';
        pending.append(text, start, nl - start);
        terminal::take_statements(pending, batch, scanner);
        start = nl + 1;
      }
      // Both dialects, as a script in pieces and as lines of standard input.
      for (const auto d : {odbc::script_dialect::generic, odbc::script_dialect::mysql}) {
        terminal::script_cutter pieces(true), lines(false);
        pieces.set_dialect(d);
        lines.set_dialect(d);
        const terminal::script_cutter::sink keep = [](terminal::script_item&) { return true; };
        for (size_t at = 0; at < text.size(); at += 3) pieces.add(std::wstring_view(text).substr(at, 3), keep);
        pieces.finish(keep);
        for (size_t b = 0; b <= text.size();) {
          const size_t e = std::min(text.find(L'\n', b), text.size());
          lines.add_line(std::wstring_view(text).substr(b, e - b), keep);
          b = e + 1;
        }
        lines.finish(keep);
      }
      break;
    }
  }
  return 0;
}
