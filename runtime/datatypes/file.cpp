// file!: conversions between the system's file names and local (POSIX)
// names, the file! mold, and the I/O actions, which hand the file to the
// host I/O services.
#include "runtime/datatypes/file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/host_io.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"

namespace zan {

HostIoServices g_host_io{};

// ---- conversions ------------------------------------------------------------------------------

namespace {

// The code points that stand for the bytes 80-FF of a local name that are
// not UTF-8.
constexpr u32 kEscapedByteBase = 0xDC00;
constexpr u32 kEscapedFirst = 0xDC80, kEscapedLast = 0xDCFF;
}  // namespace

ValueCell* local_text_load(const u8* bytes, u32 length) {
    const u8* end = bytes + length;
    bool valid = true;
    for (const u8* p = bytes; p < end && valid;) {
        i32 cp;
        p = utf8_decode_char(p, end, &cp);
        valid = cp >= 0;
    }
    if (valid) return string_load_push(bytes, length, 0);
    ValueCell* s = string_push_new(length + 1);
    for (const u8* p = bytes; p < end;) {
        i32 cp;
        const u8* next = utf8_decode_char_lenient(p, end, &cp);
        if (cp >= 0) string_append_char(s, static_cast<u32>(cp));
        else
            for (const u8* b = p; b < next; b++) string_append_char(s, kEscapedByteBase + *b);
        p = next;
    }
    return s;
}

ValueCell* file_current_dir_prefix() {
    std::vector<char> buf(256);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE || buf.size() > (1u << 20)) {
            buf.assign(1, 0);
            break;
        }
        buf.resize(buf.size() * 2);
    }
    size_t n = std::strlen(buf.data());
    ValueCell* out = local_text_load(reinterpret_cast<const u8*>(buf.data()), static_cast<u32>(n));
    if (n && buf[n - 1] != '/') string_append_char(out, '/');
    return out;
}

void file_to_local(const ValueCell* file, ValueCell* target, bool current_dir) {
    ValueCell* saved = g_stack.top;
    ValueCell f = *file;
    ValueCell* held = stack_push(&f);
    string_head_ptr(held);  // clamps the index to the tail
    u32 start = static_cast<u32>(series_index(held) < 0 ? 0 : series_index(held));
    bool absolute = string_length(held) > 0 && string_char_at(held, start) == '/';
    if (current_dir && !absolute) {
        ValueCell* prefix = file_current_dir_prefix();
        string_concatenate(target, prefix, -1, 0, false, CONCAT_APPEND);
    }
    string_concatenate(target, held, -1, 0, false, CONCAT_APPEND);
    g_stack.top = saved;
}

bool local_text_bytes(const ValueCell* text, std::string* out) {
    ValueCell f = *text;
    const u8* p = string_head_ptr(&f);
    SeriesBuffer* b = series_of(&f);
    u32 unit = b->unit();
    u32 sh = unicode_unit_shift(unit);
    i32 n = string_length(&f);
    out->clear();
    out->reserve(static_cast<size_t>(n));
    u8 enc[4];
    for (i32 i = 0; i < n; i++) {
        u32 cp = unicode_get_unit(p + (static_cast<u32>(i) << sh), unit);
        if (cp == 0) return false;
        if (cp >= kEscapedFirst && cp <= kEscapedLast) {
            out->push_back(static_cast<char>(cp - kEscapedByteBase));
            continue;
        }
        u32 k = utf8_encode_char(cp, enc);
        out->append(reinterpret_cast<const char*>(enc), k);
    }
    return true;
}

std::string file_to_local_cstr(const ValueCell* file) {
    std::string out;
    if (!local_text_bytes(file, &out)) {
        // No local name holds a NUL: cutting the name there would name
        // another file.
        ValueCell f = *file;
        ValueCell* held = stack_push(&f);
        fire(Err::access_cannot_open, held);
    }
    return out;
}

ValueCell* file_load(const u8* bytes, u32 length) {
    ValueCell* r = string_load_push(bytes, length, 0);
    cell_set_type(r, TYPE_FILE);
    return r;
}

