// A listing of text fields, such as a catalog's tables or columns.
#pragma once

#include <string>
#include <vector>

#include "Terminal/session/options.h"

namespace vela {
class console_writer;
}

namespace vela::terminal {

struct listing_column {
  std::wstring name;
  bool number = false;  // numbers, right-aligned (and unquoted in JSON)
};

// In the padded layout each field right-aligned in 32 characters, never cut, a header line
// first and every record's line ending in a carriage return and the line break, as the table
// listing always had; in a "-format", through its writer, as a statement's rows.
void print_listing(const terminal_options& options, console_writer& out, const std::vector<listing_column>& columns,
                   const std::vector<std::vector<std::wstring>>& records);

} // namespace vela::terminal
