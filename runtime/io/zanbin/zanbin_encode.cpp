// The ZANBIN encoder: one walk over a value that writes either record layout.
//
// Sharing: every value that owns a series or a context is keyed by its node;
// an image! is keyed by its pixel-store slot, in a key space of its own since
// slot numbers and nodes may coincide.
// The first time a node is met the walker records the path that leads to it
// (the positions of the enclosing containers, from the root); any later value
// with the same node is written as a reference to that path instead of its
// contents, which keeps shared series shared and makes cycles finite.
//
// The walk reads the value in place and writes into C++ buffers only, so the
// collector cannot run and no buffer can move while it goes.
#include <cmath>
#include <limits>
#include <unordered_map>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/compress/compress.h"
#include "runtime/io/zanbin/zanbin.h"
#include "runtime/io/zanbin/zanbin_internal.h"

namespace zan {

namespace zanbin {

u32 function_flags_of_spec(Node spec) {
    SeriesBuffer* b = node_buffer(spec);
    if (b->used_bytes() < 16) return 0;
    const ValueCell* first = b->head_cells();
    if (first->type() != TYPE_BLOCK) return 0;
    SeriesBuffer* attrs = series_of(first);
    u32 flags = 0;
    const u32 trace = symbol_resolve(g_sym.trace), no_trace = symbol_resolve(g_sym.no_trace);
    for (const ValueCell* a = attrs->head_cells(); a < attrs->tail_cells(); a++) {
        if (a->type() != TYPE_WORD) continue;
        u32 s = symbol_resolve(word_symbol(a));
        if (s == trace) flags |= FUNCTION_TRACE;
        else if (s == no_trace) flags |= FUNCTION_NO_TRACE;
    }
    return flags;
}

namespace {

[[noreturn]] void refuse(u32 type) {
    ValueCell* dt = datatype_push(type);
    fire(Err::access_no_codec, dt);
}

inline u32 cells_in(Node n) { return node_buffer(n)->used_bytes() / 16; }

// Whether a float-carrying value takes the short form (a small integer count).
bool float_short_form(u32 type, double d, i32* k) {
    if (d == 0.0 && std::signbit(d)) return false;
    if (type == TYPE_PERCENT) {
        if (!(d >= -21474836.0 && d <= 21474836.0)) return false;
        double r = std::round(d * 100.0);
        i32 n = static_cast<i32>(r);
        if (static_cast<double>(n) / 100.0 != d) return false;
        *k = n;
        return true;
    }
    if (!(d >= -2147483000.0 && d <= 2147483000.0)) return false;
    i32 n = static_cast<i32>(d);
    if (static_cast<double>(n) != d) return false;
    *k = n;
    return true;
}

void put_uvar(std::vector<u8>& v, u32 x) {
    while (x >= 0x80) {
        v.push_back(static_cast<u8>(x | 0x80));
        x >>= 7;
    }
    v.push_back(static_cast<u8>(x));
}
void put_le32(std::vector<u8>& v, u32 x) {
    size_t n = v.size();
    v.resize(n + 4);
    store_le32(&v[n], x);
}

}  // namespace

struct Encoder {
    bool compact;
    bool boot = false;
    std::vector<u8> out;  // the record area

    // Symbol table, in first-use order.
    std::vector<u32> sym_ids;
    std::unordered_map<u32, u32> sym_index;
    std::vector<u8> names;
    std::vector<u32> name_offsets;

    // Paths: the index of the next value in the current container, the
    // indexes of the enclosing containers, and for each node met its path.
    u32 cur = 0;
    std::vector<u32> path;
    std::vector<u32> store;  // entries: K, then K indexes
    std::unordered_map<u64, u32> refs;      // node_key or image_key -> path entry
    std::vector<u64>* journal = nullptr;     // keys recorded while it is set
    std::unordered_map<Node, u32> root_ctx;  // boot mode: context -> root value
    u32 depth = 0;

    explicit Encoder(bool compact_layout) : compact(compact_layout) {}

