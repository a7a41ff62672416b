// The built-in system routines and their specs.
#include "runtime/io/host/routines_system.h"
#include "runtime/io/host/routines_system_internal.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/host/clipboard.h"
#include "runtime/io/host/os_env.h"
#include "runtime/io/host/simple_io.h"

namespace zan {

bool (*g_last_lf_hook)() = nullptr;

namespace {

// ---- helpers --------------------------------------------------------------------------------------------

void set_logic(bool v) { logic_box(stack_result(), v); }
void set_integer(i32 v) { integer_box(stack_result(), v); }
i32 int_arg(u32 i) { return integer_get(stack_arg(i)); }

// The word of the routine being run (its call frame's name), for errors.
ValueCell* push_calling_word(const char* fallback) {
    ValueCell w;
    u32 sym = g_stack.ctop > g_stack.cbottom ? stack_top_frame()->symbol() : 0;
    word_make_at(sym ? sym : symbol_make(fallback), &w);
    return stack_push(&w);
}

// script expect-arg: the routine's word, the datatype given, the argument.
[[noreturn]] void fire_expect_arg(const char* routine, u32 type, const char* argument) {
    ValueCell* fn = push_calling_word(routine);
    ValueCell dt;
    datatype_box(&dt, type);
    ValueCell* held_dt = stack_push(&dt);
    ValueCell a;
    word_make_at(symbol_make(argument), &a);
    ValueCell* held_arg = stack_push(&a);
    fire(Err::script_expect_arg, fn, held_dt, held_arg);
}

bool any_word_q(u32 t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
}

// ---- exiting and quiet setters --------------------------------------------------------------------

void r_quit_return() {
    i32 status = int_arg(0);
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

// set-quiet word value: the word's slot in its own context takes the value;
// the owner's on-change* is not called.
void r_set_quiet() {
    ValueCell* word = stack_arg(0);
    if (!any_word_q(word->type())) fire_expect_arg("set-quiet", word->type(), "word");
    ValueCell w = *word;
    ValueCell* held = stack_push(&w);
    if (!word_binding(&w)) fire(Err::script_not_defined, held);
    ValueCell v = *stack_arg(1);
    ValueCell* value = stack_push(&v);
    context_set_word(held, value, context_cell(word_binding(&w)), false);
    *stack_result() = v;
}

// set-slot-quiet series value: the value at the series' position is
// replaced, without the owner's on-deep-change*; nothing at the tail.
void r_set_slot_quiet() {
    ValueCell* series = stack_arg(0);
    u32 t = series->type();
    bool ok = t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_PATH || t == TYPE_LIT_PATH ||
              t == TYPE_SET_PATH || t == TYPE_GET_PATH;
    if (!ok) fire_expect_arg("set-slot-quiet", TYPE_BLOCK, "series");
    SeriesBuffer* b = series_of(series);
    i32 index = series_index(series);
    i32 count = static_cast<i32>(b->used_bytes() / 16);
    if (index >= 0 && index < count) b->head_cells()[index] = *stack_arg(1);
}

// ---- bit shifts --------------------------------------------------------------------------------------------

void r_shift_right() {
    i32 data = int_arg(0), bits = int_arg(1);
    if (bits < 0) bits = 0;
    set_integer(bits > 31 ? (data < 0 ? -1 : 0) : (data >> bits));
}

void r_shift_left() {
    i32 data = int_arg(0), bits = int_arg(1);
    if (bits < 0) bits = 0;
    set_integer(bits > 31 ? 0 : static_cast<i32>(static_cast<u32>(data) << bits));
}

void r_shift_logical() {
    i32 data = int_arg(0), bits = int_arg(1);
    if (bits < 0) bits = 0;
    set_integer(bits > 31 ? 0 : static_cast<i32>(static_cast<u32>(data) >> bits));
}

void r_last_lf_q() { set_logic(g_last_lf_hook ? g_last_lf_hook() : false); }

// ---- directories and files --------------------------------------------------------------------------------

void r_get_current_dir() {
    ValueCell* dir = file_current_dir_prefix();
    *stack_result() = *dir;
}

void r_set_current_dir() {
    ValueCell* path = stack_arg(0);
    std::string name = file_to_local_cstr(path);
    if (chdir(name.c_str()) != 0) fire(Err::access_cannot_open, path);
}

void r_create_dir() {
    ValueCell* path = stack_arg(0);
    std::string name = file_to_local_cstr(path);
    if (!io_make_dir(name.c_str())) fire(Err::access_no_create, path);
}

void r_exists_q() {
    ValueCell* path = stack_arg(0);
    // A name that no local file can have (one holding a NUL) exists nowhere.
    bool nul = false;
    i32 n = string_length(path);
    u32 start = static_cast<u32>(series_index(path) < 0 ? 0 : series_index(path));
    for (i32 i = 0; i < n && !nul; i++) nul = string_char_at(path, start + static_cast<u32>(i)) == 0;
    if (nul) {
        set_logic(false);
        return;
    }
    std::string name = file_to_local_cstr(path);
    set_logic(io_path_exists(name.c_str()));
}

void r_os_info() {
    ValueCell* obj = os_info();
    *stack_result() = *obj;
}

// ---- tuples --------------------------------------------------------------------------------------------------

// The first negative argument raises invalid-arg; each becomes one byte.
void make_tuple(u32 n) {
    u8 bytes[4];
    for (u32 i = 0; i < n; i++) {
        i32 v = int_arg(i);
        if (v < 0) fire(Err::script_invalid_arg, stack_arg(i));
        bytes[i] = static_cast<u8>(v & 0xFF);
    }
    ValueCell t;
    cell_init(&t, TYPE_TUPLE);
    tuple_make_at(&t, bytes, n);
    *stack_result() = t;
}

void r_as_color() { make_tuple(3); }
void r_as_ipv4() { make_tuple(4); }
void r_as_rgba() { make_tuple(4); }

// count-chars start pos: UTF-8 decoding steps from start until pos is
// reached or passed.
void r_count_chars() {
    ValueCell* start = stack_arg(0);
    ValueCell* pos = stack_arg(1);
    if (series_node(start) != series_node(pos)) fire(Err::script_invalid_arg, pos);
    SeriesBuffer* b = series_of(start);
    i32 size = static_cast<i32>(b->used_bytes());
    auto clamp = [&](i32 i) { return i < 0 ? 0 : (i > size ? size : i); };
    i32 from = clamp(series_index(start));
    i32 to = clamp(series_index(pos));
    const u8* head = b->head_ptr();
    const u8* p = head + from;
    const u8* stop = head + to;
    const u8* end = head + size;
    i32 count = 0;
    while (p < stop) {
        i32 cp;
        const u8* next = utf8_decode_char(p, end, &cp);
        p = next > p ? next : p + 1;
        count++;
    }
    set_integer(count);
}

// ---- the stacks ------------------------------------------------------------------------------------------------

void r_stack_size_q() { set_integer(static_cast<i32>(g_stack.top - g_stack.bottom)); }

void r_pick_stack() {
    i32 idx = int_arg(0);
    i32 size = static_cast<i32>(g_stack.base - g_stack.bottom);
    if (idx >= 1 && idx < size) *stack_result() = g_stack.bottom[idx];
    else none_box(stack_result());
}

void r_frame_index_q() { set_integer(static_cast<i32>(g_stack.base - g_stack.bottom)); }

// collect-calls blk: for each named call frame, newest first, its word
// (bound where the call found it) and the data-stack index of its saved
// argument base.
void r_collect_calls() {
    ValueCell* blk = stack_arg(0);
    for (CallFrame* f = g_stack.ctop; f > g_stack.cbottom;) {
        f--;
        u32 sym = f->symbol();
        if (sym == 0 || sym == g_stack.sym_body || sym == g_stack.sym_anon) continue;
        Node ctx = f->name_ctx;
        ValueCell w;
        i32 index = ctx ? context_find_word(context_cell(ctx), sym, false) : -1;
        if (ctx && index >= 0) cell_init(&w, TYPE_WORD, ctx, sym, static_cast<u32>(index));
        else word_make_at(sym, &w);
        ValueCell n;
        integer_box(&n, static_cast<i32>(hptr<ValueCell>(f->saved_base) - g_stack.bottom));
        // The call stack is a fixed buffer: appending moves no frame.
        block_append_cell(blk, &w);
        block_append_cell(blk, &n);
    }
}

void r_tracing_q() {
    set_logic(g_services.trace_enabled ? g_services.trace_enabled() : false);
}

// ---- clipboard and standard output -----------------------------------------------------------------------------

void r_read_clipboard() {
    ValueCell* mark = g_stack.top;
    ValueCell r = *clipboard_read();
    g_stack.top = mark;
    *stack_result() = r;
}

void r_write_clipboard() { set_logic(clipboard_write(stack_arg(0))); }

void r_write_stdout() {
    ValueCell* mark = g_stack.top;
    io_write(nullptr, stack_arg(0), nullptr, nullptr, false, false, false);
    g_stack.top = mark;
}

// ---- type predicates -----------------------------------------------------------------------------------------------

template <u32 Type>
void r_type_q() {
    set_logic(stack_arg(0)->type() == Type);
}

// The typeset predicates read the typeset that the global word holds at
// the moment of the call.
struct TypesetPredicate {
    const char* name;
    const char* typeset;
};
constexpr TypesetPredicate kTypesetPredicates[] = {
    {"any-list?", "any-list!"},         {"any-block?", "any-block!"},
    {"any-function?", "any-function!"}, {"any-object?", "any-object!"},
    {"any-path?", "any-path!"},         {"any-string?", "any-string!"},
    {"any-word?", "any-word!"},         {"series?", "series!"},
    {"number?", "number!"},             {"immediate?", "immediate!"},
    {"scalar?", "scalar!"},             {"all-word?", "all-word!"},
    {"any-point?", "any-point!"},       {"planar?", "planar!"},
};

template <u32 K>
void r_typeset_q() {
    u32 type = stack_arg(0)->type();
    const ValueCell* ts = global_value_ptr(symbol_make(kTypesetPredicates[K].typeset));
    set_logic(ts && ts->type() == TYPE_TYPESET && typeset_has_type(ts, type));
}

// ---- the collector ---------------------------------------------------------------------------------------------------

void r_gc_active_q() { set_logic(g_gc.enabled); }
void r_series_cycles() { set_integer(static_cast<i32>(g_gc.series_cycles)); }
void r_nodes_cycles() { set_integer(static_cast<i32>(g_gc.nodes_cycles)); }

}  // namespace

// ---- the table ------------------------------------------------------------------------------------------------------------

#define TYPE_Q(name, type) \
    {name, "[\"Returns true if the value is this type\" value [any-type!] return: [logic!]]", \
     r_type_q<type>}
#define TYPESET_Q(k, what)                                                                        \
    {kTypesetPredicates[k].name,                                                                  \
     "[\"Returns true if the value is any type of " what "\" value [any-type!] return: [logic!]]", \
     r_typeset_q<k>}

const SystemRoutine g_system_routines[] = {
    {"quit-return",
     "[\"Stops evaluation and exits the program with a given status\" status [integer!] "
     "\"Process termination value to return\"]",
     r_quit_return},
    {"set-quiet",
     "[\"Set an object's field to a value without triggering eventual object's events\" word "
     "[any-type!] value [any-type!] return: [any-type!]]",
     r_set_quiet},
    {"set-slot-quiet",
     "[\"Set a value in series without triggering eventual owner's events\" series [any-type!] "
     "value [any-type!]]",
     r_set_slot_quiet},
    {"shift-right",
     "[\"Shift bits to the right\" data [integer!] bits [integer!] return: [integer!]]",
     r_shift_right},
    {"shift-left", "[\"Shift bits to the left\" data [integer!] bits [integer!] return: [integer!]]",
     r_shift_left},
    {"shift-logical",
     "[\"Shift bits to the right (unsigned)\" data [integer!] bits [integer!] return: "
     "[integer!]]",
     r_shift_logical},
    {"last-lf?", "[\"Internal Use Only\" return: [logic!]]", r_last_lf_q},
    {"get-current-dir",
     "[\"Returns the platform's current directory for the process\" return: [string!]]",
     r_get_current_dir},
    {"set-current-dir", "[\"Sets the platform's current process directory\" path [file!]]",
     r_set_current_dir},
    {"create-dir", "[\"Create the given directory\" path [file!]]", r_create_dir},
    {"exists?", "[\"Returns TRUE if the file exists\" path [file!] return: [logic!]]",
     r_exists_q},
    {"os-info", "[\"Returns detailed operating system version information\"]", r_os_info},
    {"as-color",
     "[\"Combine R, G and B values into a tuple\" r [integer!] g [integer!] b [integer!]]",
     r_as_color},
    {"as-ipv4",
     "[\"Combine a, b, c and d values into a tuple\" a [integer!] b [integer!] c [integer!] d "
     "[integer!]]",
     r_as_ipv4},
    {"as-rgba",
     "[\"Combine R, G, B and A color components into a tuple\" r [integer!] g [integer!] b "
     "[integer!] a [integer!]]",
     r_as_rgba},
    {"count-chars",
     "[\"Count UTF-8 encoded characters between two positions in a binary series\" start "
     "[binary!] pos [binary!] return: [integer!]]",
     r_count_chars},
    {"stack-size?",
     "[\"Returns the number of cells on the data stack\" return: [integer!]]", r_stack_size_q},
    {"pick-stack",
     "[\"Returns the value at a position of the data stack\" idx [integer!]]", r_pick_stack},
    {"frame-index?",
     "[\"Returns the position of the current argument frame on the data stack\" return: "
     "[integer!]]",
     r_frame_index_q},
    {"collect-calls",
     "[\"Appends the name and context of every pending call to a block\" blk [block!]]",
     r_collect_calls},
    {"tracing?",
     "[\"Returns TRUE if tracing is active\" return: [logic!]]", r_tracing_q},
    {"read-clipboard",
     "[\"Return the contents of the system clipboard\" return: [any-type!] \"false on failure, "
     "none if empty, otherwise: string!, block! of files!, or an image!\"]",
     r_read_clipboard},
    {"write-clipboard",
     "[\"Write content to the system clipboard\" data [any-type!] \"string!, block! of "
     "files!, an image! or none!\" return: [logic!] \"indicates success\"]",
     r_write_clipboard},
    {"write-stdout", "[\"Write data to STDOUT\" data [any-type!]]", r_write_stdout},

    TYPE_Q("bitset?", TYPE_BITSET),
    TYPE_Q("binary?", TYPE_BINARY),
    TYPE_Q("block?", TYPE_BLOCK),
    TYPE_Q("char?", TYPE_CHAR),
    TYPE_Q("email?", TYPE_EMAIL),
    TYPE_Q("file?", TYPE_FILE),
    TYPE_Q("float?", TYPE_FLOAT),
    TYPE_Q("get-path?", TYPE_GET_PATH),
    TYPE_Q("get-word?", TYPE_GET_WORD),
    TYPE_Q("hash?", TYPE_HASH),
    TYPE_Q("integer?", TYPE_INTEGER),
    TYPE_Q("issue?", TYPE_ISSUE),
    TYPE_Q("lit-path?", TYPE_LIT_PATH),
    TYPE_Q("lit-word?", TYPE_LIT_WORD),
    TYPE_Q("logic?", TYPE_LOGIC),
    TYPE_Q("map?", TYPE_MAP),
    TYPE_Q("none?", TYPE_NONE),
    TYPE_Q("pair?", TYPE_PAIR),
    TYPE_Q("paren?", TYPE_PAREN),
    TYPE_Q("path?", TYPE_PATH),
    TYPE_Q("percent?", TYPE_PERCENT),
    TYPE_Q("refinement?", TYPE_REFINEMENT),
    TYPE_Q("set-path?", TYPE_SET_PATH),
    TYPE_Q("set-word?", TYPE_SET_WORD),
    TYPE_Q("string?", TYPE_STRING),
    TYPE_Q("tag?", TYPE_TAG),
    TYPE_Q("time?", TYPE_TIME),
    TYPE_Q("typeset?", TYPE_TYPESET),
    TYPE_Q("tuple?", TYPE_TUPLE),
    TYPE_Q("unset?", TYPE_UNSET),
    TYPE_Q("url?", TYPE_URL),
    TYPE_Q("word?", TYPE_WORD),
    TYPE_Q("image?", TYPE_IMAGE),
    TYPE_Q("event?", TYPE_EVENT),
    TYPE_Q("date?", TYPE_DATE),
    TYPE_Q("money?", TYPE_MONEY),
    TYPE_Q("ref?", TYPE_REF),
    TYPE_Q("point2D?", TYPE_POINT2D),
    TYPE_Q("point3D?", TYPE_POINT3D),
    TYPE_Q("handle?", TYPE_HANDLE),
    TYPE_Q("error?", TYPE_ERROR),
    TYPE_Q("action?", TYPE_ACTION),
    TYPE_Q("native?", TYPE_NATIVE),
    TYPE_Q("datatype?", TYPE_DATATYPE),
    TYPE_Q("function?", TYPE_FUNCTION),
    TYPE_Q("object?", TYPE_OBJECT),
    TYPE_Q("op?", TYPE_OP),
    TYPE_Q("routine?", TYPE_ROUTINE),
    TYPE_Q("vector?", TYPE_VECTOR),

    TYPESET_Q(0, "any-list"),
    TYPESET_Q(1, "any-block"),
    TYPESET_Q(2, "any-function"),
    TYPESET_Q(3, "any-object"),
    TYPESET_Q(4, "any-path"),
    TYPESET_Q(5, "any-string"),
    TYPESET_Q(6, "any-word"),
    TYPESET_Q(7, "series"),
    TYPESET_Q(8, "number"),
    TYPESET_Q(9, "immediate"),
    TYPESET_Q(10, "scalar"),
    TYPESET_Q(11, "all-word"),
    TYPESET_Q(12, "any-point"),
    TYPESET_Q(13, "planar"),

    {"active?", "[return: [logic!]]", r_gc_active_q},
    {"series-cycles", "[return: [integer!]]", r_series_cycles},
    {"nodes-cycles", "[return: [integer!]]", r_nodes_cycles},
};

#undef TYPE_Q
#undef TYPESET_Q

static_assert(sizeof(g_system_routines) / sizeof(g_system_routines[0]) == SYSTEM_ROUTINE_COUNT,
              "every system routine is listed");

void routines_system_register() {
    for (const SystemRoutine& r : g_system_routines) routine_table_register(r.name, r.entry);
}

ValueCell* system_words_object() {
    ValueCell* obj = object_push(g_global_ctx, 0, static_cast<u32>(-1));
    return obj;
}

}  // namespace zan
