// The parse engine: an explicit state machine over a rule stack and an
// input stack, so that nesting of rules costs stack cells, never machine
// stack.
//
// Registers. The engine keeps the current rule block (block_, with the head
// index it was entered at), the rule pointer (rule_, an absolute index into
// that block, one before its first rule on entry), the block's tail as last
// read (tail_), the current input at its position (input_), the match flag,
// the comparison mode, the collect depth and the break flag.
//
// Rule stack. Three-cell frames, told apart by their last cell:
//   rule block  [none | positions | enclosing block]  (last cell a block)
//   command     [argument | positions | pair! code x flag]
// positions is a triple! (rule index, input index, input length): for a
// block, the element to resume at in the enclosing block and the input
// position to restore for an alternative; for a command, the element just
// before the command's rule (a round restarts by fetching the rule again
// from there) and the input where the command (or its current round)
// began. The argument is per command: the counters triple! (minimum,
// maximum or -1, round) of an iteration, the target word of copy and set,
// the original input index of to and thru, the saved comparison mode of
// case, the copy word of keep, and for collect its target series (the
// positions cell then holds the word of `collect set`).
//
// Input stack. The input series, and one more for each open into; the
// register input_ is the current one, written back below a nested series
// when into opens it.
//
// Every parse works above the cells that were on both stacks when it
// began (its bases) and truncates them back when it ends, normally or not
// (an error, or a break or throw passing through an action), so a parse
// started inside another one's action or callback leaves the outer one
// intact. The engines running at a time form a chain that the collector's
// hook walks to keep their registers alive.
//
// Paren actions and callbacks run Kel code, which may change the rules,
// the input or anything else and may collect: after every evaluation the
// engine re-reads the rule block's tail and clamps the rule pointer and the
// input position. A break, continue, return, exit or throw raised in an
// action leaves an exit pending: the engine then returns at once without
// touching the evaluation stacks (they belong to the exit's catcher).
#include "evaluator/parse.h"

#include <algorithm>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/triple.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/parse_match.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/series_tail.h"

