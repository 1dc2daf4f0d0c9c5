// Values as they are between delimiters (the first character of "-cd", possibly none).
#include "Terminal/output/row_writer.h"
#include "vela/console.h"
#include "vela/utf.h"

namespace vela::terminal {

namespace {

class delimited_writer final : public row_writer {
 public:
  delimited_writer(console_writer& out, std::string delimiter, std::string null_text)
      : out_(out), delimiter_(std::move(delimiter)), null_text_(std::move(null_text)) {}

  // Names are cut to their column's width, as in the padded layout.
  void header(const std::vector<column_layout>& columns) override {
    std::string line;
    for (size_t i = 0; i < columns.size(); ++i) {
      const column_layout& c = columns[i];
      if (i > 0) line += delimiter_;
      size_t units = 0;
      line.append(c.name, 0, utf8_fit(c.name.data(), c.name.size(), c.width, &units));
    }
    out_.write_utf8(line.data(), line.size());
    out_.line_break();
  }
  bool exact_floats() const override { return false; }  // the driver's text, as it always was
  void next_column(size_t i) override {
    if (i > 0 && !delimiter_.empty()) out_.write_utf8(delimiter_.data(), delimiter_.size());
  }
  void left_out(const column_layout&) override {}
  void null(const column_layout&) override { out_.write_utf8(null_text_.data(), null_text_.size()); }
  void value(const column_layout&, const char* text, size_t bytes) override { out_.write_utf8(text, bytes); }
  void begin_value(const column_layout&) override {}
  void piece(const char* text, size_t bytes) override { out_.write_utf8(text, bytes); }
  void end_value(const column_layout&) override {}
  void end_row() override { out_.line_break(); }

 private:
  console_writer& out_;
  std::string delimiter_;
  std::string null_text_;
};

} // namespace

std::unique_ptr<row_writer> make_delimited_writer(console_writer& out, std::string delimiter, std::string null_text) {
  return std::make_unique<delimited_writer>(out, std::move(delimiter), std::move(null_text));
}

} // namespace vela::terminal
