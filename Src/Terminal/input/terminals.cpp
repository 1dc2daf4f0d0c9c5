#include "Terminal/input/terminals.h"

#include <cwctype>
#include <exception>
#include <memory>

#include "Terminal/input/prompt.h"
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

bool statement_feeder::ended() const {
  return last_.code() == os::err_cancelled || handler_.stopped() || (!typed_ && interrupted());
}

void statement_feeder::item_break() {
  if (fresh_) console().write(L"\n");
  else handler_.statement_break();
  fresh_ = false;
}

bool statement_feeder::run(script_item& item) {
  if (interrupted() || ended()) return false;
  const bool sql = item.kind == script_item::kind_type::sql;
  // A client command typed at the prompt runs as typed lines do: its failure is no script's.
  const bool typed_command = typed_ && item.kind == script_item::kind_type::client_command;
  if (typed_ ? sql || typed_command : sql && handler_.is_command(item.text)) {
    // A statement at the prompt, or a command after a ";" on its line: its result is kept (EXIT).
    item_break();
    last_ = guarded_handle_line(handler_, item.text, last_);
  } else {
    fresh_ = false;
    item.unterminated = false;  // a last statement without its ";" runs as "-q" runs it
    try {
      (void)handler_.run_item(item, typed_ ? L"" : L"-");
    } catch (...) {
      report_exception(handler_);
    }
  }
  if (cutter_) cutter_->set_dialect(handler_.dialect());  // a statement may have connected elsewhere
  return !interrupted() && !ended();
}

bool statement_feeder::line(const std::wstring& text) {
  if (ended()) return false;
  ++lines_;
  if (!holds()) {
    // At a statement's start: a terminal command takes its whole line.
    std::wstring command = text;
    trim(command, L" \t\r");
    if (!command.empty() && handler_.is_command(command)) {
      // A client command of the line before may still wait in the cutter for its line's end.
      if (!finish()) return false;
      item_break();
      last_ = guarded_handle_line(handler_, command, last_);
      return !ended();
    }
  }
  if (!cutter_) {
    cutter_ = std::make_unique<script_cutter>(typed_);
    cutter_->set_dialect(handler_.dialect());
    cutter_->set_delimiter(delimiter_);
    cutter_->set_first_line(lines_);  // failures name the line of the whole input
  }
  const script_cutter::sink sink = [this](script_item& item) { return run(item); };
  if (!cutter_->add_line(text, sink)) cutter_.reset();  // Ctrl-C or the end: the rest is dropped
  return !ended();
}

bool statement_feeder::lines(const std::wstring& text) {
  size_t from = 0;
  for (;;) {
    const size_t nl = text.find(L'\n', from);
    if (!line(text.substr(from, nl == std::wstring::npos ? std::wstring::npos : nl - from))) return false;
    if (nl == std::wstring::npos) return true;
    from = nl + 1;
  }
}

bool statement_feeder::finish() {
  if (cutter_ && !ended()) {
    const script_cutter::sink sink = [this](script_item& item) { return run(item); };
    (void)cutter_->finish(sink);
  }
  if (cutter_) delimiter_ = cutter_->delimiter();
  cutter_.reset();
  return !ended();
}

void read_stdin_script(terminal_handler& handler) {
  statement_feeder feeder(handler, false);
  std::string raw;
  while (!feeder.ended() && sys::read_stdin_line(raw)) feeder.line(sys::decode_from_console(raw));
  feeder.finish();
  handler.statement_break();
}

namespace {

// Adds each line of the input to the history, as typed lines are.
void remember(sys::line_editor& reader, const std::wstring& input) {
  size_t from = 0;
  while (from <= input.size()) {
    size_t nl = input.find(L'\n', from);
    if (nl == std::wstring::npos) nl = input.size();
    std::wstring one = input.substr(from, nl - from);
    trim(one, L" ");
    if (!one.empty()) reader.add_history(one, history_form(one));
    from = nl + 1;
  }
}

} // namespace

