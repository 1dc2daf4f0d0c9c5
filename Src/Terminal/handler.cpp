#include "Terminal/handler.h"

#include <algorithm>
#include <cwctype>
#include <memory>
#include <optional>

#include "Terminal/commands/catalog.h"
#include "Terminal/input/byte_literals.h"
#include "Terminal/input/prompt.h"
#include "Terminal/session/connect.h"
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
  using TOdbcHndlrCmd::TOdbcHndlrCmd;
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
  using TOdbcHndlrCmd::TOdbcHndlrCmd;
  result run() override { return handler->close_connection(); }
};

class list_command : public TOdbcHndlrCmd {
 public:
  using TOdbcHndlrCmd::TOdbcHndlrCmd;
  // CATALOG= and TABLE= after the listing's kind; with bare_table, the table may also stand
  // as a word of its own (LIST COLUMNS people).
  void catalog_and_table(bool bare_table, std::wstring& catalog, std::wstring& table) const {
    for (size_t i = 2;; ++i) {
      const std::wstring p = parameter(i);
      if (p.empty()) break;
      if (starts_nocase(p, L"CATALOG=")) catalog = unquoted(p.substr(8));
      else if (starts_nocase(p, L"TABLE=")) table = unquoted(p.substr(6));
      else if (bare_table && table.empty()) table = p;
    }
  }
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
      catalog_and_table(false, catalog, table);
      return handler->list_tables(catalog, table);
    }
    if (kind == L"COLUMNS") {
      std::wstring catalog, table;
      catalog_and_table(true, catalog, table);
      return handler->list_columns(catalog, table);
    }
    return failure(os::err_invalid_parameter, kind.empty() ? str(string_id::parameter_missing) : message(string_id::unknown_parameter, kind.c_str()));
  }
};

class exit_command : public TOdbcHndlrCmd {
 public:
  using TOdbcHndlrCmd::TOdbcHndlrCmd;
  result run() override {
    handler->end_session();
    return failure(os::err_cancelled);
  }
};

class help_command : public TOdbcHndlrCmd {
 public:
  using TOdbcHndlrCmd::TOdbcHndlrCmd;
  result run() override {
    const std::wstring p1 = parameter(1);
    if (p1.empty()) return handler->list_command_names();
    return handler->show_command_help(p1);
  }
};

template <typename Command>
TOdbcHndlrCmd* make(TTermOdbcHndlr* h, const command_entry& entry) {
  return new Command(h, entry.keyword, entry.help_id ? str(entry.help_id) : std::wstring(entry.keyword));
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

completion_words list_words(size_t index, const std::wstring&) {
  if (index == 0) return {{L"DRIVERS", L"DATASOURCES", L"TABLES", L"COLUMNS"}, true};
  return {};
}

completion_words help_words(size_t index, const std::wstring&) {
  completion_words w{{}, true};
  if (index == 0)
    for (const command_entry& c : command_table()) w.words.emplace_back(c.keyword);
  return w;
}

} // namespace

const std::vector<command_entry>& command_table() {
  static const std::vector<command_entry> table = {
      {L"CONNECT", string_id::connect_help, connect_words, make<connect_command>},
      {L"DISCONNECT", 0, nullptr, make<disconnect_command>},
      {L"LIST", string_id::list_help, list_words, make<list_command>},
      {L"EXIT", string_id::exit_help, nullptr, make<exit_command>},
      {L"HELP", string_id::help_help, help_words, make<help_command>},
  };
  return table;
}

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

TTermOdbcHndlr::TTermOdbcHndlr(const terminal_options* options)
    : ctx_(*options), output_(ctx_) {
  for (const command_entry& c : command_table()) commands_.add(c.make(this, c));
}

TTermOdbcHndlr::~TTermOdbcHndlr() = default;

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
  if (ctx_.options.scripts.empty()) return r;
  for (const auto& script : ctx_.options.scripts)
    if (!(script.file.empty() ? run_script_text(script.text) : run_script_file(script.file, script.code_page))) break;
  statement_break();
  console().flush();
  return result(os::err_cancelled, r.text(), r.severity());
}

