#include "Terminal/session/settings.h"

#include "Terminal/session/context.h"

namespace vela::terminal {

std::optional<result> apply_setting(terminal_context&, const std::wstring&, const std::wstring&) { return std::nullopt; }

std::vector<std::pair<std::wstring, std::wstring>> setting_values(const terminal_context&) { return {}; }

} // namespace vela::terminal
