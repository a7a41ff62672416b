// parse: the keywords that steer the run (fail reject break if not ahead
// none quote) and the ones that capture or change the input (copy set
// collect keep remove insert change).
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class ParseControlTest : public EvalTest {};

TEST_F(ParseControlTest, FailRejectBreak) {
    expect_cases({
        // fail clears the match and the block goes on with its next rule:
        // there is no backtracking to an earlier position.
        {"parse \"a\" [\"a\" fail]", "false"},
        {"parse \"ab\" [\"a\" fail \"b\"]", "true"},
        // ... and a bar after it ends the block with the failure.
        {"parse \"a\" [fail | \"a\"]", "false"},
        // Under a repetition it ends the current iteration as a failure.
        {"parse \"abc\" [any [\"a\" fail]]", "false"},
        {"parse \"a\" [any [\"a\" fail]]", "true"},
        // reject fails the enclosing loop.
        {"parse \"aaa\" [any \"a\" reject]", "false"},
        {"parse \"ab\" [some [\"a\" | reject] \"b\"]", "true"},
        {"parse \"b\" [some [\"a\" | reject] | \"b\"]", "true"},
        // break leaves the loop with a match.
        {"parse \"aab\" [any [\"a\" | break] \"b\"]", "true"},
        {"parse \"aaa\" [some [\"a\" break] \"aa\"]", "true"},
        {"n: 0 parse \"aaaa\" [any [\"a\" (n: n + 1) [if (n = 2) break | none]] to end] n",
         "2"},
        {"parse \"a\" [\"a\" break]", "true"},
        // A break stops the loop around it: one with no loop around leaves
        // later loops alone, and a loop started after it is not stopped.
        {"parse \"abb\" [[\"a\" break] any [\"b\"]]", "true"},
        {"parse \"abbc\" [some [[\"a\" break] any [\"b\"]] \"c\"]", "true"},
        {"parse \"ab\" [any [\"a\" [break]] \"b\"]", "true"},
        {"parse \"b\" [[\"a\" | reject] | \"b\"]", "true"},
    });
}

TEST_F(ParseControlTest, ConditionsAndLookahead) {
    expect_cases({
        {"parse \"a\" [if (true) \"a\"]", "true"},
        {"parse \"a\" [if (false) \"a\"]", "false"},
        {"parse \"a\" [if (none) \"x\" | \"a\"]", "true"},
        {"n: 0 parse \"aaa\" [any [if (n < 2) \"a\" (n: n + 1)] \"a\"]", "true"},
        {"parse \"ab\" [not \"b\" \"ab\"]", "true"},
        {"parse \"ab\" [not \"a\" \"ab\"]", "false"},
        {"parse \"ab\" [any [not \"b\" skip] \"b\"]", "true"},
        {"parse \"ab\" [ahead \"a\" \"ab\"]", "true"},
        {"parse \"ab\" [ahead \"b\" \"ab\"]", "false"},
        {"parse \"ab\" [ahead [\"a\" \"b\"] \"ab\"]", "true"},
        {"parse \"\" [none]", "true"},
        {"parse \"a\" [none \"a\" none]", "true"},
        // quote matches the next value literally, whatever its type.
        {"parse [b] [quote b]", "true"},
        {"parse [1] [quote 1]", "true"},
        {"parse [[x]] [quote [x]]", "true"},
        {"parse [(1)] [quote (1)]", "true"},
        {"parse [any] [quote any]", "true"},
    });
}

TEST_F(ParseControlTest, CopyAndSet) {
    expect_cases({
        {"parse \"abc\" [copy x to \"c\" skip] x", "\"ab\""},
        {"parse \"abc\" [copy x [skip skip] copy y skip] reduce [x y]", "[\"ab\" \"c\"]"},
        {"parse [a b c] [copy x 2 skip skip] x", "[a b]"},
        {"parse #{010203} [copy x 2 skip skip] x", "#{0102}"},
        {"parse \"abc\" [copy x none to end] x", "\"\""},
        {"x: 0 parse \"abc\" [copy x \"x\" | to end] x", "0"},
        {"parse \"abc\" [set c skip to end] c", "#\"a\""},
        {"parse [a 1 b 2] [some [set w word! set i integer!]] reduce [w i]", "[b 2]"},
        {"parse #{0A0B} [set x skip to end] x", "10"},
        {"parse [[1 2]] [set x block!] x", "[1 2]"},
        {"parse \"abc\" [set x none to end] x", "none"},
    });
}

