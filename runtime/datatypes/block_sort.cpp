// sort on block! (and paren!, hash!): records of one or more cells ordered
// by the compare action, by one cell of each record, or by a user function.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "runtime/core/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/core/heap.h"
#include "runtime/core/sort.h"
#include "runtime/core/sort_impl.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block_search.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/function.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {
inline i32 cells_of(const ValueCell* b) {
    return static_cast<i32>(series_of(b)->used_bytes() >> 4);
}

// Types whose three-way compare reads their payload without looking at the
// other value's type.
bool blind_compare_type(u32 t) {
    return t == TYPE_LOGIC || t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP ||
           t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

i32 compare_cells(const ValueCell* a, const ValueCell* b, i32 code) {
    // Two integers order by value whatever the comparison code.
    if (a->type() == TYPE_INTEGER && b->type() == TYPE_INTEGER) {
        i32 p = dt::int_get(a), q = dt::int_get(b);
        return p < q ? -1 : p > q ? 1 : 0;
    }
    ValueCell x = *a, y = *b;
    u32 tx = x.type(), ty = y.type();
    bool comparable = action_entry(tx, ACT_COMPARE) && !(tx != ty && blind_compare_type(tx));
    i32 r = comparable ? action_compare_int(&x, &y, code) : CMP_NOT_COMPARABLE;
    if (r == CMP_NOT_COMPARABLE) r = static_cast<i32>(tx) - static_cast<i32>(ty);
    return r;
}

// The record operations of an unstable sort of single cells by the compare
// action: what block_sort_compare answers, with two integers compared and
// cells exchanged in place instead of through the callback.
struct CellOps {
    i32 code;
    bool reverse;
    static u32 size() { return sizeof(ValueCell); }
    int cmp(const u8* a, const u8* b) const {
        auto x = reinterpret_cast<const ValueCell*>(a);
        auto y = reinterpret_cast<const ValueCell*>(b);
        if (reverse) std::swap(x, y);
        if (x->type() == TYPE_INTEGER && y->type() == TYPE_INTEGER) {
            i32 p = dt::int_get(x), q = dt::int_get(y);
            return (p > q) - (p < q);
        }
        return sort_detail::sign_of(compare_cells(x, y, code));
    }
    static void swap(u8* a, u8* b) {
        ValueCell t;
        std::memcpy(&t, a, sizeof t);
        std::memcpy(a, b, sizeof t);
        std::memcpy(b, &t, sizeof t);
    }
};

// Where the text of a string cell of byte units starts (from its index,
// held to the buffer) and how many units it has from there.
inline const u8* byte_text_of(const ValueCell* c, u32* len) {
    SeriesBuffer* b = series_of(c);
    i32 used = static_cast<i32>(b->used_bytes());
    i32 index = series_index(c);
    index = index > used ? used : index < 0 ? 0 : index;
    *len = static_cast<u32>(used - index);
    return b->head_ptr() + index;
}

// A record of the sort of texts of byte units: the key of the first eight
// bytes of a cell's text, the text's length and the cell's place in the
// block, so that most comparisons read no buffer. The order is the string
// compare action's. Sixteen bytes, the size of the cell it stands for.
struct TextRecord {
    u64 key;
    u32 len;
    u32 index;
};
static_assert(sizeof(TextRecord) == sizeof(ValueCell), "records are gathered into cells in place");

struct TextOps {
    const ValueCell* cells;  // the cells, which stay where they are during the sort
    bool fold;
    bool reverse;
    static u32 size() { return sizeof(TextRecord); }
    int cmp(const u8* a, const u8* b) const {
        auto x = reinterpret_cast<const TextRecord*>(a);
        auto y = reinterpret_cast<const TextRecord*>(b);
        if (reverse) std::swap(x, y);
        if (x->key != y->key) return x->key < y->key ? -1 : 1;
        u32 n = x->len < y->len ? x->len : y->len;
        if (n > 8) {
            // The keys hold the first eight units of both texts: the rest
            // is read from the buffers only for texts that long.
            u32 unused;
            int r = case_fold_compare_bytes(byte_text_of(cells + x->index, &unused) + 8,
                                            byte_text_of(cells + y->index, &unused) + 8, n - 8,
                                            fold);
            if (r) return r;
        }
        return (x->len > y->len) - (x->len < y->len);
    }
    static void swap(u8* a, u8* b) {
        TextRecord t;
        std::memcpy(&t, a, sizeof t);
        std::memcpy(a, b, sizeof t);
        std::memcpy(b, &t, sizeof t);
    }
};

// Sorts count string! cells whose units are bytes by the string compare
// action (folding case unless code asks for case), through records that
// carry a key of the first bytes of each text: the same comparisons and
// exchanges as the cells' own sort, hence the same order, without reading
// two buffers for most comparisons. False, and nothing changed, when the
// cells are not all such strings. The caller holds the collector off.
bool sort_byte_texts(ValueCell* base, u32 count, i32 code, bool reverse) {
    constexpr u32 MIN_COUNT = 64;  // below, building the records costs more
    constexpr u32 AHEAD = 16;      // how far ahead the loops below prefetch
    if (count < MIN_COUNT) return false;
    for (u32 i = 0; i < count; i++)
        if (base[i].type() != TYPE_STRING || series_of(base + i)->unit() != 1) return false;
    bool fold = code != CMP_SORT_CASE;
    // Every record is written before it is read: no clearing.
    std::unique_ptr<TextRecord[]> records(new TextRecord[count]);
    heap_region_prefault(records.get(), sizeof(TextRecord) * count);
    // Each text is reached through its node and its buffer's header, three
    // loads that depend on each other: the header of a cell further on is
    // fetched while this one is keyed.
    for (u32 i = 0; i < count; i++) {
        if (i + AHEAD < count) __builtin_prefetch(series_of(base + i + AHEAD));
        TextRecord& r = records[i];
        const u8* p = byte_text_of(base + i, &r.len);
        r.index = i;
        r.key = case_fold_prefix_key(p, r.len, fold);
    }
    sort_detail::sort_quick_with(records.get(), count, TextOps{base, fold, reverse});
    // The cells in their new order take the places of the records, each
    // record read before its place (or a later one's) is written, and then
    // go back into the block in one copy.
    for (u32 i = 0; i < count; i++) {
        if (i + AHEAD < count) __builtin_prefetch(base + records[i + AHEAD].index);
        std::memcpy(static_cast<void*>(records.get() + i), base + records[i].index,
                    sizeof(ValueCell));
    }
    std::memcpy(static_cast<void*>(base), records.get(), sizeof(ValueCell) * count);
    return true;
}

// Sorts count integer cells by value when they differ in nothing else
// (header with its new-line marker, the unused words): equal values are then
// identical cells, so every correct order is the one the quicksort gives.
// Radix passes over the value's bytes, skipping a byte all values share.
// False, and nothing changed, when the cells are not of that kind.
bool sort_uniform_integers(ValueCell* base, u32 count, bool reverse) {
    if (count < 2) return false;
    const ValueCell first = base[0];
    if (first.type() != TYPE_INTEGER) return false;
    std::vector<u32> keys(count);
    for (u32 i = 0; i < count; i++) {
        const ValueCell& c = base[i];
        if (c.header != first.header || c.data1 != first.data1 || c.data3 != first.data3)
            return false;
        keys[i] = c.data2 ^ 0x80000000u;  // signed order as unsigned
    }
    if (count < 64) {
        std::sort(keys.begin(), keys.end());
    } else {
        u32 counts[4][256] = {};
        for (u32 k : keys) {
            counts[0][k & 0xFF]++;
            counts[1][(k >> 8) & 0xFF]++;
            counts[2][(k >> 16) & 0xFF]++;
            counts[3][k >> 24]++;
        }
        std::vector<u32> other(count);
        for (u32 d = 0; d < 4; d++) {
            u32* c = counts[d];
            if (c[(keys[0] >> (8 * d)) & 0xFF] == count) continue;
            u32 sum = 0;
            for (u32 b = 0; b < 256; b++) {
                u32 n = c[b];
                c[b] = sum;
                sum += n;
            }
            for (u32 k : keys) other[c[(k >> (8 * d)) & 0xFF]++] = k;
            keys.swap(other);
        }
    }
    ValueCell cell = first;
    for (u32 i = 0; i < count; i++) {
        cell.data2 = keys[reverse ? count - 1 - i : i] ^ 0x80000000u;
        base[i] = cell;
    }
    return true;
}

i32 skip_records(const ValueCell* skip, i32 n) {
    if (!skip) return 1;
    if (skip->type() != TYPE_INTEGER)
        fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
    i32 s = dt::int_get(skip);
    if (s < 1 || n % s != 0 || n < s)
        fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
    return s;
}

// The values of the refinements of a function's spec, pushed for a call
// that uses none of them: false, then none for each argument word.
void push_unused_refinements(Node spec) {
    SeriesBuffer* b = node_buffer(spec);
    i32 len = static_cast<i32>(b->used_bytes() >> 4);
    i32 group = 0;
    for (i32 i = 0; i < len; i++) {
        u32 t = node_buffer(spec)->head_cells()[i].type();
        if (t == TYPE_REFINEMENT) {
            if (group > 0) function_push_unused_refinement(group);
            group = 1;
        } else if (group > 0 && (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD)) {
            group++;
        }
    }
    if (group > 0) function_push_unused_refinement(group);
}

void copy_record(ValueCell* scratch, const ValueCell* record, u32 cells) {
    SeriesBuffer* b = series_of(scratch);
    std::memcpy(b->head_ptr(), record, static_cast<size_t>(cells) * sizeof(ValueCell));
    b->tail = b->head + cells * static_cast<u32>(sizeof(ValueCell));
    series_set_index(scratch, 0);
}
}  // namespace

