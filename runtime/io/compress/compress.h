// The system's own compression codecs, as plain byte-level routines:
//
//   - the LZ codec: a 256 KB-window dictionary coder whose literal and match
//     codes are packed into a bit stream, in independent blocks of at most
//     1 MB (the compressed form of ZANBIN images and boot data records);
//   - deflate with its zlib and gzip framings (the `compress` and
//     `decompress` natives).
//
// Two layers are offered:
//
//   compress_bytes / decompress_bytes: the interface to call. The result goes
//   into a std::vector that grows as output is produced, under a caller-given
//   cap; every failure is a CompressStatus, never partial data reported as a
//   success. Sizes recorded inside a stream (the gzip trailer's ISIZE, the
//   LZ header) are checked against what the data really produces and never
//   decide an allocation on their own.
//
//   The buffer routines (deflate_compress, inflate_decompress, zlib_*,
//   gzip_*, lz_compress, lz_decompress): the caller-owned-buffer form with
//   small integer result codes, for callers that size their buffer first.
//   Apart from lz_decompress nothing calls them yet (the natives go through
//   the two above); they stay for code that fills a buffer it already owns,
//   and their tests check them against the same streams.
//
// Nothing here raises a language error or touches the collected heap.
#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

enum class CompressMethod : u8 { lz, deflate, zlib, gzip };

enum class CompressStatus : u8 {
    ok,
    truncated,       // the stream ends before its end marker or trailer
    corrupt,         // an invalid code, block or back-reference
    bad_header,      // a zlib or gzip header that is not valid
    bad_checksum,    // the Adler-32 or CRC-32 of the output does not match
    bad_size,        // a size recorded in the stream disagrees with the data
    trailing_data,   // bytes follow the end of the stream
    too_large,       // the output would pass the caller's limit
    invalid_level,   // a compression level outside 0..9
};

// Levels: 0 writes the data in stored deflate blocks (no compression); 1 to 9
// all run the one compressor of the system (a single pass with a small hash
// of recent positions, one final block of the fixed Huffman codes). The LZ
// method has a single mode and only checks that the level is in range.
constexpr int COMPRESS_LEVEL_STORE = 0;
constexpr int COMPRESS_LEVEL_DEFAULT = 6;

// The output cap decompress_bytes applies when the caller gives none: 1 GiB.
constexpr size_t DECOMPRESS_DEFAULT_LIMIT = size_t{1} << 30;


// Compresses `in` with `method`, replacing the contents of `out`. Always
// succeeds for a level in 0..9: every method accepts any input, including
// empty input and data that already looks compressed, and
// decompress_bytes(method, out) gives `in` back.
CompressStatus compress_bytes(CompressMethod method, std::span<const u8> in,
                              std::vector<u8>& out,
                              int level = COMPRESS_LEVEL_DEFAULT);

// Decompresses the whole of `in`, replacing the contents of `out`. The stream
// must be complete and consistent: a truncated or corrupt stream, a checksum
// or size mismatch, or bytes after the stream's end (except after an LZ
// stream, whose header gives its extent) are errors. More than `max_output`
// bytes of output is `too_large`. On an error `out` is left empty.
// gzip input may hold several members one after another; their outputs are
// concatenated.
CompressStatus decompress_bytes(CompressMethod method, std::span<const u8> in,
                                std::vector<u8>& out,
                                size_t max_output = DECOMPRESS_DEFAULT_LIMIT);

// Where a decompressor writes when the caller owns the memory: `data` holds
// `room` bytes of which the first `size` are written. When more room is
// needed the decompressor calls grow with the total room it wants; grow
// updates data and room (to at least that) and returns false when it
// cannot. The bytes past `size` need not be cleared.
struct OutputBuffer {
    u8* data = nullptr;
    size_t size = 0;
    size_t room = 0;
    bool (*grow)(OutputBuffer& out, size_t want) = nullptr;
    void* owner = nullptr;  // for grow
};

// decompress_bytes writing into a caller's buffer (emptied first), with
// the same checks and statuses. On an error `out.size` is 0.
CompressStatus decompress_into(CompressMethod method, std::span<const u8> in, OutputBuffer& out,
                               size_t max_output = DECOMPRESS_DEFAULT_LIMIT);
// The room worth giving decompress_into at first: a gzip stream's recorded
// size (only a hint, bounded by what the input can expand to and by
// max_output), else four times the input.
size_t decompress_size_hint(CompressMethod method, std::span<const u8> in, size_t max_output);

// ---------------------------------------------------------------------------
// LZ codec, buffer form.

// Compresses n bytes of src into out, which has room for at least n bytes,
// and returns the stream's total size. Returns -1 when n is 127 or less or
// when the stream would not fit in n bytes: the caller then keeps the data
// uncompressed. For a stream whatever the input, use compress_bytes.
i64 lz_compress(const u8* src, size_t n, u8* out);

// Decompresses the LZ stream at the start of `stream` into `out` (replaced).
// Bytes after the extent recorded in the stream's header are ignored.
CompressStatus lz_decompress(std::span<const u8> stream, std::vector<u8>& out,
                             size_t max_output = DECOMPRESS_DEFAULT_LIMIT);

// ---------------------------------------------------------------------------
// Deflate family, buffer form. Each routine takes the output buffer, one size
// slot that holds its capacity on entry and the written (or needed) size on
// return, and the input. `out` may be null when the capacity is 0.

enum DeflateResult : int {
    DEFLATE_OK = 0,
    DEFLATE_NO_ROOM = 1,         // output did not fit: size holds what it needs
    DEFLATE_BAD_DATA = 2,        // bad header, checksum or size; or bytes left
                                 // after the end of a raw deflate stream
    DEFLATE_STORED_OVERRUN = 3,  // a stored block longer than the input left
    DEFLATE_BAD_BLOCK_TYPE = 4,  // block type 3
    DEFLATE_BAD_DISTANCE = 5,    // a distance reaching before the output start
    DEFLATE_TRUNCATED = 6,       // the input ends inside the stream
    DEFLATE_BAD_CODE = 7,        // an invalid Huffman code or code table
    DEFLATE_TOO_LARGE = 8,       // output beyond DECOMPRESS_DEFAULT_LIMIT
};

// One final block of fixed Huffman codes. 0, or 1 with the needed size.
int deflate_compress(u8* out, size_t& size, const u8* in, size_t len);
// 0x78 0x01, deflate, Adler-32 (most significant byte first). 2 with size
// len + 6 when the capacity is under 6; 1 with the needed size when the
// result does not fit.
int zlib_compress(u8* out, size_t& size, const u8* in, size_t len);
// A 10-byte header (no name, time 0, XFL 4, OS 4), deflate, CRC-32 and the
// input length (least significant byte first). 2 with size len + 18 when the
// capacity is under 18; 1 with the needed size when the result does not fit.
int gzip_compress(u8* out, size_t& size, const u8* in, size_t len);

// The decompressors decode the whole input first (under
// DECOMPRESS_DEFAULT_LIMIT) and check it; a valid stream whose output does
// not fit gives 1 with the true output size, so a size pass with a null
// buffer never reports a size the data does not produce. On other codes the
// buffer holds as much of the output as was decoded and fits.
int inflate_decompress(u8* out, size_t& size, const u8* in, size_t len);
int zlib_decompress(u8* out, size_t& size, const u8* in, size_t len);
int gzip_decompress(u8* out, size_t& size, const u8* in, size_t len);

}  // namespace zan
