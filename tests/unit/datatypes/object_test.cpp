// object!: make, copy, extend, field access, reflection, text forms,
// comparison, construct and set, and the change-handler protocol as far as it
// runs without the evaluator.
#include <cstring>

#include "fn_test_support.h"

namespace zan::test {
namespace {

class ObjectTest : public FnTest {};

ValueCell byte_series(u32 type, const char* bytes) {
    u32 n = static_cast<u32>(std::strlen(bytes));
    Node node = alloc_bytes(n);
    SeriesBuffer* b = node_buffer(node);
    std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + n;
    ValueCell c;
    cell_init(&c, type, 0, node, 0);
    return c;
}

TEST_F(ObjectTest, MakeMoldAndForm) {
    ValueCell* o = make_object("[a: 1 b: \"x\"]");
    EXPECT_EQ(o->type(), TYPE_OBJECT);
    EXPECT_EQ(mold(*o), "make object! [\n    a: 1\n    b: \"x\"\n]");
    EXPECT_EQ(form(*o), "a: 1\nb: \"x\"");
    EXPECT_EQ(mold(*o, false, false, true), "make object! [a: 1 b: \"x\"]");
    EXPECT_EQ(mold(*o, true), "a: 1\nb: \"x\"");
    ValueCell* e = make_object("[]");
    EXPECT_EQ(mold(*e), "make object! []");
    EXPECT_EQ(object_word_count(e), 0u);
    // Nested objects indent one level further; word values get a quote.
    ValueCell* n = make_object("[w: 'b inner: none]");
    set_field(n, "inner", *o);
    EXPECT_EQ(mold(*n),
              "make object! [\n    w: 'b\n    inner: make object! [\n        a: 1\n        b: "
              "\"x\"\n    ]\n]");
    // The context's owner cell is the object.
    EXPECT_EQ(context_owner(o->data1)->data1, o->data1);
    EXPECT_EQ(context_owner(o->data1)->type(), TYPE_OBJECT);
}

TEST_F(ObjectTest, ClassIds) {
    ValueCell* a = make_object("[]");
    ValueCell* b = make_object("[]");
    EXPECT_NE(a->data2, b->data2);  // each make from the datatype gets a new class
    ValueCell* proto = make_object("[x: 1 y: 2]");
    ValueCell* same1 = make_from(proto, "[x: 10]");
    ValueCell* same2 = make_from(proto, "[y: 20]");
    EXPECT_EQ(same1->data2, proto->data2);
    EXPECT_EQ(same2->data2, proto->data2);
    ValueCell* grown = make_from(proto, "[z: 3]");
    EXPECT_NE(grown->data2, proto->data2);
    EXPECT_EQ(mold(*grown, false, false, true), "make object! [x: 1 y: 2 z: 3]");
    EXPECT_EQ(mold(*same1, false, false, true), "make object! [x: 10 y: 2]");
    EXPECT_EQ(int_of(reflect(*proto, "class")), static_cast<i32>(proto->data2));
}

TEST_F(ObjectTest, MakeFromAPrototypeCopiesItsSeries) {
    ValueCell* proto = make_object("[s: \"text\" b: [1 [2]] n: 5]");
    ValueCell* o = make_from(proto, "[n: 6]");
    ValueCell s1 = field(proto, "s"), s2 = field(o, "s");
    ValueCell b1 = field(proto, "b"), b2 = field(o, "b");
    EXPECT_NE(s1.data2, s2.data2);
    EXPECT_NE(b1.data2, b2.data2);
    EXPECT_NE(block_cell_at(&b1, 1)->data2, block_cell_at(&b2, 1)->data2);
    EXPECT_EQ(mold(*o, false, false, true), "make object! [s: \"text\" b: [1 [2]] n: 6]");
    EXPECT_EQ(int_of(field(proto, "n")), 5);
}

TEST_F(ObjectTest, MakeWithAnObjectSpecExtends) {
    ValueCell* base = make_object("[a: 1 s: \"one\"]");
    ValueCell* ext = make_object("[s: \"two\" c: [x]]");
    ValueCell* r = make_from(base, "[]");
    ValueCell* p = stack_push(r);
    ValueCell* made = object_make(p, ext, TYPE_OBJECT);
    EXPECT_EQ(mold(*made, false, false, true), "make object! [a: 1 s: \"two\" c: [x]]");
    EXPECT_NE(made->data2, base->data2);  // it grew
    EXPECT_NE(field(made, "s").data2, field(ext, "s").data2);
    EXPECT_NE(field(made, "c").data2, field(ext, "c").data2);
    ValueCell i = integer(5);
    EXPECT_EQ(error_of([&] { object_make(p, &i, TYPE_OBJECT); }), Err::syntax_malconstruct);
}

TEST_F(ObjectTest, FunctionsAreRecreatedForTheNewObject) {
    ValueCell* proto = make_object("[v: 1 get-v: func [] [v]]");
    ValueCell* o = make_from(proto, "[v: 2]");
    ValueCell f1 = field(proto, "get-v"), f2 = field(o, "get-v");
    ASSERT_EQ(f2.type(), TYPE_FUNCTION);
    EXPECT_NE(f1.data3, f2.data3);
    ValueCell* b1 = function_more(&f1, MORE_BODY);
    ValueCell* b2 = function_more(&f2, MORE_BODY);
    EXPECT_EQ(block_cell_at(b1, 0)->data1, proto->data1);
    EXPECT_EQ(block_cell_at(b2, 0)->data1, o->data1);
    // A function without a body cannot be rebound.
    ValueCell* spec = load1("[]");
    function_create(spec, nullptr, 0, 0, 0, 0);
    ValueCell bodiless = *stack_top_value();
    EXPECT_EQ(error_of([&] {
                  ValueCell f = bodiless;
                  object_rebind_function(&f, o->data1);
              }),
              Err::script_bad_func_def);
}

TEST_F(ObjectTest, CopyDeepSharesNoSeries) {
    ValueCell* o = make_object("[s: \"abc\" b: [1 [2] \"x\"] p: (3) n: 4 f: func [] [s]]");
    ValueCell* held = stack_push(o);
    ValueCell* fresh = unset_push();
    ValueCell deep = *object_copy(held, fresh, nullptr, true, nullptr);
    for (const char* name : {"s", "b", "p"})
        EXPECT_NE(field(o, name).data2, field(&deep, name).data2) << name;
    ValueCell b1 = field(o, "b"), b2 = field(&deep, "b");
    EXPECT_NE(block_cell_at(&b1, 1)->data2, block_cell_at(&b2, 1)->data2);
    EXPECT_NE(block_cell_at(&b1, 2)->data2, block_cell_at(&b2, 2)->data2);
    EXPECT_EQ(mold(deep, false, false, true), mold(*o, false, false, true));
    ValueCell f = field(&deep, "f");
    EXPECT_EQ(block_cell_at(function_more(&f, MORE_BODY), 0)->data1, deep.data1);
    EXPECT_EQ(deep.data2, o->data2);  // same class

    // A shallow copy shares the series but not the context.
    ValueCell* fresh2 = unset_push();
    ValueCell shallow = *object_copy(held, fresh2, nullptr, false, nullptr);
    EXPECT_NE(shallow.data1, o->data1);
    EXPECT_EQ(field(o, "s").data2, field(&shallow, "s").data2);

    ValueCell part = integer(1);
    ValueCell err = caught([&] { object_copy(held, fresh2, &part, false, nullptr); });
    EXPECT_EQ(id_of(err), "invalid-refine-arg");
}

TEST_F(ObjectTest, CopyDeepAlsoCopiesBinaryAndVectorFields) {
    ValueCell* o = make_object("[bin: none vec: none]");
    set_field(o, "bin", byte_series(TYPE_BINARY, "bytes"));
    set_field(o, "vec", byte_series(TYPE_VECTOR, "cells"));
    ValueCell* held = stack_push(o);
    ValueCell* fresh = unset_push();
    ValueCell deep = *object_copy(held, fresh, nullptr, true, nullptr);
    for (const char* name : {"bin", "vec"}) {
        ValueCell a = field(o, name), b = field(&deep, name);
        EXPECT_NE(a.data2, b.data2) << name;
        EXPECT_EQ(std::memcmp(series_of(&a)->head_ptr(), series_of(&b)->head_ptr(), 5), 0);
    }
    ValueCell shallow = *object_copy(held, fresh, nullptr, false, nullptr);
    EXPECT_EQ(field(o, "bin").data2, field(&shallow, "bin").data2);
    // make with an object as its spec copies them the same way.
    ValueCell* proto = stack_push_cell();
    datatype_box(proto, TYPE_OBJECT);
    ValueCell made = *object_make(proto, held, TYPE_OBJECT);
    EXPECT_NE(field(o, "bin").data2, field(&made, "bin").data2);
    EXPECT_NE(field(o, "vec").data2, field(&made, "vec").data2);
}

TEST_F(ObjectTest, CopyWithTypesCopiesOnlyThoseAndStopsOnCycles) {
    ValueCell* o = make_object("[s: \"abc\" b: [1]]");
    ValueCell* held = stack_push(o);
    ValueCell types;
    datatype_box(&types, TYPE_STRING);
    ValueCell* t = stack_push(&types);
    ValueCell* fresh = unset_push();
    ValueCell c = *object_copy(held, fresh, nullptr, false, t);
    EXPECT_NE(field(o, "s").data2, field(&c, "s").data2);
    EXPECT_EQ(field(o, "b").data2, field(&c, "b").data2);
    // An object that holds itself cannot be copied through the type filter.
    set_field(o, "b", *o);
    datatype_box(t, TYPE_OBJECT);
    EXPECT_EQ(error_of([&] { object_copy(held, fresh, nullptr, true, t); }), Err::internal_no_cycle);
}

TEST_F(ObjectTest, FieldAccessThroughPaths) {
    ValueCell* o = make_object("[a: 1 u: none]");
    ValueCell* u = object_values(o) + 1;
    unset_box(u);
    ValueCell* a = stack_push_cell();
    *a = word("a");
    EXPECT_EQ(int_of(*object_eval_path(o, a, nullptr, nullptr, nullptr, nullptr, 0, false, false,
                                       true, false)),
              1);
    EXPECT_EQ(a->data1, o->data1);  // the element caches its binding
    ValueCell two = integer(2);
    set_field(o, "a", two);
    EXPECT_EQ(int_of(field(o, "a")), 2);
    EXPECT_EQ(mold(reflect(*o, "changed")), "[a]");

    ValueCell* path = load1("[o zz]");
    cell_set_type(path, TYPE_PATH);
    ValueCell* zz = stack_push_cell();
    *zz = word("zz");
    ValueCell err = caught([&] {
        object_eval_path(o, zz, nullptr, path, nullptr, nullptr, 1, false, false, true, false);
    });
    EXPECT_EQ(id_of(err), "invalid-path");
    EXPECT_EQ(first_line(form(err)), "*** Script Error: cannot access zz in path o/zz");
    EXPECT_EQ(object_eval_path(o, zz, nullptr, path, nullptr, nullptr, 1, false, true, true, false)
                  ->type(),
              TYPE_UNSET);
    ValueCell* uw = stack_push_cell();
    *uw = word("u");
    EXPECT_EQ(id_of(caught([&] {
                  object_eval_path(o, uw, nullptr, path, nullptr, nullptr, 1, false, false, true,
                                   false);
              })),
              "unset-path");
    ValueCell* num = stack_push_cell();
    integer_box(num, 1);
    EXPECT_EQ(id_of(caught([&] {
                  object_eval_path(o, num, nullptr, path, nullptr, nullptr, 1, false, false, true,
                                   false);
              })),
              "invalid-path");
}

TEST_F(ObjectTest, SelectPutModify) {
    ValueCell* o = make_object("[a: 1]");
    ValueCell* a = stack_push_cell();
    *a = word("a", TYPE_LIT_WORD);
    ValueCell* r = object_select(o, a, nullptr, false, false, false, false, nullptr, nullptr,
                                 false, false);
    EXPECT_EQ(int_of(*r), 1);
    ValueCell* b = stack_push_cell();
    *b = word("b");
    EXPECT_EQ(object_select(o, b, nullptr, false, false, false, false, nullptr, nullptr, false,
                            false)
                  ->type(),
              TYPE_NONE);
    ValueCell* i = stack_push_cell();
    integer_box(i, 1);
    EXPECT_EQ(error_of([&] {
                  object_select(o, i, nullptr, false, false, false, false, nullptr, nullptr, false,
                                false);
              }),
              Err::script_invalid_type);
    ValueCell* aw = stack_push_cell();
    *aw = word("a");
    ValueCell* v = stack_push_cell();
    integer_box(v, 9);
    object_put(o, aw, v, false);
    EXPECT_EQ(int_of(field(o, "a")), 9);
    EXPECT_EQ(error_of([&] { object_put(o, a, v, false); }), Err::script_invalid_key_type);

    EXPECT_EQ(mold(reflect(*o, "changed")), "[a]");
    ValueCell* changed = stack_push_cell();
    *changed = word("changed");
    object_modify(o, changed, const_cast<ValueCell*>(&g_none_cell), false);
    EXPECT_EQ(mold(reflect(*o, "changed")), "[]");
    EXPECT_EQ(error_of([&] { object_modify(o, changed, v, false); }), Err::script_invalid_arg);
    // The find entry comes from nowhere: object! has none.
    EXPECT_EQ(action_entry(TYPE_OBJECT, ACT_FIND), nullptr);
}

TEST_F(ObjectTest, Reflect) {
    ValueCell* o = make_object("[a: 'b p: none n: 3]");
    ValueCell* path = load1("[x y]");
    cell_set_type(path, TYPE_PATH);
    set_field(o, "p", *path);
    EXPECT_EQ(mold(reflect(*o, "words")), "[a p n]");
    ValueCell words = reflect(*o, "words");
    EXPECT_EQ(block_cell_at(&words, 2)->data1, o->data1);
    EXPECT_EQ(mold(reflect(*o, "values")), "[b x/y 3]");
    EXPECT_EQ(mold(reflect(*o, "body")), "[\n    a: 'b\n    p: 'x/y\n    n: 3\n]");
    EXPECT_EQ(mold(reflect(*o, "events?")), "false");
    EXPECT_EQ(mold(reflect(*o, "owner")), "false");
    EXPECT_EQ(error_of([&] { reflect(*o, "nothing"); }), Err::internal_not_done);
}

TEST_F(ObjectTest, CompareObjects) {
    ValueCell* a = make_object("[x: 1 y: \"s\"]");
    ValueCell* b = make_object("[x: 1 y: \"S\"]");
    ValueCell* c = make_object("[x: 1 y: \"t\"]");
    ValueCell* d = make_object("[x: 1]");
    ValueCell same = *a;
    EXPECT_EQ(object_compare(a, &same, CMP_SAME), 0);
    EXPECT_EQ(object_compare(a, b, CMP_SAME), -1);
    EXPECT_TRUE(action_compare(a, b, CMP_EQUAL));
    EXPECT_FALSE(action_compare(a, b, CMP_STRICT_EQUAL));
    EXPECT_FALSE(action_compare(a, c, CMP_EQUAL));
    EXPECT_EQ(object_compare(a, d, CMP_EQUAL), 1);  // more words is greater
    ValueCell i = integer(1);
    EXPECT_EQ(object_compare(a, &i, CMP_EQUAL), CMP_NOT_COMPARABLE);
    // Objects that hold themselves compare and mold without recursing for ever.
    set_field(a, "y", *a);
    set_field(b, "y", *b);
    EXPECT_EQ(object_compare(a, &same, CMP_EQUAL), 0);
    EXPECT_EQ(object_compare(a, b, CMP_EQUAL), 0);
    EXPECT_EQ(mold(*a), "make object! [\n    x: 1\n    y: make object! [...]\n]");
    EXPECT_EQ(form(*a), "x: 1\ny: make object! [...]");
}

TEST_F(ObjectTest, Construct) {
    ValueCell* spec = load1("[a: b: yes c: off d: none e: \"s\" f:]");
    ValueCell o = *object_construct(spec, nullptr, false);
    EXPECT_EQ(mold(o, false, false, true),
              "make object! [a: true b: true c: false d: none e: \"s\" f: none]");
    ValueCell only = *object_construct(spec, nullptr, true);
    EXPECT_EQ(mold(only, false, false, true),
              "make object! [a: 'yes b: 'yes c: 'off d: 'none e: \"s\" f: none]");
    EXPECT_NE(o.data2, only.data2);
    ValueCell* proto = stack_push(&o);
    ValueCell* more = load1("[a: 1]");
    ValueCell same = *object_construct(more, proto, false);
    EXPECT_EQ(same.data2, o.data2);
    EXPECT_NE(same.data1, o.data1);
    ValueCell* grow = load1("[z: 1]");
    EXPECT_NE(object_construct(grow, proto, false)->data2, o.data2);
}

TEST_F(ObjectTest, SetMany) {
    ValueCell* o = make_object("[a: 1 b: 2 c: 3]");
    ValueCell* vals = load1("[10 20]");
    object_set_many(o, vals, false, false, false);
    EXPECT_EQ(mold(*o, false, false, true), "make object! [a: 10 b: 20 c: none]");
    ValueCell* src = make_object("[c: 30 zz: 0]");
    object_set_many(o, src, false, false, false);
    EXPECT_EQ(mold(*o, false, false, true), "make object! [a: 10 b: 20 c: 30]");
    ValueCell* somes = blk({g_none_cell, integer(5), g_none_cell});
    object_set_many(o, somes, false, false, true);
    EXPECT_EQ(mold(*o, false, false, true), "make object! [a: 10 b: 5 c: 30]");
    ValueCell* one = load1("[7]");
    object_set_many(o, one, false, true, false);
    EXPECT_EQ(mold(*o, false, false, true), "make object! [a: [7] b: [7] c: [7]]");
    ValueCell* unset = stack_push_cell();
    unset_box(unset);
    ValueCell err = caught([&] { object_set_many(o, unset, false, false, false); });
    EXPECT_EQ(id_of(err), "need-value");
    EXPECT_EQ(mold(*error_field(&err, ERR_FIELD_ARG1)), "a");
    object_set_many(o, unset, true, false, false);
    EXPECT_EQ(field(o, "b").type(), TYPE_UNSET);
}

// ---- change handlers ------------------------------------------------------------------------------

TEST_F(ObjectTest, HandlerOfTheWrongTypeIsRefused) {
    ValueCell* s = load1("[on-change*: 1]");
    ValueCell* proto = stack_push_cell();
    datatype_box(proto, TYPE_OBJECT);
    ValueCell err = caught([&] { object_make(proto, s, TYPE_OBJECT); });
    EXPECT_EQ(id_of(err), "bad-field-set");
    EXPECT_EQ(mold(*error_field(&err, ERR_FIELD_ARG1)), "on-change*");
    EXPECT_EQ(mold(*error_field(&err, ERR_FIELD_ARG2)), "integer!");
}

TEST_F(ObjectTest, OnChangeRunsOnceAfterTheStore) {
    ValueCell* o = make_object("[a: 1 on-change*: func [word old new] []]");
    ASSERT_NE(o->data3, 0u);
    EXPECT_EQ(mold(reflect(*o, "events?")), "true");
    ObjectHandlerSlot slot = object_event_slot(o->data3, 0);
    EXPECT_EQ(slot.index, 1);
    EXPECT_EQ(object_event_slot(o->data3, 1).index, -1);
    calls().clear();
    set_field(o, "a", integer(5));
    ASSERT_EQ(calls().size(), 1u);
    const HandlerCall& c = calls()[0];
    EXPECT_EQ(c.name, "on-change*");
    EXPECT_EQ(c.callback, CALLBACK_ON_CHANGE);
    ASSERT_EQ(c.args.size(), 3u);
    EXPECT_EQ(c.args[0], "a");
    EXPECT_EQ(c.args[1], "1");
    EXPECT_EQ(c.args[2], "5");
    EXPECT_EQ(int_of(field(o, "a")), 5);
    // The handler's identity and /local count are cached now.
    EXPECT_EQ(object_event_slot(o->data3, 0).identity, field(o, "on-change*").data2);
    // form and mold leave the handler out unless /all.
    EXPECT_EQ(mold(*o, false, false, true), "make object! [a: 5]");
    EXPECT_NE(mold(*o, false, true, true).find("on-change*: func [word old new][]"),
              std::string::npos);
}

TEST_F(ObjectTest, TheContextSetterFiresTheHandlerToo) {
    ValueCell* o = make_object("[a: 1 on-change*: func [w o n] []]");
    ValueCell w = bound_word_of(o, "a");
    calls().clear();
    ValueCell* before = g_stack.top;
    ValueCell v = integer(2);
    context_set(&w, &v);
    EXPECT_EQ(g_stack.top, before);
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].args[1], "1");
    EXPECT_EQ(calls()[0].args[2], "2");
}

