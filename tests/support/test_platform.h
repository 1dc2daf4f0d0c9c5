// The few services the tests need that each platform gives in its own way.
#pragma once

#include <cstddef>

namespace vela::testing {

// Sets a variable of the test process's environment; a null value removes it.
void set_env(const char* name, const char* value);

// CPU time of the whole process so far, in milliseconds.
double process_cpu_ms();

// The threads of the test process; 0 where the platform does not tell.
size_t thread_count();

} // namespace vela::testing
