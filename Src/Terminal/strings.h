#pragma once

#include "vela/file.h"

namespace vela::terminal {
// sqlterm's numbered strings in English and Russian.
const string_table& strings();
} // namespace vela::terminal
