// Settings and variables at runtime: \set, \unset, \pset, \x, \timing, \encoding.
#include <algorithm>
#include <cwctype>

#include "Terminal/commands/command_table.h"
#include "Terminal/commands/commands.h"
#include "Terminal/output/formats.h"
#include "Terminal/session/settings.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/system.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

// Words of a command's rest, split at blanks outside single quotes; quotes are taken away
// ('' inside them stands for one).
std::vector<std::wstring> quoted_words(const std::wstring& rest) {
  std::vector<std::wstring> words;
  bool in_word = false, quoted = false;
  for (size_t i = 0; i < rest.size(); ++i) {
    const wchar_t c = rest[i];
    if (!quoted && std::iswspace(static_cast<wint_t>(c))) {
      in_word = false;
      continue;
    }
    if (!in_word) words.emplace_back();
    in_word = true;
    if (c == L'\'' && quoted && i + 1 < rest.size() && rest[i + 1] == L'\'') words.back() += rest[++i];
    else if (c == L'\'') quoted = !quoted;
    else words.back() += c;
  }
  return words;
}

bool variable_name(const std::wstring& name) {
  if (name.empty()) return false;
  for (const wchar_t c : name)
    if (!std::iswalnum(static_cast<wint_t>(c)) && c != L'_') return false;
  return true;
}

void write_assignment(console_writer& out, const std::wstring& name, const std::wstring& value) {
  out.write(name + L" = '" + value + L"'");
  out.line_break();
}

// Typed at the prompt, a change is confirmed; a script's or the start-up file's is silent.
result confirm(terminal_context& ctx, const TOdbcHndlrCmd& cmd, const wchar_t* setting) {
  if (cmd.at_prompt()) ctx.report_info(std::wstring(setting) + L" " + *option_value(ctx.options, setting) + L"\n");
  return result();
}

// The setting takes the value, or the command fails saying which values it takes.
result set_named(terminal_context& ctx, const TOdbcHndlrCmd& cmd, const std::wstring& setting, const std::wstring& value,
                 setting_group group) {
  const std::optional<bool> applied = set_option_value(ctx.options, setting, value, group);
  if (!applied) return ctx.fail(message(string_id::setting_unknown, setting.c_str(), cmd.keyword.c_str()));
  if (!*applied) return ctx.fail(message(string_id::setting_value_invalid, value.c_str(), setting.c_str()));
  return confirm(ctx, cmd, setting.c_str());
}

} // namespace

result run_set(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const std::vector<std::wstring> words = quoted_words(cmd.rest);
  if (words.empty()) {
    console_writer& out = console();
    for (const auto& [name, value] : ctx.variables.all()) write_assignment(out, name, value);
    for (const auto& [name, value] : setting_values(ctx)) write_assignment(out, name, value);
    out.flush();
    return result();
  }
  const std::wstring& name = words.front();
  if (!variable_name(name)) return ctx.fail(message(string_id::variable_name_invalid, name.c_str()));
  std::wstring value;
  for (size_t i = 1; i < words.size(); ++i) value += words[i];
  if (std::optional<result> r = apply_setting(ctx, name, value)) return *r;
  ctx.variables.set(name, std::move(value));
  return result();
}

result run_unset(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const std::vector<std::wstring> words = quoted_words(cmd.rest);
  if (words.size() != 1) return ctx.fail(message(string_id::setting_argument_missing, cmd.keyword.c_str()));
  // A setting of \set goes back to off; a variable is forgotten.
  if (std::optional<result> r = apply_setting(ctx, words.front(), L"off")) return *r;
  (void)ctx.variables.unset(words.front());
  return result();
}

result run_pset(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const std::vector<std::wstring> words = quoted_words(cmd.rest);
  if (words.empty()) {
    console_writer& out = console();
    for (const std::wstring& name : setting_names(setting_group::pset))
      out.write(name + L" " + *option_value(ctx.options, name)).line_break();
    out.flush();
    return result();
  }
  const std::wstring& name = words.front();
  const std::vector<std::wstring> names = setting_names(setting_group::pset);
  const bool known = std::any_of(names.begin(), names.end(), [&](const std::wstring& n) { return compare_nocase(n, name) == 0; });
  if (!known) return ctx.fail(message(string_id::setting_unknown, name.c_str(), cmd.keyword.c_str()));
  if (words.size() == 1) {
    console().write(name + L" " + *option_value(ctx.options, name)).line_break();
    return result();
  }
  return set_named(ctx, cmd, name, words[1], setting_group::pset);
}

// \x alone switches between on and off.
result run_expanded(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  std::wstring value = command_argument(cmd.rest);
  if (value.empty()) value = ctx.options.expanded == terminal_options::expanded_mode::off ? L"on" : L"off";
  return set_named(ctx, cmd, L"expanded", value, setting_group::own);
}

// \timing alone switches the times on: they are shown from the start, so a script that
// switches them on prints what it printed before.
result run_timing(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const std::wstring value = command_argument(cmd.rest);
  if (value.empty()) {
    ctx.options.timing = true;
    return result();
  }
  return set_named(ctx, cmd, L"timing", value, setting_group::own);
}

// Text reaches the terminal in the locale's encoding, which the command shows; it is changed
// through the locale (LANG, LC_ALL), so another name is refused.
result run_encoding(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const std::wstring now = sys::console_encoding();
  const auto bare = [](std::wstring s) {
    std::wstring out;
    for (const wchar_t c : s)
      if (c != L'-' && c != L'_') out += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return out;
  };
  const std::wstring wanted = command_argument(cmd.rest);
  if (wanted.empty()) {
    console().write(now).line_break();
    return result();
  }
  if (bare(wanted) == bare(now)) return result();
  return ctx.fail(message(string_id::encoding_from_locale, wanted.c_str(), now.c_str()));
}

completion_words pset_words(size_t index, const std::wstring& previous) {
  completion_words w{{}, false};
  if (index == 0) w.words = setting_names(setting_group::pset);
  else if (index == 1 && compare_nocase(previous, L"format") == 0) {
    w.words.emplace_back(L"padded");
    for (const output_format& f : output_formats())
      if (*f.name) w.words.emplace_back(f.name);
  } else if (index == 1 && compare_nocase(previous, L"pager") == 0) {
    w.words = {L"on", L"off", L"always"};
  }
  return w;
}

completion_words set_words(size_t index, const std::wstring&) {
  completion_words w{{}, false};
  if (index == 0) w.words = setting_names(setting_group::set);
  else if (index == 1) w.words = {L"on", L"off"};
  return w;
}

} // namespace vela::terminal
