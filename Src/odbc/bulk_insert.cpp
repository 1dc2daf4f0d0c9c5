#include "vela/odbc/bulk_insert.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "odbc/bulk_lanes.h"
#include "odbc/column_arrays.h"
#include "odbc/sqltext.h"
#include "vela/log.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/driver_profile.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/query.h"
#include "vela/odbc/retry.h"
#include "vela/os_error.h"
#include "vela/wstr.h"

namespace vela::odbc {

namespace {

constexpr size_t first_width = 64;        // characters of a text slot before it grows
constexpr size_t widest_first = 4096;     // the most a column's size may ask for at first
constexpr size_t column_budget = 32u << 20;  // bytes of one column's buffer before a batch holds fewer rows

int hex_digit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool is_binary(SQLSMALLINT t) { return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }

// A value of a binary column from its text: "\x" and hex digits (as PostgreSQL writes bytes),
// or "0x" and hex digits (as earlier exports wrote them); false for any other text.
template <typename Text>
bool hex_value(const Text& text, std::string& out) {
  out.clear();
  if (text.size() >= 2 && (text[0] == '\\' || text[0] == '0') && (text[1] == 'x' || text[1] == 'X') &&
      text.size() % 2 == 0) {
    bool ok = true;
    for (size_t i = 2; i < text.size() && ok; i += 2) {
      const int h = hex_digit(static_cast<wchar_t>(text[i])), l = hex_digit(static_cast<wchar_t>(text[i + 1]));
      ok = h >= 0 && l >= 0;
      out.push_back(static_cast<char>(h * 16 + l));
    }
    if (ok) return true;
    out.clear();
  }
  return false;
}

// Otherwise the text's UTF-8 bytes (a byte of the source that was not UTF-8, held as
// U+DC80..U+DCFF, as it was).
void binary_value(std::wstring_view text, std::string& out) {
  if (!hex_value(text, out)) out = wide_to_utf8_escaped(text);
}

// A binary value as text: "\x" and hex digits.
template <typename Text>
void append_hex(Text& out, std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  out += '\\';
  out += 'x';
  for (const char b : bytes) {
    out += digits[static_cast<unsigned char>(b) >> 4];
    out += digits[static_cast<unsigned char>(b) & 15];
  }
}

// The value's length as program text (characters of values, or what its form decodes to);
// UTF-8 text counted by its bytes unless exact.
size_t wide_length(const bulk_row& row, size_t i, bool exact) {
  switch (row.form_of(i)) {
    case bulk_row::form::utf8: return exact ? utf8_escaped_length(row.encoded[i]) : row.encoded[i].size();
    case bulk_row::form::utf16: {
      const std::u16string& u = row.units[i];
      size_t pairs = 0;
      for (const char16_t c : u) pairs += c >= 0xD800 && c <= 0xDBFF ? 1 : 0;
      return u.size() - pairs;
    }
    case bulk_row::form::bytes: return 2 + row.encoded[i].size() * 2;
    case bulk_row::form::wide: break;
  }
  return row.values[i].size();
}

// Text that a text column cannot take: bytes that are not UTF-8.
bool not_text(const bulk_row& row, size_t i) {
  switch (row.form_of(i)) {
    case bulk_row::form::utf8: return !valid_utf8(row.encoded[i]);
    case bulk_row::form::wide: return has_escaped_bytes(row.values[i]);
    default: return false;
  }
}

// One thread that runs the load's batches, one at a time, while the next one fills.
class batch_runner {
 public:
  ~batch_runner() { stop(); }
  void start(std::function<void()> job) {
    if (!thread_.joinable()) thread_ = std::thread(&batch_runner::loop, this);
    {
      const std::lock_guard<std::mutex> hold(m_);
      job_ = std::move(job);
      busy_ = true;
    }
    wake_.notify_one();
  }
  void wait() {
    std::unique_lock<std::mutex> hold(m_);
    done_.wait(hold, [this] { return !busy_; });
  }
  void stop() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard<std::mutex> hold(m_);
      quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

