// binary!: the byte primitives, the base-2/16/58/64 codecs, conversions,
// text forms, comparison, bitwise actions, modification and the series
// actions it takes from string! and series!.
#include "dt_test_support.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/tuple.h"

namespace zan::test {
namespace {

ValueCell tuple_of(std::initializer_list<u8> bytes) {
    std::vector<u8> b(bytes);
    ValueCell c;
    cell_init(&c, TYPE_TUPLE);
    return *tuple_make_at(&c, b.data(), static_cast<u32>(b.size()));
}

class BinaryTest : public DtTest {
protected:
    static ValueCell* bin(const std::vector<u8>& bytes) {
        return binary_load(bytes.data(), static_cast<u32>(bytes.size()));
    }
    static ValueCell* bin_of(const std::string& bytes) {
        return binary_load(bytes.data(), static_cast<u32>(bytes.size()));
    }
    // The bytes from the head as upper-case hexadecimal.
    static std::string hex(const ValueCell* b) {
        static const char* d = "0123456789ABCDEF";
        std::string r;
        const u8* p = binary_head_ptr(b);
        for (i32 i = 0; i < binary_length(b); i++) {
            r += d[p[i] >> 4];
            r += d[p[i] & 15];
        }
        return r;
    }
    static std::string encode(u32 base, const std::string& bytes) {
        std::string out(binary_encoded_size(base, static_cast<u32>(bytes.size())), '\0');
        auto* src = reinterpret_cast<const u8*>(bytes.data());
        auto* dst = reinterpret_cast<u8*>(out.data());
        u8* end = nullptr;
        u32 n = static_cast<u32>(bytes.size());
        switch (base) {
            case 2: end = binary_encode_base2(src, n, dst); break;
            case 16: end = binary_encode_base16(src, n, dst); break;
            case 58: end = binary_encode_base58(src, n, dst); break;
            default: end = binary_encode_base64(src, n, dst); break;
        }
        out.resize(static_cast<size_t>(end - dst));
        return out;
    }
    // The decoded bytes as hexadecimal, or "invalid". The text is loaded as
    // a string first, so that wide units are decoded as the natives do.
    static std::string decode(u32 base, const std::string& utf8) {
        ValueCell* s = str(utf8);
        const u8* p = string_head_ptr(s);
        u32 unit = series_of(s)->unit();
        u32 n = static_cast<u32>(string_length(s));
        ValueCell* r = nullptr;
        switch (base) {
            case 2: r = binary_decode_base2(p, n, unit); break;
            case 16: r = binary_decode_base16(p, n, unit); break;
            case 58: r = binary_decode_base58(p, n, unit); break;
            default: r = binary_decode_base64(p, n, unit); break;
        }
        return r ? hex(r) : "invalid";
    }
    static ValueCell at(ValueCell s, i32 index) {
        series_set_index(&s, index);
        return s;
    }
};

TEST_F(BinaryTest, EncodersWriteEachBase) {
    struct Case {
        std::string bytes;
        const char* b2;
        const char* b16;
        const char* b58;
        const char* b64;
    } const cases[] = {
        {"", "", "", "", ""},
        {std::string("\x01", 1), "00000001", "01", "2", "AQ=="},
        {"M", "01001101", "4D", "2L", "TQ=="},
        {"Ma", "0100110101100001", "4D61", "6tY", "TWE="},
        {"Hello", nullptr, "48656C6C6F", "9Ajdvzr", "SGVsbG8="},
        {std::string("\0\0", 2), "0000000000000000", "0000", "11", "AAA="},
        {std::string("\0\0\x01", 3), nullptr, "000001", "112", "AAAB"},
        {"\xFF\xFF", "1111111111111111", "FFFF", "LUv", "//8="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.b16);
        if (c.b2) {
            EXPECT_EQ(encode(2, c.bytes), c.b2);
        }
        EXPECT_EQ(encode(16, c.bytes), c.b16);
        EXPECT_EQ(encode(58, c.bytes), c.b58);
        EXPECT_EQ(encode(64, c.bytes), c.b64);
    }
}

TEST_F(BinaryTest, DecodersReadTheirBaseAndRefuseMalformedText) {
    struct Case {
        u32 base;
        const char* text;
        const char* want;  // hex, or "invalid"
    } const cases[] = {
        {2, "01000001", "41"},
        {2, "0100 0001\n01000010", "4142"},
        {2, "0100000", "invalid"},           // bits left over
        {2, "01000002", "invalid"},
        {2, "; bits\n01000001", "41"},
        {16, "48656C6c6F", "48656C6C6F"},    // digits of either case
        {16, " 48\t65\n", "4865"},
        {16, "", ""},
        {16, "486", "invalid"},              // a lone last digit is not dropped
        {16, "4G", "invalid"},
        {16, "41 ; comment 42\n43", "4143"},
        {16, "\xC4\xB0" "1", "invalid"},      // U+0130 is no digit, whatever its low bits
        {58, "1", "00"},
        {58, "11", "0000"},
        {58, "9Ajdvzr", "48656C6C6F"},
        {58, "9Ajd vzr", "48656C6C6F"},
        {58, "0", "invalid"},                // not in the alphabet
        {58, "9Ajdvzr\xC3\xA9", "invalid"},
        {64, "SGVsbG8=", "48656C6C6F"},
        {64, "SGVs bG8=", "48656C6C6F"},
        {64, "S\tG'Vs\nbG8=", "48656C6C6F"},  // space, tab, LF, apostrophe skipped
        {64, "SGVs\n;a comment line\nbG8=", "48656C6C6F"},
        {64, "QQ==", "41"},
        {64, "QUI=", "4142"},
        {64, "QQ==  \n", "41"},               // blanks after the padding
        {64, "TWFu", "4D616E"},
        {64, "", ""},
        {64, "SGVsbG8", "invalid"},           // an unfinished group is not dropped
        {64, "QQ", "invalid"},
        {64, "QQ=", "invalid"},               // the second "=" is missing
        {64, "QQ=A", "invalid"},
        {64, "QQ==QUI=", "invalid"},          // text after the padding
        {64, "Q===", "invalid"},
        {64, "=AAA", "invalid"},
        {64, "SG*s", "invalid"},
        {64, "SGVs\xC3\xA9", "invalid"},      // wide characters do not end the text
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.base << " [" << c.text << "]");
        EXPECT_EQ(decode(c.base, c.text), c.want);
    }
}

TEST_F(BinaryTest, EveryBaseRoundTrips) {
    std::string bytes;
    for (int i = 0; i < 300; i++) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    bytes.insert(0, std::string("\0\0", 2));  // leading zeros matter to base 58
    for (u32 base : {2u, 16u, 58u, 64u}) {
        for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(4), bytes.size()}) {
            std::string part = bytes.substr(0, n);
            SCOPED_TRACE(testing::Message() << "base " << base << " length " << n);
            ValueCell* expected = bin_of(part);
            EXPECT_EQ(decode(base, encode(base, part)), hex(expected));
        }
    }
}

