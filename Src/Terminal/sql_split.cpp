#include "Terminal/sql_split.h"

#include <algorithm>
#include <cwctype>

#include "Terminal/options.h"
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

size_t statement_scanner::find_end(std::wstring_view text, bool more_to_come) {
  const wchar_t* t = text.data();
  const size_t n = text.size();
  size_t p = pos_;
  // A token that may go on past the end of the text waits for the next call (no token goes
  // on past a line end).
  const bool token_more = more_to_come && !at_line_end_;
  auto cut = [&](size_t need) { return p + need > n && token_more; };
  auto wait = [&]() {
    pos_ = p;
    return npos;
  };
  if (mode_ == mode::copy_rest || mode_ == mode::copy_data) {
    if (mode_ == mode::copy_rest) copy_lines_ = 0;
    return copy_block(text, p, more_to_come);
  }
  ended_ = item::sql;
  end_length_ = delimiter_.size();
  while (p < n) {
    const wchar_t c = t[p];
    switch (mode_) {
      case mode::line_comment:
        if (c == L'\n') mode_ = mode::normal;
        ++p;
        continue;
      case mode::block_comment:
        if ((c == L'*' || c == L'/') && p + 1 < n) {
          if (c == L'*' && t[p + 1] == L'/') {
            p += 2;
            if (--comment_depth_ == 0) mode_ = mode::normal;
            continue;
          }
          if (c == L'/' && t[p + 1] == L'*' && !mysql_) {
            p += 2;
            ++comment_depth_;
            continue;
          }
        } else if ((c == L'*' || c == L'/') && cut(2)) {
          return wait();
        }
        ++p;
        continue;
      case mode::single:
      case mode::double_quote:
        if (!mysql_) {
          // Straight to the closing quote: a long literal is skipped at memory speed.
          const size_t q = text.find(mode_ == mode::single ? L'\'' : L'"', p);
          if (q == npos) {
            p = n;
            continue;
          }
          mode_ = mode::normal;  // a doubled quote closes and opens again
          p = q + 1;
          continue;
        }
        if (c == L'\\') {
          if (cut(2)) return wait();
          p = p + 2 < n ? p + 2 : n;
          continue;
        }
        // A doubled quote closes and opens again.
        if (c == (mode_ == mode::single ? L'\'' : L'"')) mode_ = mode::normal;
        ++p;
        continue;
      case mode::backquote:
        if (c == L'`') mode_ = mode::normal;
        ++p;
        continue;
      case mode::bracket:
        if (c == L']') mode_ = mode::normal;
        ++p;
        continue;
      case mode::escaped:
        if (c == L'\\' || c == L'\'') {
          if (cut(2)) return wait();
          if (c == L'\\' || (p + 1 < n && t[p + 1] == L'\'')) {
            p = p + 2 < n ? p + 2 : n;
            continue;
          }
          mode_ = mode::normal;
        }
        ++p;
        continue;
      case mode::dollar:
        if (c == L'$') {
          const size_t end = p + 1 + tag_.size();
          if (end < n) {
            if (t[end] == L'$' && text.compare(p + 1, tag_.size(), tag_) == 0) {
              p = end + 1;
              mode_ = mode::normal;
              continue;
            }
          } else if (token_more && text.substr(p + 1) == std::wstring_view(tag_).substr(0, n - p - 1)) {
            return wait();  // perhaps the closing tag, cut
          }
        } else if (c == L'-') {
          if (cut(2)) return wait();
          if (p + 1 < n && t[p + 1] == L'-') {
            body_comment_ = true;
            p += 2;
            continue;
          }
        } else if (c == L'\n') {
          body_comment_ = false;
        }
        ++p;
        continue;
      case mode::copy_rest:
      case mode::copy_data:
      case mode::normal: break;
    }

    // Outside quotes and comments.
    if (is_space(c)) {
      ++p;
      continue;
    }
    if (!has_content_) {
      // Items that end with their line: client commands and the DELIMITER directive.
      if (c == L'\\') {
        const size_t e = line_item(text, p, more_to_come, item::client_command);
        if (e == npos) return wait();
        pos_ = e;
        return e;
      }
      if (mysql_ && (c == L'd' || c == L'D' || c == L's' || c == L'S')) {
        size_t q = p;
        while (q < n && is_word_char(t[q])) ++q;
        if (q == n && token_more) return wait();
        const std::wstring_view w(t + p, q - p);
        const bool directive = is(w, L"DELIMITER");
        if ((directive || is(w, L"SOURCE")) && q < n && (t[q] == L' ' || t[q] == L'\t')) {
          const size_t e = line_item(text, p, more_to_come, directive ? item::delimiter : item::client_command);
          if (e == npos) return wait();
          if (directive) {
            std::wstring_view arg = text.substr(q, e - q);
            while (!arg.empty() && is_space(arg.front())) arg.remove_prefix(1);
            size_t k = 0;
            while (k < arg.size() && !is_space(arg[k])) ++k;
            if (k > 0) delimiter_.assign(arg.substr(0, k));
          }
          pos_ = e;
          return e;
        }
      }
    }
    if (c == delimiter_[0] && (delimiter_.size() == 1 || text.compare(p, delimiter_.size(), delimiter_) == 0)) {
      const bool semicolon = delimiter_ == L";";
      if (semicolon) settle_end();
      // A custom delimiter ends the statement wherever it stands.
      if (!semicolon || blocks_.empty()) {
        if (kind_ == kind::copy && copy_stdin_) mode_ = mode::copy_rest;
        pos_ = p + delimiter_.size();
        return p;
      }
      last_ = last::semicolon;
      ++p;
      continue;
    }
    if (delimiter_.size() > 1 && c == delimiter_[0] && token_more && text.substr(p) == std::wstring_view(delimiter_).substr(0, n - p))
      return wait();  // perhaps the delimiter, cut
    if (c == L';') {
      content(p);
      ++p;
      continue;
    }
    if (is_word_char(c) && c != L'$') {
      size_t q = p + 1;
      // A delimiter such as "$$" may follow a word directly.
      const bool word_delimiter = delimiter_.size() > 1 && is_word_char(delimiter_[0]);
      while (q < n && is_word_char(t[q]) && !(word_delimiter && text.compare(q, delimiter_.size(), delimiter_) == 0)) ++q;
      if (q == n && token_more) return wait();
      begins_at(p);
      if (kind_ != kind::other || end_pending_) word(std::wstring_view(t + p, q - p));
      if (q < n && t[q] == L'\'' && q - p == 1 && (c == L'E' || c == L'e') && !mysql_) {
        mode_ = mode::escaped;  // E'…': backslash escapes
        last_ = last::other;
        ++q;
      }
      p = q;
      continue;
    }
    if ((c == L'-' || c == L'/' || (c == L'*' && versioned_)) && cut(2)) return wait();
    // "/*!" and "/*M!" need their third and fourth characters.
    if (mysql_ && c == L'/' && p + 1 < n && t[p + 1] == L'*' && cut(4)) return wait();
    if (c == L'-' && p + 1 < n && t[p + 1] == L'-') {
      mode_ = mode::line_comment;
      has_comment_ = true;
      p += 2;
      continue;
    }
    if (mysql_ && c == L'#') {
      mode_ = mode::line_comment;
      has_comment_ = true;
      ++p;
      continue;
    }
    if (c == L'/' && p + 1 < n && t[p + 1] == L'*') {
      if (mysql_ && p + 2 < n && (t[p + 2] == L'!' || (t[p + 2] == L'M' && p + 3 < n && t[p + 3] == L'!'))) {
        // A versioned comment: code the server runs, scanned as part of the statement.
        size_t q = p + (t[p + 2] == L'!' ? 3 : 4);
        while (q < n && t[q] >= L'0' && t[q] <= L'9') ++q;
        if (q == n && token_more) return wait();  // the version may go on
        begins_at(p);
        versioned_ = true;
        p = q;
        continue;
      }
      mode_ = mode::block_comment;
      comment_depth_ = 1;
      has_comment_ = true;
      p += 2;
      continue;
    }
    if (versioned_ && c == L'*' && p + 1 < n && t[p + 1] == L'/') {
      versioned_ = false;
      p += 2;
      continue;
    }
    if (c == L'$' && !mysql_) {
      // $$ or $tag$ opens a dollar-quoted body; $1 is a parameter.
      size_t q = p + 1;
      if (q < n && is_tag_start(t[q]))
        while (q < n && is_tag_char(t[q])) ++q;
      if (q == n && token_more) return wait();
      content(p);
      if (q < n && t[q] == L'$') {
        tag_.assign(t + p + 1, q - p - 1);
        mode_ = mode::dollar;
        body_comment_ = false;
        p = q + 1;
      } else {
        ++p;
      }
      continue;
    }
    content(p);
    switch (c) {
      case L'\'': mode_ = mode::single; break;
      case L'"': mode_ = mode::double_quote; break;
      case L'`': mode_ = mode::backquote; break;
      case L'[':
        if (!mysql_) mode_ = mode::bracket;
        break;
      default: break;
    }
    ++p;
  }
  pos_ = p;
  return npos;
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

bool script_cutter::cut(bool more_to_come, const sink& run) {
  using kind = statement_scanner::item;
  size_t s = 0;
  bool first = true;
  bool halted = false;  // a data line's sink stopped the cut
  if (copy_rows_ && !scan_.copy_line) {
    scan_.copy_line = [this, &run, &halted](size_t b, size_t e) {
      if (halted) return;
      row_.kind = kind::copy_data;
      row_.step = script_item::copy_step::row;
      row_.line = line_of(b);
      row_.text.assign(text_, b, e - b);
      if (!run(row_)) halted = true;
    };
  }
  struct reset_sink {
    statement_scanner& scan;
    bool on;
    ~reset_sink() {
      if (on) scan.copy_line = nullptr;
    }
  } reset{scan_, copy_rows_};
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
        if (copy_rows_) {
          script_item begin = copy_;
          begin.step = script_item::copy_step::begin;
          go = run(begin);
        }
      } else {
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
          if (!it.text.empty() && !run(it)) return false;
          if (last) return true;
          continue;
        }
        it.text = text_.substr(from, stop - from);
        if (keep_terminator_) trim_statement(it.text);
        go = it.text.empty() || run(it);
      }
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
