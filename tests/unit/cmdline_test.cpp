#include "vela/cmdline.h"

#include <gtest/gtest.h>

#include "os/os.h"

using namespace vela;

namespace {

// The six options of the terminal tool, over a given argument vector.
struct options {
  std::wstring cs, cd = L" ", q, file;
  bool data_only = false, from_stdin = false;
  text_file_code_page cp{-1, false};
  result r;

  explicit options(std::initializer_list<std::wstring> args) {
    string_list argv{L"sqlterm"};
    argv.insert(argv.end(), args);
    commandline_customized_parser p(argv);
    p.add(new argument_parser(L"(cs|connection_string)", &cs));
    p.add(new commandline_bool_argument_parser(L"(do|data_only)", &data_only));
    p.add(new commandline_argument_escape_parser(L"(cd|column_delimiter)", &cd));
    p.add(new argument_parser(L"(q|query)", &q));
    p.add(new commandline_filename_parser(L"(qf|query_from_file)", &file, &cp));
    p.add(new commandline_bool_argument_parser(L"(qi|query_from_stdin)", &from_stdin));
    r = p.run();
  }
};

std::wstring thrown_message(std::initializer_list<std::wstring> args) {
  string_list argv{L"prog"};
  argv.insert(argv.end(), args);
  commandline_customized_parser p(argv);
  std::wstring cs;
  bool flag = false;
  p.add(new argument_parser(L"(cs|connection_string)", &cs));
  p.add(new commandline_bool_argument_parser(L"(qi|query_from_stdin)", &flag));
  try {
    p.do_run();
  } catch (const windows_error& e) {
    return e.what();
  }
  return L"";
}

} // namespace

TEST(CommandLine, ValuesSwitchesAndPrefixes) {
  options o({L"/Connection_String:abc", L"-DO", L"-cd:;", L"-q:select 1; select 2", L"-qi"});
  ASSERT_TRUE(o.r.succeeded()) << o.r.code();
  EXPECT_EQ(o.cs, L"abc");
  EXPECT_TRUE(o.data_only);
  EXPECT_EQ(o.cd, L";");
  EXPECT_EQ(o.q, L"select 1; select 2");
  EXPECT_TRUE(o.from_stdin);
  EXPECT_EQ(GetErrorText(commandline_error), L"");
  EXPECT_TRUE(options({}).r.succeeded());
  EXPECT_EQ(options({L"-cs:Driver=SQLite3;Database=/tmp/a b.db"}).cs, L"Driver=SQLite3;Database=/tmp/a b.db");
}

TEST(CommandLine, AValueEndsWhereItsArgumentEnds) {
  // Double quotes, blanks, backslashes, trailing quotes and ";" are taken as written.
  EXPECT_EQ(options({L"-q:select \"id\" from t where id = 1"}).q, L"select \"id\" from t where id = 1");
  EXPECT_EQ(options({L"-q:select 'say \"hi\" now'"}).q, L"select 'say \"hi\" now'");
  EXPECT_EQ(options({L"-q:select \"a b\""}).q, L"select \"a b\"");
  EXPECT_EQ(options({L"-q:C:\\dir\\ x\\"}).q, L"C:\\dir\\ x\\");
  EXPECT_EQ(options({L"-q:select 1 as \"x\";"}).q, L"select 1 as \"x\";");
  EXPECT_EQ(options({L"-cs:Driver={PostgreSQL Unicode};Server=h b;PWD={a;b}"}).cs,
            L"Driver={PostgreSQL Unicode};Server=h b;PWD={a;b}");
  // One surrounding pair of quotes goes; a lone quote or inner quotes stay.
  EXPECT_EQ(options({L"-q:\"select 1\""}).q, L"select 1");
  EXPECT_EQ(options({L"-q:\"a\"b\" c\""}).q, L"a\"b\" c");
  EXPECT_EQ(options({L"-q:\"unclosed value"}).q, L"\"unclosed value");
  EXPECT_EQ(options({L"-q:\"\"x\"\""}).q, L"\"x\"");
  // The next argument is never part of a value, however it looks.
  options two({L"-q:\"select", L"1\""});
  EXPECT_EQ(two.r.code(), 50u);
  EXPECT_EQ(options({L"-q:a", L"-qi"}).q, L"a");
}

// One argument holding a blank after the colon is the quoted form; the value keeps the blank.
TEST(CommandLine, AValueMayStartWithABlank) {
  const options q({L"-q: select 7"});
  EXPECT_TRUE(q.r.succeeded());
  EXPECT_EQ(q.q, L" select 7");
  EXPECT_EQ(options({L"-cs: value"}).cs, L" value");
  const options f({L"-qf: my file.sql,utf8"});
  EXPECT_TRUE(f.r.succeeded());
  EXPECT_EQ(f.file, L" my file.sql");
  EXPECT_EQ(options({L"-q:", L"select 7"}).r.code(), 87u);  // the value in an argument of its own
}

