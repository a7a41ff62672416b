// function!: construction, spec checks, the locals helper of the function
// native, reflection, text forms and comparison.
#include "runtime/datatypes/function.h"

#include <cstring>
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function_spec_memo.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace callable {

i32 emit(ValueCell* out, const char* text, i32 limit) {
    string_append_cstr(out, text);
    return limit - static_cast<i32>(std::strlen(text));
}

i32 mold_node_as_block(Node node, ValueCell* out, bool all, bool flat, ValueCell* arg_limit,
                       i32 limit, i32 indent) {
    ValueCell* b = stack_push_cell();
    cell_init(b, TYPE_BLOCK, 0, node);
    limit = block_mold(b, out, false, all, flat, arg_limit, limit, indent);
    stack_pop(1);
    return limit;
}

}  // namespace callable

namespace {

inline bool any_arg_word(u32 t) {
    return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD;
}
inline u32 canon(u32 symbol) { return symbol_resolve(symbol); }
// The symbols of the refinements /local and /extern.
u32 sym_local() {
    return g_refinements.local ? word_symbol(g_refinements.local) : symbol_make("local");
}
u32 sym_extern() {
    return g_refinements.extern_ ? word_symbol(g_refinements.extern_) : symbol_make("extern");
}
inline i32 cells_in(Node n) { return static_cast<i32>(node_buffer(n)->used_bytes() / 16); }
inline ValueCell* cell_in(Node n, i32 i) { return node_buffer(n)->head_cells() + i; }

[[noreturn]] void bad_func_def(const ValueCell* spec) {
    ValueCell s = *spec;
    fire(Err::script_bad_func_def, &s);
}

}  // namespace

ValueCell* function_more(const ValueCell* fn, u32 n) {
    return node_buffer(callable_body(fn))->head_cells() + n;
}

// ---- creation -----------------------------------------------------------------------------------

namespace {

// function_create and function_create_checked: with proto, the context made
// here shares that context's word table instead of building one. Unless
// own_spec (the spec is already a function's own), the function keeps a
// copy of its spec, nested blocks too: its arguments are parsed from it at
// the first call and must match the context made now.
Node create(const ValueCell* spec, const ValueCell* body, Node ctx, Node proto, u32 entry,
            i32 extra, u32 flags, bool own_spec) {
    ValueCell* saved = g_stack.top;
    // A context given by the caller is held on the data stack until the
    // function value refers to it: the allocations below may collect.
    if (ctx) cell_init(stack_push_cell(), TYPE_OBJECT, ctx);
    ValueCell* sp = stack_push(spec);
    ValueCell* bd = body ? stack_push(body) : nullptr;
    // A spec taken from a position is copied from there; positions are
    // clamped to the tails.
    i32 slen = series_buffer_length(sp);
    if (series_index(sp) > slen) series_set_index(sp, slen);
    if (!own_spec || series_index(sp) > 0) {
        ValueCell* copy = stack_push_cell();
        block_clone(sp, copy, !own_spec, false);
        cell_set_type(copy, TYPE_BLOCK);
        *sp = *copy;
        stack_pop(1);
    }
    if (bd) {
        i32 blen = series_buffer_length(bd);
        if (series_index(bd) > blen) series_set_index(bd, blen);
    }
    ValueCell* more = stack_push_cell();
    cell_init(more, TYPE_BLOCK, 0, alloc_cells_unset(FUNCTION_MORE_CELLS));
    {
        SeriesBuffer* mb = series_of(more);
        mb->tail = mb->head + FUNCTION_MORE_CELLS * 16;
    }
    bool made_here = ctx == 0;
    if (made_here)
        ctx = proto ? context_share_words(proto)
                    : context_make_from_block(sp, true, false, CTX_FUNCTION);
    ValueCell* fn = stack_push_cell();
    cell_init(fn, TYPE_FUNCTION | flags, ctx, block_node(sp), block_node(more));
    *context_owner(ctx) = *fn;
    // The body: a deep copy of blocks, parens and what they hold, bound to
    // a context made here in the same pass.
    if (bd) {
        ValueCell* copy = stack_push_cell();
        if (made_here) context_copy_bound(bd, copy, context_cell(ctx));
        else block_clone(bd, copy, true, true);
        cell_set_type(copy, TYPE_BLOCK);
        copy->header &= ~CELL_NEW_LINE;
        *function_more(fn, MORE_BODY) = *copy;
        stack_pop(1);
    } else {
        none_box(function_more(fn, MORE_BODY));
    }
    unset_box(function_more(fn, MORE_UNUSED));
    if (entry) integer_box(function_more(fn, MORE_ENTRY), static_cast<i32>(entry));
    else unset_box(function_more(fn, MORE_ENTRY));
    unset_box(function_more(fn, MORE_CALLABLE));
    if (extra) integer_box(function_more(fn, MORE_EXTRA), extra);
    else unset_box(function_more(fn, MORE_EXTRA));
    ValueCell result = *fn;
    g_stack.top = saved;
    stack_push(&result);
    return ctx;
}

}  // namespace

