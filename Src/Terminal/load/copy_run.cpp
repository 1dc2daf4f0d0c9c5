// Loading rows: COPY blocks of scripts, \copy from and to files, rows of another connection.
#include <charconv>
#include <cwctype>
#include <memory>

#include "Terminal/load/copy_data.h"
#include "Terminal/handler.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/odbc/bulk_insert.h"
#include "vela/odbc/driver.h"
#include "vela/odbc/environment.h"
#include "vela/os_error.h"
#include "vela/system.h"
#include "vela/textfile.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {


// Rows of a result set, each value as text: binary values as "\x" and hex digits.
class result_source : public odbc::bulk_source {
 public:
  // Numbers, dates and other short values are bound as text; text, long and binary values
  // are read whole in pieces (never cut to a display size).
  // narrow: text is read as UTF-8 (see driver_profile::narrow_copy_text).
  // Floating-point values are fetched as doubles and written in the shortest text that reads
  // back the same.
  result_source(odbc::resultset& rows, bool narrow)
      : rows_(rows), buffers_(rows.count()), numbers_(rows.count()), narrow_(narrow) {
    for (size_t i = 0; i < rows.count(); ++i) {
      odbc::column& c = rows.at(i);
      const odbc::type_class k = c.kind();
      if (odbc::is_floating(c.sql_type()) &&
          c.bind(&numbers_[i], odbc::bind_type::float64, sizeof(double)).succeeded()) {
        buffers_[i].assign(1, u'\0');  // bound
        continue;
      }
      if (odbc::is_long_or_binary(c.sql_type()) || k == odbc::type_class::text) continue;
      buffers_[i].assign(static_cast<size_t>(odbc::bounded_display_size(c.display_size())) + 64, u'\0');
      if (!c.bind(buffers_[i].data(), odbc::bind_type::wide_text, static_cast<int32_t>(buffers_[i].size() * 2)).succeeded())
        buffers_[i].clear();
    }
  }
  // Columns (non-zero) whose text is a double's exact text, written in its shortest form.
  std::vector<char> exact_text;
  bool next(odbc::bulk_row& row, result& end) override {
    if (!rows_.fetch_row(end)) {
      if (end.code() == (odbc::no_data_error() & 0x3FFFFFFF)) end = result();  // the last row was read
      return false;
    }
    const size_t n = rows_.count();
    row.reset(n);
    row.line = ++number_;
    for (size_t i = 0; i < n; ++i) {
      odbc::column& c = rows_.at(i);
      std::wstring& v = row.values[i];
      if (!buffers_[i].empty()) {
        if (c.is_null()) {
          row.nulls[i] = 1;
        } else if (c.c_type() == odbc::bind_type::float64) {
          char text[odbc::float_text_size];
          v.assign(text, text + odbc::float_text(numbers_[i], c.sql_type(), text));
        } else {
          c.text(v);
        }
        continue;
      }
      bool is_null = false;
      result r;
      if (c.kind() == odbc::type_class::binary) {
        static const wchar_t digits[] = L"0123456789abcdef";
        v = L"\\x";
        r = c.read_bytes(bytes_, [&v](const unsigned char* b, size_t k) {
          for (size_t j = 0; j < k; ++j) {
            v += digits[b[j] >> 4];
            v += digits[b[j] & 15];
          }
        }, &is_null);
      } else if (narrow_) {
        utf8_.clear();
        r = c.read_utf8(bytes_, [this](const unsigned char* b, size_t k) { utf8_.append(reinterpret_cast<const char*>(b), k); },
                        &is_null);
        v = utf8_to_wide_escaped(utf8_);  // bytes that are not UTF-8 kept: a file gets them as they are
        double number = 0;
        const char* const end_of = utf8_.data() + utf8_.size();
        if (i < exact_text.size() && exact_text[i] && !utf8_.empty() &&
            std::from_chars(utf8_.data(), end_of, number).ptr == end_of) {
          char text[odbc::float_text_size];
          v.assign(text, text + odbc::float_text(number, c.sql_type(), text));
        }
      } else {
        units_.clear();
        r = c.read_text(piece_, [this](const char16_t* u, size_t k) { units_.append(u, k); }, &is_null);
        v = utf16_to_wide(units_);
      }
      if (!r.succeeded()) {
        end = r;
        return false;
      }
      row.nulls[i] = is_null ? 1 : 0;
    }
    return true;
  }

