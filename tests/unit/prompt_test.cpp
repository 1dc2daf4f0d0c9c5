#include <gtest/gtest.h>

#include <filesystem>

#include "Terminal/commands/command_table.h"
#include "Terminal/handler.h"
#include "Terminal/input/completion_context.h"
#include "Terminal/input/prompt.h"
#include "Terminal/output/formats.h"
#include "support/temp_dir.h"
#include "vela/odbc/connection.h"
#include "vela/utf.h"

using namespace vela;
using namespace vela::terminal;

TEST(HistoryForm, PasswordsAreHiddenWhereverTheyStand) {
  EXPECT_EQ(history_form(L"select 1"), L"select 1");
  EXPECT_EQ(history_form(L"CONNECT \"Driver=SQLite3;Database=/tmp/a b.db;PWD=s3cret\""),
            L"CONNECT \"Driver=SQLite3;Database=/tmp/a b.db;PWD=*hidden*\"");
  EXPECT_EQ(history_form(L"connect \"pwd=s3cret;Driver=x\""), L"connect \"pwd=*hidden*;Driver=x\"");
  EXPECT_EQ(history_form(L"connect Driver=x;Password={a;b}};c};UID=u"), L"connect Driver=x;Password=*hidden*;UID=u");
  EXPECT_EQ(history_form(L"CONNECT DRIVER \"PostgreSQL Unicode\" Server=h;PaSsWoRd = s3cret"),
            L"CONNECT DRIVER \"PostgreSQL Unicode\" Server=h;PaSsWoRd =*hidden*");
  EXPECT_EQ(history_form(L"connect  datasource  \"my dsn\" bob s3cret"), L"connect  datasource  \"my dsn\" bob *hidden*");
  EXPECT_EQ(history_form(L"connect datasource \"my dsn\" bob \"two words\""), L"connect datasource \"my dsn\" bob *hidden*");
  // The quotes of a connection string stay where they were, whatever its braces hold.
  EXPECT_EQ(history_form(L"connect \"Driver={x};PWD={s3;cret}\" "), L"connect \"Driver={x};PWD=*hidden*\" ");
  EXPECT_EQ(history_form(L"CONNECT \"PWD={s3\"cret}\""), L"CONNECT \"PWD=*hidden*\"");
  // Without a password word nothing is hidden.
  EXPECT_EQ(history_form(L"CONNECT DATASOURCE dsn bob"), L"CONNECT DATASOURCE dsn bob");
  EXPECT_EQ(history_form(L"select pwd from users"), L"select pwd from users");
}

// In a statement only the secret goes: the rest of the line stays for the history and the log.
TEST(HistoryForm, AStatementKeepsAllButItsSecret) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"select 'PWD=s3' as x;", L"select 'PWD=*hidden*' as x;"},
      {L"select '{PASSWORD=s3}' x", L"select '{PASSWORD=*hidden*}' x"},
      {L"select 'Driver=x;PWD={a;b}};c};UID=u'", L"select 'Driver=x;PWD=*hidden*;UID=u'"},
      {L"alter user u password 'x''y' valid until 'infinity';", L"alter user u password '*hidden*' valid until 'infinity';"},
      {L"CREATE USER u IDENTIFIED BY 'top' ;", L"CREATE USER u IDENTIFIED BY '*hidden*' ;"},
      {L"create user u encrypted password 'a\\'b' login", L"create user u encrypted password '*hidden*' login"},
      {L"grant all to u identified by password '*AB12'", L"grant all to u identified by password '*hidden*'"},
      {L"set password = password('new')", L"set password = password('*hidden*')"},
      // No secret: nothing changes.
      {L"select password, pwd from users where password = pwd", L"select password, pwd from users where password = pwd"},
      {L"select mypwd='x', passwords 'y'", L"select mypwd='x', passwords 'y'"},
  };
  for (const auto& [line, stored] : rows) {
    EXPECT_EQ(history_form(line), stored) << wide_to_utf8(line);
    EXPECT_EQ(odbc::mask_statement(line), stored) << wide_to_utf8(line);
  }
}

