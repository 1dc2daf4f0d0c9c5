#include "Terminal/load/copy_data.h"

#include <cwctype>

#include "Terminal/load/json_lines.h"
#include "Terminal/strings.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

bool space(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }

// The words, quoted texts and signs of a COPY statement's tail.
class tokens {
 public:
  explicit tokens(std::wstring_view t) : t_(t) {}
  void skip() {
    while (p_ < t_.size() && (space(t_[p_]) || t_[p_] == L';')) ++p_;
  }
  bool done() {
    skip();
    return p_ >= t_.size();
  }
  size_t place() {
    skip();
    return p_;
  }
  wchar_t peek() {
    skip();
    return p_ < t_.size() ? t_[p_] : 0;
  }
  // A word, a "quoted name" or `quoted name` (quotes kept) or one sign.
  std::wstring word() {
    skip();
    const size_t b = p_;
    if (p_ >= t_.size()) return {};
    if (t_[p_] == L'"' || t_[p_] == L'`') {
      const wchar_t q = t_[p_];
      for (++p_; p_ < t_.size(); ++p_) {
        if (t_[p_] == q) {
          if (p_ + 1 < t_.size() && t_[p_ + 1] == q) ++p_;
          else break;
        }
      }
      ++p_;
      return std::wstring(t_.substr(b, std::min(p_, t_.size()) - b));
    }
    if (!(std::iswalnum(static_cast<wint_t>(t_[p_])) || t_[p_] == L'_' || t_[p_] == L'$')) return std::wstring(1, t_[p_++]);
    while (p_ < t_.size() && (std::iswalnum(static_cast<wint_t>(t_[p_])) || t_[p_] == L'_' || t_[p_] == L'$')) ++p_;
    return std::wstring(t_.substr(b, p_ - b));
  }
  // A 'quoted' text ('' is a quote; E'…' takes backslash escapes), its quotes taken off.
  bool literal(std::wstring& out) {
    skip();
    out.clear();
    bool e = false;
    if (p_ + 1 < t_.size() && (t_[p_] == L'E' || t_[p_] == L'e') && t_[p_ + 1] == L'\'') {
      e = true;
      ++p_;
    }
    if (p_ >= t_.size() || t_[p_] != L'\'') return false;
    for (++p_; p_ < t_.size(); ++p_) {
      const wchar_t c = t_[p_];
      if (c == L'\'') {
        if (p_ + 1 < t_.size() && t_[p_ + 1] == L'\'') {
          out += L'\'';
          ++p_;
          continue;
        }
        ++p_;
        return true;
      }
      if (e && c == L'\\' && p_ + 1 < t_.size()) {
        const wchar_t n = t_[++p_];
        out += n == L't' ? L'\t' : n == L'n' ? L'\n' : n == L'r' ? L'\r' : n;
        continue;
      }
      out += c;
    }
    return false;
  }
  // Everything up to the parenthesis that closes the one just read.
  bool enclosed(std::wstring& out) {
    int depth = 1;
    const size_t b = p_;
    for (; p_ < t_.size(); ++p_) {
      const wchar_t c = t_[p_];
      if (c == L'\'') {
        for (++p_; p_ < t_.size() && t_[p_] != L'\''; ++p_) {}
      } else if (c == L'(') {
        ++depth;
      } else if (c == L')' && --depth == 0) {
        out = std::wstring(t_.substr(b, p_ - b));
        ++p_;
        return true;
      }
    }
    return false;
  }
  std::wstring_view rest() { return t_.substr(std::min(p_, t_.size())); }
  // Everything up to the next blank (an unquoted file name).
  std::wstring bare() {
    skip();
    const size_t b = p_;
    while (p_ < t_.size() && !space(t_[p_])) ++p_;
    std::wstring w(t_.substr(b, p_ - b));
    while (!w.empty() && w.back() == L';') w.pop_back();
    return w;
  }

 private:
  std::wstring_view t_;
  size_t p_ = 0;
};

bool is(const std::wstring& w, const wchar_t* k) { return compare_nocase(w, k) == 0; }

// A qualified name: words joined by dots.
std::wstring name(tokens& t) {
  std::wstring n = t.word();
  while (t.peek() == L'.') {
    t.word();
    n += L"." + t.word();
  }
  return n;
}

