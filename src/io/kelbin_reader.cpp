// The values the kelbin readers build, and the checks they make on them
// (see kelbin_internal.h). Both layouts come through here, so a value read
// from either layout is made and checked the same way; the checks are those
// the codec mode needs against hostile data, applied in the boot mode too.
//
// A value is never made in a state the rest of the system does not expect:
// no index past what a signed index holds, no code point above 0x10FFFF, no
// date the calendar cannot hold, no money digit above 9, no context with a
// word twice, no object whose values live on the stack, no function whose
// context lacks a slot its calls fill, no op! that a call could not feed,
// no map with a key a map refuses.
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "io/kelbin_internal.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "datatypes/runtime_words.h"
#include "runtime/series_tail.h"
#include "runtime/unicode.h"

namespace kel::kelbin {

namespace {

constexpr uint32_t kLargestIndex = 0x7FFFFFFF;
constexpr uint32_t kLargestCodePoint = 0x10FFFF;

// The context an object! or function! (or an op! of one) owns; 0 for
// anything else.
NodeId owned_context(const Cell& value) {
  if (value.is(TYPE_OBJECT) || value.is(TYPE_FUNCTION)) return value.data1;
  if (value.is(TYPE_OP) && native::op_source_type(value) == TYPE_FUNCTION) return value.data1;
  return 0;
}

// The owner in the self cell of a context other than the global one, when
// it is the object! or function! of that context; none otherwise.
Cell context_owner(NodeId context) {
  if (context == 0 || context == context::global()) return make_cell(TYPE_NONE);
  Cell owner = *context::self_cell(context);
  if ((owner.is(TYPE_OBJECT) || owner.is(TYPE_FUNCTION)) && owner.data1 == context) return owner;
  return make_cell(TYPE_NONE);
}

// The cells of a heap context's values block.
uint32_t value_count(NodeId context) {
  NodeId values = context::values_node(context);
  return values == 0 ? 0 : memory::buffer_of(values)->cell_count();
}

int days_in_month(int32_t year, int32_t month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && date::leap_year_q(year) ? 29 : kDays[month - 1];
}

}  // namespace

Decoder::Decoder(const uint8_t* start_, bool codec_q_, const Cell& destination_)
    : start(start_),
      codec_q(codec_q_),
      destination(destination_.data2),
      base_count(memory::buffer_of(destination_.data2)->cell_count()) {}

void Decoder::fail(const uint8_t* at) const {
  fire_with_integer(ErrorId::script_kb_invalid_record, static_cast<int32_t>(at - start + 1));
}

// --- Symbols ---------------------------------------------------------------------

void Decoder::set_symbols(const uint8_t* offsets, uint32_t count, const uint8_t* names, uint32_t size) {
  symbol_offsets_ = offsets;
  symbol_count_ = count;
  names_ = names;
  names_size_ = size;
  if (symbol_map != nullptr) return;
  symbols_.assign(count, 0);
  symbol_of_offset_.assign(size, 0);
  global_words_.assign(count, make_cell(TYPE_VALUE));
}

uint32_t Decoder::symbol(uint32_t index, const uint8_t* at) {
  if (index >= symbol_count_) fail(at);
  if (symbol_map != nullptr) {
    // Each shared name is read once for all the decodes that share it.
    uint32_t& shared = symbol_map->shared->ids[shared_index(index)];
    if (shared == 0) shared = new_symbol(index, at);
    return shared;
  }
  if (symbols_[index] != 0) return symbols_[index];
  return symbols_[index] = new_symbol(index, at);
}

uint32_t Decoder::new_symbol(uint32_t index, const uint8_t* at) {
  uint32_t offset = load_u32(symbol_offsets_ + 4 * size_t{index});
  // An offset names the start of a name (the string area's start, or the
  // byte after a NUL), and each name is read once whatever number of
  // indexes name it: reading names costs no more than the string area.
  if (offset >= names_size_ || (offset > 0 && names_[offset - 1] != 0)) fail(at);
  bool by_offset = symbol_map == nullptr;
  if (by_offset && symbol_of_offset_[offset] != 0) return symbol_of_offset_[offset];
  const auto* name = names_ + offset;
  const auto* nul = static_cast<const uint8_t*>(std::memchr(name, 0, names_size_ - offset));
  if (nul == nullptr || nul == name) fail(at);
  // A name is well-formed UTF-8, as the lexer makes every name it reads.
  for (const uint8_t* p = name; p < nul;) {
    // Most names are ASCII: a byte below 0x80 is a whole character.
    if (*p < 0x80) {
      ++p;
      continue;
    }
    int32_t code_point;
    p = unicode::fast_decode_utf8_char(p, &code_point);
    if (code_point < 0) fail(at);
  }
  uint32_t id = symbol::make(std::string_view(reinterpret_cast<const char*>(name), static_cast<size_t>(nul - name)));
  if (by_offset) symbol_of_offset_[offset] = id;
  return id;
}

void Decoder::resolve_all_symbols(const uint8_t* at) {
  for (uint32_t i = 0; i < symbol_count_; ++i) symbol(i, at);
}

// --- Blocks ----------------------------------------------------------------------

void Decoder::append_grown(SeriesBuffer* buffer, const Cell& cell) {
  Cell copy = cell;  // the cell may lie in the buffer that grows
  *alloc_tail(&buffer) = copy;
}

NodeId Decoder::new_block(uint32_t count) { return memory::alloc_cells(count < 1 ? 1 : count); }

uint32_t Decoder::head(uint32_t value, const uint8_t* at) const {
  if (value > kLargestIndex) fail(at);
  return value;
}

// --- Reference paths ---------------------------------------------------------------

Cell Decoder::walk(const uint8_t* at) const {
  Cell current = block::make_value(destination);
  for (size_t step = 0; step < path.size(); ++step) {
    uint32_t index = path[step];
    bool last = step + 1 == path.size();
    Cell next;
    TypeId type = current.type();
    if (is_word_kind(type)) {
      // A word leads to its context's values, or, for a function's context,
      // to the function.
      NodeId context = word::context_of(current);
      Cell owner = context_owner(context);
      if (owner.is(TYPE_NONE)) fail(at);
      current = owner;
      type = owner.type();
    }
    if (is_block_family(type) || type == TYPE_HASH || type == TYPE_MAP || type == TYPE_NATIVE ||
        type == TYPE_ACTION) {
      // A native's children are the cells of its spec.
      NodeId node = current.data2;
      if (index >= cell_count(node)) fail(at);
      next = *cell_at(node, index);
    } else if (type == TYPE_OBJECT) {
      NodeId context = current.data1;
      if (context::on_stack(context) || index >= value_count(context)) fail(at);
      next = context::values_head(context)[index];
    } else if (type == TYPE_ERROR) {
      NodeId context = current.data1;
      uint32_t field = kel::error_value::kArg1 + index;
      if (context == 0 || index > kel::error_value::kStack - kel::error_value::kArg1 || field >= value_count(context))
        fail(at);
      next = context::values_head(context)[field];
    } else if (type == TYPE_FUNCTION || (type == TYPE_OP && native::op_source_type(current) != TYPE_ROUTINE)) {
      // 0 names the interface block, 1 the body: blocks, walked on into their cells.
      bool has_body = type == TYPE_FUNCTION || native::op_source_type(current) == TYPE_FUNCTION;
      if (index == 0) {
        next = block::make_value(current.data2);
      } else if (index == 1 && has_body) {
        next = *function::info(current, function::kInfoBody);
        if (!next.is(TYPE_BLOCK)) fail(at);
      } else {
        fail(at);
      }
      if (!last) {
        current = next;
        continue;
      }
    } else {
      fail(at);
    }
    // A removed map entry's cell and the runtime's own types are no values.
    TypeId found = next.type();
    if (found == TYPE_VALUE || found > kTypeCount || found == TYPE_SYMBOL || found == TYPE_CONTEXT ||
        found == TYPE_SERIES)
      fail(at);
    current = next;
  }
  return current;
}

Cell Decoder::shared(TypeId type, uint32_t head_index, const Cell& target, const uint8_t* at) const {
  TypeId from = target.type();
  if (is_block_family(type)) {
    // A spec is the block of its function, native or action.
    if (is_block_family(from) || from == TYPE_HASH || from == TYPE_NATIVE || from == TYPE_ACTION ||
        from == TYPE_FUNCTION || from == TYPE_OP)
      return make_cell(type, head_index, target.data2, 0);
  } else if (series::is_text_kind(type)) {
    if (series::is_text_kind(from)) return make_cell(type, head_index, target.data2, 0);
  } else if (type == TYPE_HASH || type == TYPE_BINARY || type == TYPE_VECTOR) {
    // The cell's third word is the hash table, 0, or the element type.
    if (from == type) return make_cell(type, head_index, target.data2, target.data3);
  } else if (type == TYPE_BITSET || type == TYPE_MAP) {
    if (from == type) return make_cell(type, 0, target.data2, target.data3);
  } else if (type == TYPE_IMAGE) {
    // The size is the node's, whatever the target cell says.
    if (from == type) return make_cell(type, head_index, target.data2, image::size_word_of(target.data2));
  }
  fail(at);
}

Cell Decoder::shared_owner(TypeId type, const Cell& target, const uint8_t* at) const {
  Cell owner = target;
  if (is_word_kind(target.type())) owner = context_owner(word::context_of(target));
  if (type == TYPE_FUNCTION && owner.is(TYPE_OP) && native::op_source_type(owner) == TYPE_FUNCTION)
    owner.header = TYPE_FUNCTION;
  if (!owner.is(type)) fail(at);
  return owner;
}

// --- Scalars ---------------------------------------------------------------------

Cell Decoder::datatype_value(uint32_t id, const uint8_t* at) const {
  if (id < 1 || id > kTypeCount || id == TYPE_SYMBOL || id == TYPE_CONTEXT || id == TYPE_SERIES) fail(at);
  return make_cell(TYPE_DATATYPE, id);
}

Cell Decoder::char_value(uint32_t code_point, const uint8_t* at) const {
  if (code_point > kLargestCodePoint) fail(at);
  return make_cell(TYPE_CHAR, 0, code_point);
}

Cell Decoder::tuple_value(const uint8_t* bytes, uint32_t count, const uint8_t* at) const {
  if (count < 1 || count > 12) fail(at);
  Cell cell = make_cell(TYPE_TUPLE);
  tuple::set_bytes(&cell, bytes, count);
  return cell;
}

Cell Decoder::money_value(bool negative, const uint8_t* twelve_bytes, const uint8_t* at) const {
  uint32_t currency = twelve_bytes[0];
  if (currency != 0 && money::currency_code(currency).empty()) fail(at);
  const uint8_t* digit_bytes = twelve_bytes + 1;
  for (int i = 0; i < 11; ++i)
    if ((digit_bytes[i] >> 4) > 9 || (digit_bytes[i] & 0x0F) > 9) fail(at);
  Cell cell = make_cell(TYPE_MONEY);
  money::set_cell(&cell, negative, currency, digit_bytes);
  return cell;
}

Cell Decoder::date_value(uint32_t date_word, bool time_flag, double time, const uint8_t* at) const {
  int32_t month = date::month_of(date_word);
  int32_t day = date::day_of(date_word);
  if (time_flag != date::has_time(date_word) || month < 1 || month > 12 || day < 1 ||
      day > days_in_month(date::year_of(date_word), month))
    fail(at);
  if (time_flag) {
    // The stored time plus the zone is the local time of the day.
    double local = date::add_zone(time, date::zone_of(date_word));
    if (!std::isfinite(time) || !(local >= 0.0 && local < 86400.0)) fail(at);
  } else if (low_half(time) != 0 || high_half(time) != 0) {
    fail(at);
  }
  Cell cell = make_cell(TYPE_DATE, date_word);
  cell.set_double(time);
  return cell;
}

Cell Decoder::typeset_value(const uint8_t* bytes, uint32_t count) const {
  Cell cell = make_cell(TYPE_TYPESET);
  std::memcpy(&cell.data1, bytes, count);
  return cell;
}

// --- Series -----------------------------------------------------------------------

Cell Decoder::text_value(TypeId type, uint32_t head_index, const uint8_t* units, uint32_t length, uint32_t unit,
                         const uint8_t* at) const {
  if (unit == 4) {
    for (uint32_t i = 0; i < length; ++i)
      if (load_u32(units + 4 * size_t{i}) > kLargestCodePoint) fail(at);
  }
  NodeId node = memory::alloc_codepoints(length, unit);
  SeriesBuffer* buffer = memory::buffer_of(node);
  std::memcpy(buffer->data(), units, size_t{length} * unit);
  buffer->tail = length * unit;
  return string::make_value(node, head_index, type);
}

Cell Decoder::binary_value(uint32_t head_index, const uint8_t* bytes, uint32_t length) const {
  NodeId node = memory::alloc_bytes(length);
  SeriesBuffer* buffer = memory::buffer_of(node);
  std::memcpy(buffer->data(), bytes, length);
  buffer->tail = length;
  return make_cell(TYPE_BINARY, head_index, node, 0);
}

Cell Decoder::image_value(uint32_t head_index, uint32_t width, uint32_t height, const uint8_t* pixels) const {
  NodeId node = image::make_node(width, height, 0);
  std::memcpy(image::pixels_of(node), pixels, static_cast<size_t>(uint64_t{width} * height * 4));
  return make_cell(TYPE_IMAGE, head_index, node, image::size_word(width, height));
}

Cell Decoder::vector_value(uint32_t head_index, TypeId element_type, uint32_t unit, const uint8_t* bytes,
                           uint32_t length, const uint8_t* at) const {
  bool sound = false;
  switch (element_type) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
      sound = unit == 1 || unit == 2 || unit == 4;
      break;
    case TYPE_FLOAT:
      sound = unit == 4 || unit == 8;
      break;
    case TYPE_PERCENT:
      sound = unit == 8;
      break;
    default:
      break;
  }
  if (!sound) fail(at);
  if (element_type == TYPE_CHAR && unit == 4) {
    for (uint32_t i = 0; i < length; ++i)
      if (load_u32(bytes + 4 * size_t{i}) > kLargestCodePoint) fail(at);
  }
  NodeId node = memory::alloc_series(length < 1 ? 1 : length, unit, 0);
  SeriesBuffer* buffer = memory::buffer_of(node);
  std::memcpy(buffer->data(), bytes, size_t{length} * unit);
  buffer->tail = length * unit;
  return make_cell(TYPE_VECTOR, head_index, node, element_type);
}

