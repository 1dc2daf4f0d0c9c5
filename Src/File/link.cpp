#include "File/link.h"

#include <chrono>
#include <thread>

#include "File/strings.h"
#include "vela/console.h"
#include "vela/format.h"
#include "vela/os_error.h"
#include "vela/wstr.h"

namespace vela::blobfile {

namespace {

std::wstring text(uint32_t id) { return load_string(nullptr, id); }

// The value of "-name:value", or false when argument is not that option.
bool value_of(const std::wstring& argument, const wchar_t* name, std::wstring& value) {
  const std::wstring head = std::wstring(name) + L":";
  if (argument.compare(0, head.size(), head) != 0) return false;
  value = argument.substr(head.size());
  return true;
}

// 0 to 100, in digits only.
bool read_retries(const std::wstring& value, uint32_t& n) {
  if (value.empty() || value.size() > 3) return false;
  n = 0;
  for (const wchar_t c : value) {
    if (c < L'0' || c > L'9') return false;
    n = n * 10 + static_cast<uint32_t>(c - L'0');
  }
  return n <= 100;
}

// A line of standard error, after what standard output holds so far.
void say_apart(const std::wstring& line) {
  console().flush();
  error_console().write(line).line_break();
  error_console().flush();
}

void say_line(const std::wstring& line) {
  console().write(line).line_break();
  console().flush();
}

// A host's refusal, its reason's own line break dropped.
void report_refusal(const odbc::host_attempt& a, odbc::host_target target) {
  const wchar_t* const name = odbc::host_target_name(target);
  switch (a.answer) {
    case odbc::host_answer::refused: {
      std::wstring reason = a.reason.text();
      while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r')) reason.pop_back();
      say_apart(wformat(text(string_id::host_refused).c_str(), a.host.c_str(), reason.c_str()));
      break;
    }
    case odbc::host_answer::not_target:
      say_apart(wformat(text(string_id::host_not_target).c_str(), a.host.c_str(), name));
      break;
    default: say_apart(wformat(text(string_id::host_target_unknown).c_str(), a.host.c_str(), name)); break;
  }
}

uint32_t conflict_text(odbc::conflict why) {
  switch (why) {
    case odbc::conflict::serialization: return string_id::conflict_serialization;
    case odbc::conflict::deadlock: return string_id::conflict_deadlock;
    case odbc::conflict::certification: return string_id::conflict_certification;
    case odbc::conflict::not_prepared: return string_id::conflict_not_prepared;
    case odbc::conflict::none:
    case odbc::conflict::lost_connection: break;
  }
  return string_id::conflict_lost_connection;
}

} // namespace

option_read read_link_option(const std::wstring& argument, link_options& o, std::wstring& message) {
  std::wstring value;
  const wchar_t* option = nullptr;
  bool valid = true;
  if (value_of(argument, option = L"-hosts", value)) {
    o.hosts = value;
    valid = !odbc::read_host_list(value).empty();
  } else if (value_of(argument, option = L"-target", value)) {
    o.target_given = true;
    valid = odbc::read_host_target(value, o.target);
  } else if (value_of(argument, option = L"-host_order", value)) {
    o.random_order = compare_nocase(value, L"random") == 0;
    valid = o.random_order || compare_nocase(value, L"listed") == 0;
  } else if (value_of(argument, option = L"-retry", value)) {
    valid = read_retries(value, o.retries);
  } else {
    return option_read::not_ours;
  }
  if (valid) return option_read::taken;
  message = wformat(text(string_id::invalid_value).c_str(), value.c_str(), option);
  return option_read::invalid;
}

link::link(const std::wstring& connection_string, const link_options& options)
    : plan_(odbc::plan_hosts(connection_string, options.hosts, options.target_given, options.random_order)),
      options_(options) {}

result link::try_hosts(size_t first) {
  const result r = odbc::connect_hosts(conn_, plan_, first, options_.target, nullptr, [&](const odbc::host_attempt& a) {
    report_refusal(a, options_.target);
    return true;
  });
  if (r.succeeded()) return r;
  return failure(r.code(), wformat(text(string_id::no_host_used).c_str(), static_cast<unsigned>(plan_.hosts.size())));
}

result link::open() {
  if (plan_.hosts.empty())
    return failure(os::err_invalid_parameter, wformat(text(string_id::invalid_host_list).c_str(),
                                                      (options_.hosts.empty() ? odbc::server_of(plan_.connection_string)
                                                                              : options_.hosts).c_str()));
  // No parent window: drivers complete what they can and never prompt.
  if (!plan_.listed) return conn_.connect(nullptr, plan_.connection_string, nullptr, odbc::completion::complete_required);
  console().line_break();
  const result r = try_hosts(0);
  if (r.succeeded()) say_line(wformat(text(string_id::connected_host).c_str(), odbc::host_text(plan_, plan_.hosts[plan_.current]).c_str()));
  return r;
}

result link::reopen() {
  (void)conn_.disconnect();  // the connection is gone; its handle is freed
  const result r = try_hosts((plan_.current + 1) % plan_.hosts.size());
  if (r.succeeded()) say_line(wformat(text(string_id::reconnected).c_str(), odbc::host_text(plan_, plan_.hosts[plan_.current]).c_str()));
  return r;
}

void retry_count::report() const {
  if (times == 0) return;
  const std::wstring why = text(conflict_text(last));
  say_line(times == 1 ? wformat(text(string_id::retried_once).c_str(), why.c_str())
                      : wformat(text(string_id::retried_times).c_str(), times, why.c_str()));
}

bool again_after(link& l, const result& r, retry_count& count) {
  const odbc::conflict why = odbc::conflict_of(r);
  if (why == odbc::conflict::none || count.times >= l.retries()) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(odbc::retry_delay_ms(count.times)));
  // A node not ready stays so for a while: the next host may be.
  count.reopened = why == odbc::conflict::lost_connection || why == odbc::conflict::not_prepared;
  if (count.reopened) {
    console().line_break();
    if (const result opened = l.reopen(); !opened.succeeded()) {
      say_apart(opened.text());
      return false;
    }
  }
  ++count.times;
  count.last = why;
  return true;
}

} // namespace vela::blobfile
