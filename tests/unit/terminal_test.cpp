#include <gtest/gtest.h>

#include "Terminal/handler.h"
#include "Terminal/input/sql_split.h"
#include "Terminal/input/terminals.h"
#include "vela/console.h"
#include "vela/platform.h"

using namespace vela::terminal;

TEST(FormatElapsed, EveryRange) {
  EXPECT_EQ(format_elapsed(0), L"0.000");
  EXPECT_EQ(format_elapsed(15), L"0.015");
  EXPECT_EQ(format_elapsed(59999), L"59.999");
  EXPECT_EQ(format_elapsed(60000), L"01:00.000");
  EXPECT_EQ(format_elapsed(61005), L"01:01.005");
  EXPECT_EQ(format_elapsed(3600000), L"01:00:00.000");
  EXPECT_EQ(format_elapsed(3723004), L"01:02:03.004");
  EXPECT_EQ(format_elapsed(86400000), L"1:00:00:00.000");
  EXPECT_EQ(format_elapsed(90061001), L"1:01:01:01.001");
  EXPECT_EQ(format_elapsed(4294967295u), L"49:17:02:47.295");
}

TEST(Parameters, TokensQuotesAndSpaces) {
  TOdbcHndlrCmd cmd(nullptr, L"CONNECT", L"");
  cmd.line = L"CONNECT  \"Driver=SQLite3;Database=/tmp/a b.db\" x";
  EXPECT_EQ(cmd.parameter(0), L"CONNECT");
  EXPECT_EQ(cmd.parameter(1), L"Driver=SQLite3;Database=/tmp/a b.db");
  EXPECT_EQ(cmd.parameter(2), L"x");
  EXPECT_EQ(cmd.parameter(3), L"");
  cmd.line = L"  list";
  EXPECT_EQ(cmd.parameter(0), L"");
  cmd.line = L"LIST TABLES table=\"a b\"\tc";
  EXPECT_EQ(cmd.parameter(2), L"table=\"a b\"\tc");
  cmd.line = L"";
  EXPECT_EQ(cmd.parameter(0), L"");
}

namespace {

// One call of take_statements on a fresh pending text.
std::vector<std::wstring> take_once(std::wstring& pending) {
  statement_scanner scanner;
  std::vector<std::wstring> batch;
  take_statements(pending, batch, scanner);
  return batch;
}

} // namespace

TEST(TakeStatements, PendingTextAndBatches) {
  std::wstring pending = L"select * from t; select 2;select 3";
  EXPECT_EQ(take_once(pending), (std::vector<std::wstring>{L"select * from t", L"select 2"}));
  EXPECT_EQ(pending, L"select 3");
  pending = L"select ';' ;; ;";
  EXPECT_EQ(take_once(pending), (std::vector<std::wstring>{L"select ';' "}));
  EXPECT_EQ(pending, L"");
  pending = L"select 1; ";
  take_once(pending);
  EXPECT_EQ(pending, L" ");
  pending = L"/* only a comment */; -- and another\n;select 1;";
  EXPECT_EQ(take_once(pending), (std::vector<std::wstring>{L"select 1"}));
}

// Lines appended one by one, as standard input arrives: the scanner goes on where it
// stopped, so words, comment openers and dollar tags cut at a line's end still count.
TEST(TakeStatements, LinesArrivingOneByOne) {
  const std::vector<std::wstring> lines = {
      L"create function f() returns int as $body$",
      L"begin return 1; end;",
      L"$body$ language plpgsql;",
      L"create trigger tr after insert on t begin",
      L"insert into u values(new.a); -- a comment; with semicolons",
      L"update u set b = case when 1 then 2 end; end; select '",
      L"x;y' as \"a;b\" /* one; /* two; */ still; */ ; select E'a\\';b''c'",
      L";select 1"};
  std::wstring pending;
  statement_scanner scanner;
  std::vector<std::wstring> batch;
  for (const auto& line : lines) {
    if (!pending.empty()) pending += scanner.in_line_comment() ? L'\n' : L' ';
    pending += line;
    take_statements(pending, batch, scanner);
  }
  EXPECT_EQ(batch, (std::vector<std::wstring>{
                       L"create function f() returns int as $body$ begin return 1; end; $body$ language plpgsql",
                       L"create trigger tr after insert on t begin insert into u values(new.a); -- a comment; with "
                       L"semicolons\nupdate u set b = case when 1 then 2 end; end",
                       L" select ' x;y' as \"a;b\" /* one; /* two; */ still; */ ",
                       L" select E'a\\';b''c' "}));
  EXPECT_EQ(pending, L"select 1");
}

TEST(ExitStatus, EightBitsAndNeverZeroForAFailure) {
  if (vela::windows_platform) GTEST_SKIP() << "Windows exit codes hold 32 bits: os_windows_test";
  EXPECT_EQ(vela::exit_status(0), 0);
  EXPECT_EQ(vela::exit_status(87), 87);
  EXPECT_EQ(vela::exit_status(1359), 79);
  EXPECT_EQ(vela::exit_status(0x2000010A), 10);
  EXPECT_EQ(vela::exit_status(256), 255);
}
