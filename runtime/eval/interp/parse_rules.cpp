// The keywords of the parse dialect and the rule records they push: what a
// keyword does at once, and what a finished record does to the input, to
// words and to the collect targets.
#include <algorithm>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp_internal.h"
#include "runtime/eval/interp/parse_internal.h"
#include "runtime/typesystem/runtime_support.h"

namespace zan::parse_detail {

namespace {

ValueCell triple_of(i32 a, i32 b, i32 c) {
    ValueCell t;
    triple_make_at(&t, a, b, c);
    return t;
}

bool is_path_type(u32 t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }

// A series that collect into/after may target, and that into may enter.
bool usable_series(u32 t) { return type_block_like(t) || type_string_like(t) || t == TYPE_BINARY; }

// The value slot of a word when it has one (never raises).
const ValueCell* value_if_any(const ValueCell* word) {
    if (!any_word_type_q(word->type())) return nullptr;
    return word_value_if_available(word);
}

// The value of a word that a rule needs: unbound or unset raise parse-rule.
ValueCell rule_word_value(const ValueCell* word) {
    const ValueCell* slot = value_if_any(word);
    if (!slot || slot->type() == TYPE_UNSET) fire(Err::script_parse_rule, word);
    return *slot;
}

}  // namespace

const ValueCell* Engine::marked_position(const ValueCell* cell, ValueCell* out) const {
    u32 t = cell->type();
    if (t != TYPE_WORD && t != TYPE_GET_WORD) return nullptr;
    const ValueCell* slot = value_if_any(cell);
    if (!slot || slot->type() != in->type() || series_node(slot) != series_node(in)) return nullptr;
    *out = *slot;
    return out;
}

bool Engine::command_value(i32 k, ValueCell* out) {
    ValueCell c = rule_at(k);
    u32 t = c.type();
    if (is_path_type(t)) fire(Err::script_parse_rule, &c);
    if (t == TYPE_PAREN) {
        eval_paren(&c);
        *out = *paren;
        if (!event(g_words.n.paren)) return false;
        return true;
    }
    if (t == TYPE_WORD || t == TYPE_GET_WORD) {
        const ValueCell* slot = value_if_any(&c);
        if (!slot || slot->type() == TYPE_UNSET) {
            ValueCell w = c;
            w.set_type(TYPE_WORD);
            fire(Err::script_no_value, &w);
        }
        *out = *slot;
        return true;
    }
    *out = c;
    return true;
}

// ---- collect targets ------------------------------------------------------------------------------

// Puts a value into a collect into/after target: the word (a get-word! for
// into, a refinement! for after) whose value is the target series.
void Engine::keep_into_target(ValueCell* target, const ValueCell* value) {
    ValueCell word = *target;
    word.set_type(TYPE_WORD);
    const ValueCell* slot = value_if_any(&word);
    if (!slot || !usable_series(slot->type())) fire(Err::script_parse_into_type);
    *tmp2 = *slot;
    if (target->type() == TYPE_GET_WORD) {
        i32 before = series_buffer_length(tmp2);
        i32 at = series_index(tmp2);
        Node node = series_node(tmp2);
        action_insert_dispatch(tmp2, const_cast<ValueCell*>(value), -1, true, 1);
        i32 inserted = series_buffer_length(tmp2) - before;
        // The target's position moves past what was put in, so that kept
        // values stay in order.
        ValueCell* now = const_cast<ValueCell*>(value_if_any(&word));
        if (now && series_node(now) == node) series_set_index(now, at + inserted);
    } else {
        action_append_dispatch(tmp2, const_cast<ValueCell*>(value), -1, true, 1);
    }
}

void Engine::keep_value(const ValueCell* value) {
    ValueCell* target = g_stack.top - 1;
    if (target->type() == TYPE_GET_WORD || target->type() == TYPE_REFINEMENT) {
        keep_into_target(target, value);
    } else {
        ValueCell v = *value;
        block_append_cell(target, &v);
    }
}

// ---- keywords ------------------------------------------------------------------------------------------

State Engine::keyword() {
    ValueCell word = *val;
    Keyword kw = keyword_of(&word);
    i32 tail = rules_tail();
    push_extra = 0;
    switch (kw) {
        case KW_BAR:
            rp = tail;
            return record_on_top() ? ST_POP_RULE : ST_POP_BLOCK;

        case KW_SKIP:
            if (at_end()) {
                match = false;
                if (!event(g_words.n.match)) return ST_STOP;
                return ST_CHECK;
            }
            match = true;
            if (!event(g_words.n.match)) return ST_STOP;
            set_idx(idx() + 1);
            return ST_CHECK;

        case KW_ANY:
        case KW_SOME:
        case KW_OPT:
        case KW_WHILE: {
            if (kw != KW_WHILE && rp + 1 >= tail) fire(Err::script_parse_end, &word);
            i32 mn = kw == KW_SOME ? 1 : 0;
            i32 mx = kw == KW_OPT ? 1 : -1;
            push_first = triple_of(mn, mx, 1);
            push_type = kw == KW_WHILE ? R_WHILE : R_REPEAT;
            return ST_PUSH_RULE;
        }

        case KW_TO:
        case KW_THRU:
            if (keyword_at(rp + 1, KW_END)) {
                match = true;
                if (!event(g_words.n.match)) return ST_STOP;
                rp++;
                set_idx(limit_end());
                return ST_CHECK;
            }
            if (!has_cb && rp + 1 < tail && searched_literally(rule_at(rp + 1).type())) {
                // A literal to search for, and no callback to see the record
                // of the search: the search is made without pushing it.
                check_limits();
                rp++;
                *val = rule_at(rp);
                via_word = false;
                i32 at;
                i32 type = kw == KW_TO ? R_TO : R_THRU;
                if (search_one_byte(type, &at) < 0) search_literal(type, &at);
                return ST_CHECK;
            }
            // The maximum slot keeps the index where the search begins.
            push_first = triple_of(-1, idx(), 1);
            push_type = kw == KW_TO ? R_TO : R_THRU;
            return ST_PUSH_RULE;

        case KW_COPY:
        case KW_SET: {
            if (rp + 2 >= tail) fire(Err::script_parse_end, &word);
            ValueCell target = rule_at(rp + 1);
            u32 t = target.type();
            if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD)
                fire(Err::script_parse_end, &word);
            if (kw == KW_COPY && !has_cb && copy_searched()) return ST_CHECK;
            rp++;
            push_first = target;
            push_type = kw == KW_COPY ? R_COPY : R_SET;
            return ST_PUSH_RULE;
        }

        case KW_REMOVE: {
            if (rp + 1 < tail) {
                ValueCell next = rule_at(rp + 1);
                if (is_path_type(next.type())) fire(Err::script_parse_rule, &next);
                ValueCell mark;
                if (marked_position(&next, &mark)) {
                    i32 here = idx();
                    i32 at = std::clamp(series_index(&mark), 0, in_tail());
                    i32 lo = std::min(at, here), hi = std::max(at, here);
                    *tmp = *in;
                    series_set_index(tmp, lo);
                    ValueCell* count = integer_box(tmp2, hi - lo);
                    action_remove_dispatch(tmp, count, nullptr);
                    set_idx(lo);
                    rp++;
                    return ST_CHECK;
                }
            }
            push_first = triple_of(-1, -1, 1);
            push_type = R_REMOVE;
            return ST_PUSH_RULE;
        }

        case KW_BREAK:
            match = true;
            raise_break();
            pop_requested = true;
            if (rp < tail) rp++;
            if (!event(g_words.n.match)) return ST_STOP;
            return ST_POP_RULE;

        case KW_REJECT:
            match = false;
            raise_break();
            pop_requested = true;
            if (!event(g_words.n.match)) return ST_STOP;
            return ST_POP_RULE;

        case KW_FAIL:
            match = false;
            if (!event(g_words.n.match)) return ST_STOP;
            return ST_POP_RULE;

        case KW_NONE:
            match = true;
            if (!event(g_words.n.match)) return ST_STOP;
            return ST_CHECK;

        case KW_END:
            match = at_end();
            if (!event(g_words.n.match)) return ST_STOP;
            return ST_CHECK;

        case KW_NOT:
        case KW_AHEAD:
            push_first = triple_of(-1, -1, 1);
            push_type = kw == KW_NOT ? R_NOT : R_AHEAD;
            return ST_PUSH_RULE;

        case KW_QUOTE:
            if (rp + 1 >= tail) fire(Err::script_parse_end, &word);
            rp++;
            *val = rule_at(rp);
            return ST_LITERAL;

        case KW_IF: {
            if (rp + 1 >= tail || rule_at(rp + 1).type() != TYPE_PAREN)
                fire(Err::script_parse_end, &word);
            rp++;
            ValueCell code = rule_at(rp);
            eval_paren(&code);
            clamp_rp(false);
            clamp_idx();
            match = truthy(paren);
            if (!event(g_words.n.match)) return ST_STOP;
            return ST_CHECK;
        }

        case KW_CASE: {
            if (rp + 1 >= tail) fire(Err::script_parse_end, &word);
            ValueCell flag_word = rule_at(rp + 1);
            if (flag_word.type() != TYPE_WORD && flag_word.type() != TYPE_GET_WORD)
                fire(Err::script_parse_end, &word);
            rp++;
            ValueCell flag = *word_value(&flag_word);
            push_first = triple_of(-1, static_cast<i32>(mode), 1);
            mode = truthy(&flag) ? PARSE_MODE_STRICT : PARSE_MODE_EQUAL;
            push_type = R_CASE;
            return ST_PUSH_RULE;
        }

        case KW_INTO: {
            if (family() != FAM_BLOCK) {
                ValueCell input = *in;
                fire(Err::script_parse_block, &input);
            }
            if (rp + 1 >= tail) fire(Err::script_parse_end, &word);
            ValueCell rule = rule_at(rp + 1);
            if (rule.type() == TYPE_WORD) {
                const ValueCell* slot = value_if_any(&rule);
                if (slot) rule = *slot;
            }
            if (rule.type() != TYPE_BLOCK) fire(Err::script_parse_end, &word);
            if (!at_end()) {
                ValueCell element = series_of(in)->head_cells()[idx()];
                if (usable_series(element.type())) {
                    check_limits();
                    // The outer position is kept in the input stack's top
                    // cell; the element becomes the input.
                    SeriesBuffer* is = series_of(g_parse.input_stack);
                    ValueCell* top = is->head_cells() + (is->used_bytes() / sizeof(ValueCell) - 1);
                    series_set_index(top, idx());
                    block_append_cell(g_parse.input_stack, &element);
                    *in = element;
                    clamp_idx();
                    push_first = triple_of(-1, -1, 1);
                    push_type = R_INTO;
                    return ST_PUSH_RULE;
                }
            }
            rp++;  // past the rule, which is not run
            match = false;
            if (!event(g_words.n.match)) return ST_STOP;
            return ST_CHECK;
        }

        case KW_INSERT: {
            i32 k = rp + 1;
            if (k >= tail) fire(Err::script_parse_end, g_words.insert);
            bool only = false;
            if (keyword_at(k, KW_ONLY)) {
                only = true;
                if (++k >= tail) fire(Err::script_parse_end, g_words.insert);
            }
            i32 at = idx();
            ValueCell position = rule_at(k);
            ValueCell mark;
            if (marked_position(&position, &mark)) {
                at = std::clamp(series_index(&mark), 0, in_tail());
                if (++k >= tail) fire(Err::script_parse_rule, &position);
            }
            if (!command_value(k, tmp)) return ST_STOP;
            rp = k;
            if (at > in_tail()) at = in_tail();
            *val = *in;
            series_set_index(val, at);
            i32 before = in_tail();
            action_insert_dispatch(val, tmp, -1, only, 1);
            i32 inserted = in_tail() - before;
            if (at <= idx()) set_idx(idx() + inserted);
            return ST_NEXT_ACTION;
        }

        case KW_CHANGE: {
            i32 k = rp + 1;
            if (k >= tail) fire(Err::script_parse_rule, g_words.n.change);
            bool only = false;
            if (keyword_at(k, KW_ONLY)) {
                only = true;
                if (++k >= tail) fire(Err::script_parse_rule, g_words.n.change);
            }
            ValueCell position = rule_at(k);
            ValueCell mark;
            if (marked_position(&position, &mark)) {
                if (++k >= tail) fire(Err::script_parse_rule, &position);
                if (!command_value(k, tmp)) return ST_STOP;
                rp = k;
                i32 here = idx();
                i32 at = std::clamp(series_index(&mark), 0, in_tail());
                i32 lo = std::min(at, here), hi = std::max(at, here);
                *val = *in;
                series_set_index(val, lo);
                action_change_dispatch(val, tmp, hi - lo, only, 1);
                set_idx(lo);
                return ST_CHECK;
            }
            rp = k - 1;  // on the last modifier: the push steps onto the sub-rule
            push_first = triple_of(-1, -1, 1);
            push_type = only ? R_CHANGE_ONLY : R_CHANGE;
            return ST_PUSH_RULE;
        }

        case KW_KEEP: {
            if (collect_depth <= 0) fire(Err::script_parse_keep);
            if (keyword_at(rp + 1, KW_PICK)) {
                rp++;
                push_extra = 1;
            }
            bool paren_follows = rp + 1 < tail && rule_at(rp + 1).type() == TYPE_PAREN;
            push_first = triple_of(-1, -1, 1);
            push_type = paren_follows ? R_KEEP_PAREN : R_KEEP;
            return ST_PUSH_RULE;
        }

        case KW_COLLECT: {
            collect_depth++;
            push_first = triple_of(-1, -1, 1);
            push_type = R_COLLECT;
            ValueCell modifier = rp + 1 < tail ? rule_at(rp + 1) : ValueCell{};
            Keyword mk = rp + 1 < tail ? keyword_of(&modifier) : KW_NOT_KEYWORD;
            if (mk == KW_SET || mk == KW_INTO || mk == KW_AFTER) {
                if (rp + 2 >= tail) fire(Err::script_parse_end, &word);
                ValueCell target = rule_at(rp + 2);
                if (target.type() != TYPE_WORD) fire(Err::script_parse_end, &word);
                rp += 2;
                if (mk == KW_SET) {
                    stack_push(&target);
                    block_push_new(8);
                    return ST_PUSH_RULE;
                }
                const ValueCell* slot = value_if_any(&target);
                if (!slot) fire(Err::script_parse_into_type);
                ValueCell series = *slot;
                u32 st = series.type();
                if (!usable_series(st)) fire(Err::script_parse_into_type);
                u32 it = in->type();
                if (st != it && (st == TYPE_BINARY || (type_string_like(st) && type_block_like(it))))
                    fire(Err::script_parse_into_type);
                // Neither the input nor a series that into entered may be
                // the target.
                SeriesBuffer* is = series_of(g_parse.input_stack);
                u32 n = is->used_bytes() / sizeof(ValueCell);
                for (u32 i = series_head(g_parse.input_stack); i < n; i++)
                    if (series_node(is->head_cells() + i) == series_node(&series))
                        fire(Err::script_parse_into_bad);
                if (series_node(&series) == series_node(in)) fire(Err::script_parse_into_bad);
                ValueCell marker = target;
                marker.set_type(mk == KW_INTO ? TYPE_GET_WORD : TYPE_REFINEMENT);
                stack_push(&marker);
                push_first = triple_of(-1, series_index(&series), 1);
                return ST_PUSH_RULE;
            }
            block_push_new(8);
            return ST_PUSH_RULE;
        }

        default: {
            // A word holding a rule.
            WordContext ctx = word_context();
            *val = rule_word_value(&word);
            via_word = true;
            // A word value is matched literally after a command (and in the
            // later rounds of one); other values are rules.
            if (val->type() == TYPE_WORD && (ctx == WC_COMMAND || ctx == WC_REARMED))
                return ST_LITERAL;
            return ctx == WC_COMMAND ? ST_SUBRULE_VALUE : ST_FETCH;
        }
    }
}

