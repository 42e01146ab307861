// Building the global environment (see environment.h).
#include "boot/environment.h"

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "boot/boot_image.h"
#include "boot/embedded_sources.h"
#include "boot/library_bodies.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/money.h"
#include "datatypes/handle.h"
#include "datatypes/native.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/source_evaluation.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "runtime/action_slots.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/output_hooks.h"
#include "runtime/root_block.h"
#include "runtime/runtime.h"
#include "datatypes/argument_checks.h"

namespace kel::boot {

std::string_view embedded_source(std::string_view name) {
  for (unsigned i = 0; i < kEmbeddedSourceCount; ++i)
    if (name == kEmbeddedSources[i].name) return kEmbeddedSources[i].text;
  return {};
}

namespace {
void set_global(const char* name, const Cell& value) {
  uint32_t symbol = symbol::make(name);
  context::put_value(context::global(), symbol, value);
}

// Every datatype but the internal ones gets its word.
void bind_datatype_words() {
  for (TypeId id = 1; id <= kTypeCount; ++id) {
    if (id == TYPE_SYMBOL || id == TYPE_CONTEXT || id == TYPE_SERIES) continue;
    set_global(datatype_name(id), datatype::make(id));
  }
}

// The typesets that the specs of the built-ins name, made before any spec
// is read. The composite ones are unions of the ones before them.
void bind_typesets() {
  struct Set {
    const char* name;
    std::initializer_list<TypeId> types;
  };
  const std::initializer_list<TypeId> scalar = {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_POINT2D, TYPE_POINT3D,
                                                TYPE_MONEY,   TYPE_CHAR,  TYPE_PAIR,    TYPE_TUPLE,   TYPE_TIME,
                                                TYPE_DATE};
  const std::initializer_list<TypeId> all_word = {TYPE_WORD,     TYPE_SET_WORD,   TYPE_LIT_WORD,
                                                  TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE};
  const std::initializer_list<TypeId> any_block = {TYPE_PATH,     TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH,
                                                   TYPE_BLOCK,    TYPE_PAREN,    TYPE_HASH};
  const std::initializer_list<TypeId> any_string = {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF};
  const std::initializer_list<TypeId> others = {TYPE_BINARY, TYPE_IMAGE,  TYPE_VECTOR, TYPE_NONE,   TYPE_LOGIC,
                                                TYPE_DATATYPE, TYPE_TYPESET, TYPE_HANDLE, TYPE_OBJECT, TYPE_ERROR,
                                                TYPE_PORT,   TYPE_EVENT,  TYPE_NATIVE, TYPE_ACTION, TYPE_OP,
                                                TYPE_FUNCTION, TYPE_ROUTINE, TYPE_MAP, TYPE_BITSET};
  const Set sets[] = {
      {"internal!", {TYPE_UNSET}},
      {"external!", {TYPE_EVENT}},
      {"number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}},
      {"planar!", {TYPE_PAIR, TYPE_POINT2D}},
      {"any-point!", {TYPE_POINT2D, TYPE_POINT3D}},
      {"scalar!", scalar},
      {"any-word!", {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}},
      {"all-word!", all_word},
      {"any-list!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH}},
      {"any-path!", {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}},
      {"any-block!", any_block},
      {"any-function!", {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE}},
      {"any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}},
      {"any-string!", any_string},
  };
  for (const Set& set : sets) {
    Cell typeset = make_cell(TYPE_TYPESET);
    for (TypeId t : set.types) typeset_add(typeset, t);
    set_global(set.name, typeset);
  }
  // series!, immediate!, default! and any-type! are unions.
  Cell series = make_cell(TYPE_TYPESET), immediate = make_cell(TYPE_TYPESET);
  for (TypeId t : any_block) typeset_add(series, t);
  for (TypeId t : any_string) typeset_add(series, t);
  for (TypeId t : {TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR}) typeset_add(series, t);
  for (TypeId t : scalar) typeset_add(immediate, t);
  for (TypeId t : all_word) typeset_add(immediate, t);
  for (TypeId t : {TYPE_NONE, TYPE_LOGIC, TYPE_DATATYPE, TYPE_TYPESET, TYPE_HANDLE, TYPE_DATE}) typeset_add(immediate, t);
  Cell everything = make_cell(TYPE_TYPESET);
  for (TypeId t = 1; t <= kTypeCount; ++t)
    if (t != TYPE_SYMBOL && t != TYPE_CONTEXT && t != TYPE_SERIES && t != TYPE_TRIPLE) typeset_add(everything, t);
  Cell fallback = everything;
  fallback.data1 &= ~0u;
  Cell defaults = everything;
  auto* bytes = reinterpret_cast<uint8_t*>(&defaults.data1);
  bytes[TYPE_UNSET >> 3] &= static_cast<uint8_t>(~(0x80 >> (TYPE_UNSET & 7)));
  (void)others;
  set_global("series!", series);
  set_global("immediate!", immediate);
  set_global("default!", defaults);
  set_global("any-type!", everything);
}

// The built-ins by name, made once for the words of the boot's interface files: each word is
// then one lookup, not a comparison with every name of its family.
using NumbersByName = std::unordered_map<std::string_view, uint32_t>;

NumbersByName numbers_by_name(uint32_t count, const char* (*name_of)(uint32_t)) {
  NumbersByName numbers;
  numbers.reserve(count);
  for (uint32_t n = 1; n <= count; ++n) {
    const char* name = name_of(n);
    // The lowest number a name has wins, as a search from the first would find.
    if (name != nullptr) numbers.emplace(name, n);
  }
  return numbers;
}

uint32_t action_slot(std::string_view word) {
  static const NumbersByName slots = numbers_by_name(
      static_cast<uint32_t>(kActionCount), [](uint32_t slot) { return action_word(static_cast<Action>(slot)); });
  auto found = slots.find(word);
  return found == slots.end() ? 0 : found->second;
}

uint32_t native_number(std::string_view word) {
  static const NumbersByName numbers = numbers_by_name(natives::kNativeCount, natives::native_word);
  auto found = numbers.find(word);
  return found == numbers.end() ? 0 : found->second;
}

NodeId builtins = 0;

// Keeps a built-in value in the block of builtin_values.
void note_builtin(const Cell& value) {
  if (builtins == 0) {
    builtins = memory::alloc_cells(256);
    root::keep(block::make_value(builtins));
  }
  Cell list = block::make_value(builtins);
  block::rs_append(&list, value);
}

// A data file of word/spec pairs: each word is bound to a native! or
// action! value made from its spec and its number.
void bind_builtins(const char* file, TypeId type) {
  stack::Guard guard;
  Cell* loaded = load_library_source(file);
  Cell* table = block::rs_head(loaded);
  Cell list = *table;  // the block of pairs
  uint32_t length = memory::buffer_of(list.data2)->cell_count();
  for (uint32_t i = list.data1; i + 1 < length; i += 2) {
    Cell word = memory::buffer_of(list.data2)->cells()[i];
    Cell spec = memory::buffer_of(list.data2)->cells()[i + 1];
    std::string name(symbol::name(word::symbol_of(word)));
    uint32_t number = type == TYPE_ACTION ? action_slot(name) : native_number(name);
    if (number == 0 || !spec.is(TYPE_BLOCK)) {
      runtime::print_line("*** Boot Error: unknown built-in ", name.c_str(), " in ", file);
      runtime::quit(98, KEL_CALLER_ADDRESS());
    }
    Cell value = *native::push(type, &spec, number);
    // The interface its entry reads the frame by, as the boot read it.
    interpreter::register_interface(value);
    note_builtin(value);
    context::put_value(context::global(), word::symbol_of(word), value);
  }
}
// Runs one library file (from the boot image, or lexed from its embedded
// text); an error in it is a fault of the build and ends the process with
// its report. The functions it makes keep the bodies written in it.
void run_embedded(const std::string& name) {
  stack::Guard guard;
  Cell* code = load_library_source(name);
  LibraryBodies bodies(*code);
  source_evaluation::do_loaded_script(code);
}
}  // namespace

NodeId builtin_values() { return builtins; }

NodeId builtin_interfaces() {
  stack::Guard guard;
  uint32_t count = builtins == 0 ? 0 : memory::buffer_of(builtins)->cell_count();
  Cell* list = block::push_only(static_cast<int32_t>(count));
  for (uint32_t i = 0; i < count; ++i) {
    Cell value = memory::buffer_of(builtins)->cells()[i];
    const std::vector<Cell>* shape = native::registered_interface(value.type(), native::number_of(value));
    Cell* cells = block::push_only(shape == nullptr ? 1 : static_cast<int32_t>(shape->size()));
    if (shape != nullptr)
      for (const Cell& entry : *shape) block::rs_append(cells, entry);
    block::rs_append(list, *cells);
  }
  return list->data2;
}

bool register_builtin_interfaces(NodeId values, NodeId interfaces) {
  if (values == 0 || interfaces == 0) return false;
  uint32_t count = memory::buffer_of(values)->cell_count();
  if (memory::buffer_of(interfaces)->cell_count() != count) return false;
  builtins = values;
  for (uint32_t i = 0; i < count; ++i) {
    Cell value = memory::buffer_of(values)->cells()[i];
    Cell shape = memory::buffer_of(interfaces)->cells()[i];
    if (!shape.is(TYPE_BLOCK)) return false;
    SeriesBuffer* buffer = memory::buffer_of(shape.data2);
    std::vector<Cell> entries(buffer->cells(), buffer->cells() + buffer->cell_count());
    native::register_interface(value.type(), native::number_of(value), std::move(entries));
  }
  return true;
}

void build_environment() {
  bind_datatype_words();
  bind_typesets();
  bind_builtins("boot/actions.kel", TYPE_ACTION);
  // Each family of natives keeps its specs in a file of its own.
  for (unsigned i = 0; i < kEmbeddedSourceCount; ++i) {
    std::string_view name = kEmbeddedSources[i].name;
    if (name.rfind("boot/natives", 0) == 0) bind_builtins(kEmbeddedSources[i].name, TYPE_NATIVE);
  }
  // The null handle: no Kel text can make a handle! value.
  set_global("null-handle", handle::make_value(0, 0));
  // The library in Kel: boot/core.kel, then the files that
  // boot/manifest.kel lists, in its order.
  run_embedded("boot/core.kel");
  {
    stack::Guard guard;
    Cell list = *load_library_source("boot/manifest.kel");
    // The manifest holds one block of file names.
    if (block::rs_length(&list) > 0 && block::rs_head(&list)->is(TYPE_BLOCK)) list = *block::rs_head(&list);
    uint32_t count = memory::buffer_of(list.data2)->cell_count();
    for (uint32_t i = list.data1; i < count; ++i) {
      Cell item = memory::buffer_of(list.data2)->cells()[i];
      if (!item.is(TYPE_FILE)) continue;
      run_embedded(string::to_std_string(item));
    }
  }
  // money! takes its currency codes from the locale settings from here on,
  // so that codes a script appends to the list are known to it.
  stack::Guard guard;
  Cell* currencies = source_evaluation::do_source("system/locale/currencies/list");
  if (currencies->is(TYPE_BLOCK)) money::set_currency_list(*currencies);
}

}  // namespace kel::boot
