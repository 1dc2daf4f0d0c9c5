#include "Terminal/input/prompt.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cwctype>
#include <mutex>

#include "Terminal/strings.h"
#include "vela/async_log.h"
#include "vela/console.h"
#include "vela/file.h"
#include "vela/format.h"
#include "vela/log.h"
#include "vela/system.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/connection_info.h"
#include "vela/wstr.h"

namespace vela::terminal {

namespace {

struct token {
  size_t start, end;
};

// Words split at blanks outside double quotes, as the commands split their lines.
std::vector<token> tokens_of(const std::wstring& s) {
  std::vector<token> out;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    while (i < n && s[i] == L' ') ++i;
    if (i >= n) break;
    bool quoted = false;
    size_t e = i;
    for (; e < n && (quoted || s[e] != L' '); ++e)
      if (s[e] == L'"') quoted = !quoted;
    out.push_back({i, e});
    i = e;
  }
  return out;
}

std::wstring word(const std::wstring& s, const token& t) {
  std::wstring w = s.substr(t.start, t.end - t.start);
  return trim(w, L"\"");
}

bool is_word(const std::wstring& s, const wchar_t* w) { return compare_nocase(s, w) == 0; }

bool begins_nocase(const std::wstring& s, const std::wstring& prefix) {
  return s.size() >= prefix.size() && compare_nocase(s.substr(0, prefix.size()), prefix) == 0;
}

bool all_lower(const std::wstring& s) {
  bool letter = false;
  for (wchar_t c : s) {
    if (std::iswupper(static_cast<wint_t>(c))) return false;
    letter = letter || std::iswlower(static_cast<wint_t>(c));
  }
  return letter;
}

// The names that begin with what was typed; a name with a blank comes quoted. Keywords
// follow the case of what was typed.
std::vector<std::wstring> matching(const std::vector<std::wstring>& names, const std::wstring& typed, bool keywords) {
  const std::wstring prefix = typed.empty() || typed[0] != L'"' ? typed : typed.substr(1);
  std::vector<std::wstring> out;
  for (const auto& n : names) {
    if (!begins_nocase(n, prefix)) continue;
    std::wstring c = n;
    if (keywords && all_lower(prefix))
      for (auto& ch : c) ch = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch)));
    if (c.find(L' ') != std::wstring::npos || (!typed.empty() && typed[0] == L'"')) c = L"\"" + c + L"\"";
    out.push_back(c);
  }
  return out;
}

std::mutex running_mutex;
std::condition_variable running_ended;
odbc::query* running = nullptr;
odbc::connection* running_connection = nullptr;  // a connect or catalog listing
bool running_cancels = false;  // false while its rows are fetched: Ctrl-C only stops the printing
uint64_t running_serial = 0;  // counts the statements marked running
constexpr auto cancel_grace = std::chrono::seconds(3);
std::atomic<bool> interrupt_seen{false};
bool batch_run = false;
// Ctrl-C counted by the signal handler alone (no watcher thread), and the count last cleared.
bool counted_run = false;
uint32_t interrupts_cleared = 0;

} // namespace

std::wstring history_form(const std::wstring& line) {
  const std::vector<token> words = tokens_of(line);
  std::wstring out;
  const auto quoted = [&line](const token& t) {
    return t.end - t.start >= 2 && line[t.start] == L'"' && line[t.end - 1] == L'"';
  };
  if (words.size() == 2 && is_word(word(line, words[0]), L"CONNECT") && quoted(words[1])) {
    // A quoted connection string is read inside its quotes, which stay.
    const token& t = words[1];
    out = line.substr(0, t.start + 1) + odbc::mask_password(line.substr(t.start + 1, t.end - t.start - 2)) +
          line.substr(t.end - 1);
  } else if (!words.empty() && is_word(word(line, words[0]), L"CONNECT")) {
    out = odbc::mask_password(line);
  } else {
    // A statement keeps everything but the secret.
    out = odbc::mask_statement(line);
  }
  const std::vector<token> t = tokens_of(out);
  if (t.size() >= 5 && is_word(word(out, t[0]), L"CONNECT") && is_word(word(out, t[1]), L"DATASOURCE"))
    out.replace(t[4].start, t[4].end - t[4].start, L"*hidden*");
  return out;
}

std::wstring history_file() {
  const std::wstring folder = user_state_folder(false);
  if (folder.empty()) return folder;
  // Lines typed may hold secrets: kept only in a folder no one else can reach.
  const uint32_t code = sys::private_folder(folder.substr(0, folder.size() - 1));
  if (code == os::err_access_denied)
    sys::write_error_output(
        wformat(load_string(nullptr, string_id::history_folder_not_private).c_str(), folder.c_str()));
  return code ? std::wstring() : folder + L"sqlterm_history";
}

