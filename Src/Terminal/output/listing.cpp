#include "Terminal/output/listing.h"

#include "Terminal/output/formats.h"
#include "Terminal/output/row_writer.h"
#include "Terminal/output/statement_output.h"
#include "vela/console.h"
#include "vela/format.h"
#include "vela/utf.h"

namespace vela::terminal {

namespace {

// One line of the padded listing: each field right-aligned in 32 characters, never cut.
std::wstring listing_line(const std::vector<std::wstring>& fields) {
  std::wstring line;
  for (const auto& f : fields) line += wformat(L"%32s", f.c_str());
  return line;
}

void print_padded(console_writer& out, const std::vector<listing_column>& columns,
                  const std::vector<std::vector<std::wstring>>& records) {
  std::vector<std::wstring> names;
  for (const listing_column& c : columns) names.push_back(c.name);
  out << listing_line(names);
  out.line_break();
  for (const auto& r : records) {
    out << listing_line(r) + L"\r\n";
    out.line_break();
  }
}

std::vector<column_layout> layouts_of(const std::vector<listing_column>& columns) {
  std::vector<column_layout> layouts;
  for (const listing_column& c : columns) {
    column_layout l;
    l.name = wide_to_utf8(c.name);
    l.right = c.number;
    l.kind = c.number ? odbc::type_class::number : odbc::type_class::text;
    l.sql_type = c.number ? 4 : 12;  // INTEGER, VARCHAR
    l.width = 32;
    layouts.push_back(std::move(l));
  }
  return layouts;
}

const std::wstring* field_text(const std::wstring& field) { return &field; }
const std::wstring* field_text(const std::optional<std::wstring>& field) { return field ? &*field : nullptr; }

// The records through the writer, after the header (which the formats of whole columns print
// also with "-do").
template <typename Record>
void write_table(row_writer& writer, bool header, const std::vector<listing_column>& columns,
                 const std::vector<Record>& records) {
  const std::vector<column_layout> layouts = layouts_of(columns);
  if (header) writer.header(layouts);
  std::string text;
  for (const auto& r : records) {
    for (size_t i = 0; i < layouts.size(); ++i) {
      writer.next_column(i);
      const std::wstring* field = i < r.size() ? field_text(r[i]) : nullptr;
      if (!field) {
        writer.null(layouts[i]);
        continue;
      }
      text = wide_to_utf8(*field);
      writer.value(layouts[i], text.data(), text.size());
    }
    writer.end_row();
  }
  writer.end_rows();
}

bool header_shown(const terminal_options& options) { return options.format->whole_columns || !options.data_only; }

} // namespace

void print_listing(const terminal_options& options, console_writer& out, const std::vector<listing_column>& columns,
                   const std::vector<std::vector<std::wstring>>& records) {
  if (options.format == &default_format()) {
    print_padded(out, columns, records);
    return;
  }
  write_table(*make_writer(options, out), header_shown(options), columns, records);
}

void print_description(const terminal_options& options, console_writer& out, const std::wstring& title,
                       const std::vector<listing_section>& sections) {
  const bool as_psql = options.format == &default_format() || options.format == find_format(L"aligned");
  const bool json = options.format == find_format(L"json");
  if (as_psql) {
    terminal_options aligned = options;
    aligned.format = find_format(L"aligned");
    if (!options.data_only) out.write(title).line_break();
    for (const listing_section& s : sections) {
      if (&s == &sections.front()) {
        write_table(*make_writer(aligned, out), true, s.columns, s.records);
        continue;
      }
      if (s.lines.empty()) continue;
      out.write(s.title).line_break();
      for (const std::wstring& line : s.lines) out.write(L"    ").write(line).line_break();
    }
    return;
  }
  for (const listing_section& s : sections) {
    if (json) out.write(&s == &sections.front() ? L"{\"" : L",\"").write(utf8_to_wide(s.key)).write(L"\":");
    if (json || &s == &sections.front() || !s.records.empty())
      write_table(*make_writer(options, out), header_shown(options), s.columns, s.records);
  }
  if (json) out.write(L"}").line_break();
}

} // namespace vela::terminal
