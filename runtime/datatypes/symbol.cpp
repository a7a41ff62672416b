// The symbol table, symbol!, and the well-known symbols, words and
// refinements.
#include "runtime/datatypes/symbol.h"

#include <cstring>
#include <string>

#include "runtime/core/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/typesystem/dt_state.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"

namespace zan {

SymbolTable g_symbols{{TYPE_NONE, 0, 0, 0}, 0};
WellKnownSymbols g_sym{};
WellKnownWords g_words{};
WellKnownRefinements g_refinements{};

namespace {
// The collector keeps the symbol block and its hash through this cell.
ValueCell g_symbol_root{TYPE_NONE, 0, 0, 0};

inline ValueCell* symbols_head() { return series_of(&g_symbols.block)->head_cells(); }

// The id of a symbol cell that lies in the symbol block, else 0.
u32 id_of_cell(const ValueCell* sym) {
    if (!block_node(&g_symbols.block)) return 0;
    SeriesBuffer* b = series_of(&g_symbols.block);
    auto* p = reinterpret_cast<const u8*>(sym);
    if (p < b->head_ptr() || p >= b->tail_ptr()) return 0;
    return static_cast<u32>((p - b->head_ptr()) / 16) + 1;
}
}  // namespace

void symbols_state_reset() {
    gc_remove_root(&g_symbol_root);
    cell_init(&g_symbol_root, TYPE_NONE);
    cell_init(&g_symbols.block, TYPE_NONE);
    g_symbols.hash = 0;
    g_sym = WellKnownSymbols{};
    g_words = WellKnownWords{};
    g_refinements = WellKnownRefinements{};
}

void symbols_create(u32 capacity) {
    ValueCell blk;
    cell_init(&blk, TYPE_BLOCK, 0, alloc_cells(capacity ? capacity : 1));
    if (block_node(&g_root_block)) {
        // Kept in the root block, which the collector marks.
        ValueCell* held = block_alloc_tail(&g_root_block);
        *held = blk;
    }
    g_symbols.block = blk;
    cell_init(&g_symbol_root, TYPE_HASH, 0, block_node(&blk), 0);
    gc_remove_root(&g_symbol_root);
    gc_add_root(&g_symbol_root);
    Node table = hashtable_init(static_cast<i32>(capacity), &g_symbols.block, HASH_KIND_SYMBOL, 1);
    set_series_node(&g_symbols.block, block_node(&g_symbol_root));  // the node may have been relocated
    g_symbols.hash = table;
    set_hashed_table(&g_symbol_root, table);
    hashtable_set_symbol_table(table);
}

u32 symbol_make_text(const char* text, u32 length) {
    return static_cast<u32>(hashtable_find_text(g_symbols.hash, text, length, true));
}
u32 symbol_make(const char* name) {
    return symbol_make_text(name, static_cast<u32>(std::strlen(name)));
}

u32 symbol_make_from_string(ValueCell* string) {
    ValueCell s = *string;
    i32 len = -1;
    char* text = unicode_to_utf8(&s, &len);
    // The scratch buffer is the string's own: copy before interning allocates.
    std::string copy(text, static_cast<size_t>(len));
    set_string_scratch(string, string_scratch(&s));
    return symbol_make_text(copy.data(), static_cast<u32>(copy.size()));
}

ValueCell* symbol_cell(u32 id) { return symbols_head() + (id - 1); }

void symbol_cache_string(ValueCell* symbol) {
    if (symbol_text_node(symbol)) return;
    u32 id = id_of_cell(symbol);
    Node name = symbol_name_node(symbol);
    u32 len = node_buffer(name)->used_bytes();
    Node n = unicode_load_utf8_new(ByteSource::series(name, 0), len);
    if (id) set_symbol_text_node(symbol_cell(id), n);  // the block may have moved
    else set_symbol_text_node(symbol, n);
}

ValueCell* symbol_entry(u32 id) {
    symbol_cache_string(symbol_cell(id));
    return symbol_cell(id);
}

const char* symbol_to_cstr(u32 id) {
    Node name = symbol_name_node(symbol_cell(id));
    SeriesBuffer* b = node_buffer(name);
    if (b->tail >= b->end_ref()) {
        series_expand(b, b->size + 16);
        b = node_buffer(name);
    }
    *b->tail_ptr() = 0;
    return reinterpret_cast<const char*>(b->head_ptr());
}

i32 symbol_alias_of(u32 id) { return static_cast<i32>(symbol_alias(symbol_cell(id))); }

u32 symbol_resolve(u32 id) {
    i32 a = symbol_alias_of(id);
    return a > 0 ? static_cast<u32>(a) : id;
}

void symbol_string_cell(u32 id, ValueCell* out) {
    ValueCell* s = symbol_entry(id);
    cell_init(out, TYPE_STRING, 0, symbol_text_node(s), 0);
}

i32 symbol_compare(ValueCell* symbol1, ValueCell* symbol2, i32 op) {
    if (symbol2->type() != TYPE_SYMBOL) return CMP_NOT_COMPARABLE;
    return string_compare_values(symbol1, symbol2, op, false);
}

void symbol_init() {
    ActionRow row;
    row.set<ACT_COMPARE>(symbol_compare);
    datatype_register(TYPE_SYMBOL, row);
}

// ---- well-known symbols, words and refinements ------------------------------------------------

void words_init() {
#define ZAN_X(field, name) g_sym.field = symbol_make(name);
#define ZAN_XDUP(field, name) g_sym.field = symbol_make(name);
    ZAN_WELL_KNOWN_SYMBOLS(ZAN_X, ZAN_XDUP)
#undef ZAN_X
#undef ZAN_XDUP
#define ZAN_X(field) g_words.field = word_make_global(g_sym.field);
    ZAN_WORDS_FROM_SYMBOLS(ZAN_X)
#undef ZAN_X
#define ZAN_X(field, name) g_words.n.field = word_load(name);
#define ZAN_XDUP(field, name) g_words.n.field = word_load(name);
    ZAN_WORDS_BY_NAME(ZAN_X, ZAN_XDUP)
#undef ZAN_X
#undef ZAN_XDUP
    stack_set_reserved_symbols(word_symbol(g_words.n.body), word_symbol(g_words.n.anon));
    g_gc_self_symbol = g_sym.self;
}

void refinements_init() {
#define ZAN_X(field, name) g_refinements.field = refinement_load(name);
    ZAN_WELL_KNOWN_REFINEMENTS(ZAN_X)
#undef ZAN_X
    // The case changers name /part in their errors.
    case_folding_set_part_word(g_refinements.part);
}

}  // namespace zan
