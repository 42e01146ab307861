// The scan loop and the structural scanners.
//
// scan_tokens runs the automaton from the record's start state over the
// input until a final state names a token, then hands the token to its
// entry's scanner and loader. The inner loop touches three tables per byte
// and nothing else; everything costly (markers, values, events) happens
// once per token. Scanners open and close series as marker cells in the
// value buffer (lexer_internal.h), collect braced strings across their
// nested braces, read paths element by element, and classify words.
//
// Each handler sets input_pos to where the next token starts: the automaton
// never consumes the byte that led into the final state, so a handler whose
// token includes that byte (a bracket, a closing quote) moves past it.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "io/lexer_internal.h"
#include "runtime/memory.h"

namespace kel::lexer {

namespace {

// Runs a handler; true when it signalled a stop.
template <class Body>
bool stops(Body&& body) {
  try {
    body();
    return false;
  } catch (const Stop&) {
    return true;
  }
}

// A stop that leaves the type error! ends the scan, unless the callback
// moved the input to go on elsewhere.
bool error_ends_scan(const State& s) { return s.type == TYPE_ERROR && !s.resumed_by_callback; }

constexpr bool is_path_delimiter(uint32_t char_class) {
  switch (char_class) {
    case kClassBlank: case kClassLineFeed: case kClassBlockOpen: case kClassBlockClose:
    case kClassParenOpen: case kClassParenClose: case kClassBraceOpen: case kClassQuote:
    case kClassColon: case kClassLess: case kClassSemicolon: case kClassWordLetter:
    case kClassNeverUtf8: case kClassEnd:
      return true;
    default:
      return false;
  }
}

// Tokens whose last byte is the one that led the automaton into their
// final state: brackets, a closing quote, brace or parenthesis, "%", ">".
bool ends_with_final_byte(uint32_t entry, const uint8_t* start) {
  switch (entry) {
    case kEntryBlockOpen: case kEntryBlockClose: case kEntryParenOpen: case kEntryParenClose:
    case kEntryBraceOpen: case kEntryBraceClose: case kEntryMapOpen: case kEntryConstruct:
    case kEntryComma: case kEntryString: case kEntryChar: case kEntryBinary: case kEntryPercent:
    case kEntryPoint: case kEntryTag:
      return true;
    case kEntryFile:
      return start[1] == '"';
    default:
      return false;
  }
}

// The bytes a point literal may hold between "(" and its first ",".
constexpr bool in_point_set(uint8_t byte) {
  switch (byte) {
    case '\t': case ' ': case '#': case '+': case '-': case '.':
    case 'A': case 'E': case 'F': case 'I': case 'N': case 'a': case 'e': case 'f': case 'i': case 'n':
      return true;
    default:
      return byte >= '0' && byte <= '9';
  }
}

}  // namespace

// --- The scan loop ------------------------------------------------------------------

void scan_tokens(State& s, bool single_token, bool no_load) {
  const uint8_t* const input_end = s.input_tail;
  while (s.input_pos < input_end) {
    // Run the automaton over one token.
    const uint8_t* const begin = s.input_pos;
    const uint8_t* p = begin;
    uint32_t state = s.start_state;
    uint32_t previous = state;
    uint32_t token_flags = 0;
    int32_t line = s.line;
    uint32_t skipped = 0;
    while (p < input_end) {
      uint32_t entry = kCharClasses[*p];
      uint32_t char_class = entry & token_flags::kClassMask;
      previous = state;
      state = kTransitions[state * kClassCount + char_class];
      if (state >= kFirstFinalState) break;
      token_flags |= entry;
      skipped += kSkip[state];
      line += kLineFeeds[char_class];
      ++p;
    }
    if (p >= input_end) {
      previous = state;
      state = kTransitions[state * kClassCount + kClassEnd];
    }
    token_flags &= ~token_flags::kClassMask;

    const uint8_t* start = begin + skipped;
    s.token_lines = line - s.line;
    s.new_line = skipped != 0 && std::memchr(begin, '\n', skipped) != nullptr;
    s.line = line;
    s.line_at_token_end = line;
    s.input_pos = p;
    s.token_end = p;
    s.last_state = static_cast<uint8_t>(previous);
    s.type_override = -1;
    s.type = kStateTypes[state];
    s.resumed_by_callback = false;
    uint32_t entry = state - kFirstFinalState;

    // Blanks beyond ASCII before a word are no part of it.
    if (entry == kEntryWord && (token_flags & token_flags::kNonAscii) != 0) {
      if (stops([&] { start = skip_blanks(s, start, p, TYPE_WORD); })) return;
      if (start == p) {
        if (p < input_end) continue;
        s.type = 0;
        scan_end(s, start, p, token_flags, 0);
        break;
      }
    }

    // A quick scan checks each token (which also moves past the delimiter
    // that ends it) and builds nothing but the structure.
    bool scanned = false;
    if (no_load) {
      Handler check = entry <= kEntryIssue ? kScanners[entry] : kLoaders[entry];
      if (check != nullptr && stops([&] { check(s, start, p, token_flags, 0); })) return;
      scanned = true;
    }

    bool go_on = !s.has_callback
                     ? !no_load
                     : s.start_state == kBraceStringState ||
                           fire_event(s, kEventPrescan,
                                      s.type != 0 ? static_cast<int32_t>(s.type) : -static_cast<int32_t>(entry + 1),
                                      nullptr, start, p);
    // Values that nobody receives are not built: a check delivers none,
    // unless a callback asks to see them.
    bool load = (!single_token || s.strict) && (s.strict || wants(s, kEventLoad));
    if (go_on && !scanned) {
      bool stopped = false;
      if (entry >= kEntryString) {
        Handler scanner = kScanners[entry];
        // A strict quoted string skips its check: the loader checks as it decodes.
        bool check = !s.strict || wants(s, kEventScan) || (scanner != nullptr && entry != kEntryString);
        if (check) {
          stopped = stops([&] {
            if (scanner != nullptr) {
              scanner(s, start, p, token_flags, 0);
            } else {
              kLoaders[entry](s, start, p, token_flags, 0);
            }
          });
          if (stopped && error_ends_scan(s)) return;
          if (s.has_callback) {
            load = !stopped && fire_event(s, kEventScan, static_cast<int32_t>(s.type), nullptr, start, s.input_pos);
          }
        }
      } else {
        stopped = stops([&] { kScanners[entry](s, start, s.token_end, token_flags, s.strict ? 1 : 0); });
        if (stopped && (!load || error_ends_scan(s))) return;
      }
      if (load && kLoaders[entry] != nullptr && !(stopped && s.resumed_by_callback)) {
        uint32_t before = s.tail;
        stopped = stops([&] { kLoaders[entry](s, start, s.token_end, token_flags, 1); });
        if (stopped && error_ends_scan(s)) return;
        if (!stopped && s.has_callback && s.tail > before) {
          Cell* cell = cell_at(s.tail - 1);
          if (!fire_event(s, kEventLoad, static_cast<int32_t>(s.type), cell, start, s.input_pos)) s.tail = before;
        }
      }
    }

    // A token the callback passed over is skipped whole, with the byte that
    // ends it when that byte belongs to it (the automaton did not consume it).
    if (!go_on && !scanned && p < input_end && ends_with_final_byte(entry, start)) s.input_pos = p + 1;

    // After an element of a path: the path goes on or ends here.
    if (s.start_state == kPathElementState && state != kPathStartFinal && state != kErrorFinal) {
      if (stops([&] { scan_path_element(s, start, s.input_pos, token_flags, load); }) && error_ends_scan(s)) {
        return;
      }
    }

    // One value is enough in single-token and quick scans.
    if ((single_token || no_load) && s.type > 0 && s.start_state != kPathElementState &&
        s.start_state != kBraceStringState && state != kPathStartFinal) {
      uint32_t count = s.tail - s.base;
      if (count == 0 || (count == 1 && !is_marker(*cell_at(s.base)))) return;
    }
    s.last_type = s.type;
    // Every handler moves on; a position that did not (a callback that put
    // it back) must not spin forever.
    if (s.input_pos <= begin && !s.resumed_by_callback) break;
  }
  if (s.start_state == kBraceStringState && s.type == 0) throw_error(s, s.open_pos, s.input_tail, TYPE_STRING);
}

// --- Series --------------------------------------------------------------------------

void open_series(State& s, TypeId type, const uint8_t* opening) {
  Cell* inner = innermost_marker(s);
  if (inner != nullptr && marker_commas(*inner) > 0) throw_error(s, nullptr, opening + 1, TYPE_POINT2D);
  if (wants(s, kEventOpen) && !fire_event(s, kEventOpen, static_cast<int32_t>(type), nullptr, opening, opening + 1)) {
    return;
  }
  uint32_t enclosing_head = s.head;
  Cell* marker = grow(s);
  marker->set_type(kMarkerType);
  marker->data1 = enclosing_head;
  marker->data2 = type;
  marker->data3 = static_cast<uint32_t>(opening - s.input_head);
  s.head = s.tail;
  s.start_state = kStartState;
}

void close_series(State& s, TypeId type, const uint8_t* at) {
  Cell* marker = innermost_marker(s);
  TypeId open = marker != nullptr ? marker_type(*marker) : 0;
  bool fits = open == type || (type == TYPE_BLOCK && open == TYPE_MAP) ||
              (type == TYPE_SET_PATH && open == TYPE_PATH) ||
              (type == TYPE_PAREN && (open == TYPE_POINT2D || open == TYPE_POINT3D));
  if (!fits) {
    s.open_type = marker != nullptr ? open : type;
    throw_error(s, marker != nullptr ? nullptr : at, at + 1, kMissingHere);
  }
  const uint8_t* opening = marker_opening(s, *marker);
  if (wants(s, kEventClose) && !fire_event(s, kEventClose, static_cast<int32_t>(type), nullptr, opening, at + 1)) {
    return;
  }
  marker = innermost_marker(s);
  uint32_t index = s.head - 1;
  uint32_t enclosing_head = marker->data1;
  uint32_t count = s.tail - s.head;
  uint32_t new_line = marker->header & flags::kNewLine;
  TypeId result = type == TYPE_SET_PATH ? TYPE_SET_PATH : open;

  if (result == TYPE_MAP && s.strict) {
    // Every key needs its value, and each key must be of a key type.
    bool keys_allowed = count % 2 == 0;
    for (uint32_t i = 0; keys_allowed && i < count; i += 2) keys_allowed = map_key_allowed(cell_at(s.head + i)->type());
    Cell map = make_cell(TYPE_NONE);
    if (!keys_allowed || !make_map(&map, cell_at(s.head), count)) throw_error(s, opening, at + 1, TYPE_MAP);
    *cell_at(index) = map;
  } else if (result == TYPE_POINT2D || result == TYPE_POINT3D) {
    // A paren of expressions separated by commas: the point datatype
    // builds it from the values.
    throw_error(s, opening, at + 1, result);
  } else if (!s.strict) {
    // A check delivers no values: the series needs no buffer of its own.
    *cell_at(index) = make_cell(TYPE_NONE);
  } else {
    NodeId node = memory::alloc_cells(count == 0 ? 1 : count);
    SeriesBuffer* buffer = memory::buffer_of(node);
    if (count > 0) std::memcpy(buffer->head_ptr(), cell_at(s.head), size_t{count} * sizeof(Cell));
    buffer->tail = buffer->offset + count * static_cast<uint32_t>(sizeof(Cell));
    *cell_at(index) = block::make_value(node, 0, result);
  }
  cell_at(index)->header |= new_line;
  s.head = enclosing_head;
  s.tail = index + 1;
  s.type = result;
  s.start_state = resume_state(s);
}

bool point_ahead(const State& s, const uint8_t* after_paren) {
  if (s.input_tail - after_paren < 3) return false;
  for (const uint8_t* p = after_paren; p < s.input_tail; ++p) {
    if (!in_point_set(*p)) return *p == ',';
  }
  return true;
}

// --- Structural scanners ---------------------------------------------------------------

void scan_end(State& s, const uint8_t*, const uint8_t*, uint32_t, int) { s.input_pos = s.input_tail; }

void scan_error(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  uint8_t last = s.last_state;
  // A raw string stopped at a "}" with too few "%" after it: its loader
  // looks further for the real end.
  if ((last == kRawStringBodyState || last == kRawStringCloseState || last == kRawStringPercentState) &&
      *start == '%') {
    s.type = TYPE_STRING;
    load_raw_string(s, start, end, flags, mode);
    return;
  }
  if (s.start_state == kBraceStringState) throw_error(s, s.open_pos, end, TYPE_STRING);
  TypeId type = kStateTypes[last];
  if (type == 0) throw_error(s, start, end, kBadChar);
  bool series = type == TYPE_BLOCK || type == TYPE_PAREN || is_path_type(type);
  throw_error(s, series ? nullptr : start, end, static_cast<int32_t>(type));
}

void scan_series_open(State& s, const uint8_t*, const uint8_t* end, uint32_t, int) {
  if (*end == '(' && point_ahead(s, end + 1)) {
    // The automaton reads the whole "(x, y)" as one point token.
    s.opening_new_line = s.new_line;
    s.type = 0;
    s.start_state = kPointState;
    s.input_pos = end + 1;
    return;
  }
  open_series(s, *end == '[' ? TYPE_BLOCK : TYPE_PAREN, end);
  s.input_pos = end + 1;
}

void scan_block_close(State& s, const uint8_t*, const uint8_t* end, uint32_t, int) {
  s.input_pos = end + 1;
  close_series(s, TYPE_BLOCK, end);
}

void scan_paren_close(State& s, const uint8_t*, const uint8_t* end, uint32_t, int) {
  s.input_pos = end + 1;
  close_series(s, TYPE_PAREN, end);
}

void scan_map_open(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int) {
  if (*start != '#') throw_error(s, start, end + 1, TYPE_MAP);
  open_series(s, TYPE_MAP, start);
  s.input_pos = end + 1;
}

void scan_comma(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int) {
  Cell* marker = innermost_marker(s);
  TypeId type = marker != nullptr ? marker_type(*marker) : 0;
  if (type == TYPE_PAREN) {
    marker->data2 = TYPE_POINT2D | (1u << 16);
  } else if (type == TYPE_POINT2D) {
    marker->data2 = TYPE_POINT3D | (2u << 16);
  } else {
    throw_error(s, start, end + 1, type == TYPE_POINT3D ? TYPE_POINT3D : TYPE_POINT2D);
  }
  s.input_pos = end + 1;
}

void scan_brace_open(State& s, const uint8_t*, const uint8_t* end, uint32_t flags, int) {
  if (s.brace_depth == 0) {
    if (wants(s, kEventOpen)) fire_event(s, kEventOpen, TYPE_STRING, nullptr, end, end + 1);
    s.open_pos = end;
    s.opening_new_line = s.new_line;
  }
  ++s.brace_depth;
  s.brace_flags |= flags | (s.token_lines > 0 ? token_flags::kSpansLines : 0);
  s.start_state = kBraceStringState;
  s.input_pos = end + 1;
}

void scan_brace_close(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  --s.brace_depth;
  s.brace_flags |= flags | (s.token_lines > 0 ? token_flags::kSpansLines : 0);
  if (s.brace_depth > 0) {
    if (end + 1 >= s.input_tail) throw_error(s, s.open_pos, end + 1, TYPE_STRING);
    s.input_pos = end + 1;
    return;
  }
  const uint8_t* opening = s.open_pos;
  uint32_t string_flags = s.brace_flags;
  if (wants(s, kEventClose)) fire_event(s, kEventClose, TYPE_STRING, nullptr, opening, end + 1);
  s.open_pos = nullptr;
  s.brace_flags = 0;
  s.start_state = resume_state(s);
  s.input_pos = end + 1;
  s.new_line = s.opening_new_line;
  s.type = TYPE_STRING;
  (void)start;
  if (mode != 0) {
    if (wants(s, kEventScan) && !fire_event(s, kEventScan, TYPE_STRING, nullptr, opening, end + 1)) return;
    uint32_t before = s.tail;
    load_text(s, opening, opening + 1, end, string_flags, TYPE_STRING, true, true, TYPE_STRING);
    if (wants(s, kEventLoad) && !fire_event(s, kEventLoad, TYPE_STRING, cell_at(s.tail - 1), opening, end + 1)) {
      s.tail = before;
    }
  } else {
    load_text(s, opening, opening + 1, end, string_flags, TYPE_STRING, true, false, TYPE_STRING);
    if (wants(s, kEventScan)) fire_event(s, kEventScan, TYPE_STRING, nullptr, opening, end + 1);
  }
}

void scan_comment(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int) {
  if (wants(s, kEventScan)) fire_event(s, kEventScan, -(kEntryComment + 1), nullptr, start, end);
  s.input_pos = end;
}

void scan_construct(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int) {
  // "#(" name ")": end is at the ")".
  Cell value;
  if (!construct_value(start + 2, end, &value)) throw_error(s, start, end + 1, kMalformedConstruct);
  store(s, value);
  s.type = value.type();
  s.input_pos = end + 1;
}

// --- Words -------------------------------------------------------------------------------

void scan_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int) {
  if ((flags & token_flags::kNonAscii) != 0) {
    // The word ends before the first wide blank inside it.
    for (const uint8_t* p = start; p < end;) {
      if (*p < 0x80) {
        ++p;
        continue;
      }
      const uint8_t* next;
      int32_t code_point = decode_utf8(p, end, &next);
      if (code_point < 0) throw_error(s, start, end, TYPE_WORD);
      if (is_wide_blank(static_cast<uint32_t>(code_point))) {
        end = p;
        s.token_end = p;
        s.input_pos = p;
        break;
      }
      p = next;
    }
  }
  TypeId type = TYPE_WORD;
  if ((flags & (token_flags::kColon | token_flags::kApostrophe)) != 0) {
    bool leading_colon = *start == ':';
    bool leading_quote = *start == '\'';
    bool trailing_colon = end - start > 1 && end[-1] == ':';
    const uint8_t* inner_from = start + 1;
    const uint8_t* inner_to = trailing_colon ? end - 1 : end;
    bool inner_colon = inner_from < inner_to && std::memchr(inner_from, ':', inner_to - inner_from) != nullptr;
    if (leading_quote) {
      if (trailing_colon) throw_error(s, start, end, TYPE_LIT_WORD);
      if (inner_colon) throw_error(s, start, end, TYPE_WORD);
      type = TYPE_LIT_WORD;
    } else if (inner_colon || (leading_colon && trailing_colon)) {
      throw_error(s, start, end, TYPE_WORD);
    } else if (leading_colon) {
      type = TYPE_GET_WORD;
    } else if (trailing_colon) {
      type = TYPE_SET_WORD;
    }
  }
  s.type = type;
}

