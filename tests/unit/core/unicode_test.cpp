#include "runtime/core/unicode.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/externals.h"
#include "test_support.h"

namespace zan {
namespace {

using Bytes = std::vector<u8>;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---- helpers: text cells built straight on series buffers --------------------

ValueCell make_text(const std::u32string& cps, u32 unit, u32 index = 0) {
    Node n = alloc_series(cps.empty() ? 1 : static_cast<u32>(cps.size()), unit, 0);
    SeriesBuffer* b = node_buffer(n);
    for (size_t i = 0; i < cps.size(); i++) unicode_put_unit(b->head_ptr() + i * unit, unit, cps[i]);
    b->tail = b->head + static_cast<u32>(cps.size()) * unit;
    return ValueCell{TYPE_STRING, index, n, 0};
}

std::u32string units_of(Node n) {
    SeriesBuffer* b = node_buffer(n);
    std::u32string out;
    for (HeapRef p = b->head; p < b->tail; p += b->unit()) out += unicode_get_unit(hptr(p), b->unit());
    return out;
}

// Records what fire raised, then unwinds like the default raiser.
struct Raised {
    Err id = Err::internal_not_done;
    u32 arg1_type = 0;
    u32 arg1_data2 = 0;
    Bytes arg1_bytes;
    u32 arg2_type = 0;
};
Raised g_raised;

void capture_raiser(Err id, const ValueCell* a1, const ValueCell* a2, const ValueCell*) {
    g_raised = Raised{};
    g_raised.id = id;
    if (a1) {
        g_raised.arg1_type = a1->type();
        g_raised.arg1_data2 = a1->data2;
        if (a1->type() == TYPE_BINARY) {
            SeriesBuffer* b = series_of(a1);
            g_raised.arg1_bytes.assign(b->head_ptr(), b->tail_ptr());
        }
    }
    if (a2) g_raised.arg2_type = a2->type();
    raise_code(THROW_ERROR);
}

class UnicodeTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        test::RuntimeTest::SetUp();
        set_error_raiser(capture_raiser);
    }
    void TearDown() override { set_error_raiser(nullptr); }

    // Runs f, which must raise; returns what was raised.
    template <class F>
    Raised raised_by(F f) {
        g_raised = Raised{};
        EXPECT_THROW(f(), ThrowSignal);
        return g_raised;
    }
};

// ---- the UTF-8 automaton --------------------------------------------------------

// Well-formed UTF-8 as the standard's table of byte ranges gives it: the
// expected decoder result (code point or -1) and bytes consumed (a rejected
// sequence consumes the byte that made it fail).
struct Expect {
    i32 cp;
    u32 consumed;
};
Expect reference_decode(const u8* p) {
    u8 b = p[0];
    u32 len;
    u8 lo1 = 0x80, hi1 = 0xBF;
    if (b < 0x80) return {b, 1};
    if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b == 0xE0) len = 3, lo1 = 0xA0;
    else if (b == 0xED) len = 3, hi1 = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF) len = 3;
    else if (b == 0xF0) len = 4, lo1 = 0x90;
    else if (b == 0xF4) len = 4, hi1 = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3) len = 4;
    else return {-1, 1};
    u32 cp = b & (0x7F >> len);
    for (u32 k = 1; k < len; k++) {
        u8 lo = k == 1 ? lo1 : 0x80, hi = k == 1 ? hi1 : 0xBF;
        if (p[k] < lo || p[k] > hi) return {-1, k + 1};
        cp = cp << 6 | (p[k] & 0x3F);
    }
    return {static_cast<i32>(cp), len};
}

TEST(Utf8Dfa, AgreesWithTheWellFormedTableOnEverySequence) {
    // First and second bytes exhaustively; third and fourth bytes from one
    // representative of every byte class and the class edges.
    const u8 sample[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                         0xC0, 0xC2, 0xDF, 0xE0, 0xED, 0xF0, 0xF4, 0xF5, 0xFF};
    u32 checked = 0;
    for (u32 b0 = 0; b0 < 256; b0++) {
        for (u32 b1 = 0; b1 < 256; b1++) {
            for (u8 b2 : sample) {
                for (u8 b3 : sample) {
                    const u8 in[5] = {u8(b0), u8(b1), b2, b3, 0};
                    Expect e = reference_decode(in);
                    i32 cp;
                    const u8* end = utf8_decode_char(in, &cp);
                    ASSERT_EQ(cp, e.cp) << std::hex << b0 << " " << b1 << " " << u32(b2) << " " << u32(b3);
                    ASSERT_EQ(u32(end - in), e.consumed) << std::hex << b0 << " " << b1;
                    checked++;
                }
            }
        }
    }
    EXPECT_EQ(checked, 256u * 256 * sizeof sample * sizeof sample);
}

