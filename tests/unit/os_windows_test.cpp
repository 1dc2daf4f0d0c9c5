// The Windows seam's own behaviour (run under wine): the system's code pages, share modes,
// 32-bit exit codes, the runtime's regular expressions, the system's command line.
#include "os/os.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "vela/platform.h"
#include "vela/result.h"

using namespace vela;

TEST(WindowsSeam, WideTextIsUtf16) {
  static_assert(sizeof(wchar_t) == 2);
  EXPECT_TRUE(windows_platform);
  std::wstring w;
  ASSERT_EQ(os::to_wide(65001, "\xF0\x9F\x98\x80", w, true), 0u);  // U+1F600: a surrogate pair
  EXPECT_EQ(w, std::wstring(L"\xD83D\xDE00"));
  std::string n;
  ASSERT_EQ(os::from_wide(65001, w, n, true), 0u);
  EXPECT_EQ(n, "\xF0\x9F\x98\x80");
  EXPECT_EQ(os::from_wide(65001, std::wstring(1, L'\xD800'), n, true), 1113u);  // a lone surrogate
}

TEST(WindowsSeam, CodePagesOfTheSystem) {
  std::wstring w;
  std::string n;
  EXPECT_EQ(os::to_wide(65001, "a\xff", w, true), 1113u);
  ASSERT_EQ(os::to_wide(65001, "a\xff" "b", w, false), 0u);
  EXPECT_EQ(w, L"a\xFFFD" L"b");
  EXPECT_EQ(os::from_wide(1251, L"Жx日", n, true), 1113u);
  ASSERT_EQ(os::from_wide(1251, L"Жx日", n, false), 0u);
  EXPECT_EQ(n, "\xC6x?");
  ASSERT_EQ(os::to_wide(866, "\x86\xe3\xaa\r\n\t", w, true), 0u);
  EXPECT_EQ(w, L"Жук\r\n\t");
  ASSERT_EQ(os::from_wide(1201, L"A", n, true), 0u);
  EXPECT_EQ(n, std::string("\0A", 2));
  ASSERT_EQ(os::to_wide(1200, std::string("A\0\x16\x04", 4), w, true), 0u);
  EXPECT_EQ(w, L"AЖ");
  ASSERT_EQ(os::from_wide(12000, L"A", n, true), 0u);
  EXPECT_EQ(n, std::string("A\0\0\0", 4));
  EXPECT_EQ(os::to_wide(999999, "x", w, false), 87u);
  EXPECT_EQ(os::from_wide(999999, L"x", n, false), 87u);
}

TEST(WindowsSeam, PiecesCutInsideACharacter) {
  for (unsigned cp : {65001u, 1200u}) {
    std::string bytes;
    ASSERT_EQ(os::from_wide(cp, L"aЖ\xD83D\xDE00z", bytes, true), 0u);
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
      os::wide_decoder d(cp);
      ASSERT_TRUE(d.ok());
      std::wstring out;
      ASSERT_EQ(d.decode(std::string_view(bytes).substr(0, cut), false, out, true), 0u) << cp << " " << cut;
      ASSERT_EQ(d.decode(std::string_view(bytes).substr(cut), true, out, true), 0u) << cp << " " << cut;
      EXPECT_EQ(out, L"aЖ\xD83D\xDE00z") << cp << " " << cut;
    }
  }
}

