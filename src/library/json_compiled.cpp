// Compiled bodies of load-json and to-json (see json_compiled.h).
//
// The decoder reads the input string through a raw pointer into its buffer,
// which stays pinned for the whole decode: the values it makes allocate, and
// nothing here evaluates Kel code, so no collection runs before it returns.
// It accepts exactly what the decoder's grammar in json.kel accepts, or less:
// where it stops (a character the grammar would not take there, a number it
// does not read itself, nesting past kMaxDepth) it hands the call to the Kel
// body, which then gives the error value or raises as it always did.
//
// The encoder collects the text as code points and makes the string once at
// the end; a value it does not write itself, or a container met again while
// it is being written (the Kel body raises no-cycle for it), likewise hands
// the call over. Either routine answers false for "hand over" and leaves the
// frame untouched until it has its whole result.
#include "library/json_compiled.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "library/compiled.h"
#include "library/json_codec.h"
#include "runtime/actions.h"
#include "runtime/float_text.h"
#include "runtime/number_parsers.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/unicode.h"
#include "runtime/upcalls.h"

namespace kel::json_compiled {

namespace {

// Deeper documents and values go to the Kel body, whose own limits then
// decide.
constexpr int kMaxDepth = 200;

// --- Decoding -------------------------------------------------------------------------------

// The name sets of the decoder's key rule: a name becomes a word only when
// its first character is in word-1st and every other in word-char.
bool not_word_char(uint32_t c) {
  switch (c) {
    case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')': case '{': case '}':
    case '"': case '#': case '%': case '$': case '@': case ':': case ';': case '\n': case 0xA0: case ' ':
    case '\t': case '\r': case '<': case '>':
      return true;
    default:
      return false;
  }
}
bool word_first_char(uint32_t c) { return !not_word_char(c) && !(c >= '0' && c <= '9') && c != '\''; }

// The word `to word!` makes of a plain ASCII name (a letter, then letters,
// digits and - _ ? !), as it makes it.
bool plain_name(const Cell& text, std::string* name) {
  SeriesBuffer* buffer = series::buffer_of(&text);
  uint32_t unit = buffer->unit();
  uint32_t to = buffer->used() / unit;
  uint32_t from = series::index_of(text);
  if (from >= to) return false;
  name->clear();
  for (uint32_t i = from; i < to; ++i) {
    uint32_t c = string::get_char(buffer->head_ptr() + uint64_t{i} * unit, unit);
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool fits = letter || (i > from && ((c >= '0' && c <= '9') || c == '-' || c == '_' || c == '?' || c == '!'));
    if (!fits) return false;
    name->push_back(static_cast<char>(c));
  }
  return true;
}

class Decoder {
 public:
  Decoder(const Cell& input) : input_(input), pin_(input.data2) {
    SeriesBuffer* buffer = series::buffer_of(&input);
    unit_ = buffer->unit();
    head_ = buffer->head_ptr();
    end_ = buffer->used() / unit_;
    position_ = series::index_of(input);
  }

  // The document's value, or false when the Kel body must decide.
  bool document(Cell* result) {
    if (position_ > end_) return false;
    if (!value(result, 0)) return false;
    return position_ == end_;
  }

 private:
  uint32_t at(uint32_t position) const { return unicode::get_char(head_ + uint64_t{position} * unit_, unit_); }
  int32_t peek() const { return position_ < end_ ? static_cast<int32_t>(at(position_)) : -1; }
  void skip_space() {
    while (position_ < end_) {
      uint32_t c = at(position_);
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
      ++position_;
    }
  }
  bool literal(const char* text) {
    uint32_t p = position_;
    for (; *text; ++text, ++p) {
      if (p >= end_ || at(p) != static_cast<uint8_t>(*text)) return false;
    }
    position_ = p;
    return true;
  }

