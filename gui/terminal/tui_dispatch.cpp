// Keys, presses, releases, clicks, hover and the wheel, to widgets.
#include "gui/terminal/tui_dispatch.h"

#include <algorithm>

#include "runtime/datatypes/event.h"

namespace zan::gui {

bool TuiDispatch::deliver(int type, WidgetId id, float x, float y, u32 flags, float amount) {
    TuiWidget* w = b_.widget(id);
    if (!w || (w->flags & WIDGET_DISABLED)) return false;
    TuiMessage m{id, x, y, 0, flags, amount};
    if (to_widget) to_widget(type, m);
    return to_language && b_.widget(id) && to_language(type, m);
}

void TuiDispatch::input(const TuiInput& in, int origin_row) {
    if (in.kind == TuiInput::KEY) key(in);
    else if (in.kind == TuiInput::MOUSE) mouse(in, origin_row);
}

void TuiDispatch::key(const TuiInput& in) {
    WidgetId id = b_.focus();
    TuiWidget* w = b_.widget(id);
    if (!w || (w->flags & WIDGET_DISABLED)) return;
    TuiMessage m{id, 0, 0, 0, in.flags, 0};
    if (in.code) {
        m.key = in.code;
        m.flags |= EVENT_SPECIAL_KEY;
    } else {
        if (in.ch == 0) return;
        m.key = static_cast<i32>(in.ch);
    }
    // The language first (key-down, then key); the widget when neither
    // was handled.
    if (to_language && to_language(EVT_KEY_DOWN, m)) return;
    if (!b_.widget(id)) return;
    if (to_language && to_language(EVT_KEY, m)) return;
    if (b_.widget(id) && to_widget) to_widget(EVT_KEY, m);
}

bool TuiDispatch::below(WidgetId upper, WidgetId lower) const {
    for (const TuiWidget* w = b_.widget(lower); w; w = b_.widget(w->parent))
        if (w->parent == upper) return true;
    return false;
}

bool TuiDispatch::siblings(WidgetId a, WidgetId b) const {
    const TuiWidget* wa = b_.widget(a);
    const TuiWidget* wb = b_.widget(b);
    return wa && wb && wa->parent == wb->parent;
}

void TuiDispatch::to_widget_point(WidgetId id, float& x, float& y) const {
    for (const TuiWidget* w = b_.widget(id); w && !w->window; w = b_.widget(w->parent)) {
        x -= w->box.x0;
        y -= w->box.y0;
    }
}

bool TuiDispatch::hover(WidgetId id, float x, float y, u32 flags, bool& seen) {
    if (!hover_) deliver(EVT_OVER, id, x, y, flags);
    bool inner_seen = false;
    WidgetId child = b_.hit(id, x, y);
    if (const TuiWidget* c = b_.widget(child)) {
        hover(child, x - c->box.x0, y - c->box.y0, flags, inner_seen);
    } else if (id != hover_) {
        WidgetId old = hover_;
        if (old && (below(id, old) || siblings(id, old))) {
            float ox = last_x_, oy = last_y_;
            to_widget_point(old, ox, oy);
            deliver(EVT_OVER, old, ox, oy, flags | EVENT_FLAG_AWAY);
            if (old == captured_)
                if (TuiWidget* ow = b_.widget(old)) ow->flags |= WIDGET_LEFT_PRESSED;
        }
        if (!old || below(old, id) || siblings(id, old)) {
            if (TuiWidget* w = b_.widget(id)) w->flags &= ~WIDGET_LEFT_PRESSED;
            deliver(EVT_OVER, id, x, y, flags);
            inner_seen = true;
        }
        hover_ = id;
    }
    const TuiWidget* w = b_.widget(id);
    if (w && (w->flags & WIDGET_ALL_OVER) && !inner_seen) {
        deliver(EVT_OVER, id, x, y, flags);
        inner_seen = true;
    }
    seen = seen || inner_seen;
    return inner_seen;
}

bool TuiDispatch::button(int type, WidgetId id, float x, float y, u32 flags, bool& clicked) {
    bool handled = false, clicked_inner = false;
    WidgetId child = b_.hit(id, x, y);
    if (const TuiWidget* c = b_.widget(child))
        handled = button(type, child, x - c->box.x0, y - c->box.y0, flags, clicked_inner);
    if (!handled) handled = deliver(type, id, x, y, flags);
    if (type == EVT_DOWN) pressed_.push_back(id);
    // The deepest pressed widget under the release gets the click.
    if (type == EVT_UP && !clicked_inner && std::find(pressed_.begin(), pressed_.end(), id) != pressed_.end()) {
        for (int e : clicks_.release()) deliver(e, id, x, y, flags);
        clicked_inner = true;
        TuiWidget* w = b_.widget(id);
        if (w && !child && (w->flags & WIDGET_FOCUSABLE) && !(w->flags & WIDGET_FOCUSED)) b_.set_focus(id);
    }
    clicked = clicked || clicked_inner;
    return handled;
}

bool TuiDispatch::wheel(WidgetId id, float x, float y, u32 flags, float amount) {
    WidgetId child = b_.hit(id, x, y);
    if (const TuiWidget* c = b_.widget(child))
        if (wheel(child, x - c->box.x0, y - c->box.y0, flags, amount)) return true;
    const TuiWidget* w = b_.widget(id);
    if (!w || (w->flags & WIDGET_DISABLED)) return false;
    TuiMessage m{id, x, y, 0, flags, amount};
    return to_language && to_language(EVT_WHEEL, m);
}

void TuiDispatch::mouse(const TuiInput& in, int origin_row) {
    WidgetId win = b_.active();
    if (!b_.widget(win)) return;
    float x = static_cast<float>(in.col - 1), y = static_cast<float>(in.row - origin_row - 1);
    u32 flags = in.flags;
    if (in.button >= 4) {
        wheel(win, x, y, flags, in.button == 4 ? 1.0f : -1.0f);
        return;
    }
    bool seen = false;
    // A move, or a report that repeats the last press (the pointer moved
    // with the button held): the pointer is over something.
    if (in.button == 3 || in.release == last_release_) {
        u32 over_flags = flags | (in.button <= 2 && !in.release ? EVENT_FLAG_DOWN : 0u);
        hover(win, x, y, over_flags, seen);
        // A widget dragged by a pointer that jumped past its edge (it was
        // left while pressed) and that follows every move keeps hearing of
        // the pointer, in its own coordinates.
        const TuiWidget* c = b_.widget(captured_);
        if (c && (c->flags & WIDGET_LEFT_PRESSED) && (c->flags & WIDGET_ALL_OVER)) {
            float cx = x, cy = y;
            to_widget_point(captured_, cx, cy);
            deliver(EVT_OVER, captured_, cx, cy, over_flags);
        }
        last_x_ = x;
        last_y_ = y;
        return;
    }
    last_release_ = in.release;
    static const int kTypes[3][2] = {{EVT_DOWN, EVT_UP}, {EVT_MID_DOWN, EVT_MID_UP}, {EVT_ALT_DOWN, EVT_ALT_UP}};
    int type = kTypes[in.button][in.release ? 1 : 0];
    if (type == EVT_DOWN) captured_ = hover_;
    bool clicked = false;
    button(type, win, x, y, flags, clicked);
    if (type == EVT_UP) {
        if (!clicked) clicks_.released_without_click();
        const TuiWidget* c = b_.widget(captured_);
        if (c && (c->flags & WIDGET_LEFT_PRESSED)) {
            float cx = x, cy = y;
            to_widget_point(captured_, cx, cy);
            deliver(EVT_UP, captured_, cx, cy, flags);
        }
        captured_ = 0;
        pressed_.clear();
    }
}

}  // namespace zan::gui
