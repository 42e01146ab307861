// date!: a calendar date with an optional time of day and time zone, packed
// into one cell.
//
// Cell: type 47.
//   data1  the date word:
//            bits 17-31  year (15 bits, signed: -16384 .. 16383)
//            bit  16     a time is present
//            bits 12-15  month 1-12
//            bits  7-11  day 1-31
//            bit   6     zone sign (set: west of UTC)
//            bits  2-5   zone hours 0-15
//            bits  0-1   zone quarter hours
//   data2-data3  the time of day in seconds as a double, stored as the local
//          time minus the zone offset; 0.0 when no time is present.
// The year, month and day are the local date. Every operation that changes
// a date carries the stored time back so that the local time (stored time +
// zone) lies in 0 .. 86400, moving the day as needed.
//
// Day numbers count days on a March-based proleptic Gregorian calendar: day
// 0 is 1 March of year 0, 1970-01-01 is day 719468, and (days + 2) mod 7 is
// the weekday with Monday 0. Divisions here round toward minus infinity, so
// the calendar runs the same way before year 0.
//
// Dates compare by their local dates, then by their stored times; the zone
// takes no part. A date minus a date is the whole days between them, the
// time difference carried with the left date's zone.
//
// A result whose year does not fit the 15-bit field raises math overflow,
// never a wrapped date; a conversion to 32-bit seconds that does not fit
// raises script out-of-range.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::date {

constexpr int32_t kMinYear = -16384;
constexpr int32_t kMaxYear = 16383;
constexpr int32_t kEpochDays = 719468;  // day number of 1 January 1970
constexpr double kSecondsPerDay = 86400.0;

// Date word fields.
constexpr uint32_t kTimeFlag = 1u << 16;
constexpr uint32_t kZoneMask = 0x7F;
constexpr uint32_t kZoneSign = 0x40;

inline int32_t year_of(uint32_t packed) { return static_cast<int32_t>(packed) >> 17; }
inline int32_t month_of(uint32_t packed) { return static_cast<int32_t>((packed >> 12) & 0x0F); }
inline int32_t day_of(uint32_t packed) { return static_cast<int32_t>((packed >> 7) & 0x1F); }
inline bool has_time(uint32_t packed) { return (packed & kTimeFlag) != 0; }
inline uint32_t zone_of(uint32_t packed) { return packed & kZoneMask; }
inline double time_of(const Cell& date) { return date.as_double(); }

// The date word of a local date (the year must fit: the caller checked).
uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool time_present);

// --- Constructors ---------------------------------------------------------------

// The lexer's constructor: sets the cell to the date with its local time of
// day (seconds) and its zone (hours -15..15 give the sign, minutes are
// stored in quarters; a negative minutes value also makes the zone
// negative). Without a time the flag is cleared and the time is 0.0.
Cell* set_cell(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
               int32_t zone_minutes, bool time_present);
// File dates: zone 0, time present, time = 3600 h + 60 m + s + 1e-9 ns.
Cell* set_cell_from_fields(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hours,
                           int32_t minutes, int32_t seconds, int32_t nanoseconds);
// A new date from a date word and a stored time, pushed on the stack or
// appended to a block.
Cell* push(uint32_t packed, double time);
Cell* make_in_block(const Cell* block, uint32_t packed, double time);

// The lexer's constructors for week and ordinal dates: move the date to
// ISO week n (the Monday of week 1 + 7 n - 7), to day n of its Monday-based
// week, or to day n of its year. Out-of-range values carry over.
Cell* set_week(Cell* cell, int32_t week);
Cell* set_week_day(Cell* cell, int32_t weekday);
Cell* set_year_day(Cell* cell, int32_t yearday);
// Sets the month, carrying whole years (13 is January of the next year, 0
// December of the previous one), then carries an overlong day into the next
// month (31 April becomes 1 May).
Cell* set_month(Cell* cell, int32_t month);
// Sets the local time of day (seconds) and normalises; with apply_zone the
// zone is subtracted first (the time given is local), else it is stored as
// it is.
Cell* set_time(Cell* cell, double time, bool apply_zone);

