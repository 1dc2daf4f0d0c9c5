// Where SQL statements end: the one scanner behind script files, "-q" texts and standard input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "vela/odbc/driver.h"

namespace vela::terminal {

// A ";" ends a statement only outside quoted literals and identifiers ('…', E'…', "…", […],
// `…`), comments (-- to the line end, nested /* */), dollar-quoted bodies ($$…$$,
// $tag$…$tag$) and the BEGIN … END body of CREATE TRIGGER or BEGIN ATOMIC … END of
// CREATE FUNCTION/PROCEDURE.
// In the MySQL dialect: backslash escapes in '…' and "…", # comments, /*! … */ scanned as
// part of the statement, the DELIMITER directive, and BEGIN … END bodies of CREATE
// PROCEDURE/FUNCTION/TRIGGER/EVENT (END IF, LOOP, WHILE, REPEAT and CASE close their own).
// At a statement's start, a line beginning with "\" (and in the MySQL dialect "source")
// is a client command, ended by its line end. The data block after COPY … FROM stdin runs
// to the line "\.".
// The scan keeps its place and state between calls, so a text that grows at its end (lines
// of standard input) is scanned once: linear time in the whole input.
class statement_scanner {
 public:
  static constexpr size_t npos = std::wstring::npos;
  // What find_end found the end of.
  enum class item : uint8_t { sql, client_command, delimiter, copy_data };

  void set_dialect(odbc::script_dialect d) { mysql_ = d == odbc::script_dialect::mysql; }
  // The text given to find_end ends at a line end (a line of standard input): no token goes
  // on past it, though a statement may.
  void set_at_line_end(bool at_line_end) { at_line_end_ = at_line_end; }
  bool mysql() const { return mysql_; }
  // The statement terminator a DELIMITER directive chose (";" until one does).
  const std::wstring& delimiter() const { return delimiter_; }
  void set_delimiter(std::wstring d) { delimiter_ = std::move(d); }
  // Called with the bounds of each data line of a COPY block (its line end left out).
  std::function<void(size_t begin, size_t end)> copy_line;
  // Where a ":" stands outside quotes, comments and bodies (where variables are put in): its
  // positions in the text are added to at (null: not kept).
  void mark_colons(std::vector<size_t>* at) { colons_ = at; }

  // Scans text on from where the last call stopped. Returns the position of the ";" (the
  // delimiter, the line end) that ends the current item, or npos when the text ends first;
  // an item ended by a line (a client command, a COPY data block) ends at the text's end
  // when nothing more comes. With more_to_come, a
  // token cut by the end of the text (a word, "-", "/", "$", a closing tag) is scanned again
  // by the next call; without it, the end of the text ends every token.
  size_t find_end(std::wstring_view text, bool more_to_come);
  // The kind of item, and the length of its terminator (0 at the end of the text).
  item ended() const { return ended_; }
  size_t terminator_length() const { return end_length_; }
  // The statement just ended is COPY … FROM stdin: its data block follows.
  bool copy_follows() const { return mode_ == mode::copy_rest; }
  // Data lines of the COPY block ended; whether the scan is inside such a block (the text
  // scanned so far need not be kept).
  size_t copy_lines() const { return copy_lines_; }
  bool in_copy_data() const { return mode_ == mode::copy_rest || mode_ == mode::copy_data; }
  size_t position() const { return pos_; }
  // The statement (its ";" aside) has more than white space and closed comments.
  bool has_content() const { return has_content_ || mode_ == mode::block_comment; }
  // A line break at the current place is part of the text: inside a literal, quoted name,
  // comment, body, COPY block, or a line item not ended yet.
  bool keeps_line_break() const;
  // The scan stopped inside something the next line goes on with: a literal, quoted name,
  // block comment, dollar-quoted or BEGIN … END body, or a COPY data block.
  bool inside_open_part() const;
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
  // Where the statement's first word (or other character outside comments) is.
  size_t first_char(size_t from) const { return has_content_ ? start_ : from; }
  // The scan stopped inside a "--" comment, or after "--" on the current line of a
  // dollar-quoted body (which is code that the server parses again).
  bool in_line_comment() const {
    return mode_ == mode::line_comment || (mode_ == mode::dollar && body_comment_);
  }

 private:
  enum class mode : uint8_t {
    normal, single, escaped, double_quote, bracket, backquote, line_comment, block_comment, dollar, copy_rest, copy_data
  };
  enum class kind : uint8_t { undecided, create, definer, trigger, routine, copy, other };
  enum class last : uint8_t { other, semicolon, begin, opened };

  // What one step of the scan did: went on, needs more text, found the end (or was not
  // the kind of token the step looks for).
  enum class step : uint8_t { next, wait, done, none };
  struct cursor;
  step scan_normal(cursor& c, size_t& end);
  step scan_inside(cursor& c);
  step scan_quote(cursor& c);
  step scan_dollar_body(cursor& c);
  step scan_line_item(cursor& c, size_t& end);
  step scan_word(cursor& c);
  step scan_comment_start(cursor& c);
  step scan_dollar(cursor& c);

