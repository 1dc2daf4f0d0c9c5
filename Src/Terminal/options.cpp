#include "Terminal/options.h"

#include <memory>

#include "Terminal/sql_split.h"
#include "vela/system.h"
#include "vela/cmdline.h"
#include "vela/containers.h"
#include "vela/format.h"
#include "vela/private_file.h"
#include "Terminal/strings.h"
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
  on_error = false;
  csv = false;
  null_text_given = false;
  null_text.clear();
  long_columns = false;
  long_column_width = 255;
  multiline = false;
  batch_rows = 1000;
  copy_from.clear();
  copy_into.clear();
}

namespace {

// "-lc" alone, or "-lc:" with a width of 1 to 32767 places.
size_t parse_long_column_width(const std::wstring& value) {
  if (value.empty()) return 255;
  size_t width = 0;
  for (wchar_t c : value) {
    if (c < L'0' || c > L'9' || width > 32767) {
      width = 0;
      break;
    }
    width = width * 10 + static_cast<size_t>(c - L'0');
  }
  if (width == 0 || width > 32767)
    throw windows_error(L"Invalid long column width '" + value + L"' (1 to 32767)", os::err_invalid_parameter);
  return width;
}

} // namespace

namespace {

// A missing script is an error of the command line; the file is read when it runs.
void add_script_file(std::vector<script_source>& scripts, const std::wstring& name, text_file_code_page code_page) {
  if (!sys::path_exists(name) || sys::is_regular_file(name)) {
    // Pipes and FIFOs are opened by the reading alone.
    textfile file(name, code_page);
    file.open(name, file_access::read, file_access::share_read, nullptr, file_access::open_existing,
              file_access::normal_attributes, 0);
  }
  scripts.push_back(script_source{name, code_page, {}});
}

} // namespace

void terminal_options::parse_options() { parse_options(sys::command_args()); }

namespace {

bool option_word_char(wchar_t c) {
  return (c >= L'0' && c <= L'9') || ((c | 0x20) >= L'a' && (c | 0x20) <= L'z') || c == L'_' || c == L'-' || c == L'?';
}

// "-" or "/" and a name; "/tmp/init.sql" (a "/" inside the name) is a path, not an option.
bool looks_like_option(const std::wstring& arg) {
  if (arg.size() < 2 || (arg[0] != L'-' && arg[0] != L'/')) return false;
  const size_t end = arg.find(L':');
  return arg.find(L'/', 1) >= end && option_word_char(arg[1]);
}

// The option's name as typed, "-" or "/" included: never any part of its value.
std::wstring option_name(const std::wstring& arg) {
  size_t n = 1;
  while (n < arg.size() && option_word_char(arg[n])) ++n;
  return arg.substr(0, n);
}

} // namespace

invalid_option::invalid_option(problem kind, std::wstring option, size_t position)
    : windows_error(option, os::err_invalid_parameter), kind_(kind), option_(std::move(option)), position_(position) {}

std::wstring invalid_option::message() const {
  switch (kind_) {
    case problem::repeated: return wformat(load_string(nullptr, string_id::repeated_option).c_str(), option_.c_str());
    case problem::stray:
      return wformat(load_string(nullptr, string_id::not_an_option).c_str(), static_cast<unsigned>(position_));
    default: return wformat(load_string(nullptr, string_id::invalid_option).c_str(), option_.c_str());
  }
}