TEST(CommandLine, FailureCodes) {
  options twice({L"-cs:x", L"-CS:y"});
  EXPECT_EQ(twice.r.code(), 1247u);
  EXPECT_EQ(twice.r.text(), L"[task] ");
  EXPECT_EQ(options({L"-do", L"-data_only"}).r.code(), 1247u);
  EXPECT_EQ(options({L"-cs:"}).r.code(), 87u);
  EXPECT_EQ(options({L"-cs:", L"value"}).r.code(), 87u);
  EXPECT_EQ(options({L"-do:1"}).r.code(), 87u);
  EXPECT_EQ(options({L"-qi:yes"}).r.code(), 87u);
  EXPECT_EQ(options({L"-do x"}).r.code(), 50u);  // a switch is the whole argument
  EXPECT_EQ(options({L"-zz"}).r.code(), 50u);
  EXPECT_EQ(options({L"plain"}).r.code(), 50u);
  EXPECT_EQ(options({L""}).r.code(), 50u);
  // Messages quote the rest of the joined line.
  EXPECT_EQ(thrown_message({L"-zz", L"-cs:1 2"}), L"-zz -cs:\"1 2\" (" + GetErrorText(50) + L")");
  EXPECT_EQ(thrown_message({L"-cs:a", L"-cs:b"}), L"-cs (" + GetErrorText(1247) + L")");
}

TEST(CommandLine, EscapedValues) {
  EXPECT_EQ(options({L"-cd:\\t"}).cd, L"\t");
  EXPECT_EQ(options({L"-cd:\\x41"}).cd, L"A");
  EXPECT_EQ(options({L"-cd:\\u0041"}).cd, L"A");
  EXPECT_EQ(options({L"-cd:\\q"}).cd, L"\\q");
  EXPECT_EQ(options({L"-cd:\"a b\""}).cd, L"a b");
  EXPECT_EQ(options({L"-cd:\"say \\\"hi\\\" now\""}).cd, L"say \"hi\" now");
  EXPECT_EQ(options({L"-cd:\"\""}).cd, L"");     // an empty delimiter
  EXPECT_EQ(options({L"-cd:\""}).cd, L"\"");     // a double quote as the delimiter
  EXPECT_EQ(options({L"-cd:\\\""}).cd, L"\""); // the same, escaped
  EXPECT_EQ(options({L"-cd:a b"}).cd, L"a b");
  EXPECT_EQ(unescape(L"\\\\t"), L"\\t");  // produced characters are not unescaped again
  EXPECT_EQ(unescape(L"\\x4"), L"\\x4");
  EXPECT_EQ(unescape(L"\\u12G4"), L"\\u12G4");
  EXPECT_EQ(unescape(L"a\\r\\n\\'"), L"a\r\n'");
  EXPECT_EQ(unescape(L"\\"), L"\\");
}

TEST(CommandLine, FileNamesAndSubValues) {
  options a({L"-qf:a.sql,1251"});
  ASSERT_TRUE(a.r.succeeded());
  EXPECT_EQ(a.file, L"a.sql");
  EXPECT_EQ(a.cp.id, 1251);
  options b({L"-qf:b.sql", L"-q:x"});
  EXPECT_EQ(b.file, L"b.sql");
  EXPECT_EQ(b.cp.id, -1);
  EXPECT_EQ(options({L"-qf:a,b,c"}).r.code(), 87u);
  options q({L"-qf:\"my file.sql\",utf8bom"});
  EXPECT_EQ(q.file, L"my file.sql");
  EXPECT_EQ(q.cp.id, 65001);
  EXPECT_TRUE(q.cp.bom);
  options blank({L"-qf:my file.sql,utf8"});  // a blank needs no quotes
  ASSERT_TRUE(blank.r.succeeded());
  EXPECT_EQ(blank.file, L"my file.sql");
  EXPECT_EQ(blank.cp.id, 65001);
  options comma({L"-qf:\"a,b.sql\""});
  EXPECT_EQ(comma.file, L"a,b.sql");
  EXPECT_EQ(comma.cp.id, -1);

  string_list list;
  auto sub = [&list](std::initializer_list<std::wstring> args) {
    string_list argv{L"prog"};
    argv.insert(argv.end(), args);
    commandline_customized_parser p(argv);
    p.add(new commandline_argument_subvalues_parser(L"s", &list));
    return p.run();
  };
  ASSERT_TRUE(sub({L"-s:a,,b"}).succeeded());
  EXPECT_EQ(list, (string_list{L"a", L"", L"b"}));
  ASSERT_TRUE(sub({L"-s:a,b,"}).succeeded());
  EXPECT_EQ(list, (string_list{L"a", L"b"}));
  ASSERT_TRUE(sub({L"-s:\"x, y\",z"}).succeeded());
  EXPECT_EQ(list, (string_list{L"x, y", L"z"}));
  ASSERT_TRUE(sub({L"-s:a,\"quoted\""}).succeeded());
  EXPECT_EQ(list, (string_list{L"a", L"quoted"}));
  ASSERT_TRUE(sub({L"-s:\"open, to the end"}).succeeded());
  EXPECT_EQ(list, (string_list{L"open, to the end"}));
  ASSERT_TRUE(sub({L"-s:\"a\"b\",c"}).succeeded());
  EXPECT_EQ(list, (string_list{L"a\"b", L"c"}));
  EXPECT_EQ(sub({L"-s:a", L"-s:b"}).code(), 1247u);
}

