// Files on POSIX systems: open(2) with the rules of the system's file API.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

namespace {

// Handles carry fd + 1 so that fd 0 is not the null handle.
int fd_of(handle h) { return static_cast<int>(h - 1); }
handle handle_of(int fd) { return static_cast<handle>(fd) + 1; }

bool usable(handle h) { return h != null_handle && h != invalid_handle; }

} // namespace

std::string native_path(const std::wstring& path) { return wide_to_utf8_escaped(path); }

uint32_t open_file(const std::wstring& path, uint32_t access, uint32_t share, uint32_t disposition, handle& out) {
  out = invalid_handle;
  const bool reading = access & generic_read, writing = access & generic_write;
  int flags = O_CLOEXEC;
  flags |= writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
    case create_new: flags |= O_CREAT | O_EXCL; break;
    case create_always: flags |= O_CREAT; break;
    case open_existing: break;
    case open_always: flags |= O_CREAT; break;
    case truncate_existing: break;
    default: return err_invalid_parameter;
  }
  const std::string p = native_path(path);
  if (p.empty()) return err_path_not_found;
  const int fd = ::open(p.c_str(), flags, 0666);
  if (fd < 0) return last_error();
  struct stat st {};
  const bool have_status = fstat(fd, &st) == 0;
  if (have_status && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return err_access_denied;
  }
  // Writers lock: exclusively when they deny writing to others, shared otherwise.
  // Truncation waits for the lock so that a refused writer never cuts the file.
  // Pipes, FIFOs and devices are neither locked nor cut: they are only written to.
  if (writing && (!have_status || S_ISREG(st.st_mode))) {
    const int op = (share & share_write) ? LOCK_SH : LOCK_EX;
    if (flock(fd, op | LOCK_NB) != 0) {
      const uint32_t code = errno == EWOULDBLOCK ? err_sharing_violation : last_error();
      ::close(fd);
      return code;
    }
    if ((disposition == create_always || disposition == truncate_existing) && ftruncate(fd, 0) != 0) {
      const uint32_t code = last_error();
      ::close(fd);
      return code;
    }
  }
  out = handle_of(fd);
  return 0;
}

uint32_t close_handle(handle h) {
  if (!usable(h)) return err_invalid_handle;
  return ::close(fd_of(h)) == 0 ? 0 : last_error();
}

