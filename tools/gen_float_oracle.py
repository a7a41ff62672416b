#!/usr/bin/env python3
"""Writes tests/data/float_oracle.tsv: reference float <-> text conversions
made with Python's own correctly rounded conversions (repr, float() and the
printf-style formats), for the float text unit tests.

Rows, tab-separated, '#' lines are comments:
  D  bits  digits  point  digits6  point6  %.7g  %.13g  %.16g
     a finite non-zero double (bits in hex); its shortest round-trip digits
     and the point p with |value| = 0.digits x 10^p; the same capped to six
     digits (the shortest digits when they fit, else correctly rounded); and
     the three printf texts.
  P  text  bits
     decimal text and the bits of the correctly rounded double.

Deterministic: run it again and the file is the same.
  python3 tools/gen_float_oracle.py [output]
"""
import math
import os
import random
import struct
import sys
from decimal import Decimal
from fractions import Fraction

SEED = 20240611


def bits_of(x):
    return struct.unpack('<Q', struct.pack('<d', x))[0]


def from_bits(b):
    return struct.unpack('<d', struct.pack('<Q', b))[0]


def digits_point(text):
    """Significant digits without trailing zeros and p, for a decimal text
    of a non-zero value: value = 0.digits x 10^p."""
    _, digs, exp = Decimal(text).as_tuple()
    s = ''.join(map(str, digs)).lstrip('0')  # Decimal keeps no leading zeros
    return s.rstrip('0'), len(s) + exp


def d_row(x):
    ax = abs(x)
    digits, point = digits_point(repr(ax))
    # Capped digits: the shortest digits when they fit, else the exact value
    # correctly rounded to six digits.
    d6, p6 = (digits, point) if len(digits) <= 6 else digits_point('%.5e' % ax)
    return 'D\t%016x\t%s\t%d\t%s\t%d\t%s\t%s\t%s' % (
        bits_of(x), digits, point, d6, p6, '%.7g' % x, '%.13g' % x, '%.16g' % x)


def p_row(text):
    return 'P\t%s\t%016x' % (text, bits_of(float(text)))


def exact_decimal(fr):
    """Exact decimal text of a fraction whose denominator is a power of two."""
    num, den = fr.numerator, fr.denominator
    shift = den.bit_length() - 1
    assert den == 1 << shift
    # num / 2^shift = num * 5^shift / 10^shift
    digits = str(num * 5 ** shift)
    if shift == 0:
        return digits
    if len(digits) <= shift:
        digits = '0' * (shift - len(digits) + 1) + digits
    return digits[:-shift] + '.' + digits[-shift:]


def next_up(x):
    return math.nextafter(x, math.inf)


def finite_values(rng):
    vals = []
    # Random bit patterns over the whole range, both signs.
    while len(vals) < 1200:
        x = from_bits(rng.getrandbits(64))
        if math.isfinite(x) and x != 0:
            vals.append(x)
    # Short decimals and integers (the fast paths), some negative.
    for _ in range(300):
        v = round(rng.uniform(-1e6, 1e6), rng.randint(0, 6))
        if v:
            vals.append(v)
    for _ in range(150):
        vals.append(float(rng.randint(1, 10 ** rng.randint(1, 15))))
    # Every power of ten in range, and neighbours of some.
    for k in range(-323, 309):
        p = float('1e%d' % k)
        vals.append(p)
        if k % 5 == 0:
            vals.append(next_up(p))
            vals.append(math.nextafter(p, 0))
    # Powers of two (the narrow lower gap): all near both ends of the range,
    # every third elsewhere; neighbours of some.
    for k in range(-1074, 1024):
        if -1015 < k < 1015 and k % 3:
            continue
        p = math.ldexp(1.0, k)
        vals.append(p)
        if k % 37 == 0:
            vals.append(next_up(p))
            vals.append(math.nextafter(p, 0))
    # Subnormals.
    for _ in range(150):
        vals.append(from_bits(rng.randint(1, (1 << 52) - 1)))
    # Boundaries.
    vals += [from_bits(1), from_bits((1 << 52) - 1), from_bits(1 << 52),
             from_bits(0x7FEFFFFFFFFFFFFF), from_bits(0x7FEFFFFFFFFFFFFE),
             2.0 ** 53 - 1, 2.0 ** 53, 2.0 ** 53 + 2, 1e15 - 1, 1e15 + 1,
             999999999999999.0, 123456789012345680.0, 5e-324, 9007199254740993.0,
             0.1, 0.2, 0.3, 0.1 + 0.2, 0.1 + 0.7, 1 / 3, 2 / 3, 0.7999999999999999,
             1.7976931348623157e308, 2.2250738585072014e-308, 2.225073858507201e-308,
             4.9406564584124654e-324, 1e23, 8.41e21, 5e-310, 0.5, 1.5, 2.5, 1e-7, 1e-8]
    return vals


