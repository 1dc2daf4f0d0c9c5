// The settings of the options by name, as \pset, \x, \timing, \set and the start-up options
// give them: one table of names, values and how each is shown.
#include "Terminal/output/formats.h"
#include "Terminal/session/options.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

using expanded_mode = terminal_options::expanded_mode;

// The padded layout has no "-format" name; \pset format gives it this one.
constexpr const wchar_t* padded_name = L"padded";

std::wstring on_off(bool on) { return on ? L"on" : L"off"; }

bool set_switch(bool& target, const std::wstring& value) {
  const std::optional<bool> on = switch_value(value);
  if (on) target = *on;
  return on.has_value();
}

// CSV's fields are separated by "," where the padded layout's blank would stand.
bool set_format(terminal_options& o, const std::wstring& value) {
  const output_format* const f = compare_nocase(value, padded_name) == 0 ? &default_format() : find_format(value);
  if (!f) return false;
  const output_format* const csv = find_format(L"csv");
  if (f == csv && o.column_delimiter == L" ") o.column_delimiter = L",";
  else if (o.csv && f != csv && o.column_delimiter == L",") o.column_delimiter = L" ";
  o.format = f;
  o.csv = f == csv;
  return true;
}

bool set_border(terminal_options& o, const std::wstring& value) {
  if (value.size() != 1 || value[0] < L'0' || value[0] > L'2') return false;
  o.border = value[0] - L'0';
  return true;
}

bool set_pager(terminal_options& o, const std::wstring& value) {
  const bool always = compare_nocase(value, L"always") == 0;
  if (!always && !set_switch(o.pager, value)) return false;
  if (always) o.pager = true;
  o.pager_always = always;
  return true;
}

bool set_expanded(terminal_options& o, const std::wstring& value) {
  bool on = false;
  if (compare_nocase(value, L"auto") == 0) o.expanded = expanded_mode::automatic;
  else if (set_switch(on, value)) o.expanded = on ? expanded_mode::on : expanded_mode::off;
  else return false;
  return true;
}

std::wstring expanded_text(const terminal_options& o) {
  return o.expanded == expanded_mode::automatic ? L"auto" : on_off(o.expanded == expanded_mode::on);
}

struct setting {
  const wchar_t* name;
  setting_group group;
  bool (*set)(terminal_options& o, const std::wstring& value);
  std::wstring (*show)(const terminal_options& o);
};

const std::vector<setting>& settings_table() {
  using g = setting_group;
  using o_t = terminal_options;
  static const std::vector<setting> table = {
      {L"format", g::pset, set_format,
       [](const o_t& o) { return std::wstring(*o.format->name ? o.format->name : padded_name); }},
      {L"null", g::pset, [](o_t& o, const std::wstring& v) { return o.null_text = v, o.null_text_given = true; },
       [](const o_t& o) { return o.null_text; }},
      {L"border", g::pset, set_border, [](const o_t& o) { return std::to_wstring(o.border); }},
      {L"pager", g::pset, set_pager,
       [](const o_t& o) { return o.pager_always ? std::wstring(L"always") : on_off(o.pager); }},
      {L"expanded", g::own, set_expanded, expanded_text},
      {L"timing", g::own, [](o_t& o, const std::wstring& v) { return set_switch(o.timing, v); },
       [](const o_t& o) { return on_off(o.timing); }},
      {L"MULTILINE", g::set, [](o_t& o, const std::wstring& v) { return set_switch(o.multiline, v); },
       [](const o_t& o) { return on_off(o.multiline); }},
      {L"ON_ERROR_STOP", g::set, [](o_t& o, const std::wstring& v) { return set_switch(o.on_error, v); },
       [](const o_t& o) { return on_off(o.on_error); }},
  };
  return table;
}

const setting* find_setting(std::wstring_view name, std::optional<setting_group> group) {
  for (const setting& s : settings_table())
    if ((!group || s.group == *group) && compare_nocase(name, s.name) == 0) return &s;
  return nullptr;
}

} // namespace

std::optional<bool> switch_value(std::wstring_view word) {
  for (const wchar_t* on : {L"on", L"true", L"yes", L"1"})
    if (compare_nocase(word, on) == 0) return true;
  for (const wchar_t* off : {L"off", L"false", L"no", L"0"})
    if (compare_nocase(word, off) == 0) return false;
  return std::nullopt;
}

std::optional<bool> set_option_value(terminal_options& options, std::wstring_view name, const std::wstring& value,
                                     std::optional<setting_group> group) {
  const setting* s = find_setting(name, group);
  if (!s) return std::nullopt;
  return s->set(options, value);
}

std::optional<std::wstring> option_value(const terminal_options& options, std::wstring_view name) {
  const setting* s = find_setting(name, std::nullopt);
  if (!s) return std::nullopt;
  return s->show(options);
}

std::vector<std::wstring> setting_names(setting_group group) {
  std::vector<std::wstring> names;
  for (const setting& s : settings_table())
    if (s.group == group) names.emplace_back(s.name);
  return names;
}

} // namespace vela::terminal
