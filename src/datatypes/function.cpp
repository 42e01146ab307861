// function! and routine! (see function.h): construction, spec validation,
// local-word collection, reflection and text.
#include "datatypes/function.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/cycles.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "datatypes/runtime_words.h"

#include <algorithm>
#include <vector>

namespace kel::function {

namespace {
inline Cell* cells_of(NodeId node) { return memory::buffer_of(node)->cells(); }
inline uint32_t tail_of(NodeId node) { return memory::buffer_of(node)->cell_count(); }
inline uint32_t canonical(const Cell& word) { return symbol::resolve(word::symbol_of(word)); }
bool is_local(const Cell& item) {
  return item.is(TYPE_REFINEMENT) && canonical(item) == symbol::resolve(runtime_words::local);
}
bool is_extern(const Cell& item) {
  return item.is(TYPE_REFINEMENT) && canonical(item) == canonical(runtime_words::extern_refinement);
}
}  // namespace

Cell* info(const Cell& value, uint32_t cell) { return cells_of(value.data3) + cell; }

bool (*hand_over_body)(NodeId block) = nullptr;

Cell* push(const Cell* spec_value, const Cell* body, NodeId given_context, uint32_t flags) {
  Cell* result = stack::push(none::value);
  Cell spec = *spec_value;
  uint32_t spec_length = tail_of(spec.data2);
  if (spec.data1 > 0) {
    // A spec not at its head becomes a copy from its index.
    if (spec.data1 > spec_length) spec.data1 = spec_length;
    spec = *block::clone(&spec, false, true);
  }
  NodeId info_block = memory::alloc_unset_cells(5);
  memory::buffer_of(info_block)->tail = 5 * sizeof(Cell);
  stack::push(block::make_value(info_block));
  NodeId context = given_context;
  if (context == 0) {
    context = context::make_from_words(&spec, true, false, context::kFunctionKind);
    stack::push(*context::cell(context));
  }
  *result = make_cell(TYPE_FUNCTION | (flags & 0x0600), context, spec.data2, info_block);
  *context::self_cell(context) = *result;
  Cell body_copy = none::value;
  if (body != nullptr) {
    Cell b = *body;
    uint32_t body_length = tail_of(b.data2);
    if (b.data1 > body_length) b.data1 = body_length;
    if (given_context == 0 && b.data1 == 0 && hand_over_body != nullptr && hand_over_body(b.data2)) {
      // The block is the function's alone: binding it in place gives what
      // binding a copy would (the copy's cell as clone makes it: no flags).
      context::bind(&b, context, false);
      body_copy = make_cell(b.type(), 0, b.data2, 0);
    } else {
      body_copy = given_context == 0 ? *context::copy_bound(&b, context) : *block::clone(&b, true, true);
    }
  }
  cells_of(info_block)[kInfoBody] = body_copy;
  stack::top = result + 1;
  return result;
}

// --- Spec validation ---------------------------------------------------------------

uint32_t validate_spec(const Cell* spec) {
  NodeId node = spec->data2;
  uint32_t length = tail_of(node);
  uint32_t i = spec->data1;
  uint32_t flags = 0;
  auto bad = [&]() { fire(ErrorId::script_bad_func_def, spec); };
  if (i < length && cells_of(node)[i].is(TYPE_BLOCK)) {
    Cell attributes = cells_of(node)[i];
    for (uint32_t k = attributes.data1; k < tail_of(attributes.data2); ++k) {
      Cell item = cells_of(attributes.data2)[k];
      if (!item.is(TYPE_WORD)) bad();
      std::string_view name = symbol::name(word::symbol_of(item));
      if (name == "trace") flags |= kTraceFlag;
      else if (name == "no-trace") flags |= kNoTraceFlag;
    }
    ++i;
  }
  bool locals = false, returned = false;
  for (; i < length; ++i) {
    Cell item = cells_of(node)[i];
    switch (item.type()) {
      case TYPE_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD: {
        if (locals && !item.is(TYPE_WORD)) bad();
        if (returned && !locals) bad();
        if (i + 1 < length && cells_of(node)[i + 1].is(TYPE_BLOCK)) {
          Cell types = cells_of(node)[i + 1];
          for (uint32_t k = types.data1; k < tail_of(types.data2); ++k) {
            Cell type = cells_of(types.data2)[k];
            if (type.is(TYPE_WORD)) type = *context::get(&type);
            if (type.is(TYPE_UNSET)) {
              Cell word = cells_of(types.data2)[k];
              fire(ErrorId::script_no_value, &word);
            }
            if (!type.is(TYPE_DATATYPE) && !type.is(TYPE_TYPESET) && !type.is(TYPE_WORD))
              fire(ErrorId::script_invalid_type_spec, &type);
          }
          ++i;
        }
        break;
      }
      case TYPE_STRING:
        // A doc string may not be followed by the type block it documents.
        if (i + 1 < length && cells_of(node)[i + 1].is(TYPE_BLOCK)) bad();
        break;
      case TYPE_SET_WORD: {
        if (canonical(item) != symbol::resolve(runtime_words::return_) || returned || locals) bad();
        returned = true;
        if (i + 1 >= length || !cells_of(node)[i + 1].is(TYPE_BLOCK)) bad();
        ++i;
        if (i + 1 < length) {
          TypeId after = cells_of(node)[i + 1].type();
          if (after != TYPE_REFINEMENT && after != TYPE_STRING) bad();
        }
        break;
      }
      case TYPE_REFINEMENT: {
        if (is_local(item)) {
          locals = true;
        } else if (locals || returned) {
          bad();
        }
        if (i + 1 < length) {
          TypeId after = cells_of(node)[i + 1].type();
          if (after != TYPE_WORD && after != TYPE_GET_WORD && after != TYPE_LIT_WORD && after != TYPE_REFINEMENT &&
              after != TYPE_SET_WORD && after != TYPE_STRING)
            bad();
        }
        break;
      }
      default:
        bad();
    }
  }
  // No two arguments or refinements may share a name: each name's
  // canonical id is compared with those of the names before it, kept as
  // they are met (nothing here allocates in the series heap).
  // Most interfaces name a few words: they are kept on the C++ stack, a
  // longer one's in a vector.
  constexpr uint32_t kFewNames = 32;
  uint32_t few[kFewNames];
  std::vector<uint32_t> many;
  uint32_t count = 0;
  const Cell* cells = cells_of(node);
  for (uint32_t a = spec->data1; a < length; ++a) {
    Cell first = cells[a];
    TypeId t = first.type();
    if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT) continue;
    uint32_t name = canonical(first);
    const uint32_t* names = count <= kFewNames ? few : many.data();
    if (std::find(names, names + count, name) != names + count) fire(ErrorId::script_dup_vars, &first);
    if (count < kFewNames) {
      few[count] = name;
    } else {
      if (count == kFewNames) many.assign(few, few + kFewNames);
      many.push_back(name);
    }
    ++count;
  }
  return flags;
}

