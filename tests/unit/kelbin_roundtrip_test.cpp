// kelbin round trips as a property: random nested values holding every
// datatype kelbin carries, written in both layouts and read back, must
// come back with the same structure. Series, objects and functions that
// the value shares must be shared again (and nothing else shared), words
// must keep their bindings to the objects and functions of the value, and
// everything else must read back bit for bit.
//
// Values are built by Kel programs that a generator with a fixed seed
// writes: nested reduce blocks of literals, new series kept in variables
// and used again (at their head or further on), objects (with change
// handlers too), images, functions, words bound to both, errors, natives, actions
// and operators.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/source_evaluation.h"
#include "runtime/stack.h"
#include "io/kelbin.h"
#include "test_support.h"

namespace kel {
namespace {

using KelbinRoundTrip = testing::RuntimeTest;

// --- Writing random values ---------------------------------------------------------------

const char* const kLiterals[] = {
    "0", "63", "64", "-1", "2147483647", "-2147483648", "3.0", "0.5", "-0.0", "1e300", "0.0 / 0.0", "1.0 / 0.0",
    "1%", "12.5%", "-50%", "0.1%", "1:00", "-0:00:01.5", "12:30:15.5", "1-Jan-2020", "1-Jan-2020/10:00",
    "29-Feb-2024/23:59:59-5:00", "$1.50", "-EUR$2.25", "USD$0", "#\"a\"", "#\"^(1F600)\"", "3x-4", "1.2.3",
    "1.2.3.4.5.6.7.8.9.10.11.12", "make typeset! [integer! block!]", "integer!", "none", "true", "false", "()",
    "(1.5, 2)", "(1, 2, 3)", "#iss", "/ref", "'wd", "quote sw:", "quote :gw", "quote 'lw", "\"abc\"",
    "\"\u00e9t\u00e9\"", "\"\u20acuro\"", "\"\U0001F600!\"", "%a/b.txt", "http://x.y/z", "<tag x>", "a@b.c", "@ref",
    "#{0102FF}", "make vector! [integer! 16 [1 -1 300]]", "make vector! [float! 32 [1.5]]",
    "make vector! [50% 25%]", "make vector! [char! 32 [#\"^(1F600)\"]]", "make bitset! \"abc\"",
    "make bitset! [not \"abc\"]", "quote a/b/c", "quote :a/b", "quote a/b:", "quote 'a/b", "quote (1 + 2)",
    "try [1 / 0]", "make error! \"boom\"", ":print", ":append", ":+", "make op! func [a b] [a - b]",
    "make map! [a 1 \"k\" [2] 3 4]", "make hash! [x 1 y 2]", "[lit words [in] a block]", "next [1 2 3]",
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  // A program whose last value is the value to write.
  std::string program() {
    series_.clear();
    objects_.clear();
    functions_.clear();
    word_makers_.clear();
    return "reduce [" + items(3) + "]";
  }

 private:
  std::mt19937 random_;
  std::vector<std::string> series_;
  std::vector<std::string> objects_;
  std::vector<std::string> functions_;
  std::vector<std::string> word_makers_;
  int counter_ = 0;

  bool no_vectors_ = false;

  int pick(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }

  std::string literal() {
    for (;;) {
      std::string text = kLiterals[pick(sizeof kLiterals / sizeof kLiterals[0])];
      if (!no_vectors_ || text.find("vector!") == std::string::npos) return text;
    }
  }

  // An object's field: any value but unset.
  std::string field(int depth) {
    std::string text = expression(depth);
    return text == "()" ? "none" : text;
  }
  std::string fresh(const char* prefix) { return prefix + std::to_string(++counter_); }

  std::string items(int depth) {
    std::string out;
    int n = pick(6);
    for (int i = 0; i < n; ++i) out += (i ? " " : "") + expression(depth) + (pick(5) == 0 ? "\n" : "");
    return out;
  }

  std::string keep(std::vector<std::string>& pool, const char* prefix, const std::string& made) {
    std::string name = fresh(prefix);
    pool.push_back(name);
    return "(" + name + ": " + made + ")";
  }

  std::string expression(int depth) {
    switch (pick(depth > 0 ? 14 : 6)) {
      case 0:
      case 1:
      case 2:
        return literal();
      case 3:
        if (!series_.empty()) {
          const std::string& name = series_[static_cast<size_t>(pick(static_cast<int>(series_.size())))];
          switch (pick(3)) {
            case 0:
              return name;
            case 1:
              return "next " + name;
            default:
              return "at " + name + " 3";
          }
        }
        return "none";
      case 4:
        if (!objects_.empty()) {
          const std::string& name = objects_[static_cast<size_t>(pick(static_cast<int>(objects_.size())))];
          return pick(2) ? name : "in " + name + " 'a";
        }
        return "'w";
      case 5:
        if (!word_makers_.empty()) return word_makers_[static_cast<size_t>(pick(static_cast<int>(word_makers_.size())))] + " 0";
        if (!functions_.empty()) return ":" + functions_[static_cast<size_t>(pick(static_cast<int>(functions_.size())))];
        return "#nothing";
      case 6:
      case 7:
        return keep(series_, "s", "reduce [" + items(depth - 1) + "]");
      case 8: {
        const char* kinds[] = {"paren!", "hash!", "path!", "lit-path!"};
        int kind = pick(4);
        // Vectors of different element types refuse to be compared, which
        // a hash! does with the values it indexes.
        bool outer = no_vectors_;
        no_vectors_ = no_vectors_ || kind == 1;
        std::string contents = items(depth - 1);
        no_vectors_ = outer;
        return keep(series_, "s", "make " + std::string(kinds[kind]) + " reduce [" + contents + "]");
      }
      case 9: {
        // Images with transparency and without pixels among them.
        const char* texts[] = {"copy \"text\"", "copy %file.txt", "copy #{00FF}", "make vector! [integer! 8 [1 2 3]]",
                               "copy \"\u0101\u0102\u0103\"", "make image! [3x2 #{00FF7F} #{00 40 80 C0 FF 01}]",
                               "make image! 0x4"};
        int text = pick(7);
        if (no_vectors_ && text == 3) text = 0;
        return keep(series_, "s", texts[text]);
      }
      case 10: {
        std::string handlers;
        if (pick(3) == 0) handlers = " on-change*: func [w o n] [] on-deep-change*: func [o w t a n i p] []";
        // One operand at a time: the order of the text is the order of use.
        std::string a = field(depth - 1);
        std::string b = field(depth - 1);
        return keep(objects_, "o", "make object! [a: " + a + " b: " + b + " c: func [x] [x + a]" + handlers + "]");
      }
      case 11:
        if (pick(2)) {
          std::string name = fresh("g");
          word_makers_.push_back(name);
          return "(" + name + ": func [x /local y] ['y])";
        }
        return keep(functions_, "f", "func [a b /r c /local d] [a + b reduce [d 'a " + literal() + "]]");
      case 12: {
        std::string first = expression(depth - 1);
        std::string second = expression(depth - 1);
        std::string third = expression(depth - 1);
        return "make map! reduce [1 " + first + " \"k\" " + second + " 'w " + third + "]";
      }
      default:
        return (pick(2) ? "next " : "") + std::string("reduce [") + items(depth - 1) + "]";
    }
  }
};

// --- Comparing a value with what came back -------------------------------------------------------

class Comparer {
 public:
  // Empty when equal, else where the first difference lies.
  std::string compare(const Cell& original, const Cell& copy) {
    failure_.clear();
    value(original, copy, "top");
    return failure_;
  }

