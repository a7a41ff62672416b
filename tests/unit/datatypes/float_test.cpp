// float!: IEEE arithmetic with its result types, remainder, conversions,
// the approximate equality, rounding, unary actions, random draws and the
// exact form and mold texts.
#include <cfloat>

#include "number_test_support.h"
#include "runtime/datatypes/pair.h"

namespace zan::test {
namespace {

class FloatTest : public NumberTest {
protected:
    // The float arithmetic core itself, which time! also runs on.
    static ValueCell core(const ValueCell& a, i32 op, const ValueCell& b) {
        return call({a, b}, [op] { float_math_op(op); });
    }
    static Err core_error(const ValueCell& a, i32 op, const ValueCell& b) {
        return error_of([&] { core(a, op, b); });
    }
};

void expect_same_number(const ValueCell& r, const ValueCell& expected) {
    ASSERT_EQ(r.type(), expected.type());
    if (r.type() == TYPE_INTEGER) {
        EXPECT_EQ(iget(r), iget(expected));
    } else if (std::isnan(fget(expected))) {
        EXPECT_TRUE(std::isnan(fget(r)));
    } else {
        EXPECT_EQ(bits_of(fget(r)), bits_of(fget(expected))) << fget(r) << " vs " << fget(expected);
    }
}

TEST_F(FloatTest, ArithmeticAndResultTypes) {
    const MathCase cases[] = {
        {F(1.5), MATH_ADD, F(1.5), F(3.0)},
        {F(0.1), MATH_ADD, F(0.2), F(0.30000000000000004)},
        {F(1.0), MATH_SUBTRACT, I(3), F(-2.0)},
        {F(1.0), MATH_ADD, C('a'), F(98.0)},
        {F(1.0), MATH_DIVIDE, F(0.0), F(kInf)},
        {F(-1.0), MATH_DIVIDE, F(0.0), F(-kInf)},
        {F(0.0), MATH_DIVIDE, F(0.0), F(kNaN)},
        {F(1e308), MATH_MULTIPLY, F(10.0), F(kInf)},
        {P(0.5), MATH_ADD, F(0.5), P(1.0)},      // 50% + 0.5 is 100%
        {F(0.5), MATH_ADD, P(0.5), F(1.0)},      // 0.5 + 50% is 1.0
        {P(0.5), MATH_MULTIPLY, P(0.5), P(0.25)},
        {P(0.5), MATH_MULTIPLY, I(2), P(1.0)},
        {T(10.0), MATH_ADD, T(5.0), T(15.0)},
        {F(2.0), MATH_MULTIPLY, T(5.0), T(10.0)},
        {T(10.0), MATH_DIVIDE, I(4), T(2.5)},
        {P(0.5), MATH_ADD, T(1.0), T(1.5)},
        {F(5.5), MATH_REMAINDER, F(2.0), F(1.5)},
        {F(-7.5), MATH_REMAINDER, I(2), F(-1.5)},
        {F(5.0), MATH_REMAINDER, F(kInf), F(5.0)},
        {F(kInf), MATH_REMAINDER, F(kInf), F(kNaN)},
        {F(5.0), MATH_REMAINDER, F(kNaN), F(kNaN)},
        {F(kInf), MATH_REMAINDER, F(2.0), F(kNaN)},
        {F(5.0), MATH_REMAINDER, F(0.0), F(kNaN)},
    };
    for (const MathCase& c : cases) {
        SCOPED_TRACE(testing::Message() << fget(c.a) << " op " << c.op << " " << fget(c.b));
        expect_same_number(core(c.a, c.op, c.b), c.expected);
        if (c.a.type() != TYPE_TIME) expect_same_number(math(c.a, c.op, c.b), c.expected);
    }
}

TEST_F(FloatTest, ArithmeticErrors) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        Err err;
    } const cases[] = {
        {F(1.5), MATH_ADD, NONE(), Err::script_invalid_type},
        {P(0.5), MATH_ADD, C('a'), Err::script_invalid_type},
        {T(1.0), MATH_ADD, C('a'), Err::script_invalid_type},
        {F(1.5), MATH_AND, I(1), Err::script_cannot_use},   // reached from integer!
        {F(1.5), MATH_OR, F(1.0), Err::script_cannot_use},
        {P(1.5), MATH_XOR, P(1.0), Err::script_cannot_use},
        {F(2.0), MATH_SUBTRACT, OTHER(TYPE_PAIR), Err::script_not_related},
        {F(2.0), MATH_DIVIDE, OTHER(TYPE_POINT3D), Err::script_not_related},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << c.op << " type " << c.b.type());
        EXPECT_EQ(core_error(c.a, c.op, c.b), c.err);
    }
    // float! and percent! have no bitwise actions of their own.
    EXPECT_EQ(math_error(F(1.5), MATH_AND, I(1)), Err::script_expect_arg);
    EXPECT_EQ(math_error(P(1.5), MATH_OR, I(1)), Err::script_expect_arg);
    EXPECT_EQ(math_error(P(0.5), MATH_ADD, C('a')), Err::script_invalid_type);
}

