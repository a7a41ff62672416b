// tuple!: bytes in the cell, clamped arithmetic, comparison, byte access,
// reverse and the dotted text form.
#include "scalar_test_support.h"

namespace zan::test {
namespace {

class TupleTest : public ScalarTest {
protected:
    static ValueCell issue(const char* name) {
        ValueCell c;
        issue_make_at(name, &c);
        return c;
    }
};

TEST_F(TupleTest, CellLayout) {
    ValueCell t = TU({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    EXPECT_EQ(t.header & 0xFF, TYPE_TUPLE);
    EXPECT_EQ((t.header >> 19) & 0xF, 12u);
    EXPECT_EQ(t.data1, 0x04030201u);
    EXPECT_EQ(t.data2, 0x08070605u);
    EXPECT_EQ(t.data3, 0x0C0B0A09u);
    ValueCell short_one = TU({7});
    EXPECT_EQ(tuple_size(&short_one), 3u);
    EXPECT_EQ(mold(short_one), "7.0.0");
    ValueCell c;
    EXPECT_EQ(mold(*tuple_make_rgba(&c, 10, 20, 30, -1)), "10.20.30");
    EXPECT_EQ(mold(*tuple_make_rgba(&c, 10, 20, 30, 40)), "10.20.30.40");
}

TEST_F(TupleTest, MakeAndTo) {
    EXPECT_EQ(mold(make(TYPE_TUPLE, *blk({I(1), I(2)}))), "1.2.0");
    EXPECT_EQ(mold(make(TYPE_TUPLE, *blk({}))), "0.0.0");
    EXPECT_EQ(mold(make(TYPE_TUPLE, *blk({C('A'), F(2.9), I(255)}))), "65.2.255");
    EXPECT_EQ(error_of([&] { make(TYPE_TUPLE, *blk({I(256), I(0), I(0)})); }),
              Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { make(TYPE_TUPLE, *blk({I(-1)})); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { make(TYPE_TUPLE, *blk({F(kNaN)})); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { make(TYPE_TUPLE, *blk({str("1")[0]})); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] {
                  make(TYPE_TUPLE, *blk({I(1), I(1), I(1), I(1), I(1), I(1), I(1), I(1), I(1),
                                         I(1), I(1), I(1), I(1)}));
              }),
              Err::script_bad_to_arg);
    EXPECT_EQ(mold(to(TYPE_TUPLE, issue("fff"))), "255.255.255");
    EXPECT_EQ(mold(to(TYPE_TUPLE, issue("F80"))), "255.136.0");
    EXPECT_EQ(mold(to(TYPE_TUPLE, issue("FF000080"))), "255.0.0.128");
    EXPECT_EQ(mold(to(TYPE_TUPLE, issue("0a0B0c"))), "10.11.12");
    EXPECT_EQ(error_of([&] { to(TYPE_TUPLE, issue("FFFF")); }), Err::script_invalid_data);
    EXPECT_EQ(error_of([&] { to(TYPE_TUPLE, issue("FFG")); }), Err::script_invalid_data);
    // A character outside ASCII is not read as a digit.
    EXPECT_EQ(error_of([&] { to(TYPE_TUPLE, issue("\xC3\x81" "BC")); }), Err::script_invalid_data);
    ValueCell* b = bin({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    EXPECT_EQ(mold(to(TYPE_TUPLE, *b)), "1.2.3.4.5.6.7.8.9.10.11.12");
    ValueCell from_two = *bin({1, 2, 3});
    from_two.data1 = 2;
    EXPECT_EQ(mold(to(TYPE_TUPLE, from_two)), "3.0.0");
    EXPECT_EQ(error_of([&] { to(TYPE_TUPLE, I(1)); }), Err::script_bad_to_arg);
    scan_as(TU({1, 2, 3}));
    EXPECT_EQ(mold(to(TYPE_TUPLE, empty_text())), "1.2.3");
    scan_as(I(1));
    EXPECT_EQ(error_of([&] { to(TYPE_TUPLE, empty_text()); }), Err::script_bad_to_arg);
}

TEST_F(TupleTest, ArithmeticClamps) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        const char* want;
    } cases[] = {
        {TU({255, 255, 255}), MATH_ADD, I(1), "255.255.255"},
        {TU({0, 0, 0}), MATH_SUBTRACT, I(1), "0.0.0"},
        {TU({200, 100, 50}), MATH_ADD, I(100), "255.200.150"},
        {TU({1, 2, 3}), MATH_SUBTRACT, I(5), "0.0.0"},
        {TU({10, 20, 30}), MATH_MULTIPLY, F(1.5), "15.30.45"},
        {TU({10, 20, 30}), MATH_DIVIDE, F(0.0), "255.255.255"},
        {TU({10, 20, 30}), MATH_DIVIDE, I(3), "3.6.10"},
        {TU({10, 20, 30}), MATH_REMAINDER, I(7), "3.6.2"},
        {TU({1, 2, 3}), MATH_ADD, TU({1, 1, 1, 1}), "2.3.4.1"},
        {TU({1, 2, 3}), MATH_ADD, TU({0, 0, 0, 4}), "1.2.3.4"},
        {TU({12, 10, 255}), MATH_AND, I(6), "4.2.6"},
        {TU({12, 10, 0}), MATH_OR, TU({1, 1, 1}), "13.11.1"},
        {TU({12, 10, 0}), MATH_XOR, I(255), "243.245.255"},
        {TU({12, 10, 0}), MATH_XOR, I(-1), "0.0.0"},  // negative results clamp to 0
        {TU({200, 1, 1}), MATH_ADD, I(2147483647), "255.255.255"},
        {TU({200, 1, 1}), MATH_MULTIPLY, I(-2147483647), "0.0.0"},
        {TU({100, 1, 1}), MATH_MULTIPLY, P(0.5), "50.0.0"},
        {TU({100, 1, 1}), MATH_MULTIPLY, F(kNaN), "0.0.0"},
        {I(2), MATH_MULTIPLY, TU({1, 2, 3}), "2.4.6"},
        {F(1.5), MATH_ADD, TU({1, 2, 3}), "2.3.4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(mold(c.a) + " op " + std::to_string(c.op) + " " + mold(c.b));
        ValueCell r = math(c.a, c.op, c.b);
        EXPECT_EQ(r.type(), TYPE_TUPLE);
        EXPECT_EQ(mold(r), c.want);
    }
}

TEST_F(TupleTest, ArithmeticErrors) {
    EXPECT_EQ(math_error(TU({10, 20, 30}), MATH_DIVIDE, I(0)), Err::math_zero_divide);
    EXPECT_EQ(math_error(TU({10, 20, 30}), MATH_REMAINDER, TU({1, 0, 1})), Err::math_zero_divide);
    EXPECT_EQ(math_error(TU({10, 20, 30}), MATH_AND, F(1.0)), Err::script_cannot_use);
    EXPECT_EQ(math_error(TU({10, 20, 30}), MATH_ADD, PR(1, 1)), Err::script_invalid_type);
    EXPECT_EQ(math_error(I(1), MATH_SUBTRACT, TU({1, 2, 3})), Err::script_not_related);
    EXPECT_EQ(math_error(F(1), MATH_DIVIDE, TU({1, 2, 3})), Err::script_not_related);
    // The order of a remainder matters too: a number on the left is refused.
    EXPECT_EQ(math_error(F(10), MATH_REMAINDER, TU({1, 2, 3})), Err::script_not_related);
    EXPECT_EQ(math_error(TM(1), MATH_ADD, TU({1, 2, 3})), Err::script_invalid_type);
}

TEST_F(TupleTest, CompareAndLength) {
    EXPECT_TRUE(cmp(TU({1, 2, 3}), CMP_EQUAL, TU({1, 2, 3, 0})));
    EXPECT_TRUE(cmp(TU({1, 2, 3}), CMP_LESSER, TU({1, 2, 3, 1})));
    EXPECT_TRUE(cmp(TU({1, 3, 0}), CMP_GREATER, TU({1, 2, 255})));
    EXPECT_EQ(cmp_raw(TU({1, 2, 3}), CMP_EQUAL, I(1)), CMP_NOT_COMPARABLE);
    ValueCell t = TU({1, 2, 3, 4});
    EXPECT_EQ(action_length_q_dispatch(&t), 4);
    EXPECT_EQ(mold(*action_complement_dispatch(&t)), "254.253.252.251");
    ValueCell z = TU({0, 0, 0, 0});
    EXPECT_TRUE(tuple_zero_q(&z));
    EXPECT_FALSE(tuple_zero_q(&t));
}

TEST_F(TupleTest, PickAndPaths) {
    ValueCell t = TU({1, 2, 3, 4});
    EXPECT_EQ(iget(pick(t, I(4))), 4);
    EXPECT_EQ(error_of([&] { pick(t, I(5)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { pick(t, I(0)); }), Err::script_out_of_range);
    EXPECT_EQ(iget(path_get(t, I(2))), 2);
    EXPECT_EQ(mold(path_set(t, I(2), I(300))), "1.255.3.4");
    EXPECT_EQ(mold(path_set(t, I(2), I(-3))), "1.0.3.4");
    EXPECT_EQ(mold(path_set(t, I(2), NONE())), "1.0.0");
    EXPECT_EQ(mold(path_set(TU({1, 2, 3, 4, 5, 6}), I(5), NONE())), "1.2.3.4");
    EXPECT_EQ(error_of([&] { path_set(TU({1, 2, 3}), I(5), I(1)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { path_get(t, W("x")); }), Err::script_invalid_type);
    EXPECT_EQ(error_of([&] { path_set(t, I(1), F(1)); }), Err::script_invalid_type);
}

TEST_F(TupleTest, Reverse) {
    auto rev = [](const ValueCell& t, const ValueCell* part, const ValueCell* skip) {
        ValueCell v = t;
        ValueCell p = part ? *part : ValueCell{};
        ValueCell s = skip ? *skip : ValueCell{};
        action_reverse_dispatch(&v, part ? &p : nullptr, skip ? &s : nullptr);
        return v;
    };
    ValueCell six = TU({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(mold(rev(six, nullptr, nullptr)), "6.5.4.3.2.1");
    ValueCell two = I(2), three = I(3), four = I(4), six_i = I(6), zero = I(0), neg = I(-1);
    EXPECT_EQ(mold(rev(six, nullptr, &two)), "5.6.3.4.1.2");
    EXPECT_EQ(mold(rev(six, &three, nullptr)), "3.2.1.4.5.6");
    EXPECT_EQ(mold(rev(six, &six_i, &six_i)), "1.2.3.4.5.6");
    EXPECT_EQ(mold(rev(six, &zero, nullptr)), "1.2.3.4.5.6");
    EXPECT_EQ(error_of([&] { rev(six, &neg, nullptr); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { rev(six, nullptr, &zero); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { rev(six, nullptr, &four); }), Err::script_invalid_refine_arg);
    ValueCell f = F(2);
    EXPECT_EQ(error_of([&] { rev(six, &f, nullptr); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { rev(six, nullptr, &f); }), Err::script_invalid_refine_arg);
}

TEST_F(TupleTest, Random) {
    install_random();
    EXPECT_EQ(mold(call({TU({0, 0, 0})}, [] { action_random(-1, -1, -1); })), "0.0.0");
    ValueCell r = call({TU({10, 20, 30, 40})}, [] { action_random(-1, -1, -1); });
    EXPECT_EQ(tuple_size(&r), 4u);
    EXPECT_LE(tuple_byte(&r, 1), 10u);
    EXPECT_LE(tuple_byte(&r, 4), 40u);
    ValueCell t = TU({1, 2, 3, 4, 5});
    ValueCell s = call({t}, [] { action_random(0, -1, -1); });
    EXPECT_EQ(s.type(), TYPE_UNSET);
    EXPECT_EQ(last_seed_, t.data1 ^ t.data2 ^ t.data3);
}

TEST_F(TupleTest, SettingAByteOfAnObjectFieldReportsTheChange) {
    static int calls = 0;
    static ValueCell old_seen, new_seen;
    calls = 0;
    g_services.object_fire_on_change = [](ValueCell*, ValueCell*, ValueCell* o, ValueCell* n) {
        calls++;
        old_seen = *o;
        new_seen = *n;
    };
    ValueCell* obj = new_object();
    put(obj, "color", TU({1, 2, 3}));
    ValueCell field = word("color");
    ValueCell el = I(1);
    ValueCell v = I(9);
    action_eval_path_dispatch(object_values(obj), &el, &v, nullptr, obj, &field, 1, false, false,
                              true, true);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(mold(old_seen), "1.2.3");
    EXPECT_EQ(mold(new_seen), "9.2.3");
    EXPECT_EQ(mold(*object_values(obj)), "9.2.3");
    // A failed store changes nothing and tells nobody.
    ValueCell bad = I(7);
    EXPECT_EQ(error_of([&] {
                  action_eval_path_dispatch(object_values(obj), &bad, &v, nullptr, obj, &field, 1,
                                            false, false, true, true);
              }),
              Err::script_out_of_range);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(mold(*object_values(obj)), "9.2.3");
}

}  // namespace
}  // namespace zan::test