namespace kel::parse {

namespace {

using match::InputKind;

// --- Keywords -------------------------------------------------------------------------------------

// The words the rules give a meaning of their own. The last three mean
// something only right after another keyword (insert only, keep pick,
// collect after) and are ordinary words elsewhere.
enum Keyword : uint8_t {
  kNotKeyword,
  kBar,
  kSkip,
  kAny,
  kSome,
  kOpt,
  kWhile,
  kCopy,
  kSet,
  kTo,
  kThru,
  kBreak,
  kReject,
  kFail,
  kNoneKeyword,
  kEnd,
  kNot,
  kAhead,
  kQuote,
  kIf,
  kInto,
  kRemove,
  kInsert,
  kChange,
  kCase,
  kCollect,
  kKeep,
  kOnly,
  kPick,
  kAfter,
  kKeywordCount,
};

constexpr const char* kKeywordNames[kKeywordCount] = {
    "",     "|",      "skip",   "any",    "some",   "opt",    "while",  "copy",  "set",    "to",
    "thru", "break",  "reject", "fail",   "none",   "end",    "not",    "ahead", "quote",  "if",
    "into", "remove", "insert", "change", "case",   "collect", "keep",  "only",  "pick",   "after",
};

uint32_t keyword_symbols[kKeywordCount];  // canonical symbol of each keyword
// By symbol id: 0 not classified yet, otherwise the keyword plus one.
std::vector<uint8_t> keyword_cache;

Keyword classify(uint32_t symbol) {
  uint32_t canonical = symbol::resolve(symbol);
  for (uint32_t k = 1; k < kKeywordCount; ++k)
    if (keyword_symbols[k] == canonical) return static_cast<Keyword>(k);
  return kNotKeyword;
}

// The keyword a word! names (compared by canonical symbol, so whatever its
// letter case), or kNotKeyword; any other cell is no keyword.
inline Keyword keyword_of(const Cell& cell) {
  if (!cell.is(TYPE_WORD)) return kNotKeyword;
  uint32_t symbol = word::symbol_of(cell);
  if (symbol < keyword_cache.size() && keyword_cache[symbol] != 0)
    return static_cast<Keyword>(keyword_cache[symbol] - 1);
  Keyword k = classify(symbol);
  if (symbol >= keyword_cache.size()) keyword_cache.resize(std::max<size_t>(symbol + 1, symbol::count() + 64));
  keyword_cache[symbol] = static_cast<uint8_t>(k + 1);
  return k;
}

// A word! of a keyword, for error reports.
Cell keyword_word(Keyword k) { return word::make_value(keyword_symbols[k], context::global(), -1); }

// --- Events and commands ------------------------------------------------------------------------

enum Event : uint8_t { kPush, kPop, kFetch, kMatch, kIterate, kParen, kEndEvent, kEventCount };
constexpr const char* kEventNames[kEventCount] = {"push", "pop", "fetch", "match", "iterate", "paren", "end"};
uint32_t event_symbols[kEventCount];

// Command codes, the x of a command frame's pair!.
enum Command : int32_t {
  kIterateCommand = 1,
  kWhileCommand,
  kToCommand,
  kThruCommand,
  kCopyCommand,
  kSetCommand,
  kNotCommand,
  kAheadCommand,
  kIntoCommand,
  kRemoveCommand,
  kChangeCommand,
  kCaseCommand,
  kCollectCommand,
  kKeepCommand,
};

// Where a collect puts what is kept (the y of its pair!).
enum CollectMode : int32_t { kCollectPlain, kCollectSet, kCollectInto, kCollectAfter };

// --- The stacks ---------------------------------------------------------------------------------

constexpr uint32_t kFrameCells = 3;
constexpr uint32_t kFrameBytes = kFrameCells * sizeof(Cell);

bool initialised = false;
Cell rule_stack;   // block! at index 0
Cell input_stack;  // block! at index 0

inline SeriesBuffer* rule_buffer() { return block::buffer_of(&rule_stack); }
inline SeriesBuffer* input_buffer() { return block::buffer_of(&input_stack); }
inline uint32_t cell_count(const Cell& block) { return block::buffer_of(&block)->cell_count(); }

// The callback asked to stop: unwinds the state machine to run().
struct StopRequested {};

class Engine;
Engine* innermost = nullptr;

inline Cell positions(int64_t rule, uint32_t input_index, uint32_t input_length) {
  return triple::make(static_cast<int32_t>(rule), static_cast<int32_t>(input_index),
                      static_cast<int32_t>(input_length));
}

// The value cell of a word of the rules: read straight from the values of
// a heap context, or from the running call's arguments for a function's
// word, as context::get finds it; every other case, and every error, is
// context::get's. Rules fetch a word's value at nearly every step, so the
// common case costs no call.
inline const Cell& word_value(const Cell& word) {
  NodeId context = word::context_of(word);
  int32_t index = word::index_of(word);
  if (context != 0 && index >= 0) {
    const Cell* context_cell = memory::buffer_of(context)->cells();
    if (context_cell->header & flags::kStackValues) {
      uint32_t reference = context::values_of(*context_cell);
      if (reference != 0) return stack::bottom[reference - 1 + static_cast<uint32_t>(index)];
    } else {
      SeriesBuffer* values = memory::buffer_of(context::values_of(*context_cell));
      if (static_cast<uint32_t>(index) < values->cell_count()) return values->cells()[index];
    }
  }
  return *context::get(&word);
}

inline bool truthy(const Cell& value) {
  if (value.is(TYPE_NONE)) return false;
  if (value.is(TYPE_LOGIC)) return logic::get(value) != 0;
  return true;
}

// --- The engine --------------------------------------------------------------------------------

enum class State : uint8_t { kNext, kResult, kComplete, kAlternative, kPopBlock, kFinish, kExit };

class Engine {
 public:
  Engine(const Cell& input, const Cell& rules, int32_t mode, bool has_limit, int64_t limit,
         const Cell* callback)
      : block_(rules), input_(input), mode_(mode), has_callback_(callback != nullptr) {
    callback_ = callback ? *callback : none::value;
    collected_ = none::value;
    uint32_t length = match::length_of(input_);
    if (input_index() > length) set_input_index(length);
    has_limit_ = has_limit;
    if (has_limit) limit_ = static_cast<uint32_t>(std::clamp<int64_t>(limit, input_index(), length));
    rule_base_ = rule_buffer()->cell_count();
    input_base_ = input_buffer()->cell_count();
    outer_ = innermost;
    innermost = this;
  }
  ~Engine() { release(); }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  Cell run() {
    try {
      State state = start();
      for (;;) {
        // A rule that loops without end must not keep the user from
        // stopping it; the destructor truncates the stacks as the halt
        // passes.
        interpreter::halt_point();
        switch (state) {
          case State::kNext: state = next_rule(); break;
          case State::kResult: state = result(); break;
          case State::kComplete: state = complete(); break;
          case State::kAlternative: state = alternative(); break;
          case State::kPopBlock: state = pop_block(); break;
          case State::kFinish: return finish();
          case State::kExit: return none::value;
        }
      }
    } catch (const StopRequested&) {
      return logic::make(match_);
    }
  }

  void mark() const {
    collector::mark_value(block_);
    collector::mark_value(input_);
    collector::mark_value(callback_);
    collector::mark_value(collected_);
  }

  Engine* outer() const { return outer_; }

 private:
  // --- Stacks -------------------------------------------------------------------------------

  // Truncates both stacks to this parse's bases and leaves the chain; runs
  // once, before a parse error is raised or when the engine goes away.
  void release() {
    if (released_) return;
    released_ = true;
    SeriesBuffer* rules = rule_buffer();
    if (rules->cell_count() > rule_base_) rules->tail = rules->offset + rule_base_ * sizeof(Cell);
    SeriesBuffer* inputs = input_buffer();
    if (inputs->cell_count() > input_base_) inputs->tail = inputs->offset + input_base_ * sizeof(Cell);
    innermost = outer_;
  }

  [[noreturn]] void raise(ErrorId id, const Cell* arg = nullptr) {
    Cell copy = arg ? *arg : none::value;
    release();
    fire(id, arg ? &copy : nullptr);
  }

