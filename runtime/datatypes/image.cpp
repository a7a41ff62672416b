// image!: the cell, pixel access, positions, channels, make and to,
// navigation, pick, poke and paths. Text forms and compare are in
// image_text.cpp, copy and change in image_rect.cpp, codecs in
// image_codec.cpp.
#include "runtime/datatypes/image.h"

#include <cstring>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/image_internal.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {
// The value pick answers with (a tuple or none).
ValueCell g_image_pick{TYPE_NONE, 0, 0, 0};

u32 side_of(i32 v, const ValueCell* spec) {
    if (v < 0) return 0;
    if (static_cast<u32>(v) > IMAGE_MAX_SIDE) fire(Err::script_invalid_arg, spec);
    return static_cast<u32>(v);
}
}  // namespace

// ---- cells and pixels ----------------------------------------------------------------------

u32* image_words(const ValueCell* v) {
    ImagePixels* p = image_store_get(image_slot(v));
    return p ? p->words : nullptr;
}

ValueCell* image_make_at(ValueCell* cell, u32 slot, u32 width, u32 height) {
    u32 nl = cell->header & CELL_NEW_LINE;
    cell_init(cell, TYPE_IMAGE, 0, slot, (width & 0xFFFFu) | (height << 16));
    cell->header |= nl;
    return cell;
}

ValueCell* image_push_new(u32 width, u32 height, u32 fill) {
    u32 slot = width && height ? image_store_new(width, height, fill) : IMAGE_NO_SLOT;
    return image_make_at(stack_push_cell(), slot, width, height);
}

ValueCell* image_push_adopted(u32 width, u32 height, u32* words) {
    u32 slot = image_store_adopt(width, height, words);
    return image_make_at(stack_push_cell(), slot, width, height);
}

u32 image_pixel_of_tuple(const ValueCell* t) {
    u32 a = tuple_size(t) >= 4 ? 255 - tuple_byte(t, 4) : 255;
    return (a << 24) | (tuple_byte(t, 1) << 16) | (tuple_byte(t, 2) << 8) | tuple_byte(t, 3);
}

ValueCell* image_tuple_of_pixel(ValueCell* cell, u32 p) {
    return tuple_make_rgba(cell, (p >> 16) & 255, (p >> 8) & 255, p & 255, 255 - (p >> 24));
}

bool image_get_pixel(const ValueCell* image, u32 index, u32* pixel) {
    u32* w = image_words(image);
    if (!w || index >= image_count(image)) return false;
    *pixel = w[index];
    return true;
}

bool image_set_pixel(ValueCell* image, u32 index, u32 pixel) {
    u32* w = image_words(image);
    if (!w || index >= image_count(image)) return false;
    w[index] = pixel;
    return true;
}

u32 image_clamped_head(const ValueCell* v) {
    u32 n = image_count(v);
    return image_head(v) > n ? n : image_head(v);
}

// ---- positions -----------------------------------------------------------------------------

u32 image_offset_of(const ValueCell* image, const ValueCell* pos, i32 base, bool* out_of_range) {
    i64 w = image_width(image), h = image_height(image);
    i64 offset;
    bool outside = false;
    if (pos->type() == TYPE_PAIR) {
        i64 x = pair_x(pos), y = pair_y(pos);
        i64 row = base == 1 && y > 0 ? y - 1 : y;
        offset = row * w + x;
        outside = base == 1 ? (x < 1 || x > w || y < 1 || y > h)
                            : (x < 0 || x >= w || y < 0 || y >= h);
    } else if (pos->type() == TYPE_INTEGER) {
        offset = dt::int_get(pos);
    } else {
        fire(Err::script_invalid_arg, pos);
    }
    if (base == 1 && offset <= 0) base = 0;
    i64 count = w * h;
    i64 index = i64(image_head(image)) + offset - base;
    if (index < 0) {
        index = 0;
        offset = 0;
    } else if (index >= count) {
        index = count;
        offset = 0;
    }
    if (offset == 0) outside = true;
    if (out_of_range) *out_of_range = outside;
    return static_cast<u32>(index);
}

// ---- channels ------------------------------------------------------------------------------

ValueCell* image_extract_channels(const ValueCell* image, i32 mode) {
    u32 n = image_count(image);
    u32 per = mode == IMAGE_ALPHA ? 1 : mode == IMAGE_RGB ? 3 : 4;
    ValueCell* out = binary_push_new(n * per + 1);
    const u32* w = image_words(image);
    if (!w) return out;
    std::vector<u8> bytes(size_t(n) * per);
    u8* p = bytes.data();
    for (u32 i = 0; i < n; i++) {
        u32 px = w[i];
        if (mode == IMAGE_ALPHA) {
            *p++ = static_cast<u8>(255 - (px >> 24));
        } else if (mode == IMAGE_RGB) {
            *p++ = static_cast<u8>(px >> 16), *p++ = static_cast<u8>(px >> 8), *p++ = static_cast<u8>(px);
        } else {
            std::memcpy(p, &px, 4);
            p += 4;
        }
    }
    binary_append_bytes(out, bytes.data(), static_cast<u32>(bytes.size()));
    return out;
}

