// Big-integer arithmetic for the exact float <-> decimal conversions.
#include "runtime/core/dtoa_bigint.h"

#include <cstdlib>
#include <cstring>

#include "runtime/core/errors.h"

namespace zan {

const double g_tens[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                           1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                           1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
const double g_bigtens[5] = {1e16, 1e32, 1e64, 1e128, 1e256};
const double g_tinytens[5] = {1e-16, 1e-32, 1e-64, 1e-128, 1e-256};

namespace {

Bigint* g_free_lists[DTOA_BIG_MAX_POOLED_K + 1];

size_t block_bytes(int k) { return sizeof(Bigint) + (size_t(1) << k) * sizeof(u32); }

Bigint* raw_alloc(int k) {
    auto* b = static_cast<Bigint*>(std::malloc(block_bytes(k)));
    if (!b) runtime_fatal(1, "out of memory");
    b->next = nullptr;
    b->k = k;
    b->maxwds = 1 << k;
    return b;
}

// Smallest class whose capacity holds n words.
int class_for(int n) {
    int k = 0;
    while ((1 << k) < n) ++k;
    return k;
}

Bigint* alloc_words(int n) { return dtoa_big_alloc(class_for(n)); }

void trim(Bigint* b) {
    int n = b->wds;
    const u32* x = b->x();
    while (n > 1 && x[n - 1] == 0) --n;
    b->wds = n;
}

// Cached powers 5^4, 5^8, 5^16, ... for big_pow5mult; kept for the whole run.
constexpr int P5_CACHE = 16;
Bigint* g_p5s[P5_CACHE];

Bigint* permanent_copy(const Bigint* b) {
    Bigint* c = raw_alloc(b->k);
    c->sign = 0;
    c->wds = b->wds;
    std::memcpy(c->x(), b->x(), size_t(b->wds) * sizeof(u32));
    return c;
}

const Bigint* p5_power(int i) {  // 5^(4 * 2^i)
    if (i >= P5_CACHE) return nullptr;
    if (!g_p5s[i]) {
        Bigint* v;
        if (i == 0) {
            v = big_from_u64(625);
        } else {
            const Bigint* prev = p5_power(i - 1);
            v = big_mult(prev, prev);
        }
        g_p5s[i] = permanent_copy(v);
        dtoa_big_free(v);
    }
    return g_p5s[i];
}

}  // namespace

Bigint* dtoa_big_alloc(int k) {
    Bigint* b;
    if (k <= DTOA_BIG_MAX_POOLED_K && g_free_lists[k]) {
        b = g_free_lists[k];
        g_free_lists[k] = b->next;
        b->next = nullptr;
    } else {
        b = raw_alloc(k);
    }
    b->sign = 0;
    b->wds = 1;
    b->x()[0] = 0;
    return b;
}

void dtoa_big_free(Bigint* b) {
    if (!b) return;
    if (b->k <= DTOA_BIG_MAX_POOLED_K) {
        b->next = g_free_lists[b->k];
        g_free_lists[b->k] = b;
    } else {
        std::free(b);
    }
}

Bigint* big_from_u64(u64 v) {
    Bigint* b = dtoa_big_alloc(1);
    b->x()[0] = u32(v);
    b->x()[1] = u32(v >> 32);
    b->wds = b->x()[1] ? 2 : 1;
    return b;
}

Bigint* big_copy(const Bigint* b) {
    Bigint* c = dtoa_big_alloc(b->k);
    c->sign = b->sign;
    c->wds = b->wds;
    std::memcpy(c->x(), b->x(), size_t(b->wds) * sizeof(u32));
    return c;
}

Bigint* big_multadd(Bigint* b, u32 m, u32 a) {
    u32* x = b->x();
    u64 carry = a;
    for (int i = 0; i < b->wds; ++i) {
        u64 y = u64(x[i]) * m + carry;
        x[i] = u32(y);
        carry = y >> 32;
    }
    if (carry) {
        if (b->wds >= b->maxwds) {
            Bigint* grown = dtoa_big_alloc(b->k + 1);
            grown->wds = b->wds;
            std::memcpy(grown->x(), x, size_t(b->wds) * sizeof(u32));
            dtoa_big_free(b);
            b = grown;
        }
        b->x()[b->wds++] = u32(carry);
    }
    trim(b);
    return b;
}

Bigint* big_mult(const Bigint* a, const Bigint* b) {
    int na = a->wds, nb = b->wds;
    Bigint* c = alloc_words(na + nb);
    u32* z = c->x();
    std::memset(z, 0, size_t(na + nb) * sizeof(u32));
    const u32* xa = a->x();
    const u32* xb = b->x();
    for (int j = 0; j < nb; ++j) {
        u64 m = xb[j];
        if (!m) continue;
        u64 carry = 0;
        for (int i = 0; i < na; ++i) {
            u64 y = xa[i] * m + z[i + j] + carry;
            z[i + j] = u32(y);
            carry = y >> 32;
        }
        z[j + na] = u32(carry);
    }
    c->wds = na + nb;
    trim(c);
    return c;
}

Bigint* big_pow5mult(Bigint* b, int n) {
    static const u32 small[3] = {5, 25, 125};
    if (n & 3) b = big_multadd(b, small[(n & 3) - 1], 0);
    n >>= 2;
    for (int i = 0; n; ++i, n >>= 1) {
        if (!(n & 1)) continue;
        const Bigint* p = p5_power(i);
        if (!p) {  // beyond the cache (5^262144 and up): square on the fly
            Bigint* q = big_from_u64(1);
            q = big_pow5mult(q, 1 << (i + 1));
            q = big_pow5mult(q, 1 << (i + 1));
            Bigint* r = big_mult(b, q);
            dtoa_big_free(q);
            dtoa_big_free(b);
            b = r;
            continue;
        }
        Bigint* r = big_mult(b, p);
        dtoa_big_free(b);
        b = r;
    }
    return b;
}

Bigint* big_lshift(Bigint* b, int n) {
    if (n <= 0 || big_is_zero(b)) return b;
    int words = n >> 5, bits = n & 31;
    int nw = b->wds + words + 1;
    Bigint* c = alloc_words(nw);
    u32* z = c->x();
    const u32* x = b->x();
    std::memset(z, 0, size_t(words) * sizeof(u32));
    if (bits) {
        u32 carry = 0;
        for (int i = 0; i < b->wds; ++i) {
            z[words + i] = (x[i] << bits) | carry;
            carry = x[i] >> (32 - bits);
        }
        z[words + b->wds] = carry;
    } else {
        std::memcpy(z + words, x, size_t(b->wds) * sizeof(u32));
        z[words + b->wds] = 0;
    }
    c->wds = nw;
    trim(c);
    dtoa_big_free(b);
    return c;
}

int big_cmp(const Bigint* a, const Bigint* b) {
    if (a->wds != b->wds) return a->wds > b->wds ? 1 : -1;
    const u32* xa = a->x();
    const u32* xb = b->x();
    for (int i = a->wds - 1; i >= 0; --i)
        if (xa[i] != xb[i]) return xa[i] > xb[i] ? 1 : -1;
    return 0;
}

Bigint* big_diff(const Bigint* a, const Bigint* b) {
    int c = big_cmp(a, b);
    if (c == 0) return dtoa_big_alloc(0);
    int sign = 0;
    if (c < 0) {
        const Bigint* t = a;
        a = b;
        b = t;
        sign = 1;
    }
    Bigint* d = dtoa_big_alloc(a->k);
    const u32* xa = a->x();
    const u32* xb = b->x();
    u32* z = d->x();
    u64 borrow = 0;
    int i = 0;
    for (; i < b->wds; ++i) {
        u64 y = u64(xa[i]) - xb[i] - borrow;
        z[i] = u32(y);
        borrow = (y >> 32) & 1;
    }
    for (; i < a->wds; ++i) {
        u64 y = u64(xa[i]) - borrow;
        z[i] = u32(y);
        borrow = (y >> 32) & 1;
    }
    d->wds = a->wds;
    d->sign = sign;
    trim(d);
    return d;
}

namespace {
// b -= q * S, for q * S <= b.
void sub_mul(Bigint* b, const Bigint* S, u32 q) {
    u32* x = b->x();
    const u32* s = S->x();
    u64 carry = 0, borrow = 0;
    int i = 0;
    for (; i < S->wds; ++i) {
        u64 p = u64(s[i]) * q + carry;
        carry = p >> 32;
        u64 y = u64(x[i]) - u32(p) - borrow;
        x[i] = u32(y);
        borrow = (y >> 32) & 1;
    }
    for (; i < b->wds && (carry || borrow); ++i) {
        u64 y = u64(x[i]) - u32(carry) - borrow;
        carry = 0;
        x[i] = u32(y);
        borrow = (y >> 32) & 1;
    }
    trim(b);
}
}  // namespace

int big_quorem(Bigint* b, const Bigint* S) {
    int n = S->wds;
    if (b->wds < n) return 0;
    const u32* s = S->x();
    const u32* x = b->x();
    // An estimate from the top words that never exceeds the true quotient.
    u64 top = b->wds > n ? (u64(x[n]) << 32) | x[n - 1] : x[n - 1];
    u64 q = top / (u64(s[n - 1]) + 1);
    if (q > 9) runtime_fatal(100, "float conversion: quotient digit out of range");
    if (q) sub_mul(b, S, u32(q));
    while (big_cmp(b, S) >= 0) {
        sub_mul(b, S, 1);
        if (++q > 9) runtime_fatal(100, "float conversion: quotient digit out of range");
    }
    return int(q);
}

int big_top_zero_bits(const Bigint* b) {
    u32 t = b->x()[b->wds - 1];
    if (!t) return 32;
    return __builtin_clz(t);
}

}  // namespace zan
