// sort on the text types, binary! and vector!: units (or records of units)
// ordered in place by code point after case folding, by byte, by element
// value, or by a user function.
#include <cstring>
#include <utility>
#include <vector>

#include "runtime/core/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/core/sort.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block_search.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string_search.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {
template <class T>
T load(const void* p, u32 i) {
    T v;
    std::memcpy(&v, static_cast<const u8*>(p) + static_cast<size_t>(i) * sizeof(T), sizeof v);
    return v;
}

template <class T>
i32 order(T x, T y) {
    return x < y ? -1 : y < x ? 1 : 0;
}

// Compares the element at the offset (or, with whole records, each element
// of the record in turn); get(p, i) reads element i of the record at p as a
// comparable value.
template <class Get>
i32 compare_records(const void* a, const void* b, u32 flags, Get get) {
    u32 arg = sort_flags_arg(flags);
    i32 r = 0;
    if (flags & SORT_FLAG_ALL) {
        for (u32 i = 0; i < arg && r == 0; i++)
            r = order(get(a, i), get(b, i));
    } else {
        r = order(get(a, arg), get(b, arg));
    }
    return (flags & SORT_FLAG_REVERSE) ? -r : r;
}

template <class T>
i32 compare_text(const void* a, const void* b, uintptr_t case_flag, u32 flags) {
    if (case_flag)
        return compare_records(a, b, flags,
                               [](const void* p, u32 i) { return u32(load<T>(p, i)); });
    return compare_records(a, b, flags,
                           [](const void* p, u32 i) { return case_fold_fast(u32(load<T>(p, i))); });
}

template <class T>
i32 compare_plain(const void* a, const void* b, u32 flags) {
    return compare_records(a, b, flags, [](const void* p, u32 i) { return load<T>(p, i); });
}

// Floats order as numbers; a NaN sorts after every number.
template <class T>
i32 compare_float(const void* a, const void* b, u32 flags) {
    return compare_records(a, b, flags, [](const void* p, u32 i) {
        T v = load<T>(p, i);
        bool nan = v != v;
        return std::pair<int, double>(nan ? 1 : 0, nan ? 0.0 : static_cast<double>(v));
    });
}

bool is_float_vector(const ValueCell* s) {
    return s->type() == TYPE_VECTOR && (vector_element_type(s) == TYPE_FLOAT || vector_element_type(s) == TYPE_PERCENT);
}

// char! elements of a vector: code points, never folded.
i32 cmp_raw_u16(const void* a, const void* b, uintptr_t, u32 f) {
    return compare_plain<u16>(a, b, f);
}
i32 cmp_raw_u32(const void* a, const void* b, uintptr_t, u32 f) {
    return compare_plain<u32>(a, b, f);
}

SortCompare comparison_for(const ValueCell* s, u32 unit) {
    u32 t = s->type();
    if (t == TYPE_VECTOR) {
        if (is_float_vector(s)) return unit == 4 ? string_sort_cmp_f32 : string_sort_cmp_f64;
        if (vector_element_type(s) == TYPE_CHAR)
            return unit == 1 ? string_sort_cmp_raw_bytes : unit == 2 ? cmp_raw_u16 : cmp_raw_u32;
        return unit == 1   ? string_sort_cmp_i8
               : unit == 2 ? string_sort_cmp_i16
                           : string_sort_cmp_i32;
    }
    if (!type_string_like(t)) return string_sort_cmp_raw_bytes;
    return unit == 1   ? string_sort_cmp_bytes
           : unit == 2 ? string_sort_cmp_u16
                       : string_sort_cmp_u32;
}

// The element at p as a value for a user function: char! of text, integer!
// of a byte, a vector's element as its element type.
void element_value(const ValueCell* s, const u8* p, u32 unit, ValueCell* out) {
    u32 t = s->type();
    if (t == TYPE_BINARY) {
        dt::int_box(out, *p);
    } else if (t == TYPE_VECTOR) {
        if (is_float_vector(s)) {
            double d = unit == 4 ? static_cast<double>(load<float>(p, 0)) : load<double>(p, 0);
            cell_init(out, vector_element_type(s));
            out->put_float(d);
        } else if (vector_element_type(s) == TYPE_CHAR) {
            dt::char_box(out, unicode_get_unit(p, unit));
        } else {
            i64 v = unit == 1   ? load<int8_t>(p, 0)
                    : unit == 2 ? load<int16_t>(p, 0)
                                : load<i32>(p, 0);
            dt::int_box(out, static_cast<i32>(v));
        }
    } else {
        dt::char_box(out, unicode_get_unit(p, unit));
    }
}

// A series of the sorted series' type holding one record, for whole-record
// comparisons through a user function.
ValueCell* scratch_series(const ValueCell* s, u32 unit, u32 units) {
    Node n = alloc_series(units, unit, 0);
    ValueCell* c = stack_push_cell();
    cell_init(c, s->type(), 0, n, s->type() == TYPE_VECTOR ? vector_element_type(s) : 0);
    return c;
}

void fill_scratch(ValueCell* scratch, const void* record, u32 bytes) {
    SeriesBuffer* b = series_of(scratch);
    std::memcpy(b->head_ptr(), record, bytes);
    b->tail = b->head + bytes;
    series_set_index(scratch, 0);
}

}  // namespace

// ---- comparisons -----------------------------------------------------------------------------

