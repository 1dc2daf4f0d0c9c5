// Where the log parameter file is found and where the log it switches on goes.
#include "Log/log_place.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "support/temp_dir.h"
#include "vela/async_log.h"

using namespace vela;
using vela::testing::temp_dir;
namespace fs = std::filesystem;

namespace {

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Sets environment variables for one test and puts the old values back.
class scoped_env {
 public:
  void set(const char* name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
  ~scoped_env() {
    for (const auto& [name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// A program folder, a home and the two XDG folders, all below one temporary folder.
struct places {
  temp_dir root;
  scoped_env env;
  places() {
    for (const char* d : {"bin", "home", "config", "state"}) fs::create_directories(root.path(d));
    env.set("HOME", root.path("home"));
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("XDG_STATE_HOME", std::nullopt);
  }
  std::wstring base() const { return root.wpath("bin/prog"); }
  void wli(const std::string& rel, const std::string& tag) const {
    fs::create_directories(fs::path(root.path(rel)).parent_path());
    root.write(rel, "[Prms]\n[Evts]\n" + tag + "=\n");
  }
  // The tag that the parameter file found now lets through.
  std::string accepted_tag() const {
    LogWliParams p(base());
    p.reload();
    return p.events.empty() ? "" : std::string(p.events.begin()->first.begin(), p.events.begin()->first.end());
  }
};

} // namespace

TEST(LogPlace, CandidatesInOrder) {
  places p;
  auto c = log_place::wli_candidates(p.base());
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0], p.base() + L".wli");
  EXPECT_EQ(c[1], p.root.wpath("home/.config/vela/prog.wli"));
  EXPECT_EQ(c[2], L"/etc/vela/prog.wli");

  p.env.set("XDG_CONFIG_HOME", p.root.path("config") + "/");
  EXPECT_EQ(log_place::wli_candidates(p.base())[1], p.root.wpath("config/vela/prog.wli"));
  p.env.set("XDG_CONFIG_HOME", "relative/config");  // not absolute: ignored
  EXPECT_EQ(log_place::wli_candidates(p.base())[1], p.root.wpath("home/.config/vela/prog.wli"));
  p.env.set("XDG_CONFIG_HOME", std::nullopt);
  p.env.set("HOME", std::nullopt);  // no home: only the executable's folder and /etc
  c = log_place::wli_candidates(p.base());
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[1], L"/etc/vela/prog.wli");
}

TEST(LogPlace, BesideTheExecutableWinsThenTheUsersFolder) {
  places p;
  EXPECT_EQ(p.accepted_tag(), "");
  p.wli("home/.config/vela/prog.wli", "HOM");
  EXPECT_EQ(p.accepted_tag(), "HOM");
  p.wli("config/vela/prog.wli", "XDG");
  EXPECT_EQ(p.accepted_tag(), "HOM");  // XDG_CONFIG_HOME unset: ~/.config
  p.env.set("XDG_CONFIG_HOME", p.root.path("config"));
  EXPECT_EQ(p.accepted_tag(), "XDG");
  p.wli("bin/prog.wli", "EXE");
  EXPECT_EQ(p.accepted_tag(), "EXE");
  p.wli("config/vela/other.wli", "OTH");  // another program's file is not ours
  fs::remove(p.root.path("bin/prog.wli"));
  fs::remove(p.root.path("config/vela/prog.wli"));
  EXPECT_EQ(p.accepted_tag(), "");  // XDG_CONFIG_HOME set: ~/.config is not looked at
}

TEST(LogPlace, SwitchingPlacesWhileRunningReloadsAndMovesTheLog) {
  places p;
  p.env.set("XDG_CONFIG_HOME", p.root.path("config"));
  LogWliParams params(p.base());
  params.reload();
  params.prepare_log_file();
  EXPECT_TRUE(params.events.empty());
  p.wli("config/vela/prog.wli", "AMP");
  params.reload();
  EXPECT_EQ(params.events.count(L"AMP"), 1u);
  EXPECT_EQ(params.wli_path, p.root.wpath("config/vela/prog.wli"));
  EXPECT_EQ(params.log_file, p.root.wpath("config/vela/prog.log"));
  p.wli("bin/prog.wli", "TOO");
  params.reload();  // the same time stamp in another place still loads
  EXPECT_EQ(params.events.count(L"TOO"), 1u);
  EXPECT_EQ(params.log_file, p.root.wpath("bin/prog.log"));
}

TEST(LogPlace, LogIsWrittenBesideTheUsersParameterFile) {
  places p;
  p.wli("home/.config/vela/prog.wli", "AMP");
  {
    AsyncLog log({p.base(), 0});
    ASSERT_EQ(log.start(), 0u);
    log.write(L"AMP", L"hello");
    log.stop(Log::no_limit);
  }
  EXPECT_NE(p.root.read("home/.config/vela/prog.log").find("hello"), std::string::npos);
  EXPECT_FALSE(fs::exists(p.root.path("bin/prog.log")));
}

// A parameter file in a folder the user may not write to (an installed program's folder,
// /etc/vela) sends the log to the user's state folder, created on demand.
TEST(LogPlace, UnwritableFolderSendsTheLogToTheStateFolder) {
  places p;
  p.wli("bin/prog.wli", "AMP");
  fs::permissions(p.root.path(), fs::perms::all);  // the test user below must reach everything
  fs::permissions(p.root.path("state"), fs::perms::all);
  fs::permissions(p.root.path("home"), fs::perms::all);
  fs::permissions(p.root.path("bin"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(p.root.path("bin/prog.wli"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EXIT(
      {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::exit(3);
        if (!log_place::log_folder(wide(p.root.path("bin/prog.wli")), false).empty() &&
            log_place::log_folder(wide(p.root.path("bin/prog.wli")), false) != wide(p.root.path("home/.local/state/vela/")))
          std::exit(4);
        setenv("XDG_STATE_HOME", p.root.path("state").c_str(), 1);
        AsyncLog log({p.base(), 0});
        if (log.start() != 0) std::exit(5);
        log.write(L"AMP", L"to the state folder");
        log.stop(Log::no_limit);
        if (p.root.read("state/vela/prog.log").find("to the state folder") == std::string::npos) std::exit(6);
        struct stat st {};
        if (stat(p.root.path("state/vela").c_str(), &st) != 0 || (st.st_mode & 0777) != 0700) std::exit(7);
        std::exit(fs::exists(p.root.path("bin/prog.log")) ? 8 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}
