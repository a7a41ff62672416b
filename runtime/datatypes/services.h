// Services that the core datatypes call but that live in modules built on
// top of them (ownership, object!, error!, the evaluator, the lexer). Each
// module installs its entry here in its init; until then the documented
// fallback applies. This keeps the low datatypes free of link-time
// dependencies on the layers above them.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/datatypes/action_table.h"

namespace zan {

struct DatatypeServices {
    // Series ownership. ownership_check announces a change to the owner of a
    // series (before with the action word, after with the past-tense word)
    // and answers whether an owner was found. Fallback: no owner.
    bool (*ownership_check)(ValueCell* value, ValueCell* action_word, ValueCell* new_value,
                            i32 index, i32 part) = nullptr;
    // The owner cell recorded for a series node, or null. Fallback: null.
    ValueCell* (*ownership_owner_of)(Node node) = nullptr;
    // modify/owned: bind (object, owner, word) and release a value.
    // Fallback: nothing is recorded.
    void (*ownership_bind_object)(ValueCell* value, ValueCell* owner, ValueCell* word) = nullptr;
    void (*ownership_release)(ValueCell* value) = nullptr;

    // object!: the on-change* report after a store into an object field.
    // Fallback: no report.
    void (*object_fire_on_change)(ValueCell* owner, ValueCell* word, ValueCell* old_value,
                                  ValueCell* new_value) = nullptr;
    // object!: the body block of an object (reflect body) pushed on the data
    // stack. Fallback: make/to block! of an object raises internal not-done.
    ValueCell* (*object_body_of)(ValueCell* object) = nullptr;
    // map!: the body block of a map. Fallback as above.
    ValueCell* (*map_body_of)(ValueCell* map) = nullptr;
    // vector!: the elements as a block of scalars; one element as a value.
    ValueCell* (*vector_to_block)(ValueCell* vector) = nullptr;
    void (*vector_element_to_value)(ValueCell* vector, u32 position, ValueCell* out) = nullptr;
    // vector!: stores a value (of the element type) at a unit position.
    void (*vector_store_value)(ValueCell* vector, u32 position, ValueCell* value) = nullptr;
    // typeset!: one datatype! per member appended to a block.
    void (*typeset_to_block)(ValueCell* typeset, ValueCell* block) = nullptr;

    // error!: builds the error value (pushed on the data stack) from the
    // catalogue id and up to three arguments (null = absent). Fallback: fire
    // raises the bare id (g_raw_error) without an error! value.
    ValueCell* (*error_create)(Err id, const ValueCell* a1, const ValueCell* a2,
                               const ValueCell* a3) = nullptr;
    // The word of argument n of the function of the current call (for
    // expect-arg). Fallback: the argument is left absent.
    ValueCell* (*error_arg_word_of_call)(i32 n) = nullptr;

    // Evaluator: tracing of raised errors, printing an error, the random
    // generator, calling a function with two arguments.
    bool (*trace_enabled)() = nullptr;
    void (*interp_trace_event)(u32 code, ValueCell* value) = nullptr;
    void (*native_print)(ValueCell* value) = nullptr;
    void (*random_seed)(u32 seed) = nullptr;
    u32 (*random_next)() = nullptr;
    u32 (*random_secure_next)() = nullptr;
    // A draw in 1 .. max (with /secure from the secure source).
    i32 (*random_int)(i32 max, bool secure) = nullptr;

    // port!: the entry of a series action (25..62) for a port whose actor is
    // a handle!; raises access error no-port-action for a missing entry and
    // answers null when the actor is an object (the port! row applies).
    // Fallback: the port! row applies.
    ActionEntry (*port_action_entry)(const ValueCell* port, u32 action) = nullptr;

    // Lexer: scans the text of a string from its index (len -1: to the tail)
    // into a block! left in dest; consumed receives the code points read.
    void (*lexer_scan_string)(ValueCell* string, ValueCell* dest, i32 len, i32* consumed) = nullptr;
    // Lexer: the number scanners behind to integer! and to float! of text.
    // *error: 0 when the text is a number, -1 when it is not, -2 (integers)
    // when the value does not fit in 32 bits.
    i32 (*scan_integer_text)(const u8* start, u32 length, u32 unit, i32* error) = nullptr;
    double (*scan_float_text)(const u8* start, u32 count, u32 unit, i32* error) = nullptr;
};

extern DatatypeServices g_services;

}  // namespace zan
