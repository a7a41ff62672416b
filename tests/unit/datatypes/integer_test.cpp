// integer!: arithmetic with promotion, the mixed-type entry, power, round,
// conversions, comparison, unary actions, random and the text form.
#include "number_test_support.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"

namespace zan::test {
namespace {

class IntegerTest : public NumberTest {};

TEST_F(IntegerTest, ArithmeticWithPromotion) {
    const MathCase cases[] = {
        {I(1), MATH_ADD, I(2), I(3)},
        {I(2147483647), MATH_ADD, I(1), F(2147483648.0)},
        {I(-2147483648), MATH_SUBTRACT, I(1), F(-2147483649.0)},
        {I(65536), MATH_MULTIPLY, I(65536), F(4294967296.0)},
        {I(-65536), MATH_MULTIPLY, I(32768), I(-2147483647 - 1)},
        {I(7), MATH_DIVIDE, I(2), F(3.5)},
        {I(-6), MATH_DIVIDE, I(3), I(-2)},
        {I(6), MATH_DIVIDE, I(3), I(2)},
        {I(1), MATH_DIVIDE, I(3), F(1.0 / 3.0)},
        {I(-7), MATH_REMAINDER, I(2), I(-1)},
        {I(7), MATH_REMAINDER, I(-2), I(1)},
        {I(6), MATH_AND, I(3), I(2)},
        {I(6), MATH_OR, I(3), I(7)},
        {I(6), MATH_XOR, I(3), I(5)},
        {I(-1), MATH_AND, I(255), I(255)},
        {I(1), MATH_ADD, C('a'), I(98)},
        {I(1), MATH_ADD, F(0.5), F(1.5)},
        {I(1), MATH_ADD, P(0.5), F(1.5)},     // the integer becomes a float! first
        {I(1), MATH_ADD, T(1.0), T(2.0)},
        {I(3), MATH_MULTIPLY, T(1.5), T(4.5)},
        {I(1), MATH_DIVIDE, F(0.0), F(kInf)},
    };
    for (const MathCase& c : cases) {
        ValueCell r = math(c.a, c.op, c.b);
        SCOPED_TRACE(testing::Message() << integer_get(&c.a) << " op " << c.op);
        ASSERT_EQ(r.type(), c.expected.type());
        if (r.type() == TYPE_INTEGER) EXPECT_EQ(integer_get(&r), integer_get(&c.expected));
        else EXPECT_EQ(r.get_float(), c.expected.get_float());
    }
}

TEST_F(IntegerTest, ArithmeticErrors) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        Err err;
    } const cases[] = {
        {I(1), MATH_DIVIDE, I(0), Err::math_zero_divide},
        {I(1), MATH_REMAINDER, I(0), Err::math_zero_divide},
        {I(-2147483647 - 1), MATH_DIVIDE, I(-1), Err::math_overflow},
        {I(-2147483647 - 1), MATH_REMAINDER, I(-1), Err::math_overflow},
        {I(1), MATH_ADD, NONE(), Err::script_invalid_type},
        {I(1), MATH_AND, F(1.5), Err::script_cannot_use},
        // Order-dependent operations with a number on the left.
        {I(1), MATH_DIVIDE, OTHER(TYPE_PAIR), Err::script_not_related},
        {I(1), MATH_DIVIDE, OTHER(TYPE_POINT2D), Err::script_not_related},
        {I(1), MATH_SUBTRACT, OTHER(TYPE_TUPLE), Err::script_not_related},
        {I(1), MATH_DIVIDE, OTHER(TYPE_TUPLE), Err::script_not_related},
        {I(1), MATH_MULTIPLY, OTHER(TYPE_DATE), Err::script_not_related},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << c.op << " with type " << c.b.type());
        EXPECT_EQ(math_error(c.a, c.op, c.b), c.err);
    }
}

TEST_F(IntegerTest, DoMathWithoutResultCellTruncatesAndWraps) {
    EXPECT_EQ(integer_do_math(7, 2, MATH_DIVIDE, nullptr), 3);
    EXPECT_EQ(integer_do_math(-7, 2, MATH_DIVIDE, nullptr), -3);
    EXPECT_EQ(integer_do_math(2147483647, 1, MATH_ADD, nullptr), -2147483647 - 1);
    ValueCell r = I(0);
    EXPECT_EQ(integer_do_math(-7, 2, MATH_REMAINDER, &r), -1);
    EXPECT_EQ(integer_get(&r), -1);
}

