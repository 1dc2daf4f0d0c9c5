// The process and its threads on Windows.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "os/os.h"

namespace vela::os {

uint32_t process_id() { return GetCurrentProcessId(); }

// Windows has no signal for a file-size limit: a write simply fails.
void ignore_file_size_signal() {}

// A write to a closed pipe fails on Windows; the process ends quietly with that error.
void end_by_broken_pipe() { ExitProcess(err_broken_pipe); }

// Windows exit codes hold 32 bits: the code is the status.
int exit_status(uint32_t code) { return static_cast<int>(code); }

uint32_t thread_id() { return GetCurrentThreadId(); }

void* library_symbol(const char* library, const char* symbol) {
  // The library names the POSIX name of a system library; Windows has its own.
  if (std::strcmp(library, "libodbcinst.so.2") == 0) library = "odbccp32.dll";
  HMODULE lib = LoadLibraryA(library);  // kept loaded for the rest of the run
  return lib ? reinterpret_cast<void*>(GetProcAddress(lib, symbol)) : nullptr;
}

// Output goes to the console's own handles only: no pager.
bool piped_child::start(const std::wstring&) { return false; }
int piped_child::finish() { return -1; }

int run_program(const std::wstring& command, const std::wstring& file) {
  const std::wstring line = command + L" \"" + file + L"\"";
  const int status = _wsystem(line.c_str());
  return status < 0 ? -1 : status;
}

size_t terminal_lines(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(fd == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), &info)) return 0;
  return static_cast<size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
}

size_t terminal_columns(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(fd == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

} // namespace vela::os
