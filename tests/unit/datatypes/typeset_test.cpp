// typeset!: the bit layout, construction from type lists, set operations,
// find, comparison and the text forms.
#include "number_test_support.h"

namespace zan::test {
namespace {

class TypesetTest : public NumberTest {
protected:
    static ValueCell ts_of(std::initializer_list<u32> types) {
        ValueCell ts;
        typeset_make_at(&ts, 0, 0, 0);
        for (u32 t : types) typeset_add_type(&ts, t);
        return ts;
    }
};

TEST_F(TypesetTest, BitLayoutIsExact) {
    // Type id t is mask 80h >> (t & 7) of byte t >> 3, from the first byte
    // of data1 in memory.
    struct Case {
        u32 type;
        u32 d1, d2, d3;
    } const cases[] = {
        {TYPE_DATATYPE, 0x40, 0, 0},           // byte 0, mask 40h
        {TYPE_UNSET, 0x20, 0, 0},
        {TYPE_INTEGER, 0x1000, 0, 0},          // byte 1, mask 10h
        {TYPE_FLOAT, 0x0800, 0, 0},
        {TYPE_SYMBOL, 0x0400, 0, 0},
        {TYPE_ROUTINE, 0x04000000, 0, 0},      // 29: byte 3, mask 04h
        {TYPE_BITSET, 0x02000000, 0, 0},
        {TYPE_OBJECT, 0, 0x80, 0},             // 32: byte 4
        {TYPE_EVENT, 0, 0x00020000, 0},        // 54: byte 6, mask 02h
        {56, 0, 0x80000000, 0},                // byte 7: the last of data2
    };
    for (const Case& c : cases) {
        ValueCell ts = ts_of({c.type});
        SCOPED_TRACE(c.type);
        EXPECT_EQ(ts.data1, c.d1);
        EXPECT_EQ(ts.data2, c.d2);
        EXPECT_EQ(ts.data3, c.d3);
        EXPECT_TRUE(typeset_has_type(&ts, c.type));
        // The argument checks read the same bits.
        EXPECT_TRUE(typeset_bits_have(&ts, c.type));
        EXPECT_EQ(typeset_bit_count(&ts), c.type <= g_highest_type ? 1 : 0);
    }
    // Bits up to 95 live in data3.
    ValueCell high = ts_of({95});
    EXPECT_EQ(high.data3, 0x01000000u);
}

TEST_F(TypesetTest, DefaultTypesetHasEveryBitButUnset) {
    ValueCell* b = blk({});
    typeset_make_default_in(b);
    ValueCell* ts = block_head_ptr(b);
    ASSERT_EQ(ts->type(), TYPE_TYPESET);
    EXPECT_EQ(ts->data1, 0xFFFFFFDFu);
    EXPECT_EQ(ts->data2, 0xFFFFFFFFu);
    EXPECT_EQ(ts->data3, 0xFFFFFFFFu);
    EXPECT_FALSE(typeset_has_type(ts, TYPE_UNSET));
    EXPECT_TRUE(typeset_has_type(ts, TYPE_NONE));
    EXPECT_EQ(typeset_bit_count(ts), static_cast<i32>(g_highest_type) - 1);

    ValueCell* c = blk({});
    typeset_make_in(c, 1, 2, 3);
    ValueCell* made = block_head_ptr(c);
    EXPECT_EQ(made->data1, 1u);
    EXPECT_EQ(made->data2, 2u);
    EXPECT_EQ(made->data3, 3u);
}

TEST_F(TypesetTest, MakeFromBlockAndMold) {
    ValueCell ts = make(TYPE_TYPESET, *blk({DT(TYPE_INTEGER), DT(TYPE_FLOAT)}));
    ASSERT_EQ(ts.type(), TYPE_TYPESET);
    EXPECT_EQ(mold(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(form(ts), "make typeset! [integer! float!]");
    EXPECT_EQ(mold(ts, true), "integer! float!");
    EXPECT_EQ(mold(ts_of({})), "make typeset! []");
    EXPECT_EQ(mold(ts_of({}), true), "");
    // Type id order, whatever the order in the block.
    ValueCell mixed = make(TYPE_TYPESET, *blk({DT(TYPE_STRING), DT(TYPE_NONE), DT(TYPE_BLOCK)}));
    EXPECT_EQ(mold(mixed), "make typeset! [none! block! string!]");
    // A typeset! spec, or a typeset! in the block, is taken as it is.
    ValueCell same = to(TYPE_TYPESET, ts);
    EXPECT_EQ(same.data1, ts.data1);
    ValueCell joined = make(TYPE_TYPESET, *blk({ts, DT(TYPE_NONE)}));
    EXPECT_EQ(mold(joined), "make typeset! [none! integer! float!]");
    // A word whose value is a datatype.
    ValueCell w = word("number-type");
    ValueCell* held = stack_push(&w);
    ValueCell dt = DT(TYPE_PERCENT);
    context_set(held, &dt);
    EXPECT_EQ(mold(make(TYPE_TYPESET, *blk({*held}))), "make typeset! [percent!]");

    EXPECT_EQ(error_of([] { make(TYPE_TYPESET, *blk({I(1)})); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([] { make(TYPE_TYPESET, I(1)); }), Err::script_bad_to_arg);
}

TEST_F(TypesetTest, MoldPartStopsTheWalk) {
    ValueCell ts = ts_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING});
    ValueCell* out = string_push_new(16);
    // 15 for the opening text, then each name with its space.
    i32 left = typeset_mold_body(&ts, out, false, 20);
    EXPECT_EQ(text(out), "make typeset! [string!]");
    EXPECT_EQ(left, 20 - 15 - 8);
    ValueCell* all = string_push_new(16);
    EXPECT_EQ(typeset_mold_body(&ts, all, true, 100), 100 - 23);
    EXPECT_EQ(text(all), "string! integer! float!");
}

TEST_F(TypesetTest, TypeListOfAFunctionSpec) {
    ValueCell w = word("some-word-value");
    ValueCell* held = stack_push(&w);
    ValueCell lit = word("whatever");
    context_set(held, &lit);   // a word holding a word!: object!
    ValueCell* list = blk({DT(TYPE_INTEGER), *blk({I(1)}), *held, ts_of({TYPE_NONE})});
    ValueCell* out = blk({});
    typeset_make_from_block_in(out, list);
    ValueCell* made = block_head_ptr(out);
    EXPECT_EQ(typeset_bit_count(made), 3);
    EXPECT_TRUE(typeset_has_type(made, TYPE_NONE));
    EXPECT_TRUE(typeset_has_type(made, TYPE_INTEGER));
    EXPECT_TRUE(typeset_has_type(made, TYPE_OBJECT));
    EXPECT_EQ(error_of([] {
                  ValueCell* o = blk({});
                  typeset_make_from_block_in(o, blk({I(5)}));
              }),
              Err::script_invalid_type_spec);
}

TEST_F(TypesetTest, SetOperations) {
    ValueCell a = ts_of({TYPE_INTEGER, TYPE_FLOAT});
    ValueCell b = ts_of({TYPE_FLOAT, TYPE_STRING});
    struct Case {
        i32 op;
        ValueCell expected;
    } const cases[] = {
        {5, ts_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})},
        {9, ts_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})},
        {6, ts_of({TYPE_FLOAT})},
        {10, ts_of({TYPE_FLOAT})},
        {7, ts_of({TYPE_INTEGER, TYPE_STRING})},
        {12, ts_of({TYPE_INTEGER, TYPE_STRING})},
        {11, ts_of({TYPE_INTEGER})},
        {8, a},
    };
    for (const Case& c : cases) {
        ValueCell r = call({a, b}, [&] { typeset_set_op(c.op); });
        EXPECT_TRUE(cmp(r, CMP_STRICT_EQUAL, c.expected)) << c.op;
    }
    EXPECT_EQ(mold(call({a, b}, action_and_t)), "make typeset! [float!]");
    EXPECT_EQ(mold(call({a, b}, action_xor_t)), "make typeset! [string! integer!]");
    EXPECT_EQ(mold(call({a, DT(TYPE_NONE)}, action_or_t)), "make typeset! [none! integer! float!]");
    EXPECT_EQ(error_of([&] { call({a, I(1)}, action_or_t); }), Err::script_invalid_arg);
}

