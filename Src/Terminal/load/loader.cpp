// Loading rows: COPY blocks of scripts, \copy from and to files, rows of another connection.
#include <charconv>
#include <cwctype>
#include <memory>
#include <tuple>

#include "Terminal/load/loader.h"

#include "Terminal/load/copy_data.h"
#include "Terminal/load/data_file.h"
#include "Terminal/load/json_lines.h"
#include "Terminal/load/new_table.h"
#include "Terminal/load/reject_file.h"
#include "Terminal/input/prompt.h"
#include "Terminal/load/stdin_spool.h"
#include "Terminal/session/context.h"
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
  // encoded: values in the form they are read in (bulk_row::form), for a load that converts
  // each once; otherwise as program text, for a file.
  result_source(odbc::resultset& rows, bool narrow, bool encoded = false)
      : rows_(rows), buffers_(rows.count()), numbers_(rows.count()), narrow_(narrow), encoded_(encoded) {
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
  bool stop_at_interrupt = false;  // Ctrl-C ends the rows (of a load)
  bool next(odbc::bulk_row& row, result& end) override {
    if (stop_at_interrupt && interrupted()) {
      end = failure(os::err_invalid_data, str(string_id::copy_interrupted));
      return false;
    }
    if (!rows_.fetch_row(end)) {
      if (end.code() == (odbc::no_data_error() & 0x3FFFFFFF)) end = result();  // the last row was read
      return false;
    }
    const size_t n = rows_.count();
    row.reset(n);
    row.line = ++number_;
    for (size_t i = 0; i < n; ++i) {
      odbc::column& c = rows_.at(i);
      if (encoded_) {
        const result r = encoded_value(c, i, row);
        if (r.succeeded()) continue;
        end = r;
        return false;
      }
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
  result encoded_value(odbc::column& c, size_t i, odbc::bulk_row& row);
  void bound_units(odbc::column& c, size_t i, odbc::bulk_row& row) const;

  odbc::resultset& rows_;
  std::vector<std::vector<char16_t>> buffers_;
  std::vector<double> numbers_;
  bool narrow_;
  bool encoded_;
  std::string utf8_;
  size_t number_ = 0;
  std::vector<unsigned char> bytes_;
  std::vector<char16_t> piece_ = std::vector<char16_t>(32768);
  std::u16string units_;
};

// UTF-16 without a lone surrogate.
bool well_formed(std::u16string_view u) {
  for (size_t i = 0; i < u.size(); ++i) {
    if (u[i] < 0xD800 || u[i] > 0xDFFF) continue;
    if (u[i] > 0xDBFF || i + 1 == u.size() || u[i + 1] < 0xDC00 || u[i + 1] > 0xDFFF) return false;
    ++i;
  }
  return true;
}

// Value i of the current row as read: bound values from their buffers, the others whole.
result result_source::encoded_value(odbc::column& c, size_t i, odbc::bulk_row& row) {
  using form = odbc::bulk_row::form;
  if (!buffers_[i].empty()) {
    if (c.is_null()) {
      row.nulls[i] = 1;
    } else if (c.c_type() == odbc::bind_type::float64) {
      char text[odbc::float_text_size];
      row.encode(i, form::utf8).assign(text, odbc::float_text(numbers_[i], c.sql_type(), text));
    } else {
      bound_units(c, i, row);
    }
    return result();
  }
  bool is_null = false;
  result r;
  if (c.kind() == odbc::type_class::binary) {
    std::string& b = row.encode(i, form::bytes);
    r = c.read_bytes(bytes_, [&b](const unsigned char* p, size_t k) { b.append(reinterpret_cast<const char*>(p), k); }, &is_null);
  } else if (narrow_) {
    std::string& t = row.encode(i, form::utf8);
    r = c.read_utf8(bytes_, [&t](const unsigned char* p, size_t k) { t.append(reinterpret_cast<const char*>(p), k); }, &is_null);
  } else {
    std::u16string& u = row.encode_utf16(i);
    r = c.read_text(piece_, [&u](const char16_t* p, size_t k) { u.append(p, k); }, &is_null);
    if (!well_formed(u)) {
      row.values[i] = utf16_to_wide(u);  // a lone surrogate becomes U+FFFD
      row.forms[i] = form::wide;
    }
  }
  row.nulls[i] = is_null ? 1 : 0;
  return r;
}

// A value bound as wide text: its units as they are (up to a NUL), unless it holds a surrogate.
void result_source::bound_units(odbc::column& c, size_t i, odbc::bulk_row& row) const {
  const std::vector<char16_t>& b = buffers_[i];
  size_t units = b.size();
  if (c.indicator() >= 0 && static_cast<size_t>(c.indicator() / 2) < units) units = static_cast<size_t>(c.indicator() / 2);
  size_t n = 0;
  bool pairs = false;
  for (; n < units && b[n]; ++n) pairs = pairs || (b[n] >= 0xD800 && b[n] <= 0xDFFF);
  if (pairs) c.text(row.values[i]);
  else row.encode_utf16(i).assign(b.data(), n);
}

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

// REJECTS: the file made, empty, in the source's code page.
result open_rejects(const copy_format& f, std::shared_ptr<reject_file>& out) {
  text_file_code_page cp;
  if (!file_code_page(f, cp)) return failure(os::err_invalid_parameter, L"ENCODING " + f.encoding);
  auto file = std::make_shared<reject_file>(f.rejects, cp, f.header, f.skip_through);
  const result r = file->create();
  if (r.succeeded()) out = std::move(file);
  return r;
}

} // namespace

std::unique_ptr<odbc::bulk_source> result_rows(odbc::resultset& rows, bool narrow) {
  return std::make_unique<result_source>(rows, narrow, true);
}

loader::loader(terminal_context& ctx, load_host& host) : ctx_(ctx), host_(host) {}

// "-jobs" over a list of hosts: job k connects from the host k after the session's on, so that each lands on a host of its
// own where there are enough; a job that reaches none is left out. With fewer than two, the
// load runs on the session's connection as ever.
void loader::spread_load(copy_load& l) {
  const odbc::host_plan& hosts = ctx_.hosts;
  // A table the load makes, or a transaction it joins, stays on the session's connection.
  if (ctx_.options.copy_jobs < 2 || !hosts.listed || hosts.hosts.size() < 2 || l.made || l.engine.join_transaction ||
      !ctx_.connection.hdbc())
    return;
  std::vector<odbc::connection*> targets;
  std::wstring named;
  for (size_t k = 0; k < ctx_.options.copy_jobs && !interrupted(); ++k) {
    auto c = std::make_unique<odbc::connection>();
    odbc::host_plan plan = hosts;
    const result r = odbc::connect_hosts(*c, plan, (hosts.current + k) % hosts.hosts.size(), ctx_.options.target, nullptr,
                                         [](const odbc::host_attempt&) { return !interrupted(); });
    if (!r.succeeded()) continue;
    named += (named.empty() ? L"" : L", ") + odbc::host_text(plan, plan.hosts[plan.current]);
    targets.push_back(c.get());
    l.jobs.push_back(std::move(c));
  }
  if (targets.size() < 2) {
    l.jobs.clear();
    return;
  }
  l.engine.spread(targets);
  ctx_.routes.info_line(message(string_id::load_jobs, static_cast<unsigned>(targets.size()), named.c_str()));
  l.engine.on_lane_lost = [this](size_t job, const result& why) {
    std::wstring text = why.text();
    trim(text, L"", L"\r\n");
    ctx_.routes.info_line(message(string_id::load_job_lost, static_cast<unsigned>(job + 1), text.c_str()));
  };
}

loader::~loader() = default;

// JSON lines: each key goes to the column of its name.
bool loader::read_json_keys(copy_load& l, const copy_command& cmd, const std::wstring& where, size_t line) {
  std::unique_ptr<json_row_reader> json;
  const result named = json_row_reader::of_table(ctx_.connection, cmd.table, cmd.columns, l.made ? &l.made->names : nullptr, json);
  if (!named.succeeded()) {
    copy_not_started(named, where, line);
    return false;
  }
  l.json = std::move(json);
  l.reader.read_json(l.json.get());
  return true;
}

std::unique_ptr<copy_load> loader::start_load(const copy_command& cmd, const std::wstring& where, size_t line, file_table* made,
                                              std::shared_ptr<reject_file> rejects) {
  auto load = std::make_unique<copy_load>(ctx_.connection, ctx_.options.batch_rows, cmd.format);
  std::tie(load->where, load->made) = std::tie(where, made);
  if (cmd.format.jsonl && !read_json_keys(*load, cmd, where, line)) return nullptr;
  odbc::bulk_insert& e = load->engine;
  // "-oe" stops at the first refused row, unless MAX_ERRORS says how many.
  e.stop_on_failure = ctx_.options.on_error && cmd.format.max_errors == 0;
  e.max_failures = cmd.format.max_errors;
  e.join_transaction = host_.transaction_open();  // BEGIN; \copy …; ROLLBACK loads nothing
  e.retries = ctx_.options.load_retries();  // a batch that met a conflict runs again
  copy_load* l = load.get();
  e.on_failure = [this, l](size_t row_line, const std::wstring& why) {
    if (l->made && row_line < l->made->told_before) return;  // told in the load before the table was made again
    l->last_refused = row_line;
    if (l->rejects) l->rejects->refused(row_line);
    std::wstring text = why;
    trim(text, L"", L"\r\n");
    const std::wstring m = message(string_id::row_not_loaded, l->where.c_str(), static_cast<unsigned>(row_line), text.c_str());
    if (ctx_.options.on_error) {
      // A row of the script itself is placed by its own line.
      if (l->in_script) ctx_.place = host_.failure_place(l->where, row_line);
      (void)ctx_.fail(m);
    } else {
      ctx_.report_failure(m);
    }
  };
  e.on_batch = [this, l]() {
    // The batch's rows are loaded or refused; those of the batch after it may not be yet.
    if (l->rejects) l->rejects->settled(std::min(l->adding, l->engine.first_unsettled_line()));
    show_progress(*l, false);
  };
  spread_load(*load);
  const result r = ctx_.connection.hdbc() ? e.prepare(cmd.table, cmd.columns) : failure(os::err_invalid_function, str(string_id::not_connected));
  if (!r.succeeded()) {
    std::wstring text = r.text();
    trim(text, L"", L"\r\n");
    copy_not_started(text, where, line);
    return nullptr;
  }
  load->rejects = std::move(rejects);
  if (!load->rejects && !cmd.format.rejects.empty())
    if (const result opened = open_rejects(cmd.format, load->rejects); !opened.succeeded()) {
      copy_not_started(opened, where, line);
      return nullptr;
    }
  load->reader.expect(e.columns());
  load->take = [this, l](record_reader::outcome o, const odbc::bulk_row& row, const std::wstring& why) {
    odbc::bulk_insert& engine = l->engine;
    if (interrupted()) {
      l->interrupted = true;
      return false;
    }
    if (l->rejects && o != record_reader::outcome::bad_header) {
      l->adding = row.line;
      l->rejects->record(row.line, l->reader.given_lines());
    }
    if (o == record_reader::outcome::bad_header) {
      l->bad_header = why;
      l->header_line = row.line;
      return false;
    }
    if (o == record_reader::outcome::bad) {
      engine.reject(row.line, why);
    } else if (l->made) {
      // A value that does not fit its column's type widens the column first.
      std::vector<std::pair<std::wstring, std::wstring>> widened;
      const odbc::bulk_row* fitted = l->made->fit(row, engine, ctx_.connection, l->failure, widened);
      for (const auto& [column, type] : widened)
        ctx_.routes.info_line(message(string_id::column_widened, column.c_str(), l->made->table.c_str(), type.c_str(),
                                      static_cast<unsigned>(row.line)));
      if (!fitted) return false;
      l->failure = engine.add(*fitted);
    } else {
      l->failure = engine.add(row);
    }
    return l->failure.succeeded() && !engine.stopped() && !engine.connection_lost();
  };
  return load;
}

void loader::copy_not_started(const result& r, const std::wstring& where, size_t line) {
  std::wstring text = r.text();
  trim(text, L"", L"\r\n");
  copy_not_started(text, where, line);
}

void loader::copy_not_started(const std::wstring& why, const std::wstring& where, size_t line) {
  const std::wstring text = where.empty() ? message(string_id::copy_not_started_here, why.c_str())
                                           : message(string_id::copy_not_started, why.c_str(), where.c_str(), static_cast<unsigned>(line));
  ctx_.report_failure(text);
  console().flush();
  const result r = failure(os::err_invalid_data, text);
  if (ctx_.load_failure.succeeded()) ctx_.load_failure = r;
  ctx_.note(r);
}

void loader::show_progress(copy_load& l, bool last) {
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

void loader::end_load(copy_load& l, const result& r) {
  result f = l.engine.finish();
  if (!r.succeeded()) f = r;
  report_end(l, f);
}

void loader::report_end(copy_load& l, const result& ended) {
  show_progress(l, true);
  // MAX_ERRORS stopped the load: it did not load the whole source.
  const bool capped = l.engine.stopped() && l.engine.max_failures;
  result f = ended.succeeded() && capped
                 ? failure(os::err_invalid_data, message(string_id::max_errors_reached, std::to_wstring(l.engine.max_failures).c_str(),
                                                         static_cast<unsigned>(l.last_refused)))
                 : ended;
  // Spread over jobs, every row read is loaded or refused by one of them.
  const uint64_t settled = l.engine.loaded() + l.engine.failed();
  if (f.succeeded() && !l.jobs.empty() && l.engine.taken() != settled)
    f = failure(os::err_invalid_data, message(string_id::load_counts_differ, std::to_wstring(l.engine.taken()).c_str(),
                                              std::to_wstring(settled).c_str()));
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
    // Committed rows stay: name where they end and how to go on without loading them twice.
    if (capped && !l.file.empty()) {
      // Every row before the last refused one is loaded or refused.
      const unsigned after = static_cast<unsigned>(l.last_refused);
      text += message(string_id::copy_resume_after, after, l.file.c_str(), after);
    } else if (!l.file.empty() && e.last_committed().number != 0) {
      const unsigned through = static_cast<unsigned>(e.last_committed().last);
      text += l.process_stdin ? message(string_id::copy_resume_stdin, through, through)
                              : message(string_id::copy_resume, through, l.file.c_str(), through);
    }
    ctx_.report_failure(text);
    ctx_.note(f);
    if (ctx_.load_failure.succeeded()) ctx_.load_failure = f;
  }
  const std::wstring loaded = std::to_wstring(l.engine.loaded()), failed = std::to_wstring(l.engine.failed());
  const uint64_t skipped = l.reader.skipped();
  ctx_.routes.info_line(skipped ? message(string_id::rows_loaded_skipped, loaded.c_str(), failed.c_str(), std::to_wstring(skipped).c_str())
                            : message(string_id::rows_loaded, loaded.c_str(), failed.c_str()));
  if (const uint64_t retried = l.engine.retried())
    ctx_.routes.info_line(message(string_id::batch_retries, std::to_wstring(retried).c_str()));
  if (l.rejects) close_rejects(l);
  console().flush();
}

void loader::close_rejects(copy_load& l) {
  const result r = l.rejects->close();
  ctx_.routes.info_line(message(string_id::rejects_written, l.rejects->path().c_str(), std::to_wstring(l.rejects->written()).c_str()));
  if (r.succeeded()) return;
  ctx_.report_failure(r.text() + L"\n");
  ctx_.note(r);
  if (ctx_.load_failure.succeeded()) ctx_.load_failure = r;
}

// A line of data: its records go to the engine (the header is skipped).
bool loader::load_line(copy_load& l, std::wstring_view line, size_t number) {
  if (!l.rejects) return lines_taken(l, l.reader.add_line(line, number, l.take));
  reject_file& f = *l.rejects;
  f.line(line, number);
  const bool go = l.reader.add_line(line, number, l.take);
  if (f.wants_header() && !l.reader.header().empty()) f.header(l.reader.given_lines());
  return lines_taken(l, go);
}

// After the reader stopped (go false): a failure of the engine or a malformed header ends
// the load here; a row that stopped the load is left to the caller, as is the end of data.
bool loader::lines_taken(copy_load& l, bool go) {
  if (go) return true;
  if (!l.bad_header.empty()) {
    (void)l.engine.finish();  // no row was sent
    copy_not_started(message(string_id::copy_bad_header, l.bad_header.c_str()), l.where, l.header_line);
    return false;
  }
  if (l.interrupted) {
    end_load(l, failure(os::err_invalid_data, str(string_id::copy_interrupted)));
    return false;
  }
  if (!l.failure.succeeded() || l.engine.connection_lost()) {
    end_load(l, l.failure);
    return false;
  }
  return !l.engine.stopped() && !(l.made && l.made->restart_line);
}

void loader::copy_begin(const std::wstring& statement, const std::wstring& where, size_t line) {
  ctx_.routes.statement_break();
  copy_.reset();
  copy_command cmd;
  std::wstring why;
  if (!parse_copy(statement, cmd, why)) {
    copy_not_started(why, where, line);
    return;
  }
  copy_ = start_load(cmd, where, line);
  if (copy_) copy_->in_script = true;
}

void loader::copy_row(std::wstring_view text, size_t line) {
  if (!copy_) return;
  if (!load_line(*copy_, text, line)) {
    if (copy_->engine.stopped()) end_load(*copy_, result());
    copy_.reset();
  }
}

void loader::copy_end() {
  if (copy_) {
    if (lines_taken(*copy_, copy_->reader.finish(copy_->take)) || copy_->engine.stopped()) end_load(*copy_, result());
    copy_.reset();
  }
}

namespace {

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

// The header (when asked for) and the rows of a result, written to out in the copy's format;
// count: the rows written.
result write_rows(result_source& rows, odbc::resultset& columns, textfile& out, const copy_command& cmd, uint64_t& count) {
  result r;
  count = 0;
  odbc::bulk_row row;
  std::wstring chunk;
  auto flush = [&]() {
    if (chunk.empty()) return;
    const result written = append_data(out, chunk);
    if (!written.succeeded()) r.merge(failure(written.code(), cmd.file + L": " + written.format(L"%d")));
    chunk.clear();
  };
  const copy_format& f = cmd.format;
  std::unique_ptr<json_line_writer> json;
  if (f.jsonl) json = std::make_unique<json_line_writer>(columns);
  if (f.header && !json) {
    for (size_t i = 0; i < columns.count(); ++i) {
      if (i) chunk += f.delimiter;
      if (f.csv) append_csv_field(chunk, columns.at(i).name(), f);
      else append_text_field(chunk, columns.at(i).name(), false, f);
    }
    chunk += L'\n';
  }
  result end;
  while (r.succeeded() && rows.next(row, end)) {
    if (json) json->append(chunk, row);
    for (size_t i = 0; i < row.values.size() && !json; ++i) {
      if (i) chunk += f.delimiter;
      if (row.nulls[i]) chunk += f.null_text;
      else if (f.csv) append_csv_field(chunk, row.values[i], f);
      else append_text_field(chunk, row.values[i], false, f);
    }
    if (!json) chunk += L'\n';
    ++count;
    if (chunk.size() >= (1u << 19)) flush();
  }
  r.merge(end);
  flush();
  return r;
}

} // namespace

void loader::copy_command_line(const std::wstring& rest, const std::wstring& where, size_t line) {
  ctx_.routes.statement_break();
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
    copy_from_connection(cmd, cmd.connection, cmd.source_query, where, line);
    return;
  }
  if (cmd.process_stdin) {
    copy_from_stdin(cmd, where, line);
    return;
  }
  if (cmd.file == L"stdin" || cmd.file == L"pstdin") {
    copy_not_started(L"\\copy FROM stdin: use a file", where, line);
    return;
  }
  copy_from_file(cmd, where, line);
}

