#include "os/os.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <vector>
#include <string>

#include "support/temp_dir.h"
#include "support/test_platform.h"
#include "vela/result.h"

using namespace vela;

TEST(OsErrors, ErrnoTable) {
  EXPECT_EQ(os::error_from_errno(ENOENT), 2u);
  EXPECT_EQ(os::error_from_errno(ENOTDIR), 3u);
  EXPECT_EQ(os::error_from_errno(EMFILE), 4u);
  EXPECT_EQ(os::error_from_errno(EACCES), 5u);
  EXPECT_EQ(os::error_from_errno(EPERM), 5u);
  EXPECT_EQ(os::error_from_errno(EISDIR), 5u);
  EXPECT_EQ(os::error_from_errno(EBADF), 6u);
  EXPECT_EQ(os::error_from_errno(ENOMEM), 8u);
  EXPECT_EQ(os::error_from_errno(EROFS), 19u);
  EXPECT_EQ(os::error_from_errno(EWOULDBLOCK), 32u);
  EXPECT_EQ(os::error_from_errno(EEXIST), 80u);
  EXPECT_EQ(os::error_from_errno(EINVAL), 87u);
  EXPECT_EQ(os::error_from_errno(ENOSPC), 112u);
  EXPECT_EQ(os::error_from_errno(ENAMETOOLONG), 206u);
  EXPECT_EQ(os::error_from_errno(EPIPE), 109u);
  EXPECT_EQ(os::error_from_errno(EIO), 29u);
  EXPECT_EQ(os::error_from_errno(EFBIG), 223u);
}

TEST(OsErrors, EveryLibraryCodeHasADescription) {
  for (uint32_t code : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 8u, 13u, 19u, 29u, 109u, 223u, 32u, 50u, 80u, 87u, 112u, 206u, 234u, 1223u,
                        1247u, 1359u}) {
    EXPECT_FALSE(GetErrorText(code).empty()) << code;
  }
  EXPECT_EQ(GetErrorText(99999u), L"");
}

TEST(OsTime, TickCounterMovesForward) {
  const uint32_t a = os::tick_count();
  const uint32_t b = os::tick_count();
  EXPECT_LE(b - a, 1000u);
  const os::local_time t = os::now_local();
  EXPECT_GE(t.year, 2024);
  EXPECT_LT(t.millisecond, 1000);
}

TEST(OsCodePages, StrictAndLenientConversion) {
  std::wstring w;
  EXPECT_EQ(os::to_wide(65001, "a\xff", w, true), 1113u);
  EXPECT_EQ(os::to_wide(65001, "a\xff" "b", w, false), 0u);
  EXPECT_EQ(w, L"a\xFFFD" L"b");
  std::string n;
  EXPECT_EQ(os::from_wide(1251, L"Жx日", n, true), 1113u);
  EXPECT_EQ(os::from_wide(1251, L"Жx日", n, false), 0u);
  EXPECT_EQ(n, "\xC6x?");
  EXPECT_EQ(os::from_wide(1201, L"A", n, true), 0u);
  EXPECT_EQ(n, std::string("\0A", 2));
  EXPECT_EQ(os::to_wide(999999, "x", w, false), 87u);
}

namespace {

struct locale_case {
  const char* lc_all;
  const char* lc_ctype;
  const char* lang;
};

void set_or_unset(const char* name, const char* value) {
  if (value) ::setenv(name, value, 1);
  else ::unsetenv(name);
}

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "(unset)";
}

} // namespace

