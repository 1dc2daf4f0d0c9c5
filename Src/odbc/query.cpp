#include "vela/odbc/query.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "odbc/sqltext.h"
#include "os/os.h"
#include "vela/file.h"
#include "vela/log.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/query_data_file.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

// An execution that returned with information or without data, yet reports a lost connection
// (SQLSTATE class 08): that is a failure, not an empty result.
result lost_connection(SQLHDBC dbc, SQLHSTMT stmt) {
  result d = odbc_diagnostics(SQL_NULL_HENV, dbc, stmt);
  if (d.state().compare(0, 2, L"08") == 0) return d;
  return result();
}
} // namespace

int32_t bounded_display_size(int32_t display_size) {
  if (display_size <= 0) return unknown_display_size;
  return display_size > max_display_size ? max_display_size : display_size;
}

// ---- column ------------------------------------------------------------------

void column::release() {
  if (buffer_ && !caller_buffer_) std::free(buffer_);
  buffer_ = nullptr;
}

result column::describe() {
  SQLLEN number = 0;
  SQLWCHAR text[512] = {};
  SQLSMALLINT text_length = 0;
  auto numeric = [&](SQLUSMALLINT field, int32_t& target) {
    number = 0;
    const SQLRETURN rc = SQLColAttributeW(statement_, number_, field, nullptr, 0, nullptr, &number);
    // Sizes beyond 32 bits (a long binary column may answer 8589934590) saturate, never wrap.
    if (SQL_SUCCEEDED(rc))
      target = number > INT32_MAX ? INT32_MAX : number < INT32_MIN ? INT32_MIN : static_cast<int32_t>(number);
    return rc;
  };
  auto textual = [&](SQLUSMALLINT field, std::wstring& target) {
    text[0] = 0;
    const SQLRETURN rc = SQLColAttributeW(statement_, number_, field, text, sizeof text, &text_length, nullptr);
    // A longer text comes cut to the buffer (SQL_SUCCESS_WITH_INFO): it is kept as cut.
    if (SQL_SUCCEEDED(rc)) target = from_sql(text, 511);
    return rc;
  };
  // The type as SQLDescribeCol gives it: some drivers answer SQL_COLUMN_TYPE with
  // SQL_CHAR for every text, long and binary column.
  SQLSMALLINT described = 0;
  SQLRETURN rc = SQLDescribeColW(statement_, number_, nullptr, 0, nullptr, &described, nullptr, nullptr, nullptr);
  if (rc == SQL_SUCCESS) sql_type_ = described;
  else rc = numeric(SQL_COLUMN_TYPE, sql_type_);
  if (SQL_SUCCEEDED(rc)) rc = textual(SQL_COLUMN_TABLE_NAME, table_name_);
  if (SQL_SUCCEEDED(rc)) rc = textual(SQL_DESC_NAME, name_);
  if (SQL_SUCCEEDED(rc)) rc = numeric(SQL_COLUMN_DISPLAY_SIZE, display_size_);
  if (SQL_SUCCEEDED(rc)) rc = numeric(SQL_COLUMN_LENGTH, length_);
  if (SQL_SUCCEEDED(rc)) {
    std::wstring type_name;  // a driver that cannot name the type leaves the column as it is
    if (sql_type_ != SQL_BIT) textual(SQL_DESC_TYPE_NAME, type_name);
    boolean_ = sql_type_ == SQL_BIT || compare_nocase(type_name, L"bool") == 0 || compare_nocase(type_name, L"boolean") == 0;
    return result();
  }
  return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement_, rc);
}

