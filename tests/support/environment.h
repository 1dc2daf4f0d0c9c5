// Setting a variable of the test process's environment on every platform.
#pragma once

namespace vela::testing {

// A null value removes the variable.
void set_env(const char* name, const char* value);

} // namespace vela::testing
