#include "Terminal/handler.h"

#include <algorithm>
#include <cwctype>
#include <memory>
#include <optional>

#include "Terminal/input/byte_literals.h"
#include "Terminal/load/copy_data.h"
#include "Terminal/input/prompt.h"
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

// One line of a catalog listing: each field right-aligned in 32 characters, never cut.
std::wstring listing_line(std::initializer_list<std::wstring> fields) {
  std::wstring line;
  for (const auto& f : fields) line += wformat(L"%32s", f.c_str());
  return line;
}

// A header line of a listing, then one line per record (which ends with a carriage return
// and the line break, as the table listing always has).
template <typename Record, typename Fields>
void print_listing(std::initializer_list<std::wstring> header, const std::vector<Record>& records, Fields fields) {
  console_writer& out = console();
  out << listing_line(header);
  out.line_break();
  for (const Record& r : records) {
    out << fields(r) + L"\r\n";
    out.line_break();
  }
}

} // namespace

// ---- the handler ---------------------------------------------------------------------

TTermOdbcHndlr::TTermOdbcHndlr(const terminal_options* options) : ctx_(*options) {}

TTermOdbcHndlr::~TTermOdbcHndlr() = default;

void TTermOdbcHndlr::statement_break() { ctx_.routes.statement_break(); }

void TTermOdbcHndlr::note(const result& r) { ctx_.note(r); }

void TTermOdbcHndlr::report_info(const std::wstring& text) { ctx_.report_info(text); }

void TTermOdbcHndlr::report_warning(const std::wstring& text) { ctx_.report_warning(text); }

void TTermOdbcHndlr::report_failure(const std::wstring& text) { ctx_.report_failure(text); }

result TTermOdbcHndlr::fail(const std::wstring& text) { return ctx_.fail(text); }

