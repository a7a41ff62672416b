// The deflate compressor's coding choices, the inflater's handling of every
// block type and of invalid streams, and the result codes of the buffer
// routines.
#include <gtest/gtest.h>

#include "runtime/io/compress/codec_internal.h"
#include "compress/compress_support.h"

namespace zan::test {
namespace {

Bytes deflate_of(const Bytes& in, int level = COMPRESS_LEVEL_DEFAULT) {
    Bytes out;
    EXPECT_EQ(compress_bytes(CompressMethod::deflate, in, out, level), CompressStatus::ok);
    return out;
}

CompressStatus inflate(const Bytes& stream, Bytes& out, size_t limit = DECOMPRESS_DEFAULT_LIMIT) {
    return decompress_bytes(CompressMethod::deflate, stream, out, limit);
}

TEST(Deflate, EmptyInputIsOneFixedBlockWithOnlyTheEndCode) {
    EXPECT_EQ(deflate_of({}), (Bytes{0x03, 0x00}));
}

TEST(Deflate, EqualBytesBecomeThreeLiteralsThenMatches) {
    Bytes in = filled(300, 'a');
    std::vector<Symbol> expected = {lit('a'), lit('a'), lit('a'), copy(258, 1), copy(39, 258)};
    EXPECT_EQ(fixed_block_symbols(deflate_of(in)), expected);
}

TEST(Deflate, PositionZeroIsNeverAMatchSource) {
    // "abcabc...": the table slot value 0 means empty, so the "abc" at 3
    // finds nothing and the first match starts at 4, from position 1.
    Bytes in;
    for (int i = 0; i < 30; ++i) in.push_back(u8("abc"[i % 3]));
    std::vector<Symbol> expected = {lit('a'), lit('b'), lit('c'), lit('a'), copy(26, 3)};
    EXPECT_EQ(fixed_block_symbols(deflate_of(in)), expected);
}

TEST(Deflate, MatchesStayInsideTheWindowAndTheLengthLimit) {
    Bytes in = text_like(200000, 11);
    size_t pos = 0;
    for (const Symbol& s : fixed_block_symbols(deflate_of(in))) {
        if (s.match) {
            EXPECT_GE(s.value, 3u);
            EXPECT_LE(s.value, 258u);
            EXPECT_LT(s.distance, 0x8000u);
            ASSERT_LE(s.distance, pos);
            for (u32 i = 0; i < s.value; ++i) ASSERT_EQ(in[pos + i], in[pos + i - s.distance]);
            pos += s.value;
        } else {
            ASSERT_EQ(s.value, in[pos]);
            ++pos;
        }
    }
    EXPECT_EQ(pos, in.size());
}

TEST(Deflate, LevelZeroWritesStoredBlocks) {
    Bytes in = random_bytes(70000, 12);
    Bytes stream = deflate_of(in, COMPRESS_LEVEL_STORE);
    // Two blocks (65535 + 4465 bytes), each with a 5-byte header.
    EXPECT_EQ(stream.size(), in.size() + 10);
    EXPECT_EQ(stream[0], 0x00);  // not final, stored
    Bytes back;
    ASSERT_EQ(inflate(stream, back), CompressStatus::ok);
    EXPECT_EQ(back, in);
    EXPECT_EQ(deflate_of({}, 0), (Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF}));
}

TEST(Deflate, LevelOutOfRangeIsRefused) {
    Bytes out{1, 2, 3};
    EXPECT_EQ(compress_bytes(CompressMethod::zlib, Bytes{1}, out, 10), CompressStatus::invalid_level);
    EXPECT_EQ(compress_bytes(CompressMethod::gzip, Bytes{1}, out, -1), CompressStatus::invalid_level);
    EXPECT_TRUE(out.empty());
}

// Hand-made streams, bits least significant first; Huffman codes go out
// most significant bit first.
struct StreamWriter {
    Bytes buf;
    size_t bit = 0;
    StreamWriter& bits(u32 v, unsigned k) {
        for (unsigned i = 0; i < k; ++i, ++bit) {
            if (bit % 8 == 0) buf.push_back(0);
            buf.back() |= u8(((v >> i) & 1) << (bit % 8));
        }
        return *this;
    }
    StreamWriter& code(u32 c, unsigned len) {
        for (unsigned i = len; i-- > 0;) bits((c >> i) & 1, 1);
        return *this;
    }
    // Fixed-code literal/length symbol and distance symbol.
    StreamWriter& sym(u32 s) {
        if (s < 144) return code(0x30 + s, 8);
        if (s < 256) return code(0x190 + s - 144, 9);
        if (s < 280) return code(s - 256, 7);
        return code(0xC0 + s - 280, 8);
    }
    StreamWriter& dist(u32 d) { return code(d, 5); }
    // Whole bytes, after padding the pending bits to the byte.
    StreamWriter& bytes(std::initializer_list<u8> bs) {
        bit = buf.size() * 8;
        for (u8 b : bs) bits(b, 8);
        return *this;
    }
    Bytes done() const { return buf; }
};

StreamWriter fixed_header() { return StreamWriter().bits(1, 1).bits(1, 2); }

// A dynamic block header with HLIT 257 and HDIST 1 whose code-length code
// gives symbol 1 a 1-bit code and symbols 0 and 18 2-bit codes; `body` then
// writes the 258 code lengths with it (1 = "0", 0 = "10", 18 = "11").
StreamWriter dynamic_header() {
    StreamWriter s;
    s.bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(15, 4);  // HCLEN 19
    static const u8 kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (u8 sym : kOrder) s.bits(sym == 1 ? 1 : (sym == 0 || sym == 18) ? 2 : 0, 3);
    return s;
}

struct BadStream {
    const char* name;
    Bytes stream;
    int code;  // inflate_decompress result
    CompressStatus status;
};

std::vector<BadStream> bad_streams() {
    std::vector<BadStream> v;
    v.push_back({"empty_input", {}, DEFLATE_TRUNCATED, CompressStatus::truncated});
    v.push_back({"literal_length_286", fixed_header().sym('a').sym(286).sym(256).done(),
                 DEFLATE_BAD_CODE, CompressStatus::corrupt});
    v.push_back({"literal_length_287", fixed_header().sym('a').sym(287).sym(256).done(),
                 DEFLATE_BAD_CODE, CompressStatus::corrupt});
    v.push_back({"distance_30", fixed_header().sym('a').sym(257).dist(30).sym(256).done(),
                 DEFLATE_BAD_CODE, CompressStatus::corrupt});
    v.push_back({"distance_31", fixed_header().sym('a').sym(257).dist(31).sym(256).done(),
                 DEFLATE_BAD_CODE, CompressStatus::corrupt});
    v.push_back({"block_type_3", StreamWriter().bits(1, 1).bits(3, 2).done(),
                 DEFLATE_BAD_BLOCK_TYPE, CompressStatus::corrupt});
    v.push_back({"distance_before_start", fixed_header().sym('a').sym('b').sym(257).dist(2).sym(256).done(),
                 DEFLATE_BAD_DISTANCE, CompressStatus::corrupt});
    v.push_back({"stored_longer_than_input",
                 StreamWriter().bits(1, 1).bits(0, 2).bytes({10, 0, 0xF5, 0xFF, 1, 2, 3}).done(),
                 DEFLATE_STORED_OVERRUN, CompressStatus::truncated});
    v.push_back({"stored_bad_nlen",
                 StreamWriter().bits(1, 1).bits(0, 2).bytes({3, 0, 0xFC, 0xFE, 1, 2, 3}).done(),
                 DEFLATE_BAD_CODE, CompressStatus::corrupt});
    v.push_back({"stored_header_cut", StreamWriter().bits(1, 1).bits(0, 2).bytes({3, 0}).done(),
                 DEFLATE_TRUNCATED, CompressStatus::truncated});
    v.push_back({"no_final_block", StreamWriter().bits(0, 1).bits(1, 2).sym('a').sym(256).done(),
                 DEFLATE_TRUNCATED, CompressStatus::truncated});
    v.push_back({"end_code_cut", Bytes{0x03}, DEFLATE_TRUNCATED, CompressStatus::truncated});
    v.push_back({"trailing_byte", Bytes{0x03, 0x00, 0x00}, DEFLATE_BAD_DATA, CompressStatus::trailing_data});
    v.push_back({"hlit_287", StreamWriter().bits(1, 1).bits(2, 2).bits(30, 5).bits(0, 5).bits(0, 4).done(),
                 DEFLATE_BAD_CODE, CompressStatus::corrupt});
    v.push_back({"hdist_31", StreamWriter().bits(1, 1).bits(2, 2).bits(0, 5).bits(30, 5).bits(0, 4).done(),
                 DEFLATE_BAD_CODE, CompressStatus::corrupt});
    {
        // Every code-length code one bit long: over-subscribed.
        StreamWriter s;
        s.bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(15, 4);
        for (int i = 0; i < 19; ++i) s.bits(1, 3);
        v.push_back({"oversubscribed_lengths", s.done(), DEFLATE_BAD_CODE, CompressStatus::corrupt});
    }
    {
        // A single 2-bit code-length code: incomplete.
        StreamWriter s;
        s.bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(0, 4);
        s.bits(0, 3).bits(0, 3).bits(0, 3).bits(2, 3);  // symbols 16, 17, 18, 0
        v.push_back({"incomplete_lengths", s.done(), DEFLATE_BAD_CODE, CompressStatus::corrupt});
    }
    {
        // Code lengths that give no code to the end-of-block symbol 256:
        // literals 0 and 1 one bit each, then 256 zeros.
        StreamWriter s = dynamic_header();
        s.code(0, 1).code(0, 1).code(3, 2).bits(127, 7).code(3, 2).bits(107, 7);
        v.push_back({"no_end_of_block_code", s.done(), DEFLATE_BAD_CODE, CompressStatus::corrupt});
    }
    {
        // Code lengths overrunning HLIT + HDIST: 2 + 138 + 138 zeros > 258.
        StreamWriter s = dynamic_header();
        s.code(0, 1).code(0, 1).code(3, 2).bits(127, 7).code(3, 2).bits(127, 7);
        v.push_back({"lengths_overrun", s.done(), DEFLATE_BAD_CODE, CompressStatus::corrupt});
    }
    return v;
}

TEST(Inflate, InvalidStreamsAreErrors) {
    for (const BadStream& bad : bad_streams()) {
        SCOPED_TRACE(bad.name);
        Bytes out;
        EXPECT_EQ(inflate(bad.stream, out), bad.status);
        EXPECT_TRUE(out.empty());
        u8 buf[64];
        size_t size = sizeof buf;
        EXPECT_EQ(inflate_decompress(buf, size, bad.stream.data(), bad.stream.size()), bad.code);
    }
}

// A final dynamic block with HLIT 257, HDIST 1 and all 19 code-length
// codes: literal 'A' and the end code one bit each, no distance code at all.
// A valid, if unusual, block that decodes to `count` times "A".
void single_literal_block(StreamWriter& s, int count = 3) {
    s.bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(15, 4);
    static const u8 kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    // Code-length code: 0 -> "0", 1 -> "10", 18 -> "11".
    for (u8 sym : kOrder) s.bits(sym == 0 ? 1 : (sym == 1 || sym == 18) ? 2 : 0, 3);
    s.code(3, 2).bits(65 - 11, 7);   // 65 zeros
    s.code(2, 2);                    // 'A': length 1
    s.code(3, 2).bits(138 - 11, 7);  // 66..203
    s.code(3, 2).bits(52 - 11, 7);   // 204..255
    s.code(2, 2);                    // 256: length 1
    s.code(0, 1);                    // no distance code
    for (int i = 0; i < count; ++i) s.code(0, 1);  // 'A'
    s.code(1, 1);                                  // end
}

TEST(Inflate, DynamicBlockWithSingleLiteralCodeAndNoDistances) {
    StreamWriter s;
    single_literal_block(s);
    Bytes out;
    ASSERT_EQ(inflate(s.done(), out), CompressStatus::ok);
    EXPECT_EQ(out, (Bytes{'A', 'A', 'A'}));
}

TEST(Inflate, DynamicHeaderAtEveryBitAlignment) {
    // The 57 bits of 19 code-length code lengths read from every bit offset
    // (with enough input after them for the reader's 8-byte loads): a first
    // fixed block of j 9-bit literals moves the second block's header by j
    // bits.
    for (unsigned j = 0; j < 8; ++j) {
        SCOPED_TRACE(j);
        StreamWriter s;
        s.bits(0, 1).bits(1, 2);
        for (unsigned i = 0; i < j; ++i) s.sym(200);
        s.sym(256);
        single_literal_block(s, 200);
        Bytes out;
        ASSERT_EQ(inflate(s.done(), out), CompressStatus::ok);
        Bytes expected(j, 200);
        expected.insert(expected.end(), 200, 'A');
        EXPECT_EQ(out, expected);
    }
}

TEST(Inflate, OverlappingCopyRepeatsTheLastBytes) {
    Bytes out;
    Bytes stream = fixed_header().sym('x').sym('y').sym(263).dist(1).sym(256).done();
    // length symbol 263 = 9 bytes, distance symbol 1 = 2 bytes back
    ASSERT_EQ(inflate(stream, out), CompressStatus::ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "xyxyxyxyxyx");
}

TEST(Inflate, StoredFixedAndEmptyBlocksInOneStream) {
    StreamWriter s;
    s.bits(0, 1).bits(0, 2).bytes({2, 0, 0xFD, 0xFF, 'h', 'i'});
    s.bits(0, 1).bits(0, 2).bytes({0, 0, 0xFF, 0xFF});
    s.bits(1, 1).bits(1, 2).sym('!').sym(257).dist(0).sym(256);
    Bytes out;
    ASSERT_EQ(inflate(s.done(), out), CompressStatus::ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), "hi!!!!");
}

