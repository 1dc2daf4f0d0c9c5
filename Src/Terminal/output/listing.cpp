#include "Terminal/output/listing.h"

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

} // namespace

void print_listing(const terminal_options& options, console_writer& out, const std::vector<listing_column>& columns,
                   const std::vector<std::vector<std::wstring>>& records) {
  if (options.format == &default_format()) {
    print_padded(out, columns, records);
    return;
  }
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
  const std::unique_ptr<row_writer> writer = make_writer(options, out);
  if (options.format->whole_columns || !options.data_only) writer->header(layouts);
  std::string text;
  for (const auto& r : records) {
    for (size_t i = 0; i < layouts.size(); ++i) {
      writer->next_column(i);
      text = wide_to_utf8(i < r.size() ? r[i] : std::wstring());
      writer->value(layouts[i], text.data(), text.size());
    }
    writer->end_row();
  }
  writer->end_rows();
}

} // namespace vela::terminal