TEST_F(BinaryTest, ToBinaryFromEverySource) {
    ValueCell tuple = tuple_of({1, 2, 3});
    ValueCell issue;
    issue_make_at("cafe", &issue);
    ValueCell f;
    f.header = TYPE_FLOAT;
    f.data1 = 0;
    f.put_float(1.0);
    ValueCell* text = str("\u00E9");
    ValueCell file = *text;
    cell_set_type(&file, TYPE_FILE);
    struct Case {
        ValueCell spec;
        const char* want;
    } const cases[] = {
        {integer(1), "00000001"},
        {integer(-2), "FFFFFFFE"},
        {f, "3FF0000000000000"},
        {*text, "C3A9"},
        {file, "C3A9"},
        {chr(0x20AC), "E282AC"},
        {*blk({integer(1), *str("a"), chr('b'), *bin({0xFF})}), "016162FF"},
        {tuple, "010203"},
        {issue, "CAFE"},
        {at(*bin({1, 2, 3}), 1), "0203"},
    };
    ValueCell proto;
    datatype_box(&proto, TYPE_BINARY);
    for (const Case& c : cases) {
        ValueCell spec = c.spec;
        ValueCell* r = action_to_dispatch(&proto, &spec);
        ASSERT_EQ(r->type(), static_cast<u32>(TYPE_BINARY));
        EXPECT_EQ(hex(r), c.want) << mold(spec);
    }
    // make with a number gives an empty binary with that room.
    ValueCell ten = integer(10);
    ValueCell* m = action_make_dispatch(&proto, &ten);
    EXPECT_EQ(m->type(), static_cast<u32>(TYPE_BINARY));
    EXPECT_EQ(binary_length(m), 0);
    ValueCell none;
    none_box(&none);
    EXPECT_EQ(error_of([&] { action_to_dispatch(&proto, &none); }), Err::script_bad_to_arg);
    ValueCell odd;
    issue_make_at("ABC", &odd);
    EXPECT_EQ(error_of([&] { action_to_dispatch(&proto, &odd); }), Err::script_invalid_data);
    issue_make_at("zz", &odd);
    EXPECT_EQ(error_of([&] { action_to_dispatch(&proto, &odd); }), Err::script_invalid_data);
}

