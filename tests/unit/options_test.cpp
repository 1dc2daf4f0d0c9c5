#include "Terminal/session/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "Terminal/output/formats.h"
#include "Terminal/strings.h"
#include "support/temp_dir.h"
#include "vela/file.h"
#include "vela/platform.h"
#include "vela/wstr.h"

using namespace vela;
using namespace vela::terminal;
using vela::testing::temp_dir;

namespace {

std::vector<std::wstring> split(const std::wstring& text) {
  std::vector<std::wstring> out;
  split_statements(text, out);
  return out;
}

std::string shell(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p.get())) > 0) out.append(buf, n);
  return out;
}

} // namespace

TEST(SplitStatements, QuotesSeparatorsAndTrimming) {
  EXPECT_EQ(split(L"select 1; select 2"), (std::vector<std::wstring>{L"select 1;", L"select 2"}));
  EXPECT_EQ(split(L"select 'a;b'"), (std::vector<std::wstring>{L"select 'a;b'"}));
  EXPECT_EQ(split(L"A;;B"), (std::vector<std::wstring>{L"A;", L"B"}));
  EXPECT_EQ(split(L"select 1;\r\n"), (std::vector<std::wstring>{L"select 1;"}));
  EXPECT_EQ(split(L"select \"x;y\""), (std::vector<std::wstring>{L"select \"x;y\""}));
  // Spaces first, then line ends: spaces uncovered by the second trim stay, tabs stay.
  EXPECT_EQ(split(L" \r\n select 1 \r\n"), (std::vector<std::wstring>{L" select 1 "}));
  EXPECT_EQ(split(L"\tx"), (std::vector<std::wstring>{L"\tx"}));
  EXPECT_TRUE(split(L"  \r\n ").empty());
}

TEST(TerminalOptions, CurrentSyntaxAndFileBeforeQuery) {
  temp_dir dir;
  dir.write("a.sql", "select 'я' from t;\r\nselect 2;\r\n");
  terminal_options o;
  o.parse_options({L"sqlterm", L"-cs:\"DSN=x\"", L"-do", L"-cd:\\t", L"-q:select 3; select 4",
                   L"-qf:" + dir.wpath("a.sql") + L",utf8"});
  EXPECT_EQ(o.connection_string, L"DSN=x");
  EXPECT_TRUE(o.data_only);
  EXPECT_EQ(o.column_delimiter, L"\t");
  EXPECT_EQ(script_statements(o),
            (std::vector<std::wstring>{L"select 'я' from t;", L"select 2;", L"select 3;", L"select 4"}));
  dir.write("w.sql", "select '\xC6';");
  terminal_options w;
  w.parse_options({L"sqlterm", L"-qf:" + dir.wpath("w.sql") + L",1251"});
  EXPECT_EQ(script_statements(w), (std::vector<std::wstring>{L"select 'Ж';"}));
}

TEST(TerminalOptions, MissingScriptFileRaises) {
  terminal_options o;
  try {
    o.parse_options({L"sqlterm", L"-qf:/nonexistent/x.sql"});
    FAIL();
  } catch (const file_error& e) {
    EXPECT_EQ(e.code(), vela::windows_platform ? 3 : 2);  // Windows names the missing folder
  }
}

