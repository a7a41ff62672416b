// Widget and window records, focus, drawing the active window, timers.
#include "gui/terminal/tui_widgets.h"

#include <algorithm>

#include "runtime/core/collector.h"

namespace zan::gui {

// ---- handles --------------------------------------------------------------------------------

namespace {
constexpr u32 kMaxSlots = 0xFFFF;
u32 slot_of(WidgetId id) { return (id & 0xFFFF) - 1; }
u32 generation_of(WidgetId id) { return id >> 16; }
}  // namespace

WidgetId WidgetTable::add(std::unique_ptr<TuiWidget> widget) {
    u32 index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        if (slots_.size() >= kMaxSlots) return 0;
        index = static_cast<u32>(slots_.size());
        slots_.push_back(Slot{1, nullptr});
    }
    slots_[index].widget = std::move(widget);
    live_++;
    return (slots_[index].generation << 16) | (index + 1);
}

TuiWidget* WidgetTable::get(WidgetId id) const {
    if ((id & 0xFFFF) == 0) return nullptr;
    u32 index = slot_of(id);
    if (index >= slots_.size()) return nullptr;
    const Slot& s = slots_[index];
    if (!s.widget || s.generation != generation_of(id)) return nullptr;
    return s.widget.get();
}

std::vector<WidgetId> WidgetTable::ids() const {
    std::vector<WidgetId> out;
    for (u32 i = 0; i < slots_.size(); i++)
        if (slots_[i].widget) out.push_back((slots_[i].generation << 16) | (i + 1));
    return out;
}

void WidgetTable::remove(WidgetId id) {
    if (!get(id)) return;
    Slot& s = slots_[slot_of(id)];
    s.widget.reset();
    // A new generation: every handle of the old widget goes stale.
    s.generation = (s.generation + 1) & 0xFFFF;
    if (s.generation == 0) s.generation = 1;
    free_.push_back(slot_of(id));
    live_--;
}

// ---- rates and clicks -----------------------------------------------------------------------

int rate_interval_per_second(i32 rate) { return rate > 0 ? 1000 / rate : -1; }

int rate_interval_of_seconds(double seconds) {
    if (!(seconds > 0)) return -1;
    double ms = seconds * 1000.0;
    return ms >= 2147483647.0 ? 2147483647 : static_cast<int>(ms);
}

std::vector<int> ClickTiming::release(bool double_below) {
    bool dbl = double_below || (state_ == 2 && time_ < 500);
    state_ = dbl ? 0 : 2;
    time_ = 0;
    if (dbl) return {EVT_CLICK, EVT_DBL_CLICK};
    return {EVT_CLICK};
}

void ClickTiming::tick() {
    if (state_ == 2 && time_ < 800) time_ += 33;
}

// ---- the back end ---------------------------------------------------------------------------

void TuiBackend::mark_faces() const {
    widgets_.each([](TuiWidget& w) {
        if (w.face.header) gc_mark_cells(&w.face, &w.face + 1);
    });
}

void TuiBackend::grow_area(WidgetId window, const TuiBox& box) {
    TuiWidget* w = widgets_.get(window);
    if (!w) return;
    w->area.x0 = std::min(w->area.x0, box.x0);
    w->area.y0 = std::min(w->area.y0, box.y0);
    w->area.x1 = std::max(w->area.x1, box.x1);
    w->area.y1 = std::max(w->area.y1, box.y1);
}

WidgetId TuiBackend::make(WidgetId parent, bool window, TuiBox box, u32 flags, RenderFn render) {
    TuiWidget* p = widgets_.get(parent);
    if (parent && !p) return 0;
    auto w = std::make_unique<TuiWidget>();
    w->window = window;
    w->flags = flags;
    if (window) {
        // Windows stand at the top left of the drawing area.
        box.x1 -= box.x0;
        box.y1 -= box.y0;
        box.x0 = box.y0 = 0;
    }
    w->box = box;
    w->parent = parent;
    w->render = std::move(render);
    WidgetId id = widgets_.add(std::move(w));
    if (!id) return 0;
    if (window) {
        windows_.push_back(id);
        last_window_ = id;
        grow_area(id, box);
        if (!focus_) {
            focus_ = id;
            widgets_.get(id)->flags |= WIDGET_FOCUSED;
        }
    }
    if (p) {
        p->children.push_back(id);
        if (p->window) grow_area(parent, box);
        WidgetId win = window_of(id);
        TuiWidget* ww = widgets_.get(win);
        if (ww && (flags & WIDGET_CARET)) ww->carets++;
        TuiWidget* last = widgets_.get(last_window_);
        if (last && !last->focus && (flags & WIDGET_FOCUSABLE)) set_focus(id);
    }
    return id;
}

