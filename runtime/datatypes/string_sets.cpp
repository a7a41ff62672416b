// The set operations on text (and binary!): records of one or more units,
// deduplicated by their first unit, case folded unless asked otherwise.
#include "runtime/core/case_folding.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block_search.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string_search.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {
// Buffers are re-read at every access: appending to the result allocates.
u32 unit_at(const ValueCell* s, i32 i) {
    SeriesBuffer* b = series_of(s);
    return unicode_get_unit(b->head_ptr() + static_cast<u64>(i) * b->unit(), b->unit());
}

void clamp_index(ValueCell* s) {
    i32 len = series_buffer_length(s);
    if (series_index(s) > len) series_set_index(s, len);
    if (series_index(s) < 0) series_set_index(s, 0);
}

// Whether a unit equal to cp stands at a record start (every step units
// from the index) of s.
bool has_at_records(const ValueCell* s, u32 cp, i32 step, bool fold) {
    i32 len = series_buffer_length(s);
    u32 want = fold ? case_fold_fast(cp) : cp;
    for (i32 i = series_index(s); i < len; i += step) {
        u32 c = unit_at(s, i);
        if ((fold ? case_fold_fast(c) : c) == want) return true;
    }
    return false;
}

enum class Test { none, member, non_member };

void take_records(ValueCell* result, const ValueCell* src, const ValueCell* other, Test test,
                  i32 record, bool fold) {
    for (i32 i = series_index(src); i < series_buffer_length(src); i += record) {
        u32 first = unit_at(src, i);
        if (test != Test::none &&
            has_at_records(other, first, record, fold) != (test == Test::member))
            continue;
        if (has_at_records(result, first, record, fold)) continue;
        i32 end = i + record < series_buffer_length(src) ? i + record : series_buffer_length(src);
        for (i32 k = i; k < end; k++)
            string_append_char(series_of(result), unit_at(src, k));
    }
}
}  // namespace

ValueCell* string_set_op(ValueCell* a, ValueCell* b, bool case_sensitive, ValueCell* skip, i32 op) {
    u32 ta = a->type();
    if (!type_string_like(ta) && ta != TYPE_BINARY) fire(Err::script_invalid_arg, a);
    if (op != SET_OP_UNIQUE && !(type_string_like(b->type()) || b->type() == TYPE_BINARY))
        fire(Err::script_invalid_arg, b);
    i32 record = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER || dt::int_get(skip) < 1)
            fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
        record = dt::int_get(skip);
    }
    ValueCell* sa = stack_push(a);
    ValueCell* sb = op == SET_OP_UNIQUE ? nullptr : stack_push(b);
    clamp_index(sa);
    if (sb) clamp_index(sb);
    i64 room = series_buffer_length(sa) - series_index(sa);
    if (op == SET_OP_UNION) room += series_buffer_length(sb) - series_index(sb);
    if (room > 0x7FFFFFF0) fire(Err::internal_no_memory);
    ValueCell* result = string_push_new(room < 1 ? 1u : static_cast<u32>(room));
    bool fold = type_string_like(ta) && !case_sensitive;
    switch (op) {
        case SET_OP_UNIQUE: take_records(result, sa, nullptr, Test::none, record, fold); break;
        case SET_OP_UNION:
            take_records(result, sa, nullptr, Test::none, record, fold);
            take_records(result, sb, nullptr, Test::none, record, fold);
            break;
        case SET_OP_INTERSECT: take_records(result, sa, sb, Test::member, record, fold); break;
        case SET_OP_EXCLUDE: take_records(result, sa, sb, Test::non_member, record, fold); break;
        case SET_OP_DIFFERENCE:
            take_records(result, sa, sb, Test::non_member, record, fold);
            take_records(result, sb, sa, Test::non_member, record, fold);
            break;
        default: fire(Err::script_invalid_arg, a);
    }
    ValueCell r = *result;
    cell_set_type(&r, ta);
    stack_pop(sb ? 3 : 2);
    return stack_push(&r);
}

}  // namespace zan
