// Boot images (many root values, word assignments, words bound to earlier
// root values) decoded into the root block as the global cell table, the
// start-up failures reported as a status, and the codec routines.
#include "zanbin_test_support.h"

namespace zan::test {
namespace {

class Boot : public ZanbinTest {
protected:
    u32 root_cells() const { return series_of(&g_root_block)->used_bytes() / 16; }

    // Calls a routine entry with the given arguments; answers its result.
    static ValueCell call(void (*entry)(), std::initializer_list<ValueCell> args) {
        ValueCell* saved_base = g_stack.base;
        ValueCell* saved_top = g_stack.top;
        g_stack.base = g_stack.top;
        for (const ValueCell& a : args) stack_push(&a);
        entry();
        ValueCell r = *stack_result();
        g_stack.base = saved_base;
        g_stack.top = saved_top;
        return r;
    }
};

TEST_F(Boot, RootsAssignmentsAndBoundWordsInEveryLayout) {
    for (const Layout& l : all_layouts()) {
        ValueCell* top = g_stack.top;
        ZanbinEncodeOptions o;
        o.compact = l.compact;
        o.compress = l.compress;
        ZanbinBootWriter w(o, {"boot-first-name"});
        ValueCell* obj = object({{"count", integer(3)}, {"name", *text("tool")}});
        ValueCell* code = blk({word("print"), *text("hello"), nl(word("x", TYPE_SET_WORD)), flt(1.5)});
        ValueCell answer_word = word("the-answer");
        ValueCell answer = integer(42);
        w.add_root(code);                                    // root 0
        w.add_assignment(&answer_word, &answer);             // leaves no root
        w.add_root(obj);                                     // root 1
        ValueCell* uses = blk({bound(obj, "count"), bound(obj, "name", TYPE_SET_WORD)});
        w.add_root(uses);                                    // root 2
        ValueCell the_text = *text("shared");
        ValueCell* sharing = blk({the_text, the_text});
        w.add_root(sharing);                                 // root 3
        Bytes image = w.finish();

        u32 before = root_cells();
        ZanbinBootResult r = zanbin_boot_decode(image, false);
        ASSERT_EQ(r.status, ZanbinBootStatus::ok) << l.name << " at " << r.position;
        EXPECT_EQ(r.values, 4u) << l.name;
        EXPECT_EQ(root_cells(), before + 4) << "the assignment left no cell";
        EXPECT_EQ(g_boot_cells_first, before);
        EXPECT_FALSE(g_zanbin_codec_mode);

        Same s;
        s.keep_class = true;  // start-up keeps the class ids
        EXPECT_TRUE(s.value(*code, *boot_cell_at(0))) << l.name << ": " << s.why;
        EXPECT_TRUE(s.value(*obj, *boot_cell_at(1))) << l.name << ": " << s.why;
        EXPECT_TRUE(s.value(*uses, *boot_cell_at(2))) << l.name << ": " << s.why;
        ValueCell* bound_words = block_head_ptr(boot_cell_at(2));
        EXPECT_EQ(bound_words[0].data1, boot_cell_at(1)->data1) << "bound to root value 1";
        EXPECT_EQ(bound_words[1].data1, boot_cell_at(1)->data1);
        ValueCell* shared = block_head_ptr(boot_cell_at(3));
        EXPECT_EQ(shared[0].data2, shared[1].data2);

        const ValueCell* set = global_value_ptr(symbol_make("the-answer"));
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set->type(), TYPE_INTEGER);
        EXPECT_EQ(integer_get(set), 42);
        g_stack.top = top;
    }
}

TEST_F(Boot, PresetSymbolsComeFirstAndAreAllInterned) {
    ZanbinEncodeOptions o;
    ZanbinBootWriter w(o, {"zz-preset-one", "zz-preset-two"});
    ValueCell v = word("zz-used");
    w.add_root(&v);
    Bytes image = w.finish();
    // flags 5; roots 1; payload; 3 names; the name area starts with the presets.
    ASSERT_EQ(image[7], ZANBIN_FLAG_COMPACT | ZANBIN_FLAG_SYMBOLS);
    std::string area(image.begin() + 12 + 12, image.begin() + 12 + 12 + 28);
    EXPECT_EQ(area, std::string("zz-preset-one\0zz-preset-two\0", 28));
    ASSERT_EQ(zanbin_boot_decode(image, false).status, ZanbinBootStatus::ok);
    u32 one = symbol_make("zz-preset-one"), two = symbol_make("zz-preset-two");
    u32 used = symbol_make("zz-used");
    EXPECT_LT(one, two);
    EXPECT_LT(two, used);
}

TEST_F(Boot, FailuresAreReportedNotRaised) {
    ValueCell* top = g_stack.top;
    CallFrame* ctop = g_stack.ctop;
    const bool collector = g_gc.enabled;
    auto status = [&](const Bytes& b) {
        ZanbinBootResult r = zanbin_boot_decode(b, false);
        EXPECT_EQ(g_stack.top, top);
        EXPECT_EQ(g_stack.ctop, ctop);
        EXPECT_EQ(g_gc.enabled, collector);
        return r;
    };
    EXPECT_EQ(status(bytes_of({'N', 'O', 'T', 'Z', 'A', 'N', 2, 1, 1, 1, 3})).status,
              ZanbinBootStatus::not_zanbin);
    EXPECT_EQ(status(bytes_of({'Z', 'A', 'N', 'B', 'I', 'N', 2, 3, 9, 9, 9, 9})).status,
              ZanbinBootStatus::compressed_corrupt);
    ZanbinBootResult r = status(bytes_of({'Z', 'A', 'N', 'B', 'I', 'N', 2, 1, 1, 2, 0x81, 0x00}));
    EXPECT_EQ(r.status, ZanbinBootStatus::corrupt);
    EXPECT_EQ(r.position, 12u);
    // A set-word prefix below the top level.
    r = status(bytes_of({'Z', 'A', 'N', 'B', 'I', 'N', 2, 5, 1, 5, 1, 2, 0, 0, 0, 0, 'a', 0,
                         0x05, 0x01, 0xC4, 0x0F, 0x00}));
    EXPECT_EQ(r.status, ZanbinBootStatus::corrupt);
    // What a datatype raises while the image is read (an op! of a function
    // of one argument) is a corrupt image too.
    r = status(bytes_of({'Z', 'A', 'N', 'B', 'I', 'N', 2, 5, 1, 14, 1, 2, 0, 0, 0, 0, 'a', 0,
                         0x17, 0x18, 0x01, 0x00, 0x0E, 0x05, 0x01, 0x00, 0x05, 0x01, 0x0F,
                         0x00, 0x05, 0x00}));
    EXPECT_EQ(r.status, ZanbinBootStatus::corrupt);
    EXPECT_EQ(r.position, 0u);
    EXPECT_NE(zanbin_boot_status_message(ZanbinBootStatus::not_zanbin), nullptr);
    EXPECT_STREQ(zanbin_boot_status_message(ZanbinBootStatus::compressed_corrupt),
                 "Error: Zanbin compressed data corrupted!");
}

TEST_F(Boot, KeepTableLeavesTheGlobalCellTableWhereItWas) {
    ValueCell v = integer(1);
    ZanbinBootWriter w1(ZanbinEncodeOptions{});
    w1.add_root(&v);
    ASSERT_EQ(zanbin_boot_decode(w1.finish(), false).status, ZanbinBootStatus::ok);
    u32 first = g_boot_cells_first;
    ZanbinBootWriter w2(ZanbinEncodeOptions{});
    w2.add_root(&v);
    ASSERT_EQ(zanbin_boot_decode(w2.finish(), true).status, ZanbinBootStatus::ok);
    EXPECT_EQ(g_boot_cells_first, first);
}

TEST_F(Boot, RootCountIsNotTheNumberOfValues) {
    ZanbinBootWriter w(ZanbinEncodeOptions{});
    for (i32 i = 0; i < 5; i++) {
        ValueCell v = integer(100 + i);
        w.add_root(&v);
    }
    Bytes image = w.finish();
    EXPECT_EQ(image[6], ZANBIN_BOOT_VERSION);
    ASSERT_EQ(image[8], 5);
    image[8] = 4;  // the count says 4: the payload still holds 5
    ZanbinBootResult r = zanbin_boot_decode(image, false);
    ASSERT_EQ(r.status, ZanbinBootStatus::ok);
    EXPECT_EQ(r.values, 5u);
    EXPECT_EQ(integer_get(boot_cell_at(4)), 104);
}

// ---- codec routines ----------------------------------------------------------------------------------

TEST_F(Boot, EncodeStarGivesEitherLayout) {
    ValueCell* v = blk({integer(1), *text("x")});
    ValueCell r = call(zanbin_routine_encode_star, {*v, logic(true)});
    ValueCell* compact = stack_push(&r);
    ASSERT_EQ(compact->type(), TYPE_BINARY);
    EXPECT_EQ(binary_head_ptr(compact)[7], ZANBIN_FLAG_COMPACT);
    r = call(zanbin_routine_encode_star, {*v, logic(false)});
    ValueCell* fixed = stack_push(&r);
    EXPECT_EQ(binary_head_ptr(fixed)[7], 0);
    EXPECT_TRUE(g_zanbin_codec_mode);
    // The codec's C++ entries give the same bytes.
    ValueCell* c2 = zanbin_encode_compact(v);
    ValueCell* f2 = zanbin_encode(v);
    EXPECT_EQ(binary_compare_values(compact, c2, 0, false), 0);
    EXPECT_EQ(binary_compare_values(fixed, f2, 0, false), 0);
}

TEST_F(Boot, DecodeRoutine) {
    ValueCell* v = blk({integer(1), *text("x")});
    ValueCell bin = call(zanbin_routine_encode_star, {*v, logic(true)});
    ValueCell one = call(zanbin_routine_decode, {bin});
    Same s;
    EXPECT_TRUE(s.value(*v, one)) << "one value comes back as itself: " << s.why;

    // An image of several root values comes back as a block of them.
    ZanbinBootWriter w(ZanbinEncodeOptions{});
    ValueCell a = integer(7), b = none();
    w.add_root(&a);
    w.add_root(&b);
    Bytes image = w.finish();
    ValueCell* many = binary_load(ByteSource(image.data()), static_cast<u32>(image.size()));
    ValueCell all = call(zanbin_routine_decode, {*many});
    ASSERT_EQ(all.type(), TYPE_BLOCK);
    EXPECT_EQ(block_length(&all), 2);

    // The binary is read from its index.
    Bytes padded = bytes_of({0xEE, 0xEE});
    padded.insert(padded.end(), image.begin(), image.end());
    ValueCell* at = binary_load(ByteSource(padded.data()), static_cast<u32>(padded.size()));
    series_set_index(at, 2);
    EXPECT_EQ(block_length(&(all = call(zanbin_routine_decode, {*at}))), 2);
}

TEST_F(Boot, DecodeRoutineRefusals) {
    auto refused = [&](const ValueCell& payload) {
        RaisedError e = error_of([&] { call(zanbin_routine_decode, {payload}); });
        EXPECT_EQ(e.id, Err::script_invalid_data);
        ASSERT_EQ(e.args.size(), 1u);
        EXPECT_EQ(e.args[0].type(), payload.type());
    };
    refused(integer(3));
    Bytes ten = bytes_of({'Z', 'A', 'N', 'B', 'I', 'N', 2, 1, 1, 1});
    refused(*binary_load(ByteSource(ten.data()), 10));
    // Eleven bytes are enough to try.
    Bytes eleven = bytes_of({'Z', 'A', 'N', 'B', 'I', 'N', 2, 1, 1, 1, 3});
    ValueCell n = call(zanbin_routine_decode, {*binary_load(ByteSource(eleven.data()), 11)});
    EXPECT_EQ(n.type(), TYPE_NONE);
    // A file! is read through the I/O layer's hook: a missing file cannot be
    // opened; a stand-in reader supplies the bytes.
    ValueCell* file = text("/tmp/zan-no-such-folder-8d1f/some.zanbin", TYPE_FILE);
    EXPECT_EQ(error_of([&] { call(zanbin_routine_decode, {*file}); }).id, Err::access_cannot_open);
    g_zanbin_read_hook = [](const ValueCell*, ValueCell* out) {
        static const u8 img[] = {'Z', 'A', 'N', 'B', 'I', 'N', 2, 1, 1, 1, 0xA5};
        binary_load_at(out, ByteSource(img), sizeof img);
        return true;
    };
    ValueCell r = call(zanbin_routine_decode, {*file});
    g_zanbin_read_hook = nullptr;
    EXPECT_EQ(r.type(), TYPE_INTEGER);
    EXPECT_EQ(integer_get(&r), 37);
}

}  // namespace
}  // namespace zan::test
