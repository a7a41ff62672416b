// Function makers, do, reduce, compose, get, set, bind, in, print, prin and
// stats.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class EvalNativesTest : public EvalTest {};

TEST_F(EvalNativesTest, FunctionMakers) {
    expect_cases({
        {"f: func [a b] [a + b] f 1 2", "3"},
        {"does [1]", "func [][1]"},
        {"has [a b] [a]", "func [/local a b][a]"},
        {"f: does [7] f", "7"},
        {"f: has [x] [x: 5 x] f", "5"},
        {"f: func [] [] type? f", "unset!"},
        // function makes the set-words of its body local, also in nested blocks
        {"x: 1 f: function [] [if true [x: 2] x] reduce [f x]", "[2 1]"},
        {"f: function [] [repeat k 2 [] k] reduce [f type? get/any 'k]", "[2 unset!]"},
        {"f: function [a] [b: a * 2] f 4", "8"},
        {"b: next [x n] f: func b [n] f 3", "3"},          // the spec from its index
    });
    EXPECT_EQ(eval_error_id("func [a a] [1]"), "script/dup-vars");
    EXPECT_EQ(eval_error_id("func [1] [1]"), "script/bad-func-def");
}

TEST_F(EvalNativesTest, Do) {
    expect_cases({
        {"do [1 + 1]", "2"},
        {"do \"1 + 2\"", "3"},
        {"do 5", "5"},
        {"f: func [] [9] do 'f", "9"},
        {"f: func [] [9] do :f", "func [][9]"},           // a literal function is returned
        {"b: [1 2] do 'b", "[1 2]"},
        {"do/next [1 + 2 3 * 4] 'p", "3"},
        {"do/next [1 + 2 3 * 4] 'p p", "[3 * 4]"},
        {"do/next [] 'p p", "[]"},
        {"type? do []", "unset!"},
        {"b: [1 2 3] do next b", "3"},
    });
    EXPECT_EQ(eval_error_id("do make error! [type: 'math id: 'zero-divide]"), "math/zero-divide");
    // A path is evaluated as one: a function at its end is called, named by
    // the path's element.
    EXPECT_EQ(eval_error_line("o: make object! [f: func [x] [x + 1]] do 'o/f"),
              "*** Script Error: f is missing its x argument");
}

TEST_F(EvalNativesTest, Reduce) {
    expect_cases({
        {"reduce [1 + 1 2 * 3]", "[2 6]"},
        {"reduce []", "[]"},
        {"f: func [] [5] reduce [f]", "[5]"},                    // a function is called
        {"type? reduce :append", "action!"},                     // a function value: as it is
        {"reduce 1 + 2", "3"},
        {"b: [0] reduce/into [1 2] b", "[0 1 2]"},
        {"b: [0] reduce/into [1 + 2] tail b b", "[0 3]"},
        {"reduce [()]", "[unset]"},
    });
}

TEST_F(EvalNativesTest, Compose) {
    expect_cases({
        {"compose [a (1 + 2) b]", "[a 3 b]"},
        {"compose [(1) ([2 3]) ()]", "[1 2 3]"},                // unset adds nothing
        {"compose [([])]", "[]"},
        {"compose/only [([2 3])]", "[[2 3]]"},
        {"compose [[(3)]]", "[[(3)]]"},
        {"compose/deep [[(1 + 1)] (2)]", "[[2] 2]"},
        {"compose/into [(1) (2)] b: [x]", "[1 2 x]"},
    });
    // The interpreter's type check comes first.
    EXPECT_EQ(eval_error_line("compose 1"),
              "*** Script Error: compose does not allow integer! for its value argument");
}

