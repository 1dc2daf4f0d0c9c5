// Whole tables from another data source: made on the target, their rows copied by one job or
// several at once (each on its own pair of connections), then their keys and indexes, and
// the counts of both sides compared.
#include "Terminal/load/database_copy.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "Terminal/load/loader.h"
#include "Terminal/session/context.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/odbc/bulk_insert.h"
#include "vela/odbc/connection_info.h"
#include "vela/odbc/driver_profile.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/hosts.h"
#include "vela/odbc/table_schema.h"
#include "vela/os_error.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

using creation = terminal_options::table_creation;

struct table_copy {
  odbc::table_schema source;
  std::wstring target;   // its name on the target, quoted
  bool created = false;  // made by this copy, which makes its keys too
  std::wstring why;      // the first failure (empty: none)
  uint64_t read = 0, written = 0;
  double seconds = 0;
  std::wstring source_count = L"?", target_count = L"?";
  std::vector<std::wstring> notes;  // told after the table's line
  bool failed() const { return !why.empty(); }
};

std::wstring failure_text(const result& r) {
  std::wstring t = r.text().empty() ? r.format(L"%d") : r.text();
  trim(t, L"", L"\r\n");
  return t;
}

result run(odbc::connection& c, const std::wstring& text) {
  odbc::query q(&c, text);
  return q.execute(text, !c.autocommit(), false);
}

// The first column of each row of a query, as text.
result first_values(odbc::connection& c, const std::wstring& text, std::vector<std::wstring>& out) {
  odbc::query q(&c, text);
  result r = q.execute(text, false, false);
  if (r.succeeded()) r = q.rows().bind(1, nullptr, odbc::bind_type::wide_text, 0);
  result end;
  while (r.succeeded() && q.rows().fetch_row(end)) out.push_back(q.rows().at(0).text());
  if (r.succeeded() && end.code() != (odbc::no_data_error() & 0x3FFFFFFF)) r = end;
  return r;
}

std::wstring count_of(odbc::connection& c, const std::wstring& table) {
  std::vector<std::wstring> v;
  return first_values(c, L"SELECT COUNT(*) FROM " + table, v).succeeded() && v.size() == 1 ? v[0] : L"?";
}

// The tables the options name, in the order given (all: in the catalog's order).
std::wstring choose_tables(odbc::connection& from, const terminal_options& o, const odbc::driver_profile& target,
                           std::vector<table_copy>& chosen) {
  const odbc::driver_profile& p = from.profile();
  std::wstring catalog, schema = o.copy_schema;
  if (p.two_part_name_is_catalog()) {
    catalog = o.copy_schema.empty() ? odbc::ask_info_text(from.hdbc(), odbc::info_text::database_name) : o.copy_schema;
    schema.clear();
  }
  std::vector<odbc::table_info> listed, own;
  const result r = odbc::connection_info(&from).ListTbls(listed, catalog, schema, L"%", L"TABLE");
  if (!r.succeeded()) return message(string_id::tables_not_started, failure_text(r).c_str());
  for (const auto& t : listed)
    if (t.type == L"TABLE" && !p.is_system_object(t.catalog, t.schema, t.name)) own.push_back(t);
  std::vector<const odbc::table_info*> named;
  if (o.copy_tables.empty() || o.copy_tables == L"*") {
    for (const auto& t : own) named.push_back(&t);
  } else {
    for (size_t at = 0; at <= o.copy_tables.size();) {
      const size_t comma = std::min(o.copy_tables.find(L',', at), o.copy_tables.size());
      std::wstring name = o.copy_tables.substr(at, comma - at);
      at = comma + 1;
      trim(name, L" ", L" ");
      const odbc::table_info* found = nullptr;
      for (const auto& t : own) found = found ? found : t.name == name ? &t : nullptr;
      for (const auto& t : own) found = found ? found : compare_nocase(t.name, name) == 0 ? &t : nullptr;
      if (!found) return message(string_id::tables_no_such, name.c_str());
      named.push_back(found);
    }
  }
  if (named.empty()) return str(string_id::tables_none);
  for (const odbc::table_info* t : named) {
    table_copy c;
    c.source.catalog = t->catalog;
    c.source.schema = t->schema;
    c.source.name = t->name;
    c.target = target.quote_identifier(t->name);
    chosen.push_back(std::move(c));
  }
  return std::wstring();
}

