// The cycle stack (see cycles.h): a fixed array of 1000 node ids.
#include "runtime/cycles.h"

#include "runtime/string_buffer.h"
#include "runtime/errors.h"

namespace kel::cycles {

namespace {
NodeId entries[kCapacity];
uint32_t count = 0;
}  // namespace

void push(NodeId node) {
  entries[count++] = node;
  if (count >= kCapacity) {
    count = 0;
    fire(ErrorId::internal_too_deep);
  }
}

void pop() {
  if (count > 0) --count;
}

void pop_n(uint32_t n) { count = n > count ? 0 : count - n; }

void reset() { count = 0; }

uint32_t size() { return count; }

bool find(NodeId node) {
  for (uint32_t i = 0; i < count; ++i)
    if (entries[i] == node) return true;
  return false;
}

NodeId node_of(const Cell& value) {
  TypeId type = value.type();
  return type == TYPE_OBJECT || type == TYPE_ERROR || type == TYPE_PORT ? value.data1 : value.data2;
}

const char* ellipsis(const Cell& value, bool mold) {
  if (!mold) return "...";
  switch (value.type()) {
    case TYPE_BLOCK:
    case TYPE_HASH: return "[...]";
    case TYPE_PAREN: return "(...)";
    case TYPE_MAP: return "#[...]";
    case TYPE_OBJECT: return "make object! [...]";
    default: return "...";
  }
}

bool detect(const Cell& value, Cell* output, int32_t* remaining, bool mold) {
  if (!find(node_of(value))) return false;
  const char* text = ellipsis(value, mold);
  string::concatenate_literal(output, text);
  int32_t length = 0;
  while (text[length]) ++length;
  *remaining -= length;
  return true;
}

void mark(NodeId (*forward)(NodeId)) {
  for (uint32_t i = 0; i < count; ++i) entries[i] = forward(entries[i]);
}

}  // namespace kel::cycles
