#include "Terminal/input/terminals.h"

#include <cwctype>
#include <exception>
#include <memory>
#include <utility>

#include "Terminal/input/prompt.h"
#include "Terminal/session/query_buffer.h"
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

// Where a client command begins that ends a typed line after a statement ("select 1 \gx"):
// the first "\" and letter outside literals and comments, with no statement ended before it;
// npos when there is none.
size_t command_after_statement(const std::wstring& held, const std::wstring& line, odbc::script_dialect dialect,
                               const std::wstring& delimiter) {
  for (size_t at = line.find(L'\\'); at != std::wstring::npos; at = line.find(L'\\', at + 1)) {
    if (at + 1 >= line.size() || !std::iswalpha(static_cast<wint_t>(line[at + 1]))) continue;
    const std::wstring before = held + L" " + line.substr(0, at);
    if (before.find_first_not_of(L" \t\r") == std::wstring::npos) return std::wstring::npos;  // a command alone
    statement_scanner scan;
    scan.set_dialect(dialect);
    scan.set_delimiter(delimiter);
    if (scan.find_end(before, false) != statement_scanner::npos) return std::wstring::npos;
    if (!scan.inside_open_part() && !scan.in_line_comment()) return at;
  }
  return std::wstring::npos;
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
  if (typed_ && holds() && !inside_open_part() && buffer_command(text)) return !ended();
  if (typed_ && handler_.buffer()) {
    const size_t at = command_after_statement(cutter_ ? cutter_->held_text() : std::wstring(), text, handler_.dialect(),
                                              cutter_ ? cutter_->delimiter() : delimiter_);
    if (at != std::wstring::npos) {
      // The statement joins the buffer, and the command runs with it; what it leaves there
      // (after \p) waits for more.
      --lines_;
      if (!line(text.substr(0, at))) return false;
      if (!holds() || !buffer_command(text.substr(at))) return line(text.substr(at));
      keep_ = holds();
      return !ended();
    }
  }
  keep_ = false;
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
  take_replacement();
  return !ended();
}

bool statement_feeder::buffer_command(const std::wstring& text) {
  query_buffer* buffer = handler_.buffer();
  std::wstring command = text;
  trim(command, L" \t\r");
  if (!buffer || command.empty() || command[0] != L'\\') return false;
  buffer->held = cutter_->held_text();
  item_break();
  last_ = guarded_handle_line(handler_, command, last_);
  buffer->held.clear();
  take_replacement();
  return true;
}

void statement_feeder::take_replacement() {
  query_buffer* buffer = handler_.buffer();
  if (!buffer || !buffer->replacement) return;
  const std::wstring text = std::move(*buffer->replacement);
  buffer->replacement.reset();
  const bool run_now = std::exchange(buffer->run_replacement, false);
  if (cutter_) delimiter_ = cutter_->delimiter();
  cutter_.reset();
  if (text.empty()) return;
  if (!lines(text)) return;
  if (run_now) (void)finish();
  else keep_ = holds();
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
  take_replacement();  // a command at the end of the line may have left one
  return !ended();
}

void read_stdin_script(terminal_handler& handler) {
  statement_feeder feeder(handler, false);
  std::string raw;
  while (!feeder.ended() && sys::read_stdin_line(raw)) feeder.line(sys::decode_from_console(raw));
  feeder.finish();
  handler.statement_break();
}

void command_line_terminal::add_to_entry(const std::wstring& line) {
  if (entry_.empty() && line.find_first_not_of(L" \t") == std::wstring::npos) return;
  if (!entry_.empty()) entry_ += L'\n';
  entry_ += line;
}

void command_line_terminal::keep_entry(sys::line_editor& reader) {
  std::wstring entry;
  entry.swap(entry_);
  trim(entry, L" \t\n");
  if (!entry.empty()) reader.add_history(entry, history_form(entry));
}

void command_line_terminal::feed_lines(sys::line_editor& reader, statement_feeder& feeder, const std::wstring& text) {
  size_t from = 0;
  for (bool go = true; go;) {
    const size_t nl = text.find(L'\n', from);
    const std::wstring one = text.substr(from, nl == std::wstring::npos ? std::wstring::npos : nl - from);
    add_to_entry(one);
    go = feeder.line(one) && nl != std::wstring::npos;
    // Each statement of the input is an entry of its own, however many lines it took.
    if (!feeder.holds()) keep_entry(reader);
    from = nl + 1;
  }
}

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
      keep_entry(reader);  // what was typed of the statement stays in the history
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
    std::wstring prompt = going_on ? handler_->continuation_prompt() : handler_->prompt();
    if (!reader.editing()) out.write(prompt);
    out.flush();
    std::wstring line;
    bool pasted = false;
    if (!read_input(reader, feeder, prompt, line, pasted)) {
      keep_entry(reader);
      out.line_break();
      break;
    }
    clear_interrupt();
    const bool single = !pasted && !going_on;
    if (single && handler_->is_command(line)) {
      add_to_entry(line);
      keep_entry(reader);
      out.write(L"\n");
      r = guarded_handle_line(*handler_, line, r);
    } else {
      // The line break after the input comes once something runs.
      feeder.break_first();
      feed_lines(reader, feeder, line);
      // A line typed alone runs at once unless it stops inside a literal, comment or body
      // (or, with "-ml", lacks its ";"); a paste is run whole.
      const bool wait =
          feeder.holds() && (feeder.inside_open_part() || (handler_->multiline() && !pasted) || feeder.keeps());
      if (!wait) feeder.finish();
      if (!feeder.holds()) keep_entry(reader);
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
