#include "vela/odbc/environment.h"

#include "odbc/sqltext.h"
#include "odbc/strings.h"
#include "vela/b_time.h"

namespace vela::odbc {

namespace {

// Plain process-wide state, set up on the main thread.
SQLHENV shared_env = SQL_NULL_HENV;
int32_t live = 0;
bool codes_registered = false;
uint32_t access_error_code = 0;
uint32_t no_data_code = 0;

void register_codes() {
  if (codes_registered) return;
  // The date and time codes come first whatever order static objects are built in, so the
  // codes assigned here are the same in every program.
  init_date_time();
  // In the user's language, chosen once: the codes are the same in both.
  access_error_code = RegisterErrorText(text(text_id::access_error));
  no_data_code = RegisterErrorText(text(text_id::no_data));
  codes_registered = true;
}

struct diag_record {
  std::wstring state;
  std::wstring message;
  int32_t native = 0;
};

// The text users see is built from the record's fields.
result from_record(const diag_record& rec, int32_t severity) {
  result r(db_access_error(), L"[" + rec.state + L"] " + rec.message, severity);
  r.set_state(rec.state, rec.native);
  return r;
}

bool read_record(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT number, diag_record& out) {
  SQLWCHAR state[6] = {};
  SQLWCHAR message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetDiagRecW(type, h, number, state, &native, message, 512, &length);
  if (!sql_ok(rc)) return false;
  out.state = from_sql(state, 5);
  out.message = from_sql(message, 511);
  out.native = native;
  return true;
}

} // namespace

// One object lives for the whole run of each program.
static environment process_environment;

environment::environment() {
  register_codes();
  if (live++ != 0) return;
  const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &shared_env);
  if (!sql_ok(rc)) {
    // Every later call fails on the missing handle and reports it.
    (void)odbc_diagnostics(shared_env, SQL_NULL_HDBC, SQL_NULL_HSTMT, rc);
    shared_env = SQL_NULL_HENV;
    return;
  }
  // Without version 3 behaviour nothing here works: every later call reports the missing handle.
  if (!sql_ok(SQLSetEnvAttr(shared_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    ignored(SQLFreeHandle(SQL_HANDLE_ENV, shared_env), "an environment that is not used");
    shared_env = SQL_NULL_HENV;
  }
}

environment::~environment() {
  if (live-- != 1) return;
  if (shared_env == SQL_NULL_HENV) return;
  if (sql_ok(SQLFreeHandle(SQL_HANDLE_ENV, shared_env))) shared_env = SQL_NULL_HENV;
}

SQLHENV environment::handle() { return shared_env; }
int32_t environment::live_count() { return live; }

std::wstring driver_manager_version() {
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!sql_ok(SQLAllocHandle(SQL_HANDLE_DBC, environment::handle(), &dbc))) return {};
  SQLWCHAR text[64] = {};
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetInfoW(dbc, SQL_DM_VER, text, sizeof text, &length);
  ignored(SQLFreeHandle(SQL_HANDLE_DBC, dbc), "a handle that never connected");
  return sql_ok(rc) ? from_sql(text, 63) : std::wstring();
}

uint32_t db_access_error() {
  register_codes();
  return access_error_code;
}

uint32_t no_data_error() {
  register_codes();
  return no_data_code;
}

namespace {

result diagnostics(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, bool failed_call) {
  SQLSMALLINT type = SQL_HANDLE_ENV;
  SQLHANDLE h = env;
  if (stmt) {
    type = SQL_HANDLE_STMT;
    h = stmt;
  } else if (dbc) {
    type = SQL_HANDLE_DBC;
    h = dbc;
  }
  diag_record first;
  const bool have = h && read_record(type, h, 1, first);
  if (failed_call) {
    if (!have) return failure(db_access_error());
    // The first record that is not a warning tells what went wrong.
    diag_record chosen = first;
    diag_record rec;
    for (SQLSMALLINT i = 1; read_record(type, h, i, rec); ++i) {
      if (rec.state.compare(0, 2, L"01") != 0) {
        chosen = rec;
        break;
      }
      if (i > 64) break;
    }
    if (chosen.state.empty()) return failure(db_access_error());
    return from_record(chosen, severity::error);
  }
  if (!have || first.state == L"00000") return result();
  if (first.state.empty()) return failure(db_access_error());
  const int32_t severity = first.state.compare(0, 2, L"01") == 0 ? severity::warning : severity::error;
  return from_record(first, severity);
}

} // namespace

result odbc_diagnostics(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) { return diagnostics(env, dbc, stmt, false); }

result odbc_diagnostics(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLRETURN rc) {
  return diagnostics(env, dbc, stmt, rc == SQL_ERROR || rc == SQL_INVALID_HANDLE);
}

bool connection_lost(const result& r) {
  if (r.state().compare(0, 2, L"08") == 0 || r.state() == L"57P01" || r.state() == L"57P02") return true;
  if (r.native_code() == 2006 || r.native_code() == 2013) return true;  // server gone away, lost connection
  static const wchar_t* const words[] = {L"server has gone away", L"Lost connection to", L"no connection to the server",
                                         L"server closed the connection", L"terminating connection due to administrator"};
  for (const wchar_t* w : words)
    if (r.text().find(w) != std::wstring::npos) return true;
  return false;
}

} // namespace vela::odbc
