// blobfile's connection: the hosts of its connection string tried in turn until one is what
// -target asks, and opened again on the next one when it is lost.
#pragma once

#include <cstdint>
#include <string>

#include "vela/odbc/connection.h"
#include "vela/odbc/hosts.h"
#include "vela/odbc/retry.h"
#include "vela/result.h"

namespace vela::blobfile {

struct link_options {
  std::wstring hosts;  // -hosts: in place of the string's server
  odbc::host_target target = odbc::host_target::any;
  bool target_given = false;
  bool random_order = false;  // -host_order:random
  uint32_t retries = 0;       // -retry: times a transfer runs again after a conflict
};

// What an argument was to read_link_option.
enum class option_read : uint8_t { not_ours, taken, invalid };
// Reads "-hosts:", "-target:", "-host_order:" or "-retry:" into o. Invalid: the value is not
// one the option takes, and message says so.
option_read read_link_option(const std::wstring& argument, link_options& o, std::wstring& message);

class link {
 public:
  link(const std::wstring& connection_string, const link_options& options);

  // The first connect. Without a list, -hosts or -target the string goes to the driver as
  // it is and nothing more is said; with them each host refused is named on a line of its
  // own (standard error), and the host taken after the connect message.
  result open();
  // After a lost connection, or a node not ready: the next host that is what -target asks.
  result reopen();

  odbc::connection& connection() { return conn_; }
  // A list, -hosts or -target was given: the connect message ends its line.
  bool listed() const { return plan_.listed; }
  uint32_t retries() const { return options_.retries; }

 private:
  result try_hosts(size_t first);

  odbc::connection conn_;
  odbc::host_plan plan_;
  link_options options_;
};

// How often a transfer ran again, and why the last time: "Retried 2 times: deadlock." on a
// line of its own once it ends. Nothing when it never did.
struct retry_count {
  uint32_t times = 0;
  odbc::conflict last = odbc::conflict::none;
  bool reopened = false;  // the last retry opened the connection again: its lines ended the line open
  void report() const;
};

// Whether failure r may run again on l (one more retry is left and r is a conflict), and
// when it may: waits the back-off, and opens l again on the next host when the connection
// went, on lines of their own.
bool again_after(link& l, const result& r, retry_count& count);

} // namespace vela::blobfile
