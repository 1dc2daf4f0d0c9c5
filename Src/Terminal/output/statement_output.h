// One statement executed and printed on the run's context: echo, rows, summary line and
// execution time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Terminal/output/cell_source.h"
#include "Terminal/session/context.h"
#include "vela/odbc/retry.h"
#include "vela/result.h"

namespace vela {
class console_writer;
}

namespace vela::terminal {

class row_writer;

// The writer of the run's format ("-format", "-csv", "-cd", "-null", "-do", "-lc"), or of
// format when one is given.
std::unique_ptr<row_writer> make_writer(const terminal_options& options, console_writer& out,
                                        const output_format* format = nullptr);

class statement_output {
 public:
  explicit statement_output(terminal_context& ctx) : ctx_(ctx) {}

  // Executes one statement (sent, when given, in its place: the same with its literals
  // rewritten) and prints its echo, rows, summary and time.
  result run_sql(const std::wstring& statement, const std::wstring* sent = nullptr);

 private:
  // Executes, running the statement again after a conflict as "-retry" says.
  result execute_retrying(odbc::query& q, const std::wstring& text, const std::wstring& statement);
  bool pause_before_retry(uint32_t attempt);
  std::wstring retry_line() const;
  // Prints the rows; appends the counts of the summary line to line when summary is set.
  void print_result_set(odbc::query& q, bool summary, std::wstring& line);
  result print_further_results(odbc::query& q, console_writer* summary, std::wstring& line);
  void write_summary(console_writer& summary, const std::wstring& line);
  uint32_t print_rows(odbc::resultset& rows);
  // How the cells of the next statement's rows are fetched.
  text_path cell_text_path();
  // Rows each fetch of a result asks for (1: one at a time).
  size_t rowset_rows(const odbc::resultset& result, const cell_source& cells);
  static constexpr size_t max_rowset_rows = 10000;
  static constexpr size_t rowset_bytes = size_t{8} << 20;
  // Once a session: a driver that holds whole results in memory has let the process grow
  // beyond 1 GiB, and its streaming setting, which this version of it knows, is not given.
  void hint_big_result();

  terminal_context& ctx_;
  bool big_result_hinted_ = false;
  text_path cell_path_ = text_path::wide;
  uint32_t retried_ = 0;  // times the last statement ran again
  odbc::conflict retry_reason_ = odbc::conflict::none;
  bool paging_ = false;                       // this statement's rows are held for the pager
  std::vector<std::wstring> held_summaries_;  // summary lines that wait for those rows
  std::wstring summary_line_;

  // "Rows affected: %u." and the rest of the summary, split at the number.
  struct summary_texts {
    void append_counts(std::wstring& line, uint32_t affected, uint32_t selected);
    void append_time(std::wstring& line, uint32_t ms);

   private:
    void learn();
    bool known = false;
    std::wstring affected_before, affected_after, selected_before, selected_after, time_before, time_after;
    std::wstring no_rows_affected, no_rows_selected;
  };
  summary_texts texts_;
};

// "0.015", "59.999", "01:01.005", "01:02:03.004", "1:01:01:01.001".
std::wstring format_elapsed(uint32_t ms);

} // namespace vela::terminal
