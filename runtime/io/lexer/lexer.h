// The lexer: turns UTF-8 source text into values. A table-driven state
// machine recognises one token at a time; scanners handle the structure
// (brackets, strings, paths, comments) and loaders build or check literal
// values. transcode, load, parse on strings, word conversion and the
// console's multi-line detection all come here.
//
// Modes of a run:
//   load     (no_prescan and no_scan both set): values are built;
//   scan     (no_scan clear): tokens are checked, nothing is built, the
//            result is the type of the token;
//   prescan  (no_prescan clear): only the structural tokens are run through
//            their scanners, the cheapest guess of the type;
//   one-value: stop after the first complete value.
// Syntax errors are raised in load mode (category syntax, first argument
// "(line N)"); in scan and prescan mode they stop the run and the type
// returned is error!.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// ---- start-up --------------------------------------------------------------------

// Allocates the output stack and the scratch buffer, registers the
// collector hook and installs the string-scanning service of the datatype
// layer and the text scanners of the number datatypes. Safe to call again
// (every call starts from empty buffers).
void lexer_init();
// The collector's hook: marks the cells, input series and callback of every
// active run.
void lexer_mark();

// ---- runs ---------------------------------------------------------------------------

// Scans bytes [text, text + length) and returns the datatype id of the last
// token (34, error!, when scan or prescan mode met a syntax error; 0 for
// none). In load mode the result cell receives the values as a block! (or,
// with one_value, the first value); with an /into block the values are
// appended to it and the result is that block. In scan and prescan mode the
// result cell receives none. consumed (when given) receives the bytes read
// (code points for string! input). callback is a function! or routine! (or
// null / a none! cell for none); input is the series the text came from
// (string! or binary!), handed to the callback; into is a block! or null.
// Text that lives inside a series buffer is copied first, since buffers
// move during collections.
i32 lexer_transcode(ValueCell* result, const u8* text, u32 length, bool one_value,
                    bool no_prescan, bool no_scan, i32 reserved, i32* consumed,
                    const ValueCell* callback, const ValueCell* input, ValueCell* into);

// The same for the characters of a string! from its index: length -1 means
// up to the tail. The text is converted to UTF-8 in the scratch buffer
// (a temporary buffer when it does not fit) and consumed counts code points.
i32 lexer_scan_string(ValueCell* result, const ValueCell* string, i32 length, bool one_value,
                      bool no_prescan, bool no_scan, i32 reserved, i32* consumed,
                      const ValueCell* callback, ValueCell* into);

// ---- the trace callback ------------------------------------------------------------------

// Event bits of the trace callback.
enum LexerEvent : u32 {
    LEX_EVENT_PRESCAN = 1,
    LEX_EVENT_SCAN = 2,
    LEX_EVENT_LOAD = 4,
    LEX_EVENT_OPEN = 8,
    LEX_EVENT_CLOSE = 16,
    LEX_EVENT_ERROR = 32,
    LEX_EVENT_ALL = 63,
};
// The events a callback receives: when its body begins with a block, the
// words of that block (prescan scan load open close error; others select
// nothing); otherwise all six.
u32 lexer_trace_mask(const ValueCell* callback);

// The callback is called as the evaluator calls change handlers: the lexer
// opens a function frame named <lexer-callback>, pushes the five arguments
// (event word, input series, type, line, token) and false/none for the
// callback's refinements, and runs it through the evaluator's
// call_function hook (runtime/typesystem/interp_hooks.h). The result cell
// gives the answer; the `input` argument as the callback left it moves the
// scanning position. Without that hook a run given a callback raises
// internal not-done when the first subscribed event fires.
//
// What the lexer needs of the system object; filled in at start-up.
struct LexerHooks {
    // The value of system/lexer/exit-states (the type names of the untyped
    // tokens), or null when it does not hold a block!.
    const ValueCell* (*exit_states)() = nullptr;
};
extern LexerHooks g_lexer_hooks;

// ---- number scanners for the datatypes ---------------------------------------------

// An optionally signed run of decimal digits ("'" skipped) in units of 1, 2
// or 4 bytes. *error: 0, -1 for a character that is neither a digit nor
// "'", -2 when the value does not fit in 32 bits ("-2147483648" fits).
i32 scan_integer_text(const u8* start, u32 length, u32 unit, i32* error);
// A float literal of at most 312 units ("," read as ".", "'" dropped),
// correctly rounded. On failure *error is -1 and the result is NaN.
double scan_float_text(const u8* start, u32 count, u32 unit, i32* error);
// Dotted decimal parts of 0 to 255, at most 12 of them, into parts[12].
// Returns the number of parts; on failure *error is -1.
i32 scan_tuple_text(const u8* start, u32 length, u32 unit, u8* parts, i32* error);
// A money! literal ([sign] [three letters] "$" digits [("." | ",") digits])
// from [start, end) into result. For a caller holding bare text to read as
// money (to money! of a string reads through money_from_text instead). Answers false when the text is not such a
// literal or names an unknown currency.
bool scan_money_text(const u8* start, const u8* end, u32 unit, ValueCell* result);

// The syntax of float literals: true when [start, end) is one (apostrophes
// allowed between digits).
bool lexer_float_syntax_ok(const u8* start, const u8* end);

// The value that load makes of the text of one decimal number, an optional
// minus sign, digits, an optional fraction and an optional exponent (ASCII,
// [start, end)): an integer! when there is neither fraction nor exponent
// and it fits in 32 bits, else a float!, into out. False when the loaders
// refuse the text (load raises a syntax error for it).
bool lexer_decimal_value(const u8* start, const u8* end, ValueCell* out);

}  // namespace zan