 private:
  std::unordered_map<NodeId, NodeId> forward_;
  std::unordered_map<NodeId, NodeId> backward_;
  std::string failure_;

  bool fail(const std::string& where, const std::string& what) {
    if (failure_.empty()) failure_ = where + ": " + what;
    return false;
  }

  // Pairs two nodes: true the first time they meet (their contents are then
  // compared), false when already paired; a node paired with another fails.
  bool pair_nodes(NodeId a, NodeId b, const std::string& where, bool* first) {
    auto found = forward_.find(a);
    auto back = backward_.find(b);
    if (found == forward_.end() && back == backward_.end()) {
      forward_[a] = b;
      backward_[b] = a;
      *first = true;
      return true;
    }
    *first = false;
    if (found != forward_.end() && found->second == b) return true;
    return fail(where, "sharing differs");
  }

  static Cell cell_of(NodeId node, uint32_t i) { return memory::buffer_of(node)->cells()[i]; }

  bool cells(NodeId a, NodeId b, const std::string& where) {
    uint32_t n = memory::buffer_of(a)->cell_count();
    if (memory::buffer_of(b)->cell_count() != n) return fail(where, "cell count");
    for (uint32_t i = 0; i < n; ++i)
      if (!value(cell_of(a, i), cell_of(b, i), where + "/" + std::to_string(i))) return false;
    return true;
  }

  bool bytes(NodeId a, NodeId b, const std::string& where) {
    SeriesBuffer* x = memory::buffer_of(a);
    SeriesBuffer* y = memory::buffer_of(b);
    if (x->unit() != y->unit() || x->used() != y->used() ||
        std::memcmp(x->head_ptr(), y->head_ptr(), x->used()) != 0)
      return fail(where, "units differ");
    return true;
  }

