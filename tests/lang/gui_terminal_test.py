#!/usr/bin/env python3
"""A view on a pseudo-terminal: the button drawn below the cursor, fired by
Space or a mouse click, and the terminal as it was afterwards.

Usage: gui_terminal_test.py <path of zan> [unittest options]

The terminal is modelled by pyte (a VT screen): the test answers the view's
cursor position query from it and reads what is on the screen.
"""
import fcntl
import os
import struct
import sys
import termios
import unittest

try:
    import pyte
except ImportError:
    # The system interpreter has Debian's pyte when another one is first
    # on the path.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    print("skipped: pyte is not installed")
    sys.exit(77)

import console_terminal_test as terminal

COLS, ROWS = 40, 12

SCRIPT = """Zan []
system/view/platform/mouse-event?: true
b: make face! [type: 'button text: "OK" offset: 2x0 size: 6x1 flags: [focusable]
    actors: object [on-click: func [f e] [print "clicked" unview]]]
w: make face! [type: 'window size: 12x2 pane: reduce [b]]
print "start"
view w
print "done"
wait 1
"""


CHECK_SCRIPT = """Zan []
c: make face! [type: 'check text: "On" offset: 0x0 size: 8x1 flags: [focusable] data: none
    actors: object [on-change: func [f e] [print ["changed" f/data] unview]]]
w: make face! [type: 'window size: 10x1 pane: reduce [c]]
print "start"
view w
print "done"
wait 1
"""


class Terminal(unittest.TestCase):
    """A session of zan running the script on a pseudo-terminal."""
    script = SCRIPT

    def setUp(self):
        self.tmp = terminal.tempfile.TemporaryDirectory()
        with open(os.path.join(self.tmp.name, "view.zan"), "w") as f:
            f.write(self.script)
        self.screen = pyte.Screen(COLS, ROWS)
        self.stream = pyte.ByteStream(self.screen)
        self.s = terminal.Session(self.tmp.name, cols=COLS, rows=ROWS, args=["view.zan"])
        # The pseudo-terminal's mode before zan touched it.
        self.before = termios.tcgetattr(self.s.fd)

    def tearDown(self):
        self.s.close()
        self.tmp.cleanup()

    def feed(self, data):
        self.stream.feed(data)

    def row_of(self, text):
        for y in range(ROWS):
            if text in self.screen.display[y]:
                return y
        self.fail(f"{text!r} not on the screen:\n" + "\n".join(self.screen.display))

    def drawn(self, text):
        """Runs the script up to the drawn view."""
        self.feed(self.s.expect(b"start"))
        # The view asks where the cursor stands; the terminal answers.
        self.feed(self.s.expect(b"\x1b[6n"))
        self.s.send(f"\x1b[{self.screen.cursor.y + 1};{self.screen.cursor.x + 1}R".encode())
        self.feed(self.s.expect(text))
        self.feed(self.s.settle())

    def shown(self):
        """Runs the script up to the drawn view; answers the button's row."""
        self.drawn(b"OK")
        y = self.row_of("OK")
        self.assertEqual(self.screen.display[y][:8], "  OK    ")
        self.assertGreater(y, self.row_of("start"))
        # The focused button's text is drawn in reverse video.
        self.assertEqual([self.screen.buffer[y][x].reverse for x in range(1, 5)], [False, True, True, False])
        mode = termios.tcgetattr(self.s.fd)
        self.assertFalse(mode[3] & termios.ICANON, "the view runs with the line discipline off")
        return y

    def ended(self, view_row, keys):
        # Another key first: it is no click.
        self.s.send(b"x")
        self.feed(self.s.settle())
        self.assertNotIn("clicked", "\n".join(self.screen.display))
        self.s.send(keys)
        self.feed(self.s.expect(b"clicked"))
        self.feed(self.s.expect(b"done"))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertGreater(self.row_of("done"), view_row)
        self.assertGreater(self.row_of("done"), self.row_of("clicked"))
        self.assertEqual(self.s.wait(), 0)


class ButtonOnTerminal(Terminal):
    def test_space_fires_the_button(self):
        self.assertTrue(self.before[3] & termios.ICANON)
        self.ended(self.shown(), b" ")

    def test_enter_fires_the_button(self):
        self.ended(self.shown(), b"\r")

    def test_mouse_click_fires_the_button(self):
        y = self.shown()
        # Press and release of the left button on the button's third cell
        # (the report's column and row count from 1).
        at = f"0;5;{y + 1}".encode()
        self.ended(y, b"\x1b[<" + at + b"M\x1b[<" + at + b"m")


class CheckOnTerminal(Terminal):
    script = CHECK_SCRIPT

    def test_space_toggles_the_check_box(self):
        self.drawn(b"On")
        y = self.row_of("On")
        self.assertEqual(self.screen.display[y][:4], "\u2610 On")
        self.s.send(b" ")
        self.feed(self.s.expect(b"changed true"))
        self.feed(self.s.expect(b"done"))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