TEST_F(IntegerTest, PairsAreComputedWithTheOperandsExchanged) {
    auto pair = [](i32 x, i32 y) {
        ValueCell p;
        pair_make_at(&p, x, y);
        return p;
    };
    struct Case {
        const char* what;
        i32 n;
        i32 op;
        i32 x, y;  // the pair operand
        i32 rx, ry;
    };
    const Case cases[] = {
        {"1 + 1x2", 1, MATH_ADD, 1, 2, 2, 3},
        // 1 - 1x2 is -1x2 + 1.
        {"1 - 1x2", 1, MATH_SUBTRACT, 1, 2, 0, -1},
        {"3 * 1x2", 3, MATH_MULTIPLY, 1, 2, 3, 6},
        // 2x2 // 1, not 1 // 2x2 (which would be 1x1).
        {"1 // 2x2", 1, MATH_REMAINDER, 2, 2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ValueCell r = math(I(c.n), c.op, pair(c.x, c.y));
        ASSERT_EQ(r.type(), TYPE_PAIR);
        EXPECT_EQ(pair_x(&r), c.rx);
        EXPECT_EQ(pair_y(&r), c.ry);
    }
    EXPECT_EQ(math_error(I(1), MATH_DIVIDE, pair(2, 2)), Err::script_not_related);
}

TEST_F(IntegerTest, WithTheOtherScalarTypes) {
    ValueCell p;
    pair_make_at(&p, 1, 2);
    EXPECT_EQ(form(math(I(1), MATH_ADD, p)), "2x3");
    EXPECT_EQ(form(math(I(1), MATH_SUBTRACT, p)), "0x-1");
    EXPECT_EQ(form(math(I(3), MATH_MULTIPLY, p)), "3x6");
    EXPECT_EQ(math_error(I(1), MATH_DIVIDE, p), Err::script_not_related);
    ValueCell f;
    pair_make_at(&f, 1, 3);
    EXPECT_EQ(form(math(F(2.0), MATH_MULTIPLY, f)), form(call({f, F(2.0)}, action_multiply)));
    EXPECT_EQ(math_error(F(2.0), MATH_SUBTRACT, f), Err::script_not_related);

    ValueCell one_dollar;
    money_from_integer(&one_dollar, 1);
    ValueCell sum = math(I(1), MATH_ADD, one_dollar);
    ASSERT_EQ(sum.type(), TYPE_MONEY);
    EXPECT_TRUE(cmp(sum, CMP_EQUAL, I(2)));
    EXPECT_EQ(math_error(I(2), MATH_DIVIDE, one_dollar), Err::script_invalid_type);
    EXPECT_TRUE(cmp(I(1), CMP_EQUAL, one_dollar));
    EXPECT_TRUE(cmp(I(2), CMP_GREATER, one_dollar));
    EXPECT_TRUE(cmp(F(1.0), CMP_EQUAL, one_dollar));
    EXPECT_TRUE(cmp(F(0.5), CMP_LESSER, one_dollar));
    EXPECT_TRUE(cmp(F(1e20), CMP_GREATER, one_dollar));   // beyond money: by value
    EXPECT_EQ(iget(to(TYPE_INTEGER, sum)), 2);
    EXPECT_EQ(fget(to(TYPE_FLOAT, sum)), 2.0);
}

TEST_F(IntegerTest, Power) {
    const MathCase cases[] = {
        {I(2), 0, I(30), I(1073741824)},  {I(0), 0, I(0), I(1)},
        {I(-3), 0, I(3), I(-27)},         {I(-2), 0, I(31), I(-2147483647 - 1)},
        {I(2), 0, I(31), F(2147483648.0)}, {I(46341), 0, I(2), F(2147488281.0)},
        {I(2), 0, I(-1), F(0.5)},         {I(3), 0, F(2.0), F(9.0)},
        {I(4), 0, F(0.5), F(2.0)},
    };
    for (const MathCase& c : cases) {
        ValueCell r = call({c.a, c.b}, action_power);
        SCOPED_TRACE(testing::Message() << integer_get(&c.a));
        ASSERT_EQ(r.type(), c.expected.type());
        if (r.type() == TYPE_INTEGER) EXPECT_EQ(integer_get(&r), integer_get(&c.expected));
        else EXPECT_EQ(r.get_float(), c.expected.get_float());
    }
    EXPECT_EQ(error_of([] { call({I(2), P(0.5)}, action_power); }), Err::script_expect_arg);
    EXPECT_EQ(error_of([] { call({I(2), NONE()}, action_power); }), Err::script_expect_arg);
}

TEST_F(IntegerTest, RoundWithEveryRefinement) {
    struct Case {
        i32 n;
        i32 scale;  // 0 in `given` false means no /to
        bool given;
        unsigned flags;
        i32 expected;
    } const cases[] = {
        {5, 0, false, 0, 5},
        {15, 10, true, 0, 20},
        {-15, 10, true, 0, -20},
        {14, 10, true, 0, 10},
        {16, -10, true, 0, 20},            // the scale's magnitude is used
        {25, 10, true, R_EVEN, 20},
        {35, 10, true, R_EVEN, 40},
        {26, 10, true, R_EVEN, 30},
        {25, 10, true, R_HALF_DOWN, 20},
        {-25, 10, true, R_HALF_DOWN, -20},
        {25, 10, true, R_HALF_CEILING, 30},
        {-25, 10, true, R_HALF_CEILING, -20},
        {-11, 10, true, R_FLOOR, -20},
        {19, 10, true, R_FLOOR, 10},
        {-19, 10, true, R_CEILING, -10},
        {11, 10, true, R_CEILING, 20},
        {19, 10, true, R_DOWN, 10},
        {-19, 10, true, R_DOWN, -10},
        {19, 10, true, R_DOWN | R_CEILING, 10},   // /down is tested first
        {7, 0, true, 0, 7},
        {20, 10, true, R_CEILING, 20},
        {-2147483647 - 1, 10, true, 0, -2147483647 - 1},
        {2147483647, 10, true, R_DOWN, 2147483640},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " to " << c.scale << " flags " << c.flags);
        ValueCell s = I(c.scale);
        ValueCell r = round_call(I(c.n), c.given ? &s : nullptr, c.flags);
        ASSERT_EQ(r.type(), TYPE_INTEGER);
        EXPECT_EQ(integer_get(&r), c.expected);
    }
}