Cell Decoder::bitset_value(bool complemented, const uint8_t* bytes, uint32_t length) const {
  NodeId node = memory::alloc_bytes(length);
  SeriesBuffer* buffer = memory::buffer_of(node);
  std::memcpy(buffer->data(), bytes, length);
  buffer->tail = length;
  if (complemented) buffer->flags |= series_flags::kBitsetComplement;
  return make_cell(TYPE_BITSET, 0, node, 0);
}

Cell Decoder::begin_hash(uint32_t head_index, uint32_t count) const {
  Cell cell = block::make_value(new_block(count));
  hash::index_block(&cell, count);
  cell.data1 = head_index;
  return cell;
}

void Decoder::finish_hash(const Cell& hash) const {
  hash_table::rebuild(hash.data3, cell_count(hash.data2));
}

Cell Decoder::begin_map(uint32_t count, const uint8_t* at) const {
  if (count % 2 != 0) fail(at);
  NodeId pairs = new_block(count);
  Cell pairs_block = block::make_value(pairs);
  NodeId table = hash_table::init(count / 2, &pairs_block, hash_table::kMap, 0);
  return make_cell(TYPE_MAP, 0, pairs, table);
}

void Decoder::finish_map(const Cell& map, const uint8_t* at) const {
  NodeId pairs = map.data2;
  uint32_t count = cell_count(pairs);
  if (count % 2 != 0) fail(at);
  for (uint32_t i = 0; i < count; i += 2)
    if (!map::key_type_q(cell_at(pairs, i)->type())) fail(at);
  // Keys as a map stores them (a word as a set-word, text as a private
  // copy), without new-line markers, as every map's pair block holds them.
  for (uint32_t i = 0; i < count; ++i) {
    Cell item = *cell_at(pairs, i);
    clear_new_line(&item);
    if (i % 2 == 0) map::normalize_key(&item, nullptr);
    *cell_at(pairs, i) = item;
  }
  hash_table::put_all(map.data3, 0, 2);
}

