// RFC 4180 fields: quoted when they hold the delimiter, a quote or a line break.
#include "Terminal/row_writer.h"
#include "vela/console.h"

namespace vela::terminal {

namespace {

bool needs_quotes(const char16_t* v, size_t n, char16_t delimiter) {
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = v[i];
    // '"', CR and LF are all below '#': most characters take two comparisons.
    if (c == delimiter || (c < u'#' && (c == u'"' || c == u'\r' || c == u'\n'))) return true;
  }
  return false;
}

class csv_writer final : public row_writer {
 public:
  csv_writer(console_writer& out, char16_t delimiter, std::u16string null_text)
      : out_(out), delimiter_(delimiter), null_text_(std::move(null_text)) {}

  void header(const std::vector<column_layout>& columns) override {
    for (size_t i = 0; i < columns.size(); ++i) {
      next_column(i);
      field(columns[i].name.data(), columns[i].name.size());
    }
    out_.line_break();
  }
  void next_column(size_t i) override {
    if (i > 0 && delimiter_) out_.write(static_cast<wchar_t>(delimiter_));
  }
  void left_out(const column_layout&) override {}
  void null(const column_layout&) override {
    if (!null_text_.empty()) field(null_text_.data(), null_text_.size());
  }
  void value(const column_layout&, const char16_t* text, size_t units) override { field(text, units); }
  // A value that fits one piece is quoted only when it needs it; a longer one is always
  // quoted, as it is never held whole.
  void begin_value(const column_layout&) override {
    pieces_ = 0;
    quoting_ = false;
  }
  void piece(const char16_t* text, size_t units) override {
    if (pieces_++ == 0) {
      held_.assign(text, units);
      return;
    }
    if (!quoting_) {
      out_.write(L'"');
      quoted_body(held_.data(), held_.size());
      quoting_ = true;
    }
    quoted_body(text, units);
  }
  void end_value(const column_layout&) override {
    if (quoting_) out_.write(L'"');
    else if (pieces_ > 0) field(held_.data(), held_.size());
  }
  void end_row() override { out_.line_break(); }

 private:
  void field(const char16_t* v, size_t n) {
    if (!needs_quotes(v, n, delimiter_)) {
      out_.write_utf16(v, n);
      return;
    }
    out_.write(L'"');
    quoted_body(v, n);
    out_.write(L'"');
  }
  // The inside of a quoted field: every double quote doubled.
  void quoted_body(const char16_t* v, size_t n) {
    size_t from = 0;
    for (size_t i = 0; i < n; ++i) {
      if (v[i] != u'"') continue;
      out_.write_utf16(v + from, i + 1 - from);
      out_.write(L'"');
      from = i + 1;
    }
    out_.write_utf16(v + from, n - from);
  }

  console_writer& out_;
  char16_t delimiter_;
  std::u16string null_text_;
  size_t pieces_ = 0;
  bool quoting_ = false;
  std::u16string held_;
};

} // namespace

std::unique_ptr<row_writer> make_csv_writer(console_writer& out, char16_t delimiter, std::u16string null_text) {
  return std::make_unique<csv_writer>(out, delimiter, std::move(null_text));
}

} // namespace vela::terminal