bool table_there(odbc::connection& c, const std::wstring& table) {
  odbc::query q(&c, L"SELECT * FROM " + table + L" WHERE 1=0");
  const bool there = q.execute(q.text(), false, false).succeeded();
  if (!there && !c.autocommit()) (void)c.transact(1);  // a failed statement spoils PostgreSQL's transaction
  return there;
}

// REPLACE: the tables that are there dropped first. A foreign key between two of them holds the
// referenced one until the other is gone: passes until one drops nothing.
void drop_tables(odbc::connection& to, std::vector<table_copy>& tables) {
  std::vector<table_copy*> left;
  for (auto& t : tables)
    if (table_there(to, t.target)) left.push_back(&t);
  for (bool dropped = true; dropped && !left.empty();) {
    dropped = false;
    for (auto it = left.begin(); it != left.end();) {
      const bool gone = run(to, L"DROP TABLE " + (*it)->target).succeeded();
      if (!gone && !to.autocommit()) (void)to.transact(1);
      it = gone ? left.erase(it) : it + 1;
      dropped = dropped || gone;
    }
  }
}

void make_tables(odbc::connection& to, std::vector<table_copy>& tables, creation how, odbc::key_names& names) {
  if (how == creation::replace) drop_tables(to, tables);
  for (auto& t : tables) {
    if (t.failed()) continue;
    if (how == creation::if_not_exists && table_there(to, t.target)) continue;  // loaded as it is
    const result r = run(to, odbc::create_copy_statement(t.source, t.target, to.profile(), to.data_types(), names));
    if (r.succeeded()) t.created = true;
    else t.why = failure_text(r);
  }
}

// A share of one table's rows: all of them, or those whose integer key leaves the remainder
// part (or -part) when divided by parts.
struct table_part {
  table_copy* table = nullptr;
  size_t part = 0, parts = 1;
};

// More jobs than tables: a table with an integer key is shared out among as many jobs as there
// are for each table, so that one large table does not hold the copy to one job.
std::vector<table_part> parts_of(std::vector<table_copy>& tables, size_t jobs) {
  std::vector<table_part> parts;
  const size_t each = std::max<size_t>(1, jobs / std::max<size_t>(1, tables.size()));
  for (auto& t : tables) {
    const size_t n = odbc::integer_key(t.source).empty() ? 1 : each;
    for (size_t k = 0; k < n; ++k) parts.push_back({&t, k, n});
  }
  return parts;
}

// The part's rows of a table on a database of profile p: empty for all of them.
std::wstring part_filter(const odbc::driver_profile& p, const table_part& part) {
  if (part.parts == 1) return std::wstring();
  const std::wstring key = p.quote_identifier(odbc::integer_key(part.table->source));
  const std::wstring n = std::to_wstring(part.parts), k = std::to_wstring(part.part);
  return L" WHERE " + key + L" % " + n + L" = " + k + (part.part ? L" OR " + key + L" % " + n + L" = -" + k : L"");
}

std::wstring part_query(const odbc::connection& from, const table_part& p) {
  return L"SELECT * FROM " + odbc::source_table_name(from, p.table->source) + part_filter(from.profile(), p);
}

