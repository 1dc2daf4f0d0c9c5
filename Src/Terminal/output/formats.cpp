// The table of output formats.
#include "Terminal/output/formats.h"

#include "Terminal/output/row_writer.h"
#include "Terminal/strings.h"
#include "vela/utf.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

using settings = writer_settings;

std::string null_text(const settings& s) { return wide_to_utf8(s.null_text); }
// The first character of "-cd", or none.
std::string delimiter(const settings& s) { return wide_to_utf8(s.column_delimiter.substr(0, 1)); }

std::unique_ptr<row_writer> padded(console_writer& out, const settings& s) {
  if (s.column_delimiter == L" ") return make_padded_writer(out, null_text(s), s.null_given);
  return make_delimited_writer(out, delimiter(s), null_text(s));
}

} // namespace

const std::vector<output_format>& output_formats() {
  static const std::vector<output_format> table = {
      {L"", L"", L"", false, false, true, padded},
      {L"aligned", L"", L"aligned", true, true, true,
       [](console_writer& out, const settings& s) {
         return make_aligned_writer(out, null_text(s), s.names, s.aligned_cut(), s.border);
       }},
      {L"vertical", L"", L"vertical", true, true, false,
       [](console_writer& out, const settings& s) { return make_vertical_writer(out, null_text(s)); }},
      {L"json", L"", L"json", true, true, false,
       [](console_writer& out, const settings&) { return make_json_writer(out, false); }},
      {L"jsonl", L"", L"jsonl", true, true, false,
       [](console_writer& out, const settings&) { return make_json_writer(out, true); }},
      {L"markdown", L"", L"markdown", true, true, false,
       [](console_writer& out, const settings& s) { return make_markdown_writer(out, null_text(s)); }},
      {L"csv", L"", L"csv (-csv)", true, true, false,
       [](console_writer& out, const settings& s) {
         return make_csv_writer(out, delimiter(s), null_text(s), s.null_given, s.names);
       }},
      {L"tsv", L"", L"tsv", true, true, false, make_tsv_writer},
  };
  return table;
}

const output_format& default_format() { return output_formats().front(); }

const output_format* find_format(std::wstring_view name) {
  if (name.empty()) return nullptr;
  for (const output_format& f : output_formats()) {
    if (!*f.name) continue;
    if (compare_nocase(name, f.name) == 0) return &f;
    for (std::wstring_view rest = f.aliases; !rest.empty();) {
      const size_t bar = std::min(rest.find(L'|'), rest.size());
      if (compare_nocase(name, rest.substr(0, bar)) == 0) return &f;
      rest.remove_prefix(std::min(bar + 1, rest.size()));
    }
  }
  return nullptr;
}

std::wstring with_format_names(std::wstring usage) {
  const size_t at = usage.find(L"{formats}");
  if (at == std::wstring::npos) return usage;
  const std::wstring last_joint = str(string_id::format_names_joint);
  std::vector<const wchar_t*> names;
  for (const output_format& f : output_formats())
    if (*f.name) names.push_back(f.help);
  std::wstring text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? last_joint : L", ";
    text += names[i];
  }
  return usage.replace(at, 9, text);
}

} // namespace vela::terminal
