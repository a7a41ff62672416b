// transcode, compress and decompress.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class NativesTranscodeTest : public EvalTest {};

TEST_F(NativesTranscodeTest, LoadsValues) {
    expect_cases({
        {"transcode \"1 2 [a b]\"", "[1 2 [a b]]"},
        {"transcode \"\"", "[]"},
        {"transcode to binary! \"1 2\"", "[1 2]"},
        {"transcode/one \"abc def\"", "abc"},
        {"transcode/next \"abc def\"", "[abc \" def\"]"},
        {"transcode/next \"[1 2] x\"", "[[1 2] \" x\"]"},
        {"b: [x] transcode/into \"1 2\" b", "[x 1 2]"},
        {"b: [x] transcode/into \"1 2\" b b", "[x 1 2]"},
        {"b: [x] transcode/into/one \"1 2\" b", "[x 1]"},
    });
}

TEST_F(NativesTranscodeTest, Part) {
    expect_cases({
        {"transcode/part \"1 2 3\" 3", "[1 2]"},
        {"transcode/part to binary! \"1 2 3\" 3", "[1 2]"},
        {"transcode/part \"1 2 3\" 0", "[]"},
        {"transcode/part \"1 2 3\" -5", "[]"},
        {"transcode/part \"1 2 3\" 100", "[1 2 3]"},
        {"transcode/part next \"1 2 3\" 3", "[2]"},
        {"b: to binary! \"1 2 3\" transcode/part b skip b 3", "[1 2]"},
        {"b: to binary! \"1 2 3\" transcode/part skip b 2 skip b 3", "[2]"},
        {"b: to binary! \"1 2 3\" transcode/part skip b 2 b", "[]"},
    });
    EXPECT_EQ(eval_error_id("transcode/part \"1 2\" #{3132}"), "script/not-same-type");
}

TEST_F(NativesTranscodeTest, ByteOrderMarkIsSkipped) {
    expect_cases({
        {"transcode #{EFBBBF312032}", "[1 2]"},
        {"transcode/next #{EFBBBF312032}", "[1 #{2032}]"},
        {"transcode #{EFBBBF}", "[]"},
        {"transcode/next #{EFBBBF31}", "[1 #{}]"},
    });
}

TEST_F(NativesTranscodeTest, ScanModes) {
    expect_cases({
        {"transcode/scan \"\"", "none"},
        {"transcode/prescan \"\"", "none"},
        {"transcode/scan \"123\"", "integer!"},
        {"transcode/scan \"abc\"", "word!"},
        {"transcode/scan \"1a\"", "error!"},
        {"transcode/scan/next \"123 abc\"", "[integer! \" abc\"]"},
        {"transcode/scan/one \"123 abc\"", "integer!"},
    });
}

TEST_F(NativesTranscodeTest, TraceCallback) {
    expect_cases({
        {"transcode/trace \"1 2\" func [event input type line token] [true]", "[1 2]"},
        {"n: 0 transcode/trace \"1 2 3\" func [event input type line token] "
         "[[load] n: n + 1 true] n",
         "3"},
        // A false answer to load drops the value.
        {"transcode/trace \"1 2 3\" func [event input type line token] [[load] token <> 2]",
         "[1 3]"},
    });
}

TEST_F(NativesTranscodeTest, SyntaxErrors) {
    EXPECT_EQ(eval_error_id("transcode \"[1 2\""), "syntax/missing");
    EXPECT_EQ(eval_error_line("transcode \"[1 2\""),
              "*** Syntax Error: (line 1) missing ] at [1 2");
    EXPECT_EQ(eval_error_line("transcode \"1 2]\""),
              "*** Syntax Error: (line 1) missing [ at 1 2]");
}

TEST_F(NativesTranscodeTest, CompressionRoundTrips) {
    expect_cases({
        {"to string! decompress compress \"hello hello hello\" 'zlib 'zlib",
         "\"hello hello hello\""},
        {"to string! decompress compress \"hello hello hello\" 'deflate 'deflate",
         "\"hello hello hello\""},
        {"to string! decompress compress \"hello hello hello\" 'gzip 'gzip",
         "\"hello hello hello\""},
        {"to string! decompress compress \"h\u00e9llo \u20ac\" 'zlib 'zlib",
         "\"h\u00e9llo \u20ac\""},
        {"decompress compress #{00FF00FF} 'gzip 'gzip", "#{00FF00FF}"},
        {"decompress compress next #{00FF00FF} 'zlib 'zlib", "#{FF00FF}"},
        // Empty input gives a valid stream that decompresses to nothing.
        {"decompress compress \"\" 'zlib 'zlib", "#{}"},
        {"decompress compress \"\" 'deflate 'deflate", "#{}"},
        {"decompress compress #{} 'gzip 'gzip", "#{}"},
        {"type? compress \"\" 'zlib", "binary!"},
        {"compress \"\" 'zlib", "#{7801030000000001}"},
        {"compress \"a\" 'ZLIB", "#{78014B040000620062}"},
        // /size gives the room; it is ignored for gzip.
        {"to string! decompress/size compress \"hello\" 'zlib 'zlib 100", "\"hello\""},
        {"to string! decompress/size compress \"hello\" 'zlib 'zlib 5", "\"hello\""},
        {"to string! decompress/size compress \"hello\" 'gzip 'gzip 1", "\"hello\""},
    });
}

TEST_F(NativesTranscodeTest, CompressionErrors) {
    EXPECT_EQ(eval_error_id("compress \"a\" 'foo"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("compress \"a\" 'lz"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("decompress #{00} 'foo"), "script/invalid-arg");
    // Corrupt, truncated and mislabelled streams.
    EXPECT_EQ(eval_error_id("decompress #{0102030405} 'zlib"), "script/invalid-data");
    EXPECT_EQ(eval_error_id("decompress #{} 'gzip"), "script/invalid-data");
    EXPECT_EQ(eval_error_id("decompress #{7801030000000002} 'zlib"), "script/invalid-data");
    EXPECT_EQ(eval_error_id("b: compress \"hello hello\" 'gzip decompress copy/part b 10 'gzip"),
              "script/invalid-data");
    EXPECT_EQ(eval_error_id("decompress compress \"hello\" 'zlib 'gzip"), "script/invalid-data");
    EXPECT_EQ(eval_error_id("decompress/size compress \"hello\" 'zlib 'zlib 2"),
              "script/invalid-data");
    EXPECT_EQ(eval_error_line("decompress #{0102} 'deflate"),
              "*** Script Error: data not in correct format: none");
}

}  // namespace
}  // namespace zan::evaltest
