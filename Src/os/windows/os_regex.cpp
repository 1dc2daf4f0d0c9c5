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

namespace {

// Repetition counts beyond 1000 are refused, as on the other platform: each repeat is a
// copy of the pattern in the automaton.
bool counts_in_bounds(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\\') {
      ++i;
      continue;
    }
    if (text[i] != L'{') continue;
    unsigned long n = 0;
    for (size_t k = i + 1; k < text.size() && ((text[k] >= L'0' && text[k] <= L'9') || text[k] == L','); ++k) {
      if (text[k] == L',') n = 0;
      else if ((n = n * 10 + (text[k] - L'0')) > 1000) return false;
    }
  }
  return true;
}

} // namespace

pattern::pattern(const std::wstring& text) : engine_(std::make_unique<engine>()) {
  if (!counts_in_bounds(text)) return;
  try {
    // The polynomial (breadth-first) matcher: no back references, no exponential
    // backtracking, and no recursion as deep as the text is long.
    engine_->re.assign(text, std::regex_constants::ECMAScript | std::regex_constants::icase |
                                 std::regex_constants::__polynomial);
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
