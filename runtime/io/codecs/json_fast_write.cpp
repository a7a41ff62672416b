// The JSON writer's fast path: the text of a value made only of none,
// logic, integer, float, string, block and map values (keys words or
// strings), written in one pass exactly as the writer in the language
// writes it. Any other value, or nesting deeper than it goes, makes it
// decline, and the writer in the language writes the whole value.
#include <string>
#include <vector>

#include "runtime/core/dtoa.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/codecs/codec_text.h"
#include "runtime/io/codecs/json_fast.h"

namespace zan {

namespace {

class FastWriter {
public:
    FastWriter(std::vector<u32> indent, bool pretty, bool ascii)
        : indent_(std::move(indent)), pretty_(pretty), ascii_(ascii) {}

    std::string out;

    bool value(const ValueCell* v, u32 depth) {
        switch (v->type()) {
            case TYPE_NONE: out += "null"; return true;
            case TYPE_LOGIC: out += logic_get(v) ? "true" : "false"; return true;
            case TYPE_INTEGER: out += std::to_string(integer_get(v)); return true;
            case TYPE_FLOAT: out += dtoa_form_float(v->get_float(), 0, true); return true;
            case TYPE_STRING: text(v); return true;
            case TYPE_BLOCK: return block(v, depth + 1);
            case TYPE_MAP: return map(v, depth + 1);
            default: return false;
        }
    }

private:
    std::vector<u32> indent_;
    bool pretty_;
    bool ascii_;
    u32 level_ = 0;
    std::vector<u32> chars_;

    void put(u32 cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    void u_escape(u32 code) {
        static const char* const hex = "0123456789ABCDEF";
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(code >> shift) & 0xF];
    }

    bool normal(u32 c) const {
        if (ascii_) return c == 32 || c == 33 || (c >= 35 && c <= 91) || (c >= 93 && c <= 127);
        return c >= 32 && c != 34 && c != 92;
    }

    void character(u32 c) {
        if (normal(c)) return put(c);
        switch (c) {
            case '"': out += "\\\""; return;
            case '\\': out += "\\\\"; return;
            case 0x08: out += "\\b"; return;
            case 0x0C: out += "\\f"; return;
            case '\n': out += "\\n"; return;
            case '\r': out += "\\r"; return;
            case '\t': out += "\\t"; return;
            default: break;
        }
        if (c <= 0xFFFF) return u_escape(c);
        u32 v = c - 0x10000;
        u_escape((v >> 10) + 0xD800);
        u_escape((v & 0x3FF) + 0xDC00);
    }

    // A string from its index.
    void text(const ValueCell* s) {
        out += '"';
        chars_.clear();
        codec_read_text(s, chars_);
        for (u32 c : chars_) character(c);
        out += '"';
    }

    void name(u32 symbol) {
        out += '"';
        const char* p = symbol_to_cstr(symbol);
        u32 n = symbol_name_length(symbol);
        // The name is UTF-8; its characters go through the same escaping.
        for (u32 i = 0; i < n;) {
            u8 b = static_cast<u8>(p[i]);
            u32 cp, len;
            if (b < 0x80) { cp = b; len = 1; }
            else if (b < 0xE0) { cp = b & 0x1F; len = 2; }
            else if (b < 0xF0) { cp = b & 0x0F; len = 3; }
            else { cp = b & 0x07; len = 4; }
            for (u32 k = 1; k < len && i + k < n; k++) cp = (cp << 6) | (static_cast<u8>(p[i + k]) & 0x3F);
            character(cp);
            i += len;
        }
        out += '"';
    }

    void line_and_indent() {
        out += '\n';
        for (u32 i = 0; i < level_; i++)
            for (u32 c : indent_) put(c);
    }

    void open(char bracket) {
        out += bracket;
        if (pretty_) {
            level_++;
            line_and_indent();
        }
    }

    void next_item() {
        out += ',';
        if (pretty_) line_and_indent();
    }

    void close(char bracket) {
        if (pretty_) {
            level_--;
            line_and_indent();
        }
        out += bracket;
    }

    bool block(const ValueCell* b, u32 depth) {
        if (depth > kCodecFastDepth) return false;
        ValueCell* held = stack_push(b);
        i32 n = block_length(held);
        if (n == 0) {
            out += "[]";
        } else {
            open('[');
            u32 head = static_cast<u32>(series_index(held));
            for (i32 i = 0; i < n; i++) {
                if (i) next_item();
                ValueCell item = *block_cell_at(held, head + static_cast<u32>(i));
                if (!value(&item, depth)) return false;
            }
            close(']');
        }
        stack_pop(1);
        return true;
    }

    bool map(const ValueCell* m, u32 depth) {
        if (depth > kCodecFastDepth) return false;
        ValueCell* body = map_body_of(const_cast<ValueCell*>(m));
        i32 n = block_length(body);
        if (n == 0) {
            out += "{}";
        } else {
            open('{');
            for (i32 i = 0; i + 1 < n; i += 2) {
                if (i) next_item();
                ValueCell key = *block_cell_at(body, static_cast<u32>(i));
                if (key.type() == TYPE_SET_WORD) name(word_symbol(&key));
                else if (key.type() == TYPE_STRING) text(&key);
                else return false;
                out += pretty_ ? ": " : ":";
                ValueCell item = *block_cell_at(body, static_cast<u32>(i + 1));
                if (!value(&item, depth)) return false;
            }
            close('}');
        }
        stack_pop(1);
        return true;
    }
};

}  // namespace

void json_routine_fast_encode() {
    ValueCell* top = g_stack.top;
    const ValueCell* indent = stack_arg(1);
    bool pretty = indent->type() == TYPE_STRING;
    std::vector<u32> ind;
    if (pretty) codec_read_text(indent, ind);
    const ValueCell* ascii = stack_arg(2);
    bool ascii_on = ascii->type() == TYPE_LOGIC && logic_get(ascii);
    FastWriter writer(std::move(ind), pretty, ascii_on);
    ValueCell data = *stack_arg(0);
    ValueCell result;
    if (writer.value(&data, 0)) {
        result = *string_load_push(writer.out.data(), static_cast<u32>(writer.out.size()), 0);
    } else {
        result = *none_push();
    }
    g_stack.top = top;
    stack_set_last(&result);
}

}  // namespace zan
