#include "Terminal/handler.h"

#include <algorithm>
#include <cwctype>
#include <memory>
#include <optional>

#include "Terminal/commands/catalog.h"
#include "Terminal/input/byte_literals.h"
#include "Terminal/input/prompt.h"
#include "Terminal/session/connect.h"
#include "Terminal/session/startup_file.h"
#include "Terminal/strings.h"
#include "vela/odbc/connection_string.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/odbc/connection_info.h"
#include "vela/wstr.h"
#include "vela/os_error.h"
#include "vela/system.h"

namespace vela::terminal {

// ---- the handler ---------------------------------------------------------------------

TTermOdbcHndlr::TTermOdbcHndlr(terminal_options* options) : ctx_(*options), output_(ctx_) {}

TTermOdbcHndlr::~TTermOdbcHndlr() = default;

std::unique_ptr<completion> TTermOdbcHndlr::make_completion() {
  return std::make_unique<completion>(ctx_.connection, completion::vocabulary{command_words, words_after});
}

void TTermOdbcHndlr::statement_break() { ctx_.routes.statement_break(); }

void TTermOdbcHndlr::note(const result& r) { ctx_.note(r); }

void TTermOdbcHndlr::report_info(const std::wstring& text) { ctx_.report_info(text); }

void TTermOdbcHndlr::report_warning(const std::wstring& text) { ctx_.report_warning(text); }

void TTermOdbcHndlr::report_failure(const std::wstring& text) { ctx_.report_failure(text); }

result TTermOdbcHndlr::fail(const std::wstring& text) { return ctx_.fail(text); }

void TTermOdbcHndlr::report_connect_reason(const result& r) { terminal::report_connect_reason(ctx_, r); }

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
  // The start-up file, once connected and before any script or prompt.
  run_startup_file(ctx_, startup_file_of(ctx_.options, sys::stdin_is_terminal()), [this](const std::wstring& file) {
    return run_script_file(file, text_file_code_page{auto_code_page, false});
  });
  if (stopped()) return result(os::err_cancelled, r.text(), r.severity());  // an EXIT in it
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

void TTermOdbcHndlr::copy_block(const script_item& item, const std::wstring& where) {
  using step = script_item::copy_step;
  if (item.step == step::begin) loads_.copy_begin(item.text, where, item.line);
  else if (item.step == step::row) loads_.copy_row(item.text, item.line);
  else loads_.copy_end();
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
  if ((!ctx_.options.on_error && !ctx_.routes.in_startup()) || source.empty()) return {};
  return source + L":" + std::to_wstring(line) + L": ";
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
  return terminal::reconnect_to_database(ctx_, database);
}

result TTermOdbcHndlr::connect_by_string(const std::wstring& s) { return terminal::connect_by_string(ctx_, s); }

result TTermOdbcHndlr::connect_by_driver(const std::wstring& parameters, const std::wstring& driver) {
  return terminal::connect_by_driver(ctx_, parameters, driver);
}

result TTermOdbcHndlr::connect_by_datasource(const std::wstring& datasource, const std::wstring& user,
                                             const std::wstring& password) {
  return terminal::connect_by_datasource(ctx_, datasource, user, password);
}

result TTermOdbcHndlr::close_connection() { return terminal::close_connection(ctx_); }

result TTermOdbcHndlr::list_tables(const std::wstring& catalog, const std::wstring& table) {
  return terminal::list_tables(ctx_, catalog, table);
}

result TTermOdbcHndlr::list_columns(const std::wstring& catalog, const std::wstring& table) {
  return terminal::list_columns(ctx_, catalog, table);
}

} // namespace vela::terminal
