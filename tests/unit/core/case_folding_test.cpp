#include "runtime/core/case_folding.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/core/errors.h"
#include "runtime/core/unicode.h"
#include "test_support.h"

namespace zan {
namespace {

ValueCell make_text(const std::u32string& cps, u32 unit, u32 index = 0, u32 type = TYPE_STRING) {
    Node n = alloc_series(cps.empty() ? 1 : static_cast<u32>(cps.size()), unit, 0);
    SeriesBuffer* b = node_buffer(n);
    for (size_t i = 0; i < cps.size(); i++) unicode_put_unit(b->head_ptr() + i * unit, unit, cps[i]);
    b->tail = b->head + static_cast<u32>(cps.size()) * unit;
    return ValueCell{type, index, n, 0};
}

std::u32string units_of(const ValueCell& s) {
    SeriesBuffer* b = series_of(&s);
    std::u32string out;
    for (HeapRef p = b->head; p < b->tail; p += b->unit()) out += unicode_get_unit(hptr(p), b->unit());
    return out;
}

ValueCell integer(i32 v) { return ValueCell{TYPE_INTEGER, 0, static_cast<u32>(v), 0}; }

using CaseFoldingTest = test::RuntimeTest;

TEST(CaseFoldingChar, SimpleMappings) {
    struct Case {
        u32 cp;
        bool upper;
        u32 want;
    };
    const Case cases[] = {
        {0x61, true, 0x41},       {0x41, false, 0x61},      {0x41, true, 0x41},
        {0xFF, true, 0x178},      {0x178, false, 0xFF},     {0xE9, true, 0xC9},
        {0xDF, true, 0xDF},       // no single-code-point upper case
        {0x1E9E, false, 0xDF},    {0x130, false, 0x69},     {0x3A3, false, 0x3C3},
        {0x3C2, true, 0x3A3},     {0xFF5A, true, 0xFF3A},   {0x31, true, 0x31},
        {0x10400, false, 0x10428}, {0x10428, true, 0x10400}, {0x1F600, true, 0x1F600},
        {0x1E943, true, 0x1E921}, {0x1E921, false, 0x1E943}, {0x10FFFF, false, 0x10FFFF},
        {0xFFFFFFFF, true, 0xFFFFFFFF},
    };
    for (auto c : cases)
        EXPECT_EQ(case_folding_change_char(c.cp, c.upper), c.want) << std::hex << c.cp << " " << c.upper;
    EXPECT_EQ(case_fold(0x00C9), 0xE9u);
}

// The inline fold gives the table's answer for every code point.
TEST(CaseFoldingChar, FastFoldAgreesEverywhere) {
    for (u32 cp = 0; cp < 0x110000; cp++) ASSERT_EQ(case_fold_fast(cp), case_fold(cp)) << cp;
    EXPECT_EQ(case_fold_fast('Q'), u32('q'));
    EXPECT_EQ(case_fold_fast('@'), u32('@'));
    EXPECT_EQ(case_fold_fast('['), u32('['));
    EXPECT_EQ(case_fold_fast(0xC9), 0xE9u);
}

// The byte table is the fold of every byte unit.
TEST(CaseFoldingChar, ByteTableIsTheFold) {
    for (u32 c = 0; c < 256; c++) ASSERT_EQ(u32(k_case_fold_bytes[c]), case_fold(c)) << c;
}

// Comparing byte texts eight bytes at a time gives the order of comparing
// them one folded byte at a time: texts of every length up to 40 that
// differ in one place (a letter's case, a byte of ASCII or of Latin-1
// either side, at every position) and texts that are equal.
TEST(CaseFoldingChar, ByteCompareIsTheFoldedOrder) {
    auto slow = [](const std::vector<u8>& a, const std::vector<u8>& b, size_t n, bool fold) {
        for (size_t i = 0; i < n; i++) {
            u32 x = fold ? case_fold(a[i]) : a[i], y = fold ? case_fold(b[i]) : b[i];
            if (x != y) return x < y ? -1 : 1;
        }
        return 0;
    };
    const u8 swaps[][2] = {{'a', 'A'}, {'a', 'b'}, {'Z', 'a'}, {'[', 'a'}, {'@', 'A'},
                           {'z', '{'}, {0xC9, 0xE9}, {0xE9, 'e'}, {0xD7, 0xF7}, {0x7F, 0x80},
                           {0, 'A'},   {'`', 'A'}};
    for (size_t n = 1; n <= 40; n++) {
        std::vector<u8> base(n);
        for (size_t i = 0; i < n; i++) base[i] = static_cast<u8>('a' + i % 26);
        for (size_t at = 0; at < n; at++) {
            for (const auto& sw : swaps) {
                std::vector<u8> a = base, b = base;
                a[at] = sw[0];
                b[at] = sw[1];
                for (bool fold : {true, false}) {
                    ASSERT_EQ(case_fold_compare_bytes(a.data(), b.data(), n, fold),
                              slow(a, b, n, fold))
                        << n << " at " << at << " " << int(sw[0]) << "/" << int(sw[1]);
                    ASSERT_EQ(case_fold_compare_bytes(b.data(), a.data(), n, fold),
                              slow(b, a, n, fold));
                }
            }
        }
        EXPECT_EQ(case_fold_compare_bytes(base.data(), base.data(), n), 0);
    }
}

// Prefix keys order as the texts do wherever they differ: shorter texts,
// case, bytes beyond ASCII, NUL bytes.
TEST(CaseFoldingChar, PrefixKeysOrderAsTheTexts) {
    const char* texts[] = {"", "a", "A", "ab", "aB", "abc", "abcdefgh", "abcdefghi", "ABCDEFGHZ",
                           "b", "\xC9t\xE9", "\xE9t\xE9", "e", "a\0", "a\0b", "zz", "{", "["};
    auto slow = [](const std::string& a, const std::string& b, bool fold) {
        size_t n = std::min(a.size(), b.size());
        int r = case_fold_compare_bytes(reinterpret_cast<const u8*>(a.data()),
                                        reinterpret_cast<const u8*>(b.data()), n, fold);
        if (r) return r;
        return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
    };
    std::vector<std::string> all;
    for (const char* t : texts) all.emplace_back(t);
    all.emplace_back(std::string("a\0", 2));
    all.emplace_back(std::string("a\0b", 3));
    for (const auto& a : all) {
        for (const auto& b : all) {
            for (bool fold : {true, false}) {
                u64 ka = case_fold_prefix_key(reinterpret_cast<const u8*>(a.data()), a.size(), fold);
                u64 kb = case_fold_prefix_key(reinterpret_cast<const u8*>(b.data()), b.size(), fold);
                if (ka == kb) continue;
                EXPECT_EQ(ka < kb ? -1 : 1, slow(a, b, fold)) << a << " / " << b << " " << fold;
            }
        }
    }
}

// The tables agree with the database they were generated from (skipped when
// the data files of the unicode-data package are not installed).
TEST(CaseFoldingChar, AgreesWithTheCharacterDatabase) {
    std::ifstream f("/usr/share/unicode/UnicodeData.txt");
    if (!f) GTEST_SKIP() << "UnicodeData.txt not installed";
    std::string line;
    u32 rows = 0, mapped = 0;
    std::vector<bool> listed(0x110000, false);
    while (std::getline(f, line)) {
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, ';')) fields.push_back(field);
        while (fields.size() < 15) fields.emplace_back();
        u32 cp = std::stoul(fields[0], nullptr, 16);
        listed[cp] = true;
        u32 up = fields[12].empty() ? cp : std::stoul(fields[12], nullptr, 16);
        u32 lo = fields[13].empty() ? cp : std::stoul(fields[13], nullptr, 16);
        ASSERT_EQ(case_folding_change_char(cp, true), up) << std::hex << cp;
        ASSERT_EQ(case_folding_change_char(cp, false), lo) << std::hex << cp;
        rows++;
        mapped += (up != cp) + (lo != cp);
    }
    EXPECT_GT(rows, 30000u);
    EXPECT_GT(mapped, 2800u);
    // Code points the database does not list have no partner.
    for (u32 cp = 0; cp < 0x110000; cp++) {
        if (listed[cp]) continue;
        ASSERT_EQ(case_folding_change_char(cp, true), cp) << std::hex << cp;
        ASSERT_EQ(case_folding_change_char(cp, false), cp) << std::hex << cp;
    }
}

