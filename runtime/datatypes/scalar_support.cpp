// Settings, path change reports and conversions shared by the scalar types.
#include "runtime/datatypes/scalar_support.h"

#include <cfloat>
#include <cmath>

#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

ValueCell* system_setting(std::initializer_list<const char*> names) {
    if (!g_global_ctx || g_sym.system == 0) return nullptr;
    // Intern every name first: interning may allocate and move buffers,
    // the walk below holds addresses of value cells.
    u32 symbols[8];
    u32 n = 0;
    for (const char* name : names) {
        if (n == 8) return nullptr;
        symbols[n++] = symbol_make(name);
    }
    ValueCell* v = global_value_ptr(g_sym.system);
    for (u32 i = 0; i < n; i++) {
        if (!v || v->type() != TYPE_OBJECT) return nullptr;
        v = context_find_value_ptr(symbols[i], context_of(v));
    }
    return v;
}

void scalar_path_changed(ValueCell* holder, ValueCell* holder_item, const ValueCell* old_value,
                         ValueCell* parent, bool notify) {
    if (!notify || !holder) return;
    u32 ht = holder->type();
    if (ht == TYPE_OBJECT) {
        if (!holder_item) return;
        ValueCell* old_cell = stack_push(old_value);
        ValueCell* new_cell = stack_push(parent);
        ValueCell owner = *holder;
        ValueCell word = *holder_item;
        g_services.object_fire_on_change(&owner, &word, old_cell, new_cell);
        stack_pop(2);
        return;
    }
    if (!type_series(ht)) return;
    i32 index = series_index(holder);
    if (type_block_like(ht)) {
        SeriesBuffer* b = series_buffer(holder);
        ValueCell* head = b->head_cells();
        ValueCell* tail = head + b->used_bytes() / sizeof(ValueCell);
        if (parent >= head && parent < tail) index = static_cast<i32>(parent - head);
    }
    ValueCell value = *parent;
    series_announce(holder, g_words.n.set_path, &value, index, 1);
}

u32 scalar_word_key(const ValueCell* cell) {
    if (!any_word_type_q(cell->type())) return 0;
    return symbol_resolve(word_symbol(cell));
}

bool scalar_word_is(const ValueCell* cell, u32 symbol) {
    return symbol != 0 && scalar_word_key(cell) == symbol_resolve(symbol);
}

i32 float_to_i32_or(double d, i32 fallback) {
    if (std::isnan(d) || d >= 2147483648.0 || d <= -2147483649.0) return fallback;
    return static_cast<i32>(d);
}

float float_to_f32(double d) {
    if (std::isnan(d)) return static_cast<float>(d);
    // FLT_MAX plus half a unit in the last place: from there on IEEE
    // rounding gives an infinity.
    constexpr double kOverflow = 0x1.ffffffp127;
    if (d >= kOverflow) return INFINITY;
    if (d <= -kOverflow) return -INFINITY;
    return static_cast<float>(d);
}

}  // namespace zan
