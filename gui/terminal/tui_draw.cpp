// The draw dialect: reading the commands and rasterising the shapes.
#include "gui/terminal/tui_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_render.h"
#include "gui/terminal/tui_rich.h"
#include "gui/terminal/tui_text.h"
#include "runtime/core/errors.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"

namespace zan::gui {

namespace {
constexpr u32 FULL_BLOCK = 0x2588;
// Radii beyond this are not rasterised (the arithmetic stays in 64 bits).
constexpr i64 MAX_RADIUS = 32767;
// Nested command blocks deeper than this are refused as a recursion.
constexpr int MAX_DEPTH = 200;

struct Point {
    i64 x, y;
};

// A command that cannot be read: the position of the offending value.
struct Invalid {
    i32 pos;
};
struct Recursion {
    i32 pos;
};

// The pen, fill and text colour of a run; push saves and restores them.
struct Paint {
    u32 pen = COLOR_DEFAULT;
    bool pen_on = true;
    u32 fill = COLOR_DEFAULT;
    bool fill_on = false;
    u32 text = COLOR_DEFAULT;
    bool text_set = false;
};

bool silent() {
    const ValueCell* s = view_field(Name::silent);
    return s && s->type() == TYPE_LOGIC && logic_get(s);
}

// Whether v is a word spelled name, in any case: the keywords inside the
// dialect's commands (gradient kinds, shape steps).
bool word_spelled(const ValueCell* v, const char* name) {
    return (v->type() == TYPE_WORD || v->type() == TYPE_LIT_WORD) &&
           symbol_resolve(word_symbol(v)) == symbol_resolve(symbol_make(name));
}

// The value of a word, or null when it has none.
const ValueCell* word_value(const ValueCell* w) {
    if (w->type() != TYPE_WORD || !word_binding(w) || word_index(w) < 0) return nullptr;
    ValueCell* ctx = context_cell(word_binding(w));
    if (!context_values(ctx)) return nullptr;
    ValueCell word = *w;
    const ValueCell* v = context_get_ptr(&word, ctx);
    return v->type() == TYPE_UNSET ? nullptr : v;
}

// The commands, in the order of Cmd.
const char* const kCommands[] = {
    "pen", "fill-pen", "box", "line", "triangle", "circle", "ellipse", "font", "text", "line-width",
    "line-join", "line-cap", "line-pattern", "polygon", "anti-alias", "arc", "curve", "spline", "image",
    "shadow", "clip", "shape", "rotate", "scale", "translate", "skew", "transform", "matrix",
    "reset-matrix", "invert-matrix", "push",
};
enum class Cmd {
    pen, fill_pen, box, line, triangle, circle, ellipse, font, text, line_width,
    line_join, line_cap, line_pattern, polygon, anti_alias, arc, curve, spline, image,
    shadow, clip, shape, rotate, scale, translate, skew, transform, matrix,
    reset_matrix, invert_matrix, push, none,
};
constexpr size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];
static_assert(kCommandCount == static_cast<size_t>(Cmd::none));

bool is_point(const ValueCell& v) { return v.type() == TYPE_PAIR || v.type() == TYPE_POINT2D; }
bool is_number(const ValueCell& v) { return v.type() == TYPE_INTEGER || v.type() == TYPE_FLOAT; }

Point point_of(const ValueCell& v) {
    if (v.type() == TYPE_PAIR) return {pair_x(&v), pair_y(&v)};
    return {static_cast<i64>(point_x(&v)), static_cast<i64>(point_y(&v))};
}

double number_of(const ValueCell& v) {
    return v.type() == TYPE_INTEGER ? static_cast<double>(integer_get(&v)) : float_get(&v);
}

// Sets one cell through the screen, keeping a double-width character
// whole; an empty cell is drawn as a space.
void restyle(TuiScreen& s, int x, int y, const TuiRect& clip, u32 cp, const TuiStyle& style) {
    s.put(x, y, cp ? cp : ' ', style, clip);
}

class DrawRun {
public:
    explicit DrawRun(const DrawTarget& t) : t_(t), clip_(t.screen ? t.clip.intersect(t.screen->bounds()) : t.clip) {
        for (size_t i = 0; i < kCommandCount; i++) symbols_[i] = symbol_resolve(symbol_make(kCommands[i]));
    }