  void push_frame(const Cell& first, const Cell& second, const Cell& last) {
    SeriesBuffer* b = rule_buffer();
    if (b->cell_count() - rule_base_ + kFrameCells > kStackLimit) raise(ErrorId::script_parse_stack);
    Cell* cells = reinterpret_cast<Cell*>(alloc_tail_unit(&b, kFrameBytes));
    cells[0] = first;
    cells[1] = second;
    cells[2] = last;
  }
  // The top frame; valid until the next allocation.
  Cell* top_frame() const { return rule_buffer()->cells_tail() - kFrameCells; }
  void drop_frame() const { rule_buffer()->tail -= kFrameBytes; }
  bool top_is_command() const { return top_frame()[2].is(TYPE_PAIR); }
  uint32_t frame_count() const { return (rule_buffer()->cell_count() - rule_base_) / kFrameCells; }

  void push_input(const Cell& nested) {
    SeriesBuffer* b = input_buffer();
    if (b->cell_count() - input_base_ + 1 > kStackLimit) raise(ErrorId::script_parse_stack);
    b->cells_tail()[-1] = input_;
    *reinterpret_cast<Cell*>(alloc_tail_unit(&b, sizeof(Cell))) = nested;
    input_ = nested;
    uint32_t length = match::length_of(input_);
    if (input_index() > length) set_input_index(length);
    ++input_depth_;
  }
  void pop_input() {
    SeriesBuffer* b = input_buffer();
    b->tail -= sizeof(Cell);
    input_ = b->cells_tail()[-1];
    --input_depth_;
  }

  // --- Reading rules and input ----------------------------------------------------------------

  // The rule element at an absolute index of the current block; unset when
  // an action shortened the block below it.
  Cell rule_at(int64_t index) const {
    SeriesBuffer* b = block::buffer_of(&block_);
    if (index < 0 || index >= b->cell_count()) return make_cell(TYPE_UNSET);
    return b->cells()[index];
  }
  void reload_rules() {
    tail_ = cell_count(block_);
    if (rule_ >= tail_) rule_ = int64_t{tail_} - 1;
  }
  InputKind input_kind() const { return match::kind_of(input_.type()); }
  uint32_t input_length() const { return match::length_of(input_); }
  // The input's end: its tail, or the /part limit for the outermost input.
  uint32_t end() const {
    uint32_t length = input_length();
    if (input_depth_ == 0 && has_limit_ && limit_ < length) return limit_;
    return length;
  }
  bool same_series(const Cell& value) const {
    return value.type() == input_.type() && series::node_of(value) == series::node_of(input_);
  }
  uint32_t clamp_to_input(uint32_t index) const { return std::min(index, input_length()); }
  // The input's position: its index.
  uint32_t input_index() const { return series::index_of(input_); }
  void set_input_index(uint32_t index) { series::set_index(&input_, index); }

  // After Kel code ran: the rules and the input may have changed.
  void after_evaluation() {
    reload_rules();
    uint32_t length = input_length();
    if (input_index() > length) set_input_index(length);
  }

  // A word's value as a rule: unset, or a word again, is no rule.
  Cell rule_value_of(const Cell& word) {
    Cell value = word_value(word);
    if (value.is(TYPE_UNSET) || value.is(TYPE_WORD)) raise(ErrorId::script_parse_rule, &word);
    return value;
  }

  // The literal a rule element stands for when the matching loops can take
  // it directly: the element itself, or the value of a word that is no
  // keyword.
  bool direct_literal(const Cell& element, Cell* literal) {
    Cell value = element;
    if (element.is(TYPE_WORD)) {
      if (keyword_of(element) != kNotKeyword) return false;
      value = word_value(element);
    }
    if (!match::is_direct_literal(input_kind(), value)) return false;
    *literal = value;
    return true;
  }

  // --- Evaluation and events ----------------------------------------------------------------------

  // Evaluates a paren of the rules; false when it ended in a pending exit.
  bool evaluate(const Cell& paren, Cell* value) {
    Cell* slot = stack::top;
    interpreter::eval_block(paren, false);
    if (interpreter::exiting()) return false;
    if (value) *value = *slot;
    stack::top = slot;
    after_evaluation();
    return true;
  }

  void report(Event event) {
    if (has_callback_) call_callback(event);
  }

  void call_callback(Event event) {
    Cell arguments[5];
    arguments[0] = word::make_value(event_symbols[event], context::global(), -1);
    arguments[1] = logic::make(match_);
    arguments[2] = block_;
    series::set_index(&arguments[2], static_cast<uint32_t>(std::max<int64_t>(rule_, 0)));
    arguments[3] = input_;
    arguments[4] = rule_stack;
    series::set_index(&arguments[4], rule_base_);
    Cell answer = interpreter::call_value(callback_, arguments, 5);
    after_evaluation();
    if (!answer.is(TYPE_LOGIC) || logic::get(answer) == 0) throw StopRequested{};
  }

  // Sets a word of the rules (copy, set, collect set, set-words).
  static void set_word(const Cell& word, const Cell& value) {
    Cell target = word;
    context::set(&target, value);
  }

  // --- States -------------------------------------------------------------------------------------

