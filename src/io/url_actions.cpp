// read and write of url! values: http and https URLs through the HTTP
// client (see url_actions.h).
//
// The request is made from the values before anything is sent (header
// fields and body become C++ strings and bytes); the response body is
// written straight into a binary! on the evaluation stack as it arrives,
// sized by the length the server announces, so a large download is held
// once. Text and lines are made from that binary afterwards.
#include "io/url_actions.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/context.h"
#include "datatypes/port.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "io/file_system.h"
#include "io/http_client.h"
#include "runtime/actions.h"
#include "runtime/datatype_registry.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/string_buffer.h"
#include "runtime/symbol_table.h"
#include "runtime/upcalls.h"

namespace kel::url_actions {

namespace {

// The first capacity of a body whose length the server announces is that
// length, up to this much; a larger body grows as it arrives.
constexpr int64_t kLargestFirstCapacity = int64_t{1} << 30;

// Writes the body into the binary! at a fixed stack cell (the stack never
// moves; the binary's buffer may, so it is reached through the cell at
// each append).
class StackBinarySink : public http::BodySink {
 public:
  explicit StackBinarySink(Cell* cell) : cell_(cell) {}
  void start(int64_t announced_length) override {
    uint32_t capacity = static_cast<uint32_t>(std::clamp<int64_t>(announced_length, 0, kLargestFirstCapacity));
    binary::init_cell(cell_, capacity);
  }
  void append(const uint8_t* bytes, size_t count) override {
    binary::append_bytes(cell_, bytes, static_cast<uint32_t>(count));
  }

