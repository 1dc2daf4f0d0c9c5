#include <cstdlib>
#include <new>

#include "os/os.h"
#include "vela/containers.h"

namespace vela {

std::wstring container_error_text(int line) {
  return L"include/vela/containers.h line " + std::to_wstring(line);
}

void* memory_buffer::allocate(uint32_t n) {
  release();
  if (n == 0) return nullptr;
  void* p = std::malloc(n);
  if (!p) throw std::bad_alloc();
  data_ = p;
  size_ = static_cast<uint32_t>(os::heap_block_size(p));
  return data_;
}

void* memory_buffer::reallocate(uint32_t n) {
  if (n == 0) {
    release();
    return nullptr;
  }
  void* p = std::realloc(data_, n);
  if (!p) throw std::bad_alloc();
  data_ = p;
  size_ = static_cast<uint32_t>(os::heap_block_size(p));
  return data_;
}

void memory_buffer::release() {
  std::free(data_);
  data_ = nullptr;
  size_ = 0;
}

} // namespace vela
