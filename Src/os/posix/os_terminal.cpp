// Reading lines at the prompt (the line editor on a terminal, else standard input), Ctrl-C.
#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <iterator>
#include <mutex>
#include <thread>
#include <type_traits>

#include "os/os.h"
#include "vela/utf.h"

namespace vela::os {

namespace {

// Readable once Ctrl-C was pressed: a read that waits for input ends then.
int interrupt_wake[2] = {-1, -1};

// Waits until fd has input; true when Ctrl-C came first.
bool interrupted_while_waiting(int fd) {
  if (fd != 0 || interrupt_wake[0] < 0) return false;
  pollfd p[2] = {{fd, POLLIN, 0}, {interrupt_wake[0], POLLIN, 0}};
  for (;;) {
    const int n = ::poll(p, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (p[0].revents) return false;  // input (or its end) comes first
    return p[1].revents != 0;
  }
}

// Buffered reads of one descriptor.
class fd_lines {
 public:
  explicit fd_lines(int fd) : fd_(fd) {}
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
      if (interrupted_while_waiting(fd_)) {
        eof_ = true;
        line.clear();
        return false;
      }
      char chunk[65536];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        eof_ = true;
        return !line.empty();
      }
      buffer_.assign(chunk, static_cast<size_t>(n));
    }
  }
  // The bytes held, then those read; got 0 at the end.
  uint32_t bytes(void* to, size_t n, size_t& got) {
    got = std::min(n, buffer_.size() - pos_);
    if (got) {
      std::memcpy(to, buffer_.data() + pos_, got);
      pos_ += got;
      return 0;
    }
    while (!eof_) {
      const ssize_t k = ::read(fd_, to, n);
      if (k < 0 && errno == EINTR) continue;
      if (k < 0) return static_cast<uint32_t>(errno);
      eof_ = k == 0;
      got = static_cast<size_t>(k);
      return 0;
    }
    return 0;
  }

 private:
  int fd_;
  std::string buffer_;
  size_t pos_ = 0;
  bool eof_ = false;
};

fd_lines& stdin_lines() {
  static fd_lines lines(0);
  return lines;
}

} // namespace

