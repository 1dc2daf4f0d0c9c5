// The process's arguments as the system splits its command line.
#include <windows.h>
#include <shellapi.h>

#include "os/os.h"

namespace vela::os {

std::vector<std::wstring> command_args() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args;
  if (!argv) return args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
  LocalFree(argv);
  return args;
}

std::wstring command_line() { return join_command_line(command_args()); }

} // namespace vela::os
