// pair!: construction, integer arithmetic with its fall-over into
// point2D!, comparison, rounding, fields and the text form.
#include "scalar_test_support.h"

namespace zan::test {
namespace {

class PairTest : public ScalarTest {
protected:
    static void expect_pair(const ValueCell& v, i32 x, i32 y) {
        ASSERT_EQ(v.type(), TYPE_PAIR) << mold(v);
        EXPECT_EQ(pair_x(&v), x);
        EXPECT_EQ(pair_y(&v), y);
    }
    static void expect_point(const ValueCell& v, float x, float y) {
        ASSERT_EQ(v.type(), TYPE_POINT2D) << mold(v);
        EXPECT_FLOAT_EQ(point_x(&v), x);
        EXPECT_FLOAT_EQ(point_y(&v), y);
    }
};

TEST_F(PairTest, CellLayout) {
    ValueCell p = PR(10, -20);
    EXPECT_EQ(p.header & 0xFF, TYPE_PAIR);
    EXPECT_EQ(static_cast<i32>(p.data2), 10);
    EXPECT_EQ(static_cast<i32>(p.data3), -20);
    ValueCell marked = p;
    marked.header |= CELL_NEW_LINE;
    pair_make_at(&marked, 1, 2);
    EXPECT_TRUE(marked.new_line());
}

TEST_F(PairTest, MakeAndTo) {
    expect_pair(make(TYPE_PAIR, I(3)), 3, 3);
    expect_pair(make(TYPE_PAIR, F(-2.7)), -2, -2);
    expect_pair(make(TYPE_PAIR, *blk({F(1.9), I(2), I(3)})), 1, 2);
    expect_pair(to(TYPE_PAIR, P2(3.9f, -4.2f)), 3, -4);
    expect_pair(make(TYPE_PAIR, PR(5, 6)), 5, 6);
    // A float outside the 32-bit range truncates to the minimum.
    expect_pair(make(TYPE_PAIR, F(1e20)), -2147483647 - 1, -2147483647 - 1);
    EXPECT_EQ(error_of([&] { make(TYPE_PAIR, *blk({I(1)})); }), Err::syntax_malconstruct);
    EXPECT_EQ(error_of([&] { make(TYPE_PAIR, *blk({I(1), str("2")[0]})); }),
              Err::syntax_malconstruct);
    EXPECT_EQ(error_of([&] { make(TYPE_PAIR, P2(kInf, 1)); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { make(TYPE_PAIR, NONE()); }), Err::script_bad_to_arg);
    scan_as(PR(10, 20));
    expect_pair(make(TYPE_PAIR, empty_text()), 10, 20);
    scan_as(I(10));
    EXPECT_EQ(error_of([&] { make(TYPE_PAIR, empty_text()); }), Err::script_bad_to_arg);
}

TEST_F(PairTest, IntegerArithmetic) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        i32 x, y;
    } cases[] = {
        {PR(3, 4), MATH_MULTIPLY, I(2), 6, 8},      {PR(3, 4), MATH_ADD, F(1.9), 4, 5},
        {PR(6, 8), MATH_DIVIDE, I(2), 3, 4},        {PR(7, 8), MATH_REMAINDER, I(3), 1, 2},
        {PR(-7, 8), MATH_REMAINDER, I(3), -1, 2},   {PR(1, 2), MATH_ADD, PR(10, 20), 11, 22},
        {PR(5, 6), MATH_SUBTRACT, PR(1, 1), 4, 5},  {PR(6, 5), MATH_AND, I(3), 2, 1},
        {PR(4, 1), MATH_OR, PR(1, 2), 5, 3},        {PR(6, 5), MATH_XOR, I(3), 5, 6},
        {I(1), MATH_ADD, PR(1, 2), 2, 3},           {I(1), MATH_SUBTRACT, PR(1, 2), 0, -1},
        {F(2.5), MATH_ADD, PR(1, 3), 3, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(mold(c.a) + " op " + std::to_string(c.op) + " " + mold(c.b));
        expect_pair(math(c.a, c.op, c.b), c.x, c.y);
    }
}

TEST_F(PairTest, ResultsThatAreNotIntegersBecomePoints) {
    expect_point(math(PR(3, 4), MATH_MULTIPLY, F(0.5)), 1.5f, 2.0f);
    expect_point(math(PR(7, 8), MATH_DIVIDE, I(2)), 3.5f, 4.0f);
    expect_point(math(PR(2147483647, 1), MATH_ADD, PR(1, 1)), 2147483648.0f, 2.0f);
    expect_point(math(PR(1, 2147483647), MATH_MULTIPLY, I(2)), 2.0f, 4294967294.0f);
    expect_point(math(PR(1, 2), MATH_ADD, P2(0.5f, 0.25f)), 1.5f, 2.25f);
    expect_point(math(PR(4, 6), MATH_MULTIPLY, P(0.5)), 2.0f, 3.0f);
    expect_point(math(F(2), MATH_MULTIPLY, PR(1, 3)), 2.0f, 6.0f);
    ValueCell inf = math(PR(1, -1), MATH_DIVIDE, F(0.0));
    EXPECT_EQ(mold(inf), "(1.#INF, -1.#INF)");
    EXPECT_EQ(mold(math(PR(1, 2), MATH_DIVIDE, F(kInf))), "(0, 0)");
}

TEST_F(PairTest, ArithmeticErrors) {
    EXPECT_EQ(math_error(PR(3, 4), MATH_REMAINDER, I(0)), Err::math_zero_divide);
    EXPECT_EQ(math_error(PR(3, 4), MATH_DIVIDE, PR(1, 0)), Err::math_zero_divide);
    EXPECT_EQ(math_error(PR(-2147483647 - 1, 4), MATH_DIVIDE, I(-1)), Err::math_overflow);
    EXPECT_EQ(math_error(PR(-2147483647 - 1, 4), MATH_REMAINDER, I(-1)), Err::math_overflow);
    EXPECT_EQ(math_error(PR(3, 4), MATH_MULTIPLY, F(kInf)), Err::script_invalid_arg);
    EXPECT_EQ(math_error(PR(3, 4), MATH_DIVIDE, F(kNaN)), Err::script_invalid_arg);
    EXPECT_EQ(math_error(PR(3, 4), MATH_ADD, F(kInf)), Err::script_invalid_arg);
    EXPECT_EQ(math_error(PR(3, 4), MATH_ADD, str("1")[0]), Err::script_invalid_type);
    EXPECT_EQ(math_error(PR(3, 4), MATH_ADD, P3(1, 2, 3)), Err::script_invalid_type);
    EXPECT_EQ(math_error(I(1), MATH_DIVIDE, PR(2, 2)), Err::script_not_related);
    EXPECT_EQ(math_error(F(1), MATH_SUBTRACT, PR(2, 2)), Err::script_not_related);
}

TEST_F(PairTest, NegateThatOverflowsBecomesAPoint) {
    expect_pair(NEG(PR(3, -4)), -3, 4);
    ValueCell n = NEG(PR(-2147483647 - 1, 0));
    expect_point(n, 2147483648.0f, 0.0f);
    ValueCell m = NEG(PR(5, -2147483647 - 1));
    expect_point(m, -5.0f, 2147483648.0f);
    expect_pair(ABS(PR(-3, 4)), 3, 4);
    EXPECT_EQ(error_of([&] { ABS(PR(-2147483647 - 1, 0)); }), Err::math_overflow);
}

TEST_F(PairTest, Compare) {
    EXPECT_TRUE(cmp(PR(1, 2), CMP_LESSER, PR(2, 0)));
    EXPECT_TRUE(cmp(PR(2, 1), CMP_EQUAL, PR(2, 1)));
    EXPECT_TRUE(cmp(PR(2, 1), CMP_GREATER, PR(2, 0)));
    EXPECT_TRUE(cmp(PR(2, 1), CMP_EQUAL, P2(2, 1)));
    EXPECT_EQ(cmp_raw(PR(1, 1), CMP_EQUAL, I(1)), CMP_NOT_COMPARABLE);
    EXPECT_FALSE(cmp(PR(1, 1), CMP_EQUAL, I(1)));
}

TEST_F(PairTest, Round) {
    ValueCell s10 = I(10);
    expect_pair(round_call(PR(14, 15), &s10, 0), 10, 20);
    ValueCell sp = PR(10, 100);
    expect_pair(round_call(PR(14, 151), &sp, 0), 10, 200);
    expect_pair(round_call(PR(14, 15), &s10, R_DOWN), 10, 10);
    ValueCell half = F(0.5);
    expect_pair(round_call(PR(3, 4), &half, 0), 3, 4);
    ValueCell m = MONEY("1");
    EXPECT_EQ(error_of([&] { round_call(PR(1, 2), &m, 0); }), Err::script_not_related);
}

TEST_F(PairTest, FieldsAndPaths) {
    ValueCell p = PR(10, 20);
    EXPECT_EQ(iget(pick(p, I(1))), 10);
    EXPECT_EQ(iget(pick(p, W("y"))), 20);
    EXPECT_EQ(iget(path_get(p, W("X"))), 10);
    expect_pair(path_set(p, W("y"), I(7)), 10, 7);
    expect_pair(path_set(p, I(1), I(-1)), -1, 20);
    EXPECT_EQ(error_of([&] { pick(p, W("z")); }), Err::script_cannot_use);
    EXPECT_EQ(error_of([&] { pick(p, I(3)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { path_get(p, W("z")); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path_set(p, W("x"), F(1.5)); }), Err::script_invalid_type);
    EXPECT_EQ(pair_field_index(&static_cast<const ValueCell&>(word("y")), &p), 2);
}

TEST_F(PairTest, TextAndReverse) {
    EXPECT_EQ(form(PR(10, 20)), "10x20");
    EXPECT_EQ(mold(PR(10, -20)), "10x-20");
    EXPECT_EQ(mold(PR(-1, -2)), "-1x-2");
    EXPECT_EQ(mold(PR(0, 0)), "0x0");
    ValueCell r = call({PR(1, 2)}, [] { action_reverse(-1, -1); });
    expect_pair(r, 2, 1);
}

TEST_F(PairTest, Random) {
    install_random();
    ValueCell r = call({PR(0, 10)}, [] { action_random(-1, -1, -1); });
    EXPECT_EQ(pair_x(&r), 0);
    EXPECT_GE(pair_y(&r), 1);
    EXPECT_LE(pair_y(&r), 10);
    ValueCell s = call({PR(3, 4)}, [] { action_random(0, -1, -1); });
    EXPECT_EQ(s.type(), TYPE_UNSET);
    EXPECT_EQ(last_seed_, 3u ^ 4u);
}

}  // namespace
}  // namespace zan::test