 private:
  void loop() {
    std::unique_lock<std::mutex> hold(m_);
    for (;;) {
      wake_.wait(hold, [this] { return quit_ || job_; });
      if (!job_) return;
      std::function<void()> job = std::move(job_);
      job_ = nullptr;
      hold.unlock();
      job();
      hold.lock();
      busy_ = false;
      done_.notify_all();
    }
  }
  std::thread thread_;
  std::mutex m_;
  std::condition_variable wake_, done_;
  std::function<void()> job_;
  bool busy_ = false;
  bool quit_ = false;
};

} // namespace

// A batch's rows, a buffer a column, and what became of it when it ran.
struct bulk_insert::batch {
  struct buffer {
    size_t width = 0;    // bytes of one slot, terminator included
    size_t longest = 0;  // bytes of the longest value of the batch
    std::vector<unsigned char> data;
    std::vector<SQLLEN> ind;
  };
  std::vector<buffer> bufs;
  std::vector<size_t> lines;  // each row's source line
  size_t rows = 0;
  uint64_t number = 0;
  batch_texts texts;      // its statement's texts, where the rows go as one statement
  bool prebuilt = false;  // texts made while the batch before ran
  // How far it went: its unit not begun, its rows not bound, or run (whole: every row in,
  // committing: the commit was sent).
  enum class outcome { no_unit, not_bound, ran } went = outcome::ran;
  bool whole = false;
  bool committing = false;
  uint32_t retried = 0;  // times it ran again after a conflict
  result r;
};

struct bulk_insert::state {
  using batch_t = bulk_insert::batch;
  struct column {
    SQLSMALLINT sql_type = SQL_VARCHAR;  // how the parameter is declared
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT c_type = SQL_C_WCHAR;
    size_t unit = 2;   // bytes per text unit (a terminator takes one)
  };

  connection* conn = nullptr;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLHSTMT multi = SQL_NULL_HSTMT;  // the INSERT of many rows, where it is faster
  size_t multi_rows = 0;            // its rows
  column_array_insert by_columns;   // a batch as one array a column, where the database has arrays
  size_t batch = bulk_insert::default_batch;
  size_t capacity = bulk_insert::default_batch;  // rows a batch holds now (fewer when values are long)
  bool arrays = true;
  bool narrow = false;  // text goes as UTF-8
  bool autocommit_off = false;
  bool joined = false;  // inside the caller's transaction: each batch is a savepoint
  std::vector<column> cols;
  // Two batches: one fills while the other runs on the worker thread, so that reading the
  // source overlaps the database's work.
  batch_t sets[2];
  int filling = 0;
  batch_runner worker;
  bool in_flight = false;
  uint32_t retry_limit = 0;  // set by the caller's thread before a batch runs
  bool cluster_node = false;  // a Galera node: a batch's transaction is checked before its commit
  std::wstring table;  // as prepared
  std::vector<std::wstring> names;
  std::vector<SQLUSMALLINT> status;
  SQLULEN processed = 0;
  std::u16string wide;
  std::string bytes;

  ~state() {
    worker.stop();
    if (stmt) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (multi) SQLFreeHandle(SQL_HANDLE_STMT, multi);
  }
  batch_t& fill() { return sets[filling]; }
  batch_t& flight() { return sets[1 - filling]; }
  result diagnostics(SQLRETURN rc) const { return odbc_diagnostics(SQL_NULL_HENV, conn->hdbc(), stmt, rc); }

  // Value i of row as column c takes it: n bytes at the result. Each value is converted
  // once, from the form the source gave it in.
  const void* value(const column& c, const bulk_row& row, size_t i, size_t& n) {
    const bulk_row::form f = row.form_of(i);
    if (c.c_type == SQL_C_WCHAR) {
      if (f == bulk_row::form::utf16) {
        n = row.units[i].size() * 2;
        return row.units[i].data();
      }
      wide.clear();
      if (f == bulk_row::form::wide) append_utf16(wide, row.values[i]);
      else if (f == bulk_row::form::utf8) append_utf8_as_utf16(wide, row.encoded[i]);
      else append_hex(wide, row.encoded[i]);
      n = wide.size() * 2;
      return wide.data();
    }
    if (c.c_type == SQL_C_CHAR && f == bulk_row::form::utf8) {
      n = row.encoded[i].size();
      return row.encoded[i].data();
    }
    bytes.clear();
    if (c.c_type == SQL_C_CHAR) {
      if (f == bulk_row::form::wide) append_utf8(bytes, row.values[i]);
      else if (f == bulk_row::form::utf16) append_utf16_as_utf8(bytes, row.units[i].data(), row.units[i].size());
      else append_hex(bytes, row.encoded[i]);
    } else if (f == bulk_row::form::bytes) {
      n = row.encoded[i].size();
      return row.encoded[i].data();
    } else if (f == bulk_row::form::wide) {
      binary_value(row.values[i], bytes);
    } else if (f == bulk_row::form::utf8) {
      if (!hex_value(std::string_view(row.encoded[i]), bytes)) bytes = row.encoded[i];
    } else if (!hex_value(std::u16string_view(row.units[i]), bytes)) {
      append_utf16_as_utf8(bytes, row.units[i].data(), row.units[i].size());
    }
    n = bytes.size();
    return bytes.data();
  }

  // Statement text to h, prepared or run at once: as UTF-8 through the narrow calls, or wide.
  SQLRETURN send(SQLHSTMT h, const std::wstring& text, bool prepare) const {
    if (narrow) {
      std::string b = wide_to_utf8(text);
      auto* p = reinterpret_cast<SQLCHAR*>(b.data());
      return prepare ? SQLPrepareA(h, p, static_cast<SQLINTEGER>(b.size())) : SQLExecDirectA(h, p, static_cast<SQLINTEGER>(b.size()));
    }
    sql_text t(text);
    return prepare ? SQLPrepareW(h, t.get(), SQL_NTS) : SQLExecDirectW(h, t.get(), SQL_NTS);
  }