TEST(Utf8Dfa, BoundedFormStopsAtTheEndOfInput) {
    // Exact-size heap copies: a read past the end would be caught by the
    // address sanitizer.
    struct Case {
        Bytes in;
        i32 cp;
        u32 consumed;
    };
    const Case cases[] = {
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
        {{0xE2, 0x82}, -1, 2},
        {{0xF0, 0x9F, 0x98}, -1, 3},
        {{0xC3}, -1, 1},
        {{0x80}, -1, 1},
        {{0xE0, 0x41}, -1, 2},
    };
    for (const auto& c : cases) {
        auto* buf = new u8[c.in.size()];
        std::memcpy(buf, c.in.data(), c.in.size());
        i32 cp;
        const u8* end = utf8_decode_char(buf, buf + c.in.size(), &cp);
        EXPECT_EQ(cp, c.cp);
        EXPECT_EQ(u32(end - buf), c.consumed);
        delete[] buf;
    }
}

TEST(Utf8Dfa, CountAndSkipWalkCodePoints) {
    Bytes text = bytes_of("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "b");
    const u8* b = text.data();
    const u8* e = b + text.size();
    EXPECT_EQ(utf8_count_chars(b, e), 5u);
    EXPECT_EQ(utf8_skip_chars(b, e, 0), b);
    EXPECT_EQ(utf8_skip_chars(b, e, 2), b + 3);
    EXPECT_EQ(utf8_skip_chars(b, e, 4), b + 10);
    EXPECT_EQ(utf8_skip_chars(b, e, 99), e);
    // A rejected byte counts as one; a sequence cut by end counts as one.
    Bytes bad = {'x', 0x80, 0xE2, 0x82};
    EXPECT_EQ(utf8_count_chars(bad.data(), bad.data() + bad.size()), 3u);
}

TEST(Utf8Dfa, LeadLength) {
    struct Case {
        u8 b;
        u32 len;
    };
    for (auto c : {Case{'A', 0}, Case{0x80, 0}, Case{0xBF, 0}, Case{0xC0, 2}, Case{0xDF, 2},
                   Case{0xE0, 3}, Case{0xEF, 3}, Case{0xF0, 4}, Case{0xF8, 4}, Case{0xFF, 4}})
        EXPECT_EQ(utf8_lead_length(c.b), c.len) << std::hex << u32(c.b);
}

// ---- checked decoding --------------------------------------------------------------

TEST_F(UnicodeTest, CheckedDecodingAcceptsWhatTheLoaderAccepts) {
    struct Case {
        Bytes in;
        i32 cp;
        u32 len;
    };
    const Case cases[] = {
        {{'A'}, 'A', 1},
        {{0xC0, 0x80}, 0, 2},               // overlong NUL is accepted
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
        {{0xED, 0xA0, 0x80}, 0xD800, 3},    // high surrogates load
        {{0xED, 0xBF, 0xBF}, 0xDFFF, 3},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0xC3}, -1, 1},                    // cut: needs more bytes
        {{0xF0, 0x9F, 0x98}, -1, 3},
    };
    for (const auto& c : cases) {
        u32 rem = static_cast<u32>(c.in.size());
        EXPECT_EQ(utf8_decode_char_checked(c.in.data(), &rem), c.cp);
        if (c.cp >= 0) {
            EXPECT_EQ(rem, c.len);
        }
    }
}

TEST_F(UnicodeTest, CheckedDecodingRaisesInvalidUtf8WithTheBytes) {
    const Bytes cases[] = {
        {0x80, 0x41},                     // stray continuation
        {0xF8, 0x80, 0x80, 0x80, 0x80},   // no such lead; only 4 bytes reported
        {0xC3, 0x41},                     // bad continuation
        {0xED, 0xB0, 0x80},               // DC00-DCFF
        {0xF4, 0x90, 0x80, 0x80},         // above 0x10FFFF
    };
    for (const auto& in : cases) {
        Raised r = raised_by([&] {
            u32 rem = static_cast<u32>(in.size());
            utf8_decode_char_checked(in.data(), &rem);
        });
        EXPECT_EQ(r.id, Err::access_invalid_utf8);
        EXPECT_EQ(r.arg1_type, u32(TYPE_BINARY));
        Bytes want(in.begin(), in.begin() + std::min<size_t>(4, in.size()));
        EXPECT_EQ(r.arg1_bytes, want);
    }
}

