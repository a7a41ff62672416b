// map!: make and to, keys and their normalisation, path access, put,
// select, find, remove and revival, extend, clear, copy, reflection, text
// forms, comparison and the foreach step.
#include <cstring>

#include "fn_test_support.h"
#include "runtime/datatypes/map.h"

namespace zan::test {
namespace {

class MapTest : public FnTest {
protected:
    // make map! from a source (the map stays pushed).
    static ValueCell* mk(const std::string& src) {
        ValueCell* spec = load1(src);
        ValueCell proto;
        datatype_box(&proto, TYPE_MAP);
        ValueCell* r = action_make_dispatch(&proto, spec);
        ValueCell m = *r;
        g_stack.top = spec;
        return stack_push(&m);
    }
    static std::string flat(const ValueCell& v) { return mold(v, false, false, true); }
    static i32 len(ValueCell* m) { return action_length_q_dispatch(m); }
    static ValueCell sel(ValueCell* m, ValueCell key, bool case_sensitive = false) {
        ValueCell* k = stack_push(&key);
        ValueCell r = *action_select_dispatch(m, k, nullptr, false, case_sensitive, false, false,
                                              nullptr, nullptr, false, false);
        g_stack.top = k;
        return r;
    }
    static ValueCell fnd(ValueCell* m, ValueCell key) {
        ValueCell* k = stack_push(&key);
        ValueCell r = *action_find_dispatch(m, k, nullptr, false, false, false, false, nullptr,
                                            nullptr, false, false, false, false);
        g_stack.top = k;
        return r;
    }
    static void put(ValueCell* m, ValueCell key, ValueCell value, bool case_sensitive = false) {
        ValueCell* k = stack_push(&key);
        ValueCell* v = stack_push(&value);
        action_put_dispatch(m, k, v, case_sensitive);
        g_stack.top = k;
    }
    // A path get (value null) or set through the eval-path dispatcher.
    static ValueCell path(ValueCell* m, ValueCell element, const ValueCell* value = nullptr) {
        ValueCell* e = stack_push(&element);
        ValueCell* v = value ? stack_push(value) : nullptr;
        ValueCell r = *action_eval_path_dispatch(m, e, v, nullptr, nullptr, nullptr, -1, false,
                                                 false, true, false);
        g_stack.top = e;
        return r;
    }
    static void remove_key(ValueCell* m, ValueCell key) {
        ValueCell* k = stack_push(&key);
        action_remove_dispatch(m, nullptr, k);
        g_stack.top = k;
    }
    static bool equal(ValueCell* a, ValueCell* b, i32 op) { return action_compare(a, b, op); }
    static ValueCell* text_value(const char* s) { return str(s); }
};

TEST_F(MapTest, MakeMoldAndForm) {
    ValueCell* m = mk("[a 1 \"x\" 2]");
    EXPECT_EQ(m->type(), TYPE_MAP);
    EXPECT_EQ(len(m), 2);
    EXPECT_EQ(mold(*m), "#[\n    a: 1\n    \"x\" 2\n]");
    EXPECT_EQ(flat(*m), "#[a: 1 \"x\" 2]");
    EXPECT_EQ(form(*m), "a: 1\n\"x\" 2");
    EXPECT_EQ(mold(*m, true), "a: 1\n\"x\" 2");
    EXPECT_EQ(mold(*mk("[]")), "#[]");
    EXPECT_EQ(form(*mk("[]")), "");
    // A nested map indents one level further and closes at its own level.
    ValueCell* outer = mk("[k 0]");
    put(outer, word("k"), *mk("[b [1 2]]"));
    EXPECT_EQ(mold(*outer), "#[\n    k: #[\n        b: [1 2]\n    ]\n]");
}

TEST_F(MapTest, RepeatedKeysKeepTheirFirstPlaceAndTakeTheLastValue) {
    ValueCell* m = mk("[a 1 b 2 a 3]");
    EXPECT_EQ(len(m), 2);
    EXPECT_EQ(flat(*m), "#[a: 3 b: 2]");
    // Word keys of every kind are the same key.
    ValueCell* w = mk("[a 1 a: 2 :a 3 'a 4]");
    EXPECT_EQ(len(w), 1);
    EXPECT_EQ(flat(*w), "#[a: 4]");
}

TEST_F(MapTest, MakeAndToErrors) {
    struct Case {
        const char* what;
        bool to;
        ValueCell spec;
        Err id;
    };
    ValueCell odd = *load1("[a 1 b]");
    ValueCell block_key = *load1("[[1] 2]");
    ValueCell text = *str("abc");
    const Case cases[] = {
        {"odd block", false, odd, Err::script_invalid_arg},
        {"odd block to", true, odd, Err::script_invalid_arg},
        {"negative size", false, integer(-1), Err::script_out_of_range},
        {"to a number", true, integer(3), Err::script_bad_to_arg},
        {"make from text", false, text, Err::script_bad_to_arg},
        {"to text", true, text, Err::script_bad_to_arg},
        {"block key", false, block_key, Err::script_invalid_path},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ValueCell proto;
        datatype_box(&proto, TYPE_MAP);
        ValueCell spec = c.spec;
        EXPECT_EQ(error_of([&] {
                      if (c.to) action_to_dispatch(&proto, &spec);
                      else action_make_dispatch(&proto, &spec);
                  }),
                  c.id);
    }
}

TEST_F(MapTest, MakeFromASizeOrAnotherMap) {
    ValueCell proto;
    datatype_box(&proto, TYPE_MAP);
    ValueCell n = integer(10);
    ValueCell* m = stack_push(action_make_dispatch(&proto, &n));
    EXPECT_EQ(len(m), 0);
    EXPECT_EQ(mold(*m), "#[]");
    put(m, word("x"), integer(1));
    ValueCell* copy = stack_push(action_to_dispatch(&proto, m));
    EXPECT_NE(copy->data2, m->data2);
    put(copy, word("y"), integer(2));
    EXPECT_EQ(flat(*m), "#[x: 1]");
    EXPECT_EQ(flat(*copy), "#[x: 1 y: 2]");
}

TEST_F(MapTest, WordKeysOfEveryKindMeetTheSameEntry) {
    ValueCell* m = mk("[a 1]");
    for (u32 t : {TYPE_WORD, TYPE_SET_WORD, TYPE_GET_WORD, TYPE_LIT_WORD}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(int_of(sel(m, word("a", t))), 1);
        EXPECT_EQ(int_of(path(m, word("a", t))), 1);
    }
    // Case does not matter unless asked for.
    EXPECT_EQ(int_of(sel(m, word("A"))), 1);
    EXPECT_EQ(sel(m, word("A"), true).type(), TYPE_NONE);
    // Refinement and issue keys stay keys of their own type.
    put(m, word("a", TYPE_REFINEMENT), integer(2));
    EXPECT_EQ(len(m), 2);
    EXPECT_EQ(int_of(sel(m, word("a", TYPE_REFINEMENT))), 2);
    EXPECT_EQ(int_of(sel(m, word("a"))), 1);
}

TEST_F(MapTest, KeysOfDifferentTypesAreDifferentKeys) {
    ValueCell* m = mk("[]");
    ValueCell f;
    cell_init(&f, TYPE_FLOAT);
    f.put_float(1.0);
    put(m, integer(1), integer(10));
    put(m, f, integer(20));
    put(m, chr(1), integer(30));
    put(m, integer(1), integer(11));
    EXPECT_EQ(len(m), 3);
    EXPECT_EQ(int_of(sel(m, integer(1))), 11);
    EXPECT_EQ(int_of(sel(m, f)), 20);
    EXPECT_EQ(int_of(sel(m, chr(1))), 30);
}

TEST_F(MapTest, PathSetRemoveAndReviveInPlace) {
    ValueCell* m = mk("[a 1 c 3]");
    ValueCell three = integer(2);
    EXPECT_EQ(int_of(path(m, word("b"), &three)), 2);  // a set returns the value
    EXPECT_EQ(len(m), 3);
    EXPECT_EQ(flat(*m), "#[a: 1 c: 3 b: 2]");
    remove_key(m, word("b"));
    EXPECT_EQ(len(m), 2);
    EXPECT_EQ(path(m, word("b")).type(), TYPE_NONE);
    EXPECT_EQ(sel(m, word("b")).type(), TYPE_NONE);
    EXPECT_EQ(fnd(m, word("b")).type(), TYPE_NONE);
    EXPECT_EQ(flat(*m), "#[a: 1 c: 3]");
    // Removing an absent key changes nothing.
    remove_key(m, word("zz"));
    EXPECT_EQ(len(m), 2);
    // Setting it again revives the entry where it was first added.
    ValueCell four = integer(4);
    path(m, word("b"), &four);
    EXPECT_EQ(len(m), 3);
    EXPECT_EQ(flat(*m), "#[a: 1 c: 3 b: 4]");
    remove_key(m, word("a"));
    put(m, word("a"), integer(5));
    EXPECT_EQ(flat(*m), "#[a: 5 c: 3 b: 4]");
}

TEST_F(MapTest, NoneIsStoredAsAValue) {
    ValueCell* m = mk("[a 1]");
    put(m, word("a"), g_none_cell);
    EXPECT_EQ(len(m), 1);
    EXPECT_EQ(sel(m, word("a")).type(), TYPE_NONE);
    EXPECT_EQ(fnd(m, word("a")).type(), TYPE_WORD);
    EXPECT_EQ(flat(*m), "#[a: none]");
}

TEST_F(MapTest, FindGivesTheStoredKeyAsAWord) {
    ValueCell* m = mk("[a 1 \"Key\" 2]");
    ValueCell k = fnd(m, word("a", TYPE_LIT_WORD));
    EXPECT_EQ(k.type(), TYPE_WORD);
    EXPECT_STREQ(symbol_to_cstr(k.data2), "a");
    ValueCell s = fnd(m, *str("key"));
    ASSERT_EQ(s.type(), TYPE_STRING);
    EXPECT_EQ(text(&s), "Key");
    EXPECT_EQ(fnd(m, word("b")).type(), TYPE_NONE);
    // select/case and find/case compare text keys exactly.
    EXPECT_EQ(int_of(sel(m, *str("KEY"))), 2);
    EXPECT_EQ(sel(m, *str("KEY"), true).type(), TYPE_NONE);
    EXPECT_EQ(int_of(sel(m, *str("Key"), true)), 2);
}

TEST_F(MapTest, TextKeysAreCopies) {
    ValueCell* m = mk("[]");
    ValueCell* s = str("k");
    put(m, *s, integer(1));
    string_append_cstr(s, "x");
    EXPECT_EQ(text(s), "kx");
    EXPECT_EQ(int_of(sel(m, *str("k"))), 1);
    EXPECT_EQ(sel(m, *str("kx")).type(), TYPE_NONE);
    EXPECT_EQ(flat(*m), "#[\"k\" 1]");
    // A key is taken from the string's index.
    ValueCell tail = *str("abc");
    tail.data1 = 1;
    put(m, tail, integer(2));
    EXPECT_EQ(int_of(sel(m, *str("bc"))), 2);
}

TEST_F(MapTest, KeysOfOtherTypesAreRefused) {
    ValueCell* m = mk("[]");
    ValueCell b = *load1("[1]");
    EXPECT_EQ(error_of([&] { put(m, b, integer(1)); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { put(m, g_none_cell, integer(1)); }), Err::script_invalid_path);
    EXPECT_EQ(len(m), 0);
    // A lookup of such a key just finds nothing.
    EXPECT_EQ(sel(m, b).type(), TYPE_NONE);
    for (u32 t = 1; t <= TYPE_LAST; t++) {
        bool ok = (t >= TYPE_STRING && t <= TYPE_FLOAT) || (t >= TYPE_WORD && t <= TYPE_ISSUE) ||
                  t == TYPE_PAIR || t == TYPE_PERCENT || t == TYPE_TUPLE || t == TYPE_BINARY ||
                  t == TYPE_TIME || t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_DATE ||
                  t == TYPE_MONEY || t == TYPE_REF || t == TYPE_POINT2D || t == TYPE_POINT3D;
        EXPECT_EQ(map_key_type_ok(t), ok) << t;
    }
}

TEST_F(MapTest, RemoveNeedsKey) {
    ValueCell* m = mk("[a 1]");
    EXPECT_EQ(error_of([&] { action_remove_dispatch(m, nullptr, nullptr); }),
              Err::script_missing_arg);
    EXPECT_EQ(len(m), 1);
}

TEST_F(MapTest, ClearEmptiesTheMap) {
    ValueCell* m = mk("[a 1 b 2]");
    action_clear_dispatch(m);
    EXPECT_EQ(len(m), 0);
    EXPECT_EQ(mold(*m), "#[]");
    EXPECT_EQ(sel(m, word("a")).type(), TYPE_NONE);
    put(m, word("b"), integer(3));
    EXPECT_EQ(flat(*m), "#[b: 3]");
}

TEST_F(MapTest, ExtendAddsAndReplaces) {
    ValueCell* m = mk("[\"a\" 1 b 2]");
    ValueCell* more = load1("[\"A\" 10 c 3]");
    map_extend_from_block(m, more, false);
    EXPECT_EQ(flat(*m), "#[\"a\" 10 b: 2 c: 3]");
    ValueCell* cased = load1("[\"A\" 20]");
    map_extend_from_block(m, cased, true);
    EXPECT_EQ(flat(*m), "#[\"a\" 10 b: 2 c: 3 \"A\" 20]");
    // A removed key is revived by extend.
    remove_key(m, word("b"));
    ValueCell* again = load1("[b 7]");
    map_extend_from_block(m, again, false);
    EXPECT_EQ(len(m), 4);
    EXPECT_EQ(flat(*m), "#[\"a\" 10 b: 7 c: 3 \"A\" 20]");
    // Another map's live entries.
    ValueCell* other = mk("[d 4 e 5]");
    remove_key(other, word("d"));
    map_extend_from_block(m, other, false);
    EXPECT_EQ(flat(*m), "#[\"a\" 10 b: 7 c: 3 \"A\" 20 e: 5]");
    ValueCell* odd = load1("[x]");
    EXPECT_EQ(error_of([&] { map_extend_from_block(m, odd, false); }), Err::script_invalid_arg);
}

TEST_F(MapTest, CopyShallowDeepAndTyped) {
    ValueCell* m = mk("[a [1 2] s \"t\"]");
    ValueCell* fresh = unset_push();
    ValueCell* shallow = stack_push(action_copy_dispatch(m, fresh, nullptr, false, nullptr));
    ASSERT_EQ(shallow->type(), TYPE_MAP);
    EXPECT_NE(shallow->data2, m->data2);
    EXPECT_NE(shallow->data3, m->data3);
    EXPECT_EQ(sel(shallow, word("a")).data2, sel(m, word("a")).data2);
    put(shallow, word("z"), integer(0));
    EXPECT_EQ(len(m), 2);
    EXPECT_EQ(len(shallow), 3);
    // The copy's table is its own and finds its own keys.
    EXPECT_EQ(int_of(sel(shallow, word("z"))), 0);
    EXPECT_EQ(sel(m, word("z")).type(), TYPE_NONE);

    fresh = unset_push();
    ValueCell* deep = stack_push(action_copy_dispatch(m, fresh, nullptr, true, nullptr));
    EXPECT_NE(sel(deep, word("a")).data2, sel(m, word("a")).data2);
    EXPECT_NE(sel(deep, word("s")).data2, sel(m, word("s")).data2);
    EXPECT_EQ(flat(*deep), flat(*m));

    // /deep /types: only values of the given types are copied.
    ValueCell blocks;
    datatype_box(&blocks, TYPE_BLOCK);
    fresh = unset_push();
    ValueCell* typed = stack_push(action_copy_dispatch(m, fresh, nullptr, true, &blocks));
    EXPECT_NE(sel(typed, word("a")).data2, sel(m, word("a")).data2);
    EXPECT_EQ(sel(typed, word("s")).data2, sel(m, word("s")).data2);
    // A map inside itself stops a typed deep copy.
    put(m, word("self"), *m);
    ValueCell maps;
    datatype_box(&maps, TYPE_MAP);
    EXPECT_EQ(error_of([&] {
                  ValueCell* f = unset_push();
                  action_copy_dispatch(m, f, nullptr, true, &maps);
              }),
              Err::internal_no_cycle);
}

TEST_F(MapTest, Reflect) {
    ValueCell* m = mk("[a 1 \"s\" 2 b 3]");
    remove_key(m, word("b"));
    EXPECT_EQ(mold(reflect(*m, "words")), "[a \"s\"]");
    ValueCell words = reflect(*m, "words");
    EXPECT_EQ(block_cell_at(&words, 0)->type(), TYPE_WORD);
    EXPECT_EQ(mold(reflect(*m, "values")), "[1 2]");
    EXPECT_EQ(mold(reflect(*m, "body")), "[\n    a: 1\n    \"s\" 2\n]");
    ValueCell body = reflect(*m, "body");
    EXPECT_EQ(block_cell_at(&body, 0)->type(), TYPE_SET_WORD);
    EXPECT_EQ(mold(reflect(*mk("[]"), "words")), "[]");
    EXPECT_EQ(error_of([&] { reflect(*m, "spec"); }), Err::internal_not_done);
    // to block! goes through the same body.
    ValueCell proto;
    datatype_box(&proto, TYPE_BLOCK);
    EXPECT_EQ(flat(*action_to_dispatch(&proto, m)), "[a: 1 \"s\" 2]");
}

TEST_F(MapTest, Compare) {
    ValueCell* a = mk("[x 1 y \"t\"]");
    ValueCell* b = mk("[y \"t\" x 1]");
    ValueCell* c = mk("[x 1 y \"T\"]");
    ValueCell* d = mk("[x 1 y 2]");
    ValueCell* e = mk("[x 1]");
    EXPECT_TRUE(equal(a, a, CMP_SAME));
    EXPECT_FALSE(equal(a, b, CMP_SAME));
    EXPECT_TRUE(equal(a, b, CMP_EQUAL));
    EXPECT_TRUE(equal(a, b, CMP_STRICT_EQUAL));
    EXPECT_TRUE(equal(a, c, CMP_EQUAL));
    EXPECT_FALSE(equal(a, c, CMP_STRICT_EQUAL));
    EXPECT_FALSE(equal(a, d, CMP_EQUAL));
    EXPECT_TRUE(equal(a, d, CMP_NOT_EQUAL));
    EXPECT_FALSE(equal(a, e, CMP_EQUAL));
    EXPECT_TRUE(equal(mk("[]"), mk("[]"), CMP_EQUAL));
    // Keys equal up to case are tried until one holds an equal value.
    ValueCell* k1 = mk("[\"k\" 1 \"K\" 2]");
    ValueCell* k2 = mk("[\"K\" 1 \"k\" 2]");
    EXPECT_FALSE(equal(k1, k2, CMP_STRICT_EQUAL));
    ValueCell* k3 = mk("[\"k\" 2 \"K\" 1]");
    EXPECT_TRUE(equal(k1, k3, CMP_EQUAL));
    // Removed entries do not count.
    ValueCell* f = mk("[x 1 z 0 y \"t\"]");
    remove_key(f, word("z"));
    EXPECT_TRUE(equal(a, f, CMP_EQUAL));
    // Not comparable with other types; no ordering of maps by content.
    ValueCell i = integer(1);
    EXPECT_FALSE(equal(a, &i, CMP_EQUAL));
    EXPECT_EQ(error_of([&] { equal(a, b, CMP_LESSER); }), Err::script_invalid_compare);
    // A map that holds itself compares without looping.
    put(a, word("me"), *a);
    put(b, word("me"), *b);
    EXPECT_TRUE(equal(a, b, CMP_EQUAL));
    EXPECT_EQ(flat(*a), "#[x: 1 y: \"t\" me: #[...]]");
    EXPECT_EQ(form(*a), "x: 1\ny: \"t\"\nme: #[...]");
}

TEST_F(MapTest, MoldStopsAtThePartLimit) {
    ValueCell m = *mk("[a 1 b 2 c 3]");
    ValueCell r = call({m, integer(9)}, [] { action_mold(-1, -1, 1, 1); });
    EXPECT_EQ(text(&r), "#[a: 1 b:");
    ValueCell f = call({m, integer(7)}, [] { action_form(1); });
    EXPECT_EQ(text(&f), "a: 1\nb:");
}

TEST_F(MapTest, ForeachStepSkipsRemovedEntries) {
    ValueCell* m = mk("[a 1 b 2 c 3]");
    remove_key(m, word("b"));
    ValueCell* words = load1("[k v]");
    ValueCell* loop = stack_push(m);
    loop->data1 = 0;
    ValueCell k = word("k"), v = word("v");
    ASSERT_TRUE(map_set_words(words, loop, 2));
    EXPECT_EQ(context_get(&k)->type(), TYPE_WORD);
    EXPECT_STREQ(symbol_to_cstr(context_get(&k)->data2), "a");
    EXPECT_EQ(int_of(*context_get(&v)), 1);
    ASSERT_TRUE(map_set_words(words, loop, 2));
    EXPECT_STREQ(symbol_to_cstr(context_get(&k)->data2), "c");
    EXPECT_EQ(int_of(*context_get(&v)), 3);
    EXPECT_FALSE(map_set_words(words, loop, 2));
    EXPECT_EQ(context_get(&k)->type(), TYPE_NONE);
    EXPECT_EQ(context_get(&v)->type(), TYPE_NONE);
    ValueCell* bad = load1("[k 1]");
    loop->data1 = 0;
    EXPECT_EQ(error_of([&] { map_set_words(bad, loop, 2); }), Err::script_invalid_arg);
}

TEST_F(MapTest, LiteralMaker) {
    ValueCell cells[6];
    cells[0] = word("a");
    cells[0].header |= CELL_NEW_LINE;
    cells[1] = integer(1);
    cells[2] = word("b", TYPE_SET_WORD);
    cells[3] = integer(2);
    cells[4] = word("a", TYPE_LIT_WORD);
    cells[5] = integer(3);
    ValueCell* m = unset_push();
    map_make_from_cells(m, cells, 6);
    EXPECT_EQ(flat(*m), "#[a: 3 b: 2]");
    EXPECT_EQ(map_count(m), 2);
    map_make_from_cells(m, cells, 0);
    EXPECT_EQ(mold(*m), "#[]");
}

TEST_F(MapTest, ManyKeysSurviveGrowthAndCollection) {
    ValueCell* m = mk("[]");
    g_gc.enabled = true;
    for (i32 i = 0; i < 300; i++) {
        std::string k = "key" + std::to_string(i);
        put(m, *str(k), integer(i));
        g_stack.top--;  // the key's text
    }
    gc_collect();
    EXPECT_EQ(len(m), 300);
    for (i32 i = 0; i < 300; i += 37) {
        std::string k = "KEY" + std::to_string(i);
        EXPECT_EQ(int_of(sel(m, *str(k))), i) << k;
        g_stack.top--;
    }
    g_gc.enabled = false;
}

}  // namespace
}  // namespace zan::test
