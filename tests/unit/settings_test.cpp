// Settings at runtime and at start-up: each command changes the option the next statement
// reads, a value a setting does not take changes nothing, \set stores variables as psql
// reads its values, and the start-up file is read only where it belongs.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Terminal/handler.h"
#include "Terminal/session/settings.h"
#include "Terminal/session/startup_file.h"
#include "Terminal/strings.h"
#include "support/test_platform.h"
#include "vela/utf.h"
#include "vela/wstr.h"

using namespace vela;
using namespace vela::terminal;

namespace {

std::wstring value_of(const terminal_options& o, const wchar_t* name) { return option_value(o, name).value_or(L"?"); }

} // namespace

// One session: each line in turn, then the setting it names as \set lists it.
TEST(Settings, CommandsChangeTheirSetting) {
  const struct {
    const wchar_t* line;
    bool ok;
    const wchar_t* setting;
    const wchar_t* value;
  } rows[] = {
      {L"\\pset format aligned", true, L"format", L"aligned"},
      {L"\\pset format Nope", false, L"format", L"aligned"},
      {L"\\pset format CSV", true, L"format", L"csv"},
      {L"\\pset format padded", true, L"format", L"padded"},
      {L"\\pset null '(null)'", true, L"null", L"(null)"},
      {L"\\pset null ''", true, L"null", L""},
      {L"\\pset border 2", true, L"border", L"2"},
      {L"\\pset border 3", false, L"border", L"2"},
      {L"\\pset pager always", true, L"pager", L"always"},
      {L"\\pset pager on", true, L"pager", L"on"},
      {L"\\pset pager sometimes", false, L"pager", L"on"},
      {L"\\pset frame 1", false, L"pager", L"on"},
      {L"\\x", true, L"expanded", L"on"},
      {L"\\x", true, L"expanded", L"off"},
      {L"\\x auto", true, L"expanded", L"auto"},
      {L"\\x wide", false, L"expanded", L"auto"},
      {L"\\timing off", true, L"timing", L"off"},
      {L"\\timing", true, L"timing", L"on"},  // alone: on, as the times were always shown
      {L"\\set MULTILINE on", true, L"MULTILINE", L"on"},
      {L"\\set multiline maybe", false, L"MULTILINE", L"on"},
      {L"\\unset MULTILINE", true, L"MULTILINE", L"off"},
      {L"\\set ON_ERROR_STOP true", true, L"ON_ERROR_STOP", L"on"},
      {L"\\set ON_ERROR_STOP off", true, L"ON_ERROR_STOP", L"off"},
  };
  terminal_options options;
  TTermOdbcHndlr handler{&options};
  for (const auto& r : rows) {
    EXPECT_EQ(handler.handle_line(r.line).succeeded(), r.ok) << wide_to_utf8(r.line);
    EXPECT_EQ(value_of(options, r.setting), r.value) << wide_to_utf8(r.line);
  }
  // CSV took "," for its fields where the padded layout's blank stood, and gave it back.
  EXPECT_EQ(options.column_delimiter, L" ");
  EXPECT_TRUE(options.null_text_given);
  EXPECT_FALSE(handler.stopped());
}

// \set keeps a variable's value as psql reads it: words joined, single quotes removed.
TEST(Settings, VariablesStoredAsPsqlReadsThem) {
  const struct {
    const wchar_t* line;
    const wchar_t* name;
    const wchar_t* value;  // null: not set afterwards
  } rows[] = {
      {L"\\set PROMPT1 '%n@%/%R '", L"PROMPT1", L"%n@%/%R "},
      {L"\\set id 3", L"id", L"3"},
      {L"\\set a x 'y z' 'it''s'", L"a", L"xy zit's"},
      {L"\\set empty", L"empty", L""},
      {L"\\unset id", L"id", nullptr},
      {L"\\unset never_set", L"never_set", nullptr},
  };
  terminal_options options;
  TTermOdbcHndlr handler{&options};
  terminal_context ctx(options);
  for (const auto& r : rows) {
    script_item item;
    item.kind = script_item::kind_type::client_command;
    item.text = r.line;
    EXPECT_TRUE(run_client_command(ctx, handler, item, L"").succeeded()) << wide_to_utf8(r.line);
    const std::wstring* got = ctx.variables.find(r.name);
    EXPECT_EQ(got ? *got : L"(unset)", r.value ? r.value : L"(unset)") << wide_to_utf8(r.line);
  }
  script_item bad;
  bad.kind = script_item::kind_type::client_command;
  bad.text = L"\\set a-b 1";
  EXPECT_FALSE(run_client_command(ctx, handler, bad, L"").succeeded());
  EXPECT_EQ(ctx.variables.find(L"a-b"), nullptr);
  // A setting's name never becomes a variable.
  EXPECT_EQ(ctx.variables.find(L"MULTILINE"), nullptr);
}

