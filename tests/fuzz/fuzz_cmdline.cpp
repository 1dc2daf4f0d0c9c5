// sqlterm's command line in both syntaxes, statement splitting and standard-input batching.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Terminal/options.h"
#include "Terminal/terminals.h"
#include "fuzz_input.h"
#include "os/os.h"

using namespace vela;

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
        o.parse_options(L"sqlterm " + text);
      } catch (...) {
        // Unreadable script files end the parse with an exception by design.
      }
      break;
    }
    case 1: {
      std::vector<std::wstring> argv = os::split_command_line(L"sqlterm " + text);
      terminal::terminal_options o;
      o.parse_positional(argv);
      break;
    }
    default: {
      std::vector<std::wstring> statements;
      terminal::split_statements(text, statements);
      // The same text as lines arriving one by one on standard input.
      std::wstring pending;
      std::vector<std::wstring> batch;
      size_t start = 0;
      while (start <= text.size()) {
        size_t nl = text.find(L'\n', start);
        if (nl == std::wstring::npos) nl = text.size();
        if (!pending.empty()) pending += L' ';
        pending.append(text, start, nl - start);
        terminal::take_statements(pending, batch);
        start = nl + 1;
      }
      break;
    }
  }
  return 0;
}
