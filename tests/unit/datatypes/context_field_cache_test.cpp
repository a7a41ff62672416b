// The remembered word positions of contexts: the answer is always the
// word table's, for every spelling and across growth, and an entry whose
// position no longer holds its word (a context node given to another
// context, a position past the table's end) is not trusted.
#include "dt_test_support.h"
#include "runtime/datatypes/context_field_cache.h"

namespace zan::test {
namespace {

class ContextFieldCacheTest : public DtTest {
protected:
    // A context of the words, kept where the collector sees it.
    static Node context_of_words(std::initializer_list<const char*> names) {
        ValueCell* spec = block_push_new(static_cast<u32>(names.size()));
        for (const char* n : names) {
            ValueCell w = word(n);
            block_append_cell(spec, &w);
        }
        Node ctx = context_make_from_block(spec, false, false, CTX_OBJECT);
        ValueCell* c = unset_push();
        cell_init(c, TYPE_OBJECT, ctx);
        return ctx;
    }
    static i32 table_answer(Node ctx, u32 symbol) {
        return context_find_word(context_cell(ctx), symbol, true);
    }
};

TEST_F(ContextFieldCacheTest, AnswersWhatTheWordTableAnswersForEverySpelling) {
    Node ctx = context_of_words({"alpha", "beta", "gamma"});
    for (const char* name : {"alpha", "beta", "gamma", "BETA", "Gamma", "delta"}) {
        u32 sym = symbol_make(name);
        // The first lookup fills the entry, the second is answered by it.
        for (int round = 0; round < 2; round++)
            EXPECT_EQ(context_field_index(ctx, sym), table_answer(ctx, sym)) << name << round;
    }
    EXPECT_EQ(context_field_index(ctx, symbol_make("BETA")), 1);
    EXPECT_EQ(context_field_index(ctx, symbol_make("delta")), -1);
}

TEST_F(ContextFieldCacheTest, PositionsStayRightWhenTheContextGrows) {
    Node ctx = context_of_words({"x", "y"});
    u32 y = symbol_make("y");
    u32 z = symbol_make("z");
    EXPECT_EQ(context_field_index(ctx, y), 1);
    EXPECT_EQ(context_field_index(ctx, z), -1);
    ValueCell wz = word("z");
    context_add_word(context_cell(ctx), &wz);
    EXPECT_EQ(context_field_index(ctx, y), 1);
    EXPECT_EQ(context_field_index(ctx, z), 2);
}

TEST_F(ContextFieldCacheTest, AnEntryWhosePositionHoldsAnotherWordIsNotTrusted) {
    Node first = context_of_words({"x", "y"});
    Node second = context_of_words({"y", "x"});
    u32 x = symbol_make("x");
    EXPECT_EQ(context_field_index(first, x), 0);
    // What an entry left by a context whose node another context now has
    // looks like: the node and spelling match, the position is the old one.
    FieldCacheEntry& e = field_cache_entry(second, x);
    e = FieldCacheEntry{second, x, 0, x};
    EXPECT_EQ(context_field_index(second, x), 1);
    // A position past the end of the table.
    e = FieldCacheEntry{second, x, 40, x};
    EXPECT_EQ(context_field_index(second, x), 1);
    EXPECT_EQ(context_field_index(first, x), 0);
}

TEST_F(ContextFieldCacheTest, ManyContextsSharingTheirEntriesEachGetTheirOwnPositions) {
    // More pairs than entries: they overwrite each other's.
    std::vector<Node> contexts;
    for (int i = 0; i < 700; i++)
        contexts.push_back(i % 3 == 0   ? context_of_words({"x", "y", "z"})
                           : i % 3 == 1 ? context_of_words({"z", "x"})
                                        : context_of_words({"y", "z", "w", "x"}));
    u32 x = symbol_make("x");
    for (int round = 0; round < 2; round++)
        for (size_t i = 0; i < contexts.size(); i++)
            ASSERT_EQ(context_field_index(contexts[i], x), i % 3 == 0 ? 0 : i % 3 == 1 ? 1 : 3)
                << i;
}

}  // namespace
}  // namespace zan::test