// The start-up options are the same settings, by the same words.
TEST(Settings, StartupOptions) {
  terminal_options o;
  o.parse_options({L"sqlterm", L"-border:0", L"-x:auto", L"-timing:off", L"-pager:always", L"-norc", L"-rc:./.sqltermrc"});
  EXPECT_EQ(o.border, 0);
  EXPECT_EQ(o.expanded, terminal_options::expanded_mode::automatic);
  EXPECT_FALSE(o.timing);
  EXPECT_TRUE(o.pager && o.pager_always);
  EXPECT_TRUE(o.no_rc);
  EXPECT_EQ(o.rc_file, L"./.sqltermrc");
  o.parse_options({L"sqlterm", L"-x", L"-pager"});
  EXPECT_EQ(o.expanded, terminal_options::expanded_mode::on);
  EXPECT_TRUE(o.pager && !o.pager_always);
  for (const wchar_t* bad : {L"-border:3", L"-x:wide", L"-timing:maybe", L"-pager:never"}) {
    terminal_options refused;
    EXPECT_THROW(refused.parse_options({L"sqlterm", bad}), invalid_option) << wide_to_utf8(bad);
  }
}

// Every line of the file -init-rc writes is taken, the commented ones too.
TEST(Settings, WrittenStartupFileIsAccepted) {
  for (const bool russian : {false, true}) {
    const string_table& t = strings();
    const string_entry* entries = russian ? t.russian : t.english;
    const size_t count = russian ? t.russian_count : t.english_count;
    std::wstring text;
    for (size_t i = 0; i < count; ++i)
      if (entries[i].id == string_id::startup_file_template) text = entries[i].text;
    ASSERT_NE(text.find(L"\n\\set MULTILINE on\n"), std::wstring::npos);
    terminal_options options;
    TTermOdbcHndlr handler{&options};
    size_t commands = 0;
    for (size_t from = 0; from < text.size();) {
      const size_t end = text.find(L'\n', from);
      std::wstring line = text.substr(from, end - from);
      from = end + 1;
      if (line.starts_with(L"-- \\")) line.erase(0, 3);
      if (line.empty() || line.starts_with(L"--")) continue;
      ++commands;
      EXPECT_TRUE(handler.handle_line(line).succeeded()) << wide_to_utf8(line);
    }
    EXPECT_GE(commands, 8u);
    EXPECT_TRUE(options.multiline);
  }
}

// The user's file only where the run prompts at a terminal; -rc:FILE in any run, -norc never.
TEST(Settings, WhichStartupFileARunReads) {
  vela::testing::set_env("XDG_CONFIG_HOME", "/cfg");
  const std::wstring user = L"/cfg/vela/sqltermrc";
  EXPECT_EQ(user_startup_file(), user);
  const struct {
    std::vector<std::wstring> args;
    bool terminal;
    std::wstring file;
  } rows[] = {
      {{}, true, user},
      {{}, false, L""},
      {{L"-q:select 1"}, true, L""},
      {{L"-qi"}, true, L""},
      {{L"-norc"}, true, L""},
      {{L"-q:select 1", L"-rc:./.sqltermrc"}, false, L"./.sqltermrc"},
      {{L"-rc:my.rc", L"-norc"}, true, L""},
  };
  for (const auto& r : rows) {
    std::vector<std::wstring> argv{L"sqlterm", L"-cs:Driver=x"};
    argv.insert(argv.end(), r.args.begin(), r.args.end());
    terminal_options o;
    o.parse_options(argv);
    EXPECT_EQ(startup_file_of(o, r.terminal), r.file) << (r.args.empty() ? std::string() : wide_to_utf8(r.args[0]));
  }
  vela::testing::set_env("XDG_CONFIG_HOME", nullptr);
}
