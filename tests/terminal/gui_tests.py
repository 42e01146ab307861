"""The terminal GUI end to end: real scripts shown by kel in a tmux pane,
the screen checked row by row, keys and raw mouse reports sent as a user's
terminal sends them, and after each the terminal as it was before: canonical
mode with echo, the cursor shown, mouse reporting off, the normal screen.

run-terminal-tests.py runs these with its own Tmux driver (tests(Tmux,
Failure) hands them over). Test windows are built from face objects, so
that nothing but the view engine and the terminal backend is in play.
"""

import os
import time

WAIT_SECONDS = 15

# Every script turns mouse reporting on (off unless asked) and shows its
# window at the pane's top-left corner.
HEADER = "Kel []\nsystem/view/platform/mouse-event?: true\n"


def screen_helpers(Tmux, Failure, header=HEADER):
    """The drivers every screen test uses: run, rows, expect_rows, click
    and expect_restored."""
    def run(kel, home, script):
        """Starts kel on the script; after it ends the shell shows the
        terminal's modes and "(ended)". The shell outlives a Ctrl-C typed
        for kel (its trap is not passed on to kel)."""
        path = os.path.join(home, "gui.kel")
        with open(path, "w", encoding="utf-8") as file:
            file.write(header + script)
        return Tmux(kel, home, width=60,
                    shell=f'clear; trap : INT; "$KEL" {path}; stty -a; echo "(ended)"; sleep 60')

    def rows(terminal, attributes=False):
        arguments = ["capture-pane", "-p", "-t", "kel"] + (["-e"] if attributes else [])
        return terminal.tmux(arguments).split("\n")

    def expect_rows(terminal, first, wanted):
        """Waits until the rows from `first` on are the wanted ones (trailing
        spaces are not shown by tmux)."""
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            shown = rows(terminal)[first:first + len(wanted)]
            if shown == wanted:
                return
            if time.monotonic() > deadline:
                raise Failure(f"expected rows {wanted!r}, the screen shows:\n" + "\n".join(rows(terminal)))
            time.sleep(0.05)

    def click(terminal, column, row):
        """A left click at a cell (0-based), as a terminal reports it in the
        1006 form."""
        terminal.type_text(f"\x1b[<0;{column + 1};{row + 1}M\x1b[<0;{column + 1};{row + 1}m")

    def expect_restored(terminal):
        terminal.wait_for("(ended)")
        words = terminal.screen().split()
        if "icanon" not in words or "echo" not in words:
            raise Failure("the terminal is not back in canonical mode with echo:\n" + terminal.screen())
        for variable, wanted in (("cursor_flag", "1"), ("mouse_any_flag", "0"), ("alternate_on", "0")):
            if terminal.pane(variable) != wanted:
                raise Failure(f"after the GUI, tmux's {variable} is {terminal.pane(variable)}")

    return run, rows, expect_rows, click, expect_restored


