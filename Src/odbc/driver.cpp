#include "vela/odbc/driver.h"

#include <regex>

#include "os/os.h"
#include "odbc/sqltext.h"
#include "vela/odbc/connection_string.h"
#include "vela/containers.h"
#include "vela/file.h"
#include "vela/log.h"
#include "vela/odbc/environment.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

constexpr auto case_sensitive = std::regex_constants::ECMAScript;
constexpr auto ignore_case = std::regex_constants::ECMAScript | std::regex_constants::icase;

const std::wregex& time_hm() {
  static const std::wregex re(LR"(TIME\(([0-2][0-9]):([0-5][0-9])\))", case_sensitive);
  return re;
}
const std::wregex& time_hms() {
  static const std::wregex re(LR"(TIME\(([0-2][0-9]):([0-5][0-9]):([0-5][0-9])\))", case_sensitive);
  return re;
}
const std::wregex& nvarchar_max() {
  static const std::wregex re(LR"(nvarchar *\( *max *\))", ignore_case);
  return re;
}
const std::wregex& nvarchar_n() {
  static const std::wregex re(LR"(NVARCHAR *(\( *[0-9]+ *\)){0,1})", ignore_case);
  return re;
}

// Two-part literals first; the three-part form only when no two-part one was found.
std::wstring rewrite_times(const std::wstring& term, const wchar_t* hm, const wchar_t* hms) {
  std::wstring out = std::regex_replace(term, time_hm(), hm);
  if (out != term) return out;
  return std::regex_replace(term, time_hms(), hms);
}

} // namespace

std::wstring driver::translate_term(const std::wstring& term) const {
  return rewrite_times(term, L"'$1:$2'", L"'$1:$2:$3'");
}

std::wstring driver::connection_prefix() const { return std::wstring(L"Driver=") + name() + L";"; }

std::wstring driver::date_literal(const b_time& t) const { return t.format(L"yyyy-MM-dd HH:mm:ss"); }

bool driver::rewrite_statement(std::wstring&) const { return false; }

std::wstring sqlserver_odbc_driver::translate_term(const std::wstring& term) const {
  const std::wstring out = driver::translate_term(term);
  return compare_nocase(out, L"NOW") == 0 ? std::wstring(L"GETDATE") : out;
}

std::wstring sqlserver_odbc_driver::date_literal(const b_time& t) const {
  return t.format(L"yyyy-MM-dd HH:mm:ss.ii");
}

bool sqlserver_odbc_driver::rewrite_statement(std::wstring& statement) const {
  return replace_all_nocase(statement, L"DEFAULT NOW()", L"DEFAULT GETDATE()") > 0;
}

std::wstring msaccess_driver::translate_term(const std::wstring& term) const {
  if (compare_nocase(term, L"NVARCHAR") == 0) return L"TEXT";
  if (std::regex_match(term, nvarchar_max()) || std::regex_match(term, nvarchar_n())) return L"TEXT";
  return rewrite_times(term, L"#$1:$2#", L"#$1:$2:$3#");
}

std::wstring msaccess_driver::connection_prefix() const {
  return L"Driver=Microsoft Access driver (*.mdb);DBQ=" + database_path_ + L";ExtendedAnsiSQL=1;";
}

bool msaccess_driver::rewrite_statement(std::wstring& statement) const {
  bool changed = false;
  for (const std::wregex* re : {&nvarchar_max(), &nvarchar_n()}) {
    const std::wstring out = std::regex_replace(statement, *re, L"TEXT");
    if (out != statement) {
      statement = out;
      changed = true;
    }
  }
  return changed;
}

std::wstring dbase_driver::connection_prefix() const {
  return L"Driver=Microsoft dBase driver (*.dbf);DBQ=" + default_dir_ + L";DefaultDir=" + default_dir_;
}

std::wstring dbase_driver::date_literal(const b_time& t) const {
  return L"#" + t.format(L"yyyy-MM-dd HH:mm:ss") + L"#";
}

std::wstring dbase_driver::quote_table(const std::wstring& name) const {
  if (!short_names_) return L"[" + name + L"]";
  std::wstring short_path;
  if (os::short_path_name(default_dir_ + L"/" + name + L".dbf", short_path) && !short_path.empty() &&
      short_path.size() <= 261) {
    std::wstring base_name;
    if (split_path(short_path, nullptr, nullptr, &base_name, nullptr)) return L"[" + base_name + L"]";
  }
  write_formatted(process_log(), L"TOA", L"dbase_driver::ShortTblNm(%s) failed on ::GetShortPathName()", name.c_str());
  return L"[" + name + L"]";
}

