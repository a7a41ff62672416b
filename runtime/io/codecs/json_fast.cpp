// The JSON reader's fast path: one pass over the text in C++, building the
// same values that the reader's grammar builds. It takes only input it is
// sure of; anything else (malformed text, deep nesting, a broken escape, a
// key or number it leaves to the language's own scanner) makes it decline,
// and the grammar then reads the text and gives the value or the error.
#include "runtime/io/codecs/json_fast.h"

#include "runtime/io/codecs/codec_text.h"

#include <string>
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"

namespace zan {

namespace {

class FastReader {
public:
    FastReader(std::vector<u8> bytes, u32 unit, u32 length)
        : bytes_(std::move(bytes)), unit_(unit), len_(length) {}

    // Pushes the decoded value; false when the input is declined.
    bool document() {
        if (!value(0)) return false;
        skip_ws();
        return pos_ == len_;
    }

private:
    std::vector<u8> bytes_;
    u32 unit_;
    u32 len_;
    u32 pos_ = 0;
    std::vector<u32> cps_;

    u32 at(u32 i) const { return unicode_get_unit(bytes_.data() + (size_t(i) << (unit_ >> 1)), unit_); }
    u32 peek() const { return pos_ < len_ ? at(pos_) : 0xFFFFFFFFu; }

    void skip_ws() {
        while (pos_ < len_) {
            u32 c = at(pos_);
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
            pos_++;
        }
    }

    bool literal(const char* text) {
        u32 p = pos_;
        for (; *text; text++, p++)
            if (p >= len_ || at(p) != static_cast<u8>(*text)) return false;
        pos_ = p;
        return true;
    }

    bool value(u32 depth) {
        skip_ws();
        u32 c = peek();
        bool ok;
        if (c == '{') ok = object(depth + 1);
        else if (c == '[') ok = array(depth + 1);
        else if (c == '"') ok = string_value();
        else if (c == 't') ok = literal("true") && logic_push(true);
        else if (c == 'f') ok = literal("false") && logic_push(false);
        else if (c == 'n') ok = literal("null") && none_push();
        else ok = number();
        if (!ok) return false;
        skip_ws();
        return true;
    }

    void append_top(ValueCell* block) {
        block_append_cell(block, g_stack.top - 1);
        stack_pop(1);
    }

    // Pushes a new block and reads into it the items of the container that
    // opens at pos_, up to its closing bracket: values, or for an object a
    // key before each value.
    bool container(u32 depth, u32 close, bool members) {
        if (depth > kCodecFastDepth) return false;
        pos_++;
        ValueCell* block = block_push_new(4);
        skip_ws();
        if (peek() == close) {
            pos_++;
            return true;
        }
        for (;;) {
            if (members && !member_key(block)) return false;
            if (!value(depth)) return false;
            append_top(block);
            u32 c = peek();
            pos_++;
            if (c == close) return true;
            if (c != ',') return false;
        }
    }

    bool member_key(ValueCell* block) {
        skip_ws();
        if (peek() != '"' || !key()) return false;
        append_top(block);
        skip_ws();
        if (peek() != ':') return false;
        pos_++;
        return true;
    }

    bool array(u32 depth) { return container(depth, ']', false); }

    // The members' block becomes the object's map, as make map! makes it.
    bool object(u32 depth) {
        if (!container(depth, '}', true)) return false;
        ValueCell* members = g_stack.top - 1;
        ValueCell* made = map_make(nullptr, members, false);
        *members = *made;
        g_stack.top = members + 1;
        return true;
    }

    void emit(u32 cp) { cps_.push_back(cp); }

    i32 hex4(u32 p) const {
        if (p + 4 > len_) return -1;
        i32 code = 0;
        for (u32 i = 0; i < 4; i++) {
            u32 c = at(p + i);
            i32 d = c >= '0' && c <= '9'   ? static_cast<i32>(c - '0')
                    : c >= 'A' && c <= 'F' ? static_cast<i32>(c - 'A' + 10)
                    : c >= 'a' && c <= 'f' ? static_cast<i32>(c - 'a' + 10)
                                           : -1;
            if (d < 0) return -1;
            code = code * 16 + d;
        }
        return code;
    }

