// Drawing faces into the cell buffer and the widgets' own reactions.
#include "gui/terminal/tui_render.h"

#include <algorithm>

#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_draw.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_helpers.h"
#include "gui/terminal/tui_rich.h"
#include "gui/terminal/tui_text_list.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/terminal/terminal_keys.h"

namespace zan::gui {

namespace {
struct KindName {
    Name name;
    WidgetKind kind;
};
const KindName kKinds[] = {
    {Name::window, WidgetKind::window},      {Name::base, WidgetKind::base},
    {Name::button, WidgetKind::button},      {Name::field, WidgetKind::field},
    {Name::progress, WidgetKind::progress},  {Name::group_box, WidgetKind::group_box},
    {Name::check, WidgetKind::check},        {Name::radio, WidgetKind::radio},
    {Name::text_list, WidgetKind::text_list}, {Name::rich_text, WidgetKind::rich_text},
};

// An option's name: a set-word as the layout dialect writes it, or a word.
bool option_name_is(const ValueCell* v, Name name) {
    return v && (v->type() == TYPE_SET_WORD ? symbol_resolve(word_symbol(v)) == name_symbol(name) : word_is(v, name));
}

// The value after the option's name in a block of options, or null.
const ValueCell* option_of(const ValueCell* options, Name name) {
    if (!options || options->type() != TYPE_BLOCK) return nullptr;
    i32 n = block_length(options);
    for (i32 i = 0; i + 1 < n; i++)
        if (option_name_is(block_item(options, i), name))
            return block_item(options, i + 1);
    return nullptr;
}
}  // namespace

u32 para_align(const ValueCell* para) {
    if (!para || para->type() != TYPE_OBJECT) return 0;
    u32 align = 0;
    const ValueCell* h = field(para, Name::align);
    if (word_is(h, Name::right)) align |= ALIGN_RIGHT;
    else if (word_is(h, Name::center)) align |= ALIGN_CENTER;
    const ValueCell* v = field(para, Name::v_align);
    if (word_is(v, Name::middle)) align |= ALIGN_MIDDLE;
    else if (word_is(v, Name::bottom)) align |= ALIGN_BOTTOM;
    const ValueCell* wrap = field(para, Name::wrap);
    if (wrap && wrap->type() == TYPE_LOGIC && logic_get(wrap)) align |= ALIGN_WRAP;
    return align;
}

namespace {
TuiRect box_at(int col, int row, const TuiWidget& w) {
    return TuiRect{col, row, col + static_cast<int>(w.box.x1 - w.box.x0), row + static_cast<int>(w.box.y1 - w.box.y0)};
}

u32 focus_flag(const TuiWidget& w) { return (w.flags & WIDGET_FOCUSED) ? PEN_REVERSE : 0; }

void render_group_box(TuiScreen& screen, int col, int row, const TuiWidget& w, const TuiRect& clip) {
    render_face(screen, col, row, w, clip, PEN_NO_TEXT);
    const ValueCell* options = facet(&w.face, Facet::options);
    bool round = word_is(option_of(options, Name::border_corners), Name::round);
    u32 color = tuple_color(option_of(options, Name::border_color));
    u32 title_fg = tuple_color(facet(facet(&w.face, Facet::font), Facet::color));
    draw_frame(screen, box_at(col, row, w), clip, round, color, string_utf8(facet(&w.face, Facet::text)), title_fg);
}
int char_cells(u32 cp) { return text_size(std::u32string(1, static_cast<char32_t>(cp))).cols; }

int field_width(const TuiWidget& w) { return static_cast<int>(w.box.x1 - w.box.x0); }

// The characters of text from the start that fit in limit cells, and the
// cells they take.
void fitting(const ValueCell* text, int limit, int& chars, int& cells) {
    chars = cells = 0;
    if (!text || text->type() != TYPE_STRING) return;
    u32 head = static_cast<u32>(series_index(text));
    i32 n = string_length(text);
    while (chars < n) {
        int c = char_cells(string_char_at(text, head + static_cast<u32>(chars)));
        if (cells + c > limit) break;
        cells += c;
        chars++;
    }
}

// Editing keys of a field; the text changes in place. True when the
// text changed.
bool field_key(TuiWidget& w, const TuiMessage& m) {
    ValueCell* text = facet(&w.face, Facet::text);
    if (!text) return false;
    if (text->type() != TYPE_STRING) {
        // A field without a text is edited as an empty one. The new string
        // waits on the data stack while the face's values may move.
        ValueCell* fresh = string_push_new(16);
        text = facet(&w.face, Facet::text);
        cell_copy(fresh, text);
        stack_pop(1);
    }
    u32 head = static_cast<u32>(series_index(text));
    i32 length = string_length(text);
    bool special = m.flags & EVENT_SPECIAL_KEY;
    i32 key = m.key;
    if (!special && (key == KEY_DEL || key == KEY_BACKSPACE)) {
        if (w.caret == 0) return false;
        int c = char_cells(string_char_at(text, head + static_cast<u32>(w.caret - 1)));
        string_remove_char(series_buffer(text), head + static_cast<u32>(w.caret - 1));
        w.caret--;
        w.caret_x -= c;
        w.text_cells -= c;
        return true;
    } else if ((special && key == console::KEY_LEFT) || (!special && key == KEY_CTRL_B)) {
        if (w.caret == 0) return false;
        w.caret--;
        w.caret_x -= char_cells(string_char_at(text, head + static_cast<u32>(w.caret)));
    } else if ((special && key == console::KEY_RIGHT) || (!special && key == KEY_CTRL_F)) {
        if (w.caret >= length) return false;
        w.caret_x += char_cells(string_char_at(text, head + static_cast<u32>(w.caret)));
        w.caret++;
    } else if (!special && key >= 0x20) {
        int c = char_cells(static_cast<u32>(key));
        if (w.text_cells + c > field_width(w)) return false;
        string_insert_char(series_buffer(text), head + static_cast<u32>(w.caret), static_cast<u32>(key));
        w.caret++;
        w.caret_x += c;
        w.text_cells += c;
        return true;
    }
    return false;
}
}  // namespace

void field_start(TuiWidget& w) {
    fitting(facet(&w.face, Facet::text), field_width(w), w.caret, w.caret_x);
    w.text_cells = w.caret_x;
}

WidgetKind widget_kind_of(const ValueCell* type) {
    for (const KindName& k : kKinds)
        if (word_is(type, k.name)) return k.kind;
    return WidgetKind::other;
}

namespace {
// The face's text, or its hint drawn dim, aligned in its box.
void render_text(TuiScreen& screen, int col, int row, const TuiWidget& w, TuiPen pen, const TuiRect& clip) {
    const ValueCell* face = &w.face;
    std::string shown = string_utf8(facet(face, Facet::text));
    if (shown.empty()) {
        const ValueCell* hint = option_of(facet(face, Facet::options), Name::hint);
        if (!hint || hint->type() != TYPE_STRING) return;
        shown = string_utf8(hint);
        pen.flags |= PEN_DIM;
    }
    write_aligned(screen, box_at(col, row, w), shown, pen, clip);
}
}  // namespace

void render_face(TuiScreen& screen, int col, int row, const TuiWidget& w, const TuiRect& clip, u32 flags) {
    const ValueCell* face = &w.face;
    TuiPen pen;
    pen.flags = flags;
    pen.bg = tuple_color(facet(face, Facet::color));
    pen.fg = tuple_color(facet(facet(face, Facet::font), Facet::color));
    pen.align = para_align(facet(face, Facet::para));
    screen.fill(clip, ' ', TuiStyle{pen.fg, pen.bg, 0});
    for (size_t i = 0; w.image_cols > 0 && i < w.image.size(); i++) {
        const TuiCell& c = w.image[i];
        int x = col + static_cast<int>(i % static_cast<size_t>(w.image_cols));
        int y = row + static_cast<int>(i / static_cast<size_t>(w.image_cols));
        screen.put(x, y, c.cp, TuiStyle{c.fg, c.bg, c.attr}, clip);
    }
    if (!w.ui.empty()) write_text(screen, col, row, w.ui, pen, clip);
    if (!(flags & PEN_NO_TEXT)) {
        if (w.kind == WidgetKind::rich_text) write_rich(screen, box_at(col, row, w), w.rich, pen.align, clip);
        else render_text(screen, col, row, w, pen, clip);
    }
    const ValueCell* draw = facet(face, Facet::draw);
    if (draw && draw->type() == TYPE_BLOCK && block_length(draw) > 0)
        draw_commands(DrawTarget{&screen, col, row, clip}, *draw);
}

RenderFn renderer_of(WidgetKind kind) {
    switch (kind) {
        case WidgetKind::window: return {};
        case WidgetKind::button:
            return [](TuiScreen& s, int c, int r, const TuiWidget& w, const TuiRect& clip) {
                render_face(s, c, r, w, clip, PEN_ESCAPES | focus_flag(w));
            };
        case WidgetKind::field:
            return [](TuiScreen& s, int c, int r, const TuiWidget& w, const TuiRect& clip) {
                render_face(s, c, r, w, clip, PEN_ESCAPES | ((w.flags & WIDGET_PASSWORD) ? PEN_MASKED : 0));
            };
        case WidgetKind::check:
        case WidgetKind::radio:
            return [](TuiScreen& s, int c, int r, const TuiWidget& w, const TuiRect& clip) {
                render_face(s, c, r, w, clip, PEN_ESCAPES | PEN_NO_TEXT | focus_flag(w));
            };
        case WidgetKind::progress:
        case WidgetKind::rich_text:
            return [](TuiScreen& s, int c, int r, const TuiWidget& w, const TuiRect& clip) {
                render_face(s, c, r, w, clip, 0);
            };
        case WidgetKind::group_box: return render_group_box;
        case WidgetKind::text_list: return render_text_list;
        default:
            return [](TuiScreen& s, int c, int r, const TuiWidget& w, const TuiRect& clip) {
                render_face(s, c, r, w, clip, PEN_ESCAPES);
            };
    }
}

void widget_react(TuiBackend& b, int type, const TuiMessage& m,
                  const std::function<bool(int type, const TuiMessage&)>& send) {
    TuiWidget* w = b.widget(m.widget);
    if (!w) return;
    if (w->kind == WidgetKind::text_list) {
        text_list_event(b, *w, type, m, send);
        return;
    }
    if (type == EVT_FOCUS || type == EVT_UNFOCUS) {
        b.mark_dirty(m.widget);
        return;
    }
    if (w->kind == WidgetKind::field) {
        if (type == EVT_CLICK) {
            fitting(facet(&w->face, Facet::text), static_cast<int>(m.x), w->caret, w->caret_x);
        } else if (type == EVT_KEY) {
            if (!(m.flags & EVENT_SPECIAL_KEY) && (m.key == 0 || m.key == KEY_TAB || m.key == KEY_ENTER)) return;
            // A changed text is announced, so that the face's data follows it.
            if (field_key(*w, m) && send) {
                b.mark_dirty(m.widget);
                send(EVT_CHANGE, m);
                return;
            }
        } else {
            return;
        }
        b.mark_dirty(m.widget);
        return;
    }
    bool toggle = w->kind == WidgetKind::check || w->kind == WidgetKind::radio;
    if (toggle && (type == EVT_CLICK || (type == EVT_KEY && !(m.flags & EVENT_SPECIAL_KEY) && m.key == KEY_SPACE))) {
        ValueCell* data = facet(&w->face, Facet::data);
        if (!data) return;
        bool on = true;
        if (w->kind == WidgetKind::check && data->type() != TYPE_NONE)
            on = data->type() == TYPE_LOGIC && !logic_get(data);
        logic_box(data, on);
        widget_rebuild(m.widget);
        b.mark_dirty(m.widget);
        if (send && b.widget(m.widget)) send(EVT_CHANGE, m);
        return;
    }
    if (w->kind == WidgetKind::button && type == EVT_KEY) {
        bool space = !(m.flags & EVENT_SPECIAL_KEY) && m.key == KEY_SPACE;
        b.mark_dirty(m.widget);
        if (space && send) send(EVT_CLICK, m);
    }
}

}  // namespace zan::gui
