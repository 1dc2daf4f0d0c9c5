#include "vela/async_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_platform.h"

using namespace vela;
using vela::testing::temp_dir;
namespace fs = std::filesystem;

namespace {

// Writer clocks for tests: one that never moves, one the test moves by hand.
uint32_t stopped_clock() { return 1000000; }
std::atomic<uint32_t> manual_ms{1000000};
uint32_t manual_clock() { return manual_ms.load(); }

log_record rec(const std::wstring& tag, const std::wstring& text) {
  log_record r;
  r.seconds = 1491383287;  // some instant; its local rendering is checked by pattern only
  r.nanoseconds = 6000000;
  r.tag = tag;
  r.text = text;
  r.process_id = 0x1A;
  r.thread_id = 0x2B3C4;
  return r;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// A parameter file and the log beside it, in a temporary folder.
struct log_place {
  temp_dir dir;
  std::wstring base() const { return dir.wpath("prog"); }
  void wli(const std::string& text) const { dir.write("prog.wli", text); }
  std::string log() const { return dir.read("prog.log"); }
  bool log_exists() const { return fs::exists(dir.path("prog.log")); }
};

LogWliParams load(const log_place& p) {
  LogWliParams params(p.base());
  params.reload();
  return params;
}

} // namespace

TEST(LogParams, LineLayoutAndFilter) {
  LogParams p;
  EXPECT_EQ(p.format_line(rec(L"AMP", L"Started")), L"");  // no events: nothing accepted
  p.events[L"AMP"] = L"";
  const std::wstring line = p.format_line(rec(L"AMP", L"Started"));
  EXPECT_TRUE(std::regex_match(line, std::wregex(LR"(AMP \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.006 PID=001A TID=2B3C4 Started\r\n)")))
      << std::string(line.begin(), line.end());
  p.time_format.clear();
  p.show_pid = p.show_tid = false;
  EXPECT_EQ(p.format_line(rec(L"amp", L"multi\nline")), L"amp multi\nline\r\n");
  p.time_format = L"HH:mm";
  EXPECT_TRUE(std::regex_match(p.format_line(rec(L"AMP", L"x")), std::wregex(LR"(AMP \d\d:\d\d x\r\n)")));

  LogParams f;
  f.events[L"TOO"] = L"connection::connect.*";
  EXPECT_TRUE(f.accepts(L"too", L"CONNECTION::connect(hwnd=0) begin"));
  EXPECT_FALSE(f.accepts(L"TOO", L"connection::disconnect"));
  EXPECT_FALSE(f.accepts(L"TOOL", L"connection::connect"));  // whole-string match
  f.events = {{L"", L""}};
  EXPECT_FALSE(f.accepts(L"AMP", L"x"));
  EXPECT_TRUE(f.accepts(L"", L"x"));
  f.events = {{L".*", L" lead.*"}};
  EXPECT_TRUE(f.accepts(L"X", L" leading blank"));
  EXPECT_FALSE(f.accepts(L"X", L"leading blank"));
  f.events = {{L"[", L""}};
  EXPECT_FALSE(f.accepts(L"X", L"y"));  // a pattern that does not compile drops the line
}

TEST(LogParams, FilterPatternsRunInLinearTimeAndBadOnesDropTheLine) {
  LogParams f;
  const std::wstring long_line(50000, L'a');
  f.events = {{L".*", L".*"}};
  EXPECT_TRUE(f.accepts(L"TOO", long_line));
  // Nested quantifiers that take exponential time with a backtracking engine.
  f.events = {{L".*", L"(a*)*b"}};
  EXPECT_FALSE(f.accepts(L"TOO", long_line));
  f.events = {{L".*", L"(a|aa)+"}};
  EXPECT_TRUE(f.accepts(L"TOO", long_line));
  f.events = {{L".*", L"((a+)+)+c"}};
  EXPECT_FALSE(f.accepts(L"TOO", long_line + L"x"));
  // Refused by the engine: a back reference, a repetition count beyond its limit.
  f.events = {{L"(a)\\1", L""}, {L".*", L""}};
  EXPECT_FALSE(f.accepts(L"aa", L"x"));
  f.events = {{L"A", L"x{2000}"}, {L"Z", L""}};
  EXPECT_FALSE(f.accepts(L"A", L"x"));
  EXPECT_TRUE(f.accepts(L"Z", L"x"));  // the bad entry is only tried for tag A
  // Any letter case, also beyond ASCII; the text is matched whole.
  f.events = {{L"t\u00e4g", L"\u00fcber.*"}};
  EXPECT_TRUE(f.accepts(L"T\u00c4G", L"\u00dcBER alles"));
  EXPECT_FALSE(f.accepts(L"T\u00c4G", L" \u00fcber"));
}

TEST(LogWli, IniKeys) {
  log_place p;
  p.wli("[Prms]\nTmFrmt=\nPID=on\nTID=Off\nStrtMd=Overwrite\nFlshSec=5\nFlshLns=10\n[Evts]\nAMP=\nTOO=connect.*\n");
  LogWliParams a = load(p);
  EXPECT_EQ(a.time_format, L"");
  EXPECT_TRUE(a.show_pid);
  EXPECT_FALSE(a.show_tid);
  EXPECT_EQ(a.start_mode, start_overwrite);
  EXPECT_EQ(a.flush_seconds, 5u);
  EXPECT_EQ(a.flush_bytes, 800u);
  EXPECT_EQ(a.events.size(), 2u);
  EXPECT_EQ(a.events[L"TOO"], L"connect.*");
  EXPECT_TRUE(a.wli_time.is_set());

  p.wli("[Prms]\nTmFrmt=HH:mm\nPID= On\nTID=1\nStrtMd=new\nflushseconds=7\nflushlines=100\nFlshLns=10\n[Evts]\n  x = y\n");
  LogWliParams b = load(p);
  EXPECT_EQ(b.time_format, L"HH:mm");
  EXPECT_FALSE(b.show_pid);
  EXPECT_FALSE(b.show_tid);
  EXPECT_EQ(b.start_mode, start_new);
  EXPECT_EQ(b.flush_seconds, 7u);
  EXPECT_EQ(b.flush_bytes, 100u);
  EXPECT_EQ(b.events[L"x"], L" y");

  p.wli("[Evts]\nAMP=\n");  // no Prms: read again as the line format, which finds nothing
  LogWliParams c = load(p);
  EXPECT_TRUE(c.events.empty());
  EXPECT_EQ(c.time_format, L"dd.MM.yyyy HH:mm:ss.ii");
}

TEST(LogWli, LineFormatAndDefaults) {
  log_place p;
  p.wli("+TOO\r\n\r\n+AMP\n  + T O!\n!X\n");
  LogWliParams a = load(p);
  EXPECT_EQ(a.events.size(), 3u);
  EXPECT_EQ(a.events.count(L"TOO"), 1u);
  EXPECT_EQ(a.events.count(L"TO!"), 1u);
  EXPECT_EQ(a.flush_bytes, 1u);
  p.wli("+AMP\n!IMM\n");
  EXPECT_EQ(load(p).flush_bytes, 4096u);
  p.wli("\xEF\xBB\xBF[Prms]\n[Evts]\nAMP=\n");  // the mark hides [Prms]
  EXPECT_TRUE(load(p).events.empty());
  fs::remove(p.dir.path("prog.wli"));
  LogWliParams none = load(p);
  EXPECT_TRUE(none.events.empty());
  EXPECT_FALSE(none.wli_time.is_set());
  EXPECT_EQ(none.log_file, p.base() + L".log");
}

TEST(AsyncLog, NoParameterFileWritesNothing) {
  log_place p;
  AsyncLog log({p.base(), 0});
  EXPECT_NE(log.write(L"AMP", L"before start"), 0u);
  ASSERT_EQ(log.start(), 0u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(log.write(L"AMP", L"x"), 0u);
  EXPECT_EQ(log.stop(Log::no_limit), 0u);
  EXPECT_FALSE(p.log_exists());
  EXPECT_NE(log.write(L"AMP", L"after stop"), 0u);
}

TEST(AsyncLog, ThreadsKeepTheirOrderAndNothingIsLost) {
  log_place p;
  p.wli("[Prms]\nTmFrmt=\nPID=Off\nTID=Off\n[Evts]\nTST=\n");
  AsyncLog log({p.base(), 0});
  ASSERT_EQ(log.start(), 0u);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 2000; ++i) write_formatted(log, L"TST", L"%d %d", t, i);
    });
  for (auto& t : threads) t.join();
  ASSERT_EQ(log.stop(Log::no_limit), 0u);
  const auto lines = lines_of(p.log());
  ASSERT_EQ(lines.size(), 8000u);
  int next[4] = {0, 0, 0, 0};
  for (const auto& l : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(l.c_str(), "TST %d %d", &t, &i), 2) << l;
    ASSERT_EQ(i, next[t]++) << "thread " << t;
  }
}

