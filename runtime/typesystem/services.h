// Services that the datatypes call but that live in the layers above them
// (the lexer, the evaluator) or that tests replace with stand-ins. Start-up
// installs every entry (runtime_init) before any datatype code runs.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"

namespace zan {

// Plug-in point: filled by ownership_init, lexer_init, natives_init and
// interp_init; tests install stand-ins to watch or steer the datatypes.
struct DatatypeServices {
    // Series ownership. ownership_check announces a change to the owner of a
    // series (before with the action word, after with the past-tense word)
    // and answers whether an owner was found.
    bool (*ownership_check)(ValueCell* value, ValueCell* action_word, ValueCell* new_value,
                            i32 index, i32 part) = nullptr;

    // object!: the on-change* report after a store into an object field.
    void (*object_fire_on_change)(ValueCell* owner, ValueCell* word, ValueCell* old_value,
                                  ValueCell* new_value) = nullptr;

    // Evaluator: tracing of raised errors, printing an error, the random
    // generator. Tracing and printing are null until the evaluator is
    // started (errors raised before are not traced, and printed raw).
    bool (*trace_enabled)() = nullptr;
    void (*interp_trace_event)(u32 code, ValueCell* value) = nullptr;
    void (*native_print)(ValueCell* value) = nullptr;
    void (*random_seed)(u32 seed) = nullptr;
    u32 (*random_next)() = nullptr;
    u32 (*random_secure_next)() = nullptr;
    // A draw in 1 .. max (with /secure from the secure source).
    i32 (*random_int)(i32 max, bool secure) = nullptr;

    // Lexer: scans the text of a string from its index (len -1: to the tail)
    // into a block! left in dest; consumed receives the code points read.
    void (*lexer_scan_string)(ValueCell* string, ValueCell* dest, i32 len, i32* consumed) = nullptr;
    // Lexer: the number scanners behind to integer! and to float! of text.
    // *error: 0 when the text is a number, -1 when it is not, -2 (integers)
    // when the value does not fit in 32 bits.
    i32 (*scan_integer_text)(const u8* start, u32 length, u32 unit, i32* error) = nullptr;
    double (*scan_float_text)(const u8* start, u32 count, u32 unit, i32* error) = nullptr;

    // parse: how many entries (rule frames and records) a run started now
    // could push on the rule stack before the stack is full, given the
    // runs it would be nested in. Null until the evaluator is started.
    u32 (*parse_room_for_run)() = nullptr;
};

extern DatatypeServices g_services;

}  // namespace zan
