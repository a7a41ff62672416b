// unset!, none! and logic!, and the truth tests.
#include "dt_test_support.h"

namespace zan::test {
namespace {

class ScalarsTest : public DtTest {};

TEST_F(ScalarsTest, TextForms) {
    struct Case {
        ValueCell value;
        const char* form;
        const char* mold;
        const char* mold_all;
    };
    const Case cases[] = {
        {g_unset_cell, "", "unset", "#(unset)"},
        {g_none_cell, "none", "none", "#(none)"},
        {g_true_cell, "true", "true", "#(true)"},
        {g_false_cell, "false", "false", "#(false)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.form);
        EXPECT_EQ(mold(c.value), c.mold);
        EXPECT_EQ(mold(c.value, false, true), c.mold_all);
    }
}

TEST_F(ScalarsTest, ComparisonsAnswerEqualityOnly) {
    ValueCell t = g_true_cell, f = g_false_cell, n = g_none_cell, u = g_unset_cell;
    EXPECT_TRUE(action_compare(&t, &t, CMP_EQUAL));
    EXPECT_FALSE(action_compare(&t, &f, CMP_EQUAL));
    EXPECT_TRUE(action_compare(&n, &n, CMP_STRICT_EQUAL));
    EXPECT_FALSE(action_compare(&n, &f, CMP_EQUAL));
    EXPECT_TRUE(action_compare(&n, &f, CMP_NOT_EQUAL));
    EXPECT_TRUE(action_compare(&u, &u, CMP_EQUAL));
    EXPECT_EQ(error_of([&] { action_compare(&t, &f, CMP_LESSER); }), Err::script_invalid_compare);
    EXPECT_EQ(error_of([&] { action_compare(&n, &n, CMP_GREATER); }), Err::script_invalid_compare);
    EXPECT_EQ(action_compare_int(&t, &f, CMP_SORT), 1);
}

TEST_F(ScalarsTest, LogicMakeAndTo) {
    ValueCell proto = g_true_cell;
    ValueCell* s = str("false");
    struct Case {
        ValueCell spec;
        bool make;
        bool to;
    };
    ValueCell zero_f, half, nan;
    cell_init(&zero_f, TYPE_FLOAT);
    zero_f.put_float(0.0);
    cell_init(&half, TYPE_FLOAT);
    half.put_float(0.5);
    cell_init(&nan, TYPE_FLOAT);
    nan.put_float(__builtin_nan(""));
    const Case cases[] = {
        {integer(0), false, true}, {integer(7), true, true}, {zero_f, false, true},
        {half, true, true},        {nan, true, true},        {g_none_cell, false, false},
        {g_false_cell, false, false}, {*s, true, true},
    };
    for (const Case& c : cases) {
        ValueCell spec = c.spec;
        EXPECT_EQ(logic_get(logic_make(&proto, &spec, TYPE_LOGIC)), c.make);
        EXPECT_EQ(logic_get(logic_to(&proto, &spec, TYPE_LOGIC)), c.to);
    }
}

TEST_F(ScalarsTest, LogicOperatorsNeedALogicSecondOperand) {
    ValueCell t = g_true_cell, f = g_false_cell;
    ValueCell a = call({t, f}, [] { action_and_t(); });
    EXPECT_FALSE(logic_get(&a));
    ValueCell o = call({t, f}, [] { action_or_t(); });
    EXPECT_TRUE(logic_get(&o));
    ValueCell x = call({t, t}, [] { action_xor_t(); });
    EXPECT_FALSE(logic_get(&x));
    ValueCell c = call({f}, [] { action_complement(); });
    EXPECT_TRUE(logic_get(&c));
    ValueCell one = integer(1);
    EXPECT_EQ(error_of([&] { call({t, one}, [] { action_and_t(); }); }), Err::script_expect_arg);
}

TEST_F(ScalarsTest, NoneAnswersSeriesActionsAsAnEmptySeries) {
    ValueCell n = g_none_cell;
    ValueCell a = chr('a');
    EXPECT_EQ(call({n}, [] { action_length_q(); }).type(), TYPE_NONE);
    EXPECT_EQ(call({n, a}, [] { action_find(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1); }).type(),
              TYPE_NONE);
    EXPECT_EQ(call({n}, [] { action_take(-1, -1, -1); }).type(), TYPE_NONE);
    EXPECT_EQ(call({n}, [] { action_clear(); }).type(), TYPE_NONE);
}

TEST_F(ScalarsTest, TruthTests) {
    ValueCell w = word("w");
    EXPECT_FALSE(logic_cell_true_q(&g_none_cell, true, &w));
    EXPECT_FALSE(logic_cell_true_q(&g_false_cell, true, &w));
    ValueCell zero = integer(0);
    EXPECT_TRUE(logic_cell_true_q(&zero, true, &w));
    EXPECT_TRUE(logic_cell_true_q(&g_unset_cell, false, &w));
    EXPECT_EQ(error_of([&] { logic_cell_true_q(&g_unset_cell, true, &w); }), Err::script_no_value);
    stack_mark_native(g_words.n.body);
    none_push();
    EXPECT_TRUE(logic_top_false_q());
    stack_unwind();
}

TEST_F(ScalarsTest, LogicRandomUsesTheGenerator) {
    static u32 draws[] = {1073741823u, 1073741824u};
    static int at = 0;
    at = 0;
    g_services.random_next = [] { return draws[at++]; };
    ValueCell t = g_true_cell;
    // A draw above 2^30 - 1 (as a signed number) is true.
    ValueCell first = call({t}, [] { action_random(-1, -1, -1); });
    EXPECT_FALSE(logic_get(&first));
    ValueCell second = call({t}, [] { action_random(-1, -1, -1); });
    EXPECT_TRUE(logic_get(&second));
    g_services.random_next = nullptr;
}

}  // namespace
}  // namespace zan::test
