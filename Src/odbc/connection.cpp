#include "vela/odbc/connection.h"

#include "odbc/sqltext.h"
#include "os/os.h"
#include "vela/file.h"
#include "vela/log.h"
#include "vela/odbc/environment.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

// Low 32 bits of an address, as the log lines print pointers.
unsigned low32(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

bool is_password_key(std::wstring key) {
  trim(key, L" \t");
  // The last word counts: a key may follow a command or a quote ("CONNECT \"...;PWD=x").
  const size_t cut = key.find_last_of(L" \t\"'");
  if (cut != std::wstring::npos) key.erase(0, cut + 1);
  return compare_nocase(key, L"PWD") == 0 || compare_nocase(key, L"PASSWORD") == 0;
}

} // namespace

std::wstring mask_password(const std::wstring& s) {
  std::wstring out;
  out.reserve(s.size() + 8);
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const size_t eq = s.find(L'=', i);
    const size_t semi = s.find(L';', i);
    if (eq == std::wstring::npos || (semi != std::wstring::npos && semi < eq)) {
      // A piece without a value: copied as it is.
      const size_t end = semi == std::wstring::npos ? n : semi + 1;
      out.append(s, i, end - i);
      i = end;
      continue;
    }
    const std::wstring key = s.substr(i, eq - i);
    out.append(s, i, eq + 1 - i);
    size_t end = eq + 1;
    size_t first = end;
    while (first < n && s[first] == L' ') ++first;
    if (first < n && s[first] == L'{') {
      // A braced value runs to its closing brace ("}}" stands for one brace inside it).
      size_t k = first + 1;
      while (k < n) {
        if (s[k] == L'}') {
          if (k + 1 < n && s[k + 1] == L'}') {
            k += 2;
            continue;
          }
          ++k;
          break;
        }
        ++k;
      }
      end = k;
    }
    end = s.find(L';', end);
    if (end == std::wstring::npos) end = n;
    if (is_password_key(key)) out += L"*hidden*";
    else out.append(s, eq + 1, end - eq - 1);
    i = end;
    if (i < n) {
      out += L';';
      ++i;
    }
  }
  return out;
}

connection::~connection() { disconnect(); }

result connection::allocate() {
  if (environment::handle() == SQL_NULL_HENV) return result(os::err_invalid_handle, std::wstring(), 3);
  const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, environment::handle(), &hdbc_);
  if (!sql_ok(rc)) {
    const result r = odbc_diagnostics(environment::handle(), SQL_NULL_HDBC, SQL_NULL_HSTMT, rc);
    hdbc_ = SQL_NULL_HDBC;
    return r;
  }
  return result();
}

void connection::release_after_failure(const result& r) {
  SQLFreeHandle(SQL_HANDLE_DBC, hdbc_);
  hdbc_ = SQL_NULL_HDBC;
  process_log().write(L"TO!", r.format());
}

result connection::connect(void* window, const std::wstring& connection_string, std::wstring* completed,
                           uint16_t completion) {
  const uint32_t start = tick_count();
  write_formatted(process_log(), L"TOO", L"connection::connect(hwnd=%#010x,cs='%s',this=%#010x) begin", low32(window),
                  mask_password(connection_string).c_str(), low32(this));
  // A handle still open is closed first rather than lost.
  if (connected_) disconnect();
  result r = allocate();
  if (r.succeeded()) {
    SQLSetConnectAttrW(hdbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    sql_text cs(connection_string);
    SQLWCHAR out[1024] = {};
    SQLSMALLINT out_length = 0;
    const SQLRETURN rc = SQLDriverConnectW(hdbc_, static_cast<SQLHWND>(window), cs.get(), SQL_NTS, out, 1024,
                                           &out_length, completion);
    if (!sql_ok(rc)) {
      r = odbc_diagnostics(SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT, rc);
      release_after_failure(r);
    } else {
      adapter_ = select_driver(connection_string);
      const std::wstring masked = mask_password(from_sql(out, 1023));
      if (completed) *completed = masked;
      process_log().write(L"TOO", masked);
      connected_ = true;
      long_binary_size_known_ = false;
    }
  }
  write_formatted(process_log(), r.succeeded() ? L"TOO" : L"TO!", L"connection::connect() end(%s,runtm=%ums,this=%#010x).",
                  r.description().c_str(), elapsed_ms(start), low32(this));
  return r;
}

result connection::connect_driver(void* window, const std::wstring& driver_name, const std::wstring& rest,
                                  std::wstring* completed, uint16_t completion) {
  return connect(window, L"Driver={" + driver_name + L"};" + rest, completed, completion);
}

result connection::ConnDs(const std::wstring& dsn, const std::wstring& user, const std::wstring& password) {
  const uint32_t start = tick_count();
  write_formatted(process_log(), L"TOO", L"ConnDs(dsn=%s,uid=%s,pwd=*hidden*) begin", dsn.c_str(), user.c_str());
  if (connected_) disconnect();
  result r = allocate();
  if (r.succeeded()) {
    sql_text d(dsn), u(user), p(password);
    const SQLRETURN rc = SQLConnectW(hdbc_, d.get(), d.length16(), u.get(), u.length16(), p.get(), p.length16());
    if (!sql_ok(rc)) {
      r = odbc_diagnostics(SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT, rc);
      release_after_failure(r);
    } else {
      connected_ = true;
      long_binary_size_known_ = false;
    }
  }
  write_formatted(process_log(), r.succeeded() ? L"TOO" : L"TO!", L"connection::ConnDs(%s,%s)end(%u,%u ms,%s)",
                  dsn.c_str(), user.c_str(), r.code(), elapsed_ms(start), r.text().c_str());
  return r;
}

result connection::disconnect() {
  result r;
  if (connected_) {
    SQLDisconnect(hdbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, hdbc_);
    hdbc_ = SQL_NULL_HDBC;
    connected_ = false;
    adapter_.reset();
    long_binary_size_ = 0;
    long_binary_size_known_ = false;
  } else {
    r = result(os::err_invalid_function, L"Has not been connected", 1);
  }
  write_formatted(process_log(), L"TOC", L"connection::disconnect(r=%u,this=%#010x)", r.code(), low32(this));
  return r;
}

result connection::transact(int completion_type) {
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, hdbc_, completion_type == 0 ? SQL_COMMIT : SQL_ROLLBACK);
  const result r = sql_ok(rc) ? result() : odbc_diagnostics(SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT, rc);
  process_log().write(r.succeeded() ? L"TO;" : L"TO!", std::wstring(L"SQLTransact(") +
                                                          (completion_type == 0 ? L"SQL_COMMIT" : L"SQL_ROLLBACK") +
                                                          L"): " + r.format());
  return r;
}

} // namespace vela::odbc
