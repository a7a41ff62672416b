// The zlib and gzip framings: headers, trailers, the checks made on them,
// and sizes recorded in the stream that disagree with the data.
#include <gtest/gtest.h>

#include "runtime/io/compress/codec_internal.h"
#include "compress/compress_support.h"

namespace zan::test {
namespace {

using compress_detail::crc32_of;
using compress_detail::store_le32;

Bytes framed(CompressMethod m, const Bytes& in) {
    Bytes out;
    EXPECT_EQ(compress_bytes(m, in, out), CompressStatus::ok);
    return out;
}

CompressStatus unframe(CompressMethod m, const Bytes& stream, Bytes& out) {
    return decompress_bytes(m, stream, out);
}

const Bytes kText = text_like(3000, 21);

TEST(Zlib, HeaderAndAdlerTrailer) {
    Bytes z = framed(CompressMethod::zlib, kText);
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[1], 0x01);
    u32 adler = compress_detail::adler32_of(kText.data(), kText.size());
    EXPECT_EQ(compress_detail::load_be32(z.data() + z.size() - 4), adler);
    Bytes raw = framed(CompressMethod::deflate, kText);
    EXPECT_EQ(Bytes(z.begin() + 2, z.end() - 4), raw);
}

TEST(Zlib, HeaderChecks) {
    struct Case { u8 cmf, flg; CompressStatus expected; };
    const Case cases[] = {
        {0x78, 0x01, CompressStatus::ok},
        {0x78, 0x9C, CompressStatus::ok},          // level bits are ignored
        {0x78, 0xDA, CompressStatus::ok},
        {0x78, 0x20, CompressStatus::bad_header},  // preset dictionary
        {0x78, 0x02, CompressStatus::bad_header},  // check bits wrong
        {0x79, 0x18, CompressStatus::bad_header},  // method 9
        {0x88, 0x1C, CompressStatus::bad_header},  // window above 32 KB
    };
    Bytes z = framed(CompressMethod::zlib, kText);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.cmf) << " " << int(c.flg));
        ASSERT_EQ((c.cmf * 256 + c.flg) % 31 == 0, c.flg != 0x02);
        z[0] = c.cmf;
        z[1] = c.flg;
        Bytes out;
        EXPECT_EQ(unframe(CompressMethod::zlib, z, out), c.expected);
        if (c.expected == CompressStatus::ok) {
            EXPECT_EQ(out, kText);
        }
    }
}

TEST(Zlib, TrailerFaults) {
    Bytes z = framed(CompressMethod::zlib, kText);
    Bytes out;
    Bytes bad = z;
    bad.back() ^= 1;
    EXPECT_EQ(unframe(CompressMethod::zlib, bad, out), CompressStatus::bad_checksum);
    EXPECT_TRUE(out.empty());
    bad = z;
    bad.pop_back();
    EXPECT_EQ(unframe(CompressMethod::zlib, bad, out), CompressStatus::truncated);
    bad = z;
    bad.push_back(0);
    EXPECT_EQ(unframe(CompressMethod::zlib, bad, out), CompressStatus::trailing_data);
    EXPECT_EQ(unframe(CompressMethod::zlib, Bytes{0x78}, out), CompressStatus::truncated);
    size_t size = 100;
    u8 buf[100];
    EXPECT_EQ(zlib_decompress(buf, size, bad.data(), 2), DEFLATE_TRUNCATED);
    bad = z;
    bad[0] = 0x77;
    size = 100;
    EXPECT_EQ(zlib_decompress(buf, size, bad.data(), bad.size()), DEFLATE_BAD_DATA);
}

TEST(Gzip, HeaderAndTrailer) {
    Bytes g = framed(CompressMethod::gzip, kText);
    const Bytes header = {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x04, 0x04};
    EXPECT_EQ(Bytes(g.begin(), g.begin() + 10), header);
    EXPECT_EQ(compress_detail::load_le32(g.data() + g.size() - 8), crc32_of(kText.data(), kText.size()));
    EXPECT_EQ(compress_detail::load_le32(g.data() + g.size() - 4), kText.size());
}

TEST(Gzip, DataThatLooksLikeGzipIsStillCompressed) {
    Bytes looks = {0x1F, 0x8B, 0x08};
    Bytes more = text_like(500, 22);
    looks.insert(looks.end(), more.begin(), more.end());
    for (const Bytes& in : {Bytes{0x1F, 0x8B, 0x08}, looks, framed(CompressMethod::gzip, kText)}) {
        Bytes g = framed(CompressMethod::gzip, in);
        EXPECT_NE(g, in);
        Bytes back;
        ASSERT_EQ(unframe(CompressMethod::gzip, g, back), CompressStatus::ok);
        EXPECT_EQ(back, in);
    }
}

// A member with every optional header field, built by hand.
Bytes member_with_fields(const Bytes& data, u8 flags, bool bad_hcrc = false) {
    Bytes m = {0x1F, 0x8B, 0x08, flags, 1, 2, 3, 4, 0x00, 0x03};
    if (flags & 0x04) {
        for (int b : {5, 0, int('A'), int('B'), 1, 0, 9}) m.push_back(u8(b));
    }
    if (flags & 0x08) {
        for (char c : std::string("name.txt")) m.push_back(u8(c));
        m.push_back(0);
    }
    if (flags & 0x10) {
        for (char c : std::string("a comment")) m.push_back(u8(c));
        m.push_back(0);
    }
    if (flags & 0x02) {
        u32 crc = crc32_of(m.data(), m.size()) ^ (bad_hcrc ? 1u : 0u);
        m.push_back(u8(crc));
        m.push_back(u8(crc >> 8));
    }
    Bytes body;
    compress_bytes(CompressMethod::deflate, data, body);
    m.insert(m.end(), body.begin(), body.end());
    u8 trailer[8];
    store_le32(trailer, crc32_of(data.data(), data.size()));
    store_le32(trailer + 4, u32(data.size()));
    m.insert(m.end(), trailer, trailer + 8);
    return m;
}

