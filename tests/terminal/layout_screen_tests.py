"""Windows laid out by the layout dialect (`view [...]` with a block), shown
by kel in a tmux pane and checked row by row: the places the dialect gives
the faces in cells, typing and clicks reaching the faces it made, panels,
group boxes and tab panels painting their inner layouts, a text list's
selection, a reaction moving a progress bar, and a base face's draw block.
After each the terminal is as it was before.

run-terminal-tests.py runs these with the drivers of gui_tests.py.
"""

import time

import gui_tests


def tests(Tmux, Failure):
    run, rows, expect_rows, click, expect_restored = gui_tests.screen_helpers(Tmux, Failure)

    def expect_reversed(terminal, row, text):
        """Waits until the row shows the text in reverse video."""
        deadline = time.monotonic() + gui_tests.WAIT_SECONDS
        while "\x1b[7m" + text not in rows(terminal, attributes=True)[row]:
            if time.monotonic() > deadline:
                raise Failure(f"{text!r} is not reversed:\n" + "\n".join(rows(terminal, attributes=True)))
            time.sleep(0.05)

    def expect_none_reversed(terminal, texts):
        """Waits until none of the texts shows in reverse video."""
        deadline = time.monotonic() + gui_tests.WAIT_SECONDS
        while any("\x1b[7m" + text in "".join(rows(terminal, attributes=True)) for text in texts):
            if time.monotonic() > deadline:
                raise Failure("a row is still reversed:\n" + "\n".join(rows(terminal, attributes=True)))
            time.sleep(0.05)

    def expect_cursor(terminal, column, row):
        """Waits until the terminal's cursor (a field's caret) is at the cell."""
        deadline = time.monotonic() + gui_tests.WAIT_SECONDS
        while (terminal.pane("cursor_x"), terminal.pane("cursor_y")) != (str(column), str(row)):
            if time.monotonic() > deadline:
                raise Failure(f"the caret is at {terminal.pane('cursor_x')},{terminal.pane('cursor_y')}")
            time.sleep(0.05)

    # A row of a text, a field and a button, then a second row: the field
    # takes the focus (the first face that can) and typed text, the caret
    # following it; a click on
    # a button runs its action, whose output goes above the window.
    def test_layout_text_field_and_buttons(kel, home):
        script = """view [text "Name:" name: field button "OK" [print ["name" name/text]] return button "Quit" [unview]]
print "after"
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["", " Name:                 OK", "", " Quit"])
            expect_cursor(terminal, 12, 1)
            terminal.type_text("abc")
            expect_rows(terminal, 1, [" Name:      abc        OK"])
            expect_cursor(terminal, 15, 1)
            click(terminal, 23, 1)
            expect_rows(terminal, 0, ["name abc", "", " Name:      abc        OK", "", " Quit"])
            click(terminal, 2, 4)
            terminal.wait_for("after")
            expect_restored(terminal)

    # A panel and a group box lay out their own blocks inside themselves;
    # the group box frames its content with its title on the top edge; a
    # click reaches a button inside the panel.
    def test_layout_panel_and_group_box(kel, home):
        script = """view [panel [text "in panel" return button "B" [print "clicked B"]] group-box "Box" [text "inside"] return button "Quit" [unview]]
