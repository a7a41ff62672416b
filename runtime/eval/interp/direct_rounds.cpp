// The rounds of loop and repeat over a body of direct calls, run from a
// form of the body resolved once per run of the loop.
//
// A body such as [seed: remainder seed * 75 + 74 65537 append t pick vocab
// 1 + remainder seed 50 append t " "] holds nothing the walker must do:
// every statement is a call of a direct routine whose arguments are values,
// words holding plain values, inline integer operators or nested direct
// calls, or a pure expression, each with or without a set-word. The walker
// would decide again, every round, what each cell is and what each word
// holds; here the statements are read once into small programs over a
// stack of cells (a literal's copy, a word's value slot, an operator's
// code, a routine with its argument count), and the rounds run them.
//
// What the walker would decide differently in a later round is checked
// where it would decide it, before anything changes:
// - a word read as an operand holds a callable, an operator or nothing:
//   the statement is left to the walker;
// - a word the walker looks at for an operator after an argument is
//   written by a set-word of the body: its value is looked at again there;
// - a store of the body landing on the word of a routine or an operator
//   (or the counter on one) makes the form refuse the body;
// - an append to the body itself is left to the walker, which then sees
//   the grown block.
// Only the routines change anything, each as the last thing its statement
// does, all or nothing (see direct_call.h); a set-word of a conditional's
// condition is stored before its branch runs, and put back when the
// statement goes to the walker after all. A routine that may allocate
// (append, put) may run a collection, which moves value slots: after one,
// the form is read again before the next statement. Such a statement's
// value goes to the loop's result cell, never through a set-word.
//
// No frame the language sees is skipped: rounds start only with tracing
// off, with room for the body's frame and for every frame of the ordinary
// calls, and with no interrupt pending (tested each round).
#include <cstring>

#include "runtime/core/collector.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/interp/direct_call.h"
#include "runtime/eval/interp/interp_pure.h"

namespace zan {

namespace {

// What a word read as an operand must not hold (the walker would call it,
// apply it or refuse it).
constexpr u64 kNotPlain = type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) | type_bit(TYPE_FUNCTION) |
                          type_bit(TYPE_ROUTINE) | type_bit(TYPE_UNSET) | type_bit(TYPE_OP);
static_assert(TYPE_TABLE_SIZE <= 64, "type ids fit the mask");

struct DirectBlock {
    static constexpr u32 MAX_STEPS = 8;
    static constexpr u32 MAX_CODE = 64;
    static constexpr u32 MAX_CONSTS = 32;
    static constexpr u32 MAX_SLOTS = 32;
    static constexpr u32 MAX_BLOCKS = 1 + 2 * MAX_STEPS;
    static constexpr u32 STACK = 16;
    static constexpr u32 MAX_STORES = 4;  // set-words inside one statement's conditionals
    static constexpr u32 DONE = ~0u;
    enum Kind : u8 {
        I_CONST,   // push the literal's copy
        I_SLOT,    // push a word's value (a plain value only)
        I_NOT_OP,  // a word written by the body holds no operator
        I_OP,      // the operator of code arg on the two cells on top
        I_CALL,    // the routine on the arg cells on top
        I_APPEND,  // the same, not on a block the form was read from
        I_STORE,   // a set-word's store of the cell on top, which stays
        I_TEST,    // the conditional (native arg) on the cell on top, taken
                   // off: on to its branch, or to jump
        I_JUMP,    // on to jump
        I_NONE,    // push none (the branch of if or unless not taken)
        I_END,     // the statement's value to its place
    };
    struct Instr {
        u8 kind;
        u8 arg;
        u16 jump;
        ValueCell* p;  // the literal's copy or the word's slot
        DirectWork work;
    };
    struct Step {
        u32 index;         // walk index of the statement
        ValueCell* dest;   // the set-word's slot, or the loop's result cell
        u32 first;         // its code, ending with I_END
        bool allocates;    // a routine it may call may allocate
    };
    Step steps[MAX_STEPS];
    Instr code[MAX_CODE];
    ValueCell consts[MAX_CONSTS];
    const ValueCell* callees[MAX_SLOTS];  // the slots of the routines' and operators' words
    const ValueCell* stores[MAX_STEPS];   // the set-words' slots
    const ValueCell* peeks[MAX_SLOTS];    // the words looked at for an operator (kept form)
    Node blocks[MAX_BLOCKS];              // the body and the branches read
    u32 nsteps, ncode, nconsts, ncallees, nstores, nblocks, npeeks;
    u32 depth;        // of the stack, while reading
    u32 step_stores;  // set-words inside the statement being read
    const ValueCell* cells;
    u32 end;
    u32 walk_end;
    u32 cycles;         // the collector's count when the slots were read
    ValueCell* result;  // where a statement without a set-word leaves its value
    // Kept for another run later (a paren of parse): every word's context
    // is noted, and every word looked at for an operator is looked at
    // again each run.
    bool kept;
    struct Context {
        Node node;
        u32 values;   // its values (a buffer's node, or on the stack)
        HeapRef buf;  // the buffer of a values node
    };
    static constexpr u32 MAX_CONTEXTS = 4;
    Context contexts[MAX_CONTEXTS];
    u32 ncontexts;
    bool global_words;
    HeapRef global_buf;

