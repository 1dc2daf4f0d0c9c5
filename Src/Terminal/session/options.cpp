#include "Terminal/session/options.h"

#include <cwctype>
#include <memory>

#include "Terminal/input/sql_split.h"
#include "vela/system.h"
#include "vela/cmdline.h"
#include "vela/containers.h"
#include "vela/format.h"
#include "vela/private_file.h"
#include "Terminal/strings.h"
#include "vela/odbc/connection_string.h"
#include "vela/odbc/hosts.h"
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
  format = &default_format();
  pager = false;
  pager_always = false;
  multiline = false;
  border = 1;
  expanded = expanded_mode::off;
  timing = true;
  rc_file.clear();
  no_rc = false;
  init_rc = false;
  batch_rows = 0;
  copy_from.clear();
  copy_into.clear();
  copy_create = false;
  copy_creation = table_creation::create;
  copy_tables.clear();
  copy_schema_given = false;
  copy_schema.clear();
  copy_jobs = 1;
  retry_given = false;
  retry = 0;
  hosts.clear();
  target = odbc::host_target::any;
  target_given = false;
  random_hosts = false;
  reconnect = false;
  variables.clear();
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

// A missing or unreadable script, or a code page no converter takes, is an error of the
// command line, found before connecting; the text is read when it runs.
void add_script_file(std::vector<script_source>& scripts, const std::wstring& name, text_file_code_page code_page) {
  textfile file(name, code_page);
  if (!sys::is_device_or_fifo(name)) {
    // Pipes and FIFOs are opened by the reading alone.
    file.open(name, file_access::read, file_access::share_read, nullptr, file_access::open_existing,
              file_access::normal_attributes, 0);
    char first = 0;
    size_t got = 0;
    if (const uint32_t code = file.read(&first, 1, got)) throw file_error(name, code);
  }
  file.check_code_page();
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

struct option_values {
  explicit option_values(terminal_options& options) : o(options) {}
  terminal_options& o;
  std::wstring query, file, width, batch, format, variable, border, expanded, timing, pager;
  std::wstring create, jobs, retry, target, host_order;
  std::vector<std::wstring> repeated;  // each value of the repeatable option
  text_file_code_page code_page{auto_code_page, false};
  bool delimiter_given = false;
};

namespace {

// A count from 1 to most, in digits only; otherwise the option is refused.
size_t count_of(const std::wstring& text, size_t most, const wchar_t* option) {
  size_t n = 0;
  bool ok = !text.empty() && text.size() <= 7;
  for (const wchar_t c : text) ok = ok && c >= L'0' && c <= L'9' && (n = n * 10 + static_cast<size_t>(c - L'0'), true);
  if (!ok || n == 0 || n > most) throw invalid_option(invalid_option::problem::unknown, option, 0);
  return n;
}

// A count of rows from 1 to a million.
void check_batch(option_values& v, int32_t uses) {
  if (uses != 0) v.o.batch_rows = count_of(v.batch, 1000000, L"-batch");
}

// "-create[:replace | if_not_exists]".
void check_create(option_values& v, int32_t uses) {
  v.o.copy_create = uses > 0;
  using how = terminal_options::table_creation;
  if (uses == 0 || v.create.empty()) return;
  if (compare_nocase(v.create, L"replace") == 0) v.o.copy_creation = how::replace;
  else if (compare_nocase(v.create, L"if_not_exists") == 0) v.o.copy_creation = how::if_not_exists;
  else throw invalid_option(invalid_option::problem::unknown, L"-create", 0);
}

// "-jobs:N": tables copied at once, or connections a load spreads over, 1 to 64.
void check_jobs(option_values& v, int32_t uses) {
  if (uses != 0) v.o.copy_jobs = count_of(v.jobs, 64, L"-jobs");
}

// "-retry:N": runs again after a conflict, 0 to 100.
void check_retry(option_values& v, int32_t uses) {
  v.o.retry_given = uses != 0;
  if (uses != 0) v.o.retry = v.retry == L"0" ? 0 : static_cast<uint32_t>(count_of(v.retry, 100, L"-retry"));
}

// "-hosts:h1,h2:PORT": a list of hosts, each with a port or none.
void check_hosts(option_values& v, int32_t uses) {
  if (uses != 0 && odbc::read_host_list(v.o.hosts).empty()) throw invalid_option(invalid_option::problem::unknown, L"-hosts", 0);
}

// "-target:any | read-write | read-only | primary | standby".
void check_target(option_values& v, int32_t uses) {
  v.o.target_given = uses > 0;
  if (uses != 0 && !odbc::read_host_target(v.target, v.o.target))
    throw invalid_option(invalid_option::problem::unknown, L"-target", 0);
}

// "-host_order:listed | random".
void check_host_order(option_values& v, int32_t uses) {
  if (uses == 0) return;
  if (compare_nocase(v.host_order, L"random") == 0) v.o.random_hosts = true;
  else if (compare_nocase(v.host_order, L"listed") != 0) throw invalid_option(invalid_option::problem::unknown, L"-host_order", 0);
}

// "-format:NAME"; "-csv" is the short form of csv and goes with no other format.
void check_format(option_values& v, int32_t uses) {
  const output_format* const csv = find_format(L"csv");
  if (v.o.csv) v.o.format = csv;
  if (uses == 0) return;
  const output_format* const format = find_format(v.format);
  if (!format || (v.o.csv && format != csv)) throw invalid_option(invalid_option::problem::unknown, L"-format", 0);
  v.o.format = format;
  v.o.csv = format == csv;
}

// "-v:NAME=VALUE": a name of letters, digits and "_".
void check_variables(option_values& v, int32_t) {
  for (const std::wstring& given : v.repeated) {
    const size_t eq = given.find(L'=');
    bool ok = eq != 0 && eq != std::wstring::npos;
    for (size_t i = 0; ok && i < eq; ++i) ok = std::iswalnum(static_cast<wint_t>(given[i])) || given[i] == L'_';
    if (!ok) throw invalid_option(invalid_option::problem::unknown, L"-v", 0);
    v.o.variables.emplace_back(given.substr(0, eq), given.substr(eq + 1));
  }
}

// A start-up option that is a setting too ("-border:2", "-x:auto"): the value as the setting
// takes it at runtime; "-x" and "-pager" alone switch it on.
template <std::wstring option_values::*value>
void check_setting(option_values& v, int32_t uses, const wchar_t* setting, const wchar_t* option) {
  if (uses == 0) return;
  const std::wstring& given = v.*value;
  if (set_option_value(v.o, setting, given.empty() ? std::wstring(L"on") : given) != true)
    throw invalid_option(invalid_option::problem::unknown, option, 0);
}

} // namespace

const std::vector<option_entry>& option_table() {
  using v = option_values;
  static const std::vector<option_entry> table = {
      {L"cs|connection_string", value_kind::text, L"-cs:<connection string>",
       [](v& x) { return &x.o.connection_string; }, nullptr, nullptr},
      {L"do|data_only", value_kind::none, L"-do", nullptr, [](v& x) { return &x.o.data_only; }, nullptr},
      {L"cd|column_delimiter", value_kind::escaped_text, L"-cd:<column delimiter>",
       [](v& x) { return &x.o.column_delimiter; }, nullptr, [](v& x, int32_t uses) { x.delimiter_given = uses > 0; }},
      {L"q|query", value_kind::text, L"-q:<SQL query>", [](v& x) { return &x.query; }, nullptr, nullptr},
      {L"qf|query_from_file", value_kind::file, L"-qf:<file name>", [](v& x) { return &x.file; }, nullptr, nullptr},
      {L"qi|query_from_stdin", value_kind::none, L"-qi", nullptr, [](v& x) { return &x.o.query_from_stdin; }, nullptr},
      {L"oe|on_error", value_kind::none, L"-oe", nullptr, [](v& x) { return &x.o.on_error; }, nullptr},
      {L"csv", value_kind::none, L"-csv", nullptr, [](v& x) { return &x.o.csv; }, nullptr},
      {L"ml|multiline", value_kind::none, L"-ml", nullptr, [](v& x) { return &x.o.multiline; }, nullptr},
      {L"null|null_text", value_kind::escaped_text, L"-null:<text>", [](v& x) { return &x.o.null_text; }, nullptr,
       [](v& x, int32_t uses) { x.o.null_text_given = uses > 0; }},
      {L"lc|long_columns", value_kind::optional, L"-lc[:<width>]", [](v& x) { return &x.width; }, nullptr,
       [](v& x, int32_t uses) {
         x.o.long_columns = uses > 0;
         if (x.o.long_columns) x.o.long_column_width = parse_long_column_width(x.width);
       }},
      {L"format|fmt", value_kind::text, L"-format:<name>",
       [](v& x) { return &x.format; }, nullptr, check_format},
      {L"pager", value_kind::optional, L"-pager[:always]", [](v& x) { return &x.pager; }, nullptr,
       [](v& x, int32_t uses) { check_setting<&v::pager>(x, uses, L"pager", L"-pager"); }},
      {L"border", value_kind::text, L"-border:<0 | 1 | 2>", [](v& x) { return &x.border; }, nullptr,
       [](v& x, int32_t uses) { check_setting<&v::border>(x, uses, L"border", L"-border"); }},
      {L"x|expanded", value_kind::optional, L"-x[:on | off | auto]", [](v& x) { return &x.expanded; }, nullptr,
       [](v& x, int32_t uses) { check_setting<&v::expanded>(x, uses, L"expanded", L"-x"); }},
      {L"timing", value_kind::text, L"-timing:<on | off>", [](v& x) { return &x.timing; }, nullptr,
       [](v& x, int32_t uses) { check_setting<&v::timing>(x, uses, L"timing", L"-timing"); }},
      {L"rc", value_kind::text, L"-rc:<file>", [](v& x) { return &x.o.rc_file; }, nullptr, nullptr},
      {L"norc", value_kind::none, L"-norc", nullptr, [](v& x) { return &x.o.no_rc; }, nullptr},
      {L"init-rc", value_kind::none, L"-init-rc", nullptr, [](v& x) { return &x.o.init_rc; }, nullptr},
      {L"batch", value_kind::text, L"-batch:<rows>", [](v& x) { return &x.batch; }, nullptr, check_batch},
      {L"copy_from", value_kind::text, L"-copy_from:<connection string>", [](v& x) { return &x.o.copy_from; },
       nullptr, nullptr},
      {L"into", value_kind::text, L"-into:<table>", [](v& x) { return &x.o.copy_into; }, nullptr, nullptr},
      {L"create", value_kind::optional, L"-create[:replace | if_not_exists]", [](v& x) { return &x.create; }, nullptr,
       check_create},
      {L"tables", value_kind::text, L"-tables:<table,… | *>", [](v& x) { return &x.o.copy_tables; }, nullptr, nullptr},
      {L"schema", value_kind::optional, L"-schema[:<name>]", [](v& x) { return &x.o.copy_schema; }, nullptr,
       [](v& x, int32_t uses) { x.o.copy_schema_given = uses > 0; }},
      {L"jobs", value_kind::text, L"-jobs:<N>", [](v& x) { return &x.jobs; }, nullptr, check_jobs},
      {L"retry", value_kind::text, L"-retry:<N>", [](v& x) { return &x.retry; }, nullptr, check_retry},
      {L"hosts", value_kind::text, L"-hosts:<host[:port],…>", [](v& x) { return &x.o.hosts; }, nullptr, check_hosts},
      {L"target", value_kind::text, L"-target:<any | read-write | read-only | primary | standby>",
       [](v& x) { return &x.target; }, nullptr, check_target},
      {L"host_order", value_kind::text, L"-host_order:<listed | random>", [](v& x) { return &x.host_order; }, nullptr,
       check_host_order},
      {L"reconnect", value_kind::none, L"-reconnect", nullptr, [](v& x) { return &x.o.reconnect; }, nullptr},
      {L"v|variable", value_kind::repeated, L"-v:<name>=<value>", [](v& x) { return &x.variable; }, nullptr,
       check_variables},
  };
  return table;
}

namespace {

// An option given as often as wanted: each value kept, in order.
class repeated_parser : public argument_parser {
 public:
  repeated_parser(std::wstring name, std::wstring* target, std::vector<std::wstring>* values)
      : argument_parser(std::move(name), target), values_(values) {}
  bool repeatable() const override { return true; }
  result parse(const std::wstring& arg, const std::wstring& rest) override {
    target_->clear();  // the switch form alone gives no value
    const result r = argument_parser::parse(arg, rest);
    if (r.succeeded()) values_->push_back(*target_);
    return r;
  }

 private:
  std::vector<std::wstring>* values_;
};

argument_parser* parser_for(const option_entry& entry, option_values& values) {
  const std::wstring pattern = std::wstring(L"(") + entry.names + L")";
  switch (entry.value) {
    case value_kind::none: return new commandline_bool_argument_parser(pattern, entry.flag(values));
    case value_kind::escaped_text: return new commandline_argument_escape_parser(pattern, entry.text(values));
    case value_kind::file: return new commandline_filename_parser(pattern, entry.text(values), &values.code_page);
    case value_kind::repeated: return new repeated_parser(pattern, entry.text(values), &values.repeated);
    case value_kind::text:
    case value_kind::optional: break;
  }
  return new argument_parser(pattern, entry.text(values));
}

} // namespace

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
  option_values values(*this);
  Queue<argument_parser> parsers;
  std::vector<argument_parser*> by_entry;
  for (const option_entry& entry : option_table()) {
    by_entry.push_back(parser_for(entry, values));
    parsers.add(by_entry.back());
  }
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
  for (size_t k = 0; k < option_table().size(); ++k)
    if (option_table()[k].check) option_table()[k].check(values, by_entry[k]->uses);
  // A copy of tables needs its source and target, and no query or table of a copy job.
  if (copies_tables() && (copy_from.empty() || connection_string.empty() || !copy_into.empty() || !values.query.empty() ||
                          !values.file.empty()))
    throw invalid_option(invalid_option::problem::unknown, copy_tables.empty() ? L"-schema" : L"-tables", 0);
  // Jobs copy tables at once, or spread a load's batches over several hosts.
  if (copy_jobs > 1 && !copies_tables() && hosts.find(L',') == std::wstring::npos &&
      odbc::server_of(connection_string).find(L',') == std::wstring::npos)
    throw invalid_option(invalid_option::problem::unknown, L"-jobs", 0);
  // A copy job needs its target connection and the query.
  if (!copies_tables() &&
      (copy_from.empty() != copy_into.empty() || (!copy_from.empty() && (connection_string.empty() || values.query.empty()))))
    throw invalid_option(invalid_option::problem::unknown, copy_from.empty() ? L"-into" : L"-copy_from", 0);
  if (copy_create && copy_from.empty()) throw invalid_option(invalid_option::problem::unknown, L"-create", 0);
  // CSV fields are separated by "," unless a delimiter is given.
  if (csv && (!values.delimiter_given || column_delimiter.empty())) column_delimiter = L",";
  if (!connection_string.empty() && connection_string[0] == L'@') {
    // "-cs:@FILE": the string is kept in a file of the user's own.
    const std::wstring path = connection_string.substr(1);
    const result r = read_private_text(path, connection_string);
    if (!r.succeeded()) throw windows_error(r);
  }
  if (!values.file.empty()) add_script_file(scripts, values.file, values.code_page);
  if (!values.query.empty()) scripts.push_back(script_source{{}, values.code_page, values.query});
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

namespace {

void read_pieces(const std::wstring& file_name, text_file_code_page code_page, bool keep_bytes, const script_piece_sink& sink) {
  textfile file(file_name, code_page);
  file.keep_invalid_bytes(keep_bytes);
  int64_t size = 0;  // no more characters than bytes in any code page
  if (sys::is_regular_file(file_name)) {
    // Opened first for its size; pipes and FIFOs are opened by the reading alone.
    file.open(file_name, file_access::read, file_access::share_read, nullptr, file_access::open_existing,
              file_access::normal_attributes, 0);
    if (file.size(size) != 0) size = 0;
  }
  file.read_pieces([&sink, &file, size](std::wstring_view piece) { sink(piece, static_cast<size_t>(size), file.decoding().id); });
}

} // namespace

void read_script_pieces(const std::wstring& file_name, text_file_code_page code_page,
                        const std::function<void(std::wstring_view piece, size_t size_hint)>& sink) {
  read_pieces(file_name, code_page, false, [&sink](std::wstring_view piece, size_t size_hint, int32_t) { sink(piece, size_hint); });
}

void read_script_keeping_bytes(const std::wstring& file_name, text_file_code_page code_page, const script_piece_sink& sink) {
  read_pieces(file_name, code_page, true, sink);
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
