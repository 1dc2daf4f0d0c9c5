// Clocks and local time on Windows.
#include <windows.h>

#include "os/windows/win_time.h"

namespace vela::os {

local_time from_system_time(const SYSTEMTIME& st) {
  local_time lt;
  lt.year = st.wYear;
  lt.month = st.wMonth;
  lt.day = st.wDay;
  lt.day_of_week = st.wDayOfWeek;
  lt.hour = st.wHour;
  lt.minute = st.wMinute;
  lt.second = st.wSecond;
  lt.millisecond = st.wMilliseconds;
  return lt;
}

uint32_t tick_count() { return static_cast<uint32_t>(GetTickCount64()); }

local_time to_local(int64_t unix_seconds, long nanoseconds) {
  const int64_t ticks = unix_seconds * 10000000LL + nanoseconds / 100 + epoch_difference;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
  SYSTEMTIME st{}, local{};
  if (!FileTimeToSystemTime(&utc, &st)) return {};
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &st, &local)) local = st;
  local_time lt = from_system_time(local);
  lt.millisecond = static_cast<int>(nanoseconds / 1000000);
  return lt;
}

local_time now_local() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return from_system_time(st);
}

void realtime_now(int64_t& seconds, long& nanoseconds) {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  const int64_t ticks = ticks_of(ft) - epoch_difference;
  seconds = ticks / 10000000LL;
  nanoseconds = static_cast<long>(ticks % 10000000LL) * 100;
}

} // namespace vela::os