void loader::copy_from_stdin(const copy_command& cmd, const std::wstring& where, size_t line) {
  // UTF-8 read once goes as it comes; a table made from its values, or another code page, is
  // read from a file that keeps it.
  if (cmd.format.create == copy_format::creation::none && cmd.format.encoding.empty()) {
    copy_from_file(cmd, where, line, cmd.file, true);
    return;
  }
  spooled_stdin spool;
  if (const result r = spool.fill(); !r.succeeded()) {
    copy_not_started(message(string_id::copy_stdin_unread, r.format(L"%d").c_str()), where, line);
    return;
  }
  copy_command from = cmd;
  from.file = spool.path();
  copy_from_file(from, where, line, cmd.file);
}

void loader::copy_from_file(const copy_command& cmd, const std::wstring& where, size_t line, const std::wstring& shown,
                            bool streamed) {
  text_file_code_page cp;
  if (!file_code_page(cmd.format, cp)) {
    copy_not_started(L"ENCODING " + cmd.format.encoding, where, line);
    return;
  }
  if (!streamed && !file_exists(cmd.file)) {
    const result missing = failure(os::err_file_not_found);
    copy_not_started(cmd.file + L": " + missing.format(L"%d"), where, line);
    return;
  }
  std::unique_ptr<file_table> made;
  if (cmd.format.create != copy_format::creation::none && !make_file_table(cmd, cp, where, line, made)) return;
  std::shared_ptr<reject_file> rejects;  // one file for the load, also when it starts again
  for (;;) {
    const std::wstring& name = shown.empty() ? cmd.file : shown;
    std::unique_ptr<copy_load> load = start_load(cmd, name, line, made.get(), rejects);
    if (!load) return;
    copy_load& l = *load;
    rejects = l.rejects;
    l.made = made.get();
    l.process_stdin = cmd.process_stdin;
    if (!host_.transaction_open()) l.file = name;  // in a transaction nothing stays of a failed load
    bool go = true;
    const data_line_sink sink = [&](std::wstring_view text, size_t number) { return load_line(l, text, number); };
    const result r = streamed ? read_stdin_lines(sink, go) : read_data_lines(cmd.file, cp, sink, go);
    if (!r.succeeded()) {
      end_load(l, r);
      return;
    }
    if (go) go = lines_taken(l, l.reader.finish(l.take));
    if (made && made->restart_line) {
      // A value needs a type that ALTER cannot give: the table is made again, once, with the
      // types of the whole file, and the load starts again.
      (void)l.engine.finish();
      if (!remake_file_table(cmd, cp, *made, where, line)) {
        if (rejects) (void)rejects->close();
        return;
      }
      if (rejects) rejects->restart();
      continue;
    }
    if (!go && !l.engine.stopped()) return;  // ended by a failure of the engine or the header, told already
    end_load(l, result());
    return;
  }
}

