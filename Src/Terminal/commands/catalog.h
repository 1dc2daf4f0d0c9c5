// The catalog listings: LIST TABLES, LIST COLUMNS, \dt and \d NAME.
#pragma once

#include <string>

#include "Terminal/session/context.h"
#include "vela/result.h"

namespace vela::terminal {

// The tables and the columns of LIST TABLES and LIST COLUMNS (empty filters list everything).
result list_tables(terminal_context& ctx, const std::wstring& catalog, const std::wstring& table);
result list_columns(terminal_context& ctx, const std::wstring& catalog, const std::wstring& table);
// \d NAME: the columns of one table, [catalog.][schema.]table; a failure is reported and noted.
result describe_table(terminal_context& ctx, const std::wstring& name);

} // namespace vela::terminal