TEST_F(ObjectTest, HandlerLocalsArePushedAsUnusedRefinement) {
    ValueCell* o = make_object("[a: 1 on-change*: func [w o n /local x y] []]");
    calls().clear();
    set_field(o, "a", integer(2));
    ASSERT_EQ(calls().size(), 1u);
    ASSERT_EQ(calls()[0].args.size(), 6u);
    EXPECT_EQ(calls()[0].args[3], "false");
    EXPECT_EQ(calls()[0].args[4], "none");
    EXPECT_EQ(calls()[0].args[5], "none");
    EXPECT_EQ(object_event_slot(o->data3, 0).locals, 3);
}

TEST_F(ObjectTest, SetManySkipsTheHandlerSlots) {
    ValueCell* o = make_object("[a: 1 on-change*: func [w o n] [] b: 2]");
    ValueCell* f = make_func("[w o n] [1]");
    ValueCell* vals = blk({integer(10), *f, integer(20)});
    calls().clear();
    object_set_many(o, vals, false, false, false);
    ASSERT_EQ(calls().size(), 2u);  // a and b, not the handler slot
    EXPECT_EQ(calls()[0].args[0], "a");
    EXPECT_EQ(calls()[1].args[0], "b");
    EXPECT_EQ(field(o, "on-change*").data3, f->data3);
    // The new handler's /local count is computed when it first runs.
    calls().clear();
    set_field(o, "a", integer(11));
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(object_event_slot(o->data3, 0).identity, f->data2);
}

