// Fixture for the lexer tests: a fresh runtime as start-up makes it, a capture of
// raised errors with their arguments, runs in each mode, and a structural
// rendering of loaded values (independent of the datatypes' mold) to
// compare them with expected texts.
#pragma once
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/runtime_start.h"
#include "common/stack_mark.h"
#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatypes.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/io/lexer/lexer.h"
#include "runtime/io/lexer/lexer_internal.h"

namespace zan::test {

struct RaisedError {
    Err id = Err::internal_not_done;
    std::vector<std::string> args;
};

inline RaisedError& last_error() {
    static RaisedError e;
    return e;
}

// ---- rendering values ----------------------------------------------------------------------

inline std::string render_float(double d) {
    if (std::isnan(d)) return "1.#NaN";
    if (std::isinf(d)) return d < 0 ? "-1.#INF" : "1.#INF";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d);
    std::string s(buf, res.ptr);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

// The code points of a text value from its index.
inline std::vector<u32> code_points(const ValueCell* s) {
    std::vector<u32> cps;
    SeriesBuffer* b = series_of(s);
    u32 unit = b->unit();
    for (u8* p = b->head_ptr() + s->data1 * unit; p < b->tail_ptr(); p += unit)
        cps.push_back(unicode_get_unit(p, unit));
    return cps;
}

inline std::string text_body(const ValueCell* s) {
    std::string out;
    for (u32 cp : code_points(s)) {
        if (cp >= 0x20 && cp < 0x7F && cp != '^') {
            out.push_back(static_cast<char>(cp));
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "^(%X)", cp);
            out += buf;
        }
    }
    return out;
}

// The raw UTF-8 text of a text value (for error arguments).
inline std::string utf8_of(const ValueCell* s) {
    ValueCell c = *s;
    i32 len = -1;
    char* p = unicode_to_utf8(&c, &len);
    return std::string(p, static_cast<size_t>(len));
}

inline std::string render(const ValueCell* v);

// Datatype names by id, registered or not.
inline const char* type_name(u32 id) {
    const char* n = type_name_of(id);
    return n ? n : "?";
}

inline std::string render_cells(const ValueCell* b, const char* sep) {
    std::string out;
    SeriesBuffer* buf = series_of(b);
    ValueCell* first = buf->head_cells() + b->data1;
    for (ValueCell* c = first; c < buf->tail_cells(); c++) {
        if (c != first) out += sep;
        if (c->new_line()) out += "~";
        out += render(c);
    }
    return out;
}

inline std::string render(const ValueCell* v) {
    switch (v->type()) {
        case TYPE_INTEGER: return std::to_string(integer_get(v));
        case TYPE_FLOAT: return render_float(v->get_float());
        case TYPE_PERCENT: return "pct(" + render_float(v->get_float()) + ")";
        case TYPE_TIME: return "time(" + render_float(v->get_float()) + ")";
        case TYPE_CHAR: {
            u32 cp = char_get(v);
            if (cp >= 0x20 && cp < 0x7F) return std::string("#\"") + static_cast<char>(cp) + "\"";
            char buf[24];
            std::snprintf(buf, sizeof buf, "#\"^(%X)\"", cp);
            return buf;
        }
        case TYPE_STRING: return "\"" + text_body(v) + "\"";
        case TYPE_FILE: return "%\"" + text_body(v) + "\"";
        case TYPE_URL: return "url\"" + text_body(v) + "\"";
        case TYPE_EMAIL: return "email\"" + text_body(v) + "\"";
        case TYPE_REF: return "@\"" + text_body(v) + "\"";
        case TYPE_TAG: return "<" + text_body(v) + ">";
        case TYPE_WORD: return symbol_to_cstr(v->data2);
        case TYPE_SET_WORD: return std::string(symbol_to_cstr(v->data2)) + ":";
        case TYPE_LIT_WORD: return std::string("'") + symbol_to_cstr(v->data2);
        case TYPE_GET_WORD: return std::string(":") + symbol_to_cstr(v->data2);
        case TYPE_REFINEMENT: return std::string("/") + symbol_to_cstr(v->data2);
        case TYPE_ISSUE: return std::string("#") + symbol_to_cstr(v->data2);
        case TYPE_BLOCK: return "[" + render_cells(v, " ") + "]";
        case TYPE_PAREN: return "(" + render_cells(v, " ") + ")";
        case TYPE_PATH: return render_cells(v, "/");
        case TYPE_LIT_PATH: return "'" + render_cells(v, "/");
        case TYPE_SET_PATH: return render_cells(v, "/") + ":";
        case TYPE_GET_PATH: return ":" + render_cells(v, "/");
        case TYPE_DATATYPE: return type_name(v->data1);
        case TYPE_LOGIC: return v->data1 ? "true" : "false";
        case TYPE_NONE: return "none";
        case TYPE_UNSET: return "unset";
        case TYPE_PAIR:
            return std::to_string(static_cast<i32>(v->data2)) + "x" +
                   std::to_string(static_cast<i32>(v->data3));
        default: {
            // Values with a layout of their own datatype: its mold.
            if (action_entry(v->type(), ACT_MOLD)) {
                ValueCell* held = stack_push(v);
                ValueCell* out = string_push_new(16);
                action_mold_dispatch(held, out, false, false, false, nullptr, FORM_NO_LIMIT, 0);
                std::string r = utf8_of(out);
                stack_pop(2);
                return r;
            }
            return "<type " + std::to_string(v->type()) + ">";
        }
    }
}

