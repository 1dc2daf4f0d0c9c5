#include "Terminal/session/connect.h"

#include "Terminal/session/transaction.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/odbc/connection_string.h"
#include "vela/os_error.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

// The connection string with its Database key set to database (added when missing).
std::wstring with_database(const std::wstring& cs, const std::wstring& database) {
  const std::wstring value = database.find_first_of(L";{}") == std::wstring::npos ? database : L"{" + database + L"}";
  std::wstring out;
  bool replaced = false;
  for (const odbc::cs_attribute& a : odbc::read_connection_string(cs)) {
    std::wstring pair = cs.substr(a.start, a.end - a.start);
    if (a.has_value() && compare_nocase(a.key(cs), L"Database") == 0) {
      pair = cs.substr(a.start, a.equals + 1 - a.start) + value;
      replaced = true;
    }
    if (!pair.empty()) out += (out.empty() ? L"" : L";") + pair;
  }
  if (!replaced) out += (out.empty() ? L"" : L";") + std::wstring(L"Database=") + value;
  return out;
}

// What the new connection's profile tells the run, and no transaction open yet.
void connected(terminal_context& ctx) {
  const odbc::driver_profile& profile = ctx.connection.profile();
  ctx.dialect = profile.dialect();
  ctx.byte_literals = profile.byte_literals();
  ctx.transaction.open = false;
  ctx.transaction.opening_savepoint.clear();
  ctx.commits_statements = !ctx.connection.autocommit();
}

} // namespace

void report_connect_reason(terminal_context& ctx, const result& r) {
  if (r.succeeded() || r.text().empty()) return;
  if (ctx.routes.failures_apart()) {
    ctx.report_failure(r.text());
    return;
  }
  // Beside the message on a terminal; where failures are looked for when the output is kept.
  console_writer& out = console();
  out.flush();
  console_writer& to = out.is_terminal() ? out : error_console();
  to.write(r.text());
  if (r.text().back() != L'\n') to.write(L'\n');
  to.flush();
}

namespace {

// The end of a connect: on success the session takes the connection (named by take, which
// returns what to say), otherwise the failure is reported.
template <typename Take>
result connect_ended(terminal_context& ctx, const result& r, Take take, const std::wstring& failure_text) {
  if (!r.succeeded()) {
    ctx.report_failure(failure_text);
    return r;
  }
  connected(ctx);
  ctx.report_info(take());
  return r;
}

// What a connect by connection string or by driver that ended says, and what the session
// keeps of it.
result string_connect_ended(terminal_context& ctx, const result& r, const std::wstring& s, const std::wstring& completed) {
  // The string as typed may carry a password: it is shown masked.
  return connect_ended(ctx, r, [&] {
    ctx.named.driver_parameters = completed;
    return message(string_id::connected_to, completed.c_str());
  }, message(string_id::connection_failed, odbc::mask_password(s).c_str()));
}

result driver_connect_ended(terminal_context& ctx, const result& r, const std::wstring& parameters,
                            const std::wstring& driver, const std::wstring& completed) {
  // An old-syntax argument such as "-cs:...;PWD=..." may have been taken for the driver name.
  return connect_ended(ctx, r, [&] {
    ctx.named.driver = driver;
    ctx.named.datasource.clear();
    ctx.named.driver_parameters = completed;
    return message(string_id::connected_to_driver, ctx.named.driver.c_str(), ctx.named.driver_parameters.c_str());
  }, message(string_id::driver_connection_failed, odbc::mask_password(driver).c_str(), odbc::mask_password(parameters).c_str()));
}

} // namespace

result connect_by_string(terminal_context& ctx, const std::wstring& s) {
  if (ctx.connection.hdbc()) (void)close_connection(ctx);  // reports its own failure
  std::wstring completed;
  const result r = ctx.connection.connect(nullptr, s, &completed, odbc::completion::complete_required);
  return string_connect_ended(ctx, r, s, completed);
}

