// A PostgreSQL server for the tests: initdb into a temporary folder, started on a free
// loopback port (as the postgres user when the tests run as root), stopped at the end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace vela::testing {

class pg_server {
 public:
  // Starts the server; on failure, error() tells why and running() is false.
  pg_server();
  // A standby of a running primary: its base backup (pg_basebackup -R) in a folder of its
  // own, started on a free port; it follows the primary until promoted.
  struct standby_of {
    const pg_server& primary;
  };
  explicit pg_server(standby_of from);
  ~pg_server();
  pg_server(const pg_server&) = delete;
  pg_server& operator=(const pg_server&) = delete;

  bool running() const { return running_; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  static const char* user() { return "vela"; }
  static const char* password() { return "secret"; }
  // "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=...;Database=postgres;UID=vela;PWD=secret;"
  std::string connection_string() const;
  // Runs SQL through psql; returns its exit status.
  int psql(const std::string& sql) const;
  // Runs one of the server's client programs (psql, pg_dump) as the test user on database db.
  run_result client(const std::string& program, const std::string& db, std::vector<std::string> args,
                    const std::string& input = {}) const;

  // The process ids of the sessions running a statement that begins with text (other than
  // the one asking).
  std::vector<int> active_backends(const std::string& text) const;
  // What the server's processes show in the process list ("postgres: vela postgres
  // 127.0.0.1(40000) SELECT waiting"): read from the system, as a session may wait for a lock.
  std::vector<std::string> process_titles() const;

  // Kills the server as a crash would (pg_ctl stop -m immediate); returns pg_ctl's status.
  int kill_now();

  // Makes a standby the primary (pg_ctl promote, waiting until it is); returns pg_ctl's status.
  int promote();
  // Whether the server is in recovery (a standby), as psql sees it; false when it cannot say.
  bool in_recovery() const;

  // A loopback port that nothing listens on right now.
  static int free_port();

 private:
  std::string run_as_owner(const std::string& command) const;
  bool make_folder(const char* prefix);
  void start();

  std::string dir_;
  std::string bin_;
  int port_ = 0;
  bool as_root_ = false;
  bool running_ = false;
  std::string error_;
};

// The one server of a test program, started on first use.
pg_server& shared_pg_server();

// A PostgreSQL primary and its standby.
struct pg_pair {
  std::unique_ptr<pg_server> primary;
  std::unique_ptr<pg_server> standby;
  std::string missing;  // binaries this machine lacks: the tests skip
  std::string error;    // why the pair did not start otherwise
};
// The one pair of a test program, started on first use.
pg_pair& shared_pg_pair();

} // namespace vela::testing
