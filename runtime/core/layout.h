// The declared layout of every datatype (runtime/core/datatypes.def) as a
// table the runtime can read, and the typed accessors through which code
// reads and writes a cell's data words.
#pragma once
#include <array>

#include "runtime/core/cell.h"

namespace zan {

// What a data word holds; see datatypes.def for each kind's meaning.
enum class Holds : u8 {
    VALUE, UNITS, CELLS, CONTEXT, TABLE, EXTERNAL, BINDING, CTX_VALUES, OP_CONTEXT,
    EVENT_CELLS, IMAGE_UNITS
};

constexpr u8 TRAIT_SHARED = 1;

struct TypeDecl {
    const char* name = nullptr;  // null: no datatype has this id
    u32 parent = 0;
    Holds word[3] = {Holds::VALUE, Holds::VALUE, Holds::VALUE};
    u8 traits = 0;
    u8 references = 0;  // bit w set when data word w+1 may hold a reference
};

namespace decl {
// The names a row uses for its parent and traits.
enum Parent : u32 {
    NONE_PARENT = 0,
#define ZAN_PARENT_ID(id, Enum, name, parent, d1, d2, d3, traits) Enum = id,
    ZAN_DATATYPES(ZAN_PARENT_ID)
#undef ZAN_PARENT_ID
};
constexpr u8 SHARED = TRAIT_SHARED;

constexpr u8 reference_bits(Holds a, Holds b, Holds c) {
    return static_cast<u8>((a != Holds::VALUE ? 1 : 0) | (b != Holds::VALUE ? 2 : 0) |
                           (c != Holds::VALUE ? 4 : 0));
}

constexpr std::array<TypeDecl, TYPE_TABLE_SIZE> make_table() {
    std::array<TypeDecl, TYPE_TABLE_SIZE> t{};
#define ZAN_TYPE_ROW(id, Enum, name, parent, d1, d2, d3, traits)                           \
    t[id] = TypeDecl{name, parent, {Holds::d1, Holds::d2, Holds::d3}, traits,               \
                     reference_bits(Holds::d1, Holds::d2, Holds::d3)};
    ZAN_DATATYPES(ZAN_TYPE_ROW)
#undef ZAN_TYPE_ROW
    return t;
}
}  // namespace decl

inline constexpr std::array<TypeDecl, TYPE_TABLE_SIZE> kTypeDecls = decl::make_table();

// The declaration of a type id (an empty one for ids no datatype has).
constexpr const TypeDecl& type_decl(u32 type) {
    return kTypeDecls[type < TYPE_TABLE_SIZE ? type : 0];
}
// "integer!" for TYPE_INTEGER; null for ids no datatype has.
constexpr const char* type_name_of(u32 type) { return type_decl(type).name; }
// The id of a datatype name ("integer!"), 0 when none.
u32 type_id_of_name(const char* name);
// ZANBIN writes values of the type once and refers back to them.
constexpr bool type_shared(u32 type) { return (type_decl(type).traits & TRAIT_SHARED) != 0; }
// The data word (1-3) of the first reference a type declares, 0 for none:
// the node that identifies a shared value.
constexpr u32 type_identity_word(u32 type) {
    u8 r = type_decl(type).references;
    return r & 1 ? 1 : r & 2 ? 2 : r & 4 ? 3 : 0;
}

// ---- checks on the table ---------------------------------------------------------
namespace decl {
constexpr bool ids_are_dense() {
    for (u32 t = 1; t <= TYPE_LAST; t++)
        if (!kTypeDecls[t].name) return false;
    return true;
}
constexpr bool parents_are_declared_and_acyclic() {
    for (u32 t = 1; t <= TYPE_LAST; t++) {
        u32 p = kTypeDecls[t].parent;
        for (u32 steps = 0; p; steps++) {
            if (p > TYPE_LAST || !kTypeDecls[p].name || steps > TYPE_LAST) return false;
            p = kTypeDecls[p].parent;
        }
    }
    return true;
}
constexpr bool names_end_in_bang() {
    for (u32 t = 1; t <= TYPE_LAST; t++) {
        const char* n = kTypeDecls[t].name;
        u32 len = 0;
        while (n[len]) len++;
        if (len < 2 || n[len - 1] != '!') return false;
    }
    return true;
}
constexpr bool header_flags_are_disjoint() {
    u32 used[TYPE_TABLE_SIZE] = {};
    bool ok = true;
    auto claim = [&](u32 type, u32 mask) {
        if (mask & (CELL_TYPE_MASK | CELL_NEW_LINE)) ok = false;
        if (used[type] & mask) ok = false;
        used[type] |= mask;
    };
#define ZAN_CLAIM_BIT(Type, NAME, bit) claim(TYPE_##Type, 1u << (bit));
#define ZAN_CLAIM_FIELD(Type, NAME, shift, width) claim(TYPE_##Type, ((1u << (width)) - 1) << (shift));
    ZAN_HEADER_FLAGS(ZAN_CLAIM_BIT, ZAN_CLAIM_FIELD)
#undef ZAN_CLAIM_BIT
#undef ZAN_CLAIM_FIELD
    return ok;
}
}  // namespace decl
static_assert(decl::ids_are_dense(), "every id from 1 to TYPE_LAST has a row");
static_assert(decl::parents_are_declared_and_acyclic(), "a parent is a declared type");
static_assert(decl::names_end_in_bang(), "datatype names end in !");
static_assert(decl::header_flags_are_disjoint(), "a type's header flags do not overlap");

// ---- accessors -------------------------------------------------------------------
// Named for what the word holds; each is used only with the types whose row
// declares that word so.

// Series (block!, string!, binary!, vector!, bitset!, hash!, map!, image!,
// paths): the head index and the buffer's node.
inline i32 series_index(const ValueCell* c) { return static_cast<i32>(c->data1); }
inline void series_set_index(ValueCell* c, i32 i) { c->data1 = static_cast<u32>(i); }
inline Node series_node(const ValueCell* c) { return c->data2; }
inline void set_series_node(ValueCell* c, Node n) { c->data2 = n; }
inline Node block_node(const ValueCell* c) { return c->data2; }
// Text types: the node of the value's scratch byte series, or 0.
inline Node string_scratch(const ValueCell* c) { return c->data3; }
inline void set_string_scratch(ValueCell* c, Node n) { c->data3 = n; }
// hash! and map!: the node of the hash table over the cells.
inline Node hashed_table(const ValueCell* c) { return c->data3; }
inline void set_hashed_table(ValueCell* c, Node n) { c->data3 = n; }
// A hash! that has its index built (a fresh or shared one may not yet).
inline bool is_hash(const ValueCell* s) { return s->type() == TYPE_HASH && hashed_table(s); }
// The head index as the unsigned word, for walks that count cells from it.
inline u32 series_head(const ValueCell* c) { return c->data1; }
inline void series_set_head(ValueCell* c, u32 i) { c->data1 = i; }
// block!: the third word, 0 in an ordinary block; a function's cached spec
// block keeps its shape word there.
inline u32 block_extra(const ValueCell* c) { return c->data3; }
inline void set_block_extra(ValueCell* c, u32 v) { c->data3 = v; }

// Words: the bound context (or self block), the symbol id, the index in
// the context.
inline Node word_binding(const ValueCell* c) { return c->data1; }
inline u32 word_symbol(const ValueCell* c) { return c->data2; }
inline i32 word_index(const ValueCell* c) { return static_cast<i32>(c->data3); }
inline void set_word_symbol(ValueCell* c, u32 symbol) { c->data2 = symbol; }
inline void set_word_index(ValueCell* c, i32 i) { c->data3 = static_cast<u32>(i); }
inline void set_word_binding(ValueCell* c, Node n) { c->data1 = n; }

// object!, error!, port!, function!, routine!: the context node.
inline Node context_of(const ValueCell* c) { return c->data1; }
inline void set_context_of(ValueCell* c, Node n) { c->data1 = n; }
// object!, error!, port!: the node of the event record, or 0.
inline Node object_record(const ValueCell* c) { return c->data3; }
inline void set_object_record(ValueCell* c, Node n) { c->data3 = n; }

// function!, routine!, native!, action!, op!: the spec block and the body
// (function!) or "more" block (the others).
inline Node callable_spec(const ValueCell* c) { return c->data2; }
inline Node callable_body(const ValueCell* c) { return c->data3; }
inline void set_callable_spec(ValueCell* c, Node n) { c->data2 = n; }
// native!, action!: the entry number in the natives or action table.
inline u32 callable_entry(const ValueCell* c) { return c->data1; }
inline void set_callable_body(ValueCell* c, Node n) { c->data3 = n; }
// function!, routine!, native!, action!, op!: the "more" block (body,
// entry, extra, cached spec, ...).
inline Node callable_more(const ValueCell* c) { return c->data3; }

// context! cells: the word table and the values (a node, or a data-stack
// address when CONTEXT_VALUES_ON_STACK is set).
inline Node context_word_table(const ValueCell* c) { return c->data1; }
inline void set_context_word_table(ValueCell* c, Node n) { c->data1 = n; }
inline u32 context_values(const ValueCell* c) { return c->data2; }
inline void set_context_values(ValueCell* c, u32 v) { c->data2 = v; }

// symbol!: the alias, the cached string! text and the UTF-8 name.
inline u32 symbol_alias(const ValueCell* c) { return c->data1; }
inline Node symbol_text_node(const ValueCell* c) { return c->data2; }
inline Node symbol_name_node(const ValueCell* c) { return c->data3; }
inline void set_symbol_text_node(ValueCell* c, Node n) { c->data2 = n; }
inline void set_symbol_name_node(ValueCell* c, Node n) { c->data3 = n; }

// handle!: data3 holds the slot in the external-resource table, -1 for none.

// image!: the size word, width | height << 16 (the pixels' shape, shared
// by the values that view the same pixels).
inline u32 image_packed_size(const ValueCell* c) { return c->data3; }
inline void set_image_packed_size(ValueCell* c, u32 size) { c->data3 = size; }

// ---- scalars ---------------------------------------------------------------------
// The two 32-bit halves of the double of float!, percent!, time! and date!
// (low first, in memory order).
inline u32 float_low_word(const ValueCell* c) { return c->data2; }
inline u32 float_high_word(const ValueCell* c) { return c->data3; }
// date!: the packed date (year, month, day, zone).
inline u32 date_packed(const ValueCell* c) { return c->data1; }
// point2D!, point3D!: the bits of the 32-bit float of coordinate i (0-2).
inline u32 point_bits(const ValueCell* c, u32 i) { return i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3; }
// typeset!, tuple!, money!: the 12 payload bytes of data1-data3 in memory
// order.
inline const u8* payload_bytes(const ValueCell* c) { return reinterpret_cast<const u8*>(&c->data1); }
inline u8* payload_bytes(ValueCell* c) { return reinterpret_cast<u8*>(&c->data1); }
// The three payload words whole, for writers that copy them unread.
inline u32 payload_word(const ValueCell* c, u32 w) { return w == 1 ? c->data1 : w == 2 ? c->data2 : c->data3; }
// object!, error!, port!: the class id.
inline u32 object_class(const ValueCell* c) { return c->data2; }
inline void set_object_class(ValueCell* c, u32 id) { c->data2 = id; }
// integer! and char!: the value word (the signed 32 bits, or the code
// point), for the core below the datatype headers.
inline u32 int_word(const ValueCell* c) { return c->data2; }
inline void set_int_word(ValueCell* c, u32 v) { c->data2 = v; }
// triple!: the signed 32-bit part i (0-2).
inline i32 triple_part(const ValueCell* c, u32 i) {
    return static_cast<i32>(i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3);
}
inline void set_triple_part(ValueCell* c, u32 i, i32 v) {
    (i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3) = static_cast<u32>(v);
}

// The data word w (1-3) of a cell, for code that walks the declared
// references of any type (the collector, ZANBIN).
inline u32& cell_word(ValueCell* c, u32 w) { return w == 1 ? c->data1 : w == 2 ? c->data2 : c->data3; }
inline u32 cell_word(const ValueCell* c, u32 w) {
    return w == 1 ? c->data1 : w == 2 ? c->data2 : c->data3;
}

}  // namespace zan
