// Where each kind of output goes, decided in one place from the options: rows on standard
// output; the echo, counts and times, messages and failures where "-do", "-csv", "-format" and "-oe"
// send them.
#pragma once

#include <string>

#include "Terminal/session/options.h"

namespace vela {
class console_writer;
}

namespace vela::terminal {

class output_target;

class output_routes {
 public:
  explicit output_routes(const terminal_options& options) : options_(options) {}

  // Standard output, or the target that \o or \g chose.
  console_writer& rows() const;
  // Rows go to target from now on (null: standard output again); the one chosen before.
  output_target* send_rows_to(output_target* target) {
    output_target* before = target_;
    target_ = target;
    return before;
  }
  output_target* rows_target() const { return target_; }
  // The statement written before its rows: not with data only, nor when standard output holds data alone ("-csv", "-format").
  bool echo() const { return !options_.data_only && !options_.data_apart(); }
  // Counts and execution times: none with data only; on standard error with CSV and "-format", which
  // keeps standard output for the rows.
  console_writer* summary() const;
  // The blank line before each statement's output: not in CSV.
  void statement_break() const;
  // Failures go to standard error when standard output holds data only ("-do", "-csv") or
  // the run stops at failures ("-oe").
  // So do those of the start-up file.
  bool failures_apart() const { return startup_ || options_.data_only || options_.on_error || options_.data_apart(); }
  // While the start-up file runs: its failures name their place and stop nothing.
  void set_startup(bool on) { startup_ = on; }
  bool in_startup() const { return startup_; }
  // A failure's text; place ("FILE:LINE: ") goes in front of it on standard error. Each text
  // ends its line there.
  void failure(const std::wstring& text, const std::wstring& place) const;
  // A failure that ends its line on standard output as well.
  void failure_line(const std::wstring& text, const std::wstring& place) const;
  // Messages that are neither data nor failures (connected, disconnected): left out with
  // data only, on standard error with CSV.
  void info(const std::wstring& text) const;
  // The same as a line of its own.
  void info_line(const std::wstring& text) const;
  // The banner: not with data only, nor when standard output holds data alone ("-csv", "-format").
  bool banner() const { return echo(); }
  // Where a failure before the session (the command line, the start-up) goes: standard
  // error when standard output holds data ("-oe", "-csv").
  console_writer& startup_failures() const;
  // A warning about the data (a column left out): always on standard error, after the rows
  // printed so far.
  void warning(const std::wstring& text) const;

 private:
  const terminal_options& options_;
  output_target* target_ = nullptr;
  bool startup_ = false;
};

} // namespace vela::terminal