// --- Words ------------------------------------------------------------------------

Cell Decoder::first_global_word(TypeId type, uint32_t symbol_index, const uint8_t* at) {
  uint32_t id = symbol(symbol_index, at);
  // The slot as the lexer binds a word: found or added, a case variant
  // sharing its canonical spelling's slot. An issue takes no slot.
  if (type == TYPE_ISSUE) return word::make_value(id, context::global(), -1, TYPE_ISSUE);
  // A word's global slot never changes once it has one (the global context
  // only grows, and a lookup finds the first slot of a spelling's family),
  // so the word an earlier decode made is the word a lookup would give.
  Cell bound;
  if (symbol_map != nullptr) {
    Cell* shared = &symbol_map->shared->words[shared_index(symbol_index)];
    if (shared->header != 0) {
      bound = *shared;
    } else {
      word::make_at(id, &bound);
      symbol_map->shared->words[shared_index(symbol_index)] = bound;
    }
  } else {
    word::make_at(id, &bound);
    global_words_[symbol_index] = bound;
  }
  bound.header = type;
  return bound;
}

Cell Decoder::context_word(TypeId type, uint32_t symbol_index, NodeId context, int32_t index, const uint8_t* at) {
  uint32_t id = symbol(symbol_index, at);
  if (!is_word_kind(type) || index < -1 || (index >= 0 && static_cast<uint32_t>(index) >= context::word_count(context)))
    fail(at);
  return word::make_value(id, context, index, type);
}