    // ---- output primitives ----------------------------------------------------------------------
    void byte(u8 b) { out.push_back(b); }
    void uvar(u32 v) { put_uvar(out, v); }
    void svar(i32 v) { uvar(zigzag(v)); }
    void raw32(u32 v) { put_le32(out, v); }
    void word(u32 v) { put_le32(out, v); }
    void pad4() {
        while (out.size() % 4) out.push_back(0);
    }
    void raw_bytes(const u8* p, size_t n) { out.insert(out.end(), p, p + n); }
    // Content bytes: the fixed layout pads them to a whole word.
    void content(const u8* p, size_t n) {
        raw_bytes(p, n);
        if (!compact) pad4();
    }
    // Compact record start: the prefixes and the tag.
    void open(u32 type, bool nl, bool shared, bool s) {
        if (nl) byte(PREFIX_NEW_LINE);
        if (shared) byte(PREFIX_SHARED);
        tag(type, s);
    }
    void tag(u32 type, bool s) {
        u8 sf = s ? TAG_SHORT : 0;
        if (type < TAG_EXTENDED_ID) {
            byte(static_cast<u8>(type) | sf);
        } else {
            byte(TAG_EXTENDED_ID | sf);
            uvar(type);
        }
    }
    // Fixed record start: the header word.
    void header(u32 bits, bool nl) { word(bits | (nl ? FX_NEW_LINE : 0)); }
    // A count or index field of either layout.
    void ufield(u32 v) { compact ? uvar(v) : word(v); }
    void sfield(i32 v) { compact ? svar(v) : word(static_cast<u32>(v)); }

    // ---- symbols -----------------------------------------------------------------------------------
    u32 symbol(u32 id) {
        auto it = sym_index.find(id);
        if (it != sym_index.end()) return it->second;
        u32 index = static_cast<u32>(sym_ids.size());
        sym_ids.push_back(id);
        sym_index.emplace(id, index);
        name_offsets.push_back(static_cast<u32>(names.size()));
        // The name's bytes read in place (symbol_to_cstr may grow the buffer
        // for its terminator, and the walk must not allocate).
        SeriesBuffer* name = node_buffer(symbol_name_node(symbol_cell(id)));
        names.insert(names.end(), name->head_ptr(), name->head_ptr() + name->used_bytes());
        names.push_back(0);
        if (!compact)
            while (names.size() % 8) names.push_back(0);
        return index;
    }

    // ---- paths ---------------------------------------------------------------------------------------
    void push_level() {
        path.push_back(cur);
        cur = 0;
    }
    void pop_level() {
        cur = path.back();
        path.pop_back();
    }
    static u64 node_key(Node n) { return n; }
    static u64 image_key(u32 slot) { return (u64(1) << 32) | slot; }
    void record_key(u64 key) {
        u32 off = static_cast<u32>(store.size());
        store.push_back(static_cast<u32>(path.size()));
        store.insert(store.end(), path.begin(), path.end());
        refs.emplace(key, off);
        if (journal) journal->push_back(key);
    }
    bool lookup(u64 key, u32* off) const {
        auto it = refs.find(key);
        if (it == refs.end()) return false;
        *off = it->second;
        return true;
    }
    // The path itself (after 0xC1 or 0xFF), or the fixed layout's reference
    // tail (the word 255, K, the K indexes).
    void emit_path(u32 off) {
        u32 k = store[off];
        if (compact) {
            uvar(k);
            for (u32 i = 0; i < k; i++) uvar(store[off + 1 + i]);
        } else {
            word(FX_REFERENCE);
            word(k);
            for (u32 i = 0; i < k; i++) word(store[off + 1 + i]);
        }
    }
    void emit_fixed_path_body(u32 off) {
        u32 k = store[off];
        word(k);
        for (u32 i = 0; i < k; i++) word(store[off + 1 + i]);
    }

    struct Deeper {
        Encoder& e;
        explicit Deeper(Encoder& enc) : e(enc) {
            if (++e.depth > ZANBIN_MAX_DEPTH) {
                e.depth--;
                fire(Err::internal_too_deep);
            }
        }
        ~Deeper() { e.depth--; }
        Deeper(const Deeper&) = delete;
        Deeper& operator=(const Deeper&) = delete;
    };