// The rows of one table's part, from a source connection to a target connection; what it did is
// added to the table's counts under merge. False, with nothing added, when the target's
// connection was lost and the part may be copied again (repeat).
bool copy_rows(odbc::connection& from, odbc::connection& to, const table_part& p, size_t batch_rows, std::mutex& merge,
               bool repeat) {
  table_copy& t = *p.table;
  const auto start = std::chrono::steady_clock::now();
  const std::wstring text = part_query(from, p);
  odbc::query q(&from, text);
  result r = q.execute(text, false, false);
  std::wstring refused;
  uint64_t written = 0, read = 0;
  bool target_lost = false;
  if (r.succeeded()) {
    odbc::bulk_insert e(to, batch_rows);
    e.on_failure = [&refused, &t](size_t line, const std::wstring& why) {
      std::wstring text = why;
      trim(text, L"", L"\r\n");
      if (refused.empty()) refused = message(string_id::row_not_loaded, t.source.name.c_str(), static_cast<unsigned>(line), text.c_str());
    };
    r = e.prepare(t.target, {});
    if (r.succeeded()) {
      const std::unique_ptr<odbc::bulk_source> rows = result_rows(q.rows(), from.profile().narrow_copy_text());
      r = e.load(*rows);
      target_lost = e.connection_lost();
    } else {
      target_lost = odbc::connection_lost(r);
    }
    written = e.loaded();
    read = e.loaded() + e.failed();
    trim(refused, L"", L"\r\n");
  }
  if (repeat && target_lost) return false;
  if (!r.succeeded() && refused.empty()) refused = failure_text(r);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::lock_guard<std::mutex> hold(merge);
  t.written += written;
  t.read += read;
  t.seconds = std::max(t.seconds, seconds);
  if (t.why.empty()) t.why = refused;
  return true;
}

// Where the jobs write: the target string as it is, or its hosts, a job's first the one after
// the job before's.
struct copy_target {
  std::wstring string;
  const odbc::host_plan* hosts = nullptr;  // nullptr: no list of hosts
  odbc::host_target target = odbc::host_target::any;
};

// The target connection from host first of the list on (or the string); its host named.
result connect_target(odbc::connection& to, const copy_target& where, size_t first, odbc::host_plan& plan, std::wstring& host) {
  if (!where.hosts) return to.connect(nullptr, where.string);
  plan = *where.hosts;
  const result r = odbc::connect_hosts(to, plan, first % plan.hosts.size(), where.target, nullptr,
                                       [](const odbc::host_attempt&) { return true; });
  if (r.succeeded()) host = odbc::host_text(plan, plan.hosts[plan.current]);
  return r;
}

// A part whose target went: over a list of hosts, a table this copy made has the part's rows
// it took emptied on the next host that answers, and the part is copied again there (at most
// once a host); otherwise the part fails as it went.
void copy_part(odbc::connection& from, odbc::connection& to, const table_part& p, size_t batch_rows, std::mutex& merge,
               const copy_target& where, odbc::host_plan& plan) {
  table_copy& t = *p.table;
  const bool movable = where.hosts && t.created;
  for (size_t tries = 0; !copy_rows(from, to, p, batch_rows, merge, movable && tries < plan.hosts.size()); ++tries) {
    if (to.hdbc()) (void)to.disconnect();
    std::wstring host;
    result r = connect_target(to, where, plan.current + 1, plan, host);
    if (r.succeeded()) r = run(to, L"DELETE FROM " + t.target + part_filter(to.profile(), p));
    const std::lock_guard<std::mutex> hold(merge);
    if (!r.succeeded()) {
      if (t.why.empty()) t.why = failure_text(r);
      return;
    }
    t.notes.push_back(message(string_id::table_copied_again, t.source.name.c_str(), host.c_str()));
  }
}