TEST_F(CaseFoldingTest, ChangesACharInPlace) {
    ValueCell c{TYPE_CHAR, 0, 0x10428, 0};
    EXPECT_EQ(case_folding_change(&c, nullptr, true), &c);
    EXPECT_EQ(c.data2, 0x10400u);
    case_folding_change(&c, nullptr, false);
    EXPECT_EQ(c.data2, 0x10428u);
}

TEST_F(CaseFoldingTest, ChangesTextFromItsIndexWithinPart) {
    struct Case {
        std::u32string text;
        u32 unit;
        u32 index;
        i32 part;  // -1: none
        bool upper;
        std::u32string want;
        u32 want_unit;
    };
    const Case cases[] = {
        {U"abcdef", 1, 0, 3, true, U"ABCdef", 1},
        {U"abcdef", 1, 2, -1, true, U"abCDEF", 1},
        {U"abcdef", 1, 0, -5, true, U"abcdef", 1},   // negative part counts as 0
        {U"abcdef", 1, 4, 99, true, U"abcdEF", 1},   // part beyond the tail
        {U"ABC\u00C9", 1, 0, -1, false, U"abc\u00E9", 1},
        {U"a\u00FFb", 1, 0, -1, true, U"A\u0178B", 2},   // widens 1 -> 2 midway
        {U"\u00FF\u00FF", 1, 0, 1, true, U"\u0178\u00FF", 2},
        {U"\u0430\U00010428x", 4, 0, -1, true, U"\u0410\U00010400X", 4},
        {U"\u03A3\u0391", 2, 0, -1, false, U"\u03C3\u03B1", 2},
    };
    for (const auto& c : cases) {
        ValueCell s = make_text(c.text, c.unit, c.index);
        ValueCell p = integer(c.part);
        case_folding_change(&s, c.part == -1 ? nullptr : &p, c.upper);
        EXPECT_EQ(units_of(s), c.want);
        EXPECT_EQ(series_of(&s)->unit(), c.want_unit);
        EXPECT_EQ(s.data1, c.index);
    }
}

