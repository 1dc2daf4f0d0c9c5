#include "vela/system.h"

#include "os/os.h"

namespace vela::sys {

static_assert(invalid_file_handle == os::invalid_handle);

std::vector<std::wstring> command_args() { return os::command_args(); }
void ignore_file_size_signal() { os::ignore_file_size_signal(); }
void end_by_broken_pipe() { os::end_by_broken_pipe(); }
void watch_interrupts(std::function<void()> on_interrupt) { os::watch_interrupts(std::move(on_interrupt)); }
void count_interrupts(bool second_ends, uint32_t grace_ms, int exit_code, const std::wstring& message) {
  std::string bytes;
  os::encode_for_console(message, bytes);
  os::count_interrupts(second_ends, grace_ms, exit_code, std::move(bytes));
}
uint32_t interrupts_counted() { return os::interrupts_counted(); }
void mark_running(bool running) { os::mark_running(running); }
void default_interrupts() { os::default_interrupts(); }
void restore_terminal() { os::restore_terminal(); }
std::wstring system_message(uint32_t code) { return os::system_message(code); }

bool read_stdin_line(std::string& line) { return os::read_stdin_line(line); }
uint32_t read_stdin_bytes(void* to, size_t n, size_t& got) { return os::read_stdin_bytes(to, n, got); }
bool stdin_is_terminal() { return os::is_terminal(0); }
size_t terminal_lines(int fd) { return os::terminal_lines(fd); }
size_t terminal_columns(int fd) { return os::terminal_columns(fd); }
std::wstring console_encoding() { return os::console_encoding(); }
bool trusted_config_file(const std::wstring& path) { return os::trusted_config_file(path); }
std::wstring environment(const char* name) { return os::environment(name); }
uint32_t from_wide(unsigned code_page, std::wstring_view text, std::string& out, bool strict) {
  return os::from_wide(code_page, text, out, strict);
}
uint32_t private_folder(const std::wstring& path) { return os::private_folder(path); }
std::vector<std::wstring> folder_entries(const std::wstring& path) { return os::folder_entries(path); }
uint64_t peak_memory_bytes() { return os::peak_memory_bytes(); }

piped_program::piped_program() : child_(std::make_unique<os::piped_child>()) {}
piped_program::~piped_program() = default;
bool piped_program::start(const std::wstring& command) { return child_->start(command); }
int piped_program::fd() const { return child_->fd(); }
int piped_program::finish() { return child_->finish(); }
int run_program(const std::wstring& command, const std::wstring& file) { return os::run_program(command, file); }
std::wstring decode_from_console(std::string_view bytes) { return os::decode_from_console(bytes); }

void write_error_output(std::wstring_view text) {
  std::string bytes;
  os::encode_for_console(text, bytes);
  (void)os::write_all(2, bytes.data(), bytes.size());  // nowhere left to tell a failure
}

bool path_exists(const std::wstring& path) { return os::path_exists(path); }
bool is_regular_file(const std::wstring& path) { return os::is_regular_file(path); }
uint32_t remove_file(const std::wstring& path) { return os::remove_file(path); }

uint32_t create_temp_file(std::wstring& path, file_handle& out) { return os::create_temp_file(path, out); }
uint32_t create_unnamed_temp_file(std::wstring& reopen_path, file_handle& out) {
  return os::create_unnamed_temp_file(reopen_path, out);
}
bool is_device_or_fifo(const std::wstring& path) { return os::is_device_or_fifo(path); }
bool passes_through_link(const std::wstring& folder, const std::wstring& relative) {
  return os::passes_through_link(folder, relative);
}

uint32_t replacing_file::create() {
  discard();
  if (os::is_device_or_fifo(target_)) {
    path_ = target_;
    return 0;
  }
  os::handle h = os::invalid_handle;
  if (const uint32_t code = os::create_temp_file_beside(target_, path_, h)) return code;
  os::close_handle(h);
  temporary_ = true;
  return 0;
}

uint32_t replacing_file::commit() {
  if (!temporary_) return 0;
  const uint32_t code = os::replace_file(path_, target_);
  if (code) {
    discard();
    return code;
  }
  os::keep_on_signal(path_);
  temporary_ = false;
  return 0;
}

void replacing_file::discard() {
  if (!temporary_) return;
  os::remove_file(path_);
  os::keep_on_signal(path_);
  temporary_ = false;
}

std::wstring replacing_file::as_target(std::wstring text) const {
  if (path_.empty() || path_ == target_) return text;
  for (size_t at = text.find(path_); at != std::wstring::npos; at = text.find(path_, at + target_.size()))
    text.replace(at, path_.size(), target_);
  return text;
}

uint32_t write_file(file_handle h, const void* data, size_t n) { return os::write_file(h, data, n); }
uint32_t close_file(file_handle h) { return os::close_handle(h); }

struct line_editor::reader {
  os::line_reader lines;
};

line_editor::line_editor() : reader_(std::make_unique<reader>()) {}
line_editor::~line_editor() = default;

bool line_editor::editing() const { return reader_->lines.editing(); }

line_editor::status line_editor::read(const std::wstring& prompt, std::wstring& line) {
  switch (reader_->lines.read(prompt, line)) {
    case os::line_reader::got_line: return got_line;
    case os::line_reader::end_of_input: return end_of_input;
    case os::line_reader::pasted: return pasted;
    case os::line_reader::interrupted: break;
  }
  return interrupted;
}

void line_editor::set_completer(completer c) { reader_->lines.set_completer(std::move(c)); }
void line_editor::use_history_file(const std::wstring& path, size_t max) { reader_->lines.use_history_file(path, max); }
void line_editor::add_history(const std::wstring& line, const std::wstring& stored) {
  reader_->lines.add_history(line, stored);
}
std::vector<std::wstring> line_editor::history_entries(const std::wstring& path) {
  return os::line_reader::history_entries(path);
}

} // namespace vela::sys