  // json-value: white space, one value, white space.
  bool value(Cell* result, int depth) {
    skip_space();
    switch (peek()) {
      case 't': if (!literal("true")) return false; *result = logic::make(true); break;
      case 'f': if (!literal("false")) return false; *result = logic::make(false); break;
      case 'n': if (!literal("null")) return false; *result = make_cell(TYPE_NONE); break;
      case '{': if (depth >= kMaxDepth || !object(result, depth + 1)) return false; break;
      case '[': if (depth >= kMaxDepth || !array(result, depth + 1)) return false; break;
      case '"': if (!text(result)) return false; break;
      default: if (!number(result)) return false;
    }
    skip_space();
    return true;
  }

  bool array(Cell* result, int depth) {
    ++position_;
    Cell block;
    block::make_at(&block, 8);
    skip_space();
    if (peek() != ']') {
      for (;;) {
        Cell item;
        if (!value(&item, depth)) return false;
        block::rs_append(&block, item);
        if (peek() == ',') {
          ++position_;
          continue;
        }
        break;
      }
      if (peek() != ']') return false;
    }
    ++position_;
    *result = block;
    return true;
  }

  bool object(Cell* result, int depth) {
    ++position_;
    Cell pairs;
    block::make_at(&pairs, 8);
    skip_space();
    if (peek() != '}') {
      for (;;) {
        skip_space();
        Cell key;
        if (peek() != '"' || !text(&key)) return false;
        skip_space();
        if (peek() != ':') return false;
        ++position_;
        key = name_key(key);
        block::rs_append(&pairs, key);
        Cell item;
        if (!value(&item, depth)) return false;
        block::rs_append(&pairs, item);
        if (peek() == ',') {
          ++position_;
          continue;
        }
        break;
      }
      if (peek() != '}') return false;
    }
    ++position_;
    map::make_at(result, &pairs, static_cast<int32_t>(block::length_from_head(&pairs)));
    return true;
  }

  // A name that reads as a word becomes the word `to word!` makes of it; a
  // name it refuses, and any other, stays a string.
  Cell name_key(const Cell& name) {
    SeriesBuffer* buffer = series::buffer_of(&name);
    uint32_t unit = buffer->unit();
    uint32_t length = buffer->used() / unit;
    if (length == 0 || !word_first_char(string::get_char(buffer->head_ptr(), unit))) return name;
    for (uint32_t i = 1; i < length; ++i) {
      if (not_word_char(string::get_char(series::buffer_of(&name)->head_ptr() + uint64_t{i} * unit, unit)))
        return name;
    }
    std::string plain;
    if (plain_name(name, &plain)) {
      Cell word;
      word::make_at(symbol::make_from_text(plain.data(), static_cast<uint32_t>(plain.size())), &word);
      return word;
    }
    int32_t part = -1;
    std::string utf8 = unicode::to_utf8(&name, &part);
    Cell loaded = make_cell(TYPE_UNSET);
    TypeId type = upcalls::table.scan_word ? upcalls::table.scan_word(utf8, &loaded) : 0;
    if (type == 0 || !word::is_any_word(loaded.type())) return name;
    loaded.set_type(TYPE_WORD);
    return loaded;
  }

  // string-literal: the characters up to the closing quote, with the JSON
  // escapes only; the copy is unescaped as the Kel body's unescape does.
  bool text(Cell* result) {
    uint32_t start = ++position_;
    bool escapes = false;
    for (;;) {
      if (position_ >= end_) return false;
      uint32_t c = at(position_);
      if (c == '"') break;
      if (c < 0x20) return false;
      if (c == '\\') {
        escapes = true;
        if (++position_ >= end_) return false;
        switch (at(position_)) {
          case '"': case 't': case '\\': case '/': case 'n': case 'r': case 'b': case 'f':
            break;
          case 'u':
            for (int i = 0; i < 4; ++i) {
              if (++position_ >= end_) return false;
              uint32_t h = at(position_);
              if (!((h >= '0' && h <= '9') || (h >= 'A' && h <= 'F') || (h >= 'a' && h <= 'f'))) return false;
            }
            break;
          default:
            return false;
        }
      }
      ++position_;
    }
    uint32_t finish = position_++;
    if (finish == start) {
      string::rs_make_at(result, 0);
      return true;
    }
    *result = series::copy_units(&input_, start, finish - start);
    return !escapes || json_codec::unescape_in_place(*result);
  }

