// Column types between databases, and each database family's own choices among its types.
#include "vela/odbc/type_mapping.h"

#include <algorithm>
#include <cwchar>
#include <initializer_list>

#include "odbc/sqltext.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/driver_profile.h"
#include "vela/odbc/environment.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

bool is_boolean(const column_shape& c) {
  return c.sql_type == SQL_BIT || compare_nocase(c.type_name, L"bool") == 0 || compare_nocase(c.type_name, L"boolean") == 0;
}
bool is_decimal(int16_t t) { return t == SQL_NUMERIC || t == SQL_DECIMAL; }
bool is_long_text(int16_t t) { return t == SQL_LONGVARCHAR || t == SQL_WLONGVARCHAR; }
bool is_short_text(int16_t t) { return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR; }
bool is_fixed_text(int16_t t) { return t == SQL_CHAR || t == SQL_WCHAR; }
bool is_binary_type(int16_t t) { return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }
bool is_timestamp(int16_t t) { return t == SQL_TYPE_TIMESTAMP || t == SQL_TIMESTAMP; }
bool is_time(int16_t t) { return t == SQL_TYPE_TIME || t == SQL_TIME; }
bool is_date(int16_t t) { return t == SQL_TYPE_DATE || t == SQL_DATE; }

std::wstring sized(const wchar_t* name, uint64_t size) { return std::wstring(name) + L"(" + std::to_wstring(size) + L")"; }
std::wstring decimal(const wchar_t* name, const column_shape& c) {
  return std::wstring(name) + L"(" + std::to_wstring(c.size) + L"," + std::to_wstring(std::max<int16_t>(c.scale, 0)) + L")";
}

// PostgreSQL: its own names for booleans, bytes, text and timestamps, unsigned integers one
// size up (it has none), numeric with its precision and scale where it is one PostgreSQL takes.
std::wstring postgresql_type(const column_shape& c) {
  const int16_t t = c.sql_type;
  if (is_boolean(c)) return L"boolean";
  if (t == SQL_TINYINT) return L"smallint";
  if (c.is_unsigned && t == SQL_SMALLINT) return L"integer";
  if (c.is_unsigned && t == SQL_INTEGER) return L"bigint";
  if (c.is_unsigned && t == SQL_BIGINT) return L"numeric(20)";
  if (is_decimal(t)) return c.size > 0 && c.size <= 1000 && c.scale <= static_cast<int64_t>(c.size) ? decimal(L"numeric", c) : L"numeric";
  if (t == SQL_DOUBLE || t == SQL_FLOAT) return L"double precision";
  if (is_long_text(t) || (is_short_text(t) && (c.size == 0 || c.size > 10485760))) return L"text";
  if (is_binary_type(t)) return L"bytea";
  if (is_timestamp(t)) return L"timestamp";
  if (t == SQL_GUID) return L"uuid";
  return L"";
}

// MariaDB and MySQL: tinyint(1) for booleans, long text and bytes where a size is unknown or
// beyond a row's limits, microseconds kept.
std::wstring mysql_type(const column_shape& c) {
  const int16_t t = c.sql_type;
  const wchar_t* const sign = c.is_unsigned ? L" unsigned" : L"";
  if (is_boolean(c)) return L"tinyint(1)";
  if (t == SQL_TINYINT) return std::wstring(L"tinyint") + sign;
  if (t == SQL_SMALLINT) return std::wstring(L"smallint") + sign;
  if (t == SQL_INTEGER) return std::wstring(L"int") + sign;
  if (t == SQL_BIGINT) return std::wstring(L"bigint") + sign;
  if (is_decimal(t)) return c.size > 0 && c.size <= 65 && c.scale <= 30 ? decimal(L"decimal", c) : L"longtext";
  if (t == SQL_DOUBLE || t == SQL_FLOAT) return L"double";
  if (t == SQL_REAL) return L"float";
  if (is_fixed_text(t) && c.size > 0 && c.size <= 255) return sized(L"char", c.size);
  if (is_short_text(t) && c.size > 0 && c.size <= 16383) return sized(L"varchar", c.size);
  if (is_long_text(t) || is_short_text(t)) return L"longtext";
  if (t == SQL_BINARY && c.size > 0 && c.size <= 255) return sized(L"binary", c.size);
  if (t == SQL_VARBINARY && c.size > 0 && c.size <= 65535) return sized(L"varbinary", c.size);
  if (is_binary_type(t)) return L"longblob";
  if (is_timestamp(t)) return L"datetime(6)";
  if (is_time(t)) return L"time(6)";
  if (t == SQL_GUID) return L"char(36)";
  return L"";
}

