// Loading literal forms: each source text and the values it gives, and the
// datatype that scan mode reports for it.
#include <cstring>

#include "lexer_test_support.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/map.h"

namespace zan::test {
namespace {

struct LoadCase {
    const char* src;
    const char* expected;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.src; }

class LoadTable : public LexerTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTable, LoadsTheValue) {
    const LoadCase& c = GetParam();
    EXPECT_EQ(load(c.src), c.expected) << "source: " << c.src;
}

const LoadCase kIntegers[] = {
    {"0", "0"},
    {"7", "7"},
    {"-5", "-5"},
    {"+7", "7"},
    {"123", "123"},
    {"1'000", "1000"},
    {"1'000'000", "1000000"},
    {"2147483647", "2147483647"},
    {"-2147483648", "-2147483648"},
    {"0000000001", "1"},
    // More than 10 digits, or beyond 32 bits: a float!.
    {"2147483648", "2147483648.0"},
    {"-2147483649", "-2147483649.0"},
    {"12345678901", "12345678901.0"},
    {"00000000001", "1.0"},
    {"9999999999", "9999999999.0"},
    // Hexadecimal: 2 to 8 digits and "h", the 32-bit pattern.
    {"FFh", "255"},
    {"00h", "0"},
    {"1FFh", "511"},
    {"12345678h", "305419896"},
    {"7FFFFFFFh", "2147483647"},
    {"FFFFFFFFh", "-1"},
    {"80000000h", "-2147483648"},
};
INSTANTIATE_TEST_SUITE_P(Integers, LoadTable, ::testing::ValuesIn(kIntegers));

const LoadCase kFloats[] = {
    {"1.5", "1.5"},
    {"1.", "1.0"},
    {".5", "0.5"},
    {"-0.25", "-0.25"},
    {"1e3", "1000.0"},
    {"1.5e-3", "0.0015"},
    {"+1.5E+2", "150.0"},
    {"1'000.5", "1000.5"},
    {"0.1", "0.1"},
    {"1.#INF", "1.#INF"},
    {"-1.#inf", "-1.#INF"},
    {"+1.#Inf", "1.#INF"},
    {"1.#NAN", "1.#NaN"},
    {"1.#nan", "1.#NaN"},
    {"50%", "pct(0.5)"},
    {"1.5%", "pct(0.015)"},
    {"-100%", "pct(-1.0)"},
};
INSTANTIATE_TEST_SUITE_P(Floats, LoadTable, ::testing::ValuesIn(kFloats));

const LoadCase kStrings[] = {
    {"\"abc\"", "\"abc\""},
    {"\"\"", "\"\""},
    {"{abc}", "\"abc\""},
    {"{}", "\"\""},
    {"{a{b}c}", "\"a{b}c\""},
    {"{a^}b}", "\"a}b\""},
    {"{a\nb}", "~\"a^(A)b\""},  // line breaks before the closing brace mark it
    {"\"a^/b\"", "\"a^(A)b\""},
    {"\"^-\"", "\"^(9)\""},
    {"\"^(tab)\"", "\"^(9)\""},
    {"\"^(TAB)\"", "\"^(9)\""},
    {"\"^(line)^(page)^(esc)^(del)^(back)^(null)\"", "\"^(A)^(C)^(1B)^(7F)^(8)^(0)\""},
    {"\"^(41)^(7E)\"", "\"A~\""},
    {"\"^(3B1)\"", "\"^(3B1)\""},
    {"\"^(1F600)\"", "\"^(1F600)\""},
    {"\"^@^a^z^[^_\"", "\"^(0)^(1)^(1A)^(1B)^(1F)\""},
    {"\"^^^\"^{^}^~\"", "\"^(5E)\"{}^(7F)\""},
    {"\"^x\"", "\"^(18)\""},
    {"\"^1\"", "\"1\""},
    {"\"caf\xC3\xA9\"", "\"caf^(E9)\""},
    {"\"\xE2\x82\xAC\"", "\"^(20AC)\""},
    {"\"\xF0\x9F\x98\x80\"", "\"^(1F600)\""},
    {"%{a\"b^c}%", "\"a\"b^(5E)c\""},
    {"%{}%", "\"\""},
    {"%%{a}%%", "\"a\""},
    {"%%{a}% b}%%", "\"a}% b\""},
};
INSTANTIATE_TEST_SUITE_P(Strings, LoadTable, ::testing::ValuesIn(kStrings));

const LoadCase kChars[] = {
    {"#\"a\"", "#\"a\""},
    {"#\"^/\"", "#\"^(A)\""},
    {"#\"^\"\"", "#\"\"\""},
    {"#\"^(null)\"", "#\"^(0)\""},
    {"#\"^(1F600)\"", "#\"^(1F600)\""},
    {"#\"\xC3\xA9\"", "#\"^(E9)\""},
    {"#\"^(10FFFF)\"", "#\"^(10FFFF)\""},
};
INSTANTIATE_TEST_SUITE_P(Chars, LoadTable, ::testing::ValuesIn(kChars));

const LoadCase kWords[] = {
    {"a", "a"},
    {"abc-def?", "abc-def?"},
    {"a:", "a:"},
    {"'a", "'a"},
    {":a", ":a"},
    {"/a", "/a"},
    {"/", "/"},
    {"//", "//"},
    {"#a", "#a"},
    {"#abc-1", "#abc-1"},
    {"<", "<"},
    {"<=", "<="},
    {">", ">"},
    {"<>", "<>"},
    {"+", "+"},
    {"-", "-"},
    {"*", "*"},
    {"=", "="},
    {"==", "=="},
    {"%", "%"},
    {"FF", "FF"},
    {"a b c", "a b c"},
    {"/a/b", "/a /b"},
    // Words end at control bytes, which are blanks between tokens.
    {"a\x01" "b", "a b"},
    {"a\x7" "b", "a b"},
};
INSTANTIATE_TEST_SUITE_P(Words, LoadTable, ::testing::ValuesIn(kWords));

const LoadCase kSeries[] = {
    {"", ""},
    {"   \t  ", ""},
    {"[]", "[]"},
    {"[1 2]", "[1 2]"},
    {"[a [b [c]]]", "[a [b [c]]]"},
    {"(1 2)", "(1 2)"},
    {"([a] (b))", "([a] (b))"},
    {"a/b", "a/b"},
    {"a/b/c", "a/b/c"},
    {"'a/b", "'a/b"},
    {":a/b", ":a/b"},
    {"a/b:", "a/b:"},
    {"a/1", "a/1"},
    {"a/'b", "a/'b"},
    // A ":word" element is a get-word.
    {"a/:b", "a/:b"},
    {"a/:b/c", "a/:b/c"},
    {":a/:b", ":a/:b"},
    {"[a/:b]", "[a/:b]"},
    {"b/:n m/:key", "b/:n m/:key"},
    {"a/(b c)", "a/(b c)"},
    {"a/(b)/c", "a/(b)/c"},
    {"a/\"s\"", "a/\"s\""},
    {"a/b c", "a/b c"},
    {"[a/b]", "[a/b]"},
    {"(a/b)", "(a/b)"},
    {"a/b:  1", "a/b: 1"},
    {"a ; comment\nb", "a ~b"},
    {";only a comment", ""},
    {"#(true) #(false) #(none) #(unset)", "true false none unset"},
    {"#(integer!) #(integer) #(int) #(BLOCK!)", "integer! integer! integer! block!"},
};
INSTANTIATE_TEST_SUITE_P(Series, LoadTable, ::testing::ValuesIn(kSeries));

const LoadCase kTextLike[] = {
    {"%a.txt", "%\"a.txt\""},
    {"%dir/file.r", "%\"dir/file.r\""},
    {"%\"a b\"", "%\"a b\""},
    {"%\"a^/b\"", "%\"a^(A)b\""},
    {"%a%20b", "%\"a b\""},
    {"%a%C3%A9", "%\"a^(E9)\""},
    {"%50%zz", "%\"50%zz\""},
    {"http://example.com/x", "url\"http://example.com/x\""},
    {"http://a.b/c%20d", "url\"http://a.b/c d\""},
    {"a:b", "url\"a:b\""},
    {"a@b.c", "email\"a@b.c\""},
    {"@ref", "@\"ref\""},
    {"<a>", "<a>"},
    {"<a href=\"x>y\">", "<a href=\"x>y\">"},
    {"<a 'b>'>", "<a 'b>'>"},
};
INSTANTIATE_TEST_SUITE_P(TextLike, LoadTable, ::testing::ValuesIn(kTextLike));

const LoadCase kTimes[] = {
    {"1:30", "time(5400.0)"},
    {"1:30.5", "time(90.5)"},
    {"1:2:3", "time(3723.0)"},
    {"1:2:3.25", "time(3723.25)"},
    {"-1:30", "time(-5400.0)"},
    {"1:60", "time(7200.0)"},
    {"0:0:59.5", "time(59.5)"},
    {"1'000:00", "time(3600000.0)"},
};
INSTANTIATE_TEST_SUITE_P(Times, LoadTable, ::testing::ValuesIn(kTimes));

const LoadCase kMade[] = {
    {"1.2.3", "1.2.3"},
    {"255.0.0.128", "255.0.0.128"},
    {"10x20", "10x20"},
    {"-1x-2", "-1x-2"},
    {"(1, 2)", "(1, 2)"},
    {"(1.5, -2, 3)", "(1.5, -2, 3)"},
    {"( 1.#INF , 2 )", "(1.#INF, 2)"},
    {"$1", "$1.00"},
    {"-$5.5", "-$5.50"},
    {"$1'000.12", "$1000.12"},
    {"1-Jan-2024", "1-Jan-2024"},
    {"29-Feb-2024", "29-Feb-2024"},
    {"1/2/99", "1-Feb-1999"},
    {"1-jan-49", "1-Jan-2049"},
    {"1-jan-50", "1-Jan-1950"},
    {"2024-01-15", "15-Jan-2024"},
    {"15-1--2024", "15/Jan/-2024"},
    {"1-Jan-2024/10:30", "1-Jan-2024/10:30:00"},
    {"2024-W01-1", "1-Jan-2024"},
    {"2024-032", "1-Feb-2024"},
};
INSTANTIATE_TEST_SUITE_P(MadeByTheirDatatypes, LoadTable, ::testing::ValuesIn(kMade));

// ---- scan mode: the type of the first token ---------------------------------------------------------

struct ScanCase {
    const char* src;
    u32 type;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.src; }

class ScanTable : public LexerTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTable, ReportsTheType) {
    const ScanCase& c = GetParam();
    i32 t = scan_type(c.src);
    EXPECT_EQ(t, static_cast<i32>(c.type))
        << "source: " << c.src << " gave " << name_of(t) << ", expected " << name_of(static_cast<i32>(c.type));
}