// One job: its own pair of connections, and the next part not taken by another job until
// none is left. A table's counts change only under merge until every job has ended.
void copy_job(std::atomic<size_t>& next, const std::vector<table_part>& parts, std::mutex& merge, const std::wstring& source,
              const copy_target& target, size_t job, size_t batch_rows) {
  odbc::connection from, to;
  result r = from.connect(nullptr, source);
  // Read row by row, so that memory does not grow with a table's rows.
  const std::wstring streamed = r.succeeded() ? from.profile().streaming_connection(source) : source;
  if (r.succeeded() && streamed != source) {
    (void)from.disconnect();
    r = from.connect(nullptr, streamed);
  }
  std::wstring why = r.succeeded() ? std::wstring() : odbc::mask_secrets(failure_text(r), source);
  odbc::host_plan plan;
  if (r.succeeded()) {
    std::wstring host;
    r = connect_target(to, target, target.hosts ? target.hosts->current + job : 0, plan, host);
    if (!r.succeeded()) why = odbc::mask_secrets(failure_text(r), target.string);
  }
  for (size_t i = next++; i < parts.size(); i = next++) {
    table_copy& t = *parts[i].table;
    if (why.empty()) {
      copy_part(from, to, parts[i], batch_rows, merge, target, plan);
      continue;
    }
    const std::lock_guard<std::mutex> hold(merge);
    if (t.why.empty()) t.why = why;
  }
}

// The jobs after the first run on threads of their own; an exception of one (an OS failure)
// reaches the caller once every job has ended.
void copy_all_rows(std::vector<table_copy>& tables, const terminal_options& o, const copy_target& target) {
  std::vector<table_part> parts;
  for (const table_part& p : parts_of(tables, o.copy_jobs))
    if (!p.table->failed()) parts.push_back(p);
  std::atomic<size_t> next{0};
  std::mutex merge;
  const size_t jobs = std::min(o.copy_jobs, parts.size());
  std::vector<std::thread> running;
  std::vector<std::exception_ptr> thrown(jobs);
  for (size_t j = 1; j < jobs; ++j)
    running.emplace_back([&, j]() {
      try {
        copy_job(next, parts, merge, o.copy_from, target, j, o.batch_rows);
      } catch (...) {
        thrown[j] = std::current_exception();
        next = parts.size();  // the other jobs take no more parts
      }
    });
  try {
    if (jobs) copy_job(next, parts, merge, o.copy_from, target, 0, o.batch_rows);
  } catch (...) {
    thrown[0] = std::current_exception();
    next = parts.size();
  }
  for (auto& t : running) t.join();
  for (const auto& e : thrown)
    if (e) std::rethrow_exception(e);
}

// After every table's rows: primary keys and indexes, then the foreign keys between tables
// that are both there.
void make_keys(odbc::connection& to, std::vector<table_copy>& tables, odbc::key_names& names, terminal_context& ctx) {
  auto run_all = [&to](table_copy& t, const std::vector<std::wstring>& statements) {
    for (const auto& s : statements) {
      if (t.failed()) return;
      const result r = run(to, s);
      if (!r.succeeded()) t.why = failure_text(r);
    }
  };
  for (auto& t : tables)
    if (t.created && !t.failed()) run_all(t, odbc::key_statements(t.source, t.target, to.profile(), names));
  for (auto& t : tables) {
    if (!t.created || t.failed()) continue;
    odbc::table_schema keys = t.source;
    keys.references.clear();
    for (const auto& ref : t.source.references) {
      const bool copied = std::any_of(tables.begin(), tables.end(), [&ref](const table_copy& o) { return o.source.name == ref.table; });
      if (copied) keys.references.push_back(ref);
      else ctx.routes.info_line(message(string_id::not_copied_reference, ref.name.c_str(), t.source.name.c_str(), ref.table.c_str()));
    }
    run_all(t, odbc::reference_statements(keys, t.target, to.profile(), names));
  }
}

std::wstring seconds_text(double s) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%.2f", s);
  return text;
}

