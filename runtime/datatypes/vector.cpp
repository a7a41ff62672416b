// vector!: packed numbers of one element type, their series actions,
// element-wise arithmetic and text forms.
#include "runtime/datatypes/vector.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/dtoa.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/percent.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {

constexpr u64 MAX_SERIES_BYTES = 0x7FFFFFF0u;

inline bool element_type_ok(u32 t) {
    return t == TYPE_CHAR || t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}
inline bool float_elements(u32 t) { return t == TYPE_FLOAT || t == TYPE_PERCENT; }

inline i32 units_of(const ValueCell* v) {
    SeriesBuffer* b = series_of(v);
    return static_cast<i32>(b->used_bytes() / b->unit());
}
inline i32 clamped_index(const ValueCell* v) {
    i32 idx = series_index(v);
    i32 len = units_of(v);
    return idx > len ? len : idx < 0 ? 0 : idx;
}

// Raw element access at an address.
i64 read_int_at(const u8* p, u32 size, bool unsigned_) {
    switch (size) {
        case 1: return unsigned_ ? i64(*p) : i64(static_cast<int8_t>(*p));
        case 2: {
            u16 v;
            std::memcpy(&v, p, 2);
            return unsigned_ ? i64(v) : i64(static_cast<int16_t>(v));
        }
        default: {
            u32 v;
            std::memcpy(&v, p, 4);
            return unsigned_ ? i64(v) : i64(static_cast<i32>(v));
        }
    }
}

