// Tables that a load makes: from the columns of another source's query, or from a file's
// header and the types its values need.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "Terminal/load/column_guess.h"
#include "Terminal/load/copy_data.h"
#include "vela/code_page.h"
#include "vela/odbc/type_mapping.h"

namespace vela::odbc {
class connection;
}

namespace vela::terminal {

// Makes the table as how says (CREATE, IF NOT EXISTS, REPLACE) from columns, whose names
// are made unique. in_transaction: a transaction of the user's is open (a test for the table
// must not spoil it). made: a new table was made (IF NOT EXISTS finds one: false). The failure
// is the database's, when making the table failed.
result make_table(odbc::connection& c, const std::wstring& table, std::vector<odbc::column_shape> columns,
                  copy_format::creation how, bool in_transaction, bool& made);

// A table made from a file: its columns' names and the types their values need so far.
struct file_table {
  std::wstring table;
  std::vector<std::wstring> names;
  std::vector<column_guess> guesses;
  bool has_boolean = false;
  bool restarted = false;   // made again once already: values that do not fit go as they are
  size_t restart_line = 0;  // the line whose value needs the table made again (0: none)
  size_t told_before = 0;   // made again: refused rows before this line were told already
  odbc::bulk_row shaped;    // a row with its booleans as the databases take them

  std::vector<odbc::column_shape> shapes() const;
  // Guesses the columns from the file's first n records (its header names them, else
  // column1, column2 …; JSON lines: their keys).
  result guess(const std::wstring& file, text_file_code_page cp, const copy_format& f, size_t n);
  // JSON lines: the keys of the first n objects in the order first seen (names given: only
  // those), typed by the values' texts.
  result guess_json(const std::wstring& file, text_file_code_page cp, const copy_format& f, size_t n);
  // row as the table takes it; null when a value needs a wider type than ALTER can give
  // (restart_line set). Columns that ALTER can widen are widened first (changed: told).
  const odbc::bulk_row* fit(const odbc::bulk_row& row, odbc::bulk_insert& engine, odbc::connection& c, result& failed,
                            std::vector<std::pair<std::wstring, std::wstring>>& changed);
};

} // namespace vela::terminal
