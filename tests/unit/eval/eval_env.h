// Evaluating source text before the boot image and the console exist: a
// fresh runtime with a small global environment (datatype words, the
// typesets, the 107 natives, the actions, the operators and the logic
// words), then eval("1 + 2 * 3") gives "9": the molded result, or the
// formed error ("*** Script Error: ..." lines) when one was raised.
//
// Header-only and free of the test framework, so that benchmarks and other
// test folders can use it (tests include "eval/eval_helper.h").
// Evaluation runs on the interpreter's big-stack thread, under a try/all
// frame like the console's.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/layout.h"
#include "runtime/terminal/print_hooks.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/typesystem/bootstrap.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/native.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/io/lexer/lexer.h"

namespace zan::evaltest {

// ---- building the environment -----------------------------------------------------------------

// The values of a source text as a block!, pushed on the data stack.
inline ValueCell* load_block(const std::string& src) {
    ValueCell* out = none_push();
    lexer_transcode(out, reinterpret_cast<const u8*>(src.data()), static_cast<u32>(src.size()),
                    false, true, true, 0, nullptr, nullptr, nullptr, nullptr);
    return out;
}

inline void define_word(const char* name, const ValueCell* value) {
    ValueCell v = *value;
    ValueCell w = *word_load(name);
    context_set(&w, &v);
}

inline void define_typeset(const char* name, std::initializer_list<u32> types,
                           std::initializer_list<const char*> unions = {}) {
    ValueCell ts;
    typeset_make_at(&ts, 0, 0, 0);
    for (u32 t : types) typeset_add_type(&ts, t);
    for (const char* u : unions) {
        ValueCell* other = global_value_ptr(symbol_make(u));
        ts.data1 |= other->data1;
        ts.data2 |= other->data2;
        ts.data3 |= other->data3;
    }
    define_word(name, &ts);
}

// The 62 actions as their action! values declare them (eval-path, set-path
// and compare have no word).
struct ActionSpec {
    u32 number;
    const char* name;
    const char* spec;
};
inline const std::vector<ActionSpec>& action_specs() {
    static const std::vector<ActionSpec> specs = {
        {ACT_MAKE, "make", "[type [any-type!] spec [any-type!]]"},
        {ACT_RANDOM, "random", "[value /seed /secure /only]"},
        {ACT_REFLECT, "reflect", "[value field [word!]]"},
        {ACT_TO, "to", "[type [any-type!] spec [any-type!]]"},
        {ACT_FORM, "form", "[value [any-type!] /part limit [integer!]]"},
        {ACT_MOLD, "mold", "[value [any-type!] /only /all /flat /part limit [integer!]]"},
        {ACT_ABSOLUTE, "absolute", "[value]"},
        {ACT_ADD, "add", "[value1 [scalar! vector!] value2 [scalar! vector!]]"},
        {ACT_DIVIDE, "divide", "[value1 [scalar! vector!] value2 [scalar! vector!]]"},
        {ACT_MULTIPLY, "multiply", "[value1 [scalar! vector!] value2 [scalar! vector!]]"},
        {ACT_NEGATE, "negate", "[number]"},
        {ACT_POWER, "power", "[number exponent]"},
        {ACT_REMAINDER, "remainder", "[value1 value2]"},
        {ACT_ROUND, "round",
         "[n /to scale /even /down /half-down /floor /ceiling /half-ceiling]"},
        {ACT_SUBTRACT, "subtract", "[value1 [scalar! vector!] value2 [scalar! vector!]]"},
        {ACT_EVEN_Q, "even?", "[number]"},
        {ACT_ODD_Q, "odd?", "[number]"},
        {ACT_AND_T, "and~", "[value1 value2]"},
        {ACT_COMPLEMENT, "complement", "[value]"},
        {ACT_OR_T, "or~", "[value1 value2]"},
        {ACT_XOR_T, "xor~", "[value1 value2]"},
        {ACT_APPEND, "append",
         "[series [series!] value [any-type!] /part length /only /dup count]"},
        {ACT_AT, "at", "[series index]"},
        {ACT_BACK, "back", "[series]"},
        {ACT_CHANGE, "change", "[series value [any-type!] /part range /only /dup count]"},
        {ACT_CLEAR, "clear", "[series]"},
        {ACT_COPY, "copy", "[value /part length /deep /types kind]"},
        {ACT_FIND, "find",
         "[series value [any-type!] /part length /only /case /same /any /with wild /skip "
         "size /last /reverse /tail /match]"},
        {ACT_HEAD, "head", "[series]"},
        {ACT_HEAD_Q, "head?", "[series]"},
        {ACT_INDEX_Q, "index?", "[series]"},
        {ACT_INSERT, "insert", "[series value [any-type!] /part length /only /dup count]"},
        {ACT_LENGTH_Q, "length?", "[series]"},
        {ACT_MOVE, "move", "[origin target /part length]"},
        {ACT_NEXT, "next", "[series]"},
        {ACT_PICK, "pick", "[series index]"},
        {ACT_POKE, "poke", "[series index value [any-type!]]"},
        {ACT_PUT, "put", "[series key value /case]"},
        {ACT_REMOVE, "remove", "[series /part length /key key-arg]"},
        {ACT_REVERSE, "reverse", "[series /part length /skip size]"},
        {ACT_SELECT, "select",
         "[series value [any-type!] /part length /only /case /same /any /with wild /skip "
         "size /last /reverse]"},
        {ACT_SORT, "sort",
         "[series /case /skip size /compare comparator /part length /all /reverse /stable]"},
        {ACT_SKIP, "skip", "[series offset]"},
        {ACT_SWAP, "swap", "[series1 series2]"},
        {ACT_TAIL, "tail", "[series]"},
        {ACT_TAIL_Q, "tail?", "[series]"},
        {ACT_TAKE, "take", "[series /part length /deep /last]"},
        {ACT_TRIM, "trim", "[series /head /tail /auto /lines /all /with str]"},
        {ACT_CREATE, "create", "[port]"},
        {ACT_CLOSE, "close", "[port]"},
        {ACT_DELETE, "delete", "[file]"},
        {ACT_MODIFY, "modify", "[target field value /case]"},
        {ACT_OPEN, "open", "[port /new /read /write /seek /allow access]"},
        {ACT_OPEN_Q, "open?", "[port]"},
        {ACT_QUERY, "query", "[target]"},
        {ACT_READ, "read", "[source /part length /seek index /binary /lines /info /as encoding]"},
        {ACT_RENAME, "rename", "[from to]"},
        {ACT_UPDATE, "update", "[port]"},
        {ACT_WRITE, "write",
         "[destination data /binary /lines /info /append /part length /seek index /allow "
         "access /as encoding]"},
    };
    return specs;
}

// Makes a native! or action! from its spec text and index.
inline void define_builtin(const char* name, const char* spec, u32 index, u32 type) {
    ValueCell* mark = g_stack.top;
    ValueCell* holder = block_push_new(2);
    ValueCell* specb = load_block(spec);
    ValueCell inner = *block_head_ptr(specb);
    block_append_cell(holder, &inner);
    ValueCell n;
    cell_init(&n, TYPE_INTEGER, 0, index, 0);
    block_append_cell(holder, &n);
    ValueCell h = *holder;
    ValueCell proto;
    datatype_box(&proto, type);
    ValueCell* made = type == TYPE_NATIVE ? native_make(&proto, &h, type)
                                          : action_value_make(&proto, &h, type);
    define_word(name, made);
    g_stack.top = mark;
}

inline void define_op(const char* name, const char* of) {
    ValueCell* mark = g_stack.top;
    ValueCell fn = *global_value_ptr(symbol_make(of));
    ValueCell proto;
    datatype_box(&proto, TYPE_OP);
    ValueCell* op = op_make(&proto, &fn, TYPE_OP);
    define_word(name, op);
    g_stack.top = mark;
}

// A fresh runtime with the environment; the collector is on (and in
// stress mode when ZAN_GC_STRESS is set).
inline void env_init() {
    runtime_bootstrap_for_tests();
    lexer_init();
    natives_init();
    interp_init();
    // Every datatype word, also of the types whose datatype is not built.
    for (u32 t = 1; t <= TYPE_LAST; t++) {
        if (t == TYPE_SERIES) continue;  // series! is the typeset below
        ValueCell dt;
        datatype_box(&dt, t);
        define_word(type_name_of(t), &dt);
    }
    define_typeset("internal!", {TYPE_UNSET});
    define_typeset("external!", {TYPE_EVENT});
    define_typeset("number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    define_typeset("planar!", {TYPE_PAIR, TYPE_POINT2D});
    define_typeset("any-point!", {TYPE_POINT2D, TYPE_POINT3D});
    define_typeset("scalar!",
                   {TYPE_MONEY, TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME, TYPE_DATE},
                   {"number!", "any-point!"});
    define_typeset("any-word!", {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD});
    define_typeset("all-word!", {TYPE_REFINEMENT, TYPE_ISSUE}, {"any-word!"});
    define_typeset("any-list!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
    define_typeset("any-path!", {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
    define_typeset("any-block!", {}, {"any-path!", "any-list!"});
    define_typeset("any-function!",
                   {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE});
    define_typeset("any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT});
    define_typeset("any-string!",
                   {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF});
    define_typeset("series!", {TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR},
                   {"any-block!", "any-string!"});
    define_typeset("immediate!",
                   {TYPE_NONE, TYPE_LOGIC, TYPE_DATATYPE, TYPE_TYPESET, TYPE_HANDLE, TYPE_DATE},
                   {"scalar!", "all-word!"});
    define_typeset("default!", {TYPE_MAP, TYPE_BITSET},
                   {"series!", "immediate!", "any-object!", "external!", "any-function!"});
    define_typeset("any-type!", {}, {"default!", "internal!"});

    ValueCell v;
    define_word("none", none_box(&v));
    define_word("true", logic_box(&v, true));
    define_word("yes", logic_box(&v, true));
    define_word("on", logic_box(&v, true));
    define_word("false", logic_box(&v, false));
    define_word("no", logic_box(&v, false));
    define_word("off", logic_box(&v, false));

    for (u32 i = 1; i <= NATIVES_COUNT; i++) {
        const NativeInfo* ni = native_info(i);
        define_builtin(ni->name, ni->spec, i, TYPE_NATIVE);
    }
    for (const ActionSpec& a : action_specs())
        define_builtin(a.name, a.spec, a.number, TYPE_ACTION);
    static const char* const ops[][2] = {
        {"+", "add"},        {"-", "subtract"},       {"*", "multiply"},
        {"/", "divide"},     {"%", "remainder"},      {"**", "power"},
        {"=", "equal?"},     {"<>", "not-equal?"},    {"==", "strict-equal?"},
        {"=?", "same?"},     {"<", "lesser?"},        {">", "greater?"},
        {"<=", "lesser-or-equal?"}, {">=", "greater-or-equal?"},
        {"and", "and~"},     {"or", "or~"},           {"xor", "xor~"},
    };
    for (auto& o : ops) define_op(o[0], o[1]);
    g_gc.enabled = true;
    if (const char* s = std::getenv("ZAN_GC_STRESS"); s && *s == '1') set_collect_stress(true);
}

// ---- evaluating ---------------------------------------------------------------------------------

// The UTF-8 text of a string cell.
inline std::string utf8_text(ValueCell* str) {
    i32 len = -1;
    char* p = unicode_to_utf8(str, &len);
    return std::string(p, static_cast<size_t>(len));
}

inline std::string mold_text(const ValueCell* value, bool form) {
    ValueCell* mark = g_stack.top;
    ValueCell* held = stack_push(value);
    ValueCell* out = string_push_new(64);
    if (form) action_form_dispatch(held, out, nullptr, FORM_NO_LIMIT);
    else action_mold_dispatch(held, out, false, false, false, nullptr, FORM_NO_LIMIT, 0);
    std::string s = utf8_text(out);
    g_stack.top = mark;
    return s;
}

struct EvalOutcome {
    bool error = false;
    std::string text;     // the molded value, or the formed error
    std::string id;       // "category/id" of an error
};

// Evaluates on the current thread (the caller runs it on the big stack).
inline EvalOutcome eval_here(const std::string& src) {
    EvalOutcome r;
    g_throw_code = 0;
    g_stack.top = g_stack.base = g_stack.bottom;
    g_stack.ctop = g_stack.cbottom;
    stack_mark_try_all(g_words.n.try_);
    try {
        ValueCell blk = *load_block(src);
        interp_eval_block(&blk, false);
        ValueCell v = *stack_top_value();
        r.text = mold_text(&v, false);
    } catch (ThrowSignal& s) {
        ValueCell v = *stack_top_value();
        r.error = true;
        if (s.code == THROW_ERROR && v.type() == TYPE_ERROR) {
            r.text = mold_text(&v, true);
            u32 t = error_get_type(&v), id = error_get_id(&v);
            r.id = std::string(t ? symbol_to_cstr(t) : "?") + "/" + (id ? symbol_to_cstr(id) : "?");
        } else {
            r.text = "*** throw code " + std::to_string(s.code);
            r.id = "?";
        }
    }
    g_throw_code = 0;
    g_stack.top = g_stack.base = g_stack.bottom;
    g_stack.ctop = g_stack.cbottom;
    return r;
}

inline EvalOutcome eval_outcome(const std::string& src) {
    EvalOutcome r;
    interp_run_on_big_stack([&] { r = eval_here(src); });
    return r;
}

// The molded result, or the formed error.
inline std::string eval(const std::string& src) { return eval_outcome(src).text; }

// "category/id" of the error raised, or "" when none was.
inline std::string eval_error_id(const std::string& src) {
    EvalOutcome r = eval_outcome(src);
    return r.error ? r.id : "";
}

// The first line of the formed error ("*** Script Error: ..."), or the
// molded value when no error was raised.
inline std::string eval_error_line(const std::string& src) {
    EvalOutcome r = eval_outcome(src);
    return r.text.substr(0, r.text.find('\n'));
}

}  // namespace zan::evaltest
