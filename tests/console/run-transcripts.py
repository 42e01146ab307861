#!/usr/bin/env python3
"""Console transcripts: feeds each NAME.in to the real kel binary and
compares what it prints, byte for byte, and its exit status.

    run-transcripts.py <kel-binary> <dir>

For each NAME.in in <dir>:
  NAME.args    optional: the command-line arguments, one per line
  NAME.out     the exact standard output expected
  NAME.status  optional: the expected exit status (default 0; e.g. 254 for -2)
  NAME.files/  optional: a folder whose content is copied into the working
               directory before the run (scripts the arguments name)

A line of NAME.in that begins with the byte 0x03 (Ctrl-C) is not sent:
the runner waits until kel has written the rest of that line followed by
a line feed (after what it waited for before), then sends kel SIGINT, as
a console user's Ctrl-C would, and goes on with the next lines. The code
before the mark writes that text with write-stdout (which flushes) just
before the long evaluation to be interrupted, so the signal cannot reach
kel while it still waits for input.

Each run gets standard input from NAME.in, HOME and the working directory
set to fresh empty temporary directories (so a transcript may write files
freely), and 20 s before it is stopped. Standard error is not compared; it
is shown with a failure. A mismatch prints a unified diff of the output
(control characters escaped) and the two statuses; a summary line ends the
run, which exits 1 when any transcript fails.
"""

import difflib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

# A transcript that runs longer has hung. The stress settings collect (and
# under evacuation move every buffer) at each safe point, so a transcript
# that recurses to the stack's limit takes seconds there, and more under the
# sanitizers on a busy machine.
TIME_LIMIT_SECONDS = 90 if os.environ.get("KEL_GC_STRESS") else 20


def read_arguments(path):
    """One argument per line; a missing file means none."""
    if not path.exists():
        return []
    text = path.read_text(encoding="utf-8")
    if text.endswith("\n"):
        text = text[:-1]
    return text.split("\n") if text else []


def expected_status(path):
    return int(path.read_text().strip()) if path.exists() else 0


def shown(line):
    """A line of output as readable text: control characters (other than
    the line feed, shown as the end of the line) escaped as in repr."""
    text = line.decode("utf-8", errors="backslashreplace")
    ending = "" if text.endswith("\n") else "  [no line feed]"
    body = text[:-1] if text.endswith("\n") else text
    escaped = "".join(
        repr(char)[1:-1] if (ord(char) < 0x20 or ord(char) == 0x7F) else char for char in body)
    return escaped + ending


def output_lines(data):
    """Splits at line feeds only: a carriage return is content to be seen."""
    segments = data.split(b"\n")
    lines = [segment + b"\n" for segment in segments[:-1]]
    if segments[-1]:
        lines.append(segments[-1])
    return [shown(line) for line in lines]


INTERRUPT = b"\x03"


def run_with_interrupts(command, script, work, environment):
    """Feeds the script line by line, sending SIGINT at each Ctrl-C mark once
    the text the mark names has been written. Returns the completed process,
    or None when it ran out of time."""
    deadline = time.monotonic() + TIME_LIMIT_SECONDS
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, cwd=work, env=environment)
    output = bytearray()
    errors = bytearray()
    arrived = threading.Condition()

    def collect(stream, into):
        while True:
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                break
            with arrived:
                into.extend(chunk)
                arrived.notify_all()

    readers = [threading.Thread(target=collect, args=(process.stdout, output), daemon=True),
               threading.Thread(target=collect, args=(process.stderr, errors), daemon=True)]
    for reader in readers:
        reader.start()
    waited_up_to = 0
    try:
        for line in script.splitlines(keepends=True):
            if not line.startswith(INTERRUPT):
                process.stdin.write(line)
                process.stdin.flush()
                continue
            wanted = line[1:].rstrip(b"\n") + b"\n"
            with arrived:
                while output.find(wanted, waited_up_to) < 0:
                    if process.poll() is not None or not arrived.wait(deadline - time.monotonic()):
                        if time.monotonic() >= deadline:
                            raise subprocess.TimeoutExpired(command, TIME_LIMIT_SECONDS)
                        if process.poll() is not None:
                            break
                found = output.find(wanted, waited_up_to)
                waited_up_to = found + len(wanted) if found >= 0 else len(output)
            if process.poll() is None:
                process.send_signal(signal.SIGINT)
        process.stdin.close()
        process.wait(max(0.1, deadline - time.monotonic()))
    except (subprocess.TimeoutExpired, BrokenPipeError):
        if process.poll() is None:
            process.kill()
            process.wait()
            return None
    for reader in readers:
        reader.join()
    return subprocess.CompletedProcess(command, process.returncode, bytes(output), bytes(errors))


def run_transcript(kel, directory, name):
    """Runs one transcript; returns the text of its failure, or None."""
    arguments = read_arguments(directory / f"{name}.args")
    if not (directory / f"{name}.out").exists():
        return f"{name}.out is missing"
    expected_output = (directory / f"{name}.out").read_bytes()
    status_wanted = expected_status(directory / f"{name}.status")
    with tempfile.TemporaryDirectory(prefix="kel-transcript-") as scratch:
        home, work = Path(scratch) / "home", Path(scratch) / "work"
        home.mkdir()
        files = directory / f"{name}.files"
        if files.is_dir():
            shutil.copytree(files, work)
        else:
            work.mkdir()
        environment = dict(os.environ, HOME=str(home))
        script = (directory / f"{name}.in").read_bytes()
        if INTERRUPT in script:
            completed = run_with_interrupts([kel, *arguments], script, work, environment)
            if completed is None:
                return f"still running after {TIME_LIMIT_SECONDS} s"
        else:
            with open(directory / f"{name}.in", "rb") as standard_input:
                try:
                    completed = subprocess.run(
                        [kel, *arguments], stdin=standard_input, stdout=subprocess.PIPE,
                        stderr=subprocess.PIPE, cwd=work, env=environment,
                        timeout=TIME_LIMIT_SECONDS)
                except subprocess.TimeoutExpired:
                    return f"still running after {TIME_LIMIT_SECONDS} s"
    problems = []
    if completed.stdout != expected_output:
        diff = difflib.unified_diff(
            output_lines(expected_output), output_lines(completed.stdout),
            f"{name}.out", "actual output", lineterm="")
        problems.append("\n".join(diff) or "(the outputs differ in bytes that show alike)")
    if completed.returncode != status_wanted:
        actual = completed.returncode
        if actual < 0:
            actual = f"killed by signal {-actual}"
        problems.append(f"exit status: expected {status_wanted}, actual {actual}")
    if problems and completed.stderr:
        errors = completed.stderr.decode("utf-8", "backslashreplace").rstrip("\n")
        problems.append("standard error:\n" + errors)
    return "\n".join(problems) if problems else None


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: run-transcripts.py <kel-binary> <dir>")
    kel = os.path.abspath(sys.argv[1])
    directory = Path(sys.argv[2]).resolve()
    names = sorted(path.stem for path in directory.glob("*.in"))
    failed = 0
    for name in names:
        failure = run_transcript(kel, directory, name)
        if failure is not None:
            failed += 1
            print(f"FAIL {name}\n{failure}\n")
    print(f"{len(names)} transcripts, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