def tests(Tmux, Failure):
    run, rows, expect_rows, click, expect_restored = screen_helpers(Tmux, Failure)

    # A focused button shows reversed; Space and a mouse click click it; a
    # key the button's actor takes (Esc) closes the window, and the script
    # goes on below what the GUI drew.
    def test_gui_button(kel, home):
        script = """win: make face! [type: 'window offset: 0x0 size: 12x3 pane: reduce [
	make face! [type: 'button text: "OK" offset: 2x1 size: 4x1 flags: [focusable] actors: object [
		count: 0
		on-click: func [face event][count: count + 1 print ["clicked" count]]
		on-key: func [face event][if event/key = #"^[" [unview]]
	]]
]]
view win
print "after"
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["", "  OK"])
            if "\x1b[7mOK" not in rows(terminal, attributes=True)[1]:
                raise Failure("the focused button is not reversed:\n" + "\n".join(rows(terminal, True)))
            terminal.keys("Space")
            # Console output goes above the GUI, which is drawn again below it.
            expect_rows(terminal, 0, ["clicked 1", "", "  OK"])
            click(terminal, 3, 2)
            expect_rows(terminal, 0, ["clicked 1", "clicked 2", "", "  OK"])
            terminal.keys("Escape")
            at = terminal.wait_for("after")
            if rows(terminal)[at - 1] != "" or rows(terminal)[at - 2] != "  OK":
                raise Failure("the script's output does not follow the GUI:\n" + terminal.screen())
            expect_restored(terminal)

    # A field takes typed text up to its width, Backspace removes the char
    # before the caret, and the terminal's cursor is the caret.
    def test_gui_field(kel, home):
        script = """win: make face! [type: 'window offset: 0x0 size: 10x2 pane: reduce [
	f: make face! [type: 'field text: "ab" offset: 1x1 size: 5x1 flags: [focusable] actors: object [
		on-key: func [face event][if event/key = #"^[" [unview]]
	]]
]]
view win
print ["text:" mold f/text]
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["", " ab"])
            terminal.type_text("xyz")
            expect_rows(terminal, 0, ["", " abxyz"])
            terminal.type_text("q")  # the field is full
            time.sleep(0.2)
            expect_rows(terminal, 0, ["", " abxyz"])
            terminal.keys("BSpace")
            expect_rows(terminal, 0, ["", " abxy"])
            deadline = time.monotonic() + WAIT_SECONDS
            while (terminal.pane("cursor_x"), terminal.pane("cursor_y")) != ("5", "1"):
                if time.monotonic() > deadline:
                    raise Failure(f"the caret is at {terminal.pane('cursor_x')},{terminal.pane('cursor_y')}")
                time.sleep(0.05)
            terminal.keys("Escape")
            terminal.wait_for('text: "abxy"')
            expect_restored(terminal)

    # Check boxes and radio buttons show their state as glyphs: Space
    # toggles the focused check box, a click sets a radio button and turns
    # the other off; a progress bar fills half its width; a group box draws
    # its frame with the title on the top edge.
    def test_gui_check_radio_progress_group_box(kel, home):
        script = """win: make face! [type: 'window offset: 0x0 size: 26x4 pane: reduce [
	c: make face! [type: 'check text: "Check" offset: 0x0 size: 10x1 flags: [focusable] actors: object [
		on-key: func [face event][if event/key = #"^[" [unview]]
	]]
	r1: make face! [type: 'radio text: "R1" offset: 0x1 size: 6x1 data: true]
	r2: make face! [type: 'radio text: "R2" offset: 7x1 size: 6x1]
	make face! [type: 'progress offset: 0x2 size: 12x1 data: 0.5]
	make face! [type: 'group-box text: "Box" offset: 14x0 size: 10x4]
]]
view win
print ["data:" c/data r1/data r2/data]
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["☐ Check       ┌Box─────┐",
                                      "◉ R1   ○ R2   │        │",
                                      "[#####     ]  │        │",
                                      "              └────────┘"])
            terminal.keys("Space")
            expect_rows(terminal, 0, ["🞕 Check       ┌Box─────┐"])
            click(terminal, 8, 1)
            expect_rows(terminal, 1, ["○ R1   ◉ R2   │        │"])
            terminal.keys("Space")
            expect_rows(terminal, 0, ["☐ Check       ┌Box─────┐"])
            terminal.keys("Escape")
            terminal.wait_for("data: false false true")
            expect_restored(terminal)

    # A fullscreen window is shown on the alternate screen, which is left
    # when the window closes: the shell's screen comes back as it was.
    def test_gui_full_screen(kel, home):
        script = """print "before"
