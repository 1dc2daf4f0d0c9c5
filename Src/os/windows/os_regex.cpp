// Log filter patterns through the C++ runtime's regular expressions (ECMAScript grammar).
#include <windows.h>

#include <regex>

#include "os/os.h"

namespace vela::os {

namespace {

// Letter case from the system, whatever the C runtime's locale: "ж" matches "Ж".
struct any_case_traits : std::regex_traits<wchar_t> {
  wchar_t translate_nocase(wchar_t c) const {
    return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(CharLowerW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)))));
  }
};

} // namespace

struct pattern::engine {
  std::basic_regex<wchar_t, any_case_traits> re;
  bool ok = false;
};

pattern::pattern(const std::wstring& text) : engine_(std::make_unique<engine>()) {
  try {
    engine_->re.assign(text, std::regex_constants::ECMAScript | std::regex_constants::icase);
    engine_->ok = true;
  } catch (const std::regex_error&) {
    engine_->ok = false;  // a pattern the runtime refuses
  }
}

pattern::~pattern() = default;

bool pattern::ok() const { return engine_->ok; }

bool pattern::full_match(const std::wstring& text) const {
  if (!engine_->ok) return false;
  try {
    return std::regex_match(text, engine_->re);
  } catch (const std::regex_error&) {
    return false;  // the runtime gave up (too complex for its stack)
  }
}

} // namespace vela::os
