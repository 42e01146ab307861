// The lexer's entry points, its buffers, the chain of active scans, the
// raising of syntax errors and the event callback (see lexer.h).
//
// Every scan runs inside an ActiveScan guard: constructing it links a state
// record at the end of the chain and gives it the buffer space above the
// enclosing scan; destroying it, however the scan ends, unlinks the record
// and returns the scratch space. Nothing a failed scan leaves behind can be
// seen by the next one.
#include "io/lexer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "io/lexer_internal.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "datatypes/runtime_words.h"
#include "runtime/string_units.h"
#include "runtime/series_tail.h"
#include "runtime/unicode.h"
#include "runtime/upcalls.h"
#include "runtime/collector.h"

namespace kel::lexer {

Cell* value_buffer = nullptr;
uint32_t value_capacity = 0;

namespace {

constexpr uint32_t kInitialValueCells = 1000;
// A buffer grown past this by one large load goes back to its first size
// when the outermost scan ends, so a big load holds no memory after it.
constexpr uint32_t kKeptValueCells = 65536;
constexpr uint32_t kScratchBytes = 100000;
// The quoted text of an error covers at most this many bytes of one line.
constexpr int32_t kNearTextBytes = 30;

State* outermost_scan = nullptr;
State* innermost_scan = nullptr;
uint32_t scan_count = 0;

uint8_t* scratch = nullptr;
uint32_t scratch_fill = 0;

Cell exit_states = make_cell(TYPE_NONE);

void allocate_buffers() {
  if (value_buffer != nullptr) return;
  value_buffer = static_cast<Cell*>(runtime::allocate(kInitialValueCells * sizeof(Cell)));
  value_capacity = kInitialValueCells;
  scratch = static_cast<uint8_t*>(runtime::allocate(kScratchBytes));
  scratch_fill = 0;
}

// Links a state record for the duration of one scan.
class ActiveScan {
 public:
  ActiveScan() : parent_(innermost_scan), scratch_mark_(scratch_fill) {
    state.parent = parent_;
    if (parent_ != nullptr) {
      parent_->next = &state;
      state.base = parent_->tail;
    } else {
      outermost_scan = &state;
      state.base = 0;
    }
    state.head = state.tail = state.base;
    innermost_scan = &state;
    ++scan_count;
  }
  ~ActiveScan() {
    if (parent_ != nullptr) {
      parent_->next = nullptr;
    } else {
      outermost_scan = nullptr;
      if (value_capacity > kKeptValueCells) {
        value_buffer = static_cast<Cell*>(runtime::resize(value_buffer, kInitialValueCells * sizeof(Cell)));
        value_capacity = kInitialValueCells;
      }
    }
    innermost_scan = parent_;
    scratch_fill = scratch_mark_;
    --scan_count;
  }
  ActiveScan(const ActiveScan&) = delete;
  ActiveScan& operator=(const ActiveScan&) = delete;

  State state;

