#include "vela/bstr.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace vela {

int compare_ascii_nocase(const char* a, const char* b, size_t max) {
  const auto fold = [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
  };
  for (size_t i = 0; i < max; ++i) {
    const unsigned x = fold(a[i]);
    const unsigned y = fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

TCmpRes BStr::compare(const char* other, uint32_t how) const {
  if (!other) other = "";
  const char* mine = c_str();
  const size_t n = std::strlen(other);
  switch (how & (cmp_nocase | cmp_prefix)) {
    case 0: return TCmpRes(std::strcoll(mine, other));
    case cmp_nocase: return TCmpRes(compare_ascii_nocase(mine, other));
    case cmp_prefix: return TCmpRes(std::strncmp(mine, other, n));
    default: return TCmpRes(compare_ascii_nocase(mine, other, n));
  }
}

Str::Str(char c, int32_t count) {
  if (count <= 0) return;
  reserve(count);
  std::memset(data_, c, static_cast<size_t>(count));
  set_length(count);
  after_change();
}

// Room for n characters and the NUL: the next multiple of 32 above n.
void Str::reserve(int32_t n) {
  if (buffer_.size() > static_cast<uint32_t>(n) && data_) return;
  buffer_.reallocate((static_cast<uint32_t>(n) & ~31u) + 32);
  data_ = buffer_.chars();
  if (length_ == 0) data_[0] = '\0';
}

void Str::set_length(int32_t n) {
  length_ = n;
  data_[n] = '\0';
}

void Str::after_change() {
  if (flags_ & trim_left_flag) trim_left();
  if (flags_ & trim_right_flag) trim_right();
}

BStr& Str::assign(const char* text, int32_t max_length) {
  if (!text) text = "";
  int32_t n = static_cast<int32_t>(std::strlen(text));
  if (max_length > 0 && max_length < n) n = max_length;
  if (text >= data_ && data_ && text < data_ + buffer_.size()) {
    // Assigning a piece of itself.
    std::memmove(data_, text, static_cast<size_t>(n));
    set_length(n);
  } else {
    reserve(n);
    std::memcpy(data_, text, static_cast<size_t>(n));
    set_length(n);
  }
  after_change();
  return *this;
}

BStr& Str::assign(const BStr& other) {
  if (&other == this) return *this;
  return assign(other.c_str());
}

BStr& Str::insert(const char* text, int32_t pos, int32_t length) {
  if (!text) return *this;
  const std::string copy(text, length > 0 ? strnlen(text, static_cast<size_t>(length)) : std::strlen(text));
  if (pos < 0) pos = 0;
  if (pos > length_) pos = length_;
  const auto n = static_cast<int32_t>(copy.size());
  reserve(length_ + n);
  std::memmove(data_ + pos + n, data_ + pos, static_cast<size_t>(length_ - pos));
  std::memcpy(data_ + pos, copy.data(), copy.size());
  set_length(length_ + n);
  after_change();
  return *this;
}

// An argument may point into this string: the text is built apart and then taken over.
const char* Str::vformat(const char* pattern, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    va_copy(copy, args);
    std::vsnprintf(text.data(), text.size(), pattern, copy);
    va_end(copy);
    text.resize(static_cast<size_t>(n));
  }
  reserve(static_cast<int32_t>(text.size()));
  std::memcpy(data_, text.data(), text.size());
  set_length(static_cast<int32_t>(text.size()));
  after_change();
  return data_;
}

const char* Str::format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  vformat(pattern, args);
  va_end(args);
  return data_;
}

Str& Str::append(const char* text) {
  insert(text, length_);
  return *this;
}

Str& Str::erase(int32_t pos, int32_t count) {
  if (pos < 0 || pos > length_) throw wexception(L"..\\Src\\gen\\BStr line 73");
  if (!data_) return *this;  // nothing to erase, and no buffer yet
  // A count past the end erases to the end (computed without overflowing).
  if (count <= 0 || count > length_ - pos) count = length_ - pos;
  std::memmove(data_ + pos, data_ + pos + count, static_cast<size_t>(length_ - pos - count));
  set_length(length_ - count);
  after_change();
  return *this;
}

Str& Str::cut(int32_t n) {
  if (!data_) return *this;
  set_length(n >= length_ ? 0 : length_ - (n > 0 ? n : 0));
  after_change();
  return *this;
}

Str& Str::clear() {
  if (data_) set_length(0);
  return *this;
}

Str& Str::trim_left() {
  int32_t i = 0;
  while (i < length_ && (data_[i] == ' ' || data_[i] == '\t')) ++i;
  if (i) {
    std::memmove(data_, data_ + i, static_cast<size_t>(length_ - i));
    set_length(length_ - i);
  }
  return *this;
}

Str& Str::trim_right() {
  int32_t n = length_;
  while (n > 0 && (data_[n - 1] == ' ' || data_[n - 1] == '\t')) --n;
  if (n != length_) set_length(n);
  return *this;
}

Str& Str::unquote() {
  if (length_ >= 2 && data_[0] == '"' && data_[length_ - 1] == '"' &&
      std::memchr(data_ + 1, '"', static_cast<size_t>(length_ - 2)) == nullptr) {
    std::memmove(data_, data_ + 1, static_cast<size_t>(length_ - 2));
    set_length(length_ - 2);
  }
  return *this;
}

} // namespace vela