const ScanCase kScans[] = {
    {"123", TYPE_INTEGER},
    {"12345678901", TYPE_FLOAT},
    {"FFh", TYPE_INTEGER},
    {"1.5", TYPE_FLOAT},
    {"1.#INF", TYPE_FLOAT},
    {"50%", TYPE_PERCENT},
    {"\"s\"", TYPE_STRING},
    {"{s}", TYPE_STRING},
    {"%{s}%", TYPE_STRING},
    {"#\"c\"", TYPE_CHAR},
    {"word", TYPE_WORD},
    {"set:", TYPE_SET_WORD},
    {"'lit", TYPE_LIT_WORD},
    {":get", TYPE_GET_WORD},
    {"/ref", TYPE_REFINEMENT},
    {"#iss", TYPE_ISSUE},
    {"%file", TYPE_FILE},
    {"http://x", TYPE_URL},
    {"a@b", TYPE_EMAIL},
    {"@r", TYPE_REF},
    {"<tag>", TYPE_TAG},
    {"1:30", TYPE_TIME},
    {"[1 2]", TYPE_BLOCK},
    {"(1 2)", TYPE_PAREN},
    {"a/b", TYPE_PATH},
    {"a/b:", TYPE_SET_PATH},
    {"'a/b", TYPE_LIT_PATH},
    {":a/b", TYPE_GET_PATH},
    {"#(int)", TYPE_DATATYPE},
    {"#(true)", TYPE_LOGIC},
    // Literals whose values come with their own datatype code.
    {"1.2.3", TYPE_TUPLE},
    {"255.255.255.255", TYPE_TUPLE},
    {"1.2.3.4.5.6.7.8.9.10.11.12", TYPE_TUPLE},
    {"10x20", TYPE_PAIR},
    {"-1x-2", TYPE_PAIR},
    {"(1, 2)", TYPE_POINT2D},
    {"(1.5, 2, 3)", TYPE_POINT3D},
    {"( -1.5 , 1.#INF )", TYPE_POINT2D},
    {"$1", TYPE_MONEY},
    {"$1'000.12345", TYPE_MONEY},
    {"-$5.5", TYPE_MONEY},
    {"EUR$10", TYPE_MONEY},
    {"$1,5", TYPE_ERROR},
    {"#{}", TYPE_BINARY},
    {"#{0102 ; comment\n FF}", TYPE_BINARY},
    {"2#{00000001 00000010}", TYPE_BINARY},
    {"64#{AQID}", TYPE_BINARY},
    {"64#{AQ==}", TYPE_BINARY},
    {"#[a 1]", TYPE_MAP},
    {"1-Jan-2024", TYPE_DATE},
    {"1-jan-24", TYPE_DATE},
    {"29-Feb-2024", TYPE_DATE},
    {"2024-01-15", TYPE_DATE},
    {"15/1/2024", TYPE_DATE},
    {"1/2/99", TYPE_DATE},
    {"15-1--2024", TYPE_DATE},
    {"-2024-1-15", TYPE_ERROR},
    {"2024-W03", TYPE_DATE},
    {"2024-W03-2", TYPE_DATE},
    {"2024-123", TYPE_DATE},
    {"20240115T1030Z", TYPE_DATE},
    {"20240115T103045.5+0200", TYPE_DATE},
    {"1-Jan-2024/10:30", TYPE_DATE},
    {"1-Jan-2024/10:30:15.5Z", TYPE_DATE},
    {"2024-01-15T10:30:00-05:00", TYPE_DATE},
    {"1-September-2024", TYPE_DATE},
    // Scan mode does not raise: a bad token is error!.
    {"1a", TYPE_ERROR},
    {"}", TYPE_ERROR},
    {"[1 2", TYPE_ERROR},
    {"1''0", TYPE_ERROR},
    {"9h", TYPE_ERROR},
    {"#{123}", TYPE_ERROR},
    {"16#{GG}", TYPE_ERROR},
    {"3#{00}", TYPE_ERROR},
    {"2#{0000000}", TYPE_ERROR},
    {"64#{AQI}", TYPE_ERROR},
    {"64#{A===}", TYPE_ERROR},
    {"1.2..3", TYPE_ERROR},
    {"256.1.1", TYPE_ERROR},
    {"1.2.3.4.5.6.7.8.9.10.11.12.13", TYPE_ERROR},
    {"12x3.5", TYPE_ERROR},
    {"(1, )", TYPE_ERROR},
    {"(1, 2, 3, 4)", TYPE_ERROR},
    {"$1.123456", TYPE_ERROR},
    {"$123456789012345678", TYPE_ERROR},
    {"$1''0", TYPE_ERROR},
    {"$1'", TYPE_ERROR},
    {"-$", TYPE_ERROR},
    {"EU$1", TYPE_ERROR},
    {"29-Feb-2023", TYPE_ERROR},
    {"31-Apr-2024", TYPE_ERROR},
    {"1-Foo-2024", TYPE_ERROR},
    {"1-Ja-2024", TYPE_ERROR},
    {"1-13-2024", TYPE_ERROR},
    {"1-Jan/2024", TYPE_ERROR},
    {"1-Jan-2024/24:00", TYPE_ERROR},
    {"1-Jan-2024/10:60", TYPE_ERROR},
    {"1-Jan-2024/10:30+16:00", TYPE_ERROR},
    {"2024-W03-8", TYPE_ERROR},
    {"1:2:60", TYPE_ERROR},
    {"1:60.5", TYPE_ERROR},
    {"1:2:3:4", TYPE_ERROR},
    {"12345678901:00", TYPE_ERROR},
    {"1.5e", TYPE_ERROR},
    {"1.#INX", TYPE_ERROR},
    {"#\"\"", TYPE_ERROR},
    {"#\"ab\"", TYPE_ERROR},
    {"#\"^(110000)\"", TYPE_ERROR},
    {"\"^(1234567)\"", TYPE_ERROR},
    {"\"^(zz)\"", TYPE_ERROR},
    {"#(nothing)", TYPE_ERROR},
    {"#()", TYPE_ERROR},
    {"'a:", TYPE_ERROR},
    {":a:", TYPE_ERROR},
    {",", TYPE_ERROR},
};
INSTANTIATE_TEST_SUITE_P(Types, ScanTable, ::testing::ValuesIn(kScans));