// --- Local-word collection ---------------------------------------------------------------

namespace {
struct Collector {
  explicit Collector(Cell* block) : collected(block) {}
  Cell* collected;  // block of collected words
  // The canonical symbols of the words never collected (the interface's
  // words, /extern words, the words collected so far): a flat list, since
  // every set-word of the body asks it.
  std::vector<uint32_t> known;
  // The canonical ids of the loop words whose counters are collected, read
  // once for the walk rather than at every word of the body.
  uint32_t repeat = symbol::resolve(runtime_words::repeat);
  uint32_t foreach = symbol::resolve(runtime_words::foreach);
  uint32_t remove_each = symbol::resolve(runtime_words::remove_each);

  bool is_known(uint32_t symbol) const {
    uint32_t wanted = symbol::resolve(symbol);
    return std::find(known.begin(), known.end(), wanted) != known.end();
  }
  void collect(const Cell& word) {
    uint32_t symbol = word::symbol_of(word);
    if (is_known(symbol)) return;
    Cell plain = word::make_value(symbol, 0, -1);
    block::rs_append(collected, plain);
    known.push_back(symbol::resolve(symbol));
  }
  void walk(const Cell& block_value) {
    cycles::Entry entry(block_value.data2);
    NodeId node = block_value.data2;
    // The block's cells are held between the calls that append to the
    // collected block (which allocate) and read again after them.
    const Cell* cells = cells_of(node);
    uint32_t count = tail_of(node);
    auto reread = [&] {
      cells = cells_of(node);
      count = tail_of(node);
    };
    for (uint32_t i = block_value.data1; i < count; ++i) {
      Cell item = cells[i];
      switch (item.type()) {
        case TYPE_SET_WORD:
          collect(item);
          reread();
          break;
        case TYPE_WORD: {
          uint32_t s = canonical(item);
          bool is_repeat = s == repeat;
          bool is_foreach = s == foreach || s == remove_each;
          if ((is_repeat || is_foreach) && i + 1 < count) {
            Cell next = cells[i + 1];
            if (is_foreach && next.is(TYPE_BLOCK)) {
              for (uint32_t k = next.data1; k < tail_of(next.data2); ++k) {
                Cell w = cells_of(next.data2)[k];
                if (w.is(TYPE_WORD) || w.is(TYPE_GET_WORD) || w.is(TYPE_LIT_WORD)) collect(w);
              }
            } else if (next.is(TYPE_WORD) || next.is(TYPE_SET_WORD)) {
              collect(next);
            }
            reread();
          }
          break;
        }
        case TYPE_BLOCK:
        case TYPE_PAREN:
          if (!cycles::find(item.data2)) {
            walk(item);
            reread();
          }
          break;
        default:
          break;
      }
    }
  }
};
}  // namespace

