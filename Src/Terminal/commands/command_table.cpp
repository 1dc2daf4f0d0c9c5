#include "Terminal/commands/command_table.h"

#include <algorithm>
#include <cwctype>

#include "Terminal/commands/commands.h"
#include "Terminal/input/prompt.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/os_error.h"
#include "vela/wstr.h"

namespace vela::terminal {

// Keyword commands first in the order HELP names them; the \? list follows the table's order.
const std::vector<command_entry>& command_table() {
  using namespace string_id;
  static const std::vector<command_entry> table = {
      {.keywords = {L"CONNECT"},
       .arguments = {L"<connection string>", L"DRIVER <ODBC driver> <parameters>", L"DATASOURCE <datasource> <user> <pwd>"},
       .help_id = connect_help, .whole_line = true, .next_words = connect_words, .run = run_connect},
      {.keywords = {L"DISCONNECT"}, .arguments = {L""}, .run = run_disconnect},
      {.keywords = {L"LIST"},
       .arguments = {L"DRIVERS | DATASOURCES | TABLES [CATALOG=<c>] [TABLE=<t>] | COLUMNS [<table>]"},
       .help_id = list_help, .next_words = list_words, .run = run_list},
      {.client_forms = {L"\\d", L"\\d+", L"\\dS", L"\\dS+"}, .arguments = {L"[<table>]"}, .help_id = describe_help,
       .list_id = describe_list_line, .break_before = true,
       .completes = argument_kind::tables, .run = run_describe},
      {.client_forms = {L"\\dt", L"\\dt+", L"\\dtS", L"\\dtS+"}, .arguments = {L"[<pattern>]"}, .help_id = tables_help,
       .list_id = tables_list_line, .break_before = true,
       .completes = argument_kind::tables, .run = run_describe},
      {.client_forms = {L"\\dv", L"\\dv+", L"\\dvS", L"\\dvS+"}, .arguments = {L"[<pattern>]"}, .help_id = views_help,
       .list_id = views_list_line, .break_before = true,
       .completes = argument_kind::tables, .run = run_describe},
      {.client_forms = {L"\\di", L"\\di+", L"\\diS", L"\\diS+"}, .arguments = {L"[<pattern>]"}, .help_id = indexes_help,
       .list_id = indexes_list_line, .break_before = true,
       .completes = argument_kind::tables, .run = run_describe},
      {.client_forms = {L"\\dn", L"\\dn+", L"\\dnS", L"\\dnS+"}, .arguments = {L""}, .help_id = schemas_help,
       .list_id = schemas_list_line, .break_before = true, .run = run_describe},
      {.client_forms = {L"\\df", L"\\df+", L"\\dfS", L"\\dfS+"}, .arguments = {L""}, .help_id = routines_help,
       .list_id = routines_list_line, .break_before = true, .run = run_describe},
      {.client_forms = {L"\\c", L"\\connect"}, .arguments = {L"<database>"}, .list_id = reconnect_list_line,
       .break_before = true, .run = run_reconnect},
      {.client_forms = {L"\\conninfo"}, .arguments = {L""}, .list_id = conninfo_list_line, .break_before = true,
       .run = run_conninfo},
      {.client_forms = {L"\\i", L"\\include", L"\\ir", L"\\include_relative", L"source"}, .arguments = {L"<file>"},
       .list_id = include_list_line, .completes = argument_kind::files, .run = run_include},
      {.client_forms = {L"\\copy"}, .arguments = {L"<table> FROM | TO <file>"}, .list_id = copy_list_line,
       .next_words = copy_words, .run = run_copy},
      {.client_forms = {L"\\restrict", L"\\unrestrict"}, .arguments = {L"<key>"}, .list_id = restrict_list_line,
       .run = run_nothing},
      {.client_forms = {L"\\s"}, .arguments = {L"[<file>]"}, .list_id = history_list_line, .break_before = true,
       .completes = argument_kind::files, .run = run_history},
      {.client_forms = {L"\\timing"}, .arguments = {L"[on | off]"}, .list_id = timing_list_line, .next_words = on_off_words,
       .run = run_timing},
      {.client_forms = {L"\\set"}, .arguments = {L"[<name> [<value>]]"}, .list_id = set_list_line, .next_words = set_words,
       .run = run_set},
      {.client_forms = {L"\\unset"}, .arguments = {L"<name>"}, .list_id = unset_list_line, .run = run_unset},
      {.client_forms = {L"\\pset"}, .arguments = {L"[<name> [<value>]]"}, .list_id = pset_list_line,
       .next_words = pset_words, .run = run_pset},
      {.client_forms = {L"\\x"}, .arguments = {L"[on | off | auto]"}, .list_id = expanded_list_line, .run = run_expanded},
      {.client_forms = {L"\\encoding"}, .arguments = {L"[<name>]"}, .list_id = encoding_list_line, .run = run_encoding},
      {.client_forms = {L"\\refresh"}, .arguments = {L""}, .list_id = refresh_list_line, .run = run_nothing},
      {.client_forms = {L"\\if", L"\\elif", L"\\else", L"\\endif"}, .arguments = {L"<condition>"},
       .list_id = conditional_list_line, .conditional = true, .run = run_conditional},
      {.client_forms = {L"\\o", L"\\out"}, .arguments = {L"[<file> | |<command>]"}, .list_id = output_list_line,
       .completes = argument_kind::files, .run = run_output},
      {.client_forms = {L"\\g"}, .arguments = {L"[<file> | |<command>]"}, .list_id = go_list_line, .break_before = true,
       .completes = argument_kind::files, .run = run_go},
      {.client_forms = {L"\\gx"}, .arguments = {L"[<file> | |<command>]"}, .list_id = gx_list_line, .break_before = true,
       .completes = argument_kind::files, .run = run_go},
      {.client_forms = {L"\\gset"}, .arguments = {L"[<prefix>]"}, .list_id = gset_list_line, .run = run_gset},
      {.client_forms = {L"\\watch"}, .arguments = {L"[<seconds>]"}, .list_id = watch_list_line, .break_before = true,
       .run = run_watch},
      {.client_forms = {L"\\e", L"\\edit"}, .arguments = {L"[<file>]"}, .list_id = edit_list_line, .completes = argument_kind::files,
       .run = run_edit},
      {.client_forms = {L"\\r", L"\\reset"}, .arguments = {L""}, .list_id = reset_list_line, .run = run_reset},
      {.client_forms = {L"\\p", L"\\print"}, .arguments = {L""}, .list_id = print_list_line, .run = run_print},
      {.keywords = {L"EXIT", L"QUIT"}, .client_forms = {L"\\q", L"\\quit"}, .arguments = {L""}, .help_id = exit_help,
       .list_id = quit_list_line, .run = run_exit},
      {.keywords = {L"HELP"}, .arguments = {L"[<command>]"}, .help_id = help_help, .next_words = help_words,
       .run = run_help},
      {.client_forms = {L"\\?"}, .arguments = {L""}, .list_id = client_help_list_line, .break_before = true,
       .run = run_client_help},
  };
  return table;
}

std::wstring TOdbcHndlrCmd::token(std::wstring_view t, size_t i) {
  const size_t n = t.size();
  if (n == 0) return {};
  size_t p = 0;
  for (size_t k = 0;; ++k) {
    bool quoted = false;
    size_t e = p;
    for (; e < n && (quoted || t[e] != L' '); ++e)
      if (t[e] == L'"') quoted = !quoted;
    if (k == i) {
      std::wstring found(t.substr(p, e - p));
      return trim(found, L"\"");
    }
    p = e + 1;
    if (p >= n) return {};
    while (p < n && t[p] == L' ') ++p;
    if (p >= n) return {};
  }
}

namespace {

// A ";" after a command is not part of it ("exit;", "\q;").
std::wstring_view without_final_semicolons(std::wstring_view line) {
  while (!line.empty() && (line.back() == L';' || std::iswspace(static_cast<wint_t>(line.back())))) line.remove_suffix(1);
  return line;
}

bool is_keyword_of(const command_entry& c, const std::wstring& word) {
  return std::any_of(c.keywords.begin(), c.keywords.end(), [&](std::wstring_view k) { return compare_nocase(k, word) == 0; });
}

} // namespace

const command_entry* keyword_command(std::wstring_view line) {
  // A line whose first letter begins no keyword is none (most statements): told at once.
  static const std::wstring initials = [] {
    std::wstring letters;
    for (const command_entry& c : command_table())
      for (std::wstring_view k : c.keywords) letters += static_cast<wchar_t>(std::towupper(static_cast<wint_t>(k[0])));
    return letters;
  }();
  if (!line.empty() && line[0] != L'"' && initials.find(static_cast<wchar_t>(std::towupper(static_cast<wint_t>(line[0])))) == std::wstring::npos)
    return nullptr;
  // The first word picks the command; a statement is not copied for the comparison.
  const std::wstring word = TOdbcHndlrCmd::token(without_final_semicolons(line), 0);
  for (const command_entry& c : command_table())
    if (is_keyword_of(c, word)) return &c;
  return nullptr;
}

const command_entry* client_command(std::wstring_view word) {
  for (const command_entry& c : command_table())
    for (std::wstring_view form : c.client_forms)
      if (form[0] == L'\\' ? form == word : compare_nocase(form, word) == 0) return &c;
  return nullptr;
}

bool is_client_command(std::wstring_view line, odbc::script_dialect dialect) {
  return !line.empty() &&
         (line[0] == L'\\' || (dialect == odbc::script_dialect::mysql && to_upper_copy(TOdbcHndlrCmd::token(line, 0)) == L"SOURCE"));
}

std::optional<result> run_command_line(terminal_context& ctx, command_host& host, const std::wstring& line) {
  const std::wstring_view bare = without_final_semicolons(line);
  if (is_client_command(bare, ctx.dialect)) {
    script_item item;
    item.kind = script_item::kind_type::client_command;
    item.text = bare;
    running_call watched(ctx.connection);  // Ctrl-C cancels a listing
    return run_client_command(ctx, host, item, L"");
  }
  const command_entry* c = keyword_command(line);
  if (!c) return std::nullopt;
  return run_keyword_command(ctx, host, *c, line);
}

result run_keyword_command(terminal_context& ctx, command_host& host, const command_entry& entry, const std::wstring& line) {
  TOdbcHndlrCmd cmd(&entry, std::wstring(entry.keywords.front()), help_text(entry));
  cmd.line = entry.whole_line ? line : std::wstring(without_final_semicolons(line));
  running_call watched(ctx.connection);  // Ctrl-C gives up a connect, cancels a listing
  const result r = entry.run(ctx, host, cmd);
  if (!r.succeeded()) ctx.report_failure(r.text());
  console().flush();
  ctx.note(r);
  return r;
}

result run_client_command(terminal_context& ctx, command_host& host, const script_item& item, const std::wstring& where) {
  const std::wstring& t = item.text;
  size_t e = 0;
  while (e < t.size() && !std::iswspace(static_cast<wint_t>(t[e]))) ++e;
  TOdbcHndlrCmd cmd(client_command(std::wstring_view(t).substr(0, e)), t.substr(0, e), L"");
  cmd.line = t;
  cmd.rest = t.substr(e);
  trim(cmd.rest, L" \t\r\n");
  cmd.where = where;
  cmd.line_number = item.line;
  if (!cmd.entry) {
    if (cmd.at_prompt()) return ctx.fail(message(string_id::unknown_command, t.c_str()));
    ctx.routes.statement_break();
    return ctx.fail(message(string_id::client_command_not_supported, cmd.keyword.c_str(), where.c_str(),
                            static_cast<unsigned>(item.line)));
  }
  cmd.help_text = help_text(*cmd.entry);
  // In a script, a blank line goes before what a command prints, as before a statement's.
  if (cmd.entry->break_before && !cmd.at_prompt()) ctx.routes.statement_break();
  return cmd.entry->run(ctx, host, cmd);
}

std::wstring command_names() {
  std::wstring names;
  for (const command_entry& c : command_table()) {
    if (c.keywords.empty()) continue;
    if (!names.empty()) names += L", ";
    names += c.keywords.front();
  }
  return names;
}

std::wstring client_commands_help() {
  std::wstring text = str(string_id::client_commands_heading);
  for (const command_entry& c : command_table())
    if (c.list_id) text += str(c.list_id);
  return text + message(string_id::commands_list_line, command_names().c_str());
}

const command_entry* help_entry(const std::wstring& keyword) {
  for (const command_entry& c : command_table())
    if (is_keyword_of(c, keyword)) return &c;
  return keyword.starts_with(L'\\') ? client_command(keyword) : nullptr;
}

std::wstring help_text(const command_entry& entry) {
  if (entry.help_id) return str(entry.help_id);
  if (entry.list_id) return str(entry.list_id);  // a client command: its line of the \? list
  return entry.keywords.empty() ? std::wstring() : std::wstring(entry.keywords.front());
}

std::vector<std::wstring> command_words(bool client) {
  std::vector<std::wstring> words;
  for (const command_entry& c : command_table()) {
    if (!client && !c.keywords.empty()) words.emplace_back(c.keywords.front());
    if (client)
      for (std::wstring_view form : c.client_forms)
        if (form[0] == L'\\') words.emplace_back(form);
  }
  return words;
}

std::optional<completion_words> words_after(const std::wstring& first, size_t index, const std::wstring& previous) {
  const command_entry* c = keyword_command(first);
  if (!c) c = client_command(first);
  if (!c) return first.starts_with(L'\\') ? std::optional(completion_words{}) : std::nullopt;
  if (c->next_words) return c->next_words(index, previous);
  return names_of(index == 0 ? c->completes : argument_kind::none);
}

completion_words on_off_words(size_t index, const std::wstring&) {
  return {index == 0 ? std::vector<std::wstring>{L"on", L"off"} : std::vector<std::wstring>{}};
}

bool starts_nocase(const std::wstring& s, const wchar_t* prefix) {
  const std::wstring p(prefix);
  return s.size() >= p.size() && compare_nocase(s.substr(0, p.size()), p) == 0;
}

std::wstring unquoted(std::wstring s) {
  trim(s, L"\"");
  return s;
}

std::wstring command_argument(std::wstring s) {
  if (s.size() >= 2 && (s.front() == L'\'' || s.front() == L'"') && s.back() == s.front()) s = s.substr(1, s.size() - 2);
  return s;
}

} // namespace vela::terminal
