// bitset!: the spec walker, construction, membership tests and
// changes, the set operations, comparison and the text form.
#include "runtime/datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/typesystem/ownership.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {

constexpr u32 MAX_BYTES = 0x7FFFFFF0u;

inline SeriesBuffer* buf_of(Node n) { return node_buffer(n); }
inline u32 bytes_of(Node n) { return buf_of(n)->used_bytes(); }
inline bool flag_of(Node n) { return (buf_of(n)->flags & SERIES_COMPLEMENT) != 0; }
inline u8* head_of(Node n) { return buf_of(n)->head_ptr(); }
inline u8 mask_of(u64 bit) { return static_cast<u8>(0x80u >> (bit & 7)); }
inline u8 pad_of(Node n) { return flag_of(n) ? 0xFF : 0x00; }

// Moves the used length up to n bytes (padding by the flag); the buffer may
// move. Returns the address of byte 0.
u8* ensure_bytes(Node node, u64 n) {
    SeriesBuffer* b = buf_of(node);
    u32 used = b->used_bytes();
    if (n <= used) return b->head_ptr();
    if (n > MAX_BYTES) fire(Err::internal_no_memory);
    u64 room = b->end_ref() - b->head;
    if (n > room) {
        u64 want = std::max<u64>(n, u64(b->size) * 2);
        if (want > MAX_BYTES) want = n;
        series_expand(b, static_cast<u32>((want + 15) & ~u64(15)));
        b = buf_of(node);
    }
    std::memset(b->head_ptr() + used, pad_of(node), static_cast<size_t>(n - used));
    b->tail = b->head + static_cast<u32>(n);
    return b->head_ptr();
}

// The walk of one spec value.
struct Walk {
    Node node;  // the bitset (0 while measuring)
    i32 op;
    i32 mode;
    i64 highest = -1;
};

[[noreturn]] void bad_value(const Walk& w, const ValueCell* value) {
    ValueCell v = *value;
    ValueCell* held = stack_push(&v);
    switch (w.mode) {
        case BITS_MODE_MAKE: {
            ValueCell* dt = datatype_push(TYPE_BITSET);
            fire(Err::script_bad_make_arg, dt, held);
        }
        case BITS_MODE_TO:
            number_fire_bad_to_arg(TYPE_BITSET, held);
        default:
            fire(Err::script_invalid_arg, held);
    }
}

void note_highest(Walk& w, i64 n) {
    if (n > w.highest) w.highest = n;
}

// Bits lo..hi (inclusive) under the walk's operation; the answer of a test.
bool apply_range(Walk& w, u64 lo, u64 hi) {
    switch (w.op) {
        case BITS_MEASURE:
            note_highest(w, static_cast<i64>(hi));
            return true;
        case BITS_SET: {
            note_highest(w, static_cast<i64>(hi));
            u64 last = hi;
            if (!flag_of(w.node)) {
                ensure_bytes(w.node, (hi >> 3) + 1);
            } else {
                // Beyond the stored bytes every bit is a member already.
                u64 stored = u64(bytes_of(w.node)) * 8;
                if (lo >= stored) return true;
                if (last >= stored) last = stored - 1;
            }
            u8* p = head_of(w.node);
            for (u64 i = lo; i <= last; i++) p[i >> 3] |= mask_of(i);
            return true;
        }
        case BITS_TEST: {
            u64 stored = u64(bytes_of(w.node)) * 8;
            const u8* p = head_of(w.node);
            for (u64 i = lo; i <= hi; i++) {
                if (i >= stored) return flag_of(w.node);
                if (!(p[i >> 3] & mask_of(i))) return false;
            }
            return true;
        }
        case BITS_CLEAR: {
            u64 last = hi;
            if (flag_of(w.node)) {
                ensure_bytes(w.node, (hi >> 3) + 1);
            } else {
                // Beyond the stored bytes no bit is a member.
                u64 stored = u64(bytes_of(w.node)) * 8;
                if (lo >= stored) return true;
                if (last >= stored) last = stored - 1;
            }
            u8* p = head_of(w.node);
            for (u64 i = lo; i <= last; i++) p[i >> 3] &= static_cast<u8>(~mask_of(i));
            return true;
        }
        default:
            runtime_fatal(101, "bitset: unknown bit operation");
    }
}