TEST_F(FloatTest, PointLikeRightOperandsAreExchanged) {
    auto pair = [](i32 x, i32 y) {
        ValueCell p;
        pair_make_at(&p, x, y);
        return p;
    };
    ValueCell r = math(F(2.0), MATH_MULTIPLY, pair(1, 3));
    ValueCell same = call({pair(1, 3), F(2.0)}, action_multiply);
    EXPECT_EQ(mold(r), mold(same));
    EXPECT_EQ(mold(r), "(2, 6)");
    EXPECT_EQ(math_error(F(2.0), MATH_SUBTRACT, pair(1, 1)), Err::script_not_related);
    // A time! on the left is never handed over.
    EXPECT_EQ(core_error(T(2.0), MATH_ADD, pair(1, 1)), Err::script_invalid_type);
}

TEST_F(FloatTest, MakeAndToFromEachSourceType) {
    struct Case {
        u32 target;
        ValueCell spec;
        ValueCell expected;
    } const cases[] = {
        {TYPE_FLOAT, I(5), F(5.0)},
        {TYPE_FLOAT, C('a'), F(97.0)},
        {TYPE_FLOAT, F(1.25), F(1.25)},
        {TYPE_FLOAT, P(0.5), F(0.5)},            // to float! 50% is 0.5
        {TYPE_FLOAT, T(90.5), F(90.5)},
        {TYPE_PERCENT, F(0.5), P(0.5)},          // to percent! 0.5 is 50%
        {TYPE_PERCENT, I(5), P(5.0)},            // make percent! 5 is 500%
    };
    for (const Case& c : cases) {
        expect_same_number(to(c.target, c.spec), c.expected);
        expect_same_number(make(c.target, c.spec), c.expected);
    }
    expect_same_number(to(TYPE_FLOAT, *bin({0x3F, 0xF0, 0, 0, 0, 0, 0, 0})), F(1.0));
    expect_same_number(to(TYPE_FLOAT, *bin({0x01})), F(std::numeric_limits<double>::denorm_min()));
    expect_same_number(to(TYPE_FLOAT, *bin({})), F(0.0));
    expect_same_number(make(TYPE_FLOAT, *blk({I(15), I(-1)})), F(1.5));
    expect_same_number(make(TYPE_FLOAT, *blk({I(3), I(-1)})), F(0.3));
    expect_same_number(make(TYPE_FLOAT, *blk({F(2.5), F(2.9)})), F(250.0));
    expect_same_number(make(TYPE_PERCENT, *blk({I(5), I(-1)})), P(0.5));
}

