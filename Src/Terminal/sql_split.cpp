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
}

// Keeps track of the statement's first words (CREATE [TEMP|OR REPLACE|…] TRIGGER, FUNCTION or
// PROCEDURE) and, inside those statements, of the BEGIN … END blocks and the CASE … END
// expressions in them.
void statement_scanner::word(std::wstring_view w) {
  switch (kind_) {
    case kind::undecided:
      kind_ = is(w, L"CREATE") ? kind::create : kind::other;
      return;
    case kind::create:
      if (is(w, L"TRIGGER")) kind_ = kind::trigger;
      else if (is(w, L"FUNCTION") || is(w, L"PROCEDURE")) kind_ = kind::routine;
      else if (!is(w, L"TEMP") && !is(w, L"TEMPORARY") && !is(w, L"OR") && !is(w, L"REPLACE") && !is(w, L"CONSTRAINT"))
        kind_ = kind::other;
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
    // A block's END follows a statement's ";" (or its BEGIN when empty); any other END is
    // a CASE's, or a name.
    if (blocks_.back() == 'C' || last_ == last::semicolon || last_ == last::opened) blocks_.pop_back();
  }
  last_ = last::other;
}

size_t statement_scanner::find_end(std::wstring_view text, bool more_to_come) {
  const wchar_t* t = text.data();
  const size_t n = text.size();
  size_t p = pos_;
  // A token that may go on past the end of the text waits for the next call.
  auto cut = [&](size_t need) { return p + need > n && more_to_come; };
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
          if (c == L'/' && t[p + 1] == L'*') {
            p += 2;
            ++comment_depth_;
            continue;
          }
        } else if ((c == L'*' || c == L'/') && cut(2)) {
          pos_ = p;
          return npos;
        }
        ++p;
        continue;
      case mode::single:
        if (c == L'\'') mode_ = mode::normal;  // a doubled quote closes and opens again
        ++p;
        continue;
      case mode::double_quote:
        if (c == L'"') mode_ = mode::normal;
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
          if (cut(2)) {
            pos_ = p;
            return npos;
          }
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
          } else if (more_to_come && text.substr(p + 1) == std::wstring_view(tag_).substr(0, n - p - 1)) {
            pos_ = p;  // perhaps the closing tag, cut
            return npos;
          }
        } else if (c == L'-') {
          if (cut(2)) {
            pos_ = p;
            return npos;
          }
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
      case mode::normal: break;
    }

    // Outside quotes and comments.
    if (is_space(c)) {
      ++p;
      continue;
    }
    if (c == L';') {
      if (blocks_.empty()) {
        pos_ = p + 1;
        return p;
      }
      last_ = last::semicolon;
      ++p;
      continue;
    }
    if (is_word_char(c) && c != L'$') {
      size_t q = p + 1;
      while (q < n && is_word_char(t[q])) ++q;
      if (q == n && more_to_come) {
        pos_ = p;
        return npos;
      }
      begins_at(p);
      if (kind_ != kind::other) word(std::wstring_view(t + p, q - p));
      if (q < n && t[q] == L'\'' && q - p == 1 && (c == L'E' || c == L'e')) {
        mode_ = mode::escaped;  // E'…': backslash escapes
        last_ = last::other;
        ++q;
      }
      p = q;
      continue;
    }
    if ((c == L'-' || c == L'/') && cut(2)) {
      pos_ = p;
      return npos;
    }
    if (c == L'-' && p + 1 < n && t[p + 1] == L'-') {
      mode_ = mode::line_comment;
      has_comment_ = true;
      p += 2;
      continue;
    }
    if (c == L'/' && p + 1 < n && t[p + 1] == L'*') {
      mode_ = mode::block_comment;
      comment_depth_ = 1;
      has_comment_ = true;
      p += 2;
      continue;
    }
    if (c == L'$') {
      // $$ or $tag$ opens a dollar-quoted body; $1 is a parameter.
      size_t q = p + 1;
      if (q < n && is_tag_start(t[q]))
        while (q < n && is_tag_char(t[q])) ++q;
      if (q == n && more_to_come) {
        pos_ = p;
        return npos;
      }
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
      case L'[': mode_ = mode::bracket; break;
      default: break;
    }
    ++p;
  }
  pos_ = p;
  return npos;
}

namespace {

void add_statement(std::wstring piece, std::vector<std::wstring>& statements) {
  trim(piece, L" ");
  trim(piece, L"\r\n");
  if (!piece.empty()) statements.push_back(std::move(piece));
}

// Cuts statements from owner[s…]; returns where the next statement begins. With more_to_come,
// a statement not ended yet waits (its start is returned). With own, a statement that is most
// of the text is moved out of owner rather than copied.
size_t cut_statements(statement_scanner& scan, std::wstring& owner, bool own, size_t s, bool more_to_come,
                      std::vector<std::wstring>& statements) {
  while (s < owner.size()) {
    const size_t p = scan.find_end(owner, more_to_come);
    const bool last = p == statement_scanner::npos;
    if (last && more_to_come) return s;
    const size_t end = last ? owner.size() : p + 1;
    if (!scan.comment_only()) {
      const size_t from = scan.statement_start(s);
      if (own && end - from > owner.size() / 2) {
        std::wstring rest = owner.substr(end);
        owner.resize(end);
        owner.erase(0, from);
        add_statement(std::move(owner), statements);
        owner = std::move(rest);
        scan.drop_front(end);
        if (last) return 0;
        scan.next_statement(0);
        s = 0;
        continue;
      }
      add_statement(owner.substr(from, end - from), statements);
    }
    if (last) return owner.size();
    s = end;
    scan.next_statement(s);
  }
  return s;
}

} // namespace

void split_statements(const std::wstring& text, std::vector<std::wstring>& statements) {
  statement_scanner scan;
  // Without own the text is only read.
  cut_statements(scan, const_cast<std::wstring&>(text), false, 0, false, statements);
}

void statement_splitter::add(std::wstring_view piece) {
  const size_t need = text_.size() + piece.size();
  if (need > text_.capacity() && need > big_statement && size_hint_ > added_) {
    // A long statement: room for the rest of the text at once, so that it is not copied as it grows.
    text_.reserve(text_.size() + std::max(piece.size(), size_hint_ - added_));
  }
  added_ += piece.size();
  text_.append(piece);
  const size_t s = cut_statements(scan_, text_, true, 0, true, statements_);
  // Drop what is cut, once per piece.
  text_.erase(0, s);
  scan_.drop_front(s);
}

void statement_splitter::finish() {
  cut_statements(scan_, text_, true, 0, false, statements_);
  text_.clear();
}

} // namespace vela::terminal
