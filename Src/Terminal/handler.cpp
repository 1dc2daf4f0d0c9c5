#include "Terminal/handler.h"

#include <cwctype>
#include <memory>

#include "Terminal/copy_data.h"
#include "Terminal/prompt.h"
#include "Terminal/strings.h"
#include "vela/odbc/connection_string.h"
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

std::wstring TOdbcHndlrCmd::token(std::wstring_view t, size_t i) {
  const size_t n = t.size();
  if (n == 0) return {};
  size_t p = 0;
  for (size_t k = 0;; ++k) {
    bool quoted = false;
    size_t e = p;
    for (; e < n && (quoted || t[e] != L' '); ++e)
      if (t[e] == L'"') quoted = !quoted;
    if (k == i) {
      std::wstring found(t.substr(p, e - p));
      return trim(found, L"\"");
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

bool terminal_handler::run_item(script_item& item, const std::wstring&) {
  if (item.kind == script_item::kind_type::sql) {
    statement_break();
    (void)handle_line(item.text);  // reports and notes its own failure
  }
  return !stopped();
}

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
  err.write(place_);
  err.write(text);
  if (text.back() != L'\n') err.write(L'\n');
  err.flush();
}

void TTermOdbcHndlr::fail(const std::wstring& text) {
  report_failure(text);
  console().flush();
  note(failure(os::err_invalid_data, text));
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
  if (!options_->copy_from.empty()) {
    if (r.succeeded()) (void)run_copy_job();  // reports and notes its own failure
    else if (load_failure_.succeeded()) load_failure_ = r;  // the load could not start
    console().flush();
    return result(os::err_cancelled, r.text(), r.severity());
  }
  if (options_->scripts.empty()) return r;
  const std::vector<script_source> scripts = std::move(options_->scripts);
  options_->scripts.clear();
  for (const auto& script : scripts)
    if (!(script.file.empty() ? run_script_text(script.text) : run_script_file(script.file, script.code_page))) break;
  statement_break();
  console().flush();
  return result(os::err_cancelled, r.text(), r.severity());
}

result TTermOdbcHndlr::handle_line(const std::wstring& l) {
  // The first word picks the command; a statement is not copied for the comparison.
  const std::wstring word = to_upper_copy(TOdbcHndlrCmd::token(l, 0));
  for (QueueIter<TOdbcHndlrCmd> it(commands_); !it.done(); it.next()) {
    TOdbcHndlrCmd* cmd = it.current();
    if (word != cmd->keyword) continue;
    cmd->line = l;
    const result r = cmd->run();
    if (!r.succeeded()) report_failure(r.text());
    console().flush();
    note(r);
    return r;
  }
  if (l.compare(0, 6, L"\\copy ") == 0) {
    // psql's \copy typed at the prompt.
    const result before = load_failure_;
    load_failure_ = result();
    copy_command_line(l.substr(6), L"", 0);
    const result r = load_failure_;
    load_failure_ = before;  // at the prompt a failure does not decide the exit status
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

bool TTermOdbcHndlr::run_item(script_item& item, const std::wstring& source) {
  if (interrupted() || stopped_) return false;  // Ctrl-C or "-oe" ends a script
  const std::wstring where = source.empty() ? std::wstring(L"-q") : source;
  place_ = failure_place(source, item.line);
  switch (item.kind) {
    case script_item::kind_type::sql:
      statement_break();
      (void)handle_line(item.text);  // reports and notes its own failure
      break;
    case script_item::kind_type::client_command: run_client_command(item, where); break;
    case script_item::kind_type::copy_data: copy_block(item, where); break;
    case script_item::kind_type::delimiter: break;
  }
  place_.clear();
  return !interrupted() && !stopped_;
}

std::wstring TTermOdbcHndlr::failure_place(const std::wstring& source, size_t line) const {
  if (!options_->on_error || source.empty()) return {};
  return source + L":" + std::to_wstring(line) + L": ";
}

namespace {

// An argument of a client command without the quotes around it.
std::wstring command_argument(std::wstring s) {
  if (s.size() >= 2 && (s.front() == L'\'' || s.front() == L'"') && s.back() == s.front()) s = s.substr(1, s.size() - 2);
  return s;
}

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

} // namespace

void TTermOdbcHndlr::run_client_command(const script_item& item, const std::wstring& where) {
  const std::wstring& t = item.text;
  size_t e = 0;
  while (e < t.size() && !std::iswspace(static_cast<wint_t>(t[e]))) ++e;
  const std::wstring name = t.substr(0, e);
  std::wstring rest = t.substr(e);
  trim(rest, L" \t\r\n");
  if (name == L"\\restrict" || name == L"\\unrestrict") return;  // dump keys: nothing to do here
  if (name == L"\\copy") {
    copy_command_line(rest, where, item.line);
    return;
  }
  if (name == L"\\c" || name == L"\\connect") {
    statement_break();
    // The database is the first argument that is not an option; "dbname=NAME" is taken apart.
    std::wstring database;
    for (size_t i = 0; database.empty(); ++i) {
      const std::wstring token = TOdbcHndlrCmd::token(rest, i);
      if (token.empty()) break;
      if (token[0] != L'-') database = command_argument(token);
    }
    if (starts_nocase(database, L"dbname=")) database = command_argument(database.substr(7));
    reconnect_to_database(database);
    return;
  }
  if (name == L"\\i" || name == L"\\include" || name == L"\\ir" || name == L"\\include_relative" ||
      compare_nocase(name, L"source") == 0) {
    std::wstring file = command_argument(rest);
    if ((name == L"\\ir" || name == L"\\include_relative") && !file.empty() && file[0] != L'/' && !open_scripts_.empty()) {
      std::wstring dir;
      if (split_path(open_scripts_.back(), nullptr, &dir, nullptr, nullptr)) file = dir + file;
    }
    include_script(file, where, item.line);
    return;
  }
  statement_break();
  fail(message(string_id::client_command_not_supported, name.c_str(), where.c_str(), static_cast<unsigned>(item.line)));
}

void TTermOdbcHndlr::include_script(const std::wstring& name, const std::wstring& where, size_t line) {
  if (open_scripts_.size() >= max_script_depth) {
    fail(message(string_id::script_nested_too_deep, name.c_str(), where.c_str(), static_cast<unsigned>(line)));
    return;
  }
  for (const auto& open : open_scripts_) {
    if (open == name) {
      fail(message(string_id::script_includes_itself, name.c_str(), where.c_str(), static_cast<unsigned>(line)));
      return;
    }
  }
  const std::wstring place = place_;
  try {
    (void)run_script_file(name, text_file_code_page{auto_code_page, false});
  } catch (const windows_error& e) {
    place_ = place;
    statement_break();
    fail(std::wstring(e.what()) + L" (" + where + L":" + std::to_wstring(line) + L")");
  }
  place_ = place;
}

bool TTermOdbcHndlr::run_script_file(const std::wstring& name, text_file_code_page code_page) {
  struct open_script {
    std::vector<std::wstring>& open;
    ~open_script() { open.pop_back(); }
  } guard{open_scripts_};
  open_scripts_.push_back(name);
  std::unique_ptr<script_cutter> cutter;
  bool go = true;
  const script_cutter::sink run = [&](script_item& item) {
    go = run_item(item, name);
    cutter->set_dialect(dialect_);  // \connect and CONNECT may change it
    return go;
  };
  read_script_pieces(name, code_page, [&](std::wstring_view piece, size_t size_hint) {
    if (!cutter) {
      cutter = std::make_unique<script_cutter>(true, size_hint);
      cutter->set_dialect(dialect_);
      cutter->set_copy_rows(true);
    }
    if (go) go = cutter->add(piece, run);  // after a stop the rest is read, not run
  });
  if (cutter && go) go = cutter->finish(run);
  return go;
}

bool TTermOdbcHndlr::run_script_text(const std::wstring& text) {
  script_cutter cutter(true);
  cutter.set_dialect(dialect_);
  cutter.set_copy_rows(true);
  const script_cutter::sink run = [&](script_item& item) {
    const bool go = run_item(item, L"");
    cutter.set_dialect(dialect_);
    return go;
  };
  return cutter.add(text, run) && cutter.finish(run);
}

void TTermOdbcHndlr::reconnect_to_database(const std::wstring& database) {
  result r;
  if (!options_->connection_string.empty()) {
    options_->connection_string = with_database(options_->connection_string, database);
    r = connect_by_string(options_->connection_string);
  } else if (!options_->driver.empty()) {
    const std::wstring parameters = with_database(options_->driver_parameters, database);
    const std::wstring driver = options_->driver;
    r = connect_by_driver(parameters, driver);
  } else {
    report_failure(str(string_id::not_connected));
    r = failure(os::err_invalid_parameter, str(string_id::not_connected));
  }
  console().flush();
  note(r);
}

void TTermOdbcHndlr::connected() { dialect_ = odbc::ask_script_dialect(connection_.hdbc()); }

result TTermOdbcHndlr::connect_by_string(const std::wstring& s) {
  if (connection_.hdbc()) (void)close_connection();  // reports its own failure
  std::wstring completed;
  const result r = connection_.connect(nullptr, s, &completed, odbc::completion::complete_required);
  std::wstring text;
  if (r.succeeded()) {
    connected();
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
    connected();
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
    connected();
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
  dialect_ = odbc::script_dialect::generic;
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
