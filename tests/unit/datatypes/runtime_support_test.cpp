// Support routines for compiled code: tails, boot cells, argument checks,
// word and slot access, calls by index, path evaluation, switch lookup,
// limited form, the stack reports and the collector's view of the datatypes.
#include "dt_test_support.h"

namespace zan::test {
namespace {

class RuntimeSupportTest : public DtTest {};

TEST_F(RuntimeSupportTest, ToIntegerChecksTheRange) {
    auto f = [](double d) {
        ValueCell c;
        cell_init(&c, TYPE_FLOAT);
        c.put_float(d);
        return c;
    };
    ValueCell a = f(-2.7), b = f(2147483647.9), c = f(-2147483648.5), d = f(2147483647.0);
    EXPECT_EQ(rt_to_integer(&a), -2);
    EXPECT_EQ(rt_to_integer(&d), 2147483647);
    EXPECT_EQ(error_of([&] { rt_to_integer(&b); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { rt_to_integer(&c); }), Err::script_out_of_range);
    ValueCell i = integer(-5);
    EXPECT_EQ(rt_to_integer(&i), -5);
}

TEST_F(RuntimeSupportTest, CellAndTailHelpers) {
    ValueCell a = integer(1);
    cell_copy(&a, &a);
    EXPECT_EQ(dt::int_get(&a), 1);
    ValueCell* b = block_push_new(1);
    for (int i = 0; i < 40; i++) *block_alloc_tail(b) = integer(i);
    EXPECT_EQ(block_length(b), 40);
    EXPECT_EQ(dt::int_get(block_cell_at(b, 39)), 39);
    u8 buf[13] = {'a', 'b', 'c'};
    mem_replicate(buf, 3, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 12), "abcabcabcabc");
    mem_replicate(buf, 0, 5);  // an empty unit: nothing written, and it returns
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 12), "abcabcabcabc");
    ValueCell* s = str("x");
    EXPECT_EQ(mold_indent(s, 2, 100), 92);
    EXPECT_EQ(text(s), "x        ");
    ValueCell* t = str("hello");
    Node n = series_alloc_like(t, 1, 3);
    EXPECT_EQ(node_buffer(n)->used_bytes(), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(node_buffer(n)->head_ptr()), 3), "ell");
    ValueCell* held = unset_push();
    cell_init(held, TYPE_BINARY, 0, alloc_bytes(16));
    Node bn = held->data2;
    for (int i = 0; i < 10; i++) std::memcpy(series_alloc_tail_units(node_buffer(bn), 5), "12345", 5);
    EXPECT_EQ(node_buffer(bn)->used_bytes(), 50u);
}

TEST_F(RuntimeSupportTest, BootCellsAreRootBlockCells) {
    ValueCell* root = block_head_ptr(&g_root_block);
    EXPECT_EQ(boot_cell_at(0), root + g_boot_cells_first);
    ValueCell* c = boot_cell_at(3);
    EXPECT_EQ(boot_cell_data(3), c->data1);
}

TEST_F(RuntimeSupportTest, ArgumentChecks) {
    ValueCell ts;
    cell_init(&ts, TYPE_TYPESET);
    u8 bits[12] = {};
    bits[TYPE_BLOCK >> 3] |= 0x80 >> (TYPE_BLOCK & 7);
    std::memcpy(&ts.data1, bits, 12);
    ValueCell* b = blk({});
    EXPECT_EQ(rt_check_arg_type(&ts, 0, b), b);
    ValueCell n = g_none_cell;
    EXPECT_EQ(error_of([&] { rt_check_arg_type(&ts, 0, &n); }), Err::script_expect_arg);
    EXPECT_EQ(rt_check_refinement_arg(&g_false_cell, &ts, 0, &n), &n);
    EXPECT_EQ(error_of([&] { rt_check_not_unset(0, const_cast<ValueCell*>(&g_unset_cell)); }),
              Err::script_expect_arg);
    stack_mark_native(g_words.n.body);
    ValueCell r = g_false_cell, x = integer(1);
    stack_push(&r);
    stack_push(&x);
    stack_push(&x);
    rt_init_refinement(&g_false_cell, 0, 2);
    EXPECT_EQ(stack_arg(1)->type(), TYPE_NONE);
    EXPECT_EQ(stack_arg(2)->type(), TYPE_NONE);
    rt_init_refinement(&g_true_cell, 0, 2);
    EXPECT_EQ(stack_arg(0)->data1, 1u);
    stack_unwind();
}