TEST(AsyncLog, FirstLineAtOnceLaterOnesBatched) {
  log_place p;
  p.wli("[Prms]\nTmFrmt=\nflushlines=100000\n[Evts]\nAMP=\n");
  AsyncLog log({p.base(), 0, stopped_clock});
  ASSERT_EQ(log.start(), 0u);
  log.write(L"AMP", L"first");
  ASSERT_EQ(log.sync(false), 0u);
  EXPECT_EQ(lines_of(p.log()).size(), 1u);
  log.write(L"AMP", L"second");
  ASSERT_EQ(log.sync(false), 0u);
  EXPECT_EQ(lines_of(p.log()).size(), 1u);
  ASSERT_EQ(log.sync(true), 0u);
  EXPECT_EQ(lines_of(p.log()).size(), 2u);
  ASSERT_EQ(log.stop(Log::no_limit), 0u);
  EXPECT_EQ(lines_of(p.log()).size(), 2u);
}

TEST(AsyncLog, SmallThresholdFlushesEveryLine) {
  log_place p;
  p.wli("+AMP\n!X\n");
  AsyncLog log({p.base(), 0});
  ASSERT_EQ(log.start(), 0u);
  for (int i = 0; i < 3; ++i) log.write(L"AMP", L"line");
  ASSERT_EQ(log.sync(false), 0u);
  EXPECT_EQ(lines_of(p.log()).size(), 3u);
  log.stop(Log::no_limit);
}

