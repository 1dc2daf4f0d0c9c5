// Log filter patterns through RE2: linear time in the text, no recursion.
#include <re2/re2.h>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

struct pattern::engine {
  explicit engine(const std::string& text, const re2::RE2::Options& options) : re(text, options) {}
  re2::RE2 re;
};

namespace {
re2::RE2::Options pattern_options() {
  re2::RE2::Options options;
  options.set_case_sensitive(false);
  options.set_log_errors(false);
  return options;
}
} // namespace

pattern::pattern(const std::wstring& text) : engine_(std::make_unique<engine>(wide_to_utf8(text), pattern_options())) {}

pattern::~pattern() = default;

bool pattern::ok() const { return engine_->re.ok(); }

bool pattern::full_match(const std::wstring& text) const {
  return re2::RE2::FullMatch(wide_to_utf8(text), engine_->re);
}

} // namespace vela::os