// SQLite: its affinity names, and the names of booleans, dates and times that its driver
// describes as such again; a numeric of more digits than a REAL keeps goes as text.
std::wstring sqlite_type(const column_shape& c) {
  const int16_t t = c.sql_type;
  if (is_boolean(c)) return L"BOOLEAN";
  if (t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT) return L"INTEGER";
  if (is_decimal(t)) return c.size > 0 && c.size <= 15 ? decimal(L"NUMERIC", c) : L"TEXT";
  if (t == SQL_DOUBLE || t == SQL_FLOAT || t == SQL_REAL) return L"REAL";
  if (is_binary_type(t)) return L"BLOB";
  if (is_date(t)) return L"DATE";
  if (is_time(t)) return L"TIME";
  if (is_timestamp(t)) return L"TIMESTAMP";
  return L"TEXT";
}

// The SQL types to look for, closest first, when the database lists none of sql_type.
std::vector<int16_t> closest_types(int16_t t) {
  auto list = [t](std::initializer_list<int16_t> more) {
    std::vector<int16_t> v{t};
    v.insert(v.end(), more);
    return v;
  };
  switch (t) {
    case SQL_BIT: return list({SQL_TINYINT, SQL_SMALLINT, SQL_INTEGER});
    case SQL_TINYINT: return list({SQL_SMALLINT, SQL_INTEGER});
    case SQL_SMALLINT: return list({SQL_INTEGER});
    case SQL_INTEGER: return list({SQL_BIGINT, SQL_NUMERIC, SQL_DECIMAL});
    case SQL_BIGINT: return list({SQL_NUMERIC, SQL_DECIMAL});
    case SQL_NUMERIC: return list({SQL_DECIMAL});
    case SQL_DECIMAL: return list({SQL_NUMERIC});
    case SQL_REAL: return list({SQL_FLOAT, SQL_DOUBLE});
    case SQL_FLOAT: return list({SQL_DOUBLE, SQL_REAL});
    case SQL_DOUBLE: return list({SQL_FLOAT, SQL_REAL});
    case SQL_BINARY: return list({SQL_VARBINARY, SQL_LONGVARBINARY});
    case SQL_VARBINARY: return list({SQL_LONGVARBINARY, SQL_BINARY});
    case SQL_LONGVARBINARY: return list({SQL_VARBINARY});
    case SQL_TYPE_DATE: return list({SQL_DATE, SQL_TYPE_TIMESTAMP, SQL_TIMESTAMP});
    case SQL_TYPE_TIME: return list({SQL_TIME, SQL_TYPE_TIMESTAMP, SQL_TIMESTAMP});
    case SQL_TYPE_TIMESTAMP: return list({SQL_TIMESTAMP});
    case SQL_WCHAR: return list({SQL_CHAR, SQL_WVARCHAR, SQL_VARCHAR, SQL_WLONGVARCHAR, SQL_LONGVARCHAR});
    case SQL_CHAR: return list({SQL_WCHAR, SQL_VARCHAR, SQL_WVARCHAR, SQL_LONGVARCHAR, SQL_WLONGVARCHAR});
    case SQL_WVARCHAR: return list({SQL_VARCHAR, SQL_WLONGVARCHAR, SQL_LONGVARCHAR});
    case SQL_VARCHAR: return list({SQL_WVARCHAR, SQL_LONGVARCHAR, SQL_WLONGVARCHAR});
    case SQL_LONGVARCHAR: return list({SQL_WLONGVARCHAR, SQL_VARCHAR, SQL_WVARCHAR});
    default: return list({SQL_WLONGVARCHAR, SQL_LONGVARCHAR, SQL_WVARCHAR, SQL_VARCHAR});
  }
}

