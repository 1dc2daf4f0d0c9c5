// A connection tried on the hosts of a list until one accepts and is what the target asks.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "vela/odbc/connection_string.h"
#include "vela/odbc/driver_profile.h"
#include "vela/result.h"

namespace vela::odbc {

class connection;

// The hosts a connection string is tried on, in the order they are tried.
struct host_plan {
  std::wstring connection_string;
  std::vector<cs_host> hosts;
  size_t current = 0;    // the host connected
  bool listed = false;   // a list or a target was asked for: each host is tried and checked
};

// The server a connection string names: its own Server or Servername, or its data source's.
std::wstring server_of(const std::wstring& s);

// The hosts of a connection string: hosts when given ("h1,h2:5433"), else the string's server
// when it lists several or a target is to be checked; otherwise one host without a name (the
// string goes to the driver as it is). hosts empty when the list is not one.
host_plan plan_hosts(const std::wstring& s, const std::wstring& hosts, bool target_given, bool random_order);

// How a host is named in messages: as listed, or by the string's server, file or data source.
std::wstring host_text(const host_plan& plan, const cs_host& host);

// What a host did when it was tried.
enum class host_answer : uint8_t {
  taken,        // connected, and what the target asks
  refused,      // the connect, or the target's check, failed: reason holds why
  not_target,   // connected, but not what the target asks
  cannot_tell,  // the driver has no way to tell the target
};
struct host_attempt {
  std::wstring host;  // as host_text names it
  host_answer answer = host_answer::taken;
  result reason;
};

// Whether the connected host is what target asks. A transaction the check opened is ended.
host_answer check_target(connection& c, host_target target, result& reason);

// Tries the plan's hosts from first on, round the list, until one connects and is what target
// asks (plan.current then names it). Each one refused is passed to refused, which returns
// false to give up the rest of the list. The connect of the last host tried is returned; a
// failure when none was taken.
result connect_hosts(connection& c, host_plan& plan, size_t first, host_target target, std::wstring* completed,
                     const std::function<bool(const host_attempt&)>& refused);

} // namespace vela::odbc
