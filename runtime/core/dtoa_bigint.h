// Arbitrary-precision non-negative integers for the exact float <-> decimal
// conversions, and the power-of-ten tables they share. Internal to the
// conversion code (dtoa*.cpp, float_text.cpp).
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// A block: this header, then 2^k 32-bit words, least significant first.
struct Bigint {
    Bigint* next;  // free-list link while the block is unused
    int k;         // size class
    int maxwds;    // capacity in words, 2^k
    int sign;      // set by big_diff when the difference is negative
    int wds;       // words in use (at least 1; a zero value has one 0 word)

    u32* x() { return reinterpret_cast<u32*>(this + 1); }
    const u32* x() const { return reinterpret_cast<const u32*>(this + 1); }
};

// Size classes up to this one are recycled through per-class free lists that
// live for the whole run; larger blocks go back to the process heap.
constexpr int DTOA_BIG_MAX_POOLED_K = 7;

// A block of class k with value 0.
Bigint* dtoa_big_alloc(int k);
// Returns a block to its free list (or the heap). Null is ignored.
void dtoa_big_free(Bigint* b);

Bigint* big_from_u64(u64 v);
Bigint* big_copy(const Bigint* b);
// b * m + a. May move b to a bigger block: use the returned block.
Bigint* big_multadd(Bigint* b, u32 m, u32 a);
// a * b in a new block.
Bigint* big_mult(const Bigint* a, const Bigint* b);
// b * 5^n (b is consumed; the result is a new or the same block).
Bigint* big_pow5mult(Bigint* b, int n);
// b * 2^n (b is consumed).
Bigint* big_lshift(Bigint* b, int n);
// Sign of a - b.
int big_cmp(const Bigint* a, const Bigint* b);
// |a - b| in a new block, with sign set when a < b.
Bigint* big_diff(const Bigint* a, const Bigint* b);
// For b < 10 * S: returns floor(b / S) and leaves b mod S in b.
int big_quorem(Bigint* b, const Bigint* S);
// Number of leading zero bits of the top word.
int big_top_zero_bits(const Bigint* b);
// True when the value is 0.
inline bool big_is_zero(const Bigint* b) { return b->wds == 1 && b->x()[0] == 0; }

// Exact powers of ten 1e0..1e22.
extern const double g_tens[23];
// 1e16, 1e32, 1e64, 1e128, 1e256 and their reciprocals.
extern const double g_bigtens[5];
extern const double g_tinytens[5];
constexpr int DTOA_TEN_PMAX = 22;

}  // namespace zan
