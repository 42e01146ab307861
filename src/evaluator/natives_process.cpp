// The call native: runs another program through the child-process layer
// (io/child_process.h) with its standard streams taken from and given to
// strings, binaries and files.
//
// Values become bytes and paths before the child starts and captured bytes
// become values only after it has ended (or its pipes have closed), so no
// buffer pointer is held while the child runs. A string sent as input goes
// as UTF-8 with its line feeds as they are; captured text is read as UTF-8
// with CR LF and lone CR turned into line feeds and appended at the
// target's tail; captured bytes are inserted at a binary target's position.
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "evaluator/native_arguments.h"
#include "evaluator/natives.h"
#include "evaluator/natives_families.h"
#include "io/child_process.h"
#include "io/file_system.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/stack.h"
#include "runtime/string_buffer.h"

namespace kel::natives_process {

namespace {

using namespace native_arguments;

Cell command_types;  // string! file!
Cell stream_types;   // string! file! binary!

// The refinements of call, in the order of its spec.
enum CallRefinement { kWait, kShow, kConsole, kShell, kInput, kOutput, kError, kCallRefinements };

std::string text_of(const Cell& value) {
  std::string text = value.is(TYPE_FILE) ? file::to_os_path(value, false) : string::to_std_string(value);
  // The system takes NUL-terminated texts: an embedded NUL would cut the
  // command or the path short.
  if (text.find('\0') != std::string::npos) {
    Cell offending = value;
    fire(ErrorId::script_invalid_arg, &offending);
  }
  return text;
}

void bytes_of_binary(const Cell& binary, std::vector<uint8_t>& out) {
  Cell copy = binary;
  uint32_t length = binary::rs_length(&copy);
  const uint8_t* head = binary::rs_head(&copy);
  out.assign(head, head + length);
}

// Where one stream of the child goes, from the refinement's argument.
child_process::Stream stream_of(int32_t at, bool input) {
  child_process::Stream stream;
  if (!used(at)) return stream;
  Cell value = *argument(at);
  if (value.is(TYPE_FILE)) {
    stream.kind = child_process::Stream::Kind::kFile;
    stream.path = text_of(value);
  } else {
    stream.kind = child_process::Stream::Kind::kBytes;
    if (input) {
      if (value.is(TYPE_BINARY)) {
        bytes_of_binary(value, stream.bytes);
      } else {
        std::string text = string::to_std_string(value);
        stream.bytes.assign(text.begin(), text.end());
      }
    }
  }
  return stream;
}

// Captured bytes into the refinement's string! or binary! target.
void deliver(int32_t at, const std::vector<uint8_t>& bytes) {
  if (!used(at) || bytes.empty()) return;
  Cell* target = argument(at);
  if (target->is(TYPE_BINARY)) {
    binary::insert_bytes(target, 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
  } else if (target->is(TYPE_STRING)) {
    stack::Guard guard;
    Cell* text = file_system::push_content(bytes, false, false);
    string::concatenate_part(argument(at), text, -1);
  }
}

// Refinements: /wait /show /console /shell /input in /output out /error err.
// /show asks for a visible window, which a program started here never
// lacks: it changes nothing.
void call(bool check_types, const int32_t* refinements) {
  int32_t input_at = refinements[kInput];
  int32_t output_at = refinements[kOutput];
  int32_t error_at = refinements[kError];
  if (check_types) {
    check(command_types, 0);
    for (int32_t at : {input_at, output_at, error_at})
      if (used(at)) check(stream_types, at);
  }
  Cell command = *argument(0);
  child_process::Request request;
  std::string text = text_of(command);
  if (used(refinements[kShell])) {
    request.shell_command = text;
  } else if (command.is(TYPE_FILE)) {
    // A file names the program itself, spaces and all.
    request.arguments.push_back(text);
    request.shell_fallback = text;
  } else {
    request.arguments = child_process::split_command_line(text);
    request.shell_fallback = text;
  }
  request.wait = used(refinements[kWait]);
  request.share_console = used(refinements[kConsole]);
  request.input = stream_of(input_at, true);
  request.output = stream_of(output_at, false);
  request.error = stream_of(error_at, false);

  // A child that shares the console writes straight to it: what this
  // process has printed so far must be out first.
  if (request.share_console) output::flush();
  int64_t answer = child_process::run(request);
  deliver(output_at, request.output.bytes);
  deliver(error_at, request.error.bytes);
  stack::set_last(integer::make(static_cast<int32_t>(answer)));
}

}  // namespace

void init() {
  command_types = typeset_of({{TYPE_STRING, TYPE_FILE}});
  stream_types = typeset_of({{TYPE_STRING, TYPE_FILE, TYPE_BINARY}});
  natives::install(natives::Native::call, call);
}

}  // namespace kel::natives_process
