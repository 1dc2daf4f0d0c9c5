// Environment and folders: where configuration and state files live.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

std::wstring environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? utf8_to_wide_escaped(v) : std::wstring();
}

bool folder_writable(const std::wstring& path) {
  const std::string p = native_path(path);
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(p.c_str(), W_OK | X_OK) == 0;
}

uint32_t create_folders(const std::wstring& path) {
  const std::string p = native_path(path);
  for (size_t pos = 1; pos <= p.size(); ++pos) {
    if (pos < p.size() && p[pos] != '/') continue;
    const std::string part = p.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return last_error();
  }
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return last_error();
  return S_ISDIR(st.st_mode) ? 0u : uint32_t{err_path_not_found};
}

} // namespace vela::os
