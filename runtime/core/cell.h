// Value cells: how every value of the language is represented.
//
// The cell
// --------
// A value is one ValueCell of 16 bytes: a 32-bit header and three 32-bit
// data words.
//
//   header   bits 0-7  the datatype id (TypeId)
//            bit 30    the new-line marker: the value began a new line in
//                      its block, so that a block molds back the way it was
//                      written
//            the rest  flags that belong to the datatype: a context's kind,
//                      the type an op! wraps, a tuple's length, whether a
//                      date has a time, ...
//   data1-3  whatever the datatype keeps there
//
// Every value has the same size so that a block is a plain array of cells,
// the data stack and the call frames hold values in place, a value is
// copied by a 16-byte move that never allocates, and the collector walks a
// block without asking each value how long it is. Values that fit live
// entirely in the cell: integer!, char!, logic!, float! (its 64 bits in
// data2-data3), pair!, tuple! (up to 12 bytes), date!, time!, money!,
// typeset!, point2D!. Arithmetic on them allocates nothing.
//
// Handles, not addresses
// ----------------------
// Everything larger lives outside the cell, which holds a 32-bit handle to
// it. The layouts were designed for 32-bit addresses, and we keep them on a
// 64-bit machine by changing what an address is, not the layouts:
//
//   - HeapRef: a byte offset into one reserved 4 GiB heap region (heap.h).
//     Every 32-bit field that would hold an address inside the heap holds
//     one, so cells and the memory manager's headers keep their sizes.
//   - Node: the HeapRef of a 4-byte node slot, which holds the current
//     place of a series buffer; the buffer points back at its node. A
//     series value is a head index (data1) and a node (data2). Cells never
//     point at the buffer itself, so the collector can slide live buffers
//     together and fix one slot instead of every cell that refers to the
//     series; two cells with one node and different heads are two
//     positions in one series. The price is that C++ code must look the
//     buffer up again (node_buffer) after anything that may allocate.
//   - Table indexes: natives, actions and routines hold the number of their
//     entry in their table; handle! and image! hold an index into the
//     external-resource table (externals.h), which frees the resource once
//     no value marks its slot. Nothing outside the heap is ever reached
//     through an address kept in a value.
//
// Words hold their symbol id (data2), the context they are bound to
// (data1) and their index in it (data3); objects, errors, ports and
// functions hold the node of their context.
//
// One declaration
// ---------------
// The meaning of a data word depends on the type. What each type keeps in
// which word, and its header flags, are declared once, in datatypes.def
// (included below), and read and written through the accessors of
// layout.h. The collector marks, and ZANBIN follows, exactly the references
// that table declares, so a new datatype is one row there plus its file and
// cannot be marked wrongly by a forgotten case.
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
// A cell declared without a value still has a defined header (no type, no
// flags): helpers that write a value into a cell keep its new-line marker,
// and must never read one from uninitialised memory.
struct ValueCell {
    u32 header = 0;
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

// Room for N cells that starts unwritten: for the scratch arrays of the hot
// paths, where a declared cell's zero header costs a store per cell per call.
// Use it only where every cell is written whole (a copy or cell_init) before
// anything reads it; anywhere else declare plain ValueCells.
template <unsigned N>
struct UnwrittenCells {
    UnwrittenCells() {}
    union {
        ValueCell cells[N];
    };
    operator ValueCell*() { return cells; }
};

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
