#include "vela/bstr.h"

#include <gtest/gtest.h>

#include <string>

using namespace vela;

TEST(Str, GrowsToTheNextMultipleOf32) {
  Str a(std::string(31, 'x').c_str());
  EXPECT_GE(a.buffer_size(), 32u);
  EXPECT_LT(a.buffer_size(), 64u);
  Str b(std::string(32, 'x').c_str());
  EXPECT_GE(b.buffer_size(), 64u);
  EXPECT_LT(b.buffer_size(), 96u);
  b.append("y");
  EXPECT_EQ(b.length(), 33);
}

TEST(Str, EditOperations) {
  Str s("hello world");
  s.erase(5, 6);
  EXPECT_STREQ(s.c_str(), "hello");
  s.insert("big ", 0);
  EXPECT_STREQ(s.c_str(), "big hello");
  s.erase(3);
  EXPECT_STREQ(s.c_str(), "big");
  s.cut(1);
  EXPECT_STREQ(s.c_str(), "bi");
  s.cut(10);
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_EQ(s.length(), 0);
  Str t("abc", 2);
  EXPECT_STREQ(t.c_str(), "ab");
  Str r('-', 3);
  EXPECT_STREQ(r.c_str(), "---");
  try {
    r.erase(4);
    FAIL();
  } catch (const wexception& e) {
    EXPECT_EQ(e.what(), L"..\\Src\\gen\\BStr line 73");
  }
}

TEST(Str, TrimFlagsApplyAfterEveryChange) {
  Str s;
  s.set_flags(BStr::trim_left_flag | BStr::trim_right_flag);
  s.assign(" \t padded \t ");
  EXPECT_STREQ(s.c_str(), "padded");
  s.append("  ");
  EXPECT_STREQ(s.c_str(), "padded");
  Str u("\"quoted\"");
  EXPECT_STREQ(u.unquote().c_str(), "quoted");
  Str v("\"a\"b\"");
  EXPECT_STREQ(v.unquote().c_str(), "\"a\"b\"");
}

TEST(Str, FormatGrowsUntilItFits) {
  Str s;
  s.format("%s-%d", std::string(100, 'a').c_str(), 42);
  EXPECT_EQ(s.length(), 103);
  EXPECT_EQ(std::string(s.c_str()).substr(100), "-42");
}

TEST(Str, Comparisons) {
  Str s("Hello");
  EXPECT_EQ(s.compare("Hello").value(), 0);
  EXPECT_EQ(s.compare("hello", BStr::cmp_nocase).value(), 0);
  EXPECT_EQ(s.compare("Hel", BStr::cmp_prefix).value(), 0);
  EXPECT_EQ(s.compare("hEL", BStr::cmp_prefix | BStr::cmp_nocase).value(), 0);
  EXPECT_NE(s.compare("Help").value(), 0);
}