namespace {

// A ";" after a command is not part of it ("exit;", "\q;").
std::wstring_view without_final_semicolons(std::wstring_view line) {
  while (!line.empty() && (line.back() == L';' || std::iswspace(static_cast<wint_t>(line.back())))) line.remove_suffix(1);
  return line;
}

} // namespace

TOdbcHndlrCmd* TTermOdbcHndlr::find_command(const std::wstring& l) {
  // The first word picks the command; a statement is not copied for the comparison.
  std::wstring word = to_upper_copy(TOdbcHndlrCmd::token(without_final_semicolons(l), 0));
  if (word == L"QUIT") word = L"EXIT";
  for (QueueIter<TOdbcHndlrCmd> it(commands_); !it.done(); it.next())
    if (word == it.current()->keyword) return it.current();
  return nullptr;
}

result TTermOdbcHndlr::handle_line(const std::wstring& l) {
  const std::wstring_view bare = without_final_semicolons(l);
  if (!bare.empty() && (bare[0] == L'\\' || (ctx_.dialect == odbc::script_dialect::mysql &&
                                             to_upper_copy(TOdbcHndlrCmd::token(bare, 0)) == L"SOURCE"))) {
    script_item item;
    item.kind = script_item::kind_type::client_command;
    item.text = bare;
    running_call watched(ctx_.connection);  // Ctrl-C cancels a listing
    return run_client_command(item, L"");
  }
  if (TOdbcHndlrCmd* cmd = find_command(l)) {
    // A connection string or a password may end with ";": CONNECT takes its line whole.
    cmd->line = cmd->keyword == L"CONNECT" ? l : std::wstring(bare);
    running_call watched(ctx_.connection);  // Ctrl-C gives up a connect, cancels a listing
    const result r = cmd->run();
    if (!r.succeeded()) report_failure(r.text());
    console().flush();
    note(r);
    return r;
  }
  if (l.compare(0, 6, L"\\copy ") == 0) {
    // psql's \copy typed at the prompt.
    const result before = ctx_.load_failure;
    ctx_.load_failure = result();
    copy_command_line(l.substr(6), L"", 0);
    const result r = ctx_.load_failure;
    ctx_.load_failure = before;  // at the prompt a failure does not decide the exit status
    return r;
  }
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
    case script_item::kind_type::client_command: (void)run_client_command(item, where); break;  // reports its own
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
  if (!ctx_.options.on_error || source.empty()) return {};
  return source + L":" + std::to_wstring(line) + L": ";
}

namespace {

// An argument of a client command without the quotes around it.
std::wstring command_argument(std::wstring s) {
  if (s.size() >= 2 && (s.front() == L'\'' || s.front() == L'"') && s.back() == s.front()) s = s.substr(1, s.size() - 2);
  return s;
}

} // namespace

