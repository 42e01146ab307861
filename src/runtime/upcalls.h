// The registration table: the one way a lower layer calls up.
//
// Each folder of src/ is a layer that uses only the layers below it
// (docs/architecture.md has the table; scripts/check-layers.py and the
// CMake libraries hold every include and every link to it). Where a lower
// layer must still reach code above it (the collector marking what the
// lexer and the parse engine hold, fire() making an error! value, an
// action calling a user function, the library's routines reading the
// console's input), it calls an entry of this table, which the layer that
// owns the code fills from its own init function at start-up.
//
// Hot paths never go through the table: only calls that genuinely go up.
// An entry left empty would fail only when a script reaches it, so the
// start-up wiring check (boot/wiring_check.h) names every empty entry in
// debug and test builds and stops the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/action_slots.h"
#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace kel::upcalls {

// --- Entry types --------------------------------------------------------------------------------

using MakeError = Cell (*)(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
using RecordRaise = void (*)(const Cell& error, uint32_t where_symbol, NodeId where_context, uint32_t depth);
using ErrorText = std::string (*)(const Cell& error);
using RaiseExpectArg = void (*)(int32_t index, TypeId type);
using ReportError = void (*)(const Cell& error);
using MarkRoots = void (*)();
using LoadSource = void (*)(Cell* result, const Cell* text);
using ScanWord = TypeId (*)(std::string_view utf8, Cell* out);
using CallValue = Cell (*)(const Cell& callable, const Cell* arguments, uint32_t count);
using CallFunction = void (*)(const Cell& function, NodeId context);
using EvalBlock = void (*)(const Cell& block, bool chain);
using ArgumentCache = NodeId (*)(const Cell& callable);
using OpenFunctionFrame = uint32_t (*)(const Cell& function, const Cell& name, const Cell* given, uint32_t count,
                                        bool through_refinements);
using Position = Cell (*)();
using CallComparison = Cell (*)(const Cell& function, const Cell& first, const Cell& second);
using MonthNames = Cell (*)();
using LexerCallback = bool (*)(const Cell& callback, Cell* arguments);
using LexerFirstBodyValue = bool (*)(const Cell& callback, Cell* out);
using CallRoutine = void (*)(const Cell& routine);
using CompiledBody = void (*)();
using FindCompiledBody = CompiledBody (*)(int32_t index);
using RoutineEntry = void (*)(uint32_t parameter);
using LoadLibraryText = Cell* (*)(std::string_view text);
using ProcessEnd = void (*)();

// --- The entries --------------------------------------------------------------------------------
// X(layer that fills it, name, type, what calls it)

#define KEL_UPCALLS(X)                                                                              \
  /* runtime: errors and the stack */                                                               \
  X(datatypes, make_error, MakeError, "fire() builds the error! value")                            \
  X(datatypes, record_raise, RecordRaise, "the stack records where an error was raised")           \
  X(datatypes, error_text, ErrorText, "the stack prints an error no try caught")                   \
  X(datatypes, raise_expect_arg, RaiseExpectArg, "action dispatch: a datatype without a handler")  \
  X(evaluator, report_error, ReportError, "fire() tells the tracer")                               \
  /* runtime: the collector's roots above it */                                                     \
  X(datatypes, mark_datatype_roots, MarkRoots, "the collector marks the global context")           \
  X(io, mark_lexer_roots, MarkRoots, "the collector marks the running scans' values")              \
  X(evaluator, mark_evaluator_roots, MarkRoots, "the collector marks the parse engines' values")   \
  /* datatypes: the lexer and the file system */                                                    \
  X(io, load_source, LoadSource, "to block! of a string loads its text")                           \
  X(io, scan_word, ScanWord, "word! conversions scan their text")                                  \
  X(io, file_read, ActionHandler<Action::read>, "read of a file!")                                 \
  X(io, file_write, ActionHandler<Action::write>, "write of a file!")                              \
  X(io, file_query, ActionHandler<Action::query>, "query of a file!")                              \
  X(io, file_delete, ActionHandler<Action::delete_>, "delete of a file!")                          \
  X(io, file_rename, ActionHandler<Action::rename>, "rename of a file!")                           \
  X(io, url_read, ActionHandler<Action::read>, "read of a url! (HTTP)")                            \
  X(io, url_write, ActionHandler<Action::write>, "write of a url! (HTTP)")                         \
  /* datatypes: calling Kel code */                                                                 \
  X(evaluator, call_value, CallValue, "objects call their change handlers")                        \
  X(evaluator, call_function, CallFunction, "ports call their actor's functions")                  \
  X(evaluator, eval_block, EvalBlock, "make object! evaluates its spec")                           \
  X(evaluator, argument_cache, ArgumentCache, "make native! reads a callable's interface")          \
  X(evaluator, open_function_frame, OpenFunctionFrame, "ports lay out their actor's frames")       \
  X(evaluator, position, Position, "an error takes its near from the running code")                \
  X(evaluator, call_comparison, CallComparison, "sort/compare with a function")                    \
  X(library, month_names, MonthNames, "date mold reads system/locale/months")                      \
  /* io: the lexer's callback */                                                                    \
  X(evaluator, lexer_callback, LexerCallback, "transcode/trace calls its callback")                \
  X(evaluator, lexer_first_body_value, LexerFirstBodyValue, "transcode/trace reads a callback body") \
  /* evaluator: routines and compiled bodies */                                                     \
  X(library, call_routine, CallRoutine, "the interpreter calls a routine! value")                  \
  X(library, compiled_body, FindCompiledBody, "the interpreter runs a compiled library function")  \
  /* library: the console's input and the script on the command line */                             \
  X(console, set_buffer_history, RoutineEntry, "_set-buffer-history")                              \
  X(console, read_input, RoutineEntry, "_read-input")                                              \
  X(console, terminate_console, RoutineEntry, "_terminate-console")                                \
  X(console, input_stdin, RoutineEntry, "input-stdin")                                             \
  X(console, read_stdin, RoutineEntry, "read-stdin")                                               \
  X(console, terminal_size, RoutineEntry, "_terminal-size")                                        \
  X(console, console_title, RoutineEntry, "_console-title")                                        \
  X(boot, script_argument, RoutineEntry, "_script-argument")                                        \
  /* library: the Kel texts its tables hold, loaded ready from the boot image */                     \
  X(boot, load_library_text, LoadLibraryText, "routine interfaces and error templates are loaded") \
  /* runtime: the end of the process */                                                             \
  X(gui_terminal, end_of_process, ProcessEnd, "the process ends: the terminal GUI restores the terminal")

struct Table {
#define KEL_UPCALL_FIELD(layer, name, type, use) type name = nullptr;
  KEL_UPCALLS(KEL_UPCALL_FIELD)
#undef KEL_UPCALL_FIELD
};

// The one table, filled at start-up.
extern Table table;

// The entries still empty, as "layer name (use)"; none once start-up has
// filled the table.
std::vector<std::string> empty_entries();

// A plain function that calls an entry of the table, for tables fixed at
// compile time (a datatype's action handlers, the routine rows) whose
// entry is filled at start-up: forward<&Table::file_read> has the entry's
// own signature.
template <auto Member>
struct Forwarder;
template <class Result, class... Arguments, Result (*Table::*Member)(Arguments...)>
struct Forwarder<Member> {
  static Result call(Arguments... arguments) { return (table.*Member)(arguments...); }
};
template <auto Member>
constexpr auto forward = &Forwarder<Member>::call;

}  // namespace kel::upcalls
