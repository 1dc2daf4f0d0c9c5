// Outcome of an operation and the process-wide error registry.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "vela/base.h"

namespace vela {

// How grave an outcome is; the numbers are what callers compare and store.
namespace severity {
enum level : int32_t { success = 0, information = 1, warning = 2, error = 3 };
}

// Bit that marks a code of the error registry.
constexpr uint32_t registered_code_bit = 0x20000000u;

class [[nodiscard]] result : public base {
 public:
  result();
  result(uint32_t code, std::wstring text, int32_t severity);
  result(const result&) = default;
  result& operator=(const result&) = default;

  void set(uint32_t code, std::wstring text, int32_t severity);
  void set(uint32_t code) { set(code, std::wstring(), severity::error); }

  uint32_t code() const { return code_ & 0x3FFFFFFFu; }
  int32_t severity() const { return severity_; }
  void set_severity(int32_t s) { severity_ = s; }
  const std::wstring& text() const { return text_; }
  const std::wstring& description() const;
  // What a driver said besides the text: its five-character status (SQLSTATE) and its own
  // error number; empty and 0 for other outcomes.
  const std::wstring& state() const { return state_; }
  int32_t native_code() const { return native_; }
  result& set_state(std::wstring state, int32_t native) {
    state_ = std::move(state);
    native_ = native;
    return *this;
  }
  bool succeeded() const { return severity_ != severity::error; }

  // Combines the outcome of a further step: first code, highest severity, texts appended.
  result& merge(const result& other);

  // Renders the template: %cd code (decimal), %ch code (8 hex digits), %c text, %d description.
  std::wstring format(const std::wstring& templ) const;
  virtual std::wstring format() const;

 private:
  uint32_t code_ = 0;
  int32_t severity_ = 0;
  std::wstring text_;
  // Looked up when first asked for: most results are only tested.
  mutable std::wstring description_;
  mutable bool described_ = true;
  std::wstring state_;
  int32_t native_ = 0;
};

// A failed outcome: the code with error severity.
inline result failure(uint32_t code, std::wstring text = {}) { return result(code, std::move(text), severity::error); }

// Registry entry, kept sorted by code.
struct ErrCode {
  uint32_t code;
  std::wstring text;
  TCmpRes compare(const ErrCode& other, int key) const;
};

bool RegisterError(uint32_t code, const std::wstring& text);
uint32_t RegisterErrorText(const std::wstring& text);
std::wstring GetErrorText(uint32_t code);

} // namespace vela
