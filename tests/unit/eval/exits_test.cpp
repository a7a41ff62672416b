// Non-local exits: break, continue, return, exit and throw through every
// kind of frame (try, try/all, catch, catch/name, loops, functions, do,
// parens, reduce, paths), and catch and try themselves.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class ExitsTest : public EvalTest {};

TEST_F(ExitsTest, ReturnAndExit) {
    expect_cases({
        {"f: func [x] [return x + 1 99] f 1", "2"},
        {"f: func [] [exit 99] type? f", "unset!"},
        {"f: func [] [loop 5 [return 3] 4] f", "3"},                  // through a loop
        {"f: func [] [foreach x [1 2] [while [true] [return x]]] f", "1"},
        {"f: func [] [try [return 5] 6] f", "5"},                     // through try
        {"f: func [] [catch [return 5] 6] f", "5"},                   // through catch
        {"f: func [] [do [return 5] 6] f", "5"},                      // through do
        {"f: func [] [(return 5) 6] f", "5"},                         // through a paren
        {"f: func [] [reduce [1 return 5] 6] f", "5"},
        {"f: func [] [if true [either false [1] [return 7]] 8] f", "7"},
        {"g: func [] [return 1] f: func [] [g + 10] f", "11"},        // only the inner one
        {"f: func [n] [if n = 0 [return 0] 1 + f n - 1] f 10", "10"},
        {"f: func [] [a: return 4 5] f", "4"},                         // in a set-word
        {"b: [x 1] f: func [] [b/x: return 4 5] f", "4"},             // in a set-path
        {"f: func [x] [x] g: func [] [f return 6 7] g", "6"},         // in an argument
        {"f: func [] [1 + return 6] f", "6"},                         // a right operand
        {"f: func [] [case [true [return 2]] 3] f", "2"},
        {"f: func [] [switch 1 [1 [return 2]] 3] f", "2"},
        {"f: func [] [any [return 2] 3] f", "2"},
        {"f: func [] [all [return 2] 3] f", "2"},
    });
    EXPECT_EQ(eval_error_line("return 1"),
              "*** Throw Error: return or exit not in function");
    EXPECT_EQ(eval_error_id("exit"), "throw/return");
    // try/all is a barrier
    EXPECT_EQ(eval("f: func [] [e: try/all [return 1] 2] f"), "2");
    EXPECT_EQ(eval("f: func [] [e: try/all [return 1] e/id] f"), "return");
}

TEST_F(ExitsTest, BreakAndContinueThroughFrames) {
    expect_cases({
        {"loop 3 [try [break/return 1]]", "1"},                 // plain try lets it pass
        {"loop 3 [catch [break/return 1]]", "1"},
        {"loop 3 [do [break/return 1]]", "1"},
        {"loop 3 [f: func [] [break/return 5] f]", "5"},       // out of a function
        {"loop 3 [(break/return 1)]", "1"},
        {"loop 3 [reduce [1 break/return 1]]", "1"},
        {"n: 0 loop 3 [n: n + 1 try [continue] n: 100] n", "3"},
        {"loop 1 [e: try/all [break] e/id]", "break"},          // try/all stops it
    });
    EXPECT_EQ(eval_error_line("break"), "*** Throw Error: no loop to break");
    EXPECT_EQ(eval_error_line("continue"), "*** Throw Error: no loop to continue");
    EXPECT_EQ(eval("e: try/all [continue] e/id"), "continue");
    EXPECT_EQ(eval("e: try/all [break] e/id"), "break");
}

TEST_F(ExitsTest, ThrowAndCatch) {
    expect_cases({
        {"catch [throw 5 6]", "5"},
        {"catch [1 2]", "2"},
        {"catch [loop 10 [throw 3]]", "3"},                        // through a loop
        {"f: func [] [throw 8] catch [f]", "8"},                   // out of a function
        {"catch [try [throw 4]]", "4"},                            // through try
        {"catch [do [throw 4]]", "4"},
        {"catch/name [throw/name 1 'a] 'a", "1"},
        {"catch/name [throw/name 1 'b] [a b]", "1"},               // a block of names
        {"catch [catch/name [throw/name 2 'x] 'y]", "2"},          // no match: outward
        {"catch [catch/name [throw 3] 'y]", "3"},                  // unnamed passes a named catch
        {"catch/name [catch [throw/name 4 'q] 5] 'q", "5"},        // plain catch takes every throw
        {"catch/name [throw/name 1 'A] 'a", "1"},                  // names compare folded
        {"f: func [] [catch [return 3] 4] f", "3"},
    });
    EXPECT_EQ(eval_error_line("throw 5"), "*** Throw Error: no catch for throw: 5");
    EXPECT_EQ(eval_error_line("catch/name [throw/name 1 'a] [a 1]"),
              "*** Script Error: invalid catch argument: [a 1]");
    EXPECT_EQ(eval_error_id("catch/name [throw/name 1 'a] 'b"), "throw/throw");
}

TEST_F(ExitsTest, Try) {
    expect_cases({
        {"try [1 + 1]", "2"},
        {"e: try [1 / 0] e/id", "zero-divide"},
        {"e: try [x-unset] e/id", "no-value"},
        {"e: try [x-unset] e/where", "try"},
        {"type? try [make error! \"boom\"]", "error!"},
        {"f: func [] [x-unset] e: try [f] e/where", "f"},
        {"try [try [1 / 0] 5]", "5"},
        {"e: try [loop 3 [x-unset]] e/id", "no-value"},           // errors pass loops
        {"e: try [catch [x-unset]] e/id", "no-value"},            // and catch
        {"f: func [] [x-unset] e: try [f] e/id", "no-value"},     // and functions
        {"e: try/all [throw 1] e/id", "throw"},
        {"e: try/all [return 1] e/id", "return"},
        {"e: try/keep [x-unset] type? get in e 'stack", "block!"},
        {"e: try [x-unset] type? get in e 'stack", "integer!"},
    });
}

TEST_F(ExitsTest, StateAfterExitsIsClean) {
    // Many exits in a row leave the stacks as they were: a deep loop of
    // exits followed by ordinary evaluation.
    EXPECT_EQ(eval("f: func [n] [loop 2 [if n > 0 [return n]] 0] "
                   "s: 0 repeat i 5000 [s: s + f i "
                   "catch [throw 1] try [x-unset] loop 1 [break]] s"),
              "12502500");
    EXPECT_EQ(eval("1 + 1"), "2");
}

}  // namespace
}  // namespace zan::evaltest
