// The natives table, its registration, the specs of the 107 natives and
// the argument check of natives called with the check flag set.
#include "runtime/eval/interp/natives.h"

#include <array>
#include <utility>

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/runtime_support.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

NativeEntry g_natives[NATIVES_TABLE_SIZE] = {};
u32 g_natives_counter = 1;
bool g_print_last_newline = true;

namespace {

#define ANYFN "native! action! op! function! routine!"
// The specs as the boot image declares them.
constexpr NativeInfo kNatives[NATIVES_COUNT] = {
    {"if", "[cond [any-type!] then-blk [block!]]", 0},
    {"unless", "[cond [any-type!] then-blk [block!]]", 0},
    {"either", "[cond [any-type!] true-blk [block!] false-blk [block!]]", 0},
    {"any", "[conds [block!]]", 0},
    {"all", "[conds [block!]]", 0},
    {"while", "[cond [block!] body [block!]]", 0},
    {"until", "[body [block!]]", 0},
    {"loop", "[count [integer! float!] body [block!]]", 0},
    {"repeat", "['word [word!] value [integer! float!] body [block!]]", 0},
    {"forever", "[body [block!]]", 0},
    {"foreach", "['word [word! block!] series [series! map!] body [block!]]", 0},
    {"forall", "['word [word!] body [block!]]", 0},
    {"remove-each", "['word [word! block!] data [series!] body [block!]]", 0},
    {"func", "[spec [block!] body [block!]]", 0},
    {"function", "[spec [block!] body [block!] /extern]", 1},
    {"does", "[body [block!]]", 0},
    {"has", "[vars [block!] body [block!]]", 0},
    {"switch", "[value [any-type!] cases [block!] /default case [block!]]", 1},
    {"case", "[cases [block!] /all]", 1},
    {"do",
     "[value [any-type!] /expand /args arg /next position [word!] /trace callback "
     "[function!]]",
     4},
    {"get", "[word [any-word! any-path! object!] /any /case return: [any-type!]]", 2},
    {"set",
     "[word [any-word! block! object! any-path!] value [any-type!] /any /case /only /some "
     "return: [any-type!]]",
     4},
    {"print", "[value [any-type!]]", 0},
    {"prin", "[value [any-type!]]", 0},
    {"equal?", "[value1 [any-type!] value2 [any-type!]]", 0},
    {"not-equal?", "[value1 [any-type!] value2 [any-type!]]", 0},
    {"strict-equal?", "[value1 [any-type!] value2 [any-type!]]", 0},
    {"lesser?", "[value1 [any-type!] value2 [any-type!]]", 0},
    {"greater?", "[value1 [any-type!] value2 [any-type!]]", 0},
    {"lesser-or-equal?", "[value1 [any-type!] value2 [any-type!]]", 0},
    {"greater-or-equal?", "[value1 [any-type!] value2 [any-type!]]", 0},
    {"same?", "[value1 [any-type!] value2 [any-type!]]", 0},
    {"not", "[value [any-type!]]", 0},
    {"type?", "[value [any-type!] /word]", 1},
    {"reduce", "[value [any-type!] /into out [any-block!]]", 1},
    {"compose", "[value [block!] /deep /only /into out [any-block!]]", 3},
    {"stats", "[/show /info return: [integer! block!]]", 2},
    {"bind",
     "[word [block! any-word!] context [any-word! any-object! function!] /copy return: "
     "[block! any-word!]]",
     1},
    {"in", "[object [any-object! any-function!] word [any-word! refinement!]]", 0},
    {"parse",
     "[input [binary! any-block! any-string!] rules [block!] /case /part length [number! "
     "series!] /trace callback [function!] return: [logic! block!]]",
     3},
    {"union",
     "[set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! "
     "typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!]]",
     2},
    {"intersect",
     "[set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! "
     "typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!]]",
     2},
    {"unique",
     "[set [block! hash! string!] /case /skip size [integer!] return: [block! hash! "
     "string!]]",
     2},
    {"difference",
     "[set1 [block! hash! string! bitset! typeset! date!] set2 [block! hash! string! bitset! "
     "typeset! date!] /case /skip size [integer!] return: [block! hash! string! bitset! "
     "typeset! time!]]",
     2},
    {"exclude",
     "[set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! "
     "typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!]]",
     2},
    {"complement?", "[bits [bitset!]]", 0},
    {"dehex", "[value [any-string!] return: [string!]]", 0},
    {"enhex", "[value [any-string!] return: [string!]]", 0},
    {"negative?", "[number [number! money! time!] return: [logic!]]", 0},
    {"positive?", "[number [number! money! time!] return: [logic!]]", 0},
    {"max", "[value1 [scalar! series!] value2 [scalar! series!]]", 0},
    {"min", "[value1 [scalar! series!] value2 [scalar! series!]]", 0},
    {"shift", "[data [integer!] bits [integer!] /left /logical return: [integer!]]", 2},
    {"to-hex", "[value [integer!] /size length [integer!] return: [issue!]]", 1},
    {"sine", "[angle [float! integer!] /radians return: [float!]]", 1},
    {"cosine", "[angle [float! integer!] /radians return: [float!]]", 1},
    {"tangent", "[angle [float! integer!] /radians return: [float!]]", 1},
    {"arcsine", "[sine [float! integer!] /radians return: [float!]]", 1},
    {"arccosine", "[cosine [float! integer!] /radians return: [float!]]", 1},
    {"arctangent", "[tangent [float! integer!] /radians return: [float!]]", 1},
    {"arctangent2", "[y [float! integer!] x [float! integer!] /radians return: [float!]]", 1},
    {"NaN?", "[value [number!] return: [logic!]]", 0},
    {"log-2", "[value [float! integer! percent!] return: [float!]]", 0},
    {"log-10", "[value [float! integer! percent!] return: [float!]]", 0},
    {"log-e", "[value [float! integer! percent!] return: [float!]]", 0},
    {"exp", "[value [float! integer! percent!] return: [float!]]", 0},
    {"square-root", "[value [float! integer! percent!] return: [float!]]", 0},
    {"construct",
     "[\"Makes a new object from an unevaluated spec; standard logic words are evaluated\" "
     "block [block!] /with object [object!] /only]",
     2},
    {"value?", "[\"Returns TRUE if the word has a value\" value [word!] return: [logic!]]", 0},
    {"try",
     "[\"Tries to DO a block and returns its value or an error\" block [block!] /all "
     "\"Catch also BREAK, CONTINUE, RETURN, EXIT and THROW exceptions\" /keep \"Capture "
     "and save the call stack in the error object\"]",
     2},
    {"uppercase",
     "[\"Converts string of characters to uppercase\" string [any-string! char!] /part "
     "limit [number! any-string!] return: [any-string! char!]]",
     1},
    {"lowercase",
     "[\"Converts string of characters to lowercase\" string [any-string! char!] /part "
     "limit [number! any-string!] return: [any-string! char!]]",
     1},
    {"as-pair", "[\"Combine X and Y values into a pair\" x [integer! float!] y [integer! float!]]",
     0},
    {"as-point2D",
     "[\"Combine X and Y values into a 2D point\" x [integer! float!] y [integer! float!]]", 0},
    {"as-point3D",
     "[\"Combine X, Y and Z values into a 3D point\" x [integer! float!] y [integer! float!] "
     "z [integer! float!]]",
     0},
    {"as-money",
     "[\"Combine currency code and amount into a monetary value\" currency [word!] amount "
     "[integer! float!] return: [money!]]",
     0},
    {"break", "[\"Breaks out of a loop, while, until, repeat, foreach, etc\" /return value "
              "[any-type!]]",
     1},
    {"continue", "[\"Throws control back to top of loop\"]", 0},
    {"exit", "[\"Exits a function, returning no value\"]", 0},
    {"return", "[\"Returns a value from a function\" value [any-type!]]", 0},
    {"throw",
     "[\"Throws control back to a previous catch\" value [any-type!] /name word [word!]]", 1},
    {"catch",
     "[\"Catches a throw from a block and returns its value\" block [block!] /name word "
     "[word! block!]]",
     1},
    {"extend",
     "[\"Extend an object or map value with list of key and value pairs\" obj [object! map!] "
     "spec [block! hash! map!] /case]",
     1},
    {"debase", "[value [string!] /base base-value [integer!]]", 1},
    {"to-local-file", "[path [file! string!] /full return: [string!]]", 1},
    {"wait", "[value [number! time! block! none!] /all]", 1},
    {"checksum",
     "[data [binary! string! file!] method [word!] /with spec [any-string! binary! integer!] "
     "return: [integer! binary!]]",
     1},
    {"unset", "[\"Unsets the value of a word in its current context\" word [word! block!]]", 0},
    {"new-line",
     "[\"Sets or clears the new-line marker within a list series\" position [any-list!] "
     "value [logic!] /all /skip size [integer!] return: [any-list!]]",
     2},
    {"new-line?",
     "[\"Returns the state of the new-line marker within a list series\" position "
     "[any-list!] return: [logic!]]",
     0},
    {"enbase", "[value [binary! string!] /base base-value [integer!]]", 1},
    {"context?",
     "[\"Returns the context to which a word is bound\" word [any-word!] return: [object! "
     "function! none!]]",
     0},
    {"set-env", "[var [any-string! any-word!] value [string! none!]]", 0},
    {"get-env", "[var [any-string! any-word!] return: [string! none!]]", 0},
    {"list-env", "[return: [map!]]", 0},
    {"now",
     "[/year /month /day /time /zone /date /weekday /yearday /precise /utc return: [date! "
     "time! integer!]]",
     10},
    {"sign?", "[number [number! money! time!] return: [integer!]]", 0},
    {"as",
     "[\"Coerce a series into a compatible datatype without copying it\" type [datatype! "
     "block! paren! any-path! any-string!] spec [block! paren! any-path! any-string!]]",
     0},
    {"call",
     "[cmd [string! file!] /wait /show /console /shell /input in [string! file! binary!] "
     "/output out [string! file! binary!] /error err [string! file! binary!] return: "
     "[integer!]]",
     7},
    {"zero?",
     "[value [number! money! pair! time! char! tuple! any-point!] return: [logic!]]", 0},
    {"size?", "[file [file!] return: [integer! none!]]", 0},
    {"browse", "[url [url! file!]]", 0},
    {"compress", "[data [any-string! binary!] method [word!] return: [binary!]]", 0},
    {"decompress", "[data [binary!] method [word!] /size sz [integer!] return: [binary!]]", 1},
    {"recycle", "[/on /off return: [integer! unset!]]", 2},
    {"transcode",
     "[src [binary! string!] /next /one /prescan /scan /part length [integer! binary! string!] "
     "/into dst [block!] /trace callback [function! routine!] return: [block!]]",
     7},
    {"apply",
     "[\"Apply a function to a reduced block of arguments\" func [word! path! " ANYFN
     "] args [block!] /all \"Provide every argument in the function spec, in order, "
     "tail-completed with false/none.\" /safer \"Forces single refinement arguments, skip "
     "them when inactive instead of evaluating\"]",
     2},
};
#undef ANYFN

// Refinements counted from the spec text: every "/" that starts a word.
constexpr u32 count_refinements(const char* s) {
    u32 n = 0;
    bool in_string = false;
    for (const char* p = s; *p; p++) {
        if (*p == '"') in_string = !in_string;
        else if (!in_string && *p == '/' && (p == s || p[-1] == ' ' || p[-1] == '[')) n++;
    }
    return n;
}
constexpr bool refinement_counts_match() {
    for (const auto& n : kNatives)
        if (count_refinements(n.spec) != n.refinements) return false;
    return true;
}
static_assert(refinement_counts_match(), "refinement counts agree with the specs");

constexpr bool names_match() {
    const char* names[] = {
#define ZAN_X(id, name) name,
        ZAN_NATIVES(ZAN_X)
#undef ZAN_X
    };
    for (u32 i = 0; i < NATIVES_COUNT; i++) {
        const char* a = names[i];
        const char* b = kNatives[i].name;
        while (*a && *a == *b) a++, b++;
        if (*a != *b) return false;
    }
    return true;
}
static_assert(names_match(), "the spec list follows the table order");

// Entries for callers that pass the check flag and the refinement
// positions as separate integers (rt_call_by_index): one adapter per slot
// with exactly the native's arity, packing them into the array form.
template <size_t>
using I32 = i32;
template <u32 Slot, class Seq>
struct NativeAdapter;
template <u32 Slot, size_t... K>
struct NativeAdapter<Slot, std::index_sequence<K...>> {
    static void call(i32 check, I32<K>... refs) {
        i32 a[sizeof...(K) + 1] = {refs..., -1};
        NativeEntry e = g_natives[Slot] ? g_natives[Slot] : native_not_done;
        e(check != 0, a);
    }
};
template <size_t... S>
std::array<ActionEntry, NATIVES_COUNT> make_adapters(std::index_sequence<S...>) {
    return {reinterpret_cast<ActionEntry>(
        &NativeAdapter<S, std::make_index_sequence<kNatives[S].refinements>>::call)...};
}
std::array<ActionEntry, NATIVES_COUNT> g_adapters =
    make_adapters(std::make_index_sequence<NATIVES_COUNT>{});

ValueCell* g_print_buffer = nullptr;

}  // namespace