    void block(const ValueCell& blk, int depth) {
        Node node = series_node(&blk);
        for (Node n : active_)
            if (n == node) throw Recursion{-1};
        if (depth > MAX_DEPTH) throw Recursion{-1};
        active_.push_back(node);
        Cursor saved = cur_;
        cur_ = Cursor{blk, series_index(&blk)};
        while (cur_.pos < tail()) {
            i32 start = cur_.pos;
            try {
                command(depth);
            } catch (const Invalid& bad) {
                if (!silent()) fail(Err::script_draw_invalid, bad.pos);
                cur_.pos = bad.pos > start ? bad.pos : start + 1;
            } catch (const Recursion& r) {
                i32 at = r.pos >= 0 ? r.pos : cur_.pos - 1;
                if (!silent()) fail(Err::script_draw_infinite, at);
                cur_.pos = std::max(at + 1, start + 1);
            }
        }
        cur_ = saved;
        active_.pop_back();
    }

private:
    struct Cursor {
        ValueCell blk;
        i32 pos;
    };

    i32 tail() const { return block_length(&cur_.blk) + series_index(&cur_.blk); }

    [[noreturn]] void fail(Err id, i32 pos) {
        ValueCell at = cur_.blk;
        series_set_index(&at, std::min(pos, tail()));
        fire(id, &at);
    }

    // The value at the cursor as it stands in the block.
    bool has() const { return cur_.pos < tail(); }
    ValueCell raw() const { return *block_cell_at(&cur_.blk, static_cast<u32>(cur_.pos)); }
    // The value at the cursor, a word that is not a command replaced by
    // its value.
    ValueCell peek() const {
        ValueCell v = raw();
        if (v.type() == TYPE_WORD && !is_command(v))
            if (const ValueCell* val = word_value(&v)) return *val;
        return v;
    }
    [[noreturn]] void bad() const { throw Invalid{cur_.pos}; }
    bool at_word(const char* name) const { return has() && word_is_plain(raw(), name); }
    static bool word_is_plain(const ValueCell& v, const char* name) {
        return v.type() == TYPE_WORD && word_spelled(&v, name);
    }
    bool take_word(const char* name) {
        if (!at_word(name)) return false;
        cur_.pos++;
        return true;
    }

    bool at_point() const { return has() && is_point(peek()); }
    bool at_number() const { return has() && is_number(peek()); }
    Point point() {
        if (!at_point()) bad();
        return point_of(peek_next());
    }
    double number() {
        if (!at_number()) bad();
        return number_of(peek_next());
    }
    ValueCell of_type(u32 type) {
        if (!has() || peek().type() != type) bad();
        return peek_next();
    }
    ValueCell peek_next() {
        ValueCell v = peek();
        cur_.pos++;
        return v;
    }
    void points(size_t at_least, std::vector<Point>& out) {
        while (at_point()) out.push_back(point());
        if (out.size() < at_least) bad();
    }
    void numbers() {
        while (at_number()) cur_.pos++;
    }
    // An optional block that is run in place with the same paint.
    void inline_block(int depth) {
        if (has() && peek().type() == TYPE_BLOCK) run_nested(peek_next(), depth);
    }
    void run_nested(const ValueCell& blk, int depth) {
        i32 at = cur_.pos - 1;
        try {
            block(blk, depth + 1);
        } catch (const Recursion& r) {
            throw Recursion{r.pos >= 0 ? r.pos : at};
        }
    }
    void transform_target() {
        if (!take_word("pen")) take_word("fill-pen");
    }