TEST(Inflate, OutputLimitIsEnforced) {
    Bytes in = filled(100000, 7);
    Bytes stream = deflate_of(in);
    Bytes out;
    EXPECT_EQ(inflate(stream, out, 99999), CompressStatus::too_large);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(inflate(stream, out, 100000), CompressStatus::ok);
    EXPECT_EQ(out, in);
}

TEST(BufferRoutines, CompressorsReportTheSizeTheyNeed) {
    Bytes in = text_like(5000, 13);
    using Fn = int (*)(u8*, size_t&, const u8*, size_t);
    struct Case { const char* name; Fn fn; CompressMethod method; size_t framing; };
    for (const Case& c : {Case{"deflate", deflate_compress, CompressMethod::deflate, 0},
                          Case{"zlib", zlib_compress, CompressMethod::zlib, 6},
                          Case{"gzip", gzip_compress, CompressMethod::gzip, 18}}) {
        SCOPED_TRACE(c.name);
        Bytes expected;
        compress_bytes(c.method, in, expected);
        Bytes buf(c.framing + 1);
        size_t size = buf.size();
        ASSERT_EQ(c.fn(buf.data(), size, in.data(), in.size()), DEFLATE_NO_ROOM);
        EXPECT_EQ(size, expected.size());
        buf.assign(size, 0);
        ASSERT_EQ(c.fn(buf.data(), size, in.data(), in.size()), DEFLATE_OK);
        EXPECT_EQ(buf, expected);
    }
    size_t size = 5;
    EXPECT_EQ(zlib_compress(nullptr, size, in.data(), in.size()), DEFLATE_BAD_DATA);
    EXPECT_EQ(size, in.size() + 6);
    size = 17;
    Bytes small(17);
    EXPECT_EQ(gzip_compress(small.data(), size, in.data(), in.size()), DEFLATE_BAD_DATA);
    EXPECT_EQ(size, in.size() + 18);
}

TEST(BufferRoutines, DecompressorsSizePassReportsTheTrueSize) {
    Bytes in = text_like(20000, 14);
    using Fn = int (*)(u8*, size_t&, const u8*, size_t);
    struct Case { const char* name; Fn fn; CompressMethod method; };
    for (const Case& c : {Case{"inflate", inflate_decompress, CompressMethod::deflate},
                          Case{"zlib", zlib_decompress, CompressMethod::zlib},
                          Case{"gzip", gzip_decompress, CompressMethod::gzip}}) {
        SCOPED_TRACE(c.name);
        Bytes stream;
        compress_bytes(c.method, in, stream);
        size_t size = 0;
        ASSERT_EQ(c.fn(nullptr, size, stream.data(), stream.size()), DEFLATE_NO_ROOM);
        ASSERT_EQ(size, in.size());
        Bytes out(size);
        ASSERT_EQ(c.fn(out.data(), size, stream.data(), stream.size()), DEFLATE_OK);
        EXPECT_EQ(out, in);
    }
}

}  // namespace
}  // namespace zan::test
