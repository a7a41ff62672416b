// Text metrics of rich-text faces, measured in cells.
#include "gui/terminal/tui_metrics.h"

#include <algorithm>
#include <cmath>

#include "gui/terminal/tui_face.h"
#include "runtime/core/case_folding.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"

namespace zan::gui {

namespace {
int width_of(u32 cp) { return std::max<int>(char_width(cp), 0); }

// text-box-metrics box arg type: the face must be a rich text; its text
// (none when it is no string) is measured by the type code.
void r_text_box_metrics() {
    ValueCell box = *stack_arg(0);
    const ValueCell* arg = stack_arg(1);
    i32 type = integer_get(stack_arg(2));
    const ValueCell* face_type = field_of(&box, "type");
    if (!word_is(face_type, "rich-text")) fire(Err::script_face_type, face_type);
    const ValueCell* text = field_of(&box, "text");
    if (!text || text->type() != TYPE_STRING) {
        none_box(stack_result());
        return;
    }
    std::u32string cps = string_code_points(text);
    switch (type) {
        case 0:
        case 6: {
            long index = arg->type() == TYPE_INTEGER ? integer_get(arg) : 1;
            TuiCellPos at = text_index_place(cps, index);
            // The lower end of the caret is the bottom of its cell.
            point2d_make_at(stack_result(), static_cast<float>(at.col), static_cast<float>(at.row + (type == 6)));
            return;
        }
        case 1:
        case 5: {
            double x = 0, y = 0;
            if (arg->type() == TYPE_PAIR) {
                x = pair_x(arg);
                y = pair_y(arg);
            } else if (arg->type() == TYPE_POINT2D) {
                x = point_x(arg);
                y = point_y(arg);
            }
            integer_box(stack_result(), static_cast<i64>(text_place_index(cps, x, y, type == 1)));
            return;
        }
        case 2: float_make_at(stack_result(), 1.0); return;
        case 3: {
            TuiTextSize size = text_size(cps);
            point2d_make_at(stack_result(), static_cast<float>(size.cols), static_cast<float>(size.lines));
            return;
        }
        case 4: integer_box(stack_result(), text_size(cps).lines); return;
        default: none_box(stack_result());
    }
}
}  // namespace

TuiCellPos text_index_place(const std::u32string& text, long index) {
    TuiCellPos at{0, 0};
    long last = std::clamp<long>(index, 1, static_cast<long>(text.size()) + 1) - 1;
    for (long i = 0; i < last; i++) {
        if (text[static_cast<size_t>(i)] == U'\n') {
            at.col = 0;
            at.row++;
        } else {
            at.col += width_of(text[static_cast<size_t>(i)]);
        }
    }
    return at;
}

long text_place_index(const std::u32string& text, double col, double row, bool caret) {
    long lines = text_size(text).lines;
    long target = std::clamp<long>(static_cast<long>(std::floor(row)), 0, lines - 1);
    size_t i = 0;
    for (long r = 0; r < target; i++)
        if (text[i] == U'\n') r++;
    double x = 0;
    for (; i < text.size() && text[i] != U'\n'; i++) {
        int w = width_of(text[i]);
        if (col < x + w) return static_cast<long>(i) + 1;
        x += w;
    }
    // Right of the line: after its last character, or that character.
    bool empty_line = i == 0 || text[i - 1] == U'\n';
    return static_cast<long>(i) + (caret || empty_line ? 1 : 0);
}

void tui_metrics_register() { routine_table_register("text-box-metrics", r_text_box_metrics); }

}  // namespace zan::gui
