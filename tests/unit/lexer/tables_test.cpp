// The lexer's tables and the number scanners that the datatypes use.
#include <cmath>
#include <cstring>

#include "lexer_test_support.h"

namespace zan::test {
namespace {

TEST(LexerTables, CharacterClassesAndFlags) {
    struct Case {
        u8 byte;
        u32 cls;
        u32 flags;
    } cases[] = {
        {0x00, 39, LEX_FLAG_NUL}, {'\t', 0, 0},  {'\r', 0, 0},  {' ', 0, 0},
        {'\n', 1, 0},             {0x01, 35, 0}, {0x0B, 35, 0}, {0x1F, 35, 0},
        {'5', 2, 0},              {'0', 3, 0},   {'[', 4, 0},   {'}', 9, 0},
        {'"', 10, 0},             {'#', 11, LEX_FLAG_SHARP},    {'\'', 12, LEX_FLAG_QUOTE},
        {':', 13, LEX_FLAG_COLON}, {'x', 14, 0}, {'X', 14, 0},  {'T', 15, 0},
        {'h', 16, 0},             {'e', 17, LEX_FLAG_EXP},      {'E', 18, LEX_FLAG_EXP},
        {'f', 19, 0},             {'F', 20, 0},  {'/', 21, 0},  {'\\', 22, 0},
        {'<', 23, LEX_FLAG_LESSER}, {'>', 24, LEX_FLAG_GREATER}, {'=', 25, 0},
        {'%', 26, LEX_FLAG_PERCENT}, {',', 27, LEX_FLAG_COMMA}, {';', 28, 0},
        {'@', 29, 0},             {'.', 30, LEX_FLAG_DOT},      {'$', 31, 0},
        {'+', 32, LEX_FLAG_SIGN}, {'-', 33, LEX_FLAG_SIGN},     {'^', 34, LEX_FLAG_CARET},
        {0x7F, 36, 0},            {0x80, 36, 0}, {0xBF, 36, 0}, {'g', 37, 0},
        {'H', 37, 0},             {'~', 37, 0},  {'_', 37, 0},  {0xC2, 37, LEX_FLAG_UTF8_3},
        {0xEF, 37, LEX_FLAG_UTF8_3}, {0xF0, 37, LEX_FLAG_UTF8_4}, {0xF7, 37, LEX_FLAG_UTF8_4},
        {0xC0, 38, 0},            {0xC1, 38, 0}, {0xF8, 38, 0}, {0xFF, 38, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LexerClassTable[c.byte] & LEX_CLASS_MASK, c.cls) << int(c.byte);
        EXPECT_EQ(LexerClassTable[c.byte] & ~LEX_CLASS_MASK, c.flags) << int(c.byte);
    }
}

TEST(LexerTables, TransitionsOfTheMachine) {
    // (state, class, next state), a sample of every kind of row entry.
    struct Case {
        u32 state, cls, next;
    } cases[] = {
        {0, 0, 0},    {0, 1, 0},    {0, 35, 0},   {0, 28, 1},   {0, 10, 2},   {0, 37, 52},
        {0, 39, 66},  {0, 9, 67},   {0, 38, 67},  {0, 27, 78},  {0, 25, 58},  {1, 1, 77},
        {1, 5, 1},    {2, 1, 67},   {2, 10, 79},  {4, 8, 72},   {4, 9, 73},   {6, 13, 54},
        {12, 10, 100}, {16, 4, 74}, {16, 6, 21},  {17, 28, 18}, {17, 9, 86},  {21, 7, 76},
        {23, 26, 87}, {23, 14, 33}, {23, 21, 30}, {23, 16, 42}, {23, 0, 82},  {24, 11, 28},
        {28, 2, 88},  {28, 37, 28}, {35, 7, 93},  {35, 27, 35}, {40, 21, 75}, {41, 0, 99},
        {44, 24, 96}, {52, 13, 53}, {53, 0, 80},  {55, 0, 97},  {56, 0, 98},  {57, 0, 101},
        {59, 6, 70},  {59, 2, 60},  {59, 0, 67},  {63, 4, 21},  {64, 0, 80},  {64, 38, 67},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lexer_next_state(c.state, c.cls), c.next) << c.state << "/" << c.cls;
    // No row leads to the missing state 65 or past the last final state.
    for (u32 k = 0; k < LEX_SCAN_STATES * LEX_CLASS_COUNT; k++) {
        EXPECT_NE(LexerTransitionTable[k], 65);
        EXPECT_LE(LexerTransitionTable[k], 101);
    }
}

TEST(LexerTables, ByteTablesByStateAndClass) {
    EXPECT_EQ(LexerSkipTable[0], 1);
    for (u32 s = 1; s < LEX_STATE_COUNT; s++) EXPECT_EQ(LexerSkipTable[s], 0) << s;
    for (u32 c = 0; c < LEX_CLASS_COUNT; c++) {
        EXPECT_EQ(LexerLineTable[c], c == 1 ? 1 : 0);
        bool end = c == 0 || c == 1 || (c >= 4 && c <= 8) || c == 10 || c == 13 || c == 23 ||
                   c == 28 || c >= 37;
        EXPECT_EQ(LexerPathEndTable[c], end ? 1 : 0) << c;
    }
    EXPECT_EQ(LexerStateTypeTable[67], TYPE_ERROR);
    EXPECT_EQ(LexerStateTypeTable[91], TYPE_DATE);
    EXPECT_EQ(LexerStateTypeTable[99], TYPE_INTEGER);
    EXPECT_EQ(LexerStateTypeTable[100], TYPE_STRING);
    EXPECT_EQ(LexerStateTypeTable[17], TYPE_BINARY);
    EXPECT_EQ(LexerStateTypeTable[41], TYPE_WORD);
    EXPECT_EQ(LexerStateTypeTable[42], TYPE_INTEGER);
}

TEST(LexerTables, FloatSyntax) {
    struct Case {
        const char* text;
        bool ok;
    } cases[] = {
        {"1", true},    {"1.", true},     {".5", true},    {"1.5", true},   {"-1.5", true},
        {"1e5", true},  {"1e+5", true},   {"1.5e-5", true}, {"1'000", true}, {"1'000.5", true},
        {"", false},    {"e5", false},    {"1e", false},   {"1.e5", false}, {"1..5", false},
        {"1''0", false}, {"1.5.5", false}, {"1x", false},   {"'1", false},   {"1e5.5", false},
    };
    for (const Case& c : cases) {
        const u8* s = reinterpret_cast<const u8*>(c.text);
        EXPECT_EQ(lexer_float_syntax_ok(s, s + std::strlen(c.text)), c.ok) << c.text;
    }
}

// Text in units of 1, 2 or 4 bytes.
std::vector<u8> units(const char* text, u32 unit) {
    std::vector<u8> out;
    for (const char* p = text; *p; p++) {
        u8 buf[4];
        unicode_put_unit(buf, unit, static_cast<u8>(*p));
        out.insert(out.end(), buf, buf + unit);
    }
    return out;
}

TEST(LexerScanners, IntegerText) {
    struct Case {
        const char* text;
        i32 value;
        i32 error;
    } cases[] = {
        {"0", 0, 0},          {"42", 42, 0},       {"-42", -42, 0},    {"+7", 7, 0},
        {"1'000", 1000, 0},   {"2147483647", 2147483647, 0},          {"-2147483648", INT32_MIN, 0},
        {"0000000000042", 42, 0},                  {"2147483648", 0, -2},
        {"-2147483649", 0, -2}, {"99999999999", 0, -2}, {"", 0, -1},   {"-", 0, -1},
        {"12a", 0, -1},       {"1.5", 0, -1},      {" 1", 0, -1},
    };
    for (u32 unit : {1u, 2u, 4u}) {
        for (const Case& c : cases) {
            std::vector<u8> t = units(c.text, unit);
            i32 err = 99;
            i32 v = scan_integer_text(t.data(), static_cast<u32>(std::strlen(c.text)), unit, &err);
            EXPECT_EQ(err, c.error) << c.text << " unit " << unit;
            if (c.error == 0) {
                EXPECT_EQ(v, c.value) << c.text;
            }
        }
    }
}

TEST(LexerScanners, FloatText) {
    struct Case {
        const char* text;
        double value;
        bool ok;
    } cases[] = {
        {"1.5", 1.5, true}, {"1,5", 1.5, true}, {"-2", -2.0, true},     {"1'000.25", 1000.25, true},
        {"1e3", 1000, true}, {".5", 0.5, true}, {"abc", 0, false},      {"", 0, false},
        {"1.5x", 0, false}, {"1e", 0, false},
    };
    for (u32 unit : {1u, 2u, 4u}) {
        for (const Case& c : cases) {
            std::vector<u8> t = units(c.text, unit);
            i32 err = 99;
            double d = scan_float_text(t.data(), static_cast<u32>(std::strlen(c.text)), unit, &err);
            EXPECT_EQ(err, c.ok ? 0 : -1) << c.text;
            if (c.ok) {
                EXPECT_EQ(d, c.value) << c.text;
            } else {
                EXPECT_TRUE(std::isnan(d)) << c.text;
            }
        }
    }
    // At most 312 characters.
    std::string digits(312, '1');
    i32 err = 99;
    scan_float_text(reinterpret_cast<const u8*>(digits.data()), 312, 1, &err);
    EXPECT_EQ(err, 0);
    digits += '1';
    scan_float_text(reinterpret_cast<const u8*>(digits.data()), 313, 1, &err);
    EXPECT_EQ(err, -1);
}

TEST(LexerScanners, TupleText) {
    u8 parts[12];
    i32 err = 99;
    const char* ok = "1.22.255";
    EXPECT_EQ(scan_tuple_text(reinterpret_cast<const u8*>(ok), 8, 1, parts, &err), 3);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(parts[0], 1);
    EXPECT_EQ(parts[1], 22);
    EXPECT_EQ(parts[2], 255);
    for (const char* bad : {"1..2", "256.1.1", "1.2.", ".1.2", "1.a.2", "1.2.3.4.5.6.7.8.9.10.11.12.13"}) {
        err = 0;
        scan_tuple_text(reinterpret_cast<const u8*>(bad), static_cast<u32>(std::strlen(bad)), 1,
                        parts, &err);
        EXPECT_EQ(err, -1) << bad;
    }
    std::vector<u8> wide = units("9.8.7.6", 2);
    EXPECT_EQ(scan_tuple_text(wide.data(), 7, 2, parts, &err), 4);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(parts[3], 6);
}

class MoneyScanner : public LexerTest {};

TEST_F(MoneyScanner, RejectsWhatIsNoMoneyLiteral) {
    ValueCell out;
    for (const char* bad : {"1", "$", "$1.", "$1.123456", "EU$1", "$1''0", "$'1", "$1'",
                            "US$1", "\xC3\xA9$1"}) {
        const u8* s = reinterpret_cast<const u8*>(bad);
        EXPECT_FALSE(scan_money_text(s, s + std::strlen(bad), 1, &out)) << bad;
    }
}

}  // namespace
}  // namespace zan::test