// Which statements begin and end a transaction, by their first words.
TEST(TransactionEffect, TheFirstWordsTell) {
  using enum transaction_step;
  const std::pair<const wchar_t*, transaction_statement> rows[] = {
      {L"begin", {begin, L""}},
      {L"-- a migration\nbegin transaction isolation level serializable", {begin, L""}},
      {L"start transaction read only", {begin, L""}},
      {L"begin dbms_output.put_line('x'); end;", {}},
      {L"commit", {end, L""}},
      {L"end transaction", {end, L""}},
      {L"rollback", {end, L""}},
      {L"rollback and no chain", {end, L""}},
      {L"commit and chain", {}},
      {L"rollback to savepoint s1", {}},
      {L"commit prepared 'x'", {}},
      {L"prepare transaction 'x'", {end, L""}},
      {L"savepoint s1", {savepoint, L"S1"}},
      {L"SAVEPOINT \"Mixed Name\";", {savepoint, L"Mixed Name"}},
      {L"release savepoint s1", {release, L"S1"}},
      {L"select 'begin'", {}},
  };
  for (const auto& [statement, expected] : rows) {
    const transaction_statement got = transaction_effect(statement);
    EXPECT_EQ(got.step, expected.step) << wide_to_utf8(statement);
    EXPECT_EQ(got.savepoint, expected.savepoint) << wide_to_utf8(statement);
  }
}

class Completion : public ::testing::Test {
 protected:
  std::vector<std::wstring> complete(const std::wstring& before, size_t expected_start) {
    size_t start = 999;
    std::vector<std::wstring> out = words.candidates(before, start);
    EXPECT_EQ(start, expected_start) << before.size();
    return out;
  }
  terminal_options options;
  TTermOdbcHndlr handler{&options};
  std::unique_ptr<completion> made = handler.make_completion();
  completion& words = *made;
};

using list = std::vector<std::wstring>;

TEST_F(Completion, CommandWordsFollowTheTypedCase) {
  EXPECT_EQ(complete(L"", 0), (list{L"CONNECT", L"DISCONNECT", L"LIST", L"EXIT", L"HELP"}));
  EXPECT_EQ(complete(L"co", 0), list{L"connect"});
  EXPECT_EQ(complete(L"  Di", 2), list{L"DISCONNECT"});
  EXPECT_EQ(complete(L"CONNECT ", 8), (list{L"DRIVER", L"DATASOURCE"}));
  EXPECT_EQ(complete(L"connect da", 8), list{L"datasource"});
  EXPECT_EQ(complete(L"LIST D", 5), (list{L"DRIVERS", L"DATASOURCES"}));
  EXPECT_EQ(complete(L"help ex", 5), list{L"exit"});
  EXPECT_TRUE(complete(L"xyz", 0).empty());
  EXPECT_TRUE(complete(L"EXIT ", 5).empty());
}

TEST_F(Completion, DriverNamesWithBlanksComeQuoted) {
  const list drivers = complete(L"CONNECT DRIVER ", 15);
  ASSERT_FALSE(drivers.empty());
  for (const auto& d : drivers) {
    if (d.find(L' ') != std::wstring::npos) {
      EXPECT_TRUE(d.front() == L'"' && d.back() == L'"') << d;
    }
  }
  EXPECT_EQ(complete(L"connect driver sqlite3", 15), list{L"SQLite3"});
  EXPECT_EQ(complete(L"connect driver \"SQLite3", 15), list{L"\"SQLite3\""});
}

TEST_F(Completion, NoTablesWithoutAConnection) {
  EXPECT_TRUE(complete(L"select * from ", 14).empty());
}

// The names a command's entry may declare for its arguments: the format table's, the settings'
// and variables'.
TEST(CompletionNames, FormatsAndSettingsForTheCommandsThatAskForThem) {
  odbc::connection none;
  const auto after = [](const std::wstring& first, size_t, const std::wstring&) -> std::optional<completion_words> {
    if (first == L"\\fmt") return names_of(argument_kind::formats);
    if (first == L"\\setting") return names_of(argument_kind::settings);
    return std::nullopt;
  };
  completion words(none, {command_words, after, nullptr, [] { return list{L"MULTILINE", L"ON_ERROR_STOP", L"id"}; }});
  size_t start = 0;
  EXPECT_EQ(words.candidates(L"\\fmt js", start), (list{L"json", L"jsonl"}));
  EXPECT_EQ(start, 5u);
  EXPECT_EQ(words.candidates(L"\\fmt ", start).size(), output_formats().size() - 1);
  EXPECT_EQ(words.candidates(L"\\setting on_", start), list{L"ON_ERROR_STOP"});
  EXPECT_EQ(words.candidates(L"\\setting I", start), list{L"id"});
}

