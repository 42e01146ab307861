// port! (see port.h): making ports from schemes and forwarding actions to
// their actors.
//
// Each forwarder gathers, in a small array, the cells the actor's function
// receives after the port, then call_actor opens the function frame, fits
// the cells to the function's own frame (missing arguments are none and
// missing refinements false, extra cells are dropped) and runs the body.
#include "datatypes/port.h"

#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"
#include "runtime/root_block.h"
#include "runtime/upcalls.h"
#include "datatypes/argument_cache.h"
#include "runtime/exits.h"

namespace kel::port {

namespace {
NodeId port_template = 0;       // the built-in port template's context
NodeId url_parts_template = 0;  // the built-in url-parts template's context

// A template object of fields all none, kept in the root block.
NodeId make_template(std::initializer_list<const char*> names) {
  stack::Guard guard;
  Cell* made = object::push_new(static_cast<uint32_t>(names.size()), object::kStartUpClass);
  for (const char* name : names) context::put_value(object::context_of(*made), symbol::make(name), none::value);
  root::keep(*made);
  return object::context_of(*made);
}

// The value at a chain of fields under the global `system` object, or none
// when any link is missing or is not an object.
Cell system_member(std::initializer_list<const char*> names) {
  Cell* system = context::global_slot(runtime_words::system);
  if (system == nullptr || !object::is_object_kind(system->type())) return none::value;
  Cell current = *system;
  for (const char* name : names) {
    if (!object::is_object_kind(current.type())) return none::value;
    current = *object::find_field(object::context_of(current), symbol::make(name));
  }
  return current;
}

Cell template_object(const char* name, NodeId* fallback, std::initializer_list<const char*> fields) {
  Cell found = system_member({"standard", name});
  if (object::is_object_kind(found.type())) return found;
  if (*fallback == 0) *fallback = make_template(fields);
  return *context::self_cell(*fallback);
}

Cell standard_port() {
  return template_object("port", &port_template, {"spec", "scheme", "actor", "awake", "state", "data", "extra"});
}

Cell standard_url_parts() {
  return template_object("url-parts", &url_parts_template,
                         {"scheme", "user-info", "host", "port", "path", "target", "query", "fragment", "ref"});
}

// The scheme registered under a word: system/schemes holds [name scheme]
// pairs (an object of schemes is read by field).
Cell find_scheme(const Cell& name) {
  Cell schemes = system_member({"schemes"});
  uint32_t wanted = symbol::resolve(word::symbol_of(name));
  if (object::is_object_kind(schemes.type())) return *object::find_field(object::context_of(schemes), wanted);
  if (!schemes.is(TYPE_BLOCK)) return none::value;
  NodeId node = schemes.data2;
  for (uint32_t i = schemes.data1; i + 1 < memory::buffer_of(node)->cell_count(); i += 2) {
    const Cell& key = memory::buffer_of(node)->cells()[i];
    if (word::is_any_word(key.type()) && symbol::resolve(word::symbol_of(key)) == wanted)
      return memory::buffer_of(node)->cells()[i + 1];
  }
  return none::value;
}

Cell* field_values(const Cell& object) { return context::values_head(object::context_of(object)); }

// The most cells a forwarder hands an actor's function after the port.
constexpr uint32_t kMaxActorCells = 16;

// The cells a forwarder hands to the actor after the port.
class Arguments {
 public:
  void value(const Cell& cell) {
    if (count_ < kCapacity) cells_[count_++] = cell;
  }
  // A refinement without argument: its logic.
  void flag(int refinement) { value(logic::make(refinement >= 0)); }
  // A refinement with an argument: its logic and its value (none when the
  // refinement is not used).
  void with_value(int refinement) {
    flag(refinement);
    value(refinement >= 0 ? stack::arguments()[refinement] : none::value);
  }
  // The same for an integer count that means "not used" below a minimum.
  void with_count(int refinement, int32_t minimum) {
    if (refinement >= 0) {
      const Cell& given = stack::arguments()[refinement];
      if (given.is(TYPE_INTEGER) && given.int_at2() < minimum) refinement = -1;
    }
    with_value(refinement);
  }
  const Cell* cells() const { return cells_; }
  uint32_t count() const { return count_; }