void Engine::finish_copy(const ValueCell& word, i32 lo, i32 hi) {
    *copy_word = word;
    if (!match) return;
    if (in->type() == TYPE_STRING) {
        // What copy/part gives for a string, without its dispatch and its
        // measuring of the part.
        Node n = series_alloc_like(in, static_cast<u32>(lo), static_cast<u32>(hi - lo));
        cell_init(tmp2, TYPE_STRING | (in->header & CELL_NEW_LINE), 0, n, 0);
    } else {
        *tmp = *in;
        series_set_index(tmp, lo);
        ValueCell count;
        integer_box(&count, hi - lo);
        action_copy_dispatch(tmp, tmp2, &count, false, nullptr);
    }
    ValueCell w = *copy_word;
    word_assign(&w, tmp2);
}

// ---- finished records ------------------------------------------------------------------------------------

bool Engine::finish_record(i32 type) {
    ValueCell first = *rs_top(2);
    ValueCell pos = *rs_top(1);
    bool pick = pair_y(rs_top(0)) == 1;
    i32 saved = std::clamp(triple_part(&pos, 1), 0, in_tail());
    i32 here = idx();
    i32 lo = std::min(saved, here), hi = std::max(saved, here);

    switch (type) {
        case R_COPY:
            finish_copy(first, lo, hi);
            return true;

        case R_SET:
            if (match) {
                if (here > saved) unit_value(saved, tmp);
                else none_box(tmp);
                ValueCell w = first;
                word_assign(&w, tmp);
            }
            return true;

        case R_NOT:
            match = !match;
            set_idx(saved);
            return true;

        case R_INTO: {
            bool ok = match && idx() >= in_tail() && reached_tail;
            SeriesBuffer* is = series_of(g_parse.input_stack);
            if (is->used_bytes() / sizeof(ValueCell) > series_head(g_parse.input_stack) + 1) {
                is->tail -= sizeof(ValueCell);
                *in = *(is->tail_cells() - 1);
            }
            clamp_idx();
            match = ok;
            if (ok) set_idx(idx() + 1);
            return true;
        }

        case R_REMOVE:
            if (match) {
                *tmp = *in;
                series_set_index(tmp, lo);
                ValueCell* count = integer_box(tmp2, hi - lo);
                action_remove_dispatch(tmp, count, nullptr);
                set_idx(lo);
            }
            return true;

        case R_COLLECT: {
            collect_depth--;
            ValueCell* top = g_stack.top - 1;
            if (top <= scratch) return true;
            if (top->type() == TYPE_GET_WORD || top->type() == TYPE_REFINEMENT) {
                // Back to the position the target had when collect began.
                ValueCell word = *top;
                word.set_type(TYPE_WORD);
                ValueCell* slot = const_cast<ValueCell*>(value_if_any(&word));
                if (slot && usable_series(slot->type()) && triple_part(&first, 1) >= 0)
                    series_set_index(slot, triple_part(&first, 1));
                g_stack.top--;
                return true;
            }
            ValueCell* below = top - 1;
            if (below == scratch) {
                *scratch = *top;
                collect_result = true;
                g_stack.top--;
            } else if (below->type() == TYPE_WORD) {
                ValueCell w = *below;
                word_assign(&w, top);
                g_stack.top -= 2;
            } else if (below->type() == TYPE_GET_WORD || below->type() == TYPE_REFINEMENT) {
                keep_into_target(below, top);
                g_stack.top--;
            } else {
                ValueCell block = *top;
                block_append_cell(below, &block);
                g_stack.top--;
            }
            return true;
        }

        case R_KEEP:
        case R_KEEP_PAREN: {
            if (!match) return true;
            ValueCell* target = g_stack.top - 1;
            if (target <= scratch) return true;
            if (type == R_KEEP_PAREN) {
                if (pick && paren->type() == TYPE_BLOCK) {
                    i32 n = series_buffer_length(paren);
                    for (i32 i = std::max(0, series_index(paren)); i < n; i++) {
                        *tmp = series_of(paren)->head_cells()[i];
                        keep_value(tmp);
                    }
                } else {
                    keep_value(paren);
                }
                return true;
            }
            if (triple_part(&pos, 2) == R_COPY) {
                // The sub-rule was a copy: its word holds the value already.
                ValueCell w = *copy_word;
                const ValueCell* slot = value_if_any(&w);
                if (slot) {
                    *tmp = *slot;
                    keep_value(tmp);
                }
                return true;
            }
            i32 n = hi - lo;
            if (n <= 0) return true;
            if (pick) {
                for (i32 i = lo; i < hi && i < in_tail(); i++) {
                    unit_value(i, tmp);
                    keep_value(tmp);
                }
                return true;
            }
            if (n == 1) {
                unit_value(lo, tmp);
                keep_value(tmp);
                return true;
            }
            // Text or bytes into a text or binary target go in directly.
            bool marker = target->type() == TYPE_GET_WORD || target->type() == TYPE_REFINEMENT;
            if (marker && family() != FAM_BLOCK) {
                ValueCell word = *target;
                word.set_type(TYPE_WORD);
                const ValueCell* slot = value_if_any(&word);
                if (slot && (type_string_like(slot->type()) || slot->type() == TYPE_BINARY)) {
                    *tmp2 = *slot;
                    Node node = series_node(tmp2);
                    i32 at = series_index(tmp2);
                    i32 before = series_buffer_length(tmp2);
                    *tmp = *in;
                    series_set_index(tmp, lo);
                    if (target->type() == TYPE_GET_WORD) {
                        action_insert_dispatch(tmp2, tmp, n, false, 1);
                        ValueCell* now = const_cast<ValueCell*>(value_if_any(&word));
                        if (now && series_node(now) == node)
                            series_set_index(now, at + series_buffer_length(tmp2) - before);
                    } else {
                        action_append_dispatch(tmp2, tmp, n, false, 1);
                    }
                    return true;
                }
            }
            *tmp = *in;
            series_set_index(tmp, lo);
            ValueCell count;
            integer_box(&count, n);
            action_copy_dispatch(tmp, tmp2, &count, false, nullptr);
            *tmp = *tmp2;
            keep_value(tmp);
            return true;
        }

        case R_AHEAD:
            set_idx(saved);
            return true;

        case R_CHANGE:
        case R_CHANGE_ONLY: {
            i32 k = rp + 1;
            if (k >= rules_tail()) fire(Err::script_parse_end, g_words.n.change);
            if (!command_value(k, tmp)) return false;
            rp = k;
            if (match) {
                *val = *in;
                series_set_index(val, lo);
                i32 before = in_tail();
                action_change_dispatch(val, tmp, hi - lo, type == R_CHANGE_ONLY, 1);
                i32 put_in = in_tail() - before + (hi - lo);
                set_idx(lo + put_in);
            }
            return true;
        }

        case R_CASE:
            mode = triple_part(&first, 1) == PARSE_MODE_STRICT ? PARSE_MODE_STRICT : PARSE_MODE_EQUAL;
            return true;

        default:
            return true;
    }
}

}  // namespace zan::parse_detail