bool read_stdin_line(std::string& line) {
  if (!stdin_lines().next(line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

uint32_t read_stdin_bytes(void* to, size_t n, size_t& got) { return stdin_lines().bytes(to, n, got); }

// ---- the line editor ---------------------------------------------------------------

namespace {

// The terminal marks pasted text (bracketed paste) while the editor runs.
constexpr char paste_on[] = "\033[?2004h";
constexpr char paste_off[] = "\033[?2004l";

// The terminal's modes before the editor took it, for a process that ends without unwinding.
std::mutex terminal_mutex;
termios terminal_before{};
bool terminal_taken = false;

// The same modes for a signal that ends the process (a quit key, kill, a hang-up) while the
// editor holds the terminal: they are set back before the signal's own effect.
termios modes_on_signal{};
volatile sig_atomic_t modes_on_signal_set = 0;
constexpr int ending_signals[] = {SIGQUIT, SIGTERM, SIGHUP};
struct sigaction before_ending[std::size(ending_signals)];

void restore_and_end(int sig) {
  if (modes_on_signal_set) {
    (void)::tcsetattr(0, TCSANOW, &modes_on_signal);
    (void)!::write(1, paste_off, sizeof paste_off - 1);
  }
  for (size_t i = 0; i < std::size(ending_signals); ++i) {
    if (ending_signals[i] != sig) continue;
    if (!(before_ending[i].sa_flags & SA_SIGINFO) && before_ending[i].sa_handler != SIG_DFL) {
      before_ending[i].sa_handler(sig);  // a handler of its own (a file to remove) goes on
      return;
    }
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void restore_on_ending_signals(const termios& modes) {
  modes_on_signal = modes;
  modes_on_signal_set = 1;
  static const bool installed = [] {
    for (size_t i = 0; i < std::size(ending_signals); ++i) {
      if (::sigaction(ending_signals[i], nullptr, &before_ending[i]) != 0) continue;
      if (before_ending[i].sa_handler == SIG_IGN && !(before_ending[i].sa_flags & SA_SIGINFO)) continue;
      struct sigaction sa{};
      sa.sa_handler = restore_and_end;
      sigemptyset(&sa.sa_mask);
      (void)::sigaction(ending_signals[i], &sa, nullptr);
    }
    return true;
  }();
  (void)installed;
}

// libedit, loaded when a line editor is first wanted (at a terminal): a run that reads no
// typed lines does not pay for loading it and the libraries it needs.
struct libedit {
  decltype(&::el_init) el_init = nullptr;
  decltype(&::el_end) el_end = nullptr;
  decltype(&::el_get) el_get = nullptr;
  decltype(&::el_set) el_set = nullptr;
  decltype(&::el_wset) el_wset = nullptr;
  decltype(&::el_wgetc) el_wgetc = nullptr;
  decltype(&::el_winsertstr) el_winsertstr = nullptr;
  decltype(&::el_wline) el_wline = nullptr;
  decltype(&::el_wdeletestr) el_wdeletestr = nullptr;
  decltype(&::el_source) el_source = nullptr;
  decltype(&::el_wgets) el_wgets = nullptr;
  decltype(&::history_winit) history_winit = nullptr;
  decltype(&::history_wend) history_wend = nullptr;
  decltype(&::history_w) history_w = nullptr;
};

// The library's functions, or null when it or one of them is missing (lines are then read
// without editing).
const libedit* load_libedit() {
  static const libedit* const loaded = []() -> const libedit* {
    static libedit lib;
    bool all = true;
    const auto load = [&all](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(library_symbol("libedit.so.2", name));
      all = all && fn;
    };
    load(lib.el_init, "el_init");
    load(lib.el_end, "el_end");
    load(lib.el_get, "el_get");
    load(lib.el_set, "el_set");
    load(lib.el_wset, "el_wset");
    load(lib.el_wgetc, "el_wgetc");
    load(lib.el_winsertstr, "el_winsertstr");
    load(lib.el_wline, "el_wline");
    load(lib.el_wdeletestr, "el_deletestr");  // the header names it so for wide text too
    load(lib.el_source, "el_source");
    load(lib.el_wgets, "el_wgets");
    load(lib.history_winit, "history_winit");
    load(lib.history_wend, "history_wend");
    load(lib.history_w, "history_w");
    return all ? &lib : nullptr;
  }();
  return loaded;
}

// Only where an editor exists, which needs the library loaded.
const libedit& edit() { return *load_libedit(); }

} // namespace

struct line_reader::editor {
  EditLine* el = nullptr;
  HistoryW* history = nullptr;
  std::wstring prompt;
  completer complete;
  bool interrupted = false;
  std::string history_path;
  size_t history_max = 0;
  std::wstring last_added;
  // A bracketed paste of several lines: the whole line with the paste in it.
  bool paste_ended = false;
  std::wstring paste;
  std::wstring paste_unshown;  // the part of it not on the screen yet: the paste and what followed the cursor
  // Between reads the terminal is held so that keys typed ahead wait unechoed and whole,
  // Ctrl-C still interrupting; for a read, Ctrl-C is a key (the editor reads keys already
  // waiting in the modes it finds).
  bool held = false;
  bool end_waiting = false;  // a Ctrl-D came among lines that were waiting

  void hold(bool signals = true) {
    termios t{};
    if (::tcgetattr(0, &t) != 0) return;
    if (!held) {
      std::lock_guard<std::mutex> lock(terminal_mutex);
      terminal_before = t;
      terminal_taken = true;
      restore_on_ending_signals(t);
    }
    held = true;
    t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL | IEXTEN | ISIG));
    if (signals) t.c_lflag |= ISIG;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    (void)::tcsetattr(0, TCSANOW, &t);
  }

  ~editor() {
    if (el) edit().el_end(el);
    if (history) edit().history_wend(history);
    if (held) restore_terminal();
  }
};

namespace {

wchar_t* editor_prompt(EditLine* el) {
  void* data = nullptr;
  edit().el_get(el, EL_CLIENTDATA, &data);
  return const_cast<wchar_t*>(static_cast<line_reader::editor*>(data)->prompt.c_str());
}

line_reader::editor* editor_of(EditLine* el) {
  void* data = nullptr;
  edit().el_get(el, EL_CLIENTDATA, &data);
  return static_cast<line_reader::editor*>(data);
}

// Ctrl-C at the prompt: the line is given up.
unsigned char on_ctrl_c(EditLine* el, int) {
  editor_of(el)->interrupted = true;
  return CC_NEWLINE;
}

// The start of a bracketed paste: the text up to its end marker is read here. A paste of
// part of a line is inserted at the cursor; one with a line break ends the read, the line
// holding the whole paste.
unsigned char on_paste(EditLine* el, int) {
  line_reader::editor* ed = editor_of(el);
  static const std::wstring end_marker = L"\033[201~";
  std::wstring text;
  for (;;) {
    wchar_t c = 0;
    if (edit().el_wgetc(el, &c) != 1) break;
    text += c;
    if (text.size() >= end_marker.size() && text.compare(text.size() - end_marker.size(), end_marker.size(), end_marker) == 0) {
      text.resize(text.size() - end_marker.size());
      break;
    }
  }
  // Terminals send a pasted line break as CR.
  std::wstring pasted;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r') {
      pasted += L'\n';
      if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    } else {
      pasted += text[i];
    }
  }
  if (pasted.find(L'\n') == std::wstring::npos) {
    if (!pasted.empty()) edit().el_winsertstr(el, pasted.c_str());
    return CC_REFRESH;
  }
  const LineInfoW* li = edit().el_wline(el);
  ed->paste.assign(li->buffer, static_cast<size_t>(li->cursor - li->buffer));
  ed->paste += pasted;
  const std::wstring after(li->cursor, static_cast<size_t>(li->lastchar - li->cursor));
  ed->paste += after;
  ed->paste_unshown = pasted + after;
  ed->paste_ended = true;
  return CC_NEWLINE;
}

// A paste that ended the read is shown as typed lines are, from the cursor on (the text that
// followed the cursor moved behind it), its last line ended.
void show_paste(line_reader::editor& ed) {
  std::wstring shown = L"\033[K" + ed.paste_unshown;
  ed.paste_unshown.clear();
  if (shown.back() != L'\n') shown += L'\n';
  line_reader::show(shown);
}

// Input already waiting at the terminal.
bool input_waiting() {
  pollfd p{0, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// Tab: one candidate is taken whole, several share their longest common start, and when
// that adds nothing the candidates are listed.
unsigned char on_tab(EditLine* el, int) {
  line_reader::editor* ed = editor_of(el);
  if (!ed->complete) return CC_ERROR;
  const LineInfoW* li = edit().el_wline(el);
  const std::wstring before(li->buffer, static_cast<size_t>(li->cursor - li->buffer));
  const std::wstring after(li->cursor, static_cast<size_t>(li->lastchar - li->cursor));
  size_t word_start = before.size();
  const std::vector<std::wstring> found = ed->complete(before, after, word_start);
  if (found.empty() || word_start > before.size()) return CC_ERROR;
  const size_t typed = before.size() - word_start;
  std::wstring common = found[0];
  for (const auto& f : found) {
    size_t k = 0;
    while (k < common.size() && k < f.size() && std::towlower(common[k]) == std::towlower(f[k])) ++k;
    common.resize(k);
  }
  // A schema's "name." or a folder's "name/" goes on at once, without a blank.
  if (found.size() == 1 && !common.empty() && common.back() != L'.' && common.back() != L'/') common += L' ';
  if (common.size() > typed) {
    // The typed word is replaced, so the candidate's letter case wins.
    edit().el_wdeletestr(el, static_cast<int>(typed));
    edit().el_winsertstr(el, common.c_str());
    return CC_REFRESH;
  }
  if (found.size() == 1) return CC_NORM;
  std::wstring list = L"\n";
  for (const auto& f : found) list += f + L"  ";
  list += L"\n";
  line_reader::show(list);
  return CC_REDISPLAY;
}

} // namespace

line_reader::line_reader() {
  // Output sent to a file keeps its bytes: the editor's redrawing is for terminals only.
  if (!is_terminal(0) || !is_terminal(1) || !load_libedit()) return;
  editor_ = new editor;
  editor_->el = edit().el_init("sqlterm", stdin, stdout, stderr);
  editor_->history = edit().history_winit();
  if (!editor_->el || !editor_->history) {
    delete editor_;
    editor_ = nullptr;
    return;
  }
  EditLine* el = editor_->el;
  HistEventW ev;
  edit().history_w(editor_->history, &ev, H_SETSIZE, 2000);
  edit().el_set(el, EL_CLIENTDATA, editor_);
  edit().el_set(el, EL_EDITOR, "emacs");
  edit().el_wset(el, EL_PROMPT, editor_prompt);
  edit().el_wset(el, EL_HIST, edit().history_w, editor_->history);
  // Ctrl-C reaches the editor as a key while a line is edited, not as a signal.
  edit().el_set(el, EL_SETTY, "-d", "-isig", nullptr);
  // Wide names: the narrow form of EL_ADDFN keeps copies that are never freed.
  edit().el_wset(el, EL_ADDFN, L"vela-interrupt", L"give up the line", on_ctrl_c);
  edit().el_wset(el, EL_ADDFN, L"vela-complete", L"complete the word", on_tab);
  edit().el_wset(el, EL_ADDFN, L"vela-paste", L"take a bracketed paste", on_paste);
  edit().el_set(el, EL_BIND, "\033[200~", "vela-paste", nullptr);
  edit().el_set(el, EL_BIND, "^C", "vela-interrupt", nullptr);
  edit().el_set(el, EL_BIND, "^I", "vela-complete", nullptr);
  edit().el_set(el, EL_BIND, "^R", "em-inc-search-prev", nullptr);
  edit().el_set(el, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
  edit().el_set(el, EL_BIND, "^U", "em-kill-line", nullptr);
  for (const char* home : {"\033[H", "\033OH", "\033[1~", "\033[7~"}) edit().el_set(el, EL_BIND, home, "ed-move-to-beg", nullptr);
  for (const char* end : {"\033[F", "\033OF", "\033[4~", "\033[8~"}) edit().el_set(el, EL_BIND, end, "ed-move-to-end", nullptr);
  edit().el_set(el, EL_BIND, "\033[3~", "ed-delete-next-char", nullptr);
  edit().el_source(el, nullptr);  // the user's own ~/.editrc
  // The editor owns the terminal from here on, before any prompt is shown.
  editor_->hold();
  (void)write_all(1, paste_on, sizeof paste_on - 1);
}

line_reader::~line_reader() { delete editor_; }

bool line_reader::editing() const { return editor_ != nullptr; }

void line_reader::set_completer(completer c) {
  if (editor_) editor_->complete = std::move(c);
}

void line_reader::show(const std::wstring& text) {
  std::string bytes;
  encode_for_console(text, bytes);
  write_all(1, bytes.data(), bytes.size());
}

line_reader::status line_reader::read(const std::wstring& prompt, std::wstring& line) {
  line.clear();
  if (!editor_) {
    std::string bytes;
    if (!read_stdin_line(bytes)) return end_of_input;
    line = decode_from_console(bytes);
    return got_line;
  }
  editor_->prompt = prompt;
  editor_->interrupted = false;
  editor_->paste_ended = false;
  if (editor_->end_waiting) return end_of_input;
  editor_->hold(false);
  int count = 0;
  const wchar_t* text = edit().el_wgets(editor_->el, &count);
  editor_->hold();
  if (editor_->interrupted) {
    show(L"\n");
    return interrupted;
  }
  if (editor_->paste_ended) {
    show_paste(*editor_);
    line = std::move(editor_->paste);
    editor_->paste.clear();
    return pasted;
  }
  if (!text || count <= 0) return end_of_input;  // Ctrl-D on an empty line
  line.assign(text, static_cast<size_t>(count));
  while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
  const bool recalled_lines = line.find(L'\n') != std::wstring::npos;  // a history entry of several lines
  if (!input_waiting()) return recalled_lines ? pasted : got_line;
  // Lines already waiting came with this one (a paste the terminal did not mark): read
  // together with it.
  editor_->prompt.clear();
  while (input_waiting()) {
    count = 0;
    editor_->hold(false);
    text = edit().el_wgets(editor_->el, &count);
    editor_->hold();
    if (editor_->interrupted) break;
    if (editor_->paste_ended) {
      // A marked paste among them.
      editor_->paste_ended = false;
      show_paste(*editor_);
      line += L'\n';
      line += editor_->paste;
      editor_->paste.clear();
      continue;
    }
    if (!text || count <= 0) {
      editor_->end_waiting = true;  // a Ctrl-D among the waiting lines ends the run after them
      break;
    }
    std::wstring next(text, static_cast<size_t>(count));
    while (!next.empty() && (next.back() == L'\n' || next.back() == L'\r')) next.pop_back();
    line += L'\n';
    line += next;
  }
  return pasted;
}

namespace {

std::vector<std::string> file_lines(const std::string& path) {
  std::vector<std::string> lines;
  // Never through a link, never waiting on a FIFO.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return lines;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return lines;
  }
  fd_lines reader(fd);
  std::string l;
  while (reader.next(l)) lines.push_back(l);
  ::close(fd);
  return lines;
}

// In the file an entry is one line: its own line breaks are kept as U+0001.
constexpr wchar_t line_break_in_file = L'\x01';

std::wstring entry_from_file(const std::string& bytes) {
  std::wstring entry = decode_from_console(bytes);
  std::replace(entry.begin(), entry.end(), line_break_in_file, L'\n');
  return entry;
}

} // namespace

std::vector<std::wstring> line_reader::history_entries(const std::wstring& path) {
  std::vector<std::wstring> entries;
  for (const std::string& l : file_lines(native_path(path))) entries.push_back(entry_from_file(l));
  return entries;
}

void line_reader::use_history_file(const std::wstring& path, size_t max) {
  if (!editor_) return;
  editor_->history_path = native_path(path);
  editor_->history_max = max;
  const std::vector<std::string> lines = file_lines(editor_->history_path);
  HistEventW ev;
  for (size_t i = lines.size() > max ? lines.size() - max : 0; i < lines.size(); ++i) {
    const std::wstring l = entry_from_file(lines[i]);
    edit().history_w(editor_->history, &ev, H_ENTER, l.c_str());
  }
  if (!lines.empty()) editor_->last_added = entry_from_file(lines.back());
}

void line_reader::add_history(const std::wstring& line, const std::wstring& stored) {
  if (!editor_ || line.empty() || line == editor_->last_added) return;
  editor_->last_added = line;
  HistEventW ev;
  edit().history_w(editor_->history, &ev, H_ENTER, line.c_str());
  if (editor_->history_path.empty()) return;
  std::wstring one_line = stored;
  std::replace(one_line.begin(), one_line.end(), L'\n', line_break_in_file);
  std::string bytes;
  encode_for_console(one_line, bytes);
  bytes += '\n';
  // An unwritable history is no error.
  append_history_line(utf8_to_wide_escaped(editor_->history_path), bytes, editor_->history_max);
}

uint32_t append_history_line(const std::wstring& path, const std::string& bytes, size_t max) {
  handle h = invalid_handle;
  uint32_t code = open_private_append(path, h);
  if (code != err_success) return code;
  code = write_file(h, bytes.data(), bytes.size());
  close_handle(h);
  if (code != err_success) return code;
  const std::string p = native_path(path);
  // Kept to its size: cut once it holds a quarter more than that. The cut copy gets a name
  // of its own, so nothing planted beside the file is written through.
  std::vector<std::string> lines = file_lines(p);
  if (lines.size() <= max + max / 4) return err_success;
  std::string kept;
  for (size_t i = lines.size() - max; i < lines.size(); ++i) kept += lines[i] + '\n';
  std::string temp = p + ".XXXXXX";
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) return last_error();
  bool written = write_all(out, kept.data(), kept.size());
  written = ::close(out) == 0 && written;
  if (written && ::rename(temp.c_str(), p.c_str()) == 0) return err_success;
  code = last_error();
  ::unlink(temp.c_str());
  return code ? code : uint32_t{err_write_fault};
}

// ---- Ctrl-C ------------------------------------------------------------------------

namespace {

int interrupt_pipe[2] = {-1, -1};
std::mutex interrupt_mutex;
std::function<void()> interrupt_function;

extern "C" void on_sigint(int) {
  const int saved = errno;
  const char c = 'i';
  (void)!::write(interrupt_pipe[1], &c, 1);
  errno = saved;
}

void interrupt_watcher() {
  for (;;) {
    char c;
    const ssize_t n = ::read(interrupt_pipe[0], &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    std::function<void()> f;
    {
      std::lock_guard<std::mutex> lock(interrupt_mutex);
      f = interrupt_function;
    }
    if (f) f();
    const char w = 'w';
    (void)!::write(interrupt_wake[1], &w, 1);
  }
}

} // namespace

void watch_interrupts(std::function<void()> on_interrupt) {
  {
    std::lock_guard<std::mutex> lock(interrupt_mutex);
    interrupt_function = std::move(on_interrupt);
  }
  if (interrupt_pipe[0] >= 0) return;
  if (::pipe2(interrupt_pipe, O_CLOEXEC) != 0) return;  // Ctrl-C keeps its default effect
  if (::pipe2(interrupt_wake, O_CLOEXEC | O_NONBLOCK) != 0) interrupt_wake[0] = interrupt_wake[1] = -1;
  std::thread(interrupt_watcher).detach();
  struct sigaction sa{};
  sa.sa_handler = on_sigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
}

namespace {

// Counted Ctrl-C: what the handlers need, set before they are installed.
std::atomic<uint32_t> interrupt_count{0};
std::atomic<bool> call_running{false};
std::atomic<bool> grace_armed{false};
bool second_interrupt_ends = false;
unsigned grace_seconds = 3;
int grace_exit_code = 130;
std::string grace_message;
static_assert(std::atomic<uint32_t>::is_always_lock_free);

extern "C" void on_counted_sigint(int sig) {
  const int saved = errno;
  const uint32_t n = interrupt_count.fetch_add(1) + 1;
  if (n >= 2 && second_interrupt_ends) remove_temp_files_and_end(sig);
  if (call_running && !grace_armed.exchange(true)) ::alarm(grace_seconds);
  errno = saved;
}

extern "C" void on_grace_ended(int) {
  if (!call_running) return;  // the call ended in time
  remove_temp_files();
  (void)!::write(2, grace_message.data(), grace_message.size());
  ::_exit(grace_exit_code);
}

} // namespace

void count_interrupts(bool second_ends, uint32_t grace_ms, int exit_code, std::string message) {
  second_interrupt_ends = second_ends;
  grace_seconds = static_cast<unsigned>((grace_ms + 999) / 1000);
  grace_exit_code = exit_code;
  grace_message = std::move(message);
  struct sigaction sa{};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sa.sa_handler = on_grace_ended;
  sigaction(SIGALRM, &sa, nullptr);
  sa.sa_handler = on_counted_sigint;
  sigaction(SIGINT, &sa, nullptr);
}

uint32_t interrupts_counted() { return interrupt_count.load(std::memory_order_relaxed); }

void mark_running(bool running) {
  call_running.store(running, std::memory_order_relaxed);
  if (!running && grace_armed.exchange(false)) ::alarm(0);
}

void restore_terminal() {
  std::lock_guard<std::mutex> lock(terminal_mutex);
  if (!terminal_taken) return;
  terminal_taken = false;
  modes_on_signal_set = 0;
  (void)::tcsetattr(0, TCSANOW, &terminal_before);
  (void)write_all(1, paste_off, sizeof paste_off - 1);
}

void default_interrupts() {
  struct sigaction sa{};
  sa.sa_handler = remove_temp_files_and_end;  // the default effect, once temporary files are gone
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
}

} // namespace vela::os