result column::bind(void* buffer, bind_type type, int32_t buffer_length) {
  indicators_.assign(at_->size, SQL_NULL_DATA);
  c_type_ = type;
  release();
  buffer_ = buffer;
  caller_buffer_ = buffer != nullptr;
  // As when attached: a column whose type is known is still bound.
  const result described = describe();
  if (!described.succeeded() && sql_type_ == 0) return described;
  if (c_type_ == bind_type::automatic) {
    switch (sql_type_) {
      case SQL_NUMERIC:
      case SQL_INTEGER: c_type_ = bind_type::int32; length_ = 4; break;
      case SQL_SMALLINT:
      case SQL_TINYINT: c_type_ = bind_type::int16; length_ = 2; break;
      case SQL_FLOAT:
      case SQL_REAL: c_type_ = bind_type::float32; length_ = 4; break;
      case SQL_DOUBLE: c_type_ = bind_type::float64; length_ = 8; break;
      case SQL_DATETIME: c_type_ = bind_type::wide_text; length_ = 23; break;
      default:
        if (is_long_or_binary(sql_type_)) return result();  // read in pieces, never bound
        c_type_ = bind_type::wide_text;
    }
  }
  int32_t bytes;
  if (c_type_ == bind_type::wide_text)
    bytes = caller_buffer_ && buffer_length ? buffer_length : bounded_display_size(display_size_) * 2 + 2;
  else if (c_type_ == bind_type::narrow_text)
    bytes = caller_buffer_ && buffer_length ? buffer_length : bounded_display_size(display_size_) * 4 + 1;
  else
    bytes = caller_buffer_ && buffer_length ? buffer_length : (length_ > 0 ? length_ : 8);
  if (!caller_buffer_) {
    buffer_ = std::calloc(static_cast<size_t>(bytes), at_->size);
    if (!buffer_) throw std::bad_alloc();
  }
  buffer_length_ = bytes;
  const SQLRETURN rc =
      SQLBindCol(statement_, number_, static_cast<SQLSMALLINT>(c_type_), buffer_, bytes, indicators_.data());
  if (rc != SQL_SUCCESS) return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement_, rc);
  return result();
}

result column::unbind() {
  const SQLRETURN rc = SQLBindCol(statement_, number_, SQL_C_DEFAULT, nullptr, 0, nullptr);
  release();
  c_type_ = bind_type::automatic;
  buffer_length_ = 0;
  indicators_.assign(1, SQL_NULL_DATA);
  if (rc != SQL_SUCCESS) return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement_, rc);
  return result();
}

void column::text(std::wstring& out) const {
  out.clear();
  if (!buffer_ || is_null() || c_type_ != bind_type::wide_text) return;
  size_t units = static_cast<size_t>(buffer_length_ / 2);
  const int64_t length = indicator();
  if (length >= 0 && static_cast<size_t>(length / 2) < units) units = static_cast<size_t>(length / 2);
  const auto* s = static_cast<const char16_t*>(buffer());
  size_t n = 0;
  while (n < units && s[n]) ++n;
  // Plain characters need no pairing: the common case costs one pass and no allocation.
  out.resize(n);
  for (size_t i = 0; i < n; ++i) {
    if (s[i] >= 0xD800 && s[i] <= 0xDFFF) {
      out = utf16_to_wide(s, n);
      return;
    }
    out[i] = static_cast<wchar_t>(s[i]);
  }
}

// A driver may hand a BIT over as text in its raw byte: U+0001 for 1, and nothing at all for 0.
void column::mend_bit_text() {
  if (sql_type_ != SQL_BIT || !buffer_) return;
  int64_t& length = indicators_[at_->row];
  if (c_type_ == bind_type::narrow_text && buffer_length_ >= 2) {
    auto* s = static_cast<char*>(buffer());
    if (length == 0) {
      s[0] = '0';
      s[1] = 0;
      length = 1;
    } else if (length == 1 && (s[0] == 0 || s[0] == 1)) {
      s[0] = static_cast<char>('0' + s[0]);
    }
    return;
  }
  if (c_type_ != bind_type::wide_text || buffer_length_ < 4) return;
  auto* s = static_cast<char16_t*>(buffer());
  if (length == 0) {
    s[0] = u'0';
    s[1] = 0;
    length = 2;
  } else if (length == 2 && (s[0] == 0 || s[0] == 1)) {
    s[0] = static_cast<char16_t>(u'0' + s[0]);
  }
}

result column::position() {
  if (at_->size == 1) return result();
  if (!at_->positioned) {
    SQLLEN n = -1;
    if (!sql_ok(SQLRowCount(statement_, &n))) n = -1;  // no count known
    at_->rows_before = n;
    at_->positioned = true;
  }
  const SQLRETURN rc = SQLSetPos(statement_, static_cast<SQLSETPOSIROW>(at_->row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE);
  if (sql_ok(rc)) return result();
  return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement_, rc);
}