// The bit number of a char!, integer! or float! (truncated); false for a
// negative one under test, which raises out-of-range otherwise.
bool bit_number(const Walk& w, const ValueCell* v, u64* n) {
    i64 x;
    switch (v->type()) {
        case TYPE_CHAR: x = dt::char_get(v); break;
        case TYPE_INTEGER: x = dt::int_get(v); break;
        default: {
            double d = v->get_float();
            if (std::isnan(d) || d >= 2147483648.0 || d <= -2147483649.0) {
                ValueCell held = *v;
                fire(Err::script_out_of_range, &held);
            }
            x = static_cast<i64>(d);
        }
    }
    if (x < 0) {
        if (w.op == BITS_TEST) return false;
        ValueCell held = *v;
        fire(Err::script_out_of_range, &held);
    }
    *n = static_cast<u64>(x);
    return true;
}

inline bool is_range_dash(const ValueCell* c) {
    return c->type() == TYPE_WORD && symbol_resolve(word_symbol(c)) == symbol_resolve(g_sym.dash);
}

bool walk(Walk& w, ValueCell* spec);

bool walk_string(Walk& w, ValueCell* s) {
    i32 total = string_total_length(s);
    i32 start = series_index(s) < 0 ? 0 : series_index(s);
    for (i32 i = start; i < total; i++) {
        u32 cp = string_char_at(s, static_cast<u32>(i));
        if (!apply_range(w, cp, cp) && w.op == BITS_TEST) return false;
    }
    return true;
}

bool walk_block(Walk& w, ValueCell* block) {
    for (i32 i = 0; i < block_length(block);) {
        ValueCell e = block_head_ptr(block)[i];
        u32 t = e.type();
        bool r;
        if ((t == TYPE_CHAR || t == TYPE_INTEGER) && i + 1 < block_length(block) &&
            is_range_dash(block_head_ptr(block) + i + 1)) {
            if (i + 2 >= block_length(block)) fire(Err::script_past_end);
            ValueCell hi = block_head_ptr(block)[i + 2];
            if (hi.type() != t) fire(Err::script_invalid_arg, &hi);
            i64 a = t == TYPE_CHAR ? i64(dt::char_get(&e)) : i64(dt::int_get(&e));
            i64 b = t == TYPE_CHAR ? i64(dt::char_get(&hi)) : i64(dt::int_get(&hi));
            if (b < a) fire(Err::script_past_end);
            if (a < 0) {
                if (w.op != BITS_TEST) fire(Err::script_out_of_range, &e);
                r = false;
            } else {
                r = apply_range(w, static_cast<u64>(a), static_cast<u64>(b));
            }
            i += 3;
        } else {
            ValueCell* held = stack_push(&e);
            r = walk(w, held);
            stack_pop(1);
            i++;
        }
        if (!r && w.op == BITS_TEST) return false;
    }
    return true;
}

bool walk(Walk& w, ValueCell* spec) {
    switch (spec->type()) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            u64 n;
            if (!bit_number(w, spec, &n)) return false;
            return apply_range(w, n, n);
        }
        case TYPE_STRING:
            return walk_string(w, spec);
        case TYPE_BLOCK:
            return walk_block(w, spec);
        case TYPE_BINARY:
            fire(Err::internal_not_done);
        default:
            bad_value(w, spec);
    }
}

// The word `not` at the head of a make spec.
inline bool is_not_word(const ValueCell* c) {
    return c->type() == TYPE_WORD && symbol_resolve(word_symbol(c)) == symbol_resolve(g_sym.not_);
}

