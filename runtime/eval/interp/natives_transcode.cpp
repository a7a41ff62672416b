// Front ends of transcode (the lexer's entry points) and of compress and
// decompress (deflate with its zlib and gzip framings): they turn the
// native's arguments into the arguments of those routines and shape the
// results.
#include <algorithm>
#include <cstring>
#include <span>
#include <strings.h>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/io/compress/compress.h"
#include "runtime/io/lexer/lexer.h"

namespace zan {

namespace {

bool given(const i32* refs, u32 n) { return refs[n] != -1; }
ValueCell* ref_arg(const i32* refs, u32 n) {
    return refs[n] == -1 ? nullptr : stack_arg(static_cast<u32>(refs[n]));
}

// ---- transcode --------------------------------------------------------------------------

// transcode src /next /one /prescan /scan /part length /into dst /trace callback
enum TranscodeRef : u32 { TR_NEXT, TR_ONE, TR_PRESCAN, TR_SCAN, TR_PART, TR_INTO, TR_TRACE };

void native_transcode(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_TRANSCODE, refs);
    bool next = given(refs, TR_NEXT);
    bool one = given(refs, TR_ONE);
    bool prescan = given(refs, TR_PRESCAN);
    bool scan = given(refs, TR_SCAN);
    ValueCell* part = ref_arg(refs, TR_PART);
    ValueCell* into = ref_arg(refs, TR_INTO);
    ValueCell* callback = ref_arg(refs, TR_TRACE);
    bool pair_result = next && (!one || scan);
    bool one_value = next || one || scan;

    // The source (kept on the stack for the collector and for the rest
    // position) and the cell that receives the lexer's result.
    ValueCell* src = stack_push(stack_arg(0));
    ValueCell* result = unset_push();
    bool binary = src->type() == TYPE_BINARY;

    i32 rest = series_remaining(src, false);
    i32 length = rest;
    if (part) {
        if (part->type() == TYPE_INTEGER) {
            length = integer_get(part);
        } else if (part->type() == src->type()) {
            // A position ends the part only in the source itself.
            if (series_node(part) != series_node(src)) fire(Err::script_invalid_refine_arg, g_refinements.part, part);
            ValueCell end = *part;
            series_remaining(&end, false);  // an index past the tail is clamped
            length = series_index(&end) - series_index(src);
        } else {
            fire(Err::script_not_same_type);
        }
        if (length < 0) length = 0;
        if (length > rest) length = rest;
    }

    i32 consumed = 0;
    i32 type;
    if (binary) {
        const u8* bytes = series_head_address(src);
        if (length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
            series_set_index(src, series_index(src) + 3);
            length -= 3;
        }
        bytes = series_head_address(src);
        type = lexer_transcode(result, bytes, static_cast<u32>(length), one_value, !prescan,
                               !scan, 0, &consumed, callback, src, into);
    } else {
        type = lexer_scan_string(result, src, length, one_value, !prescan, !scan, 0, &consumed,
                                 callback, into);
    }

    if (prescan || scan) {
        if (length == 0 || type == 0) none_box(result);
        else datatype_box(result, type < 0 ? static_cast<u32>(TYPE_ERROR) : static_cast<u32>(type));
    }

