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

} // namespace vela::terminal
