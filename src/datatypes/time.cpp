// time!: construction, fields, text form and the arithmetic rules of its
// own (see time.h for the cell and the field rules).
#include "datatypes/time.h"

#include <charconv>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/checked_math.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"

namespace kel::time_type {

namespace {

[[noreturn]] void bad_to_arg(const Cell* spec) {
  Cell type = datatype::make(TYPE_TIME);
  fire_bad_to_arg(&type, spec);
}

[[noreturn]] void not_related(uint32_t action_symbol, TypeId type) {
  Cell action = word::make_value(action_symbol, 0, -1);
  Cell datatype = datatype::make(type);
  fire(ErrorId::script_not_related, &action, &datatype);
}

bool is_number(const Cell& value) {
  return value.is(TYPE_INTEGER) || value.is(TYPE_FLOAT);
}
double number_of(const Cell& value) {
  return value.is(TYPE_INTEGER) ? static_cast<double>(integer::get(value)) : value.as_double();
}

// Hours, minutes, seconds from a block: at most three values; a negative
// hour makes the whole time negative, a negative minute or second is
// refused.
double from_block(const Cell* spec) {
  SeriesBuffer* buffer = block::buffer_of(spec);
  uint32_t count = buffer->cell_count() > spec->data1 ? buffer->cell_count() - spec->data1 : 0;
  if (count > 3) bad_to_arg(spec);
  const Cell* values = buffer->cells() + spec->data1;
  double parts[3] = {0.0, 0.0, 0.0};
  for (uint32_t i = 0; i < count; ++i) {
    bool allowed = i < 2 ? values[i].is(TYPE_INTEGER) : is_number(values[i]);
    if (!allowed) bad_to_arg(spec);
    parts[i] = number_of(values[i]);
    if (i > 0 && parts[i] < 0) bad_to_arg(spec);
  }
  bool negative = parts[0] < 0;
  double total = std::fabs(parts[0]) * kSecondsPerHour + parts[1] * kSecondsPerMinute + parts[2];
  return negative ? -total : total;
}

double from_text(const Cell* spec) {
  Cell loaded = make_cell(TYPE_UNSET);
  if (word::scan_text(string::to_std_string(*spec), &loaded) != TYPE_TIME || !loaded.is(TYPE_TIME))
    bad_to_arg(spec);
  return get(loaded);
}

void append_ascii(Cell* buffer, const char* text, size_t length) {
  string::concatenate_literal_part(buffer, text, static_cast<uint32_t>(length));
}

}  // namespace

// --- Constructors -------------------------------------------------------------------

Cell* make_at(Cell* cell, double seconds) {
  cell->set_type(TYPE_TIME);
  cell->data1 = 0;
  cell->set_double(seconds);
  return cell;
}

Cell* push(double seconds) { return stack::push(make(seconds)); }

Cell* make_in(const Cell* block, double seconds) { return append_value(block, make(seconds)); }

// --- Fields ---------------------------------------------------------------------------

int32_t get_hours(double seconds) {
  double hours = std::trunc(seconds / kSecondsPerHour);
  if (!checked_math::truncates_to_integer(hours)) {
    Cell shown = make(seconds);
    fire(ErrorId::script_out_of_range, &shown);
  }
  return static_cast<int32_t>(hours);
}

int32_t get_minutes(double seconds) {
  return static_cast<int32_t>(std::floor(std::fmod(std::fabs(seconds), kSecondsPerHour) / kSecondsPerMinute));
}

Cell get_field(double seconds, int32_t field) {
  switch (field) {
    case kFieldHour: return integer::make(get_hours(seconds));
    case kFieldMinute: return integer::make(get_minutes(seconds));
    default: return float_type::make(std::fmod(seconds, kSecondsPerMinute));
  }
}

double set_field(double seconds, int32_t field, const Cell& value) {
  double magnitude = std::fabs(seconds);
  bool negative = seconds < 0;
  switch (field) {
    case kFieldHour: {
      if (!value.is(TYPE_INTEGER)) fire(ErrorId::script_invalid_arg, &value);
      // The getter shows the hours of a negative time with their sign, so
      // the hour given is taken by its magnitude and a negative one makes
      // the time negative.
      int64_t hour = integer::get(value);
      if (hour < 0) negative = true;
      double wanted = static_cast<double>(hour < 0 ? -hour : hour);
      magnitude -= (std::floor(magnitude / kSecondsPerHour) - wanted) * kSecondsPerHour;
      return negative ? -magnitude : magnitude;
    }
    case kFieldMinute: {
      if (!value.is(TYPE_INTEGER)) fire(ErrorId::script_invalid_arg, &value);
      double wanted = static_cast<double>(integer::get(value));
      double current = std::floor(std::fmod(magnitude, kSecondsPerHour) / kSecondsPerMinute);
      magnitude -= (current - wanted) * kSecondsPerMinute;
      return negative ? -magnitude : magnitude;
    }
    default: {
      if (!is_number(value)) fire(ErrorId::script_invalid_arg, &value);
      return seconds - (std::fmod(seconds, kSecondsPerMinute) - number_of(value));
    }
  }
}

int32_t field_of(const Cell& selector) {
  if (selector.is(TYPE_INTEGER)) {
    int32_t n = integer::get(selector);
    return n >= 1 && n <= 3 ? n : 0;
  }
  if (!word::is_any_word(selector.type())) return 0;
  uint32_t symbol = symbol::resolve(word::symbol_of(selector));
  if (symbol == symbol::resolve(runtime_words::hour)) return kFieldHour;
  if (symbol == symbol::resolve(runtime_words::minute)) return kFieldMinute;
  if (symbol == symbol::resolve(runtime_words::second)) return kFieldSecond;
  return 0;
}

// --- Text -----------------------------------------------------------------------------

int32_t form_text(Cell* buffer, double seconds, int32_t part) {
  if (!std::isfinite(seconds)) {
    float_type::FloatText text = float_type::form_float(seconds, float_type::kFormTime);
    append_ascii(buffer, text.text, static_cast<size_t>(text.length));
    return part - text.length;
  }
  int32_t written = 0;
  if (seconds < 0) {
    append_ascii(buffer, "-", 1);
    ++written;
  }
  double magnitude = std::fabs(seconds);

  // Hours may exceed any integer type: the double's own integral digits.
  char hours[320];
  auto [hours_end, error] = std::to_chars(hours, hours + sizeof hours, std::floor(magnitude / kSecondsPerHour),
                                          std::chars_format::fixed, 0);
  (void)error;
  append_ascii(buffer, hours, static_cast<size_t>(hours_end - hours));
  written += static_cast<int32_t>(hours_end - hours);

  int32_t minutes = static_cast<int32_t>(std::floor(std::fmod(magnitude, kSecondsPerHour) / kSecondsPerMinute));
  char minute_text[4] = {':', static_cast<char>('0' + minutes / 10), static_cast<char>('0' + minutes % 10), ':'};
  append_ascii(buffer, minute_text, 4);
  written += 4;

  double rest = std::fmod(magnitude, kSecondsPerMinute);
  if (rest < kSmallestSecond) {
    append_ascii(buffer, "00", 2);
    written += 2;
  } else {
    float_type::FloatText text = float_type::form_float(rest, float_type::kFormTime);
    bool one_digit = text.length == 1 || (text.length > 1 && text.text[1] == '.');
    if (one_digit) {
      append_ascii(buffer, "0", 1);
      ++written;
    }
    append_ascii(buffer, text.text, static_cast<size_t>(text.length));
    written += text.length;
  }
  return part - written;
}

// --- Action handlers ----------------------------------------------------------------

Cell* make(Cell*, Cell* spec, TypeId) {
  double seconds;
  switch (spec->type()) {
    case TYPE_TIME: seconds = get(*spec); break;
    case TYPE_INTEGER: seconds = static_cast<double>(integer::get(*spec)); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: seconds = spec->as_double(); break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: seconds = from_block(spec); break;
    default:
      if (!string::is_string_like(spec->type())) bad_to_arg(spec);
      seconds = from_text(spec);
  }
  return stack::set_result(make(seconds));
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return form_text(buffer, get(*value), part); }

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
  return form_text(buffer, get(*value), part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool) {
  int32_t field = field_of(*element);
  if (field == 0) fire(ErrorId::script_invalid_path, path, element);
  if (value == nullptr) return stack::push(get_field(get(*parent), field));
  // The owner of the cell is told of the change once ownership exists.
  parent->set_double(set_field(get(*parent), field, *value));
  return stack::push(*value);
}

Cell* add() {
  Cell* left = stack::arguments();
  if (left[1].is(TYPE_DATE)) {
    // time + date is date + time.
    std::swap(left[0], left[1]);
    return date::do_math(kOpAdd);
  }
  return float_type::do_math(kOpAdd);
}

Cell* subtract() {
  if (stack::arguments()[1].is(TYPE_DATE)) not_related(runtime_words::subtract, TYPE_TIME);
  return float_type::do_math(kOpSubtract);
}

Cell* multiply() {
  if (stack::arguments()[1].is(TYPE_TIME)) not_related(runtime_words::multiply, TYPE_TIME);
  return float_type::do_math(kOpMultiply);
}

Cell* divide() {
  Cell* left = stack::arguments();
  bool ratio = left[1].is(TYPE_TIME);
  Cell* result = float_type::do_math(kOpDivide);
  if (ratio) result->set_type(TYPE_FLOAT);
  return result;
}

Cell* round(Cell* value, int to, int even, int down, int half_down, int floor, int ceiling, int half_ceiling) {
  RoundRefinements refinements = RoundRefinements::from_handler(even, down, half_down, floor, ceiling, half_ceiling);
  if (to >= 0) {
    refinements.scale = &stack::arguments()[to];
    if (refinements.scale->is(TYPE_MONEY)) {
      Cell action = word::make_value(symbol::make("round"), 0, -1);
      Cell money = datatype::make(TYPE_MONEY);
      fire(ErrorId::script_not_related, &action, &money);
    }
  }
  Cell* result = float_type::round_value(value, refinements);
  double seconds = result->is(TYPE_INTEGER) ? static_cast<double>(integer::get(*result)) : result->as_double();
  return make_at(result, seconds);
}

namespace {
// The whole seconds field, nudged away from zero so that a value a hair
// below a whole second counts as that second.
int64_t whole_seconds(double seconds) {
  double nudged = seconds >= 0 ? seconds + kSmallestSecond : seconds - kSmallestSecond;
  return static_cast<int64_t>(std::trunc(std::fmod(nudged, kSecondsPerMinute)));
}
}  // namespace

Cell* even_q(Cell* number) { return logic::box(whole_seconds(get(*number)) % 2 == 0); }

Cell* odd_q(Cell* number) { return logic::box(whole_seconds(get(*number)) % 2 != 0); }

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
  Cell selector = boxed != nullptr ? *boxed : integer::make(index);
  int32_t field = field_of(selector);
  if (field == 0) fire(ErrorId::script_out_of_range, &selector);
  return stack::set_result(get_field(get(*value), field));
}

void init() {
  DatatypeRecord record(TYPE_TIME, TYPE_FLOAT, "time!");
  record.handle<Action::make>(make)
      .handle<Action::to>(make)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::eval_path>(eval_path)
      .handle<Action::add>(add)
      .handle<Action::subtract>(subtract)
      .handle<Action::multiply>(multiply)
      .handle<Action::divide>(divide)
      .handle<Action::round>(round)
      .handle<Action::even_q>(even_q)
      .handle<Action::odd_q>(odd_q)
      .handle<Action::pick>(pick)
      .inherit(Action::random)
      .inherit(Action::compare)
      .inherit(Action::absolute)
      .inherit(Action::negate)
      .inherit(Action::remainder);
  register_datatype(record);
}

}  // namespace kel::time_type
