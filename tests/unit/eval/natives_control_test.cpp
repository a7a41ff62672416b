// Conditionals and loops: every native of the group, its truth test, its
// result and its errors; break and continue in every loop.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class ControlTest : public EvalTest {};

TEST_F(ControlTest, Conditionals) {
    expect_cases({
        {"if true [1]", "1"},
        {"if false [1]", "none"},
        {"if none [1]", "none"},
        {"if 0 [1]", "1"},                 // 0 is true
        {"if () [1]", "1"},                // the lenient test: unset! is true
        {"unless false [1]", "1"},
        {"unless true [1]", "none"},
        {"either 1 > 2 [\"a\"] [\"b\"]", "\"b\""},
        {"either [] [1] [2]", "1"},
        {"any []", "none"},
        {"all []", "none"},
        {"any [none false 3 4]", "3"},
        {"any [none false]", "none"},
        {"type? any [()]", "unset!"},     // any counts unset! as true
        {"all [1 2 3]", "3"},
        {"all [1 none 2]", "none"},
        {"all [1 false]", "none"},
        {"x: 0 any [x: 1 x: 2] x", "1"},   // stops at the first true value
        {"x: 0 all [x: 1 none x: 2] x", "1"},
    });
    EXPECT_EQ(eval_error_id("either () [1] [2]"), "script/no-return");
}

TEST_F(ControlTest, Switch) {
    expect_cases({
        {"switch 2 [1 [\"a\"] 2 [\"b\"]]", "\"b\""},
        {"switch 3 [1 [\"a\"]]", "none"},
        {"switch/default 3 [1 [\"a\"]] [\"d\"]", "\"d\""},
        {"switch 1 [1 2 [\"x\"] 3 [\"y\"]]", "\"x\""},   // values share the next block
        {"switch 2 [1 2 [\"x\"] 3 [\"y\"]]", "\"x\""},
        {"switch 'b [a [1] b [2]]", "2"},               // cases are not evaluated
        {"switch \"B\" [\"a\" [1] \"b\" [2]]", "2"},
        {"switch 1.0 [1 [\"int\"]]", "none"},           // the datatypes must agree
        {"switch [1] [[1] [2]]", "none"},               // a block value finds nothing
    });
}

TEST_F(ControlTest, Case) {
    expect_cases({
        {"case []", "none"},
        {"case [false [1]]", "none"},
        {"case [false [1] true [2]]", "2"},
        {"case [true [1] true [2]]", "1"},
        {"case/all [true [1] true [2]]", "2"},
        {"x: 0 case/all [true [x: x + 1] false [x: 10] true [x: x + 1]] x", "2"},
        {"case [1 < 2 3 + 4]", "7"},                    // a branch that is not a block
        {"case [false 1 true 2]", "2"},
    });
    EXPECT_EQ(eval_error_id("case [true]"), "script/need-value");
    EXPECT_EQ(eval_error_id("case [false [1] true]"), "script/need-value");
    EXPECT_EQ(eval_error_id("case [() [1]]"), "script/no-return");
}

TEST_F(ControlTest, CountedLoops) {
    expect_cases({
        {"loop 3 [1]", "1"},
        {"loop 0 [1]", "none"},
        {"loop -1 [1]", "none"},
        {"n: 0 loop 2.9 [n: n + 1] n", "2"},           // a float count is truncated
        {"n: 0 loop 0 [n: 1] n", "0"},                 // the body is not evaluated
        {"repeat i 3 [i * 10]", "30"},
        {"repeat i 0 [1]", "none"},
        {"repeat i 3 [] i", "3"},                      // the word keeps the last count
        {"s: 0 repeat i 4 [s: s + i] s", "10"},
        {"n: 0 while [n < 3] [n: n + 1] n", "3"},
        {"type? while [false] [1]", "unset!"},         // while gives unset! always
        {"n: 0 until [n: n + 1 n = 3] n", "3"},
        {"until [true]", "true"},
        {"forever [break]", "unset"},
        {"forever [break/return 4]", "4"},
        {"n: 0 forever [n: n + 1 if n = 5 [break]] n", "5"},
    });
    EXPECT_EQ(eval_error_id("while [()] [1]"), "script/no-return");
    EXPECT_EQ(eval_error_id("until [()]"), "script/no-return");
    EXPECT_EQ(eval_error_line("loop 2147483648.0 [1]").find("*** Script Error"), 0u);
}

