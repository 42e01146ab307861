#!/usr/bin/env python3
"""Process-level file and output safety, run through the real kel binary:
what a transcript cannot arrange (a file size limit, a memory limit, a
reader that goes away, file names that are not UTF-8, and the console's
full `what` listing, which changes with every function added and is too
long to run under the collector's stress modes).

    run-process-tests.py <kel-binary> [--sanitized]

Each case writes its script (and any files it needs) into a fresh
temporary folder, runs kel there with HOME set to another one and at most
20 s, and checks the output, the exit status and the files left behind.
A failing case prints what it expected and what it got; a summary line
ends the run, which exits 1 when any case fails. With --sanitized (a build
under AddressSanitizer) the memory limit case is left out: the sanitizer's
allocator reports running out of memory itself.
"""

import os
import resource
import stat
import subprocess
import sys
import tempfile
from pathlib import Path

TIME_LIMIT_SECONDS = 20


def run_kel(kel, folder, source, limits=(), arguments=()):
    """Runs a script in folder (with arguments, bytes or text) under the
    given resource limits; returns the completed process (output as
    bytes)."""
    script = folder / "script.kel"
    script.write_text(source, encoding="utf-8")

    def apply_limits():
        for which, value in limits:
            resource.setrlimit(which, (value, value))

    with tempfile.TemporaryDirectory(prefix="kel-process-home-") as home:
        return subprocess.run([kel, str(script), *arguments], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, cwd=folder, timeout=TIME_LIMIT_SECONDS,
                              env=dict(os.environ, HOME=home), preexec_fn=apply_limits)


def expect(what, expected, actual):
    if expected != actual:
        return f"{what}:\n  expected: {expected!r}\n  actual:   {actual!r}"
    return None


def first_failure(*checks):
    for check in checks:
        if check is not None:
            return check
    return None


# --- A closed pipe ends the process ------------------------------------------------------------
# When standard output's reader has gone, kel ends quietly with status 141
# (128 + SIGPIPE), as Unix programs do; it used to print into the closed
# pipe forever.

def closed_pipe(kel, folder, printer):
    script = folder / "script.kel"
    script.write_text(f"Kel []\nforever [{printer}]\n", encoding="utf-8")
    with tempfile.TemporaryDirectory(prefix="kel-process-home-") as home:
        process = subprocess.Popen([kel, str(script)], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, cwd=folder, env=dict(os.environ, HOME=home))
        first = process.stdout.readline()
        process.stdout.close()
        try:
            process.wait(TIME_LIMIT_SECONDS)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            return f"still printing {TIME_LIMIT_SECONDS} s after its reader had gone"
        errors = process.stderr.read()
        process.stderr.close()
    return first_failure(expect("first line", b"yes\n", first),
                         expect("exit status", 141, process.returncode),
                         expect("standard error", b"", errors))


def print_into_closed_pipe(kel, folder):
    return closed_pipe(kel, folder, 'print "yes"')


def write_stdout_into_closed_pipe(kel, folder):
    return closed_pipe(kel, folder, 'write-stdout "yes^/"')


# --- A failed write keeps the file it was to replace -----------------------------------------
# Under a file size limit a write fails part-way. A plain write of an
# existing file used to empty it first, losing the old content; now the
# new content goes to a file beside it and replaces it only when complete,
# and the error says the write failed (no-create), not that the file could
# not be opened.

FILE_SIZE_LIMIT = 4096
BIG = "append/dup copy {} {x} 10000"


