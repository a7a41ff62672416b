// The interpreter core: evaluation order, words, set-words, parens, paths,
// calls with refinements, argument fetch modes, type checks and the errors
// of the evaluator with their catalogue texts.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class CoreTest : public EvalTest {};

TEST_F(CoreTest, ValuesAndEvaluationOrder) {
    expect_cases({
        {"[]", "[]"},
        {"1 2 3", "3"},
        {"1 + 2 * 3", "9"},          // left to right, no precedence
        {"1 + (2 * 3)", "7"},
        {"2 * 3 + 1 - 4", "3"},
        {"1 + 2 3 + 4", "7"},
        {"\"text\"", "\"text\""},
        {"'a", "a"},
        {"'a/b", "a/b"},
        {"a: b: 3 reduce [a b]", "[3 3]"},
        {"a: 10 a: a + 1 a", "11"},
        {"x: [1 2] x/1: 9 x", "[9 2]"},
        {"(1 + 2) * (3 + 4)", "21"},
        {"()", "unset"},
        {"2147483647 + 1", "2147483648.0"},  // overflow of the inline path
        {"1.5 + 1.5", "3.0"},
        {"1 + 1.5", "2.5"},                  // mixed types: the generic path
        {"6 and 3", "2"},
        {"1 < 2", "true"},
        {"1 = 1.0", "true"},
        {"\"a\" = \"A\"", "true"},
        {"2 >= 3", "false"},
    });
}

TEST_F(CoreTest, EmptyBlockIsUnset) {
    // The result of an empty block is unset! (it molds as nothing useful,
    // so its type is checked).
    EXPECT_EQ(eval("type? do []"), "unset!");
}

TEST_F(CoreTest, BlockLeavesOnlyTheResultOnTheStack) {
    interp_run_on_big_stack([] {
        g_stack.top = g_stack.base = g_stack.bottom;
        g_stack.ctop = g_stack.cbottom;
        stack_mark_try_all(g_words.n.try_);
        ValueCell* base = g_stack.top;
        ValueCell blk = *load_block("1 2 3 4 5");
        g_stack.top = base;
        ValueCell* held = stack_push(&blk);
        ValueCell b = *held;
        interp_eval_block(&b, false);
        // The block cell, then the result: nothing more.
        EXPECT_EQ(g_stack.top - base, 2);
        EXPECT_EQ(mold_text(g_stack.top - 1, false), "5");
        g_stack.top = g_stack.base = g_stack.bottom;
        g_stack.ctop = g_stack.cbottom;
    });
}

TEST_F(CoreTest, FunctionArgumentsTakeTheInfixLookAhead) {
    expect_cases({
        {"f: func [x] [x] f 1 + 2", "3"},     // f's argument is 1 + 2
        {"f: func [x] [x * 10] (f 1) + 2", "12"},
        {"f: func [x] [x * 10] f 1 + 2", "30"},
        {"f: func [x y] [x - y] f 10 f 3 1", "8"},
        {"f: func [x] [x] 1 + f 2", "3"},     // the right operand of + calls f
        {"f: func [x] [x] 1 + f 2 * 3", "7"}, // f takes 2 * 3: look-ahead of the argument
    });
}

TEST_F(CoreTest, WordsOfEveryKind) {
    expect_cases({
        {"f: func [] [42] :f", "func [][42]"},      // a get-word does not call
        {"f: func [] [42] f", "42"},
        {"set/any 'a () type? get/any 'a", "unset!"},
        {"type? :zz-never-set", "unset!"},         // a get-word takes unset! as it is
        {"a: 'b type? a", "word!"},
    });
}

TEST_F(CoreTest, LiteralFunctionValuesAreCalled) {
    expect_cases({
        {"f: func [x] [x + 1] b: reduce [:f 1] do b", "2"},
        {"b: reduce [:add 1 2] do b", "3"},
    });
}

