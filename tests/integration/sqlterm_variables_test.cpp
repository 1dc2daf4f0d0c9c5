// Variables in statements (-v, :NAME, :'NAME', :"NAME"), \if blocks in scripts and the
// prompt that shows the transaction, through the real drivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "support/pty_session.h"
#include "support/sqlterm_fixture.h"

using vela::testing::pty_session;
using vela::testing::run_result;

namespace {

class SqltermVariables : public vela::testing::sqlterm_test {
 protected:
  void SetUp() override {
    sqlterm_test::SetUp();
    if (HasFatalFailure()) return;
    use_table("var_");
    std::transform(table.begin(), table.end(), table.begin(), [](unsigned char c) { return std::tolower(c); });
    sql("drop table if exists " + table);
    sql("create table " + table + "(id int, name varchar(40))");
    sql("insert into " + table + " values(1, 'a'), (2, 'b'), (3, 'c'), (4, 'o''k')");
  }
  // T in the text stands for the table.
  std::string with_table(const std::string& text) const { return std::regex_replace(text, std::regex("\\bT\\b"), table); }
  // The rows a script prints as TSV, header first.
  run_result rows(std::vector<std::string> args, const std::string& script) {
    db->dir.write("s.sql", with_table(script));
    args.insert(args.end(), {"-do", "-format:tsv", "-qf:" + db->dir.path("s.sql")});
    return run(args);
  }
};

TEST_P(SqltermVariables, ValuesLiteralsAndNamesGoInSafely) {
  struct put_case {
    std::vector<std::string> args;
    const char* script;
    const char* out;
  };
  const put_case cases[] = {
      {{"-v:id=3"}, "select name from T where id = :id;", "name\nc\n"},
      {{"-v:id=3", "-v:id=2"}, "select name from T where id = :id;", "name\nb\n"},
      {{"-v:name=x' or '1'='1"}, "select count(*) as n from T where name = :'name';", "n\n0\n"},
      {{"-v:name=\\' or 1=1 -- "}, "select count(*) as n from T where name = :'name';", "n\n0\n"},
      {{"-v:name=o'k"}, "select id from T where name = :'name';", "id\n4\n"},
      {{"-v:c=name"}, "select :\"c\" from T where id = 1;", "name\na\n"},
      // Quoted, commented and unknown references reach the database as written.
      {{"-v:id=3"}, "select ':id' as a, '::id' as b -- :id\n;", "a\tb\n:id\t::id\n"},
      {{"-v:id=3"}, "select name from T where id = 2 /* :id */;", "name\nb\n"},
      {{}, "select ':id' as a;", "a\n:id\n"},
      // Client commands' arguments too.
      {{"-v:f=inner.sql"}, "\\i F/:f", "name\nc\n"},
  };
  db->dir.write("inner.sql", with_table("select name from T where id = 3;"));
  for (const put_case& c : cases) {
    SCOPED_TRACE(c.script);
    const std::string script = std::regex_replace(c.script, std::regex("F/"), db->dir.path() + "/");
    const run_result r = rows(c.args, script);
    EXPECT_EQ(r.out, c.out) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
  }
}

// -q texts and standard input take variables and blocks as script files do.
TEST_P(SqltermVariables, EverySourceOfStatements) {
  const std::string query = with_table("\\if :{?id}\nselect name from T where id = :id;\n\\endif");
  run_result r = run({"-do", "-format:tsv", "-v:id=3", "-q:" + query});
  EXPECT_EQ(r.out, "name\nc\n") << r.err;
  r = run({"-do", "-format:tsv", "-v:id=2", "-qi"}, query + "\n");
  EXPECT_EQ(r.out, "name\nb\n") << r.err;
  r = run({"-do", "-format:tsv", "-v:id=2"}, query + "\n\\if 1\n");
  EXPECT_EQ(r.out, "name\nb\n") << r.err;
  EXPECT_EQ(r.err, "\\if without \\endif (-:4)\n");
  r = run({"-do", "-format:tsv", "-q:\\if 0\nselect 1;"});
  EXPECT_EQ(r.err, "\\if without \\endif (-q:1)\n");
}

TEST_P(SqltermVariables, IfBlocksChooseTheLinesThatRun) {
  struct if_case {
    const char* name;
    std::vector<std::string> args;
    const char* script;
    const char* out;
    const char* err;
  };
  const if_case cases[] = {
      {"true and false", {}, "\\if true\nselect 1 as a;\n\\else\nselect 2 as a;\n\\endif\n"
                             "\\if off\nselect 3 as a;\n\\else\nselect 4 as a;\n\\endif\n", "a\n1\na\n4\n", ""},
      {"elif and set", {"-v:id=3", "-v:yes=on"},
       "\\if :{?nothing}\nselect 1 as a;\n\\elif :yes\nselect name from T where id = :id;\n\\elif true\nselect 2 as a;\n"
       "\\else\nselect 3 as a;\n\\endif\n", "name\nc\n", ""},
      {"nested in a branch that does not run", {},
       "\\if 0\n\\if 1\nselect 1 as a;\n\\else\nselect 2 as a;\n\\endif\nexit;\n\\elif yes\nselect 3 as a;\n\\endif\n",
       "a\n3\n", ""},
      {"nested in one that runs", {}, "\\if 1\n\\if no\nselect 1 as a;\n\\elif 1\nselect 2 as a;\n\\endif\n\\endif\n",
       "a\n2\n", ""},
      {"not a Boolean", {}, "\\if maybe\nselect 1 as a;\n\\else\nselect 2 as a;\n\\endif\n", "a\n2\n",
       "\\if: 'maybe' is not a Boolean value (true or false, on or off, yes or no, 1 or 0) (F:1)\n"},
      {"unbalanced", {}, "\\endif\n\\if 1\n\\else\n\\elif 1\n\\else\n\\endif\n\\else\n",
       "",
       "\\endif: no \\if block is open (F:1)\n\\elif: the \\if block has had its \\else (F:4)\n"
       "\\else: the \\if block has had its \\else (F:5)\n\\else: no \\if block is open (F:7)\n"},
      {"left open", {}, "\\if 1\n\\if 0\nselect 1 as a;\n", "",
       "\\if without \\endif (F:1)\n\\if without \\endif (F:2)\n"},
      {"stops at the first failure with -oe", {"-oe"}, "\\if 1\n\\if x\nselect 1 as a;\n\\endif\nselect 2 as a;\n",
       "", "F:2: \\if: 'x' is not a Boolean value (true or false, on or off, yes or no, 1 or 0) (F:2)\n"},
  };
  for (const if_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = rows(c.args, c.script);
    EXPECT_EQ(r.out, c.out) << r.err;
    EXPECT_EQ(r.err, std::regex_replace(c.err, std::regex("F:"), db->dir.path("s.sql") + ":"));
  }
}

// A prompt of the user's choice shows the database and the transaction: "*" once BEGIN has
// run, "!" after a failure inside it, nothing once it ended; "@" in a branch that does not run,
// "-" on a line that goes on with a statement.
TEST_P(SqltermVariables, PromptShowsTheTransaction) {
  pty_session s({SQLTERM_PATH, "-cs:" + db->cs, "-v:PROMPT1=[%x%R] "},
                {{"HOME", db->dir.path()}, {"XDG_STATE_HOME", db->dir.path("state")}});
  ASSERT_TRUE(s.expect("\n[>] ")) << s.output();
  const std::pair<const char*, const char*> steps[] = {
      {"begin;\r", "\n[*>] "},
      {"insert into " "T" " values(5, 'e');\r", "\n[*>] "},
      {"select * from nosuch;\r", "\n[!>] "},
      {"rollback;\r", "\n[>] "},
      {"\\if false\r", "\n[@] "},
      {"\\endif\r", "\n[>] "},
      {"select 'a\r", "\n[-] "},
  };
  for (const auto& [keys, prompt] : steps) {
    s.type(with_table(keys));
    EXPECT_TRUE(s.expect(prompt)) << keys << s.output();
  }
  s.type("';\r\\q\r");
  EXPECT_EQ(s.wait_exit(5), 0) << s.output();
}

INSTANTIATE_TEST_SUITE_P(Databases, SqltermVariables, vela::testing::all_databases(), vela::testing::param_name);

} // namespace