// ---- comparison callbacks -----------------------------------------------------------------

i32 block_sort_compare(const void* a, const void* b, uintptr_t code, u32 flags) {
    auto x = static_cast<const ValueCell*>(a);
    auto y = static_cast<const ValueCell*>(b);
    if (flags & SORT_FLAG_REVERSE) std::swap(x, y);
    u32 arg = sort_flags_arg(flags);
    i32 op = static_cast<i32>(code);
    if (!(flags & SORT_FLAG_ALL)) return compare_cells(x + arg, y + arg, op);
    for (u32 i = 0; i < arg; i++) {
        i32 r = compare_cells(x + i, y + i, op);
        if (r != 0) return r;
    }
    return 0;
}

i32 sort_function_answer(const ValueCell* result) {
    switch (result->type()) {
        case TYPE_LOGIC: return logic_get(result) ? -1 : 1;
        case TYPE_NONE: return 1;
        case TYPE_INTEGER: {
            i32 v = dt::int_get(result);
            return v < 0 ? -1 : v > 0 ? 1 : 0;
        }
        case TYPE_FLOAT: {
            double d = result->get_float();
            return d < 0 ? -1 : d > 0 ? 1 : 0;
        }
        default: return -1;
    }
}

void block_call_function2(const ValueCell* function, const ValueCell* arg1, const ValueCell* arg2,
                          ValueCell* out) {
    ValueCell fn = *function;
    ValueCell a1 = *arg1, a2 = *arg2;
    ValueCell* held = stack_push(&fn);
    stack_mark_func(g_words.n.compare_callback, context_of(&fn));
    stack_push(&a1);
    stack_push(&a2);
    push_unused_refinements(callable_spec(&fn));
    g_interp_hooks.call_function(held, context_of(&fn), g_words.n.compare_callback, 0);
    *out = *stack_result();
    stack_unwind_func();
    stack_pop(2);  // the frame's result cell and the function
}

