// The floor of a start-up: connects, runs one statement, prints the first column of each row.
// Usage: odbc_select1_bare CONNECTION_STRING [STATEMENT]   (the statement defaults to "select 1")
#include <cstdio>

#include "bare_odbc.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: odbc_select1_bare CONNECTION_STRING [STATEMENT]\n");
    return 2;
  }
  bare_odbc odbc;
  if (!odbc.run(argv[1], argc > 2 ? argv[2] : "select 1")) return 1;
  char value[256];
  SQLLEN length = 0;
  while (SQL_SUCCEEDED(SQLFetch(odbc.st))) {
    if (!SQL_SUCCEEDED(SQLGetData(odbc.st, 1, SQL_C_CHAR, value, sizeof value, &length))) return 1;
    std::puts(length == SQL_NULL_DATA ? "" : value);
  }
  return 0;
}
