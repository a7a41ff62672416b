// The deflate compressor and the zlib and gzip framings around it.
//
// The compressor makes one pass over the input and writes one final block of
// the fixed Huffman codes. Matches come from a table of 1024 buckets of four
// recent positions, keyed by a hash of three bytes: the first slot that holds
// an equal three-byte string less than 32 KB back is taken and extended up
// to 258 bytes. No longer match is looked for, and no dynamic or stored block
// is ever written (except at level 0, which stores everything).
#include <algorithm>

#include "runtime/io/compress/codec_internal.h"

namespace zan::compress_detail {

namespace {

// Reverses the low `len` bits of `code`: Huffman codes go out most
// significant bit first through a writer that emits least significant first.
constexpr u32 reverse_bits(u32 code, unsigned len) {
    u32 r = 0;
    for (unsigned i = 0; i < len; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

struct FixedCodes {
    u16 lit_code[288];   // reversed code of each literal/length symbol
    u8 lit_len[288];
    u8 dist_code[32];    // reversed 5-bit code of each distance symbol
    constexpr FixedCodes() : lit_code{}, lit_len{}, dist_code{} {
        for (u32 s = 0; s < 288; ++s) {
            u32 code, len;
            if (s < 144) { code = 0x30 + s; len = 8; }
            else if (s < 256) { code = 0x190 + (s - 144); len = 9; }
            else if (s < 280) { code = s - 256; len = 7; }
            else { code = 0xC0 + (s - 280); len = 8; }
            lit_code[s] = u16(reverse_bits(code, len));
            lit_len[s] = u8(len);
        }
        for (u32 d = 0; d < 32; ++d) dist_code[d] = u8(reverse_bits(d, 5));
    }
};

constexpr FixedCodes kFixed;

// The three-byte hash of the match table.
inline u32 hash3(const u8* s) {
    u32 x = u32(s[0]) << 16 | u32(s[1]) << 8 | u32(s[2]);
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

inline unsigned highest_bit(u32 v) { return 31u - unsigned(__builtin_clz(v)); }

inline void put_literal(BitWriter& w, u8 byte) {
    w.put(kFixed.lit_code[byte], kFixed.lit_len[byte]);
}

// Length 3..258 and distance 1..32768 with their symbols and extra bits.
inline void put_match(BitWriter& w, u32 length, u32 distance) {
    u32 l = length - 3;
    if (length == 258) {
        w.put(kFixed.lit_code[285], kFixed.lit_len[285]);
    } else if (l < 8) {
        w.put(kFixed.lit_code[257 + l], kFixed.lit_len[257 + l]);
    } else {
        unsigned nb = highest_bit(l);  // 3..7
        u32 sym = 257 + 4 * (nb - 1) + ((l >> (nb - 2)) & 3);
        w.put(kFixed.lit_code[sym], kFixed.lit_len[sym]);
        w.put(l & ((1u << (nb - 2)) - 1), nb - 2);
    }
    u32 d = distance - 1;
    if (d < 4) {
        w.put(kFixed.dist_code[d], 5);
    } else {
        unsigned nb = highest_bit(d);  // 2..14
        u32 sym = 2 * nb + ((d >> (nb - 1)) & 1);
        w.put(kFixed.dist_code[sym], 5);
        w.put(d & ((1u << (nb - 1)) - 1), nb - 1);
    }
}

constexpr u32 kBuckets = 1024;
constexpr u32 kWays = 4;
constexpr u32 kMaxMatch = 258;
constexpr u32 kWindow = 0x8000;

void fixed_block(const u8* in, size_t len, BitWriter& w) {
    // Slot value 0 means empty; position 0 is never needed as a match source
    // because the first three bytes are always literals.
    u32 table[kBuckets][kWays] = {};
    w.put(1, 1);  // BFINAL
    w.put(1, 2);  // BTYPE 01: fixed Huffman codes
    size_t p = 0;
    while (p < len) {
        size_t start = p;
        bool hashed = len - p >= 3;
        u32 bucket = hashed ? hash3(in + p) & (kBuckets - 1) : 0;
        size_t advance = 1;
        if (p < 3 || !hashed) {
            put_literal(w, in[p]);
        } else {
            bool matched = false;
            for (u32 s = 0; s < kWays; ++s) {
                size_t q = table[bucket][s];
                if (q == 0 || q >= p || p - q >= kWindow) continue;
                if (in[q] != in[p] || in[q + 1] != in[p + 1] || in[q + 2] != in[p + 2])
                    continue;
                size_t limit = std::min<size_t>(kMaxMatch, len - p);
                size_t m = 3;
                while (m < limit && in[q + m] == in[p + m]) ++m;
                put_match(w, u32(m), u32(p - q));
                advance = m;
                matched = true;
                break;
            }
            if (!matched) put_literal(w, in[p]);
        }
        p += advance;
        if (hashed) {
            // The slot is picked by the hash of the bytes at the new
            // position; near the end, where fewer than three bytes follow,
            // slot 0 is used.
            u32 slot = 0;
            if (len - p >= 3) {
                u32 y = hash3(in + p);
                slot = ((y >> 14) - y) & (kWays - 1);
            }
            table[bucket][slot] = u32(start);
        }
    }
    w.put(0, 7);  // end of block: symbol 256
    w.align();
}

void stored_blocks(const u8* in, size_t len, BitWriter& w) {
    size_t p = 0;
    do {
        size_t n = std::min<size_t>(len - p, 0xFFFF);
        bool last = p + n == len;
        w.put(last ? 1 : 0, 1);
        w.put(0, 2);  // BTYPE 00: stored
        w.align();
        w.byte(u8(n));
        w.byte(u8(n >> 8));
        w.byte(u8(~n));
        w.byte(u8(~n >> 8));
        for (size_t i = 0; i < n; ++i) w.byte(in[p + i]);
        p += n;
    } while (p < len);
}

}  // namespace

void deflate_append(const u8* in, size_t len, int level, std::vector<u8>& out) {
    size_t base = out.size();
    // Fixed codes cost at most 9 bits per input byte (a literal; a match of
    // three or more bytes costs at most 25 bits); stored blocks 5 bytes per
    // 65535.
    size_t bound = len + len / 8 + 5 * (len / 0xFFFF + 1) + 16;
    out.resize(base + bound);
    BitWriter w(out.data(), out.size(), base);
    if (level == COMPRESS_LEVEL_STORE)
        stored_blocks(in, len, w);
    else
        fixed_block(in, len, w);
    out.resize(w.pos);
}

void zlib_encode(const u8* in, size_t len, int level, std::vector<u8>& out) {
    out.clear();
    out.reserve(len + len / 8 + 32);
    out.push_back(0x78);
    out.push_back(0x01);
    deflate_append(in, len, level, out);
    u8 trailer[4];
    store_be32(trailer, adler32_of(in, len));
    out.insert(out.end(), trailer, trailer + 4);
}

void gzip_encode(const u8* in, size_t len, int level, std::vector<u8>& out) {
    static constexpr u8 kHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x04, 0x04};
    out.clear();
    out.reserve(len + len / 8 + 48);
    out.insert(out.end(), kHeader, kHeader + 10);
    deflate_append(in, len, level, out);
    u8 trailer[8];
    store_le32(trailer, crc32_of(in, len));
    store_le32(trailer + 4, u32(len));
    out.insert(out.end(), trailer, trailer + 8);
}

namespace {

// Copies what fits of `data` into the caller's buffer and sets the size slot.
int deliver(const std::vector<u8>& data, u8* out, size_t& size) {
    size_t cap = size;
    size_t n = std::min(cap, data.size());
    if (n) std::memcpy(out, data.data(), n);
    size = data.size();
    return data.size() > cap ? DEFLATE_NO_ROOM : DEFLATE_OK;
}

}  // namespace

}  // namespace zan::compress_detail

namespace zan {

using namespace compress_detail;

int deflate_compress(u8* out, size_t& size, const u8* in, size_t len) {
    std::vector<u8> data;
    deflate_append(in, len, COMPRESS_LEVEL_DEFAULT, data);
    return deliver(data, out, size);
}

int zlib_compress(u8* out, size_t& size, const u8* in, size_t len) {
    if (size < 6) {
        size = len + 6;
        return DEFLATE_BAD_DATA;
    }
    std::vector<u8> data;
    zlib_encode(in, len, COMPRESS_LEVEL_DEFAULT, data);
    return deliver(data, out, size);
}

// Input that already starts with the gzip magic (1F 8B 08) is compressed
// like any other, not passed through: a caller that asked for compression
// would otherwise get uncompressed data back whenever its own data began
// with those bytes.
int gzip_compress(u8* out, size_t& size, const u8* in, size_t len) {
    if (size < 18) {
        size = len + 18;
        return DEFLATE_BAD_DATA;
    }
    std::vector<u8> data;
    gzip_encode(in, len, COMPRESS_LEVEL_DEFAULT, data);
    return deliver(data, out, size);
}

}  // namespace zan