    // ---- values ------------------------------------------------------------------------------------------
    // Writes one value at the current index and moves the index past it.
    void value(const ValueCell* vp) {
        Deeper guard(*this);
        const ValueCell v = *vp;
        const u32 t = v.type();
        // image! is shared through its store slot rather than a node.
        if (type_shared(t) && t != TYPE_IMAGE)
            tracked(v, t, v.new_line());
        else
            other_value(v, t, v.new_line());
        cur++;
    }

    // Scalars, words, errors and the built-in callables. Kept out of value()
    // so that the frames of deep nesting stay small.
    [[gnu::noinline]] void other_value(const ValueCell& v, u32 t, bool nl) {
        switch (t) {
            case TYPE_UNSET:
            case TYPE_NONE:
                if (compact) open(t, nl, false, false);
                else header(t, nl);
                break;
            case TYPE_DATATYPE:
                if (compact) open(t, nl, false, false);
                else header(t, nl);
                ufield(datatype_get(&v));
                break;
            case TYPE_LOGIC:
                if (compact) {
                    if (nl) byte(PREFIX_NEW_LINE);
                    byte(logic_get(&v) ? TAG_TRUE : TAG_FALSE);
                } else {
                    header(t, nl);
                    word(logic_get(&v) ? 1 : 0);
                }
                break;
            case TYPE_CHAR:
                if (compact) open(t, nl, false, false);
                else header(t, nl);
                ufield(char_get(&v));
                break;
            case TYPE_INTEGER: {
                i32 n = integer_get(&v);
                if (compact) {
                    if (nl) byte(PREFIX_NEW_LINE);
                    if (n >= 0 && n <= 63) {
                        byte(static_cast<u8>(TAG_SMALL_INT + n));
                    } else {
                        tag(t, false);
                        svar(n);
                    }
                } else {
                    header(t, nl);
                    word(static_cast<u32>(n));
                }
                break;
            }
            case TYPE_FLOAT:
            case TYPE_PERCENT:
            case TYPE_TIME:
                float_value(v, t, nl);
                break;
            case TYPE_TYPESET: {
                if (compact) {
                    open(t, nl, false, false);
                    const u8* b = payload_bytes(&v);
                    u32 n = 12;
                    while (n > 0 && b[n - 1] == 0) n--;
                    byte(static_cast<u8>(n));
                    raw_bytes(b, n);
                } else {
                    header(t, nl);
                    for (u32 w = 1; w <= 3; w++) word(payload_word(&v, w));
                }
                break;
            }
            case TYPE_PAIR:
                if (compact) open(t, nl, false, false);
                else header(t, nl);
                sfield(pair_x(&v));
                sfield(pair_y(&v));
                break;
            case TYPE_TUPLE: {
                u32 n = tuple_size(&v);
                if (n < 1 || n > TUPLE_MAX) n = TUPLE_MIN;
                const u8* b = payload_bytes(&v);
                if (compact) {
                    open(t, nl, false, n != 3);
                    if (n != 3) byte(static_cast<u8>(n));
                    raw_bytes(b, n);
                } else {
                    header(t | (n << FX_UNIT_SHIFT), nl);
                    for (u32 w = 1; w <= 3; w++) word(payload_word(&v, w));
                }
                break;
            }
            case TYPE_DATE: {
                bool has_time = date_has_time(date_packed(&v));
                if (compact) {
                    open(t, nl, false, has_time);
                    raw32(date_packed(&v));
                    if (has_time) {
                        raw32(float_low_word(&v));
                        raw32(float_high_word(&v));
                    }
                } else {
                    header(t, nl);
                    word(date_packed(&v));
                    word(float_high_word(&v));
                    word(float_low_word(&v));
                }
                break;
            }
            case TYPE_MONEY: {
                bool negative = money_sign_q(&v);
                if (compact) open(t, nl, false, negative);
                else header(t | (negative ? FX_MONEY_NEGATIVE : 0), nl);
                raw_bytes(payload_bytes(&v), 12);
                break;
            }
            case TYPE_POINT2D:
            case TYPE_POINT3D:
                if (compact) open(t, nl, false, false);
                else header(t, nl);
                raw32(point_bits(&v, 0));
                raw32(point_bits(&v, 1));
                if (t == TYPE_POINT3D) raw32(point_bits(&v, 2));
                break;
            case TYPE_ISSUE:
                if (compact) open(t, nl, false, false);
                else header(t, nl);
                ufield(symbol(word_symbol(&v)));
                break;
            case TYPE_ERROR:
                error_value(v, nl);
                break;
            case TYPE_NATIVE:
            case TYPE_ACTION: {
                if (compact) open(t, nl, false, false);
                else header(t, nl);
                ufield(callable_entry(&v));
                ValueCell spec;
                cell_init(&spec, TYPE_BLOCK, 0, callable_spec(&v));
                value(&spec);
                cur--;  // the spec is part of this value
                break;
            }
            case TYPE_OP: {
                u32 wrapped = op_wrapped_type(&v);
                if (wrapped == TYPE_ROUTINE) refuse(TYPE_ROUTINE);
                if (wrapped != TYPE_NATIVE && wrapped != TYPE_ACTION && wrapped != TYPE_FUNCTION)
                    refuse(t);
                if (compact) open(t, nl, false, false);
                else header(t | (wrapped << FX_OP_SHIFT), nl);
                ValueCell inner = v;
                inner.header = wrapped;
                value(&inner);
                cur--;  // the wrapped function is part of this value
                break;
            }
            case TYPE_WORD:
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT:
                word_value(v, t, nl, false);
                break;
            case TYPE_IMAGE:
                image(v, nl);
                break;
            default:
                refuse(t);
        }
    }

