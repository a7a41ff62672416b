// Damaged streams: every truncation of a valid stream is an error, and
// flipped bits or random bytes end in an error or, where the damage falls in
// a part of the stream that nothing checks, in a result — never a crash,
// never output past the limit. Run it under the sanitizer build too.
#include <gtest/gtest.h>
#include <zlib.h>

#include "compress/compress_support.h"

namespace zan::test {
namespace {

struct Sample {
    std::string name;
    CompressMethod method;
    Bytes plain;
    Bytes stream;
};

Bytes zlib_oracle(const Bytes& in, int level) {
    uLongf n = compressBound(uLong(in.size()));
    Bytes out(n);
    EXPECT_EQ(compress2(out.data(), &n, in.data(), uLong(in.size()), level), Z_OK);
    out.resize(n);
    return out;
}

// Our streams of small and mid-size inputs for each method, plus the
// oracle's zlib streams, whose dynamic blocks exercise the table decoding.
const std::vector<Sample>& samples() {
    static const std::vector<Sample> v = [] {
        std::vector<Sample> s;
        const std::pair<std::string, Bytes> inputs[] = {
            {"empty", {}},
            {"text_300", text_like(300, 61)},
            {"text_6k", text_like(6000, 62)},
            {"mixed_70k", [] {
                 Bytes b = text_like(50000, 63);
                 Bytes r = random_bytes(20000, 64);
                 b.insert(b.begin() + 20000, r.begin(), r.end());
                 return b;
             }()},
        };
        for (CompressMethod m : {CompressMethod::lz, CompressMethod::deflate, CompressMethod::zlib,
                                 CompressMethod::gzip}) {
            for (const auto& [name, plain] : inputs) {
                Bytes stream;
                compress_bytes(m, plain, stream);
                s.push_back({std::string(test::method_name(m)) + "_" + name, m, plain, stream});
            }
        }
        for (const auto& [name, plain] : inputs) {
            s.push_back({"oracle_zlib9_" + name, CompressMethod::zlib, plain, zlib_oracle(plain, 9)});
            s.push_back({"oracle_zlib0_" + name, CompressMethod::zlib, plain, zlib_oracle(plain, 0)});
        }
        return s;
    }();
    return v;
}

TEST(Damage, EveryTruncationIsAnError) {
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        Bytes back;
        ASSERT_EQ(decompress_bytes(s.method, s.stream, back), CompressStatus::ok);
        ASSERT_TRUE(back == s.plain);
        // All prefixes of short streams; of long ones every 97th and the
        // last 64 bytes.
        for (size_t len = 0; len < s.stream.size(); ++len) {
            if (s.stream.size() > 4096 && len % 97 != 0 && len + 64 < s.stream.size()) continue;
            std::span<const u8> cut(s.stream.data(), len);
            CompressStatus st = decompress_bytes(s.method, cut, back);
            ASSERT_NE(st, CompressStatus::ok) << "prefix of " << len << " bytes decoded";
            ASSERT_TRUE(back.empty());
        }
    }
}

TEST(Damage, FlippedBitsNeverCrashOrPassChecksums) {
    std::mt19937 rng(65);
    size_t errors = 0, results = 0;
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        if (s.stream.empty()) continue;
        const size_t limit = s.plain.size() * 2 + 1024;
        for (int trial = 0; trial < 400; ++trial) {
            Bytes bad = s.stream;
            int flips = 1 + int(rng() % 3);
            for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] ^= u8(1u << (rng() % 8));
            Bytes back;
            CompressStatus st = decompress_bytes(s.method, bad, back, limit);
            if (st != CompressStatus::ok) {
                ++errors;
                EXPECT_TRUE(back.empty());
                continue;
            }
            ++results;
            EXPECT_LE(back.size(), limit);
            // zlib and gzip check the output against their trailers: a result
            // means the damage hit a field nothing depends on (gzip's time,
            // flags of no effect, padding bits), so the data is intact.
            if (s.method == CompressMethod::zlib || s.method == CompressMethod::gzip) {
                EXPECT_TRUE(back == s.plain) << "trial " << trial;
            }
        }
    }
    EXPECT_GT(errors, results);
}

TEST(Damage, RandomBytesAfterValidHeaders) {
    std::mt19937 rng(66);
    const Bytes prefixes[] = {
        {},
        {0x78, 0x9C},
        {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0, 3},
        {0x1F, 0x8B, 0x08, 0x1E, 0, 0, 0, 0, 0, 3},
        {0x40, 0, 0, 0, 0x00, 0x10, 0, 0, 0x00, 0x10, 0, 0},  // LZ: P 64, U 4096, L 4096
        {0x04},                                              // dynamic block header start
        {0x05},
    };
    for (int trial = 0; trial < 3000; ++trial) {
        const Bytes& prefix = prefixes[size_t(trial) % std::size(prefixes)];
        Bytes junk = prefix;
        size_t n = rng() % 400;
        for (size_t i = 0; i < n; ++i) junk.push_back(u8(rng()));
        for (CompressMethod m : {CompressMethod::lz, CompressMethod::deflate, CompressMethod::zlib,
                                 CompressMethod::gzip}) {
            Bytes back;
            CompressStatus st = decompress_bytes(m, junk, back, 1 << 20);
            if (st != CompressStatus::ok) {
                EXPECT_TRUE(back.empty());
            }
            EXPECT_LE(back.size(), size_t{1} << 20);
        }
    }
}

TEST(Damage, BufferRoutinesSurviveDamage) {
    std::mt19937 rng(67);
    using Fn = int (*)(u8*, size_t&, const u8*, size_t);
    struct Case { CompressMethod method; Fn fn; };
    for (const Case& c : {Case{CompressMethod::deflate, inflate_decompress},
                          Case{CompressMethod::zlib, zlib_decompress},
                          Case{CompressMethod::gzip, gzip_decompress}}) {
        Bytes plain = text_like(4000, 68), stream;
        compress_bytes(c.method, plain, stream);
        for (int trial = 0; trial < 300; ++trial) {
            Bytes bad = stream;
            bad[rng() % bad.size()] ^= u8(1u << (rng() % 8));
            if (trial % 2) bad.resize(rng() % bad.size());
            Bytes buf(64);
            size_t size = buf.size();
            int rc = c.fn(buf.data(), size, bad.data(), bad.size());
            EXPECT_GE(rc, DEFLATE_OK);
            EXPECT_LE(rc, DEFLATE_TOO_LARGE);
        }
    }
}

}  // namespace
}  // namespace zan::test
