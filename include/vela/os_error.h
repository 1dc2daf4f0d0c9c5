// The error numbers the library and its programs report: results, exit statuses.
#pragma once

#include <cstdint>

namespace vela::os {

// The library speaks the Windows error numbers everywhere.
enum : uint32_t {
  err_success = 0,
  err_invalid_function = 1,
  err_file_not_found = 2,
  err_path_not_found = 3,
  err_too_many_open_files = 4,
  err_access_denied = 5,
  err_invalid_handle = 6,
  err_not_enough_memory = 8,
  err_invalid_data = 13,
  err_write_protect = 19,
  err_write_fault = 29,
  err_sharing_violation = 32,
  err_handle_eof = 38,
  err_not_supported = 50,
  err_file_exists = 80,
  err_invalid_parameter = 87,
  err_broken_pipe = 109,
  err_invalid_name = 123,
  err_disk_full = 112,
  err_filename_too_long = 206,
  err_file_too_large = 223,
  err_more_data = 234,
  err_no_unicode_translation = 1113,
  err_not_found = 1168,
  err_cancelled = 1223,
  err_already_initialized = 1247,
  err_internal_error = 1359,
};

} // namespace vela::os
