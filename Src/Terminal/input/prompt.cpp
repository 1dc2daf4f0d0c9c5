#include "Terminal/input/prompt.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cwctype>
#include <mutex>

#include "Terminal/input/completion_context.h"
#include "Terminal/output/formats.h"
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

// The names and aliases of the format table.
std::vector<std::wstring> format_names() {
  std::vector<std::wstring> out;
  for (const output_format& f : output_formats()) {
    if (*f.name) out.emplace_back(f.name);
    for (std::wstring_view a = f.aliases; !a.empty();) {
      const size_t bar = std::min(a.find(L'|'), a.size());
      out.emplace_back(a.substr(0, bar));
      a.remove_prefix(std::min(bar + 1, a.size()));
    }
  }
  return out;
}

// The files and folders whose names begin with what was typed (hidden ones when it begins
// with "."), a folder's with "/" after it.
std::vector<std::wstring> file_names(const std::wstring& typed) {
  const size_t slash = typed.rfind(L'/');
  const std::wstring folder = slash == std::wstring::npos ? L"" : typed.substr(0, slash + 1);
  const std::wstring prefix = typed.substr(folder.size());
  std::vector<std::wstring> out;
  for (const std::wstring& n : sys::folder_entries(folder.empty() ? L"." : folder))
    if (n.starts_with(prefix) && (prefix.starts_with(L'.') || !n.starts_with(L'.'))) out.push_back(folder + n);
  std::sort(out.begin(), out.end());
  return out;
}

bool changes_schema(const std::vector<token>& t, const std::wstring& line) {
  return std::any_of(t.begin(), t.end(), [&](const token& k) {
    const std::wstring w = word(line, k);
    return is_word(w, L"CREATE") || is_word(w, L"DROP") || is_word(w, L"ALTER") || is_word(w, L"RENAME");
  });
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

std::vector<std::wstring> completion::candidates(const std::wstring& before, const std::wstring& after,
                                                 size_t& word_start) {
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
  const bool client = !typed.empty() && typed[0] == L'\\';
  if (!earlier_.empty()) return in_statement(earlier_ + before, after, word_start);
  if (t.empty() && (client || !connection_.hdbc())) return matching(words_.command_words(client), typed, !client);
  if (!t.empty()) {
    if (const std::optional<completion_words> next = words_.words_after(word(before, t[0]), t.size() - 1, word(before, t.back())))
      return next->names != argument_kind::none ? names(next->names, typed) : matching(next->words, typed, next->keywords);
  }
  std::vector<std::wstring> found = in_statement(before, after, word_start);
  if (t.empty()) {
    // The first word: a command, or the word a statement begins with.
    std::vector<std::wstring> commands = matching(words_.command_words(false), typed, true);
    found.insert(found.begin(), commands.begin(), commands.end());
  }
  return found;
}

std::vector<std::wstring> completion::in_statement(const std::wstring& before, const std::wstring& after,
                                                   size_t& word_start) {
  if (!connection_.hdbc()) return {};
  const statement_context c = context_of(before, after);
  word_start = c.word_start - std::min(c.word_start, earlier_.size());
  const std::wstring typed = before.substr(c.word_start);
  if (c.place == sql_place::table) return table_names(typed);
  if (c.place == sql_place::column) {
    std::vector<std::wstring> columns;
    if (!c.qualifier.empty()) {
      for (const std::wstring& n : schema_.columns(table_of(c, c.qualifier))) columns.push_back(c.qualifier + L'.' + n);
    } else {
      for (const table_reference& r : c.tables)
        for (const std::wstring& n : schema_.columns(r.name))
          if (std::find(columns.begin(), columns.end(), n) == columns.end()) columns.push_back(n);
    }
    std::vector<std::wstring> found = matching(columns, typed, false);
    if (!found.empty() || !c.qualifier.empty()) return found;
  }
  return matching(connection_.profile().keywords(), typed, true);
}

// Tables and views by name, and schemas to go on from with "."; after "schema." the tables
// of that schema, the database's own too.
std::vector<std::wstring> completion::table_names(const std::wstring& typed) {
  std::vector<std::wstring> names;
  const size_t dot = typed.rfind(L'.');
  if (dot != std::wstring::npos) {
    std::wstring schema = typed.substr(0, dot);
    trim(schema, L"\"`");
    for (const std::wstring& n : schema_.tables_in(schema)) names.push_back(typed.substr(0, dot + 1) + n);
    return matching(names, typed, false);
  }
  for (const odbc::table_info& t : schema_.tables())
    if (std::find(names.begin(), names.end(), t.name) == names.end()) names.push_back(t.name);
  for (const std::wstring& s : schema_.schemas()) names.push_back(s + L'.');
  return matching(names, typed, false);
}

std::vector<std::wstring> completion::names(argument_kind kind, const std::wstring& typed) {
  switch (kind) {
    case argument_kind::tables: return connection_.hdbc() ? table_names(typed) : std::vector<std::wstring>{};
    case argument_kind::schemas:
      return connection_.hdbc() ? matching(schema_.schemas(), typed, false) : std::vector<std::wstring>{};
    case argument_kind::files: return file_names(typed);
    case argument_kind::formats: return matching(format_names(), typed, false);
    case argument_kind::settings:
      return words_.setting_names ? matching(words_.setting_names(), typed, false) : std::vector<std::wstring>{};
    case argument_kind::none: break;
  }
  return {};
}

void completion::line_handled(const std::wstring& line) {
  const std::vector<token> t = tokens_of(line);
  if (t.empty()) return;
  const std::wstring first = word(line, t[0]);
  // DDL: until the line that ends its statement the schema is fetched again.
  if (changes_schema(t, line)) ddl_running_ = true;
  if (ddl_running_) schema_.clear();
  if (line.find(L';') != std::wstring::npos) ddl_running_ = false;
  // A new connection, or \refresh.
  for (const auto* w : {L"CONNECT", L"DISCONNECT", L"\\c", L"\\connect", L"\\refresh", L"USE", L"ATTACH", L"DETACH"})
    if (is_word(first, w)) schema_.clear();
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
