// The library's own names for what crosses its ODBC boundary, so that no user of the library
// needs the driver manager's headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vela::odbc {

// Handles of the driver manager, opaque to the library's users (null when not allocated).
using env_handle = void*;
using dbc_handle = void*;
using stmt_handle = void*;

// Return code of a driver manager call.
using return_code = int16_t;

// Whether connecting may ask for what the connection string leaves out.
enum class completion : uint16_t {
  no_prompt = 0,
  complete = 1,
  prompt = 2,
  complete_required = 3,
};

// The C type a column or value is bound as.
enum class bind_type : int16_t {
  automatic = 0,     // chosen from the column's SQL type
  wide_text = -8,    // UTF-16 text
  narrow_text = 1,   // 8-bit text (UTF-8 from the drivers that deliver it)
  binary = -2,       // bytes
  int32 = 4,
  int16 = -15,
  float32 = 7,
  float64 = 8,
};

// What kind of value a column holds, from its SQL type.
enum class type_class {
  text,       // CHAR, VARCHAR and their wide forms
  number,     // the core numeric types, NUMERIC to DOUBLE
  long_text,  // LONGVARCHAR and its wide form
  binary,     // BINARY, VARBINARY, LONGVARBINARY
  date_time,  // dates, times and timestamps
  other,      // anything else (BIGINT, TINYINT, BIT, GUID, driver types)
};

type_class classify(int32_t sql_type);
// Long and binary values are never bound: they are read in pieces.
bool is_long_or_binary(int32_t sql_type);
// CHAR and WCHAR: the driver pads the value with blanks to the column's size.
bool is_fixed_length_text(int32_t sql_type);
// FLOAT, REAL and DOUBLE: fetched as doubles where the exact value matters.
bool is_floating(int32_t sql_type);
// Room for any text of float_text.
constexpr size_t float_text_size = 32;
// A fetched double of a column of sql_type as the shortest text that reads back to the same
// value (a REAL value that is a 4-byte float: the shortest that reads back to that float);
// infinities and NaN as "Infinity", "-Infinity" and "NaN", which PostgreSQL reads. Returns the
// length written to out.
size_t float_text(double v, int32_t sql_type, char* out);
// The same for a value the driver gave as text (read without the locale); 0 when the text
// is not a number as a whole.
size_t float_text(const char* text, size_t bytes, int32_t sql_type, char* out);
// The printer aligns numbers to the right.
inline bool is_number(int32_t sql_type) { return classify(sql_type) == type_class::number; }

// Length indicators of a value.
constexpr int64_t null_data = -1;  // the value is NULL
constexpr int64_t no_total = -4;   // the driver does not tell the length

} // namespace vela::odbc
