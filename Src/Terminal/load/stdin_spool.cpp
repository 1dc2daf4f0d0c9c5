#include "Terminal/load/stdin_spool.h"

#include <vector>

#include "vela/system.h"

namespace vela::terminal {

spooled_stdin::~spooled_stdin() {
  if (!path_.empty()) (void)sys::remove_file(path_);
}

result spooled_stdin::fill() {
  sys::file_handle h = sys::invalid_file_handle;
  if (const uint32_t code = sys::create_temp_file(path_, h)) {
    path_.clear();
    return failure(code);
  }
  std::vector<char> piece(1 << 20);
  uint32_t code = 0;
  for (size_t got = 0; !code;) {
    code = sys::read_stdin_bytes(piece.data(), piece.size(), got);
    if (code || got == 0) break;
    code = sys::write_file(h, piece.data(), got);
  }
  const uint32_t closed = sys::close_file(h);
  if (!code) code = closed;
  return code ? failure(code) : result();
}

} // namespace vela::terminal
