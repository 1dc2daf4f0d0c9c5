#include "vela/odbc/connection_info.h"

#include <odbcinst.h>

#include <algorithm>
#include <vector>

#include "odbc/sqltext.h"
#include "os/os.h"
#include "vela/log.h"
#include "vela/odbc/driver_profile.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/query.h"
#include "vela/utf.h"

namespace vela::odbc {

namespace {

// An empty filter means "any": it is passed as a null pointer, since drivers read an empty
// string as "no catalog" or "no schema" and would list nothing.
SQLWCHAR* filter(sql_text& t) { return t.length16() ? t.get() : nullptr; }

std::wstring text_of(const resultset& rows, size_t i) {
  if (i >= rows.count()) return {};
  const column& c = rows.at(i);
  if (!c.buffer() || c.is_null()) return {};
  if (c.c_type() == bind_type::wide_text) return c.text();
  if (c.c_type() == bind_type::int16) return std::to_wstring(*static_cast<const int16_t*>(c.buffer()));
  if (c.c_type() == bind_type::int32) return std::to_wstring(*static_cast<const int32_t*>(c.buffer()));
  return {};
}

bool is_null_at(const resultset& rows, size_t i) {
  return i >= rows.count() || !rows.at(i).buffer() || rows.at(i).is_null();
}

int32_t int_of(const resultset& rows, size_t i) {
  if (i >= rows.count()) return 0;
  const column& c = rows.at(i);
  if (!c.buffer() || c.is_null()) return 0;
  if (c.c_type() == bind_type::int32) return *static_cast<const int32_t*>(c.buffer());
  if (c.c_type() == bind_type::int16) return *static_cast<const int16_t*>(c.buffer());
  if (c.c_type() == bind_type::wide_text) return static_cast<int32_t>(std::wcstol(c.text().c_str(), nullptr, 10));
  return 0;
}

// Runs one catalog call and reads its rows into records.
template <typename Call, typename Row>
result catalog(connection* conn, Call call, Row row) {
  result r;
  SQLHSTMT statement = SQL_NULL_HSTMT;
  const SQLRETURN allocated = SQLAllocHandle(SQL_HANDLE_STMT, conn ? conn->hdbc() : SQL_NULL_HDBC, &statement);
  if (!sql_ok(allocated)) statement = SQL_NULL_HSTMT;
  // Ctrl-C at the prompt cancels the listing through the connection.
  if (conn && statement) conn->set_catalog_statement(statement);
  const SQLRETURN rc = statement ? call(statement) : allocated;
  if (!sql_ok(rc)) {
    r.merge(checked(rc, SQL_NULL_HENV, conn ? conn->hdbc() : SQL_NULL_HDBC, statement));
  } else {
    resultset rows;
    r.merge(rows.attach(conn, statement));
    if (r.succeeded()) r.merge(rows.bind_all());
    if (r.succeeded())
      while (!(conn && conn->catalog_cancelled()) && sql_ok(SQLFetch(statement))) row(rows);
    (void)rows.detach();  // attached above
  }
  if (conn && conn->catalog_cancelled() && r.succeeded()) r = failure(db_access_error(), L"[HY008] Operation canceled").set_state(L"HY008", 0);
  if (conn && statement) conn->set_catalog_statement(nullptr);
  if (statement) ignored(SQLFreeHandle(SQL_HANDLE_STMT, statement), "a catalog statement dropped either way");
  return r;
}

} // namespace

result connection_info::ListTbls(std::vector<table_info>& out, const std::wstring& catalog_name,
                                 const std::wstring& schema, const std::wstring& table, const std::wstring& types) {
  process_log().write(L"TO.", L"connection_info::ListTbls() begin");
  out.clear();
  sql_text c(catalog_name), s(schema), t(table), y(types);
  const result r = catalog(
      connection_,
      [&](SQLHSTMT st) {
        return SQLTablesW(st, filter(c), c.length16(), filter(s), s.length16(), filter(t), t.length16(), filter(y),
                          y.length16());
      },
      [&](const resultset& rows) {
        table_info info;
        info.catalog = text_of(rows, 0);
        info.schema = text_of(rows, 1);
        info.name = text_of(rows, 2);
        info.type = text_of(rows, 3);
        out.push_back(info);
      });
  write_formatted(process_log(), L"TO.", L"connection_info::listyables() end(%u,%s)", r.code(), r.format().c_str());
  return r;
}

result connection_info::ListCols(std::vector<column_info>& out, const std::wstring& catalog_name,
                                 const std::wstring& schema, const std::wstring& table, const std::wstring& column_name) {
  process_log().write(L"TO.", L"connection_info::list_columns() begin");
  out.clear();
  sql_text c(catalog_name), s(schema), t(table), n(column_name);
  const result r = catalog(
      connection_,
      [&](SQLHSTMT st) {
        return SQLColumnsW(st, filter(c), c.length16(), filter(s), s.length16(), filter(t), t.length16(), filter(n),
                           n.length16());
      },
      [&](const resultset& rows) {
        column_info info;
        info.catalog = text_of(rows, 0);
        info.schema = text_of(rows, 1);
        info.table = text_of(rows, 2);
        info.column = text_of(rows, 3);
        info.type = text_of(rows, 5);
        info.size = int_of(rows, 6);
        // NULLABLE, which every driver fills (IS_NULLABLE is newer and not always there).
        const bool known = 10 < rows.count() && rows.at(10).buffer() && !rows.at(10).is_null();
        const int32_t nullable = known ? int_of(rows, 10) : SQL_NULLABLE_UNKNOWN;
        info.nullable = nullable == SQL_NO_NULLS ? L"NO" : nullable == SQL_NULLABLE ? L"YES" : L"";
        info.data_type = static_cast<int16_t>(int_of(rows, 4));
        info.has_digits = !is_null_at(rows, 8);
        info.digits = static_cast<int16_t>(int_of(rows, 8));
        info.remarks = text_of(rows, 11);
        info.has_default = !is_null_at(rows, 12);
        info.default_value = text_of(rows, 12);
        out.push_back(info);
      });
  write_formatted(process_log(), L"TO.", L"connection_info::ListCols() end(%u,%s)", r.code(), r.format().c_str());
  return r;
}

result connection_info::ListPrimaryKey(std::vector<index_column>& out, const std::wstring& catalog_name,
                                       const std::wstring& schema, const std::wstring& table) {
  out.clear();
  sql_text c(catalog_name), s(schema), t(table);
  return catalog(
      connection_,
      [&](SQLHSTMT st) {
        return SQLPrimaryKeysW(st, filter(c), c.length16(), filter(s), s.length16(), t.get(), t.length16());
      },
      [&](const resultset& rows) {
        out.push_back({text_of(rows, 5), text_of(rows, 3), int_of(rows, 4), true});
      });
}

result connection_info::ListIndexes(std::vector<index_column>& out, const std::wstring& catalog_name,
                                    const std::wstring& schema, const std::wstring& table) {
  out.clear();
  sql_text c(catalog_name), s(schema), t(table);
  return catalog(
      connection_,
      [&](SQLHSTMT st) {
        return SQLStatisticsW(st, filter(c), c.length16(), filter(s), s.length16(), t.get(), t.length16(),
                              SQL_INDEX_ALL, SQL_QUICK);
      },
      [&](const resultset& rows) {
        if (int_of(rows, 6) == SQL_TABLE_STAT || is_null_at(rows, 5)) return;
        out.push_back({text_of(rows, 5), text_of(rows, 8), int_of(rows, 7), int_of(rows, 3) == SQL_FALSE});
      });
}

result connection_info::ListForeignKeys(std::vector<foreign_key_column>& out, const std::wstring& catalog_name,
                                        const std::wstring& schema, const std::wstring& table) {
  out.clear();
  sql_text c(catalog_name), s(schema), t(table);
  return catalog(
      connection_,
      [&](SQLHSTMT st) {
        return SQLForeignKeysW(st, nullptr, 0, nullptr, 0, nullptr, 0, filter(c), c.length16(), filter(s),
                               s.length16(), t.get(), t.length16());
      },
      [&](const resultset& rows) {
        out.push_back({text_of(rows, 11), text_of(rows, 7), text_of(rows, 0), text_of(rows, 1), text_of(rows, 2),
                       text_of(rows, 3), int_of(rows, 8)});
      });
}

result connection_info::ListChecks(std::vector<check_constraint>& out, const std::wstring& catalog_name,
                                   const std::wstring& schema, const std::wstring& table) {
  out.clear();
  if (!connection_) return result();
  const driver_profile& profile = connection_->profile();
  const std::wstring query = profile.check_constraints_query();
  if (query.empty()) return result();
  sql_text q(query), s(profile.two_part_name_is_catalog() ? catalog_name : schema), t(table);
  SQLLEN nts[2] = {SQL_NTS, SQL_NTS};
  return catalog(
      connection_,
      [&](SQLHSTMT st) {
        sql_text* values[] = {&s, &t};
        for (SQLUSMALLINT i = 0; i < 2; ++i) {
          const SQLRETURN rc = SQLBindParameter(st, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR,
                                                SQL_WVARCHAR, 128, 0, values[i]->get(), 0, &nts[i]);
          if (!sql_ok(rc)) return rc;
        }
        return SQLExecDirectW(st, q.get(), q.length32());
      },
      [&](const resultset& rows) { out.push_back({text_of(rows, 0), text_of(rows, 1)}); });
}

result connection_info::ListSchemas(std::vector<std::wstring>& out, bool catalogs) {
  out.clear();
  sql_text all(L"%"), none(L"");
  return catalog(
      connection_,
      [&](SQLHSTMT st) {
        if (catalogs) return SQLTablesW(st, all.get(), 1, none.get(), 0, none.get(), 0, nullptr, 0);
        return SQLTablesW(st, none.get(), 0, all.get(), 1, none.get(), 0, nullptr, 0);
      },
      [&](const resultset& rows) {
        const std::wstring name = text_of(rows, catalogs ? 0 : 1);
        if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
      });
}

result connection_info::ListRoutines(std::vector<table_info>& out) {
  out.clear();
  return catalog(
      connection_, [&](SQLHSTMT st) { return SQLProceduresW(st, nullptr, 0, nullptr, 0, nullptr, 0); },
      [&](const resultset& rows) {
        const int32_t type = int_of(rows, 7);
        table_info info;
        info.catalog = text_of(rows, 0);
        info.schema = text_of(rows, 1);
        info.name = text_of(rows, 2);
        info.type = type == SQL_PT_PROCEDURE ? L"PROCEDURE" : type == SQL_PT_FUNCTION ? L"FUNCTION" : L"";
        out.push_back(info);
      });
}

bool list_installed_drivers(std::vector<std::wstring>& names) {
  using get_drivers = BOOL (*)(SQLWCHAR*, WORD, WORD*);
  static const auto fn = reinterpret_cast<get_drivers>(os::library_symbol("libodbcinst.so.2", "SQLGetInstalledDriversW"));
  if (!fn) return false;
  std::vector<SQLWCHAR> buffer(512 + 1);
  WORD length = 0;
  for (;;) {
    std::fill(buffer.begin(), buffer.end(), 0);
    if (!fn(buffer.data(), static_cast<WORD>(buffer.size() - 1), &length)) return false;
    if (length < buffer.size() - 2 || buffer.size() > 0xFF00) break;
    buffer.resize(buffer.size() + 128);
  }
  size_t i = 0;
  while (i < buffer.size() && buffer[i]) {
    size_t n = 0;
    while (i + n < buffer.size() && buffer[i + n]) ++n;
    names.push_back(from_sql(&buffer[i], n));
    i += n + 1;
  }
  return true;
}

std::wstring datasource_setting(const std::wstring& datasource, const std::wstring& key) {
  if (datasource.empty()) return {};  // the installer library is not even looked up
  using get_string = int (*)(const char*, const char*, const char*, char*, int, const char*);
  static const auto fn = reinterpret_cast<get_string>(os::library_symbol("libodbcinst.so.2", "SQLGetPrivateProfileString"));
  if (!fn) return {};
  std::string value(1024, '\0');
  if (fn(wide_to_utf8(datasource).c_str(), wide_to_utf8(key).c_str(), "", value.data(), static_cast<int>(value.size()), "odbc.ini") <= 0)
    return {};
  value.resize(std::min(value.find('\0'), value.size()));
  return utf8_to_wide(value);
}

namespace {

bool list_datasources(SQLUSMALLINT first, std::vector<std::wstring>& names) {
  environment env;
  // Room for names beyond the classic 32 characters, so that they come whole; a name or
  // description cut to its buffer (SQL_SUCCESS_WITH_INFO) still belongs to the list.
  constexpr SQLSMALLINT name_units = 1024, description_units = 1024;
  std::vector<SQLWCHAR> name(name_units + 1), description(description_units + 1);
  SQLSMALLINT name_length = 0, description_length = 0;
  SQLUSMALLINT direction = first;
  for (;;) {
    std::fill(name.begin(), name.end(), 0);
    const SQLRETURN rc = SQLDataSourcesW(environment::handle(), direction, name.data(), name_units + 1, &name_length,
                                         description.data(), description_units + 1, &description_length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    names.push_back(from_sql(name.data(), name_units));
    direction = SQL_FETCH_NEXT;
  }
  return true;
}

} // namespace

bool list_system_datasources(std::vector<std::wstring>& names) { return list_datasources(SQL_FETCH_FIRST_SYSTEM, names); }
bool list_user_datasources(std::vector<std::wstring>& names) { return list_datasources(SQL_FETCH_FIRST_USER, names); }

} // namespace vela::odbc