 private:
  Cell* cell_;
};

bool is_word_kind(const Cell& value) {
  return value.is(TYPE_WORD) || value.is(TYPE_LIT_WORD) || value.is(TYPE_GET_WORD) || value.is(TYPE_SET_WORD);
}

std::string spelling(const Cell& word) { return std::string(symbol::name(word::symbol_of(word))); }

// Header fields from a block of name/value pairs: a word of any kind gives
// its spelling, a string its text, anything else its formed text.
std::vector<http::Header> header_fields(const Cell& block) {
  std::vector<http::Header> fields;
  Cell pairs = block;
  int32_t length = block::rs_length(&pairs);
  for (int32_t i = 0; i + 1 < length; i += 2) {
    Cell name = block::rs_head(&pairs)[i];
    Cell value = block::rs_head(&pairs)[i + 1];
    std::string name_text = is_word_kind(name) ? spelling(name) : actions::form_to_string(name);
    std::string value_text = value.is(TYPE_STRING) ? string::to_std_string(value) : actions::form_to_string(value);
    fields.push_back({std::move(name_text), std::move(value_text)});
  }
  return fields;
}

std::vector<uint8_t> body_bytes(const Cell& data) {
  if (data.is(TYPE_BINARY)) {
    Cell copy = data;
    const uint8_t* head = binary::rs_head(&copy);
    return std::vector<uint8_t>(head, head + binary::rs_length(&copy));
  }
  std::string text = string::is_string_like(data.type()) ? string::to_std_string(data) : actions::form_to_string(data);
  return std::vector<uint8_t>(text.begin(), text.end());
}

// The response headers as a map!: each name a word, its value a string, or
// a block of the strings in order when the name came more than once (names
// compared as the map compares words, without regard to case).
Cell* push_header_map(const std::vector<http::Header>& headers) {
  std::vector<std::pair<uint32_t, std::vector<std::string>>> grouped;
  for (const http::Header& field : headers) {
    uint32_t symbol = symbol::make(field.name);
    auto same = [&](const auto& entry) { return symbol::resolve(entry.first) == symbol::resolve(symbol); };
    auto found = std::find_if(grouped.begin(), grouped.end(), same);
    if (found == grouped.end()) grouped.push_back({symbol, {field.value}});
    else found->second.push_back(field.value);
  }
  Cell* pairs = block::push_only(static_cast<int32_t>(grouped.size() * 2));
  for (const auto& [symbol, values] : grouped) {
    Cell key;
    word::make_at(symbol, &key);
    block::rs_append(pairs, key);
    if (values.size() == 1) {
      Cell* text = string::push_new(static_cast<uint32_t>(values[0].size()));
      string::append_utf8(text, values[0]);
      block::rs_append(pairs, *text);
      stack::pop(1);
      continue;
    }
    Cell* list = block::push_only(static_cast<int32_t>(values.size()));
    for (const std::string& value : values) {
      Cell* text = string::push_new(static_cast<uint32_t>(value.size()));
      string::append_utf8(text, value);
      block::rs_append(list, *text);
      stack::pop(1);
    }
    block::rs_append(pairs, *list);
    stack::pop(1);
  }
  Cell* map = stack::push_slot();
  map::make_at(map, pairs, 0);
  return map;
}

// The request and its answer as the action's result: the body as a
// binary!, a block of lines or text; with info, [status headers body].
Cell* exchange(const Cell& url, const std::string& method, const std::vector<http::Header>& headers,
               const std::optional<std::vector<uint8_t>>& body, bool binary_wanted, bool lines, bool info) {
  // A url! holds its text decoded; the request carries it escaped, as the
  // URL molds (a blank as %20, a character beyond ASCII as its UTF-8 bytes).
  std::string address = actions::mold_to_string(url, false);
  Cell* received = stack::push_slot();
  binary::init_cell(received, 0);
  StackBinarySink sink(received);
  std::optional<http::Response> response =
      address.find('\0') == std::string::npos ? http::request(method, address, headers, body, sink) : std::nullopt;
  if (!response) {
    Cell failed = url;
    fire(ErrorId::access_no_connect, &failed);
  }
  Cell* content = received;
  if (!binary_wanted) {
    Cell bytes_cell = *received;
    const uint8_t* head = binary::rs_head(&bytes_cell);
    std::vector<uint8_t> bytes(head, head + binary::rs_length(&bytes_cell));
    content = file_system::push_content(bytes, false, lines);
  }
  if (!info) return stack::set_result(*content);
  Cell* result = block::push_only(3);
  block::rs_append(result, integer::make(static_cast<int32_t>(response->status)));
  Cell* headers_map = push_header_map(response->headers);
  block::rs_append(result, *headers_map);
  block::rs_append(result, *content);
  return stack::set_result(*result);
}

bool is_http(Cell* url) { return string::starts_with_literal(url, "http"); }

// Any other URL is read and written through a port of its scheme: the
// library's URL parser gives the port's spec, and the frame's URL cell
// becomes the port, which the port! action then works on. A URL the parser
// refuses is an invalid argument; a scheme nobody registered is unknown.
void become_port(Cell* url_cell) {
  Cell url = *url_cell;
  Cell parse_url = make_cell(TYPE_NONE);
  const Cell* parser = context::global_slot(symbol::make("url-parser"));
  if (parser != nullptr && object::is_object_kind(parser->type())) {
    const Cell* field = object::find_field(object::context_of(*parser), symbol::make("parse-url"));
    if (field != nullptr) parse_url = *field;
  }
  if (!parse_url.is(TYPE_FUNCTION)) fire(ErrorId::script_invalid_arg, &url);
  Cell* parts = stack::push(upcalls::table.call_value(parse_url, &url, 1));
  if (!object::is_object_kind(parts->type())) fire(ErrorId::script_invalid_arg, &url);
  Cell* port = port::make(nullptr, parts, TYPE_PORT);
  *url_cell = *port;
}

[[noreturn]] void fire_invalid_arg(const Cell& value) {
  Cell offending = value;
  fire(ErrorId::script_invalid_arg, &offending);
}

}  // namespace

Cell* read_action(Cell* source, int part, int seek, int binary, int lines, int info, int as) {
  if (!is_http(source)) {
    become_port(source);
    return action_handler<Action::read>(TYPE_PORT)(source, part, seek, binary, lines, info, as);
  }
  if (part >= 0 || seek >= 0 || as >= 0) fire(ErrorId::internal_not_done);
  Cell url = *source;
  return exchange(url, "GET", http::default_headers(), std::nullopt, binary >= 0, lines >= 0, info >= 0);
}

Cell* write_action(Cell* destination, Cell* data, int binary, int lines, int info, int append, int part, int seek,
                   int allow, int as) {
  if (!is_http(destination)) {
    become_port(destination);
    return action_handler<Action::write>(TYPE_PORT)(destination, data, binary, lines, info, append, part, seek,
                                                     allow, as);
  }
  if (seek >= 0 || allow >= 0 || as >= 0) fire(ErrorId::internal_not_done);
  Cell url = *destination;
  Cell given = *data;
  std::string method = "POST";
  std::vector<http::Header> headers = http::default_headers();
  std::optional<std::vector<uint8_t>> body;
  if (given.is(TYPE_BLOCK)) {
    // [method [header fields] body]
    Cell request = given;
    int32_t length = block::rs_length(&request);
    Cell method_word = length > 0 ? block::rs_head(&request)[0] : make_cell(TYPE_NONE);
    Cell fields = length > 1 ? block::rs_head(&request)[1] : make_cell(TYPE_NONE);
    Cell content = length > 2 ? block::rs_head(&request)[2] : make_cell(TYPE_NONE);
    if (!method_word.is(TYPE_WORD)) fire_invalid_arg(method_word);
    if (!fields.is(TYPE_BLOCK)) fire_invalid_arg(fields);
    if (!content.is(TYPE_BLOCK) && !content.is(TYPE_STRING) && !content.is(TYPE_BINARY)) fire_invalid_arg(content);
    method = http::method_text(spelling(method_word));
    headers = header_fields(fields);
    body = body_bytes(content);
  } else {
    body = body_bytes(given);
  }
  return exchange(url, method, headers, body, binary >= 0, lines >= 0, info >= 0);
}

void init() {
  upcalls::table.url_read = read_action;
  upcalls::table.url_write = write_action;
}

}  // namespace kel::url_actions
