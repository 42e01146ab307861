// Child processes: one program run with its standard streams wired to the
// caller's bytes, files or the null device (the work behind `call`).
//
// A request names the program (an argument vector, or a command line for
// /bin/sh -c), whether to wait, whether the child shares this process's
// console, and for each standard stream where it comes from or goes to.
// Nothing here touches cells: the caller turns values into bytes and paths
// before the run and captured bytes into values after it, so no buffer
// pointer is held while the child runs.
//
// Invariants:
// - A file that cannot be opened, a pipe that cannot be made and a program
//   that cannot be started all answer -1, and then no child runs (files
//   are opened before anything is started).
// - Input is fed and output and error are drained together through
//   non-blocking pipes and poll, so no size on any stream can stall the
//   call.
// - Every child is reaped: a waited one at once, one not waited for by a
//   thread that waits for it in the background, so none is left a zombie.
// - A child ended by a signal reports 128 + the signal's number, as the
//   shell does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kel::child_process {

// Where one standard stream comes from (input) or goes to (output, error).
struct Stream {
  enum class Kind {
    kDefault,  // the console's stream with share_console, else the null device
    kBytes,    // input: the bytes given; output: captured into bytes
    kFile,     // input: read from the file; output: appended to the file
  };
  Kind kind = Kind::kDefault;
  std::vector<uint8_t> bytes;  // kBytes: input to send, or what was captured
  std::string path;            // kFile: the operating system's path
};

struct Request {
  // The program and its arguments; the program is looked up on PATH.
  std::vector<std::string> arguments;
  // When set, the command line is run by /bin/sh -c instead.
  std::optional<std::string> shell_command;
  // When the program itself cannot be found, run this command line through
  // the shell instead (the shell then answers 127 for a missing program).
  std::optional<std::string> shell_fallback;
  bool wait = false;
  // The child shares this process's standard input, output and error where
  // they are not redirected; without it, output and error go to the null
  // device. Sharing the console implies waiting.
  bool share_console = false;
  Stream input;
  Stream output;
  Stream error;
};

// Runs the request. The answer is the exit status when the call waited
// (128 + n for a child that signal n ended), the process id when it did
// not, or -1 when nothing could be started. Redirecting any stream makes
// the call wait. Captured bytes land in request.output.bytes and
// request.error.bytes.
int64_t run(Request& request);

// Splits a command line into arguments: blanks separate them, double quotes
// group (a backslash before a double quote or a backslash takes it
// literally), so "a b" "c\"d" gives the two arguments a b and c"d.
std::vector<std::string> split_command_line(const std::string& line);

// The children started without waiting that are not reaped yet (for tests).
int pending_children();

}  // namespace kel::child_process
