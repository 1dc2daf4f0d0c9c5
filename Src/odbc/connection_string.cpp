#include "vela/odbc/connection_string.h"

#include "vela/wstr.h"

namespace vela::odbc {

namespace {

bool word_char(wchar_t c) { return (c >= L'0' && c <= L'9') || ((c | 0x20) >= L'a' && (c | 0x20) <= L'z') || c == L'_'; }

// The "}" that closes the brace at open, "}}" being one brace inside; none when missing.
size_t closing_brace(const std::wstring& s, size_t open) {
  for (size_t k = open + 1; k < s.size(); ++k) {
    if (s[k] != L'}') continue;
    if (k + 1 < s.size() && s[k + 1] == L'}') {
      ++k;
      continue;
    }
    return k;
  }
  return cs_attribute::none;
}

} // namespace

std::wstring cs_attribute::key(const std::wstring& s) const {
  size_t e = has_value() ? equals : end;
  while (e > start && (s[e - 1] == L' ' || s[e - 1] == L'\t')) --e;
  size_t b = e;
  while (b > start && word_char(s[b - 1])) --b;
  return s.substr(b, e - b);
}

std::wstring cs_attribute::value(const std::wstring& s) const {
  if (!has_value()) return {};
  if (!braced()) {
    size_t b = equals + 1;
    while (b < end && s[b] == L' ') ++b;
    return s.substr(b, end - b);
  }
  std::wstring v = braced_text(s);
  replace_all(v, L"}}", L"}");
  return v;
}

std::wstring cs_attribute::braced_text(const std::wstring& s) const {
  if (!braced()) return {};
  const size_t stop = brace_close == none ? s.size() : brace_close;
  return s.substr(brace_open + 1, stop - brace_open - 1);
}

std::vector<cs_attribute> read_connection_string(const std::wstring& s, brace_rule braces) {
  std::vector<cs_attribute> out;
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    cs_attribute a;
    a.start = i;
    const size_t eq = s.find(L'=', i);
    const size_t semi = s.find(L';', i);
    if (eq == std::wstring::npos || (semi != std::wstring::npos && semi < eq)) {
      a.end = semi == std::wstring::npos ? n : semi;
    } else {
      a.equals = eq;
      size_t first = eq + 1;
      while (first < n && s[first] == L' ') ++first;
      size_t from = eq + 1;
      if (first < n && s[first] == L'{') {
        a.brace_open = first;
        a.brace_close = closing_brace(s, first);
        if (braces == brace_rule::keep) from = a.brace_close == cs_attribute::none ? n : a.brace_close + 1;
      }
      const size_t stop = s.find(L';', from);
      a.end = stop == std::wstring::npos ? n : stop;
    }
    out.push_back(a);
    i = a.end + 1;
  }
  return out;
}

bool is_password_key(const std::wstring& key) {
  return compare_nocase(key, L"PWD") == 0 || compare_nocase(key, L"PASSWORD") == 0;
}

} // namespace vela::odbc
