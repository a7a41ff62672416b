// Symbols: interned names with small positive ids (from 1), the symbol!
// datatype that only the symbol table holds, and the well-known symbols,
// words and refinements that the runtime keeps in globals.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace zan {

// A symbol! cell: data1 the alias (id of the canonical spelling, or -1 when
// this symbol is canonical), data2 the node of the cached string! (0 until
// needed), data3 the node of the NUL-terminated UTF-8 name (1-byte units,
// tail at the name's end).
struct SymbolTable {
    ValueCell block;      // block! of symbol! cells; id k is position k - 1
    Node hash;            // kind-2 hash table over the block (the symbol hash)
};
extern SymbolTable g_symbols;

constexpr u32 SYMBOL_TABLE_START = 4000;

// Makes the symbol block (in the root block when there is one) and the hash.
void symbols_create(u32 capacity);

// The id of the symbol with exactly this spelling, made when it is new (a
// new spelling of a known name gets that name's canonical id as alias).
u32 symbol_make(const char* name);
u32 symbol_make_text(const char* text, u32 length);
// The same for the characters of a string! (the text is copied first, as
// interning may allocate).
u32 symbol_make_from_string(ValueCell* string);
ValueCell* symbol_entry(u32 id);          // the symbol! cell, with its cached string!
ValueCell* symbol_cell(u32 id);           // the symbol! cell as it is
// Makes the symbol's cached string! when it has none; allocates.
void symbol_cache_string(ValueCell* symbol);
const char* symbol_to_cstr(u32 id);       // NUL-terminated UTF-8 name
u32 symbol_resolve(u32 id);               // canonical id
// The canonical id, or -1 when id is itself canonical.
i32 symbol_alias_of(u32 id);
// The cached string! of a symbol as a string! cell (index 0).
void symbol_string_cell(u32 id, ValueCell* out);
// Whether the word spells any-type! (in any case).
i32 symbol_compare(ValueCell* symbol1, ValueCell* symbol2, i32 op);
void symbol_init();

// ---- well-known symbols -----------------------------------------------------------
// (field, name) in interning order. The duplicate "code" interns into the
// same field.
#define ZAN_WELL_KNOWN_SYMBOLS(X, XDUP)                                                    \
    X(spec, "spec") X(body, "body") X(words, "words") X(class_, "class")                   \
    X(logic_type, "logic!") X(integer_type, "integer!") X(char_type, "char!")              \
    X(float_type, "float!") X(percent_type, "percent!") X(any_type, "any-type!")           \
    X(exit, "exit") X(return_, "return") X(windows, "Windows") X(syllable, "Syllable")     \
    X(macos, "macOS") X(linux_, "Linux") X(netbsd, "NetBSD") X(repeat, "repeat")           \
    X(foreach, "foreach") X(map_each, "map-each") X(remove_each, "remove-each")            \
    X(any, "any") X(break_, "break") X(copy, "copy") X(end, "end") X(fail, "fail")         \
    X(into, "into") X(opt, "opt") X(not_, "not") X(quote, "quote") X(case_, "case")        \
    X(reject, "reject") X(set, "set") X(skip, "skip") X(some, "some") X(thru, "thru")      \
    X(to, "to") X(none, "none") X(bar, "|") X(dash, "-") X(if_, "if") X(remove, "remove")  \
    X(while_, "while") X(insert, "insert") X(only, "only") X(collect, "collect")           \
    X(keep, "keep") X(pick, "pick") X(ahead, "ahead") X(after, "after") X(x, "x")          \
    X(y, "y") X(z, "z") X(self, "self") X(values, "values") X(owner, "owner")              \
    X(owned, "owned") X(events_q, "events?") X(true_, "true") X(false_, "false")           \
    X(yes, "yes") X(no, "no") X(on, "on") X(off, "off") X(type, "type") X(face, "face")    \
    X(window, "window") X(offset, "offset") X(key, "key") X(flag, "flag") X(code, "code")  \
    X(picked, "picked") X(flags, "flags") X(away_q, "away?") X(ctrl_q, "ctrl?")            \
    X(shift_q, "shift?") X(down_q, "down?") X(mid_down_q, "mid-down?")                     \
    X(alt_down_q, "alt-down?") X(aux_down_q, "aux-down?") X(orientation, "orientation")    \
    X(get, "get") X(put, "put") X(post, "post") X(head, "head") X(size, "size")            \
    X(rgb, "rgb") X(alpha, "alpha") X(argb, "argb") X(date, "date") X(year, "year")        \
    X(month, "month") X(day, "day") X(zone, "zone") X(isoweek, "isoweek") X(week, "week")  \
    X(weekday, "weekday") X(yearday, "yearday") X(julian, "julian") X(time, "time")        \
    X(hour, "hour") X(minute, "minute") X(second, "second") X(timezone, "timezone")        \
    XDUP(code, "code") X(amount, "amount") X(user, "user") X(host, "host")                 \
    X(system, "system") X(system_global, "system-global") X(stack, "stack")                \
    X(trace, "trace") X(no_trace, "no-trace")