bool one_char(const std::wstring& s, wchar_t& c, std::wstring& why, const wchar_t* what) {
  if (s.size() != 1) {
    why = std::wstring(what) + L" must be a single character";
    return false;
  }
  c = s[0];
  return true;
}

// FORMAT, DELIMITER, NULL, HEADER, QUOTE, ESCAPE, ENCODING, SKIP; in parentheses or in the older
// form without them (CSV, HEADER, DELIMITER [AS] 'c' …).
bool options(tokens& t, copy_format& f, std::wstring& why) {
  t.skip();
  if (is(std::wstring(t.rest().substr(0, 4)), L"WITH") && (t.rest().size() == 4 || !std::iswalnum(static_cast<wint_t>(t.rest()[4]))))
    t.word();
  const bool list = t.peek() == L'(';
  if (list) t.word();
  bool delimiter_set = false, null_set = false, escape_set = false;
  while (!t.done()) {
    if (list && t.peek() == L')') {
      t.word();
      break;
    }
    if (t.peek() == L',') {
      t.word();
      continue;
    }
    const std::wstring key = t.word();
    std::wstring value;
    auto text_value = [&]() {
      t.skip();
      if (!list && is(std::wstring(t.rest().substr(0, 2)), L"AS") && t.rest().size() > 2 && space(t.rest()[2])) t.word();
      if (t.literal(value)) return true;
      why = L"a quoted value must follow " + key;
      return false;
    };
    if (is(key, L"FORMAT")) {
      value = t.word();
      f.jsonl = is(value, L"jsonl");
      if (is(value, L"csv")) f.csv = true;
      else if (is(value, L"text") || f.jsonl) f.csv = false;
      else {
        why = L"format not supported: " + value;
        return false;
      }
    } else if (is(key, L"CSV")) {
      f.csv = true;
    } else if (is(key, L"BINARY")) {
      why = L"the binary format is not supported";
      return false;
    } else if (is(key, L"HEADER")) {
      const wchar_t c = t.peek();
      if (list && c != L',' && c != L')' && c != 0) {
        value = t.word();
        f.header = !(is(value, L"false") || is(value, L"off") || value == L"0");
      } else {
        f.header = true;
      }
    } else if (is(key, L"DELIMITER")) {
      if (!text_value() || !one_char(value, f.delimiter, why, L"DELIMITER")) return false;
      delimiter_set = true;
    } else if (is(key, L"NULL")) {
      if (!text_value()) return false;
      f.null_text = value;
      null_set = true;
    } else if (is(key, L"QUOTE")) {
      if (!text_value() || !one_char(value, f.quote, why, L"QUOTE")) return false;
    } else if (is(key, L"ESCAPE")) {
      if (!text_value() || !one_char(value, f.escape, why, L"ESCAPE")) return false;
      escape_set = true;
    } else if (is(key, L"ENCODING")) {
      if (!text_value()) return false;
      f.encoding = value;
    } else if (is(key, L"SKIP")) {
      value = t.word();
      if (value.empty() || value.size() > 18 || value.find_first_not_of(L"0123456789") != std::wstring::npos) {
        why = L"SKIP takes a line number";
        return false;
      }
      f.skip_through = static_cast<size_t>(std::stoull(value));
    } else if (is(key, L"CREATE")) {
      f.create = copy_format::creation::create;
      tokens ahead = t;
      if (is(ahead.word(), L"IF")) {
        t.word();
        if (!is(t.word(), L"NOT") || !is(t.word(), L"EXISTS")) {
          why = L"CREATE IF NOT EXISTS expected";
          return false;
        }
        f.create = copy_format::creation::if_not_exists;
      }
    } else if (is(key, L"REPLACE")) {
      f.create = copy_format::creation::replace;
    } else if (is(key, L"SAMPLE")) {
      value = t.word();
      if (value.empty() || value.size() > 9 || value.find_first_not_of(L"0123456789") != std::wstring::npos || std::stoul(value) == 0) {
        why = L"SAMPLE takes a number of rows";
        return false;
      }
      f.sample = static_cast<size_t>(std::stoul(value));
    } else if (is(key, L"REJECTS")) {
      if (!text_value()) return false;
      if (value.empty()) {
        why = L"REJECTS takes a file name";
        return false;
      }
      f.rejects = value;
    } else if (is(key, L"MAX_ERRORS")) {
      value = t.word();
      if (value.empty() || value.size() > 18 || value.find_first_not_of(L"0123456789") != std::wstring::npos ||
          std::stoull(value) == 0) {
        why = L"MAX_ERRORS takes a number of rows";
        return false;
      }
      f.max_errors = static_cast<size_t>(std::stoull(value));
    } else if (is(key, L"FORCE_NOT_NULL") || is(key, L"FORCE_NULL") || is(key, L"FORCE_QUOTE")) {
      why = L"option not supported: " + key;
      return false;
    } else {
      why = L"unknown option: " + key;
      return false;
    }
  }
  if (f.jsonl && f.header) {
    why = L"HEADER does not go with FORMAT jsonl";
    return false;
  }
  if (f.csv) {
    if (!delimiter_set) f.delimiter = L',';
    if (!null_set) f.null_text.clear();
    if (!escape_set) f.escape = f.quote;
  }
  return true;
}

} // namespace

