// Reading lines at the prompt on Windows: the console's own line mode (ReadConsoleW), or
// standard input line by line when it is redirected; Ctrl-C through the console's handler.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "os/os.h"

namespace vela::os {

namespace {

std::atomic<bool> interrupt_seen{false};

HANDLE input_handle() { return GetStdHandle(STD_INPUT_HANDLE); }

bool console_input() {
  DWORD mode = 0;
  const HANDLE h = input_handle();
  return h && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

// Buffered reads of standard input.
class stdin_lines {
 public:
  bool next(std::string& line) {
    line.clear();
    for (;;) {
      const size_t nl = buffer_.find('\n', pos_);
      if (nl != std::string::npos) {
        line.append(buffer_, pos_, nl - pos_);
        pos_ = nl + 1;
        return true;
      }
      line.append(buffer_, pos_, std::string::npos);
      buffer_.clear();
      pos_ = 0;
      if (eof_) return !line.empty();
      char chunk[65536];
      DWORD n = 0;
      const BOOL ok = ReadFile(input_handle(), chunk, sizeof chunk, &n, nullptr);
      if (interrupt_seen) {
        eof_ = true;
        line.clear();
        return false;
      }
      if (!ok || n == 0) {
        eof_ = true;
        return !line.empty();
      }
      buffer_.assign(chunk, n);
    }
  }
  // The bytes held, then those read (ReadFile: no line ends changed); got 0 at the end.
  uint32_t bytes(void* to, size_t n, size_t& got) {
    got = std::min(n, buffer_.size() - pos_);
    if (got) {
      std::memcpy(to, buffer_.data() + pos_, got);
      pos_ += got;
      return 0;
    }
    if (eof_) return 0;
    DWORD k = 0;
    if (!ReadFile(input_handle(), to, static_cast<DWORD>(std::min<size_t>(n, 1u << 30)), &k, nullptr)) {
      const DWORD code = GetLastError();
      eof_ = true;
      return code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF ? 0 : code;
    }
    eof_ = k == 0;
    got = k;
    return 0;
  }

 private:
  std::string buffer_;
  size_t pos_ = 0;
  bool eof_ = false;
};

stdin_lines& lines() {
  static stdin_lines l;
  return l;
}

} // namespace

bool read_stdin_line(std::string& line) {
  if (!lines().next(line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

uint32_t read_stdin_bytes(void* to, size_t n, size_t& got) { return lines().bytes(to, n, got); }

// The console edits the line itself (its own keys and history), so the caller prints the
// prompt: editing() stays false.
struct line_reader::editor {};

line_reader::line_reader() {}
line_reader::~line_reader() { delete editor_; }

bool line_reader::editing() const { return false; }

void line_reader::set_completer(completer) {}

void line_reader::show(const std::wstring& text) {
  std::string bytes;
  encode_for_console(text, bytes);
  write_all(1, bytes.data(), bytes.size());
}

line_reader::status line_reader::read(const std::wstring&, std::wstring& line) {
  line.clear();
  if (!console_input()) {
    std::string bytes;
    if (!read_stdin_line(bytes)) return interrupt_seen ? interrupted : end_of_input;
    line = decode_from_console(bytes);
    return got_line;
  }
  const HANDLE h = input_handle();
  FlushConsoleInputBuffer(h);  // keys typed before the prompt are dropped
  wchar_t chunk[4096];
  for (;;) {
    DWORD n = 0;
    interrupt_seen = false;
    if (!ReadConsoleW(h, chunk, 4096, &n, nullptr)) return interrupt_seen ? interrupted : end_of_input;
    if (interrupt_seen) {
      show(L"\n");
      return interrupted;
    }
    if (n == 0) return end_of_input;
    line.append(chunk, n);
    if (line.back() == L'\n') break;  // a longer line comes in several reads
  }
  while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
  // Ctrl-Z at the start of a line ends the input, as the console's convention is.
  if (line.size() == 1 && line[0] == L'\x1A') return end_of_input;
  return got_line;
}

// The console keeps its own history of typed lines; no file is kept.
void line_reader::use_history_file(const std::wstring&, size_t) {}
void line_reader::add_history(const std::wstring&, const std::wstring&) {}
std::vector<std::wstring> line_reader::history_entries(const std::wstring&) { return {}; }
uint32_t append_history_line(const std::wstring&, const std::string&, size_t) { return err_not_supported; }

// ---- Ctrl-C ------------------------------------------------------------------------

namespace {

std::mutex interrupt_mutex;
std::function<void()> interrupt_function;
bool handler_installed = false;
std::atomic<uint32_t> counted_interrupts{0};
std::atomic<bool> counted_call_running{false};

// The system calls the handler on a thread of its own.
BOOL WINAPI on_control(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  std::function<void()> f;
  {
    std::lock_guard<std::mutex> lock(interrupt_mutex);
    f = interrupt_function;
  }
  interrupt_seen = true;
  if (f) f();
  return TRUE;
}

} // namespace

void watch_interrupts(std::function<void()> on_interrupt) {
  std::lock_guard<std::mutex> lock(interrupt_mutex);
  interrupt_function = std::move(on_interrupt);
  if (!handler_installed) handler_installed = SetConsoleCtrlHandler(on_control, TRUE) != 0;
}

// The system calls the console handler on a thread of its own: the count is kept there, and
// the grace period waited out on it.
void count_interrupts(bool second_ends, uint32_t grace_ms, int exit_code, std::string message) {
  watch_interrupts([second_ends, grace_ms, exit_code, message] {
    const uint32_t n = ++counted_interrupts;
    if (n >= 2 && second_ends) ExitProcess(static_cast<UINT>(exit_code));
    if (!counted_call_running) return;
    Sleep(grace_ms);
    if (!counted_call_running) return;
    remove_temp_files();
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
    ExitProcess(static_cast<UINT>(exit_code));
  });
}

uint32_t interrupts_counted() { return counted_interrupts; }

void mark_running(bool running) { counted_call_running = running; }

// The console keeps its own modes.
void restore_terminal() {}

void default_interrupts() {
  std::lock_guard<std::mutex> lock(interrupt_mutex);
  if (handler_installed) SetConsoleCtrlHandler(on_control, FALSE);
  handler_installed = false;
}

} // namespace vela::os
