// The datatype registry: per datatype id its name and its row of 62 action
// entries. A datatype is a row of this table, built by its init function;
// inheritance is a copy of the parent's entry made at registration.
#pragma once
#include <initializer_list>

#include "runtime/core/cell.h"

namespace zan {

// The actions in number order (fixed: action! values and the boot image
// refer to them by number): the name of each ACT_ constant and the word the
// language calls it by. library/00-builtins.zan types the numbers again
// ("append: action 25 [...]"); the boot image builder checks every such
// entry against this list, so a mismatch fails the build.
#define ZAN_ACTION_LIST(X)                                                                  \
    X(MAKE, "make") X(RANDOM, "random") X(REFLECT, "reflect") X(TO, "to")                   \
    X(FORM, "form") X(MOLD, "mold") X(EVAL_PATH, "eval-path") X(SET_PATH, "set-path")       \
    X(COMPARE, "compare") X(ABSOLUTE, "absolute") X(ADD, "add") X(DIVIDE, "divide")         \
    X(MULTIPLY, "multiply") X(NEGATE, "negate") X(POWER, "power")                           \
    X(REMAINDER, "remainder") X(ROUND, "round") X(SUBTRACT, "subtract")                     \
    X(EVEN_Q, "even?") X(ODD_Q, "odd?") X(AND_T, "and~") X(COMPLEMENT, "complement")        \
    X(OR_T, "or~") X(XOR_T, "xor~") X(APPEND, "append") X(AT, "at") X(BACK, "back")         \
    X(CHANGE, "change") X(CLEAR, "clear") X(COPY, "copy") X(FIND, "find") X(HEAD, "head")   \
    X(HEAD_Q, "head?") X(INDEX_Q, "index?") X(INSERT, "insert") X(LENGTH_Q, "length?")      \
    X(MOVE, "move") X(NEXT, "next") X(PICK, "pick") X(POKE, "poke") X(PUT, "put")           \
    X(REMOVE, "remove") X(REVERSE, "reverse") X(SELECT, "select") X(SORT, "sort")           \
    X(SKIP, "skip") X(SWAP, "swap") X(TAIL, "tail") X(TAIL_Q, "tail?") X(TAKE, "take")      \
    X(TRIM, "trim") X(CREATE, "create") X(CLOSE, "close") X(DELETE, "delete")               \
    X(MODIFY, "modify") X(OPEN, "open") X(OPEN_Q, "open?") X(QUERY, "query")                \
    X(READ, "read") X(RENAME, "rename") X(UPDATE, "update") X(WRITE, "write")

enum ActionId : u32 {
    ACT_BEFORE_FIRST = 0,
#define ZAN_ACTION_ID(id, name) ACT_##id,
    ZAN_ACTION_LIST(ZAN_ACTION_ID)
#undef ZAN_ACTION_ID
    ACT_COUNT = ACT_WRITE
};
static_assert(ACT_MAKE == 1 && ACT_COUNT == 62, "the action numbers are fixed");

// The word of each action, by number - 1.
inline constexpr const char* ACTION_NAMES[ACT_COUNT] = {
#define ZAN_ACTION_NAME(id, name) name,
    ZAN_ACTION_LIST(ZAN_ACTION_NAME)
#undef ZAN_ACTION_NAME
};

using VC = ValueCell;

// Signatures of the per-datatype implementations (the third layer). "Frame"
// actions take no arguments: they read the argument frame and write the
// result cell themselves.
using FrameFn = void (*)();
using MakeFn = VC* (*)(VC* proto, VC* spec, u32 type);           // make, to
using RandomFn = void (*)(VC* value, bool seed, bool secure, bool only);
using ReflectFn = void (*)(VC* value, u32 field_symbol);
using FormFn = i32 (*)(VC* value, VC* out, VC* arg_limit, i32 limit);
using MoldFn = i32 (*)(VC* value, VC* out, bool only, bool all, bool flat,
                       VC* arg_limit, i32 limit, i32 indent);
using EvalPathFn = VC* (*)(VC* parent, VC* element, VC* value, VC* path, VC* holder,
                           VC* holder_item, i32 index, bool case_sensitive,
                           bool flag1, bool flag2, bool flag3);
using CompareFn = i32 (*)(VC* value1, VC* value2, i32 op);
using ValueFn = void (*)(VC* value);                              // negate, clear
using RoundFn = void (*)(VC* value, VC* scale, bool even, bool down, bool half_down,
                         bool floor, bool ceiling, bool half_ceiling);
using PredicateFn = bool (*)(VC* value);                          // even?, odd?
using ComplementFn = VC* (*)(VC* value);
using InsertFn = void (*)(VC* series, VC* value, i32 part, bool only, i32 dup,
                          bool append);                            // append, insert
using ChangeFn = void (*)(VC* series, VC* value, i32 part, bool only, i32 dup);
using CopyFn = VC* (*)(VC* value, VC* fresh, VC* part, bool deep, VC* types);
using FindFn = VC* (*)(VC* series, VC* value, VC* part, bool only, bool case_sensitive,
                       bool same, bool any, VC* with, VC* skip, bool last, bool reverse,
                       bool tail, bool match);
using LengthFn = i32 (*)(VC* series);                             // -1 means none
using MoveFn = VC* (*)(VC* origin, VC* target, VC* part);
using PickFn = VC* (*)(VC* series, i32 index, VC* index_cell);
using PokeFn = VC* (*)(VC* series, i32 index, VC* value, VC* index_cell);
using PutFn = VC* (*)(VC* series, VC* key, VC* value, bool case_sensitive);
using RemoveFn = void (*)(VC* series, VC* part, VC* key);
using ReverseFn = void (*)(VC* series, VC* part, VC* skip);
using SelectFn = VC* (*)(VC* series, VC* value, VC* part, bool only, bool case_sensitive,
                         bool same, bool any, VC* with, VC* skip, bool last, bool reverse);
using SortFn = VC* (*)(VC* series, bool case_sensitive, VC* skip, VC* comparator,
                       VC* part, bool all, bool reverse, bool stable);
using SwapFn = void (*)(VC* series1, VC* series2);
using TakeFn = VC* (*)(VC* series, VC* part, bool deep, bool last);
using TrimFn = void (*)(VC* series, bool head, bool tail, bool auto_, bool lines,
                        bool all, VC* with);
using PortFn = VC* (*)(VC* port);              // create close delete open? query update
using ModifyFn = VC* (*)(VC* target, VC* field, VC* value, bool case_sensitive);
using OpenFn = VC* (*)(VC* port, bool new_, bool read, bool write, bool seek, VC* allow);
using ReadFn = VC* (*)(VC* source, VC* part, VC* seek, bool binary, bool lines,
                       bool info, VC* as);
using RenameFn = VC* (*)(VC* from, VC* to);
using WriteFn = VC* (*)(VC* dest, VC* data, bool binary, bool lines, bool info,
                        bool append, VC* part, VC* seek, VC* allow, VC* as);

template <u32 A> struct ActionSig { using type = FrameFn; };
#define ZAN_SIG(A, T) template <> struct ActionSig<A> { using type = T; };
ZAN_SIG(ACT_MAKE, MakeFn) ZAN_SIG(ACT_RANDOM, RandomFn) ZAN_SIG(ACT_REFLECT, ReflectFn)
ZAN_SIG(ACT_TO, MakeFn) ZAN_SIG(ACT_FORM, FormFn) ZAN_SIG(ACT_MOLD, MoldFn)
ZAN_SIG(ACT_EVAL_PATH, EvalPathFn) ZAN_SIG(ACT_COMPARE, CompareFn)
ZAN_SIG(ACT_NEGATE, ValueFn) ZAN_SIG(ACT_ROUND, RoundFn) ZAN_SIG(ACT_EVEN_Q, PredicateFn)
ZAN_SIG(ACT_ODD_Q, PredicateFn) ZAN_SIG(ACT_COMPLEMENT, ComplementFn)
ZAN_SIG(ACT_APPEND, InsertFn) ZAN_SIG(ACT_INSERT, InsertFn) ZAN_SIG(ACT_CHANGE, ChangeFn)
ZAN_SIG(ACT_CLEAR, ValueFn) ZAN_SIG(ACT_COPY, CopyFn) ZAN_SIG(ACT_FIND, FindFn)
ZAN_SIG(ACT_LENGTH_Q, LengthFn) ZAN_SIG(ACT_MOVE, MoveFn) ZAN_SIG(ACT_PICK, PickFn)
ZAN_SIG(ACT_POKE, PokeFn) ZAN_SIG(ACT_PUT, PutFn) ZAN_SIG(ACT_REMOVE, RemoveFn)
ZAN_SIG(ACT_REVERSE, ReverseFn) ZAN_SIG(ACT_SELECT, SelectFn) ZAN_SIG(ACT_SORT, SortFn)
ZAN_SIG(ACT_SWAP, SwapFn) ZAN_SIG(ACT_TAKE, TakeFn) ZAN_SIG(ACT_TRIM, TrimFn)
ZAN_SIG(ACT_CREATE, PortFn) ZAN_SIG(ACT_CLOSE, PortFn) ZAN_SIG(ACT_DELETE, PortFn)
ZAN_SIG(ACT_MODIFY, ModifyFn) ZAN_SIG(ACT_OPEN, OpenFn) ZAN_SIG(ACT_OPEN_Q, PortFn)
ZAN_SIG(ACT_QUERY, PortFn) ZAN_SIG(ACT_READ, ReadFn) ZAN_SIG(ACT_RENAME, RenameFn)
ZAN_SIG(ACT_UPDATE, PortFn) ZAN_SIG(ACT_WRITE, WriteFn)
#undef ZAN_SIG

// An untyped entry point; the action number decides its real signature.
using ActionEntry = void (*)();
// The registration marker that takes the parent's entry.
inline ActionEntry const INHERIT = reinterpret_cast<ActionEntry>(~uintptr_t(0));

// One datatype's row as given to the registry: every entry starts null
// (unsupported); set() installs an implementation with its checked signature,
// inherit() marks entries to copy from the parent.
struct ActionRow {
    ActionEntry entries[ACT_COUNT] = {};

