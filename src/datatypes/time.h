// time!: a time of day or a duration, held as a number of seconds.
//
// Cell: type 43, the seconds as a double in data2 (low half) and data3
// (high half), negative for negative durations; data1 carries nothing.
// time! is a child of float!: random, compare, absolute, negate and
// remainder are float!'s, and its arithmetic goes through the float
// arithmetic with the few rules of its own below (time + date is the date
// arithmetic, time * time and time - date are refused, time / time is a
// plain float!).
//
// The fields: hours are the seconds / 3600 truncated toward zero (so they
// carry the sign), minutes are taken from the absolute value (0-59), and
// seconds are fmod(seconds, 60), a float with the sign of the value. The
// text form writes "-" and then the fields of the absolute value:
// -3660 seconds is "-1:01:00". Setting the hour or the minute works on the
// absolute value the same way and puts the sign back, so t/hour: t/hour
// never changes t.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::time_type {

constexpr double kSecondsPerHour = 3600.0;
constexpr double kSecondsPerMinute = 60.0;
// The smallest seconds value that is written or rounded as non-zero.
constexpr double kSmallestSecond = 1e-06;

// Field numbers of paths and pick (1 hour, 2 minute, 3 second).
constexpr int32_t kFieldHour = 1;
constexpr int32_t kFieldMinute = 2;
constexpr int32_t kFieldSecond = 3;

inline Cell make(double seconds) {
  Cell cell = make_cell(TYPE_TIME);
  cell.set_double(seconds);
  return cell;
}
inline double get(const Cell& cell) { return cell.as_double(); }

// Sets the cell to a time! (its new-line flag kept).
Cell* make_at(Cell* cell, double seconds);
// Pushes a new time! on the evaluation stack.
Cell* push(double seconds);
// Appends a time! to the block.
Cell* make_in(const Cell* block, double seconds);

// The hour field (truncated toward zero; a value outside the 32-bit range
// raises script out-of-range) and the minute field (0-59, of the absolute
// value).
int32_t get_hours(double seconds);
int32_t get_minutes(double seconds);
// The field 1..3 as a value: hours and minutes integer!, seconds float!.
Cell get_field(double seconds, int32_t field);
// The seconds after setting field 1..3 to the value, as a path set does:
// hour and minute take an integer!, second an integer! or float!; any other
// value raises script invalid-arg.
double set_field(double seconds, int32_t field, const Cell& value);
// The field number a path element or pick index names: 1..3 for the
// integers 1..3 and the words hour, minute and second; 0 otherwise.
int32_t field_of(const Cell& selector);

// Appends the text form "h:mm:ss" to the string; returns the part budget
// less what was written.
int32_t form_text(Cell* buffer, double seconds, int32_t part);

// Action handlers.
Cell* make(Cell* proto, Cell* spec, TypeId type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_sensitive, bool get, bool tail);
Cell* add();
Cell* subtract();
Cell* multiply();
Cell* divide();
Cell* round(Cell* value, int to, int even, int down, int half_down, int floor, int ceiling,
            int half_ceiling);
Cell* even_q(Cell* number);
Cell* odd_q(Cell* number);
Cell* pick(Cell* value, int32_t index, Cell* boxed);

// Registers time! (id 43, parent float!).
void init();

}  // namespace kel::time_type
