#include <malloc.h>
#include <sys/resource.h>

#include "os/os.h"

namespace vela::os {

size_t heap_block_size(void* p) { return malloc_usable_size(p); }

uint64_t peak_memory_bytes() {
  rusage u{};
  if (getrusage(RUSAGE_SELF, &u) != 0) return 0;
  return static_cast<uint64_t>(u.ru_maxrss) * 1024;  // KiB on Linux
}

} // namespace vela::os
