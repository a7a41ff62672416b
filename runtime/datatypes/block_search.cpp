// Block search, selection, put and path access: find, select, put and the
// eval-path entry of block! (shared by paren!, the paths and hash!). A
// hash! answers single-value lookups from its hash index.
#include "runtime/datatypes/block_search.h"

#include "runtime/core/hashtable.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"

namespace zan {

namespace {
inline i32 cells_of(const ValueCell* b) {
    return static_cast<i32>(series_of(b)->used_bytes() >> 4);
}
// A copy of the cell at a buffer position. Comparisons get copies, so that
// nothing they do can leave them holding an address into a moved buffer.
inline ValueCell cell_copy_at(const ValueCell* b, i32 i) { return series_of(b)->head_cells()[i]; }

// One cell against the value under a compare op; types without a compare
// entry are equal only to an identical cell.
bool cells_equal(ValueCell* a, ValueCell* b, i32 op) {
    if (!action_entry(a->type(), ACT_COMPARE))
        return cell_identical(a, b);
    return action_compare(a, b, op);
}

enum class Mode { single, type, typeset, sequence };

struct Search {
    ValueCell* series;  // on the data stack
    ValueCell* key;     // on the data stack
    Mode mode = Mode::single;
    i32 k = 1;  // cells one match covers
    i32 op = CMP_FIND;
};

bool match_at(const Search& s, i32 i) {
    switch (s.mode) {
        case Mode::type: return cell_copy_at(s.series, i).type() == datatype_get(s.key);
        case Mode::typeset: return typeset_has_type(s.key, cell_copy_at(s.series, i).type());
        case Mode::single: {
            ValueCell c = cell_copy_at(s.series, i);
            ValueCell v = *s.key;
            return cells_equal(&c, &v, s.op);
        }
        case Mode::sequence: {
            for (i32 j = 0; j < s.k; j++) {
                ValueCell c = cell_copy_at(s.series, i + j);
                ValueCell v = *(block_head_ptr(s.key) + j);
                if (!cells_equal(&c, &v, s.op)) return false;
            }
            return true;
        }
    }
    return false;
}

i32 skip_step(const ValueCell* skip) {
    if (!skip) return 1;
    if (skip->type() != TYPE_INTEGER)
        fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
    i32 step = dt::int_get(skip);
    if (step < 1) fire(Err::script_out_of_range, skip);
    return step;
}

// The hash index answers single-value lookups of a hash! (not /match, not
// runs, types or typesets; objects only by identity).
bool hash_lookup_applies(const ValueCell* series, const ValueCell* value, bool only, bool same,
                         bool match) {
    if (!is_hash(series) || match) return false;
    u32 vt = value->type();
    if (type_block_like(vt) && !(same && only)) return false;
    if (vt == TYPE_DATATYPE || vt == TYPE_TYPESET) return false;
    if (vt == TYPE_OBJECT && !same) return false;
    return true;
}

// The position the hash index gives, kept inside the searched range.
i32 hash_find(ValueCell* series, ValueCell* value, i32 pos, i32 step, i32 op, bool last,
              bool reverse, bool has_part, i32 lower, i32 limit) {
    Node table = hashed_table(series);
    ValueCell key = *value;
    ValueCell* hit = hashtable_get(table, &key, pos, step, op, last, reverse);
    auto position = [&](const ValueCell* c) {
        return static_cast<i32>(c - series_of(series)->head_cells());
    };
    if (!hit) return -1;
    i32 p = position(hit);
    if (reverse) return has_part && p < lower ? -1 : p;
    if (last) {
        // The last match of the whole buffer may lie past the /part limit:
        // step back through the earlier ones of the same record grid.
        while (has_part && p > limit) {
            hit = hashtable_get_next(table, &key, hit, step, op, true);
            if (!hit) return -1;
            p = position(hit);
            if (p < pos) return -1;
        }
        return p;
    }
    return has_part && p > limit ? -1 : p;
}
}  // namespace

namespace {
// s and key are data-stack cells.
i32 find_position(ValueCell* s, ValueCell* key, ValueCell* part, bool only, bool case_sensitive,
                  bool same, ValueCell* skip, bool last, bool reverse, bool match, i32* after) {
    i32 len = cells_of(s);
    i32 pos = series_index(s) < 0 ? 0 : series_index(s);
    if (len == 0 || (!reverse && pos >= len)) return -1;
    if (pos > len) pos = len;
    i32 step = skip_step(skip);

    // The searched range: forwards and with /last [pos, limit]; with
    // /reverse [lower, pos).
    i32 limit = len - 1;
    i32 lower = 0;
    bool has_part = part != nullptr;
    if (part) {
        if (part->type() == TYPE_INTEGER) {
            i32 n = dt::int_get(part);
            if (n < 1) return -1;
            if (reverse) lower = pos - n;
            else limit = i64(pos) + n - 1 > len - 1 ? len - 1 : pos + n - 1;
        } else if (part->type() == s->type() && series_node(part) == series_node(s)) {
            i32 p = series_index(part);
            if (reverse) lower = p;
            else limit = p - 1;
        } else {
            fire(Err::script_invalid_refine_arg, g_refinements.part, part);
        }
        if (limit > len - 1) limit = len - 1;
        if (lower < 0) lower = 0;
    }

    Search sr;
    sr.series = s;
    sr.key = key;
    u32 vt = key->type();
    if (!only && vt == TYPE_DATATYPE) {
        sr.mode = Mode::type;
    } else if (!only && vt == TYPE_TYPESET) {
        sr.mode = Mode::typeset;
    } else if (!only && type_block_like(vt)) {
        sr.mode = Mode::sequence;
        sr.k = block_length(key);
        if (sr.k == 0) return -1;
    }
    sr.op = same ? CMP_SAME : case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND;

    i32 found = -1;
    if (hash_lookup_applies(s, key, only, same, match)) {
        found = hash_find(s, key, pos, step, sr.op, last, reverse, has_part, lower, limit);
    } else if (last) {
        // Backwards from the last record start of the range (records are
        // counted from the position) down to the position.
        i32 from = limit - (sr.k - 1);
        if (from >= pos) from = pos + (from - pos) / step * step;
        for (i32 i = from; i >= pos; i -= step) {
            if (match_at(sr, i)) {
                found = i;
                break;
            }
            if (match) break;
        }
    } else if (reverse) {
        // Backwards from the record that ends at or before the position.
        i32 back = (sr.k + step - 1) / step * step;
        i32 from = pos - back;
        for (i32 i = from; i >= lower; i -= step) {
            if (i + sr.k <= len && match_at(sr, i)) {
                found = i;
                break;
            }
            if (match) break;
        }
    } else {
        for (i32 i = pos; i + sr.k - 1 <= limit; i += step) {
            if (match_at(sr, i)) {
                found = i;
                break;
            }
            if (match) break;
        }
    }
    if (found >= 0 && after) *after = found + sr.k;
    return found;
}
}  // namespace

i32 block_find_position(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                        bool case_sensitive, bool same, ValueCell* skip, bool last, bool reverse,
                        bool match, i32* after) {
    ValueCell* s = stack_push(series);
    ValueCell* key = stack_push(value);
    i32 r =
        find_position(s, key, part, only, case_sensitive, same, skip, last, reverse, match, after);
    stack_pop(2);
    return r;
}

bool block_contains_value(ValueCell* series, ValueCell* value, bool case_sensitive, i32 skip) {
    ValueCell step;
    dt::int_box(&step, skip < 1 ? 1 : skip);
    return block_find_position(series, value, nullptr, true, case_sensitive, false, &step, false,
                               false, false, nullptr) >= 0;
}

ValueCell* block_find(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                      bool case_sensitive, bool same, bool, ValueCell*, ValueCell* skip, bool last,
                      bool reverse, bool tail, bool match) {
    i32 after = 0;
    i32 i = block_find_position(series, value, part, only, case_sensitive, same, skip, last,
                                reverse, match, &after);
    if (i < 0) return none_push();
    ValueCell* r = stack_push(series);
    series_set_index(r, tail ? after : i);
    return r;
}

ValueCell* block_select(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                        bool case_sensitive, bool same, bool, ValueCell*, ValueCell* skip,
                        bool last, bool reverse) {
    i32 after = 0;
    i32 i = block_find_position(series, value, part, only, case_sensitive, same, skip, last,
                                reverse, false, &after);
    if (i < 0 || after >= cells_of(series)) return none_push();
    ValueCell v = cell_copy_at(series, after);
    return stack_push(&v);
}

// Keys are single cells: a block key is looked up as one value (as it is
// appended when missing), never as a run of its cells.
ValueCell* block_put(ValueCell* series, ValueCell* key, ValueCell* value, bool case_sensitive) {
    ValueCell* s = stack_push(series);
    ValueCell* k = stack_push(key);
    ValueCell* v = stack_push(value);
    i32 after = 0;
    i32 i = block_find_position(s, k, nullptr, true, case_sensitive, false, nullptr, false, false,
                                false, &after);
    i32 idx = series_index(s) < 0 ? 0 : series_index(s);
    if (i < 0) {
        series_announce(s, g_words.n.put, v, cells_of(s) - idx, 1);
        ValueCell* kc = block_append_cell(s, k);
        bool rebuilt = false;
        if (is_hash(s)) {
            i32 st = 0;
            hashtable_put_key(hashed_table(s), kc, &st);
            rebuilt = st == HASH_PUT_REBUILT;
        }
        ValueCell* vc = block_append_cell(s, v);
        if (is_hash(s) && !rebuilt) hashtable_put(hashed_table(s), vc);
    } else {
        bool owned = series_announce(s, g_words.n.put, v, i - idx, 1);
        if (after < cells_of(s)) {
            ValueCell cur = cell_copy_at(s, after);
            ValueCell nv = *v;
            if (!cells_equal(&cur, &nv, CMP_FIND)) {
                ValueCell* c = series_of(s)->head_cells() + after;
                *c = nv;
                if (is_hash(s)) hashtable_put(hashed_table(s), c);
            }
        } else {
            ValueCell* vc = block_append_cell(s, v);
            if (is_hash(s)) hashtable_put(hashed_table(s), vc);
        }
        if (owned) series_announce(s, g_words.n.put_ed, v, i - idx, 1);
    }
    ValueCell r = *v;
    stack_pop(3);
    return stack_push(&r);
}

ValueCell* block_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value, ValueCell* path,
                           ValueCell*, ValueCell*, i32, bool case_sensitive, bool, bool, bool) {
    u32 et = element->type();
    if (et == TYPE_INTEGER) {
        if (!value) return action_pick_dispatch(parent, dt::int_get(element), element);
        action_poke_dispatch(parent, dt::int_get(element), value, element);
        return value;
    }
    if (!value) {
        if (et == TYPE_WORD && parent->type() != TYPE_HASH)
            return const_cast<ValueCell*>(
                block_select_word(parent, word_symbol(element), !case_sensitive));
        return block_select(parent, element, nullptr, true, case_sensitive, false, false, nullptr,
                            nullptr, false, false);
    }
    i32 after = 0;
    i32 i = block_find_position(parent, element, nullptr, true, case_sensitive, false, nullptr,
                                false, false, false, &after);
    if (i < 0) fire(Err::script_bad_path_set, path ? path : element, element);
    ValueCell at = *parent;
    series_set_index(&at, 0);
    series_poke(&at, after + 1, value, nullptr);
    return value;
}

}  // namespace zan
