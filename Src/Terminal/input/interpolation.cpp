#include "Terminal/input/interpolation.h"

#include <vector>

#include "Terminal/input/sql_split.h"

namespace vela::terminal {

namespace {

bool is_name_char(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' || c >= 0x80;
}

// The colons outside quotes, comments and bodies, over every statement of the text.
std::vector<size_t> free_colons(const std::wstring& text, odbc::script_dialect dialect) {
  std::vector<size_t> colons;
  statement_scanner scan;
  scan.set_dialect(dialect);
  scan.mark_colons(&colons);
  for (;;) {
    const size_t end = scan.find_end(text, false);
    if (end == statement_scanner::npos || end >= text.size()) break;
    scan.next_statement(end + scan.terminator_length());
  }
  return colons;
}

// A reference at text[at] (a ":"): its length and what replaces it; 0 when it is none, or
// names a variable not set.
size_t reference(const std::wstring& text, size_t at, const variable_table& variables,
                 const odbc::driver_profile& profile, std::wstring& value) {
  const size_t n = text.size();
  size_t p = at + 1;
  const wchar_t quote = p < n && (text[p] == L'\'' || text[p] == L'"') ? text[p] : 0;
  if (quote) ++p;
  const size_t name_at = p;
  while (p < n && is_name_char(text[p])) ++p;
  if (p == name_at || (quote && (p == n || text[p] != quote))) return 0;
  const std::wstring* v = variables.find(text.substr(name_at, p - name_at));
  if (!v) return 0;
  value = quote == L'\'' ? profile.quote_literal(*v) : quote == L'"' ? profile.quote_identifier(*v) : *v;
  return p + (quote ? 1 : 0) - at;
}

} // namespace

bool interpolate(std::wstring& text, const variable_table& variables, const odbc::driver_profile& profile,
                 odbc::script_dialect dialect) {
  if (variables.all().empty() || text.find(L':') == std::wstring::npos) return false;
  std::wstring out;
  size_t copied = 0;  // text before it is in out
  size_t next = 0;    // colons before it belong to a "::" or a reference
  bool replaced = false;
  for (const size_t at : free_colons(text, dialect)) {
    if (at < next) continue;
    if (at + 1 < text.size() && text[at + 1] == L':') {
      next = at + 2;  // "::" casts, never a reference
      continue;
    }
    std::wstring value;
    const size_t length = reference(text, at, variables, profile, value);
    if (length == 0) continue;
    out.append(text, copied, at - copied);
    out += value;
    copied = next = at + length;
    replaced = true;
  }
  if (!replaced) return false;
  out.append(text, copied, std::wstring::npos);
  text = std::move(out);
  return true;
}

} // namespace vela::terminal