TEST_F(EvalNativesTest, GetAndSet) {
    expect_cases({
        {"a: 5 get 'a", "5"},
        {"type? get 'append", "action!"},
        {"type? get/any 'never-set-word", "unset!"},
        {"b: [x 1] get 'b/x", "1"},
        {"o: make object! [a: 1 b: 2] get o", "[1 2]"},
        {"set 'a 3 a", "3"},
        {"set [a b] [1 2] reduce [a b]", "[1 2]"},
        {"set [a b] [1] reduce [a b]", "[1 none]"},
        {"set [a b] 7 reduce [a b]", "[7 7]"},
        {"set/only [a b] [1 2] reduce [a b]", "[[1 2] [1 2]]"},
        {"a: 1 b: 2 set/some [a b] reduce [5 none] reduce [a b]", "[5 2]"},
        {"set 'a 3", "3"},
        {"b: [x 1] set 'b/x 5 b", "[x 5]"},
        {"o: make object! [a: 1 b: 2] set o [8 9] reduce [o/a o/b]", "[8 9]"},
        {"set/any 'a () type? get/any 'a", "unset!"},
    });
    EXPECT_EQ(eval_error_line("get 'never-set-word"),
              "*** Script Error: never-set-word has no value");
    EXPECT_EQ(eval_error_line("set 'a ()"), "*** Script Error: a needs a value");
    EXPECT_EQ(eval_error_line("set [a 1] 2"), "*** Script Error: invalid argument: 1");
    EXPECT_EQ(eval_error_id("set [a b] reduce [1 ()]"), "script/need-value");
}

TEST_F(EvalNativesTest, BindAndIn) {
    expect_cases({
        {"o: make object! [a: 5] b: bind [a] o do b", "5"},
        {"o: make object! [a: 5] a: 1 b: [a] c: bind/copy b o reduce [do b do c]", "[1 5]"},
        {"o: make object! [a: 5] w: bind 'a o get w", "5"},
        {"o: make object! [a: 5] w: bind 'zz o w", "zz"},
        {"o: make object! [a: 5] in o 'a", "a"},
        {"o: make object! [a: 5] get in o 'a", "5"},
        {"o: make object! [a: 5] in o 'zz", "none"},
        {"o: make object! [a: 5] get in o /a", "5"},
        {"f: func [x] [x] type? in :f 'x", "word!"},
        {"o: make object! [a: 5] b: bind [[a]] o do b/1", "5"},   // nested blocks too
    });
}

TEST_F(EvalNativesTest, PrintAndPrin) {
    EXPECT_EQ(eval("print \"hi\""), "unset");
    EXPECT_EQ(printed_text(), "hi\n");
    eval("prin \"a\" prin \"b\"");
    EXPECT_EQ(printed_text(), "ab");
    eval("print [1 + 1 \"a\" [2 3]]");
    EXPECT_EQ(printed_text(), "2 a 2 3\n");
    eval("print 42");
    EXPECT_EQ(printed_text(), "42\n");
    eval("print []");
    EXPECT_EQ(printed_text(), "\n");
    eval("print next \"abc\"");
    EXPECT_EQ(printed_text(), "bc\n");
    // a print inside a reduced print shares the buffer safely
    eval("print [1 (print [2 3] 4) 5]");
    EXPECT_EQ(printed_text(), "2 3\n1 4 5\n");
}

TEST_F(EvalNativesTest, LastNewlineFlag) {
    eval("prin \"x\"");
    EXPECT_FALSE(g_print_last_newline);
    eval("print \"x\"");
    EXPECT_TRUE(g_print_last_newline);
    printed_text();
}

TEST_F(EvalNativesTest, PrintBufferIsRestoredAfterAnExit) {
    eval("loop 1 [print [1 break 2]]");
    EXPECT_EQ(printed_text(), "");
    eval("try [print [1 x-unset 2]]");
    EXPECT_EQ(printed_text(), "");
    eval("print [3]");
    EXPECT_EQ(printed_text(), "3\n");
    EXPECT_EQ(block_length(natives_print_buffer()), 0);
}

TEST_F(EvalNativesTest, Stats) {
    EXPECT_EQ(eval("type? stats"), "integer!");
    EXPECT_EQ(eval("stats > 0"), "true");
    EXPECT_EQ(eval("type? stats/info"), "block!");
    EXPECT_EQ(eval("length? stats/info"), "5");
}

}  // namespace
}  // namespace zan::evaltest
