// Settings at runtime and the start-up file, in a pseudo-terminal as a user meets them: the
// file's settings hold at the first prompt, "\x auto" turns a wide row vertical, a file
// others could change is refused, a failing line names its file:line, and runs of scripts
// never read the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>

#include "support/databases.h"
#include "support/process.h"
#include "support/pty_session.h"

using vela::testing::database;
using vela::testing::pty_session;
using vela::testing::run_process;
using vela::testing::run_result;
using vela::testing::temp_dir;

namespace {

// A home of its own with a start-up file in $XDG_CONFIG_HOME/vela/ (mode: the file's).
struct home_with_rc {
  temp_dir dir;
  std::string rc;
  explicit home_with_rc(const std::string& text, mode_t mode = 0600) {
    const std::string folder = dir.path("cfg/vela");
    mkdir(dir.path("cfg").c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    rc = folder + "/sqltermrc";
    dir.write("cfg/vela/sqltermrc", text);
    chmod(rc.c_str(), mode);
  }
  std::map<std::string, std::string> env() const {
    return {{"HOME", dir.path()}, {"XDG_CONFIG_HOME", dir.path("cfg")}, {"XDG_STATE_HOME", dir.path("state")}};
  }
};

// Keys typed once sqlterm waits for them: lines typed ahead would count as a paste.
void type_ready(pty_session& s, const std::string& keys) {
  EXPECT_TRUE(s.waits_for_input()) << s.output();
  s.type(keys);
}

int exit_with(pty_session& s, const std::string& keys) {
  type_ready(s, keys);
  return s.wait_exit(5);
}

} // namespace

// The file -init-rc writes, with the aligned format added: multi-line mode and the format
// hold at the first prompt, on every database.
TEST(SqltermSettings, StartupFileTakesEffectAtThePrompt) {
  for (const char* kind : {"sqlite", "pg", "maria"}) {
    SCOPED_TRACE(kind);
    database db(kind);
    ASSERT_TRUE(db.ready()) << db.why_not();
    home_with_rc home("");
    ASSERT_EQ(unlink(home.rc.c_str()), 0);
    const run_result made = run_process({SQLTERM_PATH, "-init-rc"}, {}, home.env());
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, "Start-up file written: " + home.rc + "\n");
    const run_result again = run_process({SQLTERM_PATH, "-init-rc"}, {}, home.env());
    EXPECT_EQ(again.status, 80);
    EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
    home.dir.write("cfg/vela/sqltermrc", home.dir.read("cfg/vela/sqltermrc") + "\\pset format aligned\n");

    pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, home.env());
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    type_ready(s, "select 7 as seven\r");
    ASSERT_TRUE(s.expect("...>")) << s.output();  // no ";" yet: the statement goes on
    type_ready(s, ";\r");
    EXPECT_TRUE(s.expect("seven\r\n-----\r\n    7\r\n")) << s.output();
    EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
  }
}

// "\x auto": a row that fits stays a table, one wider than the terminal (200 columns) is
// printed one column a line; "\x off" goes back.
TEST(SqltermSettings, ExpandedAutoSwitchesOnAWideRow) {
  for (const char* kind : {"sqlite", "pg"}) {
    SCOPED_TRACE(kind);
    database db(kind);
    ASSERT_TRUE(db.ready()) << db.why_not();
    home_with_rc home("\\pset format aligned\n");
    pty_session s({SQLTERM_PATH, "-cs:" + db.cs, "-x:auto"}, home.env());
    ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
    type_ready(s, "select 'narrow' as a, 'row' as b\r");
    EXPECT_TRUE(s.expect("a      | b\r\n-------+----\r\nnarrow | row\r\n")) << s.output();
    const std::string wide = std::string(70, 'w');
    type_ready(s, "select '" + wide + "' as a, '" + wide + "' as b, '" + wide + "' as c\r");
    EXPECT_TRUE(s.expect("-[ RECORD 1 ]-")) << s.output();
    EXPECT_TRUE(s.expect("a | " + wide + "\r\nb | " + wide + "\r\nc | " + wide + "\r\n")) << s.output();
    type_ready(s, "\\x off\r");
    EXPECT_TRUE(s.expect("expanded off")) << s.output();
    type_ready(s, "select '" + wide + "' as a, '" + wide + "' as b, '" + wide + "' as c\r");
    EXPECT_TRUE(s.expect(wide + " | " + wide + " | " + wide + "\r\n")) << s.output();
    EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
  }
}

