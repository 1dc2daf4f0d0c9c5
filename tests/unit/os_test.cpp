#include "os/os.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

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
