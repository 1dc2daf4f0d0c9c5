// One statement executed and printed: echo, rows, summary line and execution time.
#include <vector>

#include "Terminal/handler.h"
#include "Terminal/prompt.h"
#include "Terminal/strings.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/odbc/environment.h"
#include "vela/utf.h"
#include "vela/system.h"

namespace vela::terminal {

namespace {

std::wstring str(uint32_t id) { return load_string(nullptr, id); }

bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The first max_units UTF-16 units of a text, without half a pair; units tells how many.
std::wstring first_units(const std::u16string& text, size_t max_units, size_t& units) {
  units = text.size() < max_units ? text.size() : max_units;
  if (units < text.size() && units > 0 && is_high_surrogate(text[units - 1])) --units;
  return utf16_to_wide(text.data(), units);
}

// How the printer sees one column.
enum class column_kind { bound, long_text, long_binary, left_out };

struct printed_column {
  column_kind kind;
  bool right;
  size_t width;        // padded places: W, the "-lc" width, or 0 for a left-out column
  size_t name_length;  // in UTF-16 units, as widths are counted
  std::u16string name;
  std::vector<char16_t> buffer;
};

void pad(std::wstring& line, size_t n) { line.append(n, L' '); }

bool needs_quotes(const char16_t* v, size_t n, char16_t delimiter) {
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = v[i];
    // '"', CR and LF are all below '#': most characters take two comparisons.
    if (c == delimiter || (c < u'#' && (c == u'"' || c == u'\r' || c == u'\n'))) return true;
  }
  return false;
}

// The inside of a quoted CSV field: every double quote doubled.
void write_quoted_body(console_writer& out, const char16_t* v, size_t n) {
  size_t from = 0;
  for (size_t i = 0; i < n; ++i) {
    if (v[i] != u'"') continue;
    out.write_utf16(v + from, i + 1 - from);
    out.write(L'"');
    from = i + 1;
  }
  out.write_utf16(v + from, n - from);
}

void write_csv_field(console_writer& out, const char16_t* v, size_t n, char16_t delimiter) {
  if (!needs_quotes(v, n, delimiter)) {
    out.write_utf16(v, n);
    return;
  }
  out.write(L'"');
  write_quoted_body(out, v, n);
  out.write(L'"');
}

// One delimited or CSV field whose value arrives in pieces. A CSV value that fits one piece
// is quoted only when it needs it; a longer one is always quoted, as it is never held whole.
class field_stream {
 public:
  field_stream(console_writer& out, bool csv, char16_t delimiter) : out_(out), csv_(csv), delimiter_(delimiter) {}
  void begin() {
    pieces_ = 0;
    quoting_ = false;
  }
  void piece(const char16_t* t, size_t n) {
    if (!csv_) {
      out_.write_utf16(t, n);
      return;
    }
    if (pieces_++ == 0) {
      held_.assign(t, n);
      return;
    }
    if (!quoting_) {
      out_.write(L'"');
      write_quoted_body(out_, held_.data(), held_.size());
      quoting_ = true;
    }
    write_quoted_body(out_, t, n);
  }
  void end() {
    if (!csv_) return;
    if (quoting_) out_.write(L'"');
    else if (pieces_ > 0) write_csv_field(out_, held_.data(), held_.size(), delimiter_);
  }

 private:
  console_writer& out_;
  bool csv_;
  char16_t delimiter_;
  size_t pieces_ = 0;
  bool quoting_ = false;
  std::u16string held_;
};

// Bytes as hexadecimal digits, two a byte.
void append_hex(std::u16string& to, const unsigned char* bytes, size_t n) {
  static const char16_t digits[] = u"0123456789ABCDEF";
  const size_t at = to.size();
  to.resize(at + n * 2);
  for (size_t i = 0; i < n; ++i) {
    to[at + i * 2] = digits[bytes[i] >> 4];
    to[at + i * 2 + 1] = digits[bytes[i] & 15];
  }
}

} // namespace

std::wstring format_elapsed(uint32_t ms) {
  std::wstring s = wformat(L"%03u", ms % 1000);
  if (ms < 60000) return wformat(L"%u.", ms / 1000) + s;
  s = wformat(L"%02u.", ms / 1000 % 60) + s;
  s = wformat(L"%02u:", ms / 60000 % 60) + s;
  if (ms >= 3600000) s = wformat(L"%02u:", ms / 3600000 % 24) + s;
  if (ms >= 86400000) s = wformat(L"%u:", ms / 86400000) + s;
  return s;
}