TEST(TerminalOptions, OldPositionalSyntax) {
  temp_dir dir;
  dir.write("1.sql", "select 1;");
  dir.write("2.sql", "select 2;");
  terminal_options o;
  o.parse_options({L"sqlterm", L"dataonly", L"cs:\\t", L"SQLite3", L"Database=/tmp/x.db", dir.wpath("1.sql"),
                   dir.wpath("2.sql")});
  EXPECT_TRUE(o.data_only);
  EXPECT_EQ(o.column_delimiter, L"\t");
  EXPECT_EQ(o.driver, L"SQLite3");
  EXPECT_EQ(o.driver_parameters, L"Database=/tmp/x.db");
  EXPECT_EQ(o.script_files.size(), 2u);
  EXPECT_EQ(script_statements(o), (std::vector<std::wstring>{L"select 1;", L"select 2;"}));

  terminal_options semi;
  (void)semi.parse_positional({L"sqlterm", L"CS:;;", L"drv"});
  EXPECT_EQ(semi.column_delimiter, L";");
  EXPECT_EQ(semi.driver, L"drv");
  terminal_options empty;
  (void)empty.parse_positional({L"sqlterm", L"cs:", L"drv"});
  EXPECT_EQ(empty.column_delimiter, L"");
  // An argument that looks like an option is never taken for a driver name; a path is no option.
  terminal_options unknown;
  EXPECT_THROW(unknown.parse_options({L"sqlterm", L"-zz"}), invalid_option);
  terminal_options path;
  path.parse_options({L"sqlterm", L"SQLite3", L"Database=/tmp/x.db", dir.wpath("1.sql")});
  ASSERT_EQ(path.script_files.size(), 1u);
  // A value holding a quote and a blank stays in the current syntax.
  terminal_options quoted;
  quoted.parse_options({L"sqlterm", L"-cs:DSN=x", L"-q:select \"id\" from t where id = 1"});
  EXPECT_EQ(quoted.driver, L"");
  EXPECT_EQ(script_statements(quoted), (std::vector<std::wstring>{L"select \"id\" from t where id = 1"}));
  // The positional syntax reads the same vector: an argument with blanks stays whole.
  terminal_options blanks;
  blanks.parse_options({L"sqlterm", L"SQLite3", L"Database=/tmp/a b.db;Timeout=5"});
  EXPECT_EQ(blanks.driver, L"SQLite3");
  EXPECT_EQ(blanks.driver_parameters, L"Database=/tmp/a b.db;Timeout=5");
  terminal_options none;
  (void)none.parse_positional({L"sqlterm"});
  EXPECT_EQ(none.driver, L"");
  EXPECT_EQ(none.column_delimiter, L" ");
}

TEST(TerminalOptions, RealArgvThroughAShell) {
  if (vela::windows_platform) GTEST_SKIP() << "a POSIX shell's quoting";
  const std::string out = shell(std::string("sh -c '") + OPTIONS_PROBE_PATH +
                                " -cs:\"Driver=SQLite3;Database=/tmp/a b.db\" -q:\"select 1; select '\\''a;b'\\''\"'");
  EXPECT_EQ(out, "cs=[Driver=SQLite3;Database=/tmp/a b.db]\ndriver=[]\nstmt=[select 1;]\nstmt=[select 'a;b']\n");
  const std::string q = shell(std::string(OPTIONS_PROBE_PATH) + " '-q:select \"Name\";select 2'");
  EXPECT_EQ(q, "cs=[]\ndriver=[]\nstmt=[select \"Name\";]\nstmt=[select 2]\n");
  const std::string id = shell(std::string(OPTIONS_PROBE_PATH) + " '-q:select \"id\" from t where id = 1'");
  EXPECT_EQ(id, "cs=[]\ndriver=[]\nstmt=[select \"id\" from t where id = 1]\n");
}

TEST(TerminalOptions, ScriptAndExportOptions) {
  terminal_options o;
  o.parse_options({L"sqlterm", L"-csv", L"-cs:DSN=x", L"-OE", L"/null_text:\\N", L"-lc:80", L"-ML"});
  EXPECT_EQ(o.connection_string, L"DSN=x");
  EXPECT_TRUE(o.multiline);
  EXPECT_TRUE(o.csv);
  EXPECT_TRUE(o.on_error);
  EXPECT_TRUE(o.null_text_given);
  EXPECT_EQ(o.null_text, L"\\N");
  EXPECT_TRUE(o.long_columns);
  EXPECT_EQ(o.long_column_width, 80u);
  EXPECT_EQ(o.column_delimiter, L",");  // CSV without -cd
  // A delimiter given keeps its place; "-lc" alone has the default width; an empty NULL text
  // is still a given one.
  o.parse_options({L"sqlterm", L"-cd:;", L"-csv", L"-long_columns", L"-null:\"\"", L"/multiline"});
  EXPECT_TRUE(o.multiline);
  EXPECT_EQ(o.column_delimiter, L";");
  EXPECT_EQ(o.long_column_width, 255u);
  EXPECT_TRUE(o.null_text_given);
  EXPECT_EQ(o.null_text, L"");
  // None of them: all off, the padded default.
  o.parse_options({L"sqlterm", L"-cs:DSN=x"});
  EXPECT_FALSE(o.csv || o.on_error || o.null_text_given || o.long_columns || o.multiline);
  EXPECT_EQ(o.column_delimiter, L" ");
  // A width that is not 1 to 32767 is refused with code 87.
  for (const wchar_t* bad : {L"-lc:0", L"-lc:32768", L"-lc:12x", L"-lc:99999999999999999999"}) {
    try {
      o.parse_options({L"sqlterm", bad});
      ADD_FAILURE() << "accepted";
    } catch (const windows_error& e) {
      EXPECT_EQ(e.code(), 87);
    }
  }
}

