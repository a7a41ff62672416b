#include "runtime/core/murmur.h"

#include <bit>
#include <cstring>

#include "runtime/core/errors.h"

namespace zan {

u32 g_hash_seed = 0;

namespace {

constexpr u32 C1 = 0xCC9E2D51u;
constexpr u32 C2 = 0x1B873593u;

inline u32 mix_block(u32 k) {
    k *= C1;
    k = std::rotl(k, 15);
    k *= C2;
    return k;
}
}  // namespace

void murmur3_set_seed(u32 seed) { g_hash_seed = seed; }

u32 murmur3_32_seeded(const void* bytes, size_t len, u32 seed) {
    const u8* p = static_cast<const u8*>(bytes);
    const size_t blocks = len / 4;
    u32 h = seed;

    for (size_t i = 0; i < blocks; ++i) {
        u32 k;
        std::memcpy(&k, p + i * 4, 4);  // little-endian host
        h = murmur3_add_block(h, k);
    }

    const u8* tail = p + blocks * 4;
    u32 k = 0;
    switch (len & 3) {
        case 3: k ^= u32(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= u32(tail[1]) << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            h ^= mix_block(k);
    }

    // The length enters as a 32-bit word, as in the reference algorithm.
    h ^= static_cast<u32>(len);
    return hash_pointer_mix(h);
}

u32 hash_round_pow2(u32 n) {
    if (n <= 1) return 1;
    if (n > 0x80000000u) runtime_fatal(94, "out of memory: hash table too large");
    return std::bit_ceil(n);
}

}  // namespace zan