// ---- behaviour of runs -------------------------------------------------------------------------------

TEST_F(LexerTest, EmptyInputGivesAnEmptyBlock) {
    ValueCell* out = load_cell("");
    EXPECT_EQ(out->type(), TYPE_BLOCK);
    EXPECT_EQ(block_length(out), 0);
    EXPECT_EQ(scan_type(""), 0);
    EXPECT_EQ(scan_type("   "), 0);
}

TEST_F(LexerTest, LineBreaksBeforeAValueSetItsNewLineMarker) {
    EXPECT_EQ(load("a\nb c\n\n[d\ne]"), "a ~b c ~[d ~e]");
    EXPECT_EQ(load("\"x\"\n{y}"), "\"x\" ~\"y\"");
}

TEST_F(LexerTest, BracedStringsTakeTheMarkerFromTheirPieces) {
    // Line breaks before the opening brace, or between the last brace and
    // the closing one, mark the string.
    EXPECT_EQ(load("a\n{x}"), "a ~\"x\"");
    EXPECT_EQ(load("a {x\n}"), "a ~\"x^(A)\"");
    EXPECT_EQ(load("a {x}"), "a \"x\"");
}

TEST_F(LexerTest, OneValueStopsAfterTheFirstValue) {
    ValueCell* out = none_push();
    i32 consumed = -1;
    const char* src = "a b c";
    i32 t = lexer_transcode(out, reinterpret_cast<const u8*>(src), 5, true, true, true, 0,
                            &consumed, nullptr, nullptr, nullptr);
    EXPECT_EQ(t, static_cast<i32>(TYPE_WORD));
    EXPECT_EQ(render(out), "a");
    EXPECT_EQ(consumed, 1);

    const char* block = "[1 [2]] x";
    consumed = -1;
    t = lexer_transcode(out, reinterpret_cast<const u8*>(block), 9, true, true, true, 0,
                        &consumed, nullptr, nullptr, nullptr);
    EXPECT_EQ(t, static_cast<i32>(TYPE_BLOCK));
    EXPECT_EQ(render(out), "[1 [2]]");
    EXPECT_EQ(consumed, 7);
}

