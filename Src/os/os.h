// The platform seam: the only place where the library calls the operating system.
// One implementation per platform lives below os/<platform>/.
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

// ---- error numbers ---------------------------------------------------------
// err_* codes: vela/os_error.h.

// errno value -> Windows error number (one table).
uint32_t error_from_errno(int e);
// The current errno, translated.
uint32_t last_error();

// Short description of a system error code in the user's language; empty for unknown codes.
std::wstring system_message(uint32_t code);

// True when the user's language (LC_ALL, LC_MESSAGES, LANG: first set and non-empty) is Russian.
// Read once per process.
bool russian_ui();
// Reads the environment again at the next call (for a process that changed it).
void forget_language();

// ---- time ------------------------------------------------------------------
// Milliseconds of a monotonic clock, truncated to 32 bits.
uint32_t tick_count();

struct local_time {
  int year = 0, month = 0, day = 0, day_of_week = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
local_time now_local();
// Seconds + nanoseconds since the Unix epoch, in local calendar fields.
local_time to_local(int64_t unix_seconds, long nanoseconds);

// ---- code pages ------------------------------------------------------------
// The 8-bit code pages of the user's language (1251/1250/1252 and 866/852/437).
unsigned ansi_code_page();
unsigned oem_code_page();

// Converts bytes in the given code page (0 ANSI, 1 OEM, any number iconv knows) to wide text.
// strict: fail on invalid input (code 1113); otherwise invalid bytes become U+FFFD.
// Returns 0 or an error code (87 for an unknown code page).
uint32_t to_wide(unsigned code_page, std::string_view bytes, std::wstring& out, bool strict);
// The same conversion for bytes that come in pieces: a character cut by the end of one piece
// is completed by the next, and a stateful encoding keeps its shift state between pieces.
class wide_decoder {
 public:
  explicit wide_decoder(unsigned code_page);
  ~wide_decoder();
  wide_decoder(const wide_decoder&) = delete;
  wide_decoder& operator=(const wide_decoder&) = delete;
  bool ok() const;
  // Appends the text of bytes to out. With last, a cut character at the end counts as
  // invalid input. On failure out is left as it was. keep_bytes (not strict): an invalid
  // byte 0x80..0xFF becomes U+DC00 + byte instead of U+FFFD, as utf8_to_wide_escaped does.
  uint32_t decode(std::string_view bytes, bool last, std::wstring& out, bool strict, bool keep_bytes = false);

 private:
  void* cd_;
  std::string carry_;
};
// Converts wide text to the given code page. With strict, a character the code page
// cannot hold fails with 1113; otherwise it is written as "?".
uint32_t from_wide(unsigned code_page, std::wstring_view text, std::string& out, bool strict);

} // namespace vela::os

namespace vela::os {
// The real size of a block from malloc/realloc.
size_t heap_block_size(void* p);
// The most memory the process has held at once (peak resident set), in bytes; 0 when unknown.
uint64_t peak_memory_bytes();
} // namespace vela::os

