// Compiled bodies of load-csv and to-csv (see csv_compiled.h).
//
// load-csv reads the text through a raw pointer into its buffer, pinned for
// the call; the rows and fields it makes allocate, and nothing here
// evaluates Kel code, so no collection runs before it returns. It follows
// the Kel body's grammar step by step: a line is one or more fields joined
// by the delimiter and ends at CR LF, LF, CR or the end; a quoted field is
// one only when its closing quote is followed by the delimiter, a line end
// or the end, else the whole field, quotes included, is a plain one; blank
// lines at the end are dropped, those before give rows of one empty field.
// A row whose length differs from the first row's goes to the Kel body,
// which answers its error.
//
// to-csv collects the text as code points and makes the string at the end.
// A routine answers "hand over" (false) before it writes the frame.
#include "library/csv_compiled.h"

#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "library/compiled.h"
#include "runtime/actions.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/string_units.h"
#include "runtime/unicode.h"

namespace kel::csv_compiled {

namespace {

// A delimiter or quote character that reads the same with and without case
// folding, and that is no line end.
bool plain_mark(uint32_t c) {
  bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return c > 0 && c < 128 && !letter && c != '\r' && c != '\n';
}

bool set_flag(const Cell& cell) { return cell.is(TYPE_LOGIC) && cell.data1 != 0; }

// The characters of a string! from its index, as code points.
class TextReader {
 public:
  explicit TextReader(const Cell& text) : pin_(text.data2) {
    SeriesBuffer* buffer = series::buffer_of(&text);
    unit_ = buffer->unit();
    head_ = buffer->head_ptr();
    end_ = buffer->used() / unit_;
  }
  uint32_t at(uint32_t position) const { return unicode::get_char(head_ + uint64_t{position} * unit_, unit_); }
  uint32_t end() const { return end_; }

 private:
  Pin pin_;
  uint32_t unit_;
  const uint8_t* head_;
  uint32_t end_;
};

class Loader {
 public:
  Loader(const Cell& data, uint32_t delimiter, uint32_t quote)
      : data_(data), text_(data), delimiter_(delimiter), quote_(quote), position_(series::index_of(data)) {}

  bool rows(Cell* out) {
    uint32_t end = text_.end();
    uint64_t room = position_ < end ? (end - position_) / 80 : 0;
    block::make_at(out, static_cast<int32_t>(room));
    if (position_ > end) return true;
    Cell line;
    block::make_at(&line, 20);
    uint32_t longest = 0;
    for (;;) {
      uint32_t ahead = position_;
      while (ahead < end && line_end(text_.at(ahead))) ++ahead;
      if (ahead >= end) return true;
      block::rs_clear_from(&line);
      for (;;) {
        Cell field = this->field();
        block::rs_append(&line, field);
        if (position_ < end && text_.at(position_) == delimiter_) {
          ++position_;
          continue;
        }
        break;
      }
      if (position_ < end) {
        uint32_t c = text_.at(position_++);
        if (c == '\r' && position_ < end && text_.at(position_) == '\n') ++position_;
      }
      uint32_t length = block::length_from_head(&line);
      if (longest == 0) longest = length;
      else if (longest != length) return false;
      block::rs_append(out, block::copy_block(&line, false));
    }
  }

 private:
  static bool line_end(uint32_t c) { return c == '\r' || c == '\n'; }

  Cell field() {
    uint32_t end = text_.end();
    if (position_ < end && text_.at(position_) == quote_) {
      compiled::TextBuffer value;
      uint32_t p = position_ + 1;
      for (;;) {
        if (p >= end) break;
        uint32_t c = text_.at(p);
        if (c != quote_) {
          value.push_back(c);
          ++p;
          continue;
        }
        if (p + 1 < end && text_.at(p + 1) == quote_) {
          value.push_back(quote_);
          p += 2;
          continue;
        }
        // the closing quote: a quoted field only before the field's end
        uint32_t after = p + 1;
        if (after >= end || text_.at(after) == delimiter_ || line_end(text_.at(after))) {
          position_ = after;
          Cell made;
          value.make(&made, 0);
          return made;
        }
        break;
      }
    }
    uint32_t start = position_;
    while (position_ < end) {
      uint32_t c = text_.at(position_);
      if (c == delimiter_ || line_end(c)) break;
      ++position_;
    }
    return series::copy_units(&data_, start, position_ - start);
  }

  Cell data_;
  TextReader text_;
  uint32_t delimiter_;
  uint32_t quote_;
  uint32_t position_;
};

// The text of one value as to-csv writes it.
class Writer {
 public:
  Writer(uint32_t delimiter, uint32_t quote) : delimiter_(delimiter), quote_(quote) {}

  bool row(const Cell& record) {
    uint32_t from = series::index_of(record);
    uint32_t count = block::length_from_head(&record);
    for (uint32_t i = from; i < count; ++i) {
      if (i > from) out_.push_back(delimiter_);
      if (!value(block::buffer_of(&record)->cells()[i])) return false;
    }
    out_.push_back('\n');
    return true;
  }
  void result(Cell* cell) const { out_.make(cell, 1000); }

 private:
  // The types whose form runs no Kel code.
  static bool formed_here(TypeId type) {
    return string::is_string_like(type) || word::is_any_word(type) || type == TYPE_INTEGER || type == TYPE_FLOAT ||
           type == TYPE_PERCENT || type == TYPE_LOGIC || type == TYPE_NONE || type == TYPE_CHAR ||
           type == TYPE_DATE || type == TYPE_TIME || type == TYPE_TUPLE || type == TYPE_PAIR || type == TYPE_MONEY;
  }
  bool quotable(uint32_t c) const { return c == ' ' || c == '\n' || c == '\r' || c == quote_ || c == delimiter_; }

