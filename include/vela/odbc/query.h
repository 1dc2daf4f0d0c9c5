// Statements, their result sets and columns.
#pragma once

#include <cstdint>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vela/containers.h"
#include "vela/odbc/query_data_file.h"
#include "vela/odbc/types.h"
#include "vela/result.h"

namespace vela::odbc {

class connection;

// Display sizes that are unknown (0 or negative, such as no_total) or absurd never
// reach an allocation: they are taken as these bounds, in characters.
constexpr int32_t unknown_display_size = 255;
constexpr int32_t max_display_size = 32767;
int32_t bounded_display_size(int32_t display_size);

// Where a result set's fetch stands: rows fetched together (a rowset) and the one read now.
struct rowset_position {
  size_t size = 1;  // rows each fetch asks for
  size_t row = 0;   // the current row among those fetched
  // SQLSetPos makes the driver count the rows it positioned on: the count of the result is
  // kept from before the first.
  bool positioned = false;
  int64_t rows_before = -1;
};

class column : public base {
 public:
  column(stmt_handle statement, uint16_t number, rowset_position* at = nullptr)
      : statement_(statement), number_(number), at_(at ? at : &single_row_) {}
  ~column() override { release(); }
  column(const column&) = delete;
  column& operator=(const column&) = delete;

  result describe();
  // buffer null: the column allocates its own. In a rowset of n rows a caller's buffer holds
  // n values of buffer_length bytes each, one after the other.
  result bind(void* buffer, bind_type type, int32_t buffer_length);
  // The column is no longer fetched into a buffer: its values are read with SQLGetData.
  result unbind();

  // The current row's bound value (null when not bound).
  void* buffer() const { return buffer_ ? static_cast<char*>(buffer_) + at_->row * static_cast<size_t>(buffer_length_) : nullptr; }
  bool is_null() const { return indicator() == null_data; }
  // The length of the current row's bound value in bytes, null_data or no_total.
  int64_t indicator() const { return indicators_[at_->row]; }
  // The value of a column bound as wide text, converted to program text.
  void text(std::wstring& out) const;
  std::wstring text() const {
    std::wstring s;
    text(s);
    return s;
  }
  // The whole value of the current row as UTF-16 text, read from its start with SQLGetData
  // (in a rowset the row is positioned on first, which needs SQL_GD_BLOCK) in pieces of piece's size (the caller's buffer, reused); each piece goes to sink. A pair
  // of surrogates is never split between two pieces. is_null (when given) tells whether the
  // value is NULL; reading stops once at least limit units went to sink.
  result read_text(std::vector<char16_t>& piece, const std::function<void(const char16_t*, size_t)>& sink,
                   bool* is_null = nullptr, size_t limit = SIZE_MAX);
  // The same for the bytes of a binary value.
  result read_bytes(std::vector<unsigned char>& piece, const std::function<void(const unsigned char*, size_t)>& sink,
                    bool* is_null = nullptr, size_t limit = SIZE_MAX);
  // The whole value as narrow text (UTF-8 from drivers whose narrow path is the sound one),
  // in pieces that never split a character; reading stops once at least limit bytes went to sink.
  result read_utf8(std::vector<unsigned char>& piece, const std::function<void(const unsigned char*, size_t)>& sink,
                   bool* is_null = nullptr, size_t limit = SIZE_MAX);

  uint16_t number() const { return number_; }
  int32_t sql_type() const { return sql_type_; }
  bind_type c_type() const { return c_type_; }
  type_class kind() const { return classify(sql_type_); }
  int32_t display_size() const { return display_size_; }
  int32_t length() const { return length_; }
  const std::wstring& name() const { return name_; }
  const std::wstring& table_name() const { return table_name_; }
  // BIT, or a type the database names bool or boolean (which a driver may describe as text):
  // its values read "1" and "0".
  bool boolean() const { return boolean_; }
  bool caller_buffer() const { return caller_buffer_; }
  // A BIT value that a driver handed over as its raw byte becomes the text "0" or "1".
  void mend_bit_text();

 private:
  void release();
  // In a rowset SQLGetData reads the row SQLSetPos positioned on: the current one.
  result position();

  stmt_handle statement_;
  uint16_t number_;
  rowset_position single_row_;  // where the column has no result set
  rowset_position* at_;
  void* buffer_ = nullptr;
  int32_t buffer_length_ = 0;
  int32_t sql_type_ = 0;
  std::wstring table_name_;
  bool boolean_ = false;
  bind_type c_type_ = bind_type::automatic;
  int32_t display_size_ = 0;
  int32_t length_ = 0;
  std::vector<int64_t> indicators_ = std::vector<int64_t>(1, null_data);  // one a row of the rowset
  std::wstring name_;
  bool caller_buffer_ = false;
};

class resultset : public base {
 public:
  resultset() = default;
  ~resultset() override;
  resultset(const resultset&) = delete;
  resultset& operator=(const resultset&) = delete;

