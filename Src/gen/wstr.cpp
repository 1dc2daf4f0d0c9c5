#include "vela/wstr.h"

#include <cwchar>
#include <cwctype>

#include "os/os.h"

namespace vela {

std::wstring& trim(std::wstring& s, const wchar_t* left_set, const wchar_t* right_set) {
  if (!right_set) right_set = left_set;
  if (!left_set) return s;
  const size_t end = s.find_last_not_of(right_set);
  s.erase(end == std::wstring::npos ? 0 : end + 1);
  s.erase(0, std::min(s.find_first_not_of(left_set), s.size()));
  return s;
}

std::wstring& trim_char(std::wstring& s, wchar_t left, wchar_t right) {
  if (!right) right = left;
  size_t end = s.size();
  while (end > 0 && s[end - 1] == right) --end;
  s.erase(end);
  size_t begin = 0;
  while (begin < s.size() && s[begin] == left) ++begin;
  s.erase(0, begin);
  return s;
}

std::wstring& strip_pairs(std::wstring& s, wchar_t first, wchar_t last) {
  if (!last) last = first;
  while (s.size() >= 2 && s.front() == first && s.back() == last) s = s.substr(1, s.size() - 2);
  return s;
}

std::wstring& to_upper(std::wstring& s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return s;
}

std::wstring to_upper_copy(std::wstring_view s) {
  std::wstring u(s);
  return to_upper(u);
}

TCmpRes compare_nocase(std::wstring_view a, std::wstring_view b) {
  // As the upper-case copies compare, letter by letter, without making them.
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(a[i])));
    const auto y = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(b[i])));
    if (x != y) return TCmpRes(x < y ? -1 : 1);
  }
  return TCmpRes(a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0);
}

long find_nocase(std::wstring_view s, std::wstring_view text, size_t start) {
  if (start > s.size()) return -1;
  const std::wstring us = to_upper_copy(s), ut = to_upper_copy(text);
  const size_t pos = us.find(ut, start);
  return pos == std::wstring::npos ? -1 : static_cast<long>(pos);
}

namespace {

template <typename Find>
int replace_each(std::wstring& s, std::wstring_view text, std::wstring_view replacement, Find find) {
  if (text.empty()) return 0;
  int count = 0;
  size_t pos = 0;
  long at;
  while ((at = find(s, text, pos)) >= 0) {
    s.replace(static_cast<size_t>(at), text.size(), replacement);
    pos = static_cast<size_t>(at) + replacement.size();
    ++count;
  }
  return count;
}

} // namespace

int replace_all(std::wstring& s, std::wstring_view text, std::wstring_view replacement) {
  return replace_each(s, text, replacement, [](const std::wstring& h, std::wstring_view t, size_t p) -> long {
    const size_t at = h.find(t, p);
    return at == std::wstring::npos ? -1 : static_cast<long>(at);
  });
}

int replace_all_nocase(std::wstring& s, std::wstring_view text, std::wstring_view replacement) {
  return replace_each(s, text, replacement, [](const std::wstring& h, std::wstring_view t, size_t p) {
    return find_nocase(h, t, p);
  });
}

std::wstring ansi_to_wide(std::string_view s) {
  std::wstring out;
  os::to_wide(0, s, out, false);
  return out;
}

std::wstring oem_to_wide(std::string_view s) {
  std::wstring out;
  os::to_wide(1, s, out, false);
  return out;
}

} // namespace vela