    // The characters of a string's body into cps_; pos_ after the closing
    // quote. Refuses what the grammar or its escape decoder refuses.
    bool string_body() {
        cps_.clear();
        pos_++;
        for (;;) {
            if (pos_ >= len_) return false;
            u32 c = at(pos_++);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                cps_.push_back(c);
                continue;
            }
            if (pos_ >= len_) return false;
            u32 e = at(pos_++);
            switch (e) {
                case '"': case '\\': case '/': emit(e); break;
                case 'b': emit(0x08); break;
                case 'f': emit(0x0C); break;
                case 'n': emit('\n'); break;
                case 'r': emit('\r'); break;
                case 't': emit('\t'); break;
                case 'u': {
                    i32 code = hex4(pos_);
                    if (code < 0 || (code >= 0xDC00 && code <= 0xDFFF)) return false;
                    pos_ += 4;
                    u32 cp = static_cast<u32>(code);
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (pos_ + 6 > len_ || at(pos_) != '\\' || at(pos_ + 1) != 'u') return false;
                        i32 low = hex4(pos_ + 2);
                        if (low < 0xDC00 || low > 0xDFFF) return false;
                        pos_ += 6;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<u32>(low) - 0xDC00);
                    }
                    emit(cp);
                    break;
                }
                default: return false;
            }
        }
    }

    // A new string of the characters in cps_ (a leading U+FEFF is kept).
    void push_string() { codec_push_text(cps_); }

    bool string_value() {
        if (!string_body()) return false;
        push_string();
        return true;
    }

    static bool ascii_letter(u32 c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    // The characters that cannot appear in a word.
    static bool not_word_char(u32 c) {
        if (c == 0xA0) return true;
        if (c >= 0x80) return false;
        static const char* const set = "/\\^,[](){}\"#%$@:;\n \t\r<>";
        for (const char* s = set; *s; s++)
            if (static_cast<u32>(static_cast<u8>(*s)) == c) return true;
        return false;
    }

    // A key: a string when its text does not have the form of a word; a
    // word, made by the scanner as the grammar's conversion makes it, when
    // it is a plain name (an ASCII letter, then letters, digits, "-", "_",
    // "?" or "!"). Other keys with the form of a word are left to the
    // grammar.
    bool key() {
        if (!string_body()) return false;
        bool word_form = !cps_.empty() && !not_word_char(cps_[0]) && !(cps_[0] >= '0' && cps_[0] <= '9') &&
                         cps_[0] != '\'';
        for (size_t i = 1; word_form && i < cps_.size(); i++) word_form = !not_word_char(cps_[i]);
        if (!word_form) {
            push_string();
            return true;
        }
        bool plain = ascii_letter(cps_[0]);
        for (size_t i = 1; plain && i < cps_.size(); i++) {
            u32 c = cps_[i];
            plain = ascii_letter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '?' || c == '!';
        }
        return plain && word_key();
    }

    // Scans text (ASCII) as the language's scanner scans one value and
    // pushes that value when it is of one of the two types; false else.
    static bool scan_as(const std::string& text, u32 type_a, u32 type_b) {
        if (!g_services.lexer_scan_string) return false;
        ValueCell* s = string_load_push(text.data(), static_cast<u32>(text.size()), 0);
        ValueCell* out = unset_push();
        i32 consumed = 0;
        g_services.lexer_scan_string(s, out, -1, &consumed);
        if (out->type() != TYPE_BLOCK || block_length(out) != 1) return false;
        ValueCell v = *block_head_ptr(out);
        if (v.type() != type_a && v.type() != type_b) return false;
        *s = v;
        g_stack.top = s + 1;
        return true;
    }

    // The word of a plain key, as the conversion to word! makes it.
    bool word_key() {
        if (!scan_as(std::string(cps_.begin(), cps_.end()), TYPE_WORD, TYPE_WORD)) return false;
        g_stack.top[-1].header = TYPE_WORD;
        return true;
    }

    // A number of the grammar's form. Up to nine digits without fraction or
    // exponent is an integer!; the rest is converted by the scanner, as
    // load converts it.
    bool number() {
        u32 start = pos_;
        if (peek() == '-') pos_++;
        u32 c = peek();
        if (c == '0') {
            pos_++;
        } else if (c >= '1' && c <= '9') {
            while (pos_ < len_ && at(pos_) >= '0' && at(pos_) <= '9') pos_++;
        } else {
            return false;
        }
        bool simple = true;
        if (peek() == '.') {
            simple = false;
            pos_++;
            u32 d = pos_;
            while (pos_ < len_ && at(pos_) >= '0' && at(pos_) <= '9') pos_++;
            if (pos_ == d) return false;
        }
        if (peek() == 'e' || peek() == 'E') {
            simple = false;
            pos_++;
            if (peek() == '+' || peek() == '-') pos_++;
            u32 d = pos_;
            while (pos_ < len_ && at(pos_) >= '0' && at(pos_) <= '9') pos_++;
            if (pos_ == d) return false;
        }
        std::string text;
        for (u32 i = start; i < pos_; i++) text += static_cast<char>(at(i));
        u32 digits = static_cast<u32>(text.size()) - (text[0] == '-' ? 1 : 0);
        if (simple && digits <= 9) {
            i32 v = 0;
            for (size_t i = text[0] == '-' ? 1 : 0; i < text.size(); i++) v = v * 10 + (text[i] - '0');
            integer_push(text[0] == '-' ? -v : v);
            return true;
        }
        return text.size() <= 40 && scan_as(text, TYPE_INTEGER, TYPE_FLOAT);
    }
};

}  // namespace

void json_routine_fast_decode() {
    ValueCell* input = stack_arg(0);
    ValueCell* top = g_stack.top;
    SeriesBuffer* b = series_of(input);
    u32 unit = b->unit();
    u32 length = static_cast<u32>(string_length(input));
    const u8* head = string_head_ptr(input);
    std::vector<u8> bytes(head, head + (size_t(length) * unit));
    FastReader reader(std::move(bytes), unit, length);
    ValueCell* out = block_push_new(1);
    ValueCell result;
    if (reader.document()) {
        block_append_cell(out, g_stack.top - 1);
        result = *out;
    } else {
        result = *none_push();
    }
    g_stack.top = top;
    stack_set_last(&result);
}

}  // namespace zan
