// Colours of the text-mode back end. A colour word has the mode in its top
// byte and the value in the low 24 bits:
//   0 the terminal's default colour
//   1 a basic colour, index 0-17 in the low byte
//   2 one of the 256 indexed colours, index in the low byte
//   4 true colour, R in bits 16-23, G in 8-15, B in 0-7
#pragma once
#include <string>

#include "runtime/core/cell.h"

namespace zan::gui {

constexpr u32 COLOR_DEFAULT = 0;
constexpr u32 COLOR_MODE_BASIC = 1;
constexpr u32 COLOR_MODE_INDEXED = 2;
constexpr u32 COLOR_MODE_TRUE = 4;

constexpr u32 color_word(u32 mode, u32 value) { return (mode << 24) | (value & 0xFFFFFFu); }
constexpr u32 color_mode(u32 word) { return word >> 24; }

// The indexed colour nearest to a colour in the tuple layout (first
// component in the low byte, alpha in the top byte); fully transparent
// gives the terminal default.
u32 color_from_tuple(u32 rgba);
// The RGB of one of the 256 indexed colours (R in bits 16-23).
u32 color_index_rgb(u32 index);

// Appends the select-graphic-rendition sequence of a colour word.
void append_color(std::string& out, u32 color, bool foreground);

// The terminal's colour capability from COLORTERM and TERM (either may be
// null): 4 for true colour, 2 for the 256-colour palette.
int color_mode_of(const char* colorterm, const char* term);
// The same for this process's environment.
int color_mode_from_environment();

}  // namespace zan::gui
