// Comparison natives, same?, not and type?.
#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class NativesCompareTest : public EvalTest {};

TEST_F(NativesCompareTest, EqualityAndOrdering) {
    expect_cases({
        {"equal? 1 1.0", "true"},
        {"equal? \"abc\" \"ABC\"", "true"},
        {"strict-equal? \"abc\" \"ABC\"", "false"},
        {"strict-equal? 1 1.0", "false"},
        {"not-equal? 1 2", "true"},
        {"not-equal? 1 \"1\"", "true"},
        {"equal? 1 \"1\"", "false"},
        {"lesser? 1 2", "true"},
        {"lesser? 2 1", "false"},
        {"greater? 2 1", "true"},
        {"greater? 1 1", "false"},
        {"lesser-or-equal? 1 1", "true"},
        {"lesser-or-equal? 2 1", "false"},
        {"greater-or-equal? 1 1", "true"},
        {"greater-or-equal? 1 2", "false"},
        {"lesser? \"abc\" \"abd\"", "true"},
        {"1 < 2.5", "true"},
    });
}

TEST_F(NativesCompareTest, OrderingOfIncomparableValuesIsAnError) {
    EXPECT_EQ(eval_error_id("lesser? 1 \"a\""), "script/invalid-compare");
    EXPECT_EQ(eval_error_id("1 < \"a\""), "script/invalid-compare");
    EXPECT_EQ(eval_error_id("greater-or-equal? [1] 1"), "script/invalid-compare");
}

TEST_F(NativesCompareTest, Sameness) {
    expect_cases({
        {"b: [1 2] same? b b", "true"},
        {"b: [1 2] same? b copy b", "false"},
        {"b: [1 2] same? b next b", "false"},
        {"b: [1 2] same? next b next b", "true"},
        {"s: \"ab\" same? s s", "true"},
        {"same? \"ab\" \"ab\"", "false"},
        {"same? 1 1", "true"},
        {"same? 1 2", "false"},
        {"same? 1 1.0", "false"},
        {"same? 1.5 1.5", "true"},
        {"same? 0.0 -0.0", "false"},
        {"same? none none", "true"},
        {"same? true true", "true"},
        {"same? true false", "false"},
        {"same? #\"a\" #\"a\"", "true"},
        {"same? #\"a\" #\"A\"", "false"},
        {"same? 'a 'a", "true"},
        {"same? 'a 'A", "false"},
        {"same? integer! integer!", "true"},
        {"same? 1x2 1x2", "true"},
        {"same? 1x2 2x1", "false"},
        {"same? 1.2.3 1.2.3", "true"},
        {"same? 1.2.3 1.2.3.0", "false"},
        {"same? 10% 10%", "true"},
        {"same? :add :add", "true"},
        {"same? :add :subtract", "false"},
        {"same? $1 $1", "true"},
        {"same? $1 $2", "false"},
        {"1 =? 1", "true"},
    });
}

TEST_F(NativesCompareTest, Not) {
    expect_cases({
        {"not none", "true"},
        {"not false", "true"},
        {"not true", "false"},
        {"not 0", "false"},
        {"not []", "false"},
        {"not \"\"", "false"},
    });
}

TEST_F(NativesCompareTest, TypeOf) {
    expect_cases({
        {"type? 1", "integer!"},
        {"type? 1.5", "float!"},
        {"type? \"a\"", "string!"},
        {"type? [a]", "block!"},
        {"type? none", "none!"},
        {"type?/word 1", "integer!"},
        {"type? type?/word 1", "word!"},
        {"type? type? 1", "datatype!"},
        {"type? :add", "action!"},
        {"type? :type?", "native!"},
    });
}

}  // namespace
}  // namespace zan::evaltest
