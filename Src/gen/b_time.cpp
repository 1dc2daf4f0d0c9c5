#include "vela/b_time.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "os/os.h"
#include "vela/containers.h"
#include "vela/format.h"

namespace vela {

namespace {

constexpr int first_year = 1601;
constexpr double ms_per_day = 86400000.0;

// Constant-initialised so that no static-initialisation order matters.
bool codes_registered = false;
Array<TBTmYr>* year_table = nullptr;

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int year_length(int y) { return leap(y) ? 366 : 365; }
int month_length(int y, int m) {
  static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : lengths[m - 1];
}

void register_codes() {
  struct entry {
    uint32_t code;
    const wchar_t* en;
    const wchar_t* ru;
  };
  static const entry entries[] = {
      {dtrInvalidDateFormat, L"Format error (no character separates the parts of the date).",
       L"Ошибка в формате (не найден символ, разделяющий компоненты даты)."},
      {dtrInvalidTimeFormat, L"Format error (no character separates the parts of the time).",
       L"Ошибка в формате (не найден символ, разделяющий компоненты времени)."},
      {dtrWrongYear, L"Wrong year.", L"Ошибка в номере года."},
      {dtrWrongMonth, L"Wrong number of months.", L"Ошибка в числе месяцев."},
      {dtrWrongDay, L"Wrong number of days.", L"Ошибка в числе дней."},
      {dtrWrongHour, L"Wrong number of hours.", L"Ошибка в числе часов."},
      {dtrWrongMinute, L"Wrong number of minutes.", L"Ошибка в числе минут."},
      {dtrWrongSec, L"Wrong number of seconds.", L"Ошибка в числе секунд."},
      {dtrWrongMSec, L"Wrong number of milliseconds.", L"Ошибка в числе миллисекунд."},
  };
  // In the user's language, chosen once for the process.
  const bool ru = os::russian_ui();
  for (const auto& e : entries) {
    if (!RegisterError(e.code, ru ? e.ru : e.en))
      throw wexception(L"date and time error code registered twice: " + std::to_wstring(e.code));
  }
}

void build_year_table() {
  const int last = os::now_local().year;
  auto* table = new Array<TBTmYr>(static_cast<uint32_t>(last >= first_year ? last - first_year + 1 : 1));
  int32_t days = 0;
  for (uint32_t i = 0; i < table->size(); ++i) {
    (*table)[i].year = static_cast<int16_t>(first_year + static_cast<int>(i));
    (*table)[i].days = days;
    days += year_length(first_year + static_cast<int>(i));
  }
  year_table = table;
}

int64_t days_before_year(int y) {
  const auto& t = *year_table;
  const int idx = y - first_year;
  if (idx >= 0 && static_cast<uint32_t>(idx) < t.size()) return t[static_cast<uint32_t>(idx)].days;
  const TBTmYr& last = t[t.size() - 1];
  int64_t days = last.days;
  for (int yy = last.year; yy < y; ++yy) days += year_length(yy);
  return days;
}

// ---- the picture passes ----------------------------------------------------

constexpr const wchar_t* day_names[] = {L"Sunday", L"Monday", L"Tuesday", L"Wednesday",
                                        L"Thursday", L"Friday", L"Saturday"};
constexpr const wchar_t* month_names[] = {L"January", L"February", L"March",     L"April",
                                          L"May",     L"June",     L"July",      L"August",
                                          L"September", L"October", L"November", L"December"};

// Noncharacters U+FDD0..U+FDEF never occur in text: they stand for inserted names.
constexpr wchar_t name_marker = 0xFDD0;

std::wstring number(int v, int digits) { return wformat(L"%0*d", digits, v); }

// Expands runs of the given picture letters; quoted text is copied without its quotes
// ('' stands for one quote, inside and outside quotes).
template <typename Render>
std::wstring picture_pass(const std::wstring& s, const wchar_t* letters, Render render) {
  std::wstring out;
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    const wchar_t c = s[i];
    if (c == L'\'') {
      if (i + 1 < n && s[i + 1] == L'\'') {
        out += L'\'';
        i += 2;
        continue;
      }
      for (++i; i < n; ++i) {
        if (s[i] != L'\'') {
          out += s[i];
        } else if (i + 1 < n && s[i + 1] == L'\'') {
          out += L'\'';
          ++i;
        } else {
          ++i;
          break;
        }
      }
      continue;
    }
    if (std::wstring_view(letters).find(c) != std::wstring_view::npos) {
      size_t run = 1;
      while (i + run < n && s[i + run] == c) ++run;
      out += render(c, static_cast<int>(run));
      i += run;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

// "ii" and "i" become milliseconds; quoted stretches are passed over when there are quotes.
std::wstring millisecond_pass(const std::wstring& s, int ms) {
  const bool quoted = s.find(L'\'') != std::wstring::npos;
  std::wstring out;
  const std::wstring three = number(ms, 3), plain = std::to_wstring(ms);
  for (size_t i = 0; i < s.size();) {
    if (quoted && s[i] == L'\'') {
      const size_t close = s.find(L'\'', i + 1);
      const size_t end = close == std::wstring::npos ? s.size() : close + 1;
      out.append(s, i, end - i);
      i = end;
    } else if (s.compare(i, 2, L"ii") == 0) {
      out += three;
      i += 2;
    } else if (s[i] == L'i') {
      out += plain;
      ++i;
    } else {
      out += s[i++];
    }
  }
  return out;
}

} // namespace

void init_date_time() {
  if (!codes_registered) {
    register_codes();
    codes_registered = true;
  }
  if (!year_table) build_year_table();
}

b_time::b_time() { init_date_time(); }

b_time::b_time(uint32_t days, int8_t hour, int8_t minute, int8_t second, int16_t millisecond) {
  init_date_time();
  value_ = days;
  set_time(hour, minute, second, millisecond);
}

b_time b_time::now() {
  b_time t;
  t.set_now();
  return t;
}

uint32_t b_time::set(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  if (const uint32_t rc = set_date(year, month, day)) return rc;
  return set_time(hour, minute, second, millisecond);
}

uint32_t b_time::set_date(int year, int month, int day) {
  if (year >= 0 && year < 80) year += 2000;
  else if (year >= 80 && year <= 99) year += 1900;
  if (year <= 1600 || year > 30827) return dtrWrongYear;
  if (month < 1 || month > 12) return dtrWrongMonth;
  if (day < 1 || day > month_length(year, month)) return dtrWrongDay;
  int64_t days = days_before_year(year);
  for (int m = 1; m < month; ++m) days += month_length(year, m);
  days += day - 1;
  const double fraction = value_ - std::floor(value_);
  value_ = static_cast<double>(days) + fraction;
  return 0;
}

uint32_t b_time::set_time(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23) return dtrWrongHour;
  if (minute < 0 || minute > 59) return dtrWrongMinute;
  if (second < 0 || second > 59) return dtrWrongSec;
  if (millisecond < 0 || millisecond > 999) return dtrWrongMSec;
  const double day = valid().succeeded() ? std::floor(value_) : 0.0;
  value_ = day + ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + millisecond) / ms_per_day;
  return 0;
}

uint32_t b_time::set_now() {
  const os::local_time lt = os::now_local();
  set_date(lt.year, lt.month, lt.day);
  return set_time(lt.hour, lt.minute, lt.second, lt.millisecond);
}

b_time::parts b_time::split() const {
  parts p{1600, 12, 31, 0, 0, 0, 0, 0};
  if (!is_set()) return p;
  const double whole = std::floor(value_);
  const auto days = static_cast<int64_t>(whole);
  // Year: the table first, then year by year beyond it.
  const auto& t = *year_table;
  uint32_t lo = 0, hi = t.size() - 1;
  while (lo < hi) {
    const uint32_t mid = (lo + hi + 1) / 2;
    if (t[mid].days <= days) lo = mid;
    else hi = mid - 1;
  }
  int y = t[lo].year;
  int64_t start = t[lo].days;
  while (start + year_length(y) <= days) start += year_length(y++);
  int m = 1;
  while (m < 12 && start + month_length(y, m) <= days) start += month_length(y, m++);
  p.year = y;
  p.month = m;
  p.day = static_cast<int>(days - start) + 1;
  p.day_of_week = static_cast<int>((days + 1) % 7);  // 1601-01-01 was a Monday
  auto ms = static_cast<int64_t>(std::round((value_ - whole) * ms_per_day));
  if (ms >= 86400000) ms = 86399999;
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms % 3600000 / 60000);
  p.second = static_cast<int>(ms % 60000 / 1000);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

uint16_t b_time::year() const { return static_cast<uint16_t>(split().year); }
uint16_t b_time::month() const { return static_cast<uint16_t>(split().month); }
uint16_t b_time::day() const { return static_cast<uint16_t>(split().day); }
uint16_t b_time::hour() const { return static_cast<uint16_t>(split().hour); }
uint16_t b_time::minute() const { return static_cast<uint16_t>(split().minute); }
uint16_t b_time::second() const { return static_cast<uint16_t>(split().second); }
uint16_t b_time::millisecond() const { return static_cast<uint16_t>(split().millisecond); }

result b_time::valid() const {
  if (value_ != unset) return result();
  return failure(87);
}

Str b_time::to_text() const {
  Str s;
  if (value_ <= 0) return s;
  const parts p = split();
  s.format("%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return s;
}

std::wstring b_time::format(const std::wstring& pattern, uint32_t) const {
  if (!is_set()) return {};
  const parts p = split();
  // Quotes survive the date pass: ' becomes ''' and '' becomes ''''.
  std::wstring s;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != L'\'') {
      s += pattern[i];
    } else if (i + 1 < pattern.size() && pattern[i + 1] == L'\'') {
      s += L"''''";
      ++i;
    } else {
      s += L"'''";
    }
  }
  // Day and month names hold picture letters of the later passes ("Friday", "August"): each
  // is left as a marker that no pass touches and put in at the end.
  std::vector<std::wstring> names;
  auto protect = [&names](std::wstring name) {
    size_t k = 0;
    while (k < names.size() && names[k] != name) ++k;  // at most four different names
    if (k == names.size()) names.push_back(std::move(name));
    return std::wstring(1, static_cast<wchar_t>(name_marker + k));
  };
  s = picture_pass(s, L"dMy", [&](wchar_t c, int run) -> std::wstring {
    switch (c) {
      case L'd':
        if (run <= 2) return number(p.day, run);
        return protect(run == 3 ? std::wstring(day_names[p.day_of_week], 3) : day_names[p.day_of_week]);
      case L'M':
        if (run <= 2) return number(p.month, run);
        return protect(run == 3 ? std::wstring(month_names[p.month - 1], 3) : month_names[p.month - 1]);
      default:
        if (run == 1) return std::to_wstring(p.year % 100);
        if (run == 2) return number(p.year % 100, 2);
        return number(p.year, 4);
    }
  });
  s = millisecond_pass(s, p.millisecond);
  s = picture_pass(s, L"hHmst", [&](wchar_t c, int run) -> std::wstring {
    const int digits = run >= 2 ? 2 : 1;
    switch (c) {
      case L'h': return number(p.hour % 12 == 0 ? 12 : p.hour % 12, digits);
      case L'H': return number(p.hour, digits);
      case L'm': return number(p.minute, digits);
      case L's': return number(p.second, digits);
      default: return run >= 2 ? std::wstring(p.hour < 12 ? L"AM" : L"PM") : std::wstring(p.hour < 12 ? L"A" : L"P");
    }
  });
  if (names.empty()) return s;
  std::wstring out;
  for (wchar_t c : s) {
    const size_t k = static_cast<size_t>(c) - name_marker;
    if (c >= name_marker && k < names.size()) out += names[k];
    else out += c;
  }
  return out;
}

} // namespace vela
