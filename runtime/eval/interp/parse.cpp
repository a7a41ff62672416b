// The parse engine: the work blocks, the state machine, literal matching
// with its fast paths, trace events and the parse native's front end. The
// keywords and the records they push are in parse_rules.cpp.
#include "runtime/eval/interp/parse.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "runtime/core/case_folding.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_search.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp_internal.h"
#include "runtime/eval/interp/parse_internal.h"
#include "runtime/io/lexer/lexer.h"

namespace zan {

namespace parse_detail {

ParseGlobals g_parse;

namespace {

// The callback kind bit of parse in system/state/callbacks/bits.
constexpr u32 CALLBACK_PARSE = 2;

// ---- work blocks ------------------------------------------------------------------------------

void truncate_cells(ValueCell* b, u32 n) {
    SeriesBuffer* buf = series_of(b);
    if (buf->used_bytes() / sizeof(ValueCell) > n) buf->tail = buf->head + n * sizeof(ValueCell);
}

ValueCell triple(i32 a, i32 b, i32 c) {
    ValueCell t;
    triple_make_at(&t, a, b, c);
    return t;
}

// While a paren or the callback runs, the input stack's head is moved past
// its contents, so that a parse run inside them leaves it alone.
struct InputHeadGuard {
    u32 saved;
    InputHeadGuard() : saved(series_head(g_parse.input_stack)) {
        series_set_head(g_parse.input_stack, block_cells(g_parse.input_stack));
    }
    ~InputHeadGuard() { series_set_head(g_parse.input_stack, saved); }
    InputHeadGuard(const InputHeadGuard&) = delete;
    InputHeadGuard& operator=(const InputHeadGuard&) = delete;
};

// The UTF-8 bytes of a text value from its index (a tag! with its angle
// brackets), as a binary! input matches it.
std::string utf8_of_text(const ValueCell* v) {
    std::string out;
    bool tag = v->type() == TYPE_TAG;
    if (tag) out.push_back('<');
    SeriesBuffer* b = series_of(v);
    u32 unit = b->unit();
    i32 n = static_cast<i32>(b->used_bytes() / unit);
    i32 i = series_index(v);
    if (i < 0) i = 0;
    u8 enc[8];
    for (; i < n; i++) {
        u32 cp = unicode_get_unit(b->head_ptr() + static_cast<u32>(i) * unit, unit);
        u32 k = utf8_encode_char(cp, enc);
        out.append(reinterpret_cast<const char*>(enc), k);
    }
    if (tag) out.push_back('>');
    return out;
}

// Membership of n in a bitset whose bytes are at bits (count bytes stored,
// the complement flag for bits beyond them).
inline bool bit_in(const u8* bits, u32 count, bool complement, u32 n) {
    if (n >> 3 >= count) return complement;
    return (bits[n >> 3] & (0x80u >> (n & 7))) != 0;
}

// The number of parameters of a callback before its refinements.
u32 callback_params(const ValueCell* fn) {
    Node cache = interp_parse_spec(fn);
    SeriesBuffer* b = node_buffer(cache);
    u32 n = b->used_bytes() / sizeof(ValueCell);
    u32 count = 0;
    for (u32 k = 0; k < n; k++) {
        ValueCell* e = node_buffer(cache)->head_cells() + k;
        if (e->type() == TYPE_TYPESET) {
            if ((e->header & FETCH_MODE_MASK) == FETCH_RETURN) continue;
            count++;
        } else {
            break;
        }
    }
    return count;
}

// What search_bytes answers when the general search must do the work.
constexpr i32 SEARCH_GENERAL = -2;

// to and thru in text of bytes for a string of bytes or a char: the first
// position in [start, end) where the key begins and ends by end (its units
// into *len), -1 when there is none, with the comparisons of
// string_find_position (ASCII folded inline unless strict) and none of its
// set-up. SEARCH_GENERAL for any other input or key.
i32 search_bytes(const ValueCell* in, i32 start, i32 end, const ValueCell* key, bool fold,
                 i32* len) {
    SeriesBuffer* ib = series_of(in);
    if (ib->unit() != 1 || end > static_cast<i32>(ib->used_bytes())) return SEARCH_GENERAL;
    const u8* hay = ib->head_ptr();
    if (key->type() == TYPE_CHAR) {
        u32 cp = char_get(key);
        u32 want = fold ? case_fold_fast(cp) : cp;
        *len = 1;
        for (i32 i = start; i < end; i++)
            if ((fold ? case_fold_fast(hay[i]) : hay[i]) == want) return i;
        return -1;
    }
    if (key->type() != TYPE_STRING) return SEARCH_GENERAL;
    SeriesBuffer* kb = series_of(key);
    i32 klen = static_cast<i32>(kb->used_bytes());
    i32 kidx = series_index(key);
    if (kb->unit() != 1 || kidx < 0 || kidx >= klen) return SEARCH_GENERAL;
    const u8* needle = kb->head_ptr() + kidx;
    i32 n = klen - kidx;
    *len = n;
    if (n == 1 && needle[0] < 128 && static_cast<u32>((needle[0] | 32) - 'a') >= 26u) {
        // One ASCII byte that is no letter: only itself folds to it among
        // ASCII bytes, so only the bytes above ASCII need the fold.
        u8 b = needle[0];
        for (i32 i = start; i < end; i++) {
            u8 a = hay[i];
            if (a == b || (fold && a >= 128 && case_fold_fast(a) == b)) return i;
        }
        return -1;
    }
    for (i32 i = start; i + n <= end; i++) {
        i32 j = 0;
        for (; j < n; j++) {
            u32 a = hay[i + j], b = needle[j];
            if (a != b && (!fold || case_fold_fast(a) != case_fold_fast(b))) break;
        }
        if (j == n) return i;
    }
    return -1;
}

}  // namespace

Keyword keyword_of_symbol_slow(u32 symbol) {
    u32 s = symbol_resolve(symbol);
    Keyword k = s < g_parse.keywords.size() ? static_cast<Keyword>(g_parse.keywords[s])
                                            : KW_NOT_KEYWORD;
    if (symbol >= g_parse.symbol_keywords.size())
        g_parse.symbol_keywords.resize(symbol + 1, KW_UNKNOWN);
    g_parse.symbol_keywords[symbol] = k;
    g_parse.symbol_keyword_cells = g_parse.symbol_keywords.data();
    g_parse.symbol_keyword_count = static_cast<u32>(g_parse.symbol_keywords.size());
    return k;
}

void fire_parse_stack() { fire(Err::script_parse_stack); }

void Engine::rs_push3_growing(const ValueCell& a, const ValueCell& b, const ValueCell& c) {
    ValueCell cells[3] = {a, b, c};
    u8* at = series_alloc_tail_units(series_of(g_parse.rule_stack), 3 * sizeof(ValueCell));
    std::memcpy(at, cells, sizeof cells);
}

Family family_of(u32 t) {
    if (t == TYPE_BINARY) return FAM_BINARY;
    if (type_string_like(t)) return FAM_STRING;
    return FAM_BLOCK;
}


// ---- input ----------------------------------------------------------------------------------------


void Engine::unit_value(i32 i, ValueCell* out) const {
    SeriesBuffer* b = series_of(in);
    switch (family()) {
        case FAM_BLOCK: *out = b->head_cells()[i]; break;
        case FAM_STRING: {
            u32 unit = b->unit();
            char_box(out, unicode_get_unit(b->head_ptr() + static_cast<u32>(i) * unit, unit));
            break;
        }
        case FAM_BINARY: integer_box(out, b->head_ptr()[i]); break;
    }
}

// ---- rules --------------------------------------------------------------------------------------------


// ---- work stacks --------------------------------------------------------------------------------------



u32 Engine::loop_count() const {
    SeriesBuffer* b = series_of(g_parse.rule_stack);
    u32 n = b->used_bytes() / sizeof(ValueCell);
    u32 loops = 0;
    for (u32 i = series_head(g_parse.rule_stack) + 2; i < n; i += 3) {
        const ValueCell* c = b->head_cells() + i;
        if (c->type() == TYPE_PAIR) {
            i32 t = pair_x(c);
            if (t == R_REPEAT || t == R_WHILE) loops++;
        }
    }
    return loops;
}


// ---- events and parens ------------------------------------------------------------------------------------

bool Engine::fire_event(const ValueCell* word) {
    ValueCell* saved_top = g_stack.top;
    // The callback gets a copy of the rule stack's view: it may change what
    // it is given without corrupting the run.
    ValueCell* snapshot = none_push();
    block_clone(g_parse.rule_stack, snapshot, false, false);
    ValueCell args[5];
    args[0] = *word;
    logic_box(&args[1], match);
    args[2] = *rules;
    i32 head = rules_head();
    series_set_index(&args[2], rp > head ? rp : head);
    args[3] = *in;
    args[4] = *snapshot;

    ValueCell* fn = stack_push(cb);
    ValueCell* extra = node_buffer(callable_more(fn))->head_cells() + MORE_EXTRA;
    Node ctx = extra->type() == TYPE_INTEGER ? static_cast<Node>(integer_get(extra)) : 0;
    stack_mark_func(g_words.n.parse_callback, context_of(fn));
    ValueCell* frame = g_stack.top;
    for (u32 k = 0; k < cb_args; k++) stack_push(&args[k]);
    push_unused_slots(fn, cb_args);
    {
        InputHeadGuard guard;
        interp_call_function(fn, ctx, g_words.n.parse_callback, CALLBACK_PARSE);
    }
    bool answer = truthy(frame);
    stack_unwind_func();
    g_stack.top = saved_top;
    // The callback may have changed the input or the rules.
    clamp_idx();
    clamp_rp(true);
    return answer;
}

void Engine::eval_paren(const ValueCell* paren_value) {
    InputHeadGuard guard;
    if (ZAN_UNLIKELY(eval_parse_paren_p(paren_value, paren))) raise_code(g_throw_code);
}

// ---- matching -------------------------------------------------------------------------------------------------

bool Engine::element_equal(const ValueCell* element, const ValueCell* value) {
    u32 vt = value->type();
    i32 op;
    if (vt == TYPE_LIT_WORD || vt == TYPE_LIT_PATH)
        op = mode == PARSE_MODE_STRICT ? CMP_WORD_EXACT : CMP_WORD_FOLDED;
    else
        op = mode == PARSE_MODE_STRICT ? CMP_STRICT_EQUAL : CMP_EQUAL;
    ValueCell a = *element, b = *value;
    return action_compare(&a, &b, op);
}

// Matches value at absolute input index at (before limit_end()); on a match
// *advance receives the units it covers. Nothing here allocates.
bool Engine::literal_match(const ValueCell* value, i32 at, i32* advance) {
    i32 avail = limit_end() - at;
    u32 vt = value->type();
    bool strict = mode == PARSE_MODE_STRICT;
    *advance = 1;
    switch (family()) {
        case FAM_BLOCK: {
            ValueCell e = series_of(in)->head_cells()[at];
            return element_equal(&e, value);
        }
        case FAM_STRING: {
            ValueCell s = *in;
            series_set_index(&s, at);
            if (vt == TYPE_BITSET) return string_char_in_bitset_q(&s, value);
            if (vt == TYPE_CHAR) return string_match_value(&s, value, strict);
            if (!type_string_like(vt)) return false;
            i32 len = string_length(value) + (vt == TYPE_TAG ? 2 : 0);
            if (len > avail) return false;
            *advance = len;
            return string_match_value(&s, value, strict);
        }
        case FAM_BINARY: {
            ValueCell b = *in;
            series_set_index(&b, at);
            if (vt == TYPE_BITSET) return binary_byte_in_bitset(&b, value);
            i32 op = strict ? CMP_STRICT_EQUAL : CMP_EQUAL;
            if (vt == TYPE_CHAR) return binary_match_value(&b, value, op);
            if (vt == TYPE_BINARY) {
                i32 len = binary_length(value);
                if (len > avail) return false;
                *advance = len;
                return binary_match_value(&b, value, op);
            }
            if (!type_string_like(vt)) return false;
            std::string text = utf8_of_text(value);
            if (static_cast<i32>(text.size()) > avail) return false;
            *advance = static_cast<i32>(text.size());
            return text.empty() ||
                   std::memcmp(series_of(in)->head_ptr() + at, text.data(), text.size()) == 0;
        }
    }
    return false;
}

// The repetition fast path: a literal sub-rule matched as many times as it
// goes, with tight loops over the input units.
State Engine::fast_repeat() {
    ValueCell* first = rs_top(2);
    i32 mn = triple_part(first, 0);
    i32 mx = triple_part(first, 1);
    i32 start = idx();
    i32 end = limit_end();
    i32 pos = start;
    i32 count = 0;
    bool ok = false;
    u32 vt = val->type();
    Family f = family();
    bool strict = mode == PARSE_MODE_STRICT;
    auto more = [&] { return pos < end && (mx < 0 || count < mx); };

    if (end - start <= 0 || end - start < mn) {
        ok = false;
    } else if (f == FAM_BLOCK) {
        ValueCell v = *val;
        while (more()) {
            ValueCell e = series_of(in)->head_cells()[pos];
            if (!element_equal(&e, &v)) break;
            pos++;
            count++;
        }
        ok = count >= mn;
    } else if (vt == TYPE_CHAR || vt == TYPE_BITSET) {
        SeriesBuffer* b = series_of(in);
        u32 unit = f == FAM_BINARY ? 1 : b->unit();
        const u8* p = b->head_ptr();
        if (vt == TYPE_CHAR) {
            u32 c = char_get(val);
            bool fold = f == FAM_STRING && !strict;
            if (fold) c = case_fold(c);
            while (more()) {
                u32 u = unicode_get_unit(p + static_cast<u32>(pos) * unit, unit);
                if (fold) u = case_fold(u);
                if (u != c) break;
                pos++;
                count++;
            }
        } else {
            const u8* bits = bitset_bits(val);
            u32 nbytes = bitset_byte_count(val);
            bool complement = bitset_complemented(val);
            while (more()) {
                u32 u = unicode_get_unit(p + static_cast<u32>(pos) * unit, unit);
                if (!bit_in(bits, nbytes, complement, u)) break;
                pos++;
                count++;
            }
        }
        ok = count >= mn;
    } else if (type_string_like(vt) || vt == TYPE_BINARY) {
        i32 len;
        if (f == FAM_STRING)
            len = vt == TYPE_BINARY ? -1 : string_length(val) + (vt == TYPE_TAG ? 2 : 0);
        else
            len = vt == TYPE_BINARY ? binary_length(val)
                                    : static_cast<i32>(utf8_of_text(val).size());
        if (len == 0) {
            ok = true;  // an empty value matches without consuming
        } else if (len > 0) {
            ValueCell v = *val;
            while (more()) {
                i32 adv;
                if (!literal_match(&v, pos, &adv)) break;
                pos += adv;
                count++;
            }
            ok = count >= mn;
        }
    }
    if (ok) set_idx(pos);
    else if (mn == 0) ok = true;
    match = ok;
    if (!event(g_words.n.match)) return ST_STOP;
    if (!event(g_words.n.pop)) return ST_STOP;
    rs_drop3();
    return ST_CHECK;
}

// The search fast path of to and thru with a literal value.
State Engine::fast_search(i32 type) {
    i32 at = 0;
    if (search_literal(type, &at)) set_triple_part(rs_top(1), 1, at);
    if (!event(g_words.n.match)) return ST_STOP;
    if (!event(g_words.n.pop)) return ST_STOP;
    rs_drop3();
    return ST_CHECK;
}

bool Engine::search_literal(i32 type, i32* at) {
    i32 start = idx();
    i32 end = limit_end();
    bool found = false;
    i32 fs = 0, fe = 0;
    u32 vt = val->type();
    Family f = family();
    i32 byte_len = 1;
    i32 byte_pos = f == FAM_STRING && start < end
                       ? search_bytes(in, start, end, val, mode != PARSE_MODE_STRICT, &byte_len)
                       : SEARCH_GENERAL;
    if (f == FAM_BLOCK) {
        ValueCell v = *val;
        for (i32 i = start; i < end; i++) {
            ValueCell e = series_of(in)->head_cells()[i];
            if (element_equal(&e, &v)) {
                found = true;
                fs = i;
                fe = i + 1;
                break;
            }
        }
    } else if (byte_pos != SEARCH_GENERAL) {
        // A find lies inside the input's limit, so the index needs no clamp.
        match = byte_pos >= 0;
        if (match) {
            *at = byte_pos;
            series_set_index(in, type == R_THRU ? byte_pos + byte_len : byte_pos);
        }
        return match;
    } else {
        if (!(type_string_like(vt) || vt == TYPE_BINARY || vt == TYPE_CHAR || vt == TYPE_BITSET))
            fire(Err::script_parse_rule, val);
        ValueCell* saved_top = g_stack.top;
        ValueCell* key = stack_push(val);
        bool searchable = !(f == FAM_STRING && vt == TYPE_BINARY);
        if (f == FAM_BINARY && type_string_like(vt)) {
            std::string text = utf8_of_text(val);
            binary_load_at(key, text.data(), static_cast<u32>(text.size()));
        }
        i32 key_len = 1;
        if (type_string_like(key->type())) key_len = string_length(key);
        else if (key->type() == TYPE_BINARY) key_len = binary_length(key);
        if (!searchable || start > end) {
            found = false;
        } else if (key_len == 0) {
            found = true;
            fs = fe = start;
        } else if (start < end) {
            ValueCell* series = stack_push(in);
            ValueCell* part_cell = integer_box(stack_push_cell(), end - start);
            i32 len = 1;
            i32 pos = string_find_position(series, key, part_cell, mode == PARSE_MODE_STRICT,
                                           false, false, nullptr, nullptr, false, false, false,
                                           &len);
            if (pos >= 0 && pos + len <= end) {
                found = true;
                fs = pos;
                fe = pos + len;
            }
        }
        g_stack.top = saved_top;
    }
    if (found) {
        *at = fs;
        set_idx(type == R_THRU ? fe : fs);
    }
    match = found;
    return found;
}

// A datatype! or typeset! rule.
State Engine::match_type() {
    Family f = family();
    if (f == FAM_STRING) fire(Err::script_parse_unsupported);
    bool ok = false;
    i32 skip_more = 0;
    if (!at_end()) {
        ValueCell v = *val;
        auto test = [&](u32 t) {
            return v.type() == TYPE_TYPESET ? typeset_has_type(&v, t) : datatype_get(&v) == t;
        };
        if (f == FAM_BINARY) {
            ValueCell* saved_top = g_stack.top;
            ValueCell* result = none_push();
            i32 consumed = 0;
            i32 start = idx();
            const u8* bytes = series_of(in)->head_ptr() + start;
            i32 t = lexer_transcode(result, bytes, static_cast<u32>(limit_end() - start), true,
                                    true, false, 0, &consumed, nullptr, nullptr, nullptr);
            g_stack.top = saved_top;
            if (t > 0 && consumed > 0 && test(static_cast<u32>(t))) {
                ok = true;
                skip_more = consumed - 1;
            }
        } else {
            ok = test(series_of(in)->head_cells()[idx()].type());
        }
    }
    match = ok;
    if (ok && skip_more > 0) set_idx(idx() + skip_more);
    if (!event(g_words.n.match)) return ST_STOP;
    return ok ? ST_NEXT_INPUT : ST_CHECK;
}

// An integer! rule: a count, or a minimum and a maximum, of the sub-rule
// that follows.
State Engine::counts() {
    ValueCell first_count = *val;
    i32 mn = integer_get(&first_count);
    if (mn < 0) fire(Err::script_out_of_range, &first_count);
    i32 tail = rules_tail();
    if (rp + 1 >= tail) fire(Err::script_parse_rule, &first_count);
    ValueCell next = rule_at(rp + 1);
    if (next.type() == TYPE_WORD) {
        const ValueCell* slot = word_value_if_available(&next);
        if (slot && slot->type() == TYPE_INTEGER) next = *slot;
    }
    i32 mx = mn;
    if (next.type() == TYPE_INTEGER) {
        mx = integer_get(&next);
        if (mx < 0) fire(Err::script_out_of_range, &next);
        if (rp + 2 >= tail) fire(Err::script_parse_rule, &next);
        if (mx < mn) fire(Err::script_parse_rule, &next);
        rp++;
    }
    if (mx == 0) {
        rp++;  // on the sub-rule, which the next step passes over
        return ST_CHECK;
    }
    push_first = triple(mn, mx, 1);
    push_type = R_REPEAT;
    push_extra = 0;
    return ST_PUSH_RULE;
}

// A block frame on top whose block ran to its end, with a repetition record
// below it that goes on and whose sub-rule is again a block: the frame is
// made again in place for the next round instead of dropped and pushed.
// Does what ST_POP_BLOCK, ST_POP_RULE, ST_NEXT_ACTION, ST_FETCH and
// ST_PUSH_BLOCK would do there without a callback (no events to fire);
// false, with nothing changed, for every other case. rb and tail are the
// current rules block's buffer and cells, and on true the new ones.
__attribute__((always_inline)) inline bool Engine::rearm_block(SeriesBuffer*& rb, i32& tail) {
    if (brk || rs_view() < 6) return false;
    ValueCell* top = rs_top(0);  // the frame: none, position, enclosing rules
    ValueCell* kind = top - 3;   // the record below: first, position, type
    if (kind->type() != TYPE_PAIR) return false;
    i32 type = pair_x(kind);
    if (type != R_REPEAT && type != R_WHILE) return false;
    ValueCell* first = top - 5;
    ValueCell* pos = top - 4;
    i32 mx = triple_part(first, 1);
    i32 it = triple_part(first, 2);
    i32 here = idx();
    i32 left = remaining();
    if (!match || (mx >= 0 && it >= mx)) return false;
    if (type == R_REPEAT && here == triple_part(pos, 1) && left >= triple_part(pos, 2)) return false;
    // Where the record's round starts again, and the sub-rule there.
    SeriesBuffer* eb = series_of(top);
    i32 etail = static_cast<i32>(eb->used_bytes() / sizeof(ValueCell));
    i32 ehead = std::clamp(series_index(top), 0, etail);
    i32 at = ehead + triple_part(pos, 0);
    if (at < etail) at++;
    if (at >= etail) return false;
    const ValueCell* sub = eb->head_cells() + at;
    if (sub->type() != TYPE_BLOCK) return false;
    if ((rs_cells - 3) * sizeof(ValueCell) >= PARSE_STACK_LIMIT_BYTES ||
        series_of(g_parse.input_stack)->used_bytes() >= PARSE_STACK_LIMIT_BYTES)
        fire_parse_stack();
    set_triple_part(pos, 1, here);
    set_triple_part(pos, 2, left);
    set_triple_part(first, 2, it + 1);
    cell_init(top - 1, TYPE_TRIPLE, static_cast<u32>(at - ehead), static_cast<u32>(here),
              static_cast<u32>(left));
    *val = *sub;
    via_word = false;
    // The sub-block's buffer and tail go back to the next-rule step; the
    // block of the round just run (the usual case) has them already.
    if (std::memcmp(sub, rules, sizeof(ValueCell)) != 0) {
        *rules = *sub;
        rb = series_of(rules);
        tail = static_cast<i32>(rb->used_bytes() / sizeof(ValueCell));
    }
    i32 h = series_index(rules);
    rp = (h < 0 ? 0 : h > tail ? tail : h) - 1;
    match = true;
    return true;
}

// ---- the state machine -----------------------------------------------------------------------------------------

// Inlined into the one loop that drives it (parse_rules): a step is often
// a handful of instructions, and a call per step cost as much again in
// saving and restoring registers.
__attribute__((always_inline)) inline State Engine::step(State s) {
    // The rules' buffer and cells as the next rule step reads them.
    SeriesBuffer* rb;
    i32 tail;
    switch (s) {
        case ST_PUSH_BLOCK: {
            check_limits();
            ValueCell none, pos;
            none_box(&none);
            position_triple(&pos);
            rs_push3(none, pos, *rules);
            if (pending_block) {
                *rules = *val;
                pending_block = false;
            }
            rp = rules_head() - 1;
            match = true;
            if (!event(g_words.n.push)) return ST_STOP;
            return ST_NEXT_ACTION;
        }

        case ST_POP_BLOCK: {
            if (rs_view() > 3) {
                rb = series_of(rules);
                tail = static_cast<i32>(rb->used_bytes() / sizeof(ValueCell));
                reached_tail = rp >= tail;
                if (!has_cb && rearm_block(rb, tail)) return ST_NEXT_ACTION;
                if (!event(g_words.n.pop)) return ST_STOP;
                ValueCell enclosing = *rs_top(0);
                i32 offset = triple_part(rs_top(1), 0);
                rs_drop3();
                *rules = enclosing;
                rp = rules_head() + offset;
                if (record_on_top()) return ST_POP_RULE;
                return match ? ST_NEXT_ACTION : ST_ALTERNATIVE;
            }
            if (!event(g_words.n.pop)) return ST_STOP;
            return ST_END;
        }

        case ST_PUSH_RULE: {
            check_limits();
            ValueCell pos, type;
            position_triple(&pos);
            cell_init(&type, TYPE_PAIR, 0, static_cast<u32>(push_type),
                      static_cast<u32>(push_extra));
            rs_push3(push_first, pos, type);
            if (rp < rules_tail()) rp++;
            if (!event(g_words.n.push)) return ST_STOP;
            return ST_SUBRULE;
        }

        case ST_POP_RULE: {
            if (!record_on_top()) {
                if (pop_requested) {
                    pop_requested = false;
                    return ST_POP_BLOCK;
                }
                return ST_NEXT_ACTION;
            }
            i32 type = top_type();
            switch (type) {
                case R_REPEAT:
                case R_WHILE: {
                    ValueCell* first = rs_top(2);
                    ValueCell* pos = rs_top(1);
                    i32 mn = triple_part(first, 0);
                    i32 mx = triple_part(first, 1);
                    i32 it = triple_part(first, 2);
                    bool go_on = match && (mx < 0 || it < mx);
                    if (type == R_REPEAT && idx() == triple_part(pos, 1) &&
                        remaining() >= triple_part(pos, 2))
                        go_on = false;
                    // A break inside this loop stops it (one that a loop
                    // started later than the break sees is not its own).
                    if (brk && loop_count() <= brk_loops) {
                        go_on = false;
                        brk = false;
                    }
                    if (go_on) {
                        set_triple_part(pos, 1, idx());
                        set_triple_part(pos, 2, remaining());
                        set_triple_part(first, 2, it + 1);
                        rp = rules_head() + triple_part(pos, 0);
                        if (!event(g_words.n.iterate)) return ST_STOP;
                        return ST_NEXT_ACTION;
                    }
                    if (match) {
                        if (it < mn) match = false;
                    } else if (it - 1 >= mn || mn == 0) {
                        match = true;
                    }
                    break;
                }
                case R_TO:
                case R_THRU: {
                    ValueCell* pos = rs_top(1);
                    i32 try_start = triple_part(pos, 1);
                    if (!match) {
                        set_idx(try_start + 1);
                        if (!at_end()) {
                            set_triple_part(pos, 1, idx());
                            set_triple_part(pos, 2, remaining());
                            rp = rules_head() + triple_part(pos, 0);
                            if (!event(g_words.n.pop)) return ST_STOP;
                            if (!event(g_words.n.iterate)) return ST_STOP;
                            return ST_NEXT_ACTION;
                        }
                        // No position matched: the input goes back to where
                        // the search began.
                        set_idx(triple_part(rs_top(2), 1));
                    } else if (type == R_TO) {
                        set_idx(try_start);
                    }
                    break;
                }
                default:
                    if (!finish_record(type)) return ST_STOP;
                    break;
            }
            if (!event(g_words.n.pop)) return ST_STOP;
            rs_drop3();
            if (rs_view() >= 3) set_triple_part(rs_top(1), 2, type);
            return ST_CHECK;
        }

        case ST_CHECK:
        check:
            if (record_on_top()) return ST_POP_RULE;
            if (!match) return ST_ALTERNATIVE;
            [[fallthrough]];

        case ST_NEXT_ACTION: {
        next_action:
            rb = series_of(rules);
            tail = static_cast<i32>(rb->used_bytes() / sizeof(ValueCell));
        next_action_read:
            if (rp < tail) rp++;
            if (rp >= tail) {
                if (record_on_top()) return ST_POP_RULE;
                // A block run to its end: what ST_POP_BLOCK does first.
                if (!has_cb && rs_view() > 3) {
                    reached_tail = true;
                    if (rearm_block(rb, tail)) {
                        // The next rule step over the block made again.
                        if (++rp >= tail) goto next_action;
                        *val = rb->head_cells()[rp];
                        via_word = false;
                        goto fetch;
                    }
                }
                return ST_POP_BLOCK;
            }
            if (has_cb) {
                // The callback may have changed the rules block.
                if (!fire_event(g_words.n.fetch)) return ST_STOP;
                rb = series_of(rules);
                if (rp >= rules_tail()) return record_on_top() ? ST_POP_RULE : ST_POP_BLOCK;
            }
            *val = rb->head_cells()[rp];
            via_word = false;
            goto fetch;  // the value fetched is dispatched at once
        }

        case ST_FETCH: {
            rb = series_of(rules);
            tail = static_cast<i32>(rb->used_bytes() / sizeof(ValueCell));
        fetch:
            switch (val->type()) {
                case TYPE_WORD:
                    if (via_word) fire(Err::script_parse_rule, val);
                    // The sub-rule of a record that re-armed itself (the
                    // next iteration of a repetition, the next try of a
                    // search) is taken as its first round took it.
                    wctx = WC_FETCHED;
                    if (!has_cb) {
                        // What keyword() does for skip, and for copy to a
                        // literal, when no callback watches.
                        Keyword kw = keyword_of(val);
                        if (kw == KW_SKIP) {
                            push_extra = 0;
                            // One past a position before the limit lies
                            // inside the input: only a negative one clamps.
                            i32 i = idx();
                            match = i < limit_end();
                            if (match) series_set_index(in, i + 1 < 0 ? 0 : i + 1);
                            // The check, and the next rule step with the
                            // rules block as the fetch read it.
                            if (record_on_top()) return ST_POP_RULE;
                            if (!match) return ST_ALTERNATIVE;
                            goto next_action_read;
                        }
                        if (kw == KW_COPY && copy_searched(rb, tail)) goto check;
                    }
                    return keyword();
                case TYPE_BLOCK:
                    pending_block = true;
                    return ST_PUSH_BLOCK;
                case TYPE_DATATYPE:
                case TYPE_TYPESET:
                    return match_type();
                case TYPE_SET_WORD: {
                    ValueCell w = *val, v = *in;
                    word_assign(&w, &v);
                    return ST_NEXT_ACTION;
                }
                case TYPE_GET_WORD: {
                    ValueCell w = *val;
                    ValueCell v = *word_value(&w);
                    if (v.type() != in->type() || series_node(&v) != series_node(in))
                        fire(Err::script_parse_invalid_ref, &w);
                    set_idx(series_index(&v));
                    match = true;
                    return ST_CHECK;
                }
                case TYPE_INTEGER:
                    return counts();
                case TYPE_PAREN: {
                    eval_paren(val);
                    if (has_cb) {
                        if (!fire_event(g_words.n.paren)) return ST_STOP;
                        clamp_rp(false);
                        clamp_idx();
                        goto check;
                    }
                    // What clamp_rp(false), clamp_idx() and the check do,
                    // with one read of the rules block for them and the
                    // next rule step (nothing allocates in between).
                    rb = series_of(rules);
                    tail = static_cast<i32>(rb->used_bytes() / sizeof(ValueCell));
                    if (rp > tail - 1) rp = tail - 1;
                    i32 h = series_index(rules);
                    h = h < 0 ? 0 : h > tail ? tail : h;
                    if (rp < h - 1) rp = h - 1;
                    i32 i = idx();
                    i32 t = in_tail();
                    if (i > t) series_set_index(in, t);
                    else if (i < 0) series_set_index(in, 0);
                    if (record_on_top()) return ST_POP_RULE;
                    if (!match) return ST_ALTERNATIVE;
                    goto next_action_read;
                }
                case TYPE_PATH:
                case TYPE_SET_PATH:
                case TYPE_GET_PATH:
                    fire(Err::script_parse_rule, val);
                default:
                    return ST_LITERAL;
            }
        }

        case ST_NEXT_INPUT:
            set_idx(idx() + 1);
            return ST_CHECK;

        case ST_LITERAL: {
            if (at_end()) {
                u32 vt = val->type();
                match = family() == FAM_STRING &&
                        (vt == TYPE_STRING || vt == TYPE_FILE || vt == TYPE_URL) &&
                        string_length(val) == 0;
            } else {
                i32 advance = 1;
                ValueCell v = *val;
                match = literal_match(&v, idx(), &advance);
                if (match) set_idx(idx() + advance);
            }
            if (!event(g_words.n.match)) return ST_STOP;
            return ST_CHECK;
        }

        case ST_SUBRULE: {
            if (rp >= rules_tail()) {
                const ValueCell* w = nullptr;
                switch (top_type()) {
                    case R_TO: w = g_words.to; break;
                    case R_THRU: w = g_words.thru; break;
                    case R_NOT: w = g_words.not_; break;
                    case R_REMOVE: w = g_words.remove; break;
                    case R_WHILE: w = g_words.while_; break;
                    case R_COLLECT: w = g_words.collect; break;
                    case R_KEEP:
                    case R_KEEP_PAREN: w = g_words.keep; break;
                    case R_AHEAD: w = g_words.ahead; break;
                    default: break;
                }
                if (w) fire(Err::script_parse_end, w);
                match = true;
                return ST_CHECK;
            }
            *val = rule_at(rp);
            via_word = false;
            return ST_SUBRULE_VALUE;
        }

        case ST_SUBRULE_VALUE: {
            switch (val->type()) {
                case TYPE_BLOCK:
                    pending_block = true;
                    return ST_PUSH_BLOCK;
                case TYPE_WORD:
                    wctx = WC_SUBRULE;
                    return ST_KEYWORD;
                case TYPE_INTEGER:
                case TYPE_PAREN:
                case TYPE_TYPESET:
                case TYPE_DATATYPE:
                    return ST_FETCH;
                default: {
                    const ValueCell* first = rs_top(2);
                    i32 t = top_type();
                    if (first->type() == TYPE_TRIPLE && triple_part(first, 0) != -1)
                        return fast_repeat();
                    if (t == R_TO || t == R_THRU) return fast_search(t);
                    return ST_FETCH;
                }
            }
        }

        case ST_ALTERNATIVE: {
            if (rs_view() >= 3 && rs_top(0)->type() == TYPE_BLOCK)
                set_idx(triple_part(rs_top(1), 1));
            i32 tail = rules_tail();
            i32 from = rp > rules_head() ? rp : rules_head();
            for (i32 i = from; i < tail; i++) {
                if (keyword_at(i, KW_BAR)) {
                    rp = i;
                    match = true;
                    return ST_NEXT_ACTION;
                }
            }
            return ST_POP_BLOCK;
        }

        case ST_KEYWORD:
            return keyword();

        case ST_END:
            if (rp < rules_tail()) match = false;
            if (outermost() && idx() < limit_end()) match = false;
            if (!event(g_words.end)) return ST_STOP;
            return ST_EXIT;

        case ST_STOP:
            collect_result = false;
            return ST_EXIT;

        case ST_EXIT:
            return ST_EXIT;
    }
    return ST_EXIT;
}

}  // namespace parse_detail

using namespace parse_detail;

// ---- start-up ------------------------------------------------------------------------------------------------------

void parse_init() {
    g_parse.input_stack = block_make_in(&g_root_block, 8);
    g_parse.rule_stack = block_make_in(&g_root_block, 100);
    struct Entry {
        u32 symbol;
        Keyword kw;
    };
    const Entry entries[] = {
        {g_sym.any, KW_ANY},         {g_sym.break_, KW_BREAK},   {g_sym.copy, KW_COPY},
        {g_sym.end, KW_END},         {g_sym.fail, KW_FAIL},      {g_sym.into, KW_INTO},
        {g_sym.opt, KW_OPT},         {g_sym.not_, KW_NOT},       {g_sym.quote, KW_QUOTE},
        {g_sym.case_, KW_CASE},      {g_sym.reject, KW_REJECT},  {g_sym.set, KW_SET},
        {g_sym.skip, KW_SKIP},       {g_sym.some, KW_SOME},      {g_sym.thru, KW_THRU},
        {g_sym.to, KW_TO},           {g_sym.none, KW_NONE},      {g_sym.bar, KW_BAR},
        {g_sym.if_, KW_IF},          {g_sym.remove, KW_REMOVE},  {g_sym.while_, KW_WHILE},
        {g_sym.insert, KW_INSERT},   {g_sym.only, KW_ONLY},      {g_sym.collect, KW_COLLECT},
        {g_sym.keep, KW_KEEP},       {g_sym.pick, KW_PICK},      {g_sym.ahead, KW_AHEAD},
        {g_sym.after, KW_AFTER},     {symbol_make("change"), KW_CHANGE},
    };
    g_services.parse_room_for_run = parse_room_for_run;
    g_parse.keywords.clear();
    g_parse.symbol_keywords.clear();
    g_parse.symbol_keyword_cells = nullptr;
    g_parse.symbol_keyword_count = 0;
    for (const Entry& e : entries) {
        u32 s = symbol_resolve(e.symbol);
        if (s >= g_parse.keywords.size()) g_parse.keywords.resize(s + 1, KW_NOT_KEYWORD);
        g_parse.keywords[s] = e.kw;
    }
}

u32 parse_room_for_run() {
    if (!g_parse.rule_stack) return 0;
    // A run nested in another starts above the outer runs' cells and the
    // triple of saved heads; an outermost one on an empty stack.
    const ValueCell* rs = g_parse.rule_stack;
    bool nested = view_cells(rs) > 0 || view_cells(g_parse.input_stack) > 0;
    u32 base = nested ? block_cells(rs) + 1 : series_head(rs);
    // A push is refused once the stack holds `full` cells or more.
    constexpr u32 full = (PARSE_STACK_LIMIT_BYTES + sizeof(ValueCell) - 1) / sizeof(ValueCell);
    return base < full ? (full - 1 - base) / 3 + 1 : 0;
}


// ---- the engine's entry ----------------------------------------------------------------------------------------------

ValueCell* parse_rules(const ValueCell* input, const ValueCell* rules_block, u32 mode, i32 part,
                       const ValueCell* callback) {
    if (!g_parse.rule_stack) fire(Err::internal_not_done);
    u32 it = input->type();
    if (!(type_block_like(it) || type_string_like(it) || it == TYPE_BINARY))
        fire(Err::script_invalid_arg, input);
    if (rules_block->type() != TYPE_BLOCK) fire(Err::script_invalid_arg, rules_block);
    ValueCell* saved_top = g_stack.top;
    Engine E;
    E.in = stack_push(input);
    E.rules = stack_push(rules_block);
    E.val = none_push();
    E.paren = unset_push();
    E.copy_word = none_push();
    E.tmp = none_push();
    E.tmp2 = none_push();
    E.cb = callback && callback->type() == TYPE_FUNCTION ? stack_push(callback) : none_push();
    E.scratch = unset_push();
    E.mode = mode == PARSE_MODE_STRICT ? PARSE_MODE_STRICT : PARSE_MODE_EQUAL;
    E.part = part > 0 ? part : 0;
    E.has_cb = E.cb->type() == TYPE_FUNCTION;
    if (E.has_cb) {
        u32 n = callback_params(E.cb);
        E.cb_args = n < 5 ? n : 5;
    }

    // A run inside a paren or a callback of another run: the outer run's
    // heads are saved on the rule stack and the nested run starts on empty
    // views.
    ValueCell* rs = g_parse.rule_stack;
    ValueCell* is = g_parse.input_stack;
    u32 saved_rs_head = series_head(rs);
    u32 saved_is_head = series_head(is);
    bool nested = view_cells(rs) > 0 || view_cells(is) > 0;
    u32 rs_base = block_cells(rs);
    u32 is_base = block_cells(is);
    if (nested) {
        ValueCell heads = triple(static_cast<i32>(saved_is_head), static_cast<i32>(saved_rs_head), 0);
        block_append_cell(rs, &heads);
        series_set_head(rs, block_cells(rs));
        series_set_head(is, is_base);
    } else {
        truncate_cells(rs, saved_rs_head);
        truncate_cells(is, saved_is_head);
        rs_base = saved_rs_head;
        is_base = saved_is_head;
    }
    auto clear_work_stacks = [&] {
        if (nested) {
            truncate_cells(rs, rs_base);
            series_set_head(rs, saved_rs_head);
        } else {
            truncate_cells(rs, saved_rs_head);
        }
        truncate_cells(is, is_base);
        series_set_head(is, saved_is_head);
    };

    ValueCell result;
    try {
        E.rs_attach();
        E.check_limits();
        E.clamp_idx();
        ValueCell in_copy = *E.in;
        block_append_cell(is, &in_copy);
        E.rp = E.rules_head() - 1;
        State s = ST_PUSH_BLOCK;
        while (s != ST_EXIT) {
            // A Ctrl-C stops a long match between two steps.
            if (ZAN_UNLIKELY(g_interrupt_pending)) interp_take_interrupt();
            s = E.step(s);
        }
        if (E.collect_result) result = *E.scratch;
        else logic_box(&result, E.match);
    } catch (...) {
        clear_work_stacks();
        throw;
    }
    clear_work_stacks();
    g_stack.top = saved_top;
    return stack_push(&result);
}

// ---- the native ------------------------------------------------------------------------------------------------------------

namespace {

// parse input rules /case /part length /trace callback
void native_parse(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_PARSE, refs);
    ValueCell* input = stack_arg(0);
    ValueCell* rules_block = stack_arg(1);
    u32 mode = refs[0] != -1 ? PARSE_MODE_STRICT : PARSE_MODE_EQUAL;
    i32 part = 0;
    if (refs[1] != -1) {
        ValueCell* length = stack_arg(static_cast<u32>(refs[1]));
        i32 tail = series_buffer_length(input);
        i32 index = series_index(input);
        if (index < 0) index = 0;
        if (index > tail) index = tail;
        i64 limit;
        switch (length->type()) {
            case TYPE_INTEGER: limit = i64(index) + integer_get(length); break;
            case TYPE_FLOAT:
            case TYPE_PERCENT: {
                double d = length->get_float();
                if (!(d == d)) d = 0;  // NaN counts as nothing
                if (d > 2147483647.0) d = 2147483647.0;
                if (d < -2147483648.0) d = -2147483648.0;
                limit = i64(index) + static_cast<i64>(d);
                break;
            }
            default:
                if (length->type() != input->type() || series_node(length) != series_node(input))
                    fire(Err::script_invalid_refine_arg, g_refinements.part, length);
                limit = series_index(length);
                break;
        }
        if (limit < 1) {
            logic_box(stack_result(), index >= tail);
            return;
        }
        part = limit > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<i32>(limit);
    }
    const ValueCell* callback = refs[2] != -1 ? stack_arg(static_cast<u32>(refs[2])) : nullptr;
    ValueCell* result = parse_rules(input, rules_block, mode, part, callback);
    stack_set_last(result);
}

}  // namespace

void natives_parse_init(NativeEntry* slots) {
    slots[NAT_PARSE - 1] = native_parse;
    parse_init();
}

}  // namespace zan
