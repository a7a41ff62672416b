// url!: percent-encoding, make and to from a block, the mold, path access
// (shared with file!) and the I/O actions.
#include "runtime/datatypes/url.h"

#include <cstring>
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/typesystem/host_io.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The 128-entry class tables: bit 0 file-safe, bit 1 unreserved.
struct UrlClasses {
    u8 bits[128] = {};
    UrlClasses() {
        for (int c = 0; c < 128; c++) {
            bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            if (alnum) bits[c] = 3;
        }
        for (const char* p = "!#$&'()*+,-./:=?@_~"; *p; p++) bits[static_cast<u8>(*p)] |= 1;
        for (const char* p = "-._~"; *p; p++) bits[static_cast<u8>(*p)] |= 2;
    }
};
const UrlClasses kClasses;

inline i32 hex_digit(u8 c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The UTF-8 bytes of a text value from its head.
std::vector<u8> utf8_of(const ValueCell* text) {
    ValueCell t = *text;
    const u8* p = string_head_ptr(&t);
    SeriesBuffer* b = series_of(&t);
    u32 unit = b->unit();
    u32 sh = unicode_unit_shift(unit);
    i32 n = string_length(&t);
    std::vector<u8> out;
    out.reserve(static_cast<size_t>(n));
    u8 enc[4];
    for (i32 i = 0; i < n; i++) {
        u32 k = utf8_encode_char(unicode_get_unit(p + (static_cast<u32>(i) << sh), unit), enc);
        out.insert(out.end(), enc, enc + k);
    }
    return out;
}

// Forms a value and appends its text.
void form_into(ValueCell* out, const ValueCell* value) {
    ValueCell* saved = g_stack.top;
    ValueCell v = *value;
    ValueCell* held = stack_push(&v);
    action_form_dispatch(held, out, nullptr, FORM_NO_LIMIT);
    g_stack.top = saved;
}

// A string of the URL's parts: scheme "://" host [":" port] ["/" path...],
// a segment that is an issue! joined with "#".
ValueCell* url_from_block(ValueCell* spec, u32 type) {
    ValueCell s = *spec;
    ValueCell* held = stack_push(&s);
    i32 len = series_buffer_length(held);
    i32 start = series_index(held) < 0 ? 0 : series_index(held);
    std::vector<ValueCell> items;
    if (start < len) {
        const ValueCell* cells = series_of(held)->head_cells() + start;
        items.assign(cells, cells + (len - start));
    }
    if (items.empty()) {
        ValueCell* dt = datatype_push(TYPE_URL);
        fire(Err::script_bad_to_arg, dt, held);
    }
    ValueCell* out = string_push_new(32);
    form_into(out, &items[0]);
    string_append_cstr(out, "://");
    if (items.size() > 1) form_into(out, &items[1]);
    size_t i = 2;
    if (i < items.size() && items[i].type() == TYPE_INTEGER) {
        string_append_char(out, ':');
        form_into(out, &items[i]);
        i++;
    }
    for (size_t j = i; j < items.size(); j++) {
        if (j == i) string_append_char(out, '/');
        else string_append_char(out, items[j].type() == TYPE_ISSUE ? '#' : '/');
        form_into(out, &items[j]);
    }
    cell_set_type(out, type);
    ValueCell r = *out;
    *held = r;
    g_stack.top = held + 1;
    return held;
}

inline bool block_spec(u32 t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

// access no-connect with the URL and the reason the HTTP service gives.
[[noreturn]] void fire_no_connect(ValueCell* url) {
    const char* why = g_host_io.http_failure();
    ValueCell* reason = string_load_push(why, static_cast<u32>(std::strlen(why)), 0);
    fire(Err::access_no_connect, url, reason);
}

ValueCell* method_word(const char* name) { return word_push_symbol(symbol_make(name)); }

bool http_scheme_q(ValueCell* url) {
    ValueCell u = *url;
    return string_starts_with_cstr(&u, "http");
}

}  // namespace

// ---- classes and escapes ------------------------------------------------------------------------

bool url_file_safe_q(u32 cp) { return cp < 127 && (kClasses.bits[cp] & 1); }
bool url_unreserved_q(u32 cp) { return cp < 127 && (kClasses.bits[cp] & 2); }

const char* url_escape_text(u8 byte) {
    static char buf[4];
    buf[0] = '%';
    buf[1] = kHex[byte >> 4];
    buf[2] = kHex[byte & 15];
    buf[3] = 0;
    return buf;
}

const char* url_encode_char(u32 selector, u8 byte, u32* count) {
    static char buf[4];
    bool keep = selector == URL_UNRESERVED ? url_unreserved_q(byte) : url_file_safe_q(byte);
    if (keep) {
        buf[0] = static_cast<char>(byte);
        buf[1] = 0;
        *count = 1;
    } else {
        *count = 3;
        return url_escape_text(byte);
    }
    return buf;
}

void url_encode(const ValueCell* text, ValueCell* target, u32 selector) {
    std::vector<u8> bytes = utf8_of(text);
    for (u8 b : bytes) {
        u32 n;
        string_append_cstr(target, url_encode_char(selector, b, &n));
    }
}

namespace {

// The byte of the escape at p, or -1 when no escape starts there.
i32 escaped_byte(const u8* p, const u8* end) {
    if (end - p < 3 || p[0] != '%') return -1;
    i32 h = hex_digit(p[1]), l = hex_digit(p[2]);
    return h < 0 || l < 0 ? -1 : h * 16 + l;
}

// Characters that delimit the parts of a URL and that a url! molds plainly
// ("[", "]" and ";" always mold escaped, so their escapes need no keeping).
bool url_delimiter_q(i32 b) { return b > 0 && b < 128 && std::strchr(":/?#@!$&'()*+,=", b); }

// Whether the bytes from p start with two hexadecimal digits once decoded
// (each written plain or escaped).
bool hex_pair_at(const u8* p, const u8* end) {
    for (int k = 0; k < 2; k++) {
        i32 b = escaped_byte(p, end);
        u8 c = b >= 0 ? static_cast<u8>(b) : p < end ? *p : 0;
        if (hex_digit(c) < 0) return false;
        p += b >= 0 ? 3 : 1;
    }
    return true;
}

}  // namespace

i32 url_kept_escape(const u8* p, const u8* end) {
    i32 b = escaped_byte(p, end);
    return url_delimiter_q(b) || (b == '%' && hex_pair_at(p + 3, end)) ? b : -1;
}

namespace {

void decode_escapes(const ValueCell* text, ValueCell* target) {
    std::vector<u8> bytes = utf8_of(text);
    const u8* p = bytes.data();
    const u8* end = p + bytes.size();
    while (p < end) {
        i32 b = escaped_byte(p, end);
        if (b < 0) {
            // A raw character (or a "%" without two digits).
            i32 cp;
            const u8* next = utf8_decode_char(p, end, &cp);
            string_append_char(target, cp < 0 ? *p : static_cast<u32>(cp));
            p = next > p ? next : p + 1;
            continue;
        }
        if (b < 0x80) {
            string_append_char(target, static_cast<u32>(b));
            p += 3;
            continue;
        }
        // A lead byte takes the escapes of its continuation bytes with it.
        u32 n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        u8 seq[4] = {static_cast<u8>(b)};
        bool whole = n > 0;
        for (u32 k = 1; whole && k < n; k++) {
            i32 c = escaped_byte(p + 3 * k, end);
            if (c < 0x80 || c > 0xBF) whole = false;
            else seq[k] = static_cast<u8>(c);
        }
        i32 cp = -1;
        if (whole) utf8_decode_char(seq, seq + n, &cp);
        if (cp < 0) {
            // Not a character: the escape stays as it is written.
            string_append_char(target, '%');
            p += 1;
            continue;
        }
        string_append_char(target, static_cast<u32>(cp));
        p += 3 * n;
    }
}

}  // namespace

void url_decode(const ValueCell* text, ValueCell* target) { decode_escapes(text, target); }

ValueCell* url_to_port(ValueCell* url, bool open, bool new_, bool read, bool write, bool seek,
                       ValueCell* allow) {
    ValueCell u = *url;
    ValueCell* held = stack_push(&u);
    ValueCell* spec = g_host_io.parse_url(held);
    if (spec->type() != TYPE_OBJECT) fire(Err::script_invalid_arg, held);
    ValueCell* proto = datatype_push(TYPE_PORT);
    ValueCell* port = action_make_dispatch(proto, spec);
    if (open) port = action_open_dispatch(port, new_, read, write, seek, allow);
    ValueCell r = *port;
    *held = r;
    g_stack.top = held + 1;
    return held;
}

// ---- make, to and mold -----------------------------------------------------------------------------

ValueCell* url_make(ValueCell* proto, ValueCell* spec, u32 type) {
    if (type == TYPE_URL && block_spec(spec->type())) return url_from_block(spec, type);
    return string_make(proto, spec, type);
}

ValueCell* url_to(ValueCell* proto, ValueCell* spec, u32 type) {
    if (type == TYPE_URL && block_spec(spec->type())) return url_from_block(spec, type);
    return string_to(proto, spec, type);
}

i32 url_mold(ValueCell* url, ValueCell* out, bool, bool, bool, ValueCell* arg_limit, i32 limit,
             i32) {
    std::vector<u8> bytes = utf8_of(url);
    const u8* end = bytes.data() + bytes.size();
    for (size_t i = 0; i < bytes.size(); i++) {
        if (arg_limit && limit <= 0) break;
        u8 b = bytes[i];
        // An escape the text keeps (an escaped delimiter, see
        // url_kept_escape) is written as it is; any other "%" is a
        // character of the URL and is escaped like the others.
        if (b == '%' && url_kept_escape(bytes.data() + i, end) >= 0) {
            string_append_char(out, '%');
            limit -= 1;
            continue;
        }
        u32 n;
        string_append_cstr(out, url_encode_char(URL_FILE_SAFE, b, &n));
        limit -= static_cast<i32>(n);
    }
    return limit;
}

// ---- path access ----------------------------------------------------------------------------------------

ValueCell* url_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value, ValueCell* path,
                         ValueCell*, ValueCell*, i32, bool, bool, bool, bool) {
    if (value) fire(Err::script_bad_path_set, path, element);
    ValueCell* saved = g_stack.top;
    ValueCell u = *parent;
    ValueCell* base = stack_push(&u);
    ValueCell k = *element;
    ValueCell* key = stack_push(&k);
    if (k.type() == TYPE_GET_WORD) {
        ValueCell* v = get_word_push_value(key);
        ValueCell kv = *v;
        *key = kv;
    }
    // The key's text, then the URL's text in front of it, joined by
    // exactly one "/".
    ValueCell* text = string_make_at_unit(unset_push(), static_cast<u32>(string_length(base)) + 16,
                                          series_of(base)->unit());
    form_into(text, key);
    string_head_ptr(base);  // clamps the index to the tail
    i32 ul = string_length(base);
    u32 last = static_cast<u32>((series_index(base) < 0 ? 0 : series_index(base)) + ul - 1);
    bool url_slash = ul > 0 && string_char_at(base, last) == '/';
    bool key_slash = string_length(text) > 0 && string_char_at(text, 0) == '/';
    if (!url_slash && !key_slash) {
        string_insert_char(series_of(text), 0, '/');
    } else if (url_slash && key_slash) {
        string_remove_char(series_of(text), 0);
    }
    string_concatenate(text, base, -1, 0, false, CONCAT_INSERT);
    cell_set_type(text, u.type());
    ValueCell r = *text;
    g_stack.top = saved;
    return stack_push(&r);
}

