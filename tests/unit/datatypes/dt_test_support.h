// Shared fixture and helpers for the datatype tests: a fresh runtime per
// test, value builders, text of values, action calls through the argument
// frame as the evaluator makes them, and error capture.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/runtime_start.h"
#include "common/stack_mark.h"
#include "runtime/core/collector.h"
#include "runtime/core/cycles.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/datatypes.h"
#include "runtime/datatypes/dt_util.h"

namespace zan::test {

class DtTest : public ::testing::Test {
protected:
    // ZAN_GC_STRESS=1 runs every datatype test with the collector on,
    // collecting before each allocation (start-up switches it on).
    void SetUp() override { start_runtime(); }
    void TearDown() override {
        g_gc.enabled = false;
        set_collect_stress(false);
    }

    // ---- building values (all kept on the data stack) ----------------------------
    static ValueCell* str(const std::string& utf8) {
        return string_load_push(utf8.data(), static_cast<u32>(utf8.size()), 0);
    }
    static ValueCell word(const char* name, u32 type = TYPE_WORD) {
        ValueCell w;
        word_make_at(symbol_make(name), &w);
        cell_set_type(&w, type);
        return w;
    }
    static ValueCell integer(i32 v) {
        ValueCell c;
        dt::int_box(&c, v);
        return c;
    }
    static ValueCell chr(u32 cp) {
        ValueCell c;
        dt::char_box(&c, cp);
        return c;
    }
    // A block of the given cells; nl lists the positions that carry the
    // new-line marker.
    static ValueCell* blk(std::initializer_list<ValueCell> cells,
                          std::initializer_list<int> nl = {}, u32 type = TYPE_BLOCK) {
        ValueCell* b = block_push_new(static_cast<u32>(cells.size()));
        int i = 0;
        for (const ValueCell& c : cells) {
            ValueCell v = c;
            for (int k : nl)
                if (k == i) v.header |= CELL_NEW_LINE;
            block_append_cell(b, &v);
            i++;
        }
        cell_set_type(b, type);
        return b;
    }
    static bool have(u32 type, u32 action) { return action_entry(type, action) != nullptr; }

    // ---- text of values ---------------------------------------------------------------
    static std::string text(const ValueCell* s) {
        ValueCell c = *s;
        i32 len = -1;
        char* p = unicode_to_utf8(&c, &len);
        return std::string(p, static_cast<size_t>(len));
    }
    static std::string mold(const ValueCell& v, bool only = false, bool all = false,
                            bool flat = false) {
        ValueCell* held = stack_push(&v);
        ValueCell* out = string_push_new(16);
        action_mold_dispatch(held, out, only, all, flat, nullptr, FORM_NO_LIMIT, 0);
        std::string r = text(out);
        stack_pop(2);
        return r;
    }
    static std::string form(const ValueCell& v) {
        ValueCell* held = stack_push(&v);
        ValueCell* out = string_push_new(16);
        action_form_dispatch(held, out, nullptr, FORM_NO_LIMIT);
        std::string r = text(out);
        stack_pop(2);
        return r;
    }

    // ---- calls through the argument frame ------------------------------------------------
    // Marks a native frame, pushes the arguments, runs the entry and unwinds;
    // the result cell comes back (and stays pushed).
    template <class F>
    static ValueCell call(std::initializer_list<ValueCell> args, F entry) {
        stack_mark_native(g_words.n.body);
        for (const ValueCell& a : args) stack_push(&a);
        entry();
        ValueCell r = *stack_result();
        stack_unwind();
        // The result stays on the data stack, where the collector sees it.
        return r;
    }

    // ---- errors ---------------------------------------------------------------------------------
    // Runs f under a try frame and answers the id of the error it raised
    // (or fails the test when none was raised).
    template <class F>
    static Err error_of(F f) {
        StackMark mark;
        stack_mark_try(nullptr);
        try {
            f();
        } catch (const ThrowSignal& s) {
            mark.restore();
            cycles_reset();
            if (s.code != THROW_ERROR) {
                ADD_FAILURE() << "a throw that is not an error: " << s.code;
                return Err::internal_not_done;
            }
            return g_raw_error;
        }
        mark.restore();
        ADD_FAILURE() << "no error was raised";
        return Err::internal_not_done;
    }
};

}  // namespace zan::test
