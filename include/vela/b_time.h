// Date and time as days since 1601-01-01 (local time) in one double; -1.0 is unset.
#pragma once

#include <cstdint>
#include <string>

#include "vela/base.h"
#include "vela/bstr.h"
#include "vela/result.h"

namespace vela {

enum : uint32_t {
  dtrInvalidDateFormat = 0x20000101,
  dtrInvalidTimeFormat = 0x20000102,
  dtrWrongYear = 0x20000103,
  dtrWrongMonth = 0x20000104,
  dtrWrongDay = 0x20000105,
  dtrWrongHour = 0x20000106,
  dtrWrongMinute = 0x20000107,
  dtrWrongSec = 0x20000108,
  dtrWrongMSec = 0x20000109,
};

class time_base : public base {
 public:
  virtual uint32_t set(int year, int month, int day, int hour, int minute, int second, int millisecond) = 0;
  virtual Str to_text() const = 0;
  virtual result valid() const = 0;
  virtual uint16_t year() const = 0;
  virtual uint16_t month() const = 0;
  virtual uint16_t day() const = 0;
  virtual uint16_t hour() const = 0;
  virtual uint16_t minute() const = 0;
  virtual uint16_t second() const = 0;
  virtual uint16_t millisecond() const = 0;
};

// One entry of the year table.
struct TBTmYr {
  int16_t year = 0;
  int32_t days = 0;  // days from 1601-01-01 to 1 January of the year
};

class b_time : public time_base {
 public:
  static constexpr double unset = -1.0;
  static constexpr uint32_t default_locale = 0x400;

  b_time();
  b_time(uint32_t days, int8_t hour, int8_t minute, int8_t second, int16_t millisecond);
  static b_time now();

  uint32_t set(int year, int month, int day, int hour, int minute, int second, int millisecond) override;
  Str to_text() const override;
  result valid() const override;
  uint16_t year() const override;
  uint16_t month() const override;
  uint16_t day() const override;
  uint16_t hour() const override;
  uint16_t minute() const override;
  uint16_t second() const override;
  uint16_t millisecond() const override;

  uint32_t set_date(int year, int month, int day);
  // Parts are 8-bit (milliseconds 16-bit) as stored; out-of-range values are refused.
  uint32_t set_time(int hour, int minute, int second, int millisecond);
  uint32_t set_now();

  // Pictures: yyyy yy y MM M MMM MMMM dd d ddd dddd HH H hh h mm m ss s tt t ii i, and 'quoted' text.
  std::wstring format(const std::wstring& pattern, uint32_t locale = default_locale) const;

  double value() const { return value_; }
  bool is_set() const { return value_ != unset; }
  bool operator!=(const b_time& other) const { return value_ != other.value_; }
  bool operator==(const b_time& other) const { return value_ == other.value_; }

  struct parts {
    int year, month, day, hour, minute, second, millisecond, day_of_week;
  };
  parts split() const;

 private:
  double value_ = unset;
};

// Registers the date and time codes and builds the year table, once per process.
void init_date_time();

namespace {
// Every translation unit holds these; their construction registers the date and time
// codes before any entry point runs.
const b_time bt_unset;
const b_time bt_epoch(0, 0, 0, 0, 0);
} // namespace

} // namespace vela
