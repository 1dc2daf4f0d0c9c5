// Tab-separated values as PostgreSQL's text format writes them: a header line of the names,
// then one line a row; a backslash, tab, line feed or carriage return inside a value is
// written as \\, \t, \n or \r, NULL as \N.
#include "Terminal/output/formats.h"
#include "Terminal/output/row_writer.h"
#include "vela/console.h"

namespace vela::terminal {

namespace {

class tsv_writer final : public row_writer {
 public:
  explicit tsv_writer(console_writer& out) : out_(out) {}

  void header(const std::vector<column_layout>& columns) override {
    for (size_t i = 0; i < columns.size(); ++i) {
      next_column(i);
      escaped(columns[i].name.data(), columns[i].name.size());
    }
    out_.line_break();
  }
  void next_column(size_t i) override {
    if (i > 0) out_.write(L'\t');
  }
  void left_out(const column_layout& c) override { null(c); }
  void null(const column_layout&) override { out_.write_utf8("\\N", 2); }
  void value(const column_layout&, const char* text, size_t bytes) override { escaped(text, bytes); }
  bool backslash_hex() const override { return true; }
  void begin_value(const column_layout&) override {}
  void piece(const char* text, size_t bytes) override { escaped(text, bytes); }
  void end_value(const column_layout&) override {}
  void end_row() override { out_.line_break(); }

 private:
  void escaped(const char* v, size_t n) {
    size_t from = 0;
    for (size_t i = 0; i < n; ++i) {
      const char c = v[i];
      // The four bytes escaped are all below ']', most bytes take one comparison.
      if (c > '\\') continue;
      const char* escape = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
      if (!escape) continue;
      out_.write_utf8(v + from, i - from);
      out_.write_utf8(escape, 2);
      from = i + 1;
    }
    out_.write_utf8(v + from, n - from);
  }

  console_writer& out_;
};

} // namespace

std::unique_ptr<row_writer> make_tsv_writer(console_writer& out, const writer_settings&) {
  return std::make_unique<tsv_writer>(out);
}

} // namespace vela::terminal