struct WellKnownSymbols {
#define ZAN_X(field, name) u32 field;
#define ZAN_XDUP(field, name)
    ZAN_WELL_KNOWN_SYMBOLS(ZAN_X, ZAN_XDUP)
#undef ZAN_X
#undef ZAN_XDUP
};
extern WellKnownSymbols g_sym;

// Words made from well-known symbols (bound in the global context): the
// operating-system names and the parse keywords.
#define ZAN_WORDS_FROM_SYMBOLS(X)                                                          \
    X(windows) X(syllable) X(macos) X(linux_) X(netbsd) X(to) X(thru) X(not_) X(remove)    \
    X(while_) X(collect) X(keep) X(ahead) X(bar) X(any) X(some) X(copy) X(opt) X(into)     \
    X(insert) X(if_) X(quote) X(set) X(case_) X(end)

// Words made by name, in making order; the second "throw" is the same word.
#define ZAN_WORDS_BY_NAME(X, XDUP)                                                         \
    X(at, "at") X(back, "back") X(find, "find") X(head, "head") X(head_q, "head?")         \
    X(index_q, "index?") X(length_q, "length?") X(next, "next") X(pick, "pick")            \
    X(skip, "skip") X(select, "select") X(tail, "tail") X(tail_q, "tail?")                 \
    X(change, "change") X(changed, "changed") X(clear, "clear") X(cleared, "cleared")      \
    X(set_path, "set-path") X(append, "append") X(appended, "appended") X(move, "move")    \
    X(moved, "moved") X(poke, "poke") X(poked, "poked") X(put, "put") X(put_ed, "put-ed")  \
    X(removed, "removed") X(random, "random") X(randomized, "randomized")                  \
    X(reverse, "reverse") X(reversed, "reversed") X(sort, "sort") X(sorted, "sorted")      \
    X(swap, "swap") X(swaped, "swaped") X(take, "take") X(taken, "taken") X(trim, "trim")  \
    X(trimmed, "trimmed") X(inserted, "inserted") X(uppercase, "uppercase")                \
    X(lowercase, "lowercase") X(checksum, "checksum") X(push, "push") X(pop, "pop")        \
    X(fetch, "fetch") X(match, "match") X(iterate, "iterate") X(paren, "paren")            \
    X(anon, "<anon>") X(body, "<body>") X(not_found, "<not-found>") X(add, "add")          \
    X(subtract, "subtract") X(divide, "divide") X(multiply, "multiply")                    \
    X(on_parse_event, "on-parse-event") X(on_change, "on-change*")                         \
    X(on_deep_change, "on-deep-change*") X(type, "type") X(id, "id") X(try_, "try")        \
    X(catch_, "catch") X(name, "name") X(browse, "browse") X(open, "open")                 \
    X(create, "create") X(close, "close") X(delete_, "delete") X(modify, "modify")         \
    X(query, "query") X(read, "read") X(rename, "rename") X(update, "update")              \
    X(write, "write") X(prescan, "prescan") X(scan, "scan") X(load, "load")                \
    X(error, "error") X(comment, "comment") X(init, "init") X(exec, "exec") X(call, "call") \
    X(return_, "return") X(enter, "enter") X(exit, "exit") X(prolog, "prolog")             \
    X(epilog, "epilog") X(throw_, "throw") X(expr, "expr")                                 \
    X(interp_callback, "<interp-callback>") X(lexer_callback, "<lexer-callback>")          \
    X(parse_callback, "<parse-callback>") X(compare_callback, "<compare-callback>")        \
    XDUP(throw_, "throw") X(note, "note") X(syntax, "syntax") X(script, "script")          \
    X(math, "math") X(access, "access") X(user, "user") X(internal, "internal")            \
    X(invalid_error, "invalid-error") X(local, "local") X(applied, "<applied>")

// Each field points at the word! cell kept in the root block (null until
// words_init has run).
struct WellKnownWords {
#define ZAN_X(field) ValueCell* field;
    ZAN_WORDS_FROM_SYMBOLS(ZAN_X)
#undef ZAN_X
    struct ByName {
#define ZAN_X(field, name) ValueCell* field;
#define ZAN_XDUP(field, name)
        ZAN_WORDS_BY_NAME(ZAN_X, ZAN_XDUP)
#undef ZAN_X
#undef ZAN_XDUP
    } n;
};
extern WellKnownWords g_words;

#define ZAN_WELL_KNOWN_REFINEMENTS(X)                                                      \
    X(local, "local") X(extern_, "extern") X(compare, "compare") X(part, "part")           \
    X(skip, "skip") X(with, "with")

struct WellKnownRefinements {
#define ZAN_X(field, name) ValueCell* field;
    ZAN_WELL_KNOWN_REFINEMENTS(ZAN_X)
#undef ZAN_X
};
extern WellKnownRefinements g_refinements;

void words_init();
void refinements_init();

}  // namespace zan