TEST_F(TypesetTest, ComplementFindAndCompare) {
    ValueCell ts = ts_of({TYPE_INTEGER});
    ValueCell once = call({ts}, action_complement);
    EXPECT_EQ(once.data1, ~ts.data1);
    EXPECT_EQ(once.data3, ~0u);
    ValueCell twice = call({once}, action_complement);
    EXPECT_TRUE(cmp(twice, CMP_EQUAL, ts));

    ValueCell* t = stack_push(&ts);
    ValueCell dt = DT(TYPE_INTEGER);
    EXPECT_TRUE(lget(*action_find_dispatch(t, &dt, nullptr, false, false, false, false, nullptr,
                                           nullptr, false, false, false, false)));
    ValueCell other = DT(TYPE_FLOAT);
    EXPECT_FALSE(lget(*action_find_dispatch(t, &other, nullptr, false, false, false, false,
                                            nullptr, nullptr, false, false, false, false)));
    ValueCell one = I(1);
    EXPECT_EQ(error_of([&] {
                  action_find_dispatch(t, &one, nullptr, false, false, false, false, nullptr,
                                       nullptr, false, false, false, false);
              }),
              Err::script_invalid_arg);

    // Same number of members, different members.
    ValueCell x = ts_of({TYPE_INTEGER, TYPE_FLOAT});
    ValueCell y = ts_of({TYPE_STRING, TYPE_BLOCK});
    EXPECT_FALSE(cmp(x, CMP_EQUAL, y));
    EXPECT_TRUE(cmp(x, CMP_NOT_EQUAL, y));
    EXPECT_FALSE(cmp(x, CMP_STRICT_EQUAL, y));
    EXPECT_EQ(cmp_raw(x, CMP_SORT, y), 0);
    EXPECT_EQ(cmp_raw(ts, CMP_SORT, x), -1);
    EXPECT_EQ(cmp_raw(x, CMP_SORT_CASE, ts), 1);
    EXPECT_EQ(cmp_raw(x, CMP_WORD_EXACT, x), CMP_NOT_COMPARABLE);
    EXPECT_FALSE(cmp(x, CMP_EQUAL, I(1)));
    EXPECT_EQ(error_of([&] { cmp(x, CMP_LESSER, x); }), Err::script_invalid_compare);
}

