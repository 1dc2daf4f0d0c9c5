// blobfile: moves files between the file system and binary columns.
#include <exception>

#include "File/strings.h"
#include "File/transfer.h"
#include "vela/system.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/async_log.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"
#include "vela/odbc/query_data_file.h"
#include "vela/platform.h"
#include "vela/private_file.h"
#include "vela/utf.h"

using namespace vela;

namespace {

// The arguments as the system gives them (wide on Windows, where argv is in the ANSI code page).
std::wstring arg(char**, int i) {
  static const std::vector<std::wstring> args = sys::command_args();
  return static_cast<size_t>(i) < args.size() ? args[static_cast<size_t>(i)] : std::wstring();
}

// The connection string itself, or with "@FILE" the text of FILE, which only its owner may
// access (its last line break dropped).
result connection_string_of(const std::wstring& argument, std::wstring& out) {
  if (argument.empty() || argument[0] != L'@') {
    out = argument;
    return result();
  }
  return read_private_text(argument.substr(1), out);
}

result run(int argc, char** argv) {
  console_writer& out = console();
  // -P and -C <folder> stand before the connection string.
  blobfile::download_options options;
  int first = 1;
  for (; first < argc; ++first) {
    const std::wstring a = arg(argv, first);
    if (a == L"-P") options.any_place = true;
    else if (a == L"-C" && first + 1 < argc) options.folder = arg(argv, ++first);
    else break;
  }
  if (argc - first < 2) {
    out << name_program(load_string(nullptr, blobfile::string_id::usage), L"blobfile");
    out.line_break();
    return failure(os::err_invalid_parameter);
  }
  std::wstring connection_string;
  if (const result read = connection_string_of(arg(argv, first), connection_string); !read.succeeded()) {
    out << load_string(nullptr, blobfile::string_id::error) << L" (" << read.text() << L")";
    out.line_break();
    return read;
  }
  const std::wstring statement = arg(argv, first + 1);
  const std::wstring path = argc > first + 2 ? arg(argv, first + 2) : std::wstring();
  result status;
  try {
    odbc::connection conn;
    out << load_string(nullptr, blobfile::string_id::connecting) << L"...";
    out.flush();
    // No parent window: drivers complete what they can and never prompt.
    status = VELA_CHECK(conn.connect(nullptr, connection_string, nullptr, odbc::completion::complete_required));
    odbc::query q(&conn, statement);
    out << L" " << load_string(nullptr, blobfile::string_id::executing_query) << L"...";
    out.flush();
    const std::wstring kind = blobfile::statement_kind(statement);
    if (kind == L"select") {
      const result got = blobfile::download(q, options);
      if (got.code() == os::err_invalid_name) {  // each skipped row has said why; the count ends the run
        status = got;
        out << got.text();
        out.line_break();
      }
      else VELA_CHECK(got);
    }
    else if (!kind.empty()) {
      const result stored = blobfile::upload(q, path);
      if (stored.code() == os::err_not_found) status = stored;  // already said: no row changed
      else VELA_CHECK(stored);
    }
    else out.line_break();
  } catch (const windows_error& e) {
    out << load_string(nullptr, blobfile::string_id::error) << L" (" << e.what() << L")";
    out.line_break();
    status = failure(static_cast<uint32_t>(e.code()), e.what());
  } catch (...) {
    out << load_string(nullptr, blobfile::string_id::unknown_error);
    out.line_break();
    status = failure(os::err_internal_error);
  }
  return status;
}

} // namespace

int main(int argc, char** argv) {
  init_program_locale();
  sys::ignore_file_size_signal();
  set_string_table(&blobfile::strings());
  console().set_line_flush(true);
  Log& log = install_async_process_log();
  log.start();
  console() << load_string(nullptr, blobfile::string_id::banner);
  console().line_break();
  const result status = run(argc, argv);
  console().flush();
  log.stop(Log::exit_wait_ms);
  return exit_status(status.code());
}
