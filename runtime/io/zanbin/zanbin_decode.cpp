// The ZANBIN decoder: reads either record layout back into values.
//
// Every read is checked against the end of the payload; counts are checked
// against the bytes left before anything is allocated for them; nesting is
// bounded. A value that contains or shares other values is put in its
// container before its contents are read, so that the reference paths of
// the contents (which may lead back to it) resolve.
//
// The collector is held off for the whole decode, so cells may be kept in
// C++ locals; a buffer still moves when it grows, so cells inside containers
// are always re-read through their node and position.
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/typesystem/error_catalog.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/ownership.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/compress/compress.h"
#include "runtime/io/zanbin/zanbin_internal.h"

namespace zan::zanbin {

namespace {

// Where a decoded cell goes: appended at a block's tail, or written at a
// position that already exists (a context's value, an error's field).
struct Sink {
    Node node;
    i32 fill;  // -1: append
};

// A record's prefixes and tag (compact) or header word (fixed).
struct Head {
    enum Kind { VALUE, SMALL_INT, LOGIC_TRUE, LOGIC_FALSE, COPY };
    Kind kind = VALUE;
    u32 type = 0;
    bool nl = false;
    bool shared = false;  // 0xC1, or header bit 19 of a type that has a reference form
    bool assign = false;  // 0xC4, or header bit 25 of a boot-mode word
    bool s = false;       // the compact short-form flag
    u32 h = 0;            // the fixed header word
    u32 small = 0;
    const u8* at = nullptr;
};

// A context body as read, before the context is made.
struct ContextHead {
    u32 kind = 0;
    bool on_stack = false;
    bool self = false;
    bool values = false;
    std::vector<u32> symbols;
    const u8* at = nullptr;
};

// Who stands in the container for a context read inline: the owner itself
// (an object! or function! record) or the word whose owner it is.
struct Holder {
    bool is_word = false;
    ValueCell word{};
    bool nl = false;
};

constexpr u32 DAYS_IN_MONTH[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool has_reference_form(u32 t) {
    return type_shared(t) || word_record_type(t);
}

// Types whose second data word is declared to hold value cells (CELLS) and which a
// shared reference may name.
bool holds_cells(u32 t) {
    return type_block_like(t) || t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP ||
           t == TYPE_FUNCTION;
}

}  // namespace

struct Decoder {
    const u8* data = nullptr;  // first byte after the flags (or of the decompressed bytes)
    const u8* p = nullptr;
    const u8* end = nullptr;
    u32 bias = CONTAINER_HEADER;
    bool compact = true;
    bool codec = true;

    bool has_symbols = false;
    u32 sym_count = 0;
    u32 name_size = 0;
    const u8* offsets = nullptr;
    const u8* names = nullptr;
    std::vector<u32> sym_cache;
    std::vector<u32> global_slots;  // image symbol -> its global word's slot + 1, or 0
    u32 last_symbol = 0xFFFFFFFFu;  // the image symbol read last

    Node target = 0;
    u32 base = 0;
    u32 depth = 0;
    std::vector<u32> path;

    // ---- failures ------------------------------------------------------------------------------------
    [[noreturn]] void corrupt(const u8* at) const {
        throw Corrupt{bias + static_cast<u32>(at - data) + 1};
    }
    // Refused datatypes: no-codec in codec use; at start-up, a corrupt image.
    [[noreturn]] void refuse(u32 type, const u8* at) const {
        if (!codec) corrupt(at);
        ValueCell* dt = datatype_push(type);
        fire(Err::access_no_codec, dt);
    }

