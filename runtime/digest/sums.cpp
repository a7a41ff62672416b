// CRC-32, Adler-32 and the TCP/IP checksum.
#include "runtime/digest/checksum.h"

#include <immintrin.h>

#include <cstring>

namespace zan {

namespace {

// Eight tables: entry[k][b] is the CRC register after byte b followed by k
// zero bytes, so that eight bytes are taken per step.
struct Crc32Table {
    u32 entry[8][256];
    Crc32Table() {
        for (u32 i = 0; i < 256; ++i) {
            u32 c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            entry[0][i] = c;
        }
        for (u32 i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k)
                entry[k][i] = (entry[k - 1][i] >> 8) ^ entry[0][entry[k - 1][i] & 0xFFu];
    }
};

const Crc32Table& crc32_tables() {
    static const Crc32Table table;
    return table;
}

// The register (not inverted) over count bytes, eight at a time.
u32 crc32_by_tables(u32 r, const u8* p, size_t count) {
    const auto& t = crc32_tables().entry;
    for (; count >= 8; p += 8, count -= 8) {
        u32 lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= r;
        r = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; count; ++p, --count) r = (r >> 8) ^ t[0][(r ^ *p) & 0xFFu];
    return r;
}

inline __m128i load(const u8* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); }

// Folds lane x forward over 128 bits (k3k4) or 512 bits (k1k2) onto next.
[[gnu::target("pclmul,sse4.1")]] inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// The register over a run of whole 16-byte blocks (at least four), by
// carry-less multiplication: four lanes of 128 bits are folded forward 512
// bits at a time, then into one lane, then reduced to 32 bits (Barrett).
// The constants are powers of x modulo the polynomial, bit-reflected.
[[gnu::target("pclmul,sse4.1")]] u32 crc32_by_folding(u32 r, const u8* p, size_t blocks) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(r)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    blocks -= 4;
    for (; blocks >= 4; p += 64, blocks -= 4) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    for (; blocks; p += 16, --blocks) x1 = fold(x1, k3k4, load(p));
    // 128 bits to 64.
    __m128i x2b = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
    x2b = _mm_srli_si128(x1, 4);
    x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00);
    x1 = _mm_xor_si128(x1, x2b);
    // Barrett reduction to 32 bits.
    x2b = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    x2b = _mm_clmulepi64_si128(_mm_and_si128(x2b, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2b);
    return static_cast<u32>(_mm_extract_epi32(x1, 1));
}

bool crc32_folding_available() {
    static const bool yes = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return yes;
}

constexpr u32 ADLER_MOD = 65521;
// Bytes summed between two reductions: b stays below 2^32 for any block of
// this length whatever a and b held before it.
constexpr size_t ADLER_BLOCK = 3854;

}  // namespace

u32 crc32_update(u32 crc, const u8* bytes, size_t count) {
    u32 r = ~crc;
    if (count >= 64 && crc32_folding_available()) {
        size_t blocks = count / 16;
        r = crc32_by_folding(r, bytes, blocks);
        bytes += blocks * 16;
        count -= blocks * 16;
    }
    return ~crc32_by_tables(r, bytes, count);
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
