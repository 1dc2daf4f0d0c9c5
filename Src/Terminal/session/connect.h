// Opening and closing the run's connection: the command line's, CONNECT, DISCONNECT and \c.
// Each reports what it did (connected, failed, disconnected) as the handler always has.
#pragma once

#include <string>

#include "Terminal/session/context.h"
#include "vela/result.h"

namespace vela::terminal {

// A connection string, a driver and its parameters, or a data source and its user; an open
// connection is closed first.
result connect_by_string(terminal_context& ctx, const std::wstring& connection_string);
result connect_by_driver(terminal_context& ctx, const std::wstring& parameters, const std::wstring& driver);
result connect_by_datasource(terminal_context& ctx, const std::wstring& datasource, const std::wstring& user,
                             const std::wstring& password);
// A transaction still open is rolled back first.
result close_connection(terminal_context& ctx);
// \connect: the same connection, to another database.
result reconnect_to_database(terminal_context& ctx, const std::wstring& database);
// A statement lost the connection: with "-reconnect", or with a list of hosts outside a
// script, the next host that is what "-target" asks is connected and said so. False when
// none was tried or none could be used.
bool reconnect_after_loss(terminal_context& ctx, bool in_script);
// The driver's reason for a failed connect, after the connect's own message.
void report_connect_reason(terminal_context& ctx, const result& r);

} // namespace vela::terminal
