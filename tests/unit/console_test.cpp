#include "vela/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

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
