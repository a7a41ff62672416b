#include <cstring>
#include <string>

#include "digest_test_support.h"

namespace zan {
namespace {

using test::bytes_of;
using test::to_hex;

TEST(ChecksumMethods, NamesCodesAndLookup) {
    struct Case {
        const char* spelling;
        ChecksumMethod method;
        int code;
    };
    const Case cases[] = {
        {"tcp", ChecksumMethod::tcp, 0},         {"MD5", ChecksumMethod::md5, 2},
        {"Sha1", ChecksumMethod::sha1, 3},       {"CRC32", ChecksumMethod::crc32, 1},
        {"adler32", ChecksumMethod::adler32, -1}, {"SHA256", ChecksumMethod::sha256, 4},
        {"sha384", ChecksumMethod::sha384, 5},   {"SHA512", ChecksumMethod::sha512, 6},
        {"hash", ChecksumMethod::hash, -1},
    };
    for (const auto& c : cases) {
        ChecksumMethod m;
        ASSERT_TRUE(checksum_method_from_name(c.spelling, std::strlen(c.spelling), &m)) << c.spelling;
        EXPECT_EQ(m, c.method);
        EXPECT_EQ(checksum_method_code(m), c.code) << c.spelling;
    }
    ChecksumMethod m;
    for (const char* bad : {"sha", "sha2566", "crc", "", "md4", "sha-256"})
        EXPECT_FALSE(checksum_method_from_name(bad, std::strlen(bad), &m)) << bad;
    EXPECT_STREQ(checksum_method_name(ChecksumMethod::adler32), "adler32");
}

// Method words are recorded by canonical symbol at start-up.
u32 g_symbols_made = 0;
u32 fake_symbol_of(const char* name) {
    EXPECT_STREQ(name, checksum_method_name(static_cast<ChecksumMethod>(g_symbols_made)));
    return 100 + g_symbols_made++;  // ids 100.. in the order of the method words
}

TEST(ChecksumMethods, SymbolsRecordedAtInit) {
    g_symbols_made = 0;
    checksum_init(fake_symbol_of);
    EXPECT_EQ(g_symbols_made, 9u);
    ChecksumMethod m;
    ASSERT_TRUE(checksum_method_of_symbol(105, &m));
    EXPECT_EQ(m, ChecksumMethod::sha256);
    ASSERT_TRUE(checksum_method_of_symbol(108, &m));
    EXPECT_EQ(m, ChecksumMethod::hash);
    EXPECT_TRUE(checksum_method_q(100));
    EXPECT_FALSE(checksum_method_q(99));
    EXPECT_FALSE(checksum_method_q(109));
    EXPECT_FALSE(checksum_method_q(0));
}

TEST(ChecksumCompute, PlainSumsGiveIntegers) {
    const std::string s = "123456789";
    ChecksumResult r;
    ASSERT_EQ(checksum_compute(ChecksumMethod::crc32, bytes_of(s), s.size(), {}, &r), ChecksumStatus::ok);
    EXPECT_FALSE(r.is_binary);
    EXPECT_EQ(r.integer, 0xCBF43926u);
    ASSERT_EQ(checksum_compute(ChecksumMethod::adler32, bytes_of(s), s.size(), {}, &r),
              ChecksumStatus::ok);
    EXPECT_EQ(r.integer, 0x091E01DEu);
    ASSERT_EQ(checksum_compute(ChecksumMethod::tcp, bytes_of("\x01"), 1, {}, &r), ChecksumStatus::ok);
    EXPECT_EQ(r.integer, 0xFFFEu);
    EXPECT_EQ(r.notice, nullptr);
}

TEST(ChecksumCompute, DigestsAndHmacGiveBinaries) {
    ChecksumResult r;
    ASSERT_EQ(checksum_compute(ChecksumMethod::md5, bytes_of("abc"), 3, {}, &r), ChecksumStatus::ok);
    EXPECT_TRUE(r.is_binary);
    EXPECT_EQ(to_hex(r.digest), "900150983cd24fb0d6963f7d28e17f72");

    const std::string fox = "The quick brown fox jumps over the lazy dog";
    ChecksumWith key{WithKind::key, bytes_of("key"), 3, 0};
    ASSERT_EQ(checksum_compute(ChecksumMethod::sha256, bytes_of(fox), fox.size(), key, &r),
              ChecksumStatus::ok);
    EXPECT_TRUE(r.is_binary);
    EXPECT_EQ(to_hex(r.digest), "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8");
}

// Arguments a method cannot use come back as a status, never as a result.
TEST(ChecksumCompute, RefusedArguments) {
    ChecksumWith key{WithKind::key, bytes_of("k"), 1, 0};
    ChecksumWith size{WithKind::integer, nullptr, 0, 1024};
    struct Case {
        ChecksumMethod method;
        ChecksumWith with;
    };
    const Case refused[] = {
        {ChecksumMethod::crc32, key},   {ChecksumMethod::crc32, size},
        {ChecksumMethod::tcp, key},     {ChecksumMethod::tcp, size},
        {ChecksumMethod::adler32, key}, {ChecksumMethod::adler32, size},
        {ChecksumMethod::hash, {}},     {ChecksumMethod::hash, key},
    };
    for (const auto& c : refused) {
        ChecksumResult r;
        r.integer = 12345;
        EXPECT_EQ(checksum_compute(c.method, bytes_of("abc"), 3, c.with, &r),
                  ChecksumStatus::invalid_refine_arg)
            << checksum_method_name(c.method) << " with kind " << int(c.with.kind);
        EXPECT_EQ(r.integer, 12345u) << "no result written";
    }
    ChecksumResult r;
    EXPECT_EQ(checksum_compute(static_cast<ChecksumMethod>(42), bytes_of("abc"), 3, {}, &r),
              ChecksumStatus::invalid_arg);
}

TEST(ChecksumCompute, IntegerWithArgumentGivesZeroAndTheNotice) {
    ChecksumWith size{WithKind::integer, nullptr, 0, 1024};
    for (ChecksumMethod m : {ChecksumMethod::hash, ChecksumMethod::md5, ChecksumMethod::sha512}) {
        ChecksumResult r;
        r.integer = 7;
        ASSERT_EQ(checksum_compute(m, bytes_of("abc"), 3, size, &r), ChecksumStatus::ok);
        EXPECT_FALSE(r.is_binary);
        EXPECT_EQ(r.integer, 0u);
        EXPECT_STREQ(r.notice, "** /hash support not yet implemented; algorithm TBD.");
    }
}

}  // namespace
}  // namespace zan
