// The functions the command table runs, one family a file, and the small word helpers they
// share. Only the commands room includes this.
#pragma once

#include <string>

#include "vela/result.h"

namespace vela::terminal {

// Declared by the table (command_table.h), which includes this header's functions by name.
class terminal_context;
class command_host;
class TOdbcHndlrCmd;
struct completion_words;

// connection_commands.cpp: CONNECT, DISCONNECT, \c, \conninfo.
result run_connect(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_disconnect(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_reconnect(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_conninfo(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
completion_words connect_words(size_t index, const std::wstring& previous);

// listing_commands.cpp: LIST and the \d family (\d, \dt, \dv, \di, \dn, \df).
result run_list(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_describe(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
completion_words list_words(size_t index, const std::wstring& previous);

// script_commands.cpp: \i and its kin, \copy, and the commands accepted as they are.
result run_include(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_copy(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_nothing(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
// \copy TABLE FROM|TO FILE: a table, the direction, a file.
completion_words copy_words(size_t index, const std::wstring& previous);
// on or off, for the first argument.
completion_words on_off_words(size_t index, const std::wstring& previous);

// buffer_commands.cpp: \o, \g, \gx, \gset, \watch, \e, \r, \p.
result run_output(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_go(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_gset(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_watch(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_edit(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_reset(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_print(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);

// setting_commands.cpp: \set, \unset, \pset, \x, \timing, \encoding.
result run_set(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_unset(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_pset(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_expanded(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_timing(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_encoding(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
completion_words set_words(size_t index, const std::wstring& previous);
completion_words pset_words(size_t index, const std::wstring& previous);

// session_commands.cpp: EXIT and \q, HELP, \?, \s.
result run_exit(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_help(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_client_help(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
result run_history(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);
completion_words help_words(size_t index, const std::wstring& previous);

// conditional_commands.cpp: \if, \elif, \else, \endif.
result run_conditional(terminal_context& ctx, command_host& host, const TOdbcHndlrCmd& cmd);

// The word begins with prefix, in any letter case.
bool starts_nocase(const std::wstring& s, const wchar_t* prefix);
// Without the double quotes at its ends.
std::wstring unquoted(std::wstring s);
// An argument of a client command without the quotes around it.
std::wstring command_argument(std::wstring s);

} // namespace vela::terminal