TEST_F(CaseFoldingTest, PartAsAPositionInTheSameText) {
    ValueCell s = make_text(U"abcdef", 1, 1, TYPE_FILE);
    ValueCell end = s;
    end.data1 = 4;
    case_folding_change(&s, &end, true);
    EXPECT_EQ(units_of(s), U"aBCDef");
    end.data1 = 0;  // before the index: nothing changes
    case_folding_change(&s, &end, false);
    EXPECT_EQ(units_of(s), U"aBCDef");
    ValueCell none{TYPE_NONE, 0, 0, 0};
    case_folding_change(&s, &none, false);
    EXPECT_EQ(units_of(s), U"abcdef");
}

TEST_F(CaseFoldingTest, IndexPastTheTailIsPulledBack) {
    ValueCell s = make_text(U"abc", 1, 10);
    case_folding_change(&s, nullptr, true);
    EXPECT_EQ(s.data1, 3u);
    EXPECT_EQ(units_of(s), U"abc");
}

u32 g_notified = 0;
ValueCell* g_notified_value = nullptr;
bool g_notified_upper = false;
u32 g_notified_index = 0, g_notified_count = 0;
void record_notify(ValueCell* v, bool upper, u32 index, u32 count) {
    g_notified++;
    g_notified_value = v;
    g_notified_upper = upper;
    g_notified_index = index;
    g_notified_count = count;
}

TEST_F(CaseFoldingTest, AnnouncesTextChangesOnly) {
    g_notified = 0;
    case_folding_set_notify(record_notify);
    ValueCell s = make_text(U"hello", 1, 1);
    ValueCell p = integer(2);
    case_folding_change(&s, &p, true);
    EXPECT_EQ(g_notified, 1u);
    EXPECT_EQ(g_notified_value, &s);
    EXPECT_TRUE(g_notified_upper);
    EXPECT_EQ(g_notified_index, 1u);
    EXPECT_EQ(g_notified_count, 2u);
    ValueCell c{TYPE_CHAR, 0, 'a', 0};
    case_folding_change(&c, nullptr, true);
    EXPECT_EQ(g_notified, 1u);
    case_folding_set_notify(nullptr);
}

