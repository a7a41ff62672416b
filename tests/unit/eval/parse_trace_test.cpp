// parse/trace: the events (push pop fetch match iterate paren end), the
// callback's arguments, and stopping a run from the callback.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class ParseTraceTest : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        eval("events: func [input rules /local e] [e: copy [] "
             "parse/trace input rules func [ev m r i s] [append e ev true] e]");
    }
};

TEST_F(ParseTraceTest, EventSequences) {
    expect_cases({
        {"events \"a\" [\"a\"]", "[push fetch match pop end]"},
        {"events \"\" []", "[push pop end]"},
        {"events \"\" [(1)]", "[push fetch paren pop end]"},
        {"events \"a\" [skip]", "[push fetch match pop end]"},
        // A literal repetition is matched in one go.
        {"events \"aa\" [any \"a\"]", "[push fetch push match pop pop end]"},
        // A repetition of a sub-block iterates.
        {"events \"ab\" [some [skip]]",
         "[push fetch push push fetch match pop iterate fetch push fetch match pop iterate "
         "fetch push fetch match pop pop pop end]"},
        {"events \"b\" [\"a\" | \"b\"]", "[push fetch match fetch match pop end]"},
        {"events \"abc\" [to \"c\" skip]", "[push fetch push match pop fetch match pop end]"},
        // to with a sub-rule retries from the next position.
        {"events \"bc\" [to [\"c\"] skip]",
         "[push fetch push push fetch match pop pop iterate fetch push fetch match pop pop "
         "fetch match pop end]"},
        {"events [1] [set x integer!]", "[push fetch push match pop pop end]"},
    });
}

TEST_F(ParseTraceTest, Arguments) {
    expect_cases({
        // rule: the rules block at the rule in hand.
        {"e: copy [] parse/trace \"ab\" [\"a\" \"b\"] func [ev m r i s] "
         "[if ev = 'fetch [append e pick r 1] true] e",
         "[\"a\" \"b\"]"},
        // input: the position after a match.
        {"e: copy [] parse/trace \"ab\" [\"a\" \"b\"] func [ev m r i s] "
         "[if ev = 'match [append e index? i] true] e",
         "[2 3]"},
        // match?: the result of the last match.
        {"e: copy [] parse/trace \"ab\" [\"a\" \"x\"] func [ev m r i s] "
         "[if ev = 'match [append e m] true] e",
         "[true false]"},
        // stack: the rule stack, a bottom frame of three cells at first.
        {"e: copy [] parse/trace \"a\" [\"a\"] func [ev m r i s] [if ev = 'push [append e "
         "length? s append e type? pick s 1 append e type? pick s 3] true] e",
         "[3 none! block!]"},
        {"e: copy [] parse/trace \"a\" [opt \"a\"] func [ev m r i s] [if ev = 'match "
         "[append e length? s append e type? pick s 6] true] e",
         "[6 pair!]"},
        // The callback may take fewer arguments, or more (those are none).
        {"e: copy [] parse/trace \"a\" [\"a\"] func [ev] [append e ev true] e",
         "[push fetch match pop end]"},
        {"e: copy [] parse/trace \"a\" [\"a\"] func [ev m r i s x] [append e x true] e",
         "[none none none none none]"},
        // What the callback does to the stack it is given does not matter.
        {"parse/trace \"ab\" [\"a\" \"b\"] func [ev m r i s] [clear s true]", "true"},
        // A parse inside the callback runs on its own.
        {"n: 0 parse/trace \"ab\" [\"a\" \"b\"] func [e m r i s] [if e = 'fetch [n: n + 1 "
         "parse \"zz\" [some \"z\"]] true] n",
         "2"},
    });
}

TEST_F(ParseTraceTest, Stopping) {
    expect_cases({
        // A false or none answer stops the run, which returns match? as it is.
        {"parse/trace \"ab\" [\"a\" \"b\"] func [ev m r i s] [ev <> 'match]", "true"},
        {"parse/trace \"ab\" [\"x\" \"b\"] func [ev m r i s] [ev <> 'match]", "false"},
        {"parse/trace \"ab\" [any [skip]] func [ev m r i s] [none]", "true"},
        {"n: 0 parse/trace \"aaa\" [any [\"a\" (n: n + 1)]] func [ev m r i s] [ev <> 'iterate] "
         "n",
         "1"},
        // Stopping inside a collect gives match?, not the block.
        {"parse/trace \"ab\" [collect [keep skip keep skip]] func [ev m r i s] [ev <> 'pop]",
         "true"},
        // Errors raised in the callback pass on.
        {"try [parse/trace \"a\" [\"a\"] func [ev m r i s] [1 / 0]] parse \"a\" [\"a\"]",
         "true"},
    });
    EXPECT_EQ(eval_error_id("parse/trace \"a\" [\"a\"] func [ev m r i s] [1 / 0]"),
              "math/zero-divide");
}

}  // namespace
}  // namespace zan::evaltest