// ---- UTF-8 encoding ---------------------------------------------------------------

TEST_F(UnicodeTest, EncodeCharAtTheBoundaries) {
    struct Case {
        u32 cp;
        Bytes out;
    };
    const Case cases[] = {
        {0x00, {0x00}},
        {0x7F, {0x7F}},
        {0x80, {0xC2, 0x80}},
        {0x7FF, {0xDF, 0xBF}},
        {0x800, {0xE0, 0xA0, 0x80}},
        {0xFFFF, {0xEF, 0xBF, 0xBF}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
    };
    for (const auto& c : cases) {
        u8 buf[4];
        u32 n = utf8_encode_char(c.cp, buf);
        EXPECT_EQ(Bytes(buf, buf + n), c.out) << std::hex << c.cp;
        EXPECT_EQ(utf8_char_length(c.cp), c.out.size());
        u8 cut[4] = {};
        EXPECT_EQ(utf8_encode_char_bounded(c.cp, cut, 1), 1u);
        EXPECT_EQ(cut[0], c.out[0]);
    }
    u8 buf[4];
    for (auto call : {+[](u8* b) { utf8_encode_char(0x110000, b); },
                      +[](u8*) { utf8_char_length(0x110000); }}) {
        Raised r = raised_by([&] { call(buf); });
        EXPECT_EQ(r.id, Err::script_invalid_char);
        EXPECT_EQ(r.arg1_type, u32(TYPE_INTEGER));
        EXPECT_EQ(r.arg1_data2, 0x110000u);
    }
}

TEST_F(UnicodeTest, LengthOfUnitsForEveryUnitSize) {
    const std::u32string text = U"a\u00E9\u20AC\U0001F600";
    ValueCell s4 = make_text(text, 4);
    SeriesBuffer* b = series_of(&s4);
    EXPECT_EQ(utf8_length_of_units(b->head_ptr(), b->tail_ptr(), 4), 1u + 2 + 3 + 4);
    ValueCell s2 = make_text(U"a\u00E9\u20AC", 2);
    b = series_of(&s2);
    EXPECT_EQ(utf8_length_of_units(b->head_ptr(), b->tail_ptr(), 2), 6u);
    ValueCell s1 = make_text(U"a\u00E9", 1);
    b = series_of(&s1);
    EXPECT_EQ(utf8_length_of_units(b->head_ptr(), b->tail_ptr(), 1), 3u);
}

TEST_F(UnicodeTest, ToUtf8FromTheIndexForEachUnitSize) {
    struct Case {
        std::u32string text;
        u32 unit;
        u32 index;
        std::string utf8;
    };
    const Case cases[] = {
        {U"h\u00E9llo", 1, 0, "h\xC3\xA9llo"},
        {U"h\u00E9llo", 1, 1, "\xC3\xA9llo"},
        {U"x\u20ACy", 2, 0, "x\xE2\x82\xACy"},
        {U"x\U0001F600y", 4, 1, "\xF0\x9F\x98\x80y"},
        {U"abc", 1, 7, ""},  // index past the tail
    };
    for (const auto& c : cases) {
        ValueCell s = make_text(c.text, c.unit, c.index);
        i32 len = -1;
        char* out = unicode_to_utf8(&s, &len);
        EXPECT_EQ(std::string(out, len), c.utf8);
        EXPECT_EQ(out[len], '\0');
    }
}

TEST_F(UnicodeTest, ToUtf8LimitLineBreaksAndScratchReuse) {
    ValueCell s = make_text(U"a\nb\u00E9c", 1);
    i32 len = 3;
    EXPECT_EQ(std::string(unicode_to_utf8(&s, &len)), "a\nb");
    EXPECT_EQ(len, 3);
    Node scratch = s.data3;
    ASSERT_NE(scratch, 0u);

    len = -1;
    EXPECT_EQ(std::string(unicode_to_utf8_part(&s, &len, true)), "a\r\nb\xC3\xA9" "c");
    EXPECT_EQ(len, 7);
    EXPECT_EQ(s.data3, scratch);  // same scratch series, grown as needed

    len = -1;
    Node n = unicode_to_utf8_buffer(&s, &len, false);
    EXPECT_EQ(n, scratch);
    EXPECT_EQ(node_buffer(n)->used_bytes(), 6u);

    // A longer text grows the same scratch series.
    ValueCell big = make_text(std::u32string(300, U'\u20AC'), 2);
    big.data3 = scratch;
    len = -1;
    unicode_to_utf8(&big, &len);
    EXPECT_EQ(len, 900);
    EXPECT_EQ(big.data3, scratch);
    EXPECT_GE(node_buffer(scratch)->size, 901u);
}

TEST_F(UnicodeTest, ToUtf8IntoAndBounded) {
    ValueCell s = make_text(U"a\u20ACb", 2);
    u8 buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(unicode_to_utf8_into(&s, buf, -1, true), 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "a\xE2\x82\xAC" "b");
    EXPECT_EQ(unicode_to_utf8_into(&s, buf, 1, false), 1u);

    struct Case {
        u32 room;
        i32 limit;
        bool nul;
        Bytes out;
    };
    const Case cases[] = {
        {16, -1, false, {'a', 0xE2, 0x82, 0xAC, 'b'}},
        {3, -1, false, {'a', 0xE2, 0x82}},  // the euro sign cut after two bytes
        {4, 0, true, {'a', 0xE2, 0x82, 0}},  // limit 0 counts nothing; NUL inside room
        {16, 2, false, {'a', 0xE2, 0x82, 0xAC}},
        {0, -1, true, {}},
    };
    for (const auto& c : cases) {
        std::memset(buf, 0xEE, sizeof buf);
        u32 w = unicode_to_utf8_bounded(&s, buf, c.room, c.limit, c.nul);
        EXPECT_EQ(w + (c.nul && c.room ? 1 : 0), c.out.size());
        EXPECT_EQ(Bytes(buf, buf + c.out.size()), c.out);
        EXPECT_EQ(buf[c.out.size()], 0xEE) << "wrote past room " << c.room;
    }
}

// ---- UTF-16 ------------------------------------------------------------------------------

TEST_F(UnicodeTest, Utf16EncodeCharAndExtra) {
    char16_t d[2];
    EXPECT_EQ(utf16_encode_char(0x41, d), 1u);
    EXPECT_EQ(d[0], u'A');
    EXPECT_EQ(utf16_encode_char(0x1F600, d), 2u);
    EXPECT_EQ(d[0], 0xD83D);
    EXPECT_EQ(d[1], 0xDE00);
    EXPECT_EQ(utf16_encode_char(0x110000, d), 0u);

    ValueCell s = make_text(U"a\nb\U0001F600\n", 4);
    SeriesBuffer* b = series_of(&s);
    EXPECT_EQ(unicode_utf16_extra(b->head_ptr(), b->tail_ptr(), 4), 6u);
}

TEST_F(UnicodeTest, ToUtf16ForEachUnitSize) {
    struct Case {
        std::u32string text;
        u32 unit;
        bool crlf;
        std::u16string out;
    };
    const Case cases[] = {
        {U"a\nb", 1, true, u"a\r\nb"},
        {U"a\nb", 1, false, u"a\nb"},
        {U"\u20AC\n", 2, false, u"\u20AC\n"},
        {U"\u20AC\n", 2, true, u"\u20AC\r\n"},
        {U"x\U0001F600\n", 4, true, u"x\U0001F600\r\n"},
    };
    for (const auto& c : cases) {
        ValueCell s = make_text(c.text, c.unit);
        i32 count = -1;
        char16_t* out = unicode_to_utf16_part(&s, &count, c.crlf);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(std::u16string(out, count), c.out);
        EXPECT_EQ(out[count], 0);
    }
    // The plain form keeps LF as LF: the platform text of this system uses LF.
    ValueCell s = make_text(U"a\nb", 1);
    EXPECT_EQ(std::u16string(unicode_to_utf16(&s)), u"a\nb");
}

TEST_F(UnicodeTest, ToUtf16FailsAboveTheLastCodePoint) {
    ValueCell s = make_text(U"ab", 4);
    unicode_put_unit(series_of(&s)->head_ptr() + 4, 4, 0x110000);
    i32 count = -1;
    EXPECT_EQ(unicode_to_utf16_part(&s, &count, false), nullptr);
    count = 1;  // the bad code point lies outside the part
    EXPECT_NE(unicode_to_utf16_part(&s, &count, false), nullptr);
    EXPECT_EQ(count, 1);
}

Bytes utf16le(const std::u16string& s) {
    Bytes out;
    for (char16_t u : s) {
        out.push_back(static_cast<u8>(u));
        out.push_back(static_cast<u8>(u >> 8));
    }
    return out;
}

TEST_F(UnicodeTest, Utf16UnitWidthAndLoad) {
    struct Case {
        std::u16string in;
        bool cr;
        u32 width;
        std::u32string text;
    };
    const Case cases[] = {
        {u"abc\u00E9", false, 1, U"abc\u00E9"},
        {u"a\u20AC", false, 2, U"a\u20AC"},
        {u"a\U0001F600b", false, 4, U"a\U0001F600b"},
        {u"a\xDC00" u"b", false, 4, U"a\xDC00" U"b"},  // a lone low surrogate is kept
        {u"a\r\nb\rc", true, 1, U"a\nbc"},              // every CR dropped
        {u"\u20AC\r\n", true, 2, U"\u20AC\n"},
        {u"\U0001F600\r\n", true, 4, U"\U0001F600\n"},
    };
    for (const auto& c : cases) {
        Bytes raw = utf16le(c.in);
        u32 count = static_cast<u32>(c.in.size());
        EXPECT_EQ(utf16_unit_width(raw.data(), count), c.width);
        Node n = unicode_load_utf16(raw.data(), count, nullptr, c.cr);
        EXPECT_EQ(node_buffer(n)->unit(), c.width);
        EXPECT_EQ(units_of(n), c.text);
    }
    // An empty source gives an empty string of 2-byte units.
    u8 none = 0;
    Node empty = unicode_load_utf16(&none, 0, nullptr, false);
    EXPECT_EQ(node_buffer(empty)->unit(), 2u);
    EXPECT_EQ(units_of(empty), U"");
}

TEST_F(UnicodeTest, Utf16LoadIntoATargetAndFromItsOwnBuffer) {
    // Into a target: its content replaced, its unit set to the width.
    ValueCell t = make_text(U"old text", 1);
    Bytes raw = utf16le(u"\U0001F600x");
    unicode_load_utf16(raw.data(), 3, &t, false);
    EXPECT_EQ(series_of(&t)->unit(), 4u);
    EXPECT_EQ(units_of(t.data2), U"\U0001F600x");

    // Raw units already read into the target's buffer (no source).
    for (const std::u16string& in : {std::u16string(u"plain"), std::u16string(u"\u20ACx"),
                                     std::u16string(u"a\U0001F600b\U0001F601c")}) {
        Bytes units = utf16le(in);
        Node n = alloc_bytes(static_cast<u32>(units.size()));
        SeriesBuffer* b = node_buffer(n);
        std::memcpy(b->head_ptr(), units.data(), units.size());
        b->tail = b->head + static_cast<u32>(units.size());
        ValueCell own{TYPE_STRING, 0, n, 0};
        unicode_load_utf16(ByteSource(), static_cast<u32>(in.size()), &own, false);
        std::u32string want;
        for (size_t i = 0; i < in.size(); i++) {
            char32_t u = in[i];
            if (u >= 0xD800 && u <= 0xDBFF) u = 0x10000 + ((u - 0xD800) << 10) + (in[++i] - 0xDC00);
            want += u;
        }
        EXPECT_EQ(units_of(own.data2), want);
    }
}

TEST_F(UnicodeTest, Utf16UnpairedHighSurrogateIsAnErrorNotAnExit) {
    ValueCell t = make_text(U"keep", 1);
    const std::u16string cases[] = {u"a\xD800" u"b", u"ab\xD83D", u"\xD800\xD800\xDC00"};
    for (const auto& in : cases) {
        Bytes raw = utf16le(in);
        Raised r = raised_by([&] { unicode_load_utf16(raw.data(), static_cast<u32>(in.size()), &t, false); });
        EXPECT_EQ(r.id, Err::script_invalid_data);
        EXPECT_EQ(r.arg1_type, u32(TYPE_BINARY));
        EXPECT_FALSE(r.arg1_bytes.empty());
        EXPECT_EQ(r.arg1_bytes[1], 0xD8);  // the offending high surrogate first
        // The target was not touched.
        EXPECT_EQ(units_of(t.data2), U"keep");
        EXPECT_EQ(series_of(&t)->unit(), 1u);
    }
}

// ---- loading UTF-8 ---------------------------------------------------------------

TEST_F(UnicodeTest, LoadWidensAsWiderCodePointsArrive) {
    Bytes a = bytes_of("A\xC3\xA9\xE2\x82\xAC");
    Node n = unicode_load_utf8_new(a.data(), static_cast<u32>(a.size()));
    EXPECT_EQ(node_buffer(n)->unit(), 2u);
    EXPECT_EQ(units_of(n), U"A\u00E9\u20AC");

    Bytes b = bytes_of("A\xC3\xA9\xE2\x82\xAC\xF0\x90\x80\x80");
    n = unicode_load_utf8_new(b.data(), static_cast<u32>(b.size()));
    EXPECT_EQ(node_buffer(n)->unit(), 4u);
    EXPECT_EQ(units_of(n), U"A\u00E9\u20AC\U00010000");

    Bytes c = bytes_of("x\xF0\x9F\x98\x80y");
    n = unicode_load_utf8_new(c.data(), static_cast<u32>(c.size()));
    EXPECT_EQ(node_buffer(n)->unit(), 4u);
    EXPECT_EQ(units_of(n), U"x\U0001F600y");

    Bytes latin = bytes_of("caf\xC3\xA9");
    n = unicode_load_utf8_new(latin.data(), static_cast<u32>(latin.size()));
    EXPECT_EQ(node_buffer(n)->unit(), 1u);
    EXPECT_EQ(units_of(n), U"caf\u00E9");
}

TEST_F(UnicodeTest, LoadSkipsAByteOrderMark) {
    struct Case {
        Bytes in;
        std::u32string text;
    };
    const Case cases[] = {
        {{0xEF, 0xBB, 0xBF}, U""},
        {{0xEF, 0xBB, 0xBF, 'a'}, U"a"},
        {{}, U""},
    };
    for (const auto& c : cases) {
        u32 left = 99;
        Node n = unicode_load_utf8(c.in.data(), static_cast<u32>(c.in.size()), nullptr, &left, false);
        EXPECT_EQ(units_of(n), c.text);
        EXPECT_EQ(left, 0u);
    }
}

TEST_F(UnicodeTest, LoadLineBreaksWithTheCrFlag) {
    Bytes in = bytes_of("a\r\nb\rc\r");
    Node n = unicode_load_utf8(in.data(), static_cast<u32>(in.size()), nullptr, nullptr, true);
    EXPECT_EQ(units_of(n), U"a\nb\nc\n");
    n = unicode_load_utf8(in.data(), static_cast<u32>(in.size()), nullptr, nullptr, false);
    EXPECT_EQ(units_of(n), U"a\r\nb\rc\r");
    // The same after widening, through the wider loops.
    Bytes wide = bytes_of("\xE2\x82\xAC\r\n\xF0\x9F\x98\x80\r\nz\r");
    n = unicode_load_utf8(wide.data(), static_cast<u32>(wide.size()), nullptr, nullptr, true);
    EXPECT_EQ(units_of(n), U"\u20AC\n\U0001F600\nz\n");
}

TEST_F(UnicodeTest, LoadStopsAtACutSequenceAndReportsTheBytesLeft) {
    Bytes in = bytes_of("ab\xE2\x82");
    u32 left = 0;
    Node n = unicode_load_utf8(in.data(), static_cast<u32>(in.size()), nullptr, &left, false);
    EXPECT_EQ(units_of(n), U"ab");
    EXPECT_EQ(left, 2u);
    Bytes in4 = bytes_of("\xE2\x82\xAC\xF0\x9F");
    n = unicode_load_utf8(in4.data(), static_cast<u32>(in4.size()), nullptr, &left, false);
    EXPECT_EQ(units_of(n), U"\u20AC");
    EXPECT_EQ(left, 2u);
}

TEST_F(UnicodeTest, LoadRaisesOnInvalidUtf8) {
    Bytes in = bytes_of("ok\xED\xB0\x80");
    Raised r = raised_by([&] { unicode_load_utf8_new(in.data(), static_cast<u32>(in.size())); });
    EXPECT_EQ(r.id, Err::access_invalid_utf8);
    EXPECT_EQ(r.arg1_bytes, (Bytes{0xED, 0xB0, 0x80}));
    Bytes in2 = bytes_of("\xC0\x80!");
    Node n = unicode_load_utf8_new(in2.data(), static_cast<u32>(in2.size()));
    EXPECT_EQ(units_of(n), std::u32string(U"\0!", 2));
}

TEST_F(UnicodeTest, LoadGrowsWideBuffersForLongInput) {
    // The buffer is sized by source bytes at one byte per unit; after the
    // first wide code point the rest must grow it.
    std::string two = "\xE2\x82\xAC" + std::string(500, 'a');
    Node n = unicode_load_utf8_new(two.data(), static_cast<u32>(two.size()));
    EXPECT_EQ(units_of(n), U"\u20AC" + std::u32string(500, U'a'));
    std::string four = "\xF0\x9F\x98\x80" + std::string(700, 'b') + "\xC3\xA9";
    n = unicode_load_utf8_new(four.data(), static_cast<u32>(four.size()));
    EXPECT_EQ(units_of(n), U"\U0001F600" + std::u32string(700, U'b') + U"\u00E9");
}

TEST_F(UnicodeTest, LoadIntoATargetKeepsItsUnitAndReplacesItsContent) {
    ValueCell t = make_text(U"\u20AC", 2);
    Bytes in = bytes_of("hello world");
    u32 left = 5;
    unicode_load_utf8_into(in.data(), static_cast<u32>(in.size()), &t, &left);
    EXPECT_EQ(series_of(&t)->unit(), 2u);
    EXPECT_EQ(units_of(t.data2), U"hello world");
    EXPECT_EQ(left, 0u);
}

TEST_F(UnicodeTest, LoadFromASeriesSource) {
    Bytes in = bytes_of("--d\xC3\xA9j\xC3\xA0");
    Node src = alloc_bytes(static_cast<u32>(in.size()));
    SeriesBuffer* b = node_buffer(src);
    std::memcpy(b->head_ptr(), in.data(), in.size());
    b->tail = b->head + static_cast<u32>(in.size());
    Node n = unicode_load_utf8_new(ByteSource::series(src, 2), static_cast<u32>(in.size() - 2));
    EXPECT_EQ(units_of(n), U"d\u00E9j\u00E0");
}

// ---- widening ----------------------------------------------------------------------------

TEST_F(UnicodeTest, WideningKeepsEveryCodePoint) {
    struct Case {
        u32 from, to;
        SeriesBuffer* (*fn)(SeriesBuffer*);
    };
    const Case cases[] = {{1, 2, unicode_latin1_to_ucs2},
                          {1, 4, unicode_latin1_to_ucs4},
                          {2, 4, unicode_ucs2_to_ucs4}};
    for (const auto& c : cases) {
        std::u32string text;
        for (u32 i = 0; i < 40; i++) text += static_cast<char32_t>(c.from == 1 ? 0xA0 + i : 0x3040 + i);
        // Full buffer (must grow) and roomy buffer (widens in place).
        for (u32 capacity : {40u, 200u}) {
            Node n = alloc_series(capacity, c.from, 0);
            SeriesBuffer* b = node_buffer(n);
            for (u32 i = 0; i < text.size(); i++) unicode_put_unit(b->head_ptr() + i * c.from, c.from, text[i]);
            b->tail = b->head + static_cast<u32>(text.size()) * c.from;
            SeriesBuffer* w = c.fn(b);
            EXPECT_EQ(node_buffer(n), w);
            EXPECT_EQ(w->unit(), c.to);
            EXPECT_EQ(units_of(n), text);
            EXPECT_GE(w->end_ref() - w->tail, c.to);  // room for one more unit
        }
    }
    Node n = alloc_series(4, 2, 0);
    EXPECT_EQ(unicode_widen(node_buffer(n), 1), node_buffer(n));  // never narrowed
    EXPECT_EQ(node_buffer(n)->unit(), 2u);
    EXPECT_EQ(unicode_widen_for(node_buffer(n), 0x1F600)->unit(), 4u);
}

// ---- round trip ------------------------------------------------------------------------

TEST_F(UnicodeTest, RandomTextSurvivesUtf8AndUtf16RoundTrips) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<u32> plane(0, 3);
    for (int round = 0; round < 50; round++) {
        std::u32string text;
        u32 len = rng() % 64;
        for (u32 i = 0; i < len; i++) {
            u32 cp;
            switch (plane(rng)) {
                case 0: cp = 0x20 + rng() % 0x5F; break;
                case 1: cp = 0xA0 + rng() % 0x60; break;
                case 2: cp = 0x100 + rng() % (0xD800 - 0x100); break;
                default: cp = 0x10000 + rng() % 0x100000; break;
            }
            text += static_cast<char32_t>(cp);
        }
        ValueCell s = make_text(text, 4);
        i32 bytes = -1;
        char* utf8 = unicode_to_utf8(&s, &bytes);
        std::string copy(utf8, bytes);
        Node back = unicode_load_utf8_new(copy.data(), static_cast<u32>(copy.size()));
        EXPECT_EQ(units_of(back), text);

        i32 units = -1;
        char16_t* utf16 = unicode_to_utf16_part(&s, &units, false);
        ASSERT_NE(utf16, nullptr);
        Bytes raw(reinterpret_cast<u8*>(utf16), reinterpret_cast<u8*>(utf16 + units));
        Node back16 = unicode_load_utf16(raw.data(), static_cast<u32>(units), nullptr, false);
        EXPECT_EQ(units_of(back16), text);
    }
}

