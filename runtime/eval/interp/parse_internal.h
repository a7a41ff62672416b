// What the files of the parse engine share: its states, the rule record
// types, the keyword table and the engine object that one run works on.
#pragma once
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/layout.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/interp/interp_internal.h"
#include "runtime/eval/interp/parse.h"
#include "runtime/typesystem/runtime_support.h"

namespace zan::parse_detail {

// States of the machine (the run goes on until ST_EXIT).
enum State : u8 {
    ST_PUSH_BLOCK,    // enter a rules block
    ST_POP_BLOCK,     // leave the current rules block
    ST_PUSH_RULE,     // push a rule record, then match its sub-rule
    ST_POP_RULE,      // finish the record (or block frame) on top
    ST_CHECK,         // a record on top is finished, else go on or backtrack
    ST_FETCH,         // dispatch on the value in hand
    ST_NEXT_INPUT,    // advance the input by one unit
    ST_NEXT_ACTION,   // step to the next rule cell
    ST_LITERAL,       // match the value in hand literally
    ST_SUBRULE,       // fetch the sub-rule of the record just pushed
    ST_SUBRULE_VALUE, // match a sub-rule value (with the literal fast paths)
    ST_ALTERNATIVE,   // backtrack to the next `|` of the current block
    ST_KEYWORD,       // a word: keyword or a rule held by the word
    ST_END,           // the outermost block is done
    ST_STOP,          // the callback asked to stop
    ST_EXIT,
};

// Type codes of rule records (x of the record's pair!).
enum RuleType : i32 {
    R_REPEAT = -1,
    R_TO = -2,
    R_THRU = -3,
    R_COPY = -4,
    R_SET = -5,
    R_NOT = -6,
    R_INTO = -7,
    R_REMOVE = -9,
    R_WHILE = -11,
    R_COLLECT = -12,
    R_KEEP = -13,
    R_KEEP_PAREN = -14,
    R_AHEAD = -16,
    R_CHANGE = -17,
    R_CHANGE_ONLY = -18,
    R_CASE = -19,
};

// Keywords, recognised by the canonical symbol of a word! rule.
enum Keyword : u8 {
    KW_NOT_KEYWORD = 0,
    KW_ANY, KW_BREAK, KW_COPY, KW_END, KW_FAIL, KW_INTO, KW_OPT, KW_NOT, KW_QUOTE,
    KW_CASE, KW_REJECT, KW_SET, KW_SKIP, KW_SOME, KW_THRU, KW_TO, KW_NONE, KW_BAR,
    KW_IF, KW_REMOVE, KW_WHILE, KW_INSERT, KW_ONLY, KW_COLLECT, KW_KEEP, KW_PICK,
    KW_AHEAD, KW_AFTER, KW_CHANGE,
    KW_UNKNOWN = 0xFF,  // in symbol_keywords: not looked up yet
};

// Matching families of input types.
enum Family : u8 { FAM_BLOCK, FAM_STRING, FAM_BINARY };
Family family_of(u32 type);

// How a word that is no keyword was reached (what follows its value).
enum WordContext : u8 {
    WC_DIRECT,   // a rule of its own
    WC_COLLECT,  // the sub-rule of collect or keep
    WC_COMMAND,  // the sub-rule of any other command
    WC_REARMED,  // the sub-rule of a record in its second or later round
    // Where the word was fetched, until a word that is no keyword needs one
    // of the above (keywords never do, so most words skip the reading of the
    // rule stack that tells them apart).
    WC_FETCHED,  // by ST_FETCH: direct or re-armed
    WC_SUBRULE,  // by ST_SUBRULE_VALUE: collect or command
};

struct ParseGlobals {
    ValueCell* input_stack = nullptr;  // block! cells in the root block
    ValueCell* rule_stack = nullptr;
    std::vector<u8> keywords;          // canonical symbol id -> Keyword
    std::vector<u8> symbol_keywords;   // any symbol id -> Keyword, filled on first use
    // symbol_keywords' cells and count, read by the lookup without the vector
    const u8* symbol_keyword_cells = nullptr;
    u32 symbol_keyword_count = 0;
};
extern ParseGlobals g_parse;

// The keyword of a symbol through its canonical id; the answer is kept per
// symbol (a symbol's canonical id never changes).
Keyword keyword_of_symbol_slow(u32 symbol);
inline Keyword keyword_of_symbol(u32 symbol) {
    if (symbol < g_parse.symbol_keyword_count) {
        u8 k = g_parse.symbol_keyword_cells[symbol];
        if (k != KW_UNKNOWN) return static_cast<Keyword>(k);
    }
    return keyword_of_symbol_slow(symbol);
}

[[noreturn]] void fire_parse_stack();

// Cells of a block's buffer (from the buffer head) and of its view.
inline u32 block_cells(const ValueCell* b) {
    return series_of(b)->used_bytes() / sizeof(ValueCell);
}
inline u32 view_cells(const ValueCell* b) {
    u32 n = block_cells(b);
    return series_head(b) < n ? n - series_head(b) : 0;
}
// Units of a series' buffer (cells, code units or bytes).
inline i32 units_of(const ValueCell* s) {
    // The shift of each unit width: 1, 2 and 4 bytes, anything else cells.
    static constexpr u8 shifts[32] = {4, 0, 1, 4, 2, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
                                      4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
    SeriesBuffer* b = series_of(s);
    return static_cast<i32>(b->used_bytes() >> shifts[b->unit()]);
}

// One run of the engine. Its cells live on the data stack (so the
// collector sees them and their addresses stay put); collect targets are
// pushed above them.
struct Engine {
    // ---- cells -------------------------------------------------------------------
    ValueCell* in = nullptr;         // the current input, its index the position
    ValueCell* rules = nullptr;      // the current rules block
    ValueCell* val = nullptr;        // the value in hand
    ValueCell* paren = nullptr;      // the last paren result
    ValueCell* copy_word = nullptr;  // the word of the copy record popped last
    ValueCell* tmp = nullptr;        // scratch cells for action calls
    ValueCell* tmp2 = nullptr;
    ValueCell* cb = nullptr;         // the callback (none! when there is none)
    ValueCell* scratch = nullptr;    // below the collect targets; the result

    // ---- state -------------------------------------------------------------------
    i32 rp = 0;                      // rule pointer: absolute cell index in rules
    // The rule stack as this run sees it: its cells (from the buffer head),
    // the head of its view, and whether a record is on top. Only the engine
    // changes it (a run inside a paren or callback leaves it as it found it),
    // so these follow its pushes and drops.
    u32 rs_cells = 0;
    u32 rs_base = 0;
    bool top_record = false;
    u32 mode = PARSE_MODE_EQUAL;
    i32 part = 0;                    // absolute limit of the outermost input, 0: none
    i32 collect_depth = 0;
    u32 cb_args = 0;                 // arguments given to the callback (at most 5)
    bool has_cb = false;
    bool match = true;
    bool brk = false;
    u32 brk_loops = 0;               // the loops enclosing the break or reject
    bool pop_requested = false;
    bool collect_result = false;
    bool reached_tail = false;       // the block popped last ran to its tail
    bool via_word = false;           // the value in hand came from a word
    bool pending_block = false;      // ST_PUSH_BLOCK enters the block in val
    WordContext wctx = WC_DIRECT;
    // The record that ST_PUSH_RULE pushes.
    ValueCell push_first{};
    i32 push_type = 0;
    i32 push_extra = 0;

    // ---- the run -------------------------------------------------------------------
    State step(State s);

    // ---- input ---------------------------------------------------------------------
    Family family() const { return family_of(in->type()); }
    i32 idx() const { return series_index(in); }
    void set_idx(i32 i) {
        i32 t = in_tail();
        if (i > t) i = t;
        if (i < 0) i = 0;
        series_set_index(in, i);
    }
    i32 in_tail() const { return units_of(in); }
    bool outermost() const { return view_cells(g_parse.input_stack) <= 1; }
    // The index where the input ends for matching: its tail, or the part
    // limit of the outermost input when that is smaller.
    i32 limit_end() const {
        i32 t = in_tail();
        if (part > 0 && part < t && outermost()) return part;
        return t;
    }
    bool at_end() const { return idx() >= limit_end(); }
    i32 remaining() const {
        i32 r = in_tail() - idx();
        return r < 0 ? 0 : r;
    }
    void clamp_idx() { set_idx(idx()); }
    // The unit at absolute index i as a value (block element, char!, or
    // integer! byte) into out.
    void unit_value(i32 i, ValueCell* out) const;

    // ---- rules ---------------------------------------------------------------------
    i32 rules_head() const {
        i32 t = rules_tail();
        i32 h = series_index(rules);
        return h < 0 ? 0 : h > t ? t : h;
    }
    i32 rules_tail() const { return static_cast<i32>(block_cells(rules)); }
    ValueCell rule_at(i32 i) const { return series_of(rules)->head_cells()[i]; }
    bool keyword_at(i32 i, Keyword k) const {
        if (i < 0 || i >= rules_tail()) return false;
        ValueCell c = rule_at(i);
        return keyword_of(&c) == k;
    }
    // The context of the word in hand (of WC_FETCHED and WC_SUBRULE, what
    // the rule stack says as the word was reached).
    WordContext word_context() const {
        if (wctx == WC_FETCHED)
            return record_on_top() && rp == rules_head() + triple_part(rs_top(1), 0) + 1 ? WC_REARMED
                                                                                       : WC_DIRECT;
        if (wctx == WC_SUBRULE) {
            i32 t = top_type();
            return t == R_COLLECT || t == R_KEEP || t == R_KEEP_PAREN ? WC_COLLECT : WC_COMMAND;
        }
        return wctx;
    }
    Keyword keyword_of(const ValueCell* v) const {
        return v->type() == TYPE_WORD ? keyword_of_symbol(word_symbol(v)) : KW_NOT_KEYWORD;
    }
    // Keeps the rule pointer inside the rules block after code ran that may
    // have changed it: at most on the last cell, or on the tail with
    // allow_tail.
    void clamp_rp(bool allow_tail) {
        i32 t = rules_tail();
        if (rp > (allow_tail ? t : t - 1)) rp = allow_tail ? t : t - 1;
        if (rp < rules_head() - 1) rp = rules_head() - 1;
    }

    // ---- work stacks ---------------------------------------------------------------
    // Takes the rule stack as it is now (at the start of a run).
    void rs_attach() {
        rs_cells = block_cells(g_parse.rule_stack);
        rs_base = series_head(g_parse.rule_stack);
        top_record = false;
    }
    u32 rs_view() const { return rs_cells > rs_base ? rs_cells - rs_base : 0; }
    bool record_on_top() const { return top_record; }
    // Cell k below the top of the rule stack (0: the top).
    ValueCell* rs_top(u32 k) const {
        return series_of(g_parse.rule_stack)->head_cells() + (rs_cells - 1 - k);
    }
    i32 top_type() const { return pair_x(rs_top(0)); }
    // Pushes a record of three cells (with room: stored in place); c is the
    // record's type cell, or the rules block of a block frame.
    void rs_push3(const ValueCell& a, const ValueCell& b, const ValueCell& c) {
        SeriesBuffer* sb = series_of(g_parse.rule_stack);
        if (u64(sb->tail) + 3 * sizeof(ValueCell) > sb->end_ref()) {
            rs_push3_growing(a, b, c);
        } else {
            ValueCell* at = sb->tail_cells();
            at[0] = a;
            at[1] = b;
            at[2] = c;
            sb->tail += 3 * sizeof(ValueCell);
        }
        rs_cells += 3;
        top_record = c.type() == TYPE_PAIR;
    }
    void rs_push3_growing(const ValueCell& a, const ValueCell& b, const ValueCell& c);
    void rs_drop3() {
        if (rs_view() < 3) return;
        SeriesBuffer* sb = series_of(g_parse.rule_stack);
        sb->tail -= 3 * sizeof(ValueCell);
        rs_cells -= 3;
        top_record = rs_cells >= rs_base + 3 && (sb->tail_cells() - 1)->type() == TYPE_PAIR;
    }
    void check_limits() const {
        if (rs_cells * sizeof(ValueCell) >= PARSE_STACK_LIMIT_BYTES ||
            series_of(g_parse.input_stack)->used_bytes() >= PARSE_STACK_LIMIT_BYTES)
            fire_parse_stack();
    }
    void position_triple(ValueCell* out) const {
        cell_init(out, TYPE_TRIPLE, static_cast<u32>(rp - rules_head()), static_cast<u32>(idx()),
                  static_cast<u32>(remaining()));
    }
    // The repetition records (loops) on the rule stack.
    u32 loop_count() const;
    // break and reject: the flag is aimed at the innermost loop around
    // them; with no loop around, there is nothing to stop.
    void raise_break() {
        brk_loops = loop_count();
        brk = brk_loops > 0;
    }

    // ---- events and evaluation ------------------------------------------------------
    bool event(const ValueCell* word) { return !has_cb || fire_event(word); }
    bool fire_event(const ValueCell* word);
    void eval_paren(const ValueCell* paren_value);

    // ---- matching (parse.cpp) --------------------------------------------------------
    bool literal_match(const ValueCell* value, i32 at, i32* advance);
    bool element_equal(const ValueCell* element, const ValueCell* value);
    State fast_repeat();
    bool rearm_block(SeriesBuffer*& rb, i32& tail);
    State fast_search(i32 type);
    // The search of to and thru for the literal value in hand from the
    // input's position: on a find the input moves to its start (to) or past
    // its end (thru), *at receives its start, and match is set either way.
    bool search_literal(i32 type, i32* at);
    // What search_literal does for one ASCII byte that is no letter (a
    // string of that one byte, or that char) over text of bytes from a
    // position before the limit, without its set-up: 1 found, 0 not found,
    // -1 (nothing changed) for any other search.
    __attribute__((always_inline)) int search_one_byte(i32 type, i32* at) {
        u32 it = in->type();
        if (!type_string_like(it)) return -1;
        SeriesBuffer* ib = series_of(in);
        if (ib->unit() != 1) return -1;
        i32 end = static_cast<i32>(ib->used_bytes());
        if (part > 0 && part < end && outermost()) end = part;
        i32 start = idx();
        if (start < 0 || start >= end) return -1;
        u32 b;
        u32 kt = val->type();
        if (kt == TYPE_STRING) {
            SeriesBuffer* kb = series_of(val);
            i32 kidx = series_index(val);
            if (kb->unit() != 1 || kidx < 0 || kidx + 1 != static_cast<i32>(kb->used_bytes()))
                return -1;
            b = kb->head_ptr()[kidx];
        } else if (kt == TYPE_CHAR) {
            b = char_get(val);
        } else {
            return -1;
        }
        if (b >= 128 || static_cast<u32>((b | 32) - 'a') < 26u) return -1;
        // Among ASCII bytes only b itself folds to b; a byte above ASCII
        // before it leaves the search to search_literal, which folds it.
        const u8* hay = ib->head_ptr();
        i32 i = start;
        for (; i < end; i++) {
            u32 a = hay[i];
            if (a == b) break;
            if (a >= 128) return -1;
        }
        match = i < end;
        if (!match) return 0;
        *at = i;
        series_set_index(in, type == R_THRU ? i + 1 : i);
        return 1;
    }
    // Whether the sub-rule value v of to or thru takes the literal search
    // (what ST_SUBRULE_VALUE sends to fast_search).
    static bool searched_literally(u32 t) {
        return t != TYPE_BLOCK && t != TYPE_WORD && t != TYPE_INTEGER && t != TYPE_PAREN &&
               t != TYPE_TYPESET && t != TYPE_DATATYPE;
    }
    State match_type();
    State counts();

    // ---- keywords and records (parse_rules.cpp) -----------------------------------------
    State keyword();
    // Handles a popped record of the types other than repetition and search;
    // false when the callback asked to stop.
    bool finish_record(i32 type);
    // The end of a copy record: its word gets the units from lo to hi when
    // the sub-rule matched.
    void finish_copy(const ValueCell& word, i32 lo, i32 hi);
    // The copy keyword at rp with no callback, followed by its word and to
    // or thru a literal: the search and the copy are made here, without the
    // record of the copy (the rule stack's limit checked for both pushes),
    // and the check follows. false, with nothing changed, for any other
    // shape. rb is the rules block's buffer.
    bool copy_searched() {
        SeriesBuffer* rb = series_of(rules);
        return copy_searched(rb, static_cast<i32>(rb->used_bytes() / sizeof(ValueCell)));
    }
    // tail: the cells of rb.
    __attribute__((always_inline)) bool copy_searched(SeriesBuffer* rb, i32 tail) {
        if (rp < 0 || rp + 3 >= tail) return false;
        const ValueCell* cells = rb->head_cells() + rp;
        u32 t = cells[1].type();
        if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD)
            return false;
        Keyword sk = keyword_of(cells + 2);
        if ((sk != KW_TO && sk != KW_THRU) || !searched_literally(cells[3].type())) return false;
        ValueCell target = cells[1];
        *val = cells[3];
        via_word = false;
        push_extra = 0;
        rp += 3;
        // The limit checked for the copy's push and the search's.
        if ((rs_cells + 3) * sizeof(ValueCell) >= PARSE_STACK_LIMIT_BYTES ||
            series_of(g_parse.input_stack)->used_bytes() >= PARSE_STACK_LIMIT_BYTES)
            fire_parse_stack();
        i32 start = idx();
        i32 at;
        i32 type = sk == KW_TO ? R_TO : R_THRU;
        if (search_one_byte(type, &at) >= 0) {
            // Its start lay inside the input and the search moved forward;
            // a string's copy is made here as finish_copy makes it.
            i32 here = idx();
            if (match && in->type() == TYPE_STRING) {
                *copy_word = target;
                Node n = alloc_series_copy(series_node(in), static_cast<u32>(start),
                                           static_cast<u32>(here - start));
                cell_init(tmp2, TYPE_STRING | (in->header & CELL_NEW_LINE), 0, n, 0);
                word_assign(&target, tmp2);
            } else {
                finish_copy(target, start, here);
            }
        } else {
            search_literal(type, &at);
            i32 saved = std::clamp(start, 0, in_tail());
            i32 here = idx();
            finish_copy(target, std::min(saved, here), std::max(saved, here));
        }
        if (rs_view() >= 3) set_triple_part(rs_top(1), 2, R_COPY);
        return true;
    }
    // The value that insert and change put in (from the rule cell at k):
    // path -> parse-rule, paren -> evaluated, word -> its value. false when
    // the callback asked to stop.
    bool command_value(i32 k, ValueCell* out);
    // The series a word or get-word rule cell refers to when it is the
    // current input (same type and buffer); null otherwise.
    const ValueCell* marked_position(const ValueCell* cell, ValueCell* out) const;
    void keep_value(const ValueCell* value);
    void keep_into_target(ValueCell* target, const ValueCell* value);
};

}  // namespace zan::parse_detail
