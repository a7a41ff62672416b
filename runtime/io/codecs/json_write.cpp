// The JSON writer in C++: the text of a value made of none, logic, integer,
// float, percent, string, block and map values (keys words or strings),
// exactly as the writer's functions in the language write it. It goes over
// the value twice: once to measure the text (its length and the widest
// character in it), then to write it straight into a string of that length
// in the unit it needs, so that no text is held twice. Any other value, or
// nesting deeper than kWriterDepth, makes it decline, and the functions in
// the language write the whole value.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/core/dtoa.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/io/codecs/codec_text.h"
#include "runtime/io/codecs/json_fast.h"

namespace zan {

namespace {

// Deeper values are left to the functions in the language (which have
// their own limit, the call stack's). Documents that load-json reads nest
// less deep than this.
constexpr u32 kWriterDepth = 1000;

// First pass: counts the characters and or-s their bits together.
struct Measure {
    u64 length = 0;
    u32 acc = 0;
    void put(u32 c) {
        length++;
        acc |= c;
    }
    void ascii(const char* s, u32 n) { length += n; }
    template <typename T>
    void run(const T* s, u32 n) {
        length += n;
        if (sizeof(T) > 1)
            for (u32 i = 0; i < n; i++) acc |= s[i];
    }
};

// Second pass: writes units of type T.
template <typename T>
struct Write {
    T* at;
    void put(u32 c) { *at++ = static_cast<T>(c); }
    void ascii(const char* s, u32 n) {
        for (u32 i = 0; i < n; i++) at[i] = static_cast<T>(static_cast<u8>(s[i]));
        at += n;
    }
    template <typename S>
    void run(const S* s, u32 n) {
        if (sizeof(S) == sizeof(T)) {
            std::memcpy(at, s, size_t(n) * sizeof(T));
        } else {
            for (u32 i = 0; i < n; i++) at[i] = static_cast<T>(s[i]);
        }
        at += n;
    }
};

// What the two passes share: the options, the texts of the floats (made in
// the first pass, copied in the second) and of the word keys.
struct Shared {
    std::vector<u32> indent;
    bool pretty = false;
    bool ascii = false;
    std::string floats;
    std::vector<u32> float_ends;
    // A word key's text as written, quotes included, by symbol.
    std::unordered_map<u32, std::vector<u32>> names;
};

template <typename Sink>
class Emitter {
public:
    Emitter(Shared& shared, Sink sink) : sh_(shared), sink_(sink) {}

    Sink& sink() { return sink_; }

    // The text of v; false (in the first pass only) for a value the
    // functions in the language must write.
    bool value(const ValueCell* v, u32 depth) {
        switch (v->type()) {
            case TYPE_NONE: sink_.ascii("null", 4); return true;
            case TYPE_LOGIC:
                if (logic_get(v)) sink_.ascii("true", 4);
                else sink_.ascii("false", 5);
                return true;
            case TYPE_INTEGER: {
                char buf[16];
                auto r = std::to_chars(buf, buf + sizeof buf, integer_get(v));
                sink_.ascii(buf, static_cast<u32>(r.ptr - buf));
                return true;
            }
            case TYPE_FLOAT: return number(v->get_float());
            case TYPE_PERCENT: return number(percent_get(v));
            case TYPE_STRING: text(v); return true;
            case TYPE_BLOCK: return block(v, depth + 1);
            case TYPE_MAP: return map(v, depth + 1);
            default: return false;
        }
    }

private:
    Shared& sh_;
    Sink sink_;
    u32 level_ = 0;
    size_t float_at_ = 0;

    static constexpr bool measuring = std::is_same_v<Sink, Measure>;

