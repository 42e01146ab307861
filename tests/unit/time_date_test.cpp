// time! and date!: text forms, construction, fields by path and pick, the
// calendar and the arithmetic of both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/date.h"
#include "datatypes/time.h"
#include "literal_helpers.h"
#include "runtime/upcalls.h"

namespace kel {
namespace {

using namespace literal_testing;

class TimeTest : public LiteralTest {};
class DateTest : public LiteralTest {};

Cell Tm(double seconds) { return time_type::make(seconds); }

Cell D(int32_t year, int32_t month, int32_t day) {
  Cell cell = make_cell(TYPE_UNSET);
  return *date::set_cell(&cell, year, month, day, 0.0, 0, 0, false);
}
Cell DT(int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours = 0, int32_t zone_minutes = 0) {
  Cell cell = make_cell(TYPE_UNSET);
  return *date::set_cell(&cell, year, month, day, time, zone_hours, zone_minutes, true);
}
constexpr double H = 3600.0;

// --- time! ------------------------------------------------------------------------------

TEST_F(TimeTest, MoldWritesHoursMinutesAndSeconds) {
  struct Case {
    double seconds;
    const char* text;
  } cases[] = {
      {3600, "1:00:00"},       {0, "0:00:00"},          {-3660, "-1:01:00"},   {3723, "1:02:03"},
      {3727.5, "1:02:07.5"},   {0.5, "0:00:00.5"},      {-0.5, "-0:00:00.5"},  {90061, "25:01:01"},
      {1e-7, "0:00:00"},       {59.25, "0:00:59.25"},   {360000, "100:00:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(Tm(c.seconds)), c.text) << c.seconds;
    EXPECT_EQ(form(Tm(c.seconds)), c.text) << c.seconds;
  }
}

TEST_F(TimeTest, MoldLoadsBackThroughTheLexer) {
  for (double seconds : {3600.0, 0.0, -3660.0, 3727.5, 0.25, 90061.0, -0.5})
    EXPECT_EQ(reloaded(Tm(seconds)), typed_mold(Tm(seconds)));
}

TEST_F(TimeTest, ConversionFromNumbersAndBlocks) {
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {Blk({I(1), I(30)}), "time! 1:30:00"},
      {Blk({I(-1), I(30), I(0)}), "time! -1:30:00"},
      {Blk({I(1), I(2), F(3.5)}), "time! 1:02:03.5"},
      {Blk({I(1), I(-30)}), "error bad-to-arg"},
      {Blk({I(1), I(2), I(3), I(4)}), "error bad-to-arg"},
      {Blk({I(1), F(2.0)}), "error bad-to-arg"},
      {I(90), "time! 0:01:30"},
      {F(1.5), "time! 0:00:01.5"},
      {None(), "error bad-to-arg"},
      {S("1:30:15.5"), "time! 1:30:15.5"},
      {S("-0:30"), "time! -0:30:00"},
      {S("not a time"), "error bad-to-arg"},
      {S("1x2"), "error bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(converted<Action::to>(TYPE_TIME, c.spec), c.expected) << mold(c.spec);
    EXPECT_EQ(converted<Action::make>(TYPE_TIME, c.spec), c.expected) << mold(c.spec);
  }
}

TEST_F(TimeTest, PathReadsFieldsByWordAndNumber) {
  Cell t = Tm(3723.5);
  EXPECT_EQ(mold(path_get(t, W("hour"))), "1");
  EXPECT_EQ(mold(path_get(t, W("MINUTE"))), "2");
  EXPECT_EQ(mold(path_get(t, W("second"))), "3.5");
  EXPECT_EQ(mold(path_get(t, I(2))), "2");
  EXPECT_EQ(error_of([&] { path_get(t, W("day")); }), "invalid-path");
  EXPECT_EQ(error_of([&] { path_get(t, I(4)); }), "invalid-path");
}

TEST_F(TimeTest, PathSetsFields) {
  struct Case {
    double seconds;
    const char* field;
    Cell value;
    const char* expected;
  } cases[] = {
      {3723, "hour", I(5), "5:02:03"},
      {3723, "second", F(7.5), "1:02:07.5"},
      {3723, "minute", I(45), "1:45:03"},
      {3723, "minute", I(75), "2:15:03"},
      {3723, "hour", I(-2), "-2:02:03"},
      // Negative times: the fields are those of the absolute value.
      {-3660, "hour", I(-1), "-1:01:00"},
      {-3660, "minute", I(1), "-1:01:00"},
      {-3660, "hour", I(2), "-2:01:00"},
      {-3660, "minute", I(30), "-1:30:00"},
      {-1800, "hour", I(0), "-0:30:00"},
  };
  for (const Case& c : cases) {
    Cell result = path_set(Tm(c.seconds), W(c.field), c.value);
    EXPECT_EQ(mold(result), c.expected) << c.seconds << " " << c.field;
  }
  EXPECT_EQ(error_of([&] { path_set(Tm(0), W("hour"), F(1.5)); }), "invalid-arg");
  EXPECT_EQ(error_of([&] { path_set(Tm(0), W("second"), S("1")); }), "invalid-arg");
}

TEST_F(TimeTest, SettingAFieldToItsOwnValueLeavesTheTimeUnchanged) {
  for (double seconds : {3723.0, -3723.0, -59.0, -7322.25, 0.0, 86399.5}) {
    for (const char* field : {"hour", "minute", "second"}) {
      Cell t = Tm(seconds);
      Cell same = path_set(t, W(field), path_get(t, W(field)));
      EXPECT_DOUBLE_EQ(time_type::get(same), seconds) << seconds << " " << field;
    }
  }
}

TEST_F(TimeTest, PickGivesFieldsAndRefusesOtherIndexes) {
  Cell t = Tm(3723);
  EXPECT_EQ(mold(pick(t, I(1))), "1");
  EXPECT_EQ(mold(pick(t, W("minute"))), "2");
  EXPECT_EQ(error_of([&] { pick(t, I(0)); }), "out-of-range");
  EXPECT_EQ(error_of([&] { pick(t, W("year")); }), "out-of-range");
}

TEST_F(TimeTest, EvenAndOddLookAtTheWholeSeconds) {
  auto even = [](double s) {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* t = stack::push(Tm(s));
    return action_handler<Action::even_q>(TYPE_TIME)(t)->data1 != 0;
  };
  EXPECT_TRUE(even(2));
  EXPECT_FALSE(even(3));
  EXPECT_TRUE(even(62));
  // A hair below a whole second counts as that second.
  EXPECT_TRUE(even(1.9999999));
}

TEST_F(TimeTest, ArithmeticFollowsTheTimeRules) {
  EXPECT_EQ(math(Action::add, Tm(H), Tm(1800)), "time! 1:30:00");
  EXPECT_EQ(math(Action::multiply, Tm(H), I(2)), "time! 2:00:00");
  EXPECT_EQ(math(Action::divide, Tm(H), Tm(1800)), "float! 2.0");
  EXPECT_EQ(math(Action::divide, Tm(H), I(2)), "time! 0:30:00");
  EXPECT_EQ(math(Action::multiply, Tm(H), Tm(2)), "error not-related");
  EXPECT_EQ(math(Action::subtract, Tm(H), D(2021, 1, 1)), "error not-related");
  // time + date is date + time.
  EXPECT_EQ(math(Action::add, Tm(2 * H), DT(2020, 12, 31, 23 * H)), "date! 1-Jan-2021/1:00:00");
}

TEST_F(TimeTest, RoundToAMinuteGivesATime) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* t = stack::push(Tm(H + 30 * 60 + 45));
  Cell* scale = stack::push(I(60));
  int to = static_cast<int>(scale - stack::arguments());
  Cell* result = action_handler<Action::round>(TYPE_TIME)(t, to, -1, -1, -1, -1, -1, -1);
  EXPECT_EQ(mold(*result), "1:31:00");
}

// --- date!: calendar ---------------------------------------------------------------------

TEST_F(DateTest, DayNumbersStartInMarchOfYearZero) {
  EXPECT_EQ(date::date_to_days(1970, 1, 1), 719468);
  EXPECT_EQ(date::date_to_days(0, 3, 1), 0);
  EXPECT_EQ(date::weekday(date::date_to_days(1970, 1, 1)), 4);  // Thursday
  EXPECT_TRUE(date::leap_year_q(2000));
  EXPECT_FALSE(date::leap_year_q(1900));
  EXPECT_TRUE(date::leap_year_q(2024));
}

TEST_F(DateTest, DayNumbersRoundTripAcrossTheWholeRangeOfYears) {
  // Negative years included: the calendar uses floor division throughout.
  for (int32_t days = date::date_to_days(-16000, 1, 1); days < date::date_to_days(16000, 1, 1); days += 9973) {
    uint32_t packed = date::days_to_date(days, 0, false);
    ASSERT_EQ(date::days_of(packed), days) << days;
    ASSERT_GE(date::day_of(packed), 1);
    ASSERT_LE(date::month_of(packed), 12);
  }
}

TEST_F(DateTest, YearsOutsideTheFieldRaiseOverflow) {
  EXPECT_EQ(error_of([] { date::days_to_date(date::date_to_days(16383, 12, 31) + 1, 0, false); }), "overflow");
  EXPECT_EQ(math(Action::add, D(2021, 1, 1), I(2000000000)), "error overflow");
}

// --- date!: text ---------------------------------------------------------------------------

TEST_F(DateTest, MoldWritesDayMonthYearTimeAndZone) {
  struct Case {
    Cell date;
    const char* text;
  } cases[] = {
      {D(2021, 1, 1), "1-Jan-2021"},
      {D(45, 1, 5), "5-Jan-0045"},
      {D(0, 3, 9), "9-Mar-0000"},
      {D(100, 12, 25), "25-Dec-100"},
      {D(-45, 6, 1), "1/Jun/-45"},
      {DT(2021, 1, 1, 10.5 * H), "1-Jan-2021/10:30:00"},
      {DT(2021, 1, 1, 0), "1-Jan-2021/0:00:00"},
      {DT(2021, 7, 4, 10.5 * H, 5, 30), "4-Jul-2021/10:30:00+05:30"},
      {DT(2021, 7, 4, 23 * H + 59 * 60 + 59.5, -8, 0), "4-Jul-2021/23:59:59.5-08:00"},
      {DT(2021, 7, 4, 12 * H, 0, -45), "4-Jul-2021/12:00:00-00:45"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(c.date), c.text);
    EXPECT_EQ(form(c.date), c.text);
  }
}

TEST_F(DateTest, MonthNamesComeFromTheInstalledList) {
  upcalls::MonthNames installed = upcalls::table.month_names;
  upcalls::table.month_names = [] {
    Cell names = Blk({S("Janvier"), S("F")});
    return names;
  };
  EXPECT_EQ(mold(D(2021, 1, 3)), "3-Jan-2021");
  EXPECT_EQ(mold(D(2021, 2, 3)), "3-F-2021");
  EXPECT_EQ(error_of([] { mold(D(2021, 3, 3)); }), "invalid-months");
  upcalls::table.month_names = [] { return Blk({I(1)}); };
  EXPECT_EQ(error_of([] { mold(D(2021, 1, 3)); }), "invalid-months");
  upcalls::table.month_names = nullptr;
  EXPECT_EQ(mold(D(2021, 1, 3)), "3-Jan-2021");
  upcalls::table.month_names = installed;
}

TEST_F(DateTest, MoldLoadsBackThroughTheLexer) {
  for (const Cell& d : {D(2021, 1, 1), D(45, 1, 5), DT(2021, 7, 4, 10.5 * H, 5, 30),
                        DT(2021, 7, 4, 23 * H + 59 * 60 + 59.5, -8, 0), DT(1999, 12, 31, 0)}) {
    EXPECT_EQ(reloaded(d), typed_mold(d));
    Cell loaded = make_cell(TYPE_UNSET);
    word::scan_text(mold(d), &loaded);
    EXPECT_EQ(compare(loaded, d, kCmpEqual), 0) << mold(d);
  }
}

// --- date!: conversion --------------------------------------------------------------------------

TEST_F(DateTest, EpochSecondsConvertBothWays) {
  EXPECT_EQ(date::to_epoch_seconds(DT(1970, 1, 1, 0)), 0);
  EXPECT_EQ(date::to_epoch_seconds(DT(2000, 1, 1, 0)), 946684800);
  EXPECT_EQ(date::to_epoch_seconds(DT(1970, 1, 1, 2 * H, 2, 0)), 0);  // midnight UTC
  EXPECT_EQ(converted<Action::to>(TYPE_DATE, I(86400)), "date! 2-Jan-1970/0:00:00");
  EXPECT_EQ(converted<Action::to>(TYPE_DATE, I(-1)), "date! 31-Dec-1969/23:59:59");
  EXPECT_EQ(converted<Action::to>(TYPE_DATE, I(946684800)), "date! 1-Jan-2000/0:00:00");
}

TEST_F(DateTest, EpochSecondsPast2038AreOutOfRangeNotWrapped) {
  EXPECT_EQ(error_of([] { date::to_epoch_seconds(DT(2040, 1, 1, 0)); }), "out-of-range");
  EXPECT_EQ(error_of([] { date::to_epoch_seconds(DT(1900, 1, 1, 0)); }), "out-of-range");
  EXPECT_EQ(date::to_epoch_seconds(DT(2038, 1, 19, 3 * H + 14 * 60 + 7)), 2147483647);
}

TEST_F(DateTest, MakeChecksTheDateWhileToCarriesOver) {
  struct Case {
    Cell spec;
    const char* made;
    const char* converted;
  } cases[] = {
      {Blk({I(2021), I(2), I(29)}), "error bad-to-arg", "date! 1-Mar-2021"},
      {Blk({I(1), I(2), I(2021)}), "date! 1-Feb-2021", "date! 1-Feb-2021"},
      {Blk({I(2021), I(2), I(1)}), "date! 1-Feb-2021", "date! 1-Feb-2021"},
      {Blk({I(2021), I(1), I(1), Tm(10 * H)}), "date! 1-Jan-2021/10:00:00", "date! 1-Jan-2021/10:00:00"},
      {Blk({I(2021), I(1), I(1), I(10), I(30), I(0), I(2), I(0)}), "date! 1-Jan-2021/10:30:00+02:00",
       "date! 1-Jan-2021/10:30:00+02:00"},
      {Blk({I(2021), I(1), I(1), Tm(10 * H), Tm(-5.5 * H)}), "date! 1-Jan-2021/10:00:00-05:30",
       "date! 1-Jan-2021/10:00:00-05:30"},
      {Blk({I(2021), I(1), I(1), I(24), I(0), I(0)}), "error bad-to-arg", "date! 2-Jan-2021/0:00:00"},
      {Blk({I(2021), I(1), I(1), I(10), I(75), I(0)}), "error bad-to-arg", "date! 1-Jan-2021/11:15:00"},
      {Blk({I(2021), I(1)}), "error bad-to-arg", "error bad-to-arg"},
      {Blk({I(2021), I(1), F(1.0)}), "error bad-to-arg", "error bad-to-arg"},
      {Blk({I(2021), I(1), I(1), I(10), I(30)}), "error bad-to-arg", "error bad-to-arg"},
      {Blk({I(2021), I(1), I(1), Tm(0), Tm(0), Tm(0)}), "error bad-to-arg", "error bad-to-arg"},
      {S("1-Jan-2021"), "error bad-to-arg", "error bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(converted<Action::make>(TYPE_DATE, c.spec), c.made) << mold(c.spec);
    EXPECT_EQ(converted<Action::to>(TYPE_DATE, c.spec), c.converted) << mold(c.spec);
  }
}

// --- date!: fields ---------------------------------------------------------------------------

TEST_F(DateTest, PathReadsEveryField) {
  Cell d = DT(2021, 3, 15, 10 * H + 20 * 60 + 30.5, 2, 0);
  struct Case {
    const char* field;
    const char* value;
  } cases[] = {
      {"date", "15-Mar-2021"}, {"year", "2021"},        {"month", "3"},          {"day", "15"},
      {"zone", "2:00:00"},     {"time", "10:20:30.5"},  {"hour", "10"},          {"minute", "20"},
      {"second", "30.5"},      {"weekday", "1"},        {"yearday", "74"},       {"julian", "74"},
      {"timezone", "2:00:00"}, {"week", "12"},          {"isoweek", "11"},
  };
  for (const Case& c : cases) EXPECT_EQ(mold(path_get(d, W(c.field))), c.value) << c.field;
  for (int32_t n = 1; n <= 14; ++n) EXPECT_EQ(mold(path_get(d, I(n))), mold(pick(d, I(n)))) << n;
  EXPECT_EQ(mold(path_get(D(2021, 3, 15), W("time"))), "none");
  EXPECT_EQ(mold(path_get(D(2021, 3, 15), W("zone"))), "none");
  EXPECT_EQ(error_of([&] { path_get(d, W("era")); }), "invalid-path");
  EXPECT_EQ(error_of([&] { path_get(d, I(15)); }), "invalid-path");
  EXPECT_EQ(error_of([&] { pick(d, I(0)); }), "out-of-range");
}

TEST_F(DateTest, WeeksFollowIsoAndSundayRules) {
  struct Case {
    Cell date;
    int32_t isoweek;
    int32_t week;
  } cases[] = {
      {D(2021, 1, 1), 53, 1},  // Friday
      {D(2021, 1, 4), 1, 2},   // Monday
      {D(2016, 1, 1), 53, 1},  // Friday after a leap year
      {D(2017, 1, 1), 52, 1},  // Sunday
      {D(2021, 1, 2), 53, 1},  // Saturday, 2020 a leap year
      {D(2022, 1, 1), 52, 1},  // Saturday, 2021 common
      {D(2020, 12, 31), 53, 53},
      {D(2019, 12, 30), 1, 53},  // the Monday of 2020's first ISO week
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(path_get(c.date, W("isoweek"))), std::to_string(c.isoweek)) << mold(c.date);
    EXPECT_EQ(mold(path_get(c.date, W("week"))), std::to_string(c.week)) << mold(c.date);
  }
}

TEST_F(DateTest, PathSetsFieldsAndCarriesOver) {
  struct Case {
    Cell date;
    const char* field;
    Cell value;
    const char* expected;
  } cases[] = {
      {D(2021, 3, 15), "day", I(0), "28-Feb-2021"},
      {D(2021, 3, 15), "day", I(32), "1-Apr-2021"},
      {D(2021, 3, 15), "month", I(13), "15-Jan-2022"},
      {D(2021, 3, 15), "month", I(0), "15-Dec-2020"},
      {D(2021, 1, 31), "month", I(4), "1-May-2021"},
      {D(2020, 2, 29), "year", I(2021), "1-Mar-2021"},
      {D(2021, 3, 15), "weekday", I(7), "21-Mar-2021"},
      {D(2021, 3, 15), "yearday", I(1), "1-Jan-2021"},
      {D(2021, 3, 15), "isoweek", I(1), "4-Jan-2021"},
      {D(2021, 3, 15), "week", I(2), "3-Jan-2021"},
      {D(2021, 3, 15), "date", D(2000, 2, 2), "2-Feb-2000"},
      {D(2021, 3, 15), "time", Tm(10 * H), "15-Mar-2021/10:00:00"},
      {DT(2021, 3, 15, 10 * H), "time", None(), "15-Mar-2021"},
      {DT(2021, 3, 15, 10 * H), "hour", I(25), "16-Mar-2021/1:00:00"},
      {DT(2021, 3, 15, 10 * H), "minute", I(-30), "15-Mar-2021/9:30:00"},
      {DT(2021, 3, 15, 10 * H), "second", F(1.5), "15-Mar-2021/10:00:01.5"},
      // zone keeps the clock time, timezone keeps the instant.
      {DT(2021, 1, 1, 10 * H), "zone", I(2), "1-Jan-2021/10:00:00+02:00"},
      {DT(2021, 1, 1, 23 * H), "timezone", I(2), "2-Jan-2021/1:00:00+02:00"},
      {DT(2021, 1, 1, 1 * H, 2, 0), "timezone", Tm(-1.5 * H), "31-Dec-2020/21:30:00-01:30"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(path_set(c.date, W(c.field), c.value)), c.expected) << mold(c.date) << " " << c.field;
  }
  EXPECT_EQ(error_of([] { path_set(D(2021, 1, 1), W("day"), F(1.0)); }), "invalid-arg");
  EXPECT_EQ(error_of([] { path_set(D(2021, 1, 1), W("zone"), S("x")); }), "invalid-arg");
  EXPECT_EQ(error_of([] { path_set(D(2021, 1, 1), W("date"), I(1)); }), "invalid-arg");
}

TEST_F(DateTest, TimezoneChangeKeepsTheInstant) {
  Cell before = DT(2021, 1, 1, 23 * H, -5, 0);
  Cell after = path_set(before, W("timezone"), I(9));
  EXPECT_EQ(date::to_epoch_seconds(before), date::to_epoch_seconds(after));
  // The local date moved from 1 to 2 January, and dates compare by it.
  EXPECT_EQ(compare(before, after, kCmpEqual), -1);
}

TEST_F(DateTest, LexerConstructorsForWeekAndOrdinalDates) {
  Cell d = D(2021, 1, 1);
  date::set_week(&d, 10);
  date::set_week_day(&d, 3);
  EXPECT_EQ(mold(d), "10-Mar-2021");  // 2021-W10-3
  Cell o = D(2020, 1, 1);
  date::set_year_day(&o, 366);
  EXPECT_EQ(mold(o), "31-Dec-2020");
}

// --- date!: comparison and arithmetic -----------------------------------------------------

// The local dates decide first, then the stored times; the zone takes no
// part (dates used to compare as instants).
TEST_F(DateTest, ComparisonIsByLocalDateThenStoredTime) {
  EXPECT_EQ(compare(DT(2021, 1, 1, 10 * H, 2, 0), DT(2021, 1, 1, 8 * H), kCmpEqual), 0);
  // 23:00 five hours west of UTC is 04:00 UTC the next day, but its date is
  // the earlier one.
  EXPECT_EQ(compare(DT(2021, 1, 1, 23 * H, -5, 0), DT(2021, 1, 2, 1 * H), kCmpGreater), -1);
  EXPECT_EQ(compare(DT(2021, 1, 1, 23 * H, -5, 0), DT(2021, 1, 2, 13 * H, 9, 0), kCmpEqual), -1);
  // One date: the stored times (local time less the zone) decide.
  EXPECT_EQ(compare(DT(2021, 1, 1, 10 * H, 5, 0), DT(2021, 1, 1, 6 * H), kCmpLesser), -1);
  EXPECT_EQ(compare(D(2021, 1, 1), D(2021, 1, 2), kCmpLesser), -1);
  EXPECT_EQ(compare(DT(2021, 1, 1, 1), D(2021, 1, 1), kCmpGreater), 1);
  EXPECT_EQ(compare(D(2021, 1, 1), I(1), kCmpEqual), kNotComparable);
}

TEST_F(DateTest, ArithmeticWithDaysTimesAndDates) {
  struct Case {
    Action action;
    Cell left;
    Cell right;
    const char* expected;
  } cases[] = {
      {Action::subtract, D(2020, 3, 1), I(1), "date! 29-Feb-2020"},
      {Action::subtract, D(2021, 3, 1), I(1), "date! 28-Feb-2021"},
      {Action::add, D(2020, 12, 31), I(1), "date! 1-Jan-2021"},
      {Action::add, DT(2020, 12, 31, 23 * H), Tm(2 * H), "date! 1-Jan-2021/1:00:00"},
      {Action::add, D(2020, 12, 31), Tm(2 * H), "date! 31-Dec-2020/2:00:00"},
      {Action::subtract, DT(2021, 1, 1, 1 * H, 3, 0), Tm(5 * H), "date! 31-Dec-2020/20:00:00+03:00"},
      {Action::subtract, D(2000, 1, 1), D(1999, 1, 1), "integer! 365"},
      {Action::subtract, D(1999, 1, 1), D(2000, 1, 1), "integer! -365"},
      // Both operands carry the zone in their stored times: no day is lost.
      {Action::subtract, DT(2000, 1, 1, 0, -5, 0), DT(1999, 1, 1, 0, -5, 0), "integer! 365"},
      {Action::subtract, DT(2000, 1, 2, 1 * H), DT(2000, 1, 1, 23 * H), "integer! 0"},
      // Three hours before: the time difference (-27 hours) carries a day back.
      {Action::subtract, DT(2000, 1, 2, 1 * H, 5, 0), DT(2000, 1, 1, 23 * H), "integer! -1"},
      {Action::add, D(2000, 1, 1), D(1999, 1, 1), "error not-related"},
      {Action::add, D(2000, 1, 1), S("1"), "error invalid-type"},
      {Action::add, D(2000, 1, 1), F(1.5), "error invalid-type"},
  };
  for (const Case& c : cases) EXPECT_EQ(math(c.action, c.left, c.right), c.expected) << mold(c.left) << " " << mold(c.right);
}

TEST_F(DateTest, IntegerPlusDateIsDatePlusDays) {
  EXPECT_EQ(math(Action::add, I(1), D(2020, 12, 31)), "date! 1-Jan-2021");
}

TEST_F(DateTest, DifferenceAsTimeValue) {
  Cell later = DT(2021, 1, 2, 1 * H);
  date::to_time_value(&later, DT(2021, 1, 1, 23 * H));
  EXPECT_EQ(mold(later), "2:00:00");
}

TEST_F(DateTest, RandomDatesStayBelowTheGivenDate) {
  Cell limit = DT(2021, 6, 15, 12 * H);
  for (int i = 0; i < 50; ++i) {
    stack::Guard guard;
    stack::mark_native(nullptr);
    Cell* d = stack::push(limit);
    Cell drawn = *action_handler<Action::random>(TYPE_DATE)(d, -1, -1, -1);
    ASSERT_TRUE(drawn.is(TYPE_DATE));
    ASSERT_LE(date::days_of(drawn.data1), date::days_of(limit.data1));
    double local = date::time_of(drawn) + date::zone_seconds(date::zone_of(drawn.data1));
    ASSERT_GE(local, 0.0);
    ASSERT_LT(local, date::kSecondsPerDay);
  }
}

TEST_F(DateTest, NowIsANormalisedDateWithTime) {
  Cell today = date::now(false);
  ASSERT_TRUE(date::has_time(today.data1));
  double local = date::time_of(today) + date::zone_seconds(date::zone_of(today.data1));
  EXPECT_GE(local, 0.0);
  EXPECT_LT(local, date::kSecondsPerDay);
  EXPECT_GE(date::year_of(today.data1), 2020);
}

}  // namespace
}  // namespace kel
