// sqlterm's own standard input as the source of a load (\copy … FROM pstdin): read as it
// comes, or kept in a private temporary file when a table made from its values, or a load
// that starts again with wider columns, reads it more than once.
#pragma once

#include <string>

#include "Terminal/load/data_file.h"
#include "vela/result.h"

namespace vela::terminal {

// Standard input as UTF-8 text, read a piece at a time as it comes: each line given as
// read_data_lines gives a file's (bytes that are not UTF-8 kept as U+DC80..U+DCFF).
result read_stdin_lines(const data_line_sink& line, bool& go);

// Standard input kept in a file, removed with the object.
class spooled_stdin {
 public:
  spooled_stdin() = default;
  ~spooled_stdin();
  spooled_stdin(const spooled_stdin&) = delete;
  spooled_stdin& operator=(const spooled_stdin&) = delete;

  // Reads standard input to its end into the file, its bytes as they come.
  result fill();
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

} // namespace vela::terminal
