// One statement executed and printed: echo, rows, summary line and execution time.
#include <vector>

#include "Terminal/handler.h"
#include "Terminal/prompt.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/odbc/environment.h"
#include "vela/utf.h"
#include "os/os.h"

namespace vela::terminal {

namespace {

std::wstring str(uint32_t id) { return load_string(nullptr, id); }

bool right_aligned(int32_t sql_type) { return sql_type >= 2 && sql_type <= 8; }

bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The first max_units UTF-16 units of a text, without half a pair; units tells how many.
std::wstring first_units(const std::u16string& text, size_t max_units, size_t& units) {
  units = text.size() < max_units ? text.size() : max_units;
  if (units < text.size() && units > 0 && is_high_surrogate(text[units - 1])) --units;
  return utf16_to_wide(text.data(), units);
}

// How the printer sees one column.
struct printed_column {
  bool bound;
  bool right;
  size_t width;       // W, or 0 for long and binary columns
  size_t name_length;  // in UTF-16 units, as widths are counted
  std::u16string name;
  std::vector<char16_t> buffer;
};

void pad(std::wstring& line, size_t n) { line.append(n, L' '); }

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
  const uint32_t t0 = tick_count();
  result r;
  {
    odbc::query q(&connection_, statement);
    {
      // Ctrl-C cancels the execution; rows already there are only no longer printed.
      running_statement cancellable(q);
      r = q.execute(true);
    }
    const uint32_t elapsed = elapsed_ms(t0);
    if (!options_->data_only) {
      out.write(statement);
      out.line_break();
    }
    if (r.succeeded()) {
      print_result_set(q);
      if (!options_->data_only) {
        out.write(L" ");
        out.write(wformat(str(109).c_str(), format_elapsed(elapsed).c_str()));
        out.line_break();
      }
    } else if (!options_->data_only) {
      out.write(r.text());
      out.line_break();
    } else {
      report_failure(r.text());
    }
  }
  out.flush();  // every statement's output is complete on the console
  return r;
}

void TTermOdbcHndlr::print_result_set(odbc::query& q) {
  uint32_t rows = 0;
  if (q.rows().count() > 0) rows = print_rows(q.rows());
  if (options_->data_only) return;
  const uint32_t affected = q.rows().row_count();
  console_writer& out = console();
  out.write(affected ? wformat(str(129).c_str(), affected) : str(130));
  out.write(L" ");
  out.write(rows ? wformat(str(110).c_str(), rows) : str(111));
}

uint32_t TTermOdbcHndlr::print_rows(odbc::resultset& rows) {
  console_writer& out = console();
  const bool space_mode = options_->column_delimiter == L" ";
  const std::wstring delimiter = options_->column_delimiter.substr(0, 1);
  const bool data_only = options_->data_only;

  std::vector<printed_column> cols(rows.count());
  for (size_t i = 0; i < rows.count(); ++i) {
    odbc::column& c = rows.at(i);
    printed_column& p = cols[i];
    p.bound = !odbc::is_long_or_binary(c.sql_type());
    p.right = right_aligned(c.sql_type());
    p.name = wide_to_utf16(c.name());
    p.name_length = p.name.size();
    p.width = p.bound ? static_cast<size_t>(odbc::bounded_display_size(c.display_size())) : 0;
    // Long and binary columns stay unbound and read as NULL in every row.
    if (p.bound) {
      p.buffer.assign(p.width + 1, u'\0');
      c.bind(p.buffer.data(), SQL_C_WCHAR, static_cast<int32_t>(p.buffer.size() * sizeof(char16_t)));
    }
  }

  std::wstring line;
  if (!data_only) {
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
        line.append(p.bound ? p.width : p.name_length, L'-');
        line += L' ';
      }
      out.write(line);
      out.line_break();
    }
  }

  uint32_t count = 0;
  result fetched;
  std::vector<char16_t> piece;
  // Rows go straight from the bound buffers to the console: nothing is allocated per row.
  const wchar_t delim = delimiter.empty() ? 0 : delimiter[0];
  while (!interrupted() && (fetched = rows.fetch()).succeeded()) {
    for (size_t i = 0; i < cols.size(); ++i) {
      const printed_column& p = cols[i];
      if (!space_mode && i > 0 && delim) out.write(delim);
      const SQLLEN indicator = p.bound ? rows.at(i).indicator() : SQL_NULL_DATA;
      if (indicator == SQL_NULL_DATA) {
        if (space_mode) out.pad(p.bound ? p.width + 1 : p.name_length);
        continue;
      }
      const char16_t* v = p.buffer.data();
      size_t units = 0;
      if (indicator >= 0 && static_cast<size_t>(indicator / 2) <= p.width) {
        units = static_cast<size_t>(indicator / 2);
      } else if (!space_mode) {
        // Longer than the buffer: delimited values are printed whole, read again from the driver.
        bool wrote = false;
        const result whole = rows.at(i).read_text(piece, [&out, &wrote](const char16_t* t, size_t n) {
          out.write_utf16(t, n);
          wrote = true;
        });
        if (whole.succeeded() || wrote) continue;
        while (units < p.width && v[units]) ++units;  // the driver cannot give it again: the bound part
      } else {
        while (units < p.width && v[units]) ++units;  // padded mode cuts the value to its column
        if (units > 0 && is_high_surrogate(v[units - 1])) --units;  // never half a pair
      }
      // Places are counted in UTF-16 units, as the widths are.
      if (space_mode && p.right && p.width > units) out.pad(p.width - units);
      out.write_utf16(v, units);
      if (space_mode) out.pad(!p.right && p.width > units ? p.width - units + 1 : 1);
    }
    out.line_break();
    ++count;
  }
  if (interrupted()) fetched = result(os::err_cancelled, os::system_message(os::err_cancelled), 3);
  if (fetched.code() != odbc::no_data_error()) {
    if (!data_only) {
      out.write(fetched.text());
      out.line_break();
    } else {
      report_failure(fetched.text());
    }
  }
  return count;
}

} // namespace vela::terminal
