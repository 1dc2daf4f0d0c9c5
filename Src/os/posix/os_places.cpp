// Environment and folders: where configuration and state files live.
#include <dirent.h>
#include <fcntl.h>
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

uint32_t private_folder(const std::wstring& path) {
  if (const uint32_t code = create_folders(path)) return code;
  const int fd = ::open(native_path(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP || errno == ENOTDIR ? uint32_t{err_access_denied} : last_error();
  struct stat st {};
  uint32_t code = fstat(fd, &st) == 0 ? err_success : last_error();
  if (code == err_success && st.st_uid != ::geteuid()) code = err_access_denied;
  if (code == err_success && (st.st_mode & 077) != 0 && fchmod(fd, st.st_mode & 0700) != 0) code = last_error();
  ::close(fd);
  return code;
}

std::vector<std::wstring> folder_entries(const std::wstring& path) {
  std::vector<std::wstring> out;
  const std::string p = native_path(path.empty() ? L"." : path);
  DIR* d = ::opendir(p.c_str());
  if (!d) return out;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const bool folder = ::stat((p + '/' + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    out.push_back(utf8_to_wide_escaped(name) + (folder ? L"/" : L""));
  }
  ::closedir(d);
  return out;
}

} // namespace vela::os
