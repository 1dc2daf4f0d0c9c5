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
};
} // namespace string_id
} // namespace vela::blobfile
