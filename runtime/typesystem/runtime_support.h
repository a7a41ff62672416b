// Support routines for compiled code and the runtime at large: the root
// block and the boot cells, tail allocation, the real error raiser, argument
// checks, word and context-slot access with the language's unset checks,
// calls by index, path evaluation, switch lookup, scanning and limited form.
// Those that nothing in the system calls yet are kept for code compiled
// ahead of time to machine instructions, which calls them on every step;
// the system has no such compiler yet, so only their tests call them.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/typesystem/action_table.h"

namespace zan {

// ---- the root block and the boot cells ------------------------------------------------
constexpr u32 ROOT_BLOCK_CELLS = 8697;
// The root block (a fixed buffer, so cell addresses inside it stay valid
// while it does not grow past its room). While g_boot_flag is set every new
// word is also appended to it.
extern ValueCell g_root_block;
extern bool g_boot_flag;
// Makes the root block a fixed buffer of `cells` cells and a collector root.
void root_block_create(u32 cells);
// The position in the root block of the first decoded boot cell.
extern u32 g_boot_cells_first;
// Boot cell n: the cell n places after the first decoded boot cell.
ValueCell* boot_cell_at(u32 n);
// data1 of boot cell n (for a context value, its context node): compiled
// code reaches the boot data's contexts through it; nothing here calls it.
u32 boot_cell_data(u32 n);

// ---- cells and tails --------------------------------------------------------------------
// cell_set_type, cell_clear_new_line and cell_copy are in core/cell.h.
// Appends an unset! cell to the block and returns it; the buffer may move.
ValueCell* block_alloc_tail(ValueCell* block);
// The cell at the tail (unset!); the buffer may have moved.
ValueCell* series_alloc_tail_cell(SeriesBuffer* buffer);
// Reserves n bytes at the tail and returns their address (buffer re-read).
u8* series_alloc_tail_units(SeriesBuffer* buffer, u32 n_bytes);
// A new series with the unit and flags of `series` holding count of its
// units from position start.
Node series_alloc_like(const ValueCell* series, u32 start, u32 count);
// Repeats the first unit_length bytes at address count times in all (the
// room must be there), doubling the copied run each step.
void mem_replicate(u8* address, u32 unit_length, u32 count);
// Appends four spaces per level; returns the /part budget that remains.
i32 mold_indent(ValueCell* out, i32 level, i32 limit);

// ---- errors -------------------------------------------------------------------------------
// The raiser installed by runtime_support_init: builds the error! through
// the error service, reports it to the tracer and throws it through the call
// stack. It also records the id in g_raw_error.
[[noreturn]] void rt_raise_error(Err id, const ValueCell* a1, const ValueCell* a2,
                                 const ValueCell* a3);
void runtime_support_init();
// Prints the report of an error without raising it (a plain line on
// standard error before the error and print services exist).
[[noreturn]] void fire_bad_make_arg(const ValueCell* value, const ValueCell* arg2);

// ---- argument checks ----------------------------------------------------------------------
// Each raises expect-arg (with the current call's word, the value's
// datatype and the word of argument position) when the check fails, and
// answers the value otherwise. rt_check_arg_in_table checks the frame cell
// at slot (a negative slot checks nothing); rt_check_refinement_arg only
// when the refinement is set.
ValueCell* rt_check_arg_type(const ValueCell* typeset, i32 position, ValueCell* value);
ValueCell* rt_check_refinement_arg(const ValueCell* refinement, const ValueCell* typeset,
                                   i32 position, ValueCell* value);
ValueCell* rt_check_not_unset(i32 position, ValueCell* value);
// A set refinement's frame cell at slot becomes true; an unset one's count
// argument cells after it become none.
void rt_init_refinement(const ValueCell* refinement, i32 slot, i32 count);
// Typeset bit test (type id t: bit 7 - (t & 7) of byte t >> 3 from data1).
bool typeset_bits_have(const ValueCell* typeset, u32 type);

// ---- words and context slots ----------------------------------------------------------------
// rt_get_word: the word's value, no-value when it is unset. The setters
// store the value on top of the data stack into the word (or context slot
// index), need-value when it is unset; the _reset forms then empty the data
// stack down to the frame's base. rt_store_ctx_slot_reset stores without
// the check; rt_ctx_slot_ptr raises not-defined for a context with no
// values (a function's outside its call).
ValueCell* rt_get_word(ValueCell* word);
void rt_set_word(ValueCell* word);
void rt_set_ctx_slot(Node ctx, u32 index);
void rt_set_ctx_slot_reset(Node ctx, u32 index);
void rt_store_ctx_slot_reset(Node ctx, u32 index);
ValueCell* rt_ctx_slot_ptr(Node ctx, u32 index);

// ---- calls and paths --------------------------------------------------------------------------
// One refinement group of rt_call_by_index.
struct RtRefinement {
    const ValueCell* cell;  // the refinement's truth value
    i32 position;           // 1..R
    i32 arg_position;       // argument position in the frame
    i32 arg_count;
};
enum CallSelector : i32 { CALL_ACTION = 0, CALL_NATIVE = 1 };
// Natives are called through this table (filled by the evaluator).
extern ActionEntry* g_native_table;
extern u32 g_native_count;
// Calls action or native `number` with the frame already holding its
// arguments, turning each refinement's truth value into the position (or -1)
// that the table entry takes.
void rt_call_by_index(u32 number, i32 selector, u32 count, const RtRefinement* refinements);
// Whether a value of this type lives in its cell itself (date!, time!,
// pair!, tuple!, point2D!, point3D!, event!): setting one of its fields through a
// path changes the cell, which must then be stored back where it came from.
bool path_field_in_cell(u32 type);
// Stores back a value that a set at the end of a path changed in place.
// The path evaluators keep the levels of a path on the data stack as pairs
// (the element that reached a value, then the value), the head word and
// its value first: the value of level k - 1 lies two cells below that of
// level k. value is the changed value and level its level (0 for the head's
// value). The value is set into the level above through that level's
// eval-path (an object runs its on-change*, a series tells its owner); a
// level changed that way that is held in its cell too is stored back in
// turn; a changed head value is assigned to the head word. head_holder is
// the holder of the head's value (the owner of the word's context, or null).
void path_store_back(ValueCell* path, ValueCell* value, u32 level, ValueCell* head_holder,
                     bool case_sensitive);
// items: the head, then the remaining elements; set: a set path whose new
// value is the current result cell.
ValueCell* rt_eval_path(bool set, ValueCell* path, ValueCell* head, ValueCell* const* elements,
                        u32 count);
// The case of switch: looks frame cell 0 up among the cases of cell 1.
ValueCell* rt_switch_find(bool push, bool to_block);
// Loads one value from text into dest: false when text is left over after
// it, unset! when there is none.
ValueCell* rt_scan_string_value(ValueCell* string, ValueCell* dest);
ValueCell* rt_scan_string_arg();
ValueCell* rt_form_limited(ValueCell* value, i32 limit);
// An integer! as it is, or a float truncated; out-of-range when it does not
// fit 32 bits.
i32 rt_to_integer(const ValueCell* cell);

}  // namespace zan
