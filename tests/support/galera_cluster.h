// A Galera cluster for the tests: three MariaDB servers (see maria_server) on loopback, the
// first bootstrapping the cluster and the others joining it by rsync, each with its own
// folder and ports (client, group, IST, SST). Started once per test program.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/maria_server.h"

namespace vela::testing {

class galera_cluster {
 public:
  static constexpr size_t size = 3;
  // Starts the nodes one after the other; on failure, error() tells why.
  galera_cluster();
  bool running() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  // Node i, from 0; the cluster running.
  maria_server& node(size_t i) { return *nodes_.at(i); }

 private:
  std::vector<std::unique_ptr<maria_server>> nodes_;
  std::string error_;
};

// The one cluster of a test program, started on first use.
galera_cluster& shared_galera_cluster();

} // namespace vela::testing
