// The driver layer's own texts, in English and Russian.
#pragma once

#include <cstdint>
#include <string>

namespace vela::odbc {

enum class text_id : uint32_t { changed_size = 1, ended_early = 2, access_error = 3, no_data = 4 };

// The text in the user's language.
std::wstring text(text_id id);

} // namespace vela::odbc
