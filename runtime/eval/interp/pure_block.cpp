// Blocks of pure statements, resolved once and run by the loops without
// the walker (see PureBlock in interp_pure.h).
#include "runtime/eval/interp/interp_pure.h"

namespace zan {

PureBlock g_pure_blocks[2];

bool PureBlock::build(EvalWalk& w) {
    nsteps = 0;
    nops = 0;
    // Nothing here allocates: the cells stay where they are.
    ValueCell* cells = w.at(0);
    u32 end = w.end;
    u32 i = w.start;
    if (i >= end) return false;
    while (i < end) {
        if (nsteps == MAX_STEPS) return false;
        Step& s = steps[nsteps++];
        s.index = i;
        s.dest = &value;
        if (cells[i].type() == TYPE_SET_WORD) {
            if (i + 1 >= end) return false;
            s.dest = word_slot_direct(cells + i);
            if (!s.dest) return false;
            i++;
        }
        s.head = simple_value_quiet(cells + i);
        if (!s.head) return false;
        s.first_op = nops;
        i++;
        while (i < end) {
            const ValueCell* opv = op_cell(cells + i);
            if (!opv) break;
            if (i + 1 >= end || nops == MAX_OPS) return false;
            i32 code = fast_code(opv);
            if (code < 0) return false;
            const ValueCell* rv = pure_operand(cells + i + 1);
            if (!rv) return false;
            ops[nops] = Op{code, rv};
            op_slots[nops] = opv;
            nops++;
            i += 2;
        }
        s.nops = nops - s.first_op;
    }
    result = steps[nsteps - 1].dest;
    return true;
}

// The operands are read as integers and the result written once: the
// steps of the operators follow each other in ops.
u32 PureBlock::run() {
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

bool PureBlock::writes(const ValueCell* slot) const {
    for (u32 k = 0; k < nsteps; k++)
        if (steps[k].dest == slot) return true;
    return false;
}

bool pure_loop_sound(const PureBlock* const* blocks, u32 n, const ValueCell* extra) {
    for (u32 a = 0; a < n; a++)
        for (u32 k = 0; k < blocks[a]->nops; k++) {
            const ValueCell* op = blocks[a]->op_slots[k];
            if (op == extra) return false;
            for (u32 b = 0; b < n; b++)
                if (blocks[b]->writes(op)) return false;
        }
    return true;
}

}  // namespace zan
