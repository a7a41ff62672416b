// Escape-sequence emulation: text with ANSI control sequences (ESC "[" ...)
// carried out on a console screen (console_screen.h).
//
// Sequences follow the terminal conventions, so that a screen shows what a
// terminal shows for the same bytes: ESC "[" r ";" c "H" puts the cursor on
// row r, column c (1-based; 0 or absent counts as 1); A/B/C/D move by their
// count (absent or 0 counts as 1) and stop at the screen's edges; J and K
// erase from the cursor, to the cursor (inclusive) or all of the screen or
// row, leaving the cursor where it is; "m" maps SGR codes onto the 16-bit
// console attribute (ansi_sgr). Numeric parameters accumulate modulo 65535;
// at most ANSI_MAX_PARAMS are kept (later ones are read and ignored).
#pragma once
#include <cstddef>

#include "runtime/core/cell.h"
#include "runtime/terminal/console_screen.h"

namespace zan {

constexpr int ANSI_MAX_PARAMS = 16;
constexpr u32 ANSI_PARAM_MODULUS = 65535;

// Erase kinds: the region that is blanked with spaces in the default
// attribute. (X, Y) is the cursor, W x H the screen.
enum AnsiErase : int {
    ERASE_TO_SCREEN_END = 0,    // ESC "[J", "[0J": (X, Y) to the end of the screen
    ERASE_TO_CURSOR = 1,        // ESC "[1J": (0, 0) through (X, Y)
    ERASE_SCREEN = 2,           // ESC "[2J": everything
    ERASE_ROW = 3,              // ESC "[2K": row Y
    ERASE_TO_ROW_END = 4,       // ESC "[K", "[0K": (X, Y) to the end of row Y
    ERASE_ROW_TO_CURSOR = 5,    // ESC "[1K": (0, Y) through (X, Y)
};

// Carries out the sequence that starts at esc (an ESC unit; `bytes` bytes of
// text remain from there, units of `width` bytes: 1, 2 or 4). Returns the
// number of bytes consumed, ESC included, or 0 when the ESC is not followed
// by "[" (the caller then shows the ESC like any other character). A
// sequence is ended by its final character (40h-7Eh), by any character that
// cannot continue it (consumed, nothing done), or by the end of the text
// (nothing done). ESC "[?" followed by nothing that continues a sequence
// writes a report of the screen's state (ansi_screen_dump).
size_t ansi_sequence(ConsoleScreen* s, const void* esc, size_t bytes, u32 width);

// The attribute after one SGR code, from attribute a; def is the default
// attribute. Colour indexes 0-7 map to console colour values
// 0, 4, 2, 6, 1, 5, 3, 7.
//   0 def | 1 a | 88h (both intensities) | 4 a | underscore
//   7 foreground and background exchanged, bits above the low byte cleared
//   22 both intensities off | 24 underscore off
//   30-37 (a AND F8h) + colour | 39 foreground of def
//   40-47 (a AND 8Fh) + colour x 16 | 49 background of def
//   90-97 (a AND F0h) + colour + 8 | 100-107 (a AND 0Fh) + (colour + 8) x 16
//   any other code: a unchanged
u16 ansi_sgr(u16 a, u16 def, u32 code);

// Blanks the region of an AnsiErase kind; the cursor stays where it is,
// a pending wrap is dropped, an unknown kind does nothing.
void ansi_erase(ConsoleScreen* s, int kind);

// The screen's state as text lines ("Screen buffer info:", then size,
// cursor, attribute, window and largest window), written on the screen and
// passed to the raw print hooks.
void ansi_screen_dump(ConsoleScreen* s);

// Writes text on the screen with its escape sequences carried out; an ESC
// not followed by "[" is shown as a character. With new_line a CR LF
// follows. Text is handed to the screen in runs of at most 510 characters.
void ansi_write(ConsoleScreen* s, const void* units, size_t bytes, u32 width, bool new_line);

}  // namespace zan