TEST_F(IntegerTest, RoundOverflowAndOtherScales) {
    ValueCell ten = I(10);
    EXPECT_EQ(error_of([&] { round_call(I(2147483647), &ten, 0); }), Err::math_overflow);
    // /floor and /ceiling check the limit before choosing a direction.
    EXPECT_EQ(error_of([&] { round_call(I(2147483641), &ten, R_FLOOR); }), Err::math_overflow);
    ValueCell min = I(-2147483647 - 1);
    EXPECT_EQ(error_of([&] { round_call(I(7), &min, 0); }), Err::math_overflow);
    ValueCell money = OTHER(TYPE_MONEY);
    EXPECT_EQ(error_of([&] { round_call(I(7), &money, 0); }), Err::script_not_related);
    // A float scale rounds as a float: 7 / 2.5 = 2.8 gives 3 x 2.5.
    ValueCell f = F(2.5);
    ValueCell r = round_call(I(7), &f, 0);
    ASSERT_EQ(r.type(), TYPE_FLOAT);
    EXPECT_EQ(r.get_float(), 7.5);
}

TEST_F(IntegerTest, ToAndMakeFromEachSourceType) {
    struct Case {
        ValueCell spec;
        i32 expected;
    } const cases[] = {
        {I(42), 42},
        {C('A'), 65},
        {F(1.5), 1},
        {F(-1.9), -1},
        {F(2147483647.0), 2147483647},
        {F(-2147483648.0), -2147483647 - 1},
        {P(0.5), 0},
        {P(250.0), 250},
        {T(1.5), 2},    // seconds plus 0.5, truncated
        {T(1.4), 1},
        {T(-1.7), -1},
    };
    for (const Case& c : cases) {
        ValueCell r = to(TYPE_INTEGER, c.spec);
        ASSERT_EQ(r.type(), TYPE_INTEGER);
        EXPECT_EQ(integer_get(&r), c.expected);
    }
    ValueCell t = make(TYPE_INTEGER, g_true_cell);
    EXPECT_EQ(integer_get(&t), 1);
    ValueCell f = make(TYPE_INTEGER, g_false_cell);
    EXPECT_EQ(integer_get(&f), 0);
}

