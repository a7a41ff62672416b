// The set operations (unique, union, intersect, exclude, difference) on
// blocks, hash! and text, with /case and /skip.
#include "search_test_support.h"

namespace zan::test {
namespace {

class SetOpTest : public SearchTest {
protected:
    // Runs the block set operation as the natives do: the series in the
    // argument frame, the answer in its result cell.
    static ValueCell block_op(i32 op, ValueCell* a, ValueCell* b, bool case_ = false,
                              std::optional<i32> skip = std::nullopt) {
        ValueCell sk;
        ValueCell* skip_cell = icell(skip, &sk);
        stack_mark_native(g_words.n.body);
        stack_push(a);
        if (b) stack_push(b);
        block_set_op(case_, skip_cell, op);
        ValueCell r = *stack_result();
        stack_unwind();
        stack_pop(1);
        return r;
    }
};

struct BlockSetCase {
    i32 op;
    const char* a;
    const char* b;
    bool case_;
    std::optional<i32> skip;
    const char* want;
};

const BlockSetCase kBlockSets[] = {
    {SET_OP_UNIQUE, "1 2 1 3 2", "", false, std::nullopt, "[1 2 3]"},
    {SET_OP_UNION, "1 2", "2 3", false, std::nullopt, "[1 2 3]"},
    {SET_OP_DIFFERENCE, "1 2", "2 3", false, std::nullopt, "[1 3]"},
    {SET_OP_INTERSECT, "1 2 3 1", "3 2 4", false, std::nullopt, "[2 3]"},
    {SET_OP_EXCLUDE, "1 2 3 1", "2", false, std::nullopt, "[1 3]"},
    {SET_OP_UNIQUE, "\"a\" \"A\" b B", "", false, std::nullopt, "[\"a\" b]"},
    {SET_OP_UNIQUE, "\"a\" \"A\" b B", "", true, std::nullopt, "[\"a\" \"A\" b B]"},
    {SET_OP_INTERSECT, "\"a\" x", "\"A\"", false, std::nullopt, "[\"a\"]"},
    {SET_OP_INTERSECT, "\"a\" x", "\"A\"", true, std::nullopt, "[]"},
    {SET_OP_UNIQUE, "a 1 a 2 b 3", "", false, 2, "[a 1 b 3]"},
    {SET_OP_UNION, "a 1 b 2", "b 3 c 4", false, 2, "[a 1 b 2 c 4]"},
    {SET_OP_INTERSECT, "a 1 b 2", "a 3 c 4", false, 2, "[a 1]"},
    {SET_OP_EXCLUDE, "a 1 b 2", "a 3 c 4", false, 2, "[b 2]"},
    {SET_OP_DIFFERENCE, "a 1 b 2", "a 3 c 4", false, 2, "[b 2 c 4]"},
    {SET_OP_INTERSECT, "a 1 b 2", "1 a", false, 2, "[]"},  // values are not keys
    {SET_OP_UNIQUE, "a 1 b", "", false, 2, "[a 1 b]"},     // a short last record
    {SET_OP_UNIQUE, "[1] [1] [2] 1", "", false, std::nullopt, "[[1] [2] 1]"},
    {SET_OP_INTERSECT, "[1] x [2]", "[2] [1]", false, std::nullopt, "[[1] [2]]"},
    {SET_OP_EXCLUDE, "[1] x", "[1]", false, std::nullopt, "[x]"},
    {SET_OP_UNION, "", "", false, std::nullopt, "[]"},
};

TEST_F(SetOpTest, BlockTable) {
    for (const BlockSetCase& c : kBlockSets) {
        SCOPED_TRACE(std::string(c.a) + " | " + c.b);
        ValueCell* a = B(c.a);
        ValueCell* b = B(c.b);
        ValueCell r = block_op(c.op, a, c.op == SET_OP_UNIQUE ? nullptr : b, c.case_, c.skip);
        EXPECT_EQ(r.type(), TYPE_BLOCK);
        EXPECT_EQ(series_index(&r), 0);
        EXPECT_EQ(r.data3, 0u);
        EXPECT_EQ(MV(r), c.want);
    }
}

TEST_F(SetOpTest, BlocksFromTheirIndexAndOfTheirOwnType) {
    ValueCell* a = B("1 2 3", TYPE_PAREN);
    series_set_index(a, 1);
    ValueCell* b = B("9 3 4");
    series_set_index(b, 2);
    ValueCell r = block_op(SET_OP_UNION, a, b);
    EXPECT_EQ(MV(r), "(2 3 4)");
    series_set_index(a, 7);  // past the tail: nothing from a
    r = block_op(SET_OP_UNION, a, b);
    EXPECT_EQ(MV(r), "(4)");
}

TEST_F(SetOpTest, AHashArgumentMakesAHashWithAWorkingIndex) {
    ValueCell* h = B("c 1 d 2");
    hash_from_block(h);
    ValueCell* blk2 = B("a 1 c 9");
    // The second argument is a hash!: its index answers membership and the
    // result is a hash!.
    ValueCell r = block_op(SET_OP_INTERSECT, blk2, h, false, 2);
    ASSERT_EQ(r.type(), TYPE_HASH);
    EXPECT_EQ(MV(r), "make hash! [c 9]");
    ValueCell* rs = stack_push(&r);
    EXPECT_EQ(find(rs, V("9")), 1);  // every cell is indexed, not only the keys
    r = block_op(SET_OP_UNIQUE, B("x y x"), h);
    EXPECT_EQ(r.type(), TYPE_BLOCK);  // unique looks at its first argument only
    r = block_op(SET_OP_UNION, h, B("e 3"), false, 2);
    ASSERT_EQ(r.type(), TYPE_HASH);
    rs = stack_push(&r);
    EXPECT_EQ(MV(select(rs, V("e"))), "3");
    EXPECT_EQ(MV(select(rs, V("d"))), "2");
}

TEST_F(SetOpTest, BadArguments) {
    ValueCell* a = B("1 2");
    EXPECT_EQ(error_of([&] { block_op(SET_OP_UNIQUE, a, nullptr, false, 0); }),
              Err::script_invalid_refine_arg);
    ValueCell* s = str("x");
    EXPECT_EQ(error_of([&] { block_op(SET_OP_UNION, a, s); }), Err::script_invalid_arg);
}

TEST_F(SetOpTest, BlockSetsSurviveACollectionAtEveryAllocation) {
    ValueCell* a = B("\"p\" 1 \"q\" 2 [r] 3 \"p\" 4");
    ValueCell* b = B("\"Q\" 0 [r] 0");
    g_gc.enabled = true;
    set_collect_stress(true);
    ValueCell r = block_op(SET_OP_EXCLUDE, a, b, false, 2);
    set_collect_stress(false);
    g_gc.enabled = false;
    EXPECT_EQ(MV(r), "[\"p\" 1]");
}

// ---- text
// -----------------------------------------------------------------------------------------

struct TextSetCase {
    i32 op;
    const char* a;
    const char* b;
    bool case_;
    std::optional<i32> skip;
    const char* want;
};

const TextSetCase kTextSets[] = {
    {SET_OP_UNIQUE, "abcab", "", false, std::nullopt, "abc"},
    {SET_OP_UNION, "ab", "bc", false, std::nullopt, "abc"},
    {SET_OP_INTERSECT, "abca", "cbx", false, std::nullopt, "bc"},
    {SET_OP_EXCLUDE, "abca", "b", false, std::nullopt, "ac"},
    {SET_OP_DIFFERENCE, "ab", "bc", false, std::nullopt, "ac"},
    {SET_OP_UNIQUE, "aAbB", "", false, std::nullopt, "ab"},
    {SET_OP_UNIQUE, "aAbB", "", true, std::nullopt, "aAbB"},
    {SET_OP_INTERSECT, "aB", "AC", false, std::nullopt, "a"},
    {SET_OP_INTERSECT, "aB", "AC", true, std::nullopt, ""},
    {SET_OP_UNIQUE, "a1a2b3", "", false, 2, "a1b3"},
    {SET_OP_UNION, "a1b2", "B3c4", false, 2, "a1b2c4"},
    {SET_OP_INTERSECT, "a1b2", "1a", false, 2, ""},
    {SET_OP_DIFFERENCE, "a1b2", "a3c4", false, 2, "b2c4"},
    {SET_OP_UNION, "", "", false, std::nullopt, ""},
};

TEST_F(SetOpTest, TextTableInEveryUnitWidth) {
    for (u32 unit : {1u, 2u, 4u}) {
        for (const TextSetCase& c : kTextSets) {
            SCOPED_TRACE(std::string(c.a) + " | " + c.b + " unit " + std::to_string(unit));
            ValueCell sk;
            ValueCell* r =
                string_set_op(S(c.a, unit), S(c.b, unit), c.case_, icell(c.skip, &sk), c.op);
            EXPECT_EQ(r->type(), TYPE_STRING);
            EXPECT_EQ(text(r), c.want);
        }
    }
}

TEST_F(SetOpTest, TextFoldsBeyondAsciiAndKeepsItsType) {
    ValueCell* r = string_set_op(S("ΣσΣxX"), S(""), false, nullptr, SET_OP_UNIQUE);
    EXPECT_EQ(text(r), "Σx");
    r = string_set_op(S("ÄbÖ"), S("öä"), false, nullptr, SET_OP_INTERSECT);
    EXPECT_EQ(text(r), "ÄÖ");
    r = string_set_op(S("a/b", 1, TYPE_FILE), S("b/c"), false, nullptr, SET_OP_UNION);
    EXPECT_EQ(r->type(), TYPE_FILE);
    EXPECT_EQ(text(r), "a/bc");
    ValueCell* wide = S("a😀b");
    r = string_set_op(S("xa"), wide, false, nullptr, SET_OP_UNION);
    EXPECT_EQ(text(r), "xa😀b");
    EXPECT_EQ(unit_of(r), 4u);
    ValueCell bad;
    dt::int_box(&bad, 0);
    EXPECT_EQ(error_of([&] { string_set_op(S("a"), S("b"), false, &bad, SET_OP_UNION); }),
              Err::script_invalid_refine_arg);
}

}  // namespace
}  // namespace zan::test