  // numeric-literal, read as transcode reads its text: an integer within
  // 32 bits, else a float. Texts longer than the float reader takes go to
  // the Kel body.
  bool number(Cell* result) {
    uint32_t start = position_;
    char text[number_text::kMaxFloatText + 1];
    uint32_t length = 0;
    auto take = [&](uint32_t c) {
      if (length >= number_text::kMaxFloatText) return false;
      text[length++] = static_cast<char>(c);
      ++position_;
      return true;
    };
    auto digit = [&]() { int32_t c = peek(); return c >= '0' && c <= '9'; };
    if (peek() == '-' && !take('-')) return false;
    if (!digit()) return false;
    if (peek() == '0') {
      if (!take('0')) return false;
    } else {
      while (digit()) if (!take(static_cast<uint32_t>(peek()))) return false;
    }
    bool integral = true;
    if (peek() == '.') {
      if (position_ + 1 >= end_ || !(at(position_ + 1) >= '0' && at(position_ + 1) <= '9')) return false;
      integral = false;
      if (!take('.')) return false;
      while (digit()) if (!take(static_cast<uint32_t>(peek()))) return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      integral = false;
      if (!take(static_cast<uint32_t>(peek()))) return false;
      if ((peek() == '+' || peek() == '-') && !take(static_cast<uint32_t>(peek()))) return false;
      if (!digit()) return false;
      while (digit()) if (!take(static_cast<uint32_t>(peek()))) return false;
    }
    (void)start;
    if (integral) {
      bool negative = text[0] == '-';
      uint64_t magnitude = 0;
      bool fits = true;
      for (uint32_t i = negative ? 1 : 0; i < length; ++i) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
        if (magnitude > (uint64_t{1} << 31)) {
          fits = false;
          break;
        }
      }
      if (fits && (negative || magnitude < (uint64_t{1} << 31))) {
        int64_t signed_value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
        *result = integer::make(static_cast<int32_t>(signed_value));
        return true;
      }
    }
    if (!number_text::float_syntax_check(text, text + length)) return false;
    int32_t remainder = 0;
    double read = float_type::parse(text, text + length, 0, &remainder);
    if (remainder != 0) return false;
    *result = float_type::make(read);
    return true;
  }

  Cell input_;
  Pin pin_;
  uint32_t unit_ = 1;
  const uint8_t* head_ = nullptr;
  uint32_t end_ = 0;
  uint32_t position_ = 0;
};

// --- Encoding --------------------------------------------------------------------------------

class Encoder {
 public:
  Encoder(const Cell* indent, bool ascii) : indent_(indent), ascii_(ascii) {}

  bool value(const Cell& value, int depth) {
    switch (value.type()) {
      case TYPE_NONE: put("null"); return true;
      case TYPE_LOGIC: put(value.data1 ? "true" : "false"); return true;
      case TYPE_INTEGER: put(std::to_string(value.int_at2()).c_str()); return true;
      case TYPE_FLOAT: put(actions::mold_to_string(value, false).c_str()); return true;
      case TYPE_STRING: text(value); return true;
      case TYPE_BLOCK: return block(value, depth);
      case TYPE_MAP: return map(value, depth);
      default:
        if (!molded_here(value.type())) return false;
        put_text_of(actions::mold_to_string(value, false));
        return true;
    }
  }

  // The text, as the string the Kel body makes of it.
  void result(Cell* cell) const { out_.make(cell, 4000); }

 private:
  // The types whose JSON text is the string of their mold, none of whose
  // molds runs Kel code.
  static bool molded_here(TypeId type) {
    return word::is_any_word(type) || type == TYPE_CHAR || type == TYPE_DATE || type == TYPE_TIME ||
           type == TYPE_TUPLE || type == TYPE_PAIR;
  }

