// A listing of text fields, such as a catalog's tables or columns.
#pragma once

#include <optional>
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

// A part of a description: a table of fields (a field may be NULL), and the same records as
// text lines under a title for the layout of psql's \d TABLE.
struct listing_section {
  const char* key;      // its name in JSON
  std::wstring title;   // above its lines; empty for the first section, which is a table there
  std::vector<listing_column> columns;
  std::vector<std::vector<std::optional<std::wstring>>> records;
  std::vector<std::wstring> lines;
};

// A description such as \d TABLE. In the padded layout and "-format:aligned" as psql lays it
// out: the title, the first section as an aligned table, then each other section that has
// records as its title and indented lines. In "-format:json" one object holding every
// section's array of records by its key; in the other formats each section that has records
// as a table of its own, one after another.
void print_description(const terminal_options& options, console_writer& out, const std::wstring& title,
                       const std::vector<listing_section>& sections);

} // namespace vela::terminal
