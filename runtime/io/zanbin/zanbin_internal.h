// Shared constants and helpers of the ZANBIN encoder and decoder.
#pragma once
#include <cstring>

#include "runtime/core/cell.h"
#include "runtime/datatypes/series.h"
#include "runtime/io/zanbin/zanbin.h"

namespace zan::zanbin {

// ---- the container ------------------------------------------------------------------------------
constexpr char MAGIC[6] = {'Z', 'A', 'N', 'B', 'I', 'N'};
constexpr u32 CONTAINER_HEADER = 8;  // magic, version, flags

// ---- compact layout -----------------------------------------------------------------------------
constexpr u8 PREFIX_NEW_LINE = 0xC0;
constexpr u8 PREFIX_SHARED = 0xC1;
constexpr u8 PREFIX_ASSIGN = 0xC4;
constexpr u8 TAG_SMALL_INT = 0x80;  // 0x80-0xBF: integer! 0..63
constexpr u8 TAG_TRUE = 0xC2;
constexpr u8 TAG_FALSE = 0xC3;
constexpr u8 TAG_COPY = 0xFF;
constexpr u8 TAG_SHORT = 0x40;      // the short-form flag S
constexpr u8 TAG_ID_MASK = 0x3F;
constexpr u8 TAG_EXTENDED_ID = 63;  // the datatype id follows as a uvarint
constexpr u32 PATH_MAX_LENGTH = 65536;

// Flags byte of a context body.
constexpr u8 CB_KIND_MASK = 3;
constexpr u8 CB_ON_STACK = 4;
constexpr u8 CB_SELF = 8;
constexpr u8 CB_VALUES = 16;

// ---- fixed layout: bits of a record's header word -------------------------------------------------
constexpr u32 FX_UNIT_SHIFT = 8;          // unit size (text, binary!, vector!), tuple size
constexpr u32 FX_OP_SHIFT = 16;           // op!: the wrapped datatype
constexpr u32 FX_REF = 1u << 19;          // reference form: a reference tail stands for the contents
constexpr u32 FX_MONEY_NEGATIVE = 1u << 22;
constexpr u32 FX_COMPLEMENT = 1u << 23;   // bitset!
constexpr u32 FX_HANDLERS = 1u << 24;     // object!: two handler indexes follow
constexpr u32 FX_WORD_FLAG = 1u << 25;    // words: codec mode global, boot mode set-to-next
constexpr u32 FX_CTX_KIND_SHIFT = 26;     // context!: kind in bits 26-27
constexpr u32 FX_CTX_SELF = 1u << 28;
constexpr u32 FX_CTX_ON_STACK = 1u << 29;
constexpr u32 FX_CTX_VALUES = 1u << 30;
constexpr u32 FX_NEW_LINE = 1u << 31;
constexpr u32 FX_REFERENCE = 255;         // type byte of a reference record and tail

// ---- classes of datatypes ------------------------------------------------------------------------
inline bool word_record_type(u32 t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }
// Refused by both directions: access error no-codec.
inline bool refused_type(u32 t) {
    return t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT ||
           t == TYPE_EVENT;
}

// The shift of a unit size: 1, 2, 4 or 8 bytes give 0 to 3.
inline u32 log2_unit(u32 unit) { return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3; }

inline u32 load_le32(const u8* p) {
    return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}
inline void store_le32(u8* p, u32 v) {
    p[0] = static_cast<u8>(v);
    p[1] = static_cast<u8>(v >> 8);
    p[2] = static_cast<u8>(v >> 16);
    p[3] = static_cast<u8>(v >> 24);
}
// Signed integers as unsigned varints: small magnitudes of either sign stay
// short (0, -1, 1, -2 ... become 0, 1, 2, 3 ...).
inline u32 zigzag(i32 v) { return (static_cast<u32>(v) << 1) ^ static_cast<u32>(v >> 31); }
inline i32 unzigzag(u32 u) { return static_cast<i32>((u >> 1) ^ (0u - (u & 1))); }

// ---- decoding ----------------------------------------------------------------------------------
// A corrupt record: the 1-based byte position, counted as in the
// uncompressed image.
struct Corrupt {
    u32 position;
};
// An image refused as a whole (bad magic, rejected compressed data, too
// short for its layout).
struct BadImage {
    ZanbinBootStatus status;
};
// Decodes an image into the block node target, appending its root values;
// base_out receives the number of cells the block held before. Throws
// Corrupt and BadImage; errors raised by the datatypes pass through. Holds
// the collector off while it runs.
u32 decode_image(const u8* image, size_t length, Node target, bool codec, u32* base_out);

// Header flags of a function! that its spec's attribute block gives
// (trace, no-trace).
u32 function_flags_of_spec(Node spec);

}  // namespace zan::zanbin