// One line a table; the failures on their own lines; the views, routines and triggers left.
void report(terminal_context& ctx, odbc::connection& from, const std::vector<table_copy>& tables) {
  unsigned failed = 0;
  for (const auto& t : tables) {
    const auto id = t.failed() ? string_id::table_copy_failed_line : string_id::tables_copied_line;
    ctx.routes.info_line(message(id, t.source.name.c_str(), std::to_wstring(t.read).c_str(), std::to_wstring(t.written).c_str(),
                                 seconds_text(t.seconds).c_str(), t.source_count.c_str(), t.target_count.c_str()));
    for (const auto& part : t.source.left_out) ctx.routes.info_line(message(string_id::not_copied_part, part.c_str(), t.source.name.c_str()));
    for (const auto& note : t.notes) ctx.routes.info_line(note);
  }
  for (const auto& t : tables) {
    if (!t.failed()) continue;
    ++failed;
    ctx.report_failure(message(string_id::table_copy_failed, t.source.name.c_str(), t.why.c_str()));
  }
  ctx.routes.info_line(message(string_id::tables_copied, static_cast<unsigned>(tables.size() - failed), failed));
  const odbc::driver_profile& p = from.profile();
  odbc::connection_info info(&from);
  std::vector<odbc::table_info> objects;
  if (info.ListTbls(objects, L"", L"", L"%", L"VIEW").succeeded())
    for (const auto& v : objects)
      if (!p.is_system_object(v.catalog, v.schema, v.name))
        ctx.routes.info_line(message(string_id::not_copied, str(string_id::not_copied_view).c_str(), v.name.c_str()));
  if (info.ListRoutines(objects).succeeded())
    for (const auto& r : objects) {
      if (p.is_system_object(r.catalog, r.schema, r.name)) continue;
      const auto kind = r.type == L"PROCEDURE" ? string_id::not_copied_procedure
                        : r.type == L"FUNCTION" ? string_id::not_copied_function : string_id::not_copied_routine;
      ctx.routes.info_line(message(string_id::not_copied, str(kind).c_str(), r.name.c_str()));
    }
  std::vector<std::wstring> triggers;
  if (*p.triggers_query() && first_values(from, p.triggers_query(), triggers).succeeded())
    for (const auto& name : triggers)
      ctx.routes.info_line(message(string_id::not_copied, str(string_id::not_copied_trigger).c_str(), name.c_str()));
}

bool not_started(terminal_context& ctx, const std::wstring& text) {
  ctx.report_failure(text);
  const result f = failure(os::err_invalid_function, text);
  ctx.note(f);
  if (ctx.load_failure.succeeded()) ctx.load_failure = f;
  return false;
}

} // namespace

bool copy_tables(terminal_context& ctx) {
  const terminal_options& o = ctx.options;
  copy_target target{ctx.named.connection_string.empty() ? o.connection_string : ctx.named.connection_string};
  // The session's hosts when it connected through a list of them.
  if (ctx.named.connection_string.empty() && ctx.hosts.listed && ctx.hosts.hosts.size() > 1) {
    target.hosts = &ctx.hosts;
    target.target = o.target;
  }
  odbc::connection from;
  result r = from.connect(nullptr, o.copy_from);
  if (!r.succeeded()) return not_started(ctx, message(string_id::tables_not_started, odbc::mask_secrets(failure_text(r), o.copy_from).c_str()));
  std::vector<table_copy> tables;
  const std::wstring why = choose_tables(from, o, ctx.connection.profile(), tables);
  if (!why.empty()) return not_started(ctx, why);
  for (auto& t : tables) {
    r = odbc::read_table_schema(from, t.source);
    if (!r.succeeded()) t.why = failure_text(r);
  }
  odbc::key_names names;
  make_tables(ctx.connection, tables, o.copy_creation, names);
  copy_all_rows(tables, o, target);
  make_keys(ctx.connection, tables, names, ctx);
  bool all = true;
  for (auto& t : tables) {
    t.source_count = count_of(from, odbc::source_table_name(from, t.source));
    t.target_count = count_of(ctx.connection, t.target);
    if (t.why.empty() && (t.source_count == L"?" || t.source_count != t.target_count)) t.why = str(string_id::table_counts_differ);
    all = all && !t.failed();
  }
  report(ctx, from, tables);
  console().flush();
  if (!all) {
    const result f = failure(os::err_invalid_data, str(string_id::table_counts_differ));
    ctx.note(f);
    if (ctx.load_failure.succeeded()) ctx.load_failure = f;
  }
  return all;
}

} // namespace vela::terminal
