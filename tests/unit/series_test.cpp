// series!: the generic series actions that block!, string! and their
// children inherit: index movement, pick and poke, remove, take, clear,
// reverse, move, copy, random and reflect.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "block_helpers.h"
#include "datatypes/series.h"
#include "datatypes/runtime_words.h"

namespace kel {
namespace {

using namespace kel::testing;
using SeriesActions = RuntimeTest;

Cell pair_cell(int32_t x, int32_t y) { return make_cell(TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)); }
Cell char_cell(uint32_t code_point) { return make_cell(TYPE_CHAR, 0, code_point); }

// Runs an index action (they read their frame) on a series with an optional
// integer argument; answers the resulting cell.
template <Action A>
Cell index_action(const Cell& series, const Cell* argument = nullptr) {
  ActionFrame frame;
  frame.arg(series);
  if (argument) frame.arg(*argument);
  return *handler<A>(series.type())();
}

TEST_F(SeriesActions, AtAndSkipClampToTheSeries) {
  Cell abc = B({W("a"), W("b"), W("c")});
  struct Case {
    uint32_t from;
    bool is_at;  // at (counts from 1) or skip (adds as it is)
    int32_t n;
    uint32_t index;
  } cases[] = {
      {0, true, 1, 0},  {0, true, 0, 0},   {1, true, 0, 1},   {1, true, -1, 0},  {0, true, 3, 2},
      {0, true, 10, 3}, {2, true, -10, 0}, {0, false, 2, 2},  {0, false, 3, 3},  {0, false, 4, 3},
      {2, false, -5, 0}, {2, false, -1, 1}, {1, false, 0, 1},
  };
  for (const Case& c : cases) {
    Cell n = I(c.n);
    Cell result = c.is_at ? index_action<Action::at>(at(abc, c.from), &n)
                          : index_action<Action::skip>(at(abc, c.from), &n);
    EXPECT_EQ(result.data1, c.index) << (c.is_at ? "at " : "skip ") << c.from << " " << c.n;
  }
}

TEST_F(SeriesActions, AtAndSkipRefuseAnythingButAnInteger) {
  Cell abc = B({W("a")});
  Cell text = S("1");
  EXPECT_EQ(catch_error([&] { index_action<Action::at>(abc, &text); }), ErrorId::script_invalid_arg);
  EXPECT_EQ(catch_error([&] { index_action<Action::skip>(abc, &text); }), ErrorId::script_invalid_arg);
}

TEST_F(SeriesActions, NextBackHeadTailStayInsideTheSeries) {
  Cell ab = B({W("a"), W("b")});
  EXPECT_EQ(index_action<Action::next>(at(ab, 0)).data1, 1u);
  EXPECT_EQ(index_action<Action::next>(at(ab, 2)).data1, 2u);  // next at the tail
  EXPECT_EQ(index_action<Action::back>(at(ab, 0)).data1, 0u);  // back at the head
  EXPECT_EQ(index_action<Action::back>(at(ab, 2)).data1, 1u);
  EXPECT_EQ(index_action<Action::head>(at(ab, 2)).data1, 0u);
  EXPECT_EQ(index_action<Action::tail>(at(ab, 0)).data1, 2u);
}

TEST_F(SeriesActions, IndexQueriesAnswerLogicAndIntegers) {
  Cell ab = B({W("a"), W("b")});
  EXPECT_EQ(index_action<Action::index_q>(at(ab, 2)).int_at2(), 3);  // index? tail [a b]
  EXPECT_EQ(index_action<Action::head_q>(at(ab, 0)).data1, 1u);
  EXPECT_EQ(index_action<Action::head_q>(at(ab, 1)).data1, 0u);
  EXPECT_EQ(index_action<Action::tail_q>(at(ab, 2)).data1, 1u);
  EXPECT_EQ(index_action<Action::tail_q>(at(ab, 1)).data1, 0u);
  EXPECT_TRUE(index_action<Action::tail_q>(at(ab, 1)).is(TYPE_LOGIC));
}

TEST_F(SeriesActions, LengthIsNeverNegativeAndPullsAPastEndIndexBack) {
  Cell abc = B({I(1), I(2), I(3)});
  Cell past = at(abc, 7);  // another reference shortened the series
  EXPECT_EQ(handler<Action::length_q>(TYPE_BLOCK)(&past), 0);
  EXPECT_EQ(past.data1, 3u);
  Cell middle = at(abc, 1);
  EXPECT_EQ(handler<Action::length_q>(TYPE_BLOCK)(&middle), 2);
  EXPECT_EQ(series::rs_length(&middle, true), 3);
}

TEST_F(SeriesActions, RsSkipMovesOnlyWithinTheSeries) {
  Cell ab = B({I(1), I(2)});
  EXPECT_FALSE(series::rs_skip(&ab, 1));
  EXPECT_EQ(ab.data1, 1u);
  EXPECT_TRUE(series::rs_skip(&ab, 1));  // lands on the tail
  EXPECT_EQ(ab.data1, 2u);
  EXPECT_TRUE(series::rs_skip(&ab, 5));  // would pass it: stays
  EXPECT_EQ(ab.data1, 2u);
}

TEST_F(SeriesActions, PickCountsFromTheIndexAndGivesNoneOutside) {
  Cell abc = B({W("a"), W("b"), W("c")});
  struct Case {
    uint32_t from;
    int32_t n;
    const char* expected;
  } cases[] = {
      {0, 1, "a"}, {0, 3, "c"}, {0, 0, "none"}, {0, 4, "none"}, {1, -1, "a"},
      {0, -1, "none"}, {3, -1, "c"}, {3, -3, "a"}, {3, -4, "none"}, {1, 2, "c"},
  };
  for (const Case& c : cases) {
    ActionFrame frame;
    Cell* s = frame.arg(at(abc, c.from));
    frame.arg(I(c.n));
    Cell result = *handler<Action::pick>(TYPE_BLOCK)(s, c.n, nullptr);
    EXPECT_EQ(mold(result), c.expected) << c.from << " " << c.n;
  }
}

TEST_F(SeriesActions, PickOfTextGivesCharacters) {
  Cell text = S("abc");
  Cell picked = series::pick_value(&text, 2);
  ASSERT_TRUE(picked.is(TYPE_CHAR));
  EXPECT_EQ(picked.data2, static_cast<uint32_t>('b'));
}

TEST_F(SeriesActions, PokeStoresAndRefusesOutsideTheSeries) {
  Cell abc = B({W("a"), W("b"), W("c")});
  {
    ActionFrame frame;
    Cell* s = frame.arg(abc);
    Cell* value = frame.arg(W("x"));
    Cell result = *handler<Action::poke>(TYPE_BLOCK)(s, 2, value, nullptr);
    EXPECT_EQ(mold(result), "x");
  }
  EXPECT_EQ(mold(abc), "[a x c]");
  for (int32_t n : {0, 4, -1}) {
    auto error = catch_error([&] {
      Cell x = W("x");
      series::poke_value(&abc, n, &x);
    });
    EXPECT_EQ(error, ErrorId::script_out_of_range) << n;
  }
  EXPECT_EQ(mold(abc), "[a x c]");
}

TEST_F(SeriesActions, PokeIntoTextTakesOnlyCharactersAndWidens) {
  Cell text = S("abc");
  Cell one = I(1);
  EXPECT_EQ(catch_error([&] { series::poke_value(&text, 1, &one); }), ErrorId::script_invalid_arg);
  Cell wide = char_cell(0x4E2D);
  series::poke_value(&text, 2, &wide);
  EXPECT_EQ(string::to_std_string(text), "a\xE4\xB8\xAD" "c");
  EXPECT_EQ(series::unit_of(&text), 2u);
}

// A series of raw units, as binary! and vector! hold them (their datatypes
// register later; the generic element access is what is tested here).
Cell raw_series(TypeId type, uint32_t unit, std::initializer_list<uint8_t> bytes, TypeId element = 0) {
  NodeId node = memory::alloc_series(static_cast<uint32_t>(bytes.size() / unit) + 1, unit, 0);
  SeriesBuffer* b = memory::buffer_of(node);
  std::copy(bytes.begin(), bytes.end(), b->data());
  b->tail = static_cast<uint32_t>(bytes.size());
  return make_cell(type, 0, node, element);
}

TEST_F(SeriesActions, BinaryElementsAreBytesAsIntegers) {
  Cell bytes = raw_series(TYPE_BINARY, 1, {0x01, 0x02, 0xFF});
  EXPECT_EQ(series::pick_value(&bytes, 2).int_at2(), 2);
  EXPECT_EQ(series::pick_value(&bytes, 3).int_at2(), 255);
  Cell wide = I(0x1234);
  series::poke_value(&bytes, 1, &wide);  // the low byte
  EXPECT_EQ(series::pick_value(&bytes, 1).int_at2(), 0x34);
  Cell letter = char_cell('A');
  series::poke_value(&bytes, 2, &letter);
  EXPECT_EQ(series::pick_value(&bytes, 2).int_at2(), 65);
  Cell text = S("x");
  EXPECT_EQ(catch_error([&] { series::poke_value(&bytes, 1, &text); }), ErrorId::script_invalid_arg);
}

TEST_F(SeriesActions, VectorElementsFollowTheirElementType) {
  Cell shorts = raw_series(TYPE_VECTOR, 2, {0xFF, 0xFF, 0x02, 0x00}, TYPE_INTEGER);
  EXPECT_EQ(series::pick_value(&shorts, 1).int_at2(), -1);  // 16-bit elements are signed
  EXPECT_EQ(series::pick_value(&shorts, 2).int_at2(), 2);
  Cell seven = I(7);
  series::poke_value(&shorts, 1, &seven);
  EXPECT_EQ(series::pick_value(&shorts, 1).int_at2(), 7);
  Cell fraction = float_cell(1.5);
  EXPECT_EQ(catch_error([&] { series::poke_value(&shorts, 1, &fraction); }), ErrorId::script_invalid_arg);

  Cell singles = raw_series(TYPE_VECTOR, 4, {0, 0, 0, 0}, TYPE_FLOAT);
  series::poke_value(&singles, 1, &fraction);
  Cell read = series::pick_value(&singles, 1);
  ASSERT_TRUE(read.is(TYPE_FLOAT));
  EXPECT_EQ(read.as_double(), 1.5);
  Cell copied = series::copy_units(&shorts, 0, 2);
  EXPECT_EQ(copied.data3, static_cast<uint32_t>(TYPE_INTEGER));
  EXPECT_EQ(series::unit_of(&copied), 2u);
}

TEST_F(SeriesActions, RemoveTakesOneOrAPartOrAKeyAndItsValue) {
  struct Case {
    Cell series;
    int32_t part;  // -1: no /part
    const char* key;
    const char* block_after;
  } cases[] = {
      {B({W("a"), W("b"), W("c")}), -1, nullptr, "[b c]"},
      {B({W("a"), W("b"), W("c")}), 2, nullptr, "[c]"},
      {B({W("a"), W("b"), W("c")}), 0, nullptr, "[a b c]"},
      {B({W("a"), W("b"), W("c")}), 9, nullptr, "[]"},
      {at(B({W("a"), W("b"), W("c")}), 3), -1, nullptr, "[a b c]"},
      {B({W("a"), I(1), W("b"), I(2)}), -1, "b", "[a 1]"},
      {B({W("a"), I(1), W("b"), I(2)}), -1, "a", "[b 2]"},
  };
  for (Case& c : cases) {
    ActionFrame frame;
    Cell* s = frame.arg(c.series);
    int part = c.part >= 0 ? frame.ref(I(c.part)) : -1;
    int key = c.key ? frame.ref(W(c.key)) : -1;
    Cell result = *handler<Action::remove>(TYPE_BLOCK)(s, part, key);
    EXPECT_TRUE(result.is(TYPE_BLOCK));
    EXPECT_EQ(mold(at(c.series, 0)), c.block_after);
  }
}

TEST_F(SeriesActions, RemovePartUpToAPositionAndBadParts) {
  Cell abcd = B({W("a"), W("b"), W("c"), W("d")});
  {
    ActionFrame frame;
    Cell* s = frame.arg(at(abcd, 1));
    int part = frame.ref(at(abcd, 3));
    handler<Action::remove>(TYPE_BLOCK)(s, part, -1);
  }
  EXPECT_EQ(mold(abcd), "[a d]");
  auto error = catch_error([&] {
    ActionFrame frame;
    Cell* s = frame.arg(abcd);
    int part = frame.ref(S("x"));
    handler<Action::remove>(TYPE_BLOCK)(s, part, -1);
  });
  EXPECT_EQ(error, ErrorId::script_invalid_refine_arg);
  Cell missing;
  {
    ActionFrame frame;
    Cell* s = frame.arg(abcd);
    int key = frame.ref(W("zz"));
    missing = *handler<Action::remove>(TYPE_BLOCK)(s, -1, key);
  }
  EXPECT_TRUE(missing.is(TYPE_NONE));
}

TEST_F(SeriesActions, TakeWithPartAndLast) {
  struct Case {
    Cell series;
    uint32_t from;
    bool part_given;
    int32_t part;
    bool last;
    const char* taken;
    const char* left;
  } cases[] = {
      {B({W("a"), W("b"), W("c")}), 0, true, 2, true, "[b c]", "[a]"},
      {B({W("a"), W("b")}), 0, true, 1, false, "[a]", "[b]"},
      {B({W("a"), W("b"), W("c")}), 1, true, -1, false, "[a]", "[b c]"},
      {B({W("a"), W("b"), W("c")}), 1, true, -5, false, "[a]", "[b c]"},
      {B({W("a"), W("b"), W("c")}), 1, true, -2, true, "[c]", "[a b]"},
      {B({W("a"), W("b")}), 0, true, 0, false, "[]", "[a b]"},
      {B({W("a"), W("b")}), 0, true, 9, false, "[a b]", "[]"},
      {B({W("a"), W("b")}), 0, false, 0, false, "a", "[b]"},
      {B({W("a"), W("b")}), 0, false, 0, true, "b", "[a]"},
  };
  for (Case& c : cases) {
    Cell taken;
    {
      ActionFrame frame;
      Cell* s = frame.arg(at(c.series, c.from));
      int part = c.part_given ? frame.ref(I(c.part)) : -1;
      taken = *handler<Action::take>(TYPE_BLOCK)(s, part, -1, c.last ? ActionFrame::kOn : -1);
    }
    EXPECT_EQ(mold(taken), c.taken);
    EXPECT_EQ(mold(at(c.series, 0)), c.left);
  }
}

TEST_F(SeriesActions, TakeOfAnEmptySeriesIsNoneAndThePartMayBeAPosition) {
  Cell empty = B({});
  Cell taken;
  {
    ActionFrame frame;
    Cell* s = frame.arg(empty);
    taken = *handler<Action::take>(TYPE_BLOCK)(s, -1, -1, -1);
  }
  EXPECT_TRUE(taken.is(TYPE_NONE));
  Cell abcd = B({W("a"), W("b"), W("c"), W("d")});
  {
    ActionFrame frame;
    Cell* s = frame.arg(at(abcd, 1));
    int part = frame.ref(at(abcd, 3));
    taken = *handler<Action::take>(TYPE_BLOCK)(s, part, -1, -1);
  }
  EXPECT_EQ(mold(taken), "[b c]");
  EXPECT_EQ(mold(abcd), "[a d]");
}

TEST_F(SeriesActions, ClearCutsFromTheIndex) {
  Cell abc = B({W("a"), W("b"), W("c")});
  Cell tail_of = at(abc, 3);
  handler<Action::clear>(TYPE_BLOCK)(&tail_of);
  EXPECT_EQ(mold(abc), "[a b c]");
  Cell middle = at(abc, 1);
  handler<Action::clear>(TYPE_BLOCK)(&middle);
  EXPECT_EQ(mold(abc), "[a]");
  Cell past = at(abc, 2);  // now past the tail: nothing to clear
  handler<Action::clear>(TYPE_BLOCK)(&past);
  EXPECT_EQ(mold(abc), "[a]");
}

TEST_F(SeriesActions, ReverseWholeOrPartOrByRecords) {
  struct Case {
    int32_t part;  // -1: none
    int32_t skip;  // -1: none
    const char* after;
  } cases[] = {
      {-1, -1, "[6 5 4 3 2 1]"}, {2, -1, "[2 1 3 4 5 6]"}, {-1, 2, "[5 6 3 4 1 2]"},
      {-1, 3, "[4 5 6 1 2 3]"},  {-1, 6, "[1 2 3 4 5 6]"}, {0, -1, "[1 2 3 4 5 6]"},
      {4, 2, "[3 4 1 2 5 6]"},
  };
  for (const Case& c : cases) {
    Cell numbers = B({I(1), I(2), I(3), I(4), I(5), I(6)});
    ActionFrame frame;
    Cell* s = frame.arg(numbers);
    int part = c.part >= 0 ? frame.ref(I(c.part)) : -1;
    int skip = c.skip >= 0 ? frame.ref(I(c.skip)) : -1;
    handler<Action::reverse>(TYPE_BLOCK)(s, part, skip);
    EXPECT_EQ(mold(numbers), c.after) << c.part << " " << c.skip;
  }
}

TEST_F(SeriesActions, ReverseRefusesSkipsThatDoNotDivideTheSeries) {
  struct Case {
    Cell skip;
    ErrorId error;
  } cases[] = {
      {I(4), ErrorId::script_invalid_refine_arg},
      {I(7), ErrorId::script_invalid_refine_arg},
      {I(0), ErrorId::script_out_of_range},
      {S("2"), ErrorId::script_invalid_refine_arg},
  };
  for (const Case& c : cases) {
    Cell numbers = B({I(1), I(2), I(3), I(4), I(5), I(6)});
    auto error = catch_error([&] {
      ActionFrame frame;
      Cell* s = frame.arg(numbers);
      int skip = frame.ref(c.skip);
      handler<Action::reverse>(TYPE_BLOCK)(s, -1, skip);
    });
    EXPECT_EQ(error, c.error);
  }
}

TEST_F(SeriesActions, ReverseOfTextIsInherited) {
  Cell text = S("abc");
  ActionFrame frame;
  Cell* s = frame.arg(text);
  handler<Action::reverse>(TYPE_STRING)(s, -1, -1);
  EXPECT_EQ(string::to_std_string(text), "cba");
}

// move within one series: source and target positions in [a b c d].
TEST_F(SeriesActions, MoveInsideOneSeries) {
  struct Case {
    uint32_t source;
    uint32_t target;
    int32_t part;  // -1: none
    const char* after;
    bool answers_source;
  } cases[] = {
      {0, 2, -1, "[b c a d]", false},
      {2, 0, -1, "[c a b d]", false},
      {0, 4, -1, "[b c d a]", false},
      {0, 4, 2, "[c d a b]", false},
      {3, 0, -1, "[d a b c]", false},
      {1, 1, -1, "[a b c d]", false},
      {0, 1, 2, "[a b c d]", true},   // the target lies inside the moved part
      {0, 3, 2, "[a b c d]", true},   // too few units after the target
      {0, 2, 2, "[c a b d]", false},
      {2, 0, 2, "[c d a b]", false},
      {0, 2, 0, "[a b c d]", true},
  };
  for (const Case& c : cases) {
    Cell abcd = B({W("a"), W("b"), W("c"), W("d")});
    Cell result;
    {
      ActionFrame frame;
      Cell* origin = frame.arg(at(abcd, c.source));
      Cell* target = frame.arg(at(abcd, c.target));
      int part = c.part >= 0 ? frame.ref(I(c.part)) : -1;
      result = *handler<Action::move>(TYPE_BLOCK)(origin, target, part);
    }
    EXPECT_EQ(mold(abcd), c.after) << c.source << "->" << c.target << " /part " << c.part;
    EXPECT_EQ(result.data1, c.answers_source ? c.source : c.target);
  }
}

TEST_F(SeriesActions, MoveBetweenSeries) {
  Cell abcd = B({W("a"), W("b"), W("c"), W("d")});
  Cell x = B({W("x")});
  Cell result;
  {
    ActionFrame frame;
    Cell* origin = frame.arg(abcd);
    Cell* target = frame.arg(at(x, 1));
    int part = frame.ref(I(2));
    result = *handler<Action::move>(TYPE_BLOCK)(origin, target, part);
  }
  EXPECT_EQ(mold(abcd), "[c d]");
  EXPECT_EQ(mold(at(x, 0)), "[x a b]");
  EXPECT_EQ(result.data2, x.data2);
  // Text of different widths moves character by character.
  Cell narrow = S("ab");
  Cell wide = S("\xE4\xB8\xAD");
  {
    ActionFrame frame;
    Cell* origin = frame.arg(narrow);
    Cell* target = frame.arg(wide);
    handler<Action::move>(TYPE_STRING)(origin, target, -1);
  }
  EXPECT_EQ(string::to_std_string(narrow), "b");
  EXPECT_EQ(string::to_std_string(wide), "a\xE4\xB8\xAD");
}

TEST_F(SeriesActions, MoveRefusesMixedElementsAndNonSeriesTargets) {
  struct Case {
    Cell origin;
    Cell target;
    ErrorId error;
  } cases[] = {
      {B({W("a")}), S("x"), ErrorId::script_move_bad},
      {S("x"), B({W("a")}), ErrorId::script_move_bad},
      {B({W("a")}), I(1), ErrorId::script_expect_arg},
  };
  for (const Case& c : cases) {
    auto error = catch_error([&] {
      ActionFrame frame;
      Cell* origin = frame.arg(c.origin);
      Cell* target = frame.arg(c.target);
      handler<Action::move>(c.origin.type())(origin, target, -1);
    });
    EXPECT_EQ(error, c.error);
  }
}

TEST_F(SeriesActions, CopyWithPartCountsPairsAndPositions) {
  Cell abcd = B({W("a"), W("b"), W("c"), W("d")});
  struct Case {
    uint32_t from;
    Cell part;
    const char* copied;
  } cases[] = {
      {0, pair_cell(2, 3), "[b]"},     {0, pair_cell(3, 2), "[]"},   {0, pair_cell(-1, 2), "[a b c]"},
      {1, I(-5), "[a]"},               {2, I(-1), "[b]"},            {0, I(2), "[a b]"},
      {3, I(5), "[d]"},                {1, at(abcd, 3), "[b c]"},    {3, at(abcd, 1), "[b c]"},
      {0, I(0), "[]"},
  };
  for (const Case& c : cases) {
    ActionFrame frame;
    Cell* s = frame.arg(at(abcd, c.from));
    int part = frame.ref(c.part);
    Cell copied = *handler<Action::copy>(TYPE_BLOCK)(s, s, part, -1, -1);
    EXPECT_EQ(mold(copied), c.copied) << mold(c.part);
    EXPECT_NE(copied.data2, abcd.data2);
  }
}

TEST_F(SeriesActions, CopyFromPastTheTailIsEmptyAndKeepsTheNewLineFlag) {
  Cell ab = NL(B({W("a"), W("b")}));
  Cell past = at(ab, 5);
  Cell copied = *series::copy(&past, &past, -1, -1, -1);
  EXPECT_EQ(mold(copied), "[]");
  Cell whole = ab;
  copied = *series::copy(&whole, &whole, -1, -1, -1);
  EXPECT_TRUE(copied.new_line());
  EXPECT_EQ(copied.data1, 0u);
  auto error = catch_error([&] {
    ActionFrame frame;
    Cell* s = frame.arg(ab);
    int part = frame.ref(S("x"));
    handler<Action::copy>(TYPE_BLOCK)(s, s, part, -1, -1);
  });
  EXPECT_EQ(error, ErrorId::script_invalid_refine_arg);
}

TEST_F(SeriesActions, RandomShufflesInPlaceAndPicksOneElement) {
  Cell numbers = B({I(1), I(2), I(3), I(4), I(5), I(6), I(7), I(8)});
  {
    ActionFrame frame;
    Cell* s = frame.arg(numbers);
    handler<Action::random>(TYPE_BLOCK)(s, -1, -1, -1);
  }
  std::vector<int32_t> seen;
  for (uint32_t i = 0; i < 8; ++i) seen.push_back(series::element_at(&numbers, i).int_at2());
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  for (int round = 0; round < 20; ++round) {
    ActionFrame frame;
    Cell* s = frame.arg(numbers);
    Cell picked = *handler<Action::random>(TYPE_BLOCK)(s, -1, -1, ActionFrame::kOn);
    ASSERT_TRUE(picked.is(TYPE_INTEGER));
    EXPECT_GE(picked.int_at2(), 1);
    EXPECT_LE(picked.int_at2(), 8);
  }
  ActionFrame frame;
  Cell* empty = frame.arg(B({}));
  EXPECT_TRUE(handler<Action::random>(TYPE_BLOCK)(empty, -1, -1, ActionFrame::kOn)->is(TYPE_NONE));
}

TEST_F(SeriesActions, RandomSeededByASeriesRepeatsItsShuffle) {
  auto shuffled_after_seed = [] {
    Cell seed = S("seed text");
    {
      ActionFrame frame;
      Cell* s = frame.arg(seed);
      handler<Action::random>(TYPE_STRING)(s, ActionFrame::kOn, -1, -1);
    }
    Cell numbers = B({I(1), I(2), I(3), I(4), I(5), I(6), I(7), I(8), I(9)});
    ActionFrame frame;
    Cell* s = frame.arg(numbers);
    handler<Action::random>(TYPE_BLOCK)(s, -1, -1, -1);
    return mold(numbers);
  };
  EXPECT_EQ(shuffled_after_seed(), shuffled_after_seed());
}

TEST_F(SeriesActions, ReflectKnowsOnlyTheOwner) {
  Cell block = B({I(1)});
  Cell owner = *series::reflect(&block, static_cast<int>(runtime_words::owned));
  EXPECT_TRUE(owner.is(TYPE_NONE));
  EXPECT_EQ(catch_error([&] { series::reflect(&block, static_cast<int>(runtime_words::body)); }),
            ErrorId::internal_not_done);
}

TEST_F(SeriesActions, TheGenericHandlersAreInheritedByEverySeriesType) {
  for (TypeId type : {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_SET_PATH, TYPE_STRING}) {
    EXPECT_EQ(reinterpret_cast<void*>(handler<Action::pick>(type)), reinterpret_cast<void*>(&series::pick)) << type;
    EXPECT_EQ(reinterpret_cast<void*>(handler<Action::at>(type)), reinterpret_cast<void*>(&series::at)) << type;
  }
  EXPECT_TRUE(is_registered(TYPE_SERIES));
  EXPECT_EQ(handler<Action::make>(TYPE_SERIES), nullptr);
}

}  // namespace
}  // namespace kel
