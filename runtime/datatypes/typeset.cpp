// typeset!: sets of datatypes for argument checks, their construction from
// type lists, set operations, comparison and text form.
#include "runtime/datatypes/typeset.h"

#include <bit>
#include <cstring>

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"

namespace zan {

ValueCell* typeset_push(u32 w1, u32 w2, u32 w3) {
    return typeset_make_at(stack_push_cell(), w1, w2, w3);
}

ValueCell* typeset_make_in(ValueCell* block, u32 w1, u32 w2, u32 w3) {
    return typeset_make_at(block_alloc_tail(block), w1, w2, w3);
}

ValueCell* typeset_make_default_in(ValueCell* block) {
    ValueCell ts;
    typeset_make_at(&ts, ~0u, ~0u, ~0u);
    typeset_bytes(&ts)[TYPE_UNSET >> 3] &= static_cast<u8>(~(0x80u >> (TYPE_UNSET & 7)));
    return typeset_make_in(block, typeset_words(&ts)[0], typeset_words(&ts)[1], typeset_words(&ts)[2]);
}

namespace {
void or_into(ValueCell* ts, const ValueCell* other) {
    for (int i = 0; i < 3; i++) typeset_words(ts)[i] |= typeset_words(other)[i];
}
}  // namespace

ValueCell* typeset_make_from_block_in(ValueCell* block, ValueCell* spec) {
    ValueCell ts;
    typeset_make_at(&ts, 0, 0, 0);
    i32 n = block_length(spec);
    for (i32 i = 0; i < n; i++) {
        ValueCell* element = block_head_ptr(spec) + i;
        const ValueCell* v = element;
        if (element->type() == TYPE_WORD) v = context_get(element);
        switch (v->type()) {
            case TYPE_DATATYPE: typeset_add_type(&ts, datatype_get(v)); break;
            case TYPE_TYPESET: or_into(&ts, v); break;
            case TYPE_WORD: typeset_add_type(&ts, TYPE_OBJECT); break;
            case TYPE_BLOCK: break;
            default: fire(Err::script_invalid_type_spec, element);
        }
    }
    return typeset_make_in(block, typeset_words(&ts)[0], typeset_words(&ts)[1], typeset_words(&ts)[2]);
}

void typeset_set_type_bit(ValueCell* ts, ValueCell* value) {
    const ValueCell* v = value;
    if (value->type() == TYPE_WORD) v = context_get(value);
    switch (v->type()) {
        case TYPE_DATATYPE: typeset_add_type(ts, datatype_get(v)); break;
        case TYPE_TYPESET: or_into(ts, v); break;
        default: fire(Err::script_invalid_arg, value);
    }
}

i32 typeset_bit_count(const ValueCell* ts) {
    i32 n = 0;
    for (u32 t = 1; t <= g_highest_type && t < 96; t++)
        if (typeset_has_type(ts, t)) n++;
    return n;
}

void typeset_to_block(ValueCell* ts, ValueCell* block) {
    ValueCell copy = *ts;  // the block may grow under ts
    for (u32 t = 1; t <= g_highest_type && t < 96; t++)
        if (typeset_has_type(&copy, t)) datatype_make_in(block, t);
}

void typeset_set_op(i32 op) {
    ValueCell* a = stack_arg(0);
    if (op == 8) return;
    ValueCell* b = stack_arg(1);
    ValueCell other;
    if (b->type() == TYPE_TYPESET) {
        other = *b;
    } else if (b->type() == TYPE_DATATYPE) {
        typeset_make_at(&other, 0, 0, 0);
        typeset_add_type(&other, datatype_get(b));
    } else {
        fire(Err::script_invalid_arg, b);
    }
    u32* w = typeset_words(a);
    const u32* o = typeset_words(&other);
    for (int i = 0; i < 3; i++) {
        switch (op) {
            case 5: case 9: w[i] |= o[i]; break;
            case 6: case 10: w[i] &= o[i]; break;
            case 7: case 12: w[i] ^= o[i]; break;
            case 11: w[i] &= ~o[i]; break;
            default: runtime_fatal(101, "typeset: unknown set operation");
        }
    }
}

void typeset_and_t() { typeset_set_op(6); }
void typeset_or_t() { typeset_set_op(5); }
void typeset_xor_t() { typeset_set_op(7); }

ValueCell* typeset_make(ValueCell*, ValueCell* spec, u32) {
    switch (spec->type()) {
        case TYPE_TYPESET:
            return stack_push(spec);
        case TYPE_BLOCK: {
            ValueCell* ts = typeset_push(0, 0, 0);
            i32 n = block_length(spec);
            for (i32 i = 0; i < n; i++) typeset_set_type_bit(ts, block_head_ptr(spec) + i);
            return ts;
        }
        default:
            number_fire_bad_to_arg(TYPE_TYPESET, spec);
    }
}

i32 typeset_mold_body(ValueCell* ts, ValueCell* out, bool only, i32 limit) {
    ValueCell set = *ts;  // out may grow under ts
    if (!only) {
        string_append_cstr(out, "make typeset! [");
        limit -= 15;
    }
    bool any = false;
    for (u32 t = 1; t <= g_highest_type && t < 96 && limit > 0; t++) {
        if (!typeset_has_type(&set, t)) continue;
        const char* name = datatype_name(t);
        string_append_cstr(out, name);
        string_append_cstr(out, " ");
        limit -= static_cast<i32>(std::strlen(name)) + 1;
        any = true;
    }
    if (any) {
        // The last space becomes the closing bracket, or goes.
        string_clip_length(out, static_cast<u32>(string_total_length(out) - 1));
        if (only) limit += 1;
        else string_append_cstr(out, "]");
    } else if (!only) {
        string_append_cstr(out, "]");
        limit -= 1;
    }
    return limit;
}

i32 typeset_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    return typeset_mold_body(value, out, false, limit);
}

i32 typeset_mold(ValueCell* value, ValueCell* out, bool only, bool, bool, ValueCell*, i32 limit,
                 i32) {
    return typeset_mold_body(value, out, only, limit);
}

i32 typeset_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_TYPESET) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_FIND:
            return std::memcmp(typeset_words(value1), typeset_words(value2), 12) == 0 ? 0 : 1;
        case CMP_SORT:
        case CMP_SORT_CASE: {
            i32 a = typeset_bit_count(value1), b = typeset_bit_count(value2);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        default:
            return CMP_NOT_COMPARABLE;
    }
}

ValueCell* typeset_complement(ValueCell* value) {
    return typeset_push(~typeset_words(value)[0], ~typeset_words(value)[1], ~typeset_words(value)[2]);
}

ValueCell* typeset_find(ValueCell* ts, ValueCell* value, ValueCell*, bool, bool, bool, bool,
                        ValueCell*, ValueCell*, bool, bool, bool, bool) {
    if (value->type() != TYPE_DATATYPE) fire(Err::script_invalid_arg, value);
    return logic_push(typeset_has_type(ts, datatype_get(value)));
}

void typeset_init() {
    ActionRow row;
    row.set<ACT_MAKE>(typeset_make)
        .set<ACT_TO>(typeset_make)
        .set<ACT_FORM>(typeset_form)
        .set<ACT_MOLD>(typeset_mold)
        .set<ACT_COMPARE>(typeset_compare)
        .set<ACT_AND_T>(typeset_and_t)
        .set<ACT_COMPLEMENT>(typeset_complement)
        .set<ACT_OR_T>(typeset_or_t)
        .set<ACT_XOR_T>(typeset_xor_t)
        .set<ACT_FIND>(typeset_find);
    datatype_register(TYPE_TYPESET, row);
}

}  // namespace zan
