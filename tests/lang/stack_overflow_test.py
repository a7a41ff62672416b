#!/usr/bin/env python3
"""Stack overflows through the preprocessor end in a language error at any
depth: a script that includes itself stops with the overflow's report, and
the console lives through an include of itself expanded from one level
deeper each round.

Usage: stack_overflow_test.py <path of zan> [unittest options]
"""
import os
import subprocess
import sys
import tempfile
import unittest

ZAN = None
STRESS = bool(os.environ.get("ZAN_GC_STRESS"))
# The stressed collector makes every start and command many times slower.
TIMEOUT = 600 if STRESS else 60
SELF_INCLUDE = "Zan []\n#include %{name}\n"
OVERFLOW = "*** Internal Error: stack overflow"


class OverflowThroughIncludesTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.env = dict(os.environ, HOME=self.dir)
        self.env.pop("ZAN_LIBRARY_DIR", None)

    def tearDown(self):
        self.tmp.cleanup()

    def write_self_include(self, name):
        with open(os.path.join(self.dir, name), "w") as f:
            f.write(SELF_INCLUDE.format(name=name))

    def run_zan(self, args, stdin=""):
        proc = subprocess.run([ZAN] + args, input=stdin.encode("utf-8"), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, cwd=self.dir, env=self.env,
                              timeout=TIMEOUT)
        return proc.returncode, proc.stdout.decode("utf-8", errors="replace")

    def test_a_script_that_includes_itself(self):
        if STRESS:
            # Each of the hundreds of nested loads collects before every
            # allocation; the console case below covers the stressed run.
            self.skipTest("too slow with the collector stressed")
        self.write_self_include("one.zan")
        status, out = self.run_zan(["one.zan"])
        self.assertNotIn("Runtime Error", out)
        lines = out.split("\n")
        self.assertEqual(lines[0], "*** Preprocessor Error in #include")
        self.assertEqual(lines[1], OVERFLOW)
        self.assertEqual(lines[2], "*** Where: #include")
        self.assertIn("(halted)", lines)
        self.assertEqual(status, 254)

    def test_the_console_lives_through_deeper_overflows(self):
        # The first round is the include at the prompt; then each round
        # starts the include one call deeper, so that the overflow meets the
        # frames below it at every alignment.
        # (Twenty rounds: the stale read killed the console at depth 9;
        # each round is costly under the sanitizers.)
        rounds = 1 if STRESS else 20
        self.write_self_include("self.zan")
        script = [
            "expand-directives [#include %self.zan 1]",
            "f: func [n] [either n > 0 [f n - 1] [expand-directives [#include %self.zan]]]",
            f"repeat i {rounds} [print ['depth i] catch/name [attempt [f i]] 'console]",
            'print "done"',
        ]
        status, out = self.run_zan([], "\n".join(script) + "\n")
        self.assertNotIn("Runtime Error", out)
        lines = out.split("\n")
        self.assertEqual([l for l in lines if l.startswith("depth ")],
                         [f"depth {i}" for i in range(1, rounds + 1)])
        self.assertEqual(lines.count(OVERFLOW), rounds + 1)
        self.assertIn("done", lines)
        self.assertEqual(status, 0)


if __name__ == "__main__":
    ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