Node function_create(const ValueCell* spec, const ValueCell* body, Node ctx, u32 entry,
                     i32 extra, u32 flags) {
    return create(spec, body, ctx, 0, entry, extra, flags, false);
}

Node function_create_own_spec(const ValueCell* spec, const ValueCell* body, Node ctx, u32 entry,
                              i32 extra, u32 flags) {
    return create(spec, body, ctx, 0, entry, extra, flags, true);
}


namespace {
// The spec memo's slot for a spec at its head: found, or made after the
// spec's check passed (which fires on a bad spec); -1 when the memo does
// not take the spec.
i32 remembered_spec(ValueCell* spec) {
    if (series_index(spec) != 0) return -1;
    SpecKey key;
    if (!spec_key_make(block_node(spec), 0, key)) return -1;
    i32 slot = spec_memo_find(key);
    if (slot >= 0) return slot;
    u32 flags = function_check_spec(spec);
    Node proto = context_make_from_block(spec, true, false, CTX_FUNCTION);
    return spec_memo_store(key, flags, proto);
}
}  // namespace

namespace {
// True when no cell of the spec is a string! (a doc string), whose text
// the spec memo's key does not hold.
bool spec_without_text(const ValueCell* spec) {
    Node n = block_node(spec);
    for (i32 i = series_index(spec); i < cells_in(n); i++)
        if (cell_in(n, i)->type() == TYPE_STRING) return false;
    return true;
}
// True when the cells of two blocks of equal keys, nested blocks too, have
// the same headers (so the same line breaks) and none is a string!: one
// molds as the other.
bool same_layout(const ValueCell* a, const ValueCell* b) {
    SeriesBuffer* ba = series_of(a);
    SeriesBuffer* bb = series_of(b);
    i32 ia = series_index(a), ib = series_index(b);
    i32 n = static_cast<i32>(ba->used_bytes() / 16) - ia;
    if (n != static_cast<i32>(bb->used_bytes() / 16) - ib) return false;
    const ValueCell* ca = ba->head_cells() + ia;
    const ValueCell* cb = bb->head_cells() + ib;
    for (i32 k = 0; k < n; k++) {
        if (ca[k].header != cb[k].header || ca[k].type() == TYPE_STRING) return false;
        if (ca[k].type() == TYPE_BLOCK && !same_layout(ca + k, cb + k)) return false;
    }
    return true;
}
}  // namespace

Node function_create_checked(ValueCell* spec, const ValueCell* body) {
    ValueCell* saved = g_stack.top;
    // Held on the data stack: making a remembered spec's context may collect.
    ValueCell* sp = stack_push(spec);
    ValueCell* bd = body ? stack_push(body) : nullptr;
    i32 slot = remembered_spec(sp);
    Node ctx;
    if (slot >= 0) {
        // Functions of one spec without doc strings share one copy of it.
        const ValueCell* shared = spec_memo_spec(slot);
        if (shared && same_layout(shared, sp)) {
            ctx = create(shared, bd, 0, spec_memo_context(slot), 0, 0, spec_memo_flags(slot), true);
        } else {
            ctx = create(sp, bd, 0, spec_memo_context(slot), 0, 0, spec_memo_flags(slot), false);
            if (!shared && spec_without_text(sp)) {
                ValueCell own;
                cell_init(&own, TYPE_BLOCK, 0, callable_spec(stack_top_value()));
                spec_memo_set_spec(slot, &own);
            }
        }
    } else {
        u32 flags = function_check_spec(sp);
        ctx = create(sp, bd, 0, 0, 0, 0, flags, false);
    }
    ValueCell result = *stack_top_value();
    g_stack.top = saved;
    stack_push(&result);
    return ctx;
}

void function_push_unused_refinement(i32 n) {
    logic_push(false);
    for (i32 i = 1; i < n; i++) none_push();
}

