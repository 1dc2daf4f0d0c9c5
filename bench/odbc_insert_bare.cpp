// A bare ODBC parameter-array loop: the lines of a tab-separated file (no escapes, no NULL)
// into a table, BATCH rows per SQLExecute and per transaction, every value bound as text.
// Usage: odbc_insert_bare CONNECTION_STRING TABLE COLUMNS FILE [BATCH]
// BARE_WIDE=1 binds UTF-16 text (SQL_C_WCHAR), as the engine does for PostgreSQL.
// BARE_CSV=1 reads the file as CSV: comma-separated, a field may be in double quotes ("" a quote).
// BARE_MULTI=1 sends each batch as one INSERT of BATCH rows of VALUES (the last, shorter batch
// as one statement of its own) instead of an array of parameters.
// BARE_ROWS=1 executes the prepared statement once a row, the rows of a batch in one transaction.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The next field of a line at p into out; the place after its delimiter.
char* next_field(char* p, bool csv, std::string& out) {
  out.clear();
  const char delimiter = csv ? ',' : '\t';
  if (csv && *p == '"') {
    for (++p; *p; ++p) {
      if (*p == '"') {
        if (p[1] != '"') {
          ++p;
          break;
        }
        ++p;
      }
      out += *p;
    }
  } else {
    while (*p && *p != delimiter && *p != '\n' && *p != '\r') out += *p++;
  }
  while (*p == '\r' || *p == '\n') ++p;
  return *p == delimiter ? p + 1 : p;
}

std::string insert_text(const char* table, size_t columns, size_t rows) {
  std::string one = "(";
  for (size_t i = 0; i < columns; ++i) one += i ? ", ?" : "?";
  one += ")";
  std::string text = std::string("INSERT INTO ") + table + " VALUES ";
  for (size_t r = 0; r < rows; ++r) text += (r ? ", " : "") + one;
  return text;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: odbc_insert_bare CONNECTION_STRING TABLE COLUMNS FILE [BATCH]\n");
    return 2;
  }
  const size_t columns = std::strtoul(argv[3], nullptr, 10);
  const size_t batch = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 1000;
  const bool wide = std::getenv("BARE_WIDE") != nullptr;
  const bool csv = std::getenv("BARE_CSV") != nullptr;
  const bool multi = std::getenv("BARE_MULTI") != nullptr;
  const bool by_row = std::getenv("BARE_ROWS") != nullptr;
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
  std::string insert = insert_text(argv[2], columns, multi ? batch : 1);
  if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(insert.data()), SQL_NTS))) return 1;
  std::vector<std::vector<char>> data(columns, std::vector<char>(width * batch));
  std::vector<std::vector<SQLLEN>> ind(columns, std::vector<SQLLEN>(batch));
  std::vector<SQLUSMALLINT> status(batch);
  if (!multi) SQLSetStmtAttr(st, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
  const SQLSMALLINT c_type = wide ? SQL_C_WCHAR : SQL_C_CHAR;
  const SQLSMALLINT sql_type = wide ? SQL_WVARCHAR : SQL_VARCHAR;
  auto execute = [&](size_t rows) {
    SQLHSTMT h = st;
    if (multi) {
      // One parameter a value; a shorter last batch has a statement of its own.
      if (rows < batch) {
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h);
        std::string last = insert_text(argv[2], columns, rows);
        if (!SQL_SUCCEEDED(SQLPrepare(h, reinterpret_cast<SQLCHAR*>(last.data()), SQL_NTS))) return false;
      }
      for (size_t r = 0; r < rows; ++r)
        for (size_t c = 0; c < columns; ++c)
          SQLBindParameter(h, static_cast<SQLUSMALLINT>(r * columns + c + 1), SQL_PARAM_INPUT, c_type, sql_type,
                           width / 2, 0, &data[c][r * width], static_cast<SQLLEN>(width), &ind[c][r]);
    } else if (by_row) {
      for (size_t r = 0; r < rows; ++r) {
        for (size_t c = 0; c < columns; ++c)
          SQLBindParameter(st, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, c_type, sql_type, width / 2, 0,
                           &data[c][r * width], static_cast<SQLLEN>(width), &ind[c][r]);
        if (!SQL_SUCCEEDED(SQLExecute(st))) return false;
        if (!std::getenv("BARE_NOCLOSE")) SQLFreeStmt(st, SQL_CLOSE);
      }
      SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
      return true;
    } else {
      SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
      for (size_t c = 0; c < columns; ++c)
        SQLBindParameter(st, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, c_type, sql_type, width / 2, 0,
                         data[c].data(), static_cast<SQLLEN>(width), ind[c].data());
    }
    const SQLRETURN rc = SQLExecute(h);
    SQLFreeStmt(h, SQL_CLOSE);
    if (h != st) SQLFreeHandle(SQL_HANDLE_STMT, h);
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
    return SQL_SUCCEEDED(rc);
  };
  FILE* f = std::fopen(argv[4], "rb");
  if (!f) return 1;
  char line[4096];
  size_t rows = 0;
  std::string field;
  while (std::fgets(line, sizeof line, f)) {
    char* p = line;
    for (size_t c = 0; c < columns; ++c) {
      p = next_field(p, csv, field);
      const size_t n = std::min(field.size(), width / 2 - 1);
      char* slot = &data[c][rows * width];
      if (wide) {
        // The values are ASCII: one UTF-16 unit a byte.
        auto* u = reinterpret_cast<char16_t*>(slot);
        for (size_t i = 0; i < n; ++i) u[i] = static_cast<unsigned char>(field[i]);
        u[n] = 0;
        ind[c][rows] = static_cast<SQLLEN>(n * 2);
      } else {
        std::memcpy(slot, field.data(), n);
        slot[n] = 0;
        ind[c][rows] = static_cast<SQLLEN>(n);
      }
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