TEST_F(BinaryTest, FormAndMoldWriteHexadecimalLines) {
    std::vector<u8> b30(30, 0xAB), b31(31, 0x01), b64(64, 0x10);
    std::string h30(60, 'A'), h31, h32;
    for (int i = 0; i < 30; i++) h30[2 * i] = 'A', h30[2 * i + 1] = 'B';
    for (int i = 0; i < 31; i++) h31 += "01";
    for (int i = 0; i < 32; i++) h32 += "10";
    EXPECT_EQ(mold(*bin({})), "#{}");
    EXPECT_EQ(mold(*bin({1, 2, 0xFF})), "#{0102FF}");
    EXPECT_EQ(form(*bin({1, 2, 0xFF})), "#{0102FF}");
    EXPECT_EQ(mold(*bin({1, 2, 0xFF}), true), "0102FF");
    EXPECT_EQ(mold(at(*bin({1, 2, 0xFF}), 2)), "#{FF}");
    EXPECT_EQ(mold(*bin(b30)), "#{" + h30 + "}");
    EXPECT_EQ(mold(*bin(b31)), "#{\n    " + h31 + "\n}");
    EXPECT_EQ(form(*bin(b31)), "#{\n    " + h31 + "\n}");
    EXPECT_EQ(mold(*bin(b64)), "#{\n    " + h32 + "\n    " + h32 + "\n    }");
    EXPECT_EQ(mold(*bin(b64), false, false, true), "#{" + h32 + h32 + "}");
    // On a new line of a block the lines go one level deeper.
    EXPECT_EQ(mold(*blk({*bin(b31)}, {0})), "[\n    #{\n        " + h31 + "\n    }\n]");
}

TEST_F(BinaryTest, MoldPartCutsTheText) {
    ValueCell* b = bin({1, 2, 3});
    ValueCell five = integer(5);
    ValueCell r = call({*b, five}, [] { action_mold(-1, -1, -1, 1); });
    EXPECT_EQ(text(&r), "#{010");
    ValueCell one = integer(1);
    r = call({*b, one}, [] { action_form(1); });
    EXPECT_EQ(text(&r), "#");
}

TEST_F(BinaryTest, ComparisonIsByteWise) {
    struct Case {
        std::vector<u8> a, b;
        i32 op;
        bool want;
    } const cases[] = {
        {{1, 2}, {1, 2}, CMP_EQUAL, true},    {{1, 2}, {1, 2}, CMP_STRICT_EQUAL, true},
        {{1, 2}, {1, 3}, CMP_NOT_EQUAL, true}, {{1}, {1, 2}, CMP_EQUAL, false},
        {{1}, {1, 2}, CMP_LESSER, true},      {{2}, {1, 2}, CMP_GREATER, true},
        {{0x41}, {0x61}, CMP_EQUAL, false},   // never folded
        {{}, {}, CMP_EQUAL, true},            {{}, {0}, CMP_LESSER, true},
    };
    for (const Case& c : cases) {
        ValueCell* a = bin(c.a);
        ValueCell* b = bin(c.b);
        EXPECT_EQ(action_compare(a, b, c.op), c.want) << mold(*a) << " op " << c.op << " " << mold(*b);
    }
    ValueCell* a = bin({1});
    ValueCell copy = *a;
    EXPECT_TRUE(action_compare(a, &copy, CMP_SAME));
    ValueCell* twin = bin({1});
    EXPECT_FALSE(action_compare(a, twin, CMP_SAME));
    ValueCell* s = str("\x01");
    EXPECT_FALSE(action_compare(a, s, CMP_EQUAL));
    EXPECT_EQ(error_of([&] { action_compare(a, s, CMP_LESSER); }), Err::script_invalid_compare);
}