TEST_F(ObjectTest, AHandlerThatIsNoLongerAFunctionRaises) {
    ValueCell* o = make_object("[a: 1 on-change*: func [w o n] []]");
    object_values(o)[1] = integer(3);
    ValueCell err = caught([&] { set_field(o, "a", integer(2)); });
    EXPECT_EQ(id_of(err), "invalid-obj-evt");
    EXPECT_EQ(mold(*error_field(&err, ERR_FIELD_ARG1)), "3");
    // The store happened before the handler was looked at.
    EXPECT_EQ(int_of(field(o, "a")), 2);
}

TEST_F(ObjectTest, NoHandlerNoCall) {
    ValueCell* o = make_object("[a: 1]");
    EXPECT_EQ(o->data3, 0u);
    i32 locals = -1;
    EXPECT_EQ(object_handler_due(o, 0, &locals), nullptr);
    calls().clear();
    set_field(o, "a", integer(2));
    EXPECT_TRUE(calls().empty());
    // A deep handler only: stores do not call anything.
    ValueCell* d = make_object("[a: 1 on-deep-change*: func [o w t a n i p] []]");
    ASSERT_NE(d->data3, 0u);
    EXPECT_EQ(object_handler_due(d, 0, &locals), nullptr);
    EXPECT_NE(object_handler_due(d, 1, &locals), nullptr);
    set_field(d, "a", integer(2));
    EXPECT_TRUE(calls().empty());
}

