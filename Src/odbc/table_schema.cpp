// A table's columns and keys from its database's catalog, and the statements that make it
// again elsewhere.
#include "vela/odbc/table_schema.h"

#include <algorithm>
#include <map>

#include "odbc/sqltext.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/connection_info.h"
#include "vela/odbc/driver_profile.h"
#include "vela/odbc/query.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

// Columns of a key, gathered by name and put in key order.
template <typename Column>
std::vector<std::pair<std::wstring, std::vector<const Column*>>> by_name(const std::vector<Column>& rows) {
  std::vector<std::pair<std::wstring, std::vector<const Column*>>> keys;
  for (const Column& c : rows) {
    auto at = std::find_if(keys.begin(), keys.end(), [&c](const auto& k) { return k.first == c.name; });
    if (at == keys.end()) at = keys.insert(keys.end(), {c.name, {}});
    at->second.push_back(&c);
  }
  for (auto& k : keys)
    std::stable_sort(k.second.begin(), k.second.end(), [](const Column* a, const Column* b) { return a->position < b->position; });
  return keys;
}

result read_indexes(connection_info& info, table_schema& t) {
  std::vector<index_column> rows;
  const result r = info.ListIndexes(rows, t.catalog, t.schema, t.name);
  if (!r.succeeded()) return r;
  for (const auto& [name, columns] : by_name(rows)) {
    table_index index{name, {}, columns.front()->unique};
    for (const index_column* c : columns) index.columns.push_back(c->column);
    if (std::find(index.columns.begin(), index.columns.end(), std::wstring()) != index.columns.end()) {
      t.left_out.push_back(L"index " + name);  // on an expression
      continue;
    }
    if (index.unique && index.columns == t.primary_key) continue;  // the primary key's own
    t.indexes.push_back(std::move(index));
  }
  return result();
}

result read_references(connection_info& info, table_schema& t) {
  std::vector<foreign_key_column> rows;
  const result r = info.ListForeignKeys(rows, t.catalog, t.schema, t.name);
  if (!r.succeeded()) return r;
  // A driver that names no foreign key (SQLite's) gives each its own first column's position 1.
  std::vector<foreign_key_column> named = rows;
  size_t unnamed = 0;
  for (auto& c : named)
    if (c.name.empty()) c.name = L"\x1" + std::to_wstring(c.position == 1 ? ++unnamed : unnamed);
  for (const auto& [name, columns] : by_name(named)) {
    table_reference ref{name[0] == L'\x1' ? std::wstring() : name, {}, columns.front()->target_table, {}};
    for (const foreign_key_column* c : columns) {
      ref.columns.push_back(c->column);
      ref.target_columns.push_back(c->target_column);
    }
    t.references.push_back(std::move(ref));
  }
  return result();
}

// A type as the table declares it, with its precision and scale, where the result's description
// lost them (SQLite's driver: "numeric" for numeric(12,4)).
void declared_types(connection_info& info, table_schema& t) {
  std::vector<column_info> declared;
  if (!info.ListCols(declared, t.catalog, t.schema, t.name, L"").succeeded()) return;
  for (auto& c : t.columns) {
    if (c.type_name.find(L'(') != std::wstring::npos) continue;
    for (const column_info& d : declared)
      if (d.table == t.name && d.column == c.name && d.type.find(L'(') != std::wstring::npos &&
          compare_nocase(d.type.substr(0, d.type.find(L'(')), c.type_name) == 0)
        c.type_name = d.type;
  }
}

std::wstring column_list(const driver_profile& p, const std::vector<std::wstring>& columns) {
  std::wstring text = L"(";
  for (size_t i = 0; i < columns.size(); ++i) text += (i ? L", " : L"") + p.quote_identifier(columns[i]);
  return text + L")";
}

std::wstring reference_clause(const table_reference& ref, const table_schema& t, const driver_profile& target,
                              key_names& names) {
  const std::wstring name = names.take(target, ref.name, t.name, ref.columns, L"fkey");
  return L"CONSTRAINT " + target.quote_identifier(name) + L" FOREIGN KEY " + column_list(target, ref.columns) +
         L" REFERENCES " + target.quote_identifier(ref.table) + L" " + column_list(target, ref.target_columns);
}

} // namespace

std::wstring source_table_name(const connection& c, const table_schema& t) {
  const driver_profile& p = c.profile();
  const std::wstring& outer = p.two_part_name_is_catalog() ? t.catalog : t.schema;
  return (outer.empty() ? std::wstring() : p.quote_identifier(outer) + L".") + p.quote_identifier(t.name);
}

