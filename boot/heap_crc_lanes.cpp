#include "boot/heap_crc_lanes.h"

#include <cstring>

namespace zan {

namespace {

// The CRC-32C table (reflected polynomial 0x82F63B78).
struct CrcTable {
    u32 t[256];
    constexpr CrcTable() : t() {
        for (u32 i = 0; i < 256; i++) {
            u32 c = i;
            for (int k = 0; k < 8; k++) c = (c >> 1) ^ (c & 1 ? 0x82F63B78u : 0);
            t[i] = c;
        }
    }
};
constexpr CrcTable kCrc;

// The CRC-32C step over one little-endian 64-bit word, without the initial
// and final inversion: what the SSE4.2 instruction computes.
u32 crc_word(u32 crc, u64 v) {
    for (int i = 0; i < 8; i++) crc = kCrc.t[(crc ^ (v >> (8 * i))) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace

void heap_crc_lanes_portable(u32 h[4], const u8* p, u64 blocks) {
    for (; blocks; blocks--, p += 32) {
        for (int k = 0; k < 4; k++) {
            u64 v;
            std::memcpy(&v, p + 8 * k, 8);
            h[k] = crc_word(h[k], v);
        }
    }
}

__attribute__((target("sse4.2"))) void heap_crc_lanes_sse42(u32 h[4], const u8* p, u64 blocks) {
    u64 a = h[0], b = h[1], c = h[2], d = h[3];
    for (; blocks; blocks--, p += 32) {
        u64 v[4];
        std::memcpy(v, p, 32);
        a = __builtin_ia32_crc32di(a, v[0]);
        b = __builtin_ia32_crc32di(b, v[1]);
        c = __builtin_ia32_crc32di(c, v[2]);
        d = __builtin_ia32_crc32di(d, v[3]);
    }
    h[0] = static_cast<u32>(a);
    h[1] = static_cast<u32>(b);
    h[2] = static_cast<u32>(c);
    h[3] = static_cast<u32>(d);
}

}  // namespace zan