// A copy of a bitset's buffer: stored bytes (each inverted with invert)
// and flag (toggled with invert), pushed.
ValueCell* copy_bits(const ValueCell* bitset, bool invert) {
    Node src = series_node(bitset);
    u32 n = bytes_of(src);
    bool flag = flag_of(src) != invert;
    ValueCell* out = bitset_push_new(n, 0, flag);
    const u8* from = head_of(src);
    u8* to = head_of(series_node(out));
    for (u32 i = 0; i < n; i++) to[i] = invert ? static_cast<u8>(~from[i]) : from[i];
    return out;
}

// Announces a change of the bitset to its owner: before with the action
// word, after with the past-tense word when an owner answered.
struct Announce {
    ValueCell* bitset;
    ValueCell* past;
    const ValueCell* value;
    bool owned;
    Announce(ValueCell* b, ValueCell* word, ValueCell* past_word, const ValueCell* v)
        : bitset(b), past(past_word), value(v) {
        owned = word && series_announce(bitset, word, value, 0, 0);
    }
    void done() {
        if (owned && past) series_announce(bitset, past, value, 0, 0);
    }
};

bool falsy(const ValueCell* v) {
    switch (v->type()) {
        case TYPE_NONE: return true;
        case TYPE_LOGIC: return !logic_get(v);
        case TYPE_INTEGER: return dt::int_get(v) == 0;
        case TYPE_FLOAT: return v->get_float() == 0.0;
        default: return false;
    }
}

}  // namespace

// ---- bits -------------------------------------------------------------------------------------------

u8* bitset_bits(const ValueCell* bitset) { return head_of(series_node(bitset)); }
u32 bitset_byte_count(const ValueCell* bitset) { return bytes_of(series_node(bitset)); }
bool bitset_complemented(const ValueCell* bitset) { return flag_of(series_node(bitset)); }

ValueCell* bitset_push_new(u32 bytes, u8 fill, bool complemented) {
    ValueCell* c = unset_push();
    if (bytes > MAX_BYTES) fire(Err::internal_no_memory);
    Node n = alloc_bytes(bytes ? bytes : 1);
    SeriesBuffer* b = node_buffer(n);
    std::memset(b->head_ptr(), fill, bytes);
    b->tail = b->head + bytes;
    if (complemented) b->flags |= SERIES_COMPLEMENT;
    cell_init(c, TYPE_BITSET, 0, n, 0);
    return c;
}

i32 bitset_apply_spec(ValueCell* spec, ValueCell* bitset, i32 op, bool nested, i32 mode) {
    if (op < BITS_MEASURE || op > BITS_CLEAR) runtime_fatal(101, "bitset: unknown bit operation");
    ValueCell* top = g_stack.top;
    ValueCell* s = stack_push(spec);
    Walk w{bitset ? series_node(bitset) : 0, op, mode};
    bool r = walk(w, s);
    g_stack.top = top;
    if (op == BITS_TEST) return r ? 1 : 0;
    if (op == BITS_CLEAR || nested) return 0;
    i64 bytes = (w.highest + 8) >> 3;
    if (bytes < 1) bytes = 1;
    if (op == BITS_SET) ensure_bytes(w.node, static_cast<u64>(bytes));
    return static_cast<i32>(bytes);
}

// ---- make --------------------------------------------------------------------------------------------

