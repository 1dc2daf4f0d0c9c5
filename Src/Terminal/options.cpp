#include "Terminal/options.h"

#include "Terminal/sql_split.h"
#include "os/os.h"
#include "vela/cmdline.h"
#include "vela/wstr.h"

namespace vela::terminal {

void terminal_options::reset() {
  driver.clear();
  driver_parameters.clear();
  datasource.clear();
  user.clear();
  script_files.clear();
  data_only = false;
  query_from_stdin = false;
  column_delimiter = L" ";
}

void terminal_options::parse_options() { parse_options(os::command_args()); }

void terminal_options::parse_options(const std::vector<std::wstring>& argv) {
  reset();
  std::wstring query_text, file_name;
  text_file_code_page code_page{auto_code_page, false};
  commandline_customized_parser parser(argv);
  parser.add(new argument_parser(L"(cs|connection_string)", &connection_string));
  parser.add(new commandline_bool_argument_parser(L"(do|data_only)", &data_only));
  parser.add(new commandline_argument_escape_parser(L"(cd|column_delimiter)", &column_delimiter));
  parser.add(new argument_parser(L"(q|query)", &query_text));
  parser.add(new commandline_filename_parser(L"(qf|query_from_file)", &file_name, &code_page));
  parser.add(new commandline_bool_argument_parser(L"(qi|query_from_stdin)", &query_from_stdin));
  if (parser.run().succeeded()) {
    if (!file_name.empty()) read_script_file(file_name, code_page, statements);
    if (!query_text.empty()) split_statements(query_text, statements);
    return;
  }
  parse_positional(argv);
  for (const auto& f : script_files) read_script_file(f, text_file_code_page{auto_code_page, false}, statements);
}

result terminal_options::parse_positional(const std::vector<std::wstring>& argv) {
  reset();
  size_t i = 1;
  auto arg = [&argv](size_t k) { return k < argv.size() ? argv[k] : std::wstring(); };
  std::wstring a = arg(i);
  if (a.empty()) return result();
  if (compare_nocase(a, L"dataonly") == 0) {
    data_only = true;
    a = arg(++i);
  }
  if (a.size() >= 3 && compare_nocase(a.substr(0, 3), L"cs:") == 0) {
    std::wstring d = a.substr(3);
    if (d == L"\\t") d = L"\t";
    // "cs:" with nothing after it: no delimiter at all.
    column_delimiter = d.substr(0, 1);
    a = arg(++i);
  }
  driver = a;
  datasource.clear();
  a = arg(++i);
  if (a.empty()) return result();
  driver_parameters = a;
  for (a = arg(++i); !a.empty(); a = arg(++i)) script_files.push_back(a);
  return result();
}

void read_script_file(const std::wstring& file_name, text_file_code_page code_page,
                      std::vector<std::wstring>& statements) {
  // A piece at a time: only the statements are held, not the whole text as well.
  textfile file(file_name, code_page);
  int64_t size = 0;  // no more characters than bytes in any code page
  if (os::is_regular_file(file_name)) {
    // Opened first for its size; pipes and FIFOs are opened by the reading alone.
    file.open(file_name, file_access::read, file_access::share_read, nullptr, file_access::open_existing,
              file_access::normal_attributes, 0);
    if (file.size(size) != 0) size = 0;
  }
  statement_splitter splitter(statements, static_cast<size_t>(size));
  file.read_pieces([&splitter](std::wstring_view piece) { splitter.add(piece); });
  splitter.finish();
}

} // namespace vela::terminal
