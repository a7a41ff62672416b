// Action lookups, typed dispatchers, the table entries of the generic action
// table, and the comparison protocol.
#include "runtime/typesystem/actions.h"

#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/port.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

ActionEntry g_generic_actions[ACT_COUNT];

bool compare_op_is_equality(i32 op) {
    return op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_SAME ||
           op == CMP_WORD_EXACT || op == CMP_WORD_FOLDED || op == CMP_FIND;
}

// ---- lookups ------------------------------------------------------------------------

ActionEntry action_lookup_slow(u32 type, const ValueCell* value, u32 action) {
    if (value && value->type() == TYPE_PORT && action >= ACT_APPEND) {
        if (ActionEntry e = port_action_entry(value, action)) return e;
    }
    ActionEntry e = type < TYPE_TABLE_SIZE ? action_entry(type, action) : nullptr;
    if (e) return e;
    ValueCell* word = stack_calling_word();
    ValueCell w = *word;
    ValueCell* dt = datatype_push(type < TYPE_TABLE_SIZE ? type : 0);
    ValueCell* arg = error_arg_word_of_call(0);
    fire(Err::script_expect_arg, &w, dt, arg);
}

ActionEntry action_lookup_first_arg(u32 action) {
    ValueCell* v = stack_arg(0);
    return action_lookup(v->type(), v, action);
}

ActionEntry action_lookup_path(const ValueCell* value, u32 action, const ValueCell* path,
                               const ValueCell* element, i32 index) {
    u32 type = value->type();
    ActionEntry e = action_entry(type, action);
    if (e) return e;
    ValueCell el = *element;
    if (!path) {
        ValueCell* dt = datatype_push(type);
        fire(Err::script_bad_path_type2, &el, dt);
    }
    // The path copied from its head and cut after the element that failed.
    ValueCell p = *path;
    ValueCell* held = stack_push(&p);
    ValueCell* cut = stack_push_cell();
    ValueCell head = *held;
    series_set_index(&head, 0);
    block_clone(&head, cut, false, false);
    cell_set_type(cut, held->type());
    i32 keep = index + 1;
    if (keep < block_length(cut)) block_set_tail(cut, static_cast<u32>(keep < 0 ? 0 : keep));
    ValueCell* dt = datatype_push(type);
    fire(Err::script_bad_path_type, held, dt, cut);
}

// ---- generic table ----------------------------------------------------------------------

bool action_entry_call(ActionEntry e, const i32* a, u32 n) {
    using I = i32;
    switch (n) {
        case 0: reinterpret_cast<void (*)()>(e)(); break;
        case 1: reinterpret_cast<void (*)(I)>(e)(a[0]); break;
        case 2: reinterpret_cast<void (*)(I, I)>(e)(a[0], a[1]); break;
        case 3: reinterpret_cast<void (*)(I, I, I)>(e)(a[0], a[1], a[2]); break;
        case 4: reinterpret_cast<void (*)(I, I, I, I)>(e)(a[0], a[1], a[2], a[3]); break;
        case 5: reinterpret_cast<void (*)(I, I, I, I, I)>(e)(a[0], a[1], a[2], a[3], a[4]); break;
        case 6:
            reinterpret_cast<void (*)(I, I, I, I, I, I)>(e)(a[0], a[1], a[2], a[3], a[4], a[5]);
            break;
        case 7:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I)>(e)(a[0], a[1], a[2], a[3], a[4], a[5],
                                                               a[6]);
            break;
        case 8:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I)>(e)(a[0], a[1], a[2], a[3], a[4],
                                                                  a[5], a[6], a[7]);
            break;
        case 9:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I, I)>(e)(a[0], a[1], a[2], a[3], a[4],
                                                                     a[5], a[6], a[7], a[8]);
            break;
        case 10:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I, I, I)>(e)(
                a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
            break;
        case 11:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I, I, I, I)>(e)(
                a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10]);
            break;
        case 12:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I, I, I, I, I)>(e)(
                a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11]);
            break;
        default:
            return false;
    }
    return true;
}

void action_table_fill(const ActionEntry (&entries)[ACT_COUNT]) {
    for (u32 i = 0; i < ACT_COUNT; i++) g_generic_actions[i] = entries[i];
}

