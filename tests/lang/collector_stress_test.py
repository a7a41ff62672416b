#!/usr/bin/env python3
"""The stressed collector (ZAN_GC_STRESS=1) in the console: the console's
own start, the same in every process, runs unstressed; from the first read
of input on, every allocation collects.

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


class StressedConsoleTest(unittest.TestCase):
    def test_stress_begins_at_the_first_read_of_input(self):
        # Stressed from the start, the console has collected about 300 times
        # before its first line is evaluated; the first line itself costs
        # about a hundred. Twenty new blocks afterwards are twenty more
        # collections at least.
        out = console(["n: system/state/GC/series-cycles",
                       "loop 20 [make block! 1]",
                       "print [n system/state/GC/series-cycles - n]"], "1")
        n, grown = (int(x) for x in out[2].split())
        self.assertGreater(n, 0)
        self.assertLess(n, 250)
        self.assertGreaterEqual(grown, 20)

    def test_unstressed_console_collects_only_when_due(self):
        out = console(["n: system/state/GC/series-cycles",
                       "loop 20 [make block! 1]",
                       "print [n system/state/GC/series-cycles - n]"], "0")
        self.assertEqual(out[2], "0 0")


if __name__ == "__main__":
    ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
