#!/usr/bin/env python3
"""Nothing written is lost quietly: failed writes to files and to standard output.

Usage: data_safety_test.py <path of zan> [unittest options]

A full disk is stood in for by a file-size limit (RLIMIT_FSIZE, with SIGXFSZ
ignored so that the write fails with EFBIG instead of killing the process)
and by /dev/full. Every file is checked from Python after zan has ended.
"""
import os
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import unittest

from stress_support import fewer_under_stress

ZAN = None
LIMIT = 64 * 1024


def limited():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (LIMIT, LIMIT))


class ZanCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def put(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)

    def get(self, name):
        with open(self.path(name)) as f:
            return f.read()

    def run_script(self, body, limit=False, stdout=subprocess.PIPE, umask=None):
        self.put("script.zan", "Zan []\n" + body + "\n")

        def setup():
            if limit:
                limited()
            if umask is not None:
                os.umask(umask)

        env = dict(os.environ, HOME=self.dir)
        env.pop("ZAN_LIBRARY_DIR", None)
        return subprocess.run([ZAN, "script.zan"], cwd=self.dir, env=env, stdout=stdout,
                              stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60,
                              preexec_fn=setup)


class FileWriteTest(ZanCase):
    BIG = 'append/dup copy "" "0123456789" 20000'

    def test_a_failed_write_leaves_the_old_file_and_no_temporary_file(self):
        # (file, code): one run of zan under the size limit tries them all.
        cases = [
            ("w.txt", f"write %w.txt {self.BIG}"),
            ("s.txt", f"save %s.txt {self.BIG}"),
            ("a.txt", f"write/append %a.txt {self.BIG}"),
            ("l.txt", f"write/lines %l.txt reduce [{self.BIG}]"),
        ]
        for name, _ in cases:
            self.put(name, "old content\n")
        p = self.run_script("\n".join(f"print try [{code}]" for _, code in cases), limit=True)
        out = p.stdout.decode()
        self.assertEqual(p.returncode, 0, p.stderr)
        for name, code in cases:
            with self.subTest(code=code):
                self.assertIn(f"*** Access Error: write failed: %{name} reason:", out)
                self.assertEqual(self.get(name), "old content\n")
        self.assertNotIn("cannot open", out)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         sorted([".zan", "script.zan"] + [name for name, _ in cases]))

    def test_writes_that_succeed_replace_the_content_soundly(self):
        self.put("f.txt", "a much longer old content than the new one\n")
        self.put("p.txt", "old")
        os.chmod(self.path("p.txt"), 0o640)
        os.mkdir(self.path("real"))
        self.put("real/t.txt", "old")
        os.symlink("real/t.txt", self.path("link"))
        os.symlink("real/none.txt", self.path("dangling"))
        self.put("h1.txt", "old")
        os.link(self.path("h1.txt"), self.path("h2.txt"))
        p = self.run_script("\n".join([
            'write %f.txt "new"', 'save %g.txt [1 2]', 'write/append %g.txt "+"',
            'write %p.txt "new"', 'write %n.txt "fresh"',
            'write %link "new"', 'write %dangling "made"', 'write %h1.txt "new"',
            'print try [write %/dev/full "x"]', 'write %/dev/null "y"', 'print "ok"']),
            umask=0o027)
        out = p.stdout.decode()
        self.assertEqual(p.returncode, 0, p.stderr)
        # Content replaced, also by a shorter one; an append after a save.
        self.assertEqual(self.get("f.txt"), "new")
        self.assertEqual(self.get("g.txt"), "1 2+")
        # Permissions kept; a new file gets those of the umask.
        self.assertEqual(stat.S_IMODE(os.stat(self.path("p.txt")).st_mode), 0o640)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("n.txt")).st_mode), 0o640)
        # Links are followed and stay links, also a dangling one.
        self.assertTrue(os.path.islink(self.path("link")))
        self.assertEqual(self.get("real/t.txt"), "new")
        self.assertTrue(os.path.islink(self.path("dangling")))
        self.assertEqual(self.get("real/none.txt"), "made")
        self.assertEqual(sorted(os.listdir(self.path("real"))), ["none.txt", "t.txt"])
        # A file with two names is written in place: both see the change.
        self.assertEqual(self.get("h2.txt"), "new")
        # A device is written to, never replaced; one that refuses the
        # bytes gives write-failed.
        self.assertIn("*** Access Error: write failed: %/dev/full reason:", out)
        self.assertTrue(out.rstrip().endswith("ok"), out)
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))


class StandardOutputTest(ZanCase):
    MESSAGE = b"*** Output error: cannot write to standard output: "

    def run_shell(self, redirect, piped_input=None):
        self.put("script.zan", 'Zan []\nprint "lost"\nwrite %after.txt "ran"\n')
        env = dict(os.environ, HOME=self.dir)
        env.pop("ZAN_LIBRARY_DIR", None)
        command = f'"{ZAN}" {"" if piped_input else "script.zan"} {redirect}'
        return subprocess.run(["sh", "-c", command], cwd=self.dir, env=env, input=piped_input,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)

    def test_a_failed_write_to_standard_output_ends_the_process(self):
        cases = [
            (">/dev/full", None, b"No space left on device"),
            (">&-", None, b"Bad file descriptor"),
            (">/dev/full", b'print "lost"\nwrite %after.txt "ran"\n', b"No space left"),
        ]
        for redirect, piped, reason in fewer_under_stress(cases, 2):
            with self.subTest(redirect=redirect, piped=piped is not None):
                p = self.run_shell(redirect, piped)
                self.assertEqual(p.returncode, 74)
                self.assertIn(self.MESSAGE + reason, p.stderr)
                self.assertEqual(p.stderr.count(self.MESSAGE), 1)
                # The process stopped at the lost output: nothing after it ran.
                self.assertFalse(os.path.exists(self.path("after.txt")))


if __name__ == "__main__":
    ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
