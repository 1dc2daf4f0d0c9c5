// The two sources of lines for the handler: the interactive prompt and standard input.
#pragma once

#include <string>
#include <vector>

#include "Terminal/handler.h"
#include "Terminal/sql_split.h"
#include "vela/task.h"

namespace vela::terminal {

class command_line_terminal : public task {
 public:
  explicit command_line_terminal(terminal_handler* handler) : handler_(handler) {}
  void do_run() override;

 private:
  terminal_handler* handler_;
};

class stdin_terminal : public task {
 public:
  explicit stdin_terminal(terminal_handler* handler) : handler_(handler) {}
  void do_run() override;

 private:
  terminal_handler* handler_;
};

// Moves the complete statements at the front of the pending text into the batch, without
// their ";" (statements of comments only are dropped). The scanner keeps its place in the
// pending text between calls: text appended since the last call is all that is scanned.
void take_statements(std::wstring& pending, std::vector<std::wstring>& batch, statement_scanner& scanner);

// handle_line with a line's exceptions reported on the console.
result guarded_handle_line(terminal_handler& handler, const std::wstring& line, const result& previous);

} // namespace vela::terminal