// ---- files -------------------------------------------------------------------
namespace vela::os {

// A pointer-sized handle; 0 is null and all bits set is the invalid value.
using handle = intptr_t;
constexpr handle null_handle = 0;
constexpr handle invalid_handle = -1;

// Access, share and creation values as the system's file API takes them.
enum : uint32_t {
  generic_read = 0x80000000u,
  generic_write = 0x40000000u,
  share_read = 1,
  share_write = 2,
  share_delete = 4,
  create_new = 1,
  create_always = 2,
  open_existing = 3,
  open_always = 4,
  truncate_existing = 5,
};

// Opens like CreateFileW. A writer whose share mode denies writing excludes every other
// writer (code 32); readers take no lock.
uint32_t open_file(const std::wstring& path, uint32_t access, uint32_t share, uint32_t disposition, handle& out);
uint32_t close_handle(handle h);
// Reads until n bytes or the end of the file; got tells how many.
uint32_t read_file(handle h, void* buf, size_t n, size_t& got);
uint32_t write_file(handle h, const void* buf, size_t n);
// whence: 0 from the start, 1 from the current position, 2 from the end.
uint32_t seek_file(handle h, int64_t offset, int whence, int64_t* new_pos = nullptr);
uint32_t file_size(handle h, int64_t& size);
// Cuts the file at the current position.
uint32_t truncate_file(handle h);
uint32_t flush_file(handle h);

struct file_times_info {
  local_time creation, access, write;
};
uint32_t get_file_times(handle h, file_times_info& out);
// Last-write time of a path as seconds and nanoseconds since the Unix epoch.
uint32_t last_write_time(const std::wstring& path, int64_t& seconds, long& nanoseconds);

bool path_exists(const std::wstring& path);
// Whether the path names a regular file (links followed): pipes, FIFOs and devices do not.
bool is_regular_file(const std::wstring& path);
// Opens for reading a regular file that group and others cannot access (a file holding a
// secret): err_invalid_data for anything but a regular file (never blocks on a FIFO),
// err_access_denied when group or others have any access, err_not_supported where the
// system keeps no such modes.
uint32_t open_private_file(const std::wstring& path, handle& out);
// Opens a file for appending kept private to the user (a log, a history): created 0600 and
// tightened to 0600 when wider, never through a link, regular files only. A link, FIFO,
// device or folder at the name gives err_invalid_data at once (a FIFO is never waited on).
uint32_t open_private_append(const std::wstring& path, handle& out);
// Creates and opens for writing a new empty file in the temporary folder ($TMPDIR or /tmp).
uint32_t create_temp_file(std::wstring& path, handle& out);
// Creates and opens for writing a new empty file, named at random, in the folder of target:
// written in full and then renamed over target. Its mode is what a new file gets. It is
// removed if a signal ends the process (remove_on_signal) until the caller forgets it.
uint32_t create_temp_file_beside(const std::wstring& target, std::wstring& path, handle& out);
// Renames from to to, replacing what is there; a link at to is replaced, never followed.
uint32_t replace_file(const std::wstring& from, const std::wstring& to);
// Whether the path names a device or a FIFO (links followed): such a target is written in place.
bool is_device_or_fifo(const std::wstring& path);
// A temporary file that leaves no name behind: reopen_path opens it again while out stays
// open, and closing out frees it.
uint32_t create_unnamed_temp_file(std::wstring& reopen_path, handle& out);
// Removes path when SIGINT, SIGTERM or SIGHUP ends the process (a few paths at once); a
// Ctrl-C that a watcher already handles is left to it. keep_on_signal forgets the path.
void remove_on_signal(const std::wstring& path);
void keep_on_signal(const std::wstring& path);
// The signal handler behind remove_on_signal: removes the files, then the signal has its
// effect (the handler it replaced, or the default).
void remove_temp_files_and_end(int sig);
// The same removal alone, safe in a signal handler.
void remove_temp_files();
// Whether a folder of relative (the part before its last "/"), taken below folder, is a
// symbolic link (or, on Windows, a junction): a file written there would land elsewhere.
bool passes_through_link(const std::wstring& folder, const std::wstring& relative);
// Whether a configuration file may be obeyed: a regular file (no link) owned by the user or
// root that group and others may not write, in a folder with the same properties.
bool trusted_config_file(const std::wstring& path);
// Appends bytes (a line with its end) to a history file kept private to the user (0600),
// never through a link, regular files only (err_invalid_data otherwise). Once it holds a
// quarter more than max lines it is cut to the last max, written to a new file made beside
// it and renamed over it.
uint32_t append_history_line(const std::wstring& path, const std::string& bytes, size_t max);
// Full path of the running executable; empty when it cannot be read.
std::wstring executable_path();

// Native path bytes of a wide path. POSIX names are bytes: UTF-8, and U+DC80..U+DCFF stand for
// bytes that are not UTF-8 (as command_args, environment and the paths the seam returns give them).
std::string native_path(const std::wstring& path);

} // namespace vela::os