ValueCell* bitset_make_from_spec(ValueCell* spec, bool is_to) {
    ValueCell* base = g_stack.top;
    ValueCell* sp = stack_push(spec);
    bool negated = false;
    if (sp->type() == TYPE_BLOCK && block_length(sp) > 0 && is_not_word(block_head_ptr(sp))) {
        negated = true;
        series_set_index(sp, static_cast<i32>(block_head_ptr(sp) - series_buffer(sp)->head_cells()) + 1);
        if (block_length(sp) > 0 && block_head_ptr(sp)->type() == TYPE_BINARY)
            *sp = *block_head_ptr(sp);
    }
    i32 mode = is_to ? BITS_MODE_TO : BITS_MODE_MAKE;
    ValueCell made;
    switch (sp->type()) {
        case TYPE_BITSET:
            made = *copy_bits(sp, false);
            break;
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            if (is_to) number_fire_bad_to_arg(TYPE_BITSET, sp);
            i32 bits = dt::int_arg(sp);
            if (bits < 0) fire(Err::script_out_of_range, sp);
            made = *bitset_push_new(static_cast<u32>((u64(bits) + 7) >> 3), 0, false);
            break;
        }
        case TYPE_BINARY: {
            i32 len = series_buffer_length(sp);
            i32 idx = series_index(sp);
            if (idx > len) idx = len;
            if (idx < 0) idx = 0;
            u32 n = static_cast<u32>(len - idx);
            ValueCell* out = bitset_push_new(n, 0, negated);
            const u8* from = series_buffer(sp)->head_ptr() + idx;
            u8* to = head_of(series_node(out));
            for (u32 i = 0; i < n; i++) to[i] = negated ? static_cast<u8>(~from[i]) : from[i];
            made = *out;
            break;
        }
        default: {
            i32 bytes = bitset_apply_spec(sp, nullptr, BITS_MEASURE, false, mode);
            ValueCell* out = bitset_push_new(static_cast<u32>(bytes), negated ? 0xFF : 0x00, negated);
            bitset_apply_spec(sp, out, negated ? BITS_CLEAR : BITS_SET, false, mode);
            made = *out;
        }
    }
    g_stack.top = base;
    return stack_push(&made);
}

ValueCell* bitset_make(ValueCell*, ValueCell* spec, u32) { return bitset_make_from_spec(spec, false); }
ValueCell* bitset_to(ValueCell*, ValueCell* spec, u32) { return bitset_make_from_spec(spec, true); }

// ---- set operations ------------------------------------------------------------------------------------

void bitset_set_op(i32 op) {
    if (op == 8) return;
    enum { OR, AND, XOR, AND_NOT } kind;
    switch (op) {
        case 5: case 9: kind = OR; break;
        case 6: case 10: kind = AND; break;
        case 7: case 12: kind = XOR; break;
        case 11: kind = AND_NOT; break;
        default: runtime_fatal(101, "bitset: unknown set operation");
    }
    ValueCell* b = stack_arg(1);
    if (b->type() != TYPE_BITSET) {
        ValueCell* dt = datatype_push(b->type());
        fire(Err::script_invalid_type, dt);
    }
    auto combine = [kind](u32 x, u32 y) -> u32 {
        switch (kind) {
            case OR: return x | y;
            case AND: return x & y;
            case XOR: return x ^ y;
            default: return x & ~y;
        }
    };
    Node na = series_node(stack_arg(0)), nb = series_node(b);
    u32 la = bytes_of(na), lb = bytes_of(nb);
    bool fa = flag_of(na), fb = flag_of(nb);
    bool flag = (combine(fa ? 1u : 0u, fb ? 1u : 0u) & 1u) != 0;
    u32 len = std::max(la, lb);
    // and~ stops at the shorter operand, whose missing bits are all clear,
    // unless it is complemented (then its missing bits are all set).
    if (op == 6 && !((la <= lb) ? fa : fb)) len = std::min(la, lb);
    ValueCell* r = bitset_push_new(len, 0, flag);
    const u8* pa = head_of(na);
    const u8* pb = head_of(nb);
    u8* pr = head_of(series_node(r));
    u8 pad_a = fa ? 0xFF : 0x00, pad_b = fb ? 0xFF : 0x00;
    for (u32 i = 0; i < len; i++) {
        u32 x = i < la ? pa[i] : pad_a;
        u32 y = i < lb ? pb[i] : pad_b;
        pr[i] = static_cast<u8>(combine(x, y));
    }
    *stack_result() = *r;
}

void bitset_and_t() { bitset_set_op(6); }
void bitset_or_t() { bitset_set_op(5); }
void bitset_xor_t() { bitset_set_op(7); }

ValueCell* bitset_complement(ValueCell* bitset) { return copy_bits(bitset, true); }

void bitset_negate(ValueCell* bitset) {
    ValueCell made = *copy_bits(bitset, true);
    *bitset = made;
}

