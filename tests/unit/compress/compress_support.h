// Test helpers of the codec tests: a corpus of generated inputs and readers
// that list the symbols of the streams our compressors write, so tests can
// check the coding choices and not only the round trip.
#pragma once
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/io/compress/compress.h"

namespace zan::test {

using Bytes = std::vector<u8>;

// The method's name, for naming parameterised cases and traces.
inline const char* method_name(CompressMethod m) {
    switch (m) {
    case CompressMethod::lz: return "lz";
    case CompressMethod::deflate: return "deflate";
    case CompressMethod::zlib: return "zlib";
    case CompressMethod::gzip: return "gzip";
    }
    return "?";
}

struct CorpusItem {
    std::string name;
    Bytes data;
};

inline Bytes random_bytes(size_t n, u32 seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = u8(rng());
    return b;
}

// Words drawn with a skewed frequency, spaces, punctuation and newlines:
// compresses like prose or source text.
inline Bytes text_like(size_t n, u32 seed) {
    static const char* kWords[] = {
        "the", "value", "of", "a", "block", "series", "word", "is", "bound", "to",
        "context", "function", "returns", "and", "in", "string!", "integer", "make",
        "parse", "rule", "copy", "append", "either", "none", "print", "loop", "foreach",
        "compress", "decompress", "binary!", "system", "object", "refinement", "/part"};
    constexpr size_t kCount = sizeof kWords / sizeof kWords[0];
    std::mt19937 rng(seed);
    std::geometric_distribution<int> pick(0.15);
    Bytes b;
    b.reserve(n + 16);
    size_t line = 0;
    while (b.size() < n) {
        const char* w = kWords[size_t(pick(rng)) % kCount];
        for (const char* c = w; *c; ++c) b.push_back(u8(*c));
        line += 1;
        if (rng() % 11 == 0) b.push_back(u8(rng() % 2 ? ',' : '.'));
        if (line > 8 + rng() % 6) {
            b.push_back('\n');
            line = 0;
        } else {
            b.push_back(' ');
        }
    }
    b.resize(n);
    return b;
}

inline Bytes repeating(size_t n, size_t period, u32 seed) {
    Bytes unit = random_bytes(period, seed);
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = unit[i % period];
    return b;
}

inline Bytes filled(size_t n, u8 byte) { return Bytes(n, byte); }

// Inputs from empty to several megabytes: random, highly repetitive,
// text-like, all zero and a single byte value, with sizes around the block
// limits of the codecs (65535 for stored deflate blocks, 1 MB for LZ).
inline const std::vector<CorpusItem>& corpus() {
    static const std::vector<CorpusItem> items = [] {
        std::vector<CorpusItem> v;
        v.push_back({"empty", {}});
        v.push_back({"one_byte", {0x5A}});
        v.push_back({"two_bytes", {0x1F, 0x8B}});
        v.push_back({"three_equal", filled(3, 'q')});
        v.push_back({"random_127", random_bytes(127, 1)});
        v.push_back({"zeros_128", filled(128, 0)});
        v.push_back({"text_1k", text_like(1000, 2)});
        v.push_back({"random_65536", random_bytes(65536, 3)});
        v.push_back({"text_70k", text_like(70001, 4)});
        v.push_back({"random_1m", random_bytes(1 << 20, 5)});
        v.push_back({"lz_block_plus_one", text_like(0x100001, 6)});
        v.push_back({"text_2_5m", text_like(2600000, 7)});
        v.push_back({"zeros_3m", filled(3 << 20, 0)});
        v.push_back({"single_byte_1_5m", filled(1536 * 1024, 0xAB)});
        v.push_back({"period_37_4m", repeating(4 << 20, 37, 8)});
        v.push_back({"period_300k_1m", repeating(1 << 20, 300000, 9)});
        return v;
    }();
    return items;
}

// One symbol of a stream: a literal byte, or a copy of `length` bytes from
// `distance` back.
struct Symbol {
    bool match;
    u32 value;     // the literal, or the length of a match
    u32 distance;  // 0 for a literal
    bool operator==(const Symbol&) const = default;
};

inline Symbol lit(u8 b) { return {false, b, 0}; }
inline Symbol copy(u32 length, u32 distance) { return {true, length, distance}; }

// Least-significant-first bit source over a byte vector.
struct TestBits {
    const Bytes& b;
    size_t bit = 0;
    u32 get(unsigned k) {
        u32 v = 0;
        for (unsigned i = 0; i < k; ++i, ++bit) {
            if (bit / 8 >= b.size()) throw std::out_of_range("bits past the end");
            v |= u32((b[bit / 8] >> (bit % 8)) & 1) << i;
        }
        return v;
    }
    // A Huffman code, most significant bit first.
    u32 code(unsigned k) {
        u32 v = 0;
        for (unsigned i = 0; i < k; ++i) v = v << 1 | get(1);
        return v;
    }
};

// The symbols of a raw deflate stream made of one final fixed-code block,
// written straight from the code tables of RFC 1951.
inline std::vector<Symbol> fixed_block_symbols(const Bytes& stream) {
    static const u16 kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const u8 kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const u16 kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                      33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                      1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    TestBits in{stream};
    if (in.get(1) != 1 || in.get(2) != 1) throw std::runtime_error("not one final fixed block");
    std::vector<Symbol> out;
    for (;;) {
        u32 c = in.code(7);
        u32 sym;
        if (c <= 0x17) {
            sym = 256 + c;
        } else {
            c = c << 1 | in.get(1);
            if (c >= 0x30 && c <= 0xBF) sym = c - 0x30;
            else if (c >= 0xC0 && c <= 0xC7) sym = 280 + (c - 0xC0);
            else sym = 144 + ((c << 1 | in.get(1)) - 0x190);
        }
        if (sym < 256) {
            out.push_back(lit(u8(sym)));
            continue;
        }
        if (sym == 256) break;
        u32 length = kLenBase[sym - 257] + in.get(kLenExtra[sym - 257]);
        u32 ds = in.code(5);
        u32 dextra = ds < 4 ? 0 : ds / 2 - 1;
        out.push_back(copy(length, kDistBase[ds] + in.get(dextra)));
    }
    return out;
}

// The symbols of every block of an LZ stream, in order.
inline std::vector<Symbol> lz_symbols(const Bytes& stream) {
    std::vector<Symbol> out;
    size_t packed = size_t(stream[0]) | size_t(stream[1]) << 8 | size_t(stream[2]) << 16 |
                    size_t(stream[3]) << 24;
    size_t pos = 8;
    while (pos < 8 + packed) {
        size_t block = size_t(stream[pos]) | size_t(stream[pos + 1]) << 8 |
                       size_t(stream[pos + 2]) << 16 | size_t(stream[pos + 3]) << 24;
        TestBits in{stream, (pos + 4) * 8};
        size_t done = 0;
        while (done < block) {
            if (in.get(1) == 0) {
                out.push_back(lit(u8(in.get(8))));
                ++done;
                continue;
            }
            u32 v;
            if (in.get(1)) v = in.get(2);
            else if (in.get(1)) v = 4 + in.get(2);
            else if (in.get(1)) v = 8 + in.get(2);
            else if (in.get(1)) v = 12 + in.get(3);
            else if (in.get(1)) v = 20 + in.get(5);
            else v = 52 + in.get(9);
            unsigned m = in.get(4) + 2;
            u32 d = m == 2 ? in.get(3) : (1u << m) + in.get(m);
            out.push_back(copy(v + 3, d + 1));
            done += v + 3;
        }
        pos = (in.bit + 7) / 8;
    }
    return out;
}

}  // namespace zan::test
