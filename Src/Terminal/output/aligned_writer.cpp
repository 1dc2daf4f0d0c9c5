// Columns as wide as their content: the widest value of the first rows (and the name) sets each
// width, measured in terminal cells; later rows keep those widths, a wider value running over.
#include <algorithm>
#include <string_view>

#include "Terminal/output/row_writer.h"
#include "vela/console.h"
#include "vela/utf.h"

namespace vela::terminal {

namespace {

constexpr size_t rows_measured = 1000;

class aligned_writer final : public row_writer {
 public:
  aligned_writer(console_writer& out, std::string null_text, bool names, size_t cut, int border)
      : out_(out), null_text_(std::move(null_text)), names_(names), cut_(cut < 2 ? 2 : cut), framed_(border == 2),
        between_(border == 0 ? " " : " | "), going_on_(border == 0 ? "+" : "+| "), joint_(border == 0 ? " " : "-+-") {}

  void header(const std::vector<column_layout>& columns) override {
    columns_ = columns;
    widths_.assign(columns.size(), 0);
    for (column_layout& c : columns_) c.right = is_number(c);
    if (!names_) return;
    for (size_t i = 0; i < columns.size(); ++i) widths_[i] = utf8_display_width(columns[i].name.data(), columns[i].name.size());
  }
  void next_column(size_t i) override {
    column_ = i;
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
    const size_t start = start_;
    const std::string whole = text_.substr(start);
    text_.resize(start);
    add(whole.data(), whole.size());
  }
  void end_row() override {
    if (++rows_ <= rows_measured) {
      if (rows_ == rows_measured) flush_measured();
      return;
    }
    write_row(0);
    text_.clear();
    cells_.clear();
  }
  void end_rows() override {
    if (rows_ < rows_measured) flush_measured();
    if (framed_ && !columns_.empty()) frame();
    rows_ = 0;
    text_.clear();
    cells_.clear();
  }

 private:
  struct cell {
    size_t at, bytes, width;  // width: of the widest line
    bool lines;               // more than one line
  };

  // A value kept with its cells, each line cut with "…" when it is wider than cut_.
  void add(const char* text, size_t bytes) {
    const size_t at = text_.size();
    size_t widest = 0;
    bool lines = false;
    for_each_line(text, bytes, [&](const char* line, size_t n, bool more) {
      size_t width = utf8_display_width(line, n);
      if (width > cut_) {
        text_.append(line, utf8_fit_cells(line, n, cut_ - 1, &width));
        text_ += "\xE2\x80\xA6";  // …
        ++width;
      } else {
        text_.append(line, n);
      }
      if (more) text_ += '\n';
      lines = lines || more;
      widest = std::max(widest, width);
    });
    cells_.push_back(cell{at, text_.size() - at, widest, lines});
    if (rows_ < rows_measured && widest > widths_[column_]) widths_[column_] = widest;
  }

  // The header and the rows held while the widths were measured.
  void flush_measured() {
    if (framed_ && !columns_.empty()) frame();
    if (names_ && !columns_.empty()) {
      line_.clear();
      begin_line();
      for (size_t i = 0; i < columns_.size(); ++i) {
        if (i > 0) line_ += between_;
        const std::string& n = columns_[i].name;
        put(n.data(), n.size(), utf8_display_width(n.data(), n.size()), i);
      }
      close_line(false);
      if (framed_) frame();
      else rule(joint_);
    }
    const size_t n = columns_.size();
    for (size_t row = 0; n > 0 && row * n < cells_.size(); ++row) write_row(row * n);
    text_.clear();
    cells_.clear();
  }

  void write_row(size_t first) {
    const size_t n = std::min(columns_.size(), cells_.size() - first);
    bool lines = false;
    for (size_t i = 0; i < n; ++i) lines = lines || cells_[first + i].lines;
    if (!lines) {
      begin_line();
      for (size_t i = 0; i < n; ++i) {
        if (i > 0) line_ += between_;
        const cell& c = cells_[first + i];
        put(text_.data() + c.at, c.bytes, c.width, i);
      }
      close_line(false);
      return;
    }
    // A cell of several lines goes on below, with "+" right of each line that another follows.
    rest_.resize(n);
    for (size_t i = 0; i < n; ++i) rest_[i] = std::string_view(text_.data() + cells_[first + i].at, cells_[first + i].bytes);
    for (bool more = true; more;) {
      more = false;
      bool before = false;  // the cell to the left goes on
      begin_line();
      for (size_t i = 0; i < n; ++i) {
        std::string_view& r = rest_[i];  // what is left of the cell; no data once all is written
        const size_t end = r.data() ? r.find('\n') : std::string_view::npos;
        const std::string_view line = r.data() ? r.substr(0, end) : std::string_view("");
        r = end == std::string_view::npos ? std::string_view() : r.substr(end + 1);
        if (i > 0) line_ += before ? going_on_ : between_;
        put(line.data(), line.size(), utf8_display_width(line.data(), line.size()), i);
        before = r.data() != nullptr;
        more = more || before;
      }
      close_line(before);
    }
  }

  void put(const char* text, size_t bytes, size_t width, size_t i) {
    const size_t blanks = widths_[i] > width ? widths_[i] - width : 0;
    if (columns_[i].right) line_.append(blanks, ' ');
    line_.append(text, bytes);
    if (!columns_[i].right) line_.append(blanks, ' ');
  }

  // Border 2: "|" at both ends of a line, and "+---+" lines above, below and under the names.
  void begin_line() {
    if (framed_) line_ += "| ";
  }
  void frame() {
    line_ += "+-";
    rule("-+-");
  }
  void rule(const char* joint) {
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (i > 0) line_ += joint;
      line_.append(widths_[i], '-');
    }
    if (framed_) line_ += "-+";
    end_line();
  }
  // The end of a line of cells; going_on: the last cell goes on below.
  void close_line(bool going_on) {
    if (going_on) line_ += framed_ ? "+|" : "+";
    else if (framed_) line_ += " |";
    end_line();
  }

  // No blanks at the end of a line (border 2 ends it with "|").
  void end_line() {
    size_t end = line_.size();
    while (end > 0 && line_[end - 1] == ' ') --end;
    out_.write_utf8(line_.data(), framed_ ? line_.size() : end);
    out_.line_break();
    line_.clear();
  }

  console_writer& out_;
  std::string null_text_;
  bool names_;
  size_t cut_;
  bool framed_;  // border 2
  const char* between_;   // between two cells
  const char* going_on_;  // the same when the cell to the left goes on below
  const char* joint_;     // where the rule under the names crosses a column's end
  std::vector<column_layout> columns_;
  std::vector<size_t> widths_;
  size_t column_ = 0;
  size_t rows_ = 0;
  size_t start_ = 0;
  std::string text_;  // the values of the rows held, one after the other
  std::vector<cell> cells_;
  std::vector<std::string_view> rest_;
  std::string line_;
};

} // namespace

std::unique_ptr<row_writer> make_aligned_writer(console_writer& out, std::string null_text, bool names, size_t cut,
                                                int border) {
  return std::make_unique<aligned_writer>(out, std::move(null_text), names, cut, border);
}

} // namespace vela::terminal