NodeId Decoder::target_context(const Cell& target, const uint8_t* at) const {
  NodeId context = owned_context(target);
  if (context == 0 && is_word_kind(target.type())) context = owned_context(context_owner(word::context_of(target)));
  if (context == 0) fail(at);
  return context;
}

NodeId Decoder::numbered_context(uint32_t number, const uint8_t* at) const {
  uint64_t position = uint64_t{base_count} + number;
  if (position >= cell_count(destination)) fail(at);
  Cell owner = *cell_at(destination, static_cast<uint32_t>(position));
  if (!owner.is(TYPE_OBJECT) && !owner.is(TYPE_FUNCTION)) fail(at);
  return owner.data1;
}

Cell Decoder::numbered_word(TypeId type, uint32_t symbol_index, uint32_t number, int32_t index, const uint8_t* at) {
  NodeId context = numbered_context(number, at);
  if (index == -1) index = context::find_word(context, symbol(symbol_index, at), true);
  if (index < 0) fail(at);
  return context_word(type, symbol_index, context, index, at);
}

void Decoder::bind(NodeId block, uint32_t word_position, const uint8_t* at) const {
  if (cell_count(block) < word_position + 2) fail(at);
  Cell word = *cell_at(block, word_position);
  Cell value = *cell_at(block, word_position + 1);
  NodeId context = word::context_of(word);
  if (!word::is_any_word(word.type()) || context == 0) fail(at);
  // The image is plain data: no change handler runs for it.
  context::set_in(&word, value, context, false);
  Cell whole = block::make_value(block);
  block::rs_set_tail(&whole, word_position);
}