def failed_write_keeps_the_file(kel, folder):
    (folder / "data.txt").write_text("old content")
    os.chmod(folder / "data.txt", 0o640)
    os.symlink("data.txt", folder / "link.txt")
    completed = run_kel(kel, folder, f"""Kel []
foreach target [%data.txt %link.txt %new.txt][
    failure: try [write target {BIG}]
    print [failure/id failure/arg1]
]
failure: try [save %data.txt {BIG}]
print [failure/id failure/arg1]
""", limits=[(resource.RLIMIT_FSIZE, FILE_SIZE_LIMIT)])
    left = sorted(os.listdir(folder))
    return first_failure(
        expect("output", b"no-create data.txt\nno-create link.txt\nno-create new.txt\nno-create data.txt\n",
               completed.stdout),
        expect("exit status", 0, completed.returncode),
        expect("old content", "old content", (folder / "data.txt").read_text()),
        expect("permissions", 0o640, stat.S_IMODE(os.stat(folder / "data.txt").st_mode)),
        expect("link", True, os.path.islink(folder / "link.txt")),
        expect("files left", ["data.txt", "link.txt", "new.txt", "script.kel"], left))


def replacing_write_keeps_permissions_and_links(kel, folder):
    (folder / "data.txt").write_text("old content")
    os.chmod(folder / "data.txt", 0o640)
    os.symlink("data.txt", folder / "link.txt")
    completed = run_kel(kel, folder, """Kel []
write %data.txt "second"
write %link.txt "third"
print read %data.txt
""")
    left = sorted(os.listdir(folder))
    return first_failure(
        expect("output", b"third\n", completed.stdout),
        expect("permissions", 0o640, stat.S_IMODE(os.stat(folder / "data.txt").st_mode)),
        expect("link", "data.txt", os.readlink(folder / "link.txt")),
        expect("files left", ["data.txt", "link.txt", "script.kel"], left))


# /append writes in place: what fits is written, and the error is the same.
def failed_append(kel, folder):
    (folder / "log.txt").write_text("start ")
    completed = run_kel(kel, folder, f"""Kel []
failure: try [write/append %log.txt {BIG}]
print [failure/id failure/arg1]
""", limits=[(resource.RLIMIT_FSIZE, FILE_SIZE_LIMIT)])
    content = (folder / "log.txt").read_text()
    return first_failure(
        expect("output", b"no-create log.txt\n", completed.stdout),
        expect("start kept", True, content.startswith("start x")),
        expect("size", FILE_SIZE_LIMIT, len(content)))


# --- Names that are not UTF-8 -------------------------------------------------------------------
# One such name used to make the whole folder unreadable; every entry is
# listed now, and read, rename and delete of the listed value reach the
# file of those bytes.

def names_that_are_not_utf8(kel, folder):
    names = folder / "names"
    names.mkdir()
    for name, content in [(b"bad\xffname", "bytes"), (b"caf\xc3\xa9", "valid"), (b"x%FF", "percent"),
                          (b"\xc0\xaf", "overlong")]:
        with open(os.path.join(os.fsencode(names), name), "w") as file:
            file.write(content)
    completed = run_kel(kel, folder, """Kel []
listed: read %names/
print mold listed
foreach name listed [print read rejoin [%names/ name]]
print rename rejoin [%names/ first listed] rejoin [%names/ first listed %-renamed]
print delete rejoin [%names/ last listed]
""")
    left = sorted(os.listdir(os.fsencode(names)))
    return first_failure(
        expect("output", '[%"bad^(DCFF)name" %café %"x%FF" %"^(DCC0)^(DCAF)"]\nbytes\nvalid\npercent\noverlong\n'
               'true\ntrue\n'.encode(), completed.stdout),
        expect("files left", [b"bad\xffname-renamed", b"caf\xc3\xa9", b"x%FF"], left))


# An argument that is not UTF-8 is escaped the same way (it used to stop
# the start-up with invalid-utf8), so a file! made from it reaches the
# file it names.
def argument_that_is_not_utf8(kel, folder):
    with open(os.path.join(os.fsencode(folder), b"a\xffb"), "w") as file:
        file.write("named by an argument")
    completed = run_kel(kel, folder, """Kel []
print length? system/options/args
print mold to file! first system/options/args
print read to file! first system/options/args
""", arguments=[b"a\xffb", b"plain"])
    return first_failure(
        expect("output", b'2\n%"a^(DCFF)b"\nnamed by an argument\n', completed.stdout),
        expect("exit status", 0, completed.returncode))


