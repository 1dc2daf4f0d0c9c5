// Values read back through the library, for the tests that check what a load stored.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"

namespace vela::odbc {

// The first column of the first row sql returns, as text ("?" when there is no row).
inline std::wstring scalar(connection& c, const std::wstring& sql) {
  query q(&c, sql);
  EXPECT_TRUE(q.execute(false).succeeded());
  EXPECT_TRUE(q.rows().bind(1, nullptr, bind_type::wide_text, 0).succeeded());
  if (!q.rows().fetch().succeeded()) return L"?";
  return q.rows().at(0).text();
}

} // namespace vela::odbc
