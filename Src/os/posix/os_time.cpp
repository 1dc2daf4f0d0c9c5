// Clocks and local time on POSIX systems.
#include "os/os.h"

#include <ctime>

namespace vela::os {

uint32_t tick_count() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

local_time to_local(int64_t unix_seconds, long nanoseconds) {
  const time_t t = static_cast<time_t>(unix_seconds);
  tm parts{};
  localtime_r(&t, &parts);
  local_time lt;
  lt.year = parts.tm_year + 1900;
  lt.month = parts.tm_mon + 1;
  lt.day = parts.tm_mday;
  lt.day_of_week = parts.tm_wday;
  lt.hour = parts.tm_hour;
  lt.minute = parts.tm_min;
  lt.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;  // leap second
  lt.millisecond = static_cast<int>(nanoseconds / 1000000);
  return lt;
}

local_time now_local() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return to_local(ts.tv_sec, ts.tv_nsec);
}

} // namespace vela::os