# --- A device read under a memory limit -----------------------------------------------------
# /part bounds the read of a device that never ends (it used to read 2 GB
# first and, under a memory limit, end with an uncaught allocation
# failure); a read with no end runs out of memory as the runtime reports
# it (status 94), never as an abort.

MEMORY_HEADROOM = 512 << 20


def memory_limit(kel, folder):
    probe = run_kel(kel, folder, """Kel []
foreach line read/lines %/proc/self/status [if find/match line "VmSize:" [print line]]
""")
    fields = probe.stdout.split()
    if probe.returncode != 0 or len(fields) < 2:
        return f"could not measure kel's address space: {probe.stdout!r}"
    limit = int(fields[1]) * 1024 + MEMORY_HEADROOM
    started = run_kel(kel, folder, "Kel []\nprint 1\n", limits=[(resource.RLIMIT_AS, limit)])
    if started.returncode != 0:
        print("  (memory limit: skipped, kel does not start under an address space limit here)")
        return None
    completed = run_kel(kel, folder, """Kel []
print length? read/binary/part %/dev/zero 10
zeros: read/binary %/dev/zero
print "not reached"
""", limits=[(resource.RLIMIT_AS, limit)])
    lines = completed.stdout.decode("utf-8", "backslashreplace").split("\n")
    return first_failure(
        expect("exit status", 94, completed.returncode),
        expect("output", ["10", "", "*** Runtime Error 94: out of memory"], lines[:3]))


# --- what lists every function ----------------------------------------------------------------
# One line per function of the global context, sorted, each indented and
# cut to the console's width less one (80 columns without a terminal).

def what_lists_every_function(kel, folder):
    source = """Kel []
count: 0
foreach w words-of system/words [if any-function? get/any w [count: count + 1]]
print count
what
"""
    result = run_kel(kel, folder, source)
    lines = result.stdout.decode("utf-8").split("\n")
    listed = [line for line in lines[1:] if line]
    names = [line.split()[0] for line in listed]
    return first_failure(
        expect("status", 0, result.returncode),
        expect("lines listed", int(lines[0]), len(listed)),
        expect("lines indented and cut to 79 columns", [],
               [line for line in listed if not line.startswith("     ") or len(line) > 79]),
        expect("names in order, letter case aside", sorted(names, key=str.upper), names),
    )


# --- A preprocessor error ends the script --------------------------------------------------------
# A script whose directives cannot be expanded prints the preprocessor's
# message and ends as a script error does (status 0); the halt the
# preprocessor throws used to escape as an uncaught throw (status 254).

def preprocessor_error_ends_the_script(kel, folder):
    completed = run_kel(kel, folder, """Kel []
print "never"
#if true
print "nor this"
""")
    return first_failure(
        expect("exit status", 0, completed.returncode),
        expect("output", "*** Preprocessor Error: Syntax error\n*** Where: #if true print\n",
               completed.stdout.decode("utf-8", "backslashreplace")),
        expect("standard error", b"", completed.stderr))


CASES = [
    print_into_closed_pipe,
    write_stdout_into_closed_pipe,
    failed_write_keeps_the_file,
    replacing_write_keeps_permissions_and_links,
    failed_append,
    names_that_are_not_utf8,
    argument_that_is_not_utf8,
    memory_limit,
    what_lists_every_function,
    preprocessor_error_ends_the_script,
]


def main():
    if len(sys.argv) not in (2, 3) or sys.argv[2:] not in ([], ["--sanitized"]):
        sys.exit("usage: run-process-tests.py <kel-binary> [--sanitized]")
    kel = os.path.abspath(sys.argv[1])
    cases = [case for case in CASES if not (sys.argv[2:] and case is memory_limit)]
    failed = 0
    for case in cases:
        with tempfile.TemporaryDirectory(prefix="kel-process-") as scratch:
            try:
                failure = case(kel, Path(scratch))
            except subprocess.TimeoutExpired:
                failure = f"still running after {TIME_LIMIT_SECONDS} s"
        if failure is not None:
            failed += 1
            print(f"FAIL {case.__name__}\n{failure}\n")
    print(f"{len(cases)} process cases, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
