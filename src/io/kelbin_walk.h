// The walk both kelbin layouts share (see kelbin_internal.h): the order in
// which a container, an object, a function, a built-in, an error or a bound
// word is read and written, written once over the layout's own records.
//
// RecordReader<Layout> and RecordWriter<Layout> are bases the layouts derive
// from (kelbin_compact.cpp, kelbin_fixed.cpp); they call back into the
// layout for what its records spell differently, so the calls inline as if
// each layout had its own copy. A layout reader provides:
//   record(block)              one whole record appended to the block
//   quick_records(block, n)    a fast path: up to n of the commonest records,
//                              answering how many it read
//   number(), signed_number()  an unsigned and a signed number field
//   kNumberBytes               the size of the smallest number field (for
//                              the checks of counts against the bytes left)
//   reference()                a reference record's target
//   context_record()           a context description inside object! and function!
//   block_header(&at)          the header of a function's spec or body block
//                              record; answers whether it is shared
//   owner_header(&handlers)    the header of a bound word's owner record: its
//                              type (anything else but object! or function! fails)
// A layout writer provides:
//   value(cell, counted)       one whole record
//   number(n), signed_number(n) the same number fields
//   header(type, line)         a plain record header (line: the new-line
//                              bit, where the layout keeps it in the header)
//   reference(entry)           a reference record in place of contents
//   copy_reference(entry, line) a record that is a copy of the value met before
//   context_description(form)  a context's kind, flags and words
//   owner_header(type, handlers, shared, line)  the header of an object! or
//                              function! record
//   empty_block()              a block record holding nothing
//   series_header(cell, shared, line), series_bytes(cell)  the parts of a
//                              series record around its contents
//   global_word(cell, symbol_index, line), bound_word_header(type, shared, line)
//                              the parts of a word record that differ
// Both visit a value's parts in the same order: the record indexes a
// reference path counts are the order the reader appends in.
#pragma once

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "io/kelbin_internal.h"
#include "runtime/errors.h"

namespace kel::kelbin {

template <class Layout>
class RecordReader {
 public:
  // Reads a records area into the decoder's destination.
  static void read(Decoder& decoder, const uint8_t* records, const uint8_t* end) {
    decoder.records_end = end;
    Layout(decoder, records).records(decoder.destination);
  }

 protected:
  RecordReader(Decoder& decoder, const uint8_t* position) : d_(decoder), p_(position) {}

  Decoder& d_;
  const uint8_t* p_;

  Layout& layout() { return static_cast<Layout&>(*this); }

  // count, contents and container (with Decoder::append and global_word)
  // are forced inline into the quick records: the profile-guided build
  // weighs the decoder against the interpreter's far hotter loops and
  // otherwise leaves them as calls, which doubled a big decode's own time.

  // A count of things of at least size bytes each that follow.
  [[gnu::always_inline]] uint32_t count(uint32_t size) {
    const uint8_t* at = p_;
    uint32_t n = layout().number();
    if (n > d_.bytes_left(p_) / size) d_.fail(at);
    return n;
  }

  // A reference path after its header: the length, then the record indexes.
  Cell path(const uint8_t* at) {
    uint32_t length = layout().number();
    if (length < 1 || length > kMaxPathLength || length > d_.bytes_left(p_) / Layout::kNumberBytes) d_.fail(at);
    d_.path.resize(length);
    for (uint32_t i = 0; i < length; ++i) d_.path[i] = layout().number();
    return d_.walk(at);
  }

  // Reads records into the block until it holds n more cells; a record
  // that appends anything else (a bind record, which data cannot hold) is
  // refused at the container's position.
  [[gnu::always_inline]] void contents(NodeId block, uint32_t n, const uint8_t* at) {
    uint32_t before = Decoder::cell_count(block);
    // The nesting is the same for every record of the contents.
    if (!d_.leaf_fits()) {
      for (uint32_t i = 0; i < n; ++i) layout().record(block);
    } else {
      // Runs of the commonest records, each up to one of another form.
      uint32_t i = layout().quick_records(block, n);
      while (i < n) {
        layout().record(block);
        ++i;
        i += layout().quick_records(block, n - i);
      }
    }
    if (Decoder::cell_count(block) != before + n) d_.fail(at);
  }

