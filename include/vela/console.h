// Wide text to standard output in the locale's encoding, buffered in large pieces.
#pragma once

#include <cstdint>
#include <memory>
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
  console_writer& write(wchar_t c) {
    if (static_cast<uint32_t>(c) < 0x80 && room(1)) {
      buffer_[used_++] = static_cast<char>(c);
      return *this;
    }
    return write(std::wstring_view(&c, 1));
  }
  // UTF-16 text as a driver delivers it; returns the number of characters written.
  size_t write_utf16(const char16_t* text, size_t units);
  console_writer& pad(size_t blanks);
  // "\n"; flushed at once when the output is a terminal.
  console_writer& line_break();
  void flush();
  bool is_terminal() const { return terminal_; }

 private:
  // Makes room for n more bytes (flushing when the buffer is full); false when n is too large.
  bool room(size_t n);
  void append(const char* bytes, size_t n);

  int fd_;
  bool terminal_;
  bool utf8_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  std::wstring scratch_;
  std::string encoded_;
};

// Standard output of the process; flushed at exit.
console_writer& console();
// Standard error of the process.
console_writer& error_console();

// Sets the locale of a program (the environment's, C.UTF-8 instead of plain C).
void init_program_locale();

// A result code as a process exit status: 1-255 as they are, larger codes keep their low
// 8 bits, and a non-zero code never becomes 0.
int exit_status(uint32_t code);

} // namespace vela
