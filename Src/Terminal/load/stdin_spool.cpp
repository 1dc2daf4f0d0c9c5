#include "Terminal/load/stdin_spool.h"

#include <vector>

#include "Terminal/load/copy_data.h"
#include "vela/system.h"
#include "vela/utf.h"

namespace vela::terminal {

result read_stdin_lines(const data_line_sink& line, bool& go) {
  line_splitter lines;
  std::vector<char> piece(1 << 20);
  std::string bytes;  // a character cut at the end of a piece waits for the next one
  go = true;
  for (;;) {
    size_t got = 0;
    if (const uint32_t code = sys::read_stdin_bytes(piece.data(), piece.size(), got)) return failure(code);
    if (got == 0) break;
    bytes.append(piece.data(), got);
    const size_t whole = utf8_complete(bytes.data(), bytes.size());
    go = lines.add(utf8_to_wide_escaped(std::string_view(bytes).substr(0, whole)), line);
    bytes.erase(0, whole);
    if (!go) return result();
  }
  if (!bytes.empty()) go = lines.add(utf8_to_wide_escaped(bytes), line);
  if (go) go = lines.finish(line);
  return result();
}

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
