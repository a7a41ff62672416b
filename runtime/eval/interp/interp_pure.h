// The expressions the interpreter answers without a call, a frame or an
// allocation: integer operands of the operators with an inline path, and
// chains of them after a simple value. Shared by the walker (a set-word's
// value, a paren) and the loops that run such blocks directly.
#pragma once
#include <bit>
#include <cstring>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/number_infix.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

// typeset_has_type read a word at a time: the bit of type t, bit 7 - (t & 7)
// of byte t >> 3, is bit (t & 31) ^ 7 of word t >> 5 on a little-endian
// machine (one shift of a word instead of a byte's load and a mask).
// The first two words read as one (every datatype id is below 64): the
// bit of type t is then bit t ^ 7 of the 64-bit word.
static_assert(std::endian::native == std::endian::little, "typeset words");
static_assert(TYPE_TABLE_SIZE <= 64, "type ids fit the typeset's first two words");
inline bool arg_type_ok(const ValueCell* ts, u32 t) {
    u64 low;
    std::memcpy(&low, typeset_words(ts), sizeof low);
    return t < 64 && ((low >> (t ^ 7)) & 1) != 0;
}

// An interpreted function without trace attributes: the common call.
// more: the function's "more" cells.
inline bool plain_interpreted(const ValueCell* fn, const ValueCell* more) {
    if (fn->header & (FUNCTION_TRACE | FUNCTION_NO_TRACE)) return false;
    const ValueCell* entry = more + MORE_ENTRY;
    return entry->type() != TYPE_INTEGER || integer_get(entry) == 0;
}

// The code of remainder: inline for two integers only; every other case
// takes the operator's ordinary call.
constexpr i32 FAST_REMAINDER = 4;

// Inline paths of the common operators: the action or comparison they run
// (by its action or native number), as fast-operator codes; -1 when none.
inline i32 action_math_code(u32 action) {
    switch (action) {
        case ACT_ADD: return 0;
        case ACT_SUBTRACT: return 1;
        case ACT_MULTIPLY: return 2;
        case ACT_REMAINDER: return FAST_REMAINDER;
        case ACT_OR_T: return 5;
        case ACT_AND_T: return 6;
        case ACT_XOR_T: return 7;
        default: return -1;
    }
}
inline i32 native_compare_code(u32 native) {
    switch (native) {
        case NAT_EQUAL_Q: return 0;
        case NAT_NOT_EQUAL_Q: return 1;
        case NAT_STRICT_EQUAL_Q: return 2;
        case NAT_LESSER_Q: return 3;
        case NAT_LESSER_OR_EQUAL_Q: return 4;
        case NAT_GREATER_Q: return 5;
        case NAT_GREATER_OR_EQUAL_Q: return 6;
        default: return -1;
    }
}
inline i32 fast_math_code(const ValueCell* op) {
    return op_wrapped_type(op) == TYPE_ACTION ? action_math_code(callable_entry(op)) : -1;
}
inline i32 fast_compare_code(const ValueCell* op) {
    return op_wrapped_type(op) == TYPE_NATIVE ? native_compare_code(callable_entry(op)) : -1;
}

// Two integer! operands of an operator, the result written over the left
// one in place (one store, no temporary cell).
inline bool int_math_inline(i32 op, ValueCell* left, const ValueCell* right) {
    i32 r;
    if (!int_math_raw(op, integer_get(left), integer_get(right), &r)) return false;
    cell_put(left, TYPE_INTEGER, 0, static_cast<u32>(r), 0);
    return true;
}
inline bool int_compare_inline(i32 op, ValueCell* left, const ValueCell* right) {
    bool r = int_compare_raw(op, integer_get(left), integer_get(right));
    cell_put(left, TYPE_LOGIC, r ? 1u : 0u, 0, 0);
    return true;
}

