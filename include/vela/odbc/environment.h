// The process-wide ODBC environment and the one routine that turns diagnostics into results.
#pragma once

#include <cstdint>
#include <string>

#include "vela/odbc/types.h"
#include "vela/result.h"

namespace vela::odbc {

// Holds the shared environment handle: the first live object allocates it, the last frees it.
class environment : public base {
 public:
  environment();
  ~environment() override;
  environment(const environment&) = delete;
  environment& operator=(const environment&) = delete;

  static env_handle handle();
  static int32_t live_count();
};

// Registered result codes of database failures.
uint32_t db_access_error();
uint32_t no_data_error();

// The diagnostics of a failed (or informational) call as a result. Pass the handles of the
// call. With its return code given, an error or an invalid handle is a failure whatever
// class the SQLSTATE has, and the text comes from the first record that is not a warning.
result odbc_diagnostics(env_handle env, dbc_handle dbc, stmt_handle stmt);
result odbc_diagnostics(env_handle env, dbc_handle dbc, stmt_handle stmt, return_code rc);

// The failure says the connection to the server is gone: SQLSTATE class 08, or the drivers'
// own words for it (MariaDB 2006 and 2013; PostgreSQL 57P01/57P02, its lost or closed connection).
bool connection_lost(const result& r);

// The driver manager's version ("03.52.0016.0000"), asked of a connection handle that is
// not connected; empty when it does not tell.
std::wstring driver_manager_version();

// Success, with or without information.
inline bool sql_ok(return_code rc) { return rc == 0 || rc == 1; }

// Every ODBC call's return code goes through one of these two. checked: the diagnostics of
// a failed call, success otherwise. ignored: a call whose failure changes nothing for the
// caller (freeing what is dropped anyway, a cancel that is only a courtesy), with the reason
// said at the call.
inline result checked(return_code rc, env_handle env, dbc_handle dbc, stmt_handle stmt) {
  return sql_ok(rc) ? result() : odbc_diagnostics(env, dbc, stmt, rc);
}
inline void ignored(return_code, const char* why) { (void)why; }

} // namespace vela::odbc