  bool value(const Cell& value) {
    std::u32string text;
    if (value.is(TYPE_STRING)) {
      // Most fields go in as they are: read straight from the string.
      SeriesBuffer* buffer = series::buffer_of(&value);
      uint32_t unit = buffer->unit();
      uint32_t length = buffer->used() / unit;
      const uint8_t* head = buffer->head_ptr();
      bool plain = true;
      for (uint32_t i = series::index_of(value); plain && i < length; ++i)
        plain = !quotable(unicode::get_char(head + uint64_t{i} * unit, unit));
      if (plain) {
        for (uint32_t i = series::index_of(value); i < length; ++i)
          out_.push_back(unicode::get_char(head + uint64_t{i} * unit, unit));
        return true;
      }
      for (uint32_t i = series::index_of(value); i < length; ++i)
        text.push_back(unicode::get_char(head + uint64_t{i} * unit, unit));
    } else if (formed_here(value.type())) {
      std::string utf8 = actions::form_to_string(value);
      // The formed text is ours, valid UTF-8 ending in NUL.
      const auto* p = reinterpret_cast<const uint8_t*>(utf8.c_str());
      const auto* end = p + utf8.size();
      while (p < end) {
        int32_t c;
        p = unicode::fast_decode_utf8_char(p, &c);
        if (c >= 0) text.push_back(static_cast<char32_t>(c));
      }
    } else {
      return false;
    }
    bool quoted = false;
    for (char32_t c : text) quoted = quoted || quotable(c);
    if (!quoted) {
      out_.append(text);
      return true;
    }
    out_.push_back(quote_);
    for (char32_t c : text) {
      out_.push_back(c);
      if (c == quote_) out_.push_back(quote_);
    }
    out_.push_back(quote_);
    return true;
  }

  uint32_t delimiter_;
  uint32_t quote_;
  compiled::TextBuffer out_;
};

}  // namespace

void load_csv() {
  Cell* frame = stack::arguments();
  Cell data = frame[0];
  uint32_t delimiter = ',';
  uint32_t quote = '"';
  if (set_flag(frame[1])) {
    if (!frame[2].is(TYPE_CHAR)) return compiled::run_kel_body();
    delimiter = frame[2].data2;
  }
  for (int refinement = 3; refinement <= 7; ++refinement) {
    if (set_flag(frame[refinement])) return compiled::run_kel_body();
  }
  if (set_flag(frame[8])) {
    if (!frame[9].is(TYPE_CHAR)) return compiled::run_kel_body();
    quote = frame[9].data2;
  }
  if (!data.is(TYPE_STRING) || !plain_mark(delimiter) || !plain_mark(quote) || delimiter == quote)
    return compiled::run_kel_body();
  Cell rows;
  bool loaded;
  {
    // The text stays pinned while the loader reads it, not while the Kel
    // body runs.
    Loader loader(data, delimiter, quote);
    loaded = loader.rows(&rows);
  }
  if (!loaded) return compiled::run_kel_body();
  stack::set_last(rows);
}

void to_csv() {
  Cell* frame = stack::arguments();
  Cell data = frame[0];
  uint32_t delimiter = ',';
  uint32_t quote = '"';
  if (set_flag(frame[1])) {
    if (!frame[2].is(TYPE_CHAR)) return compiled::run_kel_body();
    delimiter = frame[2].data2;
  }
  if (set_flag(frame[3])) return compiled::run_kel_body();
  if (set_flag(frame[5])) {
    if (!frame[6].is(TYPE_CHAR)) return compiled::run_kel_body();
    quote = frame[6].data2;
  }
  if (!data.is(TYPE_BLOCK) || !plain_mark(delimiter) || !plain_mark(quote) || delimiter == quote)
    return compiled::run_kel_body();
  // A block whose first value is no block is one row.
  uint32_t from = series::index_of(data);
  uint32_t count = block::length_from_head(&data);
  bool one_row = from >= count || !block::buffer_of(&data)->cells()[from].is(TYPE_BLOCK);
  Writer writer(delimiter, quote);
  if (one_row) {
    if (from < count) {
      TypeId first = block::buffer_of(&data)->cells()[from].type();
      if (first == TYPE_MAP || first == TYPE_OBJECT) return compiled::run_kel_body();
    }
    if (!writer.row(data)) return compiled::run_kel_body();
  } else {
    const Cell& first = block::buffer_of(&data)->cells()[from];
    uint32_t width = block::length_from_head(&first) - std::min(series::index_of(first), block::length_from_head(&first));
    for (uint32_t i = from; i < count; ++i) {
      const Cell& record = block::buffer_of(&data)->cells()[i];
      if (!record.is(TYPE_BLOCK)) return compiled::run_kel_body();
      uint32_t length = block::length_from_head(&record);
      if (length - std::min(series::index_of(record), length) != width) return compiled::run_kel_body();
    }
    for (uint32_t i = from; i < count; ++i) {
      Cell record = block::buffer_of(&data)->cells()[i];
      if (!writer.row(record)) return compiled::run_kel_body();
    }
  }
  Cell text;
  writer.result(&text);
  stack::set_last(text);
}

}  // namespace kel::csv_compiled