  // How a column the target describes so is bound, and its first buffers in both batches.
  void set_column(size_t i, SQLSMALLINT type, SQLULEN size, SQLSMALLINT digits) {
    column& c = cols[i];
    if (is_binary(type)) {
      // Bytes go as bytes.
      c.c_type = SQL_C_BINARY;
      c.sql_type = type;
      c.unit = 1;
    } else {
      // Everything else goes as text, which the database converts to the column's type: no
      // value is cut or rounded on the way (a zone, a long numeric, an array).
      c.c_type = narrow ? SQL_C_CHAR : SQL_C_WCHAR;
      c.unit = narrow ? 1 : 2;
      const bool long_text = type == SQL_LONGVARCHAR || type == SQL_WLONGVARCHAR;
      c.sql_type = narrow ? (long_text ? SQL_LONGVARCHAR : SQL_VARCHAR) : (long_text ? SQL_WLONGVARCHAR : SQL_WVARCHAR);
    }
    c.size = size;
    c.digits = digits;
    const size_t chars = size > 0 && size <= widest_first ? size : first_width;
    for (batch_t& b : sets) {
      batch_t::buffer& u = b.bufs[i];
      u.width = (std::max<size_t>(chars, 8) + 1) * c.unit;
      u.data.assign(u.width * batch, 0);
      u.ind.assign(batch, 0);
    }
  }

  // The INSERT of many rows (insert: its text up to VALUES, marks: one row's), where the
  // driver takes up to most_parameters in one statement: psqlODBC runs an array of parameters
  // as one statement per row, a round trip each, and a full batch goes as one statement there.
  void prepare_multi(const std::wstring& insert, const std::wstring& marks, size_t most_parameters) {
    multi_rows = std::min(batch, most_parameters / cols.size());
    if (multi_rows <= 1 || !sql_ok(SQLAllocHandle(SQL_HANDLE_STMT, conn->hdbc(), &multi))) return;
    std::wstring rows;
    rows.reserve((marks.size() + 4) * multi_rows);
    for (size_t r = 0; r < multi_rows; ++r) rows += (r ? L", (" : L"(") + marks + L")";
    if (!sql_ok(send(multi, insert + rows, true))) {
      SQLFreeHandle(SQL_HANDLE_STMT, multi);
      multi = SQL_NULL_HSTMT;
    }
  }

  void grow(batch_t& b, size_t i, size_t need) {
    batch_t::buffer& u = b.bufs[i];
    const size_t unit = cols[i].unit;
    size_t w = std::max(u.width * 2, need);
    w = (w + unit - 1) / unit * unit;
    std::vector<unsigned char> data(w * capacity);
    for (size_t r = 0; r < b.rows; ++r) std::memcpy(&data[r * w], &u.data[r * u.width], u.width);
    u.data = std::move(data);
    u.width = w;
  }

  // Binds column i's value of row r of b as parameter number of statement h.
  SQLRETURN bind_value(SQLHSTMT h, SQLUSMALLINT number, size_t i, batch_t& b, size_t r) {
    const column& c = cols[i];
    batch_t::buffer& u = b.bufs[i];
    const SQLULEN size = std::max<SQLULEN>(c.size, std::max<size_t>(u.longest / c.unit, 1));
    return SQLBindParameter(h, number, SQL_PARAM_INPUT, c.c_type, c.sql_type, size, c.digits, &u.data[r * u.width],
                            static_cast<SQLLEN>(u.width), &u.ind[r]);
  }