// ---- reflection and ownership ------------------------------------------------------------------------

void bitset_reflect(ValueCell* bitset, u32 field) {
    if (symbol_resolve(field) != symbol_resolve(g_sym.owned)) fire(Err::internal_not_done);
    ValueCell result = g_none_cell;
    if (ValueCell* owner = ownership_owner_of(series_node(bitset))) result = *owner;
    *stack_result() = result;
}

ValueCell* bitset_modify(ValueCell* bitset, ValueCell* field, ValueCell* value, bool) {
    if (field->type() < TYPE_WORD || field->type() > TYPE_ISSUE ||
        symbol_resolve(word_symbol(field)) != symbol_resolve(g_sym.owned))
        return value;
    ValueCell* top = g_stack.top;
    ValueCell* b = stack_push(bitset);
    if (value->type() == TYPE_NONE) {
        ownership_release(b);
    } else if (value->type() == TYPE_BLOCK && block_length(value) >= 2) {
        ValueCell* owner = stack_push(block_head_ptr(value));
        ValueCell* word = stack_push(block_head_ptr(value) + 1);
        ownership_bind_object(b, owner, word);
    }
    g_stack.top = top;
    return value;
}

// ---- text form ----------------------------------------------------------------------------------------

i32 bitset_form(ValueCell* bitset, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    Node node = series_node(bitset);
    bool flag = flag_of(node);
    std::string text = flag ? "make bitset! [not #{" : "make bitset! #{";
    limit -= static_cast<i32>(text.size());
    u32 n = bytes_of(node);
    const u8* p = head_of(node);
    bool cut = false;
    for (u32 i = 0; i < n; i++) {
        if (arg_limit && limit <= 0) {
            cut = true;
            break;
        }
        text += string_byte_to_hex(flag ? static_cast<u8>(~p[i]) : p[i]);
        limit -= 2;
    }
    if (!cut) {
        text += flag ? "}]" : "}";
        limit -= flag ? 2 : 1;
    }
    string_append_cstr(out, text.c_str());
    return limit;
}

i32 bitset_mold(ValueCell* bitset, ValueCell* out, bool, bool, bool, ValueCell* arg_limit,
                i32 limit, i32) {
    return bitset_form(bitset, out, arg_limit, limit);
}

// ---- comparison ----------------------------------------------------------------------------------------

i32 bitset_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_BITSET) return CMP_NOT_COMPARABLE;
    Node a = series_node(value1), b = series_node(value2);
    if (op == CMP_SAME) return a == b ? 0 : 1;
    u32 la = bytes_of(a), lb = bytes_of(b);
    if (la != lb) return la < lb ? -1 : 1;
    if (la == 0) return 0;
    bool fa = flag_of(a), fb = flag_of(b);
    if (fa != fb) return fa ? 1 : -1;
    const u8* pa = head_of(a);
    const u8* pb = head_of(b);
    for (u32 i = la; i-- > 0;) {
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    }
    return 0;
}

// ---- series actions --------------------------------------------------------------------------------------

void bitset_insert(ValueCell* bitset, ValueCell* value, i32, bool, i32, bool) {
    ValueCell* top = g_stack.top;
    ValueCell* b = stack_push(bitset);
    ValueCell* v = stack_push(value);
    Announce note(b, g_words.insert, g_words.n.inserted, v);
    bitset_apply_spec(v, b, BITS_SET, false, BITS_MODE_OTHER);
    note.done();
    g_stack.top = top;
}

void bitset_clear(ValueCell* bitset) {
    ValueCell* top = g_stack.top;
    ValueCell* b = stack_push(bitset);
    Announce note(b, g_words.n.clear, g_words.n.cleared, nullptr);
    Node node = series_node(b);
    std::memset(head_of(node), pad_of(node), bytes_of(node));
    note.done();
    g_stack.top = top;
}