std::wstring integer_key(const table_schema& t) {
  if (t.primary_key.size() != 1) return std::wstring();
  for (const column_shape& c : t.columns)
    if (c.name == t.primary_key[0] &&
        (c.sql_type == SQL_INTEGER || c.sql_type == SQL_BIGINT || c.sql_type == SQL_SMALLINT || c.sql_type == SQL_TINYINT))
      return c.name;
  return std::wstring();
}

result read_table_schema(connection& c, table_schema& t) {
  const std::wstring text = L"SELECT * FROM " + source_table_name(c, t) + L" WHERE 1=0";
  query q(&c, text);
  result r = q.execute(text, false, false);
  if (r.succeeded()) r = describe_result_columns(q.hstmt(), t.columns);
  if (!r.succeeded()) return r;
  connection_info info(&c);
  declared_types(info, t);
  for (auto& column : t.columns) c.profile().source_column(column);
  std::vector<index_column> key;
  r = info.ListPrimaryKey(key, t.catalog, t.schema, t.name);
  if (!r.succeeded()) return r;
  std::stable_sort(key.begin(), key.end(), [](const index_column& a, const index_column& b) { return a.position < b.position; });
  for (const index_column& k : key) t.primary_key.push_back(k.column);
  r = read_indexes(info, t);
  if (r.succeeded()) r = read_references(info, t);
  return r;
}

std::wstring key_names::take(const driver_profile& target, const std::wstring& source, const std::wstring& table,
                             const std::vector<std::wstring>& columns, const wchar_t* suffix) {
  auto folded = [](std::wstring s) {
    for (auto& ch : s) ch = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch)));
    return s;
  };
  // Names the target keeps for itself (SQLite's "sqlite_…"), and MariaDB's name of every
  // primary key, are not taken.
  const bool usable = !source.empty() && source.size() <= 63 && !target.is_system_object(L"", L"", source) &&
                      compare_nocase(source, L"PRIMARY") != 0;
  std::wstring name = source;
  if (!usable || used_.count(folded(source))) {
    std::wstring base = table;
    for (const auto& c : columns) base += L"_" + c;
    base = base.substr(0, 50) + L"_" + suffix;
    name = base;
    for (unsigned k = 2; used_.count(folded(name)); ++k) name = base + std::to_wstring(k);
  }
  used_.insert(folded(name));
  return name;
}

std::wstring create_copy_statement(const table_schema& t, const std::wstring& table, const driver_profile& target,
                                   const type_catalog& types, key_names& names) {
  std::wstring text = create_table_statement(table, t.columns, target, types, false);
  if (!target.keys_in_create_table()) return text;
  text.pop_back();  // the closing parenthesis
  if (!t.primary_key.empty()) text += L", PRIMARY KEY " + column_list(target, t.primary_key);
  for (const table_reference& ref : t.references) text += L", " + reference_clause(ref, t, target, names);
  return text + L")";
}

std::vector<std::wstring> key_statements(const table_schema& t, const std::wstring& table, const driver_profile& target,
                                         key_names& names) {
  std::vector<std::wstring> statements;
  if (!t.primary_key.empty() && !target.keys_in_create_table())
    statements.push_back(L"ALTER TABLE " + table + L" ADD PRIMARY KEY " + column_list(target, t.primary_key));
  for (const table_index& index : t.indexes) {
    const std::wstring name = names.take(target, index.name, t.name, index.columns, index.unique ? L"key" : L"idx");
    statements.push_back(std::wstring(index.unique ? L"CREATE UNIQUE INDEX " : L"CREATE INDEX ") + target.quote_identifier(name) +
                         L" ON " + table + L" " + column_list(target, index.columns));
  }
  return statements;
}

std::vector<std::wstring> reference_statements(const table_schema& t, const std::wstring& table,
                                               const driver_profile& target, key_names& names) {
  std::vector<std::wstring> statements;
  if (target.keys_in_create_table()) return statements;
  for (const table_reference& ref : t.references)
    statements.push_back(L"ALTER TABLE " + table + L" ADD " + reference_clause(ref, t, target, names));
  return statements;
}

// The driver profile's part.

bool driver_profile::keys_in_create_table() const { return family_ == family::sqlite; }

const wchar_t* driver_profile::triggers_query() const {
  switch (family_) {
    case family::sqlite: return L"SELECT name FROM sqlite_master WHERE type = 'trigger' ORDER BY 1";
    case family::postgresql:
      return L"SELECT DISTINCT trigger_schema || '.' || trigger_name FROM information_schema.triggers"
             L" WHERE trigger_schema NOT IN ('pg_catalog', 'information_schema') ORDER BY 1";
    case family::mysql:
      return L"SELECT trigger_name FROM information_schema.triggers WHERE trigger_schema = DATABASE() ORDER BY 1";
    case family::unknown: break;
  }
  return L"";
}

} // namespace vela::odbc
