#include "Terminal/terminals.h"

#include <cwctype>
#include <exception>

#include "os/os.h"
#include "vela/console.h"
#include "vela/wstr.h"

namespace vela::terminal {

result guarded_handle_line(terminal_handler& handler, const std::wstring& line, const result& previous) {
  try {
    return handler.handle_line(line);
  } catch (const wexception& e) {
    console().write(e.what()).write(L"\n");
  } catch (...) {
    console().write(result(os::err_internal_error, std::wstring(), 3).format(L"%d\n"));
  }
  console().flush();
  return previous;
}

void command_line_terminal::do_run() {
  result r = handler_->open_terminal();
  if (r.code() == os::err_cancelled) {
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
      if (!reader.read_line(line, 1023)) {
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
  }
  handler_->close_terminal();
}

void take_statements(std::wstring& pending, std::vector<std::wstring>& batch) {
  size_t a = 0;
  while (a < pending.size()) {
    const size_t i = find_statement_end(pending, a);
    if (i == std::wstring::npos) return;  // the rest waits for more input
    if (a < i) batch.push_back(pending.substr(a, i - a));
    pending.erase(0, i + 1);
    if (pending.empty()) return;
    a = 0;
    while (a < pending.size() && std::iswspace(static_cast<wint_t>(pending[a]))) ++a;
  }
}

void stdin_terminal::do_run() {
  handler_->open_terminal();
  std::wstring pending;
  std::string raw;
  result last;
  while (os::read_stdin_line(raw)) {
    if (!pending.empty()) pending += L' ';
    pending += os::decode_from_console(raw);
    std::vector<std::wstring> batch;
    take_statements(pending, batch);
    for (const auto& statement : batch) {
      console().line_break();
      last = guarded_handle_line(*handler_, statement, last);
    }
  }
  console().line_break();
  handler_->close_terminal();
}

} // namespace vela::terminal
