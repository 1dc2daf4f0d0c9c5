// The process's argument vector as the kernel keeps it.
#include <fstream>
#include <iterator>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

std::vector<std::wstring> command_args() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::wstring> argv;
  size_t start = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\0') {
      argv.push_back(utf8_to_wide_escaped(std::string_view(raw).substr(start, i - start)));
      start = i + 1;
    }
  }
  if (start < raw.size()) argv.push_back(utf8_to_wide_escaped(std::string_view(raw).substr(start)));
  return argv;
}

std::wstring command_line() { return join_command_line(command_args()); }

} // namespace vela::os
