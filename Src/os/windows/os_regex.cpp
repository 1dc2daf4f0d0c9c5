// Log filter patterns through the C++ runtime's regular expressions (ECMAScript grammar).
#include <regex>

#include "os/os.h"

namespace vela::os {

struct pattern::engine {
  std::wregex re;
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
