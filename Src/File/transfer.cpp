#include "File/transfer.h"

#include <map>
#include <vector>

#include "File/strings.h"
#include "File/link.h"
#include "vela/system.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/odbc/environment.h"
#include "vela/odbc/query.h"
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

// Why a row's file name is not written (the string that says so), or 0: it holds a control
// character, it leaves the folder without -P, or it passes through a folder that is a link.
uint32_t unusable_name(const std::wstring& name, int64_t length_bytes, const download_options& options) {
  if (has_control_character(name, length_bytes)) return string_id::control_character_in_name;
  // Devices and FIFOs (/dev/null, /dev/stdout) leave no file anywhere: they are written wherever they are.
  if (!options.any_place && leaves_folder(name) && !sys::is_device_or_fifo(name)) return string_id::outside_target_folder;
  // Nor through a folder that is a symbolic link: it would land outside the folder.
  if (!is_absolute(name) && sys::passes_through_link(options.folder, name)) return string_id::through_link;
  return 0;
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

// The file an upload stores, read once for every attempt: a pipe's copy, or a text's UTF-16.
class upload_source {
 public:
  result prepare(const std::wstring& path) {
    source_ = path;
    if (!path.empty() && sys::path_exists(path) && !sys::is_regular_file(path)) {
      if (const result r = spool_.copy(path); !r.succeeded()) return r;
      source_ = spool_.path();
    }
    // A text file goes in as text only when its bytes are that text exactly; any other (a
    // NUL, an invalid sequence, a byte the code page lacks) goes in as it is.
    as_text_ = is_text_file(path);
    if (!as_text_) return result();
    std::wstring content;
    textfile(source_, text_file_code_page{auto_code_page, false}).read_all_exact(content, as_text_);
    if (as_text_) {
      wide_to_utf16le(content, bytes_);
    } else {
      std::wstring notice = text(string_id::not_plain_text);
      notice.replace(notice.find(L"%1"), 2, path);
      console().flush();
      error_console().write(notice).line_break();
    }
    return result();
  }

  // Runs q with the file as its one parameter.
  result send(odbc::query& q) const {
    if (as_text_) {
      odbc::query_memory_uploader up(&bytes_);
      return send(q, up);
    }
    odbc::query_file_uploader up(source_);
    return send(q, up);
  }

 private:
  template <typename Uploader>
  static result send(odbc::query& q, Uploader& up) {
    up.set_chunk_size(odbc::upload_chunk_size);
    if (const result r = q.add_param(&up); !r.succeeded()) return r;
    return q.execute(q.text(), false, true);
  }

  spooled_source spool_;
  std::wstring source_;
  std::vector<unsigned char> bytes_;
  bool as_text_ = false;
};

// The statement run with the file; a known count of 0 changed rows (an UPDATE that matched
// nothing) stored nothing and is not_found.
result execute_upload(odbc::query& q, const upload_source& source) {
  const result r = source.send(q);
  if (!r.succeeded()) return r;
  const int64_t changed = q.changed_rows();
  if (const result drained = q.drain_results(); !drained.succeeded()) return drained;  // further results passed over
  if (changed == 0) return failure(os::err_not_found, text(string_id::no_row_changed));
  return r;
}

// One attempt as one transaction: committed when it stored the file, else rolled back.
// Galera finds its conflicts at the commit, so that is part of the attempt.
result upload_committed(odbc::connection& c, const std::wstring& statement, const upload_source& source) {
  if (const result manual = c.set_autocommit(false); !manual.succeeded()) return manual;
  result r;
  {
    odbc::query q(&c, statement);
    r = execute_upload(q, source);
  }
  if (r.succeeded())
    if (const result committed = c.transact(0); !committed.succeeded()) r = committed;
  if (!r.succeeded()) (void)c.transact(1);  // a connection gone has rolled back itself
  return r;
}

// SELECT: the rows' files, written one after the other.
result download_rows(odbc::query& q, const download_options& options) {
  if (const result r = q.execute(q.text(), false, true); !r.succeeded()) return r;
  odbc::resultset& rows = q.rows();
  int data = -1, path = -1;
  if (!find_columns(rows, data, path)) return failure(os::err_invalid_data, L"Incorrect result set.");
  std::vector<char16_t> buffer(path_units, 0);
  const int32_t buffer_bytes = static_cast<int32_t>(buffer.size() * sizeof(char16_t));
  if (const result r = rows.bind(static_cast<uint16_t>(path + 1), buffer.data(), odbc::bind_type::wide_text, buffer_bytes);
      !r.succeeded())
    return r;
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
    if (length == odbc::no_total || length >= buffer_bytes) return failure(os::err_filename_too_long, L"'" + file_name + L"'");
    if (const uint32_t why = unusable_name(file_name, fixed_length ? 0 : length, options)) {
      say(L" " + (why == string_id::control_character_in_name ? std::wstring() : L"'" + file_name + L"' ") + text(why));
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
    if (const result r = write_target(q, static_cast<uint16_t>(data + 1), target, bytes); !r.succeeded()) return r;
    say(L" " + text(string_id::written) + L" " + std::to_wstring(bytes) + L" " + text(string_id::bytes) + L".");
  }
  console().line_break();
  // Only the end of the rows ends a download well; any other failed fetch is reported.
  if (fetched.code() != odbc::no_data_error()) return fetched;
  if (const result r = q.drain_results(); !r.succeeded()) return r;  // results after the first set are passed over
  if (skipped) return failure(os::err_invalid_name, text(string_id::rows_skipped) + L" " + std::to_wstring(skipped));
  return result();
}

} // namespace

std::wstring statement_kind(const std::wstring& statement) {
  const std::wstring head = to_upper_copy(statement.substr(0, 6));
  if (head == L"SELECT") return L"select";
  if (head == L"INSERT") return L"insert";
  if (head == L"UPDATE") return L"update";
  return {};
}

result download(link& l, const std::wstring& statement, const download_options& options, retry_count& count) {
  for (;;) {
    result r;
    {
      odbc::query q(&l.connection(), statement);
      r = download_rows(q, options);
    }
    // Every file is written whole or not at all: running again from the first row rewrites
    // those written already and leaves no half file.
    if (r.succeeded() || r.code() == os::err_invalid_name || !again_after(l, r, count)) return r;
    if (!count.reopened) console().line_break();
    say(text(string_id::executing_query) + L"...");
  }
}

result upload(link& l, const std::wstring& statement, const std::wstring& path, retry_count& count) {
  const std::wstring writing = text(string_id::writing) + L" " + path + L" " + text(string_id::to_database) + L"...";
  say(writing);
  upload_source source;
  if (const result r = source.prepare(path); !r.succeeded()) return r;
  result r;
  if (l.retries() == 0) {
    // The data source's own commit mode holds.
    odbc::query q(&l.connection(), statement);
    r = execute_upload(q, source);
  } else {
    while (!(r = upload_committed(l.connection(), statement, source)).succeeded() && r.code() != os::err_not_found &&
           again_after(l, r, count))
      if (count.reopened) say(writing);  // the line it stood on has ended
  }
  if (r.code() == os::err_not_found) {
    say(L" " + text(string_id::no_row_changed));
    console().line_break();
  } else if (r.succeeded()) {
    say(L" OK");
    console().line_break();
  }
  return r;
}

} // namespace vela::blobfile
