// parse: repetition (any some opt while and integer counts), to and thru,
// skip and end.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class ParseRepeatTest : public EvalTest {};

TEST_F(ParseRepeatTest, Keywords) {
    expect_cases({
        {"parse \"aaa\" [any \"a\"]", "true"},
        {"parse \"\" [any \"a\"]", "true"},
        {"parse \"aaab\" [any \"a\" \"b\"]", "true"},
        {"parse \"aaa\" [some \"a\"]", "true"},
        {"parse \"\" [some \"a\"]", "false"},
        {"parse \"b\" [some \"a\" \"b\"]", "false"},
        {"parse \"a\" [opt \"a\"]", "true"},
        {"parse \"\" [opt \"a\"]", "true"},
        {"parse \"aa\" [opt \"a\"]", "false"},
        {"parse \"aaa\" [while \"a\"]", "true"},
        {"parse \"aaa\" [while [\"a\"]]", "true"},
        {"parse \"abab\" [some [\"a\" \"b\"]]", "true"},
        {"parse \"abaa\" [some [\"a\" \"b\"] \"aa\"]", "true"},
        {"parse \"ab\" [any [\"a\" | \"b\"]]", "true"},
        {"parse [1 2 x] [some integer! word!]", "true"},
        {"parse [a a a] [any 'a]", "true"},
        {"parse \"abcabc\" [2 \"abc\"]", "true"},
        {"parse \"aBcAbC\" [some \"abc\"]", "true"},
        {"parse/case \"aBcAbC\" [some \"abc\"]", "false"},
        // An optional sub-block that fails gives its input back.
        {"parse \"ac\" [opt [\"a\" \"b\"] \"ac\"]", "true"},
    });
}

TEST_F(ParseRepeatTest, Counts) {
    expect_cases({
        {"parse \"aaa\" [3 \"a\"]", "true"},
        {"parse \"aa\" [3 \"a\"]", "false"},
        {"parse \"aaaa\" [3 \"a\"]", "false"},
        {"parse \"aaa\" [2 3 \"a\"]", "true"},
        {"parse \"aa\" [2 3 \"a\"]", "true"},
        {"parse \"a\" [2 3 \"a\"]", "false"},
        {"parse \"aaaa\" [2 3 \"a\"]", "false"},
        {"parse \"aaa\" [0 3 \"a\"]", "true"},
        {"parse \"\" [0 3 \"a\"]", "true"},
        {"parse \"aaa\" [1 1 \"a\" 2 \"a\"]", "true"},
        {"parse \"aaab\" [3 [\"a\"] \"b\"]", "true"},
        {"parse \"aab\" [3 [\"a\"] \"b\"]", "false"},
        {"parse [1 2 3] [3 integer!]", "true"},
        // Counts held by words.
        {"n: 2 parse \"aa\" [n \"a\"]", "true"},
        {"n: 2 m: 3 parse \"aaa\" [n m \"a\"]", "true"},
        // 0, and 0 0, skip the sub-rule.
        {"parse \"a\" [0 \"a\" \"a\"]", "true"},
        {"parse \"a\" [0 0 \"x\" \"a\"]", "true"},
        {"parse \"a\" [0 [\"x\"] \"a\"]", "true"},
        // A partial run of a count gives the input back.
        {"parse \"aab\" [opt 3 \"a\" \"aab\"]", "true"},
    });
}

TEST_F(ParseRepeatTest, ZeroProgress) {
    expect_cases({
        // any stops after an iteration that consumed nothing ...
        {"parse \"a\" [any []]", "false"},
        {"parse \"\" [any []]", "true"},
        {"n: 0 parse \"ab\" [any [(n: n + 1)] 2 skip] n", "1"},
        {"n: 0 parse \"\" [some [opt \"x\" (n: n + 1)]] n", "1"},
        {"parse \"abc\" [any [to \"c\"] skip]", "true"},
    });
    // ... while does not: it goes on until something stops it (here the
    // trace callback, after ten iterations).
    EXPECT_EQ(eval("n: 0 parse/trace \"a\" [while [none]] func [e m r i s] "
                   "[if e = 'iterate [n: n + 1] n < 10] n"),
              "10");
    EXPECT_EQ(eval("n: 0 parse/trace \"a\" [while [(n: n + 1)]] func [e m r i s] [n < 5] n"),
              "5");
}

TEST_F(ParseRepeatTest, ToAndThru) {
    expect_cases({
        {"parse \"abc\" [to \"c\" \"c\"]", "true"},
        {"parse \"abc\" [thru \"b\" \"c\"]", "true"},
        {"parse \"abc\" [to \"x\"]", "false"},
        {"parse \"abc\" [to \"x\" | \"abc\"]", "true"},
        {"parse \"aBc\" [to \"b\" \"Bc\"]", "true"},
        {"parse/case \"aBc\" [to \"b\"]", "false"},
        {"parse \"abc\" [to #\"b\" 2 skip]", "true"},
        {"parse \"abc\" [thru #\"C\"]", "true"},
        {"parse \"abcabc\" [thru \"bc\" thru \"bc\"]", "true"},
        {"parse [a b c] [to 'c 'c]", "true"},
        {"parse [a 1 c] [thru 1 'c]", "true"},
        {"parse \"abc\" [to \"\" \"abc\"]", "true"},
        // to and thru a sub-rule retry from every position.
        {"parse \"abc\" [to [\"c\" | \"b\"] \"bc\"]", "true"},
        {"parse \"abc\" [thru [\"c\" | \"b\"] \"c\"]", "true"},
        {"parse [a b 1] [to integer! integer!]", "true"},
        {"parse [a b 1] [thru integer!]", "true"},
        {"w: \"b\" parse \"abc\" [thru w \"c\"]", "true"},
        // A failed search leaves the input where it began.
        {"parse \"abc\" [opt to [\"x\"] \"abc\"]", "true"},
        {"parse \"abc\" [opt thru \"x\" \"abc\"]", "true"},
        // to end and thru end.
        {"parse \"abc\" [to end]", "true"},
        {"parse \"abc\" [thru end]", "true"},
        {"parse \"abc\" [\"a\" to end x:] x", "\"\""},
        // A search does not run past the /part limit.
        {"parse/part \"abcd\" [to \"cd\"] 3", "false"},
    });
}

TEST_F(ParseRepeatTest, SkipAndEnd) {
    expect_cases({
        {"parse \"abc\" [skip skip skip]", "true"},
        {"parse \"ab\" [skip skip skip]", "false"},
        {"parse [a [b] 1] [3 skip]", "true"},
        {"parse #{0102} [2 skip]", "true"},
        {"parse \"\" [end]", "true"},
        {"parse [] [end end]", "true"},
        {"parse \"a\" [end \"a\"]", "false"},
        {"parse \"a\" [\"a\" end]", "true"},
        {"parse \"ab\" [skip end | 2 skip]", "true"},
    });
}

}  // namespace
}  // namespace zan::evaltest
