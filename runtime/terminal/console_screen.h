// The console screen: a rectangle of character cells with a cursor and a
// current text attribute. The layer keeps the logical state (size, cursor,
// attribute, saved cursor) and carries out text output with the terminal's
// rules (carriage return, line feed, backspace, tab, wrapping at the right
// edge once the next character comes, scrolling at the bottom); a back end
// shows the result. The product's back end is the terminal: it emits the
// equivalent escape sequences and UTF-8 text to a file descriptor. (The
// tests add a grid of cells in memory, to read back what was drawn.)
//
// Attributes use the 16-bit console encoding: bits 0-2 foreground colour
// (1 blue, 2 green, 4 red), bit 3 foreground intensity, bits 4-6 background
// colour, bit 7 background intensity, bit 15 underscore.
#pragma once
#include <string>

#include "runtime/core/cell.h"

namespace zan {

constexpr u16 ATTR_FG_MASK = 0x000F;
constexpr u16 ATTR_FG_INTENSITY = 0x0008;
constexpr u16 ATTR_BG_MASK = 0x00F0;
constexpr u16 ATTR_BG_INTENSITY = 0x0080;
constexpr u16 ATTR_UNDERSCORE = 0x8000;
// Light grey on black: the attribute a console starts with.
constexpr u16 CONSOLE_DEFAULT_ATTRIBUTE = 0x0007;

constexpr int TAB_WIDTH = 8;

struct ConsoleScreen;

// Entry points of a back end. Coordinates are 0-based and always inside the
// screen when the layer calls them.
struct ConsoleScreenOps {
    // Shows count code points on row y from column x (one row, no wrap).
    void (*write_run)(ConsoleScreen* s, int x, int y, const u32* cps, int count, u16 attr);
    // Sets count cells, in reading order from (x, y), to cp with attr.
    void (*fill)(ConsoleScreen* s, int x, int y, u32 count, u32 cp, u16 attr);
    // Moves every row up by `lines`; the rows that appear are blank in attr.
    void (*scroll_up)(ConsoleScreen* s, int lines, u16 attr);
    // Shows the cursor where the layer has it and pushes pending output.
    // Returns 0, or the errno of a failed write.
    int (*flush)(ConsoleScreen* s);
    // Reads the size again; may change s->width and s->height.
    void (*refresh)(ConsoleScreen* s);
    void (*show_cursor)(ConsoleScreen* s, bool visible);
    void (*destroy)(ConsoleScreen* s);
};

struct ConsoleScreen {
    const ConsoleScreenOps* ops;
    void* backend;
    int width;
    int height;
    int cursor_x;
    int cursor_y;
    // The last column was written: the next character goes to the start of
    // the next row (scrolling at the bottom). Any cursor move clears it.
    bool wrap_pending;
    bool cursor_visible;
    u16 attribute;
    u16 default_attribute;
    bool saved_valid;
    int saved_x;
    int saved_y;
};

// ---- the layer ------------------------------------------------------------------

// A screen of the given size (below 1 becomes 1) drawn by a back end, with
// the cursor at (0, 0) and the default attribute; for the back ends' makers.
ConsoleScreen* console_screen_new(const ConsoleScreenOps* ops, void* backend, int width, int height);

// Writes code points at the cursor in the current attribute. CR returns to
// column 0; LF starts a new line (column 0, next row, scrolling at the
// bottom); BS moves back one column; TAB moves to the next multiple of 8;
// BEL and NUL show nothing; every other code point takes one cell.
void console_screen_write(ConsoleScreen* s, const u32* cps, size_t count);
void console_screen_put_char(ConsoleScreen* s, u32 cp);
// Writes UTF-8 text (no escape interpretation; bad bytes show as U+FFFD).
void console_screen_write_utf8(ConsoleScreen* s, const char* text, size_t length);
// Moves the cursor, clamped to the screen.
void console_screen_set_cursor(ConsoleScreen* s, int x, int y);
void console_screen_set_attribute(ConsoleScreen* s, u16 attr);
// count cells from (x, y) in reading order, clipped at the end of the screen.
void console_screen_fill(ConsoleScreen* s, int x, int y, u32 count, u32 cp, u16 attr);
void console_screen_show_cursor(ConsoleScreen* s, bool visible);
int console_screen_flush(ConsoleScreen* s);
// Reads the size again (a resized terminal) and keeps the cursor inside.
void console_screen_refresh(ConsoleScreen* s);
void console_screen_destroy(ConsoleScreen* s);

// ---- terminal back end ----------------------------------------------------------

// Draws on the terminal behind fd. The size comes from the terminal (80 x 24
// when it cannot be read). The layer's cursor is where the last output
// through the layer left it: text written to the terminal by other means is
// not seen.
ConsoleScreen* console_terminal_new(int fd);

// Appends the UTF-8 form of a code point (1 to 4 bytes); values that are
// not characters (surrogates, above 10FFFFh) give U+FFFD.
int console_utf8_encode(u32 cp, char* out);

}  // namespace zan