// Error arguments: texts as they are, datatypes and chars by name.
inline std::string render_arg(const ValueCell* v) {
    if (!v) return "";
    switch (v->type()) {
        case TYPE_STRING: return utf8_of(v);
        case TYPE_CHAR: return std::string(1, static_cast<char>(char_get(v)));
        default: return render(v);
    }
}

[[noreturn]] inline void capture_raiser(Err id, const ValueCell* a1, const ValueCell* a2,
                                         const ValueCell* a3) {
    RaisedError& e = last_error();
    e.id = id;
    e.args.clear();
    for (const ValueCell* a : {a1, a2, a3})
        if (a) e.args.push_back(render_arg(a));
    g_raw_error = id;
    raise_code(THROW_ERROR);
}

class LexerTest : public ::testing::Test {
protected:
    void SetUp() override {
        start_runtime();
        set_error_raiser(capture_raiser);
    }
    void TearDown() override {
        g_gc.enabled = false;
        set_collect_stress(false);
        EXPECT_EQ(g_lexer_runs, nullptr) << "a run was left linked";
    }

    // ---- runs --------------------------------------------------------------------------------

    // Loads a whole text; the result block's cell (kept on the data stack).
    static ValueCell* load_cell(const std::string& src, i32* consumed = nullptr,
                                ValueCell* into = nullptr, const ValueCell* callback = nullptr) {
        ValueCell* out = none_push();
        lexer_transcode(out, reinterpret_cast<const u8*>(src.data()), static_cast<u32>(src.size()),
                        false, true, true, 0, consumed, callback, nullptr, into);
        return out;
    }
    // The loaded values rendered, separated by spaces (no outer brackets).
    static std::string load(const std::string& src) {
        ValueCell* out = load_cell(src);
        std::string r = render_cells(out, " ");
        stack_pop(1);
        return r;
    }
    // Type of the first value in scan mode (34 for error!, 0 for none).
    static i32 scan_type(const std::string& src, i32* consumed = nullptr) {
        ValueCell out;
        return lexer_transcode(&out, reinterpret_cast<const u8*>(src.data()),
                               static_cast<u32>(src.size()), true, true, false, 0, consumed,
                               nullptr, nullptr, nullptr);
    }
    static i32 prescan_type(const std::string& src) {
        ValueCell out;
        return lexer_transcode(&out, reinterpret_cast<const u8*>(src.data()),
                               static_cast<u32>(src.size()), true, false, true, 0, nullptr,
                               nullptr, nullptr, nullptr);
    }

    // Runs f and answers the error it raised (a failure when none was).
    template <class F>
    static RaisedError error_of(F f) {
        u32 code = raised_code(f);
        if (code == 0) {
            ADD_FAILURE() << "no error was raised";
            return RaisedError{};
        }
        EXPECT_EQ(code, THROW_ERROR);
        return last_error();
    }
    static RaisedError load_error(const std::string& src) {
        return error_of([&] { load_cell(src); });
    }

    static const char* name_of(i32 type) { return type > 0 ? type_name(static_cast<u32>(type)) : "none"; }
};

}  // namespace zan::test
