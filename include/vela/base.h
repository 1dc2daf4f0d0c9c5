// Root class, three-way comparison value and the library's exceptions.
#pragma once

#include <cstdint>
#include <string>

// Lets the compiler check a printf-style pattern against its arguments where it can.
#if defined(__GNUC__) || defined(__clang__)
#define VELA_PRINTF_FORMAT(pattern_index, first_argument) \
  __attribute__((format(printf, pattern_index, first_argument)))
#else
#define VELA_PRINTF_FORMAT(pattern_index, first_argument)
#endif

namespace vela {

class base {
 public:
  virtual ~base() = default;
};

// Three-way comparison: always -1, 0 or 1.
class TCmpRes : public base {
 public:
  TCmpRes() = default;
  template <typename I>
  TCmpRes(I v) : value_(v < 0 ? -1 : (v > 0 ? 1 : 0)) {}
  int value() const { return value_; }
  operator int() const { return value_; }

 private:
  int32_t value_ = 0;
};

class result;

// Library exception with a wide message. Deliberately not a std::exception: callers that
// turn exceptions into results treat the two families differently.
class wexception : public base {
 public:
  explicit wexception(std::wstring message) : message_(std::move(message)) {}
  virtual const std::wstring& what() const { return message_; }

 private:
  std::wstring message_;
};

// An operating-system failure: message "text (description of code)" and the code.
class windows_error : public wexception {
 public:
  windows_error(const std::wstring& text, int32_t code);
  explicit windows_error(const result& r);
  int32_t code() const { return code_; }

 private:
  int32_t code_;
};

} // namespace vela
