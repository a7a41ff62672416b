// Test support: a console screen back end that keeps its cells in memory
// (code point + attribute), so that tests of everything that draws on the
// console can read back what a terminal would show.
#pragma once
#include <string>

#include "runtime/terminal/console_screen.h"

namespace zan {

struct ConsoleCell {
    u32 cp;
    u16 attr;
};

// A width x height grid of blank cells in the default attribute, cursor at
// (0, 0). Sizes below 1 become 1.
ConsoleScreen* console_grid_new(int width, int height);
bool console_is_grid(const ConsoleScreen* s);
ConsoleCell console_grid_cell(const ConsoleScreen* s, int x, int y);
u32 console_grid_char_at(const ConsoleScreen* s, int x, int y);
u16 console_grid_attribute_at(const ConsoleScreen* s, int x, int y);
// Row y as UTF-8, trailing blanks removed.
std::string console_grid_row_text(const ConsoleScreen* s, int y);
// Every row joined by LF, trailing blanks and trailing empty rows removed.
std::string console_grid_text(const ConsoleScreen* s);
// New size; cells inside both sizes keep their content.
void console_grid_resize(ConsoleScreen* s, int width, int height);


}  // namespace zan
