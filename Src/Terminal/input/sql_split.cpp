#include "Terminal/input/sql_split.h"

#include <algorithm>
#include <cwctype>

#include "vela/wstr.h"

namespace vela::terminal {

namespace {

bool is_word_char(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' || c == L'$' ||
         c >= 0x80;
}

// A dollar-quote tag: a letter or underscore, then letters, digits or underscores.
bool is_tag_start(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c >= 0x80; }
bool is_tag_char(wchar_t c) { return is_tag_start(c) || (c >= L'0' && c <= L'9'); }

bool is_space(wchar_t c) { return c == L' ' || c == L'\n' || c == L'\r' || c == L'\t' || std::iswspace(static_cast<wint_t>(c)); }

bool is(std::wstring_view w, std::wstring_view keyword) {
  return w.size() == keyword.size() && compare_nocase(w, keyword) == 0;
}

} // namespace

void statement_scanner::next_statement(size_t start) {
  pos_ = start;
  kind_ = kind::undecided;
  last_ = last::other;
  blocks_.clear();
  has_content_ = false;
  has_comment_ = false;
  lead_comment_ = false;
  versioned_ = false;
  end_pending_ = false;
  from_ = false;
  copy_stdin_ = false;
  line_wait_ = false;
}

bool statement_scanner::keeps_line_break() const {
  return mode_ != mode::normal || versioned_ || !blocks_.empty() || line_wait_;
}

bool statement_scanner::inside_open_part() const {
  return (mode_ != mode::normal && mode_ != mode::line_comment) || versioned_ || !blocks_.empty();
}

void statement_scanner::settle_end() {
  if (!end_pending_) return;
  end_pending_ = false;
  // A block's END follows a statement's ";" (or its BEGIN when empty); any other END is
  // a CASE's, or a name.
  if (!blocks_.empty() && (blocks_.back() == 'C' || last_ == last::semicolon || last_ == last::opened)) blocks_.pop_back();
}

// Keeps track of the statement's first words (CREATE [TEMP|OR REPLACE|…] TRIGGER, FUNCTION or
// PROCEDURE; COPY … FROM stdin) and, inside those statements, of the BEGIN … END blocks and
// the CASE … END expressions in them.
void statement_scanner::word(std::wstring_view w) {
  if (end_pending_) {
    end_pending_ = false;
    if (is(w, L"CASE")) {
      if (!blocks_.empty() && blocks_.back() == 'C') blocks_.pop_back();
      last_ = last::other;
      return;
    }
    if (is(w, L"IF") || is(w, L"LOOP") || is(w, L"WHILE") || is(w, L"REPEAT")) {
      last_ = last::other;
      return;
    }
    end_pending_ = true;
    settle_end();
  }
  switch (kind_) {
    case kind::undecided:
      kind_ = is(w, L"CREATE") ? kind::create : !mysql_ && is(w, L"COPY") ? kind::copy : kind::other;
      return;
    case kind::create:
    case kind::definer:
      if (is(w, L"TRIGGER") || (mysql_ && is(w, L"EVENT"))) kind_ = kind::trigger;
      // MySQL routines have plain BEGIN … END bodies, as triggers have.
      else if (is(w, L"FUNCTION") || is(w, L"PROCEDURE")) kind_ = mysql_ ? kind::trigger : kind::routine;
      else if (mysql_ && (is(w, L"DEFINER") || kind_ == kind::definer)) kind_ = is(w, L"VIEW") || is(w, L"TABLE") ? kind::other : kind::definer;
      else if (!is(w, L"TEMP") && !is(w, L"TEMPORARY") && !is(w, L"OR") && !is(w, L"REPLACE") && !is(w, L"CONSTRAINT") &&
               !(mysql_ && is(w, L"AGGREGATE")))
        kind_ = kind::other;
      return;
    case kind::copy:
      if (from_ && is(w, L"STDIN")) copy_stdin_ = true;
      from_ = is(w, L"FROM");
      return;
    case kind::other: return;
    case kind::trigger:
    case kind::routine: break;
  }
  if (w.size() < 3 || w.size() > 6) {
    last_ = last::other;
    return;
  }
  if (is(w, L"BEGIN")) {
    if (kind_ == kind::trigger) {
      blocks_.push_back('B');
      last_ = last::opened;
    } else {
      last_ = last::begin;
    }
    return;
  }
  if (is(w, L"ATOMIC") && last_ == last::begin) {
    blocks_.push_back('B');
    last_ = last::opened;
    return;
  }
  if (is(w, L"CASE")) {
    if (!blocks_.empty()) blocks_.push_back('C');
  } else if (is(w, L"END") && !blocks_.empty()) {
    end_pending_ = true;
    // MySQL's END IF, END LOOP, … close only their own construct: the next word says.
    if (!mysql_) settle_end();
    else return;
  }
  last_ = last::other;
}

size_t statement_scanner::line_item(std::wstring_view text, size_t p, bool more_to_come, item what) {
  const size_t e = text.find(L'\n', p);
  line_wait_ = e == npos && more_to_come;
  if (line_wait_) return npos;
  begins_at(p);
  ended_ = what;
  end_length_ = e == npos ? 0 : 1;
  return e == npos ? text.size() : e;
}

size_t statement_scanner::copy_block(std::wstring_view text, size_t p, bool more_to_come) {
  const size_t n = text.size();
  while (p < n) {
    size_t e = text.find(L'\n', p);
    if (e == npos) {
      if (more_to_come) break;
      e = n;
    }
    if (mode_ == mode::copy_rest) {
      mode_ = mode::copy_data;  // the rest of the COPY line
    } else {
      std::wstring_view line = text.substr(p, e - p);
      if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
      if (line == L"\\.") {
        mode_ = mode::normal;
        ended_ = item::copy_data;
        end_length_ = e < n ? 1 : 0;
        pos_ = e;
        return e;
      }
      ++copy_lines_;
      if (copy_line) copy_line(p, p + line.size());
    }
    p = e < n ? e + 1 : n;
  }
  pos_ = p;
  if (!more_to_come) {
    // The text ended inside the block: it ends there.
    mode_ = mode::normal;
    ended_ = item::copy_data;
    end_length_ = 0;
    return n;
  }
  return npos;
}

// Where the scan of one call stands: the text, the position, and whether a token cut at the
// end of the text may go on in the next call (no token goes on past a line end).
struct statement_scanner::cursor {
  std::wstring_view text;
  const wchar_t* t;
  size_t n;
  size_t p;
  bool more_to_come;
  bool token_more;
  bool cut(size_t need) const { return p + need > n && token_more; }
  bool at(size_t i, wchar_t c) const { return i < n && t[i] == c; }
};

size_t statement_scanner::find_end(std::wstring_view text, bool more_to_come) {
  cursor c{text, text.data(), text.size(), pos_, more_to_come, more_to_come && !at_line_end_};
  if (mode_ == mode::copy_rest || mode_ == mode::copy_data) {
    if (mode_ == mode::copy_rest) copy_lines_ = 0;
    return copy_block(text, c.p, more_to_come);
  }
  ended_ = item::sql;
  end_length_ = delimiter_.size();
  size_t end = npos;
  while (c.p < c.n) {
    const step s = mode_ == mode::normal || mode_ == mode::copy_rest || mode_ == mode::copy_data ? scan_normal(c, end)
                                                                                                  : scan_inside(c);
    if (s == step::wait) break;
    if (s == step::done) return end;
  }
  pos_ = c.p;
  return npos;
}

// Inside quotes, comments and dollar-quoted bodies.
statement_scanner::step statement_scanner::scan_inside(cursor& c) {
  const wchar_t ch = c.t[c.p];
  switch (mode_) {
    case mode::line_comment:
      if (ch == L'\n') mode_ = mode::normal;
      break;
    case mode::block_comment:
      if ((ch == L'*' || ch == L'/') && c.p + 1 < c.n) {
        if (ch == L'*' && c.t[c.p + 1] == L'/') {
          c.p += 2;
          if (--comment_depth_ == 0) mode_ = mode::normal;
          return step::next;
        }
        if (ch == L'/' && c.t[c.p + 1] == L'*' && !mysql_) {
          c.p += 2;
          ++comment_depth_;
          return step::next;
        }
      } else if ((ch == L'*' || ch == L'/') && c.cut(2)) {
        return step::wait;
      }
      break;
    case mode::single:
    case mode::double_quote: return scan_quote(c);
    case mode::backquote:
      if (ch == L'`') mode_ = mode::normal;
      break;
    case mode::bracket:
      if (ch == L']') mode_ = mode::normal;
      break;
    case mode::escaped:
      if (ch == L'\\' || ch == L'\'') {
        if (c.cut(2)) return step::wait;
        if (ch == L'\\' || c.at(c.p + 1, L'\'')) {
          c.p = c.p + 2 < c.n ? c.p + 2 : c.n;
          return step::next;
        }
        mode_ = mode::normal;
      }
      break;
    case mode::dollar: return scan_dollar_body(c);
    default: break;
  }
  ++c.p;
  return step::next;
}

statement_scanner::step statement_scanner::scan_quote(cursor& c) {
  const wchar_t quote = mode_ == mode::single ? L'\'' : L'"';
  if (!mysql_) {
    // Straight to the closing quote: a long literal is skipped at memory speed.
    const size_t q = c.text.find(quote, c.p);
    if (q == npos) {
      c.p = c.n;
      return step::next;
    }
    mode_ = mode::normal;  // a doubled quote closes and opens again
    c.p = q + 1;
    return step::next;
  }
  if (c.t[c.p] == L'\\') {
    if (c.cut(2)) return step::wait;
    c.p = c.p + 2 < c.n ? c.p + 2 : c.n;
    return step::next;
  }
  // A doubled quote closes and opens again.
  if (c.t[c.p] == quote) mode_ = mode::normal;
  ++c.p;
  return step::next;
}

statement_scanner::step statement_scanner::scan_dollar_body(cursor& c) {
  const wchar_t ch = c.t[c.p];
  if (ch == L'$') {
    const size_t end = c.p + 1 + tag_.size();
    if (end < c.n) {
      if (c.t[end] == L'$' && c.text.compare(c.p + 1, tag_.size(), tag_) == 0) {
        c.p = end + 1;
        mode_ = mode::normal;
        return step::next;
      }
    } else if (c.token_more && c.text.substr(c.p + 1) == std::wstring_view(tag_).substr(0, c.n - c.p - 1)) {
      return step::wait;  // perhaps the closing tag, cut
    }
  } else if (ch == L'-') {
    if (c.cut(2)) return step::wait;
    if (c.at(c.p + 1, L'-')) {
      body_comment_ = true;
      c.p += 2;
      return step::next;
    }
  } else if (ch == L'\n') {
    body_comment_ = false;
  }
  ++c.p;
  return step::next;
}

// Outside quotes and comments.
statement_scanner::step statement_scanner::scan_normal(cursor& c, size_t& end) {
  const wchar_t ch = c.t[c.p];
  if (is_space(ch)) {
    ++c.p;
    return step::next;
  }
  if (!has_content_) {
    const step s = scan_line_item(c, end);
    if (s != step::none) return s;
  }
  if (ch == delimiter_[0] && (delimiter_.size() == 1 || c.text.compare(c.p, delimiter_.size(), delimiter_) == 0)) {
    const bool semicolon = delimiter_ == L";";
    if (semicolon) settle_end();
    // A custom delimiter ends the statement wherever it stands.
    if (!semicolon || blocks_.empty()) {
      if (kind_ == kind::copy && copy_stdin_) mode_ = mode::copy_rest;
      pos_ = c.p + delimiter_.size();
      end = c.p;
      return step::done;
    }
    last_ = last::semicolon;
    ++c.p;
    return step::next;
  }
  if (delimiter_.size() > 1 && ch == delimiter_[0] && c.token_more &&
      c.text.substr(c.p) == std::wstring_view(delimiter_).substr(0, c.n - c.p))
    return step::wait;  // perhaps the delimiter, cut
  if (ch == L';') {
    content(c.p);
    ++c.p;
    return step::next;
  }
  if (is_word_char(ch) && ch != L'$') return scan_word(c);
  const step s = scan_comment_start(c);
  if (s != step::none) return s;
  if (ch == L'$' && !mysql_) return scan_dollar(c);
  content(c.p);
  switch (ch) {
    case L'\'': mode_ = mode::single; break;
    case L'"': mode_ = mode::double_quote; break;
    case L'`': mode_ = mode::backquote; break;
    case L'[':
      if (!mysql_) mode_ = mode::bracket;
      break;
    case L':':
      if (colons_) colons_->push_back(c.p);
      break;
    default: break;
  }
  ++c.p;
  return step::next;
}

// Items that end with their line, at the start of a statement: client commands and the
// DELIMITER directive.
statement_scanner::step statement_scanner::scan_line_item(cursor& c, size_t& end) {
  const wchar_t ch = c.t[c.p];
  if (ch == L'\\') {
    const size_t e = line_item(c.text, c.p, c.more_to_come, item::client_command);
    if (e == npos) return step::wait;
    pos_ = end = e;
    return step::done;
  }
  if (!mysql_ || !(ch == L'd' || ch == L'D' || ch == L's' || ch == L'S')) return step::none;
  size_t q = c.p;
  while (q < c.n && is_word_char(c.t[q])) ++q;
  if (q == c.n && c.token_more) return step::wait;
  const std::wstring_view w(c.t + c.p, q - c.p);
  const bool directive = is(w, L"DELIMITER");
  if (!(directive || is(w, L"SOURCE")) || !(c.at(q, L' ') || c.at(q, L'\t'))) return step::none;
  const size_t e = line_item(c.text, c.p, c.more_to_come, directive ? item::delimiter : item::client_command);
  if (e == npos) return step::wait;
  if (directive) {
    std::wstring_view arg = c.text.substr(q, e - q);
    while (!arg.empty() && is_space(arg.front())) arg.remove_prefix(1);
    size_t k = 0;
    while (k < arg.size() && !is_space(arg[k])) ++k;
    if (k > 0) delimiter_.assign(arg.substr(0, k));
  }
  pos_ = end = e;
  return step::done;
}

statement_scanner::step statement_scanner::scan_word(cursor& c) {
  const size_t p = c.p;
  size_t q = p + 1;
  // A delimiter such as "$$" may follow a word directly.
  const bool word_delimiter = delimiter_.size() > 1 && is_word_char(delimiter_[0]);
  while (q < c.n && is_word_char(c.t[q]) && !(word_delimiter && c.text.compare(q, delimiter_.size(), delimiter_) == 0)) ++q;
  if (q == c.n && c.token_more) return step::wait;
  begins_at(p);
  if (kind_ != kind::other || end_pending_) word(std::wstring_view(c.t + p, q - p));
  if (c.at(q, L'\'') && q - p == 1 && (c.t[p] == L'E' || c.t[p] == L'e') && !mysql_) {
    mode_ = mode::escaped;  // E'…': backslash escapes
    last_ = last::other;
    ++q;
  }
  c.p = q;
  return step::next;
}

// "--", "#" (MySQL), "/*", a versioned "/*!" (MySQL) and its closing "*/".
statement_scanner::step statement_scanner::scan_comment_start(cursor& c) {
  const wchar_t ch = c.t[c.p];
  if ((ch == L'-' || ch == L'/' || (ch == L'*' && versioned_)) && c.cut(2)) return step::wait;
  // "/*!" and "/*M!" need their third and fourth characters.
  if (mysql_ && ch == L'/' && c.at(c.p + 1, L'*') && c.cut(4)) return step::wait;
  if ((ch == L'-' && c.at(c.p + 1, L'-')) || (mysql_ && ch == L'#')) {
    mode_ = mode::line_comment;
    has_comment_ = true;
    c.p += ch == L'#' ? 1 : 2;
    return step::next;
  }
  if (ch == L'/' && c.at(c.p + 1, L'*')) {
    if (mysql_ && (c.at(c.p + 2, L'!') || (c.at(c.p + 2, L'M') && c.at(c.p + 3, L'!')))) {
      // A versioned comment: code the server runs, scanned as part of the statement.
      size_t q = c.p + (c.t[c.p + 2] == L'!' ? 3 : 4);
      while (q < c.n && c.t[q] >= L'0' && c.t[q] <= L'9') ++q;
      if (q == c.n && c.token_more) return step::wait;  // the version may go on
      begins_at(c.p);
      versioned_ = true;
      c.p = q;
      return step::next;
    }
    mode_ = mode::block_comment;
    comment_depth_ = 1;
    has_comment_ = true;
    c.p += 2;
    return step::next;
  }
  if (versioned_ && ch == L'*' && c.at(c.p + 1, L'/')) {
    versioned_ = false;
    c.p += 2;
    return step::next;
  }
  return step::none;
}

// $$ or $tag$ opens a dollar-quoted body; $1 is a parameter.
statement_scanner::step statement_scanner::scan_dollar(cursor& c) {
  const size_t p = c.p;
  size_t q = p + 1;
  if (q < c.n && is_tag_start(c.t[q]))
    while (q < c.n && is_tag_char(c.t[q])) ++q;
  if (q == c.n && c.token_more) return step::wait;
  content(p);
  if (c.at(q, L'$')) {
    tag_.assign(c.t + p + 1, q - p - 1);
    mode_ = mode::dollar;
    body_comment_ = false;
    c.p = q + 1;
  } else {
    ++c.p;
  }
  return step::next;
}

namespace {

void trim_statement(std::wstring& piece) {
  trim(piece, L" ");
  trim(piece, L"\r\n");
}

} // namespace

size_t script_cutter::line_of(size_t at) {
  const size_t abs = base_ + at;
  if (by_lines_) {
    while (line_starts_.size() > 1 && line_starts_[1] <= abs) {
      line_starts_.pop_front();
      ++line_;
    }
    return line_;
  }
  if (abs > counted_) {
    line_ += static_cast<size_t>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(counted_ - base_),
                                            text_.begin() + static_cast<std::ptrdiff_t>(at), L'\n'));
    counted_ = abs;
  }
  return line_;
}