    if (into) {
        stack_set_last(into);
        return;
    }
    if (pair_result) {
        ValueCell* pair = block_push_new(2);
        block_append_cell(pair, result);
        ValueCell after = *src;
        series_set_index(&after, series_index(src) + consumed);
        block_append_cell(pair, &after);
        stack_set_last(pair);
        return;
    }
    stack_set_last(result);
}

// ---- compress and decompress ----------------------------------------------------------------

// The method word: zlib, deflate or gzip (case-insensitively); any other
// word raises invalid-arg with the word.
CompressMethod method_arg(const ValueCell* word) {
    const char* name = symbol_to_cstr(word_symbol(word));
    if (strcasecmp(name, "zlib") == 0) return CompressMethod::zlib;
    if (strcasecmp(name, "deflate") == 0) return CompressMethod::deflate;
    if (strcasecmp(name, "gzip") == 0) return CompressMethod::gzip;
    fire(Err::script_invalid_arg, word);
}

// The bytes of a binary! from its index, or the UTF-8 text of a string
// from its index, copied out of the heap (the buffers move during
// collections).
std::vector<u8> data_bytes(ValueCell* data) {
    if (data->type() == TYPE_BINARY) {
        const u8* p = binary_head_ptr(data);
        return std::vector<u8>(p, p + binary_length(data));
    }
    i32 n = -1;
    const char* text = unicode_to_utf8(data, &n);
    return std::vector<u8>(reinterpret_cast<const u8*>(text),
                           reinterpret_cast<const u8*>(text) + n);
}

// A new binary! holding the bytes, in the result cell.
void binary_result(const std::vector<u8>& bytes) {
    binary_load_at(stack_result(), bytes.data(), static_cast<u32>(bytes.size()));
}

// Decompresses the bytes of a binary! (from its index) or the UTF-8 of a
// string into a new binary! in the result cell, both where they lie in
// the heap: the output's buffer is made at the size the stream suggests
// and grows as needed, and the collector is held off meanwhile so that
// neither buffer moves. A stream that does not decode raises invalid-data.
void decompress_in_heap(CompressMethod method, ValueCell* data, size_t limit) {
    const u8* in;
    size_t len;
    if (data->type() == TYPE_BINARY) {
        in = binary_head_ptr(data);
        len = static_cast<size_t>(binary_length(data));
    } else {
        i32 n = -1;
        in = reinterpret_cast<const u8*>(unicode_to_utf8(data, &n));
        len = static_cast<size_t>(n);
    }
    std::span<const u8> input(in, len);
    size_t hint = std::min<size_t>(decompress_size_hint(method, input, limit), 0x7FFFFFF0u);
    ValueCell* result = stack_result();
    GcHold hold;
    binary_make_at(result, static_cast<u32>(hint));
    OutputBuffer out;
    out.owner = result;
    out.data = series_of(result)->head_ptr();
    out.room = series_of(result)->size;
    out.grow = [](OutputBuffer& o, size_t want) {
        if (want > 0x7FFFFFF0u) return false;
        SeriesBuffer* b = series_grow(series_of(static_cast<ValueCell*>(o.owner)),
                                      static_cast<u32>(want));
        o.data = b->head_ptr();
        o.room = b->size;
        return true;
    };
    if (decompress_into(method, input, out, limit) != CompressStatus::ok)
        fire(Err::script_invalid_data);
    SeriesBuffer* b = series_of(result);
    b->tail = b->head + static_cast<u32>(out.size);
}

void native_compress(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_COMPRESS, refs);
    CompressMethod method = method_arg(stack_arg(1));
    std::vector<u8> in = data_bytes(stack_arg(0));
    std::vector<u8> out;
    if (compress_bytes(method, std::span<const u8>(in), out) != CompressStatus::ok)
        fire(Err::script_invalid_data);
    binary_result(out);
}

// decompress data method /size sz
void native_decompress(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_DECOMPRESS, refs);
    CompressMethod method = method_arg(stack_arg(1));
    // A positive /size bounds the output (not for gzip, whose trailer
    // records the size); more output than that is an error.
    size_t limit = DECOMPRESS_DEFAULT_LIMIT;
    ValueCell* size = ref_arg(refs, 0);
    if (size && method != CompressMethod::gzip) {
        i32 sz = integer_get(size);
        if (sz > 0 && static_cast<size_t>(sz) < limit) limit = static_cast<size_t>(sz);
    }
    decompress_in_heap(method, stack_arg(0), limit);
}

}  // namespace

void natives_transcode_init(NativeEntry* slots) {
    slots[NAT_TRANSCODE - 1] = native_transcode;
    slots[NAT_COMPRESS - 1] = native_compress;
    slots[NAT_DECOMPRESS - 1] = native_decompress;
}

}  // namespace zan
