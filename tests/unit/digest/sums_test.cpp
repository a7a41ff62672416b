#include <algorithm>
#include <string>
#include <vector>

#include "digest_test_support.h"

namespace zan {
namespace {

using test::bytes_of;

// Expected values come from an independent implementation of each checksum.
struct SumCase {
    std::string data;
    u32 crc32;
    u32 adler32;
};

const SumCase kSumCases[] = {
    {"", 0x00000000u, 0x00000001u},
    {"a", 0xE8B7BE43u, 0x00620062u},
    {"123456789", 0xCBF43926u, 0x091E01DEu},
    {"The quick brown fox jumps over the lazy dog", 0x414FA339u, 0x5BDC0FDAu},
};

std::vector<u8> pattern(size_t n) {
    std::vector<u8> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<u8>(i * 31 + 7);
    return v;
}

TEST(Crc32, KnownValues) {
    for (const auto& c : kSumCases)
        EXPECT_EQ(crc32_compute(bytes_of(c.data), c.data.size()), c.crc32) << c.data;
    auto big = pattern(100000);
    EXPECT_EQ(crc32_compute(big.data(), big.size()), 0x92858800u);
}

TEST(Crc32, PiecewiseUpdateEqualsWhole) {
    auto big = pattern(10007);
    u32 crc = 0;
    for (size_t at = 0; at < big.size(); at += 1000)
        crc = crc32_update(crc, big.data() + at, std::min<size_t>(1000, big.size() - at));
    EXPECT_EQ(crc, crc32_compute(big.data(), big.size()));
}

TEST(Adler32, KnownValues) {
    for (const auto& c : kSumCases)
        EXPECT_EQ(adler32_compute(bytes_of(c.data), c.data.size()), c.adler32) << c.data;
    EXPECT_EQ(adler32_compute(bytes_of("Wikipedia"), 9), 0x11E60398u);
}

// Blocks of 3854 bytes between reductions must give the same value as
// reducing after every byte, around and far beyond the block length, and
// with the largest byte values (the worst case for the sums).
TEST(Adler32, BlockingDoesNotChangeTheValue) {
    auto unblocked = [](const std::vector<u8>& v) {
        u32 a = 1, b = 0;
        for (u8 x : v) {
            a = (a + x) % 65521;
            b = (b + a) % 65521;
        }
        return (b << 16) | a;
    };
    for (size_t n : {15u, 16u, 17u, 3853u, 3854u, 3855u, 7708u, 7709u, 100000u}) {
        auto v = pattern(n);
        EXPECT_EQ(adler32_compute(v.data(), v.size()), unblocked(v)) << n;
        std::vector<u8> ff(n, 0xFF);
        EXPECT_EQ(adler32_compute(ff.data(), ff.size()), unblocked(ff)) << "FF x " << n;
    }
    std::vector<u8> ff(100000, 0xFF);
    EXPECT_EQ(adler32_compute(ff.data(), ff.size()), 0x149A302Cu);
    auto big = pattern(100000);
    EXPECT_EQ(adler32_compute(big.data(), big.size()), 0x76F5980Fu);
}

TEST(Adler32, PiecewiseUpdateEqualsWhole) {
    auto big = pattern(20011);
    u32 adler = 1;
    for (size_t at = 0; at < big.size(); at += 4999)
        adler = adler32_update(adler, big.data() + at, std::min<size_t>(4999, big.size() - at));
    EXPECT_EQ(adler, adler32_compute(big.data(), big.size()));
}

TEST(TcpChecksum, KnownValues) {
    struct Case {
        std::vector<u8> data;
        u16 expected;
    };
    const Case cases[] = {
        {{}, 0xFFFF},
        // A trailing odd byte is summed as the low half of a word, so 01h
        // alone checks the same as 00h 01h (not as 01h 00h).
        {{0x01}, 0xFFFE},
        {{0x00, 0x01}, 0xFFFE},
        {{0x01, 0x02, 0x03}, 0xFEFA},
        {{0xFF, 0xFF}, 0x0000},
        {{0xFF, 0xFF, 0xFF}, 0xFF00},
        // An IPv4 header with its checksum field zeroed.
        {{0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11, 0x00, 0x00, 0xC0, 0xA8,
          0x00, 0x01, 0xC0, 0xA8, 0x00, 0xC7},
         0xB861},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tcp_checksum(c.data.data(), c.data.size()), c.expected) << c.data.size() << " bytes";
}

// Beyond 64 KiB a 32-bit signed sum would wrap (100000 bytes of FFh would
// check as 0001h); the sum must stay exact for any length.
TEST(TcpChecksum, LargeDataDoesNotOverflowTheSum) {
    std::vector<u8> ff(100000, 0xFF);
    EXPECT_EQ(tcp_checksum(ff.data(), ff.size()), 0x0000);
    auto big = pattern(100000);
    EXPECT_EQ(tcp_checksum(big.data(), big.size()), 0x39C6);
}

}  // namespace
}  // namespace zan
