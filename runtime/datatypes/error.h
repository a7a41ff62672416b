// error!: the value of every language error. An object of the fixed word
// list code, type, id, arg1, arg2, arg3, near, where, stack, files (class 1,
// no change handlers) whose type and id name an entry of the error
// catalogue. Also the report with which an error is formed and printed.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"

namespace zan {

enum ErrorField : u32 {
    ERR_FIELD_CODE = 0,
    ERR_FIELD_TYPE,
    ERR_FIELD_ID,
    ERR_FIELD_ARG1,
    ERR_FIELD_ARG2,
    ERR_FIELD_ARG3,
    ERR_FIELD_NEAR,
    ERR_FIELD_WHERE,
    ERR_FIELD_STACK,
    ERR_FIELD_FILES,
    ERROR_FIELD_COUNT
};
constexpr u32 error_stack_field_index = ERR_FIELD_STACK;

// Field n of an error (re-read after anything that allocates).
ValueCell* error_field(const ValueCell* err, u32 n);

// Builds the error of a catalogued id with up to three arguments (null:
// absent, left none); pushes it on the data stack and returns it.
ValueCell* error_create(Err id, const ValueCell* arg1, const ValueCell* arg2,
                        const ValueCell* arg3);
// make error! from a spec (integer code, block, string); pushed, returned.
ValueCell* error_make(ValueCell* spec);
// The symbols of the type and id fields (0 when they hold no word). For a
// host handler that sorts errors by kind; the runtime reads the fields
// itself (error_field), so only their tests call these.
u32 error_get_type(const ValueCell* err);
u32 error_get_id(const ValueCell* err);
// Turns an integer stack field into the trace block of the call names.
void error_capture_stack(ValueCell* err);
// The n-th argument word of the spec of the function the current call runs
// (word!, lit-word!, get-word! and refinement! entries count), pushed on the
// data stack; <anon> when there is none.
ValueCell* error_arg_word_of_call(i32 n);

// The prototype that make error! copies (all fields none). Start-up may
// install system/standard/error in its place.
const ValueCell* error_prototype();
void error_set_prototype(const ValueCell* proto);

// Before an error unwinds: where takes the calling word when it is none,
// stack the call depth unless it holds a block.
void error_prepare_throw(ValueCell* err);
// Prints an error that nothing caught (through the print native when the
// evaluator is there, else through the print hooks).
void error_print_uncaught(ValueCell* err);

i32 error_form(ValueCell* err, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 error_mold(ValueCell* err, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* error_make_action(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* error_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                           bool case_sensitive, bool flag1, bool flag2, bool flag3);
i32 error_compare(ValueCell* value1, ValueCell* value2, i32 op);

// Registers error! and installs the error services: the builder that fire
// uses, the argument-word lookup and the stack's error hooks.
void error_init();
// Forgets the catalogue and the prototype before a fresh start-up.
void error_state_reset();

}  // namespace zan
