// Column types between databases: a column as one driver describes it, and the type that
// holds its values on another database (its data types as SQLGetTypeInfo lists them, with
// the driver profile's own choices first).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vela/odbc/types.h"
#include "vela/result.h"

namespace vela::odbc {

class connection;
class driver_profile;

// A column as SQLDescribeCol (or SQLColumns) tells it.
struct column_shape {
  std::wstring name;
  int16_t sql_type = 0;   // the SQL type (SQL_INTEGER …)
  uint64_t size = 0;      // characters, bytes or digits; 0 when unknown
  int16_t scale = 0;      // decimal digits
  bool nullable = true;
  bool is_unsigned = false;
  std::wstring type_name;  // the source's own name of the type
};

// One data type of a database: a row of SQLGetTypeInfo.
struct data_type {
  std::wstring name;
  int16_t sql_type = 0;
  uint64_t size = 0;           // the largest column size
  std::wstring create_params;  // "length", "precision,scale" …
  bool is_unsigned = false;
  bool auto_unique = false;
};

// The data types of a connected database, in the driver's order (for each SQL type the
// closest first).
struct type_catalog {
  std::vector<data_type> types;
  // The first type of sql_type that is no auto-increment type and has the signedness asked
  // for (any signedness when none has it); null when the database has none of that type.
  const data_type* find(int16_t sql_type, bool is_unsigned = false) const;
};

// Reads the database's data types.
result read_type_catalog(dbc_handle hdbc, type_catalog& out);

// The columns of the result of an executed statement.
result describe_result_columns(stmt_handle statement, std::vector<column_shape>& out);

// The type of a column that takes the values of source on the target database: the
// profile's choice for its family, otherwise the closest type the database lists (with its
// size or precision and scale where it takes them), text when it lists nothing close.
std::wstring target_type(const column_shape& source, const driver_profile& target, const type_catalog& types);

// CREATE TABLE [IF NOT EXISTS] table (column type, …): table as written, column names quoted
// for the target, a NOT NULL where the source column has one.
std::wstring create_table_statement(const std::wstring& table, const std::vector<column_shape>& columns,
                                    const driver_profile& target, const type_catalog& types, bool if_not_exists);

} // namespace vela::odbc
