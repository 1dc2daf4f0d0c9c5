#include "vela/odbc/hosts.h"

#include <algorithm>
#include <random>

#include "vela/odbc/connection.h"
#include "vela/odbc/connection_info.h"
#include "vela/odbc/query.h"
#include "vela/os_error.h"

namespace vela::odbc {

std::wstring server_of(const std::wstring& s) {
  const std::wstring key = server_key(s);
  if (!key.empty()) return attribute_value(s, key);
  const std::wstring datasource = attribute_value(s, L"DSN");
  const std::wstring server = datasource_setting(datasource, L"Servername");
  return server.empty() ? datasource_setting(datasource, L"Server") : server;
}

host_plan plan_hosts(const std::wstring& s, const std::wstring& hosts, bool target_given, bool random_order) {
  host_plan plan{s, {}, 0, !hosts.empty() || target_given};
  const std::wstring server = server_of(s);
  plan.listed = plan.listed || server.find(L',') != std::wstring::npos;
  if (!hosts.empty()) plan.hosts = read_host_list(hosts);
  else if (plan.listed && !server.empty()) plan.hosts = read_host_list(server);
  else plan.hosts.emplace_back();
  if (random_order && plan.hosts.size() > 1) std::shuffle(plan.hosts.begin(), plan.hosts.end(), std::mt19937(std::random_device()()));
  return plan;
}

std::wstring host_text(const host_plan& plan, const cs_host& host) {
  if (!host.name.empty()) return host.text();
  // A database without a server (SQLite) goes by its file, or by its data source.
  for (const std::wstring& named : {server_of(plan.connection_string), attribute_value(plan.connection_string, L"Database"),
                                    attribute_value(plan.connection_string, L"DSN")})
    if (!named.empty()) return named;
  return L"localhost";
}

host_answer check_target(connection& c, host_target target, result& reason) {
  if (target == host_target::any) return host_answer::taken;
  const wchar_t* const asked = c.profile().target_query(target);
  if (!*asked) return host_answer::cannot_tell;
  host_answer answer = host_answer::cannot_tell;
  {
    query q(&c, asked);
    const result r = q.execute(q.text(), false, false);
    if (!r.succeeded()) {
      reason = r;
      answer = host_answer::refused;
    } else if (q.rows().count() == 1 && q.rows().bind(1, nullptr, bind_type::wide_text, 0).succeeded() &&
               q.rows().fetch().succeeded()) {
      answer = q.rows().at(0).text() == L"1" ? host_answer::taken : host_answer::not_target;
    }
  }
  if (!c.autocommit()) (void)c.transact(1);  // nothing to keep
  return answer;
}

result connect_hosts(connection& c, host_plan& plan, size_t first, host_target target, std::wstring* completed,
                     const std::function<bool(const host_attempt&)>& refused) {
  result last;
  for (size_t i = 0; i < plan.hosts.size(); ++i) {
    const size_t at = (first + i) % plan.hosts.size();
    const cs_host& host = plan.hosts[at];
    const std::wstring aimed = host.name.empty() ? plan.connection_string : for_host(plan.connection_string, host);
    host_attempt attempt{host_text(plan, host), host_answer::refused, {}};
    last = c.connect(nullptr, aimed, completed, completion::complete_required);
    if (last.succeeded()) attempt.answer = check_target(c, target, attempt.reason);
    else attempt.reason = last;
    if (attempt.answer == host_answer::taken) {
      plan.current = at;
      return last;
    }
    if (c.hdbc()) (void)c.disconnect();
    if (!refused(attempt)) break;
  }
  return failure(last.succeeded() ? os::err_invalid_function : last.code());
}

} // namespace vela::odbc
