// time!: construction, the text form, fields, paths and the arithmetic
// rules that keep a time a time.
#include <cmath>

#include "scalar_test_support.h"

namespace zan::test {
namespace {

class TimeTest : public ScalarTest {};

TEST_F(TimeTest, RowHasItsOwnAndInheritedEntries) {
    for (u32 a : {ACT_MAKE, ACT_TO, ACT_FORM, ACT_MOLD, ACT_EVAL_PATH, ACT_ADD, ACT_SUBTRACT,
                  ACT_DIVIDE, ACT_MULTIPLY, ACT_ROUND, ACT_EVEN_Q, ACT_ODD_Q, ACT_PICK})
        EXPECT_TRUE(have(TYPE_TIME, a)) << a;
    for (u32 a : {ACT_RANDOM, ACT_COMPARE, ACT_ABSOLUTE, ACT_NEGATE, ACT_REMAINDER})
        EXPECT_EQ(action_entry(TYPE_TIME, a), action_entry(TYPE_FLOAT, a)) << a;
    EXPECT_FALSE(have(TYPE_TIME, ACT_POWER));
    EXPECT_FALSE(have(TYPE_TIME, ACT_APPEND));
}

TEST_F(TimeTest, MakeFromBlocksAndNumbers) {
    struct Case {
        ValueCell spec;
        double seconds;
    } cases[] = {
        {*blk({I(1), I(30)}), 5400},
        {*blk({I(-1), I(30)}), -5400},
        {*blk({I(1), I(2), F(3.5)}), 3723.5},
        {*blk({I(0), I(0), I(7)}), 7},
        {*blk({}), 0},
        {I(90), 90},
        {F(1.25), 1.25},
        {P(0.5), 0.5},
        {TM(42), 42},
    };
    for (const Case& c : cases) {
        ValueCell r = make(TYPE_TIME, c.spec);
        EXPECT_EQ(r.type(), TYPE_TIME);
        EXPECT_DOUBLE_EQ(fget(r), c.seconds) << mold(c.spec);
        EXPECT_DOUBLE_EQ(fget(to(TYPE_TIME, c.spec)), c.seconds);
    }
}

TEST_F(TimeTest, MakeRefusesBadSpecs) {
    ValueCell bad[] = {
        *blk({I(1), I(-30)}),            // only the hours may be negative
        *blk({I(1), I(2), I(-3)}),
        *blk({F(1.5)}),                  // a float only in third place
        *blk({I(1), I(2), I(3), I(4)}),  // more than three values
        *blk({I(1), word("x")}),
        NONE(),
    };
    for (const ValueCell& b : bad)
        EXPECT_EQ(error_of([&] { make(TYPE_TIME, b); }), Err::script_bad_to_arg) << mold(b);
}

TEST_F(TimeTest, TextIsScannedAsOneValue) {
    scan_as(TM(5400));
    EXPECT_DOUBLE_EQ(fget(to(TYPE_TIME, empty_text())), 5400);
    scan_as(word("abc"));
    EXPECT_EQ(error_of([&] { to(TYPE_TIME, empty_text()); }), Err::script_bad_to_arg);
}

TEST_F(TimeTest, FormAndMold) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {3600, "1:00:00"},        {5.5, "0:00:05.5"},     {-5400, "-1:30:00"},
        {360000, "100:00:00"},    {12.3456789, "0:00:12.3457"},
        {1e-7, "0:00:00"},        {5, "0:00:05"},         {0.25, "0:00:00.25"},
        {59.5, "0:00:59.5"},      {3723, "1:02:03"},      {0, "0:00:00"},
        {-0.5, "-0:00:00.5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(TM(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(mold(TM(c.seconds)), c.text) << c.seconds;
    }
}

TEST_F(TimeTest, FormWithPartBudget) {
    ValueCell v = TM(5400);
    ValueCell* held = stack_push(&v);
    ValueCell* out = string_push_new(16);
    EXPECT_EQ(action_form_dispatch(held, out, nullptr, 10), 10 - 7);
}

TEST_F(TimeTest, FieldsOfANegativeTime) {
    ValueCell t = TM(-5400);
    EXPECT_EQ(iget(pick(t, I(1))), -1);
    EXPECT_EQ(iget(pick(t, W("minute"))), 30);
    ValueCell s = pick(t, I(3));
    EXPECT_EQ(s.type(), TYPE_FLOAT);
    EXPECT_EQ(fget(s), 0.0);
    EXPECT_TRUE(std::signbit(fget(s)));  // the remainder keeps the sign
    EXPECT_DOUBLE_EQ(fget(path_get(TM(3723.5), W("second"))), 3.5);
    EXPECT_EQ(iget(path_get(TM(3723.5), W("Hour"))), 1);
}

TEST_F(TimeTest, PickAndPathRefuseUnknownFields) {
    EXPECT_EQ(error_of([&] { pick(TM(1), I(4)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { pick(TM(1), W("day")); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { path_get(TM(1), I(0)); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path_get(TM(1), W("year")); }), Err::script_invalid_path);
}

TEST_F(TimeTest, SettingFields) {
    EXPECT_DOUBLE_EQ(fget(path_set(TM(5400), W("hour"), I(5))), 5 * 3600 + 1800);
    EXPECT_DOUBLE_EQ(fget(path_set(TM(5400), W("second"), F(1.5))), 5401.5);
    EXPECT_DOUBLE_EQ(fget(path_set(TM(5400), I(2), I(45))), 3600 + 45 * 60);
    EXPECT_DOUBLE_EQ(fget(path_set(TM(5400), W("second"), I(7))), 5407);
    EXPECT_EQ(error_of([&] { path_set(TM(5400), W("hour"), F(1.5)); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { path_set(TM(5400), W("minute"), NONE()); }),
              Err::script_invalid_arg);
}

TEST_F(TimeTest, SettingAFieldOfAnObjectFieldReportsTheChange) {
    static ValueCell seen_old, seen_new;
    static int calls = 0;
    calls = 0;
    g_services.object_fire_on_change = [](ValueCell*, ValueCell*, ValueCell* o, ValueCell* n) {
        seen_old = *o;
        seen_new = *n;
        calls++;
    };
    ValueCell* obj = new_object();
    put(obj, "t", TM(5400));
    ValueCell* slot = object_values(obj);
    ValueCell field = word("t");
    ValueCell el = word("hour");
    ValueCell v = I(2);
    action_eval_path_dispatch(slot, &el, &v, nullptr, obj, &field, 1, false, false, true, true);
    EXPECT_EQ(calls, 1);
    EXPECT_DOUBLE_EQ(fget(seen_old), 5400);
    EXPECT_DOUBLE_EQ(fget(seen_new), 2 * 3600 + 1800);
    EXPECT_DOUBLE_EQ(fget(*object_values(obj)), 2 * 3600 + 1800);
    // Without the notify flag nobody is told.
    action_eval_path_dispatch(slot, &el, &v, nullptr, obj, &field, 1, false, false, true, false);
    EXPECT_EQ(calls, 1);
}

TEST_F(TimeTest, Arithmetic) {
    EXPECT_DOUBLE_EQ(fget(math(TM(3600), MATH_ADD, TM(1800))), 5400);
    ValueCell doubled = math(TM(3600), MATH_MULTIPLY, I(2));
    EXPECT_EQ(doubled.type(), TYPE_TIME);
    EXPECT_DOUBLE_EQ(fget(doubled), 7200);
    ValueCell ratio = math(TM(3600), MATH_DIVIDE, TM(1800));
    EXPECT_EQ(ratio.type(), TYPE_FLOAT);
    EXPECT_DOUBLE_EQ(fget(ratio), 2.0);
    ValueCell half = math(TM(3600), MATH_DIVIDE, I(2));
    EXPECT_EQ(half.type(), TYPE_TIME);
    EXPECT_DOUBLE_EQ(fget(half), 1800);
    EXPECT_DOUBLE_EQ(fget(math(TM(3700), MATH_REMAINDER, TM(3600))), 100);
    EXPECT_EQ(math(I(1), MATH_ADD, TM(1)).type(), TYPE_TIME);
    EXPECT_EQ(math_error(TM(3600), MATH_MULTIPLY, TM(3600)), Err::script_not_related);
    EXPECT_EQ(math_error(TM(3600), MATH_SUBTRACT, DAY(2024, 1, 1)), Err::script_not_related);
    EXPECT_EQ(math_error(TM(3600), MATH_ADD, str("x")[0]), Err::script_invalid_type);
}

TEST_F(TimeTest, TimePlusDateIsTheDatePlusTheTime) {
    ValueCell r = math(TM(3600), MATH_ADD, DAY(2024, 1, 1));
    ASSERT_EQ(r.type(), TYPE_DATE);
    EXPECT_EQ(mold(r), "1-Jan-2024/1:00:00");
}

TEST_F(TimeTest, Round) {
    EXPECT_DOUBLE_EQ(fget(round_call(TM(3600.6), nullptr, 0)), 3601);
    ValueCell q = TM(900);
    ValueCell r = round_call(TM(3600 + 7 * 60), &q, 0);
    EXPECT_EQ(r.type(), TYPE_TIME);
    EXPECT_DOUBLE_EQ(fget(r), 3600);
    ValueCell n = I(60);
    ValueCell by_int = round_call(TM(100), &n, 0);
    EXPECT_EQ(by_int.type(), TYPE_TIME);
    EXPECT_DOUBLE_EQ(fget(by_int), 120);
    ValueCell m = MONEY("1");
    EXPECT_EQ(error_of([&] { round_call(TM(1), &m, 0); }), Err::script_not_related);
}

TEST_F(TimeTest, EvenAndOddLookAtTheWholeSeconds) {
    struct Case {
        double seconds;
        bool even;
    } cases[] = {{2, true}, {3, false}, {2.9999999, false}, {-3, false}, {62, true}, {0.5, true}};
    for (const Case& c : cases) {
        ValueCell t = TM(c.seconds);
        EXPECT_EQ(action_even_q_dispatch(&t), c.even) << c.seconds;
        EXPECT_EQ(action_odd_q_dispatch(&t), !c.even) << c.seconds;
    }
    ValueCell inf = TM(kInf);
    EXPECT_FALSE(action_even_q_dispatch(&inf));
    EXPECT_FALSE(action_odd_q_dispatch(&inf));
}

TEST_F(TimeTest, InheritedNegateAbsoluteAndCompare) {
    ValueCell n = NEG(TM(5400));
    EXPECT_EQ(n.type(), TYPE_TIME);
    EXPECT_DOUBLE_EQ(fget(n), -5400);
    EXPECT_DOUBLE_EQ(fget(ABS(TM(-5))), 5);
    EXPECT_TRUE(cmp(TM(60), CMP_LESSER, TM(61)));
    EXPECT_TRUE(cmp(TM(60), CMP_EQUAL, I(60)));
}

TEST_F(TimeTest, HoursBeyondTheIntegerRangeAreAnError) {
    EXPECT_EQ(error_of([&] { time_hours(1e20); }), Err::script_type_limit);
    EXPECT_EQ(error_of([&] { time_hours(kNaN); }), Err::script_type_limit);
    EXPECT_EQ(time_minutes(kInf), 0);
}

}  // namespace
}  // namespace zan::test
