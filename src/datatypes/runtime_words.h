// Runtime words: the names that the runtime and the datatypes compare
// against (action refinements, path keys of date! and event!, operating
// system names, error categories, tracing and change events), interned once
// at start-up so that each test is a comparison of symbol ids.
//
// Each global holds the symbol id of its name, exactly as interned (not the
// canonical id: none of these names is a case variant of an earlier one,
// since they are interned before any user text). The list keeps the
// interning order; a name listed twice (D entries) is interned again and
// yields the same id, so it has one global. Angle-bracketed names mark
// internal frames and callbacks, and can never be typed as words.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::runtime_words {

// X(identifier, "name") declares a global; D(identifier, "name") repeats an
// earlier name. 191 entries in interning order. Identifiers follow the names
// ("on-change*" on_change_star, "events?" events_q, "logic!" logic_type,
// "<anon>" angled_anon, operating systems os_*); a trailing underscore marks
// a name that is a C++ keyword or one of this namespace's routines (init_).
#define KEL_RUNTIME_WORDS(X, D) \
  X(spec, "spec") \
  X(body, "body") \
  X(words, "words") \
  X(class_, "class") \
  X(logic_type, "logic!") \
  X(integer_type, "integer!") \
  X(char_type, "char!") \
  X(float_type, "float!") \
  X(percent_type, "percent!") \
  X(any_type, "any-type!") \
  X(exit, "exit") \
  X(return_, "return") \
  X(os_windows, "Windows") \
  X(os_syllable, "Syllable") \
  X(os_macos, "macOS") \
  X(os_linux, "Linux") \
  X(os_netbsd, "NetBSD") \
  X(repeat, "repeat") \
  X(foreach, "foreach") \
  X(map_each, "map-each") \
  X(remove_each, "remove-each") \
  X(break_, "break") \
  X(copy, "copy") \
  X(fail, "fail") \
  X(into, "into") \
  X(quote, "quote") \
  X(case_, "case") \
  X(reject, "reject") \
  X(skip, "skip") \
  X(some, "some") \
  X(thru, "thru") \
  X(none, "none") \
  X(remove, "remove") \
  X(while_, "while") \
  X(insert, "insert") \
  X(only, "only") \
  X(collect, "collect") \
  X(keep, "keep") \
  X(pick, "pick") \
  X(ahead, "ahead") \
  X(after, "after") \
  X(self, "self") \
  X(values, "values") \
  X(owner, "owner") \
  X(owned, "owned") \
  X(events_q, "events?") \
  X(true_, "true") \
  X(false_, "false") \
  X(type, "type") \
  X(face, "face") \
  X(window, "window") \
  X(offset, "offset") \
  X(flag, "flag") \
  X(code, "code") \
  X(picked, "picked") \
  X(flags, "flags") \
  X(away_q, "away?") \
  X(ctrl_q, "ctrl?") \
  X(shift_q, "shift?") \
  X(down_q, "down?") \
  X(mid_down_q, "mid-down?") \
  X(alt_down_q, "alt-down?") \
  X(aux_down_q, "aux-down?") \
  X(orientation, "orientation") \
  X(post, "post") \
  X(head, "head") \
  X(size, "size") \
  X(alpha, "alpha") \
  X(argb, "argb") \
  X(date, "date") \
  X(year, "year") \
  X(month, "month") \
  X(zone, "zone") \
  X(isoweek, "isoweek") \
  X(week, "week") \
  X(weekday, "weekday") \
  X(yearday, "yearday") \
  X(julian, "julian") \
  X(time, "time") \
  X(hour, "hour") \
  X(minute, "minute") \
  X(second, "second") \
  X(timezone, "timezone") \
  D(code, "code") \
  X(amount, "amount") \
  X(user, "user") \
  X(host, "host") \
  X(system, "system") \
  X(system_global, "system-global") \
  X(stack, "stack") \
  X(trace, "trace") \
  X(no_trace, "no-trace") \
  X(back, "back") \
  X(find, "find") \
  D(head, "head") \
  X(head_q, "head?") \
  X(index_q, "index?") \
  X(length_q, "length?") \
  X(next, "next") \
  D(pick, "pick") \
  D(skip, "skip") \
  X(select, "select") \
  X(tail, "tail") \
  X(tail_q, "tail?") \
  X(change, "change") \
  X(changed, "changed") \
  X(clear, "clear") \
  X(cleared, "cleared") \
  X(set_path, "set-path") \
  X(append, "append") \
  X(appended, "appended") \
  X(move, "move") \
  X(moved, "moved") \
  X(poke, "poke") \
  X(poked, "poked") \
  X(put_ed, "put-ed") \
  X(removed, "removed") \
  X(random, "random") \
  X(randomized, "randomized") \
  X(reverse, "reverse") \
  X(reversed, "reversed") \
  X(sort, "sort") \
  X(sorted, "sorted") \
  X(swap, "swap") \
  X(swaped, "swaped") \
  X(take, "take") \
  X(taken, "taken") \
  X(trim, "trim") \
  X(trimmed, "trimmed") \
  X(inserted, "inserted") \
  X(uppercase, "uppercase") \
  X(lowercase, "lowercase") \
  X(checksum, "checksum") \
  X(push, "push") \
  X(fetch, "fetch") \
  X(match, "match") \
  X(iterate, "iterate") \
  X(paren, "paren") \
  X(angled_anon, "<anon>") \
  X(angled_body, "<body>") \
  X(angled_not_found, "<not-found>") \
  X(subtract, "subtract") \
  X(divide, "divide") \
  X(on_parse_event, "on-parse-event") \
  X(on_change_star, "on-change*") \
  X(on_deep_change_star, "on-deep-change*") \
  D(type, "type") \
  X(catch_, "catch") \
  X(name, "name") \
  X(multiply, "multiply") \
  X(browse, "browse") \
  X(open, "open") \
  X(create, "create") \
  X(close, "close") \
  X(delete_, "delete") \
  X(modify, "modify") \
  X(query, "query") \
  X(read, "read") \
  X(rename, "rename") \
  X(update, "update") \
  X(write, "write") \
  X(prescan, "prescan") \
  X(scan, "scan") \
  X(load, "load") \
  X(error, "error") \
  X(comment, "comment") \
  X(init_, "init") \
  X(exec, "exec") \
  X(call, "call") \
  D(return_, "return") \
  X(enter, "enter") \
  D(exit, "exit") \
  X(prolog, "prolog") \
  X(epilog, "epilog") \
  X(throw_, "throw") \
  X(expr, "expr") \
  X(angled_interp_callback, "<interp-callback>") \
  X(angled_lexer_callback, "<lexer-callback>") \
  X(angled_parse_callback, "<parse-callback>") \
  X(angled_compare_callback, "<compare-callback>") \
  D(throw_, "throw") \
  X(note, "note") \
  X(syntax, "syntax") \
  X(script, "script") \
  X(math, "math") \
  X(access, "access") \
  D(user, "user") \
  X(internal, "internal") \
  X(invalid_error, "invalid-error") \
  X(local, "local") \
  X(angled_applied, "<applied>")

#define KEL_RUNTIME_WORD_DECLARE(ident, name) extern uint32_t ident;
#define KEL_RUNTIME_WORD_REPEAT(ident, name)
KEL_RUNTIME_WORDS(KEL_RUNTIME_WORD_DECLARE, KEL_RUNTIME_WORD_REPEAT)
#undef KEL_RUNTIME_WORD_DECLARE
#undef KEL_RUNTIME_WORD_REPEAT

constexpr int kRuntimeWordCount = 191;

// The refinements of the actions and natives that the runtime tests for,
// with no context; copies of cells kept in the root block.
extern Cell local_refinement;
extern Cell extern_refinement;
extern Cell compare_refinement;
extern Cell part_refinement;
extern Cell skip_refinement;
extern Cell with_refinement;
// The issue #ooo (global context, never bound).
extern Cell ooo_issue;

// Interns the names in order and stores their ids (init-runtime-words).
void init_words();
// Makes and keeps the six refinements (init-runtime-refinements).
void init_refinements();
// Makes and keeps the issue (init-runtime-issues).
void init_issues();
// The three in order; needs the symbol table and the global context.
void init();

}  // namespace kel::runtime_words