result TTermOdbcHndlr::run_sql(const std::wstring& statement) {
  console_writer& out = console();
  const bool csv = options_->csv;
  // With CSV standard output holds the rows only: summaries go to standard error.
  console_writer& summary = csv ? error_console() : out;
  const uint32_t t0 = tick_count();
  result r;
  {
    odbc::query q(&connection_, std::wstring());  // the statement is not copied
    {
      // Ctrl-C cancels the execution; rows already there are only no longer printed.
      running_statement cancellable(q);
      r = q.execute(statement, true, true);
    }
    const uint32_t elapsed = elapsed_ms(t0);
    if (!options_->data_only && !csv) {
      out.write(statement);
      out.line_break();
    }
    if (r.succeeded()) {
      {
        // The rows end at the next Ctrl-C; a fetch that the driver never returns from ends the run.
        running_statement fetching(q, false);
        print_result_set(q, summary);
      }
      if (!options_->data_only) {
        summary.write(L" ");
        summary.write(wformat(str(string_id::execution_time).c_str(), format_elapsed(elapsed).c_str()));
        summary.line_break();
      }
    } else if (!failures_to_stderr()) {
      out.write(r.text());
      out.line_break();
    } else {
      report_failure(r.text());
    }
  }
  out.flush();  // every statement's output is complete on the console
  if (csv) summary.flush();
  return r;
}

void TTermOdbcHndlr::print_result_set(odbc::query& q, console_writer& summary) {
  uint32_t rows = 0;
  if (q.rows().count() > 0) rows = print_rows(q.rows());
  if (options_->data_only) return;
  const uint32_t affected = q.rows().row_count();
  if (&summary != &console()) console().flush();  // the rows come first
  summary.write(affected ? wformat(str(string_id::rows_affected).c_str(), affected) : str(string_id::no_rows_affected));
  summary.write(L" ");
  summary.write(rows ? wformat(str(string_id::rows_selected).c_str(), rows) : str(string_id::no_rows_selected));
}