// ---- under collections ----------------------------------------------------------------

// Every allocation collects. A pad buffer is kept alive for a given number of
// collections and then dropped, so that the buffers made after it slide down
// in the middle of the operation under test, which must re-read them.
Node g_pad = 0;
int g_pad_keep = 0;
void mark_pad() {
    if (g_pad && g_pad_keep-- > 0) gc_mark_node(&g_pad);
}

class UnicodeStressTest : public UnicodeTest {
protected:
    void SetUp() override {
        UnicodeTest::SetUp();
        externals_init();
        gc_init();
        gc_add_mark_callback(mark_pad);
        g_gc.enabled = true;
        set_collect_stress(true);
    }
    void TearDown() override {
        g_gc.enabled = false;
        set_collect_stress(false);
        gc_remove_mark_callback(mark_pad);
        g_pad = 0;
        UnicodeTest::TearDown();
    }
    void pad(int collections) {
        g_pad = alloc_bytes(512);
        g_pad_keep = collections;
    }
};

const std::string kMixed = "a" + std::string(300, 'x') + "\xE2\x82\xAC" + std::string(300, 'y') +
                           "\xF0\x9F\x98\x80" + std::string(300, 'z');
const std::u32string kMixedText = U"a" + std::u32string(300, U'x') + U"\u20AC" +
                                  std::u32string(300, U'y') + U"\U0001F600" + std::u32string(300, U'z');

