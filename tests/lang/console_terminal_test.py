#!/usr/bin/env python3
"""The console on a pseudo-terminal, and command-line cases that need no script file.

Usage: console_terminal_test.py <path of zan> [unittest options]

Every session runs with a private HOME (so a private cache directory and
configuration file) and TERM=xterm. Waits for output are bounded; a console
that does not answer fails the test instead of hanging it.
"""
import fcntl
import os
import pty
import resource
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

from stress_support import fewer_under_stress

ZAN = None
PROMPT = b">> "
# The stressed collector makes every start and command many times slower.
WAIT = 120.0 if os.environ.get("ZAN_GC_STRESS") else 10.0


class Session:
    """zan on a pseudo-terminal (standard input, output and error), or with
    standard output sent to a pipe when stdout_pipe is set."""

    def __init__(self, home, cols=80, rows=24, args=(), stdout_pipe=False):
        self.out = b""
        self.status = None
        self.pipe_r = None
        pipe_w = None
        if stdout_pipe:
            self.pipe_r, pipe_w = os.pipe()
        pid, fd = pty.fork()
        if pid == 0:
            try:
                fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
                if pipe_w is not None:
                    os.dup2(pipe_w, 1)
                env = dict(os.environ, HOME=home, TERM="xterm")
                env.pop("ZAN_LIBRARY_DIR", None)
                os.chdir(home)
                os.execve(ZAN, [ZAN] + list(args), env)
            finally:
                os._exit(127)
        if pipe_w is not None:
            os.close(pipe_w)
        self.pid, self.fd = pid, fd

    def _pump(self, timeout):
        r, _, _ = select.select([self.fd], [], [], timeout)
        if not r:
            return False
        try:
            data = os.read(self.fd, 65536)
        except OSError:
            return None
        if not data:
            return None
        self.out += data
        return True

    def expect(self, text, timeout=WAIT):
        """Waits until text appears in the output after what was consumed;
        answers the part up to and including it, and consumes it."""
        end = time.time() + timeout
        while text not in self.out:
            left = end - time.time()
            if left <= 0 or self._pump(left) is None:
                raise AssertionError(f"no {text!r} in {self.out!r}")
        i = self.out.index(text) + len(text)
        seen, self.out = self.out[:i], self.out[i:]
        return seen

    def settle(self, quiet=0.3, timeout=WAIT):
        """Reads until the output stays quiet for a moment; answers it all."""
        end = time.time() + timeout
        while time.time() < end:
            got = self._pump(quiet)
            if not got:
                break
        seen, self.out = self.out, b""
        return seen

    def send(self, data):
        os.write(self.fd, data)

    def enter(self, keys, until=PROMPT):
        """Sends keys ending in Enter; waits for the line end the editor
        writes at Enter, then for `until`; answers what came in between
        (the command's output)."""
        self.send(keys)
        self.expect(b"\r\n")
        return self.expect(until)

    def wait(self, timeout=WAIT):
        end = time.time() + timeout
        while time.time() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.status = status
                return os.waitstatus_to_exitcode(status)
            self._pump(0.05)
        raise AssertionError("zan did not end; output: " + repr(self.out))

    def close(self):
        if self.status is None:
            try:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
            except OSError:
                pass
        for f in (self.fd, self.pipe_r):
            if f is not None:
                try:
                    os.close(f)
                except OSError:
                    pass


class TerminalTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name
        self.sessions = []

    def tearDown(self):
        for s in self.sessions:
            s.close()
        self.tmp.cleanup()

    def start(self, **kw):
        s = Session(self.home, **kw)
        self.sessions.append(s)
        return s

    def started(self, **kw):
        s = self.start(**kw)
        s.expect(PROMPT)
        return s

    def assert_halts(self, s, command):
        """Sends a command that prints "runs" and then keeps busy, and
        Ctrl-C once it runs: the console must halt it before anything
        printing "after" runs. Answers the output up to the next prompt."""
        s.send(command + b"\r")
        s.expect(b"runs\r\n")
        time.sleep(0.2)
        s.send(b"\x03")
        seen = s.expect(PROMPT)
        self.assertTrue(seen.endswith(b"(halted)\r\n>> "), seen)
        self.assertNotIn(b"after", seen)
        return seen

    def test_banner_title_and_prompt(self):
        s = self.start()
        seen = s.expect(PROMPT)
        self.assertIn(b"\x1b]0;Zan Console\x07", seen)
        self.assertIn(b"--== Zan ", seen)
        self.assertIn(b"Type HELP for starting information.", seen)

    def test_result_line(self):
        s = self.started()
        self.assertEqual(s.enter(b"1 + 2\r"), b"== 3\r\n>> ")

    def test_typing_at_the_end_echoes_only_the_character(self):
        s = self.started()
        s.send(b"x")
        self.assertEqual(s.expect(b"x"), b"x")
        s.send(b"y")
        self.assertEqual(s.expect(b"y"), b"y")

    def test_editing_keys(self):
        s = self.started()
        # Left twice and an insertion; Home and End; Backspace; Delete.
        self.assertEqual(s.enter(b'print "ac"\x1b[D\x1b[Db\x1b[F\r'), b"abc\r\n>> ")
        self.assertEqual(s.enter(b"print 129\x7f3\x1b[H\x1b[3~p\r"), b"123\r\n>> ")
        self.assertEqual(s.enter(b"print 45678\x01\x1b[C\x1b[C\x1b[C\x1b[C\x1b[C\x1b[C\x1b[C\x0b\r"),
                         b"4\r\n>> ")

    def test_history_up_and_down(self):
        s = self.started()
        s.enter(b"print 111\r")
        s.enter(b"print 222\r")
        self.assertEqual(s.enter(b"\x1b[A\x1b[A\r"), b"111\r\n>> ")
        # Down after one Up shows the newest entry again.
        self.assertEqual(s.enter(b"\x1b[A\x1b[B\r"), b"111\r\n>> ")
        # Newest first; the command itself entered the history.
        self.assertIn(b'== ["system/console/history" "print 111" "print 222" "print 111"]',
                      s.enter(b"system/console/history\r"))

    def test_multi_line_input_shows_the_continuation_cue(self):
        s = self.started()
        self.assertEqual(s.enter(b"[\r", b"[    "), b"[    ")
        self.assertEqual(s.enter(b"1 2\r", b"[    "), b"[    ")
        seen = s.enter(b"]\r")
        self.assertTrue(seen.startswith(b"== ["), seen)
        self.assertIn(b"1 2", seen)

    def test_escape_drops_the_pending_input(self):
        s = self.started()
        s.enter(b"[\r", b"[    ")
        s.send(b"1 2\x1b")
        s.expect(b"\r\n")
        self.assertEqual(s.expect(PROMPT), b"(escape)\r\n>> ")
        self.assertEqual(s.enter(b"3\r"), b"== 3\r\n>> ")

    def test_halt(self):
        s = self.started()
        self.assertEqual(s.enter(b'print "a" halt print "b"\r'), b"a\r\n(halted)\r\n>> ")

    def test_ctrl_d_on_an_empty_line_quits(self):
        s = self.started()
        s.send(b"\x04")
        self.assertEqual(s.wait(), 0)

    def test_ctrl_d_in_a_line_deletes_and_ctrl_c_quits(self):
        s = self.started()
        self.assertEqual(s.enter(b"print 12\x1b[D\x04\r"), b"1\r\n>> ")
        s.send(b"abc\x03")
        self.assertEqual(s.wait(), 0)

    def test_ctrl_d_and_ctrl_c_end_the_console_when_the_settings_cannot_be_saved(self):
        os.makedirs(os.path.join(self.home, ".zan", "Zan-Console", "console-cfg.zan"))
        for key in [b"\x04", b"\x03"]:
            with self.subTest(key=key):
                s = self.started()
                s.send(key)
                self.assertEqual(s.wait(), 0)
                while s._pump(0.2):
                    pass
                self.assertIn(b"*** Console: settings not saved:", s.out)

    def test_ctrl_c_during_a_command_stops_it_and_the_console_goes_on(self):
        s = self.started()
        # Each command says when it runs and then runs until stopped, so
        # that Ctrl-C comes while it runs and not while the line is still
        # being read (slow when stressed). The first two say so from their
        # first pass through the loop, so each has changed its variable
        # when stopped. The last two run bodies of integer assignments,
        # which loops run without the walker, and the one after them a
        # recursion that is run without the walker's frames; the last a
        # body of direct calls, run from its form read once.
        for command in [b'n: 0 forever [n: n + 1 if n = 1 [print "runs"]]',
                        b'm: 0 f: does [while [true] [m: m - 1 if m = -1 [print "runs"]]] f',
                        b'print "runs" loop 2147483647 []',
                        b'j: 0 print "runs" forever [j: j + 1]',
                        b'k: 0 print "runs" while [k > -1] [k: k + 1 k: k and 1048575]',
                        b'fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]] print "runs" fib 60',
                        b'r: make map! 8 print "runs" repeat i 2147483647 [put r remainder i 7 i]']:
            with self.subTest(command=command):
                s.send(command + b"\r")
                s.expect(b"runs\r\n")
                s.send(b"\x03")
                self.assertTrue(s.expect(PROMPT).endswith(b"(halted)\r\n>> "))
        self.assertEqual(s.enter(b"all [n > 0 m < 0]\r"), b"== true\r\n>> ")
        s.send(b"\x03")   # at the prompt: the line editor's quit
        self.assertEqual(s.wait(), 0)

    def test_ctrl_c_during_wait_or_a_child_halts_the_command(self):
        # A native that blocks (wait, call waiting for its child) stops at
        # Ctrl-C like a loop does, and the session goes on. The child got
        # the terminal's SIGINT too; one that ignores it is killed, so that
        # nothing the command started keeps running.
        s = self.started()
        for command in [b'print "runs" wait 60',
                        b'print "runs" call/wait "sleep 60"',
                        b'o: copy "" print "runs" call/output "sleep 60" o',
                        b'print "runs" call/wait/shell {trap "" INT; sleep 60}']:
            with self.subTest(command=command):
                started = time.time()
                s.send(command + b"\r")
                s.expect(b"runs\r\n")
                time.sleep(0.1)
                s.send(b"\x03")
                self.assertTrue(s.expect(PROMPT).endswith(b"(halted)\r\n>> "))
                self.assertLess(time.time() - started, 30)
                self.assertEqual(s.enter(b"1 + 1\r"), b"== 2\r\n>> ")
                tasks = f"/proc/{s.pid}/task"
                children = "".join(open(f"{tasks}/{t}/children").read()
                                   for t in os.listdir(tasks))
                self.assertEqual(children.split(), [])
        s.send(b"\x03")   # at the prompt: the line editor's quit
        self.assertEqual(s.wait(), 0)

    def test_ctrl_c_during_blocked_io_halts_the_command(self):
        # A read or write that waits on something that never comes (a FIFO
        # nobody opens, the terminal, a server that never answers) stops at
        # Ctrl-C: "(halted)" with nothing after it run, the session goes on,
        # and no error is made of it (a try would have caught that).
        fifo = os.path.join(self.home, "never.fifo")
        os.mkfifo(fifo)
        mute = socket.socket()
        mute.bind(("127.0.0.1", 0))
        mute.listen(4)
        self.addCleanup(mute.close)
        url = "http://127.0.0.1:%d/" % mute.getsockname()[1]
        s = self.started()
        for command in [b'print "runs" read %never.fifo',
                        b'print "runs" write %never.fifo "x"',
                        b'print "runs" read %/dev/tty',
                        b'print "runs" try [read ' + url.encode() + b']']:
            with self.subTest(command=command):
                seen = self.assert_halts(s, command + b' print "after"')
                self.assertNotIn(b"***", seen)
                self.assertEqual(s.enter(b"1 + 1\r"), b"== 2\r\n>> ")

    def test_ctrl_c_is_taken_at_the_next_statement_whatever_ran_before(self):
        # input-stdin waits for a line and gives up at Ctrl-C without
        # stopping anything itself: the block it was called from must stop
        # at its next statement (a native call, an assignment, the block's
        # end), inside the command, so that nothing after it runs and the
        # console halts the command instead of quitting at the prompt.
        s = self.started()
        for command in [b'print "runs" input-stdin print "after"',
                        b'x: 0 print "runs" x: input-stdin x: 1 print "after"',
                        b'print "runs" input-stdin',
                        b'f: does [input-stdin] print "runs" f print "after"',
                        b'n: 0 print "runs" loop 1 [input-stdin n: n + 1] print "after"',
                        b'print "runs" if true [input-stdin] print "after"']:
            with self.subTest(command=command):
                self.assert_halts(s, command)
        # (input-stdin's own assignment is made, the one after it is not.)
        self.assertEqual(s.enter(b"reduce [x n]\r"), b'== ["" 0]\r\n>> ')
        s.send(b"\x03")   # at the prompt: the line editor's quit
        self.assertEqual(s.wait(), 0)

    def test_ctrl_c_stops_a_long_native(self):
        # A match that takes long (each "to" scans the rest of the input)
        # and a sort calling a compare function stop at Ctrl-C, not when
        # they are done.
        s = self.started()
        s.enter(b's: head insert/dup copy "" "ab" 1000000 b: head insert/dup copy [] [3 1 2] 300000\r')
        for command in [b'print "runs" parse s [some [to "z" | skip]] print "after"',
                        b'print "runs" sort/compare b func [x y] [x < y] print "after"']:
            with self.subTest(command=command):
                self.assert_halts(s, command)
        self.assertEqual(s.enter(b"1 + 1\r"), b"== 2\r\n>> ")

    def test_ctrl_c_outside_a_command_is_the_key_at_the_prompt(self):
        # The prompt and the result prefix are evaluated by the loop itself,
        # outside the guarded evaluation of a command; each here says when
        # it runs and then runs until stopped. Ctrl-C there quits, as the
        # key at the prompt does: status 0, no error, the settings saved
        # and the terminal restored.
        for setup, marker in [
                (b'system/console/prompt: does [print "asking" forever [] ">> "]', b"asking\r\n"),
                (b'system/console/result: does [print "printing" forever [] "=="]', b"printing\r\n")]:
            with self.subTest(setup=setup):
                s = self.started()
                s.send(setup + b"\r")
                s.expect(marker)
                s.send(b"\x03")
                self.assertEqual(s.wait(), 0)
                while s._pump(0.05):
                    pass
                self.assertNotIn(b"***", s.out)
                self.assertNotIn(b"(halted)", s.out)
                mode = termios.tcgetattr(s.fd)
                self.assertTrue(mode[3] & termios.ICANON and mode[3] & termios.ECHO)
                with open(os.path.join(self.home, ".zan", "Zan-Console", "console-cfg.zan")) as f:
                    self.assertIn(setup.decode(), f.read())

    def test_ctrl_c_in_a_script_ends_it_with_status_130_and_saves(self):
        with open(os.path.join(self.home, "loop.zan"), "w") as f:
            f.write('Zan []\ninsert system/console/history "from the script"\n'
                    'print "started"\nforever []\n')
        s = self.start(args=["loop.zan"])
        s.expect(b"started")
        time.sleep(0.2)
        s.send(b"\x03")
        self.assertEqual(s.wait(), 130)
        mode = termios.tcgetattr(s.fd)
        self.assertTrue(mode[3] & termios.ICANON and mode[3] & termios.ECHO)
        with open(os.path.join(self.home, ".zan", "Zan-Console", "console-cfg.zan")) as f:
            self.assertIn('"from the script"', f.read())

    def test_history_survives_a_restart(self):
        s = self.started()
        s.enter(b"print 7 * 6\r")
        s.send(b"\x04")
        self.assertEqual(s.wait(), 0)
        cfg = os.path.join(self.home, ".zan", "Zan-Console", "console-cfg.zan")
        with open(cfg, encoding="utf-8") as f:
            text = f.read()
        self.assertIn('Purpose: "Zan Console Configuration File"', text)
        self.assertIn('"print 7 * 6"', text)
        t = self.started()
        t.send(b"\x1b[A")
        t.expect(b"print 7 * 6")
        self.assertEqual(t.enter(b"\r"), b"42\r\n>> ")

    def test_ask_hide_shows_stars_and_stays_out_of_the_history(self):
        s = self.started()
        self.assertEqual(s.enter(b'x: ask/hide "Secret: "\r', b"Secret: "), b"Secret: ")
        s.send(b"abc")
        self.assertEqual(s.expect(b"***"), b"***")
        self.assertIn(b'== "abc"', s.enter(b"\r"))
        self.assertNotIn(b'"abc"', s.enter(b"system/console/history\r"))

    def test_ask_history_fills_its_own_block(self):
        s = self.started()
        s.enter(b"h: copy [] ask/history {? } h\r", b"? ")
        s.enter(b"first\r")
        self.assertIn(b'== ["first"]', s.enter(b"h\r"))

    def test_the_entered_line_and_its_history_entry_are_separate(self):
        s = self.started()
        s.enter(b'x: ask "? "\r', b"? ")
        s.enter(b"keep me\r")
        s.enter(b"clear x\r")
        self.assertIn(b'"keep me"', s.enter(b"system/console/history\r"))

    def test_tab_without_a_completion_inserts_a_tab(self):
        s = self.started()
        # "print" is complete and unique; "zzqq" completes to nothing: the
        # Tab goes into the line both times.
        self.assertEqual(s.enter(b"print\t5\r"), b"5\r\n>> ")
        self.assertEqual(s.enter(b"zzqq: 7 print [zzqq\t8]\r"), b"7 8\r\n>> ")

    def test_tab_completes_words(self):
        s = self.started()
        # A unique word.
        s.send(b"what-di\t")
        self.assertTrue(s.expect(b"what-dir").endswith(b">> what-dir"))
        self.assertTrue(s.enter(b"\r").startswith(b"== %"))
        # In the middle of a line: the cursor goes back before " 1 2]",
        # what follows is kept and the cursor lands after the completion.
        s.send(b"print [what-di 1 2]" + b"\x1b[D" * 5 + b"\t")
        s.expect(b"what-dir 1 2]")
        s.send(b"/x")
        self.assertIn(b">> print [what-dir/x 1 2]", s.expect(b"/x 1 2]"))
        s.send(b"\x0b\x01\x0b")
        s.settle()
        # Several candidates: shown after the prompt, on the prompt's own
        # line, each followed by one space; the next prompt brings the line
        # back with their common part filled in.
        s.send(b"to-loc\t")
        listed = s.expect(b"to-local-date to-local-file ")
        self.assertTrue(listed.endswith(b">> to-local-date to-local-file "), listed)
        self.assertTrue(s.expect(b">> to-local-").endswith(b"\n>> to-local-"))
        self.assertEqual(s.enter(b"file %a/b\r"), b'== "a/b"\r\n>> ')

    def test_tab_completes_a_path_into_an_object_and_a_refinement(self):
        s = self.started()
        s.send(b"length? system/catalog/acc\t")
        s.expect(b"system/catalog/accessors")
        self.assertEqual(s.enter(b"\r"), b"== 18\r\n>> ")
        s.send(b"append/o\t")
        s.expect(b"append/only")
        self.assertEqual(s.enter(b" [1] [2]\r"), b"== [1 [2]]\r\n>> ")
        # A function of the session: its refinements, /local left out.
        s.enter(b"f: func [/alpha /beta /local x] [alpha]\r")
        s.send(b"f/\t")
        self.assertTrue(s.expect(b"alpha beta ").endswith(b">> alpha beta "))
        s.expect(b">> f/")
        self.assertEqual(s.enter(b"al\t\r"), b"== true\r\n>> ")

    def test_tab_completes_file_names(self):
        with open(os.path.join(self.home, "alpha-one.txt"), "w") as f:
            f.write("first")
        os.mkdir(os.path.join(self.home, "dir-x"))
        for name in ("beta-1", "beta-2"):
            open(os.path.join(self.home, "dir-x", name), "w").close()
        s = self.started()
        s.send(b"read %alp\t")
        s.expect(b"%alpha-one.txt")
        self.assertEqual(s.enter(b"\r"), b'== "first"\r\n>> ')
        s.send(b"length? read %dir-x/b\t")
        self.assertTrue(s.expect(b"beta-1 beta-2 ").endswith(b">> beta-1 beta-2 "))
        s.expect(b">> length? read %dir-x/beta-")
        self.assertEqual(s.enter(b"1\r"), b"== 0\r\n>> ")
        # No such directory: nothing to complete, the Tab is inserted.
        s.send(b"%nodir/x\t")
        s.expect(b"%nodir/x")
        self.assertEqual(s.settle(), b"    ")

    def test_tab_completes_a_file_name_with_a_space_to_a_form_that_loads(self):
        for name in ("with space.txt", "with space-2.txt"):
            with open(os.path.join(self.home, name), "w") as f:
                f.write(name)
        s = self.started()
        # Two candidates: the common part is filled in with its quote left
        # open, and Tab goes on completing inside the quotes.
        s.send(b"read %wi\t")
        self.assertTrue(s.expect(b"with space-2.txt with space.txt ")
                        .endswith(b">> with space-2.txt with space.txt "))
        s.expect(b'>> read %"with space')
        s.send(b"-\t")
        s.expect(b'%"with space-2.txt"')
        self.assertEqual(s.enter(b"\r"), b'== "with space-2.txt"\r\n>> ')

    def test_tab_with_several_candidates_lists_them_and_editing_goes_on(self):
        s = self.started()
        # A stand-in for the completion object: "p" gives the line "pr"
        # (cursor at its end) and two candidates; "pri" gives one.
        s.enter(b"zan-complete-ctx: context [complete-input: func [s c] ["
                b"case [(head s) = {p} [reduce [at copy {pr} 3 {print} {probe}]] "
                b"(head s) = {pri} [reduce [at copy {print} 6]] true [copy []]]]]\r")
        s.send(b"p\t")
        self.assertTrue(s.expect(b"print probe ").endswith(b">> print probe "))
        self.assertTrue(s.expect(b">> pr").endswith(b"\n>> pr"))
        self.assertEqual(s.enter(b"int 5\r"), b"5\r\n>> ")
        s.send(b"pri\t")
        s.expect(b"print")
        self.assertEqual(s.enter(b" 6\r"), b"6\r\n>> ")

    def test_pasted_lines_are_kept_between_edits(self):
        s = self.started()
        s.send(b"print 1\rprint 2\rprint 3\r")
        s.expect(b"\r\n3\r\n")
        seen = s.settle()
        self.assertIn(PROMPT, seen)

    def test_the_size_comes_from_the_terminal(self):
        s = self.started(cols=57, rows=13)
        self.assertEqual(s.enter(b"system/console/size\r"), b"== 57x13\r\n>> ")

    def test_a_size_change_redraws_the_line(self):
        s = self.started(cols=60, rows=20)
        s.send(b"print 5")
        s.expect(b"print 5")
        fcntl.ioctl(s.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 20, 30, 0, 0))
        seen = s.expect(b">> print 5")
        self.assertIn(b"\x1b[J", seen)
        self.assertEqual(s.enter(b"\r"), b"5\r\n>> ")
        self.assertEqual(s.enter(b"system/console/size\r"), b"== 30x20\r\n>> ")

    def test_narrowing_a_wrapped_line_redraws_it_from_the_prompts_row(self):
        # ">> " and 39 characters at 20 columns: the cursor ends on row 2.
        # At 12 columns a terminal that wraps the line again has it on row 3
        # (column 6), one that clips the rows keeps it on row 2 (column 2):
        # the editor asks where the cursor is and goes up to the prompt's
        # row accordingly before it redraws, so no old row stays behind.
        for column, up in [(6, b"\r\x1b[3A\x1b[J>> "), (2, b"\r\x1b[2A\x1b[J>> ")]:
            with self.subTest(column=column):
                s = self.started(cols=20, rows=10)
                text = b"x" * 39
                s.send(text)
                s.expect(text)
                fcntl.ioctl(s.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 10, 12, 0, 0))
                s.expect(b"\x1b[6n")
                s.send(b"\x1b[5;%dR" % (column + 1))
                seen = s.expect(b">> " + text)
                self.assertTrue(seen.endswith(up + text), seen)
                s.send(b"\r")
                s.expect(PROMPT)

    def test_a_long_line_wraps(self):
        s = self.started(cols=20, rows=10)
        # ">> " and 39 characters take two rows; Enter moves below both.
        s.send(b'print "' + b"x" * 30 + b'"')
        s.expect(b'"')
        s.expect(b'"')
        self.assertEqual(s.enter(b"\r"), b"x" * 30 + b"\r\n>> ")

    def test_the_prompt_after_text_without_a_line_end_asks_where_the_cursor_is(self):
        s = self.started()
        self.assertEqual(s.enter(b'prin "abc"\r', b"\x1b[6n"), b"abc\x1b[6n")
        s.send(b"\x1b[7;4R")
        s.expect(PROMPT)
        self.assertEqual(s.enter(b"1 + 1\r"), b"== 2\r\n>> ")

    def test_sigterm_restores_the_terminal(self):
        s = self.started()
        mode = termios.tcgetattr(s.fd)
        self.assertEqual(mode[3] & termios.ICANON, 0)   # raw while editing
        os.kill(s.pid, signal.SIGTERM)
        code = s.wait()
        self.assertEqual(code, -signal.SIGTERM)
        mode = termios.tcgetattr(s.fd)
        self.assertNotEqual(mode[3] & termios.ICANON, 0)
        self.assertNotEqual(mode[3] & termios.ECHO, 0)

    def test_the_terminal_is_cooked_while_a_command_runs(self):
        s = self.started()
        s.send(b"wait 1\r")
        time.sleep(0.4)
        mode = termios.tcgetattr(s.fd)
        self.assertNotEqual(mode[3] & termios.ICANON, 0)
        s.expect(PROMPT)

    def test_a_hung_up_terminal_ends_the_console(self):
        s = self.started()
        os.close(s.fd)
        s.fd = None
        end = time.time() + WAIT
        while time.time() < end:
            pid, status = os.waitpid(s.pid, os.WNOHANG)
            if pid:
                s.status = status
                break
            time.sleep(0.05)
        self.assertIsNotNone(s.status, "zan kept running after the hang-up")

    def test_no_escape_sequences_go_into_redirected_output(self):
        s = self.start(stdout_pipe=True)
        # The prompt goes to standard error, the terminal.
        s.expect(PROMPT)
        s.enter(b"1 + 2\r")
        s.send(b"\x04")
        self.assertEqual(s.wait(), 0)
        data = b""
        while True:
            chunk = os.read(s.pipe_r, 65536)
            if not chunk:
                break
            data += chunk
        self.assertNotIn(b"\x1b", data)
        self.assertTrue(data.startswith(b"--== Zan "), data)
        self.assertTrue(data.endswith(b"== 3\n"), data)


