// Every public header in one translation unit: together they build, and they bring no ODBC
// header with them (the list is generated from include/vela at configure time).
#include "all_public_headers.h"

#ifdef SQL_NTS
#error "a public header includes an ODBC header"
#endif
#if defined(__SQL_H) || defined(__SQLEXT_H) || defined(__SQLTYPES_H) || defined(ODBCVER)
#error "a public header includes an ODBC header"
#endif

#include <gtest/gtest.h>

#include <filesystem>

TEST(PublicHeaders, TheGeneratedListHasEveryHeader) {
  size_t headers = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(VELA_INCLUDE_DIR))
    if (e.is_regular_file() && e.path().extension() == ".h") ++headers;
  EXPECT_EQ(headers, static_cast<size_t>(VELA_PUBLIC_HEADER_COUNT));
}
