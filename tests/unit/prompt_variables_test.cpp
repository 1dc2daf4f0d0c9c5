// Variables put into statements, the prompt's escapes and "-v", without a database.
#include <gtest/gtest.h>

#include "Terminal/input/interpolation.h"
#include "Terminal/input/prompt_text.h"
#include "Terminal/session/options.h"

using namespace vela::terminal;
using vela::odbc::driver_profile;
using vela::odbc::script_dialect;

namespace {

std::wstring put_in(const std::wstring& text, const driver_profile& profile, script_dialect dialect) {
  variable_table v;
  v.set(L"id", L"3");
  v.set(L"name", L"x' or '1'='1");
  v.set(L"path", L"C:\\dir\\");
  v.set(L"tab", L"my \"t\"`");
  v.set(L"e", L"");
  std::wstring out = text;
  const bool replaced = interpolate(out, v, profile, dialect);
  EXPECT_EQ(replaced, out != text) << out;
  return out;
}

} // namespace

TEST(Interpolation, OnlyVariablesSetAndOnlyOutsideQuotesCommentsAndBodies) {
  const driver_profile pg(L"psqlodbcw.so", L"PostgreSQL", L"", nullptr);
  const driver_profile sqlite(L"libsqlite3odbc.so", L"SQLite", L"", nullptr);
  const driver_profile maria(L"libmaodbc.so", L"MariaDB", L"", nullptr);
  const auto generic = script_dialect::generic;
  const auto mysql = script_dialect::mysql;
  struct put_case {
    const wchar_t* text;
    const driver_profile& profile;
    script_dialect dialect;
    const wchar_t* sent;
  };
  const put_case cases[] = {
      {L"select * from t where id = :id;", pg, generic, L"select * from t where id = 3;"},
      {L"select :id+:id,:e|", pg, generic, L"select 3+3,|"},
      // Literals: quotes doubled; MySQL's backslashes too, so that none escapes the quote.
      {L"select * from t where name = :'name'", pg, generic, L"select * from t where name = 'x'' or ''1''=''1'"},
      {L"select :'path'", pg, generic, L"select 'C:\\dir\\'"},
      {L"select :'path'", maria, mysql, L"select 'C:\\\\dir\\\\'"},
      {L"select :'name'", maria, mysql, L"select 'x'' or ''1''=''1'"},
      // Names in the database's own quotes.
      {L"select * from :\"tab\"", pg, generic, L"select * from \"my \"\"t\"\"`\""},
      {L"select * from :\"tab\"", sqlite, generic, L"select * from \"my \"\"t\"\"`\""},
      {L"select * from :\"tab\"", maria, mysql, L"select * from `my \"t\"```"},
      // Left as they are.
      {L"select ':id', \":id\", $$ :id $$, $f$:id$f$ -- :id\n", pg, generic, nullptr},
      {L"select /* :id /* :id */ :id */ 1", pg, generic, nullptr},
      {L"select E'\\' :id'", pg, generic, nullptr},
      {L"select 'a\\' :id'", maria, mysql, nullptr},
      {L"select `:id` # :id\n", maria, mysql, nullptr},
      {L"select x::int, x:::id", pg, generic, L"select x::int, x::3"},
      {L"set @a:=1; select @a := :id", maria, mysql, L"set @a:=1; select @a := 3"},
      {L"select :p, :ids, :'p', :\"p\", :'id, :\"id, :{?id}, :", sqlite, generic, nullptr},
      // Each statement of a text, with the scanner's rules for each.
      {L"select ':id'; select :id; select $$:id$$", pg, generic, L"select ':id'; select 3; select $$:id$$"},
      {L"select ':x'; select ':id", pg, generic, nullptr},
      // A replaced value is not scanned again.
      {L"select :'name', :id", pg, generic, L"select 'x'' or ''1''=''1', 3"},
  };
  for (const put_case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text);
    EXPECT_EQ(put_in(c.text, c.profile, c.dialect), c.sent ? c.sent : c.text);
  }
}

TEST(PromptText, EscapesAsPsqlHasThem) {
  const auto value = [](wchar_t e) -> std::wstring {
    switch (e) {
      case L'n': return L"ann";
      case L'/': return L"shop";
      case L'~': return L"shop";
      case L'M': return L"db1.example.org";
      case L'x': return L"*";
      default: return L">";
    }
  };
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"%n@%/%x%R ", L"ann@shop*> "},
      {L"%m:%M %~", L"db1:db1.example.org shop"},
      {L"100%% %q %", L"100% q %"},
      {L"", L""},
  };
  for (const auto& [format, shown] : cases) EXPECT_EQ(expand_prompt(format, value), shown) << format;
  EXPECT_EQ(expand_prompt(L"%m", [](wchar_t) { return std::wstring(L"[local]"); }), L"[local]");
}

TEST(PromptText, TheDefaultPromptAndTheBranchThatDoesNotRun) {
  terminal_options options;
  terminal_context ctx(options);
  EXPECT_EQ(prompt_text(ctx, false), L">");
  EXPECT_EQ(prompt_text(ctx, true), L"...>");
  conditional_stack::block waiting;
  waiting.state = conditional_stack::branch::waiting;
  ctx.conditions.open(waiting);
  EXPECT_EQ(prompt_text(ctx, false), L"(skip)>");
  ctx.variables.set(L"PROMPT1", L"%/%R%x ");
  EXPECT_EQ(prompt_text(ctx, false), L"@ ");
  ctx.conditions.close();
  EXPECT_EQ(prompt_text(ctx, false), L"! ");
  EXPECT_EQ(prompt_text(ctx, true), L"- ");
  ctx.variables.set(L"PROMPT2", L"more%R");
  EXPECT_EQ(prompt_text(ctx, true), L"more-");
}

TEST(VariableOption, RepeatedInOrderAndCheckedForAName) {
  terminal_options o;
  o.parse_options({L"sqlterm", L"-v:id=3", L"-variable:name=a=b", L"-v:e=", L"-v:id=4"});
  const std::vector<std::pair<std::wstring, std::wstring>> expected = {
      {L"id", L"3"}, {L"name", L"a=b"}, {L"e", L""}, {L"id", L"4"}};
  EXPECT_EQ(o.variables, expected);
  for (const wchar_t* bad : {L"-v:=3", L"-v:id", L"-v", L"-v:a b=1"}) {
    SCOPED_TRACE(testing::Message() << bad);
    EXPECT_THROW(o.parse_options({L"sqlterm", bad}), invalid_option);
  }
}