result column::read_text(std::vector<char16_t>& piece, const std::function<void(const char16_t*, size_t)>& sink,
                         bool* is_null, size_t limit) {
  if (is_null) *is_null = false;
  if (const result placed = position(); !placed.succeeded()) return placed;
  if (piece.size() < 3) piece.resize(16384);
  const size_t room = piece.size() - 2;  // one unit for the terminator, one for a held-back surrogate
  size_t held = 0;                       // a high surrogate kept from the last piece, at piece[0]
  size_t delivered = 0;
  for (;;) {
    SQLLEN length = 0;
    const SQLRETURN rc = SQLGetData(statement_, number_, SQL_C_WCHAR, piece.data() + held,
                                    static_cast<SQLLEN>((room + 1) * sizeof(char16_t)), &length);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement_, rc);
    if (length == SQL_NULL_DATA) {
      if (is_null) *is_null = true;
      break;
    }
    const bool more = rc == SQL_SUCCESS_WITH_INFO && (length == SQL_NO_TOTAL || static_cast<size_t>(length) / 2 > room);
    size_t units = held + (more ? room : static_cast<size_t>(length) / 2);
    held = 0;
    if (more && units > 0 && piece[units - 1] >= 0xD800 && piece[units - 1] <= 0xDBFF) {
      held = 1;
      --units;
    }
    sink(piece.data(), units);
    delivered += units;
    if (!more) break;
    if (held) piece[0] = piece[units];
    if (delivered >= limit) return result();  // the rest is not wanted
  }
  if (held) sink(piece.data(), held);
  return result();
}

result column::read_bytes(std::vector<unsigned char>& piece,
                          const std::function<void(const unsigned char*, size_t)>& sink, bool* is_null,
                          size_t limit) {
  if (is_null) *is_null = false;
  if (const result placed = position(); !placed.succeeded()) return placed;
  if (piece.empty()) piece.resize(32768);
  size_t delivered = 0;
  for (;;) {
    SQLLEN length = 0;
    const SQLRETURN rc = SQLGetData(statement_, number_, SQL_C_BINARY, piece.data(),
                                    static_cast<SQLLEN>(piece.size()), &length);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement_, rc);
    if (length == SQL_NULL_DATA) {
      if (is_null) *is_null = true;
      break;
    }
    const bool more = rc == SQL_SUCCESS_WITH_INFO && (length == SQL_NO_TOTAL || static_cast<size_t>(length) > piece.size());
    const size_t n = more ? piece.size() : static_cast<size_t>(length);
    sink(piece.data(), n);
    delivered += n;
    if (!more || delivered >= limit) break;
  }
  return result();
}

result column::read_utf8(std::vector<unsigned char>& piece, const std::function<void(const unsigned char*, size_t)>& sink,
                         bool* is_null, size_t limit) {
  if (is_null) *is_null = false;
  if (const result placed = position(); !placed.succeeded()) return placed;
  if (piece.size() < 8) piece.resize(32768);
  const size_t room = piece.size() - 4;  // the terminator, and up to 3 bytes held back
  size_t held = 0;                       // the start of a character cut by the last piece, at piece[0]
  size_t delivered = 0;
  for (;;) {
    SQLLEN length = 0;
    const SQLRETURN rc = SQLGetData(statement_, number_, SQL_C_CHAR, piece.data() + held,
                                    static_cast<SQLLEN>(room + 1), &length);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, statement_, rc);
    if (length == SQL_NULL_DATA) {
      if (is_null) *is_null = true;
      break;
    }
    const bool more = rc == SQL_SUCCESS_WITH_INFO && (length == SQL_NO_TOTAL || static_cast<size_t>(length) > room);
    size_t n = held + (more ? room : static_cast<size_t>(length));
    held = more ? n - utf8_complete(reinterpret_cast<const char*>(piece.data()), n) : 0;
    n -= held;
    sink(piece.data(), n);
    delivered += n;
    if (!more) break;
    if (held) std::memmove(piece.data(), piece.data() + n, held);
    if (delivered >= limit) return result();  // the rest is not wanted
  }
  if (held) sink(piece.data(), held);
  return result();
}

// ---- resultset ---------------------------------------------------------------

resultset::~resultset() {
  if (hstmt_) (void)detach();  // fails only when not attached
}

