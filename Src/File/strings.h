#pragma once

#include "vela/file.h"

namespace vela::blobfile {
// blobfile's numbered strings in English and Russian.
const string_table& strings();

// The numbers of the strings, by what they say.
namespace string_id {
enum : uint32_t {
  banner = 1,
  usage = 2,
  connecting = 3,
  executing_query = 4,
  writing = 5,
  written = 6,
  bytes = 7,
  error = 8,
  unknown_error = 9,
  to = 10,
  to_database = 11,
  skipped_no_file_name = 12,
  no_row_changed = 13,
  control_character_in_name = 14,
  outside_target_folder = 15,
  replaces_row = 16,
  rows_skipped = 17,
  through_link = 18,
  not_plain_text = 19,
  host_refused = 20,
  host_not_target = 21,
  host_target_unknown = 22,
  connected_host = 23,
  no_host_used = 24,
  invalid_host_list = 25,
  reconnected = 26,
  retried_once = 27,
  retried_times = 28,
  conflict_serialization = 29,
  conflict_deadlock = 30,
  conflict_certification = 31,
  conflict_not_prepared = 32,
  conflict_lost_connection = 33,
  invalid_value = 34,
};
} // namespace string_id
} // namespace vela::blobfile