class CommandLineTest(unittest.TestCase):
    """Runs zan with pipes: cases that need no script file of their own."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def run_zan(self, args, stdin=""):
        env = dict(os.environ, HOME=self.home)
        env.pop("ZAN_LIBRARY_DIR", None)
        return subprocess.run([ZAN] + args, input=stdin, capture_output=True, text=True,
                              env=env, timeout=60, cwd=self.home)

    def test_no_arguments_runs_the_loop_until_the_input_ends(self):
        p = self.run_zan([], "1 + 1\n")
        self.assertEqual(p.returncode, 0)
        self.assertTrue(p.stdout.startswith("--== Zan "))
        self.assertTrue(p.stdout.endswith("== 2\n"))

    def test_only_switches_run_the_loop(self):
        p = self.run_zan(["--catch", "--other"], "system/options/args\n")
        self.assertEqual(p.returncode, 0)
        self.assertTrue(p.stdout.startswith("--== Zan "))
        self.assertIn('== ["--other"]', p.stdout)

    def test_a_script_that_cannot_be_read(self):
        p = self.run_zan(["no-such-script.zan"])
        self.assertEqual(p.returncode, 254)
        self.assertIn("*** Access Error: cannot open: %no-such-script.zan", p.stdout)
        self.assertNotIn("--== Zan", p.stdout)

    def test_a_directory_is_no_script(self):
        os.mkdir(os.path.join(self.home, "adir"))
        p = self.run_zan(["adir"])
        self.assertEqual(p.returncode, 254)
        self.assertIn("*** Access Error: cannot open:", p.stdout)

    def test_catch_keeps_the_console_open_after_an_unreadable_script(self):
        p = self.run_zan(["--catch", "no-such-script.zan"], "1 + 2\n")
        self.assertEqual(p.returncode, 0)
        self.assertIn("cannot open", p.stdout)
        self.assertNotIn("--== Zan", p.stdout)
        self.assertTrue(p.stdout.endswith("== 3\n"))

    def test_a_name_after_a_lone_double_dash_is_the_script(self):
        with open(os.path.join(self.home, "--odd.zan"), "w") as f:
            f.write('Zan []\nprint "odd ran"\nprint mold system/script/args\n')
        p = self.run_zan(["--", "--odd.zan", "x"])
        self.assertEqual(p.returncode, 0)
        self.assertEqual(p.stdout, 'odd ran\n"x"\n')

    def test_it_starts_and_runs_under_a_limit_of_the_address_space(self):
        # ulimit -v: the heap region is smaller, and running out of it is
        # the error no-memory, not the end of the process.
        with open(ZAN, "rb") as f:
            if b"__asan_" in f.read():
                self.skipTest("the sanitizers need more address space than any such limit")
        script = ('x: make binary! 50000000 print length? append/dup x #{00} 50000000\n'
                  'e: try [make binary! 2100000000] print e/id\n')
        for kib in [3000000, 1000000, 400000]:
            with self.subTest(limit=kib):
                def limited():
                    resource.setrlimit(resource.RLIMIT_AS, (kib * 1024, kib * 1024))
                env = dict(os.environ, HOME=self.home)
                env.pop("ZAN_LIBRARY_DIR", None)
                p = subprocess.run([ZAN], input=script, capture_output=True, text=True, env=env,
                                   timeout=60, cwd=self.home, preexec_fn=limited)
                self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
                self.assertTrue(p.stdout.startswith("--== Zan "), p.stdout + p.stderr)
                self.assertIn("50000000\nno-memory\n", p.stdout)

    def test_an_interrupt_with_piped_input_ends_with_status_130(self):
        # A running command, and a read waiting for more input.
        for stdin in [b'print "go" forever []\n', b'print "go" x: input print "not here"\n']:
            with self.subTest(stdin=stdin):
                env = dict(os.environ, HOME=self.home)
                env.pop("ZAN_LIBRARY_DIR", None)
                p = subprocess.Popen([ZAN], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env, cwd=self.home)
                p.stdin.write(stdin)
                p.stdin.flush()
                out = b""
                while b"go\n" not in out:
                    out += os.read(p.stdout.fileno(), 4096)
                time.sleep(0.2)
                p.send_signal(signal.SIGINT)
                try:
                    self.assertEqual(p.wait(timeout=WAIT), 130)
                finally:
                    p.kill()
                    p.communicate()
                self.assertNotIn(b"not here", out + p.stdout.read() if not p.stdout.closed else out)
                self.assertTrue(os.path.exists(
                    os.path.join(self.home, ".zan", "Zan-Console", "console-cfg.zan")))

    def test_the_end_of_piped_input_ends_the_console(self):
        p = self.run_zan([], "")
        self.assertEqual(p.returncode, 0)
        p = self.run_zan([], "print 1")   # a last line without a line end
        self.assertEqual(p.returncode, 0)
        self.assertTrue(p.stdout.endswith("\n1\n"))


class ConfigurationTest(unittest.TestCase):
    """The configuration file under the cache directory: loaded at launch,
    written by quit."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name
        self.dir = os.path.join(self.home, ".zan", "Zan-Console")
        self.path = os.path.join(self.dir, "console-cfg.zan")

    def tearDown(self):
        self.tmp.cleanup()

    def run_zan(self, stdin):
        env = dict(os.environ, HOME=self.home)
        env.pop("ZAN_LIBRARY_DIR", None)
        p = subprocess.run([ZAN], input=stdin, capture_output=True, text=True, env=env,
                           timeout=60, cwd=self.home)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        return p.stdout

    def write_cfg(self, text):
        os.makedirs(self.dir, exist_ok=True)
        with open(self.path, "w", encoding="utf-8") as f:
            f.write(text)

    def read_cfg(self):
        with open(self.path, encoding="utf-8") as f:
            return f.read()

    def test_no_file_the_first_quit_writes_one(self):
        out = self.run_zan("cli-console-ctx/settings/cfg\n")
        self.assertIn("== [buffer-lines: 10000 history: []]", out)
        text = self.read_cfg()
        self.assertTrue(text.startswith("Zan ["), text)
        self.assertIn('Purpose: "Zan Console Configuration File"', text)
        self.assertIn("buffer-lines: 10000", text)
        self.assertIn("history: []", text)

    def test_a_file_with_only_a_history_gains_buffer_lines(self):
        self.write_cfg('Zan [Purpose: "x"]\nhistory: ["b" "a"]\nother: 5\n')
        out = self.run_zan("system/console/history\n")
        self.assertIn('== ["b" "a"]', out)
        text = self.read_cfg()
        self.assertIn('history: ["b" "a"]', text)
        self.assertIn("other: 5", text)   # unknown keys are kept
        self.assertIn("buffer-lines: 10000", text)

    def test_the_history_is_saved_as_its_newest_100_entries(self):
        self.run_zan("repeat i 150 [insert system/console/history form i]\n")
        text = self.read_cfg()
        start = text.index("history: [")
        saved = text[start:text.index("]", start)]
        self.assertIn('"150"', saved)
        self.assertIn('"51"', saved)
        self.assertNotIn('"50"', saved)
        self.assertEqual(saved.count('"'), 200)

    def test_a_file_that_cannot_be_loaded_counts_as_absent(self):
        self.write_cfg("Zan [] history: [ {unclosed\n")
        out = self.run_zan("system/console/history\n")
        self.assertIn("== []", out)
        self.assertIn("buffer-lines: 10000", self.read_cfg())

    def test_a_file_without_the_header_word_counts_as_absent(self):
        self.write_cfg('history: ["x"]\n')
        out = self.run_zan("system/console/history\n")
        self.assertIn("== []", out)

    def test_a_history_that_is_not_a_block_starts_again_empty(self):
        self.write_cfg("Zan [] history: 5\n")
        out = self.run_zan("system/console/history\n")
        self.assertIn("== []", out)
        self.assertIn("history: []", self.read_cfg())

    def run_status(self, stdin, args=(), home=None):
        env = dict(os.environ, HOME=home or self.home)
        env.pop("ZAN_LIBRARY_DIR", None)
        return subprocess.run([ZAN] + list(args), input=stdin, capture_output=True, text=True,
                              env=env, timeout=60, cwd=self.home)

    def test_quit_ends_the_console_when_the_file_cannot_be_written(self):
        os.makedirs(self.path)   # a directory where the file should be
        for stdin, status in fewer_under_stress([("quit/return 4\n", 4), ("print 5\n", 0),
                                                 ("quit\n", 0), ("q\n", 0)], 2):
            with self.subTest(stdin=stdin):
                p = self.run_status(stdin)
                self.assertEqual(p.returncode, status, p.stdout + p.stderr)
                self.assertEqual(p.stderr.count("*** Console: settings not saved:"), 1, p.stderr)
                self.assertIn("cannot open: %" + self.path, p.stderr)
                self.assertNotIn("Error", p.stdout)

    def test_a_home_that_cannot_hold_the_settings_is_said_once(self):
        with open(os.path.join(self.home, "plain-file"), "w") as f:
            f.write("x")
        with open(os.path.join(self.home, "s.zan"), "w") as f:
            f.write('Zan []\nprint "script ran"\nprint length? system/console/history\n')
        runs = [(home, run) for home in ["/dev/null", os.path.join(self.home, "plain-file")]
                for run in [(["s.zan"], "", "script ran\n0\n", 0),
                            ([], "print 7\nquit/return 3\n", "\n7\n", 3)]]
        for home, (args, stdin, out, status) in fewer_under_stress(runs, 2):
            with self.subTest(home=home, args=args):
                p = self.run_status(stdin, args, home)
                self.assertEqual(p.returncode, status, p.stdout + p.stderr)
                self.assertTrue(p.stdout.endswith(out), p.stdout)
                self.assertEqual(p.stderr, "*** Console: cannot make " + home +
                                 "/.zan/Zan-Console/: history and settings are not saved\n")

    def test_quit_runs_the_save_function_the_word_holds_when_it_runs(self):
        with open(os.path.join(self.home, "s.zan"), "w") as f:
            f.write('Zan []\n_save-cfg: does [print "own save"]\nquit/return 3\n')
        p = self.run_status("", ["s.zan"])
        self.assertEqual(p.returncode, 3)
        self.assertEqual(p.stdout, "own save\n")
        self.assertFalse(os.path.exists(self.path))

    def test_an_error_ending_the_process_leaves_the_file_alone(self):
        self.write_cfg('Zan []\nhistory: ["kept"]\n')
        with open(os.path.join(self.home, "fail.zan"), "w") as f:
            f.write("Zan []\ninsert system/console/history {new}\n1 / 0\n")
        env = dict(os.environ, HOME=self.home)
        env.pop("ZAN_LIBRARY_DIR", None)
        p = subprocess.run([ZAN, "fail.zan"], capture_output=True, text=True, env=env,
                           timeout=60, cwd=self.home, stdin=subprocess.DEVNULL)
        self.assertEqual(p.returncode, 254)
        self.assertEqual(self.read_cfg(), 'Zan []\nhistory: ["kept"]\n')


if __name__ == "__main__":
    ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
