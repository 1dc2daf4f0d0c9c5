#include "Terminal/commands/catalog.h"

#include <algorithm>
#include <cwctype>
#include <functional>
#include <vector>

#include "Terminal/output/listing.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/odbc/connection_info.h"
#include "vela/odbc/driver_profile.h"
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

result find_columns(odbc::connection& connection, const std::wstring& name, std::vector<odbc::column_info>& columns) {
  // [catalog.][schema.]table; MySQL's database.table is its catalog.
  std::vector<name_part> parts = name_parts(name);
  if (parts.size() == 2 && connection.profile().two_part_name_is_catalog()) parts.insert(parts.begin() + 1, name_part{});
  while (parts.size() < 3) parts.insert(parts.begin(), name_part{});
  // A name not in quotes is tried as typed, then in lower and in upper case, as servers fold it.
  std::vector<std::wstring> tried;
  for (int fold : {0, -1, 1}) {
    if (parts.size() != 3 || parts[2].text.empty()) break;
    const std::wstring catalog = folded(parts[0], fold), schema = folded(parts[1], fold), table = folded(parts[2], fold);
    const std::wstring key = catalog + L'\n' + schema + L'\n' + table;
    if (std::find(tried.begin(), tried.end(), key) != tried.end()) continue;
    tried.push_back(key);
    const result r = odbc::connection_info(&connection).ListCols(columns, catalog, schema, table, L"");
    if (!r.succeeded()) return r;
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
  return result();
}

namespace {

// The type as psql shows it: with its length, or precision and scale, unless the driver's
// name holds them already (SQLite's declared types).
std::wstring type_text(const odbc::column_info& c) {
  enum : int16_t { sql_numeric = 2, sql_decimal = 3, sql_char = 1, sql_varchar = 12, sql_wchar = -8,
                   sql_wvarchar = -9, sql_binary = -2, sql_varbinary = -3 };
  if (c.type.find(L'(') != std::wstring::npos || c.size <= 0) return c.type;
  switch (c.data_type) {
    case sql_numeric: case sql_decimal:
      return c.type + L'(' + std::to_wstring(c.size) + (c.has_digits ? L"," + std::to_wstring(c.digits) : L"") + L')';
    case sql_char: case sql_varchar: case sql_wchar: case sql_wvarchar: case sql_binary: case sql_varbinary:
      return c.type + L'(' + std::to_wstring(c.size) + L')';
    default:
      return c.type;
  }
}

std::wstring quoted_name(const std::wstring& name) { return name.empty() ? std::wstring() : L'"' + name + L"\" "; }

template <typename Column>
std::wstring joined_columns(const std::vector<Column>& key) {
  std::wstring text;
  for (const Column& c : key) text += (text.empty() ? L"" : L", ") + c.column;
  return text;
}

// The columns of each key, by name in the order the driver lists the keys, each key's columns by position.
template <typename Column>
std::vector<std::vector<Column>> keys_of(std::vector<Column> columns) {
  std::stable_sort(columns.begin(), columns.end(), [](const Column& a, const Column& b) { return a.position < b.position; });
  std::vector<std::vector<Column>> keys;
  for (const Column& c : columns) {
    auto k = std::find_if(keys.begin(), keys.end(), [&](const std::vector<Column>& key) { return key.front().name == c.name; });
    if (k == keys.end()) keys.push_back({c});
    else k->push_back(c);
  }
  return keys;
}

// The primary key, then the other indexes but for the one that serves the key.
listing_section index_section(const std::vector<odbc::index_column>& primary, const std::vector<odbc::index_column>& indexes) {
  listing_section s{"indexes", str(string_id::describe_indexes), {{L"Name"}, {L"Kind"}, {L"Columns"}}, {}, {}};
  const std::wstring primary_columns = joined_columns(primary);
  bool primary_named = false;
  for (const auto& key : keys_of(primary)) {
    s.records.push_back({key.front().name, L"PRIMARY KEY", primary_columns});
    s.lines.push_back(quoted_name(key.front().name) + L"PRIMARY KEY (" + primary_columns + L')');
    primary_named = true;
  }
  for (const auto& key : keys_of(indexes)) {
    const std::wstring columns = joined_columns(key);
    const bool serves_primary = primary_named && key.front().unique &&
                                (key.front().name == primary.front().name || columns == primary_columns);
    if (serves_primary) continue;
    const std::wstring kind = key.front().unique ? L"UNIQUE" : L"";
    s.records.push_back({key.front().name, kind, columns});
    s.lines.push_back(quoted_name(key.front().name) + (kind.empty() ? L"" : kind + L' ') + L'(' + columns + L')');
  }
  return s;
}

listing_section foreign_key_section(const std::vector<odbc::foreign_key_column>& columns, const std::wstring& schema) {
  listing_section s{"foreign_keys", str(string_id::describe_foreign_keys), {{L"Name"}, {L"Columns"}, {L"References"}}, {}, {}};
  for (const auto& key : keys_of(columns)) {
    const odbc::foreign_key_column& k = key.front();
    std::wstring target_columns;
    for (const auto& c : key) target_columns += (target_columns.empty() ? L"" : L", ") + c.target_column;
    const std::wstring target = (k.target_schema.empty() || k.target_schema == schema ? L"" : k.target_schema + L'.') +
                                k.target_table + L'(' + target_columns + L')';
    s.records.push_back({k.name, joined_columns(key), target});
    s.lines.push_back(quoted_name(k.name) + L"FOREIGN KEY (" + joined_columns(key) + L") REFERENCES " + target);
  }
  return s;
}

// The clause in one pair of parentheses: PostgreSQL's "((qty > 0))" as "(qty > 0)", MariaDB's
// "`qty` > 0" as "(`qty` > 0)".
std::wstring in_parentheses(std::wstring clause) {
  const auto wrapped = [](const std::wstring& t) {
    if (t.size() < 2 || t.front() != L'(' || t.back() != L')') return false;
    int depth = 0;
    for (size_t i = 0; i + 1 < t.size(); ++i)
      if ((depth += t[i] == L'(' ? 1 : t[i] == L')' ? -1 : 0) == 0) return false;  // closed before the end
    return true;
  };
  while (wrapped(clause) && wrapped(clause.substr(1, clause.size() - 2))) clause = clause.substr(1, clause.size() - 2);
  return wrapped(clause) ? clause : L'(' + clause + L')';
}

listing_section check_section(const std::vector<odbc::check_constraint>& checks) {
  listing_section s{"checks", str(string_id::describe_checks), {{L"Name"}, {L"Definition"}}, {}, {}};
  for (const odbc::check_constraint& c : checks) {
    const std::wstring clause = in_parentheses(c.clause);
    s.records.push_back({c.name, L"CHECK " + clause});
    s.lines.push_back(quoted_name(c.name) + L"CHECK " + clause);
  }
  return s;
}

listing_section column_section(const std::vector<odbc::column_info>& columns, bool more) {
  listing_section s{"columns", L"", {{L"Column"}, {L"Type"}, {L"Nullable"}, {L"Default"}}, {}, {}};
  if (more) s.columns.push_back({L"Description"});
  for (const odbc::column_info& c : columns) {
    // A default of NULL is no default.
    const bool has_default = c.has_default && compare_nocase(c.default_value, L"NULL") != 0;
    std::vector<std::optional<std::wstring>> record = {c.column, type_text(c), c.nullable == L"NO" ? L"not null" : L"",
                                                       has_default ? std::optional(c.default_value) : std::nullopt};
    if (more) record.push_back(c.remarks);
    s.records.push_back(std::move(record));
  }
  return s;
}

} // namespace

result describe_table(terminal_context& ctx, const std::wstring& name, bool more) {
  std::vector<odbc::column_info> columns;
  result r = find_columns(ctx.connection, name, columns);
  if (!r.succeeded()) return ctx.fail(r.text());
  if (columns.empty()) return ctx.fail(message(string_id::table_not_found, name.c_str()));
  const odbc::column_info& first = columns.front();
  odbc::connection_info info(&ctx.connection);
  std::vector<odbc::index_column> primary, indexes;
  std::vector<odbc::foreign_key_column> foreign_keys;
  std::vector<odbc::check_constraint> checks;
  const std::function<result()> steps[] = {
      [&] { return info.ListPrimaryKey(primary, first.catalog, first.schema, first.table); },
      [&] { return info.ListIndexes(indexes, first.catalog, first.schema, first.table); },
      [&] { return info.ListForeignKeys(foreign_keys, first.catalog, first.schema, first.table); },
      [&] { return info.ListChecks(checks, first.catalog, first.schema, first.table); }};
  for (const auto& step : steps) {
    r = step();
    if (r.state() == L"HY008") return ctx.fail(r.text());  // cancelled
    if (!r.succeeded()) ctx.report_warning(r.text() + L'\n');  // a driver without the call: the rest is shown
  }
  const std::wstring qualifier = !first.schema.empty() ? first.schema : first.catalog;
  const std::wstring title = message(string_id::describe_title, (qualifier.empty() ? first.table : qualifier + L'.' + first.table).c_str());
  print_description(ctx.options, ctx.routes.rows(), title,
                    {column_section(columns, more), index_section(primary, indexes),
                     foreign_key_section(foreign_keys, first.schema), check_section(checks)});
  ctx.routes.rows().flush();
  return result();
}

namespace {

// Whether a catalog object of the type the driver names is one the listing shows: "SYSTEM
// TABLE" and the like only with the system objects.
bool of_kind(object_kind kind, const std::wstring& type, bool system) {
  const bool system_type = type.rfind(L"SYSTEM ", 0) == 0;
  if (system_type && !system) return false;
  const std::wstring base = system_type ? type.substr(7) : type;
  if (kind == object_kind::tables || kind == object_kind::indexes) return base == L"TABLE";
  if (kind == object_kind::views) return base.size() >= 4 && base.compare(base.size() - 4, 4, L"VIEW") == 0;
  return true;
}

// psql's wildcards, * and ?, as the catalog's % and _.
std::wstring catalog_pattern(std::wstring pattern) {
  for (wchar_t& c : pattern) c = c == L'*' ? L'%' : c == L'?' ? L'_' : c;
  return pattern;
}

// A pattern as the catalog takes it: "schema.pattern" (MySQL: "database.pattern") names the
// schema whose objects match.
struct object_pattern {
  std::wstring catalog, schema, name;
  bool qualified() const { return !catalog.empty() || !schema.empty(); }
};

object_pattern pattern_of(const odbc::driver_profile& profile, const std::wstring& pattern) {
  const size_t dot = pattern.find(L'.');
  if (dot == std::wstring::npos) return {L"", L"", catalog_pattern(pattern)};
  std::wstring owner = pattern.substr(0, dot);
  trim(owner, L"\"`");
  const std::wstring name = catalog_pattern(pattern.substr(dot + 1));
  return profile.two_part_name_is_catalog() ? object_pattern{owner, L"", name} : object_pattern{L"", owner, name};
}

// Some drivers (psqlODBC) list the database's own tables only when asked for their types.
result add_system_tables(odbc::connection_info& info, const object_pattern& pattern, std::vector<odbc::table_info>& objects) {
  std::vector<odbc::table_info> more;
  const result r = info.ListTbls(more, pattern.catalog, pattern.schema, pattern.name, L"SYSTEM TABLE,SYSTEM VIEW");
  for (const odbc::table_info& t : more)
    if (std::none_of(objects.begin(), objects.end(), [&](const odbc::table_info& o) {
          return o.catalog == t.catalog && o.schema == t.schema && o.name == t.name;
        }))
      objects.push_back(t);
  return r;
}

result index_records(odbc::connection_info& info, const std::vector<odbc::table_info>& tables,
                     std::vector<std::vector<std::wstring>>& records) {
  for (const odbc::table_info& t : tables) {
    std::vector<odbc::index_column> columns;
    const result r = info.ListIndexes(columns, t.catalog, t.schema, t.name);
    if (!r.succeeded()) return r;
    for (const auto& key : keys_of(columns))
      records.push_back({t.catalog, t.schema, key.front().name, key.front().unique ? L"UNIQUE INDEX" : L"INDEX", t.name});
  }
  return result();
}

} // namespace

result list_objects(terminal_context& ctx, object_kind kind, const std::wstring& pattern, bool system) {
  odbc::connection_info info(&ctx.connection);
  const odbc::driver_profile& profile = ctx.connection.profile();
  std::vector<listing_column> columns = {{L"Catalog"}, {L"Schema"}, {L"Name"}, {L"Type"}};
  std::vector<std::vector<std::wstring>> records;
  result r;
  if (kind == object_kind::schemas) {
    std::vector<std::wstring> names;
    const bool catalogs = profile.two_part_name_is_catalog();
    r = info.ListSchemas(names, catalogs);
    columns = {{L"Name"}};
    for (const std::wstring& n : names)
      if (system || !profile.is_system_object(catalogs ? n : L"", catalogs ? L"" : n, n)) records.push_back({n});
  } else {
    // A schema named: its objects, the database's own too.
    const object_pattern p = pattern_of(profile, pattern);
    system = system || p.qualified();
    std::vector<odbc::table_info> objects, shown;
    r = kind == object_kind::routines ? info.ListRoutines(objects) : info.ListTbls(objects, p.catalog, p.schema, p.name, L"");
    if (r.succeeded() && system && kind != object_kind::routines) r = add_system_tables(info, p, objects);
    for (const odbc::table_info& t : objects)
      if ((system || !profile.is_system_object(t.catalog, t.schema, t.name)) && of_kind(kind, t.type, system)) shown.push_back(t);
    if (kind == object_kind::indexes) {
      columns.push_back({L"Table"});
      if (r.succeeded()) r = index_records(info, shown, records);
    } else {
      for (const odbc::table_info& t : shown) records.push_back({t.catalog, t.schema, t.name, t.type});
    }
  }
  if (!r.succeeded()) return ctx.fail(r.text());
  print_listing(ctx.options, ctx.routes.rows(), columns, records);
  ctx.routes.rows().flush();
  return r;
}

} // namespace vela::terminal
