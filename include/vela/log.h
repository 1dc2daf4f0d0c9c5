// The process-wide diagnostic log as its callers see it.
#pragma once

#include <cstdint>
#include <string>

#include "vela/base.h"

namespace vela {

class Log : public base {
 public:
  // Reserved; has no effect.
  virtual Log& apply(void* arg) = 0;
  virtual uint32_t start() = 0;
  // timeout in milliseconds; no_limit waits until the log has ended.
  virtual uint32_t stop(uint32_t timeout_ms) = 0;
  // Hands one tagged line over; 0 when it was taken.
  virtual uint32_t write(const std::wstring& tag, const std::wstring& text) = 0;
  // False while the log records nothing: callers skip building lines then.
  virtual bool enabled() const { return true; }

  static constexpr uint32_t no_limit = 0xFFFFFFFFu;
  // What a program waits at its end for the last lines: the writer's own retry window and a
  // little more, so that a writer stuck in the file system cannot keep the program alive.
  static constexpr uint32_t exit_wait_ms = 16000;
};

// The process's log: the one a program installed, or one that takes every line and keeps none.
Log& process_log();
// Installs the process's log; it must live until the process ends. nullptr restores the
// log that keeps nothing.
void set_process_log(Log* log);

uint32_t write_formatted(Log& log, const char* tag, const char* format, ...) VELA_PRINTF_FORMAT(3, 4);
uint32_t write_formatted(Log& log, const wchar_t* tag, const wchar_t* format, ...);

} // namespace vela
