#include "vela/console.h"

#include <cstring>

#include "os/os.h"
#include "vela/utf.h"
#include "utf/wide_ascii.h"

namespace vela {

console_writer::console_writer(int fd)
    : fd_(fd), terminal_(os::is_terminal(fd)), utf8_(os::console_is_utf8()), buffer_(new char[buffer_size]), own_fd_(fd) {}

console_writer::~console_writer() { flush(); }

std::unique_ptr<console_writer> console_writer::for_file(intptr_t handle) {
  auto w = std::make_unique<console_writer>(-1);
  w->file_ = handle;
  w->terminal_ = false;
  return w;
}

bool console_writer::room(size_t n) {
  if (used_ + n <= buffer_size) return true;
  flush();
  return n <= buffer_size;
}

void console_writer::append(const char* bytes, size_t n) {
  if (room(n)) {
    std::memcpy(buffer_.get() + used_, bytes, n);
    used_ += n;
  } else {
    put(bytes, n);  // larger than the buffer: straight through
  }
}

console_writer& console_writer::write(std::wstring_view text) {
  // ASCII goes straight into the buffer; from the first other character on, the converter.
  if (utf8_ && room(text.size())) {
    char* const p = buffer_.get() + used_;
    const size_t i = wide_ascii_prefix(text.data(), text.size());
    for (size_t k = 0; k < i; ++k) p[k] = static_cast<char>(text[k]);
    used_ += i;
    if (i == text.size()) return *this;
    text.remove_prefix(i);
  }
  encoded_.clear();
  os::encode_for_console(text, encoded_);
  append(encoded_.data(), encoded_.size());
  return *this;
}

size_t console_writer::write_utf16(const char16_t* text, size_t units) {
  if (utf8_ && room(units)) {
    // ASCII goes straight into the buffer; anything else through the one converter.
    char* p = buffer_.get() + used_;
    size_t i = 0;
    // Four units at a time while all four are ASCII.
    for (; i + 4 <= units; i += 4) {
      uint64_t four;
      std::memcpy(&four, text + i, sizeof four);
      if (four & 0xFF80FF80FF80FF80ull) break;
      p[i] = static_cast<char>(text[i]);
      p[i + 1] = static_cast<char>(text[i + 1]);
      p[i + 2] = static_cast<char>(text[i + 2]);
      p[i + 3] = static_cast<char>(text[i + 3]);
    }
    for (; i < units && text[i] < 0x80; ++i) p[i] = static_cast<char>(text[i]);
    used_ += i;
    if (i == units) return units;
    scratch_ = utf16_to_wide(text + i, units - i);
    write(scratch_);
    return i + scratch_.size();
  }
  scratch_ = utf16_to_wide(text, units);
  write(scratch_);
  return scratch_.size();
}

void console_writer::write_converted_utf8(const char* text, size_t bytes) {
  scratch_ = utf8_to_wide(std::string_view(text, bytes));
  write(scratch_);
}

console_writer& console_writer::pad(size_t blanks) {
  while (blanks > 0) {
    const size_t n = blanks < buffer_size ? blanks : buffer_size;
    room(n);
    std::memset(buffer_.get() + used_, ' ', n);
    used_ += n;
    blanks -= n;
  }
  return *this;
}

console_writer& console_writer::line_break() {
  write(L'\n');
  if (terminal_ || line_flush_) flush();
  return *this;
}

void console_writer::flush() {
  if (used_ == 0) return;
  const size_t n = used_;
  used_ = 0;
  put(buffer_.get(), n);
}

void console_writer::put(const char* bytes, size_t n) {
  if (holding_) {
    held_.append(bytes, n);
    for (const char* p = bytes; (p = static_cast<const char*>(std::memchr(p, '\n', n - static_cast<size_t>(p - bytes)))) != nullptr; ++p)
      ++held_lines_;
    if (held_lines_ <= hold_lines_) return;
    holding_ = false;
    const int fd = divert_();
    if (fd >= 0) {
      fd_ = fd;
      diverted_ = true;
    }
    std::string held;
    held.swap(held_);
    put(held.data(), held.size());
    return;
  }
  if (error_) return;
  if (file_ != -1) {
    error_ = os::write_file(file_, bytes, n);
    if (error_ == 0) return;
  } else if (os::write_all(fd_, bytes, n)) {
    return;
  }
  if (error_ == 0) error_ = os::last_error();
  if (error_ == 0) error_ = os::err_write_fault;
  if (diverted_) return;  // the reader of diverted output left: that output ends, nothing more
  if (on_failure_) on_failure_(error_);
}

void console_writer::hold(size_t lines, std::function<int()> divert) {
  flush();
  holding_ = true;
  hold_lines_ = lines;
  held_lines_ = 0;
  divert_ = std::move(divert);
}

void console_writer::release() {
  flush();
  if (holding_) {
    holding_ = false;
    std::string held;
    held.swap(held_);
    put(held.data(), held.size());
  }
  if (diverted_) {
    fd_ = own_fd_;
    diverted_ = false;
    error_ = 0;
  }
  divert_ = nullptr;
}

console_writer& console() {
  static console_writer out(1);
  return out;
}

console_writer& error_console() {
  static console_writer err(2);
  return err;
}

void init_program_locale() { os::init_locale(); }

int exit_status(uint32_t code) { return os::exit_status(code); }

} // namespace vela
