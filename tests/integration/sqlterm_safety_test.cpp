// Arguments that do not parse, connection strings kept in files and the language of
// messages: nothing prints a password, a source position or a text of the other language.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::temp_dir;

namespace {

const std::string secret = "Secret12";
const std::string cs = "Driver=SQLite3;Database=:memory:;Uid=u;Pwd=" + secret;
const std::map<std::string, std::string> english{{"LANG", "C.UTF-8"}, {"LC_ALL", "\x01"}, {"LC_MESSAGES", "\x01"}};
const std::map<std::string, std::string> russian{{"LANG", "ru_RU.UTF-8"}, {"LC_ALL", "\x01"}, {"LC_MESSAGES", "\x01"}};

void expect_no_secret(const run_result& r, const std::string& what) {
  EXPECT_EQ(r.out.find(secret), std::string::npos) << what << "\n" << r.out;
  EXPECT_EQ(r.err.find(secret), std::string::npos) << what << "\n" << r.err;
}

} // namespace

TEST(SqltermOptions, AMalformedOptionIsNamedAndNothingRuns) {
  struct row {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<row> rows = {
      {{"-do", "-q:select 1", "-cs:" + cs, "-nul:x"}, "Invalid option '-nul'"},
      {{"-cs:" + cs, "/nul:x", "-q:select 1"}, "Invalid option '/nul'"},
      {{"-cs:" + cs, "-lc:", "-q:select 1"}, "Invalid option '-lc'"},
      {{"-cs:" + cs, "-do:1", "-q:select 1"}, "Invalid option '-do'"},
      {{"-cs:" + cs, "-Pwd=" + secret}, "Invalid option '-Pwd'"},
      {{"--help", "-cs:" + cs}, "Invalid option '--help'"},
      {{"-cs:" + cs, "--version"}, "Invalid option '--version'"},
      {{"-cs:" + cs, "-q:select 1", "-cs:" + cs}, "Option '-cs' is given more than once"},
      {{"-do", "-DATA_ONLY", "-cs:" + cs}, "Option '-DATA_ONLY' is given more than once"},
      {{"-cs:Driver=SQLite3;Database=:memory:;Pwd=", secret}, "Argument 2 is not an option"},
  };
  for (const row& r : rows) {
    std::vector<std::string> argv{SQLTERM_PATH};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    const run_result got = run_process(argv, "", english);
    EXPECT_EQ(got.status, 87) << r.message;
    EXPECT_EQ(got.out, "") << r.message;
    EXPECT_EQ(got.err, r.message + "\nRun 'sqlterm --help' for the usage.\n");
    expect_no_secret(got, r.message);
  }
}

TEST(SqltermOptions, AValueMayStartWithABlank) {
  struct row {
    std::vector<std::string> args;
    int status;
    const char* out;
  };
  const row rows[] = {
      {{"-do", "-cd: |", "-q:select 1 a, 2 b"}, 0, "\n1 2\n\n"},  // the delimiter is its first character
      {{"-do", "-cd:\" |\"", "-q:select 1 a, 2 b"}, 0, "\n1 2\n\n"},
      {{"-do", "-cd:|", "-q: select 7"}, 0, "\n7\n\n"},  // one argument: the quoted form
      {{"-do", "-cd:|", "-q:", "select 7"}, 87, ""},       // the value in an argument of its own
  };
  for (const row& r : rows) {
    std::vector<std::string> argv{SQLTERM_PATH, "-cs:Driver=SQLite3;Database=:memory:"};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    const run_result got = run_process(argv);
    EXPECT_EQ(got.status, r.status) << r.args.back() << got.err;
    EXPECT_EQ(got.out, r.out) << r.args.back();
  }
}

TEST(SqltermOptions, ConnectionStringFromAFileOfTheOwnerOnly) {
  temp_dir dir;
  struct row {
    const char* name;
    mode_t mode;
    bool accepted;
    const char* says;
  };
  const std::vector<row> rows = {
      {"private", 0600, true, ""},
      {"read-only", 0400, true, ""},
      {"readable", 0644, false, "can be read by group or others"},
      {"group", 0640, false, "can be read by group or others"},
  };
  for (const row& r : rows) {
    dir.write(r.name, "Driver=SQLite3;Database=:memory:;Pwd=" + secret + "\n");
    ASSERT_EQ(chmod(dir.path(r.name).c_str(), r.mode), 0);
    const run_result got = run_process({SQLTERM_PATH, "-cs:@" + dir.path(r.name), "-do", "-cd:|", "-q:select 7"}, "", english);
    expect_no_secret(got, r.name);
    if (r.accepted) {
      EXPECT_EQ(got.status, 0) << r.name << got.out << got.err;
      EXPECT_EQ(got.out, "\n7\n\n") << r.name;
    } else {
      EXPECT_NE(got.status, 0) << r.name;
      std::string says = "'";
      says.append(dir.path(r.name)).append("' ").append(r.says);
      EXPECT_NE(got.out.find(says), std::string::npos) << got.out;
      EXPECT_EQ(got.out.find("\n7\n"), std::string::npos) << r.name;
    }
  }
  // No file, a folder and a FIFO (never waited on).
  ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
  for (const std::string& name : {dir.path("missing"), dir.path(), dir.path("fifo")}) {
    const run_result got = run_process({SQLTERM_PATH, "-cs:@" + name, "-q:select 1"}, "", english);
    EXPECT_NE(got.status, 0) << name;
    EXPECT_NE(got.out.find("File '" + name + "'"), std::string::npos) << got.out;
  }
}

TEST(ProgramLanguage, DriverLayerTextsFollowTheLocale) {
  temp_dir dir;
  const std::string db = "Driver=SQLite3;Database=" + dir.path("l.db") + ";";
  struct row {
    const std::map<std::string, std::string>* env;
    const char* shown;
    const char* not_shown;
    const char* sqlterm_shown;
    const char* sqlterm_not_shown;
  };
  const std::vector<row> rows = {
      {&english, "Database access error", "Ошибка", "Failed to connect to", "Не удалось"},
      {&russian, "Ошибка при обращении к базе данных", "Database access error", "Не удалось подключиться к",
       "Failed"},
  };
  for (const row& r : rows) {
    // blobfile: a database error, without the source position it was raised at.
    const run_result b = run_process({BLOBFILE_PATH, db, "select path, data from no_such_table"}, "", *r.env);
    EXPECT_NE(b.status, 0);
    EXPECT_NE(b.out.find(r.shown), std::string::npos) << b.out;
    EXPECT_EQ(b.out.find(r.not_shown), std::string::npos) << b.out;
    EXPECT_EQ(b.out.find(".cpp"), std::string::npos) << b.out;
    // sqlterm: a driver that cannot be loaded.
    const run_result s =
        run_process({SQLTERM_PATH, "-cs:Driver={No Such Driver};Pwd=" + secret, "-oe", "-q:select 1"}, "", *r.env);
    EXPECT_NE(s.status, 0);
    EXPECT_NE((s.out + s.err).find(r.sqlterm_shown), std::string::npos) << s.out << s.err;
    EXPECT_EQ((s.out + s.err).find(r.sqlterm_not_shown), std::string::npos) << s.out << s.err;
    EXPECT_NE(s.err.find("Can't open lib 'No Such Driver'"), std::string::npos) << s.err;
    expect_no_secret(s, r.shown);
  }
}