namespace {

// The table with its columns, or "(query)"; w: the word read after COPY, if any.
bool parse_target(tokens& t, std::wstring w, copy_command& out, std::wstring& why) {
  if (w.empty() && t.peek() == L'(') {
    t.word();
    if (!t.enclosed(out.query)) {
      why = L"the query's parenthesis is not closed";
      return false;
    }
    return true;
  }
  // w is the first word of the name, or empty when \copy came as one word.
  if (w.empty()) w = t.word();
  out.table = w;
  while (t.peek() == L'.') {
    t.word();
    out.table += L"." + t.word();
  }
  if (out.table.empty()) {
    why = L"a table is missing";
    return false;
  }
  if (t.peek() != L'(') return true;
  t.word();
  for (;;) {
    const std::wstring c = name(t);
    if (c.empty() || c == L")") break;
    out.columns.push_back(c);
    const std::wstring sep = t.word();
    if (sep == L")") break;
    if (sep != L",") {
      why = L"the column list is not closed";
      return false;
    }
  }
  return true;
}

// What follows FROM or TO: a file, STDIN/STDOUT, or CONNECTION '…' QUERY '…'.
bool parse_source(tokens& t, std::wstring_view text, copy_command& out, std::wstring& why) {
  if (t.peek() == L'\'') {
    (void)t.literal(out.file);  // the name between its quotes
    return true;
  }
  const size_t at = t.place();
  std::wstring f = t.word();
  if (!(is(f, L"CONNECTION") || is(f, L"STDIN") || is(f, L"STDOUT") || is(f, L"PSTDIN") || is(f, L"PSTDOUT") ||
        is(f, L"PROGRAM"))) {
    tokens again(text.substr(at));
    f = again.bare();
    t = tokens(text.substr(at + f.size()));
  }
  if (is(f, L"CONNECTION") && out.from) {
    if (!t.literal(out.connection)) {
      why = L"a quoted connection string must follow CONNECTION";
      return false;
    }
    if (!is(t.word(), L"QUERY") || !t.literal(out.source_query)) {
      why = L"QUERY and a quoted query must follow the connection string";
      return false;
    }
  } else if (is(f, L"STDIN") || is(f, L"STDOUT") || is(f, L"PSTDIN") || is(f, L"PSTDOUT")) {
    out.file = is(f, L"STDIN") || is(f, L"PSTDIN") ? L"stdin" : L"stdout";
    if (is(f, L"PSTDIN") && out.from) {
      out.file = L"pstdin";
      out.process_stdin = true;
    }
  } else if (is(f, L"PROGRAM")) {
    why = L"PROGRAM is not supported";
    return false;
  } else {
    out.file = f;  // an unquoted file name
  }
  return true;
}

} // namespace

bool parse_copy(std::wstring_view text, copy_command& out, std::wstring& why) {
  tokens t(text);
  std::wstring w = t.word();
  if (is(w, L"COPY")) w = t.word();
  else if (w == L"\\") {
    w = t.word();
    if (!is(w, L"copy")) {
      why = L"not a copy command";
      return false;
    }
    w.clear();
  }
  if (!parse_target(t, w, out, why)) return false;
  const std::wstring direction = t.word();
  if (is(direction, L"FROM")) out.from = true;
  else if (is(direction, L"TO")) out.from = false;
  else {
    why = L"FROM or TO expected";
    return false;
  }
  if (out.from && !out.query.empty()) {
    why = L"a query cannot be loaded";
    return false;
  }
  if (!parse_source(t, text, out, why)) return false;
  if (out.file.empty() && out.connection.empty()) {
    why = L"a file is missing";
    return false;
  }
  return options(t, out.format, why);
}

