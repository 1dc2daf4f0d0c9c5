#include "Terminal/terminals.h"

#include <cwctype>
#include <exception>
#include <memory>

#include "Terminal/prompt.h"
#include "Terminal/strings.h"
#include "vela/system.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

// An exception while a line was handled: reported and noted, the run goes on.
void report_exception(terminal_handler& handler) {
  try {
    throw;
  } catch (const wexception& e) {
    handler.report_failure(std::wstring(e.what()) + L"\n");
    handler.note_failure(failure(os::err_internal_error, e.what()));
  } catch (...) {
    const result r = failure(os::err_internal_error);
    handler.report_failure(r.format(L"%d\n"));
    handler.note_failure(r);
  }
  console().flush();
}

} // namespace

result guarded_handle_line(terminal_handler& handler, const std::wstring& line, const result& previous) {
  try {
    return handler.handle_line(line);
  } catch (...) {
    report_exception(handler);
  }
  return previous;
}

void command_line_terminal::do_run() {
  result r = handler_->open_terminal();
  if (r.code() == os::err_cancelled || handler_->stopped()) {
    handler_->close_terminal();
    return;
  }
  sys::line_editor reader;
  auto* odbc_handler = dynamic_cast<TTermOdbcHndlr*>(handler_);
  std::unique_ptr<completion> words;
  if (reader.editing()) {
    const std::wstring history = history_file();
    if (!history.empty()) reader.use_history_file(history, 2000);
    if (odbc_handler) {
      words = std::make_unique<completion>(*odbc_handler);
      reader.set_completer([&words](const std::wstring& before, size_t& start) { return words->candidates(before, start); });
    }
  }
  console_writer& out = console();
  while (r.code() != os::err_cancelled) {
    out.write(L"\n");
    // The editor shows the prompt itself, so that it stays in front of the line edited.
    std::wstring prompt = handler_->prompt();
    if (!reader.editing()) out.write(prompt);
    out.flush();
    std::wstring line;
    bool ended = false;
    for (;;) {
      const sys::line_editor::status got = reader.read(prompt, line);
      if (got == sys::line_editor::end_of_input) {
        ended = true;  // no more input, or Ctrl-D: the same as EXIT
        break;
      }
      if (got == sys::line_editor::interrupted) {
        prompt = handler_->prompt();  // Ctrl-C dropped the line: asked again
        continue;
      }
      trim(line, L" ");
      if (!line.empty()) break;
      prompt.clear();  // a blank line is read again without a new prompt
    }
    if (ended) {
      out.line_break();
      break;
    }
    reader.add_history(line, history_form(line));
    out.write(L"\n");
    clear_interrupt();
    r = guarded_handle_line(*handler_, line, r);
    if (words) words->line_handled(line);
    if (handler_->stopped()) break;
  }
  handler_->close_terminal();
}

void take_statements(std::wstring& pending, std::vector<std::wstring>& batch, statement_scanner& scanner) {
  size_t a = 0, taken = 0;
  while (a < pending.size()) {
    const size_t i = scanner.find_end(pending, true);
    if (i == statement_scanner::npos) break;  // the rest waits for more input
    if (a < i && !scanner.comment_only()) {
      const size_t from = scanner.statement_start(a);
      batch.push_back(pending.substr(from, i - from));
    }
    taken = i + 1;
    scanner.next_statement(taken);
    a = taken;
    while (a < pending.size() && std::iswspace(static_cast<wint_t>(pending[a]))) ++a;
  }
  // Cut once per call, not once per statement: a line of many statements stays linear.
  pending.erase(0, taken);
  scanner.drop_front(taken);
}

namespace {

// A last statement without its ";" is not run, but never dropped in silence.
void report_unterminated(terminal_handler& handler, std::wstring rest, size_t line) {
  trim(rest, L" \t\r\n");
  const std::wstring text = wformat(load_string(nullptr, string_id::statement_not_ended).c_str(), rest.c_str());
  console().flush();
  error_console().write(handler.failure_place(L"-", line) + text).flush();
  handler.note_failure(failure(os::err_invalid_data, text));
}

} // namespace

void stdin_terminal::do_run() {
  // A connection that fails is reported and noted; the statements are still read.
  (void)handler_->open_terminal();
  console().flush();  // the banner and the connection are shown before input is waited for
  script_cutter cutter(false);
  cutter.set_dialect(handler_->dialect());
  cutter.set_copy_rows(true);
  const script_cutter::sink run = [this, &cutter](script_item& item) {
    if (interrupted() || handler_->stopped()) return false;
    if (item.unterminated) {
      report_unterminated(*handler_, std::move(item.text), item.line);
      return true;
    }
    try {
      (void)handler_->run_item(item, L"-");
    } catch (...) {
      report_exception(*handler_);
    }
    cutter.set_dialect(handler_->dialect());  // a statement may have connected elsewhere
    return !interrupted() && !handler_->stopped();
  };
  std::string raw;
  bool go = true;
  while (go && !interrupted() && !handler_->stopped() && sys::read_stdin_line(raw))
    go = cutter.add_line(sys::decode_from_console(raw), run);
  if (go && !handler_->stopped()) cutter.finish(run);
  handler_->statement_break();
  handler_->close_terminal();
}

} // namespace vela::terminal
