// event!: made from a block of fields by a script, or by the text-mode back
// end from terminal input; read by paths and pick, equal to every other
// event, shown as "event".
#include "runtime/datatypes/event.h"

#include <cstring>

#include "runtime/core/collector.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {
const char* const kTypeNames[EVENT_TYPE_COUNT] = {
    "down",     "up",        "mid-down", "mid-up",  "alt-down", "alt-up",    "aux-down",
    "aux-up",   "click",     "dbl-click", "wheel",  "over",     "key",       "key-down",
    "key-up",   "ime",       "focus",    "unfocus", "enter",    "zoom",      "pan",
    "rotate",   "two-tap",   "press-tap", "select", "change",   "menu",      "close",
    "move",     "resize",    "moving",   "resizing", "time",    "drawing",   "scroll"};

struct FlagWord {
    const char* name;
    u32 bit;
};
// In the order the flags field lists them; command has no word there.
const FlagWord kFlagWords[] = {
    {"away", EVENT_FLAG_AWAY},         {"down", EVENT_FLAG_DOWN},
    {"mid-down", EVENT_FLAG_MID_DOWN}, {"alt-down", EVENT_FLAG_ALT_DOWN},
    {"aux-down", EVENT_FLAG_AUX_DOWN}, {"control", EVENT_FLAG_CONTROL},
    {"shift", EVENT_FLAG_SHIFT},       {"alt", EVENT_FLAG_ALT},
};
constexpr u32 kFieldCount = 15;
// The bit each test field (8-14) reads.
const u32 kTestBits[] = {EVENT_FLAG_AWAY,     EVENT_FLAG_DOWN,    EVENT_FLAG_MID_DOWN,
                         EVENT_FLAG_ALT_DOWN, EVENT_FLAG_AUX_DOWN, EVENT_FLAG_CONTROL,
                         EVENT_FLAG_SHIFT};

const EventRecordReader* g_reader = nullptr;

u32 field_symbol(u32 n) {
    switch (n) {
        case 1: return g_sym.type;
        case 2: return g_sym.face;
        case 3: return g_sym.window;
        case 4: return g_sym.offset;
        case 5: return g_sym.key;
        case 6: return g_sym.picked;
        case 7: return g_sym.flags;
        case 8: return g_sym.away_q;
        case 9: return g_sym.down_q;
        case 10: return g_sym.mid_down_q;
        case 11: return g_sym.alt_down_q;
        case 12: return g_sym.aux_down_q;
        case 13: return g_sym.ctrl_q;
        case 14: return g_sym.shift_q;
        default: return g_sym.orientation;
    }
}

// The field index of a word, 0 when it names no field.
u32 field_of_word(const ValueCell* word) {
    for (u32 n = 1; n <= kFieldCount; n++)
        if (scalar_word_is(word, field_symbol(n))) return n;
    return 0;
}

bool word_names(const ValueCell* word, const char* name) {
    return std::strcmp(symbol_to_cstr(symbol_resolve(word_symbol(word))), name) == 0;
}

u32 flag_bit_of(const ValueCell* word) {
    for (const FlagWord& f : kFlagWords)
        if (word_names(word, f.name)) return f.bit;
    if (word_names(word, "command")) return EVENT_FLAG_COMMAND;
    return 0;
}

u32 type_code_or_fire(const ValueCell* word) {
    u32 code = event_type_code(symbol_resolve(word_symbol(word)));
    if (!code) {
        ValueCell plain = *word;
        plain.set_type(TYPE_WORD);
        fire(Err::script_not_event_type, &plain);
    }
    return code;
}

// The block the flags field gives: one block for the whole run, emptied and
// filled again at each read, so a block read earlier changes with it.
// Made at the first read; a root from event_init on.
ValueCell g_flag_block;
bool g_flag_block_rooted = false;

void flag_block_reset() {
    none_box(&g_flag_block);
    if (!g_flag_block_rooted) gc_add_root(&g_flag_block);
    g_flag_block_rooted = true;
}

