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
import unittest

import gui_terminal_test as gui

FORM_SCRIPT = """Zan []
system/view/platform/mouse-event?: true
print "start"
view [text "Name:" f: field 10 button "OK" [print ["clicked" mold f/text mold f/data] unview]]
print "done"
"""


class FormOnTerminal(gui.Terminal):
    """A text, a field and a button in a row; the field has the focus."""
    script = FORM_SCRIPT

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
        self.feed(self.s.settle())
        line = self.screen.display[y]
        self.assertEqual(line[line.index("Name:") + 11:line.index("Name:") + 13], "42", line)
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
    l: text-list 10x3 data ["one" "two" "three"] on-change [print ["selected" face/selected]]
    button "Done" [unview]
]
print ["done" l/selected]
"""


class TextListOnTerminal(gui.Terminal):
    script = LIST_SCRIPT

    def test_arrows_move_the_selection(self):
        self.drawn(b"three")
        top = self.row_of("one")
        self.assertEqual(self.row_of("three"), top + 2)
        # No item is selected at first: Down selects the first one.
        for n in (1, 2, 3):
            self.s.send(b"\x1b[B")
            self.feed(self.s.expect(f"selected {n}".encode()))
        self.feed(self.s.settle())
        # The selected row is drawn in reverse video.
        for item, reverse in (("three", True), ("one", False)):
            y = self.row_of(item)
            x = self.screen.display[y].index(item)
            self.assertEqual(self.screen.buffer[y][x].reverse, reverse, item)
        self.s.send(b"\x1b[A")
        self.feed(self.s.expect(b"selected 2"))
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b"done 2"))
        self.assertEqual(self.s.wait(), 0)


TOGGLE_SCRIPT = """Zan []
print "start"
view [
    style choice: radio [print ["radio" a/data b/data]]
    c: check "On" [print ["check" face/data]]
    a: choice "A" b: choice "B"
]
print "done"
"""


class TogglesOnTerminal(gui.Terminal):
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
        self.feed(self.s.settle())
        line = self.screen.display[self.row_of("\u25c9 B")]
        self.assertIn("\u25cb A", line)
        self.assertIn("\u25c9 B", line)
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b"done"))
        self.assertEqual(self.s.wait(), 0)


FOCUS_SCRIPT = """Zan []
print "start"
view [a: field 8 "alpha" b: field 8 "beta" focus]
print ["done" mold a/text mold b/text]
"""


class FocusOnTerminal(gui.Terminal):
    script = FOCUS_SCRIPT

    def test_the_face_given_the_focus_takes_the_keys(self):
        self.drawn(b"beta")
        self.s.send(b"x")
        self.feed(self.s.settle())
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b'done "alpha" "betax"'))
        self.assertEqual(self.s.wait(), 0)


REACT_SCRIPT = """Zan []
print "start"
view [
    below
    group-box "Echo" [f: field 8 t: text 8 "-" react later [face/text: copy f/text]]
    progress 10 50%
]
print "done"
"""


class ReactionOnTerminal(gui.Terminal):
    script = REACT_SCRIPT

    def test_a_reaction_follows_the_field_inside_a_group_box(self):
        self.drawn(b"Echo")
        frame = self.row_of("Echo")
        # The group box's frame, the field inside it, the progress bar below.
        self.assertEqual(self.row_of("[####    ]"), frame + 4)
        self.s.send(b"hi")
        self.feed(self.s.settle())
        line = self.screen.display[frame + 1]
        self.assertEqual(line.count("hi"), 2, line)
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b"done"))
        self.assertEqual(self.s.wait(), 0)


if __name__ == "__main__":
    gui.terminal.ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
