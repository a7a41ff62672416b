// find and select on text of 1-, 2- and 4-byte units, and on binary! and
// vector! series, which take the same entries.
#include <cstring>

#include "search_test_support.h"

namespace zan::test {
namespace {

class StringSearchTest : public SearchTest {
protected:
    // A series of raw elements (binary! bytes, vector! elements).
    static ValueCell* raw(u32 type, u32 unit, const void* data, u32 n, u32 element_type = 0) {
        Node node = alloc_series(n ? n : 1, unit, 0);
        SeriesBuffer* b = node_buffer(node);
        std::memcpy(b->head_ptr(), data, static_cast<size_t>(n) * unit);
        b->tail = b->head + n * unit;
        ValueCell* c = stack_push_cell();
        cell_init(c, type, 0, node, element_type);
        return c;
    }
    static i32 sfind(ValueCell* s, const ValueCell& value, const Find& f = {}) {
        ValueCell v = value, part, skip;
        ValueCell* r =
            string_find(s, &v, icell(f.part, &part), f.only, f.case_, f.same, false, nullptr,
                        icell(f.skip, &skip), f.last, f.reverse, f.tail, f.match);
        return r->type() == TYPE_NONE ? -1 : series_index(r);
    }
    // A bitset! holding the given code points.
    static ValueCell bitset_of(std::initializer_list<u32> cps, bool complement = false) {
        u32 max = 0;
        for (u32 c : cps)
            max = c > max ? c : max;
        Node n = alloc_bytes_filled(max / 8 + 1, 0);
        SeriesBuffer* b = node_buffer(n);
        b->tail = b->head + max / 8 + 1;
        for (u32 c : cps)
            b->head_ptr()[c >> 3] |= static_cast<u8>(0x80u >> (c & 7));
        if (complement) b->flags |= SERIES_COMPLEMENT;
        ValueCell v;
        cell_init(&v, TYPE_BITSET, 0, n);
        // The pushed copy keeps the set alive while the caller uses its copy.
        stack_push(&v);
        return v;
    }
};

struct TextFindCase {
    const char* text;
    i32 index;
    const char* key;  // one token of the test reader: #"c", "text", a word, a number
    Find f;
    i32 want;
};

const TextFindCase kTextFind[] = {
    {"abcabc", 0, "#\"b\"", {}, 1},
    {"abcabc", 0, "#\"B\"", {}, 1},
    {"abcabc", 0, "#\"B\"", {.case_ = true}, -1},
    {"abcabc", 0, "#\"B\"", {.same = true}, -1},
    {"abcabc", 0, "\"ca\"", {.only = true}, 2},  // /only changes nothing on text
    {"abcabc", 0, "#\"b\"", {.last = true}, 4},
    {"abcabc", 6, "#\"b\"", {.reverse = true}, 4},
    {"abcabc", 4, "#\"b\"", {.reverse = true}, 1},
    {"abcabc", 0, "#\"b\"", {.tail = true}, 2},
    {"abcabc", 6, "#\"b\"", {.reverse = true, .tail = true}, 5},
    {"abcabc", 0, "\"bc\"", {}, 1},
    {"abcabc", 0, "\"BC\"", {}, 1},
    {"abcabc", 0, "\"BC\"", {.case_ = true}, -1},
    {"abcabc", 0, "\"bc\"", {.last = true}, 4},
    {"abcabc", 0, "\"bc\"", {.tail = true}, 3},
    {"abcabc", 6, "\"bc\"", {.reverse = true}, 4},
    {"abcabc", 0, "\"ab\"", {.match = true}, 0},
    {"abcabc", 0, "\"ab\"", {.tail = true, .match = true}, 2},
    {"abcabc", 0, "\"bc\"", {.match = true}, -1},
    {"abcabc", 6, "\"bc\"", {.reverse = true, .match = true}, -1},
    {"abcabc", 0, "\"cabx\"", {}, -1},
    {"abcabc", 0, "\"\"", {}, -1},
    {"abcabc", 0, "#\"c\"", {.part = 2}, -1},
    {"abcabc", 0, "#\"c\"", {.part = 3}, 2},
    {"abcabc", 0, "#\"c\"", {.part = 0}, -1},
    {"abcabc", 0, "\"bc\"", {.part = 2}, -1},
    {"abcabc", 0, "#\"a\"", {.part = 5, .last = true}, 3},
    {"abcabc", 6, "#\"a\"", {.part = 2, .reverse = true}, -1},
    {"abcabc", 6, "#\"b\"", {.part = 2, .reverse = true}, 4},
    {"abcabc", 0, "#\"a\"", {.skip = 3}, 0},
    {"abcabc", 1, "#\"a\"", {.skip = 3}, -1},
    {"abcabc", 1, "#\"b\"", {.skip = 3, .last = true}, 4},
    {"abab", 0, "#\"a\"", {.skip = 2, .last = true}, 2},
    {"abab", 4, "#\"a\"", {.skip = 2, .reverse = true}, 2},
    {"abab", 4, "#\"b\"", {.skip = 2, .reverse = true}, -1},
    {"abcabc", 6, "#\"a\"", {}, -1},
    {"abcabc", 0, "#\"a\"", {.reverse = true}, -1},
    {"a12b", 0, "12", {}, 1},
    {"say hello", 0, "Hello", {}, 4},
    {"x2.5y", 0, "2.5", {}, 1},
};

TEST_F(StringSearchTest, FindTableInEveryUnitWidth) {
    for (u32 unit : {1u, 2u, 4u}) {
        for (const TextFindCase& c : kTextFind) {
            SCOPED_TRACE(std::string(c.text) + " / " + c.key + " unit " + std::to_string(unit));
            ValueCell* top = g_stack.top;
            ValueCell* s = S(c.text, unit);
            series_set_index(s, c.index);
            ValueCell key = V(c.key);
            if (key.type() == TYPE_STRING) {
                ValueCell* k = stack_push(&key);
                // Keys of another width than the text.
                if (unit != 2) unicode_widen(series_of(k), unit == 1 ? 4 : 2);
            }
            EXPECT_EQ(find(s, key, c.f), c.want);
            g_stack.top = top;
        }
    }
}

TEST_F(StringSearchTest, FoldingCoversEveryWidth) {
    EXPECT_EQ(find(S("xxΣ"), V("#\"σ\"")), 2);
    EXPECT_EQ(find(S("xxΣ"), V("#\"σ\""), {.case_ = true}), -1);
    EXPECT_EQ(find(S("ÀB"), V("\"àb\"")), 0);
    EXPECT_EQ(find(S("a😀Ä"), V("#\"ä\"")), 2);
    EXPECT_EQ(find(S("abc", 4), V("\"BC\"")), 1);
}

TEST_F(StringSearchTest, EmptyTextFindsNothing) {
    for (Find f : {Find{}, Find{.last = true}, Find{.reverse = true}, Find{.match = true}})
        EXPECT_EQ(find(S(""), V("#\"a\""), f), -1);
}

TEST_F(StringSearchTest, BitsetKeysTestMembershipWithoutFolding) {
    ValueCell vowels = bitset_of({'a', 'e'});
    EXPECT_EQ(find(S("xyzEbe"), vowels), 5);  // E is not folded into the set
    EXPECT_EQ(find(S("xyzEbe", 2), vowels, {.last = true}), 5);
    ValueCell wide = bitset_of({'x'}, true);
    // A complemented set answers true beyond its stored bits.
    EXPECT_EQ(find(S("ab€"), wide), 2);
}

TEST_F(StringSearchTest, AnyAndWithAreNotDone) {
    ValueCell* s = S("abc");
    ValueCell key = V("\"b\"");
    EXPECT_EQ(error_of([&] {
                  action_find_dispatch(s, &key, nullptr, false, false, false, true, nullptr,
                                       nullptr, false, false, false, false);
              }),
              Err::internal_not_done);
    ValueCell wild = V("\"*\"");
    EXPECT_EQ(error_of([&] {
                  action_find_dispatch(s, &key, nullptr, false, false, false, false, &wild, nullptr,
                                       false, false, false, false);
              }),
              Err::internal_not_done);
}

TEST_F(StringSearchTest, RefinementErrors) {
    ValueCell* s = S("abc");
    EXPECT_EQ(error_of([&] { find(s, V("#\"a\""), {.skip = 0}); }), Err::script_out_of_range);
    ValueCell key = V("#\"a\"");
    ValueCell* other = S("abc");
    EXPECT_EQ(error_of([&] {
                  action_find_dispatch(s, &key, other, false, false, false, false, nullptr, nullptr,
                                       false, false, false, false);
              }),
              Err::script_invalid_refine_arg);
    ValueCell end = *s;
    series_set_index(&end, 2);
    ValueCell c = V("#\"c\"");
    EXPECT_EQ(action_find_dispatch(s, &c, &end, false, false, false, false, nullptr, nullptr, false,
                                   false, false, false)
                  ->type(),
              TYPE_NONE);
    u8 bytes[] = {1, 2};
    ValueCell* bin = raw(TYPE_BINARY, 1, bytes, 2);
    EXPECT_EQ(error_of([&] { find(s, *bin); }), Err::script_invalid_arg);
}

TEST_F(StringSearchTest, SelectGivesTheUnitAfterTheMatch) {
    for (u32 unit : {1u, 2u, 4u}) {
        ValueCell* s = S("abcabc", unit);
        ValueCell r = select(s, V("#\"b\""));
        ASSERT_EQ(r.type(), TYPE_CHAR);
        EXPECT_EQ(dt::char_get(&r), static_cast<u32>('c'));
        r = select(s, V("\"ab\""), {.last = true});
        EXPECT_EQ(dt::char_get(&r), static_cast<u32>('c'));
        EXPECT_EQ(select(s, V("\"bc\""), {.last = true}).type(), TYPE_NONE);
        EXPECT_EQ(select(s, V("#\"x\"")).type(), TYPE_NONE);
        EXPECT_EQ(select(S("abc", unit), V("#\"c\"")).type(), TYPE_NONE);
        r = select(s, V("#\"a\""), {.skip = 3, .last = true});
        EXPECT_EQ(dt::char_get(&r), static_cast<u32>('b'));
    }
}

TEST_F(StringSearchTest, OtherTextTypesSearchTheSameWay) {
    ValueCell* f = S("dir/File.txt", 1, TYPE_FILE);
    EXPECT_EQ(sfind(f, V("\"file\"")), 4);
    EXPECT_EQ(sfind(f, V("\"file\""), {.case_ = true}), -1);
    ValueCell* key = S("txt", 2, TYPE_URL);
    EXPECT_EQ(sfind(f, *key), 9);
}

TEST_F(StringSearchTest, BinaryAndVectorSeriesCompareNumbersAndNeverFold) {
    u8 bytes[] = {'A', 'b', 200, 'a'};
    ValueCell* bin = raw(TYPE_BINARY, 1, bytes, 4);
    EXPECT_EQ(sfind(bin, V("200")), 2);
    EXPECT_EQ(sfind(bin, V("#\"a\"")), 3);  // no folding in binary
    ValueCell* key = S("ba");
    EXPECT_EQ(sfind(bin, *key), -1);
    ValueCell* key2 = S("A");
    EXPECT_EQ(sfind(bin, *key2), 0);
    ValueCell r;
    ValueCell k = V("#\"b\"");
    r = *string_select(bin, &k, nullptr, false, false, false, false, nullptr, nullptr, false,
                       false);
    ASSERT_EQ(r.type(), TYPE_INTEGER);
    EXPECT_EQ(dt::int_get(&r), 200);

    i32 ints[] = {7, -5, 300000, -5};
    ValueCell* vec = raw(TYPE_VECTOR, 4, ints, 4, TYPE_INTEGER);
    EXPECT_EQ(sfind(vec, V("-5")), 1);
    EXPECT_EQ(sfind(vec, V("-5"), {.last = true}), 3);
    EXPECT_EQ(sfind(vec, V("300000.0")), 2);
    k = V("7");
    r = *string_select(vec, &k, nullptr, false, false, false, false, nullptr, nullptr, false,
                       false);
    ASSERT_EQ(r.type(), TYPE_INTEGER);
    EXPECT_EQ(dt::int_get(&r), -5);

    int16_t shorts[] = {-1, 2};
    ValueCell* vec16 = raw(TYPE_VECTOR, 2, shorts, 2, TYPE_INTEGER);
    EXPECT_EQ(sfind(vec16, V("-1")), 0);

    double ds[] = {1.5, 2.5, -0.25};
    ValueCell* vf = raw(TYPE_VECTOR, 8, ds, 3, TYPE_FLOAT);
    EXPECT_EQ(sfind(vf, V("2.5")), 1);
    EXPECT_EQ(sfind(vf, V("2")), -1);
    k = V("2.5");
    r = *string_select(vf, &k, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    ASSERT_EQ(r.type(), TYPE_FLOAT);
    EXPECT_EQ(r.get_float(), -0.25);
    float fs[] = {0.5f, 4.0f};
    ValueCell* vf32 = raw(TYPE_VECTOR, 4, fs, 2, TYPE_FLOAT);
    EXPECT_EQ(sfind(vf32, V("4.0")), 1);

    // char! elements are code points: 200 in an 8-bit element is 200.
    u8 chars[] = {'x', 200, 'y'};
    ValueCell* vc = raw(TYPE_VECTOR, 1, chars, 3, TYPE_CHAR);
    EXPECT_EQ(sfind(vc, chr(200)), 1);
    EXPECT_EQ(sfind(vc, V("200")), 1);
    k = chr(200);
    r = *string_select(vc, &k, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    ASSERT_EQ(r.type(), TYPE_CHAR);
    EXPECT_EQ(dt::char_get(&r), static_cast<u32>('y'));
}

TEST_F(StringSearchTest, FormedKeysSurviveACollectionAtEveryAllocation) {
    ValueCell* s = S("key: [a b] 42 end");
    g_gc.enabled = true;
    set_collect_stress(true);
    EXPECT_EQ(find(s, V("[a b]")), 6);  // a block is formed: "a b"
    EXPECT_EQ(find(s, V("42"), {.tail = true}), 13);
    EXPECT_EQ(find(s, V("End")), 14);
    set_collect_stress(false);
    g_gc.enabled = false;
}

}  // namespace
}  // namespace zan::test
