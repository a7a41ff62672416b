// The typed view of faces.
#include "gui/terminal/tui_face.h"

#include "gui/terminal/tui_color.h"
#include "runtime/core/layout.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"

namespace zan::gui {

namespace {
#define ZAN_TUI_TEXT(id, text) text,
const char* const kFacetNames[] = {ZAN_TUI_FACETS(ZAN_TUI_TEXT)};
const char* const kNames[] = {ZAN_TUI_NAMES(ZAN_TUI_TEXT)};
#undef ZAN_TUI_TEXT
static_assert(sizeof kFacetNames / sizeof kFacetNames[0] == static_cast<size_t>(Facet::count));
static_assert(sizeof kNames / sizeof kNames[0] == static_cast<size_t>(Name::count));

// Canonical symbol ids (case folded), 0 before tui_names_init.
u32 g_facets[static_cast<size_t>(Facet::count)];
u32 g_names[static_cast<size_t>(Name::count)];

ValueCell* field_by_symbol(const ValueCell* obj, u32 symbol) {
    if (!obj || obj->type() != TYPE_OBJECT || !symbol) return nullptr;
    ValueCell* ctx = context_cell(context_of(obj));
    i32 i = context_find_word(ctx, symbol, true);
    return i < 0 ? nullptr : context_values_head(ctx) + i;
}
}  // namespace

void tui_names_init() {
    for (size_t i = 0; i < static_cast<size_t>(Facet::count); i++) g_facets[i] = symbol_resolve(symbol_make(kFacetNames[i]));
    for (size_t i = 0; i < static_cast<size_t>(Name::count); i++) g_names[i] = symbol_resolve(symbol_make(kNames[i]));
}

u32 facet_symbol(Facet f) { return g_facets[static_cast<size_t>(f)]; }
u32 name_symbol(Name n) { return g_names[static_cast<size_t>(n)]; }

ValueCell* facet(const ValueCell* face, Facet f) { return field_by_symbol(face, facet_symbol(f)); }
ValueCell* field(const ValueCell* obj, Name n) { return field_by_symbol(obj, name_symbol(n)); }

ValueCell* view_field(Name n) {
    return field(field(global_value_ptr(name_symbol(Name::system)), Name::view), n);
}

bool word_is(const ValueCell* v, Name n) {
    return v && (v->type() == TYPE_WORD || v->type() == TYPE_LIT_WORD) &&
           symbol_resolve(word_symbol(v)) == name_symbol(n);
}

bool word_is(const ValueCell* v, Facet f) {
    return v && (v->type() == TYPE_WORD || v->type() == TYPE_LIT_WORD) &&
           symbol_resolve(word_symbol(v)) == facet_symbol(f);
}

bool facet_is(const ValueCell* face, Facet f, Name word) { return word_is(facet(face, f), word); }

std::optional<i32> facet_integer(const ValueCell* face, Facet f) {
    const ValueCell* v = facet(face, f);
    if (!v || v->type() != TYPE_INTEGER) return std::nullopt;
    return integer_get(v);
}

bool facet_false(const ValueCell* face, Facet f) {
    const ValueCell* v = facet(face, f);
    return v && v->type() == TYPE_LOGIC && !logic_get(v);
}

ValueCell* block_item(const ValueCell* block, i32 i) {
    return block_cell_at(block, static_cast<u32>(series_index(block) + i));
}

std::u32string string_code_points(const ValueCell* s) {
    std::u32string out;
    if (!s || s->type() != TYPE_STRING) return out;
    u32 head = static_cast<u32>(series_index(s));
    i32 n = string_length(s);
    out.reserve(static_cast<size_t>(n > 0 ? n : 0));
    for (i32 i = 0; i < n; i++) out += static_cast<char32_t>(string_char_at(s, head + static_cast<u32>(i)));
    return out;
}

std::string string_utf8(const ValueCell* s) {
    std::string out;
    u8 buf[8];
    for (char32_t cp : string_code_points(s)) {
        u32 k = utf8_encode_char(static_cast<u32>(cp), buf);
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