  State start() {
    SeriesBuffer* b = input_buffer();
    if (b->cell_count() - input_base_ + 1 > kStackLimit) raise(ErrorId::script_parse_stack);
    *reinterpret_cast<Cell*>(alloc_tail_unit(&b, sizeof(Cell))) = input_;
    uint32_t tail = cell_count(block_);
    if (series::index_of(block_) > tail) series::set_index(&block_, tail);
    push_frame(none::value, positions(-1, input_index(), input_length()), block_);
    rule_ = int64_t{series::index_of(block_)} - 1;
    tail_ = tail;
    match_ = true;
    report(kPush);
    return State::kNext;
  }

  State next_rule() {
    ++rule_;
    if (rule_ >= tail_) return top_is_command() ? State::kComplete : State::kPopBlock;
    report(kFetch);
    return dispatch();
  }

  State result() const {
    if (top_is_command()) return State::kComplete;
    if (break_) return State::kPopBlock;
    return match_ ? State::kNext : State::kAlternative;
  }

  // The previous rule of the block failed: back to the input where the
  // block was entered, and on to the next alternative, if any.
  State alternative() {
    set_input_index(clamp_to_input(static_cast<uint32_t>(triple::second_of(top_frame()[1]))));
    SeriesBuffer* b = block::buffer_of(&block_);
    uint32_t tail = b->cell_count();
    for (int64_t i = std::max<int64_t>(rule_ + 1, series::index_of(block_)); i < tail; ++i) {
      if (keyword_of(b->cells()[i]) == kBar) {
        rule_ = i;
        match_ = true;
        return State::kNext;
      }
    }
    return State::kPopBlock;
  }

  void enter_block(const Cell& block) {
    push_frame(none::value, positions(rule_, input_index(), input_length()), block_);
    block_ = block;
    uint32_t tail = cell_count(block_);
    if (series::index_of(block_) > tail) series::set_index(&block_, tail);
    rule_ = int64_t{series::index_of(block_)} - 1;
    tail_ = tail;
    match_ = true;
    report(kPush);
  }

  State pop_block() {
    report(kPop);
    if (frame_count() <= 1) return State::kFinish;
    Cell* frame = top_frame();
    Cell resume = frame[1];
    block_ = frame[2];
    drop_frame();
    rule_ = triple::first_of(resume);
    reload_rules();
    return State::kResult;
  }

  Cell finish() {
    match_ = match_ && input_index() >= end();
    report(kEndEvent);
    if (!collected_.is(TYPE_NONE)) return collected_;
    return logic::make(match_);
  }

  // --- Dispatch -------------------------------------------------------------------------------------

  State dispatch() {
    Cell element = rule_at(rule_);
    if (element.is(TYPE_WORD)) {
      Keyword k = keyword_of(element);
      if (k != kNotKeyword && k < kOnly) return keyword(k, element);
      return dispatch_value(rule_value_of(element), element);
    }
    return dispatch_value(element, element);
  }

  // A rule value, given or fetched through a word (origin).
  State dispatch_value(const Cell& value, const Cell& origin) {
    switch (value.type()) {
      case TYPE_BLOCK:
        enter_block(value);
        return State::kNext;
      case TYPE_PAREN:
        if (!evaluate(value, nullptr)) return State::kExit;
        report(kParen);
        return State::kResult;
      case TYPE_DATATYPE:
      case TYPE_TYPESET:
        switch (input_kind()) {
          case InputKind::kText: raise(ErrorId::script_parse_unsupported);
          case InputKind::kBinary: match_ = match::datatype_in_binary(&input_, value, end()); break;
          case InputKind::kBlock: match_ = match::datatype_in_block(&input_, value, end()); break;
        }
        report(kMatch);
        return State::kResult;
      case TYPE_SET_WORD:
        set_word(value, input_);
        match_ = true;
        return State::kResult;
      case TYPE_GET_WORD: {
        Cell position = *context::get(&value);
        if (!same_series(position)) raise(ErrorId::script_parse_invalid_ref, &origin);
        set_input_index(clamp_to_input(series::index_of(position)));
        match_ = true;
        return State::kResult;
      }
      case TYPE_INTEGER:
        return count(value);
      case TYPE_PATH:
      case TYPE_SET_PATH:
      case TYPE_GET_PATH:
        raise(ErrorId::script_parse_rule, &origin);
      default:
        match_ = match::literal(&input_, value, mode_, end());
        report(kMatch);
        return State::kResult;
    }
  }

  // Raises parse-end when fewer than n elements follow the keyword.
  void need_following(const Cell& keyword_cell, int64_t n) {
    if (rule_ + n >= tail_) raise(ErrorId::script_parse_end, &keyword_cell);
  }

