// The JSON reader in C++: one pass over the text that builds, straight into
// their cells, the values that the reader's grammar (library/13-json.zan)
// builds: blocks for arrays, maps for objects (word keys where the key has
// the form of a word, else string keys), strings, integers and floats as
// load makes them, logic values and none. For every text it either gives
// the grammar's value or answers that the grammar gives none: the text is
// not JSON, an escape breaks a surrogate pair, a number is one that load
// refuses, or the nesting is deeper than the grammar's rule stack holds.
// load-json then runs the grammar, which reports the error as it always has.
#include <cstring>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/codecs/json_escape.h"
#include "runtime/io/codecs/json_fast.h"
#include "runtime/io/lexer/lexer.h"
#include "runtime/typesystem/services.h"

namespace zan {

namespace {

// ---- the grammar's rule stack ---------------------------------------------------------------
// The grammar runs on parse's rule stack, which holds a bounded number of
// entries: a frame for each rule block entered and a record for each
// repetition, option or copy. A document nested deeper than they allow
// makes parse raise parse-stack. What a value takes depends on its kind and
// its place, so the reader counts the entries as the grammar's rules push
// them. A value whose json-value frame stands on s entries reaches:
//   s + 4   true, false, null: json-value, ws*, any, ws (the white space
//           after every value reaches as far);
//   s + 6   a string: json-value, the alternatives, string-literal, any, the
//           block of a run, some chars; s + 7 when it holds a \u escape (the
//           escape's block and its count of 4 hex-char);
//   s + 7   a number: the alternatives, copy, number, opt exp, exp, the
//           block of e and E; s + 8 with an exponent (the sign's block);
//   s + 11  an array: json-array, opt array-list, array-list and what the
//           grammar tries after its last item (any, [sep json-value], sep,
//           ws*, any, ws), or inside an empty one the attempt at a value;
//   s + 10  an empty object (property-list, property, json-name, ws*),
//           s + 11 any other.
// An array's first item stands on s + 5 entries, the later ones on s + 7
// (any, the block [sep json-value]). In an object the first key's
// string-literal frame is entry s + 8 and the first value stands on s + 6;
// for the later members s + 10 and s + 8. A string whose string-literal
// frame is entry f reaches f + 3, or f + 4 with a \u escape.
constexpr u32 kLiteralTop = 4;
constexpr u32 kValueStringFrame = 3;
constexpr u32 kStringRunTop = 3;
constexpr u32 kStringEscapeTop = 4;
constexpr u32 kNumberTop = 7;
constexpr u32 kExponentTop = 8;
constexpr u32 kArrayTop = 11;
constexpr u32 kFirstItem = 5;
constexpr u32 kNextItem = 7;
constexpr u32 kEmptyObjectTop = 10;
constexpr u32 kObjectTop = 11;
constexpr u32 kFirstKeyFrame = 8;
constexpr u32 kFirstMember = 6;
constexpr u32 kNextKeyFrame = 10;
constexpr u32 kNextMember = 8;

// The most entries counted without the evaluator's answer (the rule stack
// never has room for more): it bounds the reader's own recursion to 1000
// levels whatever the text.
constexpr u32 kMostRoom = 5000;

// Numbers of more digits are converted as load converts them.
constexpr u32 kPlainIntegerDigits = 9;
// Longer number texts are refused by load.
constexpr u32 kNumberTextMax = 312;

bool is_ws(u32 c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(u32 c) { return c >= '0' && c <= '9'; }

// The characters that cannot appear in a word (the grammar's not-word-char).
bool not_word_char(u32 c) {
    switch (c) {
        case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')':
        case '{': case '}': case '"': case '#': case '%': case '$': case '@': case ':':
        case ';': case '\n': case 0xA0: case ' ': case '\t': case '\r': case '<': case '>':
            return true;
        default:
            return false;
    }
}

// Whether a key's text has the form of a word: a first character that is
// neither a digit nor an apostrophe, and no character of not-word-char.
bool word_form(const std::vector<u32>& text) {
    if (text.empty() || is_digit(text[0]) || text[0] == '\'') return false;
    for (u32 c : text)
        if (not_word_char(c)) return false;
    return true;
}

// The unit a string needs for characters whose bits, or-ed together, are
// acc.
u32 unit_for(u32 acc) { return acc > 0xFFFF ? 4 : acc > 0xFF ? 2 : 1; }

// A new string! of n characters from src into out, in the unit acc needs.
template <typename T>
void make_text(const T* src, u32 n, u32 acc, ValueCell* out) {
    u32 unit = unit_for(acc);
    string_make_at_unit(out, n, unit);
    SeriesBuffer* b = series_of(out);
    u8* dst = b->head_ptr();
    if (unit == sizeof(T)) {
        std::memcpy(dst, src, size_t(n) * unit);
    } else if (unit == 1) {
        for (u32 i = 0; i < n; i++) dst[i] = static_cast<u8>(src[i]);
    } else if (unit == 2) {
        for (u32 i = 0; i < n; i++) {
            u16 c = static_cast<u16>(src[i]);
            std::memcpy(dst + 2 * i, &c, 2);
        }
    } else {
        for (u32 i = 0; i < n; i++) {
            u32 c = src[i];
            std::memcpy(dst + 4 * i, &c, 4);
        }
    }
    b->tail = b->head + n * unit;
}

// The words (or strings) that the key texts of one reading became, so that
// a repeated key is decided once.
class KeyTable {
public:
    // The cell decided for the text, or null.
    const ValueCell* find(const std::vector<u32>& text, u32 hash) const {
        if (slots_.empty()) return nullptr;
        u32 mask = static_cast<u32>(slots_.size()) - 1;
        for (u32 i = hash & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (!s.used) return nullptr;
            if (s.hash == hash && s.length == text.size() &&
                std::memcmp(text_.data() + s.at, text.data(), text.size() * sizeof(u32)) == 0)
                return &s.cell;
        }
    }

    void add(const std::vector<u32>& text, u32 hash, const ValueCell& cell) {
        if (2 * (count_ + 1) > slots_.size()) grow();
        u32 mask = static_cast<u32>(slots_.size()) - 1;
        u32 i = hash & mask;
        while (slots_[i].used) i = (i + 1) & mask;
        slots_[i] = Slot{hash, static_cast<u32>(text_.size()), static_cast<u32>(text.size()), cell, true};
        text_.insert(text_.end(), text.begin(), text.end());
        count_++;
    }

    static u32 hash_of(const std::vector<u32>& text) {
        u32 h = 2166136261u;
        for (u32 c : text) h = (h ^ c) * 16777619u;
        return h ^ (h >> 15);
    }

private:
    struct Slot {
        u32 hash = 0;
        u32 at = 0;
        u32 length = 0;
        ValueCell cell{};
        bool used = false;
    };
    std::vector<Slot> slots_;
    std::vector<u32> text_;
    u32 count_ = 0;

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        u32 mask = static_cast<u32>(slots_.size()) - 1;
        for (const Slot& s : old) {
            if (!s.used) continue;
            u32 i = s.hash & mask;
            while (slots_[i].used) i = (i + 1) & mask;
            slots_[i] = s;
        }
    }
};

// Whether the text of a key string becomes a word, as the grammar's
// `to word!` (under `try`) decides: the scanner reads the whole text
// without a syntax error and its first value is a word of some kind. The
// word, made a word!, into out.
bool key_word(const ValueCell* text, ValueCell* out) {
    ValueCell scanned;
    i32 type = lexer_scan_string(&scanned, text, -1, false, true, false, 0, nullptr, nullptr, nullptr);
    if (type == TYPE_ERROR) return false;
    ValueCell values;
    i32 consumed = 0;
    g_services.lexer_scan_string(const_cast<ValueCell*>(text), &values, -1, &consumed);
    if (values.type() != TYPE_BLOCK || block_length(&values) < 1) return false;
    ValueCell first = *block_head_ptr(&values);
    if (!any_word_type_q(first.type())) return false;
    first.header = TYPE_WORD;
    *out = first;
    return true;
}

// Reads a text whose characters are units of type U. The collector is held
// off meanwhile (the caller's GcHold): the text stays where it is and the
// cells kept here in C++ stay valid.
template <typename U>
class Reader {
public:
    Reader(const U* text, u32 length, u32 room) : p_(text), end_(text + length), room_(room) {}

