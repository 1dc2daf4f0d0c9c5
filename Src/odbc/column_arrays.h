// A batch of rows in one statement of a few parameters (batch_statement): one array a column,
// INSERT … SELECT unnest(?::type[]), … (PostgreSQL), or the rows as one JSON text,
// INSERT … SELECT json_extract(value, '$[0]'), … FROM json_each(?) (SQLite). The engine holds
// the batch's values in its column buffers; this sends them.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "vela/odbc/driver_profile.h"
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
// The INSERT (head as above) that takes n columns from the rows of one JSON array of arrays.
std::wstring json_rows_insert(const std::wstring& head, size_t n);


// A batch's statement texts, made while the batch before it runs.
struct batch_texts {
  std::vector<std::u16string> wide;
  std::vector<std::string> bytes;
  std::vector<SQLLEN> ind;
  bool sent = false;  // the rows can go as one statement
};

class column_array_insert {
 public:
  using sender = std::function<SQLRETURN(SQLHSTMT, const std::wstring&, bool prepare)>;
  column_array_insert() = default;
  ~column_array_insert();
  column_array_insert(const column_array_insert&) = delete;
  column_array_insert& operator=(const column_array_insert&) = delete;

  // Prepares the INSERT of the batch in the form asked for (for arrays, after asking the
  // database for the columns' types); false when it cannot be used (the engine loads as
  // before). head: "INSERT INTO t (…) " (up to VALUES); narrow: text is UTF-8.
  bool prepare(SQLHDBC dbc, const sender& send, batch_statement form, const std::wstring& table,
               const std::wstring& list, size_t n, const std::wstring& head, bool narrow);
  bool ready() const { return stmt_ != SQL_NULL_HSTMT; }
  // Rows 0 .. rows - 1 of the columns (text, and bytes for arrays) in one statement, in two
  // steps: the texts of the rows (false: they cannot go so, such as a text with a NUL in
  // JSON), then the statement with them, success when every row went in. build touches
  // nothing run uses, so it may run meanwhile.
  bool build(const std::vector<column_slots>& columns, size_t rows, batch_texts& texts) const;
  result run(batch_texts& texts);
  void release();

 private:
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool narrow_ = false;
  batch_statement form_ = batch_statement::none;
  size_t parameters_ = 0;
};

} // namespace vela::odbc