TEST_F(CoreTest, Refinements) {
    expect_cases({
        {"f: func [a /b c /d] [reduce [a b c d]] f 1", "[1 false none false]"},
        {"f: func [a /b c /d] [reduce [a b c d]] f/b 1 2", "[1 true 2 false]"},
        {"f: func [a /b c /d] [reduce [a b c d]] f/b/d 1 2", "[1 true 2 true]"},
        {"f: func [a /b c /d] [reduce [a b c d]] f/d/b 1 2", "[1 true 2 true]"},
        {"f: func [/b x /c y] [reduce [x y]] f/c/b 1 2", "[2 1]"},
        {"append/only [1] [2]", "[1 [2]]"},
        {"append/dup [] 1 3", "[1 1 1]"},
        {"append/dup/only [] [1] 2", "[[1] [1]]"},
        {"append/only/dup [] [1] 2", "[[1] [1]]"},
        {"f: func [/local x] [x] f", "none"},
        {"f: has [a b] [reduce [a b]] f", "[none none]"},
    });
}

TEST_F(CoreTest, ArgumentFetchModes) {
    expect_cases({
        {"f: func ['a] [a] f b", "b"},
        {"f: func ['a] [a] f (1 + 2)", "3"},       // a paren is evaluated
        {"x: 5 f: func ['a] [a] f :x", "5"},        // a get-word gives its value
        {"f: func [:a] [a] f (1 + 2)", "(1 + 2)"}, // a get-word parameter takes it as it is
        {"f: func [:a] [a] f b", "b"},
        {"f: func ['a [any-type!]] [type? :a] f", "unset!"},
    });
    EXPECT_EQ(eval_error_line("f: func ['a] [a] f"),
              "*** Script Error: f is missing its a argument");
}

TEST_F(CoreTest, Paths) {
    expect_cases({
        {"b: [1 2 3] b/2", "2"},
        {"b: [1 2 3] b/4", "none"},
        {"b: [a 1 b [c 2]] b/b/c", "2"},
        {"b: [a 1 b [c 2]] b/b/c: 5 b", "[a 1 b [c 5]]"},
        {"b: [1 2 3] i: 3 b/(i - 1)", "2"},
        {"o: make object! [a: 1] o/a: 5 o/a", "5"},
        {"o: make object! [a: 1 f: func [x] [a + x]] o/f 2", "3"},
        {"f: func [/r x] [either r [x] [0]] f/r 5", "5"},
        {"b: [1 2] :b/1", "1"},
    });
}

TEST_F(CoreTest, GetPathDoesNotCallAndPathCalls) {
    expect_cases({
        {"o: make object! [f: func [] [7]] o/f", "7"},
        {"o: make object! [f: func [] [7]] :o/f", "func [][7]"},
    });
}

TEST_F(CoreTest, SetWordNeedsAValue) {
    EXPECT_EQ(eval_error_id("a:"), "script/need-value");
    EXPECT_EQ(eval_error_line("a:"), "*** Script Error: a: needs a value");
    EXPECT_EQ(eval_error_line("a: ()"), "*** Script Error: a: needs a value");
    EXPECT_EQ(eval_error_id("b: [1] b/1:"), "script/need-value");
}

