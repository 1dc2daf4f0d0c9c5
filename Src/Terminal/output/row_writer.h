// Result rows written in one output format: the cell source hands each writer the header and
// every cell, as UTF-8 whichever way the driver delivered it; a format is one writer class in a
// file of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vela/odbc/types.h"

namespace vela {
class console_writer;
}

namespace vela::terminal {

// How one column is printed.
struct column_layout {
  std::string name;       // UTF-8
  bool right = false;     // numbers are right-aligned
  bool left_out = false;  // long or binary without "-lc": no values
  size_t width = 0;       // padded places in UTF-16 units: display size, "-lc" width, 0 when left out
  odbc::type_class kind = odbc::type_class::text;
  int32_t sql_type = 0;
  bool boolean = false;   // BIT or a boolean type: values "1" and "0"
};

// Numbers: the core numeric types, BIGINT and TINYINT.
inline bool is_number(const column_layout& c) {
  return c.kind == odbc::type_class::number || c.sql_type == -5 || c.sql_type == -6;
}

// A boolean value in a format's words, t/f or (long_words) true/false; null for any other
// column or text.
inline const char* boolean_word(const column_layout& c, const char* text, size_t bytes, bool long_words) {
  if (!c.boolean || bytes != 1 || (text[0] != '0' && text[0] != '1')) return nullptr;
  if (long_words) return text[0] == '1' ? "true" : "false";
  return text[0] == '1' ? "t" : "f";
}

// Each line of text (split at line feeds) with whether another follows.
template <typename F>
void for_each_line(const char* text, size_t bytes, F&& line) {
  for (;;) {
    const char* const end = bytes ? static_cast<const char*>(std::memchr(text, '\n', bytes)) : nullptr;
    if (!end) return line(text, bytes, false);
    line(text, static_cast<size_t>(end - text), true);
    bytes -= static_cast<size_t>(end - text) + 1;
    text = end + 1;
  }
}

class row_writer {
 public:
  virtual ~row_writer() = default;
  // The column names (not written with data only).
  virtual void header(const std::vector<column_layout>& columns) = 0;
  // What comes before the value of column i of a row.
  virtual void next_column(size_t i) = 0;
  virtual void left_out(const column_layout& c) = 0;
  virtual void null(const column_layout& c) = 0;
  // A value held whole (binary values as "0x" and hexadecimal digits, or as backslash_hex says).
  virtual void value(const column_layout& c, const char* text, size_t bytes) = 0;
  // Binary values as "\x" and lower-case hexadecimal digits, which \copy FROM and PostgreSQL read.
  virtual bool backslash_hex() const { return false; }
  // Floating-point values in the shortest text that reads back to the same value (otherwise
  // in the driver's text).
  virtual bool exact_floats() const { return true; }
  // How many UTF-16 units of a long value the format shows: its width, or everything.
  virtual size_t wanted_units(const column_layout&) const { return SIZE_MAX; }
  // A value that arrives in pieces: begin, the pieces, then end, or null instead of end.
  virtual void begin_value(const column_layout& c) = 0;
  // Pieces never end inside a character.
  virtual void piece(const char* text, size_t bytes) = 0;
  virtual void end_value(const column_layout& c) = 0;
  virtual void end_row() = 0;
  // After the last row of a result set, also when there was none.
  virtual void end_rows() {}
};

// Padded columns ("-cd" a blank, the default).
std::unique_ptr<row_writer> make_padded_writer(console_writer& out, std::string null_text, bool null_given);
// Values between delimiters ("-cd" anything else, possibly nothing).
std::unique_ptr<row_writer> make_delimited_writer(console_writer& out, std::string delimiter, std::string null_text);
// RFC 4180 fields ("-csv").
// The delimiter is one character or none. With "-null" given (null_given), a value equal to its
// text is quoted. The names come first unless names is false.
std::unique_ptr<row_writer> make_csv_writer(console_writer& out, std::string delimiter, std::string null_text,
                                            bool null_given, bool names);

// Columns as wide as their content (of the first rows), in terminal cells: a header and a rule
// unless names is false, numbers right-aligned, a value wider than cut cells cut with "…". Border
// 0 puts blanks between the columns, 1 lines, 2 lines around the table too.
std::unique_ptr<row_writer> make_aligned_writer(console_writer& out, std::string null_text, bool names, size_t cut,
                                                int border = 1);
// One "name | value" line a column, each record under a "-[ RECORD n ]-" line.
std::unique_ptr<row_writer> make_vertical_writer(console_writer& out, std::string null_text);
// One JSON array of objects a result set, or one object a line (lines).
std::unique_ptr<row_writer> make_json_writer(console_writer& out, bool lines);
// A table of GitHub-flavoured Markdown.
std::unique_ptr<row_writer> make_markdown_writer(console_writer& out, std::string null_text);

} // namespace vela::terminal
