#!/usr/bin/env python3
"""Runs a script file through the real zan executable and checks its output.

The script is an ordinary Zan script; its expectations are comment lines at
its end:

    ;== env NAME=value      (optional, any number) an environment variable
    ;== env-hex NAME=4142   (optional, any number) one given as its bytes in
                            hexadecimal (for bytes that are not UTF-8)
    ;== args a b "c d"      (optional) arguments after the script's path
    ;== switches --catch    (optional) arguments before the script's path
    ;== input text          (optional, any number) a line of standard input
                            (without any, standard input is empty)
    ;== expect              the exact standard output follows, each line
    ;text                   written after one ";"; a line ";..." stands for any
                            number of lines
    ;== status N            the exit status
    ;== stressed-stop       (optional, among the expected lines) where a script
                            that is too slow under the stressed collector
                            stops when ZAN_GC_STRESS is set (the script quits
                            there itself); the stressed run checks the output
                            up to it and says so

The script runs in a fresh process with a private HOME.
"""
import os
import shlex
import subprocess
import sys
import tempfile

# The stressed collector (asked for by the run or by the script itself)
# makes every start and command many times slower.
def timeout_for(env):
    mode = env.get("ZAN_GC_STRESS")
    return 1800 if mode == "boot" else 600 if mode else 60

switches, stdin_lines = [], []
stop = None


def parse(path):
    env, args, expected, status, mode = {}, [], [], 0, None
    global stop
    global switches, stdin_lines
    with open(path, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if line.startswith(";== env "):
                name, _, value = line[8:].partition("=")
                env[name] = value
            elif line.startswith(";== env-hex "):
                name, _, value = line[12:].partition("=")
                env[name] = bytes.fromhex(value).decode("utf-8", "surrogateescape")
            elif line.startswith(";== args "):
                args = shlex.split(line[9:])
            elif line.startswith(";== switches "):
                switches = shlex.split(line[13:])
            elif line.startswith(";== input "):
                stdin_lines.append(line[10:])
            elif line.startswith(";== expect"):
                mode = "expect"
            elif line.startswith(";== stressed-stop"):
                stop = len(expected)
            elif line.startswith(";== status "):
                status = int(line[11:])
                mode = None
            elif mode == "expect" and line.startswith(";"):
                expected.append(line[1:])
    return env, args, expected, status


def matches(expected, got):
    if not expected:
        return not got
    if expected[0] == "...":
        return any(matches(expected[1:], got[i:]) for i in range(len(got) + 1))
    return bool(got) and got[0] == expected[0] and matches(expected[1:], got[1:])


def main():
    zan, path = sys.argv[1], sys.argv[2]
    env_extra, args, expected, status = parse(path)
    if os.environ.get("ZAN_GC_STRESS") and "ZAN_GC_STRESS" in env_extra:
        print("skipped: the script sets its own stress mode and ran so in the unstressed pass")
        return 77
    stressed = bool(os.environ.get("ZAN_GC_STRESS")) and stop is not None
    if stressed:
        expected = expected[:stop]
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home)
        env.pop("ZAN_LIBRARY_DIR", None)
        env.update(env_extra)
        feed = "".join(l + "\n" for l in stdin_lines)
        proc = subprocess.run([zan] + switches + [path] + args, capture_output=True, text=True,
                              env=env, timeout=timeout_for(env), input=feed)
    got = proc.stdout.split("\n")
    while got and got[-1] == "":
        got.pop()
    ok = matches(expected, got) and proc.returncode == status
    if not ok:
        print(f"FAIL {os.path.basename(path)}")
        print("  expected: " + repr(expected) + f" status {status}")
        print("  got:      " + repr(got) + f" status {proc.returncode}")
        if proc.stderr:
            print("  stderr:   " + proc.stderr.strip())
        return 1
    print("passed (collector stressed: checked up to the stop mark)" if stressed else "passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