i32 sort_function_compare(const ValueCell* function, const ValueCell* a, const ValueCell* b,
                          u32 flags) {
    ValueCell result;
    if (flags & SORT_FLAG_REVERSE) block_call_function2(function, a, b, &result);
    else block_call_function2(function, b, a, &result);
    return -sort_function_answer(&result);
}

i32 block_sort_compare_func(const void* a, const void* b, uintptr_t call, u32 flags) {
    auto* c = reinterpret_cast<const BlockSortCall*>(call);
    auto x = static_cast<const ValueCell*>(a);
    auto y = static_cast<const ValueCell*>(b);
    if (flags & SORT_FLAG_ALL) {
        copy_record(c->scratch_a, x, c->record_cells);
        copy_record(c->scratch_b, y, c->record_cells);
        x = c->scratch_a;
        y = c->scratch_b;
    } else {
        x += sort_flags_arg(flags);
        y += sort_flags_arg(flags);
    }
    return sort_function_compare(c->function, x, y, flags);
}

// ---- sort ----------------------------------------------------------------------------------

ValueCell* block_sort_from(ValueCell* series, bool case_sensitive, ValueCell* skip,
                           ValueCell* comparator, ValueCell* part, bool all, bool reverse,
                           bool stable, i32* first) {
    *first = -1;
    ValueCell* s = stack_push(series);
    i32 n = sort_span(s, cells_of(s), part);
    if (n <= 0) return s;
    i32 idx = series_index(s);  // where sort_span left it

    i32 rec = skip_records(skip, n);
    if (all && !skip) fire(Err::script_bad_refines);
    i32 code = case_sensitive ? CMP_SORT_CASE : CMP_SORT;
    u32 flags = reverse ? SORT_FLAG_REVERSE : 0;
    SortCompare callback = block_sort_compare;
    uintptr_t arg = static_cast<uintptr_t>(code);
    BlockSortCall call{};
    bool by_function = false;
    if (comparator) {
        if (comparator->type() == TYPE_FUNCTION) {
            by_function = true;
            callback = block_sort_compare_func;
            call.function = stack_push(comparator);
            call.record_cells = static_cast<u32>(rec);
            if (all) {
                flags |= SORT_FLAG_ALL | (static_cast<u32>(rec) << SORT_FLAG_ARG_SHIFT);
                call.scratch_a = block_push_new(static_cast<u32>(rec));
                call.scratch_b = block_push_new(static_cast<u32>(rec));
            }
            arg = reinterpret_cast<uintptr_t>(&call);
        } else if (comparator->type() == TYPE_INTEGER) {
            if (all || !skip) fire(Err::script_bad_refines);
            i32 off = dt::int_get(comparator);
            if (off < 1 || off > rec) fire(Err::script_out_of_range, comparator);
            flags |= static_cast<u32>(off - 1) << SORT_FLAG_ARG_SHIFT;
        } else {
            fire(Err::script_invalid_refine_arg, g_refinements.compare, comparator);
        }
    } else if (all) {
        flags |= SORT_FLAG_ALL | (static_cast<u32>(rec) << SORT_FLAG_ARG_SHIFT);
    }

    bool owned = series_announce(s, g_words.n.sort, nullptr, idx, 0);
    u32 count = static_cast<u32>(n / rec);
    u32 size = static_cast<u32>(rec) * static_cast<u32>(sizeof(ValueCell));
    {
        // The collector stays off while the sort holds addresses of
        // records (the series buffer, the merge sort's side buffer, a
        // private copy of the cells): a comparison may allocate, and a
        // collection would move the buffer under the sort or free what only
        // the copy still refers to. Restored also when a comparison raises.
        GcHold hold;
        if (!by_function) {
            // Compare implementations never change the block, so the cells
            // are sorted where they lie.
            ValueCell* base = series_of(s)->head_cells() + idx;
            bool reverse = (flags & SORT_FLAG_REVERSE) != 0;
            bool single_cells = rec == 1 && (flags & ~SORT_FLAG_REVERSE) == 0;
            bool by_value = single_cells && sort_uniform_integers(base, count, reverse);
            if (by_value) {
                // sorted: nothing tells the records of one value apart
            } else if (stable) {
                sort_merge(base, count, size, arg, flags, callback);
            } else if (single_cells) {
                if (!sort_byte_texts(base, count, code, reverse))
                    sort_detail::sort_quick_with(base, count, CellOps{code, reverse});
            } else {
                sort_quick(base, count, size, arg, flags, callback);
            }
        } else {
            // A user function may change the block it sorts (even make its
            // buffer grow elsewhere): the records are sorted in a private
            // copy, written back while the block still holds the range.
            std::vector<ValueCell> cells(series_of(s)->head_cells() + idx,
                                         series_of(s)->head_cells() + idx + n);
            if (stable) sort_merge(cells.data(), count, size, arg, flags, callback);
            else sort_quick(cells.data(), count, size, arg, flags, callback);
            if (cells_of(s) >= idx + n)
                std::memcpy(series_of(s)->head_cells() + idx, cells.data(),
                            static_cast<size_t>(n) * sizeof(ValueCell));
        }
    }
    *first = idx;
    if (owned) series_announce(s, g_words.n.sorted, nullptr, idx, 0);
    return s;
}

// ---- the span a sort works on ---------------------------------------------------------------

i32 sort_span(ValueCell* s, i32 length, ValueCell* part) {
    i32 idx = series_index(s);
    if (idx > length) idx = length;
    if (idx < 0) idx = 0;
    series_set_index(s, idx);
    i32 n = length - idx;
    if (!part) return n;
    i32 count = 0;
    if (part->type() == TYPE_INTEGER) count = dt::int_get(part);
    else if (part->type() == s->type() && series_node(part) == series_node(s))
        count = series_index(part) - idx;
    else fire(Err::script_invalid_refine_arg, g_refinements.part, part);
    if (count < 0) {
        // The elements before the index; the index moves back to them.
        i32 back = count < -idx ? idx : -count;
        series_set_index(s, idx - back);
        return back;
    }
    return count < n ? count : n;
}

ValueCell* block_sort(ValueCell* series, bool case_sensitive, ValueCell* skip,
                      ValueCell* comparator, ValueCell* part, bool all, bool reverse, bool stable) {
    i32 first;
    return block_sort_from(series, case_sensitive, skip, comparator, part, all, reverse, stable,
                           &first);
}

}  // namespace zan
