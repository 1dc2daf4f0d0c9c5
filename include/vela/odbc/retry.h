// Conflicts that a database resolves by refusing one side's work: such work may run again.
#pragma once

#include <cstdint>

#include "vela/result.h"

namespace vela::odbc {

enum class conflict : uint8_t {
  none,            // not a conflict: running again would fail the same way
  serialization,   // SQLSTATE 40001: the transaction could not be serialized
  deadlock,        // 40P01 (PostgreSQL), 1213 (MariaDB, MySQL)
  certification,   // a cluster refused the transaction at commit (Galera: 1213 with "certification")
  not_prepared,    // a cluster node not yet ready for work (Galera: "WSREP has not yet prepared node")
  lost_connection  // the connection went (see connection_lost)
};

// The conflict that failure r reports, from its SQLSTATE, native code and text.
conflict conflict_of(const result& r);

// Milliseconds to wait before attempt (0 first) runs again: 50 × 2^attempt × (0.5 + jitter),
// jitter from 0 to 1, at most 2000.
uint32_t retry_delay_ms(uint32_t attempt, double jitter);
// The same with a random jitter.
uint32_t retry_delay_ms(uint32_t attempt);

} // namespace vela::odbc
