// Inline number and block paths of the fast operators, with the generic
// action call as the fallback.
#include "runtime/typesystem/fast_ops.h"

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/number_infix.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"

namespace zan {

namespace {

using Entry = void (*)();

Entry math_entry(i32 op) {
    switch (op) {
        case MATH_ADD: return action_add;
        case MATH_SUBTRACT: return action_subtract;
        case MATH_MULTIPLY: return action_multiply;
        case MATH_OR: return action_or_t;
        case MATH_AND: return action_and_t;
        case MATH_XOR: return action_xor_t;
        default: runtime_fatal(101, "fast operator: unknown math operation");
    }
}

void check_compare_op(i32 op) {
    if (op < CMP_EQUAL || op > CMP_GREATER_EQUAL)
        runtime_fatal(101, "fast operator: unknown comparison");
}

// The interpreter's way: a native frame named by the word, the operands as
// its arguments, the table entry, and the result left pushed in the cell
// where the frame began.
template <class Call>
ValueCell* call_generic(const ValueCell* word, const ValueCell* a, const ValueCell* b,
                        Call call) {
    ValueCell x = *a;
    ValueCell y{};
    if (b) y = *b;
    stack_mark_native(word);
    stack_push(&x);
    if (b) stack_push(&y);
    call();
    stack_unwind();
    return g_stack.top - 1;
}

// The inline paths (number_infix.h): true when they applied, with the
// result in out.
bool math_inline(i32 op, const ValueCell* left, const ValueCell* right, ValueCell* out) {
    *out = *left;
    return number_math_inline(op, out, right);
}

bool compare_inline(i32 op, const ValueCell* left, const ValueCell* right, bool* answer) {
    ValueCell out = *left;
    if (!number_compare_inline(op, &out, right)) return false;
    *answer = logic_get(&out);
    return true;
}

// The answer of a comparison, inline or through action_compare_logic;
// nothing stays pushed.
bool compare_answer(i32 op, const ValueCell* word, const ValueCell* left,
                    const ValueCell* right) {
    check_compare_op(op);
    bool answer;
    if (compare_inline(op, left, right, &answer)) return answer;
    ValueCell* r = call_generic(word, left, right, [op] { action_compare_logic(op); });
    answer = logic_get(r);
    stack_pop(1);
    return answer;
}

}  // namespace

// ---- arithmetic ----------------------------------------------------------------------

ValueCell* fastop_math(i32 op, const ValueCell* word, const ValueCell* left,
                       const ValueCell* right) {
    Entry entry = math_entry(op);
    ValueCell out;
    if (math_inline(op, left, right, &out)) return stack_push(&out);
    return call_generic(word, left, right, entry);
}

ValueCell* fastop_math_int(i32 op, const ValueCell* word, const ValueCell* left, i32 right) {
    ValueCell r;
    integer_box(&r, right);
    return fastop_math(op, word, left, &r);
}

ValueCell* fastop_math_top(i32 op, const ValueCell* word, const ValueCell* right) {
    Entry entry = math_entry(op);
    ValueCell* left = g_stack.top - 1;
    ValueCell out;
    if (math_inline(op, left, right, &out)) {
        *left = out;
        return left;
    }
    ValueCell* r = call_generic(word, left, right, entry);
    *left = *r;
    stack_pop(1);
    return left;
}

ValueCell* fastop_math_top_int(i32 op, const ValueCell* word, i32 right) {
    ValueCell r;
    integer_box(&r, right);
    return fastop_math_top(op, word, &r);
}

// ---- comparison ----------------------------------------------------------------------

ValueCell* fastop_compare(i32 op, const ValueCell* word, const ValueCell* left,
                          const ValueCell* right) {
    check_compare_op(op);
    bool answer;
    if (compare_inline(op, left, right, &answer)) return logic_push(answer);
    return call_generic(word, left, right, [op] { action_compare_logic(op); });
}

ValueCell* fastop_compare_int(i32 op, const ValueCell* word, const ValueCell* left, i32 right) {
    ValueCell r;
    integer_box(&r, right);
    return fastop_compare(op, word, left, &r);
}

i32 fastop_compare_result(i32 op, const ValueCell* word, const ValueCell* left,
                      const ValueCell* right) {
    bool answer = compare_answer(op, word, left, right);
    logic_set_result(answer);
    return answer ? 1 : 0;
}

i32 fastop_compare_int_result(i32 op, const ValueCell* word, const ValueCell* left, i32 right) {
    ValueCell r;
    integer_box(&r, right);
    return fastop_compare_result(op, word, left, &r);
}

i32 fastop_compare_differs(i32 op, const ValueCell* word, const ValueCell* left,
                        const ValueCell* right, i32 expected) {
    bool answer = compare_answer(op, word, left, right);
    return (answer ? 1 : 0) != expected ? 1 : 0;
}

i32 fastop_compare_int_differs(i32 op, const ValueCell* word, const ValueCell* left, i32 right,
                           i32 expected) {
    ValueCell r;
    integer_box(&r, right);
    return fastop_compare_differs(op, word, left, &r, expected);
}

ValueCell* fastop_compare_top(i32 op, const ValueCell* word, const ValueCell* right) {
    ValueCell* left = g_stack.top - 1;
    bool answer = compare_answer(op, word, left, right);
    logic_box(left, answer);
    return left;
}

ValueCell* fastop_compare_top_int(i32 op, const ValueCell* word, i32 right) {
    ValueCell r;
    integer_box(&r, right);
    return fastop_compare_top(op, word, &r);
}

// ---- paths and navigation ------------------------------------------------------------

ValueCell* fastop_path_pick(const ValueCell* value, i32 n, const ValueCell* word) {
    if (value->type() == TYPE_BLOCK) {
        i32 index = series_index(value);
        i32 remaining = series_buffer_length(value) - index;
        if (n < 1 || n > remaining) return none_push();
        ValueCell* cell = series_buffer(value)->head_cells() + index + (n - 1);
        return stack_push(cell);
    }
    ValueCell element;
    integer_box(&element, n);
    call_generic(word, value, &element, [] { action_eval_path(-1); });
    return g_stack.top - 1;
}

ValueCell* fastop_series_nav(i32 op, const ValueCell* value, const ValueCell* word) {
    Entry entry;
    switch (op) {
        case NAV_LENGTH_Q: entry = action_length_q; break;
        case NAV_INDEX_Q: entry = action_index_q; break;
        case NAV_HEAD_Q: entry = action_head_q; break;
        case NAV_TAIL_Q: entry = action_tail_q; break;
        case NAV_NEXT: entry = action_next; break;
        case NAV_BACK: entry = action_back; break;
        case NAV_HEAD: entry = action_head; break;
        case NAV_TAIL: entry = action_tail; break;
        default: runtime_fatal(101, "fast operator: unknown navigation");
    }
    if (value->type() != TYPE_BLOCK) {
        call_generic(word, value, nullptr, entry);
        return g_stack.top - 1;
    }
    i32 i = series_index(value);
    i32 r = series_buffer_length(value) - i;
    ValueCell out = *value;
    switch (op) {
        case NAV_LENGTH_Q: return integer_push(r > 0 ? r : 0);
        case NAV_INDEX_Q: return integer_push(i + 1);
        case NAV_HEAD_Q: return logic_push(i == 0);
        case NAV_TAIL_Q: return logic_push(r < 1);
        case NAV_NEXT: if (r >= 1) series_set_index(&out, i + 1); break;
        case NAV_BACK: series_set_index(&out, i > 0 ? i - 1 : 0); break;
        case NAV_HEAD: series_set_index(&out, 0); break;
        default: series_set_index(&out, i + r); break;
    }
    return stack_push(&out);
}

}  // namespace zan
