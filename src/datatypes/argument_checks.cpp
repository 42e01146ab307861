// Argument checks (see argument_checks.h).
#include "datatypes/argument_checks.h"

#include <cmath>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "runtime/errors.h"

namespace kel {

void raise_expect_arg(int32_t index, TypeId type) {
  Cell call = error_value::call_word();
  Cell datatype = datatype::make(type);
  Cell argument = error_value::call_argument_word(index);
  fire(ErrorId::script_expect_arg, &call, &datatype, &argument);
}

const Cell* check_arg_type(const Cell& typeset, int32_t index, const Cell* value) {
  if (!typeset_has(typeset, value->type())) raise_expect_arg(index, value->type());
  return value;
}

const Cell* check_arg_not_unset(int32_t index, const Cell* value) {
  if (value->is(TYPE_UNSET)) raise_expect_arg(index, TYPE_UNSET);
  return value;
}

int32_t number_to_integer(const Cell& value) {
  if (value.is(TYPE_INTEGER)) return value.int_at2();
  double d = value.as_double();
  if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) fire(ErrorId::script_out_of_range, &value);
  return static_cast<int32_t>(d);
}

}  // namespace kel
