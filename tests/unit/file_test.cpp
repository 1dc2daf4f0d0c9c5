#include "vela/file.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "File/strings.h"
#include "os/os.h"
#include "Terminal/strings.h"
#include "support/temp_dir.h"
#include "support/test_platform.h"
#include "vela/platform.h"

using namespace vela;
using vela::testing::temp_dir;
namespace fa = vela::file_access;

namespace {

uint32_t open_writer(file& f, const std::wstring& path, uint32_t share, uint32_t disposition = fa::open_always) {
  return f.open_code(path, fa::read | fa::write, share, nullptr, disposition, fa::normal_attributes, 0);
}

} // namespace

TEST(File, WritersExcludeEachOtherWhenSharingDeniesWriting) {
  temp_dir dir;
  dir.write("a.txt", "keep me");
  const std::wstring path = dir.wpath("a.txt");
  file first, second, reader;
  ASSERT_EQ(open_writer(first, path, fa::share_read), 0u);
  // A second writer is refused whatever it shares, and must not cut the file.
  EXPECT_EQ(open_writer(second, path, fa::share_read, fa::create_always), 32u);
  EXPECT_FALSE(second.is_open());
  EXPECT_EQ(open_writer(second, path, fa::share_read | fa::share_write), 32u);
  EXPECT_EQ(dir.read("a.txt"), "keep me");
  // Readers do not lock.
  EXPECT_EQ(reader.open_code(path, fa::read, fa::share_read | fa::share_write, nullptr, fa::open_existing, 0, 0), 0u);
  first.close();
  EXPECT_EQ(open_writer(second, path, fa::share_read), 0u);
  // Two writers that both share writing may work side by side.
  second.close();
  file a, b;
  EXPECT_EQ(open_writer(a, path, fa::share_read | fa::share_write), 0u);
  EXPECT_EQ(open_writer(b, path, fa::share_read | fa::share_write), 0u);
}

TEST(File, ErrorsNameThePathAndKeepTheCode) {
  temp_dir dir;
  file f;
  const std::wstring missing = dir.wpath("missing.bin");
  try {
    f.open(missing, fa::read, fa::share_read, nullptr, fa::open_existing, 0, 0);
    FAIL();
  } catch (const file_error& e) {
    EXPECT_EQ(e.code(), 2);
    EXPECT_EQ(e.file_name(), missing);
    EXPECT_EQ(e.what(), L"File operation failed '" + missing + L"' (" + GetErrorText(2) + L")");
  }
  EXPECT_FALSE(f.is_open());
  // A missing folder: Windows says "path not found".
  EXPECT_EQ(f.open_code(dir.wpath("no/such/dir.bin"), fa::write, 0, nullptr, fa::create_always, 0, 0),
            vela::windows_platform ? 3u : 2u);
  dir.write("plain", "x");
  EXPECT_EQ(f.open_code(dir.wpath("plain/x"), fa::read, 0, nullptr, fa::open_existing, 0, 0), 3u);
  EXPECT_EQ(f.open_code(dir.wpath(), fa::read, 0, nullptr, fa::open_existing, 0, 0), 5u);
  EXPECT_EQ(f.open_code(dir.wpath("plain"), fa::write, 0, nullptr, fa::create_new, 0, 0), 80u);
}

TEST(File, RawReadWriteSeekAndCloseTwice) {
  temp_dir dir;
  file f;
  ASSERT_EQ(open_writer(f, dir.wpath("raw.bin"), fa::share_read, fa::create_always), 0u);
  EXPECT_EQ(f.write("0123456789", 10), 0u);
  EXPECT_EQ(f.seek(4, 0), 0u);
  EXPECT_EQ(f.truncate(), 0u);
  int64_t size = 0;
  EXPECT_EQ(f.size(size), 0u);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(f.seek(0, 0), 0u);
  char buf[16] = {};
  size_t got = 0;
  EXPECT_EQ(f.read(buf, sizeof buf, got), 0u);
  EXPECT_EQ(std::string(buf, got), "0123");
  EXPECT_TRUE(f.close_result().succeeded());
  EXPECT_EQ(f.close_result().code(), 0u);  // nothing to close: logged and ignored
}

TEST(Paths, SplitPath) {
  std::wstring drive = L"x", dir, base, ext;
  ASSERT_TRUE(split_path(L"/usr/local/bin/sqlterm.exe", &drive, &dir, &base, &ext));
  EXPECT_EQ(drive, L"");
  EXPECT_EQ(dir, L"/usr/local/bin/");
  EXPECT_EQ(base, L"sqlterm");
  EXPECT_EQ(ext, L".exe");
  ASSERT_TRUE(split_path(L"rel/dir.d/name", nullptr, &dir, &base, &ext));
  EXPECT_EQ(dir, L"rel/dir.d/");
  EXPECT_EQ(base, L"name");
  EXPECT_EQ(ext, L"");
  ASSERT_TRUE(split_path(L"archive.tar.gz", nullptr, &dir, &base, &ext));
  EXPECT_EQ(dir, L"");
  EXPECT_EQ(base, L"archive.tar");
  EXPECT_EQ(ext, L".gz");
  ASSERT_TRUE(split_path(L"/etc/.profile", nullptr, nullptr, &base, &ext));
  EXPECT_EQ(base, L"");
  EXPECT_EQ(ext, L".profile");
  EXPECT_FALSE(split_path(L"/" + std::wstring(300, L'n'), nullptr, &dir, &base, &ext));
  EXPECT_EQ(base, L"");  // outputs untouched on failure
}

