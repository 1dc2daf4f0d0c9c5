// The data files of \copy … FROM and TO: their code page, and their lines as they are read.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "vela/code_page.h"
#include "vela/result.h"

namespace vela {
class textfile;
}

namespace vela::terminal {

struct copy_format;

// The file's code page from an ENCODING option (UTF-8 when none is given); false when no
// converter is known by that name.
bool file_code_page(const copy_format& f, text_file_code_page& cp);

// Reads a data file a piece at a time and gives each line without its "\n" (a first U+FEFF
// dropped), numbered from 1, until line gives false. Bytes that are not text in the code page
// are kept as U+DC80..U+DCFF (utf.h): kept for a binary column, refused for text.
// go: false when line stopped the reading. A file that cannot be read gives its failure.
using data_line_sink = std::function<bool(std::wstring_view line, size_t number)>;
result read_data_lines(const std::wstring& name, text_file_code_page cp, const data_line_sink& line, bool& go);

// Appends text to a data file in the file's code page, whichever it is.
result append_data(textfile& out, const std::wstring& text);

} // namespace vela::terminal