TEST_F(UnicodeStressTest, Utf8LoadFromAMovingSeries) {
    pad(2);  // survives the source's and the target's allocations
    ValueCell bin{TYPE_BINARY, 0, alloc_bytes(static_cast<u32>(kMixed.size())), 0};
    GcRoot keep_bin(&bin);
    SeriesBuffer* b = series_of(&bin);
    std::memcpy(b->head_ptr(), kMixed.data(), kMixed.size());
    b->tail = b->head + static_cast<u32>(kMixed.size());
    HeapRef before = b->head;
    ValueCell s{TYPE_STRING, 0, 0, 0};
    GcRoot keep_s(&s);
    s.data2 = unicode_load_utf8_new(ByteSource::series(bin.data2, 0), static_cast<u32>(kMixed.size()));
    EXPECT_NE(series_of(&bin)->head, before);  // the source moved during the load
    EXPECT_EQ(units_of(s.data2), kMixedText);
}

TEST_F(UnicodeStressTest, EncodersRereadTheMovedString) {
    ValueCell s{TYPE_STRING, 0, 0, 0};
    GcRoot keep(&s);
    for (bool utf16 : {false, true}) {
        pad(1);  // dropped by the scratch buffer's allocation
        s = make_text(kMixedText, 4);
        HeapRef before = series_of(&s)->head;
        if (utf16) {
            i32 units = -1;
            char16_t* w = unicode_to_utf16_part(&s, &units, false);
            ASSERT_NE(w, nullptr);
            Bytes raw(reinterpret_cast<u8*>(w), reinterpret_cast<u8*>(w + units));
            Node back = unicode_load_utf16(raw.data(), static_cast<u32>(units), nullptr, false);
            EXPECT_EQ(units_of(back), kMixedText);
        } else {
            i32 len = -1;
            EXPECT_EQ(std::string(unicode_to_utf8(&s, &len)), kMixed);
        }
        EXPECT_NE(series_of(&s)->head, before);
    }
}

