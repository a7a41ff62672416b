// MurmurHash3, x86 32-bit variant: the hash behind every hash table of the
// runtime, plus the finaliser used to spread single words (pointer-keyed
// tables, the integer map) and the power-of-two rounding of bucket counts.
#pragma once
#include <cstddef>
#include "runtime/core/cell.h"

namespace zan {

// The process-wide seed of murmur3_32. The random generator's start-up sets
// it once, before any hash table is built; it must not change while tables
// exist, or their keys would land in other buckets.
extern u32 g_hash_seed;
inline u32 murmur3_seed() { return g_hash_seed; }
void murmur3_set_seed(u32 seed);

// MurmurHash3 x86 32-bit of len bytes with an explicit seed; the 4-byte
// blocks are read little-endian, as on the machines the runtime runs on.
u32 murmur3_32_seeded(const void* bytes, size_t len, u32 seed);

// MurmurHash3 x86 32-bit of len bytes with the process-wide seed.
inline u32 murmur3_32(const void* bytes, size_t len) {
    return murmur3_32_seeded(bytes, len, murmur3_seed());
}

// One 4-byte block of MurmurHash3 x86 32-bit entering the running hash h.
inline u32 murmur3_add_block(u32 h, u32 k) {
    k *= 0xCC9E2D51u;
    k = (k << 15) | (k >> 17);
    k *= 0x1B873593u;
    h ^= k;
    h = (h << 13) | (h >> 19);
    return h * 5 + 0xE6546B64u;
}

// The 32-bit finaliser of MurmurHash3 applied to one word.
inline u32 hash_pointer_mix(u32 h) {
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// MurmurHash3 x86 32-bit of 32-bit words given one at a time: the same
// answer as murmur3_32 over the bytes of the words, without storing them.
class Murmur3Words {
public:
    Murmur3Words() : h_(murmur3_seed()) {}
    void add(u32 word) {
        h_ = murmur3_add_block(h_, word);
        count_++;
    }
    u32 finish() const { return hash_pointer_mix(h_ ^ (count_ * 4)); }

private:
    u32 h_;
    u32 count_ = 0;
};

// The smallest power of two that is >= n (1 for 0 and 1). No 32-bit power
// of two is >= n above 2^31: asking for one is a fault below the language
// (a table that large cannot exist in the heap region) and ends the process
// as out of memory rather than handing back a bucket count smaller than n.
u32 hash_round_pow2(u32 n);

}  // namespace zan