namespace {
template <class F>
ActionEntry E(F f) {
    return reinterpret_cast<ActionEntry>(f);
}
}  // namespace

void actions_init() {
    const ActionEntry entries[ACT_COUNT] = {
        E(action_make), E(action_random), E(action_reflect), E(action_to), E(action_form),
        E(action_mold), E(action_eval_path), nullptr, E(action_compare_entry),
        E(action_absolute), E(action_add), E(action_divide), E(action_multiply),
        E(action_negate), E(action_power), E(action_remainder), E(action_round),
        E(action_subtract), E(action_even_q), E(action_odd_q), E(action_and_t),
        E(action_complement), E(action_or_t), E(action_xor_t), E(action_append), E(action_at),
        E(action_back), E(action_change), E(action_clear), E(action_copy), E(action_find),
        E(action_head), E(action_head_q), E(action_index_q), E(action_insert),
        E(action_length_q), E(action_move), E(action_next), E(action_pick), E(action_poke),
        E(action_put), E(action_remove), E(action_reverse), E(action_select), E(action_sort),
        E(action_skip), E(action_swap), E(action_tail), E(action_tail_q), E(action_take),
        E(action_trim), E(action_create), E(action_close), E(action_delete), E(action_modify),
        E(action_open), E(action_open_q), E(action_query), E(action_read), E(action_rename),
        E(action_update), E(action_write),
    };
    action_table_fill(entries);
}

ValueCell* action_refinement_cell(i32 position) {
    return position < 0 ? nullptr : stack_arg(static_cast<u32>(position));
}

i32 action_index_arg() {
    ValueCell* c = stack_arg(1);
    switch (c->type()) {
        case TYPE_INTEGER: case TYPE_CHAR: return dt::int_get(c);
        case TYPE_LOGIC: return logic_get(c) ? 1 : 2;
        default: return 0;
    }
}

// ---- typed dispatchers ----------------------------------------------------------------------

namespace {
template <u32 A>
typename ActionSig<A>::type lookup(const ValueCell* v) {
    return action_lookup_as<A>(v);
}
u32 proto_type(const ValueCell* proto) {
    return proto->type() == TYPE_DATATYPE ? datatype_get(proto) : proto->type();
}
}  // namespace

