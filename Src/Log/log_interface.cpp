#include <cstdarg>

#include "vela/format.h"
#include "vela/log.h"
#include "vela/utf.h"

namespace vela {

uint32_t write_formatted(Log& log, const char* tag, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = vformat_narrow(format, args);
  va_end(args);
  return log.write(utf8_to_wide(tag), text);
}

uint32_t write_formatted(Log& log, const wchar_t* tag, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = vwformat(format, args);
  va_end(args);
  return log.write(tag, text);
}

} // namespace vela