Err g_err;
u32 g_err_arg1 = 0, g_err_arg2 = 0;
void capture(Err id, const ValueCell* a1, const ValueCell* a2, const ValueCell*) {
    g_err = id;
    g_err_arg1 = a1 ? a1->type() : 0;
    g_err_arg2 = a2 ? a2->type() : 0;
    raise_code(THROW_ERROR);
}

TEST_F(CaseFoldingTest, BadPartAndBadValueRaise) {
    set_error_raiser(capture);
    ValueCell s = make_text(U"abc", 1);
    ValueCell other = make_text(U"abc", 1);  // another buffer
    ValueCell f = s;
    f.set_type(TYPE_FILE);                   // same buffer, other type
    ValueCell blk{TYPE_BLOCK, 0, alloc_cells(1), 0};
    for (const ValueCell* part : {&other, &f, &blk}) {
        EXPECT_THROW(case_folding_change(&s, part, true), ThrowSignal);
        EXPECT_EQ(g_err, Err::script_invalid_refine_arg);
        EXPECT_EQ(g_err_arg1, u32(TYPE_REFINEMENT));
        EXPECT_EQ(g_err_arg2, part->type());
    }
    EXPECT_EQ(units_of(s), U"abc");
    ValueCell n = integer(5);
    EXPECT_THROW(case_folding_change(&n, nullptr, true), ThrowSignal);
    EXPECT_EQ(g_err, Err::script_invalid_arg);
    set_error_raiser(nullptr);
}

// ---- width ----------------------------------------------------------------------

TEST(CharWidth, Columns) {
    struct Case {
        u32 cp;
        i32 width;
        i32 cjk;
    };
    const Case cases[] = {
        {0x00, 0, 0},     {0x41, 1, 1},     {0x09, 1, 1},     {0x7F, 1, 1},
        {0x9F, 1, 1},     {0xA1, 1, 2},     {0xAD, 1, 2},     {0x301, 0, 0},
        {0x200B, 0, 0},   {0x1160, 0, 0},   {0x1100, 2, 2},   {0x4E00, 2, 2},
        {0x9FFF, 2, 2},   {0xAC00, 2, 2},   {0xFF01, 2, 2},   {0xFF61, 1, 1},
        {0x1F600, 2, 2},  {0x20000, 2, 2},  {0x3FFFD, 2, 2},  {0xE0100, 0, 0},
        {0xF0000, 1, 2},  {0x10FFFF, 1, 1},
    };
    for (auto c : cases) {
        EXPECT_EQ(char_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
    }
}

TEST(CharWidth, InRanges) {
    const u32 table[] = {0x10, 0x1F, 0x30, 0x30, 0x100, 0x1FF};
    struct Case {
        u32 cp;
        i32 in;
    };
    for (auto c : {Case{0x0F, 0}, Case{0x10, 1}, Case{0x1F, 1}, Case{0x20, 0}, Case{0x30, 1},
                   Case{0x31, 0}, Case{0x150, 1}, Case{0x1FF, 1}, Case{0x200, 0}})
        EXPECT_EQ(char_width_in_ranges(c.cp, table, 6), c.in) << std::hex << c.cp;
    EXPECT_EQ(char_width_in_ranges(0x10, table, 0), 0);
}

TEST(CharWidth, GeneratedRangesAreSortedAndDisjoint) {
    struct Table {
        const u32* t;
        u32 n;
    };
    for (auto tb : {Table{width_table_zero, WIDTH_ZERO_ENTRIES},
                    Table{width_table_double, WIDTH_DOUBLE_ENTRIES},
                    Table{width_table_ambiguous, WIDTH_AMBIGUOUS_ENTRIES}}) {
        ASSERT_GT(tb.n, 100u);
        for (u32 i = 0; i < tb.n; i += 2) {
            EXPECT_LE(tb.t[i], tb.t[i + 1]);
            if (i) {
                EXPECT_GT(tb.t[i], tb.t[i - 1] + 1);  // merged: a gap before each range
            }
        }
    }
}

}  // namespace
}  // namespace zan
