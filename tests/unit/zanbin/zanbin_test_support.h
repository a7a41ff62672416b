// Fixture and helpers of the ZANBIN tests: a fresh runtime per test, builders
// of values of every datatype, a capture of raised errors, and a structural
// comparison of an original value with its decoded copy that also checks
// that sharing is kept (the nodes of the two graphs must correspond one to
// one).
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/runtime_start.h"
#include "common/stack_mark.h"
#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatypes.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/io/zanbin/zanbin.h"

namespace zan::test {

struct RaisedError {
    Err id = Err::internal_not_done;
    std::vector<ValueCell> args;
};

inline RaisedError& last_error() {
    static RaisedError e;
    return e;
}

[[noreturn]] inline void capture_raiser(Err id, const ValueCell* a1, const ValueCell* a2,
                                         const ValueCell* a3) {
    RaisedError& e = last_error();
    e.id = id;
    e.args.clear();
    for (const ValueCell* a : {a1, a2, a3})
        if (a) e.args.push_back(*a);
    g_raw_error = id;
    raise_code(THROW_ERROR);
}

using Bytes = std::vector<u8>;

inline Bytes bytes_of(std::initializer_list<int> list) {
    Bytes b;
    for (int x : list) b.push_back(static_cast<u8>(x));
    return b;
}

// The six bytes every ZANBIN image starts with.
inline const Bytes kMagic = bytes_of({'Z', 'A', 'N', 'B', 'I', 'N'});

inline std::string hex(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < b.size(); i++) {
        if (i) s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

// Appends the number n to a vector as a value of its element type, through
// the vector's own append (the vector cell must not live inside a series).
inline void vector_append_number(ValueCell* vec, i32 n) {
    u32 type = vector_element_type(vec);
    ValueCell c;
    if (type == TYPE_FLOAT || type == TYPE_PERCENT) float_make_typed_at(&c, type, n);
    else cell_init(&c, type, 0, static_cast<u32>(n));
    vector_insert(vec, &c, -1, false, 1, true);
}

// The four ways of writing an image.
struct Layout {
    bool compact;
    bool compress;
    const char* name;
};
inline const std::vector<Layout>& all_layouts() {
    static const std::vector<Layout> l = {{true, false, "compact"},
                                          {false, false, "fixed"},
                                          {true, true, "compact+lz"},
                                          {false, true, "fixed+lz"}};
    return l;
}

class ZanbinTest : public ::testing::Test {
protected:
    void SetUp() override {
        start_runtime();
        set_error_raiser(capture_raiser);
    }
    void TearDown() override {
        g_gc.enabled = false;
        set_collect_stress(false);
    }

    // ---- builders (results that hold series are kept on the data stack) --------------------
    static ValueCell integer(i32 v) {
        ValueCell c;
        integer_box(&c, v);
        return c;
    }
    static ValueCell flt(double d, u32 type = TYPE_FLOAT) {
        ValueCell c;
        float_make_typed_at(&c, type, d);
        return c;
    }
    static ValueCell chr(u32 cp) {
        ValueCell c;
        char_box(&c, cp);
        return c;
    }
    static ValueCell logic(bool b) {
        ValueCell c;
        logic_box(&c, b);
        return c;
    }
    static ValueCell none() {
        ValueCell c;
        none_box(&c);
        return c;
    }
    static ValueCell nl(ValueCell c) {
        c.header |= CELL_NEW_LINE;
        return c;
    }
    static ValueCell word(const char* name, u32 type = TYPE_WORD) {
        ValueCell w;
        word_make_at(symbol_make(name), &w);
        cell_set_type(&w, type);
        return w;
    }
    static ValueCell* text(const std::string& utf8, u32 type = TYPE_STRING) {
        ValueCell* s = string_load_push(utf8.data(), static_cast<u32>(utf8.size()), 0);
        cell_set_type(s, type);
        return s;
    }
    static ValueCell* blk(std::initializer_list<ValueCell> cells, u32 type = TYPE_BLOCK) {
        ValueCell* b = block_push_new(static_cast<u32>(cells.size()));
        for (const ValueCell& c : cells) block_append_cell(b, &c);
        cell_set_type(b, type);
        return b;
    }
    static void append(ValueCell* block, const ValueCell& v) { block_append_cell(block, &v); }
    // An object of the given fields (word, value pairs).
    static ValueCell* object(std::initializer_list<std::pair<const char*, ValueCell>> fields) {
        ValueCell* o = unset_push();
        object_make_at(o, static_cast<u32>(fields.size()));
        for (const auto& f : fields) {
            ValueCell w = word(f.first);
            context_add_word_value(context_cell(o->data1), &w, &f.second);
        }
        o->data2 = object_new_class_id();
        object_refresh_owner(o);
        return o;
    }
    // A word bound to field n of an object.
    static ValueCell bound(const ValueCell* obj, const char* name, u32 type = TYPE_WORD) {
        ValueCell w = word(name, type);
        i32 i = context_find_word(context_cell(obj->data1), w.data2, true);
        EXPECT_GE(i, 0);
        w.data1 = obj->data1;
        w.data3 = static_cast<u32>(i);
        return w;
    }
    static void set_field(ValueCell* obj, const char* name, const ValueCell& v) {
        ValueCell w = bound(obj, name);
        context_values_head(context_cell(obj->data1))[w.data3] = v;
    }
    // func spec body: the body's words are bound to the function's context.
    static ValueCell* func(ValueCell* spec, ValueCell* body) {
        function_create(spec, body, 0, 0, 0, function_check_spec(spec));
        return g_stack.top - 1;
    }
    // A function sharing another's spec (as functions of one plain spec do).
    static ValueCell* func_sharing_spec(const ValueCell* other, ValueCell* body) {
        ValueCell spec;
        cell_init(&spec, TYPE_BLOCK, 0, callable_spec(other));
        function_create_own_spec(&spec, body, 0, 0, 0, function_check_spec(&spec));
        return g_stack.top - 1;
    }

    // A collection now, whatever the collector's setting.
    static void collect() {
        bool was = g_gc.enabled;
        g_gc.enabled = true;
        gc_collect();
        g_gc.enabled = was;
    }

    // ---- encoding and decoding -----------------------------------------------------------
    static Bytes encode(const ValueCell* v, const Layout& l) {
        ZanbinEncodeOptions o;
        o.compact = l.compact;
        o.compress = l.compress;
        return zanbin_encode_bytes(v, o);
    }
    static Bytes encode(const ValueCell* v, bool compact = true) {
        return encode(v, Layout{compact, false, ""});
    }
    // Decodes into a new block (on the data stack) and returns it.
    static ValueCell* decode(const Bytes& b) {
        ValueCell* out = block_push_new(1);
        zanbin_decode(b.data(), b.size(), out);
        return out;
    }
    // Decodes and expects exactly one value.
    static ValueCell decode_one(const Bytes& b) {
        ValueCell* out = decode(b);
        EXPECT_EQ(block_length(out), 1);
        return block_length(out) ? *block_head_ptr(out) : none();
    }

    // Runs f and answers the error it raised (a failure when none was).
    template <class F>
    static RaisedError error_of(F f) {
        u32 code = raised_code(f);
        if (code == 0) {
            ADD_FAILURE() << "no error was raised";
            return RaisedError{};
        }
        EXPECT_EQ(code, THROW_ERROR);
        return last_error();
    }
    static i32 corrupt_position(const Bytes& b) {
        RaisedError e = error_of([&] { decode(b); });
        EXPECT_EQ(e.id, Err::script_zb_invalid_record);
        if (e.id != Err::script_zb_invalid_record || e.args.empty()) return -1;
        EXPECT_EQ(e.args[0].type(), TYPE_INTEGER);
        return integer_get(&e.args[0]);
    }
};

// ---- structural comparison ----------------------------------------------------------------------
// Compares an original value with its decoded copy. Nodes (series and
// contexts) must correspond one to one, so that sharing and cycles are
// checked too. Words bound to the global context (or to none) must come back
// bound to the global context; object class ids come back as -1 in codec
// mode.
class Same {
public:
    std::string why;

    bool value(const ValueCell& a, const ValueCell& b) {
        if (a.type() != b.type()) return fail("type " + std::to_string(a.type()) + " vs " +
                                              std::to_string(b.type()));
        if (a.new_line() != b.new_line()) return fail("new-line marker");
        u32 t = a.type();
        switch (t) {
            case TYPE_UNSET:
            case TYPE_NONE: return true;
            case TYPE_DATATYPE:
            case TYPE_LOGIC: return eq(a.data1, b.data1, "data1");
            case TYPE_CHAR:
            case TYPE_INTEGER: return eq(a.data2, b.data2, "payload");
            case TYPE_FLOAT:
            case TYPE_PERCENT:
            case TYPE_TIME:
                return eq(a.data2, b.data2, "float low") && eq(a.data3, b.data3, "float high");
            case TYPE_TYPESET:
            case TYPE_POINT2D:
            case TYPE_POINT3D:
            case TYPE_DATE:
                return eq(a.data1, b.data1, "w1") && eq(a.data2, b.data2, "w2") &&
                       eq(a.data3, b.data3, "w3");
            case TYPE_PAIR: return eq(a.data2, b.data2, "x") && eq(a.data3, b.data3, "y");
            case TYPE_TUPLE:
            case TYPE_MONEY:
                return eq(a.header, b.header, "header") && eq(a.data1, b.data1, "w1") &&
                       eq(a.data2, b.data2, "w2") && eq(a.data3, b.data3, "w3");
            case TYPE_ISSUE: return eq(a.data2, b.data2, "symbol");
            case TYPE_WORD:
            case TYPE_SET_WORD:
            case TYPE_LIT_WORD:
            case TYPE_GET_WORD:
            case TYPE_REFINEMENT: return word(a, b);
            case TYPE_NATIVE:
            case TYPE_ACTION:
                return eq(a.data1, b.data1, "table index") && cells(a.data2, b.data2);
            case TYPE_OP: {
                if (op_wrapped_type(&a) != op_wrapped_type(&b)) return fail("op wrapped type");
                ValueCell x = a, y = b;
                x.header = y.header = op_wrapped_type(&a);
                return value(x, y);
            }
            case TYPE_FUNCTION: return function(a, b);
            case TYPE_OBJECT: return object(a, b);
            case TYPE_ERROR: return error(a, b);
            case TYPE_MAP: return map(a, b);
            case TYPE_BITSET:
                if (bitset_complemented(&a) != bitset_complemented(&b)) return fail("complement");
                return bytes(a.data2, b.data2);
            case TYPE_BINARY: return eq(a.data1, b.data1, "head") && bytes(a.data2, b.data2);
            case TYPE_VECTOR:
                return eq(a.data1, b.data1, "head") && eq(a.data3, b.data3, "element type") &&
                       bytes(a.data2, b.data2);
            case TYPE_IMAGE: return image(a, b);
            default:
                if (type_block_like(t)) return eq(a.data1, b.data1, "head") && cells(a.data2, b.data2);
                if (type_string_like(t)) return eq(a.data1, b.data1, "head") && bytes(a.data2, b.data2);
                return fail("no comparison for type " + std::to_string(t));
        }
    }

    // A decoded object's class id (-1 in codec mode, the original at start-up).
    bool keep_class = false;

private:
    std::map<Node, Node> fwd_, bwd_;
    // Image pixel-store slots, paired apart from the nodes.
    std::map<u32, u32> slot_fwd_, slot_bwd_;

    bool fail(const std::string& s) {
        if (why.empty()) why = s;
        return false;
    }
    bool eq(u32 x, u32 y, const char* what) {
        if (x == y) return true;
        return fail(std::string(what) + ": " + std::to_string(x) + " vs " + std::to_string(y));
    }
    // 1: a new pair (compare the contents), 0: already paired, -1: mismatch.
    int pair(Node a, Node b) { return pair_in(fwd_, bwd_, a, b); }
    int pair_in(std::map<u32, u32>& fwd, std::map<u32, u32>& bwd, u32 a, u32 b) {
        auto i = fwd.find(a);
        auto j = bwd.find(b);
        if (i == fwd.end() && j == bwd.end()) {
            fwd[a] = b;
            bwd[b] = a;
            return 1;
        }
        if (i != fwd.end() && i->second == b) return 0;
        fail("sharing differs");
        return -1;
    }
    bool image(const ValueCell& a, const ValueCell& b) {
        if (!eq(a.data1, b.data1, "head") || !eq(a.data3, b.data3, "image size")) return false;
        u32 sa = image_slot(&a), sb = image_slot(&b);
        if ((sa == IMAGE_NO_SLOT) != (sb == IMAGE_NO_SLOT)) return fail("pixels present");
        if (sa == IMAGE_NO_SLOT) return true;
        int r = pair_in(slot_fwd_, slot_bwd_, sa, sb);
        if (r <= 0) return r == 0;
        if (!image_words(&a) || !image_words(&b)) return fail("pixel store slot");
        if (std::memcmp(image_words(&a), image_words(&b), u64(image_count(&a)) * 4) != 0)
            return fail("pixels");
        return true;
    }
    bool cells(Node a, Node b) {
        int r = pair(a, b);
        if (r <= 0) return r == 0;
        SeriesBuffer* x = node_buffer(a);
        SeriesBuffer* y = node_buffer(b);
        u32 n = x->used_bytes() / 16;
        if (n != y->used_bytes() / 16) return fail("cell count");
        for (u32 i = 0; i < n; i++) {
            ValueCell ca = node_buffer(a)->head_cells()[i];
            ValueCell cb = node_buffer(b)->head_cells()[i];
            if (!value(ca, cb)) return false;
        }
        return true;
    }
    bool bytes(Node a, Node b) {
        int r = pair(a, b);
        if (r <= 0) return r == 0;
        SeriesBuffer* x = node_buffer(a);
        SeriesBuffer* y = node_buffer(b);
        if (x->unit() != y->unit()) return fail("unit");
        if (x->used_bytes() != y->used_bytes()) return fail("length");
        if (std::memcmp(x->head_ptr(), y->head_ptr(), x->used_bytes()) != 0) return fail("bytes");
        return true;
    }
    bool context(Node a, Node b) {
        int r = pair(a, b);
        if (r <= 0) return r == 0;
        ValueCell* x = context_cell(a);
        ValueCell* y = context_cell(b);
        if (context_kind(x) != context_kind(y)) return fail("context kind");
        if (context_on_stack(x) != context_on_stack(y)) return fail("context on stack");
        u32 n = context_word_count(x);
        if (n != context_word_count(y)) return fail("word count");
        for (u32 i = 0; i < n; i++)
            if (!eq(context_words_head(context_cell(a))[i].data2,
                    context_words_head(context_cell(b))[i].data2, "context word"))
                return false;
        if (context_on_stack(x)) return true;
        for (u32 i = 0; i < n; i++) {
            ValueCell va = context_values_head(context_cell(a))[i];
            ValueCell vb = context_values_head(context_cell(b))[i];
            if (!value(va, vb)) return false;
        }
        return true;
    }
    bool word(const ValueCell& a, const ValueCell& b) {
        if (!eq(a.data2, b.data2, "symbol")) return false;
        bool ga = a.data1 == 0 || a.data1 == g_global_ctx ||
                  (context_owner(a.data1)->type() != TYPE_OBJECT &&
                   context_owner(a.data1)->type() != TYPE_FUNCTION &&
                   context_owner(a.data1)->type() != TYPE_ERROR);
        if (ga) return eq(b.data1, g_global_ctx, "global binding");
        if (!eq(a.data3, b.data3, "word index")) return false;
        ValueCell oa = *context_owner(a.data1), ob = *context_owner(b.data1);
        if (oa.type() != ob.type()) return fail("owner type");
        oa.header &= ~CELL_NEW_LINE;
        ob.header &= ~CELL_NEW_LINE;
        return value(oa, ob);
    }
    bool object(const ValueCell& a, const ValueCell& b) {
        if (!eq(keep_class ? a.data2 : static_cast<u32>(-1), b.data2, "class")) return false;
        if ((a.data3 != 0) != (b.data3 != 0)) return fail("event record");
        if (a.data3) {
            for (u32 k = 0; k < 2; k++)
                if (!eq(static_cast<u32>(object_event_slot(a.data3, k).index),
                        static_cast<u32>(object_event_slot(b.data3, k).index), "handler index"))
                    return false;
        }
        return context(a.data1, b.data1);
    }
    bool function(const ValueCell& a, const ValueCell& b) {
        if (!eq(a.header & ~CELL_NEW_LINE, b.header & ~CELL_NEW_LINE, "function header"))
            return false;
        if (!context(a.data1, b.data1)) return false;
        if (!cells(a.data2, b.data2)) return false;
        ValueCell ba = *function_more(&a, MORE_BODY), bb = *function_more(&b, MORE_BODY);
        return cells(ba.data2, bb.data2);
    }
    bool error(const ValueCell& a, const ValueCell& b) {
        int r = pair(a.data1, b.data1);
        if (r <= 0) return r == 0;
        for (u32 i = 0; i <= ERR_FIELD_STACK; i++) {
            ValueCell x = *error_field(&a, i), y = *error_field(&b, i);
            if (i == ERR_FIELD_TYPE || i == ERR_FIELD_ID) {
                if (!eq(x.data2, y.data2, "error type or id")) return false;
                continue;
            }
            if (!value(x, y)) return false;
        }
        return true;
    }
    bool map(const ValueCell& a, const ValueCell& b) {
        int r = pair(a.data2, b.data2);
        if (r <= 0) return r == 0;
        auto live = [](const ValueCell& m) {
            std::vector<ValueCell> e;
            u32 n = node_buffer(m.data2)->used_bytes() / 16;
            for (u32 i = 0; i + 1 < n; i += 2) {
                ValueCell* c = node_buffer(m.data2)->head_cells() + i;
                if (c[1].header == 0) continue;
                e.push_back(c[0]);
                e.push_back(c[1]);
            }
            return e;
        };
        std::vector<ValueCell> ea = live(a), eb = live(b);
        if (ea.size() != eb.size()) return fail("map entries");
        for (size_t i = 0; i < ea.size(); i++)
            if (!value(ea[i], eb[i])) return false;
        return map_count(&a) == map_count(&b) || fail("map count");
    }
};

}  // namespace zan::test