std::unique_ptr<completion> command_line_terminal::prepare_editor(sys::line_editor& reader) {
  if (!reader.editing()) return nullptr;
  const std::wstring history = history_file();
  if (!history.empty()) reader.use_history_file(history, 2000);
  std::unique_ptr<completion> words = handler_->make_completion();
  if (words) {
    completion* w = words.get();
    reader.set_completer([w](const std::wstring& before, const std::wstring& after, size_t& start) {
      return w->candidates(before, after, start);
    });
  }
  return words;
}

bool command_line_terminal::read_input(sys::line_editor& reader, statement_feeder& feeder, std::wstring prompt,
                                       std::wstring& line, bool& pasted) {
  for (;;) {
    const sys::line_editor::status got = reader.read(prompt, line);
    if (got == sys::line_editor::end_of_input) return false;  // no more input, or Ctrl-D: the same as EXIT
    if (got == sys::line_editor::interrupted) {
      feeder.clear();  // Ctrl-C dropped the line, and the statement it went on with
      prompt = handler_->prompt();  // asked again
      continue;
    }
    pasted = got == sys::line_editor::pasted;
    if (!pasted) trim(line, L" ");
    if (!line.empty() || feeder.holds()) return true;
    prompt.clear();  // a blank line is read again without a new prompt
  }
}

void command_line_terminal::do_run() {
  const bool prompting = sys::stdin_is_terminal() && handler_->prompts();
  // The editor takes the terminal before the connect when a prompt follows it: keys typed
  // meanwhile wait for it whole.
  std::unique_ptr<sys::line_editor> editor;
  if (prompting) editor = std::make_unique<sys::line_editor>();
  result r = handler_->open_terminal();
  if (r.code() == os::err_cancelled || handler_->stopped()) {
    editor.reset();
    handler_->close_terminal();
    return;
  }
  if (!sys::stdin_is_terminal()) {
    read_stdin_script(*handler_);
    handler_->close_terminal();
    return;
  }
  if (!editor) editor = std::make_unique<sys::line_editor>();
  sys::line_editor& reader = *editor;
  const std::unique_ptr<completion> words = prepare_editor(reader);
  console_writer& out = console();
  statement_feeder feeder(*handler_, true);
  std::wstring statement_lines;  // of the statement the next line goes on with, for completion
  while (r.code() != os::err_cancelled) {
    // A statement begun on an earlier line goes on after the continuation prompt.
    const bool going_on = feeder.holds();
    if (!going_on) out.write(L"\n");
    // The editor shows the prompt itself, so that it stays in front of the line edited.
    std::wstring prompt = going_on ? std::wstring(L"...>") : handler_->prompt();
    if (!reader.editing()) out.write(prompt);
    out.flush();
    std::wstring line;
    bool pasted = false;
    if (!read_input(reader, feeder, prompt, line, pasted)) {
      out.line_break();
      break;
    }
    remember(reader, line);
    clear_interrupt();
    const bool single = !pasted && !going_on;
    if (single && handler_->is_command(line)) {
      out.write(L"\n");
      r = guarded_handle_line(*handler_, line, r);
    } else {
      // The line break after the input comes once something runs.
      feeder.break_first();
      if (pasted) feeder.lines(line);
      else feeder.line(line);
      // A line typed alone runs at once unless it stops inside a literal, comment or body
      // (or, with "-ml", lacks its ";"); a paste is run whole.
      const bool wait = feeder.holds() && (feeder.inside_open_part() || (handler_->multiline() && !pasted));
      if (!wait) feeder.finish();
      if (feeder.last().code() == os::err_cancelled) r = feeder.last();
    }
    statement_lines = feeder.holds() ? statement_lines + line + L'\n' : std::wstring();
    if (words) {
      words->line_handled(line);
      words->continues(statement_lines);
    }
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
