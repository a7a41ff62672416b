// Round trips of every datatype the format holds, in both layouts, with and
// without compression: the decoded value must match the original in every
// field, and its series and contexts must be shared exactly as the
// original's are (cycles included).
#include <cmath>
#include <limits>

#include "zanbin_test_support.h"

namespace zan::test {
namespace {

class RoundTrip : public ZanbinTest {
protected:
    // Encodes and decodes v in every layout and compares; then collects and
    // compares again, so that the decoded values are sound for the collector.
    void check(const ValueCell* v, const std::string& what) {
        for (const Layout& l : all_layouts()) {
            ValueCell* top = g_stack.top;
            ValueCell original = *v;
            Bytes image = encode(&original, l);
            ValueCell* out = decode(image);
            ASSERT_EQ(block_length(out), 1) << what << " (" << l.name << ")";
            ValueCell back = *block_head_ptr(out);
            Same s;
            EXPECT_TRUE(s.value(original, back)) << what << " (" << l.name << "): " << s.why;
            collect();
            Same again;
            back = *block_head_ptr(out);
            EXPECT_TRUE(again.value(*v, back)) << what << " after a collection (" << l.name
                                               << "): " << again.why;
            g_stack.top = top;
        }
    }
    static ValueCell money(bool negative, u32 currency, std::initializer_list<int> digits) {
        u8 d[MONEY_DIGIT_BYTES] = {};
        int i = 0;
        for (int x : digits) d[i++] = static_cast<u8>(x);
        ValueCell c{};
        money_make_raw(&c, negative, currency, d);
        return c;
    }
    static ValueCell date(i32 y, i32 m, i32 d, double t, i32 zh, i32 zm, bool has_time) {
        ValueCell c{};
        EXPECT_TRUE(date_make_at(&c, y, m, d, t, zh, zm, has_time));
        return c;
    }
};

// ---- scalars -------------------------------------------------------------------------------

TEST_F(RoundTrip, Scalars) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<std::pair<std::string, ValueCell>> cases;
    auto add = [&](const std::string& name, const ValueCell& c) { cases.emplace_back(name, c); };
    ValueCell c{};
    add("unset", *unset_box(&c));
    add("none", none());
    add("none with new line", nl(none()));
    add("true", logic(true));
    add("false", nl(logic(false)));
    for (i32 n : {0, 1, 63, 64, -1, -64, 1000000, std::numeric_limits<i32>::min(),
                  std::numeric_limits<i32>::max()})
        add("integer " + std::to_string(n), integer(n));
    for (u32 cp : {0u, 65u, 0xE9u, 0x20ACu, 0x1F600u, 0x10FFFFu}) add("char", chr(cp));
    for (double d : {0.0, -0.0, 2.0, -3.0, 0.1, 1e300, -inf, inf, nan, 2147483000.0,
                     2147483001.0, -2147483000.0, 5e-324})
        add("float " + std::to_string(d), flt(d));
    for (double d : {0.5, 0.12345, -0.01, 0.0, 1e-9, 214748.36, 300000.0})
        add("percent " + std::to_string(d), flt(d, TYPE_PERCENT));
    for (double d : {3600.0, 0.5, -1.0, 86399.999})
        add("time " + std::to_string(d), flt(d, TYPE_TIME));
    add("datatype", *datatype_box(&c, TYPE_MAP));
    typeset_make_at(&c, 0, 0, 0);
    add("empty typeset", c);
    typeset_make_at(&c, 0xFFFFFFFFu, 0x12345678u, 0x0000FF00u);
    add("typeset", c);
    add("pair", *pair_make_at(&c, -7, 123456));
    for (u32 n : {3u, 4u, 7u, 12u}) {
        u8 b[12];
        for (u32 i = 0; i < 12; i++) b[i] = static_cast<u8>(i * 20 + 1);
        ValueCell t{};
        tuple_make_at(&t, b, n);
        add("tuple of " + std::to_string(n), t);
    }
    add("date", date(2024, 2, 29, 0, 0, 0, false));
    add("date with time and zone", date(1999, 12, 31, 23 * 3600 + 59 * 60 + 59.5, -5, -30, true));
    add("negative money", money(true, 0, {0, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x50, 0}));
    add("money with a currency", money(false, 3, {0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99,
                                               0x99, 0x99, 0x99}));
    add("point2D", *point2d_make_at(&c, 1.5f, -2.25f));
    add("point3D", *point3d_make_at(&c, 1.5f, -2.25f, 1e30f));
    ValueCell i{};
    issue_make_at("a-issue", &i);
    add("issue", i);
    for (u32 t : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT})
        add("word type " + std::to_string(t), word("some-word", t));
    for (auto& [name, value] : cases) check(&value, name);
}

