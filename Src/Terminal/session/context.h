// The state one run shares among the rooms: the settings, where output goes, the connection
// as the user named it and as it is open, and the failures met so far. The handler owns it;
// commands, output and loads work on it.
#pragma once

#include <string>
#include <vector>

#include "Terminal/output/output_routes.h"
#include "Terminal/session/conditionals.h"
#include "Terminal/session/options.h"
#include "Terminal/session/query_buffer.h"
#include "Terminal/session/variables.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/connection_string.h"
#include "vela/odbc/hosts.h"
#include "vela/odbc/driver.h"
#include "vela/odbc/query.h"
#include "vela/result.h"

namespace vela::terminal {

// The connection as the user named it, from the command line, CONNECT or \c: what
// DISCONNECT reports and \c reconnects with.
struct session {
  std::wstring connection_string;  // given on the command line (or changed by \c)
  std::wstring driver;             // a driver and its parameters
  std::wstring driver_parameters;  // those parameters, or the completed connection string
  std::wstring datasource;         // a data source and its user
  std::wstring user;
};

// The hosts a connect by connection string went through, and the one it took: a reconnect
// goes on from there. A host without a name stands for the string as it is.
using odbc::host_plan;

// The connection's transaction as the statements run have left it.
struct transaction_state {
  bool open = false;
  std::wstring opening_savepoint;  // the SAVEPOINT that began it, whose RELEASE ends it
  // A statement failed inside it; statements ran since the last COMMIT or ROLLBACK (which,
  // with autocommit off, opened one).
  bool failed = false;
  bool statements_since_end = false;
};

class terminal_context {
 public:
  explicit terminal_context(terminal_options& options);

  // With "-oe", the first failure stops the run (none of the start-up file's).
  void note(const result& r);
  // A failure's text: on the console, or on standard error when standard output holds data
  // only ("-do", "-csv") or the run stops at failures ("-oe"). Each text ends its line there.
  void report_failure(const std::wstring& text) { routes.failure(text, place); }
  // Messages that are neither data nor failures (connected, disconnected): left out with
  // data only, on standard error with CSV.
  void report_info(const std::wstring& text) { routes.info(text); }
  // A warning about the data (a column left out): always on standard error.
  void report_warning(const std::wstring& text) { routes.warning(text); }
  // A failure of a script item: reported and noted.
  result fail(const std::wstring& text);
  // Frees the statement handle of the user's statements (before a disconnect).
  void release_statement() {
    if (statement.hstmt()) (void)statement.Free();  // succeeds with a handle
  }

  // As the command line gave them, then as settings changed at runtime left them.
  terminal_options& options;
  variable_table variables;
  conditional_stack conditions;
  query_buffer buffer;
  output_routes routes;
  session named;
  host_plan hosts;
  odbc::connection connection;
  // The user's statements run one after another on this one statement handle, allocated at
  // the first and freed before the connection closes.
  odbc::query statement{&connection, std::wstring()};
  // The connection opened in manual-commit mode, so each statement that succeeds is
  // committed; a statement that turns autocommit off later (a dump's SET autocommit=0)
  // leaves the transaction to the statements.
  bool commits_statements = false;
  odbc::script_dialect dialect = odbc::script_dialect::generic;
  odbc::byte_literal_form byte_literals = odbc::byte_literal_form::none;
  int32_t script_code_page = 65001;  // that the script running was decoded from
  // With "-oe": "FILE:LINE: " of the script item running, in front of its failures.
  std::wstring place;
  bool stopped = false;
  bool ended = false;
  result first_failure;
  result load_failure;  // a load that could not start
  transaction_state transaction;
};

} // namespace vela::terminal