// What goes where the cursor stands, and the tables the statement names before and after it.
TEST(CompletionContext, ThePlaceAndTheTablesOfTheStatement) {
  using enum sql_place;
  using tables = std::vector<table_reference>;
  const struct {
    const wchar_t* before;
    const wchar_t* after;
    sql_place place;
    tables named;
    const wchar_t* qualifier = L"";
  } rows[] = {
      {L"select na", L" from people", column, {{L"people", L""}}},
      {L"select id, na", L" from people p join s.pets on p.id = pets.owner", column, {{L"people", L"p"}, {L"s.pets", L""}}},
      {L"select p.na", L" from people as p", column, {{L"people", L"p"}}, L"p"},
      {L"select * from people where na", L"", column, {{L"people", L""}}},
      {L"select * from people where name = 'x' and ag", L"", column, {{L"people", L""}}},
      {L"select * from people order by na", L"", column, {{L"people", L""}}},
      {L"select count(na", L") from people", column, {{L"people", L""}}},
      {L"insert into s.people (id, na", L") values (1, 'x')", column, {{L"s.people", L""}}},
      {L"update people set na", L" = 'x'", column, {{L"people", L""}}},
      {L"update people set name = 'x' where i", L"", column, {{L"people", L""}}},
      {L"delete from people where id in (select owner from pets where na", L")", column,
       {{L"people", L""}, {L"pets", L""}}},
      {L"select * from pe", L"", table, {}},
      {L"select * from people, pe", L"", table, {{L"people", L""}}},
      {L"select * from people p join public.pe", L"", table, {{L"people", L"p"}}, L"public"},
      {L"insert into pe", L"", table, {}},
      {L"update pe", L"", table, {}},
      {L"drop table pe", L"", table, {}},
      {L"select name fr", L"", keyword, {}},
      {L"select * from people wh", L"", keyword, {{L"people", L""}}},
      {L"select * from people where name is n", L"", keyword, {{L"people", L""}}},
      {L"sel", L"", keyword, {}},
      // Only the statement the cursor stands in.
      {L"select * from pets; select na", L" from people; select 1 from other", column, {{L"people", L""}}},
      // Quotes, literals and comments are no words of the statement.
      {L"select \"Name\", na", L" from \"My People\" -- from comment", column, {{L"My People", L""}}},
      {L"select 'from x', na", L" /* from y */ from people", column, {{L"people", L""}}},
  };
  for (const auto& r : rows) {
    const statement_context c = context_of(r.before, r.after);
    EXPECT_EQ(c.place, r.place) << wide_to_utf8(r.before);
    EXPECT_EQ(c.tables, r.named) << wide_to_utf8(r.before);
    EXPECT_EQ(c.qualifier, r.qualifier) << wide_to_utf8(r.before);
  }
  const statement_context first = context_of(L"  sel", L"");
  EXPECT_TRUE(first.first);
  EXPECT_EQ(first.word_start, 2u);
  const statement_context aliased = context_of(L"select p.", L" from people p");
  EXPECT_EQ(aliased.word_start, 7u);
  EXPECT_EQ(table_of(aliased, L"p"), L"people");
  EXPECT_EQ(table_of(aliased, L"PEOPLE"), L"people");
  EXPECT_EQ(table_of(aliased, L"other"), L"other");
}

