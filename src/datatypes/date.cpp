// date!: the calendar, the zone arithmetic, the fields reached through paths
// and pick, construction from blocks and integers, and the text form (see
// date.h for the cell layout and the day numbers).
#include "datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/checked_math.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/series_tail.h"
#include "runtime/upcalls.h"

namespace kel::date {

namespace {

constexpr int64_t floor_divide(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
constexpr int64_t floor_modulo(int64_t a, int64_t b) { return a - floor_divide(a, b) * b; }

// Days from day 0 to 1 March of the March-based year y.
constexpr int64_t days_before_year(int64_t y) {
  return 365 * y + floor_divide(y, 4) - floor_divide(y, 100) + floor_divide(y, 400);
}

void check_year(int64_t year) {
  if (year < kMinYear || year > kMaxYear) checked_math::overflow();
}

int32_t narrow_days(int64_t days) { return checked_math::narrow(days); }

[[noreturn]] void bad_to_arg(const Cell* spec) {
  Cell type = datatype::make(TYPE_DATE);
  fire_bad_to_arg(&type, spec);
}

// A word's name compared with an ASCII name, ignoring letter case.
bool word_named(const Cell& word, std::string_view name) {
  std::string_view text = symbol::name(word::symbol_of(word));
  if (text.size() != name.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char a = text[i], b = name[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (a != b) return false;
  }
  return true;
}

// Repacks the cell from a day number and a stored time, keeping its zone
// and setting the time flag as given.
void repack(Cell* cell, int32_t days, double time, bool time_present) {
  uint32_t zone = zone_of(cell->data1);
  cell->data1 = days_to_date(days, zone, time_present);
  cell->set_double(time_present ? time : 0.0);
}

// Normalises the stored time of a date with a time and repacks it.
void renormalize(Cell* cell, int32_t days, double time) {
  days = normalize_time(days, &time, zone_of(cell->data1));
  repack(cell, days, time, true);
}

}  // namespace

// --- Calendar ---------------------------------------------------------------------

uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool time_present) {
  return (static_cast<uint32_t>(year) << 17) | (time_present ? kTimeFlag : 0) |
         ((static_cast<uint32_t>(month) & 0x0F) << 12) | ((static_cast<uint32_t>(day) & 0x1F) << 7) |
         (zone & kZoneMask);
}

bool leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t date_to_days(int32_t year, int32_t month, int32_t day) {
  int64_t y = year;
  int64_t m = month;
  // Months outside 1..12 carry into whole years first.
  y += floor_divide(m - 1, 12);
  m = floor_modulo(m - 1, 12) + 1;
  int64_t shifted = (m + 9) % 12;  // March 0 .. February 11
  y -= shifted / 10;
  return narrow_days(days_before_year(y) + (shifted * 306 + 5) / 10 + (static_cast<int64_t>(day) - 1));
}

uint32_t days_to_date(int32_t days, uint32_t zone, bool time_present) {
  int64_t n = days;
  auto y = static_cast<int64_t>(std::floor((10000.0 * static_cast<double>(n) + 14780.0) / 3652425.0));
  int64_t ddd = n - days_before_year(y);
  if (ddd < 0) {
    --y;
    ddd = n - days_before_year(y);
  }
  int64_t mi = (100 * ddd + 52) / 3060;
  int64_t month = (mi + 2) % 12 + 1;
  int64_t year = y + (mi + 2) / 12;
  int64_t day = ddd - (mi * 306 + 5) / 10 + 1;
  check_year(year);
  return pack(static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day), zone,
              time_present);
}

int32_t year_day_1(uint32_t packed) { return date_to_days(year_of(packed), 1, 1); }

int32_t year_day(uint32_t packed) { return days_of(packed) - year_day_1(packed) + 1; }

int32_t weekday(int32_t days) { return static_cast<int32_t>(floor_modulo(static_cast<int64_t>(days) + 2, 7)) + 1; }

int32_t week_one_monday(int32_t year) {
  int32_t january_1 = date_to_days(year, 1, 1);
  int32_t offset = weekday(january_1) - 1;  // Monday 0
  // Week 1 holds the year's first Thursday.
  return offset <= 3 ? january_1 - offset : january_1 + 7 - offset;
}

// --- Zones and time -----------------------------------------------------------------

double zone_seconds(uint32_t zone) {
  double seconds = static_cast<double>(((zone >> 2) & 0x0F) * 3600 + (zone & 3) * 900);
  return (zone & kZoneSign) != 0 ? -seconds : seconds;
}

namespace {
uint32_t zone_bits(bool negative, int64_t hours, int64_t minutes) {
  uint32_t bits = static_cast<uint32_t>((hours % 16) << 2) | static_cast<uint32_t>((minutes / 15) & 3);
  return (negative && bits != 0) ? (bits | kZoneSign) : bits;
}
}  // namespace

uint32_t make_zone(int32_t hours, int32_t minutes) {
  bool negative = hours < 0 || (hours == 0 && minutes < 0);
  int64_t h = hours, m = minutes;
  return zone_bits(negative, h < 0 ? -h : h, m < 0 ? -m : m);
}

int32_t normalize_time(int32_t days, double* time, uint32_t zone) {
  double zone_hours = zone_seconds(zone) / 3600.0;
  double carried = std::trunc((*time / 3600.0 + zone_hours) / 24.0);
  if (!checked_math::truncates_to_integer(carried)) checked_math::overflow();
  *time -= carried * kSecondsPerDay;
  int64_t result = static_cast<int64_t>(days) + static_cast<int64_t>(carried);
  if (zone_hours * 3600.0 + *time < 0) {
    *time += kSecondsPerDay;
    --result;
  }
  return narrow_days(result);
}

int32_t to_epoch_seconds(const Cell& date) {
  int64_t days = days_of(date.data1);
  double seconds = static_cast<double>(days - kEpochDays) * kSecondsPerDay + std::trunc(time_of(date) + 0.5);
  if (!checked_math::truncates_to_integer(seconds)) fire(ErrorId::script_out_of_range, &date);
  return static_cast<int32_t>(seconds);
}

Cell* to_time_value(Cell* cell, const Cell& other) {
  double days = static_cast<double>(days_of(cell->data1)) - static_cast<double>(days_of(other.data1));
  double seconds = days * kSecondsPerDay + time_of(*cell) - time_of(other);
  return time_type::make_at(cell, seconds);
}

Cell now(bool utc) {
  uint32_t packed = platform::now_local(utc);
  uint32_t zone = zone_of(packed);
  double local = std::fmod(platform::now_utc(true) + zone_seconds(zone), kSecondsPerDay);
  if (local < 0) local += kSecondsPerDay;
  Cell cell = make_cell(TYPE_DATE, packed | kTimeFlag);
  cell.set_double(local - zone_seconds(zone));
  return cell;
}

// --- Constructors -------------------------------------------------------------------

Cell* set_cell(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
               int32_t zone_minutes, bool time_present) {
  check_year(year);
  uint32_t zone = make_zone(zone_hours, zone_minutes);
  cell->set_type(TYPE_DATE);
  cell->data1 = pack(year, month, day, zone, time_present);
  cell->set_double(time_present ? time - zone_seconds(zone) : 0.0);
  return cell;
}

Cell* set_cell_from_fields(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hours, int32_t minutes,
                           int32_t seconds, int32_t nanoseconds) {
  double time = 3600.0 * hours + 60.0 * minutes + seconds + 1e-9 * nanoseconds;
  return set_cell(cell, year, month, day, time, 0, 0, true);
}

Cell* push(uint32_t packed, double time) {
  Cell cell = make_cell(TYPE_DATE, packed);
  cell.set_double(time);
  return stack::push(cell);
}

Cell* make_in_block(const Cell* block, uint32_t packed, double time) {
  Cell cell = make_cell(TYPE_DATE, packed);
  cell.set_double(time);
  return append_value(block, cell);
}

Cell* set_week(Cell* cell, int32_t week) {
  int64_t days = static_cast<int64_t>(week_one_monday(year_of(cell->data1))) + 7 * static_cast<int64_t>(week) - 7;
  repack(cell, narrow_days(days), time_of(*cell), has_time(cell->data1));
  return cell;
}

Cell* set_week_day(Cell* cell, int32_t day) {
  int32_t days = days_of(cell->data1);
  int64_t monday = static_cast<int64_t>(days) - (weekday(days) - 1);
  repack(cell, narrow_days(monday + day - 1), time_of(*cell), has_time(cell->data1));
  return cell;
}

Cell* set_year_day(Cell* cell, int32_t day) {
  int64_t days = static_cast<int64_t>(year_day_1(cell->data1)) + day - 1;
  repack(cell, narrow_days(days), time_of(*cell), has_time(cell->data1));
  return cell;
}

Cell* set_month(Cell* cell, int32_t month) {
  uint32_t packed = cell->data1;
  int64_t months = static_cast<int64_t>(month) - 1;
  int64_t year = static_cast<int64_t>(year_of(packed)) + floor_divide(months, 12);
  check_year(year);
  int32_t new_month = static_cast<int32_t>(floor_modulo(months, 12)) + 1;
  int32_t days = date_to_days(static_cast<int32_t>(year), new_month, day_of(packed));
  repack(cell, days, time_of(*cell), has_time(packed));
  return cell;
}

Cell* set_time(Cell* cell, double time, bool apply_zone) {
  if (apply_zone) time -= zone_seconds(zone_of(cell->data1));
  renormalize(cell, days_of(cell->data1), time);
  return cell;
}

// --- Fields --------------------------------------------------------------------------

int32_t field_of(const Cell& selector) {
  if (selector.is(TYPE_INTEGER)) {
    int32_t n = integer::get(selector);
    return n >= kFieldDate && n <= kFieldIsoweek ? n : 0;
  }
  if (!word::is_any_word(selector.type())) return 0;
  static constexpr std::string_view kNames[] = {"date",    "year",    "month",   "day",      "zone",
                                                "time",    "hour",    "minute",  "second",   "weekday",
                                                "yearday", "timezone", "week",   "isoweek",  "julian"};
  static constexpr int32_t kFields[] = {kFieldDate,    kFieldYear,    kFieldMonth,   kFieldDay,
                                        kFieldZone,    kFieldTime,    kFieldHour,    kFieldMinute,
                                        kFieldSecond,  kFieldWeekday, kFieldYearday, kFieldTimezone,
                                        kFieldWeek,    kFieldIsoweek, kFieldYearday};
  for (size_t i = 0; i < std::size(kNames); ++i)
    if (word_named(selector, kNames[i])) return kFields[i];
  return 0;
}

namespace {

int32_t iso_week(int32_t days, int32_t year) {
  int32_t monday = week_one_monday(year);
  if (days < monday) {
    // The last week of the previous year: 53 when that year had 53 weeks.
    int32_t january_1 = weekday(date_to_days(year, 1, 1));
    if (january_1 == 5) return 53;
    if (january_1 == 6 && leap_year_q(year - 1)) return 53;
    return 52;
  }
  if (days >= week_one_monday(year + 1)) return 1;
  return (days - monday) / 7 + 1;
}

int32_t sunday_week(uint32_t packed) {
  int32_t offset = static_cast<int32_t>(floor_modulo(static_cast<int64_t>(year_day_1(packed)) + 3, 7));
  int32_t day = year_day(packed);
  return day <= 7 - offset ? 1 : (day + offset - 1) / 7 + 1;
}

Cell zone_value(uint32_t packed) {
  if (!has_time(packed)) return make_cell(TYPE_NONE);
  return time_type::make(zone_seconds(zone_of(packed)));
}

}  // namespace

Cell get_field(const Cell& date, int32_t field) {
  uint32_t packed = date.data1;
  double local = time_of(date) + zone_seconds(zone_of(packed));
  switch (field) {
    case kFieldDate: return make_cell(TYPE_DATE, pack(year_of(packed), month_of(packed), day_of(packed), 0, false));
    case kFieldYear: return integer::make(year_of(packed));
    case kFieldMonth: return integer::make(month_of(packed));
    case kFieldDay: return integer::make(day_of(packed));
    case kFieldZone:
    case kFieldTimezone: return zone_value(packed);
    case kFieldTime: return has_time(packed) ? time_type::make(local) : make_cell(TYPE_NONE);
    case kFieldHour: return integer::make(time_type::get_hours(local));
    case kFieldMinute: return integer::make(time_type::get_minutes(local));
    case kFieldSecond: return float_type::make(std::fmod(local, 60.0));
    case kFieldWeekday: return integer::make(weekday(days_of(packed)));
    case kFieldYearday: return integer::make(year_day(packed));
    case kFieldWeek: return integer::make(sunday_week(packed));
    default: return integer::make(iso_week(days_of(packed), year_of(packed)));
  }
}

namespace {

// The zone bits a zone field value asks for: integer! hours or a time!.
uint32_t zone_from_value(const Cell& value) {
  if (value.is(TYPE_INTEGER)) return make_zone(integer::get(value), 0);
  if (value.is(TYPE_TIME)) {
    double seconds = time_type::get(value);
    int64_t hours = std::llabs(static_cast<int64_t>(time_type::get_hours(seconds)));
    return zone_bits(seconds < 0, hours, time_type::get_minutes(seconds));
  }
  fire(ErrorId::script_invalid_arg, &value);
}

}  // namespace

void set_field(Cell* date, int32_t field, const Cell& value) {
  uint32_t packed = date->data1;
  bool time_present = has_time(packed);
  double time = time_of(*date);
  int32_t days = days_of(packed);
  switch (field) {
    case kFieldYear:
    case kFieldMonth:
    case kFieldDay:
    case kFieldWeekday:
    case kFieldYearday:
    case kFieldWeek:
    case kFieldIsoweek:
      if (!value.is(TYPE_INTEGER)) fire(ErrorId::script_invalid_arg, &value);
      break;
    default: break;
  }
  int64_t n = value.is(TYPE_INTEGER) ? integer::get(value) : 0;
  switch (field) {
    case kFieldDate: {
      if (!value.is(TYPE_DATE)) fire(ErrorId::script_invalid_arg, &value);
      bool other_time = has_time(value.data1);
      date->data1 = (value.data1 & ~kZoneMask) | zone_of(packed);
      if (other_time) renormalize(date, days_of(date->data1), time_present ? time : 0.0);
      else date->set_double(0.0);
      return;
    }
    case kFieldYear: {
      check_year(n);
      repack(date, date_to_days(static_cast<int32_t>(n), month_of(packed), day_of(packed)), time, time_present);
      return;
    }
    case kFieldMonth: set_month(date, static_cast<int32_t>(n)); return;
    case kFieldDay: {
      int64_t first = date_to_days(year_of(packed), month_of(packed), 1);
      repack(date, narrow_days(first - 1 + n), time, time_present);
      return;
    }
    case kFieldWeekday: set_week_day(date, static_cast<int32_t>(n)); return;
    case kFieldYearday: set_year_day(date, static_cast<int32_t>(n)); return;
    case kFieldWeek: {
      int64_t january_1 = year_day_1(packed);
      int64_t target = n <= 1 ? january_1 + 7 * (n - 1) : january_1 + 7 * n - floor_modulo(january_1 + 3, 7) - 7;
      repack(date, narrow_days(target), time, time_present);
      return;
    }
    case kFieldIsoweek: set_week(date, static_cast<int32_t>(n)); return;
    case kFieldZone: {
      // The clock time stays, the instant moves.
      uint32_t zone = zone_from_value(value);
      double local = time + zone_seconds(zone_of(packed));
      date->data1 = (packed & ~kZoneMask) | zone;
      if (time_present) date->set_double(local - zone_seconds(zone));
      return;
    }
    case kFieldTimezone: {
      // The instant stays, the clock time moves.
      uint32_t zone = zone_from_value(value);
      date->data1 = (packed & ~kZoneMask) | zone;
      if (time_present) renormalize(date, days, time);
      return;
    }
    case kFieldTime: {
      if (value.is(TYPE_NONE)) {
        date->data1 = packed & ~kTimeFlag;
        date->set_double(0.0);
        return;
      }
      if (!value.is(TYPE_TIME)) fire(ErrorId::script_invalid_arg, &value);
      renormalize(date, days, time_type::get(value) - zone_seconds(zone_of(packed)));
      return;
    }
    default: {  // hour, minute, second
      double zone = zone_seconds(zone_of(packed));
      double local = time_present ? time + zone : 0.0;
      local = time_type::set_field(local, field - kFieldHour + time_type::kFieldHour, value);
      renormalize(date, days, local - zone);
      return;
    }
  }
}

// --- Arithmetic ------------------------------------------------------------------------

Cell* do_math(int32_t op) {
  Cell* left = stack::arguments();
  Cell* right = left + 1;
  uint32_t packed = left->data1;
  int64_t days = days_of(packed);
  double time = time_of(*left);
  bool time_present = has_time(packed);
  int64_t sign = op == kOpSubtract ? -1 : 1;
  switch (right->type()) {
    case TYPE_INTEGER: days += sign * integer::get(*right); break;
    case TYPE_TIME:
      time += static_cast<double>(sign) * time_type::get(*right);
      time_present = true;
      break;
    case TYPE_DATE: {
      if (op != kOpSubtract) {
        Cell action = word::make_value(symbol::make("add"), 0, -1);
        Cell type = datatype::make(TYPE_DATE);
        fire(ErrorId::script_not_related, &action, &type);
      }
      // Whole days between the two instants. Both zones are already in the
      // stored times, so the time difference is carried without a zone:
      // carried with the left's zone, two dates a year apart at one local
      // time in a zone west of UTC would be 364 days apart.
      double difference = time - time_of(*right);
      int32_t whole = normalize_time(narrow_days(days - days_of(right->data1)), &difference, 0);
      *left = integer::make(whole);
      return left;
    }
    default: {
      Cell type = datatype::make(right->type());
      fire(ErrorId::script_invalid_type, &type);
    }
  }
  int32_t day_number = narrow_days(days);
  if (time_present) day_number = normalize_time(day_number, &time, zone_of(packed));
  left->data1 = days_to_date(day_number, zone_of(packed), time_present);
  left->set_double(time_present ? time : 0.0);
  return left;
}

Cell* add() { return do_math(kOpAdd); }
Cell* subtract() { return do_math(kOpSubtract); }

// --- Construction ----------------------------------------------------------------------

namespace {

struct BlockDate {
  int32_t year = 0, month = 0, day = 0;
  bool time_present = false;
  double time = 0.0;       // local time of day
  bool minute_given = false;
  int32_t minute = 0;
  int32_t zone_hours = 0, zone_minutes = 0;
  bool zone_negative = false;
};

// Reads the accepted sequences: three integers, then nothing, or a time!
// or hour minute second, each optionally followed by a zone (a time! or
// two integers).
BlockDate read_block(const Cell* spec) {
  SeriesBuffer* buffer = block::buffer_of(spec);
  uint32_t count = buffer->cell_count() > spec->data1 ? buffer->cell_count() - spec->data1 : 0;
  const Cell* values = buffer->cells() + spec->data1;
  auto integer_at = [&](uint32_t i) {
    if (i >= count || !values[i].is(TYPE_INTEGER)) bad_to_arg(spec);
    return integer::get(values[i]);
  };
  BlockDate result;
  int32_t first = integer_at(0), second = integer_at(1), third = integer_at(2);
  if (third > 99 && third > first) {
    result.day = first;
    result.year = third;
  } else {
    result.year = first;
    result.day = third;
  }
  result.month = second;
  uint32_t i = 3;
  if (i == count) return result;
  result.time_present = true;
  if (values[i].is(TYPE_TIME)) {
    result.time = time_type::get(values[i]);
    ++i;
  } else {
    int32_t hour = integer_at(i);
    int32_t minute = integer_at(i + 1);
    if (i + 2 >= count || !(values[i + 2].is(TYPE_INTEGER) || values[i + 2].is(TYPE_FLOAT))) bad_to_arg(spec);
    double second_value = values[i + 2].is(TYPE_INTEGER) ? integer::get(values[i + 2]) : values[i + 2].as_double();
    result.time = 3600.0 * hour + 60.0 * minute + second_value;
    result.minute_given = true;
    result.minute = minute;
    i += 3;
  }
  if (i == count) return result;
  if (values[i].is(TYPE_TIME)) {
    double zone = time_type::get(values[i]);
    result.zone_negative = zone < 0;
    result.zone_hours = std::abs(time_type::get_hours(zone));
    result.zone_minutes = time_type::get_minutes(zone);
    ++i;
  } else {
    int32_t hours = integer_at(i);
    int32_t minutes = integer_at(i + 1);
    result.zone_negative = hours < 0 || (hours == 0 && minutes < 0);
    result.zone_hours = std::abs(hours);
    result.zone_minutes = std::abs(minutes);
    i += 2;
  }
  if (i != count) bad_to_arg(spec);
  return result;
}

// make: the fields must name a real date and a time of day as given.
Cell from_block_checked(const Cell* spec) {
  BlockDate d = read_block(spec);
  if (d.year < kMinYear || d.year > kMaxYear || d.month < 1 || d.month > 12 || d.day < 1) bad_to_arg(spec);
  uint32_t zone = zone_bits(d.zone_negative, d.zone_hours, d.zone_minutes);
  if (d.zone_hours > 15) bad_to_arg(spec);
  int32_t days = date_to_days(d.year, d.month, d.day);
  uint32_t packed = days_to_date(days, zone, d.time_present);
  if (year_of(packed) != d.year || month_of(packed) != d.month || day_of(packed) != d.day) bad_to_arg(spec);
  Cell cell = make_cell(TYPE_DATE, packed);
  if (d.time_present) {
    double hour = std::floor(d.time / 3600.0);
    if (!(hour >= 0 && hour <= 23)) bad_to_arg(spec);
    if (d.minute_given && time_type::get_minutes(d.time) != d.minute) bad_to_arg(spec);
    cell.set_double(d.time - zone_seconds(zone));
  }
  return cell;
}

// to: out-of-range fields carry over.
Cell from_block(const Cell* spec) {
  BlockDate d = read_block(spec);
  if (d.year < kMinYear || d.year > kMaxYear) bad_to_arg(spec);
  uint32_t zone = zone_bits(d.zone_negative, d.zone_hours, d.zone_minutes);
  int32_t days = date_to_days(d.year, d.month, d.day);
  Cell cell = make_cell(TYPE_DATE, days_to_date(days, zone, d.time_present));
  if (d.time_present) renormalize(&cell, days, d.time - zone_seconds(zone));
  return cell;
}

Cell from_epoch(int32_t seconds) {
  int64_t days = kEpochDays + floor_divide(seconds, 86400);
  double time = static_cast<double>(floor_modulo(seconds, 86400));
  Cell cell = make_cell(TYPE_DATE, days_to_date(static_cast<int32_t>(days), 0, true));
  cell.set_double(time);
  return cell;
}

}  // namespace

Cell* make(Cell*, Cell* spec, TypeId) {
  switch (spec->type()) {
    case TYPE_DATE: return stack::set_result(*spec);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: return stack::set_result(from_block_checked(spec));
    default: bad_to_arg(spec);
  }
}

Cell* to(Cell*, Cell* spec, TypeId) {
  switch (spec->type()) {
    case TYPE_DATE: return stack::set_result(*spec);
    case TYPE_INTEGER: return stack::set_result(from_epoch(integer::get(*spec)));
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: return stack::set_result(from_block(spec));
    default: bad_to_arg(spec);
  }
}

Cell* random(Cell* value, int seed, int secure, int) {
  uint32_t packed = value->data1;
  if (seed >= 0) {
    kel::random::seed(static_cast<int32_t>(packed + static_cast<uint32_t>(static_cast<int64_t>(time_of(*value)))));
    return stack::set_result(make_cell(TYPE_UNSET));
  }
  bool from_secure = secure >= 0;
  int32_t days = days_of(packed);
  int32_t drawn = days > 0 ? kel::random::int_uniform(from_secure, days) - 1 : 0;
  Cell result = make_cell(TYPE_DATE, days_to_date(drawn, zone_of(packed), has_time(packed)));
  if (has_time(packed)) {
    uint32_t zone = static_cast<uint32_t>(kel::random::int_uniform(from_secure, 128) - 1);
    result.data1 = (result.data1 & ~kZoneMask) | zone;
    double time = 24.0 * (kel::random::int_uniform(from_secure, 3600) - 1);
    renormalize(&result, drawn, time);
  }
  return stack::set_result(result);
}

// --- Text -------------------------------------------------------------------------------

namespace {

constexpr const char* kEnglishMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                            "July",    "August",   "September", "October", "November", "December"};

void append_ascii(Cell* buffer, const char* text, size_t length) {
  string::concatenate_literal_part(buffer, text, static_cast<uint32_t>(length));
}

// Appends the first three characters of the month's name; answers how many
// were written.
int32_t write_month(Cell* buffer, int32_t month) {
  if (upcalls::table.month_names == nullptr) {
    append_ascii(buffer, kEnglishMonths[month - 1], 3);
    return 3;
  }
  Cell list = upcalls::table.month_names();
  if (!list.is(TYPE_BLOCK)) fire(ErrorId::script_invalid_months);
  SeriesBuffer* b = block::buffer_of(&list);
  uint32_t count = b->cell_count() > list.data1 ? b->cell_count() - list.data1 : 0;
  if (static_cast<uint32_t>(month) > count) fire(ErrorId::script_invalid_months);
  Cell name = b->cells()[list.data1 + static_cast<uint32_t>(month) - 1];
  if (!name.is(TYPE_STRING)) fire(ErrorId::script_invalid_months);
  uint32_t length = string::rs_length(&name);
  uint32_t taken = length < 3 ? length : 3;
  string::concatenate_part(buffer, &name, static_cast<int32_t>(taken));
  return static_cast<int32_t>(taken);
}

}  // namespace