    // A float as mold/all writes it. An infinite or not-a-number value has
    // no JSON text: the functions in the language refuse it with an error.
    bool number(double d) {
        if constexpr (measuring) {
            if (!std::isfinite(d)) return false;
            sh_.floats += dtoa_form_float(d, 0, true);
            sh_.float_ends.push_back(static_cast<u32>(sh_.floats.size()));
        }
        size_t end = sh_.float_ends[float_at_++];
        size_t start = float_at_ > 1 ? sh_.float_ends[float_at_ - 2] : 0;
        sink_.ascii(sh_.floats.data() + start, static_cast<u32>(end - start));
        return true;
    }

    bool normal(u32 c) const {
        if (sh_.ascii) return c == 32 || c == 33 || (c >= 35 && c <= 91) || (c >= 93 && c <= 127);
        return c >= 32 && c != 34 && c != 92;
    }

    void u_escape(u32 code) {
        static const char* const hex = "0123456789ABCDEF";
        char e[6] = {'\\', 'u', hex[(code >> 12) & 0xF], hex[(code >> 8) & 0xF], hex[(code >> 4) & 0xF],
                     hex[code & 0xF]};
        sink_.ascii(e, 6);
    }

    // A character outside the normal ones: its escape.
    void escaped(u32 c) {
        switch (c) {
            case '"': sink_.ascii("\\\"", 2); return;
            case '\\': sink_.ascii("\\\\", 2); return;
            case 0x08: sink_.ascii("\\b", 2); return;
            case 0x0C: sink_.ascii("\\f", 2); return;
            case '\n': sink_.ascii("\\n", 2); return;
            case '\r': sink_.ascii("\\r", 2); return;
            case '\t': sink_.ascii("\\t", 2); return;
            default: break;
        }
        if (c <= 0xFFFF) return u_escape(c);
        u32 v = c - 0x10000;
        u_escape((v >> 10) + 0xD800);
        u_escape((v & 0x3FF) + 0xDC00);
    }

    // The characters in quotes: runs of normal characters as they are,
    // the others escaped.
    template <typename S>
    void chars(const S* s, u32 n) {
        sink_.put('"');
        u32 i = 0;
        while (i < n) {
            u32 start = i;
            while (i < n && normal(s[i])) i++;
            if (i > start) sink_.run(s + start, i - start);
            if (i < n) escaped(s[i++]);
        }
        sink_.put('"');
    }

    // A string from its index.
    void text(const ValueCell* s) {
        SeriesBuffer* b = series_of(s);
        u32 n = static_cast<u32>(string_length(s));
        const u8* head = b->tail_ptr() - (size_t(n) << unicode_unit_shift(b->unit()));
        switch (b->unit()) {
            case 1: chars(head, n); break;
            case 2: chars(reinterpret_cast<const u16*>(head), n); break;
            default: chars(reinterpret_cast<const u32*>(head), n); break;
        }
    }

    // A word key: its name in quotes, escaped like any text (made once per
    // symbol in the first pass).
    void name(u32 symbol) {
        auto found = sh_.names.find(symbol);
        if constexpr (measuring) {
            if (found == sh_.names.end()) {
                SeriesBuffer* nb = node_buffer(symbol_name_node(symbol_cell(symbol)));
                const u8* p = nb->head_ptr();
                const u8* end = p + nb->used_bytes();
                std::vector<u32> cps;
                while (p < end) {
                    i32 cp;
                    p = utf8_decode_char(p, end, &cp);
                    cps.push_back(static_cast<u32>(cp));
                }
                Shared scratch;
                scratch.ascii = sh_.ascii;
                std::vector<u32> written;
                Emitter<Write<u32>> w(scratch, Write<u32>{nullptr});
                Emitter<Measure> m(scratch, Measure{});
                m.chars(cps.data(), static_cast<u32>(cps.size()));
                written.resize(m.sink().length);
                w.sink().at = written.data();
                w.chars(cps.data(), static_cast<u32>(cps.size()));
                found = sh_.names.emplace(symbol, std::move(written)).first;
            }
        }
        const std::vector<u32>& t = found->second;
        sink_.run(t.data(), static_cast<u32>(t.size()));
    }

