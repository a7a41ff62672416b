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
    cols, rows = COLS, ROWS

    def setUp(self):
        self.tmp = terminal.tempfile.TemporaryDirectory()
        with open(os.path.join(self.tmp.name, "view.zan"), "w") as f:
            f.write(self.script)
        self.screen = pyte.Screen(self.cols, self.rows)
        self.stream = pyte.ByteStream(self.screen)
        # The mode a pseudo-terminal starts in, which zan's has before zan
        # touches it: read from a fresh one of our own, since zan may be
        # changing its own already (start-up asks the terminal things).
        master, slave = os.openpty()
        self.before = termios.tcgetattr(slave)
        os.close(master)
        os.close(slave)
        self.s = terminal.Session(self.tmp.name, cols=self.cols, rows=self.rows, args=["view.zan"])

    def tearDown(self):
        self.s.close()
        self.tmp.cleanup()

    def feed(self, data):
        self.stream.feed(data)

    def until(self, cond, what):
        """Reads the output until cond() holds on the screen (a slow run,
        as under the stressed collector, may need a while)."""
        end = terminal.time.time() + terminal.WAIT
        while not cond():
            if terminal.time.time() > end:
                self.fail(f"{what}:\n" + "\n".join(self.screen.display))
            self.feed(self.s.settle(quiet=0.1))

    def row_of(self, text):
        for y in range(self.rows):
            if text in self.screen.display[y]:
                return y
        self.fail(f"{text!r} not on the screen:\n" + "\n".join(self.screen.display))

    def started(self):
        """Runs the script up to its view's start: the view asks where the
        cursor stands and the terminal answers."""
        self.feed(self.s.expect(b"start"))
        self.answer_position()

    def answer_position(self):
        """Waits for a view's cursor position query and answers it."""
        self.feed(self.s.expect(b"\x1b[6n"))
        self.s.send(f"\x1b[{self.screen.cursor.y + 1};{self.screen.cursor.x + 1}R".encode())

    def drawn(self, text):
        """Runs the script up to the drawn view."""
        self.started()
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
        # No caret in the view: no cursor either.
        self.assertTrue(self.screen.cursor.hidden)
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
        self.assertFalse(self.screen.cursor.hidden)
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
        self.started()
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
        self.assertFalse(self.screen.cursor.hidden)
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


WIDE_SCRIPT = """Zan []
b: make face! [type: 'button text: "OK" offset: 2x1 size: 6x1 flags: [focusable]
    actors: object [on-click: func [f e] [print "clicked" unview]]]
f: make face! [type: 'field text: "far" offset: 33x11 size: 6x1 flags: [focusable]]
w: make face! [type: 'window size: 40x12 pane: reduce [b f]]
print "start"
view w
print "done"
wait 1
"""


class WideWindowOnTerminal(Terminal):
    """A window wider and taller than the terminal: what fits is shown."""
    script = WIDE_SCRIPT
    cols, rows = 30, 10

    def test_the_visible_part_is_drawn_and_the_cursor_stays_inside(self):
        self.drawn(b"OK")
        y = self.row_of("OK")
        self.assertEqual(self.screen.display[y], "  OK" + " " * 26)
        self.assertTrue(self.screen.buffer[y][2].reverse)
        # The field beyond the edges takes the focus: its caret is out of
        # sight, so the cursor stays hidden.
        self.s.send(b"\t")
        self.until(lambda: not self.screen.buffer[y][2].reverse, "the button unfocused")
        self.feed(self.s.settle())
        self.assertTrue(self.screen.cursor.hidden)
        self.s.send(b"\t")
        self.until(lambda: self.screen.buffer[y][2].reverse, "the button focused again")
        self.s.send(b"\r")
        self.feed(self.s.expect(b"clicked"))
        self.feed(self.s.expect(b"done"))
        self.assertGreater(self.row_of("done"), self.row_of("clicked"))
        self.assertFalse(self.screen.cursor.hidden)
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


