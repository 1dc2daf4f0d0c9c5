// String literals of a statement that hold bytes which are not text, made into literals that
// bring the database exactly those bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vela/odbc/driver.h"

namespace vela::terminal {

struct byte_literal_rewrite {
  // No exact way: the statement is not to be sent. at: the first byte that cannot be sent.
  bool refused = false;
  size_t at = 0;
  // The statement to send in place of the one written; empty: the one written.
  std::wstring text;
};

// statement was decoded from code_page (65001 UTF-8, or an 8-bit code page), its invalid
// bytes kept as U+DC80..U+DCFF (utf8_to_wide_escaped). A literal holding such bytes becomes
// a hex literal of its bytes after its escapes, in the database's form; so does a literal of
// an 8-bit script in binary context (_binary '…', '…'::bytea), whose bytes are the script's,
// not their UTF-8. Kept bytes anywhere else but in comments, or where the form has no exact
// literal, refuse the statement. Valid text in UTF-8 is never touched.
byte_literal_rewrite rewrite_byte_literals(std::wstring_view statement, odbc::script_dialect dialect,
                                           odbc::byte_literal_form form, int32_t code_page);

} // namespace vela::terminal