    // The value of the whole text into out; false when the grammar gives
    // none.
    bool document(ValueCell* out) {
        if (!value(0, out)) return false;
        skip_ws();
        return p_ == end_;
    }

private:
    const U* p_;
    const U* end_;
    u32 room_;                     // entries the rule stack has room for
    std::vector<ValueCell> items_;  // the items of the containers open
    std::vector<u32> chars_;        // the characters of a string with escapes, or of a key
    KeyTable keys_;

    bool fits(u32 entries) const { return entries <= room_; }

    void skip_ws() {
        while (p_ < end_ && is_ws(*p_)) ++p_;
    }

    bool literal(const char* text) {
        const U* p = p_;
        for (; *text; text++, p++)
            if (p >= end_ || *p != static_cast<U>(*text)) return false;
        p_ = p;
        return true;
    }

    // A value, with the white space before it, whose json-value frame
    // stands on s entries.
    bool value(u32 s, ValueCell* out) {
        skip_ws();
        if (p_ >= end_) return false;
        switch (*p_) {
            case '{': return object(s, out);
            case '[': return array(s, out);
            case '"': return string_value(s, out);
            case 't':
                logic_box(out, true);
                return literal("true") && fits(s + kLiteralTop);
            case 'f':
                logic_box(out, false);
                return literal("false") && fits(s + kLiteralTop);
            case 'n':
                none_box(out);
                return literal("null") && fits(s + kLiteralTop);
            default: return number(s, out);
        }
    }

