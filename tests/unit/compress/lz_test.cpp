// The LZ codec: its coding choices, the block structure and the checks the
// decoder makes on untrusted streams.
#include <gtest/gtest.h>

#include "runtime/io/compress/codec_internal.h"
#include "compress/compress_support.h"

namespace zan::test {
namespace {

using compress_detail::BitWriter;
using compress_detail::store_le32;

Bytes lz_of(const Bytes& in) {
    Bytes out;
    EXPECT_EQ(compress_bytes(CompressMethod::lz, in, out), CompressStatus::ok);
    return out;
}

// A stream of one block whose bits `fill` writes; the head and the block
// length are filled in from `block` and `unpacked`.
template <class Fill>
Bytes lz_stream(u32 block, u32 unpacked, Fill fill) {
    Bytes buf(256);
    BitWriter w(buf.data(), buf.size(), 12);
    fill(w);
    w.align();
    buf.resize(w.pos);
    store_le32(buf.data(), u32(buf.size() - 8));
    store_le32(buf.data() + 4, unpacked);
    store_le32(buf.data() + 8, block);
    return buf;
}

void literal(BitWriter& w, u8 b) { w.put(0, 1); w.put(b, 8); }
// A match of length 3..6 at distance 1..8 (the shortest codes).
void short_match(BitWriter& w, u32 length, u32 distance) {
    w.put(1, 1);
    if (length < 7) { w.put(1, 1); w.put(length - 3, 2); }
    else { w.put(2, 2); w.put(length - 7, 2); }
    w.put(0, 4);
    w.put(distance - 1, 3);
}

TEST(Lz, SmallInputsAreLeftToTheCaller) {
    Bytes in = random_bytes(127, 31);
    Bytes out(in.size());
    EXPECT_EQ(lz_compress(in.data(), in.size(), out.data()), -1);
    // Random data does not shrink either.
    in = random_bytes(5000, 32);
    out.resize(in.size());
    EXPECT_EQ(lz_compress(in.data(), in.size(), out.data()), -1);
}

TEST(Lz, ZerosBecomeOneLiteralAndOneLongMatch) {
    Bytes in = filled(128, 0);
    Bytes out(in.size());
    ASSERT_EQ(lz_compress(in.data(), in.size(), out.data()), 16);
    out.resize(16);
    // P 8, U 128, L 128; bits: literal 0, then 1, length 124 (00000 and 72 in
    // nine bits), distance field 0 and 3 zero bits, then padding.
    EXPECT_EQ(out, (Bytes{8, 0, 0, 0, 128, 0, 0, 0, 128, 0, 0, 0, 0x00, 0x02, 0x24, 0x00}));
    EXPECT_EQ(lz_symbols(out), (std::vector<Symbol>{lit(0), copy(127, 1)}));
    EXPECT_EQ(lz_of(in), out);
}

TEST(Lz, ThreeByteMatchesFartherThan64KAreLiterals) {
    for (u32 distance : {0x10000u, 0x10001u}) {
        SCOPED_TRACE(distance);
        // "XYZ" at 0 and at `distance`, with filler that holds none of X, Y, Z
        // and different bytes after each "XYZ".
        std::mt19937 rng(33);
        Bytes in(distance + 200);
        for (auto& b : in) b = u8('a' + rng() % 20);
        in[0] = 'X', in[1] = 'Y', in[2] = 'Z', in[3] = '1';
        in[distance] = 'X', in[distance + 1] = 'Y', in[distance + 2] = 'Z', in[distance + 3] = '2';
        Bytes stream = lz_of(in);
        size_t pos = 0;
        std::vector<Symbol> at_second;
        for (const Symbol& s : lz_symbols(stream)) {
            if (pos >= distance && pos < distance + 3) at_second.push_back(s);
            pos += s.match ? s.value : 1;
        }
        if (distance == 0x10000)
            EXPECT_EQ(at_second, (std::vector<Symbol>{copy(3, 0x10000)}));
        else
            EXPECT_EQ(at_second, (std::vector<Symbol>{lit('X'), lit('Y'), lit('Z')}));
    }
}

TEST(Lz, MatchesStayInsideTheirBlock) {
    // Two equal megabyte blocks: the second cannot refer to the first.
    Bytes half = random_bytes(0x100000, 34);
    Bytes in = half;
    in.insert(in.end(), half.begin(), half.end());
    Bytes stream = lz_of(in);
    EXPECT_GT(stream.size(), in.size());
    size_t pos = 0, block_start = 0;
    for (const Symbol& s : lz_symbols(stream)) {
        if (pos >= 0x100000) block_start = 0x100000;
        if (s.match) {
            EXPECT_LE(s.distance, pos - block_start);
            EXPECT_LE(s.distance, 0x40000u);
        }
        pos += s.match ? s.value : 1;
    }
    Bytes back;
    ASSERT_EQ(decompress_bytes(CompressMethod::lz, stream, back), CompressStatus::ok);
    EXPECT_EQ(back, in);
}

TEST(Lz, LongMatchesAndFarDistancesRoundTrip) {
    // A 200 KB random unit repeated: matches at distance 200000, up to 566.
    Bytes in = repeating(600000, 200000, 35);
    Bytes stream = lz_of(in);
    bool far = false, longest = false;
    for (const Symbol& s : lz_symbols(stream)) {
        far |= s.match && s.distance == 200000;
        longest |= s.match && s.value == 566;
    }
    EXPECT_TRUE(far);
    EXPECT_TRUE(longest);
    Bytes back;
    ASSERT_EQ(decompress_bytes(CompressMethod::lz, stream, back), CompressStatus::ok);
    EXPECT_EQ(back, in);
}

// The coder keeps its hash tables from call to call and clears only what a
// block set: nothing of an earlier input may reach the next one.
TEST(Lz, AnEarlierInputLeavesNoTraceInTheNextOnesCoding) {
    Bytes small(4000);
    for (size_t i = 0; i < small.size(); ++i) small[i] = u8("lorem ipsum dolor "[i % 18] + i / 700);
    Bytes first = lz_of(small);
    // Inputs of both clearing ways: slot by slot, and the whole tables.
    for (size_t n : {size_t{3000}, size_t{300000}, size_t{1100000}}) {
        Bytes other(n);
        for (size_t i = 0; i < n; ++i) other[i] = u8("lorem ipsum dolor "[(i * 7) % 18] ^ (i >> 9));
        Bytes packed = lz_of(other), back;
        ASSERT_EQ(decompress_bytes(CompressMethod::lz, packed, back), CompressStatus::ok);
        EXPECT_EQ(back, other);
        EXPECT_EQ(lz_of(small), first) << "after an input of " << n << " bytes";
    }
}

TEST(Lz, DecodesHandMadeStreams) {
    Bytes out;
    // P 0: nothing at all.
    EXPECT_EQ(lz_decompress(Bytes{0, 0, 0, 0, 0, 0, 0, 0}, out), CompressStatus::ok);
    EXPECT_TRUE(out.empty());
    // One literal, then ten bytes from one back.
    Bytes s = lz_stream(11, 11, [](BitWriter& w) {
        literal(w, 'x');
        w.put(1, 1);
        w.put(2, 2);  // prefix 0 1: 4 + 2 bits
        w.put(3, 2);  // v 7: 10 bytes
        w.put(0, 4);
        w.put(0, 3);
    });
    ASSERT_EQ(lz_decompress(s, out), CompressStatus::ok);
    EXPECT_EQ(out, filled(11, 'x'));
    // Bytes after the stream's recorded extent are not looked at.
    s.insert(s.end(), {0xDE, 0xAD});
    ASSERT_EQ(lz_decompress(s, out), CompressStatus::ok);
    EXPECT_EQ(out, filled(11, 'x'));
    // Two one-byte blocks: the second starts two bytes after the first,
    // although the reader had fetched further ahead.
    Bytes two{12, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0xC2, 0, 1, 0, 0, 0, 0xC4, 0};
    ASSERT_EQ(lz_decompress(two, out), CompressStatus::ok);
    EXPECT_EQ(out, (Bytes{'a', 'b'}));
}

struct BadLz {
    const char* name;
    Bytes stream;
    CompressStatus status;
};

std::vector<BadLz> bad_lz_streams() {
    auto abc = [](BitWriter& w) { literal(w, 'a'); literal(w, 'b'); literal(w, 'c'); };
    std::vector<BadLz> v;
    v.push_back({"short_head", Bytes{0, 0, 0, 0, 0, 0, 0}, CompressStatus::truncated});
    v.push_back({"size_without_blocks", Bytes{0, 0, 0, 0, 5, 0, 0, 0}, CompressStatus::bad_size});
    v.push_back({"block_length_0", lz_stream(0, 3, abc), CompressStatus::corrupt});
    v.push_back({"block_length_over_1m", lz_stream(0x100001, 0x100001, abc), CompressStatus::corrupt});
    v.push_back({"block_longer_than_size", lz_stream(3, 2, abc), CompressStatus::bad_size});
    v.push_back({"size_larger_than_data", lz_stream(3, 4, abc), CompressStatus::bad_size});
    v.push_back({"copy_before_block_start",
                 lz_stream(5, 5, [](BitWriter& w) { literal(w, 'a'); short_match(w, 4, 2); }),
                 CompressStatus::corrupt});
    v.push_back({"copy_past_block_end",
                 lz_stream(4, 4, [](BitWriter& w) { literal(w, 'a'); short_match(w, 4, 1); }),
                 CompressStatus::corrupt});
    v.push_back({"bits_run_out", lz_stream(9, 9, abc), CompressStatus::truncated});
    Bytes lying_p = lz_stream(3, 3, abc);
    store_le32(lying_p.data(), u32(lying_p.size()));  // 8 more than there are
    v.push_back({"packed_size_past_input", lying_p, CompressStatus::truncated});
    Bytes short_p = lz_stream(3, 3, abc);
    store_le32(short_p.data(), 5);  // ends inside the first block
    v.push_back({"packed_size_inside_block", short_p, CompressStatus::truncated});
    return v;
}

TEST(Lz, InvalidStreamsAreErrors) {
    for (const BadLz& bad : bad_lz_streams()) {
        SCOPED_TRACE(bad.name);
        Bytes out{1};
        EXPECT_EQ(decompress_bytes(CompressMethod::lz, bad.stream, out), bad.status);
        EXPECT_TRUE(out.empty());
    }
}

TEST(Lz, RecordedSizesAreCheckedNotTrusted) {
    Bytes in = text_like(300000, 36);
    Bytes stream = lz_of(in);
    Bytes out;
    for (u32 unpacked : {u32(in.size() - 1), u32(in.size() + 1), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(unpacked);
        Bytes bad = stream;
        store_le32(bad.data() + 4, unpacked);
        // A limit above every 32-bit size: the claim alone must not make the
        // decoder allocate gigabytes.
        EXPECT_EQ(lz_decompress(bad, out, size_t{1} << 33), CompressStatus::bad_size);
        EXPECT_TRUE(out.empty());
    }
    // Above the caller's limit: refused before decoding.
    EXPECT_EQ(lz_decompress(stream, out, in.size() - 1), CompressStatus::too_large);
    EXPECT_EQ(lz_decompress(stream, out, in.size()), CompressStatus::ok);
    EXPECT_EQ(out, in);
}

}  // namespace
}  // namespace zan::test
