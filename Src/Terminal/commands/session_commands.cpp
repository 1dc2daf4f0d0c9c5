// Session commands: EXIT, QUIT and \q; HELP; \?.
#include "Terminal/commands/command_table.h"
#include "Terminal/commands/commands.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/os_error.h"
#include "vela/wstr.h"

namespace vela::terminal {

// The session ends after the current line; nothing after it runs.
result run_exit(terminal_context& ctx, command_host&, const TOdbcHndlrCmd&) {
  ctx.ended = true;
  return failure(os::err_cancelled);
}

result run_help(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const std::wstring p1 = cmd.parameter(1);
  if (p1.empty()) {
    console().write(command_names());
    console().line_break();
    return result();
  }
  const command_entry* c = help_entry(p1);
  if (!c) {
    ctx.report_failure(message(string_id::unknown_command, to_upper_copy(p1).c_str()));
    return failure(os::err_invalid_parameter);
  }
  console().write(help_text(*c));
  return result();
}

result run_client_help(terminal_context&, command_host&, const TOdbcHndlrCmd&) {
  console().write(client_commands_help());
  console().flush();
  return result();
}

completion_words help_words(size_t index, const std::wstring&) {
  completion_words w{{}, true};
  if (index == 0) w.words = command_words(false);
  return w;
}

} // namespace vela::terminal
