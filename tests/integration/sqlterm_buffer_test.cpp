// The query buffer at a terminal and in scripts: \g, \gx, \p, \r, \o, \watch and \e.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

struct prompt_run {
  temp_dir home;
  pty_session s;
  prompt_run(const std::vector<std::string>& args, std::map<std::string, std::string> env = {})
      : s(args, with_home(env)) {}
  std::map<std::string, std::string> with_home(std::map<std::string, std::string> env) const {
    env.emplace("HOME", home.path());
    env.emplace("XDG_STATE_HOME", home.path("state"));
    return env;
  }
  // Types a line and waits for the text and then the prompt.
  bool answers(const std::string& line, const std::string& text, const std::string& prompt = "\nSQL>") {
    s.type(line + "\r");
    return s.expect(text) && s.expect(prompt);
  }
  int quit() {
    s.type("\\q\r");
    return s.wait_exit(5);
  }
};

void make_table(const database& db) {
  ASSERT_EQ(run_process({SQLTERM_PATH, "-cs:" + db.cs, "-q:drop table if exists bt;create table bt(n integer);"
                                                       "insert into bt values(1);insert into bt values(2);"
                                                       "insert into bt values(3)"})
                .status,
            0);
}

} // namespace

// In multi-line mode a statement without ";" waits in the buffer: \p shows it, \g runs it,
// \r drops it; with the buffer empty \g and \gx run the last statement again.
TEST(SqltermBuffer, GoPrintAndResetAtThePrompt) {
  for (const char* kind : {"sqlite", "pg", "maria"}) {
    SCOPED_TRACE(kind);
    database db(kind);
    ASSERT_TRUE(db.ready()) << db.why_not();
    prompt_run p({SQLTERM_PATH, "-ml", "-cs:" + db.cs});
    ASSERT_TRUE(p.s.expect("\nSQL>")) << p.s.output();
    ASSERT_TRUE(p.answers("select 40 + 2 as answer", "", "...>")) << p.s.output();
    EXPECT_TRUE(p.answers("\\p", "\r\nselect 40 + 2 as answer\r\n", "...>")) << p.s.output();
    EXPECT_TRUE(p.answers("\\g", "42 \r\n")) << p.s.output();
    EXPECT_TRUE(p.answers("\\p", "\r\nselect 40 + 2 as answer\r\n")) << p.s.output();  // the last statement
    EXPECT_TRUE(p.answers("\\gx", "answer | 42")) << p.s.output();
    ASSERT_TRUE(p.answers("select 'dropped' as x", "", "...>")) << p.s.output();
    EXPECT_TRUE(p.answers("\\r", "Query buffer reset (cleared).")) << p.s.output();
    EXPECT_TRUE(p.answers("\\g", "42 \r\n")) << p.s.output();
    EXPECT_EQ(p.quit(), 0) << p.s.output();
    EXPECT_EQ(p.s.output().find("dropped\r\n"), std::string::npos) << p.s.output();
    EXPECT_EQ(p.s.output().find("SQLSTATE"), std::string::npos) << p.s.output();
  }
}

// A command may end the line of a statement, as in "select 1 \gx"; a "\" in a literal or a
// comment is no command.
TEST(SqltermBuffer, CommandAfterAStatementOnItsLine) {
  database db("sqlite");
  prompt_run p({SQLTERM_PATH, "-cs:" + db.cs});
  ASSERT_TRUE(p.s.expect("\nSQL>")) << p.s.output();
  EXPECT_TRUE(p.answers("select 6 * 7 as answer \\gx", "answer | 42")) << p.s.output();
  EXPECT_TRUE(p.answers("select 'back\\gx' as s", "back\\gx ")) << p.s.output();
  EXPECT_TRUE(p.answers("select 2 as two -- see \\g", "Rows selected: 1.")) << p.s.output();
  EXPECT_TRUE(p.answers("select 3 as three\\p", "\r\nselect 3 as three\r\n", "...>")) << p.s.output();
  EXPECT_TRUE(p.answers("\\r", "Query buffer reset (cleared).")) << p.s.output();
  EXPECT_EQ(p.quit(), 0) << p.s.output();
  EXPECT_EQ(p.s.output().find("three\r\n    "), std::string::npos) << p.s.output();
}

// \o sends the rows of the statements after it to a file or a command, \g to one result;
// a command that fails and a full disk are reported.
TEST(SqltermBuffer, RowsToFilesAndCommands) {
  for (const char* kind : {"sqlite", "pg", "maria"}) {
    SCOPED_TRACE(kind);
    database db(kind);
    ASSERT_TRUE(db.ready()) << db.why_not();
    make_table(db);
    prompt_run p({SQLTERM_PATH, "-cs:" + db.cs});
    ASSERT_TRUE(p.s.expect("\nSQL>")) << p.s.output();
    const std::string file = p.home.path("rows.txt");
    EXPECT_TRUE(p.answers("\\o " + file, "")) << p.s.output();
    EXPECT_TRUE(p.answers("select n * 10 as tens from bt order by n", "Rows selected: 3.")) << p.s.output();
    EXPECT_TRUE(p.answers("\\o", "")) << p.s.output();
    EXPECT_EQ(p.s.output().find("30 \r\n"), std::string::npos) << p.s.output();  // not on the console
    const std::string rows = p.home.read("rows.txt");
    EXPECT_TRUE(rows.find("tens") < rows.find("10 ") && rows.find("10 ") < rows.find("20 ") &&
                rows.find("20 ") < rows.find("30 ") && rows.find("30 ") != std::string::npos)
        << rows;
    // The header, its underline and the three rows.
    EXPECT_TRUE(p.answers("\\o |wc -l", "")) << p.s.output();
    EXPECT_TRUE(p.answers("select n from bt", "Rows selected: 3.")) << p.s.output();
    EXPECT_TRUE(p.answers("\\o", "\r\n5\r\n")) << p.s.output();
    p.s.type("\\g |tr 0-9 a-j\r");
    EXPECT_TRUE(p.s.expect(" b \r\n") && p.s.expect(" c \r\n") && p.s.expect(" d \r\n") && p.s.expect("\nSQL>"))
        << p.s.output();
    EXPECT_TRUE(p.answers("\\g |false", "The command 'false' ended with status 1.")) << p.s.output();
    EXPECT_TRUE(p.answers("\\o /dev/full", "")) << p.s.output();
    EXPECT_TRUE(p.answers("select n from bt", "Could not write to '/dev/full': ")) << p.s.output();
    EXPECT_TRUE(p.answers("\\o", "")) << p.s.output();
    EXPECT_TRUE(p.answers("\\o |no-such-command-here 2>/dev/null", "")) << p.s.output();
    EXPECT_TRUE(p.answers("\\o", "The command 'no-such-command-here 2>/dev/null' ended with status 127."))
        << p.s.output();
    EXPECT_TRUE(p.answers("\\g " + p.home.path("no/such/dir/x"), "Could not open '")) << p.s.output();
    EXPECT_EQ(p.quit(), 0) << p.s.output();
  }
}

