#include "Terminal/load/data_file.h"

#include <cwctype>

#include "Terminal/load/copy_data.h"
#include "vela/os_error.h"
#include "vela/textfile.h"

namespace vela::terminal {

bool file_code_page(const copy_format& f, text_file_code_page& cp) {
  if (f.encoding.empty()) {
    cp = text_file_code_page{65001, false};
    return true;
  }
  // PostgreSQL's names of the 8-bit encodings first, then the script code pages' names.
  std::wstring name = f.encoding;
  for (auto& c : name) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  static const struct {
    const wchar_t* name;
    int32_t id;
  } names[] = {{L"latin1", 28591}, {L"latin2", 28592}, {L"latin9", 28605}, {L"koi8r", 20866}, {L"koi8-r", 20866},
               {L"koi8u", 21866}, {L"koi8-u", 21866}, {L"sql_ascii", 65001}, {L"utf16", 1200}};
  for (const auto& n : names)
    if (name == n.name) {
      cp = text_file_code_page{n.id, false};
      return true;
    }
  if (name.compare(0, 3, L"win") == 0) name = name.substr(3);  // WIN1251
  else if (name.compare(0, 2, L"cp") == 0) name = name.substr(2);
  cp = parse_code_page(name);
  return cp.id != invalid_code_page && cp.id != auto_code_page;
}

result read_data_lines(const std::wstring& name, text_file_code_page cp, const data_line_sink& line, bool& go) {
  line_splitter lines;
  go = true;
  try {
    textfile file(name, cp);
    file.keep_invalid_bytes(true);
    file.read_pieces([&](std::wstring_view piece) {
      if (go) go = lines.add(piece, line);
    });
  } catch (const windows_error& e) {
    return failure(static_cast<uint32_t>(e.code()), e.what());
  }
  if (go) go = lines.finish(line);
  return result();
}

result append_data(textfile& out, const std::wstring& text) {
  const int32_t id = out.code_page().id;
  if (id == 0 || id == 1 || id == 1200 || id == 65001 || id == auto_code_page) return out.append(text);
  // textfile::append takes no other code page: the text is converted and written at the end.
  const bool opened_here = !out.is_open();
  if (opened_here)
    if (const uint32_t code = out.open_code(out.name(), file_access::read | file_access::write, file_access::share_read,
                                            nullptr, file_access::open_always, file_access::normal_attributes, 0))
      return failure(code);
  const uint32_t code = out.seek(0, 2);
  result r = code ? failure(code) : out.write_code_page(text);
  if (opened_here) r.merge(out.close_result());
  return r;
}

} // namespace vela::terminal