const NativeInfo* native_info(u32 index) {
    return index >= 1 && index <= NATIVES_COUNT ? &kNatives[index - 1] : nullptr;
}

void native_not_done(bool, const i32*) { fire(Err::internal_not_done); }

void natives_register(u32 count, const NativeEntry* entries) {
    for (u32 k = 0; k < count; k++) {
        if (g_natives_counter > NATIVES_TABLE_SIZE) runtime_fatal(101, "natives table full");
        g_natives[g_natives_counter - 1] = entries[k] ? entries[k] : native_not_done;
        g_natives_counter++;
    }
}

void natives_init() {
    for (auto& e : g_natives) e = nullptr;
    g_natives_counter = 1;
    NativeEntry slots[NATIVES_COUNT];
    for (auto& s : slots) s = native_not_done;
    natives_control_init(slots);
    natives_eval_init(slots);
    natives_exits_init(slots);
    natives_compare_init(slots);
    natives_math_init(slots);
    natives_shape_init(slots);
    natives_transcode_init(slots);
    natives_sets_init(slots);
    natives_encoding_init(slots);
    natives_parse_init(slots);
    natives_system_init(slots);
    natives_checksum_init(slots);
    // The groups of the other natives add their init calls here.
    natives_register(NATIVES_COUNT, slots);
    g_native_table = g_adapters.data();
    g_native_count = g_natives_counter - 1;
    g_print_buffer = block_make_in(&g_root_block, 32);
    g_print_last_newline = true;
}

