#include "vela/odbc/driver_profile.h"

#include <algorithm>

#include "odbc/sqltext.h"
#include "vela/odbc/connection_string.h"
#include "vela/odbc/environment.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

// SQLite keeps every row of a result in memory unless stepping; psqlODBC unless it fetches
// through a cursor; MariaDB's driver unless NO_CACHE=1, which it knows from 3.1.17.
// Rowsets of 1,000 rows save each of these drivers work for every row printed: 3% of sqlterm's
// instructions with psqlODBC, 2% with SQLite's driver and 6% with MariaDB's.
const driver_traits known_drivers[] = {
    {L"sqlite3odbc.so", true, true, L"StepAPI=1", L"", 1000},
    {L"libsqlite3odbc.so", true, true, L"StepAPI=1", L"", 1000},
    {L"psqlodbcw.so", true, true, L"UseDeclareFetch=1", L"", 1000},
    {L"psqlodbca.so", true, true, L"UseDeclareFetch=1", L"", 1000},
    {L"libmaodbc.so", true, false, L"NO_CACHE=1", L"03.01.0017", 1000},
};

const struct {
  const wchar_t* dbms;  // part of SQL_DBMS_NAME, any letter case
  byte_literal_form form;
} byte_literal_forms[] = {
    {L"mysql", byte_literal_form::hex},
    {L"mariadb", byte_literal_form::hex},
    {L"sqlite", byte_literal_form::hex_as_text},
    {L"postgresql", byte_literal_form::bytea_hex},
};

byte_literal_form byte_literals_of_dbms(const std::wstring& dbms_name) {
  for (const auto& f : byte_literal_forms)
    if (find_nocase(dbms_name, f.dbms) >= 0) return f.form;
  return byte_literal_form::none;
}

std::wstring ask_info(void* hdbc, SQLUSMALLINT what) {
  if (!hdbc) return {};
  SQLWCHAR name[256] = {};
  SQLSMALLINT length = 0;
  if (!sql_ok(SQLGetInfoW(static_cast<SQLHDBC>(hdbc), what, name, sizeof name, &length))) return {};
  return from_sql(name, 255);
}

} // namespace

std::wstring ask_info_text(void* hdbc, info_text what) {
  static constexpr SQLUSMALLINT types[] = {SQL_DATA_SOURCE_NAME, SQL_DRIVER_NAME, SQL_DRIVER_VER, SQL_DBMS_NAME,
                                           SQL_DBMS_VER,         SQL_USER_NAME,   SQL_DATABASE_NAME, SQL_SERVER_NAME};
  return ask_info(hdbc, types[static_cast<size_t>(what)]);
}

const driver_traits& traits_of_driver(const std::wstring& driver_file) {
  static const driver_traits unknown;
  for (const driver_traits& t : known_drivers)
    if (compare_nocase(driver_file, t.file) == 0) return t;
  return unknown;
}

bool streams_results(const driver_traits& traits, const std::wstring& connection_string) {
  const std::wstring setting = traits.streaming_setting;
  const size_t eq = setting.find(L'=');
  if (eq == std::wstring::npos) return false;
  for (const cs_attribute& a : read_connection_string(connection_string))
    if (compare_nocase(a.key(connection_string), setting.substr(0, eq)) == 0)
      return compare_nocase(a.value(connection_string), setting.substr(eq + 1)) == 0;
  return false;
}

driver_profile::driver_profile(const std::wstring& driver_file, const std::wstring& dbms_name,
                               const std::wstring& connection_string, const driver* adapter)
    : driver_file_(driver_file),
      dbms_name_(dbms_name),
      traits_(&traits_of_driver(driver_file)),
      adapter_(adapter),
      byte_literals_(byte_literals_of_dbms(dbms_name)),
      streams_results_(odbc::streams_results(*traits_, connection_string)),
      // The SQLite driver takes the first row's length for every binary value of an array.
      binary_arrays_(driver_file.find(L"sqlite") == std::wstring::npos) {
  if (find_nocase(dbms_name, L"mysql") >= 0 || find_nocase(dbms_name, L"mariadb") >= 0) family_ = family::mysql;
  else if (dbms_name == L"SQLite") family_ = family::sqlite;
  else if (dbms_name == L"PostgreSQL") family_ = family::postgresql;
}

driver_profile driver_profile::of_connection(void* hdbc, const std::wstring& connection_string, const driver* adapter) {
  driver_profile p(ask_info(hdbc, SQL_DRIVER_NAME), ask_info(hdbc, SQL_DBMS_NAME), connection_string, adapter);
  // Versions of one driver have the same width, so that their texts compare as numbers.
  if (*p.traits_->streaming_since) p.knows_streaming_ = ask_info(hdbc, SQL_DRIVER_VER) >= p.traits_->streaming_since;
  return p;
}

std::wstring driver_profile::streaming_connection(const std::wstring& source) const {
  // Read row by row: a cursor (fetching 2000 rows at a time), sqlite3_step.
  const wchar_t* key = family_ == family::postgresql ? L"UseDeclareFetch" : family_ == family::sqlite ? L"StepAPI" : nullptr;
  if (!key) return source;
  for (const cs_attribute& a : read_connection_string(source))
    if (a.has_value() && compare_nocase(a.key(source), key) == 0) return source;
  std::wstring streamed = source;
  while (!streamed.empty() && (streamed.back() == L';' || streamed.back() == L' ')) streamed.pop_back();
  return streamed + (family_ == family::sqlite ? L";StepAPI=1;" : L";UseDeclareFetch=1;Fetch=2000;");
}

