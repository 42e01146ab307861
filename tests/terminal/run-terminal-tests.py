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

    def __init__(self, kel, home, width=100, shell=None):
        """Starts kel, or with `shell` that shell command line (where $KEL
        is kel); the pane stays when the program ends, so its last screen
        can still be read."""
        Tmux.servers += 1
        self.socket = f"kel-terminal-{os.getpid()}-{Tmux.servers}"
        command = ["env", f"HOME={home}", f"KEL={kel}"] + (["sh", "-c", shell] if shell else [kel])
        self.tmux(["new-session", "-d", "-s", "kel", "-x", str(width), "-y", "30"] + command
                  + [";", "set-option", "-t", "kel", "remain-on-exit", "on"], config=True)

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

    def keys(self, *names):
        """Presses keys by their tmux names (Left, C-a, BSpace ...)."""
        self.tmux(["send-keys", "-t", "kel"] + list(names))

    def type_text(self, text):
        self.tmux(["send-keys", "-t", "kel", "-l", text])

    def pane(self, variable):
        return self.tmux(["display-message", "-p", "-t", "kel", "#{" + variable + "}"]).strip()

    def wait_until_ended(self):
        deadline = time.monotonic() + WAIT_SECONDS
        while self.pane("pane_dead") != "1":
            if time.monotonic() > deadline:
                raise Failure("kel did not end:\n" + self.screen())
            time.sleep(0.05)

    def type_line(self, text):
        self.tmux(["send-keys", "-t", "kel", "-l", text])
        self.tmux(["send-keys", "-t", "kel", "Enter"])

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)

    def __enter__(self):
        return self

    def __exit__(self, *problem):
        self.close()


