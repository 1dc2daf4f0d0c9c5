#include "vela/odbc/retry.h"

#include <algorithm>
#include <random>

#include "vela/odbc/environment.h"

namespace vela::odbc {

namespace {

bool says(const result& r, const wchar_t* words) { return r.text().find(words) != std::wstring::npos; }

} // namespace

conflict conflict_of(const result& r) {
  if (r.succeeded()) return conflict::none;
  // Galera answers 1047 with SQLSTATE 08S01 while the node joins: the connection stays.
  if (says(r, L"WSREP has not yet prepared node")) return conflict::not_prepared;
  if (r.native_code() == 1213 || r.state() == L"40P01") {
    if (says(r, L"certification") || says(r, L"Certification") || says(r, L"WSREP") || says(r, L"wsrep")) return conflict::certification;
    return conflict::deadlock;
  }
  if (r.state() == L"40001") return conflict::serialization;
  if (connection_lost(r)) return conflict::lost_connection;
  return conflict::none;
}

uint32_t retry_delay_ms(uint32_t attempt, double jitter) {
  constexpr double cap = 2000;
  const double base = 50.0 * static_cast<double>(uint64_t{1} << std::min<uint32_t>(attempt, 16));
  return static_cast<uint32_t>(std::min(cap, base * (0.5 + std::clamp(jitter, 0.0, 1.0))));
}

uint32_t retry_delay_ms(uint32_t attempt) {
  // Each thread draws its own: two sessions that met in a conflict do not wait alike.
  thread_local std::minstd_rand draw(std::random_device{}());
  return retry_delay_ms(attempt, std::uniform_real_distribution<double>(0.0, 1.0)(draw));
}

} // namespace vela::odbc
