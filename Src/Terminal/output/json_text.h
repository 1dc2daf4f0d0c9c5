// JSON text: numbers as JSON writes them, and the inside of strings escaped.
#pragma once

#include <cstddef>
#include <string>

namespace vela::terminal {

// Whether text is a JSON number as it stands.
bool json_number(const char* s, size_t n);

// The inside of a JSON string: quotes, backslashes, control characters (NUL among them) and
// bytes of invalid UTF-8 escaped.
void append_json_escaped(std::string& to, const char* s, size_t n);

} // namespace vela::terminal