void TTermOdbcHndlr::report_connect_reason(const result& r) {
  if (r.succeeded() || r.text().empty()) return;
  if (ctx_.routes.failures_apart()) {
    report_failure(r.text());
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

result TTermOdbcHndlr::open_terminal() {
  result r;
  std::optional<running_call> watched;  // Ctrl-C gives up the connect
  watched.emplace(ctx_.connection);
  if (!ctx_.named.driver.empty()) {
    r = connect_by_driver(ctx_.named.driver_parameters, ctx_.named.driver);
  } else if (ctx_.named.connection_string.empty()) {
    return result();
  } else {
    r = connect_by_string(ctx_.named.connection_string);
  }
  watched.reset();
  report_connect_reason(r);
  note(r);
  if (ctx_.stopped) return result(os::err_cancelled, r.text(), r.severity());
  if (!ctx_.options.copy_from.empty()) {
    if (r.succeeded()) (void)run_copy_job();  // reports and notes its own failure
    else if (ctx_.load_failure.succeeded()) ctx_.load_failure = r;  // the load could not start
    console().flush();
    return result(os::err_cancelled, r.text(), r.severity());
  }
  if (ctx_.options.scripts.empty()) return r;
  for (const auto& script : ctx_.options.scripts)
    if (!(script.file.empty() ? run_script_text(script.text) : run_script_file(script.file, script.code_page))) break;
  statement_break();
  console().flush();
  return result(os::err_cancelled, r.text(), r.severity());
}

result TTermOdbcHndlr::handle_line(const std::wstring& l) {
  if (std::optional<result> r = run_command_line(ctx_, *this, l)) return *r;
  if (ctx_.connection.hdbc()) {
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
  if (ctx_.connection.hdbc()) (void)close_connection();  // reports its own failure
  console().flush();
}

bool TTermOdbcHndlr::run_item(script_item& item, const std::wstring& source) {
  if (interrupted() || stopped()) return false;  // Ctrl-C, "-oe" or EXIT ends a script
  const std::wstring where = source.empty() ? std::wstring(L"-q") : source;
  ctx_.place = failure_place(source, item.line);
  switch (item.kind) {
    case script_item::kind_type::sql: run_statement_item(item, where); break;
    case script_item::kind_type::client_command: (void)run_client_command(ctx_, *this, item, where); break;  // reports its own
    case script_item::kind_type::copy_data: copy_block(item, where); break;
    case script_item::kind_type::delimiter: break;
  }
  ctx_.place.clear();
  return !interrupted() && !stopped();
}

// Bytes of the script that are not text reach the database as written, or the statement is
// not sent.
void TTermOdbcHndlr::run_statement_item(const script_item& item, const std::wstring& where) {
  statement_break();
  const byte_literal_rewrite w =
      ctx_.connection.hdbc() ? rewrite_byte_literals(item.text, ctx_.dialect, ctx_.byte_literals, ctx_.script_code_page) : byte_literal_rewrite{};
  if (w.refused) {
    const auto line = item.line + static_cast<size_t>(std::count(item.text.begin(), item.text.begin() + static_cast<std::ptrdiff_t>(w.at), L'\n'));
    const std::wstring text = message(string_id::bytes_not_sendable, where.c_str(), static_cast<unsigned>(line));
    console().flush();  // on standard error, with or without "-oe": never in silence
    error_console().write(ctx_.place + text).flush();
    note(failure(os::err_invalid_data, text));
  } else if (!w.text.empty()) {
    note(run_sql(item.text, &w.text));
  } else {
    (void)handle_line(item.text);  // reports and notes its own failure
  }
}

std::wstring TTermOdbcHndlr::failure_place(const std::wstring& source, size_t line) const {
  if (!ctx_.options.on_error || source.empty()) return {};
  return source + L":" + std::to_wstring(line) + L": ";
}

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

} // namespace

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
    cutter->set_dialect(ctx_.dialect);  // \connect and CONNECT may change it
    return go;
  };
  struct code_page_kept {
    int32_t& now;
    int32_t before;
    ~code_page_kept() { now = before; }
  } kept{ctx_.script_code_page, ctx_.script_code_page};
  read_script_keeping_bytes(name, code_page, [&](std::wstring_view piece, size_t size_hint, int32_t decoded_from) {
    ctx_.script_code_page = decoded_from;
    if (!cutter) {
      cutter = std::make_unique<script_cutter>(true, size_hint);
      cutter->set_dialect(ctx_.dialect);
      cutter->set_copy_rows(true);
    }
    if (go) go = cutter->add(piece, run);  // after a stop the rest is read, not run
  });
  if (cutter && go) go = cutter->finish(run);
  return go;
}

bool TTermOdbcHndlr::run_script_text(const std::wstring& text) {
  script_cutter cutter(true);
  cutter.set_dialect(ctx_.dialect);
  cutter.set_copy_rows(true);
  const script_cutter::sink run = [&](script_item& item) {
    const bool go = run_item(item, L"");
    cutter.set_dialect(ctx_.dialect);
    return go;
  };
  return cutter.add(text, run) && cutter.finish(run);
}

result TTermOdbcHndlr::reconnect_to_database(const std::wstring& database) {
  result r;
  if (!ctx_.named.connection_string.empty()) {
    ctx_.named.connection_string = with_database(ctx_.named.connection_string, database);
    r = connect_by_string(ctx_.named.connection_string);
  } else if (!ctx_.named.driver.empty()) {
    const std::wstring parameters = with_database(ctx_.named.driver_parameters, database);
    const std::wstring driver = ctx_.named.driver;
    r = connect_by_driver(parameters, driver);
  } else {
    report_failure(str(string_id::not_connected));
    r = failure(os::err_invalid_parameter, str(string_id::not_connected));
  }
  if (!ctx_.named.connection_string.empty() || !ctx_.named.driver.empty()) report_connect_reason(r);
  console().flush();
  note(r);
  return r;
}