ValueCell* push_flag_block(u32 flags) {
    if (g_flag_block.type() != TYPE_BLOCK) {
        flag_block_reset();
        ValueCell* fresh = block_push_new(8);
        g_flag_block = *fresh;
        stack_pop(1);
    }
    series_set_index(&g_flag_block, 0);
    block_set_tail(&g_flag_block, 0);
    for (const FlagWord& f : kFlagWords)
        if (flags & f.bit) word_make_in_symbol(&g_flag_block, symbol_make(f.name));
    return stack_push(&g_flag_block);
}

ValueCell* push_made_field(ValueCell* event, u32 n) {
    Node fields = event_fields_node(event);
    if (n == 5) {
        u32 key = event_flags(event) & EVENT_KEY_MASK;
        return key ? char_push(key) : none_push();
    }
    if (!fields) {
        if (n == 4) return pair_push(0, 0);
        if (n == 6) return integer_push(0);
        return none_push();
    }
    ValueCell block;
    cell_init(&block, TYPE_BLOCK, 0, fields, 0);
    static const u32 kSlot[] = {0, 0, 0, 1, 2, 0, 3};
    return stack_push(block_head_ptr(&block) + kSlot[n]);
}
}  // namespace

const char* event_type_name(u32 code) {
    return code >= 1 && code <= EVENT_TYPE_COUNT ? kTypeNames[code - 1] : nullptr;
}

u32 event_type_code(u32 symbol) {
    const char* name = symbol_to_cstr(symbol);
    for (u32 i = 0; i < EVENT_TYPE_COUNT; i++)
        if (std::strcmp(kTypeNames[i], name) == 0) return i + 1;
    return 0;
}

void event_set_record_reader(const EventRecordReader* reader) { g_reader = reader; }

ValueCell* event_make_at(ValueCell* cell, u32 type, u32 record, u32 flags) {
    cell_init(cell, TYPE_EVENT, type, record, flags);
    return cell;
}

ValueCell* event_push_field(ValueCell* event, u32 n) {
    u32 flags = event_flags(event);
    if (n == 1) {
        const char* name = event_type_name(event_type_of(event));
        return name ? word_push_symbol(symbol_make(name)) : none_push();
    }
    if (n == 7) return push_flag_block(flags);
    if (n >= 8 && n <= 14) return logic_push((flags & kTestBits[n - 8]) != 0);
    if (n == kFieldCount) return none_push();
    if (event_is_made(event)) return push_made_field(event, n);
    if (n != 3 && g_reader && event_record(event))
        return g_reader->push_field(event_record(event), flags, n);
    return none_push();
}

