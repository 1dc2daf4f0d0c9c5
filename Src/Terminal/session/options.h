// sqlterm's run settings and the identity of its current connection.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Terminal/output/formats.h"
#include "vela/odbc/driver_profile.h"
#include "vela/result.h"
#include "vela/textfile.h"

namespace vela::terminal {

// A script to run once connected: a file ("-qf", positional file names) or a "-q" text.
struct script_source {
  std::wstring file;  // empty for a text
  text_file_code_page code_page{auto_code_page, false};
  std::wstring text;
};

struct terminal_options {
  terminal_options() { reset(); }

  std::wstring connection_string;
  bool query_from_stdin = false;
  // In the order given; cut into statements as they run, by the rules of the connection.
  std::vector<script_source> scripts;
  bool data_only = false;
  std::wstring column_delimiter = L" ";
  std::wstring driver;
  std::wstring driver_parameters;
  std::wstring datasource;
  std::wstring user;
  std::vector<std::wstring> script_files;
  // Scripts and exports: stop at the first failure, CSV output, the text shown for NULL,
  // long text and binary columns printed (in padded mode long_column_width places wide).
  bool on_error = false;
  bool csv = false;
  bool null_text_given = false;
  std::wstring null_text;
  bool long_columns = false;
  size_t long_column_width = 255;
  // "-format" ("-csv" gives csv and sets csv as well); at the prompt, results taller than the
  // screen through $PAGER ("-pager").
  // How result rows are printed: the padded or delimited layout, or one of "-format".
  const output_format* format = &default_format();
  bool pager = false;
  bool pager_always = false;  // "-pager:always": through $PAGER however few the lines
  // Standard output holds the rows alone: CSV and every "-format" but the padded layout.
  bool data_apart() const { return csv || format->rows_only; }
  // At the prompt a statement runs once a line ends with ";" (a command at once).
  bool multiline = false;
  // "-border:N": the frame of the aligned layout (0 none, 1 between columns, 2 around too).
  int border = 1;
  // "-x": rows of the table layouts one column a line; automatic: when a row is wider than
  // the terminal.
  enum class expanded_mode : uint8_t { off, on, automatic };
  expanded_mode expanded = expanded_mode::off;
  // "-timing:off": the summary line without the execution time.
  bool timing = true;
  // The start-up file: "-rc:FILE" read instead of the user's sqltermrc, "-norc" none;
  // "-init-rc" writes a commented one and ends.
  std::wstring rc_file;
  bool no_rc = false;
  bool init_rc = false;
  // Loads: rows per batch (0: the database's own, see bulk_insert); "-copy_from" (a source's connection string) with "-into" (the
  // table that the "-q" query's rows go to).
  size_t batch_rows = 0;
  std::wstring copy_from;
  std::wstring copy_into;
  // "-create": the table is made from the query's columns first.
  bool copy_create = false;
  // "-create:replace" drops a table that is there first, "-create:if_not_exists" loads into it.
  enum class table_creation : uint8_t { create, if_not_exists, replace };
  table_creation copy_creation = table_creation::create;
  // Whole tables from "-copy_from": "-tables:a,b" those named ("*": every table of the
  // source's own), "-schema[:NAME]" every table of a schema (none named: the source's own);
  // "-jobs:N" tables copied at once.
  std::wstring copy_tables;
  bool copy_schema_given = false;
  std::wstring copy_schema;
  size_t copy_jobs = 1;
  // "-retry:N": a statement outside a transaction, or a load's batch, that meets a conflict
  // (serialization failure, deadlock, cluster certification) runs again up to N times; not
  // given, statements are not retried and loads retry 3 times.
  bool retry_given = false;
  uint32_t retry = 0;
  uint32_t statement_retries() const { return retry_given ? retry : 0; }
  uint32_t load_retries() const { return retry_given ? retry : 3; }
  bool copies_tables() const { return !copy_tables.empty() || copy_schema_given; }
  // Several hosts: "-hosts:h1,h2:PORT" (in place of the connection string's server), tried in
  // order ("-host_order:random": shuffled) until one is what "-target" asks; "-reconnect": a
  // lost connection is opened again, in scripts too.
  std::wstring hosts;
  odbc::host_target target = odbc::host_target::any;
  bool target_given = false;
  bool random_hosts = false;
  bool reconnect = false;
  // "-v:NAME=VALUE": the variables set at the start, in the order given.
  std::vector<std::pair<std::wstring, std::wstring>> variables;

