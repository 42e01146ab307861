// Terminal bytes to line editor keys (see key_decoder.h).
#include "console/key_decoder.h"

namespace kel::key_decoder {

namespace {

constexpr char kEsc = '\x1B';
constexpr int32_t kNotComplete = -1000;

// The length of the UTF-8 sequence a lead byte starts (0: none).
int sequence_length(uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool continuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The second byte's range of a lead byte, which rules out overlong forms,
// surrogates and code points beyond U+10FFFF.
bool second_byte_allowed(uint8_t lead, uint8_t second) {
  switch (lead) {
    case 0xE0: return second >= 0xA0 && second <= 0xBF;
    case 0xED: return second >= 0x80 && second <= 0x9F;
    case 0xF0: return second >= 0x90 && second <= 0xBF;
    case 0xF4: return second >= 0x80 && second <= 0x8F;
    default: return continuation(second);
  }
}

// The key of a CSI sequence's final byte with its first parameter.
int32_t csi_key(char final, int parameter) {
  switch (final) {
    case 'A': return keys::kUp;
    case 'B': return keys::kDown;
    case 'C': return keys::kRight;
    case 'D': return keys::kLeft;
    case 'H': return keys::kHome;
    case 'F': return keys::kEnd;
    case '~':
      switch (parameter) {
        case 1: case 7: return keys::kHome;
        case 2: return keys::kInsert;
        case 3: return keys::kDelete;
        case 4: case 8: return keys::kEnd;
        case 5: return keys::kPageUp;
        case 6: return keys::kPageDown;
        default: return keys::kIgnored;
      }
    default: return keys::kIgnored;
  }
}

}  // namespace

int32_t decode_utf8(const char* bytes, size_t available, size_t* used) {
  auto lead = static_cast<uint8_t>(bytes[0]);
  int length = sequence_length(lead);
  *used = 1;
  if (length == 0) return kReplacementChar;
  if (length == 1) return lead;
  for (int k = 1; k < length; ++k) {
    if (static_cast<size_t>(k) >= available) return kIncomplete;
    auto byte = static_cast<uint8_t>(bytes[k]);
    if (k == 1 ? !second_byte_allowed(lead, byte) : !continuation(byte)) return kReplacementChar;
  }
  int32_t code = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) code = (code << 6) | (static_cast<uint8_t>(bytes[k]) & 0x3F);
  *used = static_cast<size_t>(length);
  return code;
}

int32_t Decoder::sequence(size_t at, size_t* length) const {
  size_t end = pending_.size();
  if (at + 1 >= end) return kNotComplete;
  char introducer = pending_[at + 1];
  if (introducer != '[' && introducer != 'O') {
    // ESC and any other byte: an Alt chord or a sequence we do not speak.
    // A second ESC is left to be a key of its own.
    *length = introducer == kEsc ? 1 : 2;
    return introducer == kEsc ? keys::kEscape : keys::kIgnored;
  }
  size_t i = at + 2;
  // The Linux console's function keys: ESC [ [ A to ESC [ [ E.
  if (introducer == '[' && i < end && pending_[i] == '[') {
    if (i + 1 >= end) return kNotComplete;
    *length = i + 2 - at;
    return keys::kIgnored;
  }
  int parameter = 0;
  bool first_parameter = true;
  for (; i < end; ++i) {
    auto byte = static_cast<uint8_t>(pending_[i]);
    if (byte >= '0' && byte <= '9') {
      if (first_parameter && parameter < 1000) parameter = parameter * 10 + (byte - '0');
      continue;
    }
    if (byte >= 0x20 && byte <= 0x3F) {  // separators and private markers, intermediates
      if (byte == ';') first_parameter = false;
      continue;
    }
    *length = i + 1 - at;
    if (byte >= 0x40 && byte <= 0x7E) return csi_key(static_cast<char>(byte), parameter);
    // A byte no sequence holds: what came before it is dropped, and the
    // byte itself is read again as input.
    *length = i - at;
    return keys::kIgnored;
  }
  return kNotComplete;
}

size_t Decoder::decode(std::vector<int32_t>* keys) {
  size_t i = 0;
  while (i < pending_.size()) {
    auto byte = static_cast<uint8_t>(pending_[i]);
    if (byte == 0x1B) {
      size_t length = 0;
      int32_t key = sequence(i, &length);
      if (key == kNotComplete) break;
      if (key != keys::kIgnored) keys->push_back(key);
      after_carriage_return_ = false;
      i += length;
      continue;
    }
    if (byte == '\r' || byte == '\n') {
      if (!(byte == '\n' && after_carriage_return_)) keys->push_back(keys::kEnter);
      after_carriage_return_ = byte == '\r';
      ++i;
      continue;
    }
    after_carriage_return_ = false;
    size_t used = 0;
    int32_t code = decode_utf8(pending_.data() + i, pending_.size() - i, &used);
    if (code == kIncomplete) break;
    keys->push_back(code);
    i += used;
  }
  return i;
}

void Decoder::feed(const char* bytes, size_t count, std::vector<int32_t>* keys) {
  pending_.append(bytes, count);
  pending_.erase(0, decode(keys));
}

bool Decoder::escape_pending() const { return !pending_.empty() && pending_[0] == kEsc; }

void Decoder::timeout(std::vector<int32_t>* keys) {
  if (!escape_pending()) return;
  if (pending_.size() == 1) {
    keys->push_back(keys::kEscape);
    pending_.clear();
    return;
  }
  // The start of a sequence that never finished: dropped, and what
  // follows it (if anything) decoded afresh.
  size_t drop = 2;
  while (drop < pending_.size()) {
    auto byte = static_cast<uint8_t>(pending_[drop]);
    if (!((byte >= '0' && byte <= '9') || byte == ';' || byte == '[')) break;
    ++drop;
  }
  pending_.erase(0, drop);
  pending_.erase(0, decode(keys));
}

}  // namespace kel::key_decoder
