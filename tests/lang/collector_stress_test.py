#!/usr/bin/env python3
"""The stressed collector (ZAN_GC_STRESS=1): the launch, the same in every
process, runs unstressed; from the first read of input on (the console's
standard input, a script's file), every allocation collects.

Usage: collector_stress_test.py <path of zan> [unittest options]
"""
import os
import subprocess
import sys
import tempfile
import unittest

ZAN = None


def console(lines, stress):
    """Runs the console on the lines; answers its output lines after the banner."""
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home, ZAN_GC_STRESS=stress)
        env.pop("ZAN_LIBRARY_DIR", None)
        proc = subprocess.run([ZAN], input=("\n".join(lines) + "\n").encode("utf-8"),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=home,
                              env=env, timeout=600)
    return proc.stdout.decode("utf-8").split("\n")[3:]


def script(text, stress):
    """Runs zan on a script file holding text; answers its output lines."""
    with tempfile.TemporaryDirectory() as home:
        path = os.path.join(home, "s.zan")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        env = dict(os.environ, HOME=home, ZAN_GC_STRESS=stress)
        env.pop("ZAN_LIBRARY_DIR", None)
        proc = subprocess.run([ZAN, path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              cwd=home, env=env, timeout=600)
    return proc.stdout.decode("utf-8").split("\n")


class StressedConsoleTest(unittest.TestCase):
    def test_stress_begins_at_the_first_read_of_input(self):
        # Stressed from the start, the console has collected about 420 times
        # when its first line is evaluated; from the first read of input on,
        # about 110. Twenty new blocks afterwards are twenty more
        # collections at least.
        out = console(["n: system/state/GC/series-cycles",
                       "loop 20 [make block! 1]",
                       "print [n system/state/GC/series-cycles - n]"], "1")
        n, grown = (int(x) for x in out[2].split())
        self.assertGreater(n, 0)
        self.assertLess(n, 250)
        self.assertGreaterEqual(grown, 20)

    def test_a_script_is_stressed_from_the_read_of_its_file(self):
        # Stressed from the start, about 480 collections come before the
        # script's first line; from the read of its file on (finding the
        # header, loading, the directives) about 260.
        out = script("Zan []\nn: system/state/GC/series-cycles\n"
                     "loop 20 [make block! 1]\n"
                     "print [n system/state/GC/series-cycles - n]\n", "1")
        n, grown = (int(x) for x in out[0].split())
        self.assertGreater(n, 0)
        self.assertLess(n, 380)
        self.assertGreaterEqual(grown, 20)

    def test_unstressed_console_collects_only_when_due(self):
        out = console(["n: system/state/GC/series-cycles",
                       "loop 20 [make block! 1]",
                       "print [n system/state/GC/series-cycles - n]"], "0")
        self.assertEqual(out[2], "0 0")


if __name__ == "__main__":
    ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
