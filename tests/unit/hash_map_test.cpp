// hash! and map!: construction, the text forms byte for byte, a hash!'s
// index kept in step through every edit (checked against a plain block
// under a long seeded run of random edits), and the map! key rules, lookup,
// storage, removal and revival, comparison, copy, reflection, extend and
// the foreach step.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "block_helpers.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/hash.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "runtime/cycles.h"
#include "runtime/hash_table.h"
#include "datatypes/runtime_words.h"
#include "datatypes/argument_checks.h"
#include "runtime/upcalls.h"

namespace kel {
namespace {

using namespace kel::testing;
using Hashes = RuntimeTest;
using Maps = RuntimeTest;

constexpr int kOn = ActionFrame::kOn;
constexpr int kOff = -1;

Cell D(TypeId type) { return datatype::make(type); }
Cell as(Cell value, TypeId type) { return value.set_type(type); }

Cell make_hash(std::initializer_list<Cell> values) { return convert<Action::make>(TYPE_HASH, B(values)); }
Cell make_map(std::initializer_list<Cell> pairs) { return convert<Action::make>(TYPE_MAP, B(pairs)); }

// The index find answers on a series (none: -1), with the usual refinements.
struct FindOptions {
  bool last = false;
  bool case_sensitive = false;
  int32_t skip = 0;
  bool only = false;
};
int64_t find_index(const Cell& series, const Cell& value, FindOptions options = {}) {
  ActionFrame frame;
  Cell* s = frame.arg(series);
  Cell* v = frame.arg(value);
  int skip = options.skip > 0 ? frame.ref(I(options.skip)) : kOff;
  Cell* result = handler<Action::find>(s->type())(s, v, kOff, options.only ? kOn : kOff,
                                                  options.case_sensitive ? kOn : kOff, kOff,
                                                  kOff, kOff, skip, options.last ? kOn : kOff, kOff, kOff, kOff);
  return result->is(TYPE_NONE) ? -1 : static_cast<int64_t>(result->data1);
}

// A hash! molded as the plain block it holds.
std::string mold_as_block(Cell value) { return mold(value.is(TYPE_HASH) ? as(value, TYPE_BLOCK) : value); }

// --- map! actions ----------------------------------------------------------------------

Cell select_in(const Cell& map, const Cell& key, bool case_sensitive = false) {
  ActionFrame frame;
  Cell* m = frame.arg(map);
  Cell* k = frame.arg(key);
  return *handler<Action::select>(TYPE_MAP)(m, k, kOff, kOff, case_sensitive ? kOn : kOff, kOff, kOff, kOff, kOff,
                                            kOff, kOff);
}

Cell find_in(const Cell& map, const Cell& key, bool case_sensitive = false) {
  ActionFrame frame;
  Cell* m = frame.arg(map);
  Cell* k = frame.arg(key);
  return *handler<Action::find>(TYPE_MAP)(m, k, kOff, kOff, case_sensitive ? kOn : kOff, kOff, kOff, kOff, kOff,
                                          kOff, kOff, kOff, kOff);
}

Cell put_in(const Cell& map, const Cell& key, const Cell& value, bool case_sensitive = false) {
  ActionFrame frame;
  Cell* m = frame.arg(map);
  Cell* k = frame.arg(key);
  Cell* v = frame.arg(value);
  return *handler<Action::put>(TYPE_MAP)(m, k, v, case_sensitive ? kOn : kOff);
}

void remove_key(const Cell& map, const Cell& key) {
  ActionFrame frame;
  Cell* m = frame.arg(map);
  int k = frame.ref(key);
  handler<Action::remove>(TYPE_MAP)(m, kOff, k);
}

int32_t length_of(const Cell& map) {
  Cell m = map;
  return handler<Action::length_q>(TYPE_MAP)(&m);
}

Cell path_get(const Cell& map, const Cell& key) {
  ActionFrame frame;
  Cell* m = frame.arg(map);
  Cell* k = frame.arg(key);
  Cell* path = frame.arg(B({W("m"), key}, TYPE_PATH));
  return *handler<Action::eval_path>(TYPE_MAP)(m, k, nullptr, path, nullptr, nullptr, 0, false, false, false);
}

void path_set(const Cell& map, const Cell& key, const Cell& value) {
  ActionFrame frame;
  Cell* m = frame.arg(map);
  Cell* k = frame.arg(key);
  Cell* v = frame.arg(value);
  Cell* path = frame.arg(B({W("m"), key}, TYPE_SET_PATH));
  handler<Action::eval_path>(TYPE_MAP)(m, k, v, path, nullptr, nullptr, 0, false, false, false);
}

Cell reflect_map(const Cell& map, uint32_t field) {
  ActionFrame frame;
  Cell* m = frame.arg(map);
  return *handler<Action::reflect>(TYPE_MAP)(m, static_cast<int>(field));
}

Cell copy_map(const Cell& map, bool deep = false, const Cell* types = nullptr) {
  ActionFrame frame;
  Cell* m = frame.arg(map);
  Cell* result = frame.arg(none_cell());
  int kind = types ? frame.ref(*types) : kOff;
  return *handler<Action::copy>(TYPE_MAP)(m, result, kOff, deep ? kOn : kOff, kind);
}

int32_t compare_maps(const Cell& a, const Cell& b, int32_t op) {
  Cell x = a;
  Cell y = b;
  return actions::compare_value(&x, &y, op);
}

// --- hash!: construction and text ----------------------------------------------------------

TEST_F(Hashes, MakeBuildsAnIndexedCopyFromTheSpec) {
  Cell source = B({W("a"), I(1), W("b"), I(2)});
  Cell from_block = convert<Action::make>(TYPE_HASH, at(source, 2));
  EXPECT_TRUE(from_block.is(TYPE_HASH));
  EXPECT_NE(from_block.data2, source.data2);
  EXPECT_NE(from_block.data3, 0u);
  EXPECT_EQ(mold(from_block), "make hash! [b 2]");
  EXPECT_EQ(find_index(from_block, W("b")), 0);

  Cell empty = convert<Action::make>(TYPE_HASH, I(10));
  EXPECT_EQ(mold(empty), "make hash! []");
  EXPECT_GE(block::buffer_of(&empty)->size / sizeof(Cell), 10u);
  EXPECT_TRUE(convert<Action::make>(TYPE_HASH, I(-3)).is(TYPE_HASH));  // below 1 counts as 1

  Cell copied = convert<Action::make>(TYPE_HASH, from_block);
  EXPECT_NE(copied.data2, from_block.data2);
  EXPECT_NE(copied.data3, from_block.data3);
  EXPECT_EQ(find_index(copied, I(2)), 1);

  // Anything else converts as to does.
  EXPECT_EQ(mold(convert<Action::make>(TYPE_HASH, W("x"))), "make hash! [x]");
  EXPECT_EQ(mold(convert<Action::make>(TYPE_HASH, B({I(1), I(2)}, TYPE_PAREN))), "make hash! [1 2]");
}

TEST_F(Hashes, ToIndexesTheBlockConversionOfAnyValue) {
  struct Case {
    Cell spec;
    const char* molded;
  } cases[] = {
      {B({W("a"), W("b")}), "make hash! [a b]"},
      {B({I(1)}, TYPE_PATH), "make hash! [1]"},
      {I(7), "make hash! [7]"},
      {make_map({W("k"), I(1)}), "make hash! [\n    k: 1\n]"},
  };
  for (const Case& c : cases) {
    Cell h = convert<Action::to>(TYPE_HASH, c.spec);
    EXPECT_TRUE(h.is(TYPE_HASH));
    EXPECT_NE(h.data3, 0u);
    EXPECT_EQ(mold(h), c.molded);
  }
  Cell h = convert<Action::to>(TYPE_HASH, B({W("p"), W("q")}));
  EXPECT_EQ(find_index(h, W("q")), 1);
}

TEST_F(Hashes, MoldWritesMakeHashBeforeTheBlockAndFormIsTheBlockForm) {
  Cell h = make_hash({NL(W("a")), I(1), NL(W("b")), I(2)});
  EXPECT_EQ(mold(make_hash({W("a"), I(1)})), "make hash! [a 1]");
  EXPECT_EQ(mold(h), "make hash! [\n    a 1\n    b 2\n]");
  EXPECT_EQ(mold_with(make_hash({W("a"), I(1)}), true, false, false), "a 1");
  EXPECT_EQ(form(make_hash({W("a"), I(1)})), "a 1");
  int32_t left = 0;
  EXPECT_EQ(mold_with(make_hash({W("a"), I(1)}), false, false, false, 13, &left), "make hash! [a]");
  EXPECT_EQ(left, -1);

  // A hash! inside itself molds as the cycle text alone.
  Cell self = make_hash({I(1)});
  {
    ActionFrame frame;
    Cell* s = frame.arg(self);
    Cell* v = frame.arg(self);
    handler<Action::append>(TYPE_HASH)(s, v, kOff, kOn, kOff);
  }
  EXPECT_EQ(mold(self), "make hash! [1 [...]]");
}

TEST_F(Hashes, RegistersUnderBlockWithoutShufflingArithmeticOrPorts) {
  EXPECT_TRUE(is_registered(TYPE_HASH));
  for (Action unsupported : {Action::random, Action::set_path, Action::add, Action::xor_t, Action::create,
                             Action::delete_, Action::open, Action::write})
    EXPECT_EQ(action_entry(TYPE_HASH, unsupported), nullptr);
  for (Action inherited : {Action::put, Action::insert, Action::remove, Action::form, Action::compare,
                           Action::poke, Action::modify})
    EXPECT_EQ(action_entry(TYPE_HASH, inherited), action_entry(TYPE_BLOCK, inherited));
  // find and select ask the table first; sort indexes the cells again.
  for (Action own : {Action::find, Action::select, Action::sort})
    EXPECT_NE(action_entry(TYPE_HASH, own), action_entry(TYPE_BLOCK, own));
}

// --- hash!: lookups and copies ------------------------------------------------------------

TEST_F(Hashes, FindSelectAndPutAnswerFromTheTable) {
  Cell h = make_hash({W("a"), I(1), W("b"), I(2)});
  EXPECT_EQ(find_index(h, W("b")), 2);
  EXPECT_EQ(find_index(h, W("B")), 2);
  EXPECT_EQ(find_index(h, W("B"), {.case_sensitive = true}), -1);
  ActionFrame frame;
  Cell* s = frame.arg(h);
  Cell* k = frame.arg(W("c"));
  Cell* v = frame.arg(I(3));
  handler<Action::put>(TYPE_HASH)(s, k, v, kOff);
  EXPECT_EQ(find_index(h, W("c")), 4);
  EXPECT_EQ(find_index(h, I(3)), 5);
}

TEST_F(Hashes, CopyGivesTheCopyATableOfItsOwn) {
  Cell h = make_hash({W("a"), I(1), W("b"), I(2)});
  struct Case {
    uint32_t index;
    int32_t part;  // -1: no /part
    bool deep;
    const char* molded;
  } cases[] = {
      {0, -1, false, "make hash! [a 1 b 2]"},
      {2, -1, false, "make hash! [b 2]"},
      {0, 3, false, "make hash! [a 1 b]"},
      {0, -1, true, "make hash! [a 1 b 2]"},
  };
  for (const Case& c : cases) {
    ActionFrame frame;
    Cell* s = frame.arg(at(h, c.index));
    Cell* result = frame.arg(none_cell());
    int part = c.part >= 0 ? frame.ref(I(c.part)) : kOff;
    Cell copy = *handler<Action::copy>(TYPE_HASH)(s, result, part, c.deep ? kOn : kOff, kOff);
    EXPECT_EQ(mold(copy), c.molded);
    EXPECT_NE(copy.data3, 0u);
    EXPECT_NE(copy.data3, h.data3);
    EXPECT_EQ(find_index(copy, W("b")), c.index == 2 ? 0 : 2);
    // Editing the copy leaves the original's index alone.
    Cell z = W("z");
    series::poke_value(&copy, 1, &z);
    EXPECT_EQ(find_index(copy, W("z")), 0);
  }
  EXPECT_EQ(find_index(h, W("z")), -1);
  EXPECT_EQ(find_index(h, W("a")), 0);
}

TEST_F(Hashes, SortAndTrimIndexTheReorderedCellsAgain) {
  Cell h = make_hash({I(5), none_cell(), W("c"), I(1), none_cell(), W("a"), I(3), W("b")});
  {
    ActionFrame frame;
    Cell* s = frame.arg(h);
    handler<Action::trim>(TYPE_HASH)(s, kOff, kOff, kOff, kOff, kOff, kOff);
  }
  EXPECT_EQ(mold(h), "make hash! [5 c 1 a 3 b]");
  {
    ActionFrame frame;
    Cell* s = frame.arg(h);
    handler<Action::sort>(TYPE_HASH)(s, kOff, kOff, kOff, kOff, kOff, kOff, kOff);
  }
  EXPECT_EQ(mold(h), "make hash! [1 3 5 a b c]");
  const char* words[] = {"a", "b", "c"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(find_index(h, W(words[i])), 3 + i);
  EXPECT_EQ(find_index(h, I(5)), 2);
  EXPECT_EQ(find_index(h, none_cell()), -1);

  // A negative /part sorts the cells before the index: they are re-indexed.
  {
    ActionFrame frame;
    Cell* s = frame.arg(at(h, 3));
    int part = frame.ref(I(-3));
    int reverse = kOn;
    handler<Action::sort>(TYPE_HASH)(s, kOff, kOff, kOff, part, kOff, reverse, kOff);
  }
  EXPECT_EQ(mold(h), "make hash! [5 3 1 a b c]");
  EXPECT_EQ(find_index(h, I(1)), 2);
  EXPECT_EQ(find_index(h, I(5)), 0);
}

// A comparison function stand-in: orders integers until its budget of calls
// runs out, then raises an error, as a user function might midway through a
// sort.
int comparisons_left = 0;
Cell failing_comparison(const Cell&, const Cell& first, const Cell& second) {
  if (--comparisons_left < 0) fire(ErrorId::script_invalid_arg, &first);
  return logic_cell(first.int_at2() < second.int_at2());
}

TEST_F(Hashes, SortInterruptedByAnErrorLeavesTheIndexTrue) {
  upcalls::CallComparison saved = upcalls::table.call_comparison;
  upcalls::table.call_comparison = failing_comparison;
  Cell h = make_hash({});
  for (int32_t n = 0; n < 40; ++n) {
    Cell value = I((n * 17) % 40);
    ActionFrame frame;
    Cell* s = frame.arg(h);
    Cell* v = frame.arg(value);
    handler<Action::append>(TYPE_HASH)(s, v, kOff, kOff, kOff);
  }
  std::string before = mold(h);
  comparisons_left = 30;
  auto error = catch_error([&] {
    ActionFrame frame;
    Cell* s = frame.arg(h);
    int compare = frame.ref(make_cell(TYPE_FUNCTION));
    handler<Action::sort>(TYPE_HASH)(s, kOff, kOff, compare, kOff, kOff, kOff, kOff);
  });
  upcalls::table.call_comparison = saved;
  EXPECT_EQ(error, ErrorId::script_invalid_arg);
  EXPECT_NE(mold(h), before);  // the sort got some way before the error
  Cell plain = as(h, TYPE_BLOCK);
  for (int32_t n = 0; n < 40; ++n) EXPECT_EQ(find_index(h, I(n)), find_index(plain, I(n))) << n;
}

TEST_F(Hashes, TakeOfAPartGivesAHashWhoseTableSeesDeepCopies) {
  Cell inner = B({I(1)});
  Cell h = make_hash({inner, W("x"), W("y")});
  ActionFrame frame;
  Cell* s = frame.arg(h);
  int part = frame.ref(I(2));
  Cell taken = *handler<Action::take>(TYPE_HASH)(s, part, kOn, kOff);
  ASSERT_TRUE(taken.is(TYPE_HASH));
  EXPECT_EQ(mold(taken), "make hash! [[1] x]");
  Cell copy_of_inner = block::buffer_of(&taken)->cells()[0];
  EXPECT_NE(copy_of_inner.data2, inner.data2);
  EXPECT_EQ(find_index(taken, copy_of_inner, {.case_sensitive = true, .only = true}), 0);
  EXPECT_EQ(find_index(taken, W("x")), 1);
  EXPECT_EQ(mold(h), "make hash! [y]");
  EXPECT_EQ(find_index(h, W("y")), 0);
}

// --- hash!: the index against a plain block under random edits -------------------------------

// A hash! and a plain block that receive the same edits: after each one,
// find on the hash! (from its table) must answer what find on the block
// (by walking it) answers.
class Twin {
 public:
  explicit Twin(uint32_t seed) : random_(seed) {
    hash_ = make_hash({});
    plain_ = B({});
  }

  Cell pick_value() {
    static const char* const kWords[] = {"a", "b", "A", "c"};
    static const char* const kTexts[] = {"x", "X", "y"};
    switch (draw(5)) {
      case 0: return W(kWords[draw(4)]);
      case 1: return S(kTexts[draw(3)]);
      case 2: return none_cell();
      default: return I(static_cast<int32_t>(draw(6)));
    }
  }
  // A value, or (spread when inserted) a block of two.
  Cell pick_insertion() { return draw(4) == 0 ? B({pick_value(), pick_value()}) : pick_value(); }

  uint32_t length() { return block::buffer_of(&plain_)->cell_count(); }
  uint32_t draw(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(random_() % n); }
  uint32_t draw_index() { return draw(length() + 1); }

  // Runs the edit on both with the series positioned at index.
  template <class Edit>
  void edit(uint32_t index, Edit&& edit) {
    for (Cell* series : {&hash_, &plain_}) {
      ActionFrame frame;
      Cell* s = frame.arg(at(*series, index));
      edit(s, frame);
    }
  }

  void random_edit(std::string* trail) {
    uint32_t index = draw_index();
    // Insertions weigh more, so the blocks grow long enough for the tables
    // to be resized and rebuilt along the way.
    uint32_t kind = draw(17);
    switch (kind >= 13 ? kind % 2 : kind) {
      case 0: {
        Cell value = pick_insertion();
        *trail = "insert " + mold(value);
        edit(index, [&](Cell* s, ActionFrame& f) {
          Cell* v = f.arg(value);
          handler<Action::insert>(s->type())(s, v, kOff, kOff, kOff);
        });
        break;
      }
      case 1: {
        Cell value = pick_insertion();
        int32_t count = static_cast<int32_t>(draw(3));
        *trail = "append/dup " + mold(value);
        edit(index, [&](Cell* s, ActionFrame& f) {
          Cell* v = f.arg(value);
          int dup = f.ref(I(count));
          handler<Action::append>(s->type())(s, v, kOff, kOff, dup);
        });
        break;
      }
      case 2: {
        int32_t part = static_cast<int32_t>(draw(4));
        *trail = "remove/part " + std::to_string(part);
        edit(index, [&](Cell* s, ActionFrame& f) {
          int p = f.ref(I(part));
          handler<Action::remove>(s->type())(s, p, kOff);
        });
        break;
      }
      case 3: {
        Cell value = pick_insertion();
        int32_t part = static_cast<int32_t>(draw(4)) - 1;
        *trail = "change " + mold(value) + " part " + std::to_string(part);
        edit(index, [&](Cell* s, ActionFrame& f) {
          Cell* v = f.arg(value);
          int p = part >= 0 ? f.ref(I(part)) : kOff;
          handler<Action::change>(s->type())(s, v, p, kOff, kOff);
        });
        break;
      }
      case 4: {
        if (length() == 0) return;
        Cell value = pick_value();
        auto position = static_cast<int32_t>(draw(length()) + 1);
        *trail = "poke " + std::to_string(position) + " " + mold(value);
        edit(0, [&](Cell* s, ActionFrame& f) {
          Cell* v = f.arg(value);
          handler<Action::poke>(s->type())(s, position, v, nullptr);
        });
        break;
      }
      case 5: {
        bool reverse = draw(2) == 0;
        bool case_sensitive = draw(2) == 0;
        *trail = "sort";
        edit(index, [&](Cell* s, ActionFrame&) {
          handler<Action::sort>(s->type())(s, case_sensitive ? kOn : kOff, kOff, kOff, kOff, kOff,
                                           reverse ? kOn : kOff, kOn);
        });
        break;
      }
      case 6: {
        int32_t part = static_cast<int32_t>(draw(5));
        *trail = "reverse/part " + std::to_string(part);
        edit(index, [&](Cell* s, ActionFrame& f) {
          int p = f.ref(I(part));
          handler<Action::reverse>(s->type())(s, p, kOff);
        });
        break;
      }
      case 7: {
        int32_t part = static_cast<int32_t>(draw(4));
        bool last = draw(2) == 0;
        *trail = "take/part " + std::to_string(part);
        std::string taken[2];
        int which = 0;
        edit(index, [&](Cell* s, ActionFrame& f) {
          int p = f.ref(I(part));
          Cell result = *handler<Action::take>(s->type())(s, p, kOff, last ? kOn : kOff);
          taken[which++] = mold_as_block(result);
          if (result.is(TYPE_HASH))
            for (uint32_t i = 0; i < block::buffer_of(&result)->cell_count(); ++i) {
              Cell cell = block::buffer_of(&result)->cells()[i];
              EXPECT_GE(find_index(result, cell, {.case_sensitive = true, .only = true}), 0) << *trail;
            }
        });
        EXPECT_EQ(taken[0], taken[1]) << *trail;
        break;
      }
      case 8: {
        uint32_t target = draw_index();
        int32_t part = static_cast<int32_t>(draw(3)) + 1;
        *trail = "move " + std::to_string(index) + " -> " + std::to_string(target);
        edit(index, [&](Cell* s, ActionFrame& f) {
          Cell* t = f.arg(at(*s, target));
          int p = f.ref(I(part));
          handler<Action::move>(s->type())(s, t, p);
        });
        break;
      }
      case 9: {
        if (draw(8) != 0) return;  // clearing often would keep the blocks tiny
        *trail = "clear";
        edit(index, [&](Cell* s, ActionFrame&) { handler<Action::clear>(s->type())(s); });
        break;
      }
      case 10: {
        uint32_t other = draw_index();
        *trail = "swap";
        edit(index, [&](Cell* s, ActionFrame& f) {
          Cell* t = f.arg(at(*s, other));
          handler<Action::swap>(s->type())(s, t);
        });
        break;
      }
      case 11: {
        *trail = "trim";
        edit(index, [&](Cell* s, ActionFrame&) {
          handler<Action::trim>(s->type())(s, kOff, kOff, kOff, kOff, kOff, kOff);
        });
        break;
      }
      default: {
        Cell key = pick_value();
        Cell value = pick_value();
        *trail = "put " + mold(key) + " " + mold(value);
        edit(index, [&](Cell* s, ActionFrame& f) {
          Cell* k = f.arg(key);
          Cell* v = f.arg(value);
          handler<Action::put>(s->type())(s, k, v, kOff);
        });
        break;
      }
    }
  }

  // Compares the contents and the answers of find for every value of the
  // pool, from a few positions, with and without /case, /last and /skip.
  void check(const std::string& trail) {
    ASSERT_EQ(mold_as_block(hash_), mold(plain_)) << trail;
    std::vector<Cell> pool = {W("a"), W("b"), W("c"), W("A"), S("x"), S("X"), S("y"), none_cell()};
    for (int32_t n = 0; n < 6; ++n) pool.push_back(I(n));
    for (const Cell& value : pool) {
      for (uint32_t from : {0u, length() / 2, length()}) {
        for (FindOptions options : {FindOptions{}, FindOptions{.case_sensitive = true}, FindOptions{.last = true},
                                    FindOptions{.skip = 2}}) {
          ASSERT_EQ(find_index(at(hash_, from), value, options), find_index(at(plain_, from), value, options))
              << trail << " / find " << mold(value) << " from " << from << " in " << mold(plain_);
        }
      }
    }
  }

 private:
  std::mt19937 random_;
  Cell hash_;
  Cell plain_;
};

TEST_F(Hashes, EveryEditKeepsFindOnTheHashEqualToFindOnAPlainBlock) {
  Twin twin(20240611);
  std::string trail;
  for (int step = 0; step < 1500; ++step) {
    twin.random_edit(&trail);
    twin.check("step " + std::to_string(step) + ": " + trail);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// --- map!: construction ------------------------------------------------------------------

TEST_F(Maps, MakeAndToBuildFromPairsNumbersAndMaps) {
  Cell m = make_map({W("a"), I(1), S("B"), I(2)});
  EXPECT_TRUE(m.is(TYPE_MAP));
  EXPECT_EQ(length_of(m), 2);
  EXPECT_EQ(mold(convert<Action::to>(TYPE_MAP, B({NL(W("a")), NL(I(1))}, TYPE_PAREN))), "#[\n    a: 1\n]");
  EXPECT_EQ(mold(convert<Action::make>(TYPE_MAP, at(B({I(9), W("k"), I(1)}), 1))), "#[\n    k: 1\n]");
  EXPECT_EQ(length_of(convert<Action::make>(TYPE_MAP, make_hash({W("h"), I(1)}))), 1);

  Cell sized = convert<Action::make>(TYPE_MAP, I(10));
  EXPECT_EQ(length_of(sized), 0);
  EXPECT_GE(memory::buffer_of(sized.data2)->size / sizeof(Cell), 20u);
  EXPECT_GE(memory::buffer_of(convert<Action::make>(TYPE_MAP, I(0)).data2)->size / sizeof(Cell), 2u);
  EXPECT_EQ(mold(convert<Action::make>(TYPE_MAP, float_cell(2.5))), "#[]");

  Cell copied = convert<Action::make>(TYPE_MAP, m);
  EXPECT_NE(copied.data2, m.data2);
  EXPECT_EQ(compare_maps(copied, m, kCmpStrictEqual), 0);
  EXPECT_EQ(compare_maps(convert<Action::to>(TYPE_MAP, m), m, kCmpEqual), 0);
}

TEST_F(Maps, BadSpecsRaiseTheirErrors) {
  struct Case {
    Action action;
    Cell spec;
    ErrorId error;
  } cases[] = {
      {Action::make, B({W("a")}), ErrorId::script_invalid_arg},
      {Action::to, B({W("a"), I(1), W("b")}), ErrorId::script_invalid_arg},
      {Action::make, I(-1), ErrorId::script_out_of_range},
      {Action::to, I(3), ErrorId::script_bad_to_arg},
      {Action::make, S("x"), ErrorId::script_bad_to_arg},
      {Action::to, W("x"), ErrorId::script_bad_to_arg},
      {Action::make, B({I(1)}, TYPE_PATH), ErrorId::script_bad_to_arg},
      {Action::make, B({B({I(1)}), I(2)}), ErrorId::script_invalid_path},
  };
  for (const Case& c : cases) {
    auto error = catch_error([&] {
      if (c.action == Action::make) convert<Action::make>(TYPE_MAP, c.spec);
      else convert<Action::to>(TYPE_MAP, c.spec);
    });
    EXPECT_EQ(error, c.error) << mold(c.spec);
  }
}

TEST_F(Maps, AKeyMetTwiceKeepsItsLaterValue) {
  Cell m = make_map({W("a"), I(1), W("b"), I(2), W("A"), I(3), as(W("a"), TYPE_LIT_WORD), I(4)});
  EXPECT_EQ(length_of(m), 3);
  EXPECT_EQ(mold(m), "#[\n    a: 4\n    b: 2\n    A: 3\n]");
}

TEST_F(Maps, MakeAtBuildsAMapOverALiteralsPairs) {
  EXPECT_TRUE(map::key_type_q(TYPE_STRING));
  EXPECT_TRUE(map::key_type_q(TYPE_ISSUE));
  EXPECT_TRUE(map::key_type_q(TYPE_POINT3D));
  EXPECT_FALSE(map::key_type_q(TYPE_BLOCK));
  EXPECT_FALSE(map::key_type_q(TYPE_NONE));
  EXPECT_FALSE(map::key_type_q(TYPE_LOGIC));

  Cell pairs = B({NL(W("x")), I(1), NL(as(W("y"), TYPE_GET_WORD)), S("two")});
  Cell m;
  map::make_at(&m, &pairs, 0);
  EXPECT_EQ(map::size(m), 2);
  EXPECT_EQ(mold(m), "#[\n    x: 1\n    y: \"two\"\n]");
  EXPECT_EQ(mold_with(m, false, false, true), "#[x: 1 y: \"two\"]");

  Cell empty;
  map::make_at(&empty, nullptr, 6);
  EXPECT_EQ(map::size(empty), 0);
  EXPECT_GE(memory::buffer_of(empty.data2)->size / sizeof(Cell), 6u);
  stack::Guard guard;
  Cell* pushed = map::push(m);
  EXPECT_TRUE(pushed->is(TYPE_MAP));
  EXPECT_EQ(pushed->data2, m.data2);
  EXPECT_EQ(pushed->data3, m.data3);
}

// --- map!: keys, lookup, storage ----------------------------------------------------------

TEST_F(Maps, LookupIgnoresCaseAndWordKindUnlessAskedForCase) {
  Cell m = make_map({W("a"), I(1), S("B"), I(2)});
  EXPECT_EQ(mold(path_get(m, W("a"))), "1");
  EXPECT_EQ(mold(select_in(m, W("A"))), "1");
  EXPECT_EQ(mold(select_in(m, as(W("a"), TYPE_GET_WORD))), "1");
  EXPECT_EQ(mold(select_in(m, as(W("a"), TYPE_SET_WORD))), "1");
  EXPECT_EQ(mold(select_in(m, S("b"))), "2");
  EXPECT_EQ(mold(select_in(m, S("b"), true)), "none");
  EXPECT_EQ(mold(select_in(m, W("A"), true)), "none");
  EXPECT_EQ(mold(select_in(m, W("a"), true)), "1");
  EXPECT_EQ(mold(select_in(m, B({}), true)), "none");  // no block can be a key

  Cell found = find_in(m, W("a"));
  EXPECT_TRUE(found.is(TYPE_WORD));
  EXPECT_EQ(mold(found), "a");
  EXPECT_EQ(mold(find_in(m, S("b"))), "\"B\"");
  EXPECT_EQ(mold(find_in(m, W("zz"))), "none");
  EXPECT_EQ(mold(path_get(m, W("c"))), "none");
}

TEST_F(Maps, WordKindsAreOneKeyAndRefinementsAndIssuesStayApart) {
  Cell m = make_map({W("a"), I(0)});
  int32_t n = 0;
  for (TypeId kind : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}) {
    put_in(m, as(W("a"), kind), I(++n));
    EXPECT_EQ(length_of(m), 1);
  }
  EXPECT_EQ(mold(select_in(m, W("a"))), "4");
  put_in(m, as(W("a"), TYPE_REFINEMENT), I(5), true);
  put_in(m, as(W("a"), TYPE_ISSUE), I(6), true);
  EXPECT_EQ(length_of(m), 3);
  EXPECT_EQ(mold(m), "#[\n    a: 4\n    /a 5\n    #a 6\n]");
}

TEST_F(Maps, PathSetAddsOverwritesAndKeepsNoneValues) {
  Cell m = make_map({W("a"), I(1), S("B"), I(2)});
  path_set(m, W("c"), I(3));
  EXPECT_EQ(length_of(m), 3);
  EXPECT_EQ(mold(path_get(m, W("C"))), "3");
  path_set(m, S("b"), I(20));  // overwrites "B"
  EXPECT_EQ(length_of(m), 3);
  EXPECT_EQ(mold(select_in(m, S("B"))), "20");
  path_set(m, W("a"), none_cell());
  EXPECT_EQ(length_of(m), 3);
  EXPECT_EQ(mold(m), "#[\n    a: none\n    \"B\" 20\n    c: 3\n]");

  EXPECT_EQ(mold(put_in(m, S("b"), I(5), true)), "5");  // /case: a new key
  EXPECT_EQ(length_of(m), 4);
  EXPECT_EQ(mold(select_in(m, S("b"), true)), "5");
  EXPECT_EQ(mold(select_in(m, S("B"), true)), "20");
}

TEST_F(Maps, AKeyThatCannotBeAKeyRaisesInvalidPathNamingThePath) {
  Cell m = make_map({W("a"), I(1)});
  auto error = catch_error([&] { put_in(m, B({I(1)}), I(2)); });
  EXPECT_EQ(error, ErrorId::script_invalid_path);
  EXPECT_TRUE(error_value::argument(last_error(), 1).is(TYPE_NONE));
  EXPECT_EQ(mold(error_value::argument(last_error(), 2)), "block!");

  error = catch_error([&] { path_set(m, logic_cell(true), I(2)); });
  EXPECT_EQ(error, ErrorId::script_invalid_path);
  EXPECT_TRUE(error_value::argument(last_error(), 1).is(TYPE_SET_PATH));
  EXPECT_EQ(mold(error_value::argument(last_error(), 2)), "logic!");
  EXPECT_EQ(length_of(m), 1);
}

TEST_F(Maps, TextKeysArePrivateCopies) {
  Cell key = S("key");
  Cell m = make_map({key, I(1)});
  // Editing the caller's string does not move the stored key.
  string::append_utf8(&key, "-changed");
  EXPECT_EQ(mold(select_in(m, S("key"))), "1");
  EXPECT_EQ(mold(select_in(m, key)), "none");

  // Neither does editing a key handed out by find or reflect.
  Cell found = find_in(m, S("KEY"));
  string::append_utf8(&found, "!");
  Cell words = reflect_map(m, runtime_words::words);
  Cell listed = block::buffer_of(&words)->cells()[0];
  string::append_utf8(&listed, "?");
  EXPECT_EQ(mold(select_in(m, S("key"))), "1");
  EXPECT_EQ(mold(m), "#[\n    \"key\" 1\n]");

  Cell added = S("late");
  path_set(m, added, I(2));
  string::append_utf8(&added, "r");
  EXPECT_EQ(mold(select_in(m, S("late"))), "2");
}

TEST_F(Maps, NegativeZeroAndZeroAreOneKey) {
  Cell m = make_map({float_cell(0.0), I(1)});
  put_in(m, float_cell(-0.0), I(2));
  EXPECT_EQ(length_of(m), 1);
  EXPECT_EQ(mold(select_in(m, float_cell(0.0))), "2");
}

// --- map!: removal and revival -------------------------------------------------------------

TEST_F(Maps, RemoveIsCaseSensitiveAndRequiresKey) {
  Cell m = make_map({W("a"), I(1), S("B"), I(2)});
  remove_key(m, W("A"));
  EXPECT_EQ(length_of(m), 2);
  remove_key(m, S("b"));
  EXPECT_EQ(length_of(m), 2);
  remove_key(m, as(W("a"), TYPE_LIT_WORD));
  EXPECT_EQ(length_of(m), 1);
  remove_key(m, W("a"));  // removed already
  EXPECT_EQ(length_of(m), 1);
  EXPECT_EQ(catch_error([&] {
              ActionFrame frame;
              Cell* s = frame.arg(m);
              handler<Action::remove>(TYPE_MAP)(s, kOff, kOff);
            }),
            ErrorId::script_missing_arg);
}

TEST_F(Maps, RemovedEntriesAreSkippedEverywhereAndRevivedInPlace) {
  Cell m = make_map({W("a"), I(1), W("b"), I(2), W("c"), I(3)});
  remove_key(m, W("b"));
  EXPECT_EQ(length_of(m), 2);
  EXPECT_EQ(mold(select_in(m, W("b"))), "none");
  EXPECT_EQ(mold(find_in(m, W("b"))), "none");
  EXPECT_EQ(mold(path_get(m, W("b"))), "none");
  EXPECT_EQ(mold(m), "#[\n    a: 1\n    c: 3\n]");
  EXPECT_EQ(mold(reflect_map(m, runtime_words::words)), "[a c]");
  EXPECT_EQ(mold(reflect_map(m, runtime_words::values)), "[1 3]");
  EXPECT_EQ(compare_maps(m, make_map({W("c"), I(3), W("a"), I(1)}), kCmpEqual), 0);

  path_set(m, W("B"), I(22));  // revives the entry where it was
  EXPECT_EQ(length_of(m), 3);
  EXPECT_EQ(mold(m), "#[\n    a: 1\n    b: 22\n    c: 3\n]");
  EXPECT_EQ(memory::buffer_of(m.data2)->cell_count(), 6u);
}

TEST_F(Maps, ALiveEntryWinsOverARemovedOneEqualToTheKey) {
  Cell m = make_map({S("k"), I(1), S("K"), I(2)});  // two keys, equal apart from case
  EXPECT_EQ(length_of(m), 2);
  remove_key(m, S("k"));
  EXPECT_EQ(mold(select_in(m, S("k"))), "2");
  put_in(m, S("k"), I(3));
  EXPECT_EQ(length_of(m), 1);
  EXPECT_EQ(mold(m), "#[\n    \"K\" 3\n]");
}

TEST_F(Maps, ClearEmptiesTheMapForNewEntries) {
  Cell m = make_map({W("a"), I(1), W("b"), I(2)});
  Cell cleared = m;
  EXPECT_EQ(handler<Action::clear>(TYPE_MAP)(&cleared)->data2, m.data2);
  EXPECT_EQ(length_of(m), 0);
  EXPECT_EQ(mold(m), "#[]");
  EXPECT_EQ(mold(select_in(m, W("a"))), "none");
  path_set(m, W("b"), I(5));
  EXPECT_EQ(mold(m), "#[\n    b: 5\n]");
}

TEST_F(Maps, ManyKeysSurviveGrowthRemovalAndReinsertion) {
  Cell m = convert<Action::make>(TYPE_MAP, I(0));
  for (int32_t i = 0; i < 2000; ++i) put_in(m, I(i), I(i * 2));
  EXPECT_EQ(length_of(m), 2000);
  for (int32_t i = 0; i < 2000; i += 2) remove_key(m, I(i));
  EXPECT_EQ(length_of(m), 1000);
  for (int32_t i = 0; i < 2000; ++i)
    ASSERT_EQ(mold(select_in(m, I(i))), i % 2 ? std::to_string(i * 2) : "none") << i;
  for (int32_t i = 0; i < 2000; i += 4) put_in(m, I(i), I(-i));
  EXPECT_EQ(length_of(m), 1500);
  EXPECT_EQ(mold(select_in(m, I(1996))), "-1996");
  EXPECT_EQ(memory::buffer_of(m.data2)->cell_count(), 4000u);  // revived in place
}

// A new key is indexed without a second probe of the table: text keys that
// differ only in case stay one key under put, and become two under put/case,
// through every growth of the table.
TEST_F(Maps, TextKeysDifferingInCaseStayOneKeyThroughGrowthUnlessPutWithCase) {
  Cell m = convert<Action::make>(TYPE_MAP, I(0));
  for (int32_t i = 0; i < 3000; ++i) put_in(m, S(("k" + std::to_string(i)).c_str()), I(i));
  for (int32_t i = 0; i < 3000; i += 3) put_in(m, S(("K" + std::to_string(i)).c_str()), I(-i));
  EXPECT_EQ(length_of(m), 3000);
  for (int32_t i = 0; i < 3000; i += 2) put_in(m, S(("K" + std::to_string(i)).c_str()), I(i + 1), true);
  EXPECT_EQ(length_of(m), 4500);
  for (int32_t i = 0; i < 3000; ++i) {
    std::string lower = "k" + std::to_string(i);
    std::string upper = "K" + std::to_string(i);
    ASSERT_EQ(mold(select_in(m, S(lower.c_str()), true)), std::to_string(i % 3 ? i : -i)) << i;
    ASSERT_EQ(mold(select_in(m, S(upper.c_str()), true)), i % 2 ? "none" : std::to_string(i + 1)) << i;
    // Resizing places the keys again in the order the map holds them: the
    // key put first is still the one a case-insensitive lookup meets first.
    ASSERT_EQ(mold(select_in(m, S(upper.c_str()))), std::to_string(i % 3 ? i : -i)) << i;
  }
  EXPECT_EQ(mold(select_in(m, S("k3000"))), "none");
}

// --- map!: text ----------------------------------------------------------------------------

TEST_F(Maps, MoldAndFormLayOutEntriesByteForByte) {
  Cell ab = make_map({W("a"), I(1), W("b"), I(2)});
  Cell nested = make_map({W("outer"), make_map({W("inner"), B({I(1), I(2)})}), W("x"), S("y")});
  struct Case {
    Cell value;
    bool only;
    bool flat;
    const char* molded;
  } cases[] = {
      {ab, false, false, "#[\n    a: 1\n    b: 2\n]"},
      {ab, false, true, "#[a: 1 b: 2]"},
      {ab, true, false, "a: 1\nb: 2"},
      {ab, true, true, "a: 1 b: 2"},
      {make_map({}), false, false, "#[]"},
      {make_map({}), false, true, "#[]"},
      {make_map({W("a"), I(1)}), false, true, "#[a: 1]"},
      {nested, false, false, "#[\n    outer: #[\n        inner: [1 2]\n    ]\n    x: \"y\"\n]"},
      {nested, false, true, "#[outer: #[inner: [1 2]] x: \"y\"]"},
      {B({W("m"), make_map({W("k"), I(1)})}), false, false, "[m #[\n    k: 1\n]]"},
      {B({NL(make_map({W("k"), I(1)}))}), false, false, "[\n    #[\n        k: 1\n    ]\n]"},
  };
  for (const Case& c : cases) EXPECT_EQ(mold_with(c.value, c.only, false, c.flat), c.molded);
  EXPECT_EQ(form(ab), "a: 1\nb: 2");
  EXPECT_EQ(form(make_map({S("k"), S("v")})), "\"k\" \"v\"");
  EXPECT_EQ(form(make_map({})), "");
}

TEST_F(Maps, MoldStopsWritingEntriesOnceThePartLimitRunsOut) {
  Cell m = make_map({W("a"), I(1), W("b"), I(2)});
  int32_t left = 0;
  EXPECT_EQ(mold_with(m, false, false, true, 5, &left), "#[a: 1]");
  EXPECT_EQ(left, -2);
  EXPECT_EQ(mold_with(m, false, false, false, 2, &left), "#[\n]");
  EXPECT_EQ(left, -2);
  EXPECT_EQ(form_part(m, 3, &left), "a: 1");
  EXPECT_EQ(left, -1);
}

TEST_F(Maps, AMapInsideItselfMoldsAsTheCycleText) {
  Cell m = make_map({W("a"), I(1)});
  path_set(m, W("self"), m);
  EXPECT_EQ(mold_with(m, false, false, true), "#[a: 1 self: #[...]]");
  EXPECT_EQ(form(m), "a: 1\nself: #[...]");
  EXPECT_EQ(cycles::size(), 0u);
}

// --- map!: reflection ----------------------------------------------------------------------

TEST_F(Maps, ReflectGivesWordsValuesAndABodyOfOnePairPerLine) {
  Cell m = make_map({W("a"), I(1), S("B"), I(2)});
  path_set(m, W("c"), I(3));
  EXPECT_EQ(mold(reflect_map(m, runtime_words::words)), "[a \"B\" c]");
  Cell words = reflect_map(m, runtime_words::words);
  EXPECT_TRUE(block::buffer_of(&words)->cells()[0].is(TYPE_WORD));
  EXPECT_EQ(mold(reflect_map(m, runtime_words::values)), "[1 2 3]");
  EXPECT_EQ(mold(reflect_map(m, runtime_words::body)), "[\n    a: 1\n    \"B\" 2\n    c: 3\n]");
  EXPECT_EQ(catch_error([&] { reflect_map(m, runtime_words::spec); }), ErrorId::internal_not_done);

  // make block! and to block! of a map give its body.
  EXPECT_EQ(mold(convert<Action::to>(TYPE_BLOCK, m)), "[\n    a: 1\n    \"B\" 2\n    c: 3\n]");
  EXPECT_EQ(mold(convert<Action::make>(TYPE_BLOCK, make_map({}))), "[]");
}

// --- map!: comparison ----------------------------------------------------------------------

TEST_F(Maps, MapsCompareByTheirLiveEntriesInAnyOrder) {
  Cell m = make_map({W("a"), I(1), S("B"), I(2)});
  struct Case {
    Cell other;
    int32_t op;
    bool equal;
  } cases[] = {
      {make_map({S("B"), I(2), W("a"), I(1)}), kCmpEqual, true},
      {make_map({S("b"), I(2), W("A"), I(1)}), kCmpEqual, true},
      {make_map({S("b"), I(2), W("A"), I(1)}), kCmpStrictEqual, false},
      {make_map({S("B"), I(2), W("a"), I(1)}), kCmpStrictEqual, true},
      {make_map({S("B"), I(2), W("a"), I(9)}), kCmpEqual, false},
      {make_map({W("a"), I(1)}), kCmpEqual, false},
      {make_map({S("B"), I(2), W("a"), I(1)}), kCmpSame, false},
      {m, kCmpSame, true},
      {make_map({S("B"), I(2), W("a"), I(1)}), kCmpFind, true},
  };
  for (const Case& c : cases) EXPECT_EQ(compare_maps(m, c.other, c.op) == 0, c.equal) << mold(c.other);
  EXPECT_EQ(compare_maps(make_map({}), make_map({}), kCmpEqual), 0);
  Cell block = B({});
  EXPECT_EQ(compare_maps(m, block, kCmpEqual), kNotComparable);
  EXPECT_EQ(compare_maps(m, make_map({}), kCmpLesser), kNotComparable);
  Cell other = make_map({});
  int32_t order = compare_maps(m, other, kCmpSort);
  EXPECT_NE(order, 0);
  EXPECT_EQ(compare_maps(other, m, kCmpSort), -order);
}

TEST_F(Maps, MapsHoldingThemselvesCompareWithoutEndlessRecursion) {
  Cell a = make_map({W("x"), I(1)});
  path_set(a, W("me"), a);
  Cell b = make_map({W("x"), I(1)});
  path_set(b, W("me"), b);
  EXPECT_EQ(compare_maps(a, b, kCmpEqual), 0);
  EXPECT_EQ(cycles::size(), 0u);
}

// --- map!: copy ----------------------------------------------------------------------------

TEST_F(Maps, CopyIsIndependentAndCopiesValuesDeeplyOrByType) {
  Cell inner = B({I(1)});
  Cell text = S("t");
  Cell m = make_map({W("b"), inner, W("s"), text, W("n"), I(5)});
  remove_key(m, W("n"));

  Cell shallow = copy_map(m);
  EXPECT_NE(shallow.data2, m.data2);
  EXPECT_NE(shallow.data3, m.data3);
  EXPECT_EQ(length_of(shallow), 2);
  put_in(shallow, W("new"), I(1));
  EXPECT_EQ(length_of(m), 2);
  EXPECT_EQ(mold(select_in(m, W("new"))), "none");
  EXPECT_EQ(select_in(shallow, W("b")).data2, inner.data2);

  Cell deep = copy_map(m, true);
  EXPECT_NE(select_in(deep, W("b")).data2, inner.data2);
  EXPECT_NE(select_in(deep, W("s")).data2, text.data2);
  EXPECT_EQ(mold(deep), "#[\n    b: [1]\n    s: \"t\"\n]");

  Cell string_type = D(TYPE_STRING);
  Cell typed = copy_map(m, false, &string_type);
  EXPECT_EQ(select_in(typed, W("b")).data2, inner.data2);
  EXPECT_NE(select_in(typed, W("s")).data2, text.data2);
}

TEST_F(Maps, DeepCopyOfAMapHoldingItselfRaisesNoCycle) {
  // Maps are copied inside a deep copy when /types asks for them.
  Cell kinds = make_cell(TYPE_TYPESET);
  typeset_add(kinds, TYPE_BLOCK);
  typeset_add(kinds, TYPE_MAP);
  Cell direct = make_map({W("a"), I(1)});
  path_set(direct, W("me"), direct);
  Cell through_block = make_map({W("a"), I(1)});
  path_set(through_block, W("list"), B({}));
  Cell list = select_in(through_block, W("list"));
  block::rs_append(&list, through_block);
  for (const Cell& m : {direct, through_block}) {
    EXPECT_EQ(catch_error([&] { copy_map(m, true, &kinds); }), ErrorId::internal_no_cycle) << mold(m);
    EXPECT_EQ(cycles::size(), 0u);
  }
  // Without the map kind a deep copy does not reach the map again.
  EXPECT_EQ(catch_error([&] { copy_map(through_block, true); }), std::nullopt);
}

// --- map!: extend and foreach ----------------------------------------------------------------

TEST_F(Maps, ExtendAddsOrReplacesEachPair) {
  Cell m = make_map({W("a"), I(1), S("B"), I(2)});
  Cell pairs = B({S("b"), I(20), W("c"), I(3), W("A"), I(10)});
  map::extend(&m, &pairs, false);
  EXPECT_EQ(mold(m), "#[\n    a: 10\n    \"B\" 20\n    c: 3\n]");
  Cell cased = B({S("b"), I(5)});
  map::extend(&m, &cased, true);
  EXPECT_EQ(length_of(m), 4);
  remove_key(m, W("c"));
  Cell revive = B({W("c"), I(30)});
  map::extend(&m, &revive, false);
  EXPECT_EQ(mold(select_in(m, W("c"))), "30");
  EXPECT_EQ(length_of(m), 4);
  Cell from_map = make_map({W("z"), I(26)});
  map::extend(&m, &from_map, false);
  EXPECT_EQ(mold(select_in(m, W("z"))), "26");
}

TEST_F(Maps, ExtendRefusesOddBlocksAndBadKeysLeavingTheMapAlone) {
  Cell m = make_map({W("a"), I(1)});
  Cell odd = B({W("b")});
  EXPECT_EQ(catch_error([&] { map::extend(&m, &odd, false); }), ErrorId::script_invalid_arg);
  Cell bad = B({W("b"), I(2), B({}), I(3)});
  EXPECT_EQ(catch_error([&] { map::extend(&m, &bad, false); }), ErrorId::script_invalid_path);
  EXPECT_TRUE(error_value::argument(last_error(), 1).is(TYPE_NONE));
  EXPECT_EQ(mold(m), "#[\n    a: 1\n]");
}

TEST_F(Maps, ForeachStepGivesKeysAndValuesOfLiveEntries) {
  Cell m = make_map({W("a"), I(1), S("s"), I(2), W("gone"), I(0), W("c"), I(3)});
  remove_key(m, W("gone"));
  Cell k = W("k");
  Cell v = W("v");
  Cell words = B({k, v});
  Cell iterator = m;
  std::vector<std::string> seen;
  while (map::foreach_next(&words, &iterator, 2)) {
    Cell* key = context::get(&k);
    Cell* value = context::get(&v);
    seen.push_back(mold(*key) + " " + mold(*value));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"a 1", "\"s\" 2", "c 3"}));
  EXPECT_TRUE(context::get(&k)->is(TYPE_NONE));
  EXPECT_TRUE(context::get(&v)->is(TYPE_NONE));

  // Three words take key, value, key; the leftover at the end takes none.
  Cell x = W("x");
  Cell three = B({k, v, x});
  Cell from_start = m;
  EXPECT_TRUE(map::foreach_next(&three, &from_start, 3));
  EXPECT_TRUE(context::get(&k)->is(TYPE_WORD));
  EXPECT_EQ(mold(*context::get(&x)), "\"s\"");
  EXPECT_TRUE(map::foreach_next(&three, &from_start, 3));
  EXPECT_EQ(mold(*context::get(&k)), "2");
  EXPECT_EQ(mold(*context::get(&v)), "c");
  EXPECT_EQ(mold(*context::get(&x)), "3");
  EXPECT_FALSE(map::foreach_next(&three, &from_start, 3));
  EXPECT_EQ(mold(*context::get(&k)), "none");

  Cell not_words = B({I(1), v});
  Cell again = m;
  EXPECT_EQ(catch_error([&] { map::foreach_next(&not_words, &again, 2); }), ErrorId::script_invalid_arg);
}

TEST_F(Maps, CApiGetsAndSetsUnderTheSameRules) {
  Cell m = make_map({});
  map::set(m, S("Content-Type"), S("text/html"), false);
  EXPECT_EQ(mold(map::get(m, S("content-type"), false)), "\"text/html\"");
  EXPECT_EQ(mold(map::get(m, S("content-type"), true)), "none");
  map::set(m, S("CONTENT-TYPE"), S("text/plain"), false);
  EXPECT_EQ(map::size(m), 1);
  Cell datatype = D(TYPE_BLOCK);
  Cell path = B({W("m"), W("k")}, TYPE_SET_PATH);
  EXPECT_EQ(catch_error([&] {
              Cell key = datatype;
              map::normalize_key(&key, &path);
            }),
            ErrorId::script_invalid_path);
  EXPECT_EQ(mold(error_value::argument(last_error(), 1)), "m/k:");
}

TEST_F(Maps, RegistersWithItsOwnSlotsOnly) {
  EXPECT_TRUE(is_registered(TYPE_MAP));
  EXPECT_NE(action_entry(TYPE_MAP, Action::select), nullptr);
  EXPECT_NE(action_entry(TYPE_MAP, Action::eval_path), nullptr);
  for (Action none : {Action::append, Action::insert, Action::pick, Action::poke, Action::random, Action::at,
                      Action::sort, Action::take})
    EXPECT_EQ(action_entry(TYPE_MAP, none), nullptr);
}

}  // namespace
}  // namespace kel