ValueCell* action_make_dispatch(ValueCell* proto, ValueCell* spec) {
    u32 t = proto_type(proto);
    auto fn = reinterpret_cast<MakeFn>(action_lookup(t, proto, ACT_MAKE));
    return fn(proto, spec, t);
}
ValueCell* action_to_dispatch(ValueCell* proto, ValueCell* spec) {
    u32 t = proto_type(proto);
    auto fn = reinterpret_cast<MakeFn>(action_lookup(t, proto, ACT_TO));
    return fn(proto, spec, t);
}
void action_random_dispatch(ValueCell* v, bool seed, bool secure, bool only) {
    lookup<ACT_RANDOM>(v)(v, seed, secure, only);
}
void action_reflect_dispatch(ValueCell* v, u32 field) { lookup<ACT_REFLECT>(v)(v, field); }
i32 action_form_dispatch(ValueCell* v, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    return lookup<ACT_FORM>(v)(v, out, arg_limit, limit);
}
i32 action_mold_dispatch(ValueCell* v, ValueCell* out, bool only, bool all, bool flat,
                         ValueCell* arg_limit, i32 limit, i32 indent) {
    return lookup<ACT_MOLD>(v)(v, out, only, all, flat, arg_limit, limit, indent);
}
ValueCell* action_eval_path_dispatch(ValueCell* parent, ValueCell* element, ValueCell* value,
                                     ValueCell* path, ValueCell* holder, ValueCell* holder_item,
                                     i32 index, bool case_sensitive, bool f1, bool f2, bool f3) {
    auto fn = reinterpret_cast<EvalPathFn>(
        action_lookup_path(parent, ACT_EVAL_PATH, path, element, index));
    return fn(parent, element, value, path, holder, holder_item, index, case_sensitive, f1, f2,
              f3);
}
void action_negate_dispatch(ValueCell* v) { lookup<ACT_NEGATE>(v)(v); }
void action_round_dispatch(ValueCell* v, ValueCell* scale, bool even, bool down, bool half_down,
                           bool floor, bool ceiling, bool half_ceiling) {
    lookup<ACT_ROUND>(v)(v, scale, even, down, half_down, floor, ceiling, half_ceiling);
}
bool action_even_q_dispatch(ValueCell* v) { return lookup<ACT_EVEN_Q>(v)(v); }
bool action_odd_q_dispatch(ValueCell* v) { return lookup<ACT_ODD_Q>(v)(v); }
ValueCell* action_complement_dispatch(ValueCell* v) { return lookup<ACT_COMPLEMENT>(v)(v); }
void action_append_dispatch(ValueCell* s, ValueCell* v, i32 part, bool only, i32 dup) {
    lookup<ACT_APPEND>(s)(s, v, part, only, dup, true);
}
void action_insert_dispatch(ValueCell* s, ValueCell* v, i32 part, bool only, i32 dup) {
    lookup<ACT_INSERT>(s)(s, v, part, only, dup, false);
}
void action_change_dispatch(ValueCell* s, ValueCell* v, i32 part, bool only, i32 dup) {
    lookup<ACT_CHANGE>(s)(s, v, part, only, dup);
}
void action_clear_dispatch(ValueCell* s) { lookup<ACT_CLEAR>(s)(s); }
ValueCell* action_copy_dispatch(ValueCell* v, ValueCell* fresh, ValueCell* part, bool deep,
                                ValueCell* types) {
    return lookup<ACT_COPY>(v)(v, fresh, part, deep, types);
}
ValueCell* action_find_dispatch(ValueCell* s, ValueCell* v, ValueCell* part, bool only,
                                bool case_sensitive, bool same, bool any, ValueCell* with,
                                ValueCell* skip, bool last, bool reverse, bool tail, bool match) {
    return lookup<ACT_FIND>(s)(s, v, part, only, case_sensitive, same, any, with, skip, last,
                               reverse, tail, match);
}
i32 action_length_q_dispatch(ValueCell* s) { return lookup<ACT_LENGTH_Q>(s)(s); }
ValueCell* action_move_dispatch(ValueCell* origin, ValueCell* target, ValueCell* part) {
    return lookup<ACT_MOVE>(origin)(origin, target, part);
}
ValueCell* action_pick_dispatch(ValueCell* s, i32 index, ValueCell* index_cell) {
    return lookup<ACT_PICK>(s)(s, index, index_cell);
}
ValueCell* action_poke_dispatch(ValueCell* s, i32 index, ValueCell* v, ValueCell* index_cell) {
    return lookup<ACT_POKE>(s)(s, index, v, index_cell);
}
ValueCell* action_put_dispatch(ValueCell* s, ValueCell* key, ValueCell* v, bool case_sensitive) {
    return lookup<ACT_PUT>(s)(s, key, v, case_sensitive);
}
void action_remove_dispatch(ValueCell* s, ValueCell* part, ValueCell* key) {
    lookup<ACT_REMOVE>(s)(s, part, key);
}
void action_reverse_dispatch(ValueCell* s, ValueCell* part, ValueCell* skip) {
    lookup<ACT_REVERSE>(s)(s, part, skip);
}
ValueCell* action_select_dispatch(ValueCell* s, ValueCell* v, ValueCell* part, bool only,
                                  bool case_sensitive, bool same, bool any, ValueCell* with,
                                  ValueCell* skip, bool last, bool reverse) {
    return lookup<ACT_SELECT>(s)(s, v, part, only, case_sensitive, same, any, with, skip, last,
                                 reverse);
}
ValueCell* action_sort_dispatch(ValueCell* s, bool case_sensitive, ValueCell* skip,
                                ValueCell* comparator, ValueCell* part, bool all, bool reverse,
                                bool stable) {
    return lookup<ACT_SORT>(s)(s, case_sensitive, skip, comparator, part, all, reverse, stable);
}
void action_swap_dispatch(ValueCell* a, ValueCell* b) { lookup<ACT_SWAP>(a)(a, b); }
ValueCell* action_take_dispatch(ValueCell* s, ValueCell* part, bool deep, bool last) {
    return lookup<ACT_TAKE>(s)(s, part, deep, last);
}
void action_trim_dispatch(ValueCell* s, bool head, bool tail, bool auto_, bool lines, bool all,
                          ValueCell* with) {
    lookup<ACT_TRIM>(s)(s, head, tail, auto_, lines, all, with);
}
ValueCell* action_create_dispatch(ValueCell* p) { return lookup<ACT_CREATE>(p)(p); }
ValueCell* action_close_dispatch(ValueCell* p) { return lookup<ACT_CLOSE>(p)(p); }
ValueCell* action_delete_dispatch(ValueCell* f) { return lookup<ACT_DELETE>(f)(f); }
ValueCell* action_modify_dispatch(ValueCell* t, ValueCell* field, ValueCell* v,
                                  bool case_sensitive) {
    return lookup<ACT_MODIFY>(t)(t, field, v, case_sensitive);
}
ValueCell* action_open_dispatch(ValueCell* p, bool new_, bool read, bool write, bool seek,
                                ValueCell* allow) {
    return lookup<ACT_OPEN>(p)(p, new_, read, write, seek, allow);
}
ValueCell* action_open_q_dispatch(ValueCell* p) { return lookup<ACT_OPEN_Q>(p)(p); }
ValueCell* action_query_dispatch(ValueCell* t) { return lookup<ACT_QUERY>(t)(t); }
ValueCell* action_read_dispatch(ValueCell* src, ValueCell* part, ValueCell* seek, bool binary,
                                bool lines, bool info, ValueCell* as) {
    return lookup<ACT_READ>(src)(src, part, seek, binary, lines, info, as);
}
ValueCell* action_rename_dispatch(ValueCell* from, ValueCell* to) {
    return lookup<ACT_RENAME>(from)(from, to);
}
ValueCell* action_update_dispatch(ValueCell* p) { return lookup<ACT_UPDATE>(p)(p); }
ValueCell* action_write_dispatch(ValueCell* dest, ValueCell* data, bool binary, bool lines,
                                 bool info, bool append, ValueCell* part, ValueCell* seek,
                                 ValueCell* allow, ValueCell* as) {
    return lookup<ACT_WRITE>(dest)(dest, data, binary, lines, info, append, part, seek, allow,
                                   as);
}

