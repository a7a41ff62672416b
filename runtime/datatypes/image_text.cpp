// image!: form, mold and compare.
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/image_internal.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/string.h"

namespace zan {

namespace {
constexpr char kHex[] = "0123456789ABCDEF";

// Writes text and charges it to the budget.
i32 put(ValueCell* out, const std::string& text, i32 limit) {
    string_append_cstr(out, text.c_str());
    return limit - static_cast<i32>(text.size());
}

i32 line_break(ValueCell* out, i32 level, i32 limit) {
    limit = put(out, "\n", limit);
    return mold_indent(out, level < 0 ? 0 : level, limit);
}

// The construction syntax of both form and mold, at indentation `level`.
i32 mold_body(ValueCell* v, ValueCell* out, bool only, bool flat, bool limited, i32 limit,
              i32 level) {
    auto spent = [&] { return limited && limit <= 0; };
    if (!only) limit = put(out, "make image! [", limit);
    limit = put(out, std::to_string(image_width(v)) + "x" + std::to_string(image_height(v)), limit);
    const u32* words = image_words(v);
    if (!words) return put(out, only ? " #{}" : " #{}]", limit);
    u32 head = image_clamped_head(v), n = image_count(v) - head;
    bool long_run = u64(n) * 4 > 30;
    limit = put(out, " #{", limit);
    if (!flat && long_run) limit = line_break(out, level, limit);
    bool translucent = false;
    std::string cell(6, ' ');
    for (u32 i = 0; i < n && !spent(); i++) {
        u32 px = words[head + i];
        if ((px >> 24) != 255) translucent = true;
        for (int k = 0; k < 6; k++) cell[k] = kHex[(px >> (20 - 4 * k)) & 15];
        limit = put(out, cell, limit);
        if (!flat && (i + 1) % 10 == 0 && i + 1 < n) limit = line_break(out, level, limit);
    }
    if (spent()) return limit;
    if (!flat && long_run) limit = line_break(out, level - 1, limit);
    limit = put(out, "}", limit);
    if (translucent) {
        limit = put(out, " #{", limit);
        if (!flat) limit = line_break(out, level, limit);
        char byte[3] = {0, 0, 0};
        for (u32 i = 0; i < n && !spent(); i++) {
            u32 t = 255 - (words[head + i] >> 24);
            byte[0] = kHex[t >> 4], byte[1] = kHex[t & 15];
            limit = put(out, byte, limit);
            if (!flat && (i + 1) % 10 == 0 && i + 1 < n) limit = line_break(out, level, limit);
        }
        if (spent()) return limit;
        if (!flat) limit = line_break(out, level - 1, limit);
        limit = put(out, "}", limit);
    }
    if (!only) limit = put(out, "]", limit);
    return limit;
}
}  // namespace

i32 image_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    return mold_body(value, out, false, false, arg_limit != nullptr, limit, 0);
}

i32 image_mold(ValueCell* value, ValueCell* out, bool only, bool, bool flat, ValueCell* arg_limit,
               i32 limit, i32 indent) {
    return mold_body(value, out, only, flat, arg_limit != nullptr, limit, indent + 1);
}

// Two images are the same when they share the buffer and the head. Equal
// images have the same size, head and pixels.
i32 image_compare(ValueCell* a, ValueCell* b, i32 op) {
    if (b->type() != TYPE_IMAGE) return CMP_NOT_COMPARABLE;
    bool same = image_slot(a) == image_slot(b) && image_head(a) == image_head(b) &&
                image_width(a) == image_width(b) && image_height(a) == image_height(b);
    if (op == CMP_SAME) return same ? 0 : -1;
    bool equality = op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL ||
                    op == CMP_SORT || op == CMP_SORT_CASE || op == CMP_FIND;
    if (!equality) return CMP_NOT_COMPARABLE;
    if (same) return 0;
    auto order = [](u32 x, u32 y) { return x < y ? -1 : x > y ? 1 : 0; };
    if (i32 c = order(image_count(a), image_count(b))) return c;
    if (i32 c = order(image_width(a), image_width(b))) return c;
    if (i32 c = order(image_clamped_head(a), image_clamped_head(b))) return c;
    const u32* wa = image_words(a);
    const u32* wb = image_words(b);
    if (!wa || !wb) return order(wa != nullptr, wb != nullptr);
    i32 c = std::memcmp(wa, wb, size_t(image_count(a)) * 4);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace zan
