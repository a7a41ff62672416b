// Front end of the checksum native, and the random generator's entries
// that the datatypes' random actions reach through g_services.
//
// checksum turns its data into bytes (a binary! from its index, a string!
// as the UTF-8 of its text from its index, a file! read whole as binary),
// finds the method by the canonical symbol of its word and hands the rest
// to checksum_compute, which sums the bytes where they lie in the heap;
// the result is made after.
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/terminal/print_hooks.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/digest/checksum.h"
#include "runtime/digest/random.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/io/host/simple_io.h"

namespace zan {

namespace {

// ---- checksum ---------------------------------------------------------------------------

ValueCell* ref_arg(const i32* refs, u32 n) {
    return refs[n] == -1 ? nullptr : stack_arg(static_cast<u32>(refs[n]));
}

std::vector<u8> copy_bytes(const u8* p, i32 n) {
    return n > 0 ? std::vector<u8>(p, p + n) : std::vector<u8>();
}

// The UTF-8 text of any string-like value from its index.
std::vector<u8> utf8_bytes(ValueCell* text) {
    i32 n = -1;
    const char* p = unicode_to_utf8(text, &n);
    return copy_bytes(reinterpret_cast<const u8*>(p), n);
}

// The whole content of a file, read as binary into a binary! pushed on the
// data stack. A file that cannot be read (missing, unreadable, a
// directory) raises access error cannot-open.
ValueCell* file_content(ValueCell* file) {
    ValueCell* held = stack_push(file);
    std::string name = file_to_local_cstr(held);
    ValueCell* content =
        io_dir_path_q(name) ? nullptr : io_read_file(name.c_str(), -1, -1, true, false);
    if (!content || content->type() != TYPE_BINARY) fire(Err::access_cannot_open, held);
    return content;
}

// The value whose bytes are summed: a binary! as it is, a file! read whole
// into a binary!; any other type but string! raises invalid-arg.
ValueCell* data_value(ValueCell* data) {
    switch (data->type()) {
        case TYPE_BINARY:
        case TYPE_STRING: return data;
        case TYPE_FILE: return file_content(data);
        default: fire(Err::script_invalid_arg, data);
    }
}

// Prints one line of text to the console, as print does.
void print_notice(const char* text) {
    ValueCell* mark = g_stack.top;
    ValueCell* line = string_load_push(text, static_cast<u32>(std::strlen(text)), 0);
    print_hooks_call(line, true);
    g_print_last_newline = true;
    g_stack.top = mark;
}

// checksum data method /with spec
void native_checksum(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_CHECKSUM, refs);
    ValueCell* data = stack_arg(0);
    ValueCell* method_word = stack_arg(1);
    ValueCell* spec = ref_arg(refs, 0);

    // The bytes are summed where they lie, not copied out: the data is
    // read (a file) before anything else and its address taken after the
    // last allocation (a string's UTF-8 goes to its scratch buffer).
    ValueCell* source = data_value(data);

    ChecksumMethod method;
    if (method_word->type() != TYPE_WORD ||
        !checksum_method_of_symbol(symbol_resolve(word_symbol(method_word)), &method))
        fire(Err::script_invalid_arg, method_word);

    ChecksumWith with;
    std::vector<u8> key;
    if (spec) {
        if (spec->type() == TYPE_INTEGER) {
            with.kind = WithKind::integer;
            with.integer = integer_get(spec);
        } else if (spec->type() == TYPE_BINARY || type_string_like(spec->type())) {
            key = spec->type() == TYPE_BINARY
                      ? copy_bytes(binary_head_ptr(spec), binary_length(spec))
                      : utf8_bytes(spec);
            with.kind = WithKind::key;
            with.key_bytes = key.data();
            with.key_length = key.size();
        } else {
            fire(Err::script_invalid_arg, spec);
        }
    }

    const u8* bytes;
    size_t length;
    if (source->type() == TYPE_STRING) {
        i32 n = -1;
        bytes = reinterpret_cast<const u8*>(unicode_to_utf8(source, &n));
        length = static_cast<size_t>(n);
    } else {
        bytes = binary_head_ptr(source);
        length = static_cast<size_t>(binary_length(source));
    }
    ChecksumResult result;
    ChecksumStatus status;
    {
        GcHold hold;  // nothing allocates here; the bytes must not move
        status = checksum_compute(method, bytes, length, with, &result);
    }
    switch (status) {
        case ChecksumStatus::ok: break;
        case ChecksumStatus::invalid_refine_arg:
            fire(Err::script_invalid_refine_arg, g_refinements.with, method_word);
        case ChecksumStatus::invalid_arg: fire(Err::script_invalid_arg, method_word);
        default: fire(checksum_status_error(status));
    }

    if (result.notice) print_notice(result.notice);
    if (result.is_binary) binary_load_at(stack_result(), result.digest.bytes, result.digest.size);
    else integer_box(stack_result(), static_cast<i32>(result.integer));
}

// ---- the random generator for the datatypes -------------------------------------------------

void service_random_seed(u32 seed) { random_seed(static_cast<i32>(seed)); }
u32 service_random_next() { return static_cast<u32>(random_next()); }
u32 service_random_secure_next() { return static_cast<u32>(random_secure_next()); }
i32 service_random_int(i32 max, bool secure) { return random_int(secure, max); }

}  // namespace

void natives_checksum_init(NativeEntry* slots) {
    slots[NAT_CHECKSUM - 1] = native_checksum;
    g_services.random_seed = service_random_seed;
    g_services.random_next = service_random_next;
    g_services.random_secure_next = service_random_secure_next;
    g_services.random_int = service_random_int;
}

}  // namespace zan
