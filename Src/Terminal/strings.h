#pragma once

#include "vela/file.h"
#include "vela/format.h"

namespace vela::terminal {
// sqlterm's numbered strings in English and Russian.
const string_table& strings();

// The numbers of the strings, by what they say.
namespace string_id {
enum : uint32_t {
  usage = 1,
  banner = 2,
  internal_error = 3,
  command_failed = 4,
  unknown_command = 103,
  connected_to_driver = 104,
  disconnected_from_driver = 105,
  driver_connection_failed = 106,
  not_connected = 107,
  connect_help = 108,
  execution_time = 109,
  rows_selected = 110,
  no_rows_selected = 111,
  unknown_parameter = 112,
  parameter_missing = 113,
  list_help = 114,
  number_of_drivers = 115,
  driver_list = 116,
  user_datasource_list = 117,
  system_datasource_list = 118,
  no_user_datasources = 119,
  no_system_datasources = 120,
  number_of_datasources = 121,
  exit_help = 122,
  datasource_user_connection_failed = 123,
  connected_to_datasource_user = 124,
  disconnected_from_datasource = 125,
  connected_to_datasource = 126,
  datasource_connection_failed = 127,
  help_help = 128,
  rows_affected = 129,
  no_rows_affected = 130,
  connected_to = 131,
  connection_failed = 132,
  disconnected_from = 133,
  statement_not_ended = 134,
  column_left_out = 135,
  version = 136,
  client_command_not_supported = 137,
  copy_not_supported = 138,
  script_nested_too_deep = 139,
  script_includes_itself = 140,
  driver_not_returning = 141,
  invalid_option = 142,
  repeated_option = 143,
  not_an_option = 144,
  usage_hint = 145,
  history_folder_not_private = 146,
  table_not_found = 148,
  rows_loaded = 149,
  row_not_loaded = 150,
  copy_not_started = 151,
  copy_progress = 152,
  copy_value_count = 153,
  copy_open_quote = 154,
  rows_written = 155,
  copy_not_started_here = 156,
  big_result_hint = 157,
  rows_loaded_skipped = 158,
  copy_bad_header = 159,
  copy_connection_lost = 160,
  copy_batch_not_committed = 161,
  copy_batch_unknown = 162,
  copy_batch = 163,
  copy_no_batch = 164,
  transaction_rolled_back = 165,
  bytes_not_sendable = 166,
  client_commands_heading = 170,
  describe_list_line = 171,
  tables_list_line = 172,
  reconnect_list_line = 173,
  include_list_line = 174,
  timing_list_line = 175,
  quit_list_line = 176,
  client_help_list_line = 177,
  commands_list_line = 178,
  conninfo_list_line = 179,
  format_names_joint = 180,  // before the last format name of the usage text
  copy_list_line = 181,
  restrict_list_line = 182,
  copy_resume = 183,
  still_connected_to = 200,
  describe_title = 240,
  describe_indexes = 241,
  describe_foreign_keys = 242,
  describe_checks = 243,
  views_list_line = 244,
  indexes_list_line = 245,
  schemas_list_line = 246,
  routines_list_line = 247,
  describe_help = 248,
  tables_help = 249,
  views_help = 250,
  indexes_help = 251,
  schemas_help = 252,
  routines_help = 253,
  refresh_list_line = 320,
};
} // namespace string_id
// A string of the table, and one with its %-fields filled in.
inline std::wstring str(uint32_t id) { return load_string(nullptr, id); }
template <typename... Args>
std::wstring message(uint32_t id, Args... args) {
  return wformat(str(id).c_str(), args...);
}

} // namespace vela::terminal