    // ---- reading ----------------------------------------------------------------------------------------
    u64 left() const { return static_cast<u64>(end - p); }
    void need(u64 n) const {
        if (left() < n) corrupt(p);
    }
    u8 byte() {
        need(1);
        return *p++;
    }
    u32 uvar() {
        const u8* at = p;
        u32 v = 0;
        for (u32 i = 0; i < 5; i++) {
            if (p >= end) corrupt(at);
            u8 b = *p++;
            if (i == 4) {
                if (b & 0xF0) corrupt(at);
                return v | (static_cast<u32>(b) << 28);
            }
            v |= static_cast<u32>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        corrupt(at);
    }
    i32 svar() { return unzigzag(uvar()); }
    u32 raw32() {
        need(4);
        u32 v = load_le32(p);
        p += 4;
        return v;
    }
    u32 word() { return raw32(); }
    u32 ufield() { return compact ? uvar() : word(); }
    i32 sfield() { return compact ? svar() : static_cast<i32>(word()); }
    const u8* take(u64 n) {
        need(n);
        const u8* r = p;
        p += n;
        return r;
    }
    // Content bytes; the fixed layout pads them to a whole word.
    const u8* content(u64 n) {
        const u8* r = take(n);
        if (!compact) take((4 - n % 4) % 4);
        return r;
    }
    // A count of items of at least min_bytes each, which must fit in what is left.
    u32 count(u32 min_bytes) {
        const u8* at = p;
        u32 n = ufield();
        if (static_cast<i32>(n) < 0 || static_cast<u64>(n) * min_bytes > left()) corrupt(at);
        return n;
    }
    u32 record_min() const { return compact ? 1 : 4; }
    // Room made for a container before its records are read: a count only
    // promises records, so nested containers must not each reserve what the
    // whole input could hold. Containers grow as their records come.
    static u32 initial_room(u32 n) { return n < 256 ? n : 256; }
    u32 head_field() {
        const u8* at = p;
        u32 head = ufield();
        if (static_cast<i32>(head) < 0) corrupt(at);
        return head;
    }

    // ---- symbols -----------------------------------------------------------------------------------------
    u32 symbol(u32 index, const u8* at) {
        if (!has_symbols || index >= sym_count) corrupt(at);
        if (sym_cache[index]) return sym_cache[index];
        u32 off = load_le32(offsets + u64(index) * 4);
        if ((off & 0x80000000u) || off >= name_size) corrupt(at);
        const u8* s = names + off;
        const u8* e = static_cast<const u8*>(std::memchr(s, 0, name_size - off));
        if (!e || e == s) corrupt(at);
        for (const u8* q = s; q < e;) {
            i32 cp;
            q = utf8_decode_char(q, e, &cp);
            if (cp < 0) corrupt(at);
        }
        u32 id = symbol_make_text(reinterpret_cast<const char*>(s), static_cast<u32>(e - s));
        sym_cache[index] = id;
        return id;
    }
    u32 read_symbol() {
        const u8* at = p;
        last_symbol = ufield();
        return symbol(last_symbol, at);
    }

    // ---- the header -----------------------------------------------------------------------------------------
    void read_header(u8 flags) {
        const u8* at = p;
        ufield();  // the root count: the payload decides how many values there are
        u32 payload = ufield();
        if (static_cast<i32>(payload) < 0) corrupt(at);
        if (flags & ZANBIN_FLAG_SYMBOLS) {
            has_symbols = true;
            const u8* sat = p;
            sym_count = ufield();
            name_size = ufield();
            if (static_cast<i32>(sym_count) < 0 || static_cast<i32>(name_size) < 0 ||
                u64(sym_count) * 4 > left())
                corrupt(sat);
            offsets = take(u64(sym_count) * 4);
            if (name_size > left()) corrupt(p);
            names = take(name_size);
            if (name_size > 0 && names[name_size - 1] != 0) corrupt(names + name_size - 1);
            sym_cache.assign(sym_count, 0);
            global_slots.assign(sym_count, 0);
        }
        if (payload > left()) corrupt(at);
        end = p + payload;
        // At start-up every name is interned first, in table order.
        if (!codec)
            for (u32 i = 0; i < sym_count; i++) symbol(i, at);
    }

    // ---- placing cells -------------------------------------------------------------------------------------
    static ValueCell* cell_at(Node node, u32 index) { return node_buffer(node)->head_cells() + index; }
    static u32 place(const Sink& s, const ValueCell& c) {
        if (s.fill >= 0) {
            *cell_at(s.node, static_cast<u32>(s.fill)) = c;
            return static_cast<u32>(s.fill);
        }
        SeriesBuffer* b = node_buffer(s.node);
        u32 index = b->used_bytes() / 16;
        ValueCell* slot = series_alloc_tail_cell(b);
        *slot = c;
        return index;
    }
    static ValueCell with_nl(ValueCell c, bool nl) {
        c.header &= ~CELL_NEW_LINE;
        if (nl) c.header |= CELL_NEW_LINE;
        return c;
    }
    u32 appended() const { return node_buffer(target)->used_bytes() / 16 - base; }

    // ---- paths -----------------------------------------------------------------------------------------------
    // Compact: uvarint K and K uvarints. Fixed: K and K words (after the
    // word 255, which the caller has read).
    void read_path() {
        const u8* at = p;
        u32 k = ufield();
        if (k == 0 || k > PATH_MAX_LENGTH || u64(k) * record_min() > left()) corrupt(at);
        path.resize(k);
        for (u32 i = 0; i < k; i++) path[i] = ufield();
    }
    void read_fixed_tail() {
        const u8* at = p;
        if (word() != FX_REFERENCE) corrupt(at);
        read_path();
    }
    void read_reference() {
        if (compact) read_path();
        else read_fixed_tail();
    }

    // The value at the end of the path just read.
    ValueCell resolve(const u8* at) const {
        u32 count = appended();
        if (path[0] >= count) corrupt(at);
        ValueCell cur = *cell_at(target, base + path[0]);
        for (size_t j = 1; j < path.size(); j++) {
            u32 idx = path[j];
            u32 t = cur.type();
            Node cells = 0;
            bool function_step = false;
            if (type_block_like(t) || t == TYPE_MAP || t == TYPE_NATIVE || t == TYPE_ACTION) {
                cells = cell_word(&cur, 2);  // declared CELLS for each of these
            } else if (t == TYPE_OP) {
                if (op_wrapped_type(&cur) == TYPE_FUNCTION) function_step = true;
                else cells = callable_spec(&cur);
            } else if (t == TYPE_FUNCTION) {
                function_step = true;
            } else if (t == TYPE_OBJECT || t == TYPE_ERROR || word_record_type(t)) {
                Node ctx = word_record_type(t) ? word_binding(&cur) : context_of(&cur);
                if (!ctx) corrupt(at);
                const ValueCell* cc = context_cell(ctx);
                if (cc->type() != TYPE_CONTEXT) corrupt(at);
                if (t == TYPE_ERROR) {
                    if (idx >= 6) corrupt(at);
                    cur = context_values_head(cc)[ERR_FIELD_ARG1 + idx];
                    continue;
                }
                if (context_on_stack(cc)) {
                    // A function's words: step into the function instead.
                    cur = *context_owner(ctx);
                    if (cur.type() != TYPE_FUNCTION) corrupt(at);
                    function_step = true;
                } else {
                    if (idx >= context_word_count(cc)) corrupt(at);
                    cur = context_values_head(cc)[idx];
                    continue;
                }
            } else {
                corrupt(at);
            }
            if (function_step) {
                // 0 the spec, 1 the body, as block! values at head 0.
                Node node;
                if (idx == 0) {
                    node = callable_spec(&cur);
                } else if (idx == 1) {
                    const ValueCell* body = function_more(&cur, MORE_BODY);
                    if (!type_block_like(body->type())) corrupt(at);
                    node = block_node(body);
                } else {
                    corrupt(at);
                }
                cell_init(&cur, TYPE_BLOCK, 0, node);
                continue;
            }
            SeriesBuffer* b = node_buffer(cells);
            if (idx >= b->used_bytes() / 16) corrupt(at);
            cur = b->head_cells()[idx];
        }
        if (cur.type() == 0) corrupt(at);  // a removed map entry
        return cur;
    }

    // The context node a resolved value holds.
    Node bound_context(const ValueCell& v, const u8* at) const {
        u32 t = v.type();
        Node ctx = 0;
        if (word_record_type(t) || t == TYPE_ISSUE || t == TYPE_OBJECT || t == TYPE_ERROR ||
            t == TYPE_FUNCTION)
            ctx = cell_word(&v, 1);  // the binding of a word, the context of the others
        else if (t == TYPE_OP && op_wrapped_type(&v) == TYPE_FUNCTION)
            ctx = context_of(&v);
        if (!ctx || context_cell(ctx)->type() != TYPE_CONTEXT) corrupt(at);
        return ctx;
    }

    void check_word_index(Node ctx, i32 index, const u8* at) const {
        if (index == -1) return;
        if (index < 0 || static_cast<u32>(index) >= context_word_count(context_cell(ctx)))
            corrupt(at);
    }

    // ---- records -----------------------------------------------------------------------------------------------
    struct Deeper {
        Decoder& d;
        explicit Deeper(Decoder& dec) : d(dec) {
            if (++d.depth > ZANBIN_MAX_DEPTH) {
                d.depth--;
                d.corrupt(d.p);
            }
        }
        ~Deeper() { d.depth--; }
        Deeper(const Deeper&) = delete;
        Deeper& operator=(const Deeper&) = delete;
    };

    Head read_head(bool top) {
        Head r;
        r.at = p;
        if (compact) {
            u8 tag;
            for (;;) {
                u8 b = byte();
                if (b == PREFIX_NEW_LINE) r.nl = true;
                else if (b == PREFIX_SHARED) r.shared = true;
                else if (b == PREFIX_ASSIGN) r.assign = true;
                else {
                    tag = b;
                    break;
                }
            }
            if (tag >= 0x80) {
                if (r.shared || r.assign) corrupt(r.at);
                if (tag <= 0xBF) {
                    r.kind = Head::SMALL_INT;
                    r.small = tag & TAG_ID_MASK;
                } else if (tag == TAG_TRUE) {
                    r.kind = Head::LOGIC_TRUE;
                } else if (tag == TAG_FALSE) {
                    r.kind = Head::LOGIC_FALSE;
                } else if (tag == TAG_COPY) {
                    r.kind = Head::COPY;
                } else {
                    corrupt(r.at);
                }
                return r;
            }
            r.s = (tag & TAG_SHORT) != 0;
            r.type = tag & TAG_ID_MASK;
            if (r.type == TAG_EXTENDED_ID) r.type = uvar();
            if (r.type == 0) corrupt(r.at);
            if (r.assign && (codec || !top || r.type < TYPE_WORD || r.type > TYPE_ISSUE))
                corrupt(r.at);
            if (r.shared && !has_reference_form(r.type)) corrupt(r.at);
            return r;
        }
        // Fixed: padding words (0) may stand before any record.
        for (;;) {
            r.at = p;
            r.h = word();
            if (r.h != 0) break;
        }
        r.type = r.h & 0xFF;
        r.nl = (r.h & FX_NEW_LINE) != 0;
        if (r.type == 0) corrupt(r.at);
        if (r.type == FX_REFERENCE) {
            r.kind = Head::COPY;
            return r;
        }
        if (has_reference_form(r.type)) r.shared = (r.h & FX_REF) != 0;
        if (!codec && word_record_type(r.type) && (r.h & FX_WORD_FLAG)) {
            if (!top) corrupt(r.at);
            r.assign = true;
        }
        return r;
    }

    // Decodes one record into the sink; returns the position of its cell
    // (an assignment leaves none: its position is returned all the same).
    u32 record(const Sink& sink, bool top) {
        Deeper guard(*this);
        Head h = read_head(top);
        ValueCell c;
        switch (h.kind) {
            case Head::SMALL_INT:
                integer_box(&c, static_cast<i32>(h.small));
                return place(sink, with_nl(c, h.nl));
            case Head::LOGIC_TRUE:
            case Head::LOGIC_FALSE:
                logic_box(&c, h.kind == Head::LOGIC_TRUE);
                return place(sink, with_nl(c, h.nl));
            case Head::COPY:
                read_path();
                return place(sink, with_nl(resolve(h.at), h.nl));
            case Head::VALUE:
                break;
        }
        if (h.assign) return assignment(h, sink);
        const u32 t = h.type;
        if (type_block_like(t)) return block_record(h, sink);
        if (type_string_like(t)) return text_record(h, sink);
        return other_record(h, sink);
    }

    // Every record but the block and text types. Kept out of record() so
    // that the frames of deep nesting stay small.
    [[gnu::noinline]] u32 other_record(const Head& h, const Sink& sink) {
        ValueCell c;
        const u32 t = h.type;
        switch (t) {
            case TYPE_DATATYPE: {
                const u8* at = p;
                u32 id = ufield();
                if (id < 1 || id > TYPE_LAST) corrupt(at);
                datatype_box(&c, id);
                break;
            }
            case TYPE_UNSET: unset_box(&c); break;
            case TYPE_NONE: none_box(&c); break;
            case TYPE_LOGIC:
                if (compact) corrupt(h.at);
                logic_box(&c, word() != 0);
                break;
            case TYPE_CHAR: {
                const u8* at = p;
                u32 cp = ufield();
                if (cp > UNICODE_MAX) corrupt(at);
                char_box(&c, cp);
                break;
            }
            case TYPE_INTEGER: integer_box(&c, sfield()); break;
            case TYPE_FLOAT:
            case TYPE_PERCENT:
            case TYPE_TIME:
                if (compact && h.s) {
                    double d = svar();
                    if (t == TYPE_PERCENT) d /= 100.0;
                    float_make_typed_at(&c, t, d);
                } else {
                    u32 low, high;
                    if (compact) {
                        low = raw32();
                        high = raw32();
                    } else {
                        high = word();
                        low = word();
                    }
                    cell_init(&c, t, 0, low, high);
                }
                break;
            case TYPE_CONTEXT:
                return object_record(h, sink, true);
            case TYPE_WORD:
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT:
                return word_record(h, sink);
            case TYPE_ISSUE:
                cell_init(&c, TYPE_ISSUE, g_global_ctx, read_symbol(), static_cast<u32>(-1));
                break;
            case TYPE_NATIVE:
            case TYPE_ACTION:
                return native_record(h, sink);
            case TYPE_OP:
                return op_record(h, sink);
            case TYPE_FUNCTION:
                if (h.shared) return owner_reference(h, sink, TYPE_FUNCTION);
                return function_body(sink, Holder{false, {}, h.nl});
            case TYPE_OBJECT:
                if (h.shared) return owner_reference(h, sink, TYPE_OBJECT);
                return object_record(h, sink, false);
            case TYPE_TYPESET: {
                u32 w[3] = {0, 0, 0};
                if (compact) {
                    const u8* at = p;
                    u32 n = byte();
                    if (n > 12) corrupt(at);
                    std::memcpy(w, take(n), n);
                } else {
                    for (u32& x : w) x = word();
                }
                cell_init(&c, TYPE_TYPESET, w[0], w[1], w[2]);
                break;
            }
            case TYPE_ERROR:
                return error_record(h, sink);
            case TYPE_PAIR: {
                i32 x = sfield();
                i32 y = sfield();
                cell_init(&c, TYPE_PAIR, 0, static_cast<u32>(x), static_cast<u32>(y));
                break;
            }
            case TYPE_TUPLE: {
                const u8* at = p;
                u32 n;
                u8 bytes[12] = {};
                if (compact) {
                    n = h.s ? byte() : 3;
                    if (n < 1 || n > 12) corrupt(at);
                    std::memcpy(bytes, take(n), n);
                } else {
                    n = (h.h >> FX_UNIT_SHIFT) & 0xF;
                    if (n < 1 || n > 12) corrupt(h.at);
                    std::memcpy(bytes, take(12), 12);
                }
                tuple_make_at(&c, bytes, n);
                break;
            }
            case TYPE_DATE: {
                const u8* at = p;
                u32 packed = raw32();
                bool has_time = date_has_time(packed);
                u32 low = 0, high = 0;
                if (compact) {
                    if (has_time != h.s) corrupt(h.at);
                    if (has_time) {
                        low = raw32();
                        high = raw32();
                    }
                } else {
                    high = word();
                    low = word();
                    if (!has_time) low = high = 0;
                }
                i32 year = date_year(packed);
                u32 month = date_month(packed), day = date_day(packed);
                if (month < 1 || month > 12 || day < 1 || day > DAYS_IN_MONTH[month] ||
                    (month == 2 && day == 29 && !date_leap_year_q(year)))
                    corrupt(at);
                cell_init(&c, TYPE_DATE, packed, low, high);
                if (!std::isfinite(c.get_float())) corrupt(at);
                break;
            }
            case TYPE_MONEY: {
                bool negative = compact ? h.s : (h.h & FX_MONEY_NEGATIVE) != 0;
                const u8* at = p;
                const u8* b = take(12);
                u8 digits[MONEY_DIGIT_BYTES];
                std::memcpy(digits, b + 1, MONEY_DIGIT_BYTES);
                for (u8 d : digits)
                    if ((d >> 4) > 9 || (d & 0xF) > 9) corrupt(at);
                money_make_raw(&c, negative, b[0], digits);
                break;
            }
            case TYPE_POINT2D:
            case TYPE_POINT3D: {
                u32 x = raw32();
                u32 y = raw32();
                u32 z = t == TYPE_POINT3D ? raw32() : 0;
                cell_init(&c, t, x, y, z);
                break;
            }
            case TYPE_BITSET:
                return bitset_record(h, sink);
            case TYPE_MAP:
                return map_record(h, sink);
            case TYPE_BINARY:
            case TYPE_VECTOR:
                return bytes_record(h, sink);
            case TYPE_IMAGE:
                return image_record(h, sink);
            default:
                if (refused_type(t)) refuse(t, h.at);
                corrupt(h.at);
        }
        return place(sink, with_nl(c, h.nl));
    }

    // ---- series --------------------------------------------------------------------------------------------------
    // A value sharing the series of a value decoded earlier: this record's
    // type, head and new-line marker over the found value's buffer.
    u32 shared_series(const Head& h, u32 head, const Sink& sink) {
        const u8* at = p;
        read_reference();
        ValueCell found = resolve(at);
        u32 t = h.type, ft = found.type();
        ValueCell c;
        cell_init(&c, t | (h.nl ? CELL_NEW_LINE : 0), head, series_node(&found), 0);
        if (t == TYPE_HASH) {
            if (ft == TYPE_HASH) {
                set_hashed_table(&c, hashed_table(&found));
            } else if (holds_cells(ft)) {
                hash_from_block(&c);  // an index of its own over the shared cells
                series_set_index(&c, static_cast<i32>(head));
            } else {
                corrupt(at);
            }
        } else if (type_block_like(t)) {
            if (!holds_cells(ft)) corrupt(at);
        } else if (type_string_like(t)) {
            if (!type_string_like(ft)) corrupt(at);
        } else if (t == TYPE_VECTOR) {
            if (ft != TYPE_VECTOR) corrupt(at);
            vector_set_element_type(&c, vector_element_type(&found));
        } else if (t == TYPE_MAP) {
            if (ft != TYPE_MAP) corrupt(at);
            series_set_index(&c, static_cast<i32>(0));
            set_hashed_table(&c, hashed_table(&found));
        } else if (t == TYPE_IMAGE) {
            if (ft != TYPE_IMAGE || head > image_count(&found)) corrupt(at);
            // The shared pixels' width and height.
            set_image_packed_size(&c, image_packed_size(&found));
        } else if (t != ft) {  // binary!, bitset!
            corrupt(at);
        }
        return place(sink, c);
    }

    u32 block_record(const Head& h, const Sink& sink) {
        u32 head = compact ? (h.s ? head_field() : 0) : head_field();
        if (h.shared) return shared_series(h, head, sink);
        u32 n = count(record_min());
        ValueCell c;
        if (h.type == TYPE_HASH) hash_make_at(&c, initial_room(n));
        else block_make_at(&c, initial_room(n));
        c.header = h.type | (h.nl ? CELL_NEW_LINE : 0);
        series_set_index(&c, static_cast<i32>(head));
        u32 k = place(sink, c);
        Sink inner{block_node(&c), -1};
        for (u32 i = 0; i < n; i++) record(inner, false);
        // The hash index is built once the cells are there (its node was
        // made first, so copies made meanwhile share it).
        if (h.type == TYPE_HASH) hashtable_reset(hashed_table(&c), static_cast<i32>(n ? n : 1));
        return k;
    }

    u32 text_record(const Head& h, const Sink& sink) {
        u32 unit = 1, length = 0, head;
        if (compact) {
            head = h.s ? head_field() : 0;
            if (h.shared) return shared_series(h, head, sink);
            const u8* at = p;
            u32 l = uvar();
            if ((l & 3) == 3) corrupt(at);
            unit = 1u << (l & 3);
            length = l >> 2;
        } else {
            unit = (h.h >> FX_UNIT_SHIFT) & 0xFF;
            if (unit != 1 && unit != 2 && unit != 4) corrupt(h.at);
            head = head_field();
            if (h.shared) return shared_series(h, head, sink);
            length = word();
        }
        const u8* at = p;
        u64 bytes = u64(length) * unit;
        const u8* src = content(bytes);
        if (unit == 4)
            for (u32 i = 0; i < length; i++)
                if (load_le32(src + u64(i) * 4) > UNICODE_MAX) corrupt(at);
        ValueCell c;
        string_make_at_unit(&c, length, unit);
        SeriesBuffer* b = series_of(&c);
        if (bytes) std::memcpy(b->head_ptr(), src, bytes);
        b->tail = b->head + static_cast<u32>(bytes);
        c.header = h.type | (h.nl ? CELL_NEW_LINE : 0);
        series_set_index(&c, static_cast<i32>(head));
        set_string_scratch(&c, 0);
        return place(sink, c);
    }

    // binary! and vector!.
    u32 bytes_record(const Head& h, const Sink& sink) {
        u32 head = compact ? (h.s ? head_field() : 0) : head_field();
        if (h.shared) return shared_series(h, head, sink);
        const u8* at = p;
        ValueCell c;
        if (h.type == TYPE_BINARY) {
            u32 n = ufield();
            const u8* src = content(n);
            binary_load_at(&c, ByteSource(src), n);
        } else {
            u32 type, size, n;
            if (compact) {
                u8 b = byte();
                type = b >> 2;
                size = 1u << (b & 3);
                n = uvar();
            } else {
                size = (h.h >> FX_UNIT_SHIFT) & 0xFF;
                n = word();
                type = word();
            }
            bool ok = ((type == TYPE_CHAR || type == TYPE_INTEGER) &&
                       (size == 1 || size == 2 || size == 4)) ||
                      (type == TYPE_FLOAT && (size == 4 || size == 8)) ||
                      (type == TYPE_PERCENT && size == 8);
            if (!ok) corrupt(at);
            u64 bytes = u64(n) * size;
            const u8* src = content(bytes);
            vector_make_at(&c, n, type, size);
            SeriesBuffer* b = series_of(&c);
            if (bytes) std::memcpy(b->head_ptr(), src, bytes);
            b->tail = b->head + static_cast<u32>(bytes);
        }
        c.header = h.type | (h.nl ? CELL_NEW_LINE : 0);
        series_set_index(&c, static_cast<i32>(head));
        return place(sink, c);
    }

    // image!: the head, the size (each side 0 to 65535) and the pixel words,
    // which go to a new slot of the pixel store.
    u32 image_record(const Head& h, const Sink& sink) {
        u32 head = compact ? (h.s ? head_field() : 0) : head_field();
        if (h.shared) return shared_series(h, head, sink);
        const u8* at = p;
        u32 width, height;
        if (compact) {
            width = uvar();
            height = uvar();
            if (width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE) corrupt(at);
        } else {
            u32 size = word();
            width = size & 0xFFFFu;
            height = size >> 16;
        }
        const u32 count = width * height;
        if (head > count) corrupt(at);
        const u8* src = content(u64(count) * 4);
        u32 slot = IMAGE_NO_SLOT;
        if (count) {
            u32* words = image_words_alloc(width, height);
            if (!words) fire(Err::internal_no_memory);
            std::memcpy(words, src, u64(count) * 4);
            slot = image_store_adopt(width, height, words);
        }
        ValueCell c;
        cell_init(&c, h.nl ? CELL_NEW_LINE : 0, 0, 0, 0);
        image_make_at(&c, slot, width, height);
        image_set_head(&c, head);
        return place(sink, c);
    }

    u32 bitset_record(const Head& h, const Sink& sink) {
        if (h.shared) return shared_series(h, 0, sink);
        bool complement = compact ? h.s : (h.h & FX_COMPLEMENT) != 0;
        u32 n = ufield();
        const u8* src = content(n);
        ValueCell* top = g_stack.top;
        ValueCell* b = bitset_push_new(n, 0, complement);
        if (n) std::memcpy(bitset_bits(b), src, n);
        ValueCell c = *b;
        g_stack.top = top;
        return place(sink, with_nl(c, h.nl));
    }

    u32 map_record(const Head& h, const Sink& sink) {
        if (h.shared) return shared_series(h, 0, sink);
        const u8* at = p;
        u32 n = count(record_min());
        if (n % 2) corrupt(at);
        ValueCell c;
        map_make_at(&c, nullptr, n ? initial_room(n) : 2);
        c = with_nl(c, h.nl);
        u32 k = place(sink, c);
        Sink inner{series_node(&c), -1};
        for (u32 i = 0; i < n; i++) record(inner, false);
        // Index the entries now that they are all there.
        hashtable_put_all(hashed_table(&c), 0, 2);
        return k;
    }

    // ---- contexts, objects and functions ------------------------------------------------------------------------
    // Compact: after the 0x0E byte (or the tag 14). Fixed: h is the
    // context! record's header word.
    ContextHead read_context_head(u32 h) {
        ContextHead ch;
        ch.at = p;
        if (compact) {
            u8 f = byte();
            if (f & 0xE0) corrupt(ch.at);
            ch.kind = f & CB_KIND_MASK;
            ch.on_stack = (f & CB_ON_STACK) != 0;
            ch.self = (f & CB_SELF) != 0;
            ch.values = (f & CB_VALUES) != 0;
        } else {
            ch.kind = (h >> FX_CTX_KIND_SHIFT) & 3;
            ch.self = (h & FX_CTX_SELF) != 0;
            ch.on_stack = (h & FX_CTX_ON_STACK) != 0;
            ch.values = (h & FX_CTX_VALUES) != 0;
        }
        if (ch.kind == 3) corrupt(ch.at);
        if (ch.on_stack) ch.values = false;
        u32 n = count(record_min());
        ch.symbols.resize(n);
        for (u32 i = 0; i < n; i++) ch.symbols[i] = read_symbol();
        return ch;
    }
    // The context record or body inside an object or function record.
    ContextHead read_inner_context_head() {
        if (compact) {
            const u8* at = p;
            if ((byte() & TAG_ID_MASK) != TYPE_CONTEXT) corrupt(at);
            return read_context_head(0);
        }
        const u8* at = p;
        u32 h = word();
        if ((h & 0xFF) != TYPE_CONTEXT) corrupt(at);
        return read_context_head(h);
    }

    Node make_context(const ContextHead& ch) {
        u32 n = static_cast<u32>(ch.symbols.size());
        Node ctx = context_create(n, ch.on_stack, ch.self, nullptr, ch.kind);
        for (u32 sym : ch.symbols) {
            if (context_find_word(context_cell(ctx), sym, true) >= 0) corrupt(ch.at);
            ValueCell w;
            cell_init(&w, TYPE_WORD, 0, sym, static_cast<u32>(-1));
            context_add_word(context_cell(ctx), &w);
        }
        return ctx;
    }

    void read_context_values(Node ctx, const ContextHead& ch) {
        if (!ch.values) return;
        Node values = context_values(context_cell(ctx));
        for (u32 i = 0; i < ch.symbols.size(); i++) record(Sink{values, static_cast<i32>(i)}, false);
    }

    ValueCell holder_cell(const Holder& holder, const ValueCell& owner, Node ctx,
                          const u8* at) const {
        if (!holder.is_word) return with_nl(owner, holder.nl);
        check_word_index(ctx, word_index(&holder.word), at);
        ValueCell w = holder.word;
        set_word_binding(&w, ctx);
        return with_nl(w, holder.nl);
    }

    // object! (standalone_context false) or context! (true) records.
    u32 object_record(const Head& h, const Sink& sink, bool standalone_context) {
        if (standalone_context) {
            ContextHead ch = read_context_head(h.h);
            if (ch.on_stack || ch.kind == CTX_FUNCTION) corrupt(ch.at);
            return object_from(ch, static_cast<u32>(-1), -1, -1, false, sink,
                               Holder{false, {}, h.nl});
        }
        return object_body(compact ? h.s : (h.h & FX_HANDLERS) != 0, sink,
                           Holder{false, {}, h.nl});
    }

    u32 object_body(bool handlers, const Sink& sink, const Holder& holder) {
        const u8* at = p;
        i32 class_id = sfield();
        i32 change = -1, deep = -1;
        if (handlers) {
            change = sfield();
            deep = sfield();
        }
        ContextHead ch = read_inner_context_head();
        if (ch.on_stack || ch.kind == CTX_FUNCTION) corrupt(ch.at);
        i32 n = static_cast<i32>(ch.symbols.size());
        if (change < -1 || change >= n || deep < -1 || deep >= n) corrupt(at);
        return object_from(ch, codec ? static_cast<u32>(-1) : static_cast<u32>(class_id), change,
                           deep, handlers, sink, holder);
    }

    u32 object_from(const ContextHead& ch, u32 class_id, i32 change, i32 deep, bool handlers,
                    const Sink& sink, const Holder& holder) {
        Node ctx = make_context(ch);
        Node events = handlers ? object_event_record_make(change, 0, deep, 0) : 0;
        ValueCell obj;
        cell_init(&obj, TYPE_OBJECT, ctx, class_id, events);
        *context_owner(ctx) = obj;
        u32 k = place(sink, holder_cell(holder, obj, ctx, ch.at));
        read_context_values(ctx, ch);
        if (handlers && deep >= 0) {
            // An object with a deep-change handler owns its series.
            ValueCell* top = g_stack.top;
            ValueCell* o = stack_push(&obj);
            ownership_bind_object(o, o, o);
            g_stack.top = top;
        }
        return k;
    }

    u32 function_body(const Sink& sink, const Holder& holder) {
        u32 spec_n = count(record_min());
        u32 body_n = count(record_min());
        ContextHead ch = read_inner_context_head();
        if (!ch.on_stack || ch.kind != CTX_FUNCTION) corrupt(ch.at);
        Node ctx = make_context(ch);
        ValueCell spec, body;
        block_make_at(&spec, initial_room(spec_n));
        block_make_at(&body, initial_room(body_n));
        Node more = alloc_cells_unset(FUNCTION_MORE_CELLS);
        {
            SeriesBuffer* mb = node_buffer(more);
            mb->tail = mb->head + FUNCTION_MORE_CELLS * 16;
            cell_init(mb->head_cells() + MORE_BODY, TYPE_BLOCK, 0, block_node(&body));
        }
        ValueCell fn;
        cell_init(&fn, TYPE_FUNCTION, ctx, block_node(&spec), more);
        *context_owner(ctx) = fn;
        u32 k = place(sink, holder_cell(holder, fn, ctx, ch.at));

        // The spec: when it is shared, the function takes that buffer before
        // anything could copy the function.
        const u8* spec_at = p;
        Node spec_node = function_block(block_node(&spec));
        check_function_context(ctx, spec_node, spec_at);
        set_callable_spec(&fn, spec_node);
        fn.header |= function_flags_of_spec(spec_node);
        *context_owner(ctx) = fn;
        if (!holder.is_word) *cell_at(sink.node, k) = with_nl(fn, holder.nl);

        Node body_node = function_block(block_node(&body));
        set_series_node(cell_at(more, MORE_BODY), body_node);
        return k;
    }

    // A function's context is made from its spec (its words, get-words,
    // lit-words and refinements, each name once): calls build their frames
    // from the spec and the body reaches them through the context, so the
    // two must agree.
    void check_function_context(Node ctx, Node spec, const u8* at) const {
        std::vector<u32> expect;
        std::unordered_set<u32> seen;
        u32 n = node_buffer(spec)->used_bytes() / 16;
        for (u32 i = 0; i < n; i++) {
            const ValueCell* c = cell_at(spec, i);
            u32 t = c->type();
            if (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD && t != TYPE_REFINEMENT)
                continue;
            if (seen.insert(symbol_resolve(word_symbol(c))).second) expect.push_back(word_symbol(c));
        }
        const ValueCell* cc = context_cell(ctx);
        if (context_word_count(cc) != expect.size()) corrupt(at);
        for (u32 i = 0; i < expect.size(); i++)
            if (symbol_resolve(word_symbol(context_words_head(cc) + i)) != symbol_resolve(expect[i]))
                corrupt(at);
    }

    // The spec or body record of a function: a block! record whose cells go
    // into node, or that shares an earlier block's buffer. Returns the node.
    Node function_block(Node node) {
        Deeper guard(*this);
        const u8* at = p;
        bool shared;
        if (compact) {
            bool s;
            shared = false;
            u8 tag;
            for (;;) {
                u8 b = byte();
                if (b == PREFIX_NEW_LINE) continue;
                if (b == PREFIX_SHARED) {
                    shared = true;
                    continue;
                }
                tag = b;
                break;
            }
            if (tag >= 0x80 || (tag & TAG_ID_MASK) != TYPE_BLOCK) corrupt(at);
            s = (tag & TAG_SHORT) != 0;
            if (s) uvar();  // the head is not kept
        } else {
            u32 h = word();
            if ((h & 0xFF) != TYPE_BLOCK) corrupt(at);
            shared = (h & FX_REF) != 0;
            word();  // the head is not kept
        }
        if (shared) {
            const u8* pat = p;
            read_reference();
            ValueCell found = resolve(pat);
            if (!holds_cells(found.type())) corrupt(pat);
            return cell_word(&found, 2);
        }
        u32 n = count(record_min());
        Sink inner{node, -1};
        for (u32 i = 0; i < n; i++) record(inner, false);
        return node;
    }

    // 0xC1 object! and function! records: the owner of the found value's context.
    u32 owner_reference(const Head& h, const Sink& sink, u32 type) {
        const u8* at = p;
        read_reference();
        ValueCell found = resolve(at);
        Node ctx = bound_context(found, at);
        ValueCell owner = *context_owner(ctx);
        if (owner.type() != type) corrupt(at);
        return place(sink, with_nl(owner, h.nl));
    }

    // ---- words ----------------------------------------------------------------------------------------------------
    // A symbol's global word keeps its slot once made (the global context
    // only grows, and a symbol's spelling group never changes), so each of
    // the image's symbols is looked up there once per decoding.
    ValueCell global_word(u32 type, u32 sym, bool nl) {
        ValueCell c;
        u32* slot = nullptr;
        if (last_symbol < global_slots.size() && sym_cache[last_symbol] == sym)
            slot = &global_slots[last_symbol];
        if (slot && *slot) {
            cell_init(&c, TYPE_WORD, g_global_ctx, sym, *slot - 1);
        } else {
            word_make_at(sym, &c);
            if (slot) *slot = static_cast<u32>(word_index(&c)) + 1;  // 0: no slot
        }
        c.header = type | (nl ? CELL_NEW_LINE : 0);
        return c;
    }

    u32 word_record(const Head& h, const Sink& sink) {
        const u32 t = h.type;
        u32 sym = read_symbol();
        const u8* at = p;
        ValueCell c;
        if (!codec) {
            i32 root = -1, index = -1;
            if (compact) {
                if (h.s) {
                    root = static_cast<i32>(uvar());
                    index = svar();
                    if (root < 0) corrupt(at);
                }
            } else {
                root = static_cast<i32>(word());
                index = static_cast<i32>(word());
                if (root < -1) corrupt(at);
            }
            if (root < 0) return place(sink, global_word(t, sym, h.nl));
            if (static_cast<u32>(root) >= appended()) corrupt(at);
            Node ctx = bound_context(*cell_at(target, base + static_cast<u32>(root)), at);
            check_word_index(ctx, index, at);
            cell_init(&c, t | (h.nl ? CELL_NEW_LINE : 0), ctx, sym, static_cast<u32>(index));
            return place(sink, c);
        }
        i32 index;
        if (compact) {
            if (!h.s) {
                if (h.shared) corrupt(h.at);
                return place(sink, global_word(t, sym, h.nl));
            }
            index = svar();
        } else {
            index = static_cast<i32>(word());
            if (!h.shared && (h.h & FX_WORD_FLAG)) return place(sink, global_word(t, sym, h.nl));
        }
        if (h.shared) {
            const u8* pat = p;
            read_reference();
            ValueCell found = resolve(pat);
            Node ctx = bound_context(found, pat);
            check_word_index(ctx, index, at);
            cell_init(&c, t | (h.nl ? CELL_NEW_LINE : 0), ctx, sym, static_cast<u32>(index));
            return place(sink, c);
        }
        // The owner of the context follows inline; it is built, and the word
        // stands in the container in its place.
        Holder holder;
        holder.is_word = true;
        holder.nl = h.nl;
        cell_init(&holder.word, t, 0, sym, static_cast<u32>(index));
        const u8* oat = p;
        u32 owner_type;
        bool s;
        u32 oh = 0;
        if (compact) {
            u8 tag = byte();
            if (tag >= 0x80) corrupt(oat);
            owner_type = tag & TAG_ID_MASK;
            s = (tag & TAG_SHORT) != 0;
        } else {
            oh = word();
            owner_type = oh & 0xFF;
            s = (oh & FX_HANDLERS) != 0;
        }
        u32 k;
        if (owner_type == TYPE_OBJECT) {
            k = object_body(s, sink, holder);
        } else if (owner_type == TYPE_FUNCTION) {
            k = function_body(sink, holder);
        } else {
            corrupt(oat);
        }
        return k;
    }

    // Start-up: a word and the value it is set to; neither stays.
    u32 assignment(const Head& h, const Sink& sink) {
        u32 k;
        if (h.type == TYPE_ISSUE) {
            ValueCell c;
            cell_init(&c, TYPE_ISSUE, g_global_ctx, read_symbol(), static_cast<u32>(-1));
            k = place(sink, c);
        } else {
            k = word_record(h, sink);
        }
        u32 v = record(sink, false);
        ValueCell w = *cell_at(sink.node, k);
        ValueCell value = *cell_at(sink.node, v);
        cell_clear_new_line(&value);
        context_set(&w, &value);
        SeriesBuffer* b = node_buffer(sink.node);
        b->tail = b->head + k * 16;
        return k;
    }

    // ---- callables and errors -------------------------------------------------------------------------------------
    u32 native_record(const Head& h, const Sink& sink) {
        const u8* at = p;
        u32 index = ufield();
        u32 max = h.type == TYPE_ACTION ? static_cast<u32>(ACT_COUNT) : g_native_count;
        if (index < 1 || index > max || index > NATIVE_TABLE_SLOTS) corrupt(at);
        // The spec stands where the native will, so that paths into it
        // resolve while it is read.
        const u8* sat = p;
        u32 k = record(sink, false);
        ValueCell spec = *cell_at(sink.node, k);
        if (spec.type() != TYPE_BLOCK) corrupt(sat);
        cell_clear_new_line(&spec);
        ValueCell* top = g_stack.top;
        ValueCell* args = block_push_new(2);
        block_append_cell(args, &spec);
        ValueCell n;
        integer_box(&n, static_cast<i32>(index));
        block_append_cell(args, &n);
        ValueCell* made = h.type == TYPE_NATIVE ? native_make(nullptr, args, TYPE_NATIVE)
                                                : action_value_make(nullptr, args, TYPE_ACTION);
        ValueCell c = with_nl(*made, h.nl);
        g_stack.top = top;
        *cell_at(sink.node, k) = c;
        return k;
    }

    u32 op_record(const Head& h, const Sink& sink) {
        const u8* at = p;
        u32 k = record(sink, false);
        ValueCell inner = *cell_at(sink.node, k);
        u32 wt = inner.type();
        if (wt != TYPE_NATIVE && wt != TYPE_ACTION && wt != TYPE_FUNCTION) corrupt(at);
        if (!compact && ((h.h >> FX_OP_SHIFT) & 0xFF) != wt) corrupt(h.at);
        cell_clear_new_line(&inner);
        ValueCell* top = g_stack.top;
        ValueCell* arg = stack_push(&inner);
        ValueCell* made = op_make(nullptr, arg, TYPE_OP);
        ValueCell c = with_nl(*made, h.nl);
        g_stack.top = top;
        *cell_at(sink.node, k) = c;
        return k;
    }

    u32 error_record(const Head& h, const Sink& sink) {
        const u8* at = p;
        u32 code = ufield();
        u32 category = code / 100, position = code % 100 + 2;
        if (static_cast<i32>(code) < 0 || category >= error_catalog_category_count()) corrupt(at);
        Node cat = error_catalog_category(category);
        if (!cat || position >= context_word_count(context_cell(cat))) corrupt(at);
        ValueCell* top = g_stack.top;
        ValueCell spec;
        integer_box(&spec, static_cast<i32>(code));
        ValueCell err = with_nl(*error_make(&spec), h.nl);
        g_stack.top = top;
        Node values = context_values(context_cell(context_of(&err)));
        u32 fields = context_word_count(context_cell(context_of(&err)));
        for (u32 i = ERR_FIELD_ARG1; i < fields; i++) none_box(cell_at(values, i));
        u32 k = place(sink, err);
        for (u32 i = 0; i < 6; i++)
            record(Sink{values, static_cast<i32>(ERR_FIELD_ARG1 + i)}, false);
        return k;
    }

    // ---- the whole payload ----------------------------------------------------------------------------------------
    void run() {
        Sink s{target, -1};
        while (p < end) {
            if (!compact) {
                while (left() >= 4 && load_le32(p) == 0) p += 4;
                if (p >= end) break;
            }
            record(s, true);
        }
    }
};

u32 decode_image(const u8* image, size_t length, Node target, bool codec, u32* base_out) {
    if (length < CONTAINER_HEADER || std::memcmp(image, MAGIC, sizeof MAGIC) != 0)
        throw BadImage{ZanbinBootStatus::not_zanbin};
    u8 flags = image[7];
    std::vector<u8> unpacked;
    const u8* data = image + CONTAINER_HEADER;
    size_t len = length - CONTAINER_HEADER;
    if (flags & ZANBIN_FLAG_COMPRESSED) {
        if (decompress_bytes(CompressMethod::lz, std::span<const u8>(data, len), unpacked) !=
            CompressStatus::ok)
            throw BadImage{ZanbinBootStatus::compressed_corrupt};
        data = unpacked.data();
        len = unpacked.size();
    }
    if (!(flags & ZANBIN_FLAG_COMPACT) && len < 8) throw BadImage{ZanbinBootStatus::not_zanbin};
    if (len > 0x7FFFFFF0u) throw BadImage{ZanbinBootStatus::not_zanbin};

    // The collector stays off while a decode runs.
    GcHold hold;
    Decoder d;
    d.data = data;
    d.p = data;
    d.end = data + len;
    d.compact = (flags & ZANBIN_FLAG_COMPACT) != 0;
    d.codec = codec;
    d.target = target;
    d.base = node_buffer(target)->used_bytes() / 16;
    if (base_out) *base_out = d.base;
    d.read_header(flags);
    d.run();
    return d.appended();
}

}  // namespace zan::zanbin
