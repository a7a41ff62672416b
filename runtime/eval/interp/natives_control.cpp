// Conditionals and loops: if, unless, either, any, all, switch, case,
// while, until, loop, repeat, forever, foreach, forall, remove-each, and the
// steppers that compiled loops drive the same loop state with.
//
// Every loop marks a loop frame (kind 8) named <body> and evaluates its body
// with the result chained into that frame's first cell. After each run of
// the body the pending code decides: none, next iteration; break, the loop
// ends (its value, if any, is already in the loop frame's cell); continue,
// next iteration; anything else goes on to the handlers outside.
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/interp/interp_internal.h"
#include "runtime/eval/interp/direct_call.h"
#include "runtime/eval/interp/forms_switch.h"
#include "runtime/eval/interp/interp_pure.h"

namespace zan {

namespace {

// Evaluates a block with its value chained into the current frame's first
// cell; returns the pending code (0 when none).
inline u32 run_block(const ValueCell* block) {
    return run_handled(THROW_BREAK, [&] { eval_block_p(block, true); });
}
// The same for a loop's body or condition, walked again on each run: the
// walk is made once per loop and restarted per run (from: where a pure run
// of the block stopped, or WALK_START).
inline u32 run_block(EvalWalk& w, u32 from = WALK_START) {
    return run_handled(THROW_BREAK, [&] {
        if (ZAN_LIKELY(from == WALK_START)) eval_walk_again_p(w);
        else eval_walk_resume_p(w, from);
    });
}

// Whether a loop may run its blocks purely: tracing off, and room for the
// frame the walker would mark for each block (so that a stack overflow
// comes where it would; the call stack does not change while pure rounds
// run, so one test serves them all). Each round also waits for no
// interrupt: the walker takes it on entering the block.
inline bool pure_loop_ok() {
    return !g_interp.tracing && !g_forms_off && g_stack.ctop < g_stack.climit;
}

// Pops the loop frame, its value going to the native's result cell.
inline void end_loop() { stack_unwind_last(); }

// What a loop does after a run of its body, given the pending code: go on
// (none), skip to the next run (continue), stop (break), or leave with the
// code still pending for the handlers outside. A break or continue is
// consumed here.
enum class BodyEnd { go_on, skip, stop, leave };
inline BodyEnd body_end(u32 code) {
    if (ZAN_LIKELY(code == 0)) return BodyEnd::go_on;
    if (code == THROW_BREAK) {
        g_throw_code = 0;
        return BodyEnd::stop;
    }
    if (code == THROW_CONTINUE) {
        g_throw_code = 0;
        return BodyEnd::skip;
    }
    return BodyEnd::leave;
}

// ---- conditionals ---------------------------------------------------------------------------

void native_if(bool, const i32*) { run_conditional(NAT_IF); }
void native_unless(bool, const i32*) { run_conditional(NAT_UNLESS); }
void native_either(bool, const i32*) { run_conditional(NAT_EITHER); }

void native_any(bool, const i32*) {
    ValueCell* result = stack_result();
    EvalWalk w(stack_arg(0));
    u32 i = w.start;
    while (i < w.end) {
        i = eval_next(w, i, false);
        if (ZAN_UNLIKELY(g_throw_code)) return;
        stack_keep();
        if (truthy(result)) return;
    }
    none_box(result);
}

void native_all(bool, const i32*) {
    ValueCell* result = stack_result();
    EvalWalk w(stack_arg(0));
    u32 i = w.start;
    if (i >= w.end) {
        none_box(result);
        return;
    }
    while (i < w.end) {
        i = eval_next(w, i, false);
        if (ZAN_UNLIKELY(g_throw_code)) return;
        stack_keep();
        if (!truthy(result)) {
            none_box(result);
            return;
        }
    }
}

void native_switch(bool, const i32* refs) {
    ValueCell value = *stack_arg(0);
    ValueCell cases = *stack_arg(1);
    bool found = false;
    ValueCell body;
    if (value.type() != TYPE_BLOCK) {
        i32 n = series_buffer_length(&cases);
        for (i32 k = series_index(&cases); k < n && !found; k++) {
            ValueCell c = *(series_buffer(&cases)->head_cells() + k);
            if (c.type() != value.type() || !action_compare(&value, &c, CMP_EQUAL)) continue;
            for (i32 j = k + 1; j < n; j++) {
                ValueCell* b = series_buffer(&cases)->head_cells() + j;
                if (b->type() == TYPE_BLOCK) {
                    body = *b;
                    found = true;
                    break;
                }
            }
            break;
        }
    }
    if (!found && refs[0] >= 0) {
        body = *stack_arg(static_cast<u32>(refs[0]));
        found = true;
    }
    if (!found) {
        none_box(stack_result());
        return;
    }
    eval_block_p(&body, true);
}

void native_case(bool, const i32* refs) {
    bool all = refs[0] >= 0;
    ValueCell* result = stack_result();
    EvalWalk w(stack_arg(0));
    none_box(result);
    u32 i = w.start;
    if (i >= w.end) return;
    stack_mark_native_flagged(g_words.n.body);
    ValueCell* cell = stack_result();
    while (i < w.end) {
        i = eval_expr(w, i, false, false, false);
        if (ZAN_UNLIKELY(g_throw_code)) return;
        if (i >= w.end) {
            ValueCell last = *w.at(i - 1);
            fire(Err::script_need_value, &last);
        }
        if (!strict_true(cell)) {
            i++;
            continue;
        }
        ValueCell branch = *w.at(i);
        if (branch.type() == TYPE_BLOCK) {
            eval_block_p(&branch, true);
            i++;
        } else {
            i = eval_expr(w, i, false, false, false);
        }
        if (ZAN_UNLIKELY(g_throw_code)) return;
        *result = *cell;
        if (!all) break;
        stack_keep();
    }
    stack_unwind();
}

// ---- counted loops ----------------------------------------------------------------------------

i32 loop_count(ValueCell* cell) {
    if (cell->type() == TYPE_FLOAT) float_to_integer_arg(cell);
    return integer_get(cell);
}

// ---- loops over pure blocks ------------------------------------------------------------------
// A loop whose blocks are all PureBlocks runs its rounds with them while
// they stay pure; the walker takes over in the round where one stops, from
// the statement where it stopped, and runs the rounds after it.

// Where the pure rounds of a while stopped: the condition was false (the
// loop is over), or the walker goes on in the condition or in the body (at
// the walk index *from, WALK_START for the block's start).
enum class PureStop { end, cond, body };

// Runs the rounds of a while whose condition and body are both pure blocks
// while they stay pure.
PureStop pure_while(EvalWalk& cond, EvalWalk& body, u32* from) {
    *from = WALK_START;
    if (!pure_loop_ok()) return PureStop::cond;
    PureBlock* pc = &g_pure_blocks[0];
    PureBlock* pb = &g_pure_blocks[1];
    if (!pc->build(cond) || !pb->build(body)) return PureStop::cond;
    const PureBlock* both[2] = {pc, pb};
    if (!pure_loop_sound(both, 2, nullptr)) return PureStop::cond;
    for (;;) {
        if (ZAN_UNLIKELY(g_interrupt_pending)) return PureStop::cond;
        u32 at = pc->run();
        if (ZAN_UNLIKELY(at != PureBlock::DONE)) {
            *from = at;
            return PureStop::cond;
        }
        if (!truthy(pc->result)) return PureStop::end;
        if (ZAN_UNLIKELY(g_interrupt_pending)) return PureStop::body;
        at = pb->run();
        if (ZAN_UNLIKELY(at != PureBlock::DONE)) {
            *from = at;
            return PureStop::body;
        }
    }
}

// The body of a loop as a pure block when it is one and the loop may run
// it purely (pure_loop_ok); extra: the slot of a word the loop itself
// assigns (repeat's counter), or null.
PureBlock* pure_body(EvalWalk& body, const ValueCell* extra) {
    if (!pure_loop_ok()) return nullptr;
    PureBlock* pb = &g_pure_blocks[1];
    if (!pb->build(body)) return nullptr;
    const PureBlock* one[1] = {pb};
    return pure_loop_sound(one, 1, extra) ? pb : nullptr;
}

// The rounds k up to count of loop or repeat (counter: repeat's word's
// slot, given k before each round; or null) run purely while they can,
// or from the body's direct form when it is not pure (direct_rounds.cpp).
// Returns where the walker goes on in round k (WALK_START: from the
// round's start, the counter not yet given); k is count + 1 when all ran,
// their last value then in the loop frame's result cell.
u32 pure_counted_rounds(EvalWalk& body, i32& k, i32 count, ValueCell* counter) {
    PureBlock* pb = pure_body(body, counter);
    if (!pb) return direct_counted_rounds(body, k, count, counter);
    for (; k <= count; k++) {
        if (ZAN_UNLIKELY(g_interrupt_pending)) return WALK_START;
        if (counter) integer_box(counter, k);
        u32 at = pb->run();
        if (ZAN_UNLIKELY(at != PureBlock::DONE)) return at;
    }
    stack_set_last_reset(pb->result);
    return WALK_START;
}

// ---- the walker's rounds --------------------------------------------------------------------------
// Each runs a block of a loop (from walk index from) and tells the loop
// what comes next: another step, its end, or leaving with a code pending.
enum class Next { go_on, stop, leave };

// A code left pending by a while's condition: break and continue are
// errors there; anything else leaves.
Next cond_code(u32 code) {
    if (code == THROW_BREAK || code == THROW_CONTINUE) {
        g_throw_code = 0;
        fire(Err::throw_while_cond);
    }
    return Next::leave;
}

__attribute__((always_inline)) inline Next while_cond(EvalWalk& cond, u32 from) {
    stack_reset();
    u32 code = run_block(cond, from);
    if (code) return cond_code(code);
    return strict_true(stack_result()) ? Next::go_on : Next::stop;
}

// A body run (continue goes on as the end of the body does).
__attribute__((always_inline)) inline Next body_run(EvalWalk& body, u32 from) {
    stack_reset();
    BodyEnd end = body_end(run_block(body, from));
    if (end == BodyEnd::stop) return Next::stop;
    if (end == BodyEnd::leave) return Next::leave;
    return Next::go_on;
}

// until's body: a truthy value ends the loop (not after a continue).
__attribute__((always_inline)) inline Next until_round(EvalWalk& body, u32 from) {
    stack_reset();
    BodyEnd end = body_end(run_block(body, from));
    if (end == BodyEnd::stop) return Next::stop;
    if (end == BodyEnd::skip) return Next::go_on;
    if (end == BodyEnd::leave) return Next::leave;
    return strict_true(stack_result()) ? Next::stop : Next::go_on;
}

// The walker's rounds k up to count of loop or repeat (word: repeat's word,
// or null) after next, the end of the round before them.
Next counted_rounds(EvalWalk& body, ValueCell* word, i32& k, i32 count, Next next) {
    while (next == Next::go_on && k <= count) {
        u32 code = run_handled(THROW_BREAK, [&] { eval_counted_rounds_p(body, word, k, count); });
        if (!code) break;
        BodyEnd end = body_end(code);
        if (end == BodyEnd::stop) return Next::stop;
        if (end == BodyEnd::leave) return Next::leave;
        k++;
    }
    return next;
}

// The walker's rounds of a while from its condition on. (A routine of its
// own: inlined into native_while, it cost the pure rounds registers.)
__attribute__((noinline)) Next while_rounds(EvalWalk& cond, EvalWalk& body) {
    for (;;) {
        bool in_cond = true;
        u32 code = run_handled(THROW_BREAK, [&] { eval_while_rounds_p(cond, body, in_cond); });
        if (!code) return Next::stop;
        if (in_cond) return cond_code(code);
        BodyEnd end = body_end(code);
        if (end == BodyEnd::stop) return Next::stop;
        if (end == BodyEnd::leave) return Next::leave;
    }
}

void native_while(bool, const i32*) {
    EvalWalk cond(stack_arg(0));
    EvalWalk body(stack_arg(1));
    stack_mark_loop(g_words.n.body);
    u32 from;
    PureStop stop = pure_while(cond, body, &from);
    Next next = Next::go_on;
    if (stop == PureStop::end) {
        next = Next::stop;
    } else if (stop == PureStop::body) {
        next = body_run(body, from);
    } else if (from != WALK_START) {
        next = while_cond(cond, from);
        if (next == Next::go_on) next = body_run(body, WALK_START);
    }
    if (next == Next::go_on) next = while_rounds(cond, body);
    if (next == Next::leave) return;
    unset_box(stack_result());
    end_loop();
}

void native_until(bool, const i32*) {
    EvalWalk body(stack_arg(0));
    stack_mark_loop(g_words.n.body);
    Next next = Next::go_on;
    if (PureBlock* pb = pure_body(body, nullptr)) {
        for (;;) {
            if (ZAN_UNLIKELY(g_interrupt_pending)) break;
            u32 at = pb->run();
            if (ZAN_UNLIKELY(at != PureBlock::DONE)) {
                next = until_round(body, at);
                break;
            }
            if (truthy(pb->result)) {
                stack_set_last_reset(pb->result);
                end_loop();
                return;
            }
        }
    }
    while (next == Next::go_on) next = until_round(body, WALK_START);
    if (next == Next::leave) return;
    end_loop();
}

namespace {
// The rounds of loop and repeat over a body already set up as the loop's
// frame: the pure or direct rounds first where they apply (slot: the
// counter's slot, or null), then the walker's from where they stopped. A
// round the direct form leaves to the walker part way is finished by the
// walker, and the direct form is tried again for the next round when it
// had run this many rounds (an append that must grow a block fails now and
// then and comes back; most other failures would come again at once).
constexpr i32 DIRECT_RETRY_ROUNDS = 8;

void run_counted_loop(EvalWalk& body, ValueCell* word, ValueCell* slot, i32 count, bool pure) {
    i32 k = 1;
    u32 from = pure && !g_forms_off ? pure_counted_rounds(body, k, count, slot) : WALK_START;
    Next next = Next::go_on;
    i32 began = 1;
    while (from != WALK_START) {
        bool again = k - began >= DIRECT_RETRY_ROUNDS;
        next = body_run(body, from);
        k++;
        from = WALK_START;
        if (next != Next::go_on || k > count || !again) break;
        began = k;
        from = direct_counted_rounds(body, k, count, slot);
    }
    next = counted_rounds(body, word, k, count, next);
    if (next == Next::leave) return;
    end_loop();
}
}  // namespace

void native_loop(bool, const i32*) {
    i32 count = loop_count(stack_arg(0));
    if (count < 1) {
        none_box(stack_result());
        return;
    }
    EvalWalk body(stack_arg(1));
    stack_mark_loop(g_words.n.body);
    unset_box(stack_result());
    run_counted_loop(body, nullptr, nullptr, count, true);
}

void native_repeat(bool, const i32*) {
    i32 count = loop_count(stack_arg(1));
    if (count < 1) {
        none_box(stack_result());
        return;
    }
    ValueCell* word = stack_arg(0);
    EvalWalk body(stack_arg(2));
    stack_mark_loop(g_words.n.body);
    unset_box(stack_result());
    ValueCell* slot = g_interp.tracing ? nullptr : word_slot_direct(word);
    run_counted_loop(body, word, slot, count, slot != nullptr);
}

void native_forever(bool, const i32*) {
    EvalWalk body(stack_arg(0));
    stack_mark_loop(g_words.n.body);
    unset_box(stack_result());
    Next next = Next::go_on;
    if (PureBlock* pb = pure_body(body, nullptr)) {
        // Only an interrupt (or a run that leaves the inline kinds) ends these.
        while (ZAN_LIKELY(!g_interrupt_pending)) {
            u32 at = pb->run();
            if (ZAN_UNLIKELY(at != PureBlock::DONE)) {
                next = body_run(body, at);
                break;
            }
        }
    }
    while (next == Next::go_on) next = body_run(body, WALK_START);
    if (next == Next::leave) return;
    end_loop();
}

// ---- series loops --------------------------------------------------------------------------------

bool word_like(u32 t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

// The words of a word block (each must be a word type); raises invalid-arg.
i32 word_block_count(const ValueCell* words) {
    i32 n = block_length(words);
    if (n < 1) {
        ValueCell b = *words;
        fire(Err::script_invalid_arg, &b);
    }
    for (i32 k = 0; k < n; k++) {
        if (!word_like((block_head_ptr(words) + k)->type())) {
            ValueCell b = *words;
            fire(Err::script_invalid_arg, &b);
        }
    }
    return n;
}

// Sets up the loop state below a loop frame: a copy of the series, then the
// word or word block; returns the record size (words per step).
i32 push_loop_state(ValueCell* word, ValueCell* series) {
    i32 n = 1;
    if (word->type() == TYPE_BLOCK) {
        n = word_block_count(word);
        if (series->type() == TYPE_MAP && n != 2) fire(Err::script_invalid_arg, word);
    } else if (series->type() == TYPE_MAP) {
        fire(Err::script_invalid_arg, series);
    }
    stack_push(series);
    stack_push(word);
    return word->type() == TYPE_BLOCK ? n : 0;
}

// One step of a loop over the state below the current top (0: single word).
inline bool loop_step(i32 n) { return n == 0 ? foreach_next() : foreach_next_block(n); }

// Where the pure rounds of a series loop stopped: the loop is over (its
// last value in the result cell), the walker goes on with the next round,
// or it finishes the current round from a statement of the body.
enum class SeriesStop { over, next_round, in_round };

// The rounds of a foreach with one word over a block-like series, run
// purely while they can: each step gives the word's slot the element at
// the series' index and advances the index, as foreach_next does. Nothing
// a pure body does can change the series or move its cells. *from: where
// the walker resumes the current round (in_round).
SeriesStop pure_foreach_rounds(EvalWalk& body, u32* from) {
    ValueCell* series = g_stack.base - 2;
    if (!type_block_like(series->type())) return SeriesStop::next_round;
    ValueCell* slot = word_slot_direct(g_stack.base - 1);
    if (!slot) return SeriesStop::next_round;
    PureBlock* pb = pure_body(body, slot);
    if (!pb) return SeriesStop::next_round;
    bool ran = false;
    SeriesStop stop = SeriesStop::over;
    for (;;) {
        if (ZAN_UNLIKELY(g_interrupt_pending)) {
            stop = SeriesStop::next_round;
            break;
        }
        SeriesBuffer* b = series_buffer(series);
        i32 at = series_index(series);
        if (at >= static_cast<i32>(b->used_bytes() / sizeof(ValueCell))) break;
        *slot = b->head_cells()[at];
        series_set_head(series, series_head(series) + 1);
        u32 k = pb->run();
        if (ZAN_UNLIKELY(k != PureBlock::DONE)) {
            *from = k;
            return SeriesStop::in_round;
        }
        ran = true;
    }
    if (ran) stack_set_last_reset(pb->result);
    return stop;
}

void native_foreach(bool, const i32*) {
    EvalWalk body(stack_arg(2));
    i32 n = push_loop_state(stack_arg(0), stack_arg(1));
    stack_mark_loop(g_words.n.body);
    unset_box(stack_result());
    if (n == 0 && pure_loop_ok()) {
        u32 from = WALK_START;
        SeriesStop stop = pure_foreach_rounds(body, &from);
        if (stop == SeriesStop::over) {
            stack_keep();
            end_loop();
            return;
        }
        if (stop == SeriesStop::in_round) {
            stack_reset();
            BodyEnd end = body_end(run_block(body, from));
            if (end == BodyEnd::leave) return;
            if (end == BodyEnd::stop) {
                stack_keep();
                end_loop();
                return;
            }
        }
    }
    for (;;) {
        stack_reset();
        if (!loop_step(n)) break;
        BodyEnd end = body_end(run_block(body));
        if (end == BodyEnd::stop) break;
        if (end == BodyEnd::leave) return;
    }
    stack_keep();
    end_loop();
}

void native_remove_each(bool, const i32*) {
    ValueCell body = *stack_arg(2);
    ValueCell data = *stack_arg(1);
    integer_box(stack_push_cell(), 0);  // the counter
    i32 n = push_loop_state(stack_arg(0), stack_arg(1));
    i32 record = n == 0 ? 1 : n;
    stack_mark_loop(g_words.n.body);
    unset_box(stack_result());
    for (;;) {
        stack_reset();
        if (!loop_step(n)) break;
        BodyEnd end = body_end(run_block(&body));
        if (end == BodyEnd::stop) break;
        if (end == BodyEnd::skip) continue;
        if (end == BodyEnd::leave) return;
        remove_each_step(record);
    }
    // The result is the data series itself (at its own index), whatever
    // the body's last value was.
    *stack_result() = data;
    stack_keep();
    end_loop();
}

// The rounds of a forall over a block-like series run purely while they
// can: a pure body that stores nothing into the word leaves its series as
// it is, so each round only tests the index and advances it, as the
// walker's rounds do. Stops before a round (*from left as it is) or in one
// (*from: the statement where the walker resumes that round).
void pure_forall_rounds(ValueCell* word, EvalWalk& body, u32* from) {
    ValueCell* slot = word_slot_direct(word);
    if (!slot || !type_block_like(slot->type())) return;
    PureBlock* pb = pure_body(body, slot);
    if (!pb || pb->writes(slot)) return;
    bool ran = false;
    for (;;) {
        if (ZAN_UNLIKELY(g_interrupt_pending)) break;
        if (!loop_series_check(slot)) break;
        u32 k = pb->run();
        if (ZAN_UNLIKELY(k != PureBlock::DONE)) {
            *from = k;
            return;
        }
        ran = true;
        series_set_head(slot, series_head(slot) + 1);
    }
    if (ran) stack_set_last_reset(pb->result);
}

void native_forall(bool, const i32*) {
    ValueCell* word = stack_arg(0);
    ValueCell body = *stack_arg(1);
    ValueCell start = *word_value(word);
    if (!type_series(start.type())) {
        ValueCell dt, wd = *word;
        ValueCell name = *word_make_global(symbol_make("forall"));
        datatype_box(&dt, start.type());
        fire(Err::script_expect_arg, &name, &dt, &wd);
    }
    stack_mark_loop(g_words.n.body);
    unset_box(stack_result());
    EvalWalk walk(&body);
    u32 from = WALK_START;
    if (pure_loop_ok()) pure_forall_rounds(word, walk, &from);
    for (;;) {
        ValueCell cur = *word_value(word);
        if (from == WALK_START && !loop_series_check(&cur)) break;
        stack_reset();
        BodyEnd end = body_end(run_block(walk, from));
        from = WALK_START;
        if (end == BodyEnd::stop) break;
        if (end == BodyEnd::leave) return;
        ValueCell now = *word_value(word);
        if (now.type() != start.type() || series_node(&now) != series_node(&start))
            fire(Err::script_bad_loop_series, &now);
        series_set_head(&now, series_head(&now) + 1);
        word_assign(word, &now);
    }
    word_assign(word, &start);
    end_loop();
}

}  // namespace

// ---- steppers ---------------------------------------------------------------------------------------

void float_to_integer_arg(ValueCell* cell) {
    if (cell->type() != TYPE_FLOAT) return;
    i32 v = rt_to_integer(cell);
    integer_box(cell, v);
}

void loop_count_arg() { float_to_integer_arg(stack_arg(0)); }

bool loop_series_check(const ValueCell* series) {
    if (series->type() == TYPE_MAP) return false;
    return series_index(series) < series_buffer_length(series);
}

namespace {
// Element k (from 0) of the series at its index, into out; false past the
// tail.
bool series_element(ValueCell* series, i32 k, ValueCell* out) {
    i32 at = series_index(series) + k;
    if (at >= series_buffer_length(series)) return false;
    if (type_block_like(series->type())) {
        *out = *(series_buffer(series)->head_cells() + at);
        return true;
    }
    ValueCell probe = *series;
    series_set_index(&probe, at);
    ValueCell idx;
    integer_box(&idx, 1);
    *out = *action_pick_dispatch(&probe, 1, &idx);
    return true;
}
}  // namespace

bool foreach_next() {
    ValueCell* series = g_stack.top - 2;
    ValueCell* word = g_stack.top - 1;
    ValueCell v;
    if (type_block_like(series->type())) {
        // A block's element is its cell (series_element without the calls).
        SeriesBuffer* b = series_buffer(series);
        i32 at = series_index(series);
        if (at >= static_cast<i32>(b->used_bytes() / sizeof(ValueCell))) return false;
        v = b->head_cells()[at];
        word_assign(word, &v);
        series_set_head(series, series_head(series) + 1);
        return true;
    }
    if (!series_element(series, 0, &v)) return false;
    word_assign(word, &v);
    series_set_head(series, series_head(series) + 1);
    return true;
}

bool foreach_next_block(i32 n) {
    ValueCell* series = g_stack.top - 2;
    ValueCell* words = g_stack.top - 1;
    if (n <= 0) return false;
    // A map gives its key/value pairs (removed entries skipped). Its stepper
    // works on the stack above the top, and the cell at the top is the loop's
    // result so far (the body's last value): step above it, or the last,
    // failing step would leave its scratch cells as the loop's result.
    if (series->type() == TYPE_MAP) {
        g_stack.top++;
        bool more = map_set_words(words, series, n);
        g_stack.top--;
        return more;
    }
    if (!loop_series_check(series)) return false;
    for (i32 k = 0; k < n; k++) {
        ValueCell v;
        if (!series_element(series, k, &v)) none_box(&v);
        ValueCell w = *(block_head_ptr(words) + k);
        word_assign(&w, &v);
    }
    series_set_head(series, series_head(series) + static_cast<u32>(n));
    return true;
}

void remove_each_step(i32 n) {
    if (!truthy(g_stack.base)) return;
    ValueCell* series = g_stack.base - 2;
    i32 at = series_index(series) - n;
    if (at < 0) at = 0;
    ValueCell target = *series;
    series_set_index(&target, at);
    i32 len = series_buffer_length(&target);
    if (at >= len) return;
    if (n > 1) {
        ValueCell part;
        integer_box(&part, n);
        action_remove_dispatch(&target, &part, nullptr);
    } else {
        action_remove_dispatch(&target, nullptr, nullptr);
    }
    series_set_index(series, at);
}

bool forall_loop_test(ValueCell* word, bool advance) {
    ValueCell cur = *word_value(word);
    if (advance) {
        series_set_head(&cur, series_head(&cur) + 1);
        word_assign(word, &cur);
    }
    return !loop_series_check(&cur);
}

void forall_next() {
    ValueCell* saved = g_stack.top - 2;
    ValueCell* word = g_stack.top - 1;
    word_assign(word, saved);
}

void forall_end() {
    ValueCell* saved = g_stack.top - 2;
    ValueCell* word = g_stack.top - 1;
    series_set_head(saved, series_head(word_value(word)));
}

void repeat_next() {
    ValueCell* counter = g_stack.top - 1;
    integer_box(counter, integer_get(counter) + 1);
}

void natives_control_init(NativeEntry* s) {
    s[NAT_IF - 1] = native_checked<NAT_IF, native_if>;
    s[NAT_UNLESS - 1] = native_checked<NAT_UNLESS, native_unless>;
    s[NAT_EITHER - 1] = native_checked<NAT_EITHER, native_either>;
    s[NAT_ANY - 1] = native_checked<NAT_ANY, native_any>;
    s[NAT_ALL - 1] = native_checked<NAT_ALL, native_all>;
    s[NAT_WHILE - 1] = native_checked<NAT_WHILE, native_while>;
    s[NAT_UNTIL - 1] = native_checked<NAT_UNTIL, native_until>;
    s[NAT_LOOP - 1] = native_checked<NAT_LOOP, native_loop>;
    s[NAT_REPEAT - 1] = native_checked<NAT_REPEAT, native_repeat>;
    s[NAT_FOREVER - 1] = native_checked<NAT_FOREVER, native_forever>;
    s[NAT_FOREACH - 1] = native_checked<NAT_FOREACH, native_foreach>;
    s[NAT_FORALL - 1] = native_checked<NAT_FORALL, native_forall>;
    s[NAT_REMOVE_EACH - 1] = native_checked<NAT_REMOVE_EACH, native_remove_each>;
    s[NAT_SWITCH - 1] = native_checked<NAT_SWITCH, native_switch>;
    s[NAT_CASE - 1] = native_checked<NAT_CASE, native_case>;
}

}  // namespace zan