// The evaluator's errors with the texts of the catalogue.
TEST_F(CoreTest, ErrorTexts) {
    struct Row {
        const char* src;
        const char* id;
        const char* line;
    };
    const Row rows[] = {
        {"x", "script/no-value", "*** Script Error: x has no value"},
        {"+ 1 2", "script/no-op-arg", "*** Script Error: + operator is missing an argument"},
        {"f: func [a b] [a] f 1", "script/no-arg", "*** Script Error: f is missing its b argument"},
        {"1 +", "script/no-arg", "*** Script Error: + is missing its value2 argument"},
        {"f: func [n [integer!]] [n] f \"a\"", "script/expect-arg",
         "*** Script Error: f does not allow string! for its n argument"},
        {"f: func [a /b] [a] f/x 1", "script/no-refine",
         "*** Script Error: f has no refinement called x"},
        {"f: func [a /b] [a] f/1 1", "script/bad-refine", nullptr},
        {"f: func [a /b] [a] f/b/b 1", "script/dup-refine", nullptr},
        {"do make path! []", "script/empty-path", nullptr},
        {"do to path! [1 2]", "script/word-first",
         "*** Script Error: path must start with a word: 1/2"},
        {"zz-unset/a", "script/unset-path", "*** Script Error: zz-unset is unset in path zz-unset/a"},
        {"b: [1] b/(())", "script/invalid-path", "*** Script Error: cannot access (()) in path b/(())"},
        {":append/only", "script/invalid-path-get",
         "*** Script Error: unsupported type in :append/only get-path"},
        {"append/only: 1", "script/invalid-path-set",
         "*** Script Error: unsupported type in append/only: set-path"},
        {"#system [1]", "internal/zan-system",
         "*** Internal Error: contains Zan/System code which requires compilation"},
        {"do reduce [make op! :add 1 2]", "internal/not-done",
         "*** Internal Error: reserved for future use (or not yet implemented)"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(eval_error_id(r.src), r.id) << r.src;
        if (r.line) {
            EXPECT_EQ(eval_error_line(r.src), r.line) << r.src;
        }
    }
}

TEST_F(CoreTest, ErrorsReportWhereAndNear) {
    std::string e = eval("f: func [n [integer!]] [n] f \"a\"");
    EXPECT_NE(e.find("*** Where: f"), std::string::npos) << e;
    EXPECT_NE(e.find("*** Near : f \"a\""), std::string::npos) << e;
}

TEST_F(CoreTest, IssueBeforeABlockIsAValueOtherwise) {
    expect_cases({
        {"#other [1]", "[1]"},
        {"#system", "#system"},
    });
}

// Code that appends to the block being evaluated, and code that makes the
// collector move buffers, keeps evaluating the right cells.
TEST_F(CoreTest, BuffersMovingUnderEvaluation) {
    expect_cases({
        // appended cells lie past the tail the walk began with
        {"b: [append b [x: 5] 1] x: 0 r: do b reduce [r x length? b]", "[1 0 6]"},
        // the block's buffer moves while it is evaluated
        {"b: [append/dup b 0 5000 7] do b", "7"},
        {"r: copy [] loop 20000 [append r \"x\"] length? r", "20000"},
        {"code: [x: x + 1 append/dup copy [] 0 100] x: 0 loop 500 [do code] x", "500"},
    });
}

TEST_F(CoreTest, UnderCollectorStress) {
    set_collect_stress(true);
    expect_cases({
        {"fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]] fib 12", "144"},
        {"b: copy [] repeat i 50 [append b form i] length? b", "50"},
        {"o: make object! [a: [1 2 3] f: func [x] [append a x]] o/f 4 o/f 5 o/a",
         "[1 2 3 4 5]"},
        {"reduce [1 + 2 form 3 compose [(4) (reduce [5])]]", "[3 \"3\" [4 5]]"},
        {"f: func [a /b c] [either b [reduce [a c]] [a]] reduce [f 1 f/b 2 [3]]",
         "[1 [2 [3]]]"},
        {"f: func [n] [loop 3 [if n > 1 [return n * 10]] 0] reduce [f 1 f 2]", "[0 20]"},
        {"catch [foreach x [1 2 3] [if x = 2 [throw append copy [a] x]]]", "[a 2]"},
        {"r: copy [] repeat i 3 [append r try [copy \"s\"]] r", "[\"s\" \"s\" \"s\"]"},
        {"b: [k [v [1 2]]] b/k/v/2", "2"},
        {"log: copy [] t: func [event code offset value ref frame] [append log event] "
         "do/trace [1 + 2] :t length? log",
         "13"},
        {"s: copy \"\" foreach w [a b c] [append s form w] s", "\"abc\""},
        {"b: [1 2 3 4 5 6] remove-each x b [odd? x] b", "[2 4 6]"},
    });
    set_collect_stress(false);
}

}  // namespace
}  // namespace zan::evaltest
