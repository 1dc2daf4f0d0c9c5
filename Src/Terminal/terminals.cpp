#include "Terminal/terminals.h"

#include <cwctype>
#include <exception>

#include "os/os.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/wstr.h"

namespace vela::terminal {

result guarded_handle_line(terminal_handler& handler, const std::wstring& line, const result& previous) {
  try {
    return handler.handle_line(line);
  } catch (const wexception& e) {
    handler.report_failure(std::wstring(e.what()) + L"\n");
    handler.note_failure(result(os::err_internal_error, e.what(), 3));
  } catch (...) {
    const result r(os::err_internal_error, std::wstring(), 3);
    handler.report_failure(r.format(L"%d\n"));
    handler.note_failure(r);
  }
  console().flush();
  return previous;
}

void command_line_terminal::do_run() {
  result r = handler_->open_terminal();
  if (r.code() == os::err_cancelled || handler_->stopped()) {
    handler_->close_terminal();
    return;
  }
  os::line_reader reader;
  console_writer& out = console();
  while (r.code() != os::err_cancelled) {
    out.write(L"\n");
    out.write(handler_->prompt());
    out.flush();
    std::wstring line;
    bool ended = false;
    do {
      if (!reader.read_line(line)) {
        ended = true;  // no more input: the same as EXIT
        break;
      }
      trim(line, L" ");
    } while (line.empty());
    if (ended) {
      out.line_break();
      break;
    }
    out.write(L"\n");
    r = guarded_handle_line(*handler_, line, r);
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
void report_unterminated(terminal_handler& handler, std::wstring& pending, statement_scanner& scanner) {
  scanner.find_end(pending, false);
  std::wstring rest = pending;
  trim(rest, L" \t\r\n");
  if (rest.empty() || scanner.comment_only()) return;
  const std::wstring text = wformat(load_string(nullptr, 134).c_str(), rest.c_str());
  console().flush();
  error_console().write(text).flush();
  handler.note_failure(result(os::err_invalid_data, text, 3));
}

} // namespace

void stdin_terminal::do_run() {
  handler_->open_terminal();
  std::wstring pending;
  statement_scanner scanner;
  std::string raw;
  std::vector<std::wstring> batch;
  result last;
  while (!handler_->stopped() && os::read_stdin_line(raw)) {
    // A line that ends in a "--" comment keeps its line end, so the comment ends there.
    if (!pending.empty()) pending += scanner.in_line_comment() ? L'\n' : L' ';
    pending += os::decode_from_console(raw);
    batch.clear();
    take_statements(pending, batch, scanner);
    for (const auto& statement : batch) {
      handler_->statement_break();
      last = guarded_handle_line(*handler_, statement, last);
      if (handler_->stopped()) break;
    }
  }
  if (!handler_->stopped()) report_unterminated(*handler_, pending, scanner);
  handler_->statement_break();
  handler_->close_terminal();
}

} // namespace vela::terminal
