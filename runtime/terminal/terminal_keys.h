// Keys of the line editor, decoded from the bytes a terminal sends.
//
// A key is an integer code: a character is its code point, Enter is 13,
// the control keys are the control characters 1 to 31 (Ctrl-A = 1 ...),
// Backspace arrives as 127 or 8, and the keys without a character have
// negative codes (KEY_UP ... KEY_PAGE_DOWN). A key that means nothing to the
// editor (a function key, a mouse report, an Alt combination) is KEY_NONE.
//
// Escape sequences understood, with or without modifier parameters
// ("ESC [ 1 ; 5 A" is Up with Ctrl, reported as plain Up):
//
//   ESC [ A/B/C/D   ESC O A/B/C/D     arrows (normal and application mode)
//   ESC [ H/F       ESC O H/F         Home, End (xterm)
//   ESC [ 1~ 7~     ESC [ 4~ 8~       Home, End (VT220, rxvt, tmux, Linux)
//   ESC [ 2~ 3~ 5~ 6~                 Insert, Delete, Page Up, Page Down
//   ESC [ [ A..E                      Linux console F1-F5 (ignored)
//
// A lone Escape is told from the start of a sequence by a short wait for
// the next byte.
#pragma once
#include <cstdint>

#include "runtime/core/cell.h"

namespace zan::console {

constexpr i32 KEY_NONE = 0;
constexpr i32 KEY_UP = -20;
constexpr i32 KEY_DOWN = -21;
constexpr i32 KEY_RIGHT = -22;
constexpr i32 KEY_LEFT = -23;
constexpr i32 KEY_END = -24;
constexpr i32 KEY_HOME = -25;
constexpr i32 KEY_INSERT = -26;
constexpr i32 KEY_DELETE = -27;
constexpr i32 KEY_PAGE_UP = -28;
constexpr i32 KEY_PAGE_DOWN = -29;
// Function keys F1 ... F12 are -31 ... -42 (the view's key events carry
// them; the line editor reads them as KEY_NONE).
constexpr i32 KEY_F1 = -31;
constexpr i32 KEY_F12 = -42;
// Not keys: the input has ended (end of file, a hung-up terminal), and the
// terminal has changed size.
constexpr i32 KEY_END_OF_INPUT = -100;
constexpr i32 KEY_RESIZE = -101;

constexpr i32 KEY_ENTER = 13;
constexpr i32 KEY_ESCAPE = 27;

// What a byte source answers besides a byte (0..255).
constexpr int BYTE_TIMEOUT = -1;   // nothing arrived within the wait
constexpr int BYTE_END = -2;       // end of input
constexpr int BYTE_WAKE = -3;      // the wait was cut short by a size change

// How long a byte after Escape may take to count as part of a sequence.
constexpr int ESCAPE_WAIT_MS = 60;

class ByteInput {
public:
    virtual ~ByteInput() = default;
    // The next byte; waits up to timeout_ms (-1: as long as it takes).
    virtual int next_byte(int timeout_ms) = 0;
    // Gives one byte back: the next next_byte returns it.
    virtual void unread(u8 byte) = 0;
};

// Reads one key. Invalid UTF-8 gives U+FFFD for each byte that cannot
// start or continue a character.
i32 read_key(ByteInput& in);

// The next character of UTF-8 text (pipes and files): its code point,
// U+FFFD for each byte that cannot start or continue a character, -1 at the
// end of input.
i32 read_utf8_char(ByteInput& in);

// The code of a complete CSI sequence's final byte with its first numeric
// parameter (-1 when there is none), or KEY_NONE.
i32 csi_key(int final_byte, int first_param);
// The code of an SS3 sequence's final byte ("ESC O x"), or KEY_NONE.
i32 ss3_key(int final_byte);
// A function key: "ESC O P" ... "ESC O S" and "ESC [ 1 ; m P" ... give
// F1-F4, "ESC [ 15 ~" ... "ESC [ 24 ~" F5-F12; KEY_NONE for anything else.
i32 csi_function_key(int final_byte, int first_param);
i32 ss3_function_key(int final_byte);

}  // namespace zan::console
