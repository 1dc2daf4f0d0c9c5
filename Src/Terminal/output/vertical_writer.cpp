// One record a block: a "-[ RECORD n ]-" line, then one "name | value" line a column, the names
// padded to the widest in terminal cells.
#include "Terminal/output/row_writer.h"
#include "vela/console.h"
#include "vela/utf.h"

namespace vela::terminal {

namespace {

class vertical_writer final : public row_writer {
 public:
  vertical_writer(console_writer& out, std::string null_text) : out_(out), null_text_(std::move(null_text)) {}

  void header(const std::vector<column_layout>& columns) override {
    names_.clear();
    size_t widest = 0;
    for (const column_layout& c : columns) widest = std::max(widest, utf8_display_width(c.name.data(), c.name.size()));
    name_width_ = widest;
    for (const column_layout& c : columns) {
      std::string n = c.name;
      n.append(widest - utf8_display_width(c.name.data(), c.name.size()), ' ');
      n += " | ";
      names_.push_back(std::move(n));
    }
    record_ = 0;
  }
  void next_column(size_t i) override {
    if (i == 0) {
      text_.clear();
      cells_.clear();
    }
  }
  void left_out(const column_layout& c) override { null(c); }
  void null(const column_layout&) override { add(null_text_.data(), null_text_.size()); }
  void value(const column_layout& c, const char* text, size_t bytes) override {
    if (const char* word = boolean_word(c, text, bytes, false)) add(word, 1);
    else add(text, bytes);
  }
  void begin_value(const column_layout&) override { start_ = text_.size(); }
  void piece(const char* text, size_t bytes) override { text_.append(text, bytes); }
  void end_value(const column_layout&) override {
    const size_t at = start_;
    cells_.push_back({at, text_.size() - at});
    measure(text_.data() + at, text_.size() - at);
  }
  // The block: its rule reaches over the widest value, "+" under the bar.
  void end_row() override {
    line_ = "-[ RECORD " + std::to_string(++record_) + " ]";
    const size_t bar = name_width_ + 1;
    if (line_.size() < bar) line_.append(bar - line_.size(), '-');
    if (line_.size() == bar) line_ += '+';
    else line_ += '-';
    const size_t total = name_width_ + 3 + widest_;
    if (line_.size() < total) line_.append(total - line_.size(), '-');
    out_.write_utf8(line_.data(), line_.size());
    out_.line_break();
    for (size_t i = 0; i < cells_.size() && i < names_.size(); ++i) {
      bool first = true;
      // The lines of a value one below the other, each that another follows padded to the
      // widest value with "+" after it.
      for_each_line(text_.data() + cells_[i].first, cells_[i].second, [&](const char* text, size_t n, bool more) {
        if (first) line_ = names_[i];
        else line_.assign(name_width_, ' ') += " | ";
        first = false;
        line_.append(text, n);
        if (more) {
          const size_t width = utf8_display_width(text, n);
          line_.append(widest_ > width ? widest_ - width : 0, ' ') += '+';
        }
        size_t end = line_.size();
        while (end > 0 && line_[end - 1] == ' ') --end;  // an empty value leaves no blank
        out_.write_utf8(line_.data(), end);
        out_.line_break();
      });
    }
    widest_ = 0;
  }

 private:
  void add(const char* text, size_t bytes) {
    cells_.push_back({text_.size(), bytes});
    text_.append(text, bytes);
    measure(text, bytes);
  }
  // The widest line of a value.
  void measure(const char* text, size_t bytes) {
    for_each_line(text, bytes, [this](const char* line, size_t n, bool) {
      widest_ = std::max(widest_, utf8_display_width(line, n));
    });
  }

  console_writer& out_;
  std::string null_text_;
  std::vector<std::string> names_;  // each padded, with its bar
  size_t name_width_ = 0;
  size_t record_ = 0;
  size_t start_ = 0;
  size_t widest_ = 0;
  std::string text_;
  std::vector<std::pair<size_t, size_t>> cells_;
  std::string line_;
};

} // namespace

std::unique_ptr<row_writer> make_vertical_writer(console_writer& out, std::string null_text) {
  return std::make_unique<vertical_writer>(out, std::move(null_text));
}

} // namespace vela::terminal