    bool build(EvalWalk& w, const ValueCell* counter);
    u32 run(EvalWalk* w, const ValueCell* counter);

private:
    bool emit(Kind kind, u8 arg, ValueCell* p = nullptr, DirectWork work = nullptr) {
        if (ncode == MAX_CODE) return false;
        code[ncode++] = Instr{kind, arg, 0, p, work};
        return true;
    }
    bool push(Kind kind, ValueCell* p) {
        if (++depth > STACK) return false;
        return emit(kind, 0, p);
    }
    bool callee(const ValueCell* slot) {
        for (u32 k = 0; k < ncallees; k++)
            if (callees[k] == slot) return true;
        if (ncallees == MAX_SLOTS) return false;
        callees[ncallees++] = slot;
        return true;
    }
    // A word after an argument, looked at for an operator: in a loop, again
    // where the walker looks when a store of the body may change it; in a
    // kept form, before each run.
    bool peek(ValueCell* slot) {
        if (!kept) return !stored(slot) || emit(I_NOT_OP, 0, slot);
        for (u32 k = 0; k < npeeks; k++)
            if (peeks[k] == slot) return true;
        if (npeeks == MAX_SLOTS) return false;
        peeks[npeeks++] = slot;
        return true;
    }
    bool stored(const ValueCell* slot) const {
        for (u32 k = 0; k < nstores; k++)
            if (stores[k] == slot) return true;
        return false;
    }
    bool guarded(Node n) const {
        for (u32 k = 0; k < nblocks; k++)
            if (blocks[k] == n) return true;
        return false;
    }
    ValueCell* lookup(const ValueCell* word) {
        ValueCell* v = word_value_if_available(word);
        return v && kept && !note_context(word) ? nullptr : v;
    }
    ValueCell* set_slot(const ValueCell* word) {
        ValueCell* v = word_slot_direct(word);
        return v && kept && !note_context(word) ? nullptr : v;
    }
    bool note_context(const ValueCell* word);
    u32 operand(u32 j, u32 level);
    u32 arg(u32 j, u32 level);
    u32 call(u32 j, const DirectEntry* d, u32 level);
    u32 expression(u32 j, bool* allocates);
    u32 conditional(u32 j, u32 nat, bool* allocates);
    bool branch(const ValueCell* block, bool* allocates);
};

// Notes the context of a word (bound: its value was found), for the check
// that its values are where they were; false when there are too many.
bool DirectBlock::note_context(const ValueCell* word) {
    Node n = word_binding(word);
    if (n == g_global_values.ctx) {
        global_words = true;
        global_buf = g_global_values.buffer;
        return true;
    }
    for (u32 k = 0; k < ncontexts; k++)
        if (contexts[k].node == n) return true;
    if (ncontexts == MAX_CONTEXTS) return false;
    const ValueCell* ctx = context_cell(n);
    u32 vals = context_values(ctx);
    contexts[ncontexts++] = {n, vals, (ctx->header & CONTEXT_VALUES_ON_STACK) ? 0 : node_slot(vals)};
    return true;
}

// An operand at j as operand_at reads it (a nested call only of a routine
// that changes nothing); the index after it, or 0.
u32 DirectBlock::operand(u32 j, u32 level) {
    if (j >= end) return 0;
    const ValueCell* c = cells + j;
    u32 t = c->type();
    if (self_evaluating(t)) {
        if (nconsts == MAX_CONSTS) return 0;
        consts[nconsts] = *c;
        return push(I_CONST, consts + nconsts++) ? j + 1 : 0;
    }
    if (t != TYPE_WORD) return 0;
    ValueCell* v = lookup(c);
    if (!v) return 0;
    u32 vt = v->type();
    if (vt == TYPE_ACTION) {
        const DirectEntry* d = direct_entry(v);
        if (!d || !d->pure || level >= DIRECT_MAX_DEPTH || !callee(v)) return 0;
        return call(j + 1, d, level + 1);
    }
    if (is_callable_type(vt) || vt == TYPE_UNSET || vt == TYPE_OP) return 0;
    return push(I_SLOT, v) ? j + 1 : 0;
}

// An argument at j: an operand and the operators after it, as arg_at reads
// them. The word after it, which the walker looks at for an operator, is
// looked at again each round when a store of the body may change it.
u32 DirectBlock::arg(u32 j, u32 level) {
    j = operand(j, level);
    while (j && j < end) {
        const ValueCell* c = cells + j;
        if (c->type() != TYPE_WORD) break;
        ValueCell* v = lookup(c);
        if (!v || v->type() != TYPE_OP) {
            if (v && !peek(v)) return 0;
            break;
        }
        i32 op = fast_code(v);
        if (op < 0 || !callee(v)) return 0;
        j = operand(j + 1, level);
        if (!j || !emit(I_OP, static_cast<u8>(op))) return 0;
        depth--;
    }
    return j;
}

// The arguments of d's routine from j on, then the routine.
u32 DirectBlock::call(u32 j, const DirectEntry* d, u32 level) {
    for (u32 a = 0; a < d->nargs; a++) {
        j = arg(j, level);
        if (!j) return 0;
    }
    Kind kind = d->work == g_direct_actions.by_number[ACT_APPEND].work ? I_APPEND : I_CALL;
    if (!emit(kind, d->nargs, nullptr, d->work)) return 0;
    depth -= d->nargs - 1u;
    return j;
}

// A statement at j after its set-word: a direct call, a conditional, or an
// argument's form (a pure expression). *allocates: a routine it may call
// may allocate.
u32 DirectBlock::expression(u32 j, bool* allocates) {
    const ValueCell* c = cells + j;
    ValueCell* v = c->type() == TYPE_WORD ? lookup(c) : nullptr;
    if (v && conditional_native(v)) {
        if (!callee(v)) return 0;
        return conditional(j + 1, callable_entry(v), allocates);
    }
    const DirectEntry* d = v ? direct_entry(v) : nullptr;
    if (!d) return arg(j, 0);
    if (!callee(v)) return 0;
    if (!d->pure) *allocates = true;
    return call(j + 1, d, 0);
}

// A branch block holding one statement (without a set-word) and nothing
// else, its code leaving the value on top.
bool DirectBlock::branch(const ValueCell* block, bool* allocates) {
    if (nblocks == MAX_BLOCKS) return false;
    blocks[nblocks++] = series_node(block);
    const ValueCell* saved_cells = cells;
    u32 saved_end = end;
    SeriesBuffer* b = node_buffer(series_node(block));
    cells = b->head_cells();
    end = b->used_bytes() / sizeof(ValueCell);
    u32 at = series_head(block);
    bool ok = at < end && expression(at, allocates) == end;
    cells = saved_cells;
    end = saved_end;
    return ok;
}

// either, if or unless (nat) from its arguments at j on, as
// direct_conditional reads them: the condition (a set-word of it stored at
// once), then literal blocks, each branch a block of one statement; the
// branch of if or unless not taken gives none.
u32 DirectBlock::conditional(u32 j, u32 nat, bool* allocates) {
    if (j >= end) return 0;
    ValueCell* slot = nullptr;
    if (cells[j].type() == TYPE_SET_WORD) {
        slot = set_slot(cells + j);
        if (!slot) return 0;
        j++;
    }
    u32 d0 = depth;
    j = arg(j, 0);
    if (!j || (slot && (++step_stores > MAX_STORES || !emit(I_STORE, 0, slot)))) return 0;
    const ValueCell* branches[2];
    u32 n = nat == NAT_EITHER ? 2 : 1;
    for (u32 b = 0; b < n; b++) {
        // The block's cell alone; its push is taken back (a look for an
        // operator after it stays).
        u32 at = ncode;
        u32 next = arg(j, 0);
        if (next != j + 1 || code[at].kind != I_CONST || code[at].p->type() != TYPE_BLOCK)
            return 0;
        branches[b] = code[at].p;
        for (u32 k = at; k + 1 < ncode; k++) code[k] = code[k + 1];
        ncode--;
        depth--;
        j = next;
    }
    u32 test = ncode;
    if (!emit(I_TEST, static_cast<u8>(nat))) return 0;
    depth = d0;
    if (!branch(branches[0], allocates)) return 0;
    u32 jump = ncode;
    if (!emit(I_JUMP, 0)) return 0;
    code[test].jump = static_cast<u16>(ncode);
    depth = d0;
    if (n == 2 ? !branch(branches[1], allocates) : !push(I_NONE, nullptr)) return 0;
    code[jump].jump = static_cast<u16>(ncode);
    return j;
}

// Reads the body's statements from the walk's start; false when one is not
// of the form, or a store of the body (or the counter) lands on the word
// of a routine or an operator.
bool DirectBlock::build(EvalWalk& w, const ValueCell* counter) {
    nsteps = ncode = nconsts = ncallees = nstores = ncontexts = npeeks = 0;
    global_words = false;
    // Nothing here allocates: the cells stay where they are.
    cells = w.at(0);
    end = walk_end = w.end;
    blocks[0] = series_node(&w.block());
    nblocks = 1;
    u32 i = w.start;
    if (i >= end) return false;
    // The set-words' slots first: a word they write is looked at each round.
    for (u32 j = i; j < end; j++) {
        if (cells[j].type() != TYPE_SET_WORD) continue;
        if (nstores == MAX_STEPS) return false;
        ValueCell* slot = set_slot(cells + j);
        if (!slot) return false;
        stores[nstores++] = slot;
    }
    while (i < end) {
        if (nsteps == MAX_STEPS) return false;
        Step& s = steps[nsteps++];
        s.index = i;
        s.dest = result;
        s.first = ncode;
        s.allocates = false;
        depth = 0;
        step_stores = 0;
        if (cells[i].type() == TYPE_SET_WORD) {
            if (i + 1 >= end) return false;
            s.dest = set_slot(cells + i);
            i++;
        }
        i = expression(i, &s.allocates);
        // (A collection during a routine would move the slot.)
        if (!i || (s.allocates && s.dest != result) || !emit(I_END, 0)) return false;
    }
    for (u32 k = 0; k < ncallees; k++)
        if (callees[k] == counter || stored(callees[k])) return false;
    cycles = g_gc.series_cycles;
    return true;
}

// Runs the statements; DONE, or the walk index of the statement to resume
// at (it and those after it have not run). After a collection the form is
// read again; when it cannot be, the walker takes the statement after the
// one that ran (the walk's end when that was the last).
// (Without w, the form is not read again: the walker takes the rest.)
u32 DirectBlock::run(EvalWalk* w, const ValueCell* counter) {
    // Threaded: each instruction's code jumps to the next one's.
    static constexpr const void* kLabels[] = {&&op_const, &&op_slot,  &&op_not_op, &&op_op,
                                              &&op_call,  &&op_append, &&op_store, &&op_test,
                                              &&op_jump,  &&op_none,   &&op_end};
    static_assert(sizeof kLabels / sizeof kLabels[0] == I_END + 1, "one label a kind");
#define ZAN_DISPATCH() goto* kLabels[ip->kind]
#define ZAN_NEXT()   \
    do {             \
        ip++;        \
        ZAN_DISPATCH(); \
    } while (0)
    u32 si = 0;
    const Step* s;
    // (Only cells below sp are read, each pushed whole; the first nundo
    // undo entries are the only ones read, each written whole first.)
    UnwrittenCells<STACK> stack;
    ValueCell* undo_slot[MAX_STORES];
    UnwrittenCells<MAX_STORES> undo_value;
    u32 nundo;
    ValueCell* sp;
    const Instr* ip;
next_step:
    s = steps + si;
    sp = stack;
    nundo = 0;
    ip = code + s->first;
    ZAN_DISPATCH();
op_const:
    *sp++ = *ip->p;
    ZAN_NEXT();
op_slot:
    if (ZAN_UNLIKELY((kNotPlain >> (ip->p->type() & 63)) & 1)) goto fail;
    *sp++ = *ip->p;
    ZAN_NEXT();
op_not_op:
    if (ZAN_UNLIKELY(ip->p->type() == TYPE_OP)) goto fail;
    ZAN_NEXT();
op_op:
    if (sp[-2].type() != TYPE_INTEGER || sp[-1].type() != TYPE_INTEGER ||
        !int_op_inline(ip->arg, sp - 2, sp - 1))
        goto fail;
    sp--;
    ZAN_NEXT();
op_store:
    // (Put back if the statement goes to the walker after all, which
    // evaluates the condition again from the start.)
    undo_slot[nundo] = ip->p;
    undo_value[nundo] = *ip->p;
    nundo++;
    *ip->p = sp[-1];
    ZAN_NEXT();
op_test:
    sp--;
    if (truthy(sp) != (ip->arg != NAT_UNLESS)) {
        ip = code + ip->jump;
        ZAN_DISPATCH();
    }
    ZAN_NEXT();
op_jump:
    ip = code + ip->jump;
    ZAN_DISPATCH();
op_none:
    none_box(sp++);
    ZAN_NEXT();
op_append:
    if (ZAN_UNLIKELY(type_block_like(sp[-2].type()) && guarded(series_node(sp - 2))))
        goto fail;
    goto op_call;
op_call : {
    sp -= ip->arg;
    ValueCell r;
    if (!ip->work(sp, &r)) goto fail;
    *sp++ = r;
    ZAN_NEXT();
}
op_end:
    *s->dest = stack[0];
    if (ZAN_UNLIKELY(s->allocates) && g_gc.series_cycles != cycles && (!w || !build(*w, counter)))
        return si + 1 < nsteps ? steps[si + 1].index : walk_end;
    if (++si < nsteps) {
        // A Ctrl-C: the walker takes it before the next statement.
        if (ZAN_UNLIKELY(g_interrupt_pending)) return steps[si].index;
        goto next_step;
    }
    return DONE;
fail:
    while (nundo) {
        nundo--;
        *undo_slot[nundo] = undo_value[nundo];
    }
    return s->index;
#undef ZAN_NEXT
#undef ZAN_DISPATCH
}

DirectBlock g_direct_block;

// ---- parens of parse ---------------------------------------------------------------------------
// A paren of a parse rule runs once per match. It is read into a direct
// form the first time and the form is kept beside it, in a small table by
// the paren's node, checked before each run to be what reading the paren
// again would give:
// - no collection since (the slots, the nodes and the literals' copies
//   would have moved or gone);
// - every block read (the paren and its branches) holds the same cells
//   as then (an edit, a rebinding, a block grown or cut is seen);
// - every context of its words has its values where they were (a
//   function's words belong to the call running then);
// - every routine's and operator's word holds what it held, and no word
//   the walker looks at for an operator after an argument holds one.
// What a word read as an operand holds is looked at during the run, as in
// a loop's rounds. A paren whose form cannot be read is left to the walker for a
// number of runs before it is tried again.
struct KeptParen {
    static constexpr u32 MAX_CELLS = 64;
    static constexpr u32 SKIPS = 31;
    DirectBlock form;
    Node node;
    u32 head;
    u32 skips;   // runs left to the walker before the next try
    bool ready;  // form holds the paren's form
    ValueCell value;
    struct Snap {
        u32 used;
        u32 first;
    };
    Snap snaps[DirectBlock::MAX_BLOCKS];
    ValueCell cells[MAX_CELLS];
    ValueCell callee_values[DirectBlock::MAX_SLOTS];