void image_set_channels(ValueCell* image, const ValueCell* value, i32 mode) {
    u32 t = value->type();
    if (t != TYPE_BINARY && t != TYPE_TUPLE && t != TYPE_INTEGER)
        fire(Err::script_invalid_arg, value);
    u32* w = image_words(image);
    if (!w) return;
    u32 n = image_count(image);
    if (t == TYPE_BINARY) {
        const u8* b = binary_head_ptr(value);
        u32 len = static_cast<u32>(binary_length(value));
        u32 per = mode == IMAGE_ALPHA ? 1 : mode == IMAGE_RGB ? 3 : 4;
        u32 m = std::min(n, len / per);
        for (u32 i = 0; i < m; i++, b += per) {
            if (mode == IMAGE_ALPHA) w[i] = (w[i] & 0x00FFFFFFu) | (u32(255 - b[0]) << 24);
            else if (mode == IMAGE_RGB) w[i] = (w[i] & 0xFF000000u) | (u32(b[0]) << 16) | (u32(b[1]) << 8) | b[2];
            else std::memcpy(&w[i], b, 4);
        }
    } else {
        // The colour's bytes R, G, B, T from the lowest byte up.
        u32 r, g, b, tr;
        if (t == TYPE_TUPLE) {
            r = tuple_byte(value, 1), g = tuple_byte(value, 2), b = tuple_byte(value, 3);
            tr = tuple_size(value) >= 4 ? tuple_byte(value, 4) : 0;
        } else {
            u32 v = static_cast<u32>(dt::int_get(value));
            r = v & 255, g = (v >> 8) & 255, b = (v >> 16) & 255, tr = v >> 24;
        }
        u32 rgb = (r << 16) | (g << 8) | b;
        for (u32 i = 0; i < n; i++) {
            if (mode == IMAGE_ARGB) w[i] = ((255 - tr) << 24) | rgb;
            else if (mode == IMAGE_RGB) w[i] = (w[i] & 0xFF000000u) | rgb;
            else w[i] = (w[i] & 0x00FFFFFFu) | ((255 - r) << 24);
        }
    }
    series_announce(image, g_words.n.poke, value, 0, static_cast<i32>(n));
}

// ---- make and to ---------------------------------------------------------------------------

namespace {
ValueCell* make_from_block(ValueCell* spec) {
    i32 len = block_length(spec);
    ValueCell* v = block_head_ptr(spec);
    ValueCell size = v[0];
    if (size.type() != TYPE_PAIR) fire(Err::script_invalid_arg, &size);
    ValueCell data = len > 1 ? v[1] : g_none_cell;
    ValueCell alpha = len > 2 ? v[2] : g_none_cell;
    if (len > 1 && data.type() != TYPE_BINARY && data.type() != TYPE_TUPLE)
        fire(Err::script_invalid_arg, &data);
    if (len > 2 && alpha.type() != TYPE_BINARY) fire(Err::script_invalid_arg, &alpha);
    u32 w = side_of(pair_x(&size), &size), h = side_of(pair_y(&size), &size);
    if (data.type() == TYPE_TUPLE) return image_push_new(w, h, image_pixel_of_tuple(&data));
    ValueCell* img = image_push_new(w, h, 0xFFFFFFFFu);
    u32* words = image_words(img);
    if (!words) return img;
    u32 n = w * h;
    const u8* rgb = data.type() == TYPE_BINARY ? binary_head_ptr(&data) : nullptr;
    u32 triples = rgb ? static_cast<u32>(binary_length(&data)) / 3 : 0;
    const u8* a = alpha.type() == TYPE_BINARY ? binary_head_ptr(&alpha) : nullptr;
    u32 alphas = a ? static_cast<u32>(binary_length(&alpha)) : 0;
    for (u32 i = 0; i < n; i++) {
        u32 px = 0x00FFFFFFu;
        if (i < triples) px = (u32(rgb[i * 3]) << 16) | (u32(rgb[i * 3 + 1]) << 8) | rgb[i * 3 + 2];
        u32 op = i < alphas ? 255u - a[i] : 255u;
        words[i] = (op << 24) | px;
    }
    return img;
}
}  // namespace

namespace {
// Whether an object has the fields every face has.
bool face_like(const ValueCell* v) {
    if (v->type() != TYPE_OBJECT) return false;
    for (const char* name : {"type", "offset", "size", "parent", "pane", "state", "para", "font", "actors"}) {
        ValueCell word;
        word_make_at(symbol_make(name), &word);
        if (object_find_word(v, &word) < 0) return false;
    }
    return true;
}
}  // namespace