// The operation code of an operator with an inline path: 0..7 the math
// codes of add, subtract, multiply, or~, and~, xor~; 16 + the comparison
// code of the comparison natives; -1 for any other operator.
inline i32 fast_code(const ValueCell* op) {
    u32 t = op_wrapped_type(op);
    if (t == TYPE_ACTION) return fast_math_code(op);
    if (t == TYPE_NATIVE) {
        i32 c = fast_compare_code(op);
        return c < 0 ? -1 : 16 + c;
    }
    return -1;
}

// Either inline operation by its fast code (int_compare_inline for 16 and
// above, int_math_inline below).
inline bool int_op_inline(i32 code, ValueCell* left, const ValueCell* right) {
    return code >= 16 ? int_compare_inline(code - 16, left, right)
                      : int_math_inline(code, left, right);
}

// The operator codes the walker's operator step computes inline: those of
// fast_code and divide (MATH_DIVIDE).
inline i32 infix_code(const ValueCell* op) {
    u32 t = op_wrapped_type(op);
    if (t == TYPE_ACTION) {
        u32 a = callable_entry(op);
        return a == ACT_DIVIDE ? MATH_DIVIDE : action_math_code(a);
    }
    if (t == TYPE_NATIVE) {
        i32 c = fast_compare_code(op);
        return c < 0 ? -1 : 16 + c;
    }
    return -1;
}

// The operation of an infix_code on integer! and float! operands, the
// result over left; false (left unchanged) when the action must run.
__attribute__((always_inline)) inline bool number_op_inline(i32 code, ValueCell* left,
                                                            const ValueCell* right) {
    return code >= 16 ? number_compare_inline(code - 16, left, right)
                      : number_math_inline(code, left, right);
}

// Whether frames more call frames fit in the stacks, with a margin of
// data cells wide enough for any way the walker takes to the same value
// (near the limits the inline steps give way, and the walker overflows
// where it always did).
inline bool room_for_frames(i64 frames) {
    return g_stack.climit - g_stack.ctop >= frames && g_stack.limit - g_stack.top > 64;
}

// An operator step on two operands at hand: number_op_inline, where the
// plain integer operations (no divide, no overflow) always apply, and
// every other case (which once called the operator with a frame of its
// own, frames deep from here) only with room for that frame, so that the
// stacks overflow where they always did.
__attribute__((always_inline)) inline bool operator_step_inline(i32 code, ValueCell* left,
                                                                const ValueCell* right,
                                                                i64 frames) {
    if (__builtin_expect(left->type() == TYPE_INTEGER && right->type() == TYPE_INTEGER &&
                             code != MATH_DIVIDE,
                         1) &&
        int_op_inline(code, left, right))
        return true;
    if (__builtin_expect(!room_for_frames(frames), 0)) return false;
    return number_op_inline(code, left, right);
}

// The right operand of an inline operator: the cell, or the slot of the
// word in it (null when its context has no values available).
inline const ValueCell* pure_operand(const ValueCell* rv) {
    return rv->type() == TYPE_WORD ? word_value_if_available(rv) : rv;
}

// A paren standing as an operand of such an expression (or as its first
// value) is taken as its value when it holds nothing but one expression of
// the form: nothing in it can call, allocate or raise an error either.
// The walker would mark frames for it (the operator's and the paren's, at
// each level): a paren is taken only with room to spare for all of them on
// both stacks, so that near the limits the walker runs it and overflows
// where it would. An interrupt waiting is left to the walker, which takes
// it at the paren's statement.
constexpr u32 PURE_PAREN_DEPTH = 4;
inline bool pure_paren_room(u32 depth) {
    return g_stack.climit - g_stack.ctop > static_cast<i64>(2 * depth + 4) &&
           g_stack.limit - g_stack.top > static_cast<i64>(8 + 4 * depth);
}
// The value of the paren (depth: parens around it, itself included) into
// *out; false when it is not of the form.
bool pure_paren(const ValueCell* paren, u32 depth, ValueCell* out);

