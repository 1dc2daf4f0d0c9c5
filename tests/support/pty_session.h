// A program run on a pseudo-terminal, as a user at a terminal would run it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/wait.h"

namespace vela::testing {

// A child on a pseudo-terminal: what it prints is read until an expected text shows.
class pty_session {
 public:
  // env entries are set in the child only; stdin_file, when given, becomes its standard input
  // while the pseudo-terminal stays its controlling terminal and output.
  explicit pty_session(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                       const std::string& stdin_file = {}) {
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 200;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      setenv("LANG", "C.UTF-8", 1);
      setenv("TERM", "xterm", 1);
      for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
      if (!stdin_file.empty()) {
        const int fd = open(stdin_file.c_str(), O_RDONLY);
        if (fd < 0 || dup2(fd, 0) < 0) _exit(126);
      }
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~pty_session() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  // Types a line until the expected answer shows: each read drops what was typed before
  // it began, so a line typed too early is lost and typed again.
  bool type_until(const std::string& line, const std::string& text) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      type(line);
      if (expect(text, 2)) return true;
    }
    return false;
  }

  // Reads until text appears in the output since the last call (or the time passes).
  bool expect(const std::string& text, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (seen_.find(text, mark_) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) return false;
      seen_.append(buf, static_cast<size_t>(n));
    }
    mark_ = seen_.find(text, mark_) + text.size();
    return true;
  }
  // Reads until text appears in the output since the last expect, which it leaves for the
  // next expect to find again.
  bool sees(const std::string& text, int seconds = 10) {
    const size_t mark = mark_;
    const bool seen = expect(text, seconds);
    mark_ = mark;
    return seen;
  }
  // Waits until the child sleeps reading its input, reading its output meanwhile.
  bool waits_for_input(int seconds = 10) {
    return wait_until([this] { return drain() && process_waits_for_input(pid_); }, std::chrono::seconds(seconds), 0s);
  }
  // Types keys and waits until the child has read them all and waits for more.
  bool type_read(const std::string& keys, int seconds = 10) {
    const long long before = process_bytes_read(pid_);
    type(keys);
    return wait_until(
        [&] {
          return drain() && process_bytes_read(pid_) >= before + static_cast<long long>(keys.size()) &&
                 process_waits_for_input(pid_);
        },
        std::chrono::seconds(seconds), 0s);
  }
  // Waits until the child has used that much processor time more (a statement it runs
  // has got under way), reading its output meanwhile.
  bool computes_for(std::chrono::milliseconds cpu, int seconds = 10) {
    const long until = process_cpu_ms(pid_) + static_cast<long>(cpu.count());
    return wait_until([&] { return drain() && process_cpu_ms(pid_) >= until; }, std::chrono::seconds(seconds), 0s);
  }
  void type(const std::string& line) { (void)!write(master_, line.data(), line.size()); }
  int wait_exit(int seconds = 10) {
    int status = 0;
    // Drain what is left so the child never blocks on a full terminal.
    for (int i = 0; i < seconds * 20; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        waited_ = true;
        // What the child wrote last may still wait in the terminal.
        pollfd p{master_, POLLIN, 0};
        char buf[4096];
        ssize_t n = 0;
        while (poll(&p, 1, 100) > 0 && (n = read(master_, buf, sizeof buf)) > 0) seen_.append(buf, static_cast<size_t>(n));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) seen_.append(buf, static_cast<size_t>(n));
        else std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    return -1;
  }
  const std::string& output() const { return seen_; }
  // The terminal's modes as the child left them.
  termios modes() const {
    termios t{};
    tcgetattr(master_, &t);
    return t;
  }
  pid_t pid() const { return pid_; }

 private:
  // Reads what the child printed within 10 ms; false once its terminal is closed.
  bool drain() {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) return true;
    char buf[4096];
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return false;
    seen_.append(buf, static_cast<size_t>(n));
    return true;
  }

  int master_ = -1;
  pid_t pid_ = -1;
  bool waited_ = false;
  std::string seen_;
  size_t mark_ = 0;
};

} // namespace vela::testing