ValueCell* image_to(ValueCell*, ValueCell* spec, u32) {
    if (spec->type() == TYPE_IMAGE) {
        ValueCell* fresh = unset_push();
        return image_copy(spec, fresh, nullptr, false, nullptr);
    }
    // The terminal captures no image of a face: the result is none.
    if (face_like(spec)) {
        ValueCell* none = unset_push();
        none_box(none);
        return none;
    }
    fire(Err::script_bad_to_arg, datatype_push(TYPE_IMAGE), spec);
}

ValueCell* image_make(ValueCell* proto, ValueCell* spec, u32 type) {
    if (spec->type() == TYPE_BLOCK && block_length(spec) == 0) {
        if (proto->type() != TYPE_IMAGE) fire(Err::script_invalid_arg, spec);
        return image_to(nullptr, proto, type);
    }
    if (spec->type() == TYPE_PAIR)
        return image_push_new(side_of(pair_x(spec), spec), side_of(pair_y(spec), spec), 0xFFFFFFFFu);
    if (spec->type() == TYPE_BLOCK) return make_from_block(spec);
    return image_to(proto, spec, type);
}

// ---- navigation ----------------------------------------------------------------------------

namespace {
void image_at() {
    ValueCell* s = stack_arg(0);
    image_set_head(s, image_offset_of(s, stack_arg(1), 1, nullptr));
}
void image_skip() {
    ValueCell* s = stack_arg(0);
    image_set_head(s, image_offset_of(s, stack_arg(1), 0, nullptr));
}
void image_next() {
    ValueCell* s = stack_arg(0);
    if (image_head(s) < image_count(s)) image_set_head(s, image_head(s) + 1);
}
void image_tail() { image_set_head(stack_arg(0), image_count(stack_arg(0))); }
void image_tail_q() { logic_set_result(image_head(stack_arg(0)) >= image_count(stack_arg(0))); }
i32 image_length_q(ValueCell* s) { return static_cast<i32>(image_count(s)); }

// ---- pick, poke and paths ------------------------------------------------------------------

ValueCell* image_pick(ValueCell* s, i32, ValueCell* position) {
    bool outside = false;
    u32 index = image_offset_of(s, position, 1, &outside);
    u32 px;
    if (outside || !image_get_pixel(s, index, &px)) {
        g_image_pick = g_none_cell;
        return &g_image_pick;
    }
    return image_tuple_of_pixel(&g_image_pick, px);
}

ValueCell* image_poke(ValueCell* s, i32, ValueCell* value, ValueCell* position) {
    bool outside = false;
    u32 index = image_offset_of(s, position, 1, &outside);
    if (outside || index >= image_count(s)) fire(Err::script_out_of_range, position);
    if (value->type() != TYPE_TUPLE) fire(Err::script_invalid_arg, value);
    image_set_pixel(s, index, image_pixel_of_tuple(value));
    series_announce(s, g_words.n.poke, value, static_cast<i32>(index), 1);
    return value;
}

ValueCell* image_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell*, ValueCell*, i32, bool, bool, bool, bool) {
    u32 t = element->type();
    if (t == TYPE_INTEGER || t == TYPE_PAIR) {
        if (!value) return image_pick(parent, 0, element);
        return image_poke(parent, 0, value, element);
    }
    ValueCell* where = path ? path : parent;
    if (t == TYPE_WORD) {
        i32 mode = scalar_word_is(element, g_sym.rgb)     ? IMAGE_RGB
                   : scalar_word_is(element, g_sym.alpha) ? IMAGE_ALPHA
                   : scalar_word_is(element, g_sym.argb)  ? IMAGE_ARGB
                                                          : -1;
        if (mode >= 0) {
            if (!value) return image_extract_channels(parent, mode);
            image_set_channels(parent, value, mode);
            return value;
        }
        if (scalar_word_is(element, g_sym.size) && !value)
            return pair_push(static_cast<i32>(image_width(parent)),
                             static_cast<i32>(image_height(parent)));
    }
    fire(Err::script_invalid_path, where, element);
}
}  // namespace

void image_init() {
    image_store_init();
    ActionRow row;
    row.set<ACT_MAKE>(image_make)
        .set<ACT_TO>(image_to)
        .set<ACT_FORM>(image_form)
        .set<ACT_MOLD>(image_mold)
        .set<ACT_EVAL_PATH>(image_eval_path)
        .set<ACT_COMPARE>(image_compare)
        .set<ACT_AT>(image_at)
        .set<ACT_NEXT>(image_next)
        .set<ACT_SKIP>(image_skip)
        .set<ACT_TAIL>(image_tail)
        .set<ACT_TAIL_Q>(image_tail_q)
        .set<ACT_LENGTH_Q>(image_length_q)
        .set<ACT_PICK>(image_pick)
        .set<ACT_POKE>(image_poke)
        .set<ACT_CHANGE>(image_change)
        .set<ACT_COPY>(image_copy)
        .inherit({ACT_BACK, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_MODIFY});
    datatype_register(TYPE_IMAGE, row);
}

}  // namespace zan
