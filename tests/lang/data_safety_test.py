#!/usr/bin/env python3
"""Nothing written is lost quietly: failed writes to files and to standard output,
writes that must not replace a file, and names of open descriptors.

Usage: data_safety_test.py <path of zan> [unittest options]

A full disk is stood in for by a file-size limit (RLIMIT_FSIZE, with SIGXFSZ
ignored so that the write fails with EFBIG instead of killing the process)
and by /dev/full. Every file is checked from Python after zan has ended.
Cases that need a user other than root run zan as `nobody` when the test runs
as root, and are skipped otherwise.
"""
import os
import pwd
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

    def run_script(self, body, limit=False, stdout=subprocess.PIPE, umask=None, user=None):
        self.put("script.zan", "Zan []\n" + body + "\n")

        def setup():
            if limit:
                limited()
            if umask is not None:
                os.umask(umask)
            if user is not None:
                os.setgroups([])
                os.setgid(user.pw_gid)
                os.setuid(user.pw_uid)

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

    def test_a_name_as_long_as_the_system_allows_is_replaced_too(self):
        # The temporary file beside it must not need a longer name.
        name = "n" * 251 + ".txt"
        self.put(name, "old")
        p = self.run_script(f'write %{name} "new" print "done"')
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        self.assertEqual(self.get(name), "new")
        self.assertEqual(sorted(os.listdir(self.dir)), sorted([".zan", "script.zan", name]))


def nobody():
    """The unprivileged user the permission cases run as (root only)."""
    if os.geteuid() != 0:
        raise unittest.SkipTest("needs root to run zan as another user")
    try:
        return pwd.getpwnam("nobody")
    except KeyError:
        raise unittest.SkipTest("no user nobody")


class PermissionTest(ZanCase):
    """Whole-file writes do what open(2) for writing does for the same user:
    the shell's `>` run as that user on a copy of each case is the oracle."""

    def setUp(self):
        super().setUp()
        self.user = nobody()
        # Both users reach the test's directory; HOME is the user's own.
        os.chmod(self.dir, 0o755)
        os.mkdir(self.path(".zan"))
        os.chown(self.path(".zan"), self.user.pw_uid, self.user.pw_gid)

    def make(self, name, mode, owner, text="old\n"):
        self.put(name, text)
        os.chown(self.path(name), owner, owner)
        os.chmod(self.path(name), mode)
        return os.stat(self.path(name))

    def shell_allows(self, name, user):
        """Whether `printf x > name` succeeds for the user (on a copy)."""
        st = os.stat(self.path(name))
        copy = self.path("oracle-" + os.path.basename(name))
        self.put(os.path.relpath(copy, self.dir), "")
        os.chown(copy, st.st_uid, st.st_gid)
        os.chmod(copy, st.st_mode & 0o7777)

        def become():
            if user is not None:
                os.setgroups([])
                os.setgid(user.pw_gid)
                os.setuid(user.pw_uid)

        rc = subprocess.run(["sh", "-c", f'printf x > "{copy}"'], stderr=subprocess.DEVNULL,
                            preexec_fn=become).returncode
        os.unlink(copy)
        return rc == 0

    def test_a_read_only_file_is_refused_as_open_refuses_it(self):
        uid = self.user.pw_uid
        os.mkdir(self.path("open"))
        os.chmod(self.path("open"), 0o777)
        cases = [  # (file, mode, owner, user running zan)
            ("open/mine.txt", 0o444, uid, self.user),
            ("open/roots.txt", 0o444, 0, self.user),
            ("open/root-own.txt", 0o444, 0, None),
        ]
        for name, mode, owner, user in cases:
            with self.subTest(name=name, user=user and user.pw_name):
                before = self.make(name, mode, owner)
                allowed = self.shell_allows(name, user)
                p = self.run_script(f'print try [write %{name} "new"] print "done"', user=user)
                out = p.stdout.decode()
                self.assertEqual(p.returncode, 0, p.stderr)
                self.assertTrue(out.rstrip().endswith("done"), out)
                after = os.stat(self.path(name))
                if allowed:
                    self.assertEqual(self.get(name), "new")
                else:
                    self.assertIn(f'*** Access Error: cannot open: %{name} reason: '
                                  '"Permission denied"', out)
                    self.assertEqual(self.get(name), "old\n")
                    self.assertEqual(after.st_ino, before.st_ino)
                self.assertEqual(stat.S_IMODE(after.st_mode), mode)
                self.assertEqual(after.st_uid, owner)
        # Root may write a read-only file, as its shell may.
        self.assertTrue(self.shell_allows("open/root-own.txt", None))
        self.assertEqual(sorted(os.listdir(self.path("open"))),
                         sorted(os.path.basename(n) for n, _, _, _ in cases))

    def test_a_file_that_may_be_written_but_not_replaced_is_written_in_place(self):
        # Someone else's file in a sticky directory (as /tmp), and someone
        # else's file that the user may write in a directory the user may
        # not write.
        os.mkdir(self.path("sticky"))
        os.chmod(self.path("sticky"), 0o1777)
        os.mkdir(self.path("closed"))
        os.chmod(self.path("closed"), 0o755)
        names = ["sticky/shared.txt", "closed/shared.txt"]
        befores = [self.make(n, 0o666, 0, "a longer old content\n") for n in names]
        p = self.run_script(" ".join(f'write %{n} "new"' for n in names) + ' print "done"',
                            user=self.user)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.decode().strip(), "done")
        for name, before in zip(names, befores):
            with self.subTest(name=name):
                after = os.stat(self.path(name))
                self.assertEqual(self.get(name), "new")
                self.assertEqual((after.st_ino, after.st_uid), (before.st_ino, 0))
                self.assertEqual(stat.S_IMODE(after.st_mode), 0o666)
        self.assertEqual(os.listdir(self.path("sticky")), ["shared.txt"])

    def test_the_users_own_file_is_replaced_whole(self):
        # Where the user owns the file and may write the directory, the new
        # content comes by rename: a new inode, the old mode.
        os.mkdir(self.path("own"))
        os.chown(self.path("own"), self.user.pw_uid, self.user.pw_gid)
        before = self.make("own/f.txt", 0o640, self.user.pw_uid)
        p = self.run_script('write %own/f.txt "new" print "done"', user=self.user)
        self.assertEqual(p.returncode, 0, p.stderr)
        after = os.stat(self.path("own/f.txt"))
        self.assertEqual(self.get("own/f.txt"), "new")
        self.assertNotEqual(after.st_ino, before.st_ino)
        self.assertEqual((stat.S_IMODE(after.st_mode), after.st_uid), (0o640, self.user.pw_uid))
        self.assertEqual(os.listdir(self.path("own")), ["f.txt"])

    def test_a_read_error_gives_the_systems_reason(self):
        self.make("secret.txt", 0o600, 0)
        os.mkdir(self.path("adir"))
        long_name = "x" * 300
        p = self.run_script("\n".join([
            "print try [read %secret.txt]", "print try [read %adir]",
            f"print try [read %{long_name}]", "print try [read %missing.txt]",
            "print try [read/binary %adir]", "print try [read/lines %secret.txt]"]),
            user=self.user)
        out = p.stdout.decode()
        self.assertEqual(p.returncode, 0, p.stderr)
        for reason in ['cannot open: %secret.txt reason: "Permission denied"',
                       'cannot open: %adir reason: "Is a directory"',
                       f'cannot open: %{long_name[:79]}',
                       'cannot open: %missing.txt reason: "No such file or directory"']:
            self.assertIn("*** Access Error: " + reason, out)
        self.assertIn(' reason: "File name too long"', out)
        self.assertEqual(out.count("*** Access Error: cannot open:"), 6, out)