    void float_value(const ValueCell& v, u32 t, bool nl) {
        if (compact) {
            i32 k = 0;
            if (float_short_form(t, v.get_float(), &k)) {
                open(t, nl, false, true);
                svar(k);
            } else {
                open(t, nl, false, false);
                raw32(float_low_word(&v));
                raw32(float_high_word(&v));
            }
        } else {
            while (out.size() % 8) word(0);  // padding records
            header(t, nl);
            word(float_high_word(&v));
            word(float_low_word(&v));
        }
    }

    void error_value(const ValueCell& v, bool nl) {
        Node ctx = context_of(&v);
        u32 off;
        if (lookup(ctx, &off)) {
            // The same error met again (an error inside its own fields, or
            // twice in one value): a copy of the first, which shares its
            // context, rather than its fields over again.
            if (compact) {
                if (nl) byte(PREFIX_NEW_LINE);
                byte(TAG_COPY);
                emit_path(off);
            } else {
                header(FX_REFERENCE, nl);
                emit_fixed_path_body(off);
            }
            return;
        }
        const ValueCell* code = error_field(&v, ERR_FIELD_CODE);
        if (code->type() != TYPE_INTEGER || integer_get(code) < 0) refuse(TYPE_ERROR);
        push_level();
        record_key(ctx);
        if (compact) open(TYPE_ERROR, nl, false, false);
        else header(TYPE_ERROR, nl);
        ufield(static_cast<u32>(integer_get(code)));
        for (u32 k = 0; k < 6; k++) {
            ValueCell field = *error_field(&v, ERR_FIELD_ARG1 + k);
            value(&field);
        }
        pop_level();
    }

    // Values that own a series or a context: written whole the first time,
    // as a reference to that first place afterwards.
    void tracked(const ValueCell& v, u32 t, bool nl) {
        u64 key = node_key(cell_word(&v, type_identity_word(t)));
        u32 off = 0;
        bool ref = lookup(key, &off);
        if (!ref) {
            push_level();
            record_key(key);
        }
        if (type_block_like(t)) block_like(v, t, nl, ref, off);
        else if (type_string_like(t) || t == TYPE_BINARY || t == TYPE_VECTOR) unit_series(v, t, nl, ref, off);
        else if (t == TYPE_BITSET) bitset(v, t, nl, ref, off);
        else if (t == TYPE_MAP) map(v, t, nl, ref, off);
        else if (t == TYPE_OBJECT) object(v, t, nl, ref, off);
        else function(v, t, nl, ref, off);
        if (!ref) pop_level();
    }