    void command(int depth) {
        ValueCell v = raw();
        if (v.type() == TYPE_BLOCK) {
            cur_.pos++;
            run_nested(v, depth);
            return;
        }
        Cmd cmd = command_of(v);
        if (cmd == Cmd::none) bad();
        cur_.pos++;
        auto is = [&](Cmd c) { return cmd == c; };
        if (is(Cmd::pen)) {
            paint_arg(paint_.pen, paint_.pen_on);
        } else if (is(Cmd::fill_pen)) {
            paint_arg(paint_.fill, paint_.fill_on);
        } else if (is(Cmd::box)) {
            Point a = point(), b = point();
            if (at_number()) number();
            box(a, b);
        } else if (is(Cmd::line)) {
            std::vector<Point> pts;
            points(2, pts);
            if (paint_.pen_on)
                for (size_t i = 1; i < pts.size(); i++) line(pts[i - 1], pts[i]);
        } else if (is(Cmd::triangle)) {
            Point a = point(), b = point(), c = point();
            triangle(a, b, c);
        } else if (is(Cmd::circle)) {
            Point c = point();
            double r = number();
            i64 ri = static_cast<i64>(r);
            if (ri > 0) ellipse(c, 2 * ri, ri);
        } else if (is(Cmd::ellipse)) {
            Point tl = point(), size = point();
            if (size.x >= 1 && size.y >= 1) {
                i64 a = static_cast<i64>((static_cast<double>(size.x) + 0.5) / 2.0);
                i64 b = static_cast<i64>((static_cast<double>(size.y) + 0.5) / 2.0);
                ellipse(Point{tl.x + a, tl.y + b}, a, b);
            }
        } else if (is(Cmd::font)) {
            ValueCell font = of_type(TYPE_OBJECT);
            const ValueCell* color = facet(&font, Facet::color);
            paint_.text_set = color && color->type() == TYPE_TUPLE;
            paint_.text = tuple_color(color);
        } else if (is(Cmd::text)) {
            Point at = point();
            if (!has()) bad();
            ValueCell what = peek();
            if (what.type() == TYPE_STRING) text(at, peek_next());
            else if (what.type() == TYPE_OBJECT && facet_is(&what, Facet::type, Name::rich_text)) rich(at, peek_next());
            else bad();
        } else if (is(Cmd::line_width)) {
            number();
        } else if (is(Cmd::line_join) || is(Cmd::line_cap)) {
            if (!has() || raw().type() != TYPE_WORD || is_command(raw())) bad();
            cur_.pos++;
        } else if (is(Cmd::line_pattern)) {
            numbers();
        } else if (is(Cmd::polygon)) {
            std::vector<Point> pts;
            points(3, pts);
        } else if (is(Cmd::anti_alias)) {
            if (!take_word("on") && !take_word("off")) bad();
        } else if (is(Cmd::arc)) {
            point();
            point();
            number();
            number();
            take_word("closed");
        } else if (is(Cmd::curve)) {
            std::vector<Point> pts;
            points(3, pts);
            if (pts.size() > 4) bad();
        } else if (is(Cmd::spline)) {
            std::vector<Point> pts;
            points(2, pts);
            take_word("closed");
        } else if (is(Cmd::image)) {
            image_args();
        } else if (is(Cmd::shadow)) {
            if (take_word("off")) return;
            point();
            if (at_number()) number();
            if (at_number()) number();
            if (has() && peek().type() == TYPE_TUPLE) cur_.pos++;
            take_word("inset");
        } else if (is(Cmd::clip)) {
            if (at_point()) {
                point();
                point();
            } else {
                shape_block(of_type(TYPE_BLOCK));
            }
            for (const char* mode : {"replace", "intersect", "union", "xor", "exclude"})
                if (take_word(mode)) break;
            inline_block(depth);
        } else if (is(Cmd::shape)) {
            shape_block(of_type(TYPE_BLOCK));
        } else if (is(Cmd::rotate)) {
            transform_target();
            number();
            if (at_point()) point();
            inline_block(depth);
        } else if (is(Cmd::scale)) {
            transform_target();
            number();
            number();
            inline_block(depth);
        } else if (is(Cmd::translate)) {
            transform_target();
            point();
            inline_block(depth);
        } else if (is(Cmd::skew)) {
            transform_target();
            number();
            if (at_number()) number();
            inline_block(depth);
        } else if (is(Cmd::transform)) {
            transform_target();
            number();
            if (at_point()) point();
            number();
            number();
            point();
            inline_block(depth);
        } else if (is(Cmd::matrix)) {
            transform_target();
            ValueCell m = of_type(TYPE_BLOCK);
            i32 n = block_length(&m);
            if (n != 6) bad_at(cur_.pos - 1);
            for (i32 i = 0; i < n; i++)
                if (!is_number(*block_cell_at(&m, static_cast<u32>(series_index(&m) + i)))) bad_at(cur_.pos - 1);
        } else if (is(Cmd::reset_matrix) || is(Cmd::invert_matrix)) {
            transform_target();
        } else if (is(Cmd::push)) {
            // The block runs in place and the pen, fill and text colour are
            // put back after it, which is what push is for.
            ValueCell blk = of_type(TYPE_BLOCK);
            Paint saved = paint_;
            run_nested(blk, depth);
            paint_ = saved;
        }
    }
    [[noreturn]] void bad_at(i32 pos) const { throw Invalid{pos}; }

