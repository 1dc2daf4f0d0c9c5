// The start-up file: lines the prompt accepts, read once connected, before the first prompt.
#pragma once

#include <functional>
#include <string>

#include "vela/result.h"

namespace vela::terminal {

class terminal_context;
struct terminal_options;

// The user's start-up file: $XDG_CONFIG_HOME/vela/sqltermrc (default ~/.config/vela/);
// empty when neither variable is known.
std::wstring user_startup_file();
// The file a run reads: "-rc:FILE" whatever the run; otherwise the user's file, only for a
// run that prompts at a terminal (no "-q", "-qf", "-qi", standard input a terminal). Empty
// with "-norc" or none.
std::wstring startup_file_of(const terminal_options& options, bool stdin_terminal);
// Runs the file's lines through run_script (false when it stopped the run). A file that others
// could change is refused with a word why; a missing "-rc:FILE" is reported, a missing user
// file is no failure. Failures inside name their file:line and never stop the run.
void run_startup_file(terminal_context& ctx, const std::wstring& path,
                      const std::function<bool(const std::wstring&)>& run_script);
// "-init-rc": writes a commented start-up file ("-rc:FILE", else the user's) and says where;
// an existing file is left as it is, and said so.
result write_startup_file(const terminal_options& options);

} // namespace vela::terminal