int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
  uint32_t packed = value->data1;
  int32_t year = year_of(packed);
  const char* separator = year < 0 ? "/" : "-";
  char text[32];
  int32_t length = std::snprintf(text, sizeof text, "%d%s", day_of(packed), separator);
  append_ascii(buffer, text, static_cast<size_t>(length));
  int32_t written = length;
  written += write_month(buffer, month_of(packed));
  if (year < 0) length = std::snprintf(text, sizeof text, "%s-%d", separator, -year);
  else if (year < 100) length = std::snprintf(text, sizeof text, "%s%04d", separator, year);
  else length = std::snprintf(text, sizeof text, "%s%d", separator, year);
  append_ascii(buffer, text, static_cast<size_t>(length));
  written += length;
  part -= written;
  if (!has_time(packed)) return part;

  uint32_t zone = zone_of(packed);
  append_ascii(buffer, "/", 1);
  part = time_type::form_text(buffer, time_of(*value) + zone_seconds(zone), part - 1);
  if ((zone & ~kZoneSign) != 0) {
    length = std::snprintf(text, sizeof text, "%c%02u:%02u", (zone & kZoneSign) != 0 ? '-' : '+',
                           (zone >> 2) & 0x0F, (zone & 3) * 15);
    append_ascii(buffer, text, static_cast<size_t>(length));
    part -= length;
  }
  return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  return mold(value, buffer, false, false, false, arg, part, 0);
}

