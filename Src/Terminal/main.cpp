// sqlterm: a database terminal over ODBC.
#include <cstring>
#include <exception>

#include "Terminal/handler.h"
#include "Terminal/options.h"
#include "Terminal/prompt.h"
#include "Terminal/strings.h"
#include "Terminal/terminals.h"
#include "os/os.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/log.h"

using namespace vela;
using namespace vela::terminal;

namespace {
constexpr uint32_t interrupted_exit = 130;  // as a shell reports a run ended by Ctrl-C
}

int main(int argc, char** argv) {
  init_program_locale();
  set_string_table(&terminal::strings());
  Log& log = process_log();
  log.start();
  log.write(L"AMP", L"Started");
  console_writer& out = console();
  if (argc == 2 && (std::strcmp(argv[1], "/?") == 0 || std::strcmp(argv[1], "-?") == 0)) {
    out.write(load_string(nullptr, 2));
    out.write(load_string(nullptr, 1));
    out.flush();
    log.stop(Log::no_limit);
    return 0;
  }
  result status;
  bool batch = false;
  try {
    terminal_options options;
    options.parse_options();
    if (!options.data_only) out.write(load_string(nullptr, 2));
    TTermOdbcHndlr handler(&options);
    // Statements of the command line, a file or standard input: Ctrl-C ends the run.
    batch = options.query_from_stdin ||
            (!options.statements.empty() && (!options.driver.empty() || !options.connection_string.empty()));
    watch_interrupts(batch);
    if (options.query_from_stdin) stdin_terminal(&handler).do_run();
    else command_line_terminal(&handler).do_run();
  } catch (const windows_error& e) {
    status = result(static_cast<uint32_t>(e.code()), e.what(), 3);
    out.write(load_string(nullptr, 4) + L". " + status.format(L"%c [%cd]"));
    out.line_break();
  } catch (const wexception& e) {
    status = result(os::err_internal_error, e.what(), 3);
    out.write(load_string(nullptr, 3) + L". " + e.what());
    out.line_break();
  } catch (...) {
    status = result(os::err_internal_error, std::wstring(), 3);
  }
  out.flush();
  if (batch && interrupted()) status = result(interrupted_exit, std::wstring(), 3);
  write_formatted(log, L"AMP", L"Prg end(%u,%s).", status.code(), status.description().c_str());
  log.stop(Log::no_limit);
  return exit_status(status.code());
}
