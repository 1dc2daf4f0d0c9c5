// Which failures are conflicts worth running again, by each database's SQLSTATE, native code
// and text, and the bounds of the pause before each attempt.
#include <gtest/gtest.h>

#include "vela/odbc/retry.h"

namespace {

using vela::odbc::conflict;

vela::result failed(const wchar_t* state, int32_t native, const wchar_t* text) {
  vela::result r = vela::failure(1, text);
  r.set_state(state, native);
  return r;
}

TEST(Retry, ConflictsByDatabase) {
  struct row {
    const char* name;
    const wchar_t* state;
    int32_t native;
    const wchar_t* text;
    conflict expected;
  };
  const row rows[] = {
      {"pg serialization", L"40001", 7, L"ERROR: could not serialize access due to concurrent update", conflict::serialization},
      {"pg deadlock", L"40P01", 7, L"ERROR: deadlock detected", conflict::deadlock},
      {"maria deadlock", L"40001", 1213, L"Deadlock found when trying to get lock; try restarting transaction",
       conflict::deadlock},
      {"galera certification", L"40001", 1213, L"WSREP detected deadlock/conflict and aborted the transaction",
       conflict::certification},
      {"galera not prepared", L"08S01", 1047, L"WSREP has not yet prepared node for application use",
       conflict::not_prepared},
      {"maria gone", L"HY000", 2006, L"MySQL server has gone away", conflict::lost_connection},
      {"pg gone", L"08006", 0, L"server closed the connection unexpectedly", conflict::lost_connection},
      {"maria lock wait timeout", L"HY000", 1205, L"Lock wait timeout exceeded", conflict::none},
      {"duplicate key", L"23505", 7, L"ERROR: duplicate key value violates unique constraint", conflict::none},
      {"sqlite busy", L"HY000", 5, L"database is locked", conflict::none},
  };
  for (const row& r : rows) EXPECT_EQ(vela::odbc::conflict_of(failed(r.state, r.native, r.text)), r.expected) << r.name;
  vela::result ok;
  ok.set_state(L"40001", 1213);  // a warning's state alone is no failure
  EXPECT_EQ(vela::odbc::conflict_of(ok), conflict::none);
}

TEST(Retry, PauseGrowsWithJitterUpToTwoSeconds) {
  struct row {
    uint32_t attempt;
    double jitter;
    uint32_t ms;
  };
  const row rows[] = {{0, 0.0, 25}, {0, 0.5, 50}, {0, 1.0, 75}, {1, 0.5, 100}, {3, 0.5, 400},
                      {5, 1.0, 2000}, {40, 0.0, 2000}, {0, -3.0, 25}, {0, 7.0, 75}};
  for (const row& r : rows) EXPECT_EQ(vela::odbc::retry_delay_ms(r.attempt, r.jitter), r.ms) << r.attempt << " " << r.jitter;
  for (uint32_t attempt = 0; attempt < 8; ++attempt)
    for (int i = 0; i < 50; ++i) {
      const uint32_t ms = vela::odbc::retry_delay_ms(attempt);
      EXPECT_GE(ms, std::min<uint32_t>(25u << attempt, 2000u));
      EXPECT_LE(ms, std::min<uint32_t>(75u << attempt, 2000u));
    }
}

} // namespace
