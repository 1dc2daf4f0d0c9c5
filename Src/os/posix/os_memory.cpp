#include <malloc.h>

#include "os/os.h"

namespace vela::os {

size_t heap_block_size(void* p) { return malloc_usable_size(p); }

} // namespace vela::os
