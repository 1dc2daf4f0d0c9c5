// The two sources of lines for the handler: the interactive prompt and standard input.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Terminal/input/line_handler.h"
#include "Terminal/input/sql_split.h"
#include "vela/task.h"

namespace vela::sys {
class line_editor;
}

namespace vela::terminal {

class statement_feeder;
class completion;

class command_line_terminal : public task {
 public:
  explicit command_line_terminal(terminal_handler* handler) : handler_(handler) {}
  void do_run() override;

 private:
  // History and Tab completion for an editor that edits; the completion it was given.
  std::unique_ptr<completion> prepare_editor(sys::line_editor& reader);
  // The next line that is not blank (or that goes on with a held statement); false at the end
  // of input or Ctrl-D. pasted: the line came as a paste.
  bool read_input(sys::line_editor& reader, statement_feeder& feeder, std::wstring prompt, std::wstring& line,
                  bool& pasted);

  // The history keeps each statement as one entry: its lines are gathered until it ends.
  void add_to_entry(const std::wstring& line);
  void keep_entry(sys::line_editor& reader);
  // The lines of the input (one typed, or a paste), each given to the feeder in turn.
  void feed_lines(sys::line_editor& reader, statement_feeder& feeder, const std::wstring& text);

  terminal_handler* handler_;
  std::wstring entry_;
};

// Lines of input as statements: cut by the scanner and each run in turn; a line that starts
// a statement with a terminal command's word is handled whole.
class statement_feeder {
 public:
  // typed: lines from the prompt (statements keep their ";"); otherwise standard input
  // read as a script (source "-").
  statement_feeder(terminal_handler& handler, bool typed) : handler_(handler), typed_(typed) {}
  // One line of input; false once the run ends (EXIT, a stop, Ctrl-C).
  bool line(const std::wstring& text);
  // Several lines at once, joined with "\n".
  bool lines(const std::wstring& text);
  // Runs what is held, a last statement without its ";" too.
  bool finish();
  // Drops what is held.
  void clear() { cutter_.reset(); }
  // A statement is begun and not ended; it stops inside a literal, comment or body.
  bool holds() const { return cutter_ && cutter_->holds_statement(); }
  bool inside_open_part() const { return cutter_ && cutter_->inside_open_part(); }
  // What is held came from \e and waits for more (or \g) even without "-ml".
  bool keeps() const { return keep_; }
  // The next item's output begins with a line break (the input's, at the prompt).
  void break_first() { fresh_ = true; }
  // The result of the last line handled (code 1223: the run ends).
  const result& last() const { return last_; }
  bool ended() const;

 private:
  bool run(script_item& item);
  void item_break();
  // A client command typed while a statement is held: run with that statement as the query
  // buffer; false for any other line.
  bool buffer_command(const std::wstring& text);
  // What a command left for the buffer (\r, \g, \e): held, or run.
  void take_replacement();

  terminal_handler& handler_;
  bool typed_;
  bool fresh_ = false;
  bool keep_ = false;
  std::unique_ptr<script_cutter> cutter_;
  std::wstring delimiter_ = L";";  // a DELIMITER typed at the prompt holds for the lines after it
  size_t lines_ = 0;  // lines given so far
  result last_;
};

// Standard input that is not a terminal, at the prompt: read as a script, without prompts.
void read_stdin_script(terminal_handler& handler);

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
