#include "Terminal/input/schema_cache.h"

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "vela/odbc/driver_profile.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

// The longest a catalog call may keep the prompt waiting.
constexpr auto catalog_patience = std::chrono::milliseconds(2000);

// Cancels the connection's catalog call when it has not ended before the time is up.
class catalog_deadline {
 public:
  explicit catalog_deadline(odbc::connection& c)
      : watcher_([this, &c] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!ended_.wait_for(lock, catalog_patience, [this] { return done_; })) c.cancel();
        }) {}
  ~catalog_deadline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    ended_.notify_all();
    watcher_.join();
  }
  catalog_deadline(const catalog_deadline&) = delete;
  catalog_deadline& operator=(const catalog_deadline&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread watcher_;  // last: it starts once the rest is there
};

const std::vector<std::wstring> nothing;
const std::vector<odbc::table_info> no_tables;

std::wstring lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return s;
}

} // namespace

bool schema_cache::bounded(const std::function<result()>& call) {
  again_ = false;
  if (!connection_.hdbc()) return false;
  const auto began = std::chrono::steady_clock::now();
  catalog_deadline deadline(connection_);
  if (call().succeeded()) return true;
  again_ = std::chrono::steady_clock::now() - began < catalog_patience / 2;
  return false;
}

const std::vector<odbc::table_info>& schema_cache::tables() {
  if (tables_) return *tables_;
  tables_.emplace();
  std::vector<odbc::table_info> found;
  if (!bounded([&] { return odbc::connection_info(&connection_).ListTbls(found, L"", L"", L"", L""); })) {
    if (again_) tables_.reset();
    return again_ ? no_tables : *tables_;
  }
  const odbc::driver_profile& profile = connection_.profile();
  for (odbc::table_info& t : found)
    if (!profile.is_system_object(t.catalog, t.schema, t.name)) tables_->push_back(std::move(t));
  return *tables_;
}

const std::vector<std::wstring>& schema_cache::tables_in(const std::wstring& schema) {
  const std::wstring key = lower(schema);
  if (const auto it = schema_tables_.find(key); it != schema_tables_.end()) return it->second;
  std::vector<std::wstring>& names = schema_tables_[key];
  const odbc::driver_profile& profile = connection_.profile();
  const bool catalog = profile.two_part_name_is_catalog();
  // Some drivers list a system schema's tables only when asked for their types.
  for (const wchar_t* types : {L"", L"SYSTEM TABLE,SYSTEM VIEW"}) {
    if (*types && !profile.is_system_schema(schema)) break;
    std::vector<odbc::table_info> found;
    if (!bounded([&] {
          return odbc::connection_info(&connection_).ListTbls(found, catalog ? schema : L"", catalog ? L"" : schema, L"", types);
        })) {
      if (!again_) break;
      schema_tables_.erase(key);
      return nothing;
    }
    for (const odbc::table_info& t : found)
      if (compare_nocase(catalog ? t.catalog : t.schema, schema) == 0 &&
          std::find(names.begin(), names.end(), t.name) == names.end())
        names.push_back(t.name);
  }
  return names;
}

const std::vector<std::wstring>& schema_cache::schemas() {
  if (schemas_) return *schemas_;
  schemas_.emplace();
  const odbc::driver_profile& profile = connection_.profile();
  const bool catalogs = profile.two_part_name_is_catalog();
  std::vector<std::wstring> found;
  if (!bounded([&] { return odbc::connection_info(&connection_).ListSchemas(found, catalogs); })) {
    if (again_) schemas_.reset();
    return again_ ? nothing : *schemas_;
  }
  for (std::wstring& n : found)
    if (!profile.is_system_object(catalogs ? n : L"", catalogs ? L"" : n, n)) schemas_->push_back(std::move(n));
  return *schemas_;
}

const std::vector<std::wstring>& schema_cache::columns(const std::wstring& table) {
  const std::wstring key = lower(table);
  if (const auto it = columns_.find(key); it != columns_.end()) return it->second;
  std::vector<std::wstring>& names = columns_[key];
  std::vector<odbc::column_info> found;
  if (!find_columns_) return names;
  if (!bounded([&] { return find_columns_(connection_, table, found); })) {
    if (!again_) return names;
    columns_.erase(key);
    return nothing;
  }
  for (const odbc::column_info& c : found) names.push_back(c.column);
  return names;
}

void schema_cache::clear() {
  tables_.reset();
  schemas_.reset();
  schema_tables_.clear();
  columns_.clear();
}

} // namespace vela::terminal