// ---- comparison ----------------------------------------------------------------------------

bool action_compare(ValueCell* v1, ValueCell* v2, i32 op) {
    i32 r = lookup<ACT_COMPARE>(v1)(v1, v2, op);
    if (r == CMP_NOT_COMPARABLE && !compare_op_is_equality(op)) {
        ValueCell a = *v1, b = *v2;
        fire(Err::script_invalid_compare, &a, &b);
    }
    switch (op) {
        case CMP_NOT_EQUAL: return r != 0;
        case CMP_LESSER: return r < 0;
        case CMP_LESSER_EQUAL: return r <= 0;
        case CMP_GREATER: return r > 0;
        case CMP_GREATER_EQUAL: return r >= 0;
        case CMP_SORT: case CMP_SORT_CASE: return r < 0;
        default: return r == 0;
    }
}

void action_compare_logic(i32 op) {
    bool r = action_compare(stack_arg(0), stack_arg(1), op);
    logic_set_result(r);
}

i32 action_compare_int(ValueCell* v1, ValueCell* v2, i32 op) {
    auto sign = [](i32 a, i32 b) { return a < b ? -1 : a > b ? 1 : 0; };
    switch (v1->type()) {
        case TYPE_LOGIC:
            return static_cast<i32>(logic_get(v1)) - static_cast<i32>(logic_get(v2));
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP:
            return sign(static_cast<i32>(callable_entry(v1)), static_cast<i32>(callable_entry(v2)));
        case TYPE_FUNCTION: case TYPE_ROUTINE:
            return sign(static_cast<i32>(callable_body(v1)), static_cast<i32>(callable_body(v2)));
        default:
            return lookup<ACT_COMPARE>(v1)(v1, v2, op);
    }
}

// ---- table entries ---------------------------------------------------------------------------