 private:
  odbc::resultset& rows_;
  std::vector<std::vector<char16_t>> buffers_;
  std::vector<double> numbers_;
  bool narrow_;
  std::string utf8_;
  size_t number_ = 0;
  std::vector<unsigned char> bytes_;
  std::vector<char16_t> piece_ = std::vector<char16_t>(32768);
  std::u16string units_;
};

// SQLite's driver hands a REAL over in 15 significant digits whatever is asked for: the query
// runs again with such columns in SQLite's own text of 21 significant digits, which reads back
// to the same double, and the source writes that double. exact tells those columns.
result exact_sqlite_doubles(odbc::query& q, const std::wstring& text, std::vector<char>& exact) {
  odbc::resultset& rows = q.rows();
  exact.assign(rows.count(), 0);
  bool any = false;
  for (size_t i = 0; i < rows.count(); ++i) any = any || odbc::is_floating(rows.at(i).sql_type());
  if (!any || !q.conn()->profile().inexact_doubles()) return result();
  std::wstring names, values;
  for (size_t i = 0; i < rows.count(); ++i) {
    const std::wstring c = L"c" + std::to_wstring(i + 1);
    names += (i ? L", " : L"") + c;
    values += i ? L", " : L"";
    if (odbc::is_floating(rows.at(i).sql_type())) {
      exact[i] = 1;
      values += L"CASE WHEN typeof(" + c + L") = 'real' THEN printf('%!.20e', " + c + L") ELSE " + c + L" END";
    } else {
      values += c;
    }
    values += L" AS " + q.conn()->profile().quote_identifier(rows.at(i).name());
  }
  const std::wstring again = L"WITH q(" + names + L") AS (" + text + L") SELECT " + values + L" FROM q";
  return q.execute(again, false, false);
}

} // namespace

std::unique_ptr<copy_load> TTermOdbcHndlr::start_load(const copy_command& cmd, const std::wstring& where, size_t line) {
  auto load = std::make_unique<copy_load>(ctx_.connection, ctx_.options.batch_rows, cmd.format);
  load->where = where;
  odbc::bulk_insert& e = load->engine;
  e.stop_on_failure = ctx_.options.on_error;
  e.join_transaction = transaction_open();  // BEGIN; \copy …; ROLLBACK loads nothing
  copy_load* l = load.get();
  e.on_failure = [this, l](size_t row_line, const std::wstring& why) {
    std::wstring text = why;
    trim(text, L"", L"\r\n");
    const std::wstring m = message(string_id::row_not_loaded, l->where.c_str(), static_cast<unsigned>(row_line), text.c_str());
    if (ctx_.options.on_error) {
      // A row of the script itself is placed by its own line.
      if (l->in_script) ctx_.place = failure_place(l->where, row_line);
      (void)fail(m);
    } else {
      report_failure(m);
    }
  };
  e.on_batch = [this, l]() { show_progress(*l, false); };
  const result r = ctx_.connection.hdbc() ? e.prepare(cmd.table, cmd.columns) : failure(os::err_invalid_function, str(string_id::not_connected));
  if (!r.succeeded()) {
    std::wstring text = r.text();
    trim(text, L"", L"\r\n");
    copy_not_started(text, where, line);
    return nullptr;
  }
  load->reader.expect(e.columns());
  load->take = [l](record_reader::outcome o, const odbc::bulk_row& row, const std::wstring& why) {
    odbc::bulk_insert& engine = l->engine;
    if (o == record_reader::outcome::bad_header) {
      l->bad_header = why;
      l->header_line = row.line;
      return false;
    }
    if (o == record_reader::outcome::bad) engine.reject(row.line, why);
    else l->failure = engine.add(row);
    return l->failure.succeeded() && !engine.stopped() && !engine.connection_lost();
  };
  return load;
}