TEST_F(LexerTest, ScanModeCountsWhatItRead) {
    i32 consumed = -1;
    EXPECT_EQ(scan_type("  123 456", &consumed), static_cast<i32>(TYPE_INTEGER));
    EXPECT_EQ(consumed, 5);
    EXPECT_EQ(scan_type("<a> b", &consumed), static_cast<i32>(TYPE_TAG));
    EXPECT_EQ(consumed, 3);
}

TEST_F(LexerTest, PrescanGuessesTheTypeFromTheStructure) {
    EXPECT_EQ(prescan_type("[1 2]"), static_cast<i32>(TYPE_BLOCK));
    EXPECT_EQ(prescan_type("(a [b])"), static_cast<i32>(TYPE_PAREN));
    EXPECT_EQ(prescan_type("123"), static_cast<i32>(TYPE_INTEGER));
    EXPECT_EQ(prescan_type("\"s\" x"), static_cast<i32>(TYPE_STRING));
    EXPECT_EQ(prescan_type("a/b"), static_cast<i32>(TYPE_PATH));
    // Paths end where their elements end, in the prescan too.
    EXPECT_EQ(prescan_type("a/b c"), static_cast<i32>(TYPE_PATH));
    EXPECT_EQ(prescan_type("[a/b/c d a/<t> e]"), static_cast<i32>(TYPE_BLOCK));
    EXPECT_EQ(prescan_type("[<a> (1, 2) 3]"), static_cast<i32>(TYPE_BLOCK));
    EXPECT_EQ(prescan_type("[1 2"), static_cast<i32>(TYPE_ERROR));
}