TEST(AsyncLog, BadPatternDropsLinesButTheWriterGoesOn) {
  log_place p;
  p.wli("[Prms]\nTmFrmt=\n[Evts]\n[bad=\nAMP=\n");
  AsyncLog log({p.base(), 0});
  ASSERT_EQ(log.start(), 0u);
  log.write(L"AMP", L"one");
  log.write(L"ZZZ", L"dropped");
  log.write(L"AMP", L"two");
  ASSERT_EQ(log.stop(Log::no_limit), 0u);
  const auto lines = lines_of(p.log());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("two"), std::string::npos);
}

TEST(AsyncLog, StartModes) {
  log_place p;
  p.dir.write("prog.log", "old line\r\n");
  p.wli("[Prms]\nTmFrmt=\n[Evts]\nAMP=\n");
  {
    AsyncLog log({p.base(), 0});
    log.start();
    log.write(L"AMP", L"appended");
    log.stop(Log::no_limit);
  }
  EXPECT_EQ(lines_of(p.log()).size(), 2u);
  p.wli("[Prms]\nStrtMd=ovrwrt\n[Evts]\nnothing=\n");
  {
    AsyncLog log({p.base(), 0});
    log.start();
    log.stop(Log::no_limit);
  }
  EXPECT_FALSE(p.log_exists());  // deleted even though no line was accepted
  p.wli("[Prms]\nStrtMd=new\n[Evts]\nAMP=\n");
  {
    AsyncLog log({p.base(), 0});
    log.start();
    log.write(L"AMP", L"own file");
    log.stop(Log::no_limit);
  }
  int found = 0;
  for (const auto& e : fs::directory_iterator(p.dir.path())) {
    const std::string name = e.path().filename().string();
    if (std::regex_match(name, std::regex(R"(prog\d{8}-\d{9}\.log)"))) ++found;
  }
  EXPECT_EQ(found, 1);
}

TEST(AsyncLog, ParameterFileChangesArePickedUp) {
  log_place p;
  p.wli("[Prms]\nTmFrmt=\n[Evts]\nAMP=\n");
  AsyncLog log({p.base(), 100, manual_clock});
  ASSERT_EQ(log.start(), 0u);
  log.write(L"TOO", L"not yet");
  ASSERT_EQ(log.sync(false), 0u);
  p.wli("[Prms]\nTmFrmt=\n[Evts]\nTOO=\n");
  manual_ms += 100;  // the reload period has passed
  ASSERT_EQ(log.sync(false), 0u);
  log.write(L"TOO", L"now");
  log.write(L"AMP", L"no longer");
  ASSERT_EQ(log.stop(Log::no_limit), 0u);
  const auto lines = lines_of(p.log());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("TOO"), std::string::npos);
  EXPECT_NE(lines[0].find("now"), std::string::npos);
}