    void line_and_indent() {
        sink_.put('\n');
        for (u32 i = 0; i < level_; i++) sink_.run(sh_.indent.data(), static_cast<u32>(sh_.indent.size()));
    }

    void open(char bracket) {
        sink_.put(static_cast<u32>(bracket));
        if (sh_.pretty) {
            level_++;
            line_and_indent();
        }
    }

    void next_item() {
        sink_.put(',');
        if (sh_.pretty) line_and_indent();
    }

    void close(char bracket) {
        if (sh_.pretty) {
            level_--;
            line_and_indent();
        }
        sink_.put(static_cast<u32>(bracket));
    }

    bool block(const ValueCell* b, u32 depth) {
        if (depth > kWriterDepth) return false;
        u32 n = static_cast<u32>(block_length(b));
        if (n == 0) {
            sink_.ascii("[]", 2);
            return true;
        }
        const ValueCell* items = block_head_ptr(const_cast<ValueCell*>(b));
        open('[');
        for (u32 i = 0; i < n; i++) {
            if (i) next_item();
            if (!value(items + i, depth)) return false;
        }
        close(']');
        return true;
    }

    bool map(const ValueCell* m, u32 depth) {
        if (depth > kWriterDepth) return false;
        u32 count = 0;
        const ValueCell* entries = map_entry_cells(m, &count);
        bool first = true;
        for (u32 i = 0; i + 1 < count; i += 2) {
            if (!entries[i + 1].header) continue;
            if (first) open('{');
            else next_item();
            first = false;
            const ValueCell* key = entries + i;
            if (key->type() == TYPE_SET_WORD) name(word_symbol(key));
            else if (key->type() == TYPE_STRING) text(key);
            else return false;
            if (sh_.pretty) sink_.ascii(": ", 2);
            else sink_.put(':');
            if (!value(entries + i + 1, depth)) return false;
        }
        if (first) sink_.ascii("{}", 2);
        else close('}');
        return true;
    }

    template <typename>
    friend class Emitter;
};

template <typename T>
void write_units(Shared& shared, const ValueCell* data, u8* out) {
    Emitter<Write<T>> w(shared, Write<T>{reinterpret_cast<T*>(out)});
    w.value(data, 0);
}

}  // namespace

void json_routine_fast_encode() {
    ValueCell* top = g_stack.top;
    Shared shared;
    const ValueCell* indent = stack_arg(1);
    shared.pretty = indent->type() == TYPE_STRING;
    if (shared.pretty) codec_read_text(indent, shared.indent);
    const ValueCell* ascii = stack_arg(2);
    shared.ascii = ascii->type() == TYPE_LOGIC && logic_get(ascii);
    const ValueCell* data = stack_arg(0);
    // The first pass allocates nothing.
    Emitter<Measure> m(shared, Measure{});
    bool ok = m.value(data, 0);
    Measure measured = m.sink();
    ValueCell result;
    if (ok && measured.length < 0x7FFFFFFFu / 4) {
        u32 unit = measured.acc > 0xFFFF ? 4 : measured.acc > 0xFF ? 2 : 1;
        u32 n = static_cast<u32>(measured.length);
        ValueCell* s = string_make_at_unit(unset_push(), n, unit);
        SeriesBuffer* b = series_of(s);
        // Nothing below allocates: the value's buffers stay where they are.
        switch (unit) {
            case 1: write_units<u8>(shared, stack_arg(0), b->head_ptr()); break;
            case 2: write_units<u16>(shared, stack_arg(0), b->head_ptr()); break;
            default: write_units<u32>(shared, stack_arg(0), b->head_ptr()); break;
        }
        b->tail = b->head + n * unit;
        result = *s;
    } else {
        none_box(&result);
    }
    g_stack.top = top;
    stack_set_last(&result);
}

}  // namespace zan
