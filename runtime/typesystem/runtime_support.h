// Support routines for compiled code and the runtime at large: the root
// block and the boot cells, tail allocation, the real error raiser, argument
// checks, word and context-slot access with the language's unset checks,
// calls by index, path evaluation, switch lookup, scanning and limited form.
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
// Makes the root block with room for cells (a collector root).
void root_block_create(u32 cells);
// The position in the root block of the first decoded boot cell.
extern u32 g_boot_cells_first;
// Boot cell n, counted from g_boot_cells_first; boot_cell_data reads its
// first data word.
ValueCell* boot_cell_at(u32 n);
u32 boot_cell_data(u32 n);
u32 boot_cell_data2(u32 n);

// ---- cells and tails --------------------------------------------------------------------
// cell_set_type, cell_clear_new_line and cell_copy are in core/cell.h.
// A new unset! cell at the block's tail (the buffer may move).
ValueCell* block_alloc_tail(ValueCell* block);
// The cell at the tail (unset!); the buffer may have moved.
ValueCell* series_alloc_tail_cell(SeriesBuffer* buffer);
// Reserves n bytes at the tail and returns their address (buffer re-read).
u8* series_alloc_tail_units(SeriesBuffer* buffer, u32 n_bytes);
// A new buffer of the series' unit and flags holding count units from
// start; may collect, so the caller keeps series reachable.
Node series_alloc_like(const ValueCell* series, u32 start, u32 count);
// Repeats the first unit_length bytes at address until count copies stand
// there (the room must be there).
void mem_replicate(u8* address, u32 unit_length, u32 count);
// Appends four spaces per level to out; returns limit less what it took.
i32 mold_indent(ValueCell* out, i32 level, i32 limit);

// ---- errors -------------------------------------------------------------------------------
// The raiser installed by runtime_support_init: builds the error! through
// the error service, reports it to the tracer and throws it through the call
// stack. It also records the id in g_raw_error.
[[noreturn]] void rt_raise_error(Err id, const ValueCell* a1, const ValueCell* a2,
                                 const ValueCell* a3);
// Installs rt_raise_error as the raiser and the hash tables' key compare.
void runtime_support_init();
// Prints the error an id makes, without raising it (the bare category and
// id on standard error while there is no error service).
void rt_print_error(Err id, const ValueCell* a1, const ValueCell* a2, const ValueCell* a3);
[[noreturn]] void fire_bad_make_arg(const ValueCell* value, const ValueCell* arg2);

// ---- argument checks ----------------------------------------------------------------------
// Each raises expect-arg (with the current call's word, the value's
// datatype and the word of argument position) when the check fails, and
// answers the value otherwise.
ValueCell* rt_check_arg_type(const ValueCell* typeset, i32 position, ValueCell* value);
// The check for the frame cell at slot; a negative slot checks nothing.
void rt_check_arg_in_table(i32 slot, const ValueCell* typeset, i32 position);
// The check only when the refinement is set.
ValueCell* rt_check_refinement_arg(const ValueCell* refinement, const ValueCell* typeset,
                                   i32 position, ValueCell* value);
ValueCell* rt_check_not_unset(i32 position, ValueCell* value);
// A set refinement's frame cell at slot becomes true; an unset one's count
// argument cells after it become none.
void rt_init_refinement(const ValueCell* refinement, i32 slot, i32 count);
// Typeset bit test (type id t: bit 7 - (t & 7) of byte t >> 3 from data1).
bool typeset_bits_have(const ValueCell* typeset, u32 type);

// ---- words and context slots ----------------------------------------------------------------
// The word's value; no-value when it is unset.
ValueCell* rt_get_word(ValueCell* word);
// Sets the word (or context slot index) to the value on top of the data
// stack; need-value when that is unset. The _reset forms then empty the
// data stack down to the frame's base.
void rt_set_word(ValueCell* word);
void rt_set_word_reset(ValueCell* word);
void rt_set_ctx_slot(Node ctx, u32 index);
void rt_set_ctx_slot_reset(Node ctx, u32 index);
// The same without the unset check; an object's word is marked assigned.
void rt_store_ctx_slot_reset(Node ctx, u32 index);
// The slot of a context; not-defined when the context has no values (a
// function's context outside a call).
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
// Calls action or native number with the frame already filled: each set
// refinement passes its argument position, each unset one -1 (its argument
// cells become none). Ends the process (runtime error 101) for a bad
// number, a missing entry or more than 12 refinements.
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
// The lookup of switch for frame arguments 0 (value) and 1 (cases): the
// cell after the first equal case of the same type (with to_block the first
// block after it); none for no match or a block! value. With push the cases
// are tried one cell at a time (not in pairs) and the answer is pushed,
// else it goes into the result cell.
ValueCell* rt_switch_find(bool push, bool to_block);
// The one value a string's whole text loads as into dest: false when the
// lexer stops before the end, unset when the text holds no value.
ValueCell* rt_scan_string_value(ValueCell* string, ValueCell* dest);
// The same for frame argument 0, into the result cell.
ValueCell* rt_scan_string_arg();
// A new string! (pushed) of the formed value cut to limit characters
// (limit 0 or below: no cut).
ValueCell* rt_form_limited(ValueCell* value, i32 limit);
// An integer!'s value, or a float's truncated; out-of-range when it does
// not fit in 32 bits.
i32 rt_to_integer(const ValueCell* cell);

}  // namespace zan
