#include <string>
#include <vector>

#include "digest_test_support.h"

namespace zan {
namespace {

using test::bytes_of;
using test::ScopedCryptoService;
using test::to_hex;

struct DigestCase {
    int code;
    const char* abc;    // digest of "abc"
    const char* empty;  // digest of no bytes
};

const DigestCase kDigests[] = {
    {CHECKSUM_CODE_MD5, "900150983cd24fb0d6963f7d28e17f72", "d41d8cd98f00b204e9800998ecf8427e"},
    {CHECKSUM_CODE_SHA1, "a9993e364706816aba3e25717850c26c9cd0d89d",
     "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {CHECKSUM_CODE_SHA256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {CHECKSUM_CODE_SHA384,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7",
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {CHECKSUM_CODE_SHA512,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
     "454d4423643ce80e2a9ac94fa54ca49f",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f"
     "63b931bd47417a81a538327af927da3e"},
};

TEST(Digest, SizesByCode) {
    const u32 expected[] = {0, 0, 16, 20, 32, 48, 64, 0};
    for (int code = 0; code < 8; ++code) EXPECT_EQ(digest_size(code), expected[code]) << code;
    EXPECT_EQ(digest_size(-1), 0u);
}

TEST(Digest, PublishedValues) {
    for (const auto& c : kDigests) {
        DigestValue d;
        ASSERT_EQ(crypto_digest(bytes_of("abc"), 3, c.code, &d), ChecksumStatus::ok) << c.code;
        EXPECT_EQ(d.size, digest_size(c.code));
        EXPECT_EQ(to_hex(d), c.abc) << c.code;
        ASSERT_EQ(crypto_digest(nullptr, 0, c.code, &d), ChecksumStatus::ok);
        EXPECT_EQ(to_hex(d), c.empty) << c.code;
    }
}

TEST(Digest, CodeOutsideTheDigestsIsInvalid) {
    DigestValue d{};
    d.size = 77;
    for (int code : {-1, CHECKSUM_CODE_TCP, CHECKSUM_CODE_CRC32, 7, 1000}) {
        EXPECT_EQ(crypto_digest(bytes_of("abc"), 3, code, &d), ChecksumStatus::invalid_arg) << code;
        EXPECT_EQ(hmac_compute(bytes_of("abc"), 3, bytes_of("k"), 1, code, &d),
                  ChecksumStatus::invalid_arg)
            << code;
    }
    EXPECT_EQ(d.size, 77u);  // untouched
}

struct HmacCase {
    int code;
    const char* short_key;  // key "key", the fox sentence
    const char* key100;     // key bytes 0..99, "message"
    const char* key131;     // 131 bytes AAh, the long-key sentence
    const char* empty;      // empty key, empty data
};

// Each value was checked against an independent HMAC implementation; the
// 131-byte SHA-256 one is also the published RFC 4231 test case 6.
const HmacCase kHmacs[] = {
    {CHECKSUM_CODE_MD5, "80070713463e7749b90c2dc24911e275", "c25893768c33de3b08156b869065535a",
     "bfecaf4efff90a3a668f3922fec3762d", "74e6f7298a9c2d168935f58c001bad88"},
    {CHECKSUM_CODE_SHA1, "de7c9b85b8b78aa6bc8a7a36f70a90701c9db4d9",
     "cad25328f974f1ca990ec10b7ef7f298387c3af5", "90d0dace1c1bdc957339307803160335bde6df2b",
     "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d"},
    {CHECKSUM_CODE_SHA256, "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8",
     "db6809271b5ef15f93eaacb092765bdaba0f29c729418c566ab2c3769a1b5f13",
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
     "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"},
    {CHECKSUM_CODE_SHA384,
     "d7f4727e2c0b39ae0f1e40cc96f60242d5b7801841cea6fc592c5d3e1ae50700582a96cf35e1e554995fe4e03381c237",
     "377935cf32a8baa709ffde92a91a3a4d762e23b1ca7d6255098532fbc462eac92f66c362a373a03467ac2e381f1639d8",
     "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
     "6c1f2ee938fad2e24bd91298474382ca218c75db3d83e114b3d4367776d14d3551289e75e8209cd4b792302840234adc"},
    {CHECKSUM_CODE_SHA512,
     "b42af09057bac1e2d41708e48a902e09b5ff7f12ab428a4fe86653c73dd248fb82f948a549f7b791a5b41915ee4d1ec3"
     "935357e4e2317250d0372afa2ebeeb3a",
     "2ef57b7c699b1857854451eec55dabd5c38d625e1484e4f8a995c64e8fa5dc1eef83012e450f62253aee6a724cb12734"
     "70964cdff7cd5e111c7447569aa11b6e",
     "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e52"
     "95e64f73f63f0aec8b915a985d786598",
     "b936cee86c9f87aa5d3c6f2e84cb5a4239a5fe50480a6ec66b70ab5b1f4ac6730c6c515421b327ec1d69402e53dfb49a"
     "d7381eb067b338fd7b0cb22247225d47"},
};

// Covers a short key, a 100-byte key (longer than the 64-byte block of MD5,
// SHA-1 and SHA-256, so hashed first; shorter than the 128-byte block of
// SHA-384 and SHA-512, so used as it is), a key longer than every block,
// and an empty key.
TEST(Hmac, KnownValues) {
    const std::string fox = "The quick brown fox jumps over the lazy dog";
    const std::string long_key_text = "Test Using Larger Than Block-Size Key - Hash Key First";
    std::vector<u8> key100(100), key131(131, 0xAA);
    for (int i = 0; i < 100; ++i) key100[i] = static_cast<u8>(i);
    for (const auto& c : kHmacs) {
        DigestValue d;
        ASSERT_EQ(hmac_compute(bytes_of(fox), fox.size(), bytes_of("key"), 3, c.code, &d),
                  ChecksumStatus::ok);
        EXPECT_EQ(d.size, digest_size(c.code));
        EXPECT_EQ(to_hex(d), c.short_key) << c.code;
        ASSERT_EQ(hmac_compute(bytes_of("message"), 7, key100.data(), 100, c.code, &d),
                  ChecksumStatus::ok);
        EXPECT_EQ(to_hex(d), c.key100) << c.code;
        ASSERT_EQ(hmac_compute(bytes_of(long_key_text), long_key_text.size(), key131.data(), 131,
                               c.code, &d),
                  ChecksumStatus::ok);
        EXPECT_EQ(to_hex(d), c.key131) << c.code;
        ASSERT_EQ(hmac_compute(nullptr, 0, nullptr, 0, c.code, &d), ChecksumStatus::ok);
        EXPECT_EQ(to_hex(d), c.empty) << c.code;
    }
}

// ------------------------------------------------ a failing service

// A service that forwards to the default one but fails at one chosen step,
// or answers with a digest one byte short.
enum class FailAt { create, data, value, short_value };
FailAt g_fail_at;
int g_live_hashes = 0;  // computations created and not destroyed

CryptoHash* fake_create(CryptoAlgorithm alg) {
    if (g_fail_at == FailAt::create) return nullptr;
    CryptoHash* h = g_crypto_default_service.hash_create(alg);
    if (h) ++g_live_hashes;
    return h;
}
bool fake_data(CryptoHash* h, const u8* bytes, size_t count) {
    if (g_fail_at == FailAt::data) return false;
    return g_crypto_default_service.hash_data(h, bytes, count);
}
bool fake_value(CryptoHash* h, u8* out, u32* size) {
    if (g_fail_at == FailAt::value) return false;
    bool ok = g_crypto_default_service.hash_value(h, out, size);
    if (g_fail_at == FailAt::short_value) --*size;
    return ok;
}
void fake_destroy(CryptoHash* h) {
    if (h) --g_live_hashes;
    g_crypto_default_service.hash_destroy(h);
}
bool fake_random(void* out, size_t count) { return false; }

const CryptoService kFailing = {fake_create, fake_data, fake_value, fake_destroy, fake_random};

TEST(DigestFailure, IsReportedAndNothingLeaks) {
    ScopedCryptoService scoped(&kFailing);
    for (FailAt at : {FailAt::create, FailAt::data, FailAt::value, FailAt::short_value}) {
        g_fail_at = at;
        for (int code = CHECKSUM_CODE_MD5; code <= CHECKSUM_CODE_SHA512; ++code) {
            DigestValue d{};
            d.size = 99;
            EXPECT_EQ(crypto_digest(bytes_of("abc"), 3, code, &d), ChecksumStatus::crypto_failed)
                << int(at) << "/" << code;
            EXPECT_EQ(hmac_compute(bytes_of("abc"), 3, bytes_of("key"), 3, code, &d),
                      ChecksumStatus::crypto_failed);
            std::vector<u8> long_key(200, 1);  // the failure comes while hashing the key
            EXPECT_EQ(hmac_compute(bytes_of("abc"), 3, long_key.data(), 200, code, &d),
                      ChecksumStatus::crypto_failed);
            EXPECT_EQ(d.size, 99u) << "the result must stay unwritten";
        }
        EXPECT_EQ(g_live_hashes, 0) << int(at);
    }
}

TEST(DigestFailure, ChecksumOfADigestMethodFails) {
    ScopedCryptoService scoped(&kFailing);
    g_fail_at = FailAt::value;
    ChecksumResult r;
    EXPECT_EQ(checksum_compute(ChecksumMethod::sha256, bytes_of("abc"), 3, {}, &r),
              ChecksumStatus::crypto_failed);
    ChecksumWith key{WithKind::key, bytes_of("k"), 1, 0};
    EXPECT_EQ(checksum_compute(ChecksumMethod::md5, bytes_of("abc"), 3, key, &r),
              ChecksumStatus::crypto_failed);
    // The checksums computed here do not need the service.
    ASSERT_EQ(checksum_compute(ChecksumMethod::crc32, bytes_of("abc"), 3, {}, &r), ChecksumStatus::ok);
    EXPECT_EQ(r.integer, 0x352441C2u);
}

TEST(DigestFailure, StatusNamesTheCatalogueError) {
    EXPECT_EQ(checksum_status_error(ChecksumStatus::invalid_arg), Err::script_invalid_arg);
    EXPECT_EQ(checksum_status_error(ChecksumStatus::invalid_refine_arg),
              Err::script_invalid_refine_arg);
    EXPECT_EQ(checksum_status_error(ChecksumStatus::crypto_failed), Err::internal_feature_na);
}

TEST(CryptoService, DefaultServiceIsAvailable) {
    EXPECT_TRUE(crypto_init());
    EXPECT_TRUE(crypto_init());  // idempotent
    EXPECT_EQ(&crypto_service(), &g_crypto_default_service);
    u8 a[32] = {}, b[32] = {};
    ASSERT_TRUE(crypto_service().random_bytes(a, sizeof a));
    ASSERT_TRUE(crypto_service().random_bytes(b, sizeof b));
    EXPECT_NE(to_hex(a, 32), to_hex(b, 32));  // 2^-256 chance of a false failure
}

}  // namespace
}  // namespace zan
