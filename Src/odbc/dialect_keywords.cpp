#include "vela/odbc/driver_profile.h"

namespace vela::odbc {

namespace {

// The words of standard SQL that every dialect here understands.
const wchar_t* const common_keywords[] = {
    L"ALL", L"ALTER", L"AND", L"AS", L"ASC", L"BEGIN", L"BETWEEN", L"BY", L"CASE", L"CAST", L"CHECK", L"COLUMN",
    L"COMMIT", L"CONSTRAINT", L"CREATE", L"CROSS", L"DEFAULT", L"DELETE", L"DESC", L"DISTINCT", L"DROP", L"ELSE",
    L"END", L"EXISTS", L"EXPLAIN", L"FOREIGN", L"FROM", L"FULL", L"GROUP", L"HAVING", L"IN", L"INDEX", L"INNER",
    L"INSERT", L"INTO", L"IS", L"JOIN", L"KEY", L"LEFT", L"LIKE", L"LIMIT", L"NOT", L"NULL", L"OFFSET", L"ON",
    L"OR", L"ORDER", L"OUTER", L"PRIMARY", L"REFERENCES", L"RIGHT", L"ROLLBACK", L"SAVEPOINT", L"SELECT", L"SET",
    L"TABLE", L"THEN", L"TRANSACTION", L"UNION", L"UNIQUE", L"UPDATE", L"USING", L"VALUES", L"VIEW", L"WHEN",
    L"WHERE", L"WITH"};

const wchar_t* const postgresql_keywords[] = {
    L"ANALYZE", L"COPY", L"DO", L"FETCH", L"GRANT", L"ILIKE", L"LATERAL", L"MATERIALIZED", L"RETURNING", L"REVOKE",
    L"SCHEMA", L"SEQUENCE", L"SHOW", L"TRUNCATE", L"VACUUM", L"WINDOW"};

const wchar_t* const mysql_keywords[] = {
    L"AUTO_INCREMENT", L"DATABASE", L"DATABASES", L"DESCRIBE", L"DUPLICATE", L"ENGINE", L"GRANT", L"IGNORE",
    L"REPLACE", L"REVOKE", L"SHOW", L"STRAIGHT_JOIN", L"TABLES", L"TRUNCATE", L"USE"};

const wchar_t* const sqlite_keywords[] = {
    L"ATTACH", L"AUTOINCREMENT", L"DETACH", L"GLOB", L"PRAGMA", L"REINDEX", L"REPLACE", L"RETURNING", L"VACUUM",
    L"WITHOUT"};

} // namespace

std::vector<std::wstring> driver_profile::keywords() const {
  std::vector<std::wstring> out(std::begin(common_keywords), std::end(common_keywords));
  const auto add = [&out](const auto& more) { out.insert(out.end(), std::begin(more), std::end(more)); };
  if (family_ == family::postgresql) add(postgresql_keywords);
  else if (family_ == family::mysql) add(mysql_keywords);
  else if (family_ == family::sqlite) add(sqlite_keywords);
  return out;
}

} // namespace vela::odbc