FOCUS_SCRIPT = """Zan []
click: func [f e] [print ["clicked" f/text] if f/text = "C" [unview]]
mk: func [x t] [make face! [type: 'button text: t offset: as-pair x 0 size: 3x1 flags: [focusable]
    actors: object [on-click: :click]]]
w: make face! [type: 'window size: 12x1 pane: reduce [mk 0 "A" mk 4 "B" mk 8 "C"]]
print "start"
view w
print "done"
wait 1
"""


class FocusOnTerminal(Terminal):
    script = FOCUS_SCRIPT

    def focused(self, y):
        """The text of the button drawn in reverse video."""
        return "".join(self.screen.buffer[y][x].data for x in range(12) if self.screen.buffer[y][x].reverse)

    def test_tab_and_shift_tab_move_the_focus_round_the_window(self):
        self.drawn(b"C")
        y = self.row_of("A")
        self.assertEqual(self.focused(y), "A")
        # (key sent, button focused afterwards): Shift-Tab from the first
        # wraps round to the last.
        steps = [(b"\t", "B"), (b"\t", "C"), (b"\t", "A"), (b"\x1b[Z", "C"), (b"\x1b[Z", "B")]
        for key, name in steps:
            self.s.send(key)
            self.until(lambda: self.focused(y) == name, f"{name} focused after {key!r}")
        self.s.send(b" ")
        self.feed(self.s.expect(b"clicked B"))
        self.s.send(b"\t ")
        self.feed(self.s.expect(b"clicked C"))
        self.feed(self.s.expect(b"done"))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


NOTHING_FOCUSABLE_SCRIPT = """Zan []
w: make face! [type: 'window size: 12x2 pane: reduce [
    make face! [type: 'text text: "one" size: 5x1]
    make face! [type: 'panel offset: 0x1 size: 12x1 pane: reduce [make face! [type: 'text text: "two" size: 5x1]]]]]
print "start"
view w
print ["done" none? w/selected]
wait 1
"""


class NothingFocusableOnTerminal(Terminal):
    script = NOTHING_FOCUSABLE_SCRIPT

    def test_tab_keys_find_nothing_and_escape_closes(self):
        self.drawn(b"two")
        # Searches that go round the window (through its panel too) end.
        self.s.send(b"\x1b[Z\t\x1b[Z")
        self.feed(self.s.settle())
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b"done true"))
        self.assertGreater(self.row_of("done"), self.row_of("two"))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


TIMER_SCRIPT = """Zan []
n: 0
t: make face! [type: 'text text: "wait" size: 6x1 rate: 20
    actors: object [on-time: func [f e] [n: n + 1 f/text: form n if n = 3 [print "three ticks" unview]]]]
w: make face! [type: 'window size: 8x1 pane: reduce [t]]
print "start"
view w
print ["done" n]
wait 1
"""


class TimerOnTerminal(Terminal):
    script = TIMER_SCRIPT

    def test_a_timer_fires_on_time_until_the_view_closes(self):
        self.started()
        self.feed(self.s.expect(b"three ticks"))
        self.feed(self.s.expect(b"done 3"))
        self.assertEqual(termios.tcgetattr(self.s.fd), self.before)
        self.assertEqual(self.s.wait(), 0)


LIST_SCRIPT = """Zan []
l: make face! [type: 'text-list size: 6x2 data: ["ant" "bee" "cat"] flags: [focusable]
    actors: object [on-change: func [f e] [print ["picked" e/picked f/selected]]]]
r1: make face! [type: 'radio text: "x" offset: 0x2 size: 4x1 flags: [focusable] data: false]
r2: make face! [type: 'radio text: "y" offset: 5x2 size: 4x1 flags: [focusable] data: false
    actors: object [on-change: func [f e] [print ["radios" r1/data r2/data] unview]]]
w: make face! [type: 'window size: 10x3 pane: reduce [l r1 r2]]
print "start"
view w
print "done"
wait 1
"""


