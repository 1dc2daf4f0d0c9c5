// Code pages as options and files name them.
#pragma once

#include <cstdint>
#include <string>

namespace vela {

constexpr int32_t auto_code_page = -1;
constexpr int32_t invalid_code_page = -2;

struct text_file_code_page {
  int32_t id = auto_code_page;
  bool bom = false;
};

// "auto", "ansi", "oem", "unicode"/"ucs2[le|be][bom]", "utf7", "utf8[bom]" or a number;
// anything else gives invalid_code_page.
text_file_code_page parse_code_page(const std::wstring& name);

} // namespace vela