 private:
  static constexpr uint32_t kCapacity = kMaxActorCells;
  Cell cells_[kCapacity];
  uint32_t count_ = 0;
};

// Calls the actor's function for an action with the gathered cells (null
// when an exit left it, as call_actor).
Cell* call_actor_with(const Cell& port, uint32_t action_symbol, const Arguments& arguments) {
  return call_actor(port, action_symbol, arguments.cells(), arguments.count());
}

Cell* forward(uint32_t action_symbol, const Arguments& arguments) {
  Cell port = stack::arguments()[0];
  Cell* result = call_actor_with(port, action_symbol, arguments);
  return result != nullptr ? result : stack::arguments();
}

Cell* forward_plain(uint32_t action_symbol) { return forward(action_symbol, Arguments{}); }

Cell* forward_second(uint32_t action_symbol) {
  Arguments a;
  a.value(stack::arguments()[1]);
  return forward(action_symbol, a);
}

// Action words the runtime word list lacks, interned on first use.
uint32_t at_symbol() {
  static const uint32_t word_symbol = symbol::make("at");
  return word_symbol;
}
uint32_t put_symbol() {
  static const uint32_t word_symbol = symbol::make("put");
  return word_symbol;
}

// --- Forwarders, one per action -----------------------------------------------------------

template <uint32_t* Symbol>
Cell* plain() {
  return forward_plain(*Symbol);
}
template <uint32_t* Symbol>
Cell* plain_one(Cell*) {
  return forward_plain(*Symbol);
}
template <uint32_t* Symbol>
Cell* second() {
  return forward_second(*Symbol);
}

Cell* at() { return forward_second(at_symbol()); }

template <uint32_t* Symbol>
Cell* insertion(Cell*, Cell* value, int part, int only, int dup) {
  Arguments a;
  a.value(*value);
  a.with_count(part, 0);
  a.flag(only);
  a.with_count(dup, 2);
  return forward(*Symbol, a);
}

Cell* copy(Cell*, Cell*, int part, int deep, int types) {
  Arguments a;
  a.with_count(part, 0);
  a.flag(deep);
  a.with_value(types);
  return forward(runtime_words::copy, a);
}

Cell* find(Cell*, Cell* value, int part, int only, int case_sensitive, int same, int any, int with, int skip,
           int last, int reverse, int tail, int match) {
  Arguments a;
  a.value(*value);
  a.with_count(part, 0);
  for (int r : {only, case_sensitive, same, any}) a.flag(r);
  a.with_value(with);
  a.with_value(skip);
  for (int r : {last, reverse, tail, match}) a.flag(r);
  return forward(runtime_words::find, a);
}

Cell* select(Cell*, Cell* value, int part, int only, int case_sensitive, int same, int any, int with, int skip,
             int last, int reverse) {
  Arguments a;
  a.value(*value);
  a.with_count(part, 0);
  for (int r : {only, case_sensitive, same, any}) a.flag(r);
  a.with_value(with);
  a.with_value(skip);
  for (int r : {last, reverse}) a.flag(r);
  return forward(runtime_words::select, a);
}

int32_t length_q(Cell*) {
  Cell* result = forward_plain(runtime_words::length_q);
  return result->is(TYPE_INTEGER) ? result->int_at2() : -1;
}

Cell* move(Cell*, Cell* target, int part) {
  Arguments a;
  a.value(*target);
  a.with_count(part, 0);
  return forward(runtime_words::move, a);
}

Cell* pick(Cell*, int32_t, Cell* boxed) {
  Arguments a;
  a.value(*boxed);
  return forward(runtime_words::pick, a);
}

Cell* poke(Cell*, int32_t, Cell* data, Cell* boxed) {
  Arguments a;
  a.value(*boxed);
  a.value(*data);
  return forward(runtime_words::poke, a);
}

Cell* put(Cell*, Cell* key, Cell* value, int case_sensitive) {
  Arguments a;
  a.value(*key);
  a.value(*value);
  a.flag(case_sensitive);
  return forward(put_symbol(), a);
}

Cell* remove(Cell*, int part, int) {
  Arguments a;
  a.with_count(part, 0);
  return forward(runtime_words::remove, a);
}

Cell* reverse(Cell*, int part, int) {
  Arguments a;
  a.with_count(part, 0);
  return forward(runtime_words::reverse, a);
}

Cell* sort(Cell*, int case_sensitive, int skip, int compare, int part, int all, int reverse, int stable) {
  Arguments a;
  a.flag(case_sensitive);
  a.with_value(skip);
  a.with_value(compare);
  a.with_count(part, 0);
  for (int r : {all, reverse, stable}) a.flag(r);
  return forward(runtime_words::sort, a);
}

Cell* swap(Cell*, Cell* other) {
  Arguments a;
  a.value(*other);
  return forward(runtime_words::swap, a);
}

Cell* take(Cell*, int part, int deep, int last) {
  Arguments a;
  a.with_count(part, 0);
  a.flag(deep);
  a.flag(last);
  return forward(runtime_words::take, a);
}

Cell* trim(Cell*, int head, int tail, int automatic, int lines, int all, int with) {
  Arguments a;
  for (int r : {head, tail, automatic, lines, all}) a.flag(r);
  a.with_value(with);
  return forward(runtime_words::trim, a);
}

Cell* modify(Cell*, Cell* field, Cell* value, int case_sensitive) {
  Arguments a;
  a.value(*field);
  a.value(*value);
  a.flag(case_sensitive);
  return forward(runtime_words::modify, a);
}

// open's arguments for a port opened by read or write: nothing asked.
Arguments plain_open() {
  Arguments a;
  for (int k = 0; k < 4; ++k) a.flag(-1);
  a.value(none::value);
  return a;
}

Cell* open(Cell*, int new_, int read, int write, int seek, int allow) {
  Arguments a;
  for (int r : {new_, read, write, seek}) a.flag(r);
  a.value(allow >= 0 ? stack::arguments()[allow] : none::value);
  return forward(runtime_words::open, a);
}

Cell* rename(Cell*, Cell* to) {
  Arguments a;
  a.value(*to);
  return forward(runtime_words::rename, a);
}

// read: open, copy (its /part passed on), close; the copy is the result.
Cell* read(Cell* source, int part, int, int, int, int, int) {
  Cell port = *source;
  stack::push(port);
  if (call_actor_with(port, runtime_words::open, plain_open()) == nullptr) return stack::arguments();
  Arguments copy_arguments;
  copy_arguments.with_count(part, 0);
  copy_arguments.flag(-1);
  copy_arguments.with_value(-1);
  Cell* copied = call_actor_with(port, runtime_words::copy, copy_arguments);
  if (copied == nullptr) return stack::arguments();
  if (call_actor(port, runtime_words::close, nullptr, 0) == nullptr) return stack::arguments();
  stack::pop(1);
  return copied;
}

// write: open, insert the data (with its length when /part gives an
// integer), copy, close; the port is the result.
Cell* write(Cell* destination, Cell* data, int, int, int, int, int part, int, int, int) {
  Cell port = *destination;
  Cell given = *data;
  stack::push(port);
  stack::push(given);
  if (call_actor_with(port, runtime_words::open, plain_open()) == nullptr) return stack::arguments();
  Arguments insert_arguments;
  insert_arguments.value(given);
  bool length_given = part >= 0 && stack::arguments()[part].is(TYPE_INTEGER);
  insert_arguments.with_value(length_given ? part : -1);
  insert_arguments.flag(-1);
  insert_arguments.with_value(-1);
  if (call_actor_with(port, runtime_words::insert, insert_arguments) == nullptr)
    return stack::arguments();
  Arguments copy_arguments;
  copy_arguments.with_value(-1);
  copy_arguments.flag(-1);
  copy_arguments.with_value(-1);
  if (call_actor_with(port, runtime_words::copy, copy_arguments) == nullptr)
    return stack::arguments();
  if (call_actor(port, runtime_words::close, nullptr, 0) == nullptr) return stack::arguments();
  return stack::set_result(port);
}
}  // namespace

// --- Actor calls -----------------------------------------------------------------------------

Cell get_actor(const Cell& port) {
  Cell actor = object::size_of(port) > kActorField ? field_values(port)[kActorField] : none::value;
  if (!object::is_object_kind(actor.type())) fire(ErrorId::access_invalid_port);
  return actor;
}

Cell* call_actor(const Cell& port_value, uint32_t action_symbol, const Cell* cells, uint32_t count) {
  Cell port = port_value;
  Cell actor = get_actor(port);
  Cell function = *object::find_field(object::context_of(actor), action_symbol);
  if (!function.is(TYPE_FUNCTION)) {
    Cell action;
    word::make_at(action_symbol, &action);
    fire(ErrorId::access_no_port_action, &action);
  }
  Cell* slot = stack::push(function);  // becomes the result
  Cell name = word::make_value(action_symbol, 0, -1);
  // The port, then the cells in the order of the actor's arguments and
  // refinements.
  Cell given[kMaxActorCells + 1];
  given[0] = port;
  for (uint32_t i = 0; i < count && i < kMaxActorCells; ++i) given[i + 1] = cells[i];
  uint32_t given_count = 1 + (count < kMaxActorCells ? count : kMaxActorCells);
  upcalls::table.open_function_frame(function, name, given, given_count, true);
  NodeId context = function::context_of(function);
  upcalls::table.call_function(function, context);
  if (exits::exiting()) return nullptr;
  stack::unwind();
  *slot = slot[1];
  stack::top = slot + 1;
  return slot;
}

// --- make and text -----------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, TypeId) {
  Cell given = *spec;
  stack::push(given);
  // The description object.
  Cell* description = stack::push(none::value);
  if (object::is_object_kind(given.type())) {
    object::duplicate(given, description, false, true);
  } else {
    Cell* parts = stack::push(none::value);
    object::duplicate(standard_url_parts(), parts, false, false);
    parts->data2 = object::kStartUpClass;
    parts->data3 = 0;
    Cell* made = object::make_object(parts, &given, TYPE_OBJECT);
    if (made == nullptr) return stack::arguments();
    *description = *made;
  }
  Cell scheme = object::size_of(*description) > 0 ? field_values(*description)[0] : none::value;
  if (!scheme.is(TYPE_WORD)) fire(ErrorId::access_no_scheme, &given);

