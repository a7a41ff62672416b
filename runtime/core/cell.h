// Value cells: the 16-byte slot that holds every value of the language.
#pragma once
#include <cstdint>
#include <cstring>

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
    TYPE_DATATYPE = 1, TYPE_UNSET, TYPE_NONE, TYPE_LOGIC, TYPE_BLOCK, TYPE_PAREN,
    TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT,
    TYPE_SYMBOL, TYPE_CONTEXT, TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD,
    TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE, TYPE_NATIVE, TYPE_ACTION,
    TYPE_OP, TYPE_FUNCTION, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH,
    TYPE_GET_PATH, TYPE_ROUTINE, TYPE_BITSET, TYPE_TRIPLE, TYPE_OBJECT,
    TYPE_TYPESET, TYPE_ERROR, TYPE_VECTOR, TYPE_HASH, TYPE_PAIR, TYPE_PERCENT,
    TYPE_TUPLE, TYPE_MAP, TYPE_BINARY, TYPE_SERIES, TYPE_TIME, TYPE_TAG,
    TYPE_EMAIL, TYPE_HANDLE, TYPE_DATE, TYPE_PORT, TYPE_MONEY, TYPE_REF,
    TYPE_POINT2D, TYPE_POINT3D, TYPE_IMAGE, TYPE_EVENT,
    TYPE_LAST = TYPE_EVENT,
    TYPE_TEXT_KEY = 56,   // internal: a text key given as code points (hash tables)
    TYPE_TABLE_SIZE = 57  // ids 0..56 have rows in the datatype tables
};

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
