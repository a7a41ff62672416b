// The deflate decoder and the zlib and gzip framings around it.
//
// Every block type is read. Huffman codes are decoded through a 10-bit
// lookup table with a canonical bit-by-bit walk for longer codes. Code
// tables are checked as they are built (over-subscribed or incomplete sets
// are refused, except a lone code of one bit), and so is every symbol: the
// literal/length symbols 286 and 287 and the distance symbols 30 and 31,
// which have codes in the fixed tables, are errors. A stream has to end with
// its final block inside the input: bits read past the end make it
// truncated, never a short success.
#include <algorithm>

#include "runtime/io/compress/codec_internal.h"

namespace zan::compress_detail {

namespace {

constexpr unsigned kFastBits = 10;
constexpr unsigned kMaxBits = 15;

struct Huffman {
    u16 fast[1u << kFastBits];  // (symbol << 4) | length, 0 = take the slow walk
    u16 count[kMaxBits + 1];    // codes of each length
    u16 symbol[288];            // symbols in canonical order
};

enum class TableKind { code_lengths, literals, distances };

// Builds a decoding table from code lengths; false for a set of lengths that
// is not a valid prefix code.
bool build_huffman(Huffman& h, const u8* lengths, unsigned n, TableKind kind) {
    std::memset(h.count, 0, sizeof h.count);
    for (unsigned s = 0; s < n; ++s) h.count[lengths[s]]++;
    h.count[0] = 0;
    int left = 1;
    unsigned max_len = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return false;  // over-subscribed
        if (h.count[len]) max_len = len;
    }
    // An incomplete set is only a lone one-bit code of the literal or
    // distance table (a block that uses a single distance); no codes at all
    // is allowed for distances, and any symbol then fails to decode.
    if (left > 0 && max_len != 0 && (kind == TableKind::code_lengths || max_len != 1))
        return false;
    u16 offset[kMaxBits + 2];
    offset[1] = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) offset[len + 1] = u16(offset[len] + h.count[len]);
    u16 next_code[kMaxBits + 1];
    u32 code = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        next_code[len] = u16(code);
        code = (code + h.count[len]) << 1;
    }
    std::memset(h.fast, 0, sizeof h.fast);
    for (unsigned s = 0; s < n; ++s) {
        unsigned len = lengths[s];
        if (!len) continue;
        h.symbol[offset[len]++] = u16(s);
        u32 c = next_code[len]++;
        if (len > kFastBits) continue;
        u32 rev = 0;
        for (unsigned i = 0; i < len; ++i) rev |= ((c >> i) & 1) << (len - 1 - i);
        for (u32 i = rev; i < (1u << kFastBits); i += 1u << len) h.fast[i] = u16(s << 4 | len);
    }
    return true;
}

// The next symbol, or -1 for a code that the table does not hold. The
// reader has at least 15 bits buffered.
inline int decode_symbol(const Huffman& h, BitReader& r) {
    u16 e = h.fast[r.peek(kFastBits)];
    if (e) {
        r.drop(e & 15);
        return e >> 4;
    }
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        code |= int((r.acc >> (len - 1)) & 1);
        int c = h.count[len];
        if (code - first < c) {
            r.drop(len);
            return h.symbol[index + code - first];
        }
        index += c;
        first = (first + c) << 1;
        code <<= 1;
    }
    return -1;
}

constexpr u16 kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr u8 kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr u16 kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                               33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr u8 kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct FixedTables {
    Huffman lit;
    Huffman dist;
    FixedTables() {
        u8 lengths[288];
        for (unsigned s = 0; s < 288; ++s)
            lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        build_huffman(lit, lengths, 288, TableKind::literals);
        u8 dl[32];
        std::memset(dl, 5, sizeof dl);
        build_huffman(dist, dl, 32, TableKind::distances);
    }
};

const FixedTables& fixed_tables() {
    static const FixedTables tables;
    return tables;
}

// Output that grows as bytes are produced, up to a limit.
struct Output {
    OutputBuffer& b;
    size_t base;    // first byte of this stream's output
    size_t limit;

    bool room(size_t k) {
        if (k > limit || b.size > limit - k) return false;
        if (b.room - b.size >= k) return true;
        size_t want = std::max<size_t>({b.room * 2, b.size + k, 4096});
        return b.grow(b, std::min(want, limit)) && b.room - b.size >= k;
    }
};

