// What a line typed at sqlterm means: terminal commands, or SQL while connected.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Terminal/commands/command_table.h"
#include "Terminal/output/cell_source.h"
#include "Terminal/session/options.h"
#include "Terminal/session/context.h"
#include "Terminal/input/line_handler.h"
#include "Terminal/input/sql_split.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/result.h"

namespace vela {
class console_writer;
}

namespace vela::terminal {

class row_writer;
struct copy_load;
struct copy_command;


class TTermOdbcHndlr;

// What a statement does to its connection's transaction, by its first words.
enum class transaction_step : uint8_t { none, begin, end, savepoint, release };
struct transaction_statement {
  transaction_step step = transaction_step::none;
  std::wstring savepoint;  // the name a SAVEPOINT or RELEASE gives (in capitals unless quoted)
};
transaction_statement transaction_effect(const std::wstring& statement);


class TTermOdbcHndlr : public terminal_handler, public command_host {
 public:
  explicit TTermOdbcHndlr(const terminal_options* options);
  ~TTermOdbcHndlr() override;

  result open_terminal() override;
  result handle_line(const std::wstring& line) override;
  void close_terminal() override;
  std::wstring prompt() override { return ctx_.connection.hdbc() ? L"SQL>" : L">"; }
  bool is_command(const std::wstring& line) override { return keyword_command(line) != nullptr; }

  result connect_by_string(const std::wstring& connection_string) override;
  result connect_by_driver(const std::wstring& parameters, const std::wstring& driver) override;
  result connect_by_datasource(const std::wstring& datasource, const std::wstring& user, const std::wstring& password) override;
  result close_connection() override;
  // The catalog listings of LIST TABLES and LIST COLUMNS (empty filters list everything).
  result list_tables(const std::wstring& catalog, const std::wstring& table) override;
  result list_columns(const std::wstring& catalog, const std::wstring& table) override;

  // Executes one statement (sent, when given, in its place: the same with its literals
  // rewritten) and prints its echo, rows, summary and time.
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
  const session& current_session() const { return ctx_.named; }
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
  bool run_copy_job();
  // A transaction begun by the statements run (BEGIN, START TRANSACTION, on SQLite a first
  // SAVEPOINT) is open; MariaDB and MySQL are asked, as DDL there ends one on its own.
  bool transaction_open();

 private:
  // Messages that are neither data nor failures (connected, disconnected): left out with
  // data only, on standard error with CSV.
  void report_info(const std::wstring& text);
  // A warning about the data (a column left out): always on standard error.
  void report_warning(const std::wstring& text);
  // With "-oe", the first failure stops the run.
  void note(const result& r);
  void print_result_set(odbc::query& q, console_writer* summary);
  uint32_t print_rows(odbc::resultset& rows);
  // How the cells of the next statement's rows are fetched.
  text_path cell_text_path();
  // Once a session: a driver that holds whole results in memory has let the process grow
  // beyond 1 GiB, and its streaming setting is not given.
  void hint_big_result();
  std::unique_ptr<row_writer> make_writer(console_writer& out) const;
  // A failure of a script item: reported and noted.
  result fail(const std::wstring& text);
  // The driver's reason for a failed connect, after the connect's own message.
  void report_connect_reason(const result& r);
  // \d NAME: the columns of one table.
  result describe_table(const std::wstring& name) override;
  // \connect: the same connection, to another database.
  result reconnect_to_database(const std::wstring& database) override;
  void connected();
  // Loads (copy_run.cpp).
  void copy_block(const script_item& item, const std::wstring& where);
  void copy_command_line(const std::wstring& rest, const std::wstring& where, size_t line) override;
  void copy_to_file(const copy_command& cmd, const std::wstring& where, size_t line);
  void copy_from_connection(const std::wstring& table, const std::vector<std::wstring>& columns, const std::wstring& source,
                            const std::wstring& query_text, const std::wstring& where, size_t line);
  std::unique_ptr<copy_load> start_load(const copy_command& cmd, const std::wstring& where, size_t line);
  bool load_line(copy_load& l, std::wstring_view line, size_t number);
  bool lines_taken(copy_load& l, bool go);
  void end_load(copy_load& l, const result& r);
  void show_progress(copy_load& l, bool last);
  void copy_not_started(const std::wstring& why, const std::wstring& where, size_t line);
  // Transactions (transaction.cpp).
  void track_transaction(const std::wstring& statement, const result& r);
  // A transaction still open when the connection closes is rolled back, and that is said.
  void roll_back_open_transaction();

  terminal_context ctx_;
  bool big_result_hinted_ = false;
  text_path cell_path_ = text_path::wide;
  std::vector<std::wstring> open_scripts_;  // the files being run, outermost first
  std::unique_ptr<copy_load> copy_;  // the COPY block being loaded
  bool copy_skip_ = false;
};

// "0.015", "59.999", "01:01.005", "01:02:03.004", "1:01:01:01.001".
std::wstring format_elapsed(uint32_t ms);

} // namespace vela::terminal
