#include "Terminal/session/connect.h"

#include <optional>

#include "Terminal/input/prompt.h"
#include "Terminal/session/transaction.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/odbc/connection_info.h"
#include "vela/odbc/connection_string.h"
#include "vela/odbc/hosts.h"
#include "vela/odbc/query.h"
#include "vela/os_error.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

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

namespace {

using odbc::host_plan;
using odbc::host_text;
using odbc::server_of;

// The hosts of a connect by connection string. "-hosts" stands for the server of the command
// line's string, not of a CONNECT's other one.
host_plan plan_of(const terminal_options& o, const std::wstring& s) {
  return odbc::plan_hosts(s, s == o.connection_string ? o.hosts : std::wstring(), o.target_given, o.random_hosts);
}

// A host's refusal on a line of its own: the reason's own line break dropped.
std::wstring refusal(const std::wstring& host, std::wstring reason) {
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r')) reason.pop_back();
  return message(string_id::host_refused, host.c_str(), reason.c_str());
}

// Tries the plan's hosts from first on, round the list, until one connects and is what
// "-target" asks; each one refused is reported with its reason. plan.current: the one taken.
result try_hosts(terminal_context& ctx, host_plan& plan, size_t first, std::wstring& completed) {
  const wchar_t* const name = odbc::host_target_name(ctx.options.target);
  const result r = odbc::connect_hosts(ctx.connection, plan, first, ctx.options.target, &completed,
                                       [&](const odbc::host_attempt& a) {
    switch (a.answer) {
      case odbc::host_answer::refused: ctx.report_failure(refusal(a.host, a.reason.text())); break;
      case odbc::host_answer::not_target: ctx.report_failure(message(string_id::host_not_target, a.host.c_str(), name)); break;
      default: ctx.report_failure(message(string_id::host_target_unknown, a.host.c_str(), name)); break;
    }
    return !interrupted() && a.reason.state() != L"HY008";  // Ctrl-C gives up the list
  });
  if (r.succeeded()) return r;
  return failure(r.code(), message(string_id::no_host_used, static_cast<unsigned>(plan.hosts.size())));
}

// A connect by connection string through its hosts.
result connect_to_hosts(terminal_context& ctx, const std::wstring& s) {
  host_plan plan = plan_of(ctx.options, s);
  if (plan.hosts.empty()) {
    ctx.report_failure(message(string_id::connection_failed, odbc::mask_password(s).c_str()));
    return failure(os::err_invalid_parameter,
                   message(string_id::invalid_host_list, (s == ctx.options.connection_string && !ctx.options.hosts.empty()
                                                                ? ctx.options.hosts : server_of(s)).c_str()));
  }
  std::wstring completed;
  // Without a list the string goes to the driver as it is, and the connect says what it always has.
  const result r = plan.listed ? try_hosts(ctx, plan, 0, completed)
                               : ctx.connection.connect(nullptr, s, &completed, odbc::completion::complete_required);
  const result ended = string_connect_ended(ctx, r, s, completed);
  if (!r.succeeded()) return ended;
  if (plan.listed) ctx.report_info(message(string_id::connected_host, host_text(plan, plan.hosts[plan.current]).c_str()));
  ctx.hosts = std::move(plan);
  return ended;
}

} // namespace

result connect_by_string(terminal_context& ctx, const std::wstring& s) {
  if (ctx.connection.hdbc()) (void)close_connection(ctx);  // reports its own failure
  ctx.hosts = host_plan{};
  return connect_to_hosts(ctx, s);
}

bool reconnect_after_loss(terminal_context& ctx, bool in_script) {
  if (ctx.hosts.hosts.empty() || !(ctx.options.reconnect || (ctx.hosts.listed && !in_script))) return false;
  ctx.release_statement();
  (void)ctx.connection.disconnect();  // the connection is gone; its handle is freed
  std::wstring completed;
  std::optional<running_call> watched;  // Ctrl-C gives up the connect
  watched.emplace(ctx.connection);
  const result r = try_hosts(ctx, ctx.hosts, (ctx.hosts.current + 1) % ctx.hosts.hosts.size(), completed);
  watched.reset();
  if (!r.succeeded()) {
    ctx.report_failure(str(string_id::reconnect_failed));
    ctx.hosts = host_plan{};
    return false;
  }
  connected(ctx);
  ctx.named.driver_parameters = completed;
  ctx.report_failure(message(string_id::reconnected, host_text(ctx.hosts, ctx.hosts.hosts[ctx.hosts.current]).c_str()));
  return true;
}

result connect_by_driver(terminal_context& ctx, const std::wstring& parameters, const std::wstring& driver) {
  if (ctx.connection.hdbc()) (void)close_connection(ctx);  // reports its own failure
  std::wstring completed;
  ctx.hosts = host_plan{};  // a driver's connect is not opened again
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
  const std::wstring target = odbc::with_attribute(by_string ? ctx.named.connection_string : ctx.named.driver_parameters, L"Database", database);
  const std::wstring driver = ctx.named.driver;
  odbc::connection waiting;
  waiting.swap(ctx.connection);  // Ctrl-C still reaches the connect: it runs on ctx.connection
  std::wstring completed;
  // A list of hosts is gone through again, from the host connected now.
  host_plan plan = ctx.hosts;
  if (!plan.hosts.empty()) plan.connection_string = odbc::with_attribute(plan.connection_string, L"Database", database);
  const result r = by_string && plan.listed ? try_hosts(ctx, plan, plan.current, completed)
                   : by_string ? ctx.connection.connect(nullptr, target, &completed, odbc::completion::complete_required)
                               : ctx.connection.connect_driver(nullptr, driver, target, &completed, odbc::completion::complete_required);
  ctx.connection.swap(waiting);
  if (r.succeeded()) {
    if (ctx.connection.hdbc()) (void)close_connection(ctx);  // reports its own failure
    ctx.connection.swap(waiting);
    if (by_string) ctx.named.connection_string = target;
    ctx.hosts = std::move(plan);
  }
  if (by_string) (void)string_connect_ended(ctx, r, target, completed);
  else (void)driver_connect_ended(ctx, r, target, driver, completed);
  if (r.succeeded() && ctx.hosts.listed)
    ctx.report_info(message(string_id::connected_host, host_text(ctx.hosts, ctx.hosts.hosts[ctx.hosts.current]).c_str()));
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
  ctx.hosts = host_plan{};
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
  ctx.hosts = host_plan{};
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
