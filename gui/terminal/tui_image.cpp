// Images scaled into half-block cells.
#include "gui/terminal/tui_image.h"

#include "gui/terminal/tui_color.h"

namespace zan::gui {

namespace {
// The colour word of a pixel; its alpha (opacity) becomes the tuple
// layout's transparency.
u32 pixel_color(u32 pixel, int color_mode) {
    u32 rgb = pixel & 0xFFFFFFu;
    if (color_mode == static_cast<int>(COLOR_MODE_TRUE)) return color_word(COLOR_MODE_TRUE, rgb);
    u32 r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    u32 transparency = 255 - (pixel >> 24);
    return color_from_tuple(r | (g << 8) | (b << 16) | (transparency << 24));
}
}  // namespace

std::vector<TuiCell> image_cells(const u32* words, u32 width, u32 height, int cols, int rows, int color_mode) {
    std::vector<TuiCell> cells;
    if (!words || width == 0 || height == 0 || cols <= 0 || rows <= 0) return cells;
    cells.reserve(static_cast<size_t>(cols) * static_cast<size_t>(rows));
    u64 pixel_rows = static_cast<u64>(rows) * 2;
    for (int y = 0; y < rows; y++) {
        u64 upper_y = static_cast<u64>(y) * 2 * height / pixel_rows;
        u64 lower_y = (static_cast<u64>(y) * 2 + 1) * height / pixel_rows;
        for (int x = 0; x < cols; x++) {
            u64 px = static_cast<u64>(x) * width / static_cast<u64>(cols);
            u32 upper = words[upper_y * width + px];
            u32 lower = words[lower_y * width + px];
            if ((upper >> 24) == 0) {
                cells.push_back(TuiCell{' ', COLOR_DEFAULT, COLOR_DEFAULT, 0});
            } else {
                cells.push_back(TuiCell{HALF_BLOCK, pixel_color(upper, color_mode), pixel_color(lower, color_mode), 0});
            }
        }
    }
    return cells;
}

}  // namespace zan::gui
