#include "File/transfer.h"

#include <vector>

#include "File/strings.h"
#include "vela/system.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/query_data_file.h"
#include "vela/textfile.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela::blobfile {

namespace {

bool is_data_kind(odbc::type_class t) { return t == odbc::type_class::long_text || t == odbc::type_class::binary; }

// Room for the longest path Linux takes, and its terminator.
constexpr size_t path_units = 4097;

std::wstring text(uint32_t id) { return load_string(nullptr, id); }

// Progress reaches the console at once, also in a file or a pipe.
void say(std::wstring_view s) {
  console().write(s);
  console().flush();
}

bool is_text_file(const std::wstring& path) {
  std::wstring name, ext;
  split_path(path, nullptr, nullptr, &name, &ext);
  const std::wstring upper = to_upper_copy(ext.empty() ? std::wstring() : ext.substr(1));
  for (const wchar_t* e : {L"TXT", L"TEXT", L"INI", L"HTM", L"CFG", L"LOG"})
    if (upper.find(e) != std::wstring::npos) return true;
  return false;
}

// The data and path columns: the first data kind and the first path kind. When that finds
// no pair and there is a binary column, the first binary column carries the data and the
// first other text column, long text included, the path.
bool find_columns(const odbc::resultset& rows, int& data, int& path) {
  data = path = -1;
  for (size_t i = 0; i < rows.count(); ++i) {
    if (data < 0 && is_data_kind(rows.at(i).kind())) data = static_cast<int>(i);
    if (path < 0 && rows.at(i).kind() == odbc::type_class::text) path = static_cast<int>(i);
  }
  if (data >= 0 && path >= 0) return true;
  data = path = -1;
  for (size_t i = 0; i < rows.count(); ++i)
    if (rows.at(i).kind() == odbc::type_class::binary) {
      data = static_cast<int>(i);
      break;
    }
  if (data < 0) return false;
  for (size_t i = 0; i < rows.count(); ++i) {
    const odbc::type_class t = rows.at(i).kind();
    if (static_cast<int>(i) != data && (t == odbc::type_class::text || t == odbc::type_class::long_text)) {
      path = static_cast<int>(i);
      break;
    }
  }
  return path >= 0;
}

// A copy of a source that is not a regular file (a pipe, a FIFO, a device), removed again
// when the upload is over: such a source can be read only once and has no size up front.
class spooled_source {
 public:
  ~spooled_source() {
    if (!path_.empty()) sys::remove_file(path_);
  }

  result copy(const std::wstring& source) {
    file in;
    if (const uint32_t code = in.open_code(source, file_access::read, file_access::share_read, nullptr,
                                           file_access::open_existing, file_access::normal_attributes, 0))
      return failure(code, L"'" + source + L"'");
    sys::file_handle out = sys::invalid_file_handle;
    if (const uint32_t code = sys::create_temp_file(path_, out)) return failure(code);
    std::vector<unsigned char> piece(odbc::upload_chunk_size);
    result r;
    for (;;) {
      size_t got = 0;
      if (const uint32_t code = in.read(piece.data(), piece.size(), got)) {
        r = failure(code, L"'" + source + L"'");
        break;
      }
      if (got == 0) break;
      if (const uint32_t code = sys::write_file(out, piece.data(), got)) {
        r = failure(code, L"'" + path_ + L"'");
        break;
      }
      if (got < piece.size()) break;
    }
    if (const uint32_t code = sys::close_file(out); code != 0 && r.succeeded()) r = failure(code);
    return r;
  }

  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

} // namespace

std::wstring statement_kind(const std::wstring& statement) {
  const std::wstring head = to_upper_copy(statement.substr(0, 6));
  if (head == L"SELECT") return L"select";
  if (head == L"INSERT") return L"insert";
  if (head == L"UPDATE") return L"update";
  return {};
}

result download(odbc::query& q) {
  VELA_CHECK(q.execute(q.text(), false, true));
  odbc::resultset& rows = q.rows();
  int data = -1, path = -1;
  if (!find_columns(rows, data, path)) return failure(os::err_invalid_data, L"Incorrect result set.");
  std::vector<char16_t> buffer(path_units, 0);
  const int32_t buffer_bytes = static_cast<int32_t>(buffer.size() * sizeof(char16_t));
  VELA_CHECK(rows.bind(static_cast<uint16_t>(path + 1), buffer.data(), odbc::bind_type::wide_text, buffer_bytes));
  const odbc::column& path_column = rows.at(static_cast<size_t>(path));
  const bool fixed_length = odbc::is_fixed_length_text(path_column.sql_type());
  std::wstring file_name;
  result fetched;
  while ((fetched = rows.fetch()).succeeded()) {
    path_column.text(file_name);
    // Fixed-length text comes padded; the blanks are no part of the file name.
    if (fixed_length) file_name.erase(file_name.find_last_not_of(L' ') + 1);
    if (path_column.is_null() || file_name.empty()) {
      say(L" " + text(string_id::skipped_no_file_name));
      continue;
    }
    const int64_t length = path_column.indicator();
    if (length == odbc::no_total || length >= buffer_bytes)
      VELA_CHECK(failure(os::err_filename_too_long, L"'" + file_name + L"'"));
    say(L" " + text(string_id::writing) + L" " + text(string_id::to) + L" '" + file_name + L"'...");
    uint64_t bytes = 0;
    VELA_CHECK(odbc::query_file_downloader(file_name).download(q, static_cast<uint16_t>(data + 1), &bytes));
    say(L" " + text(string_id::written) + L" " + std::to_wstring(bytes) + L" " + text(string_id::bytes) + L".");
  }
  console().line_break();
  // Only the end of the rows ends a download well; any other failed fetch is reported.
  if (fetched.code() != odbc::no_data_error()) return fetched;
  return result();
}

result upload(odbc::query& q, const std::wstring& path) {
  say(text(string_id::writing) + L" " + path + L" " + text(string_id::to_database) + L"...");
  spooled_source spool;
  std::wstring source = path;
  if (!path.empty() && sys::path_exists(path) && !sys::is_regular_file(path)) {
    VELA_CHECK(spool.copy(path));
    source = spool.path();
  }
  result r;
  if (is_text_file(path)) {
    std::vector<unsigned char> bytes;
    {
      std::wstring content;
      textfile(source, text_file_code_page{auto_code_page, false}).read_all(content);
      wide_to_utf16le(content, bytes);
    }
    odbc::query_memory_uploader up(&bytes);
    up.set_chunk_size(odbc::upload_chunk_size);
    VELA_CHECK(q.add_param(&up));
    r.merge(VELA_CHECK(q.execute(q.text(), false, true)));
  } else {
    odbc::query_file_uploader up(source);
    up.set_chunk_size(odbc::upload_chunk_size);
    VELA_CHECK(q.add_param(&up));
    r.merge(VELA_CHECK(q.execute(q.text(), false, true)));
  }
  // A known count of 0 changed rows (an UPDATE that matched nothing) stored nothing.
  if (q.changed_rows() == 0) {
    say(L" " + text(string_id::no_row_changed));
    console().line_break();
    return failure(os::err_not_found, text(string_id::no_row_changed));
  }
  if (r.succeeded()) say(L" OK");
  console().line_break();
  return r;
}

} // namespace vela::blobfile
