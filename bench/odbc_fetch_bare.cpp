// The floor for printing a result: bind every column as text and fetch every row, printing
// nothing. Long text and binary columns are read with SQLGetData in every row, in pieces of
// 16 KiB. Text is wide (SQL_C_WCHAR), or UTF-8 bytes (SQL_C_CHAR, 4 bytes a character) with -utf8.
// -thread starts an idle thread first: the C library's locks then cost what they cost in a
// program with threads of its own (sqlterm). -rowset:N fetches N rows at a time, the columns
// bound as arrays (column-wise); long columns are then left unread.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "bare_odbc.h"

int main(int argc, char** argv) {
  bool utf8 = false;
  SQLULEN rowset = 1;
  for (; argc > 1 && argv[1][0] == '-'; --argc, ++argv) {
    if (std::strcmp(argv[1], "-utf8") == 0) utf8 = true;
    if (std::strncmp(argv[1], "-rowset:", 8) == 0) rowset = std::strtoul(argv[1] + 8, nullptr, 10);
    if (std::strcmp(argv[1], "-thread") == 0) std::thread([] { std::this_thread::sleep_for(std::chrono::hours(24)); }).detach();
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: odbc_fetch_bare [-utf8] [-thread] [-rowset:N] CONNECTION_STRING SELECT\n");
    return 2;
  }
  bare_odbc db;
  if (!db.run(argv[1], argv[2])) return 1;
  const SQLSMALLINT c_type = utf8 ? SQL_C_CHAR : SQL_C_WCHAR;
  const size_t unit = utf8 ? 1 : sizeof(SQLWCHAR);
  const size_t per_char = utf8 ? 4 : 1;
  if (rowset < 1) rowset = 1;
  SQLULEN fetched = 0;
  std::vector<SQLUSMALLINT> status(rowset);
  if (rowset > 1) {
    SQLSetStmtAttr(db.st, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    SQLSetStmtAttr(db.st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rowset), 0);
    SQLSetStmtAttr(db.st, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
    SQLSetStmtAttr(db.st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
  }
  SQLSMALLINT cols = 0;
  SQLNumResultCols(db.st, &cols);
  std::vector<std::vector<char>> buffers(static_cast<size_t>(cols));
  std::vector<std::vector<SQLLEN>> indicators(static_cast<size_t>(cols), std::vector<SQLLEN>(rowset));
  std::vector<SQLUSMALLINT> long_columns;
  for (SQLSMALLINT c = 0; c < cols; ++c) {
    SQLLEN type = 0;
    SQLColAttribute(db.st, static_cast<SQLUSMALLINT>(c + 1), SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type);
    if (type == SQL_LONGVARCHAR || type == SQL_WLONGVARCHAR || type == SQL_BINARY || type == SQL_VARBINARY ||
        type == SQL_LONGVARBINARY) {
      long_columns.push_back(static_cast<SQLUSMALLINT>(c + 1));
      continue;
    }
    SQLLEN size = 0;
    SQLColAttribute(db.st, static_cast<SQLUSMALLINT>(c + 1), SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &size);
    if (size <= 0 || size > 32767) size = 255;
    auto& buffer = buffers[static_cast<size_t>(c)];
    const size_t each = (static_cast<size_t>(size) * per_char + 1) * unit;
    buffer.resize(each * rowset);
    SQLBindCol(db.st, static_cast<SQLUSMALLINT>(c + 1), c_type, buffer.data(), static_cast<SQLLEN>(each),
               indicators[static_cast<size_t>(c)].data());
  }
  long rows = 0;
  std::vector<char> piece(16384);
  while (SQL_SUCCEEDED(SQLFetch(db.st))) {
    if (rowset > 1) {
      rows += static_cast<long>(fetched);
      continue;
    }
    for (SQLUSMALLINT c : long_columns) {
      SQLLEN length = 0;
      while (SQLGetData(db.st, c, c_type, piece.data(), static_cast<SQLLEN>(piece.size()), &length) ==
             SQL_SUCCESS_WITH_INFO) {
      }
    }
    ++rows;
  }
  std::fprintf(stderr, "%ld rows\n", rows);
  return 0;
}
