// Blocks of pure statements, resolved once and run by the loops without
// the walker (see PureBlock in interp_pure.h).
#include "runtime/eval/interp/interp_pure.h"

#include <algorithm>

namespace zan {

PureBlock g_pure_blocks[2];

const ValueCell* PureBlock::operand(const ValueCell* c, u32 index, u32 level, bool head) {
    if (c->type() != TYPE_PAREN) return head ? simple_value_quiet(c) : pure_operand(c);
    if (level + 1 > PURE_PAREN_DEPTH || ntemps == MAX_TEMPS) return nullptr;
    SeriesBuffer* b = node_buffer(series_node(c));
    u32 pend = b->used_bytes() / sizeof(ValueCell);
    u32 ps = series_head(c);
    if (ps >= pend) return nullptr;
    ValueCell* t = &temps[ntemps++];
    depth = std::max(depth, level + 1);
    if (expression(b->head_cells(), ps, pend, index, t, level + 1) != pend) return nullptr;
    return t;
}

// The steps of the parens among the operands come first, in the order of
// the operands, then the expression's own (its operators after theirs in
// ops, as run() reads them).
u32 PureBlock::expression(const ValueCell* cells, u32 i, u32 end, u32 index, ValueCell* dest,
                          u32 level) {
    const ValueCell* h = operand(cells + i, index, level, true);
    if (!h) return 0;
    Op own[MAX_OPS];
    const ValueCell* own_slots[MAX_OPS];
    u32 n = 0;
    i++;
    while (i < end) {
        const ValueCell* opv = op_cell(cells + i);
        if (!opv) break;
        if (i + 1 >= end || n == MAX_OPS) return 0;
        i32 code = fast_code(opv);
        if (code < 0) return 0;
        const ValueCell* rv = operand(cells + i + 1, index, level, false);
        if (!rv) return 0;
        own[n] = Op{code, rv};
        own_slots[n] = opv;
        n++;
        i += 2;
    }
    if (nsteps == MAX_STEPS || nops + n > MAX_OPS) return 0;
    Step& s = steps[nsteps++];
    s.index = index;
    s.dest = dest;
    s.head = h;
    s.first_op = nops;
    s.nops = n;
    for (u32 k = 0; k < n; k++) {
        ops[nops] = own[k];
        op_slots[nops] = own_slots[k];
        nops++;
    }
    return i;
}

u32 PureBlock::statement(const ValueCell* cells, u32 i, u32 end, u32 index) {
    ValueCell* dest = &value;
    if (cells[i].type() == TYPE_SET_WORD) {
        if (i + 1 >= end) return 0;
        dest = word_slot_direct(cells + i);
        if (!dest) return 0;
        i++;
    }
    return expression(cells, i, end, index, dest, 0);
}

// A paren standing as a statement, holding one statement of the form and
// followed by no operator, is that statement: its value is the paren's.
// The walker would mark a frame for it above the block's, and one more for a
// set-word in it, as for a set-word standing in the block, and two more
// (the operator's and its own) for each paren standing as an operand
// within: without room for every frame (and a few cells) the deepest
// statement would have, the block is left to the walker, which overflows
// where it would. A round that stops at the paren
// gives the paren's own index, and the walker runs the whole paren (its
// one statement had not run).
bool PureBlock::build(EvalWalk& w) {
    nsteps = 0;
    nops = 0;
    ntemps = 0;
    depth = 0;
    // Nothing here allocates: the cells stay where they are.
    ValueCell* cells = w.at(0);
    u32 end = w.end;
    u32 i = w.start;
    if (i >= end) return false;
    i64 frames = 1;  // the block's own
    while (i < end) {
        u32 index = i;
        if (cells[i].type() == TYPE_PAREN) {
            SeriesBuffer* b = node_buffer(series_node(cells + i));
            const ValueCell* pc = b->head_cells();
            u32 pend = b->used_bytes() / sizeof(ValueCell);
            u32 ps = series_head(cells + i);
            if (ps >= pend || statement(pc, ps, pend, index) != pend) return false;
            i++;
            if (i < end && op_cell(cells + i)) return false;
            frames = std::max<i64>(frames, pc[ps].type() == TYPE_SET_WORD ? 3 : 2);
            continue;
        }
        if (cells[i].type() == TYPE_SET_WORD) frames = std::max<i64>(frames, 2);
        i = statement(cells, i, end, index);
        if (!i) return false;
    }
    if (depth) frames += 1 + 2 * static_cast<i64>(depth);
    if (g_stack.climit - g_stack.ctop < frames || g_stack.limit - g_stack.top <= 8 + 4 * depth)
        return false;
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