void TTermOdbcHndlr::copy_not_started(const std::wstring& why, const std::wstring& where, size_t line) {
  const std::wstring text = where.empty() ? message(string_id::copy_not_started_here, why.c_str())
                                           : message(string_id::copy_not_started, why.c_str(), where.c_str(), static_cast<unsigned>(line));
  report_failure(text);
  console().flush();
  const result r = failure(os::err_invalid_data, text);
  if (ctx_.load_failure.succeeded()) ctx_.load_failure = r;
  note(r);
}

void TTermOdbcHndlr::show_progress(copy_load& l, bool last) {
  console_writer& err = error_console();
  if (!err.is_terminal() || ctx_.options.data_only) return;
  if (!last && elapsed_ms(l.shown) < 1000) return;
  if (last && !l.progress_shown) return;
  l.shown = tick_count();
  const uint64_t rows = l.engine.loaded() + l.engine.failed();
  const uint32_t ms = elapsed_ms(l.started);
  const uint64_t rate = ms ? rows * 1000 / ms : rows;
  err.write(L"\r" + message(string_id::copy_progress, std::to_wstring(rows).c_str(), std::to_wstring(rate).c_str()));
  if (last) err.write(L"\n");
  err.flush();
  l.progress_shown = true;
}

void TTermOdbcHndlr::end_load(copy_load& l, const result& r) {
  result f = l.engine.finish();
  if (!r.succeeded()) f = r;
  show_progress(l, true);
  if (!f.succeeded()) {
    std::wstring text = f.text();
    if (!text.empty() && text.back() != L'\n') text += L'\n';
    const odbc::bulk_insert& e = l.engine;
    if (e.connection_lost()) {
      // Which rows are in the table: those of the last batch confirmed, and the batch lost.
      auto batch = [](const odbc::bulk_insert::batch_lines& b) {
        return b.number ? message(string_id::copy_batch, std::to_wstring(b.number).c_str(), static_cast<unsigned>(b.first),
                                  static_cast<unsigned>(b.last))
                        : str(string_id::copy_no_batch);
      };
      text += message(string_id::copy_connection_lost, batch(e.last_committed()).c_str());
      text += message(e.lost_commit_unknown() ? string_id::copy_batch_unknown : string_id::copy_batch_not_committed,
                      batch(e.lost_batch()).c_str());
    }
    report_failure(text);
    note(f);
    if (ctx_.load_failure.succeeded()) ctx_.load_failure = f;
  }
  const std::wstring loaded = std::to_wstring(l.engine.loaded()), failed = std::to_wstring(l.engine.failed());
  const uint64_t skipped = l.reader.skipped();
  ctx_.routes.info_line(skipped ? message(string_id::rows_loaded_skipped, loaded.c_str(), failed.c_str(), std::to_wstring(skipped).c_str())
                            : message(string_id::rows_loaded, loaded.c_str(), failed.c_str()));
  console().flush();
}

// A line of data: its records go to the engine (the header is skipped).
bool TTermOdbcHndlr::load_line(copy_load& l, std::wstring_view line, size_t number) {
  return lines_taken(l, l.reader.add_line(line, number, l.take));
}

// After the reader stopped (go false): a failure of the engine or a malformed header ends
// the load here; a row that stopped the load is left to the caller, as is the end of data.
bool TTermOdbcHndlr::lines_taken(copy_load& l, bool go) {
  if (go) return true;
  if (!l.bad_header.empty()) {
    (void)l.engine.finish();  // no row was sent
    copy_not_started(message(string_id::copy_bad_header, l.bad_header.c_str()), l.where, l.header_line);
    return false;
  }
  if (!l.failure.succeeded() || l.engine.connection_lost()) {
    end_load(l, l.failure);
    return false;
  }
  return !l.engine.stopped();
}

