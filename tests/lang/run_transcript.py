#!/usr/bin/env python3
"""Runs a transcript file through the real zan executable and compares output.

A transcript holds cases separated by lines that start with "===" (the rest of
the line names the case). In each case, lines that start with ">> " are input
lines fed to zan through a pipe; every other line is the exact output expected
for the inputs before it. A line "::status N" in a case is not output: it
gives the exit status the case must end with (0 when there is none). A line
"::stress" marks a case that still runs when ZAN_GC_STRESS is set: in a file
with such marks, only the marked cases run under the stressed collector (the
others are counted and reported as left out), since every case starts a
process and start-up under that collector is slow. A line "::full-stack"
marks a case whose output holds only with the full evaluation stack (it
prints the depth at which "stack overflow" comes, or recurses deeper than a
part of the stack allows): when ZAN_STACK_DIVISOR holds evaluation to a part
of its stacks (the sanitizer builds' test runs), such a case is left out,
counted and reported; the plain build checks it. Lines starting with "#"
outside a case are comments.

Each case runs in a fresh zan process with a private HOME (so a private cache
directory), its standard input a pipe that ends after the last input line.
The console prints its banner first: "--== Zan <version> ==-- ", "Type HELP
for starting information. " and an empty line; the runner checks those three
lines and compares the rest of the output line by line, exactly (empty lines
at the very end aside).
"""
import os
import re
import subprocess
import sys
import tempfile

# The stressed collector makes every start and command many times slower.
TIMEOUT = 600 if os.environ.get("ZAN_GC_STRESS") else 60

BANNER = [re.compile(r"--== Zan \S+ ==-- \Z"),
          re.compile(re.escape("Type HELP for starting information. ") + r"\Z"),
          re.compile(r"\Z")]


def parse(path):
    cases, name, lines = [], None, []
    with open(path, encoding="utf-8", newline="\n") as f:
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
    status = 0
    inputs, expected = [], []
    for l in lines:
        if l.startswith(">> "):
            inputs.append(l[3:])
        elif l in ("::stress", "::full-stack"):
            continue
        elif l.startswith("::status "):
            status = int(l[9:])
        else:
            expected.append(l)
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home)
        env.pop("ZAN_LIBRARY_DIR", None)
        try:
            proc = subprocess.run([zan], input=("\n".join(inputs) + "\n").encode("utf-8"),
                                  capture_output=True, env=env, timeout=TIMEOUT, cwd=home)
        except subprocess.TimeoutExpired:
            print(f"FAIL {name}: no end within {TIMEOUT} s (the console must end with its input)")
            return False
    stdout = proc.stdout.decode("utf-8", errors="replace")
    stderr = proc.stderr.decode("utf-8", errors="replace")
    got = stdout.split("\n")
    banner_ok = len(got) >= 4 and all(p.match(g) for p, g in zip(BANNER, got))
    body = got[3:] if banner_ok else got
    while body and body[-1] == "":
        body.pop()
    if not banner_ok or body != expected or proc.returncode != status:
        print(f"FAIL {name}")
        print("  input:    " + repr(inputs))
        if not banner_ok:
            print("  banner:   missing or different: " + repr(got[:3]))
        print("  expected: " + repr(expected))
        print("  got:      " + repr(body))
        if proc.returncode != status:
            print(f"  status:   expected {status}, got {proc.returncode}")
        if stderr:
            print("  stderr:   " + stderr.strip())
        return False
    return True


def stack_reduced():
    """Whether zan runs with a part of its evaluation stack (as zan reads
    ZAN_STACK_DIVISOR: a whole number from 2 to 16)."""
    text = os.environ.get("ZAN_STACK_DIVISOR", "")
    return text.isdigit() and 2 <= int(text) <= 16


def main():
    zan, path = os.path.abspath(sys.argv[1]), sys.argv[2]
    cases = parse(path)
    stressed = 0
    if os.environ.get("ZAN_GC_STRESS"):
        marked = [(n, l) for n, l in cases if "::stress" in l]
        if marked:
            stressed = len(cases) - len(marked)
            cases = marked
    shallow = 0
    if stack_reduced():
        full = [(n, l) for n, l in cases if "::full-stack" in l]
        shallow = len(full)
        cases = [(n, l) for n, l in cases if "::full-stack" not in l]
    failed = sum(0 if run_case(zan, n, l) else 1 for n, l in cases)
    print(f"{len(cases) - failed} passed, {failed} failed")
    if stressed:
        print(f"{stressed} cases left out under the stressed collector")
    if shallow:
        print(f"{shallow} cases left out with a part of the evaluation stack "
              f"(ZAN_STACK_DIVISOR={os.environ['ZAN_STACK_DIVISOR']})")
    return 1 if failed or not (cases or shallow) else 0


if __name__ == "__main__":
    sys.exit(main())
