// An image face in the terminal: two pixels per cell, one above the
// other, drawn as a lower half block whose background is the upper pixel
// and whose foreground is the lower one.
#pragma once
#include <vector>

#include "gui/terminal/tui_screen.h"

namespace zan::gui {

constexpr u32 HALF_BLOCK = 0x2584;

// The cols x rows cells of a width x height image of 0xAARRGGBB words,
// scaled to cols columns and 2 * rows pixel rows (nearest pixel). A cell
// whose upper pixel is fully transparent is a blank with default colours.
// color_mode is COLOR_MODE_TRUE for the pixels' own colours, else the
// nearest of the 256 indexed colours. Empty when either side is 0.
std::vector<TuiCell> image_cells(const u32* words, u32 width, u32 height, int cols, int rows, int color_mode);

}  // namespace zan::gui
