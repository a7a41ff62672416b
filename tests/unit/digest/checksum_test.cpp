#include <cstring>
#include <string>

#include "digest_test_support.h"

namespace zan {
namespace {

using test::bytes_of;
using test::to_hex;

// The method words in the order of ChecksumMethod, with their codes.
struct MethodRow {
    const char* name;
    int code;
};
constexpr MethodRow kMethods[] = {
    {"tcp", 0},     {"md5", 2},     {"sha1", 3},    {"crc32", 1}, {"adler32", -1},
    {"sha256", 4},  {"sha384", 5},  {"sha512", 6},  {"hash", -1},
};

TEST(ChecksumMethods, Codes) {
    for (int i = 0; i < CHECKSUM_METHOD_COUNT; i++)
        EXPECT_EQ(checksum_method_code(static_cast<ChecksumMethod>(i)), kMethods[i].code) << kMethods[i].name;
    EXPECT_EQ(checksum_method_code(static_cast<ChecksumMethod>(CHECKSUM_METHOD_COUNT)), CHECKSUM_NO_CODE);
}

// Method words are recorded by canonical symbol at start-up.
u32 g_symbols_made = 0;
u32 fake_symbol_of(const char* name) {
    EXPECT_STREQ(name, kMethods[g_symbols_made].name);
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
            << kMethods[static_cast<int>(c.method)].name << " with kind " << int(c.with.kind);
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