  State keyword(Keyword k, const Cell& word) {
    switch (k) {
      case kBar:
        // The alternative before it matched: the block is done. Right after
        // a command keyword it stands for an empty rule.
        match_ = true;
        return top_is_command() ? State::kResult : State::kPopBlock;
      case kSkip:
        match_ = input_index() < end();
        if (match_) set_input_index(input_index() + 1);
        report(kMatch);
        return State::kResult;
      case kAny:
        need_following(word, 1);
        return iterate(kIterateCommand, 0, -1);
      case kSome:
        need_following(word, 1);
        return iterate(kIterateCommand, 1, -1);
      case kOpt:
        need_following(word, 1);
        return iterate(kIterateCommand, 0, 1);
      case kWhile:
        need_following(word, 1);
        return iterate(kWhileCommand, 0, -1);
      case kCopy:
      case kSet: {
        need_following(word, 2);
        Cell target = rule_at(rule_ + 1);
        TypeId type = target.type();
        if (type < TYPE_WORD || type > TYPE_GET_WORD) raise(ErrorId::script_parse_rule, &target);
        ++rule_;
        push_frame(target, positions(rule_, input_index(), input_length()),
                   pair::make(k == kCopy ? kCopyCommand : kSetCommand, 0));
        return State::kNext;
      }
      case kTo:
      case kThru:
        return to_thru(k == kThru, word);
      case kBreak:
        break_ = true;
        match_ = true;
        return State::kResult;
      case kReject:
        break_ = true;
        match_ = false;
        return State::kResult;
      case kFail:
        match_ = false;
        report(kMatch);
        return State::kResult;
      case kNoneKeyword:
        match_ = true;
        return State::kResult;
      case kEnd:
        match_ = input_index() >= end();
        report(kMatch);
        return State::kResult;
      case kNot:
      case kAhead:
        need_following(word, 1);
        push_frame(none::value, positions(rule_, input_index(), input_length()),
                   pair::make(k == kNot ? kNotCommand : kAheadCommand, 0));
        return State::kNext;
      case kQuote: {
        need_following(word, 1);
        ++rule_;
        Cell value = rule_at(rule_);
        match_ = match::literal(&input_, value, mode_, end());
        report(kMatch);
        return State::kResult;
      }
      case kIf: {
        if (rule_ + 1 >= tail_ || !rule_at(rule_ + 1).is(TYPE_PAREN)) raise(ErrorId::script_parse_end, &word);
        ++rule_;
        Cell value;
        if (!evaluate(rule_at(rule_), &value)) return State::kExit;
        report(kParen);
        match_ = truthy(value);
        return State::kResult;
      }
      case kInto:
        return into(word);
      case kRemove:
        return remove(word);
      case kInsert:
        return insert(word);
      case kChange:
        return change(word);
      case kCase: {
        need_following(word, 2);
        ++rule_;
        Cell selector = rule_at(rule_);
        if (selector.is(TYPE_WORD)) selector = *context::get(&selector);
        push_frame(integer::make(mode_), positions(rule_, input_index(), input_length()),
                   pair::make(kCaseCommand, 0));
        mode_ = truthy(selector) && !selector.is(TYPE_UNSET) ? kCaseSensitive : kCaseInsensitive;
        return State::kNext;
      }
      case kCollect:
        return collect(word);
      case kKeep:
        return keep(word);
      default:
        return dispatch_value(rule_value_of(word), word);
    }
  }

  // An iteration over the rule after rule_: one loop when the rule is a
  // literal, else a command frame whose rounds re-run the rule.
  State iterate(Command command, int32_t minimum, int32_t maximum) {
    Cell literal;
    if (direct_literal(rule_at(rule_ + 1), &literal)) {
      ++rule_;
      match_ = match::repeat(&input_, literal, minimum, maximum, mode_, end());
      report(kMatch);
      return State::kResult;
    }
    push_frame(triple::make(minimum, maximum, 1), positions(rule_, input_index(), input_length()),
               pair::make(command, 0));
    return State::kNext;
  }

  // A count: n rule, or n m rule (from n to m rounds).
  State count(const Cell& value) {
    int32_t minimum = value.int_at2();
    if (minimum < 0) raise(ErrorId::script_out_of_range, &value);
    int32_t maximum = minimum;
    int64_t at = rule_ + 1;
    if (at >= tail_) raise(ErrorId::script_parse_rule, &value);
    Cell next = rule_at(at);
    if (next.is(TYPE_WORD) && keyword_of(next) == kNotKeyword) {
      Cell fetched = *context::get(&next);
      if (fetched.is(TYPE_INTEGER)) next = fetched;
    }
    if (next.is(TYPE_INTEGER)) {
      maximum = next.int_at2();
      if (maximum < minimum) raise(ErrorId::script_parse_rule, &next);
      ++at;
      if (at >= tail_) raise(ErrorId::script_parse_rule, &next);
    }
    rule_ = at - 1;
    if (maximum == 0) {
      rule_ = at;
      match_ = true;
      return State::kResult;
    }
    return iterate(kIterateCommand, minimum, maximum);
  }

  State to_thru(bool thru, const Cell& word) {
    need_following(word, 1);
    Cell target = rule_at(rule_ + 1);
    if (keyword_of(target) == kEnd) {
      ++rule_;
      set_input_index(end());
      match_ = true;
      report(kMatch);
      return State::kResult;
    }
    Cell literal;
    if (direct_literal(target, &literal)) {
      ++rule_;
      match_ = match::search(&input_, literal, mode_, end(), thru);
      report(kMatch);
      return State::kResult;
    }
    if (input_kind() == InputKind::kBinary && !target.is(TYPE_WORD) &&
        match::is_direct_literal(InputKind::kBlock, target) && !match::searchable_in_binary(target)) {
      raise(ErrorId::script_parse_rule, &target);
    }
    push_frame(integer::make(static_cast<int32_t>(input_index())),
               positions(rule_, input_index(), input_length()),
               pair::make(thru ? kThruCommand : kToCommand, 0));
    return State::kNext;
  }