void collect_words(Cell* spec, const Cell* body) {
  stack::Guard guard;
  Collector c(block::push_only(8));
  for (uint32_t i = spec->data1; i < tail_of(spec->data2); ++i) {
    Cell item = cells_of(spec->data2)[i];
    if (word::is_any_word(item.type())) c.known.push_back(canonical(item));
  }
  // /extern words stay known; words after a /local that follows them are
  // collected; the interface block is cut at /extern.
  uint32_t length = tail_of(spec->data2);
  for (uint32_t i = spec->data1; i < length; ++i) {
    Cell item = cells_of(spec->data2)[i];
    if (!is_extern(item)) continue;
    for (uint32_t k = i + 1; k < length; ++k) {
      if (!is_local(cells_of(spec->data2)[k])) continue;
      for (uint32_t m = k + 1; m < length; ++m) {
        Cell local = cells_of(spec->data2)[m];
        if (local.is(TYPE_WORD)) block::rs_append(c.collected, local);
      }
      break;
    }
    // Every entry of a spec with /extern must read as a word (or be a type
    // block or a doc string).
    for (uint32_t k = spec->data1; k < length; ++k) {
      Cell entry = cells_of(spec->data2)[k];
      TypeId t = entry.type();
      bool wordlike = t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD ||
                      t == TYPE_REFINEMENT;
      if (!wordlike && t != TYPE_BLOCK && t != TYPE_STRING) fire(ErrorId::script_bad_func_extern, &entry);
    }
    block::rs_set_tail(spec, i);
    break;
  }
  if (body->is(TYPE_BLOCK)) c.walk(*body);
  if (block::rs_length(c.collected) <= 0) return;
  bool has_local = false;
  for (uint32_t i = spec->data1; i < tail_of(spec->data2); ++i)
    if (is_local(cells_of(spec->data2)[i])) has_local = true;
  if (!has_local) block::rs_append(spec, runtime_words::local_refinement);
  uint32_t local_symbol = symbol::resolve(runtime_words::local);
  for (uint32_t i = c.collected->data1; i < tail_of(c.collected->data2); ++i) {
    Cell w = cells_of(c.collected->data2)[i];
    if (canonical(w) == local_symbol) continue;
    block::rs_append(spec, w);
  }
}