print "after"
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["",
                                      "              ┌Box───────┐",
                                      "  in panel    │inside    │",
                                      "              └──────────┘",
                                      "  B",
                                      "",
                                      "",
                                      " Quit"])
            click(terminal, 2, 4)
            expect_rows(terminal, 0, ["clicked B", "", "              ┌Box───────┐"])
            click(terminal, 2, 8)
            terminal.wait_for("after")
            expect_restored(terminal)

    # A group box with rounded corners holds a check box and two radio
    # buttons laid out in its rows, which clicks toggle; a panel with a
    # colour fills its area with that colour's background.
    def test_layout_group_box_options_and_coloured_panel(kel, home):
        script = """view [
	group-box "Round" [c: check "a" return radio "b" r: radio "c"] with [options: [border-corners: round]]
	panel sky [text "sky"]
	return button "Quit" [unview]
]
print ["after" c/data r/data]
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["", " ╭Round──────╮", " │☐ a        │  sky", " │           │",
                                      " │○ b   ○ c  │", " ╰───────────╯", "", " Quit"])
            sky = "\x1b[48;5;153m"
            if not all(row.count(sky) == 1 for row in rows(terminal, attributes=True)[1:4]):
                raise Failure("the panel's rows are not on its colour:\n" + "\n".join(rows(terminal, True)))
            click(terminal, 3, 2)
            expect_rows(terminal, 2, [" │🞕 a        │  sky"])
            click(terminal, 3, 4)
            expect_rows(terminal, 4, [" │◉ b   ○ c  │"])
            click(terminal, 8, 4)
            expect_rows(terminal, 4, [" │○ b   ◉ c  │"])
            click(terminal, 2, 7)
            terminal.wait_for("after true true")
            expect_restored(terminal)

    # A tab panel shows one page, the first when none was chosen, and not
    # the others; choosing another page (its `selected`) shows that one
    # instead, and a click at a place reaches the button of the page shown
    # there, never that of a hidden page.
    # (A tab panel once showed none of its pages.)
    def test_layout_tab_panel(kel, home):
        script = """view [
	tp: tab-panel [
		"One" [text "first" button "Next" [tp/selected: 2]]
		"Two" [text "second" button "Back" [tp/selected: 1]]
	]
	button "Quit" [unview]
]
print ["after" tp/selected]
"""
        def expect_page(terminal, shown, hidden):
            expect_rows(terminal, 2, [shown])
            if hidden in terminal.screen():
                raise Failure(f"{hidden!r} is shown too:\n" + terminal.screen())

        with run(kel, home, script) as terminal:
            expect_page(terminal, "  first      Next", "second")
            click(terminal, 13, 2)
            expect_page(terminal, "  second     Back", "first")
            click(terminal, 13, 2)
            expect_page(terminal, "  first      Next", "second")
            click(terminal, 13, 2)
            expect_page(terminal, "  second     Back", "first")
            click(terminal, rows(terminal)[1].index("Quit"), 1)
            terminal.wait_for("after 2")
            expect_restored(terminal)

    # A text list shows its rows; with the focus its selected row is
    # reversed (the first when none is chosen); a click selects the row
    # under the pointer, Down and Up move the selection. Without the focus
    # no row is reversed, and the selection stays in `selected`.
    def test_layout_text_list_selection(kel, home):
        script = """view [tl: text-list data ["alpha" "beta" "gamma"] button "Show" [print ["selected" tl/selected]] button "Quit" [unview]]
print "after"
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 1, [" alpha                Show  Quit", " beta", " gamma"])
            expect_reversed(terminal, 1, "alpha")
            click(terminal, 2, 2)
            expect_reversed(terminal, 2, "beta")
            expect_none_reversed(terminal, ["alpha"])
            terminal.keys("Down")
            expect_reversed(terminal, 3, "gamma")
            terminal.keys("Down")  # past the last row the selection stays
            time.sleep(0.2)
            expect_reversed(terminal, 3, "gamma")
            terminal.keys("Up")
            terminal.keys("Up")
            expect_reversed(terminal, 1, "alpha")
            terminal.keys("Down")
            expect_reversed(terminal, 2, "beta")
            click(terminal, 22, 1)
            expect_rows(terminal, 0, ["selected 2", "", " alpha                Show  Quit", " beta", " gamma"])
            expect_none_reversed(terminal, ["alpha", "beta", "gamma"])
            click(terminal, 28, 2)
            terminal.wait_for("after")
            expect_restored(terminal)

    # A progress bar that reacts to a slider: setting the slider's data
    # from a key (the slider has the focus and an on-key actor) or from a
    # button's action refills the bar. The slider itself paints nothing in
    # the terminal.
    def test_layout_reaction_slider_moves_progress(kel, home):
        script = """view [
	s: slider on-key [if event/key = #"+" [s/data: s/data + 0.25]]
	p: progress react [p/data: s/data]
	button "Full" [s/data: 1.0] button "Quit" [unview]
]
print ["after" p/data]
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 1, ["                      [                  ] Full  Quit"])
            terminal.type_text("+")
            expect_rows(terminal, 1, ["                      [#####             ] Full  Quit"])
            terminal.type_text("+")
            expect_rows(terminal, 1, ["                      [#########         ] Full  Quit"])
            click(terminal, 44, 1)
            expect_rows(terminal, 1, ["                      [##################] Full  Quit"])
            click(terminal, 50, 1)
            terminal.wait_for("after 1.0")
            expect_restored(terminal)

    # A base face's draw block paints a frame, a line and a text at places
    # relative to the face; what passes its edges is cut off, and the face
    # beside it keeps its own cells.
    def test_layout_base_with_draw_block(kel, home):
        script = """view [base 12x4 draw [box 0x0 11x3 line 2x2 40x2 text 2x1 "hi" box 8x1 30x10] button "Quit" [unview]]
print "after"
"""
        with run(kel, home, script) as terminal:
            expect_rows(terminal, 0, ["", " ┌──────────┐ Quit", " │ hi    ┌───", " │ ██████│███", " └───────│──┘"])
            click(terminal, 15, 1)
            terminal.wait_for("after")
            expect_restored(terminal)

    return [test_layout_text_field_and_buttons, test_layout_panel_and_group_box,
            test_layout_group_box_options_and_coloured_panel, test_layout_tab_panel,
            test_layout_text_list_selection, test_layout_reaction_slider_moves_progress,
            test_layout_base_with_draw_block]
