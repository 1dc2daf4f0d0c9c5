// What the programs need of the operating system, by the library's own names: the command
// line, signals, standard input and error, files by name, a private temporary file and the
// line editor. Each call forwards to the platform seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vela/os_error.h"

namespace vela::os {
class piped_child;
}

namespace vela::sys {

// The process's arguments, the program name first.
std::vector<std::wstring> command_args();
// A file-size limit fails the write instead of ending the process.
void ignore_file_size_signal();
// Ends the process as a closed output pipe does.
[[noreturn]] void end_by_broken_pipe();
// Ctrl-C calls on_interrupt on a watcher thread; a later call replaces it.
void watch_interrupts(std::function<void()> on_interrupt);
// Ctrl-C without a watcher thread: only counted (a second one ends the process when
// second_ends); one while a call is marked running ends the process grace_ms later with
// exit_code, after message, if the call has not ended by then.
void count_interrupts(bool second_ends, uint32_t grace_ms, int exit_code, const std::wstring& message);
uint32_t interrupts_counted();
void mark_running(bool running);
// Gives Ctrl-C its default effect again (the process ends).
void default_interrupts();
// The terminal's modes as they were before the line editor took it (for a process that
// ends without unwinding).
void restore_terminal();
// Short description of a system error code; empty for unknown codes.
std::wstring system_message(uint32_t code);

// Standard input line by line: false at its end or on a read error.
bool read_stdin_line(std::string& line);
// Standard input as bytes as they come (no line ends changed), after what read_stdin_line
// holds already; got 0 at its end. 0 or an error code.
uint32_t read_stdin_bytes(void* to, size_t n, size_t& got);
// Console bytes (the locale's encoding) as text.
std::wstring decode_from_console(std::string_view bytes);
// Writes text to standard error at once, unbuffered: for the last words of a run.
void write_error_output(std::wstring_view text);

bool path_exists(const std::wstring& path);
bool is_regular_file(const std::wstring& path);
uint32_t remove_file(const std::wstring& path);

// A temporary file private to the user, written through its handle.
using file_handle = intptr_t;
constexpr file_handle invalid_file_handle = -1;
uint32_t create_temp_file(std::wstring& path, file_handle& out);
// The same, leaving no name behind: reopen_path opens it again while the handle is open.
uint32_t create_unnamed_temp_file(std::wstring& reopen_path, file_handle& out);
// Devices and FIFOs are written in place.
bool is_device_or_fifo(const std::wstring& path);
// Whether a folder on the way to relative (below folder) is a symbolic link.
bool passes_through_link(const std::wstring& folder, const std::wstring& relative);

// An output file put in place whole: written under a new name in the target's folder and
// renamed over the target by commit, so until then the target keeps what it held (a link at
// the name is replaced, never followed). Not committed (a failure, the destructor, a signal
// that ends the process), the temporary file is removed. Devices and FIFOs are written in place.
class replacing_file {
 public:
  explicit replacing_file(std::wstring target) : target_(std::move(target)) {}
  ~replacing_file() { discard(); }
  replacing_file(const replacing_file&) = delete;
  replacing_file& operator=(const replacing_file&) = delete;

  // Makes the file to write (its mode what a new file gets); a code when it cannot be made.
  uint32_t create();
  // Where to write: the temporary file, or the target itself when that is written in place.
  const std::wstring& path() const { return path_; }
  const std::wstring& target() const { return target_; }
  uint32_t commit();
  void discard();
  // A text that names the temporary file, naming the target instead: the user knows that one.
  std::wstring as_target(std::wstring text) const;

 private:
  std::wstring target_, path_;
  bool temporary_ = false;
};
uint32_t write_file(file_handle h, const void* data, size_t n);
uint32_t close_file(file_handle h);

// Whether standard input is a terminal (else lines come from a pipe or a file).
bool stdin_is_terminal();

// An environment variable's value; empty when it is unset.
std::wstring environment(const char* name);
// Text in a code page (0 ANSI, 1 OEM, or a number); strict fails on a character the code
// page cannot hold instead of writing "?". 0 or an error code.
uint32_t from_wide(unsigned code_page, std::wstring_view text, std::string& out, bool strict);
// Makes path a folder private to the user (created with its parents when missing);
// err_access_denied when it belongs to someone else or is no folder.
uint32_t private_folder(const std::wstring& path);
// The names in a folder, a folder's with "/" after it; empty when it cannot be read.
std::vector<std::wstring> folder_entries(const std::wstring& path);
// The most memory the process has held at once, in bytes; 0 when unknown.
uint64_t peak_memory_bytes();
// Lines of the terminal at fd (1 standard output); 0 when it is no terminal.
size_t terminal_lines(int fd);
// Columns of the terminal at fd; 0 when it is no terminal.
size_t terminal_columns(int fd);
// The name of the console's encoding, as the locale sets it ("UTF-8").
std::wstring console_encoding();
// Whether a configuration file may be obeyed: a regular file (no link) owned by the user or
// root that group and others may not write, in a folder with the same properties.
bool trusted_config_file(const std::wstring& path);

// A program run by the shell that reads what is written to fd() (a pager). While it runs, a
// write after it ended fails instead of ending the process.
class piped_program {
 public:
  piped_program();
  ~piped_program();
  piped_program(const piped_program&) = delete;
  piped_program& operator=(const piped_program&) = delete;
  // False when it could not be started (Windows has no pager).
  bool start(const std::wstring& command);
  int fd() const;
  // Closes the pipe and waits for the program to end: its exit status, -1 when it did not
  // end by itself (or none ran).
  int finish();

 private:
  std::unique_ptr<os::piped_child> child_;
};

// Runs a command by the shell on the process's terminal (an editor), with file as its last
// argument, and waits for it: its exit status, -1 when it could not be started or did not end
// by itself.
int run_program(const std::wstring& command, const std::wstring& file);

// Lines typed at a terminal, edited and kept in a history; plain lines otherwise.
class line_editor {
 public:
  // pasted: several lines at once (a paste), joined with "\n".
  enum status { got_line, end_of_input, interrupted, pasted };
  // Candidates for the word that ends at the cursor (the rest of the line after it);
  // word_start is where that word begins.
  using completer = std::function<std::vector<std::wstring>(const std::wstring& before_cursor,
                                                            const std::wstring& after_cursor, size_t& word_start)>;

  line_editor();
  ~line_editor();
  line_editor(const line_editor&) = delete;
  line_editor& operator=(const line_editor&) = delete;

  // Whether lines are edited at a terminal (the editor then shows the prompt itself).
  bool editing() const;
  status read(const std::wstring& prompt, std::wstring& line);
  void set_completer(completer c);
  void use_history_file(const std::wstring& path, size_t max);
  void add_history(const std::wstring& line, const std::wstring& stored);
  // The entries of a history file, oldest first, each with its own line breaks.
  static std::vector<std::wstring> history_entries(const std::wstring& path);

 private:
  struct reader;
  std::unique_ptr<reader> reader_;
};

} // namespace vela::sys