void TTermOdbcHndlr::connected() {
  const std::wstring dbms = odbc::ask_dbms_name(ctx_.connection.hdbc());
  ctx_.dialect = odbc::dialect_of_dbms(dbms);
  ctx_.byte_literals = odbc::byte_literals_of_dbms(dbms);
  ctx_.transaction.savepoint_begins = dbms == L"SQLite";
  ctx_.transaction.open = false;
  ctx_.transaction.opening_savepoint.clear();
}

result TTermOdbcHndlr::connect_by_string(const std::wstring& s) {
  if (ctx_.connection.hdbc()) (void)close_connection();  // reports its own failure
  std::wstring completed;
  const result r = ctx_.connection.connect(nullptr, s, &completed, odbc::completion::complete_required);
  std::wstring text;
  if (r.succeeded()) {
    connected();
    ctx_.named.driver_parameters = completed;
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
  if (ctx_.connection.hdbc()) (void)close_connection();  // reports its own failure
  std::wstring completed;
  const result r = ctx_.connection.connect_driver(nullptr, driver, parameters, &completed, odbc::completion::complete_required);
  std::wstring text;
  if (r.succeeded()) {
    connected();
    ctx_.named.driver = driver;
    ctx_.named.datasource.clear();
    ctx_.named.driver_parameters = completed;
    text = message(string_id::connected_to_driver, ctx_.named.driver.c_str(), ctx_.named.driver_parameters.c_str());
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
  if (ctx_.connection.hdbc()) (void)close_connection();  // reports its own failure
  const result r = ctx_.connection.ConnDs(datasource, user, password);
  std::wstring text;
  if (r.succeeded()) {
    connected();
    ctx_.named.datasource = datasource;
    ctx_.named.driver.clear();
    ctx_.named.user = user;
    text = user.empty() ? message(string_id::connected_to_datasource, datasource.c_str()) : message(string_id::connected_to_datasource_user, datasource.c_str(), user.c_str());
  } else {
    report_failure(user.empty() ? message(string_id::datasource_connection_failed, datasource.c_str()) : message(string_id::datasource_user_connection_failed, datasource.c_str(), user.c_str()));
    return r;
  }
  report_info(text);
  return r;
}

result TTermOdbcHndlr::close_connection() {
  if (!ctx_.connection.hdbc()) {
    report_failure(str(string_id::not_connected));
    return failure(os::err_invalid_parameter);
  }
  roll_back_open_transaction();
  (void)ctx_.connection.disconnect();  // fails only when not connected, checked above
  ctx_.dialect = odbc::script_dialect::generic;
  ctx_.byte_literals = odbc::byte_literal_form::none;
  std::wstring text;
  if (!ctx_.named.connection_string.empty()) text = message(string_id::disconnected_from, ctx_.named.driver_parameters.c_str());
  else if (!ctx_.named.driver.empty())
    text = message(string_id::disconnected_from_driver, ctx_.named.driver.c_str(), ctx_.named.driver_parameters.c_str());
  else text = message(string_id::disconnected_from_datasource, ctx_.named.datasource.c_str());
  ctx_.routes.info_line(text);
  ctx_.named.driver.clear();
  ctx_.named.datasource.clear();
  return result();
}

result TTermOdbcHndlr::list_tables(const std::wstring& catalog, const std::wstring& table) {
  std::vector<odbc::table_info> tables;
  const result r = odbc::connection_info(&ctx_.connection).ListTbls(tables, catalog, L"", table, L"");
  if (r.succeeded())
    print_listing({L"Catalog", L"Schema", L"Name", L"Type"}, tables,
                  [](const odbc::table_info& t) { return listing_line({t.catalog, t.schema, t.name, t.type}); });
  return r;
}

result TTermOdbcHndlr::list_columns(const std::wstring& catalog, const std::wstring& table) {
  std::vector<odbc::column_info> columns;
  const result r = odbc::connection_info(&ctx_.connection).ListCols(columns, catalog, L"", table, L"");
  if (r.succeeded())
    print_listing({L"Table", L"Name", L"Type", L"Size", L"Nullable"}, columns, [](const odbc::column_info& c) {
      return listing_line({c.table, c.column, c.type, std::to_wstring(c.size), c.nullable});
    });
  return r;
}

namespace {

// A part of a qualified name; one in double quotes (or MySQL's backquotes) keeps its
// spelling (a doubled quote inside stands for one).
struct name_part {
  std::wstring text;
  bool quoted = false;
};

std::vector<name_part> name_parts(const std::wstring& name) {
  std::vector<name_part> parts(1);
  wchar_t quote = 0;  // the quote open
  for (size_t i = 0; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (quote && c == quote && i + 1 < name.size() && name[i + 1] == quote) {
      parts.back().text += c;
      ++i;
    } else if (quote ? c == quote : c == L'"' || c == L'`') {
      quote = quote ? 0 : c;
      parts.back().quoted = true;
    } else if (c == L'.' && !quote) {
      parts.emplace_back();
    } else {
      parts.back().text += c;
    }
  }
  return parts;
}

std::wstring folded(const name_part& p, int fold) {
  if (p.quoted || fold == 0) return p.text;
  std::wstring s = p.text;
  for (auto& c : s) c = static_cast<wchar_t>(fold < 0 ? std::towlower(static_cast<wint_t>(c)) : std::towupper(static_cast<wint_t>(c)));
  return s;
}

} // namespace

result TTermOdbcHndlr::describe_table(const std::wstring& name) {
  // [catalog.][schema.]table; MySQL's database.table is its catalog.
  std::vector<name_part> parts = name_parts(name);
  if (parts.size() == 2 && ctx_.dialect == odbc::script_dialect::mysql) parts.insert(parts.begin() + 1, name_part{});
  while (parts.size() < 3) parts.insert(parts.begin(), name_part{});
  // A name not in quotes is tried as typed, then in lower and in upper case, as servers fold it.
  std::vector<odbc::column_info> columns;
  std::vector<std::wstring> tried;
  for (int fold : {0, -1, 1}) {
    if (parts.size() != 3 || parts[2].text.empty()) break;
    const std::wstring catalog = folded(parts[0], fold), schema = folded(parts[1], fold), table = folded(parts[2], fold);
    const std::wstring key = catalog + L'\n' + schema + L'\n' + table;
    if (std::find(tried.begin(), tried.end(), key) != tried.end()) continue;
    tried.push_back(key);
    const result r = odbc::connection_info(&ctx_.connection).ListCols(columns, catalog, schema, table, L"");
    if (!r.succeeded()) return fail(r.text());
    // The names are patterns ("_" is any character): only the table itself counts, spelt
    // exactly, else in any case where the driver matched so; of tables of that name in
    // several schemas, the first listed.
    const auto named = [&](const odbc::column_info& c, bool exact) {
      const auto same = [exact](const std::wstring& a, const std::wstring& b) {
        return exact ? a == b : compare_nocase(a, b) == 0;
      };
      return same(c.table, table) && (schema.empty() || same(c.schema, schema)) &&
             (catalog.empty() || same(c.catalog, catalog));
    };
    const bool exact = std::any_of(columns.begin(), columns.end(), [&](const odbc::column_info& c) { return named(c, true); });
    std::erase_if(columns, [&](const odbc::column_info& c) { return !named(c, exact); });
    if (columns.empty()) continue;
    const std::wstring first_catalog = columns.front().catalog, first_schema = columns.front().schema;
    std::erase_if(columns, [&](const odbc::column_info& c) { return c.catalog != first_catalog || c.schema != first_schema; });
    break;
  }
  if (columns.empty()) return fail(message(string_id::table_not_found, name.c_str()));
  print_listing({L"Name", L"Type", L"Size", L"Nullable"}, columns, [](const odbc::column_info& c) {
    return listing_line({c.column, c.type, std::to_wstring(c.size), c.nullable});
  });
  console().flush();
  return result();
}

} // namespace vela::terminal