  // A block, paren, path or hash! record's contents after its head.
  [[gnu::always_inline]] uint32_t container(NodeId block, TypeId type, uint32_t head, const uint8_t* at) {
    uint32_t n = count(Layout::kNumberBytes);
    Cell made = type == TYPE_HASH ? d_.begin_hash(head, n) : make_cell(type, head, Decoder::new_block(n), 0);
    uint32_t position = Decoder::append(block, made);
    contents(made.data2, n, at);
    if (type == TYPE_HASH) d_.finish_hash(made);
    return position;
  }

  uint32_t map(NodeId block, bool shared, const uint8_t* at) {
    if (shared) return Decoder::append(block, d_.shared(TYPE_MAP, 0, layout().reference(), at));
    const uint8_t* count_at = p_;
    uint32_t n = count(Layout::kNumberBytes);
    Cell map = d_.begin_map(n, count_at);
    uint32_t position = Decoder::append(block, map);
    contents(map.data2, n, at);
    d_.finish_map(map, at);
    return position;
  }

  // The types no record carries.
  [[noreturn]] static void no_codec(TypeId type) {
    Cell datatype = make_cell(TYPE_DATATYPE, type);
    fire(ErrorId::access_no_codec, &datatype);
  }

  // A context! record (the boot image's only): the context, then its values.
  uint32_t context_value(NodeId block, const ContextForm& form, const uint8_t* at) {
    NodeId context = d_.make_context(form, at);
    uint32_t position = Decoder::append(block, d_.context_object(context));
    if (form.values) values(context, at);
    return position;
  }

  // The values of a heap context, one record a word, in place of the unset
  // values it was made with.
  void values(NodeId context, const uint8_t* at) {
    NodeId values_node = context::values_node(context);
    uint32_t n = context::word_count(context);
    memory::buffer_of(values_node)->tail = memory::buffer_of(values_node)->offset;
    contents(values_node, n, at);
  }

  uint32_t error(NodeId block, const uint8_t* at) {
    Cell error = d_.make_error(layout().number(), at);
    uint32_t position = Decoder::append(block, error);
    for (uint32_t field = 0; field < 6; ++field) {
      const uint8_t* field_at = p_;
      layout().record(d_.open_error_field(error, field, field_at));
      d_.close_error_field(error, field, field_at);
    }
    return position;
  }

  // An op!: the record of the value it wraps (of the expected type, 0 for
  // any the op! takes).
  uint32_t op(NodeId block, TypeId expected, const uint8_t* at) {
    uint32_t position = Decoder::cell_count(block);
    const uint8_t* wrapped_at = p_;
    layout().record(block);
    if (Decoder::cell_count(block) != position + 1) d_.fail(wrapped_at);
    d_.make_op(block, position, expected, at);
    return position;
  }

  uint32_t object(NodeId block, bool handlers, PendingWord* binding, const uint8_t* at) {
    int32_t class_id = layout().signed_number();
    int32_t on_change = -1;
    int32_t on_deep_change = -1;
    if (handlers) {
      on_change = layout().signed_number();
      on_deep_change = layout().signed_number();
    }
    ContextForm form = layout().context_record();
    NodeId context = d_.make_context(form, at);
    Cell object = d_.begin_object(context, class_id, handlers, on_change, on_deep_change, at);
    uint32_t position = 0;
    if (binding != nullptr) {
      bind_pending(*binding, context, at);
    } else {
      position = Decoder::append(block, object);
    }
    if (form.values) values(context, at);
    d_.finish_object(object);
    return position;
  }

  uint32_t function(NodeId block, PendingWord* binding, const uint8_t* at) {
    const uint8_t* capacity_at = p_;
    uint32_t spec_capacity = layout().number();
    uint32_t body_capacity = layout().number();
    ContextForm form = layout().context_record();
    NodeId context = d_.make_context(form, at);
    Cell function = d_.begin_function(context, spec_capacity, body_capacity, capacity_at);
    uint32_t position = 0;
    NodeId home = 0;
    if (binding != nullptr) {
      bind_pending(*binding, context, at);
    } else {
      home = block;
      position = Decoder::append(block, function);
    }
    function_block(&function, home, position, true);
    d_.check_function(function, at);
    function_block(&function, home, position, false);
    return position;
  }

  // A function's spec or body: a block record read into the block the
  // function was made with, or shared with an earlier block.
  void function_block(Cell* function, NodeId home, uint32_t position, bool spec) {
    const uint8_t* at = p_;
    Decoder::Nesting nesting(d_, at);
    if (layout().block_header(&at)) {
      Cell target = layout().reference();
      if (spec) d_.share_spec(function, home, position, target, at);
      else d_.share_body(*function, target, at);
      return;
    }
    uint32_t n = count(Layout::kNumberBytes);
    contents(spec ? Decoder::spec_node(*function) : Decoder::body_node(*function), n, at);
  }

