#include "vela/code_page.h"

#include <regex>

namespace vela {

namespace {

bool whole_match(const std::wstring& name, const wchar_t* pattern) {
  const std::wregex re(pattern, std::regex_constants::ECMAScript | std::regex_constants::icase);
  return std::regex_match(name, re);
}

} // namespace

text_file_code_page parse_code_page(const std::wstring& name) {
  text_file_code_page cp{invalid_code_page, false};
  if (whole_match(name, L"auto")) cp.id = auto_code_page;
  else if (whole_match(name, L"ansi")) cp.id = 0;
  else if (whole_match(name, L"oem")) cp.id = 1;
  else if (whole_match(name, L"(unicode|ucs[_-]{0,1}2[_-]{0,1}(le){0,1}[_-]{0,1}(bom){0,1})")) cp.id = 1200;
  else if (whole_match(name, L"ucs[_-]{0,1}2[_-]{0,1}be[_-]{0,1}(bom){0,1}")) cp.id = 1201;
  else if (whole_match(name, L"utf[_-]{0,1}7")) cp.id = 65000;
  else if (whole_match(name, L"utf[_-]{0,1}8[_-]{0,1}(bom){0,1}")) cp.id = 65001;
  else {
    // The decimal number at the start of the name.
    long long n = 0;
    size_t i = 0;
    while (i < name.size() && name[i] >= L'0' && name[i] <= L'9' && n < 0x7FFFFFFF) n = n * 10 + (name[i++] - L'0');
    if (n > 0 && n <= 0x7FFFFFFF) cp.id = static_cast<int32_t>(n);
  }
  cp.bom = whole_match(name, L"unicode") || whole_match(name, L"(ucs[_-]{0,1}2)[_-]{0,1}(le|be){0,1}[_-]{0,1}bom") ||
           whole_match(name, L"utf[_-]{0,1}8[_-]{0,1}(bom)");
  return cp;
}

} // namespace vela
