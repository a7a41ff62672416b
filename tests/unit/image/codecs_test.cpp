// The codecs on memory: signatures, round trips of every format, and the
// refusal of sizes a header claims beyond the limits, of damaged bytes and
// of unknown format numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/image/codecs.h"
#include "runtime/image/image_store.h"

namespace zan {
namespace {

std::vector<u8> bytes(const std::string& s) { return {s.begin(), s.end()}; }

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
    for (int i = 0; i < 2; i++) {
        u32 v = 65000;
        for (int k = 0; k < 4; k++) big[16 + 4 * i + k] = static_cast<u8>(v >> (24 - 8 * k));
    }
    u32 crc = 0xFFFFFFFFu;
    for (size_t i = 12; i < 29; i++) {
        crc ^= big[i];
        for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int k = 0; k < 4; k++) big[29 + k] = static_cast<u8>(crc >> (24 - 8 * k));
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
    EXPECT_TRUE(d.allocate(65535, 1));
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