TEST_F(ObjectTest, AttachEventsFromCounts) {
    Node ctx = context_create(3, false, true, nullptr, CTX_OBJECT);
    ValueCell* root = stack_push_cell();
    cell_init(root, TYPE_OBJECT, ctx);
    const char* names[] = {"a", "on-change*", "b"};
    for (const char* n : names) {
        ValueCell w = word(n);
        context_add_word(context_cell(ctx), &w);
    }
    ValueCell* f = make_func("[w o n /local t] []");
    context_values_head(context_cell(ctx))[1] = *f;
    ValueCell* obj = object_push_from_context(ctx, 42);
    Node rec = object_attach_events(ctx, 1, 2, -1, 0);
    EXPECT_EQ(obj->data3, rec);
    EXPECT_EQ(context_owner(ctx)->data3, rec);
    ObjectHandlerSlot s = object_event_slot(rec, 0);
    EXPECT_EQ(s.index, 1);
    EXPECT_EQ(s.locals, 2);
    EXPECT_EQ(s.identity, f->data2);
    EXPECT_EQ(object_event_slot(rec, 1).index, -1);
    EXPECT_EQ(obj->data2, 42u);
    calls().clear();
    set_field(obj, "b", integer(1));
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].args.size(), 5u);
    ValueCell* holder = bind_global("holder", *obj);
    EXPECT_TRUE(word_value_is_object_q(holder, 42));
    EXPECT_FALSE(word_value_is_object_q(holder, 43));
    EXPECT_FALSE(object_value_is_object_q(ctx, 0, 42));
}

TEST_F(ObjectTest, MakeAndCopyUnderCollectorStress) {
    g_gc.enabled = true;
    set_collect_stress(true);
    ValueCell* proto = make_object("[s: \"abc\" b: [1 [2]] f: func [x] [x s]]");
    for (int k = 0; k < 3; k++) {
        ValueCell* o = make_from(proto, "[n: 1]");
        ValueCell* fresh = unset_push();
        ValueCell deep = *object_copy(o, fresh, nullptr, true, nullptr);
        EXPECT_EQ(mold(deep, false, false, true),
                  "make object! [s: \"abc\" b: [1 [2]] f: func [x][x s] n: 1]");
    }
}

}  // namespace
}  // namespace zan::test
