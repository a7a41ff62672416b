// The lexer's tables: character classes, the state machine, the per-state
// and per-class byte tables, and the token table of scanners and loaders.
// The state machine is written row by row as data (default next state and
// exceptions per row) and expanded into the 65 x 40 transition table at
// compile time.
#include <array>

#include "runtime/io/lexer/lexer_internal.h"

namespace zan {

namespace {

// ---- character classes -----------------------------------------------------------------

constexpr u32 printable_class(u8 c) {
    if (c >= '1' && c <= '9') return 2;
    if (c >= 'a' && c <= 'd') return 19;
    if (c >= 'A' && c <= 'D') return 20;
    switch (c) {
        case '0': return 3;
        case '[': return 4;
        case ']': return 5;
        case '(': return 6;
        case ')': return 7;
        case '{': return 8;
        case '}': return 9;
        case '"': return 10;
        case '#': return 11 | LEX_FLAG_SHARP;
        case '\'': return 12 | LEX_FLAG_QUOTE;
        case ':': return 13 | LEX_FLAG_COLON;
        case 'x': case 'X': return 14;
        case 'T': return 15;
        case 'h': return 16;
        case 'e': return 17 | LEX_FLAG_EXP;
        case 'E': return 18 | LEX_FLAG_EXP;
        case 'f': return 19;
        case 'F': return 20;
        case '/': return 21;
        case '\\': return 22;
        case '<': return 23 | LEX_FLAG_LESSER;
        case '>': return 24 | LEX_FLAG_GREATER;
        case '=': return 25;
        case '%': return 26 | LEX_FLAG_PERCENT;
        case ',': return 27 | LEX_FLAG_COMMA;
        case ';': return 28;
        case '@': return 29;
        case '.': return 30 | LEX_FLAG_DOT;
        case '$': return 31;
        case '+': return 32 | LEX_FLAG_SIGN;
        case '-': return 33 | LEX_FLAG_SIGN;
        case '^': return 34 | LEX_FLAG_CARET;
        default: return 37;  // ! & * ? the other letters _ ` | ~
    }
}

constexpr std::array<u32, 256> build_class_table() {
    std::array<u32, 256> t{};
    for (u32 b = 0; b < 256; b++) {
        u8 c = static_cast<u8>(b);
        if (c == 0) t[b] = 39 | LEX_FLAG_NUL;
        else if (c == '\t' || c == '\r' || c == ' ') t[b] = 0;
        else if (c == '\n') t[b] = 1;
        else if (c < 0x20) t[b] = 35;
        else if (c < 0x7F) t[b] = printable_class(c);
        else if (c <= 0xBF) t[b] = 36;
        else if (c <= 0xC1) t[b] = 38;
        else if (c <= 0xEF) t[b] = 37 | LEX_FLAG_UTF8_3;
        else if (c <= 0xF7) t[b] = 37 | LEX_FLAG_UTF8_4;
        else t[b] = 38;
    }
    return t;
}

constexpr std::array<u32, 256> kClassTable = build_class_table();

// ---- the state machine ----------------------------------------------------------------

// One row: the state, the type it scans, the default next state, and the
// exceptions as "classes to state" groups separated by ";" (a class list is
// numbers and ranges "a-b" separated by spaces).
struct MachineRow {
    u8 state;
    u8 type;
    u8 fallback;
    const char* exceptions;
};

constexpr MachineRow kRows[LEX_SCAN_STATES] = {
    {0, 0, 52, "0-1 35 to 0; 28 to 1; 10 to 2; 26 to 6; 21 to 13; 11 to 16; 2-3 to 23; "
               "31 to 36; 18 20 to 40; 23 to 43; 32-33 to 47; 30 to 49; 12-13 to 51; "
               "29 to 57; 25 to 58; 39 to 66; 9 22 36 38 to 67; 4 to 68; 5 to 69; "
               "6 to 70; 7 to 71; 8 to 72; 27 to 78"},
    {1, 0, 1, "38 to 67; 1 39 to 77"},
    {2, 7, 2, "34 to 3; 1 38-39 to 67; 10 to 79"},
    {3, 7, 2, "38-39 to 67"},
    {4, 7, 4, "34 to 5; 38-39 to 67; 8 to 72; 9 to 73"},
    {5, 7, 4, "38-39 to 67"},
    {6, 8, 7, "10 to 8; 26 to 9; 8 to 10; 13 to 54; 38 to 67; 0-1 4-7 9 28-29 35 39 to 80"},
    {7, 8, 7, "10 38 to 67; 0-1 4-9 13 28-29 39 to 85"},
    {8, 8, 8, "1 38-39 to 67; 10 to 85"},
    {9, 8, 7, "26 to 9; 8 to 10; 38 to 67; 0-1 4-7 9-10 22 28 35 39 to 80"},
    {10, 7, 10, "9 to 11; 38-39 to 67"},
    {11, 7, 10, "9 to 11; 26 to 12; 38-39 to 67"},
    {12, 7, 67, "26 to 12; 0-1 4-8 10 23 28 35 39 to 100"},
    {13, 15, 14, "21 to 15; 13 to 53; 27 38 to 67; 0-1 4-11 28-29 35 39 to 80"},
    {14, 19, 14, "13 27 38 to 67; 0-1 4-10 21 28-29 35 39 to 83"},
    {15, 15, 52, "21 to 15; 26-27 31 38 to 67; 0-1 4-11 28-29 35 39 to 80"},
    {16, 20, 22, "8 to 17; 10 to 19; 6 to 21; 0-1 5 7 9 13 23-24 27 38 to 67; 4 to 74; "
                 "28-29 35 39 to 81"},
    {17, 41, 67, "0-3 14-21 25 32 37 to 17; 28 to 18; 9 to 86"},
    {18, 0, 18, "1 to 17; 38-39 to 67"},
    {19, 10, 19, "34 to 20; 38-39 to 67; 10 to 84"},
    {20, 10, 19, "38-39 to 67"},
    {21, 0, 21, "38-39 to 67; 7 to 76"},
    {22, 20, 22, "13 21 38 to 67; 0-1 4-10 28-29 35 39 to 81"},
    {23, 11, 82, "11 to 16; 2-3 12 to 23; 30 to 24; 17 to 26; 18 to 27; 15 21 33 to 30; "
                 "13 to 31; 14 to 33; 20 to 39; 16 to 42; 29 to 56; "
                 "19 22 24-25 31-32 34 36-38 to 67; 26 to 87"},
    {24, 12, 67, "2-3 12 to 25; 17-18 to 26; 11 to 28; 14 to 33; 26 to 87; "
                 "0-1 4-10 21 23 27-28 35 39 to 88"},
    {25, 12, 88, "2-3 12 to 25; 17-18 to 26; 30 to 29; 14 to 33; 29 to 56; "
                 "11 15-16 19-20 22 24-25 31-34 36-38 to 67; 26 to 87"},
    {26, 12, 67, "2-3 32-33 to 26; 29 to 56; 0-1 4-10 13 21 23 27-28 35 39 to 88"},
    {27, 12, 88, "32-33 to 26; 2-3 to 27; 30 to 29; 18 20 to 40; 16 to 42; 29 to 56; "
                 "11-12 14-15 17 19 22 24-25 28 31 34 36-38 to 67; 26 to 87"},
    {28, 12, 89, "14-20 24-25 30 32-33 36-37 to 28; 11-13 26 29 31 34 38 to 67; 2 to 88"},
    {29, 39, 67, "2-3 30 to 29; 0-1 4-10 13 21 23 28 35 39 to 90"},
    {30, 47, 30, "26-27 29 34 36 38 to 67; 0-1 4-10 23 28 31 35 39 to 91"},
    {31, 43, 67, "2-3 to 32"},
    {32, 43, 67, "2-3 13 30 to 32; 0-1 4-10 21 23 28 35 39 to 94"},
    {33, 37, 67, "2-3 32-33 to 34; 29 to 56"},
    {34, 37, 67, "2-3 17-18 30 to 34; 29 to 56; 0-1 4-10 13 21 23 28 35 39 to 92"},
    {35, 51, 67, "0 2-3 5 11 17-20 27 30 32-33 37 to 35; 7 to 93"},
    {36, 49, 67, "2-3 to 37"},
    {37, 49, 67, "2-3 12 to 37; 30 to 38; 0-1 4-11 13 21 23 28 35 39 to 95"},
    {38, 49, 67, "2-3 12 to 38; 0-1 4-11 13 21 23 28 35 39 to 95"},
    {39, 0, 67, "2-3 18 20 to 39; 16 to 41; 29 to 56"},
    {40, 11, 80, "31 to 37; 2-3 18 20 to 40; 16 to 41; "
                 "12 14-15 17 19 23-25 30 32-34 36-37 to 52; 13 to 53; 29 to 56; "
                 "26-27 38 to 67; 21 to 75"},
    {41, 15, 52, "31 to 37; 13 to 53; 29 to 56; 11 26-27 38 to 67; 21 to 75; "
                 "0-1 4-10 22 28 35 39 to 99"},
    {42, 11, 67, "31 to 37; 29 to 56; 21 to 75; 0-1 4-10 22-23 28 35 39 to 99"},
    {43, 44, 44, "23 to 43; 12 to 46; 24-25 33 to 52; 13 to 53; 38 to 67; "
                 "0-1 4-10 28 35 39 to 80"},
    {44, 44, 44, "10 to 45; 12 to 46; 38-39 to 67; 24 to 96"},
    {45, 44, 45, "10 to 44; 38-39 to 67"},
    {46, 44, 46, "12 to 44; 38-39 to 67"},
    {47, 15, 52, "2-3 to 23; 31 to 37; 30 to 49; 12 26 34 38 to 67; 21 to 75; "
                 "0-1 4-11 22 28 35 39 to 80"},
    {48, 15, 52, "12 26 31 34 38 to 67; 21 to 75; 0-1 4-11 22 28 35 39 to 80"},
    {49, 15, 52, "2-3 32-33 to 50; 13 to 53; 29 to 56; 26-27 31 38 to 67; 21 to 75; "
                 "0-1 4-11 22 28 35 39 to 80"},
    {50, 12, 67, "14 to 33; 2-3 17-18 32-33 to 50; 29 to 56; 26 to 87; "
                 "0-1 4-10 13 21 23 35 39 to 88"},
    {51, 15, 67, "21 to 13; 23 to 43; 32-33 to 48; 14-20 24 30 34 36-37 to 52; 26 to 54; "
                 "25 to 58"},
    {52, 15, 52, "31 to 36; 13 to 53; 29 to 56; 26-27 38 to 67; 21 to 75; "
                 "0-1 4-11 22-23 28 35 39 to 80"},
    {53, 16, 55, "23 38 to 67; 0-1 4-10 22 28 35 39 to 80"},
    {54, 15, 67, "26 to 54; 0-1 4-9 22 28 35 39 to 80"},
    {55, 9, 55, "24 34 38 to 67; 0-1 4-10 22-23 28 35 39 to 97"},
    {56, 45, 98, "2-3 14-20 26 30 32-33 36-37 to 56; 11-13 24-25 27 29 31 34 38 to 67"},
    {57, 50, 57, "11-12 22 24-25 27 29 31 34 38 to 67; 0-1 4-10 23 28 35 39 to 101"},
    {58, 15, 52, "11 26-27 29 31 38 to 67; 21 to 75; 0-1 4-10 13 22 28 35 39 to 80"},
    {59, 25, 67, "10 to 2; 31 to 36; 23 to 43; 29 to 57; 2-3 to 60; 12-13 to 61; "
                 "14-20 24-25 30 36-37 to 62; 11 to 63; 32-33 to 64; 6 to 70; 7 to 71"},
    {60, 11, 67, "30 to 24; 17-18 to 26; 14 to 33; 29 to 56; 2-3 12 to 60; "
                 "0-1 4-10 13 21 23 28 35 39 to 82; 26 to 87"},
    {61, 15, 67, "14-20 23-25 30 32-33 36-37 to 62"},
    {62, 15, 62, "31 to 36; 29 to 56; 11 26-27 38 to 67; 0-1 4-10 13 21-22 28 35 39 to 80"},
    {63, 20, 22, "10 to 19; 4 to 21; 0-1 5-9 13 21 23-25 27-29 35 38-39 to 67"},
    {64, 15, 80, "31 to 36; 29 to 56; 2-3 to 60; 14-20 24-25 30 36-37 to 62; 32-33 to 64; "
                 "11-12 23 26-27 34 38 to 67"},
};

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr u32 read_number(const char* s, u32* i) {
    u32 n = 0;
    while (is_digit(s[*i])) n = n * 10 + static_cast<u32>(s[(*i)++] - '0');
    return n;
}

// Expands one row into the table. A malformed row makes the expansion fail
// to compile (a throw in a constant expression).
constexpr void expand_row(std::array<u8, LEX_SCAN_STATES * LEX_CLASS_COUNT>& t,
                          const MachineRow& row) {
    for (u32 c = 0; c < LEX_CLASS_COUNT; c++) t[row.state * LEX_CLASS_COUNT + c] = row.fallback;
    const char* s = row.exceptions;
    u32 i = 0;
    while (s[i]) {
        // One group: classes, "to", the target state.
        u32 classes[LEX_CLASS_COUNT] = {};
        u32 n = 0;
        for (;;) {
            while (s[i] == ' ') i++;
            if (s[i] == 't' && s[i + 1] == 'o') break;
            if (!is_digit(s[i])) throw "malformed machine row";
            u32 lo = read_number(s, &i);
            u32 hi = lo;
            if (s[i] == '-') {
                i++;
                hi = read_number(s, &i);
            }
            if (hi < lo || hi >= LEX_CLASS_COUNT) throw "class out of range";
            for (u32 c = lo; c <= hi; c++) classes[n++] = c;
        }
        i += 2;
        while (s[i] == ' ') i++;
        u32 target = read_number(s, &i);
        if (target == 65 || target >= LEX_STATE_COUNT - 2) throw "state out of range";
        for (u32 k = 0; k < n; k++) t[row.state * LEX_CLASS_COUNT + classes[k]] = static_cast<u8>(target);
        while (s[i] == ' ') i++;
        if (s[i] == ';') i++;
        else if (s[i]) throw "expected ';'";
    }
}

constexpr std::array<u8, LEX_SCAN_STATES * LEX_CLASS_COUNT> build_transitions() {
    std::array<u8, LEX_SCAN_STATES * LEX_CLASS_COUNT> t{};
    for (u32 k = 0; k < LEX_SCAN_STATES; k++) {
        if (kRows[k].state != k) throw "rows out of order";
        expand_row(t, kRows[k]);
    }
    return t;
}

constexpr std::array<u8, LEX_SCAN_STATES * LEX_CLASS_COUNT> kTransitions = build_transitions();

// Datatype ids of the final states 66..101 (0 for structural tokens).
constexpr u8 kFinalTypes[LEX_TOKEN_COUNT] = {
    0, 34, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 7, 15, 20, 11, 19,
    10, 8, 41, 38, 12, 12, 39, 47, 37, 51, 43, 49, 44, 9, 45, 11, 7, 50,
};

constexpr std::array<u8, LEX_STATE_COUNT> build_state_types() {
    std::array<u8, LEX_STATE_COUNT> t{};
    for (u32 k = 0; k < LEX_SCAN_STATES; k++) t[k] = kRows[k].type;
    for (u32 k = 0; k < LEX_TOKEN_COUNT; k++) t[LEX_FIRST_FINAL + k] = kFinalTypes[k];
    return t;
}

constexpr std::array<u8, LEX_STATE_COUNT> kStateTypes = build_state_types();

// Spot checks of the expansion against the rows.
static_assert(kTransitions[0 * 40 + 39] == 66);
static_assert(kTransitions[0 * 40 + 14] == 52);
static_assert(kTransitions[23 * 40 + 26] == 87);
static_assert(kTransitions[64 * 40 + 38] == 67);
static_assert(kStateTypes[93] == 51 && kStateTypes[59] == 25 && kStateTypes[101] == 50);
static_assert((kClassTable['0'] & 0xFF) == 3 && (kClassTable[0xF3] & LEX_FLAG_UTF8_4));

}  // namespace

// ---- the exported tables ------------------------------------------------------------------

const std::array<u32, 256> LexerClassTable = kClassTable;
const std::array<u8, LEX_SCAN_STATES * LEX_CLASS_COUNT> LexerTransitionTable = kTransitions;
const std::array<u8, LEX_STATE_COUNT> LexerStateTypeTable = kStateTypes;

// Bytes that lead into state 0 are the gap before a token.
const std::array<u8, LEX_STATE_COUNT> LexerSkipTable = [] {
    std::array<u8, LEX_STATE_COUNT> t{};
    t[0] = 1;
    return t;
}();

// A line feed (class 1) counts one line.
const std::array<u8, LEX_CLASS_COUNT> LexerLineTable = [] {
    std::array<u8, LEX_CLASS_COUNT> t{};
    t[1] = 1;
    return t;
}();

// Classes that end a path after an element: blanks, line feed, brackets,
// parens, braces, double quote, colon, "<", ";", and 37-39.
const std::array<u8, LEX_CLASS_COUNT> LexerPathEndTable = [] {
    std::array<u8, LEX_CLASS_COUNT> t{};
    for (u32 c : {0u, 1u, 4u, 5u, 6u, 7u, 8u, 10u, 13u, 23u, 28u, 37u, 38u, 39u}) t[c] = 1;
    return t;
}();

// ---- the token table -------------------------------------------------------------------------

LexerRoutine LexerScanTable[LEX_TOKEN_COUNT];
LexerRoutine LexerLoadTable[LEX_TOKEN_COUNT];

namespace {
struct TokenRoutines {
    LexerRoutine scanner;
    LexerRoutine loader;
};
// By token (final state - 66).
const TokenRoutines kTokens[LEX_TOKEN_COUNT] = {
    {lexer_scan_eof, nullptr},                           // 0 end of input
    {lexer_scan_error, nullptr},                         // 1 error
    {lexer_scan_block_open, nullptr},                    // 2 [
    {lexer_scan_block_close, nullptr},                   // 3 ]
    {lexer_scan_paren_open, nullptr},                    // 4 (
    {lexer_scan_paren_close, nullptr},                   // 5 )
    {lexer_scan_brace_open, nullptr},                    // 6 {
    {lexer_scan_brace_close, nullptr},                   // 7 }
    {lexer_scan_map_open, nullptr},                      // 8 #[
    {lexer_scan_path_open, nullptr},                     // 9 word/
    {lexer_scan_construct, nullptr},                     // 10 #(...)
    {lexer_scan_comment, nullptr},                       // 11 ;
    {lexer_scan_comma, nullptr},                         // 12 ,
    {lexer_scan_string_check, lexer_load_string_quoted}, // 13 "..."
    {lexer_scan_word_check, lexer_load_word},            // 14 word
    {lexer_scan_issue_check, lexer_load_issue},          // 15 #issue
    {nullptr, lexer_load_integer},                       // 16
    {nullptr, lexer_load_refinement},                    // 17
    {nullptr, lexer_load_char},                          // 18
    {nullptr, lexer_load_file},                          // 19
    {nullptr, lexer_load_binary},                        // 20
    {nullptr, lexer_load_percent},                       // 21
    {nullptr, lexer_load_float},                         // 22
    {nullptr, lexer_load_float_special},                 // 23
    {nullptr, lexer_load_tuple},                         // 24
    {nullptr, lexer_load_date},                          // 25
    {nullptr, lexer_load_pair},                          // 26
    {nullptr, lexer_load_point},                         // 27
    {nullptr, lexer_load_time},                          // 28
    {nullptr, lexer_load_money},                         // 29
    {nullptr, lexer_load_tag},                           // 30
    {nullptr, lexer_load_url},                           // 31
    {nullptr, lexer_load_email},                         // 32
    {nullptr, lexer_load_hex},                           // 33
    {nullptr, lexer_load_raw_string},                    // 34
    {nullptr, lexer_load_ref},                           // 35
};
}  // namespace

void lexer_tables_init() {
    for (u32 k = 0; k < LEX_TOKEN_COUNT; k++) {
        LexerScanTable[k] = kTokens[k].scanner;
        LexerLoadTable[k] = kTokens[k].loader;
    }
}

}  // namespace zan