// Decodes the symbols of one Huffman block.
int decode_block(BitReader& r, Output& o, const Huffman& lit, const Huffman& dist) {
    for (;;) {
        r.refill();
        int sym = decode_symbol(lit, r);
        if (sym < 0) return r.overrun() ? DEFLATE_TRUNCATED : DEFLATE_BAD_CODE;
        if (sym < 256) {
            if (r.overrun()) return DEFLATE_TRUNCATED;
            if (!o.room(1)) return DEFLATE_TOO_LARGE;
            o.b.data[o.b.size++] = u8(sym);
            continue;
        }
        if (sym == 256) return r.overrun() ? DEFLATE_TRUNCATED : DEFLATE_OK;
        sym -= 257;
        if (sym >= 29) return r.overrun() ? DEFLATE_TRUNCATED : DEFLATE_BAD_CODE;
        size_t length = kLengthBase[sym] + r.take(kLengthExtra[sym]);
        int ds = decode_symbol(dist, r);
        if (ds < 0 || ds >= 30) return r.overrun() ? DEFLATE_TRUNCATED : DEFLATE_BAD_CODE;
        size_t distance = kDistBase[ds] + r.take(kDistExtra[ds]);
        if (r.overrun()) return DEFLATE_TRUNCATED;
        if (distance > o.b.size - o.base) return DEFLATE_BAD_DISTANCE;
        if (!o.room(length)) return DEFLATE_TOO_LARGE;
        u8* dst = o.b.data + o.b.size;
        const u8* src = dst - distance;
        if (distance >= length) {
            std::memcpy(dst, src, length);
        } else {
            for (size_t i = 0; i < length; ++i) dst[i] = src[i];  // overlap repeats
        }
        o.b.size += length;
    }
}

int dynamic_tables(BitReader& r, Huffman& lit, Huffman& dist) {
    static constexpr u8 kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
    r.refill();
    unsigned hlit = r.take(5) + 257;
    unsigned hdist = r.take(5) + 1;
    unsigned hclen = r.take(4) + 4;
    if (hlit > 286 || hdist > 30) return DEFLATE_BAD_CODE;
    u8 cl[19] = {};
    for (unsigned i = 0; i < hclen; ++i) {
        if (i % 16 == 0) r.refill();
        cl[kOrder[i]] = u8(r.take(3));
    }
    if (r.overrun()) return DEFLATE_TRUNCATED;
    Huffman clh;
    if (!build_huffman(clh, cl, 19, TableKind::code_lengths)) return DEFLATE_BAD_CODE;
    u8 lengths[286 + 30];
    unsigned total = hlit + hdist;
    unsigned i = 0;
    while (i < total) {
        r.refill();
        int sym = decode_symbol(clh, r);
        if (sym < 0) return r.overrun() ? DEFLATE_TRUNCATED : DEFLATE_BAD_CODE;
        if (sym < 16) {
            lengths[i++] = u8(sym);
            continue;
        }
        u8 value = 0;
        unsigned repeat;
        if (sym == 16) {
            if (i == 0) return DEFLATE_BAD_CODE;  // nothing to repeat
            value = lengths[i - 1];
            repeat = 3 + r.take(2);
        } else if (sym == 17) {
            repeat = 3 + r.take(3);
        } else {
            repeat = 11 + r.take(7);
        }
        if (r.overrun()) return DEFLATE_TRUNCATED;
        if (repeat > total - i) return DEFLATE_BAD_CODE;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    if (r.overrun()) return DEFLATE_TRUNCATED;
    if (lengths[256] == 0) return DEFLATE_BAD_CODE;  // no end-of-block code
    if (!build_huffman(lit, lengths, hlit, TableKind::literals)) return DEFLATE_BAD_CODE;
    if (!build_huffman(dist, lengths + hlit, hdist, TableKind::distances)) return DEFLATE_BAD_CODE;
    return DEFLATE_OK;
}

}  // namespace