// A client command's arguments: the names it declares in the command table.
TEST_F(Completion, ClientCommandsCompleteTheirArguments) {
  const vela::testing::temp_dir dir;
  std::filesystem::create_directory(dir.path("sub"));
  dir.write("script.sql", "select 1;");
  dir.write("sub/inner.sql", "select 2;");
  const std::wstring folder = utf8_to_wide(dir.path()) + L"/";
  EXPECT_EQ(complete(L"\\i " + folder + L"scr", 3), list{folder + L"script.sql"});
  EXPECT_EQ(complete(L"\\i " + folder + L"s", 3), (list{folder + L"script.sql", folder + L"sub/"}));
  EXPECT_EQ(complete(L"\\copy t FROM " + folder + L"su", 13), list{folder + L"sub/"});
  EXPECT_EQ(complete(L"\\copy t f", 8), list{L"from"});
  EXPECT_EQ(complete(L"\\timing o", 8), (list{L"on", L"off"}));
  EXPECT_TRUE(complete(L"\\conninfo x", 10).empty());
  EXPECT_TRUE(complete(L"\\nosuch x", 8).empty());
  EXPECT_EQ(complete(L"\\ref", 0), list{L"\\refresh"});
}

#ifndef _WIN32
#include <sys/stat.h>

#include <filesystem>

#include "os/os.h"
#include "support/temp_dir.h"
#include "support/test_platform.h"

namespace {

namespace fs = std::filesystem;
using vela::testing::temp_dir;

unsigned mode_of(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

// The history is kept only in a folder of the user's own that no one else can reach.
TEST(HistoryFile, FolderIsPrivateOrHistoryIsOff) {
  enum kind { missing, wide_open, link_to_folder };
  struct row {
    kind folder;
    bool used;
  };
  const row rows[] = {{missing, true}, {wide_open, true}, {link_to_folder, false}};
  for (const row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.folder));
    temp_dir dir, other;
    ASSERT_EQ(chmod(other.path().c_str(), 0755), 0);
    fs::create_directory(dir.path("state"));
    const std::string folder = dir.path("state/vela");
    if (r.folder == wide_open) {
      ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    }
    if (r.folder == link_to_folder) fs::create_directory_symlink(other.path(), folder);
    vela::testing::set_env("XDG_STATE_HOME", dir.path("state").c_str());
    const std::wstring file = history_file();
    vela::testing::set_env("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(file.empty(), !r.used);
    if (r.used) {
      EXPECT_EQ(file, dir.wpath("state/vela/sqlterm_history"));
      EXPECT_EQ(mode_of(folder), 0700u);
    }
    EXPECT_EQ(mode_of(other.path()), 0755u);
  }
}

// Lines go only into a regular file kept 0600; links planted at its name or at the name a
// trim once used are never written through.
TEST(HistoryFile, AppendAndTrimNeverFollowLinks) {
  enum kind { none, readable_file, link_at_file, link_at_trim_name };
  struct row {
    kind planted;
    uint32_t code;
    std::string after;
  };
  const row rows[] = {
      {none, 0, "6\n"},
      {readable_file, 0, "1\n2\n3\n4\n5\n6\n"},  // six lines fit: not cut yet
      {link_at_file, vela::os::err_invalid_data, ""},
      {link_at_trim_name, 0, "3\n4\n5\n6\n7\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.planted));
    temp_dir dir, other;
    other.write("victim", "keep\n");
    const std::string file = dir.path("sqlterm_history");
    if (r.planted == readable_file || r.planted == link_at_trim_name) {
      dir.write("sqlterm_history", r.planted == readable_file ? "1\n2\n3\n4\n5\n" : "1\n2\n3\n4\n5\n6\n");
      ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    }
    if (r.planted == link_at_file) fs::create_symlink(other.path("victim"), file);
    if (r.planted == link_at_trim_name) fs::create_symlink(other.path("victim"), file + ".new");
    const std::string line = r.planted == link_at_trim_name ? "7\n" : "6\n";
    EXPECT_EQ(vela::os::append_history_line(dir.wpath("sqlterm_history"), line, 5), r.code);
    EXPECT_EQ(other.read("victim"), "keep\n");
    if (r.code == 0) {
      EXPECT_EQ(dir.read("sqlterm_history"), r.after);
      EXPECT_EQ(mode_of(file), 0600u);
    }
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, r.planted == link_at_trim_name ? 2u : 1u);  // no trim copy left behind
  }
}
#endif