    // Copies what the form was read from; false when it is too large.
    bool keep() {
        u32 n = 0;
        for (u32 k = 0; k < form.nblocks; k++) {
            SeriesBuffer* b = node_buffer(form.blocks[k]);
            u32 used = b->used_bytes();
            if (n + used / sizeof(ValueCell) > MAX_CELLS) return false;
            snaps[k] = {used, n};
            std::memcpy(cells + n, b->head_cells(), used);
            n += used / sizeof(ValueCell);
        }
        for (u32 k = 0; k < form.ncallees; k++) callee_values[k] = *form.callees[k];
        return true;
    }
    bool valid() const {
        if (g_gc.series_cycles != form.cycles) return false;
        // (With no collection since, every node noted is still there.)
        for (u32 k = 0; k < form.nblocks; k++) {
            SeriesBuffer* b = node_buffer(form.blocks[k]);
            if (b->used_bytes() != snaps[k].used ||
                std::memcmp(b->head_cells(), cells + snaps[k].first, snaps[k].used) != 0)
                return false;
        }
        if (form.global_words && node_slot(g_global_values.values) != form.global_buf)
            return false;
        for (u32 k = 0; k < form.ncontexts; k++) {
            const DirectBlock::Context& c = form.contexts[k];
            if (context_values(context_cell(c.node)) != c.values ||
                (c.buf && node_slot(c.values) != c.buf))
                return false;
        }
        for (u32 k = 0; k < form.ncallees; k++)
            if (std::memcmp(form.callees[k], callee_values + k, sizeof(ValueCell)) != 0)
                return false;
        for (u32 k = 0; k < form.npeeks; k++)
            if (form.peeks[k]->type() == TYPE_OP) return false;
        return true;
    }
};

KeptParen g_kept_parens[4];

inline KeptParen& kept_paren_slot(Node n) { return g_kept_parens[(n * 0x9E3779B1u) >> 30]; }

}  // namespace

