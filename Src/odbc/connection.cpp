#include "vela/odbc/connection.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <condition_variable>
#include <initializer_list>
#include <thread>
#include <utility>
#include <vector>

#include "odbc/sqltext.h"
#include "os/os.h"
#include "vela/file.h"
#include "vela/log.h"
#include "vela/odbc/connection_string.h"
#include "vela/odbc/environment.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

constexpr wchar_t hidden[] = L"*hidden*";

// Calls found(attribute, offset) for every attribute of s under the plain rule (every ";"
// ends one), and for those inside values ("a=b PWD=c"): a keyword is found wherever it
// stands before an "=", whatever the braces say.
template <class F>
void each_keyword(const std::wstring& s, size_t offset, const F& found) {
  for (const cs_attribute& a : read_connection_string(s, brace_rule::ignore)) {
    if (!a.has_value()) continue;
    found(a, s, offset);
    const std::wstring rest = s.substr(a.equals + 1, a.end - a.equals - 1);
    if (rest.find(L'=') != std::wstring::npos) each_keyword(rest, offset + a.equals + 1, found);
  }
}

// The driver manager's library loader aborts the process on a driver name made only of "/"
// and ":" (the library's base name comes out empty): such a name is refused before.
bool unloadable_driver_name(const std::wstring& s) {
  bool bad = false;
  const auto check = [&bad](const cs_attribute& a, const std::wstring& text, size_t) {
    if (compare_nocase(a.key(text), L"DRIVER") != 0) return;
    const std::wstring value = a.value(text);
    if (!value.empty() && value.find_first_not_of(L"/:") == std::wstring::npos) bad = true;
  };
  for (const cs_attribute& a : read_connection_string(s)) check(a, s, 0);
  each_keyword(s, 0, check);
  return bad;
}

// Hides from every PWD or PASSWORD keyword to the next ";" or the end, whatever the braces say.
std::wstring mask_keywords(const std::wstring& s) {
  std::vector<std::pair<size_t, size_t>> spans;  // value spans, in order, not overlapping
  each_keyword(s, 0, [&spans](const cs_attribute& a, const std::wstring& text, size_t offset) {
    if (is_password_key(a.key(text))) spans.emplace_back(offset + a.equals + 1, offset + a.end);
  });
  std::wstring out;
  out.reserve(s.size() + 8);
  size_t i = 0;
  for (const auto& [from, to] : spans) {
    if (from < i) continue;  // inside a value already hidden
    out.append(s, i, from - i);
    out += hidden;
    i = to;
  }
  out.append(s, i, std::wstring::npos);
  return out;
}

