// image!: copy (whole, from the head, or a rectangle by /part) and change
// (a pixel from a tuple, a rectangle from another image).
#include <algorithm>
#include <cstring>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/image_internal.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {
struct Rect {
    i64 x, y, w, h;
};

// The cut of the source's rectangle into result (an image without pixels
// when the rectangle is empty).
ValueCell* crop_into(const ValueCell* src, Rect r, ValueCell* result) {
    if (r.w <= 0 || r.h <= 0) return image_make_at(result, IMAGE_NO_SLOT, 0, 0);
    u32 w = static_cast<u32>(r.w), h = static_cast<u32>(r.h);
    u32 slot = image_store_new(w, h, 0);
    const u32* from = image_words(src);
    u32* to = image_store_get(slot)->words;
    u32 sw = image_width(src);
    for (u32 row = 0; row < h; row++)
        std::memcpy(to + size_t(row) * w, from + size_t(r.y + row) * sw + r.x, size_t(w) * 4);
    return image_make_at(result, slot, w, h);
}

// The rectangle a /part pair spans from the head (x0, y0).
Rect part_pair_rect(const ValueCell* v, i64 x0, i64 y0, i64 pw, i64 ph) {
    i64 W = image_width(v), H = image_height(v);
    Rect none{0, 0, 0, 0};
    if (pw > 0 && ph > 0) {
        if (y0 >= H) return none;
        return {x0, y0, std::min(pw, W - x0), std::min(ph, H - y0)};
    }
    if (pw < 0 && ph < 0) {
        if (image_clamped_head(v) == 0) return none;
        // The rectangle ends just before the head; a head at the start of
        // a row ends it at the right edge of the row above.
        if (x0 == 0) x0 = W, y0 -= 1;
        y0 = std::min(y0, H - 1);
        i64 left = std::max<i64>(0, x0 + pw), top = std::max<i64>(0, y0 + 1 + ph);
        return {left, top, x0 - left, y0 + 1 - top};
    }
    // Mixed signs: the rectangle the head and the head plus the pair span,
    // clipped to the image.
    i64 xa = std::clamp<i64>(std::min(x0, x0 + pw), 0, W), xb = std::clamp<i64>(std::max(x0, x0 + pw), 0, W);
    i64 ya = std::clamp<i64>(std::min(y0, y0 + ph), 0, H), yb = std::clamp<i64>(std::max(y0, y0 + ph), 0, H);
    return {xa, ya, xb - xa, yb - ya};
}
}  // namespace

ValueCell* image_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool, ValueCell*) {
    i64 W = image_width(value), H = image_height(value);
    if (W == 0 || H == 0 || !image_words(value)) {
        if (part && part->type() == TYPE_INTEGER) fire(Err::internal_not_done);
        return image_make_at(fresh, IMAGE_NO_SLOT, static_cast<u32>(W), static_cast<u32>(H));
    }
    i64 head = image_clamped_head(value);
    i64 x0 = head % W, y0 = head / W;
    Rect r{0, 0, W, H};
    if (!part) {
        if (head) r = {x0, y0, W - x0, H - y0};
    } else if (part->type() == TYPE_PAIR) {
        r = part_pair_rect(value, x0, y0, pair_x(part), pair_y(part));
    } else if (part->type() == TYPE_INTEGER) {
        fire(Err::internal_not_done);
    } else if (part->type() == TYPE_IMAGE && image_slot(part) == image_slot(value)) {
        i64 other = image_clamped_head(part);
        i64 a = std::min(head, other), b = std::max(head, other);
        i64 xa = a % W, ya = a / W, xb = b % W, yb = b / W;
        // A later position at the start of a row (the tail too) ends the
        // rows above at the right edge.
        if (xb == 0 && yb > ya) xb = W;
        r = {std::min(xa, xb), ya, std::abs(xb - xa), yb - ya};
    } else {
        ValueCell held = *part;
        fire(Err::script_invalid_refine_arg, g_refinements.part, &held);
    }
    if (r.x == 0 && r.y == 0 && r.w == W && r.h == H) r = {0, 0, W, H};
    return crop_into(value, r, fresh);
}

void image_change(ValueCell* series, ValueCell* value, i32 part, bool, i32 dup) {
    if (part != -1 || dup > 1) fire(Err::internal_not_done);
    u32 head = image_clamped_head(series);
    u32 count = image_count(series);
    if (value->type() == TYPE_TUPLE) {
        if (head >= count) return;
        series_announce(series, g_words.n.change, value, static_cast<i32>(head), 1);
        image_set_pixel(series, head, image_pixel_of_tuple(value));
        image_set_head(series, head + 1);
        series_announce(series, g_words.n.changed, value, static_cast<i32>(head), 1);
        return;
    }
    if (value->type() != TYPE_IMAGE) fire(Err::script_invalid_type, datatype_push(value->type()));
    if (head >= count) return;
    u32 W = image_width(series), H = image_height(series);
    u32 x0 = head % W, y0 = head / W;
    u32 sw = image_width(value), sh = image_height(value);
    const u32* from = image_words(value);
    u32* to = image_words(series);
    u32 cols = std::min(sw, W - x0), rows = std::min(sh, H - y0);
    if (!from || !to || cols == 0 || rows == 0) return;
    series_announce(series, g_words.n.change, value, static_cast<i32>(head), static_cast<i32>(cols * rows));
    // Rows of the source may be the target's own: memmove keeps them whole.
    if (from == to && y0 > 0) {
        for (u32 r = rows; r-- > 0;)
            std::memmove(to + size_t(y0 + r) * W + x0, from + size_t(r) * sw, size_t(cols) * 4);
    } else {
        for (u32 r = 0; r < rows; r++)
            std::memmove(to + size_t(y0 + r) * W + x0, from + size_t(r) * sw, size_t(cols) * 4);
    }
    image_set_head(series, (y0 + rows - 1) * W + std::min(x0 + sw, W));
    series_announce(series, g_words.n.changed, value, static_cast<i32>(head), static_cast<i32>(cols * rows));
}

}  // namespace zan