namespace {
// The value after a set-word: a bound word or get-word stands for its
// value; one that refers to no value stands for itself.
ValueCell spec_value(ValueCell* v) {
    if ((v->type() == TYPE_WORD || v->type() == TYPE_GET_WORD) && word_binding(v)) {
        ValueCell* value = context_get(v);
        if (value->type() != TYPE_UNSET) return *value;
    }
    return *v;
}

ValueCell* event_make(ValueCell*, ValueCell* spec, u32) {
    ValueCell* event = stack_push_cell();
    cell_init(event, TYPE_EVENT | EVENT_HAS_RECORD);
    if (spec->type() != TYPE_BLOCK) return event;
    ValueCell face = g_none_cell, window = g_none_cell, offset, picked;
    cell_init(&offset, TYPE_PAIR);
    pair_make_at(&offset, 0, 0);
    cell_init(&picked, TYPE_INTEGER, 0, 0, 0);
    bool has_fields = false;
    i32 len = block_length(spec);
    for (i32 i = 0; i + 1 < len; i++) {
        ValueCell* v = block_head_ptr(spec) + i;
        if (v->type() != TYPE_SET_WORD) continue;
        ValueCell value = spec_value(v + 1);
        u32 t = value.type();
        i++;
        if (scalar_word_is(v, g_sym.type)) {
            if (t == TYPE_WORD || t == TYPE_LIT_WORD) event_set_type(event, type_code_or_fire(&value));
        } else if (scalar_word_is(v, g_sym.key)) {
            if (t == TYPE_CHAR) event_add_flags(event, char_get(&value) & EVENT_KEY_MASK);
        } else if (scalar_word_is(v, g_sym.flags)) {
            if (t != TYPE_BLOCK) continue;
            i32 n = block_length(&value);
            for (i32 k = 0; k < n; k++) {
                ValueCell* w = block_head_ptr(&value) + k;
                if (w->type() == TYPE_WORD) event_add_flags(event, flag_bit_of(w));
            }
        } else if (scalar_word_is(v, g_sym.face) || scalar_word_is(v, g_sym.window)) {
            if (t != TYPE_OBJECT) continue;
            (scalar_word_is(v, g_sym.face) ? face : window) = value;
            has_fields = true;
        } else if (scalar_word_is(v, g_sym.offset)) {
            if (t != TYPE_PAIR && t != TYPE_POINT2D) continue;
            offset = value;
            has_fields = true;
        } else if (scalar_word_is(v, g_sym.picked)) {
            if (t != TYPE_INTEGER) continue;
            picked = value;
            has_fields = true;
        }
    }
    if (!has_fields) return event;
    // The values copied above are held by the spec or by the contexts its
    // words are bound to, so they survive the block's allocation.
    ValueCell* block = block_push_new(4);
    for (const ValueCell* c : {&face, &window, &offset, &picked}) *block_alloc_tail(block) = *c;
    event_set_fields_node(event, block_node(block));
    stack_pop(1);
    return event;
}

i32 event_form(ValueCell*, ValueCell* out, ValueCell*, i32 limit) {
    string_append_cstr(out, "event");
    return limit - 5;
}

i32 event_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell* arg_limit, i32 limit,
               i32) {
    return event_form(value, out, arg_limit, limit);
}

i32 event_compare(ValueCell*, ValueCell* other, i32 op) {
    if (other->type() != TYPE_EVENT) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_STRICT_EQUAL:
        case CMP_SORT:
        case CMP_SORT_CASE:
        case CMP_SAME:
        case CMP_FIND: return 0;
        default: return CMP_NOT_COMPARABLE;
    }
}

ValueCell* event_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value, ValueCell* path,
                           ValueCell*, ValueCell*, i32, bool, bool, bool, bool) {
    ValueCell* where = path ? path : parent;
    u32 n = any_word_type_q(element->type()) ? field_of_word(element) : 0;
    if (!value) {
        if (!n) fire(Err::script_invalid_path, where, element);
        return event_push_field(parent, n);
    }
    if (n != 1) fire(Err::script_bad_path_set, where, element);
    if (value->type() != TYPE_WORD) fire(Err::script_bad_path_set, where, value);
    event_set_type(parent, type_code_or_fire(value));
    return value;
}

ValueCell* event_pick(ValueCell* event, i32, ValueCell* index) {
    u32 n;
    if (any_word_type_q(index->type())) {
        n = field_of_word(index);
        if (!n) fire(Err::script_cannot_use, index, event);
    } else if (index->type() == TYPE_INTEGER) {
        i32 i = integer_get(index);
        if (i < 1 || i > static_cast<i32>(kFieldCount)) fire(Err::script_out_of_range, index);
        n = static_cast<u32>(i);
    } else {
        fire(Err::script_invalid_arg, index);
    }
    return event_push_field(event, n);
}
}  // namespace

void event_init() {
    flag_block_reset();
    ActionRow row;
    row.set<ACT_MAKE>(event_make)
        .set<ACT_FORM>(event_form)
        .set<ACT_MOLD>(event_mold)
        .set<ACT_EVAL_PATH>(event_eval_path)
        .set<ACT_COMPARE>(event_compare)
        .set<ACT_PICK>(event_pick);
    datatype_register(TYPE_EVENT, row);
}

}  // namespace zan
