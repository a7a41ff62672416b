// Value-shaping natives: construct, value?, case changes, the as- combiners,
// extend, unset, new-line, context?, as and apply.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class NativesShapeTest : public EvalTest {};

TEST_F(NativesShapeTest, Construct) {
    expect_cases({
        {"o: construct [a: 1 b: c: 2] reduce [o/a o/b o/c]", "[1 2 2]"},
        {"o: construct [a: true b: none c: off d: yes] reduce [o/a o/b o/c o/d]",
         "[true none false true]"},
        {"o: construct [a: true b: none] reduce [type? o/a type? o/b]", "[logic! none!]"},
        {"o: construct/only [a: true b: none] reduce [type? o/a type? o/b]", "[word! word!]"},
        {"o: construct [a: 1 + 2] o/a", "1"},
        {"o: construct [a:] o/a", "none"},
        {"p: construct [a: 1] o: construct/with [b: 2] p reduce [o/a o/b]", "[1 2]"},
    });
}

TEST_F(NativesShapeTest, ValueQ) {
    expect_cases({
        {"value? 'never-set-anywhere", "false"},
        {"a: 1 value? 'a", "true"},
        {"a: none value? 'a", "true"},
        {"a: 1 unset 'a value? 'a", "false"},
    });
}

TEST_F(NativesShapeTest, CaseChanges) {
    expect_cases({
        {"uppercase \"abc\"", "\"ABC\""},
        {"lowercase \"ABC\"", "\"abc\""},
        {"s: \"abc\" uppercase s s", "\"ABC\""},
        {"uppercase/part \"abcdef\" 3", "\"ABCdef\""},
        {"uppercase/part \"abcdef\" 2.7", "\"ABcdef\""},
        {"s: \"abcdef\" uppercase/part at s 2 at s 4", "\"BCdef\""},
        {"s: \"abcdef\" uppercase/part at s 2 at s 4 s", "\"aBCdef\""},
        {"uppercase #\"a\"", "#\"A\""},
        {"lowercase #\"Q\"", "#\"q\""},
        {"uppercase \"\"", "\"\""},
    });
}