TEST_F(FloatTest, ToFromText) {
    struct Case {
        const char* text;
        double expected;
    } const cases[] = {
        {"1.5", 1.5},       {"-2", -2.0},         {"1,5", 1.5},        {"1'000.5", 1000.5},
        {".5", 0.5},        {"5.", 5.0},          {"1e3", 1000.0},     {"1.5E-2", 0.015},
        {"+0.25", 0.25},    {"1e400", kInf},      {"1e-400", 0.0},     {"1,5e2", 150.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        expect_same_number(to(TYPE_FLOAT, *str(c.text)), F(c.expected));
    }
    // The special texts are literals of their own, not float text.
    for (const char* bad : {"", "abc", "1.5x", "1e", "--1", ".", "1 2", "\xC3\xA9", "1.#INF",
                            "-1.#INF", "1.#NaN"}) {
        EXPECT_EQ(error_of([&] { to(TYPE_FLOAT, *str(bad)); }), Err::script_bad_to_arg) << bad;
    }
    std::string long_text(313, '1');
    EXPECT_EQ(error_of([&] { to(TYPE_FLOAT, *str(long_text)); }), Err::script_bad_to_arg);
    // percent! loads one number literal.
    expect_same_number(to(TYPE_PERCENT, *str("50%")), P(0.5));
    expect_same_number(to(TYPE_PERCENT, *str("5")), P(5.0));
    expect_same_number(to(TYPE_PERCENT, *str("0.25")), P(0.25));
    EXPECT_EQ(error_of([&] { to(TYPE_PERCENT, *str("abc")); }), Err::script_bad_to_arg);
}

TEST_F(FloatTest, ToFromTextInWideStrings) {
    ValueCell* s = str("\xE2\x82\xAC" "1.5");
    s->data1 = 1;
    expect_same_number(to(TYPE_FLOAT, *s), F(1.5));
    EXPECT_EQ(error_of([&] { to(TYPE_FLOAT, *str("1.5\xE2\x82\xAC")); }), Err::script_bad_to_arg);
}

TEST_F(FloatTest, ToErrorsNameTheTarget) {
    struct Case {
        u32 target;
        ValueCell spec;
    } const cases[] = {
        {TYPE_FLOAT, NONE()},
        {TYPE_FLOAT, g_true_cell},
        {TYPE_PERCENT, NONE()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { to(c.target, c.spec); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { make(TYPE_FLOAT, *blk({I(1), I(2), I(3)})); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { make(TYPE_FLOAT, *blk({I(1), P(0.5)})); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { make(TYPE_FLOAT, *blk({})); }), Err::script_bad_to_arg);
}

TEST_F(FloatTest, CompareWithEveryOpCode) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        bool expected;
    } const cases[] = {
        {F(0.1 + 0.2), CMP_EQUAL, F(0.3), true},
        {F(0.1 + 0.2), CMP_STRICT_EQUAL, F(0.3), false},
        {F(0.1 + 0.2), CMP_NOT_EQUAL, F(0.3), false},
        {F(1e-20), CMP_EQUAL, F(2e-20), true},
        {F(1.0), CMP_EQUAL, F(1.0001), false},
        {F(kNaN), CMP_LESSER, F(1.0), false},
        {F(kNaN), CMP_GREATER, F(1.0), false},
        {F(kNaN), CMP_LESSER_EQUAL, F(1.0), false},
        {F(1.0), CMP_GREATER_EQUAL, F(kNaN), false},
        {F(kNaN), CMP_EQUAL, F(kNaN), false},
        {F(kNaN), CMP_NOT_EQUAL, F(kNaN), true},
        {F(kNaN), CMP_STRICT_EQUAL, F(kNaN), false},
        {F(kNaN), CMP_FIND, F(kNaN), false},
        {F(kNaN), CMP_SAME, F(kNaN), true},           // the same bit pattern
        {F(1.0), CMP_EQUAL, I(1), true},
        {F(1.0), CMP_STRICT_EQUAL, I(1), false},
        {F(0.0), CMP_STRICT_EQUAL, F(-0.0), true},
        {F(0.0), CMP_SAME, F(-0.0), false},
        {F(0.0), CMP_EQUAL, F(-0.0), true},
        {F(1.0), CMP_LESSER, F(2.0), true},
        {F(2.0), CMP_LESSER_EQUAL, I(2), true},
        {F(-1.0), CMP_GREATER, I(-2), true},
        {F(1.0), CMP_FIND, F(1.0), true},
        {P(0.5), CMP_EQUAL, F(0.5), true},
        {P(0.5), CMP_STRICT_EQUAL, F(0.5), false},
        {F(60.0), CMP_EQUAL, T(60.0), true},
        {F(1.0), CMP_EQUAL, NONE(), false},
        {F(1.5), CMP_EQUAL, M(1.5), true},
        {F(1.5), CMP_STRICT_EQUAL, M(1.5), false},
        {F(2.5), CMP_GREATER, M(1.5), true},
        {F(1e30), CMP_LESSER, M(1.0), false},    // beyond money's range: by value
        {F(-1e30), CMP_LESSER, M(1.0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << fget(c.a) << " op " << c.op);
        EXPECT_EQ(cmp(c.a, c.op, c.b), c.expected);
    }
    EXPECT_EQ(cmp_raw(F(1.0), CMP_SORT, F(2.0)), -1);
    EXPECT_EQ(cmp_raw(F(kNaN), CMP_SORT, F(2.0)), 0);
    EXPECT_EQ(error_of([] { cmp(F(1.0), CMP_LESSER, NONE()); }), Err::script_invalid_compare);
}

TEST_F(FloatTest, ApproximateEqualityCountsTenUnitsInTheLastPlace) {
    double x = 1.0;
    double ten = x, eleven = x;
    for (int i = 0; i < 10; i++) ten = std::nextafter(ten, 2.0);
    for (int i = 0; i < 11; i++) eleven = std::nextafter(eleven, 2.0);
    EXPECT_TRUE(float_almost_equal(x, ten));
    EXPECT_FALSE(float_almost_equal(x, eleven));
    // Across zero: the two sides of 0 meet on the ordered scale.
    EXPECT_TRUE(float_almost_equal(-std::numeric_limits<double>::denorm_min(),
                                   std::numeric_limits<double>::denorm_min()));
    EXPECT_FALSE(float_almost_equal(1e300, 1.0000000001e300));

    EXPECT_TRUE(float32_almost_equal(1.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_FALSE(float32_almost_equal(1.0f, 1.001f));
    EXPECT_TRUE(float32_almost_equal(0.0f, -0.0f));
    EXPECT_FALSE(float32_almost_equal(std::numeric_limits<float>::quiet_NaN(), 1.0f));
    EXPECT_TRUE(float32_almost_equal(FLT_MAX, std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(float32_almost_equal(FLT_MAX, -std::numeric_limits<float>::infinity()));
}

TEST_F(FloatTest, RoundWithEveryRefinement) {
    struct Case {
        ValueCell x;
        bool given;
        ValueCell scale;
        unsigned flags;
        ValueCell expected;
    } const cases[] = {
        {F(2.5), false, NONE(), 0, F(3.0)},
        {F(-2.5), false, NONE(), 0, F(-3.0)},
        {F(2.4), false, NONE(), 0, F(2.0)},
        {F(2.5), false, NONE(), R_EVEN, F(2.0)},
        {F(3.5), false, NONE(), R_EVEN, F(4.0)},
        {F(-2.5), false, NONE(), R_HALF_DOWN, F(-2.0)},
        {F(2.5), false, NONE(), R_HALF_DOWN, F(2.0)},
        {F(-2.5), false, NONE(), R_HALF_CEILING, F(-2.0)},
        {F(2.5), false, NONE(), R_HALF_CEILING, F(3.0)},
        {F(2.7), false, NONE(), R_DOWN, F(2.0)},
        {F(-2.7), false, NONE(), R_DOWN, F(-2.0)},
        {F(-2.1), false, NONE(), R_FLOOR, F(-3.0)},
        {F(2.1), false, NONE(), R_CEILING, F(3.0)},
        {F(2.6), false, NONE(), R_EVEN, F(3.0)},
        {F(3.14159), true, F(0.01), 0, F(3.14)},
        {F(7.3), true, I(2), 0, I(8)},
        {F(7.3), true, F(-2.0), 0, F(8.0)},
        {F(1e300), true, I(1), 0, F(1e300)},           // too large for the scale to matter
        {F(kInf), false, NONE(), 0, F(kInf)},
        {F(kNaN), false, NONE(), 0, F(kNaN)},
        {F(0.0), true, F(0.0), 0, F(0.0)},             // nothing to round to
        {F(5.5), true, P(0.5), 0, P(5.5)},             // the scale's type
        {P(0.12345), false, NONE(), 0, P(0.12)},       // round 12.345% is 12%
        {P(0.12346), true, F(0.1), 0, F(0.123)},       // the scale is divided by 100
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << fget(c.x) << " flags " << c.flags);
        expect_same_number(round_call(c.x, c.given ? &c.scale : nullptr, c.flags), c.expected);
    }
}

TEST_F(FloatTest, RoundToASubnormalScale) {
    // 1 / 1e-310 overflows; both sides are scaled by a power of two instead.
    ValueCell s = F(1e-310);
    ValueCell r = round_call(F(3.2e-310), &s, 0);
    ASSERT_EQ(r.type(), TYPE_FLOAT);
    EXPECT_NEAR(fget(r) / 1e-310, 3.0, 1e-9);
    ValueCell down = round_call(F(3.7e-310), &s, R_DOWN);
    EXPECT_NEAR(fget(down) / 1e-310, 3.0, 1e-9);
}

TEST_F(FloatTest, RoundErrors) {
    ValueCell money = OTHER(TYPE_MONEY);
    EXPECT_EQ(error_of([&] { round_call(F(1.5), &money, 0); }), Err::script_not_related);
    ValueCell big = F(1e308);
    EXPECT_EQ(error_of([&] { round_call(F(1.7e308), &big, 0); }), Err::math_overflow);
    ValueCell one = I(1);
    EXPECT_EQ(error_of([&] { round_call(F(1e10), &one, 0); }), Err::math_overflow);
    ValueCell text = *str("x");
    EXPECT_EQ(error_of([&] { round_call(F(1.5), &text, 0); }), Err::script_invalid_arg);
}

TEST_F(FloatTest, UnaryActions) {
    EXPECT_EQ(bits_of(fget(call({F(0.0)}, action_negate))), bits_of(0.0));
    EXPECT_EQ(bits_of(fget(call({F(-0.0)}, action_negate))), bits_of(0.0));
    EXPECT_EQ(fget(call({F(1.5)}, action_negate)), -1.5);
    EXPECT_EQ(fget(call({F(-1.5)}, action_absolute)), 1.5);
    EXPECT_EQ(bits_of(fget(call({F(-0.0)}, action_absolute))), bits_of(0.0));
    EXPECT_EQ(call({P(-0.5)}, action_absolute).type(), TYPE_PERCENT);

    struct Parity {
        double v;
        bool even, odd;
    } const parities[] = {
        {2.9, true, false}, {-3.5, false, true}, {0.5, true, false}, {3e9 + 1, false, true},
        {1e300, true, false}, {kNaN, false, false}, {kInf, false, false},
    };
    for (const Parity& p : parities) {
        EXPECT_EQ(lget(call({F(p.v)}, action_even_q)), p.even) << p.v;
        EXPECT_EQ(lget(call({F(p.v)}, action_odd_q)), p.odd) << p.v;
    }

    expect_same_number(call({F(2.0), I(3)}, action_power), F(8.0));
    expect_same_number(call({F(4.0), F(0.5)}, action_power), F(2.0));
    expect_same_number(call({P(0.5), I(2)}, action_power), P(0.25));
    EXPECT_EQ(error_of([] { call({F(2.0), P(0.5)}, action_power); }), Err::script_expect_arg);
    EXPECT_EQ(error_of([] { call({F(2.0), NONE()}, action_power); }), Err::script_expect_arg);
}

TEST_F(FloatTest, FormAndMoldTexts) {
    struct Case {
        double v;
        const char* formed;
        const char* molded;
    } const cases[] = {
        {0.1, "0.1", "0.1"},
        {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333"},
        {2.0, "2.0", "2.0"},
        {-2.5, "-2.5", "-2.5"},
        {100.0, "100.0", "100.0"},
        {1e300, "1.0e300", "1.0e300"},
        {-0.0, "0.0", "-0.0"},
        {0.0, "0.0", "0.0"},
        {1e-7, "1.0e-7", "0.0000001"},
        {1e-8, "1.0e-8", "1.0e-8"},
        {1e16, "1.0e16", "10000000000000000.0"},
        {1e17, "1.0e17", "1.0e17"},
        {123456789012345680.0, "1.234567890123457e17", "1.2345678901234568e17"},
        {0.30000000000000004, "0.3", "0.30000000000000004"},
        {0.7999999999999999, "0.8", "0.7999999999999999"},
        {1e-20, "0.0", "1.0e-20"},
        {kInf, "1.#INF", "1.#INF"},
        {-kInf, "-1.#INF", "-1.#INF"},
        {kNaN, "1.#NaN", "1.#NaN"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(F(c.v)), c.formed) << c.v;
        EXPECT_EQ(mold(F(c.v)), c.molded) << c.v;
    }
    ValueCell v = F(2.5);
    ValueCell* out = string_push_new(16);
    EXPECT_EQ(float_form(&v, out, nullptr, 10), 7);
    EXPECT_EQ(float_mold(&v, out, false, false, false, nullptr, 2, 0), -1);
}

u32 g_draws[4];
int g_draw_at;
u32 g_seed;

TEST_F(FloatTest, RandomStaysBetweenZeroAndTheValue) {
    g_services.random_next = [] { return g_draws[g_draw_at++]; };
    g_services.random_secure_next = [] { return g_draws[g_draw_at++]; };
    g_services.random_seed = [](u32 s) { g_seed = s; };
    auto draw = [](double v, bool secure) {
        g_draw_at = 0;
        return fget(call({F(v)}, [secure] { action_random(-1, secure ? 0 : -1, -1); }));
    };
    g_draws[0] = 2147483647;
    EXPECT_EQ(draw(10.0, false), 10.0);
    g_draws[0] = 0;
    EXPECT_EQ(draw(10.0, false), 0.0);
    g_draws[0] = 2147483647 / 2 + 1;
    EXPECT_NEAR(draw(10.0, false), 5.0, 1e-8);
    // Secure: (r2 + r1 / 2147483647) x v / 2147483648, both draws at most.
    g_draws[0] = 2147483647;
    g_draws[1] = 2147483647;
    EXPECT_EQ(draw(2.0, true), 2.0);
    g_draws[0] = 0;
    g_draws[1] = 1073741824;
    EXPECT_EQ(draw(2.0, true), 1.0);

    ValueCell p = call({P(0.5)}, [] {
        g_draw_at = 0;
        action_random(-1, -1, -1);
    });
    EXPECT_EQ(p.type(), TYPE_PERCENT);

    ValueCell v = F(1.5);
    ValueCell seeded = call({v}, [] { action_random(0, -1, -1); });
    EXPECT_EQ(seeded.type(), TYPE_UNSET);
    EXPECT_EQ(g_seed, v.data2 ^ v.data3);
    g_services.random_next = nullptr;
    g_services.random_secure_next = nullptr;
    g_services.random_seed = nullptr;
}

}  // namespace
}  // namespace zan::test