double read_float_at(const u8* p, u32 size) {
    if (size == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void store_int_at(u8* p, u32 size, u32 v) {
    switch (size) {
        case 1: *p = static_cast<u8>(v); return;
        case 2: {
            u16 h = static_cast<u16>(v);
            std::memcpy(p, &h, 2);
            return;
        }
        default: std::memcpy(p, &v, 4); return;
    }
}

// A 64-bit float rounded to 32 bits. Finite values beyond the 32-bit range
// are decided here rather than left to the conversion: those that round
// past the largest 32-bit float become infinity, the others that largest
// value, as the IEEE rounding does.
float to_float32(double d) {
    if (std::isnan(d) || std::fabs(d) <= FLT_MAX) return static_cast<float>(d);
    constexpr double kRoundsToInfinity = 3.4028235677973366e38;  // FLT_MAX + half an ulp
    float big = std::fabs(d) >= kRoundsToInfinity ? HUGE_VALF : FLT_MAX;
    return d < 0 ? -big : big;
}

void store_float_at(u8* p, u32 size, double d) {
    if (size == 4) {
        float f = to_float32(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

// Writes a value of the element type at p.
void encode_value(u8* p, u32 size, u32 type, const ValueCell* value) {
    if (float_elements(type)) store_float_at(p, size, value->get_float());
    else store_int_at(p, size, static_cast<u32>(integer_get(value)));
}

// The scalar of an element type from an integer or a float result.
void element_value(u32 type, i64 iv, double fv, ValueCell* out) {
    switch (type) {
        case TYPE_CHAR: char_box(out, static_cast<u32>(iv)); break;
        case TYPE_FLOAT: float_make_at(out, fv); break;
        case TYPE_PERCENT: percent_make_at(out, fv); break;
        default: integer_box(out, static_cast<i32>(iv)); break;
    }
}

void check_element_type(const ValueCell* v, const ValueCell* value) {
    if (value->type() != vector_element_type(v)) {
        ValueCell bad = *value;
        ValueCell* held = stack_push(&bad);
        fire(Err::script_invalid_arg, held);
    }
}

// Room for extra bytes after the tail: twice the capacity, or exactly the
// need when twice is not enough.
SeriesBuffer* room_after_tail(const ValueCell* v, u64 extra) {
    SeriesBuffer* b = series_of(v);
    u64 cap = b->end_ref() - b->head;
    u64 need = u64(b->used_bytes()) + extra;
    if (need <= cap) return b;
    u64 grow = cap * 2 > need ? cap * 2 : need;
    if (grow > MAX_SERIES_BYTES) fire(Err::internal_no_memory);
    u32 unit = b->unit();
    series_expand(b, static_cast<u32>((grow + unit - 1) / unit * unit));
    return series_of(v);
}

// Replaces `remove` elements at element position pos by the encoded
// elements in bytes, written `times` times over.
void splice(ValueCell* v, i32 pos, i32 remove, const std::vector<u8>& bytes, i32 times) {
    u32 size = series_of(v)->unit();
    u64 add = u64(bytes.size()) * u64(times);
    if (add > MAX_SERIES_BYTES) fire(Err::internal_no_memory);
    i64 delta = static_cast<i64>(add) - i64(remove) * size;
    SeriesBuffer* b = delta > 0 ? room_after_tail(v, static_cast<u64>(delta)) : series_of(v);
    u32 used = b->used_bytes();
    u8* at = b->head_ptr() + u64(pos) * size;
    u64 removed = u64(remove) * size;
    std::memmove(at + add, at + removed, used - u64(pos) * size - removed);
    if (!bytes.empty()) {
        std::memcpy(at, bytes.data(), bytes.size());
        if (times > 1) mem_replicate(at, static_cast<u32>(bytes.size()), static_cast<u32>(times));
    }
    b->tail = static_cast<HeapRef>(static_cast<i64>(b->tail) + delta);
}

// The values an insert or change puts in: those of a block (from its
// index, at most part of them) unless only, else the value itself. Copied
// out of the heap: nothing below keeps addresses across an allocation.
std::vector<ValueCell> values_of(const ValueCell* value, i32 part, bool only) {
    std::vector<ValueCell> out;
    u32 t = value->type();
    if (!only && (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH)) {
        i32 len = series_buffer_length(value);
        i32 start = series_index(value) < 0 ? 0 : series_index(value);
        i32 n = len - start;
        if (n < 0) n = 0;
        if (part >= 0 && part < n) n = part;
        const ValueCell* cells = series_of(value)->head_cells() + start;
        out.assign(cells, cells + n);
    } else {
        out.push_back(*value);
    }
    return out;
}

std::vector<u8> encode_values(const ValueCell* v, const std::vector<ValueCell>& values) {
    u32 size = vector_element_size(v);
    for (const ValueCell& c : values) check_element_type(v, &c);
    std::vector<u8> bytes(values.size() * size);
    for (size_t i = 0; i < values.size(); i++)
        encode_value(bytes.data() + i * size, size, vector_element_type(v), &values[i]);
    return bytes;
}

// ---- arithmetic on elements ------------------------------------------------------------------

// The integer operation of the vectors: add, subtract and multiply wrap in
// 32 bits, divide truncates and never becomes a float; divide and remainder
// raise zero-divide (and overflow for -2147483648 by -1).
i32 int_op(i32 a, i32 b, i32 op) { return integer_do_math(a, b, op, nullptr); }

// The integer a float scalar gives to char and integer elements: truncated
// toward zero. A float that no 32-bit integer holds (NaN, infinities,
// beyond -2147483648 .. 2147483647) raises math overflow.
i32 scalar_to_int(const ValueCell* scalar) {
    if (scalar->type() == TYPE_INTEGER) return integer_get(scalar);
    double d = scalar->get_float();
    if (integer_float_overflow_q(d)) fire(Err::math_overflow);
    return static_cast<i32>(d);
}

double scalar_to_float(const ValueCell* scalar) {
    if (scalar->type() == TYPE_INTEGER) return integer_get(scalar);
    return scalar->get_float();
}

}  // namespace

// ---- elements ------------------------------------------------------------------------------------

u32 vector_element_size(const ValueCell* v) { return series_of(v)->unit(); }

i64 vector_read_int(const ValueCell* v, u32 position) {
    SeriesBuffer* b = series_of(v);
    u32 size = b->unit();
    return read_int_at(b->head_ptr() + u64(position) * size, size, vector_element_type(v) == TYPE_CHAR);
}

double vector_read_float(const ValueCell* v, u32 position) {
    SeriesBuffer* b = series_of(v);
    u32 size = b->unit();
    return read_float_at(b->head_ptr() + u64(position) * size, size);
}

void vector_element_to_value(ValueCell* v, u32 position, ValueCell* out) {
    u32 type = vector_element_type(v);
    if (float_elements(type)) element_value(type, 0, vector_read_float(v, position), out);
    else element_value(type, vector_read_int(v, position), 0, out);
}

void vector_store_value(ValueCell* v, u32 position, ValueCell* value) {
    SeriesBuffer* b = series_of(v);
    u32 size = b->unit();
    encode_value(b->head_ptr() + u64(position) * size, size, vector_element_type(v), value);
}

// ---- helpers ---------------------------------------------------------------------------------------

i32 vector_length(const ValueCell* v) { return units_of(v) - clamped_index(v); }

u8* vector_head_ptr(const ValueCell* v) {
    SeriesBuffer* b = series_of(v);
    return b->head_ptr() + u64(clamped_index(v)) * b->unit();
}

ValueCell* vector_to_block(ValueCell* v) {
    ValueCell vec = *v;
    ValueCell* held = stack_push(&vec);
    i32 start = clamped_index(held);
    i32 n = units_of(held) - start;
    ValueCell* block = block_push_new(static_cast<u32>(n > 0 ? n : 1));
    for (i32 i = 0; i < n; i++) {
        ValueCell e;
        vector_element_to_value(held, static_cast<u32>(start + i), &e);
        block_append_cell(block, &e);
    }
    // The block takes the vector's place on the stack.
    *held = *block;
    stack_pop(1);
    return held;
}

ValueCell* vector_make_at(ValueCell* cell, u32 capacity, u32 type, u32 size) {
    if (u64(capacity) * size > 0xFFFFFFFFu) fire(Err::internal_no_memory);
    Node n = alloc_series(capacity ? capacity : 1, size, 0);
    cell_init(cell, TYPE_VECTOR, 0, n, type);
    return cell;
}

// ---- make ----------------------------------------------------------------------------------------------

namespace {

[[noreturn]] void fire_spec(Err id, const ValueCell* spec) {
    ValueCell s = *spec;
    ValueCell* held = stack_push(&s);
    if (id == Err::script_bad_make_arg) {
        ValueCell* dt = datatype_push(TYPE_VECTOR);
        fire(id, dt, held);
    }
    fire(id, held);
}

// The element type a word names (integer! char! float! percent!), or 0.
u32 element_type_of_word(const ValueCell* w) {
    if (w->type() != TYPE_WORD) return 0;
    u32 s = symbol_resolve(word_symbol(w));
    if (s == symbol_resolve(g_sym.integer_type)) return TYPE_INTEGER;
    if (s == symbol_resolve(g_sym.char_type)) return TYPE_CHAR;
    if (s == symbol_resolve(g_sym.float_type)) return TYPE_FLOAT;
    if (s == symbol_resolve(g_sym.percent_type)) return TYPE_PERCENT;
    return 0;
}

// A vector of n zero elements.
ValueCell* zero_vector(u32 type, u32 size, i64 n) {
    if (n < 0) n = 0;
    if (u64(n) * size > 0xFFFFFFFFu) fire(Err::internal_no_memory);
    ValueCell* out = vector_make_at(unset_push(), static_cast<u32>(n ? n : 1), type, size);
    if (n) {
        SeriesBuffer* b = series_of(out);
        if (u64(n) * size > b->end_ref() - b->head) fire(Err::internal_no_memory);
        std::memset(b->head_ptr(), 0, static_cast<size_t>(n) * size);
        b->tail = b->head + static_cast<u32>(n) * size;
    }
    return out;
}

ValueCell* vector_of_values(u32 type, u32 size, const std::vector<ValueCell>& values) {
    ValueCell* out = vector_make_at(unset_push(), static_cast<u32>(values.size()), type, size);
    std::vector<u8> bytes = encode_values(out, values);
    splice(out, 0, 0, bytes, 1);
    return out;
}

}  // namespace

ValueCell* vector_make(ValueCell*, ValueCell* spec, u32) {
    ValueCell sp = *spec;
    ValueCell* held = stack_push(&sp);
    u32 st = sp.type();
    ValueCell* out;
    if (st == TYPE_INTEGER) {
        out = zero_vector(TYPE_INTEGER, 4, integer_get(held));
    } else if (st == TYPE_FLOAT) {
        // The count read from a float: NaN names no count; anything at or
        // below 0 gives an empty vector; a count beyond 32 bits cannot be
        // allocated.
        double d = sp.get_float();
        if (std::isnan(d)) fire_spec(Err::script_bad_make_arg, held);
        if (d > 2147483647.0) fire(Err::internal_no_memory);
        out = zero_vector(TYPE_FLOAT, 4, d <= 0 ? 0 : static_cast<i64>(d));
    } else if (st == TYPE_BLOCK) {
        std::vector<ValueCell> items = values_of(held, -1, false);
        if (!items.empty() && items[0].type() == TYPE_WORD) {
            // The spec dialect: [type bits size-or-values].
            if (items.size() < 2) fire_spec(Err::script_bad_make_arg, held);
            u32 type = element_type_of_word(&items[0]);
            if (!type) fire_spec(Err::script_bad_make_arg, held);
            size_t next = 1;
            u32 size = 8;
            if (items[1].type() == TYPE_INTEGER) {
                i32 bits = integer_get(&items[1]);
                if (type == TYPE_PERCENT) size = 8;
                else if (type == TYPE_FLOAT && (bits == 32 || bits == 64)) size = static_cast<u32>(bits) / 8;
                else if (type != TYPE_FLOAT && (bits == 8 || bits == 16 || bits == 32))
                    size = static_cast<u32>(bits) / 8;
                else fire_spec(Err::script_bad_make_arg, held);
                next = 2;
            } else if (type != TYPE_PERCENT) {
                fire_spec(Err::script_invalid_spec_field, held);
            }
            if (next >= items.size()) {
                // No size and no values: an empty vector of that kind.
                out = zero_vector(type, size, 0);
            } else if (items[next].type() == TYPE_INTEGER) {
                out = zero_vector(type, size, integer_get(&items[next]));
            } else if (items[next].type() == TYPE_BLOCK) {
                out = vector_of_values(type, size, values_of(&items[next], -1, false));
            } else {
                fire_spec(Err::script_invalid_spec_field, held);
            }
        } else {
            // A block of values: the first one gives the element type; an
            // empty block makes an empty vector of 32-bit integers.
            u32 type = items.empty() ? TYPE_INTEGER : items[0].type();
            if (!element_type_ok(type)) {
                ValueCell* dt = datatype_push(type);
                fire(Err::script_invalid_type, dt);
            }
            out = vector_of_values(type, vector_default_size(type), items);
        }
    } else {
        fire(Err::internal_not_done);
    }
    ValueCell r = *out;
    *held = r;
    g_stack.top = held + 1;
    return held;
}

// ---- form and mold -------------------------------------------------------------------------------------

namespace {

// Appends element i (a position from the buffer's head) as form writes it
// or, with literal, as mold writes it (chars as #"x").
void append_element(const ValueCell* v, u32 position, ValueCell* out, bool literal, bool all) {
    u32 type = vector_element_type(v);
    u32 size = vector_element_size(v);
    switch (type) {
        case TYPE_CHAR: {
            u32 cp = static_cast<u32>(vector_read_int(v, position));
            if (literal) string_append_cstr(out, "#\"");
            string_mold_char(out, cp, MOLD_STRING_MODE, all);
            if (literal) string_append_char(out, '"');
            break;
        }
        case TYPE_INTEGER:
            string_append_cstr(out, integer_to_cstr(static_cast<i32>(vector_read_int(v, position))));
            break;
        case TYPE_FLOAT:
            string_append_cstr(out, float_to_cstr(vector_read_float(v, position),
                                                  size == 4 ? FLOAT_TEXT_F32 : FLOAT_TEXT_FLOAT));
            break;
        default:
            string_append_cstr(out, float_to_cstr(vector_read_float(v, position) * 100.0,
                                                  size == 4 ? FLOAT_TEXT_PCT32 : FLOAT_TEXT_PERCENT));
            break;
    }
}

// The elements separated by single spaces, until the budget is used up.
i32 append_elements(const ValueCell* v, ValueCell* out, bool literal, bool all, i32 limit) {
    i32 start = clamped_index(v);
    i32 n = units_of(v) - start;
    for (i32 i = 0; i < n; i++) {
        if (limit <= 0) break;
        i32 before = string_total_length(out);
        if (i > 0) string_append_char(out, ' ');
        append_element(v, static_cast<u32>(start + i), out, literal, all);
        limit -= string_total_length(out) - before;
    }
    return limit;
}

const char* element_type_name(u32 type) {
    switch (type) {
        case TYPE_CHAR: return "char!";
        case TYPE_FLOAT: return "float!";
        case TYPE_PERCENT: return "percent!";
        default: return "integer!";
    }
}

i32 append_counted(ValueCell* out, const char* text, i32 limit) {
    string_append_cstr(out, text);
    return limit - static_cast<i32>(std::strlen(text));
}

}  // namespace

i32 vector_form(ValueCell* v, ValueCell* out, ValueCell*, i32 limit) {
    ValueCell vec = *v;
    return append_elements(&vec, out, false, false, limit);
}

i32 vector_mold(ValueCell* v, ValueCell* out, bool only, bool all, bool, ValueCell*, i32 limit,
                i32) {
    ValueCell vec = *v;
    if (!only) limit = append_counted(out, "make vector! [", limit);
    u32 type = vector_element_type(&vec);
    u32 size = vector_element_size(&vec);
    if (vector_length(&vec) > 0 && size == vector_default_size(type)) {
        limit = append_elements(&vec, out, true, all, limit);
        if (!only) limit = append_counted(out, "]", limit);
        return limit;
    }
    std::string head = std::string(element_type_name(type)) + " " + std::to_string(size * 8) + " [";
    limit = append_counted(out, head.c_str(), limit);
    limit = append_elements(&vec, out, true, all, limit);
    // The inner block is always closed, so that /only gives balanced text.
    return append_counted(out, only ? "]" : "]]", limit);
}

// ---- compare ---------------------------------------------------------------------------------------------

i32 vector_compare(ValueCell* a, ValueCell* b, i32 op) {
    if (b->type() != TYPE_VECTOR) return CMP_NOT_COMPARABLE;
    if (vector_element_type(a) != vector_element_type(b)) fire(Err::script_not_same_type);
    bool same = series_same_place(a, b);
    if (op == CMP_SAME) return same ? 0 : -1;
    bool equality = op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL ||
                    op == CMP_FIND;
    if (same && equality) return 0;
    i32 la = vector_length(a), lb = vector_length(b);
    if (la != lb && equality) return 1;
    i32 ia = clamped_index(a), ib = clamped_index(b);
    i32 n = la < lb ? la : lb;
    bool floats = float_elements(vector_element_type(a));
    for (i32 i = 0; i < n; i++) {
        u32 pa = static_cast<u32>(ia + i), pb = static_cast<u32>(ib + i);
        if (floats) {
            double x = vector_read_float(a, pa), y = vector_read_float(b, pb);
            if (x == y) continue;
            // An unordered pair (a NaN) is unequal and sorts as greater.
            return x < y ? -1 : 1;
        }
        i64 x = vector_read_int(a, pa), y = vector_read_int(b, pb);
        if (x != y) return x < y ? -1 : 1;
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// ---- arithmetic -------------------------------------------------------------------------------------------

void vector_math_scalar(ValueCell* v, const ValueCell* scalar, i32 op, bool scalar_left) {
    u32 st = scalar->type();
    if (st != TYPE_INTEGER && st != TYPE_FLOAT && st != TYPE_PERCENT)
        fire(Err::internal_not_done);
    ValueCell vec = *v;
    u32 type = vector_element_type(&vec);
    i32 start = clamped_index(&vec);
    i32 n = units_of(&vec) - start;
    SeriesBuffer* b = series_of(&vec);
    u32 size = b->unit();
    u8* p = b->head_ptr() + u64(start) * size;
    if (float_elements(type)) {
        double s = scalar_to_float(scalar);
        // Identities leave the elements untouched (NaNs and all).
        if (!scalar_left && (((op == MATH_ADD || op == MATH_SUBTRACT) && s == 0) ||
                             ((op == MATH_MULTIPLY || op == MATH_DIVIDE) && s == 1)))
            return;
        for (i32 i = 0; i < n; i++, p += size) {
            double e = read_float_at(p, size);
            store_float_at(p, size, scalar_left ? float_do_math(s, e, op) : float_do_math(e, s, op));
        }
        return;
    }
    i32 s = scalar_to_int(scalar);
    if (!scalar_left && (((op == MATH_ADD || op == MATH_SUBTRACT) && s == 0) ||
                         ((op == MATH_MULTIPLY || op == MATH_DIVIDE) && s == 1)))
        return;
    bool uns = type == TYPE_CHAR;
    for (i32 i = 0; i < n; i++, p += size) {
        i32 e = static_cast<i32>(read_int_at(p, size, uns));
        i32 r = scalar_left ? int_op(s, e, op) : int_op(e, s, op);
        store_int_at(p, size, static_cast<u32>(r));
    }
}

void vector_do_math(i32 op) {
    ValueCell a = *stack_arg(0);
    ValueCell b = *stack_arg(1);
    if (vector_element_type(&a) != vector_element_type(&b)) fire(Err::script_not_same_type);
    u32 type = vector_element_type(&a);
    i32 ia = clamped_index(&a), ib = clamped_index(&b);
    i32 la = units_of(&a) - ia, lb = units_of(&b) - ib;
    i32 n = la < lb ? la : lb;
    u32 sa = vector_element_size(&a), sb = vector_element_size(&b);
    u32 size = sa > sb ? sa : sb;
    ValueCell* saved = g_stack.top;
    ValueCell* r = vector_make_at(unset_push(), static_cast<u32>(n), type, size);
    // The allocation may have moved the operands' buffers: read them now.
    const u8* pa = series_of(&a)->head_ptr() + u64(ia) * sa;
    const u8* pb = series_of(&b)->head_ptr() + u64(ib) * sb;
    SeriesBuffer* rb = series_of(r);
    u8* pr = rb->head_ptr();
    bool uns = type == TYPE_CHAR;
    for (i32 i = 0; i < n; i++, pa += sa, pb += sb, pr += size) {
        if (float_elements(type)) {
            store_float_at(pr, size, float_do_math(read_float_at(pa, sa), read_float_at(pb, sb), op));
        } else {
            i32 x = static_cast<i32>(read_int_at(pa, sa, uns));
            i32 y = static_cast<i32>(read_int_at(pb, sb, uns));
            store_int_at(pr, size, static_cast<u32>(int_op(x, y, op)));
        }
    }
    rb->tail = rb->head + static_cast<u32>(n) * size;
    ValueCell result = *r;
    g_stack.top = saved;
    *stack_arg(0) = result;
}

void vector_math_number_left(i32 op) {
    ValueCell scalar = *stack_arg(0);
    ValueCell vec = *stack_arg(1);
    vector_math_scalar(&vec, &scalar, op, true);
    stack_set_last(&vec);
}

namespace {
void math_entry(i32 op) {
    ValueCell* left = stack_arg(0);
    ValueCell* right = stack_arg(1);
    if (right->type() == TYPE_VECTOR) vector_do_math(op);
    else vector_math_scalar(left, right, op, false);
}
}  // namespace

void vector_add() { math_entry(MATH_ADD); }
void vector_subtract() { math_entry(MATH_SUBTRACT); }
void vector_multiply() { math_entry(MATH_MULTIPLY); }
void vector_divide() { math_entry(MATH_DIVIDE); }
void vector_remainder() { math_entry(MATH_REMAINDER); }
void vector_and_t() { math_entry(MATH_AND); }
void vector_or_t() { math_entry(MATH_OR); }
void vector_xor_t() { math_entry(MATH_XOR); }

// ---- append, insert and change ------------------------------------------------------------------------------

void vector_insert(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup,
                   bool append) {
    ValueCell* saved = g_stack.top;
    ValueCell s = *series;
    ValueCell* held = stack_push(&s);
    ValueCell v = *value;
    std::vector<ValueCell> values = values_of(&v, part, only);
    i32 times = dup < 1 ? 1 : dup;
    if (u64(values.size()) * u64(times) > 0xFFFFFFFFu) fire(Err::internal_no_memory);
    std::vector<u8> bytes = encode_values(held, values);
    i32 len = units_of(held);
    if (series_index(held) > len) series_set_index(held, len);
    i32 pos = append ? len : clamped_index(held);
    splice(held, pos, 0, bytes, times);
    ValueCell r = *held;
    series_set_index(&r, append ? 0 : pos + static_cast<i32>(values.size()) * times);
    g_stack.top = saved;
    *stack_result() = r;
}

void vector_change(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup) {
    ValueCell* saved = g_stack.top;
    ValueCell s = *series;
    ValueCell* held = stack_push(&s);
    ValueCell v = *value;
    u32 size = vector_element_size(held);
    std::vector<u8> bytes;
    if (v.type() == TYPE_VECTOR && !only) {
        // Another vector's elements go in as they are stored, so it must
        // have the same element type and size. They are copied out first,
        // which also covers a source in the target's own buffer.
        if (vector_element_type(&v) != vector_element_type(&s) || vector_element_size(&v) != size) {
            ValueCell* bad = stack_push(&v);
            fire(Err::script_invalid_arg, bad);
        }
        const u8* from = vector_head_ptr(&v);
        bytes.assign(from, from + u64(vector_length(&v)) * size);
    } else {
        bytes = encode_values(held, values_of(&v, -1, only));
    }
    i32 count = static_cast<i32>(bytes.size() / size);
    i32 times = dup < 1 ? 1 : dup;
    u64 total = u64(count) * u64(times);
    if (total > 0x7FFFFFFFu) fire(Err::internal_no_memory);
    i32 len = units_of(held);
    if (series_index(held) > len) series_set_index(held, len);
    i32 pos = clamped_index(held);
    i32 rem = len - pos;
    i32 replaced = part >= 0 ? (part < rem ? part : rem)
                             : (total < u64(rem) ? static_cast<i32>(total) : rem);
    bool owned = series_announce(held, g_words.n.change, nullptr, pos, replaced);
    splice(held, pos, replaced, bytes, times);
    if (owned) series_announce(held, g_words.n.changed, nullptr, pos, static_cast<i32>(total));
    ValueCell r = *held;
    series_set_index(&r, pos + static_cast<i32>(total));
    g_stack.top = saved;
    *stack_result() = r;
}

// ---- registration ---------------------------------------------------------------------------------------------

void vector_init() {
    ActionRow row;
    row.set<ACT_MAKE>(vector_make)
        .set<ACT_FORM>(vector_form)
        .set<ACT_MOLD>(vector_mold)
        .set<ACT_COMPARE>(vector_compare)
        .set<ACT_ADD>(vector_add)
        .set<ACT_DIVIDE>(vector_divide)
        .set<ACT_MULTIPLY>(vector_multiply)
        .set<ACT_REMAINDER>(vector_remainder)
        .set<ACT_SUBTRACT>(vector_subtract)
        .set<ACT_AND_T>(vector_and_t)
        .set<ACT_OR_T>(vector_or_t)
        .set<ACT_XOR_T>(vector_xor_t)
        .set<ACT_APPEND>(vector_insert)
        .set<ACT_INSERT>(vector_insert)
        .set<ACT_CHANGE>(vector_change)
        .inherit({ACT_RANDOM, ACT_REFLECT, ACT_EVAL_PATH, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY,
                  ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT,
                  ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SORT, ACT_SKIP,
                  ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY});
    datatype_register(TYPE_VECTOR, row);
}

}  // namespace zan