// The value of an expression that needs no call, no frame and no
// allocation, into *out: a simple value (simple_value) followed by
// operators that number_op_inline answers for their operands, each with a
// simple right operand; a paren of the same form may stand for any of its
// values. Returns the index after the expression, or 0 when it is not of
// that form; nothing is changed then, and nothing here raises an error.
// When callable is given and the expression starts with a word holding a
// callable, *callable receives its value (valid until something allocates).
// cells, end: the cells of the block from its buffer's head and its tail;
// depth: the parens the expression stands in.
inline u32 pure_expr_in(const ValueCell* cells, u32 end, u32 i, ValueCell* out,
                        const ValueCell** callable, u32 depth) {
    const ValueCell* v = cells + i;
    u32 t = v->type();
    const ValueCell* val;
    ValueCell inner;
    if (self_evaluating(t)) {
        val = v;
    } else if (t == TYPE_WORD) {
        val = word_value_if_available(v);
        if (!val) return 0;
        u32 vt = val->type();
        if (is_callable_type(vt)) {
            if (callable) *callable = val;
            return 0;
        }
        if (vt == TYPE_UNSET || vt == TYPE_OP) return 0;
    } else if (t == TYPE_PAREN) {
        if (!pure_paren(v, depth + 1, &inner)) return 0;
        val = &inner;
    } else {
        return 0;
    }
    ValueCell acc = *val;
    i++;
    while (i < end) {
        const ValueCell* nv = cells + i;
        if (nv->type() != TYPE_WORD) break;
        ValueCell* opv = word_value_if_available(nv);
        if (!opv || opv->type() != TYPE_OP) break;
        if (i + 1 >= end) return 0;
        i32 code = infix_code(opv);
        if (code < 0) return 0;
        const ValueCell* rv = cells + i + 1;
        if (rv->type() == TYPE_WORD) {
            rv = word_value_if_available(rv);
            if (!rv) return 0;
        } else if (rv->type() == TYPE_PAREN) {
            if (!pure_paren(rv, depth + 1, &inner)) return 0;
            rv = &inner;
        }
        // (Within the walker's frame for the set-word or the paren, and the
        // frames of the parens around it.)
        if (!operator_step_inline(code, &acc, rv, 2 + 2 * static_cast<i64>(depth))) return 0;
        i += 2;
    }
    *out = acc;
    return i;
}

// pure_expr_in at walk index i, outside any paren.
inline u32 pure_expr(EvalWalk& w, u32 i, ValueCell* out, const ValueCell** callable = nullptr) {
    // Nothing below allocates, so the cells stay where they are.
    return pure_expr_in(w.at(0), w.end, i, out, callable, 0);
}

// The slot a set-word writes when word_assign would write it directly (a
// global word, or a word of a context whose values are reachable without
// a call), else null.
inline ValueCell* word_slot_direct(const ValueCell* word) {
    Node n = word_binding(word);
    i32 idx = word_index(word);
    if (!n || idx < 0) return nullptr;
    if (n == g_global_values.ctx) return global_value_slot(static_cast<u32>(idx));
    ValueCell* ctx = context_cell(n);
    u32 vals = context_values(ctx);
    if (!vals) return nullptr;
    if (ctx->header & CONTEXT_VALUES_ON_STACK) return hptr<ValueCell>(vals) + idx;
    if (context_kind(ctx) == CTX_GLOBAL) return node_buffer(vals)->head_cells() + idx;
    return nullptr;
}

