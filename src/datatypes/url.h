// url!: a resource locator kept as text.
//
// Cell and buffer as string! (string.h) with type 9; url! is a child of
// string! and the parent of file!. Beside the string behaviour it owns the
// percent-encoding codec (used by the dehex and enhex natives and by the
// lexer for url! and file! literals), its mold, the building of a URL from
// a block, and path access that appends a segment.
//
// Percent encoding works on the UTF-8 bytes of the text. Two 128-entry
// tables decide which bytes stand unescaped: the URL set (letters, digits
// and ! # $ & ' ( ) * + , - . / : = ? @ _ ~), used by mold and by default,
// and the unreserved set (letters, digits and - . _ ~), mode 254. Bytes 128
// and above are always escaped; mold also escapes "(" and ")", at which
// the lexer would end the URL. Decoding never loses a byte: a "%" not
// followed by two hexadecimal digits is kept as a character, and a run of
// escapes that is not well-formed UTF-8 (cut short or malformed) gives its
// bytes as code points.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::url {

// The mode value that selects the unreserved set.
constexpr int32_t kUnreservedMode = 254;
constexpr int32_t kUrlMode = 255;

// True when the byte stands unescaped in the URL set (the same table
// decides quoting in file! mold) or in the unreserved set.
bool url_byte_allowed(uint32_t byte);
bool unreserved_byte_allowed(uint32_t byte);

// Pushes a copy of the cell.
Cell* push(const Cell& url);
// A new url! from UTF-8 text with its escapes decoded, pushed on the stack
// (the lexer's loader for url! literals).
Cell* load(const uint8_t* bytes, uint32_t length);
// At text[0] == "%" followed by two hexadecimal digits: stores the byte and
// answers true; else false. Reads at most 3 of the length bytes.
bool decode_hex_pair(const uint8_t* text, uint32_t length, uint8_t* byte);
// The byte itself (count 1) when the mode's table allows it, else "%" and
// two upper-case hexadecimal digits (count 3); writes into out.
uint32_t escape_byte(int32_t mode, uint8_t byte, char out[3]);
// Appends the text of the string from its index, its escapes decoded, to
// the target string.
void dehex(const Cell* source, Cell* target);
// Appends the UTF-8 bytes of the string from its index to the target, each
// escaped unless the mode's table allows it (254 the unreserved set, any
// other value the URL set).
void enhex(const Cell* source, Cell* target, int32_t mode);

// Action handlers (file! inherits make, to and eval-path).
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_sensitive, bool get, bool tail);

// Registers url! (id 9, parent string!).
void init();

}  // namespace kel::url