// --- Actions -------------------------------------------------------------------------------

namespace {
Cell* make(Cell* proto, Cell* spec, TypeId) {
  (void)proto;
  bool valid = spec->is(TYPE_BLOCK) && block::rs_length(spec) >= 2;
  Cell* items = valid ? block::rs_head(spec) : nullptr;
  if (!valid || !items[0].is(TYPE_BLOCK) || !items[1].is(TYPE_BLOCK)) fire(ErrorId::script_bad_func_def, spec);
  Cell function_spec = items[0];
  Cell body = items[1];
  uint32_t flags = validate_spec(&function_spec);
  Cell made = *push(&function_spec, &body, 0, flags);
  return stack::set_result(made);
}

Cell* reflect(Cell* value, int field) {
  uint32_t symbol = symbol::resolve(static_cast<uint32_t>(field));
  if (symbol == symbol::resolve(runtime_words::spec)) return stack::set_result(block::make_value(value->data2));
  if (symbol == symbol::resolve(runtime_words::body)) return stack::set_result(*info(*value, kInfoBody));
  if (symbol == symbol::resolve(runtime_words::words)) {
    NodeId context = context_of(*value);
    Cell* words = block::push_only(static_cast<int32_t>(context::word_count(context)));
    for (uint32_t i = 0; i < context::word_count(context); ++i) {
      Cell w = *context::word_at(context, i);
      w.set_type(TYPE_WORD);
      w.data1 = context;
      w.data3 = i;
      block::rs_append(words, w);
    }
    return stack::set_result(*words);
  }
  fire(ErrorId::internal_not_done);
}

int32_t text(Cell* buffer, const char* s, int32_t part) {
  string::concatenate_literal(buffer, s);
  int32_t n = 0;
  while (s[n]) ++n;
  return part - n;
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) { return text(buffer, "?function?", part); }
int32_t form_routine(Cell*, Cell* buffer, Cell*, int32_t part) { return text(buffer, "?routine?", part); }

int32_t mold_part(const Cell& value, Cell* buffer, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
  Cell* v = stack::push(value);
  int32_t left = actions::mold(v, buffer, false, all, flat, arg, part, indent);
  stack::pop(1);
  return left;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
  part = text(buffer, "func ", part);
  part = mold_part(block::make_value(value->data2), buffer, all, flat, arg, part, indent);
  Cell body = *info(*value, kInfoBody);
  if (body.is(TYPE_NONE)) return text(buffer, " none", part);
  return mold_part(body, buffer, all, flat, arg, part, indent);
}

int32_t mold_routine(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* arg, int32_t part,
                     int32_t indent) {
  part = text(buffer, "routine ", part);
  part = mold_part(block::make_value(value->data2), buffer, all, flat, arg, part, indent);
  Cell body = *info(*value, kInfoBody);
  if (!body.is(TYPE_BLOCK)) part = text(buffer, " ", part);
  return mold_part(body, buffer, all, flat, arg, part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
  if (value2->type() != value1->type() || !is_equality_or_sort(op)) return kNotComparable;
  auto a = static_cast<int32_t>(value1->data3), b = static_cast<int32_t>(value2->data3);
  return a < b ? -1 : a > b ? 1 : 0;
}
}  // namespace

void init_function() {
  DatatypeRecord record(TYPE_FUNCTION, TYPE_CONTEXT, "function!");
  record.handle<Action::make>(make)
      .handle<Action::reflect>(reflect)
      .handle<Action::form>(form)
      .handle<Action::mold>(mold)
      .handle<Action::compare>(compare);
  register_datatype(record);
}

void init_routine() {
  DatatypeRecord record(TYPE_ROUTINE, TYPE_FUNCTION, "routine!");
  record.inherit(Action::reflect)
      .handle<Action::form>(form_routine)
      .handle<Action::mold>(mold_routine)
      .handle<Action::compare>(compare);
  register_datatype(record);
}

}  // namespace kel::function