TEST_F(IntegerTest, ToFromText) {
    struct Case {
        const char* text;
        i32 expected;
    } const ok[] = {
        {"123", 123}, {"-2147483648", -2147483647 - 1}, {"2147483647", 2147483647},
        {"+7", 7},    {"1'000'000", 1000000},           {"-0", 0},
    };
    for (const Case& c : ok) {
        ValueCell r = to(TYPE_INTEGER, *str(c.text));
        ASSERT_EQ(r.type(), TYPE_INTEGER) << c.text;
        EXPECT_EQ(integer_get(&r), c.expected) << c.text;
    }
    for (const char* bad : {"1.5", "2147483648", "-2147483649", "", "-", "12a", " 1", "'"}) {
        EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, *str(bad)); }), Err::script_bad_to_arg) << bad;
    }
    // From the string's index.
    ValueCell* s = str("x42");
    s->data1 = 1;
    EXPECT_EQ(iget((to(TYPE_INTEGER, *s))), 42);
}

TEST_F(IntegerTest, ToFromTextBeyondTenDigitsAndInWideStrings) {
    // Leading zeros keep a long run of digits in range.
    EXPECT_EQ(iget(to(TYPE_INTEGER, *str("000000000000042"))), 42);
    EXPECT_EQ(iget(to(TYPE_INTEGER, *str("-00000000002147483648"))), -2147483647 - 1);
    EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, *str("00000000002147483648")); }),
              Err::script_bad_to_arg);
    // A string of wide units, read from its index.
    ValueCell* s = str("\xE2\x82\xAC" "12");
    s->data1 = 1;
    EXPECT_EQ(iget(to(TYPE_INTEGER, *s)), 12);
    EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, *str("1\xE2\x82\xAC")); }), Err::script_bad_to_arg);
}

TEST_F(IntegerTest, ToFromBinaryAndIssue) {
    EXPECT_EQ(iget((to(TYPE_INTEGER, *bin({0x01, 0x02})))), 258);
    EXPECT_EQ(iget((to(TYPE_INTEGER, *bin({0xFF, 0xFF, 0xFF, 0xFF})))), -1);
    EXPECT_EQ(iget((to(TYPE_INTEGER, *bin({})))), 0);
    EXPECT_EQ(iget((to(TYPE_INTEGER, *bin({1, 2, 3, 4, 5})))), 0x01020304);
    ValueCell* b = bin({9, 1, 2});
    b->data1 = 1;
    EXPECT_EQ(iget((to(TYPE_INTEGER, *b))), 258);

    EXPECT_EQ(iget((to(TYPE_INTEGER, word("FF", TYPE_ISSUE)))), 255);
    EXPECT_EQ(iget((to(TYPE_INTEGER, word("ffffffff", TYPE_ISSUE)))), -1);
    EXPECT_EQ(iget((to(TYPE_INTEGER, word("7fFFffFF", TYPE_ISSUE)))), 2147483647);
    for (const char* bad : {"123456789", "FG", "-1"}) {
        EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, word(bad, TYPE_ISSUE)); }),
                  Err::script_invalid_data)
            << bad;
    }
}

TEST_F(IntegerTest, ToErrors) {
    struct Case {
        ValueCell spec;
        Err err;
    } const cases[] = {
        {F(2147483647.5), Err::script_type_limit},
        {F(-2147483648.5), Err::script_type_limit},
        {F(kNaN), Err::script_type_limit},
        {F(kInf), Err::script_type_limit},
        {P(1e10), Err::script_type_limit},
        {T(2147483647.0), Err::script_type_limit},
        {NONE(), Err::script_bad_to_arg},
        {g_true_cell, Err::script_bad_to_arg},   // only make takes a logic!
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.spec.type());
        EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, c.spec); }), c.err);
    }
}

TEST_F(IntegerTest, FormAndMold) {
    struct Case {
        i32 v;
        const char* text;
    } const cases[] = {{0, "0"}, {-5, "-5"}, {2147483647, "2147483647"},
                       {-2147483647 - 1, "-2147483648"}, {1000, "1000"}};
    for (const Case& c : cases) {
        EXPECT_EQ(form(I(c.v)), c.text);
        EXPECT_EQ(mold(I(c.v)), c.text);
        EXPECT_STREQ(integer_to_cstr(c.v), c.text);
    }
    ValueCell v = I(12345);
    ValueCell* out = string_push_new(16);
    EXPECT_EQ(integer_form(&v, out, nullptr, 10), 5);
}