    // A block of the items from `start` on, which leave items_.
    void make_block(size_t start, ValueCell* out) {
        u32 n = static_cast<u32>(items_.size() - start);
        block_make_at(out, n);
        SeriesBuffer* b = series_of(out);
        if (n) std::memcpy(b->head_ptr(), items_.data() + start, size_t(n) * sizeof(ValueCell));
        b->tail = b->head + n * static_cast<u32>(sizeof(ValueCell));
        items_.resize(start);
    }

    bool array(u32 s, ValueCell* out) {
        if (!fits(s + kArrayTop)) return false;
        ++p_;
        size_t start = items_.size();
        skip_ws();
        if (p_ < end_ && *p_ == ']') {
            ++p_;
        } else {
            for (u32 at = s + kFirstItem;; at = s + kNextItem) {
                ValueCell item;
                if (!value(at, &item)) return false;
                items_.push_back(item);
                skip_ws();
                if (p_ >= end_) return false;
                U c = *p_++;
                if (c == ']') break;
                if (c != ',') return false;
            }
        }
        make_block(start, out);
        return true;
    }

    // The members' block becomes the object's map, as make map! makes it.
    bool object(u32 s, ValueCell* out) {
        if (!fits(s + kEmptyObjectTop)) return false;
        ++p_;
        size_t start = items_.size();
        skip_ws();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
        } else {
            if (!fits(s + kObjectTop)) return false;
            for (bool first = true;; first = false) {
                skip_ws();
                if (p_ >= end_ || *p_ != '"') return false;
                ValueCell key;
                if (!key_string(s + (first ? kFirstKeyFrame : kNextKeyFrame), &key)) return false;
                items_.push_back(key);
                skip_ws();
                if (p_ >= end_ || *p_ != ':') return false;
                ++p_;
                ValueCell item;
                if (!value(s + (first ? kFirstMember : kNextMember), &item)) return false;
                items_.push_back(item);
                skip_ws();
                if (p_ >= end_) return false;
                U c = *p_++;
                if (c == '}') break;
                if (c != ',') return false;
            }
        }
        ValueCell members;
        make_block(start, &members);
        u32 n = static_cast<u32>(block_length(&members));
        map_make_at(out, &members, n ? n : 2);
        return true;
    }

