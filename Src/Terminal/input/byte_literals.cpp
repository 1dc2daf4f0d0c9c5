#include "Terminal/input/byte_literals.h"

#include "vela/system.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

using form = odbc::byte_literal_form;
constexpr size_t npos = std::wstring_view::npos;

// A byte that was not text, kept as U+DC00 + byte (not the low half of a UTF-16 pair).
bool kept_byte(std::wstring_view s, size_t i) {
  const auto c = static_cast<char32_t>(s[i]);
  if (c < 0xDC80 || c > 0xDCFF) return false;
  if constexpr (sizeof(wchar_t) == 2) return i == 0 || s[i - 1] < 0xD800 || s[i - 1] > 0xDBFF;
  return true;
}

size_t first_kept_byte(std::wstring_view s, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i)
    if (kept_byte(s, i)) return i;
  return npos;
}

bool eight_bit(int32_t cp) { return cp >= 0 && cp != 65001 && cp != 65000 && cp != 1200 && cp != 1201; }

// The bytes of text as the script held them: characters in its code page, kept bytes as the
// bytes they were.
bool script_bytes(std::wstring_view text, int32_t cp, std::string& out) {
  if (!eight_bit(cp)) {
    out = wide_to_utf8_escaped(text);
    return true;
  }
  for (size_t i = 0; i < text.size();) {
    if (kept_byte(text, i)) {
      out.push_back(static_cast<char>(text[i++] - 0xDC00));
      continue;
    }
    size_t j = i;
    while (j < text.size() && !kept_byte(text, j)) ++j;
    std::string part;
    if (sys::from_wide(static_cast<unsigned>(cp), text.substr(i, j - i), part, true) != 0) return false;
    out += part;
    i = j;
  }
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool octal(char c) { return c >= '0' && c <= '7'; }

// The value of a literal's body: quote doubled, MySQL's escapes (\% and \_ keep their
// backslash) or PostgreSQL's E'…' escapes.
enum class escapes { none, mysql, postgres };
std::string literal_value(const std::string& body, char quote, escapes how) {
  std::string v;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == quote && i + 1 < body.size() && body[i + 1] == quote) {
      v.push_back(quote);
      ++i;
      continue;
    }
    if (c != '\\' || how == escapes::none || i + 1 == body.size()) {
      v.push_back(c);
      continue;
    }
    const char e = body[++i];
    if (how == escapes::mysql) {
      switch (e) {
        case '0': v.push_back('\0'); break;
        case 'b': v.push_back('\b'); break;
        case 'n': v.push_back('\n'); break;
        case 'r': v.push_back('\r'); break;
        case 't': v.push_back('\t'); break;
        case 'Z': v.push_back('\x1A'); break;
        case '%':
        case '_': v.push_back('\\'); v.push_back(e); break;
        default: v.push_back(e);
      }
      continue;
    }
    switch (e) {
      case 'b': v.push_back('\b'); break;
      case 'f': v.push_back('\f'); break;
      case 'n': v.push_back('\n'); break;
      case 'r': v.push_back('\r'); break;
      case 't': v.push_back('\t'); break;
      case 'x':
        if (i + 1 < body.size() && hex_digit(body[i + 1]) >= 0) {
          int b = hex_digit(body[++i]);
          if (i + 1 < body.size() && hex_digit(body[i + 1]) >= 0) b = b * 16 + hex_digit(body[++i]);
          v.push_back(static_cast<char>(b));
        } else {
          v.push_back('x');
        }
        break;
      default:
        if (octal(e)) {
          int b = e - '0';
          for (int k = 0; k < 2 && i + 1 < body.size() && octal(body[i + 1]); ++k) b = b * 8 + (body[++i] - '0');
          v.push_back(static_cast<char>(b & 0xFF));
        } else {
          v.push_back(e);  // \u and \U never spell a byte that is not text
        }
    }
  }
  return v;
}

