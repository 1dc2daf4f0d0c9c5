// A GitHub-flavoured Markdown table: a header row, its delimiter row (numbers aligned right),
// one row a record. Characters that Markdown would read as markup are escaped with "\", line
// breaks become "<br>", so each cell renders as its value.
#include "Terminal/output/row_writer.h"
#include "vela/console.h"

namespace vela::terminal {

namespace {

void append_cell(std::string& to, const char* s, size_t n) {
  size_t from = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = s[i];
    switch (c) {
      case '\\': case '|': case '*': case '_': case '`': case '<': case '>': case '[': case ']': case '~':
      case '&': case '#': case '!':
        to.append(s + from, i - from);
        to += '\\';
        to += c;
        break;
      case '\n':
      case '\r':
        to.append(s + from, i - from);
        if (c == '\n' || i + 1 == n || s[i + 1] != '\n') to += "<br>";
        break;
      default: continue;
    }
    from = i + 1;
  }
  to.append(s + from, n - from);
}

class markdown_writer final : public row_writer {
 public:
  markdown_writer(console_writer& out, std::string null_text) : out_(out), null_text_(std::move(null_text)) {}

  void header(const std::vector<column_layout>& columns) override {
    line_.assign(1, '|');
    for (const column_layout& c : columns) {
      line_ += ' ';
      append_cell(line_, c.name.data(), c.name.size());
      line_ += " |";
    }
    line_ += "\n|";
    for (const column_layout& c : columns) line_ += is_number(c) ? " ---: |" : " --- |";
    write_line();
  }
  void next_column(size_t i) override { line_ += i == 0 ? "| " : " | "; }
  void left_out(const column_layout& c) override { null(c); }
  void null(const column_layout&) override {
    if (open_) line_.resize(opened_at_);
    open_ = false;
    append_cell(line_, null_text_.data(), null_text_.size());
  }
  void value(const column_layout&, const char* text, size_t bytes) override { append_cell(line_, text, bytes); }
  void begin_value(const column_layout&) override {
    open_ = true;
    opened_at_ = line_.size();
  }
  void piece(const char* text, size_t bytes) override { append_cell(line_, text, bytes); }
  void end_value(const column_layout&) override { open_ = false; }
  void end_row() override {
    line_ += " |";
    write_line();
  }

 private:
  void write_line() {
    out_.write_utf8(line_.data(), line_.size());
    out_.line_break();
    line_.clear();
  }

  console_writer& out_;
  std::string null_text_;
  bool open_ = false;
  size_t opened_at_ = 0;
  std::string line_;
};

} // namespace

std::unique_ptr<row_writer> make_markdown_writer(console_writer& out, std::string null_text) {
  return std::make_unique<markdown_writer>(out, std::move(null_text));
}

} // namespace vela::terminal