namespace {
inline void frame_call(u32 action) {
    reinterpret_cast<FrameFn>(action_lookup_first_arg(action))();
}

// Whether a value has a series buffer that /part positions can refer to.
bool part_value_type(u32 t) { return type_series(t) || t == TYPE_MAP; }

void clamp_to_tail(ValueCell* v) {
    i32 len = series_buffer_length(v);
    if (series_index(v) > len) series_set_index(v, len);
}

ValueCell* part_word() { return g_refinements.part; }

// The count of a /part argument measured on `on` (the value for append and
// insert, the series for change); false when the action must do nothing.
bool normalise_part(ValueCell* on, i32 part_pos, bool for_change, i32* count) {
    *count = -1;
    if (part_pos == -1) return true;
    ValueCell* p = stack_arg(static_cast<u32>(part_pos));
    u32 t = on->type();
    bool no_clamp = for_change && (t == TYPE_PORT || t == TYPE_IMAGE);
    if (!for_change && !part_value_type(t)) fire(Err::script_invalid_part, p);
    if (!no_clamp && part_value_type(t)) clamp_to_tail(on);
    i32 n;
    if (p->type() == TYPE_INTEGER) {
        n = dt::int_get(p);
    } else {
        if (p->type() != t || series_node(p) != series_node(on) || t == TYPE_PORT ||
            (for_change && t == TYPE_IMAGE)) {
            ValueCell a = *p;
            fire(Err::script_invalid_refine_arg, part_word(), &a);
        }
        clamp_to_tail(p);
        n = series_index(p) - series_index(on);
    }
    i32 idx = series_index(on);
    if (n == 0 || (n < 0 && idx == 0)) return false;
    if (n < 0) {
        i32 from = idx + n < 0 ? 0 : idx + n;
        n = idx - from;
        series_set_index(on, from);
    }
    *count = n;
    return true;
}

bool dup_count(i32 dup_pos, i32* dup) {
    *dup = 1;
    if (dup_pos == -1) return true;
    i32 d = dt::int_get(stack_arg(static_cast<u32>(dup_pos)));
    if (d <= 0) return false;
    *dup = d;
    return true;
}

[[gnu::noinline]] void insert_entry(bool append, i32 part, i32 only, i32 dup) {
    ValueCell* series = stack_arg(0);
    ValueCell* value = stack_arg(1);
    i32 count, times;
    if (!normalise_part(value, part, false, &count)) return;
    if (!dup_count(dup, &times)) return;
    // Only the action asked for is looked up: ref! has insert but no append.
    auto fn = append ? action_lookup_as<ACT_APPEND>(series)
                     : action_lookup_as<ACT_INSERT>(series);
    fn(series, value, count, only != -1, times, append);
}
}  // namespace

void action_make() { stack_set_last(action_make_dispatch(stack_arg(0), stack_arg(1))); }
void action_to() { stack_set_last(action_to_dispatch(stack_arg(0), stack_arg(1))); }
void action_random(i32 seed, i32 secure, i32 only) {
    action_random_dispatch(stack_arg(0), seed != -1, secure != -1, only != -1);
}
void action_reflect() {
    ValueCell* field = stack_arg(1);
    action_reflect_dispatch(stack_arg(0), word_symbol(field));
}

namespace {
// Form and mold: a new string made by `make` (out, /part argument or null,
// limit), cut to the /part limit (part is its argument's position, -1 when
// not given). A limit of zero or less makes nothing.
template <typename Make>
void text_action(i32 part, Make make) {
    ValueCell limit_cell;
    ValueCell* arg_limit = nullptr;
    i32 limit = FORM_NO_LIMIT;
    if (part != -1) {
        limit_cell = *stack_arg(static_cast<u32>(part));
        arg_limit = &limit_cell;
        limit = dt::int_arg(arg_limit);
        if (limit <= 0) {
            string_set_result(16);
            return;
        }
    }
    ValueCell* out = string_push_new(16);
    make(out, arg_limit, limit);
    if (arg_limit) string_clip_length(out, static_cast<u32>(limit));
    stack_set_last(out);
}
}  // namespace