TEST(Gzip, OptionalHeaderFields) {
    struct Case { u8 flags; bool bad_hcrc; CompressStatus expected; };
    const Case cases[] = {
        {0x00, false, CompressStatus::ok},          {0x01, false, CompressStatus::ok},  // FTEXT
        {0x04, false, CompressStatus::ok},          {0x08, false, CompressStatus::ok},
        {0x10, false, CompressStatus::ok},          {0x02, false, CompressStatus::ok},
        {0x1F, false, CompressStatus::ok},          {0x1E, true, CompressStatus::bad_header},
        {0x20, false, CompressStatus::bad_header},  {0x80, false, CompressStatus::bad_header},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.flags));
        Bytes out;
        EXPECT_EQ(unframe(CompressMethod::gzip, member_with_fields(kText, c.flags, c.bad_hcrc), out),
                  c.expected);
        if (c.expected == CompressStatus::ok) {
            EXPECT_EQ(out, kText);
        }
    }
    // A name that runs to the end of the input.
    Bytes cut = {0x1F, 0x8B, 0x08, 0x08, 0, 0, 0, 0, 0, 3, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
    Bytes out;
    EXPECT_EQ(unframe(CompressMethod::gzip, cut, out), CompressStatus::truncated);
    // FEXTRA longer than the input.
    Bytes extra = {0x1F, 0x8B, 0x08, 0x04, 0, 0, 0, 0, 0, 3, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(unframe(CompressMethod::gzip, extra, out), CompressStatus::truncated);
}

TEST(Gzip, MembersAreConcatenated) {
    Bytes a = text_like(1000, 23), b = random_bytes(777, 24);
    Bytes g = framed(CompressMethod::gzip, a);
    Bytes gb = member_with_fields(b, 0x08);
    g.insert(g.end(), gb.begin(), gb.end());
    Bytes out;
    ASSERT_EQ(unframe(CompressMethod::gzip, g, out), CompressStatus::ok);
    Bytes ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    EXPECT_EQ(out, ab);
    // Foreign bytes after a member are an error, a cut second member too.
    Bytes junk = framed(CompressMethod::gzip, a);
    junk.push_back('x');
    EXPECT_EQ(unframe(CompressMethod::gzip, junk, out), CompressStatus::bad_header);
    junk.back() = 0x1F;
    EXPECT_EQ(unframe(CompressMethod::gzip, junk, out), CompressStatus::truncated);
}

TEST(Gzip, RecordedSizeMustMatchTheData) {
    Bytes g = framed(CompressMethod::gzip, kText);
    Bytes out;
    for (u32 isize : {u32(kText.size() + 1), u32(kText.size() - 1), 0xFFFFFFFFu, 0u}) {
        SCOPED_TRACE(isize);
        Bytes bad = g;
        store_le32(bad.data() + bad.size() - 4, isize);
        EXPECT_EQ(unframe(CompressMethod::gzip, bad, out), CompressStatus::bad_size);
        EXPECT_TRUE(out.empty());
        // The size pass of the buffer form checks the data too, so a lying
        // size never reaches an allocation.
        size_t size = 0;
        EXPECT_EQ(gzip_decompress(nullptr, size, bad.data(), bad.size()), DEFLATE_BAD_DATA);
    }
    Bytes bad = g;
    bad[bad.size() - 8] ^= 0x40;
    EXPECT_EQ(unframe(CompressMethod::gzip, bad, out), CompressStatus::bad_checksum);
}

TEST(Gzip, ShortOrForeignInput) {
    Bytes out;
    EXPECT_EQ(unframe(CompressMethod::gzip, Bytes{}, out), CompressStatus::truncated);
    EXPECT_EQ(unframe(CompressMethod::gzip, Bytes{0x1F, 0x8B}, out), CompressStatus::truncated);
    EXPECT_EQ(unframe(CompressMethod::gzip, Bytes{0x1F, 0x8C, 0x08, 0, 0, 0, 0, 0, 0, 0, 3, 0},
                      out),
              CompressStatus::bad_header);
    Bytes g = framed(CompressMethod::gzip, Bytes{});
    EXPECT_EQ(g.size(), 20u);
    g[2] = 0x07;
    EXPECT_EQ(unframe(CompressMethod::gzip, g, out), CompressStatus::bad_header);
}

TEST(Gzip, OutputLimitIsEnforced) {
    Bytes in = filled(50000, 1);
    Bytes g = framed(CompressMethod::gzip, in);
    Bytes out;
    EXPECT_EQ(decompress_bytes(CompressMethod::gzip, g, out, 49999), CompressStatus::too_large);
    EXPECT_EQ(decompress_bytes(CompressMethod::gzip, g, out, 50000), CompressStatus::ok);
}

}  // namespace
}  // namespace zan::test