// --- Contexts, objects, functions ----------------------------------------------------

NodeId Decoder::make_context(const ContextForm& form, const uint8_t* at) const {
  if (form.kind > context::kObjectKind) fail(at);
  auto count = static_cast<uint32_t>(form.symbols.size());
  NodeId context = context::create(count, form.stack, form.self, 0, static_cast<context::Kind>(form.kind));
  for (uint32_t i = 0; i < count; ++i) {
    // A word named twice (in any letter case) would leave fewer slots than
    // the record's indexes count on.
    if (context::add_word(context, form.symbols[i]) != static_cast<int32_t>(i)) fail(at);
  }
  return context;
}

Cell Decoder::begin_object(NodeId context, int32_t class_id, bool handlers, int32_t on_change, int32_t on_deep_change,
                           const uint8_t* at) const {
  if (context::on_stack(context)) fail(at);
  NodeId handler_block = 0;
  if (handlers) {
    int32_t indexes[2] = {on_change, on_deep_change};
    uint32_t names[2] = {runtime_words::on_change_star, runtime_words::on_deep_change_star};
    handler_block = memory::alloc_cells(2);
    for (int k = 0; k < 2; ++k) {
      int32_t index = indexes[k];
      if (index < -1 || (index >= 0 && static_cast<uint32_t>(index) >= context::word_count(context))) fail(at);
      if (index >= 0 && symbol::resolve(word::symbol_of(*context::word_at(context, static_cast<uint32_t>(index)))) !=
                            symbol::resolve(names[k]))
        fail(at);
      // The field's index; the local count cached beside it is taken from
      // the handler's spec at its first call.
      uint32_t field = index < 0 ? object::kNoHandler : static_cast<uint32_t>(index);
      append(handler_block, make_cell(TYPE_PAIR, 0, field << 16, 0));
    }
  }
  auto class_value = static_cast<uint32_t>(codec_q ? -1 : class_id);
  Cell object = object::make_value(context, class_value, handler_block);
  *context::self_cell(context) = object;
  return object;
}