// A file the group may write is not read, and says why; the session goes on without it.
TEST(SqltermSettings, GroupWritableStartupFileIsRefused) {
  temp_dir data;
  const std::string cs = "Driver=SQLite3;Database=" + data.path("s.db") + ";";
  home_with_rc home("\\pset format json\n", 0620);
  pty_session s({SQLTERM_PATH, "-cs:" + cs}, home.env());
  EXPECT_TRUE(s.expect("The start-up file '" + home.rc + "' is not read: it must be a regular file of its user")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  type_ready(s, "select 5 as five\r");
  EXPECT_TRUE(s.expect("select 5 as five\r\n")) << s.output();  // the padded layout's echo: not json
  EXPECT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  EXPECT_EQ(s.output().find("[{"), std::string::npos) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

// A failing line is reported with its file:line, and the lines after it still run, also
// after an ON_ERROR_STOP that the file sets.
TEST(SqltermSettings, FailingLinesNameFileAndLine) {
  temp_dir data;
  const std::string cs = "Driver=SQLite3;Database=" + data.path("s.db") + ";";
  home_with_rc home("\\pset format nope\n\\set ON_ERROR_STOP on\nselect * from no_such_table;\n\\set MULTILINE on\n");
  pty_session s({SQLTERM_PATH, "-cs:" + cs}, home.env());
  EXPECT_TRUE(s.expect(home.rc + ":1: Invalid value 'nope' for format.")) << s.output();
  EXPECT_TRUE(s.expect(home.rc + ":3: ")) << s.output();
  EXPECT_TRUE(s.expect("no such table")) << s.output();
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  type_ready(s, "select 1 as one\r");
  EXPECT_TRUE(s.expect("...>")) << s.output();  // line 4 ran: multi-line mode
  type_ready(s, ";\r");
  EXPECT_TRUE(s.expect("Rows selected: 1.")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
}

// Runs of scripts print byte for byte what they print without the file; -rc:FILE is read
// in any run.
TEST(SqltermSettings, ScriptRunsIgnoreTheStartupFile) {
  temp_dir data;
  const std::string cs = "Driver=SQLite3;Database=" + data.path("s.db") + ";";
  home_with_rc home("\\pset format json\n\\set ON_ERROR_STOP on\n");
  temp_dir bare;
  const std::map<std::string, std::string> none = {{"HOME", bare.path()}, {"XDG_CONFIG_HOME", bare.path()}};
  const std::vector<std::vector<std::string>> runs = {
      {"-q:select 1 as a; select * from nowhere; select 2 as b"},
      {"-qf:" + data.path("s.sql")},
      {"-qi"},
      {},  // standard input from a pipe
  };
  data.write("s.sql", "select 3 as c;\nselect * from nowhere;\n");
  for (const auto& args : runs) {
    std::vector<std::string> argv{SQLTERM_PATH, "-cs:" + cs};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string input = "select 4 as d;\nselect * from nowhere;\n";
    const run_result with = run_process(argv, input, home.env());
    const run_result without = run_process(argv, input, none);
    // Times aside, which differ from run to run.
    const auto timeless = [](const std::string& out) { return std::regex_replace(out, std::regex("time [0-9:.]+s"), "time"); };
    EXPECT_EQ(timeless(with.out), timeless(without.out)) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(with.err, without.err);
    EXPECT_EQ(with.status, without.status);
  }
  const run_result named = run_process({SQLTERM_PATH, "-cs:" + cs, "-rc:" + home.rc, "-q:select 1 as a"}, {}, none);
  EXPECT_EQ(named.out.substr(named.out.find("\n[")), "\n[\n{\"a\":1}\n]\n") << named.out;
}

// "\pset pager always" pages a one-row result; "\pset pager on" pages only what is taller
// than the screen.
TEST(SqltermSettings, PagerAlwaysPagesShortOutput) {
  temp_dir data;
  const std::string cs = "Driver=SQLite3;Database=" + data.path("s.db") + ";";
  home_with_rc home("\\pset pager always\n");
  std::map<std::string, std::string> env = home.env();
  env["PAGER"] = "cat >> " + data.path("paged");
  pty_session s({SQLTERM_PATH, "-cs:" + cs}, env);
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  type_ready(s, "select 'through the pager' as p\r");
  ASSERT_TRUE(s.expect("\nSQL>")) << s.output();
  type_ready(s, "\\pset pager on\r");
  ASSERT_TRUE(s.expect("pager on") && s.expect("\nSQL>")) << s.output();
  type_ready(s, "select 'on the screen' as p\r");
  EXPECT_TRUE(s.expect("on the screen") && s.expect("\nSQL>")) << s.output();
  EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
  const std::string paged = data.read("paged");
  EXPECT_NE(paged.find("through the pager"), std::string::npos) << paged;
  EXPECT_EQ(paged.find("on the screen"), std::string::npos) << paged;
}

// The aligned format's borders, from the command line and changed between two statements.
TEST(SqltermSettings, AlignedBorders) {
  temp_dir data;
  const std::string cs = "Driver=SQLite3;Database=" + data.path("s.db") + ";";
  const std::string query = "select 1 as n, 'ab' as m";
  const run_result none = run_process({SQLTERM_PATH, "-cs:" + cs, "-format:aligned", "-border:0", "-q:" + query});
  EXPECT_EQ(none.out, "n m\n- --\n1 ab\n") << none.err;
  const run_result changed = run_process(
      {SQLTERM_PATH, "-cs:" + cs, "-format:aligned", "-q:" + query + ";\n\\pset border 2\n" + query + " union all select 22, null"});
  EXPECT_EQ(changed.out, "n | m\n--+---\n1 | ab\n"
                         "+----+----+\n|  n | m  |\n+----+----+\n|  1 | ab |\n| 22 |    |\n+----+----+\n")
      << changed.err;
}

// A day at the prompt: the start-up file's settings and prompt, a variable set by \set and
// read as a number and as a literal (an injection selects nothing), \gset's result tested by
// \if, and rows counted by a command through \o.
TEST(SqltermSettings, SettingsVariablesAndBlocksTogether) {
  for (const char* kind : {"pg", "maria"}) {
    SCOPED_TRACE(kind);
    database db(kind);
    ASSERT_TRUE(db.ready()) << db.why_not();
    ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:drop table if exists day_t; create table day_t(id int, name "
                                                          "varchar(20)); insert into day_t values (1, 'one'), (2, 'two'), "
                                                          "(3, 'three')"})
                  .status,
              0);
    home_with_rc home("\\pset format aligned\n\\set MULTILINE on\n\\set PROMPT1 'day%x%R '\n");
    pty_session s({SQLTERM_PATH, "-cs:" + db.cs}, home.env());
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "\\set id 3\r");
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "select name from day_t\r");  // multi-line: nothing runs before the ";"
    ASSERT_TRUE(s.expect("day-")) << s.output();
    type_ready(s, "where id = :id;\r");
    ASSERT_TRUE(s.expect("name\r\n-----\r\nthree\r\n")) << s.output();
    type_ready(s, "\\set who 'x'' or ''1''=''1'\r");
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "select count(*) as hits from day_t where name = :'who';\r");
    ASSERT_TRUE(s.expect("hits\r\n----\r\n   0\r\n")) << s.output();
    type_ready(s, "select count(*) as total from day_t \\gset\r");
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "\\if :{?total}\r");
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "select :total + 0 as counted;\r");
    ASSERT_TRUE(s.expect("      3\r\n")) << s.output();
    type_ready(s, "\\endif\r");
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "begin;\r");
    ASSERT_TRUE(s.expect("\nday*>")) << s.output();
    type_ready(s, "rollback;\r");
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "\\o |wc -l\r");
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "select id from day_t;\r");
    ASSERT_TRUE(s.expect("\nday>")) << s.output();
    type_ready(s, "\\o\r");
    ASSERT_TRUE(s.expect("5\r\n")) << s.output();  // the header, its rule and three rows
    EXPECT_EQ(exit_with(s, "exit\r"), 0) << s.output();
  }
}
