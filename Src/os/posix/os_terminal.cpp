// Reading lines from the controlling terminal or standard input.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace vela::os {

static_assert(sizeof(termios) <= 64, "room for the saved terminal settings");

namespace {

// Buffered reads of one descriptor.
class fd_lines {
 public:
  explicit fd_lines(int fd) : fd_(fd) {}
  bool next(std::string& line) {
    line.clear();
    for (;;) {
      const size_t nl = buffer_.find('\n', pos_);
      if (nl != std::string::npos) {
        line.append(buffer_, pos_, nl - pos_);
        pos_ = nl + 1;
        return true;
      }
      line.append(buffer_, pos_, std::string::npos);
      buffer_.clear();
      pos_ = 0;
      if (eof_) return !line.empty();
      char chunk[65536];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        eof_ = true;
        return !line.empty();
      }
      buffer_.assign(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
  size_t pos_ = 0;
  bool eof_ = false;
};

fd_lines& stdin_lines() {
  static fd_lines lines(0);
  return lines;
}

} // namespace

bool read_stdin_line(std::string& line) {
  if (!stdin_lines().next(line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

line_reader::line_reader() {
  tty_ = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty_ < 0) return;
  termios t{};
  if (tcgetattr(tty_, &t) != 0) {
    ::close(tty_);
    tty_ = -1;
    return;
  }
  std::memcpy(saved_, &t, sizeof t);
  if ((t.c_lflag & (ICANON | ECHO)) != (ICANON | ECHO)) {
    t.c_lflag |= ICANON | ECHO;
    restore_ = tcsetattr(tty_, TCSANOW, &t) == 0;
  }
}

line_reader::~line_reader() {
  if (tty_ < 0) return;
  if (restore_) {
    termios t{};
    std::memcpy(&t, saved_, sizeof t);
    tcsetattr(tty_, TCSANOW, &t);
  }
  ::close(tty_);
}

bool line_reader::read_line(std::wstring& line) {
  line.clear();
  std::string bytes;
  if (tty_ >= 0) {
    tcflush(tty_, TCIFLUSH);  // what was typed ahead of the prompt is dropped
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(tty_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // end of input (Ctrl-D) or the terminal went away
      bytes.append(buf, static_cast<size_t>(n));
      if (bytes.back() == '\n') break;
    }
    bytes.pop_back();
  } else if (!read_stdin_line(bytes)) {
    return false;
  }
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  line = decode_from_console(bytes);
  return true;
}

} // namespace vela::os
