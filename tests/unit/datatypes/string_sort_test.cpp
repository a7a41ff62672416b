// sort on text of every unit width (folded the same way in each), binary!
// and vector! elements, records, /part, /stable, offsets and user functions.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "search_test_support.h"

namespace zan::test {
namespace {

class StringSortTest : public SearchTest {
protected:
    static ValueCell* raw(u32 type, u32 unit, const void* data, u32 n, u32 element_type = 0) {
        Node node = alloc_series(n ? n : 1, unit, 0);
        SeriesBuffer* b = node_buffer(node);
        std::memcpy(b->head_ptr(), data, static_cast<size_t>(n) * unit);
        b->tail = b->head + n * unit;
        ValueCell* c = stack_push_cell();
        cell_init(c, type, 0, node, element_type);
        return c;
    }
    // Element i of a raw series (buffers are only 4-byte aligned).
    template <class T>
    static T element(const ValueCell* s, int i) {
        T v;
        std::memcpy(&v, series_of(s)->head_ptr() + static_cast<size_t>(i) * sizeof(T), sizeof v);
        return v;
    }
    static ValueCell* ssort(ValueCell* s, const Sort& o = {}) {
        ValueCell skip, part, off;
        ValueCell cmp = o.comparator ? *o.comparator : ValueCell{};
        ValueCell* cmp_cell = o.comparator ? &cmp : icell(o.offset, &off);
        return string_sort(s, o.case_, icell(o.skip, &skip), cmp_cell, icell(o.part, &part), o.all,
                           o.reverse, o.stable);
    }
};

struct TextSortCase {
    const char* text;
    Sort o;
    const char* want;
};

const TextSortCase kTextSort[] = {
    {"cBa", {}, "aBc"},
    {"cBa", {.case_ = true}, "Bac"},
    {"cBa", {.reverse = true}, "cBa"},
    {"cBa", {.case_ = true, .reverse = true}, "caB"},
    {"bAaB", {.stable = true}, "AabB"},
    {"éÉa", {.stable = true}, "aéÉ"},  // folded beyond A-Z in 1-byte text too
    {"ÉéA", {.case_ = true, .stable = true}, "AÉé"},
    {"b2a1", {.skip = 2}, "a1b2"},
    {"a2a1", {.all = true, .skip = 2}, "a1a2"},
    {"a2A1", {.stable = true, .skip = 2}, "a2A1"},
    {"b2a1c0", {.skip = 2, .offset = 2}, "c0a1b2"},
    {"dcba", {.part = 2}, "cdba"},
    {"dcba", {.part = 9}, "abcd"},
    {"", {}, ""},
};

TEST_F(StringSortTest, TextTableInEveryUnitWidth) {
    for (u32 unit : {1u, 2u, 4u}) {
        for (const TextSortCase& c : kTextSort) {
            SCOPED_TRACE(std::string(c.text) + " unit " + std::to_string(unit));
            ValueCell* s = S(c.text, unit);
            ValueCell* r = sort(s, c.o);
            EXPECT_EQ(series_index(r), 0);
            EXPECT_EQ(text(s), c.want);
            EXPECT_EQ(unit_of(s), unit);
        }
    }
}

TEST_F(StringSortTest, WideTextFoldsThroughTheCaseTables) {
    ValueCell* s = S("σΣαΑ");
    sort(s, {.stable = true});
    EXPECT_EQ(text(s), "αΑσΣ");
    ValueCell* e = S("b😀Bá");
    sort(e, {.stable = true});
    EXPECT_EQ(text(e), "bBá😀");
}

TEST_F(StringSortTest, StableCaseSortKeepsTheOrderOfEqualRecords) {
    // Records of two units compared by their first unit under /case: the
    // second units record the original order.
    std::mt19937 rng(11);
    std::string src;
    for (int i = 0; i < 2000; i++) {
        src += static_cast<char>("aAbB"[rng() % 4]);
        src += static_cast<char>('0' + i % 10);
    }
    for (u32 unit : {1u, 2u}) {
        ValueCell* s = S(src, unit);
        sort(s, {.case_ = true, .stable = true, .skip = 2});
        std::vector<std::pair<char, int>> recs;
        for (size_t i = 0; i < src.size(); i += 2)
            recs.push_back({src[i], static_cast<int>(i)});
        std::stable_sort(recs.begin(), recs.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        std::string want;
        for (auto& r : recs) {
            want += r.first;
            want += src[static_cast<size_t>(r.second) + 1];
        }
        EXPECT_EQ(text(s), want);
    }
}

TEST_F(StringSortTest, SortsFromTheHeadAndNegativePartSortsBehindIt) {
    ValueCell* s = S("zydca");
    series_set_index(s, 2);
    sort(s);
    series_set_index(s, 0);
    EXPECT_EQ(text(s), "zyacd");
    ValueCell* t = S("dcba");
    series_set_index(t, 2);
    ValueCell* r = sort(t, {.part = -2});
    EXPECT_EQ(series_index(r), 0);
    series_set_index(t, 0);
    EXPECT_EQ(text(t), "cdba");
    ValueCell* u = S("dcba");
    ValueCell end = *u;
    series_set_index(&end, 3);
    action_sort_dispatch(u, false, nullptr, nullptr, &end, false, false, false);
    EXPECT_EQ(text(u), "bcda");
}

TEST_F(StringSortTest, RefinementErrors) {
    ValueCell* s = S("abc");
    EXPECT_EQ(error_of([&] { sort(s, {.skip = 2}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { sort(s, {.skip = 0}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { sort(s, {.all = true}); }), Err::script_bad_refines);
    ValueCell* r = S("b2a1");
    EXPECT_EQ(error_of([&] { sort(r, {.offset = 1}); }), Err::script_bad_refines);
    EXPECT_EQ(error_of([&] { sort(r, {.all = true, .skip = 2, .offset = 1}); }),
              Err::script_bad_refines);
    EXPECT_EQ(error_of([&] { sort(r, {.skip = 2, .offset = 3}); }), Err::script_out_of_range);
    ValueCell bad = V("x");
    EXPECT_EQ(error_of([&] { sort(r, {.comparator = &bad}); }), Err::script_invalid_refine_arg);
    ValueCell* other = S("b2a1");
    EXPECT_EQ(error_of([&] {
                  action_sort_dispatch(r, false, nullptr, nullptr, other, false, false, false);
              }),
              Err::script_invalid_refine_arg);
    EXPECT_EQ(text(r), "b2a1");
}

TEST_F(StringSortTest, UserFunctionOrdersChars) {
    Comparator greater = [](const ValueCell& a, const ValueCell& b, ValueCell* out) {
        EXPECT_EQ(a.type(), TYPE_CHAR);
        logic_box(out, dt::char_get(&a) > dt::char_get(&b));
    };
    use_comparator(&greater);
    ValueCell* fn = make_function();
    for (u32 unit : {1u, 2u, 4u}) {
        for (bool stable : {false, true}) {
            ValueCell* s = S("acbed", unit);
            sort(s, {.stable = stable, .comparator = fn});
            EXPECT_EQ(text(s), "edcba");
            sort(s, {.reverse = true, .stable = stable, .comparator = fn});
            EXPECT_EQ(text(s), "abcde");
        }
    }
    EXPECT_EQ(sort_function_answer(&g_true_cell), -1);
    EXPECT_EQ(sort_function_answer(&g_false_cell), 1);
    EXPECT_EQ(sort_function_answer(&g_none_cell), 1);
    ValueCell n = integer(-3), f;
    float_make_at(&f, 0.0);
    EXPECT_EQ(sort_function_answer(&n), -1);
    EXPECT_EQ(sort_function_answer(&f), 0);
    EXPECT_EQ(sort_function_answer(&g_unset_cell), -1);
}

TEST_F(StringSortTest, UserFunctionWithIntegerAnswersAndWholeRecords) {
    Comparator by_second = [](const ValueCell& a, const ValueCell& b, ValueCell* out) {
        EXPECT_EQ(a.type(), TYPE_STRING);
        EXPECT_EQ(string_length(&a), 2);
        i32 d = static_cast<i32>(string_char_at(&a, 1)) - static_cast<i32>(string_char_at(&b, 1));
        dt::int_box(out, d);
    };
    use_comparator(&by_second);
    ValueCell* fn = make_function();
    ValueCell* s = S("x3y1z2");
    sort(s, {.all = true, .skip = 2, .comparator = fn});
    EXPECT_EQ(text(s), "y1z2x3");
}

TEST_F(StringSortTest, UserFunctionThatWidensTheStringCannotBreakTheSort) {
    ValueCell* s = S("cab");
    Comparator widening = [&](const ValueCell& a, const ValueCell& b, ValueCell* out) {
        string_append_char(s, 0x20AC);  // widens and moves the buffer
        logic_box(out, dt::char_get(&a) < dt::char_get(&b));
    };
    use_comparator(&widening);
    ValueCell* fn = make_function();
    g_gc.enabled = true;
    sort(s, {.comparator = fn});
    EXPECT_TRUE(g_gc.enabled);
    g_gc.enabled = false;
    // The string changed width under the sort: the sorted units are not
    // written over it, and nothing else is damaged.
    EXPECT_EQ(text(s).substr(0, 3), "cab");
    EXPECT_EQ(unit_of(s), 2u);
}

TEST_F(StringSortTest, BinaryBytesAreNeverFolded) {
    u8 bytes[] = {'b', 'A', 'a', 'B', 200};
    ValueCell* bin = raw(TYPE_BINARY, 1, bytes, 5);
    ssort(bin);
    const u8* p = series_of(bin)->head_ptr();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 4), "ABab");
    EXPECT_EQ(p[4], 200);
}

TEST_F(StringSortTest, VectorElementsSortAsSignedNumbers) {
    i32 ints[] = {3, -1, 2, -100000};
    ValueCell* v = raw(TYPE_VECTOR, 4, ints, 4, TYPE_INTEGER);
    ssort(v);
    EXPECT_EQ(element<i32>(v, 0), -100000);
    EXPECT_EQ(element<i32>(v, 1), -1);
    EXPECT_EQ(element<i32>(v, 3), 3);
    int8_t small[] = {5, -3, 0};
    ValueCell* v8 = raw(TYPE_VECTOR, 1, small, 3, TYPE_INTEGER);
    ssort(v8, {.reverse = true});
    EXPECT_EQ(element<int8_t>(v8, 0), 5);
    EXPECT_EQ(element<int8_t>(v8, 2), -3);
    double ds[] = {2.5, NAN, -1.0, 0.0};
    ValueCell* vd = raw(TYPE_VECTOR, 8, ds, 4, TYPE_FLOAT);
    ssort(vd);
    EXPECT_EQ(element<double>(vd, 0), -1.0);
    EXPECT_EQ(element<double>(vd, 2), 2.5);
    EXPECT_TRUE(std::isnan(element<double>(vd, 3)));
    float fs[] = {1.5f, -2.0f};
    ValueCell* vf = raw(TYPE_VECTOR, 4, fs, 2, TYPE_FLOAT);
    ssort(vf);
    EXPECT_EQ(element<float>(vf, 0), -2.0f);
    int16_t shorts[] = {300, -300, 7};
    ValueCell* v16 = raw(TYPE_VECTOR, 2, shorts, 3, TYPE_INTEGER);
    ssort(v16);
    EXPECT_EQ(element<int16_t>(v16, 0), -300);
    u8 chars[] = {200, 'a', 'B'};
    ValueCell* vc = raw(TYPE_VECTOR, 1, chars, 3, TYPE_CHAR);
    ssort(vc);
    EXPECT_EQ(element<u8>(vc, 0), 'B');  // never folded
    EXPECT_EQ(element<u8>(vc, 2), 200);  // code points are not negative
}

}  // namespace
}  // namespace zan::test