script_dialect dialect_of_dbms(const std::wstring& dbms_name) {
  return find_nocase(dbms_name, L"mysql") >= 0 || find_nocase(dbms_name, L"mariadb") >= 0 ? script_dialect::mysql
                                                                                          : script_dialect::generic;
}

namespace {

const struct {
  const wchar_t* dbms;  // part of SQL_DBMS_NAME, any letter case
  byte_literal_form form;
} byte_literal_forms[] = {
    {L"mysql", byte_literal_form::hex},
    {L"mariadb", byte_literal_form::hex},
    {L"sqlite", byte_literal_form::hex_as_text},
    {L"postgresql", byte_literal_form::bytea_hex},
};

} // namespace

byte_literal_form byte_literals_of_dbms(const std::wstring& dbms_name) {
  for (const auto& f : byte_literal_forms)
    if (find_nocase(dbms_name, f.dbms) >= 0) return f.form;
  return byte_literal_form::none;
}

std::wstring ask_info_text(void* hdbc, info_text what) {
  static constexpr SQLUSMALLINT types[] = {SQL_DATA_SOURCE_NAME, SQL_DRIVER_NAME, SQL_DRIVER_VER,
                                           SQL_DBMS_NAME,        SQL_DBMS_VER,    SQL_USER_NAME};
  if (!hdbc) return {};
  SQLWCHAR text[256] = {};
  SQLSMALLINT length = 0;
  if (!sql_ok(SQLGetInfoW(static_cast<SQLHDBC>(hdbc), types[static_cast<size_t>(what)], text, sizeof text, &length)))
    return {};
  return from_sql(text, 255);
}

std::wstring ask_dbms_name(void* hdbc) { return ask_info_text(hdbc, info_text::dbms_name); }

namespace {

// SQLite keeps every row of a result in memory unless stepping; psqlODBC unless it fetches
// through a cursor; this MariaDB driver (3.1.15) has no setting (NO_CACHE=1 streams from 3.1.17).
const driver_traits known_drivers[] = {
    {L"sqlite3odbc.so", true, true, L"StepAPI=1"},
    {L"libsqlite3odbc.so", true, true, L"StepAPI=1"},
    {L"psqlodbcw.so", true, true, L"UseDeclareFetch=1"},
    {L"psqlodbca.so", true, true, L"UseDeclareFetch=1"},
    {L"libmaodbc.so", true, false, L"NO_CACHE=1"},
};

} // namespace

const driver_traits& traits_of_driver(const std::wstring& driver_file) {
  static const driver_traits unknown;
  for (const driver_traits& t : known_drivers)
    if (compare_nocase(driver_file, t.file) == 0) return t;
  return unknown;
}

std::wstring ask_driver_file(void* hdbc) { return ask_info_text(hdbc, info_text::driver_file); }

bool streams_results(const driver_traits& traits, const std::wstring& connection_string) {
  const std::wstring setting = traits.streaming_setting;
  const size_t eq = setting.find(L'=');
  if (eq == std::wstring::npos) return false;
  for (const cs_attribute& a : read_connection_string(connection_string))
    if (compare_nocase(a.key(connection_string), setting.substr(0, eq)) == 0)
      return compare_nocase(a.value(connection_string), setting.substr(eq + 1)) == 0;
  return false;
}

script_dialect ask_script_dialect(void* hdbc) { return dialect_of_dbms(ask_dbms_name(hdbc)); }

driver* select_driver(const std::wstring& connection_string) {
  Queue<driver> candidates;
  candidates.add(new dbase_driver());
  candidates.add(new msaccess_driver());
  candidates.add(new sqlserver_odbc_driver());
  // The string's DRIVER attribute names the adapter, in any letter case, braced or not.
  std::wstring name;
  for (const cs_attribute& a : read_connection_string(connection_string))
    if (name.empty() && compare_nocase(a.key(connection_string), L"DRIVER") == 0) name = a.value(connection_string);
  for (QueueIter<driver> it(candidates); !it.done(); it.next())
    if (!name.empty() && compare_nocase(name, it.current()->name()) == 0) return it.current()->clone();
  return new driver();
}

} // namespace vela::odbc