TEST_F(ParseControlTest, Collect) {
    expect_cases({
        {"parse \"abc\" [collect [keep skip keep to end]]", "[#\"a\" \"bc\"]"},
        {"parse [1 2 3] [collect [some [keep integer!]]]", "[1 2 3]"},
        {"parse [1 a 2] [collect [some [keep integer! | skip]]]", "[1 2]"},
        {"parse \"abc\" [collect [keep pick to end]]", "[#\"a\" #\"b\" #\"c\"]"},
        {"parse [1 2] [collect [keep pick 2 skip]]", "[1 2]"},
        {"parse [1 2] [collect [keep 2 skip]]", "[[1 2]]"},
        {"parse #{0102} [collect [keep skip keep skip]]", "[1 2]"},
        {"parse \"abc\" [collect [keep copy x 2 skip] skip]", "[\"ab\"]"},
        {"parse \"abc\" [collect [keep (1 + 2) keep pick ([4 5]) keep ([6]) to end]]",
         "[3 4 5 [6]]"},
        {"parse \"abc\" [collect [keep \"x\" | skip] to end]", "[]"},
        // Nested collects nest their blocks.
        {"parse [1 2] [collect [collect [keep skip] keep skip]]", "[[1] 2]"},
        // A top-level collect gives its block even when the rules fail.
        {"parse \"ab\" [collect [keep \"a\"] \"x\"]", "[#\"a\"]"},
        // collect set stores the block and parse answers the match.
        {"parse \"abc\" [collect set x [keep skip] to end] x", "[#\"a\"]"},
        {"parse \"abc\" [collect set x [keep skip] to end]", "true"},
        {"parse [1 2] [collect set x [collect [keep skip]] skip] x", "[[1]]"},
        // collect into inserts at the target's position and restores it.
        {"b: [] parse [1 2] [collect into b [some [keep skip]]] b", "[1 2]"},
        {"b: next [x y] parse [1 2] [collect into b [keep skip keep skip]] head b",
         "[x 1 2 y]"},
        {"b: next [x y] parse [1 2] [collect into b [keep skip keep skip]] b", "[1 2 y]"},
        {"b: [x] parse [1 2] [collect after b [keep skip keep skip]] b", "[x 1 2]"},
        {"b: [x] parse [1 2] [collect after b [collect [keep skip keep skip]]] b",
         "[x [1 2]]"},
        {"b: copy \"\" parse \"abc\" [collect into b [keep 2 skip keep skip]] b", "\"abc\""},
        {"b: copy \"-\" parse \"abc\" [collect after b [keep pick to end]] b", "\"-abc\""},
        {"b: copy [] parse \"ab\" [collect into b [keep skip keep skip]] b",
         "[#\"a\" #\"b\"]"},
        {"b: copy #{} parse #{0102} [collect into b [keep to end]] b", "#{0102}"},
    });
}

TEST_F(ParseControlTest, RemoveInsertChange) {
    expect_cases({
        {"s: \"abc\" parse s [remove \"a\" to end] s", "\"bc\""},
        {"s: \"abc\" parse s [remove \"a\" \"bc\"]", "true"},
        {"s: [1 a 2 b] parse s [any [remove word! | skip]] s", "[1 2]"},
        {"s: \"abcd\" parse s [skip p: 2 skip remove p to end] s", "\"ad\""},
        {"s: \"abcd\" parse s [skip p: 2 skip remove p \"bcd\"]", "false"},
        {"s: \"abcd\" parse s [skip p: 2 skip remove p \"d\"]", "true"},
        {"s: \"abc\" parse s [\"a\" insert \"X\" to end] s", "\"aXbc\""},
        {"s: \"abc\" parse s [\"a\" insert \"X\" \"bc\"]", "true"},
        {"s: \"abcd\" parse s [p: 2 skip insert p \"X\" to end] s", "\"Xabcd\""},
        {"s: [a b] parse s [skip insert [1 2] to end] s", "[a 1 2 b]"},
        {"s: [a b] parse s [skip insert only [1 2] to end] s", "[a [1 2] b]"},
        {"v: 7 s: [a] parse s [insert v to end] s", "[7 a]"},
        {"s: [a] parse s [insert (1 + 1) to end] s", "[2 a]"},
        {"s: \"abc\" parse s [change \"a\" \"X\" to end] s", "\"Xbc\""},
        {"s: \"abc\" parse s [change \"a\" \"XY\" \"bc\"]", "true"},
        {"s: \"abc\" parse s [change [copy x 2 skip] \"XYZ\" skip] s", "\"XYZc\""},
        {"s: [1 2 3] parse s [change 2 skip [a b] skip] s", "[a b 3]"},
        {"s: [1 2 3] parse s [change only 2 skip [a b] skip] s", "[[a b] 3]"},
        {"s: [1 2 3] parse s [change integer! (10 * 10) to end] s", "[100 2 3]"},
        {"s: \"abc\" parse s [change \"x\" \"Y\" | to end] s", "\"abc\""},
        {"s: \"abcd\" parse s [skip p: 2 skip change p \"X\" to end] s", "\"aXd\""},
        // Changing leaves the input at the start of the marked range.
        {"s: \"abcd\" parse s [skip p: 2 skip change p \"X\" \"Xd\"]", "true"},
    });
}

}  // namespace
}  // namespace zan::evaltest
