#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "os/os.h"
#include "vela/utf.h"

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

namespace {
struct sigaction pipe_signal_before {};
}

bool piped_child::start(const std::wstring& command) {
  finish();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  const std::string text = wide_to_utf8_escaped(command);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    return false;
  }
  if (pid == 0) {
    ::dup2(ends[0], 0);
    ::execl("/bin/sh", "sh", "-c", text.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(ends[0]);
  // A pager that ends early (q) closes the pipe: the writes then fail, the process goes on.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &pipe_signal_before);
  child_ = pid;
  fd_ = ends[1];
  return true;
}

namespace {

int wait_status(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int piped_child::finish() {
  if (fd_ < 0) return -1;
  ::close(fd_);
  fd_ = -1;
  const int status = wait_status(static_cast<pid_t>(child_));
  child_ = 0;
  ::sigaction(SIGPIPE, &pipe_signal_before, nullptr);
  return status;
}

int run_program(const std::wstring& command, const std::wstring& file) {
  // The file reaches the command as "$1": no quoting of its name for the shell.
  const std::string text = wide_to_utf8_escaped(command) + " \"$1\"";
  const std::string argument = native_path(file);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", text.c_str(), "sh", argument.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return wait_status(pid);
}

size_t terminal_lines(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

size_t terminal_columns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
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
