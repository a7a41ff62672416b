// Set operation natives.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class NativesSetsTest : public EvalTest {};

TEST_F(NativesSetsTest, Blocks) {
    expect_cases({
        {"union [1 2] [2 3]", "[1 2 3]"},
        {"unique [1 2 1 3]", "[1 2 3]"},
        {"intersect [1 2 3] [2 3 4]", "[2 3]"},
        {"exclude [1 2 3] [2]", "[1 3]"},
        {"difference [1 2] [2 3]", "[1 3]"},
        {"union/skip [a 1 b 2] [a 3 c 4] 2", "[a 1 b 2 c 4]"},
        {"union [a A] [a]", "[a]"},
        {"union/case [a A] [a]", "[a A]"},
        {"unique/case [a A a]", "[a A]"},
        // A block and a hash! mix; the result is then a hash!.
        {"union [1 2] make hash! [2 3]", "make hash! [1 2 3]"},
        {"intersect make hash! [1 2] [2]", "make hash! [2]"},
    });
    EXPECT_EQ(eval_error_id("union/skip [1 2] [3 4] 0"), "script/invalid-refine-arg");
}

TEST_F(NativesSetsTest, Strings) {
    expect_cases({
        {"union \"abc\" \"bcd\"", "\"abcd\""},
        {"unique \"aabbc\"", "\"abc\""},
        {"intersect \"abc\" \"bcd\"", "\"bc\""},
        {"exclude \"abc\" \"b\"", "\"ac\""},
        {"difference \"abc\" \"bcd\"", "\"ad\""},
        {"union \"aB\" \"Ab\"", "\"aB\""},
        {"union/case \"aB\" \"Ab\"", "\"aBAb\""},
    });
}

TEST_F(NativesSetsTest, Typesets) {
    expect_cases({
        {"union make typeset! [integer!] make typeset! [float!]",
         "make typeset! [integer! float!]"},
        {"intersect make typeset! [integer! float!] make typeset! [float!]",
         "make typeset! [float!]"},
        {"exclude make typeset! [integer! float!] make typeset! [float!]",
         "make typeset! [integer!]"},
        {"difference make typeset! [integer! float!] make typeset! [float! string!]",
         "make typeset! [string! integer!]"},
    });
}

TEST_F(NativesSetsTest, Bitsets) {
    expect_cases({
        {"union make bitset! \"a\" make bitset! \"b\"",
         "make bitset! #{00000000000000000000000060}"},
        {"intersect make bitset! \"ab\" make bitset! \"bc\"",
         "make bitset! #{00000000000000000000000020}"},
        {"exclude make bitset! \"ab\" make bitset! \"bc\"",
         "make bitset! #{00000000000000000000000040}"},
        {"difference make bitset! \"ab\" make bitset! \"bc\"",
         "make bitset! #{00000000000000000000000050}"},
        {"complement? make bitset! \"a\"", "false"},
        {"complement? complement make bitset! \"a\"", "true"},
    });
    EXPECT_EQ(eval_error_id("union make bitset! \"a\" [1]"), "script/expect-val");
}

TEST_F(NativesSetsTest, DatesGiveTheTimeBetween) {
    expect_cases({
        {"difference 2-Jan-2000 1-Jan-2000", "24:00:00"},
        {"difference 1-Jan-2000/10:00 1-Jan-2000/12:30", "-2:30:00"},
        {"type? difference 2-Jan-2000 1-Jan-2000", "time!"},
    });
    EXPECT_EQ(eval_error_id("union 1-Jan-2000 2-Jan-2000"), "script/expect-arg");
    EXPECT_EQ(eval_error_id("exclude 1-Jan-2000 2-Jan-2000"), "script/expect-arg");
}

TEST_F(NativesSetsTest, OperandsMustAgree) {
    EXPECT_EQ(eval_error_id("union \"abc\" [1]"), "script/expect-val");
    EXPECT_EQ(eval_error_line("union \"abc\" [1]"),
              "*** Script Error: expected string! not block!");
    EXPECT_EQ(eval_error_line("union [1] \"abc\""),
              "*** Script Error: expected block! not string!");
    EXPECT_EQ(eval_error_id("difference 1-Jan-2000 [1]"), "script/expect-val");
    EXPECT_EQ(eval_error_id("intersect make typeset! [integer!] [1]"), "script/expect-val");
}

}  // namespace
}  // namespace zan::evaltest