  Cell* port = stack::push(none::value);
  object::duplicate(standard_port(), port, false, false);
  port->set_type(TYPE_PORT);
  port->data2 = object::kPortClass;
  port->data3 = 0;
  *context::self_cell(object::context_of(*port)) = *port;
  field_values(*port)[kSpecField] = *description;
  field_values(*port)[kSchemeField] = scheme;

  Cell found = find_scheme(scheme);
  if (!object::is_object_kind(found.type())) fire(ErrorId::access_unknown_scheme, &given);
  Cell actor = object::size_of(found) > kSchemeActorField ? field_values(found)[kSchemeActorField] : none::value;
  if (!object::is_object_kind(actor.type()) && !actor.is(TYPE_HANDLE)) fire(ErrorId::access_invalid_actor);
  field_values(*port)[kActorField] = actor;
  object::install_handlers(port);
  return port;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
  string::concatenate_literal(buffer, "make port! [");
  part -= 12;
  part = object::write_body(*value, buffer, all, flat, true, arg, part, indent);
  string::concatenate_literal(buffer, "]");
  return part - 1;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
  return mold(value, buffer, false, false, false, arg, part, 0);
}

void init() {
  DatatypeRecord record(TYPE_PORT, TYPE_OBJECT, "port!");
  record.handle<Action::make>(make)
      .inherit(Action::reflect)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .inherit(Action::eval_path)
      .inherit(Action::compare)
      .handle<Action::append>(insertion<&runtime_words::append>)
      .handle<Action::at>(at)
      .handle<Action::back>(plain<&runtime_words::back>)
      .handle<Action::change>(insertion<&runtime_words::change>)
      .handle<Action::clear>(plain_one<&runtime_words::clear>)
      .handle<Action::copy>(copy)
      .handle<Action::find>(find)
      .handle<Action::head>(plain<&runtime_words::head>)
      .handle<Action::head_q>(plain<&runtime_words::head_q>)
      .handle<Action::index_q>(plain<&runtime_words::index_q>)
      .handle<Action::insert>(insertion<&runtime_words::insert>)
      .handle<Action::length_q>(length_q)
      .handle<Action::move>(move)
      .handle<Action::next>(plain<&runtime_words::next>)
      .handle<Action::pick>(pick)
      .handle<Action::poke>(poke)
      .handle<Action::put>(put)
      .handle<Action::remove>(remove)
      .handle<Action::reverse>(reverse)
      .handle<Action::select>(select)
      .handle<Action::sort>(sort)
      .handle<Action::skip>(second<&runtime_words::skip>)
      .handle<Action::swap>(swap)
      .handle<Action::tail>(plain<&runtime_words::tail>)
      .handle<Action::tail_q>(plain<&runtime_words::tail_q>)
      .handle<Action::take>(take)
      .handle<Action::trim>(trim)
      .handle<Action::create>(plain_one<&runtime_words::create>)
      .handle<Action::close>(plain_one<&runtime_words::close>)
      .handle<Action::delete_>(plain_one<&runtime_words::delete_>)
      .handle<Action::modify>(modify)
      .handle<Action::open>(open)
      .handle<Action::query>(plain_one<&runtime_words::query>)
      .handle<Action::read>(read)
      .handle<Action::rename>(rename)
      .handle<Action::update>(plain_one<&runtime_words::update>)
      .handle<Action::write>(write);
  register_datatype(record);
}

}  // namespace kel::port