TEST_F(IntegerTest, CompareWithEveryOpCode) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        bool expected;
    } const cases[] = {
        {I(1), CMP_EQUAL, I(1), true},          {I(1), CMP_EQUAL, I(2), false},
        {I(1), CMP_NOT_EQUAL, I(2), true},      {I(1), CMP_STRICT_EQUAL, I(1), true},
        {I(1), CMP_LESSER, I(2), true},         {I(2), CMP_LESSER, I(1), false},
        {I(2), CMP_LESSER_EQUAL, I(2), true},   {I(3), CMP_GREATER, I(2), true},
        {I(2), CMP_GREATER_EQUAL, I(3), false}, {I(-1), CMP_LESSER, I(0), true},
        {I(1), CMP_SAME, I(1), true},           {I(1), CMP_FIND, I(1), true},
        {I(97), CMP_EQUAL, C('a'), true},       {I(97), CMP_STRICT_EQUAL, C('a'), false},
        {I(97), CMP_FIND, C('a'), false},       {I(1), CMP_EQUAL, F(1.0), true},
        {I(1), CMP_STRICT_EQUAL, F(1.0), false}, {I(1), CMP_SAME, F(1.0), false},
        {I(1), CMP_LESSER, F(1.5), true},       {I(2), CMP_GREATER, P(1.5), true},
        {I(60), CMP_EQUAL, T(60.0), true},      {I(1), CMP_EQUAL, NONE(), false},
        {I(1), CMP_NOT_EQUAL, NONE(), true},    {I(1), CMP_EQUAL, M(1.0), true},
        {I(1), CMP_LESSER, M(1.5), true},      {I(2), CMP_GREATER, M(1.99), true},
        {I(1), CMP_STRICT_EQUAL, M(1.0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << c.op << " type " << c.b.type());
        EXPECT_EQ(cmp(c.a, c.op, c.b), c.expected);
    }
    EXPECT_EQ(cmp_raw(I(1), CMP_SORT, I(2)), -1);
    EXPECT_EQ(cmp_raw(I(2), CMP_SORT_CASE, I(1)), 1);
    EXPECT_EQ(cmp_raw(I(1), CMP_LESSER, NONE()), CMP_NOT_COMPARABLE);
    EXPECT_EQ(error_of([] { cmp(I(1), CMP_LESSER, NONE()); }), Err::script_invalid_compare);
}

TEST_F(IntegerTest, UnaryActions) {
    EXPECT_EQ(iget((call({I(-5)}, action_absolute))), 5);
    EXPECT_EQ(iget((call({I(5)}, action_negate))), -5);
    EXPECT_EQ(iget((call({I(0)}, action_negate))), 0);
    EXPECT_EQ(iget((call({I(5)}, action_complement))), -6);
    EXPECT_EQ(error_of([] { call({I(-2147483647 - 1)}, action_negate); }), Err::math_overflow);
    EXPECT_EQ(error_of([] { call({I(-2147483647 - 1)}, action_absolute); }), Err::math_overflow);
    EXPECT_EQ(error_of([] { integer_absolute_value(-2147483647 - 1); }), Err::math_overflow);
    EXPECT_TRUE(lget((call({I(4)}, action_even_q))));
    EXPECT_FALSE(lget((call({I(-3)}, action_even_q))));
    EXPECT_TRUE(lget((call({I(-3)}, action_odd_q))));
    EXPECT_TRUE(integer_float_overflow_q(2147483647.5));
    EXPECT_FALSE(integer_float_overflow_q(-2147483648.0));
    EXPECT_TRUE(integer_float_overflow_q(kNaN));
}

i32 g_last_bound;
bool g_last_secure;
u32 g_last_seed;

TEST_F(IntegerTest, RandomDrawsThroughTheGenerator) {
    g_services.random_int = [](i32 n, bool secure) -> i32 {
        g_last_bound = n;
        g_last_secure = secure;
        return n > 0 ? 1 : -1;
    };
    g_services.random_seed = [](u32 s) { g_last_seed = s; };
    ValueCell r = call({I(10)}, [] { action_random(-1, 0, -1); });
    EXPECT_EQ(integer_get(&r), 1);
    EXPECT_EQ(g_last_bound, 10);
    EXPECT_TRUE(g_last_secure);
    g_last_bound = 99;
    EXPECT_EQ(iget((call({I(0)}, [] { action_random(-1, -1, -1); }))), 0);
    EXPECT_EQ(g_last_bound, 99);  // 0 stays 0 without a draw
    EXPECT_EQ(iget((call({I(-4)}, [] { action_random(-1, -1, -1); }))), -1);
    ValueCell seeded = call({I(1234)}, [] { action_random(0, -1, -1); });
    EXPECT_EQ(seeded.type(), TYPE_UNSET);
    EXPECT_EQ(g_last_seed, 1234u);
    g_services.random_int = nullptr;
    g_services.random_seed = nullptr;
}

}  // namespace
}  // namespace zan::test