result resultset::attach(connection* conn, SQLHSTMT statement) {
  connection_ = conn;
  hstmt_ = statement;
  columns_.clear();
  has_bit_ = false;
  SQLSMALLINT count = 0;
  const SQLRETURN rc = SQLNumResultCols(statement, &count);
  if (rc != SQL_SUCCESS) return odbc_diagnostics(SQL_NULL_HENV, conn ? conn->hdbc() : SQL_NULL_HDBC, statement, rc);
  columns_.reserve(static_cast<size_t>(count));
  for (SQLSMALLINT i = 0; i < count; ++i) {
    columns_.push_back(std::make_unique<column>(statement, static_cast<uint16_t>(i + 1), &at_));
    // A column whose type cannot be learnt (the connection gone) is the driver's error.
    const result described = columns_.back()->describe();
    if (!described.succeeded() && columns_.back()->sql_type() == 0) return described;
    if (columns_.back()->sql_type() == SQL_BIT) has_bit_ = true;
  }
  return result();
}

result resultset::detach() {
  if (!hstmt_) return failure(os::err_invalid_handle, L"resultset::detach(): hstmt==nullptr");
  ignored(SQLFreeStmt(hstmt_, SQL_UNBIND), "the statement is closed or freed before it is used again");
  reset_rowset();  // the statement's next result starts with one row at a time
  columns_.clear();
  connection_ = nullptr;
  hstmt_ = SQL_NULL_HSTMT;
  return result();
}

result resultset::bind_all() {
  result r;
  for (size_t i = 0; i < columns_.size() && r.succeeded(); ++i)
    r.merge(columns_[i]->bind(nullptr, bind_type::automatic, 0));
  return r;
}

result resultset::bind(uint16_t n, void* buffer, bind_type type, int32_t buffer_length) {
  if (n == 0 || n > columns_.size()) return failure(os::err_invalid_parameter);
  return columns_[n - 1]->bind(buffer, type, buffer_length);
}

static_assert(sizeof(SQLULEN) == sizeof(size_t) && sizeof(SQLUSMALLINT) == sizeof(uint16_t));

