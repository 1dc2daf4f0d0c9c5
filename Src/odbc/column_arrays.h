// A batch of rows as one array a column: INSERT … SELECT * FROM unnest(?::type[], …), one
// statement and a handful of parameters for the whole batch, where the database has arrays
// (PostgreSQL). The engine holds the batch's values in its column buffers; this sends them.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "vela/result.h"

namespace vela::odbc {

// One column's values of a batch as the engine holds them: a slot of width bytes a row, its
// length (or SQL_NULL_DATA) in ind; text in units of unit bytes (UTF-16 or UTF-8), or bytes.
struct column_slots {
  const unsigned char* data = nullptr;
  size_t width = 0;
  const SQLLEN* ind = nullptr;
  size_t unit = 2;
  bool binary = false;
};

// The query whose one row names the type of each of the n columns that SELECT list FROM table
// gives ("*" for all), as the database writes type names.
std::wstring column_types_query(const std::wstring& table, const std::wstring& list, size_t n);
// The INSERT (head: its text up to VALUES) that takes one array of each type; "" when a type
// is itself an array, which unnest would take apart.
std::wstring unnest_insert(const std::wstring& head, const std::vector<std::wstring>& types);

// Values of an array literal: NULL, or the value in double quotes with a backslash before each
// quote and backslash; a binary value as "\x" and hex digits (the backslash doubled).
void append_array_element(std::u16string& out, const unsigned char* slot, SQLLEN length, size_t unit, bool binary);
void append_array_element(std::string& out, const unsigned char* slot, SQLLEN length, size_t unit, bool binary);

class column_array_insert {
 public:
  using sender = std::function<SQLRETURN(SQLHSTMT, const std::wstring&, bool prepare)>;
  column_array_insert() = default;
  ~column_array_insert();
  column_array_insert(const column_array_insert&) = delete;
  column_array_insert& operator=(const column_array_insert&) = delete;

  // Asks the database for the columns' types and prepares the INSERT of arrays; false when it
  // cannot be used (the engine loads as before). head: "INSERT INTO t (…) VALUES ".
  bool prepare(SQLHDBC dbc, const sender& send, const std::wstring& table, const std::wstring& list, size_t n,
               const std::wstring& head, bool narrow);
  bool ready() const { return stmt_ != SQL_NULL_HSTMT; }
  // Rows 0 .. rows - 1 of the columns in one statement: success when every row went in.
  result run(const std::vector<column_slots>& columns, size_t rows);
  void release();

 private:
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool narrow_ = false;
  std::vector<std::u16string> wide_;
  std::vector<std::string> bytes_;
  std::vector<SQLLEN> ind_;
};

} // namespace vela::odbc