i32 function_refinement_arity(Node spec, u32 start, bool required) {
    i32 count = 0;
    bool found = false;
    i32 len = cells_in(spec);
    for (i32 i = static_cast<i32>(start); i < len; i++) {
        const ValueCell* c = cell_in(spec, i);
        if (!found) {
            if (c->type() == TYPE_REFINEMENT && canon(word_symbol(c)) == canon(sym_local())) {
                found = true;
                count = 1;
            }
        } else if (c->type() == TYPE_WORD) {
            count++;
        }
    }
    if (!found) return required ? -1 : 0;
    return count;
}

// ---- spec checks ---------------------------------------------------------------------------------

u32 function_check_spec(ValueCell* spec) {
    ValueCell* held = stack_push(spec);
    Node node = block_node(held);
    i32 len = cells_in(node);
    i32 i = series_index(held) < 0 ? 0 : series_index(held);
    u32 flags = 0;
    if (i < len && cell_in(node, i)->type() == TYPE_BLOCK) {
        Node attrs = block_node(cell_in(node, i));
        i32 alen = cells_in(attrs);
        for (i32 k = series_index(cell_in(node, i)); k < alen; k++) {
            const ValueCell* a = cell_in(attrs, k);
            if (a->type() != TYPE_WORD) bad_func_def(held);
            u32 s = canon(word_symbol(a));
            if (s == canon(g_sym.trace)) flags |= FUNCTION_TRACE;
            else if (s == canon(g_sym.no_trace)) flags |= FUNCTION_NO_TRACE;
        }
        i++;
    }
    bool in_local = false, after_return = false, return_seen = false;
    // Kept between calls: most functions are made at start-up, and the
    // check runs no code that could make another function meanwhile.
    static std::vector<u32> names;
    static std::vector<ValueCell> name_cells;
    names.clear();
    name_cells.clear();
    auto type_at = [&](i32 k) -> u32 { return k < len ? cell_in(node, k)->type() : 0; };
    while (i < len) {
        ValueCell c = *cell_in(node, i);
        u32 t = c.type();
        if (t == TYPE_STRING) {
            i++;
            continue;
        }
        if (any_arg_word(t)) {
            if (after_return && !in_local) bad_func_def(held);
            if (in_local && t != TYPE_WORD) bad_func_def(held);
            if (type_at(i + 1) == TYPE_STRING && type_at(i + 2) == TYPE_BLOCK) bad_func_def(held);
            names.push_back(canon(word_symbol(&c)));
            name_cells.push_back(c);
            if (type_at(i + 1) == TYPE_BLOCK) {
                Node types = block_node(cell_in(node, i + 1));
                i32 tlen = cells_in(types);
                for (i32 k = series_index(cell_in(node, i + 1)); k < tlen; k++) {
                    ValueCell w = *cell_in(types, k);
                    if (w.type() != TYPE_WORD) continue;
                    const ValueCell* v = spec_word_value(&w);
                    if (!v || (v->type() != TYPE_DATATYPE && v->type() != TYPE_TYPESET))
                        fire(Err::script_invalid_type_spec, &w);
                }
                i += 2;
            } else {
                i++;
            }
            continue;
        }
        if (t == TYPE_SET_WORD) {
            if (canon(word_symbol(&c)) != canon(g_sym.return_) || return_seen || in_local)
                bad_func_def(held);
            if (type_at(i + 1) != TYPE_BLOCK) bad_func_def(held);
            u32 after = type_at(i + 2);
            if (!(i + 2 >= len || after == TYPE_REFINEMENT || after == TYPE_STRING))
                bad_func_def(held);
            return_seen = after_return = true;
            i += 2;
            continue;
        }
        if (t == TYPE_REFINEMENT) {
            bool local = canon(word_symbol(&c)) == canon(sym_local());
            if (local) in_local = true;
            else if (in_local || after_return) bad_func_def(held);
            if (i + 1 < len) {
                u32 n = type_at(i + 1);
                if (!(n == TYPE_WORD || n == TYPE_GET_WORD || n == TYPE_LIT_WORD ||
                      n == TYPE_REFINEMENT || n == TYPE_SET_WORD || n == TYPE_STRING))
                    bad_func_def(held);
            }
            names.push_back(canon(word_symbol(&c)));
            name_cells.push_back(c);
            i++;
            continue;
        }
        bad_func_def(held);
    }
    for (size_t a = 0; a < names.size(); a++)
        for (size_t b = a + 1; b < names.size(); b++)
            if (names[a] == names[b]) {
                ValueCell w = name_cells[b];
                fire(Err::script_dup_vars, &w);
            }
    stack_pop(1);
    return flags;
}

