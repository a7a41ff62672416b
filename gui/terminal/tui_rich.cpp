// Rich text: layout, writing and metrics.
#include "gui/terminal/tui_rich.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_text.h"
#include "runtime/core/case_folding.h"
#include "runtime/core/errors.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"

namespace zan::gui {

namespace {
// The cell attribute of a style word, 0 for any other value.
u32 style_bit(const ValueCell* v) {
    if (word_is(v, Name::bold)) return CELL_BOLD;
    if (word_is(v, Name::italic)) return CELL_ITALIC;
    if (word_is(v, Name::underline)) return CELL_UNDERLINE;
    if (word_is(v, Name::strike)) return CELL_STRIKE;
    return 0;
}

// Applies one entry's attribute to the cells [from, to).
void apply_attribute(std::vector<TuiCell>& cells, size_t from, size_t to, const ValueCell* v,
                     const ValueCell* next, bool& skip_next) {
    skip_next = false;
    if (u32 bit = style_bit(v)) {
        for (size_t i = from; i < to; i++) cells[i].attr |= bit;
    } else if (v->type() == TYPE_TUPLE) {
        u32 fg = tuple_color(v);
        for (size_t i = from; i < to; i++) cells[i].fg = fg;
    } else if (word_is(v, Name::backdrop) && next->type() == TYPE_TUPLE) {
        u32 bg = tuple_color(next);
        for (size_t i = from; i < to; i++) cells[i].bg = bg;
        skip_next = true;
    }
}

// Lines of the text: the index of each line's first character.
std::vector<size_t> line_starts(const std::u32string& text) {
    std::vector<size_t> starts{0};
    for (size_t i = 0; i < text.size(); i++)
        if (text[i] == '\n') starts.push_back(i + 1);
    return starts;
}

// The column of character i on its line.
int column_of(const std::u32string& text, size_t line_start, size_t i) {
    int col = 0;
    for (size_t k = line_start; k < i && k < text.size(); k++) col += char_width(text[k]);
    return col;
}

// The index (0-based) of the character of a line under column x; past the
// end of the line, the line's end (its LF or the end of the text), or its
// last character when last_char.
size_t index_at(const std::u32string& text, size_t line_start, double x, bool last_char) {
    size_t end = text.find(U'\n', line_start);
    if (end == std::u32string::npos) end = text.size();
    int col = 0;
    for (size_t k = line_start; k < end; k++) {
        int w = char_width(text[k]);
        if (x < col + w) return k;
        col += w;
    }
    if (last_char && end > line_start) return end - 1;
    return end;
}

void r_text_box_metrics() {
    ValueCell face = *stack_arg(0);
    ValueCell arg = *stack_arg(1);
    i32 type = integer_get(stack_arg(2));
    const ValueCell* type_cell = facet(&face, Facet::type);
    ValueCell kind = type_cell ? *type_cell : g_none_cell;
    if (!word_is(&kind, Name::rich_text)) fire(Err::script_face_type, &kind);
    std::u32string text = string_code_points(facet(&face, Facet::text));
    const ValueCell* text_cell = facet(&face, Facet::text);
    none_box(stack_result());
    if (!text_cell || text_cell->type() != TYPE_STRING) return;
    std::vector<size_t> starts = line_starts(text);
    switch (type) {
        case 0:
        case 6: {
            if (arg.type() != TYPE_INTEGER) number_fire_type(Err::script_invalid_type, arg.type());
            size_t i = static_cast<size_t>(std::clamp<i64>(static_cast<i64>(integer_get(&arg)) - 1, 0,
                                                           static_cast<i64>(text.size())));
            size_t line = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), i) - starts.begin()) - 1;
            int col = column_of(text, starts[line], i);
            point2d_make_at(stack_result(), static_cast<float>(col), static_cast<float>(line + (type == 6 ? 1 : 0)));
            return;
        }
        case 1:
        case 5: {
            double x, y;
            if (arg.type() == TYPE_PAIR) {
                x = pair_x(&arg);
                y = pair_y(&arg);
            } else if (arg.type() == TYPE_POINT2D) {
                x = point_x(&arg);
                y = point_y(&arg);
            } else {
                number_fire_type(Err::script_invalid_type, arg.type());
            }
            double row = std::floor(std::isfinite(y) ? y : 0);
            size_t line = row <= 0 ? 0 : std::min(starts.size() - 1, static_cast<size_t>(std::min(row, 1e9)));
            size_t i = index_at(text, starts[line], std::isfinite(x) ? x : 0, type == 5);
            integer_box(stack_result(), static_cast<i32>(i + 1));
            return;
        }
        case 2: float_make_at(stack_result(), 1.0); return;
        case 3: {
            TuiTextSize size = text_size(text);
            point2d_make_at(stack_result(), static_cast<float>(size.cols), static_cast<float>(size.lines));
            return;
        }
        case 4: integer_box(stack_result(), static_cast<i32>(starts.size())); return;
        default: return;
    }
}
}  // namespace

