// parse on text and binary input: charsets (bitset!), text in 1-, 2- and
// 4-byte units, case folding beyond ASCII, tags, and text, char and
// bitset values matched against bytes.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class ParseStringsTest : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        eval("digit: make bitset! \"0123456789\" alpha: make bitset! \"abcdefABCDEF\" "
             "not-a: make bitset! [not \"a\"]");
    }
};

TEST_F(ParseStringsTest, Charsets) {
    expect_cases({
        {"parse \"123\" [some digit]", "true"},
        {"parse \"12a\" [some digit]", "false"},
        {"parse \"12a\" [some digit alpha]", "true"},
        {"parse \"ab12\" [to digit 2 digit]", "true"},
        {"parse \"ab12\" [thru digit digit]", "true"},
        {"parse \"ab\" [to digit]", "false"},
        {"parse \"a1b2\" [some [alpha digit]]", "true"},
        {"n: 0 parse \"a1bb22\" [any [some alpha (n: n + 1) | some digit]] n", "2"},
        // A complemented charset holds every code point it does not exclude.
        {"parse \"bcd\" [some not-a]", "true"},
        {"parse \"bad\" [some not-a]", "false"},
        {"parse \"日本\" [2 not-a]", "true"},
        {"parse \"1\" [digit end]", "true"},
        {"parse \"\" [any digit]", "true"},
    });
}

TEST_F(ParseStringsTest, WideText) {
    expect_cases({
        {"parse \"日本語\" [3 skip]", "true"},
        {"parse \"日本語\" [\"日\" to \"語\" skip]", "true"},
        {"parse \"日本語\" [thru #\"本\" \"語\"]", "true"},
        {"parse \"😀a\" [skip \"a\"]", "true"},
        {"parse \"a😀b\" [\"a\" \"😀\" \"b\"]", "true"},
        {"parse \"a😀b\" [thru #\"😀\" \"b\"]", "true"},
        {"parse \"a😀b\" [copy x to \"b\" skip] x", "\"a😀\""},
        {"parse \"😀😀\" [2 #\"😀\"]", "true"},
        // Case folding beyond ASCII.
        {"parse \"Éa\" [\"éa\"]", "true"},
        {"parse/case \"Éa\" [\"éa\"]", "false"},
        {"parse \"ÉÉ\" [some #\"é\"]", "true"},
        {"parse \"xÉ\" [to \"é\" skip]", "true"},
    });
}

TEST_F(ParseStringsTest, Tags) {
    // A tag matches its text with the angle brackets.
    expect_cases({
        {"parse \"<a>b\" [<a> \"b\"]", "true"},
        {"parse \"<a>\" [<a>]", "true"},
        {"parse \"a\" [<a>]", "false"},
        {"parse \"x<a>y\" [thru <a> \"y\"]", "true"},
        {"parse \"x<a>y\" [to <a> 3 skip \"y\"]", "true"},
        {"parse \"<b><b>\" [2 <b>]", "true"},
        {"parse <abc> [\"a\" skip \"c\"]", "true"},
    });
}

TEST_F(ParseStringsTest, OtherTextTypes) {
    expect_cases({
        {"parse %file.txt [thru \".\" \"txt\"]", "true"},
        {"parse http://x.com [\"http\" thru \"//\" to end]", "true"},
        {"parse a@b.c [to #\"@\" skip \"b.c\"]", "true"},
        {"parse \"abc\" [%abc]", "true"},
    });
}

TEST_F(ParseStringsTest, Binary) {
    expect_cases({
        {"parse #{010203} [#{01} some skip]", "true"},
        {"parse #{010203} [#{0102} #{03}]", "true"},
        {"parse #{0102} [#{0103}]", "false"},
        {"parse #{616263} [\"abc\"]", "true"},
        {"parse #{616263} [#\"a\" \"bc\"]", "true"},
        // Text is matched by its UTF-8 bytes, without case folding.
        {"parse #{C3A961} [\"é\" \"a\"]", "true"},
        {"parse #{C3A961} [thru \"é\" \"a\"]", "true"},
        {"parse #{41} [\"a\"]", "false"},
        {"parse #{3C613E} [<a>]", "true"},
        {"parse #{0102} [to #{02} skip]", "true"},
        {"parse #{6162} [some alpha]", "true"},
        {"parse #{61FF} [alpha not-a]", "true"},
        {"parse #{616161} [some #\"a\"]", "true"},
        {"parse #{616161} [3 \"a\"]", "true"},
        {"parse #{} [end]", "true"},
        {"parse #{01} [\"\" #{} skip]", "true"},
    });
}

}  // namespace
}  // namespace zan::evaltest
