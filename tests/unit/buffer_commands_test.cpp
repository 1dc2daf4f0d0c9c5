// \gset: the columns of a one-row result become variables (NULL unsets one); any other result
// is a failure that leaves the variables as they were.
#include <gtest/gtest.h>

#include <map>

#include "Terminal/handler.h"
#include "vela/console.h"
#include "vela/utf.h"

using namespace vela;
using namespace vela::terminal;

TEST(GsetCommand, OneRowBecomesVariables) {
  init_program_locale();  // the driver's narrow text is UTF-8, as in the program
  terminal_options options;
  TTermOdbcHndlr handler{&options};
  ASSERT_TRUE(handler.connect_by_string(L"Driver=SQLite3;Database=:memory:;").succeeded());
  using values = std::map<std::wstring, std::wstring>;
  const struct {
    std::wstring statement, command;
    bool succeeds;
    values after;  // every variable set afterwards
  } rows[] = {
      {L"select 1 as a, 'x y' as c, null as b", L"\\gset", true, {{L"a", L"1"}, {L"c", L"x y"}}},
      {L"select 2 as a, 'set' as b", L"\\gset", true, {{L"a", L"2"}, {L"b", L"set"}, {L"c", L"x y"}}},
      {L"select null as b, 'Привет' as name", L"\\gset p_", true,
       {{L"a", L"2"}, {L"b", L"set"}, {L"c", L"x y"}, {L"p_name", L"Привет"}}},
      {L"select null as b", L"\\gset", true, {{L"a", L"2"}, {L"c", L"x y"}, {L"p_name", L"Привет"}}},
      {L"select 3 as a union all select 4", L"\\gset", false, {{L"a", L"2"}, {L"c", L"x y"}, {L"p_name", L"Привет"}}},
      {L"select 5 as a where 0", L"\\gset", false, {{L"a", L"2"}, {L"c", L"x y"}, {L"p_name", L"Привет"}}},
      {L"create table if not exists t(n integer)", L"\\gset", false, {{L"a", L"2"}, {L"c", L"x y"}, {L"p_name", L"Привет"}}},
      {L"select * from no_such_table", L"\\gset", false, {{L"a", L"2"}, {L"c", L"x y"}, {L"p_name", L"Привет"}}},
  };
  for (const auto& r : rows) {
    (void)handler.handle_line(r.statement);  // the last statement, which \gset runs again
    EXPECT_EQ(handler.handle_line(r.command).succeeded(), r.succeeds) << wide_to_utf8(r.statement);
    EXPECT_EQ(handler.variables().all(), r.after) << wide_to_utf8(r.statement);
  }
}