win: make face! [type: 'window offset: 0x0 size: 20x5 flags: [fullscreen] pane: reduce [
	make face! [type: 'button text: "Full" offset: 3x2 size: 4x1 flags: [focusable] actors: object [
		on-click: func [face event][unview]
	]]
]]
view win
print "after"
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["", "", "   Full"])
            if terminal.pane("alternate_on") != "1":
                raise Failure("the fullscreen window is not on the alternate screen")
            terminal.keys("Space")
            at = terminal.wait_for("after")
            if rows(terminal)[at - 1] != "before":
                raise Failure("the normal screen did not come back as it was:\n" + terminal.screen())
            expect_restored(terminal)

    # quit inside an actor ends the process from the middle of the loop:
    # the terminal is put back all the same.
    def test_gui_quit_in_an_actor(kel, home):
        script = """win: make face! [type: 'window offset: 0x0 size: 10x2 pane: reduce [
	make face! [type: 'button text: "Quit" offset: 0x1 size: 4x1 flags: [focusable] actors: object [
		on-click: func [face event][quit]
	]]
]]
view win
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["", "Quit"])
            terminal.keys("Space")
            expect_restored(terminal)

    # Ctrl-C ends the view (the script goes on); SIGTERM and SIGHUP end
    # the process: every way out leaves the terminal as it was.
    def test_gui_restored_on_signals(kel, home):
        script = """win: make face! [type: 'window offset: 0x0 size: 10x2 pane: reduce [
	make face! [type: 'button text: "Wait" offset: 0x1 size: 4x1 flags: [focusable]]
]]
view win
print "view ended"
"""
        def pid_of_kel(terminal):
            shell = int(terminal.pane("pane_pid"))
            with open(f"/proc/{shell}/task/{shell}/children") as children:
                return int(children.read().split()[0])

        endings = [
            ("Ctrl-C", lambda terminal: terminal.keys("C-c")),
            ("SIGTERM", lambda terminal: os.kill(pid_of_kel(terminal), 15)),
            ("SIGHUP", lambda terminal: os.kill(pid_of_kel(terminal), 1)),
        ]
        for name, ending in endings:
            with run(kel, home, script) as terminal:
                expect_rows(terminal, 0, ["", "Wait"])
                ending(terminal)
                if name == "Ctrl-C":
                    terminal.wait_for("view ended")
                try:
                    expect_restored(terminal)
                except Failure as problem:
                    raise Failure(f"after {name}: {problem}")

    # A laid-out window: typing goes to the field, which has the focus
    # first; Tab moves the focus to the button (shown reversed), Shift-Tab
    # back to the field, and Enter on the button clicks it. The action
    # prints, then closes the window: the terminal's answer to the cursor
    # query that printing makes is read before the terminal is handed
    # back, so the shell never shows it as typed text.
    def test_gui_tab_and_enter_in_a_layout(kel, home):
        script = """view [text "Name:" f: field return button "OK" [print ["ok" f/text] unview] button "Cancel" [unview]]
print "done"
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 1, [" Name:", "", " OK    Cancel"])
            terminal.type_text("abc")
            expect_rows(terminal, 1, [" Name:      abc"])
            terminal.keys("Tab")
            deadline = time.monotonic() + WAIT_SECONDS
            while "\x1b[7mOK" not in "".join(rows(terminal, attributes=True)):
                if time.monotonic() > deadline:
                    raise Failure("Tab did not move the focus to the button:\n" + "\n".join(rows(terminal, True)))
                time.sleep(0.05)
            terminal.keys("BTab")
            deadline = time.monotonic() + WAIT_SECONDS
            while "\x1b[7mOK" in "".join(rows(terminal, attributes=True)):
                if time.monotonic() > deadline:
                    raise Failure("Shift-Tab did not move the focus back to the field")
                time.sleep(0.05)
            terminal.keys("Tab")
            time.sleep(0.2)
            terminal.keys("Enter")
            at = terminal.wait_for("done")
            shown = rows(terminal)
            if shown[at - 1] != "ok abc":
                raise Failure("Enter on the button did not click it:\n" + terminal.screen())
            if not shown[at + 1].startswith("speed"):
                raise Failure("something was left for the shell after the GUI:\n" + terminal.screen())
            expect_restored(terminal)

    # Escape closes every window, whatever face has the focus.
    def test_gui_escape_closes_every_window(kel, home):
        script = """view/no-wait [button "One" [print "one"]]
view [button "Two" [print "two"]]
print "closed"
"""
        with run(kel, home, script) as terminal:
            terminal.wait_for("Two")
            terminal.keys("Escape")
            terminal.wait_for("closed")
            expect_restored(terminal)

    # alert shows its message centred in the terminal's width (60 here)
    # with the OK button under it, focused; Enter closes it.
    def test_gui_alert(kel, home):
        script = """alert ["Hello" 1 + 2]
print "alerted"
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["", " " * 26 + "Hello 3", "", " " * 27 + "OK"])
            if "\x1b[7mOK" not in rows(terminal, attributes=True)[3]:
                raise Failure("the alert's button does not have the focus:\n" + "\n".join(rows(terminal, True)))
            terminal.keys("Enter")
            terminal.wait_for("alerted")
            expect_restored(terminal)

    return [test_gui_restored_on_signals, test_gui_button, test_gui_field, test_gui_check_radio_progress_group_box, test_gui_full_screen,
            test_gui_quit_in_an_actor, test_gui_tab_and_enter_in_a_layout, test_gui_escape_closes_every_window,
            test_gui_alert]