TEST_F(ControlTest, BreakAndContinueInEveryLoop) {
    expect_cases({
        {"loop 10 [break/return 7]", "7"},
        {"n: 0 loop 10 [n: n + 1 if n = 3 [break]] n", "3"},
        {"n: 0 loop 5 [n: n + 1 continue n: 100] n", "5"},
        {"repeat i 10 [if i = 4 [break/return i * 2]]", "8"},
        {"s: 0 repeat i 5 [if even? i [continue] s: s + i] s", "9"},
        {"repeat i 10 [if i = 4 [break]] i", "4"},
        {"i: 0 while [i < 10] [i: i + 1 if i = 5 [break]] i", "5"},
        {"i: 0 s: 0 while [i < 5] [i: i + 1 if i = 2 [continue] s: s + i] s", "13"},
        {"n: 0 until [n: n + 1 if n = 2 [continue] n >= 4] n", "4"},
        {"until [break/return 9]", "9"},
        {"x: 0 foreach i [1 2 3 4] [if even? i [continue] x: x + i] x", "4"},
        {"foreach i [1 2 3 4] [if i = 3 [break/return i]]", "3"},
        {"b: [1 2 3 4] forall b [if b/1 = 3 [break]] b", "[1 2 3 4]"},
        {"n: 0 loop 3 [loop 3 [n: n + 1 break]] n", "3"},   // break leaves the inner loop only
    });
    EXPECT_EQ(eval_error_line("while [break] [1]"),
              "*** Throw Error: BREAK/CONTINUE cannot be used in WHILE condition block");
    EXPECT_EQ(eval_error_id("while [continue] [1]"), "throw/while-cond");
}

TEST_F(ControlTest, Foreach) {
    expect_cases({
        {"foreach x [1 2 3] [x * 10]", "30"},
        {"s: 0 foreach x [1 2 3] [s: s + x] s", "6"},
        {"foreach [a b] [1 2 3 4] [a + b]", "7"},
        {"r: copy [] foreach [a b] [1 2 3] [append r reduce [a b]] r", "[1 2 3 none]"},
        {"r: copy [] foreach c \"ab\" [append r c] r", "[#\"a\" #\"b\"]"},
        {"type? foreach x [] [1]", "unset!"},
        {"b: next [1 2 3] r: 0 foreach x b [r: r + x] r", "5"},
    });
    EXPECT_EQ(eval_error_line("foreach [] [1] [1]"), "*** Script Error: invalid argument: []");
    // A map! is walked by key and value, with a block of two words only.
    EXPECT_EQ(eval("m: make map! [a 1 b 2] r: copy [] foreach [k v] m [append r reduce [k v]] r"),
              "[a 1 b 2]");
    EXPECT_EQ(eval_error_id("foreach k make map! [a 1] [k]"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("foreach [k v w] make map! [a 1] [k]"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("foreach [a 1] [1] [1]"), "script/invalid-arg");
}

TEST_F(ControlTest, Forall) {
    expect_cases({
        {"b: [1 2 3] r: copy [] forall b [append r b/1] r", "[1 2 3]"},
        {"b: [1 2 3] forall b [b/1: b/1 * 2] b", "[2 4 6]"},
        {"b: next [1 2 3] forall b [] b", "[2 3]"},     // the word is set back
        {"s: \"abc\" n: 0 forall s [n: n + 1] n", "3"},
    });
    EXPECT_EQ(eval_error_id("b: [1 2 3] forall b [b: [4]]"), "script/bad-loop-series");
    EXPECT_EQ(eval_error_line("x: 5 forall x [1]"),
              "*** Script Error: forall does not allow integer! for its x argument");
}

TEST_F(ControlTest, RemoveEach) {
    expect_cases({
        {"b: [1 2 3 4] remove-each x b [even? x] b", "[1 3]"},
        {"remove-each [a b] [1 2 3 4 5] [a = 3]", "[1 2 5]"},
        {"b: [1 2 3] remove-each x b [continue true] b", "[1 2 3]"},
        {"b: [1 2 3 4] remove-each x b [if x = 3 [break] true] b", "[3 4]"},
        {"s: \"a1b2\" remove-each c s [c > #\"9\"] s", "\"12\""},
    });
}

// The fault mended: remove-each gives the series, not the value of the
// last evaluation of its body.
TEST_F(ControlTest, RemoveEachReturnsTheSeries) {
    expect_cases({
        {"remove-each x [1 2 3 4] [even? x]", "[1 3]"},
        {"b: [1 2 3 4] same? b remove-each x b [x > 2]", "true"},
        {"remove-each x [] [true]", "[]"},
        {"b: next [1 2 3 4] remove-each x b [x = 3]", "[2 4]"},
    });
}

}  // namespace
}  // namespace zan::evaltest
