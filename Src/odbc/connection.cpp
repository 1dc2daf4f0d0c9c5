#include "vela/odbc/connection.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "odbc/sqltext.h"
#include "os/os.h"
#include "vela/file.h"
#include "vela/log.h"
#include "vela/odbc/environment.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

bool is_password_key(std::wstring key) {
  trim(key, L" \t");
  // The last word counts: a key may follow a command or a quote ("CONNECT \"...;PWD=x").
  const size_t cut = key.find_last_of(L" \t\"'");
  if (cut != std::wstring::npos) key.erase(0, cut + 1);
  return compare_nocase(key, L"PWD") == 0 || compare_nocase(key, L"PASSWORD") == 0;
}

constexpr wchar_t hidden[] = L"*hidden*";

bool word_char(wchar_t c) { return (c >= L'0' && c <= L'9') || ((c | 0x20) >= L'a' && (c | 0x20) <= L'z') || c == L'_'; }

// Where the value of one of the keywords at p starts (after "=" and the blanks before it), or
// npos when p does not start such a keyword.
size_t keyword_value_at(const std::wstring& s, size_t p, std::initializer_list<std::wstring_view> keys) {
  if (p > 0 && word_char(s[p - 1])) return std::wstring::npos;
  for (const std::wstring_view key : keys) {
    if (p + key.size() > s.size() || compare_nocase(std::wstring_view(s).substr(p, key.size()), key) != 0) continue;
    size_t q = p + key.size();
    while (q < s.size() && (s[q] == L' ' || s[q] == L'\t')) ++q;
    if (q < s.size() && s[q] == L'=') return q + 1;
  }
  return std::wstring::npos;
}

size_t password_value_at(const std::wstring& s, size_t p) { return keyword_value_at(s, p, {L"PASSWORD", L"PWD"}); }

// The driver manager's library loader aborts the process on a driver name made only of "/"
// and ":" (the library's base name comes out empty): such a name is refused before.
bool unloadable_driver_name(const std::wstring& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const size_t v = keyword_value_at(s, i, {L"DRIVER"});
    if (v == std::wstring::npos) continue;
    std::wstring value;
    if (v < s.size() && s[v] == L'{') {
      const size_t close = s.find(L'}', v + 1);
      value = s.substr(v + 1, close == std::wstring::npos ? std::wstring::npos : close - v - 1);
    } else {
      value = s.substr(v, s.find(L';', v) - v);
    }
    if (!value.empty() && value.find_first_not_of(L"/:") == std::wstring::npos) return true;
  }
  return false;
}

// Hides from every PWD or PASSWORD keyword to the next ";" or the end, whatever the braces say.
std::wstring mask_keywords(const std::wstring& s) {
  std::wstring out;
  out.reserve(s.size() + 8);
  size_t i = 0;
  while (i < s.size()) {
    const size_t v = password_value_at(s, i);
    if (v == std::wstring::npos) {
      out += s[i++];
      continue;
    }
    out.append(s, i, v - i);
    out += hidden;
    i = s.find(L';', v);
    if (i == std::wstring::npos) i = s.size();
  }
  return out;
}

// Masks key by key, a braced value hidden whole. Sets balanced to false when a braced value
// has no closing brace.
std::wstring mask_structured(const std::wstring& s, bool& balanced) {
  balanced = true;
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
      bool closed = false;
      while (k < n) {
        if (s[k] == L'}') {
          if (k + 1 < n && s[k + 1] == L'}') {
            k += 2;
            continue;
          }
          ++k;
          closed = true;
          break;
        }
        ++k;
      }
      if (!closed) balanced = false;
      end = k;
    }
    end = s.find(L';', end);
    if (end == std::wstring::npos) end = n;
    if (is_password_key(key)) out += hidden;
    else out.append(s, eq + 1, end - eq - 1);
    i = end;
    if (i < n) {
      out += L';';
      ++i;
    }
  }
  return out;
}

// Password values as they may be quoted elsewhere: up to the next ";", and a braced value
// with and without its braces.
std::vector<std::wstring> password_values(const std::wstring& s) {
  std::vector<std::wstring> values;
  auto add = [&values](std::wstring v) {
    // Very short values would hide common letters of a message, not a secret.
    if (v.size() >= 4) values.push_back(std::move(v));
  };
  for (size_t i = 0; i < s.size(); ++i) {
    size_t v = password_value_at(s, i);
    if (v == std::wstring::npos) continue;
    while (v < s.size() && s[v] == L' ') ++v;
    size_t semi = s.find(L';', v);
    if (semi == std::wstring::npos) semi = s.size();
    add(s.substr(v, semi - v));
    if (v < s.size() && s[v] == L'{') {
      std::wstring raw, plain;
      size_t k = v + 1;
      for (; k < s.size(); ++k) {
        if (s[k] == L'}') {
          if (k + 1 < s.size() && s[k + 1] == L'}') {
            raw += L"}}";
            plain += L'}';
            ++k;
            continue;
          }
          break;
        }
        raw += s[k];
        plain += s[k];
      }
      add(raw);
      if (plain != raw) add(plain);
    }
  }
  // Longest first, so that a value is not left half shown by a shorter one inside it.
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  return values;
}

// Whether wide text reaches the driver intact. A driver with narrow entry points only gets it
// through the driver manager's conversion, which (unixODBC) keeps one byte of each UTF-16
// unit. SQLNativeSqlW takes the same way without a round trip to the server; a driver that
// does not answer it keeps the wide calls.
bool wide_text_intact(SQLHDBC hdbc) {
  const std::wstring probe = L"'\u00E9\u20AC\U0001F600'";
  sql_text in(probe);
  SQLWCHAR out[64] = {};
  SQLINTEGER length = 0;
  if (!sql_ok(SQLNativeSqlW(hdbc, in.get(), in.length32(), out, 64, &length))) return true;
  return from_sql(out, 63).find(probe.substr(1, probe.size() - 2)) != std::wstring::npos;
}

} // namespace

