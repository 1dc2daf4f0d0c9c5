// What a line typed at sqlterm means: terminal commands, or SQL while connected.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Terminal/commands/command_table.h"
#include "Terminal/output/cell_source.h"
#include "Terminal/output/statement_output.h"
#include "Terminal/session/options.h"
#include "Terminal/session/context.h"
#include "Terminal/session/transaction.h"
#include "Terminal/input/line_handler.h"
#include "Terminal/input/prompt_text.h"
#include "Terminal/input/sql_split.h"
#include "Terminal/load/loader.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/result.h"

namespace vela {
class console_writer;
}

namespace vela::terminal {

class row_writer;

class TTermOdbcHndlr : public terminal_handler, public command_host, public load_host {
 public:
  explicit TTermOdbcHndlr(terminal_options* options);
  ~TTermOdbcHndlr() override;

  result open_terminal() override;
  result handle_line(const std::wstring& line) override;
  void close_terminal() override;
  std::wstring prompt() override { return prompt_text(ctx_, false); }
  std::wstring continuation_prompt() override { return prompt_text(ctx_, true); }
  bool is_command(const std::wstring& line) override { return keyword_command(line) != nullptr; }

  result connect_by_string(const std::wstring& connection_string) override;
  result connect_by_driver(const std::wstring& parameters, const std::wstring& driver) override;
  result connect_by_datasource(const std::wstring& datasource, const std::wstring& user, const std::wstring& password) override;
  result close_connection() override;
  // The catalog listings of LIST TABLES and LIST COLUMNS (empty filters list everything).
  result list_tables(const std::wstring& catalog, const std::wstring& table) override;
  result list_columns(const std::wstring& catalog, const std::wstring& table) override;

  // Executes one statement (sent, when given, in its place: the same with its literals
  // rewritten) and prints its echo, rows, summary and time. One that lost the connection is
  // no failure once the connection is opened again (where the options say so).
  result run_sql(const std::wstring& statement, const std::wstring* sent = nullptr);
  bool run_item(script_item& item, const std::wstring& source) override;
  void run_statement_item(const script_item& item, const std::wstring& where);
  odbc::script_dialect dialect() const override { return ctx_.dialect; }
  std::wstring failure_place(const std::wstring& source, size_t line) const override;
  // A script file or a "-q" text, each statement run as soon as it is read; false when the
  // run stops.
  bool run_script_file(const std::wstring& name, text_file_code_page code_page) override;
  const std::vector<std::wstring>& open_scripts() const override { return open_scripts_; }
  bool run_script_text(const std::wstring& text);

  const terminal_options& options() const { return ctx_.options; }
  bool prompts() const override { return ctx_.options.scripts.empty(); }
  bool multiline() const override { return ctx_.options.multiline; }
  std::unique_ptr<completion> make_completion() override;
  query_buffer* buffer() override { return &ctx_.buffer; }
  result run_statement(const std::wstring& statement) override { return handle_line(statement); }
  const session& current_session() const { return ctx_.named; }
  const variable_table& variables() const { return ctx_.variables; }
  odbc::connection& connection() { return ctx_.connection; }

  // A failure's text: on the console, or on standard error when standard output holds data
  // only ("-do", "-csv") or the run stops at failures ("-oe"). Each text ends its line there.
  void report_failure(const std::wstring& text) override;
  void note_failure(const result& r) override { note(r); }
  bool stopped() const override { return ctx_.stopped || ctx_.ended; }
  void statement_break() override;
  // The failure that ended the run under "-oe"; a success otherwise.
  // A load that could not start counts too.
  const result& first_failure() const { return ctx_.first_failure.succeeded() ? ctx_.load_failure : ctx_.first_failure; }
  // "-copy_from" with "-into": the query's rows loaded; false when that failed.
  bool run_copy_job() { return loads_.run_copy_job(); }
  // A transaction begun by the statements run (BEGIN, START TRANSACTION, on SQLite a first
  // SAVEPOINT) is open; MariaDB and MySQL are asked, as DDL there ends one on its own.
  bool transaction_open() override { return terminal::transaction_open(ctx_); }

 private:
  // Messages that are neither data nor failures (connected, disconnected): left out with
  // data only, on standard error with CSV.
  void report_info(const std::wstring& text);
  // A warning about the data (a column left out): always on standard error.
  void report_warning(const std::wstring& text);
  // With "-oe", the first failure stops the run.
  void note(const result& r);
  // A failure of a script item: reported and noted.
  result fail(const std::wstring& text);
  // A line not skipped, its variables put in: a command, or SQL while connected.
  result handle_text(const std::wstring& line);
  // A line (client: a client command) that a branch of \if that does not run skips: all but
  // the conditional commands.
  bool skipped(const std::wstring& text, bool client) const;
  // The variables set, put into SQL (not keyword commands) and into client commands'
  // arguments.
  void put_variables(std::wstring& text, bool client);
  // The driver's reason for a failed connect, after the connect's own message.
  void report_connect_reason(const result& r);
  // \connect: the same connection, to another database.
  result reconnect_to_database(const std::wstring& database) override;
  // Loads (the load room).
  void copy_block(const script_item& item, const std::wstring& where);
  void copy_command_line(const std::wstring& rest, const std::wstring& where, size_t line) override {
    loads_.copy_command_line(rest, where, line);
  }

  terminal_context ctx_;
  statement_output output_;
  std::vector<std::wstring> open_scripts_;  // the files being run, outermost first
  size_t scripts_running_ = 0;              // "-q" texts and files, \i's included
  loader loads_{ctx_, *this};
  static constexpr size_t max_script_depth = 16;
};

} // namespace vela::terminal
