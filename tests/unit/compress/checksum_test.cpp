// CRC-32 and Adler-32 of the framings, against the reference values of
// their definitions.
#include <gtest/gtest.h>
#include <zlib.h>

#include "runtime/io/compress/codec_internal.h"
#include "compress/compress_support.h"

namespace zan::test {
namespace {

using compress_detail::adler32_of;
using compress_detail::crc32_of;

TEST(Checksums, KnownValues) {
    const std::string check = "123456789";
    const u8* p = reinterpret_cast<const u8*>(check.data());
    EXPECT_EQ(crc32_of(p, check.size()), 0xCBF43926u);
    EXPECT_EQ(adler32_of(p, check.size()), 0x091E01DEu);
    EXPECT_EQ(crc32_of(nullptr, 0), 0u);
    EXPECT_EQ(adler32_of(nullptr, 0), 1u);
}

TEST(Checksums, AgreeWithTheOracleOnLongAndPiecewiseInput) {
    // Lengths across the 3854-byte Adler block, the 8-byte CRC step and
    // the 64-byte start and 16-byte blocks of the carry-less folding.
    for (size_t n : {1u, 7u, 8u, 15u, 16u, 63u, 64u, 65u, 79u, 80u, 129u, 200u, 3853u, 3854u,
                     3855u, 7709u, 100000u}) {
        SCOPED_TRACE(n);
        Bytes b = random_bytes(n, u32(n));
        if (n == 100000) b.assign(n, 0xFF);  // the largest sums
        EXPECT_EQ(crc32_of(b.data(), n), u32(::crc32(0, b.data(), uInt(n))));
        EXPECT_EQ(adler32_of(b.data(), n), u32(::adler32(1, b.data(), uInt(n))));
        size_t half = n / 3;
        EXPECT_EQ(crc32_of(b.data() + half, n - half, crc32_of(b.data(), half)), crc32_of(b.data(), n));
        EXPECT_EQ(adler32_of(b.data() + half, n - half, adler32_of(b.data(), half)),
                  adler32_of(b.data(), n));
    }
}

}  // namespace
}  // namespace zan::test
