// function!, routine!, native!, action! and op!.
#include "fn_test_support.h"

#include <algorithm>
#include <functional>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function_spec_memo.h"

namespace zan::test {
namespace {

class FunctionTest : public FnTest {};

TEST_F(FunctionTest, MakeFormMoldAndReflect) {
    ValueCell* f = make_func("[a b] [a b: 2]");
    EXPECT_EQ(f->type(), TYPE_FUNCTION);
    EXPECT_EQ(form(*f), "?function?");
    EXPECT_EQ(mold(*f), "func [a b][a b: 2]");
    // A copy of the function's spec: changing it leaves the function alone.
    ValueCell spec = reflect(*f, "spec");
    EXPECT_NE(spec.data2, f->data2);
    EXPECT_EQ(mold(spec), "[a b]");
    block_set_tail(&spec, 0);
    EXPECT_EQ(mold(reflect(*f, "spec")), "[a b]");
    EXPECT_EQ(mold(reflect(*f, "body")), "[a b: 2]");
    ValueCell words = reflect(*f, "words");
    EXPECT_EQ(mold(words), "[a b]");
    for (i32 i = 0; i < 2; i++) {
        ValueCell* w = block_cell_at(&words, static_cast<u32>(i));
        EXPECT_EQ(w->data1, f->data1) << "word " << i << " bound to the function";
    }
    EXPECT_EQ(error_of([&] { reflect(*f, "nothing"); }), Err::internal_not_done);
    // The context's owner cell holds the function.
    EXPECT_EQ(context_owner(f->data1)->data3, f->data3);
}

TEST_F(FunctionTest, MoldWithoutBodyAndFlags) {
    ValueCell* spec = load1("[x]");
    function_create(spec, nullptr, 0, 0, 0, 0);
    ValueCell f = *stack_top_value();
    EXPECT_EQ(mold(f), "func [x] none");
    EXPECT_EQ(function_more(&f, MORE_BODY)->type(), TYPE_NONE);
    EXPECT_EQ(function_more(&f, MORE_ENTRY)->type(), TYPE_UNSET);
    EXPECT_EQ(function_more(&f, MORE_EXTRA)->type(), TYPE_UNSET);
    ValueCell* traced = make_func("[[trace] a] []");
    EXPECT_TRUE(traced->header & FUNCTION_TRACE);
    ValueCell* quiet = make_func("[[no-trace other] a] []");
    EXPECT_TRUE(quiet->header & FUNCTION_NO_TRACE);
    EXPECT_FALSE(quiet->header & FUNCTION_TRACE);
}

TEST_F(FunctionTest, BodyIsADeepCopyBoundToTheContext) {
    ValueCell* spec = load1("[a]");
    ValueCell* body = load1("[a [a (a)]]");
    function_create(spec, body, 0, 0, 0, 0);
    ValueCell f = *stack_top_value();
    ValueCell fbody = *function_more(&f, MORE_BODY);
    EXPECT_NE(fbody.data2, body->data2);
    ValueCell* inner = block_cell_at(&fbody, 1);
    ValueCell* orig_inner = block_cell_at(body, 1);
    EXPECT_NE(inner->data2, orig_inner->data2);
    ValueCell* paren = block_cell_at(inner, 1);
    EXPECT_NE(paren->data2, block_cell_at(orig_inner, 1)->data2);
    // Every a, nested ones too, is bound to the function's context.
    EXPECT_EQ(block_cell_at(&fbody, 0)->data1, f.data1);
    EXPECT_EQ(block_cell_at(inner, 0)->data1, f.data1);
    EXPECT_EQ(block_cell_at(paren, 0)->data1, f.data1);
    // Changing the original leaves the function alone.
    ValueCell one = integer(1);
    block_append_cell(body, &one);
    EXPECT_EQ(block_length(&fbody), 2);
}

TEST_F(FunctionTest, SpecFromAPositionIsCopied) {
    ValueCell* spec = load1("[skipped a b]");
    series_set_index(spec, 1);
    ValueCell* body = load1("[]");
    function_create(spec, body, 0, 0, 0, 0);
    ValueCell f = *stack_top_value();
    EXPECT_NE(f.data2, spec->data2);
    EXPECT_EQ(mold(reflect(f, "spec")), "[a b]");
}

TEST_F(FunctionTest, SpecIsTheFunctionsOwnDeepCopy) {
    ValueCell* spec = load1("[a [integer!] b]");
    function_create(spec, nullptr, 0, 0, 0, 0);
    ValueCell f = *stack_top_value();
    EXPECT_NE(f.data2, spec->data2);
    ValueCell own = reflect(f, "spec");
    EXPECT_NE(block_cell_at(&own, 1)->data2, block_cell_at(spec, 1)->data2);
    // Changing the block the function was made from, type block too,
    // changes neither its spec nor the context made from it.
    block_set_tail(block_cell_at(spec, 1), 0);
    block_set_tail(spec, 1);
    EXPECT_EQ(mold(reflect(f, "spec")), "[a [integer!] b]");
    EXPECT_EQ(mold(f), "func [a [integer!] b] none");
    EXPECT_EQ(mold(reflect(f, "words")), "[a b]");
}

// Functions made from equal specs share one copy of the spec only when
// nothing the memo's key leaves out (doc strings, line breaks) differs;
// each molds its spec as it was written.
TEST_F(FunctionTest, FunctionsOfOnePlainSpecShareItsCopy) {
    struct Case {
        const char* first;
        const char* second;
        bool shared;
        const char* second_spec;  // the mold of the second function's spec
    };
    const Case cases[] = {
        {"[p q /r s] [p]", "[p q /r s] [q]", true, "[p q /r s]"},
        {"[\"one\" p] [p]", "[\"two\" p] [p]", false, "[\"two\" p]"},
        {"[\"one\" p] [p]", "[\"one\" p] [p]", false, "[\"one\" p]"},
        {"[p q] [p]", "[p\n q] [p]", false, "[p\n    q\n]"},
        {"[p [integer!]] [p]", "[p [\n integer!]] [p]", false, "[p [\n    integer!\n]]"},
    };
    for (const Case& c : cases) {
        ValueCell* f = make_func(c.first);
        ValueCell* g = make_func(c.second);
        EXPECT_EQ(f->data2 == g->data2, c.shared) << c.first << " / " << c.second;
        EXPECT_EQ(mold(reflect(*g, "spec")), c.second_spec) << c.second;
    }
}

TEST_F(FunctionTest, CompiledFunctionKeepsItsEntryAndBody) {
    ValueCell* spec = load1("[x]");
    ValueCell* body = load1("[x + 1]");
    Node ctx = context_make_from_block(spec, true, false, CTX_FUNCTION);
    Node got = function_create(spec, body, ctx, 77, 5, 0);
    EXPECT_EQ(got, ctx);
    ValueCell f = *stack_top_value();
    EXPECT_EQ(integer_get(function_more(&f, MORE_ENTRY)), 77);
    EXPECT_EQ(integer_get(function_more(&f, MORE_EXTRA)), 5);
    EXPECT_EQ(mold(reflect(f, "body")), "[x + 1]");
    // A context given by the maker is not bound by function_create.
    EXPECT_NE(block_cell_at(function_more(&f, MORE_BODY), 0)->data1, ctx);
}

TEST_F(FunctionTest, MakeRejectsBadDefinitions) {
    const char* bad[] = {"[[a]]", "[[a] \"x\"]", "[[a] [b] [c]]", "[1 [b]]"};
    for (const char* src : bad) {
        ValueCell* s = load1(src);
        EXPECT_EQ(error_of([&] { function_make(s, s, TYPE_FUNCTION); }), Err::script_bad_func_def)
            << src;
    }
    ValueCell* i = stack_push_cell();
    integer_box(i, 3);
    EXPECT_EQ(error_of([&] { function_make(i, i, TYPE_FUNCTION); }), Err::script_bad_func_def);
}

struct SpecCase {
    const char* spec;
    Err expected;  // internal_not_done: the spec is valid
};

TEST_F(FunctionTest, SpecChecks) {
    const SpecCase cases[] = {
        {"[a b /ref c \"doc\" /local d e]", Err::internal_not_done},
        {"[\"doc\" a [integer!] \"about a\" return: [integer!]]", Err::internal_not_done},
        {"[a return: [block!] /local x]", Err::internal_not_done},
        {"[a [integer! number!]]", Err::internal_not_done},
        {"[a a]", Err::script_dup_vars},
        {"[a /a]", Err::script_dup_vars},
        {"[a 'a]", Err::script_dup_vars},
        {"[a [foo]]", Err::script_invalid_type_spec},
        {"[a \"doc\" [integer!]]", Err::script_bad_func_def},
        {"[return: [integer!] a]", Err::script_bad_func_def},
        {"[/local a: 1]", Err::script_bad_func_def},
        {"[/local 'a]", Err::script_bad_func_def},
        {"[/local a /ref]", Err::script_bad_func_def},
        {"[return: [integer!] /ref]", Err::script_bad_func_def},
        {"[return: a]", Err::script_bad_func_def},
        {"[return: [integer!] return: [integer!]]", Err::script_bad_func_def},
        {"[result: [integer!]]", Err::script_bad_func_def},
        {"[/ref [integer!]]", Err::script_bad_func_def},
        {"[[1] a]", Err::script_bad_func_def},
        {"[a 1]", Err::script_bad_func_def},
    };
    // number! is a typeset in the environment; give the word one.
    ValueCell nw = *word_load("number!");
    ValueCell ts;
    cell_init(&ts, TYPE_TYPESET);
    context_set(&nw, &ts);
    for (const SpecCase& c : cases) {
        ValueCell* s = load1(c.spec);
        if (c.expected == Err::internal_not_done) {
            function_check_spec(s);
        } else {
            EXPECT_EQ(error_of([&] { function_check_spec(s); }), c.expected) << c.spec;
        }
        g_stack.top = s;
    }
}

TEST_F(FunctionTest, DuplicateNamesAreReportedWithTheWord) {
    ValueCell* s = load1("[x y /X]");
    ValueCell err = caught([&] { function_check_spec(s); });
    EXPECT_EQ(id_of(err), "dup-vars");
    EXPECT_EQ(mold(*error_field(&err, ERR_FIELD_ARG1)), "/X");
}

TEST_F(FunctionTest, CompareIsIdentity) {
    ValueCell* f = make_func("[a] [a]");
    ValueCell* g = make_func("[a] [a]");
    ValueCell copy = *f;
    EXPECT_EQ(function_compare(f, &copy, CMP_EQUAL), 0);
    EXPECT_NE(function_compare(f, g, CMP_EQUAL), 0);
    EXPECT_FALSE(action_compare(f, g, CMP_EQUAL));
    EXPECT_TRUE(action_compare(f, &copy, CMP_STRICT_EQUAL));
    ValueCell i = integer(1);
    EXPECT_EQ(function_compare(f, &i, CMP_EQUAL), CMP_NOT_COMPARABLE);
    EXPECT_EQ(function_compare(f, &copy, CMP_LESSER), CMP_NOT_COMPARABLE);
}

TEST_F(FunctionTest, UnusedRefinementsAndLocalArity) {
    ValueCell* before = g_stack.top;
    function_push_unused_refinement(3);
    ASSERT_EQ(g_stack.top - before, 3);
    EXPECT_EQ(mold(before[0]), "false");
    EXPECT_EQ(before[1].type(), TYPE_NONE);
    EXPECT_EQ(before[2].type(), TYPE_NONE);
    g_stack.top = before;

    struct Case {
        const char* spec;
        u32 start;
        bool required;
        i32 expected;
    } cases[] = {
        {"[a /local b c]", 0, false, 3},
        {"[a /local b \"doc\" c [integer!]]", 0, false, 3},
        {"[a /local]", 0, false, 1},
        {"[a b]", 0, true, -1},
        {"[a b]", 0, false, 0},
        {"[/local x]", 1, false, 0},
        {"[w o n /Local x y]", 0, false, 3},
    };
    for (const Case& c : cases) {
        ValueCell* s = load1(c.spec);
        EXPECT_EQ(function_refinement_arity(s->data2, c.start, c.required), c.expected) << c.spec;
    }
}

TEST_F(FunctionTest, CollectLocals) {
    struct Case {
        const char* spec;
        const char* body;
        const char* expected;
    } cases[] = {
        {"[a]", "[b: 1 foreach x s [c: [d: 2] (e: 3)] a: 4 b: 5]",
         "[a /local b x c d e]"},
        {"[a /local z]", "[z: 1 y: 2]", "[a /local z y]"},
        {"[a /extern c e]", "[c: 1 d: 2 e: 3]", "[a /local d]"},
        {"[a /extern c /ref r]", "[c: 1 r: 2]", "[a /ref r /local]"},
        {"[]", "[repeat i 3 [] remove-each [k v] m []]", "[/local i k v]"},
        {"[a]", "[]", "[a /local]"},
        {"[\"doc\" a [integer!] /local]", "[A: 1 x: 2 X: 3 (y: 4)]",
         "[\"doc\" a [integer!] /local x y]"},
        {"[a /extern b /ref]", "[b: 1 B: 2 q: 3]", "[a /ref /local q]"},
    };
    for (const Case& c : cases) {
        ValueCell* spec = load1(c.spec);
        ValueCell* body = load1(c.body);
        ValueCell* r = function_collect_locals(spec, body);
        EXPECT_EQ(mold(*r), c.expected) << c.spec << " " << c.body;
        EXPECT_NE(r->data2, spec->data2);
        g_stack.top = spec;
    }
    ValueCell* spec = load1("[a /extern 1]");
    ValueCell* body = load1("[]");
    EXPECT_EQ(error_of([&] { function_collect_locals(spec, body); }), Err::script_bad_func_extern);
}

// Contexts of functions made from equal specs share one word table, never
// their values: each body is bound to its own function's context.
TEST_F(FunctionTest, FunctionsOfOneSpecShareTheWordTableNotTheContext) {
    ValueCell* f1 = make_func("[a b /local c] [c: a [b c]]");
    ValueCell* f2 = make_func("[a b /local c] [c: a [b c]]");
    ValueCell* other = make_func("[a c] [a]");
    Node t1 = context_word_table(context_cell(f1->data1));
    EXPECT_NE(f1->data1, f2->data1);
    EXPECT_EQ(t1, context_word_table(context_cell(f2->data1)));
    EXPECT_NE(t1, context_word_table(context_cell(other->data1)));
    for (ValueCell* f : {f1, f2}) {
        ValueCell body = *function_more(f, MORE_BODY);
        ValueCell* inner = block_cell_at(&body, 2);
        for (ValueCell* w : {block_cell_at(&body, 0), block_cell_at(&body, 1),
                             block_cell_at(inner, 0), block_cell_at(inner, 1)})
            EXPECT_EQ(w->data1, f->data1) << mold(*w);
        EXPECT_EQ(context_owner(f->data1)->data3, f->data3);
        ValueCell words = reflect(*f, "words");
        EXPECT_EQ(mold(words), "[a b local c]");
        EXPECT_EQ(block_cell_at(&words, 3)->data1, f->data1);
    }
    // A spec of the same shape with a fault is refused as always.
    EXPECT_EQ(error_of([&] { make_func("[a a /local c] [a]"); }), Err::script_dup_vars);
}

// The key of a spec follows what a function is made from: the cells' kinds
// and names, nested blocks, and the values of the words in them.
TEST_F(FunctionTest, SpecKeysFollowContentAndTypeWordValues) {
    auto key = [&](const char* src, SpecKey& k) {
        ValueCell* s = load1(src);
        bool ok = spec_key_make(block_node(s), 0, k);
        stack_pop(1);
        return ok;
    };
    auto same = [](const SpecKey& x, const SpecKey& y) {
        return x.count == y.count && x.hash == y.hash &&
               std::equal(x.words, x.words + x.count, y.words);
    };
    struct Case {
        const char* one;
        const char* two;
        bool equal;
    } cases[] = {
        {"[a b]", "[a b]", true},
        {"[a b]", "[a c]", false},
        {"[a b]", "[a :b]", false},
        {"[\"one\" a]", "[\"two\" a]", true},
        {"[a [integer!]]", "[a [integer!]]", true},
        {"[a [integer!]]", "[a [string!]]", false},
        {"[a /ref b]", "[a /ref]", false},
        {"[]", "[]", true},
    };
    for (const Case& c : cases) {
        SpecKey k1, k2;
        ASSERT_TRUE(key(c.one, k1)) << c.one;
        ASSERT_TRUE(key(c.two, k2)) << c.two;
        EXPECT_EQ(same(k1, k2), c.equal) << c.one << " " << c.two;
    }
    SpecKey k;
    EXPECT_FALSE(key("[a 1]", k));
    EXPECT_FALSE(key("[a [[integer!]]]", k));
    ValueCell dt;
    datatype_box(&dt, TYPE_INTEGER);
    bind_global("t", dt);
    SpecKey before, after;
    ASSERT_TRUE(key("[a [t]]", before));
    datatype_box(&dt, TYPE_STRING);
    bind_global("t", dt);
    ASSERT_TRUE(key("[a [t]]", after));
    EXPECT_FALSE(same(before, after));
}

// Copying a body bound in one pass gives what a deep copy followed by the
// binding walk gives, a block that holds itself included (the walk binds
// the block itself, which the copy keeps).
TEST_F(FunctionTest, CopyingBoundEqualsCopyingThenBinding) {
    ValueCell* spec = load1("[a b]");
    Node ctx = context_make_from_block(spec, true, false, CTX_FUNCTION);
    cell_init(stack_push_cell(), TYPE_OBJECT, ctx);
    std::function<void(const ValueCell*, const ValueCell*, int)> same_tree;
    same_tree = [&](const ValueCell* x, const ValueCell* y, int depth) {
        ASSERT_EQ(block_length(x), block_length(y));
        for (i32 i = 0; i < block_length(x); i++) {
            const ValueCell* cx = block_cell_at(x, static_cast<u32>(i));
            const ValueCell* cy = block_cell_at(y, static_cast<u32>(i));
            ASSERT_EQ(cx->header, cy->header) << i;
            u32 t = cx->type();
            if (t >= TYPE_WORD && t <= TYPE_REFINEMENT) {
                EXPECT_EQ(cx->data1, cy->data1) << mold(*cx);
                EXPECT_EQ(cx->data3, cy->data3) << mold(*cx);
            } else if ((t == TYPE_BLOCK || t == TYPE_PAREN) && cx->data2 != cy->data2 && depth < 8) {
                same_tree(cx, cy, depth + 1);
            }
        }
    };
    const char* bodies[] = {"[a b c]", "[a [b (a c)] [] b]", "[(a) [[a x]] x: b]", "[]"};
    for (const char* src : bodies) {
        ValueCell* body = load1(src);
        ValueCell* one = stack_push_cell();
        context_copy_bound(body, one, context_cell(ctx));
        ValueCell* two = stack_push_cell();
        block_clone(body, two, true, true);
        context_bind(two, context_cell(ctx), false);
        EXPECT_NE(one->data2, body->data2);
        same_tree(one, two, 0);
    }
    ValueCell* looped = load1("[a [b]]");
    block_append_cell(block_cell_at(looped, 1), looped);
    ValueCell* one = stack_push_cell();
    context_copy_bound(looped, one, context_cell(ctx));
    EXPECT_EQ(block_cell_at(looped, 0)->data1, ctx) << "the kept block is bound in place";
    ValueCell* two = stack_push_cell();
    block_clone(looped, two, true, true);
    context_bind(two, context_cell(ctx), false);
    same_tree(one, two, 0);
}

TEST_F(FunctionTest, Routines) {
    auto entry = [] { integer_box(stack_result(), 7); };
    u32 index = routine_table_register("seven", +entry);
    EXPECT_EQ(routine_table_find("seven"), index);
    EXPECT_EQ(routine_table_find("missing"), 0u);
    EXPECT_EQ(routine_table_entry(index), +entry);
    EXPECT_EQ(routine_table_entry(0), nullptr);
    // A name registered again keeps its number and takes the new entry; a
    // new name is numbered after the last.
    auto other = [] { integer_box(stack_result(), 8); };
    u32 eight = routine_table_register("eight", +other);
    EXPECT_GT(eight, index);
    EXPECT_EQ(routine_table_register("seven", +other), index);
    EXPECT_EQ(routine_table_entry(index), +other);
    EXPECT_EQ(routine_table_register("nine", +other), eight + 1);  // "seven" took no number
    EXPECT_EQ(routine_table_find("eight"), eight);
    EXPECT_EQ(routine_table_entry(eight + 2), nullptr);
    routine_table_register("seven", +entry);

    ValueCell* spec = load1("[a [integer!] b \"doc\" /ref c return: [integer!]]");
    ValueCell* body = load1("[a + b]");
    ValueCell r = *routine_make(spec, body, index, -1, true);
    EXPECT_EQ(r.type(), TYPE_ROUTINE);
    EXPECT_EQ(routine_arity(&r), 3u);  // a, b and c: only word! entries count
    EXPECT_TRUE(r.header & ROUTINE_FLAG);
    EXPECT_EQ(function_more(&r, MORE_BODY)->data2, body->data2);  // kept, not copied
    EXPECT_EQ(integer_get(function_more(&r, MORE_ENTRY)), static_cast<i32>(index));
    EXPECT_EQ(integer_get(function_more(&r, MORE_EXTRA)), -1);
    EXPECT_EQ(form(r), "?routine?");
    EXPECT_EQ(mold(r), "routine [a [integer!] b \"doc\" /ref c return: [integer!]][a + b]");
    EXPECT_EQ(mold(reflect(r, "body")), "[a + b]");  // reflect comes from function!

    ValueCell* noop = load1("[x]");
    ValueCell r2 = *routine_make(noop, nullptr, index, 0, false);
    EXPECT_EQ(mold(r2), "routine [x]none");
    EXPECT_FALSE(r2.header & ROUTINE_FLAG);
    ValueCell copy = r;
    EXPECT_TRUE(action_compare(&r, &copy, CMP_EQUAL));
    EXPECT_FALSE(action_compare(&r, &r2, CMP_EQUAL));
    // Not equal to a function with the same spec and body.
    ValueCell* f = make_func("[a [integer!] b \"doc\" /ref c return: [integer!]] [a + b]");
    EXPECT_FALSE(action_compare(&r, f, CMP_EQUAL));
}

TEST_F(FunctionTest, NativesAndActions) {
    ValueCell* spec = load1("[[value series] 25]");
    ValueCell* proto = stack_push_cell();
    datatype_box(proto, TYPE_ACTION);
    ValueCell append = *action_make_dispatch(proto, spec);
    EXPECT_EQ(append.type(), TYPE_ACTION);
    EXPECT_EQ(reflect(append, "body").type(), TYPE_INTEGER);
    EXPECT_EQ(int_of(reflect(append, "body")), 25);
    EXPECT_EQ(mold(reflect(append, "spec")), "[value series]");
    EXPECT_EQ(form(append), "?action?");
    EXPECT_EQ(mold(append), "make action! [[value series]]");
    EXPECT_EQ(error_of([&] { reflect(append, "words"); }), Err::internal_not_done);
    // The more block: the spec's context! cell, then none.
    ValueCell* more = node_buffer(append.data3)->head_cells();
    EXPECT_EQ(more[0].type(), TYPE_CONTEXT);
    EXPECT_EQ(more[1].type(), TYPE_NONE);

    ValueCell* nspec = load1("[[a] 7]");
    datatype_box(proto, TYPE_NATIVE);
    ValueCell nat = *action_make_dispatch(proto, nspec);
    EXPECT_EQ(form(nat), "?native?");
    EXPECT_EQ(mold(nat), "make native! [[a]]");
    EXPECT_EQ(int_of(reflect(nat, "body")), 7);

    const char* bad[] = {"[[a] 0]", "[[a] 121]", "[[a]]", "[a 5]", "[[a] \"5\"]", "[[a] 5 6]"};
    for (const char* src : bad) {
        ValueCell* s = load1(src);
        EXPECT_EQ(error_of([&] { native_make(proto, s, TYPE_NATIVE); }), Err::script_bad_make_arg)
            << src;
    }
    ValueCell* s = load1("[[a] 120]");
    EXPECT_EQ(native_make(proto, s, TYPE_NATIVE)->data1, 120u);
    ValueCell* a63 = load1("[[a] 63]");
    EXPECT_EQ(error_of([&] { action_value_make(proto, a63, TYPE_ACTION); }),
              Err::script_bad_make_arg);
    ValueCell i = integer(1);
    EXPECT_EQ(error_of([&] { native_make(proto, &i, TYPE_NATIVE); }), Err::script_bad_make_arg);
}

TEST_F(FunctionTest, Operators) {
    ValueCell* proto = stack_push_cell();
    datatype_box(proto, TYPE_ACTION);
    ValueCell* add_spec = load1("[[value1 value2] 11]");
    ValueCell add = *action_make_dispatch(proto, add_spec);
    ValueCell op1 = *op_make(proto, &add, TYPE_OP);
    ValueCell op2 = *op_make(proto, &add, TYPE_OP);
    EXPECT_EQ(op1.type(), TYPE_OP);
    EXPECT_EQ(op_wrapped_type(&op1), TYPE_ACTION);
    EXPECT_EQ(int_of(reflect(op1, "body")), 11);
    EXPECT_TRUE(action_compare(&op1, &op2, CMP_EQUAL));
    EXPECT_FALSE(action_compare(&op1, &add, CMP_EQUAL));  // another datatype
    EXPECT_EQ(form(op1), "?op?");
    EXPECT_EQ(mold(op1), "make op! [[value1 value2]]");

    ValueCell* f = make_func("[a b /local c] [a + b]");
    ValueCell fop = *op_make(proto, f, TYPE_OP);
    EXPECT_EQ(op_wrapped_type(&fop), TYPE_FUNCTION);
    EXPECT_EQ(mold(fop), "make op! func [a b /local c][a + b]");
    EXPECT_EQ(mold(reflect(fop, "body")), "[a + b]");
    // The function is kept in its more block for the evaluator.
    ValueCell* kept = function_more(f, MORE_CALLABLE);
    EXPECT_EQ(kept->type(), TYPE_FUNCTION);
    EXPECT_EQ(kept->data3, f->data3);

    const char* bad[] = {"[a b c] []", "['a b] []", "[:a b] []", "[a] []", "[a /ref b] []"};
    for (const char* src : bad) {
        ValueCell* g = make_func(src);
        EXPECT_EQ(error_of([&] { op_make(proto, g, TYPE_OP); }), Err::script_bad_op_spec) << src;
    }
    ValueCell* ok = make_func("[a 'b return: [integer!]] []");
    EXPECT_EQ(op_make(proto, ok, TYPE_OP)->type(), TYPE_OP);
    ValueCell i = integer(1);
    ValueCell err = caught([&] { op_make(proto, &i, TYPE_OP); });
    EXPECT_EQ(id_of(err), "invalid-type");
    EXPECT_EQ(mold(*error_field(&err, ERR_FIELD_ARG1)), "integer!");

    ValueCell* r = load1("[x y]");
    ValueCell rt = *routine_make(r, nullptr, 1, -1, false);
    ValueCell rop = *op_make(proto, &rt, TYPE_OP);
    EXPECT_EQ(op_wrapped_type(&rop), TYPE_ROUTINE);
    EXPECT_EQ(mold(rop), "make op! [[x y]]");
}

TEST_F(FunctionTest, RegistryRows) {
    EXPECT_EQ(action_entry(TYPE_ACTION, ACT_REFLECT), action_entry(TYPE_NATIVE, ACT_REFLECT));
    EXPECT_EQ(action_entry(TYPE_OP, ACT_REFLECT), action_entry(TYPE_NATIVE, ACT_REFLECT));
    EXPECT_EQ(action_entry(TYPE_ROUTINE, ACT_REFLECT), action_entry(TYPE_FUNCTION, ACT_REFLECT));
    EXPECT_NE(action_entry(TYPE_OP, ACT_MAKE), action_entry(TYPE_NATIVE, ACT_MAKE));
    const u32 types[] = {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE};
    for (u32 t : types) {
        EXPECT_EQ(action_entry(t, ACT_APPEND), nullptr);
        EXPECT_EQ(action_entry(t, ACT_COPY), nullptr);
    }
    EXPECT_EQ(action_entry(TYPE_ROUTINE, ACT_MAKE), nullptr);
    EXPECT_STREQ(datatype_name(TYPE_ROUTINE), "routine!");
}

TEST_F(FunctionTest, MakingFunctionsUnderCollectorStress) {
    g_gc.enabled = true;
    set_collect_stress(true);
    for (int k = 0; k < 3; k++) {
        ValueCell* f = make_func("[a /local b] [b: [a (a) \"text\"] a]");
        EXPECT_EQ(mold(*f), "func [a /local b][b: [a (a) \"text\"] a]");
        ValueCell* spec = load1("[x y]");
        ValueCell* locals = function_collect_locals(spec, load1("[z: 1 w: [v: 2]]"));
        EXPECT_EQ(mold(*locals), "[x y /local z w v]");
    }
}

}  // namespace
}  // namespace zan::test
