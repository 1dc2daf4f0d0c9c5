// Where SQL statements end: the one scanner behind script files, "-q" texts and standard input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vela::terminal {

// A ";" ends a statement only outside quoted literals and identifiers ('…', E'…', "…", […],
// `…`), comments (-- to the line end, nested /* */), dollar-quoted bodies ($$…$$,
// $tag$…$tag$) and the BEGIN … END body of CREATE TRIGGER or BEGIN ATOMIC … END of
// CREATE FUNCTION/PROCEDURE.
// The scan keeps its place and state between calls, so a text that grows at its end (lines
// of standard input) is scanned once: linear time in the whole input.
class statement_scanner {
 public:
  static constexpr size_t npos = std::wstring::npos;

  // Scans text on from where the last call stopped. Returns the position of the ";" that
  // ends the current statement, or npos when the text ends first. With more_to_come, a
  // token cut by the end of the text (a word, "-", "/", "$", a closing tag) is scanned again
  // by the next call; without it, the end of the text ends every token.
  size_t find_end(std::wstring_view text, bool more_to_come);
  // The next statement begins at start (just after the ";" that find_end returned).
  void next_statement(size_t start);
  // The first n characters of the text were removed.
  void drop_front(size_t n) {
    pos_ -= n;
    start_ -= has_content_ ? n : 0;
  }

  // What was scanned of the statement is comments and white space only (its ";" aside),
  // and no comment is left open.
  bool comment_only() const { return has_comment_ && !has_content_ && mode_ != mode::block_comment; }
  // Where the statement itself begins: comments before its first word are not sent with it
  // (a driver may take a ";" in them for the end of the statement). Without such comments,
  // from, where the caller's piece of text begins.
  size_t statement_start(size_t from) const { return has_content_ && lead_comment_ ? start_ : from; }
  // The scan stopped inside a "--" comment, or after "--" on the current line of a
  // dollar-quoted body (which is code that the server parses again).
  bool in_line_comment() const {
    return mode_ == mode::line_comment || (mode_ == mode::dollar && body_comment_);
  }

 private:
  enum class mode : uint8_t { normal, single, escaped, double_quote, bracket, backquote, line_comment, block_comment, dollar };
  enum class kind : uint8_t { undecided, create, trigger, routine, other };
  enum class last : uint8_t { other, semicolon, begin, opened };

  void word(std::wstring_view w);
  void begins_at(size_t p) {
    if (has_content_) return;
    has_content_ = true;
    lead_comment_ = has_comment_;
    start_ = p;
  }
  // Anything but a word, a ";" or white space.
  void content(size_t p) {
    begins_at(p);
    if (kind_ == kind::undecided || kind_ == kind::create) kind_ = kind::other;
    last_ = last::other;
  }

  size_t pos_ = 0;
  mode mode_ = mode::normal;
  uint32_t comment_depth_ = 0;
  std::wstring tag_;
  bool body_comment_ = false;
  // Of the current statement.
  kind kind_ = kind::undecided;
  last last_ = last::other;
  std::vector<char> blocks_;  // 'B' a BEGIN body, 'C' a CASE inside it
  bool has_content_ = false;
  bool has_comment_ = false;
  bool lead_comment_ = false;
  size_t start_ = 0;
};

// Cuts a text that arrives in pieces (a script file read a piece at a time) into the same
// statements as split_statements cuts the whole text into; holds only what is not cut yet.
class statement_splitter {
 public:
  // size_hint: at least the length of the whole text, when known (0 when not).
  explicit statement_splitter(std::vector<std::wstring>& statements, size_t size_hint = 0)
      : statements_(statements), size_hint_(size_hint) {}
  void add(std::wstring_view piece);
  // The text has ended.
  void finish();

 private:
  statement_scanner scan_;
  std::wstring text_;
  std::vector<std::wstring>& statements_;
  size_t size_hint_;
  size_t added_ = 0;
  static constexpr size_t big_statement = 8u << 20;  // characters
};

} // namespace vela::terminal
