// Listing commands: LIST and the \d family.
#include "Terminal/commands/catalog.h"
#include "Terminal/commands/command_table.h"
#include "Terminal/commands/commands.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/odbc/connection_info.h"
#include "vela/os_error.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

// CATALOG= and TABLE= after the listing's kind; with bare_table, the table may also stand
// as a word of its own (LIST COLUMNS people).
void catalog_and_table(const TOdbcHndlrCmd& cmd, bool bare_table, std::wstring& catalog, std::wstring& table) {
  for (size_t i = 2;; ++i) {
    const std::wstring p = cmd.parameter(i);
    if (p.empty()) break;
    if (starts_nocase(p, L"CATALOG=")) catalog = unquoted(p.substr(8));
    else if (starts_nocase(p, L"TABLE=")) table = unquoted(p.substr(6));
    else if (bare_table && table.empty()) table = p;
  }
}

void list_drivers() {
  console_writer& out = console();
  std::vector<std::wstring> names;
  odbc::list_installed_drivers(names);
  out << str(string_id::driver_list);
  out.line_break().line_break();
  for (const auto& n : names) out.write(n).line_break();
  out.line_break();
  out << str(string_id::number_of_drivers) << std::to_wstring(names.size());
  out.line_break();
}

void list_datasources() {
  console_writer& out = console();
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
}

} // namespace

result run_list(terminal_context&, command_host& host, const TOdbcHndlrCmd& cmd) {
  const std::wstring kind = to_upper_copy(cmd.parameter(1));
  if (kind == L"DRIVERS") {
    list_drivers();
    return result();
  }
  if (kind == L"DATASOURCES") {
    list_datasources();
    return result();
  }
  std::wstring catalog, table;
  if (kind == L"TABLES") {
    catalog_and_table(cmd, false, catalog, table);
    return host.list_tables(catalog, table);
  }
  if (kind == L"COLUMNS") {
    catalog_and_table(cmd, true, catalog, table);
    return host.list_columns(catalog, table);
  }
  return failure(os::err_invalid_parameter,
                 kind.empty() ? str(string_id::parameter_missing) : message(string_id::unknown_parameter, kind.c_str()));
}

namespace {

// The command's word, "\d" and a kind letter, then S for the system objects too and + for more.
struct listing_word {
  object_kind kind = object_kind::relations;
  bool system = false;
  bool more = false;
};

listing_word listing_of(const std::wstring& word) {
  static const struct {
    wchar_t letter;
    object_kind kind;
  } kinds[] = {{L't', object_kind::tables},  {L'v', object_kind::views},   {L'i', object_kind::indexes},
               {L'n', object_kind::schemas}, {L'f', object_kind::routines}};
  listing_word w;
  size_t i = 2;  // after "\d"
  for (const auto& k : kinds)
    if (i < word.size() && word[i] == k.letter) {
      w.kind = k.kind;
      ++i;
    }
  w.system = i < word.size() && word[i] == L'S';
  w.more = !word.empty() && word.back() == L'+';
  return w;
}

} // namespace

// \d NAME describes a table; \d alone and the rest of the family list objects.
result run_describe(terminal_context& ctx, command_host&, const TOdbcHndlrCmd& cmd) {
  if (!ctx.connection.hdbc()) return ctx.fail(str(string_id::not_connected));
  const listing_word w = listing_of(cmd.keyword);
  if (w.kind == object_kind::relations && !cmd.rest.empty()) return describe_table(ctx, cmd.rest, w.more);
  return list_objects(ctx, w.kind, unquoted(cmd.rest), w.system);
}

completion_words list_words(size_t index, const std::wstring& previous) {
  if (index == 0) return {{L"DRIVERS", L"DATASOURCES", L"TABLES", L"COLUMNS"}, true};
  if (index == 1 && compare_nocase(previous, L"COLUMNS") == 0) return names_of(argument_kind::tables);
  return {};
}

} // namespace vela::terminal
