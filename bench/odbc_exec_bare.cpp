// A bare ODBC script loop, the floor for a script of many statements: each statement of FILE
// (lines up to one that ends with ";"; "--" comments and "\" client lines outside statements
// are skipped) executed directly on one statement handle, its rows fetched, its count asked.
// Usage: odbc_exec_bare CONNECTION_STRING FILE
#include <cstdio>
#include <string>

#include "bare_odbc.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: odbc_exec_bare CONNECTION_STRING FILE\n");
    return 2;
  }
  bare_odbc db;
  if (!db.connect(argv[1])) return 1;
  const SQLHSTMT st = db.st;
  FILE* f = std::fopen(argv[2], "rb");
  if (!f) return 1;
  std::string statement;
  char line[65536];
  size_t failed = 0;
  while (std::fgets(line, sizeof line, f)) {
    std::string l(line);
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r' || l.back() == ' ')) l.pop_back();
    if (statement.empty() && (l.empty() || l.rfind("--", 0) == 0 || l[0] == '\\')) continue;
    statement += statement.empty() ? l : "\n" + l;
    if (l.empty() || l.back() != ';') continue;
    if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(statement.data()), SQL_NTS))) ++failed;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(st, &columns);
    if (columns > 0)
      while (SQL_SUCCEEDED(SQLFetch(st))) {
      }
    SQLLEN rows = 0;
    SQLRowCount(st, &rows);
    SQLFreeStmt(st, SQL_CLOSE);
    statement.clear();
  }
  std::fclose(f);
  if (failed) std::fprintf(stderr, "%zu statements failed\n", failed);
  return 0;
}