class ListAndRadiosOnTerminal(Terminal):
    script = LIST_SCRIPT

    def test_arrows_move_the_list_and_space_sets_one_radio(self):
        self.drawn(b"bee")
        top = self.row_of("ant")
        self.assertTrue(self.screen.buffer[top][0].reverse)
        self.s.send(b"\x1b[B")
        self.feed(self.s.expect(b"picked 2 2"))
        self.s.send(b"\x1b[B")
        self.feed(self.s.expect(b"picked 3 3"))
        # The list scrolled: its two rows show the last two items, the
        # selected one reversed (printed lines moved the view down).
        self.until(lambda: any(line.startswith("cat") for line in self.screen.display), "the list scrolled")
        top = self.row_of("cat") - 1
        self.assertEqual(self.screen.display[top][:6], "bee   ")
        self.assertEqual(self.screen.display[top + 1][:6], "cat   ")
        self.assertTrue(self.screen.buffer[top + 1][0].reverse)
        self.s.send(b"\x1b[B")
        self.feed(self.s.settle())
        self.assertNotIn("picked 4", "\n".join(self.screen.display))
        # Tab to the first radio, Space sets it; Tab, Space sets the other.
        self.s.send(b"\t ")
        self.until(lambda: "\u25c9 x" in self.screen.display[top + 2], "the first radio set")
        self.s.send(b"\t ")
        self.feed(self.s.expect(b"radios false true"))
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


IMAGE_SCRIPT = """Zan []
img: make image! [2x2 255.0.0]
p: make face! [type: 'base offset: 0x0 size: 2x1 image: img]
b: make face! [type: 'button text: "go" offset: 3x0 size: 4x1 flags: [focusable]
    actors: object [on-click: func [f e] [repeat n 4 [poke img n 0.0.255]]]]
w: make face! [type: 'window size: 8x1 pane: reduce [p b]]
print "start"
view w
print "done"
wait 1
"""


class ImageOnTerminal(Terminal):
    script = IMAGE_SCRIPT

    def test_pixels_poked_through_another_reference_are_drawn(self):
        self.drawn(b"go")
        y = self.row_of("go")
        cell = self.screen.buffer[y]
        self.assertEqual((cell[0].bg, cell[0].fg, cell[1].bg), ("ff0000", "ff0000", "ff0000"))
        # The button pokes the image through the script's own word: the
        # face holding it hears of it and its cells are made again.
        self.s.send(b" ")
        self.until(lambda: self.screen.buffer[y][0].bg == "0000ff", "the poked pixels drawn")
        cell = self.screen.buffer[y]
        self.assertEqual((cell[0].fg, cell[1].bg, cell[1].fg), ("0000ff", "0000ff", "0000ff"))
        self.s.send(b"\x1b")
        self.feed(self.s.expect(b"done"))
        self.assertEqual(self.s.wait(), 0)


LEFT_OPEN_SCRIPT = """Zan []
t: make face! [type: 'text text: "old" size: 3x1 rate: 20
    actors: object [on-time: func [f e] [print "tick"]]]
w1: make face! [type: 'window size: 4x1 pane: reduce [t]]
b: make face! [type: 'button text: "close" size: 6x1 flags: [focusable]
    actors: object [on-click: func [f e] [unview/only w2]]]
w2: make face! [type: 'window size: 6x1 pane: reduce [b]]
n: 0
w3: make face! [type: 'window size: 6x1 pane: reduce [make face! [type: 'text text: "three" size: 5x1
    rate: 20 actors: object [on-time: func [f e] [n: n + 1 if n = 10 [unview]]]]]]
print "start"
view/no-wait w1
view w2
print ["between" length? system/view/screens/1/pane none? t/state]
view w3
print ["done" n]
wait 1
"""


class WindowLeftOpenOnTerminal(Terminal):
    script = LEFT_OPEN_SCRIPT

    def test_a_window_left_open_when_the_loop_ends_is_closed_with_its_timer(self):
        # Closing the second window ends the loop with the first still open
        # (whose ticks keep printing meanwhile).
        self.started()
        self.feed(self.s.expect(b"close"))
        self.s.send(b" ")
        self.feed(self.s.expect(b"between 0 true"))
        # The next view runs on its own: it owns the terminal again, draws
        # its window, and the old window's timer is gone.
        self.answer_position()
        seen = self.s.expect(b"done 10")
        self.feed(seen)
        self.assertIn(b"three", seen)
        self.assertNotIn(b"tick", seen)
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
