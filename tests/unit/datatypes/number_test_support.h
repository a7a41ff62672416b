// Helpers for the tests of the scalar number types: cells of each number
// type, calls of the arithmetic entries through the argument frame, and a
// stand-in pair! row that shows how the numbers hand operations over to
// the types that come after them.
#pragma once
#include <cmath>
#include <cstring>
#include <limits>

#include "dt_test_support.h"
#include "runtime/datatypes/char.h"
#include "runtime/typesystem/fast_ops.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/typeset.h"

namespace zan::test {

inline ValueCell I(i32 v) {
    ValueCell c;
    integer_box(&c, v);
    return c;
}
inline ValueCell C(u32 cp) {
    ValueCell c;
    char_box(&c, cp);
    return c;
}
inline ValueCell F(double d) {
    ValueCell c;
    float_make_at(&c, d);
    return c;
}
inline ValueCell P(double fraction) {
    ValueCell c;
    percent_make_at(&c, fraction);
    return c;
}
inline ValueCell T(double seconds) {
    ValueCell c;
    float_make_typed_at(&c, TYPE_TIME, seconds);
    return c;
}
inline ValueCell DT(u32 type) {
    ValueCell c;
    datatype_box(&c, type);
    return c;
}
// A cell of another type for the checks made on its type alone (the
// errors raised before the other type's own code is reached).
inline ValueCell OTHER(u32 type, u32 d1 = 0, u32 d2 = 0, u32 d3 = 0) {
    ValueCell c;
    cell_init(&c, type, d1, d2, d3);
    return c;
}
inline ValueCell M(double amount) {
    ValueCell c;
    money_from_float(&c, amount, true);
    return c;
}
inline ValueCell NONE() {
    ValueCell c;
    cell_init(&c, TYPE_NONE);
    return c;
}

inline i32 iget(const ValueCell& c) { return integer_get(&c); }
inline u32 cget(const ValueCell& c) { return char_get(&c); }
inline double fget(const ValueCell& c) { return c.get_float(); }
inline bool lget(const ValueCell& c) { return c.data1 != 0; }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

inline u64 bits_of(double d) {
    u64 b;
    std::memcpy(&b, &d, 8);
    return b;
}

// The frame entry of an arithmetic op code.
inline void (*math_action(i32 op))() {
    switch (op) {
        case MATH_ADD: return action_add;
        case MATH_SUBTRACT: return action_subtract;
        case MATH_MULTIPLY: return action_multiply;
        case MATH_DIVIDE: return action_divide;
        case MATH_REMAINDER: return action_remainder;
        case MATH_OR: return action_or_t;
        case MATH_AND: return action_and_t;
        default: return action_xor_t;
    }
}

enum RoundFlag : unsigned {
    R_EVEN = 1, R_DOWN = 2, R_HALF_DOWN = 4, R_FLOOR = 8, R_CEILING = 16, R_HALF_CEILING = 32,
};

// One row of an arithmetic table: a op b gives expected.
struct MathCase {
    ValueCell a;
    i32 op;
    ValueCell b;
    ValueCell expected;
};

class NumberTest : public DtTest {
protected:
    // round through its table entry: /to at frame position 1 when given.
    static ValueCell round_call(const ValueCell& n, const ValueCell* scale, unsigned flags) {
        auto f = [&](unsigned bit) { return (flags & bit) ? 0 : -1; };
        auto entry = [&] {
            action_round(scale ? 1 : -1, f(R_EVEN), f(R_DOWN), f(R_HALF_DOWN), f(R_FLOOR),
                         f(R_CEILING), f(R_HALF_CEILING));
        };
        if (scale) return call({n, *scale}, entry);
        return call({n}, entry);
    }
    // The action of op on (a, b) as the evaluator calls it.
    static ValueCell math(const ValueCell& a, i32 op, const ValueCell& b) {
        return call({a, b}, math_action(op));
    }
    static Err math_error(const ValueCell& a, i32 op, const ValueCell& b) {
        return error_of([&] { math(a, op, b); });
    }
    // to/make through the dispatchers with a datatype! prototype.
    static ValueCell to(u32 type, const ValueCell& spec) {
        ValueCell proto = DT(type);
        ValueCell* p = stack_push(&proto);
        ValueCell* s = stack_push(&spec);
        ValueCell r = *action_to_dispatch(p, s);
        return r;
    }
    static ValueCell make(u32 type, const ValueCell& spec) {
        ValueCell proto = DT(type);
        ValueCell* p = stack_push(&proto);
        ValueCell* s = stack_push(&spec);
        ValueCell r = *action_make_dispatch(p, s);
        return r;
    }
    static bool cmp(const ValueCell& a, i32 op, const ValueCell& b) {
        ValueCell x = a, y = b;
        return action_compare(&x, &y, op);
    }
    static i32 cmp_raw(const ValueCell& a, i32 op, const ValueCell& b) {
        ValueCell x = a, y = b;
        return action_entry_as<ACT_COMPARE>(a.type())(&x, &y, op);
    }
    static ValueCell* bin(std::initializer_list<u8> bytes) {
        u32 n = static_cast<u32>(bytes.size());
        Node node = alloc_bytes(n ? n : 1);
        SeriesBuffer* b = node_buffer(node);
        u32 i = 0;
        for (u8 x : bytes) b->head_ptr()[i++] = x;
        b->tail = b->head + n;
        ValueCell c;
        cell_init(&c, TYPE_BINARY, 0, node, 0);
        return stack_push(&c);
    }
};


}  // namespace zan::test
