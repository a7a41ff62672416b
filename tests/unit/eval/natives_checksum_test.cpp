// The checksum native (every method, HMAC, files, errors, the /with integer
// notice) and the random generator as the datatypes' random actions reach
// it (seeded sequences, ranges, shuffles, /secure).
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "runtime/digest/checksum.h"
#include "runtime/digest/random.h"
#include "tests/unit/digest/digest_test_support.h"
#include "tests/unit/eval/eval_helper.h"

namespace zan::evaltest {
namespace {

u32 method_word(const char* name) { return symbol_resolve(word_load(name)->data2); }

class ChecksumNative : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        // As at start-up, after the natives: the method words.
        interp_run_on_big_stack([] { checksum_init(method_word); });
    }
};

// The hexadecimal text of the checksum expression's binary result (the
// molded string without its delimiters, quotes or braces).
std::string hex_of(const std::string& checksum_expr) {
    std::string s = eval("enbase/base " + checksum_expr + " 16");
    return s.size() >= 2 ? s.substr(1, s.size() - 2) : s;
}

TEST_F(ChecksumNative, SumsGiveIntegers) {
    expect_cases({
        // CRC-32 of "123456789" is CBF43926h, an integer! read as signed.
        {"checksum \"123456789\" 'crc32", "-873187034"},
        {"checksum #{} 'crc32", "0"},
        {"checksum \"Wikipedia\" 'adler32", "300286872"},
        {"checksum #{} 'adler32", "1"},
        // The odd trailing byte is the low half of the last word.
        {"checksum #{01} 'tcp", "65534"},
        {"checksum #{0001F203F4F5F6F7} 'tcp", "8717"},
        // Method words are found by their canonical symbol.
        {"checksum \"123456789\" 'CRC32", "-873187034"},
    });
}