void script_cutter::drop(size_t n) {
  if (n == 0) return;
  if (!by_lines_) line_of(n);
  text_.erase(0, n);
  base_ += n;
  scan_.drop_front(n);
}

// A statement or a client command that ends at p (end: past its terminator) made into an
// item and handed over, or held as the COPY statement whose data block follows.
script_cutter::handed script_cutter::hand_over(statement_scanner::item what, size_t& s, size_t p, size_t end, bool last,
                                               const sink& run) {
  using kind = statement_scanner::item;
  size_t from = scan_.statement_start(s);
  script_item it;
  it.kind = what;
  it.line = line_of(scan_.first_char(from));
  it.unterminated = last;
  // A custom delimiter is never part of the statement; ";" is in scripts.
  size_t stop = what == kind::sql && !last && (!keep_terminator_ || scan_.terminator_length() != 1 || text_[p] != L';') ? p : end;
  if (what == kind::client_command) {
    from = scan_.first_char(s);
    stop = p;
    while (stop > from && (std::iswspace(static_cast<wint_t>(text_[stop - 1])) || text_[stop - 1] == L';')) --stop;
  }
  if (scan_.copy_follows()) {
    copy_ = std::move(it);
    copy_.kind = kind::copy_data;
    copy_.text = text_.substr(from, stop - from);
    if (!copy_rows_) return handed::go;
    script_item begin = copy_;
    begin.step = script_item::copy_step::begin;
    return run(begin) ? handed::go : handed::stop;
  }
  if (keep_terminator_ && stop - from > text_.size() / 2 && stop - from > big_statement / 2) {
    // Most of the text: moved out rather than copied.
    std::wstring rest = text_.substr(end);
    line_of(end);
    text_.resize(stop);
    text_.erase(0, from);
    it.text = std::move(text_);
    text_ = std::move(rest);
    base_ += end;
    scan_.drop_front(end);
    s = 0;
    if (!last) scan_.next_statement(0);
    trim_statement(it.text);
    if (!it.text.empty() && !run(it)) return handed::stop_moved;
    return handed::moved;
  }
  it.text = text_.substr(from, stop - from);
  if (keep_terminator_) trim_statement(it.text);
  return it.text.empty() || run(it) ? handed::go : handed::stop;
}