TEST_F(LexerTest, StringInputCountsCodePointsFromTheStringIndex) {
    ValueCell* s = string_load_push("x \xC3\xA9t\xC3\xA9 b c", 11, 0);
    s->data1 = 2;  // from the first "é"
    ValueCell* out = none_push();
    i32 consumed = -1;
    lexer_scan_string(out, s, -1, true, true, true, 0, &consumed, nullptr, nullptr);
    EXPECT_EQ(out->type(), TYPE_WORD);
    EXPECT_STREQ(symbol_to_cstr(out->data2), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(consumed, 3);

    // A limited length stops the text there.
    lexer_scan_string(out, s, 5, false, true, true, 0, &consumed, nullptr, nullptr);
    EXPECT_EQ(block_length(out), 2);
    EXPECT_EQ(consumed, 5);
}

TEST_F(LexerTest, WideStringInputIsConverted) {
    // A 4-byte-unit string.
    const char* src = "\"\xF0\x9F\x98\x80\" [1]";
    ValueCell* s = string_load_push(src, static_cast<u32>(std::strlen(src)), 0);
    ValueCell* out = none_push();
    lexer_scan_string(out, s, -1, false, true, true, 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(render_cells(out, " "), "\"^(1F600)\" [1]");
    ValueCell* str = block_head_ptr(out);
    EXPECT_EQ(series_of(str)->unit(), 4u);
}

TEST_F(LexerTest, StringUnitsFollowTheText) {
    struct Case {
        const char* src;
        u32 unit;
    } cases[] = {
        {"\"abc\"", 1},
        {"\"^(41)\"", 1},
        {"\"^(tab)\"", 1},
        {"\"\xC3\xA9\"", 2},
        {"\"^(0041)\"", 2},
        {"\"^(1F600)\"", 4},
        {"\"\xF0\x9F\x98\x80\"", 4},
        {"{\xE2\x82\xAC}", 2},
    };
    for (const Case& c : cases) {
        ValueCell* out = load_cell(c.src);
        EXPECT_EQ(series_of(block_head_ptr(out))->unit(), c.unit) << c.src;
        stack_pop(1);
    }
}

TEST_F(LexerTest, IntoAppendsToTheGivenBlock) {
    ValueCell* into = block_push_new(4);
    ValueCell one;
    integer_box(&one, 1);
    block_append_cell(into, &one);
    ValueCell* out = load_cell("2 [3]", nullptr, into);
    EXPECT_EQ(render(out), "[1 2 [3]]");
    EXPECT_EQ(out->data2, into->data2);
}

TEST_F(LexerTest, UnicodeSpacesSurroundWords) {
    EXPECT_EQ(load("\xC2\xA0" "abc"), "abc");          // U+00A0 before a word
    EXPECT_EQ(load("\xE3\x80\x80"), "");               // U+3000 alone
    EXPECT_EQ(load("a\xE2\x80\x83" "b"), "a b");       // U+2003 inside
    EXPECT_EQ(load("\xE2\x80\x8C" "a"), "\xE2\x80\x8C" "a");  // U+200C is no space
}

TEST_F(LexerTest, ManyValuesGrowTheOutputStack) {
    std::string src = "[";
    for (int i = 0; i < 5000; i++) src += std::to_string(i) + " ";
    src += "]";
    ValueCell* out = load_cell(src);
    ASSERT_EQ(block_length(out), 1);
    ValueCell* inner = block_head_ptr(out);
    ASSERT_EQ(block_length(inner), 5000);
    EXPECT_EQ(integer_get(block_head_ptr(inner) + 4999), 4999);
    EXPECT_GE(g_lexer_out.capacity, 5001u);
}

TEST_F(LexerTest, BinaryAndMapLiteralsAreBuilt) {
    ValueCell* out = load_cell("#{01FF}");
    ASSERT_EQ(block_length(out), 1);
    ValueCell* bin = block_head_ptr(out);
    ASSERT_EQ(bin->type(), static_cast<u32>(TYPE_BINARY));
    ASSERT_EQ(binary_length(bin), 2);
    EXPECT_EQ(binary_head_ptr(bin)[0], 0x01);
    EXPECT_EQ(binary_head_ptr(bin)[1], 0xFF);
    stack_pop(1);
    // A map literal: word keys become set-words, a repeated key keeps its
    // first place and takes the later value.
    out = load_cell("#[a 1 \"k\" 2 a 3]");
    ASSERT_EQ(block_length(out), 1);
    ValueCell* map = block_head_ptr(out);
    ASSERT_EQ(map->type(), static_cast<u32>(TYPE_MAP));
    EXPECT_EQ(map_count(map), 2);
    ValueCell* entries = stack_push_cell();
    cell_init(entries, TYPE_BLOCK, 0, map->data2);
    ASSERT_EQ(block_length(entries), 4);
    EXPECT_EQ(block_cell_at(entries, 0)->type(), static_cast<u32>(TYPE_SET_WORD));
    EXPECT_EQ(block_cell_at(entries, 1)->data2, 3u);
    EXPECT_EQ(block_cell_at(entries, 2)->type(), static_cast<u32>(TYPE_STRING));
    stack_pop(2);
}

}  // namespace
}  // namespace zan::test

