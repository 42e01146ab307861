#!/usr/bin/env python3
"""Terminal tests: runs the real kel binary in a pseudo-terminal, as a
console user meets it, and checks what only a terminal shows.

    run-terminal-tests.py <kel-binary>

Two drivers: Python's pty module, for the exact bytes kel writes to a
terminal, and tmux (a private server on its own socket, ended afterwards),
for what a terminal makes of them: the window title, the screen, Ctrl-C
typed at the keyboard. Each kel gets HOME set to a fresh temporary folder.
Every wait is bounded (WAIT_SECONDS); the run ends with the summary line
"N passed, M failed" and exits 1 when any test failed.
"""

import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

WAIT_SECONDS = 15
TITLE = b"\x1b]0;Kel Console\x07"


class Failure(Exception):
    pass


def read_until(descriptor, wanted, collected):
    """Reads from the descriptor into collected until it holds wanted."""
    deadline = time.monotonic() + WAIT_SECONDS
    while wanted not in collected:
        left = deadline - time.monotonic()
        if left <= 0:
            raise Failure(f"waited for {wanted!r}; got {bytes(collected)!r}")
        ready, _, _ = select.select([descriptor], [], [], left)
        if not ready:
            continue
        try:
            chunk = os.read(descriptor, 4096)
        except OSError:  # the terminal closed: kel has ended
            chunk = b""
        if not chunk:
            raise Failure(f"output ended before {wanted!r}; got {bytes(collected)!r}")
        collected.extend(chunk)


def run_in_pty(kel, home, output_to_terminal):
    """Starts kel with its input on a new pseudo-terminal, and its output
    there too or on a pipe; waits for the prompt (which the line editor
    draws on the terminal either way), types quit and returns everything
    kel wrote to its standard output."""
    main, secondary = os.openpty()
    output = secondary if output_to_terminal else subprocess.PIPE
    process = subprocess.Popen([kel], stdin=secondary, stdout=output, stderr=subprocess.DEVNULL,
                               env=dict(os.environ, HOME=home), start_new_session=True)
    os.close(secondary)
    collected = bytearray()
    on_terminal = bytearray()
    try:
        read_until(main, b">> ", collected if output_to_terminal else on_terminal)
        os.write(main, b"quit\r")
        process.wait(WAIT_SECONDS)
        if not output_to_terminal:
            collected.extend(process.stdout.read())
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        if process.stdout:
            process.stdout.close()
        os.close(main)
    return bytes(collected)


def test_title_is_set_on_a_terminal(kel, home):
    written = run_in_pty(kel, home, output_to_terminal=True)
    if not written.startswith(TITLE + b"--== Kel"):
        raise Failure(f"expected the title sequence, then the banner; got {written[:60]!r}")


def test_no_title_when_output_is_redirected(kel, home):
    written = run_in_pty(kel, home, output_to_terminal=False)
    # The line editor draws the prompt on the terminal; standard output
    # gets only what was printed.
    if not written.startswith(b"--== Kel") or b"\x1b" in written or b">> " in written:
        raise Failure(f"expected the banner with no title sequence and no prompt; got {written!r}")


class Tmux:
    """One kel in a tmux pane of a private server."""

    servers = 0

    def __init__(self, kel, home):
        Tmux.servers += 1
        self.socket = f"kel-terminal-{os.getpid()}-{Tmux.servers}"
        self.tmux(["new-session", "-d", "-s", "kel", "-x", "100", "-y", "30",
                   "env", f"HOME={home}", kel], config=True)

    def tmux(self, arguments, config=False):
        command = ["tmux", "-L", self.socket] + (["-f", "/dev/null"] if config else []) + arguments
        return subprocess.run(command, check=True, capture_output=True, text=True,
                               timeout=WAIT_SECONDS).stdout

    def screen(self):
        return self.tmux(["capture-pane", "-p", "-t", "kel"])

    def wait_for(self, text, after=0):
        """Waits until the screen shows text in a line past the first `after`
        lines; returns the index of that line."""
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            lines = self.screen().split("\n")
            for index in range(after, len(lines)):
                if text in lines[index]:
                    return index
            if time.monotonic() > deadline:
                raise Failure(f"the screen never showed {text!r}:\n" + "\n".join(lines))
            time.sleep(0.05)

    def type_line(self, text):
        self.tmux(["send-keys", "-t", "kel", "-l", text])
        self.tmux(["send-keys", "-t", "kel", "Enter"])

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)


def test_title_shows_in_the_terminal(kel, home):
    terminal = Tmux(kel, home)
    try:
        terminal.wait_for(">>")
        title = terminal.tmux(["display-message", "-p", "-t", "kel", "#{pane_title}"]).strip()
        if title != "Kel Console":
            raise Failure(f"pane title {title!r}")
    finally:
        terminal.close()


# Ctrl-C typed at the keyboard stops code that catches everything it can,
# and the console goes on reading.
def test_ctrl_c_halts_guarded_code(kel, home):
    terminal = Tmux(kel, home)
    try:
        terminal.wait_for(">>")
        terminal.type_line('write-stdout "spin^/" forever [catch [try/all [x: 1]]]')
        at = terminal.wait_for("spin", terminal.wait_for("forever"))
        terminal.tmux(["send-keys", "-t", "kel", "C-c"])
        at = terminal.wait_for("(halted)", at)
        terminal.type_line('print "after"')
        terminal.wait_for("after", at + 1)
    finally:
        terminal.close()


# A history that is no block no longer keeps the console from reading: the
# next read starts a new history, which takes the lines typed after it.
def test_history_that_is_no_block_is_replaced(kel, home):
    terminal = Tmux(kel, home)
    try:
        terminal.wait_for(">>")
        terminal.type_line("system/console/history: 5")
        at = terminal.wait_for("== 5")
        terminal.type_line('print "read on"')
        at = terminal.wait_for("read on", at + 1)
        terminal.type_line("system/console/history")
        terminal.wait_for('== ["system/console/history" {print "read on"}]', at + 1)
    finally:
        terminal.close()


TESTS = [
    test_title_is_set_on_a_terminal,
    test_no_title_when_output_is_redirected,
    test_title_shows_in_the_terminal,
    test_ctrl_c_halts_guarded_code,
    test_history_that_is_no_block_is_replaced,
]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: run-terminal-tests.py <kel-binary>")
    kel = os.path.abspath(sys.argv[1])
    if shutil.which("tmux") is None:
        sys.exit("tmux is missing (scripts/setup-deps installs it)")
    failed = 0
    for test in TESTS:
        with tempfile.TemporaryDirectory(prefix="kel-terminal-") as home:
            try:
                test(kel, home)
            except (Failure, subprocess.SubprocessError) as problem:
                failed += 1
                print(f"FAIL {test.__name__}\n{problem}\n")
    print(f"{len(TESTS) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