bool loader::make_file_table(const copy_command& cmd, text_file_code_page cp, const std::wstring& where, size_t line,
                             std::unique_ptr<file_table>& made) {
  if (!cmd.columns.empty()) {
    copy_not_started(str(string_id::copy_create_columns), where, line);
    return false;
  }
  auto t = std::make_unique<file_table>();
  t->table = cmd.table;
  result r = t->guess(cmd.file, cp, cmd.format, cmd.format.sample);
  bool fresh = false;
  if (r.succeeded()) r = make_table(ctx_.connection, cmd.table, t->shapes(), cmd.format.create, host_.transaction_open(), fresh);
  if (!r.succeeded()) {
    copy_not_started(r, where, line);
    return false;
  }
  if (fresh) {
    ctx_.routes.info_line(message(string_id::table_created, cmd.table.c_str()));
    made = std::move(t);
  }
  return true;
}

bool loader::remake_file_table(const copy_command& cmd, text_file_code_page cp, file_table& t, const std::wstring& where,
                               size_t line) {
  ctx_.routes.info_line(message(string_id::table_made_again, static_cast<unsigned>(t.restart_line), t.table.c_str()));
  file_table all;
  if (cmd.format.jsonl) all.names = t.names;  // the keys of the table as made
  result r = all.guess(cmd.file, cp, cmd.format, SIZE_MAX);
  if (r.succeeded() && all.guesses.size() != t.guesses.size()) r = failure(os::err_invalid_data, L"the file changed");
  if (r.succeeded()) {
    for (size_t i = 0; i < all.guesses.size(); ++i) all.guesses[i].join(t.guesses[i]);
    t.guesses = all.guesses;
    bool fresh = false;
    r = make_table(ctx_.connection, t.table, t.shapes(), copy_format::creation::replace, host_.transaction_open(), fresh);
  }
  if (!r.succeeded()) {
    copy_not_started(r, where, line);
    return false;
  }
  t.has_boolean = false;
  for (const auto& g : t.guesses) t.has_boolean = t.has_boolean || g.kind == guessed_kind::boolean;
  t.told_before = t.restart_line;
  t.restart_line = 0;
  t.restarted = true;
  return true;
}

