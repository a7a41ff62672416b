// Value cells: the 16-byte slot that holds every value of the language.
//
// A value is one ValueCell: a 32-bit header and three 32-bit data words.
// The header's low byte is the datatype id, bit 30 marks a value that starts
// a new line in its block, and the other bits are flags that belong to the
// datatype (context kind, an op's wrapped type, a tuple's length, ...).
// Scalars live entirely in the cell: an integer in data2, a float's 64 bits
// in data2-data3, a date packed into three words. Everything larger lives in
// the heap and the cell holds a handle to it: a series (a block's cells, a
// string's code units) is reached through a node, a 32-bit handle to a slot
// that holds the buffer's current place, so the collector can slide buffers
// without touching the cells that refer to them. Words hold a symbol id and
// the node of the context they are bound to; objects and functions hold the
// node of their context; a handle! holds an index into the external-resource
// table, never an address.
//
// Keeping every value the same size lets blocks be plain arrays of cells,
// copying a value be a 16-byte move, and the stacks hold values directly.
// The price is that the meaning of a data word depends on the type: what
// each type keeps in which word is declared once, in
// runtime/core/datatypes.def, and read through the accessors in
// runtime/core/layout.h. The collector marks, and ZANBIN follows, exactly the
// references that table declares.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/core/datatypes.def"

namespace zan {

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using i32 = int32_t;
using u64 = uint64_t;
using i64 = int64_t;

// A handle to something inside the heap region: a byte offset from its base
// (see heap.h). 0 is the null handle.
using HeapRef = u32;
// A node handle is the heap offset of the 4-byte node slot.
using Node = HeapRef;

// Datatype ids, fixed: stored values and the action table depend on them.
enum TypeId : u32 {
#define ZAN_TYPE_ID(id, Enum, name, parent, d1, d2, d3, traits) TYPE_##Enum = id,
    ZAN_DATATYPES(ZAN_TYPE_ID)
#undef ZAN_TYPE_ID
    TYPE_LAST = TYPE_EVENT,
    TYPE_TEXT_KEY = 56,   // internal: a text key given as code points (hash tables)
    TYPE_TABLE_SIZE = 57  // ids 0..56 have rows in the datatype tables
};

// The header flags of each type (see datatypes.def).
#define ZAN_HEADER_BIT(Type, NAME, bit) constexpr u32 NAME = 1u << (bit);
#define ZAN_HEADER_FIELD(Type, NAME, shift, width) \
    constexpr u32 NAME##_SHIFT = (shift);            \
    constexpr u32 NAME##_MASK = ((1u << (width)) - 1) << (shift);
ZAN_HEADER_FLAGS(ZAN_HEADER_BIT, ZAN_HEADER_FIELD)
#undef ZAN_HEADER_BIT
#undef ZAN_HEADER_FIELD

constexpr u32 CELL_TYPE_MASK = 0xFFu;
constexpr u32 CELL_NEW_LINE = 1u << 30;

// header: type id in bits 0-7, the new-line marker in bit 30, further flags
// by type. For a series: data1 head index, data2 node, data3 extra.
struct ValueCell {
    u32 header;
    u32 data1;
    u32 data2;
    u32 data3;

    u32 type() const { return header & CELL_TYPE_MASK; }
    void set_type(u32 t) { header = (header & ~CELL_TYPE_MASK) | t; }
    bool new_line() const { return (header & CELL_NEW_LINE) != 0; }

    // The 64-bit float of float!, percent! and time! lives in data2-data3.
    double get_float() const {
        double d;
        std::memcpy(&d, &data2, sizeof d);
        return d;
    }
    void put_float(double d) { std::memcpy(&data2, &d, sizeof d); }
};
static_assert(sizeof(ValueCell) == 16, "a value cell is 16 bytes");

inline void cell_set_type(ValueCell* c, u32 t) { c->set_type(t); }
inline void cell_clear_new_line(ValueCell* c) { c->header &= ~CELL_NEW_LINE; }
// Every bit of the two cells equal: the equality of values without a compare.
inline bool cell_identical(const ValueCell* a, const ValueCell* b) {
    return std::memcmp(a, b, sizeof(ValueCell)) == 0;
}
// Source first, as everywhere in the runtime.
inline void cell_copy(const ValueCell* src, ValueCell* dst) {
    if (src != dst) *dst = *src;
}
inline void cell_init(ValueCell* c, u32 type, u32 d1 = 0, u32 d2 = 0, u32 d3 = 0) {
    c->header = type;
    c->data1 = d1;
    c->data2 = d2;
    c->data3 = d3;
}

}  // namespace zan
