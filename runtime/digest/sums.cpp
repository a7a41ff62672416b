// CRC-32, Adler-32 and the TCP/IP checksum.
#include "runtime/digest/checksum.h"

namespace zan {

namespace {

struct Crc32Table {
    u32 entry[256];
    Crc32Table() {
        for (u32 i = 0; i < 256; ++i) {
            u32 c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            entry[i] = c;
        }
    }
};

constexpr u32 ADLER_MOD = 65521;
// Bytes summed between two reductions: b stays below 2^32 for any block of
// this length whatever a and b held before it.
constexpr size_t ADLER_BLOCK = 3854;

}  // namespace

const u32* crc32_table() {
    static const Crc32Table table;
    return table.entry;
}

u32 crc32_update(u32 crc, const u8* bytes, size_t count) {
    const u32* table = crc32_table();
    u32 r = ~crc;
    for (size_t i = 0; i < count; ++i) r = (r >> 8) ^ table[(r ^ bytes[i]) & 0xFFu];
    return ~r;
}

u32 crc32_compute(const u8* bytes, size_t count) { return crc32_update(0, bytes, count); }

u32 adler32_update(u32 adler, const u8* bytes, size_t count) {
    u32 a = adler & 0xFFFFu;
    u32 b = adler >> 16;
    while (count > 0) {
        size_t block = count < ADLER_BLOCK ? count : ADLER_BLOCK;
        count -= block;
        while (block >= 16) {
            for (int k = 0; k < 16; ++k) {
                a += bytes[k];
                b += a;
            }
            bytes += 16;
            block -= 16;
        }
        while (block > 0) {
            a += *bytes++;
            b += a;
            --block;
        }
        a %= ADLER_MOD;
        b %= ADLER_MOD;
    }
    return (b << 16) | a;
}

u32 adler32_compute(const u8* bytes, size_t count) { return adler32_update(1, bytes, count); }

u16 tcp_checksum(const u8* bytes, size_t count) {
    // A 64-bit sum cannot overflow for any data the heap can hold (2^48
    // words of FFFFh), so the fold below is exact for every length.
    u64 sum = 0;
    size_t i = 0;
    for (; i + 1 < count; i += 2) sum += (u32(bytes[i]) << 8) | bytes[i + 1];
    if (i < count) sum += bytes[i];  // odd byte: the low half of a last word
    while (sum >> 16) sum = (sum & 0xFFFFu) + (sum >> 16);
    return static_cast<u16>(~sum & 0xFFFFu);
}

}  // namespace zan
