#!/usr/bin/env python3
"""Views in a real terminal, as a user meets them: zan runs scripts from a
shell inside tmux (a private server, fixed sizes of 80x24 and 132x40), and
the tests read the terminal's screen. tmux answers the cursor position
queries itself, scrolls, keeps the mouse and cursor modes, and passes the
mouse reports the tests type on to zan.

Usage: gui_tmux_test.py <path of zan> [unittest options]

Every wait is for something on the screen, with a generous deadline.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import pyte
except ImportError:
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    pyte = None

ZAN = None
WAIT = 180.0 if os.environ.get("ZAN_GC_STRESS") else 30.0
PROMPT = "$ "


class Tmux:
    """A tmux server of its own with one window running sh in home."""

    def __init__(self, home, cols, rows):
        self.home = home
        self.cols, self.rows = cols, rows
        self.env = dict(os.environ, HOME=home, TMUX_TMPDIR=home)
        self.env.pop("TMUX", None)
        self.env.pop("ZAN_LIBRARY_DIR", None)
        self.tmux("new-session", "-d", "-x", str(cols), "-y", str(rows), "-s", "t", "-c", home,
                  f"env PS1='{PROMPT}' ENV= sh")
        self.tmux("set-option", "-g", "status", "off")
        self.wait_for(lambda: self.lines()[0] == PROMPT.rstrip(), "the shell's prompt")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-f", "/dev/null", "-L", "zan", *args], env=self.env,
                              capture_output=True, text=True, check=True).stdout

    def close(self):
        subprocess.run(["tmux", "-f", "/dev/null", "-L", "zan", "kill-server"], env=self.env,
                       capture_output=True)

    def type(self, *keys):
        self.tmux("send-keys", "-t", "t", *keys)

    def type_text(self, text):
        self.tmux("send-keys", "-t", "t", "-l", text)

    def command(self, line):
        self.type_text(line)
        self.type("Enter")

    def lines(self):
        """The screen's rows, trailing blanks dropped."""
        text = self.tmux("capture-pane", "-t", "t", "-p")
        lines = text.split("\n")[:self.rows]
        return [line.rstrip() for line in lines] + [""] * (self.rows - len(lines))

    def screen(self):
        """The screen with its attributes, as a pyte screen."""
        shot = pyte.Screen(self.cols, self.rows)
        stream = pyte.Stream(shot)
        text = self.tmux("capture-pane", "-t", "t", "-p", "-e")
        stream.feed("\r\n".join(text.split("\n")[:self.rows]))
        return shot

    def flag(self, name):
        return self.tmux("display-message", "-t", "t", "-p", "#{" + name + "}").strip()

    def wait_for(self, check, what):
        end = time.time() + WAIT
        while True:
            got = check()
            if got:
                return got
            if time.time() > end:
                raise AssertionError(f"{what} never came; the screen:\n" + "\n".join(self.lines()))
            time.sleep(0.1)

    def row_of(self, text):
        """The first row that shows text, once one does."""
        return self.wait_for(lambda: next((y + 1 for y, line in enumerate(self.lines()) if text in line), 0),
                             repr(text)) - 1

    def zan_pid(self):
        shell = int(self.flag("pane_pid"))
        with open(f"/proc/{shell}/task/{shell}/children") as f:
            children = f.read().split()
        return int(children[0]) if children else None


class ViewTest(unittest.TestCase):
    cols, rows = 80, 24

    def setUp(self):
        if shutil.which("tmux") is None or pyte is None:
            print("skipped: tmux or pyte is not installed")
            sys.stdout.flush()
            os._exit(77)
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name
        self.t = Tmux(self.home, self.cols, self.rows)

    def tearDown(self):
        self.t.close()
        self.tmp.cleanup()

    def run_script(self, text, lines_before=0):
        """Clears the screen, prints lines_before lines from the shell and
        runs the script with zan; the shell says its status when it ends.
        The terminal's mode is kept to compare afterwards."""
        with open(os.path.join(self.home, "s.zan"), "w") as f:
            f.write("Zan []\n" + text)
        filler = f"seq {lines_before}; " if lines_before else ""
        self.t.command(f"stty -g > mode; printf '\\033[H\\033[2J'; {filler}{ZAN} s.zan; echo \"[status $?]\"")

    def ended(self, status=0):
        """Waits for the script's end: its status, and the shell's prompt
        alone on the line after it, the terminal's mode as before. Answers
        the screen's rows up to the status."""
        row = self.t.row_of(f"[status {status}]")
        lines = self.t.lines()
        self.assertEqual(lines[row], f"[status {status}]")
        self.t.wait_for(lambda: self.t.lines()[row + 1] == PROMPT.rstrip(), "the prompt")
        self.t.command("stty -g | cmp -s - mode && echo same mode")
        self.t.row_of("same mode")
        return lines[:row]

    def click(self, col, row):
        """A left press and release at a cell (0-based), as SGR reports."""
        at = f"{col + 1};{row + 1}"
        self.t.type_text(f"\x1b[<0;{at}M")
        self.t.type_text(f"\x1b[<0;{at}m")