result TTermOdbcHndlr::run_client_command(const script_item& item, const std::wstring& where) {
  const bool at_prompt = where.empty();
  // In a script, a blank line goes before what a command prints, as before a statement's.
  const auto output_follows = [this, at_prompt] {
    if (!at_prompt) statement_break();
  };
  const std::wstring& t = item.text;
  size_t e = 0;
  while (e < t.size() && !std::iswspace(static_cast<wint_t>(t[e]))) ++e;
  const std::wstring name = t.substr(0, e);
  std::wstring rest = t.substr(e);
  trim(rest, L" \t\r\n");
  if (name == L"\\restrict" || name == L"\\unrestrict") return result();  // dump keys: nothing to do here
  if (name == L"\\copy") {
    if (!where.empty()) {
      copy_command_line(rest, where, item.line);
      return result();  // reports and notes its own failures
    }
    // Typed at the prompt: a failure does not decide the exit status.
    const result before = ctx_.load_failure;
    ctx_.load_failure = result();
    copy_command_line(rest, where, item.line);
    const result r = ctx_.load_failure;
    ctx_.load_failure = before;
    return r;
  }
  if (name == L"\\timing") return result();  // execution times are always shown
  if (name == L"\\q" || name == L"\\quit") {
    end_session();
    return failure(os::err_cancelled);
  }
  if (name == L"\\?") {
    output_follows();
    console().write(str(string_id::client_commands_help));
    console().flush();
    return result();
  }
  if (name == L"\\d" || name == L"\\d+" || name == L"\\dt" || name == L"\\dt+") {
    output_follows();
    if (!ctx_.connection.hdbc()) return fail(str(string_id::not_connected));
    if ((name == L"\\d" || name == L"\\d+") && !rest.empty()) return describe_table(rest);
    const result r = list_tables(L"", unquoted(rest));
    console().flush();
    return r.succeeded() ? r : fail(r.text());
  }
  if (name == L"\\c" || name == L"\\connect") {
    output_follows();
    // The database is the first argument that is not an option; "dbname=NAME" is taken apart.
    std::wstring database;
    for (size_t i = 0; database.empty(); ++i) {
      const std::wstring token = TOdbcHndlrCmd::token(rest, i);
      if (token.empty()) break;
      if (token[0] != L'-') database = command_argument(token);
    }
    if (starts_nocase(database, L"dbname=")) database = command_argument(database.substr(7));
    return reconnect_to_database(database);
  }
  if (name == L"\\i" || name == L"\\include" || name == L"\\ir" || name == L"\\include_relative" ||
      compare_nocase(name, L"source") == 0) {
    std::wstring file = command_argument(rest);
    if ((name == L"\\ir" || name == L"\\include_relative") && !file.empty() && file[0] != L'/' && !open_scripts_.empty()) {
      std::wstring dir;
      if (split_path(open_scripts_.back(), nullptr, &dir, nullptr, nullptr)) file = dir + file;
    }
    include_script(file, where, item.line);
    return result();
  }
  if (at_prompt) return fail(message(string_id::unknown_command, t.c_str()));
  statement_break();
  return fail(message(string_id::client_command_not_supported, name.c_str(), where.c_str(), static_cast<unsigned>(item.line)));
}

void TTermOdbcHndlr::include_script(const std::wstring& name, const std::wstring& where, size_t line) {
  if (open_scripts_.size() >= max_script_depth) {
    (void)fail(message(string_id::script_nested_too_deep, name.c_str(), where.c_str(), static_cast<unsigned>(line)));
    return;
  }
  for (const auto& open : open_scripts_) {
    if (open == name) {
      (void)fail(message(string_id::script_includes_itself, name.c_str(), where.c_str(), static_cast<unsigned>(line)));
      return;
    }
  }
  const std::wstring place = ctx_.place;
  try {
    (void)run_script_file(name, text_file_code_page{auto_code_page, false});
  } catch (const windows_error& e) {
    ctx_.place = place;
    if (where.empty()) {  // typed at the prompt
      (void)fail(std::wstring(e.what()) + L"\n");
    } else {
      statement_break();
      (void)fail(std::wstring(e.what()) + L" (" + where + L":" + std::to_wstring(line) + L")");
    }
  }
  ctx_.place = place;
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
  std::wstring upper = to_upper_copy(keyword);
  if (upper == L"QUIT") upper = L"EXIT";
  for (QueueIter<TOdbcHndlrCmd> it(commands_); !it.done(); it.next()) {
    if (it.current()->keyword == upper) {
      console().write(it.current()->help_text);
      return result();
    }
  }
  report_failure(message(string_id::unknown_command, upper.c_str()));
  return failure(os::err_invalid_parameter);
}

result TTermOdbcHndlr::list_tables(const std::wstring& catalog, const std::wstring& table) {
  return terminal::list_tables(ctx_, catalog, table);
}

result TTermOdbcHndlr::list_columns(const std::wstring& catalog, const std::wstring& table) {
  return terminal::list_columns(ctx_, catalog, table);
}

result TTermOdbcHndlr::describe_table(const std::wstring& name) { return terminal::describe_table(ctx_, name); }

} // namespace vela::terminal
