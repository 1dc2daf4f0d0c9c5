#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "os/os.h"

namespace vela::os {

uint32_t process_id() {
  static const uint32_t id = static_cast<uint32_t>(getpid());
  return id;
}

void ignore_file_size_signal() { ::signal(SIGXFSZ, SIG_IGN); }

void end_by_broken_pipe() {
  ::signal(SIGPIPE, SIG_DFL);
  ::raise(SIGPIPE);
  ::_exit(128 + SIGPIPE);
}

// A POSIX exit status holds 8 bits: larger codes keep their low byte, never 0.
int exit_status(uint32_t code) {
  if (code == 0) return 0;
  const uint32_t low = code & 0xFF;
  return low == 0 ? 255 : static_cast<int>(low);
}

uint32_t thread_id() {
  thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

void realtime_now(int64_t& seconds, long& nanoseconds) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  seconds = ts.tv_sec;
  nanoseconds = ts.tv_nsec;
}

uint32_t remove_file(const std::wstring& path) {
  return ::unlink(native_path(path).c_str()) == 0 ? 0 : last_error();
}

} // namespace vela::os

#include <dlfcn.h>

namespace vela::os {

void* library_symbol(const char* library, const char* symbol) {
  void* lib = dlopen(library, RTLD_NOW | RTLD_LOCAL);  // kept loaded for the rest of the run
  return lib ? dlsym(lib, symbol) : nullptr;
}

} // namespace vela::os
