// The settings that change at runtime (\set MULTILINE, \pset, \x, \timing ...), by name.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vela/result.h"

namespace vela::terminal {

class terminal_context;

// \set NAME VALUE where NAME is a setting: applied (its failure reported); nullopt for any
// other name, which is a plain variable.
std::optional<result> apply_setting(terminal_context& ctx, const std::wstring& name, const std::wstring& value);
// The settings and their values, as \set alone lists them.
std::vector<std::pair<std::wstring, std::wstring>> setting_values(const terminal_context& ctx);

} // namespace vela::terminal