// Data lines of a COPY block go to the sink one at a time, as the scanner passes them.
void script_cutter::pass_copy_lines(const sink& run, bool& halted) {
  scan_.copy_line = [this, &run, &halted](size_t b, size_t e) {
    if (halted) return;
    row_.kind = statement_scanner::item::copy_data;
    row_.step = script_item::copy_step::row;
    row_.line = line_of(b);
    row_.text.assign(text_, b, e - b);
    if (!run(row_)) halted = true;
  };
}

bool script_cutter::cut(bool more_to_come, const sink& run) {
  using kind = statement_scanner::item;
  size_t s = 0;
  bool first = true;
  bool halted = false;  // a data line's sink stopped the cut
  const bool passing = copy_rows_ && !scan_.copy_line;
  if (passing) pass_copy_lines(run, halted);
  struct reset_sink {
    statement_scanner& scan;
    bool on;
    ~reset_sink() {
      if (on) scan.copy_line = nullptr;
    }
  } reset{scan_, passing};
  while (s < text_.size() || (!more_to_come && scan_.in_copy_data())) {
    if (!keep_terminator_ && !first)
      while (s < text_.size() && std::iswspace(static_cast<wint_t>(text_[s]))) ++s;
    const size_t p = scan_.find_end(text_, more_to_come);
    const bool last = p == statement_scanner::npos;
    if (last && more_to_come) {
      if (scan_.in_copy_data()) s = scan_.position();  // data lines are not kept
      if (halted) {
        drop(s);
        return false;
      }
      break;
    }
    first = false;
    const size_t end = last ? text_.size() : p + scan_.terminator_length();
    const kind what = last ? kind::sql : scan_.ended();
    bool go = true;
    if (what == kind::copy_data) {
      copy_.data_lines = scan_.copy_lines();
      copy_.step = script_item::copy_step::end;
      go = !halted && run(copy_);
      copy_ = script_item();
    } else if (what != kind::delimiter && scan_.has_content()) {
      const handed h = hand_over(what, s, p, end, last, run);
      if (h == handed::stop_moved) return false;
      if (h == handed::moved) {
        if (last) return true;
        continue;
      }
      go = h == handed::go;
    }
    if (last) {
      s = text_.size();
      if (!go) return false;
      break;
    }
    s = end;
    scan_.next_statement(s);
    if (!go) {
      drop(s);
      return false;
    }
  }
  drop(s);
  return true;
}

