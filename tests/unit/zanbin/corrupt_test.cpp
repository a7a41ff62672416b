// Refused and corrupt input: each check of the format raises its error with
// the byte position, refused datatypes raise no-codec, and no truncation or
// bit flip of a valid image crashes or hangs the decoder.
#include <random>

#include "zanbin_test_support.h"

namespace zan::test {
namespace {


Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A compact image of records (no symbols): the records start at offset 10,
// so the first record byte is at position 11.
Bytes image_of(const Bytes& payload) {
    return cat(cat(kMagic, bytes_of({2, 1, 1, static_cast<int>(payload.size())})), payload);
}

// The same with a symbol table of the given names: records start after it.
Bytes image_with_names(const Bytes& payload, const std::vector<std::string>& names) {
    Bytes offsets, area;
    for (const std::string& n : names) {
        u32 off = static_cast<u32>(area.size());
        for (int k = 0; k < 4; k++) offsets.push_back(static_cast<u8>(off >> (8 * k)));
        area.insert(area.end(), n.begin(), n.end());
        area.push_back(0);
    }
    Bytes b = cat(kMagic, bytes_of({2, 5, 1, static_cast<int>(payload.size()),
                                     static_cast<int>(names.size()),
                                     static_cast<int>(area.size())}));
    return cat(cat(cat(b, offsets), area), payload);
}

class Corrupt : public ZanbinTest {};

struct BadRecord {
    const char* what;
    Bytes payload;
    i32 position;  // 1-based; 0 when not checked
};

TEST_F(Corrupt, RecordChecksGiveTheirPosition) {
    const std::vector<BadRecord> cases = {
        {"tag 0x00", bytes_of({0x00}), 11},
        {"datatype id 0 behind a prefix", bytes_of({0xC0, 0x40}), 11},
        {"five-byte uvarint ending in 0x10", bytes_of({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x10}), 12},
        {"uvarint cut by the end", bytes_of({0x0B, 0xFF}), 12},
        {"copy path of count 0", bytes_of({0xFF, 0x00}), 12},
        {"copy path of count 65537", bytes_of({0xFF, 0x81, 0x80, 0x04}), 12},
        {"copy path index outside", bytes_of({0x05, 0x01, 0xFF, 0x02, 0x00, 0x05}), 13},
        {"copy path into the value being read", bytes_of({0xFF, 0x01, 0x00}), 11},
        {"tuple length 0", bytes_of({0x67, 0x00}), 12},
        {"tuple length 13", bytes_of({0x67, 0x0D}), 12},
        {"typeset length 13", bytes_of({0x21, 0x0D}), 12},
        {"date with time bit and S clear", bytes_of({0x2F, 0x00, 0x00, 0x01, 0x00}), 11},
        {"date without time bit and S set",
         bytes_of({0x6F, 0x80, 0x10, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}), 11},
        {"date of month 13", bytes_of({0x2F, 0x80, 0xD0, 0x00, 0x00}), 12},
        {"logic with a type tag", bytes_of({0x04}), 11},
        {"prefix before a small integer", bytes_of({0xC1, 0x85}), 11},
        {"prefix 0xC1 before a type without references", bytes_of({0xC1, 0x0B, 0x02}), 11},
        {"set-word prefix in codec use", bytes_of({0xC4, 0x10, 0x00}), 11},
        {"tag 0xC5", bytes_of({0xC5}), 11},
        {"tag 0xFE", bytes_of({0xFE}), 11},
        {"symbol! record", bytes_of({0x0D}), 11},
        {"series! record", bytes_of({0x2A}), 11},
        {"datatype id 55", bytes_of({0x3F, 0x37}), 11},
        {"text of unit size 8", bytes_of({0x07, 0x07}), 12},
        {"text longer than the data", bytes_of({0x07, 0x28, 'a'}), 13},
        {"char beyond Unicode", bytes_of({0x0A, 0x80, 0x80, 0xC4, 0x00}), 12},
        {"block count above the bytes left", bytes_of({0x05, 0x05, 0x81}), 12},
        {"block whose records run out", bytes_of({0x05, 0x02, 0x07, 0x04, 'a'}), 16},
        {"money digit above 9", bytes_of({0x31, 0, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 12},
        {"map of an odd count", bytes_of({0x28, 0x01, 0x81}), 12},
        {"word without a symbol table", bytes_of({0x0F, 0x00}), 12},
        {"shared text over a block", bytes_of({0x05, 0x02, 0x05, 0x00, 0xC1, 0x07, 0x02, 0x00,
                                               0x00}), 17},
        {"vector of float elements of 2 bytes", bytes_of({0x23, 0x31, 0x00}), 12},
        {"function whose context is on the heap",
         bytes_of({0x18, 0x00, 0x00, 0x0E, 0x02, 0x00}), 15},
        {"object whose context is on the stack", bytes_of({0x20, 0x00, 0x0E, 0x04, 0x00}), 14},
        {"context flags with unknown bits", bytes_of({0x0E, 0x20, 0x00}), 12},
        {"error code outside the catalogue", bytes_of({0x22, 0xFF, 0xFF, 0x03}), 12},
        {"native of table index 0", bytes_of({0x15, 0x00, 0x05, 0x00}), 12},
        {"action beyond the table", bytes_of({0x16, 0x3F, 0x05, 0x00}), 12},
        {"native whose spec is not a block", bytes_of({0x15, 0x01, 0x81}), 13},
        {"image wider than 65535", bytes_of({0x35, 0x80, 0x80, 0x04, 0x01}), 12},
        {"image taller than 65535", bytes_of({0x35, 0x01, 0x80, 0x80, 0x04}), 12},
        {"image pixels cut by the end", bytes_of({0x35, 0x02, 0x01, 1, 2, 3, 4}), 14},
        {"image head past its pixels", bytes_of({0x75, 0x03, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}),
         13},
        {"shared image over a text", bytes_of({0x05, 0x02, 0x07, 0x04, 'a', 0xC1, 0x35, 0x02, 0x00,
                                               0x00}), 18},
        {"shared image with its head past the pixels",
         bytes_of({0x05, 0x02, 0x35, 0x01, 0x01, 0, 0, 0, 0, 0xC1, 0x75, 0x02, 0x02, 0x00, 0x00}),
         23},
    };
    for (const BadRecord& c : cases) {
        i32 pos = corrupt_position(image_of(c.payload));
        if (c.position) EXPECT_EQ(pos, c.position) << c.what;
        else EXPECT_GT(pos, 0) << c.what;
    }
}

TEST_F(Corrupt, FifthVarintByteMayUseItsLowFourBits) {
    ValueCell v = decode_one(image_of(bytes_of({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})));
    EXPECT_EQ(integer_get(&v), std::numeric_limits<i32>::min());
}

TEST_F(Corrupt, SymbolTableChecks) {
    // Index 1 of a one-name table.
    EXPECT_EQ(corrupt_position(image_with_names(bytes_of({0x0F, 0x01}), {"a"})), 20);
    // A name area that does not end in 0.
    Bytes b = image_with_names(bytes_of({0x0F, 0x00}), {"a"});
    b[b.size() - 3] = 'x';
    EXPECT_GT(corrupt_position(b), 0);
    // An offset beyond the name area.
    b = image_with_names(bytes_of({0x0F, 0x00}), {"a"});
    b[12] = 9;
    EXPECT_EQ(corrupt_position(b), 20);
    // A name that is not UTF-8.
    EXPECT_EQ(corrupt_position(image_with_names(bytes_of({0x0F, 0x00}), {"\xC3("})), 21);
    // Two words of one name in one context.
    EXPECT_GT(corrupt_position(image_with_names(
                  bytes_of({0x0E, 0x02, 0x02, 0x00, 0x01}), {"a", "A"})),
              0);
}

TEST_F(Corrupt, BindingsMustFitTheirContexts) {
    // A function whose context words [a] disagree with its spec [a b]:
    // calls build their frames from the spec.
    Bytes fn = bytes_of({0x18, 0x02, 0x00, 0x0E, 0x05, 0x01, 0x00,  // counts, context [a]
                         0x05, 0x02, 0x0F, 0x00, 0x0F, 0x01,         // spec [a b]
                         0x05, 0x00});                               // body []
    EXPECT_EQ(corrupt_position(image_with_names(fn, {"a", "b"})), 24 + 7 + 1);
    // The same function with a context that agrees decodes.
    fn[5] = 0x02;
    fn.insert(fn.begin() + 7, 0x01);
    ValueCell ok = decode_one(image_with_names(fn, {"a", "b"}));
    EXPECT_EQ(ok.type(), TYPE_FUNCTION);
    // A word whose owner comes inline, at index 5 of a one-word object.
    Bytes w = bytes_of({0x4F, 0x00, 0x0A, 0x20, 0x00, 0x0E, 0x1A, 0x01, 0x00, 0x81});
    EXPECT_GT(corrupt_position(image_with_names(w, {"a"})), 0);
    // A word referring to an earlier object, at index 1 of its one word.
    Bytes r = bytes_of({0x05, 0x02, 0x20, 0x00, 0x0E, 0x1A, 0x01, 0x00, 0x81,
                        0xC1, 0x4F, 0x00, 0x02, 0x02, 0x00, 0x00});
    EXPECT_GT(corrupt_position(image_with_names(r, {"a"})), 0);
    r[12] = 0x00;  // index 0 is fine
    ValueCell b = decode_one(image_with_names(r, {"a"}));
    EXPECT_EQ(block_head_ptr(&b)[1].data1, block_head_ptr(&b)[0].data1);
}

TEST_F(Corrupt, HeaderChecks) {
    // A payload longer than the data.
    EXPECT_EQ(corrupt_position(cat(kMagic, bytes_of({2, 1, 1, 5, 0x81}))), 9);
    // A symbol count beyond what is left.
    EXPECT_GT(corrupt_position(cat(kMagic, bytes_of({2, 5, 1, 0, 100, 0}))), 0);
    // No header at all after the flags.
    EXPECT_EQ(corrupt_position(cat(kMagic, bytes_of({2, 1}))), 9);
}

TEST_F(Corrupt, WholeImageRefusals) {
    auto invalid = [&](const Bytes& b) {
        RaisedError e = error_of([&] { decode(b); });
        EXPECT_EQ(e.id, Err::script_invalid_data) << hex(b);
    };
    invalid(bytes_of({'Z', 'A', 'N', 'B', 'I', 'X', 2, 1, 1, 1, 3}));
    invalid(bytes_of({'Z', 'A', 'N'}));
    invalid(cat(kMagic, bytes_of({2})));
    // The fixed layout needs its two header words.
    invalid(cat(kMagic, bytes_of({2, 0, 1, 0, 0, 0, 0})));
    // Compressed data that the LZ decompressor rejects.
    invalid(cat(kMagic, bytes_of({2, 3, 0x13, 0x37, 0x00, 0xFF, 0x42})));
    // The argument is the input given.
    ValueCell* in = text("the input");
    RaisedError e = error_of([&] {
        Bytes b = bytes_of({'n', 'o', 'p', 'e', 0, 0, 0, 0, 0, 0, 0});
        ValueCell* out = block_push_new(1);
        zanbin_decode(b.data(), b.size(), out, in);
    });
    ASSERT_EQ(e.args.size(), 1u);
    EXPECT_EQ(e.args[0].data2, in->data2);
}

TEST_F(Corrupt, RefusedDatatypes) {
    for (u32 t : {TYPE_ROUTINE, TYPE_TRIPLE, TYPE_HANDLE, TYPE_PORT, TYPE_EVENT}) {
        RaisedError e = error_of([&] { decode(image_of(bytes_of({static_cast<int>(t)}))); });
        EXPECT_EQ(e.id, Err::access_no_codec) << t;
        ASSERT_EQ(e.args.size(), 1u);
        EXPECT_EQ(e.args[0].type(), TYPE_DATATYPE);
        EXPECT_EQ(e.args[0].data1, t);
    }
    // A handle! anywhere in the value makes the whole encode fail.
    ValueCell h{};
    handle_make_at(&h, 3, HANDLE_FD);
    ValueCell* b = blk({integer(1), *blk({h})});
    for (bool compact : {true, false}) {
        RaisedError e = error_of([&] { encode(b, compact); });
        EXPECT_EQ(e.id, Err::access_no_codec);
        ASSERT_EQ(e.args.size(), 1u);
        EXPECT_EQ(e.args[0].data1, TYPE_HANDLE);
    }
    ValueCell t{};
    triple_make_at(&t, 1, 2, 3);
    EXPECT_EQ(error_of([&] { encode(&t); }).id, Err::access_no_codec);
}

// ---- nesting ---------------------------------------------------------------------------------

TEST_F(Corrupt, NestingDepthIsBounded) {
    // Nested blocks one short of the limit go through in both layouts.
    auto nested = [&](u32 depth) {
        ValueCell* inner = blk({integer(1)});
        for (u32 i = 1; i < depth; i++) {
            ValueCell c = *inner;
            inner = blk({c});
        }
        return inner;
    };
    // The innermost integer stands one level below the innermost block.
    ValueCell* ok = nested(ZANBIN_MAX_DEPTH - 1);
    for (bool compact : {true, false}) {
        Same s;
        EXPECT_TRUE(s.value(*ok, decode_one(encode(ok, compact)))) << s.why;
    }
    ValueCell* deep = nested(ZANBIN_MAX_DEPTH);
    EXPECT_EQ(error_of([&] { encode(deep); }).id, Err::internal_too_deep);
    // A crafted image nested far deeper is refused, not followed.
    Bytes payload;
    for (int i = 0; i < 100000; i++) {
        payload.push_back(0x05);
        payload.push_back(0x01);
    }
    payload.push_back(0x81);
    Bytes image = cat(kMagic, bytes_of({2, 1, 1}));
    u32 n = static_cast<u32>(payload.size());
    while (n >= 0x80) {
        image.push_back(static_cast<u8>(n | 0x80));
        n >>= 7;
    }
    image.push_back(static_cast<u8>(n));
    image = cat(image, payload);
    EXPECT_GT(corrupt_position(image), 0);
}

TEST_F(Corrupt, CountsDoNotReserveWhatTheyOnlyPromise) {
    // 1000 nested blocks, each claiming every byte after its count as its
    // records (a count written in three bytes), around 400000 small
    // integers. Reserving each claim up front would take gigabytes.
    const u32 levels = 1000, filler = 400000;
    const u32 total = levels * 4 + filler;
    Bytes payload;
    payload.reserve(total);
    for (u32 i = 0; i < levels; i++) {
        u32 claim = total - 4 * (i + 1);
        payload.push_back(0x05);
        payload.push_back(static_cast<u8>(0x80 | (claim & 0x7F)));
        payload.push_back(static_cast<u8>(0x80 | ((claim >> 7) & 0x7F)));
        payload.push_back(static_cast<u8>(claim >> 14));
    }
    payload.insert(payload.end(), filler, 0x80);
    Bytes image = cat(kMagic, bytes_of({2, 1, 1}));
    u32 n = total;
    while (n >= 0x80) {
        image.push_back(static_cast<u8>(n | 0x80));
        n >>= 7;
    }
    image.push_back(static_cast<u8>(n));
    image = cat(image, payload);
    // The innermost block takes the integers; the one around it then runs
    // out of records.
    EXPECT_EQ(corrupt_position(image), static_cast<i32>(image.size()) + 1);
}

// ---- fuzzing ---------------------------------------------------------------------------------

class Fuzz : public ZanbinTest {
protected:
    u32 succeeded = 0;
    std::map<Err, u32> errors;

    // Decodes, and answers whether it succeeded; a failure must be a raised
    // language error with the stacks back where they were.
    bool try_decode(const Bytes& b) {
        ValueCell* top = g_stack.top;
        CallFrame* ctop = g_stack.ctop;
        ValueCell* base = g_stack.base;
        const bool collector = g_gc.enabled;
        bool ok = true;
        try {
            decode(b);
            succeeded++;
        } catch (const ThrowSignal& s) {
            EXPECT_EQ(s.code, THROW_ERROR);
            errors[last_error().id]++;
            ok = false;
        }
        g_stack.top = top;
        g_stack.ctop = ctop;
        g_stack.base = base;
        EXPECT_EQ(g_gc.enabled, collector) << "the collector flag was not restored";
        return ok;
    }

    // A value that uses most record kinds.
    ValueCell* rich_value() {
        ValueCell* obj = object({{"a", *text("caf\xC3\xA9")}, {"b", none()}});
        set_field(obj, "b", *blk({*obj, bound(obj, "a")}));
        ValueCell dt{};
        datatype_box(&dt, TYPE_INTEGER);
        ValueCell* fn = func(blk({word("x"), *blk({dt}), word("y")}),
                             blk({word("x"), flt(0.25), word("y")}));
        ValueCell cells[4] = {word("k", TYPE_SET_WORD), integer(1000), *text("s"), none()};
        ValueCell* m = unset_push();
        map_make_from_cells(m, cells, 4);
        ValueCell arg = integer(7);
        ValueCell err = *error_create(Err::script_invalid_arg, &arg, nullptr, nullptr);
        ValueCell d{}, tu{}, ts{};
        date_make_at(&d, 2020, 5, 17, 3600.5, 2, 0, true);
        const u8 tb[4] = {9, 8, 7, 6};
        tuple_make_at(&tu, tb, 4);
        typeset_make_at(&ts, 0x11, 0x22, 0);
        const u8 raw[] = {1, 2, 3, 4, 5};
        ValueCell* bin = binary_load(ByteSource(raw), 5);
        ValueCell* vec = unset_push();
        vector_make_at(vec, 2, TYPE_FLOAT, 8);
        vector_append_number(vec, 3);
        ValueCell* bs = bitset_push_new(3, 0x0F, true);
        ValueCell* s = text("hello");
        ValueCell s2 = *s;
        series_set_index(&s2, 3);
        ValueCell* h = blk({integer(1), word("w")});
        hash_from_block(h);
        ValueCell op = *op_make(nullptr, fn, TYPE_OP);
        ValueCell* img = image_push_new(2, 2, 0x80102030u);
        ValueCell img1 = *img;
        image_set_head(&img1, 1);
        ValueCell* all = blk({*obj, *fn, op, *m, err, d, tu, ts, *bin, *vec, *bs, *s, s2, *h,
                              flt(1.0 / 3), flt(0.5, TYPE_PERCENT), word("g", TYPE_GET_WORD),
                              nl(integer(-5)), chr(0x263A), *img, img1});
        append(all, *all);
        return all;
    }
};

TEST_F(Fuzz, TruncationsAndBitFlipsNeverCrash) {
    ValueCell* v = rich_value();
    for (const Layout& l : all_layouts()) {
        Bytes image = encode(v, l);
        ASSERT_TRUE(try_decode(image)) << l.name;
        u32 accepted = 0;
        for (size_t n = 0; n < image.size(); n++)
            if (try_decode(Bytes(image.begin(), image.begin() + n))) accepted++;
        // A cut image may still decode (fewer values), but never the empty one.
        EXPECT_LT(accepted, image.size()) << l.name;
        for (size_t i = 0; i < image.size(); i++) {
            for (int bit = 0; bit < 8; bit++) {
                Bytes flipped = image;
                flipped[i] ^= static_cast<u8>(1 << bit);
                try_decode(flipped);
            }
            if (i % 64 == 0) {
                collect();
            }
        }
    }
    // Both outcomes were met: damaged images that still decode, and corrupt
    // records found.
    EXPECT_GT(succeeded, 100u);
    EXPECT_GT(errors[Err::script_zb_invalid_record], 100u);
    EXPECT_GT(errors[Err::script_invalid_data], 100u);
}

TEST_F(Fuzz, RandomDamageNeverCrashes) {
    ValueCell* v = rich_value();
    std::mt19937 rng(12345);
    for (const Layout& l : all_layouts()) {
        if (l.compress) continue;  // damage to the LZ stream is its decoder's concern
        Bytes image = encode(v, l);
        for (int round = 0; round < 3000; round++) {
            Bytes b = image;
            int edits = 1 + static_cast<int>(rng() % 6);
            for (int e = 0; e < edits; e++) {
                size_t at = 8 + rng() % (b.size() - 8);
                switch (rng() % 3) {
                    case 0: b[at] = static_cast<u8>(rng()); break;
                    case 1: b.erase(b.begin() + static_cast<long>(at)); break;
                    default: b.insert(b.begin() + static_cast<long>(at), static_cast<u8>(rng())); break;
                }
            }
            try_decode(b);
            if (round % 200 == 0) {
                collect();
            }
        }
    }
}

}  // namespace
}  // namespace zan::test