result connect_by_driver(terminal_context& ctx, const std::wstring& parameters, const std::wstring& driver) {
  if (ctx.connection.hdbc()) (void)close_connection(ctx);  // reports its own failure
  std::wstring completed;
  const result r = ctx.connection.connect_driver(nullptr, driver, parameters, &completed, odbc::completion::complete_required);
  return driver_connect_ended(ctx, r, parameters, driver, completed);
}

// The new connection is opened while the old one waits aside; only once it works is the old
// one closed (as DISCONNECT closes it) and the new one taken. A failed one leaves the old.
result reconnect_to_database(terminal_context& ctx, const std::wstring& database) {
  const bool by_string = !ctx.named.connection_string.empty();
  if (!by_string && ctx.named.driver.empty()) {
    ctx.report_failure(str(string_id::not_connected));
    const result r = failure(os::err_invalid_parameter, str(string_id::not_connected));
    console().flush();
    ctx.note(r);
    return r;
  }
  const std::wstring target = with_database(by_string ? ctx.named.connection_string : ctx.named.driver_parameters, database);
  const std::wstring driver = ctx.named.driver;
  odbc::connection waiting;
  waiting.swap(ctx.connection);  // Ctrl-C still reaches the connect: it runs on ctx.connection
  std::wstring completed;
  const result r = by_string ? ctx.connection.connect(nullptr, target, &completed, odbc::completion::complete_required)
                             : ctx.connection.connect_driver(nullptr, driver, target, &completed, odbc::completion::complete_required);
  ctx.connection.swap(waiting);
  if (r.succeeded()) {
    if (ctx.connection.hdbc()) (void)close_connection(ctx);  // reports its own failure
    ctx.connection.swap(waiting);
    if (by_string) ctx.named.connection_string = target;
  }
  if (by_string) (void)string_connect_ended(ctx, r, target, completed);
  else (void)driver_connect_ended(ctx, r, target, driver, completed);
  report_connect_reason(ctx, r);
  if (!r.succeeded() && ctx.connection.hdbc())
    ctx.report_failure(message(string_id::still_connected_to, ctx.named.driver_parameters.c_str()));
  console().flush();
  ctx.note(r);
  return r;
}

result connect_by_datasource(terminal_context& ctx, const std::wstring& datasource, const std::wstring& user,
                             const std::wstring& password) {
  if (ctx.connection.hdbc()) (void)close_connection(ctx);  // reports its own failure
  const result r = ctx.connection.ConnDs(datasource, user, password);
  return connect_ended(ctx, r, [&] {
    ctx.named.datasource = datasource;
    ctx.named.driver.clear();
    ctx.named.user = user;
    return user.empty() ? message(string_id::connected_to_datasource, datasource.c_str())
                        : message(string_id::connected_to_datasource_user, datasource.c_str(), user.c_str());
  }, user.empty() ? message(string_id::datasource_connection_failed, datasource.c_str())
                  : message(string_id::datasource_user_connection_failed, datasource.c_str(), user.c_str()));
}

result close_connection(terminal_context& ctx) {
  if (!ctx.connection.hdbc()) {
    ctx.report_failure(str(string_id::not_connected));
    return failure(os::err_invalid_parameter);
  }
  roll_back_open_transaction(ctx);
  ctx.release_statement();
  (void)ctx.connection.disconnect();  // fails only when not connected, checked above
  ctx.dialect = odbc::script_dialect::generic;
  ctx.byte_literals = odbc::byte_literal_form::none;
  std::wstring text;
  if (!ctx.named.connection_string.empty()) text = message(string_id::disconnected_from, ctx.named.driver_parameters.c_str());
  else if (!ctx.named.driver.empty())
    text = message(string_id::disconnected_from_driver, ctx.named.driver.c_str(), ctx.named.driver_parameters.c_str());
  else text = message(string_id::disconnected_from_datasource, ctx.named.datasource.c_str());
  ctx.routes.info_line(text);
  ctx.named.driver.clear();
  ctx.named.datasource.clear();
  return result();
}

} // namespace vela::terminal