WidgetId TuiBackend::window_of(WidgetId id) const {
    for (int guard = 0; guard < 100000; guard++) {
        const TuiWidget* w = widgets_.get(id);
        if (!w) return 0;
        if (w->window) return id;
        id = w->parent;
    }
    return 0;
}

bool TuiBackend::in_shown_window(WidgetId id) const {
    const TuiWidget* win = widgets_.get(window_of(id));
    return win && win->shown;
}

void TuiBackend::set_focus(WidgetId id) {
    TuiWidget* w = widgets_.get(id);
    if (!w) return;
    // Giving the focus to the widget that has it changes nothing.
    if (id == focus_ && (w->flags & WIDGET_FOCUSED)) return;
    if (TuiWidget* old = widgets_.get(focus_)) {
        old->flags &= ~WIDGET_FOCUSED;
        if (send && in_shown_window(focus_)) send(EVT_UNFOCUS, focus_);
    }
    if (TuiWidget* win = widgets_.get(window_of(id))) win->focus = id;
    focus_ = id;
    if ((w = widgets_.get(id))) {
        w->flags |= WIDGET_FOCUSED;
        if (send && in_shown_window(id)) send(EVT_FOCUS, id);
    }
}

void TuiBackend::activate(WidgetId window) {
    TuiWidget* w = widgets_.get(window);
    if (!w || !w->window) return;
    active_ = window;
    WidgetId target = widgets_.get(w->focus) ? w->focus : window;
    if (target != focus_) set_focus(target);
    hover_ = captured_ = 0;
    dirty_ = true;
}

// The active window's first pass of the event loop gives the face focused
// while the window was made and shown its focus event; from then on every
// focus change inside the window sends its events.
void TuiBackend::announce_focus() {
    TuiWidget* w = widgets_.get(active_);
    if (!w || w->shown) return;
    w->shown = true;
    if (send && window_of(focus_) == active_) send(EVT_FOCUS, focus_);
}

void TuiBackend::mark_dirty(WidgetId id) {
    WidgetId win = window_of(id ? id : focus_);
    if (win && win == active_) dirty_ = true;
}

void TuiBackend::set_box(WidgetId id, TuiBox box) {
    TuiWidget* w = widgets_.get(id);
    if (!w) return;
    w->box = box;
    if (w->window) w->area = box;
    else if (TuiWidget* p = widgets_.get(w->parent); p && p->window) grow_area(w->parent, box);
    mark_dirty(id);
}

WidgetId TuiBackend::hit(WidgetId id, float x, float y) const {
    const TuiWidget* w = widgets_.get(id);
    if (!w) return 0;
    for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) {
        const TuiWidget* c = widgets_.get(*it);
        if (!c || (c->flags & WIDGET_HIDDEN)) continue;
        if (x >= c->box.x0 && x < c->box.x1 && y >= c->box.y0 && y < c->box.y1) return *it;
    }
    return 0;
}