void terminal_options::parse_options(const std::vector<std::wstring>& argv) {
  reset();
  // The older positional form only when no argument looks like an option.
  bool any_option = false;
  for (size_t i = 1; i < argv.size(); ++i) any_option = any_option || looks_like_option(argv[i]);
  if (!any_option) {
    (void)parse_positional(argv);  // never fails
    for (const auto& f : script_files) add_script_file(scripts, f, text_file_code_page{auto_code_page, false});
    return;
  }
  std::wstring query_text, file_name;
  text_file_code_page code_page{auto_code_page, false};
  Queue<argument_parser> parsers;
  parsers.add(new argument_parser(L"(cs|connection_string)", &connection_string));
  parsers.add(new commandline_bool_argument_parser(L"(do|data_only)", &data_only));
  auto* delimiter_parser = new commandline_argument_escape_parser(L"(cd|column_delimiter)", &column_delimiter);
  parsers.add(delimiter_parser);
  parsers.add(new argument_parser(L"(q|query)", &query_text));
  parsers.add(new commandline_filename_parser(L"(qf|query_from_file)", &file_name, &code_page));
  parsers.add(new commandline_bool_argument_parser(L"(qi|query_from_stdin)", &query_from_stdin));
  parsers.add(new commandline_bool_argument_parser(L"(oe|on_error)", &on_error));
  parsers.add(new commandline_bool_argument_parser(L"(csv)", &csv));
  parsers.add(new commandline_bool_argument_parser(L"(ml|multiline)", &multiline));
  auto* null_parser = new commandline_argument_escape_parser(L"(null|null_text)", &null_text);
  parsers.add(null_parser);
  std::wstring width;
  auto* long_parser = new argument_parser(L"(lc|long_columns)", &width);  // "-lc" or "-lc:<width>"
  parsers.add(long_parser);
  std::wstring batch;
  auto* batch_parser = new argument_parser(L"(batch)", &batch);
  parsers.add(batch_parser);
  parsers.add(new argument_parser(L"(copy_from)", &copy_from));
  parsers.add(new argument_parser(L"(into)", &copy_into));
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::wstring& arg = argv[i];
    if (!looks_like_option(arg)) throw invalid_option(invalid_option::problem::stray, std::wstring(), i);
    // Failures quote nothing of the argument but its name.
    result r = failure(os::err_not_supported);
    for (QueueIter<argument_parser> it(parsers); !it.done() && r.code() == os::err_not_supported; it.next())
      r = it.current()->parse(arg, std::wstring());
    if (r.succeeded()) continue;
    const auto kind = r.code() == os::err_already_initialized ? invalid_option::problem::repeated
                                                               : invalid_option::problem::unknown;
    throw invalid_option(kind, option_name(arg), i);
  }
  if (batch_parser->uses > 0) {
    // A count of rows from 1 to a million.
    size_t n = 0;
    bool ok = !batch.empty() && batch.size() <= 7;
    for (const wchar_t c : batch) ok = ok && c >= L'0' && c <= L'9' && (n = n * 10 + static_cast<size_t>(c - L'0'), true);
    if (!ok || n == 0 || n > 1000000) throw invalid_option(invalid_option::problem::unknown, L"-batch", 0);
    batch_rows = n;
  }
  // A copy job needs its target connection and the query.
  if (copy_from.empty() != copy_into.empty() || (!copy_from.empty() && (connection_string.empty() || query_text.empty())))
    throw invalid_option(invalid_option::problem::unknown, copy_from.empty() ? L"-into" : L"-copy_from", 0);
  null_text_given = null_parser->uses > 0;
  long_columns = long_parser->uses > 0;
  if (long_columns) long_column_width = parse_long_column_width(width);
  // CSV fields are separated by "," unless a delimiter is given.
  if (csv && (delimiter_parser->uses == 0 || column_delimiter.empty())) column_delimiter = L",";
  if (!connection_string.empty() && connection_string[0] == L'@') {
    // "-cs:@FILE": the string is kept in a file of the user's own.
    const std::wstring path = connection_string.substr(1);
    const result r = read_private_text(path, connection_string);
    if (!r.succeeded()) throw windows_error(r);
  }
  if (!file_name.empty()) add_script_file(scripts, file_name, code_page);
  if (!query_text.empty()) scripts.push_back(script_source{{}, code_page, query_text});
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

void read_script_pieces(const std::wstring& file_name, text_file_code_page code_page,
                        const std::function<void(std::wstring_view piece, size_t size_hint)>& sink) {
  textfile file(file_name, code_page);
  int64_t size = 0;  // no more characters than bytes in any code page
  if (sys::is_regular_file(file_name)) {
    // Opened first for its size; pipes and FIFOs are opened by the reading alone.
    file.open(file_name, file_access::read, file_access::share_read, nullptr, file_access::open_existing,
              file_access::normal_attributes, 0);
    if (file.size(size) != 0) size = 0;
  }
  file.read_pieces([&sink, size](std::wstring_view piece) { sink(piece, static_cast<size_t>(size)); });
}

void read_script_file(const std::wstring& file_name, text_file_code_page code_page,
                      std::vector<std::wstring>& statements) {
  // A piece at a time: only the statements are held, not the whole text as well.
  std::unique_ptr<statement_splitter> splitter;
  read_script_pieces(file_name, code_page, [&](std::wstring_view piece, size_t size_hint) {
    if (!splitter) splitter = std::make_unique<statement_splitter>(statements, size_hint);
    splitter->add(piece);
  });
  if (splitter) splitter->finish();
}

std::vector<std::wstring> script_statements(const terminal_options& options) {
  std::vector<std::wstring> statements;
  for (const auto& s : options.scripts) {
    if (s.file.empty()) split_statements(s.text, statements);
    else read_script_file(s.file, s.code_page, statements);
  }
  return statements;
}

} // namespace vela::terminal