bool loader::make_result_table(const copy_command& cmd, odbc::query& q, const std::wstring& where, size_t line) {
  if (!cmd.columns.empty()) {
    copy_not_started(str(string_id::copy_create_columns), where, line);
    return false;
  }
  std::vector<odbc::column_shape> shapes;
  result r = odbc::describe_result_columns(q.hstmt(), shapes);
  for (auto& c : shapes) q.conn()->profile().source_column(c);
  bool fresh = false;
  if (r.succeeded()) r = make_table(ctx_.connection, cmd.table, shapes, cmd.format.create, host_.transaction_open(), fresh);
  if (!r.succeeded()) {
    copy_not_started(r, where, line);
    return false;
  }
  if (fresh) ctx_.routes.info_line(message(string_id::table_created, cmd.table.c_str()));
  return true;
}

void loader::copy_to_file(const copy_command& cmd, const std::wstring& where, size_t line) {
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
  uint64_t count = 0;
  r = write_rows(rows, q.rows(), out, cmd, count);
  if (r.succeeded())
    if (const uint32_t code = target.commit()) r = failure(code, cmd.file + L": " + failure(code).format(L"%d"));
  if (!r.succeeded()) {
    std::wstring t = r.text().empty() ? cmd.file + L": " + r.format(L"%d") : r.text();
    if (!t.empty() && t.back() != L'\n') t += L'\n';
    ctx_.report_failure(t);
    const result failed = failure(r.code() ? r.code() : os::err_invalid_function, t);
    ctx_.note(failed);
    if (ctx_.load_failure.succeeded()) ctx_.load_failure = failed;
    return;
  }
  ctx_.routes.info_line(message(string_id::rows_written, std::to_wstring(count).c_str()));
  console().flush();
}

