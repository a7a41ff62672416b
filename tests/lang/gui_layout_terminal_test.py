#!/usr/bin/env python3
"""Windows written in the layout dialect, run on a pseudo-terminal: faces
drawn where the layout placed them, a button fired by Space, Enter and a
mouse click, a field edited reaching the face's data, the face given the
focus taking the keys, a text list moved with the arrow keys, check boxes and radio buttons toggled, and a reaction
of the layout following the typing.

Usage: gui_layout_terminal_test.py <path of zan> [unittest options]
"""
import os
import sys
import time
import unittest

import gui_terminal_test as gui

FORM_SCRIPT = """Zan []
system/view/platform/mouse-event?: true
print "start"
view [text "Name:" f: field 10 button "OK" [print ["clicked" mold f/text mold f/data] unview]]
print "done"
"""


class Layout(gui.Terminal):
    """Waits for what a key must change on the screen instead of for a
    quiet moment, which a slow run (the stressed collector) makes longer."""
    # Under the stressed collector every start takes many seconds: only the
    # tests named here, which reach the back end's own allocations, run
    # (the text list's keys are also a unit test of the back end).
    stressed = ()

    def setUp(self):
        if os.environ.get("ZAN_GC_STRESS") and self._testMethodName not in self.stressed:
            print("skipped under the stressed collector (slow); the plain and ASan runs cover it")
            sys.stdout.flush()
            os._exit(77)
        super().setUp()

    def until(self, check, what):
        end = time.time() + gui.terminal.WAIT
        while not check():
            if time.time() > end:
                self.fail(f"{what} not on the screen:\n" + "\n".join(self.screen.display))
            self.feed(self.s.settle(quiet=0.1, timeout=0.5))

    def escape_ends(self, printed):
        """Escape closes the window; the script goes on and ends well."""
        self.s.send(b"\x1b")
        self.feed(self.s.expect(printed))
        self.assertEqual(gui.termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)

    def row_showing(self, text):
        """The row that shows text, once it is on the screen."""
        self.until(lambda: any(text in line for line in self.screen.display), repr(text))
        return self.row_of(text)


class FormOnTerminal(Layout):
    """A text, a field and a button in a row; the field has the focus."""
    script = FORM_SCRIPT
    stressed = ("test_typing_reaches_the_data_then_space_fires_the_button",)

    def shown(self):
        self.drawn(b"OK")
        y = self.row_of("OK")
        line = self.screen.display[y]
        # The text is 10 cells wide, the field 10, with one cell between.
        self.assertEqual(line.index("OK") - line.index("Name:"), 22, line)
        return y

    def clicked(self, printed):
        self.feed(self.s.expect(printed))
        self.feed(self.s.expect(b"done"))
        self.assertEqual(gui.termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)

    def test_typing_reaches_the_data_then_space_fires_the_button(self):
        y = self.shown()
        self.s.send(b"42")
        field = self.screen.display[y].index("Name:") + 11
        self.until(lambda: self.screen.display[y][field:field + 3] == "42 ", "the typed 42")
        # Tab takes the focus to the button; Space clicks it.
        self.s.send(b"\t")
        self.feed(self.s.settle())
        self.assertNotIn("clicked", "\n".join(self.screen.display))
        self.s.send(b" ")
        self.clicked(b'clicked "42" 42')

    def test_enter_fires_the_focused_button(self):
        self.shown()
        self.s.send(b"\t")
        self.feed(self.s.settle())
        self.s.send(b"\r")
        self.clicked(b"clicked none none")

    def test_mouse_click_fires_the_button(self):
        y = self.shown()
        x = self.screen.display[y].index("OK")
        at = f"0;{x + 1};{y + 1}".encode()
        self.s.send(b"\x1b[<" + at + b"M\x1b[<" + at + b"m")
        self.clicked(b"clicked none none")


LIST_SCRIPT = """Zan []
print "start"
view [
    l: text-list 10x3 select 1 data ["one" "two" "three"] on-change [print ["selected" face/selected]]
    button "Done" [unview]
]
print ["done" l/selected]
"""


class TextListOnTerminal(Layout):
    script = LIST_SCRIPT

    def reversed(self, item):
        y = self.row_of(item)
        return self.screen.buffer[y][self.screen.display[y].index(item)].reverse

    def test_arrows_move_the_selection(self):
        self.drawn(b"three")
        top = self.row_of("one")
        self.assertEqual(self.row_of("three"), top + 2)
        # The focused list selects its first item at once: Down moves on.
        self.until(lambda: self.reversed("one"), "the first row selected")
        for n in (2, 3):
            self.s.send(b"\x1b[B")
            self.feed(self.s.expect(f"selected {n}".encode()))
        self.feed(self.s.settle())
        # The selected row is drawn in reverse video.
        self.until(lambda: self.reversed("three"), "the selected row")
        for item, reverse in (("three", True), ("one", False)):
            self.assertEqual(self.reversed(item), reverse, item)
        self.s.send(b"\x1b[A")
        self.feed(self.s.expect(b"selected 2"))
        self.escape_ends(b"done 2")


TOGGLE_SCRIPT = """Zan []
print "start"
view [
    style choice: radio [print ["radio" a/data b/data]]
    c: check "On" [print ["check" face/data]]
    a: choice "A" b: choice "B"
]
print "done"
"""


class TogglesOnTerminal(Layout):
    script = TOGGLE_SCRIPT

    def test_space_toggles_the_check_box_and_sets_a_radio_button(self):
        self.drawn(b"B")
        y = self.row_of("On")
        self.assertIn("\u2610 On", self.screen.display[y])
        self.s.send(b" ")
        self.feed(self.s.expect(b"check true"))
        self.s.send(b" ")
        self.feed(self.s.expect(b"check false"))
        # Tab twice: the second radio button of the style.
        self.s.send(b"\t")
        self.feed(self.s.settle())
        self.s.send(b"\t")
        self.feed(self.s.settle())
        self.s.send(b" ")
        self.feed(self.s.expect(b"radio false true"))
        y = self.row_showing("\u25c9 B")
        line = self.screen.display[y]
        self.assertIn("\u25cb A", line)
        self.assertIn("\u25c9 B", line)
        self.escape_ends(b"done")


FOCUS_SCRIPT = """Zan []
print "start"
view [a: field 8 "alpha" b: field 8 "beta" focus]
print ["done" mold a/text mold b/text]
"""


class FocusOnTerminal(Layout):
    script = FOCUS_SCRIPT

    def test_the_face_given_the_focus_takes_the_keys(self):
        self.drawn(b"beta")
        self.s.send(b"x")
        self.feed(self.s.settle())
        self.escape_ends(b'done "alpha" "betax"')


REACT_SCRIPT = """Zan []
print "start"
view [
    below
    group-box "Echo" [f: field 8 t: text 8 "-" react later [face/text: copy f/text]]
    progress 10 50%
]
print "done"
"""


class ReactionOnTerminal(Layout):
    script = REACT_SCRIPT

    def test_a_reaction_follows_the_field_inside_a_group_box(self):
        self.drawn(b"Echo")
        frame = self.row_of("Echo")
        # The group box's frame, the field inside it, the progress bar below.
        self.assertEqual(self.row_of("[####    ]"), frame + 4)
        self.s.send(b"hi")
        # Both the field and the text that reacts to it show it.
        self.until(lambda: self.screen.display[frame + 1].count("hi") == 2, "hi twice")
        self.escape_ends(b"done")


if __name__ == "__main__":
    gui.terminal.ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
