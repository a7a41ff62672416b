#!/usr/bin/env python3
"""Runs generated programs with the evaluator's fast paths on and off and
compares what comes out.

With ZAN_FORMS=off the walker evaluates everything; its behaviour is the
reference. Each seed gives a small program (random.Random(seed), so the same
seed always writes the same program) of the shapes the fast paths take:
integer and float arithmetic near the overflow bounds, division and
remainder by zero, pick/select/put/append, the conditionals,
loop/repeat/while/until/foreach/forall bodies (some of plain integer
statements with parens), functions with locals and refinements, paths
read and set through objects, blocks and maps (and their words given
other values), recursion to "stack overflow" (its depth printed), words
given a function or an operator in the middle of a loop, blocks edited
while they run, errors caught by try and
one left uncaught at the end. The program runs as a script both ways; the
standard output (values, error texts with their lines, depths), the
standard error and the exit status must be the same.

usage: forms_differential.py ZAN [--seeds N] [--first S] [--show SEED]
                                  [--keep DIR] [--jobs J]
  --seeds N   how many seeds to run (default 40)
  --first S   the first seed (default 1)
  --show SEED print the program of one seed and exit
  --keep DIR  write the program of every seed that differs into DIR
  --jobs J    programs run at once (default 1)
"""
import argparse
import concurrent.futures
import os
import random
import subprocess
import sys
import tempfile

TIMEOUT = 120

INT_EDGES = ["2147483647", "-2147483648", "2147483646", "65536", "-1", "0",
             "1", "7", "46341", "-46341"]
FLOATS = ["1.5", "-0.25", "3.0", "1e308", "2.5e-3", "0.0", "0.1", "-0.0"]
INT_VARS = ["a", "b", "c"]
ALL_OPS = ["+", "-", "*", "/", "<", ">", "=", "<>", "<=", ">=", "=="]
MATH_OPS = ["+", "-", "*", "/"]