class DescriptorNameTest(ZanCase):
    """A name that reaches a descriptor of the process (/dev/stdout, /dev/fd/N,
    /proc/self/fd/N, a link to one) is written where that descriptor stands,
    as printing does: nothing printed before or after is lost."""

    SCRIPT = "\n".join([
        'print "1 print"', 'write %/dev/stdout "2 dev-stdout^/"', 'print "3 print"',
        'write %/dev/fd/1 "4 dev-fd^/"', 'write %/proc/self/fd/1 "5 proc-self-fd^/"',
        'write/append %/dev/stdout "6 append^/"', 'write %out-link "7 link^/"',
        'write/lines %/dev/stdout ["8 lines"]', 'write %/dev/stderr "to stderr"',
        'print "9 print"'])
    EXPECTED = "".join(f"{line}\n" for line in [
        "1 print", "2 dev-stdout", "3 print", "4 dev-fd", "5 proc-self-fd", "6 append",
        "7 link", "8 lines", "9 print"])

    def setUp(self):
        super().setUp()
        os.symlink("/dev/stdout", self.path("out-link"))

    def test_standard_output_on_a_pipe(self):
        p = self.run_script(self.SCRIPT)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.decode(), self.EXPECTED)
        self.assertEqual(p.stderr.decode(), "to stderr")

    def test_standard_output_redirected_to_a_file(self):
        # Also a file that held something before: the output goes after it,
        # as it would with >>, and the file is the same file throughout.
        self.put("out.txt", "0 before\n")
        before = os.stat(self.path("out.txt"))
        with open(self.path("out.txt"), "a") as out:
            p = self.run_script(self.SCRIPT, stdout=out)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(self.get("out.txt"), "0 before\n" + self.EXPECTED)
        self.assertEqual(os.stat(self.path("out.txt")).st_ino, before.st_ino)
        self.assertTrue(os.path.islink(self.path("out-link")))


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
