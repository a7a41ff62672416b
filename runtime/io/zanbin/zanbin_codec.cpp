// The entry points of ZANBIN decoding (codec use and start-up) and the
// routines behind system/codecs/zanbin.
#include "runtime/core/errors.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/io/zanbin/zanbin.h"
#include "runtime/io/zanbin/zanbin_internal.h"

namespace zan {

bool g_zanbin_codec_mode = false;
ZanbinReadFn g_zanbin_read_hook = nullptr;

u32 zanbin_decode(const u8* data, size_t length, ValueCell* target, const ValueCell* input) {
    g_zanbin_codec_mode = true;
    ValueCell* top = g_stack.top;
    ValueCell in;
    if (input) in = *input;
    u32 position = 0;
    try {
        return zanbin::decode_image(data, length, block_node(target), true, nullptr);
    } catch (const zanbin::Corrupt& c) {
        position = c.position;
    } catch (const zanbin::BadImage&) {
        position = 0;
    }
    g_stack.top = top;
    if (!position) fire(Err::script_invalid_data, input ? &in : nullptr);
    ValueCell pos;
    integer_box(&pos, static_cast<i32>(position));
    fire(Err::script_zb_invalid_record, &pos);
}

ZanbinBootResult zanbin_boot_decode(std::span<const u8> image, bool keep_table) {
    g_zanbin_codec_mode = false;
    ZanbinBootResult result;
    const u32 saved_first = g_boot_cells_first;
    ValueCell* top = g_stack.top;
    ValueCell* base = g_stack.base;
    CallFrame* ctop = g_stack.ctop;
    // A try frame catches what the datatypes raise: a start-up image that
    // makes them fail is a corrupt image, reported like the others.
    ValueCell frame_word;
    cell_init(&frame_word, TYPE_WORD, 0, g_words.n.try_ ? word_symbol(g_words.n.try_) : 0,
              static_cast<u32>(-1));
    stack_mark_try(&frame_word);
    try {
        u32 first = 0;
        result.values = zanbin::decode_image(image.data(), image.size(), block_node(&g_root_block),
                                             false, &first);
        g_boot_cells_first = first;
    } catch (const zanbin::Corrupt& c) {
        result.status = ZanbinBootStatus::corrupt;
        result.position = c.position;
    } catch (const zanbin::BadImage& b) {
        result.status = b.status;
    } catch (const ThrowSignal&) {
        result.status = ZanbinBootStatus::corrupt;
    }
    g_stack.top = top;
    g_stack.base = base;
    g_stack.ctop = ctop;
    if (keep_table) g_boot_cells_first = saved_first;
    return result;
}

const char* zanbin_boot_status_message(ZanbinBootStatus status) {
    switch (status) {
        case ZanbinBootStatus::ok: return nullptr;
        case ZanbinBootStatus::not_zanbin: return "Error: Not a Zanbin file!";
        case ZanbinBootStatus::compressed_corrupt: return "Error: Zanbin compressed data corrupted!";
        case ZanbinBootStatus::corrupt: return "Error: Zanbin boot image corrupted!";
    }
    return nullptr;
}

// ---- routines ------------------------------------------------------------------------------------

void zanbin_routine_encode_star() {
    ValueCell data = *stack_arg(0);
    bool compact = logic_cell_true_q(stack_arg(1), false, nullptr);
    ZanbinEncodeOptions options;
    options.compact = compact;
    std::vector<u8> bytes = zanbin_encode_bytes(&data, options);
    ValueCell* top = g_stack.top;
    ValueCell* made = binary_load(ByteSource(bytes.data()), static_cast<u32>(bytes.size()));
    ValueCell result = *made;
    g_stack.top = top;
    stack_set_last(&result);
}

void zanbin_routine_decode() {
    ValueCell* top = g_stack.top;
    ValueCell* payload = stack_push(stack_arg(0));
    u32 t = payload->type();
    ValueCell* bytes = nullptr;
    if (t == TYPE_BINARY) {
        bytes = payload;
    } else if (t == TYPE_FILE || t == TYPE_URL) {
        bytes = unset_push();
        if (!g_zanbin_read_hook(payload, bytes) || bytes->type() != TYPE_BINARY)
            fire(Err::script_invalid_data, payload);
    } else {
        fire(Err::script_invalid_data, payload);
    }
    i32 n = binary_length(bytes);
    if (n <= 10) fire(Err::script_invalid_data, payload);
    ValueCell* out = block_push_new(1);
    // The decoder holds the collector off, so the bytes stay where they are.
    zanbin_decode(binary_head_ptr(bytes), static_cast<size_t>(n), out, payload);
    ValueCell result = block_length(out) == 1 ? *block_head_ptr(out) : *out;
    g_stack.top = top;
    stack_set_last(&result);
}

}  // namespace zan
