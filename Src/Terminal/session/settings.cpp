#include "Terminal/session/settings.h"

#include "Terminal/session/context.h"
#include "Terminal/strings.h"

namespace vela::terminal {

std::optional<result> apply_setting(terminal_context& ctx, const std::wstring& name, const std::wstring& value) {
  const std::optional<bool> applied = set_option_value(ctx.options, name, value, setting_group::set);
  if (!applied) return std::nullopt;
  if (*applied) return result();
  return ctx.fail(message(string_id::setting_value_invalid, value.c_str(), name.c_str()));
}

std::vector<std::pair<std::wstring, std::wstring>> setting_values(const terminal_context& ctx) {
  std::vector<std::pair<std::wstring, std::wstring>> values;
  for (const setting_group g : {setting_group::pset, setting_group::own, setting_group::set})
    for (const std::wstring& name : setting_names(g)) values.emplace_back(name, *option_value(ctx.options, name));
  return values;
}

} // namespace vela::terminal
