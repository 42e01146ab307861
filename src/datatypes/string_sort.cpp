// string! sort and the set operations (unique, union, intersect, exclude,
// difference) on characters.
//
// sort hands the characters from the index to the runtime's sorts as
// records of /skip characters, with a comparator chosen by the unit and the
// options (case, /reverse, the field a record is ordered by, whole records
// with /all), or one that calls a user function through the evaluator's
// hook. binary! and vector! inherit this sort: bytes compare as 1-byte text,
// vector! numbers as numbers (signed integers, floats), always with case.
//
// A user function may run any Kel code, so its sort orders record numbers
// and reads each record from the live series (function_sort.h); the plain
// comparators run no Kel code and sort the units in place. An owned series
// tells its owner before and after (sort/sorted), and the sort works on
// what the owner left of the stretch.
//
// The set operations build a new string from records whose first character
// passes a membership test, skipping any already in the result; both tests
// go through has_char, folded unless the case flag is set.
#include <algorithm>
#include <cstring>

#include "datatypes/function_sort.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "runtime/stack.h"
#include "runtime/case_folding.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/sort.h"
#include "runtime/unicode.h"
#include "runtime/upcalls.h"

namespace kel::string {

using detail::refinement_argument;

// --- User comparison functions ---------------------------------------------------------------

namespace {
}


// A number answers the other way round from a block's comparison function:
// the function sees the second character first, so a - b orders ascending
// here just as a < b does.
int32_t comparator_result(const Cell& result) {
  switch (result.type()) {
    case TYPE_LOGIC: return result.data1 != 0 ? 1 : -1;
    case TYPE_INTEGER: {
      int32_t i = result.int_at2();
      return i == INT32_MIN ? INT32_MAX : -i;
    }
    case TYPE_FLOAT: {
      double d = result.as_double();
      return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
    }
    case TYPE_NONE: return -1;
    default: return 1;
  }
}

// --- sort ----------------------------------------------------------------------------------------

namespace {
enum class ElementKind : uint8_t { kText, kSignedInteger, kFloat };

struct SortContext {
  const Cell* series;
  uint32_t unit;
  uint32_t record;   // characters per record
  uint32_t offset;   // the character a record is ordered by
  bool all;          // order by every character of the record
  bool case_sensitive;
  bool reverse;
  ElementKind kind;
};

// A sort through a user function: the records are read from the live
// series by number (see function_sort.h).
struct CallContext {
  const Cell* series;
  uint32_t start;        // the stretch's first character
  uint32_t record;       // characters per record
  uint32_t offset;       // the character handed to the function
  bool all;              // hand whole records (as strings) instead
  bool reverse;
  const Cell* function;
  Cell* first_record;    // with /all: the two records as strings
  Cell* second_record;
};

int32_t compare_elements(const uint8_t* a, const uint8_t* b, const SortContext& context) {
  uint32_t unit = context.unit;
  switch (context.kind) {
    case ElementKind::kFloat: {
      double x, y;
      if (unit == 4) {
        float fx, fy;
        std::memcpy(&fx, a, 4);
        std::memcpy(&fy, b, 4);
        x = fx;
        y = fy;
      } else {
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
      }
      return x < y ? -1 : x > y ? 1 : 0;
    }
    case ElementKind::kSignedInteger: {
      auto read = [unit](const uint8_t* p) -> int32_t {
        switch (unit) {
          case 1: return static_cast<int8_t>(p[0]);
          case 2: return static_cast<int16_t>(p[0] | (p[1] << 8));
          default: return static_cast<int32_t>(unicode::get_char(p, 4));
        }
      };
      int32_t x = read(a), y = read(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    case ElementKind::kText: {
      uint32_t x = unicode::get_char(a, unit), y = unicode::get_char(b, unit);
      if (!context.case_sensitive) {
        if (unit == 1) {
          // The 1-byte order folds only the ASCII capitals, to lower case.
          if (x >= 'A' && x <= 'Z') x += 32;
          if (y >= 'A' && y <= 'Z') y += 32;
        } else {
          x = case_folding::to_upper_char(x);
          y = case_folding::to_upper_char(y);
        }
      }
      return x < y ? -1 : x > y ? 1 : 0;
    }
  }
  return 0;
}

int32_t compare_records(const void* a, const void* b, void* argument, void*) {
  const auto& context = *static_cast<const SortContext*>(argument);
  auto x = static_cast<const uint8_t*>(a);
  auto y = static_cast<const uint8_t*>(b);
  int32_t result = 0;
  if (context.all) {
    for (uint32_t i = 0; i < context.record && result == 0; ++i) {
      result = compare_elements(x + i * context.unit, y + i * context.unit, context);
    }
  } else {
    uint32_t at = context.offset * context.unit;
    result = compare_elements(x + at, y + at, context);
  }
  return context.reverse ? -result : result;
}

// The value a user function receives for a record: its character (an
// element value for binary! and vector!), or with /all a scratch string
// holding a copy of the record.
Cell record_value(const CallContext& context, uint32_t record, Cell* scratch) {
  uint32_t position = context.start + record * context.record;
  if (context.all) {
    rs_reset(scratch);
    uint32_t unit = detail::element_unit(context.series);
    SeriesBuffer* b = detail::widen_to(buffer_of(scratch), unit);
    b = detail::open_gap(b, 0, context.record);
    const uint8_t* from = memory::buffer_of(context.series->data2)->head_ptr() + size_t{position} * unit;
    std::memcpy(b->head_ptr(), from, size_t{context.record} * unit);
    return *scratch;
  }
  return detail::element_value(context.series, position + context.offset);
}

int32_t call_comparator(uint32_t a, uint32_t b, void* argument) {
  const auto& context = *static_cast<const CallContext*>(argument);
  Cell first = record_value(context, a, context.first_record);
  Cell second = record_value(context, b, context.second_record);
  // The function sees the second record first, unless the order is reversed.
  Cell result = context.reverse ? upcalls::table.call_comparison(*context.function, first, second)
                                : upcalls::table.call_comparison(*context.function, second, first);
  return comparator_result(result);
}
}  // namespace

Cell* sort(Cell* series, int case_sensitive, int skip, int compare, int part, int all, int reverse, int stable) {
  uint32_t length = detail::elements_from_head(series);
  if (series->data1 > length) series->data1 = length;
  uint32_t index = series->data1;
  uint32_t count = length - index;
  int64_t covered = series::kToTail;  // what the sort covers once the owner has heard of it

  if (part >= 0) {
    int64_t wanted = detail::part_count(series, refinement_argument(part));
    covered = wanted < 0 ? -wanted : wanted;
    if (wanted < 0) {
      // A negative part sorts the characters before the index, from their start.
      if (index + wanted < 0) {
        series->data1 = 0;
        *stack::arguments() = *series;
        return stack::arguments();
      }
      index = static_cast<uint32_t>(index + wanted);
      count = static_cast<uint32_t>(-wanted);
      series->data1 = index;
    } else {
      count = std::min<uint32_t>(count, static_cast<uint32_t>(wanted));
    }
  }

  uint32_t record = 1;
  if (skip >= 0) {
    Cell* size = refinement_argument(skip);
    if (!size->is(TYPE_INTEGER)) detail::bad_refinement_argument(detail::Refinement::kSkip, size);
    int32_t n = size->int_at2();
    if (n < 1 || static_cast<uint32_t>(n) > count || count % static_cast<uint32_t>(n) != 0) {
      detail::bad_refinement_argument(detail::Refinement::kSkip, size);
    }
    record = static_cast<uint32_t>(n);
  }
  if (all >= 0 && skip < 0) fire(ErrorId::script_bad_refines);

  SortContext context{};
  context.series = series;
  context.unit = detail::element_unit(series);
  context.record = record;
  context.all = all >= 0;
  context.reverse = reverse >= 0;
  context.case_sensitive = case_sensitive >= 0 || series->is(TYPE_VECTOR);
  context.kind = ElementKind::kText;
  if (series->is(TYPE_VECTOR)) {
    TypeId element_type = series->data3;
    if (element_type == TYPE_FLOAT || element_type == TYPE_PERCENT) context.kind = ElementKind::kFloat;
    if (element_type == TYPE_INTEGER) context.kind = ElementKind::kSignedInteger;
  }

  stack::Guard guard;
  CallContext call{};
  if (compare >= 0) {
    Cell* comparison = refinement_argument(compare);
    if (comparison->is(TYPE_INTEGER)) {
      if (skip < 0 || all >= 0) fire(ErrorId::script_bad_refines);
      int32_t field = comparison->int_at2();
      if (field < 1 || static_cast<uint32_t>(field) > record) fire(ErrorId::script_out_of_range, comparison);
      context.offset = static_cast<uint32_t>(field - 1);
    } else if (comparison->is(TYPE_FUNCTION)) {
      if (upcalls::table.call_comparison == nullptr) fire(ErrorId::internal_not_done);
      call.function = comparison;
      if (context.all) {
        call.first_record = push_new(record);
        call.second_record = push_new(record);
      }
    } else {
      detail::bad_refinement_argument(detail::Refinement::kCompare, comparison);
    }
  }

  series::Stretch stretch = series::announce(*series, runtime_words::sort, nullptr, index, covered);
  // Whole records of what the owner left of the stretch.
  uint32_t records = stretch.count / record;
  if (call.function != nullptr) {
    call.series = series;
    call.start = stretch.start;
    call.record = record;
    call.offset = context.offset;
    call.all = context.all;
    call.reverse = context.reverse;
    series::sort_by_function(series, stretch.start, records, record, stable >= 0, call_comparator, &call);
  } else if (records > 1) {
    // The comparators read units and run no Kel code: the records can be
    // sorted where they lie.
    uint32_t unit = detail::element_unit(series);
    context.unit = unit;
    uint8_t* base = memory::buffer_of(series->data2)->head_ptr() + size_t{stretch.start} * unit;
    if (stable >= 0) {
      kel::sort::merge_sort(base, records, record * unit, &context, nullptr, compare_records);
    } else {
      kel::sort::quick_sort(base, records, record * unit, &context, nullptr, compare_records);
    }
  }
  stretch.part = static_cast<int32_t>(records * record);
  series::announce_done(*series, runtime_words::sorted, nullptr, stretch);
  *stack::arguments() = *series;
  return stack::arguments();
}

// --- Set operations ------------------------------------------------------------------------------

namespace {
constexpr int32_t kUnique = 8;
constexpr int32_t kUnion = 9;
constexpr int32_t kIntersect = 10;
constexpr int32_t kExclude = 11;
constexpr int32_t kDifference = 12;

// Adds the records of source whose first character passes the test (and is
// not in the result yet) to the result.
template <class Passes>
void add_records(Cell* result, const Cell* source, uint32_t skip, bool case_sensitive, Passes&& passes) {
  uint32_t length = rs_length_from_head(source);
  for (uint32_t position = source->data1; position < length; position += skip) {
    uint32_t c = rs_abs_at(source, position);
    if (!passes(c) || has_char(result, c, static_cast<int32_t>(skip), case_sensitive)) continue;
    Cell record = *source;
    record.data1 = position;
    concatenate(result, &record, static_cast<int32_t>(skip), 0, Concatenate::kAppend);
  }
}
}  // namespace

Cell* do_set_op(Cell* first, Cell* second, bool case_sensitive, int32_t skip, int32_t op) {
  if (skip < 1) {
    Cell size = make_cell(TYPE_INTEGER, 0, static_cast<uint32_t>(skip));
    detail::bad_refinement_argument(detail::Refinement::kSkip, &size);
  }
  if (op != kUnique && !is_string_like(second->type())) fire(ErrorId::script_invalid_arg, second);
  first->data1 = std::min(first->data1, rs_length_from_head(first));
  if (op != kUnique) second->data1 = std::min(second->data1, rs_length_from_head(second));

  uint32_t capacity = rs_length(first) + (op == kUnion ? rs_length(second) : 0);
  stack::Guard guard;
  Cell* result = push_new(capacity == 0 ? 1 : capacity);
  auto step = static_cast<uint32_t>(skip);
  auto in_second = [&](uint32_t c) { return has_char(second, c, skip, case_sensitive); };
  auto in_first = [&](uint32_t c) { return has_char(first, c, skip, case_sensitive); };
  auto always = [](uint32_t) { return true; };
  switch (op) {
    case kUnique:
      add_records(result, first, step, case_sensitive, always);
      break;
    case kUnion:
      add_records(result, first, step, case_sensitive, always);
      add_records(result, second, step, case_sensitive, always);
      break;
    case kIntersect:
      add_records(result, first, step, case_sensitive, in_second);
      break;
    case kExclude:
      add_records(result, first, step, case_sensitive, [&](uint32_t c) { return !in_second(c); });
      break;
    case kDifference:
      add_records(result, first, step, case_sensitive, [&](uint32_t c) { return !in_second(c); });
      add_records(result, second, step, case_sensitive, [&](uint32_t c) { return !in_first(c); });
      break;
    default:
      fire(ErrorId::internal_not_done);
  }
  result->set_type(first->type());
  *first = *result;
  return first;
}

}  // namespace kel::string
