// What the interactive prompt adds around the handler: the history's stored form of a line,
// Tab completion, and Ctrl-C that cancels the running statement.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Terminal/input/schema_cache.h"
#include "vela/odbc/connection.h"
#include "vela/odbc/query.h"

namespace vela::terminal {

// Names Tab completion offers for a command's argument: tables and views ([schema.]name),
// schemas, file names, the names of the format table, settings and variables.
enum class argument_kind : uint8_t { none, tables, schemas, files, formats, settings };

// The words Tab completion offers after a command; keywords are completed in capitals. Names
// of a kind, when given, are offered instead of the words.
struct completion_words {
  std::vector<std::wstring> words;
  bool keywords = false;
  argument_kind names = argument_kind::none;
};
inline completion_words names_of(argument_kind kind) { return {{}, false, kind}; }

// The line as the history file keeps it: PWD= and PASSWORD= values, the literal after PASSWORD
// or IDENTIFIED BY in a statement, and the password word of CONNECT DATASOURCE <datasource>
// <user> <password>, become "*hidden*".
std::wstring history_form(const std::wstring& line);

// The history file: $XDG_STATE_HOME/vela/sqlterm_history (its folder created); empty when
// no folder is known.
std::wstring history_file();

// Candidates for the word before the cursor: the command words and their arguments (driver
// names after CONNECT DRIVER, data source names after CONNECT DATASOURCE, the names a client
// command declares), and in a statement the dialect's keywords, the tables and schemas of
// the open connection, and the columns of the tables the statement names.
class completion {
 public:
  // What the commands offer: the command words (client: the backslash forms), the words
  // after a command's word (nullopt where a statement goes on), a table's columns as \d finds
  // them, and the names of the settings and variables.
  struct vocabulary {
    std::function<std::vector<std::wstring>(bool client)> command_words;
    std::function<std::optional<completion_words>(const std::wstring& first, size_t index, const std::wstring& previous)>
        words_after;
    schema_cache::column_lookup find_columns;
    std::function<std::vector<std::wstring>()> setting_names;
  };
  completion(odbc::connection& connection, vocabulary words)
      : connection_(connection), words_(std::move(words)), schema_(connection, words_.find_columns) {}
  std::vector<std::wstring> candidates(const std::wstring& before_cursor, size_t& word_start) {
    return candidates(before_cursor, L"", word_start);
  }
  std::vector<std::wstring> candidates(const std::wstring& before_cursor, const std::wstring& after_cursor,
                                       size_t& word_start);
  // After a line was handled: a new connection, DDL or \refresh fetches the schema again.
  void line_handled(const std::wstring& line);
  // The lines of the statement that the line being typed goes on with ("" for a new one).
  void continues(std::wstring earlier_lines) {
    if (earlier_lines.empty()) ddl_running_ = false;  // the statement ended
    earlier_ = std::move(earlier_lines);
  }

 private:
  std::vector<std::wstring> names(argument_kind kind, const std::wstring& typed);
  std::vector<std::wstring> table_names(const std::wstring& typed);
  std::vector<std::wstring> in_statement(const std::wstring& before, const std::wstring& after, size_t& word_start);

  odbc::connection& connection_;
  vocabulary words_;
  schema_cache schema_;
  bool ddl_running_ = false;  // a line of DDL was typed and its statement has not ended
  std::wstring earlier_;
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
