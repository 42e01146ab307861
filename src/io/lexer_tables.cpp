// The token entries: for each of the 36 final states, its name, its
// scanner and its loader, in entry order (final state 66 + entry).
#include "io/lexer_tables.h"

#include "io/lexer_internal.h"

namespace kel::lexer {

constexpr std::array<const char*, kFinalStateCount> kTokenEntryNames = {
    "end",     "error",   "[",           "]",       "(",      ")",       "{",       "}",      "#[",
    "path",    "#(",      "comment",     ",",       "string", "word",    "issue",   "integer", "refinement",
    "char",    "file",    "binary",      "percent", "float",  "special float", "tuple", "date", "pair",
    "point",   "time",    "money",       "tag",     "url",    "email",   "hex",     "raw string", "ref",
};

constexpr Handler kScanners[kFinalStateCount] = {
    scan_end,          // 0  end of input
    scan_error,        // 1  no valid continuation
    scan_series_open,  // 2  [
    scan_block_close,  // 3  ]
    scan_series_open,  // 4  (
    scan_paren_close,  // 5  )
    scan_brace_open,   // 6  {
    scan_brace_close,  // 7  } inside a braced string
    scan_map_open,     // 8  #[
    scan_path,         // 9  a word-like head before "/"
    scan_construct,    // 10 #( ... )
    scan_comment,      // 11 ;
    scan_comma,        // 12 ,
    scan_string_token, // 13 quoted string
    scan_word,         // 14 word
    scan_issue,        // 15 issue
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

constexpr Handler kLoaders[kFinalStateCount] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr,
    load_string,         // 13 quoted string
    load_word,           // 14 word
    load_word,           // 15 issue
    load_integer,        // 16
    load_refinement,     // 17
    load_char,           // 18
    load_file,           // 19
    load_binary,         // 20
    load_percent,        // 21
    load_float,          // 22
    load_special_float,  // 23
    load_tuple,          // 24
    load_date,           // 25
    load_pair,           // 26
    load_point,          // 27
    load_time,           // 28
    load_money,          // 29
    load_tag,            // 30
    load_url,            // 31
    load_email,          // 32
    load_hex,            // 33
    load_raw_string,     // 34
    load_ref,            // 35
};

static_assert(sizeof(kScanners) / sizeof(kScanners[0]) == kFinalStateCount, "one scanner slot per token entry");
static_assert(sizeof(kLoaders) / sizeof(kLoaders[0]) == kFinalStateCount, "one loader slot per token entry");

}  // namespace kel::lexer
