// Inner workings of the lexer shared by its files: the tables, the run
// record, the output stack and the routines of the scanning loop.
#pragma once
#include <array>
#include <cstddef>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/layout.h"
#include "runtime/io/lexer/lexer.h"

namespace zan {

// ---- tables -----------------------------------------------------------------------------

constexpr u32 LEX_CLASS_COUNT = 40;
constexpr u32 LEX_SCAN_STATES = 65;      // 0..64
constexpr u32 LEX_STATE_COUNT = 104;     // room for 0..101 (no state 65)
constexpr i32 LEX_FIRST_FINAL = 66;
constexpr u32 LEX_TOKEN_COUNT = 36;

// Token flags of the class table (bits above the class byte).
constexpr u32 LEX_FLAG_PERCENT = 1u << 18;
constexpr u32 LEX_FLAG_GREATER = 1u << 19;
constexpr u32 LEX_FLAG_LESSER = 1u << 20;
constexpr u32 LEX_FLAG_SIGN = 1u << 21;
constexpr u32 LEX_FLAG_NUL = 1u << 22;
constexpr u32 LEX_FLAG_SHARP = 1u << 23;
constexpr u32 LEX_FLAG_EXP = 1u << 24;
constexpr u32 LEX_FLAG_QUOTE = 1u << 25;  // apostrophe
constexpr u32 LEX_FLAG_COLON = 1u << 26;
constexpr u32 LEX_FLAG_COMMA = 1u << 27;
constexpr u32 LEX_FLAG_DOT = 1u << 28;
constexpr u32 LEX_FLAG_CARET = 1u << 29;
constexpr u32 LEX_FLAG_UTF8_3 = 1u << 30;  // lead bytes C2h-EFh
constexpr u32 LEX_FLAG_UTF8_4 = 1u << 31;  // lead bytes F0h-F7h
constexpr u32 LEX_CLASS_MASK = 0xFFu;

extern const std::array<u32, 256> LexerClassTable;
extern const std::array<u8, LEX_SCAN_STATES * LEX_CLASS_COUNT> LexerTransitionTable;
extern const std::array<u8, LEX_STATE_COUNT> LexerSkipTable;
extern const std::array<u8, LEX_CLASS_COUNT> LexerLineTable;
extern const std::array<u8, LEX_STATE_COUNT> LexerStateTypeTable;
extern const std::array<u8, LEX_CLASS_COUNT> LexerPathEndTable;

inline u32 lexer_class_of(u8 byte) { return LexerClassTable[byte] & LEX_CLASS_MASK; }
inline u8 lexer_next_state(u32 state, u32 cls) {
    return LexerTransitionTable[state * LEX_CLASS_COUNT + cls];
}

// Final states the other routines name.
enum LexerFinal : i32 {
    LEX_S_EOF = 66, LEX_S_ERROR = 67, LEX_S_BLOCK_OPEN = 68, LEX_S_BLOCK_CLOSE = 69,
    LEX_S_PAREN_OPEN = 70, LEX_S_PAREN_CLOSE = 71, LEX_S_BRACE_OPEN = 72,
    LEX_S_BRACE_CLOSE = 73, LEX_S_MAP_OPEN = 74, LEX_S_PATH = 75, LEX_S_CONSTRUCT = 76,
    LEX_S_COMMENT = 77, LEX_S_COMMA = 78, LEX_S_STRING = 79, LEX_S_WORD = 80,
    LEX_S_ISSUE = 81, LEX_S_INTEGER = 82, LEX_S_REFINEMENT = 83, LEX_S_CHAR = 84,
    LEX_S_FILE = 85, LEX_S_BINARY = 86, LEX_S_PERCENT = 87, LEX_S_FLOAT = 88,
    LEX_S_FLOAT_SPECIAL = 89, LEX_S_TUPLE = 90, LEX_S_DATE = 91, LEX_S_PAIR = 92,
    LEX_S_POINT = 93, LEX_S_TIME = 94, LEX_S_MONEY = 95, LEX_S_TAG = 96, LEX_S_URL = 97,
    LEX_S_EMAIL = 98, LEX_S_HEX = 99, LEX_S_RAW_STRING = 100, LEX_S_REF = 101,
};
// Scanning states with a role outside the loop.
constexpr i32 LEX_START = 0;
constexpr i32 LEX_IN_BRACES = 4;
constexpr i32 LEX_IN_POINT = 35;
constexpr i32 LEX_IN_PATH = 59;

// ---- the run record ---------------------------------------------------------------------

struct LexerState {
    LexerState* next;          // the run started from this run's callback
    LexerState* parent;        // the enclosing run (null for the outermost)
    u32 base;                  // first output cell of this run
    i32 marker;                // innermost open marker (output index), -1 when none
    u32 top;                   // output cells in use
    const u8* in_start;
    const u8* in_end;
    const u8* pos;             // where scanning resumes
    const u8* tok_end;
    i32 line;                  // from 1
    i32 nl_count;              // line breaks before the current token
    i32 type_override;         // -1 when none
    i32 token_type;
    i32 start_state;           // start state of the next token
    i32 prev_state;            // state before the final state
    i32 missing_type;          // series type of a missing error
    i32 prev_type;             // type of the previous token
    const u8* brace_start;     // first "{" of the current braced string
    i32 brace_depth;
    u32 brace_flags;           // flags gathered over the pieces of a braced string
    i32 brace_nl;              // line breaks that give the braced string its marker
    i32 point_nl;              // line breaks before a point literal
    ValueCell callback;        // none! when there is no callback
    i32 cb_refinements;
    u32 event_mask;
    ValueCell input;           // the input series (none! when none)
    bool load_mode;

