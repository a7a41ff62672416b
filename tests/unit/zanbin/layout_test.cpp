// The bytes of both record layouts: the container header, the short forms of
// the compact layout and the word records of the fixed layout, checked byte
// for byte; and hand-made images that the decoder must read.
#include "zanbin_test_support.h"

namespace zan::test {
namespace {


Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The records of a compact image without a symbol table (root count and
// payload length of one byte each).
Bytes compact_payload(const Bytes& image) {
    EXPECT_GE(image.size(), 10u);
    EXPECT_EQ(image[7], ZANBIN_FLAG_COMPACT);
    EXPECT_EQ(image[8], 1);
    EXPECT_EQ(image[9], image.size() - 10);
    return Bytes(image.begin() + 10, image.end());
}

// A compact image around records, with an optional symbol table.
Bytes compact_image(const Bytes& payload, const std::vector<std::string>& names = {}) {
    Bytes b = kMagic + bytes_of({2, names.empty() ? 1 : 5, 1});
    auto uvar = [&](u32 v) {
        while (v >= 0x80) {
            b.push_back(static_cast<u8>(v | 0x80));
            v >>= 7;
        }
        b.push_back(static_cast<u8>(v));
    };
    uvar(static_cast<u32>(payload.size()));
    if (!names.empty()) {
        Bytes area, offsets;
        for (const std::string& n : names) {
            u32 off = static_cast<u32>(area.size());
            for (int k = 0; k < 4; k++) offsets.push_back(static_cast<u8>(off >> (8 * k)));
            area.insert(area.end(), n.begin(), n.end());
            area.push_back(0);
        }
        uvar(static_cast<u32>(names.size()));
        uvar(static_cast<u32>(area.size()));
        b = b + offsets + area;
    }
    return b + payload;
}

Bytes le32(std::initializer_list<u32> words) {
    Bytes b;
    for (u32 w : words)
        for (int k = 0; k < 4; k++) b.push_back(static_cast<u8>(w >> (8 * k)));
    return b;
}

// A fixed image around record words (no symbol table).
Bytes fixed_image(const Bytes& records, u32 roots = 1) {
    return kMagic + bytes_of({2, 0}) + le32({roots, static_cast<u32>(records.size())}) + records;
}

// ---- the container ----------------------------------------------------------------------

TEST_F(ZanbinTest, CompactImageOfNone) {
    ValueCell v = none();
    EXPECT_EQ(hex(encode(&v, true)), hex(kMagic + bytes_of({2, 1, 1, 1, 0x03})));
}

TEST_F(ZanbinTest, FixedImageOfAnInteger) {
    ValueCell v = integer(5);
    EXPECT_EQ(hex(encode(&v, false)),
              hex(kMagic + bytes_of({2, 0}) + le32({1, 8, TYPE_INTEGER, 5})));
}

TEST_F(ZanbinTest, SymbolTableOfBothLayouts) {
    ValueCell* b = blk({word("ab"), word("xyz"), word("ab")});
    Bytes c = encode(b, true);
    // flags: compact + symbols; roots 1; payload 8 (tag, count, three word
    // records); 2 symbols; a name area of 7 bytes.
    Bytes expect = kMagic + bytes_of({2, 5, 1, 8, 2, 7}) + le32({0, 3}) +
                   bytes_of({'a', 'b', 0, 'x', 'y', 'z', 0}) +
                   bytes_of({0x05, 0x03, 0x0F, 0x00, 0x0F, 0x01, 0x0F, 0x00});
    EXPECT_EQ(hex(c), hex(expect));

    Bytes f = encode(b, false);
    // Names padded to 8 bytes each; words carry the global flag (bit 25)
    // and their global index.
    ASSERT_GE(f.size(), 24u + 8 + 16);
    EXPECT_EQ(f[7], ZANBIN_FLAG_SYMBOLS);
    EXPECT_EQ(hex(Bytes(f.begin() + 16, f.begin() + 24 + 8)), hex(le32({2, 16, 0, 8})));
    EXPECT_EQ(hex(Bytes(f.begin() + 32, f.begin() + 48)),
              hex(bytes_of({'a', 'b', 0, 0, 0, 0, 0, 0, 'x', 'y', 'z', 0, 0, 0, 0, 0})));
    Bytes first_word(f.begin() + 48 + 12, f.begin() + 48 + 20);
    EXPECT_EQ(hex(first_word), hex(le32({TYPE_WORD | (1u << 25), 0})));
    Same s;
    EXPECT_TRUE(s.value(*b, decode_one(f))) << s.why;
}

// ---- compact short forms ------------------------------------------------------------------

struct ShortForm {
    const char* name;
    std::function<ValueCell()> make;
    Bytes records;
};

TEST_F(ZanbinTest, CompactShortFormsByteForByte) {
    const std::vector<ShortForm> cases = {
        {"integer 63", [] { return integer(63); }, bytes_of({0xBF})},
        {"integer 0", [] { return integer(0); }, bytes_of({0x80})},
        {"integer 64", [] { return integer(64); }, bytes_of({0x0B, 0x80, 0x01})},
        {"integer -1", [] { return integer(-1); }, bytes_of({0x0B, 0x01})},
        {"true with new line", [] { return nl(logic(true)); }, bytes_of({0xC0, 0xC2})},
        {"false", [] { return logic(false); }, bytes_of({0xC3})},
        {"float 2.0", [] { return flt(2.0); }, bytes_of({0x4C, 0x04})},
        {"float -0.0", [] { return flt(-0.0); },
         bytes_of({0x0C, 0, 0, 0, 0, 0, 0, 0, 0x80})},
        {"float 0.5", [] { return flt(0.5); },
         bytes_of({0x0C, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F})},
        {"percent 50%", [] { return flt(0.5, TYPE_PERCENT); }, bytes_of({0x66, 0x64})},
        {"time 1:00", [] { return flt(3600.0, TYPE_TIME); }, bytes_of({0x6B, 0xA0, 0x38})},
        {"char #\"A\"", [] { return chr('A'); }, bytes_of({0x0A, 0x41})},
        {"pair 3x-2", [] {
             ValueCell p{};
             pair_make_at(&p, 3, -2);
             return p;
         }, bytes_of({0x25, 0x06, 0x03})},
        {"tuple 1.2.3", [] {
             ValueCell t{};
             const u8 b[3] = {1, 2, 3};
             tuple_make_at(&t, b, 3);
             return t;
         }, bytes_of({0x27, 1, 2, 3})},
        {"tuple 1.2.3.4", [] {
             ValueCell t{};
             const u8 b[4] = {1, 2, 3, 4};
             tuple_make_at(&t, b, 4);
             return t;
         }, bytes_of({0x67, 4, 1, 2, 3, 4})},
        {"typeset of integer!", [] {
             ValueCell t{};
             typeset_make_at(&t, 0, 0, 0);
             typeset_add_type(&t, TYPE_INTEGER);
             return t;
         }, bytes_of({0x21, 0x02, 0x00, 0x10})},
        {"datatype block!", [] {
             ValueCell d{};
             datatype_box(&d, TYPE_BLOCK);
             return d;
         }, bytes_of({0x01, 0x05})},
        {"date without time", [] {
             ValueCell d{};
             date_make_at(&d, 2024, 2, 29, 0, 0, 0, false);
             return d;
         }, [] {
             ValueCell d{};
             date_make_at(&d, 2024, 2, 29, 0, 0, 0, false);
             return bytes_of({0x2F}) + le32({d.data1});
         }()},
    };
    for (const ShortForm& c : cases) {
        ValueCell v = c.make();
        Bytes image = encode(&v, true);
        EXPECT_EQ(hex(compact_payload(image)), hex(c.records)) << c.name;
        Same s;
        EXPECT_TRUE(s.value(v, decode_one(image))) << c.name << ": " << s.why;
    }
}

TEST_F(ZanbinTest, CompactTextRecords) {
    ValueCell* s = text("hi");
    EXPECT_EQ(hex(compact_payload(encode(s, true))), hex(bytes_of({0x07, 0x08, 'h', 'i'})));
    // Two-byte units: the unit's log in the low bits of the length field.
    ValueCell* w = text("\xE2\x82\xAC!");  // the euro sign forces 2-byte units
    series_set_index(w, 1);
    EXPECT_EQ(hex(compact_payload(encode(w, true))),
              hex(bytes_of({0x47, 0x01, 0x09, 0xAC, 0x20, '!', 0x00})));
    Same same;
    EXPECT_TRUE(same.value(*w, decode_one(encode(w, true)))) << same.why;
}

// ---- sharing ----------------------------------------------------------------------------------

TEST_F(ZanbinTest, SharedBlockIsWrittenOnceThenReferred) {
    ValueCell* inner = blk({integer(7)});
    ValueCell again = *inner;
    series_set_index(&again, 1);
    ValueCell* outer = blk({*inner, again});
    Bytes image = encode(outer, true);
    EXPECT_EQ(hex(compact_payload(image)),
              hex(bytes_of({0x05, 0x02, 0x05, 0x01, 0x87, 0xC1, 0x45, 0x01, 0x02, 0x00, 0x00})));
    ValueCell back = decode_one(image);
    ValueCell* cells = block_head_ptr(&back);
    EXPECT_EQ(cells[0].data2, cells[1].data2) << "the two values share one buffer";
    EXPECT_EQ(cells[0].data1, 0u);
    EXPECT_EQ(cells[1].data1, 1u);
}

TEST_F(ZanbinTest, WordBoundToAnObjectWrittenLater) {
    ValueCell* obj = object({{"a", integer(1)}});
    ValueCell w = bound(obj, "a");
    ValueCell* outer = blk({w, *obj});
    Bytes image = encode(outer, true);
    Bytes expect = bytes_of({0x05, 0x02,                      // the block of two
                             0x4F, 0x00, 0x00,                // word a, index 0
                             0x20});                          // its owner inline
    u32 cls = (obj->data2 << 1) ^ (static_cast<u32>(static_cast<i32>(obj->data2) >> 31));
    expect.push_back(static_cast<u8>(cls));
    expect = expect + bytes_of({0x0E, 0x1A, 0x01, 0x00, 0x81,  // context: 1 word, value 1
                                0xC1, 0x20, 0x02, 0x00, 0x00});  // the object: a reference
    Bytes payload(image.begin() + 18, image.end());  // after the one-name symbol table
    EXPECT_EQ(hex(payload), hex(expect));
    ValueCell back = decode_one(image);
    ValueCell* cells = block_head_ptr(&back);
    ASSERT_EQ(cells[1].type(), TYPE_OBJECT);
    EXPECT_EQ(cells[0].data1, cells[1].data1) << "the word is bound to the object";
    Same s;
    EXPECT_TRUE(s.value(*outer, back)) << s.why;
}

// ---- fixed layout ---------------------------------------------------------------------------

TEST_F(ZanbinTest, FixedStringTakesTwelvePlusEightBytes) {
    ValueCell* s = text("hello");
    Bytes image = encode(s, false);
    EXPECT_EQ(hex(image), hex(kMagic + bytes_of({2, 0}) +
                              le32({1, 20, TYPE_STRING | (1u << 8), 0, 5}) +
                              bytes_of({'h', 'e', 'l', 'l', 'o', 0, 0, 0})));
}

TEST_F(ZanbinTest, FixedFloatIsAlignedByPaddingWords) {
    ValueCell* b = blk({integer(1), flt(2.5)});
    Bytes image = encode(b, false);
    Bytes records(image.begin() + 16, image.end());
    // Block header, head, count (3 words); integer (2 words): 20 bytes, so
    // one padding word comes before the float's header, then high, low.
    EXPECT_EQ(hex(records), hex(le32({TYPE_BLOCK, 0, 2, TYPE_INTEGER, 1, 0, TYPE_FLOAT,
                                      0x40040000, 0})));
    Same s;
    EXPECT_TRUE(s.value(*b, decode_one(image))) << s.why;
    // A float at the start of the records needs no padding.
    ValueCell f = flt(2.5);
    EXPECT_EQ(encode(&f, false).size(), 16u + 12u);
}

TEST_F(ZanbinTest, FixedZeroWordsBetweenRecordsAreSkipped) {
    Bytes image = fixed_image(le32({0, TYPE_INTEGER, 5, 0, 0, TYPE_INTEGER, 6}));
    ValueCell* out = decode(image);
    ASSERT_EQ(block_length(out), 2);
    EXPECT_EQ(integer_get(block_head_ptr(out)), 5);
    EXPECT_EQ(integer_get(block_head_ptr(out) + 1), 6);
}

TEST_F(ZanbinTest, FixedNewLineAndReferenceForms) {
    ValueCell* inner = blk({integer(3)});
    ValueCell* outer = blk({nl(*inner), *inner});
    Bytes image = encode(outer, false);
    Bytes records(image.begin() + 16, image.end());
    EXPECT_EQ(hex(records),
              hex(le32({TYPE_BLOCK, 0, 2,                       // outer
                        TYPE_BLOCK | (1u << 31), 0, 1, TYPE_INTEGER, 3,  // inner, new line
                        TYPE_BLOCK | (1u << 19), 0, 255, 2, 0, 0})));  // reference tail
    ValueCell back = decode_one(image);
    EXPECT_TRUE(block_head_ptr(&back)[0].new_line());
    EXPECT_FALSE(block_head_ptr(&back)[1].new_line());
    EXPECT_EQ(block_head_ptr(&back)[0].data2, block_head_ptr(&back)[1].data2);
}

// ---- hand-made compact images ------------------------------------------------------------------

TEST_F(ZanbinTest, DecodeFollowsThePayloadNotTheRootCount) {
    Bytes image = compact_image(bytes_of({0x81, 0x82, 0x83}));
    image[8] = 1;  // the root count says one value
    ValueCell* out = decode(image);
    EXPECT_EQ(block_length(out), 3);
}

TEST_F(ZanbinTest, ExtendedTypeIdTag) {
    // Tag 63 with the datatype id as a uvarint: integer! 5.
    ValueCell v = decode_one(compact_image(bytes_of({0x3F, 0x0B, 0x0A})));
    EXPECT_EQ(v.type(), TYPE_INTEGER);
    EXPECT_EQ(integer_get(&v), 5);
}

TEST_F(ZanbinTest, CopyRecordAndSharedWordOfHandMadeImage) {
    // [[1] copy-of-0/0] : 0xFF copies the value at the path.
    ValueCell* out = decode(compact_image(bytes_of({0x05, 0x02, 0x05, 0x01, 0x81, 0xFF, 0x02,
                                                    0x00, 0x00})));
    ValueCell b = *block_head_ptr(out);
    ASSERT_EQ(block_length(&b), 2);
    EXPECT_EQ(block_head_ptr(&b)[0].data2, block_head_ptr(&b)[1].data2);
}

}  // namespace
}  // namespace zan::test