namespace vela::os {
uint32_t process_id();
// A file-size limit then fails the write (EFBIG) instead of killing the process.
void ignore_file_size_signal();
// Ends the process as a write to a closed pipe does by default: at once and without a word.
[[noreturn]] void end_by_broken_pipe();
uint32_t thread_id();
// Wall-clock time as seconds and nanoseconds since the Unix epoch.
void realtime_now(int64_t& seconds, long& nanoseconds);
uint32_t remove_file(const std::wstring& path);
// A program run by the shell that reads what is written to fd() (a pager). While it runs, a
// write after it ended fails with err_broken_pipe instead of ending the process.
class piped_child {
 public:
  piped_child() = default;
  ~piped_child() { finish(); }
  piped_child(const piped_child&) = delete;
  piped_child& operator=(const piped_child&) = delete;
  // False when it could not be started (or the platform has no such pipes).
  bool start(const std::wstring& command);
  int fd() const { return fd_; }
  // Closes the pipe and waits for the program to end: its exit status, -1 when it did not
  // end by itself (or none ran).
  int finish();

 private:
  intptr_t child_ = 0;
  int fd_ = -1;
};
// Lines of the terminal at fd; 0 when fd is no terminal.
size_t terminal_lines(int fd);
// Runs a command by the shell on the process's terminal, with file as its last argument, and
// waits for it: its exit status, -1 when it could not be started or did not end by itself.
int run_program(const std::wstring& command, const std::wstring& file);
// Columns of the terminal at fd; 0 when fd is no terminal.
size_t terminal_columns(int fd);
} // namespace vela::os

namespace vela::os {
// The short (8.3) form of a path; platforms without such names fail.
bool short_path_name(const std::wstring& path, std::wstring& out);
} // namespace vela::os

// ---- console -------------------------------------------------------------------
namespace vela::os {
// Sets the process locale from the environment; the C/POSIX locale becomes C.UTF-8.
void init_locale();
// Whether the locale's encoding is UTF-8.
bool console_is_utf8();
// The name of the console's encoding ("UTF-8", "CP1251").
std::wstring console_encoding();
// Whether narrow (8-bit) text handed to libraries such as ODBC drivers is read as UTF-8: the
// locale's encoding on POSIX systems, the ANSI code page on Windows.
bool narrow_text_is_utf8();
// Appends text in the locale's encoding; a character it cannot encode becomes "?".
void encode_for_console(std::wstring_view text, std::string& out);
// Decodes bytes in the locale's encoding; an invalid byte 0x80..0xFF becomes U+DC00 + byte.
std::wstring decode_from_console(std::string_view bytes);
bool is_terminal(int fd);
// Writes all bytes to a file descriptor (1 standard output, 2 standard error).
bool write_all(int fd, const char* data, size_t n);
} // namespace vela::os

// ---- command line ----------------------------------------------------------------
namespace vela::os {
// The process's arguments as it was given them, the program name first (on POSIX, bytes that
// are not UTF-8 kept as U+DC80..U+DCFF).
std::vector<std::wstring> command_args();
// The arguments joined with blanks (an argument or an option's value with blanks quoted):
// only the text that the log records and messages quote, never parsed again.
std::wstring command_line();
std::wstring join_command_line(const std::vector<std::wstring>& argv, bool program_first = true);
} // namespace vela::os

namespace vela::os {
// A function of a shared library, loaded on first use; null when either is missing.
void* library_symbol(const char* library, const char* symbol);
} // namespace vela::os

namespace vela::os {
// Lines typed at the prompt: edited with cursor keys, history and completion when standard
// input and output are terminals; otherwise plain lines from standard input.
class line_reader {
 public:
  // pasted: text that was not typed a line at a time (a bracketed paste, or lines that were
  // already waiting when a line ended), its lines joined with "\n".
  enum status { got_line, end_of_input, interrupted, pasted };
  // Candidates for the word that ends at the cursor (the rest of the line after it);
  // word_start is where that word begins.
  using completer = std::function<std::vector<std::wstring>(const std::wstring& before_cursor,
                                                            const std::wstring& after_cursor, size_t& word_start)>;

