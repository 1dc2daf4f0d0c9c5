// sqlterm's own standard input as the source of a load (\copy … FROM pstdin), kept in a
// private temporary file: a table made from its values, and a load that starts again with
// wider columns, read it more than once.
#pragma once

#include <string>

#include "vela/result.h"

namespace vela::terminal {

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