TEST(TerminalOptions, MalformedOptionsNameTheOptionOnly) {
  struct row {
    std::vector<std::wstring> args;
    invalid_option::problem kind;
    std::wstring option;
    size_t position;
  };
  using p = invalid_option::problem;
  const std::vector<row> rows = {
      {{L"-cs:DSN=x;PWD=s3cret", L"-nul:s3cret"}, p::unknown, L"-nul", 2},
      {{L"-cs:DSN=x", L"-lc:"}, p::unknown, L"-lc", 2},
      {{L"-q:select 1", L"-cs:DSN=x", L"-CONNECTION_STRING:DSN=y"}, p::repeated, L"-CONNECTION_STRING", 3},
      {{L"-cs:DSN=x", L"--help"}, p::unknown, L"--help", 2},
      {{L"-cs:PWD=a", L"b;c"}, p::stray, L"", 2},
      {{L"-PWD=s3cret"}, p::unknown, L"-PWD", 1},
  };
  for (const row& r : rows) {
    std::vector<std::wstring> argv{L"sqlterm"};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    terminal_options o;
    try {
      o.parse_options(argv);
      ADD_FAILURE() << "accepted";
    } catch (const invalid_option& e) {
      EXPECT_EQ(e.kind(), r.kind);
      EXPECT_EQ(e.option(), r.option);
      EXPECT_EQ(e.position(), r.position);
      EXPECT_EQ(e.code(), 87);
      EXPECT_EQ(std::wstring(e.what()).find(L"s3cret"), std::wstring::npos);
    }
  }
  // Text values may be empty or start with a blank.
  terminal_options o;
  o.parse_options({L"sqlterm", L"-cd: |", L"-null:"});
  EXPECT_EQ(o.column_delimiter, L" |");
  EXPECT_TRUE(o.null_text_given);
  EXPECT_EQ(o.null_text, L"");
}

