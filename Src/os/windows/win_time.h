// File times and system times of the Windows seam, shared by its files and clocks.
#pragma once

#include <windows.h>

#include <cstdint>

#include "os/os.h"

namespace vela::os {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t epoch_difference = 116444736000000000LL;

inline int64_t ticks_of(const FILETIME& ft) {
  return static_cast<int64_t>((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

local_time from_system_time(const SYSTEMTIME& st);

} // namespace vela::os