// ---- the locals helper -------------------------------------------------------------------------------

namespace {

// The words a function's body sets (and the words its loops name), found
// without allocating on the heap: the block is made once at the end.
struct LocalsWalk {
    std::vector<u32>& known;  // canonical symbols already in the spec or added
    std::vector<u32>& added;  // the symbols of the words to add, in order
    // The loop words whose next value names locals, canonical.
    u32 foreach = canon(g_sym.foreach);
    u32 repeat = canon(g_sym.repeat);
    u32 remove_each = canon(g_sym.remove_each);

    bool has(u32 s) const {
        for (u32 k : known)
            if (k == s) return true;
        return false;
    }
    void add(const ValueCell* w) {
        u32 s = canon(word_symbol(w));
        if (has(s)) return;
        known.push_back(s);
        added.push_back(word_symbol(w));
    }
    void add_loop_words(const ValueCell* v) {
        if (v->type() == TYPE_WORD) {
            add(v);
        } else if (v->type() == TYPE_BLOCK) {
            Node n = block_node(v);
            for (i32 k = series_index(v); k < cells_in(n); k++) {
                ValueCell w = *cell_in(n, k);
                if (w.type() == TYPE_WORD) add(&w);
            }
        }
    }
    void walk(Node block, i32 start, std::vector<Node>& seen) {
        for (Node s : seen)
            if (s == block) return;
        seen.push_back(block);
        i32 len = cells_in(block);
        for (i32 k = start < 0 ? 0 : start; k < len; k++) {
            ValueCell c = *cell_in(block, k);
            u32 t = c.type();
            if (t == TYPE_SET_WORD) {
                add(&c);
            } else if (t == TYPE_WORD) {
                u32 s = canon(word_symbol(&c));
                if ((s == foreach || s == repeat || s == remove_each) && k + 1 < len) {
                    ValueCell next = *cell_in(block, k + 1);
                    add_loop_words(&next);
                }
            } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
                walk(block_node(&c), 0, seen);
            }
        }
        seen.pop_back();
    }
};

}  // namespace

ValueCell* function_collect_locals(ValueCell* spec, ValueCell* body) {
    ValueCell* sp = stack_push(spec);
    ValueCell* bd = stack_push(body);
    // Kept between calls: the walk runs no code that could come back here.
    static std::vector<u32> known, added;
    static std::vector<Node> seen;
    known.clear();
    added.clear();
    seen.clear();
    Node node = block_node(sp);
    i32 len = cells_in(node);
    i32 start = series_index(sp) < 0 ? 0 : series_index(sp);
    if (start > len) start = len;
    // /extern and its words leave the spec; the words are never locals.
    i32 ext = len, ext_end = len;
    for (i32 k = start; k < len; k++) {
        const ValueCell* c = cell_in(node, k);
        if (c->type() == TYPE_REFINEMENT && canon(word_symbol(c)) == canon(sym_extern())) {
            ext = k;
            break;
        }
    }
    if (ext < len) {
        ext_end = ext + 1;
        while (ext_end < len && cell_in(node, ext_end)->type() != TYPE_REFINEMENT) {
            ValueCell e = *cell_in(node, ext_end);
            if (e.type() != TYPE_WORD) fire(Err::script_bad_func_extern, &e);
            known.push_back(canon(word_symbol(&e)));
            ext_end++;
        }
    }
    bool has_local = false;
    for (i32 k = start; k < len; k++) {
        if (k == ext) k = ext_end;
        if (k >= len) break;
        const ValueCell* c = cell_in(node, k);
        u32 t = c->type();
        if (any_arg_word(t) || t == TYPE_REFINEMENT) known.push_back(canon(word_symbol(c)));
        if (t == TYPE_REFINEMENT && canon(word_symbol(c)) == canon(sym_local())) has_local = true;
    }
    LocalsWalk w{known, added};
    w.walk(block_node(bd), series_index(bd), seen);
    // The spec's cells without the /extern section, /local when it has
    // none, then the words found.
    u32 kept = static_cast<u32>((len - start) - (ext_end - ext));
    u32 total = kept + (has_local ? 0 : 1) + static_cast<u32>(added.size());
    Node made = alloc_cells(total < 1 ? 1 : total);
    ValueCell* to = node_buffer(made)->head_cells();
    const ValueCell* from = node_buffer(node)->head_cells();
    u32 n = 0;
    for (i32 k = start; k < len; k++) {
        if (k == ext) k = ext_end;
        if (k >= len) break;
        to[n++] = from[k];
    }
    if (!has_local) cell_init(to + n++, TYPE_REFINEMENT, 0, sym_local(), static_cast<u32>(-1));
    for (u32 symbol : added) cell_init(to + n++, TYPE_WORD, 0, symbol, static_cast<u32>(-1));
    node_buffer(made)->tail = node_buffer(made)->head + n * 16;
    ValueCell r;
    cell_init(&r, TYPE_BLOCK | (sp->header & CELL_NEW_LINE), 0, made);
    stack_pop(2);
    return stack_push(&r);
}

