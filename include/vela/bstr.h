// 8-bit strings: the BStr interface and its buffered implementation Str.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "vela/base.h"
#include "vela/containers.h"

namespace vela {

// Compares 8-bit texts with the ASCII letters folded, at most max characters: -1, 0 or 1.
int compare_ascii_nocase(const char* a, const char* b, size_t max = static_cast<size_t>(-1));

class BStr : public base {
 public:
  static constexpr uint32_t trim_left_flag = 1;
  static constexpr uint32_t trim_right_flag = 2;
  // Comparison flags.
  static constexpr uint32_t cmp_nocase = 1;
  static constexpr uint32_t cmp_prefix = 2;

  virtual BStr& assign(const char* text, int32_t max_length = 0) {
    (void)text;
    (void)max_length;
    return *this;
  }
  virtual BStr& assign(const BStr& other) {
    (void)other;
    return *this;
  }
  virtual BStr& insert(const char* text, int32_t pos, int32_t length = 0) {
    (void)text;
    (void)pos;
    (void)length;
    return *this;
  }
  virtual const char* format(const char* pattern, ...) VELA_PRINTF_FORMAT(2, 3) {
    (void)pattern;
    return c_str();
  }

  const char* c_str() const { return data_ ? data_ : ""; }
  int32_t length() const { return length_; }
  bool empty() const { return length_ == 0; }
  uint32_t flags() const { return flags_; }
  void set_flags(uint32_t f) { flags_ = f; }

  TCmpRes compare(const char* other, uint32_t how = 0) const;
  TCmpRes compare(const BStr& other, uint32_t how = 0) const { return compare(other.c_str(), how); }

 protected:
  char* data_ = nullptr;
  int32_t length_ = 0;
  uint32_t flags_ = 0;
};

class Str : public BStr {
 public:
  Str() = default;
  Str(const char* text, int32_t max_length = 0) { assign(text, max_length); }
  Str(const Str& other) : BStr() { assign(other); }
  Str(char c, int32_t count);
  Str& operator=(const Str& other) {
    assign(other);
    return *this;
  }

  using BStr::assign;
  BStr& assign(const char* text, int32_t max_length = 0) override;
  BStr& assign(const BStr& other) override;
  BStr& insert(const char* text, int32_t pos, int32_t length = 0) override;
  const char* format(const char* pattern, ...) override VELA_PRINTF_FORMAT(2, 3);
  const char* vformat(const char* pattern, va_list args);

  Str& append(const char* text);
  // Count 0 erases to the end; a position beyond the length throws.
  Str& erase(int32_t pos, int32_t count = 0);
  // Removes the last n characters.
  Str& cut(int32_t n);
  Str& clear();
  Str& trim_left();
  Str& trim_right();
  Str& unquote();

  uint32_t buffer_size() const { return buffer_.size(); }

 private:
  void reserve(int32_t n);
  void set_length(int32_t n);
  void after_change();

  char_buffer buffer_;
};

} // namespace vela
