// The process log as files and programs see it: an installed log, and the log that keeps
// nothing, which spares callers the cost of building lines.
#include "vela/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_platform.h"
#include "vela/async_log.h"
#include "vela/file.h"

using namespace vela;
using vela::testing::temp_dir;

namespace {

class recording_log final : public Log {
 public:
  Log& apply(void*) override { return *this; }
  uint32_t start() override { return 0; }
  uint32_t stop(uint32_t) override { return 0; }
  uint32_t write(const std::wstring& tag, const std::wstring& text) override {
    lines.push_back(tag + L" " + text);
    return 0;
  }
  bool enabled() const override { return on; }
  bool on = true;
  std::vector<std::wstring> lines;
};

// Installs a log for one test and restores the default afterwards.
struct installed {
  explicit installed(Log* log) { set_process_log(log); }
  ~installed() { set_process_log(nullptr); }
};

} // namespace

TEST(ProcessLog, FilesWriteToTheInstalledLogAndNothingElse) {
  // Before anything is installed, lines are taken and kept nowhere.
  EXPECT_FALSE(process_log().enabled());
  EXPECT_EQ(process_log().write(L"AMP", L"lost"), 0u);
  EXPECT_EQ(write_formatted(process_log(), L"AMP", L"%s", L"lost"), 0u);

  recording_log rec;
  {
    installed guard(&rec);
    EXPECT_EQ(&process_log(), &rec);
    THandle h;
    h.close();  // closing an invalid handle is worth a line
    ASSERT_EQ(rec.lines.size(), 1u);
    EXPECT_EQ(rec.lines[0].rfind(L"SOA Closing handle: h=", 0), 0u) << rec.lines[0];
    EXPECT_NE(rec.lines[0].find(L"-skipped(invalid)."), std::wstring::npos);

    rec.on = false;  // a log that records nothing is not even asked
    EXPECT_EQ(write_formatted(rec, "TST", "%d", 1), 0u);
    EXPECT_EQ(write_formatted(rec, L"TST", L"%d", 2), 0u);
    EXPECT_EQ(rec.lines.size(), 1u);
    rec.on = true;
    EXPECT_EQ(write_formatted(rec, L"TST", L"%s=%d", L"x", 3), 0u);
    ASSERT_EQ(rec.lines.size(), 2u);
    EXPECT_EQ(rec.lines[1], L"TST x=3");
  }
  EXPECT_NE(&process_log(), &rec);
}

TEST(ProcessLog, AsyncLogIsOffWithoutParameterFileAndOnOnceOneAppears) {
  temp_dir dir;
  static std::atomic<uint32_t> now_ms{1000};
  AsyncLog log({dir.wpath("prog"), 50, [] { return now_ms.load(); }});
  EXPECT_TRUE(log.enabled());  // not started: writes are refused, not skipped
  EXPECT_NE(log.write(L"AMP", L"before start"), 0u);
  const size_t threads_before = vela::testing::thread_count();
  ASSERT_EQ(log.start(), 0u);
  ASSERT_EQ(log.sync(false), 0u);
  EXPECT_FALSE(log.enabled());
  EXPECT_EQ(log.write(L"AMP", L"skipped"), 0u);
  // Nothing to log: no writer thread.
  EXPECT_EQ(vela::testing::thread_count(), threads_before);

  dir.write("prog.wli", "[Prms]\nTmFrmt=\nPID=Off\nTID=Off\n[Evts]\nAMP=\n");
  now_ms += 50;  // the reload period has passed
  ASSERT_EQ(log.sync(false), 0u);
  EXPECT_TRUE(log.enabled());
  EXPECT_EQ(log.write(L"AMP", L"kept"), 0u);
  // The writer now (a sanitizer may add a thread of its own with the first one made).
  if (threads_before) {
    EXPECT_GT(vela::testing::thread_count(), threads_before);
  }
  ASSERT_EQ(log.stop(Log::no_limit), 0u);
  EXPECT_NE(log.write(L"AMP", L"after stop"), 0u);
  const std::string text = dir.read("prog.log");
  EXPECT_EQ(text.find("skipped"), std::string::npos) << text;
  EXPECT_NE(text.find("kept"), std::string::npos) << text;
}