    // Four hexadecimal digits at p (within the text), or -1.
    i32 hex4(const U* p) const {
        if (end_ - p < 4) return -1;
        i32 code = 0;
        for (u32 i = 0; i < 4; i++) {
            i32 d = json_hex_digit(p[i]);
            if (d < 0) return -1;
            code = code * 16 + d;
        }
        return code;
    }

    // The rest of a string's body from the first backslash (at p_) into
    // chars_, which holds the characters before it; p_ after the closing
    // quote. *acc takes the bits of every character; *u_escape tells
    // whether a \u escape was read. False for what the grammar refuses: a
    // control character, an unknown or short escape, a surrogate that is
    // not half of a pair, an unclosed string.
    bool escaped_rest(u32* acc, bool* u_escape) {
        for (;;) {
            if (p_ >= end_) return false;
            u32 c = *p_++;
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (p_ >= end_) return false;
                u32 e = *p_++;
                if (e == 'u') {
                    *u_escape = true;
                    i32 code = hex4(p_);
                    if (code < 0 || (code >= static_cast<i32>(kJsonLowFirst) && code <= static_cast<i32>(kJsonLowLast)))
                        return false;
                    p_ += 4;
                    c = static_cast<u32>(code);
                    if (c >= kJsonHighFirst && c <= kJsonHighLast) {
                        if (end_ - p_ < 6 || p_[0] != '\\' || p_[1] != 'u') return false;
                        i32 low = hex4(p_ + 2);
                        if (low < static_cast<i32>(kJsonLowFirst) || low > static_cast<i32>(kJsonLowLast)) return false;
                        p_ += 6;
                        c = json_surrogate_pair(c, static_cast<u32>(low));
                    }
                } else {
                    i32 letter = json_letter_escape(e);
                    if (letter < 0) return false;
                    c = static_cast<u32>(letter);
                }
            }
            *acc |= c;
            chars_.push_back(c);
        }
    }

    // A string at p_ (its opening quote) into out; p_ after it.
    bool string_cell(bool* u_escape, ValueCell* out) {
        const U* start = ++p_;
        u32 acc = 0;
        while (p_ < end_) {
            u32 c = *p_;
            if (c == '"') {
                make_text(start, static_cast<u32>(p_ - start), acc, out);
                ++p_;
                return true;
            }
            if (c == '\\') break;
            if (c < 0x20) return false;
            acc |= c;
            ++p_;
        }
        if (p_ >= end_) return false;
        chars_.assign(start, p_);
        if (!escaped_rest(&acc, u_escape)) return false;
        make_text(chars_.data(), static_cast<u32>(chars_.size()), acc, out);
        return true;
    }

    bool string_value(u32 s, ValueCell* out) {
        bool u_escape = false;
        if (!string_cell(&u_escape, out)) return false;
        return fits(s + kValueStringFrame + (u_escape ? kStringEscapeTop : kStringRunTop));
    }

