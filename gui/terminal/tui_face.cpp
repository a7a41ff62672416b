// Reading face objects.
#include "gui/terminal/tui_face.h"

#include "gui/terminal/tui_color.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/core/layout.h"
#include "runtime/datatypes/word.h"

namespace zan::gui {

ValueCell* field_of(const ValueCell* obj, const char* name) {
    if (!obj || obj->type() != TYPE_OBJECT) return nullptr;
    ValueCell word;
    word_make_at(symbol_make(name), &word);
    i32 i = object_find_word(obj, &word);
    return i < 0 ? nullptr : object_values(obj) + i;
}

bool word_is(const ValueCell* v, const char* name) {
    return v && (v->type() == TYPE_WORD || v->type() == TYPE_LIT_WORD) &&
           symbol_resolve(word_symbol(v)) == symbol_resolve(symbol_make(name));
}

ValueCell* block_item(const ValueCell* block, i32 i) {
    return block_cell_at(block, static_cast<u32>(series_index(block) + i));
}

std::u32string string_code_points(const ValueCell* s) {
    std::u32string out;
    if (!s || s->type() != TYPE_STRING) return out;
    u32 head = static_cast<u32>(series_index(s));
    i32 n = string_length(s);
    for (i32 i = 0; i < n; i++) out += static_cast<char32_t>(string_char_at(s, head + static_cast<u32>(i)));
    return out;
}

std::string string_utf8(const ValueCell* s) {
    std::string out;
    if (!s || s->type() != TYPE_STRING) return out;
    u32 head = static_cast<u32>(series_index(s));
    i32 n = string_length(s);
    u8 buf[8];
    for (i32 i = 0; i < n; i++) {
        u32 k = utf8_encode_char(string_char_at(s, head + static_cast<u32>(i)), buf);
        out.append(reinterpret_cast<const char*>(buf), k);
    }
    return out;
}

u32 tuple_color(const ValueCell* v) {
    if (!v || v->type() != TYPE_TUPLE) return COLOR_DEFAULT;
    u32 rgba = tuple_byte(v, 1) | (tuple_byte(v, 2) << 8) | (tuple_byte(v, 3) << 16);
    if (tuple_size(v) >= 4) rgba |= tuple_byte(v, 4) << 24;
    return color_from_tuple(rgba);
}

}  // namespace zan::gui
