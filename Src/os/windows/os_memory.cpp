#include <malloc.h>

#include "os/os.h"

namespace vela::os {

size_t heap_block_size(void* p) { return _msize(p); }

} // namespace vela::os