std::vector<std::wstring> completion::candidates(const std::wstring& before, size_t& word_start) {
  std::vector<token> t = tokens_of(before);
  // The word being typed: the last one, unless a blank follows it.
  std::wstring typed;
  if (!t.empty() && t.back().end == before.size()) {
    word_start = t.back().start;
    typed = before.substr(word_start);
    t.pop_back();
  } else {
    word_start = before.size();
  }
  if (t.empty()) {
    const bool client = !typed.empty() && typed[0] == L'\\';
    return matching(words_.command_words(client), typed, !client);
  }
  if (const std::optional<completion_words> next = words_.words_after(word(before, t[0]), t.size() - 1, word(before, t.back())))
    return matching(next->words, typed, next->keywords);
  if (!connection_.hdbc()) return {};
  if (!tables_known_) {
    tables_known_ = true;
    tables_.clear();
    std::vector<odbc::table_info> found;
    if (odbc::connection_info(&connection_).ListTbls(found, L"", L"", L"", L"").succeeded())
      for (const auto& f : found) tables_.push_back(f.name);
  }
  return matching(tables_, typed, false);
}

void completion::line_handled(const std::wstring& line) {
  const std::vector<token> t = tokens_of(line);
  if (t.empty()) return;
  const std::wstring first = word(line, t[0]);
  for (const auto* w : {L"CONNECT", L"DISCONNECT", L"CREATE", L"DROP"})
    if (is_word(first, w)) tables_known_ = false;
}

namespace {

// The driver did not return after the cancel: the process ends, as nothing else can stop it.
[[noreturn]] void end_stuck_run() {
  sys::restore_terminal();
  sys::write_error_output(load_string(nullptr, string_id::driver_not_returning));
  Log& log = process_log();
  write_formatted(log, L"AMP", L"Prg end(%u,the driver did not return after the cancel).", interrupted_exit);
  log.stop(Log::exit_wait_ms);
  // Not exit(): the main thread is still inside the driver, whose objects must not be destroyed.
  std::_Exit(exit_status(interrupted_exit));
}

} // namespace

void watch_interrupts(bool batch, bool watcher) {
  batch_run = batch;
  if (!watcher) {
    // No thread: the signal handler counts Ctrl-C, rows stop being fetched at the next one,
    // and a call that does not return within the grace period ends the process.
    counted_run = true;
    const auto grace = std::chrono::duration_cast<std::chrono::milliseconds>(cancel_grace);
    sys::count_interrupts(batch, static_cast<uint32_t>(grace.count()), static_cast<int>(exit_status(interrupted_exit)),
                          load_string(nullptr, string_id::driver_not_returning));
    return;
  }
  sys::watch_interrupts([] {
    interrupt_seen = true;
    if (batch_run) sys::default_interrupts();  // a second Ctrl-C ends the process
    std::unique_lock<std::mutex> lock(running_mutex);
    if (running) {
      if (running_cancels) (void)running->cancel();  // nothing to tell in a signal handler
    } else if (running_connection) {
      running_connection->cancel();
    } else {
      return;
    }
    const uint64_t cancelled = running_serial;
    if (!running_ended.wait_for(lock, cancel_grace,
                                [cancelled] { return running_serial != cancelled || (!running && !running_connection); }))
      end_stuck_run();
  });
}

bool interrupted() { return interrupt_seen || (counted_run && sys::interrupts_counted() != interrupts_cleared); }

void clear_interrupt() {
  interrupt_seen = false;
  if (counted_run) interrupts_cleared = sys::interrupts_counted();
}

running_statement::running_statement(odbc::query& q, bool cancel) {
  if (counted_run) {
    sys::mark_running(true);
    return;
  }
  std::lock_guard<std::mutex> lock(running_mutex);
  running = &q;
  running_cancels = cancel;
  ++running_serial;
}

running_statement::~running_statement() {
  if (counted_run) {
    sys::mark_running(false);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(running_mutex);
    running = nullptr;
  }
  running_ended.notify_all();
}

running_call::running_call(odbc::connection& c) {
  if (counted_run) {
    sys::mark_running(true);
    return;
  }
  std::lock_guard<std::mutex> lock(running_mutex);
  running_connection = &c;
  ++running_serial;
}

running_call::~running_call() {
  if (counted_run) {
    sys::mark_running(false);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(running_mutex);
    running_connection = nullptr;
  }
  running_ended.notify_all();
}

} // namespace vela::terminal
