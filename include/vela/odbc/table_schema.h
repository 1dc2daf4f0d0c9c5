// A table as its database's catalog tells it (columns, primary key, indexes, foreign keys),
// and the statements that make it again on another database.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "vela/odbc/type_mapping.h"
#include "vela/result.h"

namespace vela::odbc {

class connection;
class driver_profile;

// An index other than the primary key's, its columns in key order.
struct table_index {
  std::wstring name;
  std::vector<std::wstring> columns;
  bool unique = false;
};

// A foreign key: its columns and the columns of the table they reference, pair by pair.
struct table_reference {
  std::wstring name;
  std::vector<std::wstring> columns;
  std::wstring table;  // the referenced table's name (no catalog or schema)
  std::vector<std::wstring> target_columns;
};

struct table_schema {
  std::wstring catalog, schema, name;  // where the source holds it
  std::vector<column_shape> columns;
  std::vector<std::wstring> primary_key;
  std::vector<table_index> indexes;
  std::vector<table_reference> references;
  // The catalog left out (an index on an expression, say): what was left, for the report.
  std::vector<std::wstring> left_out;
};

// The table's name on its own database: [catalog. | schema.]name in that database's quotes.
std::wstring source_table_name(const connection& c, const table_schema& t);

// The one column of the primary key when it holds integers ("" otherwise): the table's rows can
// be shared out by the remainders of its values.
std::wstring integer_key(const table_schema& t);

// Reads the columns (as SELECT * describes them) and the keys of the table named by
// t.catalog, t.schema and t.name.
result read_table_schema(connection& c, table_schema& t);

// The names given to indexes and foreign keys on a target: the source's where the target takes
// it and no other object of the copy has it, else one made of the table and the columns.
class key_names {
 public:
  std::wstring take(const driver_profile& target, const std::wstring& source, const std::wstring& table,
                    const std::vector<std::wstring>& columns, const wchar_t* suffix);

 private:
  std::set<std::wstring> used_;  // folded to lower case
};

// Statements that make a table on target. table: its name there, quoted. The CREATE TABLE
// holds the primary key and the foreign keys where the target cannot add them later
// (driver_profile::keys_in_create_table).
std::wstring create_copy_statement(const table_schema& t, const std::wstring& table, const driver_profile& target,
                                   const type_catalog& types, key_names& names);
// After the rows: the primary key (where ALTER TABLE adds it) and each index.
std::vector<std::wstring> key_statements(const table_schema& t, const std::wstring& table, const driver_profile& target,
                                         key_names& names);
// After every table's rows: the foreign keys (where ALTER TABLE adds them), whose referenced
// tables have the same names on the target.
std::vector<std::wstring> reference_statements(const table_schema& t, const std::wstring& table,
                                               const driver_profile& target, key_names& names);

} // namespace vela::odbc
