#include "Terminal/input/line_handler.h"

#include "Terminal/input/prompt.h"
#include "vela/console.h"

namespace vela::terminal {

void terminal_handler::report_failure(const std::wstring& text) { console().write(text); }

void terminal_handler::statement_break() { console().line_break(); }

std::unique_ptr<completion> terminal_handler::make_completion() { return nullptr; }

bool terminal_handler::run_item(script_item& item, const std::wstring&) {
  if (item.kind == script_item::kind_type::sql) {
    statement_break();
    (void)handle_line(item.text);  // reports and notes its own failure
  }
  return !stopped();
}

} // namespace vela::terminal
