#include <cstdlib>

#include "support/environment.h"

namespace vela::testing {

void set_env(const char* name, const char* value) {
  if (value) ::setenv(name, value, 1);
  else ::unsetenv(name);
}

} // namespace vela::testing
