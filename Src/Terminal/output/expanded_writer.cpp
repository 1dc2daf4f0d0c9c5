// "\x": rows one column a line through the vertical writer; with auto, the first rows are held
// and measured as the table layout would print them, and the vertical layout takes over when
// they would not fit the terminal.
#include <algorithm>

#include "Terminal/output/formats.h"
#include "Terminal/output/row_writer.h"
#include "vela/console.h"
#include "vela/system.h"
#include "vela/utf.h"

namespace vela::terminal {

namespace {

constexpr size_t rows_held = 1000;  // as many as the aligned layout measures

class auto_expanded_writer final : public row_writer {
 public:
  auto_expanded_writer(std::unique_ptr<row_writer> table, std::unique_ptr<row_writer> vertical, std::string null_text,
                       const writer_settings& settings, size_t cut, size_t screen)
      : table_(std::move(table)), vertical_(std::move(vertical)), null_text_(std::move(null_text)),
        names_(settings.names), border_(settings.border), cut_(cut), screen_(screen) {}

  void header(const std::vector<column_layout>& columns) override {
    columns_ = columns;
    widths_.assign(columns.size(), 0);
    for (size_t i = 0; i < columns.size(); ++i) {
      widths_[i] = cut_ == SIZE_MAX ? columns[i].width : 0;  // the padded layout's places
      if (names_) widths_[i] = std::max(widths_[i], utf8_display_width(columns[i].name.data(), columns[i].name.size()));
    }
    headed_ = true;
    if (too_wide()) choose(vertical_.get());
  }
  void next_column(size_t i) override {
    if (!chosen_ && !headed_) choose(table_.get());  // no names to print them under
    if (chosen_) return chosen_->next_column(i);
    column_ = i;
    held_.push_back({kind::next, i, {}});
  }
  void left_out(const column_layout& c) override {
    if (chosen_) return chosen_->left_out(c);
    hold(kind::left_out, null_text_.data(), null_text_.size());
  }
  void null(const column_layout& c) override {
    if (chosen_) return chosen_->null(c);
    hold(kind::null, null_text_.data(), null_text_.size());
  }
  void value(const column_layout& c, const char* text, size_t bytes) override {
    if (chosen_) return chosen_->value(c, text, bytes);
    hold(kind::value, text, bytes);
  }
  bool backslash_hex() const override { return table_->backslash_hex(); }
  bool exact_floats() const override { return table_->exact_floats(); }
  size_t wanted_units(const column_layout& c) const override { return table_->wanted_units(c); }
  void begin_value(const column_layout& c) override {
    if (chosen_) return chosen_->begin_value(c);
    held_.push_back({kind::pieces, column_, {}});
  }
  void piece(const char* text, size_t bytes) override {
    if (chosen_) return chosen_->piece(text, bytes);
    held_.back().text.append(text, bytes);
  }
  void end_value(const column_layout& c) override {
    if (chosen_) return chosen_->end_value(c);
    measure(held_.back().text.data(), held_.back().text.size());
  }
  void end_row() override {
    if (chosen_) return chosen_->end_row();
    held_.push_back({kind::row_end, 0, {}});
    if (too_wide()) choose(vertical_.get());
    else if (++rows_ == rows_held) choose(table_.get());
  }
  void end_rows() override {
    if (!chosen_) choose(table_.get());
    chosen_->end_rows();
  }

 private:
  enum class kind : uint8_t { next, left_out, null, value, pieces, row_end };
  struct call {
    kind what;
    size_t column;
    std::string text;
  };

  void hold(kind what, const char* text, size_t bytes) {
    held_.push_back({what, column_, std::string(text, bytes)});
    measure(text, bytes);
  }
  void measure(const char* text, size_t bytes) {
    if (column_ >= widths_.size()) return;
    size_t widest = 0;
    for_each_line(text, bytes, [&](const char* line, size_t n, bool) { widest = std::max(widest, utf8_display_width(line, n)); });
    widths_[column_] = std::max(widths_[column_], std::min(widest, cut_));
  }
  bool too_wide() const {
    if (screen_ == 0 || widths_.empty()) return false;
    // " | " between the columns (a blank with border 0), "| " and " |" around with border 2.
    size_t total = (border_ == 0 ? 1 : 3) * (widths_.size() - 1) + (border_ == 2 ? 4 : 0);
    for (const size_t w : widths_) total += w;
    return total > screen_;
  }
  // The held calls go to the writer chosen, and the calls after them.
  void choose(row_writer* w) {
    chosen_ = w;
    if (headed_) w->header(columns_);
    for (const call& c : held_) {
      const column_layout& layout = columns_[std::min(c.column, columns_.size() - 1)];
      switch (c.what) {
        case kind::next: w->next_column(c.column); break;
        case kind::left_out: w->left_out(layout); break;
        case kind::null: w->null(layout); break;
        case kind::value: w->value(layout, c.text.data(), c.text.size()); break;
        case kind::pieces:
          w->begin_value(layout);
          w->piece(c.text.data(), c.text.size());
          w->end_value(layout);
          break;
        case kind::row_end: w->end_row(); break;
      }
    }
    held_.clear();
  }

  std::unique_ptr<row_writer> table_, vertical_;
  std::string null_text_;
  bool names_;
  int border_;
  size_t cut_;     // the table layout shows no more of a value
  size_t screen_;  // columns of the terminal; 0: no terminal, never vertical
  row_writer* chosen_ = nullptr;
  bool headed_ = false;
  std::vector<column_layout> columns_;
  std::vector<size_t> widths_;
  size_t column_ = 0;
  size_t rows_ = 0;
  std::vector<call> held_;
};

} // namespace

std::unique_ptr<row_writer> make_expanded_writer(console_writer& out, const writer_settings& settings,
                                                 const output_format& table, bool automatic) {
  const std::string null_text = wide_to_utf8(settings.null_text);
  std::unique_ptr<row_writer> vertical = make_vertical_writer(out, null_text);
  if (!automatic) return vertical;
  const size_t screen = out.is_terminal() ? sys::terminal_columns(1) : 0;
  // The aligned layout cuts long values; the padded one shows what its places hold.
  const size_t cut = table.whole_columns ? settings.aligned_cut() : SIZE_MAX;
  return std::make_unique<auto_expanded_writer>(table.make(out, settings), std::move(vertical), null_text, settings,
                                                cut, screen);
}

} // namespace vela::terminal