class Gen:
    def __init__(self, seed):
        self.r = random.Random(seed)
        self.depth = 0
        self.loop_words = []   # counters of the loops around the point

    def pick(self, xs):
        return self.r.choice(xs)

    def chance(self, p):
        return self.r.random() < p

    # ---- expressions --------------------------------------------------

    def int_atom(self):
        k = self.r.random()
        if k < 0.35:
            return self.pick(INT_VARS + self.loop_words)
        if k < 0.55:
            return self.pick(INT_EDGES)
        if k < 0.62:
            return "fv"
        if k < 0.68:
            return self.pick(["o/x", "o/in/x", "blk/1", "m/1", "o/:w"])
        return str(self.r.randint(-20, 40))

    def operand(self, depth):
        if depth > 0 and self.chance(0.25):
            return "(" + self.expr(depth - 1) + ")"
        if depth > 0 and self.chance(0.2):
            return self.call_expr(depth - 1)
        if self.chance(0.08):
            return self.pick(FLOATS)
        return self.int_atom()

    def expr(self, depth=2):
        e = self.operand(depth)
        for _ in range(self.r.randint(0, 3)):
            op = self.pick(MATH_OPS if self.chance(0.7) else ALL_OPS)
            e += f" {op} {self.operand(depth)}"
        return e

    def cond(self):
        k = self.r.random()
        if k < 0.6:
            return f"{self.operand(1)} {self.pick(['<', '>', '=', '<>', '<=', '>='])} {self.operand(1)}"
        if k < 0.75:
            return self.pick(["true", "false", "none", "t", "select m 1"])
        if k < 0.85:
            return "t: " + f"{self.operand(1)} < {self.operand(1)}"
        return f"pick blk {self.operand(0)}"

    def call_expr(self, depth):
        k = self.r.random()
        if k < 0.3:
            return f"remainder {self.operand(depth)} {self.operand(depth)}"
        if k < 0.45:
            return f"pick blk {self.operand(depth)}"
        if k < 0.55:
            return f"select m {self.operand(depth)}"
        if k < 0.65:
            return f"fa {self.operand(depth)} {self.operand(depth)}"
        if k < 0.75:
            return f"fb/twice {self.operand(depth)}"
        if k < 0.85:
            return f"fb {self.operand(depth)}"
        if k < 0.92:
            return f"either {self.cond()} [{self.operand(depth)}] [{self.operand(depth)}]"
        return f"g {self.operand(depth)}"

    # ---- statements ---------------------------------------------------

    def block(self, n=None):
        n = n if n is not None else self.r.randint(1, 4)
        self.depth += 1
        body = " ".join(self.stmt() for _ in range(n))
        self.depth -= 1
        return "[" + body + "]"

    def plain_expr(self, depth=2):
        """Integer operators over words, literals and parens only: the shape
        the loops run without the walker (a float or a zero divisor hands a
        round back to it)."""
        def operand():
            if depth > 0 and self.chance(0.3):
                return "(" + self.plain_expr(depth - 1) + ")"
            return self.int_atom()
        e = operand()
        for _ in range(self.r.randint(0, 3)):
            e += f" {self.pick(MATH_OPS + ['%', 'and', 'or', '<'])} {operand()}"
        return e

    def body(self):
        """A loop's body: now and then one of plain statements only."""
        if not self.chance(0.35):
            return self.block()
        n = self.r.randint(1, 3)
        return "[" + " ".join(f"{self.pick(INT_VARS)}: {self.plain_expr()}"
                              for _ in range(n)) + "]"

    def loop_stmt(self):
        k = self.r.random()
        count = self.r.randint(0, 6)
        if k < 0.25:
            return f"loop {count} {self.body()}"
        if k < 0.5:
            w = f"i{self.depth}"
            self.loop_words.append(w)
            b = self.body()
            self.loop_words.pop()
            return f"repeat {w} {count} {b}"
        if k < 0.65:
            w = f"n{self.depth}"
            return (f"{w}: 0 while [{w} < {count}] "
                    f"[{w}: {w} + 1 {self.body()[1:-1]}]")
        if k < 0.8:
            w = f"u{self.depth}"
            return (f"{w}: 0 until [{self.body()[1:-1]} "
                    f"{w}: {w} + 1 {w} >= {count}]")
        items = " ".join(self.pick(INT_EDGES + ["3", "4", "-5"]) for _ in range(count))
        if k < 0.9:
            w = f"e{self.depth}"
            self.loop_words.append(w)
            b = self.body()
            self.loop_words.pop()
            return f"foreach {w} [{items}] {b}"
        # forall's word holds the series; the body reads its first value,
        # or (a body of plain statements) counts the rounds only.
        w = f"s{self.depth}"
        if self.chance(0.5):
            return f"{w}: [{items}] forall {w} {self.body()}"
        v = f"f{self.depth}"
        self.loop_words.append(v)
        b = self.body()
        self.loop_words.pop()
        return f"{w}: [{items}] forall {w} [{v}: first {w} {b[1:-1]}]"

    def stmt(self):
        k = self.r.random()
        nested = self.depth < 3
        if k < 0.25:
            return f"{self.pick(INT_VARS)}: {self.expr()}"
        if k < 0.3:
            return f"fv: {self.pick(FLOATS)} {self.pick(MATH_OPS)} {self.operand(1)}"
        if k < 0.4:
            return f"append blk {self.expr(1)}"
        if k < 0.47:
            return f"put m {self.operand(0)} {self.expr(1)}"
        if k < 0.52:
            return f"{self.pick(INT_VARS)}: {self.call_expr(1)}"
        if k < 0.6 and nested:
            kind = self.r.random()
            if kind < 0.4:
                return f"if {self.cond()} {self.block()}"
            if kind < 0.6:
                return f"unless {self.cond()} {self.block()}"
            return f"either {self.cond()} {self.block()} {self.block()}"
        if k < 0.75 and nested:
            return self.loop_stmt()
        if k < 0.8 and self.loop_words:
            # A word given something else in the middle of a loop.
            w = self.pick(self.loop_words)
            what = self.pick(["g: does [100]", "g: :negate", "g: 5",
                              "remainder: :add", "fa: func [x y] [x * y]",
                              "pk: :pick", "pk: :select", "sw: :+", "sw: :*"])
            return f"if {w} = {self.r.randint(0, 4)} [{what}]"
        if k < 0.84:
            return f"t: pk blk {self.operand(0)}"
        if k < 0.87:
            return f"a: 1 sw {self.operand(0)}"
        if k < 0.9:
            return f"append body {self.pick(['[a: a + 1]', '[append blk a]', '[b: b * 2]', '[c: remainder c 3]'])}"
        if k < 0.94 and nested:
            return f"set/any 'r try {self.block()} if error? :r [append blk r/id]"
        if k < 0.955:
            return f"c: fb/twice/plus {self.operand(0)} {self.operand(0)}"
        if k < 0.985:
            return self.path_stmt()
        return f"a: g {self.operand(0)}"

    def path_stmt(self):
        k = self.r.random()
        if k < 0.3:
            return f"{self.pick(['o/x', 'o/y', 'o/in/x', 'o/:w'])}: {self.expr(1)}"
        if k < 0.5:
            return f"{self.pick(['blk/1', 'blk/2', 'm/1', 'm/3'])}: {self.expr(1)}"
        if k < 0.65:
            return f"{self.pick(INT_VARS)}: {self.pick(['o/y', 'o/in/x', 'm/2', 'blk/3'])}"
        # The words of the paths given something else (in a loop, the
        # next round's paths meet it).
        return self.pick(["o: make o [z: 0 x: a]", "o: make object! [y: 1 x: b in: o/in]",
                          "o: blk", "o: m", "w: 'y", "w: 'in", "o/in: make object! [x: c y: 0]",
                          "m: make map! [1 0 2 0]"])

    # ---- the program --------------------------------------------------

    def program(self):
        out = ['Zan [Title: "generated"]', ""]
        out.append("a: 1 b: 2 c: 3 fv: 0.5 t: none r: none g: 0 pk: :pick sw: :+")
        out.append("blk: copy [1 2 3] m: make map! [1 10 2 20]")
        out.append("o: make object! [x: 1 y: 2 in: make object! [x: 3]] w: 'x")
        out.append(f"fa: func [x y /local z] [z: x + y a: {self.expr(1)} z]")
        out.append("fb: func [x /twice /plus y /local z] "
                   "[z: x if twice [z: z * 2] if plus [z: z + y] z]")
        # A body that a statement may edit while a loop runs it.
        out.append(f"body: copy {self.block(2)}")
        show = ("print mold/all reduce [a b c fv t length? blk "
                "copy/part blk 6 length? m attempt [o/x] attempt [o/in/x]]")
        for _ in range(self.r.randint(3, 7)):
            s = self.stmt() if self.chance(0.8) else f"loop {self.r.randint(1, 3)} body"
            out.append(f"set/any 'r try [{s}]")
            # (An error's mold holds its id, near, where and stack depth.)
            out.append("print mold/all :r")
            out.append(show)
        # Recursion to the overflow, with fast-path shapes in the body.
        rec_body = self.pick([
            "depth: n rec n + 1",
            "depth: n t: remainder n 7 if n > -1 [rec n + 1]",
            "depth: n z: n * 2 + 1 either z > 0 [rec n + 1] [0]",
            "depth: n loop 1 [z: n + 1] rec z",
            "depth: n append blk n rec n + 1",
            "depth: n while [n > 0] [rec n + 1 n: 0]",
            "depth: n until [rec n + 1 true]",
            "depth: n repeat k 1 [rec n + k]",
            "depth: n foreach k [1] [rec n + k]",
            "depth: n z: either n > 0 [n] [0] rec z + 1",
            "depth: n parse [a] [(rec n + 1)]",
            "depth: n rec8 n 1 2 3 4 5 6 7",
            "depth: n fb/plus n 1 rec n + 1",
            "depth: n z: 0 while [z < 1] [z: z + 1] rec n + z",
            "depth: n z: 0 until [z: z + 1 z > 1] rec n + 1",
            "depth: n loop 1 [(z: n + 1)] rec z",
            "depth: n foreach k [1] [z: n + (k * 1)] rec z",
            "depth: n z: [1] forall z [z: z] rec n + 1",
            "depth: n y: [1] forall y [z: (n + (1))] rec z",
            "depth: n z: (n * 2) - (n - 1) rec z",
            "depth: n repeat k 2 [z: k * n] rec n + 1",
            "depth: n z: pick [1 2] 1 rec n + z",
        ])
        # Locals make the data stack, not the frames, the first to fill.
        locals_ = " ".join(f"l{k}" for k in range(self.pick([0, 0, 3, 12, 40])))
        out.append("rec8: func [n p q r s t u v] [rec n + 1]")
        out.append(f"depth: 0 rec: func [n /local z {locals_}] [{rec_body}]")
        out.append("set/any 'r try [rec 1] print [depth all [error? :r r/id]]")
        out.append("clear blk")
        out.append(show)
        # One statement whose error, if any, goes uncaught.
        out.append(self.stmt())
        out.append(show)
        return "\n".join(out) + "\n"


