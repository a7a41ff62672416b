// function!: a function written in the language. data1 the node of its
// context (a stack context: its values live on the data stack while the
// function runs), data2 the node of the spec block, data3 the node of the
// five-cell "more" block: the body (a deep copy, or none), unset, the
// compiled entry (integer!, or unset), unset (an op! made from the function
// keeps the function here), and the maker's integer (or unset).
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Cells of the "more" block.
enum FunctionMore : u32 {
    MORE_BODY = 0,
    MORE_UNUSED = 1,
    MORE_ENTRY = 2,
    MORE_CALLABLE = 3,
    MORE_EXTRA = 4,
    FUNCTION_MORE_CELLS = 5,
};

// The more block's cell n of a function! or routine! (re-read after
// anything that allocates).
ValueCell* function_more(const ValueCell* fn, u32 n);

// Builds a function! from a spec block (the function keeps a copy of it), a
// body block (null: none), a context (0: one is made from the spec and the
// body bound to it), a compiled entry (0: none), the maker's integer (0: none) and header flags;
// pushes the value on the data stack and returns its context node.
Node function_create(const ValueCell* spec, const ValueCell* body, Node ctx, u32 entry,
                     i32 extra, u32 flags);
// As function_create for a spec that is already a function's own (taken
// from another function): the function shares it instead of copying it.
Node function_create_own_spec(const ValueCell* spec, const ValueCell* body, Node ctx, u32 entry,
                              i32 extra, u32 flags);
// Checks a spec (firing on a bad one) and builds a function! of it and the
// body as function_create does with a context made here. A spec met before
// (see function_spec_memo.h) is not checked again and its word table is
// shared. Pushes the value and returns its context node.
Node function_create_checked(ValueCell* spec, const ValueCell* body);
// For a refinement a call does not use: false, then none for each of its
// n - 1 arguments.
void function_push_unused_refinement(i32 n);
// Validates a spec; returns the header flags for the function.
u32 function_check_spec(ValueCell* spec);
// The spec extended with /local and the words that the body sets (the
// helper of the function native); pushed on the data stack.
ValueCell* function_collect_locals(ValueCell* spec, ValueCell* body);
// Cells of the /local section from position start: the refinement and each
// word after it; without /local -1 when required, else 0.
i32 function_refinement_arity(Node spec, u32 start, bool required);

ValueCell* function_make(ValueCell* proto, ValueCell* spec, u32 type);
void function_reflect(ValueCell* value, u32 field_symbol);
i32 function_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 function_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent);
i32 function_compare(ValueCell* value1, ValueCell* value2, i32 op);
void function_init();

// Small shared helpers of the callable files.
namespace callable {
// Appends text and lowers the form/mold budget by its length.
i32 emit(ValueCell* out, const char* text, i32 limit);
// Molds a series node as a block! (index 0).
i32 mold_node_as_block(Node node, ValueCell* out, bool all, bool flat, ValueCell* arg_limit,
                       i32 limit, i32 indent);
// Signed three-way comparison of two words.
inline i32 compare_u32(u32 a, u32 b) {
    i32 x = static_cast<i32>(a), y = static_cast<i32>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}
// The op codes on which callables answer (equalities and sorting).
inline bool identity_op(i32 op) {
    return op == 0 || op == 1 || op == 2 || op == 7 || op == 8 || op == 9 || op == 12;
}
}  // namespace callable

}  // namespace zan
