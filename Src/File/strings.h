#pragma once

#include "vela/file.h"

namespace vela::blobfile {
// blobfile's numbered strings in English and Russian.
const string_table& strings();
} // namespace vela::blobfile
