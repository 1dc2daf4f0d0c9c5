#include "vela/bstr.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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

TEST(Str, EraseClampsOnEmptyStringsAndLongCounts) {
  Str never_grown;
  never_grown.erase(0);  // no buffer yet
  never_grown.erase(0, 5);
  EXPECT_STREQ(never_grown.c_str(), "");
  EXPECT_THROW(never_grown.erase(1), wexception);

  Str cleared("abc");
  cleared.clear();
  cleared.erase(0, 3);
  EXPECT_EQ(cleared.length(), 0);

  Str s("abcdef");
  s.erase(2, 1000);  // past the end: to the end
  EXPECT_STREQ(s.c_str(), "ab");
  s.assign("abcdef");
  s.erase(1, INT32_MAX);  // position + count would overflow
  EXPECT_STREQ(s.c_str(), "a");
  s.assign("abcdef");
  s.erase(6, 2);  // at the very end: nothing
  EXPECT_STREQ(s.c_str(), "abcdef");
  s.erase(1, 2);
  EXPECT_STREQ(s.c_str(), "adef");
}

TEST(Str, FormatMayQuoteItself) {
  Str s("abc");
  s.format("%s|%s", s.c_str(), s.c_str());
  EXPECT_STREQ(s.c_str(), "abc|abc");
  // Growing past the buffer moves it while the argument still points into the old one.
  Str big(std::string(30, 'x').c_str());
  const char* const inside = big.c_str();
  big.format("[%s][%s][%s]", inside, std::strchr(inside, 'x') + 10, inside);
  EXPECT_EQ(std::string(big.c_str()), "[" + std::string(30, 'x') + "][" + std::string(20, 'x') + "][" +
                                          std::string(30, 'x') + "]");
  big.format("%s", "");
  EXPECT_STREQ(big.c_str(), "");
}

TEST(BStr, AsciiCompareNocaseFoldsOnlyAsciiLetters) {
  EXPECT_EQ(compare_ascii_nocase("Overwrite", "oVERWRITE"), 0);
  EXPECT_LT(compare_ascii_nocase("new", "NEWS"), 0);  // a prefix sorts first
  EXPECT_GT(compare_ascii_nocase("b", "A"), 0);
  EXPECT_EQ(compare_ascii_nocase("IMMx", "immy", 3), 0);  // at most three characters
  EXPECT_EQ(compare_ascii_nocase("", ""), 0);
  // Bytes above 127 compare as unsigned and are never folded.
  EXPECT_GT(compare_ascii_nocase("\xC3\xA9", "a"), 0);
  EXPECT_NE(compare_ascii_nocase("\xC3\x89", "\xC3\xA9"), 0);
  Str s("Section");
  EXPECT_EQ(s.compare("SECTION", BStr::cmp_nocase).value(), 0);
  EXPECT_EQ(s.compare("SECT", BStr::cmp_nocase | BStr::cmp_prefix).value(), 0);
}