    [[gnu::noinline]] void block_like(const ValueCell& v, u32 t, bool nl, bool ref, u32 off) {
        u32 head = static_cast<u32>(series_index(&v));
        if (compact) {
            open(t, nl, ref, head != 0);
            if (head) uvar(head);
        } else {
            header(t | (ref ? FX_REF : 0), nl);
            word(head);
        }
        if (ref) {
            emit_path(off);
            return;
        }
        u32 n = cells_in(block_node(&v));
        ufield(n);
        for (u32 i = 0; i < n; i++) value(node_buffer(block_node(&v))->head_cells() + i);
    }

    // Text, binary! and vector!: units of 1, 2, 4 or 8 bytes.
    [[gnu::noinline]] void unit_series(const ValueCell& v, u32 t, bool nl, bool ref, u32 off) {
        SeriesBuffer* b = series_of(&v);
        u32 unit = b->unit();
        u32 count = b->used_bytes() / unit;
        u32 head = static_cast<u32>(series_index(&v));
        u32 unit_bits = (t == TYPE_BINARY ? 1u : unit) << FX_UNIT_SHIFT;
        if (compact) {
            open(t, nl, ref, head != 0);
            if (head) uvar(head);
        } else {
            header(t | unit_bits | (ref ? FX_REF : 0), nl);
            word(head);
        }
        if (ref) {
            emit_path(off);
            return;
        }
        if (t == TYPE_VECTOR) {
            if (compact) {
                byte(static_cast<u8>((vector_element_type(&v) << 2) | log2_unit(unit)));
                uvar(count);
            } else {
                word(count);
                word(vector_element_type(&v));
            }
        } else if (t == TYPE_BINARY) {
            ufield(count);
        } else {
            ufield(compact ? (count << 2) | log2_unit(unit) : count);
        }
        content(series_of(&v)->head_ptr(), u64(count) * unit);
    }

    // image!: the head, then the size and the pixel words (little-endian
    // 0xAARRGGBB, as the store keeps them), or a reference to the first
    // value over the same pixels. Images without pixels are not shared.
    [[gnu::noinline]] void image(const ValueCell& v, bool nl) {
        const u32 slot = image_slot(&v), head = image_head(&v);
        const u32 width = image_width(&v), height = image_height(&v);
        u32 off = 0;
        const bool shared = slot != IMAGE_NO_SLOT;
        const bool ref = shared && lookup(image_key(slot), &off);
        if (compact) {
            open(TYPE_IMAGE, nl, ref, head != 0);
            if (head) uvar(head);
        } else {
            header(TYPE_IMAGE | (ref ? FX_REF : 0), nl);
            word(head);
        }
        if (ref) {
            emit_path(off);
            return;
        }
        if (shared) {
            push_level();
            record_key(image_key(slot));
        }
        if (compact) {
            uvar(width);
            uvar(height);
        } else {
            word(width | (height << 16));
        }
        const u64 bytes = u64(width) * height * 4;
        if (const u32* words = image_words(&v))
            content(reinterpret_cast<const u8*>(words), bytes);
        else
            content(std::vector<u8>(bytes).data(), bytes);
        if (shared) pop_level();
    }

    [[gnu::noinline]] void bitset(const ValueCell& v, u32 t, bool nl, bool ref, u32 off) {
        bool complement = bitset_complemented(&v);
        if (compact) open(t, nl, ref, complement);
        else header(t | (complement ? FX_COMPLEMENT : 0) | (ref ? FX_REF : 0), nl);
        if (ref) {
            emit_path(off);
            return;
        }
        u32 n = bitset_byte_count(&v);
        ufield(n);
        content(bitset_bits(&v), n);
    }

