// block!, the series! base actions on blocks, paren! and the path types.
#include "dt_test_support.h"

namespace zan::test {
namespace {

class BlockTest : public DtTest {
protected:
    ValueCell one, two, three, four, a, b, c, x;
    void SetUp() override {
        DtTest::SetUp();
        one = integer(1), two = integer(2), three = integer(3), four = integer(4);
        a = word("a"), b = word("b"), c = word("c"), x = word("x");
    }

    // append/insert/change through their table entries with refinement
    // positions as the evaluator gives them.
    static ValueCell append(ValueCell s, ValueCell v, i32 part = -1, bool only = false,
                            i32 dup = -1) {
        stack_mark_native(g_words.n.body);
        stack_push(&s);
        stack_push(&v);
        i32 pp = -1, dp = -1;
        if (part != -1) {
            ValueCell p = integer(part);
            stack_push(&p);
            pp = 2;
        }
        if (dup != -1) {
            ValueCell d = integer(dup);
            stack_push(&d);
            dp = part != -1 ? 3 : 2;
        }
        action_append(pp, only ? 9 : -1, dp);
        ValueCell r = *stack_result();
        stack_unwind();
        stack_pop(1);
        return r;
    }
    static ValueCell insert(ValueCell s, ValueCell v, i32 dup = -1) {
        stack_mark_native(g_words.n.body);
        stack_push(&s);
        stack_push(&v);
        i32 dp = -1;
        if (dup != -1) {
            ValueCell d = integer(dup);
            stack_push(&d);
            dp = 2;
        }
        action_insert(-1, -1, dp);
        ValueCell r = *stack_result();
        stack_unwind();
        stack_pop(1);
        return r;
    }
    static ValueCell at(ValueCell s, i32 index) {
        series_set_index(&s, index);
        return s;
    }
};

TEST_F(BlockTest, MoldLayouts) {
    struct Case {
        const char* name;
        ValueCell* block;
        const char* mold;
    };
    const Case cases[] = {
        {"flat", blk({one, two}), "[1 2]"},
        {"empty", blk({}), "[]"},
        {"every value on its own line", blk({one, two}, {0, 1}), "[\n    1\n    2\n]"},
        {"second value starts a line", blk({one, two}, {1}), "[1\n    2\n]"},
        {"third value starts a line", blk({one, two, three}, {2}), "[1 2\n    3\n]"},
        {"words and strings", blk({a, *str("b"), *blk({c})}), "[a \"b\" [c]]"},
    };
    for (const Case& k : cases) EXPECT_EQ(mold(*k.block), k.mold) << k.name;
    // Nested: the inner block rises from the outer one's level.
    ValueCell* inner = blk({a, b}, {0, 1});
    ValueCell in = *inner;
    in.header |= CELL_NEW_LINE;
    ValueCell* outer = blk({x, in});
    EXPECT_EQ(mold(*outer), "[x\n    [\n        a\n        b\n    ]\n]");
    EXPECT_EQ(mold(*blk({one, two}, {0, 1}), false, false, true), "[1 2]");
    EXPECT_EQ(mold(*blk({one, two}), true), "1 2");
    EXPECT_EQ(mold(*blk({one, two}, {0, 1}), true), "1\n2");
}

TEST_F(BlockTest, MoldRereadsCellsAfterTheOutputGrows) {
    // The output lies before the block in its frame: each time it grows, its
    // old buffer dies there, and the next collection slides the block down
    // while one of its values is being molded.
    g_gc.enabled = true;
    ValueCell* out = string_push_new(16);
    std::string expected = "[";
    ValueCell* b = block_push_new(200);
    for (int i = 0; i < 200; i++) {
        ValueCell v = integer(1000 + i);
        v.header |= CELL_NEW_LINE;
        block_append_cell(b, &v);
        expected += "\n    " + std::to_string(1000 + i);
    }
    expected += "\n]";
    set_collect_stress(true);
    action_mold_dispatch(b, out, false, false, false, nullptr, FORM_NO_LIMIT, 0);
    set_collect_stress(false);
    EXPECT_EQ(text(out), expected);
}

TEST_F(BlockTest, FormSeparatesWithSpacesUnlessALineEnded) {
    EXPECT_EQ(form(*blk({a, *str("b"), *blk({c})})), "a b c");
    EXPECT_EQ(form(*blk({*str("x\n"), a})), "x\na");
    EXPECT_EQ(form(*blk({})), "");
}

TEST_F(BlockTest, MoldAndFormOfASelfContainingBlock) {
    ValueCell* me = blk({one, g_none_cell});
    *(block_head_ptr(me) + 1) = *me;
    EXPECT_EQ(mold(*me), "[1 [...]]");
    EXPECT_EQ(form(*me), "1 ...");
    EXPECT_EQ(cycles_depth(), 0u);
}

TEST_F(BlockTest, MoldPartBudgetAndClosingLine) {
    ValueCell* blkv = blk({one, two}, {1});  // "[1\n    2\n]" is 10 characters
    ValueCell* out = string_push_new(16);
    ValueCell lim = integer(100);
    i32 left = action_mold_dispatch(blkv, out, false, false, false, &lim, 100, 0);
    EXPECT_EQ(text(out), "[1\n    2\n]");
    // Each written character is paid for, the closing line included.
    EXPECT_EQ(left, 100 - 10);
    ValueCell r = call({*blkv, integer(4)}, [] { action_mold(-1, -1, -1, 1); });
    EXPECT_EQ(text(&r), "[1\n ");
}

// A separator that makes the output string grow collects (here: the
// stressed collector) and so slides the block being molded down over the
// output's abandoned first buffer. The element after the separator must be
// read from the block's new place.
TEST_F(BlockTest, MoldReadsEachElementAfterItsSeparatorGrewTheOutput) {
    struct Case {
        const char* name;
        std::initializer_list<int> nl;
        const char* tail;
    };
    const Case cases[] = {{"space", {}, "1 2"}, {"new line", {1}, "1\n2"}};
    for (const Case& k : cases) {
        // The output's first buffer lies before the block; growing the
        // output past it leaves that buffer garbage in front of the block.
        ValueCell* out = string_push_new(256);
        ValueCell* block = blk({one, two}, k.nl);
        for (int i = 0; i < 300; i++) string_append_char(out, 'x');
        // Fill the new buffer so that the first element's mold ends it
        // exactly and the separator has to grow it.
        SeriesBuffer* ob = series_of(out);
        u32 room = ob->end_ref() - ob->tail;
        for (u32 i = 0; i + 1 < room; i++) string_append_char(out, 'x');
        u32 filler = series_of(out)->used_bytes();
        u32 cycles = g_gc.series_cycles;
        g_gc.enabled = true;
        set_collect_stress(true);
        block_mold_values(block, out, true, false, false, nullptr, FORM_NO_LIMIT, 0);
        set_collect_stress(false);
        g_gc.enabled = false;
        EXPECT_GT(g_gc.series_cycles, cycles) << k.name;
        EXPECT_EQ(text(out).substr(filler), k.tail) << k.name;
        stack_pop(2);
    }
}

TEST_F(BlockTest, Comparisons) {
    struct Case {
        ValueCell* l;
        ValueCell* r;
        i32 op;
        bool want;
    };
    const Case cases[] = {
        {blk({one, two}), blk({one, two}), CMP_EQUAL, true},
        {blk({a}), blk({word("A")}), CMP_EQUAL, true},
        {blk({a}), blk({word("A")}), CMP_STRICT_EQUAL, false},
        {blk({one}), blk({one, two}), CMP_LESSER, true},
        {blk({}), blk({one}), CMP_LESSER, true},
        {blk({one}), blk({}), CMP_GREATER, true},
        {blk({one}), blk({one, two}), CMP_EQUAL, false},
        {blk({one, three}), blk({one, two}), CMP_GREATER, true},
        {blk({one}), blk({*str("1")}), CMP_EQUAL, false},
    };
    for (const Case& k : cases) EXPECT_EQ(action_compare(k.l, k.r, k.op), k.want);
    ValueCell* p = blk({a, b}, {}, TYPE_PATH);
    ValueCell* lp = blk({a, b}, {}, TYPE_LIT_PATH);
    EXPECT_FALSE(action_compare(p, lp, CMP_EQUAL));
    EXPECT_TRUE(action_compare(p, lp, CMP_WORD_EXACT));
    ValueCell* s = blk({one});
    ValueCell s2 = *s;
    EXPECT_TRUE(action_compare(s, &s2, CMP_SAME));
    EXPECT_FALSE(action_compare(s, blk({one}), CMP_SAME));
}

TEST_F(BlockTest, AppendAndInsert) {
    ValueCell* s = blk({one, two});
    ValueCell r = append(*s, *blk({three, four}));
    EXPECT_EQ(mold(r), "[1 2 3 4]");
    EXPECT_EQ(series_index(&r), 0);
    ValueCell* t = blk({one, two});
    EXPECT_EQ(mold(append(*t, *blk({three, four}), -1, true)), "[1 2 [3 4]]");
    ValueCell* e = blk({});
    EXPECT_EQ(mold(insert(*e, x, 3)), "[]");  // positioned after the three
    EXPECT_EQ(mold(*e), "[x x x]");
    ValueCell* f = blk({one, two});
    ValueCell after = insert(at(*f, 1), *blk({a, b}));
    EXPECT_EQ(series_index(&after), 3);
    EXPECT_EQ(mold(*f), "[1 a b 2]");
    // An empty block inserts nothing; a block can take itself.
    EXPECT_EQ(mold(append(*f, *blk({}))), "[1 a b 2]");
    ValueCell* g = blk({one, two});
    EXPECT_EQ(mold(append(*g, *g)), "[1 2 1 2]");
}

TEST_F(BlockTest, AppendPartAndDup) {
    ValueCell* s = blk({});
    EXPECT_EQ(mold(append(*s, *blk({one, two, three}), 2)), "[1 2]");
    EXPECT_EQ(mold(append(*s, *blk({one, two, three}), 0)), "[1 2]");
    EXPECT_EQ(mold(append(*s, one, -1, false, 3)), "[1 2 1 1 1]");
    EXPECT_EQ(mold(append(*s, one, -1, false, 0)), "[1 2 1 1 1]");
    // /part as a position in the appended value's own series.
    ValueCell* src = blk({a, b, c});
    ValueCell pos = at(*src, 2);
    ValueCell* d = blk({});
    ValueCell r = call({*d, *src, pos}, [] { action_append(2, -1, -1); });
    EXPECT_EQ(mold(r), "[a b]");
    ValueCell five = integer(5);
    EXPECT_EQ(error_of([&] { append(*d, five, 1); }), Err::script_invalid_part);
    ValueCell* other = blk({x});
    EXPECT_EQ(error_of([&] { call({*d, *src, *other}, [] { action_append(2, -1, -1); }); }),
              Err::script_invalid_refine_arg);
}

TEST_F(BlockTest, Change) {
    ValueCell* s = blk({one, two, three});
    ValueCell r = call({*s, *blk({a, b})}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(mold(*s), "[a b 3]");
    EXPECT_EQ(series_index(&r), 2);
    ValueCell* t = blk({one, two, three});
    ValueCell two_ = integer(2);
    call({*t, x, two_}, [] { action_change(2, -1, -1); });
    EXPECT_EQ(mold(*t), "[x 3]");
    ValueCell* u = blk({one});
    call({*u, *blk({a, b, c})}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(mold(*u), "[a b c]");
}

TEST_F(BlockTest, TrimSwapAndClear) {
    ValueCell* s = blk({one, g_none_cell, two, g_none_cell});
    call({*s}, [] { action_trim(-1, -1, -1, -1, -1, -1); });
    EXPECT_EQ(mold(*s), "[1 2]");
    ValueCell* p = blk({a, b});
    ValueCell* q = blk({x});
    call({*p, *q}, [] { action_swap(); });
    EXPECT_EQ(mold(*p), "[x b]");
    EXPECT_EQ(mold(*q), "[a]");
    ValueCell n = one;
    EXPECT_EQ(error_of([&] { call({*p, n}, [] { action_swap(); }); }), Err::script_invalid_arg);
    ValueCell r = call({at(*p, 1)}, [] { action_clear(); });
    EXPECT_EQ(mold(*p), "[x]");
    EXPECT_EQ(series_index(&r), 1);
}

TEST_F(BlockTest, Take) {
    ValueCell* s = blk({one, two, three, four});
    EXPECT_EQ(mold(call({*s}, [] { action_take(-1, -1, -1); })), "1");
    EXPECT_EQ(mold(call({*s}, [] { action_take(-1, -1, 9); })), "4");
    EXPECT_EQ(mold(*s), "[2 3]");
    ValueCell two_ = integer(2);
    EXPECT_EQ(mold(call({*s, two_}, [] { action_take(1, -1, -1); })), "[2 3]");
    EXPECT_EQ(mold(*s), "[]");
    EXPECT_EQ(call({*s}, [] { action_take(-1, -1, -1); }).type(), TYPE_NONE);
}

TEST_F(BlockTest, TakePartZeroTakesNothing) {
    ValueCell* s = blk({one, two, three});
    ValueCell zero = integer(0);
    EXPECT_EQ(mold(call({at(*s, 1), zero}, [] { action_take(1, -1, -1); })), "[]");
    EXPECT_EQ(mold(*s), "[1 2 3]");
    // A negative count takes the units before the index.
    ValueCell minus = integer(-1);
    EXPECT_EQ(mold(call({at(*s, 2), minus}, [] { action_take(1, -1, -1); })), "[2]");
    EXPECT_EQ(mold(*s), "[1 3]");
    EXPECT_EQ(mold(call({at(*s, 0), minus}, [] { action_take(1, -1, -1); })), "[]");
}

TEST_F(BlockTest, CopyShallowDeepAndPart) {
    ValueCell* inner = blk({a});
    ValueCell* s = blk({one, *inner, two});
    ValueCell shallow = call({*s}, [] { action_copy(-1, -1, -1); });
    ValueCell deep = call({*s}, [] { action_copy(-1, 9, -1); });
    append(*inner, b);
    EXPECT_EQ(mold(shallow), "[1 [a b] 2]");
    EXPECT_EQ(mold(deep), "[1 [a] 2]");
    ValueCell two_ = integer(2);
    EXPECT_EQ(mold(call({at(*s, 1), two_}, [] { action_copy(1, -1, -1); })), "[[a b] 2]");
    ValueCell minus = integer(-1);
    EXPECT_EQ(mold(call({at(*s, 1), minus}, [] { action_copy(1, -1, -1); })), "[1]");
}

TEST_F(BlockTest, DeepCopyOfASelfContainingBlockRaisesNoCycle) {
    ValueCell* me = blk({one, g_none_cell});
    *(block_head_ptr(me) + 1) = *me;
    EXPECT_EQ(error_of([&] { call({*me}, [] { action_copy(-1, 9, -1); }); }),
              Err::internal_no_cycle);
}

TEST_F(BlockTest, RemoveAndReverse) {
    ValueCell* s = blk({one, two, three, four});
    call({*s}, [] { action_remove(-1, -1); });
    EXPECT_EQ(mold(*s), "[2 3 4]");
    ValueCell two_ = integer(2), zero = integer(0);
    call({*s, two_}, [] { action_remove(1, -1); });
    EXPECT_EQ(mold(*s), "[4]");
    call({*s, zero}, [] { action_remove(1, -1); });
    EXPECT_EQ(mold(*s), "[4]");
    ValueCell* r = blk({one, two, three, four});
    call({*r}, [] { action_reverse(-1, -1); });
    EXPECT_EQ(mold(*r), "[4 3 2 1]");
    call({*r, two_}, [] { action_reverse(-1, 1); });
    EXPECT_EQ(mold(*r), "[2 1 4 3]");
    ValueCell three_ = integer(3), four_ = integer(4);
    EXPECT_EQ(error_of([&] { call({*r, three_}, [] { action_reverse(-1, 1); }); }),
              Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { call({*r, zero}, [] { action_reverse(-1, 1); }); }),
              Err::script_out_of_range);
    call({*r, four_}, [] { action_reverse(-1, 1); });
    EXPECT_EQ(mold(*r), "[2 1 4 3]");
}

TEST_F(BlockTest, RemoveKeyTakesTheKeyAndItsValue) {
    ValueCell* s = blk({a, one, b, two});
    call({*s, b}, [] { action_remove(-1, 1); });
    EXPECT_EQ(mold(*s), "[a 1]");
    EXPECT_EQ(call({*s, x}, [] { action_remove(-1, 1); }).type(), TYPE_NONE);
}

TEST_F(BlockTest, Navigation) {
    ValueCell* s = blk({one, two, three});
    ValueCell zero = integer(0), one_ = integer(1), five = integer(5), minus = integer(-9);
    EXPECT_EQ(series_index(&(*stack_push(&zero) = call({*s, zero}, [] { action_at(); }))), 0);
    ValueCell p1 = call({at(*s, 1), one_}, [] { action_at(); });
    ValueCell p0 = call({at(*s, 1), zero}, [] { action_at(); });
    EXPECT_EQ(series_index(&p1), series_index(&p0));
    EXPECT_EQ(series_index(&(*stack_push(&zero) = call({*s, five}, [] { action_skip(); }))), 3);
    EXPECT_EQ(series_index(&(*stack_push(&zero) = call({*s, minus}, [] { action_skip(); }))), 0);
    ValueCell t = call({at(*s, 3)}, [] { action_next(); });
    EXPECT_EQ(series_index(&t), 3);
    ValueCell h = call({*s}, [] { action_back(); });
    EXPECT_EQ(series_index(&h), 0);
    ValueCell f = word("f");
    EXPECT_EQ(error_of([&] { call({*s, f}, [] { action_skip(); }); }), Err::script_invalid_arg);
}

TEST_F(BlockTest, AnIndexLeftPastTheTailByAnotherValue) {
    ValueCell* s = blk({one, two, three});
    ValueCell later = at(*s, 2);
    call({*s}, [] { action_clear(); });
    EXPECT_EQ(dt::int_get(&(*stack_push(&later) = call({later}, [] { action_index_q(); }))), 3);
    EXPECT_EQ(dt::int_get(&(*stack_push(&later) = call({later}, [] { action_length_q(); }))), 0);
    EXPECT_TRUE(logic_get(&(*stack_push(&later) = call({later}, [] { action_tail_q(); }))));
    ValueCell one_ = integer(1);
    EXPECT_EQ(call({later, one_}, [] { action_pick(); }).type(), TYPE_NONE);
}

TEST_F(BlockTest, PickAndPoke) {
    ValueCell* s = blk({one, two, three});
    struct Case {
        i32 index;
        int want;  // 0: none
    };
    const Case cases[] = {{1, 2}, {2, 3}, {3, 0}, {0, 0}, {-1, 1}, {-2, 0}};
    for (const Case& k : cases) {
        ValueCell n = integer(k.index);
        ValueCell r = call({at(*s, 1), n}, [] { action_pick(); });
        if (k.want) EXPECT_EQ(dt::int_get(&r), k.want) << k.index;
        else EXPECT_EQ(r.type(), TYPE_NONE) << k.index;
    }
    ValueCell t = g_true_cell, f = g_false_cell;
    EXPECT_EQ(dt::int_get(&(*stack_push(&t) = call({*s, t}, [] { action_pick(); }))), 1);
    EXPECT_EQ(dt::int_get(&(*stack_push(&f) = call({*s, f}, [] { action_pick(); }))), 2);
    ValueCell zero = integer(0), two_ = integer(2);
    EXPECT_EQ(error_of([&] { call({*s, zero, x}, [] { action_poke(); }); }), Err::script_out_of_range);
    ValueCell r = call({*s, two_, x}, [] { action_poke(); });
    EXPECT_EQ(mold(r), "x");
    EXPECT_EQ(mold(*s), "[1 x 3]");
}

TEST_F(BlockTest, Move) {
    ValueCell* s = blk({one, two, three, four});
    call({*s, at(*s, 2)}, [] { action_move(-1); });
    EXPECT_EQ(mold(*s), "[2 3 1 4]");
    call({at(*s, 3), at(*s, 0)}, [] { action_move(-1); });
    EXPECT_EQ(mold(*s), "[4 2 3 1]");
    ValueCell two_ = integer(2);
    call({*s, at(*s, 1), two_}, [] { action_move(2); });  // onto itself: nothing
    EXPECT_EQ(mold(*s), "[4 2 3 1]");
    ValueCell* t = blk({a});
    call({*s, *t, two_}, [] { action_move(2); });
    EXPECT_EQ(mold(*s), "[3 1]");
    EXPECT_EQ(mold(*t), "[4 2 a]");
    ValueCell* text = str("xy");
    EXPECT_EQ(error_of([&] { call({*s, *text}, [] { action_move(-1); }); }), Err::script_move_bad);
    EXPECT_EQ(error_of([&] { call({*s, one}, [] { action_move(-1); }); }), Err::script_expect_arg);
}

TEST_F(BlockTest, RandomShufflesWithTheGenerator) {
    g_services.random_int = [](i32 max, bool) { return max; };  // always the last one
    ValueCell* s = blk({one, two, three});
    call({*s}, [] { action_random(-1, -1, -1); });
    EXPECT_EQ(mold(*s), "[3 1 2]");
    ValueCell r = call({*s}, [] { action_random(-1, -1, 9); });
    EXPECT_EQ(mold(r), "2");
    g_services.random_int = nullptr;
}

TEST_F(BlockTest, FindSelectAndPut) {
    ValueCell* s = blk({a, b, c, b});
    auto find = [&](ValueCell series, ValueCell v, i32 tail, i32 match, i32 last, i32 reverse) {
        stack_mark_native(g_words.n.body);
        stack_push(&series);
        stack_push(&v);
        action_find(-1, -1, -1, -1, -1, -1, -1, last, reverse, tail, match);
        ValueCell r = *stack_result();
        stack_unwind();
        stack_pop(1);
        return r;
    };
    ValueCell r = find(*s, b, -1, -1, -1, -1);
    EXPECT_EQ(series_index(&r), 1);
    r = find(*s, b, 1, -1, -1, -1);
    EXPECT_EQ(series_index(&r), 2);
    EXPECT_EQ(find(*s, b, -1, 1, -1, -1).type(), TYPE_NONE);
    r = find(*s, b, -1, -1, 1, -1);
    EXPECT_EQ(series_index(&r), 3);
    r = find(at(*s, 4), b, -1, -1, -1, 1);
    EXPECT_EQ(series_index(&r), 3);
    r = find(*s, *blk({b, c}), -1, -1, -1, -1);
    EXPECT_EQ(series_index(&r), 1);
    ValueCell dt;
    datatype_box(&dt, TYPE_STRING);
    ValueCell* mixed = blk({one, *str("a"), two});
    r = find(*mixed, dt, -1, -1, -1, -1);
    EXPECT_EQ(series_index(&r), 1);

    ValueCell* kv = blk({a, one, b, two});
    ValueCell sel = call({*kv, b}, [] { action_select(-1, -1, -1, -1, -1, -1, -1, -1, -1); });
    EXPECT_EQ(dt::int_get(&sel), 2);
    ValueCell* kv2 = blk({a, one, b});
    EXPECT_EQ(call({*kv2, b}, [] { action_select(-1, -1, -1, -1, -1, -1, -1, -1, -1); }).type(),
              TYPE_NONE);
    ValueCell* p = blk({a, one});
    call({*p, b, two}, [] { action_put(-1); });
    EXPECT_EQ(mold(*p), "[a 1 b 2]");
    call({*p, a, three}, [] { action_put(-1); });
    EXPECT_EQ(mold(*p), "[a 3 b 2]");
}

TEST_F(BlockTest, PathAccessOnBlocks) {
    ValueCell* s = blk({a, one, b, two});
    ValueCell two_ = integer(2);
    EXPECT_EQ(dt::int_get(action_eval_path_dispatch(s, &two_, nullptr, nullptr, nullptr, nullptr,
                                                    0, false, false, true, false)),
              1);
    EXPECT_EQ(dt::int_get(action_eval_path_dispatch(s, &b, nullptr, nullptr, nullptr, nullptr, 0,
                                                    false, false, true, false)),
              2);
    action_eval_path_dispatch(s, &b, &three, nullptr, nullptr, nullptr, 0, false, false, true,
                              false);
    EXPECT_EQ(mold(*s), "[a 1 b 3]");
    ValueCell* path = blk({x, c}, {}, TYPE_PATH);
    EXPECT_EQ(error_of([&] {
                  action_eval_path_dispatch(s, &c, &three, path, nullptr, nullptr, 0, false,
                                            false, true, false);
              }),
              Err::script_bad_path_set);
}

TEST_F(BlockTest, ParenAndPathTextForms) {
    ValueCell* abc = blk({a, b, c}, {}, TYPE_PATH);
    EXPECT_EQ(mold(*abc), "a/b/c");
    EXPECT_EQ(form(*abc), "a/b/c");
    EXPECT_EQ(mold(*blk({a, b}, {}, TYPE_LIT_PATH)), "'a/b");
    EXPECT_EQ(mold(*blk({a, b}, {}, TYPE_SET_PATH)), "a/b:");
    EXPECT_EQ(mold(*blk({a, b}, {}, TYPE_GET_PATH)), ":a/b");
    ValueCell* paren = blk({one, two}, {}, TYPE_PAREN);
    EXPECT_EQ(mold(*paren), "(1 2)");
    EXPECT_EQ(form(*paren), "1 2");
    EXPECT_EQ(mold(*blk({one, two}, {1}, TYPE_PAREN)), "(1\n    2\n)");
    // New-line markers play no part in paths.
    EXPECT_EQ(mold(*blk({a, b}, {1}, TYPE_PATH)), "a/b");
    ValueCell* nested = blk({a, *blk({one}, {}, TYPE_PAREN)}, {}, TYPE_PATH);
    EXPECT_EQ(mold(*nested), "a/(1)");
}

TEST_F(BlockTest, MakeAndToForBlocksAndPaths) {
    ValueCell path_dt, block_dt;
    datatype_box(&path_dt, TYPE_PATH);
    datatype_box(&block_dt, TYPE_BLOCK);
    ValueCell zero = integer(0);
    ValueCell* empty = action_make_dispatch(&path_dt, &zero);
    EXPECT_EQ(empty->type(), TYPE_PATH);
    EXPECT_EQ(block_length(empty), 0);
    EXPECT_EQ(mold(*action_to_dispatch(&path_dt, blk({a, b}))), "a/b");
    EXPECT_EQ(mold(*action_to_dispatch(&block_dt, &x)), "[x]");
    EXPECT_EQ(mold(*action_make_dispatch(&block_dt, blk({a}, {}, TYPE_PAREN))), "[a]");
    EXPECT_EQ(error_of([&] { action_make_dispatch(&block_dt, &x); }), Err::script_bad_make_arg);
    ValueCell ten = integer(10);
    ValueCell* b10 = action_make_dispatch(&block_dt, &ten);
    EXPECT_EQ(b10->type(), TYPE_BLOCK);
    EXPECT_GE(series_of(b10)->size, 160u);
    ValueCell* p = blk({a, b}, {}, TYPE_PATH);
    EXPECT_EQ(error_of([&] { call({*p}, [] { action_sort(-1, -1, -1, -1, -1, -1, -1); }); }),
              Err::script_expect_arg);
}

TEST_F(BlockTest, HelpersOfTheRuntime) {
    ValueCell* s = blk({a, one, word("B", TYPE_SET_WORD), two});
    EXPECT_EQ(dt::int_get(block_select_word(s, symbol_make("b"), true)), 2);
    EXPECT_EQ(block_select_word(s, symbol_make("b"), false)->type(), TYPE_NONE);
    block_insert_value(s, &x, true, false);
    EXPECT_EQ(mold(*s), "[x a 1 B: 2]");
    ValueCell* clone = unset_push();
    ValueCell* nest = blk({*blk({a}), *blk({b}, {}, TYPE_PAREN)});
    block_clone(nest, clone, true, false);
    append(*block_head_ptr(nest), c);
    append(*(block_head_ptr(nest) + 1), c);
    EXPECT_EQ(mold(*clone), "[[a] (b c)]");
    ValueCell* parent = blk({});
    ValueCell* made = block_make_in(parent, 4);
    EXPECT_EQ(made->type(), TYPE_BLOCK);
    EXPECT_EQ(block_length(parent), 1);
}

}  // namespace
}  // namespace zan::test