namespace zan::test {
namespace {

std::vector<u8> decoded(u32 base, const std::string& text, bool* ok) {
    std::vector<u8> out;
    const u8* s = reinterpret_cast<const u8*>(text.data());
    *ok = lexer_decode_binary(base, s, s + text.size(), &out) == nullptr;
    return out;
}

TEST(LexerBinary, DecodesEachBase) {
    struct Case {
        u32 base;
        std::string text;
        bool ok;
        std::vector<u8> bytes;
    } cases[] = {
        {16, "0102", true, {1, 2}},
        {16, "01 02\t0A\r\nff ; comment 99\n FF", true, {1, 2, 10, 255, 255}},
        {16, "", true, {}},
        {16, "123", false, {}},
        {16, "12G4", false, {}},
        {2, "00000001 00000010", true, {1, 2}},
        {2, "0000 0001", true, {1}},
        {2, "0000000", false, {}},
        {2, "00000002", false, {}},
        {64, "AQID", true, {1, 2, 3}},
        {64, "AQ==", true, {1}},
        {64, "AQI=", true, {1, 2}},
        {64, "AQ== ignored !", true, {1}},
        {64, "AQ ID ; comment\n", true, {1, 2, 3}},
        {64, "+/+/", true, {0xFB, 0xFF, 0xBF}},
        {64, "AQI", false, {}},
        {64, "A===", false, {}},
        {64, "AQ\xC3\xA9", false, {}},
    };
    for (const Case& c : cases) {
        bool ok;
        std::vector<u8> out = decoded(c.base, c.text, &ok);
        EXPECT_EQ(ok, c.ok) << c.base << "#" << c.text;
        if (c.ok) {
            EXPECT_EQ(out, c.bytes) << c.base << "#" << c.text;
        }
    }
}

TEST(LexerDates, FieldsOfEachForm) {
    struct Case {
        const char* text;
        i32 year, month, day;
        double time;  // -1: no time
        i32 zone_hours, zone_minutes, week, weekday, yearday;
    } cases[] = {
        {"1-Jan-2024", 2024, 1, 1, -1, 0, 0, 0, 0, 0},
        {"2024-01-15", 2024, 1, 15, -1, 0, 0, 0, 0, 0},
        {"15/1/2024", 2024, 1, 15, -1, 0, 0, 0, 0, 0},
        {"1/2/99", 1999, 2, 1, -1, 0, 0, 0, 0, 0},
        {"1-Sep-2024", 2024, 9, 1, -1, 0, 0, 0, 0, 0},
        {"1-SEPTEMBER-2024", 2024, 9, 1, -1, 0, 0, 0, 0, 0},
        {"100-1-2", 100, 1, 2, -1, 0, 0, 0, 0, 0},
        {"5-1-100", 100, 1, 5, -1, 0, 0, 0, 0, 0},
        {"1-Jan-2024/10:30", 2024, 1, 1, 37800, 0, 0, 0, 0, 0},
        {"1-Jan-2024/1:02:03.5+5:30", 2024, 1, 1, 3723.5, 5, 30, 0, 0, 0},
        {"2024-01-15T10:30:00-05:00", 2024, 1, 15, 37800, -5, 0, 0, 0, 0},
        {"20240115T1030Z", 2024, 1, 15, 37800, 0, 0, 0, 0, 0},
        {"20240115T103045.25-0130", 2024, 1, 15, 37845.25, -1, -30, 0, 0, 0},
        {"2024-W03", 2024, 1, 1, -1, 0, 0, 3, 0, 0},
        {"2024-W03-7", 2024, 1, 1, -1, 0, 0, 3, 7, 0},
        {"2024-123", 2024, 1, 1, -1, 0, 0, 0, 0, 123},
    };
    for (const Case& c : cases) {
        LexerDate d;
        const u8* s = reinterpret_cast<const u8*>(c.text);
        ASSERT_TRUE(lexer_date_text(s, s + std::strlen(c.text), &d)) << c.text;
        EXPECT_EQ(d.year, c.year) << c.text;
        EXPECT_EQ(d.month, c.month) << c.text;
        EXPECT_EQ(d.day, c.day) << c.text;
        EXPECT_EQ(d.has_time, c.time >= 0) << c.text;
        if (c.time >= 0) {
            EXPECT_EQ(d.time, c.time) << c.text;
        }
        EXPECT_EQ(d.zone_hours, c.zone_hours) << c.text;
        EXPECT_EQ(d.zone_minutes, c.zone_minutes) << c.text;
        EXPECT_EQ(d.week, c.week) << c.text;
        EXPECT_EQ(d.weekday, c.weekday) << c.text;
        EXPECT_EQ(d.yearday, c.yearday) << c.text;
    }
    for (const char* bad : {"29-Feb-2023", "29-Feb-1900", "31-Apr-2024", "0-Jan-2024",
                            "1-Jan-10000", "1-Ja-2024", "1-Jan/2024", "1-Jan-2024/24:00",
                            "1-Jan-2024/1:5", "1-Jan-2024/1:05:60", "1-Jan-2024T1:05+16",
                            "2024-W03-8", "2024-12", "20240115T1030+01", "1-Jan-2024/"}) {
        LexerDate d;
        const u8* s = reinterpret_cast<const u8*>(bad);
        EXPECT_FALSE(lexer_date_text(s, s + std::strlen(bad), &d)) << bad;
    }
    // 29 February in leap years only.
    for (const char* ok : {"29-Feb-2024", "29-Feb-2000"}) {
        LexerDate d;
        const u8* s = reinterpret_cast<const u8*>(ok);
        EXPECT_TRUE(lexer_date_text(s, s + std::strlen(ok), &d)) << ok;
    }
}

}  // namespace
}  // namespace zan::test