    [[gnu::noinline]] void map(const ValueCell& v, u32 t, bool nl, bool ref, u32 off) {
        if (compact) open(t, nl, ref, false);
        else header(t | (ref ? FX_REF : 0), nl);
        if (ref) {
            emit_path(off);
            return;
        }
        // Removed entries (a value cell of header 0) are left out.
        Node entries = series_node(&v);
        u32 cells = cells_in(entries);
        u32 live = 0;
        for (u32 i = 0; i + 1 < cells; i += 2)
            if (node_buffer(entries)->head_cells()[i + 1].header != 0) live++;
        ufield(live * 2);
        for (u32 i = 0; i + 1 < cells; i += 2) {
            if (node_buffer(entries)->head_cells()[i + 1].header == 0) continue;
            value(node_buffer(entries)->head_cells() + i);
            value(node_buffer(entries)->head_cells() + i + 1);
        }
    }

    [[gnu::noinline]] void object(const ValueCell& v, u32 t, bool nl, bool ref, u32 off) {
        bool handlers = !ref && object_record(&v) != 0;
        if (compact) open(t, nl, ref, handlers);
        else header(t | (handlers ? FX_HANDLERS : 0) | (ref ? FX_REF : 0), nl);
        if (ref) emit_path(off);
        else object_body(v);
    }

    [[gnu::noinline]] void function(const ValueCell& v, u32 t, bool nl, bool ref, u32 off) {
        if (compact) open(t, nl, ref, false);
        else header(t | (ref ? FX_REF : 0), nl);
        if (ref) emit_path(off);
        else function_body(v);
    }

    // The class id, the handler indexes and the context, with its values at
    // the indexes of the current level.
    void object_body(const ValueCell& obj) {
        bool handlers = object_record(&obj) != 0;
        sfield(static_cast<i32>(object_class(&obj)));
        if (handlers) {
            sfield(object_event_slot(object_record(&obj), 0).index);
            sfield(object_event_slot(object_record(&obj), 1).index);
        }
        context_body(context_of(&obj));
    }

    // The two cell counts, the context, then the spec and the body blocks at
    // indexes 0 and 1 of the current level.
    void function_body(const ValueCell& fn) {
        ValueCell body = *function_more(&fn, MORE_BODY);
        bool has_body = type_block_like(body.type()) && block_node(&body) != 0;
        ufield(cells_in(callable_spec(&fn)));
        ufield(has_body ? cells_in(block_node(&body)) : 0);
        context_body(context_of(&fn));
        ValueCell spec;
        cell_init(&spec, TYPE_BLOCK, 0, callable_spec(&fn));
        value(&spec);
        if (has_body) {
            body.header = TYPE_BLOCK;
            value(&body);
        } else {
            // A function without a body (none) gets an empty one.
            if (compact) {
                tag(TYPE_BLOCK, false);
                uvar(0);
            } else {
                header(TYPE_BLOCK, false);
                word(0);
                word(0);
            }
            cur++;
        }
    }

    // Compact: the tag byte 0x0E, flags, word count, symbols, values.
    // Fixed: a whole context! record.
    void context_body(Node ctx) {
        ValueCell c = *context_cell(ctx);
        u32 kind = context_kind(&c);
        bool on_stack = context_on_stack(&c);
        bool self = (c.header & CONTEXT_HAS_SELF) != 0;
        u32 n = context_word_count(&c);
        bool values = false;
        if (!on_stack) {
            const ValueCell* vals = context_values_head(&c);
            for (u32 i = 0; i < n && !values; i++) values = vals[i].type() != TYPE_UNSET;
        }
        if (compact) {
            byte(TYPE_CONTEXT);
            byte(static_cast<u8>(kind | (on_stack ? CB_ON_STACK : 0) | (self ? CB_SELF : 0) |
                                 (values ? CB_VALUES : 0)));
            uvar(n);
        } else {
            word(TYPE_CONTEXT | (kind << FX_CTX_KIND_SHIFT) | (self ? FX_CTX_SELF : 0) |
                 (on_stack ? FX_CTX_ON_STACK : 0) | (values ? FX_CTX_VALUES : 0));
            word(n);
        }
        for (u32 i = 0; i < n; i++) ufield(symbol(word_symbol(context_words_head(context_cell(ctx)) + i)));
        if (!values) return;
        for (u32 i = 0; i < n; i++) {
            ValueCell val = context_values_head(context_cell(ctx))[i];
            value(&val);
        }
    }

