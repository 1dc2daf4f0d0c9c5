// Text files that only POSIX systems give: FIFOs and pipes named by a path.
#include "vela/textfile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "support/temp_dir.h"
#include "vela/utf.h"

using namespace vela;
using vela::testing::temp_dir;

namespace {

text_file_code_page cp(const wchar_t* name) { return parse_code_page(name); }

std::wstring read_text(const std::wstring& path, text_file_code_page page) {
  std::wstring text;
  textfile(path, page).read_all(text, nullptr);
  return text;
}

} // namespace

// What a shell passes as a file: a FIFO, a pipe through /dev/fd; their size says 0.
TEST(TextFile, PipesAndFifosAreReadToTheirEnd) {
  temp_dir dir;
  std::string script;
  for (int i = 0; script.size() < 300000; ++i) script += "select " + std::to_string(i) + ", 'я';\n";
  const std::string fifo = dir.path("in.sql");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { dir.write("in.sql", script); });
  EXPECT_EQ(read_text(dir.wpath("in.sql"), cp(L"auto")), vela::utf8_to_wide(script));
  writer.join();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread pipe_writer([&] {
    const std::string u16 = "\xFF\xFE" + vela::wide_to_utf16le(L"select 'Ω';");
    EXPECT_EQ(write(fds[1], u16.data(), u16.size()), static_cast<ssize_t>(u16.size()));
    close(fds[1]);
  });
  const std::string path = "/dev/fd/" + std::to_string(fds[0]);
  EXPECT_EQ(read_text(std::wstring(path.begin(), path.end()), cp(L"auto")), L"select 'Ω';");
  pipe_writer.join();
  close(fds[0]);
}