// A script sends rows elsewhere as the prompt does; a failed write is its failure.
TEST(SqltermBuffer, ScriptsWithOutputCommands) {
  database db("sqlite");
  make_table(db);
  const std::string file = db.dir.path("out.txt");
  const run_result r = run_process({SQLTERM_PATH, "-cs:" + db.cs, "-do",
                                    "-q:\\o " + file + "\nselect n from bt order by n;\n\\g\n\\o\nselect 7;\n"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(db.dir.read("out.txt"), "         1 \n         2 \n         3 \n         1 \n         2 \n         3 \n");
  EXPECT_NE(r.out.find("         7 \n"), std::string::npos) << r.out;
  const run_result full = run_process({SQLTERM_PATH, "-cs:" + db.cs, "-oe", "-q:\\o /dev/full\nselect n from bt;\nselect 2;"});
  EXPECT_NE(full.status, 0);
  EXPECT_NE(full.err.find("Could not write to '/dev/full'"), std::string::npos) << full.err;
  EXPECT_EQ(full.out.find("select 2"), std::string::npos) << full.out;  // -oe stopped there
}

// \watch runs the statement each second with a header, until Ctrl-C ends the watch (and not
// the session).
TEST(SqltermBuffer, WatchUntilCtrlC) {
  database db("pg");
  ASSERT_TRUE(db.ready()) << db.why_not();
  prompt_run p({SQLTERM_PATH, "-cs:" + db.cs});
  ASSERT_TRUE(p.s.expect("\nSQL>")) << p.s.output();
  EXPECT_TRUE(p.answers("select 6 * 7 as watched;", "Rows selected: 1.")) << p.s.output();
  p.s.type("\\watch 1\r");
  for (int round = 0; round < 3; ++round) {
    EXPECT_TRUE(p.s.expect(" (every 1s)\r\n", 5)) << round << p.s.output();
    EXPECT_TRUE(p.s.expect("        42", 5)) << round << p.s.output();
  }
  p.s.type("\x03");
  EXPECT_TRUE(p.s.expect("\nSQL>", 5)) << p.s.output();
  EXPECT_TRUE(p.answers("select 'still here' as s;", "still here")) << p.s.output();
  EXPECT_EQ(p.quit(), 0) << p.s.output();
}

// \e opens the buffer (or the last statement) in the editor: saved with a ";" it runs, else it
// waits in the buffer; a failing editor leaves the buffer as it was.
TEST(SqltermBuffer, EditInTheEditor) {
  database db("sqlite");
  temp_dir tools;
  tools.write("append.sh", "#!/bin/sh\necho 'select 42 as edited;' >> \"$1\"\n");
  tools.write("half.sh", "#!/bin/sh\nprintf 'select 5 as half' > \"$1\"\n");
  tools.write("fail.sh", "#!/bin/sh\nexit 3\n");
  for (const char* f : {"append.sh", "half.sh", "fail.sh"}) chmod(tools.path(f).c_str(), 0755);
  prompt_run p({SQLTERM_PATH, "-cs:" + db.cs}, {{"EDITOR", tools.path("append.sh")}, {"VISUAL", ""}});
  ASSERT_TRUE(p.s.expect("\nSQL>")) << p.s.output();
  EXPECT_TRUE(p.answers("\\e", "        42")) << p.s.output();
  EXPECT_EQ(p.quit(), 0) << p.s.output();

  prompt_run h({SQLTERM_PATH, "-cs:" + db.cs}, {{"VISUAL", tools.path("half.sh")}, {"EDITOR", tools.path("fail.sh")}});
  ASSERT_TRUE(h.s.expect("\nSQL>")) << h.s.output();
  EXPECT_TRUE(h.answers("\\e", "", "...>")) << h.s.output();
  EXPECT_TRUE(h.answers("\\p", "select 5 as half", "...>")) << h.s.output();
  EXPECT_TRUE(h.answers("\\g", "         5")) << h.s.output();
  EXPECT_EQ(h.quit(), 0) << h.s.output();

  const std::string saved = tools.path("saved.sql");
  prompt_run f({SQLTERM_PATH, "-cs:" + db.cs}, {{"VISUAL", tools.path("fail.sh")}});
  ASSERT_TRUE(f.s.expect("\nSQL>")) << f.s.output();
  EXPECT_TRUE(f.answers("\\e " + saved, "ended with status 3; the query buffer is unchanged.")) << f.s.output();
  EXPECT_EQ(f.quit(), 0) << f.s.output();
}
