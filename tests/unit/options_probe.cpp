// Prints what sqlterm's option parse made of this process's command line.
#include <cstdio>

#include "Terminal/session/options.h"
#include "vela/utf.h"

int main() {
  vela::terminal::terminal_options o;
  try {
    o.parse_options();
  } catch (const vela::windows_error& e) {
    std::printf("error %d\n", e.code());
    return 1;
  }
  std::printf("cs=[%s]\n", vela::wide_to_utf8(o.connection_string).c_str());
  std::printf("driver=[%s]\n", vela::wide_to_utf8(o.driver).c_str());
  for (const auto& s : vela::terminal::script_statements(o)) std::printf("stmt=[%s]\n", vela::wide_to_utf8(s).c_str());
  return 0;
}
