// Evaluating source text in a fresh environment started as `zan` starts
// it: eval("1 + 2 * 3") gives "9": the molded result, or the formed error
// ("*** Script Error: ..." lines) when one was raised.
//
// Header-only and free of the test framework, so that benchmarks and other
// test folders can use it (tests include "eval/eval_helper.h").
// Evaluation runs on the interpreter's big-stack thread, under a try/all
// frame like the console's.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/unit/common/runtime_start.h"
#include "runtime/core/collector.h"
#include "runtime/core/layout.h"
#include "runtime/terminal/print_hooks.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
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

// A fresh environment as `zan` starts it (boot image, modules, seal); the
// collector is on (and in stress mode when ZAN_GC_STRESS=1).
inline void env_init() { test::start_environment(); }

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

// The formed error without its "*** Stack:" line, which reports the call
// stack of the moment (system/state/stack-trace) rather than the error.
inline std::string without_stack_line(const std::string& text) {
    size_t at = text.find("\n*** Stack:");
    return at == std::string::npos ? text : text.substr(0, at);
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
            r.text = without_stack_line(mold_text(&v, true));
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
