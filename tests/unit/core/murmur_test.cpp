#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/core/murmur.h"

namespace zan {
namespace {

struct MurmurCase {
    std::string data;
    u32 seed;
    u32 expected;
};

// Published MurmurHash3_x86_32 vectors, each checked against an independent
// implementation; they cover every tail length (0 to 3 bytes) and several
// whole blocks.
TEST(Murmur3, MatchesPublishedVectors) {
    const MurmurCase cases[] = {
        {"", 0, 0x00000000u},
        {"", 1, 0x514E28B7u},
        {"", 0xFFFFFFFFu, 0x81F16F39u},
        {std::string("\0\0\0\0", 4), 0, 0x2362F9DEu},
        {"\xFF\xFF\xFF\xFF", 0, 0x76293B50u},
        {"\x21\x43\x65\x87", 0, 0xF55B516Bu},
        {"\x21\x43\x65", 0, 0x7E4A8634u},
        {"\x21\x43", 0, 0xA0F7B07Au},
        {"\x21", 0, 0x72661CF4u},
        {"Hello, world!", 1234, 0xFAF6CDB3u},
        {"Hello, world!", 4321, 0xBF505788u},
        {"xxxxxxxxxxxxxxxxxxxxxxxxxxxx", 1234, 0x8905AC28u},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28Cu, 0x2FA826CDu},
        {"aaaa", 0x9747B28Cu, 0x5A97808Au},
        {"abcd", 0x9747B28Cu, 0xF0478627u},
        {"a", 0x9747B28Cu, 0x7FA09EA6u},
        {"abc", 0, 0xB3DD93FAu},
    };
    for (const auto& c : cases)
        EXPECT_EQ(murmur3_32_seeded(c.data.data(), c.data.size(), c.seed), c.expected)
            << '"' << c.data << "\" seed " << c.seed;
}

TEST(Murmur3, UsesTheProcessWideSeed) {
    const u32 saved = murmur3_seed();
    murmur3_set_seed(1234);
    EXPECT_EQ(murmur3_32("Hello, world!", 13), 0xFAF6CDB3u);
    murmur3_set_seed(19650218);
    EXPECT_EQ(murmur3_32("hello", 5), 0x6201E7CBu);
    murmur3_set_seed(saved);
}

TEST(Murmur3, UnalignedInputHashesLikeAligned) {
    alignas(8) char buffer[64] = {};
    const std::string text = "The quick brown fox jumps over the lazy dog";
    for (size_t shift = 0; shift < 4; ++shift) {
        std::memcpy(buffer + shift, text.data(), text.size());
        EXPECT_EQ(murmur3_32_seeded(buffer + shift, text.size(), 0x9747B28Cu), 0x2FA826CDu)
            << "offset " << shift;
    }
}

TEST(Murmur3Words, HashesLikeTheBytesOfTheWords) {
    const u32 words[] = {0x87654321u, 0u, 0xFFFFFFFFu, 'a', 0x10FFFFu};
    for (size_t n = 0; n <= 5; ++n) {
        Murmur3Words hash;
        for (size_t i = 0; i < n; ++i) hash.add(words[i]);
        EXPECT_EQ(hash.finish(), murmur3_32(words, n * 4)) << n << " words";
    }
}

TEST(HashPointerMix, IsTheFinaliserOfOneWord) {
    struct Case { u32 in, out; };
    for (auto c : {Case{0, 0}, Case{1, 0x514E28B7u}, Case{0xFFFFFFFFu, 0x81F16F39u},
                   Case{0xDEADBEEFu, 0x0DE5C6A9u}, Case{0x12345678u, 0xE37CD1BCu}})
        EXPECT_EQ(hash_pointer_mix(c.in), c.out) << std::hex << c.in;
    // The empty input with seed s hashes to the finaliser of s.
    EXPECT_EQ(hash_pointer_mix(0x9747B28Cu), murmur3_32_seeded("", 0, 0x9747B28Cu));
}

TEST(HashRoundPow2, GivesTheNextPowerOfTwo) {
    struct Case { u32 n, expected; };
    for (auto c : {Case{0, 1}, Case{1, 1}, Case{2, 2}, Case{3, 4}, Case{4, 4}, Case{5, 8},
                   Case{5194, 8192}, Case{8192, 8192}, Case{8193, 16384},
                   Case{0x40000001u, 0x80000000u}, Case{0x80000000u, 0x80000000u}})
        EXPECT_EQ(hash_round_pow2(c.n), c.expected) << c.n;
}

TEST(HashRoundPow2DeathTest, BeyondTheLargestWordPowerIsFatal) {
    EXPECT_EXIT(hash_round_pow2(0x80000001u), ::testing::ExitedWithCode(94), "Runtime Error 94");
}

}  // namespace
}  // namespace zan