result resultset::set_rowset(size_t n) {
  if (n < 1) return failure(os::err_invalid_parameter);
  // A column bound for fewer rows would be written past its end.
  ignored(SQLFreeStmt(hstmt_, SQL_UNBIND), "binding again reports what fails");
  for (auto& c : columns_)
    if (c->c_type() != bind_type::automatic) (void)c->unbind();  // unbound already
  row_status_.assign(n, SQL_ROW_NOROW);
  SQLRETURN rc = SQLSetStmtAttr(hstmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
  if (sql_ok(rc)) rc = SQLSetStmtAttr(hstmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(n), 0);
  SQLULEN taken = 1;
  if (sql_ok(rc)) rc = SQLGetStmtAttr(hstmt_, SQL_ATTR_ROW_ARRAY_SIZE, &taken, 0, nullptr);
  if (sql_ok(rc)) rc = SQLSetStmtAttr(hstmt_, SQL_ATTR_ROW_STATUS_PTR, row_status_.data(), 0);
  if (sql_ok(rc)) rc = SQLSetStmtAttr(hstmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
  const SQLHDBC dbc = connection_ ? connection_->hdbc() : SQL_NULL_HDBC;
  const result r = sql_ok(rc) ? result() : odbc_diagnostics(SQL_NULL_HENV, dbc, hstmt_, rc);
  at_.size = sql_ok(rc) && taken > 0 && taken <= n ? taken : 1;
  if (at_.size == 1) reset_rowset();
  return r;
}

void resultset::reset_rowset() {
  if (at_.size > 1 || !row_status_.empty()) {
    ignored(SQLSetStmtAttr(hstmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0),
            "a driver that refuses one row never took more");
    ignored(SQLSetStmtAttr(hstmt_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0), "cleared with the array size");
    ignored(SQLSetStmtAttr(hstmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0), "cleared with the array size");
  }
  at_ = rowset_position();
  fetched_ = 0;
  row_status_.clear();
  rowset_failure_.reset();
}

bool resultset::reads_in_rowsets() const {
  SQLUINTEGER extensions = 0;
  if (!connection_ || !sql_ok(SQLGetInfo(connection_->hdbc(), SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)))
    return false;
  return (extensions & SQL_GD_BLOCK) != 0;
}

result resultset::fetch() {
  const SQLRETURN rc = SQLFetch(hstmt_);
  if (has_bit_ && sql_ok(rc))
    for (auto& c : columns_) c->mend_bit_text();
  const SQLHDBC dbc = connection_ ? connection_->hdbc() : SQL_NULL_HDBC;
  switch (rc) {
    case SQL_SUCCESS: return result();
    case SQL_SUCCESS_WITH_INFO: {
      result r = odbc_diagnostics(SQL_NULL_HENV, dbc, hstmt_);
      r.set_severity(severity::information);
      return r;
    }
    case SQL_NO_DATA: return failure(no_data_error());
    default: return odbc_diagnostics(SQL_NULL_HENV, dbc, hstmt_, rc);
  }
}

void resultset::mend_bits() {
  if (has_bit_)
    for (auto& c : columns_) c->mend_bit_text();
}

bool resultset::fetch_row(result& end) {
  if (at_.size > 1) {
    if (++at_.row < fetched_) return enter_row(end);
    return fetch_rowset(end);
  }
  const SQLRETURN rc = SQLFetch(hstmt_);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    mend_bits();
    return true;
  }
  const SQLHDBC dbc = connection_ ? connection_->hdbc() : SQL_NULL_HDBC;
  end = rc == SQL_NO_DATA ? failure(no_data_error()) : odbc_diagnostics(SQL_NULL_HENV, dbc, hstmt_, rc);
  return false;
}

// The next rowset. A row the driver could not fetch (its status SQL_ROW_ERROR) ends the rows
// there: the ones before it are read, then the fetch's diagnostics are the end, as when the
// rows come one at a time.
bool resultset::fetch_rowset(result& end) {
  if (rowset_failure_) {
    end = *rowset_failure_;
    return false;
  }
  at_.row = 0;
  fetched_ = 0;
  std::fill(row_status_.begin(), row_status_.end(), static_cast<uint16_t>(SQL_ROW_NOROW));
  const SQLRETURN rc = SQLFetch(hstmt_);
  if (rc == SQL_NO_DATA) {
    end = failure(no_data_error());
    return false;
  }
  if (fetched_ > at_.size) fetched_ = at_.size;
  bool all_fetched = rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
  for (size_t i = 0; i < fetched_ && all_fetched; ++i)
    all_fetched = row_status_[i] == SQL_ROW_SUCCESS || row_status_[i] == SQL_ROW_SUCCESS_WITH_INFO;
  // Read now: nothing later on the statement may clear them.
  if (!all_fetched)
    rowset_failure_ = odbc_diagnostics(SQL_NULL_HENV, connection_ ? connection_->hdbc() : SQL_NULL_HDBC, hstmt_,
                                       SQL_ERROR);
  return enter_row(end);
}

bool resultset::enter_row(result& end) {
  const uint16_t status = at_.row < fetched_ ? row_status_[at_.row] : static_cast<uint16_t>(SQL_ROW_NOROW);
  if (status != SQL_ROW_SUCCESS && status != SQL_ROW_SUCCESS_WITH_INFO) {
    end = rowset_failure_ ? *rowset_failure_ : failure(no_data_error());
    rowset_failure_ = end;  // no row after it is read
    return false;
  }
  mend_bits();
  return true;
}

uint32_t resultset::row_count() const {
  SQLLEN n = -1;
  if (at_.positioned) n = at_.rows_before;
  else if (!sql_ok(SQLRowCount(hstmt_, &n))) n = -1;  // no count known
  return n < 0 ? 0u : static_cast<uint32_t>(n);
}

// ---- query -------------------------------------------------------------------

query::~query() {
  if (hstmt_) (void)Free();  // fails only without a statement
}

result query::add_param(queryparam* p) {
  parameters_.push_back(p);
  return result();
}

result query::bind_params() {
  result r;
  for (size_t i = 0; i < parameters_.size() && r.succeeded(); ++i)
    r.merge(parameters_[i]->bind_param(*connection_, hstmt_, static_cast<uint16_t>(i + 1)));
  return r;
}

result query::send_stream_data() {
  result r;
  chunk_buffer chunk;
  SQLPOINTER token = nullptr;
  SQLRETURN rc = SQLParamData(hstmt_, &token);
  while (rc == SQL_NEED_DATA) {
    const auto index = static_cast<size_t>(reinterpret_cast<uintptr_t>(token)) - 1;
    if (index >= parameters_.size()) {
      ignored(SQLCancel(hstmt_), "the statement is failed already");
      r.merge(failure(os::err_invalid_parameter, L"unknown data-at-execution parameter"));
      return r;
    }
    queryparam* p = parameters_[index];
    for (;;) {
      const result piece = p->next_chunk(chunk);
      if (!piece.succeeded()) {
        // A value cut short must not be stored: the statement is cancelled.
        ignored(SQLCancel(hstmt_), "the statement is failed already");
        r.merge(piece);
        return r;
      }
      const SQLRETURN put = SQLPutData(hstmt_, chunk.data(), static_cast<SQLLEN>(chunk.size()));
      if (put != SQL_SUCCESS) r.merge(odbc_diagnostics(SQL_NULL_HENV, connection_->hdbc(), hstmt_, put));
      if (!sql_ok(put)) {
        // A refused piece ends the value: the rest would be refused the same way.
        ignored(SQLCancel(hstmt_), "the statement is failed already");
        return r;
      }
      if (piece.code() != more_data) break;
    }
    rc = SQLParamData(hstmt_, &token);
  }
  if (!sql_ok(rc) && rc != SQL_NO_DATA) r.merge(odbc_diagnostics(SQL_NULL_HENV, connection_->hdbc(), hstmt_, rc));
  return r;
}

void query::reset_params(result& r) {
  if (parameters_.empty()) return;
  const SQLRETURN rc = SQLFreeStmt(hstmt_, SQL_RESET_PARAMS);
  if (rc != SQL_SUCCESS) r.merge(odbc_diagnostics(SQL_NULL_HENV, connection_->hdbc(), hstmt_, rc));
  parameters_.clear();
}

// Statement text goes wide, or as UTF-8 through the narrow calls where the connection says so.
int16_t query::send_text(const std::wstring& text, bool prepare) {
  if (connection_->narrow_statements()) {
    std::string& bytes = statement_bytes_;  // its room is kept for the next statement
    bytes.clear();
    append_utf8(bytes, text);
    auto* p = reinterpret_cast<SQLCHAR*>(bytes.data());
    const auto n = static_cast<SQLINTEGER>(bytes.size());
    return prepare ? SQLPrepareA(hstmt_, p, n) : SQLExecDirectA(hstmt_, p, n);
  }
  sql_text statement(text);
  return prepare ? SQLPrepareW(hstmt_, statement.get(), SQL_NTS) : SQLExecDirectW(hstmt_, statement.get(), SQL_NTS);
}

result query::execute(const std::wstring& text, bool commit, bool bind) {
  const uint32_t start = tick_count();
  result r;
  last_more_failure_.reset();
  if (hstmt_) {
    if (rows_.hstmt()) (void)rows_.detach();  // the statement is reused
    ignored(SQLFreeStmt(hstmt_, SQL_CLOSE), "closing a statement without a cursor is refused harmlessly");
  } else {
    SQLHSTMT statement = SQL_NULL_HSTMT;
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, connection_->hdbc(), &statement);
    if (!sql_ok(rc)) r = odbc_diagnostics(SQL_NULL_HENV, connection_->hdbc(), SQL_NULL_HSTMT, rc);
    else {
      std::lock_guard<std::mutex> lock(handle_mutex_);
      hstmt_ = statement;
    }
  }
  if (r.succeeded() && parameters_.empty()) {
    // Without parameters the statement is executed directly: drivers that prepare on the
    // server hold large results twice otherwise.
    const SQLRETURN ex = send_text(text, false);
    if (!sql_ok(ex) && ex != SQL_NO_DATA)
      r = odbc_diagnostics(SQL_NULL_HENV, connection_->hdbc(), hstmt_, ex);
    else if (ex != SQL_SUCCESS)
      r.merge(lost_connection(connection_->hdbc(), hstmt_));
  } else if (r.succeeded()) {
    const SQLRETURN rc = send_text(text, true);
    if (!sql_ok(rc)) {
      r = odbc_diagnostics(SQL_NULL_HENV, connection_->hdbc(), hstmt_, rc);
    } else {
      r.merge(bind_params());
      if (r.succeeded()) {
        const SQLRETURN ex = SQLExecute(hstmt_);
        if (ex == SQL_NEED_DATA) {
          try {
            r.merge(send_stream_data());
          } catch (...) {
            ignored(SQLCancel(hstmt_), "the statement is failed already");
            result ignored;
            reset_params(ignored);
            throw;
          }
        } else if (!sql_ok(ex) && ex != SQL_NO_DATA) {
          r.merge(odbc_diagnostics(SQL_NULL_HENV, connection_->hdbc(), hstmt_, ex));
        } else if (ex != SQL_SUCCESS) {
          r.merge(lost_connection(connection_->hdbc(), hstmt_));
        }
      }
    }
  }
  // Only a connection in manual-commit mode is committed here: under autocommit the driver
  // has done it, and a transaction the statements opened themselves (BEGIN) is theirs to end.
  if (r.succeeded() && commit && !connection_->autocommit())
    r.merge(connection_->transact(0));  // a failed commit is the statement's failure
  if (r.succeeded()) {
    r.merge(rows_.attach(connection_, hstmt_));
    if (bind) r.merge(rows_.bind_all());
  }
  if (hstmt_) reset_params(r);
  else parameters_.clear();
  // The log keeps no password a statement sets or connects with; the text is masked only
  // for a log that records.
  Log& log = process_log();
  if (!log.enabled()) return r;
  if (r.succeeded())
    write_formatted(log, L"TOQ", L"\"%s\" [runtm=%ums,this=%#010x]", mask_statement(text).c_str(),
                    elapsed_ms(start), low32(this));
  else
    write_formatted(log, L"TO!", L"\"%s\" [r=%s,runtm=%ums,this=%#010x]", mask_statement(text).c_str(),
                    mask_statement(r.format()).c_str(), elapsed_ms(start), low32(this));
  return r;
}

