// ZANBIN: the binary serialisation of values. Any tree of values (blocks,
// text, words with their bindings, objects, functions, errors, maps and the
// scalar types) becomes one byte string and comes back with its sharing,
// cycles and bindings intact.
//
// An image is the magic "ZANBIN", a version byte, a flags byte (bit 0 compact
// layout, bit 1 LZ-compressed, bit 2 symbol table present) and then the
// records in one of two layouts: the fixed layout (every field a 32-bit
// little-endian word) or the compact layout (variable-length integers, short
// forms, one-byte tags).
//
// Two modes:
//   codec mode (save/load and the C++ callers below): one root value; words
//     keep their bindings through inline owners and reference paths;
//   boot mode (the embedded boot image): any number of root values decoded
//     into the root block, which then holds the global cell table; words may
//     be bound to the context of an earlier root value, and a root record may
//     set a word instead of staying in the block.
//
// The encoder never allocates in the collected heap while it walks a value
// (it writes into C++ buffers), so the value only has to be reachable. The
// decoder holds the collector off while it runs. A corrupt or truncated image
// never crashes the decoder: every read is checked against the end of the
// data and the nesting depth is bounded.
#pragma once
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// ---- constants of the container --------------------------------------------------------------
constexpr u8 ZANBIN_VERSION = 2;       // written by the codec's encoders
constexpr u8 ZANBIN_BOOT_VERSION = 1;  // carried by boot images; never checked
constexpr u8 ZANBIN_FLAG_COMPACT = 1;
constexpr u8 ZANBIN_FLAG_COMPRESSED = 2;
constexpr u8 ZANBIN_FLAG_SYMBOLS = 4;
// Records nested deeper than this are refused: the encoder raises internal
// too-deep, the decoder calls the image corrupt.
constexpr u32 ZANBIN_MAX_DEPTH = 1024;

// The mode flag `codec?`: set by every encode and by the codec's decode,
// cleared by zanbin_boot_decode. It selects how words and the set-word
// prefix are read.
extern bool g_zanbin_codec_mode;

// ---- encoding --------------------------------------------------------------------------------
struct ZanbinEncodeOptions {
    bool compact = true;    // the compact layout, else the fixed layout
    bool compress = false;  // LZ-compress everything after the first 8 bytes
};

// The image of one value (its single root record), in codec mode. Raises the
// access error no-codec (with the datatype) for routine!, triple!, handle!,
// port!, event!, an op! made from a routine! and the internal types symbol!,
// context! and series!; internal too-deep for values nested deeper than
// ZANBIN_MAX_DEPTH. A word keeps its binding when its context belongs to an
// object! or a function! (or to an error! written before it); any other
// word, unbound ones included, comes back bound to the global context.
std::vector<u8> zanbin_encode_bytes(const ValueCell* value, const ZanbinEncodeOptions& options);

// The value-level encoders for a native that returns a ZANBIN binary!
// directly; the codec encodes through zanbin_encode_bytes.
// The codec's encoders: a new binary! pushed on the data stack, fixed and
// compact layout.
ValueCell* zanbin_encode(const ValueCell* value);
ValueCell* zanbin_encode_compact(const ValueCell* value);

// The writer of boot images: root values in order, and assignments (a word
// and the value it is set to when the image is decoded, neither of which
// stays in the root block). A word bound to the context of an earlier root
// value (an object!, function! or error!) keeps that binding; other words are
// written bound to the global context. Shared series and cycles are written
// once and referred to afterwards, as in codec mode. `preset_symbols` are
// placed first in the symbol table, in order, so that decoding interns them
// first. The image carries version 1 (ZANBIN_BOOT_VERSION). An error raised
// while a value is added (no-codec, too-deep) leaves the writer unusable.
class ZanbinBootWriter {
public:
    explicit ZanbinBootWriter(const ZanbinEncodeOptions& options,
                              const std::vector<std::string>& preset_symbols = {});
    ~ZanbinBootWriter();
    ZanbinBootWriter(const ZanbinBootWriter&) = delete;
    ZanbinBootWriter& operator=(const ZanbinBootWriter&) = delete;

    // Root value number n is the n-th call to add_root.
    void add_root(const ValueCell* value);
    // word: any word type bound to the global context or to the context of
    // an earlier root value.
    void add_assignment(const ValueCell* word, const ValueCell* value);
    // The image of everything added so far (header, symbol table, records).
    std::vector<u8> finish();

private:
    struct State;
    State* state_;
};

// ---- decoding ---------------------------------------------------------------------------------
// Decodes an image in codec mode, appending the values to the block `target`
// (kept reachable by the caller). Returns the number of values appended.
// Raises script invalid-data (with `input`, which may be null) for a bad
// magic, rejected compressed data or a fixed image shorter than 16 bytes,
// script zb-invalid-record with the 1-based byte position of a corrupt
// record, access no-codec for a refused datatype. Values decoded before an
// error stay in the target (possibly incomplete: drop them). Positions
// inside compressed data are counted as in the uncompressed image (8 plus
// the offset in the decompressed bytes).
u32 zanbin_decode(const u8* data, size_t length, ValueCell* target,
                  const ValueCell* input = nullptr);

enum class ZanbinBootStatus {
    ok,
    not_zanbin,          // the magic is missing
    compressed_corrupt,  // the LZ stream was rejected
    corrupt,             // a corrupt record, or an error raised while decoding
};
struct ZanbinBootResult {
    ZanbinBootStatus status = ZanbinBootStatus::ok;
    u32 position = 0;  // 1-based byte position of a corrupt record, else 0
    u32 values = 0;    // root values appended
};
// Start-up: decodes the embedded image into the root block in boot mode with
// the collector held off, and points the global cell table
// (g_boot_cells_first, boot_cell_at) at the first value it appends. With
// keep_table the table's previous position is kept. Reference paths count
// from the first value this decode appends, so an image reads the same
// wherever the root block ends. Never raises: the boot
// code reports a failure (zanbin_boot_status_message) and ends the process
// with a non-zero status.
ZanbinBootResult zanbin_boot_decode(std::span<const u8> image, bool keep_table);
// "Error: Not a Zanbin file!", "Error: Zanbin compressed data corrupted!",
// "Error: Zanbin boot image corrupted!" (null for ok).
const char* zanbin_boot_status_message(ZanbinBootStatus status);

// ---- the codec routines ---------------------------------------------------------------------------
// Entries of the routines behind system/codecs/zanbin, called like natives:
// they read the argument frame and leave the result in the result cell.
//   encode* data [any-type!] compact? [logic!]: the image as a new binary!;
//   decode payload [any-type!]: a binary! (from its index), or a file! or
//     url! read first; anything else, or a binary of 10 bytes or fewer,
//     raises script invalid-data with the payload. The result is the only
//     value decoded, or a block of all of them.
void zanbin_routine_encode_star();
void zanbin_routine_decode();

// How the decode routine reads a file! or url! payload: the bytes as a new
// binary! in out; false when nothing could be read (errors of reading may
// also be raised by the hook itself). Installed by the file and network I/O
// layer; while it is null such payloads raise internal not-done.
using ZanbinReadFn = bool (*)(const ValueCell* source, ValueCell* out);
extern ZanbinReadFn g_zanbin_read_hook;

}  // namespace zan
