#include <windows.h>
#include <malloc.h>
#include <psapi.h>

#include "os/os.h"

namespace vela::os {

size_t heap_block_size(void* p) { return _msize(p); }

uint64_t peak_memory_bytes() {
  PROCESS_MEMORY_COUNTERS c{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c)) return 0;
  return c.PeakWorkingSetSize;
}

} // namespace vela::os