uint32_t TTermOdbcHndlr::print_rows(odbc::resultset& rows) {
  console_writer& out = console();
  const bool csv = options_->csv;
  const bool space_mode = !csv && options_->column_delimiter == L" ";
  const std::wstring delimiter = options_->column_delimiter.substr(0, 1);
  const bool data_only = options_->data_only;
  const bool long_columns = options_->long_columns;
  const std::u16string null_text = wide_to_utf16(options_->null_text);
  const bool null_given = options_->null_text_given;

  std::vector<printed_column> cols(rows.count());
  std::wstring left_out;
  for (size_t i = 0; i < rows.count(); ++i) {
    odbc::column& c = rows.at(i);
    printed_column& p = cols[i];
    const odbc::type_class t = c.kind();
    p.kind = !odbc::is_long_or_binary(c.sql_type())  ? column_kind::bound
             : !long_columns                          ? column_kind::left_out
             : t == odbc::type_class::long_text       ? column_kind::long_text
                                                      : column_kind::long_binary;
    p.right = t == odbc::type_class::number;
    p.name = wide_to_utf16(c.name());
    p.name_length = p.name.size();
    p.width = p.kind == column_kind::bound      ? static_cast<size_t>(odbc::bounded_display_size(c.display_size()))
              : p.kind == column_kind::left_out ? 0
                                                : options_->long_column_width;
    if (p.kind == column_kind::bound) {
      p.buffer.assign(p.width + 1, u'\0');
      const result bound = c.bind(p.buffer.data(), odbc::bind_type::wide_text, static_cast<int32_t>(p.buffer.size() * sizeof(char16_t)));
      if (!bound.succeeded()) {  // the column would read as NULL in every row
        report_failure(bound.text());
        note(bound);
      }
    } else if (p.kind == column_kind::left_out && csv) {
      left_out += wformat(str(string_id::column_left_out).c_str(), c.name().c_str());
    }
    // Long and binary columns stay unbound: left out, they read as NULL in every row; with
    // "-lc" they are read in pieces.
  }
  if (!left_out.empty()) report_warning(left_out);  // a value is never left out in silence

  const wchar_t delim = delimiter.empty() ? 0 : delimiter[0];
  const char16_t delim16 = static_cast<char16_t>(delim);
  std::wstring line;
  if (!data_only && csv) {
    for (size_t i = 0; i < cols.size(); ++i) {
      if (i > 0 && delim) out.write(delim);
      write_csv_field(out, cols[i].name.data(), cols[i].name.size(), delim16);
    }
    out.line_break();
  } else if (!data_only) {
    for (size_t i = 0; i < cols.size(); ++i) {
      const printed_column& p = cols[i];
      const size_t h = p.width;
      if (!space_mode && i > 0) line += delimiter;
      size_t shown = 0;
      const std::wstring name = first_units(p.name, h, shown);
      if (space_mode && p.right && h > shown) pad(line, h - shown);
      line += name;
      if (space_mode) line += L' ';
      if (space_mode && !p.right && h > shown) pad(line, h - shown);
    }
    out.write(line);
    out.line_break();
    if (space_mode) {
      line.clear();
      for (const printed_column& p : cols) {
        line.append(p.kind == column_kind::left_out ? p.name_length : p.width, L'-');
        line += L' ';
      }
      out.write(line);
      out.line_break();
    }
  }

  uint32_t count = 0;
  result fetched;
  std::vector<char16_t> piece;
  std::vector<unsigned char> bytes;
  std::u16string cell;  // a padded long value, cut to its width
  field_stream field(out, csv, delim16);
  // A padded value in its places: right-aligned numbers, the rest left-aligned.
  const auto padded = [&out](const printed_column& p, const char16_t* v, size_t units) {
    if (p.right && p.width > units) out.pad(p.width - units);
    out.write_utf16(v, units);
    out.pad(!p.right && p.width > units ? p.width - units + 1 : 1);
  };
  const auto write_null = [&](const printed_column& p) {
    if (space_mode) {
      if (!null_given) {
        out.pad(p.width + 1);
        return;
      }
      size_t units = null_text.size() < p.width ? null_text.size() : p.width;
      if (units > 0 && units < null_text.size() && is_high_surrogate(null_text[units - 1])) --units;
      padded(p, null_text.data(), units);
    } else if (csv) {
      if (!null_text.empty()) write_csv_field(out, null_text.data(), null_text.size(), delim16);
    } else {
      out.write_utf16(null_text.data(), null_text.size());
    }
  };
  // Rows go straight from the bound buffers to the console: nothing is allocated per row.
  while (!interrupted() && rows.fetch_row(fetched)) {
    for (size_t i = 0; i < cols.size(); ++i) {
      const printed_column& p = cols[i];
      if (!space_mode && i > 0 && delim) out.write(delim);
      if (p.kind == column_kind::left_out) {
        if (space_mode) out.pad(p.name_length);
        continue;
      }
      if (p.kind != column_kind::bound) {
        // Long values, read in pieces: padded mode wants only the first width places.
        odbc::column& c = rows.at(i);
        bool null = false;
        result got;
        const bool text = p.kind == column_kind::long_text;
        if (space_mode) {
          cell.clear();
          if (text) {
            got = c.read_text(piece, [&cell](const char16_t* t, size_t n) { cell.append(t, n); }, &null, p.width);
          } else {
            cell = u"0x";
            got = c.read_bytes(bytes, [&cell](const unsigned char* b, size_t n) { append_hex(cell, b, n); }, &null,
                               p.width / 2);
          }
        } else {
          field.begin();
          if (text) {
            got = c.read_text(piece, [&field](const char16_t* t, size_t n) { field.piece(t, n); }, &null);
          } else {
            bool started = false;
            got = c.read_bytes(bytes, [&field, &cell, &started](const unsigned char* b, size_t n) {
              cell.assign(started ? u"" : u"0x");
              started = true;
              append_hex(cell, b, n);
              field.piece(cell.data(), cell.size());
            }, &null);
            if (!null && !started) field.piece(u"0x", 2);
          }
          if (!null) field.end();
        }
        if (!got.succeeded()) {
          report_failure(got.text());
          note(got);
        }
        if (null) {
          write_null(p);
        } else if (space_mode) {
          size_t units = cell.size() < p.width ? cell.size() : p.width;
          if (units > 0 && units < cell.size() && is_high_surrogate(cell[units - 1])) --units;
          padded(p, cell.data(), units);
        }
        continue;
      }
      const int64_t indicator = rows.at(i).indicator();
      if (indicator == odbc::null_data) {
        write_null(p);
        continue;
      }
      const char16_t* v = p.buffer.data();
      size_t units = 0;
      if (indicator >= 0 && static_cast<size_t>(indicator / 2) <= p.width) {
        units = static_cast<size_t>(indicator / 2);
      } else if (!space_mode) {
        // Longer than the buffer: delimited values are printed whole, read again from the driver.
        bool wrote = false;
        field.begin();
        const result whole = rows.at(i).read_text(piece, [&field, &wrote](const char16_t* t, size_t n) {
          field.piece(t, n);
          wrote = true;
        });
        if (!whole.succeeded() && !wrote) {
          while (units < p.width && v[units]) ++units;  // the driver cannot give it again: the bound part
          field.piece(v, units);
        }
        field.end();
        continue;
      } else {
        while (units < p.width && v[units]) ++units;  // padded mode cuts the value to its column
        if (units > 0 && is_high_surrogate(v[units - 1])) --units;  // never half a pair
      }
      // Places are counted in UTF-16 units, as the widths are.
      if (space_mode) padded(p, v, units);
      else if (csv) write_csv_field(out, v, units, delim16);
      else out.write_utf16(v, units);
    }
    out.line_break();
    ++count;
    if (stopped_) break;
  }
  if (interrupted()) fetched = failure(os::err_cancelled, sys::system_message(os::err_cancelled));
  if (fetched.code() != odbc::no_data_error()) {
    if (!failures_to_stderr()) {
      out.write(fetched.text());
      out.line_break();
    } else {
      report_failure(fetched.text());
    }
    note(fetched);
  }
  return count;
}

} // namespace vela::terminal