// Masks key by key, a braced value hidden whole. Sets balanced to false when a braced value
// has no closing brace.
std::wstring mask_structured(const std::wstring& s, bool& balanced) {
  balanced = true;
  std::wstring out;
  out.reserve(s.size() + 8);
  for (const cs_attribute& a : read_connection_string(s)) {
    if (!a.balanced()) balanced = false;
    if (a.has_value() && is_password_key(a.key(s))) {
      out.append(s, a.start, a.equals + 1 - a.start);
      out += hidden;
    } else {
      out.append(s, a.start, a.end - a.start);
    }
    if (a.end < s.size()) out += L';';
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
  each_keyword(s, 0, [&add](const cs_attribute& a, const std::wstring& text, size_t) {
    if (!is_password_key(a.key(text))) return;
    size_t v = a.equals + 1;
    while (v < a.end && text[v] == L' ') ++v;
    add(text.substr(v, a.end - v));
    if (!a.braced()) return;
    const std::wstring raw = a.braced_text(text);
    std::wstring plain = raw;
    replace_all(plain, L"}}", L"}");
    add(raw);
    if (plain != raw) add(plain);
  });
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
  // Some narrow drivers end the output by writing into the statement given, at the output's
  // size: the blanks behind the probe keep that write inside the (converted) statement.
  sql_text in(probe + std::wstring(32, L' '));
  constexpr SQLINTEGER out_size = 16;
  SQLWCHAR out[out_size + 1] = {};
  SQLINTEGER length = 0;
  if (!sql_ok(SQLNativeSqlW(hdbc, in.get(), in.length32(), out, out_size, &length))) return true;
  return from_sql(out, out_size).find(probe.substr(1, probe.size() - 2)) != std::wstring::npos;
}

// Whether text fetched as SQL_C_CHAR comes as UTF-8: a literal beyond Latin-1 and the Basic
// Multilingual Plane is selected and read back narrow. 1 yes, 0 no, -1 when the statement did
// not run (a transaction that refuses statements until it ends): the question stays open.
int narrow_text_is_utf8_here(SQLHDBC hdbc, bool narrow_statements) {
  static const char expected[] = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // é € 😀
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!sql_ok(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &st))) return -1;
  const std::wstring select = L"SELECT '\u00E9\u20AC\U0001F600'";
  SQLRETURN rc;
  if (narrow_statements) {
    std::string bytes = wide_to_utf8(select);
    rc = SQLExecDirectA(st, reinterpret_cast<SQLCHAR*>(bytes.data()), static_cast<SQLINTEGER>(bytes.size()));
  } else {
    sql_text text(select);
    rc = SQLExecDirectW(st, text.get(), SQL_NTS);
  }
  char got[64] = {};
  SQLLEN length = 0;
  const bool ran = sql_ok(rc) && sql_ok(SQLFetch(st));
  const bool same = ran && SQLGetData(st, 1, SQL_C_CHAR, got, sizeof got, &length) == SQL_SUCCESS &&
                    length == static_cast<SQLLEN>(sizeof expected - 1) && std::memcmp(got, expected, sizeof expected - 1) == 0;
  ignored(SQLFreeHandle(SQL_HANDLE_STMT, st), "the probe's statement is dropped either way");
  return !ran ? -1 : same ? 1 : 0;
}

} // namespace

std::wstring mask_password(const std::wstring& s) {
  bool balanced = true;
  const std::wstring structured = mask_structured(s, balanced);
  // A keyword inside a braced value, or braces that do not balance: hidden to the next ";".
  return mask_keywords(balanced ? structured : s);
}

namespace {

bool word_char(wchar_t c) { return std::iswalnum(static_cast<wint_t>(c)) || c == L'_'; }

// The word w (upper case) at i, standing alone: its end, or npos.
size_t word_at(const std::wstring& s, size_t i, const wchar_t* w) {
  size_t j = i;
  for (; *w; ++w, ++j)
    if (j >= s.size() || std::towupper(static_cast<wint_t>(s[j])) != static_cast<wint_t>(*w)) return std::wstring::npos;
  if ((i > 0 && word_char(s[i - 1])) || (j < s.size() && word_char(s[j]))) return std::wstring::npos;
  return j;
}

size_t skip_blanks(const std::wstring& s, size_t i) {
  while (i < s.size() && std::iswspace(static_cast<wint_t>(s[i]))) ++i;
  return i;
}

// The end of the quoted or braced value that opens at i (a doubled closing character, or
// one after a backslash in a quoted value, does not end it); npos when it does not end.
size_t closing(const std::wstring& s, size_t i) {
  const wchar_t close = s[i] == L'{' ? L'}' : s[i];
  for (size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] == L'\\' && close != L'}') ++j;
    else if (s[j] == close && j + 1 < s.size() && s[j + 1] == close) ++j;
    else if (s[j] == close) return j;
  }
  return std::wstring::npos;
}

} // namespace