TEST_F(ChecksumNative, DigestsGiveBinariesOfTheirSize) {
    struct Row {
        const char* method;
        const char* hex;
    };
    const Row rows[] = {
        {"md5", "900150983CD24FB0D6963F7D28E17F72"},
        {"sha1", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"sha256", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"sha384",
         "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA1"
         "34C825A7"},
        {"sha512",
         "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23"
         "A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
    };
    for (const Row& r : rows) {
        const std::string expected = r.hex;
        EXPECT_EQ(hex_of(std::string("checksum \"abc\" '") + r.method), expected) << r.method;
        EXPECT_EQ(hex_of(std::string("checksum #{616263} '") + r.method), expected) << r.method;
        EXPECT_EQ(eval(std::string("length? checksum \"\" '") + r.method),
                  std::to_string(std::char_traits<char>::length(r.hex) / 2))
            << r.method;
    }
    EXPECT_EQ(hex_of("checksum \"\" 'md5"), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST_F(ChecksumNative, DataIsTakenFromItsIndex) {
    expect_cases({
        // String text as UTF-8 from the index: "llo" of "hello".
        {"checksum skip \"hello\" 2 'crc32", "-1429621964"},
        {"checksum skip #{68656C6C6F} 2 'crc32", "-1429621964"},
        // Code points above 127 are hashed as their UTF-8 bytes.
        {"checksum \"h\u00e9llo \u20ac\" 'crc32", "-516859890"},
        {"checksum #{68C3A96C6C6F20E282AC} 'crc32", "-516859890"},
        {"checksum tail \"abc\" 'adler32", "1"},
    });
}

TEST_F(ChecksumNative, WithAKeyGivesTheHmac) {
    struct Row {
        const char* method;
        const char* hex;
    };
    // Key "Jefe", data "what do ya want for nothing?".
    const Row rows[] = {
        {"md5", "750C783E6AB0B503EAA86E310A5DB738"},
        {"sha1", "EFFCDF6AE5EB2FA2D27416D5F184DF9C259A7C79"},
        {"sha256", "5BDCC146BF60754E6A042426089575C75A003F089D2739839DEC58B964EC3843"},
        {"sha384",
         "AF45D2E376484031617F78D2B58A6B1B9C7EF464F5A01B47E42EC3736322445E8E2240CA5E69E2C78B3239EC"
         "FAB21649"},
        {"sha512",
         "164B7A7BFCF819E2E395FBE73B56E0A387BD64222E831FD610270CD7EA2505549758BF75C05A994A6D034F65"
         "F8F0E6FDCAEAB1A34D4A6B4B636E070A38BCE737"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(hex_of(std::string("checksum/with \"what do ya want for nothing?\" '") +
                         r.method + " \"Jefe\""),
                  r.hex)
            << r.method;
    }
    // A binary key from its index, a key with text above ASCII (its UTF-8),
    // and a key longer than the block (hashed first).
    EXPECT_EQ(hex_of("checksum/with \"abc\" 'sha1 next #{FF010203}"),
              "086537D22C1CF6D93EC70DE066F763B9F3F77724");
    EXPECT_EQ(hex_of("checksum/with \"abc\" 'md5 \"cl\u00e9\""),
              "BE279027A9515097EED492328E2F30D0");
    EXPECT_EQ(hex_of("checksum/with \"data\" 'sha256 append/dup copy \"\" #\"k\" 100"),
              "09380EE4B802DA2363BC96E8E0D133BA275458EA8DDBC564F986FC12B31F8CB1");
}

TEST_F(ChecksumNative, WithAnIntegerPrintsTheNoticeAndAnswersZero) {
    for (const char* method : {"hash", "md5", "sha512"}) {
        EXPECT_EQ(eval(std::string("checksum/with \"abc\" '") + method + " 256"), "0") << method;
        EXPECT_EQ(printed_text(), "** /hash support not yet implemented; algorithm TBD.\n")
            << method;
    }
}

TEST_F(ChecksumNative, MethodsGivenWhatTheyCannotUseRaiseErrors) {
    struct Row {
        const char* src;
        const char* line;
    };
    const Row rows[] = {
        {"checksum \"abc\" 'sha3", "*** Script Error: invalid argument: sha3"},
        {"checksum \"abc\" 'hash", "*** Script Error: invalid /with argument: hash"},
        {"checksum/with \"abc\" 'hash \"key\"", "*** Script Error: invalid /with argument: hash"},
        {"checksum/with \"abc\" 'hash #{00}", "*** Script Error: invalid /with argument: hash"},
        {"checksum/with \"abc\" 'crc32 \"key\"", "*** Script Error: invalid /with argument: crc32"},
        {"checksum/with \"abc\" 'tcp 16", "*** Script Error: invalid /with argument: tcp"},
        {"checksum/with \"abc\" 'adler32 #{00}",
         "*** Script Error: invalid /with argument: adler32"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(eval_error_line(r.src), r.line) << r.src;
        EXPECT_EQ(printed_text(), "") << r.src;
    }
    EXPECT_EQ(eval_error_id("checksum \"abc\" 'sha3"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("checksum \"abc\" 'hash"), "script/invalid-refine-arg");
    // Types the native does not take are refused before it runs.
    EXPECT_EQ(eval_error_id("checksum 12 'md5"), "script/expect-arg");
    EXPECT_EQ(eval_error_id("checksum http://a.b 'md5"), "script/expect-arg");
    EXPECT_EQ(eval_error_id("checksum \"abc\" \"md5\""), "script/expect-arg");
    EXPECT_EQ(eval_error_id("checksum/with \"abc\" 'md5 1.5"), "script/expect-arg");
}

// A service whose digests fail: the native raises an error instead of
// answering with a digest it did not compute.
CryptoHash* failing_create(CryptoAlgorithm) { return nullptr; }

TEST_F(ChecksumNative, AFailedDigestRaisesAnError) {
    CryptoService failing = g_crypto_default_service;
    failing.hash_create = failing_create;
    EvalOutcome md5, hmac, crc;
    {
        test::ScopedCryptoService scoped(&failing);
        md5 = eval_outcome("checksum \"abc\" 'md5");
        hmac = eval_outcome("checksum/with \"abc\" 'sha1 \"k\"");
        crc = eval_outcome("checksum \"123456789\" 'crc32");
    }
    EXPECT_TRUE(md5.error);
    EXPECT_EQ(md5.id, "internal/feature-na");
    EXPECT_EQ(hmac.id, "internal/feature-na");
    // The sums do not use the service.
    EXPECT_FALSE(crc.error);
    EXPECT_EQ(crc.text, "-873187034");
}

class ChecksumFiles : public ChecksumNative {
protected:
    void SetUp() override {
        ChecksumNative::SetUp();
        char tmpl[] = "/tmp/zan-checksum-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::remove((dir_ + "/data.bin").c_str());
        rmdir(dir_.c_str());
        ChecksumNative::TearDown();
    }
    std::string dir_;
};

TEST_F(ChecksumFiles, AFileIsReadWholeAsBinary) {
    {
        std::ofstream out(dir_ + "/data.bin", std::ios::binary);
        out << "123456789";
        out.put('\0');  // bytes, not text: a NUL inside is kept
        out << "abc";
    }
    // The same bytes as a binary!: 31 32 ... 39 00 61 62 63.
    const std::string same = eval("checksum #{31323334353637383900616263} 'sha1");
    EXPECT_EQ(eval("checksum %" + dir_ + "/data.bin 'sha1"), same);
    EXPECT_EQ(eval("checksum %" + dir_ + "/data.bin 'crc32"),
              eval("checksum #{31323334353637383900616263} 'crc32"));
    EXPECT_EQ(eval("checksum/with %" + dir_ + "/data.bin 'md5 \"k\""),
              eval("checksum/with #{31323334353637383900616263} 'md5 \"k\""));
}

TEST_F(ChecksumFiles, AFileThatCannotBeReadRaisesCannotOpen) {
    EXPECT_EQ(eval_error_id("checksum %" + dir_ + "/missing.bin 'md5"), "access/cannot-open");
    EXPECT_EQ(eval_error_id("checksum %" + dir_ + "/ 'md5"), "access/cannot-open");
    EXPECT_EQ(eval_error_id("checksum %" + dir_ + " 'md5"), "access/cannot-open");
}

// ---- random through the datatypes --------------------------------------------------------

using RandomActions = EvalTest;

TEST_F(RandomActions, ASeedReproducesTheReferenceSequence) {
    // random_reference.py: seed 42, twelve draws of 1..10.
    EXPECT_EQ(eval("random/seed 42 b: copy [] loop 12 [append b random 10] b"),
              "[8 6 7 9 10 7 4 2 2 2 1 3]");
    // The first raw draw after seed 42 is 168040107; a float draw scales it.
    EXPECT_EQ(eval("random/seed 42 (random 10.0) = (10.0 * 168040107 / 2147483647)"), "true");
    // Negative bounds draw from -|n| .. -1 (seed 7, n = -6).
    EXPECT_EQ(eval("random/seed 7 b: copy [] loop 6 [append b random -6] b"),
              "[-6 -4 -1 -6 -1 -3]");
    EXPECT_EQ(eval("random/seed 42 random 0"), "0");
    EXPECT_EQ(eval("random/seed 42"), "unset");
}

TEST_F(RandomActions, ShufflesFollowTheSeededDraws) {
    // The shuffle of the reference model with seed 3.
    EXPECT_EQ(eval("random/seed 3 random [1 2 3 4 5 6 7 8]"), "[4 5 7 8 1 3 2 6]");
    EXPECT_EQ(eval("random/seed 3 random \"abcdef\""), "\"bfcade\"");
    // Only the part from the index is shuffled; the series is returned.
    EXPECT_EQ(eval("random/seed 3 head random skip [a b 1 2 3 4 5 6 7 8] 2"),
              "[a b 4 5 7 8 1 3 2 6]");
}

TEST_F(RandomActions, ShuffleKeepsTheElements) {
    EXPECT_EQ(eval("s: [1 2 3 4 5 6 7 8 9 10 11 12] r: random copy s "
                   "all [(length? r) = 12  (sort copy r) = s]"),
              "true");
    EXPECT_EQ(eval("r: random copy \"hello, world\" (sort copy r) = sort copy \"hello, world\""),
              "true");
    EXPECT_EQ(eval("r: random copy #{0102030405} (sort copy r) = #{0102030405}"), "true");
}

TEST_F(RandomActions, DrawsStayInTheirRange) {
    EXPECT_EQ(eval("b: copy [] loop 2000 [append b random 10] "
                   "ok: true foreach x b [if any [x < 1 x > 10] [ok: false]] "
                   "reduce [ok length? unique b]"),
              "[true 10]");
    EXPECT_EQ(eval("ok: true loop 500 [x: random/secure 6 if any [x < 1 x > 6] [ok: false]] ok"),
              "true");
    EXPECT_EQ(eval("ok: true loop 500 [x: random/secure 2.5 if any [x < 0.0 x > 2.5] [ok: false]] "
                   "ok"),
              "true");
    EXPECT_EQ(eval("ok: true loop 500 [x: random 1 if x <> 1 [ok: false]] ok"), "true");
    EXPECT_EQ(eval("ok: true loop 200 [x: random $100 if any [x < $0 x > $100] [ok: false]] ok"),
              "true");
    EXPECT_EQ(eval("ok: true loop 200 [x: random 1-Jan-2000 if x >= 1-Jan-2000 [ok: false]] ok"),
              "true");
    EXPECT_EQ(eval("x: random/only [a b c] any [x = 'a x = 'b x = 'c]"), "true");
    EXPECT_EQ(eval("random/only []"), "none");
}

TEST_F(RandomActions, SeedsFromEveryKindOfValueRepeatTheDraws) {
    for (const char* seed : {"42", "2.5", "\"abc\"", "[1 2]", "1-Jan-2000", "$12.50", "true",
                             "3x4", "1.2.3"}) {
        const std::string src = std::string("random/seed ") + seed +
                                " a: reduce [random 1000000 random 1.0 random $99 "
                                "random 31-Dec-1999/12:00 random [1 2 3 4 5]] "
                                "random/seed " + seed +
                                " b: reduce [random 1000000 random 1.0 random $99 "
                                "random 31-Dec-1999/12:00 random [1 2 3 4 5]] a = b";
        EXPECT_EQ(eval(src), "true") << seed;
    }
    // Different seeds lead to different draws.
    EXPECT_EQ(eval("random/seed 1 a: random 1000000000 random/seed 2 b: random 1000000000 a = b"),
              "false");
}

TEST_F(RandomActions, TheServicesAreTheGenerator) {
    // The datatypes' draws are the generator's: the same seed through the
    // language and through the generator gives the same values.
    std::string got = eval("random/seed -5 b: copy [] loop 6 [append b random 1000000007] b");
    random_seed(-5);
    std::string expected = "[";
    for (int i = 0; i < 6; ++i) {
        if (i) expected += " ";
        expected += std::to_string(random_int(false, 1000000007));
    }
    expected += "]";
    EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace zan::evaltest
