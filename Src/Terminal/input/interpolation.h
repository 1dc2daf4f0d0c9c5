// Variables put into statements and into client commands' arguments: :NAME (the value),
// :'NAME' (the value as a string literal) and :"NAME" (the value as a quoted name).
#pragma once

#include <string>

#include "Terminal/session/variables.h"
#include "vela/odbc/driver.h"
#include "vela/odbc/driver_profile.h"

namespace vela::terminal {

// Replaces the references to variables that are set, outside quotes, comments and
// dollar-quoted bodies (the statement scanner says where those are), cut by the dialect's
// rules; literals and names are quoted as the profile quotes them. Any other ":" stays as it
// is ("x::int", "@a:=1", ":p" of a name not set). False, text untouched, when nothing was
// replaced.
bool interpolate(std::wstring& text, const variable_table& variables, const odbc::driver_profile& profile,
                 odbc::script_dialect dialect);

} // namespace vela::terminal
