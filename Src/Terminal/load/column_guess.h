// Column types chosen from text values (a file's records): the narrowest type that holds
// every value seen, widened when a later value needs more.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vela/odbc/type_mapping.h"

namespace vela::terminal {

// What a column's values are, narrowest first.
enum class guessed_kind : uint8_t { none, boolean, integer, bigint, decimal, floating, date, timestamp, text };

// The kind of one value, and its digits before and after the point (integer and decimal).
// A number is one only in the form the database writes it back (no sign "+", no leading
// zero, digits on both sides of a point); a date or a timestamp only on the calendar.
guessed_kind kind_of(std::wstring_view v, uint16_t& whole, uint16_t& scale);

struct column_guess {
  guessed_kind kind = guessed_kind::none;
  uint16_t whole = 0;  // decimal: the most digits before the point
  uint16_t scale = 0;  // and after it
  // Widens the guess to hold value: true when its type changed (an integer's digits are
  // counted too, for a decimal it may become, but they change no type).
  bool take(std::wstring_view value);
  // The same column type as other's.
  bool same_type(const column_guess& other) const;
  // The guess joined with another's.
  void join(const column_guess& other);
  // The column the guess makes (no value seen: text).
  odbc::column_shape shape(const std::wstring& name) const;
  bool operator==(const column_guess&) const = default;
};

// A column of kind from may become to by ALTER with every stored value kept as it reads
// (numbers widen to wider numbers or text); otherwise the table is made again.
bool widens_in_place(const column_guess& from, const column_guess& to);

// A boolean value (true or false in any letter case) as the databases all take it: "1" or "0".
const wchar_t* boolean_text(std::wstring_view v);

} // namespace vela::terminal