void Decoder::finish_object(const Cell& object) const {
  if (object::has_deep_handler(object)) object::own_fields(object);
}

Cell Decoder::context_object(NodeId context) const {
  Cell object = object::make_value(context, static_cast<uint32_t>(-1), 0);
  *context::self_cell(context) = object;
  return object;
}

Cell Decoder::begin_function(NodeId context, uint32_t spec_capacity, uint32_t body_capacity,
                             const uint8_t* at) const {
  if (!context::on_stack(context) || spec_capacity > bytes_left(at) || body_capacity > bytes_left(at)) fail(at);
  NodeId spec = new_block(spec_capacity);
  NodeId body = new_block(body_capacity);
  NodeId info = memory::alloc_unset_cells(5);
  memory::buffer_of(info)->tail = 5 * sizeof(Cell);
  cell_at(info, function::kInfoBody)[0] = block::make_value(body);
  Cell function = make_cell(TYPE_FUNCTION, context, spec, info);
  *context::self_cell(context) = function;
  return function;
}

NodeId Decoder::body_node(const Cell& function) { return function::info(function, function::kInfoBody)->data2; }

void Decoder::share_spec(Cell* function, NodeId block, uint32_t position, const Cell& target, const uint8_t* at) const {
  NodeId spec = shared(TYPE_BLOCK, 0, target, at).data2;
  function->data2 = spec;
  if (block != 0) cell_at(block, position)->data2 = spec;
  *context::self_cell(function->data1) = *function;
}

void Decoder::share_body(const Cell& function, const Cell& target, const uint8_t* at) const {
  *function::info(function, function::kInfoBody) = block::make_value(shared(TYPE_BLOCK, 0, target, at).data2);
}

