#include "runtime/digest/random.h"

#include "runtime/core/errors.h"
#include "runtime/core/murmur.h"
#include "runtime/digest/crypto_service.h"

namespace zan {

namespace {

constexpr int N = RANDOM_STATE_WORDS;
constexpr int M = 397;
constexpr u32 MATRIX = 0x9908B0DFu;

struct Generator {
    i32 word[N];
    int index = -1;  // -1: never seeded
};

Generator g_gen;

// Two's-complement conversions; the arithmetic runs on unsigned words so
// that products wrap instead of overflowing.
inline i32 as_signed(u32 v) { return static_cast<i32>(v); }
inline u32 as_unsigned(i32 v) { return static_cast<u32>(v); }

void regenerate() {
    i32* w = g_gen.word;
    for (int i = 0; i < N; ++i) {
        const i32 next = w[(i + 1) % N];
        const i32 y = as_signed((as_unsigned(w[i]) & 0x80000000u) | (as_unsigned(next) & 0x7FFFFFFFu));
        u32 v = as_unsigned(w[(i + M) % N]) ^ as_unsigned(y >> 1);  // sign-propagating shift
        if (y & 1) v ^= MATRIX;
        w[i] = as_signed(v);
    }
    g_gen.index = 0;
}

i32 draw(bool secure) { return secure ? random_secure_next() : random_next(); }

// Uniform in 1..n for n >= 1.
i32 draw_positive(bool secure, i32 n) {
    const i32 limit = (0x7FFFFFFF / n) * n;
    i32 d;
    do {
        d = draw(secure);
    } while (d >= limit);
    return d % n + 1;
}

}  // namespace

void random_seed(i32 seed) {
    i32* w = g_gen.word;
    w[0] = seed;
    for (int i = 1; i < N; ++i) {
        const i32 prev = w[i - 1];
        const u32 mixed = as_unsigned(prev ^ (prev >> 30));  // sign-propagating shift
        w[i] = as_signed(1812433253u * mixed + static_cast<u32>(i));
    }
    g_gen.index = 0;
}

void random_init() {
    random_seed(RANDOM_STARTUP_SEED);
    murmur3_set_seed(static_cast<u32>(RANDOM_STARTUP_SEED));
}

i32 random_next() {
    if (g_gen.index < 0) random_seed(RANDOM_STARTUP_SEED);
    if (g_gen.index >= N) regenerate();
    i32 y = g_gen.word[g_gen.index++];
    y ^= y >> 11;
    y ^= as_signed((as_unsigned(y) << 7) & 0x9D2C5680u);
    y ^= as_signed((as_unsigned(y) << 15) & 0xEFC60000u);
    y ^= y >> 18;  // with the sign propagated this clears bit 31
    return y;
}

i32 random_secure_next() {
    u32 bytes = 0;
    if (!crypto_service().random_bytes(&bytes, sizeof bytes))
        runtime_fatal(99, "the secure random source failed");
    return as_signed(bytes & 0x7FFFFFFFu);
}

i32 random_int(bool secure, i32 n) {
    if (n == 0) return 0;
    if (n > 0) return draw_positive(secure, n);
    if (n == INT32_MIN) return -1 - draw(secure);
    return -draw_positive(secure, -n);
}

}  // namespace zan