// ---- I/O actions --------------------------------------------------------------------------------------------

ValueCell* url_open(ValueCell* url, bool new_, bool read, bool write, bool seek, ValueCell* allow) {
    return url_to_port(url, true, new_, read, write, seek, allow);
}

ValueCell* url_read(ValueCell* url, ValueCell* part, ValueCell* seek, bool binary, bool lines,
                    bool info, ValueCell* as) {
    if (http_scheme_q(url)) {
        if (part || seek || as) fire(Err::internal_not_done);
        ValueCell u = *url;
        ValueCell* held = stack_push(&u);
        ValueCell* none = none_push();
        ValueCell* r = g_host_io.http_request(method_word("GET"), held, none, none, binary, lines,
                                              info);
        if (!r) fire_no_connect(held);
        return r;
    }
    ValueCell* port = url_to_port(url, false, false, false, false, false, nullptr);
    return action_read_dispatch(port, part, seek, binary, lines, info, as);
}

ValueCell* url_write(ValueCell* url, ValueCell* data, bool binary, bool lines, bool info,
                     bool append, ValueCell* part, ValueCell* seek, ValueCell* allow,
                     ValueCell* as) {
    if (!http_scheme_q(url)) {
        ValueCell* port = url_to_port(url, false, false, false, false, false, nullptr);
        return action_write_dispatch(port, data, binary, lines, info, append, part, seek, allow,
                                     as);
    }
    if (seek || allow || as) fire(Err::internal_not_done);
    ValueCell u = *url;
    ValueCell* held = stack_push(&u);
    ValueCell d = *data;
    ValueCell* method;
    ValueCell* headers;
    ValueCell* body;
    if (d.type() == TYPE_BLOCK) {
        // [method [headers] body]
        ValueCell* blk = stack_push(&d);
        i32 len = series_buffer_length(blk);
        i32 start = series_index(blk) < 0 ? 0 : series_index(blk);
        i32 n = len - start;
        const ValueCell* cells = series_of(blk)->head_cells() + start;
        ValueCell m = n > 0 ? cells[0] : g_none_cell;
        ValueCell h = n > 1 ? cells[1] : g_none_cell;
        ValueCell b = n > 2 ? cells[2] : g_none_cell;
        method = stack_push(&m);
        headers = stack_push(&h);
        body = stack_push(&b);
        if (method->type() != TYPE_WORD) fire(Err::script_invalid_arg, method);
        if (n > 1 && headers->type() != TYPE_BLOCK) fire(Err::script_invalid_arg, headers);
    } else {
        method = method_word("POST");
        headers = none_push();
        body = stack_push(&d);
    }
    u32 bt = body->type();
    if (bt != TYPE_NONE && bt != TYPE_BLOCK && bt != TYPE_STRING && bt != TYPE_BINARY)
        fire(Err::script_invalid_arg, body);
    ValueCell* r = g_host_io.http_request(method, held, headers, body, binary, lines, info);
    if (!r) fire_no_connect(held);
    return r;
}

// ---- registration ------------------------------------------------------------------------------------------------

void url_init() {
    ActionRow row;
    row.set<ACT_MAKE>(url_make)
        .set<ACT_TO>(url_to)
        .set<ACT_MOLD>(url_mold)
        .set<ACT_EVAL_PATH>(url_eval_path)
        .set<ACT_OPEN>(url_open)
        .set<ACT_READ>(url_read)
        .set<ACT_WRITE>(url_write)
        .inherit({ACT_FORM, ACT_COMPARE, ACT_APPEND, ACT_INSERT, ACT_CHANGE, ACT_FIND, ACT_SELECT,
                  ACT_SWAP, ACT_TAKE, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY, ACT_HEAD, ACT_HEAD_Q,
                  ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE,
                  ACT_REVERSE, ACT_SKIP, ACT_TAIL, ACT_TAIL_Q, ACT_MODIFY});
    datatype_register(TYPE_URL, row);
}

}  // namespace zan