    // Beyond the record proper: the run's modes and bookkeeping.
    bool prescan;
    bool one_value;
    bool halted;               // scan/prescan error: the run stops
    bool char_input;           // input positions count code points
    u32 input_index;           // the input series' index at the text's start
    const u8* tok_start;
    u32 flags;                 // token flags gathered by the current token
    i32 step_lines;            // line breaks consumed by the current token's step
    const u8* cache_pos;       // offset cache for event positions
    u32 cache_index;
    ValueCell* into;           // /into block (outermost level) or null
};

// The stop exit of the scanning loop: thrown by scanners and loaders when a
// scan-mode error halts the run (record's halted flag set) or when a
// callback refused a token (skipped).
struct LexerStop {};

extern LexerState* g_lexer_runs;  // outermost active run
extern LexerState* g_lexer_top;   // innermost active run

// ---- output stack -------------------------------------------------------------------------

struct LexerOutputStack {
    ValueCell* cells;
    u32 capacity;
};
extern LexerOutputStack g_lexer_out;

inline ValueCell* lexer_cell(u32 index) { return g_lexer_out.cells + index; }
// A new cell (unset!, with the new-line marker when nl) at the run's top;
// returns its index. Grows the stack by doubling.
u32 lexer_push(LexerState* r, bool nl);
inline void lexer_pop(LexerState* r) { r->top--; }
// The value's cell index for a token: pushes with the new-line marker when
// line breaks preceded the token.
inline u32 lexer_push_value(LexerState* r) { return lexer_push(r, r->nl_count > 0); }
// Restores the new-line marker after a maker overwrote the header.
inline void lexer_keep_nl(u32 index, bool nl) {
    if (nl) lexer_cell(index)->header |= CELL_NEW_LINE;
}

// Open markers: triple! cells; part 0 the distance back to the previous
// marker (0 when none), part 1 the series type | comma count << 16, part 2
// the opener's byte offset from the input start.
inline bool lexer_is_marker(const ValueCell* c) { return c->type() == TYPE_TRIPLE; }
inline u32 lexer_marker_shape(const ValueCell* c) { return static_cast<u32>(triple_part(c, 1)); }
inline u32 lexer_marker_type(const ValueCell* c) { return lexer_marker_shape(c) & 0xFFFFu; }
inline u32 lexer_marker_commas(const ValueCell* c) { return lexer_marker_shape(c) >> 16; }
inline u32 lexer_marker_back(const ValueCell* c) { return static_cast<u32>(triple_part(c, 0)); }
inline u32 lexer_marker_opener(const ValueCell* c) { return static_cast<u32>(triple_part(c, 2)); }
inline void lexer_marker_set_shape(ValueCell* c, u32 type, u32 commas) {
    set_triple_part(c, 1, static_cast<i32>(type | (commas << 16)));
}
inline void lexer_marker_init(ValueCell* c, u32 back, u32 type, u32 opener) {
    set_triple_part(c, 0, static_cast<i32>(back));
    lexer_marker_set_shape(c, type, 0);
    set_triple_part(c, 2, static_cast<i32>(opener));
}
inline bool lexer_path_type_q(u32 t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }

// ---- the loop and its parts ------------------------------------------------------------

using LexerRoutine = void (*)(LexerState* r, const u8* start, const u8* end, u32 flags,
                              bool flag);
extern LexerRoutine LexerScanTable[LEX_TOKEN_COUNT];
extern LexerRoutine LexerLoadTable[LEX_TOKEN_COUNT];

// Fills the scanner and loader tables from the token table.
void lexer_tables_init();

// Scanners (structure and checks) and loaders, by token.
#define ZAN_LEXER_ROUTINE(name) \
    void name(LexerState* r, const u8* start, const u8* end, u32 flags, bool flag);
#define ZAN_LEXER_ROUTINES(X)                                                              \
    X(lexer_scan_eof) X(lexer_scan_error) X(lexer_scan_block_open)                        \
    X(lexer_scan_block_close) X(lexer_scan_paren_open) X(lexer_scan_paren_close)           \
    X(lexer_scan_brace_open) X(lexer_scan_brace_close) X(lexer_scan_map_open)              \
    X(lexer_scan_path_open) X(lexer_scan_construct) X(lexer_scan_comment)                  \
    X(lexer_scan_comma) X(lexer_scan_string_check) X(lexer_scan_word_check)                \
    X(lexer_scan_issue_check) X(lexer_load_string_quoted) X(lexer_load_word)               \
    X(lexer_load_issue) X(lexer_load_integer) X(lexer_load_refinement) X(lexer_load_char)  \
    X(lexer_load_file) X(lexer_load_binary) X(lexer_load_percent) X(lexer_load_float)      \
    X(lexer_load_float_special) X(lexer_load_tuple) X(lexer_load_date) X(lexer_load_pair)  \
    X(lexer_load_point) X(lexer_load_time) X(lexer_load_money) X(lexer_load_tag)           \
    X(lexer_load_url) X(lexer_load_email) X(lexer_load_hex) X(lexer_load_raw_string)       \
    X(lexer_load_ref)
ZAN_LEXER_ROUTINES(ZAN_LEXER_ROUTINE)
#undef ZAN_LEXER_ROUTINE
// Runs tokens through the state machine and their scanners (or loaders)
// until the input ends, or one value is complete with one_value.
void lexer_scan_loop(LexerState* r, bool one_value, bool prescan);
// Opens a series of the given type at the opener's position; false when a
// callback refused the opening.
bool lexer_open(LexerState* r, u32 type, const u8* opener, const u8* start, const u8* end);
// Closes the innermost series with a closer of the given type (block!,
// paren!, or a path type for a path end); returns the closed series' type,
// or 0 when a callback stopped the closing.
u32 lexer_close(LexerState* r, const u8* start, const u8* end, u32 closer);
// After a path element: at a path end closes the path (a set-path when ":"
// ends it); else steps over the "/" and checks that an element can follow.
void lexer_path_step(LexerState* r);

// Event firing: true when the event is not subscribed, else the callback's
// answer. type > 0 a datatype id; type < 0 the token index + 1, negated.
bool lexer_fire_event(LexerState* r, u32 event, i32 type, const ValueCell* value,
                      const u8* start, const u8* end);
inline bool lexer_has_callback(const LexerState* r) { return r->callback.type() != TYPE_NONE; }
inline bool lexer_subscribed(const LexerState* r, u32 event) {
    return lexer_has_callback(r) && (r->event_mask & event) != 0;
}

// Syntax errors: code -1 bad-char, -2 malconstruct, -3 and -4 missing, or a
// datatype id for invalid. start null: from the innermost opener (or the
// input start). Never returns: raises, or throws LexerStop.
[[noreturn]] void lexer_throw_error(LexerState* r, const u8* start, const u8* end, i32 code);
// The invalid-value error of a loader for the token [start, end).
[[noreturn]] inline void lexer_invalid(LexerState* r, const u8* start, const u8* end,
                                       u32 type) {
    lexer_throw_error(r, start, end, static_cast<i32>(type));
}

// Decodes a caret escape whose "^" is at p (p < end). Returns the code
// point and sets *next past the escape, or -1 when the escape is invalid.
i64 lexer_decode_escape(const u8* p, const u8* end, const u8** next);
// The shared string loader: the text [start, end) (without delimiters)
// becomes a series of the override type (else string!); escapes are decoded
// when allowed; a bare text with "%" is %XX-decoded when pct. Raises the
// invalid-value error of error_type for bad text. Pushes the value when build.
void lexer_load_text(LexerState* r, const u8* start, const u8* end, u32 flags, bool build,
                     bool escapes, bool pct, u32 error_type, const u8* err_start,
                     const u8* err_end);
// The word of a token (word, lit-word, get-word or set-word by its marks);
// a Unicode space ends it early. Pushes it when build.
void lexer_load_word_text(LexerState* r, const u8* start, const u8* end, u32 flags, bool build);

// Unicode spaces that end or precede words.
bool lexer_unicode_space_q(u32 cp);
// Skips leading Unicode space code points of [p, end); an invalid UTF-8
// sequence gives null.
const u8* lexer_skip_unicode_spaces(const u8* p, const u8* end);
// The first Unicode space code point in [p, end), or end.
const u8* lexer_find_unicode_space(const u8* p, const u8* end);

// Helpers shared by the loaders.
// Builds a float (or percent! with exp_adjust -2) from a checked literal;
// false when the conversion fails.
bool lexer_text_to_float(const u8* start, const u8* end, bool apostrophes, int exp_adjust,
                         double* out);
// The value "#[text]" names: true, false, none or unset (any case), or the
// first datatype whose name starts with the text; false when none does.
bool lexer_datatype_from_construct(const u8* start, const u8* end, ValueCell* out);

// ---- values made through their datatypes' makers ----------------------------------------------
// The loaders check their text fully before calling these.
void lexer_make_binary(ValueCell* cell, const u8* bytes, u32 count);
void lexer_make_tuple(ValueCell* cell, const u8* parts, u32 count);
void lexer_make_pair(ValueCell* cell, i32 x, i32 y);
void lexer_make_point2d(ValueCell* cell, double x, double y);
void lexer_make_point3d(ValueCell* cell, double x, double y, double z);
struct LexerDate {
    i32 year, month, day;
    bool has_time;
    double time;               // seconds, local
    i32 zone_hours, zone_minutes;
    bool has_zone;
    i32 week, weekday, yearday;  // 0 when not given
};
// False when the date does not fit the packed date word.
bool lexer_make_date(ValueCell* cell, const LexerDate& date);
// The text of a date literal, parsed and checked.
bool lexer_date_text(const u8* start, const u8* end, LexerDate* out);
// Decodes the text of a binary literal in base 2, 16 or 64 into out;
// answers the position of the first bad byte, or null.
const u8* lexer_decode_binary(u32 base, const u8* start, const u8* end, std::vector<u8>* out);
// Answers false when the currency code is unknown (the value is not made).
bool lexer_make_money(ValueCell* cell, bool negative, const u8* currency, const u8* int_start,
                      const u8* int_end, const u8* frac_start, const u8* frac_end);
void lexer_make_map(ValueCell* cell, const ValueCell* cells, u32 count);
// Map keys the literal form accepts.
bool lexer_map_key_type_ok(u32 type);

}  // namespace zan