ValueCell* file_load_local(const u8* bytes, u32 length) {
    ValueCell* r = local_text_load(bytes, length);
    cell_set_type(r, TYPE_FILE);
    return r;
}

// ---- mold --------------------------------------------------------------------------------------------

i32 file_mold(ValueCell* file, ValueCell* out, bool, bool, bool, ValueCell* arg_limit, i32 limit,
              i32) {
    ValueCell f = *file;
    string_append_char(out, '%');
    i32 len = string_length(&f);
    if (len == 0) {
        string_append_cstr(out, "\"\"");
        return limit - 1;
    }
    // Quoted when an ASCII character outside the file-safe set occurs, or
    // a byte of a local name that is not UTF-8 (see file_load_local), which
    // only a caret escape writes.
    bool quoted = false;
    string_head_ptr(&f);  // clamps the index to the tail
    u32 start = static_cast<u32>(series_index(&f) < 0 ? 0 : series_index(&f));
    for (i32 i = 0; i < len && !quoted; i++) {
        u32 cp = string_char_at(&f, start + static_cast<u32>(i));
        if (cp < 127 && !url_file_safe_q(cp)) quoted = true;
        if (unicode_is_surrogate(cp)) quoted = true;
    }
    i32 n = len;
    if (arg_limit) n = limit < 0 ? 0 : (limit < len ? limit : len);
    if (quoted) string_append_char(out, '"');
    for (i32 i = 0; i < n; i++) {
        // Re-read each time: the output may grow and the collector move
        // the file's buffer.
        u32 cp = string_char_at(&f, start + static_cast<u32>(i));
        // Inside the quotes the characters that would end or change the
        // literal (a double quote, a caret, control characters) take their
        // caret escapes, so that the text loads back as the same name.
        if (quoted) string_mold_char(out, cp, MOLD_STRING_MODE, false);
        else string_append_char(out, cp);
    }
    if (quoted) string_append_char(out, '"');
    return limit - n - 1;
}

// ---- I/O actions ----------------------------------------------------------------------------------

ValueCell* file_read(ValueCell* file, ValueCell* part, ValueCell* seek, bool binary, bool lines,
                     bool, ValueCell* as) {
    if (as) fire(Err::internal_not_done);
    return g_host_io.io_read(file, part, seek, binary, lines);
}

ValueCell* file_write(ValueCell* file, ValueCell* data, bool binary, bool lines, bool,
                      bool append, ValueCell* part, ValueCell* seek, ValueCell* allow,
                      ValueCell* as) {
    if (allow || as) fire(Err::internal_not_done);
    return g_host_io.io_write(file, data, part, seek, binary, append, lines);
}

ValueCell* file_delete(ValueCell* file) {
    return logic_push(g_host_io.io_delete(file));
}

ValueCell* file_query(ValueCell* file) { return g_host_io.io_query(file); }

ValueCell* file_rename(ValueCell* from, ValueCell* to) {
    return logic_push(g_host_io.io_rename(from, to));
}

// ---- registration ------------------------------------------------------------------------------------

void file_init() {
    ActionRow row;
    row.set<ACT_MOLD>(file_mold)
        .set<ACT_DELETE>(file_delete)
        .set<ACT_QUERY>(file_query)
        .set<ACT_READ>(file_read)
        .set<ACT_RENAME>(file_rename)
        .set<ACT_WRITE>(file_write)
        .inherit({ACT_MAKE, ACT_TO, ACT_EVAL_PATH, ACT_FORM, ACT_COMPARE, ACT_APPEND, ACT_INSERT,
                  ACT_CHANGE, ACT_FIND, ACT_SELECT, ACT_SWAP, ACT_TAKE, ACT_AT, ACT_BACK,
                  ACT_CLEAR, ACT_COPY, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE,
                  ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SKIP, ACT_TAIL,
                  ACT_TAIL_Q, ACT_MODIFY});
    datatype_register(TYPE_FILE, row);
}

}  // namespace zan
