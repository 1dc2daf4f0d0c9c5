#include "vela/b_time.h"

#include <gtest/gtest.h>

using namespace vela;

namespace {

b_time make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  b_time t;
  EXPECT_EQ(t.set(y, mo, d, h, mi, s, ms), 0u);
  return t;
}

} // namespace

TEST(BTime, TwoDigitYearsAndLeapDays) {
  b_time t;
  EXPECT_EQ(t.set_date(24, 2, 29), 0u);
  EXPECT_EQ(t.year(), 2024);
  EXPECT_EQ(t.month(), 2);
  EXPECT_EQ(t.day(), 29);
  EXPECT_EQ(t.set_date(99, 1, 1), 0u);
  EXPECT_EQ(t.year(), 1999);
  EXPECT_EQ(t.set_date(80, 1, 1), 0u);
  EXPECT_EQ(t.year(), 1980);
  EXPECT_EQ(t.set_date(79, 1, 1), 0u);
  EXPECT_EQ(t.year(), 2079);  // beyond the year table
  EXPECT_EQ(t.month(), 1);
  EXPECT_EQ(t.day(), 1);
  EXPECT_EQ(t.set_date(2000, 2, 29), 0u);  // divisible by 400
  EXPECT_EQ(t.set_date(1900, 2, 29), dtrWrongDay);
  EXPECT_EQ(t.set_date(2023, 2, 29), dtrWrongDay);
  EXPECT_EQ(t.set_date(1600, 1, 1), dtrWrongYear);
  EXPECT_EQ(t.set_date(2023, 13, 1), dtrWrongMonth);
  EXPECT_EQ(t.set_date(2023, 4, 31), dtrWrongDay);
  EXPECT_EQ(t.year(), 2000);  // failures leave the value alone
  EXPECT_EQ(make(2023, 12, 31).day(), 31);
  EXPECT_EQ(make(2024, 12, 31).month(), 12);
}

TEST(BTime, EpochAndUnsetValues) {
  b_time epoch(0, 0, 0, 0, 0);
  EXPECT_EQ(epoch.year(), 1601);
  EXPECT_EQ(epoch.month(), 1);
  EXPECT_EQ(epoch.day(), 1);
  EXPECT_STREQ(epoch.to_text().c_str(), "");
  EXPECT_TRUE(epoch.valid().succeeded());
  EXPECT_EQ(make(1601, 1, 1).value(), 0.0);

  b_time unset;
  const result v = unset.valid();
  EXPECT_EQ(v.code(), 87u);
  EXPECT_EQ(v.severity(), 3);
  EXPECT_EQ(unset.year(), 1600);
  EXPECT_EQ(unset.month(), 12);
  EXPECT_EQ(unset.day(), 31);
  EXPECT_EQ(unset.hour() + unset.minute() + unset.second() + unset.millisecond(), 0);
  EXPECT_EQ(unset.format(L"yyyy"), L"");
  EXPECT_TRUE(unset != epoch);
  EXPECT_FALSE(bt_unset.is_set());
}

TEST(BTime, TimeLimitsAndMillisecondRounding) {
  b_time t;
  EXPECT_EQ(t.set_time(24, 0, 0, 0), dtrWrongHour);
  EXPECT_EQ(t.set_time(0, 60, 0, 0), dtrWrongMinute);
  EXPECT_EQ(t.set_time(0, 0, 60, 0), dtrWrongSec);
  EXPECT_EQ(t.set_time(0, 0, 0, 1000), dtrWrongMSec);
  EXPECT_EQ(t.set_time(-1, 0, 0, 0), dtrWrongHour);
  EXPECT_EQ(t.set_time(0, 0, 0, -1), dtrWrongMSec);
  EXPECT_FALSE(t.is_set());
  EXPECT_EQ(t.set_time(23, 59, 59, 999), 0u);
  EXPECT_EQ(t.year(), 1601);  // a time on an unset value lands on day 0
  EXPECT_EQ(t.hour(), 23);
  EXPECT_EQ(t.minute(), 59);
  EXPECT_EQ(t.second(), 59);
  EXPECT_EQ(t.millisecond(), 999);
  // Every millisecond of a day reads back exactly on a date far from the epoch.
  b_time d = make(2026, 12, 7);
  for (int ms = 0; ms < 1000; ms += 7) {
    ASSERT_EQ(d.set_time(13, 14, 15, ms), 0u);
    ASSERT_EQ(d.millisecond(), ms);
    ASSERT_EQ(d.second(), 15);
  }
}