  result attach(connection* conn, stmt_handle statement);
  result detach();
  result bind_all();
  // Binds column n (from 1) to a caller buffer.
  result bind(uint16_t n, void* buffer, bind_type type, int32_t buffer_length);
  // Fetches n rows at a time (column-wise arrays) from the next fetch_row on: every column is
  // unbound, to be bound again for n rows. The driver may take fewer; rowset_size() tells.
  // Before the first fetch only.
  result set_rowset(size_t n);
  size_t rowset_size() const { return at_.size; }
  // Whether the driver reads values with SQLGetData in a rowset of more than one row
  // (SQL_GETDATA_EXTENSIONS has SQL_GD_BLOCK).
  bool reads_in_rowsets() const;
  // Ends with no_data_error after the last row. One row at a time only.
  result fetch();
  // The same for a loop over many rows: true for a row, without building a result for it;
  // false at the end or on a failure, with fetch's result in end. In a rowset each call moves
  // on by one row and fetches the next rowset after the last; a row the driver failed to
  // fetch ends the loop there with the fetch's diagnostics.
  bool fetch_row(result& end);
  // Rows affected; 0 when the driver does not know.
  uint32_t row_count() const;

  size_t count() const { return columns_.size(); }
  column& at(size_t i) { return *columns_[i]; }
  const column& at(size_t i) const { return *columns_[i]; }
  stmt_handle hstmt() const { return hstmt_; }

 private:
  bool fetch_rowset(result& end);
  bool enter_row(result& end);
  void mend_bits();
  void reset_rowset();

  connection* connection_ = nullptr;
  stmt_handle hstmt_ = nullptr;
  std::vector<std::unique_ptr<column>> columns_;
  bool has_bit_ = false;
  rowset_position at_;
  size_t fetched_ = 0;                 // rows of the last rowset fetch (SQL_ATTR_ROWS_FETCHED_PTR)
  std::vector<uint16_t> row_status_;   // theirs (SQL_ATTR_ROW_STATUS_PTR)
  std::optional<result> rowset_failure_;  // what the last rowset fetch reported for its failed rows
};

class query : public base {
 public:
  query(connection* conn, std::wstring text) : connection_(conn), text_(std::move(text)) {}
  ~query() override;
  query(const query&) = delete;
  query& operator=(const query&) = delete;

  result execute(const std::wstring& text, bool commit, bool bind);
  result execute(bool commit) { return execute(text_, commit, true); }
  result Free();
  // Ends the last execution's cursor and results; the handle stays for the next execution.
  void close();
  // Asks the driver to stop the statement that runs now (SQLCancel). Safe from another
  // thread while execute or a fetch runs; does nothing before the statement exists.
  result cancel();

  // The parameter is not owned; it must outlive the execution.
  result add_param(queryparam* p);
  // Rows the last INSERT, UPDATE or DELETE changed; -1 when the driver does not know.
  int64_t changed_rows() const;
  // Moves on to the statement's next result (SQLMoreResults), a result set or a row count:
  // rows() then describes it, its columns bound when bind is set. Ends with no_data_error
  // after the last result; a later result that failed is its failure.
  result more_results(bool bind = true);
  // Passes over every result left, to the end; the first failure among them is the result.
  result drain_results();

  resultset& rows() { return rows_; }
  stmt_handle hstmt() const { return hstmt_; }
  const std::wstring& text() const { return text_; }
  connection* conn() const { return connection_; }

 private:
  result bind_params();
  result send_stream_data();
  void reset_params(result& r);
  // SQLExecDirect or SQLPrepare of the text (the SQLRETURN).
  int16_t send_text(const std::wstring& text, bool prepare);

  std::vector<queryparam*> parameters_;  // not owned
  connection* connection_;
  std::wstring text_;
  std::string statement_bytes_;  // the UTF-8 text sent last
  stmt_handle hstmt_ = nullptr;
  std::mutex handle_mutex_;  // hstmt_ as cancel sees it
  resultset rows_;
  std::optional<std::wstring> last_more_failure_;  // of the last more_results, when it failed
};

// The first column of the first row that text gives, as text, in value.
result first_value(connection* conn, const std::wstring& text, std::wstring& value);

} // namespace vela::odbc