int inflate_append(const u8* in, size_t len, OutputBuffer& out, size_t max_output,
                   size_t* consumed) {
    Output o{out, out.size, max_output};
    BitReader r(in, in + len);
    const FixedTables& fixed = fixed_tables();
    Huffman dyn_lit, dyn_dist;
    int result = DEFLATE_OK;
    bool final_block = false;
    while (!final_block && result == DEFLATE_OK) {
        r.refill();
        final_block = r.take(1) != 0;
        unsigned type = r.take(2);
        if (r.overrun()) {
            result = DEFLATE_TRUNCATED;
            break;
        }
        switch (type) {
        case 0: {
            r.drop(r.count & 7);  // to the byte boundary
            size_t pos = size_t(r.p - in) + r.phantom - r.count / 8;
            if (pos > len || len - pos < 4) {
                result = DEFLATE_TRUNCATED;
                break;
            }
            u32 n = u32(in[pos]) | u32(in[pos + 1]) << 8;
            u32 nn = u32(in[pos + 2]) | u32(in[pos + 3]) << 8;
            pos += 4;
            if ((n ^ 0xFFFF) != nn) {
                result = DEFLATE_BAD_CODE;
                break;
            }
            if (n > len - pos) {
                result = DEFLATE_STORED_OVERRUN;
                break;
            }
            if (!o.room(n)) {
                result = DEFLATE_TOO_LARGE;
                break;
            }
            if (n) std::memcpy(o.b.data + o.b.size, in + pos, n);
            o.b.size += n;
            r = BitReader(in + pos + n, in + len);
            break;
        }
        case 1:
            result = decode_block(r, o, fixed.lit, fixed.dist);
            break;
        case 2:
            result = dynamic_tables(r, dyn_lit, dyn_dist);
            if (result == DEFLATE_OK) result = decode_block(r, o, dyn_lit, dyn_dist);
            break;
        default:
            result = DEFLATE_BAD_BLOCK_TYPE;
            break;
        }
    }
    if (consumed) *consumed = size_t(r.p - in) + r.phantom - r.count / 8;
    return result;
}

namespace {

CompressStatus status_of(int result) {
    switch (result) {
    case DEFLATE_OK: return CompressStatus::ok;
    case DEFLATE_BAD_DATA: return CompressStatus::trailing_data;
    case DEFLATE_STORED_OVERRUN:
    case DEFLATE_TRUNCATED: return CompressStatus::truncated;
    case DEFLATE_TOO_LARGE: return CompressStatus::too_large;
    default: return CompressStatus::corrupt;
    }
}

}  // namespace

CompressStatus inflate_raw(const u8* in, size_t len, OutputBuffer& out, size_t max_output) {
    out.size = 0;
    size_t used = 0;
    int result = inflate_append(in, len, out, max_output, &used);
    if (result == DEFLATE_OK && used != len) result = DEFLATE_BAD_DATA;
    return status_of(result);
}

CompressStatus zlib_decode(const u8* in, size_t len, OutputBuffer& out, size_t max_output,
                           int* code) {
    out.size = 0;
    if (len < 2) return CompressStatus::truncated;
    u32 cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20))
        return CompressStatus::bad_header;
    size_t used = 0;
    int result = inflate_append(in + 2, len - 2, out, max_output, &used);
    if (code) *code = result;
    if (result != DEFLATE_OK) return status_of(result);
    size_t rest = len - 2 - used;
    if (rest < 4) return CompressStatus::truncated;
    if (rest > 4) return CompressStatus::trailing_data;
    if (load_be32(in + len - 4) != adler32_of(out.data, out.size))
        return CompressStatus::bad_checksum;
    return CompressStatus::ok;
}

namespace {

// Reads one gzip member header at in[pos]; sets pos past it.
CompressStatus gzip_header(const u8* in, size_t len, size_t& pos) {
    size_t start = pos;
    if (len - pos < 10) {
        // A short tail that does not even start like a header is not a
        // truncated member but foreign bytes.
        static constexpr u8 kMagic[3] = {0x1F, 0x8B, 0x08};
        for (size_t i = 0; i < 3 && pos + i < len; ++i)
            if (in[pos + i] != kMagic[i]) return CompressStatus::bad_header;
        return CompressStatus::truncated;
    }
    if (in[pos] != 0x1F || in[pos + 1] != 0x8B || in[pos + 2] != 0x08)
        return CompressStatus::bad_header;
    u8 flg = in[pos + 3];
    if (flg >= 32) return CompressStatus::bad_header;  // reserved flag bits
    pos += 10;
    if (flg & 0x04) {  // FEXTRA
        if (len - pos < 2) return CompressStatus::truncated;
        size_t xlen = size_t(in[pos]) | size_t(in[pos + 1]) << 8;
        pos += 2;
        if (len - pos < xlen) return CompressStatus::truncated;
        pos += xlen;
    }
    for (u8 bit : {u8(0x08), u8(0x10)}) {  // FNAME, FCOMMENT
        if (!(flg & bit)) continue;
        const void* nul = std::memchr(in + pos, 0, len - pos);
        if (!nul) return CompressStatus::truncated;
        pos = size_t(static_cast<const u8*>(nul) - in) + 1;
    }
    if (flg & 0x02) {  // FHCRC
        if (len - pos < 2) return CompressStatus::truncated;
        u32 stored = u32(in[pos]) | u32(in[pos + 1]) << 8;
        if (stored != (crc32_of(in + start, pos - start) & 0xFFFF)) return CompressStatus::bad_header;
        pos += 2;
    }
    return CompressStatus::ok;
}

}  // namespace

