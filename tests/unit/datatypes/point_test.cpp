// point2D! and point3D!: 32-bit float coordinates, their arithmetic,
// near-equality, rounding, fields and text form.
#include <bit>

#include "runtime/core/murmur.h"
#include "scalar_test_support.h"

namespace zan::test {
namespace {

class PointTest : public ScalarTest {};

TEST_F(PointTest, CellLayout) {
    ValueCell p = P3(1.5f, -2.0f, 0.25f);
    EXPECT_EQ(p.header & 0xFF, TYPE_POINT3D);
    EXPECT_EQ(p.data1, std::bit_cast<u32>(1.5f));
    EXPECT_EQ(p.data2, std::bit_cast<u32>(-2.0f));
    EXPECT_EQ(p.data3, std::bit_cast<u32>(0.25f));
}

TEST_F(PointTest, MakeAndTo) {
    EXPECT_EQ(mold(make(TYPE_POINT2D, I(3))), "(3, 3)");
    EXPECT_EQ(mold(make(TYPE_POINT2D, PR(3, 4))), "(3, 4)");
    EXPECT_EQ(mold(make(TYPE_POINT3D, PR(3, 4))), "(3, 4, 0)");
    EXPECT_EQ(mold(make(TYPE_POINT3D, P2(3, 4))), "(3, 4, 0)");
    EXPECT_EQ(mold(make(TYPE_POINT3D, F(1.5))), "(1.5, 1.5, 1.5)");
    EXPECT_EQ(mold(to(TYPE_POINT2D, *blk({F(1.5), I(-2), I(9)}))), "(1.5, -2)");
    EXPECT_EQ(error_of([&] { make(TYPE_POINT3D, *blk({I(1), I(2)})); }), Err::syntax_malconstruct);
    EXPECT_EQ(error_of([&] { make(TYPE_POINT2D, *blk({I(1), NONE()})); }),
              Err::syntax_malconstruct);
    EXPECT_EQ(error_of([&] { make(TYPE_POINT2D, NONE()); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { make(TYPE_POINT2D, P3(1, 2, 3)); }), Err::script_bad_to_arg);
    scan_as(P3(1, 2, 3));
    EXPECT_EQ(mold(make(TYPE_POINT3D, empty_text())), "(1, 2, 3)");
    EXPECT_EQ(error_of([&] { make(TYPE_POINT2D, empty_text()); }), Err::script_bad_to_arg);
}

TEST_F(PointTest, Arithmetic) {
    EXPECT_EQ(mold(math(P2(1, 2), MATH_ADD, PR(1, 1))), "(2, 3)");
    EXPECT_EQ(mold(math(P2(1, 2), MATH_MULTIPLY, P(0.5))), "(0.5, 1)");
    EXPECT_EQ(mold(math(P2(1, 2), MATH_DIVIDE, I(0))), "(1.#INF, 1.#INF)");
    EXPECT_EQ(mold(math(P2(7, 8), MATH_REMAINDER, I(3))), "(1, 2)");
    EXPECT_EQ(mold(math(P2(1, 2), MATH_SUBTRACT, P2(0.5f, 0.5f))), "(0.5, 1.5)");
    EXPECT_EQ(mold(math(P3(1, 2, 3), MATH_ADD, P3(1, 1, 1))), "(2, 3, 4)");
    EXPECT_EQ(mold(math(I(10), MATH_SUBTRACT, P2(1, 2))), "(9, 8)");
    EXPECT_EQ(mold(math(F(2), MATH_MULTIPLY, P3(1, 2, 3))), "(2, 4, 6)");
    EXPECT_EQ(math_error(P3(1, 2, 3), MATH_ADD, PR(1, 1)), Err::script_invalid_type);
    EXPECT_EQ(math_error(P3(1, 2, 3), MATH_ADD, P2(1, 1)), Err::script_invalid_type);
    EXPECT_EQ(math_error(P2(1, 2), MATH_ADD, NONE()), Err::script_invalid_type);
    EXPECT_EQ(math_error(I(1), MATH_DIVIDE, P2(1, 2)), Err::script_not_related);
    EXPECT_EQ(math_error(F(1), MATH_DIVIDE, P3(1, 2, 3)), Err::script_not_related);
    EXPECT_EQ(math_error(TM(1), MATH_ADD, P2(1, 2)), Err::script_invalid_type);
    // Results are rounded to 32 bits; beyond the largest float they are infinite.
    EXPECT_EQ(mold(math(P2(3e38f, 1), MATH_MULTIPLY, I(10))), "(1.#INF, 10)");
}

TEST_F(PointTest, NearEqualityAndOrder) {
    ValueCell a = P2(0.1f, 0.2f);
    ValueCell close = P2(std::bit_cast<float>(std::bit_cast<u32>(0.1f) + 7), 0.2f);
    ValueCell far = P2(std::bit_cast<float>(std::bit_cast<u32>(0.1f) + 13), 0.2f);
    EXPECT_TRUE(cmp(a, CMP_EQUAL, close));
    EXPECT_FALSE(cmp(a, CMP_STRICT_EQUAL, close));
    EXPECT_FALSE(cmp(a, CMP_EQUAL, far));
    EXPECT_FALSE(cmp(a, CMP_SAME, close));
    EXPECT_TRUE(cmp(a, CMP_SAME, P2(0.1f, 0.2f)));
    EXPECT_TRUE(cmp(P2(1, 2), CMP_LESSER, P2(1, 3)));
    EXPECT_TRUE(cmp(P2(0, 9), CMP_LESSER, P2(1, 0)));
    EXPECT_TRUE(cmp(P3(1, 2, 3), CMP_LESSER, P3(1, 2, 4)));
    EXPECT_TRUE(cmp(P2(3, 4), CMP_EQUAL, PR(3, 4)));
    EXPECT_EQ(cmp_raw(P3(1, 2, 0), CMP_EQUAL, P2(1, 2)), CMP_NOT_COMPARABLE);
    EXPECT_FALSE(cmp(P2(kNaN, 1), CMP_EQUAL, P2(kNaN, 1)));
}

TEST_F(PointTest, UnaryActions) {
    EXPECT_EQ(mold(NEG(P2(1.5f, -2))), "(-1.5, 2)");
    ValueCell z = NEG(P2(-0.0f, 0));
    EXPECT_FALSE(std::signbit(point_x(&z)));  // 0.0 - -0.0 is 0.0
    EXPECT_EQ(mold(ABS(P3(-1, 2, -3))), "(1, 2, 3)");
    EXPECT_EQ(mold(call({P3(1, 2, 3)}, [] { action_reverse(-1, -1); })), "(3, 2, 1)");
    EXPECT_EQ(mold(call({P2(1, 2)}, [] { action_reverse(-1, -1); })), "(2, 1)");
}

TEST_F(PointTest, Round) {
    EXPECT_EQ(mold(round_call(P2(1.4f, 2.5f), nullptr, 0)), "(1, 3)");
    ValueCell s = P2(0.5f, 10);
    EXPECT_EQ(mold(round_call(P2(1.3f, 14), &s, 0)), "(1.5, 10)");
    ValueCell sp = PR(2, 5);
    EXPECT_EQ(mold(round_call(P2(3.1f, 7.4f), &sp, 0)), "(4, 5)");
    ValueCell s2 = P2(2, 2);
    EXPECT_EQ(mold(round_call(P3(3.1f, 2.9f, 1.26f), &s2, 0)), "(4, 2, 1.26)");
    ValueCell i = I(2);
    EXPECT_EQ(mold(round_call(P3(3.1f, 2.9f, 1.26f), &i, R_FLOOR)), "(2, 2, 0)");
    ValueCell m = MONEY("1");
    EXPECT_EQ(error_of([&] { round_call(P2(1, 2), &m, 0); }), Err::script_not_related);
}

TEST_F(PointTest, FieldsAndPaths) {
    ValueCell p = P2(1.5f, 2);
    ValueCell x = path_get(p, W("x"));
    EXPECT_EQ(x.type(), TYPE_FLOAT);
    EXPECT_DOUBLE_EQ(fget(x), 1.5);
    ValueCell set = path_set(p, W("y"), I(3));
    EXPECT_EQ(set.data2, std::bit_cast<u32>(3.0f));
    EXPECT_EQ(mold(path_set(P3(1, 2, 3), I(3), F(0.5))), "(1, 2, 0.5)");
    EXPECT_DOUBLE_EQ(fget(pick(P3(1, 2, 3), W("z"))), 3.0);
    EXPECT_EQ(error_of([&] { pick(p, W("z")); }), Err::script_cannot_use);
    EXPECT_EQ(error_of([&] { pick(p, I(3)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { path_get(p, I(0)); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path_set(p, W("x"), NONE()); }), Err::script_invalid_type);
}

TEST_F(PointTest, Random) {
    install_random();
    ValueCell r = call({P2(0, 10)}, [] { action_random(-1, -1, -1); });
    EXPECT_EQ(point_x(&r), 0.0f);
    EXPECT_GE(point_y(&r), 0.0f);
    EXPECT_LE(point_y(&r), 10.0f);
    ValueCell p = P3(1, 2, 3);
    ValueCell s = call({p}, [] { action_random(0, -1, -1); });
    EXPECT_EQ(s.type(), TYPE_UNSET);
    u32 words[3] = {p.data1, p.data2, p.data3};
    EXPECT_EQ(last_seed_, murmur3_32(words, 12));
}

}  // namespace
}  // namespace zan::test