// A listed type with the column's size, or precision and scale, where the type takes them;
// "" when the column's size is beyond what the type holds.
std::wstring with_parameters(const data_type& d, const column_shape& c) {
  const bool length = find_nocase(d.create_params, L"length") >= 0;
  const bool precision = find_nocase(d.create_params, L"precision") >= 0;
  if (c.size > 0 && d.size > 0 && c.size > d.size && (length || precision)) return L"";
  if (precision && c.size > 0) {
    const bool scale = find_nocase(d.create_params, L"scale") >= 0;
    return scale ? decimal(d.name.c_str(), c) : sized(d.name.c_str(), c.size);
  }
  if (length && c.size > 0) return sized(d.name.c_str(), c.size);
  return d.name;
}

std::wstring text_column(SQLHSTMT h, SQLUSMALLINT n) {
  SQLWCHAR buffer[256] = {};
  SQLLEN length = 0;
  const SQLRETURN rc = SQLGetData(h, n, SQL_C_WCHAR, buffer, sizeof buffer, &length);
  if (!sql_ok(rc) || length == SQL_NULL_DATA) return {};
  return from_sql(buffer, 255);
}

int64_t number_column(SQLHSTMT h, SQLUSMALLINT n) {
  SQLBIGINT v = 0;
  SQLLEN length = 0;
  const SQLRETURN rc = SQLGetData(h, n, SQL_C_SBIGINT, &v, sizeof v, &length);
  return sql_ok(rc) && length != SQL_NULL_DATA ? v : 0;
}

} // namespace

const data_type* type_catalog::find(int16_t sql_type, bool is_unsigned) const {
  const data_type* any = nullptr;
  for (const data_type& d : types) {
    if (d.sql_type != sql_type || d.auto_unique) continue;
    if (d.is_unsigned == is_unsigned) return &d;
    if (!any) any = &d;
  }
  return any;
}

result read_type_catalog(dbc_handle hdbc, type_catalog& out) {
  out.types.clear();
  SQLHSTMT h = SQL_NULL_HSTMT;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(hdbc), &h);
  if (!sql_ok(rc)) return odbc_diagnostics(SQL_NULL_HENV, hdbc, SQL_NULL_HSTMT, rc);
  rc = SQLGetTypeInfoW(h, SQL_ALL_TYPES);
  result r = sql_ok(rc) ? result() : odbc_diagnostics(SQL_NULL_HENV, hdbc, h, rc);
  while (r.succeeded() && sql_ok(SQLFetch(h))) {
    data_type d;
    d.name = text_column(h, 1);
    d.sql_type = static_cast<int16_t>(number_column(h, 2));
    const int64_t size = number_column(h, 3);
    d.size = size > 0 ? static_cast<uint64_t>(size) : 0;
    d.create_params = text_column(h, 6);
    d.is_unsigned = number_column(h, 10) == SQL_TRUE;
    d.auto_unique = number_column(h, 12) == SQL_TRUE;
    if (!d.name.empty()) out.types.push_back(std::move(d));
  }
  SQLFreeHandle(SQL_HANDLE_STMT, h);
  return r;
}

result describe_result_columns(stmt_handle statement, std::vector<column_shape>& out) {
  out.clear();
  SQLSMALLINT n = 0;
  SQLRETURN rc = SQLNumResultCols(statement, &n);
  if (!sql_ok(rc)) return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement, rc);
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(n); ++i) {
    column_shape c;
    SQLWCHAR name[512] = {};
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    rc = SQLDescribeColW(statement, i, name, 511, &name_length, &type, &size, &digits, &nullable);
    if (!sql_ok(rc)) return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement, rc);
    c.name = from_sql(name, 511);
    c.sql_type = type;
    // A size beyond any column's (a long column may answer 2^31 or more) is no size.
    c.size = size < (1ull << 31) ? size : 0;
    c.scale = digits;
    c.nullable = nullable != SQL_NO_NULLS;
    // Drivers call every type without a sign unsigned: only integers are asked.
    SQLLEN flag = SQL_FALSE;
    if ((type == SQL_TINYINT || type == SQL_SMALLINT || type == SQL_INTEGER || type == SQL_BIGINT) &&
        sql_ok(SQLColAttributeW(statement, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &flag)))
      c.is_unsigned = flag == SQL_TRUE;
    SQLWCHAR type_name[256] = {};
    SQLSMALLINT type_name_length = 0;
    if (sql_ok(SQLColAttributeW(statement, i, SQL_DESC_TYPE_NAME, type_name, sizeof type_name, &type_name_length, nullptr)))
      c.type_name = from_sql(type_name, 255);
    out.push_back(std::move(c));
  }
  return result();
}

