// The entries that code compiled ahead of time calls in place of the walker:
// stores into a context by position, the word forms' set and get on the
// argument frame, insert and append of one value, the truth test of the top
// of the stack and scanning a string argument. Each is checked through what
// it leaves in the cells it writes.
#include "dt_test_support.h"

namespace zan::test {
namespace {

class CompiledCodeEntriesTest : public DtTest {};

TEST_F(CompiledCodeEntriesTest, ContextStoresByPositionMarkTheWordAssigned) {
    Node ctx = context_make_from_block(blk({word("p"), word("q")}), false, false, CTX_OBJECT);
    cell_init(unset_push(), TYPE_OBJECT, ctx);
    ValueCell seven = integer(7), eight = integer(8), nine = integer(9);

    stack_push(&seven);
    context_store_at(ctx, 1);
    EXPECT_EQ(dt::int_get(context_value_at(ctx, 1)), 7);
    EXPECT_TRUE(context_word_at(ctx, 1)->header & WORD_ASSIGNED);
    EXPECT_FALSE(context_word_at(ctx, 0)->header & WORD_ASSIGNED);

    stack_push(&eight);
    context_store_at_keep_old(ctx, 1);
    EXPECT_EQ(dt::int_get(context_value_at(ctx, 1)), 8);
    EXPECT_EQ(dt::int_get(stack_top_value()), 7);  // the old value, pushed

    stack_mark_native(g_words.n.body);
    stack_push(&nine);
    context_store_result_at(ctx, 0);
    stack_unwind();
    EXPECT_EQ(dt::int_get(context_value_at(ctx, 0)), 9);
    EXPECT_TRUE(context_word_at(ctx, 0)->header & WORD_ASSIGNED);

    // A function's context holds no values outside a call of it.
    Node fn = context_make_from_block(blk({word("arg")}), true, false, CTX_FUNCTION);
    cell_init(unset_push(), TYPE_OBJECT, fn);
    stack_push(&seven);
    EXPECT_EQ(error_of([&] { context_store_at(fn, 0); }), Err::script_not_defined);
}

TEST_F(CompiledCodeEntriesTest, WordSetAndGetFormsOnTheArgumentFrame) {
    ValueCell w = *word_load("compiled-entry-word");
    ValueCell five = integer(5);
    struct Case {
        const char* name;
        void (*set)();
    };
    const Case sets[] = {{"lit-word", lit_word_set}, {"set-word", set_word_set},
                         {"get-word", get_word_set}, {"refinement", refinement_set}};
    for (const Case& c : sets) {
        SCOPED_TRACE(c.name);
        stack_mark_native(g_words.n.body);
        stack_push(&w);
        stack_push(&five);
        c.set();
        EXPECT_EQ(dt::int_get(stack_result()), 5);
        stack_unwind();
        EXPECT_EQ(dt::int_get(context_get(&w)), 5);
        // These forms take an unset value as it is.
        stack_mark_native(g_words.n.body);
        stack_push(&w);
        unset_push();
        c.set();
        stack_unwind();
        EXPECT_EQ(context_get(&w)->type(), TYPE_UNSET);
        context_set(&w, &five);
    }
    ValueCell eleven = integer(11);
    context_set(&w, &eleven);
    for (void (*get)() : {lit_word_get, set_word_get, refinement_get}) {
        stack_mark_native(g_words.n.body);
        stack_push(&w);
        get();
        EXPECT_EQ(dt::int_get(stack_result()), 11);
        stack_unwind();
    }
}

TEST_F(CompiledCodeEntriesTest, StoreResultNameAndSymbolOfAWord) {
    ValueCell slot = integer(0);
    ValueCell three = integer(3);
    stack_mark_native(g_words.n.body);
    stack_push(&three);
    word_store_result(&slot);
    EXPECT_EQ(dt::int_get(&slot), 3);
    stack_unwind();
    EXPECT_EQ(error_of([&] {
                  stack_mark_native(g_words.n.body);
                  unset_push();
                  word_store_result(&slot);
              }),
              Err::script_need_value);
    EXPECT_EQ(dt::int_get(&slot), 3);  // left as it was

    ValueCell w = *word_load("Spelled-Thus");
    ValueCell* name = word_push_name(&w);
    ASSERT_EQ(name->type(), TYPE_STRING);
    EXPECT_EQ(text(name), "Spelled-Thus");
    ValueCell* entry = word_symbol_entry(&w);
    ASSERT_EQ(entry->type(), TYPE_SYMBOL);
    EXPECT_EQ(entry, symbol_entry(word_symbol(&w)));
}

TEST_F(CompiledCodeEntriesTest, InsertAndAppendTheArgumentIntoTheBlockBelowTheFrame) {
    ValueCell* b = blk({integer(1), integer(2)});
    ValueCell zero = integer(0), three = integer(3);
    struct Step {
        void (*entry)();
        const ValueCell* value;
    };
    for (const Step& step : {Step{block_insert_from_stack, &zero},
                             Step{block_append_from_stack, &three}}) {
        stack_push(b);  // the block below the frame: the same series as b
        stack_mark_native(g_words.n.body);
        stack_push(step.value);
        step.entry();
        stack_unwind();
    }
    ASSERT_EQ(block_length(b), 4);
    for (int i = 0; i < 4; i++) EXPECT_EQ(dt::int_get(block_cell_at(b, i)), i);
}

TEST_F(CompiledCodeEntriesTest, TruthOfTheTopOfTheStack) {
    struct Case {
        ValueCell value;
        bool truth;
    };
    ValueCell none, unset;
    cell_init(&none, TYPE_NONE);
    cell_init(&unset, TYPE_UNSET);
    const Case cases[] = {{g_true_cell, true}, {g_false_cell, false}, {none, false},
                          {integer(0), true},  {unset, true},        {chr('a'), true}};
    for (const Case& c : cases) {
        stack_push(&c.value);
        EXPECT_EQ(logic_top_true_q(), c.truth) << mold(c.value);
        EXPECT_EQ(logic_top_false_q(), !c.truth) << mold(c.value);
    }
}

TEST_F(CompiledCodeEntriesTest, ScanStringArgumentAndResetAfterASlotStore) {
    struct Case {
        const char* source;
        u32 type;
    };
    const Case cases[] = {{"42", TYPE_INTEGER}, {" 42 ", TYPE_INTEGER}, {"", TYPE_UNSET}};
    for (const Case& c : cases) {
        stack_mark_native(g_words.n.body);
        stack_push(str(c.source));
        ValueCell* r = rt_scan_string_arg();
        EXPECT_EQ(r->type(), c.type) << c.source;
        if (c.type == TYPE_INTEGER) {
            EXPECT_EQ(dt::int_get(r), 42);
        }
        stack_unwind();
    }

    Node ctx = context_make_from_block(blk({word("s")}), false, false, CTX_OBJECT);
    cell_init(unset_push(), TYPE_OBJECT, ctx);
    stack_mark_native(g_words.n.body);
    ValueCell four = integer(4);
    stack_push(&four);
    stack_push(&four);
    rt_set_ctx_slot_reset(ctx, 0);
    EXPECT_EQ(dt::int_get(context_value_at(ctx, 0)), 4);
    EXPECT_EQ(g_stack.top, g_stack.base);  // nothing left in the frame
    stack_unwind();
}

}  // namespace
}  // namespace zan::test
