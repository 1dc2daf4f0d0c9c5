// Wide text to standard output in the locale's encoding, buffered in large pieces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vela {

class console_writer {
 public:
  explicit console_writer(int fd);
  ~console_writer();
  console_writer(const console_writer&) = delete;
  console_writer& operator=(const console_writer&) = delete;

  console_writer& write(std::wstring_view text);
  console_writer& operator<<(std::wstring_view text) { return write(text); }
  // "\n"; flushed at once when the output is a terminal.
  console_writer& line_break();
  void flush();
  bool is_terminal() const { return terminal_; }

 private:
  int fd_;
  bool terminal_;
  std::string pending_;
};

// Standard output of the process; flushed at exit.
console_writer& console();

// Sets the locale of a program (the environment's, C.UTF-8 instead of plain C).
void init_program_locale();

// A result code as a process exit status: 1-255 as they are, larger codes keep their low
// 8 bits, and a non-zero code never becomes 0.
int exit_status(uint32_t code);

} // namespace vela
