// The terminal's commands, keyword (CONNECT, LIST ...) and client (\d, \c ...) alike, in one
// table: their words, HELP texts, \? lines, completion words and the functions that run them.
// Dispatch, HELP, \? and Tab completion all read it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Terminal/input/prompt.h"
#include "Terminal/input/sql_split.h"
#include "Terminal/session/context.h"
#include "vela/code_page.h"
#include "vela/result.h"

namespace vela::terminal {

struct command_entry;

// What the commands ask of the handler: connecting, the catalog listings, scripts, \copy.
class command_host {
 public:
  virtual result connect_by_string(const std::wstring& connection_string) = 0;
  virtual result connect_by_driver(const std::wstring& parameters, const std::wstring& driver) = 0;
  virtual result connect_by_datasource(const std::wstring& datasource, const std::wstring& user,
                                       const std::wstring& password) = 0;
  virtual result close_connection() = 0;
  // \connect: the same connection, to another database.
  virtual result reconnect_to_database(const std::wstring& database) = 0;
  // The catalog listings (empty filters list everything).
  virtual result list_tables(const std::wstring& catalog, const std::wstring& table) = 0;
  virtual result list_columns(const std::wstring& catalog, const std::wstring& table) = 0;
  // The script files being run, outermost first, and one more run in place.
  virtual const std::vector<std::wstring>& open_scripts() const = 0;
  virtual bool run_script_file(const std::wstring& name, text_file_code_page code_page) = 0;
  // \copy with its arguments; reports and notes its own failures.
  virtual void copy_command_line(const std::wstring& rest, const std::wstring& where, size_t line) = 0;
  // A statement run as if typed (\g, \watch); reports and notes its own failure.
  virtual result run_statement(const std::wstring& statement) = 0;

 protected:
  ~command_host() = default;
};

// A command as it runs: the word that named it, its help text, the line's tokens and where
// the line came from.
class TOdbcHndlrCmd {
 public:
  TOdbcHndlrCmd(const command_entry* entry, std::wstring keyword, std::wstring help_text)
      : entry(entry), keyword(std::move(keyword)), help_text(std::move(help_text)) {}
  // Token i of the line (0 is the command word), split at spaces outside double quotes,
  // with the quotes at its ends removed; empty when there is no such token.
  std::wstring parameter(size_t i) const { return token(line, i); }
  static std::wstring token(std::wstring_view line, size_t i);
  // Typed at the prompt, not read from a script.
  bool at_prompt() const { return where.empty(); }

  const command_entry* entry;
  std::wstring keyword;  // as the table spells it, or a client command's word as typed
  std::wstring help_text;
  std::wstring line;     // keyword commands: the line; client commands: the item's text
  std::wstring rest;     // client commands: what follows the word, trimmed
  std::wstring where;    // the script ("-q" for a -q text); empty at the prompt
  size_t line_number = 0;
};

using command_function = result (*)(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);

// One command. A keyword form is matched in any letter case, a client form as typed (MySQL's
// "source" in any case).
struct command_entry {
  std::vector<std::wstring_view> keywords{};  // the first names the command; the others are aliases
  std::vector<std::wstring_view> client_forms{};  // "\x" words, at the start of a statement
  std::vector<std::wstring_view> arguments{};     // what may follow the keyword, a line a form
  uint32_t help_id = 0;  // HELP <keyword>; 0: the keyword is its own help
  uint32_t list_id = 0;  // its lines in the \? list; 0: not listed
  bool whole_line = false;  // the keyword form takes its line whole (a password may end with ";")
  bool break_before = false;  // in a script, a blank line goes before the client form's output
  bool conditional = false;  // runs in a branch of \if that does not run (\if, \elif, \else, \endif)
  // What Tab offers for the first argument; next_words, when given, decides instead for each
  // argument (index 0 the first) after the word before it.
  argument_kind completes = argument_kind::none;
  completion_words (*next_words)(size_t index, const std::wstring& previous) = nullptr;
  command_function run = nullptr;
};
const std::vector<command_entry>& command_table();

// The keyword command the line's first word names; null for any other line.
const command_entry* keyword_command(std::wstring_view line);
// The command of a client command word ("\d+", "source"); null when there is none.
const command_entry* client_command(std::wstring_view word);
// The line is a client command: it starts with "\" (or with MySQL's "source").
bool is_client_command(std::wstring_view line, odbc::script_dialect dialect);

// A line typed at the prompt (or a keyword command's line from a script) that is a command:
// run; nullopt for any other line.
std::optional<result> run_command_line(terminal_context& ctx, command_host& host, const std::wstring& line);
// A keyword command's line, typed or from a script: its failure reported and noted.
result run_keyword_command(terminal_context& ctx, command_host& host, const command_entry& entry,
                           const std::wstring& line);
// A client command of a script (where: its name, item.line its line), or typed at the
// prompt (where empty).
result run_client_command(terminal_context& ctx, command_host& host, const script_item& item,
                          const std::wstring& where);

// HELP's line of the keyword commands, \? text, and HELP's text of one command.
std::wstring command_names();
std::wstring client_commands_help();
const command_entry* help_entry(const std::wstring& keyword);
std::wstring help_text(const command_entry& entry);

// Tab completion: the words that start a command (client forms when client), and the words
// after a command's word (nullopt when first names none).
std::vector<std::wstring> command_words(bool client);
std::optional<completion_words> words_after(const std::wstring& first, size_t index, const std::wstring& previous);

} // namespace vela::terminal