// ---- blocks of pure statements -----------------------------------------------------------------
// A block whose statements are all of pure_expr's form (a set-word whose
// slot word_slot_direct reaches, followed by such an expression, or the
// expression alone, or a paren holding one such statement), resolved once
// to the cells it reads and the slots it writes. A paren standing as an
// operand becomes a step of its own before its statement's, its value
// kept in a scratch cell that the statement's step reads. A loop whose
// blocks are all of this form runs them with run():
// nothing in them can call, allocate, raise an error or change a block, so
// no frame, position or walk of theirs could be seen, the cells and slots
// stay where they are, and nothing but their own stores changes a value
// (pure_loop_sound rules out a store into an operator's word). run() checks
// the operand types and the overflow of every operation as the walker
// does and stops before the statement where one fails; the walker takes
// over from that statement.
struct PureBlock {
    static constexpr u32 MAX_STEPS = 12;
    static constexpr u32 MAX_OPS = 16;
    static constexpr u32 MAX_TEMPS = 4;
    static constexpr u32 DONE = ~0u;
    struct Op {
        i32 code;              // fast code
        const ValueCell* rhs;  // a word's slot, a cell of the block or a scratch cell
    };
    struct Step {
        u32 index;              // walk index of the statement (of the block's)
        ValueCell* dest;        // the set-word's slot, value or a scratch cell
        const ValueCell* head;  // a cell of the block, a word's slot or a scratch cell
        u32 first_op;           // its operators: nops of them from ops[first_op]
        u32 nops;
    };
    Step steps[MAX_STEPS];
    Op ops[MAX_OPS];
    const ValueCell* op_slots[MAX_OPS];  // the values of the operators' words
    ValueCell temps[MAX_TEMPS];          // the values of the parens standing as operands
    u32 nsteps;
    u32 nops;
    u32 ntemps;
    u32 depth;                // the deepest paren standing as an operand
    ValueCell value;          // the value of a statement without a set-word
    const ValueCell* result;  // where the last statement's value lands

    // Resolves the statements of the walk from its start; false when one
    // is not of the form (or there are none, or too many).
    bool build(EvalWalk& w);
    // One statement (with or without its set-word) or one expression of
    // the block's statement at walk index index, from cells[i] (before
    // end), into steps; the index after it, or 0 when it is not of the form.
    u32 statement(const ValueCell* cells, u32 i, u32 end, u32 index);
    u32 expression(const ValueCell* cells, u32 i, u32 end, u32 index, ValueCell* dest, u32 level);
    // The cell an operand (or an expression's first value, head) is read
    // from; null when it is not of the form.
    const ValueCell* operand(const ValueCell* c, u32 index, u32 level, bool head);
    // Runs the statements, the last one's value into *result; DONE, or the
    // walk index of the statement to resume at (it and those after it have
    // not run).
    u32 run();
    bool writes(const ValueCell* slot) const;
};

// The operands are read as integers and the result written once: the
// steps of the operators follow each other in ops.
__attribute__((always_inline)) inline u32 PureBlock::run() {
    const Op* o = ops;
    const Step* se = steps + nsteps;
    for (const Step* s = steps; s < se; s++) {
        const ValueCell* h = s->head;
        ValueCell* dest = s->dest;
        if (s->nops == 0) {
            // (A head's slot only ever receives what a store of these
            // blocks writes: the test cannot fail, and costs little.)
            u32 t = h->type();
            if (ZAN_UNLIKELY(is_callable_type(t) || t == TYPE_UNSET || t == TYPE_OP))
                return s->index;
            *dest = *h;
            continue;
        }
        if (h->type() != TYPE_INTEGER) return s->index;
        i32 a = integer_get(h);
        const Op* oe = o + s->nops;
        for (;;) {
            if (o->rhs->type() != TYPE_INTEGER) return s->index;
            i32 b = integer_get(o->rhs);
            i32 code = o->code;
            o++;
            if (code >= 16) {
                // A logic! result: an operator after it is the walker's.
                if (o != oe) return s->index;
                u32 r = int_compare_raw(code - 16, a, b) ? 1u : 0u;
                cell_put(dest, TYPE_LOGIC, r, 0, 0);
                break;
            }
            if (!int_math_raw(code, a, b, &a)) return s->index;
            if (o == oe) {
                cell_put(dest, TYPE_INTEGER, 0, static_cast<u32>(a), 0);
                break;
            }
        }
    }
    return DONE;
}

// Whether no store of the blocks (nor extra, a slot the loop itself
// assigns, or null) lands on the word of an operator one of them uses.
bool pure_loop_sound(const PureBlock* const* blocks, u32 n, const ValueCell* extra);

// Scratch forms for the loop running at the moment: only one loop runs
// purely at a time (nothing else runs while it does, and a loop that hands
// over to the walker does not come back to them).
extern PureBlock g_pure_blocks[2];

}  // namespace zan
