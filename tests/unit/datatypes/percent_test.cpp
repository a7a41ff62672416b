// percent!: its text forms and what it takes from float!.
#include "number_test_support.h"

namespace zan::test {
namespace {

class PercentTest : public NumberTest {};

TEST_F(PercentTest, FormAndMold) {
    struct Case {
        double fraction;
        const char* text;
    } const cases[] = {
        {0.5, "50%"},       {1.0, "100%"},      {0.125, "12.5%"},   {-0.001, "-0.1%"},
        {0.0, "0%"},        {1e-20, "0%"},      {0.001234, "0.1234%"},
        {1e20, "1e22%"},    {-2.5, "-250%"},    {1.0 / 3.0, "33.33333333333%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(P(c.fraction)), c.text) << c.fraction;
        EXPECT_EQ(mold(P(c.fraction)), c.text) << c.fraction;
    }
    ValueCell v = P(0.125);
    ValueCell* out = string_push_new(16);
    EXPECT_EQ(percent_form(&v, out, nullptr, 10), 5);
    EXPECT_EQ(percent_mold(&v, out, false, true, false, nullptr, 10, 0), 5);
}

TEST_F(PercentTest, EveryOtherActionIsFloats) {
    for (u32 a = 1; a <= ACT_COUNT; a++) {
        if (a == ACT_FORM || a == ACT_MOLD) {
            EXPECT_NE(action_entry(TYPE_PERCENT, a), action_entry(TYPE_FLOAT, a));
            continue;
        }
        EXPECT_EQ(action_entry(TYPE_PERCENT, a), action_entry(TYPE_FLOAT, a)) << a;
    }
}

TEST_F(PercentTest, ArithmeticTypesAndRounding) {
    ValueCell a = math(P(0.5), MATH_ADD, F(0.5));
    EXPECT_EQ(a.type(), TYPE_PERCENT);
    EXPECT_EQ(form(a), "100%");
    ValueCell b = math(F(0.5), MATH_ADD, P(0.5));
    EXPECT_EQ(b.type(), TYPE_FLOAT);
    EXPECT_EQ(form(b), "1.0");
    EXPECT_EQ(form(math(P(0.5), MATH_MULTIPLY, P(0.5))), "25%");
    EXPECT_EQ(form(math(I(1), MATH_ADD, P(0.5))), "1.5");
    EXPECT_EQ(math_error(P(0.5), MATH_ADD, C('a')), Err::script_invalid_type);

    EXPECT_EQ(form(round_call(P(0.12345), nullptr, 0)), "12%");
    EXPECT_EQ(form(round_call(P(0.125), nullptr, R_EVEN)), "12%");
    EXPECT_EQ(form(round_call(P(0.125), nullptr, 0)), "13%");
    // An integer! scale, divided by 100, gives an integer! result.
    ValueCell one = I(1);
    ValueCell r = round_call(P(2.345), &one, 0);
    ASSERT_EQ(r.type(), TYPE_INTEGER);
    EXPECT_EQ(iget(r), 2);

    EXPECT_TRUE(lget(call({P(0.5)}, action_even_q)));   // 0.5 truncates to 0
    EXPECT_EQ(form(call({P(-0.5)}, action_negate)), "50%");
    ValueCell f = to(TYPE_FLOAT, P(0.5));
    EXPECT_EQ(f.type(), TYPE_FLOAT);
    EXPECT_EQ(fget(f), 0.5);
    EXPECT_EQ(form(make(TYPE_PERCENT, F(0.5))), "50%");
    EXPECT_EQ(form(make(TYPE_PERCENT, I(5))), "500%");
    EXPECT_TRUE(cmp(P(0.5), CMP_EQUAL, F(0.5)));
    EXPECT_TRUE(cmp(P(0.25), CMP_LESSER, P(0.5)));
}

}  // namespace
}  // namespace zan::test
