#include "vela/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/os.h"

using namespace vela;

namespace {

std::vector<uint32_t> reported;
void record(uint32_t code) { reported.push_back(code); }

} // namespace

TEST(ConsoleWriter, AFailedWriteIsReportedOnceAndLaterOutputDropped) {
  const int fd = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  reported.clear();
  {
    console_writer out(fd);
    out.on_failure(record);
    out.write(L"first line");
    EXPECT_EQ(out.error(), 0u);  // still in the buffer
    out.flush();
    EXPECT_EQ(out.error(), uint32_t{os::err_disk_full});
    // More than a buffer's worth goes straight through: still nothing written, nothing reported.
    out.write(std::wstring(200000, L'x'));
    out.pad(100000);
    out.line_break();
    out.flush();
  }  // and the destructor's flush stays quiet too
  ::close(fd);
  EXPECT_EQ(reported, std::vector<uint32_t>{os::err_disk_full});
}

TEST(ConsoleWriter, AClosedPipeIsItsOwnError) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::close(p[0]);
  auto* old = ::signal(SIGPIPE, SIG_IGN);
  reported.clear();
  {
    console_writer out(p[1]);
    out.on_failure(record);
    out.write(L"x").flush();
    EXPECT_EQ(out.error(), uint32_t{os::err_broken_pipe});
  }
  ::signal(SIGPIPE, old);
  ::close(p[1]);
  EXPECT_EQ(reported, std::vector<uint32_t>{os::err_broken_pipe});
}

TEST(ConsoleWriter, WithoutAFailureEverythingArrives) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  {
    console_writer out(p[1]);
    out.write(L"a\u00e9").pad(3).write(L'b').line_break();
    out.flush();
    EXPECT_EQ(out.error(), 0u);
  }
  ::close(p[1]);
  char buf[64];
  const ssize_t n = ::read(p[0], buf, sizeof buf);
  ::close(p[0]);
  ASSERT_GT(n, 0);
  const std::string got(buf, static_cast<size_t>(n));
  EXPECT_EQ(got.substr(0, 1), "a");
  EXPECT_EQ(got.substr(got.size() - 5), "   b\n");
}

namespace {

// Output into a temporary file, read back at any point.
struct file_output {
  file_output() {
    char name[] = "/tmp/vela_console_XXXXXX";
    fd = ::mkstemp(name);
    path = name;
  }
  ~file_output() {
    ::close(fd);
    ::unlink(path.c_str());
  }
  std::string text() const {
    std::string out;
    char buf[65536];
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd, buf, sizeof buf, at);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
      at += n;
    }
    return out;
  }
  int fd = -1;
  std::string path;
};

} // namespace

TEST(ConsoleWriter, OutputIntoAFileWaitsForFlushOrAFullBuffer) {
  file_output f;
  console_writer out(f.fd);
  EXPECT_FALSE(out.is_terminal());
  out.write(L"one").line_break();
  EXPECT_EQ(f.text(), "");  // a file or a pipe gets large pieces, not lines
  out.flush();
  EXPECT_EQ(f.text(), "one\n");
  out.flush();  // nothing more to write
  EXPECT_EQ(f.text(), "one\n");

  // Filling the buffer writes it out; a piece larger than the buffer follows what came before.
  const std::wstring block(40000, L'a');
  out.write(block).write(block);
  EXPECT_EQ(f.text().size(), 4u + 40000u);
  out.write(std::wstring(100000, L'b'));
  out.flush();
  const std::string all = f.text();
  ASSERT_EQ(all.size(), 4u + 80000u + 100000u);
  EXPECT_EQ(all.find('b'), 4u + 80000u);
  EXPECT_EQ(all.find_last_of('a'), 4u + 80000u - 1);

  out.pad(70000).write(L'|');
  out.flush();
  EXPECT_TRUE(f.text().substr(180004) == std::string(70000, ' ') + "|");
}

TEST(ConsoleWriter, LineFlushWritesEveryLine) {
  file_output f;
  console_writer out(f.fd);
  out.set_line_flush(true);
  out.write(L"first");
  EXPECT_EQ(f.text(), "");
  out.line_break();
  EXPECT_EQ(f.text(), "first\n");
  out.write(L'x').line_break();
  EXPECT_EQ(f.text(), "first\nx\n");
}

TEST(ConsoleWriter, Utf16FromTheDriverCountsCharacters) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  ASSERT_TRUE(std::setlocale(LC_ALL, "C.UTF-8"));
  file_output f;
  {
    console_writer out(f.fd);
    const std::u16string ascii = u"abcdefghij";
    EXPECT_EQ(out.write_utf16(ascii.data(), ascii.size()), 10u);
    // ASCII first, then a letter outside it, then a pair that makes one character.
    const std::u16string mixed = u"abcd\u0416e\U0001F600f";
    EXPECT_EQ(out.write_utf16(mixed.data(), mixed.size()), 8u);
    // A lone half of a pair becomes the replacement character.
    const char16_t lone[] = {u'x', 0xD800, u'y'};
    EXPECT_EQ(out.write_utf16(lone, 3), 3u);
  }
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(f.text(), "abcdefghijabcd\xD0\x96" "e\xF0\x9F\x98\x80" "fx\xEF\xBF\xBDy");
}

TEST(ConsoleWriter, ALocaleThatCannotEncodeGetsQuestionMarks) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  ASSERT_TRUE(std::setlocale(LC_ALL, "C"));
  file_output f;
  {
    console_writer out(f.fd);  // takes the locale's encoding when made
    out.write(L"caf\u00e9 ");
    const std::u16string w = u"\u0416\U0001F600!";
    out.write_utf16(w.data(), w.size());
    out.write(L'\u20ac').line_break();
  }
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(f.text(), "caf? ??" "!?\n");
}

TEST(ConsoleWriter, ExitStatusKeepsEveryFailureVisible) {
  EXPECT_EQ(exit_status(0), 0);
  EXPECT_EQ(exit_status(2), 2);
  EXPECT_EQ(exit_status(87), 87);
  EXPECT_EQ(exit_status(255), 255);
  EXPECT_EQ(exit_status(256), 255);  // low 8 bits zero: never a success
  EXPECT_EQ(exit_status(1359), 79);
  EXPECT_EQ(exit_status(0x20000100u), 255);
  EXPECT_EQ(exit_status(0xFFFFFFFFu), 255);
}
