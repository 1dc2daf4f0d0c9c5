// What a line typed at sqlterm means: terminal commands, or SQL while connected.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Terminal/output/cell_source.h"
#include "Terminal/output/statement_output.h"
#include "Terminal/session/options.h"
#include "Terminal/session/context.h"
#include "Terminal/session/transaction.h"
#include "Terminal/input/line_handler.h"
#include "Terminal/input/sql_split.h"
#include "Terminal/load/loader.h"
#include "vela/containers.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/result.h"
#include "vela/task.h"

namespace vela {
class console_writer;
}

namespace vela::terminal {

class row_writer;


class TTermOdbcHndlr;


// Base of the terminal commands: keyword, help text and the tokens of the line.
class TOdbcHndlrCmd : public task {
 public:
  TOdbcHndlrCmd(TTermOdbcHndlr* handler, std::wstring keyword, std::wstring help_text)
      : handler(handler), keyword(std::move(keyword)), help_text(std::move(help_text)) {}
  // Token i of the line (0 is the command word), split at spaces outside double quotes,
  // with the quotes at its ends removed; empty when there is no such token.
  std::wstring parameter(size_t i) const { return token(line, i); }
  static std::wstring token(std::wstring_view line, size_t i);

  TTermOdbcHndlr* handler;
  std::wstring line;
  std::wstring keyword;
  std::wstring help_text;
};

// The words Tab completion offers after a command; keywords are completed in capitals.
struct completion_words {
  std::vector<std::wstring> words;
  bool keywords = false;
};

// One terminal command: its keyword, its HELP text, the words that may follow it, and how
// it is made. Dispatch, HELP and Tab completion all read the one table of them.
struct command_entry {
  const wchar_t* keyword;
  uint32_t help_id;  // 0: the keyword is its own help
  completion_words (*next_words)(size_t index, const std::wstring& previous);  // null: none
  TOdbcHndlrCmd* (*make)(TTermOdbcHndlr* handler, const command_entry& entry);
};
const std::vector<command_entry>& command_table();

class TTermOdbcHndlr : public terminal_handler, public load_host {
 public:
  explicit TTermOdbcHndlr(const terminal_options* options);
  ~TTermOdbcHndlr() override;

  result open_terminal() override;
  result handle_line(const std::wstring& line) override;
  void close_terminal() override;
  std::wstring prompt() override { return ctx_.connection.hdbc() ? L"SQL>" : L">"; }
  bool is_command(const std::wstring& line) override { return find_command(line) != nullptr; }

  result connect_by_string(const std::wstring& connection_string);
  result connect_by_driver(const std::wstring& parameters, const std::wstring& driver);
  result connect_by_datasource(const std::wstring& datasource, const std::wstring& user, const std::wstring& password);
  result close_connection();
  result list_command_names();
  result show_command_help(const std::wstring& keyword);
  // The catalog listings of LIST TABLES and LIST COLUMNS (empty filters list everything).
  result list_tables(const std::wstring& catalog, const std::wstring& table);
  result list_columns(const std::wstring& catalog, const std::wstring& table);
  // EXIT, QUIT or \q: the session ends after the current line.
  void end_session() { ctx_.ended = true; }

  // Executes one statement (sent, when given, in its place: the same with its literals
  // rewritten) and prints its echo, rows, summary and time.
  result run_sql(const std::wstring& statement, const std::wstring* sent = nullptr) {
    return output_.run_sql(statement, sent);
  }
  bool run_item(script_item& item, const std::wstring& source) override;
  void run_statement_item(const script_item& item, const std::wstring& where);
  odbc::script_dialect dialect() const override { return ctx_.dialect; }
  std::wstring failure_place(const std::wstring& source, size_t line) const override;
  // A script file or a "-q" text, each statement run as soon as it is read; false when the
  // run stops.
  bool run_script_file(const std::wstring& name, text_file_code_page code_page);
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
  bool run_copy_job() { return loads_.run_copy_job(); }
  // A transaction begun by the statements run (BEGIN, START TRANSACTION, on SQLite a first
  // SAVEPOINT) is open; MariaDB and MySQL are asked, as DDL there ends one on its own.
  bool transaction_open() override { return terminal::transaction_open(ctx_); }

 private:
  // The command whose keyword the line's first word is; null for any other line.
  TOdbcHndlrCmd* find_command(const std::wstring& line);
  // Messages that are neither data nor failures (connected, disconnected): left out with
  // data only, on standard error with CSV.
  void report_info(const std::wstring& text);
  // A warning about the data (a column left out): always on standard error.
  void report_warning(const std::wstring& text);
  // With "-oe", the first failure stops the run.
  void note(const result& r);
  // A failure of a script item: reported and noted.
  result fail(const std::wstring& text);
  // The driver's reason for a failed connect, after the connect's own message.
  void report_connect_reason(const result& r);
  // A client command of a script (where: its name and line), or typed at the prompt (where
  // empty), whose output needs no blank line before it.
  result run_client_command(const script_item& item, const std::wstring& where);
  // \d NAME: the columns of one table.
  result describe_table(const std::wstring& name);
  void include_script(const std::wstring& name, const std::wstring& where, size_t line);
  // \connect: the same connection, to another database.
  result reconnect_to_database(const std::wstring& database);
  // Loads (the load room).
  void copy_block(const script_item& item, const std::wstring& where);
  void copy_command_line(const std::wstring& rest, const std::wstring& where, size_t line) { loads_.copy_command_line(rest, where, line); }

  terminal_context ctx_;
  Queue<TOdbcHndlrCmd> commands_;
  statement_output output_;
  std::vector<std::wstring> open_scripts_;  // the files being run, outermost first
  loader loads_{ctx_, *this};
  static constexpr size_t max_script_depth = 16;
};

} // namespace vela::terminal