void loader::copy_from_connection(const copy_command& target, const std::wstring& source, const std::wstring& query_text,
                                  const std::wstring& where, size_t line) {
  if (!target.format.rejects.empty()) {
    copy_not_started(str(string_id::rejects_need_file), where, line);
    return;
  }
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
  if (!r.succeeded() && streamed != source && r.state() == L"0A000") {
    // A cursor cannot take every query (PostgreSQL: a WITH holding a data-modifying
    // statement): such a query runs again, over a connection that holds its result.
    (void)q.Free();
    (void)from.disconnect();
    r = from.connect(nullptr, source);
    if (r.succeeded()) r = q.execute(query_text, false, false);
  }
  if (!r.succeeded()) {
    std::wstring t = r.text();
    trim(t, L"", L"\r\n");
    copy_not_started(t, where, line);
    return;
  }
  if (target.format.create != copy_format::creation::none && !make_result_table(target, q, where, line)) return;
  copy_command cmd;
  cmd.table = target.table;
  cmd.columns = target.columns;
  cmd.format.max_errors = target.format.max_errors;
  std::unique_ptr<copy_load> load = start_load(cmd, where, line);
  if (!load) return;
  load->where = L"query";  // a refused row is named by its number in the query's result
  if (load->engine.columns() != q.rows().count()) {
    end_load(*load, failure(os::err_invalid_data, message(string_id::copy_value_count, static_cast<unsigned>(load->engine.columns()),
                                                          static_cast<unsigned>(q.rows().count()))));
    return;
  }
  result_source rows(q.rows(), q.conn()->profile().narrow_copy_text(), true);
  rows.stop_at_interrupt = true;
  report_end(*load, load->engine.load(rows));
}

bool loader::run_copy_job() {
  std::wstring query_text;
  for (const auto& s : ctx_.options.scripts) query_text += s.text;
  copy_command cmd;
  cmd.table = ctx_.options.copy_into;
  using how = terminal_options::table_creation;
  if (ctx_.options.copy_create)
    cmd.format.create = ctx_.options.copy_creation == how::replace         ? copy_format::creation::replace
                        : ctx_.options.copy_creation == how::if_not_exists ? copy_format::creation::if_not_exists
                                                                           : copy_format::creation::create;
  copy_from_connection(cmd, ctx_.options.copy_from, query_text, L"", 0);
  return ctx_.load_failure.succeeded() && ctx_.first_failure.succeeded();
}

} // namespace vela::terminal