TEST(Paths, ExistenceTimesAndModule) {
  temp_dir dir;
  EXPECT_TRUE(file_exists(dir.wpath()));
  EXPECT_FALSE(file_exists(dir.wpath("nothing")));
  dir.write("t", "x");
  b_time created, written;
  EXPECT_TRUE(file_times(dir.wpath("t"), &created, nullptr, &written).succeeded());
  EXPECT_GE(written.year(), 2024);
  EXPECT_TRUE(created.is_set());
  EXPECT_EQ(file_times(dir.wpath("nothing"), nullptr, nullptr, &written).code(), 2u);
  const std::wstring exe = module_path();
  EXPECT_NE(exe.find(L"file_test"), std::wstring::npos);
  EXPECT_EQ(module().file_name(), exe);
  const uint32_t start = tick_count() - 5;  // may wrap below zero
  EXPECT_GE(elapsed_ms(start), 5u);
  EXPECT_LT(elapsed_ms(start), 60000u);
}

TEST(StringTables, EnglishLongAndMissingStrings) {
  set_string_table(&terminal::strings());
  module m;
  EXPECT_EQ(m.load_string(4), L"Command failed");
  EXPECT_EQ(m.load_string(113), L"Ccommand parameter missed\n");
  const std::wstring usage = m.load_string(1);
  EXPECT_GT(usage.size(), 64u);
  EXPECT_EQ(usage.rfind(L"Connect to database in terminal mode:\n", 0), 0u);
  EXPECT_EQ(usage.back(), L'd');  // no line break after the last line
  EXPECT_EQ(m.load_string(999), L"");
  set_string_table(&blobfile::strings());
  EXPECT_EQ(load_string(&m, 11), L"to database");
  set_string_table(nullptr);
  EXPECT_EQ(m.load_string(4), L"");
}

TEST(StringTables, RussianChosenByTheLanguage) {
  if (vela::windows_platform) GTEST_SKIP() << "Windows takes the language from the system, not the environment";
  EXPECT_EXIT(
      {
        vela::testing::set_env("LC_ALL", nullptr);
        vela::testing::set_env("LC_MESSAGES", nullptr);
        vela::testing::set_env("LANG", "ru_RU.UTF-8");
        os::forget_language();
        set_string_table(&terminal::strings());
        std::exit(module().load_string(4) == L"Команда не выполнена" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        vela::testing::set_env("LC_ALL", "de_DE.UTF-8");
        vela::testing::set_env("LANG", "ru_RU.UTF-8");
        os::forget_language();
        set_string_table(&terminal::strings());
        std::exit(module().load_string(4) == L"Command failed" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(StringTables, RussianTablesHaveTheSameIdsAndPlaceholders) {
  for (const string_table* t : {&terminal::strings(), &blobfile::strings()}) {
    ASSERT_EQ(t->english_count, t->russian_count);
    for (size_t i = 0; i < t->english_count; ++i) {
      EXPECT_EQ(t->english[i].id, t->russian[i].id);
      auto placeholders = [](const std::wstring& s) {
        std::wstring p;
        for (size_t k = 0; k + 1 < s.size(); ++k)
          if (s[k] == L'%') p += s[k + 1];
        return p;
      };
      EXPECT_EQ(placeholders(t->english[i].text), placeholders(t->russian[i].text)) << t->english[i].id;
    }
  }
}

// The usage texts name the programs as installed and show examples that work on Linux.
TEST(StringTables, UsageTextsNameTheInstalledPrograms) {
  struct usage {
    const string_table* table;
    uint32_t id;
    const wchar_t* command;
  };
  for (const usage& u : {usage{&terminal::strings(), 1, L"\nsqlterm -cs:"}, usage{&blobfile::strings(), 2, L"blobfile \""}}) {
    for (const string_entry* tab : {u.table->english, u.table->russian}) {
      const size_t n = tab == u.table->english ? u.table->english_count : u.table->russian_count;
      std::wstring text;
      for (size_t i = 0; i < n; ++i)
        if (tab[i].id == u.id) text = tab[i].text;
      ASSERT_FALSE(text.empty());
      EXPECT_EQ(text.find(L".exe"), std::wstring::npos) << u.id;
      EXPECT_EQ(text.find(L"C:\\"), std::wstring::npos) << u.id;
      EXPECT_NE(text.find(u.command), std::wstring::npos) << u.id;
      EXPECT_NE(text.find(L"Driver=SQLite3;Database=/"), std::wstring::npos) << u.id;
      EXPECT_NE(text.find(L"Driver=PostgreSQL Unicode;Server=localhost;"), std::wstring::npos) << u.id;
    }
  }
  for (const string_entry* tab : {blobfile::strings().english, blobfile::strings().russian})
    EXPECT_NE(std::wstring(tab[1].text).find(L"> ["), std::wstring::npos);  // the optional file argument
}
