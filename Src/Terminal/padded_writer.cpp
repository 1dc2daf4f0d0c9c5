// Padded columns: numbers right-aligned, the rest left-aligned, each value cut to its width.
#include "Terminal/row_writer.h"
#include "vela/console.h"
#include "vela/utf.h"

namespace vela::terminal {

namespace {

class padded_writer final : public row_writer {
 public:
  padded_writer(console_writer& out, std::u16string null_text, bool null_given)
      : out_(out), null_text_(std::move(null_text)), null_given_(null_given) {}

  void header(const std::vector<column_layout>& columns) override {
    std::u16string line;
    for (const column_layout& c : columns) {
      const size_t shown = utf16_fit(c.name.data(), c.name.size(), c.width);
      const size_t rest = c.width - shown;
      if (c.right) line.append(rest, u' ');
      line.append(c.name, 0, shown);
      line += u' ';
      if (!c.right) line.append(rest, u' ');
    }
    out_.write_utf16(line.data(), line.size());
    out_.line_break();
    // Dashes under each column; a left-out column keeps its name's length.
    line.clear();
    for (const column_layout& c : columns) {
      line.append(c.left_out ? c.name.size() : c.width, u'-');
      line += u' ';
    }
    out_.write_utf16(line.data(), line.size());
    out_.line_break();
  }
  void next_column(size_t) override {}
  void left_out(const column_layout& c) override { out_.pad(c.name.size()); }
  void null(const column_layout& c) override {
    if (!null_given_) out_.pad(c.width + 1);
    else value(c, null_text_.data(), null_text_.size());
  }
  void value(const column_layout& c, const char16_t* text, size_t units) override {
    units = utf16_fit(text, units, c.width);
    if (c.right && c.width > units) out_.pad(c.width - units);
    out_.write_utf16(text, units);
    out_.pad(!c.right && c.width > units ? c.width - units + 1 : 1);
  }
  size_t wanted_units(const column_layout& c) const override { return c.width; }
  void begin_value(const column_layout&) override { cell_.clear(); }
  void piece(const char16_t* text, size_t units) override { cell_.append(text, units); }
  void end_value(const column_layout& c) override { value(c, cell_.data(), cell_.size()); }
  void end_row() override { out_.line_break(); }

 private:
  console_writer& out_;
  std::u16string null_text_;
  bool null_given_;
  std::u16string cell_;  // a long value, read up to its width
};

} // namespace

std::unique_ptr<row_writer> make_padded_writer(console_writer& out, std::u16string null_text, bool null_given) {
  return std::make_unique<padded_writer>(out, std::move(null_text), null_given);
}

} // namespace vela::terminal