bool script_cutter::add(std::wstring_view piece, const sink& run) {
  const size_t need = text_.size() + piece.size();
  if (need > text_.capacity() && need > big_statement && size_hint_ > added_) {
    // A long statement: room for the rest of the text at once, so that it is not copied as it grows.
    text_.reserve(text_.size() + std::max(piece.size(), size_hint_ - added_));
  }
  added_ += piece.size();
  text_.append(piece);
  return cut(true, run);
}

bool script_cutter::add_line(std::wstring_view line, const sink& run) {
  by_lines_ = true;
  scan_.set_at_line_end(true);
  if (!text_.empty() || scan_.in_copy_data()) text_ += scan_.keeps_line_break() ? L'\n' : L' ';
  line_starts_.push_back(base_ + text_.size());
  if (line_starts_.size() == 1) line_ = added_ + 1;
  ++added_;
  text_.append(line);
  return cut(true, run);
}

std::wstring script_cutter::held_text() const {
  size_t from = 0, to = text_.size();
  while (from < to && std::iswspace(static_cast<wint_t>(text_[from]))) ++from;
  while (to > from && std::iswspace(static_cast<wint_t>(text_[to - 1]))) --to;
  return text_.substr(from, to - from);
}

bool script_cutter::finish(const sink& run) {
  const bool go = cut(false, run);
  text_.clear();
  return go;
}

void split_statements(const std::wstring& text, std::vector<std::wstring>& statements) {
  statement_splitter splitter(statements);
  splitter.add(text);
  splitter.finish();
}

} // namespace vela::terminal
