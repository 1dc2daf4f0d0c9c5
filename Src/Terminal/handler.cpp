#include "Terminal/handler.h"

#include <cwctype>

#include "Terminal/prompt.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/odbc/connection_info.h"
#include "vela/wstr.h"
#include "vela/os_error.h"

namespace vela::terminal {

namespace {

std::wstring str(uint32_t id) { return load_string(nullptr, id); }

template <typename... Args>
std::wstring message(uint32_t id, Args... args) {
  return wformat(str(id).c_str(), args...);
}

bool starts_nocase(const std::wstring& s, const wchar_t* prefix) {
  const std::wstring p(prefix);
  return s.size() >= p.size() && compare_nocase(s.substr(0, p.size()), p) == 0;
}

std::wstring unquoted(std::wstring s) {
  trim(s, L"\"");
  return s;
}

// ---- the five commands -------------------------------------------------------------

class connect_command : public TOdbcHndlrCmd {
 public:
  explicit connect_command(TTermOdbcHndlr* h) : TOdbcHndlrCmd(h, L"CONNECT", str(string_id::connect_help)) {}
  result run() override {
    const std::wstring p1 = parameter(1);
    if (compare_nocase(p1, L"DRIVER") == 0) return handler->connect_by_driver(parameter(3), parameter(2));
    if (compare_nocase(p1, L"DATASOURCE") == 0)
      return handler->connect_by_datasource(parameter(2), parameter(3), parameter(4));
    return handler->connect_by_string(p1);
  }
};

class disconnect_command : public TOdbcHndlrCmd {
 public:
  explicit disconnect_command(TTermOdbcHndlr* h) : TOdbcHndlrCmd(h, L"DISCONNECT", L"DISCONNECT") {}
  result run() override { return handler->close_connection(); }
};

class list_command : public TOdbcHndlrCmd {
 public:
  explicit list_command(TTermOdbcHndlr* h) : TOdbcHndlrCmd(h, L"LIST", str(string_id::list_help)) {}
  result run() override {
    const std::wstring kind = to_upper_copy(parameter(1));
    console_writer& out = console();
    if (kind == L"DRIVERS") {
      std::vector<std::wstring> names;
      odbc::list_installed_drivers(names);
      out << str(string_id::driver_list);
      out.line_break().line_break();
      for (const auto& n : names) out.write(n).line_break();
      out.line_break();
      out << str(string_id::number_of_drivers) << std::to_wstring(names.size());
      out.line_break();
      return result();
    }
    if (kind == L"DATASOURCES") {
      std::vector<std::wstring> system, user;
      odbc::list_system_datasources(system);
      out << str(system.empty() ? 120 : 118);
      out.line_break();
      for (const auto& n : system) out.write(n).line_break();
      odbc::list_user_datasources(user);
      out.line_break();
      out << str(user.empty() ? 119 : 117);
      out.line_break();
      for (const auto& n : user) out.write(n).line_break();
      if (system.size() + user.size() > 0) {
        out.line_break();
        out << str(string_id::number_of_datasources) << std::to_wstring(system.size() + user.size());
        out.line_break();
      }
      return result();
    }
    if (kind == L"TABLES") {
      std::wstring catalog, table;
      for (size_t i = 2;; ++i) {
        const std::wstring p = parameter(i);
        if (p.empty()) break;
        if (starts_nocase(p, L"CATALOG=")) catalog = unquoted(p.substr(8));
        else if (starts_nocase(p, L"TABLE=")) table = unquoted(p.substr(6));
      }
      std::vector<odbc::table_info> tables;
      const result r = odbc::connection_info(&handler->connection()).ListTbls(tables, catalog, L"", table, L"");
      if (r.succeeded()) {
        out << wformat(L"%32s%32s%32s%32s", L"Catalog", L"Schema", L"Name", L"Type");
        out.line_break();
        for (const auto& t : tables) {
          out << wformat(L"%32s%32s%32s%32s\r\n", t.catalog.c_str(), t.schema.c_str(), t.name.c_str(), t.type.c_str());
          out.line_break();
        }
      }
      return r;
    }
    if (kind == L"COLUMNS") {
      std::vector<odbc::column_info> columns;
      return odbc::connection_info(&handler->connection()).ListCols(columns, L"", L"", L"", L"");
    }
    return failure(os::err_invalid_parameter, kind.empty() ? str(string_id::parameter_missing) : message(string_id::unknown_parameter, kind.c_str()));
  }
};

class exit_command : public TOdbcHndlrCmd {
 public:
  explicit exit_command(TTermOdbcHndlr* h) : TOdbcHndlrCmd(h, L"EXIT", str(string_id::exit_help)) {}
  result run() override { return failure(os::err_cancelled); }
};

class help_command : public TOdbcHndlrCmd {
 public:
  explicit help_command(TTermOdbcHndlr* h) : TOdbcHndlrCmd(h, L"HELP", str(string_id::help_help)) {}
  result run() override {
    const std::wstring p1 = parameter(1);
    if (p1.empty()) return handler->list_command_names();
    return handler->show_command_help(p1);
  }
};

} // namespace

// ---- tokens --------------------------------------------------------------------------

std::wstring TOdbcHndlrCmd::parameter(size_t i) const {
  const std::wstring& t = line;
  const size_t n = t.size();
  if (n == 0) return {};
  size_t p = 0;
  for (size_t k = 0;; ++k) {
    bool quoted = false;
    size_t e = p;
    for (; e < n && (quoted || t[e] != L' '); ++e)
      if (t[e] == L'"') quoted = !quoted;
    if (k == i) {
      std::wstring token = t.substr(p, e - p);
      return trim(token, L"\"");
    }
    p = e + 1;
    if (p >= n) return {};
    while (p < n && t[p] == L' ') ++p;
    if (p >= n) return {};
  }
}

// ---- the handler ---------------------------------------------------------------------

TTermOdbcHndlr::TTermOdbcHndlr(terminal_options* options) : options_(options) {
  commands_.add(new connect_command(this));
  commands_.add(new disconnect_command(this));
  commands_.add(new list_command(this));
  commands_.add(new exit_command(this));
  commands_.add(new help_command(this));
}

TTermOdbcHndlr::~TTermOdbcHndlr() = default;

void terminal_handler::report_failure(const std::wstring& text) { console().write(text); }

void terminal_handler::statement_break() { console().line_break(); }

void TTermOdbcHndlr::statement_break() {
  if (!options_->csv) console().line_break();
}

void TTermOdbcHndlr::note(const result& r) {
  if (!options_->on_error || stopped_ || r.succeeded() || r.code() == os::err_cancelled) return;
  stopped_ = true;
  // The exit status is the failure's code, and never 0.
  first_failure_ = r.code() ? r : failure(os::err_invalid_function, r.text());
}

void TTermOdbcHndlr::report_info(const std::wstring& text) {
  if (options_->data_only) return;
  if (!options_->csv) {
    console().write(text);
    return;
  }
  console_writer& err = error_console();
  err.write(text);
  if (!text.empty() && text.back() != L'\n') err.write(L'\n');
  err.flush();
}

void TTermOdbcHndlr::report_warning(const std::wstring& text) {
  console().flush();
  error_console().write(text).flush();
}

void TTermOdbcHndlr::report_failure(const std::wstring& text) {
  if (!failures_to_stderr()) {
    console().write(text);
    return;
  }
  if (text.empty()) return;
  console().flush();  // data printed so far comes first
  console_writer& err = error_console();
  err.write(text);
  if (text.back() != L'\n') err.write(L'\n');
  err.flush();
}

result TTermOdbcHndlr::open_terminal() {
  result r;
  if (!options_->driver.empty()) {
    r = connect_by_driver(options_->driver_parameters, options_->driver);
  } else if (options_->connection_string.empty()) {
    return result();
  } else {
    r = connect_by_string(options_->connection_string);
  }
  if (!r.succeeded() && failures_to_stderr()) report_failure(r.text());
  note(r);
  if (stopped_) return result(os::err_cancelled, r.text(), r.severity());
  if (options_->statements.empty()) return r;
  const std::vector<std::wstring> statements = options_->statements;
  run_statements(statements);
  statement_break();
  console().flush();
  options_->statements.clear();
  return result(os::err_cancelled, r.text(), r.severity());
}

result TTermOdbcHndlr::handle_line(const std::wstring& l) {
  for (QueueIter<TOdbcHndlrCmd> it(commands_); !it.done(); it.next()) {
    TOdbcHndlrCmd* cmd = it.current();
    cmd->line = l;
    if (to_upper_copy(cmd->parameter(0)) != cmd->keyword) continue;
    const result r = cmd->run();
    if (!r.succeeded()) report_failure(r.text());
    console().flush();
    note(r);
    return r;
  }
  if (connection_.hdbc()) {
    const result r = run_sql(l);
    note(r);
    return r;
  }
  const std::wstring text = message(string_id::unknown_command, l.c_str());
  report_failure(text);
  console().flush();
  const result r = failure(os::err_invalid_data, text);
  note(r);
  return failure(r.code());
}

void TTermOdbcHndlr::close_terminal() {
  if (connection_.hdbc()) (void)close_connection();  // reports its own failure
  console().flush();
}

void TTermOdbcHndlr::run_statements(const std::vector<std::wstring>& statements) {
  for (const auto& s : statements) {
    if (interrupted() || stopped_) break;  // Ctrl-C or "-oe" ends a batch
    statement_break();
    (void)handle_line(s);  // reports and notes its own failure
  }
}

result TTermOdbcHndlr::connect_by_string(const std::wstring& s) {
  if (connection_.hdbc()) (void)close_connection();  // reports its own failure
  std::wstring completed;
  const result r = connection_.connect(nullptr, s, &completed, odbc::completion::complete_required);
  std::wstring text;
  if (r.succeeded()) {
    options_->driver_parameters = completed;
    text = message(string_id::connected_to, completed.c_str());
  } else {
    // The string as typed may carry a password: it is shown masked.
    text = message(string_id::connection_failed, odbc::mask_password(s).c_str());
    report_failure(text);
    return r;
  }
  report_info(text);
  return r;
}

result TTermOdbcHndlr::connect_by_driver(const std::wstring& parameters, const std::wstring& driver) {
  if (connection_.hdbc()) (void)close_connection();  // reports its own failure
  std::wstring completed;
  const result r = connection_.connect_driver(nullptr, driver, parameters, &completed, odbc::completion::complete_required);
  std::wstring text;
  if (r.succeeded()) {
    options_->driver = driver;
    options_->datasource.clear();
    options_->driver_parameters = completed;
    text = message(string_id::connected_to_driver, options_->driver.c_str(), options_->driver_parameters.c_str());
  } else {
    // An old-syntax argument such as "-cs:...;PWD=..." may have been taken for the driver name.
    text = message(string_id::driver_connection_failed, odbc::mask_password(driver).c_str(), odbc::mask_password(parameters).c_str());
    report_failure(text);
    return r;
  }
  report_info(text);
  return r;
}

result TTermOdbcHndlr::connect_by_datasource(const std::wstring& datasource, const std::wstring& user,
                                             const std::wstring& password) {
  if (connection_.hdbc()) (void)close_connection();  // reports its own failure
  const result r = connection_.ConnDs(datasource, user, password);
  std::wstring text;
  if (r.succeeded()) {
    options_->datasource = datasource;
    options_->driver.clear();
    options_->user = user;
    text = user.empty() ? message(string_id::connected_to_datasource, datasource.c_str()) : message(string_id::connected_to_datasource_user, datasource.c_str(), user.c_str());
  } else {
    report_failure(user.empty() ? message(string_id::datasource_connection_failed, datasource.c_str()) : message(string_id::datasource_user_connection_failed, datasource.c_str(), user.c_str()));
    return r;
  }
  report_info(text);
  return r;
}

result TTermOdbcHndlr::close_connection() {
  if (!connection_.hdbc()) {
    report_failure(str(string_id::not_connected));
    return failure(os::err_invalid_parameter);
  }
  (void)connection_.disconnect();  // fails only when not connected, checked above
  std::wstring text;
  if (!options_->connection_string.empty()) text = message(string_id::disconnected_from, options_->driver_parameters.c_str());
  else if (!options_->driver.empty())
    text = message(string_id::disconnected_from_driver, options_->driver.c_str(), options_->driver_parameters.c_str());
  else text = message(string_id::disconnected_from_datasource, options_->datasource.c_str());
  if (options_->csv) {
    report_info(text);
  } else if (!options_->data_only) {
    console().write(text);
    console().line_break();
  }
  options_->driver.clear();
  options_->datasource.clear();
  return result();
}

result TTermOdbcHndlr::list_command_names() {
  std::wstring names;
  for (QueueIter<TOdbcHndlrCmd> it(commands_); !it.done(); it.next()) {
    if (!names.empty()) names += L", ";
    names += it.current()->keyword;
  }
  console().write(names);
  console().line_break();
  return result();
}

result TTermOdbcHndlr::show_command_help(const std::wstring& keyword) {
  const std::wstring upper = to_upper_copy(keyword);
  for (QueueIter<TOdbcHndlrCmd> it(commands_); !it.done(); it.next()) {
    if (it.current()->keyword == upper) {
      console().write(it.current()->help_text);
      return result();
    }
  }
  report_failure(message(string_id::unknown_command, upper.c_str()));
  return failure(os::err_invalid_parameter);
}

} // namespace vela::terminal