def parse_texts(rng, vals):
    texts = []
    # Round trips of repr and of longer printf texts.
    for x in rng.sample(vals, 600):
        texts.append(repr(x))
    for x in rng.sample(vals, 300):
        texts.append('%.17g' % x)
        texts.append('%.25e' % x)
    # Halfway points between neighbours, exactly and a hair either side.
    def halfway(x):
        lo, hi = Fraction(x), Fraction(next_up(x))
        mid = exact_decimal((lo + hi) / 2)
        texts.append(mid)
        if '.' in mid:
            texts.append(mid + '0000000000000000000001')
            texts.append(exact_below(mid))
        else:  # an integer halfway point
            texts.append(mid + '.0000000000000000000001')
            texts.append(str(int(mid) - 1) + '.9999999999999999999999')
    for _ in range(200):  # moderate exponents: texts stay short
        halfway(rng.uniform(1, 2) * 2.0 ** rng.randint(-60, 60))
    for _ in range(20):   # anywhere, long texts
        x = from_bits(rng.getrandbits(63))
        if math.isfinite(x) and math.isfinite(next_up(x)):
            halfway(x)
    for x in [from_bits(1), from_bits(2), from_bits((1 << 52) - 1), from_bits(1 << 52),
              1.0, 2.0 ** 53, 2.0 ** 54, 1e23, from_bits(0x7FEFFFFFFFFFFFFE)]:
        halfway(x)
    # The thresholds of overflow and underflow.
    mx = Fraction(from_bits(0x7FEFFFFFFFFFFFFF))
    top = mx + Fraction(2 ** 970, 2)  # max + half an ulp: rounds to infinity
    texts += [exact_decimal(top), exact_decimal(top - 1), str(int(top)) + '0e-1',
              '1.7976931348623157e308', '1.7976931348623158e308', '1.7976931348623159e308',
              '2.4703282292062327e-324', '2.4703282292062328e-324',
              exact_decimal(Fraction(1, 2 ** 1075)), '1e-324', '3e-324', '1e-400', '1e400',
              '1e308', '1e309', '1e-323', '1e22', '1e23', '9007199254740993',
              '9007199254740993.0000000001', '123456789012345678901234567890',
              '0.000000000000000000000000000000123456789', '+1.5', '.5', '5.', '00012.50',
              '1E5', '1e+05', '1e-05', '0.1', '0.30000000000000004', '8.41e21', '5e-310']
    for k in range(-345, 320, 7):
        texts.append('1e%d' % k)
        texts.append('9.999999999999999e%d' % k)
    # Random decimal texts: random lengths, point places and exponents.
    for _ in range(700):
        n = rng.choice([1, 2, 5, 9, 15, 16, 17, 18, 19, 20, 25, 40])
        digs = str(rng.randint(1, 9)) + ''.join(rng.choice('0123456789') for _ in range(n - 1))
        place = rng.randint(0, n)
        body = digs[:place] + '.' + digs[place:] if rng.random() < 0.7 else digs
        if body.startswith('.') and rng.random() < 0.5:
            body = '0' + body
        exp = rng.randint(-340, 330)
        text = body + ('e%d' % exp if rng.random() < 0.8 else '')
        if rng.random() < 0.2:
            text = '-' + text
        texts.append(text)
    # Over 800 significant digits: the tail only tells "above" or "exact".
    mid = exact_decimal((Fraction(1.0) + Fraction(next_up(1.0))) / 2)
    texts.append(mid + '0' * 900 + '1')
    texts.append(mid + '0' * 900)
    texts.append('1' + '0' * 1000 + 'e-1000')
    texts.append('0.' + '0' * 300 + '4' + '9' * 900)
    return texts


def exact_below(mid):
    """A decimal text just below the decimal text `mid` (which has a point)."""
    # Subtract 1 at 20 places past the last digit: ...d - 1e-(L+20).
    whole, frac = mid.split('.')
    n = int(whole + frac) * 10 ** 20 - 1
    s = str(n).rjust(len(frac) + 20 + 1, '0')
    return s[:-(len(frac) + 20)] + '.' + s[-(len(frac) + 20):]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'data', 'float_oracle.tsv')
    rng = random.Random(SEED)
    vals = finite_values(rng)
    seen = set()
    lines = ['# Reference float <-> text conversions; made by tools/gen_float_oracle.py.',
             '# D bits digits point digits6 point6 %.7g %.13g %.16g',
             '# P text bits']
    for x in vals:
        b = bits_of(x)
        if b not in seen:
            seen.add(b)
            lines.append(d_row(x))
    seen_t = set()
    for t in parse_texts(rng, vals):
        if t not in seen_t:
            seen_t.add(t)
            lines.append(p_row(t))
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, 'w') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
