// The process-wide ODBC environment and the one routine that turns diagnostics into results.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>

#include "vela/result.h"

namespace vela::odbc {

// Holds the shared environment handle: the first live object allocates it, the last frees it.
class environment : public base {
 public:
  environment();
  ~environment() override;
  environment(const environment&) = delete;
  environment& operator=(const environment&) = delete;

  static SQLHENV handle();
  static int32_t live_count();
};

// Registered result codes of database failures.
uint32_t db_access_error();
uint32_t no_data_error();

// The diagnostics of a failed (or informational) call as a result. Pass the handles of the
// call. With its return code given, SQL_ERROR and SQL_INVALID_HANDLE are failures whatever
// class the SQLSTATE has, and the text comes from the first record that is not a warning.
result odbc_diagnostics(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt);
result odbc_diagnostics(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLRETURN rc);

// The driver manager's version ("03.52.0016.0000"), asked of a connection handle that is
// not connected; empty when it does not tell.
std::wstring driver_manager_version();

inline bool sql_ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

} // namespace vela::odbc
