// The process's argument vector as the kernel keeps it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

std::vector<std::wstring> command_args() {
  // Read with plain calls: a file stream costs more to set up than the read itself.
  std::string raw;
  const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
      if (got > 0) raw.append(buffer, static_cast<size_t>(got));
    ::close(fd);
  }
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
