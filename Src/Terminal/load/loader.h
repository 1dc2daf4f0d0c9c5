// Loads of a run: COPY blocks of scripts, \copy from and to files, and the rows of another
// connection ("-copy_from" with "-into"), on the run's shared context.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vela/code_page.h"
#include "vela/result.h"

namespace vela::odbc {
class bulk_source;
class query;
class resultset;
}

namespace vela::terminal {

class terminal_context;
struct copy_command;
struct copy_load;
struct file_table;
class reject_file;

// What a load asks of the run that holds it.
class load_host {
 public:
  virtual ~load_host() = default;
  // A transaction begun by the statements run is open: the rows join it.
  virtual bool transaction_open() = 0;
  // "FILE:LINE: " in front of a failure of a script's line (empty when none goes there).
  virtual std::wstring failure_place(const std::wstring& source, size_t line) const = 0;
};

// The rows of an executed query's result as a load reads them from another connection: each
// value in the form it is read in, text as UTF-8 where the source's profile says so.
std::unique_ptr<odbc::bulk_source> result_rows(odbc::resultset& rows, bool narrow);

class loader {
 public:
  loader(terminal_context& ctx, load_host& host);
  ~loader();
  loader(const loader&) = delete;
  loader& operator=(const loader&) = delete;

  // A COPY block of a script (where: its name): the statement at line, each row of data,
  // and the end of the block.
  void copy_begin(const std::wstring& statement, const std::wstring& where, size_t line);
  void copy_row(std::wstring_view text, size_t line);
  void copy_end();
  // \copy with its arguments (where empty: typed at the prompt).
  void copy_command_line(const std::wstring& rest, const std::wstring& where, size_t line);
  // "-copy_from" with "-into": the query's rows loaded; false when that failed.
  bool run_copy_job();

 private:
  void copy_to_file(const copy_command& cmd, const std::wstring& where, size_t line);
  // shown: the source's name in messages (empty: the file's); streamed: the lines are
  // standard input's, read as they come.
  void copy_from_file(const copy_command& cmd, const std::wstring& where, size_t line, const std::wstring& shown = {},
                      bool streamed = false);
  // FROM pstdin: standard input loaded as it comes, or kept in a temporary file first.
  void copy_from_stdin(const copy_command& cmd, const std::wstring& where, size_t line);
  void copy_from_connection(const copy_command& cmd, const std::wstring& source, const std::wstring& query_text,
                            const std::wstring& where, size_t line);
  // CREATE …: the table made from the file's header and values, or from the source's result
  // columns; false when it could not be (told).
  bool make_file_table(const copy_command& cmd, text_file_code_page cp, const std::wstring& where, size_t line,
                       std::unique_ptr<file_table>& made);
  bool remake_file_table(const copy_command& cmd, text_file_code_page cp, file_table& t, const std::wstring& where, size_t line);
  bool make_result_table(const copy_command& cmd, odbc::query& q, const std::wstring& where, size_t line);
  // made: the table the load made from the file, or null; rejects: the REJECTS file of the
  // load before, when the load starts again.
  // "-jobs" with several hosts: the load's batches go to connections of their own.
  void spread_load(copy_load& l);
  std::unique_ptr<copy_load> start_load(const copy_command& cmd, const std::wstring& where, size_t line,
                                        file_table* made = nullptr, std::shared_ptr<reject_file> rejects = {});
  bool read_json_keys(copy_load& l, const copy_command& cmd, const std::wstring& where, size_t line);
  bool load_line(copy_load& l, std::wstring_view line, size_t number);
  bool lines_taken(copy_load& l, bool go);
  // The engine finished (r: how the load ended, when it failed), and the load told.
  void end_load(copy_load& l, const result& r);
  // The load ended as f says (the engine finished): its failure and its counts told.
  void report_end(copy_load& l, const result& f);
  void show_progress(copy_load& l, bool last);
  // The REJECTS file written to its end, and told.
  void close_rejects(copy_load& l);
  void copy_not_started(const std::wstring& why, const std::wstring& where, size_t line);
  void copy_not_started(const result& r, const std::wstring& where, size_t line);

  terminal_context& ctx_;
  load_host& host_;
  std::unique_ptr<copy_load> copy_;  // the COPY block being loaded
};

} // namespace vela::terminal
