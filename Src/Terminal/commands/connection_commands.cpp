// Connection commands: CONNECT, DISCONNECT, \c, \conninfo.
#include "Terminal/commands/command_table.h"
#include "Terminal/commands/commands.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/odbc/connection_info.h"
#include "vela/odbc/driver.h"
#include "vela/wstr.h"

namespace vela::terminal {

result run_connect(terminal_context&, command_host& host, const TOdbcHndlrCmd& cmd) {
  const std::wstring p1 = cmd.parameter(1);
  if (compare_nocase(p1, L"DRIVER") == 0) return host.connect_by_driver(cmd.parameter(3), cmd.parameter(2));
  if (compare_nocase(p1, L"DATASOURCE") == 0)
    return host.connect_by_datasource(cmd.parameter(2), cmd.parameter(3), cmd.parameter(4));
  return host.connect_by_string(p1);
}

result run_disconnect(terminal_context&, command_host& host, const TOdbcHndlrCmd&) { return host.close_connection(); }

result run_reconnect(terminal_context&, command_host& host, const TOdbcHndlrCmd& cmd) {
  // The database is the first argument that is not an option; "dbname=NAME" is taken apart.
  std::wstring database;
  for (size_t i = 0; database.empty(); ++i) {
    const std::wstring token = TOdbcHndlrCmd::token(cmd.rest, i);
    if (token.empty()) break;
    if (token[0] != L'-') database = command_argument(token);
  }
  if (starts_nocase(database, L"dbname=")) database = command_argument(database.substr(7));
  return host.reconnect_to_database(database);
}

// What the open connection is, as its driver tells it; never its password.
result run_conninfo(terminal_context& ctx, command_host&, const TOdbcHndlrCmd&) {
  void* const hdbc = ctx.connection.hdbc();
  if (!hdbc) return ctx.fail(str(string_id::not_connected));
  const auto ask = [hdbc](odbc::info_text what) { return odbc::ask_info_text(hdbc, what); };
  const auto or_none = [](const std::wstring& s) { return s.empty() ? std::wstring(L"(none)") : s; };
  console_writer& out = console();
  out.write(L"Data source: " + or_none(ask(odbc::info_text::datasource_name))).line_break();
  out.write(L"Driver: " + ask(odbc::info_text::driver_file) + L" " + ask(odbc::info_text::driver_version)).line_break();
  out.write(L"DBMS: " + ask(odbc::info_text::dbms_name) + L" " + ask(odbc::info_text::dbms_version)).line_break();
  out.write(L"User: " + or_none(ask(odbc::info_text::user_name))).line_break();
  out.flush();
  return result();
}

// The words that may follow a command, for Tab completion: index counts the words typed
// after the keyword, previous is the last of them.
completion_words connect_words(size_t index, const std::wstring& previous) {
  if (index == 0) return {{L"DRIVER", L"DATASOURCE"}, true};
  completion_words names{{}, false};
  if (index == 1 && compare_nocase(previous, L"DRIVER") == 0) odbc::list_installed_drivers(names.words);
  if (index == 1 && compare_nocase(previous, L"DATASOURCE") == 0) {
    odbc::list_system_datasources(names.words);
    odbc::list_user_datasources(names.words);
  }
  return names;
}

} // namespace vela::terminal
