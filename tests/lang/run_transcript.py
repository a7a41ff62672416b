#!/usr/bin/env python3
"""Runs a transcript file through the real zan executable and compares output.

A transcript holds cases separated by lines that start with "===" (the rest of
the line names the case). In each case, lines that start with ">> " are input
lines fed to zan through a pipe; every other line is the exact output expected
for the inputs before it. Lines starting with "#" outside a case are comments.
Each case runs in a fresh zan process with a private cache directory.
"""
import os
import subprocess
import sys
import tempfile


def parse(path):
    cases, name, lines = [], None, []
    with open(path, encoding="utf-8") as f:
        for raw in f.read().split("\n"):
            if raw.startswith("==="):
                if name is not None:
                    cases.append((name, lines))
                name, lines = raw[3:].strip() or f"case {len(cases) + 1}", []
            elif name is not None:
                lines.append(raw)
    if name is not None:
        cases.append((name, lines))
    return cases


def run_case(zan, name, lines):
    while lines and lines[-1] == "":
        lines = lines[:-1]
    inputs = [l[3:] for l in lines if l.startswith(">> ")]
    expected = [l for l in lines if not l.startswith(">> ")]
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home)
        proc = subprocess.run([zan], input="\n".join(inputs) + "\n",
                              capture_output=True, text=True, env=env, timeout=60)
    got = proc.stdout.split("\n")
    while got and got[-1] == "":
        got.pop()
    if got != expected:
        print(f"FAIL {name}")
        print("  input:    " + repr(inputs))
        print("  expected: " + repr(expected))
        print("  got:      " + repr(got))
        if proc.stderr:
            print("  stderr:   " + proc.stderr.strip())
        return False
    return True


def main():
    zan, path = sys.argv[1], sys.argv[2]
    cases = parse(path)
    failed = sum(0 if run_case(zan, n, l) else 1 for n, l in cases)
    print(f"{len(cases) - failed} passed, {failed} failed")
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