// Drops a widget and everything below it (children first).
void TuiBackend::forget(WidgetId id) {
    TuiWidget* w = widgets_.get(id);
    if (!w) return;
    std::vector<WidgetId> children = w->children;
    for (WidgetId c : children) forget(c);
    remove_timer(id);
    w = widgets_.get(id);
    if (focus_ == id) focus_ = 0;
    if (hover_ == id) hover_ = 0;
    if (captured_ == id) captured_ = 0;
    if (TuiWidget* win = widgets_.get(window_of(id)); win && win != w) {
        if (win->focus == id) win->focus = 0;
        if (w->flags & WIDGET_CARET) win->carets--;
    }
    if (w->window) {
        windows_.erase(std::remove(windows_.begin(), windows_.end(), id), windows_.end());
        if (last_window_ == id) last_window_ = windows_.empty() ? 0 : windows_.back();
        if (active_ == id) active_ = 0;
    }
    if (TuiWidget* p = widgets_.get(w->parent))
        p->children.erase(std::remove(p->children.begin(), p->children.end(), id), p->children.end());
    widgets_.remove(id);
}

void TuiBackend::destroy(WidgetId id) {
    TuiWidget* w = widgets_.get(id);
    if (!w) return;
    if (w->window && id == active_ && dirty_ && before_close) {
        before_close();
        if (!(w = widgets_.get(id))) return;
    }
    bool window = w->window;
    WidgetId parent = w->parent;
    forget(id);
    if (window) {
        post_quit();
        if (!active_ && !windows_.empty()) activate(windows_.back());
        else mark_dirty(active_);
    } else {
        mark_dirty(parent);
    }
}

std::vector<WidgetId> TuiBackend::roots() const {
    std::vector<WidgetId> out;
    for (WidgetId id : widgets_.ids())
        if (!widgets_.get(id)->parent) out.push_back(id);
    return out;
}

void TuiBackend::reset() {
    for (WidgetId id : roots()) forget(id);
    windows_.clear();
    timers_.clear();
    active_ = last_window_ = focus_ = hover_ = captured_ = 0;
    dirty_ = false;
    loop_level_ = 0;
}

void TuiBackend::start_timer(WidgetId id, int interval_ms) {
    if (widgets_.get(id)) timers_.push_back(Timer{id, interval_ms, 0});
}

void TuiBackend::remove_timer(WidgetId id) {
    for (size_t i = timers_.size(); i-- > 0;)
        if (timers_[i].owner == id) {
            timers_.erase(timers_.begin() + static_cast<long>(i));
            return;
        }
}

void TuiBackend::run_timers(int elapsed_ms) {
    // The events go out after the walk: a handler may start or remove
    // timers, or destroy their owners.
    std::vector<WidgetId> due;
    for (Timer& t : timers_) {
        t.elapsed += elapsed_ms;
        if (t.elapsed >= t.interval) {
            t.elapsed = 0;
            due.push_back(t.owner);
        }
    }
    for (WidgetId owner : due)
        if (widgets_.get(owner) && send) send(EVT_TIME, owner);
}

void TuiBackend::draw(TuiScreen& screen, WidgetId id, int col, int row, const TuiRect& clip) {
    const TuiWidget* w = widgets_.get(id);
    if (!w || (w->flags & WIDGET_HIDDEN)) return;
    int width = static_cast<int>(w->box.x1 - w->box.x0), height = static_cast<int>(w->box.y1 - w->box.y0);
    TuiRect own = TuiRect{col, row, col + width, row + height}.intersect(clip);
    if (own.empty()) return;
    if (w->render) w->render(screen, col, row, *w, own);
    std::vector<WidgetId> children = w->children;
    for (WidgetId c : children) {
        const TuiWidget* cw = widgets_.get(c);
        if (cw) draw(screen, c, col + static_cast<int>(cw->box.x0), row + static_cast<int>(cw->box.y0), own);
    }
}

void TuiBackend::render(TuiScreen& screen, int screen_cols, int screen_rows) {
    const TuiWidget* w = widgets_.get(active_);
    if (!w) {
        screen.resize(0, 0);
        dirty_ = false;
        return;
    }
    int cols = std::clamp(static_cast<int>(w->area.x1 - w->area.x0), 0, std::max(screen_cols, 0));
    int rows = std::clamp(static_cast<int>(w->area.y1 - w->area.y0), 0, std::max(screen_rows, 0));
    screen.resize(cols, rows);
    draw(screen, active_, 0, 0, screen.bounds());
    dirty_ = false;
}

}  // namespace zan::gui
