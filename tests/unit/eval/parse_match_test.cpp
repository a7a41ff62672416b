// parse: literal values, datatypes and typesets, sub-blocks with
// alternatives, set-words and get-words, parens, comparison modes and the
// /part limit.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class ParseMatchTest : public EvalTest {};

TEST_F(ParseMatchTest, LiteralsOnText) {
    expect_cases({
        {"parse \"\" []", "true"},
        {"parse \"a\" []", "false"},
        {"parse \"a\" [\"a\"]", "true"},
        {"parse \"ab\" [\"a\" \"b\"]", "true"},
        {"parse \"ab\" [\"ab\"]", "true"},
        {"parse \"ab\" [\"a\"]", "false"},
        {"parse \"ab\" [#\"a\" #\"b\"]", "true"},
        {"parse \"ab\" [\"b\"]", "false"},
        // An empty text value matches without consuming, also at the end.
        {"parse \"ab\" [\"\" \"ab\" \"\"]", "true"},
        {"parse \"\" [\"\" %\"\"]", "true"},
        {"parse \"abc\" [\"abcd\"]", "false"},
        {"parse %a.txt [\"a\" %.txt]", "true"},
    });
}

TEST_F(ParseMatchTest, ComparisonModes) {
    expect_cases({
        {"parse \"aBc\" [\"abc\"]", "true"},
        {"parse/case \"aBc\" [\"abc\"]", "false"},
        {"parse/case \"aBc\" [\"aBc\"]", "true"},
        {"parse \"A\" [#\"a\"]", "true"},
        {"parse/case \"A\" [#\"a\"]", "false"},
        {"parse [A] ['a]", "true"},
        {"parse/case [A] ['a]", "false"},
        {"parse [\"ABC\"] [\"abc\"]", "true"},
        {"parse/case [\"ABC\"] [\"abc\"]", "false"},
        // case switches the mode for one sub-rule.
        {"parse \"aAa\" [case yes \"aaa\" | \"aaa\"]", "true"},
        {"parse \"aA\" [case yes \"aa\"]", "false"},
        {"parse/case \"aA\" [case no \"aa\"]", "true"},
        {"parse \"aAA\" [case true [\"a\"] \"aa\"]", "true"},
        {"parse \"AAA\" [case true [\"a\"] \"aa\"]", "false"},
    });
}

TEST_F(ParseMatchTest, AlternativesAndSubBlocks) {
    expect_cases({
        {"parse \"ab\" [\"a\" \"c\" | \"ab\"]", "true"},
        {"parse \"b\" [\"a\" | \"b\" | \"c\"]", "true"},
        {"parse \"d\" [\"a\" | \"b\" | \"c\"]", "false"},
        {"parse \"ab\" [[\"a\" | \"b\"] [\"a\" | \"b\"]]", "true"},
        {"parse \"ac\" [[\"a\" \"b\" | \"a\"] \"c\"]", "true"},
        // A failed block gives its input back before the next alternative.
        {"parse \"abd\" [[\"a\" \"b\" \"c\"] | \"abd\"]", "true"},
        // An alternative only looks at its own block.
        {"parse \"x\" [[\"a\" | \"b\"] | \"x\"]", "true"},
        {"parse \"a\" [[]]", "false"},
        {"parse \"\" [[] [[]]]", "true"},
        {"r: [\"b\"] parse \"ab\" [\"a\" r]", "true"},
    });
}

TEST_F(ParseMatchTest, DatatypesAndTypesets) {
    expect_cases({
        {"parse [1 2 3] [some integer!]", "true"},
        {"parse [1 \"a\" b] [integer! string! word!]", "true"},
        {"parse [1.5] [number!]", "true"},
        {"parse [1] [string!]", "false"},
        {"parse [] [integer!]", "false"},
        {"ts: make typeset! [word! integer!] parse [a 1 b] [some ts]", "true"},
        {"ts: make typeset! [word!] parse [a 1] [some ts]", "false"},
        // On binary! input one token is scanned by the lexer.
        {"parse to binary! \"123\" [integer!]", "true"},
        {"parse to binary! \"123 abc\" [integer! skip word!]", "true"},
        {"parse to binary! \"abc\" [integer!]", "false"},
    });
}

TEST_F(ParseMatchTest, PositionWords) {
    expect_cases({
        {"parse \"abc\" [skip x: to end] x", "\"bc\""},
        {"parse \"abc\" [x: skip :x \"abc\"]", "true"},
        {"parse [a b c] [2 skip x: skip] x", "[c]"},
        {"parse \"abc\" [to end x:] index? x", "4"},
        // A get-word moves the input forward as well.
        {"s: \"abc\" parse s [p: (p: skip p 2) :p \"c\"]", "true"},
    });
}

TEST_F(ParseMatchTest, Parens) {
    expect_cases({
        {"n: 0 parse \"aaa\" [any [\"a\" (n: n + 1)]] n", "3"},
        {"parse \"a\" [(x: 10) \"a\"] x", "10"},
        // A paren neither matches nor fails.
        {"parse \"a\" [\"a\" (false)]", "true"},
        // A paren that shortens the input leaves the position at its tail.
        {"s: \"abc\" parse s [2 skip (clear s)]", "true"},
    });
}

TEST_F(ParseMatchTest, PartLimit) {
    expect_cases({
        {"parse/part \"abc\" [\"ab\"] 2", "true"},
        {"parse/part \"abc\" [\"abc\"] 2", "false"},
        {"parse/part \"abc\" [2 skip end] 2", "true"},
        {"parse/part \"abc\" [to end] 2", "true"},
        {"parse/part \"abc\" [to end \"c\"] 2", "false"},
        {"parse/part next \"abc\" [\"b\"] 1", "true"},
        {"s: \"abcd\" parse/part s [\"abc\"] skip s 3", "true"},
        {"s: \"abcd\" parse/part s [\"abcd\"] skip s 3", "false"},
        {"parse/part [1 2 3] [integer! integer!] 2", "true"},
        {"parse/part #{010203} [#{0102}] 2", "true"},
        {"parse/part \"abc\" [\"ab\"] 2.5", "true"},
        // A limit below 1 answers whether the input is empty.
        {"parse/part \"\" [] 0", "true"},
        {"parse/part \"abc\" [] 0", "false"},
        {"parse/part \"abc\" [to end] -3", "false"},
        {"parse/part tail \"abc\" [\"x\"] -5", "true"},
        // The limit bounds the outermost input only.
        {"parse/part [[1 2 3] x] [into [3 integer!]] 1", "true"},
    });
    EXPECT_EQ(eval_error_id("parse/part \"abc\" [] \"ab\""), "script/invalid-refine-arg");
    EXPECT_EQ(eval_error_line("parse/part \"abc\" [] [1]"),
              "*** Script Error: invalid /part argument: [1]");
}

}  // namespace
}  // namespace zan::evaltest
