#include "vela/wstr.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>

#include "vela/format.h"
#include "vela/utf.h"
#include "support/test_platform.h"
#include "vela/platform.h"

using namespace vela;

TEST(WideHelpers, TrimFamilies) {
  std::wstring s = L" \tabc\t ";
  EXPECT_EQ(trim(s, L" \t"), L"abc");
  s = L"xxabcyy";
  EXPECT_EQ(trim(s, L"x", L"y"), L"abc");
  s = L"----";
  EXPECT_EQ(trim_char(s, L'-'), L"");
  s = L"[[a]]";
  EXPECT_EQ(trim_char(s, L'[', L']'), L"a");
  s = L"\"";
  EXPECT_EQ(strip_pairs(s, L'"'), L"\"");
  s = L"((x))";
  EXPECT_EQ(strip_pairs(s, L'(', L')'), L"x");
  s = L"\"\"";
  EXPECT_EQ(strip_pairs(s, L'"'), L"");
}

// Letter case aside, texts order as their upper-case copies do: a prefix first, then by the
// first character that differs.
TEST(WideHelpers, CaseFoldedOrder) {
  const struct {
    const wchar_t *a, *b;
    int order;
  } cases[] = {{L"", L"", 0},          {L"", L"a", -1},        {L"pwd", L"PWD", 0},    {L"PW", L"pwd", -1},
               {L"password", L"PWD", -1}, {L"b", L"A", 1},       {L"_", L"a", 1},
               {L"z", L"\u00e9", -1},   {L"abc\u00df", L"ABC", 1}, {L"x\U0001F600", L"X\U0001F601", -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(compare_nocase(c.a, c.b).value(), c.order) << c.a << L" " << c.b;
    EXPECT_EQ(compare_nocase(c.b, c.a).value(), -c.order) << c.a << L" " << c.b;
  }
}

TEST(WideHelpers, CaseAndReplace) {
  EXPECT_EQ(to_upper_copy(L"abc"), L"ABC");
  EXPECT_EQ(compare_nocase(L"abc", L"ABC").value(), 0);
  EXPECT_EQ(compare_nocase(L"abc", L"ABD").value(), -1);
  EXPECT_EQ(find_nocase(L"Select * FROM t", L"from"), 9);
  EXPECT_EQ(find_nocase(L"abc", L"x"), -1);
  EXPECT_EQ(find_nocase(L"abc", L"a", 5), -1);
  std::wstring s = L"aaa";
  EXPECT_EQ(replace_all(s, L"a", L"aa"), 3);  // continues behind each replacement
  EXPECT_EQ(s, L"aaaaaa");
  s = L"Now now NOW";
  EXPECT_EQ(replace_all_nocase(s, L"now", L"GETDATE()"), 3);
  EXPECT_EQ(s, L"GETDATE() GETDATE() GETDATE()");
  EXPECT_EQ(replace_all(s, L"", L"x"), 0);
}

TEST(WideFormat, WindowsStringConvention) {
  EXPECT_EQ(wformat(L"%s|%S|%hs|%ls", L"wide", "narrow", "nar2", L"wide2"), L"wide|narrow|nar2|wide2");
  EXPECT_EQ(wformat(L"%c%C", L'Ж', 'a'), L"Жa");
  EXPECT_EQ(wformat(L"[%5s][%-5s][%.2s]", L"ab", L"ab", L"abcdef"), L"[   ab][ab   ][ab]");
  EXPECT_EQ(wformat(L"%u %d %08X %x %5.2f %%", 42u, -7, 0x2Au, 255u, 3.14159), L"42 -7 0000002A ff  3.14 %");
  EXPECT_EQ(wformat(L"%lld %I64d %zu", -5LL, 6LL, size_t(7)), L"-5 6 7");
  EXPECT_EQ(wformat(L"%*d|%-*d|", 4, 1, 3, 2), L"   1|2  |");
  EXPECT_EQ(wformat(L"%#010x", 0x1234u), L"0x00001234");
  EXPECT_EQ(wformat(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
}

// Decimal conversions written without snprintf give what snprintf gives, widths, zeros,
// signs and the limits included.
TEST(WideFormat, DecimalsAsTheCLibraryWritesThem) {
  struct decimal_case {
    const wchar_t* wide;
    const char* narrow;
    long long value;
  };
  const decimal_case cases[] = {
      {L"%d", "%lld", 0},          {L"%d", "%lld", -7},          {L"%5d", "%5lld", -42},
      {L"%05d", "%05lld", -42},    {L"%03d", "%03lld", 1234},    {L"%+d", "%+lld", 5},
      {L"% d", "% lld", 5},        {L"%-4d|", "%-4lld|", 3},     {L"%.3d", "%.3lld", 7},
      {L"%lld", "%lld", INT64_MIN}, {L"%lld", "%lld", INT64_MAX}, {L"%010lld", "%010lld", INT64_MIN},
  };
  for (const decimal_case& c : cases) {
    char expected[64];
    std::snprintf(expected, sizeof expected, c.narrow, c.value);
    const std::wstring got = std::wstring(c.wide).find(L"ll") != std::wstring::npos
                                 ? wformat(c.wide, c.value)
                                 : wformat(c.wide, static_cast<int>(c.value));
    EXPECT_EQ(got, utf8_to_wide(expected)) << c.narrow;
  }
  EXPECT_EQ(wformat(L"%u|%03u|%2u|%llu", 0u, 5u, 123u, UINT64_MAX), L"0|005|123|18446744073709551615");
}

TEST(WideFormat, LongTextsAndCharactersOutsideTheLocale) {
  std::setlocale(LC_ALL, "C");
  const std::wstring long_text(5000, L'я');
  EXPECT_EQ(wformat(L"<%s>", long_text.c_str()), L"<" + long_text + L">");
  // Characters the C locale cannot encode, a 4-byte one and an invalid narrow byte.
  EXPECT_EQ(wformat(L"%s %s", L"日本語", L"\U0001F600"), L"日本語 \U0001F600");
  EXPECT_EQ(wformat(L"%S", "\xff"), L"\xFFFD");
}

TEST(WideFormat, NarrowPatternsUseTheNarrowConvention) {
  auto narrow = [](const char* p, ...) {
    va_list a;
    va_start(a, p);
    std::wstring s = vformat_narrow(p, a);
    va_end(a);
    return s;
  };
  EXPECT_EQ(narrow("%s=%S h=%p", "ключ", L"знач", reinterpret_cast<void*>(0x10)), L"ключ=знач h=0000000000000010");
}

TEST(Utf, RoundTripsAndReplacements) {
  const std::wstring text = L"Aя日\U0001F600";
  EXPECT_EQ(wide_to_utf8(text), "A\xD1\x8F\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8_to_wide(wide_to_utf8(text)), text);
  const std::u16string u16 = wide_to_utf16(text);
  EXPECT_EQ(u16.size(), 5u);
  EXPECT_EQ(u16[3], 0xD83D);
  EXPECT_EQ(utf16_to_wide(u16), text);
  bool ok = true;
  EXPECT_EQ(utf8_to_wide("a\xC0\xAF" "b", &ok), L"a\xFFFD\xFFFD" L"b");
  EXPECT_FALSE(ok);
  EXPECT_EQ(utf8_to_wide("\xE6\x97"), L"\xFFFD");  // cut at the end
  EXPECT_FALSE(valid_utf8("\xED\xA0\x80"));        // surrogate
  EXPECT_TRUE(valid_utf8("\xF4\x8F\xBF\xBF"));
  const char16_t lone[] = {0xDC00, u'x'};
  EXPECT_EQ(utf16_to_wide(lone, 2), L"\xFFFD" L"x");
}

// UTF-16 straight to UTF-8, and UTF-8 measured and cut in UTF-16 units as the padded layout does.
TEST(Utf, Utf8InUtf16Units) {
  const std::u16string u16 = wide_to_utf16(L"Aя日\U0001F600");
  std::string out = "x";
  append_utf16_as_utf8(out, u16.data(), u16.size());
  EXPECT_EQ(out.substr(1), wide_to_utf8(L"Aя日\U0001F600"));
  const char16_t lone[] = {u'a', 0xD83D, u'b', 0xDC00};
  out.clear();
  append_utf16_as_utf8(out, lone, 4);
  EXPECT_EQ(out, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");

  const std::string s = wide_to_utf8(L"Aя日\U0001F600z");  // units 1 1 1 2 1
  EXPECT_EQ(utf8_utf16_units(s.data(), s.size()), 6u);
  struct {
    size_t max_units, bytes, units;
  } const cuts[] = {{0, 0, 0}, {1, 1, 1}, {3, 6, 3}, {4, 6, 3}, {5, 10, 5}, {6, 11, 6}, {99, 11, 6}};
  for (const auto& c : cuts) {
    size_t units = 0;
    EXPECT_EQ(utf8_fit(s.data(), s.size(), c.max_units, &units), c.bytes) << c.max_units;
    EXPECT_EQ(units, c.units) << c.max_units;
  }
  // Long ASCII runs are measured eight bytes at a time: cuts on and beside those steps, and a
  // character beyond ASCII inside the next eight.
  const std::string run = std::string(17, 'a') + wide_to_utf8(L"日\U0001F600") + "bcdefghij";  // 17+1+2+9 units
  struct {
    size_t max_units, bytes, units;
  } const long_cuts[] = {{7, 7, 7}, {8, 8, 8}, {9, 9, 9}, {16, 16, 16}, {17, 17, 17}, {18, 20, 18},
                         {19, 20, 18}, {20, 24, 20}, {28, 32, 28}, {29, 33, 29}, {99, 33, 29}};
  for (const auto& c : long_cuts) {
    size_t units = 0;
    EXPECT_EQ(utf8_fit(run.data(), run.size(), c.max_units, &units), c.bytes) << c.max_units;
    EXPECT_EQ(units, c.units) << c.max_units;
  }
}

// Terminal cells: each case's expected width was taken from the Unicode data by hand, apart
// from the generated table.
TEST(Utf, DisplayWidthInTerminalCells) {
  struct {
    const wchar_t* text;
    size_t cells;
  } const cases[] = {
      {L"", 0},
      {L"abc", 3},
      {L"\u5F20\u4F1F", 4},           // CJK ideographs
      {L"\uAC00\uD7A3", 4},           // Hangul syllables
      {L"\uFF21", 2},                  // fullwidth A
      {L"\uFF71", 1},                  // halfwidth katakana
      {L"\U0001F600\U0001F680", 4},   // emoji
      {L"e\u0301", 1},                 // combining acute accent
      {L"\u0915\u094D\u0937", 2},    // Devanagari with virama
      {L"a\u200Bb", 2},                // zero-width space
      {L"\u00E9\u00AD", 2},           // precomposed letter, soft hyphen
      {L"x\ty", 2},                    // control characters take no cell
      {L"\u2026", 1},
      {L"\U00020000", 2},              // CJK extension B
      {L"\u1100\u1161\u11A8", 2},    // conjoining jamo: the leading one is wide, the rest join it
  };
  for (const auto& c : cases) {
    const std::string s = wide_to_utf8(c.text);
    EXPECT_EQ(utf8_display_width(s.data(), s.size()), c.cells) << s;
  }
  EXPECT_EQ(utf8_display_width("\xFF\xC3", 2), 2u);  // stray bytes take one cell each

  const std::string s = wide_to_utf8(L"a\u5F20e\u0301\U0001F600z");  // cells 1 2 1+0 2 1
  struct {
    size_t max_cells, bytes, cells;
  } const cuts[] = {{0, 0, 0}, {1, 1, 1}, {2, 1, 1}, {3, 4, 3}, {4, 7, 4}, {5, 7, 4}, {6, 11, 6}, {99, 12, 7}};
  for (const auto& c : cuts) {
    size_t cells = 0;
    EXPECT_EQ(utf8_fit_cells(s.data(), s.size(), c.max_cells, &cells), c.bytes) << c.max_cells;
    EXPECT_EQ(cells, c.cells) << c.max_cells;
  }

  // Printable ASCII is measured eight bytes at a time: a control character, DEL or a wide
  // character at any place of a long run is measured as it is alone.
  for (const std::string& odd : {std::string("\t"), std::string("\x7F"), std::string("\x1F"), wide_to_utf8(L"\u5F20")}) {
    const size_t alone = utf8_display_width(odd.data(), odd.size());
    for (size_t at = 0; at < 24; ++at) {
      const std::string run = std::string(at, ' ') + odd + std::string(23 - at, '~');
      EXPECT_EQ(utf8_display_width(run.data(), run.size()), 23 + alone) << at;
      size_t cells = 0;  // cut before it, or after it when it takes no cell
      EXPECT_EQ(utf8_fit_cells(run.data(), run.size(), at, &cells), alone ? at : at + odd.size()) << at;
      EXPECT_EQ(cells, at);
    }
  }
}

TEST(CodePages, AnsiAndOemFollowTheLanguage) {
  if (vela::windows_platform) GTEST_SKIP() << "Windows code pages come from the system, not the environment";
  vela::testing::set_env("LC_ALL", "C");
  EXPECT_EQ(ansi_to_wide("caf\xE9"), L"café");  // 1252 outside Cyrillic locales
  EXPECT_EQ(oem_to_wide("\x82"), L"é");         // 437
  vela::testing::set_env("LC_ALL", "ru_RU.UTF-8");
  EXPECT_EQ(ansi_to_wide("\xC6"), L"Ж");  // 1251
  EXPECT_EQ(oem_to_wide("\x86\r\n\t"), L"Ж\r\n\t");  // 866
  vela::testing::set_env("LC_ALL", nullptr);
}

// Names and arguments are bytes: every byte string comes back unchanged, valid UTF-8 reads
// as UTF-8, and each byte of an undecodable sequence stands alone as U+DC00 + byte.
TEST(Utf, EscapedBytesRoundTrip) {
  struct {
    std::string bytes;
    std::wstring wide;
  } const cases[] = {
      {"plain.sql", L"plain.sql"},
      {"\xD1\x8F\xF0\x9F\x98\x80", L"я\U0001F600"},
      {"s\xFF.sql", L"s\xDCFF.sql"},
      {"caf\xE9", L"caf\xDCE9"},                              // Latin-1
      {"\x80", L"\xDC80"},                                    // a lone continuation byte
      {"\xC0\xAF", L"\xDCC0\xDCAF"},                          // overlong
      {"\xED\xA0\x80", L"\xDCED\xDCA0\xDC80"},                // an encoded surrogate
      {"\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"},      // beyond U+10FFFF
      {"a\xE6\x97", L"a\xDCE6\xDC97"},                        // cut at the end
      {"\xE6" "A\xE6\x97\xA5", L"\xDCE6" L"A\x65E5"},         // cut by ASCII, then whole
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_to_wide_escaped(c.bytes), c.wide) << c.bytes;
    EXPECT_EQ(wide_to_utf8_escaped(c.wide), c.bytes) << c.bytes;
    EXPECT_EQ(has_escaped_bytes(c.wide), !valid_utf8(c.bytes)) << c.bytes;
    if (valid_utf8(c.bytes)) {
      EXPECT_EQ(utf8_to_wide_escaped(c.bytes), utf8_to_wide(c.bytes));
    }
  }
  // Only U+DC80..U+DCFF are bytes; other lone surrogates stay U+FFFD, and the plain
  // conversion keeps replacing them all.
  EXPECT_EQ(wide_to_utf8_escaped(L"\xDC7F\xDD00"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(wide_to_utf8(L"s\xDCFF"), "s\xEF\xBF\xBD");
  EXPECT_FALSE(has_escaped_bytes(L"\xDC7F\xFFFD"));
}

TEST(AsciiPrefix, StopsAtTheFirstByteAboveAscii) {
  struct row {
    std::string text;
    size_t ascii;
  } rows[] = {
      {"", 0}, {"abc", 3}, {"abcdefgh", 8}, {"abcdefghijklmnopq", 17}, {"\xC3\xA9", 0},
      {"abcdefg\xC3\xA9", 7}, {"abcdefgh\xC3\xA9xyz", 8}, {"abcdefghijk\x80", 11},
  };
  for (const row& r : rows)
    EXPECT_EQ(ascii_prefix(reinterpret_cast<const unsigned char*>(r.text.data()), r.text.size()), r.ascii) << r.text;
}