size_t gzip_size_hint(const u8* in, size_t len, size_t max_output) {
    // The last member's ISIZE is only a hint for the first reservation,
    // bounded by 16 times the input: ordinary data expands less, the output
    // grows by doubling past it, and a damaged or cut stream (whose last
    // four bytes are anything) reserves no more than that.
    if (len < 18) return 0;
    size_t hint = load_le32(in + len - 4);
    size_t bound = len < max_output / 16 ? len * 16 : max_output;
    return std::min({hint, bound, max_output});
}

CompressStatus gzip_decode(const u8* in, size_t len, OutputBuffer& out, size_t max_output,
                           int* code) {
    out.size = 0;
    size_t hint = gzip_size_hint(in, len, max_output);
    if (hint > out.room && !out.grow(out, hint)) return CompressStatus::too_large;
    size_t pos = 0;
    do {
        CompressStatus st = gzip_header(in, len, pos);
        if (st != CompressStatus::ok) {
            out.size = 0;
            return st;
        }
        size_t member_start = out.size;
        size_t used = 0;
        int result = inflate_append(in + pos, len - pos, out, max_output, &used);
        if (code) *code = result;
        if (result != DEFLATE_OK) return status_of(result);
        pos += used;
        if (len - pos < 8) {
            out.size = 0;
            return CompressStatus::truncated;
        }
        size_t produced = out.size - member_start;
        if (load_le32(in + pos) != crc32_of(out.data + member_start, produced)) {
            out.size = 0;
            return CompressStatus::bad_checksum;
        }
        if (load_le32(in + pos + 4) != u32(produced)) {
            out.size = 0;
            return CompressStatus::bad_size;
        }
        pos += 8;
    } while (pos < len);
    return CompressStatus::ok;
}

}  // namespace zan::compress_detail

namespace zan {

using namespace compress_detail;

namespace {

// Copies the decoded bytes that fit and sets the size slot to the full size.
int deliver(int result, const std::vector<u8>& data, u8* out, size_t& size) {
    size_t cap = size;
    size_t n = std::min(cap, data.size());
    if (n) std::memcpy(out, data.data(), n);
    size = data.size();
    if (result == DEFLATE_OK && data.size() > cap) return DEFLATE_NO_ROOM;
    return result;
}

// The result code of a framed decode: inflate's own code when inflating
// failed, else 2 for any framing fault.
int code_of(CompressStatus st, int inflate_code) {
    if (st == CompressStatus::ok) return DEFLATE_OK;
    if (inflate_code != DEFLATE_OK) return inflate_code;
    return st == CompressStatus::truncated ? DEFLATE_TRUNCATED : DEFLATE_BAD_DATA;
}

}  // namespace

int inflate_decompress(u8* out, size_t& size, const u8* in, size_t len) {
    std::vector<u8> data;
    VectorOutput vo(data);
    size_t used = 0;
    int result = inflate_append(in, len, vo.out, DECOMPRESS_DEFAULT_LIMIT, &used);
    vo.finish();
    if (result == DEFLATE_OK && used != len) result = DEFLATE_BAD_DATA;
    return deliver(result, data, out, size);
}

int zlib_decompress(u8* out, size_t& size, const u8* in, size_t len) {
    std::vector<u8> data;
    VectorOutput vo(data);
    int icode = DEFLATE_OK;
    CompressStatus st = zlib_decode(in, len, vo.out, DECOMPRESS_DEFAULT_LIMIT, &icode);
    vo.finish();
    return deliver(code_of(st, icode), data, out, size);
}

int gzip_decompress(u8* out, size_t& size, const u8* in, size_t len) {
    std::vector<u8> data;
    VectorOutput vo(data);
    int icode = DEFLATE_OK;
    CompressStatus st = gzip_decode(in, len, vo.out, DECOMPRESS_DEFAULT_LIMIT, &icode);
    vo.finish();
    return deliver(code_of(st, icode), data, out, size);
}

}  // namespace zan
