#!/usr/bin/env python3
"""Independent model of the runtime's random generator in Python integers
(explicit sign handling, no shared code with the C++ one). Running it prints
the draws and random_int results that random_test.cpp expects."""

M32 = 0xFFFFFFFF

def s32(x):
    x &= M32
    return x - (1 << 32) if x & 0x80000000 else x

def sar(x, n):            # arithmetic shift of a signed 32-bit word
    return s32(x) >> n    # Python's >> on negative ints propagates the sign

class Gen:
    def __init__(self, seed):
        self.w = [0] * 624
        self.w[0] = s32(seed)
        for i in range(1, 624):
            p = self.w[i - 1]
            self.w[i] = s32(1812433253 * (s32(p) ^ sar(p, 30)) + i)
        self.idx = 0        # the first draws temper the seeded words

    def regen(self):
        w = self.w
        for i in range(624):
            nxt = w[(i + 1) % 624]
            y = s32((w[i] & 0x80000000) | (nxt & 0x7FFFFFFF))
            v = w[(i + 397) % 624] ^ sar(y, 1)
            if y & 1:
                v ^= 0x9908B0DF
            w[i] = s32(v)
        self.idx = 0

    def next(self):
        if self.idx == 624:
            self.regen()
        y = self.w[self.idx]
        self.idx += 1
        y = s32(y ^ sar(y, 11))
        y = s32(y ^ ((y << 7) & 0x9D2C5680))
        y = s32(y ^ ((y << 15) & 0xEFC60000))
        y = s32(y ^ sar(y, 18))
        assert 0 <= y <= 0x7FFFFFFF
        return y

    def draw_int(self, n):
        if n == 0:
            return 0
        if n == -2147483648:
            return -1 - self.next()
        if n < 0:
            return -self.draw_int(-n)
        limit = (0x7FFFFFFF // n) * n
        while True:
            d = self.next()
            if d < limit:
                return d % n + 1

if __name__ == "__main__":
    print("// seed, draws 1-8, draw 624, draw 625, draw 1001, draw 2000")
    for s in (19650218, 0, 1, -1, 5489, -2147483648, 123456789):
        g = Gen(s)
        d = [g.next() for _ in range(2000)]
        vals = d[:8] + [d[623], d[624], d[1000], d[1999]]
        print("    {%d, {%s}}," % (s, ", ".join("0x%08Xu" % v for v in vals)))
    print("// seed, n, six random_int results, raw draws used")
    for s, n in [(19650218, 6), (19650218, 1073741825), (19650218, -1073741825),
                 (42, 2147483647), (42, -2147483648), (7, 1), (7, -1), (7, 0),
                 (-5, 1000000007), (-5, 3)]:
        g = Gen(s)
        res = [g.draw_int(n) for _ in range(6)]
        print("    {%d, %d, {%s}, %d}," % (s, n, ", ".join(str(r) for r in res), g.idx))