    // pen and fill-pen: a colour, off, or a gradient, pattern or bitmap
    // form (read; the paint stays as it was).
    void paint_arg(u32& color, bool& on) {
        if (take_word("off")) {
            on = false;
            return;
        }
        if (has() && peek().type() == TYPE_TUPLE) {
            ValueCell t = peek_next();
            color = tuple_color(&t);
            on = true;
            return;
        }
        if (take_word("linear") || take_word("radial") || take_word("diamond")) {
            while (has()) {
                ValueCell v = peek();
                bool spread = word_is_plain(raw(), "pad") || word_is_plain(raw(), "repeat") ||
                              word_is_plain(raw(), "reflect");
                if (!spread && v.type() != TYPE_TUPLE && !is_number(v) && !is_point(v)) break;
                cur_.pos++;
            }
            return;
        }
        if (take_word("pattern")) {
            point();
            while (at_point()) point();
            of_type(TYPE_BLOCK);
            tile_mode();
            return;
        }
        if (take_word("bitmap")) {
            of_type(TYPE_IMAGE);
            while (at_point()) point();
            tile_mode();
            return;
        }
        bad();
    }
    void tile_mode() {
        for (const char* mode : {"tile", "flip-x", "flip-y", "flip-xy", "clamp"})
            if (take_word(mode)) return;
    }

    void image_args() {
        of_type(TYPE_IMAGE);
        if (at_point()) point();
        if (at_point()) point();
        if (has() && peek().type() == TYPE_TUPLE) cur_.pos++;
        if (take_word("crop")) {
            point();
            point();
        } else if (take_word("border")) {
            while (at_point()) point();
        }
    }

    // The sub-commands of a shape, words or lit-words.
    void shape_block(const ValueCell& blk) {
        Cursor saved = cur_;
        cur_ = Cursor{blk, series_index(&blk)};
        try {
            while (has()) {
                ValueCell v = raw();
                if (v.type() == TYPE_LIT_WORD) v.set_type(TYPE_WORD);
                if (v.type() != TYPE_WORD) bad();
                cur_.pos++;
                auto is = [&](const char* name) { return word_spelled(&v, name); };
                if (is("move")) {
                    point();
                } else if (is("line") || is("curve") || is("curv") || is("qcurve") || is("qcurv")) {
                    std::vector<Point> pts;
                    points(1, pts);
                } else if (is("hline") || is("vline")) {
                    number();
                } else if (is("arc")) {
                    point();
                    number();
                    number();
                    number();
                    take_word("sweep");
                    take_word("large");
                } else if (!is("close")) {
                    bad_at(cur_.pos - 1);
                }
            }
        } catch (const Invalid&) {
            // The error points at the shape block in the command block.
            cur_ = saved;
            bad_at(cur_.pos - 1);
        }
        cur_ = saved;
    }

    // ---- rasterising ----------------------------------------------------------------------------

    bool inside(i64 x, i64 y) const {
        return t_.screen && x >= clip_.x0 && x < clip_.x1 && y >= clip_.y0 && y < clip_.y1;
    }
    void fill_cell(i64 x, i64 y) {
        if (!inside(x, y)) return;
        int cx = static_cast<int>(x), cy = static_cast<int>(y);
        const TuiCell& c = t_.screen->at(cx, cy);
        restyle(*t_.screen, cx, cy, clip_, ' ', TuiStyle{c.fg, paint_.fill, 0});
    }
    void pen_cell(i64 x, i64 y, u32 cp) {
        if (!inside(x, y)) return;
        int cx = static_cast<int>(x), cy = static_cast<int>(y);
        const TuiCell& c = t_.screen->at(cx, cy);
        if (c.attr & CELL_CONTINUATION) return;
        restyle(*t_.screen, cx, cy, clip_, cp ? cp : c.cp, TuiStyle{paint_.pen, c.bg, c.attr});
    }
    Point absolute(Point p) const { return {p.x + t_.col, p.y + t_.row}; }