  State into(const Cell& word) {
    if (input_kind() != InputKind::kBlock) {
      Cell type = datatype::make(input_.type());
      raise(ErrorId::script_parse_block, &type);
    }
    need_following(word, 1);
    Cell rule = rule_at(rule_ + 1);
    if (rule.is(TYPE_WORD) && keyword_of(rule) == kNotKeyword) rule = *context::get(&rule);
    if (!rule.is(TYPE_BLOCK)) raise(ErrorId::script_parse_end, &word);
    if (input_index() < end()) {
      Cell element = block::buffer_of(&input_)->cells()[input_index()];
      TypeId type = element.type();
      if (series::is_series_kind(type) && type != TYPE_VECTOR && type != TYPE_IMAGE) {
        push_frame(none::value, positions(rule_, input_index(), input_length()), pair::make(kIntoCommand, 0));
        push_input(element);
        return State::kNext;
      }
    }
    ++rule_;
    match_ = false;
    report(kMatch);
    return State::kResult;
  }

  // The position a word refers to when it is a position in the input
  // series, else -1.
  int64_t input_position_of(const Cell& cell) {
    if (!cell.is(TYPE_WORD) || keyword_of(cell) != kNotKeyword) return -1;
    Cell value = *context::get(&cell);
    if (!same_series(value)) return -1;
    return clamp_to_input(series::index_of(value));
  }

  State remove(const Cell& word) {
    need_following(word, 1);
    int64_t position = input_position_of(rule_at(rule_ + 1));
    if (position >= 0) {
      ++rule_;
      uint32_t from = std::min(static_cast<uint32_t>(position), input_index());
      uint32_t to = std::max(static_cast<uint32_t>(position), input_index());
      series::remove_units(&input_, from, to - from);
      set_input_index(from);
      reload_rules();
      match_ = true;
      return State::kResult;
    }
    push_frame(none::value, positions(rule_, input_index(), input_length()), pair::make(kRemoveCommand, 0));
    return State::kNext;
  }

  // The value of insert and change: a paren's result, a word's value, or
  // the element itself. False when the paren ended in a pending exit.
  bool insertion_value(int64_t at, Cell* value) {
    Cell element = rule_at(at);
    switch (element.type()) {
      case TYPE_PAREN:
        return evaluate(element, value);
      case TYPE_WORD:
        *value = *context::get(&element);
        if (value->is(TYPE_UNSET)) raise(ErrorId::script_no_value, &element);
        return true;
      case TYPE_PATH:
      case TYPE_SET_PATH:
      case TYPE_GET_PATH:
      case TYPE_UNSET:
        raise(ErrorId::script_parse_rule, &element);
      default:
        *value = element;
        return true;
    }
  }

  // Inserts the value at an absolute input position; answers how many
  // units went in.
  uint32_t insert_at(uint32_t position, const Cell& value, bool only) {
    Cell target = input_;
    series::set_index(&target, position);
    Cell inserted = value;
    uint32_t before = input_length();
    switch (input_kind()) {
      case InputKind::kBlock: block::insert_value(&target, &inserted, -1, only, 1, false); break;
      case InputKind::kText: string::insert_value(&target, &inserted, -1, only, 1, false); break;
      case InputKind::kBinary: binary::insert(&target, &inserted, -1, only ? 0 : -1, -1); break;
    }
    reload_rules();
    return input_length() - before;
  }

  // Replaces the input between two positions by the value; answers the
  // position after the new content.
  uint32_t replace(uint32_t from, uint32_t to, const Cell& value, bool only) {
    from = clamp_to_input(from);
    to = std::max(from, clamp_to_input(to));
    series::remove_units(&input_, from, to - from);
    return from + insert_at(from, value, only);
  }

  // insert and change may be followed by the keyword only: reads it into
  // *only and answers the rule index after it, where a value must follow.
  int64_t after_only_keyword(const Cell& word, bool* only) {
    int64_t at = rule_ + 1;
    *only = at < tail_ && keyword_of(rule_at(at)) == kOnly;
    if (*only) ++at;
    if (at >= tail_) raise(ErrorId::script_parse_end, &word);
    return at;
  }

  State insert(const Cell& word) {
    bool only = false;
    int64_t at = after_only_keyword(word, &only);
    Cell position_word = rule_at(at);
    bool positioned = at + 1 < tail_ && input_position_of(position_word) >= 0;
    if (positioned) ++at;
    Cell value;
    if (!insertion_value(at, &value)) return State::kExit;
    rule_ = at;
    uint32_t where = input_index();
    if (positioned) {
      int64_t position = input_position_of(position_word);
      if (position >= 0) where = static_cast<uint32_t>(position);
    }
    uint32_t added = insert_at(where, value, only);
    if (where <= input_index()) set_input_index(input_index() + added);
    match_ = true;
    return State::kResult;
  }

