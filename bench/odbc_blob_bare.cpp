// The floor for a download: a bare ODBC loop that reads one binary value in 1 MiB pieces
// into a file, with no library in between.
#include <cstdio>
#include <vector>

#include "bare_odbc.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: odbc_blob_bare CONNECTION_STRING SELECT OUTFILE\n");
    return 2;
  }
  bare_odbc db;
  if (!db.run(argv[1], argv[2])) return 1;
  std::vector<char> buf(1 << 20);
  while (SQL_SUCCEEDED(SQLFetch(db.st))) {
    FILE* f = std::fopen(argv[3], "wb");
    if (!f) return 1;
    SQLRETURN rc;
    do {
      SQLLEN len = 0;
      rc = SQLGetData(db.st, 1, SQL_C_BINARY, buf.data(), static_cast<SQLLEN>(buf.size()), &len);
      const SQLLEN n = rc == SQL_SUCCESS ? (len > 0 ? len : 0) : static_cast<SQLLEN>(buf.size());
      if (SQL_SUCCEEDED(rc)) std::fwrite(buf.data(), 1, static_cast<size_t>(n), f);
    } while (rc == SQL_SUCCESS_WITH_INFO);
    std::fclose(f);
  }
  return 0;
}
