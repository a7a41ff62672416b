#include "terminal/console_grid.h"

#include <vector>

namespace zan {

namespace {

struct Grid {
    std::vector<ConsoleCell> cells;
};

Grid* grid_of(const ConsoleScreen* s) { return static_cast<Grid*>(s->backend); }

void grid_write_run(ConsoleScreen* s, int x, int y, const u32* cps, int count, u16 attr) {
    ConsoleCell* row = &grid_of(s)->cells[static_cast<size_t>(y) * s->width];
    for (int i = 0; i < count && x + i < s->width; i++) row[x + i] = ConsoleCell{cps[i], attr};
}

void grid_fill(ConsoleScreen* s, int x, int y, u32 count, u32 cp, u16 attr) {
    auto& cells = grid_of(s)->cells;
    size_t start = static_cast<size_t>(y) * s->width + x;
    for (size_t i = start; i < start + count && i < cells.size(); i++) cells[i] = ConsoleCell{cp, attr};
}

void grid_scroll_up(ConsoleScreen* s, int lines, u16 attr) {
    auto& cells = grid_of(s)->cells;
    size_t shift = static_cast<size_t>(lines) * s->width;
    if (shift > cells.size()) shift = cells.size();
    for (size_t i = 0; i + shift < cells.size(); i++) cells[i] = cells[i + shift];
    for (size_t i = cells.size() - shift; i < cells.size(); i++) cells[i] = ConsoleCell{' ', attr};
}

int grid_flush(ConsoleScreen*) { return 0; }
void grid_refresh(ConsoleScreen*) {}
void grid_show_cursor(ConsoleScreen*, bool) {}

void grid_destroy(ConsoleScreen* s) {
    delete grid_of(s);
    delete s;
}

const ConsoleScreenOps kGridOps = {grid_write_run, grid_fill,        grid_scroll_up, grid_flush,
                                   grid_refresh,   grid_show_cursor, grid_destroy};

bool in_grid(const ConsoleScreen* s, int x, int y) {
    return console_is_grid(s) && x >= 0 && y >= 0 && x < s->width && y < s->height;
}

}  // namespace

ConsoleScreen* console_grid_new(int width, int height) {
    auto* g = new Grid;
    ConsoleScreen* s = console_screen_new(&kGridOps, g, width, height);
    g->cells.assign(static_cast<size_t>(s->width) * s->height,
                    ConsoleCell{' ', s->default_attribute});
    return s;
}

bool console_is_grid(const ConsoleScreen* s) { return s && s->ops == &kGridOps; }

ConsoleCell console_grid_cell(const ConsoleScreen* s, int x, int y) {
    if (!in_grid(s, x, y)) return ConsoleCell{0, 0};
    return grid_of(s)->cells[static_cast<size_t>(y) * s->width + x];
}

u32 console_grid_char_at(const ConsoleScreen* s, int x, int y) { return console_grid_cell(s, x, y).cp; }

u16 console_grid_attribute_at(const ConsoleScreen* s, int x, int y) {
    return console_grid_cell(s, x, y).attr;
}

std::string console_grid_row_text(const ConsoleScreen* s, int y) {
    std::string out;
    if (!in_grid(s, 0, y)) return out;
    const ConsoleCell* row = &grid_of(s)->cells[static_cast<size_t>(y) * s->width];
    int last = s->width - 1;
    while (last >= 0 && row[last].cp == ' ') last--;
    char buf[4];
    for (int x = 0; x <= last; x++) out.append(buf, console_utf8_encode(row[x].cp, buf));
    return out;
}

std::string console_grid_text(const ConsoleScreen* s) {
    std::string out;
    if (!console_is_grid(s)) return out;
    int last = s->height - 1;
    while (last >= 0 && console_grid_row_text(s, last).empty()) last--;
    for (int y = 0; y <= last; y++) {
        if (y) out += '\n';
        out += console_grid_row_text(s, y);
    }
    return out;
}

void console_grid_resize(ConsoleScreen* s, int width, int height) {
    if (!console_is_grid(s)) return;
    width = width < 1 ? 1 : width;
    height = height < 1 ? 1 : height;
    std::vector<ConsoleCell> cells(static_cast<size_t>(width) * height,
                                   ConsoleCell{' ', s->default_attribute});
    auto& old = grid_of(s)->cells;
    for (int y = 0; y < height && y < s->height; y++)
        for (int x = 0; x < width && x < s->width; x++)
            cells[static_cast<size_t>(y) * width + x] = old[static_cast<size_t>(y) * s->width + x];
    old.swap(cells);
    s->width = width;
    s->height = height;
    console_screen_refresh(s);
}

}  // namespace zan