TEST_F(RoundTrip, UnboundRefinementComesBackGlobal) {
    ValueCell r;
    cell_init(&r, TYPE_REFINEMENT, 0, symbol_make("only"), static_cast<u32>(-1));
    ValueCell back = decode_one(encode(&r));
    EXPECT_EQ(back.type(), TYPE_REFINEMENT);
    EXPECT_EQ(back.data2, r.data2);
    EXPECT_EQ(back.data1, g_global_ctx);
}

// ---- series ------------------------------------------------------------------------------------

TEST_F(RoundTrip, TextTypesInEveryUnit) {
    const std::vector<std::pair<std::string, u32>> texts = {
        {"", TYPE_STRING},          {"plain", TYPE_STRING},
        {"caf\xC3\xA9", TYPE_FILE}, {"\xE2\x82\xAC" "uro", TYPE_URL},
        {"\xF0\x9F\x98\x80 grin", TYPE_TAG}, {"a@b.c", TYPE_EMAIL},
        {"ref", TYPE_REF}};
    for (const auto& [t, type] : texts) {
        ValueCell* s = text(t, type);
        check(s, "text " + t);
        if (string_length(s) > 1) {
            series_set_index(s, 2);  // a position past the head
            check(s, "text at 2 " + t);
        }
    }
}

