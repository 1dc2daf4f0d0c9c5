// A MariaDB server for the tests: mariadb-install-db into a temporary folder, mariadbd on a
// free loopback port and its own socket (as the mysql user when the tests run as root),
// stopped at the end, and killed by a watchdog should the test program die first.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace vela::testing {

// What a server needs beyond the usual: lines of its option file, arguments of mariadbd.
struct maria_settings {
  std::vector<std::string> config;
  std::vector<std::string> args;
};

class maria_server {
 public:
  // Starts the server; on failure, error() tells why and running() is false.
  explicit maria_server(maria_settings settings = {});
  ~maria_server();
  maria_server(const maria_server&) = delete;
  maria_server& operator=(const maria_server&) = delete;

  bool running() const { return running_; }
  const std::string& dir() const { return dir_; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  // The server killed (SIGKILL), as a crash would end it.
  void crash() { stop(); }
  static const char* user() { return "vela"; }
  static const char* password() { return "secret"; }
  static const char* database() { return "vela"; }
  // "Driver={MariaDB Unicode};Server=127.0.0.1;Port=...;Database=vela;UID=vela;PWD=secret;"
  std::string connection_string() const;
  // Runs SQL through the command-line client as the server's root; returns its exit status.
  int sql(const std::string& statements) const;
  // Runs one of the server's client programs (mariadb, mariadb-dump) as root.
  run_result client(const std::string& program, std::vector<std::string> args, const std::string& input = {}) const;

 private:
  bool start();
  void stop();

  maria_settings settings_;
  std::string dir_;
  int port_ = 0;
  bool as_root_ = false;
  pid_t pid_ = -1;
  int watchdog_fd_ = -1;
  bool running_ = false;
  std::string error_;
};

// The one server of a test program, started on first use.
maria_server& shared_maria_server();

} // namespace vela::testing
