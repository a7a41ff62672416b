// The short paths of the interpreter give what the general ones give: a
// set-word whose value needs no call, calls whose spec is plain words,
// loop bodies walked again, foreach over a block. Each row mixes the case
// the short path takes with the neighbouring case that it must leave to
// the general path.
#include "tests/unit/eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class FastPathTest : public EvalTest {};

TEST_F(FastPathTest, SetWordsWithInlineValues) {
    expect_cases({
        {"x: 1 + 2 * 3 x", "9"},
        {"x: y: 4 - 6 reduce [x y]", "[-2 -2]"},
        // Overflow leaves the inline path: the result is a float!.
        {"x: 2147483647 + 1 x", "2147483648.0"},
        {"x: -2147483648 - 1 x", "-2147483649.0"},
        {"x: 65536 * 65536 x", "4294967296.0"},
        {"x: 6 and 3 or 8 xor 1 x", "11"},
        {"x: 3 < 4 reduce [x 3 = 4 3 <> 4 3 >= 4]", "[true false true false]"},
        // Operands that are not two integers go the general way.
        {"x: 1 + 1.5 x", "2.5"},
        {"x: 1.5 + 1.5 x", "3.0"},
        {"x: \"a\" x", "\"a\""},
        {"f: func [a /local b] [b: a + 1 b: b * b b] f 3", "16"},
        // An object's word is set through the object's context.
        {"o: make object! [a: 1 f: func [] [a: a + 1]] o/f o/f o/a", "3"},
        {"n: 10 x: n + n x", "20"},
    });
}

TEST_F(FastPathTest, SetWordErrorsKeepTheirFrames) {
    expect_cases({
        {"x: 1 + \"a\"",
         "*** Script Error: + does not allow string! for its value2 argument\n"
         "*** Where: +\n*** Near : x: 1 + \"a\""},
        {"x: ()", "*** Script Error: x: needs a value\n*** Where: x\n*** Near : x: ()"},
        {"x: unset-word", "*** Script Error: unset-word has no value\n*** Where: x\n"
                          "*** Near : x: unset-word"},
        {"x: 1 + unset-word", "*** Script Error: unset-word has no value\n*** Where: +\n"
                              "*** Near : x: 1 + unset-word"},
    });
}

TEST_F(FastPathTest, CallsWithPlainSpecs) {
    expect_cases({
        {"f: func [a b] [a - b] f 10 3", "7"},
        {"f: func [a [integer!]] [a * 2] f 1 + 2", "6"},
        {"f: func [/local a b] [reduce [a b]] f", "[none none]"},
        {"f: func [x /local a] [a: x a] f 5", "5"},
        // Refinements, get-word and lit-word parameters take the long path.
        {"f: func [a /r b] [either r [a + b] [a]] reduce [f 1 f/r 1 2]", "[1 3]"},
        {"f: func ['w] [w] f abc", "abc"},
        {"f: func [:w] [w] f (1 + 2)", "(1 + 2)"},
        {"b: copy [] append b 1 append/only b [2] append/dup b 3 2 b", "[1 [2] 3 3]"},
        {"negate 5", "-5"},
        {"f: func [a [integer!]] [a] f \"s\"",
         "*** Script Error: f does not allow string! for its a argument\n*** Where: f\n"
         "*** Near : f \"s\""},
        {"f: func [a b] [a] f 1",
         "*** Script Error: f is missing its b argument\n*** Where: f\n*** Near : f 1"},
        {"negate \"s\"",
         "*** Script Error: negate does not allow string! for its number argument\n"
         "*** Where: negate\n*** Near : negate \"s\""},
        {"fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]] fib 20", "6765"},
    });
}

TEST_F(FastPathTest, LoopBodiesWalkedAgain) {
    expect_cases({
        {"n: 0 s: 0 while [n < 5] [n: n + 1 s: s + n] s", "15"},
        {"s: 0 repeat i 4 [s: s + i] s", "10"},
        {"s: 0 loop 3 [s: s + 2] s", "6"},
        {"n: 0 until [n: n + 1 n >= 4] n", "4"},
        {"n: 0 forever [n: n + 1 if n = 3 [break]] n", "3"},
        // A body that grows: each run sees the cells that were there when it
        // began.
        {"x: 0 body: [x: x + 1 if x = 1 [append body [x: x + 10]]] loop 3 body x", "23"},
        {"r: copy [] repeat i 5 [if i = 2 [continue] if i = 4 [break] append r i] r", "[1 3]"},
        {"loop 2 [1 + \"a\"]",
         "*** Script Error: + does not allow string! for its value2 argument\n"
         "*** Where: +\n*** Near : 1 + \"a\""},
    });
}

TEST_F(FastPathTest, ForeachOverBlocks) {
    expect_cases({
        {"s: 0 foreach x [1 2 3] [s: s + x] s", "6"},
        {"s: 0 foreach x next [1 2 3] [s: s + x] s", "5"},
        {"b: [1 2 3] s: 0 foreach x b [s: s + x clear next b] s", "1"},
        {"r: copy [] foreach x [a (b) \"c\"] [append r type? x] r",
         "[word! paren! string!]"},
        {"s: copy \"\" foreach c \"abc\" [insert s c] s", "\"cba\""},
        {"r: copy [] foreach [a b] [1 2 3] [append r reduce [a b]] r", "[1 2 3 none]"},
    });
}

TEST_F(FastPathTest, UnderCollectorStress) {
    set_collect_stress(true);
    expect_cases({
        {"f: func [n /local i s] [i: 0 s: 0 while [i < n] [i: i + 1 s: s + i and 255] s] f 40",
         "52"},
        {"b: copy [] repeat i 40 [append b i] s: 0 foreach x b [s: s + x] s", "820"},
        {"s: copy \"\" repeat i 30 [append s \"ab\"] length? s", "60"},
        {"f: func [a b /local c] [c: copy [] append c a append c b c] f [1] \"x\"",
         "[1 \"x\"]"},
    });
    set_collect_stress(false);
}

}  // namespace
}  // namespace zan::evaltest