std::wstring mask_statement(const std::wstring& s) {
  std::wstring out;
  size_t copied = 0;
  bool hid = false;
  bool in_literal = false;  // KEY=value counts inside a string literal (a connection string)
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == L'\'') in_literal = !in_literal;
    size_t e = word_at(s, i, L"PASSWORD");
    if (e == std::wstring::npos) e = word_at(s, i, L"PWD");
    bool assigned = false;  // KEY=value, else a literal follows the words
    if (e != std::wstring::npos) {
      const size_t v = skip_blanks(s, e);
      assigned = v < s.size() && s[v] == L'=';
      e = assigned ? skip_blanks(s, v + 1) : v;
      if (!assigned && e < s.size() && s[e] == L'(') e = skip_blanks(s, e + 1);  // PASSWORD('x')
    } else if ((e = word_at(s, i, L"IDENTIFIED")) != std::wstring::npos) {
      e = word_at(s, skip_blanks(s, e), L"BY");
      if (e != std::wstring::npos) e = skip_blanks(s, e);
    }
    if (e == std::wstring::npos) continue;
    size_t from = e, to = e;  // the span hidden
    size_t next = 0;          // where scanning goes on
    if (e < s.size() && (s[e] == L'\'' || s[e] == L'"' || (assigned && s[e] == L'{'))) {
      // A quoted or braced value whole; the quotes stay.
      const size_t c = closing(s, e);
      from = s[e] == L'{' ? e : e + 1;
      to = c == std::wstring::npos ? s.size() : s[e] == L'{' ? c + 1 : c;
      next = s[e] == L'{' ? to : to + 1;
    } else if (assigned && in_literal) {
      to = s.find_first_of(L";'\"}", e);
      if (to == std::wstring::npos) to = s.size();
      next = to;
    }
    if (to <= from) continue;
    out.append(s, copied, from - copied);
    out += hidden;
    copied = to;
    hid = true;
    i = next - 1;
  }
  if (!hid) return s;
  out.append(s, copied, std::wstring::npos);
  return out;
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
  ignored(SQLFreeHandle(SQL_HANDLE_DBC, hdbc_), "the connect failed: the handle is dropped either way");
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
  data_types_.reset();
  narrow_statements_ = os::narrow_text_is_utf8() && !wide_text_intact(hdbc_);
  profile_ = driver_profile::of_connection(hdbc_, completed_string ? *completed_string : std::wstring(), adapter_.get());
  utf8_narrow_text_ = false;
  utf8_narrow_text_known_ = !os::narrow_text_is_utf8() || !profile_.utf8_narrow_text();
}

bool connection::utf8_narrow_text() {
  if (connected_ && !utf8_narrow_text_known_) {
    const int probed = narrow_text_is_utf8_here(hdbc_, narrow_statements_);
    utf8_narrow_text_known_ = probed >= 0;
    utf8_narrow_text_ = probed == 1;
  }
  return utf8_narrow_text_;
}

namespace {

// The driver's connect call; completed gets the completed connection string.
SQLRETURN driver_connect(SQLHDBC hdbc, void* window, const std::wstring& connection_string, bool raw_bytes,
                         completion mode, std::wstring& completed) {
  SQLRETURN rc;
  if (raw_bytes) {
    std::string cs = wide_to_utf8_escaped(connection_string);
    SQLCHAR out[2048] = {};
    SQLSMALLINT out_length = 0;
    rc = SQLDriverConnectA(hdbc, static_cast<SQLHWND>(window), reinterpret_cast<SQLCHAR*>(cs.data()),
                           static_cast<SQLSMALLINT>(cs.size()), out, 2048, &out_length, static_cast<SQLUSMALLINT>(mode));
    completed = utf8_to_wide_escaped(reinterpret_cast<const char*>(out));
  } else {
    sql_text cs(connection_string);
    SQLWCHAR out[1024] = {};
    SQLSMALLINT out_length = 0;
    rc = SQLDriverConnectW(hdbc, static_cast<SQLHWND>(window), cs.get(), SQL_NTS, out, 1024, &out_length,
                           static_cast<SQLUSMALLINT>(mode));
    completed = from_sql(out, 1023);
  }
  return rc;
}

} // namespace

// A connect that runs on a thread of its own, so that it can be given up while the driver
// still waits (a server that does not answer).
std::atomic<bool> connection::connects_in_thread{true};

struct connection::pending_connect {
  std::mutex m;
  std::condition_variable ended;
  bool done = false;
  bool given_up = false;
  SQLRETURN rc = SQL_ERROR;
  std::wstring completed;
};

void connection::cancel() {
  std::lock_guard<std::mutex> lock(cancel_mutex_);
  if (connecting_) {
    std::lock_guard<std::mutex> call_lock(connecting_->m);
    if (!connecting_->done) connecting_->given_up = true;
    connecting_->ended.notify_all();
  }
  if (catalog_statement_) {
    catalog_cancelled_ = true;
    (void)SQLCancel(catalog_statement_);
  }
}