TEST_F(NativesShapeTest, Combiners) {
    expect_cases({
        {"as-pair 3 4", "3x4"},
        {"as-pair 1.9 -1.9", "1x-1"},
        {"as-point2D 1 2.5", "(1, 2.5)"},
        {"as-point3D 1 2 3.5", "(1, 2, 3.5)"},
        {"type? as-point2D 1 2", "point2D!"},
    });
    EXPECT_EQ(eval_error_id("as-pair square-root -1 1"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("as-pair 1 1e20"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("as-money 'XYZ 1"), "script/bad-denom");
    EXPECT_EQ(eval_error_line("as-money 'XYZ 1"),
              "*** Script Error: invalid denomination: XYZ");
}

TEST_F(NativesShapeTest, Extend) {
    expect_cases({
        {"m: make map! [a 1] extend m [b 2 a 3] reduce [m/a m/b]", "[3 2]"},
        {"m: make map! [a 1] extend m make map! [c 5] m/c", "5"},
        {"m: make map! [a 1] extend m make hash! [b 2] m/b", "2"},
        {"m: make map! [a 1] extend m [A 2] reduce [length? m m/a]", "[1 2]"},
        {"m: make map! [a 1] extend/case m [A 2] length? m", "2"},
        {"m: make map! [] same? m extend m [a 1]", "true"},
    });
    EXPECT_EQ(eval_error_id("m: make map! [a 1] extend m [b]"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("o: construct [a: 1] extend o [b 2]"), "internal/not-done");
}

TEST_F(NativesShapeTest, Unset) {
    expect_cases({
        {"a: 1 unset 'a value? 'a", "false"},
        {"a: 1 b: 2 unset [a 1 \"x\" b] reduce [value? 'a value? 'b]", "[false false]"},
        {"a: 1 b: 2 unset [a] reduce [value? 'a value? 'b]", "[false true]"},
        {"a: 1 type? unset 'a", "unset!"},
        {"o: construct [x: 1] unset in o 'x value? in o 'x", "false"},
    });
}

TEST_F(NativesShapeTest, NewLine) {
    expect_cases({
        {"b: [1 2 3] new-line next b true new-line? next b", "true"},
        {"b: [1 2 3] new-line? new-line next b true", "true"},
        {"b: [1 2 3] new-line next b true new-line? b", "false"},
        {"b: [1 2 3] new-line b true new-line b false new-line? b", "false"},
        {"b: [1 2 3] same? b new-line b true", "true"},
        {"new-line? []", "false"},
        {"b: [1 2 3] new-line tail b true b", "[1 2 3]"},
        {"b: [1 2 3 4] new-line/all b true "
         "reduce [new-line? b new-line? at b 2 new-line? at b 3 new-line? at b 4]",
         "[true true true true]"},
        // Every second cell from the position is cleared, the others set.
        {"b: [1 2 3 4 5] new-line/skip b false 2 "
         "reduce [new-line? b new-line? at b 2 new-line? at b 3 new-line? at b 4]",
         "[false true false true]"},
        {"b: [1 2 3 4 5] new-line/skip next b true 2 "
         "reduce [new-line? b new-line? at b 2 new-line? at b 3 new-line? at b 4]",
         "[false true false true]"},
    });
    EXPECT_EQ(eval_error_id("new-line/skip [1 2] true 0"), "script/out-of-range");
}

TEST_F(NativesShapeTest, ContextOf) {
    expect_cases({
        {"o: construct [a: 1] same? o context? in o 'a", "true"},
        {"f: func [x] [context? 'x] type? f 1", "function!"},
    });
}

TEST_F(NativesShapeTest, As) {
    expect_cases({
        {"as path! [a b]", "a/b"},
        {"as block! to paren! [1 2]", "[1 2]"},
        {"as [] to paren! [1 2]", "[1 2]"},
        // No copy: a change through one value is seen through the other.
        {"b: [1 2] p: as paren! b append b 3 p", "(1 2 3)"},
        {"b: [a b] p: as path! b append b 'c p", "a/b/c"},
        {"as string! %abc", "\"abc\""},
        {"as string! to tag! \"b\"", "\"b\""},
        {"as url! \"http://a\"", "http://a"},
        {"s: \"abc\" f: as file! s append f \"d\" s", "\"abcd\""},
    });
    EXPECT_EQ(eval_error_id("as block! \"abc\""), "script/not-same-class");
    EXPECT_EQ(eval_error_line("as string! [a b]"),
              "*** Script Error: cannot coerce block! to string!");
    EXPECT_EQ(eval_error_id("as hash! [1]"), "script/not-same-class");
    EXPECT_EQ(eval_error_line("as integer! \"abc\""),
              "*** Script Error: cannot coerce string! to integer!");
}

TEST_F(NativesShapeTest, Apply) {
    expect_cases({
        {"apply :add [1 2]", "3"},
        {"apply 'add [1 2]", "3"},
        {"apply :+ [1 2]", "3"},
        {"apply :insert [[1 2] 0]", "[1 2]"},
        {"apply/all :copy [[1 2 3] true 2 false false block!]", "[1 2]"},
        {"f: func [a /b c] [reduce [a b c]] apply :f [1]", "[1 false none]"},
        {"f: func [a /b c] [reduce [a b c]] apply/all :f [1 true 3]", "[1 true 3]"},
        {"f: func [a /b c] [reduce [a b c]] apply/all :f [1]", "[1 false none]"},
        {"f: func [a /b c] [reduce [a b c]] apply :f [1 /b true 3]", "[1 true 3]"},
        {"f: func [a /b c] [reduce [a b c]] apply 'f/b [1 2]", "[1 true 2]"},
        {"f: func [a /b c] [reduce [a b c]] apply/safer :f [1 /b false (1 / 0)]",
         "[1 false none]"},
    });
    EXPECT_EQ(eval_error_id("apply 'never-defined-fn [1]"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("apply 1 [1 2]"), "script/expect-arg");
    // The none that completes the block is checked like any argument.
    EXPECT_EQ(eval_error_id("apply/all :copy [[1 2 3] true 2]"), "script/expect-arg");
}

}  // namespace
}  // namespace zan::evaltest
