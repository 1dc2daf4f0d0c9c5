// How much of a wide text is ASCII, for the writers that copy such runs straight.
#pragma once

#include <cstddef>

namespace vela {

// How many units at the start of s are ASCII (below 0x80).
size_t wide_ascii_prefix(const wchar_t* s, size_t units);

} // namespace vela