uint32_t read_file(handle h, void* buf, size_t n, size_t& got) {
  got = 0;
  auto* p = static_cast<char*>(buf);
  while (got < n) {
    const ssize_t r = ::read(fd_of(h), p + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return 0;
}

uint32_t write_file(handle h, const void* buf, size_t n) {
  const auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    const ssize_t w = ::write(fd_of(h), p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return 0;
}

uint32_t seek_file(handle h, int64_t offset, int whence, int64_t* new_pos) {
  const int w = whence == 0 ? SEEK_SET : (whence == 1 ? SEEK_CUR : SEEK_END);
  const off_t r = ::lseek(fd_of(h), static_cast<off_t>(offset), w);
  if (r < 0) return last_error();
  if (new_pos) *new_pos = r;
  return 0;
}

uint32_t file_size(handle h, int64_t& size) {
  struct stat st {};
  if (fstat(fd_of(h), &st) != 0) return last_error();
  size = st.st_size;
  return 0;
}

uint32_t truncate_file(handle h) {
  const off_t pos = ::lseek(fd_of(h), 0, SEEK_CUR);
  if (pos < 0) return last_error();
  return ftruncate(fd_of(h), pos) == 0 ? 0 : last_error();
}

uint32_t flush_file(handle h) { return fsync(fd_of(h)) == 0 || errno == EINVAL ? 0 : last_error(); }

uint32_t get_file_times(handle h, file_times_info& out) {
  struct statx sx {};
  if (statx(fd_of(h), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return last_error();
  out.access = to_local(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  out.write = to_local(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  // File systems without a birth time: the last status change stands in for it.
  const auto& born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  out.creation = to_local(born.tv_sec, born.tv_nsec);
  return 0;
}

uint32_t last_write_time(const std::wstring& path, int64_t& seconds, long& nanoseconds) {
  struct stat st {};
  if (::stat(native_path(path).c_str(), &st) != 0) return last_error();
  seconds = st.st_mtim.tv_sec;
  nanoseconds = st.st_mtim.tv_nsec;
  return 0;
}

bool path_exists(const std::wstring& path) {
  struct stat st {};
  return ::stat(native_path(path).c_str(), &st) == 0;
}

bool is_regular_file(const std::wstring& path) {
  struct stat st {};
  return ::stat(native_path(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

uint32_t open_private_file(const std::wstring& path, handle& out) {
  out = invalid_handle;
  const std::string p = native_path(path);
  if (p.empty()) return err_path_not_found;
  // Non-blocking, so that a FIFO planted at the name is refused rather than waited on.
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return last_error();
  struct stat st {};
  uint32_t code = fstat(fd, &st) == 0 ? err_success : last_error();
  if (code == err_success && !S_ISREG(st.st_mode)) code = err_invalid_data;
  if (code == err_success && (st.st_mode & 077) != 0) code = err_access_denied;
  if (code == err_success && fcntl(fd, F_SETFL, 0) != 0) code = last_error();
  if (code != err_success) {
    ::close(fd);
    return code;
  }
  out = handle_of(fd);
  return err_success;
}

uint32_t open_private_append(const std::wstring& path, handle& out) {
  out = invalid_handle;
  const std::string p = native_path(path);
  if (p.empty()) return err_path_not_found;
  const int fd = ::open(p.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  // ELOOP: a link at the name; ENXIO: a FIFO nobody reads.
  if (fd < 0) return errno == ELOOP || errno == ENXIO ? uint32_t{err_invalid_data} : last_error();
  struct stat st {};
  uint32_t code = fstat(fd, &st) == 0 ? err_success : last_error();
  if (code == err_success && !S_ISREG(st.st_mode)) code = err_invalid_data;
  if (code == err_success && (st.st_mode & 07777) != 0600 && fchmod(fd, 0600) != 0) code = last_error();
  if (code == err_success && fcntl(fd, F_SETFL, O_APPEND) != 0) code = last_error();
  if (code != err_success) {
    ::close(fd);
    return code;
  }
  out = handle_of(fd);
  return err_success;
}

uint32_t create_temp_file(std::wstring& path, handle& out) {
  out = invalid_handle;
  const char* dir = std::getenv("TMPDIR");
  std::string name = (dir && *dir ? std::string(dir) : std::string("/tmp")) + "/vela-XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return last_error();
  path = utf8_to_wide_escaped(name);
  out = handle_of(fd);
  return 0;
}

namespace {

// The mode a new file gets under the process's umask (read without changing it).
mode_t new_file_mode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(0666 & ~std::strtoul(line.c_str() + 6, nullptr, 8));
  return 0644;
}

} // namespace

namespace {

// Files a signal that ends the process removes: a few at once (an export and a download may
// be under way together). A slot is filled before it is marked taken, so the handler, on
// whichever thread, sees a whole name or none.
constexpr size_t doomed_slots = 4;
char doomed_path[doomed_slots][PATH_MAX + 1];
std::atomic<bool> doomed_set[doomed_slots];
static_assert(std::atomic<bool>::is_always_lock_free);

// The handlers the removal took over, called after it (the terminal's modes go back too).
constexpr int doomed_signals[] = {SIGINT, SIGTERM, SIGHUP};
void (*before_removal[std::size(doomed_signals)])(int) = {};

} // namespace

void remove_temp_files() {
  for (size_t i = 0; i < doomed_slots; ++i)
    if (doomed_set[i]) ::unlink(doomed_path[i]);
}

void remove_temp_files_and_end(int sig) {
  remove_temp_files();
  for (size_t i = 0; i < std::size(doomed_signals); ++i)
    if (doomed_signals[i] == sig && before_removal[i]) {
      before_removal[i](sig);
      return;
    }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void remove_on_signal(const std::wstring& path) {
  static const bool installed = [] {
    for (size_t i = 0; i < std::size(doomed_signals); ++i) {
      struct sigaction now {};
      if (::sigaction(doomed_signals[i], nullptr, &now) != 0 || (now.sa_flags & SA_SIGINFO)) continue;
      // An ignored signal stays ignored (nohup). Ctrl-C caught by a watcher cancels the
      // work, whose own failure path removes the file.
      if (now.sa_handler == SIG_IGN || (doomed_signals[i] == SIGINT && now.sa_handler != SIG_DFL)) continue;
      if (now.sa_handler != SIG_DFL) before_removal[i] = now.sa_handler;
      struct sigaction sa {};
      sa.sa_handler = remove_temp_files_and_end;
      sigemptyset(&sa.sa_mask);
      (void)::sigaction(doomed_signals[i], &sa, nullptr);
    }
    return true;
  }();
  (void)installed;
  const std::string p = native_path(path);
  if (p.empty() || p.size() > PATH_MAX) return;
  for (size_t i = 0; i < doomed_slots; ++i)
    if (!doomed_set[i]) {
      std::memcpy(doomed_path[i], p.c_str(), p.size() + 1);
      doomed_set[i] = true;
      return;
    }
}

void keep_on_signal(const std::wstring& path) {
  const std::string p = native_path(path);
  for (size_t i = 0; i < doomed_slots; ++i)
    if (doomed_set[i] && p == doomed_path[i]) {
      doomed_set[i] = false;
      return;
    }
}

uint32_t create_temp_file_beside(const std::wstring& target, std::wstring& path, handle& out) {
  out = invalid_handle;
  const std::string t = native_path(target);
  const size_t slash = t.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : t.substr(0, slash + 1);
  // The name is known for removal before the file exists: a signal, whichever thread takes
  // it, finds either no file or one it removes.
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name;
  int fd = -1;
  for (int tries = 0; fd < 0 && tries < 100; ++tries) {
    unsigned char random[6];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return last_error();
    name = folder + ".vela-";
    for (const unsigned char r : random) name += letters[r % (sizeof letters - 1)];
    remove_on_signal(utf8_to_wide_escaped(name));
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      const int e = errno;
      keep_on_signal(utf8_to_wide_escaped(name));
      if (e != EEXIST) {
        errno = e;
        return last_error();
      }
    }
  }
  if (fd < 0) return err_file_exists;
  if (fchmod(fd, new_file_mode()) != 0) {
    const uint32_t code = last_error();
    ::close(fd);
    ::unlink(name.c_str());
    keep_on_signal(utf8_to_wide_escaped(name));
    return code;
  }
  path = utf8_to_wide_escaped(name);
  out = handle_of(fd);
  return 0;
}

uint32_t replace_file(const std::wstring& from, const std::wstring& to) {
  return ::rename(native_path(from).c_str(), native_path(to).c_str()) == 0 ? 0 : last_error();
}

bool passes_through_link(const std::wstring& folder, const std::wstring& relative) {
  const std::string base = folder.empty() ? std::string() : native_path(folder) + "/";
  const std::string rel = native_path(relative);
  for (size_t slash = rel.find('/'); slash != std::string::npos; slash = rel.find('/', slash + 1)) {
    struct stat st {};
    if (slash > 0 && ::lstat((base + rel.substr(0, slash)).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return true;
  }
  return false;
}

bool is_device_or_fifo(const std::wstring& path) {
  struct stat st {};
  return ::stat(native_path(path).c_str(), &st) == 0 &&
         (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

uint32_t create_unnamed_temp_file(std::wstring& reopen_path, handle& out) {
  std::wstring named;
  if (const uint32_t code = create_temp_file(named, out)) return code;
  // The name goes at once; the open descriptor keeps the file, and /proc opens it again.
  ::unlink(native_path(named).c_str());
  reopen_path = L"/proc/self/fd/" + std::to_wstring(fd_of(out));
  return 0;
}

namespace {

bool owned_and_closed(const struct stat& st) {
  return (st.st_uid == geteuid() || st.st_uid == 0) && !(st.st_mode & (S_IWGRP | S_IWOTH));
}

} // namespace

bool trusted_config_file(const std::wstring& path) {
  const std::string p = native_path(path);
  const size_t slash = p.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  struct stat file {}, dir {};
  return ::lstat(p.c_str(), &file) == 0 && S_ISREG(file.st_mode) && owned_and_closed(file) &&
         ::stat(folder.c_str(), &dir) == 0 && S_ISDIR(dir.st_mode) && owned_and_closed(dir);
}

std::wstring executable_path() {
  char buf[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  return utf8_to_wide_escaped(std::string_view(buf, static_cast<size_t>(n)));
}

} // namespace vela::os

namespace vela::os {

bool short_path_name(const std::wstring&, std::wstring&) { return false; }

} // namespace vela::os
