// find and select on the text types, and on binary! and vector!, which
// take these entries from string!. Keys are single units (char!, numbers
// in binary! and vector! series), a bitset! of units, or a run of units
// (text, a word's name, or any other value formed into text).
#include "runtime/datatypes/string_search.h"

#include <cstring>

#include "runtime/core/case_folding.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {
// Reads the elements of a series' buffer: code points or bytes, or, for a
// vector!, signed integers and floats.
struct Units {
    const u8* base = nullptr;
    u32 unit = 1;
    bool vector = false;
    bool vector_float = false;
    bool vector_signed = false;  // integer! elements; char! elements are code points

    explicit Units(const ValueCell* s) {
        SeriesBuffer* b = series_of(s);
        base = b->head_ptr();
        unit = b->unit();
        vector = s->type() == TYPE_VECTOR;
        vector_float = vector && (vector_element_type(s) == TYPE_FLOAT || vector_element_type(s) == TYPE_PERCENT);
        vector_signed = vector && vector_element_type(s) == TYPE_INTEGER;
    }
    const u8* at(i32 i) const { return base + static_cast<u64>(i) * unit; }
    // A code point, a byte, or an integer element as its 32 bits.
    u32 cp(i32 i) const {
        if (vector_signed) return static_cast<u32>(int_at(i));
        return unicode_get_unit(at(i), unit);
    }
    // An integer or char! element as a number.
    i64 number_at(i32 i) const {
        return vector_signed ? int_at(i) : static_cast<i64>(unicode_get_unit(at(i), unit));
    }
    i64 int_at(i32 i) const {
        const u8* p = at(i);
        switch (unit) {
            case 1: return static_cast<int8_t>(*p);
            case 2: {
                int16_t v;
                std::memcpy(&v, p, 2);
                return v;
            }
            case 4: {
                i32 v;
                std::memcpy(&v, p, 4);
                return v;
            }
            default: {
                i64 v;
                std::memcpy(&v, p, 8);
                return v;
            }
        }
    }
    double float_at(i32 i) const {
        const u8* p = at(i);
        if (unit == 4) {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
        double d;
        std::memcpy(&d, p, 8);
        return d;
    }
};

bool bitset_has(Node bits, u32 cp) {
    SeriesBuffer* b = node_buffer(bits);
    if (cp >= b->used_bytes() * 8u) return (b->flags & SERIES_COMPLEMENT) != 0;
    return (b->head_ptr()[cp >> 3] & (0x80u >> (cp & 7))) != 0;
}

struct Key {
    enum Kind { unit, number, bitset, run } kind = unit;
    u32 cp = 0;             // unit: folded when folding applies
    bool is_float = false;  // number: which of the two holds it
    i64 ival = 0;
    double fval = 0;
    Node bits = 0;              // bitset
    ValueCell* text = nullptr;  // text: a string-like or binary! cell on the data stack
    i32 len = 1;
};

double number_of(const ValueCell* v) {
    switch (v->type()) {
        case TYPE_INTEGER: return dt::int_get(v);
        case TYPE_CHAR: return dt::char_get(v);
        default: return v->get_float();
    }
}
}  // namespace