TEST_F(BinaryTest, BitwiseActionsMakeANewBinaryAsLongAsTheLonger) {
    ValueCell* a = bin({0xF0});
    ValueCell* b = bin({0x0F, 0x0F, 0x01});
    ValueCell r = call({*a, *b}, action_and_t);
    EXPECT_EQ(hex(&r), "000000");
    r = call({*a, *b}, action_or_t);
    EXPECT_EQ(hex(&r), "FF0F01");
    r = call({*b, *a}, action_xor_t);
    EXPECT_EQ(hex(&r), "FF0F01");
    EXPECT_EQ(hex(a), "F0");
    EXPECT_EQ(hex(b), "0F0F01");
    ValueCell one = integer(1);
    EXPECT_EQ(error_of([&] { call({*a, one}, action_and_t); }), Err::script_invalid_arg);
}

TEST_F(BinaryTest, ComplementLeavesItsArgumentAlone) {
    ValueCell* a = bin({0x00, 0xFF, 0x5A});
    ValueCell r = call({at(*a, 1)}, action_complement);
    EXPECT_EQ(hex(&r), "00A5");
    EXPECT_NE(r.data2, a->data2);
    EXPECT_EQ(hex(a), "00FF5A");
}

TEST_F(BinaryTest, AppendAndInsertValueKinds) {
    struct Case {
        ValueCell value;
        const char* want;
    } const cases[] = {
        {chr(0xE9), "01C3A9"},
        {integer(255), "01FF"},
        {integer(-1), "01FF"},
        {*str("ab"), "016162"},
        {*bin({7, 8}), "010708"},
        {tuple_of({9, 9, 9}), "01090909"},
        {*blk({integer(2), chr('a'), *str("b")}), "01026162"},
    };
    for (const Case& c : cases) {
        ValueCell* b = bin({1});
        ValueCell r = call({*b, c.value}, [] { action_append(-1, -1, -1); });
        EXPECT_EQ(hex(b), c.want) << mold(c.value);
        EXPECT_EQ(series_index(&r), 0);
    }
    ValueCell* b = bin({1});
    EXPECT_EQ(error_of([&] { call({*b, integer(256)}, [] { action_append(-1, -1, -1); }); }),
              Err::script_invalid_arg);
    ValueCell none;
    none_box(&none);
    EXPECT_EQ(error_of([&] { call({*b, none}, [] { action_append(-1, -1, -1); }); }),
              Err::script_bad_to_arg);
    EXPECT_EQ(hex(b), "01");
    // insert lands at the index and answers the position after the bytes.
    ValueCell r = call({at(*bin({1, 4}), 1), *bin({2, 3})}, [] { action_insert(-1, -1, -1); });
    EXPECT_EQ(hex(&r), "04");
    EXPECT_EQ(series_index(&r), 3);
    // /part and /dup.
    ValueCell* c = bin({});
    call({*c, *str("abc"), integer(2)}, [] { action_append(2, -1, -1); });
    EXPECT_EQ(hex(c), "6162");
    call({*c, integer(0), integer(3)}, [] { action_append(-1, -1, 2); });
    EXPECT_EQ(hex(c), "6162000000");
    // A binary appended to itself.
    ValueCell* d = bin({1, 2});
    call({*d, *d}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(hex(d), "01020102");
}

TEST_F(BinaryTest, ChangeOverwritesOrReplacesAPart) {
    ValueCell* b = bin({1, 2, 3});
    ValueCell r = call({at(*b, 1), *bin({9, 9, 9})}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(hex(b), "01090909");
    EXPECT_EQ(series_index(&r), 4);
    ValueCell* c = bin({1, 2, 3, 4});
    r = call({at(*c, 1), *bin({7}), integer(2)}, [] { action_change(2, -1, -1); });
    EXPECT_EQ(hex(c), "010704");
    EXPECT_EQ(series_index(&r), 2);
    // change forms what append refuses.
    ValueCell* d = bin({0});
    ValueCell none;
    none_box(&none);
    call({*d, none}, [] { action_change(-1, -1, -1); });
    EXPECT_EQ(hex(d), "6E6F6E65");
}

TEST_F(BinaryTest, TrimRemovesZeroBytesOrAGivenSet) {
    struct Case {
        std::vector<u8> in;
        unsigned flags;  // 1 head, 2 tail, 4 all
        int with;        // -1: none
        const char* want;
    } const cases[] = {
        {{0, 0, 1, 0, 2, 0}, 0, -1, "010002"},
        {{0, 0, 1, 0, 2, 0}, 1, -1, "01000200"},
        {{0, 0, 1, 0, 2, 0}, 2, -1, "0000010002"},
        {{0, 0, 1, 0, 2, 0}, 4, -1, "0102"},
        {{1, 2, 1, 3}, 0, 1, "0203"},
        {{1, 2, 1, 3}, 4, 2, "010103"},
    };
    for (const Case& c : cases) {
        ValueCell* b = bin(c.in);
        ValueCell* with = nullptr;
        ValueCell w;
        if (c.with >= 0) {
            w = integer(c.with);
            with = &w;
        }
        action_trim_dispatch(b, c.flags & 1, c.flags & 2, false, false, c.flags & 4, with);
        EXPECT_EQ(hex(b), c.want);
    }
    ValueCell* b = bin({1, 0x41, 2});
    ValueCell* set = bin({1, 2});
    action_trim_dispatch(b, false, false, false, false, false, set);
    EXPECT_EQ(hex(b), "41");
    EXPECT_EQ(error_of([&] { action_trim_dispatch(b, false, false, true, false, false, nullptr); }),
              Err::internal_not_done);
}

TEST_F(BinaryTest, SeriesActionsFromStringAndSeries) {
    ValueCell* b = bin({10, 20, 30, 40});
    EXPECT_EQ(action_length_q_dispatch(b), 4);
    ValueCell* p = action_pick_dispatch(b, 2, nullptr);
    EXPECT_EQ(p->type(), static_cast<u32>(TYPE_INTEGER));
    EXPECT_EQ(dt::int_get(p), 20);
    ValueCell v = chr('A');
    action_poke_dispatch(b, 1, &v, nullptr);
    ValueCell n = integer(0x1FF);
    action_poke_dispatch(b, 4, &n, nullptr);
    EXPECT_EQ(hex(b), "41141EFF");
    ValueCell key = integer(30);
    ValueCell* found = action_find_dispatch(b, &key, nullptr, false, false, false, false, nullptr,
                                            nullptr, false, false, false, false);
    ASSERT_EQ(found->type(), static_cast<u32>(TYPE_BINARY));
    EXPECT_EQ(series_index(found), 2);
    ValueCell two = integer(2);
    ValueCell* part = action_copy_dispatch(b, nullptr, &two, false, nullptr);
    EXPECT_EQ(hex(part), "4114");
    ValueCell* taken = action_take_dispatch(b, nullptr, false, true);
    ASSERT_EQ(taken->type(), static_cast<u32>(TYPE_INTEGER));
    EXPECT_EQ(dt::int_get(taken), 0xFF);
    action_reverse_dispatch(b, nullptr, nullptr);
    EXPECT_EQ(hex(b), "1E1441");
    ValueCell r = call({*b, integer(2)}, action_skip);
    EXPECT_EQ(hex(&r), "41");
    call({r}, [] { action_remove(-1, -1); });
    EXPECT_EQ(hex(b), "1E14");
    EXPECT_FALSE(have(TYPE_BINARY, ACT_PUT));
    EXPECT_FALSE(have(TYPE_BINARY, ACT_ADD));
}

TEST_F(BinaryTest, BytePrimitives) {
    ValueCell* b = binary_push_new(2);
    binary_append_bytes(b, "\x01\xAA", 2);
    binary_append_bytes(b, "\x05\x06", 2);
    EXPECT_EQ(hex(b), "01AA0506");
    binary_overwrite_bytes(b, 3, "\xC1\xC2\xC3", 3);
    EXPECT_EQ(hex(b), "01AA05C1C2C3");
    // A write past the tail leaves zero bytes in between.
    binary_overwrite_bytes(b, 8, "\xD1", 1);
    EXPECT_EQ(hex(b), "01AA05C1C2C30000D1");
    series_set_index(b, 7);
    EXPECT_EQ(hex(b), "00D1");
    EXPECT_EQ(binary_length(b), 2);
    series_set_index(b, 9);
    EXPECT_TRUE(binary_at_tail(b));
    EXPECT_EQ(binary_length(b), 0);
    // Matching for parse.
    ValueCell* txt = str("\u00E9");
    ValueCell* c = bin({0xC3, 0xA9, 0x00});
    EXPECT_TRUE(binary_match_value(c, txt, CMP_EQUAL));
    ValueCell ch = chr(0xC3);
    EXPECT_TRUE(binary_match_value(c, &ch, CMP_EQUAL));
    EXPECT_FALSE(binary_match_value(c, bin({0xC3, 0xAA}), CMP_EQUAL));
}

}  // namespace
}  // namespace zan::test