NativeEntry native_entry(u32 index) {
    if (index < 1 || index >= g_natives_counter) return nullptr;
    return g_natives[index - 1];
}
bool native_index_valid(u32 index) { return index >= 1 && index < g_natives_counter; }
u32 natives_counter() { return g_natives_counter; }

u32 native_index_of(NativeEntry entry) {
    for (u32 k = 0; k + 1 < g_natives_counter; k++)
        if (g_natives[k] == entry) return k + 1;
    return 0;
}

ValueCell* natives_print_buffer() { return g_print_buffer; }

void natives_check_args(u32 index, const i32* refs) {
    const NativeInfo* info = native_info(index);
    if (!info) return;
    ValueCell* slot = global_value_ptr(symbol_make(info->name));
    if (!slot || slot->type() != TYPE_NATIVE || slot->data1 != index) return;
    HeldCell fn(*slot);
    Node cache = interp_parse_spec(&fn.v);
    u32 n = node_buffer(cache)->used_bytes() / 16;
    ValueCell name;
    word_make_at(symbol_make(info->name), &name);
    auto check = [&](u32 k, ValueCell* value) {
        ValueCell* ts = node_buffer(cache)->head_cells() + k;
        if (!typeset_has_type(ts, value->type())) {
            ValueCell p, dt;
            spec_entry_word(&fn.v, k, &p);
            datatype_box(&dt, value->type());
            fire(Err::script_expect_arg, &name, &dt, &p);
        }
    };
    u32 pos = 0;
    i32 arg = -1;  // frame position of the next refinement argument, -1: skip
    bool in_refs = false;
    for (u32 k = 0; k < n; k++) {
        ValueCell* e = node_buffer(cache)->head_cells() + k;
        u32 t = e->type();
        if (t == TYPE_TYPESET) {
            if ((e->header & FETCH_MODE_MASK) == FETCH_RETURN) continue;
            if (!in_refs) {
                check(k, stack_arg(pos++));
            } else if (arg >= 0) {
                check(k, stack_arg(static_cast<u32>(arg++)));
            }
        } else if (t == TYPE_REFINEMENT) {
            in_refs = true;
            arg = refs ? refs[e->data3 - 1] : -1;
        } else {
            break;
        }
    }
}

}  // namespace zan
