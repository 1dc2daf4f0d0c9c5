#include "Terminal/commands/catalog.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "Terminal/output/listing.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/odbc/connection_info.h"
#include "vela/wstr.h"

namespace vela::terminal {

result list_tables(terminal_context& ctx, const std::wstring& catalog, const std::wstring& table) {
  std::vector<odbc::table_info> tables;
  const result r = odbc::connection_info(&ctx.connection).ListTbls(tables, catalog, L"", table, L"");
  if (!r.succeeded()) return r;
  std::vector<std::vector<std::wstring>> records;
  for (const odbc::table_info& t : tables) records.push_back({t.catalog, t.schema, t.name, t.type});
  print_listing(ctx.options, ctx.routes.rows(), {{L"Catalog"}, {L"Schema"}, {L"Name"}, {L"Type"}}, records);
  return r;
}

result list_columns(terminal_context& ctx, const std::wstring& catalog, const std::wstring& table) {
  std::vector<odbc::column_info> columns;
  const result r = odbc::connection_info(&ctx.connection).ListCols(columns, catalog, L"", table, L"");
  if (!r.succeeded()) return r;
  std::vector<std::vector<std::wstring>> records;
  for (const odbc::column_info& c : columns)
    records.push_back({c.table, c.column, c.type, std::to_wstring(c.size), c.nullable});
  print_listing(ctx.options, ctx.routes.rows(),
                {{L"Table"}, {L"Name"}, {L"Type"}, {L"Size", true}, {L"Nullable"}}, records);
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

result describe_table(terminal_context& ctx, const std::wstring& name) {
  // [catalog.][schema.]table; MySQL's database.table is its catalog.
  std::vector<name_part> parts = name_parts(name);
  if (parts.size() == 2 && ctx.connection.profile().two_part_name_is_catalog()) parts.insert(parts.begin() + 1, name_part{});
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
    const result r = odbc::connection_info(&ctx.connection).ListCols(columns, catalog, schema, table, L"");
    if (!r.succeeded()) return ctx.fail(r.text());
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
  if (columns.empty()) return ctx.fail(message(string_id::table_not_found, name.c_str()));
  std::vector<std::vector<std::wstring>> records;
  for (const odbc::column_info& c : columns) records.push_back({c.column, c.type, std::to_wstring(c.size), c.nullable});
  print_listing(ctx.options, ctx.routes.rows(), {{L"Name"}, {L"Type"}, {L"Size", true}, {L"Nullable"}}, records);
  ctx.routes.rows().flush();
  return result();
}

} // namespace vela::terminal