TEST(CommandLine, PositionalArguments) {
  std::wstring first;
  auto run = [&](std::initializer_list<std::wstring> args) {
    first.clear();
    string_list argv{L"my prog"};
    argv.insert(argv.end(), args);
    commandline_customized_parser p(argv);
    p.add(new argument_parser(L"", &first));
    return p.run();
  };
  ASSERT_TRUE(run({L"a b"}).succeeded());
  EXPECT_EQ(first, L"a b");
  ASSERT_TRUE(run({L"\"\"x\"\""}).succeeded());
  EXPECT_EQ(first, L"x");
  ASSERT_TRUE(run({L"\"unbalanced"}).succeeded());  // the argument's end is known: taken as written
  EXPECT_EQ(first, L"\"unbalanced");
  EXPECT_EQ(run({L"-x"}).code(), 50u);
  EXPECT_EQ(run({L"a", L"b"}).code(), 1247u);  // a positional parser takes one argument
}

TEST(CommandLine, WordParse) {
  std::wstring cs;
  bool flag = false;
  string_list list;
  commandline_parser p(string_list{L"prog", L"-cs:\"abc\"", L"-qi", L"-s:a,\"b\""});
  p.add(new argument_parser(L"cs", &cs));
  p.add(new commandline_bool_argument_parser(L"qi", &flag));
  p.add(new commandline_argument_subvalues_parser(L"s", &list));
  ASSERT_TRUE(p.run().succeeded());
  EXPECT_EQ(cs, L"abc");
  EXPECT_TRUE(flag);
  EXPECT_EQ(list, (string_list{L"a", L"b"}));
  commandline_parser bad(string_list{L"prog", L"-nope"});
  bad.add(new argument_parser(L"cs", &cs));
  EXPECT_EQ(bad.run().code(), 50u);
}

TEST(ProcessCommandLine, JoinedLineQuotesValuesWithBlanks) {
  const std::vector<std::wstring> argv{L"/usr/bin/sqlterm", L"-cs:Driver=SQLite3;Database=/tmp/a b.db",
                                       L"-q:select 1", L"plain", L"two words", L""};
  EXPECT_EQ(os::join_command_line(argv),
            L"/usr/bin/sqlterm -cs:\"Driver=SQLite3;Database=/tmp/a b.db\" -q:\"select 1\" plain \"two words\" \"\"");
  // The parser is built over the vector: its line is only what messages quote.
  commandline_customized_parser p(argv);
  EXPECT_EQ(p.args(), argv);
  EXPECT_EQ(p.command_line(), os::join_command_line(argv));
}

namespace {

// The value and switch forms of a parser, seen from outside.
struct form_probe : argument_parser {
  using argument_parser::argument_parser;
  size_t value_at(const std::wstring& arg) const { return match_value_form(arg); }
  bool is_switch(const std::wstring& arg) const { return match_switch_form(arg); }
};

} // namespace

// A name made only of words is matched without its pattern: both must agree on every argument.
TEST(CommandLine, WordNamesMatchAsTheirPatterns) {
  const struct {
    const wchar_t* words;
    const wchar_t* pattern;  // the same choice, written so that only a pattern can match it
  } names[] = {{L"(cs|connection_string)", L"(cs|connection_strin[g])"}, {L"init-rc", L"init-r[c]"}, {L"(q)", L"(q{1})"}};
  const wchar_t* const args[] = {L"-cs:x", L"/CS:x", L"-Connection_String:", L"-cs", L"/Cs", L"cs:x", L"-c:x",
                                 L"-csx:y", L"-cs:a:b", L"-connection_string", L"--cs:x", L"-", L"", L":", L"-cs :x",
                                 L"-init-rc", L"-INIT-RC:1", L"-init_rc", L"-q", L"-Q:select 1", L"-qq", L"-q:",
                                 L"-c\u017F:x", L"-\u0130nit-rc", L"x-cs:y", L"-cs:-q:"};
  for (const auto& n : names) {
    const form_probe words(n.words, nullptr), pattern(n.pattern, nullptr);
    for (const wchar_t* a : args) {
      EXPECT_EQ(words.value_at(a), pattern.value_at(a)) << n.words << " " << a;
      EXPECT_EQ(words.is_switch(a), pattern.is_switch(a)) << n.words << " " << a;
    }
  }
}
