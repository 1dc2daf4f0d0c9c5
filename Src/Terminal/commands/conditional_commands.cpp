// \if, \elif, \else and \endif: which branch of a block runs. The handler lets these (and
// nothing else) through while a branch does not run, so that blocks nest.
#include <optional>

#include "Terminal/commands/command_table.h"
#include "Terminal/commands/commands.h"
#include "Terminal/strings.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

using branch = conditional_stack::branch;

// A Boolean value as psql takes them, or :{?NAME} (NAME is set); nullopt for anything else.
std::optional<bool> condition_value(std::wstring expr, const variable_table& variables) {
  trim(expr, L" \t\r\n");
  expr = command_argument(expr);
  if (expr.size() > 4 && expr.starts_with(L":{?") && expr.back() == L'}')
    return variables.find(expr.substr(3, expr.size() - 4)) != nullptr;
  static const wchar_t* const truths[] = {L"true", L"on", L"yes", L"1"};
  static const wchar_t* const untruths[] = {L"false", L"off", L"no", L"0"};
  for (const wchar_t* t : truths)
    if (compare_nocase(expr, t) == 0) return true;
  for (const wchar_t* f : untruths)
    if (compare_nocase(expr, f) == 0) return false;
  return std::nullopt;
}

// A failure of the command, with its place in a script.
result conditional_failure(terminal_context& ctx, const TOdbcHndlrCmd& cmd, const std::wstring& text) {
  std::wstring line = text;
  if (!cmd.at_prompt()) line += L" (" + cmd.where + L":" + std::to_wstring(cmd.line_number) + L")";
  return ctx.fail(line + L"\n");
}

// The condition of an \if or \elif decides whether its branch runs; a value that is no
// Boolean is a failure, and the branch does not run.
result take_branch_if(terminal_context& ctx, const TOdbcHndlrCmd& cmd, branch& state) {
  const std::optional<bool> value = condition_value(cmd.rest, ctx.variables);
  if (value && *value) state = branch::running;
  if (value) return result();
  return conditional_failure(ctx, cmd, message(string_id::not_boolean, cmd.keyword.c_str(), cmd.rest.c_str()));
}

} // namespace

result run_conditional(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  conditional_stack& blocks = ctx.conditions;
  if (cmd.keyword == L"\\if") {
    conditional_stack::block b{blocks.active() ? branch::waiting : branch::ignored, false, cmd.where, cmd.line_number};
    const result r = b.state == branch::waiting ? take_branch_if(ctx, cmd, b.state) : result();
    blocks.open(std::move(b));
    return r;
  }
  if (!blocks.any_open()) return conditional_failure(ctx, cmd, message(string_id::no_open_if, cmd.keyword.c_str()));
  conditional_stack::block& b = blocks.innermost();
  if (cmd.keyword == L"\\endif") {
    blocks.close();
    return result();
  }
  if (b.after_else) return conditional_failure(ctx, cmd, message(string_id::if_after_else, cmd.keyword.c_str()));
  if (b.state == branch::running) {
    b.state = branch::done;
  } else if (b.state == branch::waiting) {
    if (cmd.keyword == L"\\elif") return take_branch_if(ctx, cmd, b.state);
    b.state = branch::running;
  }
  b.after_else = cmd.keyword == L"\\else";
  return result();
}

} // namespace vela::terminal