TEST(OsConsole, APlainLocaleEnvironmentBecomesUtf8ForLibraries) {
  const std::string saved_all = env("LC_ALL"), saved_ctype = env("LC_CTYPE"), saved_lang = env("LANG");
  struct expectation {
    locale_case given;
    std::string lc_all, lc_ctype;
  };
  const expectation cases[] = {
      {{nullptr, nullptr, nullptr}, "(unset)", "C.UTF-8"},
      {{"", "", ""}, "", "C.UTF-8"},
      {{nullptr, nullptr, "POSIX"}, "(unset)", "C.UTF-8"},
      {{"C", nullptr, "ru_RU.UTF-8"}, "C.UTF-8", "(unset)"},  // LC_ALL wins over the others
      {{nullptr, "C", "C.UTF-8"}, "(unset)", "C.UTF-8"},
      {{nullptr, nullptr, "C.UTF-8"}, "(unset)", "(unset)"},  // left as it is
      {{nullptr, nullptr, "ru_RU.UTF-8"}, "(unset)", "(unset)"},
      {{"C.UTF-8", "C", nullptr}, "C.UTF-8", "C"},
  };
  for (const expectation& e : cases) {
    set_or_unset("LC_ALL", e.given.lc_all);
    set_or_unset("LC_CTYPE", e.given.lc_ctype);
    set_or_unset("LANG", e.given.lang);
    os::init_locale();
    EXPECT_EQ(env("LC_ALL"), e.lc_all) << env("LANG");
    EXPECT_EQ(env("LC_CTYPE"), e.lc_ctype) << env("LANG");
  }
  set_or_unset("LC_ALL", nullptr);
  set_or_unset("LC_CTYPE", nullptr);
  set_or_unset("LANG", nullptr);
  os::init_locale();
  EXPECT_TRUE(os::console_is_utf8());
  set_or_unset("LC_ALL", saved_all == "(unset)" ? nullptr : saved_all.c_str());
  set_or_unset("LC_CTYPE", saved_ctype == "(unset)" ? nullptr : saved_ctype.c_str());
  set_or_unset("LANG", saved_lang == "(unset)" ? nullptr : saved_lang.c_str());
  os::init_locale();
}

// A category the environment leaves to C or C.UTF-8 stays the C locale the process starts
// in; one that cannot be set makes every category C.UTF-8.
TEST(OsConsole, OnlyTheCategoriesTheEnvironmentNamesAreLoaded) {
  const std::string saved_all = env("LC_ALL"), saved_ctype = env("LC_CTYPE"), saved_lang = env("LANG");
  const struct {
    const char *lc_all, *lang, *numeric, *time;
    const char *ctype_is, *numeric_is, *time_is, *messages_is;
  } cases[] = {
      {nullptr, "C.UTF-8", nullptr, nullptr, "C.UTF-8", "C", "C", "C"},
      {nullptr, nullptr, nullptr, nullptr, "C.UTF-8", "C", "C", "C"},
      {"C", "xx_YY.UTF-8", nullptr, nullptr, "C.UTF-8", "C", "C", "C"},
      {nullptr, "C.UTF-8", "C.utf8", "POSIX", "C.UTF-8", "C", "C", "C"},
      {nullptr, "xx_YY.UTF-8", nullptr, nullptr, "C.UTF-8", "C.UTF-8", "C.UTF-8", "C.UTF-8"},
      {nullptr, "C.UTF-8", nullptr, "xx_YY.UTF-8", "C.UTF-8", "C.UTF-8", "C.UTF-8", "C.UTF-8"},
      {"xx_YY.UTF-8", "C.UTF-8", nullptr, nullptr, "C.UTF-8", "C.UTF-8", "C.UTF-8", "C.UTF-8"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(std::setlocale(LC_ALL, "C"));
    vela::testing::set_env("LC_ALL", c.lc_all);
    vela::testing::set_env("LC_CTYPE", nullptr);
    vela::testing::set_env("LANG", c.lang);
    vela::testing::set_env("LC_NUMERIC", c.numeric);
    vela::testing::set_env("LC_TIME", c.time);
    os::init_locale();
    const std::string given = env("LC_ALL") + " " + env("LANG") + " " + env("LC_NUMERIC") + " " + env("LC_TIME");
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), c.ctype_is) << given;
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), c.numeric_is) << given;
    EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), c.time_is) << given;
    EXPECT_STREQ(std::setlocale(LC_MESSAGES, nullptr), c.messages_is) << given;
    EXPECT_TRUE(os::console_is_utf8()) << given;
  }
  vela::testing::set_env("LC_NUMERIC", nullptr);
  vela::testing::set_env("LC_TIME", nullptr);
  vela::testing::set_env("LC_ALL", saved_all == "(unset)" ? nullptr : saved_all.c_str());
  vela::testing::set_env("LC_CTYPE", saved_ctype == "(unset)" ? nullptr : saved_ctype.c_str());
  vela::testing::set_env("LANG", saved_lang == "(unset)" ? nullptr : saved_lang.c_str());
  os::init_locale();
}