BUTTONS = """
system/view/platform/mouse-event?: true
view [
    text "Pick one"
    return
    button "First" [print "first clicked"]
    return
    text "-"
    return
    button "Second" [print "second clicked" unview]
]
print "after the view"
"""


class MouseAfterScrolling(ViewTest):
    """Without a test of its own: the sizes below run it."""

    def clicks_after(self, lines):
        self.run_script(BUTTONS, lines)
        self.t.row_of("Second")
        # The view was drawn low: the terminal scrolled to make room.
        self.assertEqual(self.t.lines()[self.rows - 1], "")
        self.click(self.t.lines()[self.t.row_of("First")].index("First") + 1, self.t.row_of("First"))
        self.t.row_of("first clicked")
        # The view is drawn again below the printed line, scrolling again.
        self.t.wait_for(lambda: self.t.row_of("Second") > self.t.row_of("first clicked"), "the view below")
        y = self.t.row_of("Second")
        self.click(self.t.lines()[y].index("Second") + 2, y)
        self.t.row_of("second clicked")
        lines = self.ended()
        self.assertEqual(lines[-1], "after the view")
        self.assertEqual(lines.count("first clicked"), 1)


class MouseOnASmallTerminal(MouseAfterScrolling):
    def test_clicks_reach_the_buttons_of_a_view_that_made_the_terminal_scroll(self):
        self.clicks_after(18)


class MouseOnALargeTerminal(MouseAfterScrolling):
    cols, rows = 132, 40

    def test_clicks_reach_the_buttons_of_a_view_that_scrolled_a_large_terminal(self):
        self.clicks_after(36)


class LeavingTheView(ViewTest):
    def test_a_view_closed_by_a_key_after_a_print_leaves_no_answer_for_the_shell(self):
        self.run_script('view [button "OK" [print "clicked" unview]]\n', 2)
        self.t.row_of("OK")
        self.t.type("Space")
        # The prompt stands alone after the status (ended): no cursor
        # position report was typed into the shell.
        self.assertNotIn("^[", "\n".join(self.ended()))

    def test_a_view_closed_by_its_timer_shows_its_last_frame_and_the_next_line_is_below_it(self):
        self.run_script('n: 0\nview [text "wait" rate 20 on-time [n: n + 1 face/text: form n if n = 3 [unview]]]\n'
                        'print "after"\n')
        lines = self.ended()
        self.assertEqual(lines[-1], "after")
        # The text as the timer left it, alone on its row above.
        shown = [line for line in lines[:-1] if line.strip()]
        self.assertEqual(shown, [" 3"], lines)

    def test_the_screen_size_is_read_again_for_each_view(self):
        self.run_script('view [button "A" [unview]]\nprint ["first" system/view/screens/1/size]\n'
                        'ask "resized: "\nview [button "B" [unview]]\nprint ["second" system/view/screens/1/size]\n')
        self.t.row_of("A")
        self.t.type("Space")
        self.t.row_of("resized:")
        self.t.tmux("resize-window", "-t", "t", "-x", "100", "-y", "30")
        self.t.wait_for(lambda: self.t.flag("pane_width") == "100", "the new size")
        self.t.type("Enter")
        self.t.row_of("B")
        self.t.type("Space")
        lines = self.ended()
        self.assertIn("first 80x24", lines)
        self.assertIn("second 100x30", lines)


class OutputToAFile(ViewTest):
    def test_a_view_is_drawn_on_the_terminal_while_the_prints_go_to_the_file(self):
        with open(os.path.join(self.home, "s.zan"), "w") as f:
            f.write('Zan []\nprint "before"\nview [button "Press" [print "pressed" unview]]\nprint "after"\n')
        self.t.command(f"{ZAN} s.zan > out.txt; echo \"[status $?]\"")
        # The window is on the screen, where its keys come from.
        self.t.row_of("Press")
        self.t.type("Space")
        self.t.row_of("[status 0]")
        with open(os.path.join(self.home, "out.txt"), "rb") as f:
            self.assertEqual(f.read(), b"before\npressed\nafter\n")