std::wstring target_type(const column_shape& source, const driver_profile& target, const type_catalog& types) {
  std::wstring chosen = target.column_type(source);
  if (!chosen.empty()) return chosen;
  for (const int16_t t : closest_types(source.sql_type)) {
    const data_type* d = types.find(t, source.is_unsigned);
    if (!d) continue;
    chosen = with_parameters(*d, source);
    if (!chosen.empty()) return chosen;
  }
  return L"text";
}

std::wstring create_table_statement(const std::wstring& table, const std::vector<column_shape>& columns,
                                    const driver_profile& target, const type_catalog& types, bool if_not_exists) {
  std::wstring text = if_not_exists ? L"CREATE TABLE IF NOT EXISTS " : L"CREATE TABLE ";
  text += table + L" (";
  for (size_t i = 0; i < columns.size(); ++i) {
    const column_shape& c = columns[i];
    text += (i ? L", " : L"") + target.quote_identifier(c.name) + L" " + target_type(c, target, types);
    if (!c.nullable) text += L" NOT NULL";
  }
  return text + L")";
}

// The driver profile's part: each family's own types.

std::wstring driver_profile::column_type(const column_shape& c) const {
  switch (family_) {
    case family::postgresql: return postgresql_type(c);
    case family::mysql: return mysql_type(c);
    case family::sqlite: return sqlite_type(c);
    case family::unknown: break;
  }
  return L"";
}

void driver_profile::source_column(column_shape& c) const {
  if (family_ != family::sqlite) return;
  // SQLite's INTEGER holds 8 bytes whatever the declared type says.
  if (c.sql_type == SQL_INTEGER || c.sql_type == SQL_SMALLINT || c.sql_type == SQL_TINYINT) c.sql_type = SQL_BIGINT;
  // A BLOB holds any number of bytes: the driver's size of 255 is no limit (a fixed binary(255)
  // elsewhere would pad every value).
  if (is_binary_type(c.sql_type)) {
    c.sql_type = SQL_LONGVARBINARY;
    c.size = 0;
  }
  // Its driver describes NUMERIC(p,s) as DOUBLE and drops the scale: a numeric of any
  // precision and scale keeps the values exact (unless the type's name still has them).
  const std::wstring& t = c.type_name;
  const size_t open = t.find(L'(');
  const std::wstring_view base = std::wstring_view(t).substr(0, open);
  if (compare_nocase(base, L"numeric") != 0 && compare_nocase(base, L"decimal") != 0) return;
  c.sql_type = SQL_DECIMAL;
  c.size = 0;
  c.scale = 0;
  unsigned p = 0, s = 0;
  if (open != std::wstring::npos && std::swscanf(t.c_str() + open, L"(%u,%u)", &p, &s) == 2 && p > 0 && p <= 1000 && s <= p) {
    c.size = p;
    c.scale = static_cast<int16_t>(s);
  }
}

std::wstring driver_profile::alter_column_type(const std::wstring& table, const std::wstring& column,
                                               const std::wstring& type) const {
  const std::wstring name = quote_identifier(column);
  if (family_ == family::postgresql)
    return L"ALTER TABLE " + table + L" ALTER COLUMN " + name + L" TYPE " + type + L" USING " + name + L"::" + type;
  if (family_ == family::mysql) return L"ALTER TABLE " + table + L" MODIFY COLUMN " + name + L" " + type;
  return L"";
}

const type_catalog& connection::data_types() {
  if (!data_types_) {
    auto types = std::make_shared<type_catalog>();
    if (hdbc_) (void)read_type_catalog(hdbc_, *types);  // a database that lists nothing gets the profile's types and text
    data_types_ = std::move(types);
  }
  return *data_types_;
}

} // namespace vela::odbc