TEST_F(RoundTrip, BlockTypesWithNewLines) {
    for (u32 t : {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
        ValueCell* b = blk({word("a"), nl(integer(2)), *text("x"), nl(none())}, t);
        check(b, "block type " + std::to_string(t));
        series_set_index(b, 3);
        check(b, "block type at 3 " + std::to_string(t));
    }
    ValueCell* empty = blk({});
    check(empty, "empty block");
}

TEST_F(RoundTrip, BinaryBitsetAndVector) {
    const u8 raw[] = {0, 1, 2, 0xFF, 0x80, 7, 9};
    ValueCell* b = binary_load(ByteSource(raw), sizeof raw);
    check(b, "binary");
    series_set_index(b, 3);
    check(b, "binary at 3");

    for (bool complemented : {false, true}) {
        ValueCell* bs = bitset_push_new(5, 0, complemented);
        bitset_bits(bs)[0] = 0x81;
        bitset_bits(bs)[4] = 0x10;
        check(bs, complemented ? "complemented bitset" : "bitset");
    }

    struct V {
        u32 type, size;
    };
    for (V v : {V{TYPE_INTEGER, 4}, V{TYPE_INTEGER, 1}, V{TYPE_CHAR, 2}, V{TYPE_FLOAT, 8},
                V{TYPE_FLOAT, 4}, V{TYPE_PERCENT, 8}}) {
        ValueCell* vec = unset_push();
        vector_make_at(vec, 4, v.type, v.size);
        for (i32 n : {1, 20, 65, 100}) vector_append_number(vec, n);
        check(vec, "vector " + std::to_string(v.type) + "/" + std::to_string(v.size));
        series_set_index(vec, 2);
        check(vec, "vector at 2");
    }
}

TEST_F(RoundTrip, HashAndMap) {
    ValueCell* h = blk({integer(1), *text("two"), word("three"), integer(1)});
    hash_from_block(h);
    check(h, "hash");

    ValueCell cells[6];
    cells[0] = word("key", TYPE_SET_WORD);
    cells[1] = integer(10);
    cells[2] = *text("text key");
    cells[3] = *blk({integer(1)});
    cells[4] = integer(42);
    cells[5] = none();
    ValueCell* m = unset_push();
    map_make_from_cells(m, cells, 6);
    check(m, "map");
    // A removed entry is left out.
    ValueCell key = integer(42);
    map_remove(m, nullptr, &key);
    ASSERT_EQ(map_count(m), 2);
    check(m, "map with a hole");
}

// ---- sharing and cycles ------------------------------------------------------------------------------

TEST_F(RoundTrip, SharedSeriesKeepTheirSharing) {
    ValueCell* s = text("hello world");
    ValueCell s6 = *s;
    series_set_index(&s6, 6);
    ValueCell* inner = blk({integer(1), integer(2)});
    ValueCell* outer = blk({*s, *inner, s6, *inner, nl(*inner)});
    check(outer, "shared text and block");
    // The same binary twice, and a bitset twice.
    const u8 raw[] = {1, 2, 3};
    ValueCell* bin = binary_load(ByteSource(raw), 3);
    ValueCell* bs = bitset_push_new(2, 0xF0, false);
    ValueCell* both = blk({*bin, *bs, *bin, *bs});
    check(both, "shared binary and bitset");
}

// Images: the pixels with their transparency, the head, the new-line
// marker, a side of 0, and one pixel store met twice (at two heads) coming
// back as one store; two images of equal pixels stay two.
TEST_F(RoundTrip, Images) {
    ValueCell* img = image_push_new(3, 2, 0xFF102030u);
    ASSERT_TRUE(image_set_pixel(img, 1, 0x00FFFFFFu));
    ASSERT_TRUE(image_set_pixel(img, 5, 0x80A0B0C0u));
    check(img, "image");
    ValueCell at4 = *img;
    image_set_head(&at4, 4);
    check(&at4, "image at a head");
    check(image_push_new(0, 5, 0), "image without pixels");
    ValueCell* twin = image_push_new(3, 2, 0xFF102030u);
    ValueCell* both = blk({*img, nl(at4), *twin, *img});
    check(both, "one image twice, and its twin");
    // Writing through one decoded value shows through the other.
    Bytes b = encode(both);
    ValueCell out = decode_one(b);
    ValueCell* cells = block_head_ptr(&out);
    ASSERT_TRUE(image_set_pixel(&cells[0], 0, 0xFF000001u));
    u32 px = 0;
    ASSERT_TRUE(image_get_pixel(&cells[3], 0, &px));
    EXPECT_EQ(px, 0xFF000001u);
    ASSERT_TRUE(image_get_pixel(&cells[2], 0, &px));
    EXPECT_EQ(px, 0xFF102030u);
}

// A pixel-store slot and a series node may carry the same number: neither
// may be taken for a reference to the other.
TEST_F(RoundTrip, ImageSlotEqualToASeriesNode) {
    ValueCell* s = text("same number");
    const Node node = s->data2;
    ValueCell* img = nullptr;
    for (u32 i = 0; i < 100000 && !img; i++) {
        ValueCell* candidate = image_push_new(1, 1, 0xFF000000u | i);
        if (image_slot(candidate) == node) img = candidate;
        else g_stack.top--;
    }
    ASSERT_NE(img, nullptr) << "no slot reached node " << node;
    check(blk({*s, *img, *s, *img}), "text then image of the same number");
    check(blk({*img, *s}), "image then text of the same number");
}

TEST_F(RoundTrip, Cycles) {
    ValueCell* self = blk({integer(1)});
    append(self, *self);
    append(self, *self);
    check(self, "block containing itself");

    ValueCell* a = blk({});
    ValueCell* b = blk({*a});
    append(a, *b);
    ValueCell* pair_of = blk({*a, *b});
    check(pair_of, "two blocks containing each other");

    ValueCell* h = blk({integer(5)});
    hash_from_block(h);
    ValueCell hc = *h;
    block_append_cell(h, &hc);
    hashtable_reset(h->data3, 2);
    check(h, "hash containing itself");

    ValueCell cells[2] = {word("me", TYPE_SET_WORD), none()};
    ValueCell* m = unset_push();
    map_make_from_cells(m, cells, 2);
    node_buffer(m->data2)->head_cells()[1] = *m;
    check(m, "map containing itself");
}

// ---- objects and words --------------------------------------------------------------------------------

TEST_F(RoundTrip, ObjectsAndTheirWords) {
    ValueCell* obj = object({{"a", integer(1)}, {"b", none()}, {"c", none()}});
    set_field(obj, "b", bound(obj, "a"));           // a word bound to its own object
    set_field(obj, "c", *blk({*obj, bound(obj, "c", TYPE_SET_WORD)}));  // a cycle
    check(obj, "object with a cycle");

    ValueCell* other = object({{"x", integer(9)}});
    ValueCell* words = blk({bound(other, "x"), bound(other, "x", TYPE_LIT_WORD), *other,
                            bound(obj, "a", TYPE_GET_WORD), *obj});
    check(words, "words bound to objects, written before their objects");

    ValueCell* empty = object({});
    check(empty, "empty object");
    ValueCell* unset_fields = object({{"u", g_unset_cell}});
    check(unset_fields, "object whose values are all unset");
}

TEST_F(RoundTrip, ObjectWithChangeHandlers) {
    ValueCell* spec = blk({word("word"), word("old"), word("new")});
    ValueCell* body = blk({none()});
    ValueCell* handler = func(spec, body);
    ValueCell* obj = object({{"x", integer(1)}, {"on-change*", *handler}});
    object_update_events(obj, obj->data1);
    ASSERT_NE(obj->data3, 0u);
    check(obj, "object with on-change*");
}

TEST_F(RoundTrip, FunctionsAndTheirBindings) {
    ValueCell* spec = blk({word("a"), word("b"), *text("doc")});
    ValueCell* body = blk({word("a"), word("add"), word("b"), nl(*blk({word("a")}))});
    ValueCell* fn = func(spec, body);
    ASSERT_EQ(block_head_ptr(function_more(fn, MORE_BODY))->data1, fn->data1)
        << "the body's words are bound to the function";
    check(fn, "function");

    // A body word written before its function: the function inline.
    ValueCell w = *block_head_ptr(function_more(fn, MORE_BODY));
    ValueCell* both = blk({w, *fn, *fn});
    check(both, "function after one of its words");

    // Two functions sharing a spec block.
    ValueCell* fn2 = func_sharing_spec(fn, blk({word("b")}));
    ValueCell* two = blk({*fn, *fn2});
    ASSERT_EQ(fn->data2, fn2->data2);
    check(two, "functions sharing a spec");

    // A function holding itself in its body.
    ValueCell* rec = func(blk({word("n")}), blk({word("n")}));
    ValueCell* rb = function_more(rec, MORE_BODY);
    ValueCell me = *rec;
    block_append_cell(rb, &me);
    check(rec, "function holding itself");

    ValueCell* traced = func(blk({*blk({word("trace")}), word("x")}), blk({word("x")}));
    ASSERT_NE(traced->header & FUNCTION_TRACE, 0u);
    check(traced, "function with a trace attribute");
}

TEST_F(RoundTrip, NativesActionsAndOps) {
    ValueCell* nspec = blk({word("value"), *blk({word("any-type!")})});
    ValueCell* nargs = blk({*nspec, integer(7)});
    ValueCell native = *native_make(nullptr, nargs, TYPE_NATIVE);
    check(&native, "native");
    ValueCell* aspec = blk({word("value1"), word("value2")});
    ValueCell* aargs = blk({*aspec, integer(ACT_ADD)});
    ValueCell action = *action_value_make(nullptr, aargs, TYPE_ACTION);
    check(&action, "action");
    ValueCell op = *op_make(nullptr, &action, TYPE_OP);
    check(&op, "op of an action");

    ValueCell* fn = func(blk({word("x"), word("y")}), blk({word("x")}));
    ValueCell fop = *op_make(nullptr, fn, TYPE_OP);
    check(&fop, "op of a function");
    ValueCell* mixed = blk({*fn, fop, native, native, action});
    check(mixed, "callables sharing their parts");
}

TEST_F(RoundTrip, Errors) {
    ValueCell arg = integer(42);
    ValueCell err = *error_create(Err::script_invalid_arg, &arg, nullptr, nullptr);
    check(&err, "error");
    // An error inside its own fields, and the same error twice.
    ValueCell* holder = blk({err});
    *error_field(&err, ERR_FIELD_ARG2) = *holder;
    ValueCell* twice = blk({err, nl(err)});
    check(twice, "error containing itself, twice");
}

TEST_F(RoundTrip, CollectorStressDuringEncodeAndDecode) {
    ValueCell* obj = object({{"a", *text("text")}, {"b", none()}});
    set_field(obj, "b", *blk({*obj, flt(1.5), bound(obj, "a")}));
    for (const Layout& l : all_layouts()) {
        g_gc.enabled = true;
        set_collect_stress(true);
        Bytes image = encode(obj, l);
        ValueCell* bin = binary_load(ByteSource(image.data()), static_cast<u32>(image.size()));
        ValueCell* out = block_push_new(1);
        zanbin_decode(binary_head_ptr(bin), static_cast<size_t>(binary_length(bin)), out);
        set_collect_stress(false);
        g_gc.enabled = false;
        Same s;
        EXPECT_TRUE(s.value(*obj, *block_head_ptr(out))) << l.name << ": " << s.why;
    }
}

}  // namespace
}  // namespace zan::test