FIELD_SCRIPT = """Zan []
f: make face! [type: 'field text: "" offset: 0x0 size: 10x1 flags: [focusable]
    actors: object [on-change: func [f e] [print ["data" mold f/data]]]]
w: make face! [type: 'window size: 12x1 pane: reduce [f]]
print "start"
view w
print ["done" mold f/text mold f/data]
wait 1
"""


class FieldOnTerminal(Terminal):
    script = FIELD_SCRIPT

    def test_typing_reaches_the_data_and_escape_closes(self):
        self.feed(self.s.expect(b"start"))
        self.feed(self.s.expect(b"\x1b[6n"))
        self.s.send(f"\x1b[{self.screen.cursor.y + 1};{self.screen.cursor.x + 1}R".encode())
        self.feed(self.s.settle())
        self.s.send(b"4")
        self.feed(self.s.expect(b"data 4"))
        self.s.send(b"2")
        self.feed(self.s.expect(b"data 42"))
        self.feed(self.s.settle())
        # The terminal's cursor stands on the field's caret, after "42".
        rows = [y for y in range(ROWS) if self.screen.display[y].startswith("42 ")]
        self.assertEqual(len(rows), 1, self.screen.display)
        y = rows[0]
        self.assertEqual((self.screen.cursor.x, self.screen.cursor.y), (2, y))
        self.s.send(b"\x1b[D")
        self.feed(self.s.settle())
        self.assertEqual((self.screen.cursor.x, self.screen.cursor.y), (1, y))
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b'done "42" 42'))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


RESIZE_SCRIPT = """Zan []
w: make face! [type: 'window size: 12x1 pane: reduce [make face! [type: 'text text: "T" size: 4x1]]
    actors: object [on-resize: func [f e] [print ["resized" e/offset system/view/screens/1/size] unview]]]
print "start"
view w
print "done"
wait 1
"""


class ResizeOnTerminal(Terminal):
    script = RESIZE_SCRIPT

    def test_a_new_window_size_reaches_the_windows_and_the_screen(self):
        self.drawn(b"T")
        fcntl.ioctl(self.s.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 9, 33, 0, 0))
        self.feed(self.s.expect(b"resized 33x9 33x9"))
        self.feed(self.s.expect(b"done"))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


DRAW_SCRIPT = """Zan []
d: make face! [type: 'base offset: 0x0 size: 8x3
    draw: [pen 255.0.0 box 0x0 7x2 line 5x1 6x1 pen 0.0.255 text 1x1 "hi" line 20x0 20x2]]
r: make face! [type: 'rich-text offset: 9x0 size: 11x2]
rtd-layout/with ["plain " b "bold" /b 0.255.0 ["!"]] r
w: make face! [type: 'window size: 20x3 pane: reduce [d r]]
print "start"
view w
print "done"
wait 1
"""


class DrawAndRichTextOnTerminal(Terminal):
    script = DRAW_SCRIPT

    def test_a_draw_block_and_rich_text_are_drawn(self):
        self.drawn(b"bold")
        y = self.row_of("plain")
        rows = [self.screen.display[y + k][:20] for k in range(3)]
        self.assertEqual(rows, ["\u250c\u2500\u2500\u2500\u2500\u2500\u2500\u2510 plain bold!",
                                "\u2502hi  \u2588\u2588\u2502            ",
                                "\u2514\u2500\u2500\u2500\u2500\u2500\u2500\u2518            "])
        cell = self.screen.buffer
        # The pen's colours, as the terminal's 256-colour palette has them.
        self.assertEqual(cell[y][0].fg, "ff0000")
        self.assertEqual(cell[y + 1][6].fg, "ff0000")
        self.assertEqual(cell[y + 1][1].fg, "0000ff")
        # The rich text's bold range and its coloured "!".
        self.assertEqual([cell[y][x].bold for x in range(9, 20)], [False] * 6 + [True] * 4 + [False])
        self.assertEqual(cell[y][19].fg, "00ff00")
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b"done"))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


BAD_DRAW_SCRIPT = """Zan []
w: make face! [type: 'window size: 6x1 pane: reduce [make face! [type: 'base size: 6x1 draw: [nonsense]]]]
print "start"
e: try [view w]
print ["caught" e/id]
w: make face! [type: 'window size: 6x1 pane: reduce [make face! [type: 'text text: "again" size: 6x1]]]
view w
print "done"
wait 1
"""


class BadDrawOnTerminal(Terminal):
    script = BAD_DRAW_SCRIPT

    def test_a_draw_error_ends_the_view_and_the_next_view_runs(self):
        self.feed(self.s.expect(b"start"))
        self.feed(self.s.expect(b"\x1b[6n"))
        self.s.send(f"\x1b[{self.screen.cursor.y + 1};{self.screen.cursor.x + 1}R".encode())
        self.feed(self.s.expect(b"caught draw-invalid"))
        # The next view owns the terminal again: it asks where the cursor is.
        self.feed(self.s.expect(b"\x1b[6n"))
        self.s.send(f"\x1b[{self.screen.cursor.y + 1};{self.screen.cursor.x + 1}R".encode())
        self.feed(self.s.expect(b"again"))
        self.feed(self.s.settle())
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b"done"))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


if __name__ == "__main__":
    terminal.ZAN = sys.argv.pop(1)
    unittest.main()
