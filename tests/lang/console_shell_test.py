#!/usr/bin/env python3
"""The console's shell words (ls, ll, dir, cd, pwd) in a directory of the
test's own, and the version report of about, through a pipe.

Usage: console_shell_test.py <path of zan> [unittest options]
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

ZAN = None
# The stressed collector makes every start and command many times slower.
TIMEOUT = 600 if os.environ.get("ZAN_GC_STRESS") else 60
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def console(lines, cwd, home):
    """Runs the console on the lines; answers its output after the banner."""
    env = dict(os.environ, HOME=home)
    env.pop("ZAN_LIBRARY_DIR", None)
    proc = subprocess.run([ZAN], input=("\n".join(lines) + "\n").encode("utf-8"),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=cwd, env=env,
                          timeout=TIMEOUT)
    out = proc.stdout.decode("utf-8")
    banner = out.split("\n", 3)
    return banner[3] if len(banner) > 3 else ""


class ShellWordsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name
        self.dir = os.path.realpath(os.path.join(self.home, "work"))
        os.mkdir(self.dir)
        os.mkdir(os.path.join(self.dir, "sub"))
        for name in ("bb.txt", "a.txt", "c-very-long-file-name-that-is-cut.txt", ".hidden"):
            open(os.path.join(self.dir, name), "w").close()

    def tearDown(self):
        self.tmp.cleanup()

    def run_console(self, lines):
        return console(lines, self.dir, self.home)

    def test_columns_follow_the_console_width(self):
        # 80 columns: 67 left, 3 names a row, each padded to 18; 40 columns:
        # 27 left, one name a row padded to 20. A name that fills its column
        # keeps width - 4 characters and "...". Sorted, dotfiles listed. ll
        # at 50 columns: one name a row, padded to the width less 14.
        out = self.run_console(["system/console/size: 80x50", "ls",
                                "system/console/size: 40x50", "dir",
                                "system/console/size: 50x50", "ll", "ll sub", "ll %sub/"])
        names = [".hidden", "a.txt", "bb.txt", "c-very-long-file-name-that-is-cu...", "sub/"]
        self.assertEqual(out,
                         "== 80x50\n"
                         "\t.hidden            \ta.txt              \tbb.txt             \n"
                         "\tc-very-long-fi...  \tsub/               \n"
                         "== 40x50\n"
                         "\t.hidden              \n"
                         "\ta.txt                \n"
                         "\tbb.txt               \n"
                         "\tc-very-long-file...  \n"
                         "\tsub/                 \n"
                         "== 50x50\n" + "".join(f"\t{n.ljust(36)} \n" for n in names))

    def test_cd_pwd_and_the_errors(self):
        out = self.run_console(["pwd", "cd sub", "pwd", "ls", "cd %..", "pwd",
                                "cd %sub/", "what-dir", "cd %..",
                                "ls nodir", "cd nodir", "pwd", "ls 1"])
        here, sub = f"%{self.dir}/", f"%{self.dir}/sub/"
        self.assertTrue(out.startswith(f"{here}\n== {sub}\n{sub}\n== {here}\n{here}\n"
                                       f"== {sub}\n== {sub}\n== {here}\n"), out)
        missing = f"*** Access Error: cannot open: %{self.dir}/nodir/"
        self.assertEqual(out.count(missing), 2, out)
        # The failed cd left the directory as it was.
        self.assertIn(f"\n{here}\n", out[out.index(missing):])
        self.assertIn("*** Script Error: list-dir does not allow integer! for its 1 argument", out)


class AboutTest(unittest.TestCase):
    def git(self, *args):
        try:
            r = subprocess.run(["git", "-C", ROOT] + list(args), stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, timeout=30)
        except OSError:
            return None
        return r.stdout.decode().strip() if r.returncode == 0 else None

    def test_about_reports_this_build(self):
        with tempfile.TemporaryDirectory() as home:
            out = console(["about", "about/debug", "system/build/git/commit"], home, home)
        lines = out.split("\n")
        line = re.fullmatch(r"Zan (\d+\.\d+\.\d+) for Linux built (\S+)(  commit (#\w+))?",
                            lines[0])
        self.assertIsNotNone(line, out)
        head = self.git("rev-parse", "HEAD")
        if line.group(3) is None:
            # A build without git facts says so in the debug report.
            self.assertEqual(lines[1], "Looks like this Zan binary has been built from source.")
            return
        # The commit recorded at build time is one of this checkout's.
        commit = re.search(r'== #([0-9a-f]{40})', out).group(1)
        self.assertEqual(line.group(4), "#" + commit[:7])
        if head is not None:
            self.assertIsNotNone(self.git("cat-file", "-e", commit + "^{commit}"), commit)
        self.assertEqual(lines[1], "-----------ZAN & PLATFORM VERSION----------- ")
        self.assertRegex(lines[2], r'^ZAN: \[ branch: "[^"]*" tag: \S+ ahead: \d+ date: \S+ '
                                   r'commit: #' + commit + r' \]$')
        self.assertRegex(lines[3], r"^PLATFORM: \[ name: \".*\" OS: 'Linux arch: '\S+ "
                                   r"version: \S+ build: \S+ \]$")
        self.assertEqual(lines[4], "-" * 44)


if __name__ == "__main__":
    ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
