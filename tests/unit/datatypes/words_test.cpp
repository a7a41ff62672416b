// Symbols, the well-known words, contexts and the word types.
#include "dt_test_support.h"

namespace zan::test {
namespace {

class WordsTest : public DtTest {
protected:
    // Keeps a context where the collector sees it.
    static Node rooted(Node ctx) {
        ValueCell* c = unset_push();
        cell_init(c, TYPE_OBJECT, ctx);
        return ctx;
    }
};

TEST_F(WordsTest, InterningAndAliases) {
    u32 abc = symbol_make("abc");
    EXPECT_EQ(symbol_make("abc"), abc);
    u32 ABC = symbol_make("ABC");
    EXPECT_NE(ABC, abc);
    EXPECT_EQ(symbol_alias_of(ABC), static_cast<i32>(abc));
    EXPECT_EQ(symbol_alias_of(abc), -1);
    EXPECT_EQ(symbol_resolve(ABC), abc);
    EXPECT_EQ(symbol_resolve(abc), abc);
    EXPECT_STREQ(symbol_to_cstr(ABC), "ABC");
    ValueCell* s = str("Grüße");
    u32 g = symbol_make_from_string(s);
    EXPECT_STREQ(symbol_to_cstr(g), "Grüße");
    ValueCell name;
    symbol_string_cell(g, &name);
    EXPECT_EQ(string_length(&name), 5);
}

TEST_F(WordsTest, SymbolNameIsTerminatedEvenWhenItFillsItsBuffer) {
    std::string sixteen(16, 'q');
    u32 id = symbol_make(sixteen.c_str());
    EXPECT_EQ(std::string(symbol_to_cstr(id)), sixteen);
}

TEST_F(WordsTest, WellKnownWordsExistAndKeepTheirSpelling) {
    ASSERT_NE(g_words.n.put_ed, nullptr);
    EXPECT_STREQ(symbol_to_cstr(g_words.n.put_ed->data2), "put-ed");
    EXPECT_STREQ(symbol_to_cstr(g_words.n.swaped->data2), "swaped");
    EXPECT_STREQ(symbol_to_cstr(g_words.n.not_found->data2), "<not-found>");
    EXPECT_EQ(g_words.bar->type(), TYPE_WORD);
    EXPECT_STREQ(symbol_to_cstr(g_sym.bar), "|");
    EXPECT_EQ(g_refinements.part->type(), TYPE_REFINEMENT);
    EXPECT_EQ(g_refinements.part->data1, 0u);
    // The first symbols are the well-known ones, in their order.
    EXPECT_EQ(g_sym.spec, symbol_make("spec"));
    EXPECT_LT(g_sym.spec, g_sym.no_trace);
    EXPECT_EQ(g_stack.sym_body, g_words.n.body->data2);
}

TEST_F(WordsTest, GlobalSpellingsShareOneSlot) {
    ValueCell lower = *word_load("counter");
    ValueCell upper = *word_load("Counter");
    EXPECT_NE(lower.data2, upper.data2);
    ValueCell v = integer(42);
    context_set(&upper, &v);
    EXPECT_EQ(dt::int_get(context_get(&lower)), 42);
    EXPECT_EQ(context_find_word(context_cell(g_global_ctx), upper.data2, false) >= 0 ||
                  context_find_word(context_cell(g_global_ctx), lower.data2, false) >= 0,
              true);
}

TEST_F(WordsTest, ReadingAWordWithoutValueRaises) {
    ValueCell w = word("nothing-here");
    EXPECT_EQ(error_of([&] { word_push_value(&w); }), Err::script_no_value);
    EXPECT_EQ(word_push_value_raw(&w)->type(), TYPE_UNSET);
    EXPECT_EQ(error_of([&] {
                  stack_mark_native(g_words.n.body);
                  stack_push(&w);
                  unset_push();
                  word_set_from_args();
              }),
              Err::script_need_value);
}

TEST_F(WordsTest, ContextsMadeFromSpecBlocks) {
    ValueCell* spec = blk({word("a"), word("b", TYPE_GET_WORD), word("A"),
                           word("c", TYPE_SET_WORD), word("only", TYPE_REFINEMENT),
                           integer(1)});
    Node ctx = rooted(context_make_from_block(spec, false, false, CTX_OBJECT));
    ValueCell* c = context_cell(ctx);
    EXPECT_EQ(context_word_count(c), 3u);  // a, b, only (A is a spelling of a)
    EXPECT_EQ(context_find_word(c, symbol_make("b"), false), 1);
    EXPECT_EQ(context_find_word(c, symbol_make("A"), false), -1);
    EXPECT_EQ(context_find_word(c, symbol_make("A"), true), 0);
    EXPECT_EQ(context_find_word(c, symbol_make("c"), true), -1);
    EXPECT_EQ(context_kind(c), static_cast<u32>(CTX_OBJECT));
    // Values start unset; setting through a bound word marks it assigned.
    ValueCell b = word("b");
    ASSERT_EQ(context_bind_word(context_cell(ctx), &b), 1);
    ValueCell v = chr('z');
    context_set(&b, &v);
    EXPECT_EQ(dt::char_get(context_get(&b)), 'z');
    EXPECT_TRUE(context_word_at(ctx, 1)->header & WORD_ASSIGNED);
    EXPECT_EQ(context_value_at(ctx, 0)->type(), TYPE_UNSET);
}

TEST_F(WordsTest, CollectSetWordsAndClone) {
    Node ctx = rooted(context_create(2, false, false, nullptr, CTX_OBJECT));
    ValueCell* body = blk({word("x", TYPE_SET_WORD), integer(1), word("y", TYPE_SET_WORD),
                           word("x", TYPE_SET_WORD)});
    EXPECT_TRUE(context_collect_set_words(context_cell(ctx), body));
    EXPECT_FALSE(context_collect_set_words(context_cell(ctx), body));
    EXPECT_EQ(context_word_count(context_cell(ctx)), 2u);
    ValueCell obj;
    cell_init(&obj, TYPE_OBJECT, ctx);
    Node copy = rooted(context_clone(&obj, CTX_OBJECT));
    EXPECT_NE(copy, ctx);
    EXPECT_EQ(obj.data1, copy);
    EXPECT_EQ(context_word_count(context_cell(copy)), 2u);
    EXPECT_EQ(context_word_at(copy, 1)->data1, copy);
    EXPECT_EQ(context_find_word(context_cell(copy), symbol_make("y"), false), 1);
}

TEST_F(WordsTest, StackContextsAreReadableOnlyWhileRunning) {
    ValueCell* spec = blk({word("arg")});
    Node ctx = rooted(context_make_from_block(spec, true, false, CTX_FUNCTION));
    ValueCell w = word("arg");
    ASSERT_EQ(context_bind_word(context_cell(ctx), &w), 0);
    EXPECT_EQ(error_of([&] { context_get(&w); }), Err::script_not_in_context);
    ValueCell v = chr('q');
    EXPECT_EQ(error_of([&] { context_set(&w, &v); }), Err::script_not_defined);
    // A call points the context at its arguments on the data stack.
    stack_mark_native(g_words.n.body);
    stack_push(&v);
    stack_mark_func_body(g_words.n.body, ctx);
    EXPECT_EQ(dt::char_get(context_get(&w)), 'q');
    ValueCell v2 = chr('r');
    context_set(&w, &v2);
    stack_unwind_reset();
    EXPECT_EQ(dt::char_get(stack_arg(0)), 'r');
    stack_unwind();
}

TEST_F(WordsTest, SelfReadsTheOwner) {
    Node ctx = rooted(context_create(1, false, true, nullptr, CTX_OBJECT));
    ValueCell owner;
    cell_init(&owner, TYPE_OBJECT, ctx);
    *context_owner(ctx) = owner;
    ValueCell* body = blk({word("self"), word("other")});
    context_bind(body, context_cell(ctx), true);
    ValueCell* self = block_head_ptr(body);
    EXPECT_EQ(self->data1, ctx);
    EXPECT_EQ(word_index(self), -1);
    EXPECT_EQ(context_get(self)->type(), TYPE_OBJECT);
}

TEST_F(WordsTest, BindingABlockThatContainsItselfEnds) {
    ValueCell* body = blk({word("a"), g_none_cell});
    ValueCell me = *body;
    *(block_head_ptr(body) + 1) = me;
    Node ctx = rooted(context_create(1, false, false, nullptr, CTX_OBJECT));
    ValueCell a = word("a");
    context_add_word(context_cell(ctx), &a);
    context_bind(body, context_cell(ctx), false);
    EXPECT_EQ(block_head_ptr(body)->data1, ctx);
    EXPECT_EQ(cycles_depth(), 0u);
}

TEST_F(WordsTest, MoldsOfTheWordTypes) {
    struct Case {
        u32 type;
        const char* mold;
    };
    const Case cases[] = {
        {TYPE_WORD, "abc"},         {TYPE_SET_WORD, "abc:"},    {TYPE_GET_WORD, ":abc"},
        {TYPE_LIT_WORD, "'abc"},    {TYPE_REFINEMENT, "/abc"},  {TYPE_ISSUE, "#abc"},
    };
    for (const Case& c : cases) {
        ValueCell w = word("abc", c.type);
        EXPECT_EQ(mold(w), c.mold);
        EXPECT_EQ(form(w), "abc");
    }
    ValueCell w = word("abc");
    ValueCell proto = w;
    ValueCell lit_proto = word("x", TYPE_LIT_WORD);
    ValueCell* lit = action_to_dispatch(&lit_proto, &w);
    EXPECT_EQ(mold(*lit), "'abc");
    ValueCell set_dt;
    datatype_box(&set_dt, TYPE_SET_WORD);
    EXPECT_EQ(mold(*action_make_dispatch(&set_dt, lit)), "abc:");
    (void)proto;
}

TEST_F(WordsTest, WordCompareKinds) {
    ValueCell abc = word("abc"), ABC = word("ABC"), lit = word("abc", TYPE_LIT_WORD);
    ValueCell iss = word("abc", TYPE_ISSUE), other = word("abd");
    EXPECT_TRUE(action_compare(&abc, &ABC, CMP_EQUAL));
    EXPECT_FALSE(action_compare(&abc, &ABC, CMP_STRICT_EQUAL));
    EXPECT_TRUE(action_compare(&abc, &lit, CMP_EQUAL));
    EXPECT_FALSE(action_compare(&abc, &lit, CMP_STRICT_EQUAL));
    EXPECT_TRUE(action_compare(&abc, &lit, CMP_WORD_EXACT));
    EXPECT_FALSE(action_compare(&lit, &ABC, CMP_WORD_EXACT));
    EXPECT_TRUE(action_compare(&lit, &ABC, CMP_WORD_FOLDED));
    EXPECT_FALSE(action_compare(&abc, &iss, CMP_EQUAL));
    EXPECT_FALSE(action_compare(&iss, &abc, CMP_EQUAL));
    EXPECT_TRUE(action_compare(&abc, &other, CMP_LESSER));
    EXPECT_TRUE(action_compare(&abc, &abc, CMP_SAME));
}

TEST_F(WordsTest, MakeWordFromValues) {
    ValueCell proto;
    datatype_box(&proto, TYPE_WORD);
    ValueCell dt;
    datatype_box(&dt, TYPE_INTEGER);
    EXPECT_EQ(mold(*action_make_dispatch(&proto, &dt)), "integer!");
    ValueCell t = g_true_cell;
    EXPECT_EQ(mold(*action_make_dispatch(&proto, &t)), "true");
    ValueCell twelve = integer(12);
    EXPECT_EQ(error_of([&] { action_make_dispatch(&proto, &twelve); }), Err::script_bad_to_arg);
    // Text goes through the lexer; without one the conversion is not there.
    if (!g_services.lexer_scan_string) {
        ValueCell* s = str("abc");
        EXPECT_EQ(error_of([&] { action_make_dispatch(&proto, s); }), Err::internal_not_done);
    }
}

TEST_F(WordsTest, IssuesKeepTheirNameUnscanned) {
    ValueCell proto;
    datatype_box(&proto, TYPE_ISSUE);
    ValueCell* s = str("a b");
    ValueCell* iss = action_make_dispatch(&proto, s);
    EXPECT_EQ(iss->type(), TYPE_ISSUE);
    EXPECT_EQ(word_index(iss), -1);
    EXPECT_EQ(mold(*iss), "#a b");
    ValueCell c = chr('x');
    EXPECT_EQ(mold(*action_make_dispatch(&proto, &c)), "#x");
    ValueCell w = word("ww");
    EXPECT_EQ(mold(*action_make_dispatch(&proto, &w)), "#ww");
}

TEST_F(WordsTest, IndexOfAGlobalWord) {
    ValueCell w = *word_load("indexed-word");
    ValueCell r = call({w}, [] { action_index_q(); });
    ASSERT_EQ(r.type(), TYPE_INTEGER);
    EXPECT_EQ(dt::int_get(&r), word_index(&w) + 1);
    ValueCell iss = word("i", TYPE_ISSUE);
    iss.data3 = static_cast<u32>(-1);
    EXPECT_EQ(error_of([&] { call({iss}, [] { action_index_q(); }); }), Err::script_expect_arg);
}

}  // namespace
}  // namespace zan::test
