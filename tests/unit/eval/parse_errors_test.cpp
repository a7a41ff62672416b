// parse: the errors of rules and of the front end, the size limit of the
// work stacks, and the work stacks after errors, non-local exits and runs
// nested in parens.
#include "eval/eval_helper.h"
#include "runtime/eval/interp/parse.h"
#include "runtime/eval/interp/parse_internal.h"

namespace zan::evaltest {
namespace {

class ParseErrorsTest : public EvalTest {
protected:
    // Both work blocks are empty, with their heads at 0, between runs.
    void expect_work_stacks_empty() {
        for (const ValueCell* b : {parse_detail::g_parse.rule_stack, parse_detail::g_parse.input_stack}) {
            EXPECT_EQ(b->data1, 0u);
            EXPECT_EQ(series_of(b)->used_bytes(), 0u);
        }
    }
};

struct ErrorCase {
    const char* src;
    const char* id;
};

TEST_F(ParseErrorsTest, RuleErrors) {
    const ErrorCase cases[] = {
        // invalid rules
        {"parse \"a\" [a/b]", "script/parse-rule"},
        {"parse \"a\" [:a/b]", "script/parse-rule"},
        {"x: 'y parse [y] [x]", "script/parse-rule"},
        {"parse \"a\" [3 1 \"a\"]", "script/parse-rule"},
        {"parse \"a\" [2]", "script/parse-rule"},
        {"parse \"a\" [1 2]", "script/parse-rule"},
        {"parse \"a\" [to 1.5]", "script/parse-rule"},
        {"parse #{01} [thru 1.5]", "script/parse-rule"},
        {"parse \"a\" [undefined-rule-word]", "script/parse-rule"},
        {"parse \"a\" [remove a/b]", "script/parse-rule"},
        {"parse \"a\" [change]", "script/parse-rule"},
        {"parse \"a\" [insert a/b]", "script/parse-rule"},
        {"parse \"a\" [\"a\" change \"a\" a/b]", "script/parse-rule"},
        {"s: \"a\" parse s [p: insert p]", "script/parse-rule"},
        {"s: \"a\" parse s [p: change p]", "script/parse-rule"},
        // counts out of range
        {"parse \"a\" [-1 \"a\"]", "script/out-of-range"},
        {"parse \"a\" [1 -2 \"a\"]", "script/out-of-range"},
        // rules cut short
        {"parse \"a\" [any]", "script/parse-end"},
        {"parse \"a\" [some]", "script/parse-end"},
        {"parse \"a\" [opt]", "script/parse-end"},
        {"parse \"a\" [while]", "script/parse-end"},
        {"parse \"a\" [quote]", "script/parse-end"},
        {"parse \"a\" [copy x]", "script/parse-end"},
        {"parse \"a\" [set x]", "script/parse-end"},
        {"parse \"a\" [copy \"a\" \"a\"]", "script/parse-end"},
        {"parse \"a\" [case]", "script/parse-end"},
        {"parse \"a\" [if]", "script/parse-end"},
        {"parse \"a\" [if \"a\"]", "script/parse-end"},
        {"parse [[1]] [into]", "script/parse-end"},
        {"parse [[1]] [into \"a\"]", "script/parse-end"},
        {"parse \"a\" [insert]", "script/parse-end"},
        {"parse \"a\" [insert only]", "script/parse-end"},
        {"parse \"a\" [collect into]", "script/parse-end"},
        {"parse \"a\" [change \"a\"]", "script/parse-end"},
        {"parse \"a\" [to]", "script/parse-end"},
        {"parse \"a\" [thru]", "script/parse-end"},
        {"parse \"a\" [not]", "script/parse-end"},
        {"parse \"a\" [ahead]", "script/parse-end"},
        {"parse \"a\" [remove]", "script/parse-end"},
        {"parse \"a\" [collect]", "script/parse-end"},
        {"parse \"a\" [collect [keep]]", "script/parse-end"},
        // the input and the collect targets
        {"parse \"a\" [into [\"a\"]]", "script/parse-block"},
        {"parse \"a\" [integer!]", "script/parse-unsupported"},
        {"x: \"zz\" parse \"a\" [:x]", "script/parse-invalid-ref"},
        {"x: 1 parse \"a\" [:x]", "script/parse-invalid-ref"},
        {"parse [a] [keep skip]", "script/parse-keep"},
        {"s: \"abc\" parse s [collect into s [keep skip]]", "script/parse-into-bad"},
        {"s: [[1]] parse s [into [collect into s [keep skip]]]", "script/parse-into-bad"},
        {"b: 1 parse [1] [collect into b [keep skip]]", "script/parse-into-type"},
        {"b: copy \"\" parse [1] [collect into b [keep skip]]", "script/parse-into-type"},
        {"b: copy #{} parse \"a\" [collect into b [keep skip]]", "script/parse-into-type"},
        {"parse \"a\" [insert unset-value-word]", "script/no-value"},
        {"parse \"a\" [\"a\" change [\"a\"] unset-value-word]", "script/no-value"},
    };
    for (const ErrorCase& c : cases) {
        EXPECT_EQ(eval_error_id(c.src), c.id) << c.src;
        expect_work_stacks_empty();
    }
}

TEST_F(ParseErrorsTest, Messages) {
    expect_cases({
        {"try [parse \"a\" [a/b]] parse \"a\" [\"a\"]", "true"},
    });
    EXPECT_EQ(eval_error_line("parse \"a\" [a/b]"),
              "*** Script Error: PARSE - invalid rule or usage of rule: a/b");
    EXPECT_EQ(eval_error_line("parse \"a\" [copy x]"),
              "*** Script Error: PARSE - unexpected end of rule after: copy");
    EXPECT_EQ(eval_error_line("x: \"b\" parse \"a\" [:x]"),
              "*** Script Error: PARSE - get-word refers to a different series! :x");
    EXPECT_EQ(eval_error_line("parse \"a\" [into []]"),
              "*** Script Error: PARSE - input must be of any-block! type: \"a\"");
    EXPECT_EQ(eval_error_line("parse \"a\" [integer!]"),
              "*** Script Error: PARSE - matching by datatype not supported for any-string! input");
    EXPECT_EQ(eval_error_line("r: [r] parse \"a\" r"),
              "*** Script Error: PARSE - stack limit reached");
    EXPECT_EQ(eval_error_line("parse [a] [keep skip]"),
              "*** Script Error: PARSE - KEEP is used without a wrapping COLLECT");
    EXPECT_EQ(eval_error_line("s: [1] parse s [collect into s []]"),
              "*** Script Error: PARSE - COLLECT INTO/AFTER invalid series! argument");
    EXPECT_EQ(eval_error_line("b: 1 parse [1] [collect into b []]"),
              "*** Script Error: PARSE - COLLECT INTO/AFTER expects a series! of compatible "
              "datatype");
    EXPECT_EQ(eval_error_line("parse \"a\" [insert nothing-here]"),
              "*** Script Error: nothing-here has no value");
    EXPECT_EQ(eval_error_line("parse \"a\" [-1 \"a\"]"), "*** Script Error: value out of range: -1");
}

TEST_F(ParseErrorsTest, StackLimit) {
    // Rule nesting lives in the rule stack, not on the machine stack: deep
    // recursion is fine up to the size limit of the work blocks ...
    eval("r: [\"a\" r | \"a\"] deep: func [n /local s] [s: copy \"\" loop n [append s \"a\"] s]");
    EXPECT_EQ(eval("parse deep 1000 r"), "true");
    EXPECT_EQ(eval("parse deep 3000 r"), "true");
    // ... and past it the run stops with an error and clean work stacks.
    EXPECT_EQ(eval_error_id("parse deep 4000 r"), "script/parse-stack");
    expect_work_stacks_empty();
    EXPECT_EQ(eval_error_id("r2: [r2] parse \"\" r2"), "script/parse-stack");
    EXPECT_EQ(eval_error_id("r3: [any r3] parse \"\" r3"), "script/parse-stack");
    expect_work_stacks_empty();
    EXPECT_EQ(eval("parse deep 10 r"), "true");
}

TEST_F(ParseErrorsTest, NonLocalExitsAndNestedRuns) {
    expect_cases({
        {"loop 3 [parse \"a\" [(break)]] 1", "1"},
        {"f: func [] [parse \"a\" [(return 5)] 6] f", "5"},
        {"catch [parse \"a\" [(throw 7)]]", "7"},
        {"x: 0 loop 2 [parse \"aa\" [some [\"a\" (x: x + 1 if x = 3 [break])]]] x", "3"},
        // A run inside a paren sees its own work stacks and leaves the
        // outer run's alone.
        {"parse \"ab\" [\"a\" (r: parse \"x\" [\"x\"]) \"b\"] r", "true"},
        {"parse \"ab\" [\"a\" (r: parse [1 [2]] [integer! into [integer!]]) \"b\"] r", "true"},
        {"parse [[1] 2] [into [(r: parse \"x\" [some \"x\"]) integer!] integer!] r", "true"},
        {"x: parse \"abc\" [collect [keep skip (y: parse \"de\" [collect [keep to end]]) "
         "keep skip]] reduce [x y]",
         "[[#\"a\" #\"b\"] [\"de\"]]"},
        // An error inside a nested run, caught in the paren.
        {"parse \"ab\" [\"a\" (try [parse \"x\" [a/b]]) \"b\"]", "true"},
        {"parse \"ab\" [\"a\" (try [parse \"x\" [\"x\" (1 / 0)]]) \"b\"]", "true"},
    });
    expect_work_stacks_empty();
    EXPECT_EQ(eval_error_id("parse \"ab\" [\"a\" (parse \"x\" [(1 / 0)]) \"b\"]"),
              "math/zero-divide");
    expect_work_stacks_empty();
}

}  // namespace
}  // namespace zan::evaltest
