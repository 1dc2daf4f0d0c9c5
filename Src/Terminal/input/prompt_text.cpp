#include "Terminal/input/prompt_text.h"

#include "Terminal/session/transaction.h"
#include "vela/odbc/driver.h"

namespace vela::terminal {

std::wstring expand_prompt(std::wstring_view format, const std::function<std::wstring(wchar_t)>& value) {
  std::wstring out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    const wchar_t e = format[++i];
    switch (e) {
      case L'n':
      case L'/':
      case L'~':
      case L'M':
      case L'x':
      case L'R': out += value(e); break;
      case L'm': {
        const std::wstring host = value(L'M');
        out += host.substr(0, host.starts_with(L'[') ? std::wstring::npos : host.find(L'.'));
        break;
      }
      default: out += e; break;
    }
  }
  return out;
}

namespace {

std::wstring prompt_value(terminal_context& ctx, bool going_on, wchar_t escape) {
  void* const hdbc = ctx.connection.hdbc();
  const auto ask = [hdbc](odbc::info_text what) { return hdbc ? odbc::ask_info_text(hdbc, what) : std::wstring(); };
  switch (escape) {
    case L'n': return ask(odbc::info_text::user_name);
    case L'/':
    case L'~': return ask(odbc::info_text::database_name);
    case L'M': {
      const std::wstring host = ask(odbc::info_text::server_name);
      return host.empty() && hdbc ? std::wstring(L"[local]") : host;
    }
    case L'x': {
      const wchar_t status = transaction_status(ctx);
      return status ? std::wstring(1, status) : std::wstring();
    }
    default: return !ctx.conditions.active() ? L"@" : going_on ? L"-" : hdbc ? L">" : L"!";
  }
}

} // namespace

std::wstring prompt_text(terminal_context& ctx, bool going_on) {
  const std::wstring* format = ctx.variables.find(L"PROMPT1");
  if (format && going_on)
    if (const std::wstring* second = ctx.variables.find(L"PROMPT2")) format = second;
  if (format) return expand_prompt(*format, [&](wchar_t e) { return prompt_value(ctx, going_on, e); });
  if (going_on) return L"...>";
  return std::wstring(ctx.connection.hdbc() ? L"SQL" : L"") + (ctx.conditions.active() ? L">" : L"(skip)>");
}

} // namespace vela::terminal