  void put(const char* text) {
    for (; *text; ++text) out_.push_back(static_cast<uint8_t>(*text));
  }
  void put_hex4(uint32_t code) {
    static const char kDigits[] = "0123456789ABCDEF";
    put("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) out_.push_back(static_cast<uint8_t>(kDigits[(code >> shift) & 15]));
  }
  // A text the encoder made (a mold, a key's name) written as a JSON string.
  void put_text_of(const std::string& utf8) {
    std::u32string code_points;
    const auto* p = reinterpret_cast<const uint8_t*>(utf8.c_str());
    const auto* end = p + utf8.size();
    while (p < end) {
      int32_t c;
      p = unicode::fast_decode_utf8_char(p, &c);
      if (c >= 0) code_points.push_back(static_cast<char32_t>(c));
    }
    open_quote();
    for (char32_t c : code_points) character(c);
    out_.push_back('"');
  }
  void open_quote() { out_.push_back('"'); }
  bool normal(uint32_t c) const {
    if (ascii_) return c >= 32 && c <= 127 && c != '"' && c != '\\';
    return c >= 32 && c != '"' && c != '\\';
  }
  void character(uint32_t c) {
    if (normal(c)) {
      out_.push_back(c);
      return;
    }
    switch (c) {
      case '"': put("\\\""); return;
      case '\\': put("\\\\"); return;
      case 0x08: put("\\b"); return;
      case 0x0C: put("\\f"); return;
      case 0x0A: put("\\n"); return;
      case 0x0D: put("\\r"); return;
      case 0x09: put("\\t"); return;
      default: break;
    }
    if (c <= 0xFFFF) {
      put_hex4(c);
      return;
    }
    uint32_t code = c - 0x10000;
    put_hex4(0xD800 + (code >> 10));
    put_hex4(0xDC00 + (code & 1023));
  }
  void text(const Cell& value) {
    open_quote();
    uint32_t from = series::index_of(value);
    SeriesBuffer* buffer = series::buffer_of(&value);
    uint32_t unit = buffer->unit();
    uint32_t length = buffer->used() / unit;
    for (uint32_t i = from; i < length; ++i) character(unicode::get_char(buffer->head_ptr() + uint64_t{i} * unit, unit));
    out_.push_back('"');
  }
  void put_indent() {
    SeriesBuffer* buffer = series::buffer_of(indent_);
    uint32_t unit = buffer->unit();
    uint32_t length = buffer->used() / unit;
    for (int level = 0; level < level_; ++level) {
      for (uint32_t i = series::index_of(*indent_); i < length; ++i)
        out_.push_back(unicode::get_char(buffer->head_ptr() + uint64_t{i} * unit, unit));
    }
  }
  void open(char bracket) {
    out_.push_back(static_cast<uint8_t>(bracket));
    if (indent_ != nullptr) {
      out_.push_back('\n');
      ++level_;
      put_indent();
    }
  }
  void between() {
    out_.push_back(',');
    if (indent_ != nullptr) {
      out_.push_back('\n');
      put_indent();
    }
  }
  void close(char bracket) {
    if (indent_ != nullptr) {
      out_.push_back('\n');
      --level_;
      put_indent();
    }
    out_.push_back(static_cast<uint8_t>(bracket));
  }
  // A container met again while it is written holds itself.
  bool enter(const Cell& container, int depth) {
    if (depth >= kMaxDepth) return false;
    for (const Cell& held : open_) {
      if (held.type() == container.type() && held.data2 == container.data2 && held.data1 == container.data1)
        return false;
    }
    open_.push_back(container);
    return true;
  }

  bool block(const Cell& value, int depth) {
    uint32_t from = series::index_of(value);
    if (from >= block::length_from_head(&value)) {
      put("[]");
      return true;
    }
    if (!enter(value, depth)) return false;
    open('[');
    // The block is read again at every element: nothing here changes it.
    for (uint32_t i = from; i < block::length_from_head(&value); ++i) {
      if (i > from) between();
      Cell item = block::buffer_of(&value)->cells()[i];
      if (!this->value(item, depth + 1)) return false;
    }
    close(']');
    open_.pop_back();
    return true;
  }

  bool map(const Cell& value, int depth) {
    if (map::size(value) == 0) {
      put("{}");
      return true;
    }
    if (!enter(value, depth)) return false;
    open('{');
    Cell pairs = block::make_value(map::pairs_of(value));
    bool first = true;
    for (uint32_t i = 0; i + 1 < block::length_from_head(&pairs); i += 2) {
      Cell key = block::buffer_of(&pairs)->cells()[i];
      Cell item = block::buffer_of(&pairs)->cells()[i + 1];
      if (item.header == 0) continue;  // a removed entry
      if (!first) between();
      first = false;
      if (word::is_any_word(key.type())) {
        put_text_of(std::string(symbol::name(word::symbol_of(key))));
      } else if (key.is(TYPE_STRING)) {
        text(key);
      } else if (key.is(TYPE_INTEGER) || key.is(TYPE_CHAR) || molded_here(key.type())) {
        put_text_of(actions::mold_to_string(key, false));
      } else {
        return false;
      }
      put(indent_ != nullptr ? ": " : ":");
      if (!this->value(item, depth + 1)) return false;
    }
    close('}');
    open_.pop_back();
    return true;
  }

  const Cell* indent_;
  bool ascii_;
  int level_ = 0;
  std::vector<Cell> open_;
  compiled::TextBuffer out_;
};

}  // namespace

// The value of the first word of the name in a function's body, or null.
Cell* body_word_value(const Cell& function, uint32_t name) {
  if (!function.is(TYPE_FUNCTION)) return nullptr;
  Cell body = *function::info(function, function::kInfoBody);
  if (!body.is(TYPE_BLOCK)) return nullptr;
  for (uint32_t i = 0; i < block::length_from_head(&body); ++i) {
    Cell cell = block::buffer_of(&body)->cells()[i];
    if (cell.is(TYPE_WORD) && word::symbol_of(cell) == name) return context::get(&cell);
  }
  return nullptr;
}

void clear_block(Cell* held) {
  if (held != nullptr && held->is(TYPE_BLOCK)) block::rs_clear_from(held);
}

// The decoder's stack of open containers, which the Kel body empties first
// thing: a call handled here leaves it empty too.
void clear_decoder_stack() {
  static const uint32_t kStack = symbol::make("stack");
  clear_block(body_word_value(compiled::running_function(), kStack));
}

// The encoder's list of open containers, which init-state empties at the
// start of every call (an error may have left it full).
void clear_open_containers() {
  static const uint32_t kInitState = symbol::make("init-state");
  static const uint32_t kOpenContainers = symbol::make("open-containers");
  Cell* init_state = body_word_value(compiled::running_function(), kInitState);
  if (init_state != nullptr) clear_block(body_word_value(*init_state, kOpenContainers));
}

void load_json() {
  clear_decoder_stack();
  Cell input = stack::arguments()[0];
  Cell result;
  bool decoded;
  {
    // The input stays pinned while the decoder reads it, not while the Kel
    // body runs.
    Decoder decoder(input);
    decoded = decoder.document(&result);
  }
  if (!decoded) return compiled::run_kel_body();
  stack::set_last(result);
}

void to_json() {
  clear_open_containers();
  Cell* frame = stack::arguments();
  Cell data = frame[0];
  bool pretty = frame[1].is(TYPE_LOGIC) && frame[1].data1 != 0;
  Cell indent = frame[2];
  bool ascii = frame[3].is(TYPE_LOGIC) && frame[3].data1 != 0;
  if (pretty && !indent.is(TYPE_STRING)) {
    compiled::run_kel_body();
    return;
  }
  Encoder encoder(pretty ? &indent : nullptr, ascii);
  if (!encoder.value(data, 0)) {
    compiled::run_kel_body();
    return;
  }
  Cell result;
  encoder.result(&result);
  stack::set_last(result);
}

}  // namespace kel::json_compiled