namespace zan::test {
namespace {

TEST_F(LexerTest, LargeStringInputGetsATemporaryBuffer) {
    // 2 bytes of room per character of a 1-byte string: more than the
    // scratch buffer holds.
    std::string src;
    while (src.size() < 70000) src += "1 ";
    src += "\"end\"";
    ValueCell* input = string_load_push(src.data(), static_cast<u32>(src.size()), 0);
    ValueCell* out = none_push();
    i32 consumed = 0;
    lexer_scan_string(out, input, -1, false, true, true, 0, &consumed, nullptr, nullptr);
    EXPECT_EQ(block_length(out), 35001);
    EXPECT_EQ(render(block_head_ptr(out) + 35000), "\"end\"");
    EXPECT_EQ(consumed, static_cast<i32>(src.size()));
}

TEST_F(LexerTest, TheDatatypeLayerScansStringsThroughTheLexer) {
    ASSERT_NE(g_services.lexer_scan_string, nullptr);
    ValueCell* input = string_load_push("a [b] 3", 7, 0);
    ValueCell* out = none_push();
    i32 consumed = 0;
    g_services.lexer_scan_string(input, out, -1, &consumed);
    EXPECT_EQ(render(out), "[a [b] 3]");
    EXPECT_EQ(consumed, 7);
}

}  // namespace
}  // namespace zan::test