 private:
  State* parent_;
  uint32_t scratch_mark_;
};

// The event mask of a callback: the event words of a block that opens its
// body, or every event.
uint32_t event_mask(const Cell& callback) {
  Cell first;
  if (upcalls::table.lexer_first_body_value == nullptr ||
      !upcalls::table.lexer_first_body_value(callback, &first) ||
      !first.is(TYPE_BLOCK)) {
    return kAllEvents;
  }
  const uint32_t names[] = {runtime_words::prescan, runtime_words::scan, runtime_words::load,
                            runtime_words::open, runtime_words::close, runtime_words::error};
  uint32_t mask = 0;
  SeriesBuffer* body = memory::buffer_of(first.data2);
  Cell* cell = body->cells() + first.data1;
  for (; cell < body->cells_tail(); ++cell) {
    if (!cell->is(TYPE_WORD)) continue;
    uint32_t symbol = symbol::resolve(cell->data2);
    for (uint32_t i = 0; i < 6; ++i) {
      if (symbol::resolve(names[i]) == symbol) mask |= 1u << i;
    }
  }
  return mask;
}

// The offset of a byte position from the start of the input, in characters
// for a text source (counted on from the last position asked for).
int32_t source_offset(State& s, const uint8_t* pos) {
  pos = std::clamp(pos, s.input_head, s.input_tail);
  if (!s.source_is_text) return static_cast<int32_t>(pos - s.input_head);
  if (s.counted_pos == nullptr) {
    s.counted_pos = s.input_head;
    s.counted_chars = 0;
  }
  if (pos >= s.counted_pos) {
    s.counted_chars += unicode::count_chars(s.counted_pos, pos);
  } else {
    s.counted_chars -= unicode::count_chars(pos, s.counted_pos);
  }
  s.counted_pos = pos;
  return s.counted_chars;
}

// The byte position of an offset (characters for a text source).
const uint8_t* source_position(State& s, int32_t offset) {
  if (offset <= 0) return s.input_head;
  if (!s.source_is_text) return s.input_head + std::min<int64_t>(offset, s.input_tail - s.input_head);
  return unicode::skip_chars(s.input_head, s.input_tail, offset);
}

// A string! of UTF-8 text (known to be well formed).
Cell make_text(const uint8_t* bytes, uint32_t length) {
  Cell cell;
  string::load(bytes, length, &cell, string::kEncodingUtf8);
  return cell;
}

// The text quoted by an error: whole code points from start, up to the end
// of the line or past 30 bytes.
Cell near_text(const State& s, const uint8_t* start) {
  const uint8_t* p = std::clamp(start, s.input_head, s.input_tail);
  const uint8_t* from = p;
  while (p < s.input_tail && *p != '\n' && p - from < kNearTextBytes) {
    const uint8_t* next;
    if (*p == 0 || decode_utf8(p, s.input_tail, &next) < 0) break;
    p = next;
  }
  return make_text(from, static_cast<uint32_t>(p - from));
}

Cell line_text(int32_t line) {
  std::string text = "(line " + std::to_string(line) + ")";
  return make_text(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
}

// Delivers the scan's values: one value, or a block of them, into the
// result or appended to the target.
void deliver(State& s, Cell* result, const ScanOptions& options) {
  uint32_t count = s.tail - s.base;
  if (options.single_token && !options.keep_block && count >= 1) {
    Cell value = *cell_at(s.base);
    if (options.target != nullptr) {
      append_value(options.target, value);
    } else if (result != nullptr) {
      *result = value;
    }
    return;
  }
  if (options.target != nullptr) {
    for (uint32_t i = 0; i < count; ++i) {
      Cell value = *cell_at(s.base + i);
      append_value(options.target, value);
    }
    return;
  }
  if (result == nullptr) return;
  NodeId node = memory::alloc_cells(count == 0 ? 1 : count);
  SeriesBuffer* buffer = memory::buffer_of(node);
  if (count > 0) std::memcpy(buffer->head_ptr(), cell_at(s.base), size_t{count} * sizeof(Cell));
  buffer->tail = buffer->offset + count * static_cast<uint32_t>(sizeof(Cell));
  *result = block::make_value(node);
}

}  // namespace

// --- Buffers ------------------------------------------------------------------------------

void grow_value_buffer() {
  uint64_t capacity = std::max<uint64_t>(uint64_t{value_capacity} * 2, kInitialValueCells);
  if (capacity > (uint64_t{1} << 31) / sizeof(Cell)) fire(ErrorId::internal_no_memory);
  value_buffer = static_cast<Cell*>(runtime::resize(value_buffer, capacity * sizeof(Cell)));
  value_capacity = static_cast<uint32_t>(capacity);
}

uint32_t active_scans() { return scan_count; }

void mark_buffers(MarkCell mark) {
  mark(exit_states);
  for (State* s = outermost_scan; s != nullptr; s = s->next) {
    for (uint32_t i = s->base; i < s->tail; ++i) {
      const Cell& cell = *cell_at(i);
      if (!is_marker(cell)) mark(cell);
    }
    if (s->has_source) mark(s->source);
    if (s->has_callback) mark(s->callback);
  }
}


void set_exit_states(const Cell& block) { exit_states = block; }

// --- UTF-8 and blanks --------------------------------------------------------------------

int32_t decode_utf8(const uint8_t* p, const uint8_t* end, const uint8_t** next) {
  uint32_t byte = *p++;
  if (byte < 0x80) {
    *next = p;
    return static_cast<int32_t>(byte);
  }
  uint32_t byte_class = unicode::kUtf8Dfa[byte];
  uint32_t state = unicode::kUtf8Dfa[256 + byte_class];
  uint32_t value = (0xFFu >> byte_class) & byte;
  while (state != unicode::kUtf8Accept) {
    if (state == unicode::kUtf8Reject || p >= end) {
      *next = p;
      return -1;
    }
    byte = *p;
    state = unicode::kUtf8Dfa[256 + state + unicode::kUtf8Dfa[byte]];
    if (state == unicode::kUtf8Reject) {
      *next = p;
      return -1;
    }
    value = (byte & 0x3Fu) | (value << 6);
    ++p;
  }
  *next = p;
  return static_cast<int32_t>(value);
}

bool is_wide_blank(uint32_t code_point) {
  switch (code_point) {
    case 0x0085: case 0x00A0: case 0x1680: case 0x180E: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return code_point >= 0x2000 && code_point <= 0x200B;
  }
}

const uint8_t* skip_blanks(State& s, const uint8_t* start, const uint8_t* end, int32_t code) {
  const uint8_t* p = start;
  while (p < end && *p >= 0x80) {
    const uint8_t* next;
    int32_t code_point = decode_utf8(p, end, &next);
    if (code_point < 0) throw_error(s, start, end, code);
    if (!is_wide_blank(static_cast<uint32_t>(code_point))) break;
    p = next;
  }
  return p;
}

// --- Errors -----------------------------------------------------------------------------

void throw_error(State& s, const uint8_t* start, const uint8_t* end, int32_t code) {
  if (!s.strict) {
    s.type = TYPE_ERROR;
    throw Stop{};
  }
  if (start == nullptr) {
    Cell* marker = innermost_marker(s);
    start = marker != nullptr ? marker_opening(s, *marker) : s.input_head;
  }
  if (s.has_callback) {
    TypeId type = code > 0                ? static_cast<TypeId>(code)
                  : s.open_type != 0      ? s.open_type
                  : s.type != 0           ? s.type
                  : s.type_override > 0   ? static_cast<TypeId>(s.type_override)
                                          : TYPE_ERROR;
    if (!fire_event(s, kEventError, static_cast<int32_t>(type), nullptr, start, end)) {
      s.type = TYPE_ERROR;
      throw Stop{};
    }
  }
  Cell near = near_text(s, start);
  // The line the scan has reached, which for an error at the end of the
  // input (an unclosed block or string) is the last line.
  Cell line = line_text(s.line);
  TypeId open_type = s.open_type;
  s.open_type = 0;
  if (is_path_type(open_type)) code = kBadChar;
  switch (code) {
    case kBadChar:
      fire(ErrorId::syntax_bad_char, &line, &near);
    case kMalformedConstruct:
      fire(ErrorId::syntax_malconstruct, &line, &near);
    case kMissingHere:
    case kMissingAtEnd: {
      uint32_t at = '_';
      if (code == kMissingHere) {
        const uint8_t* p = s.input_pos < s.input_tail ? s.input_pos : s.input_pos - 1;
        at = p >= s.input_head ? *p : 0;
      }
      uint32_t missing = 0;
      if (open_type == TYPE_BLOCK || open_type == TYPE_MAP) missing = at == ']' ? '[' : ']';
      if (open_type == TYPE_PAREN || open_type == TYPE_POINT2D || open_type == TYPE_POINT3D) {
        missing = at == ')' ? '(' : ')';
      }
      Cell character = character::make(missing);
      fire(ErrorId::syntax_missing, &line, &character, &near);
    }
    default: {
      Cell type = datatype::make(static_cast<TypeId>(code));
      fire(ErrorId::syntax_invalid, &line, &type, &near);
    }
  }
}

// --- Events ------------------------------------------------------------------------------

bool fire_event(State& s, Event event, int32_t type_code, Cell* value, const uint8_t* start,
                const uint8_t* end) {
  if (!s.has_callback) return true;
  // The error token reports itself as an error, whatever event found it.
  if (event == kEventScan && type_code == -(kEntryError + 1)) {
    event = kEventError;
    type_code = TYPE_ERROR;
  }
  if ((s.events & event) == 0) return true;
  if (event == kEventPrescan && type_code == -(kEntryParenOpen + 1) && end != nullptr &&
      end < s.input_tail && point_ahead(s, end + 1)) {
    return true;
  }
  if (event == kEventError && type_code == TYPE_ERROR && s.start_state == kBraceStringState &&
      s.open_pos != nullptr) {
    start = s.open_pos;
  }
  // A point's span covers its parentheses.
  if (type_code == static_cast<int32_t>(TYPE_POINT2D) || type_code == static_cast<int32_t>(TYPE_POINT3D)) {
    if (event == kEventScan) --start;
    if (type_code == static_cast<int32_t>(TYPE_POINT2D)) {
      --start;
      ++end;
    }
  }
  if (end == nullptr) end = start;
  start = std::clamp(start, s.input_head, s.input_tail);
  end = std::clamp(end, start, s.input_tail);

  uint32_t event_word = runtime_words::prescan;
  switch (event) {
    case kEventPrescan: event_word = runtime_words::prescan; break;
    case kEventScan: event_word = runtime_words::scan; break;
    case kEventLoad: event_word = runtime_words::load; break;
    case kEventOpen: event_word = runtime_words::open; break;
    case kEventClose: event_word = runtime_words::close; break;
    case kEventError: event_word = runtime_words::error; break;
  }
  Cell arguments[5];
  word::make_at(event_word, &arguments[0]);

  bool at_start = (event == kEventPrescan && type_code < 0) || event == kEventOpen;
  int32_t start_offset = source_offset(s, start);
  int32_t end_offset = source_offset(s, end);
  int32_t reported = at_start ? start_offset : end_offset;
  arguments[1] = s.source;
  arguments[1].data1 = s.source.data1 + static_cast<uint32_t>(reported);

  if (type_code == 0) {
    arguments[2] = make_cell(TYPE_NONE);
  } else if (type_code > 0) {
    arguments[2] = datatype::make(static_cast<TypeId>(type_code));
  } else {
    arguments[2] = make_cell(TYPE_NONE);
    uint32_t position = static_cast<uint32_t>(-type_code - 1);
    if (exit_states.is(TYPE_BLOCK)) {
      SeriesBuffer* states = memory::buffer_of(exit_states.data2);
      if (exit_states.data1 + position < states->cell_count()) {
        arguments[2] = states->cells()[exit_states.data1 + position];
      }
    }
  }
  arguments[3] = integer::make(s.line);
  if (value != nullptr) {
    arguments[4] = *value;
  } else {
    arguments[4] = pair::make(start_offset + 1, end_offset + 1);
  }

  Cell callback = s.callback;
  bool answer = upcalls::table.lexer_callback(callback, arguments);
  // A callback that moved its input moves the scan.
  if (arguments[1].type() == s.source.type() && arguments[1].data2 == s.source.data2 &&
      arguments[1].data1 != s.source.data1 + static_cast<uint32_t>(reported)) {
    int32_t offset = static_cast<int32_t>(arguments[1].data1) - static_cast<int32_t>(s.source.data1);
    s.input_pos = source_position(s, offset);
    s.resumed_by_callback = true;
    // Scanning resumes as ordinary text: a braced string or a point being
    // read is abandoned (else an error reported at the string's opening
    // brace would bring the scan back to it for ever).
    s.brace_depth = 0;
    s.open_pos = nullptr;
    s.brace_flags = 0;
    if (s.start_state == kBraceStringState || s.start_state == kPointState) s.start_state = resume_state(s);
  }
  return answer;
}

// --- Entry points ---------------------------------------------------------------------------

TypeId scan(Cell* result, const uint8_t* bytes, uint32_t length, const ScanOptions& options,
            int32_t* position) {
  if (options.callback != nullptr && upcalls::table.lexer_callback == nullptr) fire(ErrorId::internal_feature_na);
  allocate_buffers();
  ActiveScan active;
  State& s = active.state;
  s.input_head = bytes;
  s.input_pos = bytes;
  s.input_tail = bytes + length;
  s.strict = options.load && options.output;
  if (options.callback != nullptr) {
    s.has_callback = true;
    s.callback = *options.callback;
    s.events = event_mask(s.callback);
  }
  if (options.source != nullptr) {
    s.has_source = true;
    s.source = *options.source;
    s.source_is_text = string::is_string_like(s.source.type());
  } else {
    s.source = make_cell(TYPE_NONE);
  }
  auto report_position = [&] {
    if (position != nullptr) {
      const uint8_t* reached = std::clamp(s.input_pos, s.input_head, s.input_tail);
      *position = s.source_is_text ? unicode::count_chars(s.input_head, reached)
                                   : static_cast<int32_t>(reached - s.input_head);
    }
  };

  try {
    scan_tokens(s, options.single_token, !options.load);
    if (s.tail > s.base) {
      Cell* marker = innermost_marker(s);
      if (!options.load && s.start_state == kPathElementState && s.type != TYPE_ERROR && marker != nullptr) {
        s.type = marker_type(*marker);
      } else if (marker != nullptr) {
        s.open_type = marker_type(*marker);
        throw_error(s, marker_opening(s, *marker), s.input_tail, kMissingAtEnd);
      }
    }
  } catch (const Stop&) {
    // A non-strict scan met an error: it ends quietly.
    report_position();
    if (result != nullptr && options.output && options.target == nullptr) *result = make_cell(TYPE_NONE);
    return TYPE_ERROR;
  } catch (...) {
    report_position();
    throw;
  }
  // A callback that refused an error ended the scan quietly.
  if (s.type == TYPE_ERROR) {
    report_position();
    if (result != nullptr && options.output && options.target == nullptr) *result = make_cell(TYPE_NONE);
    return TYPE_ERROR;
  }
  // A scan that only finds datatypes builds nothing worth delivering.
  if (options.output && options.load) deliver(s, result, options);
  report_position();
  return s.type;
}

TypeId scan_string(Cell* result, const Cell* string, int32_t length, const ScanOptions& options,
                   int32_t* position) {
  allocate_buffers();
  uint32_t available = string::rs_length(string);
  uint32_t count = length < 0 ? available : std::min<uint32_t>(available, static_cast<uint32_t>(length));
  uint32_t unit = string::buffer_of(string)->unit();
  uint64_t room = uint64_t{count} * (unit == 1 ? 2 : unit == 2 ? 3 : 4);

  // The text goes into the scratch buffer after its fill mark (a nested
  // scan stacks its text above the enclosing one's), or into a buffer of
  // its own when it does not fit.
  uint32_t mark = scratch_fill;
  uint8_t* own = nullptr;
  uint8_t* text;
  if (room <= kScratchBytes - mark) {
    text = scratch + mark;
  } else {
    own = static_cast<uint8_t*>(runtime::allocate(static_cast<size_t>(room) + 1));
    text = own;
  }
  struct Release {
    uint8_t* own;
    uint32_t mark;
    ~Release() {
      if (own != nullptr) runtime::free(own);
      scratch_fill = mark;
    }
  } release{own, mark};

  uint32_t bytes = static_cast<uint32_t>(unicode::write_utf8(string, text, static_cast<int32_t>(count)));
  if (own == nullptr) scratch_fill = mark + bytes;
  ScanOptions with_source = options;
  with_source.source = string;
  return scan(result, text, bytes, with_source, position);
}

Cell* load(Cell* result, const uint8_t* bytes, uint32_t length) {
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    bytes += 3;
    length -= 3;
  }
  ScanOptions options;
  scan(result, bytes, length, options);
  return result;
}

namespace {

bool only_blanks(const uint8_t* p, const uint8_t* end) {
  for (; p < end; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  }
  return true;
}

// The word datatype's view of the lexer: the datatype of a text that is
// exactly one value, and optionally that value.
TypeId scan_one_value(std::string_view text, Cell* out) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  auto length = static_cast<uint32_t>(text.size());
  ScanOptions check;
  check.single_token = true;
  check.output = false;
  int32_t reached = 0;
  TypeId type = scan(nullptr, bytes, length, check, &reached);
  if (type == 0 || type == TYPE_ERROR || !only_blanks(bytes + reached, bytes + length)) return 0;
  if (out == nullptr) return type;
  ScanOptions build;
  build.single_token = true;
  stack::Guard guard;
  stack::mark_try(nullptr);
  try {
    scan(out, bytes, length, build);
  } catch (const exits::Unwind& unwind) {
    if (unwind.code != exits::kError) throw;
    runtime::system().exit_code = 0;
    return 0;
  }
  return type;
}

}  // namespace

void init() {
  allocate_buffers();
  upcalls::table.scan_word = scan_one_value;
  upcalls::table.load_source = [](Cell* result, const Cell* text) {
    Cell source = *text;
    scan_string(result, &source, -1, ScanOptions{});
  };
  upcalls::table.mark_lexer_roots = [] { mark_buffers([](const Cell& c) { collector::mark_value(c); }); };
}

}  // namespace kel::lexer
