#include "vela/cmdline.h"

#include <gtest/gtest.h>

#include "os/os.h"

using namespace vela;

namespace {

// The six options of the terminal tool, over a given line.
struct options {
  std::wstring cs, cd = L" ", q, file;
  bool data_only = false, from_stdin = false;
  text_file_code_page cp{-1, false};
  result r;

  explicit options(const std::wstring& line) {
    commandline_customized_parser p(L"sqlterm " + line);
    p.add(new argument_parser(L"(cs|connection_string)", &cs));
    p.add(new commandline_bool_argument_parser(L"(do|data_only)", &data_only));
    p.add(new commandline_argument_escape_parser(L"(cd|column_delimiter)", &cd));
    p.add(new argument_parser(L"(q|query)", &q));
    p.add(new commandline_filename_parser(L"(qf|query_from_file)", &file, &cp));
    p.add(new commandline_bool_argument_parser(L"(qi|query_from_stdin)", &from_stdin));
    r = p.run();
  }
};

std::wstring thrown_message(const std::wstring& line) {
  commandline_customized_parser p(L"prog " + line);
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
  options o(L"/Connection_String:abc -DO -cd:; -q:\"select 1; select 2\" -qi");
  ASSERT_TRUE(o.r.succeeded()) << o.r.code();
  EXPECT_EQ(o.cs, L"abc");
  EXPECT_TRUE(o.data_only);
  EXPECT_EQ(o.cd, L";");
  EXPECT_EQ(o.q, L"select 1; select 2");
  EXPECT_TRUE(o.from_stdin);
  EXPECT_EQ(GetErrorText(commandline_error), L"");
  EXPECT_TRUE(options(L"").r.succeeded());
  EXPECT_EQ(options(L"-q:\"a\"b\" c\"").q, L"a\"b");
  EXPECT_EQ(options(L"-q:\"unclosed value").q, L"unclosed value");
  EXPECT_EQ(options(L"-cs:\"Driver=SQLite3;Database=/tmp/a b.db\"").cs, L"Driver=SQLite3;Database=/tmp/a b.db");
}

TEST(CommandLine, FailureCodes) {
  options twice(L"-cs:x -CS:y");
  EXPECT_EQ(twice.r.code(), 1247u);
  EXPECT_EQ(twice.r.text(), L"[task] ");
  EXPECT_EQ(options(L"-do -data_only").r.code(), 1247u);
  EXPECT_EQ(options(L"-cs:").r.code(), 87u);
  EXPECT_EQ(options(L"-cs: value").r.code(), 87u);
  EXPECT_EQ(options(L"-do:1").r.code(), 87u);
  EXPECT_EQ(options(L"-qi:yes").r.code(), 87u);
  EXPECT_EQ(options(L"-zz").r.code(), 50u);
  EXPECT_EQ(options(L"plain").r.code(), 50u);
  EXPECT_EQ(thrown_message(L"-zz -cs:1"), L"-zz -cs:1 (" + GetErrorText(50) + L")");
  EXPECT_EQ(thrown_message(L"-cs:a -cs:b"), L"-cs (" + GetErrorText(1247) + L")");
}

TEST(CommandLine, EscapedValues) {
  EXPECT_EQ(options(L"-cd:\\t").cd, L"\t");
  EXPECT_EQ(options(L"-cd:\\x41").cd, L"A");
  EXPECT_EQ(options(L"-cd:\\u0041").cd, L"A");
  EXPECT_EQ(options(L"-cd:\\q").cd, L"\\q");
  EXPECT_EQ(options(L"-cd:\"a b\"").cd, L"a b");
  EXPECT_EQ(options(L"-cd:\"say \\\"hi\\\" now\"").cd, L"say \"hi\" now");
  EXPECT_EQ(unescape(L"\\\\t"), L"\\t");  // produced characters are not unescaped again
  EXPECT_EQ(unescape(L"\\x4"), L"\\x4");
  EXPECT_EQ(unescape(L"\\u12G4"), L"\\u12G4");
  EXPECT_EQ(unescape(L"a\\r\\n\\'"), L"a\r\n'");
  EXPECT_EQ(unescape(L"\\"), L"\\");
}

TEST(CommandLine, FileNamesAndSubValues) {
  options a(L"-qf:a.sql,1251");
  ASSERT_TRUE(a.r.succeeded());
  EXPECT_EQ(a.file, L"a.sql");
  EXPECT_EQ(a.cp.id, 1251);
  options b(L"-qf:b.sql -q:x");
  EXPECT_EQ(b.file, L"b.sql");
  EXPECT_EQ(b.cp.id, -1);
  EXPECT_EQ(options(L"-qf:a,b,c").r.code(), 87u);
  options q(L"-qf:\"my file.sql\",utf8bom");
  EXPECT_EQ(q.file, L"my file.sql");
  EXPECT_EQ(q.cp.id, 65001);
  EXPECT_TRUE(q.cp.bom);

  string_list list;
  auto sub = [&list](const std::wstring& line) {
    commandline_customized_parser p(L"prog " + line);
    p.add(new commandline_argument_subvalues_parser(L"s", &list));
    return p.run();
  };
  ASSERT_TRUE(sub(L"-s:a,,b").succeeded());
  EXPECT_EQ(list, (string_list{L"a", L"", L"b"}));
  ASSERT_TRUE(sub(L"-s:a,b,").succeeded());
  EXPECT_EQ(list, (string_list{L"a", L"b"}));
  ASSERT_TRUE(sub(L"-s:\"x, y\",z").succeeded());
  EXPECT_EQ(list, (string_list{L"x, y", L"z"}));
  ASSERT_TRUE(sub(L"-s:a,\"quoted\"").succeeded());
  EXPECT_EQ(list, (string_list{L"a", L"quoted"}));
  ASSERT_TRUE(sub(L"-s:\"open, to the end").succeeded());
  EXPECT_EQ(list, (string_list{L"open, to the end"}));
  EXPECT_EQ(sub(L"-s:a -s:b").code(), 1247u);
}

TEST(CommandLine, PositionalArguments) {
  std::wstring first;
  auto run = [&](const std::wstring& line) {
    first.clear();
    commandline_customized_parser p(L"\"my prog\" " + line);
    p.add(new argument_parser(L"", &first));
    return p.run();
  };
  ASSERT_TRUE(run(L"\"a b\"").succeeded());
  EXPECT_EQ(first, L"a b");
  ASSERT_TRUE(run(L"\"\"x\"\"").succeeded());
  EXPECT_EQ(first, L"x");
  EXPECT_EQ(run(L"\"unbalanced").code(), 87u);
  EXPECT_EQ(run(L"-x").code(), 50u);
  EXPECT_EQ(run(L"a b").code(), 1247u);  // a positional parser takes one argument
}

TEST(CommandLine, WordParse) {
  std::wstring cs;
  bool flag = false;
  string_list list;
  commandline_parser p(L"prog -cs:\"abc\" -qi -s:a,\"b\"");
  p.add(new argument_parser(L"cs", &cs));
  p.add(new commandline_bool_argument_parser(L"qi", &flag));
  p.add(new commandline_argument_subvalues_parser(L"s", &list));
  ASSERT_TRUE(p.run().succeeded());
  EXPECT_EQ(cs, L"abc");
  EXPECT_TRUE(flag);
  EXPECT_EQ(list, (string_list{L"a", L"b"}));
  commandline_parser bad(L"prog -nope");
  bad.add(new argument_parser(L"cs", &cs));
  EXPECT_EQ(bad.run().code(), 50u);
}

TEST(ProcessCommandLine, JoinKeepsEveryArgumentWhole) {
  const std::vector<std::wstring> argv{L"/usr/bin/sqlterm", L"-cs:Driver=SQLite3;Database=/tmp/a b.db",
                                       L"-q:select 1; select 'a;b'", L"plain", L"two words", L"",
                                       L"back\\slash\\", L"say \"hi\""};
  const std::wstring line = os::join_command_line(argv);
  EXPECT_EQ(line.substr(0, 59), L"/usr/bin/sqlterm -cs:\"Driver=SQLite3;Database=/tmp/a b.db\" ");
  const auto back = os::split_command_line(line);
  ASSERT_EQ(back.size(), argv.size());
  for (size_t i = 2; i < argv.size(); ++i) EXPECT_EQ(back[i], argv[i]) << i;
  // The option word survives the split as one argument, quotes removed.
  EXPECT_EQ(back[1], argv[1]);
}