bool record_reader::add_line(std::wstring_view line, size_t line_no, const sink& to) {
  ++fresh_;
  return step(line, line_no, to) && drain(to);
}

bool record_reader::finish(const sink& to) {
  while (open_)
    if (!fail(str(string_id::copy_open_quote), to) || !drain(to)) return false;
  return true;
}

bool record_reader::drain(const sink& to) {
  while (!again_.empty()) {
    const std::wstring line = std::move(again_.front());
    again_.pop_front();
    if (!step(line, again_no_++, to)) return false;
  }
  return true;
}

bool record_reader::step(std::wstring_view line, size_t line_no, const sink& to) {
  if (open_) {
    kept_.append(line);
    kept_ends_.push_back(kept_.size());
  } else {
    start_ = line_no;
    lines_ = 0;
    values_ = 0;
    row_.nulls.clear();
    kept_.clear();
    kept_ends_.clear();
  }
  ++lines_;
  row_.line = start_;
  std::wstring why;
  outcome o;
  if (f_.jsonl) {
    if (blank_line(line)) return true;  // no record
    o = json_ && json_->read(line, row_, why) ? outcome::row : outcome::bad;
  } else if (f_.csv) {
    o = csv_record(line, row_, why);
  } else {
    if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
    o = text_record(line, row_, why);
  }
  if (o == outcome::more) return true;
  if (o == outcome::bad) return fail(why, to);
  if (columns_ && row_.values.size() != columns_)
    return fail(message(string_id::copy_value_count, static_cast<unsigned>(columns_), static_cast<unsigned>(row_.values.size())), to);
  given_ = lines_;
  if (header_ || start_ <= f_.skip_through) {
    if (header_) header_values_.assign(row_.values.begin(), row_.values.end());
    header_ = false;
    skipped_ += lines_;
    return true;
  }
  return to(outcome::row, row_, why);
}

bool record_reader::fail(const std::wstring& why, const sink& to) {
  open_ = false;
  row_.line = start_;
  if (header_) {
    header_ = false;
    return to(outcome::bad_header, row_, why);
  }
  // The record's other lines are read again from its second line on, while lines read twice
  // stay fewer than lines given; past that they are skipped.
  const size_t rest = kept_ends_.size();
  given_ = rest && read_again_ + rest <= fresh_ ? 1 : lines_;
  // A record that SKIP passes over is not refused, however malformed: a load that goes on
  // after the rows it loaded does not refuse them again.
  if (start_ <= f_.skip_through) ++skipped_;
  else if (!to(outcome::bad, row_, why)) return false;
  if (rest == 0) return true;
  if (read_again_ + rest > fresh_) {
    skipped_ += rest;
    return true;
  }
  read_again_ += rest;
  for (size_t i = rest; i-- > 0;) {
    const size_t b = i ? kept_ends_[i - 1] : 0;
    again_.emplace_front(kept_, b, kept_ends_[i] - b);
  }
  again_no_ = start_ + 1;
  kept_.clear();
  kept_ends_.clear();
  return true;
}

namespace {

// The next value of a row, its string's room kept from the rows before.
std::wstring& next_value(odbc::bulk_row& row, size_t& k) {
  if (k == row.values.size()) row.values.emplace_back();
  std::wstring& v = row.values[k++];
  v.clear();
  return v;
}

// The row ends with k values.
void end_row(odbc::bulk_row& row, size_t k) {
  row.values.resize(k);
  row.nulls.resize(k);
}

} // namespace