  line_reader();
  ~line_reader();
  line_reader(const line_reader&) = delete;
  line_reader& operator=(const line_reader&) = delete;

  // Whether lines are edited at a terminal (the editor then shows the prompt itself).
  bool editing() const;
  // One whole line, however long, without its line end. Ctrl-C while editing gives interrupted
  // (the line is dropped), Ctrl-D on an empty line or the end of standard input end_of_input.
  status read(const std::wstring& prompt, std::wstring& line);
  void set_completer(completer c);
  // Loads the last max lines of a history file; lines added later are appended to it (the
  // file is created private to the user and kept to max lines). A file that cannot be read
  // or written is no error.
  void use_history_file(const std::wstring& path, size_t max);
  // Adds an entry to the history (a repeat of the previous one is not added); stored is the
  // form written to the file. An entry of several lines is one entry: recalled whole, it is
  // read back as a paste is.
  void add_history(const std::wstring& line, const std::wstring& stored);
  // The entries of a history file, oldest first, each with its own line breaks.
  static std::vector<std::wstring> history_entries(const std::wstring& path);
  // Writes text below the line being edited (completion lists).
  static void show(const std::wstring& text);

  struct editor;

 private:
  editor* editor_ = nullptr;
};

// Ctrl-C: the signal handler only writes to a pipe; a watcher thread calls on_interrupt, so
// the call may do anything a thread may. Installed once per process; a later call replaces
// the function.
void watch_interrupts(std::function<void()> on_interrupt);
// Ctrl-C without a thread of its own: the signal handler counts it. With second_ends, a
// second one ends the process. One that comes while a call is marked running ends the process
// grace_ms later, if the call is still running then, with exit_code after message (bytes for
// standard error) is written.
void count_interrupts(bool second_ends, uint32_t grace_ms, int exit_code, std::string message);
// Ctrl-C presses counted so far.
uint32_t interrupts_counted();
// Marks a call that Ctrl-C can end only by ending the process.
void mark_running(bool running);
// Gives Ctrl-C its default effect again (the process ends).
void default_interrupts();
// The terminal's modes as they were before the line editor took it.
void restore_terminal();

// Standard input line by line: false at its end or on a read error. The line end is
// removed; a last line without one is returned too.
bool read_stdin_line(std::string& line);
// Standard input as bytes, after what read_stdin_line holds already; got 0 at its end. 0 or
// an error code.
uint32_t read_stdin_bytes(void* to, size_t n, size_t& got);
} // namespace vela::os

// ---- user and system folders ----------------------------------------------------
namespace vela::os {
// An environment variable's value; empty when it is unset.
std::wstring environment(const char* name);
// Whether the current user may create files in a folder.
bool folder_writable(const std::wstring& path);
// Creates a folder and its missing parents (new ones private to the user); 0 when it exists.
uint32_t create_folders(const std::wstring& path);
// Makes path a folder private to the user: created 0700 with its parents when missing, an
// existing one of the user's own with wider access tightened to 0700. err_access_denied when
// it belongs to someone else or is not a folder (a link at the name is not followed).
uint32_t private_folder(const std::wstring& path);
// The names in a folder (without "." and ".."), a folder's with "/" after it; empty when it
// cannot be read.
std::vector<std::wstring> folder_entries(const std::wstring& path);
} // namespace vela::os

// ---- regular expressions ----------------------------------------------------------
namespace vela::os {
// A pattern of the log filters: it matches a whole text, in any letter case.
class pattern {
 public:
  explicit pattern(const std::wstring& text);
  ~pattern();
  pattern(const pattern&) = delete;
  pattern& operator=(const pattern&) = delete;
  // False when the engine refuses the pattern.
  bool ok() const;
  bool full_match(const std::wstring& text) const;

  struct engine;

 private:
  std::unique_ptr<engine> engine_;
};
} // namespace vela::os

// ---- process end -------------------------------------------------------------------
namespace vela::os {
// The status the process ends with for a result code: the platform's exit status holds
// it whole or in part, but a failure never becomes 0.
int exit_status(uint32_t code);
} // namespace vela::os
