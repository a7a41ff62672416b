#include "runtime/eval/interp/direct_call.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/interp/interp_pure.h"

namespace zan {

namespace {

// ---- the routines ----------------------------------------------------------------------------
// Each does what its action's entry does on these operands, the result cell
// made as that entry makes it.

inline bool remainder_direct(ValueCell* a, ValueCell* out) {
    if (a[0].type() != TYPE_INTEGER || a[1].type() != TYPE_INTEGER) return false;
    i32 l = integer_get(a), r = integer_get(a + 1);
    // Zero and the one overflowing case raise their errors in the action.
    if (r == 0 || (l == INT32_MIN && r == -1)) return false;
    *out = a[0];
    out->data2 = static_cast<u32>(l % r);
    return true;
}

inline bool pick_direct(ValueCell* a, ValueCell* out) {
    if (a[0].type() != TYPE_BLOCK || a[1].type() != TYPE_INTEGER) return false;
    series_pick_block(a, integer_get(a + 1), out);
    // (An unset! cell would be refused by a set-word: the call answers it.)
    return out->type() != TYPE_UNSET;
}

// The keys a map's quick lookup may answer, all of them accepted by the key
// parameters of select and put.
inline bool quick_key(u32 t) {
    return t == TYPE_STRING || t == TYPE_INTEGER || t == TYPE_WORD || t == TYPE_CHAR;
}

inline bool select_direct(ValueCell* a, ValueCell* out) {
    if (a[0].type() != TYPE_MAP || !quick_key(a[1].type())) return false;
    return map_select_quick(a, a + 1, out) && out->type() != TYPE_UNSET;
}

inline bool put_direct(ValueCell* a, ValueCell* out) {
    if (a[0].type() != TYPE_MAP || !quick_key(a[1].type())) return false;
    if (!map_put_quick(a, a + 1, a + 2)) return false;
    *out = a[2];
    return true;
}

inline bool append_direct(ValueCell* a, ValueCell* out) {
    u32 st = a[0].type();
    if (st == TYPE_STRING) {
        if (string_append_bytes_quick(a, a + 1)) {
            *out = a[0];
            series_set_index(out, 0);
            return true;
        }
        return string_append_growing(a, a + 1, out);
    }
    if (st == TYPE_BLOCK) return block_append_quick(a, a + 1, false, out);
    return false;
}

// ---- the walk over the arguments -------------------------------------------------------------
// Nothing here allocates, so the walk's cells stay where they are (read
// once, in direct_call) and values are held in locals. A routine that may
// allocate is the last thing a direct call does: nothing reads the walk's
// cells after it.

// The direct call of a word at j holding v when its routine changes
// nothing (a call in an argument), else 0.
[[gnu::noinline]] u32 nested_call(EvalWalk& w, u32 j, const ValueCell* v, ValueCell* out,
                                  u32 depth) {
    const DirectEntry* d = direct_entry(v);
    if (!d || !d->pure || depth >= DIRECT_MAX_DEPTH) return 0;
    return d->call(w, j + 1, out, depth + 1, false);
}

// An operand at j: a value that evaluates to itself, a word holding a plain
// value, or the direct call of a routine that changes nothing (whose last
// argument takes any operators after it). The index after it, or 0.
// known: the value of the word at j when it was looked up just before (the
// look for an operator after the argument before it), else null.
[[gnu::always_inline]] inline u32 operand_at(EvalWalk& w, u32 j, ValueCell* out, u32 depth,
                                             const ValueCell* known = nullptr) {
    if (ZAN_UNLIKELY(j >= w.end)) return 0;
    const ValueCell* c = w.cells + j;
    u32 t = c->type();
    if (self_evaluating(t)) {
        *out = *c;
        return j + 1;
    }
    if (t != TYPE_WORD) return 0;
    const ValueCell* v = known ? known : word_value_if_available_inline(c);
    if (!v) return 0;
    u32 vt = v->type();
    if (vt == TYPE_ACTION) return nested_call(w, j, v, out, depth);
    if (is_callable_type(vt) || vt == TYPE_UNSET || vt == TYPE_OP) return 0;
    *out = *v;
    return j + 1;
}

// The value of the word at j when it holds an operator, else null; *ahead
// receives the value of a word holding anything else (its look-up kept for
// the operand that starts there).
[[gnu::always_inline]] inline const ValueCell* op_ahead(EvalWalk& w, u32 j,
                                                        const ValueCell** ahead) {
    if (j >= w.end) return nullptr;
    const ValueCell* c = w.cells + j;
    if (c->type() != TYPE_WORD) return nullptr;
    const ValueCell* v = word_value_if_available_inline(c);
    if (v && v->type() == TYPE_OP) return v;
    *ahead = v;
    return nullptr;
}

// The operators with an inline integer path after a value acc, from the
// operator at j (its value opv) on, applied as the walker applies them (a
// logic! result ends the chain or refuses it).
[[gnu::always_inline]] inline u32 ops_after(EvalWalk& w, u32 j, const ValueCell* opv,
                                            ValueCell* acc, u32 depth,
                                            const ValueCell** ahead) {
    do {
        if (acc->type() != TYPE_INTEGER) return 0;
        i32 code = fast_code(opv);
        if (code < 0) return 0;
        ValueCell r;
        u32 k = operand_at(w, j + 1, &r, depth);
        if (!k || r.type() != TYPE_INTEGER || !int_op_inline(code, acc, &r)) return 0;
        j = k;
    } while ((opv = op_ahead(w, j, ahead)));
    return j;
}

// An argument at j: an operand, then the operators after it. *ahead: in,
// the value of the word at j when already looked up (else null); out, the
// value of the word after the argument when it was looked up (else null).
[[gnu::always_inline]] inline u32 arg_at(EvalWalk& w, u32 j, ValueCell* out, u32 depth,
                                         const ValueCell** ahead) {
    j = operand_at(w, j, out, depth, *ahead);
    *ahead = nullptr;
    if (!j) return 0;
    const ValueCell* opv = op_ahead(w, j, ahead);
    return opv ? ops_after(w, j, opv, out, depth, ahead) : j;
}

// The arguments of a call from j on, then its routine F of N arguments.
// With whole, only a call that ends the walk is made. (One instance per
// routine: the argument loop unrolled, the routine inlined.)
template <u32 N, bool (*F)(ValueCell*, ValueCell*)>
u32 call_with(EvalWalk& w, u32 j, ValueCell* out, u32 depth, bool whole) {
    static_assert(N > 0, "the last argument takes the operators after a call");
    ValueCell args[N];
    const ValueCell* ahead = nullptr;
    for (u32 a = 0; a < N; a++) {
        j = arg_at(w, j, args + a, depth, &ahead);
        if (!j) return 0;
    }
    if (whole && j != w.end) return 0;
    return F(args, out) ? j : 0;
}

constexpr DirectTable make_action_table() {
    DirectTable at{};
    DirectEntry* t = at.by_number;
    t[ACT_REMAINDER] = {call_with<2, remainder_direct>, 2, true, remainder_direct};
    t[ACT_PICK] = {call_with<2, pick_direct>, 2, true, pick_direct};
    t[ACT_SELECT] = {call_with<2, select_direct>, 2, true, select_direct};
    t[ACT_PUT] = {call_with<3, put_direct>, 3, false, put_direct};
    t[ACT_APPEND] = {call_with<2, append_direct>, 2, false, append_direct};
    return at;
}

// The value of a branch block holding nothing but a plain value or one
// direct call, made; false, nothing done, for any other block.
bool branch_value(const ValueCell* block, ValueCell* out) {
    EvalWalk bw(block);
    if (bw.start >= bw.end) return false;
    const ValueCell* c = bw.cells + bw.start;
    if (bw.start + 1 == bw.end) {
        if (const ValueCell* val = simple_value_quiet(c)) {
            *out = *val;
            return true;
        }
    }
    if (c->type() != TYPE_WORD) return false;
    const ValueCell* v = word_value_if_available_inline(c);
    const DirectEntry* d = v ? direct_entry(v) : nullptr;
    return d && d->call(bw, bw.start + 1, out, 0, true) != 0;
}

constexpr u64 action_bits(const DirectTable& t) {
    u64 bits = 0;
    for (u32 n = 1; n <= ACT_COUNT; n++)
        if (t.by_number[n].nargs) bits |= u64(1) << n;  // (every row takes an argument)
    return bits;
}

// A failed attempt remembered (see direct_worth_trying).
inline u32 noted(const ValueCell* site, u32 j) {
    if (!j) {
        DirectMiss& m = direct_miss_slot(site);
        m.site = site;
        m.skips = DIRECT_MISS_SKIPS;
    }
    return j;
}

// direct_conditional's work, the site aside.
u32 conditional_at(EvalWalk& w, u32 i, u32 nat, ValueCell* out, ConditionalArgs& rest) {
    u32 j = i + 1;
    u32 nblocks = nat == NAT_EITHER ? 2 : 1;
    if (j >= w.end) return 0;
    // The condition, or a set-word of it (stored before the branch, which
    // may read it).
    ValueCell* slot = nullptr;
    ValueCell cond;
    if (w.cells[j].type() == TYPE_SET_WORD) {
        slot = word_slot_direct(w.cells + j);
        if (!slot) return 0;
        j++;
    }
    const ValueCell* ahead = nullptr;
    j = arg_at(w, j, &cond, 0, &ahead);
    if (!j) return 0;
    ValueCell blocks[2];
    for (u32 b = 0; b < nblocks; b++) {
        j = arg_at(w, j, blocks + b, 0, &ahead);
        if (!j || blocks[b].type() != TYPE_BLOCK) return 0;
    }
    bool yes = truthy(&cond);
    if (nat != NAT_EITHER && yes != (nat == NAT_IF)) {
        if (slot) *slot = cond;
        none_box(out);
        return j;
    }
    if (slot) *slot = cond;
    const ValueCell* chosen = nat == NAT_EITHER && !yes ? blocks + 1 : blocks;
    if (branch_value(chosen, out)) return j;
    // The arguments as the conditional's frame takes them (the word set).
    rest.args[0] = cond;
    rest.args[1] = blocks[0];
    rest.args[2] = blocks[1];
    rest.count = 1 + nblocks;
    return j;
}

}  // namespace

constinit const DirectTable g_direct_actions = make_action_table();
constinit const u64 g_direct_action_bits = action_bits(make_action_table());
DirectMiss g_direct_misses[DIRECT_MISS_SLOTS];

u32 direct_call(EvalWalk& w, u32 i, const DirectEntry* d, ValueCell* out) {
    if (ZAN_UNLIKELY(!room_for_ordinary_call())) return 0;
    const ValueCell* site = w.at(i);
    return noted(site, d->call(w, i + 1, out, 0, false));
}

u32 direct_value(EvalWalk& w, u32 i, const ValueCell* fn, ValueCell* out) {
    const DirectEntry* d = direct_entry(fn);
    if (!d || !d->pure || ZAN_UNLIKELY(!room_for_ordinary_call())) return 0;
    const ValueCell* site = w.at(i);
    if (!direct_worth_trying(site)) return 0;
    // (Every routine takes an argument, and the last one took the operators
    // after it: none follows the call.)
    return noted(site, d->call(w, i + 1, out, 0, false));
}

u32 direct_conditional(EvalWalk& w, u32 i, u32 nat, ValueCell* out, ConditionalArgs& rest) {
    if (ZAN_UNLIKELY(!room_for_ordinary_call()) || ZAN_UNLIKELY(g_interrupt_pending)) return 0;
    const ValueCell* site = w.at(i);
    u32 j = conditional_at(w, i, nat, out, rest);
    // (A branch that needed the walker is remembered as a failure: the
    // conditional's own protocol costs less than its direct form when the
    // branch is walked anyway.)
    noted(site, rest.count ? 0 : j);
    return j;
}

}  // namespace zan
