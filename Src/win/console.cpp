#include "vela/console.h"

#include "os/os.h"

namespace vela {

namespace {
constexpr size_t flush_threshold = 64 * 1024;
}

console_writer::console_writer(int fd) : fd_(fd), terminal_(os::is_terminal(fd)) { pending_.reserve(flush_threshold * 2); }

console_writer::~console_writer() { flush(); }

console_writer& console_writer::write(std::wstring_view text) {
  os::encode_for_console(text, pending_);
  if (pending_.size() >= flush_threshold) flush();
  return *this;
}

console_writer& console_writer::line_break() {
  pending_.push_back('\n');
  if (terminal_ || pending_.size() >= flush_threshold) flush();
  return *this;
}

void console_writer::flush() {
  if (pending_.empty()) return;
  os::write_all(fd_, pending_.data(), pending_.size());
  pending_.clear();
}

console_writer& console() {
  static console_writer out(1);
  return out;
}

void init_program_locale() { os::init_locale(); }

int exit_status(uint32_t code) {
  if (code == 0) return 0;
  const uint32_t low = code & 0xFF;
  return low == 0 ? 255 : static_cast<int>(low);
}

} // namespace vela
