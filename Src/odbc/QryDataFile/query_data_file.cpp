#include "vela/odbc/query_data_file.h"

#include <cstring>
#include <iterator>
#include <string>

#include "odbc/sqltext.h"
#include "odbc/strings.h"
#include "os/os.h"
#include "vela/file.h"
#include "vela/log.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/query.h"
#include "vela/utf.h"

namespace vela::odbc {

const result& check_result(const char* file, int line, const result& r) {
  if (r.succeeded()) return r;
  // The source position goes to the log only; users see the outcome.
  std::wstring text = r.format();
  write_formatted(process_log(), L"TO!", L"%s %d: %s", utf8_to_wide(file).c_str(), line, text.c_str());
  if (r.text().empty()) text.erase(0, 1);  // no blank where the text would stand
  throw windows_error(text, static_cast<int32_t>(r.code()));
}

// ---- parameters --------------------------------------------------------------

result queryparam::bind_param(connection& conn, SQLHSTMT statement, uint16_t number) {
  result r;
  SQLWCHAR answer[4] = {};
  SQLSMALLINT answer_length = 0;
  const SQLRETURN info = SQLGetInfoW(conn.hdbc(), SQL_NEED_LONG_DATA_LEN, answer, sizeof answer, &answer_length);
  if (info != SQL_SUCCESS) r.merge(odbc_diagnostics(SQL_NULL_HENV, conn.hdbc(), SQL_NULL_HSTMT, info));
  SQLLEN length = 0;
  announced_size_ = -1;
  if (answer[0] == u'Y') {
    announced_size_ = static_cast<int64_t>(data_size());
    length = static_cast<SQLLEN>(announced_size_);
  }
  indicator_ = SQL_LEN_DATA_AT_EXEC(length);
  const SQLRETURN rc = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                                        static_cast<SQLULEN>(conn.long_binary_size()), 0,
                                        reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(number)), 0, &indicator_);
  if (rc != SQL_SUCCESS) r.merge(odbc_diagnostics(SQL_NULL_HENV, conn.hdbc(), statement, rc));
  return r;
}

uint64_t query_file_uploader::data_size() {
  file f;
  if (f.open_code(path_, file_access::read, file_access::share_read, nullptr, file_access::open_existing,
                  file_access::normal_attributes, 0) != 0)
    return 0;
  int64_t size = 0;
  return f.size(size) == 0 && size > 0 ? static_cast<uint64_t>(size) : 0;
}

result query_file_uploader::next_chunk(chunk_buffer& chunk) {
  file f;
  VELA_CHECK(failure(f.open_code(path_, file_access::read, file_access::share_read, nullptr,
                                file_access::open_existing, file_access::normal_attributes, 0), L"'" + path_ + L"'"));
  int64_t size = 0;
  if (const uint32_t code = f.size(size)) return failure(code);
  if (offset_ == 0) {
    // The value the driver was promised must be the value it gets.
    stream_size_ = size;
    if (announced_size_ >= 0 && size != announced_size_)
      return failure(os::err_invalid_data, L"'" + path_ + L"' " + text(text_id::changed_size));
  } else if (size != stream_size_) {
    return failure(os::err_invalid_data, L"'" + path_ + L"' " + text(text_id::changed_size));
  }
  const uint64_t total = static_cast<uint64_t>(size);
  if (offset_ >= total) {
    offset_ = 0;
    return result();
  }
  const uint64_t left = total - offset_;
  const size_t n = static_cast<size_t>(chunk_size_ && chunk_size_ < left ? chunk_size_ : left);
  if (chunk.size() != n) chunk.resize(n);
  if (offset_ != 0)
    if (const uint32_t code = f.seek(static_cast<int64_t>(offset_), 0)) return failure(code);
  size_t got = 0;
  if (const uint32_t code = f.read(chunk.data(), n, got)) return failure(code);
  if (got != n) return failure(os::err_handle_eof, L"'" + path_ + L"' " + text(text_id::ended_early));
  offset_ += got;
  return result(offset_ == total ? 0 : more_data, std::wstring(), severity::success);
}

result query_memory_uploader::next_chunk(chunk_buffer& chunk) {
  const size_t total = data_->size();
  if (offset_ > total) offset_ = 0;
  const size_t left = total - offset_;
  const size_t n = chunk_size_ && chunk_size_ < left ? chunk_size_ : left;
  chunk.assign(data_->begin() + static_cast<std::ptrdiff_t>(offset_),
               data_->begin() + static_cast<std::ptrdiff_t>(offset_ + n));
  offset_ += n;
  if (offset_ < total) return result(more_data, std::wstring(), severity::success);
  offset_ = 0;
  return result();
}

// ---- download ----------------------------------------------------------------

result query_file_downloader::download(query& q, uint16_t c, uint64_t* bytes) {
  file out;
  if (const uint32_t code = out.open_code(path_, file_access::write, 0, nullptr, file_access::create_always,
                                          file_access::normal_attributes, 0))
    return failure(code, L"'" + path_ + L"'");
  constexpr SQLLEN piece = 0x100000;
  chunk_buffer buffer(static_cast<size_t>(piece));
  uint64_t total = 0;
  result r;
  for (;;) {
    SQLLEN length = 0;
    const SQLRETURN rc = SQLGetData(q.hstmt(), c, SQL_C_BINARY, buffer.data(), piece, &length);
    SQLLEN n = 0;
    if (rc == SQL_SUCCESS) n = length > 0 ? length : 0;
    else if (rc == SQL_SUCCESS_WITH_INFO) n = (length >= 0 && length < piece) ? length : piece;
    else if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) {
      r.merge(odbc_diagnostics(SQL_NULL_HENV, SQL_NULL_HDBC, q.hstmt(), rc));
      break;
    }
    total += static_cast<uint64_t>(n);
    if (n > 0) {
      if (const uint32_t code = out.write(buffer.data(), static_cast<size_t>(n))) {
        r.merge(failure(code, L"'" + path_ + L"'"));
        break;
      }
    }
    if (rc != SQL_SUCCESS_WITH_INFO) break;
  }
  r.merge(out.close_result());
  if (bytes) *bytes = total;
  return r;
}

// ---- connection ----------------------------------------------------------------

int32_t connection::long_binary_size() {
  if (long_binary_size_known_ || !connected_) return long_binary_size_;
  long_binary_size_known_ = true;
  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!sql_ok(SQLAllocHandle(SQL_HANDLE_STMT, hdbc_, &statement))) return long_binary_size_;
  if (sql_ok(SQLGetTypeInfoW(statement, SQL_LONGVARBINARY))) {
    resultset rows;
    if (rows.attach(this, statement).succeeded() && rows.count() >= 3 && rows.bind_all().succeeded() &&
        rows.fetch().succeeded()) {
      const column& size = rows.at(2);
      if (!size.is_null() && size.buffer()) {
        if (size.c_type() == bind_type::int32) long_binary_size_ = *static_cast<const int32_t*>(size.buffer());
        else if (size.c_type() == bind_type::wide_text) long_binary_size_ = static_cast<int32_t>(std::wcstol(size.text().c_str(), nullptr, 10));
      }
    }
    (void)rows.detach();  // fails only when never attached
  }
  ignored(SQLFreeHandle(SQL_HANDLE_STMT, statement), "a catalog statement dropped either way");
  if (long_binary_size_ < 0) long_binary_size_ = 0;  // SQL_NO_TOTAL: no limit known
  return long_binary_size_;
}

} // namespace vela::odbc
