// Session commands: EXIT, QUIT and \q; HELP; \?; \s.
#include "Terminal/commands/command_table.h"
#include "Terminal/commands/commands.h"
#include "Terminal/input/prompt.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/os_error.h"
#include "vela/system.h"
#include "vela/textfile.h"
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

// \s [FILE]: the history as its file keeps it (passwords hidden), on the console or into FILE.
result run_history(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  const std::wstring path = history_file();
  std::wstring text;
  if (!path.empty())
    for (const std::wstring& entry : sys::line_editor::history_entries(path)) text += entry + L"\n";
  const std::wstring file = command_argument(cmd.rest);
  if (file.empty()) {
    console().write(text);
    console().flush();
    return result();
  }
  sys::replacing_file target(file);
  uint32_t code = target.create();
  textfile out(target.path(), text_file_code_page{65001, false});
  result r = code ? failure(code) : out.save(text);
  if (r.succeeded() && (code = target.commit()) != 0) r = failure(code);
  if (!r.succeeded()) return ctx.fail(file + L": " + r.format(L"%d") + L"\n");
  ctx.report_info(message(string_id::history_written, file.c_str()));
  console().flush();
  return result();
}

completion_words help_words(size_t index, const std::wstring&) {
  completion_words w{{}, true};
  if (index == 0) w.words = command_words(false);
  return w;
}

} // namespace vela::terminal
