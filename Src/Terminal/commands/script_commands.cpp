// Script commands: \i, \include, \ir, \include_relative and MySQL's source; \copy; and the
// commands accepted as they are.
#include "Terminal/commands/command_table.h"
#include "Terminal/commands/commands.h"
#include "Terminal/strings.h"
#include "vela/base.h"
#include "vela/file.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

constexpr size_t max_script_depth = 16;

// The script run in place of the command; a file that cannot be read is a failure of the
// command.
void include_script(terminal_context& ctx, command_host& host, const std::wstring& name, const std::wstring& where,
                    size_t line) {
  const std::vector<std::wstring>& open = host.open_scripts();
  if (open.size() >= max_script_depth) {
    (void)ctx.fail(message(string_id::script_nested_too_deep, name.c_str(), where.c_str(), static_cast<unsigned>(line)));
    return;
  }
  for (const auto& script : open) {
    if (script == name) {
      (void)ctx.fail(message(string_id::script_includes_itself, name.c_str(), where.c_str(), static_cast<unsigned>(line)));
      return;
    }
  }
  const std::wstring place = ctx.place;
  try {
    (void)host.run_script_file(name, text_file_code_page{auto_code_page, false});
  } catch (const windows_error& e) {
    ctx.place = place;
    if (where.empty()) {  // typed at the prompt
      (void)ctx.fail(std::wstring(e.what()) + L"\n");
    } else {
      ctx.routes.statement_break();
      (void)ctx.fail(std::wstring(e.what()) + L" (" + where + L":" + std::to_wstring(line) + L")");
    }
  }
  ctx.place = place;
}

} // namespace

result run_include(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd) {
  std::wstring file = command_argument(cmd.rest);
  const bool relative = cmd.keyword == L"\\ir" || cmd.keyword == L"\\include_relative";
  if (relative && !file.empty() && file[0] != L'/' && !host.open_scripts().empty()) {
    std::wstring dir;
    if (split_path(host.open_scripts().back(), nullptr, &dir, nullptr, nullptr)) file = dir + file;
  }
  include_script(ctx, host, file, cmd.where, cmd.line_number);
  return result();
}

result run_copy(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd) {
  if (!cmd.at_prompt()) {
    host.copy_command_line(cmd.rest, cmd.where, cmd.line_number);
    return result();  // reports and notes its own failures
  }
  // Typed at the prompt: a failure does not decide the exit status.
  const result before = ctx.load_failure;
  ctx.load_failure = result();
  host.copy_command_line(cmd.rest, cmd.where, cmd.line_number);
  const result r = ctx.load_failure;
  ctx.load_failure = before;
  return r;
}

// \restrict and \unrestrict: the keys of a dump, nothing to do here.
result run_nothing(terminal_context&, command_host&, const TOdbcHndlrCmd&) { return result(); }

completion_words copy_words(size_t index, const std::wstring& previous) {
  if (index == 0) return names_of(argument_kind::tables);
  if (index == 1) return {{L"FROM", L"TO"}, true};
  if (index == 2 && (compare_nocase(previous, L"FROM") == 0 || compare_nocase(previous, L"TO") == 0))
    return names_of(argument_kind::files);
  return {};
}

} // namespace vela::terminal
