#include <atomic>
#include <cstdarg>

#include "vela/format.h"
#include "vela/log.h"
#include "vela/utf.h"

namespace vela {

namespace {

class null_log final : public Log {
 public:
  Log& apply(void*) override { return *this; }
  uint32_t start() override { return 0; }
  uint32_t stop(uint32_t) override { return 0; }
  uint32_t write(const std::wstring&, const std::wstring&) override { return 0; }
  bool enabled() const override { return false; }
};

null_log the_null_log;
std::atomic<Log*> installed{nullptr};

} // namespace

Log& process_log() {
  Log* log = installed.load(std::memory_order_acquire);
  return log ? *log : the_null_log;
}

void set_process_log(Log* log) { installed.store(log, std::memory_order_release); }

uint32_t write_formatted(Log& log, const char* tag, const char* format, ...) {
  if (!log.enabled()) return 0;
  va_list args;
  va_start(args, format);
  std::wstring text = vformat_narrow(format, args);
  va_end(args);
  return log.write(utf8_to_wide(tag), text);
}

uint32_t write_formatted(Log& log, const wchar_t* tag, const wchar_t* format, ...) {
  if (!log.enabled()) return 0;
  va_list args;
  va_start(args, format);
  std::wstring text = vwformat(format, args);
  va_end(args);
  return log.write(tag, text);
}

} // namespace vela
