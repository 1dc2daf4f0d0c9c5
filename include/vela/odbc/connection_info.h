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
};

class connection_info : public base {
 public:
  explicit connection_info(connection* conn) : connection_(conn) {}
  result ListTbls(std::vector<table_info>& out, const std::wstring& catalog, const std::wstring& schema,
                  const std::wstring& table, const std::wstring& types);
  result ListCols(std::vector<column_info>& out, const std::wstring& catalog, const std::wstring& schema,
                  const std::wstring& table, const std::wstring& column);

 private:
  connection* connection_;
};

bool list_installed_drivers(std::vector<std::wstring>& names);
bool list_system_datasources(std::vector<std::wstring>& names);
bool list_user_datasources(std::vector<std::wstring>& names);

} // namespace vela::odbc
