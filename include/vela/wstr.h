// Helpers on standard wide strings.
#pragma once

#include <string>
#include <string_view>

#include "vela/base.h"

namespace vela {

// Removes leading characters of left_set and trailing ones of right_set (left_set when null).
std::wstring& trim(std::wstring& s, const wchar_t* left_set, const wchar_t* right_set = nullptr);
// Removes leading left characters and trailing right ones (left when right is 0).
std::wstring& trim_char(std::wstring& s, wchar_t left, wchar_t right = 0);
// While s begins with first and ends with last (first when 0), removes both ends.
std::wstring& strip_pairs(std::wstring& s, wchar_t first, wchar_t last = 0);
std::wstring& to_upper(std::wstring& s);
std::wstring to_upper_copy(std::wstring_view s);
TCmpRes compare_nocase(std::wstring_view a, std::wstring_view b);
// Position of the first case-insensitive occurrence at or after start, or -1.
long find_nocase(std::wstring_view s, std::wstring_view text, size_t start = 0);
// Replace every occurrence, continuing behind each replacement; returns the count.
int replace_all(std::wstring& s, std::wstring_view text, std::wstring_view replacement);
int replace_all_nocase(std::wstring& s, std::wstring_view text, std::wstring_view replacement);

// 8-bit text in the ANSI and OEM code pages of the user's language.
std::wstring ansi_to_wide(std::string_view s);
std::wstring oem_to_wide(std::string_view s);

} // namespace vela
