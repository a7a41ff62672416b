// Lexer runs: the entry points, the output stack and scratch buffer, the
// trace events with their callback protocol, and the raising of syntax
// errors with their line context.
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/heap.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/io/lexer/lexer_internal.h"

namespace zan {

LexerHooks g_lexer_hooks{};
LexerState* g_lexer_runs = nullptr;
LexerState* g_lexer_top = nullptr;
LexerOutputStack g_lexer_out{nullptr, 0};

namespace {

constexpr u32 OUTPUT_START_CELLS = 1000;
constexpr u32 SCRATCH_BYTES = 100000;

// The scratch buffer for UTF-8 conversions of string input, used as a stack
// by nested runs.
struct LexerScratch {
    u8* buffer = nullptr;
    u32 size = 0;
    u32 free = 0;
};
LexerScratch g_scratch;

// Room for a run's text: at the scratch buffer's free pointer, or a
// temporary buffer when the rest is too small. Released in reverse order.
class ScratchLease {
public:
    explicit ScratchLease(u32 bytes) : saved_free_(g_scratch.free) {
        if (g_scratch.buffer && bytes <= g_scratch.size - g_scratch.free) {
            ptr_ = g_scratch.buffer + g_scratch.free;
            g_scratch.free += bytes;
        } else {
            temp_ = static_cast<u8*>(std::malloc(bytes ? bytes : 1));
            if (!temp_) fire(Err::internal_no_memory);
            ptr_ = temp_;
        }
    }
    ~ScratchLease() {
        if (temp_) std::free(temp_);
        else g_scratch.free = saved_free_;
    }
    ScratchLease(const ScratchLease&) = delete;
    ScratchLease& operator=(const ScratchLease&) = delete;
    u8* get() const { return ptr_; }

private:
    u32 saved_free_;
    u8* ptr_ = nullptr;
    u8* temp_ = nullptr;
};

bool g_mark_registered = false;

void service_scan_string(ValueCell* string, ValueCell* dest, i32 len, i32* consumed) {
    lexer_scan_string(dest, string, len, false, true, true, 0, consumed, nullptr, nullptr);
}

}  // namespace

// ---- start-up and the collector -------------------------------------------------------------

void lexer_init() {
    std::free(g_lexer_out.cells);
    g_lexer_out.cells = static_cast<ValueCell*>(std::calloc(OUTPUT_START_CELLS, sizeof(ValueCell)));
    if (!g_lexer_out.cells) runtime_fatal(94, "out of memory");
    g_lexer_out.capacity = OUTPUT_START_CELLS;
    std::free(g_scratch.buffer);
    g_scratch.buffer = static_cast<u8*>(std::malloc(SCRATCH_BYTES));
    if (!g_scratch.buffer) runtime_fatal(94, "out of memory");
    g_scratch.size = SCRATCH_BYTES;
    g_scratch.free = 0;
    g_lexer_runs = g_lexer_top = nullptr;
    lexer_tables_init();
    if (!g_mark_registered) {
        gc_add_mark_callback(lexer_mark);
        g_mark_registered = true;
    }
    g_services.lexer_scan_string = service_scan_string;
    // The number datatypes read text with the lexer's own scanners.
    g_services.scan_integer_text = scan_integer_text;
    g_services.scan_float_text = scan_float_text;
}

void lexer_mark() {
    for (LexerState* r = g_lexer_runs; r; r = r->next) {
        if (r->top > r->base) gc_mark_cells(lexer_cell(r->base), lexer_cell(r->top));
        gc_mark_cells(&r->input, &r->input + 1);
        gc_mark_cells(&r->callback, &r->callback + 1);
    }
}

u32 lexer_push(LexerState* r, bool nl) {
    if (r->top >= g_lexer_out.capacity) {
        u32 cap = g_lexer_out.capacity * 2;
        auto* cells = static_cast<ValueCell*>(std::realloc(g_lexer_out.cells, u64(cap) * sizeof(ValueCell)));
        if (!cells) fire(Err::internal_no_memory);
        // Runs address their cells by index, so nothing else moves.
        g_lexer_out.cells = cells;
        g_lexer_out.capacity = cap;
    }
    u32 i = r->top++;
    cell_init(lexer_cell(i), TYPE_UNSET);
    if (nl) lexer_cell(i)->header |= CELL_NEW_LINE;
    return i;
}

// ---- positions for the callback -----------------------------------------------------------------

namespace {

// The input series index of a byte position (code points for string input).
u32 index_of(LexerState* r, const u8* p) {
    if (p < r->in_start) p = r->in_start;
    if (p > r->in_end) p = r->in_end;
    if (!r->char_input) return r->input_index + static_cast<u32>(p - r->in_start);
    u32 n;
    if (p >= r->cache_pos) n = r->cache_index + utf8_count_chars(r->cache_pos, p);
    else n = r->cache_index - utf8_count_chars(p, r->cache_pos);
    r->cache_pos = p;
    r->cache_index = n;
    return r->input_index + n;
}

// The byte position of an input series index, clamped to the text.
const u8* position_of(LexerState* r, i64 index) {
    i64 off = index - static_cast<i64>(r->input_index);
    if (off <= 0) return r->in_start;
    if (!r->char_input) {
        if (off >= r->in_end - r->in_start) return r->in_end;
        return r->in_start + off;
    }
    u32 target = static_cast<u32>(off);
    const u8* p;
    if (target >= r->cache_index) p = utf8_skip_chars(r->cache_pos, r->in_end, target - r->cache_index);
    else p = utf8_skip_chars(r->in_start, r->in_end, target);
    r->cache_pos = p;
    r->cache_index = utf8_count_chars(r->in_start, p);
    return p;
}

// The callback bit of the lexer in system/state/callbacks/bits.
constexpr u32 CALLBACK_LEXER = 1;

// false for each refinement of the callback's spec and none for each of
// its words, as for a call that uses none of them.
void push_unused_refinements(const ValueCell* fn) {
    if (!callable_spec(fn)) return;
    u32 count = 0;
    bool in_refinement = false;
    SeriesBuffer* spec = node_buffer(callable_spec(fn));
    u32 n = spec->used_bytes() / sizeof(ValueCell);
    for (u32 k = 0; k < n; k++) {
        // Re-read: pushing may move the spec's buffer.
        const ValueCell* c = node_buffer(callable_spec(fn))->head_cells() + k;
        u32 t = c->type();
        if (t == TYPE_REFINEMENT) {
            if (in_refinement) function_push_unused_refinement(static_cast<i32>(count));
            in_refinement = true;
            count = 1;
        } else if (in_refinement && (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD)) {
            count++;
        }
    }
    if (in_refinement) function_push_unused_refinement(static_cast<i32>(count));
}

const ValueCell* event_word(u32 event) {
    switch (event) {
        case LEX_EVENT_PRESCAN: return g_words.n.prescan;
        case LEX_EVENT_SCAN: return g_words.n.scan;
        case LEX_EVENT_LOAD: return g_words.n.load;
        case LEX_EVENT_OPEN: return g_words.n.open;
        case LEX_EVENT_CLOSE: return g_words.n.close;
        default: return g_words.n.error;
    }
}

}  // namespace

// ---- the trace callback ----------------------------------------------------------------------------

u32 lexer_trace_mask(const ValueCell* callback) {
    if (!callback) return 0;
    u32 t = callback->type();
    if (t != TYPE_FUNCTION && t != TYPE_ROUTINE) return LEX_EVENT_ALL;
    if (!callable_more(callback)) return LEX_EVENT_ALL;
    // The body is the first cell of the callable's "more" block.
    SeriesBuffer* more = node_buffer(callable_more(callback));
    if (more->used_bytes() < sizeof(ValueCell)) return LEX_EVENT_ALL;
    ValueCell body = *more->head_cells();
    if (body.type() != TYPE_BLOCK || block_length(&body) <= 0) return LEX_EVENT_ALL;
    ValueCell first = *block_head_ptr(&body);
    if (first.type() != TYPE_BLOCK) return LEX_EVENT_ALL;
    static const u32 events[] = {LEX_EVENT_PRESCAN, LEX_EVENT_SCAN, LEX_EVENT_LOAD,
                                 LEX_EVENT_OPEN, LEX_EVENT_CLOSE, LEX_EVENT_ERROR};
    u32 mask = 0;
    i32 n = block_length(&first);
    for (i32 k = 0; k < n; k++) {
        const ValueCell* w = block_head_ptr(&first) + k;
        if (w->type() != TYPE_WORD) continue;
        u32 sym = symbol_resolve(word_symbol(w));
        for (u32 e : events) {
            const ValueCell* ew = event_word(e);
            if (ew && symbol_resolve(word_symbol(ew)) == sym) mask |= e;
        }
    }
    return mask;
}

bool lexer_fire_event(LexerState* r, u32 event, i32 type, const ValueCell* value,
                      const u8* start, const u8* end) {
    if (!lexer_subscribed(r, event)) return true;
    const u8* at = (event == LEX_EVENT_OPEN || (event == LEX_EVENT_PRESCAN && type <= 0)) ? start
                                                                                       : r->pos;
    ValueCell args[5];
    args[0] = *event_word(event);
    args[1] = r->input;
    u32 passed = index_of(r, at);
    series_set_head(&args[1], passed);
    if (type > 0) {
        datatype_box(&args[2], static_cast<u32>(type));
    } else {
        none_box(&args[2]);
        const ValueCell* states = g_lexer_hooks.exit_states ? g_lexer_hooks.exit_states() : nullptr;
        u32 k = type < 0 ? static_cast<u32>(-type - 1) : 0;
        if (type < 0 && states && states->type() == TYPE_BLOCK &&
            static_cast<i32>(k) < block_length(states))
            args[2] = *(block_head_ptr(states) + k);
    }
    integer_box(&args[3], r->line);
    if (value) {
        args[4] = *value;
    } else {
        // The token's start and end as series indexes counted from 1, in a
        // pair! (x, y).
        i32 x = static_cast<i32>(index_of(r, start)) + 1;
        i32 y = static_cast<i32>(index_of(r, end)) + 1;
        cell_init(&args[4], TYPE_PAIR, 0, static_cast<u32>(x), static_cast<u32>(y));
    }
    // The call: a function frame with the arguments (and false/none for
    // the callback's refinements), run by the evaluator.
    ValueCell* saved_top = g_stack.top;
    ValueCell* fn = stack_push(&r->callback);
    stack_mark_func(g_words.n.lexer_callback, context_of(fn));
    ValueCell* frame = g_stack.top;
    for (auto& a : args) stack_push(&a);
    push_unused_refinements(fn);
    g_interp_hooks.call_function(fn, 0, g_words.n.lexer_callback, CALLBACK_LEXER);
    bool answer = logic_cell_true_q(frame, false, nullptr);
    ValueCell moved = frame[1];
    stack_unwind_func();
    g_stack.top = saved_top;
    if (moved.type() == r->input.type() && series_node(&moved) == series_node(&r->input) &&
        series_head(&moved) != passed)
        r->pos = position_of(r, series_index(&moved));
    return answer;
}

// ---- syntax errors -------------------------------------------------------------------------------------

namespace {

// Closes the innermost markers while they are paths (or all of them).
void close_markers(LexerState* r, bool only_paths);

u32 closer_of(u32 type) { return type == TYPE_PAREN || type == TYPE_POINT2D ? ')' : ']'; }
u32 opener_of(u32 closer) { return closer == ')' ? '(' : '['; }

// "(line N)" and the excerpt: from the text start, whole code points up to
// 30 bytes, the first line feed or the input end.
void push_error_texts(LexerState* r, const u8* text) {
    std::string ctx = "(line " + std::to_string(r->line) + ")";
    ValueCell* c = string_push_new(static_cast<u32>(ctx.size()) + 1);
    string_append_cstr(c, ctx.c_str());
    ValueCell* x = string_push_new(32);
    const u8* p = text;
    const u8* end = r->in_end;
    while (p < end && *p != '\n') {
        i32 cp;
        const u8* q = utf8_decode_char(p, end, &cp);
        if (q - text > 30) break;
        if (cp < 0) {
            // Not UTF-8: the byte stands for itself.
            cp = *p;
            q = p + 1;
        }
        string_append_char(x, static_cast<u32>(cp));
        p = q;
    }
}

}  // namespace

void lexer_throw_error(LexerState* r, const u8* start, const u8* end, i32 code) {
    if (!r->load_mode) {
        r->token_type = TYPE_ERROR;
        r->halted = true;
        throw LexerStop{};
    }
    const u8* text = start;
    if (!text)
        text = r->marker >= 0
                   ? r->in_start + lexer_marker_opener(lexer_cell(static_cast<u32>(r->marker)))
                   : r->in_start;
    if (lexer_has_callback(r)) {
        i32 reported = code > 0                  ? code
                       : r->missing_type > 0     ? r->missing_type
                       : r->token_type > 0       ? r->token_type
                       : r->type_override > 0    ? r->type_override
                                                 : static_cast<i32>(TYPE_ERROR);
        close_markers(r, true);
        if (!lexer_fire_event(r, LEX_EVENT_ERROR, reported, nullptr, start ? start : text,
                              end ? end : r->pos)) {
            r->missing_type = 0;  // refused: scanning goes on
            throw LexerStop{};
        }
    }
    if (lexer_path_type_q(static_cast<u32>(r->missing_type))) code = -1;
    close_markers(r, true);
    ValueCell* top = g_stack.top;
    push_error_texts(r, text);
    ValueCell* ctx = top;
    ValueCell* excerpt = top + 1;
    switch (code) {
        case -1: fire(Err::syntax_bad_char, ctx, excerpt);
        case -2: fire(Err::syntax_malconstruct, ctx, excerpt);
        case -3:
        case -4: {
            u32 closer = closer_of(static_cast<u32>(r->missing_type));
            u32 shown = closer;
            if (code == -3 && r->tok_start < r->in_end && *r->tok_start == closer)
                shown = opener_of(closer);
            ValueCell* ch = char_box(stack_push_cell(), shown);
            fire(Err::syntax_missing, ctx, ch, excerpt);
        }
        default: {
            ValueCell* dt = datatype_box(stack_push_cell(), static_cast<u32>(code));
            fire(Err::syntax_invalid, ctx, dt, excerpt);
        }
    }
}

namespace {

void close_markers(LexerState* r, bool only_paths) {
    while (r->marker >= 0) {
        u32 m = static_cast<u32>(r->marker);
        u32 type = lexer_marker_type(lexer_cell(m));
        if (only_paths && !lexer_path_type_q(type)) break;
        ValueCell* mk = lexer_cell(m);
        u32 back = lexer_marker_back(mk);
        bool nl = mk->new_line();
        u32 n = r->top - m - 1;
        if (type == TYPE_MAP) type = TYPE_BLOCK;  // no checks on the way out
        if (type == TYPE_POINT2D) type = TYPE_PAREN;
        ValueCell made;
        cell_init(&made, TYPE_NONE);
        {
            ValueCell* tmp = stack_push(&made);
            block_make_at(tmp, n);
            SeriesBuffer* b = series_of(tmp);
            std::memcpy(b->tail_cells(), lexer_cell(m + 1), n * sizeof(ValueCell));
            b->tail += n * sizeof(ValueCell);
            tmp->set_type(type);
            made = *tmp;
            stack_pop(1);
        }
        if (nl) made.header |= CELL_NEW_LINE;
        *lexer_cell(m) = made;
        r->top = m + 1;
        r->marker = back ? static_cast<i32>(m - back) : -1;
    }
}

}  // namespace

// ---- runs -------------------------------------------------------------------------------------------

namespace {

// Links a run at the end of the active list and unlinks it on the way out,
// however it leaves.
class RunLink {
public:
    explicit RunLink(LexerState* r) : r_(r) {
        r->parent = g_lexer_top;
        r->next = nullptr;
        if (g_lexer_top) g_lexer_top->next = r;
        else g_lexer_runs = r;
        g_lexer_top = r;
    }
    ~RunLink() {
        g_lexer_top = r_->parent;
        if (g_lexer_top) g_lexer_top->next = nullptr;
        else g_lexer_runs = nullptr;
    }
    RunLink(const RunLink&) = delete;
    RunLink& operator=(const RunLink&) = delete;

private:
    LexerState* r_;
};

// Copies the run's output cells [from, top) into a new block! in out.
void cells_to_block(LexerState* r, u32 from, ValueCell* out) {
    u32 n = r->top - from;
    block_make_at(out, n);
    SeriesBuffer* b = series_of(out);
    std::memcpy(b->tail_cells(), lexer_cell(from), n * sizeof(ValueCell));
    b->tail += n * sizeof(ValueCell);
}

void append_cells(LexerState* r, u32 from, u32 to, ValueCell* into) {
    for (u32 k = from; k < to; k++) {
        ValueCell v = *lexer_cell(k);
        block_append_cell(into, &v);
    }
}

}  // namespace

i32 lexer_transcode(ValueCell* result, const u8* text, u32 length, bool one_value,
                    bool no_prescan, bool no_scan, i32 reserved, i32* consumed,
                    const ValueCell* callback, const ValueCell* input, ValueCell* into) {
    (void)reserved;
    if (!g_lexer_out.cells) lexer_init();
    // Series buffers move during collections: a text that lives in one is
    // scanned from a copy.
    u32 copy_size = heap_contains(text) ? length + 1 : 0;
    ScratchLease lease(copy_size);
    if (copy_size) {
        std::memcpy(lease.get(), text, length);
        lease.get()[length] = 0;
        text = lease.get();
    }

    LexerState r;
    std::memset(static_cast<void*>(&r), 0, sizeof r);
    r.base = r.top = g_lexer_top ? g_lexer_top->top : 0;
    r.marker = -1;
    r.in_start = r.pos = r.tok_end = r.tok_start = text;
    r.in_end = text + length;
    r.line = 1;
    r.type_override = -1;
    r.start_state = LEX_START;
    r.load_mode = no_prescan && no_scan;
    r.prescan = !no_prescan;
    r.one_value = one_value;
    r.cache_pos = text;
    r.into = into;
    none_box(&r.callback);
    none_box(&r.input);
    if (input && input->type() != TYPE_NONE) {
        r.input = *input;
        r.input_index = series_head(input);
        r.char_input = type_string_like(input->type());
    }
    if (callback && (callback->type() == TYPE_FUNCTION || callback->type() == TYPE_ROUTINE)) {
        r.callback = *callback;
        r.event_mask = lexer_trace_mask(callback);
        // The refinements of the callback's spec, for the caller of the callback.
        if (callable_spec(callback)) {
            SeriesBuffer* spec = node_buffer(callable_spec(callback));
            for (ValueCell* c = spec->head_cells(); c < spec->tail_cells(); c++)
                if (c->type() == TYPE_REFINEMENT) r.cb_refinements++;
        }
    }

    RunLink link(&r);
    try {
        lexer_scan_loop(&r, one_value, r.prescan);
        if (!r.halted && r.marker >= 0) {
            u32 mtype = lexer_marker_type(lexer_cell(static_cast<u32>(r.marker)));
            if (r.prescan && lexer_path_type_q(mtype)) {
                r.token_type = static_cast<i32>(mtype);
            } else {
                // A series was opened and never closed.
                r.missing_type = static_cast<i32>(mtype);
                r.tok_start = r.in_end;
                lexer_throw_error(&r, nullptr, r.in_end, -4);
            }
        }
    } catch (const LexerStop&) {
        // A halted run ends here; a refused error leaves the open series as
        // they are, closed below.
    }
    if (r.load_mode) {
        close_markers(&r, false);
        if (one_value && r.top > r.base) {
            *result = *lexer_cell(r.base);
            result->header &= ~CELL_NEW_LINE;
            if (into) {
                append_cells(&r, r.base, r.base + 1, into);
                *result = *into;
            }
        } else if (into) {
            append_cells(&r, r.base, r.top, into);
            *result = *into;
        } else {
            cells_to_block(&r, r.base, result);
        }
    } else {
        none_box(result);
    }
    if (consumed) {
        const u8* p = r.pos < r.in_end ? r.pos : r.in_end;
        *consumed = r.char_input ? static_cast<i32>(utf8_count_chars(r.in_start, p))
                                 : static_cast<i32>(p - r.in_start);
    }
    return r.halted ? static_cast<i32>(TYPE_ERROR) : r.token_type;
}

i32 lexer_scan_string(ValueCell* result, const ValueCell* string, i32 length, bool one_value,
                      bool no_prescan, bool no_scan, i32 reserved, i32* consumed,
                      const ValueCell* callback, ValueCell* into) {
    if (!g_lexer_out.cells) lexer_init();
    ValueCell s = *string;
    u32 avail = unicode_length(&s);
    u32 n = length < 0 || static_cast<u32>(length) > avail ? avail : static_cast<u32>(length);
    u32 unit = series_of(&s)->unit();
    u32 per_char = unit == 1 ? 2 : unit == 2 ? 3 : 4;
    ScratchLease lease(n * per_char + 1);
    u32 bytes = unicode_to_utf8_into(&s, lease.get(), static_cast<i32>(n), true);
    if (series_head(&s) > static_cast<u32>(series_buffer_length(&s)))
        series_set_head(&s, static_cast<u32>(series_buffer_length(&s)));
    return lexer_transcode(result, lease.get(), bytes, one_value, no_prescan, no_scan, reserved,
                           consumed, callback, &s, into);
}

}  // namespace zan
