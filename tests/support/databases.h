// The two real databases the integration tests run against.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/pg_server.h"
#include "support/temp_dir.h"

namespace vela::testing {

inline std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// One database per test: a fresh SQLite file, or the shared PostgreSQL server.
struct database {
  std::string kind;  // "sqlite" or "pg"
  temp_dir dir;
  std::string cs;

  explicit database(const std::string& k) : kind(k) {
    if (kind == "pg") {
      pg_server& s = shared_pg_server();
      if (s.running()) cs = s.connection_string();
    } else {
      cs = "Driver=SQLite3;Database=" + dir.path("test.db") + ";";
    }
  }
  bool ready() const { return !cs.empty(); }
  std::string why_not() const { return kind == "pg" ? shared_pg_server().error() : "no database"; }
  std::wstring wcs() const { return widen(cs); }
  const char* blob_type() const { return kind == "pg" ? "bytea" : "blob"; }
  const char* text_type() const { return "text"; }
};

// Bytes that do not compress or repeat, the same for the same seed.
inline std::string random_bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  std::mt19937 gen(seed);
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

inline std::string param_name(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

} // namespace vela::testing