def test_title_shows_in_the_terminal(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        title = terminal.tmux(["display-message", "-p", "-t", "kel", "#{pane_title}"]).strip()
        if title != "Kel Console":
            raise Failure(f"pane title {title!r}")


# Ctrl-C typed at the keyboard stops code that catches everything it can,
# and the console goes on reading.
def test_ctrl_c_halts_guarded_code(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_line('write-stdout "spin^/" forever [catch [try/all [x: 1]]]')
        at = terminal.wait_for("spin", terminal.wait_for("forever"))
        terminal.tmux(["send-keys", "-t", "kel", "C-c"])
        at = terminal.wait_for("(halted)", at)
        terminal.type_line('print "after"')
        terminal.wait_for("after", at + 1)


# A history that is no block no longer keeps the console from reading: the
# next read starts a new history, which takes the lines typed after it.
def test_history_that_is_no_block_is_replaced(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_line("system/console/history: 5")
        at = terminal.wait_for("== 5")
        terminal.type_line('print "read on"')
        at = terminal.wait_for("read on", at + 1)
        terminal.type_line("system/console/history")
        terminal.wait_for('== ["system/console/history" {print "read on"}]', at + 1)


# --- The line editor ----------------------------------------------------------------------

# Keys edit the line where the cursor is: arrows, Home and End, Backspace,
# Ctrl-A and Ctrl-K; what is entered is the edited line.
def test_typing_and_editing(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_text('prnt "ab"')
        terminal.keys("Home", "Right", "Right")
        terminal.type_text("i")
        terminal.keys("End", "BSpace", "BSpace")
        terminal.type_text('c"')
        at = terminal.wait_for('>> print "ac"')
        terminal.keys("Enter")
        at = terminal.wait_for("ac", at + 1)
        terminal.type_text("junk")
        terminal.keys("C-a", "C-k")
        terminal.type_text("1 + 1")
        terminal.keys("Left", "Left", "Left", "Left", "Left", "Delete")
        terminal.type_text("2")
        terminal.keys("Enter")
        terminal.wait_for("== 3", at + 1)


# While a delimiter is open, the prompt is the cue: the delimiter and four
# spaces.
def test_continuation_cue(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_line("[1")
        at = terminal.wait_for(">> [1")
        terminal.type_line("2]")
        terminal.wait_for("[    2]", at + 1)
        terminal.wait_for("== [1", at + 1)


# Up and Down walk the history, which the settings file keeps from one
# start of the console to the next.
def test_history_across_sessions(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_line('print "first"')
        terminal.type_line('print "second"')
        terminal.wait_for("second", terminal.wait_for('>> print "second"') + 1)
        terminal.type_line("quit")
        terminal.wait_until_ended()
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.keys("Up")
        terminal.wait_for(">> quit")
        # Past the oldest entry the line is empty; Down then shows the
        # oldest again, and the next Down a newer one.
        terminal.keys("Up", "Up", "Up", "Up", "Down", "Down")
        terminal.wait_for('>> print "second"')
        terminal.keys("Enter")
        terminal.wait_for("second", terminal.wait_for('>> print "second"') + 1)


# ask/hide shows the question in clear and one "*" per char, and the
# answer stays out of the history.
def test_hidden_answer(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_line('pw: ask/hide "Password: "')
        terminal.type_text("sécret")
        at = terminal.wait_for("Password: ******")
        terminal.keys("Enter")
        terminal.type_line("pw")
        terminal.wait_for('== "sécret"', at + 1)
        terminal.keys("Up", "Up")
        terminal.wait_for('>> pw: ask/hide "Password: "', at + 1)


# Ctrl-C at the prompt, whatever the line holds, answers "q": the console
# ends; so does Ctrl-D on an empty line, after deleting under the cursor.
def test_ctrl_c_at_the_prompt_quits(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_text("print 1")
        terminal.keys("Left", "C-c")
        terminal.wait_until_ended()


def test_ctrl_d(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_text("xprint 4")
        terminal.keys("Home", "C-d", "End", "C-d")
        terminal.keys("Enter")
        terminal.wait_for("4", terminal.wait_for(">> print 4") + 1)
        terminal.keys("C-d")
        terminal.wait_until_ended()


def stty_settings(shell_output):
    words = shell_output.split()
    return "icanon" in words and "echo" in words


# The terminal is back in canonical mode with echo after the console ends,
# however it ends: quit, Ctrl-C at the prompt, SIGTERM, SIGHUP.
def test_terminal_restored(kel, home):
    endings = [
        ("quit", lambda terminal, pid: terminal.type_line("quit")),
        ("Ctrl-C", lambda terminal, pid: terminal.keys("C-c")),
        ("SIGTERM", lambda terminal, pid: os.kill(pid, 15)),
        ("SIGHUP", lambda terminal, pid: os.kill(pid, 1)),
    ]
    for name, ending in endings:
        with Tmux(kel, home, shell='"$KEL"; stty -a; echo "ended"; sleep 60') as terminal:
            terminal.wait_for(">>")
            shell = int(terminal.pane("pane_pid"))
            with open(f"/proc/{shell}/task/{shell}/children") as children:
                pid = int(children.read().split()[0])
            ending(terminal, pid)
            terminal.wait_for("ended")
            if not stty_settings(terminal.screen()):
                raise Failure(f"after {name} the terminal is not in canonical mode with echo:\n"
                              + terminal.screen())


# Stopped (SIGTSTP) the console gives the terminal back as it found it;
# going on (SIGCONT) it reads again in raw mode and draws the prompt again.
# A shell with job control runs it, so that it can be stopped at all (the
# kernel never stops an orphaned process group); the shell shows the
# terminal's mode while it is stopped, then brings it back with fg.
def test_stop_and_go_on(kel, home):
    with Tmux(kel, home, shell='set -m; "$KEL" & fg; stty -a; echo "(stopped)"; fg; sleep 60') as terminal:
        terminal.wait_for(">>")
        shell = int(terminal.pane("pane_pid"))
        with open(f"/proc/{shell}/task/{shell}/children") as children:
            pid = int(children.read().split()[0])
        terminal.type_text("1 + 4")
        os.kill(pid, 20)
        at = terminal.wait_for("(stopped)")
        if not stty_settings(terminal.screen()):
            raise Failure("stopped, the terminal is not in canonical mode with echo:\n" + terminal.screen())
        at = terminal.wait_for(">> 1 + 4", at + 1)
        terminal.keys("Left", "Left", "BSpace")
        terminal.type_text("*")
        terminal.keys("Enter")
        terminal.wait_for("== 4", at + 1)


# Tab with several candidates lists them below the line and draws the
# prompt and their common beginning again, in the same read; with one it
# completes the line in place; with none it types a tab.
def test_tab_lists_and_completes(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_text("pri")
        terminal.keys("Tab")
        at = terminal.wait_for("prin print")
        terminal.wait_for(">> prin", at + 1)
        terminal.type_text("t 5")
        terminal.keys("Enter")
        at = terminal.wait_for("5", terminal.wait_for(">> print 5", at + 1) + 1)
        terminal.type_text("object? system/con")
        terminal.keys("Tab")
        terminal.wait_for(">> object? system/console", at + 1)
        terminal.keys("Enter")
        at = terminal.wait_for("== true", at + 1)
        terminal.type_text("probe")
        terminal.keys("Tab")
        terminal.type_text('"x"')
        terminal.keys("Enter")
        terminal.wait_for("== \"x\"", at + 1)


# A line longer than the terminal is wide wraps; Home goes back to its
# first row and what is typed there shifts the rest along.
def test_wrapped_line(kel, home):
    with Tmux(kel, home, width=30) as terminal:
        terminal.wait_for(">>")
        terminal.type_text('print "' + "a" * 40 + '"')
        terminal.keys("Home")
        terminal.type_text("x: ")
        at = terminal.wait_for('>> x: print "' + "a" * 17)
        terminal.wait_for("a" * 23 + '"', at + 1)
        terminal.keys("Enter")
        terminal.wait_for("a" * 30, at + 2)


# The terminal grows narrower while a long line is being edited: the line is
# laid out again for the new width and editing goes on; system/console/size
# follows.
def test_window_size_change(kel, home):
    with Tmux(kel, home, width=60) as terminal:
        terminal.wait_for(">>")
        terminal.type_text('print "' + "b" * 50)
        terminal.tmux(["resize-window", "-t", "kel", "-x", "30"])
        time.sleep(0.3)
        terminal.type_text('"')
        terminal.keys("Enter")
        at = terminal.wait_for("b" * 30, terminal.wait_for('"'))
        # The console takes the new width at its next read.
        terminal.type_line("system/console/size/x")
        terminal.wait_for("== 30", at + 1)


# With standard output redirected, the line editor draws on the terminal
# and the results go to the file.
def test_output_redirected_from_a_terminal(kel, home):
    out = os.path.join(home, "out.txt")
    with Tmux(kel, home, shell=f'"$KEL" > {out}; echo "(ended)"; sleep 60') as terminal:
        terminal.wait_for(">>")
        terminal.type_text("print 6 * 7")
        terminal.keys("Home", "C-k")
        terminal.type_text("print 6 * 8")
        terminal.wait_for(">> print 6 * 8")
        terminal.keys("Enter")
        terminal.type_line("quit")
        terminal.wait_for("(ended)")
        with open(out, encoding="utf-8") as written:
            text = written.read()
        if "48\n" not in text or ">>" in text or "\x1b" in text:
            raise Failure(f"the file holds {text!r}")


# An error raised by completion unwinds through the read like any error:
# it is reported and the console reads on, editing as before.
def test_error_in_completion(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_line("kel-complete-input: func [s c] [1 / 0]")
        terminal.type_text("prin")
        terminal.keys("Tab")
        at = terminal.wait_for("*** Math Error: attempt to divide by zero")
        if terminal.screen().split("\n")[at] != "*** Math Error: attempt to divide by zero":
            raise Failure("the error report does not start a row of its own:\n" + terminal.screen())
        terminal.type_text("1 + 2")
        terminal.keys("Left", "Left", "BSpace")
        terminal.type_text("*")
        terminal.keys("Enter")
        terminal.wait_for("== 2", at + 1)


# Esc alone (no sequence follows it in time) throws the pending text away.
def test_escape_key(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_line("[1 2")
        terminal.type_text("3")
        terminal.keys("Escape")
        at = terminal.wait_for("(escape)")
        terminal.type_line("4")
        terminal.wait_for("== 4", at + 1)


# A paste of several lines: each line is read in turn, none is lost.
def test_paste_of_several_lines(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_text('print "one"\rprint "two"\r1 + 2\r')
        at = terminal.wait_for("one", terminal.wait_for('>> print "one"') + 1)
        at = terminal.wait_for("two", terminal.wait_for('>> print "two"', at) + 1)
        terminal.wait_for("== 3", at)


# Tab at the debugger's prompt lists the candidates as the console's does,
# and the debugger goes on reading its command.
def test_tab_at_the_debug_prompt(kel, home):
    with Tmux(kel, home) as terminal:
        terminal.wait_for(">>")
        terminal.type_line("f: func [x] [@stop x + 1]")
        terminal.type_line("debug/later [f 3]")
        at = terminal.wait_for("debug>")
        terminal.type_text("pri")
        terminal.keys("Tab")
        at = terminal.wait_for("prin print", at + 1)
        terminal.wait_for("debug> prin", at + 1)
        terminal.keys("BSpace", "BSpace", "BSpace", "BSpace")
        terminal.type_line("c")
        terminal.wait_for(">>", at + 2)
        terminal.type_line('print "after"')
        terminal.wait_for("after", terminal.wait_for('>> print "after"', at + 2) + 1)


TESTS = [
    test_title_is_set_on_a_terminal,
    test_no_title_when_output_is_redirected,
    test_title_shows_in_the_terminal,
    test_ctrl_c_halts_guarded_code,
    test_history_that_is_no_block_is_replaced,
    test_typing_and_editing,
    test_continuation_cue,
    test_history_across_sessions,
    test_hidden_answer,
    test_ctrl_c_at_the_prompt_quits,
    test_ctrl_d,
    test_terminal_restored,
    test_stop_and_go_on,
    test_wrapped_line,
    test_tab_lists_and_completes,
    test_window_size_change,
    test_output_redirected_from_a_terminal,
    test_error_in_completion,
    test_escape_key,
    test_paste_of_several_lines,
    test_tab_at_the_debug_prompt,
]

# The terminal GUI's tests (gui_tests.py) drive the same Tmux.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gui_tests  # noqa: E402
import layout_screen_tests  # noqa: E402

TESTS += gui_tests.tests(Tmux, Failure)
TESTS += layout_screen_tests.tests(Tmux, Failure)


def remove_home(home):
    """Removes a test's home folder. kel may still be writing its settings
    there for a moment after tmux has killed its pane, so a folder that is
    not empty yet is tried again."""
    deadline = time.monotonic() + WAIT_SECONDS
    while True:
        try:
            shutil.rmtree(home)
            return
        except FileNotFoundError:
            return
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: run-terminal-tests.py <kel-binary>")
    kel = os.path.abspath(sys.argv[1])
    if shutil.which("tmux") is None:
        sys.exit("tmux is missing (scripts/setup-deps installs it)")
    failed = 0
    for test in TESTS:
        home = tempfile.mkdtemp(prefix="kel-terminal-")
        try:
            test(kel, home)
        except (Failure, subprocess.SubprocessError) as problem:
            failed += 1
            print(f"FAIL {test.__name__}\n{problem}\n")
        finally:
            remove_home(home)
    print(f"{len(TESTS) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