// --- Calendar ------------------------------------------------------------------------

bool leap_year_q(int32_t year);
// The day number of a local date (any month or day: out-of-range values
// carry over).
int32_t date_to_days(int32_t year, int32_t month, int32_t day);
// The date word of a day number, with the zone and the time flag given;
// a year outside the 15-bit field raises math overflow.
uint32_t days_to_date(int32_t days, uint32_t zone, bool time_present);
inline int32_t days_of(uint32_t packed) {
  return date_to_days(year_of(packed), month_of(packed), day_of(packed));
}
// The day number of 1 January of the date's year, the 1-based day of the
// year, and the day number of the Monday that starts ISO week 1 of a year.
int32_t year_day_1(uint32_t packed);
int32_t year_day(uint32_t packed);
int32_t week_one_monday(int32_t year);
// Monday 1 .. Sunday 7.
int32_t weekday(int32_t days);

// --- Zones and time -------------------------------------------------------------------

// The offset of zone bits in seconds (signed).
double zone_seconds(uint32_t zone);
// The zone bits of a signed offset in hours and minutes (hours taken modulo
// 16 with their sign; minutes rounded down to quarter hours).
uint32_t make_zone(int32_t hours, int32_t minutes);
inline double add_zone(double seconds, uint32_t zone) { return seconds + zone_seconds(zone); }
inline double subtract_zone(double seconds, uint32_t zone) { return seconds - zone_seconds(zone); }
// Carries whole days between the day number and the stored time so that the
// local time (time + zone) lies in 0 .. 86400; returns the day number.
int32_t normalize_time(int32_t days, double* time, uint32_t zone);

// Seconds since 1970-01-01 00:00 UTC: (days - 719468) x 86400 + the stored
// time rounded; raises script out-of-range with the date when the result
// leaves the 32-bit range (after 2038, before 1901).
int32_t to_epoch_seconds(const Cell& date);
// Sets the cell (a date, the left operand) to the difference of the two
// dates as a time!.
Cell* to_time_value(Cell* cell, const Cell& other);

// The local calendar fields of the current moment, with the local zone
// (from the platform clock).
Cell now(bool utc);

// --- Fields ------------------------------------------------------------------------------

// Field numbers of paths and pick.
enum Field : int32_t {
  kFieldDate = 1,
  kFieldYear = 2,
  kFieldMonth = 3,
  kFieldDay = 4,
  kFieldZone = 5,
  kFieldTime = 6,
  kFieldHour = 7,
  kFieldMinute = 8,
  kFieldSecond = 9,
  kFieldWeekday = 10,
  kFieldYearday = 11,
  kFieldTimezone = 12,
  kFieldWeek = 13,
  kFieldIsoweek = 14,
};
// The field a path element or pick index names: 1..14 for those integers
// and the field words (yearday and julian are one field); 0 otherwise.
int32_t field_of(const Cell& selector);
Cell get_field(const Cell& date, int32_t field);
// Sets the field of the date cell in place (errors: script invalid-arg for
// a value of the wrong type).
void set_field(Cell* date, int32_t field, const Cell& value);

// --- Arithmetic ----------------------------------------------------------------------------

// add or subtract on the frame (left a date!): integer! days, time!
// seconds, and date - date giving the days between. The result replaces
// the frame's first cell.
Cell* do_math(int32_t op);

// --- Text ----------------------------------------------------------------------------------

// The month names that mold abbreviates (system/locale/months) come from
// the registration table's month_names entry, which the library fills
// (until it has, the English names are used). It answers a block of
// strings; a list that is too short, or holds a value that is not a string
// at the month's place, raises script invalid-months.

// Action handlers.
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* random(Cell* value, int seed, int secure, int only);
Cell* to(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_sensitive, bool get, bool tail);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* add();
Cell* subtract();
Cell* pick(Cell* value, int32_t index, Cell* boxed);

// Registers date! (id 47, no parent).
void init();

}  // namespace kel::date