TEST_F(UnicodeStressTest, Utf16LoadAndWideningOfMovingBuffers) {
    std::u16string in = u"a\U0001F600b\u20AC";
    Bytes units = utf16le(in);
    pad(2);
    ValueCell bin{TYPE_BINARY, 0, alloc_bytes(static_cast<u32>(units.size())), 0};
    GcRoot keep_bin(&bin);
    std::memcpy(series_of(&bin)->head_ptr(), units.data(), units.size());
    ValueCell t{TYPE_STRING, 0, alloc_bytes(2), 0};
    GcRoot keep_t(&t);
    HeapRef before = series_of(&bin)->head;
    unicode_load_utf16(ByteSource::series(bin.data2, 0), static_cast<u32>(in.size()), &t, false);
    EXPECT_NE(series_of(&bin)->head, before);
    EXPECT_EQ(units_of(t.data2), U"a\U0001F600b\u20AC");

    pad(1);
    ValueCell l = make_text(U"\u00E0\u00E1\u00E2\u00E3\u00E4\u00E5\u00E6\u00E7\u00E8\u00E9", 1);
    GcRoot keep_l(&l);
    SeriesBuffer* w = unicode_latin1_to_ucs4(series_of(&l));
    EXPECT_EQ(w, series_of(&l));
    EXPECT_EQ(units_of(l.data2), U"\u00E0\u00E1\u00E2\u00E3\u00E4\u00E5\u00E6\u00E7\u00E8\u00E9");
}

}  // namespace
}  // namespace zan