result query::Free() {
  if (!hstmt_) {
    process_log().write(L"TOA", L"query::Free() call when hstmt==nullptr");
    return failure(os::err_invalid_function);
  }
  ignored(SQLFreeStmt(hstmt_, SQL_CLOSE), "the handle is freed next");
  (void)rows_.detach();  // nothing attached is fine
  ignored(SQLFreeStmt(hstmt_, SQL_RESET_PARAMS), "the handle is freed next");
  std::lock_guard<std::mutex> lock(handle_mutex_);
  ignored(SQLFreeHandle(SQL_HANDLE_STMT, hstmt_), "the statement is dropped either way");
  hstmt_ = SQL_NULL_HSTMT;
  parameters_.clear();
  return result();
}

void query::close() {
  if (!hstmt_) return;
  if (rows_.hstmt()) (void)rows_.detach();
  ignored(SQLFreeStmt(hstmt_, SQL_CLOSE), "closing a statement without a cursor is refused harmlessly");
}

int64_t query::changed_rows() const {
  if (!hstmt_) return -1;
  SQLLEN n = -1;
  if (!sql_ok(SQLRowCount(hstmt_, &n))) return -1;
  return n;
}

result query::more_results(bool bind) {
  if (!hstmt_) return failure(no_data_error());
  const SQLRETURN rc = SQLMoreResults(hstmt_);
  if (rc == SQL_NO_DATA) return failure(no_data_error());
  // The diagnostics are read first: unbinding the last result's columns clears them.
  result said;
  if (rc != SQL_SUCCESS) said = odbc_diagnostics(SQL_NULL_HENV, connection_->hdbc(), hstmt_, rc);
  (void)rows_.detach();  // attached since execute
  if (!sql_ok(rc)) {
    // A driver that answers every further call with the same failure has no results left.
    if (last_more_failure_ && said.text() == *last_more_failure_) return failure(no_data_error());
    last_more_failure_ = said.text();
    return said;
  }
  last_more_failure_.reset();
  result r = rows_.attach(connection_, hstmt_);
  if (r.succeeded() && bind) r.merge(rows_.bind_all());
  if (r.succeeded() && rc == SQL_SUCCESS_WITH_INFO) {
    r = said;
    r.set_severity(severity::information);
  }
  return r;
}

result query::drain_results() {
  result first;
  for (;;) {
    const result r = more_results(false);
    if (r.code() == no_data_error()) return first;
    if (!r.succeeded() && first.succeeded()) first = r;
  }
}

result query::cancel() {
  std::lock_guard<std::mutex> lock(handle_mutex_);
  if (!hstmt_) return result();
  const SQLRETURN rc = SQLCancel(hstmt_);
  if (sql_ok(rc)) return result();
  return odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, hstmt_, rc);
}

result first_value(connection* conn, const std::wstring& text, std::wstring& value) {
  query q(conn, text);
  result r = q.execute(text, false, false);
  if (r.succeeded()) r = q.rows().bind(1, nullptr, bind_type::wide_text, 0);
  if (r.succeeded()) r = q.rows().fetch();
  if (r.succeeded()) value = q.rows().at(0).text();
  return r;
}

} // namespace vela::odbc
