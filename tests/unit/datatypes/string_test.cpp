// string!: storage and widening, the code-point primitives, the series
// actions on text, and the text forms.
#include "dt_test_support.h"

namespace zan::test {
namespace {

class StringTest : public DtTest {
protected:
    static u32 unit_of(const ValueCell* s) { return series_of(s)->unit(); }
    static ValueCell at(ValueCell s, i32 index) {
        series_set_index(&s, index);
        return s;
    }
    static ValueCell as(ValueCell s, u32 type) {
        cell_set_type(&s, type);
        return s;
    }
};

TEST_F(StringTest, ComparisonFoldsCaseUnlessStrict) {
    struct Case {
        const char* l;
        const char* r;
        i32 op;
        bool want;
    };
    const Case cases[] = {
        {"abc", "ABC", CMP_EQUAL, true},    {"abc", "ABC", CMP_STRICT_EQUAL, false},
        {"ab", "abc", CMP_LESSER, true},    {"abc", "ab", CMP_GREATER, true},
        {"", "a", CMP_LESSER, true},        {"b", "ABC", CMP_GREATER, true},
        {"Éa", "éa", CMP_EQUAL, true},      {"abc", "abd", CMP_NOT_EQUAL, true},
        {"abc", "abc", CMP_GREATER_EQUAL, true},
    };
    for (const Case& c : cases) {
        ValueCell* l = str(c.l);
        ValueCell* r = str(c.r);
        EXPECT_EQ(action_compare(l, r, c.op), c.want) << c.l << " " << c.op << " " << c.r;
    }
}

TEST_F(StringTest, OtherTextTypesCompareForEqualityOnly) {
    ValueCell* s = str("a.txt");
    ValueCell f = as(*str("A.TXT"), TYPE_FILE);
    EXPECT_TRUE(action_compare(s, &f, CMP_EQUAL));
    EXPECT_EQ(error_of([&] { action_compare(s, &f, CMP_LESSER); }), Err::script_invalid_compare);
    ValueCell w = word("a.txt");
    EXPECT_FALSE(action_compare(s, &w, CMP_EQUAL));
}

TEST_F(StringTest, AppendingWidensTheUnit) {
    ValueCell* s = str("ab");
    EXPECT_EQ(unit_of(s), 1u);
    string_append_char(s, 0x20AC);
    EXPECT_EQ(unit_of(s), 2u);
    string_append_char(s, 0x1F600);
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(text(s), "ab\u20AC\U0001F600");
    EXPECT_EQ(string_length(s), 4);
    // Writing a narrow code point never narrows the string back.
    string_append_char(s, 'z');
    EXPECT_EQ(unit_of(s), 4u);
}

// Text taken from inside the heap (another series, a symbol's name) is
// appended whole even when growing the target collects and slides the
// source's buffer down over garbage.
TEST_F(StringTest, AppendingHeapBytesSurvivesTheCollectionOfTheGrowth) {
    // Garbage smaller than the source: the slide overwrites the source's
    // old place with its own later bytes.
    ValueCell* garbage = str("g");
    std::string expected;
    for (int i = 0; i < 40; i++) expected += "item" + std::to_string(i) + ";";
    ValueCell* source = str(expected);
    ValueCell* target = string_push_new(16);
    while (series_of(target)->tail < series_of(target)->end_ref()) string_append_char(target, 'x');
    u32 filler = string_length(target);
    none_box(garbage);
    u32 cycles = g_gc.series_cycles;
    g_gc.enabled = true;
    set_collect_stress(true);
    SeriesBuffer* sb = series_of(source);
    string_append_bytes(target, sb->head_ptr(), sb->used_bytes());
    set_collect_stress(false);
    g_gc.enabled = false;
    EXPECT_GT(g_gc.series_cycles, cycles);
    EXPECT_EQ(text(target).substr(filler), expected);
}

TEST_F(StringTest, AppendValueKinds) {
    ValueCell* s = str("a");
    ValueCell tag = as(*str("b"), TYPE_TAG);
    ValueCell r = call({*s, tag}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(text(&r), "a<b>");
    EXPECT_EQ(string_length(&r), 4);
    ValueCell* blk12 = blk({integer(1), integer(2)});
    ValueCell* t = str("");
    call({*t, *blk12}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(text(t), "12");
    ValueCell c = chr(0xE9);
    call({*t, c}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(text(t), "12\u00E9");
    ValueCell w = word("wd");
    call({*t, w}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(text(t), "12\u00E9wd");
}

TEST_F(StringTest, AppendPartAndDup) {
    ValueCell* s = str("");
    ValueCell* src = str("hello");
    ValueCell three = integer(3), two = integer(2);
    call({*s, *src, three}, [] { action_append(2, -1, -1); });
    EXPECT_EQ(text(s), "hel");
    call({*s, *str("-"), two}, [] { action_append(-1, -1, 2); });
    EXPECT_EQ(text(s), "hel--");
    // A tag under /part: the brackets count.
    ValueCell* u = str("");
    ValueCell tag = as(*str("abc"), TYPE_TAG);
    call({*u, tag, three}, [] { action_append(2, -1, -1); });
    EXPECT_EQ(text(u), "<ab");
    // /part counts elements of a block, code points under /only.
    ValueCell* v = str("");
    ValueCell* words = blk({word("abc"), word("de"), word("f")});
    call({*v, *words, two}, [] { action_append(2, -1, -1); });
    EXPECT_EQ(text(v), "abcde");
    ValueCell* w = str("");
    ValueCell four = integer(4);
    call({*w, *words, four}, [] { action_append(2, 9, -1); });
    EXPECT_EQ(text(w), "abcd");
}

TEST_F(StringTest, InsertAndChange) {
    ValueCell* s = str("ad");
    ValueCell r = call({at(*s, 1), *str("bc")}, [] { action_insert(-1, -1, -1); });
    EXPECT_EQ(text(s), "abcd");
    EXPECT_EQ(series_index(&r), 3);
    ValueCell x = chr('X');
    r = call({at(*s, 1), x}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(text(s), "aXcd");
    EXPECT_EQ(series_index(&r), 2);
    r = call({at(*s, 3), *str("YZW")}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(text(s), "aXcYZW");
    EXPECT_EQ(series_index(&r), 6);
    ValueCell two = integer(2);
    call({at(*s, 1), *str("-"), two}, [] { action_change(2, -1, -1); });
    EXPECT_EQ(text(s), "a-YZW");
    ValueCell three = integer(3);
    call({*s, *str("*"), three}, [] { action_insert(-1, -1, 2); });
    EXPECT_EQ(text(s), "***a-YZW");
    // Inserting a string into itself.
    ValueCell* m = str("ab");
    call({at(*m, 1), *m}, [] { action_insert(-1, -1, -1); });
    EXPECT_EQ(text(m), "aabb");
}

TEST_F(StringTest, TakeSwapAndPoke) {
    ValueCell* s = str("abc");
    ValueCell r = call({*s}, [] { action_take(-1, -1, -1); });
    ASSERT_EQ(r.type(), TYPE_CHAR);
    EXPECT_EQ(dt::char_get(&r), 'a');
    r = call({*s}, [] { action_take(-1, -1, 9); });
    EXPECT_EQ(dt::char_get(&r), 'c');
    EXPECT_EQ(text(s), "b");
    ValueCell zero = integer(0);
    r = call({*s, zero}, [] { action_take(1, -1, -1); });
    EXPECT_EQ(r.type(), TYPE_STRING);
    EXPECT_EQ(text(&r), "");
    EXPECT_EQ(text(s), "b");
    ValueCell* p = str("xy");
    ValueCell* q = str("\u20AC");
    call({*p, *q}, [] { action_swap(); });
    EXPECT_EQ(text(p), "\u20ACy");
    EXPECT_EQ(text(q), "x");
    ValueCell one = integer(1), w = word("w");
    EXPECT_EQ(error_of([&] { call({*p, one, w}, [] { action_poke(); }); }), Err::script_invalid_arg);
    ValueCell z = chr('z');
    call({*p, one, z}, [] { action_poke(); });
    EXPECT_EQ(text(p), "zy");
    ValueCell n = integer(5);
    EXPECT_EQ(error_of([&] { call({*p, n, z}, [] { action_poke(); }); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { call({*p, one}, [] { action_swap(); }); }), Err::script_invalid_arg);
}

TEST_F(StringTest, MakeAndTo) {
    ValueCell sdt;
    datatype_box(&sdt, TYPE_STRING);
    ValueCell ten = integer(10), minus = integer(-1);
    ValueCell* e = action_make_dispatch(&sdt, &ten);
    EXPECT_EQ(string_length(e), 0);
    EXPECT_GE(series_of(e)->size, 10u);
    EXPECT_EQ(error_of([&] { action_make_dispatch(&sdt, &minus); }), Err::script_out_of_range);
    EXPECT_EQ(text(action_to_dispatch(&sdt, blk({word("a"), integer(1), *str("b")}))), "a1b");
    ValueCell none = g_none_cell;
    EXPECT_EQ(error_of([&] { action_to_dispatch(&sdt, &none); }), Err::script_bad_to_arg);
    ValueCell ref = word("ref", TYPE_REFINEMENT);
    EXPECT_EQ(text(action_to_dispatch(&sdt, &ref)), "ref");
    ValueCell fdt;
    datatype_box(&fdt, TYPE_FILE);
    ValueCell* f = string_to(&fdt, &ref, TYPE_FILE);
    EXPECT_EQ(f->type(), TYPE_FILE);
    EXPECT_EQ(text(f), "/ref");
    ValueCell* copy = action_to_dispatch(&sdt, str("xyz"));
    EXPECT_EQ(text(copy), "xyz");
}

TEST_F(StringTest, ToStringOfBinaryDecodesUtf8) {
    ValueCell sdt;
    datatype_box(&sdt, TYPE_STRING);
    auto binary = [](const std::string& bytes) {
        ValueCell* c = unset_push();
        Node n = alloc_bytes(static_cast<u32>(bytes.size()));
        SeriesBuffer* b = node_buffer(n);
        std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
        b->tail = b->head + static_cast<u32>(bytes.size());
        cell_init(c, TYPE_BINARY, 0, n, 0);
        return c;
    };
    EXPECT_EQ(text(action_to_dispatch(&sdt, binary("caf\xC3\xA9"))), "caf\u00E9");
    EXPECT_EQ(error_of([&] { action_to_dispatch(&sdt, binary("ab\xE2\x82")); }),
              Err::access_invalid_utf8);
}

TEST_F(StringTest, PathAccess) {
    ValueCell* s = str("abcd");
    ValueCell two = integer(2);
    ValueCell* r = action_eval_path_dispatch(s, &two, nullptr, nullptr, nullptr, nullptr, 0,
                                             false, false, true, false);
    EXPECT_EQ(dt::char_get(r), 'b');
    // A key sets the code point right after the whole match, as put does.
    ValueCell x = chr('X');
    ValueCell* key = str("bc");
    action_eval_path_dispatch(s, key, &x, nullptr, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(text(s), "abcX");
    ValueCell* tail_key = str("cX");
    ValueCell y = chr('Y');
    action_eval_path_dispatch(s, tail_key, &y, nullptr, nullptr, nullptr, 0, false, false, true,
                              false);
    EXPECT_EQ(text(s), "abcXY");
    ValueCell* path = blk({word("s"), word("k")}, {}, TYPE_PATH);
    ValueCell* missing = str("zz");
    EXPECT_EQ(error_of([&] {
                  action_eval_path_dispatch(s, missing, &y, path, nullptr, nullptr, 0, false,
                                            false, true, false);
              }),
              Err::script_bad_path_set);
    ValueCell w = word("k");
    EXPECT_EQ(error_of([&] {
                  action_eval_path_dispatch(s, &w, nullptr, path, nullptr, nullptr, 0, false,
                                            false, true, false);
              }),
              Err::script_invalid_path);
    ValueCell* sel = action_eval_path_dispatch(s, str("b"), nullptr, nullptr, nullptr, nullptr, 0,
                                               false, false, true, false);
    EXPECT_EQ(dt::char_get(sel), 'c');
}

TEST_F(StringTest, FindAndSelect) {
    ValueCell* s = str("abcabc");
    auto find = [&](ValueCell v, i32 tail, i32 match, i32 last, i32 reverse, i32 case_ = -1) {
        stack_mark_native(g_words.n.body);
        stack_push(s);
        stack_push(&v);
        action_find(-1, -1, case_, -1, -1, -1, -1, last, reverse, tail, match);
        ValueCell r = *stack_result();
        stack_unwind();
        stack_pop(1);
        return r;
    };
    ValueCell r = find(*str("BC"), -1, -1, -1, -1);
    EXPECT_EQ(series_index(&r), 1);
    EXPECT_EQ(find(*str("BC"), -1, -1, -1, -1, 9).type(), TYPE_NONE);
    r = find(*str("ab"), 9, 9, -1, -1);
    EXPECT_EQ(series_index(&r), 2);
    r = find(*str("ab"), -1, 9, -1, -1);
    EXPECT_EQ(series_index(&r), 0);
    EXPECT_EQ(find(*str("ab"), -1, 9, -1, 9).type(), TYPE_NONE);
    r = find(chr('c'), -1, -1, 9, -1);
    EXPECT_EQ(series_index(&r), 5);
    EXPECT_EQ(find(*str("x"), -1, -1, -1, -1).type(), TYPE_NONE);
    ValueCell* empty = str("");
    ValueCell a = chr('a');
    EXPECT_EQ(call({*empty, a}, [] { action_find(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1); })
                  .type(),
              TYPE_NONE);
    ValueCell sel = call({*str("abc"), chr('b')},
                         [] { action_select(-1, -1, -1, -1, -1, -1, -1, -1, -1); });
    EXPECT_EQ(dt::char_get(&sel), 'c');
    EXPECT_EQ(call({*str("abc"), chr('c')}, [] { action_select(-1, -1, -1, -1, -1, -1, -1, -1, -1); })
                  .type(),
              TYPE_NONE);
}

TEST_F(StringTest, CodePointPrimitives) {
    ValueCell* s = str("Hello");
    EXPECT_TRUE(string_starts_with_cstr(s, "Hel"));
    EXPECT_FALSE(string_starts_with_cstr(s, "Help"));
    EXPECT_EQ(string_index_of_char(s, 'l'), 2);
    EXPECT_EQ(string_index_of_char(s, 'z'), -1);
    series_set_index(s, 9);
    EXPECT_EQ(string_length(s), 0);
    EXPECT_TRUE(string_at_tail_q(s));
    EXPECT_EQ(series_index(s), 5);
    ValueCell* t = str("abc");
    string_insert_char(series_of(t), 1, 0x3A9);
    EXPECT_EQ(text(t), "a\u03A9bc");
    string_remove_part(series_of(t), 0, 2);
    EXPECT_EQ(text(t), "bc");
    ValueCell* u = str("xyz");
    string_append_cstr(u, "\xE9!");
    EXPECT_EQ(text(u), "xyz\u00E9!");
    string_concatenate(u, str("12"), -1, 1, false, CONCAT_OVERWRITE);
    EXPECT_EQ(text(u), "x12\u00E9!");
    string_concatenate(u, str("--"), 1, 0, false, CONCAT_INSERT);
    EXPECT_EQ(text(u), "-x12\u00E9!");
    ValueCell sym;
    cell_init(&sym, TYPE_SYMBOL);
    *(&sym) = *symbol_cell(symbol_make("sym"));
    string_concatenate(u, &sym, -1, 0, false, CONCAT_APPEND);
    EXPECT_EQ(text(u), "-x12\u00E9!sym");
}

TEST_F(StringTest, ParseMatchingHelpers) {
    ValueCell* s = str("<b>bold");
    ValueCell tag = as(*str("b"), TYPE_TAG);
    EXPECT_TRUE(string_match_tag_q(s, &tag));
    EXPECT_TRUE(string_match_value(s, &tag, false));
    ValueCell lt = chr('<');
    EXPECT_TRUE(string_match_value(s, &lt, true));
    ValueCell* t = str("Bold");
    ValueCell bold = at(*s, 3);
    EXPECT_TRUE(string_match_value(&bold, t, false));
    EXPECT_FALSE(string_match_value(&bold, t, true));
    ValueCell w = word("bold");
    EXPECT_FALSE(string_match_value(&bold, &w, false));
    // A bitset of 'b' (bit 98), and its complement beyond the stored bits.
    ValueCell* bits = unset_push();
    cell_init(bits, TYPE_BITSET, 0, alloc_bytes(16));
    SeriesBuffer* bb = series_of(bits);
    std::memset(bb->head_ptr(), 0, 13);
    bb->tail = bb->head + 13;
    bb->head_ptr()['b' >> 3] |= 0x80 >> ('b' & 7);
    EXPECT_TRUE(string_char_in_bitset_q(&bold, bits));
    EXPECT_FALSE(string_char_in_bitset_q(s, bits));
    ValueCell* wide = str("\u20AC");
    EXPECT_FALSE(string_char_in_bitset_q(wide, bits));
    series_of(bits)->flags |= SERIES_COMPLEMENT;
    EXPECT_TRUE(string_char_in_bitset_q(wide, bits));
}

TEST_F(StringTest, MoveBetweenWidths) {
    ValueCell* a = str("ab");
    ValueCell* b = str("\u20AC");
    call({*a, *b}, [] { action_move(-1); });
    EXPECT_EQ(text(a), "b");
    EXPECT_EQ(text(b), "a\u20AC");
}

TEST_F(StringTest, FormAndFormPart) {
    EXPECT_EQ(form(*str("a\"b")), "a\"b");
    ValueCell four = integer(4), zero = integer(0);
    ValueCell r = call({*str("123456"), four}, [] { action_form(1); });
    EXPECT_EQ(text(&r), "1234");
    r = call({*str("123456"), zero}, [] { action_form(1); });
    EXPECT_EQ(text(&r), "");
}

TEST_F(StringTest, MoldDelimitersAndEscapes) {
    struct Case {
        std::string in;
        std::string mold;
        bool all;
    };
    const Case cases[] = {
        {"", "\"\"", false},
        {std::string(49, 'a'), "\"" + std::string(49, 'a') + "\"", false},
        {std::string(50, 'a'), "{" + std::string(50, 'a') + "}", false},
        {"say \"hi\"", "{say \"hi\"}", false},
        {"a\nb\nc", "\"a^/b^/c\"", false},
        {"a\nb\nc\nd", "{a^/b^/c^/d}", false},
        {"tab\there", "\"tab^-here\"", false},
        {std::string("nul\0x", 5), "\"nul^@x\"", false},
        {"caret^", "\"caret^^\"", false},
        {"\x1E", "\"^(1E)\"", false},
        {"\x7F", "\"^~\"", false},
        {"\xC3\xA9", "\"\xC3\xA9\"", false},
        {"\xC3\xA9", "\"^(E9)\"", true},
        {"\xC2\x80", "\"^(80)\"", false},
        {"\xE2\x82\xAC", "\"^(20AC)\"", true},
        {"\x1B", "\"^[\"", false},
        {"a\"{b}", "{a\"{b}}", false},
        {"a\"}b", "{a\"^}b}", false},
        {"a\"{b", "{a\"^{b}", false},
        {"x\"{{}", "{x\"^{^{^}}", false},
    };
    for (const Case& c : cases) {
        ValueCell* s = str(c.in);
        EXPECT_EQ(mold(*s, false, c.all), c.mold) << c.in;
    }
}

TEST_F(StringTest, MoldPartCutsTheMoldedText) {
    ValueCell five = integer(5);
    ValueCell r = call({*str("ab\ncd"), five}, [] { action_mold(-1, -1, -1, 1); });
    EXPECT_EQ(text(&r), "\"ab^/");
    ValueCell* out = string_push_new(16);
    ValueCell lim = integer(3);
    EXPECT_EQ(string_mold(str("abcdef"), out, false, false, false, &lim, 3, 0), -2);
}

TEST_F(StringTest, HexHelpers) {
    EXPECT_STREQ(string_byte_to_hex(0xAB), "AB");
    EXPECT_STREQ(string_byte_to_hex(7), "07");
    EXPECT_STREQ(string_int_to_hex(0x1E, false), "1E");
    EXPECT_STREQ(string_int_to_hex(0, false), "00");
    EXPECT_STREQ(string_int_to_hex(0x20AC, true), "000020AC");
    EXPECT_STREQ(string_int_to_hex(-1, true), "FFFFFFFF");
}

TEST_F(StringTest, LoadingUtf16AndBadEncodings) {
    const char16_t text16[] = u"h\u00E9\u20AC";
    ValueCell* s = string_load_push(text16, 3, -1);
    EXPECT_EQ(text(s), "h\u00E9\u20AC");
    EXPECT_EQ(unit_of(s), 2u);
}

using StringDeathTest = StringTest;

TEST_F(StringDeathTest, AnUnsupportedEncodingEndsTheProcessWithAFailureStatus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(string_load_push("x", 1, 7), ::testing::ExitedWithCode(1),
                "input encoding unsupported");
}

}  // namespace
}  // namespace zan::test