// Copies of whole tables: what -tables, -schema, -jobs and -create's forms give, and the
// combinations refused (a copy job's -into or query beside them, -jobs without them or hosts).
TEST(TerminalOptions, TableCopyOptions) {
  using how = terminal_options::table_creation;
  const struct {
    std::vector<std::wstring> args;
    std::wstring tables, schema;
    bool schema_given;
    size_t jobs;
    how creation;
  } accepted[] = {
      {{L"-tables:a, b"}, L"a, b", L"", false, 1, how::create},
      {{L"-tables:*", L"-jobs:4", L"-create:replace"}, L"*", L"", false, 4, how::replace},
      {{L"-schema", L"-jobs:64"}, L"", L"", true, 64, how::create},
      {{L"-schema:sales", L"-create:IF_NOT_EXISTS"}, L"", L"sales", true, 1, how::if_not_exists},
      {{L"-into:t", L"-q:select 1", L"-create:replace"}, L"", L"", false, 1, how::replace},
      {{L"-into:t", L"-q:select 1", L"-hosts:a,b:3307", L"-jobs:3"}, L"", L"", false, 3, how::create},  // spread over hosts
  };
  for (const auto& c : accepted) {
    std::vector<std::wstring> argv{L"sqlterm", L"-cs:DSN=target", L"-copy_from:DSN=source"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    terminal_options o;
    o.parse_options(argv);
    EXPECT_EQ(o.copy_tables, c.tables);
    EXPECT_EQ(o.copy_schema, c.schema);
    EXPECT_EQ(o.copy_schema_given, c.schema_given);
    EXPECT_EQ(o.copies_tables(), !c.tables.empty() || c.schema_given);
    EXPECT_EQ(o.copy_jobs, c.jobs);
    EXPECT_EQ(o.copy_creation, c.creation);
  }
  const struct {
    std::vector<std::wstring> args;
    const wchar_t* option;
  } refused[] = {
      {{L"-cs:DSN=t", L"-copy_from:DSN=s", L"-tables:*", L"-into:t"}, L"-tables"},
      {{L"-cs:DSN=t", L"-copy_from:DSN=s", L"-schema", L"-q:select 1"}, L"-schema"},
      {{L"-cs:DSN=t", L"-tables:*"}, L"-tables"},
      {{L"-copy_from:DSN=s", L"-schema:x"}, L"-schema"},
      {{L"-cs:DSN=t", L"-copy_from:DSN=s", L"-into:t", L"-q:select 1", L"-jobs:2"}, L"-jobs"},
      {{L"-cs:DSN=t", L"-hosts:a", L"-q:select 1", L"-jobs:2"}, L"-jobs"},
      {{L"-cs:DSN=t", L"-copy_from:DSN=s", L"-tables:*", L"-jobs:0"}, L"-jobs"},
      {{L"-cs:DSN=t", L"-copy_from:DSN=s", L"-tables:*", L"-jobs:65"}, L"-jobs"},
      {{L"-cs:DSN=t", L"-copy_from:DSN=s", L"-tables:*", L"-create:drop"}, L"-create"},
  };
  for (const auto& c : refused) {
    std::vector<std::wstring> argv{L"sqlterm"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    try {
      terminal_options().parse_options(argv);
      ADD_FAILURE() << "accepted";
    } catch (const invalid_option& e) {
      EXPECT_EQ(e.option(), c.option);
    }
  }
}

// "-retry:N" sets the retries of statements and loads alike; without it statements run once
// and loads retry 3 times.
TEST(TerminalOptions, RetryOption) {
  const struct {
    std::vector<std::wstring> args;
    uint32_t statements, loads;
  } accepted[] = {{{}, 0, 3}, {{L"-retry:0"}, 0, 0}, {{L"-retry:5"}, 5, 5}, {{L"-retry:100"}, 100, 100}};
  for (const auto& c : accepted) {
    std::vector<std::wstring> argv{L"sqlterm", L"-cs:DSN=t"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    terminal_options o;
    o.parse_options(argv);
    EXPECT_EQ(o.statement_retries(), c.statements);
    EXPECT_EQ(o.load_retries(), c.loads);
  }
  for (const wchar_t* bad : {L"-retry:101", L"-retry:x", L"-retry:", L"-retry:-1"}) {
    try {
      terminal_options().parse_options({L"sqlterm", L"-cs:DSN=t", bad});
      ADD_FAILURE() << "accepted";
    } catch (const invalid_option& e) {
      EXPECT_EQ(e.option(), L"-retry");
    }
  }
}

// The host options: what each gives, and the values refused.
TEST(TerminalOptions, HostsTargetOrderAndReconnect) {
  terminal_options o;
  o.parse_options({L"sqlterm", L"-cs:DSN=t", L"-hosts:a,b:5433", L"-target:Read-Only", L"-host_order:random", L"-reconnect"});
  EXPECT_EQ(o.hosts, L"a,b:5433");
  EXPECT_EQ(o.target, vela::odbc::host_target::read_only);
  EXPECT_TRUE(o.target_given);
  EXPECT_TRUE(o.random_hosts);
  EXPECT_TRUE(o.reconnect);
  o.parse_options({L"sqlterm", L"-cs:DSN=t", L"-host_order:listed"});
  EXPECT_EQ(o.hosts, L"");
  EXPECT_EQ(o.target, vela::odbc::host_target::any);
  EXPECT_FALSE(o.target_given || o.random_hosts || o.reconnect);
  const struct {
    const wchar_t* arg;
    const wchar_t* option;
  } refused[] = {{L"-hosts:", L"-hosts"}, {L"-hosts:a,,b", L"-hosts"}, {L"-hosts:a:99999", L"-hosts"},
                 {L"-target:master", L"-target"}, {L"-target:", L"-target"}, {L"-host_order:shuffled", L"-host_order"}};
  for (const auto& c : refused) {
    try {
      terminal_options().parse_options({L"sqlterm", L"-cs:DSN=t", c.arg});
      ADD_FAILURE() << "accepted";
    } catch (const invalid_option& e) {
      EXPECT_EQ(e.option(), c.option);
    }
  }
}

// Every option of the table is in both usage texts (by its first name), the manual page and the
// shell completion.
TEST(OptionTable, EveryNameIsDocumented) {
  const auto text_of = [](const string_entry* entries, size_t count) {
    for (size_t i = 0; i < count; ++i)
      if (entries[i].id == string_id::usage) return std::wstring(entries[i].text);
    return std::wstring();
  };
  const string_table& t = strings();
  const std::wstring usage[] = {text_of(t.english, t.english_count), text_of(t.russian, t.russian_count)};
  const auto read = [](const char* name) {
    std::ifstream in(std::string(VELA_SOURCE_DIR) + "/" + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string man = read("doc/man/sqlterm.1"), completion = read("doc/completion/vela.bash");
  ASSERT_FALSE(man.empty());
  ASSERT_FALSE(completion.empty());
  for (const option_entry& entry : option_table()) {
    const std::wstring names = entry.names;
    for (size_t from = 0; from <= names.size();) {
      const size_t bar = std::min(names.find(L'|', from), names.size());
      const std::wstring name = names.substr(from, bar - from);
      const std::string narrow(name.begin(), name.end());
      // The usage texts show the first name of each.
      if (from == 0) {
        for (const std::wstring& u : usage) EXPECT_NE(u.find(L"-" + name), std::wstring::npos) << narrow;
      }
      EXPECT_NE(man.find("\\-" + narrow), std::string::npos) << narrow;
      EXPECT_NE(completion.find("\n-" + narrow), std::string::npos) << narrow;
      from = bar + 1;
    }
  }
}

// Each format of the table by each of its names, in any case; "-csv" goes only with csv, and a
// name of no format is refused.
TEST(FormatTable, EveryNameGivesItsFormat) {
  const output_format* const csv = find_format(L"csv");
  ASSERT_NE(csv, nullptr);
  size_t named = 0;
  for (const output_format& f : output_formats()) {
    if (!*f.name) {
      EXPECT_EQ(&f, &default_format());
      continue;
    }
    ++named;
    std::vector<std::wstring> names{f.name};
    for (std::wstring a = f.aliases; !a.empty();) {
      const size_t bar = std::min(a.find(L'|'), a.size());
      names.push_back(a.substr(0, bar));
      a.erase(0, std::min(bar + 1, a.size()));
    }
    for (const std::wstring& name : names) {
      const std::string narrow(name.begin(), name.end());
      for (const std::wstring& given : {L"-format:" + name, L"-fmt:" + to_upper_copy(name)}) {
        terminal_options o;
        o.parse_options({L"sqlterm", given});
        EXPECT_EQ(o.format, &f) << narrow;
        EXPECT_EQ(o.csv, &f == csv) << narrow;
        EXPECT_EQ(o.data_apart(), f.rows_only) << narrow;
      }
      terminal_options with_csv;
      if (&f == csv) {
        with_csv.parse_options({L"sqlterm", L"-csv", L"-format:" + name});
        EXPECT_EQ(with_csv.format, csv);
      } else {
        EXPECT_THROW(with_csv.parse_options({L"sqlterm", L"-csv", L"-format:" + name}), invalid_option) << narrow;
      }
    }
  }
  EXPECT_GE(named, 7u);
  terminal_options o;
  o.parse_options({L"sqlterm", L"-csv"});
  EXPECT_EQ(o.format, csv);
  o.parse_options({L"sqlterm", L"-do"});
  EXPECT_EQ(o.format, &default_format());
  for (const wchar_t* bad : {L"-format:", L"-format:nope", L"-fmt:json,csv"})
    EXPECT_THROW(terminal_options().parse_options({L"sqlterm", bad}), invalid_option);
}

// The usage texts (English and Russian) list every named format, and so do the manual page,
// the README and the shell completion.
TEST(FormatTable, EveryFormatIsDocumented) {
  const string_table& t = strings();
  set_string_table(&t);  // the word before the last name
  std::vector<std::wstring> usage;
  for (const auto& [entries, count] : {std::pair{t.english, t.english_count}, std::pair{t.russian, t.russian_count}})
    for (size_t i = 0; i < count; ++i)
      if (entries[i].id == string_id::usage) usage.push_back(with_format_names(entries[i].text));
  ASSERT_EQ(usage.size(), 2u);
  const auto read = [](const char* name) {
    std::ifstream in(std::string(VELA_SOURCE_DIR) + "/" + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string man = read("doc/man/sqlterm.1"), readme = read("README.md"),
                    completion = read("doc/completion/vela.bash");
  const size_t formats = completion.find("_vela_formats=\"");
  ASSERT_NE(formats, std::string::npos);
  const std::string completed = " " + completion.substr(formats + 15, completion.find('"', formats + 15) - formats - 15) + " ";
  for (const output_format& f : output_formats()) {
    if (!*f.name) continue;
    const std::wstring name = f.name;
    const std::string narrow(name.begin(), name.end());
    for (const std::wstring& u : usage) {
      EXPECT_EQ(u.find(L"{formats}"), std::wstring::npos);
      EXPECT_NE(u.find(L" " + std::wstring(f.help)), std::wstring::npos) << narrow;
    }
    EXPECT_NE(man.find("\n.B " + narrow + "\n"), std::string::npos) << narrow;
    EXPECT_NE(readme.find("| `" + narrow + "` |"), std::string::npos) << narrow;
    EXPECT_NE(completed.find(" " + narrow + " "), std::string::npos) << narrow;
  }
  set_string_table(nullptr);
}