    template <u32 A>
    ActionRow& set(typename ActionSig<A>::type fn) {
        entries[A - 1] = reinterpret_cast<ActionEntry>(fn);
        return *this;
    }
    ActionRow& inherit(std::initializer_list<u32> actions) {
        for (u32 a : actions) entries[a - 1] = INHERIT;
        return *this;
    }
    ActionRow& inherit_all() {
        for (auto& e : entries)
            if (!e) e = INHERIT;
        return *this;
    }
};

struct TypeName {
    const char* name;  // with the "!"
    i32 length;        // without the "!"
    ValueCell word;    // the name's word!, unset until the words exist
    u64 own_actions;   // bit n - 1: action n has an entry of the type's own
};

constexpr u32 ACTION_ROW_STRIDE = 256;
extern ActionEntry g_action_table[TYPE_TABLE_SIZE * ACTION_ROW_STRIDE];
extern TypeName g_type_names[TYPE_TABLE_SIZE];
extern u32 g_highest_type;

// Registers a datatype's action row under its declared name and parent
// (runtime/core/datatypes.def); the parent must be registered first.
void datatype_register(u32 type, const ActionRow& row);

inline ActionEntry action_entry(u32 type, u32 action) {
    return g_action_table[type * ACTION_ROW_STRIDE + action - 1];
}
template <u32 A>
inline typename ActionSig<A>::type action_entry_as(u32 type) {
    return reinterpret_cast<typename ActionSig<A>::type>(action_entry(type, A));
}

}  // namespace zan
