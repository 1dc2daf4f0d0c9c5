// Wide text to standard output in the locale's encoding, buffered in large pieces.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vela {

class console_writer {
 public:
  explicit console_writer(int fd);
  ~console_writer();
  // Text in the console's encoding to an open file, by its handle (which it does not own).
  static std::unique_ptr<console_writer> for_file(intptr_t handle);
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
  // UTF-8 text: as it is when the console is UTF-8, else in the console's encoding.
  void write_utf8(const char* text, size_t bytes) {
    if (utf8_ && used_ + bytes <= buffer_size) {  // the common case, inline: a cell at a time
      std::memcpy(buffer_.get() + used_, text, bytes);
      used_ += bytes;
    } else if (utf8_) {
      append(text, bytes);
    } else {
      write_converted_utf8(text, bytes);
    }
  }
  console_writer& pad(size_t blanks);
  // "\n"; flushed at once when the output is a terminal.
  console_writer& line_break();
  void flush();
  bool is_terminal() const { return terminal_; }
  // Every line break flushes, also into a file or a pipe (a killed run keeps its lines).
  void set_line_flush(bool on) { line_flush_ = on; }
  // The error of the first failed write (0 while none failed); later output is dropped.
  uint32_t error() const { return error_; }
  // Called once with the error code when a write fails.
  using failure_handler = void (*)(uint32_t code);
  void on_failure(failure_handler handler) { on_failure_ = handler; }
  // Output is held in memory until it holds more than lines line ends; then divert() names
  // the descriptor that takes it and what follows (a pager), or -1 to write it here after all.
  // A failed write to that descriptor ends only that output: error() tells it, the failure
  // handler is not called.
  void hold(size_t lines, std::function<int()> divert);
  // Ends holding and diverting: what is held is written here, and output comes here again.
  void release();

 private:
  // Makes room for n more bytes (flushing when the buffer is full); false when n is too large.
  bool room(size_t n);
  void append(const char* bytes, size_t n);
  void put(const char* bytes, size_t n);
  void write_converted_utf8(const char* text, size_t bytes);

  static constexpr size_t buffer_size = 64 * 1024;

  int fd_;
  bool terminal_;
  bool line_flush_ = false;
  bool utf8_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  std::wstring scratch_;
  std::string encoded_;
  uint32_t error_ = 0;
  failure_handler on_failure_ = nullptr;
  int own_fd_;
  intptr_t file_ = -1;
  bool holding_ = false;
  bool diverted_ = false;
  size_t hold_lines_ = 0;
  size_t held_lines_ = 0;
  std::string held_;
  std::function<int()> divert_;
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