class Signals(ViewTest):
    def ended_by(self, signo):
        self.run_script('system/view/platform/mouse-event?: true\nview [field 10 button "Wait"]\n')
        self.t.row_of("Wait")
        self.t.wait_for(lambda: self.t.flag("mouse_any_flag") == "1", "mouse reporting on")
        pid = self.t.zan_pid()
        self.assertIsNotNone(pid)
        self.t.type("Tab")
        self.t.wait_for(lambda: self.t.flag("cursor_flag") == "0", "the cursor hidden on the button")
        os.kill(pid, signo)
        self.ended(128 + signo)
        self.assertEqual(self.t.flag("cursor_flag"), "1")
        self.assertEqual(self.t.flag("mouse_any_flag"), "0")
        self.assertEqual(self.t.flag("mouse_sgr_flag"), "0")

    def test_sigterm_restores_the_terminal(self):
        self.ended_by(signal.SIGTERM)

    def test_sighup_restores_the_terminal(self):
        self.ended_by(signal.SIGHUP)

    def test_sigquit_restores_the_terminal(self):
        self.t.command("ulimit -c 0")
        self.ended_by(signal.SIGQUIT)


class Interrupting(ViewTest):
    """A Ctrl-C while a view waits interrupts as it does elsewhere: a script
    ends with 130, the console halts the command; the view's loop ends and
    the terminal is as it was."""

    def interrupted_by(self, interrupt):
        self.run_script('system/view/platform/mouse-event?: true\n'
                        'view [field 10 button "Wait" [print "pressed"]]\nprint "after"\n')
        self.t.row_of("Wait")
        self.t.wait_for(lambda: self.t.flag("mouse_any_flag") == "1", "mouse reporting on")
        self.t.type("Tab")
        self.t.wait_for(lambda: self.t.flag("cursor_flag") == "0", "the cursor hidden on the button")
        interrupt()
        lines = self.ended(130)
        self.assertNotIn("after", lines)
        self.assertNotIn("pressed", lines)
        self.assertEqual(self.t.flag("cursor_flag"), "1")
        self.assertEqual(self.t.flag("mouse_any_flag"), "0")

    def test_ctrl_c_typed_into_a_view_ends_the_script(self):
        self.interrupted_by(lambda: self.t.type("C-c"))

    def test_sigint_sent_to_a_waiting_view_ends_the_script(self):
        self.interrupted_by(lambda: os.kill(self.t.zan_pid(), signal.SIGINT))

    def test_ctrl_c_in_a_modal_window_halts_the_console_command_and_views_run_again(self):
        self.t.command(f"stty -g > mode; printf '\\033[H\\033[2J'; {ZAN}; echo \"[status $?]\"")
        self.t.row_of(">>")
        self.t.command('view [button "A" [alert "hi" print "after alert"]] print "next"')
        self.t.row_of(" A")
        self.t.type("Space")
        self.t.row_of("OK")
        self.t.type("C-c")
        self.t.row_of("(halted)")
        self.t.command('view [button "B" [print "b pressed" unview]]')
        self.t.row_of(" B")
        self.t.type("Space")
        pressed = self.t.row_of("b pressed")
        # Keys typed before the prompt is back may be flushed with the
        # view's terminal mode, as in any program that leaves raw mode.
        self.t.wait_for(lambda: any(line.rstrip() == ">>"
                                    for line in self.t.lines()[pressed:]), "the prompt")
        self.t.command("quit")
        lines = self.ended(0)
        self.assertNotIn("after alert", lines)
        self.assertNotIn("next", lines)


LISTS = """
system/view/platform/mouse-event?: true
view [
    b: button "Go" [print ["selected" mold a/selected mold c/selected mold d/selected] unview]
    a: text-list 6x3 data ["ant" "bee" "cat"]
    c: text-list 6x3 data ["cod" "eel" "gar"]
    d: text-list 6x3 data ["dog" "elk" "fox"] focus
]
"""


