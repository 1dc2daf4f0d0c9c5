// The floor for printing a result: bind every column as wide text and fetch every row,
// printing nothing.
#include <cstdio>
#include <vector>

#include "bare_odbc.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: odbc_fetch_bare CONNECTION_STRING SELECT\n");
    return 2;
  }
  bare_odbc db;
  if (!db.run(argv[1], argv[2])) return 1;
  SQLSMALLINT cols = 0;
  SQLNumResultCols(db.st, &cols);
  std::vector<std::vector<SQLWCHAR>> buffers(static_cast<size_t>(cols));
  std::vector<SQLLEN> indicators(static_cast<size_t>(cols));
  for (SQLSMALLINT c = 0; c < cols; ++c) {
    SQLLEN size = 0;
    SQLColAttribute(db.st, static_cast<SQLUSMALLINT>(c + 1), SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &size);
    if (size <= 0 || size > 32767) size = 255;
    auto& buffer = buffers[static_cast<size_t>(c)];
    buffer.resize(static_cast<size_t>(size) + 1);
    SQLBindCol(db.st, static_cast<SQLUSMALLINT>(c + 1), SQL_C_WCHAR, buffer.data(),
               static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &indicators[static_cast<size_t>(c)]);
  }
  long rows = 0;
  while (SQL_SUCCEEDED(SQLFetch(db.st))) ++rows;
  std::fprintf(stderr, "%ld rows\n", rows);
  return 0;
}