  uint32_t builtin(NodeId block, TypeId type, const uint8_t* at) {
    uint32_t number = layout().number();
    if (d_.codec_q) {
      uint32_t position = Decoder::cell_count(block);
      layout().record(block);
      d_.make_builtin_at(block, position, type, number, at);
      return position;
    }
    // The boot image's spec lands right after the native's cell.
    uint32_t position = Decoder::append(block, make_cell(TYPE_NONE));
    layout().record(block);
    if (Decoder::cell_count(block) < position + 2) d_.fail(at);
    Cell made = d_.builtin_value(type, number, *Decoder::cell_at(block, position + 1), at);
    *Decoder::cell_at(block, position) = made;
    return position;
  }

  // A codec-mode word bound to an object's or a function's context: a
  // reference to one met before, or the owner's record itself.
  uint32_t bound_word(NodeId block, TypeId type, uint32_t symbol_index, int32_t index, bool shared,
                      const uint8_t* symbol_at, const uint8_t* at) {
    if (shared) {
      NodeId context = d_.target_context(layout().reference(), at);
      return Decoder::append(block, d_.context_word(type, symbol_index, context, index, at));
    }
    d_.symbol(symbol_index, symbol_at);
    PendingWord pending{block, Decoder::append(block, make_cell(TYPE_NONE)), type, symbol_index, index};
    const uint8_t* owner_at = p_;
    bool handlers = false;
    uint32_t owner = layout().owner_header(&handlers);
    if (owner == TYPE_OBJECT) {
      object(block, handlers, &pending, owner_at);
    } else if (owner == TYPE_FUNCTION) {
      function(block, &pending, owner_at);
    } else {
      d_.fail(owner_at);
    }
    return pending.position;
  }

  void bind_pending(const PendingWord& pending, NodeId context, const uint8_t* at) {
    *Decoder::cell_at(pending.block, pending.position) =
        d_.context_word(pending.type, pending.symbol_index, context, pending.index, at);
  }
};

template <class Layout>
class RecordWriter {
 protected:
  explicit RecordWriter(Encoder& encoder) : e_(encoder), out_(encoder.records) {}

  Encoder& e_;
  std::vector<uint8_t>& out_;
  std::vector<uint32_t> path_;

  Layout& layout() { return static_cast<Layout&>(*this); }

  // The length of an entry's path, then its record indexes.
  void path(uint32_t entry) {
    e_.path_of(entry, &path_);
    layout().number(static_cast<uint32_t>(path_.size()));
    for (uint32_t index : path_) layout().number(index);
  }

  // A series record: its header (with its head), then a reference to the
  // buffer met before or the contents.
  void series(const Cell& cell, uint32_t line) {
    TypeId type = cell.type();
    NodeId node = cell.data2;
    uint32_t entry = e_.find(node);
    layout().series_header(cell, entry != 0, line);
    if (entry != 0) {
      layout().reference(entry);
      return;
    }
    Encoder::Inside inside(e_, e_.remember(node));
    if (is_block_family(type) || type == TYPE_HASH) {
      uint32_t n = memory::buffer_of(node)->cell_count();
      layout().number(n);
      for (uint32_t i = 0; i < n; ++i) {
        Cell item = memory::buffer_of(node)->cells()[i];
        layout().value(item);
      }
    } else if (type == TYPE_MAP) {
      // Removed entries (a value cell of type 0) are left out.
      uint32_t cells = memory::buffer_of(node)->cell_count() & ~1u;
      uint32_t live = 0;
      for (uint32_t i = 0; i < cells; i += 2)
        if (!memory::buffer_of(node)->cells()[i + 1].is(TYPE_VALUE)) ++live;
      layout().number(2 * live);
      for (uint32_t i = 0; i < cells; i += 2) {
        if (memory::buffer_of(node)->cells()[i + 1].is(TYPE_VALUE)) continue;
        Cell key = memory::buffer_of(node)->cells()[i];
        layout().value(key);
        Cell item = memory::buffer_of(node)->cells()[i + 1];
        layout().value(item);
      }
    } else {
      layout().series_bytes(cell);
    }
  }

