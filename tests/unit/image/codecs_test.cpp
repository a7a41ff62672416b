// The codecs on memory: signatures, round trips of every format, and the
// refusal of sizes a header claims beyond the limits or beyond what its
// data can describe, of damaged bytes and of unknown format numbers.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/image/codecs.h"
#include "runtime/image/image_store.h"

namespace zan {
namespace {

std::vector<u8> bytes(const std::string& s) { return {s.begin(), s.end()}; }

void put_le16(std::vector<u8>& b, size_t at, u32 v) {
    for (int i = 0; i < 2; i++) b[at + i] = static_cast<u8>(v >> (8 * i));
}
void put_le32(std::vector<u8>& b, size_t at, u32 v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<u8>(v >> (8 * i));
}
void put_be32(std::vector<u8>& b, size_t at, u32 v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<u8>(v >> (24 - 8 * i));
}
void append(std::vector<u8>& b, const std::vector<u8>& more) { b.insert(b.end(), more.begin(), more.end()); }

// A PNG chunk with its CRC.
std::vector<u8> png_chunk(const char* type, const std::vector<u8>& data) {
    std::vector<u8> c(8);
    put_be32(c, 0, static_cast<u32>(data.size()));
    std::memcpy(c.data() + 4, type, 4);
    append(c, data);
    c.resize(c.size() + 4);
    put_be32(c, c.size() - 4, static_cast<u32>(crc32(0, c.data() + 4, static_cast<uInt>(data.size() + 4))));
    return c;
}

// A PNG of w x h grey samples of the given depth, all 0, its image data
// compressed as tightly as zlib can (or replaced by `idat` when given).
std::vector<u8> grey_png(u32 w, u32 h, u32 depth, const std::vector<u8>* idat = nullptr) {
    std::vector<u8> png = bytes("\x89PNG\r\n\x1a\n");
    std::vector<u8> ihdr(13);
    put_be32(ihdr, 0, w);
    put_be32(ihdr, 4, h);
    ihdr[8] = static_cast<u8>(depth);
    append(png, png_chunk("IHDR", ihdr));
    std::vector<u8> data;
    if (idat) {
        data = *idat;
    } else {
        std::vector<u8> raw(size_t(h) * (1 + (size_t(w) * depth + 7) / 8), 0);
        uLongf len = compressBound(static_cast<uLong>(raw.size()));
        data.resize(len);
        EXPECT_EQ(compress2(data.data(), &len, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
        data.resize(len);
    }
    append(png, png_chunk("IDAT", data));
    append(png, png_chunk("IEND", {}));
    return png;
}

// A GIF whose screen is sw x sh around a 1 x 1 frame of colour index 0
// (black) at the top left.
std::vector<u8> gif_screen(u32 sw, u32 sh) {
    std::vector<u8> g(std::vector<u8>{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0x80, 0, 0,
                                      0, 0, 0, 0xFF, 0xFF, 0xFF,  // two colours
                                      0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0,
                                      2, 2, 0x44, 0x01, 0, 0x3B});
    put_le16(g, 6, sw);
    put_le16(g, 8, sh);
    return g;
}

// An 8-bit run-length BMP of w x h with two colours (0 red, 1 white) and
// the given run data.
std::vector<u8> rle_bmp(u32 w, u32 h, const std::vector<u8>& runs) {
    std::vector<u8> b(14 + 40 + 8, 0);
    b[0] = 'B', b[1] = 'M';
    put_le32(b, 2, static_cast<u32>(b.size() + runs.size()));
    put_le32(b, 10, static_cast<u32>(b.size()));
    put_le32(b, 14, 40);
    put_le32(b, 18, w);
    put_le32(b, 22, h);
    put_le16(b, 26, 1);
    put_le16(b, 28, 8);
    put_le32(b, 30, 1);
    put_le32(b, 34, static_cast<u32>(runs.size()));
    put_le32(b, 46, 2);
    const u8 palette[8] = {0, 0, 255, 0, 255, 255, 255, 0};
    std::memcpy(b.data() + 54, palette, 8);
    append(b, runs);
    return b;
}

// A little-endian TIFF of one strip: w x h grey samples of `bits`, the
// strip `data` bytes long and claimed to be `claimed` bytes.
std::vector<u8> grey_tiff(u32 w, u32 h, u32 bits, u32 compression, u32 data, u32 claimed) {
    struct Entry {
        u16 tag, type;
        u32 value;
    };
    const Entry entries[] = {{256, 4, w},   {257, 4, h},    {258, 3, bits}, {259, 3, compression},
                             {262, 3, 1},   {273, 4, 0},    {277, 3, 1},    {278, 4, h},
                             {279, 4, claimed}};
    const size_t count = sizeof entries / sizeof entries[0];
    std::vector<u8> t(8 + 2 + count * 12 + 4, 0);
    t[0] = t[1] = 'I', t[2] = 42;
    put_le32(t, 4, 8);
    put_le16(t, 8, count);
    for (size_t i = 0; i < count; i++) {
        size_t at = 10 + i * 12;
        put_le16(t, at, entries[i].tag);
        put_le16(t, at + 2, entries[i].type);
        put_le32(t, at + 4, 1);
        u32 v = entries[i].tag == 273 ? static_cast<u32>(t.size()) : entries[i].value;
        if (entries[i].type == 3) put_le16(t, at + 8, v);
        else put_le32(t, at + 8, v);
    }
    t.resize(t.size() + data, 0);
    return t;
}

// The process's resident memory in bytes.
size_t resident() {
    long pages = 0, total = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%ld %ld", &total, &pages) != 2) pages = 0;
        std::fclose(f);
    }
    return static_cast<size_t>(pages) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(ImageCodecs, SignaturesNeedAllTheirBytes) {
    struct Case {
        std::string data;
        i32 format;
    };
    const Case cases[] = {
        {"\x89PNG\r\n", IMG_PNG}, {"\x89PN", -1},          {"\xFF\xD8\xFF\xE0", IMG_JPEG},
        {"\xFF\xD8", -1},         {"BM", IMG_BMP},         {"B", -1},
        {"GIF87a", IMG_GIF},      {"GIF89a", IMG_GIF},     {"GIF88a", -1},
        {"GIF8", -1},             {std::string("II*\0", 4), IMG_TIFF},
        {std::string("MM\0*", 4), IMG_TIFF},               {std::string("II*", 3), -1},
        {"", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        auto b = bytes(c.data);
        EXPECT_EQ(image_format_of(b.data(), b.size()), c.format);
    }
}

// A 5x3 picture with every alpha kind: opaque, clear and half.
std::vector<u32> picture() {
    std::vector<u32> px;
    for (u32 i = 0; i < 15; i++) {
        u32 a = i % 3 == 0 ? 255 : i % 3 == 1 ? 0 : 128;
        px.push_back((a << 24) | ((i * 17) << 16) | ((255 - i * 13) << 8) | (i * 5));
    }
    return px;
}

TEST(ImageCodecs, LosslessFormatsRoundTripEveryPixel) {
    auto px = picture();
    for (i32 format : {IMG_PNG, IMG_BMP, IMG_TIFF}) {
        SCOPED_TRACE(format);
        std::vector<u8> file;
        ASSERT_TRUE(image_encode(px.data(), 5, 3, format, file));
        DecodedImage d;
        ASSERT_TRUE(image_decode(file.data(), file.size(), d));
        ASSERT_EQ(d.width, 5u);
        ASSERT_EQ(d.height, 3u);
        EXPECT_EQ(std::vector<u32>(d.words, d.words + 15), px);
    }
}

TEST(ImageCodecs, GifKeepsColoursAndMakesLowAlphaTransparent) {
    auto px = picture();
    std::vector<u8> file;
    ASSERT_TRUE(image_encode(px.data(), 5, 3, IMG_GIF, file));
    DecodedImage d;
    ASSERT_TRUE(image_decode(file.data(), file.size(), d));
    for (u32 i = 0; i < 15; i++) {
        SCOPED_TRACE(i);
        if ((px[i] >> 24) < 128) {
            EXPECT_EQ(d.words[i] >> 24, 0u);
        } else {
            EXPECT_EQ(d.words[i], px[i] | 0xFF000000u);
        }
    }
}

TEST(ImageCodecs, JpegStaysCloseOnASmoothPicture) {
    std::vector<u32> px;
    for (u32 y = 0; y < 16; y++)
        for (u32 x = 0; x < 16; x++) px.push_back(0xFF000000u | (x * 16 << 16) | (y * 16 << 8) | 128);
    std::vector<u8> file;
    ASSERT_TRUE(image_encode(px.data(), 16, 16, IMG_JPEG, file));
    DecodedImage d;
    ASSERT_TRUE(image_decode(file.data(), file.size(), d));
    int worst = 0;
    for (size_t i = 0; i < px.size(); i++)
        for (int s = 0; s < 24; s += 8)
            worst = std::max(worst, std::abs(int((px[i] >> s) & 255) - int((d.words[i] >> s) & 255)));
    EXPECT_LE(worst, 8);
    EXPECT_EQ(d.words[0] >> 24, 255u);
}

TEST(ImageCodecs, AnUnknownFormatNumberEncodesNothing) {
    auto px = picture();
    std::vector<u8> file;
    EXPECT_FALSE(image_encode(px.data(), 5, 3, 5, file));
    EXPECT_FALSE(image_encode(px.data(), 5, 3, -1, file));
}

// Headers claiming sides above 65535 or more pixels than the cap are
// refused before any pixel memory is taken.
TEST(ImageCodecs, HugeClaimedSizesAreRefused) {
    auto le32 = [](std::vector<u8>& b, size_t at, u32 v) {
        for (int i = 0; i < 4; i++) b[at + i] = static_cast<u8>(v >> (8 * i));
    };
    auto px = picture();
    std::vector<u8> bmp;
    ASSERT_TRUE(image_encode(px.data(), 5, 3, IMG_BMP, bmp));
    for (u32 w : {70000u, 0x7FFFFFFFu}) {
        auto b = bmp;
        le32(b, 18, w);
        DecodedImage d;
        EXPECT_FALSE(image_decode(b.data(), b.size(), d)) << w;
        EXPECT_EQ(d.words, nullptr);
    }
    // A PNG whose header says 65000 x 65000 (its CRC made right).
    std::vector<u8> png;
    ASSERT_TRUE(image_encode(px.data(), 5, 3, IMG_PNG, png));
    DecodedImage d;
    std::vector<u8> big = png;
    for (int i = 0; i < 2; i++) put_be32(big, 16 + 4 * i, 65000);
    put_be32(big, 29, static_cast<u32>(crc32(0, big.data() + 12, 17)));
    EXPECT_FALSE(image_decode(big.data(), big.size(), d));
    EXPECT_EQ(d.words, nullptr);
    // A GIF whose first frame claims more than its 5 x 3 screen.
    std::vector<u8> gif;
    ASSERT_TRUE(image_encode(px.data(), 5, 3, IMG_GIF, gif));
    size_t desc = 13 + 768;
    while (desc + 9 < gif.size() && !(gif[desc] == 0x2C && gif[desc + 1] == 0 && gif[desc + 3] == 0))
        desc++;
    ASSERT_LT(desc + 9, gif.size());
    gif[desc + 5] = 0x60, gif[desc + 6] = 0xEA;  // width 60000
    EXPECT_FALSE(image_decode(gif.data(), gif.size(), d));
    EXPECT_EQ(d.words, nullptr);
    EXPECT_FALSE(d.allocate(65536, 1));
    EXPECT_FALSE(d.allocate(65535, 65535));  // beyond the pixel cap
    EXPECT_FALSE(d.allocate_clear(16385, 16384));
    EXPECT_TRUE(d.allocate(65535, 1));
}

// Files of a few dozen bytes whose headers claim more than their data can
// describe: each is refused before any pixel memory is taken.
TEST(ImageCodecs, HeadersClaimingMoreThanTheirDataAreRefused) {
    auto px = picture();
    std::vector<u8> jpeg;
    ASSERT_TRUE(image_encode(px.data(), 5, 3, IMG_JPEG, jpeg));
    // The start of frame's height and width, made 8000 x 30000.
    size_t sof = 2;
    while (sof + 9 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) sof++;
    ASSERT_LT(sof + 9, jpeg.size());
    jpeg[sof + 5] = 8000 >> 8, jpeg[sof + 6] = 8000 & 255;
    jpeg[sof + 7] = 30000 >> 8, jpeg[sof + 8] = 30000 & 255;
    std::vector<u8> itxt = grey_png(1, 1, 8);
    itxt.resize(33);  // after IHDR: a text chunk said to be 0x70000000 bytes long
    append(itxt, {0x70, 0, 0, 0, 'i', 'T', 'X', 't'});
    std::vector<u8> few = {0x78, 0xDA, 0xED, 0xC1, 0x01, 0x0D, 0, 0, 0, 0xC2, 0xA0};
    struct Case {
        const char* what;
        std::vector<u8> file;
    } cases[] = {
        {"GIF screen of 65535 x 16384", gif_screen(65535, 16384)},
        {"GIF frame beyond its 11 bytes of data",
         [] {
             auto g = gif_screen(16000, 16000);
             put_le16(g, 23, 16000), put_le16(g, 25, 16000);
             return g;
         }()},
        {"RLE BMP of 65535 x 16384 ending at once", rle_bmp(65535, 16384, {0, 1})},
        {"TIFF of 32768 x 32767 at 1 bit", grey_tiff(32768, 32767, 1, 1, 4, 4096u * 32767)},
        {"TIFF of 8000 x 8000 at 1 bit, 100 bytes of strip", grey_tiff(8000, 8000, 1, 1, 100, 8000000)},
        {"LZW TIFF of 8000 x 8000 grey, 10 bytes of strip", grey_tiff(8000, 8000, 8, 5, 10, 10)},
        {"PNG text chunk of 0x70000000 bytes", itxt},
        {"PNG of 10000 x 10000 grey, 11 bytes of data", grey_png(10000, 10000, 8, &few)},
        {"JPEG of 30000 x 8000", jpeg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_GE(image_format_of(c.file.data(), c.file.size()), 0);
        size_t before = resident();
        DecodedImage d;
        EXPECT_FALSE(image_decode(c.file.data(), c.file.size(), d));
        EXPECT_EQ(d.words, nullptr);
        EXPECT_LT(resident() - before, size_t(64) << 20);
    }
    // The same TIFF layout whose strip holds its samples loads.
    auto tiff = grey_tiff(8, 8, 8, 1, 64, 64);
    DecodedImage d;
    ASSERT_TRUE(image_decode(tiff.data(), tiff.size(), d));
    EXPECT_EQ(d.words[63], 0xFF000000u);
}

// A GIF's screen around its frame and what a run-length bitmap skips are
// transparent, and take no memory until touched: a 16384 x 16384 image
// (1 GiB of words) decodes from a few bytes in a few pages.
TEST(ImageCodecs, UndescribedPartsAreTransparentAndLazy) {
    const u32 side = 16384;
    const size_t gib = size_t(side) * side * 4;
    {
        auto g = gif_screen(side, side);
        size_t before = resident();
        DecodedImage d;
        ASSERT_TRUE(image_decode(g.data(), g.size(), d));
        EXPECT_LT(resident() - before, gib / 16);
        EXPECT_EQ(d.width, side);
        EXPECT_EQ(d.height, side);
        EXPECT_EQ(d.words[0], 0xFF000000u);
        EXPECT_EQ(d.words[1], 0u);
        EXPECT_EQ(d.words[size_t(side) * side - 1], 0u);
    }
    {
        // Bottom row first: 3 white, end of line; 2 red, a move of 2 right
        // and 1 up, 1 white; end of bitmap.
        auto b = rle_bmp(side, side, {3, 1, 0, 0, 2, 0, 0, 2, 2, 1, 1, 1, 0, 1});
        size_t before = resident();
        DecodedImage d;
        ASSERT_TRUE(image_decode(b.data(), b.size(), d));
        EXPECT_LT(resident() - before, gib / 16);
        const u32* bottom = d.words + size_t(side - 1) * side;
        const u32 white = 0xFFFFFFFFu, red = 0xFFFF0000u;
        EXPECT_EQ(std::vector<u32>(bottom, bottom + 4), (std::vector<u32>{white, white, white, 0}));
        const u32* second = bottom - side;
        EXPECT_EQ(std::vector<u32>(second, second + 3), (std::vector<u32>{red, red, 0}));
        const u32* third = second - side;
        EXPECT_EQ(std::vector<u32>(third, third + 6), (std::vector<u32>{0, 0, 0, 0, white, 0}));
        EXPECT_EQ(d.words[0], 0u);
    }
}

// The ratios are no tighter than the methods: images compressed as far as
// zlib, giflib's LZW and libtiff's LZW go still load.
TEST(ImageCodecs, MaximallyCompressedImagesLoad) {
    auto png = grey_png(3000, 3000, 1);
    DecodedImage d;
    ASSERT_TRUE(image_decode(png.data(), png.size(), d)) << png.size() << " bytes";
    EXPECT_EQ(d.words[size_t(3000) * 3000 - 1], 0xFF000000u);
    std::vector<u32> plain(size_t(1500) * 1500, 0xFF336699u);
    for (i32 format : {IMG_GIF, IMG_TIFF, IMG_PNG}) {
        SCOPED_TRACE(format);
        std::vector<u8> file;
        ASSERT_TRUE(image_encode(plain.data(), 1500, 1500, format, file));
        DecodedImage e;
        ASSERT_TRUE(image_decode(file.data(), file.size(), e)) << file.size() << " bytes";
        EXPECT_EQ(e.words[plain.size() - 1], 0xFF336699u);
    }
}

TEST(ImageCodecs, EveryPrefixOfEveryFormatIsRefusedCleanly) {
    auto px = picture();
    for (i32 format : {IMG_BMP, IMG_PNG, IMG_GIF, IMG_JPEG, IMG_TIFF}) {
        std::vector<u8> file;
        ASSERT_TRUE(image_encode(px.data(), 5, 3, format, file));
        // A TIFF's last four bytes point to a next directory it lacks; a
        // GIF's last byte ends the file after the first frame, which is all
        // that is read.
        size_t must_fail_below = format == IMG_TIFF  ? file.size() - 4
                                 : format == IMG_GIF ? file.size() - 1
                                                     : file.size();
        for (size_t n = 0; n < must_fail_below; n++) {
            std::vector<u8> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
            DecodedImage d;
            EXPECT_FALSE(image_decode(cut.data(), cut.size(), d)) << format << " at " << n;
        }
    }
}

}  // namespace
}  // namespace zan