void TTermOdbcHndlr::copy_block(const script_item& item, const std::wstring& where) {
  using step = script_item::copy_step;
  if (item.step == step::begin) {
    statement_break();
    copy_.reset();
    copy_skip_ = true;
    copy_command cmd;
    std::wstring why;
    if (!parse_copy(item.text, cmd, why)) {
      copy_not_started(why, where, item.line);
      return;
    }
    copy_ = start_load(cmd, where, item.line);
    copy_skip_ = copy_ == nullptr;
    if (copy_) copy_->in_script = true;
    return;
  }
  if (item.step == step::row) {
    if (!copy_) return;
    if (!load_line(*copy_, item.text, item.line)) {
      if (copy_->engine.stopped()) end_load(*copy_, result());
      copy_.reset();
    }
    return;
  }
  // The end of the block.
  if (copy_) {
    if (lines_taken(*copy_, copy_->reader.finish(copy_->take)) || copy_->engine.stopped()) end_load(*copy_, result());
    copy_.reset();
  }
  copy_skip_ = false;
}

namespace {

// The file's code page from an ENCODING option (UTF-8 when none is given).
bool file_code_page(const copy_format& f, text_file_code_page& cp) {
  if (f.encoding.empty()) {
    cp = text_file_code_page{65001, false};
    return true;
  }
  // PostgreSQL's names of the 8-bit encodings first, then the script code pages' names.
  std::wstring name = f.encoding;
  for (auto& c : name) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  static const struct {
    const wchar_t* name;
    int32_t id;
  } names[] = {{L"latin1", 28591}, {L"latin2", 28592}, {L"latin9", 28605}, {L"koi8r", 20866}, {L"koi8-r", 20866},
               {L"koi8u", 21866}, {L"koi8-u", 21866}, {L"sql_ascii", 65001}, {L"utf16", 1200}};
  for (const auto& n : names)
    if (name == n.name) {
      cp = text_file_code_page{n.id, false};
      return true;
    }
  if (name.compare(0, 3, L"win") == 0) name = name.substr(3);  // WIN1251
  else if (name.compare(0, 2, L"cp") == 0) name = name.substr(2);
  cp = parse_code_page(name);
  return cp.id != invalid_code_page && cp.id != auto_code_page;
}

// A field of a CSV file: quoted when it holds the delimiter, a quote or a line break, or is
// empty (an unquoted empty field is NULL).
void append_csv_field(std::wstring& out, const std::wstring& v, const copy_format& f) {
  const bool quote = v.empty() || v.find_first_of(std::wstring{f.delimiter, f.quote, L'\n', L'\r'}) != std::wstring::npos ||
                     v == f.null_text;
  if (!quote) {
    out += v;
    return;
  }
  out += f.quote;
  for (const wchar_t c : v) {
    if (c == f.quote) out += f.escape;
    out += c;
  }
  out += f.quote;
}

} // namespace

