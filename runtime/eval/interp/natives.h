// The natives table: the entry points of the 107 natives, reached by index.
//
// The order of the table is a contract with stored values: a native! value
// holds the index of its entry (slot + 1), never an address, and the boot
// image names natives by that index. Slot N - 1 holds native N of the list
// below (NativeIndex), which never changes.
//
// Calling convention. The interpreter (or compiled code) marks a call frame,
// pushes the arguments in spec order (refinement arguments at the positions
// given to the native) and calls the entry:
//   - check: false from the interpreter, which has type-checked every
//     argument already; true from callers that have not (the native then
//     checks its frame with natives_check_args);
//   - refs: one integer per refinement of the spec, in spec order: -1 when
//     the refinement is absent, else the argument-frame position of the
//     refinement's first argument (any value but -1 for a refinement without
//     arguments). A native without refinements may ignore it.
// Arguments are read with stack_arg(i); the result is written into the
// frame's first cell (stack_result()).
//
// A native may end with a non-local exit pending instead of returning a
// value: break, continue, return, exit and throw unwind the stacks with the
// stack_throw_*_prepare routines and leave their code in g_throw_code; the
// interpreter passes that code back to the handler that wants it without a
// C++ exception (see interp.h). Errors are raised with fire().
//
// Registration. Each natives_<group>.cpp file fills the slots of its natives
// in a function `void natives_<group>_init(NativeEntry* slots)` that stores
// its entries at slots[NAT_x - 1]; natives_init calls every group's init in
// turn (add one line there for a new group) and registers the 107 entries in
// one call. A slot that no group fills raises internal error not-done.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

using NativeEntry = void (*)(bool check, const i32* refs);

constexpr u32 NATIVES_TABLE_SIZE = 120;
constexpr u32 NATIVES_COUNT = 107;

// Index = slot + 1, as stored in native! values.
#define ZAN_NATIVES(X)                                                                     \
    X(IF, "if") X(UNLESS, "unless") X(EITHER, "either") X(ANY, "any") X(ALL, "all")        \
    X(WHILE, "while") X(UNTIL, "until") X(LOOP, "loop") X(REPEAT, "repeat")                \
    X(FOREVER, "forever") X(FOREACH, "foreach") X(FORALL, "forall")                        \
    X(REMOVE_EACH, "remove-each") X(FUNC, "func") X(FUNCTION, "function") X(DOES, "does")  \
    X(HAS, "has") X(SWITCH, "switch") X(CASE, "case") X(DO, "do") X(GET, "get")            \
    X(SET, "set") X(PRINT, "print") X(PRIN, "prin") X(EQUAL_Q, "equal?")                   \
    X(NOT_EQUAL_Q, "not-equal?") X(STRICT_EQUAL_Q, "strict-equal?")                        \
    X(LESSER_Q, "lesser?") X(GREATER_Q, "greater?")                                        \
    X(LESSER_OR_EQUAL_Q, "lesser-or-equal?") X(GREATER_OR_EQUAL_Q, "greater-or-equal?")    \
    X(SAME_Q, "same?") X(NOT, "not") X(TYPE_Q, "type?") X(REDUCE, "reduce")                \
    X(COMPOSE, "compose") X(STATS, "stats") X(BIND, "bind") X(IN, "in") X(PARSE, "parse")  \
    X(UNION, "union") X(INTERSECT, "intersect") X(UNIQUE, "unique")                        \
    X(DIFFERENCE, "difference") X(EXCLUDE, "exclude") X(COMPLEMENT_Q, "complement?")       \
    X(DEHEX, "dehex") X(ENHEX, "enhex") X(NEGATIVE_Q, "negative?")                         \
    X(POSITIVE_Q, "positive?") X(MAX, "max") X(MIN, "min") X(SHIFT, "shift")               \
    X(TO_HEX, "to-hex") X(SINE, "sine") X(COSINE, "cosine") X(TANGENT, "tangent")          \
    X(ARCSINE, "arcsine") X(ARCCOSINE, "arccosine") X(ARCTANGENT, "arctangent")            \
    X(ARCTANGENT2, "arctangent2") X(NAN_Q, "NaN?") X(LOG_2, "log-2") X(LOG_10, "log-10")   \
    X(LOG_E, "log-e") X(EXP, "exp") X(SQUARE_ROOT, "square-root")                          \
    X(CONSTRUCT, "construct") X(VALUE_Q, "value?") X(TRY, "try")                           \
    X(UPPERCASE, "uppercase") X(LOWERCASE, "lowercase") X(AS_PAIR, "as-pair")              \
    X(AS_POINT2D, "as-point2D") X(AS_POINT3D, "as-point3D") X(AS_MONEY, "as-money")        \
    X(BREAK, "break") X(CONTINUE, "continue") X(EXIT, "exit") X(RETURN, "return")          \
    X(THROW, "throw") X(CATCH, "catch") X(EXTEND, "extend") X(DEBASE, "debase")            \
    X(TO_LOCAL_FILE, "to-local-file") X(WAIT, "wait") X(CHECKSUM, "checksum")              \
    X(UNSET, "unset") X(NEW_LINE, "new-line") X(NEW_LINE_Q, "new-line?")                   \
    X(ENBASE, "enbase") X(CONTEXT_Q, "context?") X(SET_ENV, "set-env")                     \
    X(GET_ENV, "get-env") X(LIST_ENV, "list-env") X(NOW, "now") X(SIGN_Q, "sign?")         \
    X(AS, "as") X(CALL, "call") X(ZERO_Q, "zero?") X(SIZE_Q, "size?")                      \
    X(BROWSE, "browse") X(COMPRESS, "compress") X(DECOMPRESS, "decompress")                \
    X(RECYCLE, "recycle") X(TRANSCODE, "transcode") X(APPLY, "apply")