void action_form(i32 part) {
    text_action(part, [](ValueCell* out, ValueCell* arg_limit, i32 limit) {
        action_form_dispatch(stack_arg(0), out, arg_limit, limit);
    });
}

void action_mold(i32 only, i32 all, i32 flat, i32 part) {
    text_action(part, [&](ValueCell* out, ValueCell* arg_limit, i32 limit) {
        action_mold_dispatch(stack_arg(0), out, only != -1, all != -1, flat != -1, arg_limit,
                             limit, 0);
    });
}

void action_eval_path(i32 setting) {
    ValueCell* r = action_eval_path_dispatch(stack_arg(0), stack_arg(1),
                                             setting != -1 ? stack_arg(2) : nullptr, nullptr,
                                             nullptr, nullptr, -1, false, false, true, false);
    stack_set_last(r);
}

// compare has no word: frame cells 0 and 1, with the op code in cell 2 when
// it is there (equality otherwise).
void action_compare_entry() {
    i32 op = CMP_EQUAL;
    if (g_stack.top - g_stack.base > 2 && stack_arg(2)->type() == TYPE_INTEGER)
        op = dt::int_get(stack_arg(2));
    action_compare_logic(op);
}

void action_absolute() { frame_call(ACT_ABSOLUTE); }
void action_add() { frame_call(ACT_ADD); }
void action_divide() { frame_call(ACT_DIVIDE); }
void action_multiply() { frame_call(ACT_MULTIPLY); }
void action_negate() { action_negate_dispatch(stack_arg(0)); }
void action_power() { frame_call(ACT_POWER); }
void action_remainder() {
    // Two integers whose remainder raises nothing: no dispatch.
    ValueCell* a = stack_arg(0);
    const ValueCell* b = stack_arg(1);
    if (a->type() == TYPE_INTEGER && b->type() == TYPE_INTEGER) {
        i32 l = dt::int_get(a), r = dt::int_get(b);
        if (r != 0 && !(l == INT32_MIN && r == -1)) {
            a->data2 = static_cast<u32>(l % r);
            return;
        }
    }
    frame_call(ACT_REMAINDER);
}
void action_round(i32 to, i32 even, i32 down, i32 half_down, i32 floor, i32 ceiling,
                  i32 half_ceiling) {
    action_round_dispatch(stack_arg(0), action_refinement_cell(to), even != -1, down != -1,
                          half_down != -1, floor != -1, ceiling != -1, half_ceiling != -1);
}
void action_subtract() { frame_call(ACT_SUBTRACT); }
void action_even_q() { logic_set_result(action_even_q_dispatch(stack_arg(0))); }
void action_odd_q() { logic_set_result(action_odd_q_dispatch(stack_arg(0))); }
void action_and_t() { frame_call(ACT_AND_T); }
void action_complement() { stack_set_last(action_complement_dispatch(stack_arg(0))); }
void action_or_t() { frame_call(ACT_OR_T); }
void action_xor_t() { frame_call(ACT_XOR_T); }
namespace {
// The appends of action_append past its copy of bytes in place, apart so
// that action_append makes no call it returns from (and saves no registers).
[[gnu::noinline]] void append_to_string(i32 only) {
    if (string_append_quick(stack_arg(0), stack_arg(1), stack_result())) return;
    insert_entry(true, -1, only, -1);
}
[[gnu::noinline]] void append_to_block(i32 only) {
    if (block_append_quick(stack_arg(0), stack_arg(1), only != -1, stack_result())) return;
    insert_entry(true, -1, only, -1);
}
}  // namespace

void action_append(i32 part, i32 only, i32 dup) {
    if (part == -1 && dup == -1) {
        ValueCell* series = stack_arg(0);
        u32 st = series->type();
        if (st == TYPE_BLOCK) return append_to_block(only);
        if (st == TYPE_STRING) {
            if (string_append_bytes_quick(series, stack_arg(1))) {
                ValueCell* r = stack_result();
                *r = *series;
                series_set_index(r, 0);
                return;
            }
            return append_to_string(only);
        }
    }
    insert_entry(true, part, only, dup);
}
void action_insert(i32 part, i32 only, i32 dup) { insert_entry(false, part, only, dup); }
void action_at() { frame_call(ACT_AT); }
void action_back() { frame_call(ACT_BACK); }