TEST_F(RuntimeSupportTest, WordsAndSlots) {
    ValueCell w = *word_load("slot-word");
    EXPECT_EQ(error_of([&] { rt_get_word(&w); }), Err::script_no_value);
    stack_mark_native(g_words.n.body);
    ValueCell v = integer(9);
    stack_push(&v);
    rt_set_word(&w);
    EXPECT_EQ(dt::int_get(rt_get_word(&w)), 9);
    unset_push();
    EXPECT_EQ(error_of([&] { rt_set_word(&w); }), Err::script_need_value);
    stack_unwind();
    Node ctx = context_make_from_block(blk({word("p"), word("q")}), false, false, CTX_OBJECT);
    cell_init(unset_push(), TYPE_OBJECT, ctx);
    stack_mark_native(g_words.n.body);
    ValueCell seven = integer(7);
    stack_push(&seven);
    rt_set_ctx_slot(ctx, 1);
    EXPECT_EQ(dt::int_get(rt_ctx_slot_ptr(ctx, 1)), 7);
    unset_push();
    rt_store_ctx_slot_reset(ctx, 0);
    EXPECT_EQ(rt_ctx_slot_ptr(ctx, 0)->type(), TYPE_UNSET);
    EXPECT_TRUE(context_word_at(ctx, 0)->header & WORD_ASSIGNED);
    stack_unwind();
    Node fn = context_make_from_block(blk({word("arg")}), true, false, CTX_FUNCTION);
    cell_init(unset_push(), TYPE_OBJECT, fn);
    EXPECT_EQ(error_of([&] { rt_ctx_slot_ptr(fn, 0); }), Err::script_not_defined);
    EXPECT_EQ(error_of([&] { context_push_value(fn, 0); }), Err::script_not_defined);
}

TEST_F(RuntimeSupportTest, CallByIndexPassesRefinementPositions) {
    // copy/part through the generic table: refinement 1 (/part) is true.
    ValueCell* s = str("abcdef");
    ValueCell two = integer(2);
    stack_mark_native(g_words.n.body);
    stack_push(s);
    stack_push(&two);
    RtRefinement refs[3] = {{&g_true_cell, 1, 1, 1}, {&g_false_cell, 2, 2, 0},
                            {&g_false_cell, 3, 2, 1}};
    rt_call_by_index(ACT_COPY, CALL_ACTION, 3, refs);
    EXPECT_EQ(text(stack_result()), "ab");
    stack_unwind();
}

TEST_F(RuntimeSupportTest, EvalPathThroughBlocks) {
    ValueCell inner = *blk({word("k"), integer(5)});
    ValueCell* outer = blk({word("in"), inner});
    ValueCell holder = word("holder");
    ValueCell* hv = stack_push(&holder);
    context_set(hv, outer);
    ValueCell* path = blk({holder, word("in"), word("k")}, {}, TYPE_PATH);
    ValueCell e1 = word("in"), e2 = word("k");
    ValueCell* elements[] = {&e1, &e2};
    stack_mark_native(g_words.n.body);
    unset_push();
    ValueCell* r = rt_eval_path(false, path, &holder, elements, 2);
    EXPECT_EQ(dt::int_get(r), 5);
    ValueCell six = integer(6);
    *stack_result() = six;
    rt_eval_path(true, path, &holder, elements, 2);
    stack_unwind();
    EXPECT_EQ(mold(inner), "[k 6]");
}

