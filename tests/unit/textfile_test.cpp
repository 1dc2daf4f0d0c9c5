#include "vela/textfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "support/test_platform.h"
#include "support/temp_dir.h"
#include "vela/platform.h"
#include "vela/utf.h"

using namespace vela;
using vela::testing::temp_dir;

namespace {

text_file_code_page cp(const wchar_t* name) { return parse_code_page(name); }

text_file_code_page detect(const std::string& bytes) {
  return detect_code_page(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::wstring read_text(const std::wstring& path, text_file_code_page page, text_file_code_page* found = nullptr) {
  std::wstring text;
  textfile(path, page).read_all(text, found);
  return text;
}

// The text of read_pieces, and how many pieces it came in.
std::wstring read_in_pieces(const std::wstring& path, text_file_code_page page, size_t piece_bytes,
                            text_file_code_page* found = nullptr, size_t* pieces = nullptr) {
  std::wstring text;
  size_t n = 0;
  textfile(path, page).read_pieces(
      [&](std::wstring_view piece) {
        text.append(piece);
        ++n;
      },
      found, piece_bytes);
  if (pieces) *pieces = n;
  return text;
}

} // namespace

TEST(CodePageNames, EveryRule) {
  struct {
    const wchar_t* name;
    int32_t id;
    bool bom;
  } cases[] = {
      {L"auto", -1, false},     {L"AUTO", -1, false},      {L"Ansi", 0, false},       {L"oem", 1, false},
      {L"UTF-8", 65001, false}, {L"utf8", 65001, false},   {L"utf8bom", 65001, true}, {L"UTF_8_BOM", 65001, true},
      {L"unicode", 1200, true}, {L"ucs2", 1200, false},    {L"UCS-2-LE", 1200, false}, {L"ucs2le_bom", 1200, true},
      {L"UCS-2-BE-BOM", 1201, true}, {L"ucs2be", 1201, false}, {L"utf-7", 65000, false}, {L"1251", 1251, false},
      {L"866abc", 866, false},  {L"koi8", -2, false},      {L"0", -2, false},         {L"", -2, false},
      {L"utf-16", -2, false},
  };
  for (const auto& c : cases) {
    const text_file_code_page p = cp(c.name);
    EXPECT_EQ(p.id, c.id) << c.name;
    EXPECT_EQ(p.bom, c.bom) << c.name;
  }
}

TEST(Detection, MarksAsciiUtf8AndInvalidBytes) {
  EXPECT_EQ(detect(std::string("\xFF\xFE" "a\0b\0", 6)).id, 1200);
  EXPECT_TRUE(detect(std::string("\xFF\xFE" "a\0b\0", 6)).bom);
  const text_file_code_page no_mark = detect(std::string("s\0e\0l\0e\0c\0t\0 \0" "1\0", 16));
  EXPECT_EQ(no_mark.id, 1200);
  EXPECT_FALSE(no_mark.bom);
  EXPECT_EQ(detect("\xEF\xBB\xBFselect").id, 65001);
  EXPECT_TRUE(detect("\xEF\xBB\xBFselect").bom);
  EXPECT_EQ(detect("select 1;\n").id, 0);
  EXPECT_EQ(detect("select 'я';\n").id, 65001);
  EXPECT_FALSE(detect("select 'я';\n").bom);
  EXPECT_EQ(detect("select '\xFF\xC6';\n").id, 0);
  EXPECT_THROW(is_utf8(reinterpret_cast<const unsigned char*>(""), 0), wexception);
}

TEST(Detection, CharacterSplitAtTheEndOfTheSample) {
  // Lines of two-byte characters placed so that byte 102400 is the first half of one.
  std::string text;
  while (text.size() < 102399) text += text.size() % 80 == 79 ? "\n" : "a";
  text.resize(102399);
  text += "\xD1\x8F";  // bytes 102399 and 102400 (1-based: 102400 and 102401)
  while (text.size() < 200000) text += "я\n";
  ASSERT_EQ(static_cast<unsigned char>(text[102399]), 0xD1);
  EXPECT_EQ(detect(text).id, 65001);
  // Without any line break the cut character makes the sample invalid.
  std::string flat(102399, 'a');
  flat += "\xD1\x8F";
  EXPECT_EQ(detect(flat).id, 0);
}

TEST(TextFile, ReadsEveryDetectedKind) {
  temp_dir dir;
  text_file_code_page found{42, true};
  dir.write("empty.sql", "");
  EXPECT_EQ(read_text(dir.wpath("empty.sql"), cp(L"auto"), &found), L"");
  EXPECT_EQ(found.id, 42);  // untouched
  dir.write("u16.sql", std::string("\xFF\xFE" "a\0\x4F\x04", 6));
  EXPECT_EQ(read_text(dir.wpath("u16.sql"), cp(L"auto"), &found), L"aя");
  EXPECT_EQ(found.id, 1200);
  EXPECT_TRUE(found.bom);
  dir.write("bom8.sql", "\xEF\xBB\xBFselect 'я'");
  EXPECT_EQ(read_text(dir.wpath("bom8.sql"), cp(L"auto"), &found), L"select 'я'");
  EXPECT_EQ(found.id, 65001);
  EXPECT_TRUE(found.bom);
  dir.write("plain.sql", "select 1");
  EXPECT_EQ(read_text(dir.wpath("plain.sql"), cp(L"auto"), &found), L"select 1");
  EXPECT_EQ(found.id, 0);
  if (!vela::windows_platform) {  // Windows takes its ANSI and OEM code pages from the system
    vela::testing::set_env("LC_ALL", "ru_RU.UTF-8");  // ANSI is 1251, OEM 866
    dir.write("cp1251.sql", "select '\xC6'\r\n");
    EXPECT_EQ(read_text(dir.wpath("cp1251.sql"), cp(L"auto")), L"select 'Ж'\r\n");
    EXPECT_EQ(read_text(dir.wpath("cp1251.sql"), cp(L"1251")), L"select 'Ж'\r\n");
    dir.write("oem.sql", "a\tb\r\n\x86\n");
    EXPECT_EQ(read_text(dir.wpath("oem.sql"), cp(L"oem"), &found), L"a\tb\r\nЖ\n");
    EXPECT_EQ(found.id, 1);
    vela::testing::set_env("LC_ALL", nullptr);
  }
  dir.write("be.sql", std::string("\0a\x04\x4F", 4));
  EXPECT_EQ(read_text(dir.wpath("be.sql"), cp(L"ucs2be")), L"aя");
  dir.write("bad8.sql", "a\xFF");
  EXPECT_EQ(read_text(dir.wpath("bad8.sql"), cp(L"utf8")), L"a\xFFFD");
}

// Bytes kept: invalid bytes become U+DC80..U+DCFF in UTF-8 and in a code page, and 8-bit text
// of no named code page is UTF-8.
TEST(TextFile, InvalidBytesAreKept) {
  temp_dir dir;
  dir.write("b.sql", "\xC3\xA9\xFF\x98\xC6");
  // 0x98 has no character in 1251 for iconv; Windows' converter reads it as U+0098.
#ifdef _WIN32
  const wchar_t* undefined_1251 = L"\u0098";
#else
  const wchar_t* undefined_1251 = L"\xDC98";
#endif
  const struct {
    const wchar_t* page;
    std::wstring text;
    int32_t decoding;
  } cases[] = {
      {L"utf8", L"\u00e9\xDCFF\xDC98\xDCC6", 65001},
      {L"auto", L"\u00e9\xDCFF\xDC98\xDCC6", 65001},
      {L"1251", std::wstring(L"\u0413\u00a9\u044f") + undefined_1251 + L"\u0416", 1251},
  };
  for (const auto& c : cases) {
    textfile file(dir.wpath("b.sql"), cp(c.page));
    file.keep_invalid_bytes(true);
    std::wstring text;
    file.read_all(text);
    EXPECT_EQ(text, c.text) << c.decoding;
    EXPECT_EQ(file.decoding().id, c.decoding);
  }
}

TEST(TextFile, ReadFailuresRaise) {
  temp_dir dir;
  try {
    read_text(dir.wpath("none.sql"), cp(L"auto"));
    FAIL();
  } catch (const file_error& e) {
    EXPECT_EQ(e.code(), 2);
  }
  dir.write("x.sql", "select 1");
  try {
    read_text(dir.wpath("x.sql"), cp(L"koi8"));
    FAIL();
  } catch (const file_error&) {
    FAIL() << "a conversion failure is not a file error";
  } catch (const windows_error& e) {
    EXPECT_EQ(e.code(), 87);
  }
  EXPECT_THROW(read_text(dir.wpath(), cp(L"auto")), file_error);  // a directory
}

TEST(TextFile, SaveWritesTheMarkOfItsCodePage) {
  temp_dir dir;
  EXPECT_TRUE(textfile(dir.wpath("u.txt"), cp(L"unicode")).save(L"ab").succeeded());
  EXPECT_EQ(dir.read("u.txt"), std::string("\xFF\xFE" "a\0b\0", 6));
  EXPECT_TRUE(textfile(dir.wpath("u.txt"), cp(L"ucs2")).save(L"c").succeeded());
  EXPECT_EQ(dir.read("u.txt"), std::string("c\0", 2));  // replaced and cut
  EXPECT_TRUE(textfile(dir.wpath("b.txt"), cp(L"utf8bom")).save(L"я").succeeded());
  EXPECT_EQ(dir.read("b.txt"), "\xEF\xBB\xBF\xD1\x8F");
  EXPECT_TRUE(textfile(dir.wpath("w.txt"), cp(L"1251")).save(L"Жx").succeeded());
  EXPECT_EQ(dir.read("w.txt"), "\xC6x");
  EXPECT_TRUE(textfile(dir.wpath("s.txt"), cp(L"\U0001F600")).save(L"x").code() == 87u);
  EXPECT_EQ(textfile(dir.wpath("no/dir.txt"), cp(L"utf8")).save(L"x").code(), vela::windows_platform ? 3u : 2u);
}

TEST(TextFile, AppendRoundTripsAndRefusesOtherCodePages) {
  temp_dir dir;
  const std::wstring path = dir.wpath("log.txt");
  textfile log(path, cp(L"utf8"));
  EXPECT_TRUE(log.append(L"Привет, ").succeeded());
  EXPECT_TRUE(log.append(L"日本語 \U0001F600\r\n").succeeded());
  EXPECT_EQ(dir.read("log.txt").substr(0, 3), "\xD0\x9F\xD1");  // no mark
  EXPECT_EQ(read_text(path, cp(L"utf8")), L"Привет, 日本語 \U0001F600\r\n");
  const std::string before = dir.read("log.txt");
  const result r = textfile(path, cp(L"1251")).append(L"x");
  EXPECT_EQ(r.code(), 87u);
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(dir.read("log.txt"), before);
  // A file that append creates gets the mark save would give it; an existing one never.
  textfile u(dir.wpath("u.txt"), cp(L"auto"));
  EXPECT_TRUE(u.append(L"a").succeeded());
  EXPECT_TRUE(u.append(L"b").succeeded());
  EXPECT_EQ(dir.read("u.txt"), std::string("\xFF\xFE" "a\0b\0", 6));
  EXPECT_THROW(textfile(dir.wpath("no/dir.txt"), cp(L"utf8")).append_or_throw(L"x"), file_error);
}

TEST(TextFile, AppendToAFileAnotherWriterHolds) {
  temp_dir dir;
  const std::wstring path = dir.wpath("held.txt");
  dir.write("held.txt", "x");
  file holder;
  ASSERT_EQ(holder.open_code(path, file_access::write, file_access::share_read, nullptr, file_access::open_existing,
                             0, 0),
            0u);
  EXPECT_EQ(textfile(path, cp(L"utf8")).append(L"y").code(), 32u);
  EXPECT_EQ(dir.read("held.txt"), "x");
}

// Scripts saved as UTF-16 without a mark: the NUL bytes tell, whatever the script's letters.
TEST(Detection, Utf16WithoutAMarkInAnyScript) {
  for (const std::wstring text : {L"select 'Привет, мир' as \"имя\";\r\n", L"select 'Καλημέρα κόσμε';\n",
                                  L"insert into t values('一一一一一一 世界 中文');\n", L"select 1;"}) {
    const std::string bytes = vela::wide_to_utf16le(text);
    const text_file_code_page found = detect(bytes);
    EXPECT_EQ(found.id, 1200);
    EXPECT_FALSE(found.bom);
    temp_dir dir;
    dir.write("u16.sql", bytes);
    EXPECT_EQ(read_text(dir.wpath("u16.sql"), cp(L"auto")), text);
  }
  // Big-endian text is read as such, its mark dropped; NUL bytes are never 8-bit text.
  temp_dir dir;
  dir.write("be.sql", std::string("\0s\0e\0l\0 \x04\x4F\0;", 12));
  text_file_code_page found;
  EXPECT_EQ(read_text(dir.wpath("be.sql"), cp(L"auto"), &found), L"sel я;");
  EXPECT_EQ(found.id, 1201);
  dir.write("bem.sql", std::string("\xFE\xFF\0a", 4));
  EXPECT_EQ(read_text(dir.wpath("bem.sql"), cp(L"auto"), &found), L"a");
  EXPECT_TRUE(found.bom);
  for (const std::string& nul : {std::string("select 1;\0", 10), std::string("\0\0\0\0", 4), std::string("a\0", 2),
                                 std::string("\xC6\xC6\0\xC6", 4)})
    EXPECT_TRUE(detect(nul).id == 1200 || detect(nul).id == 1201);
}

// Piece ends fall inside characters at every offset; the pieces join to the whole text.
TEST(TextFile, PiecesNeverCutACharacter) {
  temp_dir dir;
  // UTF-8 with characters of every length, stray continuation bytes and cut sequences.
  std::string utf8;
  const char* parts[] = {"a", "я", "€", "😀", "\x80", "\xE2\x82", "\n", "\xF0\x9F\x98"};
  for (size_t i = 0; utf8.size() < 330000; ++i) utf8 += parts[(i * 7 + i / 3) % 8];
  dir.write("u8.sql", utf8);
  // UTF-16 with a mark, surrogate pairs and lone surrogates.
  std::string utf16 = "\xFF\xFE";
  const char16_t units[] = {u'a', 0x044F, 0xD83D, 0xDE00, 0xD800, u'b', 0xDC00, u'\n'};
  for (size_t i = 0; utf16.size() < 330000; ++i) {
    const char16_t u = units[(i * 5 + i / 7) % 8];
    utf16 += static_cast<char>(u & 0xFF);
    utf16 += static_cast<char>(u >> 8);
  }
  utf16 += 'x';  // an odd last byte
  dir.write("u16.sql", utf16);
  // Code pages through the converter: a stateful one and one of two-byte characters.
  std::wstring wide;
  for (size_t i = 0; wide.size() < 150000; ++i) wide += (i % 3 ? L"日本語 テ+a;" : L"select 1;\n");
  ASSERT_TRUE(textfile(dir.wpath("u7.sql"), {65000, false}).save(wide).succeeded());
  ASSERT_TRUE(textfile(dir.wpath("sjis.sql"), {932, false}).save(wide).succeeded());

  for (size_t piece = 102400; piece < 102404; ++piece) {
    size_t pieces = 0;
    EXPECT_EQ(read_in_pieces(dir.wpath("u8.sql"), cp(L"utf8"), piece, nullptr, &pieces), utf8_to_wide(utf8)) << piece;
    EXPECT_EQ(pieces, 4u);
    EXPECT_EQ(read_in_pieces(dir.wpath("u16.sql"), cp(L"auto"), piece),
              utf16le_to_wide(reinterpret_cast<const unsigned char*>(utf16.data()) + 2, utf16.size() - 2))
        << piece;
    EXPECT_EQ(read_in_pieces(dir.wpath("u7.sql"), {65000, false}, piece), wide) << piece;
    EXPECT_EQ(read_in_pieces(dir.wpath("sjis.sql"), {932, false}, piece), wide) << piece;
  }
}

// The ASCII start of a long file does not decide its code page: a later character does.
TEST(TextFile, AsciiStartOfALongFile) {
  temp_dir dir;
  const std::string ascii(250000, 'a');
  dir.write("ascii.sql", ascii);
  dir.write("late8.sql", ascii + "я");
  text_file_code_page found;
  EXPECT_EQ(read_in_pieces(dir.wpath("ascii.sql"), cp(L"auto"), 102400, &found), std::wstring(250000, L'a'));
  EXPECT_EQ(found.id, 0);
  EXPECT_EQ(read_in_pieces(dir.wpath("late8.sql"), cp(L"auto"), 102400, &found), std::wstring(250000, L'a') + L"я");
  EXPECT_EQ(found.id, 65001);
  EXPECT_FALSE(found.bom);
}