def run(zan, path, forms_off, home):
    env = dict(os.environ, HOME=home)
    env.pop("ZAN_FORMS", None)
    if forms_off:
        env["ZAN_FORMS"] = "off"
    p = subprocess.run([zan, path], env=env, capture_output=True,
                       timeout=TIMEOUT, stdin=subprocess.DEVNULL)
    return p.stdout, p.stderr, p.returncode


def check(zan, seed, tmp, keep):
    prog = Gen(seed).program()
    path = os.path.join(tmp, f"seed-{seed}.zan")
    with open(path, "w", encoding="utf-8") as f:
        f.write(prog)
    on = run(zan, path, False, tmp)
    off = run(zan, path, True, tmp)
    os.unlink(path)
    if on == off:
        return None
    if keep:
        os.makedirs(keep, exist_ok=True)
        with open(os.path.join(keep, f"seed-{seed}.zan"), "w", encoding="utf-8") as f:
            f.write(prog)
    return seed, on, off


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("zan")
    ap.add_argument("--seeds", type=int, default=40)
    ap.add_argument("--first", type=int, default=1)
    ap.add_argument("--show", type=int)
    ap.add_argument("--keep")
    ap.add_argument("--jobs", type=int, default=1)
    args = ap.parse_args()
    if args.show is not None:
        sys.stdout.write(Gen(args.show).program())
        return 0
    bad = []
    seeds = range(args.first, args.first + args.seeds)
    with tempfile.TemporaryDirectory() as tmp:
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as ex:
            for res in ex.map(lambda s: check(args.zan, s, tmp, args.keep), seeds):
                if res:
                    bad.append(res)
    for seed, on, off in bad:
        print(f"seed {seed}: fast paths on and off differ")
        for label, a, b in (("stdout", on[0], off[0]), ("stderr", on[1], off[1])):
            if a != b:
                print(f"  {label} on:\n{a.decode(errors='replace')}")
                print(f"  {label} off:\n{b.decode(errors='replace')}")
        if on[2] != off[2]:
            print(f"  status on {on[2]}, off {off[2]}")
    print(f"{len(seeds) - len(bad)} of {len(seeds)} seeds agree")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