record_reader::outcome record_reader::text_record(std::wstring_view line, odbc::bulk_row& row, std::wstring& why) {
  size_t p = 0, k = 0;
  for (;;) {
    size_t e = line.find(f_.delimiter, p);
    if (e == std::wstring_view::npos) e = line.size();
    const std::wstring_view raw = line.substr(p, e - p);
    std::wstring& v = next_value(row, k);
    const bool is_null = raw == f_.null_text;
    row.nulls.push_back(is_null ? 1 : 0);
    if (!is_null) {
      v.reserve(raw.size());
      for (size_t i = 0; i < raw.size(); ++i) {
        wchar_t c = raw[i];
        if (c != L'\\' || i + 1 >= raw.size()) {
          v += c;
          continue;
        }
        c = raw[++i];
        switch (c) {
          case L'b': v += L'\b'; break;
          case L'f': v += L'\f'; break;
          case L'n': v += L'\n'; break;
          case L'r': v += L'\r'; break;
          case L't': v += L'\t'; break;
          case L'v': v += L'\v'; break;
          case L'x': {
            unsigned n = 0, k = 0;
            for (; k < 2 && i + 1 < raw.size() && std::iswxdigit(static_cast<wint_t>(raw[i + 1])); ++k) {
              const wchar_t d = raw[++i];
              n = n * 16 + static_cast<unsigned>(d <= L'9' ? d - L'0' : (d | 0x20) - L'a' + 10);
            }
            if (k == 0) v += L'x';
            else v += static_cast<wchar_t>(n);
            break;
          }
          default:
            if (c >= L'0' && c <= L'7') {
              unsigned n = static_cast<unsigned>(c - L'0');
              for (int k = 0; k < 2 && i + 1 < raw.size() && raw[i + 1] >= L'0' && raw[i + 1] <= L'7'; ++k)
                n = n * 8 + static_cast<unsigned>(raw[++i] - L'0');
              v += static_cast<wchar_t>(n);
            } else {
              v += c;
            }
        }
      }
    }
    if (e >= line.size()) break;
    p = e + 1;
  }
  end_row(row, k);
  (void)why;
  return outcome::row;
}

// One line of a CSV record: the fields it ends, and the quoted field it leaves open.
record_reader::outcome record_reader::csv_record(std::wstring_view rec, odbc::bulk_row& row, std::wstring& why) {
  const size_t n = rec.size();
  size_t p = 0;
  if (open_) row.values[values_ - 1] += L'\n';  // the quoted line break
  for (;;) {
    if (!open_) {
      std::wstring& v = next_value(row, values_);
      if (p >= n || rec[p] != f_.quote) {
        size_t e = rec.find(f_.delimiter, p);
        if (e == std::wstring_view::npos) e = n;
        std::wstring_view raw = rec.substr(p, e - p);
        if (e == n && !raw.empty() && raw.back() == L'\r') raw.remove_suffix(1);
        if (raw.find(f_.quote) != std::wstring_view::npos) {
          why = L"a quote inside a field that is not quoted";
          return outcome::bad;
        }
        const bool is_null = raw == f_.null_text;
        row.nulls.push_back(is_null ? 1 : 0);
        if (!is_null) v.assign(raw);
        p = e;
        if (p >= n) break;
        ++p;  // the delimiter
        continue;
      }
      ++p;
      open_ = true;
      row.nulls.push_back(0);
    }
    // A quoted field: a doubled quote (or the escape before a quote) is a quote.
    std::wstring& v = row.values[values_ - 1];
    while (p < n) {
      const wchar_t c = rec[p];
      if (c == f_.escape && f_.escape != f_.quote && p + 1 < n && (rec[p + 1] == f_.quote || rec[p + 1] == f_.escape)) {
        v += rec[p + 1];
        p += 2;
      } else if (c == f_.quote) {
        if (f_.escape == f_.quote && p + 1 < n && rec[p + 1] == f_.quote) {
          v += c;
          p += 2;
        } else {
          ++p;
          open_ = false;
          break;
        }
      } else {
        v += c;
        ++p;
      }
    }
    if (open_) return outcome::more;  // the field goes on in the next line
    if (p < n && rec[p] == L'\r' && p + 1 == n) ++p;
    if (p < n && rec[p] != f_.delimiter) {
      why = L"text after a closing quote";
      return outcome::bad;
    }
    if (p >= n) break;
    ++p;  // the delimiter
  }
  end_row(row, values_);
  return outcome::row;
}

void append_text_field(std::wstring& out, const std::wstring& value, bool is_null, const copy_format& f) {
  if (is_null) {
    out += f.null_text;
    return;
  }
  for (const wchar_t c : value) {
    switch (c) {
      case L'\\': out += L"\\\\"; break;
      case L'\n': out += L"\\n"; break;
      case L'\r': out += L"\\r"; break;
      case L'\t': out += L"\\t"; break;
      default:
        if (c == f.delimiter) {
          out += L'\\';
        }
        out += c;
    }
  }
}

} // namespace vela::terminal
