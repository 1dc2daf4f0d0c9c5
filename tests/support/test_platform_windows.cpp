#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "support/test_platform.h"

namespace vela::testing {

// An empty value removes a variable on Windows.
void set_env(const char* name, const char* value) { _putenv_s(name, value ? value : ""); }

double process_cpu_ms() {
  FILETIME created{}, ended{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& f) { return double((uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime); };
  return (ticks(kernel) + ticks(user)) / 10000.0;
}

size_t thread_count() { return 0; }

} // namespace vela::testing