  // Binds rows first .. first + n of b as an array.
  result bind(batch_t& b, size_t first, size_t n) {
    SQLRETURN rc = SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(n)), 0);
    if (!sql_ok(rc)) return diagnostics(rc);
    for (size_t i = 0; i < cols.size(); ++i)
      if (!sql_ok(rc = bind_value(stmt, static_cast<SQLUSMALLINT>(i + 1), i, b, first))) return diagnostics(rc);
    return result();
  }

  // Rows first .. first + multi_rows through the statement of many rows: success when every
  // row went in.
  result run_multi(batch_t& b, size_t first) {
    size_t number = 0;
    for (size_t r = first; r < first + multi_rows; ++r)
      for (size_t i = 0; i < cols.size(); ++i) {
        const SQLRETURN rc = bind_value(multi, static_cast<SQLUSMALLINT>(++number), i, b, r);
        if (!sql_ok(rc)) return odbc_diagnostics(SQL_NULL_HENV, conn->hdbc(), multi, rc);
      }
    const SQLRETURN rc = SQLExecute(multi);
    const result r = sql_ok(rc) || rc == SQL_NO_DATA ? result() : odbc_diagnostics(SQL_NULL_HENV, conn->hdbc(), multi, rc);
    SQLFreeStmt(multi, SQL_CLOSE);
    return r;
  }

  // A batch is a unit that loads whole or not at all: a transaction of its own, or a savepoint
  // of the caller's transaction.
  bool units() const { return autocommit_off || joined; }
  result run(const wchar_t* text) const {
    query q(conn, text);
    return q.execute(false);
  }
  result begin_unit() const { return joined ? run(L"SAVEPOINT vela_load") : result(); }
  result end_transaction(bool commit) {
    if (!joined) return conn->transact(commit ? 0 : 1);
    result r = commit ? result() : run(L"ROLLBACK TO SAVEPOINT vela_load");
    if (r.succeeded()) r = run(L"RELEASE SAVEPOINT vela_load");
    return r;
  }

  // The batch's transaction is still open before its commit, where the database tells: a
  // cluster node (Galera) that aborts a transaction for another node's write between two
  // statements may take the rows back while the commit that follows succeeds.
  result transaction_kept() const {
    const wchar_t* asked = conn->profile().transaction_state_query();
    if (!*asked || !cluster_node) return result();
    std::wstring open;
    result r = first_value(conn, asked, open);
    if (!r.succeeded() || open != L"0") return r;
    r = failure(os::err_invalid_data, L"the database rolled the batch's transaction back before its commit");
    r.set_state(L"40001", 1213);  // a deadlock: the batch may run again
    return r;
  }

  // Only a node of a cluster takes a transaction back between statements: the others are not
  // asked before each commit.
  bool is_cluster_node() const {
    const wchar_t* asked = conn->profile().cluster_node_query();
    if (!*asked) return false;
    std::wstring on;
    return first_value(conn, asked, on).succeeded() && (on == L"1" || compare_nocase(on, L"ON") == 0);
  }

  // The target's columns, described by the query that stmt ran and that returned no row:
  // their buffers for a batch.
  result describe_columns(SQLSMALLINT& n) {
    SQLNumResultCols(stmt, &n);
    cols.assign(static_cast<size_t>(n), column());
    for (batch_t& b : sets) b.bufs.assign(static_cast<size_t>(n), batch_t::buffer());
    for (SQLSMALLINT i = 0; i < n; ++i) {
      SQLSMALLINT type = 0, digits = 0, nullable = 0, name_length = 0;
      SQLULEN size = 0;
      SQLWCHAR name[256];  // some drivers refuse a null name buffer
      const SQLRETURN rc = SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(i + 1), name, 256, &name_length, &type,
                                           &size, &digits, &nullable);
      if (!sql_ok(rc)) return diagnostics(rc);
      set_column(static_cast<size_t>(i), type, size, digits);
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    return result();
  }

  // The statement's parameters as arrays where the driver takes them, and a transaction per batch.
  void set_up_parameters(bool join_transaction) {
    status.assign(batch, SQL_PARAM_UNUSED);
    for (auto& b : sets) b.lines.assign(batch, 0);
    if (batch > 1 && arrays) {
      const SQLRETURN rc =
          SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(batch)), 0);
      SQLULEN got = 0;
      if (sql_ok(rc)) SQLGetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, &got, 0, nullptr);
      arrays = sql_ok(rc) && got == batch;
    }
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
    // A transaction per batch.
    SQLULEN autocommit = SQL_AUTOCOMMIT_ON;
    SQLGetConnectAttr(conn->hdbc(), SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr);
    joined = join_transaction;
    if (!joined && autocommit == SQL_AUTOCOMMIT_ON &&
        sql_ok(SQLSetConnectAttr(conn->hdbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
      autocommit_off = true;
  }

  // The texts of b's n rows as one statement (false: they cannot go so).
  bool build_whole(batch_t& b, size_t n) {
    std::vector<column_slots> slots(cols.size());
    for (size_t i = 0; i < cols.size(); ++i)
      slots[i] = {b.bufs[i].data.data(), b.bufs[i].width, b.bufs[i].ind.data(), cols[i].unit, cols[i].c_type == SQL_C_BINARY};
    return by_columns.build(slots, n, b.texts);
  }

  // The batch's rows in one statement (sent false: they cannot go so).
  result run_whole(batch_t& b, size_t n, bool& sent) {
    sent = b.prebuilt ? b.texts.sent : build_whole(b, n);
    b.prebuilt = false;
    return sent ? by_columns.run(b.texts) : result();
  }

  // Runs the batch's n rows in one go: whole tells whether every row went in, r why not.
  // False when the rows could not be bound (r says why).
  bool run_batch(batch_t& b, size_t n, result& r, bool& whole) {
    if (by_columns.ready()) {
      bool sent = false;
      whole = (r = run_whole(b, n, sent)).succeeded();
      if (sent) return true;
    }
    if (arrays) {
      // Runs of rows through the statement of many rows, the rest as an array.
      size_t first = 0;
      if (multi)
        for (; whole && n - first >= multi_rows; first += multi_rows) whole = (r = run_multi(b, first)).succeeded();
      if (whole && first < n) {
        const size_t m = n - first;
        r = bind(b, first, m);
        if (!r.succeeded()) return false;
        std::fill(status.begin(), status.begin() + static_cast<std::ptrdiff_t>(m), SQL_PARAM_UNUSED);
        processed = 0;
        const SQLRETURN rc = SQLExecute(stmt);
        whole = rc == SQL_SUCCESS || rc == SQL_NO_DATA;
        if (rc == SQL_SUCCESS_WITH_INFO) {
          whole = true;
          for (size_t i = 0; i < m; ++i)
            if (status[i] == SQL_PARAM_ERROR || status[i] == SQL_PARAM_UNUSED) whole = false;
        }
        if (!whole) r = diagnostics(rc);
      }
    } else {
      // The same statement for each row, in one transaction.
      for (size_t i = 0; i < n && whole; ++i) {
        r = bind(b, i, 1);
        if (!r.succeeded()) return false;
        const SQLRETURN rc = SQLExecute(stmt);
        whole = sql_ok(rc) || rc == SQL_NO_DATA;
        if (!whole) r = diagnostics(rc);
        SQLFreeStmt(stmt, SQL_CLOSE);
      }
    }
    return true;
  }

  // Runs b as a unit: on the worker thread, or on the caller's when the load waits for it.
  // Nothing here touches the batch being filled. A batch of its own transaction that meets a
  // conflict is rolled back and runs again after a pause, up to retry_limit times: none of
  // its rows stays from the attempt before. Joined to the caller's transaction it never does
  // (the conflict took back the caller's work too), nor after a lost connection.
  void execute(batch_t& b) {
    b.retried = 0;
    for (;;) {
      execute_once(b);
      if (b.whole || b.went != batch_t::outcome::ran || joined || !autocommit_off || b.retried >= retry_limit) return;
      const conflict why = conflict_of(b.r);
      if (why == conflict::none || why == conflict::lost_connection) return;
      (void)conn->transact(1);
      SQLFreeStmt(stmt, SQL_CLOSE);
      if (multi) SQLFreeStmt(multi, SQL_CLOSE);
      std::this_thread::sleep_for(std::chrono::milliseconds(retry_delay_ms(b.retried)));
      ++b.retried;
    }
  }
  void execute_once(batch_t& b) {
    b.whole = false;
    b.committing = false;
    b.went = batch_t::outcome::no_unit;
    if (!(b.r = begin_unit()).succeeded()) return;
    b.whole = true;
    b.went = batch_t::outcome::not_bound;
    if (!run_batch(b, b.rows, b.r, b.whole)) return;
    b.went = batch_t::outcome::ran;
    if (b.whole && !joined && autocommit_off) {
      b.whole = (b.r = transaction_kept()).succeeded();
      if (!b.whole) return;
    }
    if (b.whole && units()) {
      b.committing = true;
      b.whole = (b.r = end_transaction(true)).succeeded();
    }
  }
};

bulk_insert::bulk_insert(connection& target, size_t batch_rows) : s_(std::make_unique<state>()) {
  s_->conn = &target;
  s_->batch = batch_rows ? batch_rows : target.profile().load_batch_rows();
  s_->capacity = s_->batch;
}

bulk_insert::~bulk_insert() {
  s_->worker.stop();
  if (s_->autocommit_off)
    SQLSetConnectAttr(s_->conn->hdbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

size_t bulk_insert::columns() const { return lanes_ ? lanes_->all.front().engine->columns() : s_->cols.size(); }
bool bulk_insert::arrays() const { return lanes_ ? lanes_->all.front().engine->arrays() : s_->arrays; }

void bulk_insert::spread(const std::vector<connection*>& targets) {
  lanes_ = std::make_unique<lanes>();
  for (connection* c : targets) {
    lanes_->all.emplace_back();
    lanes_->all.back().conn = c;
  }
  lanes_->batch = s_->batch;
}

result bulk_insert::prepare(const std::wstring& table, const std::vector<std::wstring>& columns) {
  if (lanes_) return spread_prepare(table, columns);
  state& s = *s_;
  if (!s.conn->hdbc()) return failure(os::err_invalid_function);
  s.table = table;
  s.names = columns;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, s.conn->hdbc(), &s.stmt);
  if (!sql_ok(rc)) return odbc_diagnostics(SQL_NULL_HENV, s.conn->hdbc(), SQL_NULL_HSTMT, rc);
  std::wstring list;
  for (const auto& c : columns) list += (list.empty() ? L"" : L", ") + c;
  // Text goes as UTF-8 where the driver takes no wide text of its own, or where its wide
  // parameters change it.
  const driver_profile& profile = s.conn->profile();
  s.narrow = s.conn->narrow_statements() || profile.narrow_parameters();
  auto send = [&](const std::wstring& text, bool prepare) { return s.send(s.stmt, text, prepare); };
  // The target's columns as a query that returns no row describes them.
  rc = send(L"SELECT " + (list.empty() ? std::wstring(L"*") : list) + L" FROM " + table + L" WHERE 1=0", false);
  if (!sql_ok(rc)) return s.diagnostics(rc);
  SQLSMALLINT n = 0;
  if (const result described = s.describe_columns(n); !described.succeeded()) return described;
  if (n == 0) return failure(os::err_invalid_parameter, L"no columns");
  std::wstring marks;
  for (SQLSMALLINT i = 0; i < n; ++i) marks += i ? L", ?" : L"?";
  // PostgreSQL takes given values for identity columns that are GENERATED ALWAYS only when
  // told so (its COPY takes them as they are).
  const std::wstring head = L"INSERT INTO " + table + (list.empty() ? L"" : L" (" + list + L")") +
                            (profile.overriding_system_value() ? L" OVERRIDING SYSTEM VALUE " : L" ");
  const std::wstring insert = head + L"VALUES ";
  rc = send(insert + L"(" + marks + L")", true);
  if (!sql_ok(rc)) return s.diagnostics(rc);
  bool binary = false;
  for (const auto& c : s.cols) binary = binary || c.c_type == SQL_C_BINARY;
  const batch_statement whole = binary && !profile.binary_parameter_arrays() ? batch_statement::none : profile.load_batch_statement();
  if (whole == batch_statement::none || s.batch <= 1 ||
      !s.by_columns.prepare(s.conn->hdbc(), [&s](SQLHSTMT h, const std::wstring& text, bool p) { return s.send(h, text, p); },
                            whole, table, list.empty() ? L"*" : list, s.cols.size(), head, s.narrow))
    s.prepare_multi(insert, marks, profile.multi_row_parameters());
  // Arrays of parameters, or one row at a time where the driver has none, or where its arrays
  // of binary values go wrong.
  if (binary && s.batch > 1 && !profile.binary_parameter_arrays()) s.arrays = false;
  s.cluster_node = s.is_cluster_node();
  s.set_up_parameters(join_transaction);
  return result();
}

result bulk_insert::change_table(const std::vector<std::wstring>& statements) {
  state& s = *s_;
  if (lanes_) return failure(os::err_invalid_function);
  if (connection_lost()) return lost_result_;
  result r = finish_batch(true);
  if (connection_lost()) return lost_result_;
  if (!r.succeeded()) return r;
  for (const std::wstring& text : statements) {
    query q(s.conn, text);
    if (r = q.execute(text, false, false); !r.succeeded()) return r;
  }
  // A batch taken back must not take the change with it.
  if (s.autocommit_off)
    if (r = s.conn->transact(0); !r.succeeded()) return r;
  for (SQLHSTMT* h : {&s.stmt, &s.multi})
    if (*h) {
      SQLFreeHandle(SQL_HANDLE_STMT, *h);
      *h = SQL_NULL_HSTMT;
    }
  s.arrays = true;
  const std::wstring table = s.table;
  const std::vector<std::wstring> names = s.names;
  return prepare(table, names);
}

result bulk_insert::add(const bulk_row& row) {
  state& s = *s_;
  if (lanes_) {
    if (!lost_result_.succeeded()) return lost_result_;
    if (stopped_) return result();
    ++taken_;
    return lost_result_ = hand(row);
  }
  if (s.cols.empty()) return failure(os::err_invalid_function);
  if (connection_lost()) return lost_result_;
  if (!held_.succeeded()) return held_;
  if (stopped_) return result();
  ++taken_;
  // Bytes of the source that were not UTF-8 go only into binary columns: text would change.
  for (size_t i = 0; i < s.cols.size() && i < row.values.size(); ++i) {
    if (s.cols[i].c_type == SQL_C_BINARY || (i < row.nulls.size() && row.nulls[i]) || !not_text(row, i)) continue;
    reject(row.line, L"column " + std::to_wstring(i + 1) + L": bytes that are not valid UTF-8");
    return result();
  }
  // A long value: the rows held are run first, and a batch holds fewer rows from now on, so
  // that a column's buffer stays within its budget.
  size_t longest = 0;
  for (size_t i = 0; i < s.cols.size() && i < row.values.size(); ++i) {
    const size_t unit = s.cols[i].unit, width = s.fill().bufs[i].width;
    const auto too_long = [&](size_t bound) { return bound > width && std::max(width * 2, bound) * s.capacity > column_budget; };
    size_t bound = wide_length(row, i, false) * 4 + unit;  // bytes at most
    if (too_long(bound) && row.form_of(i) == bulk_row::form::utf8) bound = wide_length(row, i, true) * 4 + unit;
    if (too_long(bound)) longest = std::max(longest, bound);
  }
  const size_t fewer = longest ? std::max<size_t>(1, column_budget / longest) : s.capacity;
  if (fewer < s.capacity) {
    const result r = finish_batch(true);
    if (!r.succeeded() || stopped_ || connection_lost()) return r;
    s.capacity = fewer;
    for (batch& b : s.sets)
      for (auto& u : b.bufs) u.data.assign(u.width * s.capacity, 0);  // the long value's column grows below
  }
  batch& b = s.fill();
  const size_t r = b.rows;
  for (size_t i = 0; i < s.cols.size(); ++i) {
    const state::column& c = s.cols[i];
    batch::buffer& u = b.bufs[i];
    if (i >= row.values.size() || (i < row.nulls.size() && row.nulls[i])) {
      u.ind[r] = SQL_NULL_DATA;
      continue;
    }
    size_t n;
    const void* from = s.value(c, row, i, n);
    if (n + c.unit > u.width) s.grow(b, i, n + c.unit);
    unsigned char* slot = &u.data[r * u.width];
    if (n) std::memcpy(slot, from, n);
    std::memset(slot + n, 0, c.unit);
    u.ind[r] = static_cast<SQLLEN>(n);
    u.longest = std::max(u.longest, n);
  }
  b.lines[r] = row.line;
  if (++b.rows < s.capacity) return result();
  return finish_batch(false);
}

size_t bulk_insert::first_unsettled_line() const {
  if (lanes_) {
    size_t first = SIZE_MAX;
    for (const lanes::lane& l : lanes_->all)
      for (const bulk_row& row : l.held) first = std::min(first, row.line);
    return first;
  }
  const state& s = *s_;
  if (s.in_flight) return s.sets[1 - s.filling].lines[0];
  const batch& b = s.sets[s.filling];
  return b.rows ? b.lines[0] : SIZE_MAX;
}

// The batch in flight, waited for and settled.
result bulk_insert::collect() {
  state& s = *s_;
  if (!s.in_flight) return result();
  s.worker.wait();
  s.in_flight = false;
  return settle(s.flight());
}

result bulk_insert::finish_batch(bool wait) {
  state& s = *s_;
  result r = collect();
  batch& b = s.fill();
  // Rows read while the batch before ran that failed for good, or stopped the load, do not go.
  if (!r.succeeded() || stopped_ || connection_lost()) {
    b.rows = 0;
    return connection_lost() ? lost_result_ : r;
  }
  if (b.rows == 0) return result();
  b.number = ++batches_;
  s.retry_limit = retries;
  if (wait) {
    s.execute(b);
    return settle(b);
  }
  if (s.by_columns.ready()) {
    (void)s.build_whole(b, b.rows);
    b.prebuilt = true;
  }
  s.filling = 1 - s.filling;
  s.fill().rows = 0;
  s.in_flight = true;
  s.worker.start([&s, &b] { s.execute(b); });
  return result();
}

result bulk_insert::settle(batch& b) {
  state& s = *s_;
  const size_t n = b.rows;
  result r = b.r;
  retried_ += b.retried;
  if (b.went == batch::outcome::no_unit) return lose(b, r, 0, false) ? lost_result_ : r;
  if (b.went == batch::outcome::not_bound) return r;
  // A lost connection ends the load: no row of the batch can go in one by one either.
  if (!b.whole && lose(b, r, 0, b.committing)) return lost_result_;
  if (b.whole) {
    loaded_ += n;
    committed_ = {b.number, b.lines[0], b.lines[n - 1]};
  } else {
    // Some row was refused: the batch is taken back and run one row at a time, so that each
    // refused row is named and the others load (a failed row spoils a whole transaction on
    // some databases).
    if (s.units()) (void)s.end_transaction(false);
    SQLFreeStmt(s.stmt, SQL_CLOSE);
    r = run_rows_alone(b, n);
    if (!r.succeeded()) return r;
  }
  SQLFreeStmt(s.stmt, SQL_CLOSE);
  b.rows = 0;
  for (auto& u : b.bufs) u.longest = 0;
  if (on_batch) on_batch();
  return result();
}

// The rows of a batch one at a time, each behind a savepoint of the batch's transaction, so
// that a refused row is taken back alone and the batch still commits once (a commit per row
// would sync the file that often on SQLite).
result bulk_insert::run_rows_alone(batch& b, size_t n) {
  state& s = *s_;
  const bool own = s.autocommit_off && !s.joined;
  uint64_t pending = 0;  // rows in, until the batch's commit
  size_t last = 0;
  for (size_t i = 0; i < n && !stopped_; ++i) {
    result r = own ? s.run(L"SAVEPOINT vela_row") : s.begin_unit();
    if (r.succeeded()) r = s.bind(b, i, 1);
    if (!r.succeeded()) return lose(b, r, i, false) ? lost_result_ : r;
    const SQLRETURN rc = SQLExecute(s.stmt);
    if (sql_ok(rc) || rc == SQL_NO_DATA) {
      if (own) r = s.run(L"RELEASE SAVEPOINT vela_row");
      else if (s.units()) r = s.end_transaction(true);
      if (r.succeeded()) {
        if (own) {
          ++pending;
          last = i;
        } else {
          ++loaded_;
          committed_ = {b.number, b.lines[0], b.lines[i]};
        }
        continue;
      }
    } else {
      r = s.diagnostics(rc);
      SQLFreeStmt(s.stmt, SQL_CLOSE);
      if (!odbc::connection_lost(r)) {
        if (own && s.run(L"ROLLBACK TO SAVEPOINT vela_row").succeeded()) (void)s.run(L"RELEASE SAVEPOINT vela_row");
        else if (s.units()) (void)s.end_transaction(false);
      }
    }
    if (lose(b, r, i, !own)) return lost_result_;
    count_failed(b.lines[i], r.text());
  }
  if (!own) return result();
  // A cluster node may have taken the transaction back meanwhile: its rows are not in, and
  // the load ends there rather than count them.
  result r = s.transaction_kept();
  if (!r.succeeded()) {
    (void)s.end_transaction(false);
    return lose(b, r, 0, false) ? lost_result_ : r;
  }
  r = s.end_transaction(true);
  if (!r.succeeded()) return lose(b, r, 0, true) ? lost_result_ : r;
  loaded_ += pending;
  if (pending) committed_ = {b.number, b.lines[0], b.lines[last]};
  return result();
}

bool bulk_insert::lose(batch& b, const result& r, size_t first, bool commit_sent) {
  if (!odbc::connection_lost(r)) return false;
  state& s = *s_;
  lost_ = {b.number, b.lines[first], b.lines[b.rows - 1]};
  commit_unknown_ = commit_sent && s.autocommit_off;
  lost_result_ = r;
  for (batch& each : s.sets) each.rows = 0;
  write_formatted(process_log(), L"TOB", L"bulk insert: connection lost in batch %s", std::to_wstring(b.number).c_str());
  return true;
}

void bulk_insert::reject(size_t line, const std::wstring& why) {
  // Failures count in the order of the source: the batch in flight is settled first (a
  // failure of its own is told through on_failure, a lost connection by add and finish), and
  // when this failure would stop the load, the rows before it are run first.
  ++taken_;
  if (lanes_) {
    if (!stopped_) count_failed(line, why);
    return;
  }
  const auto hold = [this](const result& r) {
    if (!r.succeeded() && held_.succeeded()) held_ = r;
  };
  hold(collect());
  if (stopped_ || connection_lost()) return;
  if (stops_at(failed_ + 1) && s_->fill().rows) {
    hold(finish_batch(true));
    if (stopped_ || connection_lost()) return;
  }
  count_failed(line, why);
}

void bulk_insert::count_failed(size_t line, const std::wstring& why) {
  ++failed_;
  if (on_failure) on_failure(line, why);
  if (stops_at(failed_)) stopped_ = true;
}

result bulk_insert::finish() {
  state& s = *s_;
  if (lanes_) {
    // A failure that ended the adding is the load's; the other lanes' rows still run.
    const result before = lost_result_;
    const result r = spread_finish();
    return before.succeeded() ? r : before;
  }
  result r = finish_batch(true);
  if (connection_lost()) r = lost_result_;
  else if (r.succeeded() && !held_.succeeded()) r = held_;
  s.fill().rows = 0;
  if (s.autocommit_off) {
    const SQLRETURN rc =
        SQLSetConnectAttr(s.conn->hdbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    // Over a lost connection that fails too: the loss is told once.
    if (!sql_ok(rc) && !connection_lost()) r.merge(odbc_diagnostics(SQL_NULL_HENV, s.conn->hdbc(), SQL_NULL_HSTMT, rc));
    s.autocommit_off = false;
  }
  write_formatted(process_log(), L"TOB", L"bulk insert: %s loaded, %s failed", std::to_wstring(loaded_).c_str(),
                  std::to_wstring(failed_).c_str());
  return r;
}

result bulk_insert::load(bulk_source& source) {
  if (!source.bad) source.bad = [this](size_t line, const std::wstring& why) { reject(line, why); };
  bulk_row row;
  result end;
  result r;
  while (r.succeeded() && !stopped_ && source.next(row, end)) r = add(row);
  if (r.succeeded()) r = end;
  const result f = finish();
  if (r.succeeded()) r = f;
  return r;
}

} // namespace vela::odbc
