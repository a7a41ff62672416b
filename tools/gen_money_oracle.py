#!/usr/bin/env python3
"""Writes tests/data/money_oracle.tsv: money! arithmetic, rounding and
conversion cases computed with Python's decimal module, for the money!
unit tests.

Rows (tab-separated, first field the kind):
  add|sub|mul|div|rem  A B  result      result as mold/all prints it; for mul,
                                        div and rem B is the shortest text of a
                                        float! that money reads exactly;
                                        ("-$12.50000"), or LIMIT (type-limit)
                                        or ZERO (zero-divide)
  round  A SCALE MODE  result           MODE: nearest even down half-down
                                        floor ceiling half-ceiling
  cmp    A B  -1|0|1
  fromfloat  FLOAT  result | BAD        strict conversion of the float whose
                                        shortest text is FLOAT
  tofloat    A  FLOAT                   the nearest float, as its shortest text
  toint      A  INTEGER | LIMIT
A and B are plain decimal texts with at most 17 integer and 5 fraction
digits. Run from the repository root:
  python3 tools/gen_money_oracle.py
"""
import decimal
import os
import random
from decimal import Decimal

decimal.getcontext().prec = 80
Q = Decimal("0.00001")
LIMIT = Decimal(10) ** 17


def mold_all(x):
    sign = "-" if x < 0 else ""
    x = abs(x).quantize(Q)
    whole, frac = ("%s" % x).split(".")
    return "%s$%s.%s" % (sign, whole, frac)


def fits(x):
    return abs(x) < LIMIT


def trunc5(x):
    return x.quantize(Q, rounding=decimal.ROUND_DOWN)


def random_amount(rng):
    kind = rng.random()
    if kind < 0.1:
        return Decimal(0)
    if kind < 0.25:
        digits = rng.randint(15, 17)  # near the limit
    elif kind < 0.6:
        digits = rng.randint(0, 6)
    else:
        digits = rng.randint(0, 17)
    whole = rng.randint(0, 10 ** digits - 1) if digits else 0
    frac = rng.choice([0, rng.randint(0, 99999), 50000, 5000])
    x = Decimal(whole) + Decimal(frac) / Decimal(100000)
    return -x if rng.random() < 0.4 else x


def text(x):
    return format(x.quantize(Q), "f")


def main():
    rng = random.Random(1234567)
    rows = []
    for _ in range(1500):
        a = random_amount(rng)
        b = random_amount(rng)
        op = rng.choice(["add", "sub", "mul", "div", "rem"])
        if op in ("add", "sub") and rng.random() < 0.15:
            a = Decimal("99999999999999999.99999") - Decimal(rng.randint(0, 3))
            b = Decimal(rng.randint(0, 5)) * rng.choice([1, -1])
        if op == "mul" and rng.random() < 0.6:
            b = Decimal(rng.randint(-5000, 5000)) / Decimal(rng.choice([1, 10, 100, 1000]))
        if op in ("div", "rem") and rng.random() < 0.5:
            b = Decimal(rng.randint(-500, 500)) / Decimal(rng.choice([1, 100, 100000]))
        if op in ("mul", "div", "rem"):
            # The second operand is given to money as a float! whose
            # shortest text is exactly this decimal.
            while Decimal(repr(float(b))) != b or (b != 0 and abs(b) < Decimal("0.00001")):
                b = trunc5(b / 10)
        if op == "add":
            r = a + b
        elif op == "sub":
            r = a - b
        elif op == "mul":
            r = trunc5(a * b)
        else:
            if b == 0:
                rows.append([op, text(a), text(b), "ZERO"])
                continue
            if op == "div":
                r = trunc5(a / b)
            else:
                # The remainder keeps the sign of the dividend.
                r = a - b * (a / b).to_integral_value(rounding=decimal.ROUND_DOWN)
        rows.append([op, text(a), text(b), mold_all(r) if fits(r) else "LIMIT"])

    modes = {
        "nearest": decimal.ROUND_HALF_UP,
        "even": decimal.ROUND_HALF_EVEN,
        "down": decimal.ROUND_DOWN,
        "half-down": decimal.ROUND_HALF_DOWN,
        "floor": decimal.ROUND_FLOOR,
        "ceiling": decimal.ROUND_CEILING,
    }
    for _ in range(700):
        a = random_amount(rng)
        if abs(a) >= Decimal(10) ** 15:
            a = a / 1000
            a = trunc5(a)
        scale = rng.choice([Decimal(1), Decimal("0.01"), Decimal("0.05"), Decimal("0.25"),
                            Decimal(10), Decimal(1000), Decimal("0.5"), Decimal("0.00002")])
        mode = rng.choice(list(modes) + ["half-ceiling"])
        if rng.random() < 0.3:
            # Force a tie.
            a = (Decimal(rng.randint(-1000, 1000)) + Decimal("0.5")) * scale
        q = a / scale
        if mode == "half-ceiling":
            frac = q - q.to_integral_value(rounding=decimal.ROUND_FLOOR)
            if frac == Decimal("0.5"):
                n = q.to_integral_value(rounding=decimal.ROUND_CEILING)
            else:
                n = q.to_integral_value(rounding=decimal.ROUND_HALF_UP)
        else:
            n = q.to_integral_value(rounding=modes[mode])
        r = n * scale
        rows.append(["round", text(a), text(scale), mode, mold_all(r) if fits(r) else "LIMIT"])

    for _ in range(300):
        a = random_amount(rng)
        b = a if rng.random() < 0.2 else random_amount(rng)
        if rng.random() < 0.2:
            b = a + Decimal("0.00001") * rng.choice([1, -1])
            if not fits(b):
                b = a
        rows.append(["cmp", text(a), text(b), (a > b) - (a < b)])

    floats = [0.1, 0.2, 0.3, 1.5, 2.5, 0.12345, 0.123456, 1e-5, 9e-6, 1e16, 1e17, 99999999999999.99,
              123456.789, -0.5, -1234.56789, 0.1 + 0.2, 5e-5, 1.00001, 3.14159265]
    floats += [rng.uniform(-1e6, 1e6) for _ in range(100)]
    floats += [round(rng.uniform(-1e9, 1e9), rng.randint(0, 5)) for _ in range(200)]
    for f in floats:
        shortest = repr(f)
        d = Decimal(shortest)
        bad = (f != 0 and abs(f) < 1e-5) or abs(f) >= 1e17 or -d.as_tuple().exponent > 5
        rows.append(["fromfloat", shortest, "BAD" if bad else mold_all(d)])

    for _ in range(300):
        a = random_amount(rng)
        rows.append(["tofloat", text(a), repr(float(a))])

    for _ in range(150):
        a = random_amount(rng)
        if rng.random() < 0.3:
            a = Decimal(rng.choice([2147483647, 2147483648, -2147483648, -2147483649])) + \
                Decimal(rng.choice(["0", "0.99999", "0.5"])) * (1 if a >= 0 else -1)
        i = int(a)  # truncation toward zero
        rows.append(["toint", text(a), i if -2 ** 31 <= i <= 2 ** 31 - 1 else "LIMIT"])

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "tests", "data", "money_oracle.tsv")
    with open(out, "w") as f:
        f.write("# Generated by tools/gen_money_oracle.py; do not edit.\n")
        for r in rows:
            f.write("\t".join(str(x) for x in r) + "\n")
    print("wrote %d rows to %s" % (len(rows), out))


if __name__ == "__main__":
    main()
