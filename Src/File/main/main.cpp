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

// The arguments before the connection string: -P, -C <folder> and the host options.
struct arguments {
  blobfile::download_options download;
  blobfile::link_options link;
  int first = 1;  // the connection string's place
};

// False when an option's value is not one it takes; message then says so.
bool read_options(int argc, char** argv, arguments& a, std::wstring& message) {
  for (; a.first < argc; ++a.first) {
    const std::wstring s = arg(argv, a.first);
    if (s == L"-P") {
      a.download.any_place = true;
    } else if (s == L"-C" && a.first + 1 < argc) {
      a.download.folder = arg(argv, ++a.first);
    } else {
      const blobfile::option_read read = blobfile::read_link_option(s, a.link, message);
      if (read == blobfile::option_read::invalid) return false;
      if (read == blobfile::option_read::not_ours) break;
    }
  }
  return true;
}

// The statement's direction on l's connection; status is the run's so far. A failure is
// raised, but skipped rows and an upload that changed no row have said so and end the run
// with their code.
result transfer(blobfile::link& l, const std::wstring& statement, const std::wstring& path,
                const blobfile::download_options& options, blobfile::retry_count& retried, const result& status) {
  const std::wstring kind = blobfile::statement_kind(statement);
  if (kind == L"select") {
    const result got = blobfile::download(l, statement, options, retried);
    if (got.code() != os::err_invalid_name) {
      VELA_CHECK(got);
      return status;
    }
    // Each skipped row has said why; the count ends the run.
    console() << got.text();
    console().line_break();
    return got;
  }
  if (kind.empty()) {
    console().line_break();
    return status;
  }
  const result stored = blobfile::upload(l, statement, path, retried);
  if (stored.code() == os::err_not_found) return stored;  // already said: no row changed
  VELA_CHECK(stored);
  return status;
}

result run(int argc, char** argv) {
  console_writer& out = console();
  arguments a;
  std::wstring invalid;
  const bool valid = read_options(argc, argv, a, invalid);
  if (!valid || argc - a.first < 2) {
    if (!valid) {
      out << invalid;
      out.line_break();
    }
    out << name_program(load_string(nullptr, blobfile::string_id::usage), L"blobfile");
    out.line_break();
    return failure(os::err_invalid_parameter);
  }
  std::wstring connection_string;
  if (const result read = connection_string_of(arg(argv, a.first), connection_string); !read.succeeded()) {
    out << load_string(nullptr, blobfile::string_id::error) << L" (" << read.text() << L")";
    out.line_break();
    return read;
  }
  const std::wstring statement = arg(argv, a.first + 1);
  const std::wstring path = argc > a.first + 2 ? arg(argv, a.first + 2) : std::wstring();
  result status;
  blobfile::retry_count retried;
  try {
    blobfile::link l(connection_string, a.link);
    out << load_string(nullptr, blobfile::string_id::connecting) << L"...";
    out.flush();
    status = VELA_CHECK(l.open());
    // With hosts named, the connect's lines stand between: the query starts a line.
    out << (l.listed() ? L"" : L" ") << load_string(nullptr, blobfile::string_id::executing_query) << L"...";
    out.flush();
    status = transfer(l, statement, path, a.download, retried, status);
  } catch (const windows_error& e) {
    out << load_string(nullptr, blobfile::string_id::error) << L" (" << e.what() << L")";
    out.line_break();
    status = failure(static_cast<uint32_t>(e.code()), e.what());
  } catch (...) {
    out << load_string(nullptr, blobfile::string_id::unknown_error);
    out.line_break();
    status = failure(os::err_internal_error);
  }
  retried.report();
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
