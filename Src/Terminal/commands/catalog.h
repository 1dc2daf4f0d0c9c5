// The catalog listings: LIST TABLES, LIST COLUMNS, \d NAME and the \d family of lists.
#pragma once

#include <string>
#include <vector>

#include "Terminal/session/context.h"
#include "vela/odbc/connection_info.h"
#include "vela/result.h"

namespace vela::terminal {

// The tables and the columns of LIST TABLES and LIST COLUMNS (empty filters list everything).
result list_tables(terminal_context& ctx, const std::wstring& catalog, const std::wstring& table);
result list_columns(terminal_context& ctx, const std::wstring& catalog, const std::wstring& table);
// \d NAME: one table, [catalog.][schema.]table, as psql describes it: its columns, indexes,
// foreign keys and check constraints (more: the columns' remarks too); a failure is reported
// and noted.
result describe_table(terminal_context& ctx, const std::wstring& name, bool more);
// The columns of one table, [catalog.][schema.]table as typed (in quotes as spelt, else as
// the server folds it); empty when there is none.
result find_columns(odbc::connection& connection, const std::wstring& name, std::vector<odbc::column_info>& columns);

// What \d, \dt, \dv, \di, \dn and \df list.
enum class object_kind { relations, tables, views, indexes, schemas, routines };
// The objects of one kind whose names match pattern (psql's * and ?, or SQL's % and _; empty:
// all), the database's own only with system; a failure is reported and noted.
result list_objects(terminal_context& ctx, object_kind kind, const std::wstring& pattern, bool system);

} // namespace vela::terminal