std::wstring driver_profile::quote_identifier(const std::wstring& name) const {
  const wchar_t* quote = family_ == family::mysql ? L"`" : family_ == family::unknown ? nullptr : L"\"";
  if (!quote) return adapter_ ? adapter_->quote_column(name) : name;
  std::wstring quoted = name;
  replace_all(quoted, quote, std::wstring(2, *quote));
  return quote + quoted + quote;
}

std::wstring driver_profile::quote_literal(const std::wstring& text) const {
  std::wstring quoted = text;
  if (family_ == family::mysql) replace_all(quoted, L"\\", L"\\\\");
  replace_all(quoted, L"'", L"''");
  return L"'" + quoted + L"'";
}

bool driver_profile::is_system_schema(const std::wstring& schema) const {
  static const wchar_t* const postgresql[] = {L"information_schema", L"pg_catalog", L"pg_toast"};
  static const wchar_t* const mysql[] = {L"information_schema", L"mysql", L"performance_schema", L"sys"};
  if (family_ == family::postgresql) {
    for (const wchar_t* s : postgresql)
      if (schema == s) return true;
  } else if (family_ == family::mysql) {
    for (const wchar_t* s : mysql)
      if (compare_nocase(schema, s) == 0) return true;
  }
  return false;
}

bool driver_profile::is_system_object(const std::wstring& catalog, const std::wstring& schema,
                                      const std::wstring& name) const {
  if (family_ == family::sqlite) return compare_nocase(std::wstring_view(name).substr(0, 7), L"sqlite_") == 0;
  return is_system_schema(family_ == family::mysql && schema.empty() ? catalog : schema);
}

const wchar_t* driver_profile::check_constraints_query() const {
  // PostgreSQL lists each NOT NULL as a check "column IS NOT NULL" as well; those are left out.
  if (family_ == family::postgresql)
    return L"SELECT tc.constraint_name, cc.check_clause FROM information_schema.table_constraints tc"
           L" JOIN information_schema.check_constraints cc ON cc.constraint_schema = tc.constraint_schema"
           L" AND cc.constraint_name = tc.constraint_name WHERE tc.constraint_type = 'CHECK'"
           L" AND tc.table_schema = ? AND tc.table_name = ? AND cc.check_clause NOT LIKE '%IS NOT NULL'"
           L" ORDER BY 1";
  if (family_ == family::mysql)
    return L"SELECT constraint_name, CAST(check_clause AS CHAR(4000)) FROM information_schema.check_constraints"
           L" WHERE constraint_schema = ? AND table_name = ? ORDER BY 1";
  return L"";
}

namespace {

struct target_word {
  const wchar_t* name;
  host_target target;
};
constexpr target_word target_words[] = {{L"any", host_target::any},
                                        {L"read-write", host_target::read_write},
                                        {L"read-only", host_target::read_only},
                                        {L"primary", host_target::primary},
                                        {L"standby", host_target::standby}};

// A Galera node that is not synced takes no statements; a server without Galera passes.
#define VELA_GALERA_SYNCED                                                                                  \
  L"(COALESCE((SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_VARIABLES WHERE VARIABLE_NAME = "      \
  L"'WSREP_ON'), 'OFF') = 'OFF' OR (COALESCE((SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS " \
  L"WHERE VARIABLE_NAME = 'WSREP_READY'), 'OFF') = 'ON' AND COALESCE((SELECT VARIABLE_VALUE FROM "          \
  L"information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_LOCAL_STATE'), '0') = '4'))"

} // namespace

bool read_host_target(const std::wstring& word, host_target& target) {
  std::wstring w = word;
  std::replace(w.begin(), w.end(), L'_', L'-');
  for (const target_word& t : target_words)
    if (compare_nocase(w, t.name) == 0) {
      target = t.target;
      return true;
    }
  return false;
}

const wchar_t* host_target_name(host_target target) {
  for (const target_word& t : target_words)
    if (t.target == target) return t.name;
  return L"any";
}

const wchar_t* driver_profile::target_query(host_target target) const {
  if (target == host_target::any) return L"";
  if (family_ == family::postgresql) {
    switch (target) {
      case host_target::read_write: return L"SELECT CASE WHEN current_setting('transaction_read_only') = 'off' THEN 1 ELSE 0 END";
      case host_target::read_only: return L"SELECT CASE WHEN current_setting('transaction_read_only') = 'on' THEN 1 ELSE 0 END";
      case host_target::primary: return L"SELECT CASE WHEN pg_is_in_recovery() THEN 0 ELSE 1 END";
      default: return L"SELECT CASE WHEN pg_is_in_recovery() THEN 1 ELSE 0 END";
    }
  }
  if (family_ == family::mysql) {
    const bool writable = target == host_target::read_write || target == host_target::primary;
    return writable ? L"SELECT CASE WHEN @@read_only = 0 AND " VELA_GALERA_SYNCED L" THEN 1 ELSE 0 END"
                    : L"SELECT CASE WHEN @@read_only = 1 AND " VELA_GALERA_SYNCED L" THEN 1 ELSE 0 END";
  }
  return L"";
}

#undef VELA_GALERA_SYNCED

} // namespace vela::odbc