void scan_issue(State& s, const uint8_t* start, const uint8_t* end, uint32_t, int) {
  if (end - start < 2 || *start != '#') throw_error(s, start, end, TYPE_ISSUE);
  s.type_override = TYPE_ISSUE;
}

void scan_path(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int mode) {
  // start .. end is the head, end is at its "/".
  TypeId type = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
  const uint8_t* name = type == TYPE_PATH ? start : start + 1;
  if ((flags & token_flags::kNonAscii) != 0) {
    name = skip_blanks(s, name, end, TYPE_WORD);
    for (const uint8_t* p = name; p < end;) {
      const uint8_t* next;
      int32_t code_point = decode_utf8(p, end, &next);
      if (code_point < 0) throw_error(s, start, end, TYPE_WORD);
      if (is_wide_blank(static_cast<uint32_t>(code_point))) throw_error(s, start, end + 1, TYPE_PATH);
      p = next;
    }
  }
  if (name >= end) throw_error(s, start, end + 1, TYPE_PATH);
  open_series(s, type, start);
  s.new_line = false;  // the head starts the path, not a line
  s.type = type;
  if (mode != 0) {
    if (!wants(s, kEventScan) || fire_event(s, kEventScan, TYPE_WORD, nullptr, name, end)) {
      uint32_t before = s.tail;
      store_word(s, name, end, TYPE_WORD);
      if (wants(s, kEventLoad) && !fire_event(s, kEventLoad, TYPE_WORD, cell_at(s.tail - 1), name, end)) {
        s.tail = before;
      }
    }
  }
  s.start_state = kPathElementState;
  s.input_pos = end + 1;
}

void scan_path_element(State& s, const uint8_t* start, const uint8_t* pos, uint32_t, bool) {
  s.new_line = false;
  Cell* marker = innermost_marker(s);
  if (marker == nullptr || !is_path_type(marker_type(*marker))) {
    s.start_state = kStartState;
    return;
  }
  TypeId path_type = marker_type(*marker);
  if (pos >= s.input_tail || is_path_delimiter(kCharClasses[*pos] & token_flags::kClassMask)) {
    const uint8_t* close_at = pos;
    if (pos < s.input_tail && *pos == ':') {
      if (pos + 1 < s.input_tail && pos[1] == '/') throw_error(s, nullptr, pos + 2, TYPE_PATH);
      path_type = TYPE_SET_PATH;
      s.input_pos = pos + 1;
    }
    close_series(s, path_type, close_at < s.input_tail ? close_at : s.input_tail - 1);
    return;
  }
  if (*pos != '/' || pos + 1 >= s.input_tail) throw_error(s, nullptr, pos + 1, TYPE_PATH);
  (void)start;
  s.input_pos = pos + 1;
}

}  // namespace kel::lexer
