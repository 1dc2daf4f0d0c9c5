// The floor for a download: a bare ODBC loop that reads one binary value in 1 MiB pieces
// into a file, with no library in between.
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: odbc_blob_bare CONNECTION_STRING SELECT OUTFILE\n");
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
  if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS))) return 1;
  std::vector<char> buf(1 << 20);
  while (SQL_SUCCEEDED(SQLFetch(st))) {
    FILE* f = std::fopen(argv[3], "wb");
    SQLRETURN rc;
    do {
      SQLLEN len = 0;
      rc = SQLGetData(st, 1, SQL_C_BINARY, buf.data(), static_cast<SQLLEN>(buf.size()), &len);
      const SQLLEN n = rc == SQL_SUCCESS ? (len > 0 ? len : 0) : static_cast<SQLLEN>(buf.size());
      if (SQL_SUCCEEDED(rc)) std::fwrite(buf.data(), 1, static_cast<size_t>(n), f);
    } while (rc == SQL_SUCCESS_WITH_INFO);
    std::fclose(f);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}