  State change(const Cell& word) {
    bool only = false;
    int64_t at = after_only_keyword(word, &only);
    Cell position_word = rule_at(at);
    if (at + 1 < tail_ && input_position_of(position_word) >= 0) {
      Cell value;
      if (!insertion_value(at + 1, &value)) return State::kExit;
      rule_ = at + 1;
      int64_t position = input_position_of(position_word);
      uint32_t mark = position >= 0 ? static_cast<uint32_t>(position) : input_index();
      set_input_index(replace(std::min(mark, input_index()), std::max(mark, input_index()), value, only));
      match_ = true;
      return State::kResult;
    }
    rule_ = at - 1;
    push_frame(none::value, positions(rule_, input_index(), input_length()), pair::make(kChangeCommand, only));
    return State::kNext;
  }

  State collect(const Cell& word) {
    need_following(word, 1);
    int64_t at = rule_ + 1;
    CollectMode mode = kCollectPlain;
    Cell target_word = none::value;
    Keyword option = keyword_of(rule_at(at));
    if (option == kSet || option == kInto || option == kAfter) {
      if (at + 2 >= tail_) raise(ErrorId::script_parse_end, &word);
      target_word = rule_at(at + 1);
      if (!target_word.is(TYPE_WORD)) raise(ErrorId::script_parse_rule, &target_word);
      mode = option == kSet ? kCollectSet : option == kInto ? kCollectInto : kCollectAfter;
      at += 2;
    }
    Cell target;
    if (mode == kCollectInto || mode == kCollectAfter) {
      target = *context::get(&target_word);
      bool compatible = input_kind() == InputKind::kBlock
                            ? series::is_block_kind(target.type())
                            : (series::is_text_kind(target.type()) || target.is(TYPE_BINARY));
      if (!compatible) raise(ErrorId::script_parse_into_type);
      if (series::node_of(target) == series::node_of(input_)) raise(ErrorId::script_parse_into_bad);
      uint32_t length = match::length_of(target);
      if (series::index_of(target) > length) series::set_index(&target, length);
    } else {
      block::make_at(&target, 8);
    }
    ++collect_depth_;
    rule_ = at - 1;
    push_frame(target, target_word, pair::make(kCollectCommand, mode));
    return State::kNext;
  }

  State keep(const Cell& word) {
    if (collect_depth_ == 0) raise(ErrorId::script_parse_keep);
    int64_t at = rule_ + 1;
    bool pick = false;
    if (at + 1 < tail_ && keyword_of(rule_at(at)) == kPick) {
      pick = true;
      ++at;
    }
    if (at >= tail_) raise(ErrorId::script_parse_end, &word);
    Cell rule = rule_at(at);
    if (rule.is(TYPE_PAREN)) {
      Cell value;
      if (!evaluate(rule, &value)) return State::kExit;
      report(kParen);
      rule_ = at;
      deliver(value, pick);
      match_ = true;
      return State::kResult;
    }
    Cell copy_word = none::value;
    if (keyword_of(rule) == kCopy && at + 1 < tail_) copy_word = rule_at(at + 1);
    rule_ = at - 1;
    push_frame(copy_word, positions(rule_, input_index(), input_length()), pair::make(kKeepCommand, pick));
    return State::kNext;
  }

  // Gives a kept value to the innermost open collect.
  void deliver(const Cell& value, bool pick) {
    SeriesBuffer* b = rule_buffer();
    uint32_t count = b->cell_count();
    for (uint32_t at = count; at >= rule_base_ + kFrameCells; at -= kFrameCells) {
      Cell last = b->cells()[at - 1];
      if (!last.is(TYPE_PAIR) || pair::x_of(last) != kCollectCommand) continue;
      Cell target = b->cells()[at - kFrameCells];
      bool at_tail = pair::y_of(last) != kCollectInto;
      match::keep(&target, value, pick, at_tail);
      rule_buffer()->cells()[at - kFrameCells] = target;  // re-read: keeping allocates
      reload_rules();
      return;
    }
  }

  // --- Completing commands ----------------------------------------------------------------------

  State pop_command() {
    report(kPop);
    drop_frame();
    return State::kResult;
  }