void action_change(i32 part, i32 only, i32 dup) {
    ValueCell* series = stack_arg(0);
    i32 count, times;
    if (!normalise_part(series, part, true, &count)) return;
    if (!dup_count(dup, &times)) return;
    action_change_dispatch(series, stack_arg(1), count, only != -1, times);
}

void action_clear() { action_clear_dispatch(stack_arg(0)); }

void action_copy(i32 part, i32 deep, i32 types) {
    // A string copied whole from an index within it, without refinements:
    // what series_copy makes, without the dispatch and the scratch cell (the
    // room for that cell still asked, so that an overflow comes where it did).
    if ((part & deep & types) == -1) {
        ValueCell* s = stack_arg(0);
        i32 idx = series_index(s);
        if (s->type() == TYPE_STRING && idx >= 0 && g_stack.top + 1 < g_stack.limit) {
            SeriesBuffer* b = series_of(s);
            u32 len = b->used_bytes() >> unit_shift(b->unit());
            u32 start = static_cast<u32>(idx) < len ? static_cast<u32>(idx) : len;
            u32 new_line = s->header & CELL_NEW_LINE;
            Node n = series_alloc_like(s, start, len - start);
            cell_init(stack_result(), TYPE_STRING | new_line, 0, n, 0);
            return;
        }
    }
    ValueCell* kind = action_refinement_cell(types);
    if (kind && kind->type() != TYPE_DATATYPE && kind->type() != TYPE_TYPESET) {
        ValueCell* w = stack_calling_word();
        ValueCell word = *w;
        ValueCell* dt = datatype_push(kind->type());
        ValueCell* arg = error_arg_word_of_call(types);
        fire(Err::script_expect_arg, &word, dt, arg);
    }
    ValueCell* fresh = unset_push();
    ValueCell* r = action_copy_dispatch(stack_arg(0), fresh, action_refinement_cell(part),
                                        deep != -1, kind);
    stack_set_last(r);
}

void action_find(i32 part, i32 only, i32 case_, i32 same, i32 any, i32 with, i32 skip,
                 i32 last, i32 reverse, i32 tail, i32 match) {
    ValueCell* r = action_find_dispatch(
        stack_arg(0), stack_arg(1), action_refinement_cell(part), only != -1, case_ != -1,
        same != -1, any != -1, action_refinement_cell(with), action_refinement_cell(skip),
        last != -1, reverse != -1, tail != -1, match != -1);
    stack_set_last(r);
}

void action_head() { frame_call(ACT_HEAD); }
void action_head_q() { frame_call(ACT_HEAD_Q); }
void action_index_q() { frame_call(ACT_INDEX_Q); }

void action_length_q() {
    i32 n = action_length_q_dispatch(stack_arg(0));
    if (n == -1) none_set_result();
    else dt::int_set_result(n);
}

void action_move(i32 part) {
    stack_set_last(action_move_dispatch(stack_arg(0), stack_arg(1), action_refinement_cell(part)));
}
void action_next() { frame_call(ACT_NEXT); }
void action_pick() {
    if (stack_arg(0)->type() == TYPE_BLOCK && stack_arg(1)->type() == TYPE_INTEGER)
        return series_pick_block(stack_arg(0), dt::int_get(stack_arg(1)), stack_result());
    stack_set_last(action_pick_dispatch(stack_arg(0), action_index_arg(), stack_arg(1)));
}
void action_poke() {
    action_poke_dispatch(stack_arg(0), action_index_arg(), stack_arg(2), stack_arg(1));
    stack_set_last(stack_arg(2));
}
namespace {
[[gnu::noinline]] void put_dispatched(bool case_sensitive) {
    stack_set_last(action_put_dispatch(stack_arg(0), stack_arg(1), stack_arg(2), case_sensitive));
}
}  // namespace