ValueCell* bitset_copy(ValueCell* bitset, ValueCell* fresh, ValueCell*, bool, ValueCell*) {
    ValueCell made = *copy_bits(bitset, false);
    *fresh = made;
    return fresh;
}

ValueCell* bitset_find(ValueCell* bitset, ValueCell* value, ValueCell*, bool, bool, bool, bool,
                       ValueCell*, ValueCell*, bool, bool, bool, bool) {
    bool r = bitset_apply_spec(value, bitset, BITS_TEST, false, BITS_MODE_OTHER) != 0;
    return r ? logic_push(true) : none_push();
}

i32 bitset_length_q(ValueCell* bitset) {
    return static_cast<i32>(std::min<u64>(u64(bytes_of(series_node(bitset))) * 8, 0x7FFFFFFF));
}

ValueCell* bitset_pick(ValueCell* bitset, i32, ValueCell* key) {
    return logic_push(bitset_apply_spec(key, bitset, BITS_TEST, false, BITS_MODE_OTHER) != 0);
}

ValueCell* bitset_poke(ValueCell* bitset, i32, ValueCell* value, ValueCell* key) {
    ValueCell* top = g_stack.top;
    ValueCell* b = stack_push(bitset);
    ValueCell* k = stack_push(key);
    ValueCell* v = stack_push(value);
    Announce note(b, g_words.n.poke, g_words.n.poked, v);
    bitset_apply_spec(k, b, falsy(v) ? BITS_CLEAR : BITS_SET, false, BITS_MODE_OTHER);
    note.done();
    g_stack.top = top;
    return value;
}

void bitset_remove(ValueCell* bitset, ValueCell*, ValueCell* key) {
    if (!key) fire(Err::script_missing_arg);
    ValueCell* top = g_stack.top;
    ValueCell* b = stack_push(bitset);
    ValueCell* k = stack_push(key);
    Announce note(b, g_words.remove, g_words.n.removed, k);
    // The key's bits stop being members, complemented or not: clearing a
    // stored bit (the buffer grown with set bits under the flag) does that.
    bitset_apply_spec(k, b, BITS_CLEAR, false, BITS_MODE_OTHER);
    note.done();
    g_stack.top = top;
}

ValueCell* bitset_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value, ValueCell*,
                            ValueCell*, ValueCell*, i32, bool, bool, bool, bool) {
    u32 t = element->type();
    if (t != TYPE_INTEGER && t != TYPE_CHAR) {
        ValueCell* dt = datatype_push(t);
        fire(Err::script_invalid_type, dt);
    }
    if (!value) return bitset_pick(parent, 0, element);
    return bitset_poke(parent, 0, value, element);
}

// ---- registration ----------------------------------------------------------------------------------------

void bitset_init() {
    ActionRow row;
    row.set<ACT_MAKE>(bitset_make)
        .set<ACT_REFLECT>(bitset_reflect)
        .set<ACT_TO>(bitset_to)
        .set<ACT_FORM>(bitset_form)
        .set<ACT_MOLD>(bitset_mold)
        .set<ACT_EVAL_PATH>(bitset_eval_path)
        .set<ACT_COMPARE>(bitset_compare)
        .set<ACT_NEGATE>(bitset_negate)
        .set<ACT_AND_T>(bitset_and_t)
        .set<ACT_COMPLEMENT>(bitset_complement)
        .set<ACT_OR_T>(bitset_or_t)
        .set<ACT_XOR_T>(bitset_xor_t)
        .set<ACT_APPEND>(bitset_insert)
        .set<ACT_CLEAR>(bitset_clear)
        .set<ACT_COPY>(bitset_copy)
        .set<ACT_FIND>(bitset_find)
        .set<ACT_INSERT>(bitset_insert)
        .set<ACT_LENGTH_Q>(bitset_length_q)
        .set<ACT_PICK>(bitset_pick)
        .set<ACT_POKE>(bitset_poke)
        .set<ACT_REMOVE>(bitset_remove)
        .set<ACT_MODIFY>(bitset_modify);
    datatype_register(TYPE_BITSET, row);
}

}  // namespace zan
