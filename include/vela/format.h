// printf-style formatting with the wide convention of the system on every platform:
// in a wide format "%s" and "%c" take wide arguments and "%S", "%hs", "%C" narrow ones;
// in a narrow format it is the other way round. "%ls"/"%ws" are always wide.
// Narrow string arguments are UTF-8; invalid bytes become U+FFFD.
#pragma once

#include <cstdarg>
#include <string>

namespace vela {

std::wstring wformat(const wchar_t* pattern, ...);
std::wstring vwformat(const wchar_t* pattern, va_list args);
// A narrow pattern rendered as wide text.
std::wstring vformat_narrow(const char* pattern, va_list args);

} // namespace vela
