#include "odbc/column_arrays.h"

#include <cstdint>
#include <type_traits>

#include "odbc/sqltext.h"
#include "vela/odbc/environment.h"

namespace vela::odbc {

std::wstring column_types_query(const std::wstring& table, const std::wstring& list, size_t n) {
  // A row of NULLs, each typed as its column: the outer join gives one row where the table has none.
  std::wstring types, names;
  for (size_t i = 1; i <= n; ++i) {
    const std::wstring name = L"vela_c" + std::to_wstring(i);
    types += (i > 1 ? L", pg_typeof(x." : L"pg_typeof(x.") + name + L")::text";
    names += (i > 1 ? L", " : L"") + name;
  }
  return L"SELECT " + types + L" FROM (SELECT 1) AS vela_one LEFT JOIN (SELECT " + list + L" FROM " + table +
         L" WHERE 1=0) AS x(" + names + L") ON true";
}

std::wstring unnest_insert(const std::wstring& head, const std::vector<std::wstring>& types) {
  std::wstring arrays;
  for (const std::wstring& t : types) {
    if (t.empty() || t.back() == L']') return {};
    // The names without a length mean a length of 1 (character, bit), which a cast would cut
    // values to: their forms of any length instead, and the column's own length applies.
    const std::wstring& any = t == L"character" ? L"bpchar" : t == L"bit" ? L"varbit" : t;
    arrays += (arrays.empty() ? L"unnest(?::" : L", unnest(?::") + any + L"[])";
  }
  // In the select list the arrays are read as they go; in FROM each would be held first.
  return arrays.empty() ? std::wstring() : head + L"SELECT " + arrays;
}

std::wstring json_rows_insert(const std::wstring& head, size_t n) {
  std::wstring values;
  for (size_t i = 0; i < n; ++i) values += (i ? L", json_extract(value, '$[" : L"json_extract(value, '$[") + std::to_wstring(i) + L"]')";
  return n ? head + L"SELECT " + values + L" FROM json_each(?)" : std::wstring();
}

namespace {

// A text value as a JSON string, or null; false for a text that holds a NUL.
template <typename Out>
bool append_json(Out& out, const unsigned char* slot, SQLLEN length) {
  using unit_t = typename Out::value_type;
  if (length == SQL_NULL_DATA) {
    for (const char c : {'n', 'u', 'l', 'l'}) out += static_cast<unit_t>(c);
    return true;
  }
  static const char digits[] = "0123456789abcdef";
  const auto* v = reinterpret_cast<const unit_t*>(slot);
  const size_t units = static_cast<size_t>(length) / sizeof(unit_t);
  out += static_cast<unit_t>('"');
  size_t from = 0;
  for (size_t i = 0; i < units; ++i) {
    const auto u = static_cast<uint32_t>(static_cast<std::make_unsigned_t<unit_t>>(v[i]));
    if (u >= 0x20 && u != '"' && u != '\\') continue;
    if (u == 0) return false;
    out.append(v + from, i - from);
    from = i + 1;
    out += static_cast<unit_t>('\\');
    if (u == '"' || u == '\\') {
      out += static_cast<unit_t>(u);
    } else {
      for (const char c : {'u', '0', '0'}) out += static_cast<unit_t>(c);
      out += static_cast<unit_t>(digits[u >> 4]);
      out += static_cast<unit_t>(digits[u & 15]);
    }
  }
  out.append(v + from, units - from);
  out += static_cast<unit_t>('"');
  return true;
}

// The batch's rows as a JSON array of arrays of texts; false for a text that JSON cannot carry.
template <typename Out>
bool append_json_rows(Out& out, const std::vector<column_slots>& columns, size_t rows) {
  using unit_t = typename Out::value_type;
  out.clear();
  out += static_cast<unit_t>('[');
  for (size_t r = 0; r < rows; ++r) {
    out += static_cast<unit_t>(r ? ',' : '[');
    if (r) out += static_cast<unit_t>('[');
    for (size_t i = 0; i < columns.size(); ++i) {
      if (i) out += static_cast<unit_t>(',');
      const column_slots& c = columns[i];
      if (!append_json(out, c.data + r * c.width, c.ind[r])) return false;
    }
    out += static_cast<unit_t>(']');
  }
  out += static_cast<unit_t>(']');
  return true;
}

// A value of an array literal: NULL, or the value in double quotes with a backslash before each
// quote and backslash; a binary value as "\x" and hex digits (the backslash doubled).
template <typename Out>
void append_element(Out& out, const unsigned char* slot, SQLLEN length, size_t unit, bool binary) {
  using unit_t = typename Out::value_type;
  if (length == SQL_NULL_DATA) {
    for (const char c : {'N', 'U', 'L', 'L'}) out += static_cast<unit_t>(c);
    return;
  }
  const size_t n = static_cast<size_t>(length);
  out += static_cast<unit_t>('"');
  if (binary) {
    static const char digits[] = "0123456789abcdef";
    for (const char c : {'\\', '\\', 'x'}) out += static_cast<unit_t>(c);
    for (size_t i = 0; i < n; ++i) {
      out += static_cast<unit_t>(digits[slot[i] >> 4]);
      out += static_cast<unit_t>(digits[slot[i] & 15]);
    }
  } else {
    // The slot holds units of the output's width (unit bytes each).
    const auto* v = reinterpret_cast<const unit_t*>(slot);
    const size_t units = n / unit;
    size_t from = 0;
    for (size_t i = 0; i < units; ++i) {
      if (v[i] != static_cast<unit_t>('"') && v[i] != static_cast<unit_t>('\\')) continue;
      out.append(v + from, i - from);
      out += static_cast<unit_t>('\\');
      from = i;
    }
    out.append(v + from, units - from);
  }
  out += static_cast<unit_t>('"');
}

template <typename Out>
void append_array(Out& out, const column_slots& c, size_t rows) {
  using unit_t = typename Out::value_type;
  out.clear();
  out += static_cast<unit_t>('{');
  for (size_t r = 0; r < rows; ++r) {
    if (r) out += static_cast<unit_t>(',');
    append_element(out, c.data + r * c.width, c.ind[r], c.unit, c.binary);
  }
  out += static_cast<unit_t>('}');
}

} // namespace

column_array_insert::~column_array_insert() { release(); }

void column_array_insert::release() {
  if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  stmt_ = SQL_NULL_HSTMT;
}

bool column_array_insert::prepare(SQLHDBC dbc, const sender& send, batch_statement form, const std::wstring& table,
                                  const std::wstring& list, size_t n, const std::wstring& head, bool narrow) {
  release();
  dbc_ = dbc;
  narrow_ = narrow;
  form_ = form;
  SQLHSTMT h = SQL_NULL_HSTMT;
  if (form == batch_statement::none || !sql_ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h))) return false;
  std::vector<std::wstring> types;
  if (form == batch_statement::json_rows) {
    types.assign(n, L"text");
  } else if (sql_ok(send(h, column_types_query(table, list, n), false)) && sql_ok(SQLFetch(h))) {
    for (size_t i = 1; i <= n; ++i) {
      SQLWCHAR name[512] = {};
      SQLLEN length = 0;
      if (!sql_ok(SQLGetData(h, static_cast<SQLUSMALLINT>(i), SQL_C_WCHAR, name, sizeof name, &length)) || length <= 0 ||
          static_cast<size_t>(length) >= sizeof name)
        break;
      types.push_back(from_sql(name, 511));
    }
  }
  SQLFreeStmt(h, SQL_CLOSE);
  const std::wstring text = types.size() != n                     ? std::wstring()
                            : form == batch_statement::json_rows ? json_rows_insert(head, n)
                                                                 : unnest_insert(head, types);
  if (text.empty() || !sql_ok(send(h, text, true))) {
    SQLFreeHandle(SQL_HANDLE_STMT, h);
    return false;
  }
  stmt_ = h;
  parameters_ = form == batch_statement::json_rows ? 1 : n;
  return true;
}