enum NativeIndex : u32 {
    NAT_NONE_ = 0,
#define ZAN_X(id, name) NAT_##id,
    ZAN_NATIVES(ZAN_X)
#undef ZAN_X
    NAT_END_
};
static_assert(NAT_END_ - 1 == NATIVES_COUNT, "107 natives");
static_assert(NAT_IF == 1 && NAT_PARSE == 40 && NAT_TRY == 70 && NAT_BREAK == 77 &&
                  NAT_APPLY == 107,
              "the table order is fixed");

// The word and the spec of each native (its spec block as source text, as
// the boot image declares it: arguments, refinements, type blocks and doc
// strings), with its refinement count.
struct NativeInfo {
    const char* name;
    const char* spec;
    u32 refinements;
};
// index 1..107; null outside.
const NativeInfo* native_info(u32 index);

// ---- the table -------------------------------------------------------------------------
// Appends the entries to the table in the order given (the registration
// counter starts at 1 and ends at 108 after start-up).
void natives_register(u32 count, const NativeEntry* entries);
// Allocates the table, makes the print buffer and registers the 107 natives.
// Safe to call again (a fresh table each time).
void natives_init();

// The entry of every slot that no group filled: raises internal error
// not-done (a slot left empty is a fault of the runtime, not a crash).
void native_not_done(bool check, const i32* refs);

// Type check of the argument frame of native index against its spec, for
// natives called with the check flag set: each argument (refinement
// arguments only when their refinement is given) must be of a type its
// parameter admits, else script error expect-arg.
void natives_check_args(u32 index, const i32* refs);

// The entry of a native that leaves the check to natives_check_args: the
// check runs only when the caller asks for it.
template <u32 Index, NativeEntry Fn>
void native_checked(bool check, const i32* refs) {
    if (check) natives_check_args(Index, refs);
    Fn(false, refs);
}

// ---- group inits ------------------------------------------------------------------------
// Each fills its own slots of the staging array (indexes minus one).
void natives_control_init(NativeEntry* slots);   // conditionals and loops
void natives_eval_init(NativeEntry* slots);      // function makers, do, reduce, words, print
void natives_exits_init(NativeEntry* slots);     // break ... try
void natives_compare_init(NativeEntry* slots);   // equal? ... type?
void natives_math_init(NativeEntry* slots);      // sign tests, max, min, trigonometry, logs
void natives_shape_init(NativeEntry* slots);     // construct, as-pair, new-line, as, apply ...
void natives_transcode_init(NativeEntry* slots); // transcode, compress, decompress
void natives_sets_init(NativeEntry* slots);      // union ... complement?
void natives_encoding_init(NativeEntry* slots);  // dehex, enhex, debase, enbase
void natives_parse_init(NativeEntry* slots);     // parse (also makes its work blocks)
void natives_system_init(NativeEntry* slots);    // wait, now, environment, size? ...
// checksum; also installs the random generator's entries in g_services,
// through which the datatypes' random actions draw.
void natives_checksum_init(NativeEntry* slots);

// The identity test behind same?: same datatype and same payload (series:
// the same buffer at the same index; numbers bit for bit).
bool value_same(const ValueCell* a, const ValueCell* b);

// ---- the print buffer ----------------------------------------------------------------------
// The 32-cell block that print and prin reduce into (a collector root).
ValueCell* natives_print_buffer();
// Whether the last print or prin ended with a newline (read by the console).
extern bool g_print_last_newline;

}  // namespace zan