    void box(Point a, Point b) {
        if (!t_.screen) return;
        i64 x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
        i64 y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
        if (x0 > t_.clip.x1 - t_.clip.x0 || y0 > t_.clip.y1 - t_.clip.y0 || x1 < 0 || y1 < 0) return;
        x0 = std::max<i64>(x0 + t_.col, t_.col);
        y0 = std::max<i64>(y0 + t_.row, t_.row);
        x1 = std::min<i64>(x1 + t_.col, t_.screen->cols() - 1);
        y1 = std::min<i64>(y1 + t_.row, t_.screen->rows() - 1);
        for (i64 y = std::max<i64>(y0, clip_.y0); y <= y1 && y < clip_.y1; y++)
            for (i64 x = std::max<i64>(x0, clip_.x0); x <= x1 && x < clip_.x1; x++) {
                if (paint_.fill_on) fill_cell(x, y);
                if (!paint_.pen_on) continue;
                bool top = y == y0, bottom = y == y1, left = x == x0, right = x == x1;
                u32 cp = 0;
                if (top && left) cp = 0x250C;
                else if (top && right) cp = 0x2510;
                else if (bottom && left) cp = 0x2514;
                else if (bottom && right) cp = 0x2518;
                else if (left || right) cp = 0x2502;
                else if (top || bottom) cp = 0x2500;
                pen_cell(x, y, cp);
            }
    }

    // Bresenham between two points relative to the origin; cells outside
    // the clip are skipped. The points are moved by the face's origin like
    // every other shape's: taken as window cells, a face's line would land
    // outside the face wherever the face is placed.
    void line(Point a, Point b) {
        if (!t_.screen) return;
        a = absolute(a);
        b = absolute(b);
        if (!clip_segment(a, b)) return;
        i64 dx = std::llabs(b.x - a.x), dy = std::llabs(b.y - a.y);
        i64 sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1;
        i64 err = dx - dy;
        for (;;) {
            pen_cell(a.x, a.y, FULL_BLOCK);
            if (a.x == b.x && a.y == b.y) break;
            i64 e2 = 2 * err;
            if (e2 > -dy) {
                err -= dy;
                a.x += sx;
            }
            if (e2 < dx) {
                err += dx;
                a.y += sy;
            }
        }
    }
    // A segment far outside the clip is cut to the clip's neighbourhood
    // first, so that a walk never takes more steps than the clip is wide.
    // False when it cannot touch the clip.
    bool clip_segment(Point& a, Point& b) const {
        i64 lo_x = clip_.x0 - 1, hi_x = clip_.x1, lo_y = clip_.y0 - 1, hi_y = clip_.y1;
        auto near = [&](const Point& p) { return p.x >= lo_x && p.x <= hi_x && p.y >= lo_y && p.y <= hi_y; };
        if (near(a) && near(b)) return true;
        double t0 = 0, t1 = 1;
        double ax = static_cast<double>(a.x), ay = static_cast<double>(a.y);
        double dx = static_cast<double>(b.x) - ax, dy = static_cast<double>(b.y) - ay;
        auto cut = [&](double p, double q) {
            if (p == 0) return q >= 0;
            double r = q / p;
            if (p < 0) {
                if (r > t1) return false;
                t0 = std::max(t0, r);
            } else {
                if (r < t0) return false;
                t1 = std::min(t1, r);
            }
            return true;
        };
        if (!cut(-dx, ax - static_cast<double>(lo_x)) || !cut(dx, static_cast<double>(hi_x) - ax) ||
            !cut(-dy, ay - static_cast<double>(lo_y)) || !cut(dy, static_cast<double>(hi_y) - ay))
            return false;
        Point na{std::llround(ax + t0 * dx), std::llround(ay + t0 * dy)};
        Point nb{std::llround(ax + t1 * dx), std::llround(ay + t1 * dy)};
        a = na;
        b = nb;
        return true;
    }

