// What the readers of lines (the prompt, scripts, standard input) ask of whoever handles
// the lines: the handler implements it.
#pragma once

#include <memory>
#include <string>

#include "Terminal/input/sql_split.h"
#include "vela/odbc/driver.h"
#include "vela/result.h"

namespace vela::terminal {

class completion;
struct query_buffer;

class terminal_handler {
 public:
  virtual ~terminal_handler() = default;
  virtual result open_terminal() { return result(); }
  virtual result handle_line(const std::wstring&) { return failure(1); }
  virtual void close_terminal() {}
  virtual std::wstring prompt() { return L">"; }
  // In front of a line that goes on with a statement.
  virtual std::wstring continuation_prompt() { return L"...>"; }
  // The line starts with a terminal command's word (it is handled whole, never cut at ";").
  virtual bool is_command(const std::wstring&) { return false; }
  // A failure's text (written as is on the console here).
  virtual void report_failure(const std::wstring& text);
  // A failure met outside handle_line (an exception while handling a line).
  virtual void note_failure(const result&) {}
  // The run ends after the current line (stop at the first failure).
  virtual bool stopped() const { return false; }
  // The blank line before each statement's output.
  virtual void statement_break();
  // One item of a script or of standard input; source: the script's name ("-" for standard
  // input, empty for a "-q" text). Returns false when the run stops.
  virtual bool run_item(script_item& item, const std::wstring& source);
  // The rules by which scripts for the current connection are cut.
  virtual odbc::script_dialect dialect() const { return odbc::script_dialect::generic; }
  // What goes in front of a failure of the item beginning at line of source ("FILE:LINE: "
  // with "-oe").
  virtual std::wstring failure_place(const std::wstring&, size_t) const { return {}; }
  // The prompt follows the start: no script was given.
  virtual bool prompts() const { return false; }
  // Lines without ";" continue the statement ("-ml").
  virtual bool multiline() const { return false; }
  // Tab completion at the prompt; null where the handler offers none.
  virtual std::unique_ptr<completion> make_completion();
  // The prompt's query buffer, which the commands typed read and change; null where there is none.
  virtual query_buffer* buffer() { return nullptr; }
};

} // namespace vela::terminal
