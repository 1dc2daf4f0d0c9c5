#include "File/transfer.h"

#include <map>
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

// A copy of a source that is not a regular file (a pipe, a FIFO, a device): such a source
// can be read only once and has no size up front. The copy has no name in the temporary
// folder, so no way the run ends leaves it behind; closing it frees it.
class spooled_source {
 public:
  ~spooled_source() {
    if (out_ != sys::invalid_file_handle) sys::close_file(out_);
  }

  result copy(const std::wstring& source) {
    file in;
    if (const uint32_t code = in.open_code(source, file_access::read, file_access::share_read, nullptr,
                                           file_access::open_existing, file_access::normal_attributes, 0))
      return failure(code, L"'" + source + L"'");
    if (const uint32_t code = sys::create_unnamed_temp_file(path_, out_)) return failure(code);
    std::vector<unsigned char> piece(odbc::upload_chunk_size);
    for (;;) {
      size_t got = 0;
      if (const uint32_t code = in.read(piece.data(), piece.size(), got)) return failure(code, L"'" + source + L"'");
      if (got == 0) break;
      if (const uint32_t code = sys::write_file(out_, piece.data(), got)) return failure(code, L"'" + path_ + L"'");
      if (got < piece.size()) break;
    }
    return result();
  }

  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  sys::file_handle out_ = sys::invalid_file_handle;
};

// A name that cannot be a file's: a NUL (the text is longer than it reads) or another
// control character.
bool has_control_character(const std::wstring& name, int64_t length_bytes) {
  if (length_bytes > 0 && static_cast<size_t>(length_bytes) / sizeof(char16_t) > name.size()) return true;
  for (const wchar_t c : name)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

bool is_absolute(const std::wstring& name) {
  return name[0] == L'/' || name[0] == L'\\' || (name.size() > 1 && name[1] == L':');
}

// Absolute, or with a ".." step that may climb above the folder.
bool leaves_folder(const std::wstring& name) {
  if (is_absolute(name)) return true;
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of(L"/\\", start);
    if (name.compare(start, end == std::wstring::npos ? std::wstring::npos : end - start, L"..") == 0) return true;
    if (end == std::wstring::npos) return false;
    start = end + 1;
  }
}

// Writes one file whole (sys::replacing_file): a failed or killed run leaves the old file
// as it was, and a link at the name is replaced, not followed.
result write_target(odbc::query& q, uint16_t column, const std::wstring& target, uint64_t& bytes) {
  sys::replacing_file out(target);
  if (const uint32_t code = out.create()) return failure(code, L"'" + target + L"'");
  result r = odbc::query_file_downloader(out.path()).download(q, column, &bytes);
  if (r.succeeded())
    if (const uint32_t code = out.commit()) r = failure(code, L"'" + target + L"'");
  if (!r.succeeded()) r.set(r.code(), out.as_target(r.text()), r.severity());
  return r;
}

} // namespace

std::wstring statement_kind(const std::wstring& statement) {
  const std::wstring head = to_upper_copy(statement.substr(0, 6));
  if (head == L"SELECT") return L"select";
  if (head == L"INSERT") return L"insert";
  if (head == L"UPDATE") return L"update";
  return {};
}

result download(odbc::query& q, const download_options& options) {
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
  std::map<std::wstring, size_t> written_rows;  // target -> the row that wrote it
  size_t row = 0, skipped = 0;
  result fetched;
  while ((fetched = rows.fetch()).succeeded()) {
    ++row;
    path_column.text(file_name);
    const int64_t length = path_column.indicator();
    // Fixed-length text comes padded; the blanks are no part of the file name.
    if (fixed_length) file_name.erase(file_name.find_last_not_of(L' ') + 1);
    if (path_column.is_null() || file_name.empty()) {
      say(L" " + text(string_id::skipped_no_file_name));
      continue;
    }
    if (length == odbc::no_total || length >= buffer_bytes)
      VELA_CHECK(failure(os::err_filename_too_long, L"'" + file_name + L"'"));
    if (has_control_character(file_name, fixed_length ? 0 : length)) {
      say(L" " + text(string_id::control_character_in_name));
      ++skipped;
      continue;
    }
    // Devices and FIFOs (/dev/null, /dev/stdout) leave no file anywhere: they are written wherever they are.
    if (!options.any_place && leaves_folder(file_name) && !sys::is_device_or_fifo(file_name)) {
      say(L" '" + file_name + L"' " + text(string_id::outside_target_folder));
      ++skipped;
      continue;
    }
    // Nor through a folder that is a symbolic link: it would land outside the folder.
    if (!is_absolute(file_name) && sys::passes_through_link(options.folder, file_name)) {
      say(L" '" + file_name + L"' " + text(string_id::through_link));
      ++skipped;
      continue;
    }
    const std::wstring target = options.folder.empty() || is_absolute(file_name) ? file_name : options.folder + L"/" + file_name;
    say(L" " + text(string_id::writing) + L" " + text(string_id::to) + L" '" + target + L"'...");
    const auto [earlier, first_time] = written_rows.emplace(target, row);
    if (!first_time) {
      std::wstring notice = text(string_id::replaces_row);
      notice.replace(notice.find(L"%1"), 2, std::to_wstring(earlier->second));
      say(L" " + notice);
      earlier->second = row;
    }
    uint64_t bytes = 0;
    VELA_CHECK(write_target(q, static_cast<uint16_t>(data + 1), target, bytes));
    say(L" " + text(string_id::written) + L" " + std::to_wstring(bytes) + L" " + text(string_id::bytes) + L".");
  }
  console().line_break();
  // Only the end of the rows ends a download well; any other failed fetch is reported.
  if (fetched.code() != odbc::no_data_error()) return fetched;
  VELA_CHECK(q.drain_results());  // results after the first set are passed over
  if (skipped) return failure(os::err_invalid_name, text(string_id::rows_skipped) + L" " + std::to_wstring(skipped));
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
  // A text file goes in as text only when its bytes are that text exactly; any other (a NUL,
  // an invalid sequence, a byte the code page lacks) goes in as it is.
  std::vector<unsigned char> bytes;
  bool as_text = is_text_file(path);
  if (as_text) {
    std::wstring content;
    textfile(source, text_file_code_page{auto_code_page, false}).read_all_exact(content, as_text);
    if (as_text) {
      wide_to_utf16le(content, bytes);
    } else {
      std::wstring notice = text(string_id::not_plain_text);
      notice.replace(notice.find(L"%1"), 2, path);
      console().flush();
      error_console().write(notice).line_break();
    }
  }
  if (as_text) {
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
  const int64_t changed = q.changed_rows();
  VELA_CHECK(q.drain_results());  // the statement's further results are passed over
  if (changed == 0) {
    say(L" " + text(string_id::no_row_changed));
    console().line_break();
    return failure(os::err_not_found, text(string_id::no_row_changed));
  }
  if (r.succeeded()) say(L" OK");
  console().line_break();
  return r;
}

} // namespace vela::blobfile
