// The cells of a result set as a row writer wants them, in UTF-8: bound text, long text read in
// pieces, binary values as hexadecimal digits.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "Terminal/output/row_writer.h"
#include "vela/odbc/query.h"
#include "vela/result.h"

namespace vela::terminal {

// How text cells come from the driver.
enum class text_path {
  wide,          // bound as UTF-16
  utf8,          // bound as UTF-8 bytes (SQL_C_CHAR), written as they come
  wide_unbound,  // text columns read as UTF-16 with SQLGetData: the driver's bound lengths are wrong
};

class cell_source {
 public:
  // floats_as_text: floating-point columns are fetched as text and read here (where the
  // driver has them as text anyway).
  cell_source(odbc::resultset& rows, row_writer& writer, text_path path = text_path::wide, bool floats_as_text = false)
      : rows_(rows), writer_(writer), path_(path), floats_as_text_(floats_as_text) {}

  // Column i (in order from 0): bound as text when it is neither long nor binary; otherwise
  // read in pieces up to long_width places with long_columns, or left out. Bound by
  // bind_column, once the result set's rowset size is set.
  void add_column(size_t i, bool long_columns, size_t long_width);
  // Binds column i for every row of a rowset. A failed binding is returned: the column then
  // reads as NULL in every row.
  result bind_column(size_t i);
  // Every column written comes from its bound buffers: none is read with SQLGetData...
  bool all_bound() const;
  // ...except a value longer than its buffer that the writer wants whole.
  bool may_read_again() const;
  // The bytes one row takes in the bound buffers.
  size_t row_bytes() const;
  const column_layout& layout(size_t i) const { return columns_[i].layout; }
  std::vector<column_layout> layouts() const;

  // Writes the row fetched last; a value that could not be read is handed to failed.
  void write_row(const std::function<void(const result&)>& failed);

 private:
  enum class kind { bound, floating, floating_text, long_text, long_binary, left_out };
  struct column {
    kind how;
    column_layout layout;
    // A bound column's values, one a row of the rowset: as UTF-16 text (width and the
    // terminator), as UTF-8 (4 bytes a character and the terminator), or a floating-point value.
    std::vector<char16_t> buffer;
    std::vector<char> bytes;
    std::vector<double> number;
    size_t wanted = SIZE_MAX;      // the writer's wanted_units, asked once
  };

  void write_bound(size_t i);
  void write_long(size_t i, const std::function<void(const result&)>& failed);
  void write_utf8(size_t i);
  void write_floating(size_t i);
  void write_floating_text(size_t i);
  // Bytes a floating-point value fetched as text takes in its buffer, with the terminator.
  static size_t float_text_room(const column& c);
  // Wide text handed on as UTF-8.
  void write_utf16(const column_layout& c, const char16_t* text, size_t units);
  void piece_utf16(const char16_t* text, size_t units);

  odbc::resultset& rows_;
  row_writer& writer_;
  text_path path_;
  bool floats_as_text_;
  std::vector<column> columns_;
  std::vector<char16_t> piece_;
  std::vector<unsigned char> bytes_;
  std::string hex_;
  std::string text_;  // a wide cell as UTF-8
};

} // namespace vela::terminal
