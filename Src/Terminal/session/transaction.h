// The transaction the user's statements opened: tracked from their first words, ended by
// the run when it is still open at the end.
#pragma once

#include <cstdint>
#include <string>

#include "Terminal/session/context.h"
#include "vela/result.h"

namespace vela::terminal {

// What a statement does to its connection's transaction, by its first words.
enum class transaction_step : uint8_t { none, begin, end, savepoint, release };
struct transaction_statement {
  transaction_step step = transaction_step::none;
  std::wstring savepoint;  // the name a SAVEPOINT or RELEASE gives (in capitals unless quoted)
};
transaction_statement transaction_effect(const std::wstring& statement);

// The state after statement ran with result r.
void track_transaction(terminal_context& ctx, const std::wstring& statement, const result& r);
// A transaction begun by the statements run (BEGIN, START TRANSACTION, on SQLite a first
// SAVEPOINT) is open; MariaDB and MySQL are asked, as DDL there ends one on its own.
bool transaction_open(terminal_context& ctx);
// The transaction as a prompt shows it: '*' open (begun by a statement, or with autocommit
// off statements ran since the last COMMIT or ROLLBACK), '!' a statement failed in it, 0 none.
wchar_t transaction_status(terminal_context& ctx);
// A transaction still open when the connection closes is rolled back, and that is said.
void roll_back_open_transaction(terminal_context& ctx);

} // namespace vela::terminal