class TextListFocus(ViewTest):
    def reversed(self, word):
        """Whether the cells of word are drawn reversed."""
        y = self.t.row_of(word)
        x = self.t.lines()[y].index(word)
        shot = self.t.screen()
        return all(shot.buffer[y][x + k].reverse for k in range(len(word)))

    def test_the_focus_from_tab_a_click_or_the_focus_option_selects_the_first_item(self):
        self.run_script(LISTS)
        # The focus option: the first item of the last list.
        self.t.wait_for(lambda: self.reversed("dog"), "dog reversed")
        # Tab (round to the button, then to the first list).
        self.t.type("Tab")
        self.t.wait_for(lambda: not self.reversed("dog"), "dog no longer reversed")
        self.t.type("Tab")
        self.t.wait_for(lambda: self.reversed("ant"), "ant reversed")
        # A click on the second item of the other list.
        y = self.t.row_of("eel")
        self.click(self.t.lines()[y].index("eel") + 1, y)
        self.t.wait_for(lambda: self.reversed("eel"), "eel reversed")
        self.assertFalse(self.reversed("ant"))
        y = self.t.row_of("Go")
        self.click(self.t.lines()[y].index("Go"), y)
        self.t.row_of("selected 1 2 1")
        self.ended()


DRAG = """
system/view/platform/mouse-event?: true
view/tight [
    size 30x6
    base 4x2 "B" loose on-drop [print ["dropped at" face/offset] unview]
]
"""


class Dragging(ViewTest):
    def test_a_loose_face_follows_a_pointer_that_jumps_past_its_edge(self):
        self.run_script(DRAG)
        top = self.t.row_of("B")
        self.assertTrue(self.t.lines()[top].startswith("B"))

        def report(button, col, row, final="M"):
            self.t.type_text(f"\x1b[<{button};{col + 1};{top + row + 1}{final}")

        report(35, 1, 0)  # the pointer over the face
        report(0, 1, 0)   # pressed on it
        # Moves with the button held, each far beyond the face's edge.
        report(32, 11, 2)
        self.t.wait_for(lambda: self.t.lines()[top + 2][10:11] == "B", "the face at 10x2")
        report(32, 19, 3)
        self.t.wait_for(lambda: self.t.lines()[top + 3][18:19] == "B", "the face at 18x3")
        report(0, 19, 3, "m")
        self.t.row_of("dropped at (18, 3)")
        self.ended()


class Answers(ViewTest):
    """A key in a view, and what the script prints then."""

    def prints_after_keys(self, script, shown, keys, printed, closing=()):
        """Runs the script until it shows `shown`, types the keys, waits
        for `printed`, then types the closing keys and waits for the end."""
        self.run_script(script)
        self.t.row_of(shown)
        for key in keys:
            self.t.type(key)
        self.t.row_of(printed)
        for key in closing:
            self.t.type(key)
        self.ended()

    def test_tab_in_a_window_where_nothing_takes_the_focus_focuses_its_first_face(self):
        self.prints_after_keys('w: layout [text "one" text "two"]\nview w\nprint ["selected" mold w/selected/text]\n',
                               "two", ["Tab", "Escape"], 'selected "one"')

    def test_a_face_sized_by_tight_takes_the_measured_point(self):
        self.prints_after_keys('view [t: text "abc" tight button "x" [print ["size" mold t/size] unview]]\n',
                               "abc", ["Space"], "size (3, 1)")

    def test_a_rich_text_error_names_the_style_left_open(self):
        self.prints_after_keys('view [button "go" [rtd-layout [font 12 "x"]]]\n',
                               "go", ["Space"], 'RTD - invalid syntax at: [font 12 "x"]', ["Escape"])


ASK = """
system/view/platform/mouse-event?: true
view [text "Name" button "Ask" [a: ask "Your name? " print ["got" a]]]
print "done"
"""


class InsideAnActor(ViewTest):
    def test_ask_puts_its_prompt_on_a_line_below_the_view(self):
        self.run_script(ASK)
        top = self.t.row_of("Ask")
        self.t.type("Space")
        y = self.t.row_of("Your name?")
        lines = self.t.lines()
        self.assertTrue(lines[y].startswith("Your name?"), lines)
        self.assertGreater(y, top)
        # The view is still there above the prompt, its rows untouched.
        self.assertEqual(lines[top].split(), ["Name", "Ask"])
        self.assertEqual(self.t.flag("mouse_any_flag"), "0")
        self.t.type_text("bob")
        self.t.type("Enter")
        # The view is drawn again below the answer, and goes on.
        self.t.wait_for(lambda: self.t.lines().count(" Name       Ask") == 2, "the view drawn again")
        self.assertGreater(max(y for y, line in enumerate(self.t.lines()) if "Ask" in line), self.t.row_of("got bob"))
        self.assertEqual(self.t.flag("mouse_any_flag"), "1")
        self.t.type("Escape")
        lines = self.ended()
        self.assertEqual(lines[-1], "done")
        self.assertNotIn("^[", "\n".join(lines))


if __name__ == "__main__":
    ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
