// The floor for printing a result: bind every column as wide text and fetch every row,
// printing nothing.
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: odbc_fetch_bare CONNECTION_STRING SELECT\n");
    return 2;
  }
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(argv[1]), SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT)))
    return 1;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  // BARE_PREPARE=1 prepares and executes instead of executing directly.
  if (std::getenv("BARE_PREPARE")) {
    SQLPrepare(st, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS);
    if (!SQL_SUCCEEDED(SQLExecute(st))) return 1;
  } else if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS))) {
    return 1;
  }
  SQLSMALLINT cols = 0;
  SQLNumResultCols(st, &cols);
  std::vector<std::vector<SQLWCHAR>> buffers(static_cast<size_t>(cols));
  std::vector<SQLLEN> indicators(static_cast<size_t>(cols));
  for (SQLSMALLINT c = 0; c < cols; ++c) {
    SQLLEN size = 0;
    SQLColAttribute(st, static_cast<SQLUSMALLINT>(c + 1), SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &size);
    if (size <= 0 || size > 32767) size = 255;
    buffers[static_cast<size_t>(c)].resize(static_cast<size_t>(size) + 1);
    SQLBindCol(st, static_cast<SQLUSMALLINT>(c + 1), SQL_C_WCHAR, buffers[static_cast<size_t>(c)].data(),
               static_cast<SQLLEN>(buffers[static_cast<size_t>(c)].size() * sizeof(SQLWCHAR)),
               &indicators[static_cast<size_t>(c)]);
  }
  long rows = 0;
  while (SQL_SUCCEEDED(SQLFetch(st))) ++rows;
  std::fprintf(stderr, "%ld rows\n", rows);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}