TEST_F(RuntimeSupportTest, SwitchFind) {
    ValueCell a = word("a"), b = word("b");
    ValueCell* cases = blk({a, *blk({integer(1)}), b, *blk({integer(2)}), *str("last")});
    auto find = [&](ValueCell v, bool push, bool to_block, ValueCell* cs) {
        stack_mark_native(g_words.n.body);
        stack_push(&v);
        stack_push(cs);
        ValueCell* r = rt_switch_find(push, to_block);
        ValueCell out = *r;
        stack_unwind();
        stack_pop(1);
        return out;
    };
    EXPECT_EQ(mold(find(b, false, false, cases)), "[2]");
    ValueCell last = *str("last");
    EXPECT_EQ(mold(find(last, true, false, cases)), "\"last\"");
    EXPECT_EQ(find(word("zz"), false, false, cases).type(), TYPE_NONE);
    ValueCell* with_block = blk({*blk({integer(1)}), *str("x")});
    EXPECT_EQ(find(*blk({integer(1)}), true, false, with_block).type(), TYPE_NONE);
    ValueCell* words = blk({a, b, *blk({integer(3)})});
    EXPECT_EQ(mold(find(a, true, true, words)), "[3]");
}

TEST_F(RuntimeSupportTest, FormLimited) {
    ValueCell* b = blk({word("alpha"), word("beta")});
    EXPECT_EQ(text(rt_form_limited(b, 7)), "alpha b");
    EXPECT_EQ(text(rt_form_limited(b, 0)), "alpha beta");
}

TEST_F(RuntimeSupportTest, CallingWordPassesBodyFrames) {
    ValueCell outer = *word_load("outer-fn");
    ValueCell inner = *word_load("inner-fn");
    stack_mark_native(&outer);
    stack_mark_native(&inner);
    stack_mark_native(g_words.n.body);
    EXPECT_STREQ(symbol_to_cstr(stack_calling_word()->data2), "inner-fn");
    stack_unwind();
    stack_unwind();
    stack_unwind();
    EXPECT_STREQ(symbol_to_cstr(stack_calling_word()->data2), "<not-found>");
}

TEST_F(RuntimeSupportTest, StackTraces) {
    ValueCell outer = *word_load("trace-outer");
    ValueCell inner = *word_load("trace-inner");
    stack_mark_native(&outer);
    stack_mark_native(g_words.n.anon);
    stack_mark_native(&inner);
    // Level 1 keeps only calls whose word holds a function!; level 2 all.
    ValueCell* words = blk({});
    stack_trace_words(1, words, g_stack.ctop);
    EXPECT_EQ(block_length(words), 0);
    stack_trace_words(2, words, g_stack.ctop);
    EXPECT_EQ(mold(*words), "[trace-outer trace-inner]");
    ValueCell* out = str("");
    ValueCell pos = integer(static_cast<i32>(g_stack.ctop - g_stack.cbottom));
    EXPECT_EQ(stack_trace_block(2, &pos, out, 100), 100 - 24);
    EXPECT_EQ(text(out), "trace-outer trace-inner ");
    stack_unwind();
    stack_unwind();
    stack_unwind();
}

TEST_F(RuntimeSupportTest, ErrorsRaisedUnderAGuardCarryTheCallingWord) {
    ValueCell name = *word_load("failing-fn");
    stack_mark_try(nullptr);
    stack_mark_native(&name);
    ValueCell none = g_none_cell;
    bool raised = false;
    try {
        action_lookup(TYPE_NONE, &none, ACT_APPEND);
    } catch (const ThrowSignal& s) {
        raised = s.code == THROW_ERROR;
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(g_raw_error, Err::script_expect_arg);
    EXPECT_EQ(g_stack.ctop, g_stack.cbottom);
    // The error value waits on the data stack for the try handler.
    EXPECT_EQ(stack_top_value()->type(), TYPE_ERROR);
}

}  // namespace
}  // namespace zan::test
