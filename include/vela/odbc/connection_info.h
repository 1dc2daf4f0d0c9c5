// Catalog questions over an open connection, and what the ODBC installation offers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vela/odbc/connection.h"
#include "vela/result.h"

namespace vela::odbc {

struct table_info {
  virtual ~table_info() = default;
  std::wstring catalog, schema, name, type;
};

struct column_info {
  virtual ~column_info() = default;
  std::wstring catalog, schema, table, column;
  std::wstring type;  // TYPE_NAME
  int32_t size = 0;
  std::wstring nullable;  // "YES", "NO", or empty when the driver does not know
  int16_t data_type = 0;  // DATA_TYPE, an SQL type
  int16_t digits = 0;     // DECIMAL_DIGITS
  bool has_digits = false;
  std::wstring default_value;  // COLUMN_DEF, as the database spells it
  bool has_default = false;
  std::wstring remarks;
};

// One column of a primary key or an index, in the order of its key.
struct index_column {
  std::wstring name;  // the key's or index's name
  std::wstring column;
  int32_t position = 0;  // in the key, from 1
  bool unique = false;
};

// One column of a foreign key and the column it references.
struct foreign_key_column {
  std::wstring name;  // FK_NAME
  std::wstring column;
  std::wstring target_catalog, target_schema, target_table, target_column;
  int32_t position = 0;
};

struct check_constraint {
  std::wstring name, clause;
};

class connection_info : public base {
 public:
  explicit connection_info(connection* conn) : connection_(conn) {}
  result ListTbls(std::vector<table_info>& out, const std::wstring& catalog, const std::wstring& schema,
                  const std::wstring& table, const std::wstring& types);
  result ListCols(std::vector<column_info>& out, const std::wstring& catalog, const std::wstring& schema,
                  const std::wstring& table, const std::wstring& column);
  // Of one table (no patterns): its primary key, indexes (SQLStatistics, no table
  // statistics), foreign keys, and check constraints where the driver profile knows how to ask.
  result ListPrimaryKey(std::vector<index_column>& out, const std::wstring& catalog, const std::wstring& schema,
                        const std::wstring& table);
  result ListIndexes(std::vector<index_column>& out, const std::wstring& catalog, const std::wstring& schema,
                     const std::wstring& table);
  result ListForeignKeys(std::vector<foreign_key_column>& out, const std::wstring& catalog,
                         const std::wstring& schema, const std::wstring& table);
  result ListChecks(std::vector<check_constraint>& out, const std::wstring& catalog, const std::wstring& schema,
                    const std::wstring& table);
  // The schemas (catalogs where the database's schema is its catalog), and the routines
  // (type "PROCEDURE", "FUNCTION" or empty).
  result ListSchemas(std::vector<std::wstring>& out, bool catalogs);
  result ListRoutines(std::vector<table_info>& out);

 private:
  connection* connection_;
};

bool list_installed_drivers(std::vector<std::wstring>& names);
bool list_system_datasources(std::vector<std::wstring>& names);
bool list_user_datasources(std::vector<std::wstring>& names);
// A setting of a data source as the ODBC configuration holds it (the user's, then the
// system's); "" when it is not set or the installer library is missing.
std::wstring datasource_setting(const std::wstring& datasource, const std::wstring& key);

} // namespace vela::odbc
