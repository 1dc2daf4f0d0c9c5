#include <cstdlib>

#include "support/environment.h"

namespace vela::testing {

// An empty value removes a variable on Windows.
void set_env(const char* name, const char* value) { _putenv_s(name, value ? value : ""); }

} // namespace vela::testing