std::vector<TuiCell> rich_layout(const ValueCell* face) {
    std::u32string text = string_code_points(facet(face, Facet::text));
    u32 bg = tuple_color(facet(face, Facet::color));
    std::vector<TuiCell> cells(text.size());
    for (size_t i = 0; i < text.size(); i++) cells[i] = TuiCell{static_cast<u32>(text[i]), bg, COLOR_DEFAULT, 0};
    const ValueCell* data = facet(face, Facet::data);
    if (!data || data->type() != TYPE_BLOCK) return cells;
    u32 head = static_cast<u32>(series_index(data));
    i32 n = block_length(data);
    size_t from = 0, to = 0;
    // The cells are copied out: naming a word may allocate.
    ValueCell block = *data;
    for (i32 k = 0; k < n; k++) {
        ValueCell v = *block_cell_at(&block, head + static_cast<u32>(k));
        if (v.type() == TYPE_PAIR) {
            i64 start = static_cast<i64>(pair_x(&v)) - 1, length = pair_y(&v);
            i64 size = static_cast<i64>(text.size());
            from = static_cast<size_t>(std::clamp<i64>(start, 0, size));
            to = static_cast<size_t>(std::clamp<i64>(start + std::max<i64>(length, 0), 0, size));
            continue;
        }
        ValueCell next = k + 1 < n ? *block_cell_at(&block, head + static_cast<u32>(k + 1)) : g_none_cell;
        bool skip = false;
        apply_attribute(cells, from, to, &v, &next, skip);
        if (skip) k++;
    }
    return cells;
}

void write_rich(TuiScreen& screen, const TuiRect& box, const std::vector<TuiCell>& cells, u32 align,
                const TuiRect& clip, u32 default_fg) {
    int width = box.x1 - box.x0, height = box.y1 - box.y0;
    bool wrap = (align & ALIGN_WRAP) != 0;
    if (wrap && width <= 0) return;
    // The rows the cells fall into: a row ends at LF and, when wrapping,
    // before a character that would pass the box's width.
    std::vector<int> widths{0};
    std::vector<int> row_of(cells.size(), -1);
    {
        int x = 0;
        for (size_t i = 0; i < cells.size(); i++) {
            if (cells[i].cp == '\n') {
                widths.push_back(0);
                x = 0;
                continue;
            }
            int w = char_width(shown_code_point(cells[i].cp));
            if (w == 0) continue;
            if (wrap && x + w > width && x > 0) {
                widths.push_back(0);
                x = 0;
            }
            row_of[i] = static_cast<int>(widths.size()) - 1;
            x += w;
            widths.back() = x;
        }
    }
    int lines = static_cast<int>(widths.size());
    int y0 = box.y0;
    if (align & ALIGN_MIDDLE) y0 += (height - lines) / 2;
    else if (align & ALIGN_BOTTOM) y0 += height - lines;
    // Unwrapped, the text moves as one block by its widest line; wrapped,
    // each row is placed by its own width.
    std::vector<int> starts;
    if (wrap) {
        starts = row_starts(widths, width, align);
    } else {
        int cols = *std::max_element(widths.begin(), widths.end());
        int x0 = 0;
        if (align & ALIGN_CENTER) x0 = (width - cols) / 2;
        else if (align & ALIGN_RIGHT) x0 = width - cols;
        starts.assign(widths.size(), x0);
    }
    TuiRect r = clip.intersect(box);
    int row = -1, x = 0;
    for (size_t i = 0; i < cells.size(); i++) {
        if (row_of[i] < 0) continue;
        if (row_of[i] != row) {
            row = row_of[i];
            x = starts[static_cast<size_t>(row)];
        }
        const TuiCell& c = cells[i];
        u32 cp = shown_code_point(c.cp);
        int w = char_width(cp);
        screen.put(box.x0 + x, y0 + row, cp, TuiStyle{c.fg ? c.fg : default_fg, c.bg, c.attr}, r);
        x += w;
    }
}

void tui_rich_register() { routine_table_register("text-box-metrics", r_text_box_metrics); }

}  // namespace zan::gui