void Decoder::check_function(const Cell& function, const uint8_t* at) const {
  // The words a spec gives its function's context (context::make_from_words)
  // in order: a call fills a slot for each of them. After /local only plain
  // words and /local again, which every call fills.
  NodeId spec = function.data2;
  NodeId context = function.data1;
  uint32_t local = symbol::resolve(runtime_words::local);
  uint32_t words = context::word_count(context);
  uint32_t matched = 0;
  bool locals = false;
  for (uint32_t i = 0; i < cell_count(spec); ++i) {
    Cell item = *cell_at(spec, i);
    TypeId type = item.type();
    if (type != TYPE_WORD && type != TYPE_GET_WORD && type != TYPE_LIT_WORD && type != TYPE_REFINEMENT) continue;
    uint32_t id = word::symbol_of(item);
    bool is_local = type == TYPE_REFINEMENT && symbol::resolve(id) == local;
    if (locals && type != TYPE_WORD && !is_local) fail(at);
    locals = locals || is_local;
    // The context holds no word twice, so its slot tells a word met before
    // from the next one expected.
    int32_t slot = context::find_word(context, id, true);
    if (slot >= 0 && static_cast<uint32_t>(slot) < matched) continue;
    if (slot < 0 || static_cast<uint32_t>(slot) != matched) fail(at);
    ++matched;
  }
  if (matched != words) fail(at);
}

// --- Errors, natives, operators -------------------------------------------------------

Cell Decoder::make_error(uint32_t code, const uint8_t* at) const {
  for (int i = 0; i < kErrorIdCount; ++i) {
    auto id = static_cast<ErrorId>(i);
    const ErrorInfo& info = error_info(id);
    if (static_cast<uint32_t>(category_info(info.category).code + info.number) == code)
      return kel::error_value::create(id, nullptr, nullptr, nullptr);
  }
  fail(at);
}

NodeId Decoder::open_error_field(const Cell& error, uint32_t field, const uint8_t* at) const {
  NodeId context = error.data1;
  if (context == 0) fail(at);
  NodeId values = context::values_node(context);
  SeriesBuffer* buffer = memory::buffer_of(values);
  buffer->tail = buffer->offset + (kel::error_value::kArg1 + field) * sizeof(Cell);
  return values;
}

void Decoder::close_error_field(const Cell& error, uint32_t field, const uint8_t* at) const {
  NodeId values = context::values_node(error.data1);
  if (cell_count(values) != kel::error_value::kArg1 + field + 1) fail(at);
  SeriesBuffer* buffer = memory::buffer_of(values);
  buffer->tail = buffer->offset + context::word_count(error.data1) * sizeof(Cell);
}

Cell Decoder::builtin_value(TypeId type, uint32_t number, const Cell& spec, const uint8_t* at) const {
  // Data names only a native or action the boot bound a word to; the boot
  // image makes them.
  bool known = codec_q ? native::registered_interface(type, number) != nullptr : native::known_number(type, number);
  if (!known || !spec.is(TYPE_BLOCK)) fail(at);
  stack::Guard guard;
  return *native::push(type, &spec, number);
}

void Decoder::make_builtin_at(NodeId block, uint32_t position, TypeId type, uint32_t number,
                              const uint8_t* at) const {
  if (cell_count(block) != position + 1) fail(at);
  Cell made = builtin_value(type, number, *cell_at(block, position), at);
  *cell_at(block, position) = made;
}

void Decoder::make_op(NodeId block, uint32_t position, TypeId expected, const uint8_t* at) const {
  Cell source = *cell_at(block, position);
  TypeId type = source.type();
  if (type != TYPE_NATIVE && type != TYPE_ACTION && type != TYPE_FUNCTION) fail(at);
  if (expected != 0 && expected != type) fail(at);
  Cell spec = block::make_value(source.data2);
  if (!native::op_spec_check(&spec)) fail(at);
  Cell op = native::make_op(source);
  if (type == TYPE_FUNCTION) *function::info(source, function::kInfoOp) = source;
  *cell_at(block, position) = op;
}

}  // namespace kel::kelbin