i32 string_find_position(ValueCell* series, ValueCell* value, ValueCell* part, bool case_sensitive,
                         bool same, bool any, ValueCell* with, ValueCell* skip, bool last,
                         bool reverse, bool match, i32* length) {
    ValueCell* saved_top = g_stack.top;
    ValueCell* s = stack_push(series);
    ValueCell* v = stack_push(value);
    i32 total = series_buffer_length(s);
    i32 head = series_index(s) < 0 ? 0 : series_index(s);
    if (head > total) head = total;
    if (total == 0 || (!reverse && head >= total)) {
        g_stack.top = saved_top;
        return -1;
    }
    if (any || with) fire(Err::internal_not_done);
    i32 step = 1;
    if (skip) {
        step = dt::int_arg(skip);
        if (step < 1) fire(Err::script_out_of_range, skip);
    }
    i32 count = reverse ? head : total - head;
    if (part) {
        i32 n = 0;
        if (part->type() == TYPE_INTEGER) n = dt::int_get(part);
        else if (part->type() == s->type() && series_node(part) == series_node(s))
            n = reverse ? head - series_index(part) : series_index(part) - head;
        else fire(Err::script_invalid_refine_arg, g_refinements.part, part);
        if (n < 1) {
            g_stack.top = saved_top;
            return -1;
        }
        if (n < count) count = n;
    }

    u32 st = s->type();
    bool text_series = type_string_like(st);
    bool numeric_series = st == TYPE_VECTOR || st == TYPE_BINARY;
    bool fold = text_series && !case_sensitive && !same;
    Key key;
    u32 vt = v->type();
    if (vt == TYPE_CHAR &&
        !(st == TYPE_VECTOR && vector_element_type(s) != TYPE_CHAR && vector_element_type(s) != TYPE_INTEGER)) {
        key.cp = fold ? case_fold_fast(dt::char_get(v)) : dt::char_get(v);
    } else if (numeric_series &&
               (vt == TYPE_INTEGER || vt == TYPE_FLOAT || vt == TYPE_PERCENT || vt == TYPE_CHAR)) {
        key.kind = Key::number;
        if (vt == TYPE_INTEGER || vt == TYPE_CHAR) key.ival = static_cast<i64>(number_of(v));
        key.is_float = vt == TYPE_FLOAT || vt == TYPE_PERCENT;
        key.fval = number_of(v);
    } else if (vt == TYPE_BITSET) {
        key.kind = Key::bitset;
        key.bits = series_node(v);
    } else if (any_word_type_q(vt)) {
        key.kind = Key::run;
        key.text = stack_push_cell();
        symbol_string_cell(word_symbol(v), key.text);
    } else if ((type_string_like(vt) && vt != TYPE_TAG) || vt == TYPE_BINARY) {
        // A tag! is searched as it is written, angle brackets and all: it
        // is formed below like any other value.
        if (vt == TYPE_BINARY && text_series) fire(Err::script_invalid_arg, v);
        key.kind = Key::run;
        key.text = v;
    } else {
        key.kind = Key::run;
        key.text = string_push_new(16);
        action_form_dispatch(v, key.text, nullptr, FORM_NO_LIMIT);
    }
    if (key.kind == Key::run) {
        key.len = series_buffer_length(key.text) - series_index(key.text);
        if (key.len <= 0) {
            g_stack.top = saved_top;
            return -1;
        }
    }
    *length = key.len;

    // Nothing below allocates: the addresses stay valid.
    Units u(s);
    Units ku = key.kind == Key::run ? Units(key.text) : Units(s);
    i32 kstart = key.kind == Key::run ? series_index(key.text) : 0;
    auto unit_at = [&](i32 i) {
        u32 c = u.cp(i);
        return fold ? case_fold_fast(c) : c;
    };
    auto matches = [&](i32 i) {
        switch (key.kind) {
            case Key::unit: return unit_at(i) == key.cp;
            case Key::number:
                if (u.vector_float || key.is_float)
                    return (u.vector_float ? u.float_at(i) : static_cast<double>(u.number_at(i))) ==
                           key.fval;
                return u.number_at(i) == key.ival;
            case Key::bitset: return bitset_has(key.bits, u.cp(i));
            case Key::run:
                if (i + key.len > total) return false;
                for (i32 j = 0; j < key.len; j++) {
                    u32 kc = ku.cp(kstart + j);
                    if (unit_at(i + j) != (fold ? case_fold_fast(kc) : kc)) return false;
                }
                return true;
        }
        return false;
    };

    i32 found = -1;
    if (reverse) {
        // Records before the head, the nearest first.
        if (!match && head > 0)
            for (i32 i = head - step; i >= head - count; i -= step)
                if (matches(i)) {
                    found = i;
                    break;
                }
    } else if (last) {
        i32 end = head + count;
        i32 from = end - key.len;
        if (from >= head) from = head + (from - head) / step * step;
        for (i32 i = from; i >= head; i -= step) {
            if (matches(i)) {
                found = i;
                break;
            }
            if (match) break;
        }
    } else if (key.kind == Key::run && step == 1 && u.unit == 1 && ku.unit == 1 && !u.vector &&
               !ku.vector) {
        // Bytes in bytes, the common case of text: the same comparisons
        // without reading each unit through the general accessors.
        const u8* hay = u.base;
        const u8* needle = ku.base + kstart;
        auto same_at = [&](i32 i) {
            for (i32 j = 0; j < key.len; j++) {
                u32 a = hay[i + j], b = needle[j];
                if (a != b && (!fold || case_fold_fast(a) != case_fold_fast(b))) return false;
            }
            return true;
        };
        i32 end = head + count;
        for (i32 i = head; i + key.len <= end; i++) {
            if (same_at(i)) {
                found = i;
                break;
            }
            if (match) break;
        }
    } else {
        i32 end = head + count;
        for (i32 i = head; i + key.len <= end; i += step) {
            if (matches(i)) {
                found = i;
                break;
            }
            if (match) break;
        }
    }
    g_stack.top = saved_top;
    return found;
}

ValueCell* string_find(ValueCell* series, ValueCell* value, ValueCell* part, bool,
                       bool case_sensitive, bool same, bool any, ValueCell* with, ValueCell* skip,
                       bool last, bool reverse, bool tail, bool match) {
    i32 len = 1;
    i32 i = string_find_position(series, value, part, case_sensitive, same, any, with, skip, last,
                                 reverse, match, &len);
    if (i < 0) return none_push();
    ValueCell* r = stack_push(series);
    series_set_index(r, tail ? i + len : i);
    return r;
}

ValueCell* string_select(ValueCell* series, ValueCell* value, ValueCell* part, bool,
                         bool case_sensitive, bool same, bool any, ValueCell* with, ValueCell* skip,
                         bool last, bool reverse) {
    i32 len = 1;
    i32 i = string_find_position(series, value, part, case_sensitive, same, any, with, skip, last,
                                 reverse, false, &len);
    if (i < 0) return none_push();
    i32 at = i + len;
    if (at >= series_buffer_length(series)) return none_push();
    ValueCell r;
    u32 st = series->type();
    Units u(series);
    if (st == TYPE_BINARY) {
        dt::int_box(&r, static_cast<i32>(u.cp(at)));
    } else if (st == TYPE_VECTOR) {
        switch (vector_element_type(series)) {
            case TYPE_CHAR: dt::char_box(&r, u.cp(at)); break;
            case TYPE_FLOAT:
            case TYPE_PERCENT:
                cell_init(&r, vector_element_type(series));
                r.put_float(u.float_at(at));
                break;
            default: dt::int_box(&r, static_cast<i32>(u.int_at(at))); break;
        }
    } else {
        dt::char_box(&r, u.cp(at));
    }
    return stack_push(&r);
}

}  // namespace zan