std::wstring mask_password(const std::wstring& s) {
  bool balanced = true;
  const std::wstring structured = mask_structured(s, balanced);
  // A keyword inside a braced value, or braces that do not balance: hidden to the next ";".
  return mask_keywords(balanced ? structured : s);
}

std::wstring mask_secrets(const std::wstring& text, const std::wstring& connection_string) {
  std::wstring out = mask_password(text);
  for (const auto& v : password_values(connection_string)) {
    for (size_t p = out.find(v); p != std::wstring::npos; p = out.find(v, p + std::size(hidden) - 1))
      out.replace(p, v.size(), hidden);
  }
  return out;
}

connection::~connection() { (void)disconnect(); }  // fails only when not connected

result connection::allocate() {
  if (environment::handle() == SQL_NULL_HENV) return failure(os::err_invalid_handle);
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

void connection::connected_as(const std::wstring* completed_string, std::wstring* completed) {
  if (completed_string) {
    const std::wstring masked = mask_password(*completed_string);
    if (completed) *completed = masked;
    process_log().write(L"TOO", masked);
  }
  connected_ = true;
  long_binary_size_known_ = false;
  narrow_statements_ = os::narrow_text_is_utf8() && !wide_text_intact(hdbc_);
}

result connection::connect(void* window, const std::wstring& connection_string, std::wstring* completed,
                           completion mode) {
  const uint32_t start = tick_count();
  write_formatted(process_log(), L"TOO", L"connection::connect(hwnd=%#010x,cs='%s',this=%#010x) begin", low32(window),
                  mask_password(connection_string).c_str(), low32(this));
  // A handle still open is closed first rather than lost.
  if (connected_) (void)disconnect();  // succeeds when connected
  result r = unloadable_driver_name(connection_string)
                 ? failure(db_access_error(), L"[IM003] Specified driver could not be loaded")
                 : allocate();
  if (r.succeeded()) {
    SQLSetConnectAttrW(hdbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    // Bytes that are not UTF-8 (a file name) go as they are through the narrow call: the
    // conversion of wide text would change them.
    const bool raw_bytes = has_escaped_bytes(connection_string);
    SQLRETURN rc;
    std::wstring completed_string;
    if (raw_bytes) {
      std::string cs = wide_to_utf8_escaped(connection_string);
      SQLCHAR out[2048] = {};
      SQLSMALLINT out_length = 0;
      rc = SQLDriverConnectA(hdbc_, static_cast<SQLHWND>(window), reinterpret_cast<SQLCHAR*>(cs.data()),
                             static_cast<SQLSMALLINT>(cs.size()), out, 2048, &out_length,
                             static_cast<SQLUSMALLINT>(mode));
      completed_string = utf8_to_wide_escaped(reinterpret_cast<const char*>(out));
    } else {
      sql_text cs(connection_string);
      SQLWCHAR out[1024] = {};
      SQLSMALLINT out_length = 0;
      rc = SQLDriverConnectW(hdbc_, static_cast<SQLHWND>(window), cs.get(), SQL_NTS, out, 1024, &out_length,
                             static_cast<SQLUSMALLINT>(mode));
      completed_string = from_sql(out, 1023);
    }
    if (!sql_ok(rc)) {
      r = odbc_diagnostics(SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT, rc);
      // The driver manager quotes parts of the string (a driver name that swallowed the rest).
      r.set(r.code(), mask_secrets(r.text(), connection_string), r.severity());
      release_after_failure(r);
    } else if (raw_bytes && wide_text_intact(hdbc_)) {
      // A driver of wide text got the bytes through a conversion of the driver manager, which
      // may have changed them: such a connection is not used.
      SQLDisconnect(hdbc_);
      r = failure(os::err_no_unicode_translation,
                  L"The connection string holds bytes that are not UTF-8, which this driver cannot take as they are");
      release_after_failure(r);
    } else {
      connected_as(&completed_string, completed);
      adapter_ = select_driver(connection_string);
    }
  }
  write_formatted(process_log(), r.succeeded() ? L"TOO" : L"TO!", L"connection::connect() end(%s,runtm=%ums,this=%#010x).",
                  r.description().c_str(), elapsed_ms(start), low32(this));
  return r;
}

result connection::connect_driver(void* window, const std::wstring& driver_name, const std::wstring& rest,
                                  std::wstring* completed, completion mode) {
  return connect(window, L"Driver={" + driver_name + L"};" + rest, completed, mode);
}

result connection::ConnDs(const std::wstring& dsn, const std::wstring& user, const std::wstring& password) {
  const uint32_t start = tick_count();
  write_formatted(process_log(), L"TOO", L"ConnDs(dsn=%s,uid=%s,pwd=*hidden*) begin", dsn.c_str(), user.c_str());
  if (connected_) (void)disconnect();  // succeeds when connected
  result r = allocate();
  if (r.succeeded()) {
    sql_text d(dsn), u(user), p(password);
    const SQLRETURN rc = SQLConnectW(hdbc_, d.get(), d.length16(), u.get(), u.length16(), p.get(), p.length16());
    if (!sql_ok(rc)) {
      r = odbc_diagnostics(SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT, rc);
      release_after_failure(r);
    } else {
      connected_as(nullptr, nullptr);
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
    narrow_statements_ = false;
    adapter_.reset();
    long_binary_size_ = 0;
    long_binary_size_known_ = false;
  } else {
    r = result(os::err_invalid_function, L"Has not been connected", severity::information);
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