  // The op! a record may carry: the type of the value it wraps.
  static TypeId op_source(const Cell& cell) {
    TypeId source = native::op_source_type(cell);
    if (source != TYPE_NATIVE && source != TYPE_ACTION && source != TYPE_FUNCTION) Encoder::no_codec(cell);
    return source;
  }
  // After an op!'s header: the value it wraps, which takes the op!'s index.
  void op_wrapped(const Cell& cell, TypeId source) {
    Cell wrapped = cell;
    wrapped.header = source;
    layout().value(wrapped, false);
  }
  // After a native's or action's header: its number and its interface
  // block, which is no child of its own (it takes the native's index).
  void builtin_payload(const Cell& cell) {
    layout().number(cell.data1);
    layout().value(block::make_value(cell.data2), false);
  }

  // An object! or function! record: a reference to its context met
  // before, or its payload.
  void owner(const Cell& cell, uint32_t line) {
    bool is_object = cell.is(TYPE_OBJECT);
    uint32_t entry = e_.find(is_object ? object::context_of(cell) : function::context_of(cell));
    layout().owner_header(cell.type(), is_object && object::handlers_of(cell) != 0, entry != 0, line);
    if (entry != 0) {
      layout().reference(entry);
      return;
    }
    owner_payload(cell);
  }
  void owner_payload(const Cell& cell) {
    if (cell.is(TYPE_OBJECT)) object_payload(cell);
    else function_payload(cell);
  }

  void object_payload(const Cell& cell) {
    NodeId context = object::context_of(cell);
    layout().signed_number(static_cast<int32_t>(object::class_of(cell)));
    if (object::handlers_of(cell) != 0) {
      int32_t on_change, on_deep_change;
      Encoder::handler_indexes(cell, &on_change, &on_deep_change);
      layout().signed_number(on_change);
      layout().signed_number(on_deep_change);
    }
    ContextForm form = Encoder::context_form(context);
    Encoder::Inside inside(e_, e_.remember(context));
    layout().context_description(form);
    if (form.values)
      for (uint32_t i = 0; i < form.symbols.size(); ++i) {
        Cell item = context::values_head(context)[i];
        layout().value(item);
      }
  }

  void function_payload(const Cell& cell) {
    NodeId context = function::context_of(cell);
    Cell spec = block::make_value(cell.data2);
    Cell body = *function::info(cell, function::kInfoBody);
    layout().number(memory::buffer_of(spec.data2)->cell_count());
    layout().number(body.is(TYPE_BLOCK) ? memory::buffer_of(body.data2)->cell_count() : 0);
    Encoder::Inside inside(e_, e_.remember(context));
    layout().context_description(Encoder::context_form(context));
    layout().value(spec);
    if (body.is(TYPE_BLOCK)) {
      layout().value(body);
    } else {
      // A function without a body block runs nothing: it reads back with
      // an empty one.
      layout().empty_block();
      e_.count();
    }
  }

  void error(const Cell& cell, uint32_t line) {
    NodeId context = cell.data1;
    uint32_t entry = context != 0 ? e_.find(context) : 0;
    if (entry != 0) {
      // The same error met again is the same value: a copy of the first.
      layout().copy_reference(entry, line);
      return;
    }
    ErrorId id = kel::error_value::id_of(cell);
    const ErrorInfo& info = error_info(id);
    layout().header(TYPE_ERROR, line);
    layout().number(static_cast<uint32_t>(category_info(info.category).code + info.number));
    Encoder::Inside inside(e_, e_.remember(context));
    for (uint32_t field = kel::error_value::kArg1; field <= kel::error_value::kStack; ++field)
      layout().value(kel::error_value::field(cell, static_cast<kel::error_value::Field>(field)));
  }

  // A word: global, or bound to an object's or function's context, which
  // is met before (a reference) or written with the word.
  void word(const Cell& cell, uint32_t line) {
    TypeId type = cell.type();
    uint32_t symbol_index = e_.symbol_index(cell.data2);
    Cell owner;
    if (!Encoder::bound_owner(cell, &owner)) {
      layout().global_word(cell, symbol_index, line);
      return;
    }
    uint32_t entry = e_.find(cell.data1);
    layout().bound_word_header(type, entry != 0, line);
    layout().number(symbol_index);
    layout().signed_number(static_cast<int32_t>(cell.data3));
    if (entry != 0) {
      layout().reference(entry);
      return;
    }
    layout().owner_header(owner.type(), owner.is(TYPE_OBJECT) && object::handlers_of(owner) != 0, false, 0);
    owner_payload(owner);
  }
};

}  // namespace kel::kelbin
