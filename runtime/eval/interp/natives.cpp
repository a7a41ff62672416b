// The natives table, its registration, the specs of the 107 natives and
// the argument check of natives called with the check flag set.
#include "runtime/eval/interp/natives.h"

#include <array>
#include <utility>

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/typesystem/runtime_support.h"
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
    {"if",
     "[\"If conditional expression is true, evaluates block; else returns NONE\" cond "
     "[any-type!] then-blk [block!]]",
     0},
    {"unless",
     "[\"If conditional expression is falsy, evaluates block; else returns NONE\" cond "
     "[any-type!] then-blk [block!]]",
     0},
    {"either",
     "[\"If conditional expression is true, eval true-block; else eval false-blk\" cond "
     "[any-type!] true-blk [block!] false-blk [block!]]",
     0},
    {"any", "[\"Evaluates, returning at the first that is true\" conds [block!]]", 0},
    {"all", "[\"Evaluates, returning at the first that is not true\" conds [block!]]", 0},
    {"while",
     "[\"Evaluates body as long as condition block evaluates to truthy value\" cond "
     "[block!] body [block!]]",
     0},
    {"until", "[\"Evaluates body until it is truthy\" body [block!]]", 0},
    {"loop", "[\"Evaluates body a number of times\" count [integer! float!] body [block!]]", 0},
    {"repeat",
     "[\"Evaluates body a number of times, tracking iteration count\" 'word [word!] "
     "value [integer! float!] body [block!]]",
     0},
    {"forever", "[\"Evaluates body repeatedly forever\" body [block!]]", 0},
    {"foreach",
     "[\"Evaluates body for each value in a series\" 'word [word! block!] series "
     "[series! map!] body [block!]]",
     0},
    {"forall", "[\"Evaluates body for all values in a series\" 'word [word!] body [block!]]", 0},
    {"remove-each",
     "[\"Removes values for each block that returns truthy value\" 'word [word! block!] "
     "data [series!] body [block!]]",
     0},
    {"func", "[\"Defines a function with a given spec and body\" spec [block!] body [block!]]", 0},
    {"function",
     "[\"Defines a function, making all set-words found in body, local\" spec [block!] "
     "body [block!] /extern]",
     1},
    {"does", "[\"Defines a function with no arguments or local variables\" body [block!]]", 0},
    {"has",
     "[\"Defines a function with local variables, but no arguments\" vars [block!] body "
     "[block!]]",
     0},
    {"switch",
     "[\"Evaluates the first block following the value found in cases\" value "
     "[any-type!] cases [block!] /default case [block!]]",
     1},
    {"case",
     "[\"Evaluates the block following the first truthy condition\" cases [block!] /all]",
     1},
    {"do",
     "[\"Evaluates a value, returning the last evaluation result\" value [any-type!] "
     "/expand /args arg /next position [word!] /trace callback [function!]]",
     4},
    {"get",
     "[\"Returns the value a word refers to\" word [any-word! any-path! object!] /any "
     "/case return: [any-type!]]",
     2},
    {"set",
     "[\"Sets the value(s) one or more words refer to\" word [any-word! block! object! "
     "any-path!] value [any-type!] /any /case /only /some return: [any-type!]]",
     4},
    {"print", "[\"Outputs a value followed by a newline\" value [any-type!]]", 0},
    {"prin", "[\"Outputs a value\" value [any-type!]]", 0},
    {"equal?",
     "[\"Returns TRUE if two values are equal\" value1 [any-type!] value2 [any-type!]]",
     0},
    {"not-equal?",
     "[\"Returns TRUE if two values are not equal\" value1 [any-type!] value2 "
     "[any-type!]]",
     0},
    {"strict-equal?",
     "[\"Returns TRUE if two values are equal, and also the same datatype\" value1 "
     "[any-type!] value2 [any-type!]]",
     0},
    {"lesser?",
     "[\"Returns TRUE if the first value is less than the second\" value1 [any-type!] "
     "value2 [any-type!]]",
     0},
    {"greater?",
     "[\"Returns TRUE if the first value is greater than the second\" value1 [any-type!] "
     "value2 [any-type!]]",
     0},
    {"lesser-or-equal?",
     "[\"Returns TRUE if the first value is less than or equal to the second\" value1 "
     "[any-type!] value2 [any-type!]]",
     0},
    {"greater-or-equal?",
     "[\"Returns TRUE if the first value is greater than or equal to the second\" value1 "
     "[any-type!] value2 [any-type!]]",
     0},
    {"same?",
     "[\"Returns TRUE if two values have the same identity\" value1 [any-type!] value2 "
     "[any-type!]]",
     0},
    {"not",
     "[\"Returns the logical complement of a value (truthy or falsy)\" value [any-type!]]",
     0},
    {"type?", "[\"Returns the datatype of a value\" value [any-type!] /word]", 1},
    {"reduce",
     "[\"Returns a copy of a block, evaluating all expressions\" value [any-type!] /into "
     "out [any-block!]]",
     1},
    {"compose",
     "[\"Returns a copy of a block, evaluating only parens\" value [block!] /deep /only "
     "/into out [any-block!]]",
     3},
    {"stats", "[\"Returns interpreter statistics\" /show /info return: [integer! block!]]", 2},
    {"bind",
     "[\"Bind words to a context; returns rebound words\" word [block! any-word!] "
     "context [any-word! any-object! function!] /copy return: [block! any-word!]]",
     1},
    {"in",
     "[\"Returns the given word bound to the object's context\" object [any-object! "
     "any-function!] word [any-word! refinement!]]",
     0},
    {"parse",
     "[\"Process a series using dialected grammar rules\" input [binary! any-block! "
     "any-string!] rules [block!] /case /part length [number! series!] /trace callback "
     "[function!] return: [logic! block!]]",
     3},
    {"union",
     "[\"Returns the union of two data sets\" set1 [block! hash! string! bitset! "
     "typeset!] set2 [block! hash! string! bitset! typeset!] /case \"Use case-sensitive "
     "comparison\" /skip \"Treat the series as fixed size records\" size [integer!] "
     "return: [block! hash! string! bitset! typeset!]]",
     2},
    {"intersect",
     "[\"Returns the intersection of two data sets\" set1 [block! hash! string! bitset! "
     "typeset!] set2 [block! hash! string! bitset! typeset!] /case \"Use case-sensitive "
     "comparison\" /skip \"Treat the series as fixed size records\" size [integer!] "
     "return: [block! hash! string! bitset! typeset!]]",
     2},
    {"unique",
     "[\"Returns the data set with duplicates removed\" set [block! hash! string!] /case "
     "\"Use case-sensitive comparison\" /skip \"Treat the series as fixed size records\" "
     "size [integer!] return: [block! hash! string!]]",
     2},
    {"difference",
     "[\"Returns the special difference of two data sets\" set1 [block! hash! string! "
     "bitset! typeset! date!] set2 [block! hash! string! bitset! typeset! date!] /case "
     "\"Use case-sensitive comparison\" /skip \"Treat the series as fixed size records\" "
     "size [integer!] return: [block! hash! string! bitset! typeset! time!]]",
     2},
    {"exclude",
     "[\"Returns the first data set less the second data set\" set1 [block! hash! "
     "string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case \"Use "
     "case-sensitive comparison\" /skip \"Treat the series as fixed size records\" size "
     "[integer!] return: [block! hash! string! bitset! typeset!]]",
     2},
    {"complement?", "[\"Returns TRUE if the bitset is complemented\" bits [bitset!]]", 0},
    {"dehex",
     "[\"Converts URL-style hex encoded (%xx) strings\" value [any-string!] return: "
     "[string!]]",
     0},
    {"enhex",
     "[\"Encode URL-style hex encoded (%xx) strings\" value [any-string!] return: "
     "[string!]]",
     0},
    {"negative?",
     "[\"Returns TRUE if the number is negative\" number [number! money! time!] return: "
     "[logic!]]",
     0},
    {"positive?",
     "[\"Returns TRUE if the number is positive\" number [number! money! time!] return: "
     "[logic!]]",
     0},
    {"max",
     "[\"Returns the greater of the two values\" value1 [scalar! series!] value2 "
     "[scalar! series!]]",
     0},
    {"min",
     "[\"Returns the lesser of the two values\" value1 [scalar! series!] value2 [scalar! "
     "series!]]",
     0},
    {"shift",
     "[\"Perform a bit shift operation. Right shift (decreasing) by default\" data "
     "[integer!] bits [integer!] /left /logical return: [integer!]]",
     2},
    {"to-hex",
     "[\"Converts numeric value to a hex issue! datatype (with leading # and 0's)\" "
     "value [integer!] /size length [integer!] return: [issue!]]",
     1},
    {"sine",
     "[\"Returns the trigonometric sine\" angle [float! integer!] /radians return: "
     "[float!]]",
     1},
    {"cosine",
     "[\"Returns the trigonometric cosine\" angle [float! integer!] /radians return: "
     "[float!]]",
     1},
    {"tangent",
     "[\"Returns the trigonometric tangent\" angle [float! integer!] /radians return: "
     "[float!]]",
     1},
    {"arcsine",
     "[\"Returns the trigonometric arcsine (in degrees by default)\" sine [float! "
     "integer!] /radians return: [float!]]",
     1},
    {"arccosine",
     "[\"Returns the trigonometric arccosine (in degrees by default)\" cosine [float! "
     "integer!] /radians return: [float!]]",
     1},
    {"arctangent",
     "[\"Returns the trigonometric arctangent (in degrees by default)\" tangent [float! "
     "integer!] /radians return: [float!]]",
     1},
    {"arctangent2",
     "[\"Returns the smallest angle between the vectors (1,0) and (x,y) in degrees by "
     "default\" y [float! integer!] x [float! integer!] /radians return: [float!]]",
     1},
    {"NaN?",
     "[\"Returns TRUE if the number is Not-a-Number\" value [number!] return: [logic!]]",
     0},
    {"log-2",
     "[\"Returns the binary logarithm\" value [float! integer! percent!] return: "
     "[float!]]",
     0},
    {"log-10",
     "[\"Returns the decimal logarithm\" value [float! integer! percent!] return: "
     "[float!]]",
     0},
    {"log-e",
     "[\"Returns the natural logarithm\" value [float! integer! percent!] return: "
     "[float!]]",
     0},
    {"exp",
     "[\"Raises E (the base of natural logarithm) to the power specified\" value [float! "
     "integer! percent!] return: [float!]]",
     0},
    {"square-root",
     "[\"Returns the square root of a number\" value [float! integer! percent!] return: "
     "[float!]]",
     0},
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
    {"as-pair",
     "[\"Combine X and Y values into a pair\" x [integer! float!] y [integer! float!]]",
     0},
    {"as-point2D",
     "[\"Combine X and Y values into a 2D point\" x [integer! float!] y [integer! "
     "float!]]",
     0},
    {"as-point3D",
     "[\"Combine X, Y and Z values into a 3D point\" x [integer! float!] y [integer! "
     "float!] z [integer! float!]]",
     0},
    {"as-money",
     "[\"Combine currency code and amount into a monetary value\" currency [word!] "
     "amount [integer! float!] return: [money!]]",
     0},
    {"break",
     "[\"Breaks out of a loop, while, until, repeat, foreach, etc\" /return value "
     "[any-type!]]",
     1},
    {"continue", "[\"Throws control back to top of loop\"]", 0},
    {"exit", "[\"Exits a function, returning no value\"]", 0},
    {"return", "[\"Returns a value from a function\" value [any-type!]]", 0},
    {"throw",
     "[\"Throws control back to a previous catch\" value [any-type!] /name word [word!]]",
     1},
    {"catch",
     "[\"Catches a throw from a block and returns its value\" block [block!] /name word "
     "[word! block!]]",
     1},
    {"extend",
     "[\"Extend an object or map value with list of key and value pairs\" obj [object! "
     "map!] spec [block! hash! map!] /case]",
     1},
    {"debase",
     "[\"Decodes binary-coded string (BASE-64 default) to binary value\" value [string!] "
     "/base base-value [integer!] \"The base to convert from: 64, 58, 16, or 2\"]",
     1},
    {"to-local-file",
     "[\"Converts a Zan file path to the local system file path\" path [file! string!] "
     "/full return: [string!]]",
     1},
    {"wait",
     "[\"Waits for a duration in seconds or specified time\" value [number! time! block! "
     "none!] /all]",
     1},
    {"checksum",
     "[\"Computes a checksum, CRC, hash, or HMAC\" data [binary! string! file!] method "
     "[word!] /with spec [any-string! binary! integer!] return: [integer! binary!]]",
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
    {"enbase",
     "[\"Encodes a string into a binary-coded string (BASE-64 default)\" value [binary! "
     "string!] \"If string, will be UTF8 encoded\" /base base-value [integer!] \"The "
     "base to convert from: 64, 58, 16, or 2\"]",
     1},
    {"context?",
     "[\"Returns the context to which a word is bound\" word [any-word!] return: "
     "[object! function! none!]]",
     0},
    {"set-env",
     "[\"Sets the value of an operating system environment variable (for current "
     "process)\" var [any-string! any-word!] value [string! none!]]",
     0},
    {"get-env",
     "[\"Returns the value of an OS environment variable (for current process)\" var "
     "[any-string! any-word!] return: [string! none!]]",
     0},
    {"list-env",
     "[\"Returns a map of OS environment variables (for current process)\" return: "
     "[map!]]",
     0},
    {"now",
     "[\"Returns date and time\" /year /month /day /time /zone /date /weekday /yearday "
     "/precise /utc return: [date! time! integer!]]",
     10},
    {"sign?",
     "[\"Returns sign of N as 1, 0, or -1 (to use as a multiplier)\" number [number! "
     "money! time!] return: [integer!]]",
     0},
    {"as",
     "[\"Coerce a series into a compatible datatype without copying it\" type [datatype! "
     "block! paren! any-path! any-string!] spec [block! paren! any-path! any-string!]]",
     0},
    {"call",
     "[\"Executes a shell command to run another process\" cmd [string! file!] /wait "
     "/show /console /shell /input in [string! file! binary!] /output out [string! file! "
     "binary!] /error err [string! file! binary!] return: [integer!] \"0 if success, -1 "
     "if error, or a process ID\"]",
     7},
    {"zero?",
     "[\"Returns TRUE if the value is zero\" value [number! money! pair! time! char! "
     "tuple! any-point!] return: [logic!]]",
     0},
    {"size?", "[\"Returns the size of a file content\" file [file!] return: [integer! none!]]", 0},
    {"browse",
     "[\"Opens the URL in a web browser or the file in the associated application\" url "
     "[url! file!]]",
     0},
    {"compress",
     "[\"Compresses data\" data [any-string! binary!] method [word!] return: [binary!]]",
     0},
    {"decompress",
     "[\"Decompresses data\" data [binary!] method [word!] /size \"Specify an "
     "uncompressed data size (ignored for GZIP)\" sz [integer!] \"Uncompressed data "
     "size; must not be negative\" return: [binary!]]",
     1},
    {"recycle",
     "[\"Recycles unused memory and returns memory amount still in use\" /on /off "
     "return: [integer! unset!]]",
     2},
    {"transcode",
     "[\"Translates UTF-8 binary source to values. Returns one or several values in a "
     "block\" src [binary! string!] /next \"Translate next complete value (blocks as "
     "single value)\" /one \"Translate next complete value, returns the value only\" "
     "/prescan \"Prescans only, do not load values. Returns guessed type.\" /scan "
     "\"Scans only, do not load values. Returns recognized type.\" /part \"Translates "
     "only part of the input buffer\" length [integer! binary! string!] /into \"Optionally "
     "provides an output block\" dst [block!] /trace callback [function! routine!] "
     "return: [block!]]",
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

ValueCell* natives_print_buffer() { return g_print_buffer; }

void natives_check_args(u32 index, const i32* refs) {
    const NativeInfo* info = native_info(index);
    if (!info) return;
    ValueCell* slot = global_value_ptr(symbol_make(info->name));
    if (!slot || slot->type() != TYPE_NATIVE || callable_entry(slot) != index) return;
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
            arg = refs ? refs[static_cast<u32>(word_index(e)) - 1] : -1;
        } else {
            break;
        }
    }
}

}  // namespace zan