    // Words: bound to the global context (the symbol is enough), or to a
    // context whose owner is written inline the first time and referred to
    // afterwards. In boot mode a word can only name the context of an
    // earlier root value.
    void word_value(const ValueCell& v, u32 t, bool nl, bool assign) {
        u32 sym = symbol(word_symbol(&v));
        Node ctx = word_binding(&v);
        bool global = ctx == 0 || ctx == g_global_ctx;
        u32 owner_type = 0;
        if (!global) {
            if (context_cell(ctx)->type() != TYPE_CONTEXT) {
                ValueCell w = v;
                fire(Err::access_no_codec, &w);
            }
            owner_type = context_owner(ctx)->type();
            if (owner_type == TYPE_NONE || owner_type == TYPE_UNSET || owner_type == TYPE_BLOCK)
                global = true;
        }
        if (boot) {
            i32 root = -1;
            if (!global) {
                auto it = root_ctx.find(ctx);
                if (it != root_ctx.end()) root = static_cast<i32>(it->second);
            }
            if (compact) {
                if (assign) byte(PREFIX_ASSIGN);
                open(t, nl, false, root >= 0);
                uvar(sym);
                if (root >= 0) {
                    uvar(static_cast<u32>(root));
                    svar(word_index(&v));
                }
            } else {
                header(t | (assign ? FX_WORD_FLAG : 0), nl);
                word(sym);
                word(static_cast<u32>(root));
                word(root >= 0 ? static_cast<u32>(word_index(&v)) : static_cast<u32>(-1));
            }
            return;
        }
        u32 off = 0;
        bool ref = !global && lookup(ctx, &off);
        if (!global && !ref && owner_type != TYPE_OBJECT && owner_type != TYPE_FUNCTION)
            global = true;  // an owner that cannot be written: the binding is not kept
        if (global) {
            if (compact) {
                open(t, nl, false, false);
                uvar(sym);
            } else {
                header(t | FX_WORD_FLAG, nl);
                word(sym);
                word(static_cast<u32>(word_index(&v)));
            }
            return;
        }
        if (compact) {
            open(t, nl, ref, true);
            uvar(sym);
            svar(word_index(&v));
        } else {
            header(t | (ref ? FX_REF : 0), nl);
            word(sym);
            word(static_cast<u32>(word_index(&v)));
        }
        if (ref) {
            emit_path(off);
            return;
        }
        push_level();
        record_key(ctx);
        ValueCell owner = *context_owner(ctx);
        if (owner_type == TYPE_OBJECT) {
            bool handlers = object_record(&owner) != 0;
            if (compact) tag(TYPE_OBJECT, handlers);
            else header(TYPE_OBJECT | (handlers ? FX_HANDLERS : 0), false);
            object_body(owner);
        } else {
            if (compact) tag(TYPE_FUNCTION, false);
            else header(TYPE_FUNCTION, false);
            function_body(owner);
        }
        pop_level();
    }