  State complete() {
    Cell* frame = top_frame();
    Cell argument = frame[0];
    Cell where = frame[1];
    Cell command = frame[2];
    int32_t flag = pair::y_of(command);
    uint32_t started = static_cast<uint32_t>(triple::second_of(where));
    switch (pair::x_of(command)) {
      case kIterateCommand:
      case kWhileCommand: {
        int32_t minimum = triple::first_of(argument), maximum = triple::second_of(argument);
        int32_t round = triple::third_of(argument);
        if (match_ && !break_ && (maximum < 0 || round < maximum)) {
          // A round that neither moved nor shrank the input would match the
          // same way every time: any, some and counts stop there, taking
          // the rounds left as matched, so an empty match never loops on
          // (while does not stop: its rule must change something itself).
          bool stalled = pair::x_of(command) == kIterateCommand && input_index() == started &&
                         input_length() >= static_cast<uint32_t>(triple::third_of(where));
          if (stalled) {
            break_ = false;
            return pop_command();
          }
          frame[0] = triple::make(minimum, maximum, round + 1);
          frame[1] = positions(triple::first_of(where), input_index(), input_length());
          rule_ = triple::first_of(where);
          report(kIterate);
          return State::kNext;
        }
        break_ = false;
        if (match_) {
          match_ = round >= minimum;
        } else {
          set_input_index(clamp_to_input(started));
          match_ = round - 1 >= minimum;
        }
        return pop_command();
      }
      case kToCommand:
      case kThruCommand:
        if (match_) {
          if (pair::x_of(command) == kToCommand) set_input_index(clamp_to_input(started));
        } else if (!break_ && started < end()) {
          frame[1] = positions(triple::first_of(where), started + 1, input_length());
          set_input_index(started + 1);
          rule_ = triple::first_of(where);
          report(kIterate);
          return State::kNext;
        } else {
          set_input_index(clamp_to_input(static_cast<uint32_t>(argument.int_at2())));
        }
        break_ = false;
        return pop_command();
      case kCopyCommand:
        if (match_) {
          uint32_t from = std::min(clamp_to_input(started), input_index());
          set_word(argument, series::copy_units(&input_, from, input_index() - from));
        }
        return pop_command();
      case kSetCommand:
        if (match_) {
          uint32_t from = clamp_to_input(started);
          set_word(argument, from < input_index() ? series::element_at(&input_, from) : none::value);
        }
        return pop_command();
      case kNotCommand:
        match_ = !match_;
        set_input_index(clamp_to_input(started));
        return pop_command();
      case kAheadCommand:
        set_input_index(clamp_to_input(started));
        return pop_command();
      case kIntoCommand: {
        bool matched = match_ && input_index() >= input_length();
        pop_input();
        set_input_index(clamp_to_input(started + (matched ? 1 : 0)));
        match_ = matched;
        return pop_command();
      }
      case kRemoveCommand:
        if (match_) {
          uint32_t from = std::min(clamp_to_input(started), input_index());
          series::remove_units(&input_, from, input_index() - from);
          set_input_index(from);
          reload_rules();
        }
        return pop_command();
      case kChangeCommand: {
        if (rule_ + 1 >= tail_) {
          Cell change_word = keyword_word(kChange);
          raise(ErrorId::script_parse_end, &change_word);
        }
        ++rule_;
        if (match_) {
          Cell value;
          if (!insertion_value(rule_, &value)) return State::kExit;
          set_input_index(replace(started, input_index(), value, flag != 0));
        }
        return pop_command();
      }
      case kCaseCommand:
        mode_ = argument.int_at2();
        return pop_command();
      case kCollectCommand: {
        --collect_depth_;
        State next = pop_command();
        series::set_index(&argument, 0);
        switch (flag) {
          case kCollectPlain:
            if (collect_depth_ > 0) deliver(argument, false);
            else if (collected_.is(TYPE_NONE)) collected_ = argument;
            break;
          case kCollectSet:
            set_word(where, argument);
            break;
          default:
            break;
        }
        return next;
      }
      case kKeepCommand:
        if (match_) keep_matched(argument, started, flag != 0);
        return pop_command();
      default:
        runtime::quit(101, KEL_CALLER_ADDRESS());  // a frame the engine never pushes
    }
  }

  // What keep takes from a matched rule: the value a copy rule set, or the
  // matched part (one element as itself, several as a copy); with pick,
  // each matched element one by one (a copy holds the same elements).
  void keep_matched(const Cell& copy_word, uint32_t started, bool pick) {
    if (!pick && (copy_word.is(TYPE_WORD) || copy_word.is(TYPE_SET_WORD))) {
      deliver(*context::get(&copy_word), pick);
      return;
    }
    uint32_t from = clamp_to_input(started);
    if (input_index() <= from) return;
    uint32_t count = input_index() - from;
    if (count == 1) {
      deliver(series::element_at(&input_, from), false);
    } else if (pick) {
      for (uint32_t i = 0; i < count && from + i < input_length(); ++i)
        deliver(series::element_at(&input_, from + i), false);
    } else {
      deliver(series::copy_units(&input_, from, count), false);
    }
  }

  Cell block_;
  int64_t rule_ = -1;
  uint32_t tail_ = 0;
  Cell input_;
  uint32_t input_depth_ = 0;
  bool match_ = true;
  bool break_ = false;
  int32_t mode_;
  int32_t collect_depth_ = 0;
  Cell collected_;
  bool has_limit_ = false;
  uint32_t limit_ = 0;
  Cell callback_;
  bool has_callback_;
  uint32_t rule_base_ = 0;
  uint32_t input_base_ = 0;
  Engine* outer_ = nullptr;
  bool released_ = false;
};

}  // namespace

void mark_engines() {
  for (Engine* engine = innermost; engine != nullptr; engine = engine->outer()) engine->mark();
}

void init() {
  if (initialised) return;
  initialised = true;
  for (uint32_t k = 1; k < kKeywordCount; ++k) keyword_symbols[k] = symbol::resolve(symbol::make(kKeywordNames[k]));
  for (uint32_t e = 0; e < kEventCount; ++e) event_symbols[e] = symbol::make(kEventNames[e]);
  block::make_at(&rule_stack, 100);
  block::make_at(&input_stack, 8);
  collector::add_global_root(&rule_stack);
  collector::add_global_root(&input_stack);
}

Cell process(const Cell& input, const Cell& rules, int32_t mode, bool has_limit, int64_t limit,
             const Cell* callback) {
  init();
  Engine engine(input, rules, mode, has_limit, limit, callback);
  return engine.run();
}

}  // namespace kel::parse
