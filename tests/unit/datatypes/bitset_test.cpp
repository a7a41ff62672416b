// bitset!: make and to from sizes, characters, strings, integers, blocks
// with ranges and binaries; the complement flag; the set operations; find,
// pick, poke, append, insert, remove and clear; comparison; the text form;
// ownership announcements.
#include <cstring>

#include "fn_test_support.h"
#include "runtime/datatypes/bitset.h"

namespace zan::test {
namespace {

class BitsetTest : public FnTest {
protected:
    static ValueCell make(ValueCell spec, bool to = false) {
        ValueCell proto;
        datatype_box(&proto, TYPE_BITSET);
        ValueCell* s = stack_push(&spec);
        ValueCell r = to ? *action_to_dispatch(&proto, s) : *action_make_dispatch(&proto, s);
        return *stack_push(&r);
    }
    // charset: a bitset made from a string.
    static ValueCell charset(const char* text) { return make(*str(text)); }
    static ValueCell dash() { return word("-"); }
    static ValueCell binary(std::initializer_list<u8> bytes) {
        Node n = alloc_bytes(static_cast<u32>(bytes.size()));
        SeriesBuffer* b = node_buffer(n);
        u32 i = 0;
        for (u8 x : bytes) b->head_ptr()[i++] = x;
        b->tail = b->head + i;
        ValueCell c;
        cell_init(&c, TYPE_BINARY, 0, n, 0);
        return *stack_push(&c);
    }
    static ValueCell real(double d) {
        ValueCell c;
        cell_init(&c, TYPE_FLOAT);
        c.put_float(d);
        return c;
    }
    // find: true, or none.
    static ValueCell find(ValueCell bits, ValueCell value) {
        ValueCell* b = stack_push(&bits);
        ValueCell* v = stack_push(&value);
        ValueCell r = *action_find_dispatch(b, v, nullptr, false, false, false, false, nullptr,
                                            nullptr, false, false, false, false);
        g_stack.top = b;
        return r;
    }
    static bool has(ValueCell bits, ValueCell value) {
        return find(bits, value).type() == TYPE_LOGIC;
    }
    static u32 bytes(const ValueCell& bits) { return bitset_byte_count(&bits); }
    static ValueCell complement(ValueCell bits) {
        ValueCell* b = stack_push(&bits);
        ValueCell r = *action_complement_dispatch(b);
        return *stack_push(&r);
    }
    // A set operation through the argument frame.
    static ValueCell set_op(ValueCell a, ValueCell b, i32 op) {
        stack_mark_native(g_words.n.body);
        stack_push(&a);
        stack_push(&b);
        switch (op) {
            case 5: action_or_t(); break;
            case 6: action_and_t(); break;
            case 7: action_xor_t(); break;
            default: bitset_set_op(op);
        }
        ValueCell r = *stack_result();
        stack_unwind();
        return r;
    }
    static void poke(ValueCell bits, ValueCell key, ValueCell value) {
        ValueCell* b = stack_push(&bits);
        ValueCell* k = stack_push(&key);
        ValueCell* v = stack_push(&value);
        action_poke_dispatch(b, 0, v, k);
        g_stack.top = b;
    }
    static void append(ValueCell bits, ValueCell value) {
        ValueCell* b = stack_push(&bits);
        ValueCell* v = stack_push(&value);
        action_append_dispatch(b, v, -1, false, 1);
        g_stack.top = b;
    }
    static void remove_key(ValueCell bits, const ValueCell* key) {
        ValueCell* b = stack_push(&bits);
        ValueCell* k = key ? stack_push(key) : nullptr;
        action_remove_dispatch(b, nullptr, k);
        g_stack.top = b;
    }
    static i32 compare(ValueCell a, ValueCell b, i32 op) {
        return bitset_compare(&a, &b, op);
    }
};

TEST_F(BitsetTest, MakeFromASize) {
    ValueCell b9 = make(integer(9));
    EXPECT_EQ(bytes(b9), 2u);
    EXPECT_EQ(action_length_q_dispatch(&b9), 16);
    EXPECT_EQ(mold(b9), "make bitset! #{0000}");
    EXPECT_EQ(bytes(make(integer(8))), 1u);
    EXPECT_EQ(mold(make(integer(0))), "make bitset! #{}");
    EXPECT_EQ(bytes(make(real(17.5))), 3u);
    ValueCell n = integer(9);
    EXPECT_EQ(error_of([&] { make(n, true); }), Err::script_bad_to_arg);
    ValueCell neg = integer(-1);
    EXPECT_EQ(error_of([&] { make(neg); }), Err::script_out_of_range);
}

TEST_F(BitsetTest, MakeFromCharsRangesIntegersStringsAndBinaries) {
    struct Case {
        const char* what;
        ValueCell spec;
        const char* molded;
    };
    const Case cases[] = {
        {"char range", *blk({chr('a'), dash(), chr('c')}),
         "make bitset! #{00000000000000000000000070}"},
        {"string", *str("abc"), "make bitset! #{00000000000000000000000070}"},
        {"char", chr('a'), "make bitset! #{00000000000000000000000040}"},
        {"bit 0", *blk({integer(0)}), "make bitset! #{80}"},
        {"bit 15", *blk({integer(15)}), "make bitset! #{0001}"},
        {"integers", *blk({integer(1), integer(3), integer(5)}), "make bitset! #{54}"},
        {"integer range", *blk({integer(0), dash(), integer(9)}), "make bitset! #{FFC0}"},
        {"float", *blk({real(3.7)}), "make bitset! #{10}"},
        {"nested", *blk({chr('a'), *blk({*str("b"), *blk({chr('c')})})}),
         "make bitset! #{00000000000000000000000070}"},
        {"empty block", *blk({}), "make bitset! #{00}"},
        {"not", *blk({word("not"), chr('a')}),
         "make bitset! [not #{00000000000000000000000040}]"},
        {"binary", binary({0xF0, 0x01}), "make bitset! #{F001}"},
        {"not binary", *blk({word("not"), binary({0xF0})}), "make bitset! [not #{F0}]"},
        {"unicode text", *str("\xE2\x82\xAC"), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ValueCell b = make(c.spec);
        EXPECT_EQ(b.type(), TYPE_BITSET);
        if (c.molded) {
            EXPECT_EQ(mold(b), c.molded);
        }
        EXPECT_EQ(form(b), mold(b));
    }
    // U+20AC is bit 8364: 1046 bytes, the last one holding it.
    ValueCell euro = make(*str("\xE2\x82\xAC"));
    EXPECT_EQ(bytes(euro), 1046u);
    EXPECT_TRUE(has(euro, chr(0x20AC)));
    EXPECT_FALSE(has(euro, chr(0x20AB)));
    // The stored bits of a complemented set are its members.
    ValueCell nb = make(*blk({word("not"), binary({0xF0})}));
    EXPECT_TRUE(bitset_complemented(&nb));
    EXPECT_EQ(bitset_bits(&nb)[0], 0x0F);
    EXPECT_FALSE(has(nb, integer(0)));
    EXPECT_TRUE(has(nb, integer(4)));
    EXPECT_TRUE(has(nb, integer(100)));
    // to bitset! takes the same specs, a bitset! is copied.
    ValueCell t = make(*str("a"), true);
    EXPECT_EQ(mold(t), "make bitset! #{00000000000000000000000040}");
    ValueCell copy = make(t);
    EXPECT_NE(copy.data2, t.data2);
    EXPECT_EQ(mold(copy), mold(t));
}

TEST_F(BitsetTest, BadRangesAndValuesInMakeRaise) {
    struct Case {
        const char* what;
        ValueCell spec;
        bool to;
        Err id;
    };
    const Case cases[] = {
        {"descending range", *blk({chr('c'), dash(), chr('a')}), false, Err::script_past_end},
        {"mixed range", *blk({integer(1), dash(), chr('b')}), false, Err::script_invalid_arg},
        {"dash at the end", *blk({chr('a'), dash()}), false, Err::script_past_end},
        {"negative", *blk({integer(-1)}), false, Err::script_out_of_range},
        {"negative range", *blk({integer(-3), dash(), integer(2)}), false,
         Err::script_out_of_range},
        {"word in make", *blk({word("x")}), false, Err::script_bad_make_arg},
        {"word in to", *blk({word("x")}), true, Err::script_bad_to_arg},
        {"none", g_none_cell, false, Err::script_bad_make_arg},
        {"binary inside", *blk({binary({1})}), false, Err::internal_not_done},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ValueCell spec = c.spec;
        EXPECT_EQ(error_of([&] { make(spec, c.to); }), c.id);
    }
    // Other actions raise invalid-arg for a bad spec value.
    ValueCell b = charset("a");
    ValueCell none = g_none_cell;
    EXPECT_EQ(error_of([&] { append(b, none); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { append(b, integer(-2)); }), Err::script_out_of_range);
}

TEST_F(BitsetTest, ComplementAndMembership) {
    ValueCell a = charset("a");
    ValueCell c = complement(a);
    EXPECT_TRUE(bitset_complemented(&c));
    EXPECT_FALSE(bitset_complemented(&a));
    EXPECT_TRUE(has(c, chr('b')));
    EXPECT_TRUE(has(c, integer(1000)));
    EXPECT_EQ(bytes(c), 13u);  // the test did not grow the buffer
    EXPECT_EQ(find(c, chr('a')).type(), TYPE_NONE);
    EXPECT_EQ(mold(c), "make bitset! [not #{00000000000000000000000040}]");
    EXPECT_EQ(compare(complement(c), a, CMP_EQUAL), 0);
    // pick answers false where find answers none; a test of several
    // members needs them all; a negative bit is never a member.
    ValueCell* held = stack_push(&a);
    ValueCell k = chr('b');
    EXPECT_EQ(action_pick_dispatch(held, 0, &k)->type(), TYPE_LOGIC);
    EXPECT_FALSE(logic_get(action_pick_dispatch(held, 0, &k)));
    ValueCell abc = charset("abc");
    EXPECT_TRUE(has(abc, *str("cab")));
    EXPECT_FALSE(has(abc, *str("abd")));
    EXPECT_TRUE(has(abc, *blk({chr('a'), dash(), chr('c')})));
    EXPECT_FALSE(has(abc, *blk({chr('a'), dash(), chr('d')})));
    EXPECT_FALSE(has(abc, integer(-5)));
    // A range reaching past the stored bytes of a complemented set.
    EXPECT_TRUE(has(c, *blk({integer(98), dash(), integer(5000)})));
    EXPECT_FALSE(has(c, *blk({integer(90), dash(), integer(5000)})));
    // negate complements the argument in place of the value.
    ValueCell* n = stack_push(&a);
    action_negate_dispatch(n);
    EXPECT_TRUE(bitset_complemented(n));
    EXPECT_FALSE(bitset_complemented(&a));
}

TEST_F(BitsetTest, SetOperationsOnPlainSets) {
    ValueCell two = make(binary({0xF0, 0x0F}));
    ValueCell four = make(binary({0xFF, 0x00, 0xAA, 0x55}));
    EXPECT_EQ(mold(set_op(two, four, 6)), "make bitset! #{F000}");
    EXPECT_EQ(mold(set_op(two, four, 5)), "make bitset! #{FF0FAA55}");
    EXPECT_EQ(mold(set_op(two, four, 7)), "make bitset! #{0F0FAA55}");
    // union, intersect, exclude and difference through the same core.
    EXPECT_EQ(mold(set_op(two, four, 9)), "make bitset! #{FF0FAA55}");
    EXPECT_EQ(mold(set_op(two, four, 10)), "make bitset! #{F0000000}");
    EXPECT_EQ(mold(set_op(four, two, 11)), "make bitset! #{0F00AA55}");
    EXPECT_EQ(mold(set_op(two, four, 11)), "make bitset! #{000F0000}");
    EXPECT_EQ(mold(set_op(two, four, 12)), "make bitset! #{0F0FAA55}");
    EXPECT_EQ(mold(set_op(two, four, 8)), mold(two));
    ValueCell i = integer(1);
    EXPECT_EQ(error_of([&] { set_op(two, i, 5); }), Err::script_invalid_type);
}

TEST_F(BitsetTest, SetOperationsWithComplementedSets) {
    ValueCell not_a = complement(charset("a"));
    ValueCell not_b = complement(charset("b"));
    ValueCell abc = charset("abc");
    ValueCell u = set_op(not_a, not_b, 9);
    EXPECT_TRUE(has(u, chr('a')));
    EXPECT_TRUE(has(u, chr('b')));
    EXPECT_TRUE(has(u, integer(70000)));
    ValueCell both = set_op(not_a, not_b, 10);
    EXPECT_FALSE(has(both, chr('a')));
    EXPECT_FALSE(has(both, chr('b')));
    EXPECT_TRUE(has(both, chr('c')));
    EXPECT_TRUE(has(both, integer(70000)));
    ValueCell bc = set_op(not_a, abc, 6);
    EXPECT_FALSE(has(bc, chr('a')));
    EXPECT_TRUE(has(bc, chr('b')));
    EXPECT_TRUE(has(bc, chr('c')));
    EXPECT_FALSE(has(bc, integer(1000)));
    // A short complemented operand keeps the longer one's bits.
    ValueCell big = make(*blk({integer(500)}));
    ValueCell kept = set_op(not_a, big, 6);
    EXPECT_TRUE(has(kept, integer(500)));
    EXPECT_FALSE(has(kept, integer(501)));
    ValueCell x = set_op(not_a, abc, 12);
    EXPECT_TRUE(has(x, chr('a')));
    EXPECT_FALSE(has(x, chr('b')));
    EXPECT_TRUE(has(x, chr('z')));
    ValueCell ex = set_op(abc, not_a, 11);  // abc without everything but a
    EXPECT_TRUE(has(ex, chr('a')));
    EXPECT_FALSE(has(ex, chr('b')));
    EXPECT_FALSE(has(ex, integer(1000)));
}

TEST_F(BitsetTest, AppendPokeRemoveAndClear) {
    ValueCell b = charset("a");
    append(b, *str("xyz"));
    EXPECT_TRUE(has(b, *str("axyz")));
    append(b, integer(200));
    EXPECT_EQ(bytes(b), 26u);
    EXPECT_TRUE(has(b, integer(200)));
    // insert does the same.
    ValueCell* held = stack_push(&b);
    ValueCell v = chr('q');
    action_insert_dispatch(held, &v, -1, false, 1);
    EXPECT_TRUE(has(b, chr('q')));
    // poke: none, false, 0 and 0.0 clear; anything else sets.
    struct PokeCase {
        ValueCell value;
        bool member;
    };
    const PokeCase pokes[] = {{g_false_cell, false}, {g_true_cell, true}, {g_none_cell, false},
                              {integer(1), true},   {integer(0), false}, {real(0.5), true},
                              {real(0.0), false}};
    for (const PokeCase& p : pokes) {
        poke(b, chr('a'), p.value);
        EXPECT_EQ(has(b, chr('a')), p.member) << mold(p.value);
    }
    ValueCell key = chr('x');
    remove_key(b, &key);
    EXPECT_FALSE(has(b, chr('x')));
    EXPECT_TRUE(has(b, chr('y')));
    EXPECT_EQ(error_of([&] { remove_key(b, nullptr); }), Err::script_missing_arg);
    // clear keeps the length.
    u32 n = bytes(b);
    action_clear_dispatch(&b);
    EXPECT_EQ(bytes(b), n);
    EXPECT_FALSE(has(b, chr('y')));
}

TEST_F(BitsetTest, ChangesToAComplementedSet) {
    // remove/key makes members stop being members, growing the buffer with
    // set bits up to the key.
    ValueCell c = complement(charset("a"));
    ValueCell far = integer(1000);
    remove_key(c, &far);
    EXPECT_EQ(bytes(c), 126u);
    EXPECT_FALSE(has(c, integer(1000)));
    EXPECT_TRUE(has(c, integer(999)));
    EXPECT_TRUE(has(c, integer(1001)));
    EXPECT_FALSE(has(c, chr('a')));
    ValueCell k = chr('b');
    remove_key(c, &k);
    EXPECT_FALSE(has(c, chr('b')));
    poke(c, integer(1000), g_true_cell);
    EXPECT_TRUE(has(c, integer(1000)));
    // Setting a bit beyond the stored bytes leaves the members as they
    // are; the stored length still moves up to the bit.
    append(c, integer(5000));
    EXPECT_EQ(bytes(c), 626u);
    EXPECT_TRUE(has(c, integer(5000)));
    EXPECT_TRUE(has(c, integer(4000)));
    EXPECT_FALSE(has(c, chr('a')));
    // clear of a complemented set leaves every bit a member.
    action_clear_dispatch(&c);
    EXPECT_TRUE(has(c, chr('a')));
    EXPECT_TRUE(has(c, chr('b')));
    EXPECT_EQ(bytes(c), 626u);
}

TEST_F(BitsetTest, PathAccess) {
    ValueCell b = charset("a");
    ValueCell* held = stack_push(&b);
    ValueCell e = integer(97);
    EXPECT_TRUE(logic_get(action_eval_path_dispatch(held, &e, nullptr, nullptr, nullptr, nullptr,
                                                    -1, false, false, true, false)));
    ValueCell c = chr('b');
    ValueCell t = g_true_cell;
    ValueCell* r = action_eval_path_dispatch(held, &c, &t, nullptr, nullptr, nullptr, -1, false,
                                             false, true, false);
    EXPECT_EQ(r->type(), TYPE_LOGIC);
    EXPECT_TRUE(has(b, chr('b')));
    ValueCell w = word("x");
    EXPECT_EQ(error_of([&] {
                  action_eval_path_dispatch(held, &w, nullptr, nullptr, nullptr, nullptr, -1,
                                            false, false, true, false);
              }),
              Err::script_invalid_type);
}

TEST_F(BitsetTest, Compare) {
    ValueCell a = make(binary({0x01, 0x00, 0x80}));
    ValueCell b = make(binary({0x02, 0x00, 0x10}));
    // Equal length: the last differing byte decides.
    EXPECT_EQ(compare(a, b, CMP_LESSER), 1);
    EXPECT_EQ(compare(b, a, CMP_LESSER), -1);
    EXPECT_EQ(compare(a, make(a), CMP_EQUAL), 0);
    EXPECT_EQ(compare(a, a, CMP_SAME), 0);
    EXPECT_EQ(compare(a, make(a), CMP_SAME), 1);
    // The shorter is lower; a plain set is lower than a complemented one.
    EXPECT_EQ(compare(make(binary({0xFF})), a, CMP_LESSER), -1);
    ValueCell na = make(binary({0x01, 0x00, 0x80}));
    ValueCell nc = complement(complement(na));
    EXPECT_EQ(compare(na, nc, CMP_EQUAL), 0);
    EXPECT_EQ(compare(make(binary({0xFF, 0xFF, 0xFF})), complement(make(integer(24))),
                      CMP_LESSER),
              -1);
    EXPECT_EQ(compare(make(integer(0)), complement(make(integer(0))), CMP_EQUAL), 0);
    ValueCell i = integer(1);
    EXPECT_EQ(compare(a, i, CMP_EQUAL), CMP_NOT_COMPARABLE);
    EXPECT_TRUE(action_compare(&a, &b, CMP_GREATER));
    EXPECT_FALSE(action_compare(&a, &i, CMP_EQUAL));
}

TEST_F(BitsetTest, CopyAndLength) {
    ValueCell a = charset("ab");
    ValueCell* held = stack_push(&a);
    ValueCell* fresh = unset_push();
    ValueCell copy = *action_copy_dispatch(held, fresh, nullptr, false, nullptr);
    EXPECT_NE(copy.data2, a.data2);
    append(copy, chr('z'));
    EXPECT_FALSE(has(a, chr('z')));
    EXPECT_EQ(action_length_q_dispatch(&a), 104);
    ValueCell c = complement(a);
    fresh = unset_push();
    ValueCell ccopy = *action_copy_dispatch(&c, fresh, nullptr, false, nullptr);
    EXPECT_TRUE(bitset_complemented(&ccopy));
}

TEST_F(BitsetTest, FormWithAPartLimit) {
    ValueCell b = make(integer(64));
    ValueCell part = integer(20);
    ValueCell r = call({b, part}, [] { action_form(1); });
    EXPECT_EQ(text(&r), "make bitset! #{00000");
    ValueCell m = call({b, part}, [] { action_mold(-1, -1, -1, 1); });
    EXPECT_EQ(text(&m), "make bitset! #{00000");
}

TEST_F(BitsetTest, ReflectModifyAndOwnership) {
    ownership_init();
    ValueCell b = charset("a");
    EXPECT_EQ(reflect(b, "owned").type(), TYPE_NONE);
    EXPECT_EQ(error_of([&] { reflect(b, "spec"); }), Err::internal_not_done);
    ValueCell* o = make_object("[bits: none on-deep-change*: func [o w t a n i p] []]");
    ValueCell* spec = blk({*o, word("bits")});
    ValueCell* held = stack_push(&b);
    ValueCell field = word("owned");
    action_modify_dispatch(held, &field, spec, false);
    EXPECT_EQ(reflect(b, "owned").type(), TYPE_OBJECT);
    calls().clear();
    append(b, chr('c'));
    ASSERT_EQ(calls().size(), 2u);
    EXPECT_EQ(calls()[0].name, "on-deep-change*");
    EXPECT_EQ(calls()[0].args[3], "insert");
    EXPECT_EQ(calls()[1].args[3], "inserted");
    calls().clear();
    poke(b, chr('c'), g_false_cell);
    ValueCell k = chr('a');
    remove_key(b, &k);
    action_clear_dispatch(held);
    ASSERT_EQ(calls().size(), 6u);
    EXPECT_EQ(calls()[0].args[3], "poke");
    EXPECT_EQ(calls()[1].args[3], "poked");
    EXPECT_EQ(calls()[2].args[3], "remove");
    EXPECT_EQ(calls()[3].args[3], "removed");
    EXPECT_EQ(calls()[4].args[3], "clear");
    EXPECT_EQ(calls()[5].args[3], "cleared");
    // modify owned none releases the bitset.
    ValueCell none = g_none_cell;
    action_modify_dispatch(held, &field, &none, false);
    EXPECT_EQ(reflect(b, "owned").type(), TYPE_NONE);
    calls().clear();
    append(b, chr('d'));
    EXPECT_TRUE(calls().empty());
}

}  // namespace
}  // namespace zan::test