  // A context of an object or function: its words, and a heap context's
  // values.
  bool context(NodeId a, NodeId b, const std::string& where) {
    bool first;
    if (!pair_nodes(a, b, where, &first)) return false;
    if (!first) return true;
    uint32_t n = context::word_count(a);
    if (context::word_count(b) != n || context::on_stack(a) != context::on_stack(b)) return fail(where, "context shape");
    for (uint32_t i = 0; i < n; ++i)
      if (context::word_at(a, i)->data2 != context::word_at(b, i)->data2) return fail(where, "context words");
    if (!context::on_stack(a))
      for (uint32_t i = 0; i < n; ++i)
        if (!value(context::values_head(a)[i], context::values_head(b)[i], where + "." + std::to_string(i)))
          return false;
    return true;
  }

  // The owner of a word's context when its binding travels.
  static bool owner_of(const Cell& word, Cell* owner) {
    NodeId c = word.data1;
    if (c == 0 || c == context::global()) return false;
    Cell self = *context::self_cell(c);
    if (!(self.is(TYPE_OBJECT) || self.is(TYPE_FUNCTION)) || self.data1 != c) return false;
    *owner = self;
    return true;
  }

  bool function_value(const Cell& a, const Cell& b, const std::string& where) {
    if (!context(a.data1, b.data1, where)) return false;
    bool first;
    if (!pair_nodes(a.data2, b.data2, where + " spec", &first)) return false;
    if (first && !cells(a.data2, b.data2, where + " spec")) return false;
    Cell body_a = *function::info(a, function::kInfoBody);
    Cell body_b = *function::info(b, function::kInfoBody);
    return value(body_a, body_b, where + " body");
  }