// ---- actions ----------------------------------------------------------------------------------------

ValueCell* function_make(ValueCell* proto, ValueCell* spec, u32 type) {
    if (spec->type() != TYPE_BLOCK || block_length(spec) != 2) bad_func_def(spec);
    ValueCell* head = block_head_ptr(spec);
    if (head[0].type() != TYPE_BLOCK || head[1].type() != TYPE_BLOCK) bad_func_def(spec);
    ValueCell* fspec = stack_push(&head[0]);
    ValueCell* fbody = stack_push(&head[1]);
    function_create_checked(fspec, fbody);
    ValueCell r = *stack_top_value();
    stack_pop(3);
    (void)proto;
    (void)type;
    return stack_push(&r);
}

void function_reflect(ValueCell* value, u32 field) {
    u32 f = canon(field);
    if (f == canon(g_sym.spec)) {
        // A copy: the function's own spec must not change under it.
        ValueCell* own = stack_push_cell();
        cell_init(own, TYPE_BLOCK, 0, callable_spec(value));
        ValueCell* copy = stack_push_cell();
        block_clone(own, copy, true, false);
        cell_set_type(copy, TYPE_BLOCK);
        *stack_result() = *copy;
        stack_pop(2);
    } else if (f == canon(g_sym.body)) {
        if (g_interp_hooks.body_handed_out) g_interp_hooks.body_handed_out(value);
        *stack_result() = *function_more(value, MORE_BODY);
    } else if (f == canon(g_sym.words)) {
        ValueCell fn = *value;
        ValueCell* ctx = context_cell(context_of(&fn));
        u32 n = context_word_count(ctx);
        ValueCell* out = block_push_new(n);
        for (u32 i = 0; i < n; i++) {
            ValueCell w = context_words_head(context_cell(context_of(&fn)))[i];
            w.header = TYPE_WORD;
            set_word_binding(&w, context_of(&fn));
            set_word_index(&w, static_cast<i32>(i));
            block_append_cell(out, &w);
        }
        *stack_result() = *out;
    } else {
        fire(Err::internal_not_done);
    }
}

i32 function_form(ValueCell*, ValueCell* out, ValueCell*, i32 limit) {
    return callable::emit(out, "?function?", limit);
}

i32 function_mold(ValueCell* value, ValueCell* out, bool, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent) {
    ValueCell fn = *value;
    ValueCell* held = stack_push(&fn);
    limit = callable::emit(out, "func ", limit);
    limit = callable::mold_node_as_block(callable_spec(held), out, all, flat, arg_limit, limit, indent);
    ValueCell body = *function_more(held, MORE_BODY);
    if (body.type() == TYPE_BLOCK) {
        ValueCell* b = stack_push(&body);
        limit = block_mold(b, out, false, all, flat, arg_limit, limit, indent);
        stack_pop(1);
    } else {
        limit = callable::emit(out, " none", limit);
    }
    stack_pop(1);
    return limit;
}

i32 function_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_FUNCTION) return CMP_NOT_COMPARABLE;
    if (!callable::identity_op(op)) return CMP_NOT_COMPARABLE;
    return callable::compare_u32(callable_body(value1), callable_body(value2));
}

void function_init() {
    ActionRow row;
    row.set<ACT_MAKE>(function_make)
        .set<ACT_REFLECT>(function_reflect)
        .set<ACT_FORM>(function_form)
        .set<ACT_MOLD>(function_mold)
        .set<ACT_COMPARE>(function_compare);
    datatype_register(TYPE_FUNCTION, row);
}

}  // namespace zan