void action_put(i32 case_) {
    if (stack_arg(0)->type() == TYPE_MAP) return map_put_entry(case_ != -1);
    put_dispatched(case_ != -1);
}
void action_remove(i32 part, i32 key) {
    action_remove_dispatch(stack_arg(0), action_refinement_cell(part),
                           action_refinement_cell(key));
}
void action_reverse(i32 part, i32 skip) {
    action_reverse_dispatch(stack_arg(0), action_refinement_cell(part),
                            action_refinement_cell(skip));
}
namespace {
[[gnu::noinline]] void select_dispatched(i32 part, i32 only, i32 case_, i32 same, i32 any,
                                         i32 with, i32 skip, i32 last, i32 reverse) {
    ValueCell* r = action_select_dispatch(
        stack_arg(0), stack_arg(1), action_refinement_cell(part), only != -1, case_ != -1,
        same != -1, any != -1, action_refinement_cell(with), action_refinement_cell(skip),
        last != -1, reverse != -1);
    stack_set_last(r);
}
}  // namespace

void action_select(i32 part, i32 only, i32 case_, i32 same, i32 any, i32 with, i32 skip,
                   i32 last, i32 reverse) {
    // A map takes no refinement but /case and /same.
    // (Both positions -1, all bits set, when neither was given.)
    if (stack_arg(0)->type() == TYPE_MAP) {
        if ((case_ & same) == -1) return map_select_plain();
        return map_select_entry(case_ != -1, same != -1);
    }
    select_dispatched(part, only, case_, same, any, with, skip, last, reverse);
}
void action_sort(i32 case_, i32 skip, i32 compare, i32 part, i32 all, i32 reverse, i32 stable) {
    ValueCell* r = action_sort_dispatch(stack_arg(0), case_ != -1, action_refinement_cell(skip),
                                        action_refinement_cell(compare),
                                        action_refinement_cell(part), all != -1, reverse != -1,
                                        stable != -1);
    stack_set_last(r);
}
void action_skip() { frame_call(ACT_SKIP); }
void action_swap() { action_swap_dispatch(stack_arg(0), stack_arg(1)); }
void action_tail() { frame_call(ACT_TAIL); }
void action_tail_q() { frame_call(ACT_TAIL_Q); }
void action_take(i32 part, i32 deep, i32 last) {
    stack_set_last(
        action_take_dispatch(stack_arg(0), action_refinement_cell(part), deep != -1, last != -1));
}
void action_trim(i32 head, i32 tail, i32 auto_, i32 lines, i32 all, i32 with) {
    action_trim_dispatch(stack_arg(0), head != -1, tail != -1, auto_ != -1, lines != -1,
                         all != -1, action_refinement_cell(with));
}
void action_create() { stack_set_last(action_create_dispatch(stack_arg(0))); }
void action_close() { stack_set_last(action_close_dispatch(stack_arg(0))); }
void action_delete() { stack_set_last(action_delete_dispatch(stack_arg(0))); }
void action_modify(i32 case_) {
    action_modify_dispatch(stack_arg(0), stack_arg(1), stack_arg(2), case_ != -1);
}
void action_open(i32 new_, i32 read, i32 write, i32 seek, i32 allow) {
    stack_set_last(action_open_dispatch(stack_arg(0), new_ != -1, read != -1, write != -1,
                                        seek != -1, action_refinement_cell(allow)));
}
void action_open_q() { stack_set_last(action_open_q_dispatch(stack_arg(0))); }
void action_query() { stack_set_last(action_query_dispatch(stack_arg(0))); }
void action_read(i32 part, i32 seek, i32 binary, i32 lines, i32 info, i32 as) {
    stack_set_last(action_read_dispatch(stack_arg(0), action_refinement_cell(part),
                                        action_refinement_cell(seek), binary != -1,
                                        lines != -1, info != -1, action_refinement_cell(as)));
}
void action_rename() { stack_set_last(action_rename_dispatch(stack_arg(0), stack_arg(1))); }
void action_update() { stack_set_last(action_update_dispatch(stack_arg(0))); }
void action_write(i32 binary, i32 lines, i32 info, i32 append, i32 part, i32 seek, i32 allow,
                  i32 as) {
    stack_set_last(action_write_dispatch(
        stack_arg(0), stack_arg(1), binary != -1, lines != -1, info != -1, append != -1,
        action_refinement_cell(part), action_refinement_cell(seek), action_refinement_cell(allow),
        action_refinement_cell(as)));
}

}  // namespace zan
