// Support routines for compiled code and the runtime at large.
#include "runtime/typesystem/runtime_support.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/core/collector.h"
#include "runtime/core/hashtable.h"
#include "runtime/typesystem/dt_state.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"

namespace zan {

ValueCell g_root_block{TYPE_NONE, 0, 0, 0};
bool g_boot_flag = false;
u32 g_boot_cells_first = 0;
ActionEntry* g_native_table = nullptr;
u32 g_native_count = 0;
DatatypeServices g_services{};

// ---- root block and boot cells -------------------------------------------------------------

void runtime_support_state_reset() {
    gc_remove_root(&g_root_block);
    cell_init(&g_root_block, TYPE_NONE);
    g_boot_flag = false;
    g_boot_cells_first = 0;
}

void root_block_create(u32 cells) {
    Node n = alloc_series_fixed(cells ? cells : 1, 16, 0);
    gc_register_fixed(n);
    cell_init(&g_root_block, TYPE_BLOCK, 0, n);
    gc_remove_root(&g_root_block);
    gc_add_root(&g_root_block);
    g_boot_cells_first = 0;
}

ValueCell* boot_cell_at(u32 n) {
    return series_of(&g_root_block)->head_cells() + g_boot_cells_first + n;
}
u32 boot_cell_data(u32 n) { return cell_word(boot_cell_at(n), 1); }

// ---- cells and tails ------------------------------------------------------------------------

ValueCell* series_alloc_tail_cell(SeriesBuffer* buffer) {
    if (buffer->tail + 16 > buffer->end_ref()) {
        Node n = buffer->node;
        series_expand(buffer, buffer->size ? buffer->size * 2 : 32);
        buffer = node_buffer(n);
    }
    ValueCell* c = buffer->tail_cells();
    cell_init(c, TYPE_UNSET);
    buffer->tail += 16;
    return c;
}

ValueCell* block_alloc_tail(ValueCell* block) { return series_alloc_tail_cell(series_of(block)); }

u8* series_alloc_tail_units(SeriesBuffer* buffer, u32 n_bytes) {
    if (u64(buffer->tail) + n_bytes > buffer->end_ref()) {
        Node node = buffer->node;
        u64 grow = n_bytes > buffer->size ? u64(n_bytes) * 2 : u64(buffer->size) * 2;
        if (grow > 0x7FFFFFF0u) fire(Err::internal_no_memory);
        series_expand(buffer, static_cast<u32>((grow + 15) & ~u64(15)));
        buffer = node_buffer(node);
    }
    u8* at = buffer->tail_ptr();
    buffer->tail += n_bytes;
    return at;
}

Node series_alloc_like(const ValueCell* series, u32 start, u32 count) {
    return alloc_series_copy(series_node(series), start, count);
}

void mem_replicate(u8* address, u32 unit_length, u32 count) {
    // Nothing to copy: an empty unit would never double.
    if (unit_length == 0) return;
    u64 total = u64(unit_length) * count;
    u64 done = unit_length;
    while (done * 2 <= total) {
        std::memcpy(address + done, address, done);
        done *= 2;
    }
    if (done < total) std::memcpy(address + done, address, total - done);
}

i32 mold_indent(ValueCell* out, i32 level, i32 limit) {
    for (i32 i = 0; i < level; i++) string_append_cstr(out, "    ");
    return limit - 4 * level;
}

// ---- errors ---------------------------------------------------------------------------------

void rt_raise_error(Err id, const ValueCell* a1, const ValueCell* a2, const ValueCell* a3) {
    g_raw_error = id;
    ValueCell* err = error_create(id, a1, a2, a3);
    // (A stack overflow is not traced: the tracer would run in its reserve.)
    if (g_services.trace_enabled && g_services.trace_enabled() && g_services.interp_trace_event &&
        !stack_reserve_open()) {
        u32 pending = g_throw_code;
        g_throw_code = 0;
        g_services.interp_trace_event(0x1000, err);
        g_throw_code = pending;
    }
    stack_throw_error(err);
}

namespace {
// Key comparison of the hash tables: the compare action, with types that
// have no compare entry equal only to an identical cell.
bool key_compare(ValueCell* a, ValueCell* b, i32 op) {
    if (!action_entry(a->type(), ACT_COMPARE))
        return cell_identical(a, b);
    return action_compare(a, b, op);
}
}  // namespace

void runtime_support_init() {
    set_error_raiser(rt_raise_error);
    hashtable_set_key_compare(key_compare);
}

void fire_bad_make_arg(const ValueCell* value, const ValueCell* arg2) {
    fire(Err::script_bad_make_arg, value, arg2);
}

// ---- argument checks ------------------------------------------------------------------------

bool typeset_bits_have(const ValueCell* typeset, u32 type) {
    u8 bytes[12];
    std::memcpy(bytes, typeset_bytes(typeset), 12);
    if ((type >> 3) >= 12) return false;
    return (bytes[type >> 3] & (0x80u >> (type & 7))) != 0;
}

namespace {
[[noreturn]] void expect_arg(const ValueCell* value, i32 position) {
    ValueCell word = *stack_calling_word();
    ValueCell* dt = datatype_push(value->type());
    ValueCell* arg = error_arg_word_of_call(position);
    fire(Err::script_expect_arg, &word, dt, arg);
}
}  // namespace

ValueCell* rt_check_arg_type(const ValueCell* typeset, i32 position, ValueCell* value) {
    if (typeset_bits_have(typeset, value->type())) return value;
    expect_arg(value, position);
}

ValueCell* rt_check_refinement_arg(const ValueCell* refinement, const ValueCell* typeset,
                                   i32 position, ValueCell* value) {
    if (!logic_get(refinement)) return value;
    return rt_check_arg_type(typeset, position, value);
}

ValueCell* rt_check_not_unset(i32 position, ValueCell* value) {
    if (value->type() == TYPE_UNSET) expect_arg(value, position);
    return value;
}

void rt_init_refinement(const ValueCell* refinement, i32 slot, i32 count) {
    ValueCell* at = g_stack.base + slot;
    if (logic_cell_true_q(refinement, false, nullptr)) {
        logic_set(at, true);
        return;
    }
    for (i32 i = 1; i <= count; i++) none_box(at + i);
}

// ---- words and context slots ----------------------------------------------------------------

ValueCell* rt_get_word(ValueCell* word) {
    ValueCell* v = context_get(word);
    if (v->type() == TYPE_UNSET) fire(Err::script_no_value, word);
    return v;
}

void rt_set_word(ValueCell* word) {
    ValueCell* v = stack_top_value();
    if (v->type() == TYPE_UNSET) fire(Err::script_need_value, word);
    ValueCell val = *v;
    context_set(word, &val);
}

namespace {
ValueCell* ctx_slot(Node ctx, u32 index) {
    ValueCell* c = context_cell(ctx);
    if (context_on_stack(c)) return hptr<ValueCell>(context_values(c)) + index;
    return node_buffer(context_values(c))->head_cells() + index;
}
}  // namespace

void rt_set_ctx_slot(Node ctx, u32 index) {
    ValueCell* v = stack_top_value();
    if (v->type() == TYPE_UNSET) fire(Err::script_need_value, context_word_at(ctx, index));
    *ctx_slot(ctx, index) = *v;
}

void rt_set_ctx_slot_reset(Node ctx, u32 index) {
    rt_set_ctx_slot(ctx, index);
    stack_reset();
}

void rt_store_ctx_slot_reset(Node ctx, u32 index) {
    ValueCell* c = context_cell(ctx);
    if (context_kind(c) == CTX_OBJECT) context_word_at(ctx, index)->header |= WORD_ASSIGNED;
    *ctx_slot(ctx, index) = *stack_top_value();
    stack_reset();
}

ValueCell* rt_ctx_slot_ptr(Node ctx, u32 index) {
    ValueCell* c = context_cell(ctx);
    if (!context_values(c)) fire(Err::script_not_defined, context_word_at(ctx, index));
    return ctx_slot(ctx, index);
}

// ---- calls and paths --------------------------------------------------------------------------

namespace {
void call_with(ActionEntry e, const i32* a, u32 n) {
    if (!action_entry_call(e, a, n)) runtime_fatal(101, "too many refinements in a call by index");
}
}  // namespace

void rt_call_by_index(u32 number, i32 selector, u32 count, const RtRefinement* refinements) {
    constexpr u32 MAX_REFINEMENTS = 12;
    if (count > MAX_REFINEMENTS - (selector == CALL_NATIVE ? 1 : 0))
        runtime_fatal(101, "too many refinements in a call by index");
    i32 args[MAX_REFINEMENTS];
    u32 lead = selector == CALL_NATIVE ? 1 : 0;
    if (lead) args[0] = 1;  // natives take their check flag first
    for (u32 i = 0; i < count; i++) args[lead + i] = -1;
    for (u32 i = 0; i < count; i++) {
        const RtRefinement& r = refinements[i];
        if (logic_cell_true_q(r.cell, false, nullptr)) {
            args[lead + static_cast<u32>(r.position) - 1] = r.arg_position;
        } else {
            for (i32 k = 0; k < r.arg_count; k++) none_box(g_stack.base + r.arg_position + k);
        }
    }
    ActionEntry e = nullptr;
    if (selector == CALL_ACTION) {
        if (number < 1 || number > ACT_COUNT) runtime_fatal(101, "bad action number");
        e = g_generic_actions[number - 1];
    } else {
        if (number < 1 || number > g_native_count || !g_native_table)
            runtime_fatal(101, "bad native number");
        e = g_native_table[number - 1];
    }
    if (!e) runtime_fatal(101, "missing entry in a call by index");
    call_with(e, args, count + lead);
}

bool path_field_in_cell(u32 type) {
    switch (type) {
        case TYPE_DATE:
        case TYPE_TIME:
        case TYPE_PAIR:
        case TYPE_TUPLE:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
        case TYPE_EVENT:
            return true;
        default:
            return false;
    }
}

void path_store_back(ValueCell* path, ValueCell* value, u32 level, ValueCell* head_holder,
                     bool case_sensitive) {
    while (path_field_in_cell(value->type())) {
        ValueCell* item = value - 1;
        if (level == 0) {
            // The head's value: the head word takes it, as a set-word would.
            if (item->type() == TYPE_WORD) context_set(item, value);
            return;
        }
        ValueCell* up = value - 2;
        ValueCell* up_holder = level >= 2 ? value - 4 : head_holder;
        action_eval_path_dispatch(up, item, value, path, up_holder, value - 3,
                                  static_cast<i32>(level - 1), case_sensitive, false, true, false);
        value = up;
        level--;
    }
}

// The levels lie on the data stack as path_store_back reads them: the
// head and its value, then each element and the value it selected.
ValueCell* rt_eval_path(bool set, ValueCell* path, ValueCell* head, ValueCell* const* elements,
                        u32 count) {
    ValueCell* saved_top = g_stack.top;
    ValueCell* head_holder = nullptr;
    ValueCell* item;
    ValueCell* cur;
    if (head->type() == TYPE_WORD) {
        if (word_binding(head) && word_binding(head) != g_global_ctx) {
            ValueCell* owner = context_owner(word_binding(head));
            if (owner->type() != TYPE_OBJECT) head_holder = stack_push(owner);
        }
        item = stack_push(head);
        ValueCell v = *context_get(head);
        cur = stack_push(&v);
    } else {
        item = stack_push(head);
        cur = stack_push(head);
    }
    ValueCell* holder = head_holder;
    for (u32 i = 0; i < count; i++) {
        bool last = i + 1 == count;
        // A value held in its cell is stored back below, which reports the
        // change to the object or series holding it.
        bool in_cell = set && last && path_field_in_cell(cur->type());
        bool notify = false;
        if (set && last && count >= 2 && holder && !in_cell) {
            u32 ht = holder->type();
            notify = (ht == TYPE_OBJECT && object_record(holder) && item && item->type() == TYPE_WORD) ||
                     type_block_like(ht);
        }
        ValueCell* r = action_eval_path_dispatch(cur, elements[i], set && last ? stack_result() : nullptr,
                                                 path, holder, item, static_cast<i32>(i), false,
                                                 false, last, notify);
        ValueCell rv = *r;
        if (in_cell) path_store_back(path, cur, i, head_holder, false);
        g_stack.top = cur + 1;
        holder = cur;
        item = stack_push(elements[i]);
        cur = stack_push(&rv);
    }
    ValueCell v = *cur;
    g_stack.top = saved_top;
    *stack_result() = v;
    return stack_result();
}

ValueCell* rt_switch_find(bool push, bool to_block) {
    ValueCell* value = stack_arg(0);
    ValueCell* cases = stack_arg(1);
    ValueCell answer = g_none_cell;
    if (value->type() != TYPE_BLOCK) {
        i32 len = series_buffer_length(cases);
        i32 step = push ? 1 : 2;
        for (i32 i = series_index(cases) < 0 ? 0 : series_index(cases); i < len; i += step) {
            ValueCell* c = series_of(cases)->head_cells() + i;
            if (c->type() != value->type() || !action_compare(c, value, CMP_EQUAL)) continue;
            if (to_block) {
                // The next block after the match; none when the tail comes
                // first.
                for (i32 k = i + 1; k < len; k++) {
                    ValueCell* b = series_of(cases)->head_cells() + k;
                    if (b->type() == TYPE_BLOCK) {
                        answer = *b;
                        break;
                    }
                }
            } else {
                answer = i + 1 < len ? series_of(cases)->head_cells()[i + 1] : *c;
            }
            break;
        }
    }
    if (push) return stack_push(&answer);
    *stack_result() = answer;
    return stack_result();
}

ValueCell* rt_scan_string_value(ValueCell* string, ValueCell* dest) {
    i32 consumed = 0;
    ValueCell* blk = unset_push();
    g_services.lexer_scan_string(string, blk, -1, &consumed);
    if (consumed < string_length(string)) {
        logic_box(dest, false);
    } else if (blk->type() == TYPE_BLOCK && block_length(blk) > 0) {
        *dest = *block_head_ptr(blk);
    } else {
        unset_box(dest);
    }
    stack_pop(1);
    return dest;
}

ValueCell* rt_scan_string_arg() { return rt_scan_string_value(stack_arg(0), stack_result()); }

ValueCell* rt_form_limited(ValueCell* value, i32 limit) {
    ValueCell* out = string_push_new(16);
    ValueCell lim;
    dt::int_box(&lim, limit);
    action_form_dispatch(value, out, limit > 0 ? &lim : nullptr, limit > 0 ? limit : FORM_NO_LIMIT);
    if (limit > 0) string_clip_length(out, static_cast<u32>(limit));
    return out;
}

i32 rt_to_integer(const ValueCell* cell) {
    if (cell->type() == TYPE_INTEGER) return dt::int_get(cell);
    double d = cell->get_float();
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) fire(Err::script_out_of_range, cell);
    return static_cast<i32>(d);
}

namespace dt {
i32 int_arg(const ValueCell* c) {
    if (c->type() == TYPE_INTEGER) return int_get(c);
    if (c->type() == TYPE_FLOAT || c->type() == TYPE_PERCENT) return rt_to_integer(c);
    fire(Err::script_invalid_arg, c);
}
}  // namespace dt

}  // namespace zan