    // ---- the image ----------------------------------------------------------------------------------------
    std::vector<u8> assemble(u32 roots, bool compress, u8 version) const {
        if (out.size() > static_cast<size_t>(std::numeric_limits<i32>::max()) ||
            names.size() > static_cast<size_t>(std::numeric_limits<i32>::max()))
            fire(Err::internal_no_memory);
        bool syms = !sym_ids.empty();
        std::vector<u8> rest;
        rest.reserve(out.size() + names.size() + sym_ids.size() * 4 + 32);
        if (compact) {
            put_uvar(rest, roots);
            put_uvar(rest, static_cast<u32>(out.size()));
            if (syms) {
                put_uvar(rest, static_cast<u32>(sym_ids.size()));
                put_uvar(rest, static_cast<u32>(names.size()));
            }
        } else {
            put_le32(rest, roots);
            put_le32(rest, static_cast<u32>(out.size()));
            if (syms) {
                put_le32(rest, static_cast<u32>(sym_ids.size()));
                put_le32(rest, static_cast<u32>(names.size()));
            }
        }
        if (syms) {
            for (u32 off : name_offsets) put_le32(rest, off);
            rest.insert(rest.end(), names.begin(), names.end());
        }
        rest.insert(rest.end(), out.begin(), out.end());

        u8 flags = static_cast<u8>((compact ? ZANBIN_FLAG_COMPACT : 0) |
                                   (syms ? ZANBIN_FLAG_SYMBOLS : 0));
        std::vector<u8> image(MAGIC, MAGIC + sizeof MAGIC);
        image.push_back(version);
        if (compress) {
            std::vector<u8> packed;
            if (compress_bytes(CompressMethod::lz, rest, packed) != CompressStatus::ok)
                fire(Err::internal_no_memory);
            image.push_back(static_cast<u8>(flags | ZANBIN_FLAG_COMPRESSED));
            image.insert(image.end(), packed.begin(), packed.end());
        } else {
            image.push_back(flags);
            image.insert(image.end(), rest.begin(), rest.end());
        }
        return image;
    }
};

}  // namespace zanbin

using zanbin::Encoder;

std::vector<u8> zanbin_encode_bytes(const ValueCell* value, const ZanbinEncodeOptions& options) {
    g_zanbin_codec_mode = true;
    ValueCell v = *value;
    Encoder e(options.compact);
    e.value(&v);
    return e.assemble(1, options.compress, ZANBIN_VERSION);
}

namespace {
ValueCell* encode_to_binary(const ValueCell* value, bool compact) {
    ZanbinEncodeOptions o;
    o.compact = compact;
    std::vector<u8> bytes = zanbin_encode_bytes(value, o);
    return binary_load(ByteSource(bytes.data()), static_cast<u32>(bytes.size()));
}
}  // namespace

ValueCell* zanbin_encode(const ValueCell* value) { return encode_to_binary(value, false); }
ValueCell* zanbin_encode_compact(const ValueCell* value) { return encode_to_binary(value, true); }

// ---- the boot image writer -------------------------------------------------------------------------------

struct ZanbinBootWriter::State {
    Encoder e;
    bool compress;
    u32 roots = 0;
    State(const ZanbinEncodeOptions& o) : e(o.compact), compress(o.compress) { e.boot = true; }
};

ZanbinBootWriter::ZanbinBootWriter(const ZanbinEncodeOptions& options,
                                   const std::vector<std::string>& preset_symbols)
    : state_(new State(options)) {
    for (const std::string& name : preset_symbols)
        state_->e.symbol(symbol_make_text(name.data(), static_cast<u32>(name.size())));
}

ZanbinBootWriter::~ZanbinBootWriter() { delete state_; }

void ZanbinBootWriter::add_root(const ValueCell* value) {
    ValueCell v = *value;
    u32 t = v.type();
    if (t == TYPE_OBJECT || t == TYPE_FUNCTION || t == TYPE_ERROR)
        state_->e.root_ctx.emplace(context_of(&v), state_->roots);
    state_->e.cur = state_->roots;
    state_->e.value(&v);
    state_->roots++;
    state_->e.cur = state_->roots;
}

void ZanbinBootWriter::add_assignment(const ValueCell* word, const ValueCell* value) {
    ValueCell w = *word;
    ValueCell v = *value;
    if (!zanbin::word_record_type(w.type())) fire(Err::script_invalid_arg, &w);
    Encoder& e = state_->e;
    // The word and the value stand at the next root positions only while the
    // image is decoded: what the value records there is forgotten after.
    std::vector<u64> journal;
    e.journal = &journal;
    e.cur = state_->roots;
    e.word_value(w, w.type(), false, true);
    e.cur++;
    e.value(&v);
    for (u64 key : journal) e.refs.erase(key);
    e.journal = nullptr;
    e.cur = state_->roots;
}

std::vector<u8> ZanbinBootWriter::finish() {
    return state_->e.assemble(state_->roots, state_->compress, ZANBIN_BOOT_VERSION);
}

}  // namespace zan
