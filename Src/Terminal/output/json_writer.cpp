// JSON (RFC 8259): one array of objects a result set, or one object a line (JSON Lines).
// Numbers are numbers, booleans true and false, NULL is null, binary values are strings of "0x"
// and hexadecimal digits.
// A byte that is not part of valid UTF-8 text is written as \u00XX, the character of its Latin-1
// reading, so that the output always parses.
#include "Terminal/output/json_text.h"
#include "Terminal/output/row_writer.h"
#include "vela/console.h"

namespace vela::terminal {

namespace {

class json_writer final : public row_writer {
 public:
  json_writer(console_writer& out, bool lines) : out_(out), lines_(lines) {}

  void header(const std::vector<column_layout>& columns) override {
    keys_.clear();
    for (size_t i = 0; i < columns.size(); ++i) {
      std::string k = i == 0 ? "{\"" : ",\"";
      append_json_escaped(k, columns[i].name.data(), columns[i].name.size());
      k += "\":";
      keys_.push_back(std::move(k));
    }
    rows_ = 0;
  }
  void next_column(size_t i) override {
    if (i == 0 && !lines_) text_ += rows_ == 0 ? "[\n" : ",\n";
    if (i < keys_.size()) text_ += keys_[i];
  }
  void left_out(const column_layout& c) override { null(c); }
  void null(const column_layout&) override {
    number_ = false;
    if (open_) text_.resize(opened_at_);  // a long value that turned out NULL
    open_ = false;
    text_ += "null";
  }
  void value(const column_layout& c, const char* text, size_t bytes) override {
    if (is_number(c) && json_number(text, bytes)) {
      text_.append(text, bytes);
      return;
    }
    if (const char* word = boolean_word(c, text, bytes, true)) {
      text_ += word;
      return;
    }
    text_ += '"';
    append_json_escaped(text_, text, bytes);
    text_ += '"';
  }
  void begin_value(const column_layout& c) override {
    number_ = is_number(c);  // a number longer than its display size: held, then judged whole
    held_.clear();
    if (number_) return;
    open_ = true;
    opened_at_ = text_.size();
    text_ += '"';
  }
  void piece(const char* text, size_t bytes) override {
    if (number_) {
      held_.append(text, bytes);
      return;
    }
    append_json_escaped(text_, text, bytes);
    if (text_.size() >= 65536) {
      write();
      opened_at_ = 0;
    }
  }
  void end_value(const column_layout& c) override {
    if (number_) {
      number_ = false;
      value(c, held_.data(), held_.size());
      return;
    }
    open_ = false;
    text_ += '"';
  }
  void end_row() override {
    text_ += '}';
    ++rows_;
    if (lines_) text_ += '\n';
    if (text_.size() >= 16384) write();
  }
  void end_rows() override {
    if (!lines_) text_ += rows_ == 0 ? "[]\n" : "\n]\n";
    write();
    rows_ = 0;
  }

 private:
  void write() {
    out_.write_utf8(text_.data(), text_.size());
    text_.clear();
  }

  console_writer& out_;
  bool lines_;
  std::vector<std::string> keys_;  // '{' or ',', the quoted name and ':'
  size_t rows_ = 0;
  bool number_ = false;
  std::string held_;
  bool open_ = false;  // a value in pieces begun
  size_t opened_at_ = 0;
  std::string text_;
};

} // namespace

std::unique_ptr<row_writer> make_json_writer(console_writer& out, bool lines) {
  return std::make_unique<json_writer>(out, lines);
}

} // namespace vela::terminal
