// The platform seam: the only place where the library calls the operating system.
// One implementation per platform lives below os/<platform>/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vela::os {

// ---- error numbers ---------------------------------------------------------
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
  err_sharing_violation = 32,
  err_handle_eof = 38,
  err_not_supported = 50,
  err_file_exists = 80,
  err_invalid_parameter = 87,
  err_disk_full = 112,
  err_filename_too_long = 206,
  err_more_data = 234,
  err_no_unicode_translation = 1113,
  err_cancelled = 1223,
  err_already_initialized = 1247,
  err_internal_error = 1359,
};

// errno value -> Windows error number (one table).
uint32_t error_from_errno(int e);
// The current errno, translated.
uint32_t last_error();

// Short description of a system error code in the user's language; empty for unknown codes.
std::wstring system_message(uint32_t code);

// True when the user's language (LC_ALL, LC_MESSAGES, LANG: first set and non-empty) is Russian.
bool russian_ui();

// ---- time ------------------------------------------------------------------
// Milliseconds of a monotonic clock, truncated to 32 bits.
uint32_t tick_count();

struct local_time {
  int year = 0, month = 0, day = 0, day_of_week = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
local_time now_local();
// Seconds + nanoseconds since the Unix epoch, in local calendar fields.
local_time to_local(int64_t unix_seconds, long nanoseconds);

// ---- code pages ------------------------------------------------------------
// The 8-bit code pages of the user's language (1251/1250/1252 and 866/852/437).
unsigned ansi_code_page();
unsigned oem_code_page();

// Converts bytes in the given code page (0 ANSI, 1 OEM, any number iconv knows) to wide text.
// strict: fail on invalid input (code 1113); otherwise invalid bytes become U+FFFD.
// Returns 0 or an error code (87 for an unknown code page).
uint32_t to_wide(unsigned code_page, std::string_view bytes, std::wstring& out, bool strict);
// Converts wide text to the given code page. With strict, a character the code page
// cannot hold fails with 1113; otherwise it is written as "?".
uint32_t from_wide(unsigned code_page, std::wstring_view text, std::string& out, bool strict);

} // namespace vela::os

namespace vela::os {
// The real size of a block from malloc/realloc.
size_t heap_block_size(void* p);
} // namespace vela::os
