// sqlterm: a database terminal over ODBC.
#include <cstdlib>
#include <cstring>
#include <exception>

#include "Terminal/handler.h"
#include "Terminal/session/options.h"
#include "Terminal/session/startup_file.h"
#include "Terminal/output/formats.h"
#include "Terminal/output/output_routes.h"
#include "Terminal/input/prompt.h"
#include "Terminal/strings.h"
#include "Terminal/input/terminals.h"
#include "vela/system.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/async_log.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/environment.h"
#include "vela/platform.h"

using namespace vela;
using namespace vela::terminal;

namespace {

// Output that cannot be written ends the run: a closed pipe quietly, anything else (a full
// disk, an I/O error, a file-size limit) with the error on standard error and its code.
[[noreturn]] void output_failed(uint32_t code) {
  sys::restore_terminal();  // the line editor may hold it; exit() does not end the editor
  if (code == os::err_broken_pipe) sys::end_by_broken_pipe();
  const result status = failure(code);
  sys::write_error_output(load_string(nullptr, string_id::command_failed) + L". " + status.format(L"%d [%cd]") + L"\n");
  Log& log = process_log();
  write_formatted(log, L"AMP", L"Prg end(%u,%s).", status.code(), status.description().c_str());
  log.stop(Log::exit_wait_ms);
  std::exit(exit_status(code));
}

// The README as installed with this program: under its own prefix when it runs from the bin
// folder of an installation (/usr/bin/sqlterm: /usr/share/doc/vela), else where a source
// install puts it.
std::wstring with_documentation_path(std::wstring usage) {
  const std::wstring source_install = L"/usr/local/share/doc/vela/README.md";
  const size_t at = usage.find(source_install);
  std::wstring dir;
  if (at == std::wstring::npos || !split_path(module_path(), nullptr, &dir, nullptr, nullptr)) return usage;
  const std::wstring bin = L"/bin/";
  if (dir.size() < bin.size() || dir.compare(dir.size() - bin.size(), bin.size(), bin) != 0) return usage;
  const std::wstring installed = dir.substr(0, dir.size() - bin.size()) + L"/share/doc/vela/README.md";
  if (file_exists(installed)) usage.replace(at, source_install.size(), installed);
  return usage;
}

console_writer& failure_output(const terminal_options& options) { return output_routes(options).startup_failures(); }

} // namespace

int main(int argc, char** argv) {
  init_program_locale();
  sys::ignore_file_size_signal();
  set_string_table(&terminal::strings());
  Log& log = install_async_process_log();
  log.start();
  log.write(L"AMP", L"Started");
  console_writer& out = console();
  out.on_failure(output_failed);
  const auto only_argument = [argc, argv](const char* a) { return argc == 2 && std::strcmp(argv[1], a) == 0; };
  if (only_argument("/?") || only_argument("-?") || only_argument("--help") || only_argument("-h")) {
    out.write(load_string(nullptr, string_id::banner));
    out.write(name_program(with_documentation_path(with_format_names(load_string(nullptr, string_id::usage))), L"sqlterm"));
    out.flush();
    log.stop(Log::exit_wait_ms);
    return 0;
  }
  if (only_argument("--version")) {
    std::wstring dm = odbc::driver_manager_version();
    if (dm.empty()) dm = L"?";
    out.write(wformat(load_string(nullptr, string_id::version).c_str(), dm.c_str()));
    out.flush();
    log.stop(Log::exit_wait_ms);
    return 0;
  }
  result status;
  terminal_options options;
  bool batch = false;
  try {
    options.parse_options();
    if (options.init_rc) {
      status = write_startup_file(options);  // says where, or why not
      out.flush();
      log.stop(Log::exit_wait_ms);
      return exit_status(status.code());
    }
    if (output_routes(options).banner()) out.write(load_string(nullptr, string_id::banner));
    TTermOdbcHndlr handler(&options);
    // Statements of the command line, a file or standard input (a pipe or a file, with or
    // without "-qi"): Ctrl-C ends the run.
    batch = options.query_from_stdin || !sys::stdin_is_terminal() ||
            (!options.scripts.empty() && (!options.driver.empty() || !options.connection_string.empty()));
    // Ctrl-C is watched by a thread of its own, and connects can be given up, only where a
    // user at a terminal can press it; elsewhere the process keeps one thread.
    const bool at_terminal = sys::stdin_is_terminal();
    odbc::connection::set_connects_in_thread(at_terminal);
    watch_interrupts(batch, at_terminal);
    if (options.query_from_stdin) stdin_terminal(&handler).do_run();
    else command_line_terminal(&handler).do_run();
    status = handler.first_failure();  // with "-oe", the failure that ended the run
  } catch (const invalid_option& e) {
    // Only the option's name is quoted: its value may be a password.
    status = failure(os::err_invalid_parameter);
    console().flush();
    error_console().write(e.message()).line_break();
    error_console().write(load_string(nullptr, string_id::usage_hint)).line_break();
  } catch (const windows_error& e) {
    status = failure(static_cast<uint32_t>(e.code()), e.what());
    failure_output(options).write(load_string(nullptr, string_id::command_failed) + L". " + status.format(L"%c [%cd]")).line_break();
  } catch (const wexception& e) {
    status = failure(os::err_internal_error, e.what());
    failure_output(options).write(load_string(nullptr, string_id::internal_error) + L". " + e.what()).line_break();
  } catch (...) {
    status = failure(os::err_internal_error);
  }
  out.flush();
  if (batch && interrupted()) status = failure(interrupted_exit);
  error_console().flush();
  write_formatted(log, L"AMP", L"Prg end(%u,%s).", status.code(), status.description().c_str());
  log.stop(Log::exit_wait_ms);
  return exit_status(status.code());
}
