// hash!: construction, mold, copy, and lookups that stay in step with the
// cells through every action that changes the block.
#include <functional>

#include "runtime/core/hashtable.h"
#include "search_test_support.h"

namespace zan::test {
namespace {

class HashTest : public SearchTest {
protected:
    static ValueCell* H(const std::string& src) { return hash_from_block(B(src)); }

    // Runs an action that writes the frame's result cell inside a frame of
    // its own, with the hash (positioned at index) as its first argument.
    static void act(ValueCell* h, i32 index, const std::function<void(ValueCell*)>& f) {
        stack_mark_native(g_words.n.body);
        ValueCell* arg = stack_push(h);
        series_set_index(arg, index);
        f(arg);
        stack_unwind();
        stack_pop(1);
    }

    // Every cell of the buffer can be found through the index exactly where
    // a scan of the same cells finds it, forwards, with /last and backwards;
    // the table counts every cell.
    static void expect_in_step(ValueCell* h) {
        ASSERT_EQ(h->type(), TYPE_HASH);
        ASSERT_NE(h->data3, 0u);
        ValueCell view = *h;
        series_set_index(&view, 0);
        ValueCell plain = view;
        cell_set_type(&plain, TYPE_BLOCK);
        plain.data3 = 0;
        ValueCell* hv = stack_push(&view);
        ValueCell* pv = stack_push(&plain);
        i32 n = block_length(hv);
        EXPECT_EQ(static_cast<i32>(hashtable_header(h->data3)->count), n);
        for (i32 i = 0; i < n; i++) {
            ValueCell v = series_of(hv)->head_cells()[i];
            if (type_block_like(v.type())) continue;
            SCOPED_TRACE("value at " + std::to_string(i) + ": " + MV(v));
            series_set_index(hv, 0);
            series_set_index(pv, 0);
            EXPECT_EQ(find(hv, v), find(pv, v));
            EXPECT_EQ(find(hv, v, {.last = true}), find(pv, v, {.last = true}));
            EXPECT_EQ(find(hv, v, {.case_ = true}), find(pv, v, {.case_ = true}));
            series_set_index(hv, n);
            series_set_index(pv, n);
            EXPECT_EQ(find(hv, v, {.reverse = true}), find(pv, v, {.reverse = true}));
            series_set_index(hv, i);
            series_set_index(pv, i);
            EXPECT_EQ(find(hv, v, {.skip = 2}), find(pv, v, {.skip = 2}));
        }
        stack_pop(2);
    }
};

TEST_F(HashTest, SelectStaysRightAfterInsertAtTheHead) {
    ValueCell* h = H("a 1 b 2");
    EXPECT_EQ(MV(select(h, V("b"))), "2");
    act(h, 0, [](ValueCell* s) {
        ValueCell* v = B("x 9 b 0");
        action_insert_dispatch(s, v, -1, false, 1);
    });
    // The new b comes first now: select answers the first match.
    EXPECT_EQ(MV(select(h, V("b"))), "0");
    EXPECT_EQ(MV(select(h, V("a"))), "1");
    EXPECT_EQ(find(h, V("b"), {.last = true}), 6);
    expect_in_step(h);
}

TEST_F(HashTest, MoldAndForm) {
    ValueCell* h = H("a 1");
    EXPECT_EQ(M(h), "make hash! [a 1]");
    EXPECT_EQ(mold(*h, true), "a 1");
    EXPECT_EQ(form(*h), "a 1");
    EXPECT_EQ(M(H("")), "make hash! []");
}

TEST_F(HashTest, MakeAndTo) {
    ValueCell proto;
    datatype_box(&proto, TYPE_HASH);
    ValueCell spec = integer(10);
    ValueCell* h = action_make_dispatch(&proto, &spec);
    EXPECT_EQ(h->type(), TYPE_HASH);
    EXPECT_EQ(block_length(h), 0);
    EXPECT_NE(h->data3, 0u);
    float_make_at(&spec, 2.9);
    EXPECT_EQ(action_make_dispatch(&proto, &spec)->type(), TYPE_HASH);
    dt::int_box(&spec, -3);
    EXPECT_EQ(M(action_make_dispatch(&proto, &spec)), "make hash! []");

    ValueCell* src = B("p 1 q 2 p 3");
    series_set_index(src, 2);
    ValueCell* m = action_make_dispatch(&proto, src);
    EXPECT_EQ(M(m), "make hash! [q 2 p 3]");
    EXPECT_NE(m->data2, src->data2);
    expect_in_step(m);
    ValueCell* again = action_make_dispatch(&proto, m);
    EXPECT_EQ(M(again), "make hash! [q 2 p 3]");
    EXPECT_NE(again->data2, m->data2);
    expect_in_step(again);

    ValueCell* t = action_to_dispatch(&proto, B("u 1 (v)"));
    EXPECT_EQ(M(t), "make hash! [u 1 (v)]");
    expect_in_step(t);
    ValueCell one = integer(5);
    ValueCell* wrapped = action_to_dispatch(&proto, &one);
    EXPECT_EQ(M(wrapped), "make hash! [5]");
    expect_in_step(wrapped);
}

TEST_F(HashTest, CopyKeepsOnlyTheCopiedCellsInItsIndex) {
    ValueCell* h = H("a 1 b 2 a 3");
    ValueCell n = *h;
    series_set_index(&n, 1);
    ValueCell* c = action_copy_dispatch(&n, nullptr, nullptr, false, nullptr);
    ASSERT_EQ(c->type(), TYPE_HASH);
    EXPECT_EQ(M(c), "make hash! [1 b 2 a 3]");
    EXPECT_EQ(find(c, V("a")), 3);
    EXPECT_EQ(static_cast<i32>(hashtable_header(c->data3)->count), 5);
    expect_in_step(c);

    ValueCell* whole = action_copy_dispatch(h, nullptr, nullptr, false, nullptr);
    EXPECT_NE(whole->data3, h->data3);
    expect_in_step(whole);
    act(whole, 0, [](ValueCell* s) {
        ValueCell v = V("z");
        action_insert_dispatch(s, &v, -1, false, 1);
    });
    expect_in_step(whole);
    expect_in_step(h);
    EXPECT_EQ(find(h, V("a")), 0);

    ValueCell two = integer(2);
    ValueCell* part = action_copy_dispatch(h, nullptr, &two, false, nullptr);
    EXPECT_EQ(M(part), "make hash! [a 1]");
    expect_in_step(part);
    ValueCell* deep = action_copy_dispatch(H("k [1 2]"), nullptr, nullptr, true, nullptr);
    EXPECT_EQ(deep->type(), TYPE_HASH);
    expect_in_step(deep);
}

TEST_F(HashTest, SortThenFindGivesTheNewPositions) {
    ValueCell* h = H("d 4 b 2 c 3 a 1 b 5");
    sort(h, {.stable = true, .skip = 2});
    EXPECT_EQ(M(h), "make hash! [a 1 b 2 b 5 c 3 d 4]");
    EXPECT_EQ(find(h, V("c")), 6);
    EXPECT_EQ(find(h, V("b"), {.last = true}), 4);
    expect_in_step(h);
    sort(h, {.reverse = true});
    expect_in_step(h);
    ValueCell* g = H("9 8 7 6 5");
    series_set_index(g, 2);
    sort(g, {.part = -2});
    expect_in_step(g);
    series_set_index(g, 0);
    EXPECT_EQ(find(g, V("8")), 0);
    EXPECT_EQ(find(g, V("9")), 1);
}

TEST_F(HashTest, LookupsStayInStepThroughEveryChange) {
    ValueCell* h = H("a 1 b 2 c 3 a 4 \"s\" \"S\" x X");
    expect_in_step(h);
    struct Step {
        const char* name;
        i32 index;
        std::function<void(ValueCell*)> run;
    };
    const Step steps[] = {
        {"append", 0, [](ValueCell* s) { action_append_dispatch(s, B("d 5 a 6"), -1, false, 1); }},
        {"insert", 3, [](ValueCell* s) { action_insert_dispatch(s, B("e 7"), -1, false, 2); }},
        {"remove", 2,
         [](ValueCell* s) {
             ValueCell p = integer(3);
             action_remove_dispatch(s, &p, nullptr);
         }},
        {"change", 1, [](ValueCell* s) { action_change_dispatch(s, B("y y y"), -1, false, 1); }},
        {"poke", 0,
         [](ValueCell* s) {
             ValueCell v = V("q");
             action_poke_dispatch(s, 4, &v, nullptr);
         }},
        {"reverse", 0, [](ValueCell* s) { action_reverse_dispatch(s, nullptr, nullptr); }},
        {"reverse/skip", 0,
         [](ValueCell* s) {
             ValueCell p = integer(8), k = integer(2);
             action_reverse_dispatch(s, &p, &k);
         }},
        {"put", 0,
         [](ValueCell* s) {
             ValueCell k = V("b"), v = V("20");
             action_put_dispatch(s, &k, &v, false);
         }},
        {"put new", 0,
         [](ValueCell* s) {
             ValueCell k = V("new"), v = V("21");
             action_put_dispatch(s, &k, &v, false);
         }},
        {"take", 1,
         [](ValueCell* s) {
             ValueCell p = integer(2);
             action_take_dispatch(s, &p, false, false);
         }},
        {"take/last", 0, [](ValueCell* s) { action_take_dispatch(s, nullptr, false, true); }},
        {"move", 0,
         [](ValueCell* s) {
             ValueCell t = *s;
             series_set_index(&t, 4);
             ValueCell p = integer(2);
             action_move_dispatch(s, &t, &p);
         }},
        {"sort", 0, [](ValueCell* s) { sort(s); }},
        {"trim", 0,
         [](ValueCell* s) {
             ValueCell n;
             none_box(&n);
             action_poke_dispatch(s, 2, &n, nullptr);
             action_trim_dispatch(s, false, false, false, false, false, nullptr);
         }},
        {"clear", 9, [](ValueCell* s) { action_clear_dispatch(s); }},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.name);
        act(h, st.index, st.run);
        expect_in_step(h);
    }
    EXPECT_GT(block_length(h), 3);
}

TEST_F(HashTest, SwapKeepsBothIndexes) {
    ValueCell* h = H("a 1 b 2");
    ValueCell* g = H("x 9");
    act(h, 1, [&](ValueCell* s) { action_swap_dispatch(s, g); });
    EXPECT_EQ(M(h), "make hash! [a x b 2]");
    EXPECT_EQ(M(g), "make hash! [1 9]");
    expect_in_step(h);
    expect_in_step(g);
}

TEST_F(HashTest, RandomIsNotSupported) {
    ValueCell* h = H("a b c d e f");
    EXPECT_EQ(action_entry(TYPE_HASH, ACT_RANDOM), nullptr);
    EXPECT_EQ(error_of([&] { action_random_dispatch(h, false, false, false); }),
              Err::script_expect_arg);
    EXPECT_EQ(M(h), "make hash! [a b c d e f]");
}

TEST_F(HashTest, PathAccessSelectsAnyKey) {
    ValueCell* h = H("a 1 B 2 3 4");
    ValueCell e = V("b");
    EXPECT_EQ(M(block_eval_path(h, &e, nullptr, nullptr, nullptr, nullptr, 0, false, false, false,
                                false)),
              "2");
    e = V("3");
    EXPECT_EQ(M(block_eval_path(h, &e, nullptr, nullptr, nullptr, nullptr, 0, false, false, false,
                                false)),
              "B");  // an integer step picks
    ValueCell key = V("a"), nv = V("7");
    block_eval_path(h, &key, &nv, nullptr, nullptr, nullptr, 0, false, false, false, false);
    EXPECT_EQ(M(h), "make hash! [a 7 B 2 3 4]");
    expect_in_step(h);
}

TEST_F(HashTest, RegistryRow) {
    for (u32 a : {ACT_MAKE, ACT_TO, ACT_MOLD, ACT_COPY, ACT_SORT, ACT_TRIM})
        EXPECT_NE(action_entry(TYPE_HASH, a), action_entry(TYPE_BLOCK, a)) << a;
    for (u32 a : {ACT_FORM, ACT_FIND, ACT_SELECT, ACT_PUT, ACT_INSERT, ACT_APPEND, ACT_REMOVE,
                  ACT_POKE, ACT_TAKE, ACT_CLEAR, ACT_EVAL_PATH, ACT_COMPARE})
        EXPECT_EQ(action_entry(TYPE_HASH, a), action_entry(TYPE_BLOCK, a)) << a;
    EXPECT_STREQ(g_type_names[TYPE_HASH].name, "hash!");
}

TEST_F(HashTest, BuildingAndSearchingSurviveACollectionAtEveryAllocation) {
    g_gc.enabled = true;
    set_collect_stress(true);
    ValueCell* h = H("\"k1\" 1 \"k2\" 2 w 3");
    ValueCell* c = action_copy_dispatch(h, nullptr, nullptr, false, nullptr);
    sort(c, {.skip = 2});
    set_collect_stress(false);
    g_gc.enabled = false;
    EXPECT_EQ(MV(select(c, V("\"K2\""))), "2");
    expect_in_step(c);
}

}  // namespace
}  // namespace zan::test
