#include "File/transfer.h"

#include <vector>

#include "os/os.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/query_data_file.h"
#include "vela/textfile.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela::blobfile {

namespace {

bool is_data_kind(int32_t t) {
  return t == SQL_LONGVARCHAR || t == SQL_WLONGVARCHAR || t == SQL_BINARY || t == SQL_VARBINARY ||
         t == SQL_LONGVARBINARY;
}

bool is_path_kind(int32_t t) { return t == SQL_CHAR || t == SQL_WCHAR || t == SQL_VARCHAR || t == SQL_WVARCHAR; }

// Room for the longest path Linux takes, and its terminator.
constexpr size_t path_units = 4097;

std::wstring text(uint32_t id) { return load_string(nullptr, id); }

void say(std::wstring_view s) {
  console().write(s);
  if (console().is_terminal()) console().flush();
}

bool is_text_file(const std::wstring& path) {
  std::wstring name, ext;
  split_path(path, nullptr, nullptr, &name, &ext);
  const std::wstring upper = to_upper_copy(ext.empty() ? std::wstring() : ext.substr(1));
  for (const wchar_t* e : {L"TXT", L"TEXT", L"INI", L"HTM", L"CFG", L"LOG"})
    if (upper.find(e) != std::wstring::npos) return true;
  return false;
}

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
  for (size_t i = 0; i < rows.count(); ++i) {
    if (data < 0 && is_data_kind(rows.at(i).sql_type())) data = static_cast<int>(i);
    if (path < 0 && is_path_kind(rows.at(i).sql_type())) path = static_cast<int>(i);
  }
  if (data < 0 || path < 0) return result(os::err_invalid_data, L"Incorrect result set.", 3);
  std::vector<SQLWCHAR> buffer(path_units, 0);
  const int32_t buffer_bytes = static_cast<int32_t>(buffer.size() * sizeof(SQLWCHAR));
  VELA_CHECK(rows.bind(static_cast<uint16_t>(path + 1), buffer.data(), SQL_C_WCHAR, buffer_bytes));
  const odbc::column& path_column = rows.at(static_cast<size_t>(path));
  std::wstring file_name;
  result fetched;
  while ((fetched = rows.fetch()).succeeded()) {
    path_column.text(file_name);
    if (path_column.is_null() || file_name.empty()) {
      say(L" skipped (no file name).");
      continue;
    }
    const SQLLEN length = path_column.indicator();
    if (length == SQL_NO_TOTAL || length >= buffer_bytes)
      VELA_CHECK(result(os::err_filename_too_long, L"'" + file_name + L"'", 3));
    say(L" " + text(5) + L" " + text(10) + L" '" + file_name + L"'...");
    uint64_t bytes = 0;
    VELA_CHECK(odbc::query_file_downloader(file_name).download(q, static_cast<uint16_t>(data + 1), &bytes));
    say(L" " + text(6) + L" " + std::to_wstring(bytes) + L" " + text(7) + L".");
  }
  console().line_break();
  // Only the end of the rows ends a download well; any other failed fetch is reported.
  if (fetched.code() != odbc::no_data_error()) return fetched;
  return result();
}

result upload(odbc::query& q, const std::wstring& path) {
  say(text(5) + L" " + path + L" " + text(11) + L"...");
  result r;
  if (is_text_file(path)) {
    std::wstring content;
    textfile(path, text_file_code_page{auto_code_page, false}).read_all(content);
    const std::string text = wide_to_utf16le(content);
    const std::vector<unsigned char> bytes(text.begin(), text.end());
    odbc::query_memory_uploader up(&bytes);
    VELA_CHECK(q.add_param(&up));
    r.merge(VELA_CHECK(q.execute(q.text(), false, true)));
  } else {
    odbc::query_file_uploader up(path);
    up.set_chunk_size(odbc::upload_chunk_size);
    VELA_CHECK(q.add_param(&up));
    r.merge(VELA_CHECK(q.execute(q.text(), false, true)));
  }
  if (r.succeeded()) say(L" OK");
  console().line_break();
  return r;
}

} // namespace vela::blobfile
