// sort on blocks: the default order, /case, /skip records, /all, /part,
// /reverse, /stable, an integer /compare offset and a user function.
#include <algorithm>
#include <random>

#include "search_test_support.h"

namespace zan::test {
namespace {

class BlockSortTest : public SearchTest {};

struct SortCase {
    const char* series;
    Sort o;
    const char* want;  // the molded block
};

const SortCase kSort[] = {
    {"c a b", {}, "[a b c]"},
    {"c a b", {.reverse = true}, "[c b a]"},
    {"3 1 2.5 -4", {}, "[-4 1 2.5 3]"},
    {"\"b\" \"A\" \"a\" \"B\"", {.stable = true}, "[\"A\" \"a\" \"b\" \"B\"]"},
    {"\"b\" \"A\" \"a\" \"B\"", {.case_ = true}, "[\"A\" \"B\" \"a\" \"b\"]"},
    {"\"b\" \"A\" \"a\" \"B\"", {.case_ = true, .stable = true}, "[\"A\" \"B\" \"a\" \"b\"]"},
    {"b \"a\" 1", {}, "[\"a\" 1 b]"},  // not comparable: by datatype
    {"b 2 a 1", {.skip = 2}, "[a 1 b 2]"},
    {"b 2 a 1", {.reverse = true, .skip = 2}, "[b 2 a 1]"},
    {"a 2 a 1", {.stable = true, .skip = 2}, "[a 2 a 1]"},
    {"a 2 a 1", {.all = true, .skip = 2}, "[a 1 a 2]"},
    {"b 2 a 1 c 0", {.skip = 2, .offset = 2}, "[c 0 a 1 b 2]"},
    {"2 x 1 y 2 z 1 w", {.stable = true, .skip = 2}, "[1 y 1 w 2 x 2 z]"},
    {"3 2 1", {.part = 2}, "[2 3 1]"},
    {"3 2 1", {.part = 0}, "[3 2 1]"},
    {"[2 b] [1 c] [2 a]", {}, "[[1 c] [2 a] [2 b]]"},
    {"", {}, "[]"},
};

TEST_F(BlockSortTest, SortTable) {
    for (const SortCase& c : kSort) {
        SCOPED_TRACE(c.series);
        ValueCell* s = B(c.series);
        ValueCell* r = sort(s, c.o);
        EXPECT_EQ(series_index(r), 0);
        EXPECT_EQ(M(s), c.want);
    }
}

TEST_F(BlockSortTest, SortAnnouncesToTheOwner) {
    ValueCell* s = B("2 1");
    AnnounceRecorder rec(s);
    sort(s);
    EXPECT_EQ(announced(), (std::vector<std::string>{"sort", "sorted"}));
    ValueCell* t = S("ba");
    AnnounceRecorder rec2(t);
    sort(t);
    EXPECT_EQ(announced(), (std::vector<std::string>{"sort", "sorted"}));
}

TEST_F(BlockSortTest, ParenSortsLikeABlock) {
    ValueCell* s = B("3 1 2", TYPE_PAREN);
    sort(s);
    EXPECT_EQ(M(s), "(1 2 3)");
}

TEST_F(BlockSortTest, SortsFromTheIndexAndNegativePartSortsBehindIt) {
    ValueCell* s = B("9 8 3 1 2");
    series_set_index(s, 2);
    sort(s);
    series_set_index(s, 0);
    EXPECT_EQ(M(s), "[9 8 1 2 3]");

    ValueCell* t = B("4 3 2 1");
    series_set_index(t, 2);
    ValueCell* r = sort(t, {.part = -2});
    EXPECT_EQ(series_index(r), 0);
    series_set_index(t, 0);
    EXPECT_EQ(M(t), "[3 4 2 1]");

    ValueCell* u = B("4 3 2 1");
    series_set_index(u, 1);
    ValueCell* back = sort(u, {.part = -5});  // not below the head
    EXPECT_EQ(series_index(back), 0);
    series_set_index(u, 0);
    EXPECT_EQ(M(u), "[4 3 2 1]");

    ValueCell* w = B("4 3 2 1");
    ValueCell end = *w;
    series_set_index(&end, 3);
    action_sort_dispatch(w, false, nullptr, nullptr, &end, false, false, false);
    EXPECT_EQ(M(w), "[2 3 4 1]");
}

TEST_F(BlockSortTest, RefinementErrors) {
    ValueCell* s = B("1 2 3");
    EXPECT_EQ(error_of([&] { sort(s, {.skip = 2}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { sort(s, {.skip = 0}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { sort(s, {.skip = 4}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { sort(B("1 2"), {.all = true}); }), Err::script_bad_refines);
    ValueCell* r = B("b 2 a 1");
    EXPECT_EQ(error_of([&] { sort(r, {.skip = 2, .offset = 3}); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { sort(r, {.skip = 2, .offset = 0}); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { sort(r, {.offset = 1}); }), Err::script_bad_refines);
    EXPECT_EQ(error_of([&] { sort(r, {.all = true, .skip = 2, .offset = 1}); }),
              Err::script_bad_refines);
    ValueCell bad = V("\"x\"");
    EXPECT_EQ(error_of([&] { sort(r, {.comparator = &bad}); }), Err::script_invalid_refine_arg);
    ValueCell other = *B("1");
    EXPECT_EQ(error_of([&] {
                  action_sort_dispatch(r, false, nullptr, nullptr, &other, false, false, false);
              }),
              Err::script_invalid_refine_arg);
    EXPECT_EQ(M(r), "[b 2 a 1]");
}

TEST_F(BlockSortTest, LargeSortsMatchTheStandardOrder) {
    std::mt19937 rng(7);
    std::vector<i32> values(3000);
    for (i32& v : values)
        v = static_cast<i32>(rng() % 500) - 250;
    for (bool stable : {false, true}) {
        ValueCell* s = block_push_new(static_cast<u32>(values.size()));
        for (i32 v : values) {
            ValueCell c = integer(v);
            block_append_cell(s, &c);
        }
        sort(s, {.reverse = true, .stable = stable});
        std::vector<i32> want = values;
        std::sort(want.begin(), want.end(), std::greater<i32>());
        for (size_t i = 0; i < want.size(); i++)
            ASSERT_EQ(dt::int_get(block_head_ptr(s) + i), want[i]) << i;
    }
}

// A block of 64 or more strings of byte units is sorted through records
// keyed by the first eight folded bytes; the order must be the compare
// action's, which a sort of one-cell records with /all takes cell by cell.
// The texts share long prefixes in mixed case (ties of the keys), hold
// Latin-1 letters and a NUL, and some start past their head.
TEST_F(BlockSortTest, ByteTextsSortAsTheCompareActionOrdersThem) {
    std::mt19937 rng(36);
    const char* pieces[] = {"a", "A", "b", "B", "\u00E9", "\u00C9", "z", "^@", "abcdefgh", "ABCDEFGH"};
    std::string src;
    for (int i = 0; i < 300; i++) {
        std::string t;
        for (u32 k = rng() % 6; k > 0; k--) t += pieces[rng() % 10];
        src += "\"" + t + "\" ";
    }
    for (Sort o : {Sort{}, Sort{.case_ = true}, Sort{.reverse = true},
                   Sort{.case_ = true, .reverse = true}}) {
        SCOPED_TRACE(testing::Message() << "case " << o.case_ << " reverse " << o.reverse);
        ValueCell* fast = B(src);
        ValueCell* cellwise = B(src);
        for (i32 i = 0; i < block_length(fast); i += 7) {
            series_set_index(block_head_ptr(fast) + i, 1);
            series_set_index(block_head_ptr(cellwise) + i, 1);
        }
        sort(fast, o);
        Sort by_cell = o;
        by_cell.all = true;
        by_cell.skip = 1;
        sort(cellwise, by_cell);
        EXPECT_EQ(M(fast), M(cellwise));
    }
}

// ---- user functions --------------------------------------------------------------------------

TEST_F(BlockSortTest, FunctionAnsweringTrueForFirstFirstSortsThatWay) {
    Comparator greater = [](const ValueCell& a, const ValueCell& b, ValueCell* out) {
        logic_box(out, dt::int_get(&a) > dt::int_get(&b));
    };
    use_comparator(&greater);
    ValueCell* fn = make_function();
    for (bool stable : {false, true}) {
        ValueCell* s = B("1 3 2 5 4");
        sort(s, {.stable = stable, .comparator = fn});
        EXPECT_EQ(M(s), "[5 4 3 2 1]");
        sort(s, {.reverse = true, .stable = stable, .comparator = fn});
        EXPECT_EQ(M(s), "[1 2 3 4 5]");
    }
}

TEST_F(BlockSortTest, FunctionResultsMapToAnOrder) {
    struct Case {
        ValueCell answer;
        i32 want;
    };
    ValueCell t, f, n, fl, neg, str1;
    logic_box(&t, true);
    logic_box(&f, false);
    none_box(&n);
    float_make_at(&fl, -0.5);
    dt::int_box(&neg, -7);
    str1 = V("\"x\"");
    for (const Case& c :
         {Case{t, -1}, Case{f, 1}, Case{n, 1}, Case{fl, -1}, Case{neg, -1}, Case{str1, -1}})
        EXPECT_EQ(sort_function_answer(&c.answer), c.want);
}

TEST_F(BlockSortTest, FunctionOnWholeRecordsGetsRecordBlocks) {
    std::vector<std::string> seen;
    Comparator by_second = [&](const ValueCell& a, const ValueCell& b, ValueCell* out) {
        EXPECT_EQ(a.type(), TYPE_BLOCK);
        EXPECT_EQ(block_length(&a), 2);
        seen.push_back(M(&a));
        logic_box(out, dt::int_get(block_head_ptr(&a) + 1) < dt::int_get(block_head_ptr(&b) + 1));
    };
    use_comparator(&by_second);
    ValueCell* fn = make_function();
    ValueCell* s = B("x 3 y 1 z 2");
    sort(s, {.all = true, .skip = 2, .comparator = fn});
    EXPECT_EQ(M(s), "[y 1 z 2 x 3]");
    EXPECT_FALSE(seen.empty());
}

TEST_F(BlockSortTest, FunctionGetsUnusedRefinementValues) {
    Comparator check = [](const ValueCell& a, const ValueCell& b, ValueCell* out) {
        // a b /only x /local y: two arguments, then false none, false none.
        ValueCell* base = g_stack.base;
        EXPECT_EQ(g_stack.top - base, 6);
        EXPECT_EQ(base[2].type(), TYPE_LOGIC);
        EXPECT_EQ(base[3].type(), TYPE_NONE);
        EXPECT_EQ(base[4].type(), TYPE_LOGIC);
        EXPECT_EQ(base[5].type(), TYPE_NONE);
        logic_box(out, dt::int_get(&a) < dt::int_get(&b));
    };
    use_comparator(&check);
    ValueCell* fn = make_function("a b /only x /local y");
    ValueCell* s = B("2 1");
    sort(s, {.comparator = fn});
    EXPECT_EQ(M(s), "[1 2]");
}

TEST_F(BlockSortTest, AnErrorInTheFunctionLeavesAPermutationAndTheCollectorOn) {
    int calls = 0;
    Comparator failing = [&](const ValueCell& a, const ValueCell& b, ValueCell* out) {
        if (++calls == 5) fire(Err::script_invalid_arg, &a);
        logic_box(out, dt::int_get(&a) < dt::int_get(&b));
    };
    use_comparator(&failing);
    ValueCell* fn = make_function();
    for (bool stable : {false, true}) {
        calls = 0;
        ValueCell* s = B("5 1 4 2 3 9 7 8 6 0");
        g_gc.enabled = true;
        EXPECT_EQ(error_of([&] { sort(s, {.stable = stable, .comparator = fn}); }),
                  Err::script_invalid_arg);
        EXPECT_TRUE(g_gc.enabled);
        g_gc.enabled = false;
        std::vector<i32> got;
        for (i32 i = 0; i < block_length(s); i++)
            got.push_back(dt::int_get(block_head_ptr(s) + i));
        std::sort(got.begin(), got.end());
        for (i32 i = 0; i < 10; i++)
            EXPECT_EQ(got[static_cast<size_t>(i)], i);
    }
}

TEST_F(BlockSortTest, FunctionThatGrowsTheBlockCannotBreakTheSort) {
    ValueCell* s = B("3 1 2");
    Comparator growing = [&](const ValueCell& a, const ValueCell& b, ValueCell* out) {
        ValueCell junk = V("junk");
        block_append_cell(s, &junk);  // makes the buffer grow elsewhere
        logic_box(out, dt::int_get(&a) > dt::int_get(&b));
    };
    use_comparator(&growing);
    ValueCell* fn = make_function();
    g_gc.enabled = true;
    sort(s, {.comparator = fn});
    EXPECT_TRUE(g_gc.enabled);
    g_gc.enabled = false;
    ASSERT_GT(block_length(s), 3);
    EXPECT_EQ(M(block_head_ptr(s)), "3");
    EXPECT_EQ(M(block_head_ptr(s) + 1), "2");
    EXPECT_EQ(M(block_head_ptr(s) + 2), "1");
    EXPECT_EQ(M(block_head_ptr(s) + 3), "junk");
}

}  // namespace
}  // namespace zan::test
