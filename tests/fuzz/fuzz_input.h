// Turning fuzzer bytes into the inputs of the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vela/utf.h"

namespace vela::fuzzing {

// Reads the input front to back; running out yields zeros and empty strings.
class input {
 public:
  input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  size_t left() const { return static_cast<size_t>(end_ - p_); }
  uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
  uint32_t number(uint32_t limit) {
    const uint32_t v = static_cast<uint32_t>(byte()) | static_cast<uint32_t>(byte()) << 8;
    return limit ? v % limit : v;
  }
  // The bytes up to the next zero byte (or the end).
  std::string bytes() {
    std::string s;
    while (p_ < end_ && *p_) s += static_cast<char>(*p_++);
    if (p_ < end_) ++p_;
    return s;
  }
  std::string rest() {
    std::string s(reinterpret_cast<const char*>(p_), left());
    p_ = end_;
    return s;
  }
  // Wide text: UTF-8 (bad bytes become U+FFFD) or, after a 0x01 mark, raw 16-bit units so that
  // lone surrogates and unpaired halves reach the code too.
  static std::wstring wide(const std::string& b) {
    if (b.empty() || b[0] != '\x01') return utf8_to_wide(b);
    std::wstring w;
    for (size_t i = 1; i + 1 < b.size(); i += 2)
      w += static_cast<wchar_t>(static_cast<uint8_t>(b[i]) | static_cast<uint8_t>(b[i + 1]) << 8);
    return w;
  }
  std::wstring wide() { return wide(bytes()); }
  std::wstring wide_rest() { return wide(rest()); }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

} // namespace vela::fuzzing