    // A key whose string-literal frame is entry f: a word when its text has
    // the form of a word and the scanner makes a word of it, else a string.
    bool key_string(u32 f, ValueCell* out) {
        bool u_escape = false;
        const U* start = ++p_;
        u32 acc = 0;
        while (p_ < end_ && *p_ != '"' && *p_ != '\\' && *p_ >= 0x20) acc |= *p_++;
        if (p_ >= end_ || *p_ < 0x20) return false;
        chars_.assign(start, p_);
        if (*p_ == '"') ++p_;
        else if (!escaped_rest(&acc, &u_escape)) return false;
        if (!fits(f + (u_escape ? kStringEscapeTop : kStringRunTop))) return false;
        u32 n = static_cast<u32>(chars_.size());
        if (!word_form(chars_)) {
            make_text(chars_.data(), n, acc, out);
            return true;
        }
        u32 hash = KeyTable::hash_of(chars_);
        if (const ValueCell* known = keys_.find(chars_, hash)) {
            if (known->type() == TYPE_WORD) *out = *known;
            else make_text(chars_.data(), n, acc, out);
            return true;
        }
        make_text(chars_.data(), n, acc, out);
        ValueCell decided;
        if (key_word(out, &decided)) *out = decided;
        else none_box(&decided);
        keys_.add(chars_, hash, decided);
        return true;
    }

    // A number of the grammar's form, converted as load converts it.
    bool number(u32 s, ValueCell* out) {
        const U* start = p_;
        if (*p_ == '-') ++p_;
        if (p_ >= end_) return false;
        if (*p_ == '0') {
            ++p_;
        } else if (*p_ >= '1' && *p_ <= '9') {
            while (p_ < end_ && is_digit(*p_)) ++p_;
        } else {
            return false;
        }
        u32 int_digits = static_cast<u32>(p_ - start) - (*start == '-' ? 1 : 0);
        bool plain = true, exponent = false;
        if (p_ < end_ && *p_ == '.') {
            plain = false;
            const U* d = ++p_;
            while (p_ < end_ && is_digit(*p_)) ++p_;
            if (p_ == d) return false;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            plain = false;
            exponent = true;
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            const U* d = p_;
            while (p_ < end_ && is_digit(*p_)) ++p_;
            if (p_ == d) return false;
        }
        if (!fits(s + (exponent ? kExponentTop : kNumberTop))) return false;
        if (plain && int_digits <= kPlainIntegerDigits) {
            i32 v = 0;
            for (const U* q = start + (*start == '-' ? 1 : 0); q < p_; q++) v = v * 10 + static_cast<i32>(*q - '0');
            integer_box(out, *start == '-' ? -v : v);
            return true;
        }
        u32 n = static_cast<u32>(p_ - start);
        if (n > kNumberTextMax) return false;
        u8 text[kNumberTextMax];
        for (u32 i = 0; i < n; i++) text[i] = static_cast<u8>(start[i]);
        return lexer_decimal_value(text, text + n, out);
    }
};

template <typename U>
bool read_text(const u8* head, u32 length, u32 room, ValueCell* out) {
    return Reader<U>(reinterpret_cast<const U*>(head), length, room).document(out);
}

}  // namespace

void json_routine_fast_decode() {
    ValueCell* input = stack_arg(0);
    // Nothing is collected while the text is read: a collection that is due
    // runs first. It frees what the read that brought the text left behind
    // before the values are made, which keeps the peak down.
    if (memory_collection_due()) gc_collect_if_enabled();
    u32 room = g_services.parse_room_for_run ? g_services.parse_room_for_run() : kMostRoom;
    if (room > kMostRoom) room = kMostRoom;
    ValueCell result;
    {
        GcHold hold;
        u32 unit = series_of(input)->unit();
        u32 length = static_cast<u32>(string_length(input));
        const u8* head = string_head_ptr(input);
        ValueCell value;
        bool ok = unit == 1   ? read_text<u8>(head, length, room, &value)
                  : unit == 2 ? read_text<u16>(head, length, room, &value)
                              : read_text<u32>(head, length, room, &value);
        if (ok) {
            block_make_at(&result, 1);
            SeriesBuffer* b = series_of(&result);
            *b->head_cells() = value;
            b->tail = b->head + static_cast<u32>(sizeof(ValueCell));
        } else {
            none_box(&result);
        }
    }
    stack_set_last(&result);
}

}  // namespace zan
