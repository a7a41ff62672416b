// find, select, put and path access on blocks (and on paren! and hash!,
// whose answers must be the block's).
#include "search_test_support.h"

namespace zan::test {
namespace {

class BlockSearchTest : public SearchTest {};

struct FindCase {
    const char* series;
    i32 index;        // position of the series value before the search
    const char* key;  // one token read by the test reader
    Find f;
    i32 want;  // index of the answer, -1 for none
};

// Refinement shorthands.
Find part(i32 n) {
    Find f;
    f.part = n;
    return f;
}
Find skip(i32 n) {
    Find f;
    f.skip = n;
    return f;
}

const FindCase kFind[] = {
    {"1 2 3 2 4", 0, "2", {}, 1},
    {"1 2 3 2 4", 0, "2", {.last = true}, 3},
    {"1 2 3 2 4", 5, "2", {.reverse = true}, 3},
    {"1 2 3 2 4", 3, "2", {.reverse = true}, 1},
    {"1 2 3 2 4", 1, "2", {.reverse = true}, -1},
    {"1 2 3 2 4", 0, "2", {.tail = true}, 2},
    {"1 2 3 2 4", 0, "2", {.last = true, .tail = true}, 4},
    {"1 2 3 2 4", 0, "1", {.match = true}, 0},
    {"1 2 3 2 4", 0, "2", {.match = true}, -1},
    {"1 2 3 2 4", 1, "2", {.tail = true, .match = true}, 2},
    {"1 2 3 2 4", 0, "9", {}, -1},
    {"1 2 3 2 4", 5, "4", {}, -1},                 // at the tail
    {"1 2 3 2 4", 0, "4", {.reverse = true}, -1},  // nothing before the head
    {"1 2 3 2 4", 0, "2", part(1), -1},
    {"1 2 3 2 4", 0, "2", part(2), 1},
    {"1 2 3 2 4", 0, "2", part(0), -1},
    {"1 2 1 2 1", 0, "1", {.part = 4, .last = true}, 2},
    {"1 2 1 2 1", 4, "1", {.part = 2, .reverse = true}, 2},
    {"1 2 1 2 1", 4, "1", {.part = 1, .reverse = true}, -1},
    {"a 1 b 2 1 a", 0, "1", skip(2), 4},
    {"a 1 b 2 1 a", 0, "1", {}, 1},
    {"a 1 b 2", 0, "b", {.skip = 2, .last = true}, 2},
    {"a 1 b 2", 4, "a", {.skip = 2, .reverse = true}, 0},
    {"a 1 b 2", 4, "1", {.skip = 2, .reverse = true}, -1},
    {"a b c d", 0, "[b c]", {}, 1},
    {"a b c d", 0, "[b c]", {.tail = true}, 3},
    {"a b c b c", 0, "[b c]", {.last = true}, 3},
    {"a b c b c", 5, "[b c]", {.reverse = true}, 3},
    {"a b c d", 0, "[b c]", {.only = true}, -1},
    {"a b c d", 0, "[c d e]", {}, -1},
    {"[b c] a", 0, "[b c]", {.only = true}, 0},
    {"\"a\" \"A\"", 0, "\"A\"", {}, 0},
    {"\"a\" \"A\"", 0, "\"A\"", {.case_ = true}, 1},
    {"x X", 0, "X", {}, 0},
    {"x X", 0, "X", {.case_ = true}, 1},
    {"1 2.0 3", 0, "2", {}, -1},  // key matching wants the same datatype
    {"1 2.0 3", 0, "2.0", {}, 1},
};

TEST_F(BlockSearchTest, FindTableAgreesOnBlockParenAndHash) {
    for (u32 type : {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH}) {
        for (const FindCase& c : kFind) {
            SCOPED_TRACE(std::string(datatype_name(type)) + " " + c.series + " / " + c.key);
            ValueCell* top = g_stack.top;
            ValueCell* s = B(c.series);
            if (type == TYPE_HASH) hash_from_block(s);
            else cell_set_type(s, type);
            series_set_index(s, c.index);
            EXPECT_EQ(find(s, V(c.key), c.f), c.want);
            g_stack.top = top;
        }
    }
}

TEST_F(BlockSearchTest, FindByDatatypeAndTypeset) {
    ValueCell* s = B("1 \"a\" 2.5");
    ValueCell dt;
    datatype_box(&dt, TYPE_STRING);
    EXPECT_EQ(find(s, dt), 1);
    datatype_box(&dt, TYPE_FLOAT);
    EXPECT_EQ(find(s, dt), 2);
    EXPECT_EQ(find(s, dt, {.only = true}), -1);  // /only: the datatype value itself
    ValueCell number;
    typeset_make_at(&number, 0, 0, 0);
    for (u32 t : {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT})
        typeset_add_type(&number, t);
    EXPECT_EQ(find(s, number), 0);
    EXPECT_EQ(find(s, number, {.last = true}), 2);
}

TEST_F(BlockSearchTest, FindSameWantsTheIdenticalSeries) {
    ValueCell* a = str("x");
    ValueCell* b = str("x");
    ValueCell* s = blk({*a, *b});
    EXPECT_EQ(find(s, *b), 0);
    EXPECT_EQ(find(s, *b, {.same = true}), 1);
    ValueCell moved = *b;
    series_set_index(&moved, 1);
    EXPECT_EQ(find(s, moved, {.same = true}), -1);
}

TEST_F(BlockSearchTest, AnyAndWithDoNothingOnBlocks) {
    ValueCell* s = B("a b c");
    ValueCell key = V("b");
    ValueCell wild = V("\"*\"");
    ValueCell* r = action_find_dispatch(s, &key, nullptr, false, false, false, true, &wild, nullptr,
                                        false, false, false, false);
    EXPECT_EQ(series_index(r), 1);
}

TEST_F(BlockSearchTest, FindPartMayBeAPositionInTheSameBlock) {
    ValueCell* s = B("1 2 3 2");
    ValueCell end = *s;
    series_set_index(&end, 1);
    ValueCell key = V("2");
    EXPECT_EQ(action_find_dispatch(s, &key, &end, false, false, false, false, nullptr, nullptr,
                                   false, false, false, false)
                  ->type(),
              TYPE_NONE);
    series_set_index(&end, 2);
    EXPECT_EQ(series_index(action_find_dispatch(s, &key, &end, false, false, false, false, nullptr,
                                                nullptr, false, false, false, false)),
              1);
    ValueCell* other = B("1 2");
    EXPECT_EQ(error_of([&] {
                  action_find_dispatch(s, &key, other, false, false, false, false, nullptr, nullptr,
                                       false, false, false, false);
              }),
              Err::script_invalid_refine_arg);
}

TEST_F(BlockSearchTest, FindRejectsBadSkip) {
    ValueCell* s = B("a b");
    EXPECT_EQ(error_of([&] { find(s, V("a"), skip(0)); }), Err::script_out_of_range);
    ValueCell key = V("a");
    ValueCell bad = V("\"x\"");
    EXPECT_EQ(error_of([&] {
                  action_find_dispatch(s, &key, nullptr, false, false, false, false, nullptr, &bad,
                                       false, false, false, false);
              }),
              Err::script_invalid_refine_arg);
}

TEST_F(BlockSearchTest, EmptySeriesFindsNothing) {
    ValueCell* s = B("");
    for (Find f : {Find{}, Find{.last = true}, Find{.reverse = true}, Find{.match = true}})
        EXPECT_EQ(find(s, V("a"), f), -1);
}

TEST_F(BlockSearchTest, SelectTakesTheValueAfterTheMatch) {
    ValueCell* s = B("a 1 b 2");
    EXPECT_EQ(MV(select(s, V("b"))), "2");
    EXPECT_EQ(select(s, V("2")).type(), TYPE_NONE);  // last cell: nothing after it
    EXPECT_EQ(select(B("a 1 b"), V("b")).type(), TYPE_NONE);
    EXPECT_EQ(MV(select(B("a b c d"), V("[a b]"))), "c");
    EXPECT_EQ(MV(select(B("[a b] x a b y"), V("[a b]"), {.only = true})), "x");
    EXPECT_EQ(MV(select(B("a 1 a 2"), V("a"), {.last = true})), "2");
    EXPECT_EQ(MV(select(B("a b b a"), V("b"), skip(2))), "a");
    EXPECT_EQ(select(B("a 1 b 2"), V("z")).type(), TYPE_NONE);
}

TEST_F(BlockSearchTest, PutAppendsOrOverwrites) {
    for (u32 type : {TYPE_BLOCK, TYPE_HASH}) {
        SCOPED_TRACE(datatype_name(type));
        ValueCell* s = B("a 1");
        if (type == TYPE_HASH) hash_from_block(s);
        ValueCell k = V("b"), v = V("2");
        EXPECT_EQ(M(action_put_dispatch(s, &k, &v, false)), "2");
        EXPECT_EQ(M(s), type == TYPE_HASH ? "make hash! [a 1 b 2]" : "[a 1 b 2]");
        k = V("A");
        v = V("3");
        action_put_dispatch(s, &k, &v, false);  // found up to case: overwritten
        EXPECT_EQ(block_length(s), 4);
        EXPECT_EQ(MV(select(s, V("a"))), "3");
        action_put_dispatch(s, &k, &v, true);  // /case: a new key
        EXPECT_EQ(block_length(s), 6);
        k = V("[x]");
        action_put_dispatch(s, &k, &v, false);
        action_put_dispatch(s, &k, &v, false);  // a block key is one value
        EXPECT_EQ(block_length(s), 8);
        EXPECT_EQ(MV(select(s, V("b"))), "2");
    }
    ValueCell* s = B("a 1 b");
    ValueCell k = V("b"), v = V("5");
    action_put_dispatch(s, &k, &v, false);
    EXPECT_EQ(M(s), "[a 1 b 5]");
}

TEST_F(BlockSearchTest, PathStepsGetAndSet) {
    ValueCell* s = B("a 1 B 2 \"k\" 3");
    ValueCell e = V("2");
    EXPECT_EQ(M(block_eval_path(s, &e, nullptr, nullptr, nullptr, nullptr, 0, false, false, false,
                                false)),
              "1");
    e = V("b");
    EXPECT_EQ(M(block_eval_path(s, &e, nullptr, nullptr, nullptr, nullptr, 0, false, false, false,
                                false)),
              "2");
    EXPECT_EQ(
        block_eval_path(s, &e, nullptr, nullptr, nullptr, nullptr, 0, true, false, false, false)
            ->type(),
        TYPE_NONE);
    e = V("\"K\"");
    EXPECT_EQ(M(block_eval_path(s, &e, nullptr, nullptr, nullptr, nullptr, 0, false, false, false,
                                false)),
              "3");
    ValueCell nv = V("9");
    block_eval_path(s, &e, &nv, nullptr, nullptr, nullptr, 0, false, false, false, false);
    EXPECT_EQ(M(s), "[a 1 B 2 \"k\" 9]");
    e = V("zz");
    EXPECT_EQ(error_of([&] {
                  block_eval_path(s, &e, &nv, nullptr, nullptr, nullptr, 0, false, false, false,
                                  false);
              }),
              Err::script_bad_path_set);
}

TEST_F(BlockSearchTest, SearchSurvivesACollectionAtEveryAllocation) {
    g_gc.enabled = true;
    set_collect_stress(true);
    ValueCell* s = B("a 1 b 2 c 3 b 4");
    hash_from_block(s);
    EXPECT_EQ(find(s, V("b"), {.last = true}), 6);
    EXPECT_EQ(MV(select(s, V("c"))), "3");
    ValueCell k = V("d"), v = V("5");
    action_put_dispatch(s, &k, &v, false);
    EXPECT_EQ(find(s, V("d")), 8);
    set_collect_stress(false);
}

}  // namespace
}  // namespace zan::test