// --- Comparison and access -----------------------------------------------------------------

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (!value2->is(TYPE_DATE)) return kNotComparable;
  // The local dates first, then the stored times; the zones take no part.
  int32_t days1 = days_of(value1->data1), days2 = days_of(value2->data1);
  if (days1 != days2) return days1 < days2 ? -1 : 1;
  double time1 = time_of(*value1), time2 = time_of(*value2);
  if (op == kCmpSame ? time1 == time2 : float_type::near_equal(time1, time2)) return 0;
  return time1 < time2 ? -1 : 1;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool) {
  int32_t field = field_of(*element);
  if (field == 0) fire(ErrorId::script_invalid_path, path, element);
  if (value == nullptr) return stack::push(get_field(*parent, field));
  // The owner of the cell is told of the change once ownership exists.
  set_field(parent, field, *value);
  return stack::push(*value);
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
  Cell selector = boxed != nullptr ? *boxed : integer::make(index);
  int32_t field = field_of(selector);
  if (field == 0) fire(ErrorId::script_out_of_range, &selector);
  return stack::set_result(get_field(*value, field));
}

void init() {
  DatatypeRecord record(TYPE_DATE, 0, "date!");
  record.handle<Action::make>(make)
      .handle<Action::random>(random)
      .handle<Action::to>(to)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::compare>(compare)
      .handle<Action::add>(add)
      .handle<Action::subtract>(subtract)
      .handle<Action::pick>(pick);
  register_datatype(record);
}

}  // namespace kel::date
