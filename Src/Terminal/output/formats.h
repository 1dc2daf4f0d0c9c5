// The output formats: the padded layout and every "-format" name, one entry each. Option
// parsing, the usage text, where output goes and which writer prints the rows all read the
// one table, so a new format is one entry here and one writer file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vela {
class console_writer;
}

namespace vela::terminal {

class row_writer;

// What the writers take from the options.
struct writer_settings {
  std::wstring column_delimiter;  // "-cd" as given
  std::wstring null_text;         // "-null"
  bool null_given = false;
  bool names = true;              // not "-do"
  bool long_columns = false;      // "-lc"
  size_t long_column_width = 255;
  int border = 1;                 // "\pset border": the aligned layout's frame
  // Where the aligned layout cuts a value, in terminal cells.
  size_t aligned_cut() const { return long_columns ? long_column_width : 80; }
};

struct output_format {
  const wchar_t* name;     // "-format:NAME"; empty for the padded layout, which is no name's
  const wchar_t* aliases;  // further names, "|" between them; empty when none
  const wchar_t* help;     // how the usage text lists the format
  // Standard output holds the rows alone (counts, times and messages go to standard error).
  bool rows_only;
  // Every column is printed whole, and the writer always takes the header (the names are data
  // there, or the aligned layout measures them).
  bool whole_columns;
  // A table of columns side by side, which "\x" prints one column a line instead.
  bool table_layout;
  std::unique_ptr<row_writer> (*make)(console_writer& out, const writer_settings& settings);
};

const std::vector<output_format>& output_formats();
// The padded layout (and "-cd" delimited), printed when no "-format" is given.
const output_format& default_format();
// The format a "-format" name or alias gives (case aside); null for no format.
const output_format* find_format(std::wstring_view name);
// The usage text with the format names listed in place of "{formats}".
std::wstring with_format_names(std::wstring usage);

// Rows one column a line: always, or (automatic) when a row of the table layout's would be
// wider than the terminal, which the first rows tell; otherwise in that layout.
std::unique_ptr<row_writer> make_expanded_writer(console_writer& out, const writer_settings& settings,
                                                 const output_format& table, bool automatic);

// Writers that take the settings as they are.
std::unique_ptr<row_writer> make_tsv_writer(console_writer& out, const writer_settings& settings);

} // namespace vela::terminal