TEST(AsyncLog, AProgramLogsBesideItsExecutable) {
  temp_dir dir;
  const fs::path probe = fs::path(LOG_PROBE_PATH);
  const std::string exe = fs::path("probe").replace_extension(probe.extension()).string();  // .exe on Windows
  fs::copy_file(probe, dir.path(exe));
  fs::permissions(dir.path(exe), fs::perms::owner_exec, fs::perm_options::add);
  dir.write("probe.wli", "[Prms]\n[Evts]\nAMP=\nSOA=\nTST=t1 .*\n");
  std::string cmd = "\"";
  cmd += dir.path(exe) + "\" 3 500";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const auto lines = lines_of(dir.read("probe.log"));
  ASSERT_EQ(lines.size(), 503u);
  EXPECT_TRUE(std::regex_match(lines.front(), std::regex(R"(AMP \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} PID=[0-9A-F]{4,} TID=[0-9A-F]{4,} Started)")))
      << lines.front();
  EXPECT_NE(lines[1].find("SOA"), std::string::npos);
  EXPECT_NE(lines[1].find("Closing handle: h=0000000000000000,this="), std::string::npos);
  EXPECT_NE(lines[1].find("-skipped(invalid)."), std::string::npos);
  EXPECT_NE(lines.back().find("Prg end(0,done)."), std::string::npos);
  // Without a parameter file the same run leaves no log.
  fs::remove(dir.path("probe.wli"));
  fs::remove(dir.path("probe.log"));
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_FALSE(fs::exists(dir.path("probe.log")));
}

TEST(AsyncLog, FlushPeriodsOutOfRangeAreClamped) {
  log_place p;
  p.wli("[Prms]\nFlshSec=-1\n[Evts]\nAMP=\n");
  EXPECT_EQ(load(p).flush_seconds, 0u);
  p.wli("[Prms]\nFlshSec=99999999999\n[Evts]\nAMP=\n");
  EXPECT_EQ(load(p).flush_seconds, max_flush_seconds);
  p.wli("[Prms]\nflushseconds=-5\n[Evts]\nAMP=\n");
  EXPECT_EQ(load(p).flush_seconds, 0u);
  p.wli("[Prms]\nFlshSec=4294968\n[Evts]\nAMP=\n");  // times 1000 overflows 32 bits
  EXPECT_EQ(load(p).flush_seconds, max_flush_seconds);
  p.wli("[Prms]\nFlshSec=30\n[Evts]\nAMP=\n");
  EXPECT_EQ(load(p).flush_seconds, 30u);
}

TEST(AsyncLog, AnIdleWriterUsesNoCpu) {
  for (const char* period : {"-1", "2147484"}) {
    SCOPED_TRACE(period);
    log_place p;
    p.wli(std::string("[Prms]\nTmFrmt=\nPID=Off\nTID=Off\nFlshSec=") + period + "\n[Evts]\nAMP=\n");
    AsyncLog log({p.base(), 0});
    ASSERT_EQ(log.start(), 0u);
    log.write(L"AMP", L"one line, then nothing");
    ASSERT_EQ(log.sync(true), 0u);
    const double before = vela::testing::process_cpu_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a spinning writer would use nearly all of it
    const double used = vela::testing::process_cpu_ms() - before;
    EXPECT_LT(used, 50.0);
    log.write(L"AMP", L"still writing");
    ASSERT_EQ(log.stop(Log::no_limit), 0u);
    EXPECT_EQ(lines_of(p.log()), (std::vector<std::string>{"AMP one line, then nothing", "AMP still writing"}));
  }
}

#ifndef _WIN32
#include <sys/stat.h>

// Whatever stands at the log's name, the log never writes through it nor waits on it; a new
// log is private to the user.
TEST(AsyncLog, OnlyARegularFileAtTheLogsNameIsWritten) {
  enum kind { none, link_to_file, fifo, dangling_link };
  struct row {
    kind at_name;
    bool written;
  };
  const row rows[] = {{none, true}, {link_to_file, false}, {fifo, false}, {dangling_link, false}};
  for (const row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.at_name));
    log_place p;
    temp_dir other;
    other.write("victim", "secret\n");
    switch (r.at_name) {
      case none: break;
      case link_to_file: fs::create_symlink(other.path("victim"), p.dir.path("prog.log")); break;
      case dangling_link: fs::create_symlink(other.path("new"), p.dir.path("prog.log")); break;
      case fifo: ASSERT_EQ(mkfifo(p.dir.path("prog.log").c_str(), 0600), 0); break;
    }
    p.wli("[Prms]\nTmFrmt=\n[Evts]\nAMP=\n");
    AsyncLog log({p.base(), 0});
    ASSERT_EQ(log.start(), 0u);
    log.write(L"AMP", L"alter role u password 'x'");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(log.stop(Log::no_limit), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(other.read("victim"), "secret\n");
    EXPECT_FALSE(fs::exists(other.path("new")));
    struct stat st {};
    ASSERT_EQ(lstat(p.dir.path("prog.log").c_str(), &st), 0);
    EXPECT_EQ(S_ISREG(st.st_mode), r.written);
    if (r.written) {
      EXPECT_EQ(st.st_mode & 07777, 0600u);
      EXPECT_EQ(lines_of(p.log()).size(), 1u);
    }
  }
}
#endif
