// Padded columns: numbers right-aligned, the rest left-aligned, each value cut to its width.
// Widths count UTF-16 units.
#include "Terminal/output/row_writer.h"
#include "vela/console.h"
#include "vela/utf.h"

namespace vela::terminal {

namespace {

class padded_writer final : public row_writer {
 public:
  padded_writer(console_writer& out, std::string null_text, bool null_given)
      : out_(out), null_text_(std::move(null_text)), null_given_(null_given) {}

  void header(const std::vector<column_layout>& columns) override {
    std::string line;
    for (const column_layout& c : columns) {
      size_t units = 0;
      const size_t shown = utf8_fit(c.name.data(), c.name.size(), c.width, &units);
      const size_t rest = c.width - units;
      if (c.right) line.append(rest, ' ');
      line.append(c.name, 0, shown);
      line += ' ';
      if (!c.right) line.append(rest, ' ');
    }
    out_.write_utf8(line.data(), line.size());
    out_.line_break();
    // Dashes under each column; a left-out column keeps its name's length.
    line.clear();
    for (const column_layout& c : columns) {
      line.append(c.left_out ? utf8_utf16_units(c.name.data(), c.name.size()) : c.width, '-');
      line += ' ';
    }
    out_.write_utf8(line.data(), line.size());
    out_.line_break();
  }
  void next_column(size_t) override {}
  bool exact_floats() const override { return false; }  // the driver's text, as it always was
  void left_out(const column_layout& c) override { out_.pad(utf8_utf16_units(c.name.data(), c.name.size())); }
  void null(const column_layout& c) override {
    if (!null_given_) out_.pad(c.width + 1);
    else value(c, null_text_.data(), null_text_.size());
  }
  void value(const column_layout& c, const char* text, size_t bytes) override {
    size_t units = 0;
    bytes = utf8_fit(text, bytes, c.width, &units);
    if (c.right && c.width > units) out_.pad(c.width - units);
    out_.write_utf8(text, bytes);
    out_.pad(!c.right && c.width > units ? c.width - units + 1 : 1);
  }
  size_t wanted_units(const column_layout& c) const override { return c.width; }
  void begin_value(const column_layout&) override { cell_.clear(); }
  void piece(const char* text, size_t bytes) override { cell_.append(text, bytes); }
  void end_value(const column_layout& c) override { value(c, cell_.data(), cell_.size()); }
  void end_row() override { out_.line_break(); }

 private:
  console_writer& out_;
  std::string null_text_;
  bool null_given_;
  std::string cell_;  // a long value, read up to its width
};

} // namespace

std::unique_ptr<row_writer> make_padded_writer(console_writer& out, std::string null_text, bool null_given) {
  return std::make_unique<padded_writer>(out, std::move(null_text), null_given);
}

} // namespace vela::terminal