bool column_array_insert::build(const std::vector<column_slots>& columns, size_t rows, batch_texts& t) const {
  t.wide.resize(parameters_);
  t.bytes.resize(parameters_);
  t.ind.assign(parameters_, 0);
  t.sent = true;
  for (size_t i = 0; i < parameters_ && t.sent; ++i) {
    if (form_ == batch_statement::json_rows)
      t.sent = narrow_ ? append_json_rows(t.bytes[i], columns, rows) : append_json_rows(t.wide[i], columns, rows);
    else if (narrow_)
      append_array(t.bytes[i], columns[i], rows);
    else
      append_array(t.wide[i], columns[i], rows);
  }
  return t.sent;
}

result column_array_insert::run(batch_texts& t) {
  for (size_t i = 0; i < parameters_; ++i) {
    // Each array is bound again: its text moves as it grows.
    SQLRETURN rc;
    const auto number = static_cast<SQLUSMALLINT>(i + 1);
    if (narrow_) {
      t.ind[i] = static_cast<SQLLEN>(t.bytes[i].size());
      rc = SQLBindParameter(stmt_, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, t.bytes[i].size() + 1, 0,
                            t.bytes[i].data(), t.ind[i] + 1, &t.ind[i]);
    } else {
      t.ind[i] = static_cast<SQLLEN>(t.wide[i].size() * 2);
      rc = SQLBindParameter(stmt_, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WLONGVARCHAR, t.wide[i].size() + 1, 0,
                            t.wide[i].data(), t.ind[i] + 2, &t.ind[i]);
    }
    if (!sql_ok(rc)) return odbc_diagnostics(SQL_NULL_HENV, dbc_, stmt_, rc);
  }
  const SQLRETURN rc = SQLExecute(stmt_);
  result r = sql_ok(rc) || rc == SQL_NO_DATA ? result() : odbc_diagnostics(SQL_NULL_HENV, dbc_, stmt_, rc);
  SQLFreeStmt(stmt_, SQL_CLOSE);
  return r;
}

} // namespace vela::odbc