  // Clears everything but the connection string and the scripts.
  void reset();
  // From the process's arguments. An argument that looks like an option ("-" or "/") and does
  // not parse raises invalid_option; the older positional form is read only when no argument
  // looks like one. Script files that cannot be opened, a bad "-lc" width and a "-cs:@FILE"
  // that is refused raise windows_error.
  void parse_options();
  // argv: the program name first.
  void parse_options(const std::vector<std::wstring>& argv);
  // The older positional syntax over the same arguments (program name first).
  result parse_positional(const std::vector<std::wstring>& argv);
};

// The options that are settings too, by name (option_settings.cpp). Which command names a
// setting: \pset NAME, \set NAME, or a command of its own (\x, \timing).
enum class setting_group : uint8_t { pset, set, own };

// A setting by the name its command gives it ("format", "MULTILINE", "expanded"; letter case
// aside): the value applied to the options, false when the value is not one it takes; nullopt
// for a name of no setting of the group.
std::optional<bool> set_option_value(terminal_options& options, std::wstring_view name, const std::wstring& value,
                                     std::optional<setting_group> group = std::nullopt);
// The value as the setting shows it; nullopt for a name of no setting.
std::optional<std::wstring> option_value(const terminal_options& options, std::wstring_view name);
// The names of a group's settings, in the order they are listed.
std::vector<std::wstring> setting_names(setting_group group);
// "on", "off" and their kin as a switch; nullopt for another word.
std::optional<bool> switch_value(std::wstring_view word);


// What the options give before they are checked (options.cpp).
struct option_values;

// The kind of value an option takes: none ("-csv"), text as typed ("-cs:…"), text with
// escapes ("-cd:\t"), a file name with a code page ("-qf:FILE,CP"), an optional value
// ("-lc" or "-lc:N"), text given as often as wanted ("-v:NAME=VALUE").
enum class value_kind : uint8_t { none, text, escaped_text, file, optional, repeated };

// One command-line option. Parsing reads the table of them; tests check the usage texts,
// the manual page and the shell completion against it.
struct option_entry {
  const wchar_t* names;  // "cs|connection_string": each taken after "-" or "/"
  value_kind value;
  const wchar_t* usage;  // the form the usage text shows
  // Where the value goes: a text, or (value_kind::none) a flag.
  std::wstring* (*text)(option_values& v);
  bool* (*flag)(option_values& v);
  // Checks and applies the value once every argument is read; uses: how often it was given.
  void (*check)(option_values& v, int32_t uses);
};
const std::vector<option_entry>& option_table();

// An argument of the option form that does not parse: only the option's name is kept, never
// its value (a connection string, a password).
class invalid_option : public windows_error {
 public:
  enum class problem { unknown, repeated, stray };
  invalid_option(problem kind, std::wstring option, size_t position);
  problem kind() const { return kind_; }
  // "-nul" for "-nul:x"; empty for an argument that is no option at all.
  const std::wstring& option() const { return option_; }
  // The argument's place, the program name being 0.
  size_t position() const { return position_; }
  // The user's message, from the string table.
  std::wstring message() const;

 private:
  problem kind_;
  std::wstring option_;
  size_t position_;
};

// Appends the statements of a text, each keeping its ";" (statement_scanner says where they
// end); a statement of comments only is left out.
void split_statements(const std::wstring& text, std::vector<std::wstring>& statements);
void read_script_file(const std::wstring& file_name, text_file_code_page code_page,
                      std::vector<std::wstring>& statements);
// Reads a script file a piece at a time; size_hint (0 when unknown) is at least its length
// in characters. A missing file raises file_error.
void read_script_pieces(const std::wstring& file_name, text_file_code_page code_page,
                        const std::function<void(std::wstring_view piece, size_t size_hint)>& sink);
// The same for a script to run: bytes that are not text in the code page are kept as
// U+DC80..U+DCFF (utf.h); decoded_from is the code page the text is decoded from.
using script_piece_sink = std::function<void(std::wstring_view piece, size_t size_hint, int32_t decoded_from)>;
void read_script_keeping_bytes(const std::wstring& file_name, text_file_code_page code_page, const script_piece_sink& sink);
// The statements of all scripts, cut by the generic rules.
std::vector<std::wstring> script_statements(const terminal_options& options);

} // namespace vela::terminal
