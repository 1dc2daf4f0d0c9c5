// Connects and executes one statement with plain ODBC calls, for the bare benchmark loops.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>

struct bare_odbc {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;

  // Connects and makes the statement handle.
  bool connect(const char* connection_string) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection_string)),
                                        SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
      return false;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    return true;
  }

  // BARE_PREPARE=1 prepares and executes instead of executing directly.
  bool run(const char* connection_string, const char* statement) {
    if (!connect(connection_string)) return false;
    auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement));
    if (std::getenv("BARE_PREPARE")) {
      SQLPrepare(st, text, SQL_NTS);
      return SQL_SUCCEEDED(SQLExecute(st));
    }
    return SQL_SUCCEEDED(SQLExecDirect(st, text, SQL_NTS));
  }

  ~bare_odbc() {
    if (st) SQLFreeHandle(SQL_HANDLE_STMT, st);
    if (dbc) {
      SQLDisconnect(dbc);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    }
    if (env) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
};
