#include "boot/boot_util.h"

#include <fstream>
#include <sstream>

#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {
std::string text_of(const ValueCell* value, bool form) {
    ValueCell* mark = g_stack.top;
    ValueCell* held = stack_push(value);
    ValueCell* out = string_push_new(64);
    if (form) action_form_dispatch(held, out, nullptr, FORM_NO_LIMIT);
    else action_mold_dispatch(held, out, false, false, false, nullptr, FORM_NO_LIMIT, 0);
    i32 len = -1;
    char* p = unicode_to_utf8(out, &len);
    std::string s(p, static_cast<size_t>(len));
    g_stack.top = mark;
    return s;
}
}  // namespace

std::string boot_form(const ValueCell* value) { return text_of(value, true); }
std::string boot_mold(const ValueCell* value) { return text_of(value, false); }

bool boot_read_file(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    *out = ss.str();
    return true;
}

std::string boot_error_text(const ValueCell* error) {
    if (error && error->type() == TYPE_ERROR) return boot_form(error);
    return std::string("*** ") + err_category_name(err_category(g_raw_error)) + " error: " +
           err_id_name(g_raw_error);
}

bool boot_guarded(void (*fn)(void*), void* arg, std::string* error) {
    ValueCell* top = g_stack.top;
    ValueCell* base = g_stack.base;
    CallFrame* ctop = g_stack.ctop;
    stack_mark_try(g_words.n.try_);
    try {
        fn(arg);
    } catch (ThrowSignal& s) {
        ValueCell raised = *stack_top_value();
        bool is_error = s.code == THROW_ERROR && raised.type() == TYPE_ERROR;
        if (error) {
            if (s.code == THROW_ERROR) *error = boot_error_text(is_error ? &raised : nullptr);
            else *error = "uncaught throw code " + std::to_string(s.code);
        }
        g_throw_code = 0;
        g_stack.top = top;
        g_stack.base = base;
        g_stack.ctop = ctop;
        return false;
    }
    g_stack.top = top;
    g_stack.base = base;
    g_stack.ctop = ctop;
    return true;
}

}  // namespace zan
