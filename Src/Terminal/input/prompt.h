// What the interactive prompt adds around the handler: the history's stored form of a line,
// Tab completion, and Ctrl-C that cancels the running statement.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"

namespace vela::terminal {

// The words Tab completion offers after a command; keywords are completed in capitals.
struct completion_words {
  std::vector<std::wstring> words;
  bool keywords = false;
};

// The line as the history file keeps it: PWD= and PASSWORD= values, the literal after PASSWORD
// or IDENTIFIED BY in a statement, and the password word of CONNECT DATASOURCE <datasource>
// <user> <password>, become "*hidden*".
std::wstring history_form(const std::wstring& line);

// The history file: $XDG_STATE_HOME/vela/sqlterm_history (its folder created); empty when
// no folder is known.
std::wstring history_file();

// Candidates for the word before the cursor: the command words and their second words,
// driver names after CONNECT DRIVER, data source names after CONNECT DATASOURCE, and the
// table names of the open connection.
class completion {
 public:
  // What the commands offer: the command words (client: the backslash forms), and the words
  // after a command's word (nullopt where table names follow).
  struct vocabulary {
    std::function<std::vector<std::wstring>(bool client)> command_words;
    std::function<std::optional<completion_words>(const std::wstring& first, size_t index, const std::wstring& previous)>
        words_after;
  };
  completion(odbc::connection& connection, vocabulary words) : connection_(connection), words_(std::move(words)) {}
  std::vector<std::wstring> candidates(const std::wstring& before_cursor, size_t& word_start);
  // After a line was handled: a new connection or a CREATE/DROP fetches the tables again.
  void line_handled(const std::wstring& line);

 private:
  odbc::connection& connection_;
  vocabulary words_;
  std::vector<std::wstring> tables_;
  bool tables_known_ = false;
};

// The status of a run ended by Ctrl-C, as a shell reports it.
constexpr uint32_t interrupted_exit = 130;

// Ctrl-C cancels the statement that runs now. In a batch run (statements from the command
// line, a file or standard input) the run then ends, and a second Ctrl-C ends the process.
// Without a watcher (no one at a terminal to press it) the process keeps one thread: Ctrl-C
// (a SIGINT) stops the rows being fetched, and a statement still running 3 seconds later ends
// the process with status 130, uncancelled.
void watch_interrupts(bool batch, bool watcher = true);
// Whether Ctrl-C was pressed since the last clear_interrupt.
bool interrupted();
void clear_interrupt();

// Marks a statement as the one Ctrl-C cancels (with cancel false: whose rows are fetched),
// for the scope's life. A driver that has not left the scope 3 seconds after Ctrl-C ends the
// process with status 130.
class running_statement {
 public:
  explicit running_statement(odbc::query& q, bool cancel = true);
  ~running_statement();
  running_statement(const running_statement&) = delete;
  running_statement& operator=(const running_statement&) = delete;
};

// Marks a call on the connection (a connect, a catalog listing) as the one Ctrl-C cancels,
// for the scope's life, with the same 3 seconds' grace.
class running_call {
 public:
  explicit running_call(odbc::connection& c);
  ~running_call();
  running_call(const running_call&) = delete;
  running_call& operator=(const running_call&) = delete;
};

} // namespace vela::terminal