void connection::set_catalog_statement(void* hstmt) {
  std::lock_guard<std::mutex> lock(cancel_mutex_);
  catalog_statement_ = hstmt;
  if (hstmt) catalog_cancelled_ = false;
}

// The connect on a thread of its own, so that cancel() can give it up; true when it was.
bool connection::connect_in_thread(const std::shared_ptr<pending_connect>& call, dbc_handle hdbc, void* window,
                                   const std::wstring& connection_string, bool raw_bytes, completion mode) {
  std::thread worker([call, hdbc, window, connection_string, raw_bytes, mode] {
    std::wstring done_string;
    const SQLRETURN done_rc = driver_connect(hdbc, window, connection_string, raw_bytes, mode, done_string);
    std::unique_lock<std::mutex> lock(call->m);
    call->done = true;
    call->rc = done_rc;
    call->completed = std::move(done_string);
    if (!call->given_up) {
      call->ended.notify_all();
      return;
    }
    lock.unlock();
    // Given up: nobody waits for this connection any more.
    if (sql_ok(done_rc)) ignored(SQLDisconnect(hdbc), "a connection given up is dropped");
    ignored(SQLFreeHandle(SQL_HANDLE_DBC, hdbc), "a connection given up is dropped");
  });
  bool given_up;
  {
    std::unique_lock<std::mutex> lock(call->m);
    call->ended.wait(lock, [&call] { return call->done || call->given_up; });
    given_up = call->given_up;
  }
  // A finished connect's thread is waited for, so that what the driver's libraries keep
  // for the thread is released with it; a connect given up goes on alone.
  if (given_up) worker.detach();
  else worker.join();
  return given_up;
}