TEST(OsErrors, UnmatchedErrnoIsInvalidFunctionAndMessagesFollowTheLanguage) {
  EXPECT_EQ(os::error_from_errno(EDOM), 1u);
  EXPECT_EQ(os::error_from_errno(ECHILD), 1u);
  errno = ENOENT;
  EXPECT_EQ(os::last_error(), 2u);

  const char* saved = std::getenv("LC_ALL");
  const std::string keep = saved ? saved : "";
  ::setenv("LC_ALL", "ru_RU.UTF-8", 1);
  os::forget_language();
  EXPECT_TRUE(os::russian_ui());
  EXPECT_EQ(os::system_message(2), L"Файл не найден.");
  ::setenv("LC_ALL", "en_US.UTF-8", 1);
  EXPECT_TRUE(os::russian_ui());  // chosen once until forgotten
  os::forget_language();
  EXPECT_FALSE(os::russian_ui());
  EXPECT_EQ(os::system_message(2), L"The file was not found.");
  EXPECT_EQ(os::system_message(4242), L"");
  if (saved) ::setenv("LC_ALL", keep.c_str(), 1);
  else ::unsetenv("LC_ALL");
  os::forget_language();
}

TEST(OsTime, LocalCalendarFields) {
  const char* saved = std::getenv("TZ");
  const std::string keep = saved ? saved : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  const os::local_time t = os::to_local(1491383287, 6000000);  // 2017-04-05 09:08:07.006 UTC, a Wednesday
  EXPECT_EQ(t.year, 2017);
  EXPECT_EQ(t.month, 4);
  EXPECT_EQ(t.day, 5);
  EXPECT_EQ(t.day_of_week, 3);
  EXPECT_EQ(t.hour, 9);
  EXPECT_EQ(t.minute, 8);
  EXPECT_EQ(t.second, 7);
  EXPECT_EQ(t.millisecond, 6);
  if (saved) ::setenv("TZ", keep.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

TEST(OsCodePages, PiecewiseDecodingCarriesCutCharacters) {
  os::wide_decoder utf8(65001);
  ASSERT_TRUE(utf8.ok());
  std::wstring w;
  const std::string text = "a\xD0\x96" "b\xF0\x9F\x98\x80";  // a Ж b 😀
  for (char c : text) ASSERT_EQ(utf8.decode(std::string_view(&c, 1), false, w, true), 0u);
  EXPECT_EQ(w, L"a\u0416b\U0001F600");
  // A character still cut at the end is invalid input: strict fails and keeps out as it was.
  os::wide_decoder cut(65001);
  std::wstring out = L"x";
  EXPECT_EQ(cut.decode("y\xD0", true, out, true), 1113u);
  EXPECT_EQ(out, L"x");
  os::wide_decoder lenient(65001);
  EXPECT_EQ(lenient.decode("y\xD0", true, out, false), 0u);
  EXPECT_EQ(out, L"xy\xFFFD");
  // A stateful encoding keeps its shift state across pieces.
  os::wide_decoder utf7(65000);
  ASSERT_TRUE(utf7.ok());
  std::wstring seven;
  EXPECT_EQ(utf7.decode("+BBY", false, seven, true), 0u);
  EXPECT_EQ(utf7.decode("-x", true, seven, true), 0u);
  EXPECT_EQ(seven, L"\u0416x");
  EXPECT_FALSE(os::wide_decoder(999999).ok());
}

TEST(OsConsole, UnencodableCharactersBecomeQuestionMarksAndBadBytesAreKept) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  ASSERT_TRUE(std::setlocale(LC_ALL, "C"));
  EXPECT_FALSE(os::console_is_utf8());
  std::string out = "<";
  os::encode_for_console(L"a\u00e9\u20ac\U0001F600\tb\n", out);
  EXPECT_EQ(out, "<a???\tb\n");
  EXPECT_EQ(os::decode_from_console("a\xff" "b"), L"a\xDCFF" L"b");
  ASSERT_TRUE(std::setlocale(LC_ALL, "C.UTF-8"));
  EXPECT_TRUE(os::console_is_utf8());
  out.clear();
  os::encode_for_console(L"\u00e9\U0001F600", out);
  EXPECT_EQ(out, "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(os::decode_from_console("\xD0\x96\xff"), L"\u0416\xDCFF");
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(OsCommandLine, ArgumentsAsGivenAndTheQuotedLine) {
  const std::vector<std::wstring> args = os::command_args();
  ASSERT_FALSE(args.empty());
  EXPECT_NE(args[0].find(L"os_test"), std::wstring::npos);
  EXPECT_EQ(os::command_line().rfind(os::join_command_line({args[0]}), 0), 0u);

  EXPECT_EQ(os::join_command_line({L"/usr/bin/sqlterm", L"-q:select 1", L"-do", L"a b"}),
            L"/usr/bin/sqlterm -q:\"select 1\" -do \"a b\"");
  // The program's own path is never read as an option.
  EXPECT_EQ(os::join_command_line({L"-x:odd name"}), L"\"-x:odd name\"");
  EXPECT_EQ(os::join_command_line({L"-x:odd name"}, false), L"-x:\"odd name\"");
  // Quotes and backslashes in a value that is not an option survive a re-split.
  EXPECT_EQ(os::join_command_line({L"p", L"say \"hi\"", L"", L"c:\\dir \\"}, true),
            L"p \"say \\\"hi\\\"\" \"\" \"c:\\dir \\\\\"");
}

TEST(OsFiles, CreationRulesAndWriterLocks) {
  vela::testing::temp_dir dir;
  const std::wstring path = dir.wpath("f.bin");
  os::handle h = os::invalid_handle, h2 = os::invalid_handle;
  EXPECT_EQ(os::open_file(path, os::generic_read, os::share_read, os::open_existing, h), 2u);
  EXPECT_EQ(h, os::invalid_handle);
  EXPECT_EQ(os::open_file(dir.wpath("no/such/f"), os::generic_write, 0, os::create_always, h), 2u);
  EXPECT_EQ(os::open_file(dir.wpath(), os::generic_read, os::share_read, os::open_existing, h), 5u);
  EXPECT_EQ(os::open_file(path, os::generic_read, 0, 9, h), 87u);

  ASSERT_EQ(os::open_file(path, os::generic_write, os::share_read, os::create_new, h), 0u);
  ASSERT_EQ(os::write_file(h, "hello world", 11), 0u);
  EXPECT_EQ(os::open_file(path, os::generic_write, os::share_read, os::create_new, h2), 80u);
  // A second writer is refused while the first denies writing, and cuts nothing.
  EXPECT_EQ(os::open_file(path, os::generic_write, os::share_read, os::create_always, h2), 32u);
  int64_t size = 0;
  EXPECT_EQ(os::file_size(h, size), 0u);
  EXPECT_EQ(size, 11);
  // Readers take no lock.
  ASSERT_EQ(os::open_file(path, os::generic_read, os::share_read | os::share_write, os::open_existing, h2), 0u);
  char buf[32];
  size_t got = 0;
  EXPECT_EQ(os::read_file(h2, buf, sizeof buf, got), 0u);
  EXPECT_EQ(std::string(buf, got), "hello world");  // to the end of the file, however much was asked
  EXPECT_EQ(os::close_handle(h2), 0u);

  int64_t pos = -1;
  EXPECT_EQ(os::seek_file(h, 5, 0, &pos), 0u);
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(os::truncate_file(h), 0u);
  EXPECT_EQ(os::file_size(h, size), 0u);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(os::close_handle(h), 0u);
  EXPECT_EQ(os::close_handle(os::invalid_handle), 6u);
  EXPECT_EQ(os::close_handle(os::null_handle), 6u);
  EXPECT_EQ(dir.read("f.bin"), "hello");
  // Once the writer is gone another may come.
  ASSERT_EQ(os::open_file(path, os::generic_write, 0, os::truncate_existing, h), 0u);
  EXPECT_EQ(os::close_handle(h), 0u);
  EXPECT_EQ(dir.read("f.bin"), "");
  EXPECT_EQ(os::remove_file(path), 0u);
  EXPECT_EQ(os::remove_file(path), 2u);
}

TEST(OsPaths, ExecutableShortNamesAndFolders) {
  EXPECT_NE(os::executable_path().find(L"os_test"), std::wstring::npos);
  std::wstring short_name = L"unchanged";
  EXPECT_FALSE(os::short_path_name(os::executable_path(), short_name));  // no 8.3 names here
  EXPECT_EQ(os::native_path(L"d\u00e9j\u00e0/\u0416"), "d\xC3\xA9j\xC3\xA0/\xD0\x96");

  vela::testing::temp_dir dir;
  const std::wstring deep = dir.wpath("a/b/c");
  EXPECT_EQ(os::create_folders(deep), 0u);
  EXPECT_EQ(os::create_folders(deep), 0u);  // existing is fine
  EXPECT_TRUE(os::path_exists(deep));
  EXPECT_FALSE(os::is_regular_file(deep));
  EXPECT_TRUE(os::folder_writable(deep));
  EXPECT_FALSE(os::folder_writable(dir.wpath("missing")));
  EXPECT_TRUE(os::is_regular_file(os::executable_path()));
  EXPECT_FALSE(os::is_regular_file(L"/dev/null"));
}
