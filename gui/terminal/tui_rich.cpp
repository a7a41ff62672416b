// Rich-text styles turned into attribute and colour sequences.
#include "gui/terminal/tui_rich.h"

#include <algorithm>

#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_text.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/pair.h"

namespace zan::gui {

namespace {
struct Look {
    u32 attr = 0;
    bool has_fg = false, has_bg = false;
    u32 fg = 0, bg = 0;
    bool operator==(const Look&) const = default;
};

void append_utf8(std::string& out, u32 cp) {
    u8 bytes[4];
    u32 n = utf8_encode_char(cp, bytes);
    out.append(reinterpret_cast<const char*>(bytes), n);
}

// The parameters of an indexed colour word (38 or 48 as lead).
void append_color_params(std::string& out, int lead, u32 color) {
    out += ";" + std::to_string(lead) + ";5;" + std::to_string(color & 0xFF);
}

// One sequence that resets to the face's own colours, then sets the look.
std::string look_sequence(const Look& look) {
    std::string out = "\x1b[0";
    if (look.attr & CELL_BOLD) out += ";1";
    if (look.attr & CELL_ITALIC) out += ";3";
    if (look.attr & CELL_UNDERLINE) out += ";4";
    if (look.attr & CELL_STRIKE) out += ";9";
    if (look.has_fg) append_color_params(out, 38, look.fg);
    if (look.has_bg) append_color_params(out, 48, look.bg);
    return out + "m";
}
}  // namespace

std::vector<RichRange> rich_ranges(const ValueCell* data) {
    std::vector<RichRange> ranges;
    if (!data || data->type() != TYPE_BLOCK) return ranges;
    i32 n = block_length(data);
    for (i32 i = 0; i < n; i++) {
        const ValueCell* v = block_cell_at(data, static_cast<u32>(i));
        if (v->type() == TYPE_PAIR) {
            ranges.push_back(RichRange{pair_x(v), pair_y(v)});
            continue;
        }
        if (ranges.empty()) continue;
        RichRange& r = ranges.back();
        if (word_is(v, "bold")) r.attr |= CELL_BOLD;
        else if (word_is(v, "italic")) r.attr |= CELL_ITALIC;
        else if (word_is(v, "underline")) r.attr |= CELL_UNDERLINE;
        else if (word_is(v, "strike")) r.attr |= CELL_STRIKE;
        else if (v->type() == TYPE_TUPLE) {
            r.has_fg = true;
            r.fg = tuple_color(v);
        } else if (word_is(v, "backdrop") && i + 1 < n &&
                   block_cell_at(data, static_cast<u32>(i + 1))->type() == TYPE_TUPLE) {
            r.has_bg = true;
            r.bg = tuple_color(block_cell_at(data, static_cast<u32>(++i)));
        }
    }
    return ranges;
}

std::string rich_markup(const std::u32string& text, const std::vector<RichRange>& ranges) {
    std::vector<Look> looks(text.size());
    for (const RichRange& r : ranges) {
        long from = std::max<long>(r.start, 1) - 1;
        long to = std::min<long>(r.start - 1 + std::max<long>(r.count, 0), static_cast<long>(text.size()));
        for (long i = from; i < to; i++) {
            Look& l = looks[static_cast<size_t>(i)];
            l.attr |= r.attr;
            // A colour only when it is one: a transparent one leaves the face's.
            if (r.has_fg && r.fg != COLOR_DEFAULT) {
                l.has_fg = true;
                l.fg = r.fg;
            }
            if (r.has_bg && r.bg != COLOR_DEFAULT) {
                l.has_bg = true;
                l.bg = r.bg;
            }
        }
    }
    std::string out;
    Look shown;
    for (size_t i = 0; i < text.size(); i++) {
        if (!(looks[i] == shown)) {
            out += look_sequence(looks[i]);
            shown = looks[i];
        }
        append_utf8(out, text[i] == 0x1B ? 0x241B : static_cast<u32>(text[i]));
    }
    return out;
}

}  // namespace zan::gui
