// Every method and level gives every input of the corpus back.
#include <gtest/gtest.h>

#include "compress/compress_support.h"

namespace zan::test {
namespace {

struct MethodLevel {
    CompressMethod method;
    int level;
};

class RoundTrip : public ::testing::TestWithParam<MethodLevel> {};

TEST_P(RoundTrip, WholeCorpus) {
    const MethodLevel p = GetParam();
    for (const CorpusItem& item : corpus()) {
        SCOPED_TRACE(item.name);
        Bytes stream, back;
        ASSERT_EQ(compress_bytes(p.method, item.data, stream, p.level), CompressStatus::ok);
        ASSERT_EQ(decompress_bytes(p.method, stream, back), CompressStatus::ok);
        ASSERT_EQ(back.size(), item.data.size());
        EXPECT_TRUE(back == item.data);
        // The output limit is exact: the data's own size passes, one less not.
        if (!item.data.empty() && item.data.size() < 100000) {
            EXPECT_EQ(decompress_bytes(p.method, stream, back, item.data.size()), CompressStatus::ok);
            EXPECT_EQ(decompress_bytes(p.method, stream, back, item.data.size() - 1),
                      CompressStatus::too_large);
        }
    }
}

TEST_P(RoundTrip, SizeOfTheOutput) {
    const MethodLevel p = GetParam();
    Bytes text = text_like(1 << 20, 41), zeros = filled(1 << 20, 0), stream;
    if (p.level == COMPRESS_LEVEL_STORE) {
        // Stored blocks: the data, 5 bytes per block of 65535, the framing.
        size_t framing = p.method == CompressMethod::zlib ? 6 : p.method == CompressMethod::gzip ? 18 : 0;
        compress_bytes(p.method, text, stream, p.level);
        EXPECT_EQ(stream.size(), text.size() + 5 * (text.size() / 65535 + 1) + framing);
        return;
    }
    compress_bytes(p.method, text, stream, p.level);
    EXPECT_LT(stream.size(), text.size() * 2 / 3);
    compress_bytes(p.method, zeros, stream, p.level);
    // Fixed codes: 258 bytes per 15-bit match; LZ: 566 bytes per 22 bits.
    EXPECT_LT(stream.size(), zeros.size() / 100);
}

std::string param_name(const ::testing::TestParamInfo<MethodLevel>& info) {
    return std::string(test::method_name(info.param.method)) + "_level" +
           std::to_string(info.param.level);
}

INSTANTIATE_TEST_SUITE_P(Methods, RoundTrip,
                         ::testing::Values(MethodLevel{CompressMethod::lz, 6},
                                           MethodLevel{CompressMethod::deflate, 0},
                                           MethodLevel{CompressMethod::deflate, 6},
                                           MethodLevel{CompressMethod::zlib, 0},
                                           MethodLevel{CompressMethod::zlib, 6},
                                           MethodLevel{CompressMethod::gzip, 0},
                                           MethodLevel{CompressMethod::gzip, 9}),
                         param_name);

}  // namespace
}  // namespace zan::test