result connection::connect(void* window, const std::wstring& connection_string, std::wstring* completed,
                           completion mode) {
  const uint32_t start = tick_count();
  write_formatted(process_log(), L"TOO", L"connection::connect(hwnd=%#010x,cs='%s',this=%#010x) begin", low32(window),
                  mask_password(connection_string).c_str(), low32(this));
  // A handle still open is closed first rather than lost.
  if (connected_) (void)disconnect();  // succeeds when connected
  result r = unloadable_driver_name(connection_string)
                 ? failure(db_access_error(), L"[IM003] Specified driver could not be loaded").set_state(L"IM003", 0)
                 : allocate();
  if (r.succeeded()) {
    ignored(SQLSetConnectAttrW(hdbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0),
            "a driver that cannot time a login out still connects");
    // Bytes that are not UTF-8 (a file name) go as they are through the narrow call: the
    // conversion of wide text would change them.
    const bool raw_bytes = has_escaped_bytes(connection_string);
    auto call = std::make_shared<pending_connect>();
    {
      std::lock_guard<std::mutex> lock(cancel_mutex_);
      connecting_ = call;
    }
    bool given_up = false;
    if (!connects_in_thread) {
      // Nothing can give this connect up: it runs here, and the process keeps its one thread.
      call->rc = driver_connect(hdbc_, window, connection_string, raw_bytes, mode, call->completed);
      call->done = true;
    } else {
      given_up = connect_in_thread(call, hdbc_, window, connection_string, raw_bytes, mode);
    }
    {
      std::lock_guard<std::mutex> lock(cancel_mutex_);
      connecting_.reset();
    }
    const SQLRETURN rc = call->rc;
    const std::wstring completed_string = call->completed;
    if (given_up) {
      hdbc_ = SQL_NULL_HDBC;  // the thread frees it
      r = failure(db_access_error(), L"[HY008] Operation canceled");
    } else if (!sql_ok(rc)) {
      r = odbc_diagnostics(SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT, rc);
      // The driver manager quotes parts of the string (a driver name that swallowed the rest).
      r.set(r.code(), mask_secrets(r.text(), connection_string), r.severity());
      release_after_failure(r);
    } else if (raw_bytes && wide_text_intact(hdbc_)) {
      // A driver of wide text got the bytes through a conversion of the driver manager, which
      // may have changed them: such a connection is not used.
      ignored(SQLDisconnect(hdbc_), "the handle is released next and the refusal is the result");
      r = failure(os::err_no_unicode_translation,
                  L"The connection string holds bytes that are not UTF-8, which this driver cannot take as they are");
      release_after_failure(r);
    } else {
      adapter_ = select_driver(connection_string);
      connected_as(&completed_string, completed);
    }
  }
  write_formatted(process_log(), r.succeeded() ? L"TOO" : L"TO!", L"connection::connect() end(%s,runtm=%ums,this=%#010x).",
                  r.description().c_str(), elapsed_ms(start), low32(this));
  // Without a window a driver cannot prompt for what is missing or wrong, and may say only
  // that its dialog failed (IM008): asked again without prompting, it gives its own reason.
  if (!r.succeeded() && !window && mode != completion::no_prompt && r.text().starts_with(L"[IM008]"))
    return connect(window, connection_string, completed, completion::no_prompt);
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

void connection::swap(connection& other) {
  if (this == &other) return;
  std::scoped_lock lock(cancel_mutex_, other.cancel_mutex_);
  std::swap(hdbc_, other.hdbc_);
  std::swap(connecting_, other.connecting_);
  std::swap(catalog_statement_, other.catalog_statement_);
  catalog_cancelled_ = other.catalog_cancelled_.exchange(catalog_cancelled_);
  driver* const adapter = adapter_.release();
  adapter_ = other.adapter_.release();
  other.adapter_ = adapter;
  std::swap(connected_, other.connected_);
  std::swap(narrow_statements_, other.narrow_statements_);
  std::swap(utf8_narrow_text_, other.utf8_narrow_text_);
  std::swap(utf8_narrow_text_known_, other.utf8_narrow_text_known_);
  std::swap(profile_, other.profile_);
  std::swap(long_binary_size_, other.long_binary_size_);
  std::swap(long_binary_size_known_, other.long_binary_size_known_);
  std::swap(data_types_, other.data_types_);
}

result connection::disconnect() {
  result r;
  if (connected_) {
    SQLRETURN rc = SQLDisconnect(hdbc_);
    if (!sql_ok(rc)) {
      // A transaction still open (manual commit) keeps the connection: it is rolled back,
      // as closing a session does, and the disconnect tried again.
      r = checked(rc, SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT);
      ignored(SQLEndTran(SQL_HANDLE_DBC, hdbc_, SQL_ROLLBACK), "the second disconnect tells whether it helped");
      rc = SQLDisconnect(hdbc_);
      r = sql_ok(rc) ? result() : checked(rc, SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT);
    }
    ignored(SQLFreeHandle(SQL_HANDLE_DBC, hdbc_), "the handle is dropped either way; a failed disconnect is the result");
    hdbc_ = SQL_NULL_HDBC;
    connected_ = false;
    narrow_statements_ = false;
    utf8_narrow_text_ = false;
    utf8_narrow_text_known_ = false;
    profile_ = driver_profile();
    adapter_.reset();
    long_binary_size_ = 0;
    long_binary_size_known_ = false;
    data_types_.reset();
  } else {
    r = result(os::err_invalid_function, L"Has not been connected", severity::information);
  }
  write_formatted(process_log(), L"TOC", L"connection::disconnect(r=%u,this=%#010x)", r.code(), low32(this));
  return r;
}

bool connection::autocommit() const {
  SQLULEN mode = SQL_AUTOCOMMIT_ON;
  if (!connected_ || !sql_ok(SQLGetConnectAttr(hdbc_, SQL_ATTR_AUTOCOMMIT, &mode, 0, nullptr))) return true;
  return mode != SQL_AUTOCOMMIT_OFF;
}

result connection::set_autocommit(bool on) {
  const auto mode = static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF);
  const SQLRETURN rc = SQLSetConnectAttr(hdbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(mode), 0);
  return sql_ok(rc) ? result() : odbc_diagnostics(SQL_NULL_HENV, hdbc_, SQL_NULL_HSTMT, rc);
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
