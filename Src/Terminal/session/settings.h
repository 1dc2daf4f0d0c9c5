// The settings that change at runtime (\set MULTILINE, \pset, \x, \timing ...), by name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vela/result.h"

namespace vela::terminal {

class terminal_context;
struct terminal_options;

// \set NAME VALUE where NAME is a setting: applied (its failure reported); nullopt for any
// other name, which is a plain variable.
std::optional<result> apply_setting(terminal_context& ctx, const std::wstring& name, const std::wstring& value);
// The settings and their values, as \set alone lists them.
std::vector<std::pair<std::wstring, std::wstring>> setting_values(const terminal_context& ctx);

// Which command names a setting: \pset NAME, \set NAME, or a command of its own (\x, \timing).
enum class setting_group : uint8_t { pset, set, own };

// A setting by the name its command gives it ("format", "MULTILINE", "expanded"; letter case
// aside): the value applied to the options, false when the value is not one it takes; nullopt
// for a name of no setting of the group.
std::optional<bool> set_option_value(terminal_options& options, std::wstring_view name, const std::wstring& value,
                                     std::optional<setting_group> group = std::nullopt);
// The value as the setting shows it; nullopt for a name of no setting.
std::optional<std::wstring> option_value(const terminal_options& options, std::wstring_view name);
// The names of a group's settings, in the order they are listed.
std::vector<std::wstring> setting_names(setting_group group);
// "on", "off" and their kin as a switch; nullopt for another word.
std::optional<bool> switch_value(std::wstring_view word);

} // namespace vela::terminal