TEST(WindowsSeam, ShareModesAreTheSystems) {
  vela::testing::temp_dir dir;
  const std::wstring path = dir.wpath("shared.txt");
  os::handle a = os::invalid_handle, b = os::invalid_handle;
  ASSERT_EQ(os::open_file(path, os::generic_write, os::share_read, os::create_always, a), 0u);
  EXPECT_EQ(os::open_file(path, os::generic_write, os::share_read, os::open_existing, b), 32u);
  ASSERT_EQ(os::open_file(path, os::generic_read, os::share_read | os::share_write, os::open_existing, b), 0u);
  ASSERT_EQ(os::write_file(a, "abc", 3), 0u);
  int64_t size = 0;
  ASSERT_EQ(os::file_size(b, size), 0u);
  EXPECT_EQ(size, 3);
  EXPECT_EQ(os::close_handle(b), 0u);
  EXPECT_EQ(os::close_handle(a), 0u);
  EXPECT_EQ(os::open_file(dir.wpath("none"), os::generic_read, os::share_read, os::open_existing, b), 2u);
  EXPECT_EQ(os::open_file(dir.wpath("no/none"), os::generic_read, os::share_read, os::open_existing, b), 3u);
  EXPECT_EQ(os::open_file(dir.wpath(), os::generic_read, os::share_read, os::open_existing, b), 5u);
  EXPECT_EQ(os::open_file(path, os::generic_write, 0, os::create_new, b), 80u);
  EXPECT_TRUE(os::is_regular_file(path));
  EXPECT_FALSE(os::is_regular_file(dir.wpath()));
  std::wstring short_name;
  EXPECT_TRUE(os::short_path_name(path, short_name));
  EXPECT_FALSE(short_name.empty());
  EXPECT_EQ(os::remove_file(path), 0u);
  EXPECT_FALSE(os::path_exists(path));
}

TEST(WindowsSeam, ExitCodesKeepTheir32Bits) {
  EXPECT_EQ(os::exit_status(0), 0);
  EXPECT_EQ(os::exit_status(87), 87);
  EXPECT_EQ(os::exit_status(1359), 1359);
  EXPECT_EQ(os::exit_status(256), 256);
  EXPECT_EQ(static_cast<uint32_t>(os::exit_status(0x2000010Au)), 0x2000010Au);
}

TEST(WindowsSeam, PatternsMatchWholeInAnyCase) {
  os::pattern p(L"conn.*");
  ASSERT_TRUE(p.ok());
  EXPECT_TRUE(p.full_match(L"CONNECTION::connect"));
  EXPECT_FALSE(p.full_match(L"x connection"));
  EXPECT_TRUE(os::pattern(L"жук").full_match(L"ЖУК"));
  EXPECT_FALSE(os::pattern(L"(unclosed").ok());
  EXPECT_FALSE(os::pattern(L"a{2,1}").ok());
}

TEST(WindowsSeam, SystemServices) {
  const std::vector<std::wstring> args = os::command_args();
  ASSERT_FALSE(args.empty());
  EXPECT_NE(args[0].find(L"os_windows_test"), std::wstring::npos);
  const std::wstring exe = os::executable_path();
  EXPECT_NE(exe.find(L"os_windows_test.exe"), std::wstring::npos);
  EXPECT_FALSE(os::system_message(2).empty());
  EXPECT_TRUE(os::system_message(2).back() != L'\n');
  EXPECT_NE(os::process_id(), 0u);
  EXPECT_NE(os::thread_id(), 0u);
  const uint32_t a = os::tick_count();
  EXPECT_LE(os::tick_count() - a, 1000u);
  EXPECT_GE(os::now_local().year, 2024);
  int64_t s = 0;
  long ns = 0;
  os::realtime_now(s, ns);
  const os::local_time t = os::to_local(s, ns), now = os::now_local();
  EXPECT_EQ(t.year, now.year);
  EXPECT_EQ(t.hour, now.hour);
  EXPECT_FALSE(os::environment("PATH").empty());
  EXPECT_TRUE(os::environment("VELA_NO_SUCH_VARIABLE").empty());
  vela::testing::temp_dir dir;
  EXPECT_EQ(os::create_folders(dir.wpath("a/b\\c")), 0u);
  EXPECT_TRUE(os::folder_writable(dir.wpath("a/b/c")));
  EXPECT_NE(os::library_symbol("libodbcinst.so.2", "SQLGetInstalledDriversW"), nullptr);
  EXPECT_EQ(name_program(L"sqlterm -cs:x\n  sqlterm --version; sqlterm_history", L"sqlterm"),
            L"sqlterm.exe -cs:x\n  sqlterm.exe --version; sqlterm_history");
}
