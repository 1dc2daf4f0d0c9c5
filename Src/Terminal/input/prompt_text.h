// The text of the prompt: "SQL>" as ever, or the PROMPT1 variable with psql's escapes.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "Terminal/session/context.h"

namespace vela::terminal {

// A prompt format with its "%" escapes filled in: value gives the text of an escape's letter
// (n the user, / and ~ the database, M the host, x the transaction status, R the marker);
// %m is the host up to its first dot, %% a "%", and any other letter stands for itself.
std::wstring expand_prompt(std::wstring_view format, const std::function<std::wstring(wchar_t)>& value);

// The prompt in front of a line (going_on: a line that goes on with a statement): PROMPT1
// when set (PROMPT2, when set, on the lines after a statement's first), its marker %R ">",
// "-" going on, "@" in a branch of \if that does not run, "!" not connected. Otherwise "SQL>"
// (">" not connected, "...>" going on), with "(skip)" before the ">" in a branch that does
// not run.
std::wstring prompt_text(terminal_context& ctx, bool going_on);

} // namespace vela::terminal