    void triangle(Point a, Point b, Point c) {
        if (!t_.screen) return;
        if (paint_.fill_on) {
            Point p[3] = {absolute(a), absolute(b), absolute(c)};
            std::sort(p, p + 3, [](const Point& l, const Point& r) { return l.y < r.y; });
            auto edge_x = [](const Point& u, const Point& v, i64 y) {
                if (u.y == v.y) return static_cast<double>(u.x);
                return static_cast<double>(u.x) + static_cast<double>(y - u.y) * static_cast<double>(v.x - u.x) /
                                                      static_cast<double>(v.y - u.y);
            };
            for (i64 y = std::max<i64>(p[0].y, clip_.y0); y <= p[2].y && y < clip_.y1; y++) {
                double xa = edge_x(p[0], p[2], y);
                double xb = y < p[1].y ? edge_x(p[0], p[1], y) : edge_x(p[1], p[2], y);
                if (p[0].y == p[1].y && y == p[0].y) xb = static_cast<double>(p[1].x), xa = static_cast<double>(p[0].x);
                i64 from = std::llround(std::min(xa, xb)), to = std::llround(std::max(xa, xb));
                for (i64 x = std::max<i64>(from, clip_.x0); x <= to && x < clip_.x1; x++) fill_cell(x, y);
            }
        }
        if (paint_.pen_on) {
            line(a, b);
            line(b, c);
            line(c, a);
        }
    }

    // Midpoint ellipse around c (relative) with radii a and b: spans filled
    // first, then the outline over them.
    void ellipse(Point c, i64 a, i64 b) {
        if (!t_.screen || a > MAX_RADIUS || b > MAX_RADIUS || a < 0 || b < 0) return;
        c = absolute(c);
        auto walk = [&](auto plot) {
            double a2 = static_cast<double>(a * a), b2 = static_cast<double>(b * b);
            i64 x = 0, y = b;
            double dx = 0, dy = 2 * a2 * static_cast<double>(y);
            double d1 = b2 - a2 * static_cast<double>(b) + 0.25 * a2;
            while (dx < dy) {
                plot(x, y);
                x++;
                dx += 2 * b2;
                if (d1 < 0) {
                    d1 += dx + b2;
                } else {
                    y--;
                    dy -= 2 * a2;
                    d1 += dx - dy + b2;
                }
            }
            double xh = static_cast<double>(x) + 0.5, ym = static_cast<double>(y - 1);
            double d2 = b2 * xh * xh + a2 * ym * ym - a2 * b2;
            while (y >= 0) {
                plot(x, y);
                y--;
                dy -= 2 * a2;
                if (d2 > 0) {
                    d2 += a2 - dy;
                } else {
                    x++;
                    dx += 2 * b2;
                    d2 += dx - dy + a2;
                }
            }
        };
        if (paint_.fill_on)
            walk([&](i64 x, i64 y) {
                for (i64 row : {c.y - y, c.y + y})
                    for (i64 col = std::max<i64>(c.x - x, clip_.x0); col <= c.x + x && col < clip_.x1; col++)
                        fill_cell(col, row);
            });
        if (paint_.pen_on)
            walk([&](i64 x, i64 y) {
                pen_cell(c.x - x, c.y - y, FULL_BLOCK);
                pen_cell(c.x + x, c.y - y, FULL_BLOCK);
                pen_cell(c.x - x, c.y + y, FULL_BLOCK);
                pen_cell(c.x + x, c.y + y, FULL_BLOCK);
            });
    }

    u32 text_color() const {
        if (paint_.text_set) return paint_.text;
        return paint_.pen_on ? paint_.pen : COLOR_DEFAULT;
    }