i32 string_sort_cmp_bytes(const void* a, const void* b, uintptr_t c, u32 f) {
    return compare_text<u8>(a, b, c, f);
}
i32 string_sort_cmp_u16(const void* a, const void* b, uintptr_t c, u32 f) {
    return compare_text<u16>(a, b, c, f);
}
i32 string_sort_cmp_u32(const void* a, const void* b, uintptr_t c, u32 f) {
    return compare_text<u32>(a, b, c, f);
}
i32 string_sort_cmp_raw_bytes(const void* a, const void* b, uintptr_t, u32 f) {
    return compare_plain<u8>(a, b, f);
}
i32 string_sort_cmp_i8(const void* a, const void* b, uintptr_t, u32 f) {
    return compare_plain<int8_t>(a, b, f);
}
i32 string_sort_cmp_i16(const void* a, const void* b, uintptr_t, u32 f) {
    return compare_plain<int16_t>(a, b, f);
}
i32 string_sort_cmp_i32(const void* a, const void* b, uintptr_t, u32 f) {
    return compare_plain<i32>(a, b, f);
}
i32 string_sort_cmp_f32(const void* a, const void* b, uintptr_t, u32 f) {
    return compare_float<float>(a, b, f);
}
i32 string_sort_cmp_f64(const void* a, const void* b, uintptr_t, u32 f) {
    return compare_float<double>(a, b, f);
}

i32 string_sort_compare_func(const void* a, const void* b, uintptr_t call, u32 flags) {
    auto* c = reinterpret_cast<const StringSortCall*>(call);
    ValueCell x, y;
    if (flags & SORT_FLAG_ALL) {
        u32 bytes = c->record_units * c->unit;
        fill_scratch(c->scratch_a, a, bytes);
        fill_scratch(c->scratch_b, b, bytes);
        x = *c->scratch_a;
        y = *c->scratch_b;
    } else {
        u32 off = sort_flags_arg(flags) * c->unit;
        element_value(c->series, static_cast<const u8*>(a) + off, c->unit, &x);
        element_value(c->series, static_cast<const u8*>(b) + off, c->unit, &y);
    }
    return sort_function_compare(c->function, &x, &y, flags);
}

// ---- sort ------------------------------------------------------------------------------------

ValueCell* string_sort(ValueCell* series, bool case_sensitive, ValueCell* skip,
                       ValueCell* comparator, ValueCell* part, bool all, bool reverse,
                       bool stable) {
    ValueCell* s = stack_push(series);
    i32 n = sort_span(s, series_buffer_length(s), part);
    if (n <= 0) return s;
    i32 idx = series_index(s);  // where sort_span left it

    i32 size = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER)
            fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
        size = dt::int_get(skip);
        if (size < 1 || n % size != 0 || n < size)
            fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
    }
    if (all && !skip) fire(Err::script_bad_refines);

    u32 unit = series_of(s)->unit();
    u32 flags = reverse ? SORT_FLAG_REVERSE : 0;
    if (all) flags |= SORT_FLAG_ALL | (static_cast<u32>(size) << SORT_FLAG_ARG_SHIFT);
    SortCompare callback = comparison_for(s, unit);
    uintptr_t arg = case_sensitive ? 1 : 0;
    StringSortCall call{};
    bool by_function = false;
    if (comparator) {
        if (comparator->type() == TYPE_INTEGER) {
            if (!skip || all) fire(Err::script_bad_refines);
            i32 off = dt::int_get(comparator);
            if (off < 1 || off > size) fire(Err::script_out_of_range, comparator);
            flags |= static_cast<u32>(off - 1) << SORT_FLAG_ARG_SHIFT;
        } else if (comparator->type() == TYPE_FUNCTION) {
            by_function = true;
            callback = string_sort_compare_func;
            call.function = stack_push(comparator);
            call.series = s;
            call.unit = unit;
            call.record_units = static_cast<u32>(size);
            if (all) {
                call.scratch_a = scratch_series(s, unit, static_cast<u32>(size));
                call.scratch_b = scratch_series(s, unit, static_cast<u32>(size));
            }
            arg = reinterpret_cast<uintptr_t>(&call);
        } else {
            fire(Err::script_invalid_refine_arg, g_refinements.compare, comparator);
        }
    }

    bool owned = series_announce(s, g_words.n.sort, nullptr, idx, 0);
    u32 count = static_cast<u32>(n / size);
    u32 rsize = static_cast<u32>(size) * unit;
    // /stable asks for the merge sort whatever the other refinements: equal
    // records keep their order also under /case.
    if (!by_function) {
        u8* base = series_of(s)->head_ptr() + static_cast<u64>(idx) * unit;
        if (stable) sort_merge(base, count, rsize, arg, flags, callback);
        else sort_quick(base, count, rsize, arg, flags, callback);
    } else {
        // The function may change the series (widen it, make it grow
        // elsewhere): the units are sorted in a private copy and written
        // back while the series still holds them at the same width. The
        // collector stays off meanwhile, as in the block sort.
        GcHold hold;
        const u8* from = series_of(s)->head_ptr() + static_cast<u64>(idx) * unit;
        std::vector<u8> units(from, from + static_cast<size_t>(n) * unit);
        if (stable) sort_merge(units.data(), count, rsize, arg, flags, callback);
        else sort_quick(units.data(), count, rsize, arg, flags, callback);
        SeriesBuffer* b = series_of(s);
        if (b->unit() == unit && series_buffer_length(s) >= idx + n)
            std::memcpy(b->head_ptr() + static_cast<u64>(idx) * unit, units.data(), units.size());
    }
    if (owned) series_announce(s, g_words.n.sorted, nullptr, idx, 0);
    return s;
}

}  // namespace zan