TEST_F(TypesetTest, ToBlockListsTheMembersInOrder) {
    ValueCell ts = ts_of({TYPE_STRING, TYPE_INTEGER, TYPE_NONE});
    ValueCell* b = blk({});
    typeset_to_block(&ts, b);
    ASSERT_EQ(block_length(b), 3);
    EXPECT_EQ(block_head_ptr(b)[0].data1, u32(TYPE_NONE));
    EXPECT_EQ(block_head_ptr(b)[1].data1, u32(TYPE_STRING));
    EXPECT_EQ(block_head_ptr(b)[2].data1, u32(TYPE_INTEGER));
    EXPECT_EQ(block_head_ptr(b)[0].type(), TYPE_DATATYPE);
    // to block! of a typeset gives the same list.
    ValueCell block_type = DT(TYPE_BLOCK);
    ValueCell* as_block = action_to_dispatch(stack_push(&block_type), stack_push(&ts));
    EXPECT_EQ(mold(*as_block), "[none! string! integer!]");

    ValueCell set;
    typeset_make_at(&set, 0, 0, 0);
    ValueCell dt = DT(TYPE_CHAR);
    typeset_set_type_bit(&set, &dt);
    typeset_set_type_bit(&set, &ts);
    EXPECT_EQ(typeset_bit_count(&set), 4);
    ValueCell bad = I(3);
    EXPECT_EQ(error_of([&] { typeset_set_type_bit(&set, &bad); }), Err::script_invalid_arg);
}

}  // namespace
}  // namespace zan::test
