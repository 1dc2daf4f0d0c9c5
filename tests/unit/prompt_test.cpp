#include <gtest/gtest.h>

#include "Terminal/handler.h"
#include "Terminal/prompt.h"

using namespace vela::terminal;

TEST(HistoryForm, PasswordsAreHiddenWhereverTheyStand) {
  EXPECT_EQ(history_form(L"select 1"), L"select 1");
  EXPECT_EQ(history_form(L"CONNECT \"Driver=SQLite3;Database=/tmp/a b.db;PWD=s3cret\""),
            L"CONNECT \"Driver=SQLite3;Database=/tmp/a b.db;PWD=*hidden*\"");
  EXPECT_EQ(history_form(L"connect \"pwd=s3cret;Driver=x\""), L"connect \"pwd=*hidden*;Driver=x\"");
  EXPECT_EQ(history_form(L"connect Driver=x;Password={a;b}};c};UID=u"), L"connect Driver=x;Password=*hidden*;UID=u");
  EXPECT_EQ(history_form(L"CONNECT DRIVER \"PostgreSQL Unicode\" Server=h;PaSsWoRd = s3cret"),
            L"CONNECT DRIVER \"PostgreSQL Unicode\" Server=h;PaSsWoRd =*hidden*");
  EXPECT_EQ(history_form(L"connect  datasource  \"my dsn\" bob s3cret"), L"connect  datasource  \"my dsn\" bob *hidden*");
  EXPECT_EQ(history_form(L"connect datasource \"my dsn\" bob \"two words\""), L"connect datasource \"my dsn\" bob *hidden*");
  // The quotes of a connection string stay where they were, whatever its braces hold.
  EXPECT_EQ(history_form(L"connect \"Driver={x};PWD={s3;cret}\" "), L"connect \"Driver={x};PWD=*hidden*\" ");
  EXPECT_EQ(history_form(L"CONNECT \"PWD={s3\"cret}\""), L"CONNECT \"PWD=*hidden*\"");
  // Without a password word nothing is hidden.
  EXPECT_EQ(history_form(L"CONNECT DATASOURCE dsn bob"), L"CONNECT DATASOURCE dsn bob");
  EXPECT_EQ(history_form(L"select pwd from users"), L"select pwd from users");
}

class Completion : public ::testing::Test {
 protected:
  std::vector<std::wstring> complete(const std::wstring& before, size_t expected_start) {
    size_t start = 999;
    std::vector<std::wstring> out = words.candidates(before, start);
    EXPECT_EQ(start, expected_start) << before.size();
    return out;
  }
  terminal_options options;
  TTermOdbcHndlr handler{&options};
  completion words{handler};
};

using list = std::vector<std::wstring>;

TEST_F(Completion, CommandWordsFollowTheTypedCase) {
  EXPECT_EQ(complete(L"", 0), (list{L"CONNECT", L"DISCONNECT", L"LIST", L"HELP", L"EXIT"}));
  EXPECT_EQ(complete(L"co", 0), list{L"connect"});
  EXPECT_EQ(complete(L"  Di", 2), list{L"DISCONNECT"});
  EXPECT_EQ(complete(L"CONNECT ", 8), (list{L"DRIVER", L"DATASOURCE"}));
  EXPECT_EQ(complete(L"connect da", 8), list{L"datasource"});
  EXPECT_EQ(complete(L"LIST D", 5), (list{L"DRIVERS", L"DATASOURCES"}));
  EXPECT_EQ(complete(L"help ex", 5), list{L"exit"});
  EXPECT_TRUE(complete(L"xyz", 0).empty());
  EXPECT_TRUE(complete(L"EXIT ", 5).empty());
}

TEST_F(Completion, DriverNamesWithBlanksComeQuoted) {
  const list drivers = complete(L"CONNECT DRIVER ", 15);
  ASSERT_FALSE(drivers.empty());
  for (const auto& d : drivers) {
    if (d.find(L' ') != std::wstring::npos) {
      EXPECT_TRUE(d.front() == L'"' && d.back() == L'"') << d;
    }
  }
  EXPECT_EQ(complete(L"connect driver sqlite3", 15), list{L"SQLite3"});
  EXPECT_EQ(complete(L"connect driver \"SQLite3", 15), list{L"\"SQLite3\""});
}

TEST_F(Completion, NoTablesWithoutAConnection) {
  EXPECT_TRUE(complete(L"select * from ", 14).empty());
}
