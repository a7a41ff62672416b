#!/usr/bin/env python3
"""The profiler's report and the debugger on a pseudo-terminal.

Usage: tools_test.py <path of zan> [unittest options]

The profiler's table is parsed: names, counts and the order of the rows are
compared, durations only for their order (a /by 'time report) or against a
wait they must include, never for speed.
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import console_terminal_test as terminal  # noqa: E402

ROW = re.compile(r"^#(\d+) +(\S+) +\| (\d+) +\| (\d+):(\d+):(\d+(?:\.\d+)?) *$")

# Every wait for the console is longer under the stressed collector.
WAIT = terminal.WAIT * (20 if os.environ.get("ZAN_GC_STRESS", "0") not in ("", "0") else 1)


class Session(terminal.Session):
    def expect(self, text, timeout=None):
        return super().expect(text, WAIT if timeout is None else timeout)


FIB = "fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]]\n"


def seconds(h, m, s):
    return int(h) * 3600 + int(m) * 60 + float(s)


# The profiled programs, one section each, run in one process (start-up is
# the costly part under the stressed collector).
SECTIONS = {
    "counts": FIB + "profile [fib 5 do reduce [func [x] [x] 1] do reduce [func [x] [x] 2]]\n",
    "orders": FIB + "f: func [] [fib 4]\n"
                    "profile/by [f f] 'count\n"
                    "profile/by [f f] 'name\n"
                    "profile/by [f f] 'time\n",
    "options": "o: system/tools/options/profile\n"
               "o/sort-by: 'time\n"
               "before: mold body-of o\n"
               "profile/by [1 + 1] 'name\n"
               "print before = mold body-of o\n"
               "profile [1 + 1]\n"
               "print before = mold body-of o\n"
               "ran: false\n"
               "e: try [profile/by [ran: true] 'size]\n"
               "print [e/id e/arg1 ran before = mold body-of o]\n"
               "o/sort-by: 'count\n",
    "error": "e: try [profile [1 + 1 1 / 0]]\n"
             "print [e/id system/tools/options/profile/sort-by]\n",
    # Last: it narrows the counted types for the rest of the run.
    "uncounted": "system/tools/options/profile/types: make typeset! [function!]\n"
                 "slow: func [] [none? 1 wait 0.05 none]\n"
                 "quick: func [] [none]\n"
                 "outer: func [] [quick slow]\n"
                 "profile/by [outer quick] 'time\n"
                 "print length? system/tools/fun-stk\n",
}


class ProfilerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as home:
            path = os.path.join(home, "p.zan")
            with open(path, "w") as f:
                f.write("Zan []\n")
                for name, body in SECTIONS.items():
                    f.write(f'print "@@ {name}"\n' + body)
            env = dict(os.environ, HOME=home)
            env.pop("ZAN_LIBRARY_DIR", None)
            p = subprocess.run([terminal.ZAN, path], capture_output=True, text=True, env=env,
                               timeout=600, stdin=subprocess.DEVNULL)
        cls.status, cls.sections = p.returncode, {}
        for part in p.stdout.split("@@ ")[1:]:
            name, _, out = part.partition("\n")
            cls.sections[name] = out

    def output(self, name):
        self.assertEqual(self.status, 0)
        return self.sections[name]

    def tables(self, out):
        """The report tables of out, as lists of (name, count, seconds)."""
        tables, rows = [], None
        for line in out.split("\n"):
            m = ROW.match(line)
            if m:
                if rows is None or int(m.group(1)) == 1:
                    rows = []
                    tables.append(rows)
                self.assertEqual(int(m.group(1)), len(rows) + 1, line)
                rows.append((m.group(2), int(m.group(3)), seconds(*m.group(4, 5, 6))))
        return tables

    def test_counts_of_recursive_and_anonymous_functions(self):
        out = self.output("counts")
        self.assertTrue(out.startswith("== 2\n\n"), out)
        [rows] = self.tables(out)
        # fib 5 makes 15 calls of fib, each tests n < 2 with either; the 7
        # that recurse subtract twice and add once. Every anonymous call
        # gets a name of its own. By count, ties keep the order of the
        # first calls.
        self.assertEqual([(n, c) for n, c, _ in rows], [
            ("fib", 15), ("<", 15), ("either", 15), ("-", 14), ("+", 7),
            ("reduce", 2), ("func", 2), ("do", 2), ("anon1", 1), ("anon2", 1)])

    def test_each_sort_order(self):
        by_count, by_name, by_time = self.tables(self.output("orders"))
        counts = {"f": 2, "fib": 18, "<": 18, "either": 18, "-": 16, "+": 8}
        for rows in (by_count, by_name, by_time):
            self.assertEqual({n: c for n, c, _ in rows}, counts)
        self.assertEqual([n for n, _, _ in by_count], ["fib", "<", "either", "-", "+", "f"])
        self.assertEqual([n for n, _, _ in by_name], ["+", "-", "<", "either", "f", "fib"])
        times = [t for _, _, t in by_time]
        self.assertEqual(times, sorted(times, reverse=True))

    def test_options_are_restored_and_a_bad_key_is_refused_before_the_run(self):
        out = self.output("options")
        self.assertEqual([[n for n, _, _ in rows] for rows in self.tables(out)], [["+"], ["+"]])
        lines = [l for l in out.split("\n") if not ROW.match(l) and l not in ("", "== 2")]
        self.assertEqual(lines, ["true", "true", "invalid-arg size false true"])

    def test_uncounted_calls_leave_the_callers_record_alone(self):
        # Only function! calls are counted: the natives slow calls open no
        # row, and their returns do not close slow's record early, so its
        # duration holds the whole wait.
        out = self.output("uncounted")
        [rows] = self.tables(out)
        self.assertEqual([(n, c) for n, c, _ in rows], [("outer", 1), ("slow", 1), ("quick", 2)])
        self.assertGreaterEqual(rows[0][2], 0.05)
        self.assertGreaterEqual(rows[1][2], 0.05)
        self.assertEqual(out.split("\n")[-2], "0")

    def test_an_error_in_the_profiled_code_prints_no_report(self):
        self.assertEqual(self.output("error"), "zero-divide count\n")


class DebuggerTerminalTest(unittest.TestCase):
    DEBUG = b"debug> "

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.session = Session(self.tmp.name, cols=60)
        self.session.expect(terminal.PROMPT)

    def tearDown(self):
        self.session.close()
        self.tmp.cleanup()

    def step(self, keys):
        return self.session.enter(keys, self.DEBUG)

    def test_stepping_an_error_and_no_debugger_lines_in_the_history(self):
        s = self.session
        s.enter(b"1 + 1\r")
        self.assertEqual(self.step(b"debug [x: 1 + 2 x / 0]\r"),
                         b"-----> EVAL x:\r\nInput: x: 1 + 2 x / 0\r\n\r\n-empty stack-\r\n"
                         + self.DEBUG)
        self.assertEqual(self.step(b"\r"),
                         b"-----> PUSH x:\r\nInput: x: 1 + 2 x / 0\r\n\r\nStack: x:\r\n\r\n"
                         + self.DEBUG)
        self.assertEqual(self.step(b"watch x\r"), self.DEBUG)
        # continue: silent until the error, which opens the prompt once.
        seen = self.step(b"c\r")
        self.assertTrue(seen.startswith(b"-----> ERROR make error! [code: 400 "), seen)
        self.assertIn(b"Watch: x: 3\r\n", seen)
        self.assertEqual(s.enter(b"\r"),
                         b"*** Math Error: attempt to divide by zero\r\n*** Where: /\r\n"
                         b"*** Near : x / 0\r\n*** Stack: launch run eval-command do-command "
                         b"try-do debug\r\n\r\n>> ")
        # The lines typed at debug> are gone from the history.
        self.assertEqual(s.enter(b"print mold system/console/history\r"),
                         b'["print mold system/console/history" "debug [x: 1 + 2 x / 0]" "1 + 1"]'
                         b"\r\n>> ")

    def test_failing_and_unknown_commands_prompt_again_and_quit_halts(self):
        s = self.session
        self.step(b"debug [print 1 print 2]\r")
        self.assertEqual(self.step(b"zzz\r"), b"Unknown command!\r\n" + self.DEBUG)
        seen = self.step(b":no-such/path\r")
        self.assertTrue(seen.startswith(b"*** Script Error: no-such is unset in path"), seen)
        seen = self.step(b"[\r")
        self.assertTrue(seen.startswith(b"*** Syntax Error: (line 1) missing ]"), seen)
        self.assertEqual(self.step(b"-s\r"), self.DEBUG)
        self.assertEqual(self.step(b"\r"), b"-----> OPEN print\r\nInput: 1 print 2\r\n"
                         + self.DEBUG)
        self.assertEqual(s.enter(b"q\r"), b"(halted)\r\n>> ")
        self.assertEqual(s.enter(b"system/tools/options/debug/show-stack?\r"), b"== true\r\n>> ")
        self.assertEqual(s.enter(b"print mold system/console/history\r"),
                         b'["print mold system/console/history" '
                         b'"system/tools/options/debug/show-stack?" "debug [print 1 print 2]"]'
                         b"\r\n>> ")


if __name__ == "__main__":
    terminal.ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
