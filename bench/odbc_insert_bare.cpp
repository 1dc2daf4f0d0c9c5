// A bare ODBC parameter-array loop: the lines of a tab-separated file (no escapes, no NULL)
// into a table, BATCH rows per SQLExecute and per transaction, every value bound as text.
// Usage: odbc_insert_bare CONNECTION_STRING TABLE COLUMNS FILE [BATCH]
// BARE_WIDE=1 binds UTF-16 text (SQL_C_WCHAR), as the engine does for PostgreSQL.
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: odbc_insert_bare CONNECTION_STRING TABLE COLUMNS FILE [BATCH]\n");
    return 2;
  }
  const size_t columns = std::strtoul(argv[3], nullptr, 10);
  const size_t batch = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 1000;
  const bool wide = std::getenv("BARE_WIDE") != nullptr;
  const size_t width = 128;  // bytes of a value slot
  SQLHENV env;
  SQLHDBC dbc;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(argv[1]), SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT)))
    return 1;
  SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  std::string insert = std::string("INSERT INTO ") + argv[2] + " VALUES (";
  for (size_t i = 0; i < columns; ++i) insert += i ? ", ?" : "?";
  insert += ")";
  if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(insert.data()), SQL_NTS))) return 1;
  std::vector<std::vector<char>> data(columns, std::vector<char>(width * batch));
  std::vector<std::vector<SQLLEN>> ind(columns, std::vector<SQLLEN>(batch));
  std::vector<SQLUSMALLINT> status(batch);
  SQLSetStmtAttr(st, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
  const SQLSMALLINT c_type = wide ? SQL_C_WCHAR : SQL_C_CHAR;
  const SQLSMALLINT sql_type = wide ? SQL_WVARCHAR : SQL_VARCHAR;
  auto execute = [&](size_t rows) {
    SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
    for (size_t c = 0; c < columns; ++c)
      SQLBindParameter(st, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, c_type, sql_type, width / 2, 0,
                       data[c].data(), static_cast<SQLLEN>(width), ind[c].data());
    const SQLRETURN rc = SQLExecute(st);
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
    return SQL_SUCCEEDED(rc);
  };
  FILE* f = std::fopen(argv[4], "rb");
  if (!f) return 1;
  char line[4096];
  size_t rows = 0;
  while (std::fgets(line, sizeof line, f)) {
    char* p = line;
    for (size_t c = 0; c < columns; ++c) {
      char* e = p;
      while (*e && *e != '\t' && *e != '\n') ++e;
      const size_t n = static_cast<size_t>(e - p);
      char* slot = &data[c][rows * width];
      if (wide) {
        // The values are ASCII: one UTF-16 unit a byte.
        auto* u = reinterpret_cast<char16_t*>(slot);
        for (size_t i = 0; i < n; ++i) u[i] = static_cast<unsigned char>(p[i]);
        u[n] = 0;
        ind[c][rows] = static_cast<SQLLEN>(n * 2);
      } else {
        std::memcpy(slot, p, n);
        slot[n] = 0;
        ind[c][rows] = static_cast<SQLLEN>(n);
      }
      p = *e == '\t' ? e + 1 : e;
    }
    if (++rows == batch) {
      if (!execute(rows)) return 1;
      rows = 0;
    }
  }
  if (rows && !execute(rows)) return 1;
  std::fclose(f);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}