    // Text goes into a scratch buffer the size of the clip, then onto the
    // cells it wrote, keeping their background where the text set none.
    template <typename Draw>
    void through_scratch(Draw draw) {
        if (!t_.screen || clip_.empty()) return;
        TuiScreen scratch;
        scratch.resize(clip_.x1 - clip_.x0, clip_.y1 - clip_.y0);
        draw(scratch, -clip_.x0, -clip_.y0);
        for (int y = 0; y < scratch.rows(); y++)
            for (int x = 0; x < scratch.cols(); x++) {
                TuiCell cell = scratch.at(x, y);
                // Continuation cells come with their leading character.
                if (!cell.cp) continue;
                int sx = x + clip_.x0, sy = y + clip_.y0;
                if (!cell.bg) cell.bg = t_.screen->at(sx, sy).bg;
                t_.screen->put(sx, sy, cell.cp, TuiStyle{cell.fg, cell.bg, cell.attr}, clip_);
            }
    }

    void text(Point at, const ValueCell& s) {
        std::string utf8 = string_utf8(&s);
        Point p = absolute(at);
        if (p.x < -100000 || p.x > 100000 || p.y < -100000 || p.y > 100000) return;
        TuiPen pen{PEN_ESCAPES, 0, text_color(), COLOR_DEFAULT};
        through_scratch([&](TuiScreen& scratch, int dx, int dy) {
            write_text(scratch, static_cast<int>(p.x) + dx, static_cast<int>(p.y) + dy, utf8, pen,
                       scratch.bounds());
        });
    }

    // A rich-text face: its cells, aligned by its para in its size.
    void rich(Point at, const ValueCell& face) {
        Point p = absolute(at);
        if (p.x < -100000 || p.x > 100000 || p.y < -100000 || p.y > 100000) return;
        std::vector<TuiCell> cells = rich_layout(&face);
        u32 align = para_align(facet(&face, Facet::para));
        int w = 0, h = 0;
        if (const ValueCell* size = facet(&face, Facet::size); size && is_point(*size)) {
            Point s = point_of(*size);
            w = static_cast<int>(std::clamp<i64>(s.x, 0, 100000));
            h = static_cast<int>(std::clamp<i64>(s.y, 0, 100000));
        }
        u32 fg = text_color();
        through_scratch([&](TuiScreen& scratch, int dx, int dy) {
            int x = static_cast<int>(p.x) + dx, y = static_cast<int>(p.y) + dy;
            TuiRect box{x, y, x + w, y + h};
            if (w == 0 || h == 0) box = TuiRect{x, y, scratch.cols(), scratch.rows()};
            write_rich(scratch, box, cells, align, scratch.bounds(), fg);
        });
    }

    // The command a value names, or Cmd::none.
    Cmd command_of(const ValueCell& v) const {
        if (v.type() != TYPE_WORD) return Cmd::none;
        u32 sym = symbol_resolve(word_symbol(&v));
        for (size_t i = 0; i < kCommandCount; i++)
            if (symbols_[i] == sym) return static_cast<Cmd>(i);
        return Cmd::none;
    }
    bool is_command(const ValueCell& v) const { return command_of(v) != Cmd::none; }

    DrawTarget t_;
    TuiRect clip_;
    u32 symbols_[kCommandCount];
    Paint paint_;
    Cursor cur_{ValueCell{0, 0, 0, 0}, 0};
    std::vector<Node> active_;
};

void r_draw_image() {
    ValueCell image = *stack_arg(0);
    ValueCell cmds = *stack_arg(1);
    none_box(stack_result());
    if (image_width(&image) == 0 || image_height(&image) == 0) return;
    draw_commands(DrawTarget{nullptr, 0, 0, TuiRect{0, 0, static_cast<int>(image_width(&image)),
                                                    static_cast<int>(image_height(&image))}},
                  cmds);
    // Index and part -1: the whole image changed.
    series_announce(&image, g_words.n.poke, nullptr, -1, -1);
    none_box(stack_result());
}

void r_draw_face() { none_box(stack_result()); }
}  // namespace

void draw_commands(const DrawTarget& target, ValueCell block) {
    if (block.type() != TYPE_BLOCK) return;
    DrawRun run(target);
    run.block(block, 0);
}

void tui_draw_register() {
    routine_table_register("draw-image", r_draw_image);
    routine_table_register("draw-face", r_draw_face);
}

}  // namespace zan::gui