void TTermOdbcHndlr::copy_command_line(const std::wstring& rest, const std::wstring& where, size_t line) {
  statement_break();
  copy_command cmd;
  std::wstring why;
  if (!parse_copy(L"\\copy " + rest, cmd, why)) {
    copy_not_started(why, where, line);
    return;
  }
  if (!ctx_.connection.hdbc()) {
    copy_not_started(str(string_id::not_connected), where, line);
    return;
  }
  if (!cmd.from) {
    if (cmd.file == L"stdout" || cmd.file == L"pstdout") {
      copy_not_started(L"\\copy TO stdout: use a file", where, line);
      return;
    }
    copy_to_file(cmd, where, line);
    return;
  }
  if (!cmd.connection.empty()) {
    copy_from_connection(cmd.table, cmd.columns, cmd.connection, cmd.source_query, where, line);
    return;
  }
  if (cmd.file == L"stdin" || cmd.file == L"pstdin") {
    copy_not_started(L"\\copy FROM stdin: use a file", where, line);
    return;
  }
  text_file_code_page cp;
  if (!file_code_page(cmd.format, cp)) {
    copy_not_started(L"ENCODING " + cmd.format.encoding, where, line);
    return;
  }
  if (!file_exists(cmd.file)) {
    const result missing = failure(os::err_file_not_found);
    copy_not_started(cmd.file + L": " + missing.format(L"%d"), where, line);
    return;
  }
  std::unique_ptr<copy_load> load = start_load(cmd, cmd.file, line);
  if (!load) return;
  copy_load& l = *load;
  line_splitter lines;
  bool go = true;
  const auto each = [&](std::wstring_view text, size_t number) { return load_line(l, text, number); };
  try {
    // Bytes that are not UTF-8 stay as they are: kept for a binary column, refused for text.
    textfile file(cmd.file, cp);
    file.keep_invalid_bytes(true);
    file.read_pieces([&](std::wstring_view piece) {
      if (go) go = lines.add(piece, each);
    });
  } catch (const windows_error& e) {
    end_load(l, failure(static_cast<uint32_t>(e.code()), e.what()));
    return;
  }
  if (go) go = lines.finish(each);
  if (go) go = lines_taken(l, l.reader.finish(l.take));
  if (!go && !l.engine.stopped()) return;  // ended by a failure of the engine or the header, told already
  end_load(l, result());
}

void TTermOdbcHndlr::copy_to_file(const copy_command& cmd, const std::wstring& where, size_t line) {
  text_file_code_page cp;
  if (!file_code_page(cmd.format, cp)) {
    copy_not_started(L"ENCODING " + cmd.format.encoding, where, line);
    return;
  }
  std::wstring columns;
  for (const auto& c : cmd.columns) columns += (columns.empty() ? L"" : L", ") + c;
  const std::wstring text =
      cmd.query.empty() ? L"SELECT " + (columns.empty() ? std::wstring(L"*") : columns) + L" FROM " + cmd.table : cmd.query;
  // The file is made first: a file that cannot be written stops the copy before the query runs.
  // The rows go to a new file beside the target, put in its place after the last row, so a
  // failure or a signal leaves the old file as it was.
  sys::replacing_file target(cmd.file);
  const uint32_t made = target.create();
  textfile out(target.path(), cp);
  out.keep_invalid_bytes(true);
  result r = made ? failure(made) : out.save(std::wstring());
  if (!r.succeeded()) {
    copy_not_started(cmd.file + L": " + r.format(L"%d"), where, line);
    return;
  }
  odbc::query q(&ctx_.connection, text);
  r = q.execute(text, false, false);
  if (!r.succeeded()) {
    std::wstring t = r.text();
    trim(t, L"", L"\r\n");
    copy_not_started(t, where, line);
    return;
  }
  std::vector<char> exact;
  r = exact_sqlite_doubles(q, text, exact);
  if (!r.succeeded()) {
    std::wstring t = r.text();
    trim(t, L"", L"\r\n");
    copy_not_started(t, where, line);
    return;
  }
  result_source rows(q.rows(), q.conn()->profile().narrow_copy_text());
  rows.exact_text = std::move(exact);
  odbc::bulk_row row;
  std::wstring chunk;
  uint64_t count = 0;
  auto flush = [&]() {
    if (chunk.empty()) return;
    const result written = out.append(chunk);
    if (!written.succeeded()) r.merge(failure(written.code(), cmd.file + L": " + written.format(L"%d")));
    chunk.clear();
  };
  const copy_format& f = cmd.format;
  if (f.header) {
    for (size_t i = 0; i < q.rows().count(); ++i) {
      if (i) chunk += f.delimiter;
      if (f.csv) append_csv_field(chunk, q.rows().at(i).name(), f);
      else append_text_field(chunk, q.rows().at(i).name(), false, f);
    }
    chunk += L'\n';
  }
  result end;
  while (r.succeeded() && rows.next(row, end)) {
    for (size_t i = 0; i < row.values.size(); ++i) {
      if (i) chunk += f.delimiter;
      if (row.nulls[i]) chunk += f.null_text;
      else if (f.csv) append_csv_field(chunk, row.values[i], f);
      else append_text_field(chunk, row.values[i], false, f);
    }
    chunk += L'\n';
    ++count;
    if (chunk.size() >= (1u << 19)) flush();
  }
  r.merge(end);
  flush();
  if (r.succeeded())
    if (const uint32_t code = target.commit()) r = failure(code, cmd.file + L": " + failure(code).format(L"%d"));
  if (!r.succeeded()) {
    std::wstring t = r.text().empty() ? cmd.file + L": " + r.format(L"%d") : r.text();
    if (!t.empty() && t.back() != L'\n') t += L'\n';
    report_failure(t);
    const result failed = failure(r.code() ? r.code() : os::err_invalid_function, t);
    note(failed);
    if (ctx_.load_failure.succeeded()) ctx_.load_failure = failed;
    return;
  }
  ctx_.routes.info_line(message(string_id::rows_written, std::to_wstring(count).c_str()));
  console().flush();
}

