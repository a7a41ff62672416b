// logic!: true and false, and the truth tests of conditionals.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/error.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"

namespace zan {

const ValueCell g_true_cell{TYPE_LOGIC, 1, 0, 0};
const ValueCell g_false_cell{TYPE_LOGIC, 0, 0, 0};

ValueCell* logic_push(bool value) { return logic_box(stack_push_cell(), value); }
void logic_set_result(bool value) { logic_box(stack_result(), value); }

ValueCell* logic_to(ValueCell*, ValueCell* spec, u32) {
    switch (spec->type()) {
        case TYPE_LOGIC: return logic_push(logic_get(spec));
        case TYPE_NONE: return logic_push(false);
        default: return logic_push(true);
    }
}

ValueCell* logic_make(ValueCell* proto, ValueCell* spec, u32 type) {
    switch (spec->type()) {
        case TYPE_INTEGER: return logic_push(dt::int_get(spec) != 0);
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = spec->get_float();
            return logic_push(!(d == 0.0));  // NaN counts as true
        }
        default: return logic_to(proto, spec, type);
    }
}

void logic_random(ValueCell* value, bool seed, bool secure, bool) {
    if (seed) {
        g_services.random_seed(static_cast<u32>(logic_get(value)));
        unset_set_result();
        return;
    }
    auto draw = secure ? g_services.random_secure_next : g_services.random_next;
    logic_set_result(static_cast<i32>(draw()) > 1073741823);
}

i32 logic_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    bool v = logic_get(value);
    string_append_cstr(out, v ? "true" : "false");
    return limit - (v ? 4 : 5);
}

i32 logic_mold(ValueCell* value, ValueCell* out, bool, bool all, bool, ValueCell*, i32 limit,
               i32) {
    if (!all) return logic_form(value, out, nullptr, limit);
    bool v = logic_get(value);
    string_append_cstr(out, v ? "#(true)" : "#(false)");
    return limit - (v ? 7 : 8);
}

i32 logic_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_LOGIC) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT:
        case CMP_SORT_CASE: case CMP_SAME: case CMP_FIND:
            return logic_get(value1) == logic_get(value2) ? 0 : 1;
        default:
            return CMP_NOT_COMPARABLE;
    }
}

ValueCell* logic_complement(ValueCell* value) { return logic_push(!logic_get(value)); }

void logic_bitwise(i32 op) {
    ValueCell* a = stack_arg(0);
    ValueCell* b = stack_arg(1);
    if (b->type() != TYPE_LOGIC) {
        ValueCell word = *stack_calling_word();
        ValueCell* dt = datatype_push(b->type());
        ValueCell* arg = error_arg_word_of_call(1);
        fire(Err::script_expect_arg, &word, dt, arg);
    }
    bool x = logic_get(a), y = logic_get(b);
    bool r = op == 6 ? (x && y) : op == 5 ? (x || y) : (x != y);
    logic_set_result(r);
}

namespace {
void logic_and() { logic_bitwise(6); }
void logic_or() { logic_bitwise(5); }
void logic_xor() { logic_bitwise(7); }
}  // namespace

void logic_init() {
    ActionRow row;
    row.set<ACT_MAKE>(logic_make)
        .set<ACT_RANDOM>(logic_random)
        .set<ACT_TO>(logic_to)
        .set<ACT_FORM>(logic_form)
        .set<ACT_MOLD>(logic_mold)
        .set<ACT_COMPARE>(logic_compare)
        .set<ACT_AND_T>(logic_and)
        .set<ACT_COMPLEMENT>(logic_complement)
        .set<ACT_OR_T>(logic_or)
        .set<ACT_XOR_T>(logic_xor);
    datatype_register(TYPE_LOGIC, row);
}

// ---- truth tests ---------------------------------------------------------------------------

namespace {
inline bool falsy(const ValueCell* c) {
    u32 t = c->type();
    return t == TYPE_NONE || (t == TYPE_LOGIC && !logic_get(c));
}
}  // namespace

bool logic_cell_true_q(const ValueCell* cell, bool check, const ValueCell* word) {
    if (check && cell->type() == TYPE_UNSET) fire(Err::script_no_value, word);
    return !falsy(cell);
}

bool logic_top_false_q() { return falsy(stack_top_value()); }
bool logic_top_true_q() { return !falsy(stack_top_value()); }

}  // namespace zan