u32 direct_paren(const ValueCell* paren, ValueCell* out) {
    if (!room_for_ordinary_call()) return WALK_START;
    Node n = series_node(paren);
    u32 head = series_head(paren);
    KeptParen& e = kept_paren_slot(n);
    if (e.node != n || e.head != head) {
        e.node = n;
        e.head = head;
        e.ready = false;
        e.skips = 0;
    } else if (e.skips) {
        e.skips--;
        return WALK_START;
    }
    if (!e.ready || !e.valid()) {
        EvalWalk w(paren);
        e.form.kept = true;
        e.form.result = &e.value;
        e.ready = e.form.build(w, nullptr) && e.keep();
        if (!e.ready) {
            e.skips = KeptParen::SKIPS;
            return WALK_START;
        }
    }
    u32 at = e.form.run(nullptr, nullptr);
    if (at != DirectBlock::DONE && at < e.form.walk_end) return at;
    *out = e.value;
    return DIRECT_DONE;
}

namespace {
}  // namespace

u32 direct_counted_rounds(EvalWalk& body, i32& k, i32 count, ValueCell* counter) {
    if (g_interp.tracing || g_stack.ctop >= g_stack.climit || !room_for_ordinary_call())
        return WALK_START;
    DirectBlock* db = &g_direct_block;
    db->kept = false;
    db->result = stack_result();
    // (The counter holds the round's number when the body is read, as it
    // does when the body runs.)
    if (counter) integer_box(counter, k);
    if (!db->build(body, counter)) return WALK_START;
    // (Whatever the routines push lies above the result cell.)
    stack_keep();
    for (; k <= count; k++) {
        if (ZAN_UNLIKELY(g_interrupt_pending)) return WALK_START;
        if (counter) integer_box(counter, k);
        u32 at = db->run(&body, counter);
        if (ZAN_UNLIKELY(at != DirectBlock::DONE)) {
            if (at < body.end) return at;
            // The round ran to its end but the form could not be read again.
            k++;
            return WALK_START;
        }
    }
    stack_set_last_reset(db->steps[db->nsteps - 1].dest);
    return WALK_START;
}

}  // namespace zan
