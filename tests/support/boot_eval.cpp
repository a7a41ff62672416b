#include "tests/support/boot_eval.h"

#include "boot/boot_util.h"
#include "boot/process.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/io/lexer/lexer.h"

namespace zan {

std::string boot_eval(const std::string& source, bool* error) {
    std::string out;
    bool failed = false;
    auto body = [&] {
        process_thread_alt_stack();
        ValueCell* top = g_stack.top;
        ValueCell* base = g_stack.base;
        CallFrame* ctop = g_stack.ctop;
        stack_mark_try_all(g_words.n.try_);
        try {
            ValueCell* code = none_push();
            lexer_transcode(code, reinterpret_cast<const u8*>(source.data()),
                            static_cast<u32>(source.size()), false, true, true, 0, nullptr,
                            nullptr, nullptr, nullptr);
            interp_eval_block(code, false);
            ValueCell v = *stack_top_value();
            out = boot_mold(&v);
        } catch (ThrowSignal& s) {
            failed = true;
            ValueCell v = *stack_top_value();
            g_throw_code = 0;
            if (s.code == THROW_ERROR) out = boot_error_text(v.type() == TYPE_ERROR ? &v : nullptr);
            else out = "*** throw code " + std::to_string(s.code);
        }
        g_stack.top = top;
        g_stack.base = base;
        g_stack.ctop = ctop;
    };
    interp_run_on_big_stack([&] { body(); });
    if (error) *error = failed;
    return out;
}

}  // namespace zan