// The bytes of a bytea value from its text: hex (\x…) or the escape format.
bool bytea_value(const std::string& text, std::string& out) {
  if (text.size() >= 2 && text[0] == '\\' && text[1] == 'x') {
    int high = -1;
    for (size_t i = 2; i < text.size(); ++i) {
      const char c = text[i];
      if (high < 0 && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) continue;
      const int d = hex_digit(c);
      if (d < 0) return false;
      if (high < 0) high = d;
      else {
        out.push_back(static_cast<char>(high * 16 + d));
        high = -1;
      }
    }
    return high < 0;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == '\\') {
      out.push_back('\\');
      ++i;
    } else if (i + 3 < text.size() && octal(text[i + 1]) && octal(text[i + 2]) && octal(text[i + 3])) {
      out.push_back(static_cast<char>(((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0')) & 0xFF));
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

std::wstring hex(const std::string& bytes) {
  static const wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring h;
  h.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    h.push_back(digits[b >> 4]);
    h.push_back(digits[b & 15]);
  }
  return h;
}

bool word_char(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_'; }

// The word that ends at end (white space before end skipped), or empty.
std::wstring_view word_before(std::wstring_view s, size_t end) {
  while (end > 0 && (s[end - 1] == L' ' || s[end - 1] == L'\t' || s[end - 1] == L'\n' || s[end - 1] == L'\r')) --end;
  size_t b = end;
  while (b > 0 && word_char(s[b - 1])) --b;
  return s.substr(b, end - b);
}

bool bytea_after(std::wstring_view s, size_t p) {
  auto space = [&] {
    while (p < s.size() && (s[p] == L' ' || s[p] == L'\t' || s[p] == L'\n' || s[p] == L'\r')) ++p;
  };
  space();
  if (s.substr(p, 2) != L"::") return false;
  p += 2;
  space();
  const std::wstring_view w = s.substr(p, 5);
  return w.size() == 5 && compare_nocase(w, L"bytea") == 0 && (p + 5 == s.size() || !word_char(s[p + 5]));
}

class rewriter {
 public:
  rewriter(std::wstring_view s, odbc::script_dialect d, form f, int32_t cp)
      : s_(s), mysql_(d == odbc::script_dialect::mysql), form_(f), cp_(cp) {}

  byte_literal_rewrite run() {
    size_t i = 0;
    size_t copied = 0;  // s_ up to here is in out_.text already
    bool versioned = false;
    while (i < s_.size() && !out_.refused) {
      const wchar_t c = s_[i];
      const wchar_t next = i + 1 < s_.size() ? s_[i + 1] : L'\0';
      // MySQL's "--" comment needs white space (or a control character) after it.
      const bool dashes = c == L'-' && next == L'-' && (!mysql_ || i + 2 >= s_.size() || s_[i + 2] <= L' ');
      if (dashes || (mysql_ && c == L'#')) {
        i = s_.find(L'\n', i);
      } else if (c == L'/' && next == L'*') {
        if (mysql_ && (s_.substr(i, 3) == L"/*!" || s_.substr(i, 4) == L"/*M!")) {
          versioned = true;  // code the server runs
          i += 3;
        } else {
          i = block_comment_end(i);
        }
      } else if (versioned && c == L'*' && next == L'/') {
        versioned = false;
        i += 2;
      } else if (c == L'\'' || (c == L'"' && mysql_)) {
        i = literal(i, copied);
      } else if (c == L'"' || c == L'`' || (c == L'[' && !mysql_)) {
        i = quoted_name(i, c == L'[' ? L']' : c);
      } else if (c == L'$' && !mysql_ && !(i > 0 && word_char(s_[i - 1]))) {
        i = dollar_body(i);
      } else if (kept_byte(s_, i)) {
        refuse(i);
      } else {
        ++i;
      }
    }
    if (!out_.refused && !out_.text.empty()) out_.text.append(s_.substr(copied));
    if (out_.refused) out_.text.clear();
    return out_;
  }

 private:
  void refuse(size_t at) {
    out_.refused = true;
    out_.at = at;
  }

  size_t block_comment_end(size_t i) {
    size_t depth = 0;
    for (; i + 1 < s_.size(); ++i) {
      if (s_[i] == L'/' && s_[i + 1] == L'*' && (depth == 0 || !mysql_)) {
        ++depth;
        ++i;
      } else if (s_[i] == L'*' && s_[i + 1] == L'/') {
        ++i;
        if (--depth == 0) return i + 1;
      }
    }
    return npos;
  }

  // A quoted name: kept bytes in it cannot be sent.
  size_t quoted_name(size_t q, wchar_t close) {
    size_t e = q + 1;
    while ((e = s_.find(close, e)) != npos && close != L']' && e + 1 < s_.size() && s_[e + 1] == close) e += 2;
    const size_t end = e == npos ? s_.size() : e;
    const size_t bad = first_kept_byte(s_, q, end);
    if (bad != npos) refuse(bad);
    return end == s_.size() ? end : end + 1;
  }

  // $tag$ … $tag$: a body the server parses again; kept bytes in it cannot be sent.
  size_t dollar_body(size_t p) {
    size_t q = p + 1;
    while (q < s_.size() && (word_char(s_[q]) && !(q == p + 1 && s_[q] >= L'0' && s_[q] <= L'9'))) ++q;
    if (q >= s_.size() || s_[q] != L'$') return p + 1;
    const std::wstring_view tag = s_.substr(p, q - p + 1);
    const size_t close = s_.find(tag, q + 1);
    const size_t end = close == npos ? s_.size() : close + tag.size();
    const size_t bad = first_kept_byte(s_, q, end);
    if (bad != npos) refuse(bad);
    return end;
  }

  // The literal whose opening quote is at q; returns where the scan goes on.
  size_t literal(size_t q, size_t& copied) {
    const wchar_t quote = s_[q];
    // A one-letter prefix: E'…' (PostgreSQL escapes), X'…', B'…', N'…'.
    const wchar_t prefix = q > 0 && word_char(s_[q - 1]) && (q == 1 || !word_char(s_[q - 2])) ? s_[q - 1] : L'\0';
    const bool e_string = !mysql_ && (prefix == L'E' || prefix == L'e');
    const bool backslashes = mysql_ || e_string;
    size_t e = q + 1;
    for (; e < s_.size(); ++e) {
      if (backslashes && s_[e] == L'\\') {
        ++e;
      } else if (s_[e] == quote) {
        if (e + 1 < s_.size() && s_[e + 1] == quote) ++e;
        else break;
      }
    }
    if (e >= s_.size()) {  // not closed: the server will say so, but not with bytes changed
      const size_t bad = first_kept_byte(s_, q, s_.size());
      if (bad != npos) refuse(bad);
      return s_.size();
    }
    const size_t bad = first_kept_byte(s_, q + 1, e);
    const bool binary = mysql_ ? compare_nocase(word_before(s_, prefix ? q - 1 : q), L"_binary") == 0
                               : form_ == form::bytea_hex && (bytea_after(s_, e + 1) ||
                                                              (!prefix && compare_nocase(word_before(s_, q), L"bytea") == 0));
    bool wide = false;  // characters beyond ASCII, whose bytes in an 8-bit script are not their UTF-8
    for (size_t k = q + 1; k < e && !wide; ++k) wide = s_[k] >= 0x80;
    if (bad == npos && !(binary && wide && eight_bit(cp_))) return e + 1;
    const size_t at = bad == npos ? q + 1 : bad;
    if (prefix && !e_string) {
      refuse(at);
      return e + 1;
    }
    std::string body;
    if (!script_bytes(s_.substr(q + 1, e - q - 1), cp_, body)) {
      refuse(at);
      return e + 1;
    }
    const std::string value = literal_value(body, static_cast<char>(quote),
                                            mysql_ ? escapes::mysql : e_string ? escapes::postgres : escapes::none);
    std::wstring replacement;
    switch (form_) {
      case form::hex: replacement = (q > 0 && word_char(s_[q - 1]) ? L" X'" : L"X'") + hex(value) + L"'"; break;
      case form::hex_as_text: replacement = L"CAST(X'" + hex(value) + L"' AS TEXT)"; break;
      case form::bytea_hex: {
        std::string bytes;
        if (binary && bytea_value(value, bytes)) replacement = (e_string ? L"'\\\\x" : L"'\\x") + hex(bytes) + L"'";
        break;
      }
      case form::none: break;
    }
    if (replacement.empty()) {
      refuse(at);
      return e + 1;
    }
    out_.text.append(s_.substr(copied, q - copied));
    out_.text.append(replacement);
    copied = e + 1;
    return e + 1;
  }

  std::wstring_view s_;
  bool mysql_;
  form form_;
  int32_t cp_;
  byte_literal_rewrite out_;
};

} // namespace

byte_literal_rewrite rewrite_byte_literals(std::wstring_view statement, odbc::script_dialect dialect, form f,
                                           int32_t code_page) {
  bool wide = false;
  for (size_t i = 0; i < statement.size() && !wide; ++i) wide = statement[i] >= 0x80;
  if (!wide || (!eight_bit(code_page) && first_kept_byte(statement, 0, statement.size()) == npos)) return {};
  return rewriter(statement, dialect, f, code_page).run();
}

} // namespace vela::terminal