  void word(std::wstring_view w);
  // The END before this token closes a BEGIN block or a CASE (MySQL: decided by the next word).
  void settle_end();
  // An item that ends with its line, from p: its end, or npos to wait for more text.
  size_t line_item(std::wstring_view text, size_t p, bool more_to_come, item what);
  size_t copy_block(std::wstring_view text, size_t p, bool more_to_come);
  void begins_at(size_t p) {
    if (has_content_) return;
    has_content_ = true;
    lead_comment_ = has_comment_;
    start_ = p;
  }
  // Anything but a word, a ";" or white space.
  void content(size_t p) {
    begins_at(p);
    settle_end();
    if (kind_ == kind::definer) return;
    if (kind_ == kind::undecided || kind_ == kind::create) kind_ = kind::other;
    last_ = last::other;
  }

  size_t pos_ = 0;
  std::vector<size_t>* colons_ = nullptr;
  bool mysql_ = false;
  bool at_line_end_ = false;
  std::wstring delimiter_ = L";";
  item ended_ = item::sql;
  size_t end_length_ = 1;
  size_t copy_lines_ = 0;
  bool versioned_ = false;  // inside /*! … */
  bool end_pending_ = false;
  bool from_ = false;  // COPY …: the last word was FROM
  bool copy_stdin_ = false;
  bool line_wait_ = false;  // a line item waits for its line end
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

// One item of a script, as the scanner cuts it.
struct script_item {
  using kind_type = statement_scanner::item;
  // sql: a statement; client_command: its line, without a trailing ";"; copy_data: the
  // COPY … FROM stdin statement, its data block skipped and counted.
  kind_type kind = kind_type::sql;
  std::wstring text;
  size_t line = 0;  // where the item begins, from 1
  size_t data_lines = 0;
  // The text ended before the statement's terminator.
  bool unterminated = false;
  // With copy rows on, a COPY block comes as steps: its statement (begin), each data line
  // (row, text the line), then the end as above.
  enum class copy_step : uint8_t { end, begin, row };
  copy_step step = copy_step::end;
};

// Cuts a text that arrives in pieces (a script file read a piece at a time, or lines of
// standard input) into items, and hands each one over as soon as it is complete: only what
// is not cut yet is held, and a COPY data block is skipped as it is scanned.
class script_cutter {
 public:
  // Returns false to stop the cut.
  using sink = std::function<bool(script_item&)>;
  // keep_terminator: statements keep their ";" and are trimmed (scripts); without it the
  // ";" is left out (standard input). size_hint: at least the length of the whole text,
  // when known (0 when not).
  explicit script_cutter(bool keep_terminator, size_t size_hint = 0)
      : keep_terminator_(keep_terminator), size_hint_(size_hint) {}
  void set_dialect(odbc::script_dialect d) { scan_.set_dialect(d); }
  const std::wstring& delimiter() const { return scan_.delimiter(); }
  void set_delimiter(std::wstring d) { scan_.set_delimiter(std::move(d)); }
  // COPY blocks are handed over line by line (their statement first) to be loaded.
  void set_copy_rows(bool on) { copy_rows_ = on; }
  // A piece of a script's text.
  bool add(std::wstring_view piece, const sink& run);
  // A line of standard input: joined to the text before it with a blank, or with a line
  // break where the break is part of the text (a literal, comment, body, client command).
  bool add_line(std::wstring_view line, const sink& run);
  // The text has ended.
  bool finish(const sink& run);
  // Lines of standard input: the first line added is line n (from 1), lines before it
  // having gone elsewhere.
  void set_first_line(size_t n) { added_ = n - 1; }
  // Text of a statement not ended yet is held (not white space or comments only).
  bool holds_statement() const { return scan_.has_content() || scan_.inside_open_part(); }
  // What is held stops inside a literal, comment, body or data block.
  bool inside_open_part() const { return scan_.inside_open_part(); }
  // The text held, white space at its ends left out.
  std::wstring held_text() const;

 private:
  bool cut(bool more_to_come, const sink& run);
  size_t line_of(size_t at);
  void drop(size_t n);
  // What handing over one item did: went on, stopped, or moved the text out (and stopped).
  enum class handed { go, stop, moved, stop_moved };
  handed hand_over(statement_scanner::item what, size_t& s, size_t p, size_t end, bool last, const sink& run);
  void pass_copy_lines(const sink& run, bool& halted);

  statement_scanner scan_;
  std::wstring text_;
  bool keep_terminator_;
  bool by_lines_ = false;
  size_t size_hint_;
  size_t added_ = 0;
  // Line numbers: text_[0] is at offset base_ of the whole text; lines are counted up to
  // counted_ (line breaks in a script, the starts of standard input's lines).
  size_t base_ = 0;
  size_t counted_ = 0;
  size_t line_ = 1;
  std::deque<size_t> line_starts_;
  script_item copy_;  // a COPY statement whose data block is being skipped
  bool copy_rows_ = false;
  script_item row_;  // a data line of the block
  static constexpr size_t big_statement = 8u << 20;  // characters
};

// Cuts a text that arrives in pieces into the same statements as split_statements cuts the
// whole text into.
class statement_splitter {
 public:
  explicit statement_splitter(std::vector<std::wstring>& statements, size_t size_hint = 0)
      : cutter_(true, size_hint), statements_(statements) {}
  void add(std::wstring_view piece) { cutter_.add(piece, collect()); }
  void finish() { cutter_.finish(collect()); }

 private:
  script_cutter::sink collect() {
    return [this](script_item& it) {
      if (it.kind == script_item::kind_type::sql) statements_.push_back(std::move(it.text));
      return true;
    };
  }
  script_cutter cutter_;
  std::vector<std::wstring>& statements_;
};

} // namespace vela::terminal
