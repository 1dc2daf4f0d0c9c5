#include "Terminal/handler.h"

#include <algorithm>
#include <cwctype>
#include <memory>
#include <optional>

#include "Terminal/commands/catalog.h"
#include "Terminal/input/byte_literals.h"
#include "Terminal/input/interpolation.h"
#include "Terminal/input/prompt.h"
#include "Terminal/load/database_copy.h"
#include "Terminal/session/connect.h"
#include "Terminal/session/settings.h"
#include "Terminal/session/startup_file.h"
#include "Terminal/strings.h"
#include "vela/odbc/connection_string.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/odbc/connection_info.h"
#include "vela/odbc/environment.h"
#include "vela/wstr.h"
#include "vela/os_error.h"
#include "vela/system.h"

namespace vela::terminal {

// ---- the handler ---------------------------------------------------------------------

TTermOdbcHndlr::TTermOdbcHndlr(terminal_options* options) : ctx_(*options), output_(ctx_) {
  for (const auto& [name, value] : options->variables) ctx_.variables.set(name, value);
}

TTermOdbcHndlr::~TTermOdbcHndlr() = default;

std::unique_ptr<completion> TTermOdbcHndlr::make_completion() {
  const auto settings = [this] {
    std::vector<std::wstring> names;
    for (const auto& [name, value] : setting_values(ctx_)) names.push_back(name);
    for (const auto& [name, value] : ctx_.variables.all()) names.push_back(name);
    return names;
  };
  return std::make_unique<completion>(ctx_.connection, completion::vocabulary{command_words, words_after, find_columns, settings});
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
    // Each reports and notes its own failure.
    if (r.succeeded()) (void)(ctx_.options.copies_tables() ? copy_tables(ctx_) : run_copy_job());
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
  const bool client = is_client_command(l, ctx_.dialect);
  if (skipped(l, client)) return result();
  if (ctx_.variables.all().empty()) return handle_text(l);  // not copied
  std::wstring line = l;
  put_variables(line, client);
  return handle_text(line);
}

namespace {

// The length of a client command's word.
size_t command_word_length(const std::wstring& text) { return std::min(text.find_first_of(L" \t\r\n"), text.size()); }

} // namespace

bool TTermOdbcHndlr::skipped(const std::wstring& text, bool client) const {
  if (ctx_.conditions.active()) return false;
  const command_entry* const c = client ? client_command(std::wstring_view(text).substr(0, command_word_length(text))) : nullptr;
  return !(c && c->conditional);
}

void TTermOdbcHndlr::put_variables(std::wstring& text, bool client) {
  if (ctx_.variables.all().empty()) return;
  if (!client) {
    if (!keyword_command(text)) (void)interpolate(text, ctx_.variables, ctx_.connection.profile(), ctx_.dialect);
    return;
  }
  // \copy takes its line as it is, a query in it too.
  const size_t word = command_word_length(text);
  std::wstring rest = text.substr(word);
  if (text.compare(0, word, L"\\copy") != 0 && interpolate(rest, ctx_.variables, ctx_.connection.profile(), ctx_.dialect))
    text.replace(word, std::wstring::npos, rest);
}

result TTermOdbcHndlr::handle_text(const std::wstring& l) {
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

namespace {

// A script ended (where: its name, "-q" for a text; empty for the prompt and standard
// input): the blocks it left open are failures, unless the run stopped inside it. Blocks
// typed at the prompt are not.
void close_script_blocks(terminal_context& ctx, size_t outer, const std::wstring& where) {
  const std::vector<conditional_stack::block> left = ctx.conditions.end_script(outer);
  if (ctx.stopped || ctx.ended) return;
  for (const conditional_stack::block& b : left)
    if (!b.source.empty() || !where.empty())
      (void)ctx.fail(message(string_id::if_not_closed, (b.source.empty() ? where : b.source).c_str(), static_cast<unsigned>(b.line)));
}

} // namespace

void TTermOdbcHndlr::close_terminal() {
  close_script_blocks(ctx_, 0, L"");  // standard input's
  (void)close_output(ctx_);  // \o's file or command: reports its own failure
  if (ctx_.connection.hdbc()) (void)close_connection();  // reports its own failure
  console().flush();
}

bool TTermOdbcHndlr::run_item(script_item& item, const std::wstring& source) {
  if (interrupted() || stopped()) return false;  // Ctrl-C, "-oe" or EXIT ends a script
  static const std::wstring command_line_text = L"-q";
  const std::wstring& where = source.empty() ? command_line_text : source;
  using kind = script_item::kind_type;
  const bool client = item.kind == kind::client_command;
  if (item.kind == kind::sql || client) {
    if (skipped(item.text, client)) return true;
    put_variables(item.text, client);
  } else if (item.kind == kind::copy_data && !ctx_.conditions.active()) {
    return true;  // a branch of \if that does not run
  }
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
    (void)handle_text(item.text);  // reports and notes its own failure
  }
}

std::wstring TTermOdbcHndlr::failure_place(const std::wstring& source, size_t line) const {
  if ((!ctx_.options.on_error && !ctx_.routes.in_startup()) || source.empty()) return {};
  return source + L":" + std::to_wstring(line) + L": ";
}

namespace {

// Counts the scripts that run while it lives.
struct script_running {
  size_t& count;
  explicit script_running(size_t& c) : count(c) { ++count; }
  ~script_running() { --count; }
  script_running(const script_running&) = delete;
  script_running& operator=(const script_running&) = delete;
};

} // namespace

result TTermOdbcHndlr::run_sql(const std::wstring& statement, const std::wstring* sent) {
  const result r = output_.run_sql(statement, sent);
  if (!r.succeeded() && odbc::connection_lost(r) && reconnect_after_loss(ctx_, scripts_running_ > 0)) return result();
  return r;
}

bool TTermOdbcHndlr::run_script_file(const std::wstring& name, text_file_code_page code_page) {
  struct open_script {
    std::vector<std::wstring>& open;
    ~open_script() { open.pop_back(); }
  } guard{open_scripts_};
  const script_running running(scripts_running_);
  open_scripts_.push_back(name);
  const size_t outer_blocks = ctx_.conditions.begin_script();
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
  close_script_blocks(ctx_, outer_blocks, name);
  return go && !stopped();
}

bool TTermOdbcHndlr::run_script_text(const std::wstring& text) {
  const script_running running(scripts_running_);
  script_cutter cutter(true);
  cutter.set_dialect(ctx_.dialect);
  cutter.set_copy_rows(true);
  const script_cutter::sink run = [&](script_item& item) {
    const bool go = run_item(item, L"");
    cutter.set_dialect(ctx_.dialect);
    return go;
  };
  const size_t outer_blocks = ctx_.conditions.begin_script();
  const bool go = cutter.add(text, run) && cutter.finish(run);
  close_script_blocks(ctx_, outer_blocks, L"-q");
  return go && !stopped();
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
