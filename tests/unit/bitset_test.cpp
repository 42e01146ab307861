// bitset! and triple!: making bitsets from specs, their text (which makes
// the same bitset again), membership of stored and virtual bits, the
// editing actions, comparison, and the set operations checked bit by bit
// against a plain model for complemented and plain operands alike.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/logic.h"
#include "datatypes/triple.h"
#include "io/lexer.h"
#include "datatypes/runtime_words.h"
#include "value_types_helpers.h"

namespace kel {
namespace {

using namespace value_types_testing;

class BitsetTest : public LiteralTest {};

Cell C(uint32_t code_point) { return make_cell(TYPE_CHAR, 0, code_point); }

Cell make_bitset(const Cell& spec) { return convert<Action::make>(TYPE_BITSET, spec); }

// make bitset! from the given value, molded ("error <id>" when it raises).
std::string made(const Cell& spec) {
  std::string text;
  std::optional<ErrorId> error = testing::catch_error([&] { text = mold(make_bitset(spec)); });
  return error ? std::string("error ") + error_info(*error).word : text;
}

std::string zeros(int bytes) { return std::string(2 * bytes, '0'); }

// --- make and text ---------------------------------------------------------------------------

TEST_F(BitsetTest, MakeFromSpecsAndMold) {
  struct Case {
    Cell spec;
    std::string expected;
  } cases[] = {
      {I(0), "make bitset! #{}"},
      {I(9), "make bitset! #{0000}"},
      {F(1.5), "make bitset! #{00}"},
      {I(-1), "error out-of-range"},
      {Blk({}), "make bitset! #{00}"},
      {S("a"), "make bitset! #{" + zeros(12) + "40}"},
      {C('a'), "make bitset! #{" + zeros(12) + "40}"},
      {Blk({C('a'), W("-"), C('c')}), "make bitset! #{" + zeros(12) + "70}"},
      {Blk({I(0), I(9), Blk({I(15)})}), "make bitset! #{8041}"},
      {Blk({W("not"), C('a')}), "make bitset! [not #{" + zeros(12) + "40}]"},
      {Blk({W("not"), B({0x40})}), "make bitset! [not #{40}]"},
      {B({0xFF, 0x00}), "make bitset! #{FF00}"},
      {Blk({W("not")}), "make bitset! [not #{00}]"},
      {Blk({I(-1)}), "error out-of-range"},
      {Blk({I(1), W("-")}), "error past-end"},
      {Blk({I(5), W("-"), I(1)}), "error past-end"},
      {Blk({C('a'), W("-"), I(100)}), "error invalid-arg"},
      {Blk({B({0})}), "error not-done"},
      {Blk({W("none")}), "error bad-make-arg"},
      {None(), "error bad-make-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(made(c.spec), c.expected) << mold(c.spec);
  EXPECT_EQ(converted<Action::to>(TYPE_BITSET, I(8)), "error bad-to-arg");
  EXPECT_EQ(converted<Action::to>(TYPE_BITSET, None()), "error bad-to-arg");
  EXPECT_EQ(converted<Action::to>(TYPE_BITSET, S("a")), "bitset! make bitset! #{" + zeros(12) + "40}");
}

// The bitset that the text of a mold makes when it is evaluated:
// "make bitset! <spec>".
Cell remade(const Cell& bitset) {
  std::string text = mold(bitset);
  Cell loaded = make_cell(TYPE_UNSET);
  lexer::load(&loaded, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  Cell spec = *block::rs_abs_at(&loaded, 2);
  return make_bitset(spec);
}

TEST_F(BitsetTest, TheMoldMakesTheSameBitsetAgain) {
  Cell specs[] = {I(0), S("hello"), Blk({W("not"), S("aeiou")}), Blk({W("not")}), Blk({I(1), W("-"), I(200)})};
  for (const Cell& spec : specs) {
    Cell bitset = make_bitset(spec);
    Cell again = remade(bitset);
    EXPECT_EQ(mold(again), mold(bitset));
    EXPECT_EQ(compare(again, bitset, kCmpEqual), 0) << mold(bitset);
    for (int64_t n : {0, 97, 98, 4000, 100000}) EXPECT_EQ(bitset::test_bit(&again, n), bitset::test_bit(&bitset, n));
  }
}

TEST_F(BitsetTest, MoldStopsAtThePartLimit) {
  Cell bitset = make_bitset(B({0x01, 0x02, 0x03}));
  EXPECT_EQ(molded_part(bitset, 0x7FFFFFFF), "make bitset! #{010203}");
  EXPECT_EQ(molded_part(bitset, 17), "make bitset! #{01");
  EXPECT_EQ(molded_part(bitset, 21), "make bitset! #{010203");
  EXPECT_EQ(molded_part(bitset, 22), "make bitset! #{010203}");
}

// --- Membership ------------------------------------------------------------------------------

bool picked(const Cell& bitset, const Cell& index) { return logic::get(pick(bitset, index)) != 0; }

TEST_F(BitsetTest, StoredAndVirtualBits) {
  Cell range = make_bitset(Blk({C('a'), W("-"), C('c')}));
  EXPECT_TRUE(picked(range, C('b')));
  EXPECT_FALSE(picked(range, C('d')));
  EXPECT_FALSE(picked(range, I(100000)));
  EXPECT_FALSE(picked(range, I(-1)));
  EXPECT_TRUE(picked(range, S("abc")));
  EXPECT_FALSE(picked(range, S("abd")));
  EXPECT_TRUE(picked(range, Blk({C('a'), W("-"), C('c')})));
  EXPECT_FALSE(picked(range, Blk({C('a'), W("-"), C('d')})));

  Cell all_but_a = make_bitset(Blk({W("not"), C('a')}));
  EXPECT_FALSE(picked(all_but_a, C('a')));
  EXPECT_TRUE(picked(all_but_a, C('b')));
  EXPECT_TRUE(picked(all_but_a, I(100000)));
  EXPECT_TRUE(picked(all_but_a, Blk({I(98), W("-"), I(5000)})));
  EXPECT_FALSE(picked(all_but_a, Blk({I(90), W("-"), I(5000)})));
  // A range reaching below zero: the negative bits are virtual.
  EXPECT_FALSE(picked(all_but_a, Blk({I(-5), W("-"), I(97)})));

  Cell complemented = call_unary(Action::complement, make_bitset(S("a")));
  EXPECT_FALSE(picked(complemented, C('a')));
  EXPECT_TRUE(picked(complemented, I(100000)));
}

Cell find_in(const Cell& bitset, const Cell& value) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* series = stack::push(bitset);
  Cell* key = stack::push(value);
  return *actions::handler_for<Action::find>(*series)(series, key, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
}

TEST_F(BitsetTest, FindAnswersTrueOrNone) {
  Cell bitset = make_bitset(S("xyz"));
  EXPECT_EQ(typed_mold(find_in(bitset, C('y'))), "logic! true");
  EXPECT_EQ(typed_mold(find_in(bitset, C('a'))), "none! none");
}

// --- Editing ---------------------------------------------------------------------------------

Cell edit(Action action, const Cell& bitset, const Cell& value) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* series = stack::push(bitset);
  Cell* argument = stack::push(value);
  switch (action) {
    case Action::append:
    case Action::insert:
      return *reinterpret_cast<ActionHandler<Action::append>>(action_entry(TYPE_BITSET, action))(series, argument, -1, -1,
                                                                                                  -1);
    default: return *actions::handler_for<Action::remove>(*series)(series, -1, 1);
  }
}

Cell poke_bit(const Cell& bitset, const Cell& index, const Cell& value) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  Cell* series = stack::push(bitset);
  Cell* boxed = stack::push(index);
  Cell* data = stack::push(value);
  actions::handler_for<Action::poke>(*series)(series, 0, data, boxed);
  return *series;
}

TEST_F(BitsetTest, AppendInsertRemovePokeAndClear) {
  Cell bitset = make_bitset(I(8));
  edit(Action::append, bitset, S("ab"));
  EXPECT_TRUE(picked(bitset, C('a')));
  EXPECT_EQ(bitset::length_q(&bitset), 104);  // grown to the byte of "b"
  edit(Action::insert, bitset, Blk({I(3), W("-"), I(5)}));
  EXPECT_TRUE(picked(bitset, I(4)));
  edit(Action::remove, bitset, C('a'));
  EXPECT_FALSE(picked(bitset, C('a')));
  EXPECT_TRUE(picked(bitset, C('b')));
  poke_bit(bitset, I(4), logic::make(false));
  EXPECT_FALSE(picked(bitset, I(4)));
  poke_bit(bitset, I(700), I(1));
  EXPECT_TRUE(picked(bitset, I(700)));
  for (const Cell& falsy : {None(), logic::make(false), I(0), F(0.0)}) {
    poke_bit(bitset, I(700), falsy);
    EXPECT_FALSE(picked(bitset, I(700))) << mold(falsy);
    poke_bit(bitset, I(700), S(""));
    EXPECT_TRUE(picked(bitset, I(700)));
  }
  EXPECT_EQ(error_of([&] { edit(Action::append, bitset, I(-1)); }), "out-of-range");
  EXPECT_EQ(error_of([&] { edit(Action::append, bitset, None()); }), "invalid-arg");
  EXPECT_EQ(error_of([&] {
              stack::Guard guard;
              stack::mark_native(nullptr);
              Cell* series = stack::push(bitset);
              actions::handler_for<Action::remove>(*series)(series, -1, -1);
            }),
            "missing-arg");

  uint32_t length = static_cast<uint32_t>(bitset::length_q(&bitset));
  call_unary(Action::clear, bitset);
  EXPECT_EQ(static_cast<uint32_t>(bitset::length_q(&bitset)), length);
  EXPECT_FALSE(picked(bitset, C('b')));
}

TEST_F(BitsetTest, EditingAComplementedBitsetKeepsVirtualMembership) {
  Cell bitset = make_bitset(Blk({W("not"), C('a')}));
  edit(Action::append, bitset, I(100000));  // already a member: nothing stored
  EXPECT_EQ(bitset::length_q(&bitset), 104);
  edit(Action::remove, bitset, I(5000));  // no member afterwards, the rest still members
  EXPECT_FALSE(picked(bitset, I(5000)));
  EXPECT_TRUE(picked(bitset, I(4999)));
  EXPECT_TRUE(picked(bitset, I(5001)));
  EXPECT_TRUE(picked(bitset, I(100000)));
  edit(Action::append, bitset, S("a\xE2\x82\xAC"));  // "a" stored, the euro sign virtual
  EXPECT_TRUE(picked(bitset, C('a')));
  call_unary(Action::clear, bitset);
  EXPECT_TRUE(picked(bitset, C('a')));
  EXPECT_TRUE(picked(bitset, I(5000)));
}

TEST_F(BitsetTest, PathAccessPicksAndPokes) {
  Cell bitset = make_bitset(S("a"));
  EXPECT_EQ(typed_mold(path_get(bitset, C('a'))), "logic! true");
  EXPECT_EQ(typed_mold(path_get(bitset, I(98))), "logic! false");
  path_set(bitset, I(98), logic::make(true));
  EXPECT_TRUE(picked(bitset, C('b')));
  EXPECT_EQ(error_of([&] { path_get(bitset, S("a")); }), "invalid-type");
}

TEST_F(BitsetTest, CopyComplementAndNegateMakeNewBitsets) {
  Cell bitset = make_bitset(S("a"));
  Cell copied = call_unary(Action::complement, call_unary(Action::complement, bitset));
  EXPECT_EQ(mold(copied), mold(bitset));
  edit(Action::append, copied, C('b'));
  EXPECT_FALSE(picked(bitset, C('b')));
  Cell negated = call_unary(Action::negate, bitset);
  EXPECT_FALSE(picked(negated, C('a')));
  EXPECT_TRUE(picked(bitset, C('a')));
}

TEST_F(BitsetTest, ComparisonBySizeFlagThenBytesFromTheEnd) {
  Cell small = make_bitset(B({0xFF}));
  Cell large = make_bitset(B({0x00, 0x00}));
  EXPECT_LT(compare(small, large, kCmpLesser), 0);
  EXPECT_LT(compare(make_bitset(B({0x40})), make_bitset(Blk({W("not"), B({0x00})})), kCmpLesser), 0);
  EXPECT_LT(compare(make_bitset(B({0x01, 0x00})), make_bitset(B({0x00, 0x01})), kCmpLesser), 0);
  EXPECT_EQ(compare(make_bitset(S("abc")), make_bitset(S("cba")), kCmpEqual), 0);
  EXPECT_EQ(compare(make_bitset(S("abc")), make_bitset(S("cba")), kCmpSame), 1);
  EXPECT_EQ(compare(small, small, kCmpSame), 0);
  EXPECT_EQ(compare(small, S("a"), kCmpEqual), kNotComparable);
}

TEST_F(BitsetTest, ReflectAndModifyOnlyKnowTheOwner) {
  Cell bitset = make_bitset(S("a"));
  EXPECT_EQ(outcome([&] {
              stack::Guard guard;
              stack::mark_native(nullptr);
              Cell* b = stack::push(bitset);
              return *actions::handler_for<Action::reflect>(*b)(b, static_cast<int>(runtime_words::owned));
            }),
            "none! none");
  EXPECT_EQ(error_of([&] {
              stack::Guard guard;
              stack::mark_native(nullptr);
              Cell* b = stack::push(bitset);
              actions::handler_for<Action::reflect>(*b)(b, static_cast<int>(runtime_words::spec));
            }),
            "not-done");
}

// --- Set operations --------------------------------------------------------------------------

Cell bitwise(int32_t op, const Cell& a, const Cell& b) {
  stack::Guard guard;
  stack::mark_native(nullptr);
  stack::push(a);
  stack::push(b);
  return *bitset::do_bitwise(op);
}

TEST_F(BitsetTest, AndKeepsTheCommonBytesIntersectTheLongerLength) {
  Cell two = make_bitset(B({0xFF, 0x0F}));
  Cell four = make_bitset(B({0x0F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(mold(bitwise(kOpAnd, two, four)), "make bitset! #{0F0F}");
  EXPECT_EQ(mold(bitwise(10, two, four)), "make bitset! #{0F0F0000}");
  EXPECT_EQ(mold(bitwise(kOpOr, two, four)), "make bitset! #{FFFFFFFF}");
  EXPECT_EQ(mold(bitwise(8, two, four)), mold(two));  // unique
  EXPECT_EQ(error_of([&] { bitwise(kOpOr, two, S("a")); }), "invalid-type");
}

// Random bitsets over the first 4096 bits, half of them complemented, in
// every pairing: each operator's result has, for every bit (virtual ones
// included), the membership the operator gives the operands' memberships.
TEST_F(BitsetTest, SetOperationsMatchAPlainModelWithComplementedOperands) {
  std::mt19937 generator(20240601);
  auto random_bitset = [&](bool complement) {
    std::uniform_int_distribution<int> length(0, 600);
    std::uniform_int_distribution<int> byte(0, 255);
    NodeId node = memory::alloc_bytes(1);
    Cell bytes = binary::make_value(node);
    stack::push(bytes);
    int count = length(generator);
    for (int i = 0; i < count; ++i) {
      uint8_t b = static_cast<uint8_t>(byte(generator));
      binary::append_bytes(&bytes, &b, 1);
    }
    Cell spec = complement ? Blk({W("not"), bytes}) : bytes;
    return *stack::push(make_bitset(spec));
  };
  struct Operator {
    int32_t code;
    const char* name;
    std::function<bool(bool, bool)> model;
  } operators[] = {
      {kOpOr, "or~", [](bool a, bool b) { return a || b; }},
      {kOpAnd, "and~", [](bool a, bool b) { return a && b; }},
      {kOpXor, "xor~", [](bool a, bool b) { return a != b; }},
      {9, "union", [](bool a, bool b) { return a || b; }},
      {10, "intersect", [](bool a, bool b) { return a && b; }},
      {11, "exclude", [](bool a, bool b) { return a && !b; }},
      {12, "difference", [](bool a, bool b) { return a != b; }},
  };
  for (int round = 0; round < 6; ++round) {
    for (bool complement_a : {false, true}) {
      for (bool complement_b : {false, true}) {
        Cell a = random_bitset(complement_a);
        Cell b = random_bitset(complement_b);
        for (const Operator& op : operators) {
          Cell result = bitwise(op.code, a, b);
          for (int64_t n : {int64_t{100000}, int64_t{-1}})
            EXPECT_EQ(bitset::test_bit(&result, n), op.model(bitset::test_bit(&a, n), bitset::test_bit(&b, n)))
                << op.name << " bit " << n;
          for (int64_t n = 0; n < 4096; ++n) {
            bool expected = op.model(bitset::test_bit(&a, n), bitset::test_bit(&b, n));
            if (bitset::test_bit(&result, n) != expected) {
              ADD_FAILURE() << op.name << " bit " << n << " complemented " << complement_a << complement_b;
              break;
            }
          }
        }
      }
    }
  }
}

// --- triple! --------------------------------------------------------------------------------

TEST(TripleTest, MoldsAndFormsAsItsMakeText) {
  testing::boot();
  Cell value = triple::make(1, -2, 2147483647);
  EXPECT_EQ(mold(value), "make triple! [1 -2 2147483647]");
  EXPECT_EQ(form(value), "make triple! [1 -2 2147483647]");
  EXPECT_EQ(action_entry(TYPE_TRIPLE, Action::make), nullptr);
}

}  // namespace
}  // namespace kel