  bool value(const Cell& a, const Cell& b, const std::string& where) {
    TypeId type = a.type();
    if (b.type() != type) return fail(where, std::string("type ") + datatype_name(type) + " came back as " +
                                                 (datatype_name(b.type()) ? datatype_name(b.type()) : "?"));
    if (a.new_line() != b.new_line()) return fail(where, "new-line marker");
    bool first;
    switch (type) {
      case TYPE_UNSET:
      case TYPE_NONE:
        return true;
      case TYPE_DATATYPE:
      case TYPE_LOGIC:
        return a.data1 == b.data1 || fail(where, "payload");
      case TYPE_CHAR:
      case TYPE_INTEGER:
        return a.data2 == b.data2 || fail(where, "payload");
      case TYPE_FLOAT:
      case TYPE_PERCENT:
      case TYPE_TIME:
      case TYPE_PAIR:
        return (a.data2 == b.data2 && a.data3 == b.data3) || fail(where, "payload");
      case TYPE_POINT2D:
        return (a.data1 == b.data1 && a.data2 == b.data2) || fail(where, "payload");
      case TYPE_DATE:
      case TYPE_TYPESET:
      case TYPE_POINT3D:
        return (a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3) || fail(where, "payload");
      case TYPE_TUPLE:
        return (tuple::size_of(a) == tuple::size_of(b) && a.data1 == b.data1 && a.data2 == b.data2 &&
                a.data3 == b.data3) ||
               fail(where, "tuple");
      case TYPE_MONEY:
        return (a.header == b.header && a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3) ||
               fail(where, "money");
      case TYPE_ISSUE:
        return a.data2 == b.data2 || fail(where, "issue");
      case TYPE_WORD:
      case TYPE_SET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
      case TYPE_REFINEMENT: {
        if (a.data2 != b.data2) return fail(where, "symbol");
        Cell owner;
        if (!owner_of(a, &owner)) {
          Cell global;
          word::make_at(a.data2, &global);
          return (b.data1 == context::global() && b.data3 == global.data3) || fail(where, "global binding");
        }
        Cell copy_owner;
        if (!owner_of(b, &copy_owner) || a.data3 != b.data3) return fail(where, "binding");
        return value(owner, copy_owner, where + " owner");
      }
      case TYPE_OBJECT:
        if ((object::handlers_of(a) != 0) != (object::handlers_of(b) != 0)) return fail(where, "handlers");
        if (object::class_of(b) != static_cast<uint32_t>(-1)) return fail(where, "class id of data");
        return context(a.data1, b.data1, where);
      case TYPE_FUNCTION:
        return function_value(a, b, where);
      case TYPE_ERROR: {
        if (kel::error_value::id_of(a) != kel::error_value::id_of(b)) return fail(where, "error id");
        if (!pair_nodes(a.data1, b.data1, where, &first)) return false;
        if (!first) return true;
        for (uint32_t f = kel::error_value::kArg1; f <= kel::error_value::kStack; ++f) {
          auto field = static_cast<kel::error_value::Field>(f);
          if (!value(kel::error_value::field(a, field), kel::error_value::field(b, field), where + "#" + std::to_string(f)))
            return false;
        }
        return true;
      }
      case TYPE_NATIVE:
      case TYPE_ACTION:
        if (a.data1 != b.data1) return fail(where, "number");
        if (!pair_nodes(a.data2, b.data2, where + " spec", &first)) return false;
        return !first || cells(a.data2, b.data2, where + " spec");
      case TYPE_OP: {
        if (native::op_source_type(a) != native::op_source_type(b)) return fail(where, "op source");
        Cell wrapped_a = a;
        Cell wrapped_b = b;
        wrapped_a.header = native::op_source_type(a);
        wrapped_b.header = native::op_source_type(b);
        return value(wrapped_a, wrapped_b, where + " op");
      }
      case TYPE_MAP: {
        if (!pair_nodes(a.data2, b.data2, where, &first)) return false;
        if (!first) return true;
        // The live entries, in order.
        std::vector<Cell> live_a, live_b;
        for (NodeId node : {a.data2, b.data2}) {
          std::vector<Cell>& live = node == a.data2 ? live_a : live_b;
          uint32_t n = memory::buffer_of(node)->cell_count() & ~1u;
          for (uint32_t i = 0; i < n; i += 2)
            if (!cell_of(node, i + 1).is(TYPE_VALUE)) {
              live.push_back(cell_of(node, i));
              live.push_back(cell_of(node, i + 1));
            }
        }
        if (live_a.size() != live_b.size()) return fail(where, "map size");
        for (size_t i = 0; i < live_a.size(); ++i)
          if (!value(live_a[i], live_b[i], where + "/" + std::to_string(i))) return false;
        return b.data3 != 0 || fail(where, "map table");
      }
      case TYPE_BITSET:
        if (!pair_nodes(a.data2, b.data2, where, &first)) return false;
        if ((memory::buffer_of(a.data2)->flags & series_flags::kBitsetComplement) !=
            (memory::buffer_of(b.data2)->flags & series_flags::kBitsetComplement))
          return fail(where, "complement");
        return !first || bytes(a.data2, b.data2, where);
      default:
        break;
    }
    if (series::is_series_kind(type)) {
      if (a.data1 != b.data1) return fail(where, "head");
      if (type == TYPE_VECTOR && a.data3 != b.data3) return fail(where, "element type");
      if (type == TYPE_IMAGE && a.data3 != b.data3) return fail(where, "image size");
      if (type == TYPE_HASH && b.data3 == 0) return fail(where, "hash table");
      if (!pair_nodes(a.data2, b.data2, where, &first)) return false;
      if (!first) return true;
      return series::is_block_kind(type) ? cells(a.data2, b.data2, where) : bytes(a.data2, b.data2, where);
    }
    return fail(where, std::string("unexpected ") + datatype_name(type));
  }
};

// Writes the value in a layout and reads it back in the codec mode.
Cell round_trip(const Cell& value, bool compact) {
  Cell encoded = compact ? kelbin::encode_cp(value) : kelbin::encode(value);
  stack::push(encoded);
  Cell* out = block::push_only(1);
  Pin pin(encoded.data2);
  SeriesBuffer* buffer = memory::buffer_of(encoded.data2);
  kelbin::decode(buffer->head_ptr(), buffer->used(), *out, true, nullptr);
  EXPECT_EQ(block::rs_length(out), 1);
  return *block::rs_abs_at(out, 0);
}

TEST_F(KelbinRoundTrip, RandomValuesComeBackWithTheirSharing) {
  Generator generator(20260512);
  for (int trial = 0; trial < 300; ++trial) {
    std::string program = generator.program();
    auto error = testing::catch_error([&] {
      stack::Guard guard;
      Cell value = *source_evaluation::do_source(program);
      for (bool compact : {true, false}) {
        Cell copy = round_trip(value, compact);
        std::string difference = Comparer().compare(value, copy);
        EXPECT_EQ(difference, "") << (compact ? "compact: " : "fixed: ") << program;
      }
    });
    EXPECT_FALSE(error.has_value()) << error_info(*error).word << " "
                                    << testing::mold(kel::error_value::argument(testing::last_error(), 1)) << " in "
                                    << program;
  }
}

// A block that holds itself, an object that holds itself and a function
// whose body holds the function: each cycle comes back as a cycle.
TEST_F(KelbinRoundTrip, CyclesComeBackAsCycles) {
  stack::Guard guard;
  Cell value = *source_evaluation::do_source(
      "b: [1] append/only b b o: make object! [me: none] o/me: o f: func [] [f] e: try [1 / 0] e/arg1: e "
      "reduce [b o :f e]");
  for (bool compact : {true, false}) {
    Cell copy = round_trip(value, compact);
    EXPECT_EQ(Comparer().compare(value, copy), "") << compact;
    Cell block = *block::rs_abs_at(&copy, 0);
    EXPECT_EQ(block::rs_abs_at(&block, 1)->data2, block.data2) << "the block inside itself";
  }
}

}  // namespace
}  // namespace kel
