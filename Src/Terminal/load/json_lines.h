// JSON lines: each line one object, its keys the columns. Read into rows of a load, guessed
// into the columns of a new table, and written from the rows of a result.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vela/odbc/bulk_insert.h"
#include "vela/result.h"

namespace vela::odbc {
class connection;
class resultset;
}

namespace vela::terminal {

enum class json_kind : char { null, boolean, number, string, nested };

// Each member of the object on one line (UTF-8), in order: its key, its kind and its text
// (a string's characters, a number as written, "true"/"false", a nested value as JSON text).
// False with why when the line is not one JSON object, or when member gives false.
using json_member = std::function<bool(const std::string& key, json_kind kind, const std::string& text)>;
bool each_json_member(std::string_view line, const json_member& member, std::wstring& why);

// Rows from objects: each key goes to the column of its name (the same letters, else the
// only column whose name differs in letter case alone); a key with no column refuses the
// row; a missing key is NULL.
class json_row_reader {
 public:
  // words: the column takes booleans as "true"/"false" (text, or a column still guessed);
  // otherwise as "1"/"0", which every database's boolean and bit columns take.
  json_row_reader(std::vector<std::wstring> names, std::vector<char> words);
  // The columns of a table as a query of it describes them (columns: those given), or of a
  // table the load made from the keys (made: their names, in the table's order).
  static result of_table(odbc::connection& c, const std::wstring& table, const std::vector<std::wstring>& columns,
                         const std::vector<std::wstring>* made, std::unique_ptr<json_row_reader>& out);
  // The row of one line, or false with why.
  bool read(std::wstring_view line, odbc::bulk_row& row, std::wstring& why);

 private:
  bool column_of(const std::string& key, size_t& i) const;

  std::vector<std::wstring> names_;
  std::vector<char> words_;
  std::unordered_map<std::string, size_t> exact_, folded_;  // folded: SIZE_MAX when two columns share it
  std::string utf8_;
};

// A line with nothing but blanks: passed over.
bool blank_line(std::wstring_view line);

// A result's rows as JSON lines: keys the column names, numbers as numbers, booleans as
// true/false, NULL as null, everything else a string.
class json_line_writer {
 public:
  explicit json_line_writer(odbc::resultset& columns);
  void append(std::wstring& out, const odbc::bulk_row& row);

 private:
  std::vector<std::string> keys_;  // '{' or ',', the quoted name and ':'
  std::vector<char> numbers_, booleans_;
  std::string line_;
};

} // namespace vela::terminal