void TTermOdbcHndlr::copy_from_connection(const std::wstring& table, const std::vector<std::wstring>& columns,
                                          const std::wstring& source, const std::wstring& query_text,
                                          const std::wstring& where, size_t line) {
  odbc::connection from;
  result r = from.connect(nullptr, source);
  // The PostgreSQL and SQLite drivers hold a whole result unless told to read it row by row:
  // asked for that, so that memory does not grow with the rows.
  const std::wstring streamed = r.succeeded() ? from.profile().streaming_connection(source) : source;
  if (streamed != source) {
    (void)from.disconnect();
    r = from.connect(nullptr, streamed);
  }
  if (!r.succeeded()) {
    std::wstring t = odbc::mask_secrets(r.text(), source);
    trim(t, L"", L"\r\n");
    copy_not_started(t, where, line);
    return;
  }
  odbc::query q(&from, query_text);
  r = q.execute(query_text, false, false);
  if (!r.succeeded()) {
    std::wstring t = r.text();
    trim(t, L"", L"\r\n");
    copy_not_started(t, where, line);
    return;
  }
  copy_command cmd;
  cmd.table = table;
  cmd.columns = columns;
  std::unique_ptr<copy_load> load = start_load(cmd, where, line);
  if (!load) return;
  load->where = L"query";  // a refused row is named by its number in the query's result
  result_source rows(q.rows(), q.conn()->profile().narrow_copy_text());
  rows.bad = [&](size_t n, const std::wstring& why) { load->engine.reject(n, why); };
  r = load->engine.columns() == q.rows().count()
          ? result()
          : failure(os::err_invalid_data, message(string_id::copy_value_count, static_cast<unsigned>(load->engine.columns()),
                                                  static_cast<unsigned>(q.rows().count())));
  if (r.succeeded()) {
    odbc::bulk_row row;
    result end;
    while (r.succeeded() && !load->engine.stopped() && rows.next(row, end)) r = load->engine.add(row);
    if (r.succeeded()) r = end;
  }
  end_load(*load, r);
}

bool TTermOdbcHndlr::run_copy_job() {
  std::wstring query_text;
  for (const auto& s : ctx_.options.scripts) query_text += s.text;
  copy_from_connection(ctx_.options.copy_into, {}, ctx_.options.copy_from, query_text, L"", 0);
  return ctx_.load_failure.succeeded() && ctx_.first_failure.succeeded();
}

} // namespace vela::terminal
