// Blocks of pure statements, resolved once and run by the loops without
// the walker (see PureBlock in interp_pure.h).
#include "runtime/eval/interp/interp_pure.h"

#include <algorithm>

namespace zan {

PureBlock g_pure_blocks[2];

// One statement from cells[i] (before end) into s, with its operators;
// the index after it, or 0 when it is not of the form.
u32 PureBlock::statement(Step& s, const ValueCell* cells, u32 i, u32 end) {
    s.dest = &value;
    if (cells[i].type() == TYPE_SET_WORD) {
        if (i + 1 >= end) return 0;
        s.dest = word_slot_direct(cells + i);
        if (!s.dest) return 0;
        i++;
    }
    s.head = simple_value_quiet(cells + i);
    if (!s.head) return 0;
    s.first_op = nops;
    i++;
    while (i < end) {
        const ValueCell* opv = op_cell(cells + i);
        if (!opv) break;
        if (i + 1 >= end || nops == MAX_OPS) return 0;
        i32 code = fast_code(opv);
        if (code < 0) return 0;
        const ValueCell* rv = pure_operand(cells + i + 1);
        if (!rv) return 0;
        ops[nops] = Op{code, rv};
        op_slots[nops] = opv;
        nops++;
        i += 2;
    }
    s.nops = nops - s.first_op;
    return i;
}

// A paren standing as a statement, holding one statement of the form and
// followed by no operator, is that statement: its value is the paren's.
// The walker would mark a frame for it above the block's, and one more for a
// set-word in it, as for a set-word standing in the block: without room for
// every frame (and a few cells) the deepest statement would have, the block
// is left to the walker, which overflows where it would. A round that stops
// at the paren
// gives the paren's own index, and the walker runs the whole paren (its
// one statement had not run).
bool PureBlock::build(EvalWalk& w) {
    nsteps = 0;
    nops = 0;
    // Nothing here allocates: the cells stay where they are.
    ValueCell* cells = w.at(0);
    u32 end = w.end;
    u32 i = w.start;
    if (i >= end) return false;
    i64 frames = 1;  // the block's own
    while (i < end) {
        if (nsteps == MAX_STEPS) return false;
        Step& s = steps[nsteps++];
        s.index = i;
        if (cells[i].type() == TYPE_PAREN) {
            SeriesBuffer* b = node_buffer(series_node(cells + i));
            const ValueCell* pc = b->head_cells();
            u32 pend = b->used_bytes() / sizeof(ValueCell);
            u32 ps = series_head(cells + i);
            if (ps >= pend || statement(s, pc, ps, pend) != pend) return false;
            i++;
            if (i < end && op_cell(cells + i)) return false;
            frames = std::max<i64>(frames, pc[ps].type() == TYPE_SET_WORD ? 3 : 2);
            continue;
        }
        if (cells[i].type() == TYPE_SET_WORD) frames = std::max<i64>(frames, 2);
        i = statement(s, cells, i, end);
        if (!i) return false;
    }
    if (g_stack.climit - g_stack.ctop < frames || g_stack.limit - g_stack.top <= 8) return false;
    result = steps[nsteps - 1].dest;
    return true;
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