TEST(BTime, SetDateKeepsTimeOfDayAndSetKeepsDateOnTimeFailure) {
  b_time t = make(2020, 5, 6, 7, 8, 9, 10);
  EXPECT_EQ(t.set_date(2021, 1, 2), 0u);
  EXPECT_EQ(t.hour(), 7);
  EXPECT_EQ(t.millisecond(), 10);
  EXPECT_EQ(t.set(2022, 3, 4, 25, 0, 0, 0), dtrWrongHour);
  EXPECT_EQ(t.year(), 2022);
  EXPECT_EQ(t.hour(), 7);
}

TEST(BTime, FormatPasses) {
  const b_time t = make(2017, 4, 5, 9, 8, 7, 6);
  EXPECT_EQ(t.format(L"dd.MM.yyyy HH:mm:ss.ii"), L"05.04.2017 09:08:07.006");
  EXPECT_EQ(t.format(L"yyyyMMdd-HHmmssii"), L"20170405-090807006");
  EXPECT_EQ(t.format(L"yyyy-MM-dd HH:mm:ss"), L"2017-04-05 09:08:07");
  EXPECT_EQ(t.format(L"d.M.yy y H:m:s i h tt"), L"5.4.17 17 9:8:7 6 9 AM");
  EXPECT_EQ(t.format(L"'it is' HH 'o''clock'"), L"it is 09 o'clock");
  EXPECT_EQ(t.format(L"''"), L"'");
  EXPECT_EQ(t.format(L"'dd mm ii'"), L"dd mm ii");
  EXPECT_STREQ(t.to_text().c_str(), "2017-04-05 09:08:07");
  const b_time pm = make(2017, 4, 5, 0, 30);
  EXPECT_EQ(pm.format(L"hh:mm t"), L"12:30 A");
}

TEST(BTime, NamesAreNotReadAsPictures) {
  // Each name below holds letters of the time pictures (h, m, s, t) or of "i".
  const b_time friday = make(2017, 4, 7, 21, 5, 9, 42);
  EXPECT_EQ(friday.format(L"dddd"), L"Friday");
  EXPECT_EQ(friday.format(L"MMMM"), L"April");
  EXPECT_EQ(friday.format(L"ddd, d MMM yyyy HH:mm:ss.ii tt"), L"Fri, 7 Apr 2017 21:05:09.042 PM");
  EXPECT_EQ(make(2017, 8, 3).format(L"dddd d MMMM"), L"Thursday 3 August");
  EXPECT_EQ(make(2017, 9, 2).format(L"dddd, MMMM"), L"Saturday, September");
  EXPECT_EQ(make(2017, 12, 5).format(L"dddd MMMM"), L"Tuesday December");
  EXPECT_EQ(make(2017, 3, 6).format(L"dddd MMMM"), L"Monday March");
  EXPECT_EQ(make(2017, 3, 8).format(L"ddd/dddd/ddd"), L"Wed/Wednesday/Wed");
  // Quoted text beside a name keeps its quotes' meaning.
  EXPECT_EQ(friday.format(L"dddd'th' MMMM''"), L"Fridayth April'");
  EXPECT_EQ(friday.format(L"'dddd' dddd"), L"dddd Friday");
}

TEST(BTime, NowIsRecent) {
  const b_time n = b_time::now();
  EXPECT_TRUE(n.valid().succeeded());
  EXPECT_GE(n.year(), 2024);
}
