// Secrets kept in files of their own, such as a connection string with its password, out
// of the process list and the shell's history.
#pragma once

#include <string>

#include "vela/result.h"

namespace vela {

// Reads the text of a file that must be a regular file no one but its owner can access
// (mode 0600 or 0400); one trailing line break ("\n" or "\r\n") is dropped. A file that is
// shared, is no regular file, is not UTF-8 or is larger than 64 KiB is refused: the result
// names the file and says why. Where the system keeps no owner modes (Windows) the answer
// is "not supported".
result read_private_text(const std::wstring& path, std::wstring& text);

} // namespace vela
